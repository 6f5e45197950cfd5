/* Architecture memory: the region, its allocator, layout and translation. */
#ifndef CAMLIB_IMG_DSP_IK_ARCH_H
#define CAMLIB_IMG_DSP_IK_ARCH_H

#include "img_dsp.h"

#include <stdint.h>

#define IK_MAX_CTX 64u
#define IK_MAX_CFG 64u
#define IK_INVALID_PTR ((void *)(uintptr_t)0xFFFFFFFFu)

uint32_t img_dsp_core_utility_get_arch_mem_size(const img_dsp_arch_info *arch);
void img_dsp_core_utility_set_mem_addr(uint64_t user_base, uint64_t phys_base, uint32_t size);
int img_dsp_core_utility_mem_get(uint32_t size, void **out);
uint32_t img_dsp_core_get_phys_addr(const void *addr, uint64_t user_base, uint64_t phys_base);
void *img_dsp_core_get_user_addr(uint64_t phys, uint64_t user_base, uint64_t phys_base);
int img_dsp_core_init_arch(const img_dsp_arch_info *arch);
int img_dsp_core_deinit_arch(void);
int img_dsp_core_utility_get_def_tbl(void **out);
int img_dsp_core_utility_get_context_tbl_idx(uint32_t batch_id, const img_dsp_ctx_id *ctx, uint32_t *out);
int img_dsp_core_utility_get_pipe_info(uint32_t pipe, img_dsp_pipe_info *out);
uint8_t img_dsp_core_utility_get_init_mode(void);

/* The translation record, as {user base, physical base}. */
typedef struct ik_mem_bases {
	uint64_t user;
	uint64_t phys;
} ik_mem_bases;
ik_mem_bases ik_mem_get_bases(void);
/* Shorthands over the translation record. */
uint32_t ik_phys(const void *user_addr);
void *ik_user(uint64_t phys);

/* The user address of `size` bytes at `addr` (physical or user), or NULL
 * unless all of them lie in the region: addresses read from configurations
 * and files are followed only through here. */
uint8_t *ik_region_span(uint64_t addr, uint32_t size);

/* Walks a DSP command queue of at most `slots` 128-byte slots at a physical
 * or user address, visiting each slot up to and including the end command;
 * a visitor that answers non-zero stops the walk. An address of 0 is an
 * empty queue; a queue that does not lie wholly in the region is refused
 * with an error in the caller's name and -1. */
typedef int (*ik_cmd_visit_fn)(uint32_t *cmd, unsigned index, void *arg);
int ik_walk_cmd_queue(const char *caller, uint32_t addr, unsigned slots, ik_cmd_visit_fn visit, void *arg);

/* What the layout recorded; the lookups of contexts and configurations use it. */
typedef struct ik_pipe_layout {
	uint32_t ctx_num;
	void *ctx[IK_MAX_CTX];
	uint32_t cfg_num;
	void *cfg[IK_MAX_CFG];
	void *cfg_tbl[IK_MAX_CFG];
	uint32_t hdr_num;
	void *hdr[IK_MAX_CFG];
	void *hdr_tbl[IK_MAX_CFG];
} ik_pipe_layout;

int ik_mem_initialised(void);
uint64_t ik_mem_base(void);
uint32_t ik_mem_size(void);
const ik_pipe_layout *ik_pipe(uint32_t pipe);

/* The video context's buffer-block index for a batch (always block 0). */
uint32_t ik_ctx_tbl_index(const void *video_ctx, uint32_t value);

#endif

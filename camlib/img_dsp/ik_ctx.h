/* Contexts and configurations: lookups and operations. */
#ifndef CAMLIB_IMG_DSP_IK_CTX_H
#define CAMLIB_IMG_DSP_IK_CTX_H

#include "ik_context.h"
#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

int img_dsp_core_utility_get_context(const img_dsp_ctx_id *ctx, void **out);
int img_dsp_core_utility_get_context_mutex(const img_dsp_ctx_id *ctx, void **out);
int img_dsp_core_utility_get_config(const img_dsp_cfg_id *cfg, void **out);
int img_dsp_core_utility_get_config_tbl(const img_dsp_cfg_id *cfg, void **out);
int img_dsp_core_utility_get_prev_config(const img_dsp_cfg_id *cfg, void **out);
int img_dsp_core_utility_get_hdr_config(const img_dsp_cfg_id *cfg, void **out);
int img_dsp_core_utility_get_hdr_config_tbl(const img_dsp_cfg_id *cfg, void **out);
int img_dsp_core_utility_get_active_iso_config_id(const img_dsp_ctx_id *ctx, uint8_t *out);
int img_dsp_core_utility_get_active_hdr_config_id(const img_dsp_ctx_id *ctx, uint8_t *out);
int img_dsp_core_utility_get_config_tbl_status(const img_dsp_mode *mode, uint8_t **out, uint32_t *count);
int img_dsp_core_utility_get_hdr_config_tbl_status(const img_dsp_mode *mode, uint8_t **out, uint32_t *count);
int img_dsp_core_utility_mem_differs(const void *a, const void *b, size_t n);
void img_dsp_core_utility_step_index(uint8_t advance, uint8_t *index, uint8_t first, uint8_t count);

int img_dsp_core_init_ctx(uint8_t defblc_enable, const img_dsp_ctx_id *ctx, const img_dsp_ctx_id *src);
int img_dsp_core_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode);
int img_dsp_core_clone_iso_cfg(const img_dsp_cfg_id *dst, const img_dsp_cfg_id *src);
int img_dsp_core_pre_exe_cfg(const img_dsp_mode *mode);
int img_dsp_core_post_exe_cfg(const img_dsp_mode *mode);
int img_dsp_core_get_cfg_status(const img_dsp_cfg_id *cfg, img_dsp_cfg_status *out);
int img_dsp_core_utility_set_iso_cfg_tag(const img_dsp_mode *mode, uint32_t tag);
int img_dsp_core_utility_get_iso_cfg_tag(const img_dsp_mode *mode, uint32_t *out);
int img_dsp_core_utility_set_diag_case_id(const img_dsp_mode *mode, uint8_t id);
int img_dsp_core_utility_get_diag_case_id(const img_dsp_mode *mode, uint8_t *out);
int img_dsp_core_set_size_info(const img_dsp_mode *mode, const img_dsp_size_info *info);
int img_dsp_core_hdr_update_cfg_history(const img_dsp_mode *mode);

/* The configuration a post-execute of `algo_mode` works on: it must exist,
 * be in state INIT, PREEXE or POSTEXE and have that AlgoMode. Refusals are
 * reported in the caller's name, as errors or as warnings; NULL with *rc
 * set. */
img_dsp_iso_cfg *ik_post_exe_config(const char *caller, const img_dsp_mode *mode, uint32_t algo_mode,
                                    bool as_error, int *rc);

/* Pipes whose contexts hold filter blocks. */
static inline bool ik_video_or_still(uint32_t pipe)
{
	return pipe == IMG_DSP_PIPE_VIDEO || pipe == IMG_DSP_PIPE_STILL;
}

/* Wordings of a failed context lookup: most entry points say "context",
 * some older ones "contex", and the logs are matched on either. */
#define IK_NO_CTX_MUTEX "Cannot get context mutex\n"
#define IK_NO_CONTEX_MUTEX "Cannot get contex mutex\n"

/* The context a mode names, for a caller that will take its lock; a failed
 * lookup is warned about in the caller's name with the given wording. */
int ik_mode_ctx_mutex(const char *caller, const img_dsp_mode *mode, const char *failure, void **ctx);
/* The same, locked, for the entry points that serve only video and still
 * contexts: any other pipe is refused with the lock given back. NULL with
 * *rc set when there is nothing to work on. */
void *ik_mode_lock_video_or_still(const char *caller, const img_dsp_mode *mode, const char *failure, int *rc);

/* The filter and section part of a video or still context; NULL otherwise. */
ik_ctx_body *ik_body(uint32_t pipe, void *ctx);
/* The user address of a context table of the pipe, for the first buffer block. */
uint8_t *ik_ctx_table(uint32_t pipe, void *ctx, uint32_t video_offset, uint32_t still_offset);
/* The start of the context's FPN map: the first 32-byte boundary of its area. */
uint8_t *ik_fpn_map(ik_ctx_body *body);

#endif

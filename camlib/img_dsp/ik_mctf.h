/*
 * The temporal noise filter inside the library: the checks and process steps
 * of its settings, the packer of the DSP's video-MCTF table and the motion
 * detector's geometry and tables.
 */
#ifndef CAMLIB_IMG_DSP_IK_MCTF_H
#define CAMLIB_IMG_DSP_IK_MCTF_H

#include "img_dsp.h"
#include "img_dsp_mctf.h"

#include <stddef.h>
#include <stdint.h>

struct ik_filter_blocks;

/* ---- settings (ik_mctf.cpp, ik_cliso.cpp) ---- */

#define IK_BLK_OFFSET(field) (offsetof(ik_ctx_body, blk) + offsetof(ik_filter_blocks, field))
#define IK_MCTF_NO_PIPE "does not support pipe"

/* A field above `hi` is warned about ("<field> = v should be within
 * [lo:hi] in <in>") and set to `hi`; 0x10000000 then, else 0. */
int ik_mctf_clamp_field(const char *fn, const char *in, const char *field, int32_t *v, int32_t lo,
                        int32_t hi);
template <typename T>
static inline int ik_mctf_clamp(const char *fn, const char *in, const char *field, T *v, int32_t lo,
                                int32_t hi)
{
	int32_t w = (int32_t)*v;
	int rc = ik_mctf_clamp_field(fn, in, field, &w, lo, hi);
	*v = (T)w;
	return rc;
}
/* The four curve limits t0 to t3 of record `name`, each at most 63. */
int ik_mctf_check_limits(const char *fn, const char *name, uint8_t t[4], const char *in);
void ik_mctf_print_level(const char *name, const img_dsp_mctf_level *level);
/* The video context's body for a process step; other pipes are refused
 * with "<refusal> <pipe>" in the step's name. */
struct ik_ctx_body *ik_mctf_video_body(const char *caller, const img_dsp_mode *mode, const char *refusal);
/* Stores a checked block at `offset` of the filter blocks and sets `flag`. */
int ik_mctf_store(const char *caller, const img_dsp_mode *mode, size_t offset, const void *block, size_t size,
                  unsigned flag, const char *refusal);

int img_dsp_core_check_set_video_mctf_level(const char *name, img_dsp_mctf_level *level);
int img_dsp_core_check_set_video_mctf_curve(const char *name, img_dsp_mctf_curve *curve);
int img_dsp_core_check_set_cliso_video_mctf_level(const char *step, const char *name,
                                                  img_dsp_mctf_level *level);

int img_dsp_core_check_set_video_mctf(const img_dsp_mode *mode, img_dsp_video_mctf *block);
int img_dsp_core_process_video_mctf(const img_dsp_mode *mode, const img_dsp_video_mctf *block);
int img_dsp_core_check_set_internal_video_mctf(const img_dsp_mode *mode, img_dsp_internal_video_mctf *block);
int img_dsp_core_process_internal_video_mctf(const img_dsp_mode *mode,
                                             const img_dsp_internal_video_mctf *block);
int img_dsp_core_check_set_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                      img_dsp_video_mctf_temporal_adjust *block);
int img_dsp_core_process_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                    const img_dsp_video_mctf_temporal_adjust *block);
int img_dsp_core_check_set_video_mctf_temporal_adjust_y(const img_dsp_mode *mode,
                                                        img_dsp_video_mctf_temporal_adjust_y *block);
int img_dsp_core_check_set_video_mctf_temporal_adjust_cb(const img_dsp_mode *mode,
                                                         img_dsp_video_mctf_temporal_adjust_cb *block);
int img_dsp_core_check_set_video_mctf_temporal_adjust_cr(const img_dsp_mode *mode,
                                                         img_dsp_video_mctf_temporal_adjust_cr *block);

int img_dsp_core_check_set_motion_detect(const img_dsp_mode *mode, img_dsp_motion_detect *block);
int img_dsp_core_process_internal_motion_detect(const img_dsp_mode *mode,
                                                img_dsp_internal_motion_detect *block);
int img_dsp_core_check_set_video_mctf_b(const img_dsp_mode *mode, img_dsp_video_mctf_b *block);
int img_dsp_core_check_set_video_mctf_b_level(const img_dsp_mode *mode, img_dsp_video_mctf_b_level *block);
int img_dsp_core_process_internal_video_mctf_fast_start(const img_dsp_mode *mode, const uint8_t *fast_start);
int img_dsp_core_process_internal_video_high_perf_mode(const img_dsp_mode *mode, const uint8_t *enable);

/* What the builder keeps beside the motion-detection block: the internal
 * block, then the fast-start and high-performance switches. */
enum ik_internal_motion_byte {
	IK_IMD_SLOW_MO_SENSITIVITY2 = 0,
	IK_IMD_PURE_MAX = 1,
	IK_IMD_FAST_START = 2,
	IK_IMD_HIGH_PERFORMANCE = 3,
};

/* ---- table packing (ik_mctf_pack.cpp) ---- */

#define IK_MCTF_REMAP_ENTRIES 256

/* Everything one packing reads; the builder fills it for each call. */
typedef struct img_dsp_mctf_pack_record {
	uint32_t *prev_brightness; /* the context's word, 0 before the first packing */
	const img_dsp_wb_gain *wb_gain;
	const img_dsp_video_mctf *video_mctf;
	const img_dsp_internal_video_mctf *internal_video_mctf;
	const img_dsp_video_mctf_temporal_adjust *temporal_adjust;
	const img_dsp_video_mctf_temporal_adjust_y *temporal_adjust_y;
	const img_dsp_video_mctf_temporal_adjust_cb *temporal_adjust_cb;
	const img_dsp_video_mctf_temporal_adjust_cr *temporal_adjust_cr;
	const uint8_t *cc_table; /* the context's 17536-byte colour-correction copy */
	const img_dsp_tone_curve *tone_curve;
	uint32_t advanced_layout;
	uint32_t mctf_b;
	uint32_t run_count;
	uint32_t alpha_ref;
	uint8_t fast_start;
	/* The context's inverse of the reference remap, kept when a packing
	 * cannot rebuild it (a curve that is not monotonic). */
	int32_t *remap_inverse;
} img_dsp_mctf_pack_record;

typedef struct img_dsp_mctf_table_pair {
	uint8_t *mctf;          /* 10064 bytes */
	uint8_t *final_sharpen; /* 12752 bytes */
} img_dsp_mctf_table_pair;

int img_dsp_core_pack_video_mctf_table(const img_dsp_mctf_pack_record *rec,
                                       const img_dsp_mctf_table_pair *tables);
/* Writes `width` bits of v at bit `shift` of the little-endian word of
 * `bytes` bytes at p, keeping the other bits. */
void ik_put_bits(uint8_t *p, unsigned bytes, unsigned shift, unsigned width, uint64_t v);
void convert_shpbc_fir_hw_config_one_dir(uint8_t *area, int fir, int dir, uint32_t shift, const int32_t *k);
int32_t img_dsp_core_clamp(int32_t v, int32_t lo, int32_t hi);
void img_dsp_core_mctf_alpha_block(uint8_t *block, const uint8_t p[5]);
void img_dsp_core_mctf_alpha_block_pair(uint8_t *block, const uint8_t p[10]);

/* The 364-byte block the MCTF-B table is packed from: the video-MCTF block
 * with its luma settings taken from the MCTF-B and MCTF-B level blocks. */
void ik_mctf_b_input(const ik_filter_blocks *blk, img_dsp_video_mctf *out);

/* Packs one table pair from a context's blocks: the video-MCTF table with
 * its final-sharpen table, or (mctf_b) the MCTF-B table with the second
 * final-sharpen table. A missing table packs nothing. */
int ik_mctf_pack_context(ik_filter_blocks *blk, bool advanced, bool mctf_b, uint8_t *mctf,
                         uint8_t *final_sharpen);

/* ---- motion detection (ik_motion.cpp) ---- */

void img_dsp_core_calc_motion_geometry(uint8_t smooth, uint16_t width, uint16_t height,
                                       uint16_t *height_motion, uint16_t *width_motion,
                                       uint16_t *smooth_phase_inc);
int img_dsp_core_calc_mcts_moasf(uint8_t smooth, const uint8_t *tmpl, uint8_t *table);
int img_dsp_core_calc_cc_3d_motion_combine(const img_dsp_motion_detect *md, uint32_t *table, uint32_t m);
int img_dsp_core_calc_cc_out_motion_combine(uint32_t noise_base, int32_t motion_response, uint32_t *table);

#endif

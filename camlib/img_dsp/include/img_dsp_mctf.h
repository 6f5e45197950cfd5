/*
 * Image-DSP programming library: the temporal noise filter of the video pipe
 * (video MCTF, its temporal adjustment), the motion detector and the second
 * filter MCTF-B of the CLISO video variant. Records are shared with callers
 * by layout; each carries a size assertion.
 */
#ifndef CAMLIB_IMG_DSP_MCTF_H
#define CAMLIB_IMG_DSP_MCTF_H

#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A level record: methods 0, 1 or 7 (0 or 3 in the CLISO records). */
typedef struct img_dsp_mctf_level {
	uint8_t method;
	uint8_t low;
	uint8_t low_delta;
	uint8_t low_strength;
	uint8_t mid_strength;
	uint8_t high;
	uint8_t high_delta;
	uint8_t high_strength;
} img_dsp_mctf_level;

/* A temporal curve: four alphas at four limits (each 0 to 63). */
typedef struct img_dsp_mctf_curve {
	uint8_t temporal_alpha0;
	uint8_t temporal_alpha1;
	uint8_t temporal_alpha2;
	uint8_t temporal_alpha3;
	uint8_t temporal_t0;
	uint8_t temporal_t1;
	uint8_t temporal_t2;
	uint8_t temporal_t3;
} img_dsp_mctf_curve;

#define IMG_DSP_MCTF_LEVEL_TABLE 64u

typedef struct img_dsp_video_mctf {
	uint8_t enable;
	uint8_t remap_enable;
	uint8_t reserved0[2];
	uint32_t frame_brightness;
	uint16_t y_combine_strength;
	uint16_t y_strength_3d;
	uint8_t y_level_table[IMG_DSP_MCTF_LEVEL_TABLE];
	uint8_t y_spatial_max_change;
	uint8_t y_temporal_max_change;
	uint16_t cb_strength_3d;
	uint8_t cb_level_table[IMG_DSP_MCTF_LEVEL_TABLE];
	uint8_t cb_spatial_max_change;
	uint8_t cb_temporal_max_change;
	uint16_t cr_strength_3d;
	uint8_t cr_level_table[IMG_DSP_MCTF_LEVEL_TABLE];
	uint8_t cr_spatial_max_change;
	uint8_t cr_temporal_max_change;
	img_dsp_mctf_curve y_curve;
	img_dsp_mctf_curve cb_curve;
	img_dsp_mctf_curve cr_curve;
	uint8_t reserved1[2];
	int32_t y_spat_smth_wide_edge_detect;
	int32_t y_spat_smth_edge_thresh;
	img_dsp_mctf_level y_spat_smth_dir;
	img_dsp_mctf_level y_spat_smth_iso;
	int32_t cb_spat_smth_wide_edge_detect;
	int32_t cb_spat_smth_edge_thresh;
	img_dsp_mctf_level cb_spat_smth_dir;
	img_dsp_mctf_level cb_spat_smth_iso;
	int32_t cr_spat_smth_wide_edge_detect;
	int32_t cr_spat_smth_edge_thresh;
	img_dsp_mctf_level cr_spat_smth_dir;
	img_dsp_mctf_level cr_spat_smth_iso;
	img_dsp_mctf_level y_overall_max_change;
	img_dsp_mctf_level cb_overall_max_change;
	img_dsp_mctf_level cr_overall_max_change;
	uint8_t y_temporal_max_change_not_t0_t1_level_based;
	img_dsp_mctf_level y_temporal_either_max_change_or_t0_t1_add;
	uint8_t cb_temporal_max_change_not_t0_t1_level_based;
	img_dsp_mctf_level cb_temporal_either_max_change_or_t0_t1_add;
	uint8_t cr_temporal_max_change_not_t0_t1_level_based;
	img_dsp_mctf_level cr_temporal_either_max_change_or_t0_t1_add;
	uint8_t reserved2;
} img_dsp_video_mctf;
static_assert(sizeof(img_dsp_video_mctf) == 364, "img_dsp_video_mctf");
static_assert(offsetof(img_dsp_video_mctf, y_curve) == 214, "video mctf curves");
static_assert(offsetof(img_dsp_video_mctf, y_spat_smth_wide_edge_detect) == 240, "video mctf y spatial");
static_assert(offsetof(img_dsp_video_mctf, cr_spat_smth_iso) == 304, "video mctf cr spatial");
static_assert(offsetof(img_dsp_video_mctf, cr_temporal_either_max_change_or_t0_t1_add) == 355,
              "video mctf temporal levels");

/* The ninth byte is stored unchecked: the MCTF-B packing reads it as the
 * luma artifact guard. */
typedef struct img_dsp_internal_video_mctf {
	uint8_t y_temporal_artifact_guard;
	uint8_t cb_temporal_artifact_guard;
	uint8_t cr_temporal_artifact_guard;
	uint8_t temporal_adjust_y_greater_than_thresh_min_val;
	uint8_t temporal_adjust_cb_greater_than_thresh_min_val;
	uint8_t temporal_adjust_cr_greater_than_thresh_min_val;
	uint8_t temporal_adjust_frames_combine_num1;
	uint8_t temporal_adjust_frames_combine_num2;
	uint8_t mctf_b_temporal_artifact_guard;
} img_dsp_internal_video_mctf;
static_assert(sizeof(img_dsp_internal_video_mctf) == 9, "img_dsp_internal_video_mctf");

typedef struct img_dsp_video_mctf_temporal_adjust {
	uint16_t edge_adjust_b;
	uint16_t edge_adjust_l;
	uint16_t edge_adjust_r;
	uint16_t edge_adjust_t;
	uint8_t slow_mo_sensitivity;
	uint8_t score_noise_robust;
	uint8_t lev_adjust_low;
	uint8_t lev_adjust_low_delta;
	uint8_t lev_adjust_low_strength;
	uint8_t lev_adjust_mid_strength;
	uint8_t lev_adjust_high;
	uint8_t lev_adjust_high_delta;
	uint8_t lev_adjust_high_strength;
	uint8_t reserved;
} img_dsp_video_mctf_temporal_adjust;
static_assert(sizeof(img_dsp_video_mctf_temporal_adjust) == 18, "img_dsp_video_mctf_temporal_adjust");

/* One channel's temporal adjustment; the Cb and Cr records are the same. */
typedef struct img_dsp_video_mctf_temporal_adjust_y {
	uint8_t max;
	uint8_t min;
	uint16_t motion_response;
	uint16_t noise_base;
	uint16_t still_thresh;
} img_dsp_video_mctf_temporal_adjust_y;
typedef img_dsp_video_mctf_temporal_adjust_y img_dsp_video_mctf_temporal_adjust_cb;
typedef img_dsp_video_mctf_temporal_adjust_y img_dsp_video_mctf_temporal_adjust_cr;
static_assert(sizeof(img_dsp_video_mctf_temporal_adjust_y) == 8, "img_dsp_video_mctf_temporal_adjust_y");

typedef struct img_dsp_motion_detect {
	int16_t lev_add[16];
	uint16_t motion_response;
	uint8_t noise_base;
	uint8_t slow_mo_sensitivity;
	uint8_t smooth;
	uint8_t reserved;
} img_dsp_motion_detect;
static_assert(sizeof(img_dsp_motion_detect) == 38, "img_dsp_motion_detect");

typedef struct img_dsp_internal_motion_detect {
	uint8_t slow_mo_sensitivity2;
	uint8_t pure_max;
} img_dsp_internal_motion_detect;
static_assert(sizeof(img_dsp_internal_motion_detect) == 2, "img_dsp_internal_motion_detect");

typedef struct img_dsp_video_mctf_b {
	img_dsp_mctf_curve y_temporal;
	img_dsp_mctf_level y_spat_smth_dir;
	img_dsp_mctf_level y_spat_smth_iso;
	img_dsp_mctf_level y_overall_max_change;
	uint8_t y_spat_smth_wide_edge_detect;
	uint8_t reserved;
	uint16_t y_spat_smth_edge_thresh;
	uint16_t y_strength_3d;
	uint16_t y_combine_strength;
	uint8_t y_temporal_max_change;
	uint8_t y_spatial_max_change;
	uint8_t y_spatial_weighting[64];
} img_dsp_video_mctf_b;
static_assert(sizeof(img_dsp_video_mctf_b) == 106, "img_dsp_video_mctf_b");
static_assert(offsetof(img_dsp_video_mctf_b, y_spatial_weighting) == 42, "mctf b weighting");

typedef struct img_dsp_video_mctf_b_level {
	uint8_t y_temporal_max_change_not_t0_t1_level_based;
	img_dsp_mctf_level y_temporal_either_max_change_or_t0_t1_add;
} img_dsp_video_mctf_b_level;
static_assert(sizeof(img_dsp_video_mctf_b_level) == 9, "img_dsp_video_mctf_b_level");

int vors_img_dsp_set_video_mctf(int fd, const img_dsp_mode *mode, img_dsp_video_mctf *block);
int vors_img_dsp_get_video_mctf(const img_dsp_mode *mode, img_dsp_video_mctf *out);
int vors_img_dsp_set_internal_video_mctf(int fd, const img_dsp_mode *mode,
                                         img_dsp_internal_video_mctf *block);

int vors_img_dsp_set_video_mctf_temporal_adjust(int fd, const img_dsp_mode *mode,
                                                img_dsp_video_mctf_temporal_adjust *block);
int vors_img_dsp_get_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                img_dsp_video_mctf_temporal_adjust *out);
int vors_img_dsp_set_video_mctf_temporal_adjust_y(int fd, const img_dsp_mode *mode,
                                                  img_dsp_video_mctf_temporal_adjust_y *block);
int vors_img_dsp_get_video_mctf_temporal_adjust_y(const img_dsp_mode *mode,
                                                  img_dsp_video_mctf_temporal_adjust_y *out);
int vors_img_dsp_set_video_mctf_temporal_adjust_cb(int fd, const img_dsp_mode *mode,
                                                   img_dsp_video_mctf_temporal_adjust_cb *block);
int vors_img_dsp_get_video_mctf_temporal_adjust_cb(const img_dsp_mode *mode,
                                                   img_dsp_video_mctf_temporal_adjust_cb *out);
int vors_img_dsp_set_video_mctf_temporal_adjust_cr(int fd, const img_dsp_mode *mode,
                                                   img_dsp_video_mctf_temporal_adjust_cr *block);
int vors_img_dsp_get_video_mctf_temporal_adjust_cr(const img_dsp_mode *mode,
                                                   img_dsp_video_mctf_temporal_adjust_cr *out);

int vors_img_dsp_set_motion_detect(int fd, const img_dsp_mode *mode, img_dsp_motion_detect *block);
int vors_img_dsp_get_motion_detect(const img_dsp_mode *mode, img_dsp_motion_detect *out);
int vors_img_dsp_set_internal_motion_detect(int fd, const img_dsp_mode *mode,
                                            img_dsp_internal_motion_detect *block);
int vors_img_dsp_get_internal_motion_detect(const img_dsp_mode *mode, img_dsp_internal_motion_detect *out);
int vors_img_dsp_set_video_mctf_b(int fd, const img_dsp_mode *mode, img_dsp_video_mctf_b *block);
int vors_img_dsp_get_video_mctf_b(const img_dsp_mode *mode, img_dsp_video_mctf_b *out);
int vors_img_dsp_set_video_mctf_b_level(int fd, const img_dsp_mode *mode, img_dsp_video_mctf_b_level *block);
int vors_img_dsp_get_video_mctf_b_level(const img_dsp_mode *mode, img_dsp_video_mctf_b_level *out);
int vors_img_dsp_set_internal_video_mctf_fast_start(int fd, const img_dsp_mode *mode, uint8_t *fast_start);
int vors_img_dsp_set_internal_video_high_perf_mode(int fd, const img_dsp_mode *mode, uint8_t *enable);

#ifdef __cplusplus
}
#endif

#endif

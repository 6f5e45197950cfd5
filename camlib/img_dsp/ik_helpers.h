/* Small helpers of the filter modules that context initialisation uses. */
#ifndef CAMLIB_IMG_DSP_IK_HELPERS_H
#define CAMLIB_IMG_DSP_IK_HELPERS_H

#include "ik_liso_layout.h"
#include "img_dsp.h"

#include <stdint.h>

/* Chroma filters: the chroma-median strength table (4 rows of 36 values). */
extern const uint8_t img_dsp_chroma_median_weight_default[144];

/* Sharpen hardware conversions: the default strength table generator. */
int img_dsp_core_gen_strength_table(uint8_t *table, uint8_t level_a, uint8_t level_b, uint8_t sel_h,
                                    uint8_t sel_s, uint8_t layout);

/* Conversions the low-ISO builder calls into filter modules. */
/* Advance spatial filter: the hardware fields and tables of its block. */
int img_dsp_core_asf_hw_params(const uint8_t *asf_block, ik_sharpen_block *out, uint8_t *fir1, uint8_t *fir2,
                               uint8_t *coring);
/* Final-sharpen post-processing into a 12752-byte table: variant 0 for the
 * final sharpen, 1 for the second final sharpen of the advanced layout. */
#define IK_FS_TABLE_SIZE 12752u
#define IK_FS_ENGINE_1 16u
#define IK_FS_ENGINE_2 712u
/* The engines' coefficient precision (unity 1 << 12, which makes the
 * signed 13-bit bounds), their change shift (limits times 16, as in the
 * first stage) and the second variant's coring range shift: its ranges end
 * at 2^(R-5) and 2^(R-8); R must lie in 8..15. */
#define IK_FS_COEF_SHIFT 12
#define IK_FS_CHANGE_SHIFT 4
#define IK_FS_CORING_RANGE_SHIFT 12
static_assert(IK_FS_CORING_RANGE_SHIFT >= 8 && IK_FS_CORING_RANGE_SHIFT <= 15,
              "the second variant's coring ranges need 2^(R-8) whole and 2^(R-5) within 11 bits");
struct ik_final_sharpen_group;
int img_dsp_core_post_process_final_sharpen(uint32_t variant, const struct ik_final_sharpen_group *group,
                                            uint8_t *table);
/* RGB-IR sensors: fills an amplifier-linearisation command whose table
 * addresses are placed (the hdrblend tables zeroed) with the four
 * per-channel tables; white-balance gains R, G, B; a work area of 2 x 353
 * values. */
int img_dsp_core_rgb_ir_amp_linearization(const img_dsp_rgb_ir *ir, uint16_t saturation_cntrl,
                                          const uint32_t gains[3], uint8_t pattern, int32_t *work,
                                          uint8_t *cmd);

/* Statistics bit-unpacker parameters. */
typedef struct img_dsp_raw_unpack_param {
	uint8_t m;
	uint8_t base;
	uint8_t headroom;
	uint8_t g;
	uint8_t h;
	uint8_t B;
} img_dsp_raw_unpack_param;

int img_dsp_core_set_raw_unpack_param(uint8_t resolution, uint8_t m, uint8_t g);
img_dsp_raw_unpack_param img_dsp_core_get_raw_unpack_param(void);
/* Region record: pitch (bytes per source row), x_start, y_start, x_end,
 * y_end (inclusive). */
int img_dsp_core_unpack_raw(const uint32_t *src, const uint32_t *region, uint16_t *out);
uint16_t img_dsp_core_get_raw_pixel(const uint32_t *src, uint32_t pitch, uint32_t row, uint32_t col);

#endif

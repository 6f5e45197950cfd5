/* Conversions the sharpen and filter builders share: coring packing, the
 * T0/T1 level rule, the DSP's signed 13-bit bounds, and a few of other
 * filters. */
#ifndef CAMLIB_IMG_DSP_IK_SHP_HW_H
#define CAMLIB_IMG_DSP_IK_SHP_HW_H

#include "ik_liso_layout.h"

#include <stdint.h>

/* A level curve with its breakpoints worked out. */
typedef struct ik_expanded_level {
	uint32_t reserved;
	uint32_t low;
	uint32_t low0;
	uint32_t low_delta;
	uint32_t low_strength;
	uint32_t mid_strength;
	uint32_t high;
	uint32_t high0;
	uint32_t high_delta;
	uint32_t high_strength;
	uint32_t method;
} ik_expanded_level;

/* Mode 0: 64 contiguous words; mode 1: the first word of 64 8-byte
 * entries, other bits kept; other modes write nothing. */
void pack_5bit_table(const uint8_t *src, uint8_t *dst, uint8_t mode);
/* The same for 32-bit source entries. */
void pack_5bit_table_u32(const uint32_t *src, uint8_t *dst, uint8_t mode);
void level_from_t0_t1(ik_expanded_level *out, uint8_t t0, uint8_t t1, uint8_t alpha_min, uint8_t alpha_max);
/* The hardware level block of an expanded level. */
void level_block_from_expanded(ik_level_block *dst, const ik_expanded_level *src);

int32_t img_dsp_core_s13_extra_bits(void);
int32_t img_dsp_core_s13_max(void);
int32_t img_dsp_core_s13_min(void);

#endif

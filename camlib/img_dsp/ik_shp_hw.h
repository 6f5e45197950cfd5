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

/* Conversions nothing in the system calls, kept with the library. */
/* Low0 and High0 of an expanded level, without the 255 cap. */
void level_set_breakpoints(ik_expanded_level *lv);
/* 8192 bytes into 4096: out[i] = in[2i] + (in[2i + 1] & 15) << 4. */
void pack_nibbles(const uint8_t *in, uint8_t *out);
/* The index of the first of six coefficients outside its range (the first
 * four -16..15, the last two -32..31), or 100 when all fit. */
int32_t check_six_coefs(const int32_t *c);
/* A 25-entry kernel from its ten symmetric values; the shift is 4. */
void fir_kernel_from_ten(const int16_t *ten, int32_t *out, uint32_t *shift);
/* The gain of a kernel given by its ten symmetric values. */
int32_t fir_kernel_gain(const int16_t *ten);
/* An expanded level that is flat at strength s. */
void level_flat(ik_expanded_level *lv, uint32_t s);
/* The full-form level register record (bytes 4..29) of the three default
 * curves, ids 2, 1 and 7; byte 21 is 1 when `flag` is 2. */
#define IK_LEVEL_REG_SIZE 30u
/* The full form of any curve: low, low0, low_delta, low_strength, high,
 * high0, high_delta, high_strength, mid_strength at bytes 12..20. */
void level_reg_full(uint8_t *reg, uint8_t id, const uint8_t curve[9], bool flag);
void level_reg_default_2(uint8_t *reg, uint32_t flag);
void level_reg_default_1(uint8_t *reg, uint32_t flag);
void level_reg_default_7(uint8_t *reg, uint32_t flag);

/* Sixteen values widened to 32 bits, and a count split into parts of at
 * most 53, 38, 0, 224 and 128 (what is left over is dropped); the fourth
 * part is kept a second time with 32 added. */
typedef struct ik_count_split {
	int32_t values[16];
	uint32_t parts[5];
	uint32_t fourth_plus_32;
} ik_count_split;
void split_count(const int16_t *values, uint32_t count, ik_count_split *out);
/* The advance spatial filter's working copy when nothing was set: its two
 * strengths come from words 44 and 45 of the caller's record. */
struct ik_asf_working;
void asf_default_working(struct ik_asf_working *w, const uint32_t *rec);
/* A kernel record with the zero-gain ten-value kernel and a flat level. */
typedef struct ik_default_kernel {
	int32_t lead; /* -1 */
	uint32_t shift;
	int16_t kernel[10];
	uint32_t tail[2]; /* 2, 1 */
	ik_expanded_level level;
} ik_default_kernel;
void default_kernel_record(ik_default_kernel *k);

/* The processing block size (32, 64 or 128) for a mode and a window. */
typedef struct ik_block_mode {
	uint32_t mode;
	uint32_t second;
	uint32_t flags;
} ik_block_mode;
typedef struct ik_block_window {
	uint32_t x0, y0, x1, y1;
	uint32_t fx, fy; /* 16.16 */
	uint16_t p, q, r, s;
} ik_block_window;
uint32_t choose_block_size(const ik_block_mode *mode, const ik_block_window *win);

#endif

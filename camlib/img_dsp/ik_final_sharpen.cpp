/* Final-sharpen post-processing: the register image of the DSP's two last
 * sharpen engines, filled from the final sharpen-noise settings. */
#include "ik_context.h"
#include "ik_fir.h"
#include "ik_helpers.h"
#include "ik_math.h"
#include "ik_mctf.h"
#include "ik_shp_hw.h"

#include <string.h>

namespace
{

const unsigned kEngine[2] = {IK_FS_ENGINE_1, IK_FS_ENGINE_2};

/* Offsets within an engine block. */
enum {
	E_CONFIG = 0,
	E_ZERO_A = 8,
	E_ZERO_B = 16,
	E_INVERT = 32,
	E_EDGE = 48,
	E_FIXED3 = 64,
	E_MODE = 72,
	E_DOWN = 80,
	E_UP = 88,
	E_LOW_BYTE = 96,
	E_HIGH_BYTE = 104,
	E_LEVELS = 112,
	E_3D_OFFSETS = 592,
	E_3D_SHIFTS = 600,
	E_3D_BITS = 608,
	E_BLEND = 616,
	E_RANGES = 640,
	E_RECIP_M = 672,
	E_RECIP_S = 680,
};

/* Offsets of the rest of the table. */
enum {
	T_FORMAT = 9,
	T_FIR_AREA_1 = 1408,
	T_FIR_AREA_2 = 3240,
	T_PAIR_1 = 1408,
	T_PAIR_1B = 1416,
	T_UNITY_1 = 1424,
	T_PAIR_1C = 2320,
	T_CHANGE_PAIR = 2328,
	T_NINE_BITS_1 = 2336,
	T_STRENGTH_ADJUST = 2424,
	T_PAIR_2 = 3240,
	T_PAIR_2B = 4152,
	T_UNITY_2 = 3256,
	T_NINE_BITS_2 = 4168,
	T_CLEAR_1 = 3224,
	T_SET_1 = 3232,
	T_CLEAR_2 = 5056,
	T_SET_2 = 5064,
	T_ZERO_AREA = 5072,
	T_CORING = 7120,
	T_CORING_COPY = 7632,
	T_3D_TABLE = 8656,
};

/* Per engine: the level blocks of strength 0, and those of the four final
 * level records. */
const unsigned kZeroLevels[2][2] = {{2344, 2504}, {4176, 4336}};
const unsigned kScaleCoring[2] = {2584, 4416};
const unsigned kMaxCoring[2] = {2664, 4496};
const unsigned kMinCoring[2] = {2744, 4576};
const unsigned kIndexScale[2] = {2824, 4656};
const unsigned kUnity[2] = {T_UNITY_1, T_UNITY_2};
const unsigned kNineBits[2] = {T_NINE_BITS_1, T_NINE_BITS_2};

void put_s13_pair(uint8_t *p, int32_t lo, int32_t hi)
{
	ik_put_bits(p, 8, 0, 13, (uint32_t)lo);
	ik_put_bits(p, 8, 32, 13, (uint32_t)hi);
}

struct level_slots {
	uint8_t v[10];
};

uint8_t ramp_top(uint32_t at, uint32_t delta)
{
	/* Capped: the final levels are never tested for their ramp ends. */
	uint32_t end = at + (1u << (delta & 7));
	return (uint8_t)(end > 255 ? 255 : end);
}

level_slots level_of(uint8_t low, uint8_t low_delta, uint8_t low_s, uint8_t mid_s, uint8_t high,
                     uint8_t high_delta, uint8_t high_s, uint8_t code)
{
	return {{low, ramp_top(low, low_delta), (uint8_t)(low_delta & 7), high, ramp_top(high, high_delta),
	         (uint8_t)(high_delta & 7), low_s, mid_s, high_s, (uint8_t)(code & 15)}};
}

level_slots default_level(uint8_t v)
{
	return level_of(10, 1, v, v, 20, 1, v, (uint8_t)img_dsp_core_select_table_value(0, 5));
}

level_slots final_level(const img_dsp_final_level &r)
{
	return level_of(r.low, r.low_delta, r.low_strength, r.mid_strength, r.high, r.high_delta,
	                r.high_strength, (uint8_t)img_dsp_core_select_table_value(r.method, 5));
}

/* Each slot is a 64-bit register whose low bits hold the value. */
void put_level(uint8_t *t, unsigned at, const level_slots &l)
{
	for (int i = 0; i < 10; i++) {
		uint64_t w = l.v[i];
		memcpy(t + at + 8 * i, &w, 8);
	}
}

void put_engine_config(uint8_t *t, unsigned b, uint32_t variant, const ik_final_sharpen_group *g)
{
	const img_dsp_final_sharpen_noise_both &both = g->both;
	memset(t + b + E_ZERO_A, 0, 8);
	memset(t + b + E_ZERO_B, 0, 8);
	ik_put_bits(t + b + E_FIXED3, 1, 0, 4, 3);
	t[b + E_LOW_BYTE] = 0;
	t[b + E_HIGH_BYTE] = 255;
	const uint8_t strengths[6] = {(uint8_t)(variant ? 48 : 32), 32, 16, 0, 255, 0};
	for (int i = 0; i < 6; i++)
		put_level(t, b + E_LEVELS + 80 * i, default_level(strengths[i]));
	ik_put_bits(t + b + E_CONFIG, 1, 0, 1, 1);
	t[b + E_DOWN] = both.max_change_down5x5;
	t[b + E_DOWN + 1] = both.max_change_down;
	t[b + E_UP] = both.max_change_up5x5;
	t[b + E_UP + 1] = both.max_change_up;
	ik_put_bits(t + b + E_EDGE, 2, 0, 11, both.edge_thresh);
	uint8_t wide = both.wide_edge_detect;
	t[b + E_BLEND] = (uint8_t)(((8 - wide) & 15) | (wide & 15) << 4);
	if (variant == 0) {
		t[b + E_3D_OFFSETS] = both.three_d_y_offset;
		t[b + E_3D_OFFSETS + 1] = both.three_d_u_offset;
		t[b + E_3D_OFFSETS + 2] = both.three_d_v_offset;
		ik_put_bits(t + b + E_3D_SHIFTS, 2, 0, 9,
		            (both.three_d_y_shift & 7u) | (both.three_d_u_shift & 7u) << 3 |
		                (both.three_d_v_shift & 7u) << 6);
		t[b + E_3D_BITS] = (uint8_t)((both.three_d_u_bits & 15) | (both.three_d_v_bits & 15) << 4);
	} else {
		t[b + E_3D_OFFSETS] = t[b + E_3D_OFFSETS + 1] = t[b + E_3D_OFFSETS + 2] = 0;
		ik_put_bits(t + b + E_3D_SHIFTS, 2, 0, 9, 0);
		t[b + E_3D_BITS] = 128;
	}
	ik_put_bits(t + b + E_MODE, 1, 0, 3, both.mode == 2 ? 1 : 0);
	ik_put_bits(t + b + E_INVERT, 1, 4, 2, ~(uint32_t)g->sharpen_coring.coring_mul_fractional_bits & 3u);
}

/* The second final sharpen reads its coring through three ranges, each with
 * the reciprocal of its width. */
void put_coring_ranges(uint8_t *t, unsigned b)
{
	const uint32_t ends[3] = {1u << (IK_FS_CORING_RANGE_SHIFT - 5), 1u << (IK_FS_CORING_RANGE_SHIFT - 8),
	                          0};
	int32_t s[3], m[3];
	for (int i = 0; i < 3; i++) {
		ik_put_bits(t + b + E_RANGES + 8 * i, 4, 0, 22, (ends[i] & 0x7FFu) << 11);
		img_dsp_core_normalized_reciprocal((int32_t)ends[i], &s[i], &m[i]);
		t[b + E_RECIP_M + i] = (uint8_t)m[i];
	}
	ik_put_bits(t + b + E_RECIP_S, 2, 0, 10, ((uint32_t)s[0] & 31u) | ((uint32_t)s[1] & 31u) << 5);
	ik_put_bits(t + b + E_RECIP_S + 1, 1, 2, 5, (uint32_t)s[2]);
}

void put_fir_sets(uint8_t *t, const ik_final_sharpen_group *g)
{
	ik_fir_coeff_set f1, f2;
	fir_sharpen_noise_sets(&g->sharpen_fir, &g->noise.fir, g->both.mode, &f1, &f2, NULL, NULL);
	for (int d = 0; d < IK_FIR_DIRS; d++) {
		convert_shpbc_fir_hw_config_one_dir(t + T_FIR_AREA_1, 0, d, f1.shift[d], f1.v[d]);
		convert_shpbc_fir_hw_config_one_dir(t + T_FIR_AREA_2, 0, d, f1.shift[d], f1.v[d]);
		convert_shpbc_fir_hw_config_one_dir(t + T_FIR_AREA_1, 1, d, f2.shift[d], f2.v[d]);
	}
	const uint8_t on[2] = {7, 3};
	for (int e = 0; e < 2; e++)
		ik_put_bits(t + kEngine[e], 1, 3, 4, g->both.enable == 1 ? on[e] : 0);
}

level_slots strength_adjust_level(const img_dsp_final_sharpen_noise_noise &n)
{
	if (n.level_str_adjust_not_t0_t1_level_based) {
		const img_dsp_level &l = n.level_str_adjust;
		return level_of(l.low, l.low_delta, l.low_strength, l.mid_strength, l.high, l.high_delta,
		                l.high_strength,
		                (uint8_t)img_dsp_core_select_table_value(n.level_str_adjust_method, 5));
	}
	ik_expanded_level e;
	level_from_t0_t1(&e, n.t0, n.t1, n.alpha_min, n.alpha_max);
	return level_of((uint8_t)e.low, (uint8_t)e.low_delta, (uint8_t)e.low_strength,
	                (uint8_t)e.mid_strength, (uint8_t)e.high, (uint8_t)e.high_delta,
	                (uint8_t)e.high_strength, 11);
}

} // namespace

int img_dsp_core_post_process_final_sharpen(uint32_t variant, const ik_final_sharpen_group *g, uint8_t *t)
{
	const int32_t unity = 1 << IK_FS_COEF_SHIFT;
	const int32_t s13_min = img_dsp_core_s13_min(), s13_max = img_dsp_core_s13_max();
	ik_put_bits(t + T_FORMAT, 1, 0, 2, 1);
	for (int e = 0; e < 2; e++)
		put_engine_config(t, kEngine[e], variant, g);
	put_s13_pair(t + T_PAIR_1, s13_min, s13_max);
	put_s13_pair(t + T_PAIR_1B, s13_min, s13_max);
	put_s13_pair(t + T_PAIR_1C, s13_min, s13_max);
	put_s13_pair(t + T_CHANGE_PAIR, s13_min, s13_max);
	put_s13_pair(t + T_PAIR_2, s13_min, s13_max);
	put_s13_pair(t + T_PAIR_2B, s13_min, s13_max);
	for (unsigned at : kUnity) {
		ik_put_bits(t + at, 2, 0, 13, (uint32_t)-unity);
		ik_put_bits(t + at + 2, 2, 0, 13, (uint32_t)(unity - 1));
	}
	for (unsigned at : kNineBits) {
		ik_put_bits(t + at, 8, 0, 9, 256);
		ik_put_bits(t + at, 8, 32, 9, 255);
	}
	for (int e = 0; e < 2; e++) {
		put_level(t, kZeroLevels[e][0], default_level(0));
		put_level(t, kZeroLevels[e][1], default_level(0));
		put_level(t, kMaxCoring[e], default_level(255));
	}
	if (variant == 1)
		for (int e = 0; e < 2; e++)
			put_coring_ranges(t, kEngine[e]);
	memset(t + T_ZERO_AREA, 0, 2048);
	if (g->both.three_d_table)
		memcpy(t + T_3D_TABLE, (const void *)(uintptr_t)g->both.three_d_table,
		       IMG_DSP_THREE_D_TABLE_SIZE);

	if (g->both.mode == 0) {
		put_level(t, T_STRENGTH_ADJUST, default_level(16));
	} else if (g->both.mode == 2) {
		put_level(t, T_STRENGTH_ADJUST, strength_adjust_level(g->noise));
		put_s13_pair(t + T_CHANGE_PAIR,
		             img_dsp_core_max(s13_min, -(g->noise.max_change_down << IK_FS_CHANGE_SHIFT)),
		             img_dsp_core_min(unity - 1, g->noise.max_change_up << IK_FS_CHANGE_SHIFT));
	}

	ik_put_bits(t + T_CLEAR_1, 1, 0, 1, 0);
	ik_put_bits(t + T_CLEAR_2, 1, 0, 1, 0);
	ik_put_bits(t + T_SET_1, 1, 0, 1, 1);
	ik_put_bits(t + T_SET_2, 1, 0, 1, 1);
	put_fir_sets(t, g);
	pack_5bit_table(g->sharpen_coring.coring, t + T_CORING, 1);
	memcpy(t + T_CORING_COPY, t + T_CORING, 512);

	for (int e = 0; e < 2; e++) {
		put_level(t, kIndexScale[e], final_level(g->coring_index_scale));
		put_level(t, kScaleCoring[e], final_level(g->scale_coring));
		put_level(t, kMinCoring[e], final_level(g->min_coring_result));
		put_level(t, kMaxCoring[e], final_level(g->max_coring_result));
	}
	const unsigned second[4] = {kScaleCoring[1], kMaxCoring[1], kMinCoring[1], kIndexScale[1]};
	if (variant == 1)
		for (unsigned at : second) {
			uint8_t *s = t + at + 48; /* slots 6, 7, 8: low, mid, high strength */
			uint8_t code = t[at + 72] & 15;
			if (code == 15)
				s[0] = s[8] = s[16];
			else if (code == 2)
				s[8] = s[16] = s[0];
		}
	return 0;
}

/*
 * Packing of the DSP's video-MCTF table (10064 bytes) and of the MCTF fields
 * of the final-sharpen table, from the context's MCTF settings, the white
 * balance gains, the tone curve and the colour-correction curve.
 */
#include "ik_mctf.h"

#include "ik_context.h"
#include "ik_core.h"
#include "ik_math.h"

#include <string.h>

namespace
{

/* ---- table fields ---- */

/* Writes `width` bits of v at bit `shift` of the little-endian word of
 * `bytes` bytes at p, keeping the other bits. */
void put_bits(uint8_t *p, unsigned bytes, unsigned shift, unsigned width, uint64_t v)
{
	uint64_t w = 0;
	memcpy(&w, p, bytes);
	uint64_t mask = ((width >= 64 ? 0 : (1ull << width)) - 1) << shift;
	w = (w & ~mask) | ((v << shift) & mask);
	memcpy(p, &w, bytes);
}

/* Nibble n of a run of nibbles from p: low, then high, of each byte. */
void put_nibble(uint8_t *p, unsigned n, uint32_t v)
{
	put_bits(p + n / 2, 1, 4 * (n & 1), 4, v);
}

enum {
	CH_Y,
	CH_CB,
	CH_CR,
	CHANNELS,
};

/* Offsets of the video-MCTF table. */
enum mctf_offset {
	T_MODE_FORMAT = 0,
	T_MODE_ZK4 = 1,
	T_MEDIAN = 8,
	T_MAX_CHANGE_B = 48,
	T_MAX_CHANGE_C = 56,
	T_MAX_CHANGE_D = 64,
	T_MAX_CHANGE_THRESHOLD_D = 120,
	T_EDGE_THRESH = 176,
	T_WIDE_WEIGHT = 192,
	T_NARROW_WEIGHT = 200,
	T_TEMPORAL_NEIGHBOR = 208,
	T_GHOST_PREVENT = 224,
	T_ISO_LVL = 264,
	T_DIR_LVL = 344,
	T_DIR_FILTER_SEL = 424,
	T_D_ADJ_LVL = 432,
	T_D_LVL_ADJUST = 512,
	T_D_MAX_CHANGE_5X5 = 520,
	T_TF_MAX_CHANGE_SB2 = 528,
	T_MAX_CHANGE_LVL = 536,
	T_DC_MOTION_MAP_LVL = 616,
	T_AUTO_TA = 696,
	T_TA_MAX_COUNTS = 704,
	T_TA_SUB = 712,
	T_TA_MUL = 720,
	T_TA_MIN = 728,
	T_TA_MAX = 736,
	T_TA_THRESHOLD = 744,
	T_TA_GT_THRESHOLD_MIN = 752,
	T_CURVE_B = 2824,
	T_CURVE_C = 3016,
	T_CURVE_D = 3208,
	T_CURVE_SB2 = 9616,
	T_REF_REMAP = 9808,
};

/* Offsets of the final-sharpen table. */
enum fs_offset {
	FS_WORD0 = 0,
	FS_BLEND_STRENGTH = 8,
	FS_COMBINE_1 = 704,
	FS_COMBINE_2 = 1400,
	FS_LEVEL_1 = 528,
	FS_LEVEL_2 = 1224,
};

#define CURVE_LEN 64

/* One channel's column of a three-channel level-control block. */
struct level_column {
	uint8_t t0, t1, low_delta, t2, t3, high_delta;
	uint8_t low_val, base_val, high_val;
	uint8_t area;
};

uint8_t ramp_end(uint8_t t, uint8_t delta)
{
	uint32_t v = (uint32_t)t + (delta > 8 ? 256u : 1u << delta);
	return (uint8_t)(v > 255 ? 255 : v);
}

level_column column_of(uint8_t low, uint8_t low_delta, uint8_t low_val, uint8_t base_val, uint8_t high,
                       uint8_t high_delta, uint8_t high_val, uint8_t area)
{
	level_column c;
	c.t0 = low;
	c.t1 = ramp_end(low, low_delta);
	c.low_delta = low_delta & 7;
	c.t2 = high;
	c.t3 = ramp_end(high, high_delta);
	c.high_delta = high_delta & 7;
	c.low_val = low_val;
	c.base_val = base_val;
	c.high_val = high_val;
	c.area = area & 15;
	return c;
}

/* A settings level record; the area code comes from the method through the
 * luma (2) or chroma (6) selection table. */
level_column column_of(const img_dsp_mctf_level &r, int c, bool strengths)
{
	uint8_t area = (uint8_t)img_dsp_core_select_table_value(r.method, c == CH_Y ? 2 : 6);
	return column_of(r.low, r.low_delta, strengths ? r.low_strength : 0, strengths ? r.mid_strength : 0,
	                 r.high, r.high_delta, strengths ? r.high_strength : 0, area);
}

void put_level(uint8_t *t, unsigned base, int c, const level_column &v)
{
	uint8_t *l = t + base;
	l[c] = v.t0;
	l[8 + c] = v.t1;
	put_bits(l + 16, 2, 3 * c, 3, v.low_delta);
	l[24 + c] = v.t2;
	l[32 + c] = v.t3;
	put_bits(l + 40, 2, 3 * c, 3, v.high_delta);
	l[48 + c] = v.low_val;
	l[56 + c] = v.base_val;
	l[64 + c] = v.high_val;
	put_nibble(l + 72, c, v.area);
}

/* ---- the channels of the settings block ---- */

struct channel_view {
	uint16_t strength_3d;
	const uint8_t *level_table;
	uint8_t spatial_max_change;
	uint8_t temporal_max_change;
	img_dsp_mctf_curve curve;
	int32_t wide;
	int32_t edge_thresh;
	img_dsp_mctf_level dir, iso, overall, either;
	uint8_t not_t0_t1;
	uint8_t artifact_guard;
	uint8_t gt_thresh_min;
	img_dsp_video_mctf_temporal_adjust_y ta;
};

void view_channels(const img_dsp_mctf_pack_record *rec, const img_dsp_video_mctf &m, channel_view v[CHANNELS])
{
	const img_dsp_internal_video_mctf &in = *rec->internal_video_mctf;
	v[CH_Y] = {m.y_strength_3d,
	           m.y_level_table,
	           m.y_spatial_max_change,
	           m.y_temporal_max_change,
	           m.y_curve,
	           m.y_spat_smth_wide_edge_detect,
	           m.y_spat_smth_edge_thresh,
	           m.y_spat_smth_dir,
	           m.y_spat_smth_iso,
	           m.y_overall_max_change,
	           m.y_temporal_either_max_change_or_t0_t1_add,
	           m.y_temporal_max_change_not_t0_t1_level_based,
	           in.y_temporal_artifact_guard,
	           in.temporal_adjust_y_greater_than_thresh_min_val,
	           *rec->temporal_adjust_y};
	v[CH_CB] = {m.cb_strength_3d,
	            m.cb_level_table,
	            m.cb_spatial_max_change,
	            m.cb_temporal_max_change,
	            m.cb_curve,
	            m.cb_spat_smth_wide_edge_detect,
	            m.cb_spat_smth_edge_thresh,
	            m.cb_spat_smth_dir,
	            m.cb_spat_smth_iso,
	            m.cb_overall_max_change,
	            m.cb_temporal_either_max_change_or_t0_t1_add,
	            m.cb_temporal_max_change_not_t0_t1_level_based,
	            in.cb_temporal_artifact_guard,
	            in.temporal_adjust_cb_greater_than_thresh_min_val,
	            *rec->temporal_adjust_cb};
	v[CH_CR] = {m.cr_strength_3d,
	            m.cr_level_table,
	            m.cr_spatial_max_change,
	            m.cr_temporal_max_change,
	            m.cr_curve,
	            m.cr_spat_smth_wide_edge_detect,
	            m.cr_spat_smth_edge_thresh,
	            m.cr_spat_smth_dir,
	            m.cr_spat_smth_iso,
	            m.cr_overall_max_change,
	            m.cr_temporal_either_max_change_or_t0_t1_add,
	            m.cr_temporal_max_change_not_t0_t1_level_based,
	            in.cr_temporal_artifact_guard,
	            in.temporal_adjust_cr_greater_than_thresh_min_val,
	            *rec->temporal_adjust_cr};
}

/* ---- fixed values and spatial fields ---- */

void put_fixed(uint8_t *t)
{
	static const uint8_t threshold_d[3] = {1, 4, 6};
	static const uint8_t dir_filter_sel[CHANNELS] = {2, 1, 1};
	put_bits(t + T_MODE_FORMAT, 1, 2, 1, 0);
	put_bits(t + T_MODE_ZK4, 1, 0, 1, 1);
	for (int c = 0; c < CHANNELS; c++) {
		put_bits(t + T_MEDIAN, 1, 2 * c, 2, 3);
		for (int i = 0; i < 3; i++)
			put_bits(t + T_MAX_CHANGE_THRESHOLD_D + 8 * i, 8, 20 * c, 20, threshold_d[i]);
		put_bits(t + T_TEMPORAL_NEIGHBOR, 1, 2 * c, 2, 3);
		t[T_GHOST_PREVENT + c] = 0;
		put_bits(t + T_DIR_FILTER_SEL, 2, 2 * c, 2, dir_filter_sel[c]);
	}
	put_bits(t + T_AUTO_TA, 1, 0, 2, 1);
}

void put_spatial(uint8_t *t, int c, const channel_view &v)
{
	put_bits(t + T_EDGE_THRESH, 8, 11 * c, 11, (uint32_t)v.edge_thresh & 2047u);
	put_nibble(t + T_WIDE_WEIGHT, c, (uint32_t)v.wide & 15u);
	put_nibble(t + T_NARROW_WEIGHT, c, (uint32_t)(8 - v.wide) & 15u);
	put_level(t, T_ISO_LVL, c, column_of(v.iso, c, true));
	put_level(t, T_DIR_LVL, c, column_of(v.dir, c, true));
}

/* ---- blend curves ---- */

const int32_t breakpoints[5] = {0, 64, 128, 192, 256};

struct curve_shape {
	int32_t start[5], end[5], max_change[5], base[5];
};

/* [luma, chroma][curve B, curve C] */
const curve_shape shapes[2][2] = {
    {
        {{0, 0, 20, 200, 200}, {0, 0, 40, 255, 255}, {0, 0, 20, 30, 255}, {255, 32, 32, 32, 32}},
        {{0, 0, 20, 200, 200}, {0, 0, 40, 255, 255}, {0, 0, 20, 30, 255}, {255, 128, 128, 64, 0}},
    },
    {
        {{0, 10, 20, 200, 200}, {0, 20, 40, 255, 255}, {0, 10, 20, 30, 255}, {255, 32, 32, 32, 32}},
        {{0, 10, 20, 200, 200}, {0, 20, 40, 255, 255}, {0, 10, 20, 30, 255}, {255, 128, 128, 64, 0}},
    },
};

const int32_t sharpen_blend[5] = {255, 0, 0, 0, 0};

int32_t interp(const int32_t row[5], int32_t s)
{
	return img_dsp_core_interp_table(5, breakpoints, row, s);
}

/* The curve's 64 bytes; returns its maximum change. */
uint8_t put_blend_curve(uint8_t *curve, const curve_shape &shape, int32_t s)
{
	int32_t a = img_dsp_core_min(interp(shape.start, s), 60);
	int32_t e = img_dsp_core_min(interp(shape.end, s), 62);
	int32_t base = interp(shape.base, s);
	for (int32_t i = 0; i < a; i++)
		curve[i] = (uint8_t)base;
	for (int32_t i = a; i < e; i++)
		curve[i] = (uint8_t)(base + ((i - a) * (255 - base)) / (e - a));
	for (int32_t i = img_dsp_core_max(e, 0); i < CURVE_LEN; i++)
		curve[i] = 255;
	return (uint8_t)interp(shape.max_change, s);
}

int32_t blend_strength(const img_dsp_mctf_pack_record *rec, uint8_t enable, int c, const channel_view &v)
{
	if (enable == 0)
		return 0;
	if (c == CH_Y && rec->advanced_layout == 1 && rec->mctf_b == 0)
		return (v.strength_3d * 192 >> 8) + 64;
	return v.strength_3d;
}

/* ---- temporal curve ---- */

void put_temporal_curve(uint8_t *curve, const img_dsp_mctf_pack_record *rec, int c,
                        const img_dsp_mctf_curve &k)
{
	int32_t a[4] = {k.temporal_alpha0, k.temporal_alpha1, k.temporal_alpha2, k.temporal_alpha3};
	int32_t t0 = k.temporal_t0, t1 = k.temporal_t1, t2 = k.temporal_t2, t3 = k.temporal_t3;
	int32_t runs = (int32_t)rec->run_count;
	int32_t floor_value = img_dsp_core_div_round(256, (int32_t)(rec->run_count + 1));
	if (c == CH_Y && rec->fast_start == 1 && rec->mctf_b == 1) {
		int32_t ref = (int32_t)rec->alpha_ref;
		int32_t f =
		    img_dsp_core_clamp((ref / 2 + 256 * floor_value) / img_dsp_core_max(1, ref), 0, 255);
		for (int32_t &v : a)
			v = img_dsp_core_max(v, f);
	}
	for (int32_t i = 0; i < img_dsp_core_min(CURVE_LEN, t0); i++)
		curve[i] = (uint8_t)a[1];
	if (t1 > t0)
		for (int32_t i = t0; i < img_dsp_core_min(CURVE_LEN, t1); i++)
			curve[i] = (uint8_t)(a[1] + ((i - t0) * (a[2] - a[1])) / (t1 - t0));
	for (int32_t i = t1; i < img_dsp_core_min(CURVE_LEN, t2); i++)
		curve[i] = (uint8_t)a[2];
	if (t3 > t2)
		for (int32_t i = t2; i < img_dsp_core_min(CURVE_LEN, t3); i++)
			curve[i] = (uint8_t)(a[2] + ((i - t2) * (a[3] - a[2])) / (t3 - t2));
	if (t3 < CURVE_LEN)
		for (int32_t i = t3; i < CURVE_LEN; i++)
			curve[i] = (uint8_t)a[3];
	curve[0] = (uint8_t)a[0];
	bool floor_on =
	    rec->fast_start != 0 && (c == CH_Y || !(rec->advanced_layout != 0 && rec->mctf_b != 0));
	if (floor_on && runs >= 1)
		for (int32_t i = 0; i < CURVE_LEN; i++)
			curve[i] = (uint8_t)img_dsp_core_max(curve[i], floor_value);
}

/* ---- copies, limits and the temporal adjustment ---- */

void put_limits(uint8_t *t, const img_dsp_mctf_pack_record *rec, uint8_t enable, int c, const channel_view &v)
{
	memcpy(t + T_CURVE_SB2 + CURVE_LEN * c, v.level_table, CURVE_LEN);
	t[T_TF_MAX_CHANGE_SB2 + c] = v.spatial_max_change;
	uint8_t g = v.artifact_guard;
	uint8_t guard = g != 0 ? (uint8_t)(255 - g) : 0;
	if (c == CH_Y && rec->mctf_b != 0) {
		g = rec->internal_video_mctf->mctf_b_temporal_artifact_guard;
		guard = (uint8_t)(255 - g);
	}
	t[T_D_MAX_CHANGE_5X5 + c] = guard;
	put_level(t, T_MAX_CHANGE_LVL, c, column_of(v.overall, c, enable != 0));
	for (int i = 0; i < 4; i++)
		t[T_MAX_CHANGE_D + 8 * i + c] = enable != 0 ? v.temporal_max_change : 0;
}

void put_temporal_adjust(uint8_t *t, const img_dsp_mctf_pack_record *rec, int c, const channel_view &v)
{
	static const uint8_t greater[16] = {1, 2, 3, 5, 6, 8, 10, 11, 12, 13, 14, 15, 15, 15, 15, 15};
	const img_dsp_video_mctf_temporal_adjust_y &ta = v.ta;
	put_bits(t + T_TA_SUB, 8, 12 * c, 12, ta.noise_base & 4095u);
	put_bits(t + T_TA_MUL + 2 * c, 2, 0, 14, ta.motion_response & 16383u);
	put_bits(t + T_TA_THRESHOLD, 8, 12 * c, 12, ta.still_thresh & 4095u);
	bool fixed = c == CH_Y && rec->mctf_b != 0;
	put_nibble(t + T_TA_MIN, c, fixed ? 8 : ta.min & 15u);
	put_nibble(t + T_TA_MAX, c, fixed ? 8 : ta.max & 15u);
	uint32_t gt = v.gt_thresh_min;
	if (gt == 0)
		gt = (uint32_t)img_dsp_core_min(greater[ta.min & 15], ta.max) & 15u;
	put_nibble(t + T_TA_GT_THRESHOLD_MIN, c, gt);
}

void put_adjust_once(uint8_t *t, const img_dsp_mctf_pack_record *rec, const img_dsp_video_mctf &m)
{
	static const uint8_t counts[12][2] = {{1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7},
	                                      {2, 4}, {2, 5}, {2, 6}, {3, 5}, {3, 6}, {4, 6}};
	const img_dsp_internal_video_mctf &in = *rec->internal_video_mctf;
	const img_dsp_video_mctf_temporal_adjust &ta = *rec->temporal_adjust;
	uint32_t count1, count2;
	if (in.temporal_adjust_frames_combine_num1 != 0) {
		count1 = in.temporal_adjust_frames_combine_num1 & 7u;
		count2 = in.temporal_adjust_frames_combine_num2 & 7u;
	} else {
		unsigned s = ta.slow_mo_sensitivity > 11 ? 11 : ta.slow_mo_sensitivity;
		count1 = counts[s][0];
		count2 = counts[s][1];
	}
	put_bits(t + T_TA_MAX_COUNTS, 1, 0, 3, count1);
	put_bits(t + T_TA_MAX_COUNTS, 1, 4, 3, count2);
	put_level(t, T_DC_MOTION_MAP_LVL, CH_Y,
	          column_of(ta.lev_adjust_low, ta.lev_adjust_low_delta, ta.lev_adjust_low_strength,
	                    ta.lev_adjust_mid_strength, ta.lev_adjust_high, ta.lev_adjust_high_delta,
	                    ta.lev_adjust_high_strength, (uint8_t)img_dsp_core_select_table_value(0, 0)));
	put_bits(t + T_AUTO_TA, 1, 2, 1, ta.score_noise_robust & 1u);
	put_bits(t + T_AUTO_TA, 1, 4, 1, m.remap_enable & 1u);
}

void put_final_sharpen(uint8_t *fs, const img_dsp_mctf_pack_record *rec, const img_dsp_video_mctf &m,
                       uint8_t blend)
{
	fs[FS_BLEND_STRENGTH] = blend;
	if (rec->advanced_layout == 0) {
		fs[FS_COMBINE_1] = fs[FS_COMBINE_2] = (uint8_t)(m.y_combine_strength >> 1);
		fs[FS_COMBINE_1 + 1] = fs[FS_COMBINE_2 + 1] = (uint8_t)((m.y_combine_strength + 1) >> 1);
	} else if (rec->advanced_layout == 1) {
		fs[FS_COMBINE_1] = fs[FS_COMBINE_1 + 1] = 0;
		fs[FS_COMBINE_2] = fs[FS_COMBINE_2 + 1] = 0;
	}
	const level_column neutral = column_of(0, 0, 0, 0, 0, 0, 0, 6);
	for (int c = 0; c < CHANNELS; c++) {
		put_level(fs, FS_LEVEL_1, c, neutral);
		put_level(fs, FS_LEVEL_2, c, neutral);
	}
	put_bits(fs + FS_WORD0, 4, 0, 1, 1);
}

void put_temporal_level(uint8_t *t, int c, const channel_view &v)
{
	put_level(t, T_D_ADJ_LVL, c, column_of(v.either, c, true));
	if (v.not_t0_t1 != 0) {
		put_nibble(t + T_D_LVL_ADJUST, c, 8);
		put_nibble(t + T_D_LVL_ADJUST, 3 + c, 0);
		for (int i = 0; i < 4; i++)
			t[T_MAX_CHANGE_D + 8 * i + c] = 0;
	} else {
		put_nibble(t + T_D_LVL_ADJUST, c, 0);
		put_nibble(t + T_D_LVL_ADJUST, 3 + c, 8);
	}
}

/* ---- reference remap ---- */

uint16_t rd16(const uint8_t *p)
{
	uint16_t v;
	memcpy(&v, p, 2);
	return v;
}

#define IK_CC_CURVE_OFFSET 16512u

/*
 * The luma remap of the reference frame: back through the inverse of the
 * combined colour-correction and tone curve L, scaled by the brightness
 * ratio, forward through L again.
 */
void put_ref_remap(uint8_t *out, const img_dsp_mctf_pack_record *rec, uint32_t b, uint32_t prev)
{
	const uint8_t *q = rec->cc_table + IK_CC_CURVE_OFFSET;
	const img_dsp_tone_curve *tc = rec->tone_curve;
	int32_t L[256], M[256];
	for (int i = 0; i < 256; i++) {
		uint32_t k = ((uint32_t)rd16(q + 2 * i) + 2) >> 2;
		k = k > 255 ? 255 : k;
		uint32_t l =
		    ((uint32_t)tc->ToneCurveRed[k] + 2u * tc->ToneCurveGreen[k] + tc->ToneCurveBlue[k] + 8) >>
		    4;
		L[i] = (int32_t)(l > 255 ? 255 : l);
		M[i] = i == 0 ? 0 : 4 * L[i];
	}
	bool monotonic = true;
	for (int i = 0; i < 255; i++)
		monotonic = monotonic && M[i] <= M[i + 1];
	int32_t *inv = rec->remap_inverse;
	if (monotonic) {
		/* The search runs to the last index so that j = 255 finds its own
		 * level rather than keeping the segment of 254. */
		int32_t p = 0, lo = 254, hi = 255;
		for (int32_t j = 0; j < 256; j++) {
			int32_t t = 4 * j;
			while (p <= 255 && M[p] < t)
				p++;
			if (p <= 255) {
				if (M[p] == t) {
					lo = hi = p;
				} else {
					lo = p - 1;
					hi = p;
				}
			}
			if (M[lo] == M[hi]) {
				inv[j] = 32 * (lo + hi);
			} else {
				int32_t d = M[hi] - M[lo];
				inv[j] =
				    (65536 * lo + ((65536 * (t - M[lo]) + d / 2) / d) * (hi - lo) + 512) >>
				    10;
			}
			p = lo;
		}
	}
	int64_t r = prev == 0 ? 0 : img_dsp_core_div_round64((int64_t)b * 4096, (int64_t)prev);
	for (int j = 0; j < 256; j++) {
		/* 64 bits: a large brightness rise must saturate, not wrap. */
		int64_t v = (r * inv[j] + 2048) >> 12;
		v = v > 16383 ? 16383 : v;
		int32_t o;
		if (v < 0) {
			o = L[0];
		} else if ((v >> 6) >= 255) {
			o = L[255];
		} else {
			int32_t qi = (int32_t)(v >> 6), f = (int32_t)(v & 63);
			o = L[qi] + (((L[qi + 1] - L[qi]) * f + 32) >> 6);
		}
		out[j] = (uint8_t)o;
	}
}

/* ---- FIR register areas ---- */

struct coeff_slot {
	uint8_t byte;
	uint8_t bits;
};

const coeff_slot coeff_slots[24] = {
    {0, 5},  {1, 5},  {2, 5},  {3, 5},  {4, 5},  {5, 5},  {6, 5},  {7, 5},
    {8, 6},  {9, 6},  {10, 6}, {11, 6}, {12, 6}, {13, 5}, {14, 5}, {15, 6},
    {16, 7}, {18, 8}, {20, 7}, {22, 6}, {23, 5}, {24, 5}, {25, 6}, {27, 8},
};

} // namespace

void ik_put_bits(uint8_t *p, unsigned bytes, unsigned shift, unsigned width, uint64_t v)
{
	put_bits(p, bytes, shift, width, v);
}

int32_t img_dsp_core_clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : img_dsp_core_min(v, hi);
}

void convert_shpbc_fir_hw_config_one_dir(uint8_t *area, int fir, int dir, uint32_t shift, const int32_t *k)
{
	if (dir < 0 || dir > 8) {
		IK_ERROR("Error! Unknown FIR dir %d\n", dir);
		return;
	}
	if (fir < 0 || fir > 1)
		return;
	uint8_t *rec = area + 48 + 288 * fir + 32 * dir;
	for (int n = 0; n < 24; n++)
		put_bits(rec + coeff_slots[n].byte, 1, 0, coeff_slots[n].bits, (uint32_t)k[n]);
	put_bits(rec + 28, 4, 8, 9, (uint32_t)k[24]);
	put_bits(area + 24 + 8 * fir, 8, 5 * dir, 3, shift & 7u);
}

int img_dsp_core_pack_video_mctf_table(const img_dsp_mctf_pack_record *rec,
                                       const img_dsp_mctf_table_pair *tables)
{
	uint8_t *t = tables->mctf;
	img_dsp_video_mctf m;
	memcpy(&m, rec->video_mctf, sizeof(m));
	channel_view v[CHANNELS];
	view_channels(rec, m, v);

	put_fixed(t);
	uint8_t blend = 255;
	for (int c = 0; c < CHANNELS; c++) {
		put_spatial(t, c, v[c]);
		int32_t s = blend_strength(rec, m.enable, c, v[c]);
		const curve_shape *shape = shapes[c == CH_Y ? 0 : 1];
		t[T_MAX_CHANGE_B + c] = put_blend_curve(t + T_CURVE_B + CURVE_LEN * c, shape[0], s);
		t[T_MAX_CHANGE_C + c] = put_blend_curve(t + T_CURVE_C + CURVE_LEN * c, shape[1], s);
		if (c == CH_Y)
			blend = (uint8_t)interp(sharpen_blend, s);
		put_temporal_curve(t + T_CURVE_D + CURVE_LEN * c, rec, c, v[c].curve);
		put_limits(t, rec, m.enable, c, v[c]);
		put_temporal_adjust(t, rec, c, v[c]);
	}
	put_adjust_once(t, rec, m);
	put_final_sharpen(tables->final_sharpen, rec, m, blend);
	for (int c = 0; c < CHANNELS; c++)
		put_temporal_level(t, c, v[c]);

	const img_dsp_wb_gain *wb = rec->wb_gain;
	uint64_t f = m.frame_brightness != 0 ? m.frame_brightness : 4096u;
	uint32_t b = (uint32_t)(((uint64_t)wb->GlobalDGain * ((uint64_t)wb->AeGain * f)) >> 12);
	uint32_t prev = *rec->prev_brightness != 0 ? *rec->prev_brightness : b;
	put_ref_remap(t + T_REF_REMAP, rec, b, prev);
	*rec->prev_brightness = b;
	return 0;
}

/* ---- alpha blocks ---- */

#define ALPHA_BLOCK_SIZE 528u

static void put_ramp16(uint8_t *dst, uint8_t t0, uint8_t t1, uint8_t max, uint8_t min)
{
	uint8_t ramp[CURVE_LEN];
	img_dsp_core_fill_ramp(ramp, min, t0, t1, CURVE_LEN, max, 0);
	for (int i = 0; i < CURVE_LEN; i++) {
		uint16_t e = ramp[i];
		memcpy(dst + 2 * i, &e, 2);
	}
}

void img_dsp_core_mctf_alpha_block(uint8_t *block, const uint8_t p[5])
{
	memset(block, 0, ALPHA_BLOCK_SIZE);
	for (unsigned copy = 0; copy < 3; copy++)
		put_ramp16(block + 128 * copy, p[0], p[1], p[2], p[3]);
	const uint16_t all = 0xFFFF;
	memcpy(block + 512, &all, 2);
	block[520] = block[521] = block[522] = p[4];
	block[523] = 1;
}

void img_dsp_core_mctf_alpha_block_pair(uint8_t *block, const uint8_t p[10])
{
	memset(block, 0, ALPHA_BLOCK_SIZE);
	put_ramp16(block + 128, p[0], p[2], p[4], p[6]);
	put_ramp16(block + 256, p[1], p[3], p[5], p[7]);
	block[521] = p[8];
	block[522] = p[9];
	const uint16_t all = 0xFFFF;
	memcpy(block + 512, &all, 2);
	block[523] = 3;
}

/* ---- the builder's inputs ---- */

void ik_mctf_b_input(const ik_filter_blocks *blk, img_dsp_video_mctf *out)
{
	img_dsp_video_mctf_b b;
	img_dsp_video_mctf_b_level level;
	memcpy(out, blk->video_mctf, sizeof(*out));
	memcpy(&b, blk->video_mctf_b, sizeof(b));
	memcpy(&level, blk->video_mctf_b_level, sizeof(level));
	out->y_curve = b.y_temporal;
	out->y_spat_smth_dir = b.y_spat_smth_dir;
	out->y_spat_smth_iso = b.y_spat_smth_iso;
	out->y_overall_max_change = b.y_overall_max_change;
	out->y_spat_smth_wide_edge_detect = b.y_spat_smth_wide_edge_detect;
	out->y_spat_smth_edge_thresh = b.y_spat_smth_edge_thresh;
	out->y_strength_3d = b.y_strength_3d;
	out->y_combine_strength = b.y_combine_strength;
	out->y_temporal_max_change = b.y_temporal_max_change;
	out->y_spatial_max_change = b.y_spatial_max_change;
	memcpy(out->y_level_table, b.y_spatial_weighting, sizeof(out->y_level_table));
	out->y_temporal_max_change_not_t0_t1_level_based = level.y_temporal_max_change_not_t0_t1_level_based;
	out->y_temporal_either_max_change_or_t0_t1_add = level.y_temporal_either_max_change_or_t0_t1_add;
}

int ik_mctf_pack_context(ik_filter_blocks *blk, bool advanced, bool mctf_b, uint8_t *mctf,
                         uint8_t *final_sharpen)
{
	if (!mctf || !final_sharpen)
		return 0;
	img_dsp_video_mctf main_block, b_block;
	img_dsp_internal_video_mctf internal;
	img_dsp_video_mctf_temporal_adjust ta;
	img_dsp_video_mctf_temporal_adjust_y ch[3];
	img_dsp_tone_curve tone;
	memcpy(&main_block, blk->video_mctf, sizeof(main_block));
	memcpy(&internal, blk->internal_video_mctf, sizeof(internal));
	memcpy(&ta, blk->mctf_temporal_adjust, sizeof(ta));
	memcpy(&ch[0], blk->mctf_temporal_adjust_y, sizeof(ch[0]));
	memcpy(&ch[1], blk->mctf_temporal_adjust_cb, sizeof(ch[1]));
	memcpy(&ch[2], blk->mctf_temporal_adjust_cr, sizeof(ch[2]));
	memcpy(&tone, blk->tone_curve, sizeof(tone));
	if (mctf_b)
		ik_mctf_b_input(blk, &b_block);
	img_dsp_mctf_pack_record rec;
	rec.prev_brightness = &blk->mctf_prev_brightness;
	rec.wb_gain = &blk->wb_gain;
	rec.video_mctf = mctf_b ? &b_block : &main_block;
	rec.internal_video_mctf = &internal;
	rec.temporal_adjust = &ta;
	rec.temporal_adjust_y = &ch[0];
	rec.temporal_adjust_cb = &ch[1];
	rec.temporal_adjust_cr = &ch[2];
	rec.cc_table = blk->cc_table_copy;
	rec.tone_curve = &tone;
	rec.advanced_layout = advanced || mctf_b ? 1 : 0;
	rec.mctf_b = mctf_b ? 1 : 0;
	rec.run_count = blk->motion_detect_runs;
	rec.alpha_ref = mctf_b ? main_block.y_curve.temporal_alpha0 : 0;
	rec.fast_start = blk->internal_motion_detect[IK_IMD_FAST_START];
	rec.remap_inverse = blk->mctf_remap_inverse;
	const img_dsp_mctf_table_pair tables = {mctf, final_sharpen};
	return img_dsp_core_pack_video_mctf_table(&rec, &tables);
}

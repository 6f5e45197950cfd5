/* Sharpen and filter hardware conversions. */
#include "ik_shp_hw.h"
#include "ik_asf.h"
#include "ik_core.h"
#include "ik_fir.h"
#include "ik_helpers.h"
#include "ik_math.h"

#include <math.h>
#include <string.h>

/*
 * Every caller passes selectors 0, for which each scaling factor is 1.0 and
 * the entries keep the levels: entry 4i of the first 256 bytes holds level a
 * and entry 256 + 4i level b. Other bytes are left to the caller, which has
 * cleared them. The curves for other selectors are not known here, so such
 * a call writes nothing.
 */
int img_dsp_core_gen_strength_table(uint8_t *table, uint8_t level_a, uint8_t level_b, uint8_t sel_h,
                                    uint8_t sel_s, uint8_t)
{
	if (sel_h != 0 || sel_s != 0) {
		IK_WARN("strength selectors %d %d are not supported\n", sel_h, sel_s);
		return -1;
	}
	for (int i = 0; i < 64; i++) {
		table[4 * i] = level_a;
		table[256 + 4 * i] = level_b;
	}
	return 0;
}

namespace
{

template <typename T> void pack_5bit(const T *s, uint8_t *dst, uint8_t mode)
{
	for (int i = 0; i < 64; i++) {
		const T *e = s + 4 * i;
		if (mode == 0) {
			uint32_t w = (uint32_t)e[0] + ((uint32_t)e[1] << 5) + ((uint32_t)e[2] << 10) +
			             ((uint32_t)e[3] << 15);
			memcpy(dst + 4 * i, &w, 4);
		} else if (mode == 1) {
			uint32_t w;
			memcpy(&w, dst + 8 * i, 4);
			w = (w & 0xFFF00000u) | (e[0] & 31u) | ((e[1] & 31u) << 5) | ((e[2] & 31u) << 10) |
			    ((e[3] & 31u) << 15);
			memcpy(dst + 8 * i, &w, 4);
		}
	}
}

/* Rounds half away from zero and bounds to a level strength. */
uint32_t level_strength(double x)
{
	double r = x < 0 ? -floor(-x + 0.5) : floor(x + 0.5);
	return r < 0 ? 0u : r > 16 ? 16u : (uint32_t)r;
}

} // namespace

void pack_5bit_table(const uint8_t *src, uint8_t *dst, uint8_t mode)
{
	pack_5bit(src, dst, mode);
}

void pack_5bit_table_u32(const uint32_t *src, uint8_t *dst, uint8_t mode)
{
	pack_5bit(src, dst, mode);
}

void level_from_t0_t1(ik_expanded_level *out, uint8_t t0, uint8_t t1, uint8_t alpha_min, uint8_t alpha_max)
{
	static const uint8_t low_delta[16] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3};
	static const uint8_t high_step[16] = {1, 1, 1, 2, 2, 4, 4, 5, 4, 8, 8, 9, 8, 9, 10, 11};
	static const uint8_t high_delta[16] = {0, 0, 0, 0, 1, 0, 1, 1, 2, 0, 1, 1, 2, 2, 2, 2};
	static const double fraction[16] = {1.0,         1.0,         0.5,         0.666666667, 0.5, 0.8,
	                                    0.666666667, 0.666666667, 0.5,         0.875,       0.8, 0.8,
	                                    0.666666667, 0.666666667, 0.666666667, 0.666666667};
	/* The checks keep T1 - T0 within 0..15; bound it so a block that
	 * slipped past them cannot index beyond the rule. */
	int d = (int)t1 - (int)t0;
	d = d < 0 ? 0 : d > 15 ? 15 : d;
	out->low = t0;
	out->low_delta = low_delta[d];
	out->high = (uint32_t)t0 + high_step[d];
	out->high_delta = high_delta[d];
	out->low_strength = level_strength(16.0 - alpha_min);
	out->mid_strength = level_strength(((double)alpha_min - alpha_max) * fraction[d] + 16.0 - alpha_min);
	out->high_strength = level_strength(16.0 - alpha_max);
	out->method = 2;
	uint32_t low0 = out->low + (1u << out->low_delta);
	uint32_t high0 = out->high + (1u << out->high_delta);
	out->low0 = low0 > 255 ? 255 : low0;
	out->high0 = high0 > 255 ? 255 : high0;
}

void level_block_from_expanded(ik_level_block *dst, const ik_expanded_level *src)
{
	dst->low = (uint8_t)src->low;
	dst->low_0 = (uint8_t)src->low0;
	dst->low_val = (uint8_t)src->low_strength;
	dst->high = (uint8_t)src->high;
	dst->high_0 = (uint8_t)src->high0;
	dst->high_val = (uint8_t)src->high_strength;
	dst->base_val = (uint8_t)src->mid_strength;
	dst->deltas =
	    (uint8_t)((dst->deltas & 0xC0u) | (src->low_delta & 7u) | ((src->high_delta & 7u) << 3));
}

int32_t img_dsp_core_s13_extra_bits(void)
{
	return 0;
}

int32_t img_dsp_core_s13_max(void)
{
	return 4095;
}

int32_t img_dsp_core_s13_min(void)
{
	return -4096;
}

/* ---- conversions nothing calls ------------------------------------------ */

void level_set_breakpoints(ik_expanded_level *lv)
{
	lv->low0 = lv->low + (1u << (lv->low_delta & 31u));
	lv->high0 = lv->high + (1u << (lv->high_delta & 31u));
}

void pack_nibbles(const uint8_t *in, uint8_t *out)
{
	for (int i = 0; i < 4096; i++)
		out[i] = (uint8_t)(in[2 * i] + ((in[2 * i + 1] & 15u) << 4));
}

int32_t check_six_coefs(const int32_t *c)
{
	for (int i = 0; i < 6; i++) {
		int32_t lim = i < 4 ? 16 : 32;
		if (c[i] < -lim || c[i] > lim - 1)
			return i;
	}
	return 100;
}

void fir_kernel_from_ten(const int16_t *ten, int32_t *out, uint32_t *shift)
{
	uint16_t full[25];
	fir_expand_symmetric((const uint16_t *)ten, full, 25);
	for (int k = 0; k < 25; k++)
		out[k] = (int16_t)full[k];
	*shift = 4;
}

int32_t fir_kernel_gain(const int16_t *c)
{
	return 4 * c[0] + 8 * c[1] + 8 * c[2] + 4 * c[3] + 4 * c[4] + 8 * c[5] + 4 * c[6] + 4 * c[7] +
	       4 * c[8] + c[9];
}

void level_flat(ik_expanded_level *lv, uint32_t s)
{
	memset(lv, 0, sizeof(*lv));
	lv->low0 = 1;
	lv->high = 10;
	lv->high0 = 11;
	lv->low_strength = lv->mid_strength = lv->high_strength = s;
}

/* Bytes 4..29 of the full form: id, the curve, the flag and the signed
 * 13-bit bounds (smallest twice, then largest twice). */
void level_reg_full(uint8_t *reg, uint8_t id, const uint8_t curve[9], bool flag)
{
	memset(reg + 4, 0, IK_LEVEL_REG_SIZE - 4);
	reg[8] = id;
	memcpy(reg + 12, curve, 9);
	reg[21] = flag;
	const int16_t bounds[4] = {(int16_t)img_dsp_core_s13_min(), (int16_t)img_dsp_core_s13_min(),
	                           (int16_t)img_dsp_core_s13_max(), (int16_t)img_dsp_core_s13_max()};
	memcpy(reg + 22, bounds, sizeof(bounds));
}

namespace
{

void level_reg_default(uint8_t *reg, uint8_t id, uint8_t strength, uint32_t flag)
{
	const uint8_t curve[9] = {10, 12, 1, strength, 20, 22, 1, strength, strength};
	level_reg_full(reg, id, curve, flag == 2);
}

uint64_t ratio(uint64_t a, uint64_t b)
{
	return b ? a / b : 0;
}

} // namespace

void level_reg_default_2(uint8_t *reg, uint32_t flag)
{
	level_reg_default(reg, 2, 48, flag);
}

void level_reg_default_1(uint8_t *reg, uint32_t flag)
{
	level_reg_default(reg, 1, 0, flag);
}

void level_reg_default_7(uint8_t *reg, uint32_t flag)
{
	level_reg_default(reg, 7, 16, flag);
}

void split_count(const int16_t *values, uint32_t count, ik_count_split *out)
{
	static const uint32_t most[5] = {53, 38, 0, 224, 128};
	for (int i = 0; i < 16; i++)
		out->values[i] = values[i];
	for (int i = 0; i < 5; i++) {
		out->parts[i] = count < most[i] ? count : most[i];
		count -= out->parts[i];
	}
	out->fourth_plus_32 = out->parts[3] + 32;
}

void asf_default_working(ik_asf_working *w, const uint32_t *rec)
{
	memset(w, 0, sizeof(*w));
	w->enable = 1;
	w->fir.specify = 2;
	w->fir.strength_iso = (uint16_t)img_dsp_core_div_round64((int64_t)rec[44] * 192, 224);
	w->fir.strength_dir = (uint16_t)rec[45];
	w->adapt.T1Up = 2;
	w->adapt.T1Down = 2;
	w->max_change_up = 255;
	level_flat(&w->level_str_adjust, 64);
	level_flat(&w->t0t1_div, 0);
	w->directional_decide_t0 = 20;
	w->directional_decide_t1 = 40;
}

void default_kernel_record(ik_default_kernel *k)
{
	memset(k, 0, sizeof(*k));
	k->lead = -1;
	k->shift = 4;
	for (int i = 0; i < 9; i++)
		k->kernel[i] = -60;
	k->kernel[9] = 2880;
	k->tail[0] = 2;
	k->tail[1] = 1;
	level_flat(&k->level, 128);
}

uint32_t choose_block_size(const ik_block_mode *mode, const ik_block_window *win)
{
	bool sized = (mode->mode == 0 && mode->second == 0) || (mode->mode == 1 && (mode->flags & 2u));
	if (!sized)
		return 128;
	uint64_t w = (uint32_t)(win->x1 - win->x0), h = (uint32_t)(win->y1 - win->y0);
	uint64_t h1 = ratio(win->s * h, win->q) >> 16;
	uint64_t h2 = (65535u + ((h * win->fy) >> 16)) >> 16;
	uint64_t w1 = ratio(win->r * w, win->p) >> 16;
	uint64_t w2 = (65535u + ((w * win->fx) >> 16)) >> 16;
	uint64_t m = h1 < h2 ? h1 : h2;
	if (w1 == 0 || w2 == 0 || m == 0)
		return 128;
	if (win->fy > 0x80000u)
		return 32;
	uint64_t th = ratio(192 * h2, h1), tw = ratio(192 * w2, w1);
	uint64_t t = th < tw ? th : tw;
	if (t < 32)
		t = 32;
	if (t > 128)
		return (m >> 3) < 32 ? 32 : 128;
	if (t > 64)
		return (m >> 2) < 32 ? 32 : 64;
	return 32;
}

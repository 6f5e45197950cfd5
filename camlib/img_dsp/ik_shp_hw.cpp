/* Sharpen and filter hardware conversions. */
#include "ik_shp_hw.h"
#include "ik_core.h"
#include "ik_helpers.h"

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

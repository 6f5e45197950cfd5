/*
 * Integer maths of the image-DSP library. The rounding of each routine
 * decides the bits that reach the DSP, so intermediate products are taken in
 * 64 bits where a 32-bit product could overflow and the result is then
 * narrowed as the DSP formats expect.
 */
#include "ik_math.h"

#include "ik_core.h"

#include <stdint.h>

int32_t img_dsp_core_abs(int32_t a)
{
	if (a >= 0 || a == INT32_MIN)
		return a;
	return -a;
}

int32_t img_dsp_core_max(int32_t a, int32_t b)
{
	return a > b ? a : b;
}

int32_t img_dsp_core_min(int32_t a, int32_t b)
{
	return a < b ? a : b;
}

int64_t img_dsp_core_div_round64(int64_t a, int64_t b)
{
	if (b == 0)
		return 0;
	if (b == -1)
		return (int64_t)(0 - (uint64_t)a);
	if (a > 0)
		return (a + b / 2) / b;
	return (a - b / 2) / b;
}

int32_t img_dsp_core_div_round(int32_t a, int32_t b)
{
	return (int32_t)img_dsp_core_div_round64(a, b);
}

int32_t img_dsp_core_round_double(double d)
{
	int32_t r = (int32_t)((d < 0 ? -d : d) + 0.5);
	return d < 0 ? -r : r;
}

int64_t img_dsp_core_rounded_reciprocal(int32_t v, uint32_t s)
{
	if (v == 0)
		return 0;
	int64_t one = (int64_t)(1ULL << (s % 64));
	return (one + v / 2) / v;
}

void img_dsp_core_normalized_reciprocal(int32_t v, int32_t *s, int32_t *r)
{
	*s = 0;
	*r = 0;
	if (v == 0)
		return;
	for (int32_t shift = 31; shift >= 0; shift--) {
		int64_t rec = img_dsp_core_rounded_reciprocal(v, (uint32_t)shift);
		if (rec < 256) {
			*s = shift;
			*r = (int32_t)rec;
			return;
		}
	}
}

int32_t img_dsp_core_round_up_multiple(int32_t a, int32_t b, int32_t floor)
{
	int32_t m = b == 0 ? 0 : (int32_t)(((int64_t)a + b - 1) / b * b);
	return img_dsp_core_max(floor, m);
}

static int32_t clamp32(int32_t v, int32_t lo, int32_t hi)
{
	return img_dsp_core_min(img_dsp_core_max(v, lo), hi);
}

int32_t img_dsp_core_linear_map(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t v)
{
	int64_t num = (int64_t)(clamp32(v, x0, x1) - x0) * (y1 - y0);
	return y0 + (int32_t)img_dsp_core_div_round64(num, (int64_t)x1 - x0);
}

static int32_t interp_segment(const int32_t *x, const int32_t *y, int32_t k, int32_t v)
{
	int64_t num = (int64_t)(y[k + 1] - y[k]) * (v - x[k]);
	return y[k] + (int32_t)img_dsp_core_div_round64(num, (int64_t)x[k + 1] - x[k]);
}

int32_t img_dsp_core_interp_table(int32_t n, const int32_t *x, const int32_t *y, int32_t v)
{
	if (n < 2)
		return y[0];
	if (v <= x[1])
		return interp_segment(x, y, 0, v);
	for (int32_t k = 1; k <= n - 2; k++) {
		if (x[k + 1] >= v)
			return interp_segment(x, y, k, v);
	}
	return y[n - 1];
}

int32_t img_dsp_core_curve_lookup2(int32_t v, const uint16_t *c1, const uint16_t *c2)
{
	int32_t i = v >> 7;
	int64_t f = (int64_t)(v & 127) << 9;
	int64_t u;
	if (v & (1 << 22))
		u = (int64_t)c2[0] << 10;
	else if (i > 254)
		u = (int64_t)c2[255] << 10;
	else
		u = ((int64_t)c2[i] << 10) + ((((int64_t)c2[i + 1] - c2[i]) * f) >> 6);
	if (u < 0)
		return img_dsp_core_div_round(c1[0] * 4095, 65536);
	int64_t j = u >> 14;
	int64_t g = u & 0x3FFF;
	if (j >= 1023) {
		j = 1023;
		g = 0;
	}
	int64_t val = c1[j];
	/* The last entry has no successor: with g = 0 the step adds nothing. */
	if (g != 0)
		val += (((int64_t)c1[j + 1] - c1[j]) * g + 8192) >> 14;
	return (int32_t)img_dsp_core_div_round64(val * 4095, 65536);
}

void img_dsp_core_fill_ramp(uint8_t *out, int32_t a_min, int32_t t0, int32_t t1, int32_t count, int32_t a_max,
                            int half)
{
	int32_t a = half ? t0 / 2 : t0;
	int32_t b = half ? t1 / 2 : t1;
	if (count - 1 == a) {
		for (int32_t i = 0; i <= a; i++)
			out[i] = 0;
		return;
	}
	int32_t lo = img_dsp_core_min(count - 2, a);
	int32_t hi = img_dsp_core_min(count - 1, b);
	for (int32_t i = 0; i < lo; i++)
		out[i] = (uint8_t)a_min;
	int32_t n = hi - lo;
	int32_t acc = 0;
	int32_t end = img_dsp_core_min(count, hi);
	for (int32_t i = img_dsp_core_max(lo, 0); i < end; i++) {
		out[i] = (uint8_t)((n == 0 ? 0 : acc / n) + a_min);
		acc += a_max - a_min;
	}
	for (int32_t i = img_dsp_core_max(hi, 0); i < count; i++)
		out[i] = (uint8_t)a_max;
}

void img_dsp_core_conv7x7(const int32_t *a, const int32_t *b, int32_t *out, int32_t s)
{
	int64_t rnd = s > 0 ? (int64_t)1 << (s - 1) : 0;
	for (int y = 0; y < 7; y++) {
		for (int x = 0; x < 7; x++) {
			int64_t sum = 0;
			for (int i = 0; i < 7; i++) {
				int by = y - i + 3;
				if (by < 0 || by > 6)
					continue;
				for (int j = 0; j < 7; j++) {
					int bx = x - j + 3;
					if (bx < 0 || bx > 6)
						continue;
					sum += (int64_t)a[i * 7 + j] * b[by * 7 + bx];
				}
			}
			out[y * 7 + x] = (int32_t)((sum + rnd) >> s);
		}
	}
}

static int64_t divisor_error(int32_t r, int32_t d)
{
	int64_t target = (int64_t)r * 8192;
	int64_t e = target - (int64_t)d * img_dsp_core_div_round64(target, d);
	return e < 0 ? -e : e;
}

int32_t img_dsp_core_best_divisor(int32_t r, int32_t f)
{
	int32_t d0 = (int32_t)img_dsp_core_div_round64((int64_t)r * 32, f);
	int64_t best_err = divisor_error(r, d0);
	if (best_err < 8)
		return d0;
	int32_t best = d0;
	for (int32_t d = d0 + 1; d <= d0 + 99; d++) {
		int64_t e = divisor_error(r, d);
		if (e < 8)
			return d;
		if (e < best_err) {
			best_err = e;
			best = d;
		}
	}
	return best;
}

void img_dsp_core_calc_chroma_size(int32_t w_in, int32_t h_in, int32_t w_out, int32_t h_out, int32_t format,
                                   int32_t *out_w, int32_t *out_h)
{
	int32_t rx = w_in == 0 ? 0 : (int32_t)(((int64_t)w_out << 13) / w_in);
	int32_t ry = h_in == 0 ? 0 : (int32_t)(((int64_t)h_out << 13) / h_in);
	int32_t dx = img_dsp_core_best_divisor(rx, format);
	int32_t dy = ry == rx ? dx : img_dsp_core_best_divisor(ry, format);
	*out_w = (int32_t)((32767 + (int64_t)w_out * dx) / 32768 * 4);
	*out_h = (int32_t)((32767 + (int64_t)h_out * dy) / 32768 * 4);
}

int img_dsp_core_calc_decimation_factors(uint16_t w, uint8_t k, uint8_t f[3])
{
	int32_t a = img_dsp_core_min(w >> 5, 64);
	int32_t b = w / 100;
	int32_t t = b + (((a - b) * k) >> 5);
	int32_t m;
	int32_t s;
	if (t > 64) {
		m = 4;
		s = t >> 2;
	} else if (t > 32) {
		m = 2;
		s = t >> 1;
	} else {
		m = 1;
		if (t <= 5) {
			f[0] = (uint8_t)t;
			f[1] = 1;
			f[2] = 1;
			return 0;
		}
		s = t;
	}
	int32_t r = (int32_t)ik_fn()->sqrt((double)((float)s + 0.5f));
	f[1] = (uint8_t)r;
	f[2] = (uint8_t)m;
	f[0] = (uint8_t)(r * m == 0 ? 0 : t / (r * m));
	return 0;
}

int img_dsp_core_default_decimation_factors(uint16_t w, uint8_t f[3])
{
	int32_t t = (w * 10) & 0xFFFE;
	if (t > 2560) {
		int32_t u = t >> 3;
		f[0] = 8;
		f[2] = 1;
		if (u > 2560) {
			f[1] = 8;
			f[2] = (t >> 6) > 640 ? 2 : 1;
		} else if (u > 1280) {
			f[1] = 4;
		} else if (u > 640) {
			f[1] = 2;
		} else {
			f[1] = 1;
		}
		return 0;
	}
	f[0] = t > 1280 ? 4 : (t >= 641 ? 2 : 1);
	f[1] = 1;
	f[2] = 1;
	return 0;
}

struct value_table {
	const int8_t *v;
	int32_t n;
};

static int32_t table_lookup(const value_table *tables, int32_t count, int32_t i, int32_t table)
{
	if (table < 0 || table >= count || i < 0 || i >= tables[table].n)
		return -1;
	return tables[table].v[i];
}

int32_t img_dsp_core_select_table_value(int32_t i, int32_t table)
{
	static const int8_t t0[] = {0, 1, -1, 4};
	static const int8_t t1[] = {0, 1, 0, 0};
	static const int8_t t2[] = {6, 7, 12, 2, 10, 14, 9, 10, 12, -2, 14, 15, 2, 16, 17};
	static const int8_t t3[] = {2, 7};
	static const int8_t t4[] = {0, 3, -1, 4};
	static const int8_t t5[] = {6, 7, -1, 2, -1, -1, -1, 10};
	static const int8_t t6[] = {2, 7, -1, 2, -1, -1, -1, 10, 12, -2, 14, 15, 2, 16, 17};
	static const value_table tables[] = {
	    {t0, 4}, {t1, 4}, {t2, 15}, {t3, 2}, {t4, 4}, {t5, 8}, {t6, 15},
	};
	return table_lookup(tables, 7, i, table);
}

int32_t img_dsp_core_select_table_value_ex(int32_t i, int32_t table)
{
	static const int8_t t0[] = {0, 1, 4, 4};
	static const int8_t t1[] = {0, 1, 0, 0};
	static const int8_t t2[] = {6, 7, 12, 8, -1, -1, -1, -1, -1, -1, -1, 2};
	static const int8_t t3[] = {2, 7, 12, 8, -1, -1, -1, -1, -1, -1, -1, 2};
	static const int8_t t4[] = {0, 3, -1, 4};
	static const value_table tables[] = {{t0, 4}, {t1, 4}, {t2, 12}, {t3, 12}, {t4, 4}};
	if (table == -1)
		return i;
	return table_lookup(tables, 5, i, table);
}

int32_t img_dsp_core_align16_calc(int32_t a, int32_t b)
{
	if (b == -1) {
		int32_t t = (int32_t)(((int64_t)a * 782 + 4000) / 8000 * 8 + 8);
		return t / 16 * 16;
	}
	if (b < 0) {
		int64_t num = (int64_t)a * 8192;
		int64_t den = -16 * (int64_t)b;
		int64_t q = num >= 0 ? (num + den - 1) / den : num / den;
		return (int32_t)(16 * q);
	}
	return (b + 8) / 16 * 16;
}

static uint32_t curve_map10(const uint16_t *c, uint16_t v)
{
	int32_t i = v >> 6;
	int32_t r;
	if (i > 254)
		r = c[255];
	else
		r = c[i] + (((c[i + 1] - c[i]) * (v & 63) + 32) >> 6);
	return (uint32_t)clamp32(r, 0, 1023);
}

void img_dsp_core_build_3d_lut(uint32_t *out, const uint16_t *curve, const uint16_t *grid)
{
	for (int r = 0; r < 16; r++)
		for (int g = 0; g < 16; g++)
			for (int b = 0; b < 16; b++)
				out[(r * 16 + g) * 16 + b] = curve_map10(curve, grid[r]) |
				                             curve_map10(curve, grid[g]) << 10 |
				                             curve_map10(curve, grid[b]) << 20;
}

void img_dsp_core_build_ramp_lut(const uint8_t p[4], uint32_t out[256])
{
	for (int32_t i = 0; i < 256; i++) {
		uint32_t lo = (uint32_t)img_dsp_core_linear_map(3 * p[0] / 4, 3 * p[2] / 4, 0, 1023, i);
		uint32_t mid = (uint32_t)img_dsp_core_linear_map(p[0], p[2], 0, 1023, i);
		uint32_t hi = (uint32_t)img_dsp_core_linear_map(p[1], p[3], 0, 1023, i);
		out[i] = (lo & 1023) | (mid & 1023) << 10 | (hi & 1023) << 20;
	}
}

void img_dsp_core_unpack_3d_lut(const uint32_t *packed, uint16_t *out)
{
	for (int i = 0; i < 4096; i++) {
		out[3 * i] = packed[i] & 1023;
		out[3 * i + 1] = (packed[i] >> 10) & 1023;
		out[3 * i + 2] = (packed[i] >> 20) & 1023;
	}
}

void img_dsp_core_build_curve_table(int32_t out[416], const uint16_t *c1, const uint16_t *c2)
{
	static const struct {
		int32_t count, step;
	} blocks[] = {
	    {32, 8}, {32, 8}, {32, 16}, {32, 32}, {32, 64}, {64, 64}, {64, 128}, {64, 256}, {64, 512},
	};
	int32_t v = 0;
	int n = 0;
	for (const auto &blk : blocks) {
		for (int32_t k = 0; k < blk.count; k++) {
			out[n++] = img_dsp_core_curve_lookup2(v, c1, c2);
			v += blk.step;
		}
	}
}

void img_dsp_core_pack_record8(const uint8_t *src, uint8_t *dst)
{
	static const int pick[7] = {12, 13, 15, 16, 17, 19, 20};
	for (int i = 0; i < 7; i++)
		dst[i] = src[pick[i]];
	dst[7] = (uint8_t)((src[14] & 7) | (src[18] & 7) << 3 | (src[21] & 3) << 6);
}

void img_dsp_core_search_ratio(int32_t v, int32_t d, int32_t *candidate, uint32_t *inverse, int32_t q,
                               int32_t step)
{
	int32_t base = (int32_t)img_dsp_core_div_round64((int64_t)v << 13, d);
	if (step != 0)
		base &= ~1;
	uint64_t best_dist = UINT64_MAX;
	*candidate = base;
	*inverse = 0;
	for (int64_t c = base; c < (int64_t)base + 150; c += step + 1) {
		int64_t x = img_dsp_core_div_round64(c << 26, q);
		if (x <= 0)
			continue;
		uint64_t inv = (uint64_t)img_dsp_core_div_round64(INT64_C(1) << 62, x) << 9;
		uint64_t frac = inv & 0xFFFFFFFFu;
		uint64_t dist = frac < 0x80000000u ? frac : 0x100000000u - frac;
		if (dist < best_dist) {
			best_dist = dist;
			*candidate = (int32_t)c;
			*inverse = (uint32_t)((inv + 0x80000000u) >> 32);
		}
		if (step < 0)
			break;
	}
}

/* HDR curves, tables and statistics linearisation. Float arithmetic as the
 * tables are specified; every table is written in place, nothing is
 * allocated per frame. */
#include "img_hdr_curves.h"

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "img_hdr_state.h"
#include "smooth_change.h"

#include <math.h>
#include <string.h>

/* ---- knots and ratios ---- */

static constexpr hdr_knot_table make_knots()
{
	hdr_knot_table t{};
	int i = 0;
	struct {
		uint32_t end, step;
	} const runs[] = {{1024, 16}, {2048, 32}, {4096, 64}, {16384, 128}, {32768, 256}, {65024, 512}};
	uint32_t x = 0;
	t.v[i++] = 0;
	for (const auto &r : runs)
		for (; x < r.end;)
			t.v[i++] = (uint16_t)(x += r.step);
	t.v[i++] = 65535;
	return t;
}

const hdr_knot_table img_hdr_knot_table = make_knots();
static_assert(make_knots().v[352] == 65535 && make_knots().v[351] == 65024 && make_knots().v[64] == 1024,
              "knot table");

static bool chan_in_store(int c)
{
	return c >= 0 && c < IMG_MAX_CHANNELS;
}

float hdr_ratio(int c, int e)
{
	img_hdr_ratio r;
	if (img_hdr_calc_ratio(&r, e, hdr_expo_num(c) - 1, &hdr_ch(c)->blend) < 0)
		return 1.0f;
	return ldexpf((float)r.num, -(int)r.shift);
}

const uint16_t *hdr_active_lut(int c, int e)
{
	const hdr_chan *h = hdr_ch(c);
	return h->ext_lut.enable ? h->ext_lut.table[e] : h->lut[e];
}

const uint16_t *hdr_active_drc(int c, int e)
{
	const hdr_chan *h = hdr_ch(c);
	return h->ext_drc.enable ? h->ext_drc.table[e] : h->drc[e];
}

static int last_expo(int c)
{
	return hdr_expo_num(c) - 1;
}

static uint16_t clamp_u16(int64_t v)
{
	return (uint16_t)(v < 0 ? 0 : (v > 65535 ? 65535 : v));
}

static uint16_t clamp_u16f(float v)
{
	if (!(v > 0.0f))
		return 0;
	return v >= 65535.0f ? 65535 : (uint16_t)v;
}

/* ---- curve primitives ---- */

/* 2^bits - 1; 0 for a depth no code fits, which every primitive answers
 * with 0 rather than a division by zero. */
static float max_code(int bits)
{
	return bits >= 1 && bits <= 31 ? (float)((1u << bits) - 1u) : 0.0f;
}

static float clampf(float v, float lo, float hi)
{
	if (!(v > lo))
		return lo;
	return v > hi ? hi : v;
}

uint32_t img_hdr_linearize(uint32_t code, int chan)
{
	if (!chan_in_store(chan))
		return 0;
	const hdr_iq_params *p = &img_hdr_store.iq[chan];
	float v = (float)(code >> 2);
	int n = (int)(p->seg_num > HDR_SEGMENTS ? HDR_SEGMENTS : p->seg_num);
	int k = 1;
	if (n > 1 && !(p->knee[1] > v)) {
		k = n;
		for (int i = 2; i < n; i++) {
			if (p->knee[i] > v) {
				k = i;
				break;
			}
		}
	}
	/* Past the last knee the last segment goes on; there is no slope 20. */
	if (k > HDR_SEGMENTS - 1)
		k = HDR_SEGMENTS - 1;
	float y = (v - p->offset[k]) * p->slope[k];
	if (!(y > 0.0f))
		return 0;
	return y >= 4294967040.0f ? UINT32_MAX : (uint32_t)y;
}

float img_hdr_log_map(float x, int bits, float a, float r)
{
	float m = max_code(bits);
	if (m == 0.0f || !(r > 0.0f))
		return 0.0f;
	float t = clampf(x, 0.0f, m) / m;
	if (!(a > 0.0f))
		return clampf(65535.0f * t / r, 0.0f, 65535.0f);
	return clampf(65535.0f * logf(1.0f + t * a / r) / logf(1.0f + a), 0.0f, 65535.0f);
}

float img_hdr_log_compress(float x, int bits, float a)
{
	float m = max_code(bits);
	if (m == 0.0f)
		return 0.0f;
	float xx = clampf(x, 0.0f, m);
	if (!(a > 0.0f))
		return xx;
	return clampf(m * logf(1.0f + xx / m * a) / logf(1.0f + a), 0.0f, m);
}

float img_hdr_exp_expand(float x, int bits, float a)
{
	float m = max_code(bits);
	if (m == 0.0f)
		return 0.0f;
	float xx = clampf(x, 0.0f, m);
	if (!(a > 0.0f))
		return xx;
	return clampf((powf(1.0f + a, xx / m) - 1.0f) * m / a, 0.0f, m);
}

float img_hdr_1st_strength_factor(int chan)
{
	if (!chan_in_store(chan))
		return 1.0f;
	float a = (float)hdr_ch(chan)->strength1[last_expo(chan)] / 4.0f;
	float r = hdr_ratio(chan, 0);
	if (r > 8.0f) {
		int t = (int)(r / 8.0f - 1.0f);
		a = ldexpf(a, t > 30 ? 30 : t);
	} else {
		a = a * r / 8.0f;
	}
	return clampf(a, 1.0f, 65536.0f);
}

float img_hdr_2nd_strength_factor(int chan)
{
	if (!chan_in_store(chan))
		return 1.0f;
	float a = (float)hdr_ch(chan)->strength2[last_expo(chan)] / 64.0f;
	float r = hdr_ratio(chan, 0);
	if (r > 8.0f)
		a = a * r / 8.0f;
	else if (r == 1.0f)
		a = a / 32.0f;
	return clampf(a, 1.0f, 65536.0f);
}

/* ---- log family ---- */

void img_hdr_build_log_lut(int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	const hdr_iq_params *iq = &img_hdr_store.iq[chan];
	int n = hdr_expo_num(chan);
	float a = img_hdr_1st_strength_factor(chan);
	/* The full-scale output of the last longer exposure, towards which the
	 * short exposure's dark part is lifted. */
	int32_t k_full = 0;
	for (int e = 0; e < n; e++) {
		float r = hdr_ratio(chan, e);
		if (r != 1.0f)
			k_full = (int32_t)img_hdr_log_map(65535.0f, 16, a, r);
		for (int i = 0; i < IMG_HDR_KNOTS; i++) {
			uint32_t x = img_hdr_knot_table.v[i];
			if (hdr_companded(chan, e)) {
				float lin = (float)img_hdr_linearize(x, chan);
				h->lut[e][i] = clamp_u16f(img_hdr_log_map(lin, (int)iq->bit_depth, a, r));
				continue;
			}
			int32_t y = (int32_t)img_hdr_log_map((float)x, 16, a, r);
			if (r == 1.0f && k_full > y && n == 2) {
				int32_t lifted = y * 95 / 100 + k_full * 5 / 100;
				int32_t low = k_full * 50 / 100;
				y = lifted < k_full ? lifted : k_full;
				y = y > low ? y : low;
			}
			h->lut[e][i] = clamp_u16(y);
		}
	}
}

void img_hdr_build_log_drc(int chan, uint32_t step_ratio)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	const hdr_iq_params *iq = &img_hdr_store.iq[chan];
	int n = hdr_expo_num(chan);
	float a = img_hdr_1st_strength_factor(chan);
	float b = (float)h->boost_strength[n - 1] / 4096.0f;
	float step = (float)step_ratio / 16.0f;
	/* The knees of the shaping; 0 (no boost, no ratio, no white level)
	 * leaves the input unshaped instead of dividing by zero. */
	float w = iq->white_level ? b * 65535.0f / (float)iq->white_level : 0.0f;
	float c = step > 0.0f ? b * 65535.0f / step : 0.0f;
	for (int e = 0; e < n; e++) {
		float r = hdr_ratio(chan, e);
		bool last = e == n - 1;
		for (int i = 0; i < IMG_HDR_KNOTS; i++) {
			float x = img_hdr_knot_table.v[i];
			float y;
			if (hdr_companded(chan, e)) {
				float t = (float)img_hdr_linearize((uint32_t)x, chan);
				if (w > 0.0f && t < w)
					t = t * t / w;
				y = img_hdr_log_map(t, (int)iq->bit_depth, a, r);
			} else {
				if (c > 0.0f && (last ? x > c : x < c))
					x = x * x / c;
				y = img_hdr_log_map(x, 16, a, r);
			}
			h->drc[e][i] = clamp_u16f(y);
		}
	}
}

/* ---- tone family ---- */

typedef struct tone_row {
	uint32_t x[HDR_TONE_POINTS + 1]; /* entry 0 the scale */
	uint32_t w[HDR_TONE_POINTS + 1]; /* entry 0 the reference weight */
} tone_row;

static const tone_row tone_rows[2] = {
    {{65536, 0, 768, 4096, 8192, 16384, 28672, 49152, 65536}, {120, 120, 135, 130, 128, 126, 132, 122, 120}},
    {{65536, 0, 64, 512, 4096, 16384, 28672, 49152, 65536}, {120, 120, 120, 120, 130, 126, 132, 122, 120}},
};

void img_hdr_calc_tone_points(uint32_t boost, int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	/* Four exposures have no row of their own: the three-exposure row. */
	const tone_row *row = &tone_rows[hdr_expo_num(chan) >= 3];
	for (int i = 1; i <= HDR_TONE_POINTS; i++) {
		uint64_t xs = (uint64_t)row->x[i] * 65536u / row->x[0];
		float x = (float)(xs > 65535 ? 65535 : xs);
		float y = x;
		if (boost != 0 && boost != 64) {
			float t =
			    (float)boost + expf(-x / 2048.0f) * (float)(boost / 8 > 16 ? boost / 8 : 16);
			float g = powf(x / 65535.0f, 64.0f / (float)(int)t);
			float curve = (float)row->w[i] / (float)row->w[0] * 65535.0f * g;
			float cap = 65535.0f * powf(x / 65535.0f, 0.25f);
			y = roundf(curve < cap ? curve : cap);
		}
		h->tone_x[i] = x;
		h->tone_y[i] = y;
	}
	/* Prepared for every boost: through identity points the natural
	 * spline is the line itself. */
	spline_second_derivs(h->tone_x, h->tone_y, HDR_TONE_POINTS, h->tone_y2, 1e30f, 1e30f);
}

int32_t img_hdr_tone_spline(int chan, float v)
{
	if (!chan_in_store(chan))
		return 0;
	const hdr_chan *h = hdr_ch(chan);
	float y = 0.0f;
	splint(h->tone_x, h->tone_y, h->tone_y2, HDR_TONE_POINTS, &y, clampf(v, 0.0f, 65535.0f));
	return (int32_t)lroundf(clampf(y, -1e9f, 1e9f));
}

int32_t img_hdr_tone_gamma(uint32_t boost, int chan, float v)
{
	(void)chan;
	v = clampf(v, 0.0f, 65535.0f);
	float t = (float)boost + (float)(boost / 2) * expf(-v / 4096.0f);
	int ti = (int)t;
	/* Boost 64, like 0, is the neutral boost of the control points too:
	 * the curve is the identity whatever the exponential adds. */
	if (ti == 0 || ti == 64 || boost == 64)
		return (int32_t)lroundf(v);
	return (int32_t)(65535.0f * powf(v / 65535.0f, 64.0f / t));
}

/* The tone curve of exposure e at knot i, CE encoding included: what the
 * LUT stores and what the DRC shapes. */
static int32_t tone_value(int chan, int e, int i, float r)
{
	const hdr_chan *h = hdr_ch(chan);
	uint32_t x = img_hdr_knot_table.v[i];
	float v = (float)(hdr_companded(chan, e) ? img_hdr_linearize(x, chan) : x) / r;
	uint32_t m = h->lut_mix[last_expo(chan)];
	int32_t y;
	if (m == 0) {
		y = img_hdr_tone_spline(chan, v);
	} else {
		int32_t gamma = img_hdr_tone_gamma(h->blend.boost, chan, v);
		y = m >= 128 ? gamma : linear_map((int32_t)m, 0, 128, img_hdr_tone_spline(chan, v), gamma);
	}
	if (h->ce_log_enable)
		y = log_encode(16383, 65535, (float)h->ce_log.encode, (float)y / 4.0f);
	return y;
}

void img_hdr_build_tone_lut(int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	img_hdr_calc_tone_points(h->blend.boost, chan);
	for (int e = 0; e < hdr_expo_num(chan); e++) {
		float r = hdr_ratio(chan, e);
		for (int i = 0; i < IMG_HDR_KNOTS; i++)
			h->lut[e][i] = clamp_u16(tone_value(chan, e, i, r));
	}
}

void img_hdr_build_tone_drc(int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	int32_t s = h->drc_strength[last_expo(chan)];
	if (s < -4096 || s > 4096)
		return;
	/* The DRC shapes the tone curve: the same points as the LUT, also
	 * when an external LUT stands in for it. */
	img_hdr_calc_tone_points(h->blend.boost, chan);
	int32_t d = (int32_t)h->drc_level;
	int32_t level = 0, above = 0, below = 0, floor = 0;
	if (s < 0) {
		level = linear_map(-s, 0, 4096, 65535, 0);
		above = -16;
	} else if (s > 0) {
		level = s <= 1024 ? linear_map(s, 0, 1024, 0, d) : linear_map(s, 1024, 4096, d, 65535);
		above = 4;
		below = 64;
		floor = level ? 64 : 0;
	}
	for (int e = 0; e < hdr_expo_num(chan); e++) {
		float r = hdr_ratio(chan, e);
		for (int i = 0; i < IMG_HDR_KNOTS; i++) {
			int32_t y0 = tone_value(chan, e, i, r);
			float y;
			if (y0 >= level) {
				y = (float)y0 + (float)above * (float)(y0 - level) / 16.0f;
				if (s < 0 && (float)(y0 * 75 / 100) > y)
					y = (float)(y0 * 75 / 100);
			} else {
				y = (float)y0 + (float)below * (float)(y0 - level) / 16.0f;
			}
			int64_t v = (int64_t)lroundf(y);
			int64_t cap = (int64_t)y0 * 105 / 100;
			v = v < cap ? v : cap;
			v = v > floor ? v : floor;
			h->drc[e][i] = clamp_u16(v);
		}
	}
}

/* ---- adaptive DRC level ---- */

/* The histogram level of bin j: 64 a bin, then 128, then 256. */
static uint32_t hist_level(int j)
{
	if (j < 64)
		return (uint32_t)j * 64;
	if (j < 96)
		return 4032 + (uint32_t)(j - 63) * 128;
	return 8128 + (uint32_t)(j - 95) * 256;
}

void img_hdr_update_drc_level(uint32_t step_ratio, const aaa_parse_result *stats, int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	uint32_t top = hdr_active_lut(chan, 0)[IMG_HDR_KNOTS - 1];
	if (hdr_method(chan) == 4 || hdr_method(chan) == 8) {
		h->drc_hold = 0;
		h->drc_level = top;
		return;
	}
	if (h->drc_hold) {
		h->drc_hold--;
		return;
	}
	if (!stats)
		return;
	/* The green array of the last exposure's pre-histogram. */
	const uint32_t *hist = stats->prehist[last_expo(chan)][1];
	uint64_t total = 0;
	for (int j = 0; j < 128; j++)
		total += hist[j];
	if (!total)
		return;
	int j = 0;
	for (int k = 1; k < 128; k++) {
		if ((uint64_t)hist_level(k) * step_ratio / 16 >= 16384) {
			j = k;
			break;
		}
	}
	uint64_t below = 0;
	for (int k = 0; k < j; k++)
		below += hist[k];
	uint64_t p = below * 1000 / total;
	int32_t target = (int32_t)((p > 1000 ? 1000 : p) * top / 1000);
	int32_t level = (int32_t)h->drc_level;
	if (llabs((int64_t)target - level) <= 256)
		return;
	int32_t next = smooth_change(target, level, 4);
	if (llabs((int64_t)next - level) > 32) {
		h->drc_level = (uint32_t)next;
		h->drc_hold = 5;
		hdr_raise(chan, HDR_F_DRC);
	}
}

/* ---- alpha tables ---- */

typedef struct alpha_group {
	uint8_t lead[5]; /* leading values of a group of nine */
	uint8_t repeat;
} alpha_group;

/* Banks 96, 112 and 128, rows 0 to 2; at most five kinds of group. */
static const alpha_group alpha_rows[3][3][5] = {
    {
        {{{4}, 11}, {{4, 2, 1}, 1}, {{10, 2, 1}, 1}, {{15, 4, 1}, 1}},
        {{{4}, 9}, {{4, 2, 1}, 1}, {{12, 2, 1}, 1}, {{15, 4, 1}, 3}},
        {{{4}, 10}, {{4, 1}, 1}, {{6, 2, 1}, 1}, {{12, 2, 1}, 1}, {{15, 4, 1}, 1}},
    },
    {
        {{{15}, 11}, {{15, 6, 2}, 1}, {{15, 8, 4}, 1}, {{15, 10, 6, 2}, 1}},
        {{{12}, 11}, {{15, 4, 2}, 1}, {{15, 8, 4, 2}, 1}, {{15, 10, 6, 2}, 1}},
        {{{8}, 10}, {{10, 4, 2}, 1}, {{15, 6, 2}, 1}, {{15, 8, 4, 2}, 1}, {{15, 10, 6, 4, 2}, 1}},
    },
    {
        {{{15, 8, 4}, 11}, {{15, 10, 6, 2}, 2}, {{15, 12, 8, 4, 2}, 1}},
        {{{12, 2, 1}, 11}, {{15, 8, 6, 2}, 1}, {{15, 10, 6, 2}, 1}, {{15, 12, 8, 4, 2}, 1}},
        {{{15, 8}, 10}, {{15, 8, 2}, 1}, {{15, 8, 4, 2}, 1}, {{15, 10, 6, 2}, 1}, {{15, 12, 8, 4, 2}, 1}},
    },
};

/* Rows 3 to 5 of every bank stay zero. */
static uint8_t alpha_presets[3][6][HDR_ALPHA_ENTRIES];
static uint8_t alpha_all15[HDR_ALPHA_ENTRIES];
static uint8_t alpha_all0[HDR_ALPHA_ENTRIES];

void hdr_init_alpha_presets(void)
{
	memset(alpha_presets, 0, sizeof alpha_presets);
	for (int bank = 0; bank < 3; bank++) {
		for (int row = 0; row < 3; row++) {
			uint8_t *out = alpha_presets[bank][row];
			for (const alpha_group &g : alpha_rows[bank][row])
				for (int r = 0; r < g.repeat; r++, out += 9)
					memcpy(out, g.lead, sizeof g.lead);
		}
	}
	memset(alpha_all15, 15, sizeof alpha_all15);
	memset(alpha_all0, 0, sizeof alpha_all0);
}

void img_hdr_calc_alpha_tables(int chan)
{
	static const uint8_t row_index[15] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 3, 4, 5};
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	int n = hdr_expo_num(chan);
	for (int k = 0; k < n - 1; k++) {
		int32_t a = (int32_t)h->alpha[k + 1];
		int row = row_index[n * 3 + k];
		const uint8_t *lo, *hi;
		int32_t x0, x1;
		if (a > 127) {
			lo = alpha_presets[2][row], hi = alpha_all15, x0 = 128, x1 = 256;
		} else if (a > 112) {
			lo = alpha_presets[1][row], hi = alpha_presets[2][row], x0 = 112, x1 = 128;
		} else if (a > 96) {
			lo = alpha_presets[0][row], hi = alpha_presets[1][row], x0 = 96, x1 = 112;
		} else {
			lo = alpha_all0, hi = alpha_presets[0][row], x0 = 0, x1 = 96;
		}
		for (int i = 0; i < HDR_ALPHA_ENTRIES; i++)
			h->alpha_table[k][i] = (uint8_t)linear_map(a, x0, x1, 15 - lo[i], 15 - hi[i]);
	}
}

/* ---- saturation thresholds ---- */

void img_hdr_calc_sat_threshold(const uint32_t wb[3], const uint32_t dgain[4], uint16_t out[3][4], int chan)
{
	if (!chan_in_store(chan) || !wb || !dgain || !out)
		return;
	const hdr_chan *h = hdr_ch(chan);
	int n = hdr_expo_num(chan);
	uint64_t thr = h->threshold[n - 1];
	for (int k = 0; k < n - 1; k++) {
		uint64_t d = dgain[k];
		uint64_t r = d * wb[0] / 4096, g = d * wb[1] / 4096, b = d * wb[2] / 4096;
		uint64_t tr, tg, tb;
		if (k == 0) {
			tg = thr;
			tr = r ? thr * g / r : 0;
			tb = b ? thr * g / b : 0;
		} else {
			uint64_t m = r > g ? r : g;
			m = m > b ? m : b;
			uint64_t level = m ? 4 * (thr * 1024 / m) : 0;
			const uint16_t *lut = hdr_active_lut(chan, k);
			uint64_t v = lut[IMG_HDR_KNOTS - 1];
			for (int i = 1; i < IMG_HDR_KNOTS; i++) {
				if (img_hdr_knot_table.v[i] > level) {
					v = lut[i - 1];
					break;
				}
			}
			tr = tg = tb = v >> 2;
		}
		tr = tr > 16383 ? 16383 : tr;
		tg = tg > 16383 ? 16383 : tg;
		tb = tb > 16383 ? 16383 : tb;
		if (tg > 8191) {
			tr = tr < 8192 ? 8192 : tr;
			tb = tb < 8192 ? 8192 : tb;
		}
		if (!h->color_thr_enable)
			tr = tb = tg;
		out[k][0] = (uint16_t)tr;
		out[k][1] = out[k][2] = (uint16_t)tg;
		out[k][3] = (uint16_t)tb;
	}
}

/* ---- raw offsets, blend pair, digital gains ---- */

int img_hdr_update_raw_offset(const cl_aaa_block *state, img_dsp_hdr_raw_offset *out, int chan)
{
	if (!chan_in_store(chan) || !state)
		return 0;
	hdr_chan *h = hdr_ch(chan);
	const uint32_t *si = img_hdr_store.sensor[chan];
	int n = hdr_expo_num(chan);
	uint32_t m = hdr_method(chan);
	int64_t sh[IMG_HDR_EXPOSURES] = {0, 0, 0, 0};
	int taken = m == 6 ? 3 : n;
	for (int e = 0; e < taken; e++)
		sh[e] = state->expo[e].shutter;
	img_dsp_hdr_raw_offset rec;
	memset(&rec, 0, sizeof rec);
	if (!hdr_blend_bypass(chan)) {
		if (si[HDR_SI_ROW_FLAG]) {
			int64_t lines = (int32_t)si[HDR_SI_LINES], extra = (int32_t)si[HDR_SI_EXTRA_LINES];
			int64_t base = n * lines;
			int64_t s2 = (sh[2] + extra) * n, s3 = (sh[3] + extra) * n;
			int64_t y1 = m == 7 ? base + 1 : base + 1 + (sh[m == 6 ? 2 : 1] + extra) * n;
			rec.y_offset[0] = (int32_t)base;
			rec.y_offset[1] = (int32_t)y1;
			rec.y_offset[2] = (int32_t)(y1 + s2 + 1);
			rec.y_offset[3] = (int32_t)(y1 + s2 + 1 + s3 + 1);
		} else {
			for (int e = 0; e < IMG_HDR_EXPOSURES; e++)
				rec.y_offset[e] = (int32_t)si[HDR_SI_FIXED_Y + e];
		}
	}
	int changed =
	    memcmp(rec.y_offset, h->last_raw_offset.y_offset, (size_t)n * sizeof rec.y_offset[0]) != 0;
	h->last_raw_offset = rec;
	if (out)
		*out = rec;
	return changed;
}

void img_hdr_check_blend_config(img_hdr_blend_config *out, int chan)
{
	if (!chan_in_store(chan))
		return;
	hdr_chan *h = hdr_ch(chan);
	if (h->blend.ratio != h->last_blend.ratio || h->blend.boost != h->last_blend.boost) {
		h->last_blend = h->blend;
		hdr_raise(chan, HDR_F_LUT);
	}
	if (out)
		*out = h->blend;
}

int img_hdr_check_dgain(cl_aaa_block *state, uint32_t out[4], int chan)
{
	if (!chan_in_store(chan) || !state)
		return 0;
	hdr_chan *h = hdr_ch(chan);
	int n = hdr_expo_num(chan);
	/* Every exposure's gain, the shortest's too: it scales that
	 * exposure's front-end white balance. */
	uint32_t d[IMG_HDR_EXPOSURES] = {0, 0, 0, 0};
	for (int e = 0; e < n; e++) {
		d[e] = state->expo[e].dgain;
		state->expo[e].dgain_changed = 0;
	}
	int changed = memcmp(d, h->last_dgain, (size_t)n * sizeof d[0]) != 0;
	memcpy(h->last_dgain, d, sizeof d);
	if (out)
		memcpy(out, d, sizeof d);
	return changed;
}

/* ---- statistics linearisation ---- */

static bool wb_usable(const uint32_t wb[3])
{
	return wb && wb[0] && wb[1] && wb[2];
}

static uint32_t scale(uint64_t v, uint64_t mul, uint64_t div)
{
	uint64_t r = v * mul / div;
	return r > UINT32_MAX ? UINT32_MAX : (uint32_t)r;
}

static void remove_wb(aaa_awb_tile *t, const uint32_t wb[3])
{
	if (!wb_usable(wb))
		return;
	t->r = scale(t->r, 1024, wb[0]);
	t->g = scale(t->g, 1024, wb[1]);
	t->b = scale(t->b, 1024, wb[2]);
	t->luma = scale(t->luma, 1024, wb[1]);
}

static int awb_tile_count(const aaa_parse_result *s)
{
	return s->awb_tiles > AAA_AWB_TILES ? (int)AAA_AWB_TILES : s->awb_tiles;
}

static int ae_tile_count(const aaa_parse_result *s)
{
	return s->ae_tiles > AAA_AE_TILES ? (int)AAA_AE_TILES : s->ae_tiles;
}

enum awb_action { AWB_NOTHING, AWB_REMOVE_WB, AWB_LINEARISE };

static awb_action log_awb_action(int chan)
{
	uint32_t m = hdr_method(chan);
	if (!hdr_info(chan)->dsp_hdr) {
		if (m == 3)
			return AWB_REMOVE_WB;
		return hdr_method_is(chan, 4, 6, 8) ? AWB_LINEARISE : AWB_NOTHING;
	}
	if (m == 4 || m == 6)
		return AWB_LINEARISE;
	if (hdr_blend_bypass(chan))
		return m == 8 ? AWB_LINEARISE : AWB_NOTHING;
	return AWB_LINEARISE;
}

void img_hdr_process_awb_stats(const uint32_t wb[3], aaa_parse_result *stats, int chan)
{
	if (!chan_in_store(chan) || !stats)
		return;
	awb_action act = log_awb_action(chan);
	if (act == AWB_NOTHING)
		return;
	float a1 = img_hdr_1st_strength_factor(chan), a2 = img_hdr_2nd_strength_factor(chan);
	float ratio = hdr_ratio(chan, 0);
	uint32_t top = hdr_ch(chan)->lut[0][IMG_HDR_KNOTS - 1];
	bool sensor_curve = hdr_method_is(chan, 4, 6, 8);
	for (int i = 0; i < awb_tile_count(stats); i++) {
		aaa_awb_tile *t = &stats->set.awb[i];
		if (act == AWB_LINEARISE) {
			float c[4] = {img_hdr_log_compress((float)t->r, 14, a2),
			              img_hdr_log_compress((float)t->g, 14, a2),
			              img_hdr_log_compress((float)t->b, 14, a2),
			              img_hdr_log_compress((float)t->luma, 6, a2)};
			/* A tile darker than the long exposure's full scale came
			 * from the short exposure: scale it back up. */
			float gain = sensor_curve || c[3] >= (float)(top / 1024) ? 1.0f : ratio;
			t->r = (uint32_t)(img_hdr_exp_expand(c[0], 14, a1) * gain);
			t->g = (uint32_t)(img_hdr_exp_expand(c[1], 14, a1) * gain);
			t->b = (uint32_t)(img_hdr_exp_expand(c[2], 14, a1) * gain);
			t->luma = (uint32_t)(img_hdr_exp_expand(c[3], 6, a1) * gain);
		}
		remove_wb(t, wb);
	}
}

/* The table LUT inversion reads: exposure 0's LUT in effect, CE-decoded
 * back to its 16-bit scale when CE log is on. */
static void inverse_table(int chan, uint16_t out[IMG_HDR_KNOTS])
{
	const hdr_chan *h = hdr_ch(chan);
	const uint16_t *lut = hdr_active_lut(chan, 0);
	if (!h->ce_log_enable) {
		memcpy(out, lut, IMG_HDR_KNOTS * sizeof *out);
		return;
	}
	for (int i = 0; i < IMG_HDR_KNOTS; i++)
		out[i] =
		    clamp_u16((int64_t)log_decode(65535, 16383, (float)h->ce_log.decode, (float)lut[i]) * 4);
}

/* The input level whose table output is g, interpolated between knots
 * (decompressed for a companded exposure 0). */
static uint32_t lut_invert(const uint16_t *tab, uint32_t g, int chan)
{
	bool comp = hdr_method_is(chan, 4, 6, 8);
	int j = 0;
	while (j < IMG_HDR_KNOTS && g > tab[j])
		j++;
	if (j == IMG_HDR_KNOTS)
		return comp ? img_hdr_linearize(65535, chan) : 65535;
	int j0 = (j > 1 ? j : 1) - 1;
	int64_t x0 = img_hdr_knot_table.v[j0], x1 = img_hdr_knot_table.v[j];
	if (comp) {
		x0 = img_hdr_linearize((uint32_t)x0, chan);
		x1 = img_hdr_linearize((uint32_t)x1, chan);
	}
	int64_t t0 = tab[j0], t1 = tab[j];
	/* A flat stretch has no inverse: take its upper end. */
	if (t0 == t1)
		return (uint32_t)x1;
	return (uint32_t)(x0 + ((int64_t)g - t0) * (x1 - x0) / (t1 - t0));
}

static awb_action lut_awb_action(int chan)
{
	const channel_info *ci = hdr_info(chan);
	uint32_t m = hdr_method(chan);
	if (m == 4 || m == 6 || (ci->dsp_hdr && !hdr_blend_bypass(chan)))
		return AWB_LINEARISE;
	if (hdr_blend_bypass(chan))
		return AWB_NOTHING;
	return !ci->dsp_hdr && (m == 3 || m == 8) ? AWB_REMOVE_WB : AWB_NOTHING;
}

void img_hdr_process_awb_stats_lut(const uint32_t wb[3], aaa_parse_result *stats, int chan)
{
	if (!chan_in_store(chan) || !stats)
		return;
	awb_action act = lut_awb_action(chan);
	if (act == AWB_NOTHING)
		return;
	if (act == AWB_REMOVE_WB) {
		for (int i = 0; i < awb_tile_count(stats); i++)
			remove_wb(&stats->set.awb[i], wb);
		return;
	}
	uint16_t tab[IMG_HDR_KNOTS];
	inverse_table(chan, tab);
	uint64_t gain = 1024;
	for (int i = 0; i < awb_tile_count(stats); i++) {
		aaa_awb_tile *t = &stats->set.awb[i];
		if (t->g)
			gain = (uint64_t)lut_invert(tab, t->g * 4, chan) * 256 / t->g;
		if (!wb_usable(wb))
			continue;
		t->r = scale(gain * t->r, 1, wb[0]);
		t->g = scale((uint64_t)t->g * gain, 1, wb[1]);
		t->b = scale(gain * t->b, 1, wb[2]);
		t->luma = scale(gain * t->luma, 1, wb[1]);
	}
}

static bool ae_linearised(int chan)
{
	uint32_t m = hdr_method(chan);
	return m == 4 || m == 6 || (hdr_info(chan)->dsp_hdr && !hdr_blend_bypass(chan));
}

void img_hdr_process_ae_stats(aaa_parse_result *stats, int chan)
{
	if (!chan_in_store(chan) || !stats || !ae_linearised(chan))
		return;
	float a1 = img_hdr_1st_strength_factor(chan), a2 = img_hdr_2nd_strength_factor(chan);
	for (int i = 0; i < ae_tile_count(stats); i++) {
		uint32_t *luma = &stats->set.ae[i].cfa_luma;
		/* An empty tile keeps its mark. */
		if (*luma == AAA_LUMA_NONE)
			continue;
		*luma = (uint32_t)img_hdr_exp_expand(img_hdr_log_compress((float)*luma, 14, a2), 14, a1);
	}
}

void img_hdr_process_ae_stats_lut(aaa_parse_result *stats, int chan)
{
	if (!chan_in_store(chan) || !stats || !ae_linearised(chan))
		return;
	uint16_t tab[IMG_HDR_KNOTS];
	inverse_table(chan, tab);
	for (int i = 0; i < ae_tile_count(stats); i++) {
		uint32_t *luma = &stats->set.ae[i].cfa_luma;
		if (*luma == AAA_LUMA_NONE)
			continue;
		*luma = lut_invert(tab, *luma * 4, chan) >> 2;
	}
}

/* ---- brightness ratio ---- */

int32_t img_hdr_calc_bright_ratio(const uint32_t *hist, uint32_t reference, uint32_t fraction, uint32_t bins)
{
	if (!hist || !bins)
		return 1000;
	uint32_t sum = 0;
	int top = -1;
	for (uint32_t i = 0; i < bins; i++) {
		sum += hist[i];
		if (hist[i])
			top = (int)i;
	}
	uint64_t target = (uint64_t)sum * fraction / 1024;
	if (top < 0 || (top == 0 && target > hist[0]))
		return 1000;
	/* Weigh the brightest pixels down from the top bin until the target
	 * count is covered. */
	uint64_t weighted = 0, left = target;
	for (int i = top; i >= 0 && left; i--) {
		uint64_t take = hist[i] < left ? hist[i] : left;
		weighted += (uint64_t)i * take;
		left -= take;
	}
	if (!weighted)
		return 1000;
	return (int32_t)((uint64_t)reference * target * 1024 / weighted);
}

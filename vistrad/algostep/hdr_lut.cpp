// The WDR combination tables and the DRC amount, rebuilt on every call from
// the exposure factor, the gains and the two exposures' histograms.

#include "hdr_lut.h"

#include <glib.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "core/debug_output.h"
#include "core/debug_registry.h"
#include "hist_analyzer.h"
#include "libcl.h"
#include "platform/platform_vorsalind.h"

namespace
{

struct grid_segment {
	int end;  // last entry of the segment
	int step; // level step up to it
};

const grid_segment standard_grid[] = {{64, 16}, {96, 32}, {128, 64}, {224, 128}, {288, 256}, {351, 512}};
const grid_segment method6_grid[] = {{64, 2},   {96, 4},    {128, 8},   {160, 16},  {192, 32},
                                     {224, 64}, {288, 128}, {304, 256}, {351, 1024}};

void fill_grid(const grid_segment *segments, int count, uint16_t top, uint16_t *grid)
{
	int i = 0;
	uint32_t level = 0;
	grid[0] = 0;
	for (int s = 0; s < count; s++) {
		while (i < segments[s].end) {
			i++;
			level += (uint32_t)segments[s].step;
			grid[i] = (uint16_t)level;
		}
	}
	grid[HDR_LUT_ENTRIES - 1] = top;
}

double clampd(double v, double lo, double hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

// The builders' shape values, as the two-segment builder's steps 1 to 3
// leave them.
struct lut_shape {
	double R;       // ratio
	double E;       // effective ratio
	int32_t ef_x;   // look-up value of the by-EF maps, Q14
	double LF;      // long fill
	double p;       // 1 / gamma
	double Lr;      // log range
	double K;       // compression constant
	double knee;    // Kn
	double A;       // power-curve gain
	double HB;      // histogram blend
	double D;       // DRC amount as looked up
	double y_start; // DRC start level
	double x_break; // DRC break point
	double power;   // DRC power
};

dic_list L(const ae_q14_list &l)
{
	return {l.values, l.count};
}

// The by-EF maps of the three-segment builder are used only with as many
// points as lut_ef_map.
dic_list ef_map(const smart_ae_settings *s, const ae_q14_list *y, int checked)
{
	if (checked && y->count != s->lut_ef_map.count)
		return {nullptr, 0};
	return L(*y);
}

void by_ef(const smart_ae_settings *s, const lut_shape *sh, const ae_q14_list *y, int checked, double *out)
{
	dic_list xs = L(s->lut_ef_map), ys = ef_map(s, y, checked);
	dic_map_lookup(&xs, &ys, sh->ef_x, out);
}

void by_gain(const smart_ae_settings *s, const ae_q14_list *y, double gain_db, double *out)
{
	dic_list xs = L(s->lut_gain_map), ys = L(*y);
	dic_map_lookup(&xs, &ys, dic_q14(gain_db), out);
}

int is_black_and_white(int channel)
{
	uint32_t bw = 0;
	return libcl_get_bw_mode(channel, &bw) == 0 && bw != 0;
}

// Steps 1 and 2: ratio, effective ratio and the by-EF look-up value.
void ratio_frame(const hdr_lut_input *in, int checked, lut_shape *sh)
{
	const smart_ae_settings *s = in->settings;
	double w = 1.0;
	dic_list xs = L(s->lut_ef_map), ys = ef_map(s, &s->lut_ef_weight_map, checked);
	dic_map_lookup(&xs, &ys, dic_q14(in->exposure_factor), &w);
	sh->R = w == 0.0 ? 1.0 : fmax(in->exposure_factor / w, 1.0);
	double factor = s->ae_enable_dual_gain ? s->ae_dual_gain_max_factor : 1.0;
	double F = in->max_gain_db - 6.0 * factor;
	double E = sh->R;
	if (in->long_gain_db >= F)
		E = sh->R + (1.0 - sh->R) * (in->long_gain_db - F) / 6.0;
	double m = 1.0;
	if (is_black_and_white(in->channel))
		m = s->lut_IR_min_effective_ef;
	else
		by_gain(s, &s->lut_min_effective_ef, checked ? in->long_gain_db : in->short_gain_db, &m);
	m = clampd(m, 1.0, 64.0);
	sh->E = fmax(E, m);
	sh->ef_x = in->ae_mode == 2 ? dic_q14(-1.0) : dic_q14(sh->E);
}

// Step 3 after the long fill and the log range are known.
void shape_values(const hdr_lut_input *in, int checked, lut_shape *sh)
{
	const smart_ae_settings *s = in->settings;
	double G = 0.0, scale = 1.0;
	by_ef(s, sh, &s->lut_long_gamma_map, checked, &G);
	by_gain(s, &s->lut_long_gamma_scale_map, in->long_gain_db, &scale);
	G = G * scale / 100.0;
	sh->K = sh->Lr > 1.0 ? 65534.0 / log(sh->Lr) : HDR_LUT_DEFAULT_K;
	double b1 = 0.0, b2 = 2500.0;
	by_ef(s, sh, &s->lut_low_boost_ef, checked, &b1);
	by_gain(s, &s->lut_low_boost_max_gain, in->long_gain_db, &b2);
	double b = fmin(b1, b2);
	sh->knee = b <= 0.0 ? 2500.0 : (b < 100.0 ? (100.0 - b) * 25.0 : 0.0);
	G = clampd(G, 1.0, 6.0);
	sh->p = 1.0 / G;
	sh->A = sh->LF * 65534.0 / pow(65535.0 / sh->R, sh->p);
	sh->HB = 1.0;
	dic_list blend = L(s->lut_long_hist_blend_map);
	if (dic_list_given(&blend)) {
		by_gain(s, &s->lut_long_hist_blend_map, in->long_gain_db, &sh->HB);
		double first = blend.v[0] / 16384.0;
		double last = fmin(blend.v[blend.n - 1] / 16384.0, 1.0);
		sh->HB = fmin(fmax(sh->HB, first), last);
	}
	sh->D = 0.0;
	by_ef(s, sh, &s->lut_DRC_map, checked, &sh->D);
	if (s->lut_DRC_gain_map.values && s->lut_DRC_gain_map.count)
		by_gain(s, &s->lut_DRC_gain_map, in->long_gain_db, &sh->D);
	sh->y_start = 0.0;
	sh->x_break = 10.0;
	sh->power = 0.5;
	by_ef(s, sh, &s->lut_y_start_map, checked, &sh->y_start);
	by_ef(s, sh, &s->lut_x_break_point_map, checked, &sh->x_break);
	by_ef(s, sh, &s->lut_power_drc_map, checked, &sh->power);
	sh->x_break = fmin(fmax(sh->x_break, 0.0), sh->D - 1.0);
}

struct cum_curve {
	std::vector<double> x;
	std::vector<double> y;
	double ymax;
	double A; // A after the curve's own adjustment
};

uint32_t cum_at(const uint32_t *h, int i)
{
	if (i < 0)
		i = 0;
	if (i >= HIST_LINEAR_BINS)
		i = HIST_LINEAR_BINS - 1;
	return h[i];
}

int bins_of(const hist_analysis *a)
{
	int n = a ? a->bin_count : 0;
	return n < 0 ? 0 : (n > HIST_LINEAR_BINS ? HIST_LINEAR_BINS : n);
}

// Step 4: the long exposure's cumulative curve continued by the short one's.
void combined_curve(const lut_shape *sh, const uint32_t *H1, const uint32_t *H2, int nL, int nS, cum_curve *c)
{
	c->x.assign(1, 0.0);
	c->y.assign(1, 1.0);
	c->A = sh->A;
	double S0 = fmax((double)cum_at(H1, nL - 2), 1.0);
	int s = (int)((nS - 1) / sh->R + 3.0);
	s = s < 1 ? 1 : s;
	s = s > nS - 2 ? nS - 2 : s;
	double Q = (double)cum_at(H2, nS - 2) - fmax((double)cum_at(H2, s), 1.0);
	// Fewer than five bins leave no span to spread the points over.
	if (nL >= 5) {
		double f = Q > 0.0 ? fmin((S0 + Q) * sh->LF / S0, 32.0) : fmin(sh->LF, 32.0);
		for (int j = 1; j <= nL - 2; j++) {
			c->x.push_back((j - 0.5) * 65536.0 / (nL - 4) / sh->R);
			c->y.push_back(fmax(cum_at(H1, j) * f, c->y.back() + 100.0));
		}
		if (Q > 0.0 && nS >= 5 && s >= 1) {
			double g = c->y.back() / Q;
			c->x.pop_back();
			c->y.pop_back();
			for (int k = s; k <= nS - 2; k++) {
				double step = ((double)cum_at(H2, k) - (double)cum_at(H2, k - 1)) * g;
				c->x.push_back((k - 0.5) * 65536.0 / (nS - 4));
				c->y.push_back(fmax(c->y.back() + step, c->y.back() + 100.0));
			}
		}
	}
	c->ymax = fmax(c->y.back(), S0);
	if (sh->LF * 100.0 < 1.0) {
		c->ymax = Q;
		c->A = 0.0;
	}
	if (c->ymax < 1.0)
		c->ymax = 1.0;
}

double curve_at(const cum_curve *c, double x)
{
	return hdr_lut_lookup_double(c->x.data(), c->y.data(), (int)c->x.size(), x);
}

uint16_t entry_of(double v)
{
	if (!(v > 0.0))
		return 0;
	return v >= HDR_LUT_MAX ? HDR_LUT_MAX : (uint16_t)v;
}

double compress(const lut_shape *sh, double v)
{
	double u =
	    sh->Lr > 1.0 ? fmax(fmin(v, 65534.0) * sh->Lr / 65534.0, 1.0) : fmax(fmin(v, 65534.0), 1.0);
	return sh->K * log(u);
}

// Step 5: both passes, the LUT and DRC tables.
void build_passes(const lut_shape *sh, const cum_curve *c, hdr_lut_result *out)
{
	const uint16_t *grid = out->grid;
	uint16_t *T0 = out->lut.table[0], *T1 = out->lut.table[1];
	uint16_t *D0 = out->drc.table[0], *D1 = out->drc.table[1];
	int istar = 0;
	for (int i = 0; i < HDR_LUT_ENTRIES; i++)
		if (grid[i] * 65536.0 / 65535.0 <= 65534.0 / sh->R)
			istar = i;
	int thin = sh->LF * 100.0 < 1.0;
	int k_lf = (int)(sh->LF * 353.0 - 5.0);
	double delta = 0.0;
	for (int pass = 0; pass < 2; pass++) {
		uint16_t *T = pass ? T1 : T0;
		int is = pass && thin ? 0 : istar;
		double A = pass && thin ? 65534.0 / pow(65535.0, sh->p) : c->A;
		double prev_v = 0.0, pc_hold = 0.0, lambda = 0.0, mu = 0.0;
		for (int i = 0; i < HDR_LUT_ENTRIES; i++) {
			double x = grid[i] * 65536.0 / 65535.0;
			double he, pc, hb = sh->HB;
			if (pass == 0) {
				x /= sh->R;
				he = curve_at(c, x) / c->ymax * 65534.0;
				x = fmin(x * 65535.0 / 65536.0, 65535.0);
				if (x < sh->knee)
					x = (x / sh->knee) * (x / sh->knee) * sh->knee;
				pc = A * pow(x, sh->p);
			} else {
				he = curve_at(c, x) / c->ymax * 65534.0;
				double xs = fmin(x * 65535.0 / 65536.0, 65535.0);
				if (i < is) {
					pc = A * pow(xs, sh->p);
					pc_hold = pc;
				} else if (thin) {
					pc = A * pow(xs, sh->p);
					hb = 1.0;
				} else {
					pc = pc_hold;
					hb = 1.0;
				}
			}
			double v = fmax(hb * pc + (1.0 - hb) * he, prev_v);
			prev_v = v;
			double o = compress(sh, v);
			if (i > 0)
				o = fmax(o, T[i - 1] + 1.0);
			if (pass == 1 && i == is) {
				double span = log((double)grid[HDR_LUT_ENTRIES - 1]) - log((double)grid[is]);
				lambda = grid[is] > 0 && span > 0.0
				             ? (65534.0 - T0[HDR_LUT_ENTRIES - 1]) / span
				             : 0.0;
				mu = 65534.0 - lambda * log((double)grid[HDR_LUT_ENTRIES - 1]);
			} else if (pass == 1 && i > is) {
				double t = fmin((i - is) / 10.0, 1.0);
				double lx = grid[i] > 0 ? log((double)grid[i]) : 0.0;
				o = (1.0 - t) * T0[HDR_LUT_ENTRIES - 1] + t * (lambda * lx + mu);
				o = fmax(o, (double)T[i - 1]);
			}
			T[i] = entry_of(o);
			double e = T[i];
			double d;
			if (pass == 0) {
				if (i < sh->D) {
					double z = sh->y_start;
					if (i > sh->x_break) {
						double span = sh->D - sh->x_break;
						z += pow((i - sh->x_break) / span,
						         span * sh->power / (i - sh->x_break)) *
						     e;
					}
					d = fmin(e, fmax(z, 1.0));
				} else {
					d = e;
				}
				if (i == k_lf)
					delta = e - d;
			} else {
				d = i > k_lf ? e - ((double)T0[i] - (double)D0[i]) : e - delta;
			}
			// A short table below the long one's reduction would go
			// negative: the entry stays at 0, and no entry falls below the
			// one before.
			uint16_t *DT = pass ? D1 : D0;
			DT[i] = entry_of(d);
			if (i > 0 && DT[i] < DT[i - 1])
				DT[i] = DT[i - 1];
		}
	}
}

// Step 7: the short table's top follows the long table's slope.
void follow_long_top(hdr_lut_result *out)
{
	uint16_t *T0 = out->lut.table[0], *T1 = out->lut.table[1];
	for (int i = 303; i <= 351; i++) {
		int v = T1[i - 1] + T0[i] - T0[i - 1];
		T1[i] = (uint16_t)(v > HDR_LUT_MAX ? HDR_LUT_MAX : (v < 0 ? 0 : v));
	}
	if (T1[352] < T1[351])
		T1[352] = T1[351];
}

void monotone(uint16_t *t)
{
	for (int i = 1; i < HDR_LUT_ENTRIES; i++)
		if (t[i] < t[i - 1])
			t[i] = t[i - 1];
}

void prepare(const hdr_lut_input *in, hdr_lut_result *out)
{
	memset(out, 0, sizeof(*out));
	uint32_t method = 0;
	if (libcl_get_hdr_method(in->channel, &method) != 0) {
		debug_output(DEBUG_WARNING, 0, "Libcl can not get hdr method \n");
		method = 0;
	}
	hdr_lut_grid(method, out->grid);
	out->lut.enable = 1;
	out->drc.enable = 1;
}

// Steps 6 and 8.
void finish(const hdr_lut_input *in, const lut_shape *sh, hdr_lut_result *out)
{
	double d = sh->D;
	out->drc_amount = d > 400.0 ? 400 : (d > 0.0 ? (int32_t)d : 0);
	out->threshold_scale = out->lut.table[0][HDR_LUT_ENTRIES - 1] / 65535.0;
	out->ratio = sh->R;
	out->effective_ratio = sh->E;
	if (libcl_set_hdr_extern_lut(in->channel, reinterpret_cast<const uint8_t *>(&out->lut)) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Setting external HDR LUT failed!\n", __func__);
	if (libcl_set_hdr_extern_drc(in->channel, reinterpret_cast<const uint8_t *>(&out->drc)) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Setting external HDR DRC failed!\n", __func__);
	platform_set_channel_value(in->platform, out->drc_amount, in->stream_id);
	hdr_lut_debug_publish(in->stream_id, &out->lut, out->grid, out->grid);
}

int usable(const hdr_lut_input *in, const uint32_t *a, const uint32_t *b, const hist_analysis *sa,
           const hist_analysis *la, const hdr_lut_result *out)
{
	return in && in->settings && a && b && sa && la && out;
}

} // namespace

void hdr_lut_grid(uint32_t hdr_method, uint16_t *grid)
{
	if (!grid)
		return;
	if (hdr_method == 6)
		fill_grid(method6_grid, G_N_ELEMENTS(method6_grid), 65534, grid);
	else
		fill_grid(standard_grid, G_N_ELEMENTS(standard_grid), 65535, grid);
}

double hdr_lut_lookup_double(const double *xs, const double *ys, int count, double x)
{
	if (!xs || !ys || count <= 0)
		return 0.0;
	int i = 0;
	while (i < count && xs[i] < x)
		i++;
	if (i == count)
		return ys[count - 1];
	if (i == 0)
		return ys[0];
	if (xs[i] == xs[i - 1])
		return ys[i - 1];
	return ys[i - 1] + (ys[i] - ys[i - 1]) * (x - xs[i - 1]) / (xs[i] - xs[i - 1]);
}

void hdr_lut_map_lookup(const dic_list *xs, const dic_list *ys, int32_t x, double *out)
{
	dic_map_lookup(xs, ys, x, out);
}

int hdr_lut_build(const hdr_lut_input *in, const uint32_t *long_cum, const uint32_t *short_cum,
                  const hist_analysis *short_a, const hist_analysis *long_a, hdr_lut_result *out)
{
	if (!usable(in, long_cum, short_cum, short_a, long_a, out))
		return -1;
	prepare(in, out);
	const smart_ae_settings *s = in->settings;
	lut_shape sh = {};
	ratio_frame(in, 0, &sh);
	sh.LF = 0.0;
	by_ef(s, &sh, &s->lut_long_fill_map, 0, &sh.LF);
	double log_range = 0.0;
	by_ef(s, &sh, &s->lut_log_map, 0, &log_range);
	sh.Lr = log_range * 10000.0;
	shape_values(in, 0, &sh);
	cum_curve c;
	combined_curve(&sh, long_cum, short_cum, bins_of(long_a), bins_of(short_a), &c);
	build_passes(&sh, &c, out);
	if (sh.R <= 3.0)
		follow_long_top(out);
	finish(in, &sh, out);
	return 0;
}

int hdr_lut_build_3_segments(const hdr_lut_input *in, const uint32_t *long_cum, const uint32_t *short_cum,
                             const hist_analysis *short_a, const hist_analysis *long_a, hdr_lut_result *out)
{
	if (!usable(in, long_cum, short_cum, short_a, long_a, out))
		return -1;
	prepare(in, out);
	const smart_ae_settings *s = in->settings;
	lut_shape sh = {};
	ratio_frame(in, 1, &sh);
	double log_range = 6.5;
	by_ef(s, &sh, &s->lut_log_map, 1, &log_range);
	sh.Lr = log_range * 10000.0;
	double K = sh.Lr > 1.0 ? 65534.0 / log(sh.Lr) : HDR_LUT_DEFAULT_K;
	dic_list sens_map = ef_map(s, &s->lut_long_fill_sat_sensitivity_map, 1);
	dic_list floor_map = ef_map(s, &s->minimum_long_fill_map, 1);
	if (dic_list_given(&sens_map) && dic_list_given(&floor_map)) {
		double sens = 2.0, scale = 1.0, floor_fill = 0.2;
		by_ef(s, &sh, &s->lut_long_fill_sat_sensitivity_map, 1, &sens);
		dic_list gx = L(s->lut_long_fill_sat_sensitivity_gain_map);
		if (!dic_list_given(&gx))
			gx = L(s->lut_gain_map);
		dic_list scale_map = L(s->lut_long_fill_sat_sensitivity_scale_map);
		dic_map_lookup(&gx, &scale_map, dic_q14(in->long_gain_db), &scale);
		by_ef(s, &sh, &s->minimum_long_fill_map, 1, &floor_fill);
		double fill =
		    exp((100.0 - sens * scale * long_a->saturation) / 100.0 * log(fmax(sh.Lr, 1.0))) / K;
		sh.LF = clampd(fill, fmin(floor_fill, 1.0), 1.0);
	} else {
		sh.LF = 0.0;
		by_ef(s, &sh, &s->lut_long_fill_map, 1, &sh.LF);
	}
	shape_values(in, 1, &sh);
	cum_curve c;
	combined_curve(&sh, long_cum, short_cum, bins_of(long_a), bins_of(short_a), &c);
	build_passes(&sh, &c, out);

	uint16_t *T0 = out->lut.table[0], *T1 = out->lut.table[1];
	// The low end: a straight segment faded into the long table.
	double x_low = 0.2, y_low = 0.7, xs = 100.0, ys = 100.0, plateau = 0.02;
	by_ef(s, &sh, &s->lut_x_low_end_map, 1, &x_low);
	by_ef(s, &sh, &s->lut_y_low_end_map, 1, &y_low);
	by_gain(s, &s->lut_x_low_end_gain_scaling_map, in->long_gain_db, &xs);
	by_gain(s, &s->lut_y_low_end_gain_scaling_map, in->long_gain_db, &ys);
	by_ef(s, &sh, &s->lut_blend_plateau_map, 1, &plateau);
	x_low = clampd(x_low * xs / 100.0, 0.0, 1.0);
	y_low = clampd(y_low * ys / 100.0, 0.0, 1.0);
	int il = 0;
	for (int i = 0; i < HDR_LUT_ENTRIES; i++)
		if (out->grid[i] <= x_low * 65535.0)
			il = i;
	int width = (int)lround(clampd(plateau, 0.0, 1.0) * HDR_LUT_ENTRIES);
	width = width < 1 ? 1 : width;
	if (il > 0 && out->grid[il] > 0) {
		double slope = y_low * T0[il] / out->grid[il];
		for (int i = 0; i <= il + width && i < HDR_LUT_ENTRIES; i++) {
			double line = slope * out->grid[i];
			double t = i <= il ? 0.0 : (double)(i - il) / (width + 1);
			T0[i] = entry_of((1.0 - t) * line + t * T0[i]);
		}
	}
	monotone(T0);
	if (s->lut_dynamic_short_matching)
		for (int i = 0; i < HDR_LUT_ENTRIES; i++)
			T1[i] = T1[i] < T0[i] ? T0[i] : T1[i];
	if (s->lut_dynamic_drc) {
		double amount = clampd(sh.D, 0.0, 400.0) / 400.0;
		for (int k = 0; k < 2; k++) {
			const uint16_t *T = out->lut.table[k];
			uint16_t *DT = out->drc.table[k];
			for (int i = 0; i < HDR_LUT_ENTRIES; i++) {
				double fade = 1.0 - (double)i / (HDR_LUT_ENTRIES - 1);
				if (s->lut_drc_smooth_blend && i >= 264)
					fade *= (double)(HDR_LUT_ENTRIES - 1 - i) / 88.0;
				double reduce = fmax(T[i] - sh.y_start, 0.0) * amount * fade;
				DT[i] = entry_of(T[i] - reduce);
			}
			monotone(DT);
		}
	} else if (sh.R <= 3.0) {
		follow_long_top(out);
	}
	monotone(T1);
	dic_list threshold_map = ef_map(s, &s->lut_hdr_threshold_map, 1);
	if (s->lut_enable_adaptive_threshold && !in->threshold_forbidden && dic_list_given(&threshold_map)) {
		double th = 0.0;
		by_ef(s, &sh, &s->lut_hdr_threshold_map, 1, &th);
		uint32_t thresholds[2];
		thresholds[0] = thresholds[1] = (uint32_t)clampd(th, 0.0, 16383.0);
		if (libcl_set_hdr_threshold(in->channel, thresholds) != 0)
			debug_output(DEBUG_WARNING, 0, "%s: Setting hdr theshold failed!\n", __func__);
	}
	finish(in, &sh, out);
	return 0;
}

void hdr_lut_update(smart_ae_state *ae, const image_stats_record *stats)
{
	if (!ae || !ae->settings || !stats)
		return;
	hdr_lut_input in;
	in.settings = ae->settings;
	in.platform = ae->platform;
	in.channel = ae->channel;
	in.stream_id = ae->stream_id;
	in.exposure_factor = ae->effective_ratio > 0.0 ? ae->effective_ratio : ae->exposure_ratio;
	in.long_gain_db = ae->exp[0].gain_db;
	in.short_gain_db = ae->exp[1].gain_db;
	in.max_gain_db = ae->exp[0].max_gain_db;
	in.ae_mode = ae->mode;
	in.threshold_forbidden = 0;
	hdr_lut_result *out = new hdr_lut_result;
	int ret = ae->settings->lut_3_segments
	              ? hdr_lut_build_3_segments(&in, stats->long_cumulative, stats->short_cumulative,
	                                         &stats->short_frame, &stats->long_frame, out)
	              : hdr_lut_build(&in, stats->long_cumulative, stats->short_cumulative,
	                              &stats->short_frame, &stats->long_frame, out);
	if (ret == 0)
		ae->hdr_threshold_fraction = out->threshold_scale;
	delete out;
}

void hdr_lut_debug_publish(int32_t stream_id, const hdr_lut_block *lut, const uint16_t *long_x,
                           const uint16_t *short_x)
{
	if (!lut || !long_x || !short_x || !debug_var_lookup("lut_long_x"))
		return;
	static uint32_t values[4][HDR_LUT_ENTRIES];
	for (int i = 0; i < HDR_LUT_ENTRIES; i++) {
		values[0][i] = long_x[i];
		values[1][i] = lut->table[0][i];
		values[2][i] = short_x[i];
		values[3][i] = lut->table[1][i];
	}
	int channel = platform_stream_channel(stream_id);
	debug_var_add("lut_long_x", values[0], HDR_LUT_ENTRIES, channel);
	debug_var_add("lut_long_y", values[1], HDR_LUT_ENTRIES, channel);
	debug_var_add("lut_short_x", values[2], HDR_LUT_ENTRIES, channel);
	debug_var_add("lut_short_y", values[3], HDR_LUT_ENTRIES, channel);
}

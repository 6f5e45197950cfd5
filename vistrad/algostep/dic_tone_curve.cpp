// The dynamic global tone curve: a gain-dependent base shape, the configured
// base curve, the user's Contrast and a partial equalisation of the RGB
// histogram, changing no faster than the gain allows.

#include <math.h>
#include <string.h>

#include "core/debug_output.h"
#include "core/debug_registry.h"
#include "core/param_db.h"
#include "dic.h"

namespace
{

// Knots every 32 entries and the last entry; the tables run straight
// between them.
const int knots_high[9] = {0, 12, 34, 126, 519, 892, 981, 1007, 1023};
const int knots_low[9] = {1, 346, 453, 488, 516, 549, 597, 747, 1023};

double knot_table(const int *k, int x)
{
	int seg = x / 32;
	if (seg >= 8)
		return k[8];
	int x0 = seg * 32, x1 = seg == 7 ? 255 : x0 + 32;
	return k[seg] + (double)(k[seg + 1] - k[seg]) * (x - x0) / (x1 - x0);
}

double clampd(double v, double lo, double hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

int clampi(int v, int lo, int hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

double lookup(const dic_state *st, const dic_list *y, double def)
{
	double out = def;
	dic_map_lookup(&st->settings->tc_gain_map, y, st->long_gain, &out);
	return out;
}

// Step 3.1: where the CFA data starts. The walk stops with the histogram's
// 64 bins.
void move_low_point(dic_state *st, const image_stats_record *stats)
{
	double total = stats->rgb.total;
	if (!(total > 0.0))
		return;
	double thr = st->settings->tc_cfa_data_start_thrshld;
	double sum = 0.0, prev = 0.0, found = 0.0;
	int hit = 0;
	for (int b = 0; b < LIBCL_HIST_BIN_NUM; b++) {
		prev = sum;
		sum += stats->cfa_hist[b] / total * 1023.0;
		if (sum > thr) {
			found = (b - 1) + (thr - prev) / (sum - prev);
			hit = 1;
			break;
		}
	}
	double fresh = hit ? found : sum;
	fresh = fresh > 0.0 ? fresh - 0.1 : -0.1;
	double old = st->tc_low_point;
	double moved = old;
	if (fabs(fresh - old) >= 0.1)
		moved = fresh + (fresh > old ? -0.1 : 0.1);
	st->tc_low_point = clampd(moved, fmax(old - 1.0, 0.0), fmin(old + 1.0, 42.0));
}

// Step 3.2: where the curve reaches full scale; returns the push.
double move_high_point(dic_state *st, const image_stats_record *stats)
{
	const hist_analysis *rgb = &stats->rgb;
	double h = st->tc_high_point;
	double v = stats->cfa.bin_count > 0 ? stats->cfa.data_end / stats->cfa.bin_count * rgb->bin_count : h;
	double push = 0.0, target;
	if (rgb->high_share_avg > 10.0) {
		push = clampd((rgb->high_share_avg - 10.0) / 10.0, 0.2, 1.0);
		v = h + push;
	}
	double q = rgb->saturation;
	if (q >= 0.5) {
		push = clampd(1.0 + (q - 0.5) * 0.5, 1.0, 2.0);
		target = h + push;
	} else if (q >= 0.01) {
		push = clampd((q - 0.2) * 0.9 / 0.3 + 0.1, 0.1, 1.0);
		target = h + push;
	} else {
		target = 0.9 * h + 0.1 * (v + 2.0);
	}
	double next = clampd(target, fmax(h - 1.0, 42.0), h + 1.0);
	if (h + 1.0 > 64.0 && target >= 64.0) {
		next = 64.0;
		push = 0.0;
	}
	next = fmin(next, 64.0);
	if (next >= 63.0)
		push = 0.0;
	st->tc_high_point = next;
	return push;
}

struct base_shape {
	double gamma;
	double k, intercept, x950;
	double b0, b1;
};

double power_part(const base_shape *b, double x)
{
	return 256.0 * pow(x / 64.0, b->gamma);
}

double base_y(const base_shape *b, int x)
{
	if (x > (int)b->x950) {
		if (x >= 255)
			return 1023.0;
		return 950.0 + (x - b->x950) * 73.0 / (256.0 - b->x950);
	}
	double w = b->b0 == b->b1 ? 1.0 : clampd(1.0 - (x - b->b0) / (b->b1 - b->b0), 0.0, 1.0);
	return w * power_part(b, x) + (1.0 - w) * (b->k * x + b->intercept);
}

void dic_debug_tone_curve(dic_state *st)
{
	if (debug_var_lookup("tone_curve"))
		debug_var_add("tone_curve", st->tone_curve, 256, st->channel);
}

// Step 6: the global curve by gamma.
void global_curve(dic_state *st, const image_stats_record *stats, uint16_t *curve)
{
	const dic_settings *s = st->settings;
	double ev = (double)st->sg.gain[0] * st->sg.shutter[0] / 300000.0;
	double target = 0.0;
	dic_map_lookup(&s->tc_ev_map, &s->tc_rgb_target_map, dic_q14(ev), &target);
	double level = stats->rgb.weight;
	if (level > target + 1.0 && st->tc_gamma > s->tc_min_gamma)
		st->tc_gamma += (float)((target - level) * 0.01);
	else if (level < target - 1.0 && st->tc_gamma < s->tc_max_gamma)
		st->tc_gamma -= (float)((level - target) * 0.01);
	uint64_t n = s->tc_base_curve.n > 256 ? 256 : s->tc_base_curve.n;
	if (!n || st->tc_gamma == 0.0f)
		return;
	double top = (double)((n - 1) * 1023 * 2 + 255) / 510;
	top = floor(top);
	for (uint64_t i = 0; i < n; i++) {
		double b = i == 0 ? 0.0 : floor((double)(i * 1023 * 2 + 255) / 510);
		curve[i] = (uint16_t)(top > 0.0 ? top * pow(b / top, 1.0 / st->tc_gamma) : 0.0);
	}
}

} // namespace

void dic_update_tone_curve(dic_state *st, const image_stats_record *stats)
{
	const dic_settings *s = st->settings;
	const hist_analysis *rgb = &stats->rgb;
	if (st->tc_skip != 0)
		return;

	// 1. Whether to run.
	int32_t c = st->last_contrast;
	if (param_get_int(DIC_PARAM_CONTRAST, st->stream_id, &c) != 0)
		c = st->last_contrast;
	int changed = c != st->last_contrast;
	if (changed) {
		st->last_contrast = c;
		st->tc_stable = 0;
	} else if (!st->first_run && st->tc_stable) {
		if ((fabs(rgb->mid_share_avg - st->tc_stable_mid) <= 1.0 &&
		     fabs(rgb->low_share_avg - st->tc_stable_low) <= 1.0) ||
		    st->ae_hold) {
			st->tc_skip = s->tc_frame_skip;
			return;
		}
		st->tc_stable = 0;
	}
	if (st->first_run)
		st->tc_stable = 0;

	// 2. Gain-dependent inputs.
	double g = st->long_gain / 16384.0;
	int W = 0;
	if (s->tc_base_curve.n == 256) {
		int M = s->tc_base_curve_max_gain;
		int M0 = (M > 6 ? M : 6) - 6;
		int G = st->long_gain / 16384;
		W = M == M0 ? 100 : clampi(100 - 100 * (G - M0) / (M - M0), 0, 100);
		if (s->tc_base_range.n == 2) {
			int r0 = s->tc_base_range.v[0], r1 = s->tc_base_range.v[1];
			W = r0 == r1 ? 0 : (int)clampd((rgb->mid_share_avg - r0) * W / (r1 - r0), 0.0, 100.0);
		}
	}
	double alpha_low = lookup(st, &s->tc_alpha_low, 0.0);
	st->tc_alpha_mid = lookup(st, &s->tc_alpha_mid, st->tc_alpha_mid);
	double alpha_mid = st->tc_alpha_mid;
	double alpha_high = lookup(st, &s->tc_alpha_high, 0.0);
	double max_change = clampd(lookup(st, &s->tc_max_change, 0.0), 0.0, 1.0);
	double max_grad = lookup(st, &s->tc_max_grad, 0.0);
	if (changed || st->first_run)
		max_change = fmax(max_change, 0.5);
	base_shape b = {};
	double u = (g - 30.0) * 0.1 / 6.0 + 0.25;
	if (u <= 0.25) {
		b.b0 = 57.6;
		b.b1 = 70.4;
	} else if (u < 0.35) {
		b.b0 = 0.9 * 256.0 * u;
		b.b1 = 1.1 * 256.0 * u;
	} else {
		b.b0 = 80.64;
		b.b1 = 98.56;
	}
	int E = clampi(s->tc_stretch_cfa_end, 17, 64);

	// 3. Low and high point.
	double push = 0.0;
	if (st->wdr) {
		move_low_point(st, stats);
		push = move_high_point(st, stats);
	}
	st->tc_push = push;
	double h = st->tc_high_point;

	// 4. Base shape.
	double c0 = 0.0, c1 = 10.0, g0 = 1.0, g1 = 2.5;
	if (s->tc_low_cfa_start.n >= 2) {
		c0 = s->tc_low_cfa_start.v[0] / 16384.0;
		c1 = s->tc_low_cfa_start.v[1] / 16384.0;
	}
	if (s->tc_low_gamma.n >= 2) {
		g0 = s->tc_low_gamma.v[0] / 16384.0;
		g1 = s->tc_low_gamma.v[1] / 16384.0;
	}
	double gamma = c0 == c1 ? g0 : g0 + (st->tc_low_point - c0) * (g1 - g0) / (c1 - c0);
	b.gamma = fmin(g1, fmax(g0, gamma));
	double p16 = power_part(&b, 16.0);
	b.k = (1023.0 - p16) / (4.0 * h - 16.0);
	b.intercept = p16 - 16.0 * b.k;
	b.x950 = (950.0 - b.intercept) / b.k;
	W = (int)clampd(W - W * (63.0 / h - 1.0) / 0.3, 0.0, 100.0);
	if (s->tc_preserve_contrast && s->tc_preserve_contrast_range.n == 2 && rgb->total > 0.0) {
		int r0 = s->tc_preserve_contrast_range.v[0], r1 = s->tc_preserve_contrast_range.v[1];
		double cum = 0.0, above = 0.0, line = 0.0;
		for (int i = 0; i <= 62; i++) {
			cum += stats->rgb_hist[i] / rgb->total * 1023.0;
			double diag = i * 1023.0 / 63.0;
			above += fmax(0.0, cum - diag);
			line += diag;
		}
		double spread = line > 0.0 ? above / line : 0.0;
		W = r0 == r1 ? 0 : clampi((int)(W * (100.0 * spread - r0) / (r1 - r0)), 0, 100);
	}
	alpha_high = E == 63 ? 0.0 : (h - E) * alpha_high / (63.0 - E);

	// 5. Per-entry curve.
	int P0 = s->tc_low_point, P1 = s->tc_high_point;
	int w2 = P1 - P0 < 24 ? P1 - P0 : 24;
	int w1 = P0 < w2 ? P0 : w2;
	int w4 = 256 - P1 < 24 ? 256 - P1 : 24;
	int w3 = w4 < (P1 - P0) - w2 ? w4 : (P1 - P0) - w2;
	double contrast_factor = c == 50 ? 1.0 : 1.0 - fabs(c - 50.0) / 50.0;
	const int base_given = s->tc_base_curve.n == 256;
	uint16_t fresh[256];
	double total = rgb->total > 0.0 ? rgb->total : 1.0;
	double running = 0.0, lo_prev = 0.0;
	int delta = 0, change = 0;
	for (int seg = 0; seg < 64; seg++) {
		int x0 = 4 * seg;
		double lo, hi;
		running += stats->rgb_hist[seg] / total * 1023.0;
		if (seg == 63) {
			lo = lo_prev + (1023.0 - lo_prev) / 2.0;
			hi = 1024.0;
		} else {
			lo = clampd(running, 0.0, 1023.0);
			hi = clampd(lo + stats->rgb_hist[seg + 1] / total * 1023.0, 0.0, 1023.0);
		}
		lo_prev = lo;
		double a;
		if (x0 >= P0 - w1 && x0 <= P0 + w2)
			a = w1 + w2 ? alpha_low + (alpha_mid - alpha_low) * (x0 - (P0 - w1)) / (w1 + w2)
			            : alpha_low;
		else if (x0 >= P1 - w3 && x0 <= P1 + w4)
			a = w3 + w4 ? alpha_mid + (alpha_high - alpha_mid) * (x0 - (P1 - w3)) / (w3 + w4)
			            : alpha_mid;
		else if (x0 > P1 + w4)
			a = alpha_high;
		else if (x0 < P0 - w1)
			a = alpha_low;
		else
			a = alpha_mid;
		a *= contrast_factor;
		for (int x = x0; x < x0 + 4; x++) {
			double y = base_y(&b, x);
			if (base_given)
				y = ((100 - W) * y + W * s->tc_base_curve.v[x]) / 100.0;
			if (c > 50)
				y = ((100 - c) * y + (c - 50) * knot_table(knots_high, x)) / 50.0;
			else if (c < 50)
				y = (c * y + (50 - c) * knot_table(knots_low, x)) / 50.0;
			y = fmax(y, 0.0);
			double e = lo + (hi - lo) / 4.0 * (x - x0);
			double v = clampd(a * e + (1.0 - a) * y, 0.0, 1023.0);
			double r = st->tone_curve[x] * (1.0 - max_change) + max_change * v;
			r = fmin(fmax(r, fmax((1.0 - a) * y, 0.0)), fmin((1.0 + a) * y, 1023.0));
			if (x > 0) {
				r = fmin(r, fresh[x - 1] + max_grad);
				r = fmax(r, fmin(fresh[x - 1] + 1.0, 1023.0));
			}
			if (x == 255)
				r = 1023.0;
			long stored = lround(st->first_run ? y : r);
			if (stored > 1023) {
				debug_output(DEBUG_WARNING, 0, "tc value at #%d is too big (%d)\n", x0,
				             (int)stored);
				stored = 1023;
			}
			fresh[x] = (uint16_t)(stored < 0 ? 0 : stored);
			delta += (int)fabs(fresh[x] - y);
			change += abs((int)fresh[x] - (int)st->tone_curve[x]);
		}
	}

	// 6. Global tone curve.
	if (s->enable_global_tc)
		global_curve(st, stats, fresh);

	// 7. Send and settle; a refused curve is offered again on the next record.
	if (libcl_set_tone_curve(st->channel, fresh) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Setting tone curve failed!\n", "dic_update_tone_curve");
		return;
	}
	memcpy(st->tone_curve, fresh, sizeof(fresh));
	st->tc_delta = delta;
	st->tc_change_sum = change;
	if (change >= s->tc_change_limit && abs(change - st->tc_last_change) > 4) {
		st->tc_last_change = change;
		st->tc_stable_count = 0;
	} else {
		st->tc_last_change = change;
		if (++st->tc_stable_count > 10 && push < 0.1) {
			st->tc_stable = 1;
			st->tc_stable_mid = rgb->mid_share_avg;
			st->tc_stable_low = rgb->low_share_avg;
			st->tc_stable_count = 0;
		}
	}
	st->tc_skip = s->tc_frame_skip;
	dic_debug_tone_curve(st);
}

// Local exposure and contrast enhancement: the local-exposure gain curve from
// the RGB tone shares, and a contrast-enhancement strength stepped one unit
// per update to keep those shares inside their limits, with its output curve
// and coring table.

#include <math.h>
#include <string.h>

#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "dic.h"

namespace
{

double clampd(double v, double lo, double hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

int clampi(int v, int lo, int hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

int send_ce(dic_state *st)
{
	return libcl_set_ce_config(st->channel, reinterpret_cast<const uint8_t *>(&st->ce));
}

// Step 14: the gain curve for an applied value A.
void le_curve(dic_state *st, int A)
{
	double sigma = st->le_slope / 100.0;
	int o = clampi(st->le_offset, 0, 255);
	double floor_term = 1024.0 - A * exp(-156.0 * sigma);
	for (int k = 0; k < 256; k++) {
		double v = A * exp(-(k - o) * sigma) + floor_term;
		int e = (int)v;
		st->le.gain_curve[k] = (uint32_t)(e > 1024 ? e : 1024);
	}
	int top = (int)st->le.gain_curve[o];
	for (int k = 0; k <= o; k++) {
		int e = top - 10 * (o - k);
		st->le.gain_curve[k] = (uint32_t)(e > 1024 ? e : 1024);
	}
}

enum ce_action { CE_NONE, CE_DECREASE, CE_INCREASE };

struct ce_limits {
	double low, mid, high, weight;
	int lo, hi;
};

void ce_decrease(dic_state *st, int n, const ce_limits *l)
{
	int floor_v = l->lo - 2 > 0 ? l->lo - 2 : 0;
	int t = st->ce_target - n;
	t = t > floor_v ? t : floor_v;
	st->ce_target = t < l->hi + 2 ? t : l->hi + 2;
}

void ce_increase(dic_state *st, const ce_limits *l)
{
	int t = st->ce_target + 1;
	t = t > l->lo - 2 ? t : l->lo - 2;
	st->ce_target = t < l->hi + 2 ? t : l->hi + 2;
}

// Step 7: which way the strength goes; the change flag.
int ce_decide(dic_state *st, const image_stats_record *stats, const ce_limits *l, int direction)
{
	const hist_analysis *rgb = &stats->rgb;
	double sL = rgb->low_share_avg, sM = rgb->mid_share_avg, sH = rgb->high_share_avg;
	double sW = rgb->weight_avg, iH = rgb->high_share;
	int action = CE_NONE, amount = 1, mid_check = 0;
	if (sH < l->high - 15 && sL < l->low - 15 && iH < l->high - 15)
		mid_check = 1;
	else if (sH <= l->high && sL <= l->low)
		mid_check = direction > 0, action = direction < 0 ? CE_DECREASE : CE_NONE;
	else
		action = CE_DECREASE;
	if (mid_check) {
		if (sM > l->mid)
			action = CE_DECREASE;
		else if (sM > l->mid - 1)
			action = CE_NONE;
		else if (sW > l->weight)
			action = CE_DECREASE, amount = 0;
		else if (sW <= l->weight - 0.5)
			action = CE_INCREASE;
		else
			action = CE_NONE;
	}
	int v = st->tone_value, vp = st->ce_last_tone;
	if (v < vp) {
		int applied = st->ce_applied;
		int n = applied - (int)((double)applied * v / vp);
		action = CE_DECREASE;
		amount = n < 1 ? n : 1;
	}
	st->ce_last_tone = v;
	if (action == CE_DECREASE) {
		ce_decrease(st, amount, l);
		return -1;
	}
	if (action == CE_INCREASE) {
		ce_increase(st, l);
		return 1;
	}
	return 0;
}

// Step 6: LocalContrast reshapes the limits.
void ce_reshape(int lc, ce_limits *l)
{
	if (lc < 50) {
		double f = (50 - lc) / 50.0;
		l->mid += (fmax(l->mid - 10, 1) - l->mid) * f;
		l->high += (fmax(l->high - 5, 1) - l->high) * f;
		l->weight += (fmax(l->weight - 10, 1) - l->weight) * f;
		l->hi = (int)(l->hi + (l->lo - l->hi) * f);
	} else if (lc > 50) {
		double f = (lc - 50) / 50.0;
		l->hi = (int)(l->hi + (255 - l->hi) * f);
		l->mid += 10 * f;
		l->high += 5 * f;
		l->weight += 10 * f;
	}
}

double ce_output_input(const dic_state *st, const dic_list *y, int by_gain, double def)
{
	const dic_settings *s = st->settings;
	double out = def;
	if (by_gain)
		dic_map_lookup(&s->ce_output_gain_map, y, st->long_gain, &out);
	else
		dic_map_lookup(&s->ce_output_ef_map, y, dic_q14(st->exposure_ratio), &out);
	return out;
}

} // namespace

int dic_update_local_exposure(dic_state *st, const image_stats_record *stats)
{
	const dic_settings *s = st->settings;
	const hist_analysis *rgb = &stats->rgb;
	int lc = st->local_contrast;
	if (lc != st->le_last_lc) {
		st->le_last_lc = lc;
		st->le_stable = 0;
	} else if (st->le_stable) {
		if (fabs(rgb->mid_share_avg - st->le_stable_mid) <= 1.0 &&
		    fabs(rgb->low_share_avg - st->le_stable_low) <= 1.0)
			return 0;
		if (st->ae_hold)
			return 0;
		st->le_stable = 0;
	}
	int32_t R = 100, X = 0;
	if (st->wdr)
		dic_map_lookup_int(&s->le_map_ratio, &s->le_map_strength, dic_q14(st->exposure_ratio), &R);
	dic_map_lookup_int(&s->le_map_gain, &s->le_map_max_strength, st->long_gain, &X);
	int strength = clampi(X < R ? X : R, 0, 100);
	st->le_strength = strength;
	double k = s->le_smooth >= 1 ? fmax(100.0 - s->le_smooth, 0.0) / 100.0 : 1.0;

	double l0 = s->le_lowtones.n >= 2 ? s->le_lowtones.v[0] : 20;
	double l1 = s->le_lowtones.n >= 2 ? s->le_lowtones.v[1] : 90;
	double slide = 6096.0;
	if (lc < 50) {
		slide = 6096.0 * lc / 50.0;
	} else if (lc > 50) {
		slide = 6096.0 + (lc - 50) * 6096.0 * (s->le_max_slide_bar - 1.0) / 50.0;
		double n0 = (int)(l0 - l0 * (lc - 50) / 50.0);
		double n1 = (int)(l1 + (fmin(l1, 50.0) - l1) * (lc - 50) / 50.0);
		l0 = n0;
		l1 = n1;
	}
	double B = 1.0;
	if (s->le_ratio_boost_map.n >= 2 && s->le_ratio_boost_map.v[0] != s->le_ratio_boost_map.v[1]) {
		double r0 = s->le_ratio_boost_map.v[0], r1 = s->le_ratio_boost_map.v[1];
		B = fmax(1.0 + (s->le_ratio_boost - 1.0) * (st->exposure_ratio - r0) / (r1 - r0), 1.0);
	}
	B = fmin(B, s->le_ratio_boost);
	double le_max = s->le_aggressiveness * slide / 100.0 * B * strength / 100.0;

	double h = fmax(rgb->high_share_avg, 0.0);
	double hm = fmin(h, s->le_high2mid_shift), hl = fmin(h, s->le_high2low_shift);
	double d = clampd(s->le_low_weight_target - rgb->low_mean, 0.0, 100.0);
	double low = 0.0;
	if (l1 != l0)
		low = fmin(fmax((hl + rgb->low_share_avg - l0) * le_max / (l1 - l0), 0.0), le_max);
	double LE = fmin(fmax(k * low + (1.0 - k) * st->le_value, 0.0), le_max);
	st->le_value = LE;

	double smin = s->le_slope_min, smax = s->le_slope_max;
	double m0 = s->le_midtones.n >= 2 ? s->le_midtones.v[0] : 30;
	double m1 = s->le_midtones.n >= 2 ? s->le_midtones.v[1] : 60;
	double lns = m0 == m1
	                 ? log(smin)
	                 : log(smin) + (rgb->mid_share_avg - hm - m0) * (log(smax) - log(smin)) / (m1 - m0);
	double slope = clampd(exp(lns), smin, smax);
	double ss = clampd(k * slope + (1.0 - k) * st->le_slope, smin, smax);
	st->le_slope = ss;

	double boost = LE;
	if (s->le_low_weight_target <= 100.0) {
		double p = st->le_low_boost != 0.0 ? st->le_low_boost : st->le_applied;
		double cap = s->le_low_boost_fator * LE * strength / 100.0;
		if (d > 0.01)
			boost = p * 1.03;
		else if (LE * 1.1 < p)
			boost = p * 0.95;
		boost = clampd(boost, 0.0, fmax(cap, 0.0));
	}
	st->le_low_boost = boost;

	double v = st->le_shape != 0.0 ? st->le_shape : ss;
	if (d > 0.01)
		v = clampd(v + d / 10.0, 0.0, 10.0);
	else
		v = (9.0 * v + ss) / 10.0;
	v = fmin(fmax(fmax(v, ss), smin), smax);
	st->le_shape = v;

	int max_off = s->le_max_curve_offset;
	double dp = fmin(d, max_off);
	int off = st->le_offset;
	if (!st->ae_hold && fabs(dp - off) > 2.0)
		off += dp > off ? 1 : -1;
	off = off <= 0 ? (max_off < 1 ? max_off : 0) : (off < max_off ? off : max_off);
	st->le_offset = off;

	int A = st->le_applied;
	double target = st->ae_hold ? A : (LE + boost) / 2.0;
	if (!st->ae_hold) {
		st->le_slope = (ss + v) / 2.0;
		if (abs((int)(target - A)) < 21) {
			st->le_stable = 1;
			st->le_stable_mid = rgb->mid_share_avg;
			st->le_stable_low = rgb->low_share_avg;
			return 0;
		}
	}
	int next = (int)clampd(target, A - 20, A + 20);
	le_curve(st, next);
	st->le.word[0] = 1;
	st->le.word[1] = (uint32_t)s->le_radius;
	st->le.word[2] = st->le.word[3] = st->le.word[4] = 16;
	st->le.word[5] = (uint32_t)s->le_shift;
	if (libcl_set_local_exposure(st->channel, &st->le) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Setting local exposure failed!\n",
		             "dic_update_local_exposure");
		return -1;
	}
	st->le_applied = next;
	info_pool_set_imfix(DIC_INFO_LE_APPLIED, st->stream_id,
	                    st->ae_hold ? INFO_POOL_PERSISTENT : INFO_POOL_VOLATILE, next * 16384);
	if (st->ae_hold)
		info_pool_write_entry();
	return 1;
}

void dic_update_coring_table(dic_state *st)
{
	const dic_settings *s = st->settings;
	int32_t strength = 0, xstart = 0, ystart = 0, midpoint = 0;
	dic_map_lookup_int(&s->ce_coring_gain, &s->ce_coring_strength, st->long_gain, &strength);
	dic_map_lookup_int(&s->ce_coring_gain, &s->ce_coring_xstart, st->long_gain, &xstart);
	dic_map_lookup_int(&s->ce_coring_gain, &s->ce_coring_ystart, st->long_gain, &ystart);
	dic_map_lookup_int(&s->ce_coring_gain, &s->ce_coring_midpoint, st->long_gain, &midpoint);
	for (int i = 0; i < 64; i++) {
		int64_t v;
		if (i < xstart)
			v = ystart;
		else if (i < midpoint)
			v = midpoint == xstart
			        ? ystart
			        : ystart + (int64_t)(i - xstart) * (strength - ystart) / (midpoint - xstart);
		else
			v = strength;
		st->ce.coring_table[i] = (uint8_t)v;
	}
}

int dic_update_ce_output_curve(dic_state *st)
{
	const dic_settings *s = st->settings;
	st->ce.output_enable = 1;
	int by_gain = 0;
	uint32_t method = 0;
	if (libcl_get_hdr_method(st->channel, &method) != 0)
		debug_output(DEBUG_WARNING, 0, "Libcl can not get hdr method \n");
	else
		by_gain = method == 4;
	double le = 0.0, me = 0.0, bl = 0.5, bm = 0.5, lcb = 0.5, mcb = 0.5, hcb = 0.5;
	for (int pass = 0; pass <= by_gain; pass++) {
		le = ce_output_input(st, &s->ce_output_low_tones_end_map, pass, le);
		me = ce_output_input(st, &s->ce_output_mid_tones_end_map, pass, me);
		bl = ce_output_input(st, &s->ce_output_brightness_low_map, pass, bl);
		bm = ce_output_input(st, &s->ce_output_brightness_mid_map, pass, bm);
		lcb = ce_output_input(st, &s->ce_output_low_contrast_boost_map, pass, lcb);
		mcb = ce_output_input(st, &s->ce_output_mid_contrast_boost_map, pass, mcb);
		hcb = ce_output_input(st, &s->ce_output_high_contrast_boost_map, pass, hcb);
	}
	le = clampd(le, 0.0, 0.5);
	me = clampd(me, le, 1.0);
	bl = clampd(bl, 0.0, 1.0);
	bm = clampd(bm, 0.0, 1.0);
	lcb = clampd(lcb, 0.0, 1.0);
	mcb = clampd(mcb, 0.0, 1.0);
	hcb = clampd(hcb, 0.0, 1.0);
	double g1 = 1.0 + 0.99 * (2 * lcb - 1), g2 = 9.0 + 8.99 * (2 * mcb - 1),
	       g3 = 2.0 + 1.99 * (2 * hcb - 1);
	double Yl = (0.05 + 0.05 * (2 * bl - 1)) * 16383.0, Ym = (0.6 + 0.39 * (2 * bm - 1)) * 16383.0;
	double L = 256.0 * le, M = 256.0 * me;
	// An end at 0, two ends together or the mid end at the top leave a
	// segment without width: no curve is made and the last one stays.
	if (!(L > 0.0) || !(M > L) || !(M < 256.0) || !(Ym > Yl) || !(Yl > 0.0) || !(Ym < 16383.0)) {
		debug_output(DEBUG_WARNING, 0, "%s: CE output curve has an empty segment, not sent\n",
		             "dic_update_ce_output_curve");
		return 0;
	}
	double c1 = pow(pow(L, g1) / Yl, 1.0 / g1);
	double s2 = pow(pow(M - L, g2) / (Ym - Yl), 1.0 / g2);
	double s3 = pow(pow(256.0 - M, g3) / (16383.0 - Ym), 1.0 / g3);
	double o2 = pow((s2 / c1) * (g1 / g2) * pow(L / c1, g1 - 1.0), 1.0 / (g2 - 1.0));
	double b = (M - L) / s2 + o2;
	double q = pow((M - L + o2) / s2, g2);
	double o3 = pow((s3 / s2) * (g2 / g3) * (Ym / q) * pow(b, g2 - 1.0), 1.0 / (g3 - 1.0));
	double k2 = (pow(b, g2) - pow(o2, g2)) / (Ym - Yl);
	double k3 = (pow((256.0 - M) / s3 + o3, g3) - pow(o3, g3)) / (16383.0 - Ym);
	if (!isfinite(c1) || !isfinite(o2) || !isfinite(o3) || !(k2 > 0.0) || !(k3 > 0.0) || !isfinite(k2) ||
	    !isfinite(k3)) {
		debug_output(DEBUG_WARNING, 0, "%s: CE output curve has an empty segment, not sent\n",
		             "dic_update_ce_output_curve");
		return 0;
	}
	int32_t T[256];
	int iL = (int)floor(L), iM = (int)floor(M);
	for (int i = 0; i < 256; i++) {
		double v;
		if (i <= L)
			v = round(pow(i / c1, g1));
		else if (i <= M)
			v = T[iL] + round((pow((i - L) / s2 + o2, g2) - pow(o2, g2)) / k2);
		else
			v = T[iM] + round((pow((i - M) / s3 + o3, g3) - pow(o3, g3)) / k3);
		v = clampd(v, -32768.0, 32767.0);
		T[i] = (int32_t)v;
		if (i >= 1 && T[i] <= T[i - 1])
			T[i] = T[i - 1] + 1;
	}
	uint16_t out[256];
	for (int i = 0; i < 256; i++)
		out[i] = (uint16_t)clampd(round((double)T[i] / T[255] * 16383.0), 0.0, 16383.0);
	for (int i = 254; i >= 0; i--)
		if (out[i] >= out[i + 1])
			out[i] = (uint16_t)(out[i + 1] > 0 ? out[i + 1] - 1 : 0);
	memcpy(st->ce.output_table, out, sizeof(out));
	int channel = clampi(st->channel, 0, DIC_CHANNELS - 1);
	int differs = 0;
	for (int i = 0; i < 256 && !differs; i++)
		differs = abs((int)out[i] - (int)dic_ce_output_sent[channel][i]) > 2;
	if (!differs && st->ae_hold)
		return 0;
	if (send_ce(st) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Set ce config failed!\n", "dic_update_ce_output_curve");
		return -1;
	}
	memcpy(dic_ce_output_sent[channel], out, sizeof(out));
	return 0;
}

void dic_update_contrast_enhancement(dic_state *st, const image_stats_record *stats)
{
	const dic_settings *s = st->settings;
	if (!s->enable_dynamic_ce || st->ce_off || st->ce_skip != 0)
		return;
	ce_limits l = {};
	l.lo = s->ce_range.n >= 2 ? s->ce_range.v[0] : 5;
	l.hi = s->ce_range.n >= 2 ? s->ce_range.v[1] : 120;
	if (dic_list_given(&s->ce_max_strength)) {
		int32_t epn = 0;
		double off = 0.0;
		if (param_get_int(DIC_PARAM_EXPOSURE_PRIORITY_NORMAL, st->stream_id, &epn) == 0)
			off = fmin(s->dic_max_db_offset,
			           ((epn > 50 ? epn : 50) - 50) * s->dic_max_db_offset / 50.0);
		int32_t at = st->long_gain - dic_q14(off);
		dic_map_lookup_int(&s->ce_gain_map, &s->ce_max_strength, at > 0 ? at : 0, &l.hi);
	}
	if (!dic_list_given(&s->ce_ratio_map) || !dic_list_given(&s->ce_rgb_low_limit)) {
		debug_output(DEBUG_WARNING, 0, "YAML file not configured for dynamic CE!");
		st->ce_off = 1;
		return;
	}
	int32_t ratio = dic_q14(st->exposure_ratio);
	dic_map_lookup(&s->ce_ratio_map, &s->ce_rgb_low_limit, ratio, &l.low);
	dic_map_lookup(&s->ce_ratio_map, &s->ce_rgb_mid_limit, ratio, &l.mid);
	dic_map_lookup(&s->ce_ratio_map, &s->ce_rgb_high_limit, ratio, &l.high);
	dic_map_lookup(&s->ce_ratio_map, &s->ce_rgb_weight_limit, ratio, &l.weight);
	l.low += (90.0 - l.low) * (clampi(st->tone_value, 100, 400) - 100) / 300.0;

	if (st->first_run || st->ce_applied == 0) {
		if (libcl_get_ce_config(st->channel, reinterpret_cast<uint8_t *>(&st->ce)) != 0) {
			debug_output(DEBUG_WARNING, 0, "%s: Get ce config failed!\n",
			             "dic_update_contrast_enhancement");
			return;
		}
		st->ce.enable = 1;
		st->ce.low_pass_radius = (uint32_t)s->ce_low_pass;
		st->ce.coring_index_shift = 6;
		st->ce.coring_gain_shift = (uint32_t)s->ce_coring_gain_shift;
		st->ce.coring_gain_low = 60;
		st->ce.coring_gain_high = 160;
		st->ce.coring_gain_low_delta = 3;
		st->ce.coring_gain_high_delta = 4;
		if (st->ce.coring_gain_low_strength == 0) {
			st->ce_skip = s->ce_frame_skip;
			return;
		}
		st->ce_applied = st->ce_target = (int32_t)st->ce.coring_gain_low_strength;
	}

	// While the exposure is held the strength applied when the hold began
	// is kept.
	int flag;
	if (st->ae_hold) {
		if (!st->ce_hold_recorded) {
			st->ce_held = st->ce_applied;
			st->ce_hold_recorded = 1;
		}
		if (st->ce_applied == st->ce_held) {
			st->ce_skip = s->ce_frame_skip;
			return;
		}
		st->ce_target = st->ce_held;
		flag = 1;
	} else {
		st->ce_hold_recorded = 0;
		int lc = st->local_contrast;
		int direction = lc == st->ce_lc ? 0 : (lc > st->ce_lc ? 1 : -1);
		st->ce_lc = lc;
		if (s->enable_dynamic_coring && (st->first_run || st->long_gain != st->prev_long_gain))
			dic_update_coring_table(st);
		ce_reshape(lc, &l);
		flag = ce_decide(st, stats, &l, direction);
		int32_t mn = 0;
		dic_map_lookup_int(&s->ce_gain_map, &s->ce_min_strength, st->long_gain, &mn);
		int t = clampi(st->ce_target, l.lo, l.hi);
		t = t > mn ? t : mn;
		st->ce_target = t < l.hi ? t : l.hi;
		if (st->ce_target == st->ce_applied && !st->first_run)
			flag = 0;
	}
	if (s->ce_output_enabled && dic_update_ce_output_curve(st) != 0)
		return;
	double scale = 1.0;
	if (dic_list_given(&s->ce_ratio_map) && s->ce_ratio_map.n == s->ce_ef_scaling_map.n)
		dic_map_lookup(&s->ce_ratio_map, &s->ce_ef_scaling_map, ratio, &scale);
	int scaled = (int)(st->ce_target * scale);
	if (flag != 0 && scaled != st->ce_applied) {
		int sv = clampi(scaled, 1, 255);
		st->ce.coring_gain_low_strength = (uint32_t)sv;
		st->ce.coring_gain_mid_strength = (uint32_t)(sv * s->ce_mid_tone_factor);
		st->ce.coring_gain_high_strength = (uint32_t)(sv * s->ce_high_tone_factor);
		if (send_ce(st) != 0) {
			debug_output(DEBUG_WARNING, 0, "%s: Set ce config failed!\n",
			             "dic_update_contrast_enhancement");
			return;
		}
		st->ce_applied = sv;
	}
	st->ce_skip = s->ce_frame_skip;
}

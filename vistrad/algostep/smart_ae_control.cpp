// Smart auto exposure: the per-frame control law. Each image-statistics
// record yields a wanted exposure value per exposure from three criteria
// (mean level, near-saturation share, top-bin share); its speed is limited,
// it is split into shutter and gain through the exposure program and handed
// to the output side.
#include <math.h>
#include <string.h>

#include "algostep/hist_analyzer.h"
#include "algostep/smart_ae.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "libcl.h"
#include "platform/sensor.h"
#include "platform/sensor_vorsalind.h"
#include "platform/videoinput.h"

namespace
{

const double q14_one = 16384.0;

double db_of(double gain)
{
	return 20.0 * log10(gain);
}

double clampd(double v, double lo, double hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

// Between a and b whichever is lower.
double between(double v, double a, double b)
{
	return clampd(v, MIN(a, b), MAX(a, b));
}

int64_t tr(double v)
{
	if (!(v == v))
		return 0;
	if (v >= 9.2e18)
		return INT64_MAX;
	if (v <= -9.2e18)
		return INT64_MIN;
	return (int64_t)v;
}

int32_t direction_of(double want, double cur)
{
	if (tr(want) > tr(cur))
		return 2;
	return tr(want) < tr(cur) ? 1 : 0;
}

struct evaluation {
	double ev[2];
	int32_t shutter[2];
	double gain[2];
};

/* Frame admission ------------------------------------------------------------ */

void release_pending(smart_ae_state *s)
{
	g_free(s->pending_record);
	s->pending_record = nullptr;
}

void prepare_record(smart_ae_state *s)
{
	if (s->pending_record)
		return;
	auto *r = g_new0(smart_ae_hdr_record, 1);
	r->header.type = SMART_AE_OUTPUT;
	r->header.stream_id = s->stream_id;
	r->header.release = [](control_job *job) { g_free(job); };
	s->pending_record = r;
}

bool maps_present(const smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	if (!cfg->ae_gain_map.count || !cfg->ae_target_map.count || !cfg->ae_saturation_map.count)
		return false;
	return !s->wdr || cfg->ae_short_target_map.count;
}

void update_delays(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &l = s->exp[AE_LONG];
	double f = MIN(s->frame_rate, 1e6 / MAX(l.shutter, 1));
	double rate = sensor_get_current_fps(s->sensor) / q14_one;
	if (f < rate) {
		s->reaction_delay = MAX((int32_t)(cfg->ae_delay * f / rate), 2);
		if (!s->steps_pending)
			s->settle_delay =
			    MIN(MAX((int32_t)(s->settle_base * f / s->frame_rate), 4), SMART_AE_SCHEDULE_MAX);
		return;
	}
	s->reaction_delay = cfg->ae_delay;
	if (!s->steps_pending)
		s->settle_delay = s->settle_base;
}

void motion_rule(smart_ae_state *s)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	int32_t base = MAX(l.sensor_min_shutter, 4000);
	int32_t t = s->wdr ? l.sensor_max_shutter - s->exp[AE_SHORT].max_shutter : s->frame_time;
	int32_t limit = MIN(s->max_exposure_param, t);
	double g = l.gain;
	double add = g < 4   ? (10000 - base) * g * 0.25
	             : g < 6 ? (limit - base) * (g - 4) * 0.5
	                     : limit - base;
	double m = s->motion_avg;
	double k = m <= 1 ? 0 : m < 7 ? m - 1 : 6;
	int32_t fresh = (int32_t)tr((tr(base + add) - limit) * k / 6 + limit);
	// The blend with the previous frame's value needs one: from nothing it
	// would start the longest shutter at a hundredth of its value.
	if (s->motion_prev_new == 0)
		s->motion_prev_new = fresh;
	int32_t max_shutter = (int32_t)(((int64_t)fresh * 10 + (int64_t)s->motion_prev_new * 990) / 1000);
	s->motion_prev_new = fresh;
	// Flagged every frame, a steady limit would re-apply the exposure on
	// every frame and never let it converge.
	if (max_shutter == s->exp[AE_LONG].max_shutter)
		return;
	s->exp[AE_LONG].max_shutter = max_shutter;
	s->limits_changed = 1;
	smart_ae_build_program(s);
}

double map_target(const smart_ae_state *s, const ae_q14_list &map, double gain_db, const char *message)
{
	if (map.count != s->settings->ae_gain_map.count)
		debug_output(DEBUG_WARNING, 0, "%s", message);
	return smart_ae_map_value(s->gain_map_db, s->gain_map_ev_count, &map, gain_db);
}

void update_targets(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	l.ev = l.shutter * l.gain;
	l.target = map_target(s, cfg->ae_target_map, db_of(l.gain),
	                      "Smart AE : Wrong target map length for long frame in YAML \n");
	double sat = map_target(s, cfg->ae_saturation_map, db_of(l.gain),
	                        "Smart AE : Wrong saturation map length for long frame in YAML \n");
	double r = l.ev > 0 ? s->prev_long_ev / l.ev : 0.0;
	double speed = r > (double)1.1f ? (r - (double)1.1f) * 19 / ((double)1.3f - (double)1.1f) + 1 : 1.0;
	double most = speed / MAX(s->settle_delay, 1);
	s->sat_target += clampd(sat - s->sat_target, -most, most);
	if (s->wdr) {
		sh.ev = sh.shutter * sh.gain;
		sh.target = map_target(s, cfg->ae_short_target_map, db_of(sh.gain),
		                       "Smart AE : Wrong target map length for short frame in YAML \n");
	}
}

void update_ev_limits(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	l.max_ev = l.max_gain * l.max_shutter;
	l.min_ev = l.min_gain * l.min_shutter;
	sh.max_ev = sh.max_shutter * sh.max_gain;
	sh.min_ev = sh.min_shutter * sh.min_gain;
	if (cfg->ae_enable_dual_gain_down) {
		sh.min_ev = s->ratio_upper * sh.min_shutter;
		sh.max_ev = MIN(sh.max_ev, sh.sensor_max_shutter * sh.sensor_max_gain);
	}
	if (cfg->ae_enable_dual_gain)
		sh.max_ev = MIN(sh.sensor_max_shutter * sh.sensor_max_gain,
		                sh.max_shutter * l.gain * cfg->ae_dual_gain_max_factor);
}

/* The split through the exposure program ------------------------------------ */

void split_long(smart_ae_state *s, double ev, int32_t *shutter, double *gain)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_breakpoint k = {l.min_shutter, l.min_gain, 0};
	smart_ae_breakpoint j = {l.max_shutter, l.max_gain, 0};
	int32_t n = s->program_count;
	if (n > 0) {
		int32_t ki = 0, ji = -1;
		for (int32_t i = n - 1; i >= 0; i--) {
			if (tr(s->program[i].ev) == tr(ev)) {
				ki = ji = i;
				break;
			}
			if (s->program[i].ev < ev) {
				ki = i;
				break;
			}
		}
		if (ji < 0)
			ji = MIN(ki + 1, n - 1);
		k = s->program[ki];
		j = s->program[ji];
	}
	// The gain makes up the EV at the shutter being applied: dividing by the
	// shutter of the frame before would miss the EV by the shutter's change.
	double at_j = clampd(ev / MAX(j.shutter, 1), k.gain, MAX(j.gain, k.gain));
	if (j.shutter * k.gain <= ev) {
		*shutter = j.shutter;
		*gain = at_j;
	} else {
		int32_t m = MAX((int32_t)tr(ev / k.gain), k.shutter);
		*shutter = m;
		*gain = k.gain;
		if (m == j.shutter)
			*gain = at_j;
		else if (m > j.shutter)
			*gain = MAX(k.gain, l.gain);
	}
	*gain = MIN(*gain, j.gain);
	if (s->bwc && !s->wdr)
		*gain = clampd(ev / MAX(*shutter, 1), k.gain, MAX(j.gain, k.gain));
}

/* Linear decision --------------------------------------------------------- */

void brightening_cap(smart_ae_state *s, double out[4], double weight, double target)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	double cur = l.ev;
	double e = s->settings->ae_etr_max;
	if (!(out[0] < out[1]))
		return;
	if (e < 1) {
		double t = target * s->ev_comp_factor;
		double lim = t < 18 ? MIN(MAX(t + (s->ev_comp_stops + 2) * (18 - t) * 0.5, t), 18.0) : 18.0;
		if (weight * (out[1] / cur) > lim && weight > 0)
			out[1] = lim / weight * cur;
		if (fabs(weight - lim) < 0.5)
			out[1] = cur;
		return;
	}
	double factor = MIN(MAX((s->ev_comp_stops + 2) * (e - 1) * 0.5 + 1, 1.0), e);
	double candidate = factor * out[0];
	out[1] = fabs(1 - candidate / cur) > 0.1 ? MIN(candidate, out[1]) : cur;
}

// Keeps changes below the minimum, except where they are needed to reach
// the largest exposure.
bool below_minimum_change(const smart_ae_state *s, double ev, double cur, double *minimum)
{
	*minimum = MAX(cur * s->settings->ae_min_ev_change / 100.0, (double)s->line_time);
	return fabs(ev - cur) < *minimum;
}

double linear_decision(smart_ae_state *s, const image_stats_record *stats)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	const hist_analysis &a = stats->long_frame;
	double cur = l.ev;
	s->long_weight = a.weight;
	l.weight = a.weight;
	l.saturation = a.saturation;
	l.choice = s->settings->ae_prioritize_saturation ? 2 : 1;
	double out[4];
	smart_ae_calc_ev(&a, out, s, AE_LONG, l.target);
	brightening_cap(s, out, a.weight, l.target);
	double ev = cur;
	if (!s->settings->ae_prioritize_saturation) {
		ev = out[0];
		if (out[2] < ev) {
			ev = out[2];
			l.choice = 3;
		}
		if (out[0] < out[1]) {
			ev = out[1];
			l.choice = 2;
		}
	}
	ev = clampd(ev, 0, l.max_ev);
	double minimum;
	if (below_minimum_change(s, ev, cur, &minimum) &&
	    (tr(ev) + tr(minimum) < tr(l.max_ev) || tr(l.max_ev) < tr(cur))) {
		ev = cur;
		l.choice = 0;
	}
	l.weight_ev = out[0];
	l.near_ev = s->bwc ? out[0] : out[1];
	l.max_sat_ev = s->bwc ? out[0] : out[2];
	l.forecast_ev = out[3];
	return ev;
}

/* WDR decision ------------------------------------------------------------ */

double mixed_weight(const smart_ae_state *s, const hist_analysis &a)
{
	const smart_ae_settings *cfg = s->settings;
	double q = 0;
	if (cfg->ae_high_sat_adjust_limit != cfg->ae_high_sat_threshold)
		q = (a.saturation - cfg->ae_high_sat_threshold) * cfg->ae_high_sat_max_mix /
		    (cfg->ae_high_sat_adjust_limit - cfg->ae_high_sat_threshold);
	q = clampd(q, 0, 0.75);
	double g0 = MAX(0.75 * cfg->ae_high_sat_gain_limit, 1.0);
	double g1 = 1.5 * cfg->ae_high_sat_gain_limit;
	if (g1 != g0)
		q += (s->exp[AE_LONG].gain - g0) * (0 - q) / (g1 - g0);
	if (q <= 0)
		return a.weight;
	if (q >= 0.75)
		return a.weight * 0.25 + 0.75 * a.weight_unsaturated;
	return a.weight * (1 - q) + q * a.weight_unsaturated;
}

double wdr_long(smart_ae_state *s, const hist_analysis &a, double out[4], double short_forecast)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	double cur = l.ev;
	if (a.saturation_raw >= 1)
		out[1] = MIN(MIN(out[1], short_forecast), cur);
	double e = s->settings->ae_etr_max;
	if (e >= 1)
		brightening_cap(s, out, a.weight, l.target);
	double w = mixed_weight(s, a);
	s->long_weight = w;
	l.weight = w;
	l.saturation = a.saturation;
	double t = l.target * s->ev_comp_factor;
	double h = s->hysteresis;
	out[0] = cur;
	if (w < t * (1 - h) || w > t * (1 + h)) {
		out[0] = t / MAX(w, 0.1) * cur;
		l.choice = 1;
	}
	out[0] = clampd(out[0], l.min_ev, l.max_ev);
	double ev = out[0];
	if (out[2] < ev) {
		ev = out[2];
		l.choice = 3;
	} else if (out[0] < out[1] && 0.9 * out[0] < cur) {
		ev = out[1];
		l.choice = 2;
	}
	ev = clampd(ev, l.min_ev, l.max_ev);
	double minimum;
	if (below_minimum_change(s, ev, cur, &minimum) && tr(ev) + tr(minimum) < tr(l.max_ev)) {
		ev = cur;
		l.choice = 0;
	}
	return ev;
}

double wdr_short(smart_ae_state *s, const hist_analysis &a, double out[4], double long_ev)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	double L = s->line_time;
	int64_t x = tr(a.data_end);
	int64_t b = a.bin_count - 2;
	double n;
	if (x < b / 2)
		n = MAX(out[1], out[3]);
	else if (x < b)
		n = out[3] + (out[1] - out[3]) * (double)(x - b / 2) / (double)(b - b / 2);
	else
		n = out[1];
	if (fabs(n - out[3]) < L)
		n = out[3];
	double lower = MAX(long_ev / s->ratio_upper, (double)sh.sensor_min_shutter);
	double upper = MIN(long_ev / s->ratio_min, sh.max_ev);
	if (cfg->ae_enable_dual_gain_down) {
		lower = sh.sensor_min_shutter;
		upper = MIN(upper, long_ev);
		s->dual_gain = 1;
	} else if (cfg->ae_enable_dual_gain && sh.shutter >= sh.max_shutter - L) {
		upper = MIN(upper, long_ev);
		s->dual_gain = 1;
	} else {
		s->dual_gain = 0;
	}
	out[0] = between(out[0], lower, upper);
	n = between(n, lower, upper);
	sh.choice = 1;
	double ev = out[0];
	double bound = cfg->ae_near_sat_target_short_secure ? a.near_sat_target : 0.01;
	if (cfg->ae_target_secure && a.saturation < bound) {
		ev = a.weight <= 1 ? MIN(n, 2 * out[0]) : n;
		sh.choice = 2;
	}
	sh.max_ev = upper;
	sh.min_ev = sh.min_shutter;
	ev = MIN(ev, upper);
	if (upper >= sh.min_shutter)
		ev = MAX(ev, (double)sh.min_shutter);
	ev = MIN(ev, long_ev - L);
	ev = between(ev, lower, upper);
	double minimum = MAX(sh.ev * cfg->ae_min_ev_change_short / 100.0, L);
	if (fabs(ev - sh.ev) < minimum)
		ev = sh.ev;
	if (tr(ev) == tr(sh.ev))
		sh.choice = 0;
	sh.weight = a.weight;
	sh.saturation = a.saturation;
	return ev;
}

// Moves the long gain halfway towards the gain the target map wants at
// the new exposure, so that a gain change does not swing the target.
double correct_long_gain(smart_ae_state *s, double ev, double g)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	double h = l.gain;
	if (tr(20 * fabs(g - h)) <= 1)
		return g;
	double t1 = smart_ae_map_value(s->gain_map_ev, s->gain_map_ev_count, &s->settings->ae_target_map, ev);
	double g2 = l.target > 0 ? (t1 / l.target + 1) * g / 2 : g;
	int64_t a = tr(10 * g), b = tr(10 * h), c = tr(10 * g2);
	bool to_g2 = b < a ? c > b : (b > a && b > c);
	if (to_g2)
		return g2;
	return a == c ? (g2 + h) / 2 : g;
}

void short_split(smart_ae_state *s, evaluation &out, double long_ev)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	double L = s->line_time;
	double es = out.ev[AE_SHORT];
	int32_t sl = out.shutter[AE_LONG];
	double g = out.gain[AE_LONG];
	double r = s->exposure_ratio;
	double x = MAX((double)cfg->ae_max_ef_change, 0.5);
	double lo = MAX(s->ratio_min, r - x);
	double hi = MIN(s->ratio_upper, r + x);
	int64_t u = MIN(tr(sl / lo), (int64_t)sh.max_shutter);
	int64_t k = tr(es / g);
	if (cfg->ae_enable_dual_gain_down) {
		u = sh.max_shutter;
		k = tr(es);
	}
	k = CLAMP(k, tr(sl / hi), MAX(u, tr(sl / hi)));
	if (s->mode == 0 && cfg->ae_extend_long_frame && k < sh.max_shutter && es > 0) {
		int32_t exposure[2] = {0, 0}, ratio[2] = {0, 0};
		sensor_get_exposure_limits(s->sensor, exposure, ratio);
		double kk = long_ev / es;
		double nl = MIN((1 - 1 / (kk + 1)) * exposure[0], long_ev);
		double ns = clampd(nl / kk, 0, sh.max_shutter);
		ns = MIN(MAX(ns, nl / s->ratio_upper), (double)u);
		int64_t new_long = tr(nl), new_short = tr(ns);
		if (llabs(new_long - l.shutter) > (int64_t)L || new_short != sh.shutter) {
			sl = (int32_t)new_long;
			k = new_short;
			g = MAX(long_ev / MAX(nl, 1.0), 1.0);
		} else {
			sl = l.shutter;
			k = sh.shutter;
			if (tr(long_ev) == tr(l.ev))
				g = l.gain;
		}
	}
	if (es > sh.ev + L / 2 && k > sh.shutter)
		k = MAX(k, (int64_t)(sh.shutter + L + 1));
	if (es < sh.ev - L / 2 && k < sh.shutter)
		k = MIN(k, (int64_t)(sh.shutter - L - 1));
	k = CLAMP(k, tr(sl / s->ratio_upper + L / 2), MAX(u, tr(sl / s->ratio_upper + L / 2)));
	k = MAX(k, (int64_t)sh.min_shutter);
	int64_t shutter = es < sh.max_ev - L ? k : u;
	shutter = MIN(shutter, (int64_t)(l.shutter - L));
	double gs = MAX(g, 1.0);
	if (!cfg->ae_enable_dual_gain && !cfg->ae_enable_dual_gain_down &&
	    llabs(shutter - sh.shutter) < (int64_t)L)
		shutter = sh.shutter;
	if (cfg->ae_enable_dual_gain) {
		if (shutter >= sh.max_shutter - L && sh.shutter >= sh.max_shutter - L)
			gs = MIN(es / MAX(shutter, (int64_t)1), sh.sensor_max_gain);
		gs = clampd(gs, g, cfg->ae_dual_gain_max_factor * g);
	} else if (cfg->ae_enable_dual_gain_down) {
		double floor_gain = MAX(g * sl / (s->ratio_upper * MAX(shutter, (int64_t)1)), sh.min_gain);
		gs = MIN(cfg->ae_dual_gain_max_factor * g, MAX(es / MAX(shutter, (int64_t)1), floor_gain));
		gs = MAX(gs, MAX(sh.min_gain, g / cfg->ae_dual_gain_max_factor_down));
		gs = MIN(gs, sh.max_gain);
	}
	out.shutter[AE_LONG] = sl;
	out.gain[AE_LONG] = MAX(g, 1.0);
	out.shutter[AE_SHORT] = (int32_t)MAX(shutter, (int64_t)1);
	out.gain[AE_SHORT] = gs;
	out.ev[AE_SHORT] = out.shutter[AE_SHORT] * gs;
}

/* Applying the decision ----------------------------------------------------- */

void set_frame_rate(smart_ae_state *s)
{
	int32_t fps = (int32_t)MIN(s->frame_rate,
	                           (double)MAX((int32_t)floor(1e6 / MAX(s->exp[AE_LONG].shutter, 1)), 5));
	if (fps == s->last_fps)
		return;
	if (videoinput_input_set_framerate(s->channel, fps))
		s->last_fps = fps;
}

void apply_change(smart_ae_state *s, const image_stats_record *stats)
{
	smart_ae_exposure *exps = s->exp;
	if (s->limits_changed) {
		exps[AE_LONG].resp_count = exps[AE_LONG].resp_max;
		exps[AE_SHORT].resp_count = exps[AE_SHORT].resp_max;
		s->limits_changed = 0;
	}
	s->steps_pending = 0;
	s->delay_counter = -1;
	if (!s->settings->ae_smooth_adjust) {
		int32_t shutters[2] = {exps[AE_LONG].want_shutter, exps[AE_SHORT].want_shutter};
		double gains[2] = {exps[AE_LONG].want_gain, exps[AE_SHORT].want_gain};
		smart_ae_apply(shutters, gains, s->stream_id, s, 0, stats);
		s->steps_pending = s->settle_delay;
	} else {
		smart_ae_plan_steps(s, AE_LONG);
		if (s->wdr)
			smart_ae_plan_steps(s, AE_SHORT);
		else
			for (int i = 0; i < SMART_AE_SCHEDULE_MAX; i++) {
				exps[AE_SHORT].sched_shutter[i] = exps[AE_SHORT].want_shutter;
				exps[AE_SHORT].sched_gain[i] = exps[AE_SHORT].want_gain;
			}
		int32_t shutters[2] = {exps[AE_LONG].sched_shutter[0], exps[AE_SHORT].sched_shutter[0]};
		double gains[2] = {exps[AE_LONG].sched_gain[0], exps[AE_SHORT].sched_gain[0]};
		smart_ae_apply(shutters, gains, s->stream_id, s, 0, stats);
		s->steps_pending = MAX(s->settle_delay, 2) - 1;
	}
	s->converged = 0;
	for (smart_ae_exposure &e : s->exp) {
		if (e.direction && e.resp_count < e.resp_max)
			e.resp_count++;
	}
}

void converge(smart_ae_state *s, const image_stats_record *stats)
{
	if (s->steps_pending > 0) {
		s->steps_pending--;
		return;
	}
	if (s->converged)
		return;
	s->converged = 1;
	s->delay_counter = s->reaction_delay;
	if (stats)
		smart_ae_print_stats(&stats->long_frame, &stats->short_frame, s);
	if (s->mode == 1)
		s->hold = 1;
	smart_ae_publish(s, s->stream_id);
}

void no_change(smart_ae_state *s, const image_stats_record *stats)
{
	if (s->limits_changed && s->exp[AE_LONG].want_shutter != 0) {
		apply_change(s, stats);
		return;
	}
	converge(s, stats);
}

void decide(smart_ae_state *s, const evaluation &e, const image_stats_record *stats)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	for (int i = 0; i < 2; i++) {
		smart_ae_exposure &x = s->exp[i];
		x.want_ev = e.ev[i];
		x.want_shutter = e.shutter[i];
		x.want_gain = e.gain[i];
		x.want_gain_db = db_of(e.gain[i]);
		x.direction = direction_of(x.want_ev, x.ev);
		if (x.direction)
			x.last_dir = x.direction;
	}
	double cur_db = db_of(l.gain);
	bool unchanged = tr(l.want_ev) == tr(l.ev) && tr(sh.want_ev) == tr(sh.ev) &&
	                 tr(10 * (l.want_gain_db - cur_db)) < 3 && tr(10 * (sh.want_gain_db - cur_db)) < 3;
	if ((l.choice == 0 && sh.choice == 0) || unchanged) {
		no_change(s, stats);
	} else if (s->delay_counter > 0 && !s->force) {
		s->delay_counter--;
		no_change(s, stats);
	} else if (s->steps_pending > 0) {
		if (s->limits_changed && l.want_shutter != 0)
			apply_change(s, stats);
		else
			s->steps_pending--;
	} else {
		apply_change(s, stats);
	}
	if (s->delay_counter == s->prev_delay_counter)
		s->delay_counter = s->reaction_delay;
	s->prev_delay_counter = s->delay_counter;
}

void evaluate(smart_ae_state *s, const image_stats_record *stats)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	evaluation e = {};
	double short_ev = sh.ev;
	l.choice = sh.choice = 0;
	double ev;
	if (!s->wdr) {
		ev = linear_decision(s, stats);
	} else {
		double lo[4], so[4];
		smart_ae_calc_ev(&stats->long_frame, lo, s, AE_LONG, l.target);
		smart_ae_calc_ev(&stats->short_frame, so, s, AE_SHORT, sh.target);
		ev = wdr_long(s, stats->long_frame, lo, so[3]);
		short_ev = wdr_short(s, stats->short_frame, so, ev);
		l.weight_ev = lo[0];
		l.near_ev = lo[1];
		l.max_sat_ev = lo[2];
		l.forecast_ev = lo[3];
		sh.weight_ev = so[0];
		sh.near_ev = so[1];
		sh.max_sat_ev = so[2];
		sh.forecast_ev = so[3];
	}
	smart_ae_limit_change(&ev, &short_ev, s);
	split_long(s, ev, &e.shutter[AE_LONG], &e.gain[AE_LONG]);
	e.ev[AE_LONG] = ev;
	if (s->wdr) {
		e.gain[AE_LONG] = correct_long_gain(s, ev, e.gain[AE_LONG]);
		e.ev[AE_SHORT] = short_ev;
		short_split(s, e, ev);
	} else {
		e.shutter[AE_SHORT] = sh.shutter;
		e.gain[AE_SHORT] = sh.gain;
		e.ev[AE_SHORT] = sh.ev;
		set_frame_rate(s);
	}
	s->prev_long_ev = l.ev;
	decide(s, e, stats);
}

// Settling after a change made at once: the frame counts down without an
// evaluation.
void decide_settling(smart_ae_state *s, const image_stats_record *stats)
{
	evaluation e = {};
	for (int i = 0; i < 2; i++) {
		e.ev[i] = s->exp[i].ev;
		e.shutter[i] = s->exp[i].shutter;
		e.gain[i] = s->exp[i].gain;
		s->exp[i].choice = 0;
	}
	decide(s, e, stats);
}

int drop(smart_ae_state *s)
{
	release_pending(s);
	return 0;
}

bool analysis_usable(const hist_analysis &a)
{
	return a.bin_count >= 3 && isfinite(a.weight) && isfinite(a.weight_unsaturated) &&
	       isfinite(a.saturation) && isfinite(a.saturation_raw) && isfinite(a.near_sat_position) &&
	       isfinite(a.data_end);
}

// The criteria divide by the bin count less two and by positions: a record
// without bins or with values that are not numbers would drive the exposure
// to infinity. Such a frame is dropped, and said once until a good one.
bool stats_usable(smart_ae_state *s, const image_stats_record *stats)
{
	bool ok = analysis_usable(stats->long_frame) && (!s->wdr || analysis_usable(stats->short_frame));
	if (!ok && !s->bad_stats_logged)
		debug_output(DEBUG_WARNING, 0,
		             "Smart AE: unusable image statistics for stream %d, frame dropped\n",
		             s->stream_id);
	s->bad_stats_logged = !ok;
	return ok;
}

int run_pending_step(smart_ae_state *s, const image_stats_record *stats)
{
	int32_t idx = s->settle_delay - s->steps_pending;
	idx = CLAMP(idx, 0, SMART_AE_SCHEDULE_MAX - 1);
	int32_t shutters[2] = {s->exp[AE_LONG].sched_shutter[idx], s->exp[AE_SHORT].sched_shutter[idx]};
	double gains[2] = {s->exp[AE_LONG].sched_gain[idx], s->exp[AE_SHORT].sched_gain[idx]};
	smart_ae_apply(shutters, gains, s->stream_id, s, idx, stats);
	s->steps_pending--;
	s->delay_counter = -1;
	return s->pending_record ? smart_ae_queue_record(s) : 0;
}

void apply_override(smart_ae_state *s, const image_stats_record *stats)
{
	s->override_pending = 0;
	s->hold = 0;
	smart_ae_apply(s->override_shutter, s->override_gain, s->stream_id, s, -1, stats);
}

} // namespace

/* Interpolation --------------------------------------------------------------- */

double smart_ae_map_value(const double *x, int n, const ae_q14_list *y, double value)
{
	int m = y ? (int)y->count : 0;
	if (m == 0)
		return 0.0; // an absent list reads as 0, not before its start
	n = MIN(n, m);
	int i = 0;
	while (i < n && x[i] < value)
		i++;
	auto yv = [&](int k) { return (double)((float)y->values[k] / 16384.0f); };
	if (i == n)
		return yv(m - 1);
	if (i == 0)
		return yv(0);
	if (x[i] == x[i - 1])
		return yv(i - 1);
	return yv(i - 1) + (yv(i) - yv(i - 1)) * (value - x[i - 1]) / (x[i] - x[i - 1]);
}

double smart_ae_map_value_q14(const ae_q14_list *x, const ae_q14_list *y, int32_t value)
{
	int m = y ? (int)y->count : 0;
	if (m == 0)
		return 0.0;
	int n = MIN((int)(x ? x->count : 0), m);
	int i = 0;
	while (i < n && x->values[i] < value)
		i++;
	if (i == n)
		return y->values[m - 1] / q14_one;
	if (i == 0)
		return y->values[0] / q14_one;
	return fx_lin_interp(value, x->values[i - 1], x->values[i], y->values[i - 1], y->values[i]) / q14_one;
}

/* The three criteria ---------------------------------------------------------- */

namespace
{

double near_saturation_ev(smart_ae_state *s, const hist_analysis &a, int exposure, double cur,
                          double *forecast)
{
	double L = s->line_time;
	double lo = a.near_sat_target - 0.05;
	double hi = a.near_sat_target + 0.05;
	double share = a.saturation;
	double pos = a.near_sat_position;
	if (exposure == AE_SHORT && s->dual_gain) {
		share = a.saturation_raw;
		pos = a.level_position[0];
		if (a.near_sat_target >= 0.05) {
			lo = 0;
			hi = 0.1;
		}
	}
	lo = MAX(lo, 0.01);
	double n = cur;
	*forecast = cur;
	if (share <= lo) {
		// A position at the bottom bin says nothing of how far the data is
		// from the top; take the smallest step rather than an unbounded one.
		double f = (a.bin_count - 2) * cur / MAX(pos, 0.01);
		*forecast = f;
		n = f < 1.05 * cur || (share <= 0.01 && !s->dual_gain) ? f : 1.05 * cur;
		n = MAX(n, cur + L + 1);
		if (n > cur && (n < cur + 5 * L || share > MAX(a.near_sat_target - 0.1, 0.01)))
			n = cur + L + 1;
		if (llabs(tr(f) - tr(cur)) < 2 * L)
			n = cur;
	} else if (share > hi) {
		double b = a.forecast_bin * cur / (a.bin_count - 2);
		double av = MAX(0.95 * cur, b);
		double result = b;
		if (share <= 1) {
			double q = hi >= 1 ? 0 : clampd((share - hi) / (1 - hi), 0, 1);
			result = between(b * q + av * (1 - q), av, b);
		}
		n = MIN(MIN(result, (1 - s->min_change_short) * cur), cur - (L + 1));
	}
	const smart_ae_exposure &e = s->exp[exposure];
	n = clampd(n, e.min_ev, e.max_ev);
	double change = fabs(n - cur);
	if (change >= 1 && change <= L - 1)
		n = cur - (L + 1);
	return n;
}

double max_saturation_ev(smart_ae_state *s, const hist_analysis &a, int exposure, double cur,
                         double weight_ev, double near)
{
	double k = MAX(s->ev_comp_factor, 1.0) * s->sat_target;
	double upper = MIN(k + 0.05, 100.0);
	double lower = MAX(k - 0.05, 0.0);
	double u = a.saturation;
	double result;
	if (u > upper && tr(u) > 0) {
		double av = k / u * cur;
		double b = 0.9 * cur;
		double q = upper >= 100         ? 0
		           : upper + 3.5 <= 100 ? (u - upper) / 3.5
		                                : (u - upper) / (100 - upper);
		q = clampd(q, 0, 1);
		result = between(q * av + (1 - q) * b, av, b);
	} else if (u < lower) {
		int64_t j = (int64_t)lround(k);
		result = (a.bin_count - 2) * cur / MAX(a.level_position[MIN(j, (int64_t)10)], 1.0);
		if (j >= 11 && u > 0)
			result = MAX(result, cur * k / u);
	} else if (u <= upper) {
		result = cur;
	} else {
		result = MAX(weight_ev, near);
	}
	result = MIN(MAX(result, near), s->exp[exposure].max_ev);
	if (k < 1 && tr(10 * a.weight) >= 2)
		result = near;
	return result;
}

} // namespace

void smart_ae_calc_ev(const hist_analysis *a, double out[4], smart_ae_state *s, int exposure, double target)
{
	double cur = s->exp[exposure].ev;
	double t = MIN(s->ev_comp_factor * target, 80.0);
	double h = s->hysteresis;
	if (s->bwc) {
		h = cur > 0 ? s->settings->ae_hysteresis / 100.0 * 700 / cur : 0.7;
		h = MIN(h, 0.7);
		s->hysteresis = h;
	}
	out[0] = a->weight < t * (1 - h) || a->weight > t * (1 + h) ? t / MAX(a->weight, 0.5) * cur : cur;
	double forecast;
	out[1] = near_saturation_ev(s, *a, exposure, cur, &forecast);
	out[2] = max_saturation_ev(s, *a, exposure, cur, out[0], out[1]);
	out[3] = MAX(a->near_sat_target - 0.05, 0.01) >= a->saturation ? forecast : out[1];
}

/* Damping --------------------------------------------------------------------- */

namespace
{

struct damping {
	double p;
	double r;
};

// The change speed and its ramp-up frames at a difference of d percent.
damping speed_at(const smart_ae_state *s, const ae_q14_list &speeds, const ae_q14_list &frames, double d,
                 int32_t fallback)
{
	damping out;
	out.p = smart_ae_map_value(s->change_map, s->change_map_count, &speeds, d) / 100.0;
	out.r = frames.count == (uint64_t)s->change_map_count
	            ? smart_ae_map_value(s->change_map, s->change_map_count, &frames, d)
	            : fallback;
	return out;
}

void restart_counter(smart_ae_exposure &e, double w)
{
	int32_t dir = direction_of(w, e.ev);
	if (tr(w) == tr(e.ev) || (e.last_dir && dir && dir != e.last_dir))
		e.resp_count = 1;
}

bool damped(const smart_ae_state *s, const smart_ae_exposure &e, double w)
{
	if (tr(w) == tr(e.ev) || !s->change_map_count)
		return false;
	return !(e.resp_count >= e.resp_max && w != 0 && fabs(e.ev_avg - w) / w * 100 <= 2);
}

double damp_long(smart_ae_state *s, double w, double d)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &e = s->exp[AE_LONG];
	double cur = e.ev;
	double L = s->line_time;
	damping sp = speed_at(s, cfg->ae_change_speed, cfg->ae_responsiveness_long, fabs(d), e.resp_max);
	int64_t r =
	    cfg->ae_responsiveness_long.count == (uint64_t)s->change_map_count ? tr(sp.r) : e.resp_max;
	double p5 = MIN(sp.p, 0.05);
	double p = r == 0 ? p5 : MIN((int64_t)e.resp_count, r) * (sp.p - p5) / r + p5;
	if (cfg->ae_smooth_adjust && cur < 2000 && w < 2000)
		p = (p - 0.05) * (s->bwc ? cur : cur + w) / 4000 + 0.05;
	if (e.resp_count == r)
		e.resp_count = e.resp_max;
	double step = (w - cur) * p;
	if (w > cur) {
		double m = e.shutter >= e.max_shutter || e.gain > 1.0 ? MAX(L, cur * s->up) : L;
		if (cfg->ae_high_gain_force_update && e.gain > 0.8 * e.max_gain)
			m = L;
		if (step < m)
			step = 0;
	} else {
		double m = e.gain > 1.0 ? MAX(L, cur * s->down) : L;
		step = MIN(step, -m);
	}
	if (step != 0 && tr(fabs(step)) > tr(fabs(w - cur)) && s->long_weight > 0)
		step = 0;
	if (step == 0) {
		e.choice = 0;
		return cur;
	}
	if (s->bwc)
		step = (w - cur) * p *
		       (w < cur ? MAX(2.0f, 1000.0f / powf((float)cur, 1.5f)) : MAX(50 / cur, 0.1));
	return cur + step;
}

double damp_short(smart_ae_state *s, double w, double long_d, double long_ev)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &e = s->exp[AE_SHORT];
	double cur = e.ev;
	double L = s->line_time;
	double d = cur > 1 ? (cur - w) * 100 / cur : 0;
	const ae_q14_list &speeds = w > cur && cfg->ae_change_speed_short_up.count
	                                ? cfg->ae_change_speed_short_up
	                                : cfg->ae_change_speed_short;
	damping sp = speed_at(s, speeds, cfg->ae_responsiveness_short, fabs(long_d), e.resp_max);
	double p = smart_ae_map_value(s->change_map, s->change_map_count, &speeds, fabs(d)) / 100.0;
	double p5 = MIN(p, 0.05);
	double r = sp.r;
	p = r == 0 ? p5 : MIN((double)e.resp_count, (double)tr(r)) * (p - p5) / r + p5;
	if (e.resp_count == tr(r))
		e.resp_count = e.resp_max;
	double step = (w - cur) * p;
	if (w < cur)
		step = MIN(step, -L);
	else if (step < L) {
		step = 0;
		e.choice = 0;
	}
	double ev = cur + step;
	ev = MAX(ev, long_ev / s->ratio_upper);
	ev = clampd(ev, e.min_ev, MAX(e.max_ev, e.min_ev));
	return MIN(ev, long_ev);
}

} // namespace

void smart_ae_limit_change(double *long_ev, double *short_ev, smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	smart_ae_exposure &l = s->exp[AE_LONG];
	double w = *long_ev;
	double cur = l.ev;
	l.ev_avg = l.ev_avg == 0 ? w : 0.9 * l.ev_avg + 0.1 * w;
	restart_counter(l, w);
	double d = cur > 1 ? (cur - w) * 100 / cur : 0;
	if (tr(fabs(d)) > cfg->ae_delay_limit) {
		s->force = 1;
		l.resp_count = MIN(l.resp_max, l.resp_count + l.resp_max / 2);
	}
	if (damped(s, l, w))
		*long_ev = damp_long(s, w, d);
	if (!s->wdr || !short_ev)
		return;
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	double ws = *short_ev;
	sh.ev_avg = sh.ev_avg == 0 ? ws : 0.9 * sh.ev_avg + 0.1 * ws;
	restart_counter(sh, ws);
	if (damped(s, sh, ws))
		*short_ev = damp_short(s, ws, d, *long_ev);
}

/* Planned steps ---------------------------------------------------------------- */

void smart_ae_plan_steps(smart_ae_state *s, int exposure)
{
	smart_ae_exposure &e = s->exp[exposure];
	int32_t n = CLAMP(s->settle_delay, 1, SMART_AE_SCHEDULE_MAX);
	int64_t s0 = e.shutter, s1 = e.want_shutter;
	int64_t e0 = tr(e.ev), e1 = tr(e.want_ev);
	double g0 = e.gain, g1 = MAX(e.want_gain, 1.0);
	int64_t L = s->line_time;
	bool stepping = llabs(s1 - s0) * 2 >= L;
	int64_t ds = 0;
	if (stepping) {
		ds = (s1 - s0) / n;
		if (ds > 0)
			ds = MAX(ds, L);
		else if (ds < 0)
			ds = MIN(ds, -L);
	}
	int dir = ds > 0 ? 1 : ds < 0 ? -1 : 0;
	double f = 1.0;
	if (fabs(g1 - g0) > 0.01) {
		double x = pow(g1 / g0, 1.0 / n);
		f = x >= 1 ? MAX(x, 1 + s->up) : MIN(x, 1 - s->up);
	}
	int64_t db = (e1 - e0) / n;
	int64_t de;
	if (e0 == e1) {
		de = 0;
	} else if (f != 1.0) {
		int64_t da = tr(ceil((s0 + ds) * g0 * f) - e0);
		bool rises = g1 > g0;
		if ((rises && dir < 0) || (!rises && dir > 0))
			de = tr((e1 - e0) / (log(g1 / g0) / log(f)));
		else if (!rises && dir < 0)
			de = MIN(da, db);
		else
			de = MAX(da, db);
	} else {
		de = dir < 0 ? MIN(db, ds) : MAX(db, ds);
	}
	double ev = (double)e0, gain = g0;
	double glo = MIN(g0, g1), ghi = MAX(g0, g1);
	for (int32_t k = 0; k < n; k++) {
		ev += de;
		gain *= f;
		if (fabs(ev - e0) > llabs(e1 - e0)) {
			ev = (double)e1;
			gain = g1;
		}
		gain = clampd(gain, glo, ghi);
		int64_t sh = s1;
		if (stepping) {
			sh = tr(ev / gain);
			if (llabs(sh - s0) <= llabs(s1 - s0))
				sh = CLAMP(sh, MIN(s0, s1), MAX(s0, s1));
			else
				sh = s1;
		}
		e.sched_ev[k] = ev;
		e.sched_gain[k] = gain;
		e.sched_shutter[k] = (int32_t)sh;
	}
	e.sched_ev[n - 1] = (double)e1;
	e.sched_gain[n - 1] = g1;
	e.sched_shutter[n - 1] = (int32_t)s1;
}

/* The step ---------------------------------------------------------------------- */

int smart_ae_cl_run(algo_step *step, control *engine)
{
	auto *local = static_cast<smart_ae_local *>(algo_step_get_local_data(step));
	if (!local || !local->state.init_done)
		return 0;
	smart_ae_state *s = &local->state;
	control_job *job = control_get_input(engine);
	if (!job)
		return 0;
	if (job->type == SMART_AE_INPUT_MOTION) {
		const int32_t *motion;
		memcpy(&motion, reinterpret_cast<const char *>(job) + sizeof(control_job), sizeof(motion));
		if (motion)
			s->motion_avg = 0.01 * motion[1] + 0.99 * s->motion_avg;
		return 0;
	}
	if (job->type != SMART_AE_INPUT_STATS)
		return 0;
	const auto *stats = reinterpret_cast<const image_stats_record *>(job);
	if (s->hold && !s->override_pending)
		return 0;
	if (s->settings->lut_enable_adaptive_threshold && s->dynamic_lut)
		prepare_record(s);
	uint32_t started = 0;
	if (libcl_get_aaa_started(&started) != 0 || !started)
		return drop(s);
	uint32_t mode = 0;
	if (libcl_get_hdr_mode(s->channel, &mode) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s Failed to get video mode for channel %d\n",
		             "smart_ae_cl_run", s->channel);
		return drop(s);
	}
	if ((mode != 0) != (s->wdr != 0))
		return drop(s);
	s->force = 0;
	if (s->delay_counter < 0 && --s->delay_counter <= -3 - s->settle_delay)
		s->delay_counter = s->reaction_delay;
	if (!maps_present(s) || !stats_usable(s, stats))
		return drop(s);
	int32_t exposure[2] = {0, 0};
	int32_t ratio[2] = {0, (int32_t)(s->ratio_max * q14_one)};
	if (sensor_get_exposure_limits(s->sensor, exposure, ratio) == 0)
		s->ratio_upper = MAX(ratio[1] / q14_one, 1.0);
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	if (s->wdr)
		s->exposure_ratio = (l.shutter * l.gain) / MAX(sh.shutter * sh.gain, 1.0);
	update_delays(s);
	aaa_state aaa;
	memset(&aaa, 0, sizeof(aaa));
	if (libcl_get_aaa_state(s->channel, &aaa) != 0) {
		debug_output(DEBUG_INFO, 0, "Could not get aaa state!");
	} else if (aaa.word[0] != 0) {
		smart_ae_publish(s, s->stream_id);
		return drop(s);
	}
	if (s->override_pending) {
		apply_override(s, stats);
		return smart_ae_run_tail(s);
	}
	if (s->steps_pending > 0 && s->settings->ae_smooth_adjust)
		return run_pending_step(s, stats);
	if (s->settings->ae_adjust_motion_blur)
		motion_rule(s);
	update_targets(s);
	update_ev_limits(s);
	if (s->steps_pending > 0) {
		decide_settling(s, stats);
	} else {
		evaluate(s, stats);
	}
	return smart_ae_run_tail(s);
}

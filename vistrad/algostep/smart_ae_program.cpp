// Smart auto exposure: the exposure program, the breakpoints {shutter, gain}
// along which an exposure value is split into shutter and gain.
#include <math.h>

#include "algostep/smart_ae.h"

namespace
{

const int32_t flicker_50[4] = {10000, 20000, 40000, 80000};
const int32_t flicker_60[4] = {8333, 16667, 33333, 66667};

struct builder {
	smart_ae_state *s;
	int32_t s_min;
	int32_t s_max;
	double g_min;
	double g_max;
	double agc;
	int32_t t_f;
	int32_t p_n;
	int32_t p_l;
};

const smart_ae_breakpoint &last(const builder &b)
{
	return b.s->program[b.s->program_count - 1];
}

// Gains never go past the maximum gain, so the user's MaxGain holds in every
// mode (the flicker steps double gains freely).
void add(builder &b, int32_t shutter, double gain)
{
	smart_ae_state *s = b.s;
	if (s->program_count >= SMART_AE_PROGRAM_MAX)
		return;
	smart_ae_breakpoint &p = s->program[s->program_count++];
	p.shutter = shutter;
	p.gain = MIN(gain, b.g_max);
	p.ev = 0.0;
}

// The gain p percent of the way from a to b on a log scale; the ends are
// exact, so that a priority of 0 or 100 adds no near-copies of a breakpoint.
double log_mix(double a, double b, int32_t p)
{
	if (p <= 0)
		return a;
	if (p >= 100)
		return b;
	return exp(log(a) + p * (log(b) - log(a)) / 100.0);
}

const int32_t *flicker_table(int32_t mode)
{
	if (mode == 2 || mode == 4)
		return flicker_50;
	if (mode == 3 || mode == 5)
		return flicker_60;
	return nullptr;
}

void add_first_millisecond(builder &b)
{
	if (b.s_min < 1000 && 1000 <= b.s_max)
		add(b, 1000, b.g_min);
}

void priority_points(builder &b)
{
	const smart_ae_settings *cfg = b.s->settings;
	double g0 = last(b).gain;
	int32_t s = MIN(b.t_f + (1000 - b.t_f) * b.p_n / 100, b.s_max);
	double g = MIN(log_mix(g0, b.agc, b.p_n), b.g_max);
	if (cfg->ae_plateau_gain_arr.count == 2 && cfg->ae_plateau_exp_arr.count == 2) {
		const int32_t *e = cfg->ae_plateau_exp_arr.values;
		const float *pg = cfg->ae_plateau_gain_arr.values;
		s = MIN(e[0] + (e[1] - e[0]) * b.p_n / 100, b.s_max);
		g = MIN((double)(pg[0] + (pg[1] - pg[0]) * (float)b.p_n / 100.0f), b.g_max);
	}
	int added = 0;
	if (last(b).shutter < s && b.agc >= g0 && b.g_max > g) {
		add(b, s, g0);
		if (g > g0) {
			add(b, s, g);
			added = 1;
		}
	} else if (g0 < g && g < b.g_max) {
		add(b, s, g);
		added = 1;
	}
	double x = added ? g : g0;
	if (!added && g0 >= b.g_max)
		return;
	int32_t t = MIN(b.t_f, b.s_max);
	if (last(b).shutter < t)
		add(b, t, x);
}

void flicker_points(builder &b, const int32_t *f)
{
	add_first_millisecond(b);
	if (f[0] > b.s_min && b.s_max > 1000 && b.p_n > 50 && b.agc / 2 > b.g_min) {
		double g = log_mix(b.g_min, b.agc / 2, (b.p_n - 50) * 2);
		add(b, (int32_t)(f[0] / g), b.g_min);
		add(b, (int32_t)(f[0] / g), g);
	}
	if (f[0] <= b.s_max) {
		if (b.s_min < f[0])
			add(b, f[0], last(b).gain);
		if (b.s_min <= f[0])
			add(b, f[0], 2 * last(b).gain);
		for (int i = 1; i <= 2; i++) {
			if (i == 2 && f[1] >= b.s_max)
				break;
			if (b.s_min < f[i] && f[i] < b.s_max) {
				double h = last(b).gain / 2;
				add(b, f[i], h > 1 ? h : 1.0);
				add(b, f[i], h > 1 ? 2 * h : 2.0);
			}
		}
		int32_t fp = f[1] >= b.s_max ? f[1] : f[2] >= b.s_max ? f[2] : f[3];
		if (b.s_min < fp && fp <= b.s_max)
			add(b, fp, MAX(last(b).gain / 2, 1.0));
	}
	if (f[0] > b.s_max && b.s_max > 1000)
		add(b, b.s_max, last(b).gain);
}

void low_light_points(builder &b, int32_t t)
{
	if (b.s_max <= t)
		return;
	int32_t s_l = last(b).shutter;
	double g_l = last(b).gain;
	int32_t x = b.s_max + b.p_l * (s_l - b.s_max) / 100;
	double g = log_mix(g_l, b.g_max, b.p_l);
	if (s_l < x && g_l < b.g_max)
		add(b, x, g_l);
	double y = g_l;
	if (g_l < g && g < b.g_max) {
		add(b, x, g);
		y = g;
	}
	if (y < b.g_max && last(b).shutter < b.s_max)
		add(b, b.s_max, y);
}

void last_points(builder &b, const int32_t *f)
{
	if (b.s_min == b.s_max && b.g_min == b.g_max)
		return;
	if (b.s->program_count == 1)
		add(b, b.s_max, b.g_min);
	double g_l = last(b).gain;
	if (f && f[0] < b.s_max && b.s_max < f[3] && g_l != b.g_max)
		add(b, b.s_max, g_l);
	add(b, b.s_max, b.g_max);
}

// Equal neighbours would make the split ambiguous: each EV must lie below
// the next one's, so an equal one (or one left equal by such a lowering)
// goes one below.
void assign_evs(smart_ae_state *s)
{
	for (int32_t i = 0; i < s->program_count; i++)
		s->program[i].ev = s->program[i].shutter * s->program[i].gain;
	for (int32_t i = s->program_count - 2; i >= 0; i--) {
		if (s->program[i].ev >= s->program[i + 1].ev)
			s->program[i].ev = s->program[i + 1].ev - 1;
	}
}

} // namespace

void smart_ae_build_program(smart_ae_state *s)
{
	if (!s || !s->settings)
		return;
	const smart_ae_exposure &l = s->exp[AE_LONG];
	builder b = {s,           l.min_shutter, l.max_shutter,  l.min_gain,      l.max_gain,
	             s->agc_gain, s->frame_time, s->prio_normal, s->prio_lowlight};
	s->program_count = 0;
	add(b, b.s_min, b.g_min);
	const int32_t *f = flicker_table(s->mode);
	if (f) {
		flicker_points(b, f);
		low_light_points(b, f[3]);
	} else {
		add_first_millisecond(b);
		if (!s->manual_shutter_on) {
			priority_points(b);
			if (b.t_f < b.s_max && b.s_min < b.t_f)
				add(b, b.t_f, MIN(MAX(b.agc, b.g_min), b.g_max));
		}
		low_light_points(b, b.t_f);
	}
	last_points(b, f);
	assign_evs(s);
}

/* The focus modes' decisions after a frame's measurement: continuous AF's
 * coarse and fine hill climb and its watch, single AF, manual focus, the
 * lens calibration run and the focus sweep. */
#include "af_internal.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#define AF_SWEEP_WINDOW 100
#define AF_CAL_LAST_ZOOM 15
#define AF_CAL_CURRENT 67
#define AF_CAL_MIN 68
#define AF_CAL_MAX 69
#define AF_CAL_ZOOM 2
#define AF_CAL_TABLES 3
#define SAF_COARSE_STEP 80
#define SAF_FINE_STEP 4
#define SAF_FINE_DROP 40

static uint32_t zoom_index(const af_config *cfg)
{
	return cfg->zoom & 0xff;
}

static const af_lens_row *zoom_row(const af_state *s, const af_config *cfg)
{
	return af_row(s, zoom_index(cfg));
}

/* The history's peak lies this far below the top: the climb went past it. */
static bool dropped(const af_state *s, uint32_t drop, uint32_t scale)
{
	return (uint64_t)drop * s->fv2_max / scale < (uint64_t)(s->fv2_max - s->fv2_energy);
}

static void note_reversal(af_state *s, int32_t at)
{
	s->previous = s->latest;
	s->latest = at;
}

static void reverse(af_state *s)
{
	s->dir = -s->dir;
	s->reversals++;
	note_reversal(s, s->cur);
}

static void wait_then(af_state *s, int32_t frames, int32_t next, int32_t clear, int32_t wait_state)
{
	s->state = wait_state;
	s->wait = frames;
	s->ret_state = next;
	s->clear_after_wait = clear;
}

/* A target at or past a limit: which one (+1 upper, -1 lower, 0 none). */
static int at_limit(int32_t target)
{
	return target >= af_upper_limit ? 1 : target <= af_lower_limit ? -1 : 0;
}

static bool gain_moved(const af_state *s, const af_lens_row *row)
{
	return (uint32_t)abs(s->gain_delta) > row->gain_threshold;
}

/* ---- continuous AF ---------------------------------------------------- */

static void restart(af_state *s)
{
	s->hit_up = s->hit_low = 0;
	s->peak_found = 0;
	s->frame_cnt = 0;
	s->budget = 0;
	s->travel = 0;
	s->step = 1;
	s->reversals = 0;
	int32_t span = 2 * abs(s->previous - s->latest) / 3;
	s->range = s->bracket && span > s->lens->min_range ? span : s->lens->min_range;
	s->bracket = 0;
	s->len = AF_LEN_SEARCH;
	af_clear_history(s);
	s->state = AF_ST_FINE;
}

static void first_start(af_state *s)
{
	s->dir = -1;
	s->hit_up = s->hit_low = 0;
	s->peak_found = 0;
	s->frame_cnt = 0;
	s->bracket = 0;
	s->budget = 0;
	s->reversals = 0;
	s->latest = s->previous = s->cur;
	s->step = 1;
	s->len = AF_LEN_SEARCH;
	af_clear_history(s);
	s->state = AF_ST_CLEAR;
}

/* A step past a limit: back to the restart point the other way; once both
 * limits were hit twice the search settles there. */
static void coarse_limit(af_state *s, int side)
{
	int32_t limit = side > 0 ? af_upper_limit : af_lower_limit;
	s->target = af_restart_point();
	s->dir = side > 0 ? -1 : 1;
	if (side > 0)
		s->hit_up++;
	else
		s->hit_low++;
	s->reversals++;
	note_reversal(s, limit);
	int32_t next = AF_ST_COARSE;
	if (s->hit_up >= 2 && s->hit_low >= 2) {
		s->hit_up = s->hit_low = 0;
		s->target = af_restart_point();
		next = AF_ST_SETTLE;
	}
	wait_then(s, 2, next, 1, AF_ST_WAIT);
}

static void coarse(af_state *s, const af_config *cfg)
{
	const af_lens_row *row = zoom_row(s, cfg);
	int64_t c = row->coarse_step;
	int64_t step = 2 * c * (3 * (int64_t)s->luma_pct + s->fv1_pct) * (1 + abs(s->cur) / 100);
	step = step < c ? c : step > 5 * c ? 5 * c : step;
	if (dropped(s, row->coarse_drop, 100)) {
		reverse(s);
		if (s->reversals > 2) {
			printf("Coarse_find_peak!\n");
			s->target = s->peak;
			s->peak_found = 1;
			s->bracket = 1;
			wait_then(s, 2, AF_ST_RESTART, 1, AF_ST_WAIT);
		} else {
			s->target = (3 * s->peak + s->cur) >> 2;
			wait_then(s, 2, AF_ST_COARSE, 1, AF_ST_WAIT);
		}
		return;
	}
	s->target = s->cur + s->dir * (int32_t)step;
	s->travel += s->dir * (int32_t)step;
	if (int side = at_limit(s->target))
		coarse_limit(s, side);
}

static void fine(af_state *s, const af_config *cfg)
{
	const af_lens_row *row = zoom_row(s, cfg);
	if (abs(s->travel) > s->range) {
		s->target = af_restart_point();
		s->dir = -s->dir;
		s->state = AF_ST_CLEAR;
		return;
	}
	if (gain_moved(s, row)) {
		s->frame_cnt = 0;
		s->reversals = 0;
		af_clear_history(s);
		return;
	}
	if (s->frame_cnt != s->budget) {
		s->frame_cnt++;
		return;
	}
	s->frame_cnt = 0;
	s->budget = s->reversals ? 1 : 0;
	s->step = row->fine_step;
	if (dropped(s, row->fine_drop, 1000)) {
		reverse(s);
		if (s->reversals > 2) {
			printf("Fine_find_peak!\n");
			s->peak_found = 1;
			s->bracket = 1;
			s->target = s->peak;
			s->travel = 0;
			s->range = abs(s->previous - s->latest);
			wait_then(s, 2, AF_ST_SETTLE, 1, AF_ST_WAIT);
		} else {
			s->target = (3 * s->peak + s->cur) >> 2;
			wait_then(s, 2, AF_ST_FINE, 1, AF_ST_WAIT);
		}
		return;
	}
	s->target = s->cur + s->dir * row->fine_step;
	s->travel += s->dir * row->fine_step;
	int side = at_limit(s->target);
	if (!side)
		return;
	int32_t limit = side > 0 ? af_upper_limit : af_lower_limit;
	s->target = limit;
	s->dir = -s->dir;
	if (side > 0)
		s->hit_up++;
	else
		s->hit_low++;
	note_reversal(s, limit);
	int32_t next = AF_ST_FINE;
	if (s->hit_up && s->hit_low) {
		s->hit_up = s->hit_low = 0;
		s->target = s->peak;
		next = AF_ST_SETTLE;
	}
	wait_then(s, 2, next, 1, AF_ST_WAIT);
}

static void settle(af_state *s)
{
	s->frame_cnt = 0;
	s->len = AF_LEN_SETTLED;
	s->budget = 4;
	s->step = 1;
	af_clear_history(s);
	s->reference = s->fv2_energy;
	s->state = AF_ST_WATCH;
}

/* Settled: a change of the scene, the gain or the focus value starts a new
 * search once the row's settle frames have passed. */
static void watch(af_state *s)
{
	const af_lens_row *row = af_row(s, (uint32_t)s->z);
	uint64_t ref = s->reference, e = s->fv2_energy;
	uint64_t moved = ref > e ? ref - e : e - ref;
	if (moved > (uint64_t)(s->agc + 51) * ref / 100 || gain_moved(s, row) || s->scene_change >= 11)
		s->noticed = 1;
	if (!s->noticed)
		return;
	s->frame_cnt++;
	if (s->frame_cnt > row->settle_frames) {
		s->state = AF_ST_RESTART;
		s->noticed = 0;
		s->frame_cnt = 0;
	}
}

static void wait_frame(af_state *s, bool always_clear)
{
	if (s->wait) {
		s->wait--;
		return;
	}
	s->state = s->ret_state;
	if (always_clear || s->clear_after_wait == 1)
		af_clear_history(s);
}

/* z moves a tenth towards the zoom index while they lie a row or more
 * apart. */
static bool track_zoom(af_state *s, const af_config *cfg)
{
	float zoom = (float)zoom_index(cfg);
	if (truncf(zoom - s->p) == 0)
		return false;
	s->z += zoom > s->z ? 0.1f : -0.1f;
	return true;
}

static void continuous(af_instance *af, af_config *cfg, af_output *out)
{
	af_state *s = af->state;
	s->cur = s->target;
	if (track_zoom(s, cfg)) {
		s->state = AF_ST_TRACK;
	} else {
		switch (s->state) {
		case AF_ST_TRACK:
		case AF_ST_RESTART:
			restart(s);
			break;
		case AF_ST_FIRST:
			first_start(s);
			break;
		case AF_ST_CLEAR:
			af_clear_history(s);
			s->state = AF_ST_COARSE;
			break;
		case AF_ST_COARSE:
			coarse(s, cfg);
			break;
		case AF_ST_FINE:
			fine(s, cfg);
			break;
		case AF_ST_SETTLE:
			settle(s);
			break;
		case AF_ST_WATCH:
			watch(s);
			break;
		case AF_ST_WAIT:
			wait_frame(s, false);
			break;
		default:
			return;
		}
	}
	zoom_move(af, out);
	cfg->focus = s->cur;
	int16_t cap = (int16_t)af_row(s, (uint32_t)s->z)->speed_cap;
	if (out->speed > cap)
		out->speed = cap;
}

/* ---- single AF -------------------------------------------------------- */

static void single_start(af_state *s)
{
	s->hit_up = s->hit_low = 0;
	s->peak_found = 0;
	s->reversals = 0;
	s->len = AF_LEN_SETTLED;
	af_clear_history(s);
	s->latest = s->previous = s->cur;
	s->step = 6;
	s->target = s->cur + s->dir * 6;
	if (int side = at_limit(s->target)) {
		s->target = side > 0 ? af_upper_limit : af_lower_limit;
		s->dir = -s->dir;
	}
	s->state = AF_ST_SINGLE_COARSE;
}

static void single_coarse(af_state *s, const af_config *cfg)
{
	const af_lens_row *row = zoom_row(s, cfg);
	s->step = SAF_COARSE_STEP;
	if (dropped(s, row->coarse_drop, 1000)) {
		reverse(s);
		if (s->reversals == 1) {
			s->target = s->peak - s->dir * 40;
			wait_then(s, 1, AF_ST_SINGLE_COARSE, 1, AF_ST_SINGLE_WAIT);
		} else {
			s->peak_found = 1;
			s->target = s->peak - s->dir * af_focus_speed(s) - (s->dir * SAF_COARSE_STEP * 3) / 4;
			s->state = AF_ST_SINGLE_FINE_SETUP;
		}
		return;
	}
	s->target = s->cur + s->dir * SAF_COARSE_STEP;
	if (int side = at_limit(s->target)) {
		int32_t limit = side > 0 ? af_upper_limit : af_lower_limit;
		s->target = limit;
		s->dir = -s->dir;
		s->reversals++;
		if (side > 0)
			s->hit_up++;
		else
			s->hit_low++;
		note_reversal(s, limit);
		if (s->reversals == 1)
			wait_then(s, 1, AF_ST_SINGLE_COARSE, 1, AF_ST_SINGLE_WAIT);
		else
			s->state = AF_ST_SINGLE_FINE_SETUP;
	}
	if (s->hit_up > 1 && s->hit_low > 1) {
		s->target = s->peak;
		s->state = AF_ST_FAILED;
		printf("in-focus point: %d, current point: %d(Fail SAF)\n", (int)s->peak, (int)s->cur);
	}
}

static void single_fine_setup(af_state *s)
{
	s->hit_up = s->hit_low = 0;
	s->peak_found = 0;
	s->bracket = 0;
	s->travel = 0;
	s->reversals = 0;
	af_clear_history(s);
	s->step = 2;
	if (s->latest > s->previous) {
		int32_t t = s->latest;
		s->latest = s->previous;
		s->previous = t;
	}
	s->state = AF_ST_SINGLE_FINE;
}

static void single_fine(af_state *s)
{
	if (s->cur < s->latest || s->cur > s->previous) {
		s->target = s->peak;
		s->state = AF_ST_FAILED;
		return;
	}
	s->step = SAF_FINE_STEP;
	bool end = false;
	if (dropped(s, SAF_FINE_DROP, 1000)) {
		s->dir = -s->dir;
		end = true;
	} else {
		s->target = s->cur + s->dir * SAF_FINE_STEP;
		end = at_limit(s->target) != 0;
	}
	if (end) {
		s->target = s->peak - s->dir * af_focus_speed(s);
		s->state = AF_ST_SINGLE_END;
	}
}

static void single(af_instance *af, af_config *cfg, af_output *out)
{
	af_state *s = af->state;
	s->cur = s->target;
	bool gain_changed = s->gain_delta != 0;
	switch (s->state) {
	case AF_ST_SINGLE_START:
		single_start(s);
		break;
	case AF_ST_SINGLE_COARSE:
		if (gain_changed)
			af_clear_history(s);
		else
			single_coarse(s, cfg);
		break;
	case AF_ST_SINGLE_FINE_SETUP:
		single_fine_setup(s);
		break;
	case AF_ST_SINGLE_FINE:
		if (gain_changed)
			af_clear_history(s);
		else
			single_fine(s);
		break;
	case AF_ST_SINGLE_END:
		s->state = AF_ST_LOCKED;
		break;
	case AF_ST_FAILED:
		break;
	case AF_ST_LOCKED:
		printf("^_^ locked at %fm\n", s->cur ? 500.0 / s->cur : INFINITY);
		break;
	case AF_ST_SINGLE_WAIT:
		wait_frame(s, true);
		return;
	default:
		return;
	}
	zoom_move(af, out);
}

/* ---- manual, calibration, sweep ---------------------------------------- */

static void manual(af_instance *af, af_config *cfg, af_output *out)
{
	af_state *s = af->state;
	s->target = cfg->focus;
	track_zoom(s, cfg);
	zoom_move(af, out);
}

static void ask(af_output *out, int32_t focus_steps, bool zoom, int32_t zoom_steps)
{
	out->focus_move = 1;
	out->focus_steps = focus_steps;
	out->zoom_move = zoom;
	out->zoom_steps = zoom ? zoom_steps : 0;
}

/* The window of the sweep on a focus-table row around nominal index n. */
static void cal_window(const af_focus_row *row, int32_t n)
{
	int32_t a = af_index_to_pulse(row, n - AF_SWEEP_WINDOW),
	        b = af_index_to_pulse(row, n + AF_SWEEP_WINDOW);
	af_cal.word[AF_CAL_MIN] = a < b ? a : b;
	af_cal.word[AF_CAL_MAX] = a < b ? b : a;
}

static uint32_t cal_zoom(void)
{
	uint32_t zc = (uint32_t)af_cal.word[AF_CAL_ZOOM];
	return zc < AF_ZOOM_ROWS ? zc : AF_ZOOM_ROWS - 1;
}

/* Every run opens its window on nominal word 0 and then works with word 1
 * and table 1, so that no run writes over the words of the running sweep
 * (67 to 69) or the zoom index (word 2). */
static void cal_start(af_state *s, af_output *out)
{
	af_clear_history(s);
	uint32_t old = cal_zoom();
	af_cal.word[AF_CAL_ZOOM] = 0;
	af_cal.run = 0;
	int32_t n = af_cal.word[af_cal.run];
	cal_window(&s->focus[0], n);
	printf("min_pulse is %d,max_pulse is %d\n", (int)af_cal.word[AF_CAL_MIN],
	       (int)af_cal.word[AF_CAL_MAX]);
	int32_t centre = af_index_to_pulse(&s->focus[0], n);
	ask(out, centre, true, s->focus[0].zoom_pos - s->focus[old].zoom_pos);
	af_cal.word[AF_CAL_CURRENT] = centre;
	s->cal_low = s->cal_high = 0;
	s->state = AF_ST_CAL_SWEEP;
	af_cal.run++;
}

static void cal_sweep(af_state *s, af_output *out)
{
	uint32_t zc = cal_zoom();
	int32_t pulse = af_cal.word[AF_CAL_CURRENT];
	if (pulse < af_cal.word[AF_CAL_MIN]) {
		af_cal.dir = (int8_t)-af_cal.dir;
		s->cal_low++;
	} else if (pulse > af_cal.word[AF_CAL_MAX]) {
		af_cal.dir = (int8_t)-af_cal.dir;
		s->cal_high++;
	}
	int32_t r = af_cal.run;
	if (s->cal_low >= 2 && s->cal_high >= 2) {
		if (zc == AF_CAL_LAST_ZOOM) {
			s->state = AF_ST_CAL_DONE;
			return;
		}
		uint32_t old = zc++;
		af_cal.word[AF_CAL_ZOOM] = (int32_t)zc;
		af_cal.dir = af_cal.prev_dir = 1;
		const af_focus_row *row = &s->focus[zc];
		cal_window(row, af_cal.word[r]);
		int32_t centre = af_index_to_pulse(row, af_cal.word[r]);
		ask(out, centre - pulse, true, row->zoom_pos - s->focus[old].zoom_pos);
		af_cal.word[AF_CAL_CURRENT] = centre;
		s->cal_low = s->cal_high = 0;
		return;
	}
	const af_focus_row *row = &s->focus[zc];
	int32_t next = pulse + af_cal.dir;
	s->cur = af_pulse_to_index(row, pulse);
	s->target = af_pulse_to_index(row, next);
	ask(out, af_cal.dir, false, 0);
	int32_t top = af_index_to_pulse(row, s->peak);
	af_cal.word[AF_CAL_TABLES + AF_ZOOM_ROWS * r + (int32_t)zc] = top;
	af_cal.word[AF_CAL_CURRENT] = next;
	printf(">>>>>>>>>>>>>>>>>>>>pulse_cur is %d, fpos_fv2_top pulse is %d,  fpos_fv2_top is %d\n",
	       (int)next, (int)top, (int)s->peak);
}

static void cal_done(void)
{
	if (!af_cal.print_pending)
		return;
	printf("calibration successful ^_^\n");
	int32_t r = af_cal.run;
	for (int k = 0; k < AF_ZOOM_ROWS; k++)
		printf("top[%d] is %d\n", (int)r, (int)af_cal.word[AF_CAL_TABLES + AF_ZOOM_ROWS * r + k]);
	af_cal.print_pending = 0;
}

static void calibration(af_state *s, af_output *out)
{
	switch (s->state) {
	case AF_ST_CAL_START:
		cal_start(s, out);
		break;
	case AF_ST_CAL_SWEEP:
		cal_sweep(s, out);
		break;
	case AF_ST_CAL_DONE:
		cal_done();
		break;
	default:
		break;
	}
}

static void sweep(af_state *s, const af_config *cfg, af_output *out)
{
	if (af_cal.sweep_wait > 0) {
		af_cal.sweep_wait--;
		return;
	}
	const af_focus_row *row =
	    &s->focus[zoom_index(cfg) < AF_ZOOM_ROWS ? zoom_index(cfg) : AF_ZOOM_ROWS - 1];
	int32_t a = af_index_to_pulse(row, af_lower_limit), b = af_index_to_pulse(row, af_upper_limit);
	int32_t lo = a < b ? a : b, hi = a < b ? b : a;
	if (s->sweep_pos < lo || s->sweep_pos > hi)
		af_cal.sweep_step = (int8_t)-af_cal.sweep_step;
	int32_t old = s->sweep_pos;
	s->sweep_pos += af_cal.sweep_step;
	s->cur = af_pulse_to_index(row, old);
	s->target = af_pulse_to_index(row, s->sweep_pos);
	printf("dist_idx_src is %d, dist_idx_src is %d\n", (int)s->cur, (int)s->target);
	ask(out, af_cal.sweep_step, false, 0);
	af_cal.sweep_wait = 1;
	printf(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>pulse_cur is %d, fpos_fv2_top is %d\n",
	       (int)s->sweep_pos, (int)af_index_to_pulse(row, s->peak));
}

int af_run_mode(af_instance *af, af_config *cfg, af_output *out)
{
	switch (cfg->mode) {
	case AF_MODE_CONTINUOUS:
		continuous(af, cfg, out);
		return 0;
	case AF_MODE_SINGLE:
		single(af, cfg, out);
		return 0;
	case AF_MODE_MANUAL:
		manual(af, cfg, out);
		return 0;
	case AF_MODE_CALIBRATION:
		calibration(af->state, out);
		return 0;
	case AF_MODE_SWEEP:
		sweep(af->state, cfg, out);
		return 0;
	default:
		return -1;
	}
}

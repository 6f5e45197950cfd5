/* Auto white balance: the instances, their per-frame run and the store
 * that reaches them by channel. */
#include "awb.h"

#include "img_hdr_curves.h"
#include "smooth_change.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include <algorithm>

/* The part of a cl_aaa_block that a following channel copies. */
#define AWB_RESULT_AT offsetof(cl_aaa_block, wb_update)
#define AWB_RESULT_SIZE (offsetof(cl_aaa_block, af_out) - AWB_RESULT_AT)
static_assert(AWB_RESULT_AT == 128 && AWB_RESULT_SIZE == 28, "bytes 128 to 155 of the block");

/* A jump of either gain by more than this resets the convergence's
 * progress. */
#define AWB_JUMP 120
/* Within these of the new gains the output has converged, and within the
 * second it is stable. */
#define AWB_CONVERGED 29
#define AWB_SETTLED 11
#define AWB_STARTUP_RUNS 12
#define AWB_MAX_WEIGHT 128
#define AWB_FAIL_LIMIT 31
#define AWB_EVAL_GAP 4

static struct {
	int32_t count;
	awb_chan_store chan[AWB_MAX_CHANNELS];
	channel_info info[AWB_MAX_CHANNELS];
	awb_instance *inst[AWB_MAX_CHANNELS];
	uint32_t debug;
	bool clock_started;
	struct timeval clock_start;
	/* what the last run put out, for the first filter pass */
	bool ran[AWB_MAX_CHANNELS];
	uint32_t out[AWB_MAX_CHANNELS][3];
	/* a follow channel already reported as missing */
	bool follow_warned[AWB_MAX_CHANNELS];
} awb;

static void trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static void trace(const char *fmt, ...)
{
	if (!awb.debug)
		return;
	va_list ap;
	va_start(ap, fmt);
	vprintf(fmt, ap);
	va_end(ap);
}

/* Milliseconds since the first call. */
static uint32_t clock_ms(void)
{
	struct timeval now;
	gettimeofday(&now, NULL);
	if (!awb.clock_started) {
		awb.clock_started = true;
		awb.clock_start = now;
		return 0;
	}
	int64_t ms = (int64_t)(now.tv_sec - awb.clock_start.tv_sec) * 1000 +
	             (now.tv_usec - awb.clock_start.tv_usec) / 1000;
	return (uint32_t)ms;
}

/* ---- arithmetic ---------------------------------------------------------- */

static uint32_t sat_u32(uint64_t v)
{
	return v > UINT32_MAX ? UINT32_MAX : (uint32_t)v;
}

static uint32_t absdiff(uint32_t a, uint32_t b)
{
	return a > b ? a - b : b - a;
}

/* c's gain to match g: (g << 10) / c. */
static uint32_t gain_of(uint64_t g, uint64_t c)
{
	return c ? sat_u32((g << 10) / c) : 0;
}

/* Brightness weight of a tile by its brightness index: the darkest and the
 * brightest tiles say little about the light. */
static uint32_t brightness_weight(uint32_t index)
{
	static const uint8_t low[6] = {0, 1, 1, 2, 3, 4}, high[6] = {4, 3, 2, 1, 0, 0};
	index %= 64;
	if (index < 6)
		return low[index];
	if (index > 57)
		return high[index - 58];
	return 5;
}

/* ---- calibration --------------------------------------------------------- */

static void calib_unity(awb_data *d)
{
	for (auto &f : d->calib_factor)
		f[0] = f[1] = f[2] = AWB_UNITY;
}

/* The unit's references against the golden unit's: factors that map this
 * unit's gains to the golden unit's, where the tuning zones lie. */
static void calib_check(awb_data *d)
{
	calib_unity(d);
	for (const auto &ref : d->calib_ref) {
		if (!ref[0] || !ref[1] || !ref[2]) {
			printf("------ AWB calibration value invalid   ( 0 )------\n");
			return;
		}
	}
	const uint32_t *ul = d->calib_ref[0], *uh = d->calib_ref[1];
	const uint32_t *gl = d->calib_ref[2], *gh = d->calib_ref[3];
	if (absdiff(ul[0], gl[0]) > d->calib_thr[0] || absdiff(ul[2], gl[2]) > d->calib_thr[1] ||
	    absdiff(uh[0], gh[0]) > d->calib_thr[0] || absdiff(uh[2], gh[2]) > d->calib_thr[1]) {
		printf("------ AWB calibration value invalid  ( unsuitable for calibration threshold ) "
		       "------\n");
		return;
	}
	const uint32_t *unit[2] = {ul, uh}, *golden[2] = {gl, gh};
	for (int k = 0; k < 2; k++) {
		d->calib_factor[k][0] = gain_of(golden[k][0], unit[k][0]);
		d->calib_factor[k][2] = gain_of(golden[k][2], unit[k][2]);
	}
}

/* The factor at x between the references x0 < x1 with factors f0 and f1;
 * outside, the nearer one. */
static uint32_t calib_factor(uint32_t x, uint32_t x0, uint32_t x1, uint32_t f0, uint32_t f1)
{
	if (x <= x0)
		return f0;
	if (x >= x1)
		return f1;
	return (uint32_t)linear_map64(x, x0, x1, f0, f1);
}

static int correct(const awb_data *d, uint32_t g[3], uint32_t direction)
{
	if (!g || direction > AWB_CORRECT_DIV)
		return -1;
	const uint32_t *ul = d->calib_ref[0], *uh = d->calib_ref[1];
	/* Red gains grow towards the high reference, blue gains shrink. */
	uint32_t fr = g[0] <= ul[0]
	                  ? d->calib_factor[0][0]
	                  : calib_factor(g[0], ul[0], uh[0], d->calib_factor[0][0], d->calib_factor[1][0]);
	uint32_t fb = g[2] <= uh[2]
	                  ? d->calib_factor[1][2]
	                  : calib_factor(g[2], uh[2], ul[2], d->calib_factor[1][2], d->calib_factor[0][2]);
	uint32_t f[3] = {fr, AWB_UNITY, fb};
	for (int i = 0; i < 3; i += 2) {
		if (direction == AWB_CORRECT_MUL)
			g[i] = sat_u32(((uint64_t)g[i] * f[i]) >> 10);
		else
			g[i] = f[i] ? sat_u32(((uint64_t)g[i] << 10) / f[i]) : 0;
	}
	g[1] = AWB_UNITY;
	return 0;
}

/* The preset of a mode as this unit's gains. */
static void preset_gains(const awb_data *d, uint32_t mode, uint32_t n[3])
{
	memcpy(n, d->preset[mode], sizeof d->preset[mode]);
	if (mode != AWB_CUSTOM_PRESET)
		correct(d, n, AWB_CORRECT_DIV);
}

/* ---- white points -------------------------------------------------------- */

static bool zone_holds(const awb_zone *z, int64_t r, int64_t b)
{
	if (r < z->r_min || r > z->r_max || b < z->b_min || b > z->b_max)
		return false;
	for (int k = 0; k < 4; k++) {
		int64_t edge = z->line[k].offset + (int64_t)z->line[k].slope * r / 1024;
		if (k % 2 == 0 ? b < edge : b > edge)
			return false;
	}
	return true;
}

/* The zone (1-based) of the range that takes a tile with these gains, or
 * 0: the first of the highest positive weight, unless a zone of negative
 * weight holds the tile too. */
static int zone_match(const awb_data *d, uint32_t first, uint32_t count, uint32_t rt, uint32_t bt)
{
	uint32_t g[3] = {rt, AWB_UNITY, bt};
	correct(d, g, AWB_CORRECT_MUL);
	int best = 0, best_weight = 0;
	uint32_t end = std::min<uint32_t>(first + count, AWB_ZONES);
	for (uint32_t z = first; z < end; z++) {
		const awb_zone *zone = &d->zone[z];
		if (!zone->weight || !zone_holds(zone, g[0], g[2]))
			continue;
		if (zone->weight < 0)
			return 0;
		if (zone->weight > best_weight) {
			best = (int)z + 1;
			best_weight = zone->weight;
		}
	}
	return best;
}

static uint32_t tile_count(const aaa_parse_result *s)
{
	return std::min<uint32_t>(s->awb_tiles, AWB_TILES);
}

/* The white point of one zone range: each zone's weighted mean gains,
 * zones weighted by their light weight and the square of their tiles. */
static bool search_range(const awb_data *d, const aaa_parse_result *s, uint32_t first, uint32_t count,
                         uint32_t out[3])
{
	struct {
		uint64_t tiles, weight, r, b;
	} acc[AWB_ZONES] = {};
	uint32_t tiles = tile_count(s);
	bool any = false;
	for (uint32_t i = 0; i < tiles; i++) {
		const aaa_awb_tile *t = &s->set.awb[i];
		uint32_t wl = brightness_weight(t->luma);
		if (!d->tile_weight[i] || !t->r || !t->g || !t->b || !wl)
			continue;
		uint32_t rt = gain_of(t->g, t->r), bt = gain_of(t->g, t->b);
		int z = zone_match(d, first, count, rt, bt);
		if (!z)
			continue;
		uint64_t w = (uint64_t)d->tile_weight[i] * wl;
		acc[z - 1].tiles++;
		acc[z - 1].weight += w;
		acc[z - 1].r += rt * w;
		acc[z - 1].b += bt * w;
		any = true;
	}
	if (!any)
		return false;
	unsigned __int128 sum_r = 0, sum_b = 0;
	uint64_t sum_w = 0;
	for (int z = 0; z < AWB_ZONES; z++) {
		if (!acc[z].tiles)
			continue;
		uint64_t wz =
		    d->light_weight[z] * (acc[z].weight / acc[z].tiles) * acc[z].tiles * acc[z].tiles;
		sum_r += (unsigned __int128)(acc[z].r / acc[z].weight) * wz;
		sum_b += (unsigned __int128)(acc[z].b / acc[z].weight) * wz;
		sum_w += wz;
	}
	/* Tiles only in zones without light weight give no white point, not
	 * gains of 0. */
	if (!sum_w)
		return false;
	out[0] = sat_u32((uint64_t)(sum_r / sum_w));
	out[1] = AWB_UNITY;
	out[2] = sat_u32((uint64_t)(sum_b / sum_w));
	return true;
}

/* Environment 12 tries the ranges of environments 11, 0 and 2 in turn. */
static bool env_search(const awb_data *d, const aaa_parse_result *s, uint32_t out[3])
{
	static const uint32_t automatic[] = {11, 0, 2};
	if (d->mode != 0)
		return false;
	if (d->env_mode < AWB_ENVS)
		return search_range(d, s, d->env[d->env_mode][0], d->env[d->env_mode][1], out);
	for (uint32_t e : automatic)
		if (search_range(d, s, d->env[e][0], d->env[e][1], out))
			return true;
	return false;
}

/* ---- grey worlds --------------------------------------------------------- */

static void centre_grey(awb_data *d, const aaa_parse_result *s, uint32_t out[3])
{
	uint64_t sum[3] = {0, 0, 0};
	for (uint32_t row = 12; row < 20; row++) {
		for (uint32_t col = 12; col < 20; col++) {
			const aaa_awb_tile *t = &s->set.awb[row * AWB_GRID + col];
			sum[0] += t->r;
			sum[1] += t->g;
			sum[2] += t->b;
		}
	}
	if (sum[0] <= 63 || sum[1] <= 63 || sum[2] <= 63) {
		printf("Image is too dark. Can't get correct WB gain.\n");
		out[0] = out[1] = out[2] = AWB_UNITY;
	} else {
		out[0] = gain_of(sum[1] >> 6, sum[0] >> 6);
		out[1] = AWB_UNITY;
		out[2] = gain_of(sum[1] >> 6, sum[2] >> 6);
	}
	memcpy(d->grey_gain, out, sizeof d->grey_gain);
}

/* Grey world over the tiles of the luma range, the brighter ones counting
 * less. */
static bool weighted_grey(const awb_data *d, const aaa_parse_result *s, const uint32_t prev[3],
                          uint32_t out[3])
{
	uint64_t sum[3] = {0, 0, 0}, n = 0;
	uint32_t tiles = tile_count(s);
	for (uint32_t i = 0; i < tiles; i++) {
		const aaa_awb_tile *t = &s->set.awb[i];
		uint32_t idx = t->luma;
		if (idx < d->luma_range[0] || idx > d->luma_range[1])
			continue;
		uint64_t w = idx > 14 ? 70 / idx : (250 * idx / 14) & 255;
		sum[0] += t->r * w;
		sum[1] += t->g * w;
		sum[2] += t->b * w;
		n++;
	}
	if (!n)
		return false;
	/* Without green either the gains would come out 0. */
	if (!(sum[0] / n) || !(sum[1] / n) || !(sum[2] / n)) {
		memcpy(out, prev, 3 * sizeof *out);
		return true;
	}
	out[0] = gain_of(sum[1], sum[0]);
	out[1] = AWB_UNITY;
	out[2] = gain_of(sum[1], sum[2]);
	return true;
}

/* ---- convergence --------------------------------------------------------- */

/* Warm light keeps some of its warmth, cold light some of its cold: the
 * red and blue scales by where the red gain lies on the locus. */
static void warmth(const awb_data *d, uint32_t n[3])
{
	const uint8_t *s = d->warmth_scale;
	uint32_t w3 = d->warmth_thr[3], w0 = d->warmth_thr[0], w9 = d->warmth_thr[9], w6 = d->warmth_thr[6];
	uint32_t r = n[0];
	int64_t sr, sb;
	if (r <= w3) {
		sr = s[0], sb = s[1];
	} else if (r <= w0) {
		sr = linear_map64(r, w3, w0, s[0], s[2]);
		sb = linear_map64(r, w3, w0, s[1], s[3]);
	} else if (r <= w9) {
		sr = s[2], sb = s[3];
	} else if (r <= w6) {
		sr = linear_map64(r, w9, w6, s[2], s[4]);
		sb = linear_map64(r, w9, w6, s[3], s[5]);
	} else {
		sr = s[4], sb = s[5];
	}
	n[0] = sat_u32(((uint64_t)n[0] * (uint64_t)sr) >> 7);
	n[2] = sat_u32(((uint64_t)n[2] * (uint64_t)sb) >> 7);
}

/* A large change starts a fast approach once. */
static void fast_start(awb_data *d, int64_t *w, uint32_t step, int64_t k)
{
	if (d->fast)
		return;
	d->fast = 1;
	d->slow = 0;
	d->step = step;
	*w = std::max<int64_t>(1, k * d->speed / 128);
}

/* A small change: the weight grows the longer the output stays on its
 * way without getting closer. */
static void slow_approach(awb_data *d, int64_t *w, uint32_t distance, uint32_t old)
{
	d->fast = 0;
	if (distance <= old) {
		if (distance == old && ++d->equal_count > 10) {
			d->step += 41;
			d->equal_count = 0;
		} else {
			d->step += 1;
		}
	}
	if (!d->slow && d->step <= 159) {
		d->slow = 1;
		int64_t k = d->step <= 79 ? 2 : d->step <= 119 ? 3 : 4;
		*w = std::max<int64_t>(1, k * d->speed / 128);
	}
	if (d->slow == 1 && d->step > 120) {
		*w += 1;
		d->step = 100;
	}
}

static void not_converged(awb_data *d, uint32_t change, uint32_t distance, uint32_t old)
{
	int64_t s = d->speed, w = d->weight;
	if (d->stable == 1)
		d->slow = 0;
	d->stable = 0;
	uint32_t a = d->jump_thr[0], b = d->jump_thr[1];
	if (change > a)
		fast_start(d, &w, 100, 4);
	else if (change > b)
		fast_start(d, &w, 70, 3);
	else if (change > b / 2)
		fast_start(d, &w, 40, 2);
	else
		slow_approach(d, &w, distance, old);

	uint32_t v = std::max<uint32_t>(2 * ((d->speed - 88) % 32768), 80);
	int64_t frames;
	if (distance < v) {
		frames = 8;
		w = std::min<int64_t>(AWB_MAX_WEIGHT, w + std::max<int64_t>(1, ((2 * s + 65) / 128) % 256));
	} else if (distance < 3 * (uint64_t)v) {
		frames = 6;
		w += 1;
	} else if (distance < 5 * (uint64_t)v) {
		frames = 4;
	} else {
		frames = 2;
	}
	d->countdown = (int16_t)std::max<int64_t>(0, frames + (128 - s) * 20 / 128);
	if (d->startup < AWB_STARTUP_RUNS) {
		int64_t count = d->startup++;
		d->step = 200;
		d->countdown = AWB_EVAL_GAP;
		if (count <= 2)
			w = 32;
		else
			w = std::min<int64_t>(AWB_MAX_WEIGHT, w + (64 - w) * (11 - count) / 8);
	}
	d->weight = (uint8_t)std::clamp<int64_t>(w, 0, AWB_MAX_WEIGHT);
}

static void converged(awb_data *d, uint32_t dr, uint32_t db)
{
	int64_t s = d->speed, w = d->weight;
	d->step = 0;
	d->countdown = (int16_t)std::max<int64_t>(0, (128 - s) * 20 / 128 + 5);
	d->startup = AWB_STARTUP_RUNS;
	if ((dr <= AWB_SETTLED && db <= AWB_SETTLED) || w > 127) {
		d->stable = 1;
		return;
	}
	if (d->stable)
		return;
	w += (w <= dr && w <= db) ? 3 * s / 128 : 16;
	d->weight = (uint8_t)std::min<int64_t>(w, AWB_MAX_WEIGHT);
}

void awb_converge(awb_data *d, const uint32_t p[3], uint32_t n[3])
{
	if (d->reset_last) {
		memcpy(d->last_gain, p, sizeof d->last_gain);
		d->reset_last = 0;
	}
	uint32_t cr = absdiff(d->last_gain[0], n[0]), cb = absdiff(d->last_gain[2], n[2]);
	uint32_t change = cr + cb;
	bool jump = cr > AWB_JUMP || cb > AWB_JUMP;
	if (change > d->last_change) {
		d->slow = 0;
		if (jump)
			d->step = 0;
	} else if (jump && !d->slow) {
		d->step = 0;
	}
	d->last_change = change;
	memcpy(d->last_gain, n, sizeof d->last_gain);

	warmth(d, n);
	uint32_t dr = absdiff(p[0], n[0]), db = absdiff(p[2], n[2]);
	uint32_t old = d->last_distance;
	d->last_distance = dr + db;
	if (dr > AWB_CONVERGED || db > AWB_CONVERGED)
		not_converged(d, change, dr + db, old);
	else
		converged(d, dr, db);
}

/* ---- the per-frame run --------------------------------------------------- */

static void put_out(cl_aaa_block *o, const uint32_t n[3])
{
	o->wb_r_gain = n[0];
	o->wb_g_gain = AWB_UNITY;
	o->wb_b_gain = n[2];
	o->wb_update = 1;
}

static void first_run(awb_data *d, const aaa_parse_result *s, cl_aaa_block *o)
{
	uint32_t n[3];
	if (d->preload[0] != AWB_UNITY && d->preload[2] != AWB_UNITY) {
		memcpy(n, d->preload, sizeof n);
		trace("[AWB]>>>preload wb config\n");
	} else if (!env_search(d, s, n)) {
		preset_gains(d, d->mode, n);
	}
	put_out(o, n);
	d->first_run = 0;
	trace("[AWB]>>>first r_gain %d, b_gain %d\n", (int)n[0], (int)n[2]);
}

/* No white point: the output stays, unless the fail remedy has waited long
 * enough for preset 3. */
static bool no_white(awb_data *d, cl_aaa_block *o, uint32_t n[3])
{
	trace("[AWB]>>>no whilte\n");
	d->countdown = AWB_EVAL_GAP;
	if (d->fail_remedy == 1 && ++d->fail_count >= AWB_FAIL_LIMIT) {
		preset_gains(d, AWB_FAIL_PRESET, n);
		d->fail_count = AWB_FAIL_LIMIT - 1;
		return true;
	}
	o->wb_update = 0;
	return false;
}

static int awb_control(awb_instance *inst, aaa_parse_result *s, cl_aaa_block *o)
{
	if (!inst || !s || !o)
		return -1;
	awb_data *d = inst->data;
	if (d->first_run) {
		first_run(d, s, o);
		return 0;
	}
	if (awb.debug)
		trace("[AWB]>>>t=%d,frame =%d,method =%d,mode =%d,env =%d,fail_remedy =%d,speed =%d\n",
		      (int)clock_ms(), d->countdown, (int)d->method, (int)d->mode, (int)d->env_mode,
		      (int)d->fail_remedy, (int)d->speed);
	if (d->stable)
		d->weight = 1;
	if (d->countdown > 0) {
		d->countdown--;
		return 0;
	}
	const uint32_t p[3] = {o->wb_r_gain, o->wb_g_gain, o->wb_b_gain};
	uint32_t n[3] = {p[0], p[1], p[2]};
	bool found;
	if (d->method == AWB_METHOD_CENTRE_GREY) {
		centre_grey(d, s, n);
		put_out(o, n);
		d->countdown = AWB_EVAL_GAP;
		return 0;
	} else if (d->method == AWB_METHOD_WHITE_POINT && d->mode != 0) {
		preset_gains(d, d->mode, n);
		if (n[0] == p[0] && n[2] == p[2])
			o->wb_update = 0;
		else
			put_out(o, n);
		return 0;
	} else if (d->method == AWB_METHOD_WHITE_POINT) {
		found = env_search(d, s, n);
	} else if (d->method == AWB_METHOD_WEIGHTED_GREY) {
		found = weighted_grey(d, s, p, n);
	} else {
		return 0;
	}
	if (found)
		d->fail_count = 0;
	else if (!no_white(d, o, n))
		return 0;

	trace("[AWB]>>>STEP1: r_gain =%d,b_gain =%d\n", (int)n[0], (int)n[2]);
	awb_converge(d, p, n);
	trace("[AWB]>>>STEP2: r_gain =%d,b_gain =%d\n", (int)n[0], (int)n[2]);
	if (d->stable) {
		o->wb_update = 0;
		return 0;
	}
	uint64_t w = d->weight;
	uint32_t blended[3] = {(uint32_t)(((AWB_MAX_WEIGHT - w) * p[0] + w * n[0]) / AWB_MAX_WEIGHT),
	                       AWB_UNITY,
	                       (uint32_t)(((AWB_MAX_WEIGHT - w) * p[2] + w * n[2]) / AWB_MAX_WEIGHT)};
	put_out(o, blended);
	trace("[AWB]>>>STEP3: r_gain =%d,b_gain =%d\n", (int)blended[0], (int)blended[2]);
	d->countdown = std::max<int16_t>(d->countdown, AWB_EVAL_GAP);
	return 0;
}

/* ---- the other slots ----------------------------------------------------- */

static int awb_calib_correct(awb_instance *inst, uint32_t gains[3], uint32_t direction)
{
	return correct(inst->data, gains, direction);
}

static awb_data *awb_get_data(awb_instance *inst)
{
	return inst->data;
}

static int awb_set_luma_range(awb_instance *inst, uint8_t min, uint8_t max)
{
	inst->data->luma_range[0] = min;
	inst->data->luma_range[1] = max;
	return 0;
}

static int awb_set_speed(awb_instance *inst, uint32_t speed)
{
	inst->data->speed = speed;
	return 0;
}

static int awb_set_method(awb_instance *inst, uint32_t method)
{
	inst->data->method = method;
	return 0;
}

static uint32_t awb_get_method(awb_instance *inst)
{
	return inst->data->method;
}

/* A new mode starts from the current output at the least weight. */
static int awb_set_mode(awb_instance *inst, uint32_t mode)
{
	/* Modes name presets; past the last one there is nothing to take. */
	if (mode >= AWB_PRESETS) {
		printf("invalid awb mode.\n");
		return -1;
	}
	inst->data->mode = mode;
	inst->data->weight = 1;
	inst->data->reset_last = 1;
	return 0;
}

static uint32_t awb_get_mode(awb_instance *inst)
{
	return inst->data->mode;
}

static int awb_set_warmth(awb_instance *inst, const uint8_t block[8])
{
	if (!block)
		return -1;
	memcpy(inst->data->warmth_scale, block, 6);
	memcpy(inst->data->warmth_spare, block + 6, 2);
	return 0;
}

static int awb_set_custom_gain(awb_instance *inst, const uint32_t gains[3])
{
	if (!gains)
		return -1;
	memcpy(inst->data->preset[AWB_CUSTOM_PRESET], gains, sizeof inst->data->preset[0]);
	return 0;
}

static int awb_get_gray_gain(awb_instance *inst, uint32_t out[3])
{
	if (!out)
		return -1;
	memcpy(out, inst->data->grey_gain, sizeof inst->data->grey_gain);
	return 0;
}

static int awb_set_fail_remedy(awb_instance *inst, uint32_t remedy)
{
	inst->data->fail_remedy = remedy;
	return 0;
}

static int awb_set_calibration(awb_instance *inst, const uint32_t *unit, const uint32_t *golden, int32_t k)
{
	if (!unit || !golden || k < 0)
		return -1;
	awb_data *d = inst->data;
	memcpy(d->calib_ref[0], unit, sizeof d->calib_ref[0]);
	memcpy(d->calib_ref[1], unit + 3 * k, sizeof d->calib_ref[0]);
	memcpy(d->calib_ref[2], golden, sizeof d->calib_ref[0]);
	memcpy(d->calib_ref[3], golden + 3 * k, sizeof d->calib_ref[0]);
	calib_check(d);
	return 0;
}

static int awb_set_calib_threshold(awb_instance *inst, uint16_t red, uint16_t blue)
{
	if (red > AWB_CALIB_THRESHOLD_MAX || blue > AWB_CALIB_THRESHOLD_MAX) {
		printf("error: WB calibration threshold is not suggested to go beyond [0, 600]\n");
		return -1;
	}
	inst->data->calib_thr[0] = red;
	inst->data->calib_thr[1] = blue;
	return 0;
}

static int awb_set_env(awb_instance *inst, uint32_t env)
{
	if (env > AWB_ENV_AUTO) {
		printf("invalid awb envirnment mode.\n");
		return -1;
	}
	inst->data->env_mode = env;
	return 0;
}

static uint32_t awb_get_env(awb_instance *inst)
{
	return inst->data->env_mode;
}

static int awb_set_tile_weights(awb_instance *inst, const uint8_t weights[AWB_TILES])
{
	if (!weights)
		return -1;
	memcpy(inst->data->tile_weight, weights, AWB_TILES);
	return AWB_TILES;
}

/* ---- instances ----------------------------------------------------------- */

static void fill_slots(awb_instance *inst)
{
	inst->control = awb_control;
	inst->calib_correct = awb_calib_correct;
	inst->get_data = awb_get_data;
	inst->set_luma_range = awb_set_luma_range;
	inst->set_speed = awb_set_speed;
	inst->set_method = awb_set_method;
	inst->get_method = awb_get_method;
	inst->set_mode = awb_set_mode;
	inst->get_mode = awb_get_mode;
	inst->set_warmth = awb_set_warmth;
	inst->set_custom_gain = awb_set_custom_gain;
	inst->get_gray_gain = awb_get_gray_gain;
	inst->set_fail_remedy = awb_set_fail_remedy;
	inst->set_calibration = awb_set_calibration;
	inst->set_calib_threshold = awb_set_calib_threshold;
	inst->set_env = awb_set_env;
	inst->get_env = awb_get_env;
	inst->set_tile_weights = awb_set_tile_weights;
}

static void set_defaults(awb_data *d)
{
	char name[AWB_NAME_SIZE];
	memcpy(name, d->name, sizeof name);
	memset(d, 0, sizeof *d);
	memcpy(d->name, name, sizeof name);
	memset(d->warmth_scale, 128, sizeof d->warmth_scale);
	for (uint32_t *g : {d->grey_gain, d->last_gain, d->preload})
		g[0] = g[1] = g[2] = AWB_UNITY;
	for (auto &ref : d->calib_ref)
		ref[0] = ref[1] = ref[2] = AWB_UNITY;
	calib_unity(d);
	d->calib_thr[0] = 300;
	d->calib_thr[1] = 500;
	d->luma_range[0] = 2;
	d->luma_range[1] = 56;
	d->first_run = 1;
	d->speed = 128;
	d->weight = 1;
	d->env_mode = AWB_ENV_AUTO;
	d->reset_last = 1;
	d->fast = 1;
	d->last_distance = d->last_change = 120000;
	memset(d->tile_weight, 1, sizeof d->tile_weight);
}

/* Where the warmth scales change and how far a change counts as a jump,
 * from the presets T1 to T5 along the locus. */
static void derive_thresholds(awb_data *d)
{
	const uint32_t *t1 = d->preset[1], *t2 = d->preset[2], *t3 = d->preset[3];
	const uint32_t *t4 = d->preset[4], *t5 = d->preset[5];
	uint32_t *w = d->warmth_thr;
	w[0] = (3 * t2[0] + 2 * t1[0]) / 5;
	w[1] = (2 * t1[1] + 3 * t2[1]) / 5;
	w[2] = (2 * t1[2] + 3 * t2[2]) / 5;
	w[3] = (3 * t1[0] + 2 * t2[0]) / 5;
	w[4] = (3 * t1[1] + 2 * t2[1]) / 5;
	w[5] = (3 * t1[2] + 2 * t2[2]) / 5;
	for (int i = 0; i < 3; i++) {
		w[6 + i] = t5[i];
		w[9 + i] = (t4[i] + t5[i]) / 2;
	}
	d->jump_thr[0] = 2 * (absdiff(t3[0], t1[0]) + absdiff(t1[2], t3[2])) / 3;
	d->jump_thr[1] = 2 * (absdiff(t2[0], t1[0]) + absdiff(t1[2], t2[2])) / 3;
}

static int instance_init(awb_instance *inst, const void *tuning)
{
	fill_slots(inst);
	awb_data *d = inst->data;
	set_defaults(d);
	if (!tuning)
		return -1;
	awb_tuning t;
	memcpy(&t, tuning, sizeof t);
	memcpy(d->preset, t.preset, sizeof d->preset);
	d->zone_head = t.zone_head;
	memcpy(d->zone, t.zone, sizeof d->zone);
	memcpy(d->env, t.env, sizeof d->env);
	for (int z = 0; z < AWB_LIGHT_WEIGHTED_ZONES; z++)
		d->light_weight[z] = (uint8_t)t.zone[z].weight;
	calib_check(d);
	derive_thresholds(d);
	return 0;
}

static awb_instance *instance_new(int chan)
{
	awb_instance *inst = (awb_instance *)calloc(1, sizeof *inst);
	if (!inst) {
		printf("Fail to create instance.\n");
		return NULL;
	}
	inst->data = (awb_data *)calloc(1, sizeof *inst->data);
	if (!inst->data) {
		printf("Fail to create instance data.\n");
		free(inst);
		return NULL;
	}
	snprintf(inst->data->name, sizeof inst->data->name, "awb_gain_%d", chan);
	return inst;
}

static void instance_free(int chan)
{
	awb_instance *inst = awb.inst[chan];
	if (!inst)
		return;
	free(inst->data);
	free(inst);
	awb.inst[chan] = NULL;
}

/* Instances of the count, all there; counts the store has no room for
 * count as out of range. */
static bool instances_ready(void)
{
	if (awb.count <= 0 || awb.count > AWB_MAX_CHANNELS)
		return false;
	for (int c = 0; c < awb.count; c++)
		if (!awb.inst[c] || !awb.inst[c]->data)
			return false;
	return true;
}

/* ---- the store ----------------------------------------------------------- */

int awb_set_instance_count(int count)
{
	if (count > AWB_MAX_INSTANCES) {
		printf("awb instances number %d out of range 1 - %d\n", awb.count, AWB_MAX_INSTANCES);
		return -1;
	}
	awb.count = count;
	return 0;
}

int awb_get_instance_count(void)
{
	return awb.count;
}

/* The records the store can hold of the count. */
static int stored_channels(void)
{
	return std::clamp<int>(awb.count, 0, AWB_MAX_CHANNELS);
}

int awb_set_channel_info(const channel_info *records)
{
	if (!records)
		return -1;
	memcpy(awb.info, records, (size_t)stored_channels() * sizeof *records);
	memset(awb.follow_warned, 0, sizeof awb.follow_warned);
	return 0;
}

int awb_check_flow_num(int32_t n)
{
	if (n > 0)
		return 0;
	printf("Error: awb_flow_vin_num =%d\n", n);
	return -1;
}

int awb_create_instances(const void *tuning)
{
	if (awb.count > AWB_MAX_CHANNELS) {
		printf("instances number should be less than %d\n", AWB_MAX_CHANNELS);
		return -1;
	}
	if (awb.count <= 0)
		return -1;
	for (int c = 0; c < awb.count; c++) {
		instance_free(c); /* a set never destroyed */
		awb.inst[c] = instance_new(c);
		if (!awb.inst[c]) {
			printf("create awb instance %d fail\n", c);
			return -1;
		}
		awb.chan[c].enable = 1;
	}
	for (int c = 0; c < awb.count; c++) {
		const uint8_t *t = tuning ? (const uint8_t *)tuning + (size_t)c * AWB_TUNING_STRIDE : NULL;
		if (instance_init(awb.inst[c], t) != 0)
			printf("init awb instance %d fail\n", c);
		awb_chan_store *st = &awb.chan[c];
		if (st->pending) {
			memcpy(awb.inst[c]->data->preload, st->preload, sizeof st->preload);
			st->pending = 0;
		}
	}
	return 0;
}

int awb_destroy_instances(void)
{
	bool ready = instances_ready();
	for (int c = 0; c < AWB_MAX_CHANNELS; c++)
		instance_free(c);
	return ready ? 0 : -1;
}

/* Bytes 128 to 155 of the channel's block from the channel it follows. */
static void follow(int c, cl_aaa_block *blocks)
{
	uint32_t src = awb.info[c].follow_chan & 0xff;
	if (src >= (uint32_t)awb.count) {
		if (!awb.follow_warned[c])
			printf("awb: channel %d follows channel %u, which has no white balance; it keeps its "
			       "own\n",
			       c, src);
		awb.follow_warned[c] = true;
		return;
	}
	if (src != (uint32_t)c)
		memcpy((uint8_t *)&blocks[c] + AWB_RESULT_AT, (const uint8_t *)&blocks[src] + AWB_RESULT_AT,
		       AWB_RESULT_SIZE);
}

int awb_run_instances(aaa_parse_out *stats, cl_aaa_block *blocks)
{
	if (!stats || !blocks || !instances_ready())
		return -1;
	for (int c = 0; c < awb.count; c++) {
		const channel_info *ci = &awb.info[c];
		awb_instance *inst = awb.inst[c];
		if (ci->yuv || !awb.chan[c].enable || !stats->valid[c] || !inst->control)
			continue;
		cl_aaa_block *b = &blocks[c];
		const uint32_t gains[3] = {b->wb_r_gain, b->wb_g_gain, b->wb_b_gain};
		if (ci->hdr_curve != 2)
			img_hdr_process_awb_stats_lut(gains, &stats->chan[c], c);
		else
			img_hdr_process_awb_stats(gains, &stats->chan[c], c);
		inst->control(inst, &stats->chan[c], b);
	}
	for (int c = 0; c < awb.count; c++) {
		follow(c, blocks);
		awb.out[c][0] = blocks[c].wb_r_gain;
		awb.out[c][1] = blocks[c].wb_g_gain;
		awb.out[c][2] = blocks[c].wb_b_gain;
		awb.ran[c] = true;
	}
	return 0;
}

int awb_set_enables(const uint32_t *enables, uint32_t mask)
{
	if (!enables)
		return -1;
	for (int c = 0; c < stored_channels(); c++)
		if (mask >> c & 1)
			awb.chan[c].enable = enables[c];
	return 0;
}

int awb_get_enables(uint32_t *out)
{
	if (!out)
		return -1;
	for (int c = 0; c < stored_channels(); c++)
		out[c] = awb.chan[c].enable;
	return 0;
}

/* Calls op on the instance of every channel of the mask; -1 when the
 * instances are not all there or a slot refused. */
template <typename Op> static int each_instance(const void *arg, uint32_t mask, Op op)
{
	if (!arg || !instances_ready())
		return -1;
	int rc = 0;
	for (int c = 0; c < awb.count; c++)
		if ((mask >> c & 1) && op(awb.inst[c], c) < 0)
			rc = -1;
	return rc;
}

#define AWB_ALL_CHANNELS 0xffffffffu

int awb_set_speed_by_mask(const uint8_t *speeds, uint32_t mask)
{
	return each_instance(speeds, mask,
	                     [&](awb_instance *i, int c) { return i->set_speed(i, speeds[c]); });
}

int awb_set_method_by_mask(const uint32_t *methods, uint32_t mask)
{
	return each_instance(methods, mask,
	                     [&](awb_instance *i, int c) { return i->set_method(i, methods[c]); });
}

int awb_get_method_all(uint32_t *out)
{
	return each_instance(out, AWB_ALL_CHANNELS, [&](awb_instance *i, int c) {
		out[c] = i->get_method(i);
		return 0;
	});
}

int awb_set_mode_by_mask(const uint32_t *modes, uint32_t mask)
{
	return each_instance(modes, mask, [&](awb_instance *i, int c) { return i->set_mode(i, modes[c]); });
}

int awb_get_mode_all(uint32_t *out)
{
	return each_instance(out, AWB_ALL_CHANNELS, [&](awb_instance *i, int c) {
		out[c] = i->get_mode(i);
		return 0;
	});
}

int awb_set_env_by_mask(const uint32_t *envs, uint32_t mask)
{
	return each_instance(envs, mask, [&](awb_instance *i, int c) { return i->set_env(i, envs[c]); });
}

int awb_get_env_all(uint32_t *out)
{
	return each_instance(out, AWB_ALL_CHANNELS, [&](awb_instance *i, int c) {
		out[c] = i->get_env(i);
		return 0;
	});
}

int awb_set_fail_remedy_by_mask(const uint32_t *remedies, uint32_t mask)
{
	return each_instance(remedies, mask,
	                     [&](awb_instance *i, int c) { return i->set_fail_remedy(i, remedies[c]); });
}

int awb_set_calib_threshold_by_mask(const uint16_t *thresholds, uint32_t mask)
{
	return each_instance(thresholds, mask, [&](awb_instance *i, int c) {
		return i->set_calib_threshold(i, thresholds[2 * c], thresholds[2 * c + 1]);
	});
}

int awb_set_calibration_by_mask(const uint32_t *unit, const uint32_t *golden, uint32_t mask)
{
	if (!golden)
		return -1;
	return each_instance(unit, mask, [&](awb_instance *i, int c) {
		return i->set_calibration(i, unit + 3 * c, golden + 3 * c, awb.count);
	});
}

int awb_set_custom_gain_by_mask(const uint32_t *gains, uint32_t mask)
{
	return each_instance(gains, mask,
	                     [&](awb_instance *i, int c) { return i->set_custom_gain(i, gains + 3 * c); });
}

int awb_get_gray_gain_all(uint32_t *out)
{
	return each_instance(out, AWB_ALL_CHANNELS,
	                     [&](awb_instance *i, int c) { return i->get_gray_gain(i, out + 3 * c); });
}

int awb_calib_correct_all(uint32_t *gains, const uint32_t *direction)
{
	if (!direction)
		return -1;
	return each_instance(gains, AWB_ALL_CHANNELS, [&](awb_instance *i, int c) {
		return i->calib_correct(i, gains + 3 * c, direction[c]);
	});
}

int awb_set_tile_weights_by_mask(const uint8_t *weights, uint32_t mask)
{
	return each_instance(weights, mask, [&](awb_instance *i, int c) {
		return i->set_tile_weights(i, weights + (size_t)AWB_TILES * c);
	});
}

int awb_set_warmth_channel(const uint8_t *block, int chan)
{
	if (chan < 0 || chan >= AWB_MAX_CHANNELS) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	return each_instance(block, 1u << chan,
	                     [&](awb_instance *i, int) { return i->set_warmth(i, block); });
}

void awb_set_debug_level(uint32_t level)
{
	awb.debug = level;
}

awb_chan_store *awb_get_chan_store(int chan)
{
	return chan >= 0 && chan < AWB_MAX_CHANNELS ? &awb.chan[chan] : NULL;
}

awb_instance *awb_get_instance(int chan)
{
	return chan >= 0 && chan < AWB_MAX_CHANNELS ? awb.inst[chan] : NULL;
}

int awb_get_current_gains(int32_t chan, uint32_t gains[3])
{
	if (!gains || chan < 0 || chan >= AWB_MAX_CHANNELS)
		return -1;
	const awb_chan_store *st = &awb.chan[chan];
	if (st->pending)
		memcpy(gains, st->preload, sizeof st->preload);
	else if (awb.ran[chan])
		memcpy(gains, awb.out[chan], sizeof awb.out[chan]);
	else
		gains[0] = gains[1] = gains[2] = AWB_UNITY;
	return 0;
}

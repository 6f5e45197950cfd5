/* One auto-exposure instance: its tables, its exposure lines and the walk
 * along them, and the per-frame run that turns a metered luma into a new
 * exposure. */
#include "aaa_parser.h"
#include "ae_internal.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define AE_FIRST_WAIT 5
#define AE_STABLE_WAIT 10
#define AE_FAIL_WAIT 5
#define AE_DGAIN_MIN 1024u
#define AE_DGAIN_MAX 98304u
#define AE_RATIO_SHIFT 24 /* a downward ratio r walks as 2^24 / r */

static uint32_t debug_level;
static char debug_name[AE_NAME_SIZE];

void ae_set_debug_level(uint32_t level)
{
	debug_level = level;
}

void ae_debug(const char *fmt, ...)
{
	if (debug_level < 1)
		return;
	va_list ap;
	va_start(ap, fmt);
	vprintf(fmt, ap);
	va_end(ap);
}

/* ---- tables ---------------------------------------------------------- */

/* 0.4 x 65536 x 10^(3i / 2560): 3/128 dB a step from 0.4. */
static const uint32_t *iris_table(void)
{
	static const struct Table {
		uint32_t g[AE_IRIS_MAX + 1];
		Table()
		{
			for (uint32_t i = 0; i <= AE_IRIS_MAX; i++)
				g[i] = (uint32_t)llround(0.4 * 65536 * pow(10.0, 3.0 * i / 2560.0));
		}
	} table;
	return table.g;
}

uint32_t ae_iris_exposure(uint32_t index)
{
	return iris_table()[index > AE_IRIS_MAX ? AE_IRIS_MAX : index];
}

uint64_t ae_iris_factor(uint32_t index)
{
	uint64_t g = ae_iris_exposure(index);
	return g * g / 65536;
}

uint64_t ae_shutter_value(const ae_data *d, uint32_t index)
{
	if (index < d->shutter_num)
		return d->shutter[index];
	uint32_t n = d->shutter_num - 1;
	if (n == 0)
		return d->shutter[0];
	return (uint64_t)d->shutter[n] * index / n;
}

uint64_t ae_agc_gain(const ae_data *d, uint32_t index)
{
	if (index <= d->agc_max)
		return d->agc_gain[index < d->agc_num ? index : d->agc_num - 1];
	if (d->ext_num == 0)
		return d->agc_gain[d->agc_max];
	uint32_t j = index - 1 - d->agc_max;
	return d->ext_gain[j < d->ext_num ? j : d->ext_num - 1];
}

ae_u128 ae_exposure(const ae_data *d, const ae_point *p)
{
	return (ae_u128)ae_shutter_value(d, p->shutter) * ae_agc_gain(d, p->agc) * ae_iris_factor(p->iris);
}

uint32_t get_changing_ratio_ex(uint64_t start, uint64_t end)
{
	if (start == 0 || start > end)
		return 0;
	ae_u128 r = (ae_u128)end * AE_UNITY / start;
	return r > UINT32_MAX ? UINT32_MAX : (uint32_t)r;
}

int ae_line_type(const ae_line *l)
{
	bool shutter = l->start.shutter != l->end.shutter;
	bool agc = l->start.agc != l->end.agc;
	if (shutter && agc)
		return -1;
	if (shutter)
		return 0;
	if (agc)
		return 1;
	return l->start.iris != l->end.iris ? 2 : 0;
}

uint32_t ae_point_part(const ae_point *p, int type)
{
	return type == 0 ? p->shutter : type == 1 ? p->agc : p->iris;
}

static void set_part(ae_point *p, int type, uint32_t v)
{
	if (type == 0)
		p->shutter = v;
	else if (type == 1)
		p->agc = v;
	else
		p->iris = v;
}

static uint64_t index_value(const ae_data *d, int type, uint32_t i)
{
	return type == 0 ? ae_shutter_value(d, i) : type == 1 ? ae_agc_gain(d, i) : ae_iris_factor(i);
}

uint64_t ae_part_value(const ae_data *d, const ae_point *p, int type)
{
	return index_value(d, type, ae_point_part(p, type));
}

/* The index of lo..hi whose value is nearest v: the first that reaches v,
 * or the one below when that is nearer; hi when none reaches it. */
static uint32_t nearest_index(const ae_data *d, int type, uint32_t lo, uint32_t hi, ae_u128 v)
{
	if (index_value(d, type, hi) < v)
		return hi;
	uint32_t a = lo, b = hi;
	while (a < b) {
		uint32_t mid = a + (b - a) / 2;
		if (index_value(d, type, mid) >= v)
			b = mid;
		else
			a = mid + 1;
	}
	if (a > lo) {
		ae_u128 below = index_value(d, type, a - 1), at = index_value(d, type, a);
		if (v - below < at - v)
			return a - 1;
	}
	return a;
}

/* ---- lines ----------------------------------------------------------- */

static bool point_in_tables(const ae_data *d, const ae_point *p)
{
	uint32_t agc_top = d->agc_max + d->ext_num;
	return p->agc <= agc_top && p->iris <= AE_IRIS_MAX;
}

/* Loads and checks a line table; nothing changes unless all of it is good. */
static int load_lines(ae_data *d, const ae_config *cfg)
{
	if (!cfg || !cfg->lines || cfg->line_num == 0 || cfg->line_num > AE_MAX_LINES)
		return -1;
	const ae_line *l = cfg->lines;
	uint32_t n = cfg->line_num;
	ae_data t = *d;
	t.ext_gain = NULL;
	t.ext_num = 0;
	uint32_t e = l[n - 1].end.agc;
	if (e > d->agc_max) {
		uint32_t need = e - d->agc_max;
		if (need >= d->agc_num) {
			printf("error: line %u AGC index %u past the gain table\n", n - 1, e);
			return -1;
		}
		t.ext_gain = (uint64_t *)malloc(need * sizeof *t.ext_gain);
		if (!t.ext_gain)
			return -1;
		t.ext_num = need;
		for (uint32_t j = 0; j < need; j++)
			t.ext_gain[j] = (uint64_t)d->agc_gain[d->agc_max] * d->agc_gain[j + 1] / AE_UNITY;
	}
	uint32_t ratio[AE_MAX_LINES];
	for (uint32_t k = 0; k < n; k++) {
		int type = ae_line_type(&l[k]);
		if (type < 0) {
			printf("not supported change type\n");
			free(t.ext_gain);
			return -1;
		}
		if (!point_in_tables(&t, &l[k].start) || !point_in_tables(&t, &l[k].end)) {
			printf("error: line %u outside the gain and iris tables\n", k);
			free(t.ext_gain);
			return -1;
		}
		ratio[k] = get_changing_ratio_ex(ae_part_value(&t, &l[k].start, type),
		                                 ae_part_value(&t, &l[k].end, type));
		if (ratio[k] == 0) {
			const ae_point *s = &l[k].start, *x = &l[k].end;
			printf("error, line %u:\t", k);
			printf("%u %u %u -> %u %u %u\t", s->shutter, s->agc, s->iris, x->shutter, x->agc,
			       x->iris);
			printf("ratio %d\n", 0);
			free(t.ext_gain);
			return -1;
		}
	}
	free(d->ext_gain);
	d->ext_gain = t.ext_gain;
	d->ext_num = t.ext_num;
	memcpy(d->lines, l, n * sizeof *l);
	memcpy(d->line_ratio, ratio, n * sizeof *ratio);
	d->line_max = (uint8_t)n;
	d->line_num = (uint8_t)n;
	return 0;
}

static bool on_line(const ae_data *d, uint32_t k, const ae_point *p)
{
	const ae_line *l = &d->lines[k];
	int type = ae_line_type(l);
	for (int part = 0; part < 3; part++) {
		uint32_t v = ae_point_part(p, part), s = ae_point_part(&l->start, part);
		if (part == type) {
			if (v < s || v > ae_point_part(&l->end, part))
				return false;
		} else if (v != s) {
			return false;
		}
	}
	return true;
}

/* The point of line k whose exposure is nearest e; -1 when the line's start
 * has no exposure. */
static int point_at(const ae_data *d, uint32_t k, ae_u128 e, ae_point *out)
{
	const ae_line *l = &d->lines[k];
	int type = ae_line_type(l);
	ae_u128 base = ae_exposure(d, &l->start);
	if (base == 0 || ae_shutter_value(d, l->start.shutter) == 0)
		return -1;
	ae_u128 v = (ae_u128)ae_part_value(d, &l->start, type) * e / base;
	*out = l->start;
	set_part(out, type,
	         nearest_index(d, type, ae_point_part(&l->start, type), ae_point_part(&l->end, type), v));
	return 0;
}

int ae_get_transit_point(ae_instance *ae, uint32_t line, const ae_point *from, ae_point *out)
{
	if (!ae || !from || !out || line >= ae->data->line_num)
		return -1;
	return point_at(ae->data, line, ae_exposure(ae->data, from), out);
}

/* Puts P on the active line that holds its exposure (the ends when none
 * does). */
static void place(ae_data *d, ae_u128 e)
{
	uint32_t n = d->line_num;
	if (e <= ae_exposure(d, &d->lines[0].start)) {
		d->cur = d->lines[0].start;
		d->line = 0;
		return;
	}
	for (uint32_t k = 0; k < n; k++) {
		if (e <= ae_exposure(d, &d->lines[k].end)) {
			ae_point q;
			d->cur = point_at(d, k, e, &q) == 0 ? q : d->lines[k].start;
			d->line = (uint8_t)k;
			return;
		}
	}
	d->cur = d->lines[n - 1].end;
	d->line = (uint8_t)(n - 1);
}

static void find_current_line(ae_data *d)
{
	ae_u128 e = ae_exposure(d, &d->cur);
	unsigned long long shown = e > ~0ull ? ~0ull : (unsigned long long)e;
	for (uint32_t k = 0; k < d->line_num; k++) {
		if (on_line(d, k, &d->cur)) {
			d->line = (uint8_t)k;
			ae_debug("[AE]>>> Matched.....%d....%d.......%llu\n", (int)k,
			         ae_line_type(&d->lines[k]), shown);
			return;
		}
	}
	place(d, e);
	ae_debug("[AE]>>> Not Matched.....%d....%d.......%llu\n", (int)d->line,
	         ae_line_type(&d->lines[d->line]), shown);
}

/* ---- slots ----------------------------------------------------------- */

static int slot_start(ae_instance *ae, const ae_point *point, uint32_t line, uint16_t target)
{
	ae_data *d = ae->data;
	if (!point || line >= d->line_num)
		return -1;
	d->cur = *point;
	d->line = (uint8_t)line;
	AE_STORE(d->cursor, (uint8_t)(line + 1));
	memcpy(d->tile_weight, ae_tile_weight_table(1), AE_TILES);
	AE_STORE(d->target, target);
	d->next_luma = target;
	d->tolerance = 6;
	return 0;
}

static int slot_load_lines(ae_instance *ae, const ae_config *cfg)
{
	if (load_lines(ae->data, cfg) < 0)
		return -1;
	find_current_line(ae->data);
	return 0;
}

static int slot_set_target(ae_instance *ae, uint16_t target)
{
	AE_STORE(ae->data->target, target);
	return 0;
}

static int slot_set_target_ratio(ae_instance *ae, uint16_t ratio)
{
	AE_STORE(ae->data->target_ratio, ratio);
	return 0;
}

static uint16_t slot_get_target(ae_instance *ae)
{
	ae_data *d = ae->data;
	return AE_LOAD(d->metering) == AE_METER_PEAK ? AE_PEAK_TARGET : AE_LOAD(d->target);
}

static uint16_t slot_get_effective_target(ae_instance *ae)
{
	return (uint16_t)((uint32_t)ae->get_target(ae) * AE_LOAD(ae->data->target_ratio) / 1024);
}

static uint16_t slot_get_target_ratio(ae_instance *ae)
{
	return AE_LOAD(ae->data->target_ratio);
}

static int slot_set_weight_mode(ae_instance *ae, uint8_t mode)
{
	ae->data->weight_mode = mode;
	return 0;
}

static int slot_set_metering_mode(ae_instance *ae, uint8_t mode)
{
	ae_data *d = ae->data;
	if (mode <= 2)
		memcpy(d->tile_weight, ae_tile_weight_table(mode), AE_TILES);
	AE_STORE(d->metering, mode);
	return 0;
}

static int slot_set_tile_weights(ae_instance *ae, const uint32_t weights[AE_TILES])
{
	if (!weights)
		return -1;
	for (int i = 0; i < AE_TILES; i++)
		ae->data->tile_weight[i] = (uint8_t)weights[i];
	return 0;
}

static int slot_set_line_count(ae_instance *ae, uint16_t count)
{
	ae_data *d = ae->data;
	if (count == 0 || count > d->line_max)
		return -1;
	d->line_num = (uint8_t)count;
	if (d->line >= count) {
		d->line = (uint8_t)(count - 1);
		d->cur = d->lines[count - 1].end;
	}
	return 0;
}

static const char *slot_get_name(ae_instance *ae)
{
	return ae->data->name;
}

static int slot_set_debug_name(ae_instance *, const char *name)
{
	if (!name)
		return -1;
	snprintf(debug_name, sizeof debug_name, "%s", name);
	return 0;
}

static uint16_t slot_get_limit_low(ae_instance *ae)
{
	return ae->data->limit_low;
}

static uint16_t slot_get_limit_high(ae_instance *ae)
{
	return ae->data->limit_high;
}

static int slot_set_speed(ae_instance *ae, uint8_t level)
{
	if (level > 8) {
		printf("config fail, speed level should be 0-8!!!\n");
		return -1;
	}
	ae->data->speed = level;
	return 0;
}

static uint8_t slot_get_state(ae_instance *ae)
{
	ae_data *d = ae->data;
	if (AE_LOAD(d->pending))
		return 2;
	if (AE_LOAD(d->cursor) > d->line_num)
		return 3;
	return AE_LOAD(d->stable);
}

static int slot_set_tolerance(ae_instance *ae, uint16_t tolerance)
{
	if (tolerance > 255)
		return -1;
	ae->data->tolerance = (uint8_t)tolerance;
	return 0;
}

static int slot_set_frame_skip(ae_instance *ae, uint8_t gain_skip, uint8_t shutter_skip)
{
	ae->data->gain_skip = gain_skip;
	ae->data->shutter_skip = shutter_skip;
	return 0;
}

static uint16_t slot_get_agc_index(ae_instance *ae)
{
	return (uint16_t)AE_LOAD(ae->data->cur.agc);
}

static uint8_t slot_get_cursor(ae_instance *ae)
{
	return AE_LOAD(ae->data->cursor);
}

static uint16_t slot_get_luma(ae_instance *ae)
{
	return AE_LOAD(ae->data->last_luma);
}

static uint16_t slot_get_rgb_luma(ae_instance *ae)
{
	return AE_LOAD(ae->data->last_rgb_luma);
}

/* The limits bound the shutter and AGC of the current point, which then
 * goes back on the lines; the lines that hold the lowest and the highest
 * allowed exposure are the two limit indexes. */
static int slot_set_custom_limits(ae_instance *ae, const uint32_t limits[4])
{
	ae_data *d = ae->data;
	if (!limits || limits[0] > limits[1] || limits[2] > limits[3])
		return -1;
	ae_point lo = {limits[0], limits[2], d->cur.iris}, hi = {limits[1], limits[3], d->cur.iris};
	ae_point cur = d->cur;
	place(d, ae_exposure(d, &lo));
	d->limit_low = d->line;
	place(d, ae_exposure(d, &hi));
	d->limit_high = d->line;
	cur.shutter = cur.shutter < limits[0] ? limits[0] : cur.shutter > limits[1] ? limits[1] : cur.shutter;
	cur.agc = cur.agc < limits[2] ? limits[2] : cur.agc > limits[3] ? limits[3] : cur.agc;
	place(d, ae_exposure(d, &cur));
	AE_STORE(d->cursor, (uint8_t)(d->line + 1));
	return 0;
}

/* ---- deciding -------------------------------------------------------- */

static bool any_update(const ae_result *r)
{
	return r->shutter_changed || r->agc_changed || r->dgain_changed || r->iris_flag;
}

static void write_point(ae_data *d, const ae_point *q)
{
	ae_result *r = &d->result;
	r->shutter = q->shutter;
	r->shutter_changed = 1;
	r->agc = q->agc < d->agc_max ? q->agc : d->agc_max;
	r->agc_changed = 1;
	r->iris = q->iris;
	r->iris_flag = 1;
}

/* The digital gain that carries the part of the AGC index above the
 * analog maximum. */
static uint32_t dgain_above_max(const ae_data *d, uint32_t r, uint32_t agc)
{
	uint64_t gm = ae_agc_gain(d, d->agc_max);
	if (gm == 0)
		return AE_UNITY;
	ae_u128 want = (ae_u128)r * ae_agc_gain(d, agc) / gm;
	ae_u128 top = (ae_u128)(d->ext_num ? d->ext_gain[d->ext_num - 1] : gm) * AE_UNITY / gm;
	ae_u128 g = want < top ? want : top;
	return g > UINT32_MAX ? UINT32_MAX : (uint32_t)g;
}

/* Walks r along the lines from P's line: the line the walk ends on and the
 * ratio left for it (4096 = 1.0, below 1.0 for a downward walk). */
static int walk(ae_data *d, uint32_t r, uint32_t *line, uint64_t *rest)
{
	const ae_line *l = &d->lines[d->line];
	int type = ae_line_type(l);
	uint32_t to_p =
	    get_changing_ratio_ex(ae_part_value(d, &l->start, type), ae_part_value(d, &d->cur, type));
	uint32_t to_end =
	    get_changing_ratio_ex(ae_part_value(d, &d->cur, type), ae_part_value(d, &l->end, type));
	if (to_p == 0 || to_end == 0) {
		printf("get_changing_ratio_ex =0\n");
		return -1;
	}
	bool up = r >= AE_UNITY;
	uint64_t rem = up ? r : (1ull << AE_RATIO_SHIFT) / r;
	uint32_t k = d->line, offer = up ? to_end : to_p;
	while (rem > offer) {
		if (up ? k + 1 >= d->line_num : k == 0)
			break;
		rem = rem * AE_UNITY / offer;
		k = up ? k + 1 : k - 1;
		offer = d->line_ratio[k];
		if (offer == 0) {
			printf("error:   gain_ratio =%d,inline_ratio =%d,line =%d\n", (int)rem, (int)offer,
			       (int)k);
			return -1;
		}
	}
	*line = k;
	*rest = up ? rem : (1ull << AE_RATIO_SHIFT) / rem;
	return 0;
}

/* P moved along its own line by the ratio rest. */
static ae_point move_on_line(const ae_data *d, uint64_t rest)
{
	const ae_line *l = &d->lines[d->line];
	int type = ae_line_type(l);
	uint32_t lo = ae_point_part(&l->start, type), hi = ae_point_part(&l->end, type);
	ae_u128 v = (ae_u128)ae_part_value(d, &d->cur, type) * rest;
	if (type == 1) {
		v /= AE_UNITY;
	} else {
		v = (v + AE_UNITY / 2) / AE_UNITY;
	}
	if (type != 2 && lo > 0)
		lo--;
	ae_point q = d->cur;
	set_part(&q, type, nearest_index(d, type, lo, hi, v));
	return q;
}

int ae_decide_video_exposure(ae_instance *ae, uint32_t r)
{
	if (!ae)
		return -1;
	ae_data *d = ae->data;
	if (AE_LOAD(d->pending)) {
		write_point(d, &d->cur);
		return 0;
	}
	if (any_update(&d->result))
		return 0;
	if (r == 0)
		r = 1;
	uint32_t k;
	uint64_t rest;
	if (walk(d, r, &k, &rest) < 0)
		return -1;
	bool up = r >= AE_UNITY;
	bool transit = k != d->line;
	ae_point q;
	if (transit) {
		const ae_line *from = &d->lines[up ? k - 1 : k + 1];
		if (ae_get_transit_point(ae, k, up ? &from->end : &from->start, &q) < 0) {
			printf("ae_get_transit_point fail\n");
			return -1;
		}
	} else {
		q = move_on_line(d, rest);
	}

	const ae_line *l = &d->lines[k];
	int type = ae_line_type(l);
	uint32_t part = ae_point_part(&q, type), last = d->line_num - 1;
	bool snap_end = false, snap_start0 = false;
	uint8_t cursor = (uint8_t)(k + 1);
	if (k == last && part >= ae_point_part(&l->end, type)) {
		q = l->end;
		snap_end = true;
		cursor = (uint8_t)(k + 2);
	} else if (!up && (k == 0 || k == last) && part <= ae_point_part(&l->start, type)) {
		q = l->start;
		snap_start0 = k == 0;
		cursor = k == 0 ? 0 : (uint8_t)(k + 1);
	}

	ae_result *res = &d->result;
	ae_result before = *res;
	if (q.agc != d->cur.agc)
		res->agc_changed = 1;
	res->agc = q.agc < d->agc_max ? q.agc : d->agc_max;
	if (q.shutter != d->cur.shutter || q.shutter != before.shutter)
		res->shutter_changed = 1;
	res->shutter = q.shutter;
	if (q.iris != d->cur.iris || q.iris != before.iris)
		res->iris_flag = 1;
	res->iris = q.iris;

	if (q.agc > d->agc_max) {
		res->dgain = dgain_above_max(d, r, d->cur.agc);
		res->dgain_changed = 1;
	} else if ((!transit || snap_start0 || snap_end) && before.iris <= AE_IRIS_MAX) {
		uint32_t g = AE_UNITY;
		ae_point was = {before.shutter, before.agc, before.iris};
		ae_u128 e_new = ae_exposure(d, &q);
		if (!snap_start0 && !snap_end && e_new) {
			ae_u128 v = (ae_u128)r * ae_exposure(d, &was) / e_new;
			g = v < AE_DGAIN_MIN ? AE_DGAIN_MIN : v > AE_DGAIN_MAX ? AE_DGAIN_MAX : (uint32_t)v;
		}
		res->dgain = g;
		res->dgain_changed = 1;
	}

	AE_STORE(d->cur.shutter, q.shutter);
	AE_STORE(d->cur.agc, q.agc);
	AE_STORE(d->cur.iris, q.iris);
	d->line = (uint8_t)k;
	AE_STORE(d->cursor, cursor);
	return 0;
}

/* ---- the frame ------------------------------------------------------- */

/* Speed factors by level: luma above 4, 2 and 1 target, below 1/4 and 1/2
 * of it, and in between. */
static const uint8_t speed_table[9][6] = {
    {16, 8, 8, 2, 2, 6},      {24, 16, 8, 2, 2, 6},     {32, 16, 16, 2, 4, 8},
    {48, 24, 16, 2, 6, 8},    {64, 32, 16, 2, 8, 16},   {64, 32, 16, 4, 16, 24},
    {112, 72, 24, 8, 24, 24}, {120, 96, 64, 8, 24, 32}, {0, 0, 0, 0, 0, 0},
};

static uint32_t speed_factor(uint8_t level, uint32_t luma, uint32_t target)
{
	const uint8_t *row = speed_table[level > 8 ? 8 : level];
	if (luma > 4 * target)
		return row[0];
	if (luma > 2 * target)
		return row[1];
	if (luma > target)
		return row[2];
	if (luma < target / 4)
		return row[3];
	if (luma < target / 2)
		return row[4];
	return row[5];
}

/* The luma to aim at next. Kept in 1..65535: a wrapped value would ask
 * for an exposure thousands of times away. */
static uint32_t next_luma(uint32_t luma, uint32_t target, uint32_t s)
{
	int64_t d = (int64_t)target - luma, n;
	if (d > 0) {
		int64_t step = (int64_t)s * d;
		n = luma + (step < 128 ? 2 : step / 128);
	} else {
		n = s > 0 ? luma - ((int64_t)s * -d + 127) / 128 : (int64_t)luma - 4;
	}
	return n < 1 ? 1 : n > 65535 ? 65535 : (uint32_t)n;
}

static void publish(ae_data *d, cl_aaa_block *block)
{
	if (block)
		block->expo[0] = d->result;
}

int ae_run_video_exposure(ae_instance *ae, const aaa_parse_result *stats, cl_aaa_block *block)
{
	if (!ae || !stats || !block)
		return -1;
	ae_data *d = ae->data;
	d->result = block->expo[0];
	if (AE_LOAD(d->pending)) {
		if (d->result.iris_flag)
			return 0;
		ae_decide_video_exposure(ae, AE_UNITY);
		d->result.dgain =
		    d->cur.agc > d->agc_max ? dgain_above_max(d, AE_UNITY, d->cur.agc) : AE_UNITY;
		d->result.dgain_changed = 1;
		const ae_result *r = &d->result;
		ae_debug("[AE]>>> first agc%d %d dgain%d %d sht%d %d iris%d %d\n", r->agc_changed, r->agc,
		         r->dgain_changed, r->dgain, r->shutter_changed, r->shutter, r->iris_flag, r->iris);
		AE_STORE(d->pending, (uint8_t)0);
		d->skip = AE_FIRST_WAIT;
		publish(d, block);
		return 0;
	}

	uint32_t luma = ae->luma_stat(ae, stats);
	if (luma == AE_LUMA_NONE) {
		ae_debug("ae_luma_stat=0xffff\n");
		return 0;
	}
	if (d->result.iris_flag)
		return 0;
	if (d->skip > 0) {
		d->skip--;
		return 0;
	}

	uint32_t target = (uint32_t)ae->get_target(ae) * AE_LOAD(d->target_ratio) / 1024;
	if (ae->decision_hook) {
		uint8_t skip = 0;
		ae->decision_hook(AE_LOAD(d->cursor) == 0, (int32_t)luma - (int32_t)target, &skip);
		if (skip == 1)
			return 0;
	}
	uint32_t tol = AE_LOAD(d->stable) ? (d->tolerance & 127u) * 2 : d->tolerance;
	if (luma + tol >= target && luma <= target + tol) {
		AE_STORE(d->stable, (uint8_t)1);
		d->skip = AE_STABLE_WAIT;
		return 0;
	}

	/* Take up what was written since; an AGC index above the analog
	 * maximum is written as the maximum and stays ours. */
	d->cur.shutter = d->result.shutter;
	d->cur.iris = d->result.iris;
	if (!(d->result.agc == d->agc_max && d->cur.agc > d->agc_max))
		AE_STORE(d->cur.agc, d->result.agc);
	AE_STORE(d->stable, (uint8_t)0);

	uint32_t l = luma ? luma : 1;
	uint32_t s = speed_factor(d->speed, l, target);
	uint32_t next = next_luma(l, target, s);
	d->next_luma = (uint16_t)next;
	uint64_t ratio = (uint64_t)next * AE_UNITY / l * d->compensation / AE_UNITY;
	if (ratio < 1)
		ratio = 1;
	if (ratio > UINT32_MAX)
		ratio = UINT32_MAX;
	if (ae_decide_video_exposure(ae, (uint32_t)ratio) < 0) {
		printf("ae_decide_video_exposure fail!\n");
		d->skip = AE_FAIL_WAIT;
		return -1;
	}
	const ae_result *r = &d->result;
	if (r->shutter_changed)
		d->skip = d->shutter_skip;
	else if (r->agc_changed || r->dgain_changed)
		d->skip = d->gain_skip;
	else
		d->skip = d->gain_skip > 0 ? (uint8_t)(d->gain_skip - 1) : 0;
	publish(d, block);
	return 0;
}

ae_point ae_get_point(ae_instance *ae)
{
	ae_point p = {0, 0, 0};
	if (ae)
		p = ae->data->cur;
	return p;
}

/* ---- life ------------------------------------------------------------ */

static uint32_t *copy_table(const uint32_t *src, uint32_t n)
{
	uint32_t *t = (uint32_t *)malloc(n * sizeof *t);
	if (t)
		memcpy(t, src, n * sizeof *t);
	return t;
}

static void free_tables(ae_data *d)
{
	free(d->shutter);
	free(d->agc_gain);
	free(d->ext_gain);
	d->shutter = d->agc_gain = NULL;
	d->ext_gain = NULL;
	d->ext_num = 0;
}

/* -1 for a configuration that lacks a table or a usable line, -2 when the
 * instance already has its configuration. */
int ae_instance_init(ae_instance *ae, const ae_config *cfg)
{
	ae_data *d = ae->data;
	if (d->initialised)
		return -2;
	if (!cfg || !cfg->lines || !cfg->agc_gain || !cfg->shutter || cfg->agc_num == 0 ||
	    cfg->shutter_num == 0 || cfg->line_num == 0 || cfg->line_num > AE_MAX_LINES || cfg->agc_step == 0)
		return -1;
	uint64_t m = ((uint64_t)cfg->sensor_gain_max << 24) / cfg->agc_step;
	if (m >= cfg->agc_num)
		return -1;
	d->agc_max = (uint32_t)m;
	d->agc_step = cfg->agc_step;
	d->agc_num = cfg->agc_num;
	d->shutter_num = cfg->shutter_num;
	d->shutter = copy_table(cfg->shutter, cfg->shutter_num);
	d->agc_gain = copy_table(cfg->agc_gain, cfg->agc_num);
	if (!d->shutter || !d->agc_gain || load_lines(d, cfg) < 0) {
		free_tables(d);
		return -1;
	}
	d->cur = d->lines[0].end;
	d->line = 0;
	d->target = AE_DEFAULT_TARGET;
	d->next_luma = AE_DEFAULT_TARGET;
	d->target_ratio = 1024;
	d->compensation = AE_UNITY;
	d->tolerance = 6;
	d->metering = 1;
	memcpy(d->tile_weight, ae_tile_weight_table(1), AE_TILES);
	d->weight_mode = 128;
	d->speed = 3;
	d->gain_skip = 1;
	d->shutter_skip = 1;
	d->pending = 1;
	d->cursor = 1;
	d->initialised = 1;
	return 0;
}

ae_instance *ae_instance_create(int index)
{
	char name[32];
	int len = snprintf(name, sizeof name, "ae_expo_%d", index);
	if (len < 0 || len >= AE_NAME_SIZE) {
		printf("string size MUST less than %d\n", AE_NAME_SIZE);
		return NULL;
	}
	ae_instance *ae = (ae_instance *)calloc(1, sizeof *ae);
	ae_data *d = (ae_data *)calloc(1, sizeof *d);
	if (!ae || !d) {
		free(ae);
		free(d);
		return NULL;
	}
	memcpy(d->name, name, (size_t)len + 1);
	ae->start = slot_start;
	ae->run = ae_run_video_exposure;
	ae->load_lines = slot_load_lines;
	ae->set_target = slot_set_target;
	ae->set_target_ratio = slot_set_target_ratio;
	ae->get_effective_target = slot_get_effective_target;
	ae->get_target_ratio = slot_get_target_ratio;
	ae->set_weight_mode = slot_set_weight_mode;
	ae->set_metering_mode = slot_set_metering_mode;
	ae->set_tile_weights = slot_set_tile_weights;
	ae->set_line_count = slot_set_line_count;
	ae->get_name = slot_get_name;
	ae->set_debug_name = slot_set_debug_name;
	ae->get_limit_low = slot_get_limit_low;
	ae->get_limit_high = slot_get_limit_high;
	ae->set_speed = slot_set_speed;
	ae->luma_stat = ae_luma_stat;
	ae->get_target = slot_get_target;
	ae->get_state = slot_get_state;
	ae->set_tolerance = slot_set_tolerance;
	ae->set_frame_skip = slot_set_frame_skip;
	ae->get_agc_index = slot_get_agc_index;
	ae->get_cursor = slot_get_cursor;
	ae->get_luma = slot_get_luma;
	ae->get_rgb_luma = slot_get_rgb_luma;
	ae->decision_hook = NULL;
	ae->set_custom_limits = slot_set_custom_limits;
	ae->data = d;
	return ae;
}

void ae_instance_free(ae_instance *ae)
{
	if (!ae)
		return;
	free_tables(ae->data);
	free(ae->data);
	free(ae);
}

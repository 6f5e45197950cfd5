/* Auto-focus instances: their creation and frame, the measurement of the
 * focus values into the history, and the lens moves that follow a
 * decision. */
#include "aaa_parser.h"
#include "af_internal.h"
#include "img_lib.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define AF_FV2_MIN_RESET 99999999u

static int instance_num;
static af_instance *instances[AF_MAX_INSTANCES];
static uint32_t enable[AF_MAX_INSTANCES];
/* The instance whose frame runs, for af_get_focus_speed. */
static af_instance *running;

int32_t af_upper_limit = 500;
int32_t af_lower_limit = -50;
af_calibration af_cal = {{0, 500, 14}, 1, 1, 1, 5, 5, 0};

static const int16_t lens_ctrl_defaults[AF_LENS_CTRL_WORDS] = {
    0,    1,   200,  0,   0,    0, -55, 0, 0, 6, 0, 0, 0, 0,   0,  256, 257, 188, 467,
    -235, 375, -184, 276, -206, 7, 2,   2, 0, 0, 0, 8, 8, 168, 87, 8,   8,   123, 132,
};

int af_set_instance_num(int count)
{
	if (count < 0 || count > AF_MAX_INSTANCES) {
		printf("af instances number %d out of range 0 - %d\n", count, AF_MAX_INSTANCES);
		return -1;
	}
	instance_num = count;
	return 0;
}

int af_get_instance_num(void)
{
	return instance_num;
}

int32_t af_restart_point(void)
{
	return (af_upper_limit + 4 * af_lower_limit) / 5;
}

int af_set_search_limits(const int32_t limits[2])
{
	if (!limits)
		return -1;
	af_lower_limit = limits[0] - 50;
	af_upper_limit = limits[1];
	return 0;
}

int af_set_calibration_table(const void *table)
{
	if (!table)
		return -1;
	memcpy(af_cal.word, table, AF_CALIBRATION_SIZE);
	return 0;
}

int af_get_calibration_table(void *table)
{
	if (!table)
		return -1;
	memcpy(table, af_cal.word, AF_CALIBRATION_SIZE);
	return 0;
}

void af_config_default(af_config *cfg)
{
	static const uint8_t patch[5][6] = {
	    {1, 1, 1, 1, 1, 1}, {1, 2, 2, 2, 2, 1}, {1, 2, 3, 3, 2, 1},
	    {1, 2, 2, 2, 2, 1}, {1, 1, 1, 1, 1, 1},
	};
	if (!cfg)
		return;
	memset(cfg, 0, sizeof *cfg);
	for (int r = 0; r < 5; r++)
		for (int c = 0; c < 6; c++)
			cfg->weight[(r + 2) * 12 + 3 + c] = patch[r][c];
	cfg->zoom = 255;
}

int32_t af_index_to_pulse(const af_focus_row *row, int32_t index)
{
	return row->base / 4 + (int32_t)(((int64_t)index * row->slope) >> 15);
}

int32_t af_pulse_to_index(const af_focus_row *row, int32_t pulse)
{
	if (row->slope == 0)
		return 0;
	int32_t d = (int32_t)(4u * (uint32_t)pulse - (uint32_t)row->base);
	return (int32_t)((int64_t)d * 8192 / row->slope);
}

const af_lens_row *af_row(const af_state *s, uint32_t zoom)
{
	return &s->lens->row[zoom < AF_ZOOM_ROWS ? zoom : AF_ZOOM_ROWS - 1];
}

void af_clear_history(af_state *s)
{
	for (int k = 0; k < s->len; k++)
		s->ring[k][AF_E_VALID] = 0;
	s->fv1_max = s->fv2_max = 0;
	s->fv1_min = s->fv2_min = AF_FV2_MIN_RESET;
	s->widx = -1;
	s->frames = 0;
}

/* ---- lens moves --------------------------------------------------------- */

/* A pulse (or zoom position) between the rows of a zoom position. */
static double between_rows(const af_state *s, float z, int32_t index, bool zoom_pos)
{
	int i = (int)z;
	double f = z - i;
	auto at = [&](int row) {
		const af_focus_row *r = &s->focus[row];
		return zoom_pos ? (double)r->zoom_pos : (double)af_index_to_pulse(r, index);
	};
	if (i >= AF_ZOOM_ROWS - 1)
		return at(AF_ZOOM_ROWS - 1);
	return (1 - f) * at(i) + f * at(i + 1);
}

static bool zoom_ok(float z)
{
	return z >= 0 && z <= AF_ZOOM_ROWS - 1;
}

int zoom_move(af_instance *af, af_output *out)
{
	if (!af || !out)
		return -1;
	af_state *s = af->state;
	if (!zoom_ok(s->z) || !zoom_ok(s->p)) {
		printf("zoom_move error!\n");
		return -1;
	}
	int32_t new_focus = (int32_t)between_rows(s, s->z, s->target, false);
	int32_t old_focus = (int32_t)between_rows(s, s->p, s->cur, false);
	out->focus_move = new_focus != old_focus;
	out->focus_steps = new_focus - old_focus;
	int32_t new_zoom = (int32_t)between_rows(s, s->z, 0, true);
	int32_t old_zoom = (int32_t)between_rows(s, s->p, 0, true);
	out->zoom_move = new_zoom != old_zoom;
	out->zoom_steps = new_zoom - old_zoom;
	s->cur = s->target;
	s->p = s->z;
	out->speed = s->speed;
	return s->speed == 0 ? -1 : 0;
}

/* ---- measurement ------------------------------------------------------ */

static uint32_t sat32(uint64_t v)
{
	return v > UINT32_MAX ? UINT32_MAX : (uint32_t)v;
}

static uint32_t absdiff(uint32_t a, uint32_t b)
{
	return a > b ? a - b : b - a;
}

/* The focus values of one filter over the used tiles. */
typedef struct fv_sums {
	uint64_t v, vv, w, delta;
} fv_sums;

static void add_fv(fv_sums *sum, uint32_t fv, uint16_t *prev, uint32_t w, uint32_t g)
{
	uint32_t v = (uint32_t)((uint64_t)fv * w / g);
	sum->v += v;
	sum->vv += ((uint64_t)v * v) >> 3;
	sum->w += w;
	sum->delta += absdiff(fv, *prev);
	*prev = (uint16_t)fv;
}

/* The frame's entry into the history; false for a frame without AF tiles,
 * which gives nothing to compare. */
static bool measure(af_state *s, const af_config *cfg, const aaa_parse_result *st, const cl_aaa_block *block)
{
	uint32_t n = st->af_tiles < AF_USED_TILES ? st->af_tiles : AF_USED_TILES;
	s->agc = block->expo[0].agc;
	s->gain_delta = (int32_t)(s->agc + 16 - s->prev_gain16);
	if (n == 0)
		return false;
	uint32_t g = s->agc + 17;
	memcpy(s->weight, cfg->weight, sizeof s->weight);
	uint64_t luma_mean = 0, luma_change = 0;
	fv_sums f1 = {0, 0, 0, 0}, f2 = {0, 0, 0, 0};
	for (uint32_t i = 0; i < n; i++) {
		const aaa_af_tile *t = &st->set.cfa_af[i];
		luma_mean += t->sum >> 4;
		luma_change += absdiff(t->sum, s->prev_luma[i]);
		s->prev_luma[i] = t->sum;
		add_fv(&f1, t->fv1, &s->prev_fv1[i], s->weight[i], g);
		add_fv(&f2, t->fv2, &s->prev_fv2[i], s->weight[i], g);
	}
	luma_mean /= n;
	luma_change /= n;
	uint32_t e[AF_E_WORDS] = {0};
	e[AF_E_VALID] = 1;
	e[AF_E_FV2_ENERGY] = sat32(f2.vv >> 3);
	if (f1.w) {
		e[AF_E_FV1_MEAN] = sat32(f1.v / f1.w);
		e[AF_E_FV1_ENERGY] = sat32((f1.vv >> 3) / f1.w);
		e[AF_E_FV2_MEAN] = sat32(f2.v / f2.w);
		e[AF_E_FV1_CHANGE] = sat32(f1.delta / f1.w);
		e[AF_E_FV2_CHANGE] = sat32(f2.delta / f2.w);
	}
	e[AF_E_LUMA_MEAN] = sat32(luma_mean);
	e[AF_E_LUMA_CHANGE] = sat32(luma_change);
	if (s->step != 0) {
		uint32_t step = (uint32_t)abs(s->step);
		e[AF_E_LUMA_CHANGE] /= step;
		e[AF_E_FV1_CHANGE] /= step;
		e[AF_E_FV2_CHANGE] /= step;
	}

	s->widx = (s->widx + 1) % s->len;
	memcpy(s->ring[s->widx], e, sizeof e);
	s->ring_index[s->widx] = s->cur;
	s->frames++;
	uint32_t e1 = e[AF_E_FV1_ENERGY], e2 = e[AF_E_FV2_ENERGY];
	s->fv1_max = e1 > s->fv1_max ? e1 : s->fv1_max;
	s->fv1_min = e1 < s->fv1_min ? e1 : s->fv1_min;
	s->fv2_min = e2 < s->fv2_min ? e2 : s->fv2_min;
	if (e2 > s->fv2_max) {
		s->fv2_max = e2;
		s->peak = s->cur;
	}
	s->fv2_energy = e2;

	uint32_t count = s->frames < (uint32_t)s->len ? s->frames : (uint32_t)s->len;
	uint64_t valid = 0, fv2_sum = 0, lc = 0, lm = 0, fc = 0, fm = 0;
	for (uint32_t k = 0; k < count; k++) {
		const uint32_t *r = s->ring[k];
		if (!r[AF_E_VALID])
			continue;
		valid++;
		fv2_sum += r[AF_E_FV2_ENERGY];
		lc += r[AF_E_LUMA_CHANGE];
		lm += r[AF_E_LUMA_MEAN];
		fc += r[AF_E_FV1_CHANGE];
		fm += r[AF_E_FV1_MEAN];
	}
	uint64_t avg = valid ? fv2_sum / valid : 0;
	s->luma_pct = valid ? sat32(lc * 100 / (lm + 1)) : 0;
	s->fv1_pct = valid ? sat32(fc * 100 / (fm + 1)) : 0;
	uint64_t diff = e2 > avg ? e2 - avg : avg - e2, low = e2 < avg ? e2 : avg;
	s->scene_change = (uint32_t)(((diff * 100 / (low + 1) + s->luma_pct + s->fv1_pct) / 2) & 0xffff);
	return true;
}

/* ---- the frame ----------------------------------------------------------- */

static int first_state(uint32_t mode)
{
	switch (mode) {
	case AF_MODE_CONTINUOUS:
	case AF_MODE_SWEEP:
		return AF_ST_FIRST;
	case AF_MODE_SINGLE:
		return AF_ST_SINGLE_START;
	case AF_MODE_MANUAL:
		return AF_ST_MANUAL;
	case AF_MODE_CALIBRATION:
		return AF_ST_CAL_START;
	default:
		return -1;
	}
}

int af_control(af_instance *af, af_config *cfg, const aaa_parse_result *st, af_output *out,
               const cl_aaa_block *block, int skip)
{
	if (skip)
		return 0;
	printf("af_control\n");
	if (!af || !cfg || !st || !out || !block)
		return -1;
	af_state *s = af->state;
	running = af;
	bool measured = measure(s, cfg, st, block);
	int rc = 0;
	if (measured) {
		uint32_t mode = cfg->mode;
		if (mode != s->prev_mode && mode != 2 && mode <= AF_MODE_SWEEP) {
			s->len = AF_LEN_SEARCH;
			s->state = mode == AF_MODE_CONTINUOUS ? AF_ST_RESTART : first_state(mode);
			s->dir = 1;
		}
		s->prev_mode = mode;
		bool first_kind =
		    mode == AF_MODE_CONTINUOUS || mode == AF_MODE_SINGLE || mode == AF_MODE_MANUAL;
		if (s->first && first_kind) {
			s->first = 0;
			const af_focus_row *row =
			    &s->focus[(cfg->zoom & 0xff) < AF_ZOOM_ROWS ? cfg->zoom & 0xff : 31];
			out->focus_move = 1;
			out->focus_steps = row->base / 4;
			out->zoom_move = 0;
			out->zoom_steps = 0;
			out->speed = s->speed;
		} else {
			rc = af_run_mode(af, cfg, out);
		}
	}
	s->prev_gain16 = s->agc + 16;
	return rc;
}

static int slot_init(af_instance *af, af_config *cfg, const af_lens_params *lens, const af_focus_row *focus,
                     af_output *out)
{
	if (!af || !cfg || !lens || !focus || !out)
		return -1;
	af_state *s = af->state;
	memset(s, 0, sizeof *s);
	s->lens = lens;
	s->focus = focus;
	s->first = 1;
	cfg->zoom = lens->zoom;
	s->z = s->p = lens->zoom;
	s->cur = s->target = 1;
	s->speed = lens->speed;
	s->len = AF_LEN_SEARCH;
	af_clear_history(s);
	s->prev_gain16 = 1;
	s->prev_mode = cfg->mode;
	out->focus_move = out->zoom_move = 0;
	out->focus_steps = out->zoom_steps = 0;
	out->speed = lens->speed;
	memcpy(out->lens_ctrl, lens_ctrl_defaults, sizeof out->lens_ctrl);
	out->stat_request = 1;
	s->dir = 1;
	s->state = first_state(cfg->mode);
	return s->state < 0 ? -1 : 0;
}

static const char *slot_name(af_instance *af)
{
	return af->name;
}

static af_instance *create(int index)
{
	char name[64];
	int len = snprintf(name, sizeof name, "af_cntl_%d", index);
	if (len < 0 || len >= AF_NAME_SIZE) {
		printf("string size MUST less than %d\n", AF_NAME_SIZE);
		return NULL;
	}
	af_instance *af = (af_instance *)calloc(1, sizeof *af);
	if (!af) {
		printf("Fail to create instance.\n");
		return NULL;
	}
	af->name = (char *)calloc(1, AF_NAME_SIZE);
	af->state = (af_state *)calloc(1, sizeof *af->state);
	if (!af->name || !af->state) {
		printf("Fail to create instance data.\n");
		free(af->name);
		free(af->state);
		free(af);
		return NULL;
	}
	memcpy(af->name, name, (size_t)len + 1);
	af->init = slot_init;
	af->run = af_control;
	af->get_name = slot_name;
	return af;
}

int af_create_instances(af_config *cfg, const uint8_t *const *aaa_cfgs, cl_aaa_block *blocks)
{
	if (instance_num > AF_MAX_INSTANCES) {
		printf("instances number should be less than %d\n", AF_MAX_INSTANCES);
		return -1;
	}
	if (instance_num == 0)
		return 0;
	if (!cfg || !aaa_cfgs || !blocks)
		return -1;
	for (int i = 0; i < instance_num; i++) {
		if (!instances[i])
			instances[i] = create(i);
		if (!instances[i]) {
			printf("create af instance %d fail\n", i);
			return -1;
		}
	}
	memset(enable, 0, sizeof enable);
	for (int i = 0; i < instance_num; i++) {
		const uint8_t *block = aaa_cfgs[i];
		af_output *out = (af_output *)blocks[i].af_out;
		int rc = -1;
		if (block)
			rc = instances[i]->init(instances[i], cfg,
			                        (const af_lens_params *)(block + IMG_AAA_LENS_PARAM_AT),
			                        (const af_focus_row *)(block + IMG_AAA_LENS_TABLE_AT), out);
		if (rc < 0)
			printf("init af instance %d fail\n", i);
	}
	return 0;
}

int af_destroy_instances(void)
{
	if (instance_num < 0 || instance_num > AF_MAX_INSTANCES)
		return -1;
	int rc = 0;
	for (int i = 0; i < AF_MAX_INSTANCES; i++) {
		if (!instances[i]) {
			if (i < instance_num)
				rc = -1;
			continue;
		}
		if (running == instances[i])
			running = NULL;
		free(instances[i]->name);
		free(instances[i]->state);
		free(instances[i]);
		instances[i] = NULL;
	}
	return rc;
}

int af_set_enable(const uint32_t *values, uint32_t mask)
{
	if (!values)
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			enable[i] = values[i];
	return 0;
}

int af_run(af_config *cfg, const aaa_parse_out *stats, cl_aaa_block *blocks, int skip)
{
	if (instance_num > AF_MAX_INSTANCES || !stats || !blocks)
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (!instances[i])
			return -1;
	for (int i = 0; i < instance_num; i++)
		if (enable[i])
			instances[i]->run(instances[i], cfg, &stats->chan[i], (af_output *)blocks[i].af_out,
			                  &blocks[i], skip);
	return 0;
}

af_instance *af_get_instance(int index)
{
	return index >= 0 && index < AF_MAX_INSTANCES ? instances[index] : NULL;
}

int af_get_status(int index, af_status *out)
{
	af_instance *af = af_get_instance(index);
	if (!af || !out)
		return -1;
	out->state = af->state->state;
	out->current = af->state->cur;
	out->target = af->state->target;
	out->peak = af->state->peak;
	out->zoom = af->state->z;
	return 0;
}

int32_t af_focus_speed(const af_state *s)
{
	int len = s->len;
	int64_t e0 = s->ring[0][AF_E_FV2_ENERGY];
	int64_t bk = 0, fw;
	if (s->ring[len - 1][AF_E_VALID])
		bk = llabs((int64_t)s->ring[len - 1][AF_E_FV2_ENERGY] - e0);
	int64_t e1 = len < 2 ? e0 : s->ring[1][AF_E_VALID] ? (int64_t)s->ring[1][AF_E_FV2_ENERGY] : 0;
	fw = llabs(e1 - e0);
	int64_t div = 2 * (bk + fw) + 1;
	int64_t q = 10 * (bk - fw) * s->step / div;
	int32_t speed = (int32_t)(q >= 0 ? (q + 5) / 10 : -((-q + 5) / 10));
	printf("BK: %d, FW: %d, F_sp: %d(%d)\n", (int)bk, (int)fw, (int)speed,
	       (int)((bk - fw) * s->step / div));
	return speed;
}

int32_t af_get_focus_speed(void)
{
	af_instance *af = running ? running : instances[0];
	return af ? af_focus_speed(af->state) : 0;
}

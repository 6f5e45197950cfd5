/* Work states and per-frame 3A steps. */
#include "img_work.h"

#include "aaa_parser.h"
#include "ae.h"
#include "cl_aaa_block.h"
#include "hal_vin.h"
#include "img_adj_le.h"
#include "img_channel.h"
#include "img_lib.h"

#include <stddef.h>

#include <stdio.h>
#include <string.h>

/* Where the 3A configuration block keeps its ratio-to-gain table. */
#define AAA_RATIO_GAIN_ENABLE_AT 3192
#define AAA_RATIO_GAIN_TABLE_AT 6336
#define RATIO_TABLE_ENTRIES 128

/* ---- work state ---- */

static uint32_t work_curr;
static uint32_t work_next;

static uint32_t allowed_next(uint32_t state)
{
	switch (state) {
	case IMG_WORK_IDLE:
		return IMG_WORK_PREVIEW;
	case IMG_WORK_PREVIEW:
		return IMG_WORK_FASTFOCUS | IMG_WORK_PREFLASH | IMG_WORK_RECORD | IMG_WORK_CAPTURE;
	case IMG_WORK_FASTFOCUS:
		return IMG_WORK_PREVIEW | IMG_WORK_PREFLASH | IMG_WORK_CAPTURE;
	case IMG_WORK_PREFLASH:
		return IMG_WORK_CAPTURE;
	case IMG_WORK_RECORD:
	case IMG_WORK_CAPTURE:
		return IMG_WORK_PREVIEW;
	default:
		return 0;
	}
}

const char *img_work_state_name(uint32_t state)
{
	switch (state) {
	case IMG_WORK_IDLE:
		return "idle";
	case IMG_WORK_PREVIEW:
		return "preview";
	case IMG_WORK_FASTFOCUS:
		return "fastfocus";
	case IMG_WORK_PREFLASH:
		return "preflash";
	case IMG_WORK_RECORD:
		return "record";
	case IMG_WORK_CAPTURE:
		return "capture";
	default:
		return "err";
	}
}

int img_work_state_request(uint32_t next)
{
	/* Idle is state 0, so a mask test alone would let anything go there. */
	bool single = next != 0 && (next & (next - 1)) == 0;
	if (next == work_curr || !single || !(allowed_next(work_curr) & next)) {
		printf("cannot trans from %s to %s\n", img_work_state_name(work_curr),
		       img_work_state_name(next));
		return -1;
	}
	work_next = next;
	return 0;
}

void img_work_state_commit(void)
{
	work_curr = work_next;
}

int img_work_state_pending(void)
{
	return work_curr != work_next;
}

uint32_t img_work_state_current(void)
{
	return work_curr;
}

void img_work_state_print(void)
{
	printf("curr %s next %s sync %d\n", img_work_state_name(work_curr), img_work_state_name(work_next),
	       img_work_state_pending());
}

void img_work_state_reset(void)
{
	work_curr = work_next = IMG_WORK_IDLE;
}

/* ---- shutter-ratio limits, configuration and boost table ---- */

static img_ratio_limits limits_cfg[IMG_MAX_CHANNELS];
static img_ratio_limits limits_now[IMG_MAX_CHANNELS];
static uint32_t ratio_cfg[IMG_MAX_CHANNELS][IMG_RATIO_CONFIG_WORDS];
static uint16_t boost_table[IMG_MAX_CHANNELS][RATIO_TABLE_ENTRIES];

static bool chan_ok(int chan)
{
	if (chan >= 0 && chan < img_get_vin_chan_num() && chan < IMG_MAX_CHANNELS)
		return true;
	printf("error: illegal channel id [%d].\n", chan);
	return false;
}

static bool args_ok(int chan, const void *p)
{
	return chan_ok(chan) && p;
}

static bool limits_ordered(int chan, const img_ratio_limits *l)
{
	if (l->min <= l->max)
		return true;
	printf("error: chan %d max shutter ratio [%d] should be greater than min shutter ratio [%d].\n", chan,
	       l->max, l->min);
	return false;
}

int img_config_ratio_limits(int chan, const img_ratio_limits *limits)
{
	if (!args_ok(chan, limits) || !limits_ordered(chan, limits))
		return -1;
	limits_cfg[chan] = *limits;
	limits_now[chan] = *limits;
	ratio_cfg[chan][0] = 1;
	ratio_cfg[chan][1] = 5;
	ratio_cfg[chan][2] = 120;
	return 0;
}

int img_get_ratio_limits_in_effect(int chan, img_ratio_limits *out)
{
	if (!args_ok(chan, out))
		return -1;
	*out = limits_now[chan];
	return 0;
}

static uint32_t clamp_u32(uint32_t v, uint32_t lo, uint32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

int img_set_ratio_limits_in_effect(int chan, const img_ratio_limits *limits)
{
	if (!args_ok(chan, limits) || !limits_ordered(chan, limits))
		return -1;
	const img_ratio_limits *c = &limits_cfg[chan];
	limits_now[chan].mode = limits->mode;
	limits_now[chan].min = clamp_u32(limits->min, c->min, c->max);
	limits_now[chan].max = clamp_u32(limits->max, c->min, c->max);
	return 0;
}

int img_set_ratio_config(int chan, const uint32_t cfg[IMG_RATIO_CONFIG_WORDS])
{
	if (!args_ok(chan, cfg))
		return -1;
	memcpy(ratio_cfg[chan], cfg, sizeof(ratio_cfg[chan]));
	return 0;
}

int img_get_ratio_config(int chan, uint32_t cfg[IMG_RATIO_CONFIG_WORDS])
{
	if (!args_ok(chan, cfg))
		return -1;
	memcpy(cfg, ratio_cfg[chan], sizeof(ratio_cfg[chan]));
	return 0;
}

int img_set_hdr_boost_table(int chan, const uint8_t *table)
{
	if (!args_ok(chan, table))
		return -1;
	memcpy(boost_table[chan], table, IMG_HDR_BOOST_TABLE_SIZE);
	return 0;
}

int img_get_hdr_boost_table(int chan, uint8_t *table)
{
	if (!args_ok(chan, table))
		return -1;
	memcpy(table, boost_table[chan], IMG_HDR_BOOST_TABLE_SIZE);
	return 0;
}

/* Entry k of a ratio table holds the value at ratio 16 (k + 1); below 16
 * the first segment is extended, from 2048 on the last entry holds. */
static int64_t ratio_table_at(uint32_t r, const int64_t e[RATIO_TABLE_ENTRIES])
{
	if (r >= 2048)
		return e[RATIO_TABLE_ENTRIES - 1];
	uint32_t k = r < 16 ? 1 : r >> 4;
	int64_t x0 = 16 * (int64_t)k;
	return e[k - 1] + (e[k] - e[k - 1]) * ((int64_t)r - x0) / 16;
}

uint16_t img_boost_lookup(uint32_t r, int chan)
{
	if (!chan_ok(chan))
		return 0;
	int64_t e[RATIO_TABLE_ENTRIES];
	for (int k = 0; k < RATIO_TABLE_ENTRIES; k++)
		e[k] = boost_table[chan][k];
	int64_t v = ratio_table_at(r, e);
	/* Extending the first segment below ratio 16 can leave the range. */
	return (uint16_t)(v < 0 ? 0 : v > UINT16_MAX ? UINT16_MAX : v);
}

int img_ratio_to_gain(uint32_t r, uint32_t *gain, int chan)
{
	if (!args_ok(chan, gain))
		return -1;
	const img_aaa_chan *a = img_lib_aaa_chan(chan);
	uint32_t enable = 0;
	if (a)
		memcpy(&enable, a->cfg + AAA_RATIO_GAIN_ENABLE_AT, sizeof(enable));
	if (!enable) {
		printf("error: chan [%d] ratio to gain convert table is not supported\n", chan);
		return -1;
	}
	uint32_t table[RATIO_TABLE_ENTRIES];
	memcpy(table, a->cfg + AAA_RATIO_GAIN_TABLE_AT, sizeof(table));
	int64_t e[RATIO_TABLE_ENTRIES];
	for (int k = 0; k < RATIO_TABLE_ENTRIES; k++)
		e[k] = table[k];
	int64_t v = ratio_table_at(r, e);
	*gain = (uint32_t)(v < 0 ? 0 : v > UINT32_MAX ? UINT32_MAX : v);
	return 0;
}

/* ---- HDR exposure split ---- */

/* The sensor record inside the 3A configuration block: the video input's
 * AAA information from its byte 44, its AGC record from byte 196. */
#define AAA_SENSOR_VIN_AT (IMG_AAA_SENSOR_AT + 44)
#define AAA_SENSOR_AGC_AT (IMG_AAA_SENSOR_AT + 196)
#define AGC_INDEX_MAX 721u

static uint32_t cfg_word(const img_aaa_chan *a, size_t at)
{
	uint32_t v;
	memcpy(&v, a->cfg + at, sizeof(v));
	return v;
}

/* The longest shutter the video input takes for exposure i; 0 unknown. */
static uint32_t vin_shutter_max(const img_aaa_chan *a, int i)
{
	if (i >= 3)
		return 0;
	return cfg_word(a, AAA_SENSOR_VIN_AT + offsetof(qvd_vin_aaa_info, sht_max) + 4 * (size_t)i);
}

/* The analogue and digital ranges of the sensor's AGC record together,
 * within the gain index table. */
static uint32_t agc_max(const img_aaa_chan *a)
{
	uint32_t m = cfg_word(a, AAA_SENSOR_AGC_AT + offsetof(qvd_vin_agc, again_max_index)) +
	             cfg_word(a, AAA_SENSOR_AGC_AT + offsetof(qvd_vin_agc, dgain_max_index));
	return m && m < AGC_INDEX_MAX ? m : AGC_INDEX_MAX;
}

static void store_changed(uint32_t *value, uint32_t *flag, uint32_t v)
{
	if (*value == v)
		return;
	*value = v;
	*flag = 1;
}

static int split_frames(uint32_t method, uint32_t expo_num)
{
	switch (method) {
	case 4:
		return 2;
	case 6:
		return 3;
	default:
		return (int)expo_num;
	}
}

/* The driver adjusts the shutters it is given as u32 halves of its two
 * words, in order. */
static void compensate(int fd, cl_aaa_block *b, int e, int chan)
{
	uint64_t v[2] = {0, 0};
	for (int i = 0; i < e; i++)
		v[i / 2] |= (uint64_t)b->expo[i].shutter << (32 * (i % 2));
	if (hal_aaa_compensation(fd, v, chan) != 0)
		return;
	for (int i = 0; i < e; i++)
		store_changed(&b->expo[i].shutter, &b->expo[i].shutter_changed,
		              (uint32_t)(v[i / 2] >> (32 * (i % 2))));
}

int img_hdr_split_exposure(int fd, uint32_t *ratio, cl_aaa_block *b, int chan)
{
	if (!chan_ok(chan) || !ratio || !b)
		return -1;
	const img_aaa_chan *a = img_lib_aaa_chan(chan);
	uint32_t m = a->info.hdr_method;
	bool gain_split = m >= 4 && m <= 7;
	float r = (float)*ratio / 16.0f;
	float half = (m == 1 || m == 6 || m == 7) ? r / 2 : 0;
	uint32_t extra = 0;
	if (gain_split && img_ratio_to_gain(*ratio, &extra, chan) != 0)
		return -1;
	int e = gain_split ? split_frames(m, a->info.expo_num) : (int)a->info.expo_num;
	if (e > CL_AAA_EXPOSURES)
		e = CL_AAA_EXPOSURES;
	for (int i = 1; i < e; i++) {
		cl_aaa_exposure *x = &b->expo[i];
		const cl_aaa_exposure *prev = &b->expo[i - 1];
		uint32_t shutter, agc;
		if (gain_split && i == 1) {
			int64_t g = (int64_t)prev->agc - extra;
			shutter = prev->shutter;
			agc = (uint32_t)(g < 0 ? 0 : g > agc_max(a) ? agc_max(a) : g);
		} else {
			float s = r > 0 ? ((float)prev->shutter + half) / r : (float)prev->shutter;
			uint32_t hi = vin_shutter_max(a, i);
			shutter = (uint32_t)s;
			if (hi && shutter > hi)
				shutter = hi;
			agc = prev->agc;
		}
		store_changed(&x->shutter, &x->shutter_changed, shutter);
		store_changed(&x->agc, &x->agc_changed, agc);
	}
	if (e == 2 || e == 3)
		compensate(fd, b, e, chan);
	if (b->expo[1].shutter == 0) {
		*ratio = 16;
		printf("error:short shutter raw =0\n");
	} else {
		*ratio = b->expo[0].shutter * 16 / b->expo[1].shutter;
	}
	return 0;
}

int img_convert_ae_lines(int fd, uint32_t *lines, int n, uint32_t divisor, int chan)
{
	if (!lines || n < 0)
		return -1;
	for (int k = 0; k < n; k++) {
		uint32_t *l = lines + 6 * k;
		for (int p = 0; p < 6; p += 3) {
			uint32_t rows = 0;
			hal_shutter_to_row(fd, l[p], &rows, chan);
			l[p] = rows ? rows : 1;
			l[p + 1] = divisor ? (uint32_t)(((uint64_t)l[p + 1] << 24) / divisor) : 0;
		}
		printf("final %d %d -> %d %d\n", l[0], l[1], l[3], l[4]);
	}
	return 0;
}

/* ---- adjustment index, histogram level, adaptive filter inputs ---- */

#define AAA_GAIN_UNIT_AT 3180
#define ADJ_INDEX_DIVISOR 786432u
#define ADJ_INDEX_START 256

static img_hist_level_cfg hist_cfg[IMG_MAX_CHANNELS];
static uint8_t hist_level[IMG_MAX_CHANNELS];
static img_adaptive_cfg adaptive_cfg[IMG_MAX_CHANNELS];

int32_t img_work_adj_index(int chan)
{
	uint16_t agc[IMG_MAX_CHANNELS] = {0};
	const img_aaa_chan *a = img_lib_aaa_chan(chan);
	if (!a || ae_get_agc_index(agc) < 0)
		return ADJ_INDEX_START;
	uint64_t unit = cfg_word(a, AAA_GAIN_UNIT_AT);
	return (int32_t)(agc[chan] * unit / ADJ_INDEX_DIVISOR + ADJ_INDEX_START);
}

int img_set_hist_level_cfg(int chan, const img_hist_level_cfg *cfg)
{
	if (!args_ok(chan, cfg))
		return -1;
	hist_cfg[chan] = *cfg;
	return 0;
}

int img_get_hist_level_cfg(int chan, img_hist_level_cfg *cfg)
{
	if (!args_ok(chan, cfg))
		return -1;
	*cfg = hist_cfg[chan];
	return 0;
}

/* From y0 at x0 to y1 at x1, at x. */
static int64_t lerp(int64_t y0, int64_t y1, int64_t x0, int64_t x1, int64_t x)
{
	return x1 == x0 ? y0 : y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

static int64_t clamp64(int64_t v, int64_t lo, int64_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

uint8_t img_hist_level(const aaa_parse_result *stats, int32_t x, int chan)
{
	if (!chan_ok(chan) || !stats)
		return 0;
	const img_hist_level_cfg *c = &hist_cfg[chan];
	if (!c->enable)
		return hist_level[chan];
	int64_t v[3];
	int32_t i = x >> 7;
	for (int k = 0; k < 3; k++) {
		if (i < 1)
			v[k] = c->table[0][k];
		else if (i >= IMG_HIST_LEVEL_ROWS - 1)
			v[k] = c->table[IMG_HIST_LEVEL_ROWS - 1][k];
		else
			v[k] = lerp(c->table[i][k], c->table[i + 1][k], 0, 128, x & 127);
		v[k] = clamp64(v[k], 0, 255);
	}
	const uint32_t *bin = c->rgb ? stats->set.rgb_hist.bin[0] : stats->set.cfa_hist.bin[3];
	uint64_t in = 0, all = 0;
	for (uint32_t k = 0; k < 64; k++) {
		all += bin[k];
		if (c->lo <= 4 * k && 4 * k <= c->hi)
			in += bin[k];
	}
	int64_t q = all ? (int64_t)(in * 4096 / all) : 0;
	const uint32_t *t = c->t;
	int64_t level;
	if (q <= t[0])
		level = v[0];
	else if (q >= t[3])
		level = v[2];
	else if (q < t[1])
		level = lerp(v[0], v[1], t[0], t[1], q);
	else if (q <= t[2])
		level = v[1];
	else
		level = lerp(v[1], v[2], t[2], t[3], q);
	hist_level[chan] = (uint8_t)clamp64(level, 0, 255);
	return hist_level[chan];
}

uint8_t img_get_hist_level(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? hist_level[chan] : 0;
}

int img_set_adaptive_cfg(int chan, const img_adaptive_cfg *cfg)
{
	if (!args_ok(chan, cfg))
		return -1;
	adaptive_cfg[chan] = *cfg;
	return 0;
}

int img_get_adaptive_cfg(int chan, img_adaptive_cfg *cfg)
{
	if (!args_ok(chan, cfg))
		return -1;
	*cfg = adaptive_cfg[chan];
	return 0;
}

uint32_t img_adaptive_value(const img_adaptive_cfg *cfg, int32_t x)
{
	int32_t i = x >> 7;
	int64_t v;
	if (x < 1)
		v = cfg->entry[0];
	else if (i >= IMG_ADAPTIVE_ENTRIES - 1)
		v = cfg->entry[IMG_ADAPTIVE_ENTRIES - 1];
	else
		v = lerp(cfg->entry[i], cfg->entry[i + 1], 0, 128, x & 127);
	return (uint32_t)clamp64(v, 0, 128);
}

int img_adaptive_pass(const int32_t *index, int count)
{
	if (!index)
		return -1;
	uint32_t enable[IMG_MAX_CHANNELS] = {0}, strength[IMG_MAX_CHANNELS] = {0}, mask = 0;
	for (int c = 0; c < count && c < IMG_MAX_CHANNELS; c++) {
		if (!adaptive_cfg[c].enable)
			return 0;
		enable[c] = 1;
		strength[c] = img_adaptive_value(&adaptive_cfg[c], index[c]);
		mask |= 1u << c;
	}
	if (!mask)
		return 0;
	if (img_adj_le_set_enable(enable, mask) != 0 || img_adj_le_set_strength(strength, mask) != 0)
		return -1;
	return 0;
}

void img_work_reset(void)
{
	img_work_state_reset();
	img_work_frame_reset();
	memset(limits_cfg, 0, sizeof(limits_cfg));
	memset(limits_now, 0, sizeof(limits_now));
	memset(ratio_cfg, 0, sizeof(ratio_cfg));
	memset(boost_table, 0, sizeof(boost_table));
	memset(hist_cfg, 0, sizeof(hist_cfg));
	memset(hist_level, 0, sizeof(hist_level));
	memset(adaptive_cfg, 0, sizeof(adaptive_cfg));
}

/* HDR parameters: validation, storage and change flags. The per-exposure
 * setters share one body driven by a table of their ranges, messages and
 * flags. */
#include "img_hdr_params.h"

#include "img_hdr_state.h"

#include <stdio.h>
#include <string.h>

hdr_store img_hdr_store = {1, {}, {}, {}, {}, {}};
std::atomic<uint8_t> img_hdr_flags[IMG_MAX_CHANNELS];

static int null_pointer(void)
{
	printf("error: null pointer.\n");
	return -1;
}

static bool chan_ok(int chan)
{
	if (chan >= 0 && chan < img_hdr_store.channel_num)
		return true;
	printf("error: illegal channel id [%d].\n", chan);
	return false;
}

/* Channel and pointer, in that order, as every per-channel call checks. */
static bool args_ok(const void *p, int chan)
{
	if (!chan_ok(chan))
		return false;
	if (!p) {
		null_pointer();
		return false;
	}
	return true;
}

/* ---- set-up ---- */

int img_hdr_set_channel_info(const void *info)
{
	if (!info)
		return null_pointer();
	memcpy(img_hdr_store.info, info, sizeof img_hdr_store.info);
	return 0;
}

int img_hdr_set_channel_num(int count)
{
	if (count < 1 || count > IMG_MAX_CHANNELS) {
		printf("error: illegal total channel number.\n");
		return -1;
	}
	img_hdr_store.channel_num = count;
	return 0;
}

int img_hdr_get_channel_num(void)
{
	return img_hdr_store.channel_num;
}

static uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, sizeof v);
	return v;
}

int img_hdr_set_sensor_info(const void *records)
{
	if (!records)
		return null_pointer();
	for (int c = 0; c < img_hdr_store.channel_num; c++) {
		const uint8_t *r = (const uint8_t *)records + (size_t)c * IMG_HDR_SENSOR_RECORD_SIZE + 20;
		uint32_t *w = img_hdr_store.sensor[c];
		for (int e = 0; e < 4; e++)
			w[HDR_SI_FIXED_Y + e] = rd32(r + 72 + 4 * e);
		w[HDR_SI_LINES] = rd32(r + 16);
		w[HDR_SI_EXTRA_LINES] = rd32(r + 20);
		w[HDR_SI_ROW_FLAG] = (int32_t)w[HDR_SI_LINES] >= 0 && (int32_t)w[HDR_SI_EXTRA_LINES] >= 0;
		/* Method 6 keeps its shutter limits one place on. */
		int at = hdr_method(c) == 6 ? 104 : 108;
		w[HDR_SI_MAX_SHUTTER] = rd32(r + 104);
		w[HDR_SI_MAX_SHUTTER + 1] = rd32(r + at);
		w[HDR_SI_MAX_SHUTTER + 2] = rd32(r + at + 4);
		w[10] = (uint32_t)-1;
		w[11] = rd32(r + 204);
		w[12] = rd32(r + 212);
		memcpy(&w[13], r, 16);
	}
	return 0;
}

int img_hdr_copy_iq_params(const void *blocks)
{
	if (!blocks)
		return null_pointer();
	memcpy(img_hdr_store.iq, blocks, (size_t)img_hdr_store.channel_num * IMG_HDR_IQ_PARAMS_SIZE);
	return 0;
}

/* ---- per-channel flags ---- */

int img_hdr_request_update(int chan)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	hdr_raise(chan, HDR_F_RECOMPUTE);
	return 0;
}

int img_hdr_set_enable(int enable, int chan)
{
	if (!chan_ok(chan))
		return -1;
	uint8_t v = enable != 0;
	hdr_chan *h = hdr_ch(chan);
	if (h->enable == v)
		return 0;
	h->enable = v;
	if (v)
		hdr_raise(chan, HDR_F_RECOMPUTE);
	else
		hdr_take(chan, HDR_F_RECOMPUTE);
	return 0;
}

/* A bool parameter that raises flags when it changes. */
static int set_switch(uint8_t hdr_chan::*field, int enable, int chan, uint8_t flags)
{
	if (!chan_ok(chan))
		return -1;
	uint8_t v = enable != 0;
	hdr_chan *h = hdr_ch(chan);
	if (h->*field != v) {
		h->*field = v;
		hdr_raise(chan, flags);
	}
	return 0;
}

static int get_switch(uint8_t hdr_chan::*field, int chan)
{
	return chan_ok(chan) ? hdr_ch(chan)->*field : -1;
}

int img_hdr_get_enable(int chan)
{
	return get_switch(&hdr_chan::enable, chan);
}

int img_hdr_set_ce_log_enable(int enable, int chan)
{
	return set_switch(&hdr_chan::ce_log_enable, enable, chan, HDR_F_LUT | HDR_F_DRC);
}

int img_hdr_get_ce_log_enable(int chan)
{
	return get_switch(&hdr_chan::ce_log_enable, chan);
}

int img_hdr_set_color_threshold_enable(int enable, int chan)
{
	return set_switch(&hdr_chan::color_thr_enable, enable, chan, HDR_F_THRESHOLD);
}

int img_hdr_get_color_threshold_enable(int chan)
{
	return get_switch(&hdr_chan::color_thr_enable, chan);
}

/* ---- blend config ---- */

int img_hdr_set_shutter_ratio(const img_hdr_blend_config *cfg, int chan)
{
	if (!args_ok(cfg, chan))
		return -1;
	if (cfg->ratio < 16 || cfg->ratio > 2048 || cfg->boost > 256) {
		printf("error: sht.ratio [%d] boost.factor [%d] should be in range [%d, %d], [%d, %d] for "
		       "channel [%d]\n",
		       cfg->ratio, cfg->boost, 16, 2048, 0, 256, chan);
		return -1;
	}
	if (hdr_method(chan) == 2 && (cfg->ratio & (cfg->ratio - 1))) {
		printf("error: sht.ratio [%d] should be the power of 2 for channel [%d]\n", cfg->ratio, chan);
		return -1;
	}
	hdr_chan *h = hdr_ch(chan);
	if (h->blend.ratio != cfg->ratio || h->blend.boost != cfg->boost)
		h->blend = *cfg;
	return 0;
}

int img_hdr_get_blend_config(uint32_t *out, int chan)
{
	if (!chan_ok(chan))
		return -1;
	if (!out) {
		printf("error: null pointer\n");
		return -1;
	}
	const hdr_chan *h = hdr_ch(chan);
	*out = (uint32_t)h->blend.ratio | (uint32_t)h->blend.boost << 16;
	return 0;
}

/* ---- per-exposure parameters ---- */

typedef struct expo_param {
	size_t field; /* offset of the four words in hdr_chan */
	const char *msg;
	int32_t lo, hi;
	bool is_signed;
	/* Exposures 1..count-1 and only with two or more exposures, instead
	 * of s..count-1. */
	bool blend_pairs;
	uint8_t flags;
	bool upper_only; /* the message names only the upper bound */
} expo_param;

enum { P_ALPHA, P_ANTI_FLICKER, P_THRESHOLD, P_LUT_MIX, P_DRC, P_1ST, P_2ND, P_BOOST };

static const expo_param expo_params[] = {
    {offsetof(hdr_chan, alpha), "error: alpha value [%d] should be in range [%d, %d] for channel [%d]\n", 0,
     256, false, true, HDR_F_ALPHA, false},
    {offsetof(hdr_chan, anti_flicker),
     "error: anti-flicker threshold [%d] should be in range [%d, %d] for channel [%d]\n", 0, 16, false, true,
     HDR_F_ANTI_FLICKER, false},
    {offsetof(hdr_chan, threshold), "error: thresold [%d] should be in range [0, %d] for channel [%d]\n", 0,
     16383, false, true, HDR_F_THRESHOLD, true},
    {offsetof(hdr_chan, lut_mix), "error: thresold [%d] should be in range [%d, %d] for channel [%d]\n", 0,
     128, false, false, HDR_F_LUT, false},
    {offsetof(hdr_chan, drc_strength), "error: strength [%d] should be in range [%d, %d] for channel [%d]\n",
     -4096, 4096, true, false, HDR_F_DRC, false},
    {offsetof(hdr_chan, strength1), "error: 1st_strength [%d] should be in range [%d, %d] for channel [%d]\n",
     0, 65536, false, false, HDR_F_LUT | HDR_F_DRC, false},
    {offsetof(hdr_chan, strength2), "error: 2nd_strength [%d] should be in range [%d, %d] for channel [%d]\n",
     0, 65536, false, false, HDR_F_RECOMPUTE | HDR_F_LUT, false},
    {offsetof(hdr_chan, boost_strength),
     "error: boost_strength [%d] should be in range [%d, %d] for channel [%d]\n", 0, 65536, false, false,
     HDR_F_RECOMPUTE | HDR_F_DRC, false},
};

static uint32_t *param_words(const expo_param *p, int chan)
{
	return (uint32_t *)((uint8_t *)hdr_ch(chan) + p->field);
}

/* Validates the covered exposures in order. A difference raises the
 * parameter's flags even when a later exposure is refused; on success they
 * are raised only once the values are stored, so that a frame taking them
 * on another thread finds the new values. */
static int set_expo_param(const expo_param *p, const uint32_t *v, int chan, const char *msg)
{
	if (!args_ok(v, chan))
		return -1;
	uint32_t *stored = param_words(p, chan);
	int n = hdr_expo_num(chan);
	int first = p->blend_pairs ? 1 : hdr_first_index(chan);
	uint8_t raise = 0;
	if (!p->blend_pairs || n >= 2) {
		for (int e = first; e < n; e++) {
			int64_t x = p->is_signed ? (int64_t)(int32_t)v[e] : (int64_t)v[e];
			if (x < p->lo || x > p->hi) {
				if (p->upper_only)
					printf(msg, (int)v[e], p->hi, chan);
				else
					printf(msg, (int)v[e], p->lo, p->hi, chan);
				if (raise)
					hdr_raise(chan, raise);
				return -1;
			}
			if (v[e] != stored[e])
				raise = p->flags;
		}
	}
	memcpy(stored, v, IMG_HDR_EXPOSURES * sizeof *v);
	if (raise)
		hdr_raise(chan, raise);
	return 0;
}

static int get_expo_param(const expo_param *p, uint32_t *out, int chan)
{
	if (!args_ok(out, chan))
		return -1;
	memcpy(out, param_words(p, chan), IMG_HDR_EXPOSURES * sizeof *out);
	return 0;
}

#define EXPO_PARAM(name, index, type)                                                                        \
	int img_hdr_set_##name(const type *v, int chan)                                                      \
	{                                                                                                    \
		return set_expo_param(&expo_params[index], (const uint32_t *)v, chan,                        \
		                      expo_params[index].msg);                                               \
	}                                                                                                    \
	int img_hdr_get_##name(type *out, int chan)                                                          \
	{                                                                                                    \
		return get_expo_param(&expo_params[index], (uint32_t *)out, chan);                           \
	}

EXPO_PARAM(alpha_value, P_ALPHA, uint32_t)
EXPO_PARAM(anti_flicker_threshold, P_ANTI_FLICKER, uint32_t)
EXPO_PARAM(threshold, P_THRESHOLD, uint32_t)
EXPO_PARAM(lut_mix, P_LUT_MIX, uint32_t)
EXPO_PARAM(drc_strength, P_DRC, int32_t)
EXPO_PARAM(1st_strength, P_1ST, uint32_t)
EXPO_PARAM(2nd_strength, P_2ND, uint32_t)
EXPO_PARAM(boost_strength, P_BOOST, uint32_t)

int hdr_set_2nd_strength_ce(const uint32_t *v, int chan)
{
	return set_expo_param(&expo_params[P_2ND], v, chan,
	                      "error: strength [%d] should be in range [%d, %d] for channel [%d]\n");
}

/* ---- CE log, black level, AE check ---- */

int img_hdr_set_ce_log_config(const img_hdr_ce_log_config *cfg, int chan)
{
	if (!args_ok(cfg, chan))
		return -1;
	if (cfg->encode < 0 || cfg->decode < 0) {
		printf("error: CE config factor [%d, %d] should not be negative for channel [%d].\n",
		       cfg->encode, cfg->decode, chan);
		return -1;
	}
	hdr_chan *h = hdr_ch(chan);
	if (h->ce_log.encode != cfg->encode || h->ce_log.decode != cfg->decode) {
		h->ce_log = *cfg;
		hdr_raise(chan, HDR_F_LUT | HDR_F_DRC);
	}
	return 0;
}

int img_hdr_get_ce_log_config(uint64_t *out, int chan)
{
	if (!out)
		return -1;
	/* Any of the four stores may be read, but none past them. */
	if (chan < 0 || chan >= IMG_MAX_CHANNELS) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	memcpy(out, &hdr_ch(chan)->ce_log, sizeof *out);
	return 0;
}

int img_hdr_set_static_black_level(const int16_t *levels, int chan)
{
	if (!args_ok(levels, chan))
		return -1;
	hdr_chan *h = hdr_ch(chan);
	if (memcmp(h->black_level, levels, sizeof h->black_level)) {
		memcpy(h->black_level, levels, sizeof h->black_level);
		hdr_raise(chan, HDR_F_BLACK_LEVEL);
	}
	return 0;
}

int img_hdr_get_static_black_level(int16_t *out, int chan)
{
	if (!args_ok(out, chan))
		return -1;
	memcpy(out, hdr_ch(chan)->black_level, sizeof hdr_ch(chan)->black_level);
	return 0;
}

int img_hdr_set_ae_check(const img_hdr_ae_check *records)
{
	if (!records)
		return -1;
	memcpy(img_hdr_store.ae_check, records, (size_t)img_hdr_store.channel_num * sizeof *records);
	return 0;
}

int img_hdr_get_ae_check(img_hdr_ae_check *records)
{
	if (!records)
		return -1;
	memcpy(records, img_hdr_store.ae_check, (size_t)img_hdr_store.channel_num * sizeof *records);
	return 0;
}

/* ---- external tables ---- */

static bool extern_args_ok(const void *p, int chan)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS) {
		printf("error: illegal channel id.\n");
		return false;
	}
	if (!p) {
		null_pointer();
		return false;
	}
	return true;
}

static int set_extern(hdr_extern_table hdr_chan::*field, const hdr_extern_table *t, int chan, uint8_t flag)
{
	if (!extern_args_ok(t, chan))
		return -1;
	hdr_ch(chan)->*field = *t;
	if (t->enable)
		hdr_raise(chan, flag);
	else
		hdr_take(chan, flag);
	return 0;
}

static int get_extern(hdr_extern_table hdr_chan::*field, hdr_extern_table *out, int chan)
{
	if (!extern_args_ok(out, chan))
		return -1;
	*out = hdr_ch(chan)->*field;
	return 0;
}

int img_hdr_set_extern_lut(const hdr_extern_table *t, int chan)
{
	return set_extern(&hdr_chan::ext_lut, t, chan, HDR_F_LUT);
}

int img_hdr_get_extern_lut(hdr_extern_table *out, int chan)
{
	return get_extern(&hdr_chan::ext_lut, out, chan);
}

int img_hdr_set_extern_drc(const hdr_extern_table *t, int chan)
{
	return set_extern(&hdr_chan::ext_drc, t, chan, HDR_F_DRC);
}

int img_hdr_get_extern_drc(hdr_extern_table *out, int chan)
{
	return get_extern(&hdr_chan::ext_drc, out, chan);
}

/* ---- ratio helpers ---- */

int img_hdr_calc_ratio(img_hdr_ratio *out, int from, int to, const img_hdr_blend_config *cfg)
{
	if (!out || !cfg)
		return null_pointer();
	if (from >= to) {
		out->num = 16;
		out->shift = 4;
		return 0;
	}
	uint64_t num = 1;
	uint32_t shift = 0;
	for (int e = from + 1; e <= to; e++) {
		num *= cfg->boost ? cfg->ratio : 16;
		shift += 4;
		/* Three steps of the largest ratio pass 32 bits: keep the value,
		 * give up low bits. */
		while (num > UINT32_MAX && shift > 0) {
			num >>= 1;
			shift--;
		}
	}
	out->num = (uint32_t)num;
	out->shift = shift;
	return 0;
}

int img_hdr_get_expo_ratio(img_hdr_ratio *out, int from, int to, int chan)
{
	if (!out)
		return null_pointer();
	if (!chan_ok(chan))
		return -1;
	return img_hdr_calc_ratio(out, from, to, &hdr_ch(chan)->blend);
}

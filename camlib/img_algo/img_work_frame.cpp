/* The service mode's per-frame 3A step and its HDR shutter-ratio step. */
#include "img_work.h"

#include "aaa_parser.h"
#include "ae.h"
#include "af.h"
#include "awb.h"
#include "cl_aaa_block.h"
#include "hal_vin.h"
#include "img_adj_filter.h"
#include "img_adj_le.h"
#include "img_adj_settings.h"
#include "img_channel.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "lens_drv.h"

#include <stdio.h>
#include <string.h>

#define UNITY 4096u
#define RATIO_COUNTDOWN 4
#define FILTER_LE 7
#define FILTER_TONE 10
#define FILTER_CE_LOG 45

/* Automatic-ratio state: lives from library load. */
static uint32_t last_ratio[IMG_MAX_CHANNELS];
static int32_t countdown[IMG_MAX_CHANNELS];

/* What the white-balance step keeps between frames. */
static uint32_t ae_gain[IMG_MAX_CHANNELS] = {UNITY, UNITY, UNITY, UNITY};
static uint32_t cfa_gain[IMG_MAX_CHANNELS] = {UNITY, UNITY, UNITY, UNITY};
static uint32_t ik_gain[IMG_MAX_CHANNELS][3] = {
    {UNITY, UNITY, UNITY}, {UNITY, UNITY, UNITY}, {UNITY, UNITY, UNITY}, {UNITY, UNITY, UNITY}};

static int chan_count(void)
{
	int n = img_get_vin_chan_num();
	return n > IMG_MAX_CHANNELS ? IMG_MAX_CHANNELS : n;
}

static const channel_info *info_of(int c)
{
	return &img_lib_aaa_chan(c)->info;
}

static bool method_in(uint32_t m, const uint32_t *set, int n)
{
	for (int i = 0; i < n; i++)
		if (set[i] == m)
			return true;
	return false;
}

/* ---- HDR shutter ratio (step 2) ---- */

static uint32_t brightness_factor(const aaa_parse_result *stats, const channel_info *ci, int c)
{
	uint32_t cfg[IMG_RATIO_CONFIG_WORDS];
	img_get_ratio_config(c, cfg);
	uint32_t last = ci->expo_num ? ci->expo_num - 1 : 0;
	if (last >= AAA_PREHIST_EXPOSURES)
		last = AAA_PREHIST_EXPOSURES - 1;
	int32_t x = img_hdr_calc_bright_ratio(stats->prehist[last][1], cfg[2], cfg[1], 128);
	if (x >= 1000 - 99 && x <= 1000 + 99)
		return 1000;
	return x < 1000 ? 950 : 1050;
}

int img_work_hdr_ratio_step(img_work_frame_ctx *w)
{
	static const uint32_t no_ratio[] = {0, 3, 8};
	static const uint32_t split[] = {1, 2, 4, 5, 6, 7};
	uint32_t enable[AE_MAX_INSTANCES] = {0};
	ae_get_enable(enable);
	for (int c = 0; c < chan_count(); c++) {
		const channel_info *ci = info_of(c);
		if (method_in(ci->hdr_method, no_ratio, 3) || !enable[c] || ci->follow_chan != (uint32_t)c)
			continue;
		uint32_t pair = 0;
		img_hdr_get_blend_config(&pair, c);
		img_ratio_limits lim;
		img_get_ratio_limits_in_effect(c, &lim);
		bool automatic = lim.mode != 0;
		uint32_t r = pair & 0xffff;
		if (automatic) {
			r = last_ratio[c];
			if (--countdown[c] < 1) {
				countdown[c] = RATIO_COUNTDOWN;
				r = (uint32_t)((uint64_t)r * 1000 /
				               brightness_factor(&w->stats->chan[c], ci, c));
			}
			r = r < lim.min ? lim.min : r > lim.max ? lim.max : r;
		}
		if (!method_in(ci->hdr_method, split, 6)) {
			printf("error: HDR method [%d] is not supported\n", ci->hdr_method);
			continue;
		}
		if (img_hdr_split_exposure(w->fd, &r, &w->blocks[c], c) != 0)
			continue;
		if (automatic)
			pair = (r & 0xffff) | (uint32_t)img_boost_lookup(r, c) << 16;
		w->pair[c] = pair;
		last_ratio[c] = r;
	}
	return 0;
}

/* ---- white balance (step 6) ---- */

static void write_wb(img_work_frame_ctx *w, int c, const uint32_t g[5])
{
	img_dsp_wb_gain wb = {g[0], g[1], g[2], g[3], g[4]};
	w->mode->ContextId = (uint8_t)c;
	vors_img_dsp_set_wb_gain(w->fd, w->mode, &wb);
}

static bool sensor_form(uint32_t m)
{
	return m == 3 || m == 4 || m == 6 || m == 8;
}

static void wb_hdr_form(img_work_frame_ctx *w, int c)
{
	img_hdr_frame_settings *fs = &w->fs[c];
	if (!fs->gains_changed)
		return;
	const uint32_t *g = fs->wb_gain;
	cfa_gain[c] = (uint32_t)((uint64_t)g[4] * g[3] >> 12);
	if (sensor_form(info_of(c)->hdr_method)) {
		const uint32_t ik[5] = {UNITY, UNITY, UNITY, g[3], g[4]};
		const uint32_t ratio[3] = {g[0] >> 2, g[1] >> 2, g[2] >> 2};
		write_wb(w, c, ik);
		hal_set_dgain_ratio(w->fd, ratio, c);
	} else {
		write_wb(w, c, g);
	}
	fs->gains_changed = 0;
}

static void wb_block_form(img_work_frame_ctx *w, int c)
{
	cl_aaa_block *b = &w->blocks[c];
	cl_aaa_exposure *e = &b->expo[0];
	if (!b->wb_update && !e->dgain_changed)
		return;
	if (e->dgain_changed) {
		ae_gain[c] = e->dgain;
		e->dgain_changed = 0;
		cfa_gain[c] = (uint32_t)((uint64_t)ae_gain[c] * UNITY >> 12);
	}
	if (b->wb_update) {
		uint32_t m = info_of(c)->hdr_method;
		if (m == 3 || m == 6) {
			const uint32_t ratio[3] = {b->wb_r_gain, b->wb_g_gain, b->wb_b_gain};
			hal_set_dgain_ratio(w->fd, ratio, c);
			ik_gain[c][0] = ik_gain[c][1] = ik_gain[c][2] = UNITY;
		} else {
			ik_gain[c][0] = b->wb_r_gain * 4;
			ik_gain[c][1] = b->wb_g_gain * 4;
			ik_gain[c][2] = b->wb_b_gain * 4;
		}
		b->wb_update = 0;
	}
	const uint32_t g[5] = {ik_gain[c][0], ik_gain[c][1], ik_gain[c][2], ae_gain[c], UNITY};
	write_wb(w, c, g);
}

static bool hdr_form(const channel_info *ci)
{
	return ci->dsp_hdr || ci->hdr_method == 4 || ci->hdr_method == 8;
}

/* ---- iris, shutter and gain (step 8) ---- */

static int frames_of(const channel_info *ci)
{
	int e = ci->hdr_method == 4 ? 2 : ci->hdr_method == 6 ? 3 : (int)(ci->expo_num & 0xff);
	return e > CL_AAA_EXPOSURES ? CL_AAA_EXPOSURES : e;
}

static int32_t last_iris_index = -1;
static int32_t last_iris_result = -1;

static void iris_step(img_work_frame_ctx *w, int c)
{
	cl_aaa_exposure *e = &w->blocks[c].expo[0];
	if (!e->iris_flag)
		return;
	const img_lens_driver *lens = img_lens_active_driver();
	int rc = lens->set_iris ? lens->set_iris(e->iris) : -1;
	if (w->print)
		printf("[MAIN]>>>t=%d,set iris:%d\n", (int)w->frame, (int)e->iris);
	/* Cleared whether or not a lens took it: a flag left set holds every
	 * later exposure decision of the channel. */
	e->iris_flag = 0;
	__atomic_store_n(&last_iris_index, (int32_t)e->iris, __ATOMIC_RELAXED);
	__atomic_store_n(&last_iris_result, rc, __ATOMIC_RELAXED);
	uint32_t state = 0;
	if (lens->get_iris_state && lens->get_iris_state(&state) == 0 && w->print)
		printf("[MAIN]>>>iris_state =%d\n", (int)state);
}

void img_work_get_iris(int32_t *index, int32_t *result)
{
	*index = __atomic_load_n(&last_iris_index, __ATOMIC_RELAXED);
	*result = __atomic_load_n(&last_iris_result, __ATOMIC_RELAXED);
}

static void sensor_step(img_work_frame_ctx *w, int c)
{
	cl_aaa_block *b = &w->blocks[c];
	int e = frames_of(info_of(c));
	bool changed = false;
	hal_sht_agc rec = {(uint32_t)e, {0}, {0}};
	for (int i = 0; i < e; i++) {
		cl_aaa_exposure *x = &b->expo[i];
		changed = changed || x->shutter_changed || x->agc_changed;
		x->shutter_changed = x->agc_changed = 0;
		rec.shutter[i] = x->shutter;
		rec.agc[i] = x->agc;
	}
	if (changed)
		hal_set_pending_sht_agc(w->fd, &rec, c);
}

/* ---- focus (step 9) and filters (steps 10, 11) ---- */

static void focus_step(img_work_frame_ctx *w)
{
	if (!w->af_cfg || af_get_instance_num() <= 0)
		return;
	const img_lens_driver *lens = img_lens_active_driver();
	uint32_t focus = 0, zoom = 0;
	if (lens->focus_state)
		lens->focus_state(&focus);
	if (lens->zoom_state)
		lens->zoom_state(&zoom);
	int skip = (focus || zoom) ? 1 : 0;
	if (img_lib_hook(IMG_AAA_HOOK_AF_RUN))
		img_lib_custom_af_run(w);
	else
		af_run(w->af_cfg, w->stats, w->blocks, skip);
	if (w->wake_lens && w->wake_lens() != 0)
		printf("cond error\n");
}

static void transmit(img_work_frame_ctx *w, int c, uint32_t id)
{
	filter_state *st = img_adj_filter_state(c, id);
	void *block = img_adj_filter_block(c, id);
	if (!st || !block)
		return;
	w->mode->ContextId = (uint8_t)c;
	img_adj_transmit(st, block, w->fd, w->mode);
}

static void filter_step(img_work_frame_ctx *w)
{
	int n = chan_count();
	int32_t index[IMG_MAX_CHANNELS] = {0};
	for (int c = 0; c < n; c++) {
		index[c] = img_work_adj_index(c);
		img_hist_level(&w->stats->chan[c], index[c], c);
	}
	img_adaptive_pass(index, n);
	img_adj_run_filters(w->fd, w->mode, index, w->blocks);
	uint32_t tone[IMG_MAX_CHANNELS] = {0}, service[IMG_MAX_CHANNELS] = {0}, le[IMG_MAX_CHANNELS] = {0};
	img_adj_get_auto_tone(tone);
	img_adj_get_service_flag(service);
	img_adj_le_get_enable(le);
	img_adj_refresh_filter(FILTER_CE_LOG);
	for (int c = 0; c < n; c++) {
		if (tone[c]) {
			void *block = img_adj_filter_block(c, FILTER_TONE);
			if (block &&
			    img_adj_auto_tone_curve(&w->stats->chan[c], (img_dsp_tone_curve *)block, c) == 0)
				transmit(w, c, FILTER_TONE);
		}
		bool dsp_le = info_of(c)->dsp_hdr && service[c];
		if (dsp_le || le[c]) {
			void *block = img_adj_filter_block(c, FILTER_LE);
			if (block &&
			    img_adj_le_update((img_dsp_local_exposure *)block, &w->stats->chan[c], c) > 0)
				transmit(w, c, FILTER_LE);
		}
	}
}

static void af_stat_step(img_work_frame_ctx *w)
{
	for (int c = 0; c < chan_count(); c++) {
		af_output *out = (af_output *)w->blocks[c].af_out;
		if (!out->stat_request)
			continue;
		const channel_info *ci = info_of(c);
		img_dsp_mode m = *w->mode;
		m.ContextId = (uint8_t)c;
		m.FuncMode = ci->yuv ? 16 : ci->dsp_hdr ? 8 : 0;
		img_dsp_af_statistics_ex rec;
		memset(&rec, 0, sizeof rec);
		memcpy(&rec, out->lens_ctrl, sizeof out->lens_ctrl);
		vors_img_dsp_set_af_statistics_ex(w->fd, &m, &rec);
		out->stat_request = 0;
	}
}

/* A registered frame-loop hook replaces its built-in step while the custom
 * 3A switch is on. */
static bool hooked(const img_work_frame_ctx *w, int index)
{
	img_aaa_hook h = img_lib_hook(index);
	if (!w->custom || !h)
		return false;
	h((void *)w);
	return true;
}

int img_work_frame(img_work_frame_ctx *w)
{
	if (!w || !w->stats || !w->blocks || !w->fs || !w->mode || !w->hdr_mode)
		return -1;
	int n = chan_count();
	if (!hooked(w, 0)) {
		ae_run(w->stats, w->blocks);
		ae_check_exposure(w->stats, w->blocks);
	}
	for (int c = 0; c < n; c++)
		img_hdr_get_blend_config(&w->pair[c], c);
	if (!hooked(w, 1))
		img_work_hdr_ratio_step(w);
	for (int c = 0; c < n; c++) {
		uint32_t f = info_of(c)->follow_chan;
		if (f == (uint32_t)c || f >= (uint32_t)n)
			continue;
		w->pair[c] = w->pair[f];
		memcpy(w->blocks[c].expo, w->blocks[f].expo, sizeof w->blocks[c].expo);
	}
	uint32_t enable[AE_MAX_INSTANCES] = {0};
	ae_get_enable(enable);
	for (int c = 0; c < n; c++) {
		img_ratio_limits lim;
		img_get_ratio_limits_in_effect(c, &lim);
		if (!info_of(c)->dsp_hdr || !lim.mode || !enable[c])
			continue;
		img_hdr_blend_config bc = {(uint16_t)(w->pair[c] & 0xffff), (uint16_t)(w->pair[c] >> 16)};
		img_hdr_set_shutter_ratio(&bc, c);
	}
	if (!hooked(w, 2))
		awb_run_instances(w->stats, w->blocks);
	img_hdr_process_frame(w->fs, w->blocks, w->stats);
	for (int c = 0; c < n; c++) {
		if (hdr_form(info_of(c)))
			wb_hdr_form(w, c);
		else
			wb_block_form(w, c);
	}
	parse_aaa_set_cfa_gain(cfa_gain);
	for (int c = 0; c < n; c++) {
		const channel_info *ci = info_of(c);
		if (!hdr_form(ci))
			continue;
		img_dsp_mode *m = ci->dsp_hdr ? w->hdr_mode : w->mode;
		const uint8_t flags[2] = {1, (uint8_t)(img_hdr_sends_pending(c) > 0)};
		m->ContextId = (uint8_t)c;
		img_hdr_set_dsp_config(w->fd, m, &w->fs[c], flags);
	}
	for (int c = 0; c < n; c++) {
		if (!info_of(c)->sensor_ctrl)
			continue;
		iris_step(w, c);
		sensor_step(w, c);
	}
	if (!hooked(w, 3))
		focus_step(w);
	if (!hooked(w, 4))
		filter_step(w);
	af_stat_step(w);
	w->frame++;
	return 0;
}

void img_work_frame_reset(void)
{
	memset(last_ratio, 0, sizeof last_ratio);
	memset(countdown, 0, sizeof countdown);
	for (int c = 0; c < IMG_MAX_CHANNELS; c++) {
		ae_gain[c] = cfa_gain[c] = UNITY;
		ik_gain[c][0] = ik_gain[c][1] = ik_gain[c][2] = UNITY;
	}
	last_iris_index = last_iris_result = -1;
}

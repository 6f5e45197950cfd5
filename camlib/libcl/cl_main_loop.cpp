#include "cl_main_loop.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "aaa_parser.h"
#include "awb.h"
#include "cl_log.h"
#include "hal_vin.h"
#include "img_adj_filter.h"
#include "img_adj_settings.h"
#include "img_algo_pending.h"
#include "img_channel.h"
#include "img_dsp_raw.h"
#include "img_hdr_params.h"
#include "qvd_ioctl.h"

#define CL_WB_UNITY 1024u
#define CL_DGAIN_UNITY 4096u
#define CL_WB_UPDATE_FRAMES 60u
#define CL_FILTER_TONE 10u
#define CL_FILTER_BCS 11u
#define CL_FILTER_BW 12u
#define CL_AWB_SPEED_HDR 190u
#define CL_AWB_SPEED 164u

#define CL_LENS_GRID 33u
#define CL_LENS_PLANE_BYTES (CL_LENS_GRID * CL_LENS_GRID * 2u)
#define CL_LENS_TABLE_BYTES (4u * CL_LENS_PLANE_BYTES)

/* Where the initial exposure lies in the sensor record of a channel's 3A
 * configuration block. */
#define CL_SENSOR_LINEAR_SHUTTER 12u
#define CL_SENSOR_LINEAR_AGC 16u
#define CL_SENSOR_SEQ_SHUTTER 20u
#define CL_SENSOR_SEQ_AGC 24u
#define CL_SENSOR_SEQ_COUNT 32u

static_assert(AAA_STAT_AREA_SIZE == 410640u, "statistics area");
static_assert(CL_LENS_TABLE_BYTES == 8712u, "lens-shading table");

namespace
{

/* Everything the loop touches per frame is static: a frame allocates
 * nothing. */
struct frame_loop {
	uint8_t stat_area[AAA_STAT_AREA_SIZE];
	aaa_stat_desc desc;
	cl_aaa_block blocks[CL_MAX_VINS];
	uint32_t global_dgain[CL_MAX_VINS];
	uint32_t saved_gains[3];
	uint8_t coring_requested[CL_MAX_VINS];
	uint32_t frame;
	bool awb_speed_pending;
	std::atomic<uint32_t> frames_done;
	pthread_t thread;
	bool thread_valid;
	int fd;
};

frame_loop &loop(void)
{
	static frame_loop *l = [] {
		frame_loop *p = new frame_loop();
		for (uint32_t &g : p->saved_gains)
			g = CL_WB_UNITY;
		for (uint32_t &g : p->global_dgain)
			g = CL_DGAIN_UNITY;
		return p;
	}();
	return *l;
}

/* The image kernel reads each plane as whole words, two bytes past the
 * last plane's end: the pad keeps that read inside the buffer. */
uint8_t lens_table[CL_LENS_TABLE_BYTES + 4];

int vin_count(const customerloop_state &s)
{
	return s.vin_count < CL_MAX_VINS ? s.vin_count : CL_MAX_VINS;
}

img_dsp_mode mode_for(const img_dsp_mode &base, int c)
{
	img_dsp_mode m = base;
	m.ContextId = (uint8_t)c;
	return m;
}

bool sensor_balanced(uint32_t method)
{
	return method == 3 || method == 4 || method == 6 || method == 8;
}

bool hdr_form(const channel_info &info)
{
	return info.dsp_hdr != 0 || info.hdr_method == 4;
}

/* A channel counts as changed when its context took anything since it was
 * last posted, or the HDR module still has settings for it. */
bool channel_changed(int c)
{
	return vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_VIDEO, (uint8_t)c) > 0 ||
	       img_hdr_sends_pending(c) > 0;
}

void config_stats(customerloop_state &s, int fd, uint32_t on)
{
	cl_frame_inputs &in = cl_frame_inputs_get();
	for (int c = 0; c < vin_count(s); c++) {
		img_dsp_mode m = mode_for(s.main_mode, c);
		m.FuncMode = s.channel[c].info.dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
		vors_img_dsp_3a_config_aaa_stat(fd, on, &m, &in.ae_tile[c], &in.awb_tile[c], &in.af_tile[c]);
	}
}

uint32_t read_u32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

/* The sensor record holds no exposure in this system (its fields start at
 * zero): a channel without one keeps the sensor's own until the first
 * request rather than being sent a zero shutter. Returns the sequence
 * length, or -1 for nothing to send. */
int initial_exposure(const customerloop_state &s, int c, qvd_vin_sht_agc_seq *seq)
{
	const channel_info &info = s.channel[c].info;
	const uint8_t *rec = cl_frame_inputs_get().aaa_cfg[c] + IMG_AAA_SENSOR_AT;
	memset(seq, 0, sizeof *seq);
	seq->source_id = info.vsrc_id;
	if (!info.dsp_hdr && info.hdr_method != 4) {
		seq->shutter[0] = read_u32(rec + CL_SENSOR_LINEAR_SHUTTER);
		seq->agc[0] = read_u32(rec + CL_SENSOR_LINEAR_AGC);
		return seq->shutter[0] ? 0 : -1;
	}
	bool any = false;
	for (int i = 0; i < 4; i++) {
		seq->shutter[i] = rec[CL_SENSOR_SEQ_SHUTTER + i];
		seq->agc[i] = rec[CL_SENSOR_SEQ_AGC + i];
		seq->dgain[i] = rec[CL_SENSOR_SEQ_AGC + i];
		any = any || seq->shutter[i];
	}
	return any ? rec[CL_SENSOR_SEQ_COUNT] : -1;
}

void send_initial_exposures(customerloop_state &s, int fd)
{
	qvd_apply_seq counts = {};
	bool sent = false;
	for (int c = 0; c < vin_count(s); c++) {
		if (!s.channel[c].info.sensor_ctrl)
			continue;
		qvd_vin_sht_agc_seq seq;
		int n = initial_exposure(s, c, &seq);
		if (n < 0)
			continue;
		if (ioctl(fd, QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ, &seq) < 0) {
			perror("QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ error");
			return;
		}
		counts.count[c] = (uint32_t)n;
		sent = true;
	}
	if (sent && ioctl(fd, QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI, &counts) < 0)
		printf("QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI error\n");
}

/* The statistics mutex covers the parse only: the fetch waits for the DSP
 * for most of a frame, and the daemon's readers must not wait with it. */
bool fetch_and_parse(customerloop_state &s, frame_loop &l, int fd)
{
	if (hal_get_aaa_stat(fd, &l.desc) != 0) {
		printf("vors_img_dsp_3a_get_aaa_stat fail\n");
		return false;
	}
	channel_info info[CL_MAX_VINS];
	{
		std::lock_guard<std::mutex> lk(s.settings_mu);
		for (int c = 0; c < CL_MAX_VINS; c++)
			info[c] = s.channel[c].info;
	}
	std::lock_guard<std::mutex> lk(s.stats_mu);
	if (parse_aaa_data(&l.desc, info, &s.parsed) != 0) {
		printf("parse_aaa_data fail\n");
		return false;
	}
	return true;
}

/* The initial speed for every channel served: one table entry a channel. */
void set_initial_awb_speed(customerloop_state &s)
{
	uint8_t speeds[CL_MAX_VINS] = {};
	uint32_t mask = 0;
	for (int c = 0; c < vin_count(s); c++) {
		speeds[c] = s.channel[c].info.hdr_method == 4 ? CL_AWB_SPEED_HDR : CL_AWB_SPEED;
		mask |= 1u << c;
	}
	(void)awb_set_speed_by_mask(speeds, mask);
}

void send_exposures(customerloop_state &s, frame_loop &l, int fd)
{
	for (int c = 0; c < vin_count(s); c++) {
		const channel_info &info = s.channel[c].info;
		if (!info.sensor_ctrl)
			continue;
		uint32_t e = info.hdr_method == 4 ? 2 : info.hdr_method == 6 ? 3 : info.expo_num & 0xff;
		if (e > CL_AAA_EXPOSURES)
			e = CL_AAA_EXPOSURES;
		hal_sht_agc rec = {};
		rec.expo_num = e;
		bool changed = false;
		for (uint32_t i = 0; i < e; i++) {
			cl_aaa_exposure &x = l.blocks[c].expo[i];
			changed = changed || x.shutter_changed || x.agc_changed;
			x.shutter_changed = 0;
			x.agc_changed = 0;
			rec.shutter[i] = x.shutter;
			rec.agc[i] = x.agc;
		}
		if (changed)
			(void)img_set_pending_sht_agc(fd, &rec, c);
	}
}

void set_wb(int fd, const img_dsp_mode &m, uint32_t r, uint32_t g, uint32_t b, uint32_t ae, uint32_t dg)
{
	img_dsp_wb_gain wb = {r, g, b, ae, dg};
	(void)vors_img_dsp_set_wb_gain(fd, &m, &wb);
}

void apply_wb_linear(customerloop_state &s, frame_loop &l, int fd, int c)
{
	cl_aaa_block &b = l.blocks[c];
	if (!b.wb_update)
		return;
	img_dsp_mode m = mode_for(s.main_mode, c);
	if (sensor_balanced(s.channel[c].info.hdr_method)) {
		set_wb(fd, m, CL_DGAIN_UNITY, CL_DGAIN_UNITY, CL_DGAIN_UNITY, CL_DGAIN_UNITY, CL_DGAIN_UNITY);
		const uint32_t ratio[3] = {b.wb_r_gain, b.wb_g_gain, b.wb_b_gain};
		(void)hal_set_dgain_ratio(fd, ratio, c);
	} else {
		set_wb(fd, m, b.wb_r_gain * 4, b.wb_g_gain * 4, b.wb_b_gain * 4, CL_DGAIN_UNITY,
		       CL_DGAIN_UNITY);
	}
	l.global_dgain[c] = CL_DGAIN_UNITY;
	b.wb_update = 0;
}

void apply_wb_hdr(customerloop_state &s, frame_loop &l, int fd, int c)
{
	img_hdr_frame_settings &fs = cl_frame_inputs_get().hdr_fs[c];
	if (!fs.gains_changed)
		return;
	uint32_t ae = fs.wb_gain[3], dg = fs.wb_gain[4];
	l.global_dgain[c] =
	    s.global_dgain_pending ? (uint32_t)s.global_dgain : (uint32_t)(((uint64_t)dg * ae) >> 12);
	img_dsp_mode m = mode_for(s.main_mode, c);
	if (sensor_balanced(s.channel[c].info.hdr_method)) {
		set_wb(fd, m, CL_DGAIN_UNITY, CL_DGAIN_UNITY, CL_DGAIN_UNITY, ae, dg);
		const uint32_t ratio[3] = {fs.wb_gain[0] >> 2, fs.wb_gain[1] >> 2, fs.wb_gain[2] >> 2};
		(void)hal_set_dgain_ratio(fd, ratio, c);
	} else {
		set_wb(fd, m, fs.wb_gain[0], fs.wb_gain[1], fs.wb_gain[2], ae, dg);
	}
	fs.gains_changed = 0;
}

void apply_wb(customerloop_state &s, frame_loop &l, int fd)
{
	for (int c = 0; c < vin_count(s); c++) {
		if (s.user_wb_flow) {
			l.blocks[c].wb_r_gain = s.user_wb[0];
			l.blocks[c].wb_g_gain = s.user_wb[1];
			l.blocks[c].wb_b_gain = s.user_wb[2];
		} else if (s.channel[c].aaa_state[1]) {
			continue;
		}
		if (hdr_form(s.channel[c].info))
			apply_wb_hdr(s, l, fd, c);
		else
			apply_wb_linear(s, l, fd, c);
	}
}

void send_hdr_settings(customerloop_state &s, int fd)
{
	cl_frame_inputs &in = cl_frame_inputs_get();
	for (int c = 0; c < vin_count(s); c++) {
		const channel_info &info = s.channel[c].info;
		if (!info.dsp_hdr && info.hdr_method != 4)
			continue;
		img_dsp_mode m = mode_for(info.dsp_hdr ? s.hdr_mode : s.main_mode, c);
		const uint8_t flags[2] = {1, (uint8_t)channel_changed(c)};
		(void)img_set_hdr_dsp_config(fd, &m, &in.hdr_fs[c], flags);
	}
}

void run_filters(customerloop_state &s, frame_loop &l, int fd)
{
	int32_t index[CL_MAX_VINS] = {};
	for (int c = 0; c < CL_MAX_VINS; c++)
		index[c] = (int32_t)s.channel[c].adj_index;
	(void)img_adj_run_filters(fd, &s.main_mode, index, l.blocks);
}

// ---------------------------------------------------------------------------
// Settings callers left pending, applied in a fixed order.
// ---------------------------------------------------------------------------
const char kApplyFn[] = "cl_apply_filters";

/* A coring the user never asked for leaves the tuning's value alone; once
 * asked for, it is held against the filters' rewrites. */
void apply_coring(customerloop_state &s, frame_loop &l, int fd, int c, const img_dsp_mode &m)
{
	cl_channel &ch = s.channel[c];
	if (ch.coring_pending)
		l.coring_requested[c] = 1;
	if (!l.coring_requested[c])
		return;
	img_dsp_sharpen_coring block;
	if (vors_img_dsp_get_final_sharpen_noise_sharpen_coring(&m, &block) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: get sharpen coring failed\n", kApplyFn);
	} else if (ch.coring_pending || block.coring_mul_fractional_bits != (uint8_t)ch.coring) {
		block.coring_mul_fractional_bits = (uint8_t)ch.coring;
		if (vors_img_dsp_set_final_sharpen_noise_sharpen_coring(fd, &m, &block) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set sharpen coring failed\n", kApplyFn);
	}
	ch.coring_pending = 0;
}

void apply_chroma(customerloop_state &s, int fd, int c, const img_dsp_mode &m)
{
	cl_channel &ch = s.channel[c];
	if (!ch.chroma_pending || ch.bw_mode)
		return;
	img_dsp_chroma_scale block = {};
	block.Enb = (uint8_t)ch.chroma_enable;
	memcpy(block.GainCurve, ch.chroma_gain, sizeof block.GainCurve);
	if (vors_img_dsp_set_chroma_scale(fd, &m, &block) < 0)
		cl_log(LOG_ERR, "ERROR: %s: set chroma scale failed\n", kApplyFn);
	ch.chroma_pending = 0;
}

void apply_tone(customerloop_state &s, int fd, int c, const img_dsp_mode &m)
{
	cl_channel &ch = s.channel[c];
	if (ch.tone_curve_mode_pending) {
		if (img_adj_set_filter_mode((int8_t)ch.tone_curve_mode, CL_FILTER_TONE, c) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set filter mode ADJ_TONE failed\n", kApplyFn);
		ch.tone_curve_mode_pending = 0;
	}
	if (ch.tone_curve_pending) {
		img_dsp_tone_curve block;
		memcpy(block.ToneCurveRed, ch.tone_curve[0], sizeof block.ToneCurveRed);
		memcpy(block.ToneCurveGreen, ch.tone_curve[1], sizeof block.ToneCurveGreen);
		memcpy(block.ToneCurveBlue, ch.tone_curve[2], sizeof block.ToneCurveBlue);
		if (vors_img_dsp_set_tone_curve(fd, &m, &block) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set tone curve failed\n", kApplyFn);
		ch.tone_curve_pending = 0;
	}
	if (ch.ce_pending) {
		img_dsp_contrast_enhance block;
		static_assert(sizeof block == CL_CE_BLOCK_SIZE, "contrast-enhancement block");
		memcpy(&block, ch.ce_block, sizeof block);
		if (vors_img_dsp_set_contrast_enhance(fd, &m, &block) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set ce failed\n", kApplyFn);
		ch.ce_pending = 0;
	}
	if (ch.le_pending) {
		img_dsp_local_exposure block;
		memcpy(&block, ch.le_params, sizeof ch.le_params);
		memcpy(block.GainCurveTable, ch.le_curve, sizeof block.GainCurveTable);
		if (vors_img_dsp_set_local_exposure(fd, &m, &block) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set le failed\n", kApplyFn);
		ch.le_pending = 0;
	}
}

/* One of the pipeline's per-channel settings: the value goes in this
 * channel's slot, the mask names the channel alone. */
template <typename T> int set_one(int (*setter)(const T *, uint32_t), int c, T value)
{
	T v[CL_MAX_VINS] = {};
	v[c] = value;
	return setter(v, 1u << c);
}

void apply_levels(customerloop_state &s, int c)
{
	cl_channel &ch = s.channel[c];
	if (ch.bw_mode_pending) {
		if (set_one(img_adj_set_bw_mode, c, ch.bw_mode) < 0) {
			cl_log(LOG_ERR, "ERROR: %s: set bw failed on channel %d\n", kApplyFn, c);
		} else {
			img_adj_refresh_filter(CL_FILTER_BW);
			img_adj_set_update_flags();
		}
		ch.bw_mode_pending = 0;
	}
	struct level {
		uint8_t cl_channel::*pending;
		int32_t cl_channel::*value;
		int (*setter)(const int32_t *, uint32_t);
		const char *failure;
	};
	static const level levels[] = {
	    {&cl_channel::brightness_pending, &cl_channel::brightness, img_adj_set_brightness,
	     "ERROR: %s: Failed to set brightness values!\n\n"},
	    {&cl_channel::saturation_pending, &cl_channel::saturation, img_adj_set_saturation,
	     "ERROR: %s: Failed to set saturation values!\n\n"},
	    {&cl_channel::sharpness_level_pending, &cl_channel::sharpness_level, img_adj_set_sharpness_level,
	     "ERROR: %s: Failed to set sharpness_level values!\n\n"},
	};
	for (const level &lv : levels) {
		if (!(ch.*lv.pending))
			continue;
		if (set_one(lv.setter, c, ch.*lv.value) < 0)
			cl_log(LOG_ERR, lv.failure, kApplyFn);
		img_adj_refresh_filter(CL_FILTER_BCS);
		ch.*lv.pending = 0;
	}
}

/* A linear channel takes the static black level, an HDR one the level of
 * each of its first two exposures; the other form's flag goes with it, as
 * one request set both. */
void apply_black_level(customerloop_state &s, int fd, int c, const img_dsp_mode &m)
{
	cl_channel &ch = s.channel[c];
	img_dsp_static_black_level blc = {(int16_t)ch.black_level[0], (int16_t)ch.black_level[1],
	                                  (int16_t)ch.black_level[2], (int16_t)ch.black_level[3]};
	if (s.expo_num == 1) {
		if (ch.black_level_pending && vors_img_dsp_set_static_black_level(fd, &m, &blc) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set static blc failed\n", kApplyFn);
	} else if (ch.black_level_hdr_pending) {
		uint32_t n = s.expo_num < 2 ? s.expo_num : 2;
		for (uint32_t i = 0; i < n; i++)
			if (vors_img_dsp_set_hdr_static_black_level(fd, &m, &blc, (int32_t)i) < 0)
				cl_log(LOG_ERR, "ERROR: %s: set hdr static blc failed\n", kApplyFn);
	}
	ch.black_level_pending = 0;
	ch.black_level_hdr_pending = 0;
}

void apply_hdr_blend(customerloop_state &s, int fd, int c, const img_dsp_mode &m)
{
	cl_channel &ch = s.channel[c];
	if (ch.alpha_table_pending && s.expo_num != 1) {
		img_dsp_hdr_alpha_calc_alpha alpha = {};
		alpha.alpha_table_addr = (uint64_t)(uintptr_t)s.alpha_table;
		alpha.saturation_num_nei = 4;
		uint32_t n = s.expo_num - 1 < 2 ? s.expo_num - 1 : 2;
		for (uint32_t i = 0; i < n; i++)
			if (vors_img_dsp_set_hdr_alpha_calc_alpha(fd, &m, &alpha, (int32_t)i) < 0)
				cl_log(LOG_ERR, "ERROR: %s: Failed to set hdr_alpha_table!\n\n", kApplyFn);
	}
	ch.alpha_table_pending = 0;
	if (ch.custom_luma_pending) {
		img_dsp_hdr_alpha_calc_cfg cfg = {0, 1, -2, 0, 4, 4, 4, 4};
		if (vors_img_dsp_set_hdr_alpha_calc_cfg(fd, &m, &cfg, 0) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set hdr alpha calc cfg failed\n", kApplyFn);
		ch.custom_luma_pending = 0;
	}
}

void cl_apply_filters(customerloop_state &s, frame_loop &l, int fd)
{
	for (int c = 0; c < vin_count(s); c++) {
		img_dsp_mode m = mode_for(s.main_mode, c);
		apply_coring(s, l, fd, c, m);
		apply_chroma(s, fd, c, m);
		apply_tone(s, fd, c, m);
		apply_levels(s, c);
		apply_black_level(s, fd, c, m);
		apply_hdr_blend(s, fd, c, m);
	}
}

/* The frame's work after the statistics, under the settings mutex. The
 * exchange records are worked on as one array, as the 3A modules take
 * them, and stored back at the end. */
void run_frame_locked(customerloop_state &s, frame_loop &l, int fd)
{
	int n = vin_count(s);
	for (int c = 0; c < n; c++)
		l.blocks[c] = s.channel[c].aaa;
	if (!s.channel[0].aaa_state[1])
		(void)awb_run_instances(&cl_state().parsed, l.blocks);
	if (l.awb_speed_pending) {
		set_initial_awb_speed(s);
		l.awb_speed_pending = false;
	}
	if (l.frame % CL_WB_UPDATE_FRAMES == 0)
		l.blocks[0].wb_update = 1;
	(void)img_hdr_process_frame(cl_frame_inputs_get().hdr_fs, l.blocks, &cl_state().parsed);
	send_exposures(s, l, fd);
	apply_wb(s, l, fd);
	(void)parse_aaa_set_cfa_gain(l.global_dgain);
	send_hdr_settings(s, fd);
	run_filters(s, l, fd);
	cl_apply_filters(s, l, fd);
	for (int c = 0; c < n; c++)
		s.channel[c].aaa = l.blocks[c];
	(void)cl_post_cfg(fd, CL_POST_CHANGED);
	(void)cl_apply_pending_cfg(fd);
	l.frame++;
	l.frames_done.store(l.frame, std::memory_order_release);
}

void *cus_main_loop(void *arg)
{
	int fd = (int)(intptr_t)arg;
	customerloop_state &s = cl_state();
	cl_main_loop_begin(fd);
	while (!s.stop_request)
		(void)cl_main_loop_frame(fd);
	cl_main_loop_end(fd);
	return nullptr;
}

} // namespace

cl_frame_inputs &cl_frame_inputs_get(void)
{
	static cl_frame_inputs *in = new cl_frame_inputs();
	return *in;
}

int cl_post_cfg(int fd, int mode)
{
	customerloop_state &s = cl_state();
	channel_info info[CL_MAX_VINS];
	uint32_t ids[CL_MAX_VINS], post[CL_MAX_VINS];
	int n = vin_count(s);
	for (int c = 0; c < n; c++) {
		info[c] = s.channel[c].info;
		ids[c] = s.channel[c].config_id;
		post[c] = s.channel[c].post_enable;
	}
	int rc = img_post_channel_cfgs(fd, mode == CL_POST_ALL ? IMG_POST_ALL : IMG_POST_CHANGED, info, n,
	                               ids, post);
	for (int c = 0; c < n; c++)
		s.channel[c].config_id = ids[c];
	return rc;
}

void cl_wait_idsp_frames(int fd, int n)
{
	for (int i = 0; i < n; i++)
		(void)ioctl(fd, QVD_IOC_WAIT_NEXT_IDSP_FRAME, (unsigned long)0xffff);
}

#define CL_RATIO_ENTRIES 128
#define CL_RATIO_STEP 16

int cl_ratio_to_gain(const uint8_t *table, uint32_t ratio, uint32_t *gain, int chan)
{
	if (!table || !gain || !read_u32(table + 4) || !read_u32(table + 8)) {
		printf("error: chan [%d] ratio to gain convert table is not supported\n", chan);
		return -1;
	}
	const uint8_t *e = table + 24;
	if (ratio >= CL_RATIO_STEP * CL_RATIO_ENTRIES) {
		*gain = read_u32(e + 4 * (CL_RATIO_ENTRIES - 1));
		return 0;
	}
	// Entry k holds ratio 16 x (k + 1); below 16 the first two entries
	// extend their line.
	uint32_t k = ratio < CL_RATIO_STEP ? 0 : ratio / CL_RATIO_STEP - 1;
	int64_t lo = read_u32(e + 4 * k), hi = read_u32(e + 4 * (k + 1));
	int64_t at = (int64_t)ratio - (int64_t)CL_RATIO_STEP * (k + 1);
	int64_t g = lo + (hi - lo) * at / CL_RATIO_STEP;
	*gain = (uint32_t)(g < 0 ? 0 : g);
	return 0;
}

int cl_apply_pending_cfg(int fd)
{
	customerloop_state &s = cl_state();
	qvd_apply_pending rec = {QVD_APPLY_PENDING_CMD, (1u << vin_count(s)) - 1};
	if (ioctl(fd, QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &rec) < 0) {
		printf("call ioctl QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG fail\n");
		return -1;
	}
	return 0;
}

static int read_lens_table(const char *path)
{
	memset(lens_table, 0, sizeof lens_table);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to open %s: %s\n\n", "cl_apply_lens_shading", path,
		       strerror(errno));
		return -1;
	}
	ssize_t n = read(fd, lens_table, CL_LENS_TABLE_BYTES);
	int rc = -1;
	uint8_t shift = 0;
	if (n < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read lens shading from %s: %s\n\n",
		       "cl_apply_lens_shading", path, strerror(errno));
	} else if ((size_t)n != CL_LENS_TABLE_BYTES) {
		cl_log(LOG_ERR,
		       "ERROR: %s: Failed to read lens_shading from %s: got %d bytes, expected %d\n\n",
		       "cl_apply_lens_shading", path, (int)n, (int)CL_LENS_TABLE_BYTES);
	} else if ((n = read(fd, &shift, 1)) != 1) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to gain shift from %s: got %d bytes, expected %zu\n\n",
		       "cl_apply_lens_shading", path, (int)n, (size_t)1);
	} else {
		rc = shift;
	}
	close(fd);
	return rc;
}

int cl_apply_lens_shading(void)
{
	customerloop_state &s = cl_state();
	for (int i = 0; i < vin_count(s); i++) {
		if (!s.lens_shading_paths[i])
			continue;
		int shift = read_lens_table(s.lens_shading_paths[i]);
		if (shift < 0)
			continue;
		img_dsp_vignette_bypass v = {};
		v.enable = 1;
		v.gain_shift = (uint16_t)shift;
		uint32_t **planes[4] = {&v.p_red_gain, &v.p_green_even_gain, &v.p_green_odd_gain,
		                        &v.p_blue_gain};
		for (int k = 0; k < 4; k++)
			*planes[k] = (uint32_t *)(void *)(lens_table + k * CL_LENS_PLANE_BYTES);
		img_dsp_mode m = mode_for(s.main_mode, i);
		if (vors_img_dsp_set_vignette_compensation_bypass(s.qvd_fd, &m, &v) < 0)
			cl_log(LOG_ERR, "ERROR: %s: set lens shading failed on channel %d\n", __func__, i);
	}
	return 0;
}

void cl_main_loop_begin(int fd)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	if (!l.desc.rgb)
		aaa_stat_desc_layout(l.stat_area, &l.desc);
	l.frame = 0;
	l.frames_done.store(0, std::memory_order_release);
	memset(l.coring_requested, 0, sizeof l.coring_requested);
	l.awb_speed_pending = true;
	(void)awb_create_instances(cl_frame_inputs_get().aaa_cfg[0] + IMG_AAA_AWB_CFG_AT);
	{
		std::lock_guard<std::mutex> lk(s.settings_mu);
		for (int c = 0; c < CL_MAX_VINS; c++) {
			cl_aaa_block &b = s.channel[c].aaa;
			b.wb_update = 1;
			b.wb_r_gain = l.saved_gains[0];
			b.wb_g_gain = l.saved_gains[1];
			b.wb_b_gain = l.saved_gains[2];
		}
	}
	send_initial_exposures(s, fd);
}

int cl_main_loop_frame(int fd)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	if (!fetch_and_parse(s, l, fd))
		return -1;
	std::lock_guard<std::mutex> lk(s.settings_mu);
	run_frame_locked(s, l, fd);
	return 0;
}

void cl_main_loop_end(int fd)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	(void)awb_destroy_instances();
	config_stats(s, fd, 0);
	std::lock_guard<std::mutex> lk(s.settings_mu);
	const cl_aaa_block &b0 = s.channel[0].aaa;
	l.saved_gains[0] = b0.wb_r_gain;
	l.saved_gains[1] = b0.wb_g_gain;
	l.saved_gains[2] = b0.wb_b_gain;
	for (int c = 0; c < vin_count(s); c++) {
		const cl_aaa_block &b = s.channel[c].aaa;
		awb_set_pending_wb_gain(c, b.wb_r_gain, b.wb_g_gain, b.wb_b_gain);
	}
}

const aaa_parse_out *cl_main_loop_parsed(void)
{
	return &cl_state().parsed;
}

uint32_t cl_main_loop_frame_count(void)
{
	return loop().frames_done.load(std::memory_order_acquire);
}

// The start's work before the frame thread.
static void arm(int fd)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	memset(l.stat_area, 0, sizeof l.stat_area);
	aaa_stat_desc_layout(l.stat_area, &l.desc);
	config_stats(s, fd, 1);
	(void)cl_post_cfg(fd, CL_POST_ALL);
	(void)cl_apply_pending_cfg(fd);
	cl_wait_idsp_frames(fd, 2);
	if (s.lens_shading_present && cl_apply_lens_shading() != 0)
		printf("Error: failed to apply lens_shading\n");
}

static std::atomic<bool> thread_held{false};

void cl_main_loop_hold(int on)
{
	thread_held.store(on != 0);
}

int cl_main_loop_start(void)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	int fd = s.qvd_fd;
	arm(fd);
	if (thread_held.load())
		return 0;
	l.fd = fd;
	l.thread_valid = pthread_create(&l.thread, nullptr, cus_main_loop, (void *)(intptr_t)fd) == 0;
	if (l.thread_valid)
		pthread_setname_np(l.thread, "cus_main_loop");
	s.main_thread_running = l.thread_valid;
	return 0;
}

void cl_main_loop_stop(void)
{
	customerloop_state &s = cl_state();
	frame_loop &l = loop();
	if (l.thread_valid)
		pthread_join(l.thread, nullptr);
	l.thread_valid = false;
	s.main_thread_running = false;
}

#include "cl_customerloop.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cl_log.h"
#include "hal_vin.h"
#include "img_dsp_raw.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "qvd_ioctl.h"

customerloop_state &cl_state(void)
{
	static customerloop_state *s = new customerloop_state;
	return *s;
}

static void free_paths(char **paths, int *present)
{
	for (int i = 0; i < CL_MAX_VINS; i++) {
		free(paths[i]);
		paths[i] = nullptr;
	}
	*present = 0;
}

// The caller's list ends at its first NULL; at most vin_count entries.
static void copy_paths(char **dst, int *present, char **src, int32_t count)
{
	free_paths(dst, present);
	for (int i = 0; src && i < count && src[i]; i++) {
		dst[i] = strdup(src[i]);
		*present = 1;
	}
}

int cl_customerloop_init(int32_t vin_count, char **dpc_paths, char **lens_shading_paths, uint32_t)
{
	customerloop_state &s = cl_state();
	if (vin_count < 1 || vin_count > CL_MAX_VINS) {
		cl_log(LOG_ERR, "ERROR: %s: number of vins %d, should be in range [1,%d]\n", __func__,
		       vin_count, CL_MAX_VINS);
		return 0;
	}
	int fd = open(QVD_DEVICE, O_RDWR | O_CLOEXEC);
	if (fd < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to open /dev/qvd %d\n", __func__, errno);
		return 0;
	}
	s.vin_count = vin_count;
	copy_paths(s.dpc_paths, &s.dpc_present, dpc_paths, vin_count);
	copy_paths(s.lens_shading_paths, &s.lens_shading_present, lens_shading_paths, vin_count);
	s.qvd_fd = fd;
	std::lock_guard<std::mutex> lk(s.state_mu);
	s.state = CL_STATE_INITIALISED;
	return 1;
}

void cl_customerloop_deinit(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.main_thread_running) {
		s.stop_request = 1;
		cl_main_loop_stop();
	}
	// A prepared or started 3A holds the image kernel's memory: left up,
	// the next init's prepare could not bring it up again.
	if ((s.state == CL_STATE_PREPARED || s.state == CL_STATE_STARTED) && img_lib_deinit(nullptr) < 0)
		cl_log(LOG_ERR, "img_lib_deinit error!\n");
	if (s.qvd_fd >= 0 && close(s.qvd_fd) < 0)
		cl_log(LOG_ERR, "ERROR: %s: Failed to close /dev/qvd %d\n", __func__, errno);
	s.qvd_fd = -1;
	free_paths(s.dpc_paths, &s.dpc_present);
	free_paths(s.lens_shading_paths, &s.lens_shading_present);
	s.state = CL_STATE_NONE;
}

static int wrong_state(const char *fn, uint32_t state)
{
	cl_log(LOG_WARNING, "WARNING: %s: Error: In wrong state %d\n\n", fn, (int)state);
	return 0;
}

int cl_customerloop_prepare_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state == CL_STATE_STARTED)
		return wrong_state(__func__, s.state);
	if (s.state == CL_STATE_PREPARED)
		return 1;
	if (start_aaa_init() != 0)
		return 0;
	s.state = CL_STATE_PREPARED;
	return 1;
}

int cl_customerloop_start_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state != CL_STATE_PREPARED)
		return wrong_state(__func__, s.state);
	s.stop_request = 0;
	cl_main_loop_start();
	s.state = CL_STATE_STARTED;
	return 1;
}

int cl_customerloop_stop_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state != CL_STATE_STARTED)
		return wrong_state(__func__, s.state);
	s.stop_request = 1;
	cl_main_loop_stop();
	if (img_lib_deinit(nullptr) < 0)
		cl_log(LOG_ERR, "img_lib_deinit error!\n");
	s.state = CL_STATE_STOPPED;
	return 1;
}

int cl_customerloop_get_cl_state(uint32_t *state)
{
	if (!state) {
		cl_log(LOG_ERR, "ERROR: %s: state is null\n", __func__);
		return -1;
	}
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	*state = s.state;
	return 0;
}

int cl_customerloop_aaa_started(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	return s.state == CL_STATE_STARTED;
}

int cl_customerloop_do_warp(void)
{
	cl_log(LOG_ERR, "ERROR: %s: do warp not implemented\n", __func__);
	return -1;
}

int cl_customerloop_do_dptz(void)
{
	cl_log(LOG_ERR, "ERROR: %s: do dptz not implemented\n", __func__);
	return -1;
}

// The first CFA set of the channel's last parse, and the AF grid it was
// configured with.
int cl_customerloop_get_stats(int channel, libcl_stats *stats)
{
	customerloop_state &s = cl_state();
	const aaa_parse_result &p = s.parsed.chan[channel];
	const img_dsp_af_tile_cfg &af = s.channel[channel].af_tile;
	std::lock_guard<std::mutex> lk(s.stats_mu);
	static_assert(sizeof stats->cfa_hist == sizeof p.set.cfa_hist, "CFA histogram");
	static_assert(sizeof stats->cfa_hdr_hist[0] == sizeof p.prehist[0], "HDR histogram");
	memcpy(&stats->cfa_hist, &p.set.cfa_hist, sizeof stats->cfa_hist);
	memcpy(&stats->rgb_hist, &p.set.rgb_hist, sizeof stats->rgb_hist);
	memcpy(&stats->cfa_hdr_hist[0], p.prehist[0], sizeof stats->cfa_hdr_hist[0]);
	memcpy(&stats->cfa_hdr_hist[1], p.prehist[1], sizeof stats->cfa_hdr_hist[1]);
	// Every AF tile, so that a focus measure over a window of the grid
	// sums what the DSP measured.
	static_assert(sizeof p.set.cfa_af == LIBCL_AF_TILE_NUM * sizeof stats->af_tile0, "AF tiles");
	memcpy((uint8_t *)stats + offsetof(libcl_stats, af_tile0), p.set.cfa_af, sizeof p.set.cfa_af);
	uint32_t grid[4] = {af.num_col, af.num_row, af.height, af.width};
	memcpy(stats->af_grid, grid, sizeof grid);
	return 0;
}

// Asks the driver as the caller waits: no mutex, as the descriptor and the
// channel's source are the driver's own answers.
int cl_customerloop_get_vin_aaa_info(int channel, uint8_t *info)
{
	customerloop_state &s = cl_state();
	qvd_system_resource res;
	memset(&res, 0, sizeof res);
	res.query = QVD_RESOURCE_GENERIC;
	if (ioctl(s.qvd_fd, QVD_IOC_GET_SYSTEM_RESOURCE, &res) < 0) {
		cl_perror("QVD_IOC_GET_SYSTEM_RESOURCE_GENERIC\n");
		return -1;
	}
	qvd_vin_aaa_info a;
	memset(&a, 0, sizeof a);
	a.source_id = res.vin[channel].source_id;
	if (ioctl(s.qvd_fd, QVD_IOC_VIN_GET_AAAINFO, &a) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed reading aaa info %s\n\n", __func__, strerror(errno));
		return -1;
	}
	static_assert(sizeof a == sizeof(vin_aaa_info), "AAA information");
	memcpy(info, &a, sizeof a);
	return 0;
}

// A channel's block from the image kernel, the settings mutex held by the
// caller: -1 with the caller's failure line when the read fails.
template <typename Block>
static int ik_read(customerloop_state &s, int channel, int (*get)(const img_dsp_mode *, Block *), Block *out,
                   const char *fn, const char *failure)
{
	s.main_mode.ContextId = (uint8_t)channel;
	if (get(&s.main_mode, out) < 0) {
		cl_log(LOG_ERR, failure, fn);
		return -1;
	}
	return 0;
}

// The record holds two exposures after the linear words: a channel of more
// exposures fills those two.
int cl_customerloop_get_black_level(int channel, uint32_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	img_dsp_static_black_level blc;
	img_dsp_deferred_black_level deferred;
	if (ik_read(s, channel, vors_img_dsp_get_static_black_level, &blc, __func__,
	            "ERROR: %s: get static blc failed\n") != 0 ||
	    ik_read(s, channel, vors_img_dsp_get_deferred_black_level, &deferred, __func__,
	            "ERROR: %s: get deferred blc failed\n") != 0)
		return -1;
	const int16_t v[4] = {blc.BlackR, blc.BlackGr, blc.BlackGb, blc.BlackB};
	record[0] = deferred.Enb;
	bool hdr15 = s.channel[channel].aaa_info.hdr_mode == 15;
	if (!hdr15 && s.expo_num == 1) {
		for (int i = 0; i < 4; i++)
			record[1 + i] = (uint32_t)(int32_t)v[i];
		return 0;
	}
	uint32_t n = hdr15 ? 2 : s.expo_num > 2 ? 2 : s.expo_num;
	for (uint32_t e = 0; e < n; e++)
		for (int i = 0; i < 4; i++)
			record[5 + 4 * e + i] = (uint32_t)(int32_t)v[i];
	return 0;
}

// Word 0 answers the enable last stored here; the image kernel's block
// becomes the channel's copy.
int cl_customerloop_get_ce_config(int channel, uint8_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	img_dsp_contrast_enhance ce;
	if (ik_read(s, channel, vors_img_dsp_get_contrast_enhance, &ce, __func__,
	            "ERROR: %s: get ce failed\n") != 0)
		return -1;
	static_assert(sizeof ce == CL_CE_BLOCK_SIZE, "contrast-enhancement block");
	cl_ce_block_to_record((const uint8_t *)&ce, record);
	uint32_t enable = ch.ce_block[0];
	memcpy(record, &enable, 4);
	memcpy(ch.ce_block, &ce, sizeof ch.ce_block);
	return 0;
}

int cl_customerloop_get_ce_log_config(int channel, uint8_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	uint64_t cfg;
	if (img_hdr_get_ce_log_config(&cfg, channel) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read CE log values!\n\n", __func__);
		return -1;
	}
	memcpy(record, &cfg, sizeof cfg);
	return 0;
}

int cl_customerloop_set_ce_log_config(int channel, const uint8_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	img_hdr_ce_log_config cfg;
	memcpy(&cfg, record, sizeof cfg);
	if (img_hdr_set_ce_log_config(&cfg, channel) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to set CE log values!\n\n", __func__);
		return -1;
	}
	return 0;
}

int cl_customerloop_get_tc_curve(int channel, uint32_t *curve)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	img_dsp_tone_curve tc;
	if (ik_read(s, channel, vors_img_dsp_get_tone_curve, &tc, __func__, "ERROR: %s: get tc failed\n") !=
	    0)
		return -1;
	uint16_t v[768];
	static_assert(sizeof tc == sizeof v, "red, green, blue curves back to back");
	memcpy(v, &tc, sizeof v);
	for (int i = 0; i < 768; i++)
		curve[i] = v[i];
	return 0;
}

// ---------------------------------------------------------------------------
// Shutter and gain, the HDR shutter ratio and the adjustment index.
// ---------------------------------------------------------------------------
static bool split_exposure_method(uint32_t method)
{
	return method == 4 || method == 6;
}

static uint32_t clamp_gain(int64_t gain)
{
	return (uint32_t)(gain < 0 ? 0 : gain > CL_GAIN_INDEX_MAX ? CL_GAIN_INDEX_MAX : gain);
}

// A differing value replaces the stored one and raises its changed flag.
static void store_changed(uint32_t *stored, uint32_t *changed, uint32_t value)
{
	if (*stored == value)
		return;
	*stored = value;
	*changed = 1;
}

static uint32_t exposure_gain(const cl_channel &ch, uint32_t agc)
{
	uint32_t g;
	agc = clamp_gain(agc);
	if (agc >= CL_GAIN_INDEX_MAX)
		agc = CL_GAIN_INDEX_MAX - 1;
	memcpy(&g, ch.exposure_table + CL_EXPOSURE_GAIN_OFFSET + 4 * agc, 4);
	return g;
}

// One channel's exposures against each other: the ratio the HDR blend uses
// and the digital gain that evens out what the shutters cannot.
static void update_channel_ratio(customerloop_state &s, int c, double *r, double *f)
{
	cl_channel &ch = s.channel[c];
	uint32_t m = ch.info.hdr_method;
	uint32_t n = ch.info.expo_num & 0xff;
	uint32_t e = m == 4 ? 2 : m == 6 ? 3 : n;
	if (e > CL_AAA_EXPOSURES)
		e = CL_AAA_EXPOSURES;
	bool combined = m >= 4 && m <= 7;
	bool sensor_hdr = m == 1 || m == 2;
	cl_aaa_exposure *x = ch.aaa.expo;
	for (uint32_t i = 1; i < e; i++) {
		x[i].shutter_changed = 1;
		x[i].agc_changed = 1;
	}
	if (e > 1 && combined)
		x[1].shutter = x[0].shutter;
	uint64_t g[CL_AAA_EXPOSURES] = {};
	for (uint32_t i = 0; i < e; i++)
		g[i] = sensor_hdr ? 1 : exposure_gain(ch, x[i].agc);
	if (s.shutter_correction_set)
		*f *= s.shutter_correction;
	uint64_t u = ch.aaa_gain_unit;
	uint32_t skipped = 0;
	for (uint32_t i = 0; i + 1 < e; i++) {
		uint64_t num = (u * g[i]) / 6, den = (u * g[i + 1]) / 6;
		// Right after prepare these are 0: keep the ratio and digital gain.
		if (x[i + 1].shutter == 0 || den == 0) {
			skipped++;
			continue;
		}
		double gr = (float)num / (float)den;
		double sr = *f * x[i].shutter / x[i + 1].shutter;
		*r = sr * gr;
		if (sensor_hdr && *r < 1) {
			if (gr < 1) {
				x[0].shutter = (uint32_t)(x[1].shutter / gr);
			} else {
				x[0].shutter = x[1].shutter;
				x[0].agc = x[1].agc;
			}
			x[i + 1].shutter_changed = 1;
			*r = 1;
		}
		double div = x[i + 1].shutter * sr;
		if (div != 0) {
			x[i + 1].dgain =
			    (uint32_t)((int64_t)((int64_t)(x[i].dgain * (double)x[0].shutter / div) * *f));
			x[i + 1].dgain_changed = 1;
		}
	}
	if (e > 1 && skipped == e - 1)
		return;
	img_hdr_blend_config cfg = {(uint16_t)(int)(*r * 16), (uint16_t)ch.boost_factor};
	(void)img_hdr_set_shutter_ratio(&cfg, c);
}

static void update_shutter_ratio(customerloop_state &s)
{
	double r = 1.0, f = 1.0;
	for (int c = 0; c < s.vin_count && c < CL_MAX_VINS; c++) {
		uint32_t m = s.channel[c].info.hdr_method;
		if (m != 0 && m != 3 && m != 8)
			update_channel_ratio(s, c, &r, &f);
	}
}

int cl_customerloop_get_shutter_and_gain(int channel, uint32_t *sg)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	const cl_channel &ch = s.channel[channel];
	shutter_gain out;
	memcpy(&out, sg, sizeof out);
	int first = split_exposure_method(ch.info.hdr_method) ? 1 : 0;
	for (uint32_t i = 0; i < 2 && i < s.expo_num; i++) {
		out.shutter[i] = ch.aaa.expo[first + i].shutter;
		out.gain[i] = ch.aaa.expo[first + i].agc;
	}
	out.extra_gain = ch.extra_gain;
	out.dgain = ch.aaa.expo[0].dgain;
	out.boost_factor = ch.boost_factor;
	memcpy(sg, &out, sizeof out);
	return 0;
}

int cl_customerloop_set_shutter_and_gain(int channel, const uint32_t *words)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	if (ch.aaa_state[0])
		return 0;
	shutter_gain sg;
	memcpy(&sg, words, sizeof sg);
	cl_aaa_exposure *x = ch.aaa.expo;
	bool split = split_exposure_method(ch.info.hdr_method);
	int first = split ? 1 : 0;
	for (uint32_t i = 0; i < 2 && i < s.expo_num; i++) {
		store_changed(&x[first + i].shutter, &x[first + i].shutter_changed, sg.shutter[i]);
		store_changed(&x[first + i].agc, &x[first + i].agc_changed, clamp_gain((int32_t)sg.gain[i]));
	}
	if (split) {
		store_changed(&x[0].shutter, &x[0].shutter_changed, sg.shutter[0]);
		store_changed(&x[0].agc, &x[0].agc_changed,
		              clamp_gain((int64_t)(int32_t)sg.gain[0] + (int32_t)sg.extra_gain));
	}
	store_changed(&x[0].dgain, &x[0].dgain_changed, sg.dgain);
	ch.extra_gain = sg.extra_gain;
	ch.boost_factor = sg.boost_factor;
	update_shutter_ratio(s);
	return 0;
}

int cl_customerloop_update_adj_index(int channel)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	uint32_t agc = ch.aaa.expo[split_exposure_method(ch.info.hdr_method) ? 1 : 0].agc;
	ch.adj_index = ch.aaa_gain_unit * agc / 786432u + 256u;
	return 0;
}

int cl_customerloop_set_shutter_correction(int, double factor)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	s.shutter_correction = factor;
	s.shutter_correction_set = 1;
	return 0;
}

// ---------------------------------------------------------------------------
// Settings stored for the frame thread.
// ---------------------------------------------------------------------------
template <typename T>
static int store_pending(int channel, T cl_channel::*field, uint8_t cl_channel::*flag, T value)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	s.channel[channel].*field = value;
	s.channel[channel].*flag = 1;
	return 0;
}

int cl_customerloop_set_sharpness_coring(int channel, uint32_t coring)
{
	return store_pending(channel, &cl_channel::coring, &cl_channel::coring_pending, coring);
}

int cl_customerloop_enable_tone_curve(int channel, int32_t mode)
{
	return store_pending(channel, &cl_channel::tone_curve_mode, &cl_channel::tone_curve_mode_pending,
	                     mode);
}

int cl_customerloop_set_bw_mode(int channel, uint32_t mode)
{
	return store_pending(channel, &cl_channel::bw_mode, &cl_channel::bw_mode_pending, mode);
}

int cl_customerloop_set_brightness(int channel, int32_t value)
{
	return store_pending(channel, &cl_channel::brightness, &cl_channel::brightness_pending, value);
}

int cl_customerloop_set_saturation(int channel, int32_t value)
{
	return store_pending(channel, &cl_channel::saturation, &cl_channel::saturation_pending, value);
}

int cl_customerloop_set_sharpness_level(int channel, int32_t value)
{
	return store_pending(channel, &cl_channel::sharpness_level, &cl_channel::sharpness_level_pending,
	                     value);
}

int cl_customerloop_set_custom_hdr_luma_calc(int channel)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	s.channel[channel].custom_luma_pending = 1;
	return 0;
}

int cl_customerloop_set_global_dgain(int, int32_t dgain)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	s.global_dgain = dgain;
	s.global_dgain_pending = 1;
	return 0;
}

int cl_customerloop_get_bw_mode(int channel, uint32_t *mode)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	*mode = s.channel[channel].bw_mode;
	return 0;
}

int cl_customerloop_get_aaa_state(int channel, uint32_t *state)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	memcpy(state, s.channel[channel].aaa_state, sizeof s.channel[channel].aaa_state);
	return 0;
}

int cl_customerloop_set_aaa_state(int channel, const uint32_t *state)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	memcpy(s.channel[channel].aaa_state, state, sizeof s.channel[channel].aaa_state);
	return 0;
}

int cl_customerloop_get_hdr_mode(int channel, uint32_t *mode)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	*mode = s.channel[channel].aaa_info.hdr_mode;
	return 0;
}

int cl_customerloop_get_hdr_method(int channel, uint32_t *method)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	*method = s.channel[channel].info.hdr_method;
	return 0;
}

// ---------------------------------------------------------------------------
// HDR parameters: refused while the channel runs linear.
// ---------------------------------------------------------------------------
static int hdr_off(const char *fn)
{
	cl_log(LOG_WARNING, "WARNING: %s: HDR is off\n", fn);
	return -1;
}

// Copies expo_num words from `in` through the HDR module's call, and back
// into `out` for a getter.
static int hdr_words(const char *fn, int channel, const uint32_t *in, uint32_t *out,
                     int (*call)(uint32_t *, int), const char *failure)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	if (s.expo_num == 1)
		return hdr_off(fn);
	uint32_t v[CL_AAA_EXPOSURES] = {};
	uint32_t n = s.expo_num < CL_AAA_EXPOSURES ? s.expo_num : CL_AAA_EXPOSURES;
	if (in)
		memcpy(v, in, n * 4);
	if (call(v, channel) < 0) {
		cl_log(LOG_ERR, failure, fn);
		return -1;
	}
	if (out)
		memcpy(out, v, n * 4);
	return 0;
}

int cl_customerloop_set_hdr_threshold(int channel, const uint32_t *threshold)
{
	return hdr_words(
	    __func__, channel, threshold, nullptr,
	    [](uint32_t *v, int c) { return img_hdr_set_threshold(v, c); },
	    "ERROR: %s: set hdr threshold failed\n");
}

int cl_customerloop_get_hdr_threshold(int channel, uint32_t *threshold)
{
	return hdr_words(
	    __func__, channel, nullptr, threshold,
	    [](uint32_t *v, int c) { return img_hdr_get_threshold(v, c); },
	    "ERROR: %s: get hdr threshold failed\n");
}

int cl_customerloop_set_hdr_alpha_value(int channel, const uint32_t *alpha)
{
	return hdr_words(
	    __func__, channel, alpha, nullptr,
	    [](uint32_t *v, int c) { return img_hdr_set_alpha_value(v, c); },
	    "ERROR: %s: set hdr alpha failed\n");
}

int cl_customerloop_get_hdr_alpha_value(int channel, uint32_t *alpha)
{
	return hdr_words(
	    __func__, channel, nullptr, alpha,
	    [](uint32_t *v, int c) { return img_hdr_get_alpha_value(v, c); },
	    "ERROR: %s: get hdr alpha failed\n");
}

int cl_customerloop_set_hdr_boost_strength(int channel, const uint32_t *strength)
{
	return hdr_words(
	    __func__, channel, strength, nullptr,
	    [](uint32_t *v, int c) { return img_hdr_set_boost_strength(v, c); },
	    "ERROR: %s: set hdr boost failed\n");
}

int cl_customerloop_get_hdr_blend_config(int channel, uint16_t *blend)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	if (s.expo_num == 1)
		return -1;
	uint32_t pair;
	if (img_hdr_get_blend_config(&pair, channel) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: get hdr blend config failed\n", __func__);
		return -1;
	}
	uint16_t ratio = (uint16_t)(pair & 0xffff), boost = (uint16_t)(pair >> 16);
	if (s.expo_num != 0) {
		blend[0] = ratio;
		blend[1] = ratio;
	}
	blend[2] = boost;
	return 0;
}

// ---------------------------------------------------------------------------
// White balance: the user's gains and flow, read every frame.
// ---------------------------------------------------------------------------
int cl_customerloop_set_wb_gains(int, const uint32_t *gains)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	memcpy(s.user_wb, gains, sizeof s.user_wb);
	return 0;
}

int cl_customerloop_set_awb_flow(int, int32_t flow)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	s.user_wb_flow = (uint32_t)flow;
	return 0;
}

// The image kernel's gains go to the caller only: reading them into the
// user gains would reapply them, scaled, on the next frame.
int cl_customerloop_get_wb_gains(int channel, uint32_t *gains)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	img_dsp_wb_gain wb = {};
	s.main_mode.ContextId = (uint8_t)channel;
	if (vors_img_dsp_get_wb_gain(&s.main_mode, &wb) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: get wb failed\n", __func__);
		return -1;
	}
	gains[0] = wb.GainR;
	gains[1] = wb.GainG;
	gains[2] = wb.GainB;
	gains[4] = (uint32_t)s.global_dgain;
	return 0;
}

int cl_customerloop_get_sensor_wb_gains(int channel, uint32_t *gains)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	uint32_t ratio[3];
	if (hal_get_dgain_ratio(s.qvd_fd, ratio, channel) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: get sensor wb failed\n", __func__);
		return -1;
	}
	memcpy(gains, ratio, sizeof ratio);
	return 0;
}

// ---------------------------------------------------------------------------
// Contrast enhancement.
// ---------------------------------------------------------------------------
#define CE_WORDS 27

// Block byte of each record word.
static const uint8_t ce_word_byte[CE_WORDS] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 14, 15,
                                               18, 12, 16, 13, 17, 19, 22, 23, 26, 20, 24, 21, 25};

void cl_ce_record_to_block(const uint8_t *record, uint8_t *block)
{
	for (int w = 0; w < CE_WORDS; w++) {
		uint32_t v;
		memcpy(&v, record + 4 * w, 4);
		block[ce_word_byte[w]] = (uint8_t)v;
	}
	memcpy(block + 27, record + 108, 64);
	uint32_t v;
	memcpy(&v, record + 684, 4);
	block[91] = (uint8_t)v;
	memcpy(&v, record + 688, 4);
	block[92] = (uint8_t)v;
	memcpy(block + 94, record + 172, 512);
}

void cl_ce_block_to_record(const uint8_t *block, uint8_t *record)
{
	for (int w = 0; w < CE_WORDS; w++) {
		uint32_t v = block[ce_word_byte[w]];
		memcpy(record + 4 * w, &v, 4);
	}
	memcpy(record + 108, block + 27, 64);
	uint32_t v = block[91];
	memcpy(record + 684, &v, 4);
	v = block[92];
	memcpy(record + 688, &v, 4);
	memcpy(record + 172, block + 94, 512);
}

int cl_customerloop_set_ce_config(int channel, const uint8_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_ce_record_to_block(record, s.channel[channel].ce_block);
	s.channel[channel].ce_pending = 1;
	return 0;
}

// ---------------------------------------------------------------------------
// Curves, scales and levels waiting for the frame thread.
// ---------------------------------------------------------------------------
int cl_customerloop_set_tone_curve(int channel, const uint16_t *curve)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	for (auto &colour : ch.tone_curve)
		memcpy(colour, curve, sizeof colour);
	ch.tone_curve_pending = 1;
	return 0;
}

// Without the mutex: a caller racing a set may read a half-new curve.
int cl_customerloop_get_tone_curve(int channel, uint16_t *curve)
{
	memcpy(curve, cl_state().channel[channel].tone_curve[1],
	       sizeof cl_state().channel[channel].tone_curve[1]);
	return 0;
}

int cl_customerloop_set_tc_curve(int channel, const uint32_t *curve)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	for (int c = 0; c < 3; c++)
		for (int i = 0; i < 256; i++)
			ch.tone_curve[c][i] = (uint16_t)curve[c * 256 + i];
	ch.tone_curve_pending = 1;
	return 0;
}

int cl_customerloop_set_chroma_scale(int channel, const uint32_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	ch.chroma_enable = record[0];
	if (record[0])
		for (int i = 0; i < 128; i++)
			ch.chroma_gain[i] = (uint16_t)record[1 + i];
	ch.chroma_pending = 1;
	return 0;
}

int cl_customerloop_set_local_exposure(int channel, const uint32_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	ch.le_pending = 1;
	ch.le_params[0] = (uint8_t)record[0];
	if (!record[0])
		return 0;
	for (int i = 1; i < 6; i++)
		ch.le_params[i] = (uint8_t)record[i];
	for (int i = 0; i < 256; i++)
		ch.le_curve[i] = (uint16_t)record[6 + i];
	return 0;
}

// Linear channels keep their levels in words 1 to 4, HDR ones in 9 to 12.
int cl_customerloop_set_black_level(int channel, const uint32_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	cl_channel &ch = s.channel[channel];
	ch.black_level_pending = 1;
	ch.black_level_hdr_pending = 1;
	int first = ch.aaa_info.hdr_mode != 15 && s.expo_num == 1 ? 1 : 9;
	for (int i = 0; i < 4; i++)
		ch.black_level[i] = (uint16_t)record[first + i];
	return 0;
}

int cl_customerloop_set_hdr_alpha_table(int channel, const uint32_t *record)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.settings_mu);
	for (int i = 0; i < 128; i++)
		s.alpha_table[i] = (uint8_t)record[2 + i];
	s.channel[channel].alpha_table_pending = 1;
	return 0;
}

// ---------------------------------------------------------------------------
// External HDR tables, handed to the HDR module at once.
// ---------------------------------------------------------------------------
static int set_extern(const char *fn, int channel, const uint8_t *record, hdr_extern_table cl_channel::*slot,
                      int (*call)(const hdr_extern_table *, int), const char *failure)
{
	customerloop_state &s = cl_state();
	if (s.expo_num == 1)
		return hdr_off(fn);
	std::lock_guard<std::mutex> lk(s.settings_mu);
	hdr_extern_table *t = &(s.channel[channel].*slot);
	memcpy(t, record, LIBCL_HDR_TABLE_RECORD_SIZE);
	if (call(t, channel) < 0) {
		cl_log(LOG_ERR, failure, fn);
		return -1;
	}
	return 0;
}

int cl_customerloop_set_hdr_extern_lut(int channel, const uint8_t *record)
{
	return set_extern(__func__, channel, record, &cl_channel::extern_lut, img_hdr_set_extern_lut,
	                  "ERROR: %s: Failed to set external LUT values!\n\n");
}

int cl_customerloop_set_hdr_extern_drc(int channel, const uint8_t *record)
{
	return set_extern(__func__, channel, record, &cl_channel::extern_drc, img_hdr_set_extern_drc,
	                  "ERROR: %s: Failed to set external DRC values!\n\n");
}

int cl_customerloop_get_hdr_extern_lut(int channel, uint8_t *record)
{
	customerloop_state &s = cl_state();
	if (s.expo_num == 1)
		return hdr_off(__func__);
	std::lock_guard<std::mutex> lk(s.settings_mu);
	memcpy(record, &s.channel[channel].extern_lut, LIBCL_HDR_TABLE_RECORD_SIZE);
	return 0;
}

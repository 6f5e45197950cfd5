/* The 3A service's public entries. */
#include "img_aaa.h"

#include "aaa_parser.h"
#include "ae.h"
#include "af.h"
#include "awb.h"
#include "img_adj_filter.h"
#include "img_adj_le.h"
#include "img_adj_settings.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "img_queue.h"
#include "img_service.h"
#include "lens_drv.h"

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <mutex>

/* ---- lifecycle ---- */

#define START_LINE 414
#define MAIN_LINE 419
#define LENS_LINE 425
#define REPLY_TICKS 5

static std::mutex life_mu; /* start, stop and work-mode changes */
static sem_t main_ready, lens_ready, mode_done;
static bool sems_up;
static pthread_t main_tid, lens_tid;
static bool main_up, lens_up;

static void destroy_sems(void)
{
	if (!sems_up)
		return;
	sem_destroy(&main_ready);
	sem_destroy(&lens_ready);
	sem_destroy(&mode_done);
	sems_up = false;
}

static int fail_start(int line)
{
	printf("%s---%d\n", "img_start_aaa", line);
	destroy_sems();
	return -1;
}

static int wait_sem(sem_t *s, const char *what)
{
	while (sem_wait(s) != 0) {
		if (errno == EINTR)
			continue;
		perror(what);
		return -1;
	}
	return 0;
}

static void join_started(void);

int img_start_aaa(int fd)
{
	std::lock_guard<std::mutex> lk(life_mu);
	if (fd == -1) {
		printf("start_aaa fail!fd_qvd =-1\n");
		return -1;
	}
	if (main_up || lens_up)
		return -1;
	sem_init(&main_ready, 0, 0);
	sem_init(&lens_ready, 0, 0);
	sem_init(&mode_done, 0, 0);
	sems_up = true;
	img_service_sync sync = {&main_ready, &lens_ready, &mode_done};
	img_service_set_sync(&sync);
	img_service_reset_stop();
	if (hal_init_vin_tick() != 0)
		return fail_start(START_LINE);
	if (pthread_create(&main_tid, NULL, img_service_main, (void *)(intptr_t)fd) != 0) {
		hal_deinit_vin_tick();
		return fail_start(MAIN_LINE);
	}
	main_up = true;
	pthread_setname_np(main_tid, "img_algo.main");
	if (pthread_create(&lens_tid, NULL, img_service_lens, NULL) != 0) {
		join_started();
		hal_deinit_vin_tick();
		return fail_start(LENS_LINE);
	}
	lens_up = true;
	pthread_setname_np(lens_tid, "img_algo.lens");
	if (wait_sem(&main_ready, "Wait for main loop thread failed!!\n") != 0 ||
	    wait_sem(&lens_ready, "Wait for lens loop thread failed!!\n") != 0) {
		join_started();
		hal_deinit_vin_tick();
		destroy_sems();
		return -1;
	}
	return 0;
}

/* Lens thread first, then the main thread after its frame in progress. */
static int join_threads(void)
{
	int rc = 0;
	if (lens_up) {
		if (img_service_stop_lens() != 0)
			printf("cond error\n");
		if (pthread_join(lens_tid, NULL) != 0) {
			printf("lens_ctrl exit error\n");
			rc = -1;
		}
		lens_up = false;
	}
	if (main_up) {
		img_service_stop_main();
		if (pthread_join(main_tid, NULL) != 0) {
			printf("main_exit error\n");
			rc = -1;
		}
		main_up = false;
	}
	return rc;
}

static void join_started(void)
{
	join_threads();
}

int img_stop_aaa(void)
{
	std::lock_guard<std::mutex> lk(life_mu);
	int rc = join_threads();
	destroy_sems();
	if (hal_deinit_vin_tick() != 0) {
		printf("hal_deinit_vin_tick fail\n");
		return -1;
	}
	return rc;
}

int img_aaa_running(void)
{
	std::lock_guard<std::mutex> lk(life_mu);
	return main_up && lens_up;
}

static int queue_id(void)
{
	return img_queue();
}

/* A command message: i32 id, 4 bytes padding, n u64 words. */
static int send_command(int id, const uint64_t *words, int n)
{
	uint8_t text[IMG_QUEUE_TEXT];
	memset(text, 0, sizeof text);
	int32_t i = id;
	memcpy(text, &i, sizeof i);
	if (n)
		memcpy(text + 8, words, 8 * (size_t)n);
	int qid = queue_id();
	if (qid < 0)
		return -1;
	return img_queue_send(qid, IMG_MSG_COMMAND, text, sizeof text);
}

int img_change_work_mode(int mode)
{
	static const uint64_t ids[] = {3, 2, 1, 4};
	if (mode < 0 || mode > 3)
		return -1;
	std::lock_guard<std::mutex> lk(life_mu);
	/* Stopped, the semaphore is gone and nobody would answer. */
	if (!main_up || !sems_up)
		return -1;
	int qid = queue_id();
	if (qid < 0)
		return -1;
	/* An answer nobody waited for (a change sent past this entry) must
	 * not stand for this one. */
	while (sem_trywait(&mode_done) == 0)
		;
	uint8_t text[IMG_QUEUE_TEXT];
	memset(text, 0, sizeof text);
	memcpy(text, &ids[mode], sizeof ids[mode]);
	int rc = img_queue_send(qid, IMG_MSG_WORK_MODE, text, sizeof text);
	if (rc < 0)
		return rc;
	return wait_sem(&mode_done, "Wait for work mode change failed!\n");
}

int img_register_aaa_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS])
{
	return img_lib_merge_hooks(hooks);
}

int img_register_lens_driver(const void *table)
{
	return img_config_lens_driver(table);
}

/* ---- requests ---- */

/* Up to five frames for a reply of the kind; its words in out. */
static int await_reply(int qid, int kind, uint32_t out[2])
{
	img_msg m;
	for (int t = 0; t < REPLY_TICKS; t++) {
		if (hal_wait_vin_tick() != 0)
			return -1;
		ssize_t n;
		while ((n = img_queue_recv(qid, IMG_MSG_REPLY, &m, 0)) >= 0) {
			int32_t k;
			uint32_t w[2] = {0, 0};
			if (n < 8)
				continue;
			memcpy(&k, m.text, sizeof k);
			memcpy(w, m.text + 8, (size_t)(n - 8 > 8 ? 8 : n - 8));
			if (k != kind)
				continue;
			img_lib_revert_msg(kind, w);
			out[0] = w[0];
			out[1] = w[1];
			return 0;
		}
	}
	return -1;
}

int img_get_agc_info(uint64_t *out)
{
	if (!out)
		return -1;
	if (send_command(28, NULL, 0) < 0)
		return -1;
	uint32_t w[2];
	if (await_reply(queue_id(), 1, w) != 0)
		return -1;
	out[0] = w[0];
	out[1] = w[1];
	return 0;
}

int img_get_af_status(uint16_t arg)
{
	uint64_t v = arg;
	if (send_command(163, &v, 1) < 0)
		return -1;
	uint32_t w[2];
	if (await_reply(queue_id(), 0, w) != 0)
		return -1;
	return (int)w[0];
}

/* ---- commands ---- */

/* Copies the values of the channels in the mask into the command's own
 * array(s) and sends {mask, address[, address]}. */
static int send_masked(int id, uint32_t mask, const void *v, const void *v2)
{
	if (!v || (!v2 && img_service_shadow(id, 1, NULL)))
		return -1;
	const void *src[2] = {v, v2};
	uint64_t words[3] = {mask, 0, 0};
	int n = 1;
	img_service_shadow_lock();
	for (int k = 0; k < 2; k++) {
		size_t size = 0;
		uint8_t *own = (uint8_t *)img_service_shadow(id, k, &size);
		if (!own)
			break;
		size_t elem = size / IMG_MAX_CHANNELS;
		for (int c = 0; c < IMG_MAX_CHANNELS && c < img_get_vin_chan_num(); c++)
			if (mask & (1u << c))
				memcpy(own + elem * c, (const uint8_t *)src[k] + elem * c, elem);
		words[n++] = (uint64_t)(uintptr_t)own;
	}
	img_service_shadow_unlock();
	return send_command(id, words, n);
}

/* One word a channel, then the mask. */
static int send_values_mask(int id, uint32_t mask, const uint64_t *values)
{
	int n = img_get_vin_chan_num();
	uint64_t words[IMG_MAX_CHANNELS + 1];
	for (int c = 0; c < n; c++)
		words[c] = values[c];
	words[n] = mask;
	return send_command(id, words, n + 1);
}

static int send_pointer(int id, const void *data)
{
	if (!data)
		return -1;
	size_t size = 0;
	uint8_t *own = (uint8_t *)img_service_shadow(id, 0, &size);
	img_service_shadow_lock();
	memcpy(own, data, size);
	img_service_shadow_unlock();
	uint64_t w = (uint64_t)(uintptr_t)own;
	return send_command(id, &w, 1);
}

static int send_words(int id, std::initializer_list<uint64_t> words)
{
	uint64_t w[8];
	int n = 0;
	for (uint64_t x : words)
		w[n++] = x;
	return send_command(id, w, n);
}

int img_reload_filter_containers(const void *tunings, uint32_t mask)
{
	if (!tunings)
		return -1;
	if (img_adj_copy_container_bank() != 0 ||
	    img_adj_reload_containers((const img_adj_tuning *)tunings, mask) != 0)
		return -1;
	return send_words(5, {1});
}

int img_reload_cc_tables(const void *sources, uint32_t mask)
{
	if (!sources)
		return -1;
	if (img_adj_load_pending_cc_tables((const img_adj_cc_sources *)sources, mask) != 0)
		return -1;
	return send_words(6, {1});
}

#define MASKED(name, id, type)                                                                               \
	int name(uint32_t mask, const type *values)                                                          \
	{                                                                                                    \
		return send_masked(id, mask, values, NULL);                                                  \
	}

MASKED(img_set_awb_control, 7, uint32_t)
MASKED(img_set_ae_enable, 8, uint32_t)
MASKED(img_set_custom_aaa, 9, uint32_t)
MASKED(img_set_filter_enable, 10, uint32_t)
MASKED(img_set_nr_bypass, 12, uint32_t)
MASKED(img_set_ae_metering_mode, 17, uint8_t)
MASKED(img_set_ae_tile_weights, 18, uint32_t)
MASKED(img_set_ae_lines, 21, void)
MASKED(img_set_ae_line_count, 22, uint16_t)
MASKED(img_set_ae_target_ratio, 23, uint16_t)
MASKED(img_set_ae_speed, 24, uint8_t)
MASKED(img_set_ae_weight_mode, 26, uint8_t)
MASKED(img_set_awb_fail_remedy, 80, uint32_t)
MASKED(img_set_awb_speed, 82, uint8_t)
MASKED(img_set_awb_custom_gain, 84, uint32_t)
MASKED(img_set_awb_env, 85, uint32_t)
MASKED(img_set_awb_mode, 86, uint32_t)
MASKED(img_set_awb_method, 87, uint32_t)
MASKED(img_set_awb_tile_weights, 88, uint8_t)
MASKED(img_set_saturation, 96, int32_t)
MASKED(img_set_contrast, 97, uint32_t)
MASKED(img_set_hue, 102, int32_t)
MASKED(img_set_brightness, 103, int32_t)
MASKED(img_set_sharpness_level, 104, int32_t)
MASKED(img_set_sharpness_values, 105, uint32_t)
MASKED(img_set_color_matrix, 106, uint32_t)
MASKED(img_set_bw_mode, 107, uint32_t)
MASKED(img_set_nf_level, 109, int32_t)
MASKED(img_set_nf_values, 110, uint32_t)

int img_set_debug_flags(uint32_t flags)
{
	return send_words(11, {flags});
}

int img_set_ae_frame_skip(uint32_t mask, const uint8_t *gain_skips, const uint8_t *shutter_skips)
{
	return send_masked(19, mask, gain_skips, shutter_skips);
}

int img_set_awb_calibration(uint32_t mask, const uint32_t *unit, const uint32_t *golden)
{
	return send_masked(81, mask, unit, golden);
}

int img_set_awb_calib_threshold(uint32_t mask, const uint16_t *red, const uint16_t *blue)
{
	return send_masked(83, mask, red, blue);
}

int img_set_wb_ratio(uint32_t mask, const uint8_t *ratio1, const uint8_t *ratio2)
{
	return send_masked(111, mask, ratio1, ratio2);
}

int img_set_af_mode(uint32_t mode)
{
	return send_words(48, {mode});
}

int img_set_af_custom(const void *arg8)
{
	return send_pointer(49, arg8);
}

int img_set_af_tile_weights(const uint32_t *weights)
{
	return send_pointer(50, weights);
}

int img_set_af_param(uint32_t zoom)
{
	return send_words(51, {zoom});
}

int img_set_af_manual_position(int32_t position)
{
	return send_words(52, {(uint64_t)(int64_t)position});
}

int img_af_nop(void)
{
	return send_words(53, {0});
}

int img_step_af_manual_position(int32_t step)
{
	return send_words(161, {(uint64_t)(int64_t)step});
}

static int values_then_mask_u32(int id, uint32_t mask, const uint32_t *values)
{
	if (!values)
		return -1;
	uint64_t w[IMG_MAX_CHANNELS] = {0};
	for (int c = 0; c < img_get_vin_chan_num() && c < IMG_MAX_CHANNELS; c++)
		w[c] = values[c];
	return send_values_mask(id, mask, w);
}

int img_set_auto_tone(uint32_t mask, const uint8_t *values)
{
	if (!values)
		return -1;
	uint32_t v[IMG_MAX_CHANNELS] = {0};
	for (int c = 0; c < img_get_vin_chan_num() && c < IMG_MAX_CHANNELS; c++)
		v[c] = values[c];
	return values_then_mask_u32(98, mask, v);
}

int img_set_auto_tone_alpha(uint32_t mask, const float *values)
{
	if (!values)
		return -1;
	uint32_t v[IMG_MAX_CHANNELS] = {0};
	for (int c = 0; c < img_get_vin_chan_num() && c < IMG_MAX_CHANNELS; c++)
		memcpy(&v[c], &values[c], sizeof v[c]);
	return values_then_mask_u32(99, mask, v);
}

int img_set_service_flag(uint32_t mask, const uint32_t *values)
{
	return values_then_mask_u32(112, mask, values);
}

int img_set_adaptive_input_a(uint32_t mask, const uint32_t *values)
{
	return values_then_mask_u32(144, mask, values);
}

int img_set_adaptive_input_b(uint32_t mask, const uint32_t *values)
{
	return values_then_mask_u32(145, mask, values);
}

int img_set_ce_log_enable(int enable, int chan)
{
	return send_words(113, {(uint64_t)enable, (uint64_t)chan});
}

int img_set_ce_log_config(int32_t encode, int32_t decode, int chan)
{
	return send_words(114, {(uint64_t)(int64_t)encode, (uint64_t)(int64_t)decode, (uint64_t)chan});
}

int img_set_color_threshold_enable(int enable, int chan)
{
	return send_words(115, {(uint64_t)enable, (uint64_t)chan});
}

int img_set_hdr_enable(int enable, int chan)
{
	return send_words(128, {(uint64_t)enable, (uint64_t)chan});
}

int img_set_hdr_blend_config(uint32_t ratio, uint32_t boost, int chan)
{
	return send_words(129, {ratio, boost, (uint64_t)chan});
}

static int four_and_chan(int id, const uint32_t *v, int chan)
{
	if (!v)
		return -1;
	return send_words(id, {v[0], v[1], v[2], v[3], (uint64_t)chan});
}

int img_set_hdr_alpha_value(const uint32_t values[4], int chan)
{
	return four_and_chan(130, values, chan);
}

int img_set_hdr_threshold(const uint32_t values[4], int chan)
{
	return four_and_chan(131, values, chan);
}

int img_set_hdr_drc_strength(const int32_t values[4], int chan)
{
	if (!values)
		return -1;
	return send_words(134, {(uint64_t)(int64_t)values[0], (uint64_t)(int64_t)values[1],
	                        (uint64_t)(int64_t)values[2], (uint64_t)(int64_t)values[3], (uint64_t)chan});
}

int img_set_shutter_ratio_limits(const img_ratio_limits *limits, int chan)
{
	if (!limits)
		return -1;
	return send_words(132, {limits->mode, limits->min, limits->max, (uint64_t)chan});
}

int img_set_shutter_ratio_config(const uint32_t values[3], int chan)
{
	if (!values)
		return -1;
	return send_words(133, {values[0], values[1], values[2], (uint64_t)chan});
}

int img_set_hdr_auto_ratio(int chan, int on)
{
	return send_words(135, {(uint64_t)chan, (uint64_t)on});
}

/* ---- direct entries ---- */

int img_set_shutter_only(int fd, uint32_t shutter, int chan)
{
	return hal_set_shutter_only(fd, shutter, chan);
}

int img_set_agc_only(int fd, uint32_t agc, int chan)
{
	return hal_set_agc_only(fd, agc, chan);
}

uint32_t img_get_shutter(int chan)
{
	return hal_get_last_shutter(chan);
}

uint32_t img_get_agc(int chan)
{
	return hal_get_last_agc(chan);
}

int img_shutter_to_row(int fd, uint32_t time, uint32_t *rows, int chan)
{
	return hal_shutter_to_row(fd, time, rows, chan);
}

int img_set_wdr_gain_shutter(int fd, const hal_sht_agc *rec, int chan)
{
	return hal_set_wdr_gain_shutter(fd, rec, chan);
}

int img_get_wdr_gain_index(int fd, uint32_t index[HAL_MAX_EXPOSURES], int chan)
{
	return hal_get_wdr_gain_index(fd, index, chan);
}

int img_get_wdr_shutter_row(int fd, uint64_t rows[2], int chan)
{
	return hal_get_wdr_shutter_row(fd, rows, chan);
}

int img_set_pending_sht_agc(int fd, const hal_sht_agc *rec, int chan)
{
	return hal_set_pending_sht_agc(fd, rec, chan);
}

int img_set_dgain_ratio(int fd, const uint32_t ratio[3], int chan)
{
	return hal_set_dgain_ratio(fd, ratio, chan);
}

int img_get_dgain_ratio(int fd, uint32_t ratio[3], int chan)
{
	return hal_get_dgain_ratio(fd, ratio, chan);
}

int img_set_low_light_mode(int fd, uint32_t mode, int chan)
{
	return hal_set_low_light_mode(fd, mode, chan);
}

int img_set_vin_apply(int fd, int n)
{
	return hal_apply_multi_chan_cfg(fd, n);
}

/* One of the two source-context luma values of every channel the parser
 * walks: 0 the second set's mean, 1 its difference from the first. */
static int stat_info(int which, int32_t *out)
{
	if (!out)
		return -1;
	for (int c = 0; c < parse_aaa_get_channel_num(); c++) {
		int32_t v[2];
		if (parse_aaa_get_vsrc_luma(c, v) != 0)
			return -1;
		out[c] = v[which];
	}
	return 0;
}

int img_get_stat_info_a(int32_t *out)
{
	return stat_info(0, out);
}

int img_get_stat_info_b(int32_t *out)
{
	return stat_info(1, out);
}

int img_get_awb_control(uint32_t *out)
{
	return awb_get_enables(out);
}

int img_get_awb_method(uint32_t *out)
{
	return awb_get_method_all(out);
}

int img_get_awb_mode(uint32_t *out)
{
	return awb_get_mode_all(out);
}

int img_get_awb_env(uint32_t *out)
{
	return awb_get_env_all(out);
}

int img_get_awb_gray_gain(uint32_t *out)
{
	return awb_get_gray_gain_all(out);
}

int img_get_awb_gains(int chan, uint32_t gains[3])
{
	return awb_get_current_gains(chan, gains);
}

int img_get_ae_enable(uint32_t *out)
{
	return ae_get_enable(out);
}

int img_get_ae_luma(uint16_t *out)
{
	return ae_get_luma(out);
}

int img_get_ae_rgb_luma(uint16_t *out)
{
	return ae_get_rgb_luma(out);
}

int img_get_ae_target_ratio(uint16_t *out)
{
	return ae_get_target_ratio(out);
}

int img_get_ae_target(uint16_t *out)
{
	return ae_get_target(out);
}

int img_get_ae_state(uint8_t *out)
{
	return ae_get_state(out);
}

int img_get_ae_cursor(uint8_t *out)
{
	return ae_get_cursor(out);
}

int img_get_ae_agc_index(uint16_t *out)
{
	return ae_get_agc_index(out);
}

int img_set_ae_hooks(const ae_hooks *records)
{
	return ae_set_hooks(records);
}

int img_set_ae_limits(int chan, const uint32_t limits[4])
{
	return ae_set_custom_limits(chan, limits);
}

int img_get_filter_enable(uint32_t *out)
{
	return img_adj_get_channel_enable(out);
}

int img_get_bcsh(uint32_t *out)
{
	return img_adj_get_bcsh(out);
}

int img_get_wb_ratio(uint8_t *ratio1, uint8_t *ratio2)
{
	return img_adj_get_wb_ratio(ratio1, ratio2);
}

int img_get_settings(img_adj_settings *out)
{
	return img_adj_get_settings(out);
}

int img_set_max_chroma_radius(const uint32_t *radius)
{
	return img_adj_set_max_chroma_radius(radius);
}

int img_get_adaptive_input_a(uint32_t *out)
{
	return img_adj_le_get_enable(out);
}

int img_get_adaptive_input_b(uint32_t *out)
{
	return img_adj_le_get_strength(out);
}

int img_get_hdr_blend_config(uint32_t *out, int chan)
{
	return img_hdr_get_blend_config(out, chan);
}

int img_request_hdr_update(int chan)
{
	return img_hdr_request_update(chan);
}

int img_get_hdr_enable(int chan)
{
	return img_hdr_get_enable(chan);
}

int img_get_hdr_alpha_value(uint32_t *out, int chan)
{
	return img_hdr_get_alpha_value(out, chan);
}

int img_get_hdr_threshold(uint32_t *out, int chan)
{
	return img_hdr_get_threshold(out, chan);
}

int img_get_hdr_drc_strength(int32_t *out, int chan)
{
	return img_hdr_get_drc_strength(out, chan);
}

int img_get_ce_log_enable(int chan)
{
	return img_hdr_get_ce_log_enable(chan);
}

int img_get_ce_log_config(uint64_t *out, int chan)
{
	return img_hdr_get_ce_log_config(out, chan);
}

int img_init_shutter_ratio_limits(const img_ratio_limits *limits, int chan)
{
	return img_config_ratio_limits(chan, limits);
}

int img_get_shutter_ratio_limits(img_ratio_limits *out, int chan)
{
	return img_get_ratio_limits_in_effect(chan, out);
}

int img_get_shutter_ratio_config(uint32_t out[IMG_RATIO_CONFIG_WORDS], int chan)
{
	return img_get_ratio_config(chan, out);
}

int img_set_hdr_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, const uint8_t flags[2])
{
	return img_hdr_set_dsp_config(fd, mode, fs, flags);
}

int img_get_hdr_last_sent(img_hdr_frame_settings *out)
{
	return img_hdr_get_last_sent(out);
}

int img_lens_init(const void *lens)
{
	const img_lens_driver *d = img_lens_active_driver();
	return d->init ? d->init(lens) : -1;
}

int img_set_lens_params(const void *params, const void *tables)
{
	return img_config_lens_tables(params, tables);
}

/* ---- shared memory ---- */

static int shm_id = -1;

void *img_shm_create(size_t size)
{
	int id = shmget(IMG_SHM_KEY, size, IPC_CREAT | 0666);
	if (id < 0) {
		/* Ending the process here would take every caller down with it. */
		perror("shmget ");
		return NULL;
	}
	void *addr = shmat(id, NULL, 0);
	if (addr == (void *)-1)
		return NULL;
	shm_id = id;
	printf(" shm addr = %p  %d\n", addr, id);
	return addr;
}

int img_shm_delete(void *addr)
{
	if (addr)
		shmdt(addr);
	if (shm_id >= 0)
		shmctl(shm_id, IPC_RMID, NULL);
	shm_id = -1;
	printf("shared mem deleted\n");
	char path[512];
	if (img_root_path(IMG_SHM_PATH, path, sizeof path) == 0)
		unlink(path);
	return 0;
}

int img_shm_write(void *addr, const void *data, size_t len)
{
	struct shmid_ds ds;
	if (!addr || !data || shm_id < 0)
		return -1;
	if (shmctl(shm_id, IPC_STAT, &ds) < 0) {
		printf("shmctl get IPC_STAT for write failed.\n");
		return -1;
	}
	if (ds.shm_perm.mode & SHM_LOCKED)
		return -1;
	if (len > ds.shm_segsz)
		len = ds.shm_segsz;
	if (shmctl(shm_id, SHM_LOCK, NULL) < 0)
		printf("\nThe shmctl call LOCK for write failed.\n");
	memcpy(addr, data, len);
	if (shmctl(shm_id, SHM_UNLOCK, NULL) < 0)
		printf("\nThe shmctl call UNLOCK for write failed.\n");
	return 0;
}

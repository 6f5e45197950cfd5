/* The 3A service's public entries: start and stop, work-mode changes,
 * hook and lens-driver registration, requests answered by the main thread,
 * the commands it executes between frames (sent through the message queue)
 * and direct entries into the modules. Mask setters copy the values of the
 * channels in the mask into a module-owned array and send its address. */
#ifndef CAMLIB_IMG_ALGO_IMG_AAA_H
#define CAMLIB_IMG_ALGO_IMG_AAA_H

#include "hal_vin.h"
#include "img_lib.h"
#include "img_work.h"

#include <stdint.h>

/* ---- lifecycle ---- */
int img_start_aaa(int fd);
int img_stop_aaa(void);
/* Modes 0..3: preview, capture, fastfocus, record; returns once the main
 * thread has handled it. -1 while the service is stopped. */
int img_change_work_mode(int mode);
int img_register_aaa_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS]);
int img_register_lens_driver(const void *table);
/* 1 while both threads run. */
int img_aaa_running(void);

/* ---- requests answered by the main thread ---- */
int img_get_agc_info(uint64_t *out);
/* The auto focus state of channel 0; -1 without an answer in five frames. */
int img_get_af_status(uint16_t arg);

/* ---- commands: 0, or the send's negative result; -1 for NULL ---- */
int img_reload_filter_containers(const void *tunings, uint32_t mask);
int img_reload_cc_tables(const void *sources, uint32_t mask);
int img_set_awb_control(uint32_t mask, const uint32_t *values);
int img_set_ae_enable(uint32_t mask, const uint32_t *values);
int img_set_custom_aaa(uint32_t mask, const uint32_t *values);
int img_set_filter_enable(uint32_t mask, const uint32_t *values);
int img_set_debug_flags(uint32_t flags);
int img_set_nr_bypass(uint32_t mask, const uint32_t *values);
int img_set_ae_metering_mode(uint32_t mask, const uint8_t *values);
int img_set_ae_tile_weights(uint32_t mask, const uint32_t *values); /* 96 a channel */
int img_set_ae_frame_skip(uint32_t mask, const uint8_t *gain_skips, const uint8_t *shutter_skips);
int img_set_ae_lines(uint32_t mask, const void *line_cfgs); /* 3104 bytes a channel */
int img_set_ae_line_count(uint32_t mask, const uint16_t *values);
int img_set_ae_target_ratio(uint32_t mask, const uint16_t *values);
int img_set_ae_speed(uint32_t mask, const uint8_t *values);
int img_set_ae_weight_mode(uint32_t mask, const uint8_t *values);
int img_set_af_mode(uint32_t mode);
int img_set_af_custom(const void *arg8);
int img_set_af_tile_weights(const uint32_t *weights); /* 96 */
int img_set_af_param(uint32_t zoom);
int img_set_af_manual_position(int32_t position);
int img_af_nop(void);
int img_step_af_manual_position(int32_t step);
int img_set_awb_fail_remedy(uint32_t mask, const uint32_t *values);
/* Six words a channel: the low triple, then the high one. */
int img_set_awb_calibration(uint32_t mask, const uint32_t *unit, const uint32_t *golden);
int img_set_awb_speed(uint32_t mask, const uint8_t *values);
int img_set_awb_calib_threshold(uint32_t mask, const uint16_t *red, const uint16_t *blue);
int img_set_awb_custom_gain(uint32_t mask, const uint32_t *gains); /* triples */
int img_set_awb_env(uint32_t mask, const uint32_t *values);
int img_set_awb_mode(uint32_t mask, const uint32_t *values);
int img_set_awb_method(uint32_t mask, const uint32_t *values);
int img_set_awb_tile_weights(uint32_t mask, const uint8_t *weights); /* 1024 a channel */
int img_set_saturation(uint32_t mask, const int32_t *values);
int img_set_contrast(uint32_t mask, const uint32_t *values);
int img_set_auto_tone(uint32_t mask, const uint8_t *values);
int img_set_auto_tone_alpha(uint32_t mask, const float *values);
int img_set_hue(uint32_t mask, const int32_t *values);
int img_set_brightness(uint32_t mask, const int32_t *values);
int img_set_sharpness_level(uint32_t mask, const int32_t *values);
int img_set_sharpness_values(uint32_t mask, const uint32_t *values);
int img_set_color_matrix(uint32_t mask, const uint32_t *values);
int img_set_bw_mode(uint32_t mask, const uint32_t *values);
int img_set_nf_level(uint32_t mask, const int32_t *values);
int img_set_nf_values(uint32_t mask, const uint32_t *values);
int img_set_wb_ratio(uint32_t mask, const uint8_t *ratio1, const uint8_t *ratio2);
int img_set_service_flag(uint32_t mask, const uint32_t *values);
int img_set_ce_log_enable(int enable, int chan);
int img_set_ce_log_config(int32_t encode, int32_t decode, int chan);
int img_set_color_threshold_enable(int enable, int chan);
int img_set_hdr_enable(int enable, int chan);
int img_set_hdr_blend_config(uint32_t ratio, uint32_t boost, int chan);
int img_set_hdr_alpha_value(const uint32_t values[4], int chan);
int img_set_hdr_threshold(const uint32_t values[4], int chan);
int img_set_shutter_ratio_limits(const img_ratio_limits *limits, int chan);
int img_set_shutter_ratio_config(const uint32_t values[3], int chan);
int img_set_hdr_drc_strength(const int32_t values[4], int chan);
int img_set_hdr_auto_ratio(int chan, int on);
int img_set_adaptive_input_a(uint32_t mask, const uint32_t *values);
int img_set_adaptive_input_b(uint32_t mask, const uint32_t *values);

/* ---- direct entries ---- */
int img_set_shutter_only(int fd, uint32_t shutter, int chan);
int img_set_agc_only(int fd, uint32_t agc, int chan);
uint32_t img_get_shutter(int chan);
uint32_t img_get_agc(int chan);
int img_shutter_to_row(int fd, uint32_t time, uint32_t *rows, int chan);
int img_set_wdr_gain_shutter(int fd, const hal_sht_agc *rec, int chan);
int img_get_wdr_gain_index(int fd, uint32_t index[HAL_MAX_EXPOSURES], int chan);
int img_get_wdr_shutter_row(int fd, uint64_t rows[2], int chan);
int img_set_pending_sht_agc(int fd, const hal_sht_agc *rec, int chan);
int img_set_dgain_ratio(int fd, const uint32_t ratio[3], int chan);
int img_get_dgain_ratio(int fd, uint32_t ratio[3], int chan);
int img_set_low_light_mode(int fd, uint32_t mode, int chan);
int img_set_vin_apply(int fd, int n);
/* Per channel the statistics' source-context luma values: a the mean of
 * the second CFA set, b its difference from the first; -1024 each for a
 * channel without a second set. -1 for NULL. */
int img_get_stat_info_a(int32_t *out);
int img_get_stat_info_b(int32_t *out);
int img_get_awb_control(uint32_t *out);
int img_get_ae_enable(uint32_t *out);
int img_get_ae_luma(uint16_t *out);
int img_get_ae_rgb_luma(uint16_t *out);
int img_get_ae_target_ratio(uint16_t *out);
int img_get_ae_target(uint16_t *out);
int img_get_ae_state(uint8_t *out);
int img_get_ae_cursor(uint8_t *out);
int img_get_ae_agc_index(uint16_t *out);
int img_set_ae_limits(int chan, const uint32_t limits[4]);
int img_get_filter_enable(uint32_t *out);
int img_get_bcsh(uint32_t *out);
int img_get_wb_ratio(uint8_t *ratio1, uint8_t *ratio2);
int img_set_max_chroma_radius(const uint32_t *radius);
int img_get_adaptive_input_a(uint32_t *out);
int img_get_adaptive_input_b(uint32_t *out);
int img_get_hdr_blend_config(uint32_t *out, int chan);
int img_request_hdr_update(int chan);
int img_get_hdr_enable(int chan);
int img_get_hdr_alpha_value(uint32_t *out, int chan);
int img_get_hdr_threshold(uint32_t *out, int chan);
int img_get_hdr_drc_strength(int32_t *out, int chan);
int img_get_ce_log_enable(int chan);
int img_get_ce_log_config(uint64_t *out, int chan);
int img_init_shutter_ratio_limits(const img_ratio_limits *limits, int chan);
int img_get_shutter_ratio_limits(img_ratio_limits *out, int chan);
int img_get_shutter_ratio_config(uint32_t out[IMG_RATIO_CONFIG_WORDS], int chan);
struct img_hdr_frame_settings;
int img_set_hdr_dsp_config(int fd, img_dsp_mode *mode, struct img_hdr_frame_settings *fs,
                           const uint8_t flags[2]);
int img_get_hdr_last_sent(struct img_hdr_frame_settings *out);
struct ae_hooks;
int img_set_ae_hooks(const struct ae_hooks *records);
struct img_adj_settings;
int img_get_settings(struct img_adj_settings *out);
int img_get_awb_method(uint32_t *out);
int img_get_awb_mode(uint32_t *out);
int img_get_awb_env(uint32_t *out);
int img_get_awb_gray_gain(uint32_t *out);
int img_get_awb_gains(int chan, uint32_t gains[3]);
/* The lens driver's init slot with the service's lens record; the
 * channels' 398-byte lens parameter and 640-byte lens tables. */
int img_lens_init(const void *lens);
int img_set_lens_params(const void *params, const void *tables);

/* ---- shared memory (no caller in the stack) ---- */
#define IMG_SHM_KEY 5678
#define IMG_SHM_PATH "/tmp/aaa"
/* The segment's address; NULL when it cannot be had. */
void *img_shm_create(size_t size);
int img_shm_delete(void *addr);
int img_shm_write(void *addr, const void *data, size_t len);

#endif

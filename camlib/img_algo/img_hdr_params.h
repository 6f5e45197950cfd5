/* HDR parameters: the per-channel values that shape multi-exposure blending
 * and tone, validated and stored with change flags for the per-frame update
 * (img_hdr_frame.h) to act on. Every call returns 0, or -1 with one line on
 * standard output; out-of-range input is refused, never clamped. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H
#define CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H

#include <stddef.h>
#include <stdint.h>

#define IMG_HDR_IQ_PARAMS_SIZE 256
#define IMG_HDR_SENSOR_RECORD_SIZE 236
#define IMG_HDR_EXPOSURES 4
/* Entries of every linearisation and DRC table, one per knot. */
#define IMG_HDR_KNOTS 353

/* Exposure ratio in sixteenths (16 = 1x) and its boost factor. */
typedef struct img_hdr_blend_config {
	uint16_t ratio;
	uint16_t boost;
} img_hdr_blend_config;

typedef struct img_hdr_ce_log_config {
	int32_t encode;
	int32_t decode;
} img_hdr_ce_log_config;

/* A caller's linearisation (LUT) or DRC tables; while enabled they replace
 * the computed ones of the channel. */
typedef struct hdr_extern_table {
	uint32_t enable;
	uint16_t table[IMG_HDR_EXPOSURES][IMG_HDR_KNOTS];
} hdr_extern_table;

/* The exposure check of the service mode reads these. */
typedef struct img_hdr_ae_check {
	uint32_t mode; /* 0 off */
	uint32_t shutter;
	uint32_t agc_index;
	uint32_t dgain;
	void *log; /* FILE * the check writes to */
} img_hdr_ae_check;

typedef struct img_hdr_ratio {
	uint32_t num;
	uint32_t shift;
} img_hdr_ratio;

#ifdef __cplusplus
static_assert(sizeof(hdr_extern_table) == 2828, "hdr_extern_table");
static_assert(sizeof(img_hdr_ae_check) == 24, "AE check record");
#endif

/* ---- set-up ---- */
/* Four 140-byte channel_info records. */
int img_hdr_set_channel_info(const void *info);
/* Channels with HDR parameters, 1 to 4. */
int img_hdr_set_channel_num(int count);
int img_hdr_get_channel_num(void);
/* Per channel a 236-byte sensor record, read from 20 bytes in. */
int img_hdr_set_sensor_info(const void *records);
/* Per channel a 256-byte tuning block. */
int img_hdr_copy_iq_params(const void *blocks);

/* ---- per-channel flags; the getters give the flag or -1 ---- */
/* Channel 0..3, whatever the channel count. */
int img_hdr_request_update(int chan);
/* Enabling requests a recompute; disabling cancels one. */
int img_hdr_set_enable(int enable, int chan);
int img_hdr_get_enable(int chan);
int img_hdr_set_ce_log_enable(int enable, int chan);
int img_hdr_get_ce_log_enable(int chan);
int img_hdr_set_color_threshold_enable(int enable, int chan);
int img_hdr_get_color_threshold_enable(int chan);

/* ---- per-channel parameters, four words (one an exposure) unless named ---- */
int img_hdr_set_shutter_ratio(const img_hdr_blend_config *cfg, int chan);
/* Ratio in the low half, boost in the high half. */
int img_hdr_get_blend_config(uint32_t *out, int chan);
int img_hdr_set_alpha_value(const uint32_t *v, int chan);
int img_hdr_get_alpha_value(uint32_t *out, int chan);
int img_hdr_set_anti_flicker_threshold(const uint32_t *v, int chan);
int img_hdr_get_anti_flicker_threshold(uint32_t *out, int chan);
int img_hdr_set_threshold(const uint32_t *v, int chan);
int img_hdr_get_threshold(uint32_t *out, int chan);
int img_hdr_set_lut_mix(const uint32_t *v, int chan);
int img_hdr_get_lut_mix(uint32_t *out, int chan);
int img_hdr_set_drc_strength(const int32_t *v, int chan);
int img_hdr_get_drc_strength(int32_t *out, int chan);
int img_hdr_set_1st_strength(const uint32_t *v, int chan);
int img_hdr_get_1st_strength(uint32_t *out, int chan);
int img_hdr_set_2nd_strength(const uint32_t *v, int chan);
int img_hdr_get_2nd_strength(uint32_t *out, int chan);
int img_hdr_set_boost_strength(const uint32_t *v, int chan);
int img_hdr_get_boost_strength(uint32_t *out, int chan);
int img_hdr_set_ce_log_config(const img_hdr_ce_log_config *cfg, int chan);
/* {i32 encode, i32 decode} as one word, encode first. */
int img_hdr_get_ce_log_config(uint64_t *out, int chan);
/* R, Gr, Gb, B. */
int img_hdr_set_static_black_level(const int16_t *levels, int chan);
int img_hdr_get_static_black_level(int16_t *out, int chan);
/* One record a channel for the channel count. */
int img_hdr_set_ae_check(const img_hdr_ae_check *records);
int img_hdr_get_ae_check(img_hdr_ae_check *records);
/* Channel 0..3, whatever the channel count. */
int img_hdr_set_extern_lut(const hdr_extern_table *t, int chan);
int img_hdr_get_extern_lut(hdr_extern_table *out, int chan);
int img_hdr_set_extern_drc(const hdr_extern_table *t, int chan);
int img_hdr_get_extern_drc(hdr_extern_table *out, int chan);

/* ---- ratio helpers ---- */
/* The brightness ratio of exposure `from` to exposure `to` as
 * num / 2^shift; 1.0 when from >= to. */
int img_hdr_get_expo_ratio(img_hdr_ratio *out, int from, int to, int chan);
int img_hdr_calc_ratio(img_hdr_ratio *out, int from, int to, const img_hdr_blend_config *cfg);

/* The curve primitives the filter transmitters read come with the
 * parameters. */
#include "img_hdr_curves.h"

#endif

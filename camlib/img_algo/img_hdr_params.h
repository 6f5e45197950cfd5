/* HDR parameters: set-up entries, the per-channel parameters the filter
 * transmitters push and the curve primitives they read. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H
#define CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H

#include <stdint.h>

#define IMG_HDR_IQ_PARAMS_SIZE 256
#define IMG_HDR_SENSOR_RECORD_SIZE 236

/* Channels with HDR parameters, 1 to 4; -1 outside. */
int img_hdr_set_channel_num(int count);
int img_hdr_get_channel_num(void);
/* Per channel a sensor record; -1 for NULL. */
int img_hdr_set_sensor_info(const void *records);
/* Per channel a 256-byte tuning block. */
int img_hdr_copy_iq_params(const void *blocks);

/* Exposure ratio in sixteenths (16 = 1x) and its boost factor. */
typedef struct img_hdr_blend_config {
	uint16_t ratio;
	uint16_t boost;
} img_hdr_blend_config;

/* Per-channel parameters, four words (one an exposure) unless named. */
int img_hdr_set_shutter_ratio(const img_hdr_blend_config *cfg, int chan);
int img_hdr_set_alpha_value(const uint32_t *v, int chan);
int img_hdr_set_anti_flicker_threshold(const uint32_t *v, int chan);
int img_hdr_set_threshold(const uint32_t *v, int chan);
int img_hdr_set_lut_mix(const uint32_t *v, int chan);
int img_hdr_set_1st_strength(const uint32_t *v, int chan);
int img_hdr_set_2nd_strength(const uint32_t *v, int chan);
int img_hdr_set_boost_strength(const uint32_t *v, int chan);
/* R, Gr, Gb, B. */
int img_hdr_set_static_black_level(const int16_t *levels, int chan);
int img_hdr_get_ce_log_enable(int chan);
/* {i32 encode, i32 decode} as one word, encode first; -1 for NULL. */
int img_hdr_get_ce_log_config(uint64_t *out, int chan);

/* The second-strength curve factor of the channel, 1 to 65536. */
float img_hdr_2nd_strength_factor(int chan);
/* ((1 + a)^(min(x, M) / M) - 1) * M / a with M = 2^bits - 1, held to 0..M. */
float img_hdr_exp_expand(float x, int bits, float a);

#endif

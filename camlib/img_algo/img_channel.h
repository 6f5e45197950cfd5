/* The description of one video input that every 3A module works from. */
#ifndef CAMLIB_IMG_ALGO_IMG_CHANNEL_H
#define CAMLIB_IMG_ALGO_IMG_CHANNEL_H

#include <stddef.h>
#include <stdint.h>

#define IMG_MAX_CHANNELS 4

typedef struct channel_info {
	uint32_t tuning_key; /* word 0 */
	uint32_t expo_num;   /* word 1: exposures, 1 linear */
	uint32_t dsp_hdr;    /* word 2: the DSP combines the exposures */
	uint32_t hdr_method; /* word 3 */
	uint32_t hdr_curve;  /* word 4 */
	uint8_t reserved0[2];
	uint8_t vsrc_id;     /* byte 22 */
	uint8_t sensor_ctrl; /* byte 23 */
	uint16_t vin_width;  /* byte 24 */
	uint16_t vin_height;
	uint16_t main_width; /* byte 28 */
	uint16_t main_height;
	uint32_t vin_config;  /* word 8 */
	uint32_t pattern;     /* word 9 */
	uint32_t bayer;       /* word 10 */
	uint32_t hdr_flag;    /* word 11 */
	uint32_t rgb_ir;      /* word 12 */
	uint32_t rgb_ir_mode; /* word 13 */
	uint32_t follow_chan; /* word 14 */
	uint32_t yuv;         /* word 15 */
	uint32_t no_demosaic; /* word 16 */
	uint32_t reserved1[18];
} channel_info;

#ifdef __cplusplus
static_assert(sizeof(channel_info) == 140, "channel_info is 35 words");
static_assert(offsetof(channel_info, vsrc_id) == 22, "vsrc_id at byte 22");
static_assert(offsetof(channel_info, vin_width) == 24, "VIN width at byte 24");
static_assert(offsetof(channel_info, no_demosaic) == 64, "word 16");
#endif

#endif

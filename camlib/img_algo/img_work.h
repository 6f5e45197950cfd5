/* Work states and the service mode's per-frame 3A step; so far the HDR
 * shutter-ratio limits and boost table that the filter transmitters read
 * and set. */
#ifndef CAMLIB_IMG_ALGO_IMG_WORK_H
#define CAMLIB_IMG_ALGO_IMG_WORK_H

#include <stdint.h>

#define IMG_HDR_BOOST_TABLE_SIZE 256

/* Ratios in sixteenths; mode 0 a fixed ratio, any other the automatic one. */
typedef struct img_ratio_limits {
	uint32_t mode;
	uint32_t min;
	uint32_t max;
} img_ratio_limits;

/* The channel's limits in effect; -1 for NULL or a channel outside. */
int img_get_ratio_limits_in_effect(int chan, img_ratio_limits *out);
int img_set_ratio_limits_in_effect(int chan, const img_ratio_limits *limits);
/* 128 u16 boost factors, entry k at ratio 16 (k + 1). */
int img_set_hdr_boost_table(int chan, const uint8_t *table);

#endif

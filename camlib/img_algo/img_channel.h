/* The description of one video input that every 3A module works from, how
 * it is filled from the video driver's answers, the image-kernel defaults
 * each channel starts from, and the posting of a channel's configuration
 * through its ring of configurations. */
#ifndef CAMLIB_IMG_ALGO_IMG_CHANNEL_H
#define CAMLIB_IMG_ALGO_IMG_CHANNEL_H

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include "img_dsp.h"
#include "qvd_ioctl.h"

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

/* What the fill keeps of a channel beside its description. */
typedef struct img_channel_vin {
	uint32_t config_id;   /* the configuration being filled */
	uint32_t post_enable; /* post the channel's configurations */
	uint32_t gain_unit;   /* AAA information word 5 */
	qvd_vin_aaa_info aaa_info;
	qvd_vin_agc agc; /* the 40 bytes that follow the AAA information */
} img_channel_vin;

#ifdef __cplusplus
static_assert(offsetof(img_channel_vin, agc) == offsetof(img_channel_vin, aaa_info) + 152,
              "the AGC record follows the AAA information");
#endif

/* Fills the description of each VIN the system resources name (at most
 * four) from the driver's answers. A failed request ends the loop, and so
 * does a channel whose HDR description has no method: the channels after
 * it keep what they had. 0, or -1 when the loop ended early. */
int img_fill_channel_info(int fd, const qvd_system_resource *res, channel_info info[IMG_MAX_CHANNELS],
                          img_channel_vin vin[IMG_MAX_CHANNELS]);

/* Gives every channel of the filter pipeline its image-kernel defaults,
 * ContextId and FuncMode set in the caller's mode record; returns 0. */
int img_init_channel_dsp_config(int fd, img_dsp_mode *mode, const channel_info info[IMG_MAX_CHANNELS]);

/* Posting modes. */
#define IMG_POST_ALL 0
#define IMG_POST_CHANGED 1

/* Posts the configuration being filled of each channel whose post flag or
 * HDR module is on (and, changed only, whose context took something since
 * its last post), then moves the channel to the next configuration of its
 * ring, cloned from the posted one. Stops at the first failure: -1. */
extern "C" int img_post_channel_cfgs(int fd, int mode, const channel_info *info, int count,
                                     uint32_t *config_id, const uint32_t *post_enable);
/* The same over the library's own channels (img_lib.h). */
int img_post_cfg(int fd, int mode);

struct aaa_parse_out;
/* The noise estimate from a channel's parse result, smoothed with the last
 * one and handed to the filter pipeline as its noise level; returns it. */
uint32_t img_noise_estimate(const struct aaa_parse_out *parsed, int chan);

#endif

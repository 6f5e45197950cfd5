/* Auto white balance: one instance a channel, named "awb_gain_%d", that
 * finds the white points of its tuning zones among the AWB tiles (or takes
 * a preset, or a grey world) and moves the red and blue gains towards
 * neutral at an adaptive speed; and the store that creates, runs and
 * reaches the instances by channel mask. Gains are 1024 = 1.0, green always
 * 1024. No locks: only the camera library's per-frame thread and the
 * service mode call it. */
#ifndef CAMLIB_IMG_ALGO_AWB_H
#define CAMLIB_IMG_ALGO_AWB_H

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "img_channel.h"

#include <stddef.h>
#include <stdint.h>

/* What the count setter accepts; the store has room for one instance a
 * channel, so calls that reach instances refuse a count above
 * AWB_MAX_CHANNELS. */
#define AWB_MAX_INSTANCES 8
#define AWB_MAX_CHANNELS IMG_MAX_CHANNELS

#define AWB_NAME_SIZE 32
#define AWB_PRESETS 12
#define AWB_CUSTOM_PRESET 10
#define AWB_FAIL_PRESET 3
#define AWB_ZONES 20
#define AWB_LIGHT_WEIGHTED_ZONES 12
#define AWB_ENVS 12
#define AWB_ENV_AUTO 12
#define AWB_TILES 1024
#define AWB_GRID 32
#define AWB_UNITY 1024u
#define AWB_CALIB_THRESHOLD_MAX 600

/* Methods and calibration-correction directions. */
#define AWB_METHOD_WHITE_POINT 0
#define AWB_METHOD_CENTRE_GREY 1
#define AWB_METHOD_WEIGHTED_GREY 2
#define AWB_CORRECT_MUL 0
#define AWB_CORRECT_DIV 1

/* A white-point zone: a box and four lines in the (red gain, blue gain)
 * plane; b >= offset + slope x r / 1024 for lines 0 and 2, <= for 1 and 3.
 * Weight above 0: a candidate; below 0: excludes its tiles; 0: ignored. */
typedef struct awb_zone {
	int16_t r_min, r_max, b_min, b_max;
	struct {
		int16_t slope, offset;
	} line[4];
	int16_t weight;
} awb_zone;

/* The AWB part of a channel's 3A configuration block. */
typedef struct awb_tuning {
	uint32_t preset[AWB_PRESETS][3];
	uint16_t zone_head; /* not read */
	awb_zone zone[AWB_ZONES];
	uint8_t env[AWB_ZONES][2]; /* first zone (0-based), zone count */
	uint8_t spare[2];
} awb_tuning;

/* A channel's 3A configuration blocks lie this far apart. */
#define AWB_TUNING_STRIDE 8832

/* An instance's data block. */
typedef struct awb_data {
	char name[AWB_NAME_SIZE];
	uint32_t method;
	uint32_t mode; /* 0 automatic, 1 to 11 a preset */
	uint32_t preset[AWB_PRESETS][3];
	uint16_t zone_head;
	awb_zone zone[AWB_ZONES];
	uint8_t light_weight[AWB_ZONES];
	uint8_t env[AWB_ZONES][2];
	uint32_t warmth_thr[12];
	uint8_t warmth_scale[6]; /* red, blue at low, middle, high; 128 = 1.0 */
	uint8_t warmth_spare[2];
	uint32_t grey_gain[3];
	uint32_t calib_ref[4][3]; /* unit low, unit high, golden low, golden high */
	uint32_t calib_factor[2][3];
	uint16_t calib_thr[2]; /* red, blue */
	uint8_t luma_range[2];
	int16_t countdown;
	uint8_t first_run;
	uint32_t speed;
	uint8_t stable;
	uint8_t weight; /* of the new gains, 1 to 128 */
	uint16_t fail_count;
	uint32_t fail_remedy;
	uint32_t env_mode; /* 0 to 11, 12 automatic */
	uint32_t last_gain[3];
	uint32_t jump_thr[2]; /* A, B */
	uint8_t startup;
	uint8_t reset_last;
	uint8_t fast, slow;
	uint32_t step;
	uint32_t last_distance, last_change;
	uint32_t equal_count;
	uint32_t preload[3];
	uint8_t tile_weight[AWB_TILES];
} awb_data;

typedef struct awb_instance awb_instance;

/* The operation slots; slot 0 stays empty. */
struct awb_instance {
	void *slot0;
	int (*control)(awb_instance *, aaa_parse_result *stats, cl_aaa_block *out);
	int (*calib_correct)(awb_instance *, uint32_t gains[3], uint32_t direction);
	awb_data *(*get_data)(awb_instance *);
	int (*set_luma_range)(awb_instance *, uint8_t min, uint8_t max);
	int (*set_speed)(awb_instance *, uint32_t speed);
	int (*set_method)(awb_instance *, uint32_t method);
	uint32_t (*get_method)(awb_instance *);
	int (*set_mode)(awb_instance *, uint32_t mode);
	uint32_t (*get_mode)(awb_instance *);
	int (*set_warmth)(awb_instance *, const uint8_t block[8]);
	int (*set_custom_gain)(awb_instance *, const uint32_t gains[3]);
	int (*get_gray_gain)(awb_instance *, uint32_t out[3]);
	int (*set_fail_remedy)(awb_instance *, uint32_t remedy);
	int (*set_calibration)(awb_instance *, const uint32_t *unit, const uint32_t *golden, int32_t k);
	int (*set_calib_threshold)(awb_instance *, uint16_t red, uint16_t blue);
	int (*set_env)(awb_instance *, uint32_t env);
	uint32_t (*get_env)(awb_instance *);
	int (*set_tile_weights)(awb_instance *, const uint8_t weights[AWB_TILES]);
	awb_data *data;
};

/* The store's record of a channel. */
typedef struct awb_chan_store {
	uint32_t enable;     /* the instance was created */
	uint32_t pending;    /* preload gains wait for the next instance */
	uint32_t preload[3]; /* red, green, blue */
} awb_chan_store;

#ifdef __cplusplus
static_assert(sizeof(awb_zone) == 26, "white-point zone");
static_assert(sizeof(awb_tuning) == 708, "AWB tuning block");
static_assert(offsetof(awb_tuning, zone_head) == 144, "zones after the presets");
static_assert(offsetof(awb_tuning, env) == 666, "environment ranges after the zones");
static_assert(sizeof(awb_data) == 2012, "instance data block");
static_assert(offsetof(awb_data, warmth_thr) == 768, "warmth thresholds");
static_assert(offsetof(awb_data, speed) == 920, "speed");
static_assert(offsetof(awb_data, tile_weight) == 988, "tile weights last");
static_assert(sizeof(awb_instance) == 160, "instance object");
static_assert(sizeof(awb_chan_store) == 20, "store record");
#endif

/* Instances to run, at most AWB_MAX_INSTANCES; -1 above. */
int awb_set_instance_count(int count);
int awb_get_instance_count(void);
/* Copies the count's channel_info records; -1 for NULL. */
int awb_set_channel_info(const channel_info *records);
/* 0 when n is positive, else -1 with a message. */
int awb_check_flow_num(int32_t n);

/* One instance a channel from its tuning (channel c's block at
 * tuning + c x AWB_TUNING_STRIDE), started from the gains the store holds
 * pending for it. */
int awb_create_instances(const void *tuning);
int awb_destroy_instances(void);
/* The per-frame run over the channels' statistics (their AWB tiles are
 * converted in place for HDR channels) into their cl_aaa_block records;
 * then each channel takes the white-balance part of the channel it
 * follows. */
int awb_run_instances(aaa_parse_out *stats, cl_aaa_block *blocks);

/* Per-channel arrays indexed by channel, channels chosen by mask bits.
 * Calls that reach instances return -1 when the count is 0 or above
 * AWB_MAX_CHANNELS, when an instance is missing, or when a slot refused. */
int awb_set_enables(const uint32_t *enables, uint32_t mask);
int awb_get_enables(uint32_t *out);
int awb_set_speed_by_mask(const uint8_t *speeds, uint32_t mask);
int awb_set_method_by_mask(const uint32_t *methods, uint32_t mask);
int awb_get_method_all(uint32_t *out);
int awb_set_mode_by_mask(const uint32_t *modes, uint32_t mask);
int awb_get_mode_all(uint32_t *out);
int awb_set_env_by_mask(const uint32_t *envs, uint32_t mask);
int awb_get_env_all(uint32_t *out);
int awb_set_fail_remedy_by_mask(const uint32_t *remedies, uint32_t mask);
/* A red and a blue threshold a channel. */
int awb_set_calib_threshold_by_mask(const uint16_t *thresholds, uint32_t mask);
/* Triples; a channel's high references follow the count's triples after
 * its low ones. */
int awb_set_calibration_by_mask(const uint32_t *unit, const uint32_t *golden, uint32_t mask);
int awb_set_custom_gain_by_mask(const uint32_t *gains, uint32_t mask);
int awb_get_gray_gain_all(uint32_t *out);
/* Corrects each channel's triple in place in its own direction. */
int awb_calib_correct_all(uint32_t *gains, const uint32_t *direction);
int awb_set_tile_weights_by_mask(const uint8_t *weights, uint32_t mask);
/* Filter 1's warmth scales (8 bytes) for one channel. */
int awb_set_warmth_channel(const uint8_t *block, int chan);
void awb_set_debug_level(uint32_t level);

/* The channel's store record; NULL outside 0..3. */
awb_chan_store *awb_get_chan_store(int chan);
/* The channel's instance; NULL when there is none. */
awb_instance *awb_get_instance(int chan);
/* The gains of the channel now in effect: those pending for the next
 * instances, else those the last run put out, else 1024 each. */
int awb_get_current_gains(int32_t chan, uint32_t gains[3]);

/* The convergence control of one evaluation: from the previous output and
 * the new gains (warmth-adjusted in place) it sets the blend weight, the
 * frame countdown and the stable flag. */
void awb_converge(awb_data *d, const uint32_t prev[3], uint32_t next[3]);

#endif

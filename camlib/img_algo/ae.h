/* Auto-exposure instances of the 3A library's service mode: one a channel,
 * each metering the channel's statistics against a target and walking a
 * piecewise path of exposure lines (shutter, AGC gain, iris) with a digital
 * gain for what the lines cannot give. The daemon creates none; it reaches
 * only the instance count and the filter's target setter. */
#ifndef CAMLIB_IMG_ALGO_AE_H
#define CAMLIB_IMG_ALGO_AE_H

#include "cl_aaa_block.h"
#include "img_channel.h"

#include <stddef.h>
#include <stdint.h>

#define AE_MAX_INSTANCES 8
#define AE_MAX_LINES 32
#define AE_TILES 96
#define AE_NAME_SIZE 16
#define AE_DATA_SIZE 1128
#define AE_SLOTS 27
/* Iris exposure table: indexes 0 to AE_IRIS_MAX in 3/128 dB steps. */
#define AE_IRIS_MAX 2521
/* Linear gains and ratios: 4096 = 1.0. */
#define AE_UNITY 4096u
/* What the luma metering answers for statistics it cannot use. */
#define AE_LUMA_NONE 0xffffu

struct aaa_parse_result;
struct aaa_parse_out;

/* A point of exposure: shutter index, AGC index, iris index. */
typedef struct ae_point {
	uint32_t shutter;
	uint32_t agc;
	uint32_t iris;
} ae_point;

/* Along a line one of the three changes. */
typedef struct ae_line {
	ae_point start;
	ae_point end;
} ae_line;

/* What an instance is made from for its channel; the tables are copied. */
typedef struct ae_config {
	const ae_line *lines;
	uint32_t line_num;        /* at most AE_MAX_LINES */
	const uint32_t *agc_gain; /* linear gain per AGC index, 4096 = 1.0 */
	uint32_t agc_num;         /* covers 0 to the maximum analog index */
	const uint32_t *shutter;  /* shutter value per index, linear beyond */
	uint32_t shutter_num;
	uint32_t sensor_gain_max; /* first word of the channel's sensor record */
	uint32_t agc_step;        /* AGC step word: dB per index << 24 */
} ae_config;

/* The exposure result, entry 0 of the channel's cl_aaa_block. */
typedef cl_aaa_exposure ae_result;

typedef struct ae_instance ae_instance;
typedef struct ae_data ae_data;

typedef uint16_t (*ae_luma_fn)(ae_instance *ae, const struct aaa_parse_result *stats);
typedef uint16_t (*ae_target_fn)(ae_instance *ae);
/* (the cursor is 0, luma - target, skip out): a skip of 1 ends the frame. */
typedef int (*ae_decision_hook)(int at_start, int32_t delta, uint8_t *skip);

/* An instance: its 27 operations in slot order, then its data. */
struct ae_instance {
	int (*start)(ae_instance *ae, const ae_point *point, uint32_t line, uint16_t target);
	int (*run)(ae_instance *ae, const struct aaa_parse_result *stats, cl_aaa_block *block);
	int (*load_lines)(ae_instance *ae, const ae_config *cfg);
	int (*set_target)(ae_instance *ae, uint16_t target);
	int (*set_target_ratio)(ae_instance *ae, uint16_t ratio);
	uint16_t (*get_effective_target)(ae_instance *ae);
	uint16_t (*get_target_ratio)(ae_instance *ae);
	int (*set_weight_mode)(ae_instance *ae, uint8_t mode);
	int (*set_metering_mode)(ae_instance *ae, uint8_t mode);
	int (*set_tile_weights)(ae_instance *ae, const uint32_t weights[AE_TILES]);
	int (*set_line_count)(ae_instance *ae, uint16_t count);
	const char *(*get_name)(ae_instance *ae);
	int (*set_debug_name)(ae_instance *ae, const char *name);
	uint16_t (*get_limit_low)(ae_instance *ae);
	uint16_t (*get_limit_high)(ae_instance *ae);
	int (*set_speed)(ae_instance *ae, uint8_t level);
	ae_luma_fn luma_stat;
	ae_target_fn get_target;
	uint8_t (*get_state)(ae_instance *ae);
	int (*set_tolerance)(ae_instance *ae, uint16_t tolerance);
	int (*set_frame_skip)(ae_instance *ae, uint8_t gain_skip, uint8_t shutter_skip);
	uint16_t (*get_agc_index)(ae_instance *ae);
	uint8_t (*get_cursor)(ae_instance *ae);
	uint16_t (*get_luma)(ae_instance *ae);
	uint16_t (*get_rgb_luma)(ae_instance *ae);
	ae_decision_hook decision_hook;
	int (*set_custom_limits)(ae_instance *ae, const uint32_t limits[4]);
	ae_data *data;
};

#ifdef __cplusplus
static_assert(sizeof(ae_instance) == (AE_SLOTS + 1) * sizeof(void *), "27 slots and the data");
#endif

/* Per instance: replacements of the metering and target slots (NULL keeps
 * the built-in one) and the decision hook (always stored). */
typedef struct ae_hooks {
	ae_luma_fn luma;
	ae_target_fn target;
	ae_decision_hook decision;
} ae_hooks;

/* Instances to run, 1 to AE_MAX_INSTANCES; -1 outside. */
int ae_set_instance_num(int count);
int ae_get_instance_num(void);
/* Copies the instance count's channel descriptions. */
int ae_set_channel_info(const channel_info *records);
int ae_set_enable(const uint32_t *values, uint32_t mask);
int ae_get_enable(uint32_t *values);
int ae_set_hooks(const ae_hooks *records);
/* A channel's custom limits {lowest shutter, highest shutter, lowest AGC,
 * highest AGC}, taken by the next creation; NULL: none. */
int ae_set_custom_limits(int chan, const uint32_t limits[4]);
/* One configuration per instance. */
int ae_create_instances(const ae_config *cfgs);
int ae_destroy_instances(void);
ae_instance *ae_get_instance(int index);
void ae_set_debug_level(uint32_t level);

/* One frame: every enabled instance of a channel with valid statistics of
 * its own; then each channel takes exposure entry 0 of the channel it
 * follows. Nothing while an exposure check is on. */
int ae_run(struct aaa_parse_out *stats, cl_aaa_block *blocks);
/* The service mode's diagnostic: forced exposures from the HDR module's
 * check records, with the luma they give written to the records' logs. */
int ae_check_exposure(const struct aaa_parse_out *stats, cl_aaa_block *blocks);

/* Mask setters (bit i: instance i) and getters (every instance): -1 while
 * an instance is missing. */
int ae_set_weight_mode(const uint8_t *values, uint32_t mask);
int ae_set_frame_skip(const uint8_t *gain_skips, const uint8_t *shutter_skips, uint32_t mask);
int ae_set_tolerance(const uint16_t *values, uint32_t mask);
int ae_set_line_count(const uint16_t *values, uint32_t mask);
int ae_set_target_ratio(const uint16_t *values, uint32_t mask);
int ae_set_speed(const uint8_t *values, uint32_t mask);
int ae_set_metering_mode(const uint8_t *values, uint32_t mask);
/* AE_TILES words per instance. */
int ae_set_tile_weights(const uint32_t *values, uint32_t mask);
int ae_set_lines(const ae_config *cfgs, uint32_t mask);
/* Each channel takes the AGC index of the channel it follows. */
int ae_get_agc_index(uint16_t *values);
int ae_get_state(uint8_t *values);
int ae_get_cursor(uint8_t *values);
int ae_get_luma(uint16_t *values);
int ae_get_rgb_luma(uint16_t *values);
int ae_get_target_ratio(uint16_t *values);
int ae_get_target(uint16_t *values);

/* The channel's target luma from filter 0's eight target values; nothing
 * while no instance exists. Returns the channel. */
int ae_set_target_from_filter(const uint16_t *targets, int chan);

/* Instance operations reached outside their slots. */
int ae_run_video_exposure(ae_instance *ae, const struct aaa_parse_result *stats, cl_aaa_block *block);
int ae_decide_video_exposure(ae_instance *ae, uint32_t ratio);
uint16_t ae_luma_stat(ae_instance *ae, const struct aaa_parse_result *stats);
/* The point of line `line` with the exposure of `from`; -1 when an iris
 * index would pass AE_IRIS_MAX or the line starts at shutter 0. */
int ae_get_transit_point(ae_instance *ae, uint32_t line, const ae_point *from, ae_point *out);
/* The current point. */
ae_point ae_get_point(ae_instance *ae);

/* Iris exposure table entry g(i) (16.16) and factor g(i)^2 / 65536. */
uint32_t ae_iris_exposure(uint32_t index);
uint64_t ae_iris_factor(uint32_t index);
/* The built-in tile-weight tables 0 (spot), 1 (centre), 2 (average). */
const uint8_t *ae_tile_weight_table(int table);

#endif

/* Contrast auto focus of the 3A library's service mode: per channel an
 * instance that measures two focus values from the AF tiles, keeps their
 * history against focus positions and asks the lens loop for focus and
 * zoom motor steps. Modes: continuous, single, manual, calibration and a
 * focus sweep. */
#ifndef CAMLIB_IMG_ALGO_AF_H
#define CAMLIB_IMG_ALGO_AF_H

#include "cl_aaa_block.h"

#include <stddef.h>
#include <stdint.h>

#define AF_MAX_INSTANCES 4
#define AF_NAME_SIZE 32
#define AF_TILE_WEIGHTS 96
/* The tiles the measurement uses: the first ones of the parse result. */
#define AF_USED_TILES 40
#define AF_ZOOM_ROWS 32
#define AF_LENS_CTRL_WORDS 38
#define AF_CALIBRATION_SIZE 536

#define AF_MODE_CONTINUOUS 0
#define AF_MODE_SINGLE 1
#define AF_MODE_MANUAL 3
#define AF_MODE_CALIBRATION 4
#define AF_MODE_SWEEP 5

struct aaa_parse_result;
struct aaa_parse_out;

/* The AF configuration, shared by the instances. */
typedef struct af_config {
	uint32_t mode;
	uint32_t weight[AF_TILE_WEIGHTS];
	uint32_t zoom; /* low byte: the zoom index */
	int32_t focus; /* manual target; continuous AF writes its position back */
} af_config;

/* The lens parameter table of a channel (at byte 7792 of its 3A
 * configuration block): a header and one row per zoom index. */
typedef struct af_lens_row {
	uint16_t speed_cap;
	uint16_t unused;
	uint16_t settle_frames;
	uint16_t gain_threshold; /* AGC index steps */
	uint8_t coarse_step;
	uint8_t fine_step;
	uint8_t coarse_drop; /* percent in continuous AF, per mille in single AF */
	uint8_t fine_drop;   /* per mille */
} af_lens_row;

typedef struct af_lens_params {
	int16_t speed;
	uint8_t zoom;
	uint8_t unused[9];
	uint16_t min_range; /* focus index units */
	af_lens_row row[AF_ZOOM_ROWS];
} af_lens_params;

/* The focus table of a channel (at byte 8192 of the block): per zoom index
 * pulse = base / 4 + (index x slope) >> 15. */
typedef struct af_focus_row {
	int32_t unused0;
	int32_t slope; /* Q15 pulses per focus index */
	int32_t base;  /* quarter pulses at focus index 0 */
	int32_t zoom_pos;
	int32_t unused4;
} af_focus_row;

/* The output record, from byte 156 of the channel's cl_aaa_block. */
typedef struct af_output {
	uint8_t focus_move;
	uint8_t zoom_move;
	int32_t focus_steps; /* the sign is the direction */
	int32_t zoom_steps;
	int16_t speed;
	int16_t lens_ctrl[AF_LENS_CTRL_WORDS];
	uint8_t stat_request; /* set the AF statistics from lens_ctrl */
} af_output;

#ifdef __cplusplus
static_assert(sizeof(af_config) == 99 * 4, "mode, weights, zoom, focus");
static_assert(sizeof(af_lens_row) == 12, "lens row");
static_assert(sizeof(af_lens_params) == 398, "lens parameter table");
static_assert(offsetof(af_lens_params, min_range) == 12, "minimum search range at 12");
static_assert(sizeof(af_focus_row) * AF_ZOOM_ROWS == 640, "focus table");
static_assert(sizeof(af_output) == CL_AAA_AF_OUT_SIZE, "output record");
static_assert(offsetof(af_output, focus_steps) == 4 && offsetof(af_output, speed) == 12 &&
                  offsetof(af_output, lens_ctrl) == 14 && offsetof(af_output, stat_request) == 90,
              "output record layout");
#endif

typedef struct af_instance {
	int (*init)(struct af_instance *af, af_config *cfg, const af_lens_params *lens,
	            const af_focus_row *focus, af_output *out);
	int (*run)(struct af_instance *af, af_config *cfg, const struct aaa_parse_result *stats,
	           af_output *out, const cl_aaa_block *block, int skip);
	const char *(*get_name)(struct af_instance *af);
	char *name;
	struct af_state *state;
} af_instance;

/* Where an instance's search stands. */
typedef struct af_status {
	int32_t state;
	int32_t current; /* focus index */
	int32_t target;
	int32_t peak;
	float zoom; /* tracked zoom position */
} af_status;

/* Instances to run, 0 to AF_MAX_INSTANCES; -1 outside. */
int af_set_instance_num(int count);
int af_get_instance_num(void);
/* One 3A configuration block and one cl_aaa_block per instance. */
int af_create_instances(af_config *cfg, const uint8_t *const *aaa_cfgs, cl_aaa_block *blocks);
int af_destroy_instances(void);
int af_set_enable(const uint32_t *values, uint32_t mask);
int af_run(af_config *cfg, const struct aaa_parse_out *stats, cl_aaa_block *blocks, int skip);
af_instance *af_get_instance(int index);
int af_get_status(int index, af_status *out);

/* The instance's frame (its run slot): 0, or -1 for an invalid mode. */
int af_control(af_instance *af, af_config *cfg, const struct aaa_parse_result *stats, af_output *out,
               const cl_aaa_block *block, int skip);
/* Moves the focus to the target and the zoom to the tracked position. */
int zoom_move(af_instance *af, af_output *out);
/* Single AF's estimate of how far the peak lies behind the last position. */
int32_t af_get_focus_speed(void);
/* {a, b}: lower limit a - 50, upper limit b. */
int af_set_search_limits(const int32_t limits[2]);
int af_set_calibration_table(const void *table);
int af_get_calibration_table(void *table);
/* The defaults of the configuration record. */
void af_config_default(af_config *cfg);

/* Focus index and motor pulse on a focus-table row. */
int32_t af_index_to_pulse(const af_focus_row *row, int32_t index);
int32_t af_pulse_to_index(const af_focus_row *row, int32_t pulse);

#endif

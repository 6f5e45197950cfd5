#pragma once
// The day/night step of one stream: decides from the exposure level (and
// optionally a light sensor and the colour in the SoC statistics) whether the
// scene is lit (day: IR-cut filter in, colour) or dark (night: filter out,
// black-and-white), moves the filter through the platform, switches the
// camera library's black-and-white mode, publishes the state (IsDay,
// IsAboveIlluminanceLevel, the day flag in the info pool, the DayNightVision
// and AboveIlluminanceLevel events), damps oscillation, and can ask the
// power service for the filter's power before it moves.

#include <glib.h>
#include <stdint.h>

#include "core/control_job.h"
#include "libcl.h"

struct algo_step;
struct control;
struct control_timeout;
struct light_sensor;
struct param_value;
struct param_callback;
struct prodconf;
struct prodconf_schema;
struct algo_cl_module;

#define DAYNIGHT_NONE 255
#define DAYNIGHT_DAY 1
#define DAYNIGHT_NIGHT 0
#define DAYNIGHT_THRESHOLD_OFF ((int64_t)2147483647)

// Illuminance states.
enum {
	DAYNIGHT_UNDECIDED = 0,
	DAYNIGHT_LIT = 1,
	DAYNIGHT_DARK = 2,
};

// Q14 values say so; the others are plain numbers.
struct daynight_settings {
	float hysteresis_factor;
	int32_t d2n_shift_exp_lvl_fraction;
	int32_t slider_factor;
	int32_t chroma_value_threshold;
	int32_t ir_threshold;
	int32_t chroma_quotient_threshold; // Q14
	int32_t day_night_step_rate;
	int32_t day_to_night_time_limit;
	int32_t night_to_day_time_limit;
	int32_t oscillation_time;
	float oscillation_reduction_factor;
	uint8_t prevent_oscillations;
	int32_t threshold_reset_time;
	uint8_t override_max_gain;
	int32_t max_lin_gain;
	int32_t max_hdr_gain;
	uint8_t action_engine_triggered_shift;
	uint8_t map_slider_to_min_max_exposure;
	uint8_t use_ir_light_detection;
	uint8_t power_control_enabled;
	int32_t ir_cut_filter_power; // Q14 watts
	uint8_t use_light_sensor;
	int32_t night_to_day_fraction;
	int32_t night_to_day_min_threshold;
	int32_t night_to_day_max_threshold;
	int32_t light_measure_delay;
	int32_t max_light_measure_from_leds;
	int32_t max_exposure_ratio; // Q14
	int32_t min_exposure_limit;
	int32_t forced_n2d_shift_ev_level;
	uint8_t use_light_sensor_dyn_offset;
	int32_t max_dyn_offset;
	uint8_t normalize_color_ratios_by_wb_gains;
	uint8_t ignore_lightlogic_switch;
	// The light sensor's read operation when the channel has one (set at create).
	int (*illuminance)(struct light_sensor *sensor);
};

// The step's local data: the reference count and the settings record first,
// then a copy of the settings the step works with.
struct daynight_state {
	uint32_t refs;
	void *settings_record;
	struct daynight_settings s;
	int32_t stream_id;
	struct control *engine;
	uint8_t user_mode;   // IrCutFilter: 0 "no", 1 "yes", 2 "auto"
	uint8_t light_logic; // IrCutFilterState
	uint8_t applied;     // DAYNIGHT_DAY, DAYNIGHT_NIGHT or DAYNIGHT_NONE
	uint8_t pending;     // the state a power-gated switch waits to apply
	int32_t shift_level;
	uint8_t shift_level_enabled;
	int32_t ill_state;
	uint8_t timer_running;
	int64_t timer_start; // microseconds of the step's clock
	int64_t last_day_switch;
	int64_t last_night_switch;
	uint8_t just_switched_to_night;
	uint8_t colour_hold;
	int32_t oscillations;
	int32_t ir_counter;
	int64_t base_day_threshold;
	int64_t night_threshold;
	int64_t day_threshold;
	int32_t min_exposure;
	int32_t max_exposure;
	uint8_t max_cached;
	int64_t last_max_used;
	int64_t last_lo;
	int64_t last_hi;
	int32_t last_above;
	int32_t last_br_ratio; // shown by the oscillation message; nothing fills it
	int32_t lux;
	int32_t led_off;
	int32_t light_threshold;
	int32_t dyn_base;
	int32_t dyn_offset;
	uint8_t measure_requested;
	int32_t measure_evaluations;
	uint32_t hdr_mode;
	uint8_t have_stats;
	libcl_stats stats;
	struct control_timeout *timeout;
	uint8_t power_pending;
	uint8_t power_sufficient;
	uint32_t granted;
	uint8_t consumer_registered;
	uint8_t initialised;
	GList *callbacks; // of step_param_cb
};

extern const struct prodconf_schema daynight_settings_schema;

// The module's own part of the create: the settings copied (with the light
// sensor's read operation, a slider factor of 0 taken as 5 and the rate
// clamped to 1..10) and the 5-second timeout started.
void daynight_specifics(struct prodconf *conf, struct control *engine, int32_t stream_id,
                        struct algo_step *step, void *settings);
int daynight_init(struct algo_step *step, struct control *engine);
int daynight_vorsalind_run(struct algo_step *step, struct control *engine);
int daynight_destroy(struct algo_step *step, struct control *engine);

// 0 when the filter was moved, or a move waits for a requested grant; -1
// when it could not be moved or no power could be requested.
int daynight_set_state(struct daynight_state *state, struct control *engine, int32_t stream_id, int wanted);
// The maximum exposure limited by the maximum gain over the exposure at
// unity gain (info-pool 67); M itself when that cannot be read.
int64_t daynight_limit_max_exposure(struct daynight_state *state, int64_t max_exposure);
void daynight_update_thresholds(struct daynight_state *state, int64_t max_exposure);
// The thresholds of the mapped slider for exposure limits lo and hi.
void daynight_map_thresholds(struct daynight_state *state, int64_t lo, int64_t hi);
// Whether a colour measurement shows daylight; moves the IR-detection
// counter and gives the colour verdict (1 day).
int daynight_colour_verdict(struct daynight_state *state, int32_t quotient, int32_t deviation);

void daynight_power_granted_cb(void *user_data, uint32_t granted);
int set_ir_cut_filter_user_mode(void *engine, void *block, struct param_value *value,
                                struct param_callback *callback);
int daynight_shift_level_cb(void *engine, void *block, struct param_value *value,
                            struct param_callback *callback);
int daynight_light_logic_cb(void *engine, void *block, struct param_value *value,
                            struct param_callback *callback);

// The row of the algorithm module table.
extern const struct algo_cl_module daynight_vorsalind_module;

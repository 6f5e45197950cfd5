#pragma once
// Smart auto exposure: per stream, chooses shutter and gain (long and short
// for a WDR sensor) from each image-statistics record, limits how fast they
// move, applies them through the sensor and the camera library and publishes
// them (info pool, "sensor_data", the HDR-threshold record of data type 162).

#include <glib.h>
#include <stdint.h>

#include "algostep/algo_cl_modules.h"
#include "core/control_job.h"

struct algo_step;
struct control;
struct datacache;
struct hist_analysis;
struct image_stats_record;
struct param_callback;
struct param_value;
struct platform;
struct prodconf_schema;
struct sensor;

#define SMART_AE_INPUT_STATS 154
#define SMART_AE_INPUT_MOTION 119
#define SMART_AE_OUTPUT 162

#define AE_LONG 0
#define AE_SHORT 1

#define SMART_AE_PROGRAM_MAX 300
#define SMART_AE_SCHEDULE_MAX 30

// A list from the configuration with its element count.
struct ae_q14_list {
	int32_t *values; // Q14
	uint64_t count;
};
struct ae_float_list {
	float *values;
	uint64_t count;
};
struct ae_int_list {
	int32_t *values;
	uint64_t count;
};

struct smart_ae_settings {
	int32_t sht_gain_delay;
	int32_t show_ae_stats;
	uint8_t ae_extend_long_frame;
	uint8_t ae_prioritize_saturation;
	uint8_t ae_smooth_adjust;
	struct ae_q14_list ae_responsiveness_long;
	struct ae_q14_list ae_responsiveness_short;
	uint8_t ae_enable_dual_gain;
	float ae_dual_gain_max_factor;
	uint8_t ae_enable_dual_gain_down;
	float ae_dual_gain_max_factor_down;
	struct ae_q14_list ae_short_target_map;
	struct ae_q14_list ae_target_map;
	struct ae_q14_list ae_saturation_map;
	struct ae_q14_list ae_gain_map;
	struct ae_q14_list ae_change_map;
	struct ae_q14_list ae_change_speed;
	struct ae_q14_list ae_change_speed_short;
	struct ae_q14_list ae_change_speed_short_up;
	float ae_hysteresis;
	float ae_min_ev_change;
	float ae_min_ev_change_short;
	float ae_max_ef_change;
	int32_t ae_cloop_frame_skip;
	int32_t ae_max_agc;
	struct ae_float_list ae_plateau_gain_arr;
	struct ae_int_list ae_plateau_exp_arr;
	int32_t ae_limit_user_max_shutter;
	int32_t ae_delay;
	int32_t ae_delay_limit;
	float ae_etr_max;
	float ae_high_sat_adjust_limit;
	float ae_high_sat_threshold;
	float ae_high_sat_max_mix;
	int32_t ae_high_sat_gain_limit;
	float ae_low_dyna_adjust_limit;
	struct ae_q14_list ae_low_dyna_range;
	int32_t ae_low_dyna_gain_limit;
	struct ae_q14_list ae_gain_correction_map;
	struct ae_q14_list ae_gain_correction;
	struct ae_q14_list ae_shutter_correction_map;
	struct ae_q14_list ae_shutter_correction;
	uint8_t ae_adjust_motion_blur;
	float max_db_offset_exprio;
	uint8_t ae_enable_dynamic_lut;
	uint8_t ae_high_gain_force_update;
	struct ae_q14_list lut_ef_map;
	struct ae_q14_list lut_ef_weight_map;
	struct ae_q14_list lut_gain_map;
	struct ae_q14_list lut_long_fill_map;
	struct ae_q14_list lut_long_gamma_map;
	struct ae_q14_list lut_long_gamma_scale_map;
	struct ae_q14_list lut_long_hist_blend_map;
	struct ae_q14_list lut_log_map;
	struct ae_q14_list lut_log_scale_map;
	struct ae_q14_list lut_DRC_map;
	struct ae_q14_list lut_low_boost_ef;
	struct ae_q14_list lut_low_boost_max_gain;
	struct ae_q14_list lut_DRC_gain_map;
	struct ae_q14_list lut_min_effective_ef;
	struct ae_q14_list lut_y_start_map;
	struct ae_q14_list lut_x_break_point_map;
	struct ae_q14_list lut_power_drc_map;
	struct ae_q14_list lut_y_low_end_map;
	struct ae_q14_list lut_x_low_end_map;
	struct ae_q14_list lut_blend_plateau_map;
	struct ae_q14_list lut_x_low_end_gain_scaling_map;
	struct ae_q14_list lut_y_low_end_gain_scaling_map;
	struct ae_q14_list lut_hdr_threshold_map;
	struct ae_q14_list lut_long_fill_sat_sensitivity_map;
	struct ae_q14_list minimum_long_fill_map;
	struct ae_q14_list lut_long_fill_sat_map;
	struct ae_q14_list lut_long_fill_sat_sensitivity_scale_map;
	struct ae_q14_list lut_long_fill_sat_sensitivity_gain_map;
	uint8_t lut_enable_adaptive_threshold;
	uint8_t lut_3_segments;
	uint8_t lut_dynamic_drc;
	uint8_t lut_drc_smooth_blend;
	uint8_t lut_dynamic_short_matching;
	float lut_IR_min_effective_ef;
	uint8_t ae_target_secure;
	uint8_t ae_near_sat_target_short_secure;
	struct ae_q14_list ae_gain_gap_map;
	float ae_gain_ratio;
	uint8_t ae_enable_sensor_datacache;
	uint8_t libcl_gain_shutter_check;
	uint8_t smart_ae_bwc_mode;
};

// One exposure (long, or the short one of a WDR sensor). Shutters are
// microseconds, gains linear, EVs shutter x gain.
struct smart_ae_exposure {
	int32_t shutter;
	int32_t want_shutter;
	int32_t min_shutter;
	int32_t max_shutter;
	int32_t sensor_min_shutter;
	int32_t sensor_max_shutter;
	int32_t lines;
	double gain;
	double want_gain;
	double min_gain;
	double max_gain;
	double sensor_min_gain;
	double sensor_max_gain;
	double gain_db;
	double want_gain_db;
	double min_gain_db;
	double max_gain_db;
	double sensor_min_gain_db;
	double sensor_max_gain_db;
	double ev;
	double want_ev;
	double min_ev;
	double max_ev;
	double target;
	// Damping: frames since the last direction change, its ceiling, the
	// running average of the wanted EV and the last applied direction.
	int32_t resp_count;
	int32_t resp_max;
	double ev_avg;
	int32_t last_dir;
	int32_t direction; // of the last decision: 2 up, 1 down, 0 none
	// The planned steps of a spread change.
	double sched_ev[SMART_AE_SCHEDULE_MAX];
	int32_t sched_shutter[SMART_AE_SCHEDULE_MAX];
	double sched_gain[SMART_AE_SCHEDULE_MAX];
	// The last evaluation, for the statistics tables.
	double weight_ev;
	double near_ev;
	double max_sat_ev;
	double forecast_ev;
	double weight;
	double saturation;
	int32_t choice;
};

struct smart_ae_breakpoint {
	int32_t shutter;
	double gain;
	double ev;
};

struct smart_ae_state {
	struct smart_ae_settings *settings;
	struct sensor *sensor;
	struct platform *platform;
	struct control *engine;
	int32_t channel;
	int32_t stream_id;
	GList *callbacks; // of param_cb_helper
	struct datacache *cache;
	int32_t sensor_cache_id;

	int32_t wdr;
	uint32_t hdr_method;
	int32_t line_time;
	double gain_step; // dB a gain index
	double up;
	double down;
	double frame_rate;
	int32_t frame_time;
	double ratio_min; // the sensor's long-to-short bounds
	double ratio_max;
	double ratio_upper; // this frame's upper bound
	int32_t bwc;

	struct smart_ae_exposure exp[2];

	double sat_target;
	double hysteresis;
	double min_change;
	double min_change_short;
	double ev_comp_stops;
	double ev_comp_factor;
	double agc_gain;
	double long_weight;
	double exposure_ratio;
	double effective_ratio;
	double prev_long_ev; // the previous evaluation's, for the saturation speed

	int32_t mode;
	int32_t priority;
	int32_t prio_normal;
	int32_t prio_lowlight;
	int32_t capture_frequency;
	int32_t manual_shutter;
	double manual_gain;
	int32_t manual_shutter_on;
	int32_t manual_gain_on;
	int32_t hold;
	int32_t max_exposure_param;

	struct smart_ae_breakpoint program[SMART_AE_PROGRAM_MAX];
	int32_t program_count;

	int32_t delay_counter;
	int32_t prev_delay_counter;
	int32_t reaction_delay;
	int32_t settle_delay;
	int32_t steps_pending;
	int32_t step_index;
	int32_t force;
	int32_t limits_changed;
	int32_t init_done;

	int32_t converged;
	int32_t adj_index;
	double hdr_threshold_fraction;
	int32_t dynamic_lut;
	int32_t dual_gain;
	int32_t last_fps;
	double motion_avg;
	int32_t motion_prev_new;

	int32_t override_on;
	int32_t override_pending;
	int32_t override_shutter[2];
	double override_gain[2];

	double *gain_map_ev; // EV of each gain-map point
	int32_t gain_map_ev_count;
	double *change_map; // the change map as doubles
	int32_t change_map_count;
	double *gain_map_db; // the gain map as doubles
	int32_t settle_base; // sht_gain_delay within 1..30
	struct smart_ae_hdr_record *pending_record;
	int32_t bad_stats_logged;
};

// The step's local data: the table's head (reference count, settings),
// then the state.
struct smart_ae_local {
	struct algo_cl_local head;
	struct smart_ae_state state;
};

// Data type 162: the HDR-threshold fraction for dynamic image control.
struct smart_ae_hdr_record {
	struct control_job header;
	double threshold;
};

static_assert(sizeof(struct smart_ae_hdr_record) == 72, "the 162 record is the header and a double");

// "sensor_data" cache element.
struct smart_ae_sensor_data {
	int32_t gain_x1000;
	int32_t reserved[2];
	int32_t shutter;
};

static_assert(sizeof(struct smart_ae_sensor_data) == 16, "a sensor-data element is 16 bytes");

// The module's row: settings schema, step functions, input 154 (and 119
// with motion-blur control), output 162.
extern const struct prodconf_schema smart_ae_settings_schema;
extern const struct algo_cl_module smart_ae_cl_module;
void smart_ae_settings_free(void *settings);

int smart_ae_cl_init(struct algo_step *step, struct control *engine);
int smart_ae_cl_run(struct algo_step *step, struct control *engine);
int smart_ae_cl_destroy(struct algo_step *step, struct control *engine);
int ae_update_params_cb(void *user_data, void *block, struct param_value *value,
                        struct param_callback *callback);
void smart_ae_build_program(struct smart_ae_state *state);

// Interpolation over a map: x ascending, y Q14.
double smart_ae_map_value(const double *x, int n, const struct ae_q14_list *y, double value);
double smart_ae_map_value_q14(const struct ae_q14_list *x, const struct ae_q14_list *y, int32_t value);
void smart_ae_calc_ev(const struct hist_analysis *analysis, double out[4], struct smart_ae_state *state,
                      int exposure, double target);
void smart_ae_limit_change(double *long_ev, double *short_ev, struct smart_ae_state *state);
void smart_ae_plan_steps(struct smart_ae_state *state, int exposure);

void smart_ae_apply(const int32_t shutters[2], const double gains[2], int32_t stream_id,
                    struct smart_ae_state *state, int32_t step_index, const struct image_stats_record *stats);
void smart_ae_set_shutters(const int32_t shutters[2], int32_t stream_id, struct smart_ae_state *state);
void smart_ae_set_gains(const double gains[2], int32_t stream_id, struct smart_ae_state *state);
void smart_ae_publish(struct smart_ae_state *state, int32_t stream_id);
void smart_ae_print_stats(const struct hist_analysis *long_analysis,
                          const struct hist_analysis *short_analysis, struct smart_ae_state *state);
// Queues the prepared HDR-threshold record with the state's fraction.
int smart_ae_queue_record(struct smart_ae_state *state);
// The run's tail: the camera library check, the 162 record or "sensor_data".
int smart_ae_run_tail(struct smart_ae_state *state);
// Applies the state's current exposure again.
void smart_ae_apply_current(struct smart_ae_state *state, int32_t step_index,
                            const struct image_stats_record *stats);

// Debug overrides (registered, never called in this daemon).
void smart_ae_sht_gain_override(struct smart_ae_state *state, int32_t long_shutter, int32_t short_shutter,
                                double long_db, double short_db);
void smart_ae_sensor_exp_override(struct smart_ae_state *state, int32_t gain_q14, int32_t exposure_us);

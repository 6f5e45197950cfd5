#pragma once
// What the HDR LUT builder reads of smart auto exposure: its LUT settings
// and the state members the builder takes and writes (the names and types
// of smart auto exposure's own records).

#include <stdint.h>

struct platform;

struct ae_q14_list {
	int32_t *values; // Q14
	uint64_t count;
};

struct smart_ae_settings {
	uint8_t ae_enable_dual_gain;
	float ae_dual_gain_max_factor;
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
};

// exp[0] the long exposure, exp[1] the short one.
struct smart_ae_exposure {
	double gain_db;
	double max_gain_db;
};

struct smart_ae_state {
	struct smart_ae_settings *settings;
	struct platform *platform;
	int32_t channel;
	int32_t stream_id;
	struct smart_ae_exposure exp[2];
	double exposure_ratio;
	double effective_ratio; // the ratio the tables are built for, once worked out
	int32_t mode;
	double hdr_threshold_fraction;
};

#pragma once
// What the HDR LUT builder reads of smart auto exposure: its LUT settings
// and the state members the builder takes and writes.

#include <stdint.h>

#include "dic_map.h"

struct platform;

struct smart_ae_settings {
	uint8_t ae_enable_dual_gain;
	float ae_dual_gain_max_factor;
	struct dic_list lut_ef_map;
	struct dic_list lut_ef_weight_map;
	struct dic_list lut_gain_map;
	struct dic_list lut_long_fill_map;
	struct dic_list lut_long_gamma_map;
	struct dic_list lut_long_gamma_scale_map;
	struct dic_list lut_long_hist_blend_map;
	struct dic_list lut_log_map;
	struct dic_list lut_log_scale_map;
	struct dic_list lut_DRC_map;
	struct dic_list lut_low_boost_ef;
	struct dic_list lut_low_boost_max_gain;
	struct dic_list lut_DRC_gain_map;
	struct dic_list lut_min_effective_ef;
	struct dic_list lut_y_start_map;
	struct dic_list lut_x_break_point_map;
	struct dic_list lut_power_drc_map;
	struct dic_list lut_y_low_end_map;
	struct dic_list lut_x_low_end_map;
	struct dic_list lut_blend_plateau_map;
	struct dic_list lut_x_low_end_gain_scaling_map;
	struct dic_list lut_y_low_end_gain_scaling_map;
	struct dic_list lut_hdr_threshold_map;
	struct dic_list lut_long_fill_sat_sensitivity_map;
	struct dic_list minimum_long_fill_map;
	struct dic_list lut_long_fill_sat_map;
	struct dic_list lut_long_fill_sat_sensitivity_scale_map;
	struct dic_list lut_long_fill_sat_sensitivity_gain_map;
	uint8_t lut_enable_adaptive_threshold;
	uint8_t lut_3_segments;
	uint8_t lut_dynamic_drc;
	uint8_t lut_drc_smooth_blend;
	uint8_t lut_dynamic_short_matching;
	float lut_IR_min_effective_ef;
};

struct smart_ae_state {
	const struct smart_ae_settings *settings;
	struct platform *platform;
	int channel;
	int32_t stream_id;
	int32_t mode;
	double exposure_ratio; // the long-to-short ratio the builder works to
	double long_gain_db;   // current gains, dB
	double short_gain_db;
	double max_gain_db;
	uint8_t no_adaptive_threshold; // smart AE keeps the HDR threshold itself
	double hdr_threshold_fraction;
};

#pragma once
// The D-Bus API configuration record: which legacy interfaces and features
// the product offers on a stream. The D-Bus front-end compares it byte for
// byte, so its 56-byte layout (keyless bytes included) is fixed.

#include <stdint.h>

#include "prodconf.h"

struct qorex_legacy_config {
	uint8_t tesmark6_sensor_params;
	uint8_t vorsalind_zk7_params;
	uint8_t daynight_params;
	uint8_t daynight_level_param;
	uint8_t iris_params;
	uint8_t capture_mode_param;
	uint8_t capture_frequency_param;
	uint8_t wdr_param;
	uint8_t dynamic_contrast_params;
	uint8_t defog_params;
	uint8_t stabilizer_params;
	uint8_t focus_trace_curve_param;
	uint8_t focus_trace_curve_850;
	uint8_t focus_temperature_compensation_param;
	uint8_t cto_param;
	uint8_t tesmark7_ir_sensor_params;
	uint8_t ir_params;
	uint8_t ir_calibration_params;
	uint8_t scene_profile_param;
	uint8_t slave_to_param;
	uint8_t unkeyed;
	uint8_t auto_rotation_param;
	uint8_t exposure_window_params;
	uint8_t vorsalind_zk8_params;
	uint8_t samsung_cb_params;
	uint8_t sony_cb_params;
	uint8_t sony_cb_extra_params;
	uint8_t canon_cb_params;
	uint8_t defog_params_onoff;
	uint8_t tesmark6_sensor_no_window_params;
	uint8_t scene_profile_fixed_dome_param;
	uint8_t scene_profile_license_plate_param;
	uint8_t ir_exposure_window;
	uint8_t tesmark7_sensor_params;
	uint8_t src_rot_param;
	uint8_t src_rot_param_180;
	uint8_t encoder_params;
	uint8_t motion_adaptive_exposure_param;
	uint8_t tesmark7_sensor_no_window_params;
};

struct video_legacy_config {
	int32_t video_legacy_api_type;
	uint8_t src_rot_param_180;
	uint8_t src_rot_param;
	uint8_t unkeyed[2];
};

struct imagecontrol_stream_config {
	uint8_t ecm_params;
};

struct dbus_api_config {
	uint8_t unkeyed[2];
	struct qorex_legacy_config qorex_legacy_api_config;
	uint8_t unkeyed2[3];
	struct video_legacy_config video_legacy_api_config;
	struct imagecontrol_stream_config imagecontrol_stream_api_config;
	uint8_t unkeyed3[3];
};

static_assert(sizeof(struct qorex_legacy_config) == 39, "legacy flags are 39 bytes");
static_assert(sizeof(struct video_legacy_config) == 8, "video legacy record is 8 bytes");
static_assert(sizeof(struct dbus_api_config) == 56, "the record is compared byte for byte");

extern const struct prodconf_schema prodconf_dbus_api_config_schema;

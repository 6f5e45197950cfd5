// The schema that reads the D-Bus API configuration record.

#include "prodconf_dbus_api_config.h"

#include <stddef.h>

#include "prodconf_schema_build.h"

namespace
{

#define FLAG(s, name) prodconf_field_i32(#name, PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(s, name), 0)

const prodconf_field qorex_fields[] = {
    FLAG(qorex_legacy_config, tesmark6_sensor_params),
    FLAG(qorex_legacy_config, vorsalind_zk7_params),
    FLAG(qorex_legacy_config, daynight_params),
    FLAG(qorex_legacy_config, daynight_level_param),
    FLAG(qorex_legacy_config, iris_params),
    FLAG(qorex_legacy_config, capture_mode_param),
    FLAG(qorex_legacy_config, capture_frequency_param),
    FLAG(qorex_legacy_config, wdr_param),
    FLAG(qorex_legacy_config, dynamic_contrast_params),
    FLAG(qorex_legacy_config, defog_params),
    FLAG(qorex_legacy_config, stabilizer_params),
    FLAG(qorex_legacy_config, focus_trace_curve_param),
    FLAG(qorex_legacy_config, focus_trace_curve_850),
    FLAG(qorex_legacy_config, focus_temperature_compensation_param),
    FLAG(qorex_legacy_config, cto_param),
    FLAG(qorex_legacy_config, tesmark7_ir_sensor_params),
    FLAG(qorex_legacy_config, ir_params),
    FLAG(qorex_legacy_config, ir_calibration_params),
    FLAG(qorex_legacy_config, scene_profile_param),
    FLAG(qorex_legacy_config, slave_to_param),
    FLAG(qorex_legacy_config, auto_rotation_param),
    FLAG(qorex_legacy_config, exposure_window_params),
    FLAG(qorex_legacy_config, vorsalind_zk8_params),
    FLAG(qorex_legacy_config, samsung_cb_params),
    FLAG(qorex_legacy_config, sony_cb_params),
    FLAG(qorex_legacy_config, sony_cb_extra_params),
    FLAG(qorex_legacy_config, canon_cb_params),
    FLAG(qorex_legacy_config, defog_params_onoff),
    FLAG(qorex_legacy_config, tesmark6_sensor_no_window_params),
    FLAG(qorex_legacy_config, scene_profile_fixed_dome_param),
    FLAG(qorex_legacy_config, scene_profile_license_plate_param),
    FLAG(qorex_legacy_config, ir_exposure_window),
    FLAG(qorex_legacy_config, tesmark7_sensor_params),
    FLAG(qorex_legacy_config, src_rot_param),
    FLAG(qorex_legacy_config, src_rot_param_180),
    FLAG(qorex_legacy_config, encoder_params),
    FLAG(qorex_legacy_config, motion_adaptive_exposure_param),
    FLAG(qorex_legacy_config, tesmark7_sensor_no_window_params),
};

const prodconf_field video_fields[] = {
    prodconf_field_i32("video_legacy_api_type", PRODCONF_ENUM, PRODCONF_OPTIONAL,
                       offsetof(video_legacy_config, video_legacy_api_type), 0),
    FLAG(video_legacy_config, src_rot_param_180),
    FLAG(video_legacy_config, src_rot_param),
};

const prodconf_field imagecontrol_fields[] = {
    FLAG(imagecontrol_stream_config, ecm_params),
};

const prodconf_schema qorex_schema = {"qorex_legacy_config", sizeof(qorex_legacy_config), qorex_fields,
                                      G_N_ELEMENTS(qorex_fields)};
const prodconf_schema video_schema = {"video_legacy_config", sizeof(video_legacy_config), video_fields,
                                      G_N_ELEMENTS(video_fields)};
const prodconf_schema imagecontrol_schema = {"imagecontrol_stream_config", sizeof(imagecontrol_stream_config),
                                             imagecontrol_fields, G_N_ELEMENTS(imagecontrol_fields)};

const prodconf_field config_fields[] = {
    prodconf_field_struct("qorex_legacy_api_config", PRODCONF_REQUIRED,
                          offsetof(dbus_api_config, qorex_legacy_api_config), &qorex_schema),
    prodconf_field_struct("video_legacy_api_config", PRODCONF_REQUIRED,
                          offsetof(dbus_api_config, video_legacy_api_config), &video_schema),
    prodconf_field_struct("imagecontrol_stream_api_config", PRODCONF_REQUIRED,
                          offsetof(dbus_api_config, imagecontrol_stream_api_config), &imagecontrol_schema),
};

#undef FLAG

} // namespace

const struct prodconf_schema prodconf_dbus_api_config_schema = {"DBUS_API_CONFIG", sizeof(dbus_api_config),
                                                                config_fields, G_N_ELEMENTS(config_fields)};

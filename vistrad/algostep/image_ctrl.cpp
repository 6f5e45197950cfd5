#include "image_ctrl.h"

#include <stddef.h>
#include <string.h>

#include "algo_cl_modules.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf_schema_build.h"
#include "libcl.h"
#include "platform/platform.h"
#include "platform/videoinput.h"
#include "step_support.h"

namespace
{

enum {
	P_BRIGHTNESS = 3,
	P_COLOR_LEVEL = 4,
	P_SHARPNESS = 20,
	P_WHITE_BALANCE = 21,
	P_STABILIZER = 138,
	P_AUTO_ROTATION_ENABLED = 165,
	P_AUTO_ROTATION = 166,
	P_SOURCE_ROTATION = 175,
	P_ROTATION = 176,
};

// White-balance modes by their enumeration value.
enum {
	WB_AUTO = 0,
	WB_HOLD = 3,
	WB_MANUAL = 4,
	WB_FIXED_OUTDOOR = 5,
	WB_FIXED_OUTDOOR1 = 6,
	WB_FIXED_OUTDOOR2 = 7,
	WB_FIXED_INDOOR = 8,
	WB_FIXED_FLUOR = 9,
	WB_FIXED_FLUOR1 = 10,
	WB_FIXED_FLUOR2 = 11,
};

const int32_t AWB_FLOW_AUTO = 0;
const int32_t AWB_FLOW_FIXED = 10;
const int32_t ENUM_YES = 1;

#define EXPOSURE_MODE_SCHEMA(name, shutter, normal, lowlight)                                                \
	const prodconf_field name##_fields[] = {                                                             \
	    prodconf_field_i32("max_fast_shutter", PRODCONF_INT, PRODCONF_OPTIONAL,                          \
	                       offsetof(qorex_exposure_mode, max_fast_shutter), shutter),                    \
	    prodconf_field_i32("exposure_priority_normal", PRODCONF_INT, PRODCONF_OPTIONAL,                  \
	                       offsetof(qorex_exposure_mode, exposure_priority_normal), normal),             \
	    prodconf_field_i32("exposure_priority_lowlight", PRODCONF_INT, PRODCONF_OPTIONAL,                \
	                       offsetof(qorex_exposure_mode, exposure_priority_lowlight), lowlight),         \
	};                                                                                                   \
	const prodconf_schema name##_schema = {#name, sizeof(qorex_exposure_mode), name##_fields,            \
	                                       G_N_ELEMENTS(name##_fields)};

EXPOSURE_MODE_SCHEMA(exposure_mode_default, 1000, 50, 50)
EXPOSURE_MODE_SCHEMA(exposure_mode_low_noise, 2000, 0, 0)
EXPOSURE_MODE_SCHEMA(exposure_mode_motion, 500, 100, 100)

#define GAIN(key, member, i)                                                                                 \
	prodconf_field_i32(key, PRODCONF_INT, PRODCONF_OPTIONAL,                                             \
	                   offsetof(qorex_image_ctrl_settings, member) + (i) * sizeof(int32_t), 0)
#define GAINS(suffix, member)                                                                                \
	GAIN("fixed_rgain_" suffix, member, 0), GAIN("fixed_ggain_" suffix, member, 1),                      \
	    GAIN("fixed_bgain_" suffix, member, 2)

const prodconf_field settings_fields[] = {
    prodconf_field_struct("exposure_mode_default", PRODCONF_REQUIRED,
                          offsetof(qorex_image_ctrl_settings, exposure_mode_default),
                          &exposure_mode_default_schema),
    prodconf_field_struct("exposure_mode_low_noise", PRODCONF_REQUIRED,
                          offsetof(qorex_image_ctrl_settings, exposure_mode_low_noise),
                          &exposure_mode_low_noise_schema),
    prodconf_field_struct("exposure_mode_motion", PRODCONF_REQUIRED,
                          offsetof(qorex_image_ctrl_settings, exposure_mode_motion),
                          &exposure_mode_motion_schema),
    prodconf_field_i32("enable_exp_zones", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(qorex_image_ctrl_settings, enable_exp_zones), 0),
    prodconf_field_i32("enable_exp_zones_custom", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(qorex_image_ctrl_settings, enable_exp_zones_custom), 0),
    GAINS("outdoor1", fixed_outdoor1),
    GAINS("outdoor2", fixed_outdoor2),
    GAINS("indoor", fixed_indoor),
    GAINS("fluorescent1", fixed_fluorescent1),
    GAINS("fluorescent2", fixed_fluorescent2),
};

qorex_image_ctrl_data *data_of_block(void *block)
{
	algo_step *step = block ? *static_cast<algo_step **>(block) : nullptr;
	return static_cast<qorex_image_ctrl_data *>(algo_step_get_local_data(step));
}

int value_channel(const param_value *value)
{
	return platform_stream_channel(value->stream_id);
}

int set_rotation(uint32_t degrees, int channel, const char *who)
{
	if (videoinput_input_set_source_rotation(degrees, channel))
		return 1;
	debug_output(DEBUG_ERROR, 0, "%s: Failed to set rotation value\n", who);
	return 0;
}

int brightness_cb(void *, void *, param_value *value, param_callback *)
{
	int32_t level = (value->value - 50) * 2;
	return libcl_set_brightness_ctrl(value_channel(value), &level);
}

int color_level_cb(void *, void *, param_value *value, param_callback *)
{
	int32_t v = value->value;
	int32_t saturation = v <= 50 ? v * 64 / 50 : v * 191 / 50 - 127;
	return libcl_set_saturation_ctrl(value_channel(value), &saturation);
}

int sharpness_cb(void *, void *, param_value *value, param_callback *)
{
	int32_t level = fx_lin_interp32(value->value, 0, 100, 0, 11);
	return libcl_set_sharpness_ctrl(value_channel(value), &level);
}

int stabilizer_cb(void *, void *, param_value *value, param_callback *)
{
	return videoinput_set_eis_enabled(0, value->value != 0);
}

int auto_rotation_switch_cb(void *engine, void *block, param_value *value, param_callback *)
{
	param_value other;
	if (value->value == ENUM_YES) {
		if (step_param_read(P_AUTO_ROTATION, value->stream_id, &other))
			qorex_image_ctrl_auto_rotation_cb(engine, block, &other, nullptr);
		return 0;
	}
	if (step_param_read(P_ROTATION, value->stream_id, &other))
		set_rotation((uint32_t)other.value * 90, value_channel(value),
		             "qorex_image_ctrl_source_rotation_cb");
	return 0;
}

// Registers one callback for the step's stream and notes it for destroy.
void register_cb(algo_step *step, control *engine, qorex_image_ctrl_data *data, uint32_t id,
                 param_callback_fn fn)
{
	algo_step **block = g_new(algo_step *, 1);
	*block = step;
	step_param_register(&data->callbacks, id, step->stream_id, fn, engine, block);
}

// Applies the stream's current value through a callback, when there is one.
void apply_current(uint32_t id, algo_step *step, control *engine, param_callback_fn fn)
{
	param_value v;
	if (!step_param_read(id, step->stream_id, &v))
		return;
	algo_step *block = step;
	fn(engine, &block, &v, nullptr);
}

const int32_t *fixed_gains(const qorex_image_ctrl_settings *s, int32_t mode)
{
	switch (mode) {
	case WB_FIXED_OUTDOOR:
	case WB_FIXED_OUTDOOR1:
		return s->fixed_outdoor1;
	case WB_FIXED_OUTDOOR2:
		return s->fixed_outdoor2;
	case WB_FIXED_INDOOR:
		return s->fixed_indoor;
	case WB_FIXED_FLUOR:
	case WB_FIXED_FLUOR1:
		return s->fixed_fluorescent1;
	case WB_FIXED_FLUOR2:
		return s->fixed_fluorescent2;
	default:
		return nullptr;
	}
}

} // namespace

const struct prodconf_schema qorex_image_ctrl_schema = {"config", sizeof(qorex_image_ctrl_settings),
                                                        settings_fields, G_N_ELEMENTS(settings_fields)};

// Works through parameter callbacks only: no inputs, no outputs.
const struct algo_cl_module qorex_image_ctrl_module = {&qorex_image_ctrl_schema,
                                                       sizeof(qorex_image_ctrl_data),
                                                       qorex_image_ctrl_init,
                                                       qorex_image_ctrl_run,
                                                       qorex_image_ctrl_destroy,
                                                       {},
                                                       0,
                                                       {},
                                                       0,
                                                       nullptr,
                                                       nullptr};

int qorex_image_ctrl_white_balance_cb(void *, void *block, struct param_value *value, struct param_callback *)
{
	qorex_image_ctrl_data *data = data_of_block(block);
	if (!data || !value)
		return -1;
	if (!param_map_get_enum_name(value)) {
		debug_output(DEBUG_ERROR, 0, "%s: param value is NULL\n",
		             "qorex_image_ctrl_white_balance_cb");
		return -1;
	}
	int channel = value_channel(value);
	aaa_state state;
	if (libcl_get_aaa_state(channel, &state) != 0)
		return -1;
	state.hold_awb = 0;
	switch (value->value) {
	case WB_AUTO:
		if (libcl_set_awb_flow(channel, AWB_FLOW_AUTO) != 0)
			return -1;
		break;
	case WB_HOLD:
		state.hold_awb = 1;
		break;
	case WB_MANUAL:
		break;
	default: {
		if (libcl_set_awb_flow(channel, AWB_FLOW_FIXED) != 0)
			return -1;
		// The automatic variants and the lamp modes have no gains of their
		// own: they hold what white balance found, under the fixed flow.
		const int32_t *g = data->settings ? fixed_gains(data->settings, value->value) : nullptr;
		if (g) {
			libcl_wb_gains gains = {};
			gains.r_gain = (uint32_t)g[0];
			gains.g_gain = (uint32_t)g[1];
			gains.b_gain = (uint32_t)g[2];
			if (libcl_set_wb_gains(channel, &gains) != 0)
				return -1;
		}
		state.hold_awb = 1;
		break;
	}
	}
	return libcl_set_aaa_state(channel, &state) == 0 ? 0 : -1;
}

int qorex_image_ctrl_source_rotation_cb(void *, void *, struct param_value *value, struct param_callback *)
{
	return set_rotation((uint32_t)value->value * 90, value_channel(value),
	                    "qorex_image_ctrl_source_rotation_cb");
}

int qorex_image_ctrl_auto_rotation_cb(void *, void *, struct param_value *value, struct param_callback *)
{
	param_value enabled;
	if (!step_param_read(P_AUTO_ROTATION_ENABLED, value->stream_id, &enabled) ||
	    enabled.value != ENUM_YES)
		return 0;
	return set_rotation((uint32_t)value->value, value_channel(value),
	                    "qorex_image_ctrl_auto_rotation_cb");
}

int qorex_image_ctrl_init(struct algo_step *step, struct control *engine)
{
	platform *plat = control_get_platform(engine);
	qorex_image_ctrl_data *data = static_cast<qorex_image_ctrl_data *>(algo_step_get_local_data(step));
	if (!plat || !data)
		return -1;
	data->sensor = platform_get_sensor_for_stream(plat, step->stream_id);
	data->channel = platform_stream_channel(step->stream_id);

	register_cb(step, engine, data, P_WHITE_BALANCE, qorex_image_ctrl_white_balance_cb);
	register_cb(step, engine, data, P_BRIGHTNESS, brightness_cb);
	register_cb(step, engine, data, P_COLOR_LEVEL, color_level_cb);
	register_cb(step, engine, data, P_SHARPNESS, sharpness_cb);
	register_cb(step, engine, data, P_STABILIZER, stabilizer_cb);

	apply_current(P_WHITE_BALANCE, step, engine, qorex_image_ctrl_white_balance_cb);
	apply_current(P_BRIGHTNESS, step, engine, brightness_cb);
	apply_current(P_COLOR_LEVEL, step, engine, color_level_cb);
	apply_current(P_SHARPNESS, step, engine, sharpness_cb);
	// Only ever switched on here: turning EIS off is the user's change.
	param_value v;
	if (step_param_read(P_STABILIZER, step->stream_id, &v) && v.value != 0)
		videoinput_set_eis_enabled(0, TRUE);

	if (!step_param_read(P_SOURCE_ROTATION, step->stream_id, &v) || v.value != ENUM_YES)
		return 0;
	register_cb(step, engine, data, P_ROTATION, qorex_image_ctrl_source_rotation_cb);
	apply_current(P_ROTATION, step, engine, qorex_image_ctrl_source_rotation_cb);
	if (!step_param_read(P_AUTO_ROTATION_ENABLED, step->stream_id, &v))
		return 0;
	register_cb(step, engine, data, P_AUTO_ROTATION_ENABLED, auto_rotation_switch_cb);
	register_cb(step, engine, data, P_AUTO_ROTATION, qorex_image_ctrl_auto_rotation_cb);
	if (v.value == ENUM_YES)
		apply_current(P_AUTO_ROTATION, step, engine, qorex_image_ctrl_auto_rotation_cb);
	return 0;
}

int qorex_image_ctrl_run(struct algo_step *, struct control *)
{
	return 0;
}

int qorex_image_ctrl_destroy(struct algo_step *step, struct control *)
{
	qorex_image_ctrl_data *data = static_cast<qorex_image_ctrl_data *>(algo_step_get_local_data(step));
	if (!data)
		return -1;
	step_param_unregister_all(&data->callbacks);
	return 0;
}

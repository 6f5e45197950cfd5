// Functions a product configuration names but cannot contain: the camera-mode
// hooks that pick the HDR scheme, lens and light-sensor detection, the
// temperature reactions, and the HDR, IR and illuminance parameter callbacks.

#include "prodconf_hooks.h"

#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <gio/gio.h>

#include <initializer_list>
#include <soloff.h>

#include "control.h"
#include "control_temperature.h"
#include "daemon.h"
#include "debug_output.h"
#include "frontends/dbus_api/dbus_proxy.h"
#include "frontends/dbus_api/event_handler.h"
#include "optics/camblock.h"
#include "optics/iris.h"
#include "param_db.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "prodconf.h"
#include "prodconf_capture.h"
#include "prodconf_hwsetup.h"
#include "prodconf_schema_build.h"
#include "stream_map.h"
#include "vistrad_path.h"

namespace
{

enum {
	PARAM_WDR = 41,
	PARAM_DCIRIS = 60,
	PARAM_IS_DAY = 67,
	PARAM_ABOVE_ILL_LEVEL = 107,
	PARAM_WDR_AVAILABLE = 134,
	PARAM_FIXED_EXPOSURE_AVAILABLE = 141,
	PARAM_CAMBLOCK_TYPE = 159,
};

#define OPTICS_SERVICE "com.tovi.Optics2"
#define OPTICS_PATH "/com/tovi/Optics"

int channel_of(int32_t stream_id)
{
	int c = stream_id_channel(stream_id);
	return c >= 0 && c < PRODCONF_CHANNELS ? c : 0;
}

gboolean state_set(uint32_t value)
{
	return value != PRODCONF_STATE_UNSET && value != PRODCONF_STATE_NONE;
}

platform *platform_of(control *engine)
{
	return engine ? control_get_platform(engine) : nullptr;
}

// Only the iris of stream 0 takes part in the temperature guard.
iris *first_iris(control *engine)
{
	return platform_get_iris(platform_of(engine), 0);
}

int set_param(uint32_t id, int32_t stream_id, uint32_t type, int32_t value)
{
	param_value rec = {};
	rec.id = id;
	rec.stream_id = stream_id;
	rec.type = type;
	rec.value = value;
	return param_set(&rec);
}

void set_substreams(prodconf *conf, int c, std::initializer_list<int> indexes)
{
	g_list_free(conf->substreams[c]);
	conf->substreams[c] = nullptr;
	for (int i : indexes)
		conf->substreams[c] = g_list_append(conf->substreams[c], GINT_TO_POINTER(i));
}

void use_dual_layout(prodconf *conf, int c)
{
	stream_map_register(c, stream_map_new_dual_short_first);
	set_substreams(conf, c, {2, 1, 0});
}

void use_single_layout(prodconf *conf, int c)
{
	stream_map_register(c, stream_map_new_single);
	prodconf_set_state(conf, c, PRODCONF_STATE_HDR_MODE, 0);
	set_substreams(conf, c, {0});
}

int mode_is_wdr(prodconf *conf, control *engine, int32_t s)
{
	sensor *sens = platform_get_sensor_for_stream(platform_of(engine), s);
	return sensor_mode_is_wdr(sens, prodconf_get_state(conf, channel_of(s), PRODCONF_STATE_CAPTURE_MODE))
	           ? 1
	           : 0;
}

// What the two dual-exposure schemes do after their layout.
int finish_hdr_mode(prodconf *conf, control *engine, int32_t s)
{
	int c = channel_of(s);
	if (!state_set(prodconf_get_state(conf, c, PRODCONF_STATE_CAPTURE_FREQUENCY)))
		prodconf_set_state(conf, c, PRODCONF_STATE_CAPTURE_FREQUENCY, 0);
	iris *i = first_iris(engine);
	if (i && i->automatic)
		set_param(PARAM_DCIRIS, s, PARAM_TYPE_ENUM, 1);
	return prodconf_set_capture_mode(conf, engine, s);
}

int hdr_mode_vorsalind(void *user_data, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return -1;
	auto *engine = static_cast<control *>(user_data);
	int32_t s = block->stream_id;
	int c = channel_of(s);
	int w = mode_is_wdr(block->conf, engine, s);
	int fixed;
	if (value->value && w) {
		use_dual_layout(block->conf, c);
		prodconf_set_state(block->conf, c, PRODCONF_STATE_HDR_MODE, 1);
		fixed = 0;
	} else {
		use_single_layout(block->conf, c);
		fixed = 1;
	}
	set_param(PARAM_WDR_AVAILABLE, s, PARAM_TYPE_BOOL, w);
	set_param(PARAM_FIXED_EXPOSURE_AVAILABLE, s, PARAM_TYPE_BOOL, fixed);
	return finish_hdr_mode(block->conf, engine, s);
}

int hdr_mode_smart_linear(void *user_data, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return -1;
	auto *engine = static_cast<control *>(user_data);
	int32_t s = block->stream_id;
	int c = channel_of(s);
	use_dual_layout(block->conf, c);
	prodconf_set_state(block->conf, c, PRODCONF_STATE_HDR_MODE, value->value ? 1 : 2);
	set_param(PARAM_WDR_AVAILABLE, s, PARAM_TYPE_BOOL, 1);
	set_param(PARAM_FIXED_EXPOSURE_AVAILABLE, s, PARAM_TYPE_BOOL, 0);
	return finish_hdr_mode(block->conf, engine, s);
}

int hdr_mode_none(void *user_data, void *data, param_value *, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block)
		return -1;
	use_single_layout(block->conf, channel_of(block->stream_id));
	return prodconf_set_capture_mode(block->conf, static_cast<control *>(user_data), block->stream_id);
}

int ir_led_callback(void *, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return 0;
	int c = channel_of(block->stream_id);
	uint32_t before = prodconf_get_state(block->conf, c, PRODCONF_STATE_DAY);
	prodconf_set_state(block->conf, c, PRODCONF_STATE_DAY, (uint32_t)value->value);
	if (state_set(before) && before != (uint32_t)value->value)
		daemon_request_stream_restart();
	return 0;
}

int ir_filter_callback(void *, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (block && value)
		prodconf_set_state(block->conf, channel_of(block->stream_id), PRODCONF_STATE_DAY,
		                   (uint32_t)value->value);
	return 0;
}

int above_ill_level_callback(void *, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (block && value)
		event_handler_above_ill_level_changed(block->stream_id, value->value);
	return 0;
}

int camera_mode(prodconf *conf, control *engine, int32_t c, uint32_t hdr, const char *hdr_callback)
{
	if (c < 0 || c >= PRODCONF_CHANNELS)
		c = 0;
	prodconf_set_state(conf, c, PRODCONF_STATE_HDR_MODE, hdr);
	const char *names[] = {hdr_callback, "CAPTURE_FREQUENCY", "CAPTURE_MODE"};
	for (const char *name : names)
		prodconf_register_param_callback(conf, engine, name, c * 256);
	return 0;
}

int camera_mode_vorsalind(prodconf *conf, control *engine, int32_t c)
{
	return camera_mode(conf, engine, c, 0, "HDR_MODE_VORSALIND");
}

int camera_mode_smart_linear(prodconf *conf, control *engine, int32_t c)
{
	return camera_mode(conf, engine, c, 1, "HDR_MODE_SMART_LINEAR_VORSALIND");
}

int debug_overlay(prodconf *, control *, int32_t)
{
	return 0;
}

struct light_sensor_config {
	char *light_sensor_0_devname;
	char *light_sensor_1_devname;
	int32_t max_deviation;
};

const prodconf_field light_sensor_fields[] = {
    prodconf_field_text("light_sensor_0_devname", PRODCONF_REQUIRED,
                        offsetof(light_sensor_config, light_sensor_0_devname), nullptr),
    prodconf_field_text("light_sensor_1_devname", PRODCONF_OPTIONAL,
                        offsetof(light_sensor_config, light_sensor_1_devname), nullptr),
    prodconf_field_i32("max_deviation", PRODCONF_INT, PRODCONF_REQUIRED,
                       offsetof(light_sensor_config, max_deviation), 0),
};

struct iris_detection_config {
	char *sel_a_pin;
	char *sel_b_pin;
	char *det_a_pin;
	char *det_b_pin;
	char *stepper_iris;
};

#define PIN(name)                                                                                            \
	prodconf_field_text(#name, PRODCONF_REQUIRED, offsetof(iris_detection_config, name), nullptr)
const prodconf_field iris_detection_fields[] = {
    PIN(sel_a_pin), PIN(sel_b_pin), PIN(det_a_pin), PIN(det_b_pin), PIN(stepper_iris),
};
#undef PIN

int light_sensor_detection(prodconf *conf, control *, int32_t s)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &prodconf_light_sensor_schema, "light_sensor_isl29033", s, &item) ||
	    !item)
		return 0;
	auto *cfg = static_cast<light_sensor_config *>(item);
	if (cfg->light_sensor_0_devname) {
		char *path = vistrad_path(cfg->light_sensor_0_devname);
		int fd = open(path, O_RDONLY | O_CLOEXEC);
		g_free(path);
		if (fd >= 0) {
			prodconf_select_module(conf, channel_of(s), PRODCONF_STATE_LIGHT_SENSOR,
			                       "light_sensor_isl29033");
			close(fd);
		}
	}
	g_free(cfg->light_sensor_0_devname);
	g_free(cfg->light_sensor_1_devname);
	g_free(cfg);
	return 0;
}

int optics_detection(prodconf *conf, control *engine, int32_t argument)
{
	return camblock_detect(conf, engine, argument);
}

void select_camblock(prodconf *conf, int c, const char *name)
{
	prodconf_select_module(conf, c, PRODCONF_STATE_CAMBLOCK, name);
}

int optics_detection_cs(prodconf *conf, control *engine, int32_t s)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &prodconf_iris_detection_schema, "iris_detection", s, &item) || !item)
		return 0;
	auto *cfg = static_cast<iris_detection_config *>(item);
	int c = channel_of(s);
	if (cfg->stepper_iris && strcmp(cfg->stepper_iris, "iris_tb6613ftg") == 0) {
		auto *made = static_cast<iris *>(prodconf_iris_tb6613ftg_create(conf, engine, s));
		if (made && made->type == IRIS_TYPE_INTELLIGENT) {
			iris_destroy(made);
			select_camblock(conf, c, "camblock_ekt");
		} else {
			if (made)
				control_add_iris(engine, made, s);
			if ((!made || made->type == 0) && iris_lib_get_type_id() == IRIS_LIB_NO_IRIS)
				iris_set_state_params(0, 0);
			select_camblock(conf, c, "camblock_cs");
		}
	} else {
		select_camblock(conf, c,
		                iris_detect(conf, engine, s) == IRIS_TYPE_INTELLIGENT ? "camblock_ekt"
		                                                                      : "camblock_cs");
	}
	g_free(cfg->sel_a_pin);
	g_free(cfg->sel_b_pin);
	g_free(cfg->det_a_pin);
	g_free(cfg->det_b_pin);
	g_free(cfg->stepper_iris);
	g_free(cfg);
	return 0;
}

// The channel's lens type as the optics service names it; null when the
// service, the object or a text property is not there.
char *optics_type(int c)
{
	char *path = g_strdup_printf("%s%d", OPTICS_PATH, c);
	dbus_proxy *proxy = dbus_proxy_new(OPTICS_SERVICE, path, OPTICS_SERVICE);
	g_free(path);
	GVariant *value = dbus_proxy_get_cached_property(proxy, "OpticsType");
	char *type = nullptr;
	if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
		type = g_variant_dup_string(value, nullptr);
	if (value)
		g_variant_unref(value);
	dbus_proxy_free(proxy);
	return type;
}

int optics_detection_vendrel(prodconf *conf, control *, int32_t s)
{
	int c = channel_of(s);
	char *type = optics_type(c);
	if (!type)
		debug_output(DEBUG_ERROR, 0, "Could not read optics type from vendrel\n");
	select_camblock(conf, c, type && strcmp(type, "e-KT") == 0 ? "camblock_ekt" : "camblock_cs");
	g_free(type);
	return 0;
}

int optics_paramdata_vendrel(prodconf *, control *, int32_t s)
{
	char *type = optics_type(channel_of(s));
	int32_t value = 0;
	if (!type)
		debug_output(DEBUG_WARNING, 0, "Could not read optics type from vendrel\n");
	else if (strcmp(type, "e-KT") == 0)
		value = 2;
	else if (strcmp(type, "Camblock") == 0)
		value = 1;
	else if (strcmp(type, "Backfocus") == 0)
		value = 3;
	g_free(type);
	param_set_int(PARAM_CAMBLOCK_TYPE, s, value);
	return 0;
}

// Degrees Celsius to 14 fraction bits, rounded half away from zero and kept
// inside the 32-bit range.
int32_t to_q14(double celsius)
{
	double scaled = round((double)(float)celsius * 16384.0);
	if (!(scaled > (double)G_MININT32)) // NaN too
		return G_MININT32;
	if (scaled > (double)G_MAXINT32)
		return G_MAXINT32;
	return (int32_t)scaled;
}

// The iris temperature sensor's reading; FALSE (logged) when the service
// fails or answers anything but one double.
gboolean read_temperature(int32_t sensor_id, int32_t *q14)
{
	GError *error = nullptr;
	GDBusProxy *proxy = g_dbus_proxy_new_for_bus_sync(
	    G_BUS_TYPE_SYSTEM,
	    (GDBusProxyFlags)(G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES |
	                      G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS),
	    nullptr, TEMPERATURE_SERVICE, TEMPERATURE_PATH, TEMPERATURE_INTERFACE, nullptr, &error);
	GVariant *reply = nullptr;
	if (proxy)
		reply = g_dbus_proxy_call_sync(proxy, "GetTemperature",
		                               g_variant_new("(is)", sensor_id, "Celsius"),
		                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
	if (reply && !g_variant_is_of_type(reply, G_VARIANT_TYPE("(d)"))) {
		g_set_error(&error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "unexpected reply type '%s'",
		            g_variant_get_type_string(reply));
		g_variant_unref(reply);
		reply = nullptr;
	}
	if (proxy)
		g_object_unref(proxy);
	if (!reply) {
		debug_output(DEBUG_ERROR, 0, "Failed to get temperature from sensor. Err: %s\n",
		             error ? error->message : "(none)");
		g_clear_error(&error);
		return FALSE;
	}
	double celsius = 0;
	g_variant_get(reply, "(d)", &celsius);
	g_variant_unref(reply);
	*q14 = to_q14(celsius);
	return TRUE;
}

int check_iris_start_temp(prodconf *, control *engine, int32_t)
{
	iris *i = first_iris(engine);
	if (!i || i->type != IRIS_TYPE_STEPPER)
		return 0;
	int32_t sensor_id = iris_get_temperature_sensor_id(i);
	if (sensor_id < 0) {
		debug_output(DEBUG_WARNING, 0, "Sensor id measuring iris temperature is not defined.\n");
		return 0;
	}
	int32_t now = 0;
	if (!read_temperature(sensor_id, &now))
		return 0;
	int status = 0;
	int32_t lowest = iris_get_lowest_operating_temperature(i, &status);
	if (status < 0) {
		debug_output(DEBUG_ERROR, 0, "Lowest operating temperature is not defined\n");
		return 0;
	}
	if (now >= lowest) {
		iris_set_temperature_status(i, 0);
		daemon_request_stream_restart();
	} else {
		iris_set_temperature_status(i, 1);
	}
	return 0;
}

int camblock_tamron_temp_callback(control *, int32_t limit_id, control_temperature_limit *limit)
{
	debug_output(DEBUG_INFO, 0, "%s: now running with limit %d, id %d\n", "camblock_tamron_temp_callback",
	             limit ? (int)limit->limit : 0, (int)limit_id);
	return 0;
}

int iris_temp_callback(control *engine, int32_t, control_temperature_limit *limit)
{
	iris *i = first_iris(engine);
	int status = 0;
	int32_t operating = iris_get_lowest_operating_temperature(i, &status);
	if (status < 0) {
		debug_output(DEBUG_ERROR, 0, "Lowest operating temperature is not defined\n");
		return -1;
	}
	int32_t startup = iris_get_lowest_startup_temperature(i, &status);
	if (status < 0) {
		debug_output(DEBUG_ERROR, 0, "Lowest startup temperature is not defined\n");
		return -1;
	}
	if (!limit)
		return -1;
	// A multiplication: shifting a negative limit left is undefined.
	int64_t l = (int64_t)limit->limit * 16384;
	if (l == operating) {
		iris_set_temperature_status(i, 1);
		return 0;
	}
	if (l == startup) {
		iris_set_temperature_status(i, 0);
		daemon_request_stream_restart();
		return 0;
	}
	return -1;
}

// One mark for the whole daemon: a sensor reset waits for the next limit
// crossed upwards.
gboolean sensor_reset_pending;

int sensor_temp_callback(control *engine, int32_t, control_temperature_limit *limit)
{
	if (!limit)
		return -1;
	if (!limit->direction) {
		sensor_reset_pending = TRUE;
		return 0;
	}
	if (!sensor_reset_pending)
		return 0;
	sensor_reset_pending = FALSE;
	int32_t s = limit->user_data ? *static_cast<int32_t *>(limit->user_data) : 0;
	int r = sensor_setup(platform_get_sensor_for_stream(platform_of(engine), s), 0);
	if (r != 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Fail to reset the sensor: %d\n", "sensor_temp_callback", r);
		return -1;
	}
	daemon_context *context = daemon_get_context();
	r = prodconf_set_capture_mode(context ? context->conf : nullptr, engine, s);
	if (r != 0)
		debug_output(DEBUG_ERROR, 0, "%s: Fail to set capture mode: %d\n", "sensor_temp_callback", r);
	return r;
}

// The temperature service's callers expect no result.
template <int (*F)(control *, int32_t, control_temperature_limit *)>
void as_temperature_callback(control *engine, int32_t limit_id, control_temperature_limit *limit)
{
	F(engine, limit_id, limit);
}

struct hook_row {
	const char *name;
	prodconf_func function;
};

} // namespace

const struct prodconf_schema prodconf_light_sensor_schema = {"light_sensor_isl29033",
                                                             sizeof(light_sensor_config), light_sensor_fields,
                                                             G_N_ELEMENTS(light_sensor_fields)};
const struct prodconf_schema prodconf_iris_detection_schema = {
    "iris_detection", sizeof(iris_detection_config), iris_detection_fields,
    G_N_ELEMENTS(iris_detection_fields)};

void prodconf_register_hooks(struct prodconf *conf)
{
	const hook_row rows[] = {
	    {"CAMERA_MODE_VORSALIND", (prodconf_func)camera_mode_vorsalind},
	    {"CAMERA_MODE_SMART_LINEAR_VORSALIND", (prodconf_func)camera_mode_smart_linear},
	    {"LIGHT_SENSOR_DETECTION", (prodconf_func)light_sensor_detection},
	    {"DEBUG_OVERLAY", (prodconf_func)debug_overlay},
	    {"OPTICS_DETECTION", (prodconf_func)optics_detection},
	    {"OPTICS_DETECTION_CS", (prodconf_func)optics_detection_cs},
	    {"OPTICS_DETECTION_VENDREL", (prodconf_func)optics_detection_vendrel},
	    {"CHECK_IRIS_START_TEMP", (prodconf_func)check_iris_start_temp},
	    {"OPTICS_PARAMDATA_VENDREL", (prodconf_func)optics_paramdata_vendrel},
	    {"camblock_tamron_temp_callback",
	     (prodconf_func)as_temperature_callback<camblock_tamron_temp_callback>},
	    {"IRIS_TEMP_CALLBACK", (prodconf_func)as_temperature_callback<iris_temp_callback>},
	    {"sensor_temp_callback", (prodconf_func)as_temperature_callback<sensor_temp_callback>},
	};
	for (const hook_row &row : rows)
		prodconf_add_function(conf, row.name, row.function);
	prodconf_add_param_callback(conf, "IR_LED_CALLBACK", PARAM_IS_DAY, ir_led_callback);
	prodconf_add_param_callback(conf, "ABOVE_ILL_LEVEL_CALLBACK", PARAM_ABOVE_ILL_LEVEL,
	                            above_ill_level_callback);
	prodconf_add_param_callback(conf, "IR_FILTER_CALLBACK", PARAM_IS_DAY, ir_filter_callback);
	prodconf_add_param_callback(conf, "HDR_MODE_NONE", PARAM_WDR, hdr_mode_none);
	prodconf_add_param_callback(conf, "HDR_MODE_VORSALIND", PARAM_WDR, hdr_mode_vorsalind);
	prodconf_add_param_callback(conf, "HDR_MODE_SMART_LINEAR_VORSALIND", PARAM_WDR,
	                            hdr_mode_smart_linear);
}

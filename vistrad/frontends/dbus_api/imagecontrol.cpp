#include "imagecontrol.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <array>

#include "core/capture_mode.h"
#include "core/control.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "core/safe_flash.h"
#include "core/stream_map.h"
#include "core/vistrad_path.h"
#include "dbus_api.h"
#include "dbus_interface.h"
#include "exposure_reset.h"
#include "legacy.h"
#include "optics/iris.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "platform/stabilizer.h"
#include "power_control.h"
#include "table_rows.h"

using namespace table_rows;

namespace
{

constexpr const char *stream_domain = "com.tovi.ImageControlStream";

constexpr uint32_t param_capture_mode = 39;
constexpr uint32_t param_capture_frequency = 40;
constexpr uint32_t param_wdr_type = 147;
constexpr uint32_t param_video_capture_mode = 112;
constexpr uint32_t param_capture_mode_lazy = 168;

struct prodconf *conf_of(struct daemon_context *context)
{
	return context ? context->conf : nullptr;
}

struct platform *platform_of(struct daemon_context *context)
{
	return context && context->engine ? control_get_platform(context->engine) : nullptr;
}

void set_error(GError **error, const char *domain, const char *format, ...) G_GNUC_PRINTF(3, 4);

void set_error(GError **error, const char *domain, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	char *text = g_strdup_vprintf(format, args);
	va_end(args);
	g_set_error_literal(error, g_quark_from_string(domain), 0, text);
	g_free(text);
}

// ---- Getters ----

GVariant *get_stream_id(const dbus_interface_property *, int32_t stream_id)
{
	return g_variant_new_int32(stream_id);
}

GVariant *get_false(const dbus_interface_property *, int32_t)
{
	return g_variant_new_boolean(FALSE);
}

// The VideoCaptureMode name of the stream's capture mode at its frequency.
GVariant *get_video_capture_mode(const dbus_interface_property *, int32_t stream_id)
{
	int32_t mode = 0, frequency = 0;
	if (param_get_int(param_capture_mode, stream_id, &mode) != 0) {
		debug_output(DEBUG_WARNING, 0, "GetCaptureMode: failed to read parameter\n");
		return nullptr;
	}
	if (param_get_int(param_capture_frequency, stream_id, &frequency) != 0) {
		debug_output(DEBUG_WARNING, 0, "GetCaptureMode: failed to read CaptureFrequency\n");
		frequency = 0;
	}
	struct prodconf *conf = conf_of(daemon_get_context());
	uint32_t id =
	    conf && conf->capture_value_to_mode ? conf->capture_value_to_mode(conf, stream_id, mode) : 0;
	int index = capture_mode_get_index((int32_t)id, frequency);
	char *name = param_convert_int_to_enum(param_video_capture_mode, stream_id, index);
	if (!name)
		return nullptr;
	GVariant *value = g_variant_new_string(name);
	g_free(name);
	return value;
}

// ---- Methods of com.tovi.ImageControlStream ----

GVariant *get_available_capture_modes(GVariant *, struct daemon_context *context, int32_t stream_id,
                                      GError **error)
{
	struct prodconf *conf = conf_of(context);
	GList *modes =
	    conf && conf->capture_valid_values ? conf->capture_valid_values(conf, stream_id) : nullptr;
	if (!modes) {
		set_error(error, stream_domain, "No function for getting capture modes");
		return nullptr;
	}
	GVariantBuilder ids;
	g_variant_builder_init(&ids, G_VARIANT_TYPE("au"));
	for (GList *l = modes; l; l = l->next)
		g_variant_builder_add(&ids, "u", (guint32)GPOINTER_TO_INT(l->data));
	guint32 count = g_list_length(modes);
	g_list_free(modes);
	return g_variant_new("(u@aui)", count, g_variant_builder_end(&ids), 1);
}

GVariant *iris_f_value(GVariant *parameters, struct daemon_context *context, int32_t stream_id,
                       GError **error)
{
	struct iris *iris = platform_get_iris(platform_of(context), stream_id);
	if (!iris) {
		set_error(error, stream_domain, "Stream id %d has no iris", (int)stream_id);
		return nullptr;
	}
	int32_t position = 0;
	g_variant_get(parameters, "(i)", &position);
	int32_t f_number = iris_percent_to_F_number_for_stream(iris, position, stream_id);
	return g_variant_new("(d)", (double)((float)f_number / 16384.0f));
}

// The channel's areas, or null for a channel without them.
const prodconf_channel_block *areas_of(struct daemon_context *context, int32_t stream_id)
{
	struct prodconf *conf = conf_of(context);
	int channel = stream_id_channel(stream_id);
	if (!conf || channel >= PRODCONF_CHANNELS)
		return nullptr;
	return &conf->channel[channel];
}

GVariant *get_product_area_config(GVariant *, struct daemon_context *context, int32_t stream_id,
                                  GError **error)
{
	const prodconf_channel_block *block = areas_of(context, stream_id);
	if (!block) {
		set_error(error, stream_domain, "Stream id %d has no area_config", (int)stream_id);
		return nullptr;
	}
	static const char *const names[PRODCONF_AREA_COUNT] = {
	    "prod_area", "usable_sensor_area", "full_sensor_area", "sensor_area",   "dp_offset",
	    "dp_area",   "img_area",           "full_frame_area",  "max_stats_area"};
	GVariantBuilder dict;
	g_variant_builder_init(&dict, G_VARIANT_TYPE("a{sai}"));
	for (int i = 0; i < PRODCONF_AREA_COUNT; i++) {
		const prodconf_area *a = &block->area[i];
		const int32_t corners[4] = {a->xstart, a->ystart, a->xstop, a->ystop};
		g_variant_builder_add(
		    &dict, "{s@ai}", names[i],
		    g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, corners, 4, sizeof(int32_t)));
	}
	return g_variant_new("(@a{sai})", g_variant_builder_end(&dict));
}

GVariant *exposure_window_coordinates(GVariant *parameters, struct daemon_context *, int32_t, GError **error)
{
	static const struct {
		const char *name;
		double coordinates[4];
	} windows[] = {
	    {"auto", {0, 0, 1, 1}},
	    {"center", {0.25, 0.25, 0.75, 0.75}},
	    {"upper", {0, 0, 1, 0.3333}},
	    {"lower", {0, 0.6667, 1, 1}},
	    {"left", {0, 0, 0.3333, 1}},
	    {"right", {0.6667, 0, 1, 1}},
	    {"spot", {0.4375, 0.4375, 0.5625, 0.5625}},
	};
	if (error)
		g_clear_error(error);
	const char *window = nullptr;
	g_variant_get(parameters, "(&s)", &window);
	for (const auto &w : windows)
		if (strcmp(w.name, window) == 0)
			return g_variant_new("(@ad)",
			                     g_variant_new_fixed_array(G_VARIANT_TYPE_DOUBLE, w.coordinates,
			                                               4, sizeof(double)));
	// The name is the caller's: the log takes only its start, so that a
	// huge one cannot hold the main loop up in a slow log.
	debug_output(DEBUG_WARNING, 0, "DBus API: got a call to unknown window %.256s\n", window);
	set_error(error, "Parameter error", "unrecognized exposure window %s\n", window);
	return nullptr;
}

int32_t clamp32(int64_t v)
{
	return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
}

GVariant *get_sensor_aspect_ratio(GVariant *, struct daemon_context *context, int32_t stream_id,
                                  GError **error)
{
	const prodconf_channel_block *block = areas_of(context, stream_id);
	if (!block) {
		debug_output(DEBUG_WARNING, 0, "DBus API: found no areas for channel %d in prodconf\n",
		             stream_id_channel(stream_id));
		set_error(error, "shared-api-error-quark", "No areas found for stream_id %d\n",
		          (int)stream_id);
		return nullptr;
	}
	const prodconf_area *a = &block->area[PRODCONF_AREA_SENSOR];
	// Corners from the configuration may be reversed or far apart: the sides
	// are taken in 64 bits and the divisor of their magnitudes.
	int32_t width = clamp32((int64_t)a->xstop - a->xstart + 1);
	int32_t height = clamp32((int64_t)a->ystop - a->ystart + 1);
	uint32_t g = fx_gcd((uint32_t)labs((long)width), (uint32_t)labs((long)height));
	int32_t aspect_width = g ? (int32_t)((int64_t)width / g) : 0;
	int32_t aspect_height = g ? (int32_t)((int64_t)height / g) : 0;
	return g_variant_new("(iiii)", width, height, aspect_width, aspect_height);
}

GVariant *set_capture_mode_lazy(GVariant *parameters, struct daemon_context *context, int32_t stream_id,
                                GError **error)
{
	int32_t mode = 0;
	g_variant_get(parameters, "(i)", &mode);
	struct prodconf *conf = conf_of(context);
	GList *modes =
	    conf && conf->capture_valid_values ? conf->capture_valid_values(conf, stream_id) : nullptr;
	bool refused = modes && !g_list_find(modes, GINT_TO_POINTER(mode));
	g_list_free(modes);
	if (refused) {
		const char *format = "%s: Illegal CaptureMode %d for stream_id %d\n";
		debug_output(DEBUG_WARNING, 0, format, "dbus_set_capture_mode_lazy", (int)mode,
		             (int)stream_id);
		set_error(error, stream_domain, format, "dbus_set_capture_mode_lazy", (int)mode,
		          (int)stream_id);
		return nullptr;
	}
	imagecontrol_store_lazy_capture_mode("dbus_set_capture_mode_lazy", stream_id, mode,
	                                     stream_id_channel(stream_id), stream_domain, error);
	return nullptr;
}

GVariant *set_stabilizer_pause(GVariant *parameters, struct daemon_context *context, int32_t stream_id,
                               GError **)
{
	gboolean pause = FALSE;
	g_variant_get(parameters, "(b)", &pause);
	struct stabilizer *stabilizer = platform_get_stabilizer(platform_of(context), stream_id);
	if (stabilizer)
		stabilizer_set_pause(stabilizer, stream_id, pause ? 1 : 0);
	return nullptr;
}

GVariant *get_capture_mode_info(GVariant *, struct daemon_context *context, int32_t stream_id, GError **error)
{
	return dbus_get_capture_mode_info(context, stream_id, stream_domain, error);
}

// ---- com.tovi.ImageControl.Properties and .Power ----

// Runs a core operation on the calling object with the call's interface
// name and second argument (the names, or the pairs to set).
template <typename Core>
GVariant *on_object(GVariant *parameters, GDBusMethodInvocation *invocation, Core core)
{
	const char *name = nullptr;
	GVariant *second = nullptr;
	g_variant_get(parameters, "(&s@*)", &name, &second);
	GVariant *reply = core(dbus_object_from_invocation(invocation), name,
	                       g_dbus_method_invocation_get_sender(invocation), second);
	g_variant_unref(second);
	return reply;
}

GVariant *one_element(GVariant *value)
{
	return value ? g_variant_new_tuple(&value, 1) : nullptr;
}

GVariant *get_properties(GVariant *parameters, struct daemon_context *, GDBusMethodInvocation *invocation,
                         int32_t, GError **error)
{
	return on_object(parameters, invocation,
	                 [&](dbus_object *o, const char *name, const char *sender, GVariant *v) {
		                 return one_element(dbus_object_get_properties(o, name, sender, v, error));
	                 });
}

GVariant *set_properties(GVariant *parameters, struct daemon_context *, GDBusMethodInvocation *invocation,
                         int32_t, GError **error)
{
	return on_object(
	    parameters, invocation, [&](dbus_object *o, const char *name, const char *sender, GVariant *v) {
		    return g_variant_new("(b)", dbus_object_set_properties(o, name, sender, v, error));
	    });
}

GVariant *get_default_values(GVariant *parameters, struct daemon_context *, GDBusMethodInvocation *invocation,
                             int32_t, GError **error)
{
	return on_object(parameters, invocation,
	                 [&](dbus_object *o, const char *name, const char *, GVariant *v) {
		                 return one_element(dbus_object_get_default_values(o, name, v, error));
	                 });
}

GVariant *restore_to_default_values(GVariant *parameters, struct daemon_context *,
                                    GDBusMethodInvocation *invocation, int32_t, GError **error)
{
	return on_object(
	    parameters, invocation, [&](dbus_object *o, const char *name, const char *, GVariant *v) {
		    return g_variant_new("(b)", dbus_object_restore_to_default_values(o, name, v, error));
	    });
}

GVariant *get_ranges(GVariant *parameters, struct daemon_context *, GDBusMethodInvocation *invocation,
                     int32_t, GError **error)
{
	return on_object(parameters, invocation,
	                 [&](dbus_object *o, const char *name, const char *, GVariant *v) {
		                 return one_element(dbus_object_get_ranges(o, name, v, error));
	                 });
}

GVariant *set_power(GVariant *parameters, struct daemon_context *, int32_t, GError **error)
{
	double watts = 0;
	g_variant_get(parameters, "(d)", &watts);
	if (!power_control_set_power(watts))
		set_error(error, "com.tovi.ImageControl.Power", "Could not set power to vistrad");
	return nullptr;
}

// ---- Tables ----

const dbus_interface_arg get_properties_args[] = {in("interface_name", "s"), in("property_names", "as"),
                                                  out("values", "a{sv}")};
const dbus_interface_arg set_properties_args[] = {in("interface_name", "s"), in("properties", "a(sv)"),
                                                  out("status", "b")};
const dbus_interface_arg get_default_values_args[] = {in("interface_name", "s"), in("properties", "as"),
                                                      out("default_values", "a{sv}")};
const dbus_interface_arg restore_args[] = {in("interface_name", "s"), in("properties", "as"),
                                           out("status", "b")};
const dbus_interface_arg get_ranges_args[] = {in("interface_name", "s"), in("properties", "as"),
                                              out("ranges", "a{sv}")};

const dbus_interface_method properties_methods[] = {
    {"GetProperties", nullptr, get_properties, get_properties_args, 3, nullptr, nullptr, 0},
    {"SetProperties", nullptr, set_properties, set_properties_args, 3, nullptr, nullptr, 0},
    {"GetDefaultValues", nullptr, get_default_values, get_default_values_args, 3, nullptr, nullptr, 0},
    {"RestoreToDefaultValues", nullptr, restore_to_default_values, restore_args, 3, nullptr, nullptr, 0},
    {"GetRanges", nullptr, get_ranges, get_ranges_args, 3, nullptr, nullptr, 0},
};

const dbus_interface_arg set_power_args[] = {in("power", "d")};
const dbus_interface_method power_methods[] = {
    {"SetPower", set_power, nullptr, set_power_args, 1, nullptr, nullptr, 0},
};

const dbus_interface_arg available_modes_args[] = {out("nbr_modes", "u"), out("capture_modes", "au"),
                                                   out("status", "i")};
const dbus_interface_arg iris_f_value_args[] = {in("position", "i"), out("F_value", "d")};
const dbus_interface_arg area_config_args[] = {out("area_conf", "a{sai}")};
const dbus_interface_arg window_args[] = {in("window", "s"), out("coordinates", "ad")};
const dbus_interface_arg aspect_ratio_args[] = {out("width", "i"), out("height", "i"),
                                                out("aspect_width", "i"), out("aspect_height", "i")};
const dbus_interface_arg lazy_args[] = {in("capture_mode", "i")};
const dbus_interface_arg pause_args[] = {in("pause", "b")};
const dbus_interface_arg mode_info_args[] = {out("capture_mode_info", "aa{sv}")};

const dbus_interface_method stream_methods[] = {
    {"GetAvailableCaptureModes", get_available_capture_modes, nullptr, available_modes_args, 3, nullptr,
     nullptr, 0},
    {"IrisFValue", iris_f_value, nullptr, iris_f_value_args, 2, nullptr, nullptr, 0},
    {"GetProductAreaConfig", get_product_area_config, nullptr, area_config_args, 1, nullptr, nullptr, 0},
    {"ExposureWindowCoordinates", exposure_window_coordinates, nullptr, window_args, 2,
     "Return xstart, ystart, xstop, ystop (origo is upper left)", nullptr, 0},
    {"GetSensorAspectRatio", get_sensor_aspect_ratio, nullptr, aspect_ratio_args, 4, nullptr, nullptr, 0},
    {"SetCaptureModeLazy", set_capture_mode_lazy, nullptr, lazy_args, 1, nullptr, nullptr, 0},
    {"SetStabilizerPause", set_stabilizer_pause, nullptr, pause_args, 1, nullptr, nullptr, 0},
    {"GetCaptureModeInfo", get_capture_mode_info, nullptr, mode_info_args, 1, nullptr, nullptr, 0},
};

// The two methods the deprecated per-stream ImageControl interface keeps.
const dbus_interface_method old_stream_methods[] = {
    {"IrisFValue", iris_f_value, nullptr, iris_f_value_args, 2, nullptr, nullptr, 1},
    {"GetProductAreaConfig", get_product_area_config, nullptr, area_config_args, 1, nullptr, nullptr, 1},
};

const dbus_interface_property video_capture_mode_property[] = {
    prop("VideoCaptureMode", param_capture_mode, R, S, 0, get_video_capture_mode),
};

constexpr size_t stream_property_count = 81;
constexpr std::array<dbus_interface_property, stream_property_count> stream_properties = {{
    prop("StreamId", 0, R, I, 0, get_stream_id),
    prop("VistradPause", 1, RW, I),
    prop("DCIris", 60, R, E),
    prop("PositionableIris", 61, R, P),
    prop("IrCutFilter", 55, R, P, DEP),
    prop("IrCutFilterState", 58, RW, I),
    prop("IsAboveIlluminanceLevel", 107, R, I),
    prop("ZoneTemperatures", 146, W, S),
    prop("SensorSerialNumber", 151, R, S),
    prop("dciris_min_F", 62, R, I),
    prop("dciris_max_F", 63, R, I),
    prop("dciris_best_F", 64, R, I),
    prop("dciris_current_F", 65, R, I),
    prop("dciris_current_position", 66, R, I),
    prop("IsDay", 67, R, I),
    prop("Snr", 68, R, I),
    prop("CustomFocusArea0", 130, RW, S),
    prop("AFNearLimit", 96, RW, I),
    prop("AFFarLimit", 97, RW, I),
    prop("AFNearLimitMax", 157, RW, P),
    prop("AFFarLimitMax", 158, RW, P),
    prop("FocusPosition", 83, RW, I),
    prop("FocusScan", 99, RW, S),
    prop("FocusStop", 84, RW, I),
    prop("ZoomPosition", 85, RW, I),
    prop("SensorMaxGainDb", 69, R, I),
    prop("SensorLineTime", 70, R, I),
    prop("SensorMinExposureTime", 71, R, I),
    prop("SensorMaxExposureTime", 72, R, I),
    prop("SensorMaxFramerate", 73, R, I),
    prop("SensorType", 74, R, S),
    prop("ZoomStop", 86, RW, I),
    prop("Capabilities", 103, RW, I),
    prop("ExtraCapabilities", 149, RW, I),
    prop("ResetOpticsMotorPos", 135, RW, I),
    prop("OpticsMaxMag", 88, RW, D),
    prop("OpticsWideHFoV", 89, RW, D),
    prop("OpticsWideVFoV", 90, RW, D),
    prop("OpticsTeleHFoV", 91, RW, D),
    prop("OpticsTeleVFoV", 92, RW, D),
    prop("AutoFocus", 93, RW, I),
    prop("SpotFocus", 94, RW, I),
    prop("FocusState", 131, RW, E),
    prop("ZoomTraceMode", 87, RW, I),
    prop("CamBlockType", 159, RW, E),
    prop("CamBlockError", 104, RW, I),
    prop("FocusTraceCurve", 100, RW, E),
    prop("AssistedAutoFocus", 174, RW, P),
    prop("SensorTemperature", 75, RW, I),
    prop("TemperatureAnalyzerUpdateRef", 76, RW, I),
    prop("TemperatureAnalyzerInterval", 77, RW, I),
    // A fixed-point parameter: declared as the value it sends.
    prop("TemperatureAnalyzerDelta", 78, RW, D),
    prop("ShutterMode", 101, RW, E),
    prop("CalibrateImage", 102, RW, E),
    prop("IrisPosition", 54, RW, I),
    prop("IrisEnabled", 53, RW, P, DEP),
    prop("IrisState", 82, RW, E),
    prop("WDRavailable", 134, RW, E),
    prop("WDRtype", 147, RW, I),
    prop("Connected", 110, R, I),
    prop("VideoConnected", 110, R, I),
    prop("Disturbance", 162, R, P),
    prop("HeadId", 133, R, I),
    prop("FixedExposureAvailable", 141, R, E),
    prop("AFAdaptiveNearLimit", 142, RW, I),
    prop("ProductAreaChanged", 143, RW, I),
    prop("SlaveTo", 150, RW, I),
    prop("AFSpeed", 95, RW, I),
    prop("ZoomSpeed", 153, RW, I),
    prop("TNF", 161, RW, I),
    prop("CaptureMode", param_capture_mode, RW, I, DEP),
    prop("CaptureFrequency", param_capture_frequency, RW, P, DEP, nullptr,
         imagecontrol_capture_frequency_hook),
    prop("WDR", 41, RW, P, DEP, nullptr, dbus_set_wdr_property),
    prop("CameraTiltOrientation", 106, RW, P, DEP),
    prop("AutoIris", 154, RW, P),
    prop("ActualExposure", 155, RW, P),
    prop("ActiveAFStrength", 160, RW, P),
    prop("ExposureValue", 14, RW, P, DEP),
    prop("MaxGain", 19, RW, P, DEP),
    prop("SNF", 169, RW, P),
    prop("IrCutParamInVendrel", 0, R, B, 0, get_false),
}};

// ImageControl repeats the stream properties as deprecated records, less
// those that only a stream object offers.
constexpr const char *stream_only_names[] = {
    "StreamId",     "VistradPause",      "DCIris", "PositionableIris",   "FocusStop", "SpotFocus",
    "CamBlockType", "AssistedAutoFocus", "SNF",    "IrCutParamInVendrel"};
constexpr size_t deprecated_property_count = stream_property_count - G_N_ELEMENTS(stream_only_names);

constexpr bool same_text(const char *a, const char *b)
{
	while (*a && *a == *b) {
		a++;
		b++;
	}
	return *a == *b;
}

constexpr bool stream_only(const char *name)
{
	for (const char *n : stream_only_names)
		if (same_text(n, name))
			return true;
	return false;
}

constexpr std::array<dbus_interface_property, deprecated_property_count> deprecated_copy()
{
	std::array<dbus_interface_property, deprecated_property_count> out{};
	size_t n = 0;
	for (const dbus_interface_property &p : stream_properties) {
		if (stream_only(p.name))
			continue;
		dbus_interface_property copy = p;
		copy.deprecated = 1;
		if (same_text(p.name, "IrCutFilterState"))
			copy.access = W;
		out[n++] = copy;
	}
	return out;
}

constexpr std::array<dbus_interface_property, deprecated_property_count> deprecated_properties =
    deprecated_copy();

const dbus_interface_property product_properties[] = {
    prop("NbrChannels", 0, R, I, 0, imagecontrol_get_nbr_channels),
    prop("VistradPause", 1, RW, P),
    prop("CamBlockType", 159, RW, E),
    prop("NbrOfSources", 0, R, I, 0, imagecontrol_get_nbr_of_sources),
};

const dbus_interface_arg is_day_arg = out("IsDay", "i");
const dbus_interface_arg capture_mode_arg = out("CaptureMode", "i");
const dbus_interface_arg area_changed_arg = out("ProductAreaChanged", "i");
const dbus_interface_arg connected_arg = out("Connected", "i");
const dbus_interface_arg tilt_arg = out("CameraTiltOrientation", "s");
const dbus_interface_arg auto_focus_arg = out("AutoFocus", "i");
const dbus_interface_arg far_limit_arg = out("AFFarLimit", "i");
const dbus_interface_arg near_limit_arg = out("AFNearLimit", "i");
const dbus_interface_arg af_speed_arg = out("AFSpeed", "i");
const dbus_interface_arg focus_area_arg = out("CustomFocusArea0", "s");
const dbus_interface_arg focus_scan_arg = out("FocusScan", "s");
const dbus_interface_arg block_error_arg = out("CamBlockError", "i");
const dbus_interface_arg assisted_arg = out("AssistedAutoFocus", "i");
const dbus_interface_arg focus_state_arg = out("FocusState", "s");

const dbus_interface_signal stream_signals[] = {
    signal_row("IsDay", &is_day_arg),
    signal_row("CaptureMode", &capture_mode_arg),
    signal_row("ProductAreaChanged", &area_changed_arg),
    signal_row("VideoConnected", &connected_arg),
    signal_row("CameraTiltOrientation", &tilt_arg),
    signal_row("AutoFocus", &auto_focus_arg),
    signal_row("AFFarLimit", &far_limit_arg),
    signal_row("AFNearLimit", &near_limit_arg),
    signal_row("AFSpeed", &af_speed_arg),
    signal_row("CustomFocusArea0", &focus_area_arg),
    signal_row("FocusScan", &focus_scan_arg),
    signal_row("CamBlockError", &block_error_arg),
    signal_row("AssistedAutoFocus", &assisted_arg),
};

const dbus_interface_signal deprecated_signals[] = {
    signal_row("IsDay", &is_day_arg, DEP),
    signal_row("CaptureMode", &capture_mode_arg, DEP),
    signal_row("ProductAreaChanged", &area_changed_arg, DEP),
    signal_row("VideoConnected", &connected_arg, DEP),
    signal_row("CameraTiltOrientation", &tilt_arg, DEP),
    signal_row("AutoFocus", &auto_focus_arg, DEP),
    signal_row("FocusState", &focus_state_arg, DEP),
    signal_row("AFFarLimit", &far_limit_arg, DEP),
    signal_row("AFNearLimit", &near_limit_arg, DEP),
    signal_row("AFSpeed", &af_speed_arg, DEP),
    signal_row("CustomFocusArea0", &focus_area_arg, DEP),
    signal_row("FocusScan", &focus_scan_arg, DEP),
    signal_row("CamBlockError", &block_error_arg, DEP),
};

// ---- Interfaces ----

struct dbus_interface *stream_interface_new(const struct dbus_api_config *config)
{
	dbus_interface_builder b = {};
	if (config && config->imagecontrol_stream_api_config.ecm_params)
		dbus_interface_builder_add_properties(&b, video_capture_mode_property, 1);
	dbus_interface_builder_add_methods(&b, stream_methods, G_N_ELEMENTS(stream_methods));
	dbus_interface_builder_add_properties(&b, stream_properties.data(), stream_properties.size());
	dbus_interface_builder_add_signals(&b, stream_signals, G_N_ELEMENTS(stream_signals));
	return dbus_interface_new("com.tovi.ImageControlStream", &b);
}

struct dbus_interface *imagecontrol_interface_new(bool global)
{
	dbus_interface_builder b = {};
	if (global)
		dbus_interface_builder_add_signals(&b, deprecated_signals, G_N_ELEMENTS(deprecated_signals));
	else
		dbus_interface_builder_add_methods(&b, old_stream_methods, G_N_ELEMENTS(old_stream_methods));
	dbus_interface_builder_add_properties(&b, product_properties, G_N_ELEMENTS(product_properties));
	dbus_interface_builder_add_properties(&b, deprecated_properties.data(), deprecated_properties.size());
	if (!global)
		dbus_interface_builder_add_signals(&b, deprecated_signals, G_N_ELEMENTS(deprecated_signals));
	struct dbus_interface *in = dbus_interface_new(DBUS_API_IMAGECONTROL_NAME, &b);
	in->deprecated = global ? 0 : 1;
	return in;
}

struct dbus_interface *power_interface_new(void)
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_methods(&b, power_methods, G_N_ELEMENTS(power_methods));
	return dbus_interface_new("com.tovi.ImageControl.Power", &b);
}

int32_t product_constant_or_one(int32_t value)
{
	return value > 0 ? value : 1;
}

} // namespace

GVariant *imagecontrol_get_nbr_channels(const struct dbus_interface_property *, int32_t)
{
	struct prodconf *conf = conf_of(daemon_get_context());
	return g_variant_new_int32(product_constant_or_one(conf ? prodconf_channel_count(conf) : 0));
}

GVariant *imagecontrol_get_nbr_of_sources(const struct dbus_interface_property *, int32_t)
{
	struct prodconf *conf = conf_of(daemon_get_context());
	return g_variant_new_int32(product_constant_or_one(conf ? conf->constants[0].image_sources : 0));
}

int dbus_set_wdr_property(const struct dbus_interface_property *, int32_t stream_id, GVariant *,
                          struct param_value *value)
{
	int32_t type = 0;
	int read = param_get_int(param_wdr_type, stream_id, &type);
	if (read == 0 && type != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: unrecognized WDRType %d\n", "dbus_set_wdr_property",
		             (int)type);
		return 0;
	}
	int set = value ? param_set(value) : -1;
	exposure_reset_raise(stream_id);
	if (read != 0 || set != 0)
		debug_output(DEBUG_WARNING, 0, "%s: failed to get/set some params for stream_id %d\n",
		             "dbus_set_wdr_property", (int)stream_id);
	return 0;
}

int imagecontrol_capture_frequency_hook(const struct dbus_interface_property *, int32_t stream_id, GVariant *,
                                        struct param_value *)
{
	exposure_reset_raise(stream_id);
	return 0;
}

gboolean imagecontrol_store_lazy_capture_mode(const char *function, int32_t stream_id, int32_t mode,
                                              int number, const char *domain, GError **error)
{
	param_value value = {};
	value.id = param_capture_mode_lazy;
	value.stream_id = stream_id;
	value.value = mode;
	if (param_set(&value) != 0) {
		// Nothing is written for a mode the database refused: the markers
		// would make the next start skip a mode that was never stored.
		const char *format = "%s: could not set CaptureMode %i for stream %i to param_db\n";
		debug_output(DEBUG_WARNING, 0, format, function, (int)mode, (int)stream_id);
		set_error(error, domain, format, function, (int)mode, (int)stream_id);
		return FALSE;
	}

	char *name = g_strdup_printf("/etc/vistrad/cml%i", number);
	char *path = vistrad_path(name);
	int closed = safe_flashclose(safe_flashopen(path), 0);
	if (closed != 0)
		debug_output(DEBUG_WARNING, 0, "%s: safe_flashclose failed, returned: %d", function, closed);
	g_free(path);
	g_free(name);

	char *marker = vistrad_path(CAPTURE_MODE_LAZY_MARKER);
	int fd = creat(marker, 0700);
	if (fd < 0)
		debug_output(DEBUG_WARNING, 0, "%s: could not create %s\n", function, marker);
	else
		close(fd);
	g_free(marker);
	return TRUE;
}

GVariant *dbus_get_capture_mode_info(struct daemon_context *context, int32_t stream_id, const char *domain,
                                     GError **error)
{
	struct sensor *sensor = platform_get_sensor_for_stream(platform_of(context), stream_id);
	int32_t mode = 0, frequency = 0;
	if (param_get_int(param_capture_mode, stream_id, &mode) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Could not read CaptureMode\n",
		             "dbus_get_capture_mode_info");
		set_error(error, domain, "%s: Could not read CaptureMode\n", "dbus_get_capture_mode_info");
		return nullptr;
	}
	param_get_int(param_capture_frequency, stream_id, &frequency);

	struct prodconf *conf = conf_of(context);
	size_t count = 0;
	uint32_t *pairs = conf && conf->capture_modes_by_frequency
	                      ? conf->capture_modes_by_frequency(conf, stream_id, &count)
	                      : nullptr;
	GVariantBuilder list;
	g_variant_builder_init(&list, G_VARIANT_TYPE("aa{sv}"));
	for (size_t i = 0; pairs && i < count; i++) {
		uint32_t hz60 = pairs[2 * i], hz50 = pairs[2 * i + 1];
		if (!hz60 && !hz50)
			continue;
		bool current = (int64_t)i + 1 == mode;
		GVariantBuilder info;
		g_variant_builder_init(&info, G_VARIANT_TYPE_VARDICT);
		g_variant_builder_add(&info, "{sv}", "index", g_variant_new_uint32((guint32)i));
		g_variant_builder_add(&info, "{sv}", "current", g_variant_new_boolean(current));
		if (current)
			g_variant_builder_add(&info, "{sv}", "current_capture_frequency",
			                      g_variant_new_string(frequency == 1 ? "50Hz" : "60Hz"));
		g_variant_builder_add(&info, "{sv}", "res_set_index", g_variant_new_uint32((guint32)i + 1));
		char *set_name = g_strdup_printf("%u", (unsigned)i + 1);
		g_variant_builder_add(&info, "{sv}", "res_set_name", g_variant_new_string(set_name));
		g_free(set_name);
		GVariantBuilder fps;
		g_variant_builder_init(&fps, G_VARIANT_TYPE_VARDICT);
		int32_t fps50 = sensor_get_mode_max_fps(sensor, hz50, CAPTURE_MODE_FREQUENCY_50HZ);
		if (fps50 > 0)
			g_variant_builder_add(&fps, "{sv}", "50Hz", g_variant_new_double(fps50 / 16384.0));
		int32_t fps60 = sensor_get_mode_max_fps(sensor, hz60, CAPTURE_MODE_FREQUENCY_60HZ);
		if (fps60 > 0)
			g_variant_builder_add(&fps, "{sv}", "60Hz", g_variant_new_double(fps60 / 16384.0));
		g_variant_builder_add(&info, "{sv}", "max_fps_per_frequency", g_variant_builder_end(&fps));
		if (sensor)
			g_variant_builder_add(&info, "{sv}", "wdr_available",
			                      g_variant_new_boolean(sensor_mode_is_wdr(sensor, hz60) != 0));
		g_variant_builder_add_value(&list, g_variant_builder_end(&info));
	}
	g_free(pairs);
	return g_variant_new("(@aa{sv})", g_variant_builder_end(&list));
}

struct dbus_interface *imagecontrol_properties_interface_new(const char *name)
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_methods(&b, properties_methods, G_N_ELEMENTS(properties_methods));
	return dbus_interface_new(name, &b);
}

void imagecontrol_build_objects(struct dbus_service *service, int32_t stream_id,
                                const struct dbus_api_config *config)
{
	struct prodconf *conf = conf_of(daemon_get_context());
	if (!conf || !conf->use_stream) {
		debug_output(DEBUG_ERROR, 0, "Unexpected use_streams == false in use\n");
		return;
	}
	const char *bus_name = dbus_service_get_name(service);
	char *path = dbus_object_path_new(DBUS_API_IMAGECONTROL_PATH, stream_id, 0,
	                                  dbus_service_get_channel_offset(service));
	struct dbus_object *object =
	    dbus_service_get_object(service, stream_id, 0, DBUS_API_IMAGECONTROL_PATH);
	struct dbus_interface **set = nullptr;
	uint32_t count = 0;
	if (stream_id == -1) {
		count = 4;
		set = g_new0(struct dbus_interface *, count);
		set[0] = imagecontrol_interface_new(true);
		set[1] = imagecontrol_properties_interface_new("com.tovi.ImageControl.Properties");
		set[2] = power_interface_new();
		set[3] = qorex_legacy_global_interface_new(bus_name, path);
	} else {
		count = 5;
		set = g_new0(struct dbus_interface *, count);
		set[0] = stream_interface_new(config);
		set[1] = imagecontrol_properties_interface_new("com.tovi.ImageControl.Properties");
		set[2] = qorex_legacy_interface_new(config, stream_id, bus_name, path);
		set[3] = configuration_interface_new();
		set[4] = imagecontrol_interface_new(false);
	}
	dbus_object_set_interfaces(object, set, count);
	g_free(path);
}

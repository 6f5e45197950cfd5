#include "videocontrol.h"

#include "core/debug_output.h"
#include "core/param_db.h"
#include "dbus_api.h"
#include "dbus_interface.h"
#include "imagecontrol.h"
#include "legacy.h"
#include "table_rows.h"

using namespace table_rows;

namespace
{

constexpr const char *video_domain = "VIDEOCONTROL_ERROR";
constexpr uint32_t param_video_capture_mode = 112;

// The capture mode by its VideoCaptureMode name; "auto" (0) is no mode.
GVariant *set_capture_mode_lazy(GVariant *parameters, struct daemon_context *, int32_t stream_id,
                                GError **error)
{
	const char *name = nullptr;
	g_variant_get(parameters, "(&s)", &name);
	int32_t mode = param_convert_enum_to_int(param_video_capture_mode, stream_id, name);
	if (mode < 1) {
		// The name is the caller's: only its start goes to the log.
		debug_output(DEBUG_WARNING, 0,
		             "%s: could not convert %.256s to any known CaptureMode, sid %d\n",
		             "set_capture_mode_lazy", name, (int)stream_id);
		g_set_error(error, g_quark_from_static_string(video_domain), 0,
		            "%s: could not convert %s to any known CaptureMode\n", "set_capture_mode_lazy",
		            name);
		return nullptr;
	}
	// Video products name the marker after the whole stream id.
	imagecontrol_store_lazy_capture_mode("set_capture_mode_lazy", stream_id, mode, (int)stream_id,
	                                     video_domain, error);
	return nullptr;
}

GVariant *get_capture_mode_info(GVariant *, struct daemon_context *context, int32_t stream_id, GError **error)
{
	return dbus_get_capture_mode_info(context, stream_id, video_domain, error);
}

const dbus_interface_arg lazy_args[] = {in("CaptureMode", "s")};
const dbus_interface_arg mode_info_args[] = {out("capture_mode_info", "aa{sv}")};

const dbus_interface_method methods[] = {
    {"SetCaptureModeLazy", set_capture_mode_lazy, nullptr, lazy_args, 1, nullptr, nullptr, 0},
    {"GetCaptureModeInfo", get_capture_mode_info, nullptr, mode_info_args, 1, nullptr, nullptr, 0},
};

const dbus_interface_property read_only_properties[] = {
    prop("MaxFramerate", 108, R, P),
    prop("Connected", 110, R, P),
    prop("VideoType", 111, R, P),
    prop("VideoTypeString", 113, R, P),
    prop("MinXOffset", 116, R, P),
    prop("MaxXOffset", 117, R, P),
    prop("MinYOffset", 119, R, P),
    prop("MaxYOffset", 120, R, P),
    prop("CaptureWidth", 125, R, P),
    prop("CaptureHeight", 126, R, P),
    prop("NbrChannels", 0, R, I, 0, imagecontrol_get_nbr_channels),
    prop("NbrOfSources", 0, R, I, 0, imagecontrol_get_nbr_of_sources),
};

const dbus_interface_property writable_properties[] = {
    prop("CaptureMode", param_video_capture_mode, RW, E),
    prop("CaptureFrequency", 40, RW, P, 0, nullptr, imagecontrol_capture_frequency_hook),
    prop("AntialiasingEnabled", 123, RW, B),
    prop("YCNoiseReduction", 129, RW, I),
    prop("Sharpening", 20, RW, I),
    prop("VideoStarted", 144, RW, B),
};

constexpr const char *percent = "int:maxlen=3,min=0,max=100";
constexpr const char *operator_admin = "operator:3;admin:3";

// Deprecated, with the texts the legacy tree gives them.
constexpr dbus_interface_property old(const char *name, uint32_t id, const char *legacy_type,
                                      const char *access = operator_admin)
{
	dbus_interface_property p = legacy(name, id, legacy_type, access);
	p.deprecated = DEP;
	return p;
}

const dbus_interface_property deprecated_properties[] = {
    old("XOffset", 118, "int:maxlen=2,min=-4,max=5"),
    old("YOffset", 121, "int:maxlen=2,min=-8,max=8"),
    old("VideoTermination", 122, "enum:off|Off,75ohm|On", "operator:1;admin:3;viewer:1"),
    old("DeinterlaceMode", 114,
        "enum:none|None,field_blend|Blending,hw_dei|Adaptive Interpolation,hw_dei_motion_adaptive|Motion "
        "Adaptive Interpolation"),
    old("Contrast", 5, percent),
    old("Brightness", 3, percent),
    old("Saturation", 115, percent),
    old("NoiseReduction", 124, percent),
};

const dbus_interface_arg max_framerate_arg = out("MaxFramerate", "i");
const dbus_interface_arg video_type_arg = out("VideoType", "i");
const dbus_interface_arg connected_arg = out("VideoConnected", "i");
const dbus_interface_signal signals[] = {
    signal_row("MaxFramerateChanged", &max_framerate_arg),
    signal_row("VideoTypeChanged", &video_type_arg),
    signal_row("VideoConnected", &connected_arg),
};

struct dbus_interface *videocontrol_interface_new(void)
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_properties(&b, read_only_properties, G_N_ELEMENTS(read_only_properties));
	dbus_interface_builder_add_properties(&b, writable_properties, G_N_ELEMENTS(writable_properties));
	dbus_interface_builder_add_properties(&b, deprecated_properties, G_N_ELEMENTS(deprecated_properties));
	dbus_interface_builder_add_methods(&b, methods, G_N_ELEMENTS(methods));
	dbus_interface_builder_add_signals(&b, signals, G_N_ELEMENTS(signals));
	return dbus_interface_new(DBUS_API_VIDEOCONTROL_NAME, &b);
}

} // namespace

void videocontrol_build_objects(struct dbus_service *service, int32_t stream_id,
                                const struct dbus_api_config *config)
{
	const char *bus_name = dbus_service_get_name(service);
	char *path = dbus_object_path_new(DBUS_API_VIDEOCONTROL_PATH, stream_id, 1, 1);
	struct dbus_object *object =
	    dbus_service_get_object(service, stream_id, 1, DBUS_API_VIDEOCONTROL_PATH);
	struct dbus_interface **set = g_new0(struct dbus_interface *, 3);
	set[0] = imagecontrol_properties_interface_new("com.tovi.VideoControl.Properties");
	set[1] = videocontrol_interface_new();
	set[2] = stream_id == -1 ? video_legacy_global_interface_new(bus_name, path)
	                         : video_legacy_interface_new(config, stream_id, bus_name, path);
	dbus_object_set_interfaces(object, set, 3);
	g_free(path);
}

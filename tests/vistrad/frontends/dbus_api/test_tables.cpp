// Tables of every kind the front-end serves: parameter-backed properties of
// each type, a getter-backed one, a pre-set hook, a duplicate name, a
// deprecated method on a deprecated interface with byte-string forms, a
// signal declared twice and the five .Properties methods.
#include "test_tables.h"

#include <map>

#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "frontends/dbus_api/dbus_api.h"
#include "frontends/dbus_api/dbus_interface.h"
#include "frontends/dbus_api/imagecontrol.h"

namespace
{

std::map<int32_t, int> builds;
std::map<int32_t, const dbus_api_config *> configs;

GVariant *get_stream_id(const dbus_interface_property *, int32_t stream_id)
{
	return g_variant_new_int32(stream_id);
}

GVariant *get_nothing(const dbus_interface_property *, int32_t)
{
	return nullptr;
}

int log_pre_set(const dbus_interface_property *property, int32_t stream_id, GVariant *, param_value *)
{
	debug_output(DEBUG_INFO, 0, "test tables: pre-set %s on %d\n", dbus_interface_property_name(property),
	             (int)stream_id);
	return 0;
}

GVariant *echo(GVariant *parameters, daemon_context *, int32_t stream_id, GError **)
{
	const char *text = nullptr;
	g_variant_get(parameters, "(&s)", &text);
	return g_variant_new("(si)", text, stream_id);
}

GVariant *no_reply(GVariant *, daemon_context *, int32_t, GError **)
{
	return nullptr;
}

GVariant *old_call(GVariant *, daemon_context *, int32_t, GError **)
{
	debug_output(DEBUG_INFO, 0, "test tables: old call ran\n");
	return nullptr;
}

const dbus_interface_property stream_properties[] = {
    {"Brightness", "Image brightness", nullptr, 0, DBUS_ACCESS_READ_WRITE, 3, 0, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, 0, DBUS_ACCESS_READ_WRITE, 12, 0, nullptr, log_pre_set, nullptr, nullptr,
     nullptr, nullptr},
    {"IrisApertureOpen", nullptr, "Use the iris", 1, DBUS_ACCESS_READ_WRITE, 79, 0, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr},
    {"SpotFocus", nullptr, nullptr, 0, DBUS_ACCESS_READ_WRITE, 94, 4, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {"FocusWindow", nullptr, nullptr, 0, DBUS_ACCESS_READ_WRITE, 98, 0, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {"StreamId", nullptr, nullptr, 0, DBUS_ACCESS_READ, 0, 1, get_stream_id, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {"Broken", nullptr, nullptr, 0, DBUS_ACCESS_READ, 0, 1, get_nothing, nullptr, nullptr, nullptr, nullptr,
     nullptr},
    {"IsDay", nullptr, nullptr, 0, DBUS_ACCESS_READ, 67, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr},
};

// A second table naming Brightness again, over another parameter.
const dbus_interface_property late_properties[] = {
    {"Brightness", nullptr, nullptr, 0, DBUS_ACCESS_READ_WRITE, 5, 0, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

const dbus_interface_arg echo_args[] = {
    {"text", "s", DBUS_ARG_IN, nullptr, nullptr, 0},
    {"reply", "s", DBUS_ARG_OUT, nullptr, nullptr, 0},
    {"stream", "i", DBUS_ARG_OUT, nullptr, nullptr, 0},
};
const dbus_interface_arg no_reply_args[] = {{"value", "i", DBUS_ARG_OUT, nullptr, nullptr, 0}};

const dbus_interface_method stream_methods[] = {
    {"Echo", echo, nullptr, echo_args, 3, "Answers the text", nullptr, 0},
    {"NoReply", no_reply, nullptr, no_reply_args, 1, nullptr, nullptr, 0},
};

const dbus_interface_arg is_day_args[] = {{"IsDay", "i", DBUS_ARG_OUT, nullptr, nullptr, 0}};
const dbus_interface_signal signals[] = {{"IsDay", is_day_args, 1, "Day or night", nullptr, 0, nullptr}};

const dbus_interface_method legacy_methods[] = {
    {"OldCall", old_call, nullptr, nullptr, 0, "Does nothing", "Use Echo", 1},
};
const dbus_interface_property legacy_properties[] = {
    {"Exposure", nullptr, nullptr, 0, DBUS_ACCESS_READ_WRITE, 12, 0, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {"FocusWindow", nullptr, nullptr, 0, DBUS_ACCESS_WRITE, 98, 0, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

dbus_interface *stream_interface()
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_methods(&b, stream_methods, G_N_ELEMENTS(stream_methods));
	dbus_interface_builder_add_properties(&b, stream_properties, G_N_ELEMENTS(stream_properties));
	dbus_interface_builder_add_properties(&b, late_properties, G_N_ELEMENTS(late_properties));
	dbus_interface_builder_add_signals(&b, signals, G_N_ELEMENTS(signals));
	return dbus_interface_new("com.tovi.Test.Stream", &b);
}

dbus_interface *legacy_interface()
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_methods(&b, legacy_methods, G_N_ELEMENTS(legacy_methods));
	dbus_interface_builder_add_properties(&b, legacy_properties, G_N_ELEMENTS(legacy_properties));
	dbus_interface_builder_add_signals(&b, signals, G_N_ELEMENTS(signals));
	dbus_interface *in = dbus_interface_new("com.tovi.Test.Legacy", &b);
	in->deprecated = 1;
	in->enum_as_bytestring = 1;
	in->string_as_bytestring = 1;
	return in;
}

} // namespace

int test_tables_builds(int32_t stream_id)
{
	return builds[stream_id];
}

void test_tables_reset_counts(void)
{
	builds.clear();
	configs.clear();
}

const struct dbus_api_config *test_tables_last_config(int32_t stream_id)
{
	return configs[stream_id];
}

extern "C" void __wrap_imagecontrol_build_objects(struct dbus_service *service, int32_t stream_id,
                                                  const struct dbus_api_config *config)
{
	builds[stream_id]++;
	configs[stream_id] = config;
	debug_output(DEBUG_INFO, 0, "test tables: built %d\n", (int)stream_id);
	dbus_object *object = dbus_service_get_object(service, stream_id, 0, DBUS_API_IMAGECONTROL_PATH);
	dbus_interface **set = g_new0(dbus_interface *, 3);
	set[0] = stream_interface();
	set[1] = imagecontrol_properties_interface_new("com.tovi.Test.Properties");
	set[2] = legacy_interface();
	dbus_object_set_interfaces(object, set, 3);
}

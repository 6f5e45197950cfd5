// The baseline of the property benchmark: a GDBus service that owns
// "bench.Bare" and serves one integer property "Value" on /bench/Bare
// (interface bench.Bare). A write stores the value and emits nothing.
// Prints READY once the name is owned; runs until SIGTERM.
#include <gio/gio.h>
#include <glib-unix.h>
#include <stdio.h>

namespace
{

const char introspection[] = "<node><interface name='bench.Bare'>"
                             "<property name='Value' type='i' access='readwrite'/>"
                             "</interface></node>";

int32_t stored = 0;

GVariant *get_property(GDBusConnection *, const char *, const char *, const char *, const char *, GError **,
                       gpointer)
{
	return g_variant_new_int32(stored);
}

gboolean set_property(GDBusConnection *, const char *, const char *, const char *, const char *,
                      GVariant *value, GError **, gpointer)
{
	stored = g_variant_get_int32(value);
	return TRUE;
}

const GDBusInterfaceVTable vtable = {nullptr, get_property, set_property, {nullptr}};

void on_bus(GDBusConnection *connection, const char *, gpointer data)
{
	GDBusNodeInfo *node = static_cast<GDBusNodeInfo *>(data);
	g_dbus_connection_register_object(connection, "/bench/Bare", node->interfaces[0], &vtable, nullptr,
	                                  nullptr, nullptr);
}

void on_name(GDBusConnection *, const char *, gpointer)
{
	printf("READY\n");
	fflush(stdout);
}

} // namespace

int main()
{
	GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
	GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(introspection, nullptr);
	guint owner = g_bus_own_name(G_BUS_TYPE_SYSTEM, "bench.Bare", G_BUS_NAME_OWNER_FLAGS_NONE, on_bus,
	                             on_name, nullptr, node, nullptr);
	g_unix_signal_add(
	    SIGTERM,
	    [](gpointer data) {
		    g_main_loop_quit(static_cast<GMainLoop *>(data));
		    return G_SOURCE_REMOVE;
	    },
	    loop);
	g_main_loop_run(loop);
	g_bus_unown_name(owner);
	g_dbus_node_info_unref(node);
	g_main_loop_unref(loop);
	return 0;
}

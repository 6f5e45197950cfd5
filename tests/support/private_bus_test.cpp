// Both D-Bus stacks in use (GDBus and sd-bus) must honour the private bus.
#include "private_bus.h"

#include <gio/gio.h>
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace
{

const char *const IFACE_XML = "<node><interface name='com.example.Echo'>"
                              "<method name='Echo'><arg type='s' direction='in'/>"
                              "<arg type='s' direction='out'/></method></interface></node>";

void on_echo(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *params,
             GDBusMethodInvocation *inv, gpointer)
{
	const gchar *text;
	g_variant_get(params, "(&s)", &text);
	g_dbus_method_invocation_return_value(inv, g_variant_new("(s)", text));
}

TEST(PrivateBus, ExportsItsAddressForTheSystemBus)
{
	testsupport::PrivateBus bus;
	ASSERT_FALSE(bus.address().empty());
	EXPECT_STREQ(getenv("DBUS_SYSTEM_BUS_ADDRESS"), bus.address().c_str());
}

TEST(PrivateBus, GDBusOwnsANameAndCallsItself)
{
	testsupport::PrivateBus bus;
	GError *err = nullptr;
	GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
	ASSERT_NE(conn, nullptr) << (err ? err->message : "");

	GDBusNodeInfo *info = g_dbus_node_info_new_for_xml(IFACE_XML, nullptr);
	GDBusInterfaceVTable vtable = {on_echo, nullptr, nullptr, {}};
	guint reg = g_dbus_connection_register_object(conn, "/com/example/Echo", info->interfaces[0], &vtable,
	                                              nullptr, nullptr, &err);
	ASSERT_GT(reg, 0u);

	GVariant *owned = g_dbus_connection_call_sync(
	    conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
	    g_variant_new("(su)", "com.example.GTest", 0u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
	    nullptr, &err);
	ASSERT_NE(owned, nullptr) << (err ? err->message : "");
	guint32 result;
	g_variant_get(owned, "(u)", &result);
	EXPECT_EQ(result, 1u); // primary owner
	g_variant_unref(owned);

	// A call to our own name must travel through the bus daemon, so it is
	// made asynchronously while the default context dispatches it.
	struct Reply {
		GVariant *value = nullptr;
		GMainLoop *loop;
	} reply{nullptr, g_main_loop_new(nullptr, FALSE)};
	g_dbus_connection_call(
	    conn, "com.example.GTest", "/com/example/Echo", "com.example.Echo", "Echo",
	    g_variant_new("(s)", "hello"), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
	    [](GObject *src, GAsyncResult *res, gpointer data) {
		    auto *r = static_cast<Reply *>(data);
		    r->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr);
		    g_main_loop_quit(r->loop);
	    },
	    &reply);
	g_main_loop_run(reply.loop);
	ASSERT_NE(reply.value, nullptr);
	const gchar *text;
	g_variant_get(reply.value, "(&s)", &text);
	EXPECT_STREQ(text, "hello");

	g_variant_unref(reply.value);
	g_main_loop_unref(reply.loop);
	g_dbus_connection_unregister_object(conn, reg);
	g_dbus_node_info_unref(info);
	g_dbus_connection_close_sync(conn, nullptr, nullptr);
	g_object_unref(conn);
}

int sd_echo(sd_bus_message *m, void *, sd_bus_error *)
{
	const char *text;
	int r = sd_bus_message_read(m, "s", &text);
	if (r < 0)
		return r;
	return sd_bus_reply_method_return(m, "s", text);
}

const sd_bus_vtable echo_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Echo", "s", "s", sd_echo, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

TEST(PrivateBus, SdBusOwnsANameAndCallsItself)
{
	testsupport::PrivateBus bus;
	sd_bus *b = nullptr;
	ASSERT_GE(sd_bus_open_system(&b), 0);
	sd_bus_slot *slot = nullptr;
	ASSERT_GE(
	    sd_bus_add_object_vtable(b, &slot, "/com/example/Echo", "com.example.Echo", echo_vtable, nullptr),
	    0);
	ASSERT_GE(sd_bus_request_name(b, "com.example.SdTest", 0), 0);

	struct Reply {
		std::string text;
		bool done = false;
	} reply;
	sd_bus_slot *call = nullptr;
	ASSERT_GE(sd_bus_call_method_async(
	              b, &call, "com.example.SdTest", "/com/example/Echo", "com.example.Echo", "Echo",
	              [](sd_bus_message *m, void *data, sd_bus_error *) {
		              auto *r = static_cast<Reply *>(data);
		              const char *text = nullptr;
		              if (!sd_bus_message_is_method_error(m, nullptr) &&
		                  sd_bus_message_read(m, "s", &text) >= 0)
			              r->text = text;
		              r->done = true;
		              return 0;
	              },
	              &reply, "s", "world"),
	          0);
	for (int i = 0; i < 1000 && !reply.done; i++) {
		int r = sd_bus_process(b, nullptr);
		ASSERT_GE(r, 0);
		if (r == 0)
			sd_bus_wait(b, 100000);
	}
	EXPECT_TRUE(reply.done);
	EXPECT_EQ(reply.text, "world");

	sd_bus_slot_unref(call);
	sd_bus_slot_unref(slot);
	sd_bus_flush_close_unref(b);
}

TEST(PrivateBus, ShellHelperStartsAndStopsABus)
{
	std::string cmd =
	    std::string("set -e; eval \"$(") + SCRIPTS_DIR +
	    "/private-bus start)\"; "
	    "gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
	    "--method org.freedesktop.DBus.GetId >/dev/null; " +
	    SCRIPTS_DIR + "/private-bus stop";
	EXPECT_EQ(system(("bash -c '" + cmd + "'").c_str()), 0);
}

} // namespace

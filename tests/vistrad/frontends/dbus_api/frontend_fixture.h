#pragma once
// The front-end in process, on the private bus, with the real parameter
// database. The client is a connection of its own whose calls run on a
// helper thread while this thread runs the daemon side's main loop.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "../../log_capture.h"
#include "bus_client.h"
#include "core/daemon.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "frontends/dbus_api/dbus_api.h"

// Runs fn on a helper thread while the main loop serves the daemon side.
inline void off_loop(const std::function<void()> &fn)
{
	std::atomic<bool> done{false};
	std::thread t([&] {
		fn();
		done = true;
		g_main_context_wakeup(nullptr);
	});
	while (!done)
		g_main_context_iteration(nullptr, TRUE);
	t.join();
}

inline void drain()
{
	while (g_main_context_iteration(nullptr, FALSE))
		;
}

class BusFrontEnd : public ::testing::Test
{
      protected:
	// The daemon side once per program: parameters and a product
	// configuration in the daemon's context.
	static void init_daemon_side(prodconf *product)
	{
		// A GLib warning or critical on the daemon side fails the test.
		g_log_set_always_fatal(
		    (GLogLevelFlags)(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
		param_map_init();
		param_db_init();
		conf = product;
		daemon_get_context()->conf = conf;
	}

	void SetUp() override
	{
		conf->use_stream = 1;
		param_db_set_default_stream(0);
		bus = std::make_unique<BusClient>();
		client = bus->connection;
		ASSERT_NE(nullptr, client);
	}

	void TearDown() override
	{
		stop();
		bus.reset();
		drain();
	}

	// The front-end on the bus, announcing its changes.
	void start_api(int mode = 0)
	{
		api = dbus_api_new(mode);
		param_db_set_dbus_api(api);
		wait_for_owner(mode == 1 ? "com.tovi.VideoControl" : "com.tovi.ImageControl");
	}

	void stop()
	{
		if (!api)
			return;
		param_db_set_dbus_api(nullptr);
		dbus_api_free(api);
		api = nullptr;
		drain();
	}

	void wait_for_owner(const char *name)
	{
		bool seen = false;
		guint watch = g_bus_watch_name_on_connection(
		    client, name, G_BUS_NAME_WATCHER_FLAGS_NONE,
		    [](GDBusConnection *, const char *, const char *, gpointer data) {
			    *static_cast<bool *>(data) = true;
		    },
		    nullptr, &seen, nullptr);
		while (!seen)
			g_main_context_iteration(nullptr, TRUE);
		g_bus_unwatch_name(watch);
	}

	// A call answered before this returns; signals emitted before the
	// answer have been delivered too. An error comes back as
	// "<remote error name>: <message>".
	GVariant *call(const char *path, const char *interface, const char *method, GVariant *parameters,
	               std::string *error_text = nullptr)
	{
		GVariant *reply = nullptr;
		GError *error = nullptr;
		if (parameters)
			g_variant_ref_sink(parameters);
		off_loop([&] {
			reply = g_dbus_connection_call_sync(client, service, path, interface, method,
			                                    parameters, nullptr, G_DBUS_CALL_FLAGS_NONE,
			                                    20000, nullptr, &error);
		});
		if (parameters)
			g_variant_unref(parameters);
		if (error) {
			if (error_text) {
				gchar *remote = g_dbus_error_get_remote_error(error);
				g_dbus_error_strip_remote_error(error);
				*error_text = std::string(remote ? remote : "") + ": " + error->message;
				g_free(remote);
			}
			g_error_free(error);
		}
		flush();
		return reply;
	}

	// Every signal the daemon side sent before a round trip through its own
	// connection has been delivered.
	void flush()
	{
		off_loop([&] {
			GVariant *r = g_dbus_connection_call_sync(
			    client, service, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
			    G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, nullptr);
			if (r)
				g_variant_unref(r);
		});
		drain();
	}

	std::string get(const char *path, const char *interface, const char *name,
	                std::string *error = nullptr)
	{
		GVariant *r = call(path, "org.freedesktop.DBus.Properties", "Get",
		                   g_variant_new("(ss)", interface, name), error);
		if (!r)
			return "(none)";
		GVariant *value = g_variant_get_child_value(r, 0);
		g_variant_unref(r);
		return printed(value);
	}

	std::string set(const char *path, const char *interface, const char *name, GVariant *value)
	{
		std::string error;
		GVariant *r = call(path, "org.freedesktop.DBus.Properties", "Set",
		                   g_variant_new("(ssv)", interface, name, value), &error);
		if (r) {
			g_variant_unref(r);
			return "ok";
		}
		return error;
	}

	int32_t stored(uint32_t id, int32_t stream_id = 0)
	{
		int32_t v = -12345;
		param_get_int(id, stream_id, &v);
		return v;
	}

	static prodconf *conf;
	const char *service = "com.tovi.ImageControl";
	dbus_api *api = nullptr;
	std::unique_ptr<BusClient> bus;
	GDBusConnection *client = nullptr;
	LogCapture log;
};

inline prodconf *BusFrontEnd::conf;

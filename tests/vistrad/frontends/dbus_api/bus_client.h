#pragma once
// A client connection of its own on the private bus that records every
// signal it sees, and small helpers of the front-end's tests.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

struct BusSignal {
	std::string path, interface, member, args;
};

class BusClient
{
      public:
	BusClient()
	{
		connection = g_dbus_connection_new_for_address_sync(
		    getenv("DBUS_SYSTEM_BUS_ADDRESS"),
		    (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
		                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
		    nullptr, nullptr, nullptr);
		EXPECT_NE(nullptr, connection);
		if (connection)
			subscription = g_dbus_connection_signal_subscribe(
			    connection, nullptr, nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
			    on_signal, this, nullptr);
	}
	~BusClient()
	{
		if (!connection)
			return;
		g_dbus_connection_signal_unsubscribe(connection, subscription);
		g_dbus_connection_close_sync(connection, nullptr, nullptr);
		g_object_unref(connection);
	}
	BusClient(const BusClient &) = delete;
	BusClient &operator=(const BusClient &) = delete;

	// Signals of everyone but the bus daemon, in order of arrival.
	std::vector<BusSignal> take_signals()
	{
		std::vector<BusSignal> s;
		s.swap(signals);
		return s;
	}

	GDBusConnection *connection = nullptr;
	std::vector<BusSignal> signals;

      private:
	static void on_signal(GDBusConnection *, const char *sender, const char *path, const char *interface,
	                      const char *member, GVariant *parameters, gpointer data)
	{
		if (strcmp(sender, "org.freedesktop.DBus") == 0)
			return;
		gchar *args = g_variant_print(parameters, TRUE);
		static_cast<BusClient *>(data)->signals.push_back({path, interface, member, args});
		g_free(args);
	}

	guint subscription = 0;
};

// The value in GVariant text form ("(none)" for null); the value is released.
inline std::string printed(GVariant *v)
{
	if (!v)
		return "(none)";
	gchar *text = g_variant_print(v, TRUE);
	std::string s = text;
	g_free(text);
	g_variant_unref(v);
	return s;
}

inline bool contains(const std::string &text, const std::string &part)
{
	return text.find(part) != std::string::npos;
}

inline std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

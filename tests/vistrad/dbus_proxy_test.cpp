// The client proxy against the stand-in temperature service on a private bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontends/dbus_api/dbus_proxy.h"
#include "log_capture.h"
#include "temperature_service.h"

namespace
{

const char *const kName = "com.tovi.TemperatureController";

class DbusProxy : public ::testing::Test
{
      protected:
	void TearDown() override
	{
		if (proxy)
			dbus_proxy_free(proxy);
	}
	// The stand-in's steering interface: its calls have replies to look at.
	dbus_proxy *control_proxy()
	{
		proxy = dbus_proxy_new(kName, "/sim/Temperature", "sim.Temperature.Control");
		return proxy;
	}
	size_t registrations_via_proxy()
	{
		GVariant *reply = dbus_proxy_call_sync(proxy, "GetRegistrations", nullptr);
		if (!reply)
			return SIZE_MAX;
		GVariant *list = g_variant_get_child_value(reply, 0);
		size_t n = g_variant_n_children(list);
		g_variant_unref(list);
		g_variant_unref(reply);
		return n;
	}
	dbus_proxy *proxy = nullptr;
	TemperatureService service;
	LogCapture log;
};

TEST_F(DbusProxy, AbsentServiceGivesAWrapperThatKeepsTrying)
{
	ASSERT_NE(nullptr, control_proxy());
	EXPECT_EQ(nullptr, dbus_proxy_call_sync(proxy, "GetRegistrations", nullptr));
	EXPECT_NE(
	    std::string::npos,
	    log.text().find(
	        "DBus proxy call to bus com.tovi.TemperatureController, object /sim/Temperature failed "))
	    << log.text();
	EXPECT_FALSE(dbus_proxy_is_connected(proxy));
	EXPECT_EQ(nullptr, dbus_proxy_get_cached_property(proxy, "Anything"));

	service.start();
	EXPECT_EQ(0u, registrations_via_proxy());
	EXPECT_TRUE(dbus_proxy_is_connected(proxy));
}

TEST_F(DbusProxy, FailedCallOnlyMarksItDisconnected)
{
	service.start();
	control_proxy();
	EXPECT_TRUE(dbus_proxy_is_connected(proxy));
	EXPECT_EQ(nullptr, dbus_proxy_call_sync(proxy, "NoSuchMethod", nullptr));
	EXPECT_FALSE(dbus_proxy_is_connected(proxy));
	EXPECT_EQ(0u, registrations_via_proxy());
	EXPECT_TRUE(dbus_proxy_is_connected(proxy));
}

TEST_F(DbusProxy, WatcherRunsWhenTheServiceComesBack)
{
	service.start();
	control_proxy();
	int appeared = 0;
	EXPECT_EQ(1, dbus_proxy_watch_name_owner(
	                 proxy, [](dbus_proxy *, void *data) { ++*static_cast<int *>(data); }, &appeared));
	service.call("SetMode", g_variant_new("(s)", "refuse")); // state only the first instance has
	service.stop();
	pump_for(20);
	EXPECT_EQ(0, appeared); // losing the owner tells nobody
	service.start();
	ASSERT_TRUE(pump_until([&] { return appeared == 1; }));
	pump_for(20);
	EXPECT_EQ(1, appeared);
	// The wrapper now talks to the new instance.
	EXPECT_EQ(0u, registrations_via_proxy());
	EXPECT_TRUE(dbus_proxy_is_connected(proxy));

	// A second restart is announced as well.
	service.stop();
	service.start();
	ASSERT_TRUE(pump_until([&] { return appeared == 2; }));
}

struct Reply {
	int calls = 0;
	size_t count = 0;
};

TEST_F(DbusProxy, AsyncCalls)
{
	service.start();
	control_proxy();
	Reply reply;
	dbus_proxy_call(
	    proxy, "GetRegistrations", nullptr,
	    [](void *data, GVariant *r) {
		    auto *rep = static_cast<Reply *>(data);
		    rep->calls++;
		    GVariant *list = g_variant_get_child_value(r, 0);
		    rep->count = g_variant_n_children(list);
		    g_variant_unref(list);
		    g_variant_unref(r);
	    },
	    &reply);
	ASSERT_TRUE(pump_until([&] { return reply.calls == 1; }));
	EXPECT_EQ(0u, reply.count);

	// A failing call calls nobody and marks the wrapper disconnected.
	dbus_proxy_call(
	    proxy, "NoSuchMethod", nullptr,
	    [](void *data, GVariant *) { static_cast<Reply *>(data)->calls++; }, &reply);
	ASSERT_TRUE(pump_until([&] { return !dbus_proxy_is_connected(proxy); }));
	EXPECT_EQ(1, reply.calls);
	EXPECT_NE(std::string::npos,
	          log.text().find("DBus proxy async call to bus com.tovi.TemperatureController"));
}

TEST_F(DbusProxy, FreedWhileACallIsInFlight)
{
	service.start();
	control_proxy();
	int calls = 0;
	dbus_proxy_call(
	    proxy, "GetRegistrations", nullptr, [](void *data, GVariant *) { ++*static_cast<int *>(data); },
	    &calls);
	dbus_proxy_free(proxy);
	proxy = nullptr;
	// A round trip after the call: its reply has come back by then.
	EXPECT_EQ(0u, service.registrations());
	pump_for(50);
	EXPECT_EQ(0, calls);
}

std::vector<std::string> heard;

void hear(const char *, GVariant *parameters, void *data)
{
	gint32 id = 0;
	gboolean state = FALSE;
	g_variant_get(parameters, "(ib)", &id, &state);
	heard.push_back(std::string(static_cast<const char *>(data)) + ":" + std::to_string(id));
}

TEST_F(DbusProxy, SignalSubscriptions)
{
	heard.clear();
	service.start();
	proxy = dbus_proxy_new(kName, "/com/tovi/TemperatureController", kName);
	EXPECT_EQ(0, dbus_proxy_signal_unsubscribe(proxy, "TemperatureSignal"));
	EXPECT_NE(
	    std::string::npos,
	    log.text().find("DBus proxy: cannot unregister signal_name TemperatureSignal (nonexisting)\n"));

	// Two subscriptions of one name: each hears every signal once.
	ASSERT_TRUE(dbus_proxy_signal_subscribe(proxy, "TemperatureSignal", hear, g_strdup("first")));
	ASSERT_TRUE(dbus_proxy_signal_subscribe(proxy, "TemperatureSignal", hear, g_strdup("second")));
	service.emit(7);
	ASSERT_TRUE(pump_until([] { return heard.size() == 2; }));
	pump_for(20);
	std::sort(heard.begin(), heard.end());
	EXPECT_EQ((std::vector<std::string>{"first:7", "second:7"}), heard);

	// Unsubscribing removes the most recent one.
	heard.clear();
	EXPECT_EQ(1, dbus_proxy_signal_unsubscribe(proxy, "TemperatureSignal"));
	service.emit(8);
	ASSERT_TRUE(pump_until([] { return heard.size() == 1; }));
	pump_for(20);
	EXPECT_EQ((std::vector<std::string>{"first:8"}), heard);

	// Subscriptions outlive a restart of the service.
	service.stop();
	service.start();
	service.emit(9);
	ASSERT_TRUE(pump_until([] { return heard.size() == 2; }));
	EXPECT_EQ("first:9", heard[1]);
}

TEST_F(DbusProxy, NoSubscriptionWithoutConnection)
{
	proxy = dbus_proxy_new(kName, "/com/tovi/TemperatureController", kName);
	// The bus is there, so a proxy exists; a wrapper whose calls failed and
	// that cannot make a proxy is the one that refuses.
	struct dbus_proxy_ops *ops = dbus_proxy_get_ops(proxy);
	ops->new_for_bus_sync = [](const char *, const char *, const char *, GError **) -> GDBusProxy * {
		return nullptr;
	};
	EXPECT_EQ(nullptr, dbus_proxy_call_sync(proxy, "RegisterForTemperatureSignal", nullptr));
	EXPECT_EQ(0, dbus_proxy_signal_subscribe(proxy, "TemperatureSignal", hear, nullptr));
	EXPECT_NE(
	    std::string::npos,
	    log.text().find("DBus API: could not create proxy connection to com.tovi.TemperatureController: "
	                    "/com/tovi/TemperatureController\n"));
	EXPECT_NE(
	    std::string::npos,
	    log.text().find("DBus proxy: connection to service com.tovi.TemperatureController is down\n"));
}

} // namespace

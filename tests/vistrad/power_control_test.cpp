// The power-control client against the stand-in power service on a private
// bus. The test owns com.tovi.ImageControl itself: its SetPower hands the
// grant to the client, as the daemon's front-end does.
#include <gtest/gtest.h>

#include <math.h>

#include <string>
#include <vector>

#include "frontends/dbus_api/power_control.h"
#include "log_capture.h"
#include "main_loop_pump.h"
#include "power_service.h"

namespace
{

const char image_control_xml[] =
    "<node>"
    " <interface name='com.tovi.ImageControl.Power'>"
    "  <method name='SetPower'><arg direction='in' type='d' name='watts'/></method>"
    " </interface>"
    "</node>";

void set_power_called(GDBusConnection *, const char *, const char *, const char *, const char *,
                      GVariant *params, GDBusMethodInvocation *inv, gpointer)
{
	double watts = 0;
	g_variant_get(params, "(d)", &watts);
	if (power_control_set_power(watts))
		g_dbus_method_invocation_return_value(inv, nullptr);
	else
		g_dbus_method_invocation_return_dbus_error(inv, "com.tovi.ImageControl.Error",
		                                           "nothing requested");
}

const GDBusInterfaceVTable image_control_vtable = {set_power_called, nullptr, nullptr, {0}};

struct Consumer {
	Consumer(const char *name, int32_t requested, uint32_t granted = 0, uint32_t delay = 0)
	{
		c.name = name;
		c.requested = requested;
		c.granted = granted;
		c.callback = [](void *data, uint32_t g) {
			static_cast<Consumer *>(data)->grants.push_back(g);
		};
		c.user_data = this;
		c.delay = delay;
	}
	power_consumer c = {};
	std::vector<uint32_t> grants;
};

class PowerControl : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
		ASSERT_NE(nullptr, bus);
		GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(image_control_xml, nullptr);
		g_dbus_connection_register_object(bus, "/com/tovi/ImageControl", node->interfaces[0],
		                                  &image_control_vtable, nullptr, nullptr, nullptr);
		g_dbus_node_info_unref(node);
		static bool owned;
		g_bus_own_name_on_connection(
		    bus, "com.tovi.ImageControl", G_BUS_NAME_OWNER_FLAGS_NONE,
		    [](GDBusConnection *, const char *, gpointer) { owned = true; }, nullptr, nullptr,
		    nullptr);
		ASSERT_TRUE(pump_until([] { return owned; }));
	}

	void SetUp() override
	{
		service.start();
		EXPECT_EQ(1, power_control_init());
	}

	void TearDown() override
	{
		service.stop();
		power_control_deinit();
		// Nothing of this test may reach the next one's queue.
		GVariant *reply = bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
		                           "org.freedesktop.DBus", "GetId", nullptr);
		if (reply)
			g_variant_unref(reply);
		drain();
	}

	// Runs whatever the main context has ready (the client's idle pass).
	static void drain()
	{
		while (g_main_context_iteration(nullptr, FALSE))
			;
	}

	// Both registered and asking, the service holding its answers: the
	// first request is in flight, the second waits behind it.
	void queue_held(Consumer &first, Consumer &second)
	{
		service.set_mode("hold");
		power_control_register_consumer(&first.c);
		power_control_register_consumer(&second.c);
		power_control_request(&first.c);
		power_control_request(&second.c);
	}

	std::vector<std::string> calls_from(size_t first)
	{
		std::vector<std::string> all = service.calls();
		return std::vector<std::string>(all.begin() + (long)std::min(first, all.size()), all.end());
	}

	PowerService service;
	LogCapture log;
};

struct GrantCase {
	const char *what;
	int32_t requested;
	uint32_t granted;
	const char *mode;
	double watts;
	const char *sent; // the RequestPower arguments, or none
	uint32_t result;
};

TEST_F(PowerControl, RequestsCompleteLocallyOrAtTheService)
{
	const GrantCase cases[] = {
	    {"short of nothing by less than 164", 100, 0, "grant", 0, nullptr, 0},
	    {"grant within 163 of the request", 16384, 16300, "grant", 0, nullptr, 16300},
	    {"1 W over nothing, half granted", 16384, 0, "fixed", 0.5, "'control', 1.0", 8192},
	    {"a grant below 0.01 W is none", 16384, 0, "fixed", 0.005, "'control', 1.0", 0},
	    {"164 short of the request", 16384, 16220, "grant", 0, "'control', 1.0", 16384},
	    {"granted as requested", 20000, 0, "grant", 0, "'control', 1.220703125", 20000},
	    {"nothing wanted while granted", 0, 8192, "grant", 0, "'off', 0.0", 0},
	    {"below nothing", -5, 0, "grant", 0, "'off', 0.0", 0},
	    {"nothing wanted, nothing granted", 0, 0, "grant", 0, nullptr, 0},
	    {"a grant no word can hold", 16384, 0, "fixed", 1e12, "'control', 1.0", 4294967295u},
	    {"a negative grant", 16384, 0, "fixed", -1.0, "'control', 1.0", 0},
	    {"a grant that is not a number", 16384, 0, "fixed", NAN, "'control', 1.0", 0},
	};
	for (const auto &t : cases) {
		SCOPED_TRACE(t.what);
		service.set_mode(t.mode, t.watts);
		size_t first = service.calls().size();
		Consumer irc("irc", t.requested, t.granted);
		EXPECT_EQ(0, power_control_register_consumer(&irc.c));
		EXPECT_EQ(1, power_control_request(&irc.c));
		ASSERT_TRUE(pump_until([&] { return !irc.grants.empty(); }));
		std::vector<std::string> expected = {register_call("irc")};
		if (t.sent)
			expected.push_back("RequestPower ('irc', " + std::string(t.sent) + ")");
		EXPECT_EQ(expected, calls_from(first));
		EXPECT_EQ(std::vector<uint32_t>{t.result}, irc.grants);
		EXPECT_EQ(t.result, irc.c.granted);
		EXPECT_EQ(0, power_control_unregister_consumer(&irc.c));
	}
}

TEST_F(PowerControl, OneRequestAtATimeInOrder)
{
	Consumer irc("irc", 16384), led("led", 8192);
	queue_held(irc, led);
	std::vector<std::string> expected = {register_call("irc"), register_call("led"),
	                                     request_call("irc", "control", "1.0")};
	EXPECT_EQ(expected, service.calls());

	service.answer_pending();
	ASSERT_TRUE(pump_until([&] { return !irc.grants.empty(); }));
	expected.push_back(request_call("led", "control", "0.5"));
	ASSERT_TRUE(pump_until([&] { return service.calls().size() == expected.size(); }));
	EXPECT_EQ(expected, service.calls());
	EXPECT_TRUE(led.grants.empty());

	service.answer_pending();
	ASSERT_TRUE(pump_until([&] { return !led.grants.empty(); }));
	EXPECT_EQ(std::vector<uint32_t>{16384}, irc.grants);
	EXPECT_EQ(std::vector<uint32_t>{8192}, led.grants);
	EXPECT_EQ(0, power_control_set_power(1.0)) << "nothing is left in the queue";
}

TEST_F(PowerControl, UnregisteringDropsTheConsumersRequests)
{
	auto *irc = new Consumer("irc", 16384);
	auto *led = new Consumer("led", 8192);
	queue_held(*irc, *led); // irc in flight, led queued behind it
	power_control_unregister_consumer(&irc->c);
	power_control_unregister_consumer(&led->c);
	// Unregistered records may go at once: nothing may reach them later.
	delete irc;
	delete led;

	service.answer_pending();
	std::vector<std::string> expected = {register_call("irc"), register_call("led"),
	                                     request_call("irc", "control", "1.0"), register_call("irc"),
	                                     register_call("led")};
	ASSERT_TRUE(pump_until([&] { return service.calls().size() == expected.size(); }));
	drain();
	EXPECT_EQ(expected, service.calls());
	EXPECT_EQ(0, power_control_set_power(1.0));
}

TEST_F(PowerControl, SmallRequestsWaitForTheirDelay)
{
	// Asked for less than 164 and granted some: the switch-off waits.
	Consumer irc("irc", 0, 8192, 30);
	power_control_register_consumer(&irc.c);
	power_control_request(&irc.c);
	EXPECT_EQ(std::vector<std::string>{register_call("irc")}, service.calls());
	ASSERT_TRUE(pump_until([&] { return !irc.grants.empty(); }));
	std::vector<std::string> expected = {register_call("irc"), request_call("irc", "off", "0.0")};
	EXPECT_EQ(expected, service.calls());

	// Larger requests go out at once, whatever the delay.
	Consumer led("led", 16384, 0, 1000000);
	power_control_register_consumer(&led.c);
	power_control_request(&led.c);
	expected.push_back(register_call("led"));
	expected.push_back(request_call("led", "control", "1.0"));
	EXPECT_EQ(expected, service.calls());
	ASSERT_TRUE(pump_until([&] { return !led.grants.empty(); }));
}

// Any peer may call SetPower: one that comes while the head still waits for
// its delay completes that head, whose timer must then send nothing.
TEST_F(PowerControl, UnsolicitedSetPowerDuringADelay)
{
	Consumer irc("irc", 0, 8192, 1000000), led("led", 16384);
	power_control_register_consumer(&irc.c);
	power_control_register_consumer(&led.c);
	power_control_request(&irc.c);
	power_control_request(&led.c);

	GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
	bool replied = false;
	g_dbus_connection_call(
	    bus, "com.tovi.ImageControl", "/com/tovi/ImageControl", "com.tovi.ImageControl.Power", "SetPower",
	    g_variant_new("(d)", 0.25), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
	    [](GObject *source, GAsyncResult *result, gpointer data) {
		    GVariant *reply =
		        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
		    if (reply)
			    g_variant_unref(reply);
		    *static_cast<bool *>(data) = true;
	    },
	    &replied);
	ASSERT_TRUE(pump_until([&] { return replied && !led.grants.empty(); }));
	g_object_unref(bus);
	EXPECT_EQ(std::vector<uint32_t>{4096}, irc.grants);
	EXPECT_EQ(std::vector<uint32_t>{16384}, led.grants);
	std::vector<std::string> expected = {register_call("irc"), register_call("led"),
	                                     request_call("led", "control", "1.0")};
	EXPECT_EQ(expected, service.calls());
}

// A request made after a SetPower, before the client's idle pass, goes out
// once: the idle pass must not send the head a second time.
TEST_F(PowerControl, TheHeadIsSentOnce)
{
	service.set_mode("hold");
	Consumer irc("irc", 16384), led("led", 8192);
	power_control_register_consumer(&irc.c);
	power_control_register_consumer(&led.c);
	power_control_request(&irc.c);
	EXPECT_EQ(1, power_control_set_power(0.5));
	power_control_request(&led.c);
	drain();
	std::vector<std::string> expected = {register_call("irc"), register_call("led"),
	                                     request_call("irc", "control", "1.0"),
	                                     request_call("led", "control", "0.5")};
	EXPECT_EQ(expected, service.calls());
	EXPECT_EQ(std::vector<uint32_t>{8192}, irc.grants);
}

TEST_F(PowerControl, ARestartedServiceLearnsEveryConsumerAndTheRequestInFlight)
{
	Consumer irc("irc", 16384), led("led", 8192);
	queue_held(irc, led);

	service.stop();
	service.start(); // grants what is asked
	std::vector<std::string> expected = {register_call("led"), register_call("irc"),
	                                     request_call("irc", "control", "1.0"),
	                                     request_call("led", "control", "0.5")};
	ASSERT_TRUE(pump_until([&] { return !led.grants.empty(); }));
	EXPECT_EQ(expected, service.calls());
	EXPECT_EQ(std::vector<uint32_t>{16384}, irc.grants);
	EXPECT_EQ(std::vector<uint32_t>{8192}, led.grants);

	// The same process giving up its name and taking it again.
	service.call("ReleaseName");
	service.call("TakeName");
	expected.push_back(register_call("led"));
	expected.push_back(register_call("irc"));
	ASSERT_TRUE(pump_until([&] { return service.calls().size() == expected.size(); }));
	EXPECT_EQ(expected, service.calls());
}

TEST_F(PowerControl, WithoutAClientNothingIsQueued)
{
	power_control_deinit();
	Consumer irc("irc", 16384);
	EXPECT_EQ(0, power_control_request(&irc.c));
	EXPECT_NE(std::string::npos, log.text().find("power control: no proxy\n")) << log.text();
	EXPECT_EQ(0, power_control_set_power(1.0));
	EXPECT_EQ(1, power_control_init());
}

} // namespace

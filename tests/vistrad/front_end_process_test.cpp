// The daemon's power-control client and event producer as a process: the
// test plug-in plays the day/night step, the stand-in power service records
// what reaches it, and the stand-in event library shows declarations and
// events as sim.Tessel signals on the private bus.
#include "daemon_process.h"
#include "main_loop_pump.h"
#include "power_service.h"

#include <algorithm>

namespace
{

bool has(const std::vector<std::string> &list, const std::string &item)
{
	return std::find(list.begin(), list.end(), item) != list.end();
}

// "Member id" for each sim.Tessel signal, with the key and value of an event
// and whether a declaration is of DayNightVision's "day" key.
void on_tessel(GDBusConnection *, const char *, const char *, const char *, const char *member,
               GVariant *params, gpointer data)
{
	auto *seen = static_cast<std::vector<std::string> *>(data);
	int32_t id = 0;
	g_variant_get_child(params, 0, "i", &id);
	std::string line = std::string(member) + " " + std::to_string(id);
	if (strcmp(member, "Event") == 0) {
		const char *key, *value;
		g_variant_get(params, "(i&s&s)", &id, &key, &value);
		line += std::string(" ") + key + "=" + value;
	} else if (strcmp(member, "Declare") == 0) {
		const char *text;
		g_variant_get(params, "(i&s)", &id, &text);
		line += strstr(text, "key day type=2") ? " day" : " level";
	}
	seen->push_back(line);
}

TEST_F(DaemonProcess, DayNightReachesThePowerServiceAndTheEventBus)
{
	PowerService power;
	power.start();
	GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
	std::vector<std::string> signals;
	guint sub =
	    g_dbus_connection_signal_subscribe(bus, nullptr, "sim.Tessel", nullptr, "/sim/Tessel", nullptr,
	                                       G_DBUS_SIGNAL_FLAGS_NONE, on_tessel, &signals, nullptr);
	configure();
	install_plugin();
	start({}, {{"MOXEL_POWER", "16384"}, {"MOXEL_IRCUT", "1 1 0"}, {"MOXEL_ABOVE_LEVEL", "1"}});
	ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();

	std::vector<std::string> asked = {register_call("irc"), request_call("irc", "control", "1.0")};
	EXPECT_TRUE(pump_until([&] { return power.calls() == asked; }))
	    << testing::PrintToString(power.calls());
	std::vector<std::string> events = {"Declare 1 day", "Event 1 day=0", "Declare 2 level"};
	EXPECT_TRUE(pump_until([&] { return signals == events; })) << testing::PrintToString(signals);

	// A new service process knows nothing: the daemon registers again.
	power.stop();
	power.start();
	EXPECT_TRUE(pump_until([&] { return has(power.calls(), register_call("irc")); }))
	    << testing::PrintToString(power.calls());

	EXPECT_EQ(0, d->stop());
	events.push_back("Undeclare 1");
	events.push_back("Undeclare 2");
	EXPECT_TRUE(pump_until([&] { return signals == events; })) << testing::PrintToString(signals);
	g_dbus_connection_signal_unsubscribe(bus, sub);
	g_object_unref(bus);
}

} // namespace

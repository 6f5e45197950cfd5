// Temperature limits against the stand-in temperature service on a private bus.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/control.h"
#include "core/control_private.h"
#include "core/control_temperature.h"
#include "core/daemon.h"
#include "log_capture.h"
#include "platform/platform_vorsalind.h"
#include "temperature_service.h"

namespace
{

std::vector<std::pair<int32_t, control_temperature_limit *>> signalled;
std::vector<int> reports;
int restarts;

void on_limit(control *, int32_t limit_id, control_temperature_limit *limit)
{
	signalled.emplace_back(limit_id, limit);
}

void on_set(control *, int32_t, control_temperature_limit_set *, int state)
{
	reports.push_back(state);
}

class Temperature : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		signalled.clear();
		reports.clear();
		restarts = 0;
		plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
	}
	void TearDown() override
	{
		for (auto *l : own)
			g_free(l);
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		daemon_set_stream_restart_hook(nullptr, nullptr);
	}
	control_temperature_limit *limit(uint32_t sensor, int32_t value, uint8_t direction)
	{
		auto *l =
		    control_register_temperature_limit(engine, sensor, value, direction, on_limit, nullptr);
		if (l)
			own.push_back(l);
		return l;
	}
	control_temperature_limit_set *set(uint32_t sensor, int *initial)
	{
		return control_register_temperature_limit_set(engine, sensor, -10, -5, 55, 60, on_set,
		                                              g_strdup("mine"), initial);
	}
	struct prodconf_stub {
		int unused;
	} conf_stub = {};
	platform *plat = nullptr;
	control *engine = nullptr;
	std::vector<control_temperature_limit *> own;
	TemperatureService service;
	LogCapture log;
};

// Register, signal, restart of the service and registration again under the
// ids the new service gives.
TEST_F(Temperature, LimitsFollowTheServiceThroughARestart)
{
	service.start(1);
	auto *hot = limit(3, 70, 0);
	auto *cold = limit(3, -10, 1);
	ASSERT_NE(nullptr, hot);
	ASSERT_NE(nullptr, cold);
	EXPECT_EQ(1, hot->limit_id);
	EXPECT_EQ(2, cold->limit_id);
	EXPECT_EQ(0, hot->state);
	EXPECT_EQ(cold, engine->temperature_limits->data); // most recent first

	service.set_temperature(3, 75);
	ASSERT_TRUE(pump_until([] { return !signalled.empty(); }));
	pump_for(20);
	ASSERT_EQ(1u, signalled.size());
	EXPECT_EQ(std::make_pair(1, hot), signalled[0]);

	service.stop();
	service.start(100);
	ASSERT_TRUE(pump_until([this] { return service.registrations() == 2; }));
	pump_until([&] { return hot->limit_id >= 100 && cold->limit_id >= 100; });
	// The list is walked most recent first.
	EXPECT_EQ(100, cold->limit_id);
	EXPECT_EQ(101, hot->limit_id);

	signalled.clear();
	service.emit(1); // an id nobody holds any more
	service.set_temperature(3, -20);
	ASSERT_TRUE(pump_until([] { return !signalled.empty(); }));
	pump_for(20);
	ASSERT_EQ(1u, signalled.size());
	EXPECT_EQ(std::make_pair(100, cold), signalled[0]);
}

struct InitialCase {
	double temperature;
	int initial;
	uint32_t low, high;
};

// Limits -10 < -5 < 55 < 60; the service reports which conditions hold now.
TEST_F(Temperature, InitialStateOfASet)
{
	const InitialCase cases[] = {
	    {-20, 0, 0, 0}, // below limit 0: too cold
	    {70, 4, 2, 2},  // above limit 3: too hot
	    {57, 3, 2, 2},  // between limits 2 and 3: hot, on the way back
	    {-7, 1, 0, 0},  // between limits 0 and 1: cold, on the way back
	    {20, 2, 2, 0},  // normal
	};
	service.start();
	uint32_t sensor = 0;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.temperature);
		service.set_temperature((int)++sensor, c.temperature);
		int initial = -1;
		control_temperature_limit_set *s = set(sensor, &initial);
		ASSERT_NE(nullptr, s);
		EXPECT_EQ(c.initial, initial);
		EXPECT_EQ(c.low, s->low);
		EXPECT_EQ(c.high, s->high);
		EXPECT_EQ(1, s->limits[0]->direction);
		EXPECT_EQ(0, s->limits[1]->direction);
		EXPECT_EQ(1, s->limits[2]->direction);
		EXPECT_EQ(0, s->limits[3]->direction);
		control_free_temperature_limit_set(engine, s);
	}
	EXPECT_EQ(nullptr, engine->temperature_limits);
}

struct MachineCase {
	const char *name;
	double temperature;       // gives the starting state
	std::vector<int> signals; // index of the limit that signals
	std::vector<int> expected;
};

TEST_F(Temperature, SetStateMachine)
{
	const MachineCase cases[] = {
	    {"hot, then back", 20, {3, 2}, {2, 1}},
	    {"cold, then back", 20, {0, 1}, {0, 1}},
	    {"normal stays normal", 20, {1, 2}, {1, 1}},
	    {"hot hysteresis: cools", 57, {2}, {1}},
	    {"hot hysteresis: heats", 57, {1}, {2}},
	    {"cold hysteresis: warms", -7, {1}, {1}},
	    {"cold hysteresis: cools", -7, {2}, {0}},
	    {"cold straight to hot", 20, {0, 3, 2, 1}, {0, 2, 1, 1}},
	};
	service.start();
	uint32_t sensor = 0;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		service.set_temperature((int)++sensor, c.temperature);
		int initial = -1;
		control_temperature_limit_set *s = set(sensor, &initial);
		ASSERT_NE(nullptr, s);
		reports.clear();
		for (size_t i = 0; i < c.signals.size(); i++) {
			service.emit(s->limits[c.signals[i]]->limit_id);
			ASSERT_TRUE(pump_until([&] { return reports.size() == i + 1; }));
		}
		EXPECT_EQ(c.expected, reports);
		control_free_temperature_limit_set(engine, s);
	}
	// Signals of limits no longer registered reach nobody.
	reports.clear();
	service.emit(1);
	service.emit(999);
	pump_for(50);
	EXPECT_TRUE(reports.empty());
}

struct PairCase {
	double temperature;
	int state;
};

TEST_F(Temperature, PairState)
{
	const PairCase cases[] = {{20, 1}, {60, 2}, {-5, 0}};
	service.start();
	uint32_t sensor = 0;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.temperature);
		service.set_temperature((int)++sensor, c.temperature);
		int state = -1;
		GList *pair =
		    control_register_temperature_limit_pair(engine, sensor, 0, 50, on_limit, &state);
		ASSERT_EQ(2u, g_list_length(pair));
		auto *upper = static_cast<control_temperature_limit *>(pair->data);
		auto *lower = static_cast<control_temperature_limit *>(pair->next->data);
		EXPECT_EQ(50, upper->limit);
		EXPECT_EQ(0, upper->direction);
		EXPECT_EQ(0, lower->limit);
		EXPECT_EQ(1, lower->direction);
		EXPECT_EQ(c.state, state);
		control_unregister_temperature_limits(engine, pair);
		g_list_free_full(pair, g_free);
	}
	// Only the high limit registered: the state falls back to normal.
	service.call("RefuseAfter", g_variant_new("(i)", 1));
	int state = -1;
	GList *pair = control_register_temperature_limit_pair(engine, 9, 0, 50, on_limit, &state);
	EXPECT_EQ(1u, g_list_length(pair));
	EXPECT_EQ(1, state);
	control_unregister_temperature_limits(engine, pair);
	g_list_free_full(pair, g_free);
}

TEST_F(Temperature, RefusedAndWrongAnswers)
{
	// No service at all.
	EXPECT_EQ(nullptr, limit(1, 50, 0));
	EXPECT_NE(std::string::npos, log.text().find("Temperature: got no reply via DBus\n"));

	service.start();
	service.set_mode("refuse");
	log.clear();
	EXPECT_EQ(nullptr, limit(1, 50, 0));
	EXPECT_NE(std::string::npos, log.text().find("Temperature: got no reply via DBus\n"));

	service.set_mode("wrong");
	log.clear();
	EXPECT_EQ(nullptr, limit(1, 50, 0));
	EXPECT_NE(std::string::npos, log.text().find("Temperature: got wrong answer\n"));
	EXPECT_EQ(nullptr, engine->temperature_limits);

	service.set_mode("normal");
	EXPECT_NE(nullptr, limit(1, 50, 0));
}

// When the third limit of a set fails, the two before it leave the engine's
// list and the set is gone.
TEST_F(Temperature, SetWithAFailingLimit)
{
	service.start();
	service.call("RefuseAfter", g_variant_new("(i)", 2));
	int initial = -1;
	EXPECT_EQ(nullptr, set(1, &initial));
	EXPECT_EQ(2, initial);
	EXPECT_EQ(nullptr, engine->temperature_limits);
}

TEST_F(Temperature, ListsWithBadEntries)
{
	service.start();
	auto make = [](int32_t value) {
		auto *l = g_new0(control_temperature_limit, 1);
		l->sensor_id = 1;
		l->limit = value;
		l->callback = on_limit;
		return l;
	};
	auto *a = make(10);
	auto *b = make(20);
	auto *c = make(30);
	GList *in = g_list_append(g_list_append(g_list_append(g_list_append(nullptr, a), b), nullptr), c);
	GList *done = control_register_temperature_limits(engine, in);
	EXPECT_NE(std::string::npos, log.text().find("Temperature: Bad limit in, ignoring!\n"));
	ASSERT_EQ(2u, g_list_length(done)); // registration ended at the null entry
	EXPECT_EQ(a, done->data);
	EXPECT_EQ(b, done->next->data);
	EXPECT_EQ(2u, g_list_length(engine->temperature_limits));

	log.clear();
	control_unregister_temperature_limits(engine, in); // skips the null, takes a and b out
	EXPECT_NE(std::string::npos, log.text().find("Temperature: Bad limit in, ignoring!\n"));
	EXPECT_EQ(nullptr, engine->temperature_limits);
	g_list_free(in);
	g_list_free(done);
	g_free(a);
	g_free(b);
	g_free(c);
}

TEST_F(Temperature, HaltOutsideTheNormalRange)
{
	service.start(1, 70);
	daemon_set_stream_restart_hook([](void *) { restarts++; }, nullptr);
	EXPECT_EQ(4, daemon_set_temperature_halt_limits(engine, 1, -10, -5, 55, 60));
	EXPECT_EQ(1u, daemon_get_temperature_halt());
	ASSERT_NE(nullptr, engine->temperature_halt_set);

	service.set_temperature(1, 50); // falls below limit 2
	ASSERT_TRUE(pump_until([] { return restarts == 1; }));
	EXPECT_EQ(0u, daemon_get_temperature_halt());

	service.set_temperature(1, 65); // rises above limit 3 again
	ASSERT_TRUE(pump_until([] { return restarts == 2; }));
	EXPECT_EQ(1u, daemon_get_temperature_halt());

	service.set_temperature(1, 20); // back to normal
	ASSERT_TRUE(pump_until([] { return restarts == 3; }));
	EXPECT_EQ(0u, daemon_get_temperature_halt());
}

} // namespace

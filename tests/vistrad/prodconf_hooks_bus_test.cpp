// The hooks that ask outside services: lens type from the stand-in optics
// service and the iris start temperature from the stand-in temperature
// service, both on the test's private bus. The iris's own answers and the
// daemon's rebuild request are replaced at link time (--wrap).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_modules.h"
#include "core/prodconf_tree.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "optics/iris.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "step_recorder.h"
#include "temperature_service.h"

extern "C" {
void __wrap_daemon_request_stream_restart(void)
{
	calls.push_back("stream_restart");
}
int32_t __wrap_iris_get_temperature_sensor_id(iris *)
{
	return answer("sensor_id", 4);
}
int32_t __wrap_iris_get_lowest_operating_temperature(iris *, int *status)
{
	*status = answer("operating_status", 0);
	return answer("operating", -20 * 16384);
}
int __wrap_iris_set_temperature_status(iris *, int out_of_range)
{
	calls.push_back("out_of_range=" + std::to_string(out_of_range));
	return 0;
}
} // extern "C"

namespace
{

// The stand-in optics service, started with the lens types given.
class OpticsService
{
      public:
	~OpticsService()
	{
		stop();
	}
	void start(std::vector<std::string> types)
	{
		std::vector<const char *> argv = {OPTICS_SIM};
		for (auto &t : types) {
			argv.push_back("--type");
			argv.push_back(t.c_str());
		}
		argv.push_back(nullptr);
		process_.start(argv.data());
	}
	void stop()
	{
		process_.stop();
	}
	GVariant *control(const char *method, GVariant *args)
	{
		return bus_call("com.tovi.Optics2", "/sim/Optics", "sim.Optics.Control", method, args);
	}
	void call(const char *method, GVariant *args)
	{
		GVariant *reply = control(method, args);
		if (reply)
			g_variant_unref(reply);
	}
	// Every property read so far, as "channel,channel".
	std::string reads()
	{
		return bus_call_strings("com.tovi.Optics2", "/sim/Optics", "sim.Optics.Control", "GetReads");
	}

      private:
	StandInProcess process_;
};

class HooksBus : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		calls.clear();
		answers.clear();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
		prodconf_register_modules(conf);
		plat = platform_vorsalind_create(nullptr, conf, 2);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
	}
	void TearDown() override
	{
		control_free(engine);
		platform_destroy(plat);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
	}
	void run(const char *name, int32_t argument)
	{
		gboolean found = FALSE;
		prodconf_func f = prodconf_lookup_function(conf, name, &found);
		ASSERT_TRUE(found) << name;
		reinterpret_cast<prodconf_list_fn>(f)(conf, engine, argument);
	}
	std::string selected(int c)
	{
		std::string out;
		for (GList *l = conf->selected_modules[c]; l; l = l->next)
			out += (out.empty() ? "" : " ") + std::string(static_cast<const char *>(l->data));
		g_list_free_full(conf->selected_modules[c], g_free);
		conf->selected_modules[c] = nullptr;
		return out;
	}
	int32_t camblock_type(int32_t s)
	{
		int32_t v = INT32_MIN;
		param_get_int(159, s, &v);
		return v;
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}

	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

// Each answer of the optics service, for both the lens block and the lens-type parameter.
TEST_F(HooksBus, OpticsTypeAnswers)
{
	OpticsService optics;
	optics.start({"0=e-KT", "1=Backfocus"});
	struct Case {
		const char *type; // null: the integer 7
		const char *block;
		int32_t param;
	} cases[] = {
	    {"e-KT", "camblock_ekt", 2},     {"Camblock", "camblock_cs", 1}, {"Backfocus", "camblock_cs", 3},
	    {"something", "camblock_cs", 0}, {nullptr, "camblock_cs", 0},
	};
	for (const auto &c : cases) {
		std::string what = c.type ? c.type : "(integer)";
		if (c.type)
			optics.call("SetType", g_variant_new("(is)", 1, c.type));
		else
			optics.call("SetIntegerType", g_variant_new("(ii)", 1, 7));
		log.clear();
		run("OPTICS_DETECTION_VENDREL", 256);
		EXPECT_EQ(c.block, selected(1)) << what;
		run("OPTICS_PARAMDATA_VENDREL", 256);
		EXPECT_EQ(c.param, camblock_type(256)) << what;
		EXPECT_EQ(c.type == nullptr, logged("Could not read optics type from vendrel\n")) << what;
	}
	// Channel 0 has its own object.
	run("OPTICS_PARAMDATA_VENDREL", 0);
	EXPECT_EQ(2, camblock_type(0));
	EXPECT_NE(std::string::npos, optics.reads().find("0"));

	// A channel without a lens object, then no service at all.
	optics.call("Remove", g_variant_new("(i)", 1));
	for (int round = 0; round < 2; round++) {
		log.clear();
		run("OPTICS_DETECTION_VENDREL", 256);
		EXPECT_EQ("camblock_cs", selected(1)) << round;
		param_set_int(159, 256, 1);
		run("OPTICS_PARAMDATA_VENDREL", 256);
		EXPECT_EQ(0, camblock_type(256)) << round;
		EXPECT_TRUE(logged("Could not read optics type from vendrel\n")) << round;
		optics.stop();
	}
}

// The iris start-temperature check against each answer of the temperature service.
TEST_F(HooksBus, IrisStartTemperature)
{
	TemperatureService service;
	service.start(1, -20.0);
	iris *i = iris_new();
	i->type = 3;
	control_add_iris(engine, i, 0);

	// At the lowest operating temperature: in range, and a rebuild.
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_EQ("out_of_range=0 stream_restart", join(calls));
	GVariant *reply = service.control("GetCalls", nullptr);
	ASSERT_NE(nullptr, reply);
	char **list = nullptr;
	g_variant_get(reply, "(^as)", &list);
	ASSERT_NE(nullptr, list);
	ASSERT_NE(nullptr, list[0]);
	EXPECT_STREQ("4,Celsius", list[0]);
	g_strfreev(list);
	g_variant_unref(reply);

	// Just below: out of range.
	calls.clear();
	service.set_temperature(4, -20.001);
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_EQ("out_of_range=1", join(calls));

	// Far beyond the 32-bit range still counts as warm enough.
	calls.clear();
	service.set_temperature(4, 1e12);
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_EQ("out_of_range=0 stream_restart", join(calls));

	// Failures change nothing.
	const struct {
		const char *mode;
		const char *message;
	} failures[] = {
	    {"refuse",
	     "Failed to get temperature from sensor. Err: GDBus.Error:com.tovi.TemperatureController.Error."
	     "Refused: sensor not readable\n"},
	    {"wrong", "Failed to get temperature from sensor. Err: unexpected reply type '(i)'\n"},
	};
	for (const auto &f : failures) {
		service.set_mode(f.mode);
		calls.clear();
		log.clear();
		run("CHECK_IRIS_START_TEMP", 0);
		EXPECT_EQ("", join(calls)) << f.mode;
		EXPECT_TRUE(logged(f.message)) << f.mode << ": " << log.text();
	}
	service.set_mode("normal");

	calls.clear();
	log.clear();
	answers["operating_status"] = -2;
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_TRUE(logged("Lowest operating temperature is not defined\n"));
	answers["sensor_id"] = -1;
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_TRUE(logged("Sensor id measuring iris temperature is not defined.\n"));
	EXPECT_EQ("", join(calls));

	service.stop();
	answers.clear();
	log.clear();
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_TRUE(logged("Failed to get temperature from sensor. Err: "));
	EXPECT_EQ("", join(calls));

	// Only a stepper iris is checked.
	i->type = 1;
	log.clear();
	run("CHECK_IRIS_START_TEMP", 0);
	EXPECT_EQ("", log.text());
}

} // namespace

// The functions and parameter callbacks a product configuration names. The
// sensor, iris, capture-mode and daemon steps they reach are replaced at link
// time (--wrap) by recorders, so each test sees what a hook asked for.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/control_temperature.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_hooks.h"
#include "core/prodconf_hwsetup.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "optics/iris.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "step_recorder.h"

namespace
{

int made_iris_type = -1; // -1: the stepper iris module makes none

} // namespace

extern "C" {
int __wrap_sensor_mode_is_wdr(sensor *, uint32_t mode)
{
	return answer("wdr_mode_" + std::to_string(mode), 0);
}
void __wrap_daemon_request_stream_restart(void)
{
	record("stream_restart", "", 0);
}
int __wrap_prodconf_set_capture_mode(prodconf *, control *, int32_t s)
{
	return record("capture_mode", std::to_string(s), 0);
}
int __wrap_sensor_setup(sensor *, int32_t s)
{
	return record("sensor_setup", std::to_string(s), 0);
}
void __wrap_event_handler_above_ill_level_changed(int32_t s, uint32_t v)
{
	record("ill_level", std::to_string(s) + "," + std::to_string(v), 0);
}
void *__wrap_prodconf_iris_tb6613ftg_create(prodconf *, control *, int32_t s)
{
	record("stepper_create", std::to_string(s), 0);
	if (made_iris_type < 0)
		return nullptr;
	iris *i = iris_new();
	i->type = (uint32_t)made_iris_type;
	return i;
}
int __wrap_iris_detect(prodconf *, control *, int32_t s)
{
	return record("iris_detect", std::to_string(s), 0);
}
void __wrap_iris_set_state_params(int present, int ok)
{
	record("iris_state", std::to_string(present) + "," + std::to_string(ok), 0);
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
int32_t __wrap_iris_get_lowest_startup_temperature(iris *, int *status)
{
	*status = answer("startup_status", 0);
	return answer("startup", -10 * 16384);
}
int __wrap_iris_set_temperature_status(iris *, int out_of_range)
{
	return record("iris_temperature", std::to_string(out_of_range), 0);
}
} // extern "C"

namespace
{

enum { P_WDR = 41, P_DCIRIS = 60, P_IS_DAY = 67, P_ILL_LEVEL = 107, P_WDR_AVAILABLE = 134, P_FIXED = 141 };

class Hooks : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/hooks-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		g_mkdir_with_parents((root + "/etc/vistrad").c_str(), 0755);
		g_mkdir_with_parents((root + "/var/lib/keelstone").c_str(), 0755);
		g_mkdir_with_parents((root + "/var/lib/soloff").c_str(), 0755);
		g_mkdir_with_parents((root + "/dev").c_str(), 0755);
		write("/var/lib/keelstone/params", "HWID=7a\n");
		calls.clear();
		answers.clear();
		made_iris_type = -1;
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
	}
	void TearDown() override
	{
		if (engine) {
			prodconf_stop(conf, engine);
			control_free(engine);
		}
		platform_destroy(plat);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
		std::string cmd = "rm -rf '" + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}
	void write(const std::string &relative, const std::string &text)
	{
		ASSERT_TRUE(g_file_set_contents((root + relative).c_str(), text.data(), (gssize)text.size(),
		                                nullptr));
	}
	void load(const std::string &yaml)
	{
		write("/etc/vistrad/extra.enc", "");
		write("/etc/vistrad/extra.yaml", yaml);
		testing::internal::CaptureStderr();
		ASSERT_EQ(0, prodconf_load(conf));
		testing::internal::GetCapturedStderr();
		plat = platform_vorsalind_create(nullptr, conf, 2);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
		log.clear();
	}
	int run(const char *name, int32_t argument)
	{
		gboolean found = FALSE;
		prodconf_func f = prodconf_lookup_function(conf, name, &found);
		EXPECT_TRUE(found) << name;
		return found ? reinterpret_cast<prodconf_list_fn>(f)(conf, engine, argument) : -100;
	}
	void temperature(const char *name, int32_t limit_id, control_temperature_limit *limit)
	{
		gboolean found = FALSE;
		prodconf_func f = prodconf_lookup_function(conf, name, &found);
		ASSERT_TRUE(found) << name;
		reinterpret_cast<control_temperature_fn>(f)(engine, limit_id, limit);
	}
	int callback(const char *name, int32_t s, int32_t value)
	{
		auto *row =
		    static_cast<prodconf_param_callback *>(g_hash_table_lookup(conf->callbacks, name));
		EXPECT_NE(nullptr, row) << name;
		if (!row)
			return -100;
		prodconf_callback_block block = {conf, s};
		param_value v = {};
		v.id = row->param_id;
		v.stream_id = s;
		v.value = value;
		return row->callback(engine, &block, &v, nullptr);
	}
	std::string substreams(int c)
	{
		std::string out;
		for (GList *l = conf->substreams[c]; l; l = l->next)
			out += (out.empty() ? "" : ",") + std::to_string(GPOINTER_TO_INT(l->data));
		return out;
	}
	int32_t get(uint32_t id, int32_t s)
	{
		int32_t v = INT32_MIN;
		param_get_int(id, s, &v);
		return v;
	}
	std::string selected(int c)
	{
		std::string out;
		for (GList *l = conf->selected_modules[c]; l; l = l->next)
			out += (out.empty() ? "" : " ") + std::string(static_cast<const char *>(l->data));
		return out;
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}

	std::string root;
	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

// The camera-mode hooks fix the HDR scheme and register the three callbacks.
TEST_F(Hooks, CameraModeHooksRegisterTheirCallbacks)
{
	load("CAMERA_MODE: []\n");
	const struct {
		const char *hook;
		uint32_t hdr;
		const char *first;
	} cases[] = {
	    {"CAMERA_MODE_VORSALIND", 0, "HDR_MODE_VORSALIND"},
	    {"CAMERA_MODE_SMART_LINEAR_VORSALIND", 1, "HDR_MODE_SMART_LINEAR_VORSALIND"},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(0, run(c.hook, 1));
		EXPECT_EQ(c.hdr, prodconf_get_state(conf, 1, PRODCONF_STATE_HDR_MODE)) << c.hook;
		std::string names;
		for (GList *l = conf->param_callbacks[1]; l; l = l->next) {
			auto *row = static_cast<prodconf_param_callback *>(l->data);
			names += std::string(names.empty() ? "" : " ") + row->name + "@" +
			         std::to_string(row->stream_id);
		}
		EXPECT_EQ(std::string(c.first) + "@256 CAPTURE_FREQUENCY@256 CAPTURE_MODE@256", names)
		    << c.hook;
		prodconf_stop(conf, engine);
	}
	EXPECT_EQ(0, run("DEBUG_OVERLAY", 0));
}

// HDR callbacks by WDR value and by whether the sensor's mode has a WDR variant.
TEST_F(Hooks, HdrCallbacksByWdrValueAndMode)
{
	load("CAMERA_MODE: []\n");
	struct Case {
		const char *callback;
		int32_t wdr;
		int mode_has_wdr;
		bool dual;
		uint32_t hdr;
		std::string subs;
		int32_t available;
		int32_t fixed;
	} cases[] = {
	    {"HDR_MODE_VORSALIND", 1, 0, false, 0, "0", 0, 1},
	    {"HDR_MODE_VORSALIND", 1, 1, true, 1, "2,1,0", 1, 0},
	    {"HDR_MODE_VORSALIND", 0, 1, false, 0, "0", 1, 1},
	    {"HDR_MODE_VORSALIND", 0, 0, false, 0, "0", 0, 1},
	    {"HDR_MODE_SMART_LINEAR_VORSALIND", 1, 0, true, 1, "2,1,0", 1, 0},
	    {"HDR_MODE_SMART_LINEAR_VORSALIND", 0, 0, true, 2, "2,1,0", 1, 0},
	    {"HDR_MODE_NONE", 1, 1, false, 0, "0", -1, -1},
	};
	prodconf_set_state(conf, 1, PRODCONF_STATE_CAPTURE_MODE, 7);
	for (const auto &c : cases) {
		std::string what = std::string(c.callback) + " wdr " + std::to_string(c.wdr) + " mode " +
		                   std::to_string(c.mode_has_wdr);
		answers.clear();
		answers["wdr_mode_7"] = c.mode_has_wdr;
		calls.clear();
		prodconf_set_state(conf, 1, PRODCONF_STATE_CAPTURE_FREQUENCY, PRODCONF_STATE_UNSET);
		param_set_int(P_WDR_AVAILABLE, 256, -1);
		param_set_int(P_FIXED, 256, -1);
		EXPECT_EQ(0, callback(c.callback, 256, c.wdr)) << what;
		EXPECT_EQ(c.dual ? 257 : 256, stream_map_stream_id(256, DUAL_EXPOSURE_STREAM_SHORT)) << what;
		EXPECT_EQ(c.hdr, prodconf_get_state(conf, 1, PRODCONF_STATE_HDR_MODE)) << what;
		EXPECT_EQ(c.subs, substreams(1)) << what;
		if (c.available >= 0) {
			EXPECT_EQ(c.available, get(P_WDR_AVAILABLE, 256)) << what;
			EXPECT_EQ(c.fixed, get(P_FIXED, 256)) << what;
			EXPECT_EQ(0u, prodconf_get_state(conf, 1, PRODCONF_STATE_CAPTURE_FREQUENCY)) << what;
		}
		EXPECT_EQ("capture_mode(256)", join(calls)) << what;
	}
	// A frequency already set stays.
	prodconf_set_state(conf, 1, PRODCONF_STATE_CAPTURE_FREQUENCY, 1);
	callback("HDR_MODE_VORSALIND", 256, 1);
	EXPECT_EQ(1u, prodconf_get_state(conf, 1, PRODCONF_STATE_CAPTURE_FREQUENCY));
}

// DCIris is offered only for an iris the daemon positions itself.
TEST_F(Hooks, DcIrisForAnAutomaticIris)
{
	load("CAMERA_MODE: []\n");
	param_set_int(P_DCIRIS, 0, 0);
	iris *i = iris_new();
	control_add_iris(engine, i, 0);
	callback("HDR_MODE_VORSALIND", 0, 1);
	EXPECT_EQ(0, get(P_DCIRIS, 0));
	i->automatic = 1;
	callback("HDR_MODE_SMART_LINEAR_VORSALIND", 0, 1);
	EXPECT_EQ(1, get(P_DCIRIS, 0));
}

TEST_F(Hooks, IrAndIlluminanceCallbacks)
{
	load("CAMERA_MODE: []\n");
	// The first value only stores; a change from a set value rebuilds.
	EXPECT_EQ(0, callback("IR_LED_CALLBACK", 256, 1));
	EXPECT_EQ(1u, prodconf_get_state(conf, 1, PRODCONF_STATE_DAY));
	EXPECT_EQ(0, callback("IR_LED_CALLBACK", 256, 1));
	EXPECT_EQ("", join(calls));
	EXPECT_EQ(0, callback("IR_LED_CALLBACK", 256, 0));
	EXPECT_EQ("stream_restart()", join(calls));
	calls.clear();
	EXPECT_EQ(0, callback("IR_FILTER_CALLBACK", 256, 1));
	EXPECT_EQ(1u, prodconf_get_state(conf, 1, PRODCONF_STATE_DAY));
	EXPECT_EQ(0, callback("ABOVE_ILL_LEVEL_CALLBACK", 256, 1));
	EXPECT_EQ("ill_level(256,1)", join(calls));

	const struct {
		const char *name;
		uint32_t id;
	} rows[] = {{"IR_LED_CALLBACK", P_IS_DAY},
	            {"IR_FILTER_CALLBACK", P_IS_DAY},
	            {"ABOVE_ILL_LEVEL_CALLBACK", P_ILL_LEVEL},
	            {"HDR_MODE_NONE", P_WDR},
	            {"HDR_MODE_VORSALIND", P_WDR},
	            {"HDR_MODE_SMART_LINEAR_VORSALIND", P_WDR}};
	for (const auto &r : rows)
		EXPECT_EQ(r.id,
		          static_cast<prodconf_param_callback *>(g_hash_table_lookup(conf->callbacks, r.name))
		              ->param_id)
		    << r.name;
}

const char iris_detection_yaml[] = R"(iris_detection:
  sel_a_pin: a
  sel_b_pin: b
  det_a_pin: c
  det_b_pin: d
  stepper_iris: %s
)";

// Lens detection from the iris-detection settings, by what the stepper iris
// module makes and what the iris library reports.
TEST_F(Hooks, OpticsDetectionCs)
{
	char *yaml = g_strdup_printf(iris_detection_yaml, "iris_tb6613ftg");
	load(yaml);
	g_free(yaml);
	struct Case {
		int made;
		const char *library;
		std::string calls;
		std::string selected;
		int irises;
	} cases[] = {
	    {6, "1000", "stepper_create(256)", "camblock_ekt", 0},
	    {-1, "10", "stepper_create(256) iris_state(0,0)", "camblock_cs", 0},
	    {-1, "1000", "stepper_create(256)", "camblock_cs", 0},
	    {0, "10", "stepper_create(256) iris_state(0,0)", "camblock_cs", 1},
	    {3, "10", "stepper_create(256)", "camblock_cs", 1},
	};
	for (const auto &c : cases) {
		std::string what = "made " + std::to_string(c.made) + " library " + c.library;
		made_iris_type = c.made;
		write("/var/lib/soloff/type_id", c.library);
		calls.clear();
		int before = platform_get_iris_count(plat, 256);
		EXPECT_EQ(0, run("OPTICS_DETECTION_CS", 256)) << what;
		EXPECT_EQ(c.calls, join(calls)) << what;
		EXPECT_EQ(c.selected, selected(1)) << what;
		EXPECT_EQ(before + c.irises, platform_get_iris_count(plat, 256)) << what;
		g_list_free_full(conf->selected_modules[1], g_free);
		conf->selected_modules[1] = nullptr;
	}
}

TEST_F(Hooks, OpticsDetectionCsByDetection)
{
	char *yaml = g_strdup_printf(iris_detection_yaml, "iris_other");
	load(yaml);
	g_free(yaml);
	for (int detected : {6, 0, 3}) {
		answers["iris_detect"] = detected;
		calls.clear();
		run("OPTICS_DETECTION_CS", 0);
		EXPECT_EQ("iris_detect(0)", join(calls));
		EXPECT_EQ(detected == 6 ? "camblock_ekt" : "camblock_cs", selected(0)) << detected;
		g_list_free_full(conf->selected_modules[0], g_free);
		conf->selected_modules[0] = nullptr;
	}
}

TEST_F(Hooks, DetectionWithoutSettingsSelectsNothing)
{
	load("CAMERA_MODE: []\n");
	EXPECT_EQ(0, run("OPTICS_DETECTION_CS", 0));
	EXPECT_EQ(0, run("LIGHT_SENSOR_DETECTION", 0));
	EXPECT_EQ("", selected(0));
	EXPECT_EQ("", join(calls));
}

TEST_F(Hooks, LightSensorDetectionNeedsTheDevice)
{
	load("light_sensor_isl29033:\n  light_sensor_0_devname: /dev/light0\n  max_deviation: 3\n");
	run("LIGHT_SENSOR_DETECTION", 256);
	EXPECT_EQ("", selected(1));
	write("/dev/light0", "");
	run("LIGHT_SENSOR_DETECTION", 256);
	EXPECT_EQ("light_sensor_isl29033", selected(1));
}

// The iris temperature callback compares the limit in whole degrees with the
// iris's limits in 14 fraction bits.
TEST_F(Hooks, IrisTemperatureCallback)
{
	load("CAMERA_MODE: []\n");
	control_add_iris(engine, iris_new(), 0);
	control_temperature_limit limit = {};
	struct Case {
		int32_t limit;
		std::string calls;
	} cases[] = {
	    {-20, "iris_temperature(1)"},
	    {-10, "iris_temperature(0) stream_restart()"},
	    {5, ""},
	};
	for (const auto &c : cases) {
		calls.clear();
		limit.limit = c.limit;
		temperature("IRIS_TEMP_CALLBACK", 1, &limit);
		EXPECT_EQ(c.calls, join(calls)) << c.limit;
	}
	calls.clear();
	answers["startup_status"] = -2;
	limit.limit = -20;
	temperature("IRIS_TEMP_CALLBACK", 1, &limit);
	EXPECT_EQ("", join(calls));
	EXPECT_TRUE(logged("Lowest startup temperature is not defined\n"));
	answers["operating_status"] = -2;
	temperature("IRIS_TEMP_CALLBACK", 1, &limit);
	EXPECT_TRUE(logged("Lowest operating temperature is not defined\n"));

	limit.limit = 55;
	temperature("camblock_tamron_temp_callback", 9, &limit);
	EXPECT_TRUE(logged("camblock_tamron_temp_callback: now running with limit 55, id 9\n"));
}

// A limit crossed downwards marks a sensor reset; the next one upwards runs it once.
TEST_F(Hooks, SensorTemperatureCallback)
{
	load("CAMERA_MODE: []\n");
	int32_t stream = 256;
	control_temperature_limit limit = {};
	limit.user_data = &stream;
	limit.direction = 1;
	temperature("sensor_temp_callback", 1, &limit);
	EXPECT_EQ("", join(calls));
	limit.direction = 0;
	temperature("sensor_temp_callback", 1, &limit);
	EXPECT_EQ("", join(calls));
	limit.direction = 1;
	temperature("sensor_temp_callback", 1, &limit);
	temperature("sensor_temp_callback", 1, &limit);
	EXPECT_EQ("sensor_setup(0) capture_mode(256)", join(calls));

	calls.clear();
	answers["sensor_setup"] = -1;
	limit.direction = 0;
	temperature("sensor_temp_callback", 1, &limit);
	limit.direction = 1;
	temperature("sensor_temp_callback", 1, &limit);
	EXPECT_EQ("sensor_setup(0)", join(calls));
	EXPECT_TRUE(logged("sensor_temp_callback: Fail to reset the sensor: -1\n"));
}

} // namespace

// PARAMS defaults, ranges and reset values, boot-parameter defaults, and the
// D-Bus API configuration record fitted to the hardware found. The front-end
// call and the sensor's WDR question are replaced at link time (--wrap).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "core/prodconf_params.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "optics/camblock.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

namespace
{

std::vector<std::pair<int32_t, dbus_api_config>> published;
int mode_is_wdr;
std::vector<uint32_t> wdr_questions;

} // namespace

extern "C" {
void __wrap_dbus_api_set_config(dbus_api *, int32_t s, const dbus_api_config *c)
{
	published.emplace_back(s, *c);
}
int __wrap_sensor_mode_is_wdr(sensor *, uint32_t mode)
{
	wdr_questions.push_back(mode);
	return mode_is_wdr;
}
} // extern "C"

namespace
{

enum {
	P_WINDOW = 15,
	P_WHITE_BALANCE = 21,
	P_XSTART = 25,
	P_YSTART = 26,
	P_XSTOP = 27,
	P_FREQUENCY = 40,
	P_WDR = 41,
	P_DELTA = 78,
	P_FOCUS_SCAN = 99,
	P_ANTIALIAS = 123,
};

// A temporary root with the configuration in /etc/vistrad/extra.yaml and the
// boot parameters of the stand-in library.
class Params : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/params-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		g_mkdir_with_parents((root + "/etc/vistrad").c_str(), 0755);
		g_mkdir_with_parents((root + "/var/lib/keelstone").c_str(), 0755);
		boot("HWID=7a\n");
		published.clear();
		wdr_questions.clear();
		mode_is_wdr = 0;
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
	}
	void TearDown() override
	{
		if (engine)
			control_free(engine);
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
	void boot(const std::string &text)
	{
		write("/var/lib/keelstone/params", text);
	}
	void load(const std::string &yaml)
	{
		write("/etc/vistrad/extra.enc", "");
		write("/etc/vistrad/extra.yaml", yaml);
		testing::internal::CaptureStderr();
		ASSERT_EQ(0, prodconf_load(conf));
		testing::internal::GetCapturedStderr();
		log.clear();
	}
	void make_engine()
	{
		plat = platform_vorsalind_create(nullptr, conf, 1);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}
	int32_t value(uint32_t id)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, param_get_int(id, 0, &v)) << id;
		return v;
	}
	int32_t default_of(uint32_t id)
	{
		int32_t v = INT32_MIN;
		char *text = nullptr;
		param_default_from_entry(id, 0, &v, &text);
		g_free(text);
		return v;
	}
	// "min..max values names" of the range in force (the map's until one is stored).
	std::string range(uint32_t id)
	{
		param_range r = {};
		if (param_get_range(id, 0, &r) != 0 || (!r.values && !r.names && r.min == 0 && r.max == 0))
			return "none";
		std::string out = std::to_string(r.min) + ".." + std::to_string(r.max);
		for (uint32_t k = 0; r.values && k < r.count; k++)
			out += (k ? "," : " ") + std::to_string(r.values[k]);
		for (char **n = r.names; n && *n; n++)
			out += (n == r.names ? " " : ",") + std::string(*n);
		param_range_clear(&r);
		return out;
	}

	std::string root;
	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

const char params_yaml[] = R"(PARAMS:
  WhiteBalanceXstart:
    DEFAULT: 12
    MIN: 5
  WhiteBalanceXstop:
    MIN: 0
    MAX: 20
    VALID_VALUES: [1, 3, 5]
    RESET: 3
  WhiteBalanceYstart:
    DEFAULT: [7, 8]
    FOO: 1
    ENUM_MAP: [a]
  WDR:
    DEFAULT: sometimes
    RESET: on
  CaptureFrequency:
    VALID_VALUES: [50Hz, 70Hz]
  TemperatureAnalyzerDelta:
    DEFAULT: 2.5
    MIN: 1
    MAX: 3
  AntialiasingEnabled:
    DEFAULT: true
    RESET: false
  FocusScan:
    DEFAULT: "1:2:3"
    VALID_VALUES: ["1:2:3", "4:5:6"]
    RESET: "9:9:9"
  NoSuchParameter:
    DEFAULT: 1
)";

// Every key over the five parameter types, and what each stores.
TEST_F(Params, DefaultsAndRangesOverTheFiveTypes)
{
	load(params_yaml);
	ASSERT_EQ(0, init_default_parameter_ranges(conf, 0, 1));
	struct Case {
		uint32_t id;
		int32_t def;
		std::string range;
	} cases[] = {
	    {P_XSTART, 12, "0..9999"},                       // MIN without MAX stores no range
	    {P_XSTOP, 9999, "0..20 1,3,5 1,3,5"},            // integer list: numbers as names
	    {P_YSTART, 7, "0..9999"},                        // the first of two defaults
	    {P_WDR, 0, "0..1 0,1 off,on"},                   // no such name: 0
	    {P_FREQUENCY, 0, "0..2147483647 1,0 50Hz,70Hz"}, // unknown name stays 0
	    {P_DELTA, 40960, "16384..49152"},                // fixed point: 14 fraction bits
	    {P_ANTIALIAS, 1, "0..1"},
	    {P_FOCUS_SCAN, 0, "none"}, // texts need MIN and MAX as well
	};
	for (const auto &c : cases) {
		if (c.id != P_FOCUS_SCAN) {
			EXPECT_EQ(c.def, default_of(c.id)) << c.id;
		}
		EXPECT_EQ(c.range, range(c.id)) << c.id;
	}
	// Reset with the new defaults.
	EXPECT_EQ(12, value(P_XSTART));
	EXPECT_EQ(40960, value(P_DELTA));
	EXPECT_EQ(1, value(P_ANTIALIAS));
	char *text = nullptr;
	int length = 0;
	ASSERT_EQ(0, param_get_string(P_FOCUS_SCAN, 0, &text, &length));
	EXPECT_STREQ("1:2:3", text);
	g_free(text);

	EXPECT_TRUE(logged("Prodconf: could not interpret sometimes for param WDR (41)\n"));
	EXPECT_TRUE(logged("Prodconf: could not interpret 70Hz for param CaptureFrequency (40)\n"));
	EXPECT_TRUE(logged("react_to_default_values: param WhiteBalanceYstart has more than one default\n"));
	EXPECT_TRUE(logged("react_to_default_values: unknown key FOO\n"));
	EXPECT_FALSE(logged("unknown key ENUM_MAP"));
	EXPECT_FALSE(logged("unknown key RESET"));
	EXPECT_TRUE(logged("read_params_from_yaml: parameter name NoSuchParameter unknown in vistrad\n"));

	// RESET values over the types.
	log.clear();
	ASSERT_EQ(0, prodconf_apply_reset_values(conf, 0));
	EXPECT_EQ(3, value(P_XSTOP));
	EXPECT_EQ(1, value(P_WDR));
	EXPECT_EQ(0, value(P_ANTIALIAS));
	ASSERT_EQ(0, param_get_string(P_FOCUS_SCAN, 0, &text, &length));
	EXPECT_STREQ("9:9:9", text);
	g_free(text);
}

// Without reset the defaults change, the values stay; a refused reset value is logged.
TEST_F(Params, WithoutResetValuesStayAndBadResetIsLogged)
{
	load("PARAMS:\n  WhiteBalanceXstart:\n    DEFAULT: 12\n    RESET: [99999, 1]\n");
	ASSERT_EQ(0, param_set_int(P_XSTART, 0, 44));
	init_default_parameter_ranges(conf, 0, 0);
	EXPECT_EQ(12, default_of(P_XSTART));
	EXPECT_EQ(44, value(P_XSTART));
	prodconf_apply_reset_values(conf, 0);
	EXPECT_TRUE(
	    logged("react_to_reset_values: param WhiteBalanceXstart has more than one profile change\n"));
	EXPECT_TRUE(logged("react_to_reset_values: failed to set value for param WhiteBalanceXstart\n"));
	EXPECT_EQ(44, value(P_XSTART));
}

// The built-in ranges hold back names the parameter map itself knows.
TEST_F(Params, BuiltInRangesRefuseOnepushAndFull)
{
	load("CAMERA_MODE: []\n");
	init_default_parameter_ranges(conf, 0, 1);
	EXPECT_EQ("0..0 0,1,2,3,4,5,6,7,8,9,10,11 auto,auto_indoor,auto_outdoor,hold,manual,fixed_outdoor,"
	          "fixed_outdoor1,fixed_outdoor2,fixed_indoor,fixed_fluor,fixed_fluor1,fixed_fluor2",
	          range(P_WHITE_BALANCE));
	EXPECT_EQ("0..0 0,1,2,3,4,5,6,7 auto,center,upper,lower,left,right,spot,custom", range(P_WINDOW));
	int32_t onepush = -1, full = -1;
	ASSERT_EQ(0, param_map_convert_enum(param_def(P_WHITE_BALANCE), "onepush", &onepush));
	ASSERT_EQ(0, param_map_convert_enum(param_def(P_WINDOW), "full", &full));
	EXPECT_NE(0, param_set_int(P_WHITE_BALANCE, 0, onepush));
	EXPECT_NE(0, param_set_int(P_WINDOW, 0, full));
	EXPECT_EQ(0, param_set_int(P_WINDOW, 0, 7));
}

// Boot parameters below "root.": only the capture frequency is taken.
TEST_F(Params, BootParameterDefaults)
{
	load("CAMERA_MODE: []\n");
	boot("root.ImageSource.I0.CaptureFrequency=50Hz\n"
	     "root.ImageSource.I0.Sensor.WDR=off\n"
	     "root.foo=1\n"
	     "root.Nowhere.Nothing=2\n"
	     "other.ImageSource.I0.CaptureFrequency=60Hz\n");
	init_default_parameter_ranges(conf, 0, 1);
	EXPECT_EQ(1, default_of(P_FREQUENCY));
	EXPECT_EQ(1, value(P_FREQUENCY));
	EXPECT_EQ(1, default_of(P_WDR));
	EXPECT_TRUE(logged("Updating defaults for CaptureFrequency from root.ImageSource.I0.CaptureFrequency "
	                   "(ImageSource.I0:CaptureFrequency)\n"));
	EXPECT_TRUE(logged(
	    "Updating defaults for WDR from root.ImageSource.I0.Sensor.WDR (ImageSource.I0.Sensor:WDR)\n"));
	EXPECT_TRUE(
	    logged("Ignoring root.ImageSource.I0.Sensor.WDR ([ImageSource.I0.Sensor] WDR = off), parameter "
	           "defaults in keelstone is not supported\n"));
	EXPECT_TRUE(logged("Ignoring root.Nowhere.Nothing ([Nowhere] Nothing = 2)"));
	EXPECT_FALSE(logged("root.foo"));
}

const char api_yaml[] = R"(DBUS_API_CONFIG:
  qorex_legacy_api_config:
    iris_params: true
    daynight_params: true
    wdr_param: true
    capture_mode_param: true
  video_legacy_api_config:
    src_rot_param: true
  imagecontrol_stream_api_config:
    ecm_params: true
)";

// The three flags that follow the hardware, by what the stream has.
TEST_F(Params, PublishedFlagsFollowTheHardware)
{
	load(api_yaml);
	make_engine();
	prodconf_set_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE, 9);

	// Nothing fitted: iris, day/night and WDR all withdrawn.
	ASSERT_EQ(0, prodconf_publish_dbus_api_config(conf, engine, 0));
	ASSERT_EQ(1u, published.size());
	const dbus_api_config &bare = published[0].second;
	EXPECT_EQ(0, published[0].first);
	EXPECT_EQ(0, bare.qorex_legacy_api_config.iris_params);
	EXPECT_EQ(0, bare.qorex_legacy_api_config.daynight_params);
	EXPECT_EQ(0, bare.qorex_legacy_api_config.wdr_param);
	EXPECT_EQ(1, bare.qorex_legacy_api_config.capture_mode_param);
	EXPECT_EQ(1, bare.video_legacy_api_config.src_rot_param);
	EXPECT_EQ(1, bare.imagecontrol_stream_api_config.ecm_params);
	EXPECT_EQ(std::vector<uint32_t>{9}, wdr_questions);

	// A lens block without capabilities changes nothing; with them both stay.
	camblock *block = camblock_new();
	platform_add_camblock(plat, block, 0);
	prodconf_publish_dbus_api_config(conf, engine, 0);
	EXPECT_EQ(0, published.back().second.qorex_legacy_api_config.iris_params);
	EXPECT_EQ(0, published.back().second.qorex_legacy_api_config.daynight_params);
	static int lens_parts[2];
	block->iris = reinterpret_cast<iris *>(&lens_parts[0]);
	block->ircut = reinterpret_cast<ircut *>(&lens_parts[1]);
	mode_is_wdr = 1;
	prodconf_publish_dbus_api_config(conf, engine, 0);
	EXPECT_EQ(1, published.back().second.qorex_legacy_api_config.iris_params);
	EXPECT_EQ(1, published.back().second.qorex_legacy_api_config.daynight_params);
	EXPECT_EQ(1, published.back().second.qorex_legacy_api_config.wdr_param);
	block->iris = nullptr;
	block->ircut = nullptr;

	// The stream's own iris and IR-cut filter.
	control_add_iris(engine, iris_new(), 0);
	control_add_ircut(engine, ircut_new(), 0);
	prodconf_publish_dbus_api_config(conf, engine, 0);
	EXPECT_EQ(1, published.back().second.qorex_legacy_api_config.iris_params);
	EXPECT_EQ(1, published.back().second.qorex_legacy_api_config.daynight_params);
}

TEST_F(Params, FalseStaysFalseAndMissingSectionPublishesNothing)
{
	load("DBUS_API_CONFIG:\n  qorex_legacy_api_config: {}\n  video_legacy_api_config: {}\n"
	     "  imagecontrol_stream_api_config: {}\n");
	make_engine();
	control_add_iris(engine, iris_new(), 0);
	mode_is_wdr = 1;
	prodconf_publish_dbus_api_config(conf, engine, 0);
	ASSERT_EQ(1u, published.size());
	dbus_api_config zero = {};
	EXPECT_EQ(0, memcmp(&zero, &published[0].second, sizeof(zero)));

	// A configuration without the record publishes nothing.
	prodconf *other = prodconf_new();
	write("/etc/vistrad/extra.yaml", "PRODUCT_CONSTANTS:\n  image_sources: 1\n");
	testing::internal::CaptureStderr();
	ASSERT_EQ(0, prodconf_load(other));
	testing::internal::GetCapturedStderr();
	log.clear();
	EXPECT_EQ(-1, prodconf_publish_dbus_api_config(other, engine, 0));
	prodconf_free(other);
	EXPECT_EQ(1u, published.size());
	EXPECT_TRUE(logged("Prodconf: could not get configuration for DBus API\n"));
}

} // namespace

// The D-Bus front-end in process, on a private bus, with the real parameter
// database and the test tables in place of the ImageControl builder. The
// client is a connection of its own whose calls run on a helper thread while
// this thread runs the daemon side's main loop.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/daemon.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "frontend_fixture.h"
#include "frontends/dbus_api/dbus_api.h"
#include "frontends/dbus_api/dbus_interface.h"
#include "test_tables.h"

namespace
{

const char *const kService = "com.tovi.ImageControl";
const char *const kStream0 = "/com/tovi/ImageControl/0/0";
const char *const kGlobal = "/com/tovi/ImageControl";
const char *const kStream = "com.tovi.Test.Stream";
const char *const kProps = "com.tovi.Test.Properties";
const char *const kLegacy = "com.tovi.Test.Legacy";

// The parameter map with two fixed-point rows widened, so that negative and
// saturated values can be stored.
std::vector<struct param_def> wide_table;

void use_wide_table()
{
	for (const struct param_def *d = param_map_table; d->id; d++)
		wide_table.push_back(*d);
	wide_table.push_back(std::remove_reference<decltype(wide_table[0])>::type{});
	for (struct param_def &d : wide_table) {
		if (d.id == 79)
			d.min = -1638400;
		if (d.id == 80) {
			d.min = INT32_MIN;
			d.max = INT32_MAX;
		}
	}
	param_map_use_table(wide_table.data());
}

dbus_api_config config_with(uint8_t first)
{
	dbus_api_config c;
	memset(&c, 0, sizeof c);
	c.unkeyed[0] = first;
	return c;
}

class FrontEnd : public BusFrontEnd
{
      protected:
	static void SetUpTestSuite()
	{
		use_wide_table();
		init_daemon_side(static_cast<prodconf *>(g_malloc0(sizeof(prodconf))));
	}

	void SetUp() override
	{
		BusFrontEnd::SetUp();
		for (uint32_t id : {3u, 5u, 12u, 67u, 79u, 80u, 94u, 98u})
			ASSERT_EQ(0, param_reset(id, 0)) << id;
		test_tables_reset_counts();
	}

	// The front-end on the bus with stream 0 configured.
	void start(bool configure = true, int mode = 0)
	{
		api = dbus_api_new(mode);
		param_db_set_dbus_api(api);
		dbus_api_config c = config_with(1);
		if (configure)
			dbus_api_set_config(api, 0, &c);
		wait_for_owner(mode == 1 ? "com.tovi.VideoControl" : kService);
	}

	std::string get(const char *interface, const char *name, const char *path = kStream0,
	                std::string *error = nullptr)
	{
		return BusFrontEnd::get(path, interface, name, error);
	}

	std::string set(const char *interface, const char *name, GVariant *value, const char *path = kStream0)
	{
		return BusFrontEnd::set(path, interface, name, value);
	}

	std::vector<BusSignal> take_signals()
	{
		return bus->take_signals();
	}
};

TEST_F(FrontEnd, ObjectPathsAndRouting)
{
	struct PathCase {
		const char *base;
		int32_t stream_id;
		int channel_only, offset;
		const char *path;
	} paths[] = {
	    {"/com/tovi/ImageControl", -1, 0, 0, "/com/tovi/ImageControl"},
	    {"/com/tovi/ImageControl", 258, 0, 0, "/com/tovi/ImageControl/1/2"},
	    {"/com/tovi/ImageControl", -7, 0, 0, "/com/tovi/ImageControl/0/0"},
	    {"/com/tovi/ImageControl", 0xffff, 0, 0, "/com/tovi/ImageControl/255/255"},
	    {"/com/tovi/VideoControl", 0x0100, 1, 1, "/com/tovi/VideoControl/2"},
	    {"/com/tovi/VideoControl", 0, 1, 1, "/com/tovi/VideoControl/1"},
	};
	for (const PathCase &c : paths) {
		char *p = dbus_object_path_new(c.base, c.stream_id, c.channel_only, c.offset);
		EXPECT_STREQ(c.path, p) << c.stream_id;
		g_free(p);
	}

	struct RouteCase {
		bool multi;
		const char *base, *path;
		int offset;
		int32_t stream_id;
		const char *log;
	} routes[] = {
	    {true, "/com/tovi/ImageControl", "/com/tovi/ImageControl/1/2", 0, 258, nullptr},
	    {true, "/com/tovi/ImageControl", "/com/tovi/ImageControl", 0, -1, nullptr},
	    {true, "/com/tovi/ImageControl", "/com/tovi/ImageControl/0/0", 0, 0, nullptr},
	    {true, "/com/tovi/ImageControl", "/com/tovi/ImageControl/x", 0, 0,
	     "DBus API: cannot understand object string /com/tovi/ImageControl/x\n"},
	    {true, "/com/tovi/ImageControl", "/elsewhere/1/2", 0, -1,
	     "dbus_get_stream_id_from_object_path: invalid object_path /elsewhere/1/2\n"},
	    {false, "/com/tovi/VideoControl", "/com/tovi/VideoControl/1", 1, -1, nullptr},
	    {false, "/com/tovi/VideoControl", "/com/tovi/VideoControl/2", 1, 256, nullptr},
	    {true, "/com/tovi/VideoControl", "/com/tovi/VideoControl/1", 1, 0, nullptr},
	};
	for (const RouteCase &c : routes) {
		conf->use_stream = c.multi;
		log.clear();
		EXPECT_EQ(c.stream_id, dbus_get_stream_id_from_object_path(c.base, c.path, c.offset))
		    << c.path;
		EXPECT_EQ(c.log ? c.log : "", log.text()) << c.path;
	}
}

TEST_F(FrontEnd, ConfigurationRebuildsOnlyWhenItChanges)
{
	start(false);
	dbus_api_config a = config_with(1), b = config_with(1);
	b.unkeyed3[2] = 1; // the last of the 56 bytes
	int global = test_tables_builds(-1);
	EXPECT_EQ(1, global); // at bus acquisition

	dbus_api_set_config(api, 0, &a);
	dbus_api_set_config(api, 0, &a);
	EXPECT_EQ(1, test_tables_builds(0));
	dbus_api_set_config(api, 0, &b);
	EXPECT_EQ(2, test_tables_builds(0));
	EXPECT_EQ(0, memcmp(&b, test_tables_last_config(0), sizeof b));

	// The product-wide stream goes to stream 0 on a multi-stream product.
	log.clear();
	dbus_api_set_config(api, -1, &a);
	EXPECT_EQ(3, test_tables_builds(0));
	EXPECT_EQ(0, test_tables_builds(-1) - global);
	EXPECT_TRUE(contains(log.text(),
	                     "DBus API: got configuration for STREAM_ALL on a multi-streamproduct, going "
	                     "with STREAM_ID_DEFAULT\n"))
	    << log.text();

	// A removed stream added again with the same record gets its objects back.
	EXPECT_EQ("<0>", get(kStream, "StreamId"));
	dbus_api_remove_stream(api, 0);
	std::string error;
	get(kStream, "StreamId", kStream0, &error);
	EXPECT_TRUE(contains(error, "org.freedesktop.DBus.Error.UnknownMethod") ||
	            contains(error, "org.freedesktop.DBus.Error.UnknownObject"))
	    << error;
	dbus_api_set_config(api, 0, &a);
	EXPECT_EQ(4, test_tables_builds(0));
	EXPECT_EQ("<0>", get(kStream, "StreamId"));
}

TEST_F(FrontEnd, SingleStreamProductBuildsStreamZeroToo)
{
	conf->use_stream = 0;
	param_db_set_default_stream(-1);
	start(false);
	EXPECT_EQ(0, test_tables_builds(-1)); // no global object of its own
	dbus_api_config a = config_with(2);
	dbus_api_set_config(api, -1, &a);
	EXPECT_EQ(1, test_tables_builds(-1));
	EXPECT_EQ(1, test_tables_builds(0));
	// Stream 0's object answers as the product-wide stream.
	EXPECT_EQ("<-1>", get(kStream, "StreamId", kStream0));
	EXPECT_EQ("<-1>", get(kStream, "StreamId", kGlobal));
}

TEST_F(FrontEnd, ReadsGiveEachTypeItsForm)
{
	start();
	ASSERT_EQ(0, param_set_int(12, 0, 2));
	struct {
		const char *interface, *name, *value;
	} cases[] = {
	    {kStream, "Brightness", "<50>"},
	    {kStream, "Exposure", "<'flickerfree50'>"},
	    {kStream, "IrisApertureOpen", "<1.79998779296875>"},
	    {kStream, "FocusWindow", "<'0,0:1,0:0,1:1,1'>"},
	    {kStream, "StreamId", "<0>"},
	    {kStream, "IsDay", "<1>"},
	    {kLegacy, "Exposure", "<b'flickerfree50'>"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(c.value, get(c.interface, c.name)) << c.name;
	EXPECT_EQ("<-1>", get(kStream, "StreamId", kGlobal));

	// The first of two records of one name serves it.
	ASSERT_EQ(0, param_set_int(5, 0, 7));
	EXPECT_EQ("<50>", get(kStream, "Brightness"));

	// A getter that gives nothing answers an error and the daemon stays up.
	std::string error;
	EXPECT_EQ("(none)", get(kStream, "Broken", kStream0, &error));
	EXPECT_TRUE(contains(error, "dbus_interface_get_property: No such property found Broken (sid 0)\n"))
	    << error;
	EXPECT_EQ("<50>", get(kStream, "Brightness"));
}

TEST_F(FrontEnd, FixedPointWritesRoundAndSaturate)
{
	start();
	struct {
		uint32_t id;
		const char *name;
		double value;
		int32_t stored;
	} cases[] = {
	    {79, "IrisApertureOpen", 1.5, 24576},       {79, "IrisApertureOpen", -1.5, -24576},
	    {79, "IrisApertureOpen", 0.00003, 0},       {79, "IrisApertureOpen", 0.0001, 2},
	    {79, "IrisApertureOpen", -0.0001, -2},      {80, "IrisApertureBest", 1e10, INT32_MAX},
	    {80, "IrisApertureBest", -1e10, INT32_MIN},
	};
	static const dbus_interface_property best = {"IrisApertureBest",
	                                             nullptr,
	                                             nullptr,
	                                             0,
	                                             0,
	                                             80,
	                                             0,
	                                             nullptr,
	                                             nullptr,
	                                             nullptr,
	                                             nullptr,
	                                             nullptr,
	                                             nullptr};
	dbus_interface_builder b = {};
	dbus_interface_builder_add_properties(&b, &best, 1);
	dbus_interface *wide = dbus_interface_new("com.tovi.Test.Wide", &b);
	for (const auto &c : cases) {
		if (c.id == 79) {
			EXPECT_EQ("ok", set(kStream, c.name, g_variant_new_double(c.value))) << c.value;
		} else {
			GError *error = nullptr;
			EXPECT_TRUE(dbus_interface_set_property(wide, c.name, g_variant_new_double(c.value),
			                                        0, nullptr, &error))
			    << c.value;
			g_clear_error(&error);
		}
		EXPECT_EQ(c.stored, stored(c.id)) << c.value;
	}
	dbus_interface_free(wide);
	// Beyond the parameter's range: refused, unchanged.
	ASSERT_EQ(0, param_set_int(79, 0, 100));
	EXPECT_TRUE(
	    contains(set(kStream, "IrisApertureOpen", g_variant_new_double(1e10)),
	             "dbus_interface_set_property: given value invalid for property IrisApertureOpen\n"));
	EXPECT_EQ(100, stored(79));
}

TEST_F(FrontEnd, RefusedWritesChangeNothing)
{
	start();
	take_signals();
	const char *invalid = "org.gtk.GDBus.UnmappedGError.Quark._dbus_2dinterface_2derror_2dquark.Code1: "
	                      "dbus_interface_set_property: given value invalid for property ";
	struct {
		const char *name;
		GVariant *value;
		std::string error;
	} cases[] = {
	    {"Brightness", g_variant_new_int32(101), std::string(invalid) + "Brightness\n"},
	    {"Exposure", g_variant_new_string("bright"), std::string(invalid) + "Exposure\n"},
	    {"FocusWindow", g_variant_new_string(std::string(1 << 20, 'x').c_str()),
	     std::string(invalid) + "FocusWindow\n"},
	    {"IrisApertureOpen", g_variant_new_double(NAN), std::string(invalid) + "IrisApertureOpen\n"},
	    {"IrisApertureOpen", g_variant_new_double(INFINITY), std::string(invalid) + "IrisApertureOpen\n"},
	    {"NoSuchThing", g_variant_new_int32(1), "org.freedesktop.DBus.Error.InvalidArgs"},
	};
	for (auto &c : cases) {
		log.clear();
		std::string error = set(kStream, c.name, c.value);
		EXPECT_TRUE(contains(error, c.error)) << c.name << ": " << error;
		EXPECT_FALSE(contains(log.text(), "test tables: pre-set")) << c.name;
	}
	EXPECT_EQ(50, stored(3));
	EXPECT_EQ(0, stored(12));
	EXPECT_TRUE(take_signals().empty());
	// A wrong signature never reaches the property.
	EXPECT_TRUE(contains(set(kStream, "Brightness", g_variant_new_string("50")), "InvalidArgs"));
	// Accepted: the hook runs, then the value is stored and announced once.
	log.clear();
	EXPECT_EQ("ok", set(kStream, "Exposure", g_variant_new_string("hold")));
	EXPECT_TRUE(contains(log.text(), "test tables: pre-set Exposure on 0\n"));
	EXPECT_EQ(1, stored(12));
}

TEST_F(FrontEnd, SetPropertiesStoresWhatItCanAndAnswersTheFirstRefusal)
{
	start();
	take_signals();
	std::string error;
	GVariant *pairs =
	    g_variant_new_parsed("[('Brightness', <200>), ('Exposure', <'hold'>), ('SpotFocus', <'x'>)]");
	GVariant *r =
	    call(kStream0, kProps, "SetProperties", g_variant_new("(s@a(sv))", kStream, pairs), &error);
	EXPECT_EQ(nullptr, r);
	EXPECT_TRUE(contains(
	    error, "Code1: dbus_interface_set_property: given value invalid for property Brightness\n"))
	    << error;
	EXPECT_EQ(50, stored(3));
	EXPECT_EQ(1, stored(12));
	// One announcement on each interface that carries the property.
	std::vector<BusSignal> s = take_signals();
	ASSERT_EQ(2u, s.size());
	for (const BusSignal &x : s) {
		EXPECT_EQ("org.freedesktop.DBus.Properties", x.interface);
		EXPECT_EQ("PropertiesChanged", x.member);
	}
	EXPECT_EQ("('com.tovi.Test.Stream', {'Exposure': <'hold'>}, @as [])", s[0].args);
	EXPECT_EQ("('com.tovi.Test.Legacy', {'Exposure': <b'hold'>}, @as [])", s[1].args);

	// Each form for its type; text for a number or a double for an integer is refused.
	struct {
		const char *name;
		const char *value;
		bool ok;
		uint32_t id;
		int32_t stored;
	} cases[] = {
	    {"Brightness", "60", true, 3, 60},
	    {"Brightness", "'61'", false, 3, 60},
	    {"Brightness", "61.0", false, 3, 60},
	    {"SpotFocus", "true", true, 94, 1},
	    {"SpotFocus", "0", false, 94, 1},
	    {"IrisApertureOpen", "2", false, 79, 29491},
	    {"Exposure", "b'auto'", true, 12, 0},
	    {"Exposure", "b'au\\x00to'", false, 12, 0},
	    {"Exposure", "b'\\xff\\xfe'", false, 12, 0},
	};
	for (const auto &c : cases) {
		GVariantBuilder b;
		g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
		g_variant_builder_add(&b, "(sv)", c.name, g_variant_new_parsed(c.value));
		GVariant *one = g_variant_builder_end(&b);
		std::string e;
		GVariant *reply =
		    call(kStream0, kProps, "SetProperties", g_variant_new("(s@a(sv))", kStream, one), &e);
		EXPECT_EQ(c.ok ? "((true,),)" : "(none)",
		          printed(reply ? g_variant_new("(@(b))", reply) : nullptr))
		    << c.name << " " << c.value << " " << e;
		EXPECT_EQ(c.stored, stored(c.id)) << c.name << " " << c.value;
	}
	// A name the interface lacks is code 0.
	std::string unknown;
	EXPECT_EQ(nullptr, call(kStream0, kProps, "SetProperties",
	                        g_variant_new_parsed("('com.tovi.Test.Stream', [('Nope', <1>)])"), &unknown));
	EXPECT_TRUE(
	    contains(unknown, "Code0: dbus_interface_set_property: No such property found Nope (sid 0)\n"))
	    << unknown;

	// The legacy interface takes enumeration names in either form.
	GVariant *both = g_variant_new_parsed("[('Exposure', <'hold'>)]");
	printed(call(kStream0, kProps, "SetProperties", g_variant_new("(s@a(sv))", kLegacy, both)));
	EXPECT_EQ(1, stored(12));
}

TEST_F(FrontEnd, DefaultsRangesAndRestores)
{
	start();
	ASSERT_EQ(0, param_set_int(3, 0, 70));
	std::string error;
	EXPECT_EQ("({'Brightness': <50>, 'Exposure': <'auto'>, 'FocusWindow': <'0,0:1,0:0,1:1,1'>},)",
	          printed(call(kStream0, kProps, "GetDefaultValues",
	                       g_variant_new_parsed("('com.tovi.Test.Stream', ['Brightness', 'Exposure', "
	                                            "'FocusWindow'])"))));
	EXPECT_EQ("(none)",
	          printed(call(kStream0, kProps, "GetDefaultValues",
	                       g_variant_new_parsed("('com.tovi.Test.Stream', ['StreamId'])"), &error)));
	EXPECT_TRUE(contains(
	    error, "Code2: dbus_interface_get_default_value: Property StreamId has no default value\n"))
	    << error;

	EXPECT_EQ(
	    "({'Brightness': <{'min': <0>, 'max': <100>}>, 'Exposure': <{'valid_values': <['auto', 'hold', "
	    "'flickerfree50', 'flickerfree60', 'flickerreduced50', 'flickerreduced60']>}>, "
	    "'IrisApertureOpen': "
	    "<{'min': <-100.0>, 'max': <100.0>}>, 'SpotFocus': <{'min': <0>, 'max': <1>}>, 'FocusWindow': "
	    "<@a{sv} {}>},)",
	    printed(call(kStream0, kProps, "GetRanges",
	                 g_variant_new_parsed("('com.tovi.Test.Stream', ['Brightness', 'Exposure', "
	                                      "'IrisApertureOpen', 'SpotFocus', 'FocusWindow'])"))));
	struct {
		const char *method, *names, *error;
	} errors[] = {
	    {"GetRanges", "['StreamId']",
	     "Code3: dbus_interface_get_range: property StreamId has no meaningful range\n"},
	    {"GetRanges", "['Nope']",
	     "Code0: dbus_interface_get_range: No such property found Nope (sid 0)\n"},
	    {"GetProperties", "['Brightness', 'Nope']",
	     "Code0: dbus_interface_get_property: No such property found Nope (sid 0)\n"},
	    {"RestoreToDefaultValues", "['Nope']",
	     "Code0: dbus_interface_restore_to_default: No such property found Nope (sid 0)\n"},
	};
	for (const auto &c : errors) {
		std::string e;
		std::string args = std::string("('com.tovi.Test.Stream', ") + c.names + ")";
		EXPECT_EQ("(none)",
		          printed(call(kStream0, kProps, c.method, g_variant_new_parsed(args.c_str()), &e)));
		EXPECT_TRUE(contains(e, c.error)) << c.method << ": " << e;
	}
	// Unknown interfaces answer for every method.
	for (const char *method :
	     {"GetProperties", "GetDefaultValues", "GetRanges", "RestoreToDefaultValues"}) {
		std::string e;
		EXPECT_EQ("(none)",
		          printed(call(kStream0, kProps, method,
		                       g_variant_new_parsed("('com.tovi.Nothing', ['Brightness'])"), &e)));
		EXPECT_TRUE(contains(e, "cannot get properties for unknown interface com.tovi.Nothing\n"))
		    << method;
	}
	EXPECT_EQ("((true,),)",
	          printed(g_variant_new("(@(b))", call(kStream0, kProps, "RestoreToDefaultValues",
	                                               g_variant_new_parsed("('com.tovi.Test.Stream', "
	                                                                    "['Brightness'])")))));
	EXPECT_EQ(50, stored(3));
	EXPECT_EQ(
	    "({'Brightness': <50>, 'StreamId': <0>},)",
	    printed(call(kStream0, kProps, "GetProperties",
	                 g_variant_new_parsed("('com.tovi.Test.Stream', ['Brightness', 'StreamId'])"))));
}

TEST_F(FrontEnd, ChangesInsideTheDaemonAreAnnounced)
{
	start();
	take_signals();
	// Contrast backs only the dropped duplicate record: nothing is announced.
	ASSERT_EQ(0, param_set_int(5, 0, 9));
	ASSERT_EQ(0, param_set_int(3, 0, 42));
	ASSERT_EQ(0, param_set_int(67, 0, 0));
	flush();
	std::vector<BusSignal> s = take_signals();
	std::vector<std::string> seen;
	for (const BusSignal &x : s)
		seen.push_back(x.path + " " + x.interface + "." + x.member + " " + x.args);
	std::vector<std::string> expected = {
	    "/com/tovi/ImageControl/0/0 org.freedesktop.DBus.Properties.PropertiesChanged "
	    "('com.tovi.Test.Stream', "
	    "{'Brightness': <42>}, @as [])",
	    "/com/tovi/ImageControl/0/0 com.tovi.Test.Stream.IsDay (0,)",
	    "/com/tovi/ImageControl/0/0 com.tovi.Test.Legacy.IsDay (0,)",
	    "/com/tovi/ImageControl com.tovi.Test.Stream.IsDay (0,)",
	    "/com/tovi/ImageControl com.tovi.Test.Legacy.IsDay (0,)",
	    "/com/tovi/ImageControl/0/0 org.freedesktop.DBus.Properties.PropertiesChanged "
	    "('com.tovi.Test.Stream', "
	    "{'IsDay': <0>}, @as [])",
	};
	std::sort(seen.begin(), seen.end());
	std::sort(expected.begin(), expected.end());
	EXPECT_EQ(expected, seen);
}

TEST_F(FrontEnd, SignalsBeforeTheBusGoOutAfterItOldestFirst)
{
	api = dbus_api_new(0);
	param_db_set_dbus_api(api);
	dbus_api_config c = config_with(1);
	dbus_api_set_config(api, 0, &c);
	ASSERT_EQ(0, param_set_int(67, 0, 0));
	ASSERT_EQ(0, param_set_int(67, 0, 1));
	wait_for_owner(kService);
	flush();
	std::vector<std::string> stream0;
	for (const BusSignal &x : take_signals())
		if (x.path == kStream0 && x.interface == kStream && x.member == "IsDay")
			stream0.push_back(x.args);
	EXPECT_EQ((std::vector<std::string>{"(0,)", "(1,)"}), stream0);
}

TEST_F(FrontEnd, DeprecatedCallsNameTheCaller)
{
	start();
	log.clear();
	printed(call(kStream0, kLegacy, "OldCall", nullptr));
	std::string text = log.text();
	char self[64], parent[64];
	{
		FILE *f = fopen("/proc/self/stat", "r");
		int ppid = 0;
		ASSERT_EQ(2, fscanf(f, "%*d %63s %*c %d", self, &ppid));
		fclose(f);
		std::string path = "/proc/" + std::to_string(ppid) + "/stat";
		f = fopen(path.c_str(), "r");
		ASSERT_EQ(1, fscanf(f, "%*d %63s", parent));
		fclose(f);
	}
	std::string report = std::string("Process ") + self + " (PID: " + std::to_string(getpid()) +
	                     ", from " + parent + ") is calling vistrad in an illegal manner\n";
	size_t first =
	    text.find("Got call to deprecated method OldCall, interface com.tovi.Test.Legacy, object "
	              "/com/tovi/ImageControl/0/0\n");
	size_t second = text.find("must be rewritten (method OldCall marked for removal)\n");
	size_t third =
	    text.find("DBus interface com.tovi.Test.Legacy is deprecated in this service (method OldCall)\n");
	ASSERT_NE(std::string::npos, first) << text;
	EXPECT_LT(first, second);
	EXPECT_LT(second, third);
	size_t r1 = text.find(report);
	ASSERT_NE(std::string::npos, r1) << text;
	EXPECT_NE(std::string::npos, text.find(report, r1 + 1)) << text;
	EXPECT_LT(text.find("test tables: old call ran\n"), std::string::npos);
	EXPECT_LT(r1, text.find("test tables: old call ran\n"));
}

TEST_F(FrontEnd, HostileCallersGetErrorsAndTheDaemonGoesOn)
{
	start();
	struct {
		const char *path, *interface, *method;
		const char *args; // parsed, or null for none
		const char *error;
	} cases[] = {
	    {kStream0, kStream, "Echo", "(42,)", "org.freedesktop.DBus.Error.InvalidArgs"},
	    {kStream0, kStream, "Echo", nullptr, "org.freedesktop.DBus.Error.InvalidArgs"},
	    {kStream0, kStream, "Missing", nullptr, "org.freedesktop.DBus.Error.UnknownMethod"},
	    {kStream0, "com.tovi.Nope", "Echo", "('x',)", "org.freedesktop.DBus.Error.UnknownMethod"},
	    {kStream0, kStream, "NoReply", nullptr, "org.freedesktop.DBus.Error.Failed"},
	    {kStream0, "org.freedesktop.DBus.Properties", "Get", "('com.tovi.Nope', 'Brightness')",
	     "org.freedesktop.DBus.Error.InvalidArgs"},
	    {kStream0, "org.freedesktop.DBus.Properties", "Set", "('com.tovi.Test.Stream', 'StreamId', <1>)",
	     "org.freedesktop.DBus.Error.InvalidArgs"},
	    {"/com/tovi/ImageControl/9/9", kStream, "Echo", "('x',)", "org.freedesktop.DBus.Error."},
	};
	for (const auto &c : cases) {
		std::string error;
		GVariant *args = c.args ? g_variant_new_parsed(c.args) : nullptr;
		GVariant *r = call(c.path, c.interface, c.method, args, &error);
		if (c.error) {
			EXPECT_EQ(nullptr, r) << c.method;
			EXPECT_TRUE(contains(error, c.error)) << c.method << ": " << error;
		}
		if (r)
			g_variant_unref(r);
	}
	std::string big(1 << 20, 'y');
	std::string error;
	EXPECT_EQ(nullptr,
	          call(kStream0, kProps, "SetProperties",
	               g_variant_new_parsed("('com.tovi.Test.Stream', [('FocusWindow', <%s>)])", big.c_str()),
	               &error));
	EXPECT_TRUE(contains(error, "given value invalid for property FocusWindow"));
	EXPECT_EQ("('hi', 0)", printed(call(kStream0, kStream, "Echo", g_variant_new("(s)", "hi"))));
	EXPECT_FALSE(contains(log.text(), "CRITICAL"));
}

TEST_F(FrontEnd, CallsInFlightToARemovedStreamAreAnswered)
{
	start();
	// Queue a call, remove the stream before the daemon side runs it.
	std::atomic<bool> done{false};
	GError *error = nullptr;
	GVariant *reply = nullptr;
	std::thread t([&] {
		reply = g_dbus_connection_call_sync(client, kService, kStream0, kStream, "Echo",
		                                    g_variant_new("(s)", "x"), nullptr,
		                                    G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, &error);
		done = true;
		g_main_context_wakeup(nullptr);
	});
	// The call has reached the bus once a later round trip from the same
	// connection has; the daemon side has not run its main loop since.
	GVariant *ping = g_dbus_connection_call_sync(client, "org.freedesktop.DBus", "/org/freedesktop/DBus",
	                                             "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
	                                             G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, nullptr);
	if (ping)
		g_variant_unref(ping);
	dbus_api_remove_stream(api, 0);
	while (!done)
		g_main_context_iteration(nullptr, TRUE);
	t.join();
	if (reply)
		g_variant_unref(reply);
	else
		g_error_free(error);
	EXPECT_EQ("('hi', -1)", printed(call(kGlobal, kStream, "Echo", g_variant_new("(s)", "hi"))));
}

TEST_F(FrontEnd, AfterFreeNothingIsSent)
{
	start();
	GDBusConnection *shared = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
	stop();
	EXPECT_TRUE(g_dbus_connection_is_closed(shared));
	g_object_unref(shared);
	take_signals();
	ASSERT_EQ(0, param_set_int(67, 0, 0));
	flush();
	EXPECT_TRUE(take_signals().empty());
}

} // namespace

namespace
{

// Signatures, access flags and annotation order; a duplicate name once, no
// empty argument lists.
const char stream_xml[] =
    "<interface name=\"com.tovi.Test.Stream\">\n"
    "    <method name=\"Echo\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Description\" value=\"Answers the text\"/>\n"
    "      <arg type=\"s\" name=\"text\" direction=\"in\"/>\n"
    "      <arg type=\"s\" name=\"reply\" direction=\"out\"/>\n"
    "      <arg type=\"i\" name=\"stream\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"NoReply\">\n"
    "      <arg type=\"i\" name=\"value\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <signal name=\"IsDay\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Description\" value=\"Day or night\"/>\n"
    "      <arg type=\"i\" name=\"IsDay\"/>\n"
    "    </signal>\n"
    "    <property type=\"i\" name=\"Brightness\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Description\" value=\"Image brightness\"/>\n"
    "    </property>\n"
    "    <property type=\"s\" name=\"Exposure\" access=\"readwrite\"/>\n"
    "    <property type=\"d\" name=\"IrisApertureOpen\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Deprecated\" value=\"Use the iris\"/>\n"
    "    </property>\n"
    "    <property type=\"b\" name=\"SpotFocus\" access=\"readwrite\"/>\n"
    "    <property type=\"s\" name=\"FocusWindow\" access=\"readwrite\"/>\n"
    "    <property type=\"i\" name=\"StreamId\" access=\"read\"/>\n"
    "    <property type=\"i\" name=\"Broken\" access=\"read\"/>\n"
    "    <property type=\"i\" name=\"IsDay\" access=\"read\"/>\n"
    "  </interface>";

const char legacy_xml[] =
    "<interface name=\"com.tovi.Test.Legacy\">\n"
    "    <method name=\"OldCall\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Description\" value=\"Does nothing\"/>\n"
    "      <annotation name=\"org.freedesktop.DBus.Deprecated\" value=\"Use Echo\"/>\n"
    "    </method>\n"
    "    <signal name=\"IsDay\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Description\" value=\"Day or night\"/>\n"
    "      <arg type=\"i\" name=\"IsDay\"/>\n"
    "    </signal>\n"
    "    <property type=\"ay\" name=\"Exposure\" access=\"readwrite\"/>\n"
    "    <property type=\"ay\" name=\"FocusWindow\" access=\"write\"/>\n"
    "  </interface>";

// The XML of one interface as introspection shows it.
std::string interface_xml(const std::string &xml, const std::string &name)
{
	size_t start = xml.find("<interface name=\"" + name + "\">");
	if (start == std::string::npos)
		return "";
	size_t end = xml.find("</interface>", start);
	return xml.substr(start, end + strlen("</interface>") - start);
}

TEST_F(FrontEnd, IntrospectionShowsTheTables)
{
	start();
	GVariant *r = call(kStream0, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr);
	ASSERT_NE(nullptr, r);
	const char *xml = nullptr;
	g_variant_get(r, "(&s)", &xml);
	EXPECT_EQ(stream_xml, interface_xml(xml, "com.tovi.Test.Stream"));
	EXPECT_EQ(legacy_xml, interface_xml(xml, "com.tovi.Test.Legacy"));
	g_variant_unref(r);
}

} // namespace

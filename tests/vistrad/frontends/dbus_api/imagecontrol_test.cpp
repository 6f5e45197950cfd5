// The ImageControl and VideoControl objects in process, with the real object
// builders and parameter database: the product configuration's capture-mode
// operations are small test functions, and the sensor and stabilizer calls
// are wrapped so that test objects answer them.
#include <fcntl.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/prodconf_dbus_api_config.h"
#include "frontend_fixture.h"
#include "optics/iris.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "platform/stabilizer.h"

namespace
{

const char *const kGlobal = "/com/tovi/ImageControl";
const char *const kStream0 = "/com/tovi/ImageControl/0/0";
const char *const kStream = "com.tovi.ImageControlStream";

// Test sensor: frame rates (Q14) by mode and frequency, and WDR modes.
std::map<std::pair<uint32_t, int>, int32_t> mode_fps;
std::set<uint32_t> wdr_modes;

struct pause_call {
	struct stabilizer *stabilizer;
	int32_t stream_id;
	int pause;
};
std::vector<pause_call> pause_calls;

// What the product configuration's capture-mode operations answer.
std::vector<int> valid_modes;
std::vector<uint32_t> mode_pairs; // 60 Hz, 50 Hz, ...

GList *test_valid_values(prodconf *, int32_t)
{
	GList *list = nullptr;
	for (int m : valid_modes)
		list = g_list_append(list, GINT_TO_POINTER(m));
	return list;
}

uint32_t *test_modes_by_frequency(prodconf *, int32_t, size_t *count)
{
	*count = mode_pairs.size() / 2;
	return static_cast<uint32_t *>(g_memdup2(mode_pairs.data(), mode_pairs.size() * sizeof(uint32_t)));
}

// CaptureMode 2 is the 1080p 30/25 mode pair.
uint32_t test_value_to_mode(prodconf *, int32_t, int value)
{
	return value == 2 ? 9 : 0;
}

std::vector<double> doubles(GVariant *reply)
{
	std::vector<double> out;
	GVariant *array = g_variant_get_child_value(reply, 0);
	gsize n = 0;
	const double *d = static_cast<const double *>(g_variant_get_fixed_array(array, &n, sizeof(double)));
	out.assign(d, d + n);
	g_variant_unref(array);
	g_variant_unref(reply);
	return out;
}

dbus_api_config record(bool ecm = true)
{
	dbus_api_config c;
	memset(&c, 0, sizeof c);
	c.imagecontrol_stream_api_config.ecm_params = ecm ? 1 : 0;
	return c;
}

bool file_exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

} // namespace

extern "C" {
int32_t __wrap_sensor_get_mode_max_fps(struct sensor *sensor, uint32_t mode, uint32_t frequency)
{
	if (!sensor)
		return -1;
	auto it = mode_fps.find({mode, frequency});
	return it == mode_fps.end() ? -1 : it->second;
}

int __wrap_sensor_mode_is_wdr(struct sensor *sensor, uint32_t mode)
{
	return sensor && wdr_modes.count(mode) ? 1 : 0;
}

int __wrap_stabilizer_set_pause(struct stabilizer *stabilizer, int32_t stream_id, int pause)
{
	pause_calls.push_back({stabilizer, stream_id, pause});
	return 0;
}
}

namespace
{

class ImageControl : public BusFrontEnd
{
      protected:
	static void SetUpTestSuite()
	{
		init_daemon_side(prodconf_new());
		plat = g_new0(platform, 1);
		daemon_get_context()->engine = control_new(plat);
		sensor0 = sensor_new();
		platform_add_sensor(plat, sensor0, 0);
		stabilizer0 = stabilizer_new();
		platform_add_stabilizer(plat, stabilizer0, 0);
	}

	void SetUp() override
	{
		BusFrontEnd::SetUp();
		char tmpl[] = "/tmp/vistrad-imagecontrol-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		for (const char *dir : {"/etc", "/etc/vistrad", "/run", "/run/vistrad", "/etc/legacyconfig",
		                        "/etc/legacyconfig/legacymappings.d"})
			ASSERT_EQ(0, mkdir((root + dir).c_str(), 0755)) << dir;
		// Every parameter at its default, as the daemon starts its streams.
		for (uint32_t id = 1; id <= PARAM_ID_MAX; id++)
			for (int32_t stream : {-1, 0, 0x0100, 0x0102})
				param_reset(id, stream);
		conf->capture_valid_values = test_valid_values;
		conf->capture_modes_by_frequency = test_modes_by_frequency;
		conf->capture_value_to_mode = test_value_to_mode;
		conf->channel[0].area[0] = {0, 0, 1919, 1079};
		valid_modes = {1, 2, 3};
		mode_pairs.clear();
		pause_calls.clear();
	}

	void TearDown() override
	{
		BusFrontEnd::TearDown();
		unsetenv("VISTRAD_ROOT");
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}

	// The front-end with stream 0 configured.
	void start(int mode = 0, dbus_api_config config = record())
	{
		start_api(mode);
		dbus_api_set_config(api, 0, &config);
	}

	// "error name: message" of a call, or its reply printed.
	std::string result(const char *path, const char *interface, const char *method, GVariant *args)
	{
		std::string error;
		GVariant *r = call(path, interface, method, args, &error);
		return r ? printed(r) : error;
	}

	std::string method(const char *path, const char *name, GVariant *args = nullptr)
	{
		return result(path, kStream, name, args);
	}

	static platform *plat;
	static sensor *sensor0;
	static stabilizer *stabilizer0;
	std::string root;
};

platform *ImageControl::plat;
sensor *ImageControl::sensor0;
stabilizer *ImageControl::stabilizer0;

// What an object declares, from its introspection reply.
GDBusNodeInfo *node_of(GVariant *reply)
{
	if (!reply)
		return nullptr;
	const char *xml = nullptr;
	g_variant_get(reply, "(&s)", &xml);
	GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(xml, nullptr);
	g_variant_unref(reply);
	return node;
}

TEST_F(ImageControl, EveryReadablePropertySendsTheTypeItDeclares)
{
	start();
	int checked = 0;
	for (const char *path : {kGlobal, kStream0}) {
		GDBusNodeInfo *node =
		    node_of(call(path, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr));
		ASSERT_NE(nullptr, node) << path;
		for (GDBusInterfaceInfo **in = node->interfaces; *in; in++) {
			if (g_str_has_prefix((*in)->name, "org.freedesktop."))
				continue;
			for (GDBusPropertyInfo **p = (*in)->properties; p && *p; p++) {
				if (!((*p)->flags & G_DBUS_PROPERTY_INFO_FLAGS_READABLE))
					continue;
				std::string error;
				GVariant *r = call(path, "org.freedesktop.DBus.Properties", "Get",
				                   g_variant_new("(ss)", (*in)->name, (*p)->name), &error);
				ASSERT_NE(nullptr, r)
				    << path << " " << (*in)->name << "." << (*p)->name << " " << error;
				GVariant *v = nullptr;
				g_variant_get(r, "(v)", &v);
				EXPECT_STREQ((*p)->signature, g_variant_get_type_string(v))
				    << path << " " << (*in)->name << "." << (*p)->name;
				g_variant_unref(v);
				g_variant_unref(r);
				checked++;
			}
		}
		g_dbus_node_info_unref(node);
	}
	EXPECT_GT(checked, 150);
}

TEST_F(ImageControl, VideoCaptureModeComesFirstWithTheFlagOnly)
{
	start();
	dbus_api_config plain = record(false);
	dbus_api_set_config(api, 0x0100, &plain);
	struct {
		const char *path, *first;
		int count;
	} objects[] = {{kStream0, "VideoCaptureMode", 82}, {"/com/tovi/ImageControl/1/0", "StreamId", 81}};
	for (const auto &o : objects) {
		GDBusNodeInfo *node =
		    node_of(call(o.path, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr));
		ASSERT_NE(nullptr, node);
		GDBusInterfaceInfo *in = g_dbus_node_info_lookup_interface(node, kStream);
		ASSERT_NE(nullptr, in);
		int n = 0;
		while (in->properties[n])
			n++;
		EXPECT_EQ(o.count, n) << o.path;
		EXPECT_STREQ(o.first, in->properties[0]->name) << o.path;
		g_dbus_node_info_unref(node);
	}

	// The name of the frequency-matched video mode of CaptureMode 2.
	ASSERT_EQ(0, param_set_int(39, 0, 2));
	ASSERT_EQ(0, param_set_int(40, 0, 1));
	EXPECT_EQ("<'1080p25'>", get(kStream0, kStream, "VideoCaptureMode"));
	ASSERT_EQ(0, param_set_int(40, 0, 0));
	EXPECT_EQ("<'1080p30'>", get(kStream0, kStream, "VideoCaptureMode"));
	// A mode without a video name is "auto".
	ASSERT_EQ(0, param_set_int(39, 0, 1));
	EXPECT_EQ("<'auto'>", get(kStream0, kStream, "VideoCaptureMode"));
}

TEST_F(ImageControl, ExposureWindowsAsFractionsOfTheImage)
{
	start();
	struct {
		const char *window;
		std::vector<double> coordinates;
	} windows[] = {
	    {"auto", {0, 0, 1, 1}},
	    {"center", {0.25, 0.25, 0.75, 0.75}},
	    {"upper", {0, 0, 1, 0.3333}},
	    {"lower", {0, 0.6667, 1, 1}},
	    {"left", {0, 0, 0.3333, 1}},
	    {"right", {0.6667, 0, 1, 1}},
	    {"spot", {0.4375, 0.4375, 0.5625, 0.5625}},
	};
	for (const auto &w : windows) {
		GVariant *r =
		    call(kStream0, kStream, "ExposureWindowCoordinates", g_variant_new("(s)", w.window));
		ASSERT_NE(nullptr, r) << w.window;
		EXPECT_EQ(w.coordinates, doubles(r)) << w.window;
	}
	EXPECT_EQ("org.gtk.GDBus.UnmappedGError.Quark._Parameter_20error.Code0: unrecognized exposure window "
	          "custom\n",
	          method(kStream0, "ExposureWindowCoordinates", g_variant_new("(s)", "custom")));
	EXPECT_TRUE(contains(log.text(), "DBus API: got a call to unknown window custom\n"));

	// A hostile name is refused like any other; the daemon side goes on.
	std::string big(1 << 20, 'w');
	std::string answer = method(kStream0, "ExposureWindowCoordinates", g_variant_new("(s)", big.c_str()));
	EXPECT_EQ(0u, answer.find("org.gtk.GDBus.UnmappedGError.Quark._Parameter_20error.Code0: "))
	    << answer.size();
	// The log takes only the start of such a name.
	EXPECT_TRUE(contains(log.text(), "unknown window " + std::string(256, 'w') + "\n"));
	EXPECT_EQ("([0.25, 0.25, 0.75, 0.75],)",
	          method(kStream0, "ExposureWindowCoordinates", g_variant_new("(s)", "center")));
}

TEST_F(ImageControl, AreasOfTheStreamsChannel)
{
	start();
	prodconf_channel_block &block = conf->channel[0];
	for (int i = 1; i < 9; i++)
		block.area[i] = {i, 10 * i, 100 * i, 1000 * i};
	EXPECT_EQ("({'prod_area': [0, 0, 1919, 1079], 'usable_sensor_area': [1, 10, 100, 1000], "
	          "'full_sensor_area': [2, 20, 200, 2000], 'sensor_area': [3, 30, 300, 3000], "
	          "'dp_offset': [4, 40, 400, 4000], 'dp_area': [5, 50, 500, 5000], "
	          "'img_area': [6, 60, 600, 6000], 'full_frame_area': [7, 70, 700, 7000], "
	          "'max_stats_area': [8, 80, 800, 8000]},)",
	          method(kStream0, "GetProductAreaConfig"));

	struct {
		prodconf_area area;
		const char *reply;
	} ratios[] = {
	    {{0, 0, 1919, 1079}, "(1920, 1080, 16, 9)"},
	    {{0, 0, 1279, 1023}, "(1280, 1024, 5, 4)"},
	    {{100, 50, 739, 529}, "(640, 480, 4, 3)"},
	    {{0, 0, 0, 0}, "(1, 1, 1, 1)"},
	    {{10, 0, 9, -1}, "(0, 0, 0, 0)"},
	    {{0, 0, -1921, 1079}, "(-1920, 1080, -16, 9)"},
	};
	for (const auto &r : ratios) {
		block.area[0] = r.area;
		EXPECT_EQ(r.reply, method(kStream0, "GetSensorAspectRatio")) << r.reply;
	}

	// A channel above the eight the configuration knows has no areas.
	dbus_api_config c = record();
	dbus_api_set_config(api, 0x0800, &c);
	const char *path8 = "/com/tovi/ImageControl/8/0";
	EXPECT_EQ(
	    "org.gtk.GDBus.UnmappedGError.Quark._shared_2dapi_2derror_2dquark.Code0: No areas found for "
	    "stream_id 2048\n",
	    method(path8, "GetSensorAspectRatio"));
	EXPECT_TRUE(contains(log.text(), "DBus API: found no areas for channel 8 in prodconf\n"));
	EXPECT_EQ(
	    "org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: Stream id 2048 has "
	    "no area_config",
	    method(path8, "GetProductAreaConfig"));
}

TEST_F(ImageControl, IrisFNumbersFromThePercentage)
{
	start();
	EXPECT_EQ(
	    "org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: Stream id 0 has no "
	    "iris",
	    method(kStream0, "IrisFValue", g_variant_new("(i)", 50)));

	iris *i = iris_new();
	platform_add_iris(plat, i, 0);
	ASSERT_EQ(0, param_set_int(62, 0, 140));
	ASSERT_EQ(0, param_set_int(64, 0, 280));
	ASSERT_EQ(0, param_set_int(63, 0, 2200));
	struct {
		int position;
		double f;
	} cases[] = {{0, 1.4}, {50, 2.8}, {100, 22.0}, {75, 12.4}};
	for (const auto &c : cases) {
		GVariant *r = call(kStream0, kStream, "IrisFValue", g_variant_new("(i)", c.position));
		ASSERT_NE(nullptr, r);
		double f = 0;
		g_variant_get(r, "(d)", &f);
		g_variant_unref(r);
		EXPECT_NEAR(c.f, f, 1e-3) << c.position;
	}
	// The deprecated per-stream ImageControl interface answers the same.
	EXPECT_EQ("(22.0,)",
	          result(kStream0, "com.tovi.ImageControl", "IrisFValue", g_variant_new("(i)", 100)));
	platform_remove_all_iris(plat, 0);
}

TEST_F(ImageControl, AvailableCaptureModesFromTheProduct)
{
	start();
	EXPECT_EQ("(uint32 3, [uint32 1, 2, 3], 1)", method(kStream0, "GetAvailableCaptureModes"));
	const char *none =
	    "org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: No function "
	    "for getting capture modes";
	valid_modes.clear();
	EXPECT_EQ(none, method(kStream0, "GetAvailableCaptureModes"));
	conf->capture_valid_values = nullptr;
	EXPECT_EQ(none, method(kStream0, "GetAvailableCaptureModes"));
}

TEST_F(ImageControl, LazyCaptureModeIsStoredAndMarkedOnlyWhenAccepted)
{
	start();
	dbus_api_config c = record();
	dbus_api_set_config(api, 0x0102, &c);
	const char *path = "/com/tovi/ImageControl/1/2";
	const std::string cml1 = root + "/etc/vistrad/cml1", marker = root + "/run/vistrad/cml";
	const char *domain = "org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: ";
	struct {
		std::vector<int> modes;
		int mode;
		std::string reply;
		int32_t stored;
	} cases[] = {
	    {{1, 2, 3},
	     5,
	     std::string(domain) + "dbus_set_capture_mode_lazy: Illegal CaptureMode 5 for stream_id 258\n",
	     -1},
	    // Without a list any mode goes to the database, which has the last word.
	    {{},
	     1000,
	     std::string(domain) +
	         "dbus_set_capture_mode_lazy: could not set CaptureMode 1000 for stream 258 to "
	         "param_db\n",
	     -1},
	    {{1, 2, 3}, 2, "()", 2},
	};
	for (const auto &k : cases) {
		valid_modes = k.modes;
		EXPECT_EQ(k.reply, method(path, "SetCaptureModeLazy", g_variant_new("(i)", k.mode)))
		    << k.mode;
		EXPECT_EQ(k.stored, stored(168, 0x0102)) << k.mode;
		bool accepted = k.reply == "()";
		EXPECT_EQ(accepted, file_exists(cml1)) << k.mode;
		EXPECT_EQ(accepted, file_exists(marker)) << k.mode;
	}
	struct stat st;
	ASSERT_EQ(0, stat(marker.c_str(), &st));
	EXPECT_EQ(0700u, st.st_mode & 0777u);
	EXPECT_EQ(0, st.st_size);
}

TEST_F(ImageControl, StabilizerPauseReachesTheChannelsStabilizer)
{
	start();
	dbus_api_config c = record();
	dbus_api_set_config(api, 0x0100, &c);
	EXPECT_EQ("()", method(kStream0, "SetStabilizerPause", g_variant_new("(b)", TRUE)));
	EXPECT_EQ("()", method(kStream0, "SetStabilizerPause", g_variant_new("(b)", FALSE)));
	// Channel 1 has none: nothing is called, and the reply is the same.
	EXPECT_EQ("()",
	          method("/com/tovi/ImageControl/1/0", "SetStabilizerPause", g_variant_new("(b)", TRUE)));
	ASSERT_EQ(2u, pause_calls.size());
	EXPECT_EQ(stabilizer0, pause_calls[0].stabilizer);
	EXPECT_EQ(0, pause_calls[0].stream_id);
	EXPECT_EQ(1, pause_calls[0].pause);
	EXPECT_EQ(0, pause_calls[1].pause);
}

TEST_F(ImageControl, CaptureModeInfoPerModePair)
{
	start();
	dbus_api_config c = record();
	dbus_api_set_config(api, 0x0100, &c);
	mode_pairs = {9, 10, 0, 0, 42, 0};
	mode_fps = {{{9, 0}, 30 * 16384}, {{10, 1}, 25 * 16384}, {{42, 0}, 0}};
	wdr_modes = {42};
	ASSERT_EQ(0, param_set_int(39, 0, 3));
	ASSERT_EQ(0, param_set_int(40, 0, 1));
	EXPECT_EQ(
	    "([{'index': <uint32 0>, 'current': <false>, 'res_set_index': <uint32 1>, 'res_set_name': <'1'>, "
	    "'max_fps_per_frequency': <{'50Hz': <25.0>, '60Hz': <30.0>}>, 'wdr_available': <false>}, "
	    "{'index': <uint32 2>, 'current': <true>, 'current_capture_frequency': <'50Hz'>, "
	    "'res_set_index': <uint32 3>, 'res_set_name': <'3'>, 'max_fps_per_frequency': <@a{sv} {}>, "
	    "'wdr_available': <true>}],)",
	    method(kStream0, "GetCaptureModeInfo"));

	// Without a sensor there is no WDR answer; the current mode is read
	// from the stream itself.
	ASSERT_EQ(0, param_set_int(39, 0x0100, 1));
	ASSERT_EQ(0, param_set_int(40, 0x0100, 0));
	EXPECT_EQ(
	    "([{'index': <uint32 0>, 'current': <true>, 'current_capture_frequency': <'60Hz'>, "
	    "'res_set_index': <uint32 1>, 'res_set_name': <'1'>, 'max_fps_per_frequency': <@a{sv} {}>}, "
	    "{'index': <uint32 2>, 'current': <false>, 'res_set_index': <uint32 3>, 'res_set_name': <'3'>, "
	    "'max_fps_per_frequency': <@a{sv} {}>}],)",
	    method("/com/tovi/ImageControl/1/0", "GetCaptureModeInfo"));

	// No pair list: an empty answer.
	conf->capture_modes_by_frequency = nullptr;
	EXPECT_EQ("(@aa{sv} [],)", method(kStream0, "GetCaptureModeInfo"));

	// No CaptureMode at all (the database emptied): an error, not a reply
	// without values.
	param_db_free();
	EXPECT_EQ("org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: "
	          "dbus_get_capture_mode_info: Could not read CaptureMode\n",
	          method(kStream0, "GetCaptureModeInfo"));
	std::string error;
	EXPECT_EQ("(none)", get(kStream0, kStream, "VideoCaptureMode", &error));
	EXPECT_TRUE(contains(error, "No such property found VideoCaptureMode")) << error;
	EXPECT_TRUE(contains(log.text(), "GetCaptureMode: failed to read parameter\n"));
	param_db_init();
}

TEST_F(ImageControl, WdrAndFrequencyWritesResetExposureAtTheNextHandOver)
{
	// One channel a case: the pending resets are kept per channel.
	struct {
		const char *property;
		const char *value;
		int32_t wdr_type, fixed_available;
		bool reset, manual_off;
	} cases[] = {
	    {"WDR", "off", 0, 0, true, true},
	    {"WDR", "off", 0, 1, true, false},
	    {"CaptureFrequency", "50Hz", 0, 0, true, true},
	    // An unknown WDR type stores the value but leaves exposure alone.
	    {"WDR", "off", 1, 0, false, false},
	};
	start();
	dbus_api_config c = record();
	int32_t stream = 0;
	for (const auto &k : cases) {
		SCOPED_TRACE(std::string(k.property) + " on stream " + std::to_string(stream));
		char path[64];
		snprintf(path, sizeof path, "/com/tovi/ImageControl/%d/0", (int)(stream >> 8));
		dbus_api_set_config(api, stream, &c);
		for (uint32_t id : {40u, 41u})
			ASSERT_EQ(0, param_reset(id, stream));
		ASSERT_EQ(0, param_set_int(147, stream, k.wdr_type));
		ASSERT_EQ(0, param_set_int(141, stream, k.fixed_available));
		for (uint32_t id : {33u, 34u})
			ASSERT_EQ(0, param_set_int(id, stream, 1));
		ASSERT_EQ(0, param_set_int(37, stream, 70));
		EXPECT_EQ("ok", set(path, kStream, k.property, g_variant_new_string(k.value)));
		EXPECT_EQ(70, stored(37, stream)) << "before the hand-over";

		dbus_api_set_config(api, stream, &c);
		EXPECT_EQ(k.reset ? 0 : 70, stored(37, stream));
		EXPECT_EQ(k.manual_off ? 0 : 1, stored(33, stream));
		EXPECT_EQ(k.manual_off ? 0 : 1, stored(34, stream));
		// "off" is stored even where the hook did nothing.
		EXPECT_EQ(strcmp(k.property, "WDR") == 0 ? 0 : 1, stored(41, stream));

		// Once: the next hand-over leaves the settings alone.
		ASSERT_EQ(0, param_set_int(37, stream, 70));
		dbus_api_set_config(api, stream, &c);
		EXPECT_EQ(70, stored(37, stream));
		stream += 0x0100;
	}
	EXPECT_TRUE(contains(log.text(), "dbus_set_wdr_property: unrecognized WDRType 1\n"));
}

TEST_F(ImageControl, SetPowerWithoutARequestIsAnError)
{
	start();
	EXPECT_EQ("org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControl_2ePower.Code0: Could not "
	          "set power "
	          "to vistrad",
	          result(kGlobal, "com.tovi.ImageControl.Power", "SetPower", g_variant_new("(d)", 1.0)));
}

TEST_F(ImageControl, ProductConstantsAreAtLeastOne)
{
	start();
	conf->constants[0].image_sources = 0;
	EXPECT_EQ("<1>", get(kGlobal, "com.tovi.ImageControl", "NbrOfSources"));
	conf->constants[0].image_sources = 3;
	EXPECT_EQ("<3>", get(kGlobal, "com.tovi.ImageControl", "NbrOfSources"));
	EXPECT_EQ("<3>", get(kGlobal, "com.tovi.ImageControl", "NbrChannels"));
	conf->constants[0].image_sources = 1;
	EXPECT_EQ("<1>", get(kGlobal, "com.tovi.ImageControl", "NbrChannels"));
}

TEST_F(ImageControl, SingleStreamProductGetsNoObjects)
{
	conf->use_stream = 0;
	param_db_set_default_stream(-1);
	start_api();
	dbus_api_config c = record();
	dbus_api_set_config(api, -1, &c);
	EXPECT_EQ("Unexpected use_streams == false in use\nUnexpected use_streams == false in use\n",
	          log.text(DEBUG_ERROR));
	std::string error;
	EXPECT_EQ("(none)", get(kStream0, kStream, "StreamId", &error));
	EXPECT_FALSE(error.empty());
}

TEST_F(ImageControl, VideoControlObjectsTakeLazyModesByName)
{
	service = "com.tovi.VideoControl";
	start(1);
	dbus_api_config c = record();
	dbus_api_set_config(api, 0x0100, &c);
	// The global object and one per channel, numbered from 1.
	for (const char *path :
	     {"/com/tovi/VideoControl", "/com/tovi/VideoControl/1", "/com/tovi/VideoControl/2"})
		EXPECT_EQ("<1>", get(path, "com.tovi.VideoControl", "NbrChannels")) << path;
	const char *domain = "org.gtk.GDBus.UnmappedGError.Quark._VIDEOCONTROL_5fERROR.Code0: ";
	const std::string cml256 = root + "/etc/vistrad/cml256";
	struct {
		const char *name;
		std::string reply;
	} cases[] = {
	    {"auto", std::string(domain) +
	                 "set_capture_mode_lazy: could not convert auto to any known CaptureMode\n"},
	    {"bogus", std::string(domain) +
	                  "set_capture_mode_lazy: could not convert bogus to any known CaptureMode\n"},
	    {"720p25", "()"},
	};
	for (const auto &k : cases) {
		EXPECT_EQ(k.reply, result("/com/tovi/VideoControl/2", "com.tovi.VideoControl",
		                          "SetCaptureModeLazy", g_variant_new("(s)", k.name)))
		    << k.name;
		EXPECT_EQ(k.reply == "()", file_exists(cml256)) << k.name;
	}
	EXPECT_EQ(1, stored(168, 0x0100));
	EXPECT_TRUE(contains(log.text(),
	                     "set_capture_mode_lazy: could not convert auto to any known CaptureMode, sid "
	                     "256\n"));
	// GetCaptureModeInfo is ImageControl's, with the interface's own domain.
	EXPECT_EQ("(@aa{sv} [],)",
	          result("/com/tovi/VideoControl/1", "com.tovi.VideoControl", "GetCaptureModeInfo", nullptr));
}

} // namespace

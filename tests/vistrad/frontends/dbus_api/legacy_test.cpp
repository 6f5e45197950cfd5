// The legacy configuration interfaces in process: which properties the
// product's flags put on the interface and in the mapping file, the file's
// text, the type texts by their rules, and the legacy records' hooks.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "../../log_capture.h"
#include "../../prodconf_builder.h"
#include "bus_client.h"
#include "core/daemon.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "frontends/dbus_api/dbus_interface.h"
#include "frontends/dbus_api/legacy.h"

namespace
{

const char *const kBus = "com.tovi.ImageControl";
const char *const kPath0 = "/com/tovi/ImageControl/0/0";

dbus_api_config flags(std::initializer_list<size_t> offsets)
{
	dbus_api_config c;
	memset(&c, 0, sizeof c);
	for (size_t o : offsets)
		reinterpret_cast<uint8_t *>(&c.qorex_legacy_api_config)[o] = 1;
	return c;
}

void write_text(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::binary) << text;
}

#define FLAG(name) offsetof(qorex_legacy_config, name)

// One parameter's entry in the mapping file.
struct entry {
	std::string group, parameter, property, type, access;
};

std::vector<entry> entries(const std::string &xml)
{
	std::vector<entry> out;
	std::string group;
	size_t at = 0;
	auto attr = [&](const char *name, size_t from) {
		size_t p = xml.find(name, from) + strlen(name);
		return xml.substr(p, xml.find('"', p) - p);
	};
	while ((at = xml.find('<', at)) != std::string::npos) {
		if (xml.compare(at, 13, "<group name=\"") == 0) {
			group = attr("<group name=\"", at);
		} else if (xml.compare(at, 17, "<parameter name=\"") == 0) {
			entry e;
			e.group = group;
			e.parameter = attr("<parameter name=\"", at);
			e.property = attr("interface=\"com.tovi.Configuration.Legacy\" name=\"", at);
			e.type = attr("name=\"type\" value =\"", at);
			e.access = attr("name=\"accessControl\" value=\"", at);
			out.push_back(e);
		}
		at++;
	}
	return out;
}

class Legacy : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		g_log_set_always_fatal(
		    (GLogLevelFlags)(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
		param_map_init();
		param_db_init();
	}

	void SetUp() override
	{
		conf = prodconf_new();
		conf->use_stream = 1;
		conf->constants[0].image_sources = 1;
		daemon_get_context()->conf = conf;
		char tmpl[] = "/tmp/vistrad-legacy-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		dir = root + "/etc/legacyconfig/legacymappings.d";
		std::string cmd = "mkdir -p '" + dir + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
		for (uint32_t id = 1; id <= PARAM_ID_MAX; id++)
			for (int32_t stream : {-1, 0, 0x0100})
				param_reset(id, stream);
	}

	void TearDown() override
	{
		for (dbus_interface *in : built)
			dbus_interface_free(in);
		legacy_maps_free();
		daemon_get_context()->conf = nullptr;
		prodconf_free(conf);
		unsetenv("VISTRAD_ROOT");
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}

	dbus_interface *keep(dbus_interface *in)
	{
		built.push_back(in);
		return in;
	}

	dbus_interface *stream(const dbus_api_config &c, int32_t stream_id = 0, const char *path = kPath0)
	{
		return keep(qorex_legacy_interface_new(&c, stream_id, kBus, path));
	}

	std::string file()
	{
		return read_file(dir + "/vistrad.xml");
	}

	// The type text of a parameter's (first) entry in the file.
	std::string type_of(const std::string &property)
	{
		for (const entry &e : entries(file()))
			if (e.property == property)
				return e.type;
		return "(absent)";
	}

	prodconf *conf = nullptr;
	std::string root, dir;
	std::vector<dbus_interface *> built;
	LogCapture log;
};

TEST_F(Legacy, WithoutFlagsOnlyTheCameraNameOfTheChannel)
{
	dbus_interface *in = stream(flags({}), 0x0100, "/com/tovi/ImageControl/1/0");
	EXPECT_EQ("<mapping>\n"
	          "  <group name=\"root.ImageSource.I1\">\n"
	          "    <parameter name=\"Name\">\n"
	          "      <property dbus=\"com.tovi.ImageControl\" object=\"/com/tovi/ImageControl/1/0\"\n"
	          "       interface=\"com.tovi.Configuration.Legacy\" name=\"CameraName\">\n"
	          "      <type type=\"string\" />\n"
	          "      </property>\n"
	          "      <legacyoptions>\n"
	          "        <legacyoption name=\"type\" value =\"string\" />\n"
	          "        <legacyoption name=\"accessControl\" value=\"admin:3;operator:3;viewer:1\"/>\n"
	          "      </legacyoptions>\n"
	          "    </parameter>\n"
	          "  </group>\n"
	          "</mapping>\n",
	          file());
	ASSERT_EQ(1u, in->property_count);
	EXPECT_STREQ("CameraName", in->properties[0]->name);
	EXPECT_STREQ("com.tovi.Configuration.Legacy", in->name);

	// Without a record: an empty interface and the file as it was.
	dbus_interface *empty = keep(qorex_legacy_interface_new(nullptr, 0, kBus, kPath0));
	EXPECT_EQ(0u, empty->property_count);
	EXPECT_EQ(1u, entries(file()).size());
}

TEST_F(Legacy, GlobalObjectMapsTheNumberOfSources)
{
	conf->constants[0].image_sources = 2;
	dbus_interface *in = keep(qorex_legacy_global_interface_new(kBus, "/com/tovi/ImageControl"));
	std::vector<entry> e = entries(file());
	ASSERT_EQ(1u, e.size());
	EXPECT_EQ("root.ImageSource", e[0].group);
	EXPECT_EQ("NbrOfSources", e[0].parameter);
	EXPECT_EQ("readonly", e[0].type);
	EXPECT_EQ("admin:1;operator:1;viewer:1", e[0].access);
	EXPECT_TRUE(contains(file(), "<type type=\"int\" />"));
	GError *error = nullptr;
	EXPECT_EQ("2", printed(dbus_interface_get_property(in, "NbrOfSources", -1, nullptr, &error)));
}

TEST_F(Legacy, RichFlagSetMatchesTheGolden)
{
	keep(qorex_legacy_global_interface_new(kBus, "/com/tovi/ImageControl"));
	stream(
	    flags({FLAG(tesmark7_sensor_params), FLAG(wdr_param), FLAG(iris_params), FLAG(encoder_params)}));
	EXPECT_EQ(read_file(std::string(GOLDEN_DIR) + "/legacy_rich.xml"), file());
	// The custom exposure window's configuration count comes with it.
	int32_t configs = -1;
	EXPECT_EQ(0, param_get_int(163, 0, &configs));
	EXPECT_EQ(1, configs);
}

TEST_F(Legacy, VideoControlSetsMatchTheGolden)
{
	dbus_api_config c = flags({});
	c.video_legacy_api_config.src_rot_param = 1;
	c.video_legacy_api_config.src_rot_param_180 = 1;
	keep(video_legacy_global_interface_new("com.tovi.VideoControl", "/com/tovi/VideoControl"));
	keep(video_legacy_interface_new(&c, 0, "com.tovi.VideoControl", "/com/tovi/VideoControl/1"));
	EXPECT_EQ(read_file(std::string(GOLDEN_DIR) + "/legacy_video.xml"), file());

	// Another video type has no groups of its own; without a record the
	// interface is empty and the map untouched.
	c = flags({});
	c.video_legacy_api_config.video_legacy_api_type = 1;
	dbus_interface *other = keep(video_legacy_interface_new(&c, 0x0100, "com.tovi.VideoControl", "/x"));
	EXPECT_EQ(0u, other->property_count);
	dbus_interface *none =
	    keep(video_legacy_interface_new(nullptr, 0x0200, "com.tovi.VideoControl", "/y"));
	EXPECT_EQ(0u, none->property_count);
	EXPECT_EQ(read_file(std::string(GOLDEN_DIR) + "/legacy_video.xml"), file());
}

TEST_F(Legacy, TypeTextsByTheirRules)
{
	struct {
		size_t flag;
		const char *property, *type;
	} cases[] = {
	    // The parameter's range, maxlen counting the sign.
	    {FLAG(sony_cb_params), "ManualShutter", "int:maxlen=7,min=-60,max=2000000"},
	    {FLAG(tesmark7_sensor_params), "ToneMapping", "int:maxlen=3,min=0,max=100"},
	    // The parameter's names, each its own display name.
	    {FLAG(sony_cb_params), "NoiseReduction", "enum:off|off,on|on"},
	    // The record's display names choose and name the values.
	    {FLAG(sony_cb_params), "Exposure", "enum:auto|Automatic"},
	    {FLAG(cto_param), "CameraTiltOrientation", "enum:90|Desk,0|Wall,-90|Ceiling"},
	    // An integer range without a list: the display names in range.
	    {FLAG(samsung_cb_params), "WDRLevel", "enum:1|Low,2|Medium,3|High"},
	    // Read-only records say so, except in a fixed text.
	    {FLAG(src_rot_param), "SourceRotation", "readonly:enum:no|No,yes|Yes"},
	    {FLAG(exposure_window_params), "CustomExposureWindowNbrOfConfigs", "readonly:int"},
	    {FLAG(auto_rotation_param), "AutoRotation", "readonly"},
	    {FLAG(tesmark6_sensor_params), "ManualShutterControl", "yes_no"},
	};
	for (const auto &c : cases) {
		legacy_maps_free();
		stream(flags({c.flag}));
		EXPECT_EQ(c.type, type_of(c.property)) << c.property;
	}
}

TEST_F(Legacy, ProductConfigurationNamesComeFirst)
{
	prodconf_node *params = pc_section(conf, "PARAMS");
	prodconf_node *wb = pc_node(params, "WhiteBalance");
	prodconf_node *names = pc_node(wb, "ENUM_MAP");
	pc_node(names, "auto", {"Auto WB"});
	pc_node(names, "hold", {"Keep"});
	pc_node(pc_node(params, "ManualShutterControl"), "VALID_VALUES", {"no", "yes"});
	stream(flags({FLAG(sony_cb_params)}));
	// The product's names first, then the record's; a value neither names
	// is left out.
	EXPECT_EQ(
	    "enum:auto|Auto WB,auto_outdoor|Automatic outdoor,hold|Keep,fixed_outdoor1|Fixed Outdoor 1,"
	    "fixed_outdoor2|Fixed Outdoor 2,fixed_indoor|Fixed Indoor,fixed_fluor1|Fixed Fluorescent 1,"
	    "fixed_fluor2|Fixed Fluorescent 2,sodium|High-pressure sodium,mercury|Mercury,onepush|One push",
	    type_of("WhiteBalance"));
	// Valid values in the product beat the record's fixed text.
	EXPECT_EQ("enum:no|no,yes|yes", type_of("ManualShutterControl"));
}

TEST_F(Legacy, EnumerationTextEndsWithAWholeEntry)
{
	prodconf_node *names = pc_node(pc_node(pc_section(conf, "PARAMS"), "WhiteBalance"), "ENUM_MAP");
	for (const char *const *n = param_def(21)->enum_names; *n; n++)
		pc_node(names, *n, {std::string(100, 'd')});
	stream(flags({FLAG(sony_cb_params)}));
	std::string type = type_of("WhiteBalance");
	EXPECT_LE(type.size(), 1023u);
	EXPECT_GT(type.size(), 900u);
	EXPECT_EQ('d', type.back());
	size_t entries = std::count(type.begin(), type.end(), '|');
	EXPECT_EQ(entries, (size_t)std::count(type.begin(), type.end(), ',') + 1);
	EXPECT_TRUE(contains(log.text(), "QOREX: enumeration of WhiteBalance cut after")) << log.text();
}

TEST_F(Legacy, ARecordOfTwoSetsIsWrittenOnce)
{
	stream(flags({FLAG(tesmark6_sensor_params), FLAG(tesmark6_sensor_no_window_params),
	              FLAG(canon_cb_params), FLAG(defog_params)}));
	int local_contrast = 0, defog_effect = 0;
	for (const entry &e : entries(file())) {
		local_contrast += e.property == "LocalContrast";
		defog_effect += e.property == "DefogEffect";
	}
	EXPECT_EQ(1, local_contrast);
	EXPECT_EQ(1, defog_effect);
	EXPECT_TRUE(
	    contains(log.text(), "qorex_legacy_map_add_params: property LocalContrast was already added\n"));
	EXPECT_TRUE(
	    contains(log.text(), "qorex_legacy_map_add_params: property DefogEffect was already added\n"));
}

TEST_F(Legacy, CaptureModeIsOnTheInterfaceOnly)
{
	dbus_interface *in = stream(flags({FLAG(capture_mode_param)}));
	ASSERT_EQ(2u, in->property_count);
	EXPECT_STREQ("CaptureMode", in->properties[1]->name);
	EXPECT_STREQ("int:maxlen=2,min=0, max=10", in->properties[1]->legacy_type);
	EXPECT_STREQ("operator:3;admin:3;viewer:3;daemon:3", in->properties[1]->legacy_access);
	std::vector<entry> e = entries(file());
	ASSERT_EQ(1u, e.size());
	EXPECT_EQ("CameraName", e[0].property);
}

TEST_F(Legacy, EnumerationsAndStringsTravelAsByteStrings)
{
	dbus_interface *in = stream(flags({FLAG(tesmark7_sensor_params)}));
	GDBusInterfaceInfo *info = dbus_interface_info_new(in);
	struct {
		const char *name, *signature;
	} cases[] = {
	    {"WhiteBalance", "ay"}, {"CameraName", "ay"}, {"ManualShutter", "i"}, {"LowLatencyMode", "ay"}};
	for (const auto &c : cases) {
		GDBusPropertyInfo *p = g_dbus_interface_info_lookup_property(info, c.name);
		ASSERT_NE(nullptr, p) << c.name;
		EXPECT_STREQ(c.signature, p->signature) << c.name;
	}
	g_dbus_interface_info_unref(info);
	GError *error = nullptr;
	EXPECT_TRUE(dbus_interface_set_property(in, "WhiteBalance", g_variant_new_bytestring("hold"), 0,
	                                        nullptr, &error));
	EXPECT_EQ("b'hold'", printed(dbus_interface_get_property(in, "WhiteBalance", 0, nullptr, &error)));
	EXPECT_EQ("b'Camera'", printed(dbus_interface_get_property(in, "CameraName", 0, nullptr, &error)));
	EXPECT_EQ(nullptr, error);
}

TEST_F(Legacy, HooksOfLegacyRecords)
{
	dbus_interface *in = stream(flags({FLAG(scene_profile_fixed_dome_param), FLAG(src_rot_param)}));
	struct {
		const char *profile;
		int32_t wdr, white_balance;
	} scenes[] = {{"indoor", 0, 0}, {"outdoor", 0, 2}, {"forensic", 1, 0}, {"vivid", 1, 0}};
	for (const auto &s : scenes) {
		ASSERT_EQ(0, param_set_int(41, 0, 1 - s.wdr));
		ASSERT_EQ(0, param_set_int(21, 0, 5));
		GError *error = nullptr;
		EXPECT_TRUE(dbus_interface_set_property(
		    in, "SceneProfile", g_variant_new_bytestring(s.profile), 0, nullptr, &error))
		    << s.profile;
		int32_t wdr = -1, wb = -1;
		param_get_int(41, 0, &wdr);
		param_get_int(21, 0, &wb);
		EXPECT_EQ(s.wdr, wdr) << s.profile;
		EXPECT_EQ(s.white_balance, wb) << s.profile;
	}

	// A rotation set by hand ends automatic rotation.
	ASSERT_EQ(0, param_set_int(165, 0, 1));
	GError *error = nullptr;
	EXPECT_TRUE(
	    dbus_interface_set_property(in, "Rotation", g_variant_new_bytestring("90"), 0, nullptr, &error));
	int32_t automatic = -1, rotation = -1;
	param_get_int(165, 0, &automatic);
	param_get_int(176, 0, &rotation);
	EXPECT_EQ(0, automatic);
	EXPECT_EQ(1, rotation);
}

TEST_F(Legacy, MappingFileIsReplacedWhole)
{
	for (const char *name : {"vistrad.xml", "vistrad.xml.tmp", "vistrad.xml~", "other.xml"})
		write_text(dir + "/" + name, "old");
	stream(flags({}));
	EXPECT_TRUE(contains(file(), "name=\"CameraName\""));
	std::vector<std::string> left;
	DIR *d = opendir(dir.c_str());
	while (struct dirent *e = readdir(d))
		if (e->d_name[0] != '.')
			left.push_back(e->d_name);
	closedir(d);
	std::sort(left.begin(), left.end());
	EXPECT_EQ((std::vector<std::string>{"other.xml", "vistrad.xml"}), left);

	// A stream's next build replaces its own groups only; each group lists
	// its parameters by id.
	stream(flags({FLAG(cto_param)}), 0x0100, "/com/tovi/ImageControl/1/0");
	stream(flags({FLAG(cto_param)}));
	stream(flags({}));
	std::vector<std::string> groups;
	for (const entry &e : entries(file()))
		groups.push_back(e.group + " " + e.property);
	EXPECT_EQ((std::vector<std::string>{"root.ImageSource.I0 CameraName",
	                                    "root.ImageSource.I1 CameraTiltOrientation",
	                                    "root.ImageSource.I1 CameraName"}),
	          groups);

	// Without the directory the build goes on and says why.
	std::string cmd = "rm -rf '" + dir + "'";
	ASSERT_EQ(0, system(cmd.c_str()));
	EXPECT_EQ(1u, stream(flags({}))->property_count);
	EXPECT_TRUE(contains(log.text(), "XML map: Could not read dir " + dir + "\n")) << log.text();
}

} // namespace

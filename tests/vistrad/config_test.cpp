// User settings against a small parameter map, in a temporary root.
#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/config.h"
#include "core/daemon.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "persist_fault.h"

namespace
{

const char *const exposure_names[] = {"auto", "hold", "flickerfree50", nullptr};
const char *const bool_names[] = {"false", "true", nullptr};
const char *const window_names[] = {"include", "exclude", "disabled", nullptr};

#define WINDOW_GROUP "ImageSource.I0.Sensor.CustomExposureWindow.C0"

// clang-format off
const struct param_def test_map[] = {
	{1, "VistradPause", "VistradPause", "VistradPause", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
	{3, "Brightness", "ImageSource.I0.Sensor", "Brightness", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
	{12, "Exposure", "ImageSource.I0.Sensor", "Exposure", PARAM_TYPE_ENUM, false, nullptr, exposure_names, 0, 2, 0, nullptr, true},
	{39, "CaptureMode", "ImageSource.I0.Sensor", "CaptureMode", PARAM_TYPE_INT, true, nullptr, nullptr, 1, 6, 1, nullptr, true},
	{48, "CustomExposureWindow.C0.Left", WINDOW_GROUP, "Left", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 2499, nullptr, true},
	{49, "CustomExposureWindow.C0.Right", WINDOW_GROUP, "Right", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 7497, nullptr, true},
	{50, "CustomExposureWindow.C0.Top", WINDOW_GROUP, "Top", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 2499, nullptr, true},
	{51, "CustomExposureWindow.C0.Bottom", WINDOW_GROUP, "Bottom", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 7497, nullptr, true},
	{52, "CustomExposureWindow.C0.WindowType", WINDOW_GROUP, "WindowType", PARAM_TYPE_ENUM, false, nullptr, window_names, 0, 2, 2, nullptr, true},
	{79, "IrisApertureOpen", "ImageSource.I0.Imaging", "IrisApertureOpen", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 29491, nullptr, true},
	{123, "AntialiasingEnabled", "ImageSource", "AntialiasingEnabled", PARAM_TYPE_BOOL, false, nullptr, bool_names, 0, 1, 0, nullptr, true},
	{164, "CameraName", "ImageSource.I0", "Name", PARAM_TYPE_STRING, false, nullptr, nullptr, 0, 0, 0, "Camera", true},
	{0, nullptr, nullptr, nullptr, 0, false, nullptr, nullptr, 0, 0, 0, nullptr, false},
};
// clang-format on

enum : uint32_t {
	pause_id = 1,
	brightness = 3,
	exposure = 12,
	capture_mode = 39,
	left = 48,
	right = 49,
	window_type = 52,
	iris = 79,
	antialiasing = 123,
	camera_name = 164,
};

class Config : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		root = g_dir_make_tmp("vistrad-config-XXXXXX", nullptr);
		ASSERT_NE(nullptr, root);
		setenv("VISTRAD_ROOT", root, 1);
		make_dir("/etc/vistrad");
		persist_fault::fail_write = 0;
		conf = g_new0(prodconf, 1);
		context.conf = conf;
		context.streams = g_list_append(nullptr, GINT_TO_POINTER(-1));
		param_map_use_table(test_map);
		fresh_db();
		// Nothing carried over from an earlier test's file.
		GKeyFile *empty = g_key_file_new();
		config_apply_keyfile(empty, test_map);
		g_key_file_free(empty);
	}
	void TearDown() override
	{
		persist_fault::fail_write = 0;
		param_db_free();
		param_map_free();
		param_map_use_table(nullptr);
		stream_map_free();
		g_list_free(context.streams);
		g_free(conf);
		std::string cmd = std::string("rm -rf '") + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
		g_free(root);
	}

	// A database as the daemon has it before the configuration: every
	// parameter on its default, nothing left to save.
	void fresh_db()
	{
		param_db_free();
		param_map_init();
		param_db_init();
		config_reset_unset_params(nullptr);
		param_clear_changes();
		param_set_save_pending(0);
		log.clear();
	}

	std::string path(const std::string &rel) const
	{
		return std::string(root) + rel;
	}
	void make_dir(const std::string &rel) const
	{
		g_mkdir_with_parents(path(rel).c_str(), 0755);
	}
	void write(const std::string &rel, const std::string &text) const
	{
		std::string full = path(rel);
		g_mkdir_with_parents(std::string(full, 0, full.rfind('/')).c_str(), 0755);
		ASSERT_TRUE(g_file_set_contents(full.c_str(), text.data(), (gssize)text.size(), nullptr));
	}
	bool exists(const std::string &rel) const
	{
		return g_file_test(path(rel).c_str(), G_FILE_TEST_EXISTS);
	}
	std::string read(const std::string &rel) const
	{
		gchar *text = nullptr;
		gsize length = 0;
		if (!g_file_get_contents(path(rel).c_str(), &text, &length, nullptr))
			return "(missing)";
		std::string s(text, length);
		g_free(text);
		return s;
	}
	int32_t get(uint32_t id, int32_t stream_id = -1)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, param_get_int(id, stream_id, &v));
		return v;
	}
	std::string text(uint32_t id, int32_t stream_id = -1)
	{
		char *t = nullptr;
		EXPECT_EQ(0, param_get_string(id, stream_id, &t, nullptr));
		std::string s = t ? t : "(null)";
		g_free(t);
		return s;
	}
	size_t count(const std::string &needle)
	{
		std::string all = log.text();
		size_t n = 0;
		for (size_t p = all.find(needle); p != std::string::npos; p = all.find(needle, p + 1))
			n++;
		return n;
	}

	char *root = nullptr;
	prodconf *conf = nullptr;
	daemon_context context = {};
	LogCapture log;
};

const char golden[] = "[STREAM_ALL]\n"
                      "#ImageSource.I0.Sensor.Brightness, id = 3\n"
                      "Brightness=70\n"
                      "#ImageSource.I0.Sensor.Exposure, id = 12\n"
                      "Exposure=flickerfree50\n"
                      "#ImageSource.I0.Imaging.IrisApertureOpen, id = 79\n"
                      "IrisApertureOpen=1.5\n"
                      "#ImageSource.AntialiasingEnabled, id = 123\n"
                      "AntialiasingEnabled=true\n"
                      "#ImageSource.I0.Name, id = 164\n"
                      "CameraName=Front door\n"
                      "\n"
                      "[StreamID256]\n"
                      "#ImageSource.I0.Sensor.Brightness, id = 3\n"
                      "Brightness=20\n";

TEST_F(Config, BackupWritesEachSavedTypeWithItsComment)
{
	param_set_int(brightness, -1, 70);
	param_set_int(brightness, 256, 20);
	param_set_int(exposure, -1, 2);
	param_set_fix(iris, -1, 24576);
	param_set_int(antialiasing, -1, 1);
	param_set_string(camera_name, -1, "Front door");
	param_set_int(pause_id, -1, 1); // not a saved parameter
	// A stream whose value came from the default is left out.
	param_reset(exposure, 256);

	GKeyFile *backup = config_backup(test_map);
	ASSERT_EQ(0, config_write_keyfile(backup, nullptr));
	g_key_file_free(backup);
	EXPECT_EQ(golden, read("/etc/vistrad/vistrad.conf"));

	// A value that cannot be read (the global one was never set) is left
	// out, not written as garbage.
	param_db_free();
	param_db_init();
	param_set_int(brightness, 256, 20);
	backup = config_backup(test_map);
	gchar *text = g_key_file_to_data(backup, nullptr, nullptr);
	EXPECT_STREQ("[StreamID256]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=20\n", text);
	g_free(text);
	g_key_file_free(backup);
	EXPECT_NE(std::string::npos,
	          log.text().find("config_backup: could not get param Brightness for stream_id -1\n"));
}

TEST_F(Config, SavedValuesOfEachTypeSurviveARestart)
{
	param_set_int(brightness, -1, 70);
	param_set_int(brightness, 256, 20);
	param_set_int(exposure, 0, 1);
	param_set_int(antialiasing, -1, 1);
	param_set_string(camera_name, -1, "Hall = \"A\" \\ # 1");
	param_set_int(window_type, -1, 0);
	ASSERT_EQ(1, param_get_save_pending());
	config_save_if_pending();
	EXPECT_EQ(0, param_get_save_pending());

	fresh_db();
	EXPECT_EQ(1, config_load(&context));
	EXPECT_EQ(70, get(brightness));
	EXPECT_EQ(20, get(brightness, 256));
	EXPECT_EQ(1, get(exposure, 0));
	EXPECT_EQ(0, get(exposure));
	EXPECT_EQ(1, get(antialiasing));
	EXPECT_EQ("Hall = \"A\" \\ # 1", text(camera_name));
	EXPECT_EQ(0, get(window_type));
	EXPECT_EQ("", log.text());
}

struct ApplyCase {
	const char *group;
	const char *line;
	uint32_t id;
	int32_t stream_id;
	int32_t expected; // the default when the line is skipped
	const char *message;
};

TEST_F(Config, ApplyStoresGoodValuesAndNamesWhatItSkips)
{
	const ApplyCase cases[] = {
	    {"STREAM_ALL", "Brightness=70", brightness, -1, 70, ""},
	    {"StreamID256", "Brightness=20", brightness, 256, 20, ""},
	    {"StreamID0", "Exposure=hold", exposure, 0, 1, ""},
	    {"StreamID-1", "Brightness=71", brightness, -1, 71, ""},
	    {"STREAM_ALL", "AntialiasingEnabled=true", antialiasing, -1, 1, ""},
	    {"STREAM_ALL", "Brightness=101", brightness, -1, 50,
	     "config: skipping invalid value \"101\" of Brightness in group STREAM_ALL\n"},
	    {"STREAM_ALL", "Brightness=7x", brightness, -1, 50,
	     "config: skipping invalid value \"7x\" of Brightness in group STREAM_ALL\n"},
	    {"STREAM_ALL", "Exposure=sometimes", exposure, -1, 0,
	     "config: skipping invalid value \"sometimes\" of Exposure in group STREAM_ALL\n"},
	    {"STREAM_ALL", "AntialiasingEnabled=maybe", antialiasing, -1, 0,
	     "config: skipping invalid value \"maybe\" of AntialiasingEnabled in group STREAM_ALL\n"},
	    {"STREAM_ALL", "IrisApertureOpen=1.5", iris, -1, 29491, "Unknown parameter type 3\n"},
	    {"STREAM_ALL", "Contrast=3", brightness, -1, 50,
	     "config: no param_map exists for name Contrast\n"},
	    {"StreamIDx", "Brightness=10", brightness, 0, 50,
	     "config: group StreamIDx names no stream, kept as it is\n"},
	    {"StreamID", "Brightness=10", brightness, 0, 50,
	     "config: group StreamID names no stream, kept as it is\n"},
	    {"StreamID99999999999", "Brightness=10", brightness, -1, 50,
	     "config: group StreamID99999999999 names no stream, kept as it is\n"},
	    {"StreamID-2", "Brightness=10", brightness, -1, 50,
	     "config: group StreamID-2 names no stream, kept as it is\n"},
	    {"Foo", "Brightness=10", brightness, -1, 50,
	     "config: group Foo names no stream, kept as it is\n"},
	};
	for (const ApplyCase &c : cases) {
		SCOPED_TRACE(std::string(c.group) + " " + c.line);
		fresh_db();
		std::string file = std::string("[") + c.group + "]\n" + c.line + "\n";
		GKeyFile *key_file = g_key_file_new();
		ASSERT_TRUE(
		    g_key_file_load_from_data(key_file, file.c_str(), file.size(), G_KEY_FILE_NONE, nullptr));
		config_apply_keyfile(key_file, test_map);
		g_key_file_free(key_file);
		EXPECT_EQ(c.expected, get(c.id, c.stream_id));
		EXPECT_EQ(c.message, log.text());
	}
}

// What the file holds that names nothing here goes back into every write,
// with its comment; a parameter the database now holds wins.
TEST_F(Config, UnknownGroupsAndKeysAreCarriedIntoLaterWrites)
{
	write("/etc/vistrad/vistrad.conf", "[STREAM_ALL]\n"
	                                   "#kept by a newer build\n"
	                                   "Sharpness=12\n"
	                                   "IrisApertureOpen=1.25\n"
	                                   "Brightness=60\n"
	                                   "\n"
	                                   "[Overlay]\n"
	                                   "Text=hello\n");
	ASSERT_EQ(1, config_load(&context));
	EXPECT_EQ(60, get(brightness));
	param_set_int(brightness, -1, 61);
	config_save_if_pending();
	EXPECT_EQ("[STREAM_ALL]\n"
	          "#ImageSource.I0.Sensor.Brightness, id = 3\n"
	          "Brightness=61\n"
	          "#kept by a newer build\n"
	          "Sharpness=12\n"
	          "IrisApertureOpen=1.25\n"
	          "\n"
	          "[Overlay]\n"
	          "Text=hello\n",
	          read("/etc/vistrad/vistrad.conf"));

	param_set_fix(iris, -1, 16384);
	config_save_if_pending();
	EXPECT_NE(std::string::npos, read("/etc/vistrad/vistrad.conf").find("IrisApertureOpen=1\n"));
	EXPECT_EQ(std::string::npos, read("/etc/vistrad/vistrad.conf").find("IrisApertureOpen=1.25"));
}

struct DamagedCase {
	const char *name;
	std::string file;
	int loaded;
	int32_t brightness_all, brightness_256;
	bool set_aside;
	const char *logged;
	const char *written; // the default path after the next save
};

TEST_F(Config, DamagedFilesAreSetAsideAndTheirSoundLinesApplied)
{
	const DamagedCase cases[] = {
	    {"cut mid-line", "[STREAM_ALL]\nBrightness=70\n[StreamID256]\nBrightness=20\nExpo", 1, 70, 20,
	     true, "which is not a key-value pair, group, or comment",
	     "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\n\n"
	     "[StreamID256]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=20\n"},
	    {"cut mid-value", "[STREAM_ALL]\nBrightness=70\nCameraName=Fro", 1, 70, 70, true,
	     "the last line has no line end",
	     "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\n"},
	    {"cut header", "[STREAM_ALL]\nBrightness=70\n[StreamID2", 1, 70, 70, true, "is damaged",
	     "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\n"},
	    {"broken header", "[STREAM_ALL]\nBrightness=70\n[StreamID256\nBrightness=20\n", 1, 70, 70, true,
	     "is damaged", "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\n"},
	    {"garbage line",
	     std::string("[STREAM_ALL]\nBrightness=70\n") + std::string("\x01\xff\0zz\n", 6) +
	         "#note\nSharpness=3\n",
	     1, 70, 70, true, "is damaged",
	     "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\n#note\nSharpness=3\n"},
	    {"key before any group", "Brightness=70\n[StreamID256]\nBrightness=20\n", 1, 50, 20, true,
	     "is damaged", "[StreamID256]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=20\n"},
	    {"all garbage",
	     std::string("\x7f"
	                 "ELF\x02\x01\x01\0\0\0\n\x03\0>\0",
	                 15),
	     0, 50, 50, true, "is damaged", "(missing)"},
	    {"empty", "", 1, 50, 50, false, "", "(missing)"},
	    {"unknown group and key", "[StreamIDx]\nBrightness=10\n[STREAM_ALL]\nFoo=1\nBrightness=70\n", 1,
	     70, 70, false, "config: no param_map exists for name Foo\n",
	     "[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=70\nFoo=1\n\n"
	     "[StreamIDx]\nBrightness=10\n"},
	};
	for (const DamagedCase &c : cases) {
		SCOPED_TRACE(c.name);
		fresh_db();
		unlink(path("/etc/vistrad/vistrad.conf.bad").c_str());
		unlink(path("/etc/vistrad/vistrad.conf").c_str());
		write("/etc/vistrad/vistrad.conf", c.file);
		EXPECT_EQ(c.loaded, config_load(&context));
		EXPECT_EQ(c.brightness_all, get(brightness));
		EXPECT_EQ(c.brightness_256, get(brightness, 256));
		EXPECT_NE(std::string::npos, log.text().find(c.logged)) << log.text();
		if (c.set_aside) {
			EXPECT_EQ(c.file, read("/etc/vistrad/vistrad.conf.bad"));
			EXPECT_FALSE(exists("/etc/vistrad/vistrad.conf"));
		} else {
			EXPECT_FALSE(exists("/etc/vistrad/vistrad.conf.bad"));
		}
		if (c.brightness_all == 50 && c.brightness_256 == 50)
			continue;
		param_set_save_pending(1);
		config_save_if_pending();
		EXPECT_EQ(c.written, read("/etc/vistrad/vistrad.conf"));
	}
}

TEST_F(Config, AFailedWriteKeepsTheOldFileAndIsRetried)
{
	write("/etc/vistrad/vistrad.conf", "[STREAM_ALL]\nBrightness=60\n");
	ASSERT_EQ(1, config_load(&context));
	param_set_int(brightness, -1, 61);
	for (int *fault : {&persist_fault::fail_write, &persist_fault::fail_fsync}) {
		*fault = 1;
		config_save_if_pending();
		config_save_if_pending();
		*fault = 0;
		EXPECT_EQ("[STREAM_ALL]\nBrightness=60\n", read("/etc/vistrad/vistrad.conf"));
		EXPECT_EQ(1, param_get_save_pending());
	}
	EXPECT_EQ(1u, count("config: could not write the settings ("));
	config_save_if_pending();
	EXPECT_EQ(0, param_get_save_pending());
	EXPECT_NE(std::string::npos, read("/etc/vistrad/vistrad.conf").find("Brightness=61\n"));
	EXPECT_EQ(1u, count("config: settings written again\n"));
}

// ---- the older configuration ----

struct LegacyGroupCase {
	const char *group;
	bool per_stream;
	int32_t stream_id; // INT32_MIN: the group gives no stream
	const char *message;
};

TEST_F(Config, LegacyGroupsMapToStreams)
{
	const LegacyGroupCase cases[] = {
	    {"ImageSource.I0.Sensor", true, 0, ""},
	    {"ImageSource.I1.Sensor", true, 256, ""},
	    {"ImageSource.I0.Sensor.StreamID2", true, 2, ""},
	    {"ImageSource.I1.Sensor.StreamID3", true, 259, ""},
	    {"ImageSource.I1.Sensor.StreamID0", true, 256, ""},
	    {"ImageSource.I0.Sensor", false, -1, ""},
	    {"ImageSource.I0.Sensor.StreamID2", false, 2, ""},
	    {"ImageSource.I1.Sensor", false, INT32_MIN, ""},
	    {"ImageSource.I12.Sensor", true, INT32_MIN, "config: channel: 12 >= 10\n"},
	    {"ImageSource.IX.Sensor", true, INT32_MIN, "Illegal channel in: ImageSource.IX.Sensor.\n"},
	    {"ImageSource.I0.Sensor.StreamIDx", true, INT32_MIN,
	     "Illegal streamid in: ImageSource.I0.Sensor.StreamIDx.\n"},
	    {"ImageSource.I9.Sensor.StreamID2147483647", true, INT32_MIN,
	     "Illegal streamid in: ImageSource.I9.Sensor.StreamID2147483647.\n"},
	};
	for (const LegacyGroupCase &c : cases) {
		SCOPED_TRACE(c.group);
		fresh_db();
		conf->use_stream = c.per_stream;
		write("/old.conf", std::string("[") + c.group + "]\nBrightness=42\n");
		std::string file = path("/old.conf");
		const config_file files[] = {{file.c_str(), 1}, {nullptr, 0}};
		int result = 99;
		GList *streams = config_read_legacy_params(&context, files, test_map, &result);
		if (c.stream_id == INT32_MIN) {
			EXPECT_EQ(-1, result);
			ASSERT_EQ(1u, g_list_length(streams));
			EXPECT_EQ(-1, GPOINTER_TO_INT(streams->data));
		} else {
			EXPECT_EQ(0, result);
			ASSERT_NE(nullptr, g_list_find(streams, GINT_TO_POINTER(c.stream_id)));
			EXPECT_EQ(42, get(brightness, c.stream_id));
		}
		std::string logged = log.text();
		// Each row of the map looks at the group: the message repeats.
		EXPECT_EQ(c.message, logged.substr(0, strlen(c.message)));
		g_list_free(streams);
	}
}

struct LegacyValueCase {
	const char *group;
	const char *line;
	uint32_t id;
	int32_t expected; // the default when refused
	const char *message;
};

TEST_F(Config, LegacyValuesAreReadByType)
{
	const char *const error_in = "Error in ";
	const LegacyValueCase cases[] = {
	    {"ImageSource.I0.Sensor", "Brightness=42", brightness, 42, ""},
	    {"ImageSource.I0.Sensor", "Brightness=\"42\"", brightness, 42, ""},
	    {"ImageSource.I0.Sensor", "Brightness=\"0\"", brightness, 0, ""},
	    {"ImageSource.I0.Sensor", "Brightness=\"abc\"", brightness, 50,
	     "Type check error ImageSource.I0.Sensor;Brightness: "},
	    {"ImageSource.I0.Sensor", "Brightness=abc", brightness, 50,
	     "Type check error ImageSource.I0.Sensor;Brightness: "},
	    {"ImageSource.I0.Sensor", "Brightness=\"101\"", brightness, 50,
	     "Error in Brightness in section 'ImageSource.I0.Sensor'\n"},
	    {"ImageSource.I0.Sensor", "Exposure=hold", exposure, 1, ""},
	    {"ImageSource.I0.Sensor", "Exposure='hold'", exposure, 1, ""},
	    {"ImageSource.I0.Sensor", "Exposure=\"flickerfree50\"", exposure, 2, ""},
	    {"ImageSource.I0.Sensor", "Exposure='hold", exposure, 0,
	     "Missing quote in value for key Exposure, group ImageSource.I0.Sensor.\n"},
	    {"ImageSource.I0.Sensor", "Exposure=\"hold'", exposure, 0,
	     "Missing quote in value for key Exposure, group ImageSource.I0.Sensor.\n"},
	    {"ImageSource.I0.Sensor", "Exposure=sometimes", exposure, 0,
	     "Error in Exposure in section 'ImageSource.I0.Sensor'\n"},
	    {"ImageSource", "AntialiasingEnabled=yes", antialiasing, 1, ""},
	    {"ImageSource", "AntialiasingEnabled=\"on\"", antialiasing, 1, ""},
	    {"ImageSource", "AntialiasingEnabled=enabled", antialiasing, 1, ""},
	    {"ImageSource", "AntialiasingEnabled=no", antialiasing, 0, ""},
	    {"ImageSource.I0", "Name=\"Front door\"", camera_name, 0, ""},
	};
	for (const LegacyValueCase &c : cases) {
		SCOPED_TRACE(c.line);
		fresh_db();
		if (c.id == antialiasing)
			param_set_int(antialiasing, -1, 1 - c.expected); // a false reading must be stored
		log.clear();
		write("/old.conf", std::string("[") + c.group + "]\n" + c.line + "\n");
		std::string file = path("/old.conf");
		const config_file files[] = {{file.c_str(), 0}, {nullptr, 0}};
		int result = 99;
		g_list_free(config_read_legacy_params(&context, files, test_map, &result));
		if (c.id == camera_name)
			EXPECT_EQ("Front door", text(camera_name));
		else
			EXPECT_EQ(c.expected, get(c.id));
		std::string logged = log.text();
		EXPECT_EQ(c.message, logged.substr(0, strlen(c.message)));
		if (*c.message)
			EXPECT_NE(std::string::npos, logged.find(error_in));
		else
			EXPECT_EQ("", logged);
	}
}

struct WindowCase {
	const char *name;
	const char *file;
	int result;
	int32_t left, right, window;
	const char *message;
};

TEST_F(Config, CustomExposureWindowFallsBackToItsDefaultType)
{
	const WindowCase cases[] = {
	    {"whole", "Left=10\nRight=20\nTop=30\nBottom=40\nWindowType=include\n", 0, 10, 20, 0, ""},
	    {"bad value", "Left=10\nRight=99999\nTop=30\nBottom=40\nWindowType=include\n", 0, 10, 7497, 2,
	     "Error in Right in section '" WINDOW_GROUP "'\n"
	     "Failure in " WINDOW_GROUP " section, disabling custom exposure window.\n"},
	    {"missing side", "Left=10\nRight=20\nTop=30\nWindowType=include\n", 0, 10, 20, 2,
	     "Failure in " WINDOW_GROUP " section, disabling custom exposure window.\n"},
	    {"no type", "Left=10\nRight=20\nTop=30\nBottom=40\n", -1, 10, 20, 2,
	     "Failure to set WindowType parameter for Custom Exposure Window.\n"},
	};
	for (const WindowCase &c : cases) {
		SCOPED_TRACE(c.name);
		fresh_db();
		write("/window.conf", std::string("[" WINDOW_GROUP "]\n") + c.file);
		std::string file = path("/window.conf");
		const config_file files[] = {
		    {"/nonexistent/optional.conf", 0}, {file.c_str(), 0}, {nullptr, 0}};
		EXPECT_EQ(c.result, config_setup_custom_exposure_window(&context, files, -1));
		EXPECT_EQ(c.left, get(left));
		EXPECT_EQ(c.right, get(right));
		EXPECT_EQ(c.window, get(window_type));
		EXPECT_EQ(c.message, log.text());
	}
	// The window of channel 1 is read for a stream of channel 1.
	fresh_db();
	conf->use_stream = 1;
	write("/window.conf",
	      "[ImageSource.I1.Sensor.CustomExposureWindow.C0]\nLeft=1\nRight=2\nTop=3\nBottom=4\n"
	      "WindowType=exclude\n");
	std::string file = path("/window.conf");
	const config_file files[] = {{file.c_str(), 1}, {nullptr, 0}};
	EXPECT_EQ(0, config_setup_custom_exposure_window(&context, files, 257));
	EXPECT_EQ(1, get(left, 257));
	EXPECT_EQ(1, get(window_type, 257));
	EXPECT_EQ(2499, get(left));
	EXPECT_EQ(-255, config_setup_custom_exposure_window(nullptr, files, 0));
}

TEST_F(Config, LegacyFileListFailures)
{
	std::string present = path("/present.conf");
	write("/present.conf", "[ImageSource.I0.Sensor]\nBrightness=42\n");
	make_dir("/a-directory.conf");
	std::string directory = path("/a-directory.conf");
	int result = 0;
	const config_file required[] = {{"/nonexistent.conf", 1}, {present.c_str(), 0}, {nullptr, 0}};
	EXPECT_EQ(nullptr, config_read_legacy_params(&context, required, test_map, &result));
	EXPECT_EQ(-1, result);
	EXPECT_NE(std::string::npos, log.text().find("Required config-file failure '/nonexistent.conf': "));
	EXPECT_NE(std::string::npos, log.text().find("Configuration file(s) failed.\n"));

	const config_file unreadable[] = {{present.c_str(), 0}, {directory.c_str(), 0}, {nullptr, 0}};
	EXPECT_EQ(nullptr, config_read_legacy_params(&context, unreadable, test_map, &result));
	EXPECT_EQ(-2, result);
	EXPECT_NE(std::string::npos, log.text().find("Failure for file '" + directory + "': "));

	EXPECT_EQ(nullptr, config_read_legacy_params(&context, nullptr, test_map, &result));
	EXPECT_EQ(-255, result);
	EXPECT_EQ(50, get(brightness));
}

const char *const legacy_tree[] = {
    "/etc/sysconfig/image_source.conf",
    "/etc/sysconfig/lens.conf",
    "/etc/dynamic/imagesource_i0_sensor_customexposurewindow.conf",
    "/etc/dynamic/imagesource_i5_sensor_temperaturezone.conf",
    "/test.conf",
};

struct ImportCase {
	const char *name;
	const char *prefix;
	const char *image_source;
	int *fault;
	int loaded;
	bool removed;
	int32_t brightness;
	const char *message;
};

TEST_F(Config, LegacyImportRemovesTheFilesOnlyOnceTheSettingsAreSafe)
{
	const ImportCase cases[] = {
	    {"at the root", "", "[ImageSource.I0.Sensor]\nBrightness=42\nExposure=hold\n", nullptr, 1, true,
	     42, ""},
	    {"below legacy_config", "/etc/vistrad/legacy_config",
	     "[ImageSource.I0.Sensor]\nBrightness=42\nExposure=hold\n", nullptr, 1, true, 42, ""},
	    {"nothing that counts", "",
	     "[ImageSource.I0]\nName=Hall\n[ImageSource.I0.Sensor]\nCaptureMode=2\n", nullptr, 0, true, 50,
	     "Config unavailable, resetting\n"},
	    {"parse failure", "", "[ImageSource.I0.Sensor\nBrightness=42\n", nullptr, 0, false, 50,
	     "Could not load settings\n"},
	    {"write failure", "", "[ImageSource.I0.Sensor]\nBrightness=42\n", &persist_fault::fail_write, 1,
	     false, 42, "config: could not write the settings ("},
	};
	for (const ImportCase &c : cases) {
		SCOPED_TRACE(c.name);
		fresh_db();
		std::string prefix = c.prefix;
		write(prefix + legacy_tree[0], c.image_source);
		write(prefix + legacy_tree[1], "[ImageSource.I0.Sensor]\nCaptureMode=3\n");
		write(prefix + legacy_tree[2], "[" WINDOW_GROUP "]\nLeft=10\nRight=20\nTop=30\nBottom=40\n"
		                               "WindowType=include\n");
		write(prefix + legacy_tree[3], "zone\n");
		write(prefix + legacy_tree[4], "");
		if (c.fault)
			*c.fault = 1;
		EXPECT_EQ(c.loaded, config_load(&context));
		if (c.fault) {
			*c.fault = 0;
			config_save_if_pending(); // ends the failing streak
		}
		EXPECT_EQ(c.brightness, get(brightness));
		EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
		for (const char *file : legacy_tree)
			EXPECT_EQ(!c.removed, exists(prefix + file)) << file;
		if (*c.prefix) {
			EXPECT_EQ(!c.removed, exists(c.prefix));
		}
		if (c.removed && c.loaded) {
			EXPECT_EQ(1, get(exposure));
			EXPECT_EQ(10, get(left));
			EXPECT_NE(std::string::npos,
			          read("/etc/vistrad/vistrad.conf").find("Brightness=42\n"));
		}
		std::string cmd = std::string("rm -rf '") + root + "/etc/sysconfig' '" + root +
		                  "/etc/dynamic' '" + root + "/etc/vistrad/legacy_config' '" + root +
		                  "/test.conf' '" + root + "/etc/vistrad/vistrad.conf'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}
}

} // namespace

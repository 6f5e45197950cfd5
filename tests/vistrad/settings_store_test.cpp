// The typed settings store, loaded from key files in a temporary directory.
#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/prodconf_startup.h"
#include "core/settings_store.h"

namespace
{

std::vector<std::string> startup_log;

void record_startup(int, const char *message)
{
	startup_log.push_back(message);
}

class SettingsStore : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		dir = g_dir_make_tmp("vistrad-settings-XXXXXX", nullptr);
		ASSERT_NE(nullptr, dir);
		startup_log.clear();
		old_syslog = prodconf_startup_set_syslog(record_startup);
		settings_store_create();
	}
	void TearDown() override
	{
		settings_store_free();
		prodconf_startup_set_syslog(old_syslog);
		std::string cmd = std::string("rm -rf '") + dir + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		g_free(dir);
	}
	std::string file(const std::string &text)
	{
		std::string path = std::string(dir) + "/settings.conf";
		EXPECT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr));
		return path;
	}
	std::string logged() const
	{
		std::string all;
		for (const std::string &m : startup_log)
			all += m;
		return all;
	}
	int32_t number(const char *key, const char *group)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, settings_store_get_int(key, group, &v)) << group << "." << key;
		return v;
	}

	char *dir = nullptr;
	prodconf_startup_syslog_fn old_syslog = nullptr;
};

const settings_descriptor counted[] = {
    {"A", "n", SETTINGS_INT, 0, "B"},     {"A", "name", SETTINGS_TEXT, 0, nullptr},
    {"B", "x", SETTINGS_INT, 0, nullptr}, {"B", "flag", SETTINGS_BOOL, 1, nullptr},
    {"C", "y", SETTINGS_INT, 0, nullptr},
};

TEST_F(SettingsStore, CountedGroupsAreReadPerInstance)
{
	std::string path = file("[A]\nn=2\nname=front\n"
	                        "[B.0]\nx=1\nflag=true\n"
	                        "[B.1]\nx=2\n"
	                        "[B.2]\nx=3\n"
	                        "[C]\ny=7\n");
	ASSERT_EQ(0, settings_store_load(path.c_str(), counted, 5, 0));
	EXPECT_EQ(2, number("n", "A"));
	EXPECT_EQ(1, number("x", "B.0"));
	EXPECT_EQ(2, number("x", "B.1"));
	EXPECT_EQ(7, number("y", "C"));
	int flag = -1;
	EXPECT_EQ(0, settings_store_get_bool("flag", "B.0", &flag));
	EXPECT_EQ(1, flag);
	EXPECT_EQ(-1, settings_store_get_bool("flag", "B.1", &flag));
	const char *name = nullptr;
	EXPECT_EQ(0, settings_store_get_string("name", "A", &name));
	EXPECT_STREQ("front", name);
	int32_t v;
	EXPECT_EQ(-1, settings_store_get_int("x", "B.2", &v)); // beyond the count
	EXPECT_EQ(-1, settings_store_get_int("x", "B", &v));
	EXPECT_EQ(-1, settings_store_get_int("name", "A", &v)); // a text
	EXPECT_EQ(-1, settings_store_get_string("n", "A", &name));
	EXPECT_EQ(-1, settings_store_get_int("missing", "A", &v));
	EXPECT_EQ("", logged());
}

TEST_F(SettingsStore, SecondAddNeedsTheOverride)
{
	const settings_descriptor one[] = {{"A", "n", SETTINGS_INT, 1, nullptr}};
	std::string path = file("[A]\nn=3\n");
	ASSERT_EQ(0, settings_store_load(path.c_str(), one, 1, 0));
	path = file("[A]\nn=4\n");
	EXPECT_EQ(-1, settings_store_load(path.c_str(), one, 1, 0));
	EXPECT_EQ("Failed to add cfg group A with key n\n", logged());
	EXPECT_EQ(3, number("n", "A"));
	EXPECT_EQ(0, settings_store_load(path.c_str(), one, 1, 1));
	EXPECT_EQ(4, number("n", "A"));

	settings_value text = {SETTINGS_TEXT, 0, const_cast<char *>("x")};
	EXPECT_EQ(-1, settings_store_add("n", "A", &text));
	EXPECT_EQ(0, settings_store_add("t", "A", &text));
	EXPECT_EQ(0, settings_store_replace("n", "A", &text));
	const char *stored = nullptr;
	EXPECT_EQ(0, settings_store_get_string("n", "A", &stored));
	EXPECT_STREQ("x", stored);
}

struct LoadCase {
	const char *name;
	const char *file; // null: no file at all
	settings_descriptor descriptor;
	int override_flag;
	int result;
	std::string logged;
};

TEST_F(SettingsStore, LoadFailures)
{
	const std::string parse = "Failed to parse cfg param with group: A, key: n - reason: ";
	const std::string parse_end = "Failed to parse cfg group A with key n\n";
	const settings_descriptor required = {"A", "n", SETTINGS_INT, 0, nullptr};
	const settings_descriptor optional = {"A", "n", SETTINGS_INT, 1, nullptr};
	const settings_descriptor flag = {"A", "n", SETTINGS_BOOL, 1, nullptr};
	const settings_descriptor unknown = {"A", "n", 7, 1, nullptr};
	const LoadCase cases[] = {
	    {"required key missing", "[A]\nm=1\n", required, 0, -1,
	     parse + "Key file does not have key “n” in group “A”\n" + parse_end},
	    {"required group missing", "[B]\nn=1\n", required, 0, -1,
	     parse + "Key file does not have group “A”\n" + parse_end},
	    {"optional key missing", "[A]\nm=1\n", optional, 0, 0, ""},
	    {"missing with override", "[A]\nm=1\n", required, 1, 0, ""},
	    {"bad integer", "[A]\nn=abc\n", optional, 1, -1,
	     parse +
	         "Key file contains key “n” in group “A” which has a value that cannot be interpreted.\n" +
	         parse_end},
	    {"bad boolean", "[A]\nn=maybe\n", flag, 0, -1,
	     parse + "Key file contains key “n” which has a value that cannot be interpreted.\n" + parse_end},
	    {"unknown type", "[A]\nn=1\n", unknown, 0, -1, parse + "unknown setting type 7\n" + parse_end},
	    {"no file", nullptr, optional, 0, -1, "Failed to load cfg file "},
	    {"no file with override", nullptr, required, 1, 0, ""},
	    {"not a key file", "garbage\n", optional, 0, -1, "Failed to load cfg file "},
	};
	for (const LoadCase &c : cases) {
		SCOPED_TRACE(c.name);
		settings_store_create();
		startup_log.clear();
		std::string path = c.file ? file(c.file) : std::string(dir) + "/absent.conf";
		EXPECT_EQ(c.result, settings_store_load(path.c_str(), &c.descriptor, 1, c.override_flag));
		EXPECT_EQ(c.logged,
		          logged().substr(0, c.logged.empty() ? std::string::npos : c.logged.size()));
	}
}

struct CountCase {
	const char *name;
	const char *file;
	uint32_t optional;
	int override_flag;
	int result;
	std::vector<int> read; // instances of B stored
	const char *logged;
};

// The count comes from the file: only the instances the file holds are
// walked, and a gap fails the load only where a required setting is missing.
TEST_F(SettingsStore, CountsFromTheFileAreBounded)
{
	const CountCase cases[] = {
	    {"huge, optional",
	     "[A]\nn=2147483647\n[B.0]\nx=1\n[B.7]\nx=8\n[B.x]\nx=9\n[B.07]\nx=9\n",
	     1,
	     0,
	     0,
	     {0, 7},
	     ""},
	    {"huge, override", "[A]\nn=2147483647\n[B.0]\nx=1\n", 0, 1, 0, {0}, ""},
	    {"huge, required",
	     "[A]\nn=2147483647\n[B.0]\nx=1\n",
	     0,
	     0,
	     -1,
	     {0},
	     "Failed to parse cfg param with group: B.1, key: x - reason: Key file does not have group "
	     "“B.1”\n"},
	    {"gap, required",
	     "[A]\nn=3\n[B.0]\nx=1\n[B.2]\nx=3\n",
	     0,
	     0,
	     -1,
	     {0},
	     "Failed to parse cfg param with group: B.1, key: x - reason: "},
	    {"negative", "[A]\nn=-4\n[B]\nx=5\n", 0, 0, 0, {}, ""},
	};
	for (const CountCase &c : cases) {
		SCOPED_TRACE(c.name);
		settings_store_create();
		startup_log.clear();
		const settings_descriptor d[] = {
		    {"A", "n", SETTINGS_INT, 0, "B"},
		    {"B", "x", SETTINGS_INT, c.optional, nullptr},
		};
		std::string path = file(c.file);
		EXPECT_EQ(c.result, settings_store_load(path.c_str(), d, 2, c.override_flag));
		for (int i = 0; i < 8; i++) {
			std::string group = "B." + std::to_string(i);
			int32_t v = -1;
			bool wanted = std::find(c.read.begin(), c.read.end(), i) != c.read.end();
			EXPECT_EQ(wanted ? 0 : -1, settings_store_get_int("x", group.c_str(), &v)) << group;
			if (wanted) {
				EXPECT_EQ(i + 1, v);
			}
		}
		EXPECT_EQ(c.logged, logged().substr(0, strlen(c.logged)));
	}
	// A count of zero or less reads the group itself.
	EXPECT_EQ(5, number("x", "B"));
}

// Instance names are cut to 99 characters: such an instance is looked for
// under the cut name.
TEST_F(SettingsStore, LongInstanceNamesAreTruncated)
{
	std::string group(97, 'g');
	const settings_descriptor d[] = {
	    {"A", "n", SETTINGS_INT, 0, group.c_str()},
	    {group.c_str(), "x", SETTINGS_INT, 1, nullptr},
	};
	std::string cut = group + ".1";
	std::string path = file("[A]\nn=11\n[" + group + ".10]\nx=3\n");
	ASSERT_EQ(0, settings_store_load(path.c_str(), d, 2, 0));
	EXPECT_EQ("Cfg group " + cut + " truncated\n", logged());
	int32_t v;
	EXPECT_EQ(-1, settings_store_get_int("x", cut.c_str(), &v));
}

TEST_F(SettingsStore, DumpPrintsEachType)
{
	struct {
		settings_value value;
		const char *printed;
	} cases[] = {
	    {{SETTINGS_INT, -5, nullptr}, "Cfg group = G\n\tKey = \"k\" Value = -5 \n"},
	    {{SETTINGS_BOOL, 1, nullptr}, "Cfg group = G\n\tKey = \"k\" Value = 1 \n"},
	    {{SETTINGS_TEXT, 0, const_cast<char *>("v w")},
	     "Cfg group = G\n\tKey = \"k\" Value = \"v w\" \n"},
	    {{9, 0, nullptr}, "Cfg group = G\n\tError unknown type for Key = k\n"},
	};
	for (const auto &c : cases) {
		settings_store_replace("k", "G", &c.value);
		testing::internal::CaptureStdout();
		settings_store_dump();
		EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
	}
}

} // namespace

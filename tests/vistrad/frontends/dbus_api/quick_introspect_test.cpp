// The quick-introspect file and its name map, in a temporary directory.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../../log_capture.h"
#include "bus_client.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "frontends/dbus_api/dbus_interface.h"
#include "frontends/dbus_api/quick_introspect/name_map.h"
#include "frontends/dbus_api/quick_introspect/quick_introspect.h"

namespace
{

const dbus_interface_arg echo_args[] = {
    {"text", "s", DBUS_ARG_IN, nullptr, nullptr, 0},
    {"reply", "s", DBUS_ARG_OUT, nullptr, nullptr, 0},
    {"stream", "i", DBUS_ARG_OUT, nullptr, nullptr, 0},
};
const dbus_interface_arg out_only[] = {{"value", "a{sv}", DBUS_ARG_OUT, nullptr, nullptr, 0}};
const dbus_interface_arg in_only[] = {{"mode", "u", DBUS_ARG_IN, nullptr, nullptr, 0}};
const dbus_interface_method methods[] = {
    {"Echo", nullptr, nullptr, echo_args, 3, nullptr, nullptr, 0},
    {"Get", nullptr, nullptr, out_only, 1, nullptr, nullptr, 0},
    {"Set", nullptr, nullptr, in_only, 1, nullptr, nullptr, 0},
    {"Poke", nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0},
};
const dbus_interface_property properties[] = {
    {"Brightness", nullptr, nullptr, 0, 0, 3, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, 0, 1, 12, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Iris", nullptr, nullptr, 0, 2, 79, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Flag", nullptr, nullptr, 0, 7, 0, 4, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Window", nullptr, nullptr, 0, 0, 98, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Odd", nullptr, nullptr, 0, 1, 0, 9, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
const dbus_interface_arg signal_args[] = {
    {"a", "i", DBUS_ARG_OUT, nullptr, nullptr, 0},
    {"b", "as", DBUS_ARG_OUT, nullptr, nullptr, 0},
};
const dbus_interface_signal signals[] = {
    {"Changed", signal_args, 2, nullptr, nullptr, 0, nullptr},
    {"Ping", nullptr, 0, nullptr, nullptr, 0, nullptr},
};
const dbus_interface_property undefined[] = {
    {"Ghost", nullptr, nullptr, 0, 0, 2, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char golden[] = "SERVICE :1.7 2\n"
                      "\tO /com/tovi/X/0/0 2\n"
                      "\t\tI com.tovi.X 4 6 2\n"
                      "\t\t\tM Echo s si\n"
                      "\t\t\tM Get - a{sv}\n"
                      "\t\t\tM Set u -\n"
                      "\t\t\tM Poke - -\n"
                      "\t\t\tP Brightness i RW\n"
                      "\t\t\tP Exposure s R-\n"
                      "\t\t\tP Iris d -W\n"
                      "\t\t\tP Flag b --\n"
                      "\t\t\tP Window s RW\n"
                      "\t\t\tP Odd ? R-\n"
                      "\t\t\tS Changed ias\n"
                      "\t\t\tS Ping -\n"
                      "\t\tI com.tovi.X.Legacy 0 2 0\n"
                      "\t\t\tP Exposure ay R-\n"
                      "\t\t\tP Window ay RW\n"
                      "\tO /com/tovi/X 0\n";

size_t count(const std::string &text, const std::string &part)
{
	size_t n = 0;
	for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
		n++;
	return n;
}

class QuickIntrospect : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		param_map_init();
		param_db_init();
	}

	void SetUp() override
	{
		char tmpl[] = "/tmp/vistrad-qi-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		dir = tmpl;
		path = dir + "/quick-introspect.data";
		quick_introspect_set_path(path.c_str());
		quick_introspect_clear();

		dbus_interface_builder b = {};
		dbus_interface_builder_add_methods(&b, methods, G_N_ELEMENTS(methods));
		dbus_interface_builder_add_properties(&b, properties, G_N_ELEMENTS(properties));
		dbus_interface_builder_add_signals(&b, signals, G_N_ELEMENTS(signals));
		interfaces[0] = dbus_interface_new("com.tovi.X", &b);
		dbus_interface_builder_add_properties(&b, &properties[1], 1);
		dbus_interface_builder_add_properties(&b, &properties[4], 1);
		interfaces[1] = dbus_interface_new("com.tovi.X.Legacy", &b);
		interfaces[1]->enum_as_bytestring = 1;
		interfaces[1]->string_as_bytestring = 1;
	}

	void TearDown() override
	{
		quick_introspect_clear();
		dbus_interface_free(interfaces[0]);
		dbus_interface_free(interfaces[1]);
		std::string cmd = "rm -rf '" + dir + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}

	void publish_both()
	{
		ASSERT_TRUE(quick_introspect_publish("com.tovi.X", "/com/tovi/X/0/0", interfaces, 2));
		ASSERT_TRUE(quick_introspect_publish("com.tovi.X", "/com/tovi/X", nullptr, 0));
	}

	std::vector<std::string> entries()
	{
		std::vector<std::string> names;
		DIR *d = opendir(dir.c_str());
		while (dirent *e = readdir(d))
			if (e->d_name[0] != '.')
				names.push_back(e->d_name);
		closedir(d);
		return names;
	}

	std::string dir, path;
	dbus_interface *interfaces[2] = {};
	LogCapture log;
};

TEST_F(QuickIntrospect, RendersPublishedObjectsOnceTheServiceHasAnOwner)
{
	publish_both();
	// No owner yet: nothing to describe.
	EXPECT_FALSE(exists(path));
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.X", ":1.7"));
	EXPECT_EQ(golden, read_file(path));
	EXPECT_EQ(std::vector<std::string>{"quick-introspect.data"}, entries());

	// The same description again writes nothing.
	log.clear();
	publish_both();
	EXPECT_EQ(0u, count(log.text(), "write_file: Wrote"));
	ASSERT_TRUE(quick_introspect_publish("com.tovi.X", "/com/tovi/X", interfaces, 1));
	EXPECT_EQ(1u, count(log.text(), "write_file: Wrote " + path + "\n"));
	EXPECT_EQ(std::vector<std::string>{"quick-introspect.data"}, entries());

	// An owner's empty name removes the file.
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.X", ""));
	EXPECT_FALSE(exists(path));
	EXPECT_FALSE(quick_introspect_set_unique_name("", ":1.8"));
}

TEST_F(QuickIntrospect, RemovalDropsObjectsThenTheServiceThenTheFile)
{
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.X", ":1.7"));
	publish_both();
	ASSERT_TRUE(quick_introspect_remove("com.tovi.X", "/com/tovi/X"));
	std::string text = read_file(path);
	EXPECT_EQ(0u, text.find("SERVICE :1.7 1\n\tO /com/tovi/X/0/0 2\n"));
	EXPECT_EQ(std::string::npos, text.find("\tO /com/tovi/X 0\n"));
	EXPECT_FALSE(quick_introspect_remove("com.tovi.Other", "/com/tovi/X/0/0"));
	ASSERT_TRUE(quick_introspect_remove("com.tovi.X", "/com/tovi/X/0/0"));
	EXPECT_FALSE(exists(path));
	EXPECT_FALSE(quick_introspect_remove("com.tovi.X", "/com/tovi/X/0/0"));
}

TEST_F(QuickIntrospect, BusAcquisitionRemovesAStaleFile)
{
	std::ofstream(path) << "SERVICE :1.1 0\n";
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.Vistrad", ":1.2"));
	EXPECT_FALSE(exists(path));
	EXPECT_EQ(0u, count(log.text(), "write_file"));
}

TEST_F(QuickIntrospect, AFailedWriteKeepsTheOldFile)
{
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.X", ":1.7"));
	publish_both();
	std::string old = read_file(path);
	// A file-size limit makes the one write come up short (the log stays
	// below it).
	rlimit saved;
	getrlimit(RLIMIT_FSIZE, &saved);
	rlimit small = {200, saved.rlim_max}; // the hard limit could not be raised again
	signal(SIGXFSZ, SIG_IGN);
	setrlimit(RLIMIT_FSIZE, &small);
	log.clear();
	bool ok = quick_introspect_publish("com.tovi.X", "/com/tovi/X", interfaces, 1);
	ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
	signal(SIGXFSZ, SIG_DFL);
	EXPECT_TRUE(ok); // the registry took the change; the file did not
	EXPECT_NE(std::string::npos, log.text().find("write_file: write: short write (n =200, expected "))
	    << log.text();
	EXPECT_EQ(old, read_file(path));
	EXPECT_EQ(std::vector<std::string>{"quick-introspect.data"}, entries());

	// A directory that is gone: mkstemp fails, nothing is left behind.
	EXPECT_FALSE(write_file((dir + "/missing/file").c_str(), "x", 1));
	EXPECT_NE(std::string::npos, log.text().find("write_file: mkstemp: No such file or directory\n"));
}

TEST_F(QuickIntrospect, APropertyWithoutDefinitionFailsThePublish)
{
	dbus_interface_builder b = {};
	dbus_interface_builder_add_properties(&b, undefined, 1);
	dbus_interface *bad = dbus_interface_new("com.tovi.Bad", &b);
	ASSERT_TRUE(quick_introspect_set_unique_name("com.tovi.X", ":1.7"));
	EXPECT_FALSE(quick_introspect_publish("com.tovi.X", "/com/tovi/X", &bad, 1));
	EXPECT_FALSE(quick_introspect_publish(nullptr, "/com/tovi/X", interfaces, 1));
	EXPECT_FALSE(exists(path));
	dbus_interface_free(bad);
}

TEST_F(QuickIntrospect, TwoThreadsChangeTheRegistryAsAUnit)
{
	// One thread publishes and withdraws objects while the other changes
	// owners; every file seen afterwards matches the final registry.
	const int rounds = 200;
	std::thread publisher([&] {
		for (int i = 0; i < rounds; i++) {
			std::string object = "/com/tovi/X/" + std::to_string(i % 4);
			quick_introspect_publish("com.tovi.X", object.c_str(), interfaces, 2);
			if (i % 3 == 0)
				quick_introspect_remove("com.tovi.X", object.c_str());
		}
		quick_introspect_publish("com.tovi.X", "/com/tovi/X/last", interfaces, 1);
	});
	std::thread owners([&] {
		for (int i = 0; i < rounds; i++) {
			std::string unique = ":1." + std::to_string(i);
			quick_introspect_set_unique_name(i % 2 ? "com.tovi.X" : "com.tovi.Y", unique.c_str());
		}
		quick_introspect_set_unique_name("com.tovi.X", ":1.final");
	});
	publisher.join();
	owners.join();
	std::string text = read_file(path);
	EXPECT_EQ(0u, text.find("SERVICE :1.final ")) << text;
	EXPECT_NE(std::string::npos, text.find("\tO /com/tovi/X/last 1\n"));
	EXPECT_EQ(std::vector<std::string>{"quick-introspect.data"}, entries());
}

TEST(NameMap, SetLookupAndRemoveAtEachPlace)
{
	struct {
		const char *remove;
		const char *left; // names left, in order
	} cases[] = {{"a", "bc"}, {"b", "ac"}, {"c", "ab"}};
	for (const auto &c : cases) {
		name_map map = {};
		for (const char *n : {"a", "b", "c"})
			ASSERT_TRUE(name_map_set(&map, n, (std::string(":1.") + n).c_str()));
		ASSERT_TRUE(name_map_remove(&map, c.remove));
		std::string left;
		for (name_map_entry *e = map.first; e; e = e->next)
			left += e->name;
		EXPECT_EQ(c.left, left) << c.remove;
		EXPECT_EQ(std::string(1, c.left[0]), map.first->name);
		EXPECT_EQ(std::string(1, c.left[1]), map.last->name);
		EXPECT_EQ(nullptr, map.last->next);
		EXPECT_EQ(nullptr, name_map_lookup(&map, c.remove));
		EXPECT_FALSE(name_map_remove(&map, c.remove));
		// Appending after a removal at the end links from the new last.
		ASSERT_TRUE(name_map_set(&map, "d", ":1.d"));
		EXPECT_STREQ("d", map.last->name);
		name_map_clear(&map);
		EXPECT_EQ(nullptr, map.first);
		EXPECT_EQ(nullptr, map.last);
	}

	name_map map = {};
	ASSERT_TRUE(name_map_set(&map, "a", ":1.1"));
	ASSERT_TRUE(name_map_set(&map, "b", ":1.2"));
	ASSERT_TRUE(name_map_set(&map, "a", ":1.3")); // keeps its place
	EXPECT_STREQ("a", map.first->name);
	EXPECT_STREQ(":1.3", name_map_lookup(&map, "a"));
	EXPECT_TRUE(name_map_set(&map, "a", "")); // empty removes
	EXPECT_EQ(nullptr, name_map_lookup(&map, "a"));
	EXPECT_EQ(map.first, map.last);
	EXPECT_FALSE(name_map_set(&map, "", ":1.4"));
	EXPECT_FALSE(name_map_set(nullptr, "a", ":1.4"));
	ASSERT_TRUE(name_map_remove(&map, "b"));
	EXPECT_EQ(nullptr, map.first);
	EXPECT_EQ(nullptr, map.last);
}

} // namespace

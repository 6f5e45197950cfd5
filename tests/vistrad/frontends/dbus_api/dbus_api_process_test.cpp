// The front-end in the daemon process, on a private bus: the real program
// (names, the stale quick-introspect file, SIGTERM) and the test build with
// the test tables (introspection, reads and writes, announcements from the
// test plug-in after a stream is removed and added again, hostile
// callers); and the bus
// policy file in a bus daemon's configuration.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>

#include "cc_firmware.h"
#include <string>
#include <vector>

#include <gio/gio.h>

#include "../../product_yaml.h"
#include "bus_client.h"

namespace
{

const char *const kImageControl = "com.tovi.ImageControl";
const char *const kStream0 = "/com/tovi/ImageControl/0/0";

void write_file(const std::string &path, const std::string &text)
{
	std::string dir = path.substr(0, path.rfind('/'));
	std::string cmd = "mkdir -p '" + dir + "'";
	ASSERT_EQ(0, system(cmd.c_str()));
	std::ofstream(path, std::ios::binary) << text;
}

class DaemonBus : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/vistrad-dbus-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		write_file(root + "/usr/lib/vistrad/vistrad.enc", "");
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", product_yaml);
		write_file(root + "/var/lib/keelstone/params", "HWID=1\n");
		ASSERT_TRUE(install_cc_firmware(root));
		bus = std::make_unique<BusClient>();
		client = bus->connection;
		ASSERT_NE(nullptr, client);
	}

	void TearDown() override
	{
		if (pid > 0) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
		bus.reset();
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}

	void start(const char *program, std::map<std::string, std::string> env = {})
	{
		env["VISTRAD_ROOT"] = root;
		env["SIMSOC_VIN_FRAMERATE"] = "100";
		// Without capture modes in the configuration the plug-in starts the
		// frame tick; a test with them says 0.
		env.emplace("MOXEL_START_TICK", "1");
		// A GLib critical ends the daemon, and the test notices.
		env["G_DEBUG"] = "fatal-criticals";
		pid = fork();
		ASSERT_GE(pid, 0);
		if (pid == 0) {
			int log = open((root + "/daemon.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
			dup2(log, 1);
			dup2(log, 2);
			for (const auto &e : env)
				setenv(e.first.c_str(), e.second.c_str(), 1);
			execl(program, program, (char *)nullptr);
			_exit(127);
		}
	}

	int stop()
	{
		kill(pid, SIGTERM);
		int status = 0;
		waitpid(pid, &status, 0);
		pid = -1;
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	// Runs the main loop until the condition holds; a generous bound only
	// keeps a broken daemon from hanging the test.
	template <typename F> bool wait_until(F condition)
	{
		bool expired = false;
		guint bound = g_timeout_add_seconds(
		    60,
		    [](gpointer data) {
			    *static_cast<bool *>(data) = true;
			    return G_SOURCE_REMOVE;
		    },
		    &expired);
		while (!condition() && !expired)
			g_main_context_iteration(nullptr, TRUE);
		if (!expired)
			g_source_remove(bound);
		return condition();
	}

	std::string owner(const char *name)
	{
		GVariant *r = g_dbus_connection_call_sync(
		    client, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
		    "GetConnectionUnixProcessID", g_variant_new("(s)", name), nullptr, G_DBUS_CALL_FLAGS_NONE,
		    -1, nullptr, nullptr);
		if (!r)
			return "none";
		guint32 p = 0;
		g_variant_get(r, "(u)", &p);
		g_variant_unref(r);
		return std::to_string(p);
	}

	bool wait_for_owner(const char *name)
	{
		bool seen = false;
		guint watch = g_bus_watch_name_on_connection(
		    client, name, G_BUS_NAME_WATCHER_FLAGS_NONE,
		    [](GDBusConnection *, const char *, const char *, gpointer data) {
			    *static_cast<bool *>(data) = true;
		    },
		    nullptr, &seen, nullptr);
		bool ok = wait_until([&] { return seen; });
		g_bus_unwatch_name(watch);
		return ok;
	}

	GVariant *call(const char *path, const char *interface, const char *method, GVariant *args,
	               std::string *error_text = nullptr)
	{
		GError *error = nullptr;
		GVariant *r =
		    g_dbus_connection_call_sync(client, kImageControl, path, interface, method, args, nullptr,
		                                G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &error);
		if (error) {
			if (error_text)
				*error_text = error->message;
			g_error_free(error);
		}
		return r;
	}

	bool seen(const std::string &path, const std::string &interface, const std::string &member,
	          const std::string &args_part)
	{
		for (const BusSignal &s : bus->signals)
			if (s.path == path && s.interface == interface && s.member == member &&
			    contains(s.args, args_part))
				return true;
		return false;
	}

	std::string root;
	pid_t pid = -1;
	std::unique_ptr<BusClient> bus;
	GDBusConnection *client = nullptr;
};

TEST_F(DaemonBus, RealDaemonOwnsItsNamesUntilTerminated)
{
	std::string stale = root + "/run/vistrad/quick-introspect.data";
	write_file(stale, "SERVICE :1.1 0\n");
	start(VISTRAD_BIN);
	// The two names are asked for in turn, but answered in either order.
	ASSERT_TRUE(wait_for_owner(kImageControl)) << read_file(root + "/daemon.log");
	ASSERT_TRUE(wait_for_owner("com.tovi.Vistrad")) << read_file(root + "/daemon.log");
	EXPECT_EQ(std::to_string(pid), owner("com.tovi.Vistrad"));
	EXPECT_EQ(std::to_string(pid), owner(kImageControl));
	EXPECT_EQ("none", owner("com.tovi.VideoControl"));
	EXPECT_FALSE(exists(stale));
	EXPECT_EQ(0, stop()) << read_file(root + "/daemon.log");
	EXPECT_EQ("none", owner("com.tovi.Vistrad"));
	EXPECT_EQ("none", owner(kImageControl));
}

TEST_F(DaemonBus, VideoControlModeOwnsTheVideoControlName)
{
	start(VISTRAD_HOOKED, {{"VISTRAD_TEST_VIDEO_CONTROL", "1"}});
	ASSERT_TRUE(wait_for_owner("com.tovi.VideoControl")) << read_file(root + "/daemon.log");
	ASSERT_TRUE(wait_for_owner("com.tovi.Vistrad")) << read_file(root + "/daemon.log");
	EXPECT_EQ(std::to_string(pid), owner("com.tovi.Vistrad"));
	EXPECT_EQ("none", owner(kImageControl));
	EXPECT_EQ(0, stop()) << read_file(root + "/daemon.log");
}

TEST_F(DaemonBus, TestTablesServeAndAnnounceAfterTheStreamIsAddedAgain)
{
	write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_DAEMON));
	start(VISTRAD_HOOKED,
	      {{"VISTRAD_TEST_HOOKS", "1"}, {"MOXEL_READD_AFTER", "3"}, {"MOXEL_SET_AFTER", "40"}});
	ASSERT_TRUE(wait_for_owner(kImageControl)) << read_file(root + "/daemon.log");

	// The plug-in's changes, made after stream 0 was removed and added
	// again with the same record, reach the rebuilt objects; nothing changes
	// the parameters after them.
	ASSERT_TRUE(wait_until([&] {
		return seen(kStream0, "org.freedesktop.DBus.Properties", "PropertiesChanged",
		            "'Brightness': <33>") &&
		       seen(kStream0, "com.tovi.Test.Stream", "IsDay", "") &&
		       seen("/com/tovi/ImageControl", "com.tovi.Test.Legacy", "IsDay", "");
	}));
	for (const BusSignal &s : bus->signals) {
		if (s.member == "PropertiesChanged") {
			EXPECT_TRUE(contains(s.args, "}, @as [])")) << s.args;
		}
	}

	std::string xml =
	    printed(call(kStream0, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr));
	for (const char *part :
	     {"<interface name=\"com.tovi.Test.Stream\">", "<interface name=\"com.tovi.Test.Legacy\">",
	      "<property type=\"i\" name=\"Brightness\" access=\"readwrite\">",
	      "<property type=\"ay\" name=\"Exposure\"",
	      "<annotation name=\"org.freedesktop.DBus.Deprecated\" value=\"Use Echo\"/>"})
		EXPECT_TRUE(contains(xml, part)) << part << "\n" << xml;
	EXPECT_EQ("('hi', 0)",
	          printed(call(kStream0, "com.tovi.Test.Stream", "Echo", g_variant_new("(s)", "hi"))));

	// Reads and writes through the parameter database.
	EXPECT_EQ("(<'0,0:1,0:0,1:1,1'>,)",
	          printed(call(kStream0, "org.freedesktop.DBus.Properties", "Get",
	                       g_variant_new("(ss)", "com.tovi.Test.Stream", "FocusWindow"))));
	EXPECT_EQ("()", printed(call(kStream0, "org.freedesktop.DBus.Properties", "Set",
	                             g_variant_new("(ssv)", "com.tovi.Test.Stream", "FocusWindow",
	                                           g_variant_new_string("0,0:1,0:0,1:1,2")))));
	EXPECT_EQ("(<'0,0:1,0:0,1:1,2'>,)",
	          printed(call(kStream0, "org.freedesktop.DBus.Properties", "Get",
	                       g_variant_new("(ss)", "com.tovi.Test.Stream", "FocusWindow"))));

	// Hostile callers get errors; the daemon goes on serving.
	std::string big(1 << 20, 'z');
	GVariantBuilder bad_bytes;
	g_variant_builder_init(&bad_bytes, G_VARIANT_TYPE("a(sv)"));
	g_variant_builder_add(&bad_bytes, "(sv)", "Exposure", g_variant_new_bytestring("\xff\xfe"));
	struct {
		const char *interface, *method;
		GVariant *args;
	} hostile[] = {
	    {"com.tovi.Test.Stream", "Echo", g_variant_new("(i)", 1)},
	    {"com.tovi.Nope", "Echo", g_variant_new("(s)", "x")},
	    {"com.tovi.Test.Stream", "NoReply", nullptr},
	    {"org.freedesktop.DBus.Properties", "Set",
	     g_variant_new("(ssv)", "com.tovi.Test.Stream", "FocusWindow",
	                   g_variant_new_string(big.c_str()))},
	    {"org.freedesktop.DBus.Properties", "Set",
	     g_variant_new("(ssv)", "com.tovi.Test.Stream", "IrisApertureOpen", g_variant_new_double(NAN))},
	    {"org.freedesktop.DBus.Properties", "Get",
	     g_variant_new("(ss)", "com.tovi.Test.Stream", "Broken")},
	    {"com.tovi.Test.Properties", "SetProperties",
	     g_variant_new("(s@a(sv))", "com.tovi.Test.Stream", g_variant_builder_end(&bad_bytes))},
	};
	for (const auto &h : hostile) {
		std::string error;
		EXPECT_EQ("(none)", printed(call(kStream0, h.interface, h.method, h.args, &error)))
		    << h.method;
		EXPECT_FALSE(error.empty()) << h.method;
	}
	EXPECT_EQ("(<'0,0:1,0:0,1:1,2'>,)",
	          printed(call(kStream0, "org.freedesktop.DBus.Properties", "Get",
	                       g_variant_new("(ss)", "com.tovi.Test.Stream", "FocusWindow"))));

	EXPECT_EQ(0, stop()) << read_file(root + "/daemon.log");
}

TEST(BusPolicy, BusDaemonStartsWithThePolicyIncluded)
{
	char tmpl[] = "/tmp/vistrad-policy-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(tmpl));
	std::string dir = tmpl;
	std::string conf = read_file(TESTS_DBUS_CONF);
	size_t end = conf.rfind("</busconfig>");
	ASSERT_NE(std::string::npos, end);
	conf.insert(end, std::string("  <include>") + POLICY_FILE + "</include>\n");
	write_file(dir + "/bus.conf", conf);

	const char *argv[] = {"dbus-daemon", "--nofork", "--print-address=1", nullptr, nullptr};
	std::string config_arg = "--config-file=" + dir + "/bus.conf";
	argv[3] = config_arg.c_str();
	GPid bus = 0;
	int out = -1;
	GError *error = nullptr;
	ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, (char **)argv, nullptr,
	                                     (GSpawnFlags)(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
	                                     nullptr, nullptr, &bus, nullptr, &out, nullptr, &error))
	    << (error ? error->message : "");
	std::string address;
	char c;
	while (read(out, &c, 1) == 1 && c != '\n')
		address += c;
	close(out);
	kill(bus, SIGTERM);
	waitpid(bus, nullptr, 0);
	g_spawn_close_pid(bus);
	EXPECT_EQ(0u, address.find("unix:")) << address;
	std::string cmd = "rm -rf '" + dir + "'";
	ASSERT_EQ(0, system(cmd.c_str()));
}

} // namespace

// The lens tracepoints recorded by a real LTTng session: a session daemon of
// our own under a private LTTNG_HOME, a session enabling vistrad_camblock:*,
// a program firing the events, and babeltrace2 reading the trace back.
//
// The session daemon runs as the user the test runs as; a root test runs the
// whole session as nobody, since a root session daemon would take the
// machine's global one's place.

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

namespace
{

#define NOBODY 65534

class LttngSession : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		for (const char *tool : {"lttng", "lttng-sessiond", "babeltrace2"}) {
			char *path = g_find_program_in_path(tool);
			if (!path)
				GTEST_SKIP() << tool << " is not installed";
			g_free(path);
		}
		char tmpl[] = "/tmp/camblock-tp-XXXXXX";
		ASSERT_NE(nullptr, g_mkdtemp(tmpl));
		home_ = tmpl;
		if (getuid() == 0) {
			ASSERT_EQ(0, chown(tmpl, NOBODY, NOBODY));
			char *setpriv = g_find_program_in_path("setpriv");
			if (!setpriv)
				GTEST_SKIP() << "running as root without setpriv";
			as_user_ = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
			g_free(setpriv);
		}
		ASSERT_TRUE(run({"lttng-sessiond", "--daemonize", "--no-kernel"})) << output_;
		started_ = true;
	}
	void TearDown() override
	{
		if (started_) {
			std::string pid_text;
			gchar *text = nullptr;
			if (g_file_get_contents((home_ + "/.lttng/lttng-sessiond.pid").c_str(), &text,
			                        nullptr, nullptr))
				pid_text = text;
			g_free(text);
			pid_t pid = (pid_t)atoi(pid_text.c_str());
			if (pid > 0)
				kill(pid, SIGTERM);
		}
		if (!home_.empty()) {
			std::string cmd = "rm -rf '" + home_ + "'";
			EXPECT_EQ(0, system(cmd.c_str()));
		}
	}
	// Runs a program of the session (as nobody when root) with the
	// private LTTNG_HOME; its output is kept in output_.
	bool run(std::vector<std::string> argv)
	{
		argv.insert(argv.begin(), as_user_.begin(), as_user_.end());
		std::vector<char *> args;
		for (std::string &a : argv)
			args.push_back(&a[0]);
		args.push_back(nullptr);
		gchar **env = g_get_environ();
		env = g_environ_setenv(env, "LTTNG_HOME", home_.c_str(), TRUE);
		env = g_environ_setenv(env, "HOME", home_.c_str(), TRUE);
		gchar *out = nullptr, *err = nullptr;
		gint status = -1;
		GError *error = nullptr;
		gboolean ok = g_spawn_sync(home_.c_str(), args.data(), env, G_SPAWN_SEARCH_PATH, nullptr,
		                           nullptr, &out, &err, &status, &error);
		output_ = std::string(out ? out : "") + (err ? err : "") + (error ? error->message : "");
		g_free(out);
		g_free(err);
		g_clear_error(&error);
		g_strfreev(env);
		return ok && g_spawn_check_wait_status(status, nullptr);
	}
	std::string home_;
	std::vector<std::string> as_user_;
	std::string output_;
	bool started_ = false;
};

TEST_F(LttngSession, TheLensEventsAreRecordedWithTheirFields)
{
	std::string trace = home_ + "/trace";
	ASSERT_TRUE(run({"lttng", "create", "lens", "--output=" + trace})) << output_;
	ASSERT_TRUE(run({"lttng", "enable-event", "--userspace", "vistrad_camblock:*"})) << output_;
	ASSERT_TRUE(run({"lttng", "start"})) << output_;
	ASSERT_TRUE(run({CAMBLOCK_TP_FIRE})) << output_;
	ASSERT_TRUE(run({"lttng", "stop"})) << output_;
	ASSERT_TRUE(run({"lttng", "destroy"})) << output_;
	ASSERT_TRUE(run({"babeltrace2", trace})) << output_;

	// "... vistrad_camblock:i2c_done: { cpu_id = 1 }, { register_address = 770, register_value = 2 }"
	std::regex line("vistrad_camblock:(\\w+): .*\\{ ([^{}]*) \\}");
	std::vector<std::string> events;
	size_t at = 0;
	while (at < output_.size()) {
		size_t end = output_.find('\n', at);
		if (end == std::string::npos)
			end = output_.size();
		std::string l = output_.substr(at, end - at);
		std::smatch m;
		if (std::regex_search(l, m, line)) {
			std::string fields = m[2];
			if (fields.compare(0, 9, "cpu_id = ") == 0)
				fields.clear(); // an event without fields shows only its context
			events.push_back(m[1].str() + " " + fields);
		}
		at = end + 1;
	}
	EXPECT_EQ((std::vector<std::string>{
	              "i2c_done register_address = 770, register_value = 2",
	              "focus_move_abs position = 1000, speed = 0",
	              "i2c_done register_address = 513, register_value = 1000",
	              "i2c_done register_address = 771, register_value = 7",
	              "focus_move_abs position = 2000, speed = 0",
	              "motor_blocked ",
	          }),
	          events)
	    << output_;
}

} // namespace

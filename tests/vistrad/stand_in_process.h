#pragma once
// A stand-in peer as a child process on the test's private bus: started and
// waited for until it prints READY, stopped with SIGTERM; and its steering
// calls.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

class StandInProcess
{
      public:
	~StandInProcess()
	{
		stop();
	}

	void start(const char *const argv[])
	{
		int out = -1;
		GError *error = nullptr;
		ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<char **>(argv), nullptr,
		                                     G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_,
		                                     nullptr, &out, nullptr, &error))
		    << (error ? error->message : "");
		std::string line;
		char c;
		struct pollfd p = {out, POLLIN, 0};
		while (line.find("READY") == std::string::npos && poll(&p, 1, 5000) > 0 &&
		       read(out, &c, 1) == 1)
			line += c;
		close(out);
		ASSERT_NE(std::string::npos, line.find("READY")) << "stand-in did not come up";
	}

	void stop()
	{
		if (pid_ <= 0)
			return;
		kill(pid_, SIGTERM);
		int status = 0;
		waitpid(pid_, &status, 0);
		g_spawn_close_pid(pid_);
		pid_ = -1;
	}

      private:
	GPid pid_ = -1;
};

// A method call on the system bus (the private one); the reply, or null with
// a test failure.
inline GVariant *bus_call(const char *destination, const char *path, const char *interface,
                          const char *method, GVariant *args)
{
	GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
	GError *error = nullptr;
	GVariant *reply = g_dbus_connection_call_sync(bus, destination, path, interface, method, args,
	                                              nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
	EXPECT_NE(nullptr, reply) << method << ": " << (error ? error->message : "");
	g_clear_error(&error);
	g_object_unref(bus);
	return reply;
}

// A call answering "(as)": its strings joined with ",", empty on failure.
inline std::string bus_call_strings(const char *destination, const char *path, const char *interface,
                                    const char *method)
{
	GVariant *reply = bus_call(destination, path, interface, method, nullptr);
	std::string out;
	if (!reply)
		return out;
	char **list = nullptr;
	g_variant_get(reply, "(^as)", &list);
	for (char **l = list; l && *l; l++)
		out += (out.empty() ? "" : ",") + std::string(*l);
	g_strfreev(list);
	g_variant_unref(reply);
	return out;
}

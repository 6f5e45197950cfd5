#pragma once
// Starts and stops the stand-in temperature service on the test's private
// bus, steers it, and runs the default main context while a test waits.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// Runs the default main context until the condition holds (true) or the
// time is up (false).
inline bool pump_until(const std::function<bool()> &done, int timeout_ms = 5000)
{
    gint64 end = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok;
    while (!(ok = done()) && g_get_monotonic_time() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

// Lets whatever is already under way arrive (signals, owner changes).
inline void pump_for(int ms)
{
    pump_until([] { return false; }, ms);
}

// Starts a stand-in service and waits for its "READY" line.
inline void spawn_stand_in(const char *const *argv, GPid *pid)
{
    int out = -1;
    GError *error = nullptr;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                         nullptr, nullptr, pid, nullptr, &out, nullptr, &error))
        << (error ? error->message : "");
    std::string line;
    char c;
    struct pollfd p = {out, POLLIN, 0};
    while (line.find("READY") == std::string::npos && poll(&p, 1, 5000) > 0 && read(out, &c, 1) == 1)
        line += c;
    close(out);
    ASSERT_NE(std::string::npos, line.find("READY")) << "stand-in did not come up";
}

inline void stop_stand_in(GPid *pid)
{
    if (*pid <= 0)
        return;
    kill(*pid, SIGTERM);
    int status = 0;
    waitpid(*pid, &status, 0);
    g_spawn_close_pid(*pid);
    *pid = -1;
}

// A call to a stand-in's control interface; the reply (the caller's) or null.
inline GVariant *stand_in_call(const char *service, const char *path, const char *interface_name,
                               const char *method, GVariant *args)
{
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_sync(bus, service, path, interface_name, method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    EXPECT_NE(nullptr, reply) << method << ": " << (error ? error->message : "");
    g_clear_error(&error);
    g_object_unref(bus);
    return reply;
}

class TemperatureService {
  public:
    ~TemperatureService() { stop(); }

    void start(int first_id = 1, double temperature = 25.0)
    {
        std::string id = std::to_string(first_id);
        std::string t = std::to_string(temperature);
        const char *argv[] = {TEMPERATURED_SIM, "--first-id", id.c_str(), "--temperature", t.c_str(), nullptr};
        spawn_stand_in(argv, &pid_);
    }

    void stop() { stop_stand_in(&pid_); }

    GVariant *control(const char *method, GVariant *args)
    {
        return stand_in_call("com.tovi.TemperatureController", "/sim/Temperature", "sim.Temperature.Control", method,
                             args);
    }

    void call(const char *method, GVariant *args)
    {
        GVariant *reply = control(method, args);
        if (reply)
            g_variant_unref(reply);
    }

    void set_temperature(int sensor, double degrees)
    {
        call("SetTemperature", g_variant_new("(id)", sensor, degrees));
    }
    void emit(int limit_id) { call("EmitSignal", g_variant_new("(i)", limit_id)); }
    void set_mode(const char *mode) { call("SetMode", g_variant_new("(s)", mode)); }

    size_t registrations()
    {
        GVariant *reply = control("GetRegistrations", nullptr);
        if (!reply)
            return 0;
        GVariant *list = g_variant_get_child_value(reply, 0);
        size_t n = g_variant_n_children(list);
        g_variant_unref(list);
        g_variant_unref(reply);
        return n;
    }

  private:
    GPid pid_ = -1;
};

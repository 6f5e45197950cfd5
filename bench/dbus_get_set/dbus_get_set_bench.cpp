// Property reads and writes as another program on the camera makes them:
// TNF of stream 0 on com.tovi.ImageControlStream at
// "/com/tovi/ImageControl/0/0", through vistrad running the demo camera on
// a private bus, beside the one property of a bare GDBus service (stores,
// emits nothing; bare_service) on the same bus. The sides take turns call
// by call (bench/common/paired.h):
//  - Get: Properties.Get (goal: vistrad/bare at most 1.3).
//  - Set: Properties.Set of a changing value; vistrad also announces each
//    change with PropertiesChanged, counted as signals_per_set (goal:
//    vistrad/bare at most 2.0).
//  - SetUnsaved: the same with ZoomTraceMode, a parameter the daemon does
//    not keep in its settings file: TNF's writes also rewrite that file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "paired.h"
#include "private_bus.h"

namespace
{

const char *const kStreamPath = "/com/tovi/ImageControl/0/0";
const char *const kStreamInterface = "com.tovi.ImageControlStream";

GDBusConnection *client;
long signals_seen;

GVariant *get(const char *service, const char *path, const char *interface, const char *name)
{
	return g_dbus_connection_call_sync(client, service, path, "org.freedesktop.DBus.Properties", "Get",
	                                   g_variant_new("(ss)", interface, name), G_VARIANT_TYPE("(v)"),
	                                   G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

bool set(const char *service, const char *path, const char *interface, const char *name, int32_t value)
{
	GVariant *r =
	    g_dbus_connection_call_sync(client, service, path, "org.freedesktop.DBus.Properties", "Set",
	                                g_variant_new("(ssv)", interface, name, g_variant_new_int32(value)),
	                                nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
	if (r)
		g_variant_unref(r);
	return r != nullptr;
}

void must(bool ok, const char *what)
{
	if (!ok) {
		fprintf(stderr, "dbus_get_set: %s failed\n", what);
		exit(1);
	}
}

void get_tnf()
{
	GVariant *r = get("com.tovi.ImageControl", kStreamPath, kStreamInterface, "TNF");
	must(r, "Get TNF");
	g_variant_unref(r);
}

void get_bare()
{
	GVariant *r = get("bench.Bare", "/bench/Bare", "bench.Bare", "Value");
	must(r, "Get Value");
	g_variant_unref(r);
}

// Each set changes the value, so vistrad has a change to announce.
int32_t next_tnf = 40, next_bare = 40;

void set_tnf()
{
	next_tnf = next_tnf == 40 ? 41 : 40;
	must(set("com.tovi.ImageControl", kStreamPath, kStreamInterface, "TNF", next_tnf), "Set TNF");
}

void set_bare()
{
	next_bare = next_bare == 40 ? 41 : 40;
	must(set("bench.Bare", "/bench/Bare", "bench.Bare", "Value", next_bare), "Set Value");
}

// Delivers every signal vistrad sent before this round trip to it.
void flush_signals()
{
	GVariant *r = g_dbus_connection_call_sync(client, "com.tovi.ImageControl", "/",
	                                          "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
	                                          G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
	if (r)
		g_variant_unref(r);
	while (g_main_context_iteration(nullptr, FALSE))
		;
}

void BM_Get(benchmark::State &state)
{
	bench::runPaired(state, {{"vistrad", get_tnf}, {"bare", get_bare}});
}

int32_t next_trace_mode = 1;

void set_trace_mode()
{
	next_trace_mode = next_trace_mode == 1 ? 2 : 1;
	must(set("com.tovi.ImageControl", kStreamPath, kStreamInterface, "ZoomTraceMode", next_trace_mode),
	     "Set ZoomTraceMode");
}

// A write paired with the bare one, counting vistrad's announcements.
void paired_sets(benchmark::State &state, void (*write)())
{
	long sets = 0;
	flush_signals();
	signals_seen = 0;
	bench::runPaired(state, {{"vistrad",
	                          [&] {
		                          write();
		                          sets++;
	                          }},
	                         {"bare", set_bare}});
	flush_signals();
	state.counters["signals_per_set"] = sets ? (double)signals_seen / (double)sets : 0.0;
}

void BM_Set(benchmark::State &state)
{
	paired_sets(state, set_tnf);
}

void BM_SetUnsaved(benchmark::State &state)
{
	paired_sets(state, set_trace_mode);
}

BENCHMARK(BM_Get)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_Set)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SetUnsaved)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

pid_t spawn(const char *program, const std::string &root, int out_fd)
{
	pid_t pid = fork();
	if (pid == 0) {
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		dup2(out_fd, 1);
		int null = open("/dev/null", O_WRONLY);
		dup2(null, 2);
		execl(program, program, (char *)nullptr);
		_exit(127);
	}
	return pid;
}

void stop(pid_t pid)
{
	if (pid <= 0)
		return;
	kill(pid, SIGTERM);
	waitpid(pid, nullptr, 0);
}

bool wait_for(bool (*ready)())
{
	for (int i = 0; i < 300; i++) {
		if (ready())
			return true;
		usleep(20000);
	}
	return false;
}

bool stream_ready()
{
	GVariant *r = get("com.tovi.ImageControl", kStreamPath, kStreamInterface, "TNF");
	if (r)
		g_variant_unref(r);
	return r != nullptr;
}

bool bare_ready()
{
	GVariant *r = get("bench.Bare", "/bench/Bare", "bench.Bare", "Value");
	if (r)
		g_variant_unref(r);
	return r != nullptr;
}

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	testsupport::PrivateBus bus;

	char tmpl[] = "/tmp/bench-dbus-XXXXXX";
	if (!mkdtemp(tmpl))
		return 1;
	std::string root = tmpl;
	std::string copy = "cp -R '" DEMO_ROOT "/.' '" + root + "/' && mkdir -p '" + root + "/etc/vistrad'";
	if (system(copy.c_str()) != 0)
		return 1;
	int null = open("/dev/null", O_WRONLY);
	pid_t vistrad = spawn(VISTRAD_BIN, root, null);

	int pipe_fds[2];
	if (pipe(pipe_fds) != 0)
		return 1;
	pid_t bare = spawn(BARE_SERVICE, root, pipe_fds[1]);
	close(pipe_fds[1]);
	char ready[8] = {};
	if (read(pipe_fds[0], ready, 5) != 5)
		fprintf(stderr, "dbus_get_set: the bare service did not start\n");
	close(pipe_fds[0]);

	client = g_dbus_connection_new_for_address_sync(
	    bus.address().c_str(),
	    (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
	                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
	    nullptr, nullptr, nullptr);
	int status = 1;
	if (client && wait_for(stream_ready) && wait_for(bare_ready)) {
		g_dbus_connection_signal_subscribe(
		    client, "com.tovi.ImageControl", "org.freedesktop.DBus.Properties", "PropertiesChanged",
		    kStreamPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
		    [](GDBusConnection *, const char *, const char *, const char *, const char *, GVariant *,
		       gpointer) { signals_seen++; },
		    nullptr, nullptr);
		benchmark::RunSpecifiedBenchmarks();
		status = 0;
	} else {
		fprintf(stderr, "dbus_get_set: vistrad's stream object or the bare service did not appear\n");
	}
	benchmark::Shutdown();
	if (client) {
		g_dbus_connection_close_sync(client, nullptr, nullptr);
		g_object_unref(client);
	}
	stop(bare);
	stop(vistrad);
	close(null);
	std::string remove = "rm -rf '" + root + "'";
	if (system(remove.c_str()) != 0)
		status = 1;
	return status;
}

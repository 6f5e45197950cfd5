// Parts of the daemon body on their own: the log sinks its options wire up,
// the plug-in loader, the FPGA library loader, and the dispatch round with
// stream bookkeeping.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/control_timeout.h"
#include "core/daemon.h"
#include "core/daemon_options.h"
#include "core/daemon_sources.h"
#include "core/debug_output.h"
#include "core/fpga.h"
#include "core/plugin.h"
#include "core/prodconf.h"
#include "log_capture.h"
#include "platform/input_source.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"

namespace
{

// ---- Log sinks of the options ----

std::vector<std::pair<int, std::string>> syslogged;

void capture_syslog(int priority, const char *format, va_list args)
{
	char text[256];
	vsnprintf(text, sizeof text, format, args);
	syslogged.emplace_back(priority, text);
}

// Runs the sink wiring with descriptor 1 redirected to a memory file and
// sends one message of each level; gives what reached descriptor 1.
std::string wire_and_log(const daemon_options &options, int terminal)
{
	syslogged.clear();
	fflush(stdout);
	int saved = dup(1);
	int mem = memfd_create("stdout", 0);
	dup2(mem, 1);
	debug_output_set_syslog(capture_syslog);
	debug_output_init();
	daemon_options_add_sinks(&options, terminal);
	for (uint32_t level : {DEBUG_INFO, DEBUG_WARNING, DEBUG_ERROR, DEBUG_HISTOGRAM, DEBUG_STATISTICS,
	                       DEBUG_EXPOSURE, DEBUG_WHITEBALANCE, DEBUG_AREA})
		debug_output(level, 0, "L%u;", level);
	debug_output_free();
	debug_output_set_syslog(nullptr);
	dup2(saved, 1);
	close(saved);
	std::string out(4096, '\0');
	ssize_t n = pread(mem, &out[0], out.size(), 0);
	close(mem);
	out.resize(n > 0 ? (size_t)n : 0);
	return out;
}

std::string syslog_text()
{
	std::string s;
	for (const auto &e : syslogged)
		s += std::to_string(e.first) + ":" + e.second;
	return s;
}

struct SinkCase {
	const char *name;
	int terminal;
	daemon_options options;
	const char *on_fd;
	const char *on_syslog; // priority:message
};

TEST(DaemonSinks, WiringTable)
{
	auto opts = [](int quiet, int verbose, int area = 0, int exposure = 0, int wb = 0) {
		daemon_options o = {};
		o.quiet = quiet;
		o.verbose = verbose;
		o.area = area;
		o.exposure = exposure;
		o.whitebalance = wb;
		return o;
	};
	const SinkCase cases[] = {
	    {"terminal", 1, opts(0, 0), "L1;L2;L4;", "6:L1;4:L2;3:L4;"},
	    {"terminal, quiet", 1, opts(1, 0), "L4;", "4:L2;3:L4;"},
	    {"no terminal", 0, opts(0, 0), "", "6:L1;4:L2;3:L4;"},
	    {"no terminal, quiet: level 1 reaches no sink", 0, opts(1, 0), "", "4:L2;3:L4;"},
	    {"verbose keeps the first syslog sinks", 0, opts(0, 1), "", "6:L1;4:L2;3:L4;"},
	    {"quiet and verbose: level 1 at error priority", 0, opts(1, 1), "", "3:L1;4:L2;3:L4;"},
	    {"debug levels to descriptor 1", 0, opts(0, 0, 1, 1, 1), "L32;L64;L128;", "6:L1;4:L2;3:L4;"},
	    {"debug levels with a terminal, quiet", 1, opts(1, 0, 1, 0, 0), "L4;L128;", "4:L2;3:L4;"},
	};
	for (const SinkCase &c : cases) {
		SCOPED_TRACE(c.name);
		// The descriptor sink ends each message's line.
		std::string on_fd = c.on_fd;
		for (size_t at = on_fd.find(';'); at != std::string::npos; at = on_fd.find(';', at + 2))
			on_fd.insert(at + 1, "\n");
		EXPECT_EQ(on_fd, wire_and_log(c.options, c.terminal));
		EXPECT_EQ(c.on_syslog, syslog_text());
	}
}

TEST(DaemonOptions, ParseAndPriority)
{
	daemon_options o = {};
	GOptionContext *context = daemon_options_context_new(&o);
	ASSERT_NE(nullptr, context);
	const char *args[] = {"vistrad",        "-p", "5",  "-n", "-q",   "-e",
	                      "--whitebalance", "-A", "-v", "-d", nullptr};
	int argc = 10;
	char **argv = const_cast<char **>(args);
	ASSERT_TRUE(g_option_context_parse(context, &argc, &argv, nullptr));
	EXPECT_EQ(5, o.priority);
	EXPECT_EQ(1, o.nice);
	EXPECT_EQ(1, o.quiet);
	EXPECT_EQ(1, o.exposure);
	EXPECT_EQ(1, o.whitebalance);
	EXPECT_EQ(1, o.area);
	EXPECT_EQ(1, o.verbose);
	EXPECT_EQ(1, o.daemon);
	EXPECT_EQ(0, o.version);
	g_option_context_free(context);

	// A priority wins over "nice": only the given value is set.
	daemon_options p = {};
	p.priority = 3;
	p.nice = 1;
	p.quiet = 1;
	ASSERT_EQ(0, daemon_options_set_priority(&p));
	EXPECT_EQ(3, getpriority(PRIO_PROCESS, 0));
	// Lowering the niceness needs privileges a test does not have, unless root.
	if (geteuid() != 0) {
		p.priority = -5;
		EXPECT_EQ(-1, daemon_options_set_priority(&p));
	}
}

// ---- Plug-in loader ----

struct prodconf_stub {
	int unused;
} conf_stub;

prodconf *fake_conf()
{
	return reinterpret_cast<prodconf *>(&conf_stub);
}

void copy_file(const std::string &from, const std::string &to)
{
	std::string dir = to.substr(0, to.rfind('/'));
	g_mkdir_with_parents(dir.c_str(), 0755);
	std::ifstream in(from, std::ios::binary);
	std::ofstream(to, std::ios::binary) << in.rdbuf();
}

std::string read_text(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

class PluginLoader : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/vistrad-plugin-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		trace = root + "/trace";
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		setenv("MOXEL_TRACE", trace.c_str(), 1);
		p = platform_vorsalind_create(nullptr, fake_conf(), 1);
		engine = control_new(p);
	}
	void TearDown() override
	{
		plugin_shutdown_all();
		control_stop(engine);
		control_free(engine);
		platform_destroy(p);
		unsetenv("VISTRAD_ROOT");
		unsetenv("MOXEL_TRACE");
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}
	void install(const char *library, const std::string &where)
	{
		copy_file(library, root + where);
	}
	std::vector<std::string> loaded()
	{
		std::vector<std::string> out;
		GList *paths = plugin_loaded();
		for (GList *l = paths; l; l = l->next)
			out.push_back(static_cast<const char *>(l->data));
		g_list_free(paths);
		return out;
	}
	std::string traced()
	{
		return read_text(trace);
	}

	LogCapture log;
	std::string root;
	std::string trace;
	platform *p = nullptr;
	control *engine = nullptr;
};

TEST_F(PluginLoader, EtcBeforeLibAndOnlyOnce)
{
	install(MOXEL_GOOD, "/etc/vistrad/libmoxel.so");
	install(MOXEL_OTHER, "/usr/lib/vistrad/libmoxel.so");
	plugin_load_all(engine);
	EXPECT_EQ(std::vector<std::string>{root + "/etc/vistrad/libmoxel.so"}, loaded());

	plugin_create_all(fake_conf(), engine, 256);
	plugin_destroy_all(fake_conf(), engine, 256);
	plugin_shutdown_all();
	EXPECT_EQ("good entry\ngood create 256\ngood destroy 256\ngood shutdown\n", traced());
	EXPECT_TRUE(loaded().empty());
	EXPECT_EQ("", log.text());
}

TEST_F(PluginLoader, FromLibWhenEtcHasNone)
{
	install(MOXEL_OTHER, "/usr/lib/vistrad/libmoxel.so");
	plugin_load_all(engine);
	EXPECT_EQ(std::vector<std::string>{root + "/usr/lib/vistrad/libmoxel.so"}, loaded());
	EXPECT_EQ("other entry\n", traced());
}

TEST_F(PluginLoader, OtherNamesAreNeverOpened)
{
	install(MOXEL_GOOD, "/etc/vistrad/libmoxel.so.1");
	install(MOXEL_GOOD, "/etc/vistrad/libother.so");
	install(MOXEL_GOOD, "/usr/lib/vistrad/moxel.so");
	plugin_load_all(engine);
	EXPECT_TRUE(loaded().empty());
	EXPECT_EQ("", traced());
	EXPECT_EQ("", log.text());
}

TEST_F(PluginLoader, MissingSymbolClosesWithoutCalls)
{
	install(MOXEL_NO_SHUTDOWN, "/etc/vistrad/libmoxel.so");
	plugin_load_all(engine);
	EXPECT_TRUE(loaded().empty());
	plugin_create_all(fake_conf(), engine, 0);
	plugin_shutdown_all();
	EXPECT_EQ("", traced());
	EXPECT_EQ("", log.text());
}

TEST_F(PluginLoader, UnloadableLibraryIsReported)
{
	copy_file("/dev/null", root + "/etc/vistrad/libmoxel.so");
	install(MOXEL_GOOD, "/usr/lib/vistrad/libmoxel.so");
	plugin_load_all(engine);
	EXPECT_NE(std::string::npos, log.text().find("Plugin library error: ")) << log.text();
	// The failed file was not loaded, so the second directory's is.
	EXPECT_EQ(std::vector<std::string>{root + "/usr/lib/vistrad/libmoxel.so"}, loaded());
}

TEST_F(PluginLoader, RefusingEntryLeavesNothingBehind)
{
	install(MOXEL_REFUSE, "/etc/vistrad/libmoxel.so");
	algo_group *own = algo_group_create(nullptr);
	control_add_group(engine, own);
	// A record queued before the plug-in loads is not its to take away.
	control_job earlier = {};
	earlier.type = 42;
	control_queue_job(engine, &earlier);
	plugin_load_all(engine);
	// The plug-in's records were released by its own code before the close;
	// only the earlier record is still queued.
	EXPECT_EQ("refuse entry\nrefuse release 2\n", traced());
	EXPECT_EQ(&earlier, control_get_input(engine));
	control_dispatch(engine, nullptr);
	EXPECT_EQ(nullptr, control_get_input(engine));
	std::string path = root + "/etc/vistrad/libmoxel.so";
	EXPECT_EQ("Plugin " + path + " entrypoint failed.\n", log.text(DEBUG_ERROR));
	EXPECT_EQ(log.text(DEBUG_ERROR), log.text());
	EXPECT_TRUE(loaded().empty());

	// Only the group the plug-in added is gone; a record of the type its
	// step consumed runs nothing of the closed library.
	GList *groups = control_list_groups(engine);
	EXPECT_EQ(1u, g_list_length(groups));
	EXPECT_EQ(own, groups ? groups->data : nullptr);
	g_list_free(groups);
	control_init_groups(engine);
	control_job job = {};
	job.type = 42;
	job.stream_id = -1;
	control_dispatch(engine, &job);
	// Nor is its timeout pending any more.
	control_timestamp wait = {};
	EXPECT_EQ(1, control_next_timeout(engine, &wait));
	EXPECT_EQ(1, wait.sec);
	EXPECT_EQ(nullptr, control_take_expired_timeouts(engine, nullptr));
	plugin_create_all(fake_conf(), engine, 0);
	plugin_shutdown_all();
	EXPECT_EQ("refuse entry\nrefuse release 2\n", traced());
}

TEST_F(PluginLoader, MissingDirectoriesAreSkippedSilently)
{
	plugin_load_all(engine);
	EXPECT_TRUE(loaded().empty());
	EXPECT_EQ("", log.text());
}

// ---- FPGA library loader ----

TEST_F(PluginLoader, FpgaLibraryLoader)
{
	void *handle =
	    fpga_lib_load(engine, reinterpret_cast<void *>(7), "libnone-such-fpga.so", FPGA_TEST_LIB);
	ASSERT_NE(nullptr, handle);
	fpga *object = platform_get_fpga(p);
	ASSERT_NE(nullptr, object);
	EXPECT_EQ(p, object->platform);
	EXPECT_EQ(7, fpga_op_query(object));
	EXPECT_EQ(-1, fpga_op_flag(object, 1));
	EXPECT_EQ(-1, fpga_op_value(object, 3));
	EXPECT_EQ(0, fpga_op_query(nullptr));
	EXPECT_EQ("", log.text());
	platform_remove_all_fpga(p);
	fpga_lib_unload(handle);
	fpga_lib_unload(nullptr);

	// A library without the factory, and no library at all.
	EXPECT_EQ(nullptr, fpga_lib_load(engine, nullptr, MOXEL_GOOD, nullptr));
	EXPECT_EQ("Failed to find symbol lib_fpga_create\n", log.text());
	log.clear();
	EXPECT_EQ(nullptr, fpga_lib_load(engine, nullptr, "libnone-such-fpga.so", "libnone-either.so"));
	EXPECT_EQ(0u, log.text().find("Failed to load the FPGA lib: libnone-either.so")) << log.text();
	EXPECT_EQ(nullptr, platform_get_fpga(p));
}

// ---- Dispatch round and streams ----

std::vector<std::string> calls;

int create_algos(prodconf *, control *, int32_t stream_id)
{
	calls.push_back("create " + std::to_string(stream_id));
	return stream_id == 512 ? -1 : 0;
}

int destroy_algos(prodconf *, control *, int32_t stream_id)
{
	calls.push_back("destroy " + std::to_string(stream_id));
	return 0;
}

int seen_records;

int count_step(algo_step *, control *)
{
	seen_records++;
	return 0;
}

class Dispatch : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		calls.clear();
		seen_records = 0;
		conf = prodconf_new();
		conf->create_algos = create_algos;
		conf->destroy_algos = destroy_algos;
		conf->use_stream = 1;
		p = platform_vorsalind_create(nullptr, conf, 1);
		ctx = daemon_get_context();
		*ctx = daemon_context();
		ctx->conf = conf;
		ctx->engine = control_new(p);
		algo_step *step = algo_step_create_stream_id(-1, nullptr, count_step, nullptr, nullptr);
		algo_step_add_input_stream_id(step, 42, -1);
		algo_group *group = algo_group_create(nullptr);
		algo_group_insert(group, step);
		control_add_group(ctx->engine, group);
		control_init_groups(ctx->engine);
	}
	void TearDown() override
	{
		control_stop(ctx->engine);
		control_free(ctx->engine);
		platform_destroy(p);
		g_list_free(ctx->streams);
		g_list_free(ctx->channel_restarts);
		*ctx = daemon_context();
		prodconf_free(conf);
	}
	void streams(std::initializer_list<int> ids)
	{
		for (int id : ids)
			ctx->streams = g_list_append(ctx->streams, GINT_TO_POINTER(id));
	}
	std::vector<int> stream_list()
	{
		std::vector<int> out;
		for (GList *l = ctx->streams; l; l = l->next)
			out.push_back(GPOINTER_TO_INT(l->data));
		return out;
	}

	LogCapture log;
	prodconf *conf = nullptr;
	platform *p = nullptr;
	daemon_context *ctx = nullptr;
};

TEST_F(Dispatch, FramesCountForwardAcrossTheWrap)
{
	ctx->last_frame = 0xfffffffeu;
	control_job a = {}, b = {}, old = {};
	a.type = b.type = old.type = 42;
	a.stream_id = -1;
	b.stream_id = 256;
	old.stream_id = -1;
	a.frame = 0xffffffffu;
	b.frame = 1;
	old.frame = 0xfffffff0u; // older than the newest: not taken
	GList *records = g_list_append(nullptr, &a);
	records = g_list_append(records, nullptr);
	records = g_list_append(records, &b);
	records = g_list_append(records, &old);
	GList *release = nullptr;
	uint32_t before = control_get_frame_count(ctx->engine);
	EXPECT_EQ(0, daemon_dispatch(ctx, records, &release));
	EXPECT_EQ(3u, control_get_frame_count(ctx->engine) - before);
	EXPECT_EQ(1u, ctx->last_frame);
	EXPECT_EQ(3, seen_records);
	// Each stream once, most recent first.
	ASSERT_EQ(2u, g_list_length(release));
	EXPECT_EQ(256, GPOINTER_TO_INT(release->data));
	EXPECT_EQ(-1, GPOINTER_TO_INT(release->next->data));
	g_list_free(release);
	EXPECT_EQ("No input data in list entry!\n", log.text(DEBUG_WARNING));
	EXPECT_EQ(log.text(DEBUG_WARNING), log.text());
}

struct timespec fake_now;

void fake_clock(struct timespec *now)
{
	*now = fake_now;
}

std::vector<uint32_t> timeout_types;

int note_timeout(algo_step *, control *engine)
{
	timeout_types.push_back(control_get_input(engine)->type);
	return 0;
}

// The daemon's timer source in a real main loop: typed timeouts that expired
// in one pass reach their step latest deadline first.
TEST_F(Dispatch, TimerSourceQueuesLatestDeadlineFirst)
{
	timeout_types.clear();
	fake_now = {100, 0};
	control_timeout_set_clock(fake_clock);
	algo_step *step = algo_step_create_stream_id(-1, nullptr, note_timeout, nullptr, nullptr);
	control_timeout *early = control_create_timeout(ctx->engine, step);
	control_timeout *late = control_create_timeout(ctx->engine, step);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(ctx->engine, group);
	control_init_groups(ctx->engine);
	control_timestamp ms10 = {0, 10000}, ms20 = {0, 20000};
	control_start_timeout(ctx->engine, early, &ms10);
	control_start_timeout(ctx->engine, late, &ms20);

	GMainContext *main_context = g_main_context_new();
	GSource *timer = daemon_timer_source_new(ctx);
	g_source_attach(timer, main_context);
	fake_now = {100, 15000000};
	EXPECT_TRUE(g_main_context_iteration(main_context, FALSE));
	EXPECT_EQ(std::vector<uint32_t>{early->type}, timeout_types);
	control_start_timeout(ctx->engine, early, &ms10); // due at 100.025, after the late one
	fake_now = {101, 0};
	timeout_types.clear();
	EXPECT_TRUE(g_main_context_iteration(main_context, FALSE));
	EXPECT_EQ((std::vector<uint32_t>{early->type, late->type}), timeout_types);
	// Nothing pending: the source does not fire.
	timeout_types.clear();
	EXPECT_FALSE(g_main_context_iteration(main_context, FALSE));
	EXPECT_TRUE(timeout_types.empty());
	g_source_destroy(timer);
	g_source_unref(timer);
	g_main_context_unref(main_context);
	control_timeout_set_clock(nullptr);
}

GList *read_tick(platform *, input_source *source, GList *records)
{
	char byte;
	if (read(source->descriptor->fd, &byte, 1) != 1)
		return records;
	control_job *job = g_new0(control_job, 1);
	job->type = 42;
	job->stream_id = -1;
	job->release = [](control_job *done) { g_free(done); };
	return g_list_prepend(records, job);
}

// The daemon's input source in a real main loop: it polls the platform's
// descriptors and hands what a ready one produces to the dispatch.
TEST_F(Dispatch, InputSourceDispatchesWhatAReadyDescriptorGives)
{
	int ends[2];
	ASSERT_EQ(0, pipe(ends));
	input_source *tick =
	    input_source_new(p, "tick", INPUT_SOURCE_READER, nullptr, nullptr, read_tick, nullptr, nullptr);
	ASSERT_NE(nullptr, tick);
	tick->descriptor->fd = ends[0];
	platform_add_input_source(p, tick);
	p->dispatch_ready_fds = platform_dispatch_ready_fds;

	GMainContext *main_context = g_main_context_new();
	GSource *input = daemon_input_source_new(ctx, daemon_dispatch);
	g_source_attach(input, main_context);
	EXPECT_FALSE(g_main_context_iteration(main_context, FALSE)); // nothing to read yet
	EXPECT_EQ(0, seen_records);
	ASSERT_EQ(2, write(ends[1], "xy", 2));
	EXPECT_TRUE(g_main_context_iteration(main_context, FALSE));
	EXPECT_EQ(1, seen_records);
	EXPECT_TRUE(g_main_context_iteration(main_context, FALSE));
	EXPECT_EQ(2, seen_records);
	EXPECT_FALSE(g_main_context_iteration(main_context, FALSE));

	// A source taken away leaves the poll set at the next iteration.
	platform_free_input_source_by_name(p, "tick");
	ASSERT_EQ(1, write(ends[1], "z", 1));
	EXPECT_FALSE(g_main_context_iteration(main_context, FALSE));
	EXPECT_EQ(2, seen_records);
	g_source_destroy(input);
	g_source_unref(input);
	g_main_context_unref(main_context);
	close(ends[0]);
	close(ends[1]);
}

TEST_F(Dispatch, TypeZeroIsReleasedWithoutAStep)
{
	static int released;
	released = 0;
	control_job job = {};
	job.type = 0;
	job.release = [](control_job *) { released++; };
	EXPECT_EQ(0, daemon_dispatch(ctx, g_list_append(nullptr, &job), nullptr));
	EXPECT_EQ(1, released);
	EXPECT_EQ(0, seen_records);
}

TEST_F(Dispatch, AddAndRemoveStreams)
{
	streams({0});
	EXPECT_EQ(1, daemon_add_stream(ctx, 256));
	EXPECT_EQ(0, daemon_add_stream(ctx, 256));
	EXPECT_EQ((std::vector<int>{256, 0}), stream_list());
	EXPECT_EQ(0, daemon_remove_stream(ctx, 512));
	EXPECT_EQ(0, daemon_remove_stream(ctx, -1));
	EXPECT_EQ(1, daemon_remove_stream(ctx, 256));
	EXPECT_EQ((std::vector<int>{0}), stream_list());
	EXPECT_EQ((std::vector<std::string>{"create 256", "destroy 256"}), calls);
	EXPECT_EQ("DBus tried to add existing stream id 256\n"
	          "DBus tried to remove non-existing stream_id 512\n"
	          "Can't remove stream id -1!\n",
	          log.text());

	log.clear();
	conf->use_stream = 0;
	EXPECT_EQ(0, daemon_add_stream(ctx, 768));
	EXPECT_EQ(0, daemon_remove_stream(ctx, 0));
	EXPECT_EQ("Add stream with old stream concept (use_stream = 0)                 is not correct\n"
	          "Remove stream with old stream concept (use_stream = 0)                 is not correct\n",
	          log.text());
}

TEST_F(Dispatch, StreamAndChannelRestarts)
{
	streams({0, 1, 256, 512});
	daemon_request_stream_restart();
	daemon_dispatch(ctx, nullptr, nullptr);
	EXPECT_EQ((std::vector<std::string>{"destroy 0", "destroy 1", "destroy 256", "destroy 512",
	                                    "create 0", "create 1", "create 256", "create 512"}),
	          calls);
	EXPECT_EQ(0, ctx->stream_restart);
	EXPECT_EQ("Stream 512 constructor failed.\n", log.text(DEBUG_WARNING));
	EXPECT_EQ(log.text(DEBUG_WARNING), log.text());

	calls.clear();
	daemon_request_channel_restart(0);
	daemon_request_channel_restart(0);
	daemon_request_channel_restart(2);
	EXPECT_EQ(2u, g_list_length(ctx->channel_restarts));
	daemon_dispatch(ctx, nullptr, nullptr);
	// Channel 0's streams come back in the reverse order of the list.
	EXPECT_EQ((std::vector<std::string>{"destroy 0", "destroy 1", "create 1", "create 0", "destroy 512",
	                                    "create 512"}),
	          calls);
	EXPECT_EQ(nullptr, ctx->channel_restarts);

	calls.clear();
	daemon_dispatch(ctx, nullptr, nullptr);
	EXPECT_TRUE(calls.empty());
}

} // namespace

namespace
{

TEST_F(Dispatch, ProductConstantsPerChannel)
{
	conf->constants[0].i2c_bus = 10;
	conf->constants[1].i2c_bus = 11;
	ctx->constants_conf = conf;
	EXPECT_EQ(10, prodconf_get_product_constants(-1)->i2c_bus);
	EXPECT_EQ(10, prodconf_get_product_constants(3)->i2c_bus);
	EXPECT_EQ(11, prodconf_get_product_constants(256 + 2)->i2c_bus);
	EXPECT_EQ(nullptr, prodconf_get_product_constants(8 << 8));

	// Stored records are copies: the caller keeps its own.
	int32_t channels[] = {0, 1};
	prodconf_product_constants mine = {};
	mine.i2c_bus = 5;
	mine.calibration_path = const_cast<char *>("/lib/persistent/cal");
	mine.channels = channels;
	mine.channel_count = 2;
	prodconf_set_product_constants(&mine);
	prodconf_product_constants *c0 = prodconf_get_product_constants(0);
	EXPECT_EQ(5, c0->i2c_bus);
	EXPECT_STREQ("/lib/persistent/cal", c0->calibration_path);
	EXPECT_NE(mine.calibration_path, c0->calibration_path);
	ASSERT_EQ(2u, c0->channel_count);
	EXPECT_EQ(1, c0->channels[1]);
	EXPECT_NE(channels, c0->channels);

	GHashTable *table = g_hash_table_new(g_direct_hash, g_direct_equal);
	g_hash_table_insert(table, GINT_TO_POINTER(1), &mine);
	prodconf_set_product_constants_table(table);
	g_hash_table_destroy(table);
	EXPECT_EQ(0, prodconf_get_product_constants(0)->i2c_bus);
	EXPECT_EQ(nullptr, prodconf_get_product_constants(0)->calibration_path);
	EXPECT_EQ(5, prodconf_get_product_constants(256)->i2c_bus);
	prodconf_set_product_constants_table(nullptr);
	EXPECT_EQ(5, prodconf_get_product_constants(256)->i2c_bus);
}

} // namespace

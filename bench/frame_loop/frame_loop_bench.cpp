// What one frame of the demo camera costs, the whole per-frame road in one
// process: the daemon started from the demo camera's configuration (for n
// channels, each creating the demo's algorithm steps) as vistrad starts,
// with the simulated kernel having the camera library prepare and start;
// then, frame by frame, the camera library's frame-thread work (fetch and
// parse of the statistics, white balance, HDR, filters, pending settings,
// post) and one turn of the daemon's main loop (the platform's poll and
// read, the statistics record dispatched by the control engine to the
// algorithm steps: histogram analyser, smart auto exposure, dynamic image
// control, day/night, image control). The library's frame thread is held
// and its work runs on the benchmark's thread, so that a frame is timed
// whole. The scene is the demo's lit grey card and the loop runs closed on
// it; the tick and the simulated DSP's statistics of each frame are made
// before the frame is timed, and the first frames, while exposure and white
// balance settle, are not timed. Beside it, in the same run, the empty road
// of bench/frame_road: the same poll, read and dispatch to one step that
// only reads the record. Each case runs in a child process, as the daemon
// starts once a process. A frame's time is the CPU time of the thread that
// runs it. Counters: the loop's median time a frame with its 10th and 90th
// percentiles, the empty road's median, their ratio, and the loop's median
// as a share of a 33.3 ms frame.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "cc_firmware.h"
#include "core/daemon.h"
#include "core/prodconf.h"
#include "frame_road.h"
#include "libcl_bench.h"
#include "paired.h"
#include "private_bus.h"
#include "replace_once.h"
#include "simsoc_ircut.h"
#include "simsoc_isl29033.h"
#include "simsoc_video.h"

// The daemon logs through syslog, which on a machine without a syslog
// daemon writes each line to the console, at a serial line's pace. The
// benchmark takes the lines itself: each is formatted, as for a syslog
// daemon, and dropped.
namespace
{
void take_log_line(const char *format, va_list ap)
{
	char line[1024];
	vsnprintf(line, sizeof line, format, ap);
	benchmark::DoNotOptimize(line[0]);
}
} // namespace

extern "C" void vsyslog(int, const char *format, va_list ap)
{
	take_log_line(format, ap);
}

extern "C" void syslog(int, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	take_log_line(format, ap);
	va_end(ap);
}

extern "C" void __syslog_chk(int, int, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	take_log_line(format, ap);
	va_end(ap);
}

extern "C" void __vsyslog_chk(int, int, const char *format, va_list ap)
{
	take_log_line(format, ap);
}

namespace
{

constexpr double kFrameMicroseconds = 1e6 / 30;
// Frames left untimed while the loop settles (the demo's exposure bound is
// 150 frames), and frames timed.
constexpr int kSettleFrames = 300;
constexpr int kTimedFrames = 1000;

using Clock = std::chrono::steady_clock;

// The benchmark thread's CPU time: a frame's cost, not the waits in poll
// for the main loop's other sources.
double thread_cpu_us()
{
	timespec t;
	clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
	return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// What a child reports.
struct Figures {
	double loop_p10, loop_median, loop_p90, road_median;
	char error[160];
};

// The demo camera's configuration with n image sources, each channel
// creating the algorithms the demo's channel 0 creates; empty when the
// demo's text no longer has the lines this rewrites.
std::string demo_yaml_for(const std::string &demo, int n)
{
	std::string yaml = demo, channels;
	for (int c = 0; c < n; c++)
		channels += (c ? ", " : "") + std::to_string(c);
	if (!replace_once(yaml, "    channels: [0]\n    image_sources: 1\n",
	                  "    channels: [" + channels + "]\n    image_sources: " + std::to_string(n) + "\n"))
		return "";
	const std::string key = "\n  CHANNEL0: [";
	size_t from = yaml.find(key), to = yaml.find("]\n", from);
	if (from == std::string::npos || to == std::string::npos)
		return "";
	std::string list = yaml.substr(from + key.size() - 1, to + 1 - (from + key.size() - 1));
	std::string lists;
	for (int c = 0; c < n; c++)
		lists += "\n  CHANNEL" + std::to_string(c) + ": " + list;
	yaml.replace(from, to + 1 - from, lists);
	return yaml;
}

std::string read_text(const std::string &path)
{
	std::string text;
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return text;
	char buf[4096];
	for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
		text.append(buf, n);
	fclose(f);
	return text;
}

bool write_text(const std::string &path, const std::string &text)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (!f)
		return false;
	bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
	return fclose(f) == 0 && ok;
}

void remove_root(const std::string &root)
{
	std::string cmd = "rm -rf '" + root + "'";
	if (system(cmd.c_str()) != 0)
		fprintf(stderr, "frame_loop: %s not removed\n", root.c_str());
}

// The demo's root for n channels, with the colour-correction files the
// library's prepare reads; empty on failure, nothing left behind.
std::string demo_root(int n)
{
	char tmpl[] = "/tmp/frame-loop-XXXXXX";
	if (!mkdtemp(tmpl))
		return "";
	std::string root = tmpl;
	std::string cmd = "mkdir -p '" + root + "/etc/vistrad' && cp -R '" DEMO_DATA "/.' '" + root + "/'";
	const std::string conf_path = root + "/usr/lib/vistrad/vistrad.yaml";
	std::string yaml;
	if (system(cmd.c_str()) == 0 && install_cc_firmware(root))
		yaml = demo_yaml_for(read_text(conf_path), n);
	if (yaml.empty() || !write_text(conf_path, yaml)) {
		remove_root(root);
		return "";
	}
	return root;
}

// The board of n VINs; the scene the demo's lit grey card, with its lamp
// and glow, under 5000 K.
void simulated_camera(unsigned n)
{
	simsoc_video_reset();
	bench::simulated_board(n);
	simsoc_scene_set_uniform(400);
	simsoc_scene_set_highlights(0.009765625, 1e6);
	simsoc_scene_set_highlights(0.001953125, 1000);
	simsoc_scene_set_colour_temperature(5000);
}

void next_frame()
{
	simsoc_vin_tick(0);
	simsoc_qvd_make_frame();
}

// The empty road's median time a frame, or a negative value.
double time_empty_road()
{
	bench::EmptyRoad road(CL_CC_FIRMWARE_ROOT);
	if (!road.up())
		return -1;
	std::vector<double> times;
	for (int f = 0; f < kSettleFrames + kTimedFrames; f++) {
		simsoc_vin_tick(0);
		double t0 = thread_cpu_us();
		road.frame();
		if (f >= kSettleFrames)
			times.push_back(thread_cpu_us() - t0);
	}
	if (bench::EmptyRoad::consumed() != (uint64_t)(kSettleFrames + kTimedFrames))
		return -1;
	return bench::percentile(times, 0.5);
}

// One frame: the library's frame-thread work, then the daemon's main loop
// until it has dispatched the frame's records. Null, or what failed.
const char *loop_frame(int fd)
{
	if (cl_main_loop_frame(fd) != 0)
		return "the camera library's fetch or parse failed";
	daemon_context *ctx = daemon_get_context();
	const control_timestamp seen = ctx->last_dispatch;
	auto until = Clock::now() + std::chrono::seconds(2);
	while (ctx->last_dispatch.sec == seen.sec && ctx->last_dispatch.usec == seen.usec) {
		if (Clock::now() > until)
			return "the daemon dispatched no records within 2 s";
		g_main_context_iteration(nullptr, TRUE);
	}
	return nullptr;
}

// The daemon on n channels; fills the loop's figures or says what failed.
void time_loop(int n, const std::string &root, Figures *out)
{
	auto fail = [out](const char *why) { snprintf(out->error, sizeof out->error, "%s", why); };
	// As scripts/demo runs it: the IR-cut filter's device and a light
	// sensor reading 50 lux.
	setenv("VISTRAD_ROOT", root.c_str(), 1);
	setenv("SIMSOC_VIN_FRAMERATE", "0", 1);
	simsoc_ircut_dev_add("/dev/ircut0");
	const std::string light = root + "/dev/isl29033_0";
	simsoc_isl29033_add(light.c_str(), nullptr, 0);
	simsoc_isl29033_set_lux(light.c_str(), 50);
	simulated_camera((unsigned)n);
	prodconf *conf = prodconf_new();
	if (prodconf_load(conf) != 0) {
		prodconf_free(conf);
		return fail("demo configuration not loaded");
	}
	char name[] = "vistrad";
	char *argv[] = {name, nullptr};
	cl_main_loop_hold(1);
	// The capture mode's start waits for frames.
	int started = bench::with_clock([&] { return daemon_start(1, argv, conf); });
	bool up = started == 0 && cl_customerloop_aaa_started();
	if (started != 0)
		fail("the daemon did not start");
	else if (!up)
		fail("the camera library did not start");
	if (up) {
		const int fd = cl_state().qvd_fd;
		cl_main_loop_begin(fd);
		std::vector<double> times;
		const char *failed = nullptr;
		for (int f = 0; !failed && f < kSettleFrames + kTimedFrames; f++) {
			if (f == kSettleFrames)
				simsoc_qvd_posts_clear();
			next_frame();
			double t0 = thread_cpu_us();
			failed = loop_frame(fd);
			if (f >= kSettleFrames)
				times.push_back(thread_cpu_us() - t0);
		}
		// A frame that skipped the image kernel, or ran white balance or
		// exposure on nothing, would be timed cheap.
		shutter_gain sg{};
		const cl_aaa_block &wb = cl_state().channel[0].aaa;
		if (failed)
			fail(failed);
		else if (!simsoc_qvd_posts())
			fail("the image kernel posted no configuration while timed");
		else if (!wb.wb_r_gain || !wb.wb_g_gain || !wb.wb_b_gain)
			fail("white balance left a gain of 0");
		else if (libcl_get_shutter_and_gain(0, &sg) != 0 || !sg.shutter[0])
			fail("no exposure reached the camera library");
		out->loop_p10 = bench::percentile(times, 0.1);
		out->loop_median = bench::percentile(times, 0.5);
		out->loop_p90 = bench::percentile(times, 0.9);
		cl_main_loop_end(fd);
	}
	if (started != 1)
		daemon_finish();
	cl_main_loop_hold(0);
	prodconf_free(conf);
}

// The child's whole run: the empty road, then the daemon's loop.
Figures run_case(int n)
{
	Figures f{};
	f.road_median = time_empty_road();
	if (f.road_median < 0) {
		snprintf(f.error, sizeof f.error, "the empty road had no frame source or 3A, or lost a tick");
		return f;
	}
	std::string root = demo_root(n);
	if (root.empty()) {
		snprintf(f.error, sizeof f.error, "demo root for %d channels not made", n);
		return f;
	}
	try {
		testsupport::PrivateBus bus;
		time_loop(n, root, &f);
	} catch (const std::exception &e) {
		snprintf(f.error, sizeof f.error, "%s", e.what());
	}
	remove_root(root);
	return f;
}

void BM_FrameLoop(benchmark::State &state)
{
	const int n = (int)state.range(0);
	Figures f{};
	for (auto _ : state) {
		int pipe_fd[2];
		if (pipe(pipe_fd) != 0) {
			state.SkipWithError("no pipe");
			return;
		}
		fflush(nullptr);
		pid_t child = fork();
		if (child == 0) {
			close(pipe_fd[0]);
			// The daemon's log, unless asked for.
			if (!getenv("BENCH_DAEMON_LOG")) {
				int null = open("/dev/null", O_WRONLY);
				dup2(null, 1);
				dup2(null, 2);
			}
			Figures mine = run_case(n);
			ssize_t w = write(pipe_fd[1], &mine, sizeof mine);
			_exit(w == (ssize_t)sizeof mine ? 0 : 1);
		}
		close(pipe_fd[1]);
		ssize_t got = child > 0 ? read(pipe_fd[0], &f, sizeof f) : -1;
		close(pipe_fd[0]);
		int status = 0;
		if (child > 0)
			waitpid(child, &status, 0);
		if (got != (ssize_t)sizeof f) {
			state.SkipWithError("the case's process ended without its figures");
			return;
		}
		state.SetIterationTime(f.loop_median * 1e-6);
	}
	if (f.error[0]) {
		state.SkipWithError(f.error);
		return;
	}
	state.counters["loop_us"] = f.loop_median;
	state.counters["loop_p10_us"] = f.loop_p10;
	state.counters["loop_p90_us"] = f.loop_p90;
	state.counters["road_us"] = f.road_median;
	state.counters["loop/road"] = f.loop_median / f.road_median;
	state.counters["frame_share_pct"] = 100.0 * f.loop_median / kFrameMicroseconds;
}

BENCHMARK(BM_FrameLoop)
    ->ArgName("channels")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

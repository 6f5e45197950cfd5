// What one frame of the demo camera costs, the whole per-frame road in one
// process: the video input's tick through the platform's poll and read, the
// statistics record dispatched by the control engine to the algorithm steps
// the demo configuration creates (histogram analyser, smart auto exposure,
// dynamic image control, day/night, image control), and the camera
// library's frame-thread work (fetch and parse of the pre-generated
// statistics, white balance, HDR, filters, pending settings, post), run
// here on the benchmark's thread so that a frame is timed whole. Beside it,
// in the same run and taking turns frame by frame, the empty road of
// bench/frame_road: the same tick and dispatch to one step that only reads
// the record. Counters: each side's median time, the loop over the road
// with its 10th and 90th percentiles, and the loop's median as a share of a
// 33.3 ms frame.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_hwsetup.h"
#include "libcl_bench.h"
#include "paired.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform_vorsalind.h"

namespace
{

constexpr double kFrameMicroseconds = 1e6 / 30;

uint64_t road_records;

int read_record(algo_step *, control *engine)
{
	auto *record = reinterpret_cast<platform_soc_stats *>(control_get_input(engine));
	uint32_t first_bin = record->channel[0].cfa_hist.his_bin_y[0];
	benchmark::DoNotOptimize(first_bin);
	road_records++;
	return 0;
}

// The platform's descriptors, shared by the engines it feeds: the platform
// says once that they changed.
std::vector<pollfd> fds;

// One engine fed by the shared platform: tick, poll, read, dispatch.
struct Road {
	platform *plat;
	control *engine;
	std::vector<int> ready;

	void frame()
	{
		simsoc_vin_tick(0);
		plat->prepare(plat);
		if (plat->sources_changed) {
			int *list = nullptr, *writer = nullptr, count = 0;
			platform_get_input_fds(plat, &list, &writer, &count);
			fds.clear();
			for (int i = 0; i < count; i++)
				fds.push_back({list[i], (short)(POLLIN | POLLERR | POLLHUP), 0});
			g_free(list);
			g_free(writer);
			plat->sources_changed = 0;
		}
		plat->poll(fds.data(), fds.size(), -1);
		ready.clear();
		for (const pollfd &f : fds)
			if (f.revents & (POLLIN | POLLPRI | POLLOUT | POLLHUP))
				ready.push_back(f.fd);
		GList *records = plat->dispatch_ready_fds(plat, ready.data(), (int)ready.size());
		for (GList *l = records; l; l = l->next)
			control_queue_job(engine, static_cast<control_job *>(l->data));
		control_dispatch(engine, nullptr);
		platform_release_data(plat, nullptr);
		g_list_free(records);
	}
};

std::string copy_demo_root()
{
	char tmpl[] = "/tmp/frame-loop-XXXXXX";
	std::string root = mkdtemp(tmpl);
	std::string cmd = "cp -R '" DEMO_DATA "/.' '" + root + "/'";
	if (system(cmd.c_str()) != 0)
		return "";
	return root;
}

bool replace_once(std::string &text, const std::string &from, const std::string &to)
{
	size_t at = text.find(from);
	if (at == std::string::npos)
		return false;
	text.replace(at, from.size(), to);
	return true;
}

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

// The daemon's pieces for n channels, the algorithms of the demo
// configuration created on every channel that has a sensor.
struct Camera {
	std::string root;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *loop_engine = nullptr;
	control *road_engine = nullptr;
	std::string error;

	explicit Camera(int n)
	{
		root = copy_demo_root();
		if (root.empty()) {
			error = "demo root not copied";
			return;
		}
		const std::string conf_path = root + "/usr/lib/vistrad/vistrad.yaml";
		std::string yaml = demo_yaml_for(read_text(conf_path), n);
		if (yaml.empty() || !write_text(conf_path, yaml)) {
			error = "demo configuration not rewritten for " + std::to_string(n) + " channels";
			return;
		}
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		if (!bench::libcl_bring_up((unsigned)n)) {
			error = "camera library bring-up failed";
			return;
		}
		info_pool_init();
		param_map_init();
		param_db_init();
		conf = prodconf_new();
		if (prodconf_load(conf) != 0) {
			error = "demo configuration not loaded";
			return;
		}
		plat = platform_vorsalind_create(nullptr, conf, n);
		loop_engine = control_new(plat);
		for (int c = 0; c < n; c++) {
			setup_hardware_items(conf, loop_engine, c);
			// A channel without its steps would time an empty road and
			// call it the loop.
			if (!conf->create_algos || conf->create_algos(conf, loop_engine, c * 256) != 0 ||
			    !control_has_group_of_owner(loop_engine, (uint32_t)(c * 256))) {
				error = "no algorithm steps created on channel " + std::to_string(c);
				return;
			}
		}
		control_init_groups(loop_engine);
		road_engine = control_new(plat);
		algo_step *step = algo_step_create(nullptr, read_record, nullptr, nullptr);
		algo_step_add_input(step, PLATFORM_DATA_SOC_STATS);
		algo_group *group = algo_group_create(nullptr);
		algo_group_insert(group, step);
		control_add_group(road_engine, group);
		if (platform_sync_config_for_stream(plat, 0) != PLATFORM_OK)
			error = "no frame source";
		cl_main_loop_begin(cl_state().qvd_fd);
		// The platform reads statistics only while 3A runs; the frame
		// thread's work runs on the benchmark's thread instead of its own.
		cl_state().state = CL_STATE_STARTED;
	}
	~Camera()
	{
		for (control *engine : {road_engine, loop_engine})
			if (engine) {
				control_stop(engine);
				control_free(engine);
			}
		if (plat)
			platform_destroy(plat);
		if (conf)
			prodconf_free(conf);
		cl_state().state = CL_STATE_PREPARED;
		bench::libcl_bring_down();
		param_db_free();
		param_map_free();
		info_pool_free();
		if (!root.empty()) {
			std::string cmd = "rm -rf '" + root + "'";
			if (system(cmd.c_str()) != 0)
				abort();
		}
		unsetenv("VISTRAD_ROOT");
	}
};

void BM_FrameLoop(benchmark::State &state)
{
	const int n = (int)state.range(0);
	Camera cam(n);
	if (!cam.error.empty()) {
		state.SkipWithError(cam.error.c_str());
		return;
	}
	fds.clear();
	Road loop{cam.plat, cam.loop_engine, {}};
	Road road{cam.plat, cam.road_engine, {}};
	const int fd = cl_state().qvd_fd;
	int failed = 0;
	road_records = 0;
	bench::runPaired(state, {{"loop",
	                          [&] {
		                          loop.frame();
		                          failed += cl_main_loop_frame(fd) != 0;
	                          }},
	                         {"road", [&] { road.frame(); }}});
	if (failed)
		state.SkipWithError("a camera library frame failed");
	if (!road_records)
		state.SkipWithError("no tick reached the road's step");
	state.counters["frame_share_pct"] = 100.0 * state.counters["loop_us"] / kFrameMicroseconds;
}

BENCHMARK(BM_FrameLoop)->ArgName("channels")->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

// What one frame costs the daemon before any algorithm runs: a hand-stepped
// tick of the simulated video input through poll, the frame tick's read, the
// statistics pool and fill, and the control engine's dispatch to one
// consuming step. The baseline is the simulated tick with a bare poll and
// read, so the ratio of the two shows what the platform and engine add.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "core/control.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform_vorsalind.h"
#include "simsoc_vin.h"

namespace
{

struct prodconf_stub {
	int unused;
} conf_stub;

uint64_t consumed;

int consume(algo_step *, control *engine)
{
	auto *record = reinterpret_cast<platform_soc_stats *>(control_get_input(engine));
	// Read the statistics so the fill is not optimised away, but count the
	// record whatever they hold.
	uint32_t first_bin = record->channel[0].cfa_hist.his_bin_y[0];
	benchmark::DoNotOptimize(first_bin);
	consumed++;
	return 0;
}

void BM_TickPollRead(benchmark::State &state)
{
	simsoc_vin_set_framerate(0, 0);
	int fd = open("/proc/vorsalind/vin0_idsp", O_RDONLY);
	pollfd pfd = {fd, POLLIN, 0};
	uint64_t frame = 0;
	for (auto _ : state) {
		simsoc_vin_tick(0);
		if (poll(&pfd, 1, -1) != 1 || read(fd, &frame, sizeof frame) != sizeof frame)
			state.SkipWithError("tick not readable");
		benchmark::DoNotOptimize(frame);
	}
	close(fd);
	state.SetItemsProcessed(state.iterations());
}

void BM_FrameRoad(benchmark::State &state)
{
	simsoc_vin_set_framerate(0, 0);
	platform *p = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
	control *engine = control_new(p);
	algo_step *step = algo_step_create(nullptr, consume, nullptr, nullptr);
	algo_step_add_input(step, PLATFORM_DATA_SOC_STATS);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	if (platform_sync_config_for_stream(p, 0) != PLATFORM_OK)
		state.SkipWithError("no frame source");

	std::vector<pollfd> fds;
	std::vector<int> ready;
	consumed = 0;
	for (auto _ : state) {
		simsoc_vin_tick(0);
		p->prepare(p);
		if (p->sources_changed) {
			int *list = nullptr, *writer = nullptr, count = 0;
			platform_get_input_fds(p, &list, &writer, &count);
			fds.clear();
			for (int i = 0; i < count; i++)
				fds.push_back({list[i], (short)(POLLIN | POLLERR | POLLHUP), 0});
			g_free(list);
			g_free(writer);
			p->sources_changed = 0;
		}
		p->poll(fds.data(), fds.size(), -1);
		ready.clear();
		for (const pollfd &f : fds)
			if (f.revents & (POLLIN | POLLPRI | POLLOUT | POLLHUP))
				ready.push_back(f.fd);
		GList *records = p->dispatch_ready_fds(p, ready.data(), (int)ready.size());
		for (GList *l = records; l; l = l->next)
			control_queue_job(engine, static_cast<control_job *>(l->data));
		control_dispatch(engine, nullptr);
		platform_release_data(p, nullptr);
		g_list_free(records);
	}
	if (consumed != (uint64_t)state.iterations())
		state.SkipWithError("a tick did not reach the step");
	state.SetItemsProcessed(state.iterations());
	control_stop(engine);
	control_free(engine);
	platform_destroy(p);
}

BENCHMARK(BM_TickPollRead);
BENCHMARK(BM_FrameRoad);

} // namespace

BENCHMARK_MAIN();

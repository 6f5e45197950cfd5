// What one frame costs the daemon before any algorithm runs: a hand-stepped
// tick of the simulated video input through poll, the frame tick's read, the
// statistics pool and fill, and the control engine's dispatch to one
// consuming step, with the camera library started as the daemon has it (the
// platform makes records only then). The baseline is the simulated tick
// with a bare poll and read, so the ratio of the two shows what the platform
// and engine add.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "frame_road.h"
#include "simsoc_vin.h"

namespace
{

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
	bench::EmptyRoad road(CL_CC_FIRMWARE_ROOT);
	if (!road.up())
		state.SkipWithError("no frame source, or 3A did not start");
	for (auto _ : state) {
		simsoc_vin_tick(0);
		road.frame();
	}
	if (bench::EmptyRoad::consumed() != (uint64_t)state.iterations())
		state.SkipWithError("a tick did not reach the step");
	state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_TickPollRead);
BENCHMARK(BM_FrameRoad);

} // namespace

BENCHMARK_MAIN();

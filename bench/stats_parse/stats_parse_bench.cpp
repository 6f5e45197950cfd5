// What a frame's statistics cost the 3A library: the fetch from the video
// driver and the parse of every channel, on a frame the simulated driver
// replays (so its making is not counted), for one and for four channels.
// Each figure is given as a share of a 33.3 ms frame period and against a
// plain copy of the 410,640-byte statistics area, timed in the same run.
#include <benchmark/benchmark.h>

#include "aaa_parser.h"
#include "img_lib.h"
#include "sim_board.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

constexpr double kFrameSeconds = 1.0 / 30;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0)
{
	return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Seconds one copy of the statistics area takes, best of a few rounds.
double copy_seconds()
{
	std::vector<uint8_t> a(AAA_STAT_AREA_SIZE, 1), b(AAA_STAT_AREA_SIZE);
	double best = 1;
	for (int round = 0; round < 20; round++) {
		auto t0 = Clock::now();
		for (int i = 0; i < 50; i++) {
			memcpy(b.data(), a.data(), a.size());
			benchmark::ClobberMemory();
		}
		best = std::min(best, seconds_since(t0) / 50);
	}
	return best;
}

struct Area {
	std::vector<uint8_t> bytes = std::vector<uint8_t>(AAA_STAT_AREA_SIZE);
	aaa_stat_desc desc{};
	Area()
	{
		aaa_stat_desc_layout(bytes.data(), &desc);
	}
};

void BM_FetchParse(benchmark::State &state)
{
	unsigned vins = (unsigned)state.range(0);
	bench::simulated_board(vins);
	img_set_vin_chan_num((int)vins);
	int fd = open(QVD_DEVICE, O_RDWR);
	Area area;
	channel_info info[4]{};
	for (channel_info &c : info)
		c.expo_num = 1;
	auto out = std::make_unique<aaa_parse_out>();
	simsoc_vin_tick(0);
	simsoc_qvd_replay(1);
	double seconds = 0;
	int failed = 0;
	for (auto _ : state) {
		auto t0 = Clock::now();
		failed += hal_get_aaa_stat(fd, &area.desc) != 0;
		failed += parse_aaa_data(&area.desc, info, out.get()) != 0;
		seconds += seconds_since(t0);
		benchmark::DoNotOptimize(out->chan[0].set.ae[0].cfa_luma);
	}
	simsoc_qvd_replay(0);
	close(fd);
	if (failed)
		state.SkipWithError("a fetch or parse failed");
	if (!state.iterations())
		return;
	double per_frame = seconds / (double)state.iterations();
	state.counters["frame_share_pct"] = 100.0 * per_frame / kFrameSeconds;
	state.counters["x_copy"] = per_frame / copy_seconds();
}

void BM_CopyStatisticsArea(benchmark::State &state)
{
	std::vector<uint8_t> a(AAA_STAT_AREA_SIZE, 1), b(AAA_STAT_AREA_SIZE);
	double seconds = 0;
	for (auto _ : state) {
		auto t0 = Clock::now();
		memcpy(b.data(), a.data(), a.size());
		benchmark::ClobberMemory();
		seconds += seconds_since(t0);
	}
	if (state.iterations())
		state.counters["frame_share_pct"] =
		    100.0 * seconds / (double)state.iterations() / kFrameSeconds;
}

BENCHMARK(BM_FetchParse)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyStatisticsArea)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

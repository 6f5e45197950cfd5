// What white balance costs a frame: awb_run_instances over 1024 tiles for
// one and for four channels, on a frame that searches the white points and
// on one that only counts down, each as a share of a 33.3 ms frame period.
#include <benchmark/benchmark.h>

#include "aaa_parser.h"
#include "awb.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

constexpr double kFrameSeconds = 1.0 / 30;

using Clock = std::chrono::steady_clock;

awb_zone box(int16_t r0, int16_t r1, int16_t b0, int16_t b1, int16_t weight)
{
	awb_zone z{};
	z.r_min = r0;
	z.r_max = r1;
	z.b_min = b0;
	z.b_max = b1;
	for (int k = 0; k < 4; k++)
		z.line[k] = {0, (int16_t)(k % 2 ? INT16_MAX : INT16_MIN)};
	z.weight = weight;
	return z;
}

// Twelve zones along a locus from (1300, 2800) to (2400, 1350), a negative
// one in the middle; every environment searches all of them.
awb_tuning tuning()
{
	awb_tuning t{};
	for (int i = 0; i < AWB_PRESETS; i++) {
		t.preset[i][0] = 1300 + 100 * (uint32_t)i;
		t.preset[i][1] = 1024;
		t.preset[i][2] = 2800 - 120 * (uint32_t)i;
	}
	for (int z = 0; z < 12; z++) {
		int16_t r = (int16_t)(1300 + 92 * z), b = (int16_t)(2800 - 121 * z);
		t.zone[z] = box(r, (int16_t)(r + 120), (int16_t)(b - 150), b, 10);
	}
	t.zone[12] = box(1800, 1840, 2200, 2240, -1);
	for (auto &e : t.env) {
		e[0] = 0;
		e[1] = 13;
	}
	return t;
}

struct Frame {
	std::unique_ptr<aaa_parse_out> stats = std::make_unique<aaa_parse_out>();
	cl_aaa_block blocks[4]{};
	int chans;

	explicit Frame(int n) : chans(n)
	{
		awb_destroy_instances();
		awb_set_instance_count(n);
		channel_info info[4]{};
		for (int c = 0; c < 4; c++)
			info[c].follow_chan = (uint32_t)c;
		awb_set_channel_info(info);
		std::vector<uint8_t> blocks_cfg(4 * AWB_TUNING_STRIDE);
		awb_tuning t = tuning();
		for (int c = 0; c < 4; c++)
			memcpy(blocks_cfg.data() + c * AWB_TUNING_STRIDE, &t, sizeof t);
		awb_create_instances(blocks_cfg.data());
		// A picture of many colours: most tiles near the locus, some not.
		for (int c = 0; c < 4; c++) {
			aaa_parse_result &r = stats->chan[c];
			r.awb_tiles = AWB_TILES;
			stats->valid[c] = 1;
			for (uint32_t i = 0; i < AWB_TILES; i++) {
				uint32_t g = 4000 + (i * 37) % 2000;
				r.set.awb[i] = aaa_awb_tile{g * 1024 / (1300 + (i * 53) % 1200),
				                            g,
				                            g * 1024 / (1350 + (i * 71) % 1500),
				                            20 + i % 30,
				                            {}};
			}
			blocks[c].wb_r_gain = blocks[c].wb_g_gain = blocks[c].wb_b_gain = 1024;
		}
		awb_run_instances(stats.get(), blocks); // the first run
	}
	~Frame()
	{
		awb_destroy_instances();
	}
	void countdown(int16_t frames)
	{
		for (int c = 0; c < chans; c++)
			awb_get_instance(c)->data->countdown = frames;
	}
};

void report(benchmark::State &state, double seconds, int failed)
{
	if (failed)
		state.SkipWithError("a run failed");
	if (state.iterations())
		state.counters["frame_share_pct"] =
		    100.0 * seconds / (double)state.iterations() / kFrameSeconds;
}

double seconds_since(Clock::time_point t0)
{
	return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_AwbSearchingFrame(benchmark::State &state)
{
	Frame f((int)state.range(0));
	double seconds = 0;
	int failed = 0;
	for (auto _ : state) {
		f.countdown(0);
		auto t0 = Clock::now();
		failed += awb_run_instances(f.stats.get(), f.blocks) != 0;
		seconds += seconds_since(t0);
		benchmark::DoNotOptimize(f.blocks[0].wb_r_gain);
	}
	report(state, seconds, failed);
}

void BM_AwbCountdownFrame(benchmark::State &state)
{
	Frame f((int)state.range(0));
	double seconds = 0;
	int failed = 0;
	for (auto _ : state) {
		f.countdown(INT16_MAX);
		auto t0 = Clock::now();
		failed += awb_run_instances(f.stats.get(), f.blocks) != 0;
		seconds += seconds_since(t0);
		benchmark::DoNotOptimize(f.blocks[0].wb_r_gain);
	}
	report(state, seconds, failed);
}

BENCHMARK(BM_AwbSearchingFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AwbCountdownFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

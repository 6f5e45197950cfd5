// What the 3A library's per-frame work costs the camera library's frame
// thread: the HDR update of every channel and the send of each channel's
// HDR settings to the image kernel (with the HDR post to a driver hook that
// answers 0), for one and four two-exposure channels combined by the DSP,
// steady (nothing changed, nothing sent) and with every channel recomputed
// and sent every frame. Each figure is a share of a 33.3 ms frame period.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "ik_bench.h"
#include "img_dsp.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"

namespace
{

constexpr double kFrameSeconds = 1.0 / 30;
constexpr uint8_t kHdrCfgs = 9; /* the bring-up's configurations a channel */

// The HDR module over n channels, as the camera library sets it up at 3A
// start, with the per-frame inputs at neutral values.
struct Hdr {
	int channels;
	img_dsp_mode mode = bench::IkBench::mode();
	img_hdr_frame_settings fs[4]{};
	cl_aaa_block blocks[4]{};
	std::unique_ptr<aaa_parse_out> stats = std::make_unique<aaa_parse_out>();

	explicit Hdr(int n) : channels(n)
	{
		channel_info info[4]{};
		for (channel_info &ci : info)
			ci.expo_num = 2, ci.dsp_hdr = 1, ci.hdr_method = 1;
		static uint8_t sensor[4 * IMG_HDR_SENSOR_RECORD_SIZE];
		static uint8_t iq[4 * IMG_HDR_IQ_PARAMS_SIZE];
		img_hdr_set_channel_info(info);
		img_hdr_set_channel_num(n);
		img_hdr_set_sensor_info(sensor);
		img_hdr_copy_iq_params(iq);
		img_hdr_init_params();
		for (cl_aaa_block &b : blocks) {
			for (cl_aaa_exposure &e : b.expo)
				e.dgain = 4096;
			b.wb_r_gain = b.wb_g_gain = b.wb_b_gain = 1024;
		}
		for (uint32_t &v : stats->valid)
			v = 1;
		img_hdr_init_dsp_config(-1, &mode, fs);
	}
	// One frame of the frame thread's HDR work; 0 when all went.
	int frame()
	{
		int failed = img_hdr_process_frame(fs, blocks, stats.get()) != 0;
		static const uint8_t flags[2] = {1, 1};
		for (int c = 0; c < channels; c++) {
			mode.ContextId = (uint8_t)c;
			failed += img_hdr_set_dsp_config(-1, &mode, &fs[c], flags) != 0;
		}
		return failed;
	}
};

void BM_HdrFrame(benchmark::State &state)
{
	int channels = (int)state.range(0);
	bool recompute = state.range(1) != 0;
	// One video context for each channel with its HDR configurations.
	bench::IkBench kernel{{IMG_DSP_PIPE_VIDEO, (uint8_t)channels, 1, (uint8_t)(channels * kHdrCfgs), 0}};
	Hdr hdr(channels);
	int failed = hdr.frame();
	double seconds = 0;
	for (auto _ : state) {
		if (recompute)
			for (int c = 0; c < channels; c++)
				img_hdr_request_update(c);
		auto t0 = std::chrono::steady_clock::now();
		failed += hdr.frame();
		seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	}
	if (failed)
		state.SkipWithError("an update or send failed");
	if (state.iterations())
		state.counters["frame_share_pct"] =
		    100.0 * seconds / (double)state.iterations() / kFrameSeconds;
}

BENCHMARK(BM_HdrFrame)
    ->ArgNames({"channels", "recompute"})
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({1, 1})
    ->Args({4, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

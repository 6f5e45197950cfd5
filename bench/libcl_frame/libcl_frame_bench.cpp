// What the camera library's frame thread costs a frame: one frame of
// "cus_main_loop" (fetch, parse, white balance, HDR, filters, pending
// settings, post) for one and four channels, steady and with every setting
// pending, on a simulated SoC that hands over a ready frame at once. Each is
// a share of a 33.3 ms frame period, beside the bare fetch of the same run,
// with the frame split into fetch, parse and the rest.
#include <benchmark/benchmark.h>

#include "aaa_parser.h"
#include "libcl_bench.h"

#include <stdio.h>
#include <sys/ioctl.h>
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

// Every setting a caller can leave for the next frame, for every channel.
void set_everything(int n)
{
	static uint16_t curve[256];
	static uint8_t ce[692];
	static uint32_t chroma[129], le[262], blc[17], alpha[130];
	for (int i = 0; i < 256; i++)
		curve[i] = (uint16_t)(4 * i);
	chroma[0] = le[0] = 1;
	const uint32_t sg[7] = {1000, 0, 50, 0, 0, 4096, 0};
	const uint32_t sg2[7] = {1100, 0, 60, 0, 0, 4096, 0};
	static bool flip;
	flip = !flip;
	for (int c = 0; c < n; c++) {
		cl_customerloop_set_shutter_and_gain(c, flip ? sg : sg2);
		cl_customerloop_set_sharpness_coring(c, 3);
		cl_customerloop_set_chroma_scale(c, chroma);
		cl_customerloop_enable_tone_curve(c, 1);
		cl_customerloop_set_tone_curve(c, curve);
		cl_customerloop_set_ce_config(c, ce);
		cl_customerloop_set_local_exposure(c, le);
		cl_customerloop_set_bw_mode(c, 0);
		cl_customerloop_set_brightness(c, 1);
		cl_customerloop_set_saturation(c, 64);
		cl_customerloop_set_sharpness_level(c, 3);
		cl_customerloop_set_black_level(c, blc);
		cl_customerloop_set_hdr_alpha_table(c, alpha);
		cl_customerloop_set_custom_hdr_luma_calc(c);
	}
}

void BM_LibclFrame(benchmark::State &state)
{
	int n = (int)state.range(0);
	bool pending = state.range(1) != 0;
	if (!bench::libcl_bring_up((unsigned)n, CL_CC_FIRMWARE_ROOT)) {
		state.SkipWithError("bring-up failed");
		return;
	}
	int fd = cl_state().qvd_fd;
	std::vector<uint8_t> area(AAA_STAT_AREA_SIZE);
	aaa_stat_desc desc;
	aaa_stat_desc_layout(area.data(), &desc);
	auto parsed = std::make_unique<aaa_parse_out>();
	channel_info info[IMG_MAX_CHANNELS];
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		info[c] = cl_state().channel[c].info;
	// Steady output on stdout would be timed with the frame.
	fflush(stdout);
	FILE *saved = stdout;
	stdout = fopen("/dev/null", "w");
	cl_main_loop_begin(fd);
	double fetch = 0, parse = 0, frame = 0;
	int failed = 0;
	for (auto _ : state) {
		state.PauseTiming();
		if (pending)
			set_everything(n);
		state.ResumeTiming();
		auto t0 = Clock::now();
		failed += hal_get_aaa_stat(fd, &desc) != 0;
		fetch += seconds_since(t0);
		t0 = Clock::now();
		failed += parse_aaa_data(&desc, info, parsed.get()) != 0;
		parse += seconds_since(t0);
		t0 = Clock::now();
		failed += cl_main_loop_frame(fd) != 0;
		frame += seconds_since(t0);
	}
	fclose(stdout);
	stdout = saved;
	cl_main_loop_end(fd);
	bench::libcl_bring_down();
	if (failed)
		state.SkipWithError("a frame failed");
	if (!state.iterations())
		return;
	double it = (double)state.iterations();
	auto share = [&](double s) { return 100.0 * s / it / kFrameSeconds; };
	state.counters["frame_share_pct"] = share(frame);
	state.counters["fetch_share_pct"] = share(fetch);
	state.counters["parse_share_pct"] = share(parse);
	state.counters["rest_share_pct"] = share(frame - fetch - parse);
	state.counters["x_fetch"] = frame / fetch;
}

BENCHMARK(BM_LibclFrame)
    ->ArgNames({"channels", "pending"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

// What one frame's configuration costs: building a low-ISO configuration
// from a video context and posting it to a driver hook that answers 0, with
// every update flag pending against the white-balance gain alone (the one
// setter the camera library calls every frame). Each figure is also given
// as a share of a 33 ms frame period.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "ik_bench.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "img_dsp.h"

namespace
{

constexpr double kFrameSeconds = 0.033;

struct Library : bench::IkBench {
	Library() : IkBench({0, 1, 2, 2, 0})
	{
		for (uint8_t i = 0; i < 2; i++) {
			img_dsp_cfg_id id{0, i, {}};
			vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO);
		}
		img_dsp_size_info si{};
		si.width_in = si.main_out_width = 1920;
		si.height_in = si.main_out_height = 1080;
		img_dsp_mode m = mode();
		vors_img_dsp_set_size_info(&m, &si);
	}
	uint8_t *flags()
	{
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		img_dsp_core_utility_get_context(&cid, &c);
		return ((ik_video_ctx *)c)->body.update_flags;
	}
};

void run(benchmark::State &state, bool every_flag)
{
	Library lib;
	img_dsp_mode m = Library::mode();
	uint8_t *flags = lib.flags();
	double seconds = 0;
	int failed = 0;
	for (auto _ : state) {
		if (every_flag)
			memset(flags, 0xFF, 14);
		else
			ik_flag_set(flags, IK_UPD_WB_GAIN);
		auto t0 = std::chrono::steady_clock::now();
		int rc = vors_img_dsp_post_exe_cfg(-1, &m);
		seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
		failed += rc != 0;
	}
	if (failed)
		state.SkipWithError("a post failed");
	if (state.iterations())
		state.counters["frame_share_pct"] =
		    100.0 * seconds / (double)state.iterations() / kFrameSeconds;
}

void BM_BuildPostEveryFlag(benchmark::State &state)
{
	run(state, true);
}
void BM_BuildPostWbGainOnly(benchmark::State &state)
{
	run(state, false);
}

BENCHMARK(BM_BuildPostEveryFlag)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildPostWbGainOnly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}

// What the per-frame filter pass costs on one channel: a pass at a steady
// gain index, where filters are evaluated on their periods and nothing
// differs from what was last sent, against a pass after every filter was
// refreshed, where each is evaluated, translated and sent through the
// image kernel. Both sides run 30 passes (every period divides 30) and
// take turns in one process; figures are per pass and as a share of a
// 33.3 ms frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "ik_bench.h"
#include "img_adj_filter.h"
#include "img_adj_settings.h"
#include "img_dsp.h"
#include "paired.h"

namespace
{

constexpr double kFrameUs = 33333.0;
constexpr int kPasses = 30;
constexpr int kFd = 3;

void put_word(std::vector<uint8_t> &c, size_t at, uint32_t v)
{
	memcpy(c.data() + at, &v, sizeof(v));
}

/* First-part values the image kernel takes without a range warning where
 * 0 would draw one: level highs, FIR kinds, thresholds. */
struct Value {
	uint32_t id;
	uint32_t k;
	uint32_t v;
};

const Value kValues[] = {
    {15, 1, 2},     {15, 10, 2},    {15, 14, 2},    {15, 19, 200},  {15, 26, 200}, {17, 9, 200},
    {20, 4, 200},   {21, 4, 200},   {22, 4, 200},   {23, 4, 200},   {24, 44, 200}, {24, 52, 200},
    {24, 62, 200},  {24, 70, 200},  {24, 80, 200},  {24, 88, 200},  {24, 96, 200}, {24, 104, 200},
    {24, 112, 200}, {24, 121, 200}, {24, 130, 200}, {24, 139, 200}, {35, 0, 1},    {35, 1, 10},
    {35, 2, 12},    {35, 3, 100},   {35, 4, 120},   {35, 5, 32},    {38, 9, 200},  {41, 4, 200},
    {42, 4, 200},   {43, 4, 200},   {44, 4, 200},   {46, 16, 100},  {47, 13, 200}, {47, 21, 200},
    {47, 29, 200},  {48, 6, 200},
};

/* A container whose first part always takes row 0 and whose further parts
 * copy all their values from the row of the gain index; values are 0
 * unless listed above. */
std::vector<uint8_t> container(uint32_t id)
{
	std::vector<uint8_t> c(img_adj_container_size(id), 0);
	put_word(c, 0, id);
	put_word(c, 8, 0xffff);
	for (size_t q = 0; q < 4; q++) {
		put_word(c, 28 + 16 * q, 0xffff);
		put_word(c, 36 + 16 * q, 15);
	}
	for (const Value &v : kValues)
		if (v.id == id)
			put_word(c, 88 + 4 * (size_t)v.k, v.v);
	return c;
}

struct Pipeline {
	bench::IkBench kernel{{IMG_DSP_PIPE_VIDEO, 1, 1, 1, 0}};
	std::vector<std::vector<uint8_t>> tuning;
	std::vector<std::vector<uint8_t>> tables;
	std::vector<uint8_t> cc_reg = std::vector<uint8_t>(IMG_DSP_CC_REG_SIZE, 0);
	img_dsp_mode mode = bench::IkBench::mode();
	cl_aaa_block aaa{};

	Pipeline()
	{
		/* A register file announces its size at byte 8. */
		put_word(cc_reg, 8, IMG_DSP_CC_REG_SIZE);
		img_dsp_color_correction_reg reg = {(uint64_t)(uintptr_t)cc_reg.data()};
		vors_img_dsp_set_color_correction_reg(&mode, &reg);

		img_adj_filter_reset();
		img_adj_settings_reset();
		channel_info info{};
		img_adj_set_channel_count(1);
		img_adj_set_channel_info(&info);
		img_adj_tuning pointers = {};
		for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
			tuning.push_back(container(id));
		/* Colour-temperature thresholds and the low-light band. */
		const uint32_t cc_rows[5][2] = {{512, 0}, {1024, 0}, {2048, 0}, {896, 1152}, {0, 768}};
		for (size_t r = 0; r < 5; r++)
			for (size_t k = 0; k < 2; k++)
				put_word(tuning[IMG_ADJ_CC], 88 + 16 * r + 4 * k, cc_rows[r][k]);
		for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
			pointers[id] = tuning[id].data();
		img_adj_init_containers_liso(&pointers);
		img_adj_cc_sources src;
		for (int k = 0; k < IMG_ADJ_CC_SOURCES; k++) {
			/* Version 0.0 in the head, as the register file's. */
			tables.emplace_back(IMG_ADJ_CC_TABLE_SIZE, 0);
			src[k] = tables.back().data();
		}
		img_adj_load_cc_tables(&src);
		img_adj_init_filter_headers();
		img_adj_init_settings();
		const uint32_t on = 1;
		img_adj_set_channel_enable(&on, 1);
		img_adj_apply_initial_filters(kFd, &mode);
		aaa.wb_r_gain = aaa.wb_g_gain = aaa.wb_b_gain = 1024;
		/* The first pass leaves every filter forced once more. */
		passes(kPasses);
	}
	void passes(int n)
	{
		const int32_t gain = IMG_ADJ_START_GAIN_INDEX;
		for (int i = 0; i < n; i++)
			img_adj_run_filters(kFd, &mode, &gain, &aaa);
	}
	/* A refresh marks even a disabled filter changed, which would send it;
	 * the enabled ones are what a frame sends. */
	void refreshed_passes(int n)
	{
		for (int i = 0; i < n; i++) {
			for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
				if (img_adj_bank_container(0, img_adj_active_bank(), id)->mode >= 0)
					img_adj_refresh_filter(id);
			passes(1);
		}
	}
};

void SteadyAgainstRefreshed(benchmark::State &state)
{
	Pipeline p;
	bench::runPaired(state, {{"refreshed", [&] { p.refreshed_passes(kPasses); }},
	                         {"steady", [&] { p.passes(kPasses); }}});
	for (const char *side : {"refreshed", "steady"}) {
		double per_pass = state.counters[std::string(side) + "_us"] / kPasses;
		state.counters[std::string(side) + "_pass_us"] = per_pass;
		state.counters[std::string(side) + "_frame_pct"] = 100.0 * per_pass / kFrameUs;
	}
}

BENCHMARK(SteadyAgainstRefreshed)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(300);

} // namespace

BENCHMARK_MAIN();

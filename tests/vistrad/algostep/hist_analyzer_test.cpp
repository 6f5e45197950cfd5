// The histogram analyser: the analysis on hand-made histograms against values
// worked from its formulas, and the step on hand-made statistics records with
// the real engine, platform, parameters and data-cache device. The camera
// library's calls are replaced at link time (--wrap) by the fake below.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "algostep/hist_analyzer.h"
#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "datacache_ioctl.h"
#include "log_capture.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "prodconf_builder.h"
#include "simsoc.h"
#include "simsoc_datacache.h"

namespace
{

struct FakeLibcl {
	uint32_t started = 1;
	int hdr_mode = 0;   // negative: the read fails
	int hdr_mode0 = -2; // channel 0's, when it differs; -2: as hdr_mode
	uint32_t threshold[4] = {};
	uint16_t blend[3] = {};
	bool knee_reads_fail = false;
} fake;

} // namespace

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = fake.started;
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_mode(int channel, uint32_t *mode)
{
	int m = channel == 0 && fake.hdr_mode0 != -2 ? fake.hdr_mode0 : fake.hdr_mode;
	if (m < 0)
		return -1;
	*mode = (uint32_t)m;
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_threshold(int, uint32_t *threshold)
{
	if (fake.knee_reads_fail)
		return -1;
	memcpy(threshold, fake.threshold, sizeof(fake.threshold));
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_blend_config(int, uint16_t *blend)
{
	memcpy(blend, fake.blend, sizeof(fake.blend));
	return 0;
}

namespace
{

// ---- The analysis alone ------------------------------------------------

struct AnalyseCase {
	const char *name;
	std::vector<uint32_t> h;
	uint32_t kind;
	int low_end, mid_end, data_threshold;
	double forecast, near_sat_target;
	double previous_saturation;
	float last_data_avg;
	bool low_mid_weight;
	// Expected, worked from the formulas by hand.
	double data_end, saturation, saturation_raw;
	int forecast_bin;
	double weight, weight_unsaturated;
	double low_share, mid_share, high_share;
	double low_mean, mid_mean, high_mean;
	double near_sat_position;
	std::vector<double> levels; // empty: not checked
	double flattest_level;
};

const AnalyseCase analyse_cases[] = {
    // Sums: low {400, 200} at 0, 1; mid {0, 200} at 2, 3; high 200 at 7.
    // Candidate 3 (counts from the top 0, 0, 0, 200/4, 200/5 within 50),
    // data_end 0.5 x 3; data ending at the mid point keeps only the 1.5 of
    // hysteresis from 20 % saturation.
    {"rgb",
     {400, 200, 0, 200, 0, 0, 0, 200},
     HIST_KIND_RGB,
     2,
     4,
     50,
     1.0,
     0.15,
     0,
     0.5f,
     false,
     1.5,
     1.5,
     20.0,
     5,
     2200.0 / 1000 / 8 * 100,
     (2200.0 - 7 * 200) / 800 / 7 * 100,
     120.0,
     40.0,
     20.0,
     400.0 / 1200 / 2 * 100,
     (1200.0 / 400 - 3) / 1 * 100,
     (1400.0 / 200 - 5) / 5 * 100,
     6,
     {},
     0},
    // Out-of-range smoothing is taken as 0.5: the same numbers.
    {"bad smoothing",
     {400, 200, 0, 200, 0, 0, 0, 200},
     HIST_KIND_RGB,
     2,
     4,
     50,
     1.0,
     0.15,
     0,
     1.5f,
     false,
     1.5,
     1.5,
     20.0,
     5,
     27.5,
     800.0 / 800 / 7 * 100,
     120.0,
     40.0,
     20.0,
     400.0 / 1200 / 2 * 100,
     0,
     40,
     6,
     {},
     0},
    // Previous saturation 0.2 %: data_end n-2 and the raw saturation kept.
    {"saturated before",
     {400, 200, 0, 200, 0, 0, 0, 200},
     HIST_KIND_RGB,
     2,
     4,
     50,
     1.0,
     0.15,
     0.2,
     0.5f,
     false,
     6,
     20.0,
     20.0,
     5,
     27.5,
     800.0 / 800 / 7 * 100,
     120.0,
     40.0,
     20.0,
     400.0 / 1200 / 2 * 100,
     0,
     40,
     6,
     {},
     0},
    // Levels of a CFA analysis: nothing above data_end 3 counts, so s stays
    // at the raw 1 % down to bin 3, which passes level 1 (k starts at 1)
    // with one level a bin; the rest are set to 1. Saturation 1 % with data
    // ending low keeps nothing (1 - 1.5 < 0).
    {"cfa levels",
     {500, 200, 100, 100, 50, 30, 10, 10},
     HIST_KIND_CFA,
     2,
     4,
     5,
     1.0,
     0.15,
     0,
     0.5f,
     false,
     3,
     0,
     1.0,
     9,
     1180.0 / 1000 / 8 * 100,
     (1180.0 - 70) / 990 / 7 * 100,
     140.0,
     40.0,
     10.0,
     400.0 / 1400 / 2 * 100,
     (1000.0 / 400 - 3) * 100,
     0,
     6,
     {6, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1},
     1.0},
    // Levels from the top with data_end n-2: s = 0.1 before the walk, bins
    // add 0, 1, 3, 5.9, 10 % from bin 6 down. High sum 41: no high mean.
    {"near saturation",
     {600, 200, 100, 59, 30, 10, 0, 1},
     HIST_KIND_CFA,
     2,
     4,
     5,
     1.0,
     0.15,
     0.2,
     0.5f,
     false,
     6,
     0.1,
     0.1,
     9,
     754.0 / 1000 / 8 * 100,
     (754.0 - 7) / 999 / 7 * 100,
     160.0,
     2 * 15.9,
     4.1,
     400.0 / 1600 / 2 * 100,
     (754.0 / 318 - 3) * 100,
     0,
     5.95,
     {7, 6 - 0.9, 5 - 0.9 / 3, 4 + 1.1 / 5.9, 3.6, 1, 1, 1, 1, 1, 1},
     0.05},
    // More than 64 bins, nothing below mid_end: the second pass borrows bin
    // 50 into the mid range, and the low-and-mid weight is over it alone.
    {"low and mid weight",
     {},
     HIST_KIND_RGB,
     10,
     20,
     5,
     1.0,
     0.15,
     0,
     0.5f,
     true,
     0,
     0,
     0,
     0,
     15000.0 / 300 / 20 * 100,
     0,
     0,
     75.0,
     100.0,
     0,
     (50.0 - 11) / 9 * 100,
     (21000.0 / 400 - 21) / 81 * 100,
     98,
     {},
     0},
};

hist_analyzer_settings settings_with(float last_data_avg, bool low_mid_weight)
{
	hist_analyzer_settings s = {};
	s.last_data_avg = last_data_avg;
	s.saturation_hysteresis = 1.5f;
	s.ae_low_mid_weight = low_mid_weight;
	return s;
}

TEST(HistAnalyse, HandMadeHistograms)
{
	for (const AnalyseCase &c : analyse_cases) {
		SCOPED_TRACE(c.name);
		std::vector<uint32_t> h = c.h;
		if (h.empty()) {
			h.assign(100, 0);
			h[50] = 300;
			h[60] = 100;
		}
		hist_analyzer_settings s = settings_with(c.last_data_avg, c.low_mid_weight);
		hist_analyzer_local local = {};
		local.head.settings = &s;
		hist_analysis a = {};
		a.kind = c.kind;
		a.bin_count = (int32_t)h.size();
		a.low_end = c.low_end;
		a.mid_end = c.mid_end;
		a.data_threshold = c.data_threshold;
		a.forecast = c.forecast;
		a.near_sat_target = c.near_sat_target;
		a.include_sat = 1;
		a.saturation = c.previous_saturation;
		LogCapture log;
		hist_analyse(&a, h.data(), &local);

		if (c.h.empty()) {
			// Only the second pass's values matter here.
			EXPECT_EQ(1, local.low_mid_weight);
			EXPECT_NEAR(c.weight, a.weight, 1e-9);
			EXPECT_NEAR(c.mid_share, a.mid_share, 1e-9);
			EXPECT_NEAR(c.high_share, a.high_share, 1e-9);
			EXPECT_NEAR(c.mid_mean, a.mid_mean, 1e-9);
			EXPECT_NEAR(c.high_mean, a.high_mean, 1e-9);
			continue;
		}
		EXPECT_EQ(0, local.low_mid_weight);
		EXPECT_EQ(c.last_data_avg > 1,
		          log.text().find("Incorrect last data average configuration "
		                          "1.500000, defaulting to 0.5!\n") != std::string::npos);
		EXPECT_NEAR(c.data_end, a.data_end, 1e-9);
		EXPECT_NEAR(c.saturation, a.saturation, 1e-9);
		EXPECT_NEAR(c.saturation_raw, a.saturation_raw, 1e-9);
		EXPECT_EQ(c.forecast_bin, a.forecast_bin);
		EXPECT_EQ(h.back(), a.top_count);
		EXPECT_NEAR(c.weight, a.weight, 1e-9);
		EXPECT_NEAR(c.weight_unsaturated, a.weight_unsaturated, 1e-9);
		EXPECT_NEAR(c.low_share, a.low_share, 1e-9);
		EXPECT_NEAR(c.mid_share, a.mid_share, 1e-9);
		EXPECT_NEAR(c.high_share, a.high_share, 1e-9);
		EXPECT_NEAR(c.low_mean, a.low_mean, 1e-9);
		EXPECT_NEAR(c.mid_mean, a.mid_mean, 1e-9);
		EXPECT_NEAR(c.high_mean, a.high_mean, 1e-9);
		// Running averages from zero with a = 0.5.
		EXPECT_NEAR(c.low_share / 2, a.low_share_avg, 1e-9);
		EXPECT_NEAR(c.weight / 2, a.weight_avg, 1e-9);
		EXPECT_NEAR(c.near_sat_position, a.near_sat_position, 1e-9);
		for (size_t k = 0; k < c.levels.size(); k++)
			EXPECT_NEAR(c.levels[k], a.level_position[k], 1e-9) << "level " << k;
		EXPECT_NEAR(c.flattest_level, a.flattest_level, 1e-9);
	}
}

TEST(HistAnalyse, EmptyHistogramLeavesTheAveragesAlone)
{
	hist_analyzer_settings s = settings_with(0.5f, false);
	hist_analyzer_local local = {};
	local.head.settings = &s;
	hist_analysis a = {};
	a.kind = HIST_KIND_CFA;
	a.bin_count = 8;
	a.low_end = 2;
	a.mid_end = 4;
	a.weight = a.low_share = a.low_mean = 9;
	a.weight_avg = a.low_share_avg = 7;
	uint32_t h[8] = {};
	hist_analyse(&a, h, &local);
	EXPECT_EQ(0, a.weight);
	EXPECT_EQ(0, a.low_share);
	EXPECT_EQ(0, a.low_mean);
	EXPECT_EQ(0, a.total);
	EXPECT_EQ(0, a.saturation);
	EXPECT_EQ(7, a.weight_avg);
	EXPECT_EQ(7, a.low_share_avg);
}

TEST(HistAnalyse, KindNames)
{
	const char *names[] = {"RGB", "CFA", "LONG_FRAME", "SHORT_FRAME", "NA"};
	for (uint32_t k = 0; k < 5; k++)
		EXPECT_STREQ(names[k], hist_kind_name(k));
	EXPECT_STREQ("NA", hist_kind_name(0xffffffffu));
}

} // namespace

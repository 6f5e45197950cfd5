// The table look-ups and the HDR LUT and DRC builder, on hand-made
// histograms with the camera library recorded.

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "../log_capture.h"
#include "algostep/dic_map.h"
#include "algostep/hdr_lut.h"
#include "algostep/hist_analyzer.h"
#include "libcl_fake.h"
#include "platform/platform.h"

namespace
{

int32_t q(double v)
{
	return (int32_t)lround(v * 16384.0);
}

dic_list L(std::vector<int32_t> &v)
{
	return {v.empty() ? nullptr : v.data(), v.size()};
}

ae_q14_list AL(std::vector<int32_t> &v)
{
	return {v.empty() ? nullptr : v.data(), v.size()};
}

TEST(DicMapLookup, Table)
{
	std::vector<int32_t> x = {q(1), q(2), q(4)}, y = {q(10), q(20), q(40)};
	std::vector<int32_t> x_short = {q(1), q(2)}, one_x = {q(3)}, one_y = {q(7)}, none;
	struct {
		dic_list xs, ys;
		double at;
		double expected;
	} cases[] = {
	    {L(x), L(y), 0.5, 10.0},       // held below the first x
	    {L(x), L(y), 1.0, 10.0},       // at the first x
	    {L(x), L(y), 1.5, 15.0},       // interpolated
	    {L(x), L(y), 3.0, 30.0},       // second segment
	    {L(x), L(y), 9.0, 40.0},       // beyond: last y
	    {L(x_short), L(y), 9.0, 20.0}, // unequal counts: the shorter
	    {L(one_x), L(one_y), 1.0, 7.0}, {L(one_x), L(one_y), 5.0, 7.0},
	};
	for (auto &c : cases) {
		double out = -1.0;
		dic_map_lookup(&c.xs, &c.ys, q(c.at), &out);
		EXPECT_DOUBLE_EQ(out, c.expected) << c.at;
	}
	// Rounded to the nearest Q14 step: 1/3 of the way from 0 to 1 in Q14.
	std::vector<int32_t> rx = {0, 3}, ry = {0, 1};
	double out = 0;
	dic_list a = L(rx), b = L(ry);
	dic_map_lookup(&a, &b, 1, &out);
	EXPECT_DOUBLE_EQ(out, 0.0);
	dic_map_lookup(&a, &b, 2, &out);
	EXPECT_DOUBLE_EQ(out, 1.0 / 16384.0);
	// A missing list leaves the result as it was.
	for (auto pair : {std::make_pair(L(none), L(y)), std::make_pair(L(x), L(none))}) {
		double kept = 42.0;
		dic_map_lookup(&pair.first, &pair.second, q(2), &kept);
		EXPECT_EQ(kept, 42.0);
	}
	dic_map_lookup(nullptr, nullptr, 0, &out);
}

TEST(DicMapLookupInt, Table)
{
	std::vector<int32_t> x = {10, 20}, y = {100, 200}, one_x = {5}, one_y = {9}, none;
	struct {
		dic_list xs, ys;
		double at;
		int32_t expected;
	} cases[] = {
	    {L(x), L(y), 0.0, 0},  // extrapolated from the first two points
	    {L(x), L(y), 5.0, 50}, // ... not held
	    {L(x), L(y), 10.0, 100},      {L(x), L(y), 15.0, 150}, {L(x), L(y), 12.34, 123}, // rounded
	    {L(x), L(y), 25.0, 200},                                                         // beyond: last y
	    {L(one_x), L(one_y), 1.0, 9}, // one point: its y
	    {L(one_x), L(one_y), 8.0, 9},
	};
	for (auto &c : cases) {
		int32_t out = -1;
		dic_map_lookup_int(&c.xs, &c.ys, q(c.at), &out);
		EXPECT_EQ(out, c.expected) << c.at;
	}
	// Half a unit rounds up: ((v >> 13) + 1) >> 1.
	std::vector<int32_t> hx = {0, 2}, hy = {0, 1};
	dic_list ha = L(hx), hb = L(hy);
	int32_t half = -1;
	dic_map_lookup_int(&ha, &hb, q(1.0), &half);
	EXPECT_EQ(half, 1);
	dic_map_lookup_int(&ha, &hb, q(-1.0), &half);
	EXPECT_EQ(half, 0); // -0.5 rounds up to 0
	int32_t kept = 77;
	dic_list a = L(none), b = L(y);
	dic_map_lookup_int(&a, &b, q(1), &kept);
	EXPECT_EQ(kept, 77);
}

TEST(HdrLutLookupDouble, EqualNeighboursGiveTheLowerY)
{
	const double xs[] = {0, 10, 10, 20}, ys[] = {0, 5, 8, 18};
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 4, -1), 0);
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 4, 5), 2.5);
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 4, 10), 5);
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 4, 15), 13);
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 4, 30), 18);
	EXPECT_DOUBLE_EQ(hdr_lut_lookup_double(xs, ys, 0, 30), 0);
}

TEST(HdrLutGrid, Levels)
{
	uint16_t g[HDR_LUT_ENTRIES];
	hdr_lut_grid(0, g);
	const struct {
		int i;
		uint16_t level;
	} standard[] = {{0, 0},      {1, 16},      {64, 1024},   {65, 1056},   {96, 2048},
	                {128, 4096}, {224, 16384}, {288, 32768}, {351, 65024}, {352, 65535}};
	for (auto &c : standard)
		EXPECT_EQ(g[c.i], c.level) << c.i;
	hdr_lut_grid(6, g);
	const struct {
		int i;
		uint16_t level;
	} fine[] = {{1, 2},      {64, 128},    {96, 256},    {128, 512},   {160, 1024}, {192, 2048},
	            {224, 4096}, {288, 12288}, {304, 16384}, {351, 64512}, {352, 65534}};
	for (auto &c : fine)
		EXPECT_EQ(g[c.i], c.level) << c.i;
	for (int i = 1; i < HDR_LUT_ENTRIES; i++)
		EXPECT_GT(g[i], g[i - 1]);
}

// Settings and histograms of one build.
struct LutCase : ::testing::Test {
	smart_ae_settings s = {};
	std::vector<int32_t> ef = {q(1), q(16)}, fill = {q(1.0), q(1.0)}, gamma = {q(2.2), q(2.2)};
	std::vector<int32_t> gain = {0, q(48)}, gamma_scale = {q(100), q(100)}, log_map = {q(1.0), q(1.0)};
	std::vector<int32_t> drc = {q(100), q(100)}, weight = {q(1.0), q(1.0)};
	image_stats_record stats = {};
	platform plat = {};
	hdr_lut_input in = {};
	hdr_lut_result out = {};
	LogCapture logs;

	void SetUp() override
	{
		fake_cl.reset();
		fake_cl.hdr_method = 1;
		s.lut_IR_min_effective_ef = 3.0f;
		s.ae_dual_gain_max_factor = 2.0f;
		s.lut_ef_map = AL(ef);
		s.lut_ef_weight_map = AL(weight);
		s.lut_long_fill_map = AL(fill);
		s.lut_long_gamma_map = AL(gamma);
		s.lut_gain_map = AL(gain);
		s.lut_long_gamma_scale_map = AL(gamma_scale);
		s.lut_log_map = AL(log_map);
		s.lut_DRC_map = AL(drc);
		in.settings = &s;
		in.platform = &plat;
		in.exposure_factor = 8.0;
		in.long_gain_db = 6.0;
		in.short_gain_db = 6.0;
		in.max_gain_db = 42.0;
		histograms(1);
	}

	// Linear cumulative histograms of n bins with a given spread of levels.
	void histograms(unsigned seed)
	{
		std::mt19937 rng(seed);
		int n = 253;
		stats.long_frame.bin_count = n;
		stats.short_frame.bin_count = n;
		uint32_t a = 0, b = 0;
		for (int i = 0; i < HIST_LINEAR_BINS; i++) {
			stats.long_cumulative[i] = a;
			stats.short_cumulative[i] = b;
			a += rng() % 2000;
			b += rng() % (i < 128 ? 3000 : 200);
		}
	}

	int build()
	{
		fake_cl.calls.clear();
		return hdr_lut_build(&in, stats.long_cumulative, stats.short_cumulative, &stats.short_frame,
		                     &stats.long_frame, &out);
	}
};

void expect_table_ok(const uint16_t *t, const char *what)
{
	for (int i = 1; i < HDR_LUT_ENTRIES; i++) {
		ASSERT_GE(t[i], t[i - 1]) << what << " entry " << i;
		ASSERT_LE(t[i], HDR_LUT_MAX) << what << " entry " << i;
	}
}

TEST_F(LutCase, SendsBothBlocksAndStoresTheDrcAmount)
{
	ASSERT_EQ(build(), 0);
	const fake_call *lut = fake_cl.last("set_hdr_extern_lut");
	const fake_call *drc = fake_cl.last("set_hdr_extern_drc");
	ASSERT_TRUE(lut && drc);
	ASSERT_EQ(lut->bytes.size(), 1416u);
	EXPECT_EQ(lut->as<uint32_t>(), 1u);
	EXPECT_EQ(drc->as<uint32_t>(), 1u);
	EXPECT_EQ(0, memcmp(lut->bytes.data(), &out.lut, 1416));
	EXPECT_EQ(0, memcmp(drc->bytes.data(), &out.drc, 1416));
	// Table 1 starts at byte 4 + 353 x 2.
	uint16_t t1_0;
	memcpy(&t1_0, lut->bytes.data() + 4 + 706, 2);
	EXPECT_EQ(t1_0, out.lut.table[1][0]);
	EXPECT_EQ(plat.channel_value[0], 100);
	EXPECT_DOUBLE_EQ(out.threshold_scale, out.lut.table[0][352] / 65535.0);
}

TEST_F(LutCase, TablesRiseAndStayInRangeOverRandomHistogramsAndRatios)
{
	std::mt19937 rng(7);
	for (int round = 0; round < 60; round++) {
		histograms(round + 3);
		in.exposure_factor = 1.0 + (rng() % 6400) / 100.0;
		in.long_gain_db = (rng() % 4200) / 100.0;
		in.short_gain_db = (rng() % 4200) / 100.0;
		fill[0] = q((rng() % 100) / 100.0);
		drc[0] = q(rng() % 500);
		for (int k = 0; k < 2; k++) {
			s.lut_3_segments = (uint8_t)k;
			int ret =
			    k ? hdr_lut_build_3_segments(&in, stats.long_cumulative, stats.short_cumulative,
			                                 &stats.short_frame, &stats.long_frame, &out)
			      : build();
			ASSERT_EQ(ret, 0);
			SCOPED_TRACE(testing::Message() << "round " << round << " builder " << k);
			expect_table_ok(out.lut.table[0], "lut 0");
			expect_table_ok(out.lut.table[1], "lut 1");
			expect_table_ok(out.drc.table[0], "drc 0");
			expect_table_ok(out.drc.table[1], "drc 1");
			ASSERT_GE(plat.channel_value[0], 0);
			ASSERT_LE(plat.channel_value[0], 400);
		}
	}
}

TEST_F(LutCase, RatioOneShortTopFollowsLongSlope)
{
	in.exposure_factor = 0.5; // at or below the weight
	ASSERT_EQ(build(), 0);
	EXPECT_DOUBLE_EQ(out.ratio, 1.0);
	const uint16_t *T0 = out.lut.table[0], *T1 = out.lut.table[1];
	for (int i = 303; i <= 351; i++) {
		int want = T1[i - 1] + T0[i] - T0[i - 1];
		EXPECT_EQ(T1[i], want > 65534 ? 65534 : want) << i;
	}
}

TEST_F(LutCase, DrcAmountIsClampedWhenStored)
{
	const struct {
		double drc;
		int32_t stored;
	} cases[] = {{450.0, 400}, {-20.0, 0}, {250.7, 250}};
	for (auto &c : cases) {
		drc = {q(c.drc), q(c.drc)};
		s.lut_DRC_map = AL(drc);
		ASSERT_EQ(build(), 0);
		EXPECT_EQ(plat.channel_value[0], c.stored) << c.drc;
		expect_table_ok(out.drc.table[0], "drc 0");
		expect_table_ok(out.drc.table[1], "drc 1");
	}
}

// Gamma 1 (no gamma map), fill 1 and ratio 1 make the long table
// K ln(A x^p) with the knee at 2500: worked here in double precision.
TEST_F(LutCase, EmptyLogMapUsesTheDefaultCompressionConstant)
{
	s.lut_log_map = {nullptr, 0};
	s.lut_long_gamma_map = {nullptr, 0};
	s.lut_DRC_map = {nullptr, 0};
	in.exposure_factor = 1.0;
	ASSERT_EQ(build(), 0);
	const double K = 5909.106680773761;
	EXPECT_NEAR(K, 65534.0 / log(65535.0), 1e-9);
	double A = 65534.0 / 65535.0;
	double x64 = 1024.0;
	double v64 = A * (x64 / 2500.0) * (x64 / 2500.0) * 2500.0;
	EXPECT_EQ(out.lut.table[0][64], (uint16_t)(K * log(v64)));
	EXPECT_EQ(out.lut.table[0][352], (uint16_t)(K * log(65534.0)));
	EXPECT_EQ(plat.channel_value[0], 0);
}

TEST_F(LutCase, MissingHdrMethodLogsAndUsesTheStandardGrid)
{
	fake_cl.fail("get_hdr_method");
	ASSERT_EQ(build(), 0);
	EXPECT_NE(logs.text(DEBUG_WARNING).find("Libcl can not get hdr method \n"), std::string::npos);
	EXPECT_EQ(out.grid[352], 65535);
	fake_cl.failing.clear();
	fake_cl.hdr_method = 6;
	ASSERT_EQ(build(), 0);
	EXPECT_EQ(out.grid[352], 65534);
}

TEST_F(LutCase, FailedSendsAreWarnedAndTheRestStillHappens)
{
	fake_cl.fail("set_hdr_extern_lut");
	ASSERT_EQ(build(), 0);
	EXPECT_EQ(fake_cl.count("set_hdr_extern_drc"), 1u);
	EXPECT_EQ(plat.channel_value[0], 100);
	EXPECT_NE(logs.text(DEBUG_WARNING).find("external HDR LUT"), std::string::npos);
}

TEST_F(LutCase, UpdateLeavesTheThresholdFractionInTheState)
{
	smart_ae_state ae = {};
	ae.settings = &s;
	ae.platform = &plat;
	ae.exposure_ratio = 8.0;
	ae.exp[0].gain_db = 6.0;
	ae.exp[1].gain_db = 6.0;
	ae.exp[0].max_gain_db = 42.0;
	ae.hdr_threshold_fraction = 1.0;
	hdr_lut_update(&ae, &stats);
	const fake_call *lut = fake_cl.last("set_hdr_extern_lut");
	ASSERT_TRUE(lut);
	uint16_t top;
	memcpy(&top, lut->bytes.data() + 4 + 352 * 2, 2);
	EXPECT_DOUBLE_EQ(ae.hdr_threshold_fraction, top / 65535.0);
	EXPECT_LT(ae.hdr_threshold_fraction, 1.0);
}

// A regression golden of the three-segment construction: a few entries and
// a checksum of each table, for fixed histograms, maps and gains.
TEST_F(LutCase, ThreeSegmentsGolden)
{
	std::vector<int32_t> sens = {q(2.0), q(3.0)}, floor_fill = {q(0.2), q(0.3)}, x_low = {q(0.1), q(0.2)};
	std::vector<int32_t> y_low = {q(0.6), q(0.8)}, plateau = {q(0.05), q(0.05)};
	s.lut_long_fill_sat_sensitivity_map = AL(sens);
	s.minimum_long_fill_map = AL(floor_fill);
	s.lut_x_low_end_map = AL(x_low);
	s.lut_y_low_end_map = AL(y_low);
	s.lut_blend_plateau_map = AL(plateau);
	s.lut_dynamic_short_matching = 1;
	stats.long_frame.saturation = 12.5;
	const uint32_t golden[2][4] = {{3298402685u, 3058266868u, 3766489274u, 3084676348u},
	                               {3298402685u, 3058266868u, 3959989702u, 925048729u}};
	const uint16_t golden_entries[2][4] = {{2171, 57956, 37756, 65534}, {2171, 57956, 6418, 65534}};
	const uint16_t *tables[4] = {out.lut.table[0], out.lut.table[1], out.drc.table[0], out.drc.table[1]};
	for (int drc_mode = 0; drc_mode < 2; drc_mode++) {
		s.lut_dynamic_drc = (uint8_t)drc_mode;
		s.lut_drc_smooth_blend = (uint8_t)drc_mode;
		ASSERT_EQ(hdr_lut_build_3_segments(&in, stats.long_cumulative, stats.short_cumulative,
		                                   &stats.short_frame, &stats.long_frame, &out),
		          0);
		for (int t = 0; t < 4; t++) {
			expect_table_ok(tables[t], "three segments");
			uint32_t sum = 0;
			for (int i = 0; i < HDR_LUT_ENTRIES; i++)
				sum = sum * 31u + tables[t][i];
			EXPECT_EQ(sum, golden[drc_mode][t]) << "table " << t << " drc mode " << drc_mode;
		}
		EXPECT_EQ(tables[0][40], golden_entries[drc_mode][0]);
		EXPECT_EQ(tables[1][200], golden_entries[drc_mode][1]);
		EXPECT_EQ(tables[2][100], golden_entries[drc_mode][2]);
		EXPECT_EQ(tables[3][352], golden_entries[drc_mode][3]);
	}
}

TEST_F(LutCase, MissingArgumentsBuildNothing)
{
	EXPECT_EQ(hdr_lut_build(nullptr, stats.long_cumulative, stats.short_cumulative, &stats.short_frame,
	                        &stats.long_frame, &out),
	          -1);
	EXPECT_EQ(
	    hdr_lut_build(&in, nullptr, stats.short_cumulative, &stats.short_frame, &stats.long_frame, &out),
	    -1);
	stats.long_frame.bin_count = 2; // too few bins: the curve is one point
	EXPECT_EQ(build(), 0);
	expect_table_ok(out.lut.table[0], "lut 0");
	EXPECT_TRUE(fake_cl.calls.size() > 0);
}

} // namespace

/* The 3A library's numeric helpers: one table a family, the messages of bad
 * input, and the interpolators against curves they must reproduce. */
#include "smooth_change.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct SmoothCase {
	int32_t target, current, speed, expected;
};

TEST(SmoothChange, MovesByOneSpeedthOfTheDistanceAndBySingleStepsWhenClose)
{
	const SmoothCase cases[] = {
	    {100, 0, 16, 6},     {10, 0, 16, 1},        {0, 10, 16, 9},
	    {-100, 0, 16, -6},   {5, 5, 3, 5},          {17, 0, 16, 1},
	    {1000, 0, 65536, 1}, {0, 1000, 65536, 999}, {2000000000, -2000000000, 2, 0},
	};
	for (const SmoothCase &c : cases)
		EXPECT_EQ(smooth_change(c.target, c.current, c.speed), c.expected)
		    << c.target << " from " << c.current << " at " << c.speed;
}

TEST(SmoothChange, SpeedZeroKeepsTheValueAndSaysSo)
{
	CaptureStdout();
	EXPECT_EQ(smooth_change(0, 5, 0), 5);
	EXPECT_EQ(GetCapturedStdout(), "speed of  0 is not acceptable in smooth_change\n.");
}

struct MapCase {
	int32_t x, x0, x1, y0, y1, expected;
};

TEST(LinearMap, HeldAtTheEndsAndTruncatingBetween)
{
	const MapCase cases[] = {
	    {1024, 896, 1152, 0, 768, 384},
	    {500, 896, 1152, 0, 768, 0},
	    {2000, 896, 1152, 0, 768, 768},
	    {1000, 896, 1152, 0, 768, 312},
	    {1000, 896, 1152, 7, 7, 7},
	    {5, 5, 5, 1, 2, 1},
	    {10, 0, 100, 0, -8, 0},
	    {90, 0, 100, 0, -8, -7},
	    /* the products need 64 bits */
	    {2000000000, 0, 2100000000, 0, 2100000000, 2000000000},
	};
	for (const MapCase &c : cases)
		EXPECT_EQ(linear_map(c.x, c.x0, c.x1, c.y0, c.y1), c.expected) << c.x;
}

TEST(LinearMap, BlendsClampsAndMidpoints)
{
	EXPECT_EQ(blend_shift(1023, 0, 0, 65536, 16), 0);
	EXPECT_EQ(blend_shift(0, 0, 1023, 65536, 16), 1023);
	EXPECT_EQ(blend_shift(100, 84, 200, 44, 7), (100 * 84 + 200 * 44) >> 7);
	/* wraps in 32 bits, then shifts keeping the sign */
	EXPECT_EQ(blend_shift(INT32_MAX, 2, 0, 0, 1), -1);
	EXPECT_EQ(clamp_i32(5, 0, 3), 3);
	EXPECT_EQ(clamp_i32(-5, 0, 3), 0);
	EXPECT_EQ(clamp_i32(2, 0, 3), 2);
	EXPECT_EQ(clamp_i32(5, 9, 3), 3);
	EXPECT_EQ(lerp_mid(7, 4, 4, 10, 21), 15);
	EXPECT_EQ(lerp_mid(6, 4, 8, 10, 30), 20);
	EXPECT_EQ(lerp_mid(2, 4, 8, 10, 30), 0);
}

TEST(LogUnits, DecodeUndoesEncodeAtUnit255AndRange16383)
{
	const float bases[] = {64.0f, 4.0f, 0.5f, 1.0f};
	for (float base : bases) {
		int from = base < 2.0f ? 300 : (int)(16383.0f / base) + 1;
		for (int x = from; x <= 16383; x += 97) {
			int32_t y = log_encode(16383, 255, base, (float)x);
			ASSERT_GE(y, 0);
			ASSERT_LE(y, 255);
			int32_t back = log_decode(255, 16383, base, (float)y);
			/* one code of 255 spans at most ln(16383) / 255 of the value */
			EXPECT_NEAR(back, x, x * 0.04 + 1) << "base " << base << " y " << y;
		}
	}
	EXPECT_EQ(log_encode(16383, 255, 64.0f, 16383.0f), 255);
	EXPECT_EQ(log_decode(255, 16383, 64.0f, 255.0f), 16383);
	EXPECT_EQ(log_decode(255, 16383, 64.0f, 0.0f), 256);
	EXPECT_EQ(log_encode(16383, 255, 0.5f, 1.0f), 0);
	EXPECT_EQ(log_decode(255, 16383, 0.5f, 0.0f), 1);
}

TEST(LogUnits, ZeroUnitOrRangeIsRefused)
{
	CaptureStdout();
	EXPECT_EQ(log_encode(0, 255, 64.0f, 100.0f), -1);
	EXPECT_EQ(log_decode(255, 0, 64.0f, 100.0f), -1);
	EXPECT_EQ(GetCapturedStdout(), "err: illegal unit value.\nerr: illegal unit value.\n");
	/* no NaN or infinity reaches the integer */
	EXPECT_EQ(log_encode(1, 255, 0.5f, 100.0f), 255);
	EXPECT_EQ(log_decode(255, 16383, -2.0f, 100.0f), 0);
}

TEST(Interpolation, NaturalSplineReproducesALineAndRefusesEqualKnots)
{
	float x[6] = {0, 0, 1, 3, 4, 9}, y[6], y2[6] = {};
	for (int i = 1; i <= 5; i++)
		y[i] = 2.0f * x[i] + 1.0f;
	spline_second_derivs(x, y, 5, y2, 1e30f, 1e30f);
	for (float at : {0.5f, 2.0f, 3.5f, 8.0f}) {
		float out = 0.0f;
		splint(x, y, y2, 5, &out, at);
		EXPECT_NEAR(out, 2.0f * at + 1.0f, 1e-4f);
	}
	float xs[4] = {0, 1, 2, 2}, ys[4] = {0, 1, 2, 3}, y2s[4] = {};
	CaptureStdout();
	float out = 0.0f;
	splint(xs, ys, y2s, 3, &out, 2.0f);
	EXPECT_EQ(GetCapturedStdout(), "Bad xa input to routine splint\n");
	EXPECT_EQ(out, 1e30f);
}

TEST(Interpolation, ClampedSplineFollowsItsEndSlopes)
{
	/* y = x^2 on 0..3 with the true end slopes is reproduced exactly */
	float x[5] = {0, 0, 1, 2, 3}, y[5], y2[5] = {};
	for (int i = 1; i <= 4; i++)
		y[i] = x[i] * x[i];
	spline_second_derivs(x, y, 4, y2, 0.0f, 6.0f);
	float out = 0.0f;
	splint(x, y, y2, 4, &out, 1.5f);
	EXPECT_NEAR(out, 2.25f, 1e-4f);
}

TEST(Interpolation, PchipStaysMonotoneAndHitsItsKnots)
{
	const float x[] = {0, 16, 32, 48, 64, 100, 255};
	const float y[] = {0, 201, 346, 360, 361, 700, 1023};
	float d[7];
	pchip_slopes(x, y, 7, d);
	float prev = -1.0f;
	for (int i = 0; i <= 255; i++) {
		float v = -5.0f;
		hermite_eval(x, y, 7, d, &v, (float)i);
		EXPECT_GE(v, prev - 1e-3f) << i;
		prev = v;
	}
	for (int k = 0; k < 7; k++) {
		float v = -5.0f;
		hermite_eval(x, y, 7, d, &v, x[k]);
		EXPECT_EQ(v, y[k]);
	}
	float v = -5.0f;
	hermite_eval(x, y, 7, d, &v, 256.0f);
	hermite_eval(x, y, 7, d, &v, -1.0f);
	EXPECT_EQ(v, -5.0f) << "outside the knots nothing is written";
}

TEST(Interpolation, PchipRefusesKnotsThatDoNotIncrease)
{
	const float x[] = {0, 16, 16, 48};
	const float y[] = {0, 1, 2, 3};
	float d[4] = {7, 7, 7, 7};
	CaptureStdout();
	pchip_slopes(x, y, 4, d);
	EXPECT_EQ(GetCapturedStdout(), "err: entry points should be monotonically increasing\n");
	EXPECT_EQ(d[0], 7.0f);
	EXPECT_EQ(d[3], 7.0f);
	/* two knots: the straight line */
	pchip_slopes(x, y, 2, d);
	EXPECT_FLOAT_EQ(d[0], 1.0f / 16.0f);
	EXPECT_FLOAT_EQ(d[1], 1.0f / 16.0f);
}

TEST(ArrayStats, SumsMeansExtremesAndSpread)
{
	const std::vector<uint32_t> a = {2, 4, 4, 4, 5, 5, 7, 9};
	const int32_t n = (int32_t)a.size();
	EXPECT_EQ(array_sum_u32(a.data(), n), 40u);
	EXPECT_EQ(array_avg_u32(a.data(), n), 5u);
	EXPECT_EQ(array_std_var_err_u32(a.data(), n), 2u);
	EXPECT_EQ(array_max_value_u32(a.data(), n), 9);
	EXPECT_EQ(array_min_value_u32(a.data(), n), 2);
	EXPECT_EQ(array_max_value_index_u32(a.data(), n), 7);
	const uint32_t big[2] = {0xffffffffu, 0xffffffffu};
	EXPECT_EQ(array_sum_u32(big, 2), 0x1fffffffeull);

	std::vector<uint32_t> conv(a.size());
	ASSERT_EQ(array_avg_conv_u32(a.data(), conv.data(), n, 3), 0);
	EXPECT_EQ(conv, (std::vector<uint32_t>{2, 3, 3, 4, 4, 4, 5, 7}));
	std::vector<uint64_t> cum(a.size());
	ASSERT_EQ(array_cumsum_u32(cum.data(), a.data(), n), 0);
	EXPECT_EQ(cum.back(), 40u);
	std::vector<int32_t> d1(a.size()), d2(a.size());
	ASSERT_EQ(array_diff_u32(a.data(), d1.data(), n), 0);
	ASSERT_EQ(array_diff2_u32(a.data(), d2.data(), n), 0);
	EXPECT_EQ(d1, (std::vector<int32_t>{0, 2, 0, 0, 1, 0, 2, 2}));
	EXPECT_EQ(d2, (std::vector<int32_t>{0, 0, -2, 0, 1, -1, 2, 0}));
}

TEST(ArrayStats, BadInputNamesTheFunction)
{
	uint32_t out[4];
	CaptureStdout();
	EXPECT_EQ(array_sum_u32(nullptr, 4), 0u);
	EXPECT_EQ(array_max_value_u32(out, 0), -1);
	EXPECT_EQ(hist_split(nullptr, 64), -1);
	EXPECT_EQ(array_avg_conv_u32(out, out, 4, 5), -1);
	EXPECT_EQ(hist_flatness_score(out, 9), -1);
	EXPECT_EQ(GetCapturedStdout(), "Data invalid in array_sum_u32.\n"
	                               "Data invalid in array_max_value_u32.\n"
	                               "Data invalid in hist_split.\n"
	                               "Can't get convolution with array length 4 and conv length 5\n"
	                               "Data invalid in hist_flatness_score.\n");
}

TEST(ArrayStats, SortsAgreeWithTheStandardSortEvenOnSortedInput)
{
	std::mt19937 rng(7);
	std::vector<uint32_t> a(500);
	for (uint32_t &v : a)
		v = rng() % 1000;
	std::vector<uint32_t> expected = a, bubble = a, quick = a;
	std::sort(expected.begin(), expected.end());
	array_bubble_sort_u32(bubble.data(), (int32_t)bubble.size());
	array_quick_sort_u32(quick.data(), (int32_t)quick.size());
	EXPECT_EQ(bubble, expected);
	EXPECT_EQ(quick, expected);
	std::vector<uint32_t> sorted(3000);
	std::iota(sorted.begin(), sorted.end(), 0u);
	array_quick_sort_u32(sorted.data(), (int32_t)sorted.size());
	EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}

TEST(HistogramStats, OtsuSplitFallsBetweenTwoPeaks)
{
	std::vector<uint32_t> h(64, 0);
	for (int i = 8; i <= 12; i++)
		h[i] = 5000;
	for (int i = 48; i <= 52; i++)
		h[i] = 3000;
	int32_t k = hist_split(h.data(), 64);
	EXPECT_GE(k, 12);
	EXPECT_LT(k, 48);
}

TEST(HistogramStats, IndexesOfTheOccupiedRange)
{
	std::vector<uint32_t> h(64, 0);
	h[5] = 100000;
	h[40] = 50000;
	h[63] = 1; /* below a 65536th of the sum */
	EXPECT_EQ(hist_low_index(h.data(), 64), 5);
	EXPECT_EQ(hist_high_index(h.data(), 64), 40);
	EXPECT_EQ(hist_tail_index(h.data(), 64, 1), 62) << "the top bin alone reaches the count";
	EXPECT_EQ(hist_tail_index(h.data(), 64, 50001), 39);
	EXPECT_EQ(hist_tail_index(h.data(), 64, 50002), 4);
	std::vector<uint32_t> empty(64, 0);
	EXPECT_EQ(hist_low_index(empty.data(), 64), 64);
}

TEST(HistogramStats, EqualizationStretchesTheRangeAndKeepsOutliersInTheEndBins)
{
	std::vector<uint32_t> in(16, 0), out(16, 7);
	in[0] = 1; /* below the low index: a 4096th of the sum is not exceeded */
	in[4] = 30000;
	in[6] = 30000;
	in[8] = 30000;
	in[15] = 1; /* not above a 65536th */
	ASSERT_EQ(histogram_equalization_u32(in.data(), out.data(), 16), 0);
	EXPECT_EQ(out[0], 30001u);
	EXPECT_EQ(out[7], 30000u);
	EXPECT_EQ(out[15], 30001u);
	EXPECT_EQ(std::accumulate(out.begin(), out.end(), 0u), 90002u);
	std::vector<uint32_t> one(16, 0);
	one[3] = 9;
	CaptureStdout();
	EXPECT_EQ(histogram_equalization_u32(one.data(), out.data(), 16), -1);
	EXPECT_EQ(GetCapturedStdout(), "Data invalid in histogram_equalization_u32.\n");
}

TEST(HistogramStats, ValleysFallingEdgesAndFlatness)
{
	std::vector<uint32_t> flat(100, 10000);
	EXPECT_EQ(hist_flatness_score(flat.data(), 100), 100);
	std::vector<uint32_t> ramp(100);
	for (int i = 0; i < 100; i++)
		ramp[i] = 1000 + 1000 * (uint32_t)i;
	EXPECT_EQ(hist_flatness_score(ramp.data(), 100), 0);

	std::vector<uint32_t> h(64, 0);
	h[0] = 90000;
	h[1] = 40000;
	h[2] = 10000;
	h[3] = 2000;
	EXPECT_EQ(hist_falling_point_u32(h.data(), 64), 2);
	EXPECT_EQ(hist_first_valley(h.data(), 64), 4)
	    << "the values, raised to 512, stop falling after bin 4";

	int32_t value = 0, high = 0;
	std::vector<uint32_t> scene(64, 0);
	for (int i = 0; i < 40; i++)
		scene[i] = 20000 + 100 * (uint32_t)i;
	EXPECT_EQ(hist_analyse_range(&value, &high, scene.data(), 64), 0);
	EXPECT_GT(high, value);
}

TEST(HistogramStats, ExpandNormalizeAndRing)
{
	uint32_t in[64], out[256];
	for (int i = 0; i < 64; i++)
		in[i] = 1000u + 37u * (uint32_t)i;
	hist_expand_64_to_256(out, in);
	EXPECT_EQ(out[0], 125u);
	EXPECT_EQ(out[1], 125u + 83u);
	EXPECT_EQ(out[2], 125u + 166u);
	EXPECT_EQ(out[3], 1000u - 125u - 208u - 291u);
	for (int i = 0; i < 64; i++)
		EXPECT_EQ(out[4 * i] + out[4 * i + 1] + out[4 * i + 2] + out[4 * i + 3], in[i]);

	uint32_t a[4] = {1, 1, 1, 1};
	ASSERT_EQ(array_normalize_u32(a, 4), 0);
	EXPECT_EQ(a[0], 262144u);

	uint32_t ring[3] = {0, 0, 0}, index = 0, value = 9;
	ASSERT_EQ(ring_avg_u32(&value, &index, ring, 3), 0);
	EXPECT_EQ(value, 3u);
	EXPECT_EQ(index, 1u);
	index = 3;
	CaptureStdout();
	EXPECT_EQ(ring_avg_u32(&value, &index, ring, 3), -1);
	EXPECT_EQ(GetCapturedStdout(), "Error: index is beyond array length.\n");
}

TEST(HistogramStats, PredictionHoldsStillWhileNothingChanges)
{
	int32_t value = 0;
	for (int i = 0; i < 5; i++)
		smooth_change_predict(1000, 1000, &value);
	EXPECT_EQ(value, 0);
	/* a steady rise moves the value towards its predicted change */
	for (int i = 0; i < 5; i++)
		smooth_change_predict(1000 + 400 * i, 1400 + 400 * i, &value);
	EXPECT_GT(value, 0);
}

} // namespace

/* HDR curves and tables: integer paths against golden values, float curves
 * within one code of double-precision references written here from the
 * curves' definitions, and the statistics linearisation by action. */
#include "hdr_test_support.h"
#include "img_hdr_curves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{

using hdrtest::Chan;
using hdrtest::HdrTest;
using hdrtest::two_expo;

const uint16_t *knots()
{
	return img_hdr_knot_table.v;
}

/* ---- double-precision references ---- */

double clampd(double v, double lo, double hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

double max_code(int bits)
{
	return std::ldexp(1.0, bits) - 1;
}

double log_map_ref(double x, int bits, double a, double r)
{
	double m = max_code(bits);
	return clampd(65535 * std::log(1 + clampd(x, 0, m) / m * a / r) / std::log(1 + a), 0, 65535);
}

double compress_ref(double x, int bits, double a)
{
	double m = max_code(bits);
	return m * std::log(1 + clampd(x, 0, m) / m * a) / std::log(1 + a);
}

double expand_ref(double x, int bits, double a)
{
	double m = max_code(bits);
	return (std::pow(1 + a, clampd(x, 0, m) / m) - 1) * m / a;
}

double ratio_ref(int c, int e)
{
	img_hdr_ratio r;
	EXPECT_EQ(img_hdr_get_expo_ratio(&r, e, hdr_expo_num(c) - 1, c), 0);
	return r.num / std::ldexp(1.0, (int)r.shift);
}

/* Natural cubic spline through points 0..n-1. */
struct SplineRef {
	std::vector<double> x, y, y2;
	SplineRef(std::vector<double> xs, std::vector<double> ys) : x(std::move(xs)), y(std::move(ys))
	{
		size_t n = x.size();
		y2.assign(n, 0);
		std::vector<double> u(n, 0);
		for (size_t i = 1; i + 1 < n; i++) {
			double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
			double p = sig * y2[i - 1] + 2;
			y2[i] = (sig - 1) / p;
			u[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
			u[i] = (6 * u[i] / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
		}
		for (size_t k = n - 1; k-- > 0;)
			y2[k] = y2[k] * y2[k + 1] + u[k];
	}
	double at(double v) const
	{
		size_t hi = 1;
		while (hi < x.size() - 1 && x[hi] < v)
			hi++;
		size_t lo = hi - 1;
		double h = x[hi] - x[lo], a = (x[hi] - v) / h, b = (v - x[lo]) / h;
		return a * y[lo] + b * y[hi] +
		       ((a * a * a - a) * y2[lo] + (b * b * b - b) * y2[hi]) * h * h / 6;
	}
};

/* The tone control points for the boost and exposure count. */
SplineRef tone_spline_ref(uint32_t boost, int expo)
{
	static const double rows[2][9] = {{65536, 0, 768, 4096, 8192, 16384, 28672, 49152, 65536},
	                                  {65536, 0, 64, 512, 4096, 16384, 28672, 49152, 65536}};
	static const double weights[2][9] = {{120, 120, 135, 130, 128, 126, 132, 122, 120},
	                                     {120, 120, 120, 120, 130, 126, 132, 122, 120}};
	int r = expo >= 3;
	std::vector<double> xs, ys;
	for (int i = 1; i <= 8; i++) {
		double x = std::min(rows[r][i] * 65536 / rows[r][0], 65535.0);
		double y = x;
		if (boost != 0 && boost != 64) {
			double t = boost + std::exp(-x / 2048) * std::max<double>(boost / 8, 16);
			double g = std::pow(x / 65535, 64.0 / (int)t);
			y = std::round(std::min(weights[r][i] / weights[r][0] * 65535 * g,
			                        65535 * std::pow(x / 65535, 0.25)));
		}
		xs.push_back(x);
		ys.push_back(y);
	}
	return SplineRef(xs, ys);
}

double gamma_ref(uint32_t boost, double v)
{
	v = clampd(v, 0, 65535);
	double t = boost + (double)(boost / 2) * std::exp(-v / 4096);
	if ((int)t == 0 || (int)t == 64)
		return std::round(v);
	return std::trunc(65535 * std::pow(v / 65535, 64 / t));
}

class HdrCurves : public HdrTest
{
      protected:
	void blend(uint16_t ratio, uint16_t boost)
	{
		img_hdr_blend_config cfg = {ratio, boost};
		ASSERT_EQ(img_hdr_set_shutter_ratio(&cfg, 0), 0);
	}
	void last_expo_value(int (*set)(const uint32_t *, int), uint32_t v)
	{
		uint32_t all[4] = {v, v, v, v};
		ASSERT_EQ(set(all, 0), 0);
	}
	/* A caller's LUT of f(knot) for every exposure. */
	void extern_lut(double (*f)(double))
	{
		auto t = std::make_unique<hdr_extern_table>();
		t->enable = 1;
		for (int e = 0; e < 4; e++)
			for (int i = 0; i < IMG_HDR_KNOTS; i++)
				t->table[e][i] = (uint16_t)f(knots()[i]);
		ASSERT_EQ(img_hdr_set_extern_lut(t.get(), 0), 0);
	}
};

TEST(HdrKnots, TheInputLevelsOfEveryTable)
{
	const struct {
		int i;
		uint16_t v;
	} spots[] = {{0, 0},       {1, 16},      {64, 1024},   {65, 1056},   {96, 2048},
	             {97, 2112},   {128, 4096},  {129, 4224},  {224, 16384}, {225, 16640},
	             {288, 32768}, {289, 33280}, {351, 65024}, {352, 65535}};
	for (auto s : spots)
		EXPECT_EQ(knots()[s.i], s.v) << s.i;
	for (int i = 1; i < IMG_HDR_KNOTS; i++)
		ASSERT_GT(knots()[i], knots()[i - 1]) << i;
}

struct LinearizeCase {
	uint32_t segments;
	uint32_t code;
	float offset1;
	uint32_t expected;
};

/* Segment k has slope k + 1 and knee 100 k, so the result tells which
 * segment was used. */
TEST_F(HdrCurves, LinearizeChoosesTheSegment)
{
	const LinearizeCase cases[] = {
	    {1, 4000, 0, 2000},     /* one segment: always the first */
	    {3, 200, 0, 100},       /* below knee 1 */
	    {3, 600, 0, 450},       /* between knees 1 and 2 */
	    {3, 1000, 0, 1000},     /* past every knee: segment n */
	    {20, 7400, 0, 37000},   /* below the last knee */
	    {20, 20000, 0, 100000}, /* past all twenty: segment 19 goes on */
	    {25, 20000, 0, 100000}, /* a bad count reads no further */
	    {1, 7, 0, 2},           /* the two low bits go first */
	    {1, 400, 500, 0},       /* below the offset: 0 */
	};
	for (const LinearizeCase &c : cases) {
		SCOPED_TRACE(std::to_string(c.segments) + " segments, code " + std::to_string(c.code));
		memset(iq, 0, sizeof iq);
		iq[0].seg_num = c.segments;
		for (int k = 0; k < HDR_SEGMENTS; k++) {
			iq[0].knee[k] = 100.0f * (float)k;
			iq[0].slope[k] = (float)(k + 1);
		}
		iq[0].offset[1] = c.offset1;
		describe({two_expo()});
		EXPECT_EQ(img_hdr_linearize(c.code, 0), c.expected);
	}
}

TEST(HdrPrimitives, WithinOneCodeOfTheReference)
{
	for (int bits : {6, 14, 16}) {
		for (float a : {1.0f, 7.5f, 300.0f}) {
			for (float r : {1.0f, 4.0f, 16.0f}) {
				for (float x = 0; x < 70000; x += 997) {
					SCOPED_TRACE(std::to_string(bits) + " bits, a " + std::to_string(a) +
					             ", r " + std::to_string(r) + ", x " + std::to_string(x));
					EXPECT_NEAR(img_hdr_log_map(x, bits, a, r),
					            log_map_ref(x, bits, a, r), 1.0);
					EXPECT_NEAR(img_hdr_log_compress(x, bits, a),
					            compress_ref(x, bits, a), 1.0);
					EXPECT_NEAR(img_hdr_exp_expand(x, bits, a), expand_ref(x, bits, a),
					            1.0);
				}
			}
		}
	}
	/* The expansion undoes the compression. */
	for (float x = 0; x <= 16383; x += 61)
		EXPECT_NEAR(img_hdr_exp_expand(img_hdr_log_compress(x, 14, 40), 14, 40), x, 1.0) << x;
	/* A depth no code fits gives 0, not a division by zero. */
	EXPECT_EQ(img_hdr_log_map(100, 0, 4, 1), 0.0f);
	EXPECT_EQ(img_hdr_exp_expand(100, 0, 4), 0.0f);
}

struct FactorCase {
	uint16_t ratio, boost;
	uint32_t s1, s2;
	float f1, f2;
};

TEST_F(HdrCurves, StrengthFactors)
{
	const FactorCase cases[] = {
	    {256, 128, 400, 640, 200, 20},           /* R 16: a x 2^1, a x R / 8 */
	    {64, 128, 400, 640, 50, 10},             /* R 4: a x R / 8, a */
	    {64, 0, 400, 640, 12.5f, 1},             /* R 1: a / 8, a / 32 held at 1 */
	    {256, 128, 0, 0, 1, 1},                  /* held at 1 */
	    {2048, 128, 65536, 65536, 65536, 16384}, /* R 128: 2^15 held; x 16 */
	};
	for (const FactorCase &c : cases) {
		SCOPED_TRACE(std::to_string(c.ratio) + "/" + std::to_string(c.boost));
		describe({two_expo()});
		blend(c.ratio, c.boost);
		last_expo_value(img_hdr_set_1st_strength, c.s1);
		last_expo_value(img_hdr_set_2nd_strength, c.s2);
		EXPECT_FLOAT_EQ(img_hdr_1st_strength_factor(0), c.f1);
		EXPECT_FLOAT_EQ(img_hdr_2nd_strength_factor(0), c.f2);
	}
}

TEST_F(HdrCurves, ToneCurveOfBoost0Or64IsTheIdentityOverTheRatio)
{
	for (uint16_t boost : {0, 64}) {
		SCOPED_TRACE(boost);
		describe({two_expo()});
		ASSERT_EQ(img_hdr_set_ce_log_enable(0, 0), 0);
		blend(256, boost);
		int32_t zero[4] = {0, 0, 0, 0};
		ASSERT_EQ(img_hdr_set_drc_strength(zero, 0), 0);
		img_hdr_calc_tone_points(boost, 0);
		for (int i = 1; i <= 8; i++)
			EXPECT_EQ(hdr_ch(0)->tone_x[i], hdr_ch(0)->tone_y[i]);
		EXPECT_EQ(img_hdr_tone_gamma(boost, 0, 1234.4f), 1234);
		img_hdr_build_tone_lut(0);
		img_hdr_build_tone_drc(0);
		for (int e = 0; e < 2; e++) {
			double r = ratio_ref(0, e);
			EXPECT_EQ(r, boost ? (e ? 1.0 : 16.0) : 1.0);
			for (int i = 0; i < IMG_HDR_KNOTS; i++) {
				ASSERT_EQ(hdr_ch(0)->lut[e][i], std::lround(knots()[i] / r)) << e << " " << i;
				ASSERT_EQ(hdr_ch(0)->drc[e][i], hdr_ch(0)->lut[e][i]) << e << " " << i;
			}
		}
	}
}

TEST_F(HdrCurves, ToneLutFollowsSplineGammaAndTheirMix)
{
	for (int expo : {2, 3, 4}) {
		for (uint32_t mix : {0u, 64u, 128u}) {
			SCOPED_TRACE(std::to_string(expo) + " exposures, mix " + std::to_string(mix));
			describe({{(uint32_t)expo, 1, 1}});
			ASSERT_EQ(img_hdr_set_ce_log_enable(0, 0), 0);
			blend(64, 128);
			last_expo_value(img_hdr_set_lut_mix, mix);
			img_hdr_build_tone_lut(0);
			SplineRef spline = tone_spline_ref(128, expo);
			for (int e = 0; e < expo; e++) {
				double r = ratio_ref(0, e);
				for (int i = 0; i < IMG_HDR_KNOTS; i++) {
					double v = knots()[i] / r;
					double s = std::round(spline.at(v)), g = gamma_ref(128, v);
					double y =
					    mix == 0 ? s
					             : (mix == 128
					                    ? g
					                    : std::trunc((mix * g + (128 - mix) * s) / 128));
					ASSERT_NEAR(hdr_ch(0)->lut[e][i], clampd(y, 0, 65535), 1.0)
					    << e << " " << i;
				}
			}
		}
	}
}

TEST_F(HdrCurves, ToneLutUnderCeLogIsLogEncoded)
{
	for (int32_t factor : {0, 8}) {
		SCOPED_TRACE(factor);
		describe({two_expo()});
		img_hdr_ce_log_config ce = {factor, 0};
		ASSERT_EQ(img_hdr_set_ce_log_config(&ce, 0), 0);
		blend(16, 0);
		img_hdr_build_tone_lut(0);
		for (int i = 1; i < IMG_HDR_KNOTS; i++) {
			double x = knots()[i] / 4.0;
			double y = factor < 2
			               ? std::log(x) / std::log(16383.0) * 65535
			               : std::log(factor * x / 16383) / std::log((double)factor) * 65535;
			ASSERT_NEAR(hdr_ch(0)->lut[1][i], clampd(std::round(y), 0, 65535), 1.0) << i;
		}
	}
}

/* The DRC shapes the LUT's own values: y0 is the stored LUT entry. */
TEST_F(HdrCurves, ToneDrcShapesAroundTheLevel)
{
	const int32_t d = 30000;
	for (int32_t s : {-2048, 0, 512, 2048}) {
		SCOPED_TRACE(s);
		describe({two_expo()});
		ASSERT_EQ(img_hdr_set_ce_log_enable(0, 0), 0);
		blend(64, 128);
		int32_t strength[4] = {s, s, s, s};
		ASSERT_EQ(img_hdr_set_drc_strength(strength, 0), 0);
		hdr_ch(0)->drc_level = d;
		img_hdr_build_tone_lut(0);
		img_hdr_build_tone_drc(0);
		int64_t level = 0, above = 0, below = 0, floor = 0;
		if (s < 0) {
			level = (int64_t)(4096 + s) * 65535 / 4096, above = -16;
		} else if (s > 0) {
			level =
			    s <= 1024 ? (int64_t)s * d / 1024 : d + (int64_t)(s - 1024) * (65535 - d) / 3072;
			above = 4, below = 64, floor = 64;
		}
		for (int e = 0; e < 2; e++) {
			for (int i = 0; i < IMG_HDR_KNOTS; i++) {
				int64_t y0 = hdr_ch(0)->lut[e][i];
				double y =
				    y0 + (double)(y0 >= level ? above : below) * (double)(y0 - level) / 16;
				if (s < 0 && y0 >= level)
					y = std::max<double>((double)(y0 * 75 / 100), y);
				double v = std::max<double>(
				    (double)floor, std::min<double>((double)(y0 * 105 / 100), std::round(y)));
				ASSERT_NEAR(hdr_ch(0)->drc[e][i], clampd(v, 0, 65535), 1.0) << e << " " << i;
			}
		}
	}
	/* Out of range (only reachable past the setter): nothing written. */
	memset(hdr_ch(0)->drc, 0x5a, sizeof hdr_ch(0)->drc);
	hdr_ch(0)->drc_strength[1] = 4097;
	img_hdr_build_tone_drc(0);
	EXPECT_EQ(hdr_ch(0)->drc[1][100], 0x5a5a);
}

TEST_F(HdrCurves, LogLutLiftsTheShortExposureOfTwo)
{
	for (int expo : {2, 3}) {
		SCOPED_TRACE(expo);
		describe({{(uint32_t)expo, 1, 1, 2}});
		blend(256, 128);
		last_expo_value(img_hdr_set_1st_strength, 400);
		img_hdr_build_log_lut(0);
		double a = img_hdr_1st_strength_factor(0);
		int64_t full = 0;
		for (int e = 0; e < expo; e++) {
			double r = ratio_ref(0, e);
			if (r != 1)
				full = (int64_t)log_map_ref(65535, 16, a, r);
			for (int i = 0; i < IMG_HDR_KNOTS; i++) {
				int64_t y = (int64_t)log_map_ref(knots()[i], 16, a, r);
				if (r == 1 && full > y && expo == 2)
					y = std::max(full * 50 / 100,
					             std::min(full, y * 95 / 100 + full * 5 / 100));
				ASSERT_NEAR(hdr_ch(0)->lut[e][i], y, 1.0) << e << " " << i;
			}
		}
	}
}

TEST_F(HdrCurves, LogCurvesOfACompandedExposureGoThroughTheSensorCurve)
{
	iq[0].seg_num = 1;
	iq[0].slope[1] = 16;
	iq[0].bit_depth = 20;
	iq[0].white_level = 1u << 20;
	describe({{2, 1, 4, 2}});
	blend(256, 128);
	last_expo_value(img_hdr_set_1st_strength, 400);
	last_expo_value(img_hdr_set_boost_strength, 4096);
	img_hdr_build_log_lut(0);
	img_hdr_build_log_drc(0, 256);
	double a = img_hdr_1st_strength_factor(0), r = ratio_ref(0, 0);
	double w = 65535.0 / (1 << 20);
	for (int i = 0; i < IMG_HDR_KNOTS; i++) {
		double t = (double)(knots()[i] >> 2) * 16;
		ASSERT_NEAR(hdr_ch(0)->lut[0][i], (int64_t)log_map_ref(t, 20, a, r), 1.0) << i;
		double shaped = t < w ? t * t / w : t;
		ASSERT_NEAR(hdr_ch(0)->drc[0][i], (int64_t)log_map_ref(shaped, 20, a, r), 1.0) << i;
	}
}

TEST_F(HdrCurves, LogDrcBendsBelowOrAboveTheBoostKnee)
{
	describe({{2, 1, 1, 2}});
	blend(256, 128);
	last_expo_value(img_hdr_set_1st_strength, 400);
	double a = img_hdr_1st_strength_factor(0);
	/* No boost strength: unshaped, not divided by zero. */
	last_expo_value(img_hdr_set_boost_strength, 0);
	img_hdr_build_log_lut(0);
	img_hdr_build_log_drc(0, 256);
	for (int i = 0; i < IMG_HDR_KNOTS; i++)
		ASSERT_EQ(hdr_ch(0)->drc[0][i], hdr_ch(0)->lut[0][i]) << i;
	last_expo_value(img_hdr_set_boost_strength, 4096);
	img_hdr_build_log_drc(0, 256);
	double c = 65535.0 / 16;
	for (int e = 0; e < 2; e++) {
		double r = ratio_ref(0, e);
		for (int i = 0; i < IMG_HDR_KNOTS; i++) {
			double x = knots()[i];
			if (e == 1 ? x > c : x < c)
				x = x * x / c;
			ASSERT_NEAR(hdr_ch(0)->drc[e][i], (int64_t)log_map_ref(x, 16, a, r), 1.0)
			    << e << " " << i;
		}
	}
}

TEST_F(HdrCurves, AdaptiveDrcLevel)
{
	/* Sensor methods 4 and 8: the top of exposure 0's LUT every time. */
	describe({{2, 0, 8}});
	hdr_ch(0)->lut[0][352] = 41000;
	hdr_ch(0)->drc_hold = 3;
	img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, 41000u);
	EXPECT_EQ(hdr_ch(0)->drc_hold, 0u);

	describe({two_expo()});
	hdr_ch(0)->lut[0][352] = 60000;
	clear_flags(0);
	/* An empty histogram moves nothing. */
	img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, 65536u);
	EXPECT_EQ(flags(0), 0);
	/* Ratio 16x: bins from level 1024 (bin 16) up count as bright. 300
	 * of 1000 pixels are dark, so the target is 30 % of 60000. */
	uint32_t *hist = stats->chan[0].prehist[1][1];
	hist[5] = 300;
	hist[100] = 700;
	img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, (18000u + 3 * 65536u) / 4);
	EXPECT_EQ(flags(0), HDR_F_DRC);
	EXPECT_EQ(hdr_ch(0)->drc_hold, 5u);
	/* Held for five updates, then on again. */
	for (int i = 0; i < 5; i++)
		img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, 53652u);
	img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, (18000u + 3 * 53652u) / 4);
	/* Within 256 of the target: stays. */
	hdr_ch(0)->drc_hold = 0;
	hdr_ch(0)->drc_level = 18200;
	img_hdr_update_drc_level(256, &stats->chan[0], 0);
	EXPECT_EQ(hdr_ch(0)->drc_level, 18200u);
}

TEST_F(HdrCurves, AlphaTablesInterpolateThePresets)
{
	struct Case {
		int expo;
		uint32_t alpha;
		std::vector<uint8_t> first;
	};
	const std::vector<Case> cases = {
	    {2, 128, {0, 7, 11, 15, 15, 15, 15, 15, 15, 0, 7, 11}},
	    {2, 256, std::vector<uint8_t>(12, 0)},
	    {2, 0, std::vector<uint8_t>(12, 15)},
	    {2, 120, {0, 11, 13, 15, 15, 15, 15, 15, 15, 0, 11, 13}},
	    {2, 104, {5, 15, 15, 15, 15, 15, 15, 15, 15, 5, 15, 15}},
	    {2, 48, {13, 15, 15, 15, 15, 15, 15, 15, 15, 13, 15, 15}},
	    /* Three exposures: blending index 0 takes row 1 of the bank. */
	    {3, 128, {3, 13, 14, 15, 15, 15, 15, 15, 15, 3, 13, 14}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(std::to_string(c.expo) + " exposures, alpha " + std::to_string(c.alpha));
		describe({{(uint32_t)c.expo, 1, 1}});
		last_expo_value(img_hdr_set_alpha_value, c.alpha);
		img_hdr_calc_alpha_tables(0);
		const uint8_t *t = hdr_ch(0)->alpha_table[0];
		EXPECT_EQ(std::vector<uint8_t>(t, t + 12), c.first);
		EXPECT_EQ(t[126], c.alpha >= 256 ? 0 : 15);
		for (int i = 0; i < HDR_ALPHA_ENTRIES; i++)
			ASSERT_LE(t[i], 15) << i;
	}
	/* Bank 128 row 0 ends in its {15, 12, 8, 4, 2} group before two
	 * zeros. */
	describe({two_expo()});
	img_hdr_calc_alpha_tables(0);
	const uint8_t *t = hdr_ch(0)->alpha_table[0];
	EXPECT_EQ(std::vector<uint8_t>(t + 117, t + 128),
	          std::vector<uint8_t>({0, 3, 7, 11, 13, 15, 15, 15, 15, 15, 15}));
	/* One exposure: nothing written. */
	describe({{1, 1, 1}});
	memset(hdr_ch(0)->alpha_table, 0x77, sizeof hdr_ch(0)->alpha_table);
	img_hdr_calc_alpha_tables(0);
	EXPECT_EQ(hdr_ch(0)->alpha_table[0][0], 0x77);
}

double identity(double x)
{
	return x;
}

double half(double x)
{
	return x / 2;
}

TEST_F(HdrCurves, SaturationThresholds)
{
	describe({{3, 1, 1}});
	const uint32_t wb[3] = {2048, 1024, 1536};
	const uint32_t dgain[4] = {4096, 4096, 4096, 4096};
	uint16_t out[3][4] = {};
	extern_lut(identity);
	/* Index 0 from the gains; index 1 from exposure 1's LUT at the level
	 * 4 x thr x 1024 / max gain = 30720 (knot 256), >> 2. */
	ASSERT_EQ(img_hdr_set_color_threshold_enable(1, 0), 0);
	img_hdr_calc_sat_threshold(wb, dgain, out, 0);
	EXPECT_EQ(std::vector<uint16_t>(out[0], out[0] + 4),
	          std::vector<uint16_t>({8192, 15360, 15360, 10240}));
	EXPECT_EQ(std::vector<uint16_t>(out[1], out[1] + 4), std::vector<uint16_t>({7680, 7680, 7680, 7680}));
	ASSERT_EQ(img_hdr_set_color_threshold_enable(0, 0), 0);
	img_hdr_calc_sat_threshold(wb, dgain, out, 0);
	EXPECT_EQ(std::vector<uint16_t>(out[0], out[0] + 4), std::vector<uint16_t>(4, 15360));
	/* Neutral gains reach knot 61440: 15360; half the LUT: 7680. */
	const uint32_t grey[3] = {1024, 1024, 1024};
	img_hdr_calc_sat_threshold(grey, dgain, out, 0);
	EXPECT_EQ(out[1][0], 15360);
	extern_lut(half);
	img_hdr_calc_sat_threshold(grey, dgain, out, 0);
	EXPECT_EQ(out[1][0], 7680);
	/* A zero gain divides nothing. */
	const uint32_t no_blue[3] = {1024, 1024, 0};
	ASSERT_EQ(img_hdr_set_color_threshold_enable(1, 0), 0);
	img_hdr_calc_sat_threshold(no_blue, dgain, out, 0);
	EXPECT_EQ(out[0][3], 8192);
	/* One exposure: nothing written. */
	describe({{1, 1, 1}});
	memset(out, 0x33, sizeof out);
	img_hdr_calc_sat_threshold(wb, dgain, out, 0);
	EXPECT_EQ(out[0][0], 0x3333);
}

struct OffsetCase {
	const char *name;
	Chan chan;
	int32_t lines; /* -1: fixed offsets */
	std::vector<int32_t> y;
};

TEST_F(HdrCurves, RawOffsetsOfLineInterleavedExposures)
{
	const OffsetCase cases[] = {
	    {"blend bypass", {2, 1, 1, 1}, 4, {0, 0, 0, 0}}, {"fixed", {2, 1, 1}, -1, {10, 20, 30, 40}},
	    {"method 1", {2, 1, 1}, 4, {8, 33, 38, 43}},     {"method 7", {3, 1, 7}, 4, {12, 13, 35, 42}},
	    {"method 6", {2, 1, 6}, 4, {8, 23, 38, 43}},
	};
	for (const OffsetCase &c : cases) {
		SCOPED_TRACE(c.name);
		uint8_t *r = sensor.data() + 20;
		const int32_t words[][2] = {{16, c.lines}, {20, 2}, {72, 10}, {76, 20}, {80, 30}, {84, 40}};
		for (auto w : words)
			memcpy(r + w[0], &w[1], 4);
		describe({c.chan});
		const uint32_t shutters[4] = {100, 10, 5, 3};
		for (int e = 0; e < 4; e++)
			blocks[0].expo[e].shutter = shutters[e];
		img_dsp_hdr_raw_offset out;
		memset(&out, 0xff, sizeof out);
		int changed = img_hdr_update_raw_offset(&blocks[0], &out, 0);
		EXPECT_EQ(std::vector<int32_t>(out.y_offset, out.y_offset + 4), c.y);
		EXPECT_EQ(std::vector<int32_t>(out.x_offset, out.x_offset + 4), std::vector<int32_t>(4, 0));
		/* The init's last offsets are the fixed ones, or 0. */
		bool moved = c.lines >= 0 && (c.y[0] || c.y[1]);
		EXPECT_EQ(changed, moved ? 1 : 0);
		EXPECT_EQ(img_hdr_update_raw_offset(&blocks[0], &out, 0), 0);
	}
	/* Only the channel's exposures count as a change. */
	blocks[0].expo[0].shutter = 100;
	describe({{2, 1, 1}});
	img_dsp_hdr_raw_offset out;
	img_hdr_update_raw_offset(&blocks[0], &out, 0);
	hdr_ch(0)->last_raw_offset.y_offset[3] += 5;
	EXPECT_EQ(img_hdr_update_raw_offset(&blocks[0], &out, 0), 0);
}

TEST_F(HdrCurves, DigitalGainsAndBlendPairAreComparedWithTheLastApplied)
{
	describe({two_expo()});
	blocks[0].expo[1].dgain = 2048;
	blocks[0].expo[0].dgain_changed = blocks[0].expo[1].dgain_changed = 1;
	uint32_t d[4];
	EXPECT_EQ(img_hdr_check_dgain(&blocks[0], d, 0), 1);
	/* The shortest exposure's gain is taken too: it scales its front-end
	 * white balance. */
	EXPECT_EQ(std::vector<uint32_t>(d, d + 4), std::vector<uint32_t>({4096, 2048, 0, 0}));
	EXPECT_EQ(blocks[0].expo[0].dgain_changed + blocks[0].expo[1].dgain_changed, 0u);
	EXPECT_EQ(img_hdr_check_dgain(&blocks[0], d, 0), 0);

	clear_flags(0);
	img_hdr_blend_config pair = {0, 0};
	img_hdr_check_blend_config(&pair, 0);
	EXPECT_EQ(pair.ratio, 256);
	EXPECT_EQ(flags(0), HDR_F_LUT);
	clear_flags(0);
	img_hdr_check_blend_config(&pair, 0);
	EXPECT_EQ(flags(0), 0);
}

enum Action { NOTHING, REMOVE, LINEARISE };

const char *action_name(Action a)
{
	return a == NOTHING ? "nothing" : (a == REMOVE ? "remove WB" : "linearise");
}

struct AwbCase {
	Chan chan;
	Action log_family, lut_family;
};

TEST_F(HdrCurves, AwbStatisticsActionByChannel)
{
	const AwbCase cases[] = {
	    {{2, 0, 3}, REMOVE, REMOVE},          {{2, 0, 4}, LINEARISE, LINEARISE},
	    {{2, 0, 6}, LINEARISE, LINEARISE},    {{2, 0, 8}, LINEARISE, REMOVE},
	    {{2, 0, 1}, NOTHING, NOTHING},        {{2, 1, 4}, LINEARISE, LINEARISE},
	    {{2, 1, 6, 1}, LINEARISE, LINEARISE}, {{2, 1, 8, 1}, LINEARISE, NOTHING},
	    {{2, 1, 1, 1}, NOTHING, NOTHING},     {{2, 1, 1}, LINEARISE, LINEARISE},
	    {{2, 1, 8}, LINEARISE, LINEARISE},
	};
	const uint32_t wb[3] = {2048, 1024, 512};
	const aaa_awb_tile tile = {4000, 8000, 12000, 30, {0, 0, 0}};
	const aaa_awb_tile removed = {2000, 8000, 24000, 30, {0, 0, 0}};
	for (const AwbCase &c : cases) {
		for (bool lut : {false, true}) {
			SCOPED_TRACE("dsp " + std::to_string(c.chan.dsp_hdr) + " method " +
			             std::to_string(c.chan.method) + " curve " +
			             std::to_string(c.chan.curve) + (lut ? " LUT family" : " log family"));
			describe({c.chan});
			blend(256, 128);
			last_expo_value(img_hdr_set_1st_strength, 400);
			last_expo_value(img_hdr_set_2nd_strength, 64);
			extern_lut(half);
			aaa_parse_result &res = stats->chan[0];
			res.awb_tiles = 1;
			res.set.awb[0] = tile;
			res.set.awb[1] = tile;
			if (lut)
				img_hdr_process_awb_stats_lut(wb, &res, 0);
			else
				img_hdr_process_awb_stats(wb, &res, 0);
			const aaa_awb_tile &t = res.set.awb[0];
			Action got = !memcmp(&t, &tile, sizeof t)
			                 ? NOTHING
			                 : (!memcmp(&t, &removed, sizeof t) ? REMOVE : LINEARISE);
			EXPECT_STREQ(action_name(got), action_name(lut ? c.lut_family : c.log_family));
			/* Only the counted tiles. */
			EXPECT_EQ(memcmp(&res.set.awb[1], &tile, sizeof tile), 0);
		}
	}
}

TEST_F(HdrCurves, LogAwbLinearisationScalesTheShortExposuresTiles)
{
	describe({two_expo()});
	blend(256, 128);
	last_expo_value(img_hdr_set_1st_strength, 400);
	last_expo_value(img_hdr_set_2nd_strength, 64);
	hdr_ch(0)->lut[0][352] = 65535;
	double a1 = img_hdr_1st_strength_factor(0), a2 = img_hdr_2nd_strength_factor(0);
	aaa_parse_result &res = stats->chan[0];
	res.awb_tiles = 2;
	/* Fourth values below and above the LUT's top / 1024 = 63 after
	 * compression. */
	res.set.awb[0] = {1000, 2000, 3000, 10, {0, 0, 0}};
	res.set.awb[1] = {1000, 2000, 3000, 63, {0, 0, 0}};
	const uint32_t wb[3] = {1024, 1024, 1024};
	img_hdr_process_awb_stats(wb, &res, 0);
	for (int i = 0; i < 2; i++) {
		double gain = i == 0 ? 16 : 1;
		SCOPED_TRACE(i);
		EXPECT_NEAR(res.set.awb[i].g,
		            std::trunc(expand_ref(compress_ref(2000, 14, a2), 14, a1) * gain), gain);
	}
}

TEST_F(HdrCurves, LutInversionOfAwbAndAeStatistics)
{
	describe({two_expo()});
	ASSERT_EQ(img_hdr_set_ce_log_enable(0, 0), 0);
	extern_lut(half);
	const uint32_t wb[3] = {1024, 1024, 1024};
	aaa_parse_result &res = stats->chan[0];
	res.awb_tiles = 4;
	/* A first tile without green keeps the starting gain 1024; a tile of
	 * green 1000 inverts to 8000 = 2 x its own level (gain 2048), which
	 * the next green-less tile keeps; past the table's top: 65535. */
	res.set.awb[0] = {100, 0, 100, 10, {0, 0, 0}};
	res.set.awb[1] = {100, 1000, 100, 10, {0, 0, 0}};
	res.set.awb[2] = {100, 0, 100, 10, {0, 0, 0}};
	res.set.awb[3] = {100, 10000, 100, 10, {0, 0, 0}};
	img_hdr_process_awb_stats_lut(wb, &res, 0);
	const uint32_t expected[4][4] = {
	    {100, 0, 100, 10}, {200, 2000, 200, 20}, {200, 0, 200, 20}, {163, 16376, 163, 16}};
	for (int i = 0; i < 4; i++)
		EXPECT_EQ(std::vector<uint32_t>(&res.set.awb[i].r, &res.set.awb[i].r + 4),
		          std::vector<uint32_t>(expected[i], expected[i] + 4))
		    << i;

	res.ae_tiles = 3;
	res.set.ae[0].cfa_luma = 1000;
	res.set.ae[1].cfa_luma = AAA_LUMA_NONE;
	res.set.ae[2].cfa_luma = 0;
	img_hdr_process_ae_stats_lut(&res, 0);
	EXPECT_EQ(res.set.ae[0].cfa_luma, 2000u);
	EXPECT_EQ(res.set.ae[1].cfa_luma, AAA_LUMA_NONE);
	EXPECT_EQ(res.set.ae[2].cfa_luma, 0u);

	/* Under CE log the table is decoded back first: the decoding undoes
	 * the encoding of an identity tone curve, so the gain stays near 1. */
	describe({two_expo()});
	blend(16, 0);
	img_hdr_ce_log_config ce = {8, 8};
	ASSERT_EQ(img_hdr_set_ce_log_config(&ce, 0), 0);
	img_hdr_build_tone_lut(0);
	res.awb_tiles = 1;
	res.set.awb[0] = {1000, 4000, 1000, 10, {0, 0, 0}};
	img_hdr_process_awb_stats_lut(wb, &res, 0);
	EXPECT_NEAR(res.set.awb[0].r, 1000, 3);
	EXPECT_NEAR(res.set.awb[0].g, 4000, 10);
}

TEST_F(HdrCurves, LogAeLinearisationKeepsEmptyTiles)
{
	for (Chan c : {Chan{2, 1, 1}, Chan{2, 0, 1}}) {
		describe({c});
		blend(256, 128);
		last_expo_value(img_hdr_set_1st_strength, 400);
		last_expo_value(img_hdr_set_2nd_strength, 64);
		double a1 = img_hdr_1st_strength_factor(0), a2 = img_hdr_2nd_strength_factor(0);
		aaa_parse_result &res = stats->chan[0];
		res.ae_tiles = 2;
		res.set.ae[0].cfa_luma = 3000;
		res.set.ae[1].cfa_luma = AAA_LUMA_NONE;
		img_hdr_process_ae_stats(&res, 0);
		double expected =
		    c.dsp_hdr ? std::trunc(expand_ref(compress_ref(3000, 14, a2), 14, a1)) : 3000;
		EXPECT_NEAR(res.set.ae[0].cfa_luma, expected, 1.0) << c.dsp_hdr;
		EXPECT_EQ(res.set.ae[1].cfa_luma, AAA_LUMA_NONE);
	}
}

struct BrightCase {
	std::vector<uint32_t> hist;
	uint32_t reference, fraction;
	int32_t expected;
};

TEST(HdrBrightRatio, WeighsTheBrightestPixels)
{
	const BrightCase cases[] = {
	    {{}, 100, 512, 1000},
	    {{0, 0, 0}, 100, 512, 1000},
	    {{10, 0, 0, 0}, 100, 1024, 1000}, /* all in bin 0: nothing to weigh */
	    {{10, 0, 0, 0}, 100, 2048, 1000}, /* bin 0 cannot hold the target */
	    {{0, 0, 0, 10}, 1000, 512, 1000 * 5 * 1024 / 15},
	    {{4, 0, 6, 2}, 100, 1024, 100 * 12 * 1024 / 18},
	};
	for (const BrightCase &c : cases)
		EXPECT_EQ(img_hdr_calc_bright_ratio(c.hist.data(), c.reference, c.fraction,
		                                    (uint32_t)c.hist.size()),
		          c.expected)
		    << c.hist.size();
	EXPECT_EQ(img_hdr_calc_bright_ratio(nullptr, 1, 1, 4), 1000);
}

} // namespace

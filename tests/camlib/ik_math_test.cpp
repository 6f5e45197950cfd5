/* Core maths: values worked out by hand from the rounding rules. */
#include "ik_math.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace
{

TEST(IkMath, DivRoundRoundsHalvesAwayFromZero)
{
	struct {
		int32_t a, b, want;
	} cases[] = {
	    {7, 2, 4},   {-7, 2, -4}, {5, 0, 0},
	    {5, -1, -5}, {6, 4, 2},   {-6, 4, -2},
	    {0, 3, 0},   {5, 4, 1},   {INT32_MAX, 2, 1073741824},
	};
	for (const auto &c : cases)
		EXPECT_EQ(img_dsp_core_div_round(c.a, c.b), c.want) << c.a << "/" << c.b;
	EXPECT_EQ(img_dsp_core_div_round64(-9000000000LL, 2), -4500000000LL);
}

TEST(IkMath, BasicArithmetic)
{
	EXPECT_EQ(img_dsp_core_abs(-5), 5);
	EXPECT_EQ(img_dsp_core_abs(INT32_MIN), INT32_MIN);
	EXPECT_EQ(img_dsp_core_round_double(2.5), 3);
	EXPECT_EQ(img_dsp_core_round_double(-2.5), -3);
	EXPECT_EQ(img_dsp_core_round_double(2.4), 2);
	EXPECT_EQ(img_dsp_core_rounded_reciprocal(3, 4), 5);
	EXPECT_EQ(img_dsp_core_rounded_reciprocal(0, 4), 0);
	EXPECT_EQ(img_dsp_core_round_up_multiple(10, 4, 0), 12);
	EXPECT_EQ(img_dsp_core_round_up_multiple(3, 4, 8), 8);
	EXPECT_EQ(img_dsp_core_round_up_multiple(10, 0, 5), 5);
}

TEST(IkMath, NormalizedReciprocal)
{
	struct {
		int32_t v, s, r;
	} cases[] = {{1, 7, 128}, {3, 9, 171}, {0, 0, 0}, {256, 15, 128}};
	for (const auto &c : cases) {
		int32_t s = -1, r = -1;
		img_dsp_core_normalized_reciprocal(c.v, &s, &r);
		EXPECT_EQ(s, c.s) << c.v;
		EXPECT_EQ(r, c.r) << c.v;
	}
}

TEST(IkMath, Interpolation)
{
	const int32_t x[] = {0, 100, 200};
	const int32_t y[] = {0, 50, 200};
	EXPECT_EQ(img_dsp_core_interp_table(3, x, y, 150), 125);
	EXPECT_EQ(img_dsp_core_interp_table(3, x, y, 250), 200);
	EXPECT_EQ(img_dsp_core_interp_table(3, x, y, 50), 25);
	EXPECT_EQ(img_dsp_core_interp_table(1, x, y, 50), 0);
	EXPECT_EQ(img_dsp_core_linear_map(0, 100, 0, 1000, 50), 500);
	EXPECT_EQ(img_dsp_core_linear_map(0, 100, 0, 1000, 150), 1000);
	EXPECT_EQ(img_dsp_core_linear_map(0, 3, 0, 10, 1), 3);
	EXPECT_EQ(img_dsp_core_linear_map(5, 5, 7, 9, 5), 7);
}

TEST(IkMath, CurveLookupTwoStages)
{
	std::vector<uint16_t> c1(1024), c2(256);
	for (int j = 0; j < 1024; j++)
		c1[j] = (uint16_t)(j * 64);
	for (int i = 0; i < 256; i++)
		c2[i] = (uint16_t)(i * 256);
	EXPECT_EQ(img_dsp_core_curve_lookup2(0, c1.data(), c2.data()), 0);
	EXPECT_EQ(img_dsp_core_curve_lookup2(128, c1.data(), c2.data()), 64);
	EXPECT_EQ(img_dsp_core_curve_lookup2(1 << 22, c1.data(), c2.data()), 0);
	/* The first stage saturates at the top of the second curve. */
	std::vector<uint16_t> top(256, 65535);
	EXPECT_EQ(img_dsp_core_curve_lookup2(0, c1.data(), top.data()), 4091);
}

TEST(IkMath, FillRamp)
{
	uint8_t out[128];
	memset(out, 0xAA, sizeof(out));
	img_dsp_core_fill_ramp(out, 5, 127, 127, 128, 9, 0);
	for (uint8_t v : out)
		ASSERT_EQ(v, 0);

	uint8_t ramp[8];
	memset(ramp, 0xAA, sizeof(ramp));
	img_dsp_core_fill_ramp(ramp, 0, 2, 5, 8, 30, 0);
	const uint8_t want[8] = {0, 0, 0, 10, 20, 30, 30, 30};
	EXPECT_EQ(0, memcmp(ramp, want, 8));

	memset(ramp, 0xAA, sizeof(ramp));
	img_dsp_core_fill_ramp(ramp, 0, 4, 10, 8, 30, 1);
	EXPECT_EQ(0, memcmp(ramp, want, 8));
}

TEST(IkMath, Conv7x7)
{
	int32_t a[49] = {}, b[49], out[49];
	for (int i = 0; i < 49; i++)
		b[i] = i * 3 - 40;
	a[24] = 1;
	img_dsp_core_conv7x7(a, b, out, 0);
	EXPECT_EQ(0, memcmp(out, b, sizeof(b)));

	int32_t c[49] = {};
	a[24] = 3;
	c[24] = 1;
	img_dsp_core_conv7x7(a, c, out, 1);
	EXPECT_EQ(out[24], 2);
	EXPECT_EQ(out[0], 0);
}

TEST(IkMath, ChromaSize)
{
	EXPECT_EQ(img_dsp_core_best_divisor(8192, 64), 4096);
	int32_t w = 0, h = 0;
	img_dsp_core_calc_chroma_size(1920, 1080, 1920, 1080, 64, &w, &h);
	EXPECT_EQ(w, 960);
	EXPECT_EQ(h, 540);
	img_dsp_core_calc_chroma_size(0, 0, 1920, 1080, 64, &w, &h);
	EXPECT_EQ(w, 0);
	EXPECT_EQ(h, 0);
}

TEST(IkMath, DecimationFactors)
{
	iktest::register_host_functions();
	img_dsp_arch_info none{};
	iktest::SimRegion region(65536);
	none.MemAddr = region.user_addr();
	none.MemSize = region.size();
	ASSERT_EQ(vors_img_dsp_init_arch(&none), 0); /* installs the sqrt slot */
	struct {
		uint16_t w;
		uint8_t k;
		uint8_t f0, f1, f2;
	} automatic[] = {
	    {1920, 0, 4, 4, 1}, {100, 0, 1, 1, 1}, {4096, 32, 6, 5, 2}, {4096, 64, 5, 4, 4}, {31, 9, 0, 1, 1},
	};
	for (const auto &c : automatic) {
		uint8_t f[3] = {};
		EXPECT_EQ(img_dsp_core_calc_decimation_factors(c.w, c.k, f), 0);
		EXPECT_EQ(f[0], c.f0) << c.w << "," << (int)c.k;
		EXPECT_EQ(f[1], c.f1) << c.w << "," << (int)c.k;
		EXPECT_EQ(f[2], c.f2) << c.w << "," << (int)c.k;
	}
	vors_img_dsp_deinit_arch();

	struct {
		uint16_t w;
		uint8_t f0, f1, f2;
	} defaults[] = {
	    {1920, 8, 4, 1}, {100, 2, 1, 1}, {4000, 8, 8, 1}, {5000, 8, 8, 2}, {64, 1, 1, 1}, {200, 4, 1, 1},
	};
	for (const auto &c : defaults) {
		uint8_t f[3] = {};
		EXPECT_EQ(img_dsp_core_default_decimation_factors(c.w, f), 0);
		EXPECT_EQ(f[0], c.f0) << c.w;
		EXPECT_EQ(f[1], c.f1) << c.w;
		EXPECT_EQ(f[2], c.f2) << c.w;
	}
}

TEST(IkMath, TableSelection)
{
	struct {
		int32_t i, table, want;
	} cases[] = {
	    {3, 2, 2}, {9, 2, -2}, {2, 0, -1}, {0, 7, -1}, {7, 5, 10}, {14, 6, 17}, {15, 6, -1}, {-1, 0, -1},
	};
	for (const auto &c : cases)
		EXPECT_EQ(img_dsp_core_select_table_value(c.i, c.table), c.want) << c.i << "@" << c.table;
	EXPECT_EQ(img_dsp_core_select_table_value_ex(42, -1), 42);
	EXPECT_EQ(img_dsp_core_select_table_value_ex(2, 0), 4);
	EXPECT_EQ(img_dsp_core_select_table_value_ex(11, 3), 2);
	EXPECT_EQ(img_dsp_core_select_table_value_ex(0, 5), -1);
}

TEST(IkMath, RarelyUsedConverters)
{
	EXPECT_EQ(img_dsp_core_align16_calc(100, -1), 80);
	EXPECT_EQ(img_dsp_core_align16_calc(10, -2), 40960);
	EXPECT_EQ(img_dsp_core_align16_calc(0, 30), 32);
	EXPECT_EQ(img_dsp_core_align16_calc(0, 5), 0);

	uint8_t src[22], dst[8];
	for (int i = 0; i < 22; i++)
		src[i] = (uint8_t)i;
	img_dsp_core_pack_record8(src, dst);
	const uint8_t want[8] = {12, 13, 15, 16, 17, 19, 20, 86};
	EXPECT_EQ(0, memcmp(dst, want, 8));

	/* v / d = 1.0 in 13 fraction bits and q = 2^26 make x = c = 2^13, whose
	 * scaled reciprocal 2^58 is a whole multiple of 2^32: inverse 2^26. */
	int32_t cand = 0;
	uint32_t inv = 0;
	img_dsp_core_search_ratio(3, 3, &cand, &inv, 1 << 26, 0);
	EXPECT_EQ(cand, 8192);
	EXPECT_EQ(inv, 67108864u);

	std::vector<uint32_t> packed(4096, (7u << 20) | (5u << 10) | 3u);
	std::vector<uint16_t> out(3 * 4096);
	img_dsp_core_unpack_3d_lut(packed.data(), out.data());
	EXPECT_EQ(out[0], 3);
	EXPECT_EQ(out[1], 5);
	EXPECT_EQ(out[12287], 7);
}

} // namespace

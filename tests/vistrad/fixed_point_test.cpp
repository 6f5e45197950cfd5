// The daemon's fixed-point helpers: exact results of the rounding rules,
// the search and interpolation the lens and iris code rely on, the fit and
// the matrix operations.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>

#include <vector>

#include "core/fixed_point.h"
#include "log_capture.h"

namespace
{

TEST(FixedPointTest, TableSearch)
{
	const int32_t up[] = {10, 20, 30};
	const int32_t down[] = {30, 20, 10};
	const int32_t wide[] = {0, 10, 20, 30, 40, 50, 60, 70};
	struct {
		const int32_t *table;
		int n;
		int32_t value;
		int mode;
		int expected;
	} cases[] = {
	    {up, 3, 25, FX_SEARCH_ABOVE, 2},     {up, 3, 25, FX_SEARCH_BELOW, 1},
	    {up, 3, 25, FX_SEARCH_NEAREST, 1}, // a tie goes below
	    {up, 3, 27, FX_SEARCH_NEAREST, 2},   {up, 3, 5, FX_SEARCH_ABOVE, 0},
	    {up, 3, 5, FX_SEARCH_BELOW, 0},      {up, 3, 5, FX_SEARCH_NEAREST, 0},
	    {up, 3, 20, FX_SEARCH_ABOVE, 1},     {up, 3, 20, FX_SEARCH_BELOW, 1},
	    {up, 3, 99, FX_SEARCH_BELOW, 2},     {down, 3, 25, FX_SEARCH_ABOVE, 0},
	    {down, 3, 25, FX_SEARCH_BELOW, 1},   {down, 3, 5, FX_SEARCH_ABOVE, 2},
	    {down, 3, 35, FX_SEARCH_BELOW, 0},   {wide, 8, 41, FX_SEARCH_ABOVE, 5},
	    {wide, 8, 41, FX_SEARCH_BELOW, 4},   {wide, 8, 3, FX_SEARCH_NEAREST, 0},
	    {wide, 8, 66, FX_SEARCH_NEAREST, 7}, {wide, 8, 60, FX_SEARCH_ABOVE, 6},
	    {up, 1, 25, FX_SEARCH_ABOVE, 0},     {up, 0, 25, FX_SEARCH_ABOVE, 0},
	};
	for (const auto &c : cases)
		EXPECT_EQ(fx_table_search(c.value, c.table, c.n, c.mode), c.expected)
		    << "value " << c.value << " mode " << c.mode << " n " << c.n << " first " << c.table[0];
}

TEST(FixedPointTest, LinearInterpolation)
{
	struct {
		int32_t x, x0, x1, y0, y1, expected;
	} cases[] = {
	    {5, 0, 10, 0, 1, 1},   // 0.5 rounds up
	    {-5, 0, 10, 0, 1, -1}, // half away from zero
	    {5, 0, 10, 0, -1, -1},
	    {20, 0, 10, 0, 1, 2},  // extrapolates
	    {7, 3, 3, 42, 99, 42}, // no width: y0
	    {5, 10, 0, 1, 0, 0},   // falling x: 5 / -10 rounds to -1
	    {65536, 0, 131072, 0, 65536, 32768},
	};
	for (const auto &c : cases)
		EXPECT_EQ(fx_lin_interp(c.x, c.x0, c.x1, c.y0, c.y1), c.expected) << "x " << c.x;
	// The 32-bit product of 65536 and 65536 wraps to 0.
	EXPECT_EQ(fx_lin_interp32(65536, 0, 131072, 0, 65536), 0);
	EXPECT_EQ(fx_lin_interp32(-5, 0, 10, 0, 1), -1);
	EXPECT_EQ(fx_lin_interp32(INT32_MIN, 0, -1, 0, 1), INT32_MIN);
	EXPECT_EQ(fx_lin_interp64(int64_t(1) << 40, 0, int64_t(1) << 41, 0, int64_t(1) << 20), int64_t(1)
	                                                                                           << 19);
	EXPECT_EQ(fx_lin_interp64(-5, 0, 10, 0, 1), -1);
	// Slope rdiv(1600, 4) = 400 with 4 extra bits, times 3, shifted back.
	EXPECT_EQ(fx_lin_interp64_shift(3, 0, 4, 0, 100, 4), 75);
	EXPECT_EQ(fx_lin_interp64_shift(3, 0, 4, 0, -100, 4), -75);
	EXPECT_EQ(fx_lin_interp64_shift(5, 0, 10, 0, 1, 8), 1);
	EXPECT_EQ(fx_lin_interp64_shift(5, 2, 2, 9, 1, 8), 9);
}

TEST(FixedPointTest, TableInterpolationClampsAndInterpolates)
{
	const int32_t xs[] = {0, 100, 200};
	const int32_t ys[] = {0, 1000, 500};
	struct {
		int32_t x, expected;
	} cases[] = {{-5, 0}, {0, 0}, {300, 500}, {200, 500}, {50, 500}, {100, 1000}, {150, 750}, {175, 625}};
	for (const auto &c : cases)
		EXPECT_EQ(fx_table_interp(c.x, 3, xs, ys), c.expected) << "x " << c.x;
}

TEST(FixedPointTest, Linspace)
{
	int32_t out[4];
	fx_linspace(0, 16384, out, 4);
	EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{0, 5461, 10922, 16384}));
	fx_linspace(0, -16384, out, 4);
	EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{0, -5461, -10922, -16384}));
	fx_linspace(7, 9, out, 2);
	EXPECT_EQ(out[0], 7);
	EXPECT_EQ(out[1], 9);
}

TEST(FixedPointTest, ArctangentMatchesTheRealFunction)
{
	EXPECT_EQ(fx_atan(16384, 14), 12868);
	EXPECT_EQ(fx_atan(32768, 14), 18140); // 2.0 overflows 32 bits at 30 fraction bits
	EXPECT_EQ(fx_atan(-16384, 14), -12868);
	EXPECT_EQ(fx_atan(0, 14), 0);
	for (int q : {8, 14, 20, 28, 31}) {
		for (double v : {-100.0, -3.0, -0.7, 0.1, 0.5, 1.0, 5.0, 100.0}) {
			double scaled = ldexp(v, q);
			if (fabs(scaled) >= 2147483647.0)
				continue;
			double expected = ldexp(atan(v), q);
			// The stored angle table is good to a few 2^-30: within 6e-8
			// after the 30 steps, besides the final rounding.
			EXPECT_NEAR(fx_atan((int32_t)lround(scaled), q), expected, 1.0 + ldexp(6e-8, q))
			    << "v " << v << " q " << q;
		}
	}
}

TEST(FixedPointTest, FloatHelpers)
{
	EXPECT_EQ(deg_to_rad(180.0f), 3.1415927f);
	const float c[] = {1.0f, 2.0f, 3.0f};
	EXPECT_EQ(poly_eval_f(c, 3, 2.0f), 17.0f);
	EXPECT_EQ(poly_eval_f(c, 0, 2.0f), 0.0f);
}

TEST(FixedPointTest, GcdByRemainders)
{
	EXPECT_EQ(fx_gcd(0, 7), 7u);
	EXPECT_EQ(fx_gcd(7, 0), 7u);
	EXPECT_EQ(fx_gcd(12, 18), 6u);
	EXPECT_EQ(fx_gcd(0, 0), 0u);
	EXPECT_EQ(fx_gcd(1, 0xFFFFFFFFu), 1u);
	EXPECT_EQ(fx_gcd(0xFFFFFFFEu, 0x80000000u), 2u);
}

TEST(FixedPointTest, MeansRoundHalfAwayFromZero)
{
	struct {
		std::vector<int32_t> v;
		int32_t mean, median;
	} cases[] = {
	    {{-2, -2}, -2, -2},
	    {{1, 2}, 2, 2},
	    {{-1, -2}, -2, -2},
	    {{3, 4, 4}, 4, 4},
	    {{5}, 5, 5},
	    {{}, 0, 0},
	    {{9, 1, 5, 3}, 5, 4},
	    {{INT32_MIN, INT32_MAX, 0, 1}, 0, 1}, // 2^32 apart: a difference would overflow
	    {{INT32_MAX, INT32_MAX}, INT32_MAX, INT32_MAX},
	};
	for (auto &c : cases) {
		EXPECT_EQ(fx_mean(c.v.data(), (int)c.v.size()), c.mean) << testing::PrintToString(c.v);
		std::vector<int32_t> sorted = c.v;
		EXPECT_EQ(fx_median(sorted.data(), (int)sorted.size()), c.median)
		    << testing::PrintToString(c.v);
		EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
	}
}

TEST(FixedPointTest, SpreadAndCorrelation)
{
	const int32_t two[] = {16384, 32768};
	EXPECT_EQ(fx_variance(two, 2), 4096);
	const int32_t plus_minus[] = {-16384, 16384};
	EXPECT_EQ(fx_variance(plus_minus, 2), 16384);
	EXPECT_EQ(fx_variance(two, 1), 0);

	const int32_t same[] = {5, 5, 5}, differ[] = {5, 5, 6};
	EXPECT_EQ(fx_all_equal(same, 3), 1);
	EXPECT_EQ(fx_all_equal(differ, 3), 0);
	EXPECT_EQ(fx_all_equal(differ, 1), 1);
	EXPECT_EQ(fx_all_equal(nullptr, 0), 1);

	const int32_t x[] = {1, 2, 3, 4}, rising[] = {10, 20, 25, 40}, falling[] = {4, 3, 2, 1};
	EXPECT_EQ(fx_correlation_sign(x, rising, 4), 1);
	EXPECT_EQ(fx_correlation_sign(x, falling, 4), -1);
	EXPECT_EQ(fx_correlation_sign(x, same, 3), 0);
	EXPECT_EQ(fx_correlation_sign(x, rising, 0), 0);

	const int32_t v[] = {3 * 16384, 4 * 16384};
	EXPECT_EQ(fx_vector_norm(v, 2), 5u * 16384);
}

TEST(FixedPointTest, LineFits)
{
	// y = 1 + 2x at x = 0..3, Q14.
	const int32_t x[] = {0, 16384, 32768, 49152};
	const int32_t y[] = {16384, 49152, 81920, 114688};
	int32_t intercept = 99, slope = 99;
	EXPECT_EQ(fx_linreg(x, y, 4, &intercept, &slope, 14), 65536);
	EXPECT_EQ(slope, 32768);
	EXPECT_EQ(intercept, 16384);
	intercept = slope = 99;
	EXPECT_EQ(fx_linreg_centered(x, y, 4, &intercept, &slope, 14), 65536);
	EXPECT_EQ(slope, 32768);
	EXPECT_EQ(intercept, 16384);

	// No spread in x: slope -1 (numerator not falling) or 0, intercept 0.
	const int32_t flat_x[] = {16384, 16384}, up_y[] = {0, 16384}, down_y[] = {16384, 0};
	EXPECT_EQ(fx_linreg(flat_x, up_y, 2, &intercept, &slope, 14), 0);
	EXPECT_EQ(slope, -1);
	EXPECT_EQ(intercept, 0);
	EXPECT_EQ(fx_linreg_centered(flat_x, down_y, 2, &intercept, &slope, 14), 0);
	EXPECT_EQ(slope, -1);
	EXPECT_EQ(intercept, 0);
	fx_linreg_centered(x, y, 0, &intercept, &slope, 14);
	EXPECT_EQ(slope, -1);
	EXPECT_EQ(intercept, 0);
}

TEST(FixedPointTest, CrossfadeAndSlope)
{
	struct {
		int32_t x, a, b, wa, wb, ret;
	} cases[] = {
	    {0, 0, 100, 16384, 0, 16384},   {100, 0, 100, 0, 16384, 0}, {25, 0, 100, 12288, 4096, 12288},
	    {-10, 0, 100, 16384, 0, 16384}, {500, 0, 100, 0, 16384, 0}, {25, 100, 0, 4096, 12288, 12288},
	    {7, 50, 50, 8192, 8192, 8192},
	};
	for (const auto &c : cases) {
		int32_t wa = -1, wb = -1;
		EXPECT_EQ(fx_crossfade_weights(c.x, c.a, c.b, &wa, &wb), c.ret)
		    << c.x << " " << c.a << " " << c.b;
		EXPECT_EQ(wa, c.wa);
		EXPECT_EQ(wb, c.wb);
	}
	EXPECT_EQ(fx_slope(2, 0, 4, 0), 32768);
	EXPECT_EQ(fx_slope(0, 3, 0, 1), 5461);
	EXPECT_EQ(fx_slope(1, 1, 0, 0), INT32_MIN);
	EXPECT_EQ(fx_slope(1, 1, 1, 0), 2147467264);
	EXPECT_EQ(fx_slope(1, 0, INT32_MAX, INT32_MIN), 2147467264);
	EXPECT_EQ(fx_slope(1, 0, INT32_MIN, INT32_MAX), INT32_MIN);
}

TEST(FixedPointTest, SeriesAndRoots)
{
	EXPECT_NEAR(fx_atan_series(8192, 10, 14), 7596, 2); // atan(0.5)
	EXPECT_EQ(fx_atan_series(8192, 0, 14), 8192);
	EXPECT_EQ(fx_atan_series(8192, 1, 14), 8192 - 683); // 0.5^3 / 3 = 682.67

	struct {
		uint64_t v;
		uint32_t root;
	} roots[] = {
	    {0, 0},
	    {1, 1},
	    {15, 3},
	    {16, 4},
	    {UINT64_MAX, 4294967295u},
	    {0xFFFFFFFE00000001ull, 4294967295u}, // (2^32 - 1)^2
	    {0xFFFFFFFE00000000ull, 4294967294u},
	};
	for (const auto &c : roots)
		EXPECT_EQ(fx_isqrt64(c.v), c.root) << c.v;
}

TEST(FixedPointTest, NormalizeScalesToTheLargest)
{
	int32_t v[] = {0, 50, 100, -25};
	EXPECT_EQ(fx_normalize(v, 4, 14), 100);
	EXPECT_EQ(std::vector<int32_t>(v, v + 4), (std::vector<int32_t>{0, 8192, 16384, -4096}));
	int32_t negative[] = {-5, -10};
	EXPECT_EQ(fx_normalize(negative, 2, 14), 0);
	EXPECT_EQ(negative[0], 0);
	EXPECT_EQ(negative[1], 0);
}

TEST(FixedPointTest, PolyfitRecoversAQuadratic)
{
	// y = 1 + 0.5 x + 0.25 x^2 sampled exactly at x = 0..4, Q14.
	const double coeff[] = {1.0, 0.5, 0.25};
	std::vector<int32_t> x, y;
	for (int i = 0; i <= 4; i++) {
		x.push_back(i * 16384);
		y.push_back((int32_t)lround((coeff[0] + coeff[1] * i + coeff[2] * i * i) * 16384));
	}
	int32_t out[3] = {};
	ASSERT_EQ(fx_polyfit(x.data(), y.data(), out, 5, 3, 14), 0);
	for (int j = 0; j < 3; j++)
		EXPECT_NEAR(out[j] / 16384.0, coeff[j], 0.01 * coeff[j]) << "coefficient " << j;
	// The caller's arrays come back normalised to their largest element.
	EXPECT_EQ(x[4], 16384);
	EXPECT_EQ(x[2], 8192);
	EXPECT_EQ(y[4], 16384);

	int32_t untouched[2] = {123, 456};
	EXPECT_EQ(fx_polyfit(x.data(), y.data(), untouched, 5, 0, 14), -1);
	EXPECT_EQ(untouched[0], 123);
	EXPECT_EQ(untouched[1], 456);
}

// --- Matrices ---

std::vector<int64_t> elements64(const fx_matrix *m)
{
	const int64_t *e = static_cast<const int64_t *>(fx_matrix_data(m));
	return std::vector<int64_t>(e, e + m->rows * m->columns);
}

std::vector<int32_t> elements32(const fx_matrix *m)
{
	const int32_t *e = static_cast<const int32_t *>(fx_matrix_data(m));
	return std::vector<int32_t>(e, e + m->rows * m->columns);
}

TEST(FixedPointTest, GaussJordanSolvesSmallSystems)
{
	const int64_t one = 16384;
	struct {
		const char *name;
		std::vector<int64_t> in;
		std::vector<int64_t> out;
	} cases[] = {
	    // 2x + 2y = 6, x + 3y = 7: x = 1, y = 2.
	    {"solve", {2 * one, 2 * one, 6 * one, one, 3 * one, 7 * one}, {one, 0, one, 0, one, 2 * one}},
	    // The zero pivot is swapped away.
	    {"swap", {0, one, 2 * one, one, 0, 3 * one}, {one, 0, 3 * one, 0, one, 2 * one}},
	    // A zero column is skipped; the dependent row vanishes.
	    {"skip", {0, 2 * one, 4 * one, 0, one, 2 * one}, {0, one, 2 * one, 0, 0, 0}},
	};
	for (const auto &c : cases) {
		fx_matrix *m = fx_matrix_new64(2, 3, 14, c.in.data());
		fx_gauss_jordan64(m, 14);
		fx_matrix *expected = fx_matrix_new64(2, 3, 14, c.out.data());
		EXPECT_TRUE(fx_matrix_equal64(m, expected, 0))
		    << c.name << ": " << testing::PrintToString(elements64(m));
		fx_matrix_free64(m);
		fx_matrix_free64(expected);
	}
}

TEST(FixedPointTest, MatrixOperations32)
{
	const int32_t a_data[] = {16384, 32768, -16384, 8192}; // 1 2 / -1 0.5
	const int32_t b_data[] = {8192, 16384, 16384, 0};      // 0.5 1 / 1 0
	fx_matrix *a = fx_matrix_new32(2, 2, 14, a_data);
	fx_matrix *b = fx_matrix_new32(2, 2, 14, b_data);
	struct {
		const char *name;
		fx_matrix *r;
		std::vector<int32_t> expected;
	} cases[] = {
	    {"mul", fx_matrix_mul32(a, b, nullptr), {40960, 16384, 0, -16384}},
	    {"add", fx_matrix_add32(a, b, nullptr), {24576, 49152, 0, 8192}},
	    {"add scalar", fx_matrix_add_scalar32(a, 1, nullptr), {16385, 32769, -16383, 8193}},
	    {"elements", fx_matrix_mul_elem32(a, b, nullptr), {8192, 32768, -16384, 0}},
	    {"scale", fx_matrix_scale32(a, 8192, nullptr), {8192, 16384, -8192, 4096}},
	    {"scale row", fx_matrix_scale_row32(a, 1, 32768, nullptr), {16384, 32768, -32768, 16384}},
	    {"swap", fx_matrix_swap_rows32(a, 0, 1, nullptr), {-16384, 8192, 16384, 32768}},
	    {"transpose", fx_matrix_transpose32(a, nullptr), {16384, -16384, 32768, 8192}},
	    {"augment",
	     fx_matrix_augment32(a, b, nullptr),
	     {16384, 32768, 8192, 16384, -16384, 8192, 16384, 0}},
	};
	for (const auto &c : cases) {
		ASSERT_NE(c.r, nullptr) << c.name;
		EXPECT_EQ(elements32(c.r), c.expected) << c.name;
		EXPECT_EQ(c.r->q, 14u) << c.name;
		fx_matrix_free32(c.r);
	}
	const int32_t x[] = {2 * 16384, -8192};
	fx_matrix *v = fx_vandermonde32(x, 2, 3, 14, nullptr);
	EXPECT_EQ(elements32(v), (std::vector<int32_t>{16384, 32768, 65536, 16384, -8192, 4096}));
	EXPECT_EQ(v->columns, 3u);

	// Products are summed in 32 bits: 2^31 + 2^31 wraps to 0 (not so in 64).
	const int32_t big[] = {1 << 30, 1 << 30}, two[] = {2, 2};
	fx_matrix *row = fx_matrix_new32(1, 2, 0, big), *column = fx_matrix_new32(2, 1, 0, two);
	fx_matrix *sum = fx_matrix_mul32(row, column, nullptr);
	EXPECT_EQ(elements32(sum)[0], 0);
	const int64_t big64[] = {1 << 30, 1 << 30}, two64[] = {2, 2};
	fx_matrix *row64 = fx_matrix_new64(1, 2, 0, big64), *column64 = fx_matrix_new64(2, 1, 0, two64);
	fx_matrix *sum64 = fx_matrix_mul64(row64, column64, nullptr);
	EXPECT_EQ(elements64(sum64)[0], int64_t(1) << 32);

	for (fx_matrix *m : {a, b, v, row, column, sum})
		fx_matrix_free32(m);
	for (fx_matrix *m : {row64, column64, sum64})
		fx_matrix_free64(m);
}

TEST(FixedPointTest, MatrixOperations64InPlaceAndGiven)
{
	const int64_t one = int64_t(1) << 20;
	const int64_t a_data[] = {one, 2 * one, 3 * one, 4 * one};
	fx_matrix *a = fx_matrix_new64(2, 2, 20, a_data);
	// Row operations may write over their operand.
	EXPECT_EQ(fx_matrix_scale_row64(a, 0, 3 * one, a), a);
	EXPECT_EQ(fx_matrix_swap_rows64(a, 0, 1, a), a);
	EXPECT_EQ(elements64(a), (std::vector<int64_t>{3 * one, 4 * one, 3 * one, 6 * one}));

	fx_matrix *given = fx_matrix_new64(2, 2, 20, nullptr);
	EXPECT_EQ(fx_matrix_mul64(a, a, given), given);
	EXPECT_EQ(elements64(given), (std::vector<int64_t>{21 * one, 36 * one, 27 * one, 48 * one}));
	EXPECT_EQ(fx_matrix_add_scalar64(a, -one, given), given);
	EXPECT_EQ(elements64(given), (std::vector<int64_t>{2 * one, 3 * one, 2 * one, 5 * one}));

	const int64_t loaded[] = {1, 2, 3, 4};
	fx_matrix_load64(given, loaded);
	EXPECT_EQ(elements64(given), (std::vector<int64_t>{1, 2, 3, 4}));

	fx_matrix *near = fx_matrix_new64(2, 2, 20, nullptr);
	const int64_t near_data[] = {2, 1, 3, 6};
	fx_matrix_load64(near, near_data);
	EXPECT_EQ(fx_matrix_equal64(given, near, 2), 1);
	EXPECT_EQ(fx_matrix_equal64(given, near, 1), 0);
	fx_matrix *empty1 = fx_matrix_new64(0, 3, 32, nullptr), *empty2 = fx_matrix_new64(0, 3, 32, nullptr);
	EXPECT_EQ(fx_matrix_equal64(empty1, empty2, 0), 1);
	EXPECT_EQ(fx_matrix_equal64(empty1, given, 0), 0);

	for (fx_matrix *m : {a, given, near, empty1, empty2})
		fx_matrix_free64(m);
	fx_matrix_free64(nullptr);
}

TEST(FixedPointTest, MatrixRefusalsWriteNothing)
{
	const int64_t data[] = {1, 2, 3, 4, 5, 6};
	fx_matrix *a = fx_matrix_new64(2, 3, 14, data); // 2 x 3
	fx_matrix *b = fx_matrix_new64(3, 2, 14, data); // 3 x 2
	fx_matrix *r = fx_matrix_new64(2, 2, 14, data); // a result for a x b
	fx_matrix *wrong = fx_matrix_new64(3, 3, 14, nullptr);
	const std::vector<int64_t> r_before = elements64(r);

	EXPECT_EQ(fx_matrix_new64(uint64_t(1) << 33, uint64_t(1) << 33, 14, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_new32(uint64_t(1) << 62, 4, 14, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_mul64(a, a, nullptr), nullptr); // 3 columns, 2 rows
	EXPECT_EQ(fx_matrix_mul64(a, b, wrong), nullptr);   // result not 2 x 2
	EXPECT_EQ(fx_matrix_add64(a, b, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_mul_elem64(a, b, r), nullptr);
	EXPECT_EQ(fx_matrix_augment64(a, b, nullptr), nullptr);      // rows differ
	EXPECT_EQ(fx_matrix_transpose64(a, r), nullptr);             // 3 x 2 needed
	EXPECT_EQ(fx_matrix_transpose64(r, r), nullptr);             // cannot transpose over itself
	EXPECT_EQ(fx_matrix_mul64(r, r, r), nullptr);                // nor multiply
	EXPECT_EQ(fx_matrix_scale_row64(a, 2, 1, nullptr), nullptr); // no row 2
	EXPECT_EQ(fx_matrix_swap_rows64(a, 0, 5, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_scale64(a, 2, r), nullptr);
	EXPECT_EQ(fx_vandermonde64(data, 3, 3, 14, r), nullptr);
	EXPECT_EQ(elements64(r), r_before);

	// An operand whose dimensions overflow is refused, never read.
	fx_matrix huge = {uint64_t(1) << 62, 8, 14, a->data};
	EXPECT_EQ(fx_matrix_scale64(&huge, 2, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_transpose64(&huge, nullptr), nullptr);
	EXPECT_EQ(fx_matrix_equal64(&huge, &huge, 0), 0);
	fx_matrix huge_result = {uint64_t(1) << 62, 8, 14, r->data};
	EXPECT_EQ(fx_matrix_add_scalar64(a, 1, &huge_result), nullptr);
	EXPECT_EQ(elements64(r), r_before);

	for (fx_matrix *m : {a, b, r, wrong})
		fx_matrix_free64(m);
}

TEST(FixedPointTest, PrintsAtInformationLevel)
{
	LogCapture log;
	const int32_t d32[] = {16384, -8192, 0, 40960};
	fx_matrix *m32 = fx_matrix_new32(2, 2, 14, d32);
	fx_matrix_print32(m32, "%.2f");
	EXPECT_EQ(log.text(), "1.00  -0.50\n0.00  2.50\n");
	fx_matrix_free32(m32);

	log.clear();
	const int64_t d64[] = {int64_t(3) << 40, -(int64_t(1) << 39)};
	fx_matrix *m64 = fx_matrix_new64(1, 2, 40, d64);
	fx_matrix_print64(m64);
	EXPECT_EQ(log.text(), "3.000000  -0.500000\n");
	fx_matrix_free64(m64);

	log.clear();
	fx_print(-16384, 14);
	fx_print(int64_t(5) << 50, 0); // far more than 31 significant bits
	EXPECT_EQ(log.text(), "-1.000000\n"
	                      "5629499534213120.000000\n");
}

} // namespace

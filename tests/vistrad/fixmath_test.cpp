// The fixed-point library against hand-computed values of the real
// functions, at Q14 and at the wide formats of the day/night computation.
#include <gtest/gtest.h>

#include <stdint.h>

#include "fixmath.h"

namespace
{

struct UnaryCase {
	const char *name;
	int32_t (*fn)(int32_t, int);
	int32_t value;
	int q;
	int32_t expected;
};

TEST(FixmathTest, UnaryFunctionsMatchTheRealValues)
{
	const UnaryCase cases[] = {
	    {"log10 100", fx_log10x, 1638400, 14, 32768},
	    {"log10 10", fx_log10x, 163840, 14, 16384},
	    {"log10 0.5", fx_log10x, 8192, 14, -4932},
	    {"log2 3 at q24", fx_log2x, 3 << 24, 24, 26591258},
	    {"log2 1/16 at q24", fx_log2x, 1 << 20, 24, -67108864},
	    {"exp2 log2(3) at q24", fx_exp2x, 26591258, 24, 3 << 24},
	    {"exp2 -1", fx_exp2x, -16384, 14, 8192},
	    {"sqrt 2", fx_sqrtx, 32768, 14, 23170},
	    {"sqrt 1 at q24", fx_sqrtx, 1 << 24, 24, 1 << 24},
	    {"sin pi/2", fx_sinx, 25736, 14, 16384},
	    {"cos pi/2", fx_cosx, 25736, 14, 0},
	    {"sin -0.5", fx_sinx, -8192, 14, -7855},
	    {"cos 0", fx_cosx, 0, 14, 16384},
	    {"sin 0.75 at q24", fx_sinx, 3 << 22, 24, 11436001},
	};
	for (const UnaryCase &c : cases)
		EXPECT_EQ(c.fn(c.value, c.q), c.expected) << c.name;
}

TEST(FixmathTest, PowerHasTheBaseFormat)
{
	// 10 ^ (42 dB / 20): the decibel-to-gain conversion.
	EXPECT_EQ(fx_powx(163840, 14, 34406, 14), 2062507);
	EXPECT_EQ(fx_powx(2 << 14, 14, -8192, 14), 11585);
	EXPECT_EQ(fx_powx(1 << 19, 20, 3 << 24, 24), 131072);
}

TEST(FixmathTest, SaturationAndDomain)
{
	EXPECT_EQ(fx_exp2x(31 << 14, 14), INT32_MAX);
	EXPECT_EQ(fx_exp2x(-40 * 16384, 14), 0);
	EXPECT_EQ(fx_powx(163840, 14, 163840, 14), INT32_MAX);
	EXPECT_EQ(fx_powx(-163840, 14, 163840, 14), INT32_MAX); // (-10)^10
	EXPECT_EQ(fx_powx(-163840, 14, 8192, 14), 0);           // no real root
	EXPECT_EQ(fx_powx(0, 14, -16384, 14), INT32_MAX);
	EXPECT_EQ(fx_log2x(1, 30), INT32_MIN); // -30 does not fit at q30
	EXPECT_EQ(fx_log10x(0, 14), INT32_MIN);
	EXPECT_EQ(fx_log10x(-16384, 14), INT32_MIN);
	EXPECT_EQ(fx_log2x(0, 24), INT32_MIN);
	EXPECT_EQ(fx_sqrtx(-1, 14), 0);
	EXPECT_EQ(fx_sqrtx(INT32_MAX, 0), 46341);
}

TEST(FixmathTest, ConversionTableHoldsPowersOfTwo)
{
	EXPECT_EQ(fx_xtof_tab[0], 1.0f);
	EXPECT_EQ(fx_xtof_tab[14] * 16384.0f, 1.0f);
	EXPECT_EQ(fx_xtof_tab[31] * 2147483648.0f, 1.0f);
}

} // namespace

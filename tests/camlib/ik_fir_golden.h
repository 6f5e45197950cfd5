/* The first sharpen-noise stage's FIR tables as worked out by hand from the
 * kernel tables, shared by the direct conversion tests and the tests
 * through a built configuration. */
#ifndef TESTS_CAMLIB_IK_FIR_GOLDEN_H
#define TESTS_CAMLIB_IK_FIR_GOLDEN_H

#include "ik_context.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace firgolden
{

/* Bits the conversion must keep: bits 9-15 of each record's first word,
 * bytes 2-3 of each record, bits 27-31 of the shift word. */
inline void prime(uint8_t *t)
{
	for (int d = 0; d < 9; d++) {
		t[28 * d + 1] = 0xFE;
		t[28 * d + 2] = 0x5A;
		t[28 * d + 3] = 0xA5;
	}
	t[255] = 0xF8;
}

/* Direction d's record against its golden bytes (bytes 2-3 excluded) and
 * the zeros after them, on a primed table. */
inline void expect_record(const uint8_t *t, int d, std::vector<uint8_t> want)
{
	const uint8_t *r = t + 28 * d;
	want.resize(28, 0);
	EXPECT_EQ(r[0], want[0]) << "dir " << d;
	EXPECT_EQ(r[1], (uint8_t)(want[1] | 0xFE)) << "dir " << d;
	EXPECT_EQ(r[2], 0x5A) << "dir " << d;
	EXPECT_EQ(r[3], 0xA5) << "dir " << d;
	for (int p = 4; p < 28; p++)
		EXPECT_EQ(r[p], want[p]) << "dir " << d << " byte " << p;
}

inline void expect_shift_word(const uint8_t *t, std::vector<uint8_t> want)
{
	want[3] |= 0xF8;
	EXPECT_EQ(std::vector<uint8_t>(t + 252, t + 256), want);
}

/* Mode 0, both FIRs `specify` 0 at strength 64. */
inline void expect_combining(const uint8_t *f1, const uint8_t *f2, const ik_first_sharpen_group &g)
{
	for (int d = 0; d < 9; d++) {
		expect_record(f1, d,
		              {0x1C, 0x00, 0, 0, 0x0B, 0x0B, 0x78, 0x78, 0x00, 0x3E, 0x3A, 0x3E, 0x00, 0x3E,
		               0x3E, 0x3A});
		expect_record(f2, d,
		              {0x30, 0x00, 0, 0, 0x1B, 0x1B, 0x0F, 0x0F, 0x00, 0x02, 0x06, 0x02, 0x00, 0x02,
		               0x02, 0x06});
		const int idx[5] = {16, 17, 18, 23, 24};
		const int sharpen[5] = {-7, -38, -7, -38, 180}, noise[5] = {7, 38, 7, 38, 76};
		for (int i = 0; i < 5; i++) {
			EXPECT_EQ(g.sharpen_coefs[d][idx[i]], sharpen[i]) << d;
			EXPECT_EQ(g.noise_coefs[d][idx[i]], noise[i]) << d;
		}
	}
	expect_shift_word(f1, {0x24, 0x49, 0x92, 0x04});
	expect_shift_word(f2, {0x24, 0x49, 0x92, 0x04});
}

/* Mode 2, the same FIRs; the coefficient arrays were filled with 77. */
inline void expect_separate(const uint8_t *f1, const uint8_t *f2, const ik_first_sharpen_group &g)
{
	for (int d = 0; d < 9; d++) {
		const uint8_t *r1 = f1 + 28 * d, *r2 = f2 + 28 * d;
		EXPECT_EQ(std::vector<uint8_t>({r1[0], r1[1], r1[4], r1[5], r1[6], r1[7]}),
		          std::vector<uint8_t>({0xB4, 0xFE, 0xDA, 0xDA, 0x79, 0x79}));
		EXPECT_EQ(std::vector<uint8_t>({r2[0], r2[1], r2[4], r2[5], r2[6], r2[7]}),
		          std::vector<uint8_t>({0x4C, 0xFF, 0x26, 0x26, 0x07, 0x07}));
		for (int k = 0; k < 25; k++) {
			ASSERT_EQ(g.sharpen_coefs[d][k], 77) << "separate mode keeps the arrays";
			ASSERT_EQ(g.noise_coefs[d][k], 77);
		}
	}
	expect_shift_word(f1, {0x24, 0x49, 0x92, 0x04});
	expect_shift_word(f2, {0x24, 0x49, 0x92, 0x04});
}

/* Mode 0 with both strengths 0: FIR 1 all zeros, FIR 2 the identity at
 * centre 128 with shift 3. */
inline void expect_zero_strength(const uint8_t *f1, const uint8_t *f2)
{
	for (int d = 0; d < 9; d++) {
		expect_record(f1, d, {});
		expect_record(f2, d, {0x80, 0x00});
	}
	expect_shift_word(f1, {0x24, 0x49, 0x92, 0x04});
	expect_shift_word(f2, {0xDB, 0xB6, 0x6D, 0x03});
}

/* Mode 2, sharpen `specify` 2 with strengths 128 and 256: direction 1
 * takes directional table 1 after the remap. */
inline void expect_directional(const uint8_t *f1)
{
	expect_record(f1, 1, {0xEC, 0x00, 0,    0,    0xF4, 0xF4, 0x74, 0x74, 0x00, 0x34, 0x34,
	                      0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x15, 0x14, 0x15});
}

} // namespace firgolden

#endif

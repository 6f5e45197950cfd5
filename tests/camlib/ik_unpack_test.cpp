/* The statistics bit-unpacker against the documented examples and against a
 * packer written here from the packed layout. */
#include "ik_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace
{

struct Format {
	uint8_t resolution, m, g;
};

/* Packs rows of groups: group k of a row holds its exponent in the low three
 * bits and then the mantissas of columns 2g(k/2) + (k%2) + 2j. */
class Packer
{
      public:
	Packer(const img_dsp_raw_unpack_param &p, uint32_t groups, uint32_t rows, uint32_t pitch_words)
	    : p_(p), groups_(groups), pitch_words_(pitch_words), words_(pitch_words * rows + 4, 0)
	{
	}
	void put_group(uint32_t row, uint32_t k, uint32_t e, const std::vector<uint32_t> &mant)
	{
		uint64_t bits = e & 7;
		for (unsigned j = 0; j < p_.g; j++)
			bits |= (uint64_t)(mant[j] & ((1u << p_.m) - 1)) << (3 + j * p_.m);
		put_bits(row, k * p_.B, bits, p_.B);
	}
	const uint32_t *data() const
	{
		return words_.data();
	}
	uint32_t pitch_bytes() const
	{
		return pitch_words_ * 4;
	}
	uint32_t groups() const
	{
		return groups_;
	}

      private:
	void put_bits(uint32_t row, uint32_t pos, uint64_t v, unsigned n)
	{
		for (unsigned i = 0; i < n; i++) {
			uint32_t bit = pos + i;
			if ((v >> i) & 1)
				words_[row * pitch_words_ + bit / 32] |= 1u << (bit % 32);
		}
	}
	img_dsp_raw_unpack_param p_;
	uint32_t groups_;
	uint32_t pitch_words_;
	std::vector<uint32_t> words_;
};

uint32_t column_of(const img_dsp_raw_unpack_param &p, uint32_t k, unsigned j)
{
	return 2u * p.g * (k / 2) + (k % 2) + 2 * j;
}

TEST(IkUnpack, ParameterTable)
{
	struct {
		Format f;
		uint8_t base, headroom, h, B;
	} cases[] = {
	    {{14, 6, 4}, 1, 8, 2, 27}, {{14, 7, 4}, 0, 7, 2, 31}, {{14, 9, 2}, 0, 5, 1, 21},
	    {{15, 6, 2}, 2, 9, 1, 15}, {{15, 7, 4}, 1, 8, 2, 31}, {{15, 9, 4}, 0, 6, 2, 39},
	};
	for (const auto &c : cases) {
		ASSERT_EQ(img_dsp_core_set_raw_unpack_param(c.f.resolution, c.f.m, c.f.g), 0);
		img_dsp_raw_unpack_param p = img_dsp_core_get_raw_unpack_param();
		EXPECT_EQ(p.m, c.f.m);
		EXPECT_EQ(p.base, c.base) << (int)c.f.resolution << "/" << (int)c.f.m;
		EXPECT_EQ(p.headroom, c.headroom);
		EXPECT_EQ(p.g, c.f.g);
		EXPECT_EQ(p.h, c.h);
		EXPECT_EQ(p.B, c.B);
	}
	for (Format bad : {Format{13, 6, 4}, Format{14, 5, 4}, Format{14, 10, 4}, Format{14, 6, 3}})
		EXPECT_EQ(img_dsp_core_set_raw_unpack_param(bad.resolution, bad.m, bad.g), -1);
}

TEST(IkUnpack, DocumentedExamples)
{
	ASSERT_EQ(img_dsp_core_set_raw_unpack_param(14, 6, 4), 0);
	/* Exponent 0 and first mantissa 1: the base shift of 1 gives 2. */
	uint32_t src[4] = {1u << 3, 0, 0, 0};
	EXPECT_EQ(img_dsp_core_get_raw_pixel(src, 16, 0, 0), 2);
	const uint32_t region[5] = {16, 0, 0, 0, 0};
	uint16_t out = 0xFFFF;
	ASSERT_EQ(img_dsp_core_unpack_raw(src, region, &out), 0);
	EXPECT_EQ(out, 2);

	/* Column to group: 1 -> 1, 8 -> 2, 9 -> 3; put a distinct value in the
	 * first mantissa of each group and read the columns back. */
	img_dsp_raw_unpack_param p = img_dsp_core_get_raw_unpack_param();
	Packer pk(p, 4, 1, 8);
	for (uint32_t k = 0; k < 4; k++)
		pk.put_group(0, k, 0, {k + 1, 0, 0, 0});
	EXPECT_EQ(img_dsp_core_get_raw_pixel(pk.data(), 32, 0, 0), 2 * 1);
	EXPECT_EQ(img_dsp_core_get_raw_pixel(pk.data(), 32, 0, 1), 2 * 2);
	EXPECT_EQ(img_dsp_core_get_raw_pixel(pk.data(), 32, 0, 8), 2 * 3);
	EXPECT_EQ(img_dsp_core_get_raw_pixel(pk.data(), 32, 0, 9), 2 * 4);
}

/* Random groups through the packer and back, for every format and for a
 * region that starts and ends inside groups. */
TEST(IkUnpack, RoundTripThroughPacker)
{
	std::mt19937 rng(7);
	for (uint8_t res : {14, 15}) {
		for (uint8_t m = 6; m <= 9; m++) {
			for (uint8_t g : {2, 4}) {
				ASSERT_EQ(img_dsp_core_set_raw_unpack_param(res, m, g), 0);
				img_dsp_raw_unpack_param p = img_dsp_core_get_raw_unpack_param();
				const uint32_t groups = 12, rows = 3;
				const uint32_t cols = groups * g;
				Packer pk(p, groups, rows, (groups * p.B + 31) / 32 + 1);
				std::vector<uint16_t> expect(rows * cols);
				for (uint32_t y = 0; y < rows; y++) {
					for (uint32_t k = 0; k < groups; k++) {
						uint32_t e = rng() % 8;
						std::vector<uint32_t> mant(g);
						for (unsigned j = 0; j < g; j++) {
							mant[j] = rng() % (1u << m);
							expect[y * cols + column_of(p, k, j)] =
							    (uint16_t)(mant[j] << (e + p.base));
						}
						pk.put_group(y, k, e, mant);
					}
				}
				const uint32_t x0 = 3, x1 = cols - 4, y0 = 1, y1 = 2;
				const uint32_t region[5] = {pk.pitch_bytes(), x0, y0, x1, y1};
				const uint32_t w = x1 + 1 - x0;
				std::vector<uint16_t> out(w * (y1 + 1 - y0) + 1, 0xABCD);
				ASSERT_EQ(img_dsp_core_unpack_raw(pk.data(), region, out.data()), 0);
				for (uint32_t y = y0; y <= y1; y++) {
					for (uint32_t x = x0; x <= x1; x++) {
						ASSERT_EQ(out[(y - y0) * w + x - x0], expect[y * cols + x])
						    << "format " << (int)res << "/" << (int)m << "/" << (int)g
						    << " at " << y << "," << x;
						ASSERT_EQ(img_dsp_core_get_raw_pixel(pk.data(),
						                                     pk.pitch_bytes(), y, x),
						          expect[y * cols + x]);
					}
				}
				EXPECT_EQ(out.back(), 0xABCD) << "nothing written past the region";
			}
		}
	}
}

TEST(IkUnpack, OneColumnRegionWritesOneSamplePerRow)
{
	ASSERT_EQ(img_dsp_core_set_raw_unpack_param(14, 6, 4), 0);
	img_dsp_raw_unpack_param p = img_dsp_core_get_raw_unpack_param();
	Packer pk(p, 4, 2, 8);
	for (uint32_t y = 0; y < 2; y++)
		for (uint32_t k = 0; k < 4; k++)
			pk.put_group(y, k, 1, {10 + k + y, 20, 30, 40});
	const uint32_t region[5] = {32, 9, 0, 9, 1};
	uint16_t out[3] = {0xFFFF, 0xFFFF, 0xFFFF};
	ASSERT_EQ(img_dsp_core_unpack_raw(pk.data(), region, out), 0);
	EXPECT_EQ(out[0], (10 + 3) << 2) << "column 9 is the first sample of group 3";
	EXPECT_EQ(out[1], (10 + 3 + 1) << 2);
	EXPECT_EQ(out[2], 0xFFFF);
}

TEST(IkUnpack, RefusalsAndEmptyRegions)
{
	ASSERT_EQ(img_dsp_core_set_raw_unpack_param(14, 6, 4), 0);
	uint32_t src[8] = {0xFFFFFFFFu, 0xFFFFFFFFu};
	uint16_t out[4] = {7, 7, 7, 7};
	const uint32_t region[5] = {32, 0, 0, 3, 0};
	EXPECT_EQ(img_dsp_core_unpack_raw(src, nullptr, out), -1);
	EXPECT_EQ(img_dsp_core_unpack_raw(nullptr, region, out), -1);
	EXPECT_EQ(img_dsp_core_unpack_raw(src, region, nullptr), -1);
	EXPECT_EQ(out[0], 7) << "a refused call writes nothing";
	const uint32_t upside_down[5] = {32, 0, 1, 3, 0};
	EXPECT_EQ(img_dsp_core_unpack_raw(src, upside_down, out), 0);
	const uint32_t backwards[5] = {32, 3, 0, 0, 0};
	EXPECT_EQ(img_dsp_core_unpack_raw(src, backwards, out), 0);
	for (uint16_t v : out)
		EXPECT_EQ(v, 7) << "an empty region decodes nothing";
}

} // namespace

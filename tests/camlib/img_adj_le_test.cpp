/* The adaptive local-exposure curve: parameters from the histogram, the
 * curve and when it replaces the block's, the hold after a replacement. */
#include "img_adj_le.h"

#include <gtest/gtest.h>

#include <math.h>

#include <cstring>
#include <memory>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class LocalExposure : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		img_adj_le_reset();
		const uint32_t one[4] = {1, 1, 1, 1};
		ASSERT_EQ(img_adj_le_set_enable(one, 0x1), 0);
		memset(&block_, 0, sizeof block_);
	}
	void TearDown() override
	{
		img_adj_le_reset();
	}
	void strength(uint32_t s)
	{
		const uint32_t v[4] = {s, s, s, s};
		ASSERT_EQ(img_adj_le_set_strength(v, 0x1), 0);
	}
	// The first array of the RGB histogram.
	uint32_t *hist()
	{
		return stats_->set.rgb_hist.bin[0];
	}
	img_adj_le_params params()
	{
		img_adj_le_params p{};
		EXPECT_EQ(img_adj_le_get_params(0, &p), 0);
		return p;
	}
	int update()
	{
		return img_adj_le_update(&block_, stats_.get(), 0);
	}
	static uint16_t entry(const img_adj_le_params &p, int i)
	{
		return (uint16_t)(p.b + p.a * pow(2.0, -(double)p.k * abs(i - p.c) / 256.0));
	}
	std::unique_ptr<aaa_parse_result> stats_ = std::make_unique<aaa_parse_result>();
	img_dsp_local_exposure block_;
};

void expect_params(const img_adj_le_params &p, uint16_t c, uint16_t b, uint16_t a, uint16_t k)
{
	EXPECT_EQ(p.c, c);
	EXPECT_EQ(p.b, b);
	EXPECT_EQ(p.a, a);
	EXPECT_EQ(p.k, k);
}

TEST_F(LocalExposure, ADarkSceneLiftsTheCurve)
{
	hist()[0] = 100000;
	EXPECT_EQ(update(), 1);
	// Strength 64: c 4, k 12; the amplitude moves a sixteenth of the way
	// to 1024, the offset from 1024 towards 896 with it.
	img_adj_le_params p = params();
	expect_params(p, 4, 1016, 64, 12);
	const uint8_t head[6] = {1, 0, 16, 16, 16, 2};
	EXPECT_EQ(memcmp(&block_, head, 6), 0);
	for (int i : {0, 4, 5, 100, 255})
		EXPECT_EQ(block_.GainCurveTable[i], entry(p, i)) << i;
	EXPECT_EQ(block_.GainCurveTable[4], 1080);
}

TEST_F(LocalExposure, StrengthZeroKeepsTheCurveFlat)
{
	strength(0);
	hist()[0] = 100000;
	EXPECT_EQ(update(), 1);
	expect_params(params(), 12, 1024, 0, 16);
	for (uint16_t v : block_.GainCurveTable)
		ASSERT_EQ(v, 1024);
}

TEST_F(LocalExposure, AReplacementHoldsFourFrames)
{
	hist()[0] = 100000;
	ASSERT_EQ(update(), 1);
	img_dsp_local_exposure before;
	memset(&block_, 0xee, 6);
	memcpy(&before, &block_, sizeof before);
	for (int i = 0; i < IMG_ADJ_LE_HOLD; i++) {
		EXPECT_EQ(update(), 0) << i;
		EXPECT_EQ(memcmp(&before, &block_, sizeof before), 0) << i;
	}
	EXPECT_EQ(update(), 1);
	EXPECT_EQ(block_.Enb, 1);
	EXPECT_EQ(params().a, (64 + 1024 + 15 * 64) / 16);
}

TEST_F(LocalExposure, ACurveWithinTwoIsNotReplacedAndHoldsNothing)
{
	hist()[0] = 100000;
	const img_adj_le_params want{4, 1016, 64, 12};
	for (int i = 0; i < 256; i++)
		block_.GainCurveTable[i] = (uint16_t)(entry(want, i) + (i % 2 ? 2 : -2));
	img_dsp_local_exposure before;
	memcpy(&before, &block_, sizeof before);
	EXPECT_EQ(update(), 0);
	expect_params(params(), 4, 1016, 64, 12);
	EXPECT_EQ(memcmp(before.GainCurveTable, block_.GainCurveTable, sizeof before.GainCurveTable), 0);
	// No hold: the next frame moves on at once.
	block_.Enb = 0;
	EXPECT_EQ(update(), 1);
	EXPECT_EQ(block_.Enb, 1);
}

TEST_F(LocalExposure, CurvesFollowTheirParameters)
{
	uint16_t curve[256] = {0};
	const img_adj_le_params flat{7, 100, 300, 0};
	EXPECT_EQ(img_adj_le_curve(&flat, curve), 1);
	for (uint16_t v : curve)
		ASSERT_EQ(v, 400);
	EXPECT_EQ(img_adj_le_curve(&flat, curve), 0);
	const img_adj_le_params peak{128, 0, 1000, 256};
	EXPECT_EQ(img_adj_le_curve(&peak, curve), 1);
	EXPECT_EQ(curve[128], 1000);
	EXPECT_EQ(curve[127], 500);
	EXPECT_EQ(curve[130], 250);
	EXPECT_EQ(curve[0], 0);
	EXPECT_EQ(img_adj_le_curve(nullptr, curve), 0);
	EXPECT_EQ(img_adj_le_curve(&peak, nullptr), 0);
}

// A first frame without pixels must not fix the histogram total at 0:
// with the total of the next frame, six per cent of the pixels in the
// darkest bin and the rest at bin 50 score -12, which leaves the curve
// alone; a total of 0 would score it fully dark and lift it.
TEST_F(LocalExposure, AnEmptyFirstHistogramIsCountedAgain)
{
	EXPECT_EQ(update(), 1);
	expect_params(params(), 4, 1024, 0, 12);
	for (int i = 0; i < IMG_ADJ_LE_HOLD; i++)
		update();
	hist()[0] = 6000;
	hist()[50] = 94000;
	EXPECT_EQ(update(), 0);
	EXPECT_EQ(params().a, 0);
	EXPECT_EQ(block_.Enb, 1);
}

TEST_F(LocalExposure, SettersTakeTheChannelsOfTheMask)
{
	const uint32_t en[4] = {0x101, 1, 0, 1}, st[4] = {10, 20, 30, 40};
	ASSERT_EQ(img_adj_le_set_enable(en, 0x9), 0);
	ASSERT_EQ(img_adj_le_set_strength(st, 0x6), 0);
	uint32_t got[4];
	ASSERT_EQ(img_adj_le_get_enable(got), 0);
	EXPECT_EQ(got[0], 1u); // the low byte
	EXPECT_EQ(got[1], 0u);
	EXPECT_EQ(got[3], 1u);
	ASSERT_EQ(img_adj_le_get_strength(got), 0);
	EXPECT_EQ(got[0], 64u);
	EXPECT_EQ(got[1], 20u);
	EXPECT_EQ(got[2], 30u);
	hist()[0] = 100000;
	ASSERT_EQ(update(), 1);

	img_adj_le_init();
	ASSERT_EQ(img_adj_le_get_enable(got), 0);
	EXPECT_EQ(got[3], 0u);
	ASSERT_EQ(img_adj_le_get_strength(got), 0);
	EXPECT_EQ(got[2], 64u);
	EXPECT_EQ(params().c, 0);
	EXPECT_EQ(params().b, 8);

	EXPECT_EQ(img_adj_le_set_enable(nullptr, 1), -1);
	EXPECT_EQ(img_adj_le_get_strength(nullptr), -1);
	EXPECT_EQ(img_adj_le_get_params(4, nullptr), -1);
}

TEST_F(LocalExposure, UpdatesRefuseWhatTheyCannotUse)
{
	EXPECT_EQ(img_adj_le_update(nullptr, stats_.get(), 0), -1);
	EXPECT_EQ(img_adj_le_update(&block_, nullptr, 0), -1);
	CaptureStdout();
	EXPECT_EQ(img_adj_le_update(&block_, stats_.get(), 4), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [4].\n");
	// A disabled channel leaves its block alone.
	hist()[0] = 100000;
	EXPECT_EQ(img_adj_le_update(&block_, stats_.get(), 1), 0);
	EXPECT_EQ(block_.Enb, 0);
}

} // namespace

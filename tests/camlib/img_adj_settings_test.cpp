/* Image-adjust settings: the default record byte for byte, presets and the
 * setters' refusals; filter 9's blending over colour tables with
 * distinctive entries; the dispatchers; the tone rules of filters 10 and 11
 * and the service mode's automatic curves. */
#include "img_adj_settings.h"

#include "img_adj_filter.h"
#include "img_adj_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{

using namespace adjtest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class AdjSettings : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		img_adj_filter_reset();
		img_adj_settings_reset();
	}
	void TearDown() override
	{
		img_adj_set_filter_ops(nullptr, nullptr);
	}
	void channels(int n)
	{
		ASSERT_EQ(img_adj_set_channel_count(n), 0);
		ASSERT_EQ(img_adj_set_channel_info(info_), 0);
		ASSERT_EQ(img_adj_init_settings(), 0);
	}
	channel_info info_[IMG_MAX_CHANNELS] = {};
};

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
	memcpy(b.data() + at, &v, 4);
}

TEST_F(AdjSettings, DefaultRecordByteForByteAndCopiedToEveryChannel)
{
	std::vector<uint8_t> want(100, 0);
	put32(want, 0, 1);
	put32(want, 8, 64);
	put32(want, 12, 64);
	for (int i = 0; i < 4; i++)
		put32(want, 24 + 4 * (size_t)i, 64);
	const uint32_t sharp[12] = {64, 64, 16, 64, 3, 64, 64, 64, 64, 64, 64, 64};
	for (int i = 0; i < 12; i++)
		put32(want, 40 + 4 * (size_t)i, sharp[i]);
	want[89] = 128;
	want[90] = 128;
	put32(want, 92, 0x3e4ccccd); /* 0.2f */
	want[97] = 6;
	want[98] = 6;

	img_adj_settings got[IMG_MAX_CHANNELS];
	memset(got, 0xee, sizeof(got));
	ASSERT_EQ(img_adj_get_settings(got), 0);
	EXPECT_EQ(std::vector<uint8_t>((uint8_t *)&got[0], (uint8_t *)&got[1]), want);
	EXPECT_EQ(((uint8_t *)&got[1])[0], 0xee) << "one channel copied";

	const int32_t bright[1] = {40};
	ASSERT_EQ(img_adj_set_brightness(bright, 1), 0);
	channels(3);
	ASSERT_EQ(img_adj_get_settings(got), 0);
	for (int c = 1; c < 3; c++)
		EXPECT_EQ(memcmp(&got[c], &got[0], sizeof(got[0])), 0) << c;
	EXPECT_EQ(got[2].brightness, 40);
	EXPECT_EQ(img_adj_get_settings(nullptr), -1);
}

TEST_F(AdjSettings, PresetsByLevelAndTheChannelWhereALevelIsRefused)
{
	channels(3);
	struct Preset {
		int32_t level;
		uint32_t sharp0, sharp2, sharp3, sharp4;
		uint32_t nf[4];
	};
	const Preset presets[] = {
	    {0, 192, 0, 32, 3, {255, 0, 0, 0}},       {6, 64, 16, 64, 3, {64, 64, 64, 64}},
	    {9, 40, 40, 160, 2, {40, 192, 192, 128}}, {11, 24, 48, 255, 1, {24, 256, 256, 256}},
	    {12, 0, 0, 0, 0, {0, 0, 0, 0}},           {14, 0, 0, 0, 0, {0, 0, 0, 0}},
	};
	for (const Preset &p : presets) {
		const int32_t levels[3] = {p.level, p.level, p.level};
		ASSERT_EQ(img_adj_set_sharpness_level(levels, 2), 0);
		ASSERT_EQ(img_adj_set_nf_level(levels, 2), 0);
		const img_adj_settings *s = img_adj_channel_settings(1);
		EXPECT_EQ(s->sharpness[0], p.sharp0) << p.level;
		EXPECT_EQ(s->sharpness[1], p.level >= 12 ? 0u : 64u);
		EXPECT_EQ(s->sharpness[2], p.sharp2);
		EXPECT_EQ(s->sharpness[3], p.sharp3);
		EXPECT_EQ(s->sharpness[4], p.sharp4);
		EXPECT_EQ(s->sharpness[11], p.level >= 12 ? 0u : 64u);
		EXPECT_EQ(std::vector<uint32_t>(s->nf_values, s->nf_values + 4),
		          std::vector<uint32_t>(p.nf, p.nf + 4));
		EXPECT_EQ(s->sharpness_level, p.level);
		EXPECT_EQ(s->nf_level, p.level);
	}
	const int32_t mixed[3] = {2, 15, 3};
	EXPECT_EQ(img_adj_set_sharpness_level(mixed, 7), -1);
	EXPECT_EQ(img_adj_channel_settings(0)->sharpness_level, 2);
	EXPECT_EQ(img_adj_channel_settings(0)->sharpness[0], 116u);
	EXPECT_EQ(img_adj_channel_settings(1)->sharpness_level, 14) << "the refused channel keeps its level";
	EXPECT_EQ(img_adj_channel_settings(2)->sharpness_level, 6) << "the pass stops there";
	const int32_t negative[3] = {-1, -1, -1};
	EXPECT_EQ(img_adj_set_sharpness_level(negative, 1), -1);
	EXPECT_EQ(img_adj_set_nf_level(negative, 1), -1);
	EXPECT_EQ(img_adj_channel_settings(0)->sharpness_level, 2);
	EXPECT_EQ(img_adj_channel_settings(0)->nf_level, 6);
}

TEST_F(AdjSettings, SettersRefuseZeroRatiosBadAlphasAndNull)
{
	channels(2);
	const uint8_t r1[2] = {64, 0}, r2[2] = {200, 90};
	CaptureStdout();
	EXPECT_EQ(img_adj_set_wb_ratio(r1, r2, 3), -1);
	EXPECT_EQ(GetCapturedStdout(), "error:wb_ratio =0!\n");
	uint8_t g1[2], g2[2];
	ASSERT_EQ(img_adj_get_wb_ratio(g1, g2), 0);
	EXPECT_EQ(g1[0], 64);
	EXPECT_EQ(g2[0], 200);
	EXPECT_EQ(g1[1], 128) << "the refused channel keeps its ratios";
	EXPECT_EQ(g2[1], 128);

	for (float bad : {1.5f, -0.1f, NAN}) {
		const float alpha[2] = {0.5f, bad};
		CaptureStdout();
		EXPECT_EQ(img_adj_set_auto_tone_alpha(alpha, 3), -1);
		EXPECT_EQ(GetCapturedStdout(), "Error invalid alpha[1], [0.0, 1.0].\n");
	}
	float alpha[2];
	ASSERT_EQ(img_adj_get_auto_tone_alpha(alpha), 0);
	EXPECT_EQ(alpha[0], 0.5f);
	EXPECT_EQ(alpha[1], 0.2f);

	CaptureStdout();
	EXPECT_EQ(img_adj_set_color_matrix(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_brightness(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_contrast(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_saturation(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_hue(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_sharpness_level(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_sharpness_values(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_nf_level(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_nf_values(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_bw_mode(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_wb_ratio(r1, nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_auto_tone(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_auto_tone_alpha(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_nr_bypass(nullptr), -1);
	EXPECT_EQ(img_adj_set_service_flag(nullptr, 1), -1);
	EXPECT_EQ(img_adj_set_max_chroma_radius(nullptr), -1);
	EXPECT_EQ(img_adj_set_pre_config(nullptr), -1);
	EXPECT_EQ(img_adj_get_bcsh(nullptr), -1);
	EXPECT_EQ(img_adj_get_auto_tone(nullptr), -1);
	GetCapturedStdout();
}

TEST_F(AdjSettings, MaskedSettersTouchOnlyTheirChannelsAndGettersCopyAll)
{
	channels(3);
	const int32_t b[3] = {1, 2, 3}, s[3] = {70, 80, 90}, h[3] = {-4, 5, 6};
	const uint32_t c[3] = {10, 20, 30}, bw[3] = {0x101, 0, 1}, flag[3] = {7, 0, 1}, bypass[3] = {1, 0, 2};
	uint32_t sharp[36] = {}, nf[12] = {};
	sharp[12] = 99;
	sharp[23] = 98;
	nf[4] = 11;
	nf[7] = 12;
	const uint8_t tone[3] = {1, 1, 1};
	ASSERT_EQ(img_adj_set_brightness(b, 5), 0);
	ASSERT_EQ(img_adj_set_contrast(c, 5), 0);
	ASSERT_EQ(img_adj_set_saturation(s, 5), 0);
	ASSERT_EQ(img_adj_set_hue(h, 5), 0);
	ASSERT_EQ(img_adj_set_bw_mode(bw, 1), 0);
	ASSERT_EQ(img_adj_set_service_flag(flag, 7), 0);
	ASSERT_EQ(img_adj_set_nr_bypass(bypass), 0);
	ASSERT_EQ(img_adj_set_sharpness_values(sharp, 2), 0);
	ASSERT_EQ(img_adj_set_nf_values(nf, 2), 0);
	ASSERT_EQ(img_adj_set_auto_tone(tone, 4), 0);
	uint32_t bcsh[12];
	ASSERT_EQ(img_adj_get_bcsh(bcsh), 0);
	const uint32_t want[12] = {1, 10, 70, (uint32_t)-4, 0, 64, 64, 0, 3, 30, 90, 6};
	EXPECT_EQ(std::vector<uint32_t>(bcsh, bcsh + 12), std::vector<uint32_t>(want, want + 12));
	EXPECT_EQ(img_adj_channel_settings(0)->bw_mode, 1) << "the low byte";
	uint32_t got[3];
	ASSERT_EQ(img_adj_get_service_flag(got), 0);
	EXPECT_EQ(std::vector<uint32_t>(got, got + 3), (std::vector<uint32_t>{1, 0, 1}));
	ASSERT_EQ(img_adj_get_auto_tone(got), 0);
	EXPECT_EQ(std::vector<uint32_t>(got, got + 3), (std::vector<uint32_t>{0, 0, 1}));
	EXPECT_EQ(img_adj_channel_settings(2)->nr_bypass, 2);
	EXPECT_EQ(img_adj_channel_settings(1)->sharpness[0], 99u);
	EXPECT_EQ(img_adj_channel_settings(1)->sharpness[11], 98u);
	EXPECT_EQ(img_adj_channel_settings(0)->sharpness[0], 64u);
	EXPECT_EQ(img_adj_channel_settings(1)->nf_values[0], 11u);
	EXPECT_EQ(img_adj_channel_settings(1)->nf_values[3], 12u);
	const uint32_t radius = 64;
	ASSERT_EQ(img_adj_set_max_chroma_radius(&radius), 0);
	EXPECT_EQ(img_adj_get_max_chroma_radius(), 64u);
}

/* Filter 9 over T0 = 100, T1 = 300, T2 = 500 (top bit set), T3 = 900, each
 * with a head and tail of its own byte, red thresholds 512, 1024 and 2048. */
class AdjColour : public AdjSettings
{
      protected:
	void SetUp() override
	{
		AdjSettings::SetUp();
		info_[1].rgb_ir = 1;
		channels(2);
		tables_ = {cc_table(100, 0x10), cc_table(300, 0x11), cc_table(500, 0x12, 0x80000000u),
		           cc_table(900, 0x13)};
		img_adj_cc_sources src[2];
		for (int c = 0; c < 2; c++)
			for (int k = 0; k < 4; k++)
				src[c][k] = tables_[(size_t)k].data();
		ASSERT_EQ(img_adj_load_cc_tables(src), 0);
		band(896, 1152, 0, 768);
		const int32_t red[3] = {512, 1024, 2048};
		for (int r = 0; r < 3; r++)
			fc_.set_value(0, r, 0, red[r]);
		state_ = img_adj_filter_state(0, IMG_ADJ_CC);
		*state_ = {IMG_ADJ_CC, 1, 0, 0, 0, 0};
	}
	void band(int32_t e_lo, int32_t e_hi, int32_t a_lo, int32_t a_hi)
	{
		fc_.set_value(0, 3, 0, e_lo);
		fc_.set_value(0, 3, 1, e_hi);
		fc_.set_value(0, 4, 0, a_lo);
		fc_.set_value(0, 4, 1, a_hi);
	}
	int step(uint32_t red, int32_t ev, int chan = 0)
	{
		const uint32_t wb[3] = {red, 1024, 1024};
		return img_adj_cc_step(img_adj_filter_state(chan, IMG_ADJ_CC), fc_.fc(),
		                       img_adj_cc_container(chan, 0), wb, ev,
		                       img_adj_filter_block(chan, IMG_ADJ_CC), chan);
	}
	uint8_t *t4()
	{
		return cc_table_of(0, IMG_ADJ_CC_WORK);
	}
	uint64_t sent_table(int chan = 0)
	{
		uint64_t a;
		memcpy(&a, img_adj_filter_block(chan, IMG_ADJ_CC), 8);
		return a;
	}
	/* Every entry of T4 holds v in its three fields and top above them,
	 * head and tail marked. */
	void expect_t4(uint32_t v, uint32_t top, uint8_t mark)
	{
		for (int i = 0; i < IMG_ADJ_CC_ENTRIES; i += 511)
			ASSERT_EQ(cc_entry(t4(), i), top | v | v << 10 | v << 20) << "entry " << i;
		EXPECT_EQ(t4()[0], mark);
		EXPECT_EQ(t4()[IMG_ADJ_CC_TABLE_SIZE - 1], mark);
	}

	std::vector<std::vector<uint8_t>> tables_;
	Container fc_{*type_of(344), IMG_ADJ_CC, 0};
	filter_state *state_ = nullptr;
};

TEST_F(AdjColour, RedGainPicksOrBlendsTheTemperatureTables)
{
	band(1152, 896, 0, 768); /* an invalid band leaves the temperature blend in T4 */
	struct Case {
		uint32_t red, value, top;
		uint8_t mark;
	};
	const Case cases[] = {
	    {1024, 300, 0x80000000u, 0x11}, /* t1 itself: all T1, T4's top bits kept */
	    {768, 200, 0x80000000u, 0x11},  /* w = ((r - lo) << 16) / (hi - lo) */
	    {1536, 400, 0x80000000u, 0x12},
	    {3000, 500, 0x80000000u, 0x12}, /* at or above t2: T2 as it is */
	    {400, 100, 0, 0x10},            /* at or below t0: T0 as it is */
	};
	for (const Case &c : cases) {
		CaptureStdout();
		EXPECT_EQ(step(c.red, 0), 0);
		EXPECT_EQ(GetCapturedStdout(),
		          "error: invalid ev setting: threshold[1152, 896] alpha[0, 768]\n");
		SCOPED_TRACE("red " + std::to_string(c.red));
		expect_t4(c.value, c.top, c.mark);
		EXPECT_EQ(state_->changed, 1u);
		EXPECT_EQ(sent_table(), (uint64_t)(uintptr_t)t4());
	}
}

TEST_F(AdjColour, LowLightBlendFollowsTheExposureBand)
{
	EXPECT_EQ(step(1024, 1024), 0);
	expect_t4(525, 0x80000000u, 0x13); /* alpha 384: (300 * 640 + 900 * 384) >> 10 */
	EXPECT_EQ(step(1024, 0), 0);
	expect_t4(300, 0x80000000u, 0x13);
	EXPECT_EQ(step(1024, 5000), 0);
	expect_t4((300 * 256 + 900 * 768) >> 10, 0x80000000u, 0x13);
	const int32_t bad[2][5] = {{0, 100, 800, 700, 2000}, {0, 100, 0, 1025, 1500}};
	for (const int32_t *b : bad) {
		band(b[0], b[1], b[2], b[3]);
		std::vector<uint8_t> before(t4(), t4() + IMG_ADJ_CC_TABLE_SIZE);
		CaptureStdout();
		EXPECT_EQ(step((uint32_t)b[4], 50), 0);
		std::string line = GetCapturedStdout();
		EXPECT_EQ(line.rfind("error: invalid ev setting: threshold[0, 100]", 0), 0u) << line;
		EXPECT_NE(std::vector<uint8_t>(t4(), t4() + IMG_ADJ_CC_TABLE_SIZE), before)
		    << "the temperature stage still ran";
	}
}

TEST_F(AdjColour, SmallRedMovesSendNothingAndBandCrossingsBlendLowLightOnly)
{
	ASSERT_EQ(step(1024, 800), 0);
	expect_t4(300, 0x80000000u, 0x13);
	std::vector<uint8_t> before(t4(), t4() + IMG_ADJ_CC_TABLE_SIZE);
	EXPECT_EQ(step(1039, 800), 1) << "15 away: nothing moved";
	EXPECT_EQ(state_->changed, 0u);
	EXPECT_EQ(step(1024 - 15, 850), 1) << "an exposure change outside the band";
	EXPECT_EQ(std::vector<uint8_t>(t4(), t4() + IMG_ADJ_CC_TABLE_SIZE), before);

	/* T1 changes behind the cache: a band crossing alone must not see it */
	memcpy(cc_table_of(0, 1), cc_table(400, 0x11).data(), IMG_ADJ_CC_TABLE_SIZE);
	ASSERT_EQ(step(1024, 1024), 0);
	EXPECT_EQ(state_->changed, 1u);
	expect_t4(525, 0x80000000u, 0x13);

	ASSERT_EQ(step(1040, 1024), 0) << "16 away: both stages";
	/* w = 16 << 16 / 1024 between T1 (now 400) and T2 */
	uint32_t temp = (400 * (65536 - 1024) + 500 * 1024) >> 16;
	expect_t4((temp * 640 + 900 * 384) >> 10, 0x80000000u, 0x13);
}

TEST_F(AdjColour, PeriodUpdateFlagsAndBlackAndWhite)
{
	state_->period = 15;
	ASSERT_EQ(step(1024, 0), 0);
	EXPECT_EQ(state_->changed, 0u) << "not due";
	EXPECT_EQ(state_->counter, 1);
	img_adj_set_update_flags();
	ASSERT_EQ(step(1024, 0), 0);
	EXPECT_EQ(state_->changed, 1u) << "the update flag makes it due";
	EXPECT_EQ(state_->counter, 0);
	ASSERT_EQ(step(1024, 0), 0);
	EXPECT_EQ(state_->changed, 0u) << "the update flag is spent";

	const uint32_t bw[2] = {1, 1};
	ASSERT_EQ(img_adj_set_bw_mode(bw, 3), 0);
	state_->counter = 20;
	ASSERT_EQ(step(1024, 0), 0);
	EXPECT_EQ(sent_table(), (uint64_t)(uintptr_t)cc_table_of(0, IMG_ADJ_CC_LOW_LIGHT));
	EXPECT_EQ(state_->changed, 1u);
	EXPECT_EQ(state_->counter, 21) << "black and white leaves the counter";
	EXPECT_EQ(img_adj_rgb_ir_correction(1), 0u);
	ASSERT_EQ(step(1024, 0, 1), 0);
	EXPECT_EQ(img_adj_rgb_ir_correction(1), 0u) << "RGB-IR correction off in black and white";
	const uint32_t colour[2] = {0, 0};
	ASSERT_EQ(img_adj_set_bw_mode(colour, 3), 0);
	ASSERT_EQ(step(1024, 0, 1), 0);
	EXPECT_EQ(img_adj_rgb_ir_correction(1), 512u);
	EXPECT_EQ(img_adj_rgb_ir_correction(0), 0u) << "channel 0 is no RGB-IR sensor";
}

TEST_F(AdjColour, WithoutTablesThereIsNothingToBlend)
{
	img_adj_filter_reset();
	ASSERT_EQ(img_adj_set_channel_count(1), 0);
	*img_adj_filter_state(0, IMG_ADJ_CC) = {IMG_ADJ_CC, 1, 0, 0, 0, 0};
	CaptureStdout();
	EXPECT_EQ(step(1024, 0), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: colour-correction table 0 of channel 0 not loaded\n");
	EXPECT_EQ(img_adj_filter_state(0, IMG_ADJ_CC)->counter, 0);
}

TEST_F(AdjColour, WeightedBlendNeedsWeightsOfOne)
{
	std::vector<uint8_t> out = cc_table(0, 0, 0x40000000u);
	CaptureStdout();
	EXPECT_EQ(img_adj_cc_weighted_blend(out.data(), tables_[0].data(), tables_[1].data(), 32768, 32767),
	          -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "error: sum of pre_wgt and next_wgt (65535) should be equal to 65536\n");
	ASSERT_EQ(img_adj_cc_weighted_blend(out.data(), tables_[0].data(), tables_[1].data(), 49152, 16384),
	          0);
	EXPECT_EQ(cc_entry(out.data(), 7), 0x40000000u | 150u | 150u << 10 | 150u << 20);
	EXPECT_EQ(out[0], 0x10);
}

TEST_F(AdjSettings, DispatchersCheckTheIdAndPassResultsOn)
{
	Recorder rec;
	rec.install();
	rec.fail_translate = 3;
	rec.tx[4] = [](filter_state *, void *, int32_t, img_dsp_mode *) { return 0x10000000; };
	filter_state st = {49, 0, 0, 0, 0, 0};
	uint8_t block[16];
	img_dsp_mode mode = {};
	CaptureStdout();
	EXPECT_EQ(img_adj_translate(&st, block, 0, nullptr), -1);
	EXPECT_EQ(img_adj_transmit(&st, block, 3, &mode), -1);
	st.id = IMG_ADJ_CC;
	EXPECT_EQ(img_adj_translate(&st, block, 0, nullptr), -1);
	rec.tx[IMG_ADJ_CC] = nullptr;
	EXPECT_EQ(img_adj_transmit(&st, block, 3, &mode), -1);
	EXPECT_EQ(GetCapturedStdout(), "filter id 49 unsupported\nfilter id exceeds parser num\n"
	                               "no translater for filter 9\nno transmitter for filter 9\n");
	st.id = 3;
	EXPECT_EQ(img_adj_translate(&st, block, 0, nullptr), -1);
	st.id = 4;
	EXPECT_EQ(img_adj_translate(&st, block, 0, nullptr), 0);
	EXPECT_EQ(img_adj_transmit(&st, block, 3, &mode), 0x10000000);
	EXPECT_EQ(img_adj_translate(nullptr, block, 0, nullptr), -1);
	EXPECT_EQ(img_adj_transmit(&st, nullptr, 3, &mode), -1);
}

/* Filter 11's state: three matrices of nine coefficients and three
 * offsets in parts 2 to 4. */
struct Rgb2Yuv {
	State st{*type_of(1880), IMG_ADJ_RGB2YUV, 0};
	Rgb2Yuv()
	{
		const int16_t m[3][12] = {{10, 20, 30, -40, 50, 60, 70, -80, 90, 16, 128, 128},
		                          {77, 150, 29, -43, -85, 128, 128, -107, -21, 0, 128, 128},
		                          {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
		for (int p = 0; p < 3; p++)
			memcpy(st.bytes.data() + sizeof(filter_state) + 16 + 32 * p, m[p], sizeof(m[p]));
	}
};

std::vector<int16_t> matrix_of(const img_dsp_rgb_to_yuv_matrix &m)
{
	std::vector<int16_t> v(m.MatrixValues, m.MatrixValues + 9);
	v.insert(v.end(), {m.YOffset, m.UOffset, m.VOffset});
	return v;
}

TEST_F(AdjSettings, RgbToYuvChoosesTheMatrixAndTurnsItsChroma)
{
	struct Case {
		const char *what;
		uint32_t matrix, yuv;
		int32_t brightness, saturation, hue;
		std::vector<int16_t> want;
	};
	const Case cases[] = {
	    {"neutral keeps matrix 1",
	     1,
	     0,
	     0,
	     64,
	     0,
	     {77, 150, 29, -43, -85, 128, 128, -107, -21, 0, 128, 128}},
	    {"matrix 0", 0, 0, 0, 64, 0, {10, 20, 30, -40, 50, 60, 70, -80, 90, 16, 128, 128}},
	    {"matrix 3", 3, 0, 0, 64, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
	    {"YUV input forces matrix 3", 1, 1, 0, 64, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
	    {"brightness 300 is 255",
	     1,
	     0,
	     300,
	     64,
	     0,
	     {77, 150, 29, -43, -85, 128, 128, -107, -21, 255, 128, 128}},
	    {"brightness -300 is -255",
	     0,
	     0,
	     -300,
	     64,
	     0,
	     {10, 20, 30, -40, 50, 60, 70, -80, 90, -239, 128, 128}},
	    {"hue 1: Kc 2047, Ks 71",
	     1,
	     0,
	     0,
	     64,
	     1,
	     {77, 150, 29, -39, -88, 125, 127, -103, -25, 0, 128, 128}},
	    {"hue 20 is 15", 1, 0, 0, 64, 20, {77, 150, 29, 27, -127, 99, 131, -50, -83, 0, 128, 128}},
	    {"saturation 300 is 255",
	     1,
	     0,
	     0,
	     300,
	     0,
	     {77, 150, 29, -172, -339, 510, 510, -427, -84, 0, 128, 128}},
	    {"hue -3, saturation 100",
	     1,
	     0,
	     0,
	     100,
	     -3,
	     {77, 150, 29, -89, -114, 201, 190, -181, -11, 0, 128, 128}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		img_adj_settings_reset();
		info_[0].yuv = c.yuv;
		channels(1);
		const uint32_t matrix[1] = {c.matrix};
		const int32_t b[1] = {c.brightness}, s[1] = {c.saturation}, h[1] = {c.hue};
		ASSERT_EQ(img_adj_set_color_matrix(matrix, 1), 0);
		ASSERT_EQ(img_adj_set_brightness(b, 1), 0);
		ASSERT_EQ(img_adj_set_saturation(s, 1), 0);
		ASSERT_EQ(img_adj_set_hue(h, 1), 0);
		Rgb2Yuv f;
		img_dsp_rgb_to_yuv_matrix out = {};
		ASSERT_EQ(img_adj_rgb_to_yuv(f.st.fs(), &out, 0), 0);
		EXPECT_EQ(matrix_of(out), c.want);
		if (c.yuv) {
			EXPECT_EQ(img_adj_channel_settings(0)->color_matrix, 3u) << "stored as 3";
		}
	}
}

TEST_F(AdjSettings, RgbToYuvKeepsTheBlockForOtherMatricesAndTakesThePreConfiguration)
{
	channels(1);
	Rgb2Yuv f;
	img_dsp_rgb_to_yuv_matrix out = {{9, 9, 9, 9, 9, 9, 9, 9, 9}, 9, 9, 9};
	const uint32_t two[1] = {2};
	ASSERT_EQ(img_adj_set_color_matrix(two, 1), 0);
	ASSERT_EQ(img_adj_rgb_to_yuv(f.st.fs(), &out, 0), 0);
	EXPECT_EQ(matrix_of(out), std::vector<int16_t>(12, 9));
	img_adj_pre_config pre = {};
	pre.rgb2yuv.YOffset = 77;
	ASSERT_EQ(img_adj_set_pre_config(&pre), 0);
	ASSERT_EQ(img_adj_rgb_to_yuv(f.st.fs(), &out, 0), 0);
	EXPECT_EQ(out.YOffset, 77);
	EXPECT_EQ(out.MatrixValues[0], 0);
	EXPECT_EQ(img_adj_rgb_to_yuv(f.st.fs(), &out, 1), -1) << "one channel";
}

TEST_F(AdjSettings, ContrastRuleRunsFromTheLowToTheHighCurve)
{
	const uint16_t *low = img_adj_contrast_limit_curve(0), *high = img_adj_contrast_limit_curve(1);
	const uint16_t low_points[16] = {0,   201, 346, 419, 453, 474, 488, 500,
	                                 514, 534, 549, 569, 597, 648, 746, 888};
	const uint16_t high_points[16] = {0,   7,   12,  21,  34,  61,  125,  282,
	                                  514, 744, 892, 954, 981, 996, 1007, 1014};
	for (int k = 0; k < 16; k++) {
		EXPECT_EQ(low[16 * k], low_points[k]) << k;
		EXPECT_EQ(high[16 * k], high_points[k]) << k;
	}
	EXPECT_EQ(low[255], 1023);
	EXPECT_EQ(high[255], 1023);
	for (int i = 1; i < 256; i++) {
		EXPECT_GE(low[i], low[i - 1]) << i;
		EXPECT_GE(high[i], high[i - 1]) << i;
	}

	for (uint32_t contrast : {0u, 32u, 64u, 96u, 128u, 200u}) {
		img_dsp_tone_curve tone;
		for (int i = 0; i < 256; i++) {
			tone.ToneCurveRed[i] = 7;
			tone.ToneCurveGreen[i] = (uint16_t)(4 * i);
			tone.ToneCurveBlue[i] = 9;
		}
		img_adj_contrast_curve(&tone, contrast);
		for (int i = 0; i < 256; i++) {
			int g = 4 * i;
			int want = contrast == 0    ? low[i]
			           : contrast == 32 ? (low[i] * 32 + g * 32) >> 6
			           : contrast == 64 ? g
			           : contrast == 96 ? (high[i] * 32 + g * 32) >> 6
			                            : high[i];
			ASSERT_EQ(tone.ToneCurveGreen[i], want) << "contrast " << contrast << " entry " << i;
			ASSERT_EQ(tone.ToneCurveRed[i], want);
			ASSERT_EQ(tone.ToneCurveBlue[i], want);
		}
	}
}

/* A parse result with the given RGB histogram arrays. */
std::vector<uint8_t> stats_with(const std::vector<std::vector<uint32_t>> &arrays)
{
	std::vector<uint8_t> stats(72744, 0);
	for (size_t a = 0; a < arrays.size(); a++)
		memcpy(stats.data() + 31744 + 256 * a, arrays[a].data(), 256);
	return stats;
}

TEST_F(AdjSettings, HdrToneAdaptsItsStrengthAndHoldsBetween)
{
	img_dsp_tone_curve tone = {};
	std::vector<uint32_t> spread(64, 0);
	for (int k = 5; k < 64; k++)
		spread[k] = 1000; /* nothing in the darkest bins: the strength grows */
	std::vector<uint8_t> stats = stats_with({spread});
	EXPECT_EQ(img_adj_hdr_tone_adapt(nullptr, stats.data()), -1);
	EXPECT_EQ(img_adj_hdr_tone_adapt(&tone, nullptr), -1);

	ASSERT_EQ(img_adj_hdr_tone_adapt(&tone, stats.data()), 1);
	const int knots[][2] = {{0, 0}, {1, 4}, {96, 384}, {192, 768}, {255, 1023}};
	for (const auto &k : knots)
		EXPECT_EQ(tone.ToneCurveGreen[k[0]], k[1]) << k[0];
	for (int i = 1; i < 256; i++) {
		EXPECT_GE(tone.ToneCurveGreen[i], tone.ToneCurveGreen[i - 1]);
		EXPECT_EQ(tone.ToneCurveRed[i], tone.ToneCurveGreen[i]);
		EXPECT_EQ(tone.ToneCurveBlue[i], tone.ToneCurveGreen[i]);
	}
	img_dsp_tone_curve held = tone;
	for (int i = 0; i < 10; i++)
		EXPECT_EQ(img_adj_hdr_tone_adapt(&tone, stats.data()), 0) << "held " << i;
	EXPECT_EQ(memcmp(&tone, &held, sizeof(tone)), 0);
	/* strengths 2 to 4 put their knot (s, 4 s) on the line the curve
	 * already follows; 5 caps it at 16 and bends the curve */
	int unmoved = 0;
	while (img_adj_hdr_tone_adapt(&tone, stats.data()) == 0 && ++unmoved < 10) {
	}
	EXPECT_EQ(unmoved, 3);
	EXPECT_EQ(tone.ToneCurveGreen[5], 16);
	EXPECT_EQ(tone.ToneCurveGreen[96], 384);
}

TEST_F(AdjSettings, AutoToneFloorAndCurve)
{
	const int at[] = {0, 16, 32, 48, 64, 96, 128, 192, 255};
	const uint16_t floor[] = {0, 10, 32, 63, 102, 201, 324, 637, 1023};
	for (size_t k = 0; k < 9; k++)
		EXPECT_EQ(img_adj_auto_tone_floor(at[k]), floor[k]) << at[k];

	channels(1);
	std::vector<uint32_t> dark(64, 0);
	for (int k = 0; k < 8; k++)
		dark[k] = 5000;
	std::vector<uint8_t> stats = stats_with({std::vector<uint32_t>(64, 0), dark, dark, dark});
	img_dsp_tone_curve tone;
	for (int i = 0; i < 256; i++)
		tone.ToneCurveRed[i] = tone.ToneCurveGreen[i] = tone.ToneCurveBlue[i] = (uint16_t)(4 * i);
	const img_dsp_tone_curve before = tone;
	EXPECT_EQ(img_adj_auto_tone_curve(stats.data(), &tone, 0), 0) << "auto tone is off";
	EXPECT_EQ(memcmp(&tone, &before, sizeof(tone)), 0);
	const uint8_t on[1] = {1};
	ASSERT_EQ(img_adj_set_auto_tone(on, 1), 0);
	EXPECT_EQ(img_adj_auto_tone_curve(nullptr, &tone, 0), 0);
	EXPECT_EQ(img_adj_auto_tone_curve(stats.data(), &tone, 1), 0) << "one channel";

	ASSERT_EQ(img_adj_auto_tone_curve(stats.data(), &tone, 0), 1);
	EXPECT_GT(tone.ToneCurveGreen[16], before.ToneCurveGreen[16]) << "a dark picture lifts the shadows";
	for (int i = 0; i < 256; i++) {
		EXPECT_EQ(tone.ToneCurveRed[i], tone.ToneCurveGreen[i]);
		EXPECT_EQ(tone.ToneCurveBlue[i], tone.ToneCurveGreen[i]);
		/* a sixteenth of the way at most, or a step of one */
		int moved = std::abs(tone.ToneCurveGreen[i] - before.ToneCurveGreen[i]);
		EXPECT_LE(moved, 1 + 1023 / 16) << i;
	}
}

} // namespace

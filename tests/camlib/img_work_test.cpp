/* Work-state transitions, the HDR shutter-ratio limits and tables, and the
 * ratio look-ups. */
#include "aaa_parser.h"
#include "ae_fixture.h"
#include "cl_aaa_block.h"
#include "img_adj_le.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "img_work.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class ImgWork : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(img_set_vin_chan_num(2), 0);
		img_work_reset();
	}
	void TearDown() override
	{
		img_work_reset();
		memset(img_lib_aaa_chan(1)->cfg, 0, IMG_AAA_CFG_SIZE);
	}
};

/* Walks a chain of requests, each committed, and checks each answer. */
TEST_F(ImgWork, TransitionsFollowTheTable)
{
	struct step {
		uint32_t next;
		int rc;
		const char *line;
	};
	const step steps[] = {
	    {IMG_WORK_RECORD, -1, "cannot trans from idle to record\n"},
	    {IMG_WORK_IDLE, -1, "cannot trans from idle to idle\n"},
	    {IMG_WORK_PREVIEW, 0, ""},
	    {IMG_WORK_PREVIEW, -1, "cannot trans from preview to preview\n"},
	    {IMG_WORK_IDLE, -1, "cannot trans from preview to idle\n"},
	    {IMG_WORK_PREVIEW | IMG_WORK_RECORD, -1, "cannot trans from preview to err\n"},
	    {IMG_WORK_FASTFOCUS, 0, ""},
	    {IMG_WORK_RECORD, -1, "cannot trans from fastfocus to record\n"},
	    {IMG_WORK_PREFLASH, 0, ""},
	    {IMG_WORK_PREVIEW, -1, "cannot trans from preflash to preview\n"},
	    {IMG_WORK_CAPTURE, 0, ""},
	    {IMG_WORK_PREVIEW, 0, ""},
	    {IMG_WORK_RECORD, 0, ""},
	    {IMG_WORK_CAPTURE, -1, "cannot trans from record to capture\n"},
	    {IMG_WORK_PREVIEW, 0, ""},
	};
	for (const step &s : steps) {
		SCOPED_TRACE(img_work_state_name(img_work_state_current()) + std::string(" -> ") +
		             std::to_string(s.next));
		CaptureStdout();
		EXPECT_EQ(img_work_state_request(s.next), s.rc);
		EXPECT_EQ(GetCapturedStdout(), s.line);
		EXPECT_EQ(img_work_state_pending(), s.rc == 0);
		img_work_state_commit();
		EXPECT_FALSE(img_work_state_pending());
	}
	EXPECT_EQ(img_work_state_current(), (uint32_t)IMG_WORK_PREVIEW);
}

TEST_F(ImgWork, PrintShowsBothStatesAndWhetherOneIsPending)
{
	ASSERT_EQ(img_work_state_request(IMG_WORK_PREVIEW), 0);
	CaptureStdout();
	img_work_state_print();
	img_work_state_commit();
	img_work_state_print();
	EXPECT_EQ(GetCapturedStdout(), "curr idle next preview sync 1\ncurr preview next preview sync 0\n");
}

TEST_F(ImgWork, LimitsInEffectStayInsideTheConfiguredRange)
{
	img_ratio_limits bad = {1, 64, 32};
	CaptureStdout();
	EXPECT_EQ(img_config_ratio_limits(0, &bad), -1);
	EXPECT_EQ(img_set_ratio_limits_in_effect(0, &bad), -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "error: chan 0 max shutter ratio [32] should be greater than min shutter ratio [64].\n"
	          "error: chan 0 max shutter ratio [32] should be greater than min shutter ratio [64].\n");

	uint32_t cfg[IMG_RATIO_CONFIG_WORDS] = {9, 9, 9, 9, 9};
	ASSERT_EQ(img_set_ratio_config(0, cfg), 0);
	img_ratio_limits conf = {1, 32, 256};
	ASSERT_EQ(img_config_ratio_limits(0, &conf), 0);
	ASSERT_EQ(img_get_ratio_config(0, cfg), 0);
	EXPECT_EQ(std::vector<uint32_t>(cfg, cfg + 5), (std::vector<uint32_t>{1, 5, 120, 9, 9}));

	img_ratio_limits wide = {2, 16, 512}, now;
	ASSERT_EQ(img_set_ratio_limits_in_effect(0, &wide), 0);
	ASSERT_EQ(img_get_ratio_limits_in_effect(0, &now), 0);
	EXPECT_EQ(now.mode, 2u);
	EXPECT_EQ(now.min, 32u);
	EXPECT_EQ(now.max, 256u);

	img_ratio_limits inside = {0, 48, 64};
	ASSERT_EQ(img_set_ratio_limits_in_effect(0, &inside), 0);
	ASSERT_EQ(img_get_ratio_limits_in_effect(0, &now), 0);
	EXPECT_EQ(now.min, 48u);
	EXPECT_EQ(now.max, 64u);
	img_ratio_limits other;
	ASSERT_EQ(img_get_ratio_limits_in_effect(1, &other), 0);
	EXPECT_EQ(other.max, 0u) << "limits are per channel";
}

TEST_F(ImgWork, PerChannelCallsRefuseBadChannelsAndNull)
{
	img_ratio_limits l = {0, 16, 32};
	uint32_t cfg[IMG_RATIO_CONFIG_WORDS] = {};
	uint8_t table[IMG_HDR_BOOST_TABLE_SIZE] = {};
	uint32_t gain;
	for (int chan : {-1, 2, 4}) {
		SCOPED_TRACE(chan);
		CaptureStdout();
		EXPECT_EQ(img_config_ratio_limits(chan, &l), -1);
		EXPECT_EQ(img_set_ratio_limits_in_effect(chan, &l), -1);
		EXPECT_EQ(img_get_ratio_limits_in_effect(chan, &l), -1);
		EXPECT_EQ(img_set_ratio_config(chan, cfg), -1);
		EXPECT_EQ(img_get_ratio_config(chan, cfg), -1);
		EXPECT_EQ(img_set_hdr_boost_table(chan, table), -1);
		EXPECT_EQ(img_get_hdr_boost_table(chan, table), -1);
		EXPECT_EQ(img_ratio_to_gain(16, &gain, chan), -1);
		std::string line = "error: illegal channel id [" + std::to_string(chan) + "].\n";
		std::string want;
		for (int i = 0; i < 8; i++)
			want += line;
		EXPECT_EQ(GetCapturedStdout(), want);
	}
	CaptureStdout();
	EXPECT_EQ(img_config_ratio_limits(0, nullptr), -1);
	EXPECT_EQ(img_set_ratio_limits_in_effect(0, nullptr), -1);
	EXPECT_EQ(img_get_ratio_limits_in_effect(0, nullptr), -1);
	EXPECT_EQ(img_set_ratio_config(0, nullptr), -1);
	EXPECT_EQ(img_get_ratio_config(0, nullptr), -1);
	EXPECT_EQ(img_set_hdr_boost_table(0, nullptr), -1);
	EXPECT_EQ(img_get_hdr_boost_table(0, nullptr), -1);
	EXPECT_EQ(img_ratio_to_gain(16, nullptr, 0), -1);
	EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(ImgWork, BoostLookupInterpolatesTheTable)
{
	uint16_t e[128];
	for (int k = 0; k < 128; k++)
		e[k] = (uint16_t)(100 + 10 * k + (k == 1 ? 40 : 0));
	ASSERT_EQ(img_set_hdr_boost_table(1, (const uint8_t *)e), 0);
	uint8_t back[IMG_HDR_BOOST_TABLE_SIZE];
	ASSERT_EQ(img_get_hdr_boost_table(1, back), 0);
	EXPECT_EQ(memcmp(back, e, sizeof(back)), 0);
	struct {
		uint32_t r;
		uint16_t want;
	} cases[] = {
	    {24, (100 + 150) / 2}, /* midpoint of entries 0 and 1 */
	    {16, 100},
	    {32, 150},
	    {8, 100 - 25},         /* the first segment extended below 16 */
	    {40, (150 + 120) / 2}, /* halfway from entry 1 down to entry 2 */
	    {2047, 1360 + (1370 - 1360) * 15 / 16},
	    {2048, 1370},
	    {4096, 1370},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.r);
		EXPECT_EQ(img_boost_lookup(c.r, 1), c.want);
	}
	EXPECT_EQ(img_boost_lookup(24, 0), 0) << "tables are per channel";
}

TEST_F(ImgWork, BoostLookupBelowTheTableDoesNotWrap)
{
	uint16_t e[128] = {10, 200};
	ASSERT_EQ(img_set_hdr_boost_table(0, (const uint8_t *)e), 0);
	EXPECT_EQ(img_boost_lookup(0, 0), 0);
}

TEST_F(ImgWork, RatioToGainNeedsTheBlocksTable)
{
	uint32_t gain = 77;
	CaptureStdout();
	EXPECT_EQ(img_ratio_to_gain(24, &gain, 1), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: chan [1] ratio to gain convert table is not supported\n");
	EXPECT_EQ(gain, 77u);

	uint8_t *cfg = img_lib_aaa_chan(1)->cfg;
	uint32_t on = 1, table[128];
	for (int k = 0; k < 128; k++)
		table[k] = 1000u * (uint32_t)k;
	memcpy(cfg + 3192, &on, 4);
	memcpy(cfg + 6336, table, sizeof(table));
	struct {
		uint32_t r, want;
	} cases[] = {{16, 0}, {24, 500}, {40, 1500}, {2048, 127000}, {9000, 127000}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.r);
		ASSERT_EQ(img_ratio_to_gain(c.r, &gain, 1), 0);
		EXPECT_EQ(gain, c.want);
	}
}

} // namespace

namespace
{

/* What the driver layer says before it knows the channel's source. */
const char kUnmapped[] = "Not hal_init_channel_vsrc_mapping yet!\n";

/* The split over a channel whose description and block the test sets. */
class HdrSplit : public ImgWork
{
      protected:
	void SetUp() override
	{
		ImgWork::SetUp();
		chan_ = img_lib_aaa_chan(0);
		saved_ = chan_->info;
		memset(&block_, 0, sizeof(block_));
	}
	void TearDown() override
	{
		chan_->info = saved_;
		memset(chan_->cfg, 0, IMG_AAA_CFG_SIZE);
		ImgWork::TearDown();
	}
	void channel(uint32_t method, uint32_t expo_num)
	{
		chan_->info.hdr_method = method;
		chan_->info.expo_num = expo_num;
	}
	void cfg_word(size_t at, uint32_t v)
	{
		memcpy(chan_->cfg + at, &v, sizeof(v));
	}
	int split(uint32_t *ratio)
	{
		return img_hdr_split_exposure(-1, ratio, &block_, 0);
	}
	img_aaa_chan *chan_ = nullptr;
	channel_info saved_;
	cl_aaa_block block_;
};

TEST_F(HdrSplit, ShortShuttersFollowTheRatio)
{
	struct {
		uint32_t method, expo_num, shutter0, ratio;
		std::vector<uint32_t> shutters;
		uint32_t measured;
	} cases[] = {
	    /* Methods 1, 6 and 7 round up by half the ratio. */
	    {1, 2, 1000, 256, {1000, 63}, 1000 * 16 / 63},
	    {2, 2, 1000, 256, {1000, 62}, 1000 * 16 / 62},
	    {2, 3, 4096, 64, {4096, 1024, 256}, 64},
	    {5, 1, 1000, 256, {1000}, 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE("method " + std::to_string(c.method) + " exposures " +
		             std::to_string(c.expo_num));
		channel(c.method, c.expo_num);
		if (c.method == 5)
			cfg_word(3192, 1);
		memset(&block_, 0, sizeof(block_));
		block_.expo[0].shutter = c.shutter0;
		block_.expo[0].agc = 300;
		uint32_t ratio = c.ratio;
		CaptureStdout();
		ASSERT_EQ(split(&ratio), 0);
		std::string out = GetCapturedStdout();
		for (size_t i = 0; i < c.shutters.size(); i++) {
			EXPECT_EQ(block_.expo[i].shutter, c.shutters[i]) << i;
			EXPECT_EQ(block_.expo[i].agc, 300u) << i;
			EXPECT_EQ(block_.expo[i].shutter_changed, i > 0 ? 1u : 0u) << i;
		}
		if (c.expo_num == 1) {
			/* Nothing split: the second entry stays empty. */
			EXPECT_EQ(ratio, 16u);
			EXPECT_EQ(out, "error:short shutter raw =0\n");
		} else {
			EXPECT_EQ(ratio, c.measured);
			EXPECT_EQ(out, kUnmapped) << "two or three frames go to the driver's compensation";
		}
	}
}

/* The per-frame HDR shutter-ratio step over channel 0 (method 1, two
 * exposures) with an enabled exposure instance. */
class RatioStep : public HdrSplit
{
      protected:
	void SetUp() override
	{
		HdrSplit::SetUp();
		ae_destroy_instances();
		ASSERT_EQ(img_hdr_set_channel_num(2), 0);
		img_hdr_ae_check off[4] = {};
		ASSERT_EQ(img_hdr_set_ae_check(off), 0);
		channel_info ci[AE_MAX_INSTANCES] = {};
		for (int c = 0; c < AE_MAX_INSTANCES; c++)
			ci[c].follow_chan = (uint32_t)c;
		ASSERT_EQ(ae_set_channel_info(ci), 0);
		ASSERT_EQ(ae_set_instance_num(1), 0);
		ae_config cfg = tables_.config();
		CaptureStdout();
		int rc = ae_create_instances(&cfg);
		std::string out = GetCapturedStdout();
		ASSERT_EQ(rc, 0) << out;
		channel(1, 2);
		chan_->info.follow_chan = 0;
		const img_hdr_blend_config blend = {64, 100};
		ASSERT_EQ(img_hdr_set_shutter_ratio(&blend, 0), 0);
		uint16_t boost[128];
		for (int k = 0; k < 128; k++)
			boost[k] = (uint16_t)(10 * (k + 1));
		ASSERT_EQ(img_set_hdr_boost_table(0, (const uint8_t *)boost), 0);
		w_.fd = -1;
		w_.stats = stats_.get();
		w_.blocks = blocks_;
	}
	void TearDown() override
	{
		ae_destroy_instances();
		HdrSplit::TearDown();
	}
	/* One step from entry 0 at 1000 rows: the second shutter it split. */
	uint32_t step()
	{
		memset(blocks_, 0, sizeof(blocks_));
		blocks_[0].expo[0].shutter = 1000;
		CaptureStdout();
		EXPECT_EQ(img_work_hdr_ratio_step(&w_), 0);
		out_ = GetCapturedStdout();
		return blocks_[0].expo[1].shutter;
	}
	AeTables tables_{shutter_then_agc()};
	std::unique_ptr<aaa_parse_out> stats_ = std::make_unique<aaa_parse_out>();
	cl_aaa_block blocks_[4];
	img_work_frame_ctx w_{};
	std::string out_;
};

TEST_F(RatioStep, FixedRatioComesFromTheBlendPair)
{
	/* Ratio 4 with half of it added before the division. */
	EXPECT_EQ(step(), 250u);
	EXPECT_EQ(w_.pair[0], 64u | 100u << 16);
}

TEST_F(RatioStep, AutomaticRatioStaysInTheLimitsWithItsBoost)
{
	const img_ratio_limits lim = {1, 32, 256};
	ASSERT_EQ(img_config_ratio_limits(0, &lim), 0);
	/* No ratio yet: the minimum, and the boost table's entry at 32. */
	EXPECT_EQ(step(), 500u);
	EXPECT_EQ(w_.pair[0], 32u | 20u << 16);
	/* A neutral scene keeps the ratio; a narrower range moves it. */
	EXPECT_EQ(step(), 500u);
	const img_ratio_limits up = {1, 64, 256};
	ASSERT_EQ(img_set_ratio_limits_in_effect(0, &up), 0);
	EXPECT_EQ(step(), 250u);
	EXPECT_EQ(w_.pair[0], 64u | 40u << 16);
}

TEST_F(RatioStep, ChannelsWithoutARatioOfTheirOwnAreLeftAlone)
{
	struct {
		uint32_t method, follow, enable;
		const char *out;
	} cases[] = {
	    {3, 0, 1, ""},
	    {8, 0, 1, ""},
	    {1, 1, 1, ""},
	    {1, 0, 0, ""},
	    {9, 0, 1, "error: HDR method [9] is not supported\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.method);
		chan_->info.hdr_method = c.method;
		chan_->info.follow_chan = c.follow;
		const uint32_t en[AE_MAX_INSTANCES] = {c.enable};
		ASSERT_EQ(ae_set_enable(en, 1), 0);
		EXPECT_EQ(step(), 0u);
		EXPECT_EQ(out_, c.out);
	}
}

TEST_F(HdrSplit, ShutterThatComesOutZeroGivesUnitRatio)
{
	channel(2, 2);
	block_.expo[0].shutter = 10;
	uint32_t ratio = 256;
	CaptureStdout();
	ASSERT_EQ(split(&ratio), 0);
	EXPECT_EQ(GetCapturedStdout(), std::string(kUnmapped) + "error:short shutter raw =0\n");
	EXPECT_EQ(ratio, 16u);
}

TEST_F(HdrSplit, ShutterCappedByTheVideoInputsMaximum)
{
	channel(2, 2);
	cfg_word(IMG_AAA_SENSOR_AT + 44 + 84, 40); /* longest shutter of exposure 1 */
	block_.expo[0].shutter = 1600;
	uint32_t ratio = 160;
	ASSERT_EQ(split(&ratio), 0);
	EXPECT_EQ(block_.expo[1].shutter, 40u);
	EXPECT_EQ(ratio, 1600u * 16 / 40);
}

TEST_F(HdrSplit, GainSplitMethodsTakeTheExtraGainFromTheTable)
{
	channel(4, 4);
	block_.expo[0].shutter = 500;
	block_.expo[0].agc = 100;
	uint32_t ratio = 32;
	CaptureStdout();
	EXPECT_EQ(split(&ratio), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: chan [0] ratio to gain convert table is not supported\n");
	EXPECT_EQ(ratio, 32u);
	EXPECT_EQ(block_.expo[1].agc_changed, 0u);

	uint32_t table[128];
	for (int k = 0; k < 128; k++)
		table[k] = 30u * (uint32_t)(k + 1);
	cfg_word(3192, 1);
	memcpy(chan_->cfg + 6336, table, sizeof(table));
	ASSERT_EQ(split(&ratio), 0);
	EXPECT_EQ(block_.expo[1].shutter, 500u);
	EXPECT_EQ(block_.expo[1].agc, 100u - 60);
	EXPECT_EQ(block_.expo[1].agc_changed, 1u);
	EXPECT_EQ(block_.expo[2].shutter, 0u) << "method 4 splits two frames, whatever the count";
	EXPECT_EQ(ratio, 16u);

	/* More extra gain than the first frame has: the gain stops at 0. */
	ratio = 2048;
	ASSERT_EQ(split(&ratio), 0);
	EXPECT_EQ(block_.expo[1].agc, 0u);
}

TEST_F(ImgWork, AeLinesConvertGainsToTheDivisorsUnits)
{
	uint32_t lines[12] = {100, 3, 0, 200, 6, 0, 0, 1, 0, 0, 2, 0};
	CaptureStdout();
	ASSERT_EQ(img_convert_ae_lines(-1, lines, 2, 3, 0), 0);
	/* No driver answers: every shutter takes the least row. */
	std::string two = std::string(kUnmapped) + kUnmapped;
	EXPECT_EQ(GetCapturedStdout(),
	          two + "final 1 16777216 -> 1 33554432\n" + two + "final 1 5592405 -> 1 11184810\n");
	ASSERT_EQ(img_convert_ae_lines(-1, lines, 1, 0, 0), 0);
	EXPECT_EQ(lines[1], 0u) << "no divisor";
	EXPECT_EQ(img_convert_ae_lines(-1, nullptr, 1, 3, 0), -1);
}

} // namespace

namespace
{

class Levels : public ImgWork
{
      protected:
	void SetUp() override
	{
		ImgWork::SetUp();
		stats_.reset(new aaa_parse_result());
		cfg_ = {};
		cfg_.enable = 1;
		cfg_.lo = 0;
		cfg_.hi = 124; /* bins 0..31: the lower half */
		cfg_.t[0] = 1024;
		cfg_.t[1] = 2048;
		cfg_.t[2] = 3072;
		cfg_.t[3] = 3584;
		for (int r = 0; r < IMG_HIST_LEVEL_ROWS; r++) {
			cfg_.table[r][0] = 10u * r;
			cfg_.table[r][1] = 100u + 10u * r;
			cfg_.table[r][2] = 200u + 10u * r;
		}
	}
	/* A share q (of 4096) of the pixels in bins 0..31. */
	void share(aaa_histogram *h, int arr, uint32_t q)
	{
		memset(h->bin[arr], 0, sizeof(h->bin[arr]));
		h->bin[arr][0] = q;
		h->bin[arr][63] = 4096 - q;
	}
	std::unique_ptr<aaa_parse_result> stats_;
	img_hist_level_cfg cfg_;
};

TEST_F(Levels, HistogramLevelFollowsShareAndIndex)
{
	ASSERT_EQ(img_set_hist_level_cfg(1, &cfg_), 0);
	struct {
		uint32_t q;
		int32_t x;
		uint8_t want;
	} cases[] = {
	    {0, 256, 20},          /* row 2: a */
	    {1024, 256, 20},       /* at t0: a */
	    {1536, 256, 70},       /* halfway a..b */
	    {2048, 256, 120},      /* b */
	    {3072, 256, 120},      /* b through t2 */
	    {3328, 256, 170},      /* halfway b..c */
	    {4096, 256, 220},      /* c */
	    {2048, 256 + 64, 125}, /* row 2 halfway to row 3 */
	    {2048, 64, 100},       /* index below 128: row 0 */
	    {2048, 5000, 250},     /* far index: row 15 */
	};
	for (const auto &c : cases) {
		SCOPED_TRACE("q " + std::to_string(c.q) + " x " + std::to_string(c.x));
		share(&stats_->set.cfa_hist, 3, c.q);
		EXPECT_EQ(img_hist_level(stats_.get(), c.x, 1), c.want);
		EXPECT_EQ(img_get_hist_level(1), c.want);
	}
}

TEST_F(Levels, HistogramLevelChoosesItsHistogramAndClamps)
{
	cfg_.rgb = 1;
	cfg_.table[2][2] = 900; /* clamped to 255 */
	ASSERT_EQ(img_set_hist_level_cfg(0, &cfg_), 0);
	share(&stats_->set.cfa_hist, 3, 0);
	share(&stats_->set.rgb_hist, 0, 4096);
	EXPECT_EQ(img_hist_level(stats_.get(), 256, 0), 255);
	/* An empty histogram counts as no share. */
	memset(&stats_->set.rgb_hist, 0, sizeof(stats_->set.rgb_hist));
	EXPECT_EQ(img_hist_level(stats_.get(), 256, 0), 20);
	/* Off: the last level stays. */
	cfg_.enable = 0;
	ASSERT_EQ(img_set_hist_level_cfg(0, &cfg_), 0);
	share(&stats_->set.rgb_hist, 0, 4096);
	EXPECT_EQ(img_hist_level(stats_.get(), 256, 0), 20);
}

TEST_F(ImgWork, AdaptiveValueByIndex)
{
	img_adaptive_cfg cfg = {1, {}};
	for (int k = 0; k < IMG_ADAPTIVE_ENTRIES; k++)
		cfg.entry[k] = 8u * (uint32_t)k;
	cfg.entry[15] = 500;
	struct {
		int32_t x;
		uint32_t want;
	} cases[] = {{-5, 0},         {0, 0},     {64, 4}, {128, 8}, {256 + 32, 18}, {14 * 128 + 64, 128},
	             {15 * 128, 128}, {9999, 128}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.x);
		EXPECT_EQ(img_adaptive_value(&cfg, c.x), c.want);
	}
}

TEST_F(ImgWork, AdaptivePassHandsOverOnlyWhenEveryChannelIsOn)
{
	ASSERT_EQ(img_adj_le_init(), 0);
	img_adaptive_cfg on = {1, {}};
	for (int k = 0; k < IMG_ADAPTIVE_ENTRIES; k++)
		on.entry[k] = 100;
	ASSERT_EQ(img_set_adaptive_cfg(0, &on), 0);
	int32_t index[2] = {256, 256};
	uint32_t enable[IMG_MAX_CHANNELS], strength[IMG_MAX_CHANNELS];
	ASSERT_EQ(img_adaptive_pass(index, 2), 0);
	ASSERT_EQ(img_adj_le_get_enable(enable), 0);
	EXPECT_EQ(enable[0], 0u) << "channel 1 is off: nothing handed over";

	ASSERT_EQ(img_set_adaptive_cfg(1, &on), 0);
	ASSERT_EQ(img_adaptive_pass(index, 2), 0);
	ASSERT_EQ(img_adj_le_get_enable(enable), 0);
	ASSERT_EQ(img_adj_le_get_strength(strength), 0);
	EXPECT_EQ(enable[0], 1u);
	EXPECT_EQ(enable[1], 1u);
	EXPECT_EQ(strength[0], 100u);
	EXPECT_EQ(strength[1], 100u);
}

} // namespace

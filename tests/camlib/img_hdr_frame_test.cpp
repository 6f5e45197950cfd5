/* The HDR module's per-frame update and sending, on the recording image
 * kernel: what each frame recomputes, the calls each send makes in order,
 * failures of each call, held-over channels and the post ids. */
#include "awb.h"
#include "hdr_test_support.h"
#include "ik_recorder.h"
#include "img_hdr_curves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

/* Called at the raw-offset step of a frame's recomputation; a test sets
 * it to act in the middle of a frame. */
static std::function<void()> during_raw_offset;

extern "C" int __real_img_hdr_update_raw_offset(const cl_aaa_block *, img_dsp_hdr_raw_offset *, int);
extern "C" int __wrap_img_hdr_update_raw_offset(const cl_aaa_block *state, img_dsp_hdr_raw_offset *out,
                                                int chan)
{
	if (during_raw_offset)
		during_raw_offset();
	return __real_img_hdr_update_raw_offset(state, out, chan);
}

namespace
{

using hdrtest::Chan;
using hdrtest::two_expo;
typedef std::vector<std::string> Names;

const char kBlack[] = "vors_img_dsp_set_static_black_level";
const char kCfg[] = "vors_img_dsp_set_hdr_alpha_calc_cfg";
const char kThresh[] = "vors_img_dsp_set_hdr_alpha_calc_thresh";
const char kHds[] = "vors_img_dsp_set_hds_alpha_calc_thresh";
const char kAlpha[] = "vors_img_dsp_set_hdr_alpha_calc_alpha";
const char kBlend[] = "vors_img_dsp_set_amp_linearization_blend";
const char kLin[] = "vors_img_dsp_set_amp_linearization";
const char kLinHds[] = "vors_img_dsp_set_amp_linearization_hds";
const char kWb[] = "vors_img_dsp_set_front_end_wb_gain";
const char kRaw[] = "vors_img_dsp_set_hdr_raw_offset";
const char kPost[] = "vors_img_dsp_set_hdr_video_post_proc";

/* Everything of a two-exposure channel, in the order it goes. */
const Names kFullSend = {kBlack,  kCfg, kThresh, kHds,    kAlpha, kBlend, kLin,
                         kLinHds, kWb,  kLin,    kLinHds, kWb,    kRaw,   kPost};

class HdrFrame : public hdrtest::HdrTest
{
      protected:
	void SetUp() override
	{
		ikrec::reset();
		for (int c = 0; c < IMG_MAX_CHANNELS; c++) {
			awb_chan_store *st = awb_get_chan_store(c);
			memset(st->preload, 0, sizeof st->preload);
		}
	}
	int frame()
	{
		return img_hdr_process_frame(fs, blocks, stats.get());
	}
	static img_dsp_mode mode_of(int c)
	{
		img_dsp_mode m;
		memset(&m, 0, sizeof m);
		m.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		m.ContextId = (uint8_t)c;
		m.BatchId = IMG_DSP_BATCH_NONE;
		return m;
	}
	int send(int c, uint8_t changed = 1)
	{
		img_dsp_mode m = mode_of(c);
		const uint8_t flags[2] = {1, changed};
		return img_hdr_set_dsp_config(7, &m, &fs[c], flags);
	}
	/* Sends channel 0 with the log cleared first; the names sent. */
	Names send_names(int c = 0)
	{
		ikrec::reset();
		EXPECT_EQ(send(c), 0);
		return ikrec::names();
	}
	/* The first frame after the init recomputes everything; send it. */
	void steady()
	{
		ASSERT_EQ(frame(), 0);
		ASSERT_EQ(send_names(), kFullSend);
		ASSERT_EQ(frame(), 0);
		ASSERT_EQ(send_names(), Names());
	}
	static const ikrec::Call &last(const std::string &name)
	{
		const ikrec::Call *found = nullptr;
		for (const ikrec::Call &c : ikrec::calls())
			if (c.name == name)
				found = &c;
		EXPECT_NE(found, nullptr) << name;
		static const ikrec::Call none{};
		return found ? *found : none;
	}
};

std::vector<uint16_t> identity_table()
{
	return std::vector<uint16_t>(img_hdr_knot_table.v, img_hdr_knot_table.v + IMG_HDR_KNOTS);
}

TEST_F(HdrFrame, InitSendsTheFirstConfigurationOfEachCombinedChannel)
{
	describe({two_expo(), {1, 0, 0}});
	awb_chan_store *st = awb_get_chan_store(0);
	st->preload[0] = 1000, st->preload[1] = 1024, st->preload[2] = 900;
	img_dsp_mode m = mode_of(0);
	ikrec::reset();
	ASSERT_EQ(img_hdr_init_dsp_config(7, &m, fs), 0);
	/* Everything but the raw offsets, which start at 0 in the image
	 * kernel too. */
	Names expected = {"vors_img_dsp_set_hdr_blending_info", "vors_img_dsp_set_hdr_dgain_saturation_level",
	                  "vors_img_dsp_set_hdr_dgain_saturation_level"};
	expected.insert(expected.end(), kFullSend.begin(), kFullSend.end() - 2);
	expected.push_back(kPost);
	ASSERT_EQ(ikrec::names(), expected);
	for (const ikrec::Call &c : ikrec::calls()) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.fd, 7);
		EXPECT_EQ(c.mode.ContextId, 0);
		EXPECT_EQ(c.mode.FuncMode, IMG_DSP_FUNC_NO_HDR);
	}
	const std::vector<ikrec::Call> &calls = ikrec::calls();
	EXPECT_EQ(calls[0].block[0], 1); /* max_blending_number */
	EXPECT_EQ(calls[1].as<img_dsp_hdr_dgain_saturation_level>().post_level_blue, 16383u);
	EXPECT_EQ(calls[2].index, 1);
	EXPECT_EQ(calls[3].block, std::vector<uint8_t>({0x0c, 0xfe, 0x0c, 0xfe, 0x0c, 0xfe, 0x0c, 0xfe}));
	EXPECT_EQ(calls[4].block, std::vector<uint8_t>({2, 0, 0xfe, 0, 4, 4, 4, 4}));
	for (int i : {5, 6})
		EXPECT_EQ(calls[i].block,
		          std::vector<uint8_t>({0xff, 0x3f, 0xff, 0x3f, 0xff, 0x3f, 0xff, 0x3f}));
	img_dsp_hdr_alpha_calc_alpha alpha = calls[7].as<img_dsp_hdr_alpha_calc_alpha>();
	EXPECT_EQ(alpha.pre_alpha_mode, 0);
	EXPECT_EQ(alpha.alpha_table_addr, (uint64_t)(uintptr_t)hdr_ch(0)->alpha_table[0]);
	EXPECT_EQ(alpha.saturation_num_nei, 4);
	EXPECT_EQ(calls[8].as<img_dsp_amp_linearization_blend>().alpha_index_threshold, 16);
	for (int i : {9, 10, 12, 13}) {
		EXPECT_EQ(calls[i].as<img_dsp_amp_linearization>().amplinear_ena, 1u);
		EXPECT_EQ(calls[i].table16(), identity_table());
	}
	for (int i : {11, 14}) {
		img_dsp_front_end_wb_gain g = calls[i].as<img_dsp_front_end_wb_gain>();
		EXPECT_EQ(std::vector<uint32_t>({g.r_gain, g.g_gain, g.b_gain}),
		          std::vector<uint32_t>({4000, 4096, 3600}));
	}
	EXPECT_EQ(calls[15].mode.ConfigId, 0);
	EXPECT_EQ(m.ConfigId, 1);

	/* A white-balance store with a zero gain gives 4096 each. */
	st->preload[1] = 0;
	ikrec::reset();
	ASSERT_EQ(img_hdr_init_dsp_config(7, &m, fs), 0);
	EXPECT_EQ(fs[0].fe_wb[3].g_gain, 4096u);
	CaptureStdout();
	EXPECT_EQ(img_hdr_init_dsp_config(7, nullptr, fs), -1);
	EXPECT_EQ(img_hdr_init_dsp_config(7, &m, nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: null pointer.\nerror: null pointer.\n");
}

TEST_F(HdrFrame, WithEveryChannelLinearNothingIsRead)
{
	describe({{1, 0, 0}, {2, 0, 3}});
	EXPECT_EQ(img_hdr_process_frame(nullptr, nullptr, nullptr), 0);
	describe({{1, 0, 0}, two_expo()});
	CaptureStdout();
	EXPECT_EQ(img_hdr_process_frame(fs, nullptr, stats.get()), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: null pointer.\n");
	/* Disabled HDR counts as linear. */
	ASSERT_EQ(img_hdr_set_enable(0, 1), 0);
	EXPECT_EQ(img_hdr_process_frame(nullptr, nullptr, nullptr), 0);
}

TEST_F(HdrFrame, AZeroGainStopsTheWholeUpdate)
{
	struct Case {
		const char *message;
		uint32_t *gain;
	};
	describe({two_expo(), two_expo()});
	const Case cases[] = {
	    {"error: chan 0 expo 1 AE dgain can't be 0.\n", &blocks[0].expo[1].dgain},
	    {"error: chan 1 WB gain can't be 0.\n", &blocks[1].wb_g_gain},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		describe({two_expo(), two_expo()});
		*c.gain = 0;
		memset(hdr_ch(0)->lut, 0x5a, sizeof hdr_ch(0)->lut);
		uint8_t before = flags(0);
		CaptureStdout();
		EXPECT_EQ(frame(), -1);
		EXPECT_EQ(GetCapturedStdout(), c.message);
		EXPECT_EQ(hdr_ch(0)->lut[1][7], 0x5a5a);
		EXPECT_EQ(flags(0), before);
		EXPECT_EQ(img_hdr_sends_pending(0), 0);
	}
}

TEST_F(HdrFrame, InvalidStatisticsLeaveTheChannelUntouched)
{
	describe({two_expo(), two_expo()});
	stats->valid[0] = 0;
	memset(hdr_ch(0)->lut, 0x5a, sizeof hdr_ch(0)->lut);
	uint8_t before = flags(0);
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(hdr_ch(0)->lut[0][3], 0x5a5a);
	EXPECT_EQ(flags(0), before);
	EXPECT_EQ(img_hdr_sends_pending(0), 0);
	EXPECT_EQ(img_hdr_sends_pending(1), 1);
	EXPECT_EQ(send_names(0), Names());
	EXPECT_EQ(send_names(1), kFullSend);
}

TEST_F(HdrFrame, TheFirstFrameSendsTheComputedTablesThenNothingUnchangedGoes)
{
	describe({two_expo()});
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(fs[0].gains_changed, 1);
	ASSERT_EQ(send_names(), kFullSend);
	for (int e = 0; e < 2; e++) {
		const ikrec::Call *lin = nullptr, *hds = nullptr;
		for (const ikrec::Call &c : ikrec::calls()) {
			if (c.index == e && c.name == kLin)
				lin = &c;
			if (c.index == e && c.name == kLinHds)
				hds = &c;
		}
		ASSERT_TRUE(lin && hds);
		EXPECT_EQ(lin->table16(),
		          std::vector<uint16_t>(hdr_ch(0)->lut[e], hdr_ch(0)->lut[e] + IMG_HDR_KNOTS));
		EXPECT_EQ(hds->table16(),
		          std::vector<uint16_t>(hdr_ch(0)->drc[e], hdr_ch(0)->drc[e] + IMG_HDR_KNOTS));
		EXPECT_NE(lin->table16(), identity_table());
	}
	EXPECT_EQ(last(kAlpha).table,
	          std::vector<uint8_t>(hdr_ch(0)->alpha_table[0], hdr_ch(0)->alpha_table[0] + 128));
	EXPECT_EQ(last(kAlpha).table[1], 7);
	img_dsp_hdr_alpha_calc_thresh thr = last(kThresh).as<img_dsp_hdr_alpha_calc_thresh>();
	EXPECT_EQ(thr.saturation_threshold[2], 15360);
	EXPECT_EQ(last(kHds).as<img_dsp_hdr_alpha_calc_thresh>().saturation_threshold[0], 6400);
	EXPECT_EQ(last(kWb).as<img_dsp_front_end_wb_gain>().b_gain, 4096u);
	EXPECT_EQ(last(kPost).mode.ConfigId, 0);
	for (uint32_t g : fs[0].wb_gain)
		EXPECT_EQ(g, 4096u);

	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(fs[0].gains_changed, 0);
	EXPECT_EQ(send_names(), Names());
}

TEST_F(HdrFrame, AParameterChangeSendsOnlyWhatItAffects)
{
	struct Case {
		const char *name;
		void (*change)();
		Names sent;
	};
	const Case cases[] = {
	    {"anti-flicker",
	     [] {
		     const uint32_t af[4] = {16, 5, 16, 16};
		     ASSERT_EQ(img_hdr_set_anti_flicker_threshold(af, 0), 0);
	     },
	     {kBlend, kPost}},
	    {"alpha",
	     [] {
		     const uint32_t a[4] = {128, 200, 128, 128};
		     ASSERT_EQ(img_hdr_set_alpha_value(a, 0), 0);
	     },
	     {kAlpha, kPost}},
	    {"threshold",
	     [] {
		     const uint32_t t[4] = {0, 9000, 0, 0};
		     ASSERT_EQ(img_hdr_set_threshold(t, 0), 0);
	     },
	     {kThresh, kHds, kPost}},
	    {"black level",
	     [] {
		     const int16_t b[4] = {-400, -400, -400, -400};
		     ASSERT_EQ(img_hdr_set_static_black_level(b, 0), 0);
	     },
	     {kBlack, kPost}},
	    {"DRC strength",
	     [] {
		     const int32_t s[4] = {0, 2048, 0, 0};
		     ASSERT_EQ(img_hdr_set_drc_strength(s, 0), 0);
	     },
	     {kLinHds, kLinHds, kPost}},
	    {"LUT mix",
	     [] {
		     const uint32_t m[4] = {0, 64, 0, 0};
		     ASSERT_EQ(img_hdr_set_lut_mix(m, 0), 0);
	     },
	     {kLin, kLinHds, kLin, kLinHds, kPost}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		describe({two_expo()});
		steady();
		c.change();
		ASSERT_EQ(frame(), 0);
		EXPECT_EQ(send_names(), c.sent);
		ASSERT_EQ(frame(), 0);
		EXPECT_EQ(send_names(), Names());
	}
}

TEST_F(HdrFrame, WhiteBalanceAndDigitalGainsReachTheFrameSettings)
{
	struct Case {
		Chan chan;
		bool sensor_gains;
	};
	for (const Case &c : {Case{two_expo(), false}, Case{{2, 1, 1, 1}, true}, Case{{2, 0, 4}, true},
	                      Case{{2, 1, 6}, true}, Case{{2, 0, 8}, true}}) {
		SCOPED_TRACE("dsp " + std::to_string(c.chan.dsp_hdr) + " method " +
		             std::to_string(c.chan.method));
		describe({c.chan});
		blocks[0].wb_r_gain = 1000, blocks[0].wb_b_gain = 800;
		blocks[0].expo[1].dgain = 2048;
		blocks[0].wb_update = 1;
		ASSERT_EQ(frame(), 0);
		EXPECT_EQ(blocks[0].wb_update, 0);
		EXPECT_EQ(fs[0].gains_changed, 1);
		std::vector<uint32_t> gains(fs[0].wb_gain, fs[0].wb_gain + 5);
		std::vector<uint32_t> fe0 = {fs[0].fe_wb[0].r_gain, fs[0].fe_wb[0].g_gain,
		                             fs[0].fe_wb[0].b_gain};
		std::vector<uint32_t> fe1 = {fs[0].fe_wb[1].r_gain, fs[0].fe_wb[1].g_gain,
		                             fs[0].fe_wb[1].b_gain};
		if (c.sensor_gains) {
			EXPECT_EQ(gains, std::vector<uint32_t>({4000, 4096, 3200, 4096, 4096}));
			EXPECT_EQ(fe1, std::vector<uint32_t>(3, 4096));
		} else {
			EXPECT_EQ(gains, std::vector<uint32_t>(5, 4096));
			EXPECT_EQ(fe0, std::vector<uint32_t>({4000, 4096, 3200}));
			/* The shortest exposure has its own gain, not none. */
			EXPECT_EQ(fe1, std::vector<uint32_t>({2000, 2048, 1600}));
		}
		bool hdr = c.chan.dsp_hdr;
		EXPECT_EQ(fs[0].wb_send[1], hdr ? 1 : 0);
		EXPECT_EQ(hdr_ch(0)->ik.thr_send[0], hdr ? 1 : 0);
	}
}

TEST_F(HdrFrame, AnExternalLutIsSentInPlaceOfTheComputedOne)
{
	describe({two_expo()});
	steady();
	auto t = std::make_unique<hdr_extern_table>();
	t->enable = 1;
	for (int e = 0; e < 4; e++)
		for (int i = 0; i < IMG_HDR_KNOTS; i++)
			t->table[e][i] = (uint16_t)(i * 100 + e);
	ASSERT_EQ(img_hdr_set_extern_lut(t.get(), 0), 0);
	ASSERT_EQ(frame(), 0);
	ASSERT_EQ(send_names(), Names({kLin, kLinHds, kLin, kLinHds, kPost}));
	EXPECT_EQ(ikrec::calls()[2].table16(),
	          std::vector<uint16_t>(t->table[1], t->table[1] + IMG_HDR_KNOTS));
}

TEST_F(HdrFrame, Flags1And0SendNothingAndTheChannelIsHeldOver)
{
	describe({two_expo()});
	ASSERT_EQ(frame(), 0);
	ikrec::reset();
	EXPECT_EQ(send(0, 0), 0);
	EXPECT_EQ(ikrec::calls().size(), 0u);
	EXPECT_EQ(img_hdr_sends_pending(0), 1);
	/* Held over: a change waits until the pending sends are out. */
	const uint32_t t[4] = {0, 9000, 0, 0};
	ASSERT_EQ(img_hdr_set_threshold(t, 0), 0);
	ASSERT_EQ(frame(), 0);
	EXPECT_TRUE(flags(0) & HDR_F_THRESHOLD);
	EXPECT_EQ(send_names(), kFullSend);
	EXPECT_EQ(last(kThresh).as<img_dsp_hdr_alpha_calc_thresh>().saturation_threshold[0], 15360);
	EXPECT_EQ(img_hdr_sends_pending(0), 0);
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(send_names(), Names({kThresh, kHds, kPost}));
	EXPECT_EQ(last(kThresh).as<img_dsp_hdr_alpha_calc_thresh>().saturation_threshold[0], 9000);
}

TEST_F(HdrFrame, AFailedCallKeepsItAndTheRestPendingForTheNextSend)
{
	for (size_t n = 1; n <= kFullSend.size(); n++) {
		SCOPED_TRACE(kFullSend[n - 1]);
		describe({two_expo()});
		ASSERT_EQ(frame(), 0);
		ikrec::reset();
		ikrec::fail_nth(n);
		CaptureStdout();
		EXPECT_EQ(send(0), -1);
		EXPECT_EQ(GetCapturedStdout(), "err: " + kFullSend[n - 1] + " (HDR) for channel [0]\n");
		EXPECT_EQ(ikrec::names(), Names(kFullSend.begin(), kFullSend.begin() + (long)n));
		EXPECT_EQ(img_hdr_sends_pending(0), 1);
		/* The two threshold blocks share one send byte: both go again. */
		long from = kFullSend[n - 1] == kHds ? (long)n - 2 : (long)n - 1;
		Names rest(kFullSend.begin() + from, kFullSend.end());
		EXPECT_EQ(send_names(), rest);
		EXPECT_EQ(img_hdr_sends_pending(0), 0);
		EXPECT_EQ(send_names(), Names());
	}
	/* Meanwhile the update holds the channel over. */
	describe({two_expo()});
	ASSERT_EQ(frame(), 0);
	ikrec::reset();
	ikrec::fail_nth(9);
	CaptureStdout();
	EXPECT_EQ(send(0), -1);
	GetCapturedStdout();
	const uint32_t af[4] = {16, 3, 16, 16};
	ASSERT_EQ(img_hdr_set_anti_flicker_threshold(af, 0), 0);
	ASSERT_EQ(frame(), 0);
	EXPECT_TRUE(flags(0) & HDR_F_ANTI_FLICKER);
	EXPECT_EQ(send_names(), Names({kWb, kLin, kLinHds, kWb, kRaw, kPost}));
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(send_names(), Names({kBlend, kPost}));
}

TEST_F(HdrFrame, PostIdsCycleThroughEachChannelsConfigurations)
{
	describe({two_expo(), two_expo()});
	const uint32_t k = 9;
	for (uint32_t i = 0; i < k + 2; i++) {
		SCOPED_TRACE(i);
		ASSERT_EQ(img_hdr_request_update(0), 0);
		ASSERT_EQ(img_hdr_request_update(1), 0);
		ASSERT_EQ(frame(), 0);
		for (int c = 0; c < 2; c++) {
			img_dsp_mode m = mode_of(c);
			const uint8_t flags[2] = {1, 1};
			ikrec::reset();
			ASSERT_EQ(img_hdr_set_dsp_config(7, &m, &fs[c], flags), 0);
			EXPECT_EQ(last(kPost).mode.ConfigId, c * k + i % k);
			EXPECT_EQ(m.ConfigId, c * k + (i + 1) % k);
		}
	}
}

TEST_F(HdrFrame, WithoutTheDspsHdrNothingIsPosted)
{
	describe({{2, 0, 4}});
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(send_names(), Names({kBlack, kLin, kLinHds, kLin, kLinHds}));
	for (const ikrec::Call &c : ikrec::calls())
		EXPECT_EQ(c.mode.FuncMode, 0u) << c.name;
	EXPECT_EQ(img_hdr_sends_pending(0), 0);
}

TEST_F(HdrFrame, SendRefusalsAndTheLastSentCopy)
{
	describe({two_expo()});
	ASSERT_EQ(frame(), 0);
	CaptureStdout();
	img_dsp_mode m = mode_of(1);
	const uint8_t flags[2] = {1, 1};
	EXPECT_EQ(img_hdr_set_dsp_config(7, &m, &fs[1], flags), -1);
	EXPECT_EQ(img_hdr_set_dsp_config(7, nullptr, &fs[0], flags), -1);
	EXPECT_EQ(img_hdr_sends_pending(4), -1);
	EXPECT_EQ(img_hdr_get_last_sent(nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [1].\nerror: null pointer.\n");
	EXPECT_EQ(ikrec::calls().size(), 0u);

	fs[0].raw_offset.y_offset[1] = 77;
	fs[0].alpha_index_threshold[0] = 9;
	ASSERT_EQ(send(0), 0);
	img_hdr_frame_settings last[IMG_MAX_CHANNELS];
	memset(last, 0xff, sizeof last);
	ASSERT_EQ(img_hdr_get_last_sent(last), 0);
	EXPECT_EQ(last[0].raw_offset.y_offset[1], 77);
	EXPECT_EQ(last[0].alpha_index_threshold[0], 9u);
	EXPECT_EQ(last[0].fe_wb[1].r_gain, 4096u);
	EXPECT_EQ(last[0].wb_send[0], 0);
	EXPECT_EQ(last[1].wb_send[0], 0xff);
}

TEST_F(HdrFrame, ContrastEnhanceTableFromThe2ndStrengths)
{
	describe({two_expo()});
	ikrec::contrast_enhance().enable = 1;
	ikrec::contrast_enhance().output_table[5] = 1;
	img_dsp_mode m = mode_of(0);
	const uint32_t bad[4][4] = {{0, 70000, 0, 0}};
	CaptureStdout();
	EXPECT_EQ(img_hdr_set_ce_table(7, &m, bad, 0), -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "error: strength [70000] should be in range [0, 65536] for channel [0]\n");
	EXPECT_EQ(ikrec::calls().size(), 0u);

	const uint32_t strengths[4][4] = {{0, 640, 0, 0}};
	ASSERT_EQ(img_hdr_set_ce_table(7, &m, strengths, 0), 0);
	ASSERT_EQ(ikrec::names(),
	          Names({"vors_img_dsp_get_contrast_enhance", "vors_img_dsp_set_contrast_enhance"}));
	img_dsp_contrast_enhance ce = ikrec::calls()[1].as<img_dsp_contrast_enhance>();
	EXPECT_EQ(ce.enable, 1);
	float k = img_hdr_2nd_strength_factor(0);
	EXPECT_FLOAT_EQ(k, 20);
	for (int i = 0; i < 256; i++) {
		double x = std::min(64.0 * i, 16383.0);
		double expected = (std::pow(1 + 20.0, x / 16383) - 1) * 16383 / 20;
		ASSERT_NEAR(ce.output_table[i], std::trunc(expected), 1.0) << i;
	}
	EXPECT_TRUE(flags(0) & HDR_F_RECOMPUTE);
}

/* A change that lands in the middle of a frame's recomputation, after the
 * thresholds were computed (the update's raw-offset step calls the test's
 * hook first): the next frame must still send it. */
TEST_F(HdrFrame, AChangeMadeDuringAFrameIsSentByTheNext)
{
	describe({two_expo()});
	steady();
	ASSERT_EQ(img_hdr_request_update(0), 0);
	during_raw_offset = [] {
		const uint32_t t[4] = {0, 7000, 0, 0};
		ASSERT_EQ(img_hdr_set_threshold(t, 0), 0);
	};
	ASSERT_EQ(frame(), 0);
	during_raw_offset = nullptr;
	ASSERT_EQ(send(0), 0);
	EXPECT_EQ(last(kThresh).as<img_dsp_hdr_alpha_calc_thresh>().saturation_threshold[0], 15360);
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(send_names(), Names({kThresh, kHds, kPost}));
	EXPECT_EQ(last(kThresh).as<img_dsp_hdr_alpha_calc_thresh>().saturation_threshold[0], 7000);
}

/* The same from a second thread, as the camera library's callers do:
 * whatever the interleaving, the last values set are the ones sent once
 * the setter stops. */
TEST_F(HdrFrame, SettersOnAnotherThreadWhileFramesRun)
{
	describe({two_expo()});
	steady();
	std::atomic<bool> done{false};
	std::thread setter([&] {
		for (uint32_t i = 0; i < 3000; i++) {
			const uint32_t t[4] = {0, 1000 + i % 7, 0, 0};
			EXPECT_EQ(img_hdr_set_threshold(t, 0), 0);
			const uint32_t af[4] = {16, i % 17, 16, 16};
			EXPECT_EQ(img_hdr_set_anti_flicker_threshold(af, 0), 0);
			if (i % 100 == 0) {
				EXPECT_EQ(img_hdr_request_update(0), 0);
			}
		}
		const uint32_t t[4] = {0, 5000, 0, 0};
		EXPECT_EQ(img_hdr_set_threshold(t, 0), 0);
		const uint32_t af[4] = {16, 11, 16, 16};
		EXPECT_EQ(img_hdr_set_anti_flicker_threshold(af, 0), 0);
		done = true;
	});
	while (!done) {
		ASSERT_EQ(frame(), 0);
		ikrec::reset();
		ASSERT_EQ(send(0), 0);
	}
	setter.join();
	ASSERT_EQ(frame(), 0);
	ASSERT_EQ(send(0), 0);
	EXPECT_EQ(hdr_ch(0)->ik.thr[0].saturation_threshold[0], 5000);
	EXPECT_EQ(hdr_ch(0)->last_sent.alpha_index_threshold[0], 11u);
	EXPECT_EQ(img_hdr_sends_pending(0), 0);
}

} // namespace

/* The filter transmitters on the image kernel: its setter calls are
 * counted through the debug-log records it writes (a registered writer, all
 * 73 enables, flag 4); the setters that write none (internal MCTF, chroma
 * scale) are checked by what the kernel stored. What the HDR, AE, AWB and
 * ratio-limit targets receive is recorded through the transmitters' target
 * table. Then whole passes over a synthetic tuning set. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_test_support.h"
#include "img_adj_filter.h"
#include "img_adj_settings.h"
#include "img_adj_test_support.h"
#include "img_adj_transmit.h"
#include "img_dsp_mctf.h"
#include "img_dsp_raw.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace
{

using namespace adjtest;
using iktest::IkFixture;
using iktest::StdoutCapture;

constexpr int kFd = 5;

/* ---- the kernel's debug log ---- */

struct LogRecord {
	uint32_t id;
	uint32_t ctx;
	std::vector<uint8_t> data;
};

struct Piece {
	std::vector<uint8_t> bytes;
	uint32_t ctx;
};

std::vector<Piece> pieces;

void log_writer(const void *data, uint32_t size, const void *tag)
{
	uint32_t ctx = ~0u;
	if (tag)
		memcpy(&ctx, tag, sizeof(ctx));
	const uint8_t *d = (const uint8_t *)data;
	pieces.push_back({std::vector<uint8_t>(d, d + size), ctx});
}

/* Each record arrives as its id, its entry count, then a size and the
 * data of every entry. */
std::vector<LogRecord> records()
{
	std::vector<LogRecord> out;
	for (size_t i = 0; i + 1 < pieces.size();) {
		LogRecord r{0, pieces[i].ctx, {}};
		memcpy(&r.id, pieces[i].bytes.data(), sizeof(r.id));
		uint8_t n = pieces[i + 1].bytes[0];
		i += 2;
		for (uint8_t k = 0; k < n && i + 1 < pieces.size(); k++, i += 2)
			if (k == 0)
				r.data = pieces[i + 1].bytes;
		out.push_back(r);
	}
	return out;
}

std::vector<uint32_t> log_ids(int ctx = -1)
{
	std::vector<uint32_t> ids;
	for (const LogRecord &r : records())
		if (ctx < 0 || r.ctx == (uint32_t)ctx)
			ids.push_back(r.id);
	return ids;
}

/* ---- the targets outside the kernel ---- */

struct TargetCall {
	std::string what;
	int chan;
	std::vector<uint8_t> data;
};

struct Targets {
	static std::vector<TargetCall> calls;
	static img_ratio_limits limits[IMG_MAX_CHANNELS];
	static int ce_log[IMG_MAX_CHANNELS];
	static uint64_t ce_config[IMG_MAX_CHANNELS];
	static float factor;
	static int result;

	static int note(const char *what, int chan, const void *data, size_t n)
	{
		const uint8_t *d = (const uint8_t *)data;
		calls.push_back({what, chan, std::vector<uint8_t>(d, d + n)});
		return result;
	}
	static void reset()
	{
		calls.clear();
		memset(limits, 0, sizeof(limits));
		memset(ce_log, 0, sizeof(ce_log));
		memset(ce_config, 0, sizeof(ce_config));
		factor = 1.0f;
		result = 0;
	}
	static img_adj_transmit_targets table()
	{
		img_adj_transmit_targets t{};
		t.ae_target = [](const uint16_t *v, int c) { return note("ae", c, v, 16); };
		t.awb_warmth = [](const uint8_t *v, int c) { return note("awb", c, v, 8); };
		t.hdr_black_level = [](const int16_t *v, int c) { return note("black", c, v, 8); };
		t.hdr_alpha = [](const uint32_t *v, int c) { return note("alpha", c, v, 16); };
		t.hdr_anti_flicker = [](const uint32_t *v, int c) { return note("flicker", c, v, 16); };
		t.hdr_threshold = [](const uint32_t *v, int c) { return note("threshold", c, v, 16); };
		t.hdr_shutter_ratio = [](const img_hdr_blend_config *v, int c) {
			return note("ratio", c, v, 4);
		};
		t.ratio_limits_get = [](int c, img_ratio_limits *out) {
			*out = limits[c];
			return 0;
		};
		t.ratio_limits_set = [](int c, const img_ratio_limits *v) {
			return note("limits", c, v, 12);
		};
		t.boost_table_set = [](int c, const uint8_t *v) { return note("boost", c, v, 256); };
		t.hdr_lut_mix = [](const uint32_t *v, int c) { return note("lut_mix", c, v, 16); };
		t.hdr_1st_strength = [](const uint32_t *v, int c) { return note("1st", c, v, 16); };
		t.hdr_2nd_strength = [](const uint32_t *v, int c) { return note("2nd", c, v, 16); };
		t.hdr_boost_strength = [](const uint32_t *v, int c) {
			return note("boost_strength", c, v, 16);
		};
		t.ce_log_enable = [](int c) { return ce_log[c]; };
		t.ce_log_config = [](uint64_t *out, int c) {
			*out = ce_config[c];
			return 0;
		};
		t.strength_factor = [](int) { return factor; };
		t.exp_expand = img_hdr_exp_expand;
		return t;
	}
	static std::vector<std::string> names(int chan = -1)
	{
		std::vector<std::string> n;
		for (const TargetCall &c : calls)
			if (chan < 0 || c.chan == chan)
				n.push_back(c.what);
		return n;
	}
};

std::vector<TargetCall> Targets::calls;
img_ratio_limits Targets::limits[IMG_MAX_CHANNELS];
int Targets::ce_log[IMG_MAX_CHANNELS];
uint64_t Targets::ce_config[IMG_MAX_CHANNELS];
float Targets::factor = 1.0f;
int Targets::result = 0;

std::vector<uint8_t> bytes_of(std::initializer_list<uint32_t> words)
{
	std::vector<uint8_t> b(4 * words.size());
	size_t i = 0;
	for (uint32_t w : words)
		memcpy(b.data() + 4 * i++, &w, 4);
	return b;
}

/* A block image of the filter's size with a byte pattern of its own. The
 * final "both" keeps its 3-D table address 0, as its translater does. */
std::vector<uint8_t> image(uint32_t id, uint8_t seed = 1)
{
	std::vector<uint8_t> b(img_adj_filter_block_size(id));
	for (size_t i = 0; i < b.size(); i++)
		b[i] = (uint8_t)(seed + 7 * i);
	if (id == 37)
		std::fill(b.begin() + 24, b.end(), 0);
	return b;
}

class AdjSend : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{IMG_DSP_PIPE_VIDEO, 2, 1, 1, 0}});
		for (uint8_t c = 0; c < 2; c++) {
			img_dsp_ctx_id cid{IMG_DSP_PIPE_VIDEO, c, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
		img_adj_filter_reset();
		img_adj_settings_reset();
		img_adj_transmit_reset();
		channels();
		Targets::reset();
		targets_ = Targets::table();
		img_adj_set_transmit_targets(&targets_);
		ASSERT_EQ(vors_img_dsp_register_debug_log_writer(log_writer), 0);
		uint8_t on[IMG_DSP_LOG_ID_NUM];
		memset(on, 1, sizeof(on));
		vors_img_dsp_set_debug_log_enables(on);
		img_dsp_debug_dump_all(nullptr, IMG_DSP_DEBUG_WRITE_LOG);
		pieces.clear();
	}
	void TearDown() override
	{
		vors_img_dsp_register_debug_log_writer(nullptr);
		uint8_t off[IMG_DSP_LOG_ID_NUM] = {};
		vors_img_dsp_set_debug_log_enables(off);
		img_dsp_debug_dump_all(nullptr, 0);
		img_adj_transmit_reset();
		img_adj_set_filter_ops(nullptr, nullptr);
		IkFixture::TearDown();
	}
	void channels()
	{
		ASSERT_EQ(img_adj_set_channel_count(2), 0);
		ASSERT_EQ(img_adj_set_channel_info(info_), 0);
		ASSERT_EQ(img_adj_init_settings(), 0);
	}
	/* Transmits a copy of the image, as a pass transmits a fresh
	 * translation: the kernel's clamps land in the copy, its warnings in a
	 * capture. */
	int send(uint32_t id, const std::vector<uint8_t> &img, int chan = 0, uint32_t force = 0, int fd = kFd)
	{
		filter_state st = {id, 5, 0, 1, 0, force};
		std::vector<uint64_t> buf(img_adj_filter_block_size(id) / 8 + 1);
		memcpy(buf.data(), img.data(), std::min(img.size(), (size_t)img_adj_filter_block_size(id)));
		img_dsp_mode m = mode(IMG_DSP_PIPE_VIDEO, (uint8_t)chan);
		StdoutCapture quiet;
		return img_adj_transmit(&st, buf.data(), fd, &m);
	}
	/* The chroma-filter setter writes no record; it asks the driver for
	 * the encode mode on every call. */
	static size_t chroma_filter_calls()
	{
		return (size_t)std::count_if(
		    iktest::RecordingIoctl::calls.begin(), iktest::RecordingIoctl::calls.end(),
		    [](const iktest::IoctlCall &c) { return c.request == QVD_IOC_QUERY_ENC_MODE_CAP; });
	}
	ik_ctx_body *body(uint8_t chan)
	{
		img_dsp_ctx_id cid{IMG_DSP_PIPE_VIDEO, chan, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(IMG_DSP_PIPE_VIDEO, c);
	}

	channel_info info_[IMG_MAX_CHANNELS] = {};
	img_adj_transmit_targets targets_{};
};

struct CommonCase {
	uint32_t id;
	uint32_t log;
	int outside; /* a byte the comparison leaves out, or -1 */
	int inside;  /* a byte it covers */
};

TEST_F(AdjSend, CommonRuleSendsOnChangeOrForceAndComparesItsFields)
{
	const CommonCase cases[] = {
	    {2, LOG_STATIC_BLACK_LEVEL, -1, 7},
	    {3, LOG_ANTI_ALIASING, -1, 7},
	    {4, LOG_GBGR_MISMATCH, -1, 5},
	    {5, LOG_DYNAMIC_BAD_PIXEL_CORRECTION, -1, 3},
	    {6, LOG_CFA_NOISE_FILTER, -1, 35},
	    {7, LOG_LOCAL_EXPOSURE, 518, 517},
	    {8, LOG_DEMOSAIC, -1, 7},
	    {10, LOG_TONE_CURVE, -1, 1535},
	    {11, LOG_RGB_TO_YUV_MATRIX, -1, 23},
	    {13, LOG_CHROMA_MEDIAN_FILTER, -1, 13},
	    {14, LOG_FIRST_LUMA_PROCESSING_MODE, 1, 0},
	    {15, LOG_ADVANCE_SPATIAL_FILTER, -1, 540},
	    {20, LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, 7, 6},
	    {21, LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, 7, 6},
	    {22, LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, 7, 6},
	    {23, LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING, 7, 6},
	    {41, LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, -1, 7},
	    {42, LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, -1, 7},
	    {43, LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, -1, 7},
	    {44, LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING, -1, 7},
	    {46, LOG_VIDEO_CLISO_MOTION_DETECT, -1, 37},
	    {47, LOG_VIDEO_CLISO_VIDEO_MCTF_B, -1, 105},
	    {48, LOG_VIDEO_CLISO_VIDEO_MCTF_B_LEVEL, 9, 8},
	};
	for (const CommonCase &c : cases) {
		SCOPED_TRACE("filter " + std::to_string(c.id));
		pieces.clear();
		std::vector<uint8_t> img = image(c.id, (uint8_t)c.id);
		send(c.id, img);
		std::vector<LogRecord> r = records();
		ASSERT_EQ(r.size(), 1u);
		EXPECT_EQ(r[0].id, c.log);
		EXPECT_EQ(r[0].ctx, 0u);
		ASSERT_LE(r[0].data.size(), img.size());
		EXPECT_TRUE(std::equal(r[0].data.begin(), r[0].data.end(), img.begin()))
		    << "the block's leading bytes";

		EXPECT_EQ(send(c.id, img), 0);
		send(c.id, img, 0, 1);
		if (c.outside >= 0) {
			img[(size_t)c.outside] ^= 0xff;
			EXPECT_EQ(send(c.id, img), 0);
		}
		EXPECT_EQ(log_ids(), std::vector<uint32_t>(2, c.log)) << "unchanged: nothing; forced: once";
		img[(size_t)c.inside] ^= 0x01;
		send(c.id, img);
		EXPECT_EQ(log_ids().size(), 3u) << "a compared byte changed";
		send(c.id, img, 1);
		EXPECT_EQ(log_ids(1).size(), 1u) << "each channel has its own sent copy";
	}
}

TEST_F(AdjSend, ChromaScaleComparesOnlyItsGains)
{
	img_dsp_mode m = mode(IMG_DSP_PIPE_VIDEO, 0);
	std::vector<uint8_t> img(260, 0);
	img[0] = 1;
	for (int i = 0; i < 128; i++)
		img[4 + 2 * (size_t)i] = (uint8_t)i;
	send(IMG_ADJ_CHROMA_SCALE, img);
	img_dsp_chroma_scale stored;
	ASSERT_EQ(vors_img_dsp_get_chroma_scale(&m, &stored), 0);
	EXPECT_EQ(stored.Enb, 1);
	EXPECT_EQ(stored.GainCurve[5], 5);
	img[0] = 0;
	send(IMG_ADJ_CHROMA_SCALE, img);
	ASSERT_EQ(vors_img_dsp_get_chroma_scale(&m, &stored), 0);
	EXPECT_EQ(stored.Enb, 1) << "the enable byte alone is not sent";
	img[4 + 2 * 5] = 9;
	send(IMG_ADJ_CHROMA_SCALE, img);
	ASSERT_EQ(vors_img_dsp_get_chroma_scale(&m, &stored), 0);
	EXPECT_EQ(stored.Enb, 0);
	EXPECT_EQ(stored.GainCurve[5], 9);
}

struct Group {
	uint32_t first_id;
	std::vector<uint32_t> logs; /* both, noise, FIR, coring */
};

TEST_F(AdjSend, SharpenNoiseGroupsGoOutTogetherWithTheirCoringMember)
{
	const Group groups[] = {
	    {16,
	     {LOG_FIRST_SHARPEN_NOISE_BOTH, LOG_FIRST_SHARPEN_NOISE_NOISE,
	      LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR, LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING}},
	    {37,
	     {LOG_FINAL_SHARPEN_NOISE_BOTH, LOG_FINAL_SHARPEN_NOISE_NOISE,
	      LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR, LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING}},
	};
	for (const Group &g : groups) {
		SCOPED_TRACE("group from " + std::to_string(g.first_id));
		pieces.clear();
		std::vector<std::vector<uint8_t>> img;
		for (uint32_t k = 0; k < 4; k++)
			img.push_back(image(g.first_id + k, (uint8_t)(3 * k + 1)));
		for (uint32_t k = 0; k < 3; k++) {
			EXPECT_EQ(send(g.first_id + k, img[k]), 0);
			EXPECT_TRUE(records().empty()) << "a member never calls a setter";
		}
		EXPECT_EQ(send(g.first_id + 3, img[3]), 0);
		std::vector<LogRecord> r = records();
		ASSERT_EQ(r.size(), 4u);
		for (size_t k = 0; k < 4; k++) {
			EXPECT_EQ(r[k].id, g.logs[k]);
			EXPECT_TRUE(std::equal(r[k].data.begin(), r[k].data.end(), img[k].begin()))
			    << "member " << k;
		}

		/* The noise member alone changes: all four go when coring is sent. */
		pieces.clear();
		img[1][100] ^= 0x10;
		for (uint32_t k = 0; k < 4; k++)
			send(g.first_id + k, img[k]);
		EXPECT_EQ(log_ids(), g.logs);
		EXPECT_EQ(records()[1].data[100], img[1][100]);

		pieces.clear();
		for (uint32_t k = 0; k < 4; k++)
			send(g.first_id + k, img[k]);
		EXPECT_TRUE(records().empty()) << "nothing changed";
		/* Coring compares its 256 bytes and the last one. */
		img[3][256] ^= 1;
		send(g.first_id + 3, img[3]);
		EXPECT_EQ(log_ids(), g.logs);
		/* The first "both" compares seven bytes: its eighth is padding. */
		pieces.clear();
		img[0][7] ^= 0xff;
		send(g.first_id, img[0]);
		send(g.first_id + 3, img[3]);
		EXPECT_EQ(records().size(), g.first_id == 16 ? 0u : 4u);
	}
}

TEST_F(AdjSend, TemporalAdjustSendsEachSubBlockByItself)
{
	std::vector<uint8_t> img = image(36);
	send(36, img);
	const std::vector<uint32_t> all = {LOG_VIDEO_MCTF_TEMPORAL_ADJUST, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y,
	                                   LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB,
	                                   LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR};
	EXPECT_EQ(log_ids(), all);
	const struct {
		size_t byte;
		uint32_t log;
	} cases[] = {{3, LOG_VIDEO_MCTF_TEMPORAL_ADJUST},
	             {18, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y},
	             {30, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB},
	             {41, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR}};
	for (const auto &c : cases) {
		pieces.clear();
		img[c.byte] ^= 0x02;
		send(36, img);
		EXPECT_EQ(log_ids(), std::vector<uint32_t>{c.log}) << "byte " << c.byte;
	}
	pieces.clear();
	send(36, img);
	EXPECT_TRUE(records().empty());
	send(36, img, 0, 1);
	EXPECT_EQ(log_ids(), all) << "force sends all four";
}

TEST_F(AdjSend, VideoMctfSendsTheInternalBlockOnlyWhenItChanges)
{
	const uint32_t bypass[IMG_MAX_CHANNELS] = {1, 0};
	ASSERT_EQ(img_adj_set_nr_bypass(bypass), 0);
	std::vector<uint8_t> mctf = image(24);
	send(24, mctf);
	const uint8_t on[9] = {1, 1, 1, 0, 0, 0, 1, 1, 0}, off[9] = {0, 0, 0, 0, 0, 0, 1, 1, 0};
	EXPECT_EQ(0, memcmp(body(0)->blk.internal_video_mctf, on, 9));
	EXPECT_EQ(log_ids(), std::vector<uint32_t>{LOG_VIDEO_MCTF});

	/* Unchanged: neither block goes again (a mark in the kernel stays). */
	pieces.clear();
	body(0)->blk.internal_video_mctf[3] = 7;
	send(24, mctf);
	EXPECT_TRUE(records().empty());
	EXPECT_EQ(body(0)->blk.internal_video_mctf[3], 7);

	/* Force sends both. */
	send(24, mctf, 0, 1);
	EXPECT_EQ(0, memcmp(body(0)->blk.internal_video_mctf, on, 9));
	EXPECT_EQ(log_ids(), std::vector<uint32_t>{LOG_VIDEO_MCTF});

	/* The MCTF block alone follows the common rule. */
	pieces.clear();
	body(0)->blk.internal_video_mctf[3] = 7;
	mctf[100] ^= 1;
	send(24, mctf);
	EXPECT_EQ(log_ids(), std::vector<uint32_t>{LOG_VIDEO_MCTF});
	EXPECT_EQ(body(0)->blk.internal_video_mctf[3], 7);

	/* Bypass off: the combine numbers only. */
	send(24, mctf, 1);
	EXPECT_EQ(0, memcmp(body(1)->blk.internal_video_mctf, off, 9));
	ASSERT_EQ(img_adj_set_nr_bypass(bypass + 1), 0);
	send(24, mctf);
	EXPECT_EQ(0, memcmp(body(0)->blk.internal_video_mctf, off, 9));
}

TEST_F(AdjSend, ChromaFilterComparesWithWhatTheKernelHolds)
{
	img_dsp_mode m = mode(IMG_DSP_PIPE_VIDEO, 0);
	img_dsp_chroma_filter cf = {1, 10, 12, 0, 100, 120, 64, {}};
	std::vector<uint8_t> img(16, 0);
	memcpy(img.data(), &cf, sizeof(cf));
	send(35, img);
	send(35, img);
	EXPECT_EQ(chroma_filter_calls(), 1u);
	/* Someone else set the kernel's chroma filter: the block goes again. */
	img_dsp_chroma_filter other = cf;
	other.NoiseLevelCb = 50;
	{
		StdoutCapture quiet;
		vors_img_dsp_set_chroma_filter(kFd, &m, &other);
	}
	send(35, img);
	EXPECT_EQ(chroma_filter_calls(), 3u);
	img_dsp_chroma_filter now;
	ASSERT_EQ(vors_img_dsp_get_chroma_filter(&m, &now), 0);
	EXPECT_EQ(now.NoiseLevelCb, 10);
	/* A radius the kernel raises to its minimum is sent at every
	 * evaluation, since what the kernel holds never equals it. */
	cf.Radius = 16;
	memcpy(img.data(), &cf, sizeof(cf));
	send(35, img);
	send(35, img);
	EXPECT_EQ(chroma_filter_calls(), 5u);
}

TEST_F(AdjSend, ColourCorrectionSendsTheRgbIrBlockFirstAndRefusesNoTable)
{
	info_[1].rgb_ir = 1;
	info_[1].rgb_ir_mode = 2;
	channels();
	std::vector<uint64_t> table(IMG_ADJ_CC_TABLE_SIZE / 8, 0);
	const uint64_t addr = (uint64_t)(uintptr_t)table.data();
	std::vector<uint8_t> img(8);
	memcpy(img.data(), &addr, 8);
	/* The kernel refuses the table until a register file is loaded; the
	 * calls are what count here. */
	send(IMG_ADJ_CC, img, 0);
	EXPECT_EQ(log_ids(0), std::vector<uint32_t>{LOG_COLOR_CORRECTION});
	send(IMG_ADJ_CC, img, 1);
	std::vector<LogRecord> r = records();
	ASSERT_EQ(r.size(), 3u);
	EXPECT_EQ(r[1].id, LOG_RGB_IR);
	EXPECT_EQ(r[1].ctx, 1u);
	/* Mode from channel_info word 13; the correction before the step sets
	 * one is 0. */
	ASSERT_GE(r[1].data.size(), 4u);
	EXPECT_EQ(r[1].data[0], 2);
	EXPECT_EQ(r[1].data[2] | r[1].data[3] << 8, 0);
	EXPECT_EQ(r[2].id, LOG_COLOR_CORRECTION);
	/* No sent copy: the same block goes every time. */
	send(IMG_ADJ_CC, img, 0);
	EXPECT_EQ(log_ids(0).size(), 2u);

	pieces.clear();
	std::vector<uint8_t> none(8, 0);
	EXPECT_EQ(send(IMG_ADJ_CC, none, 1), -1);
	EXPECT_EQ(log_ids(), std::vector<uint32_t>{LOG_RGB_IR});
	/* A missing state, block or mode record is refused like elsewhere. */
	img_dsp_mode m = mode(IMG_DSP_PIPE_VIDEO, 0);
	filter_state st = {IMG_ADJ_CC, 15, 0, 1, 0, 0};
	EXPECT_EQ(img_adj_transmitters[IMG_ADJ_CC](nullptr, img.data(), kFd, &m), -1);
	EXPECT_EQ(img_adj_transmitters[IMG_ADJ_CC](&st, nullptr, kFd, &m), -1);
	EXPECT_EQ(img_adj_transmitters[IMG_ADJ_CC](&st, img.data(), kFd, nullptr), -1);
}

TEST_F(AdjSend, BlackLevelGoesToTheHdrModuleOnHdrChannels)
{
	const std::vector<uint8_t> levels = {0x10, 0, 0x20, 0, 0x30, 0, 0x40, 0};
	send(2, levels, 0);
	EXPECT_EQ(log_ids(), std::vector<uint32_t>{LOG_STATIC_BLACK_LEVEL});
	const struct {
		uint32_t dsp_hdr, method;
	} hdr[] = {{1, 0}, {0, 4}, {0, 8}};
	for (const auto &h : hdr) {
		info_[1] = {};
		info_[1].dsp_hdr = h.dsp_hdr;
		info_[1].hdr_method = h.method;
		channels();
		img_adj_transmit_reset();
		img_adj_set_transmit_targets(&targets_);
		Targets::calls.clear();
		pieces.clear();
		EXPECT_EQ(send(2, levels, 1), 0);
		EXPECT_EQ(send(2, levels, 1), 0) << "unchanged";
		EXPECT_TRUE(records().empty());
		ASSERT_EQ(Targets::calls.size(), 1u);
		EXPECT_EQ(Targets::calls[0].what, "black");
		EXPECT_EQ(Targets::calls[0].chan, 1);
		EXPECT_EQ(Targets::calls[0].data, levels);
	}
}

TEST_F(AdjSend, ExposureAndWarmthGoWheneverEvaluated)
{
	std::vector<uint8_t> targets = image(0), warmth = image(1);
	for (int i = 0; i < 2; i++) {
		EXPECT_EQ(send(0, targets, 1), 0);
		EXPECT_EQ(send(1, warmth, 1), 0);
	}
	EXPECT_EQ(Targets::names(1), (std::vector<std::string>{"ae", "awb", "ae", "awb"}));
	EXPECT_EQ(Targets::calls[0].data, targets);
	EXPECT_EQ(Targets::calls[1].data, std::vector<uint8_t>(warmth.begin(), warmth.begin() + 8));
	EXPECT_TRUE(records().empty());
}

struct HdrCase {
	uint32_t id;
	const char *target;
	size_t first_compared; /* byte */
};

TEST_F(AdjSend, HdrFiltersSendChangedWordsAndAnswerMinusOneWhenUnchanged)
{
	const HdrCase cases[] = {{25, "alpha", 4},          {26, "flicker", 4}, {27, "threshold", 4},
	                         {31, "lut_mix", 4},        {32, "1st", 0},     {33, "2nd", 0},
	                         {34, "boost_strength", 0}, {30, "boost", 0}};
	for (const HdrCase &c : cases) {
		SCOPED_TRACE(c.target);
		Targets::calls.clear();
		std::vector<uint8_t> img = image(c.id);
		Targets::result = 0x10000000;
		EXPECT_EQ(send(c.id, img), 0x10000000) << "the target's answer";
		Targets::result = 0;
		EXPECT_EQ(send(c.id, img), -1);
		if (c.first_compared > 0) {
			img[0] ^= 1;
			EXPECT_EQ(send(c.id, img), -1) << "word 0 is not compared";
		}
		img[c.first_compared] ^= 2;
		EXPECT_EQ(send(c.id, img), 0);
		EXPECT_EQ(send(c.id, img, 0, 1), 0);
		ASSERT_EQ(Targets::names(0), std::vector<std::string>(3, c.target));
		EXPECT_EQ(Targets::calls[2].data,
		          std::vector<uint8_t>(img.begin(), img.begin() + (c.id == 30 ? 256 : 16)));
	}
	EXPECT_TRUE(records().empty());
}

TEST_F(AdjSend, BlendWaitsForTheFixedRatioAndLimitsTakeTheModeWord)
{
	const std::vector<uint8_t> blend = {32, 0, 64, 0};
	Targets::limits[0] = {1, 0, 0};
	EXPECT_EQ(send(28, blend), 0);
	EXPECT_EQ(send(28, blend, 0, 1), 0);
	EXPECT_TRUE(Targets::calls.empty()) << "silent while the automatic ratio runs";
	Targets::limits[0] = {0, 0, 0};
	EXPECT_EQ(send(28, blend), 0);
	EXPECT_EQ(send(28, blend), -1);
	ASSERT_EQ(Targets::names(), std::vector<std::string>{"ratio"});
	EXPECT_EQ(Targets::calls[0].data, blend);

	Targets::calls.clear();
	Targets::limits[0] = {3, 99, 99};
	std::vector<uint8_t> limits = bytes_of({0xdead, 32, 256});
	EXPECT_EQ(send(29, limits), 0);
	EXPECT_EQ(send(29, limits), -1);
	Targets::limits[0].mode = 0;
	EXPECT_EQ(send(29, limits), 0) << "the mode word is compared too";
	ASSERT_EQ(Targets::calls.size(), 2u);
	EXPECT_EQ(Targets::calls[0].data, bytes_of({3, 32, 256}));
	EXPECT_EQ(Targets::calls[1].data, bytes_of({0, 32, 256}));
}

TEST_F(AdjSend, CombinedHdrChannelSendsOnlyZeroAlphasAndTheUnitBlend)
{
	info_[1].dsp_hdr = 1;
	info_[1].hdr_curve = 1;
	channels();
	/* The zeroed alphas equal the sent copy they start from: only a forced
	 * pass sends them. */
	for (uint32_t force = 0; force < 2; force++) {
		for (uint32_t id = 25; id <= 34; id++)
			EXPECT_EQ(send(id, image(id), 1, force), id == 25 && !force ? -1 : 0) << id;
	}
	ASSERT_EQ(Targets::names(1), (std::vector<std::string>{"ratio", "alpha", "ratio"}));
	std::vector<uint8_t> alphas = image(25);
	std::fill(alphas.begin() + 4, alphas.begin() + 16, 0);
	EXPECT_EQ(Targets::calls[1].data, alphas);
	EXPECT_EQ(Targets::calls[0].data, (std::vector<uint8_t>{16, 0, 0, 0}));
	/* Marker 0 or no DSP blending: the HDR filters go as usual. */
	const struct {
		uint32_t dsp_hdr, curve;
	} usual[] = {{1, 0}, {0, 1}};
	for (const auto &u : usual) {
		info_[1].dsp_hdr = u.dsp_hdr;
		info_[1].hdr_curve = u.curve;
		channels();
		img_adj_transmit_reset();
		img_adj_set_transmit_targets(&targets_);
		Targets::calls.clear();
		for (uint32_t id = 25; id <= 34; id++)
			send(id, image(id), 1);
		EXPECT_EQ(Targets::calls.size(), 10u);
	}
}

/* The contrast-enhancement output table from the curves' own formulas,
 * in double precision. */
uint16_t expanded(uint16_t x, double k)
{
	double m = 16383.0, v = std::min<double>(x, m);
	double y = (std::pow(k + 1.0, v / m) - 1.0) * m / k;
	return (uint16_t)std::max(0.0, std::min(m, std::floor(y)));
}

uint16_t log_decoded(uint16_t x, double factor)
{
	double y = x * 255.0 / 16383.0;
	double v = 16383.0 * std::exp(std::log(factor) / 255.0 * y) / factor;
	return (uint16_t)std::max(0.0, std::min(16383.0, std::floor(v + 0.5)));
}

std::vector<uint16_t> output_table(const std::vector<uint8_t> &block)
{
	std::vector<uint16_t> t(256);
	memcpy(t.data(), block.data() + 94, 512);
	return t;
}

TEST_F(AdjSend, ContrastEnhanceRemapsItsOutputTableBeforeComparing)
{
	std::vector<uint8_t> ce = image(45);
	for (int i = 0; i < 256; i++) {
		uint16_t v = (uint16_t)(i * 70);
		memcpy(ce.data() + 94 + 2 * i, &v, 2);
	}
	const std::vector<uint16_t> in = output_table(ce);
	info_[1].dsp_hdr = 1;
	channels();
	Targets::ce_log[0] = Targets::ce_log[1] = 1;
	Targets::ce_config[1] = (uint64_t)3 << 32 | 5u; /* encode 5, decode 3 */
	Targets::factor = 6.0f;
	/* Channel 0 is linear: the second-strength expansion, CE log or not. */
	send(45, ce, 0);
	send(45, ce, 1);
	send(45, ce, 0);
	send(45, ce, 1);
	std::vector<LogRecord> r = records();
	ASSERT_EQ(r.size(), 2u) << "an unchanged table is not sent again";
	for (const LogRecord &rec : r) {
		ASSERT_EQ(rec.data.size(), 606u);
		EXPECT_TRUE(std::equal(rec.data.begin(), rec.data.begin() + 94, ce.begin()));
		std::vector<uint16_t> out = output_table(rec.data);
		for (int i = 0; i < 256; i++) {
			uint16_t want =
			    rec.ctx == 0 ? expanded(in[(size_t)i], 6.0) : log_decoded(in[(size_t)i], 3.0);
			ASSERT_NEAR(out[(size_t)i], want, 1) << "channel " << rec.ctx << " entry " << i;
		}
	}
	/* The log curve family (marker 2) takes the expansion. */
	info_[1].hdr_curve = 2;
	channels();
	pieces.clear();
	send(45, ce, 1, 1);
	std::vector<uint16_t> out = output_table(records().at(0).data);
	EXPECT_NEAR(out[200], expanded(in[200], 6.0), 1);
}

TEST_F(AdjSend, SentToneCurveIsChannelZeros)
{
	std::vector<uint8_t> t0 = image(IMG_ADJ_TONE, 3), t1 = image(IMG_ADJ_TONE, 9);
	send(IMG_ADJ_TONE, t0, 0);
	send(IMG_ADJ_TONE, t1, 1);
	std::vector<uint8_t> out(1536);
	ASSERT_EQ(img_adj_get_sent_tone_curve(out.data()), 0);
	EXPECT_EQ(out, t0);
	EXPECT_EQ(img_adj_get_sent_tone_curve(nullptr), -1);
}

TEST_F(AdjSend, EveryTransmitterRefusesBadArguments)
{
	img_dsp_mode m = mode(IMG_DSP_PIPE_VIDEO, 0), far = mode(IMG_DSP_PIPE_VIDEO, 2);
	std::vector<uint64_t> block(1536 / 8, 0);
	for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++) {
		if (id == IMG_ADJ_CC)
			continue;
		SCOPED_TRACE("filter " + std::to_string(id));
		img_adj_transmitter tx = img_adj_transmitters[id];
		filter_state st = {id, 5, 0, 1, 0, 1};
		EXPECT_EQ(tx(nullptr, block.data(), kFd, &m), -1);
		EXPECT_EQ(tx(&st, nullptr, kFd, &m), -1);
		EXPECT_EQ(tx(&st, block.data(), kFd, nullptr), -1);
		EXPECT_EQ(tx(&st, block.data(), 0, &m), -1);
		testing::internal::CaptureStdout();
		EXPECT_EQ(tx(&st, block.data(), kFd, &far), -1);
		st.id = id + 1;
		EXPECT_EQ(tx(&st, block.data(), kFd, &m), -1);
		EXPECT_EQ(testing::internal::GetCapturedStdout(),
		          "error: illegal channel id [2].\ntransmit id " + std::to_string(id + 1) +
		              " mismatch " + std::to_string(id) + "\n");
	}
	EXPECT_TRUE(records().empty());
	EXPECT_TRUE(Targets::calls.empty());
}

/* ---- whole passes ---- */

/* Filters whose row 3 differs from row 2 in one value, and the value. */
struct RowChange {
	uint32_t id;
	int part;
	int k;
};

const RowChange kChanged[] = {{3, 0, 0}, {13, 0, 0}, {17, 0, 5}, {24, 0, 2}, {36, 0, 19}, {45, 0, 0}};

class AdjSendPass : public AdjSend
{
      protected:
	void SetUp() override
	{
		AdjSend::SetUp();
		for (int c = 0; c < 2; c++) {
			for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
				if (id != IMG_ADJ_CC)
					flatten(tuning_[c][id]);
			/* A chroma filter the kernel keeps as it is. */
			const int32_t cf[6] = {1, 10, 12, 100, 120, 32};
			for (int r = 0; r < 16; r++) {
				for (int k = 0; k < 6; k++)
					tuning_[c][35].set_value(0, r, k, cf[k]);
				tuning_[c][IMG_ADJ_LUMA_PROC].set_value(0, r, 0, c);
			}
			for (const RowChange &ch : kChanged)
				tuning_[c][ch.id].set_value(ch.part, 3, ch.k, 77);
		}
		mode_ = mode(IMG_DSP_PIPE_VIDEO, 0);
		for (cl_aaa_block &a : aaa_)
			a.wb_r_gain = a.wb_g_gain = a.wb_b_gain = 512;
	}
	/* Every row a copy of row 0. */
	static void flatten(Container &fc)
	{
		for (size_t p = 0; p < fc.type->parts.size(); p++) {
			const PartSpec &s = fc.type->parts[p];
			for (int r = 1; r < 16; r++)
				memcpy(fc.bytes.data() + s.row0 + r * s.row, fc.bytes.data() + s.row0,
				       (size_t)s.row);
		}
	}
	void bring_up()
	{
		ASSERT_EQ(rig_.set_up(), 0);
		int rc;
		{
			StdoutCapture quiet;
			rc = img_adj_apply_initial_filters(kFd, &mode_);
		}
		ASSERT_EQ(rc, 0);
	}
	void run(int passes, int32_t gain)
	{
		const int32_t gains[2] = {gain, gain};
		for (int i = 0; i < passes; i++) {
			int rc;
			{
				StdoutCapture quiet;
				rc = img_adj_run_filters(kFd, &mode_, gains, aaa_);
			}
			ASSERT_EQ(rc, 0);
		}
	}

	TwoChannelTuning rig_;
	std::vector<Container> (&tuning_)[2] = rig_.tuning;
	img_dsp_mode mode_{};
	cl_aaa_block aaa_[2] = {};
};

/* The kernel records of each filter, in the order it sends them. */
const std::map<uint32_t, std::vector<uint32_t>> &filter_logs()
{
	static const std::map<uint32_t, std::vector<uint32_t>> logs = {
	    {2, {LOG_STATIC_BLACK_LEVEL}},
	    {3, {LOG_ANTI_ALIASING}},
	    {4, {LOG_GBGR_MISMATCH}},
	    {5, {LOG_DYNAMIC_BAD_PIXEL_CORRECTION}},
	    {6, {LOG_CFA_NOISE_FILTER}},
	    {7, {LOG_LOCAL_EXPOSURE}},
	    {8, {LOG_DEMOSAIC}},
	    {10, {LOG_TONE_CURVE}},
	    {11, {LOG_RGB_TO_YUV_MATRIX}},
	    {13, {LOG_CHROMA_MEDIAN_FILTER}},
	    {14, {LOG_FIRST_LUMA_PROCESSING_MODE}},
	    {15, {LOG_ADVANCE_SPATIAL_FILTER}},
	    {19,
	     {LOG_FIRST_SHARPEN_NOISE_BOTH, LOG_FIRST_SHARPEN_NOISE_NOISE,
	      LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR, LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING}},
	    {20, {LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE}},
	    {21, {LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT}},
	    {22, {LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT}},
	    {23, {LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING}},
	    {24, {LOG_VIDEO_MCTF}},
	    {36,
	     {LOG_VIDEO_MCTF_TEMPORAL_ADJUST, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y,
	      LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR}},
	    {40,
	     {LOG_FINAL_SHARPEN_NOISE_BOTH, LOG_FINAL_SHARPEN_NOISE_NOISE,
	      LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR, LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING}},
	    {41, {LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE}},
	    {42, {LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT}},
	    {43, {LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT}},
	    {44, {LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING}},
	    {45, {LOG_VIDEO_HDR_CONTRAST_ENHANCE}},
	    {46, {LOG_VIDEO_CLISO_MOTION_DETECT}},
	    {47, {LOG_VIDEO_CLISO_VIDEO_MCTF_B}},
	    {48, {LOG_VIDEO_CLISO_VIDEO_MCTF_B_LEVEL}},
	};
	return logs;
}

std::vector<uint32_t> logs_of(std::initializer_list<uint32_t> ids, const std::vector<uint32_t> &left_out = {})
{
	std::vector<uint32_t> out;
	for (uint32_t id : ids) {
		if (std::find(left_out.begin(), left_out.end(), id) != left_out.end())
			continue;
		auto it = filter_logs().find(id);
		if (it != filter_logs().end())
			out.insert(out.end(), it->second.begin(), it->second.end());
	}
	return out;
}

std::vector<uint32_t> all_logs(const std::vector<uint32_t> &left_out)
{
	std::vector<uint32_t> out;
	for (const auto &f : filter_logs())
		if (std::find(left_out.begin(), left_out.end(), f.first) == left_out.end())
			out.insert(out.end(), f.second.begin(), f.second.end());
	return out;
}

TEST_F(AdjSendPass, FirstPassSendsEveryEnabledFilterOnceThenSteadyPassesSendNothing)
{
	bring_up();
	/* Channel 0's luma mode 0 keeps the advanced spatial filter, channel
	 * 1's 1 the first sharpen-noise group. */
	const std::vector<uint32_t> first[2] = {all_logs({19, 20, 21, 22, 23}), all_logs({15})};
	EXPECT_EQ(log_ids(0), first[0]);
	EXPECT_EQ(log_ids(1), first[1]);
	EXPECT_EQ(chroma_filter_calls(), 2u);
	const std::vector<std::string> others = {"ae",        "awb",   "alpha",  "flicker",
	                                         "threshold", "ratio", "limits", "boost",
	                                         "lut_mix",   "1st",   "2nd",    "boost_strength"};
	EXPECT_EQ(Targets::names(0), others);
	EXPECT_EQ(Targets::names(1), others);
	const uint8_t combine_only[9] = {0, 0, 0, 0, 0, 0, 1, 1, 0};
	EXPECT_EQ(0, memcmp(body(1)->blk.internal_video_mctf, combine_only, 9));

	/* The force send the first pass leaves sends every filter once more at
	 * its first per-frame evaluation; the colour correction goes on channel
	 * 0 only, whose gains moved from its last ones. */
	pieces.clear();
	run(15, 256);
	for (int c = 0; c < 2; c++) {
		std::vector<uint32_t> want = first[c], got = log_ids(c);
		if (c == 0)
			want.push_back(LOG_COLOR_CORRECTION);
		std::sort(want.begin(), want.end());
		std::sort(got.begin(), got.end());
		EXPECT_EQ(got, want) << "channel " << c;
	}
	EXPECT_EQ(chroma_filter_calls(), 4u);
	pieces.clear();
	run(30, 256);
	EXPECT_TRUE(records().empty()) << testing::PrintToString(log_ids());
	EXPECT_EQ(chroma_filter_calls(), 4u);

	/* A refresh of filter 11 resends the unchanged matrix on every channel. */
	ASSERT_EQ(img_adj_refresh_filter(IMG_ADJ_RGB2YUV), 0);
	pieces.clear();
	run(1, 256);
	EXPECT_EQ(log_ids(0), std::vector<uint32_t>{LOG_RGB_TO_YUV_MATRIX});
	EXPECT_EQ(log_ids(1), std::vector<uint32_t>{LOG_RGB_TO_YUV_MATRIX});
	pieces.clear();
	run(30, 256);
	EXPECT_TRUE(records().empty());
}

TEST_F(AdjSendPass, CrossingOneRowSendsExactlyTheFiltersWhoseRowsDiffer)
{
	bring_up();
	run(31, 256);
	pieces.clear();
	Targets::calls.clear();
	run(15, 384);
	/* Filter 36 changed in its Cb sub-block only; 17 is disabled on
	 * channel 0 and goes with its group on channel 1. */
	const std::vector<uint32_t> ch0 = {LOG_ANTI_ALIASING, LOG_CHROMA_MEDIAN_FILTER, LOG_VIDEO_MCTF,
	                                   LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB, LOG_VIDEO_HDR_CONTRAST_ENHANCE};
	std::vector<uint32_t> ch1 = logs_of({3, 13, 19, 24});
	ch1.push_back(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB);
	ch1.push_back(LOG_VIDEO_HDR_CONTRAST_ENHANCE);
	EXPECT_EQ(log_ids(0), ch0);
	EXPECT_EQ(log_ids(1), ch1);
	for (const TargetCall &c : Targets::calls)
		EXPECT_TRUE(c.what == "ae" || c.what == "awb") << c.what << " was sent without a change";
	pieces.clear();
	run(30, 384);
	EXPECT_TRUE(records().empty());
}

} // namespace

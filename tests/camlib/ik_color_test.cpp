/* The colour path: white balance, the colour-correction register file and
 * what a built configuration carries of them. */
#include "ik_color.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_liso.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

constexpr int kFd = 5;

class IkColor : public IkFixture
{
      protected:
	/* A video context with one configuration and a still context. */
	void up(uint8_t defblc = 0)
	{
		bring_up({{0, 1, 1, 1, 0}, {1, 1, 1, 0, 0}});
		for (uint32_t pipe = 0; pipe < 2; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(defblc, &cid, &cid), 0);
		}
		img_dsp_cfg_id id{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
		img_dsp_mode m = mode(0, 0);
		img_dsp_size_info si{};
		si.width_in = si.main_out_width = 1920;
		si.height_in = si.main_out_height = 1080;
		ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
		RecordingIoctl::reset();
		RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	}
	ik_ctx_body *body(uint32_t pipe = 0)
	{
		img_dsp_ctx_id cid{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(pipe, c);
	}
	/* Builds and posts the video configuration; its main part's bytes. */
	const uint8_t *build()
	{
		img_dsp_mode m = mode(0, 0, 0);
		EXPECT_EQ(vors_img_dsp_post_exe_cfg(kFd, &m), 0);
		img_dsp_cfg_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return ((img_dsp_iso_cfg *)c)->main.bytes;
	}
	const uint8_t *table_block()
	{
		img_dsp_cfg_id cid{0, 0, {}};
		void *t = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &t), 0);
		return (const uint8_t *)t;
	}
	void set_black(uint32_t pipe, int16_t level)
	{
		const int16_t b[4] = {level, level, level, level};
		memcpy(body(pipe)->blk.static_black_level, b, sizeof(b));
	}
	std::vector<uint8_t> sections(uint32_t pipe)
	{
		const uint8_t *p = (const uint8_t *)body(pipe)->sec;
		return std::vector<uint8_t>(p, p + sizeof(body(pipe)->sec));
	}
};

uint32_t word(const ik_ctx_body *b, enum ik_section s, unsigned w)
{
	return b->sec[s].word[w];
}

std::vector<uint16_t> black_offsets(const ik_ctx_body *b)
{
	std::vector<uint16_t> v(9);
	memcpy(v.data(), (const uint8_t *)b->sec[IK_SEC_BLACK_LEVEL].word + 20, 18);
	return v;
}

TEST_F(IkColor, WhiteBalanceGoldenBytesOfABuiltConfiguration)
{
	up();
	img_dsp_mode m = mode(0, 0);
	img_dsp_wb_gain g{5001, 4096, 8191, 4096, 4096};
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_WB_GAIN));
	const uint8_t *main = build();
	const uint8_t want[16] = {0x80, 0x38, 0x01, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xE0, 0xFF, 0x01, 0};
	EXPECT_EQ(memcmp(main + 188 + 44, want, 16), 0);
	uint32_t update_all;
	memcpy(&update_all, main + 188 + offsetof(ik_liso_color, update_all), 4);
	EXPECT_NE(update_all & IK_COLOR_UPDATE_WB_GAIN, 0u);
}

TEST_F(IkColor, WhiteBalanceSectionWords)
{
	struct Case {
		const char *what;
		img_dsp_wb_gain g;
		uint32_t func;
		uint32_t r, gg, b;
	} cases[] = {
	    {"unit gains", {4096, 4096, 4096, 4096, 4096}, 0, 65536, 65536, 65536},
	    {"packing keeps 12 bits", {4095, 4097, 8191, 4096, 4096}, 0, 65520, 65536, 131040},
	    {"FuncMode 8 ignores the exposure gain",
	     {5001, 4096, 4096, 8192, 4096},
	     IMG_DSP_FUNC_NO_HDR,
	     80000,
	     65536,
	     65536},
	    {"exposure gain doubles", {4096, 4096, 4096, 8192, 4096}, 0, 131072, 131072, 131072},
	    /* 256x in total does not wrap to zero */
	    {"large total gain", {16384, 4096, 4096, 262144, 4096}, 0, 0x1000000, 0x400000, 0x400000},
	    {"product capped",
	     {0xFFFFFF, 4096, 4096, 0xFFFFFF, 0xFFFFFF},
	     0,
	     0xFFF00000u,
	     0xFFF00000u,
	     0xFFF00000u},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		m.FuncMode = c.func;
		img_dsp_wb_gain g = c.g;
		ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0) << c.what;
		const ik_ctx_body *b = body();
		EXPECT_EQ(word(b, IK_SEC_WB_GAIN, 1), c.r) << c.what;
		EXPECT_EQ(word(b, IK_SEC_WB_GAIN, 2), c.gg) << c.what;
		EXPECT_EQ(word(b, IK_SEC_WB_GAIN, 3), c.gg) << c.what;
		EXPECT_EQ(word(b, IK_SEC_WB_GAIN, 4), c.b) << c.what;
	}
}

TEST_F(IkColor, WhiteBalanceClamps)
{
	struct Case {
		img_dsp_wb_gain in;
		const char *msg;
	} cases[] = {
	    {{0x1000000, 4096, 4096, 4096, 4096},
	     "GainR 0x1000000 is 12.12 format and should not exceed 0xFFFFFF in "},
	    {{4096, 0x2000000, 4096, 4096, 4096},
	     "GainG 0x2000000 is 12.12 format and should not exceed 0xFFFFFF in "},
	    {{4096, 4096, 0xFFFFFFFF, 4096, 4096},
	     "GainB 0xffffffff is 12.12 format and should not exceed 0xFFFFFF in "},
	    {{4096, 4096, 4096, 0x1000000, 4096},
	     "ae_gain 0x1000000 is 12.12 format and should not exceed 0xFFFFFF in "},
	    {{4096, 4096, 4096, 4096, 0x1000000},
	     "global_dgain 0x1000000 is 12.12 format and should not exceed 0xFFFFFF in "},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_wb_gain g = c.in;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]img_dsp_core_check_set_wb_gain() ", c.msg))
		    << c.msg;
		img_dsp_wb_gain got{};
		ASSERT_EQ(vors_img_dsp_get_wb_gain(&m, &got), 0);
		const uint32_t *f = &got.GainR;
		const uint32_t *in = &c.in.GainR;
		for (int i = 0; i < 5; i++)
			EXPECT_EQ(f[i], in[i] > 0xFFFFFFu ? 0xFFFFFFu : in[i]) << c.msg;
	}
}

TEST_F(IkColor, WhiteBalanceRefusals)
{
	up();
	img_dsp_mode m = mode(0, 0);
	img_dsp_wb_gain g{5001, 4096, 8191, 4096, 4096};
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	std::vector<uint8_t> before = sections(0);

	img_dsp_wb_gain zero{4096, 4096, 0, 4096, 4096};
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &zero), -1);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]img_dsp_core_process_wb_gain() ",
		                    "Gain 4096, 4096, 0. one or more are zeros\n"));
	}
	EXPECT_EQ(sections(0), before);
	EXPECT_FALSE(ik_flag_any(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES * 8 - 1));
	img_dsp_wb_gain got{};
	ASSERT_EQ(vors_img_dsp_get_wb_gain(&m, &got), 0);
	EXPECT_EQ(memcmp(&got, &zero, sizeof(got)), 0);

	img_dsp_mode decode = mode(2, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_wb_gain(kFd, &decode, &g), -1);
	EXPECT_EQ(vors_img_dsp_get_wb_gain(&decode, &got), -1);
	EXPECT_EQ(vors_img_dsp_get_wb_gain(&m, nullptr), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_wb_gain() ", "p_wb_gains is empty\n"));
}

TEST_F(IkColor, DeferredBlackLevelOnTheStillPipeRefreshesStatistics)
{
	up(1);
	set_black(1, -256);
	img_dsp_mode m = mode(1, 0);
	m.BatchId = 3;
	img_dsp_wb_gain g{4096, 4096, 4096, 4096, 4096};
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	uint16_t ae_min = 0;
	vors_img_dsp_3a_get_aaa_stat_pix_value(&ae_min, nullptr, nullptr, nullptr);
	EXPECT_EQ(ae_min, 256);
	const ik_ctx_body *b = body(1);
	const int16_t want_table[9] = {256, 256, 256, 256, 256, 256, 256, 256, 256};
	EXPECT_EQ(memcmp(b->blk.deferred_black_level_table, want_table, sizeof(want_table)), 0);
	EXPECT_EQ(word(b, IK_SEC_BLACK_LEVEL, 0), IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET);
	EXPECT_EQ(black_offsets(b), std::vector<uint16_t>(9, 256));
	EXPECT_TRUE(ik_flag_test(b->update_flags, IK_UPD_BLACK_LEVEL));

	/* no batch, or a clamped block: the statistics set-up stays */
	set_black(1, -300);
	m.BatchId = IMG_DSP_BATCH_NONE;
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	vors_img_dsp_3a_get_aaa_stat_pix_value(&ae_min, nullptr, nullptr, nullptr);
	EXPECT_EQ(ae_min, 256);
	m.BatchId = 3;
	img_dsp_wb_gain big{0x1000000, 4096, 4096, 4096, 4096};
	{
		StdoutCapture out;
		ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &big), IMG_DSP_CLAMPED);
	}
	vors_img_dsp_3a_get_aaa_stat_pix_value(&ae_min, nullptr, nullptr, nullptr);
	EXPECT_EQ(ae_min, 256);
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	vors_img_dsp_3a_get_aaa_stat_pix_value(&ae_min, nullptr, nullptr, nullptr);
	EXPECT_EQ(ae_min, 300);
}

TEST_F(IkColor, DeferredBlackLevelTable)
{
	struct Case {
		const char *what;
		int16_t black;
		img_dsp_wb_gain g;
		int16_t want[9];
	} cases[] = {
	    {"unit gains",
	     -256,
	     {4096, 4096, 4096, 4096, 4096},
	     {256, 256, 256, 256, 256, 256, 256, 256, 256}},
	    {"all gains zero", -1000, {0, 0, 0, 0, 0}, {1000, 1000, 1000, 0, 0, 0, 512, 512, 512}},
	    /* red 2x: limit 2^30 / 131072 = 8192 */
	    {"red doubled",
	     -100,
	     {8192, 4096, 6144, 4096, 4096},
	     {100, 100, 100, 200, 100, 150, 100, 100, 100}},
	    {"large gains limit",
	     -2000,
	     {0xFFFFFF, 4096, 4096, 0xFFFFFF, 0xFFFFFF},
	     {0, 0, 0, 0, 0, 0, 512, 512, 512}},
	    {"positive levels",
	     10,
	     {4096, 4096, 4096, 4096, 4096},
	     {-10, -10, -10, -10, -10, -10, -10, -10, -10}},
	};
	for (const auto &c : cases) {
		const int16_t black[4] = {0, c.black, 100, 200};
		int16_t black_min[4];
		for (int i = 0; i < 4; i++)
			black_min[i] = black[i] < c.black ? black[i] : c.black;
		if (c.black > 0)
			for (auto &v : black_min)
				v = c.black;
		int16_t t[9];
		img_dsp_core_deferred_black_level_table(black_min, &c.g, t);
		EXPECT_EQ(std::vector<int16_t>(t, t + 9), std::vector<int16_t>(c.want, c.want + 9)) << c.what;
	}
}

TEST_F(IkColor, VideoPipeInHdrSwitchesTheDeferredLevelOff)
{
	up(1);
	set_black(0, -256);
	img_dsp_mode m = mode(0, 0);
	img_dsp_wb_gain g{4096, 4096, 4096, 4096, 4096};
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	EXPECT_EQ(black_offsets(body()), std::vector<uint16_t>(9, 256));
	m.FuncMode = IMG_DSP_FUNC_NO_HDR;
	ASSERT_EQ(vors_img_dsp_set_wb_gain(kFd, &m, &g), 0);
	const ik_ctx_body *b = body();
	EXPECT_EQ(b->blk.deferred_black_level[0], 0);
	EXPECT_EQ(black_offsets(b), std::vector<uint16_t>(9, 0));
	EXPECT_EQ(
	    std::vector<int16_t>(b->blk.deferred_black_level_table, b->blk.deferred_black_level_table + 9),
	    std::vector<int16_t>(9, 0));
}

/* ---- colour-correction register file ---- */

std::vector<uint8_t> reg_file(uint32_t major, uint32_t minor, uint32_t size = IMG_DSP_CC_REG_SIZE)
{
	std::vector<uint8_t> f(IMG_DSP_CC_REG_SIZE);
	for (size_t i = 12; i < f.size(); i++)
		f[i] = (uint8_t)(i * 7);
	memcpy(&f[0], &major, 4);
	memcpy(&f[4], &minor, 4);
	memcpy(&f[8], &size, 4);
	return f;
}

TEST_F(IkColor, RegisterFile)
{
	up();
	img_dsp_mode m = mode(0, 0);
	ik_ctx_body *b = body();
	const uint64_t copy = (uint64_t)(uintptr_t)b->blk.cc_reg_copy;

	std::vector<uint8_t> bad = reg_file(2, 1, 18751);
	img_dsp_color_correction_reg r{(uint64_t)(uintptr_t)bad.data()};
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), -1);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]img_dsp_core_process_color_correction_reg() ",
		                    "Color correction reg file format error!\n"));
	}
	EXPECT_EQ(b->blk.cc_reg_loaded, 0);
	EXPECT_FALSE(ik_flag_test(b->update_flags, IK_UPD_CC_REG));
	EXPECT_EQ(std::vector<uint8_t>(b->blk.cc_reg_copy, b->blk.cc_reg_copy + 16),
	          std::vector<uint8_t>(16, 0));

	/* a 3-D table of 2.0 is loaded */
	const uint32_t v20[2] = {2, 0};
	memcpy(b->blk.cc_table_copy, v20, sizeof(v20));
	b->blk.cc_3d_loaded = 1;
	std::vector<uint8_t> good = reg_file(2, 1);
	r.RegSettingAddr = (uint64_t)(uintptr_t)good.data();
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), 0);
		std::string t = out.text();
		const char *head = "[IK][Warning]img_dsp_core_process_color_correction_reg() ";
		EXPECT_TRUE(has_msg(
		    t, head,
		    "Color correction reg file is programmed to Ver 2.1. Current CC_3D version is 2.0\n"));
		EXPECT_TRUE(has_msg(t, head, "         A New CC_3D table is required\n"));
	}
	EXPECT_EQ(memcmp(b->blk.cc_reg_copy, good.data(), good.size()), 0);
	EXPECT_EQ(b->blk.cc_reg_loaded, 1);
	EXPECT_TRUE(ik_flag_test(b->update_flags, IK_UPD_CC_REG));
	img_dsp_color_correction_reg got{};
	ASSERT_EQ(vors_img_dsp_get_color_correction_reg(&m, &got), 0);
	EXPECT_EQ(got.RegSettingAddr, copy);

	struct Refusal {
		uint64_t addr;
		uint32_t pipe;
		const char *msg;
	} refusals[] = {
	    {0, 0, "reg_setting_addr is NULL in img_dsp_core_check_set_color_correction_reg\n\n"},
	    {(uint64_t)(uintptr_t)good.data(), 2, ""},
	};
	for (const auto &c : refusals) {
		img_dsp_mode pm = mode(c.pipe, 0);
		img_dsp_color_correction_reg rr{c.addr};
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_color_correction_reg(&pm, &rr), -1) << c.msg;
		EXPECT_NE(out.text().find(c.msg), std::string::npos) << c.msg;
	}
}

TEST_F(IkColor, RegisterFileAgainstTheHighIsoTable)
{
	up();
	img_dsp_mode m = mode(1, 0);
	ik_ctx_body *b = body(1);
	const uint32_t hiso[3] = {3, 0, 1};
	memcpy(b->blk.cc_hiso_table, hiso, sizeof(hiso));
	b->blk.cc_hiso_3d_loaded = 1;
	struct Case {
		uint32_t minor;
		bool warned;
	} cases[] = {{0, false}, {1, true}};
	for (const auto &c : cases) {
		std::vector<uint8_t> f = reg_file(3, c.minor);
		img_dsp_color_correction_reg r{(uint64_t)(uintptr_t)f.data()};
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), 0);
		EXPECT_EQ(out.text().find("A New HISO CC_3D table is required") != std::string::npos,
		          c.warned);
	}
}

/* ---- tone curve ---- */

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

TEST_F(IkColor, ToneCurvePackedIntoTheBuiltConfiguration)
{
	up();
	img_dsp_mode m = mode(0, 0);
	img_dsp_tone_curve t{};
	t.ToneCurveRed[1] = 1;
	t.ToneCurveGreen[1] = 2;
	t.ToneCurveBlue[1] = 3;
	t.ToneCurveRed[2] = 1023;
	t.ToneCurveGreen[2] = 0;
	t.ToneCurveBlue[2] = 1023;
	img_dsp_update_list list{};
	ASSERT_EQ(img_dsp_core_check_set_tone_curve(&m, &t, &list), 0);
	/* no 3-D table yet: the section is not complete */
	EXPECT_EQ(list.entry[0].valid, 0u);
	EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_TONE_CURVE));
	build();
	const uint8_t *slot6 = table_block() + 78636;
	EXPECT_EQ(rd32(slot6), 0u);
	EXPECT_EQ(rd32(slot6 + 4), 0x00300801u);
	EXPECT_EQ(rd32(slot6 + 8), 0x3FF003FFu);

	body()->blk.cc_3d_loaded = 1;
	ASSERT_EQ(img_dsp_core_check_set_tone_curve(&m, &t, &list), 0);
	EXPECT_EQ(list.entry[0].valid, 1u);
	EXPECT_EQ(list.entry[0].section, (void *)&body()->sec[IK_SEC_CC]);
}

TEST_F(IkColor, ToneCurveClampsAndRefusals)
{
	struct Case {
		unsigned curve; /* 0 red, 1 green, 2 blue */
		unsigned index;
		uint16_t value;
		const char *msg;
	} cases[] = {
	    {1, 7, 1024, "ToneCurveGreen[7] 1024 should be within [0:1023] in SetToneCurve\n\n"},
	    {0, 0, 0xFFFF, "ToneCurveRed[0] 65535 should be within [0:1023] in SetToneCurve\n\n"},
	    {2, 255, 2000, "ToneCurveBlue[255] 2000 should be within [0:1023] in SetToneCurve\n\n"},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(1, 0);
		img_dsp_tone_curve t{};
		uint16_t *curves[3] = {t.ToneCurveRed, t.ToneCurveGreen, t.ToneCurveBlue};
		curves[c.curve][c.index] = c.value;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_tone_curve(kFd, &m, &t), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]img_dsp_core_check_set_tone_curve() ", c.msg))
		    << c.msg;
		img_dsp_tone_curve got{};
		ASSERT_EQ(vors_img_dsp_get_tone_curve(&m, &got), 0);
		uint16_t *got_curves[3] = {got.ToneCurveRed, got.ToneCurveGreen, got.ToneCurveBlue};
		EXPECT_EQ(got_curves[c.curve][c.index], 1023) << c.msg;
	}

	img_dsp_mode m = mode(0, 0);
	memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	std::vector<uint8_t> before = sections(0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_tone_curve(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_tone_curve(&m, nullptr), -1);
	std::string text = out.text();
	EXPECT_TRUE(has_msg(text, "[IK][Error]img_dsp_core_check_set_tone_curve() ",
	                    "p_tone_curve is NULL in img_dsp_core_check_set_tone_curve\n\n"));
	EXPECT_TRUE(has_msg(text, "[IK][Error]vors_img_dsp_get_tone_curve() ", "p_tone_curve is empty\n"));
	EXPECT_EQ(sections(0), before);
	EXPECT_FALSE(ik_flag_test(body()->update_flags, IK_UPD_TONE_CURVE));
}

/* ---- colour correction ---- */

std::vector<uint8_t> cc_table(uint32_t major, uint32_t minor, uint32_t word2 = 0)
{
	std::vector<uint8_t> t(IMG_DSP_CC_TABLE_SIZE);
	for (size_t i = 12; i < t.size(); i++)
		t[i] = (uint8_t)(i * 13 + 5);
	memcpy(&t[0], &major, 4);
	memcpy(&t[4], &minor, 4);
	memcpy(&t[8], &word2, 4);
	return t;
}

TEST_F(IkColor, ColorCorrectionRefusalsChangeNothing)
{
	up();
	img_dsp_mode m = mode(0, 0);
	ik_ctx_body *b = body();
	std::vector<uint8_t> t12 = cc_table(1, 2);
	img_dsp_color_correction cc{(uint64_t)(uintptr_t)t12.data()};
	struct Case {
		bool reg_first;
		img_dsp_color_correction block;
		const char *msg;
	} cases[] = {
	    {false, cc, "Please input color correction reg file first!\n"},
	    {true, cc,
	     "Color correction reg file/3D file version mismatch! CC_reg ver 1.3 and CC_3D ver 1.2\n"},
	    {true, {0}, "matrix_threed_table_addr is NULL in img_dsp_core_check_set_color_correction\n\n"},
	};
	for (const auto &c : cases) {
		if (c.reg_first) {
			std::vector<uint8_t> f = reg_file(1, 3);
			img_dsp_color_correction_reg r{(uint64_t)(uintptr_t)f.data()};
			ASSERT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), 0);
		}
		memset(b->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		std::vector<uint8_t> before = sections(0);
		std::vector<uint8_t> copy(b->blk.cc_table_copy, b->blk.cc_table_copy + IMG_DSP_CC_TABLE_SIZE);
		img_dsp_color_correction block = c.block;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_color_correction(kFd, &m, &block), -1) << c.msg;
		EXPECT_NE(out.text().find(c.msg), std::string::npos) << c.msg;
		EXPECT_EQ(sections(0), before) << c.msg;
		EXPECT_EQ(
		    std::vector<uint8_t>(b->blk.cc_table_copy, b->blk.cc_table_copy + IMG_DSP_CC_TABLE_SIZE),
		    copy)
		    << c.msg;
		EXPECT_FALSE(ik_flag_test(b->update_flags, IK_UPD_COLOR_CORRECTION)) << c.msg;
		EXPECT_EQ(b->blk.cc_3d_loaded, 0) << c.msg;
	}
}

TEST_F(IkColor, ColorCorrectionGoldenTables)
{
	up();
	img_dsp_mode m = mode(0, 0);
	std::vector<uint8_t> f = reg_file(1, 3);
	img_dsp_color_correction_reg r{(uint64_t)(uintptr_t)f.data()};
	ASSERT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), 0);
	std::vector<uint8_t> t = cc_table(1, 3);
	img_dsp_color_correction cc{(uint64_t)(uintptr_t)t.data()};
	img_dsp_update_list list{};
	ASSERT_EQ(img_dsp_core_check_set_color_correction(&m, &cc, &list), 0);
	/* no tone curve yet: the section is not complete */
	EXPECT_EQ(list.entry[0].valid, 0u);
	ik_ctx_body *b = body();
	EXPECT_TRUE(ik_flag_test(b->update_flags, IK_UPD_COLOR_CORRECTION));
	EXPECT_EQ(word(b, IK_SEC_CC, 0), 0u);
	EXPECT_EQ(word(b, IK_SEC_CC, 1), 1u);
	EXPECT_EQ(word(b, IK_SEC_CC, 2), 0x10000u);
	EXPECT_EQ(word(b, IK_SEC_CC, 3), 0x10000u);
	EXPECT_EQ(word(b, IK_SEC_CC, 4), 0x10000u);
	build();
	const uint8_t *blk = table_block();
	EXPECT_EQ(memcmp(blk + 62252, t.data() + 128, IK_CC_3D_TBL_SIZE), 0);
	EXPECT_EQ(memcmp(blk + 59948, f.data() + 12, IK_CC_REG_TBL_SIZE), 0);

	img_dsp_color_correction got{};
	ASSERT_EQ(vors_img_dsp_get_color_correction(&m, &got), 0);
	EXPECT_EQ(got.MatrixThreeDTableAddr, (uint64_t)(uintptr_t)b->blk.cc_table_copy);
	EXPECT_EQ(memcmp(b->blk.cc_table_copy, t.data(), t.size()), 0);

	/* with the tone curve loaded the section is complete */
	img_dsp_tone_curve tc{};
	ASSERT_EQ(vors_img_dsp_set_tone_curve(kFd, &m, &tc), 0);
	ASSERT_EQ(img_dsp_core_check_set_color_correction(&m, &cc, &list), 0);
	EXPECT_EQ(list.entry[0].valid, 1u);

	/* the DSP's own 3-D table as input */
	uint8_t *own = (uint8_t *)(uintptr_t)region_->user() +
	               (word(b, IK_SEC_CC, IK_SECW_CC_3D) - region_->phys_addr());
	const uint32_t head[3] = {1, 3, 0};
	memcpy(own - 128, head, sizeof(head));
	uint8_t *reg_tbl = (uint8_t *)(uintptr_t)region_->user() +
	                   (word(b, IK_SEC_CC, IK_SECW_CC_REG) - region_->phys_addr());
	std::vector<uint8_t> reg_before(reg_tbl, reg_tbl + IK_CC_REG_TBL_SIZE);
	img_dsp_color_correction inner{(uint64_t)(uintptr_t)(own - 128)};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_color_correction(kFd, &m, &inner), -1);
	EXPECT_NE(out.text().find("Using IMGDSP interal memory as Color correction input is not allowed!\n"),
	          std::string::npos);
	EXPECT_EQ(memcmp(b->blk.cc_table_copy, t.data(), t.size()), 0);
	EXPECT_EQ(std::vector<uint8_t>(reg_tbl, reg_tbl + IK_CC_REG_TBL_SIZE), reg_before);
}

TEST_F(IkColor, ColorCorrectionSecondaryStoreOnTheStillPipe)
{
	up();
	img_dsp_mode m = mode(1, 0);
	std::vector<uint8_t> f = reg_file(4, 0);
	img_dsp_color_correction_reg r{(uint64_t)(uintptr_t)f.data()};
	ASSERT_EQ(vors_img_dsp_set_color_correction_reg(&m, &r), 0);
	ik_ctx_body *b = body(1);
	memset(b->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	std::vector<uint8_t> before = sections(1);
	std::vector<uint8_t> t = cc_table(4, 0, 1);
	img_dsp_color_correction cc{(uint64_t)(uintptr_t)t.data()};
	ASSERT_EQ(vors_img_dsp_set_color_correction(kFd, &m, &cc), 0);
	EXPECT_EQ(sections(1), before);
	EXPECT_FALSE(ik_flag_test(b->update_flags, IK_UPD_COLOR_CORRECTION));
	EXPECT_EQ(b->blk.cc_hiso_3d_loaded, 1);
	EXPECT_EQ(b->blk.cc_3d_loaded, 0);
	EXPECT_EQ(memcmp(b->blk.cc_hiso_table, t.data(), t.size()), 0);
}

/* ---- chroma median and variable range ---- */

TEST_F(IkColor, ChromaMedianTablesOfABuiltConfiguration)
{
	struct Case {
		const char *what;
		img_dsp_chroma_median_filter in;
		std::vector<uint16_t> cb_words; /* words 0-2 */
		bool all;                       /* every word equals word 0 */
	} cases[] = {
	    {"rounded mean of rows 1 and 2",
	     {1, 128, 128, 0, 0, 256, 256, {}},
	     {0x7FBA, 0x7B4E, 0x760A},
	     false},
	    {"strongest", {1, 256, 256, 0, 0, 256, 256, {}}, {0x7FFF, 0x7FFF, 0x7FFF}, true},
	    {"fixed coefficients", {1, 200, 17, 5, 5, 0, 0, {}}, {0x14A5, 0x14A5, 0x14A5}, true},
	    {"adaptive zero", {1, 0, 0, 9, 9, 256, 256, {}}, {0, 0, 0}, true},
	    {"off", {0, 256, 256, 31, 31, 256, 256, {}}, {0, 0, 0}, true},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_chroma_median_filter f = c.in;
		ASSERT_EQ(vors_img_dsp_set_chroma_median_filter(kFd, &m, &f), 0) << c.what;
		const uint8_t *main = build();
		const uint8_t *k = table_block() + 81196;
		uint16_t w[24];
		memcpy(w, k, sizeof(w));
		EXPECT_EQ(std::vector<uint16_t>(w, w + 3), c.cb_words) << c.what;
		if (c.all) {
			EXPECT_EQ(std::vector<uint16_t>(w, w + 24), std::vector<uint16_t>(24, w[0]))
			    << c.what;
		}
		uint16_t use;
		memcpy(&use, main + 356 + offsetof(ik_liso_liso, use_flags), 2);
		EXPECT_EQ((use >> 9) & 1u, c.in.Enable ? 1u : 0u) << c.what;
		const uint8_t *sec = (const uint8_t *)body()->sec[IK_SEC_CHROMA_MEDIAN].word;
		uint16_t head[2];
		memcpy(head, sec + 4, 4);
		EXPECT_EQ(head[0], 0u) << c.what;
		EXPECT_EQ(head[1], c.in.Enable ? 2u : 0u) << c.what;
		uint16_t consts[8];
		memcpy(consts, sec + 12, sizeof(consts));
		const uint16_t want[8] = {33, 81, 33, 81, 40, 130, 40, 130};
		EXPECT_EQ(memcmp(consts, want, sizeof(want)), 0) << c.what;
	}
}

TEST_F(IkColor, ChromaMedianCrCoefficientsFollowTheCbOnes)
{
	up();
	img_dsp_mode m = mode(1, 0);
	img_dsp_chroma_median_filter f{1, 0, 0, 3, 7, 0, 0, {}};
	ASSERT_EQ(vors_img_dsp_set_chroma_median_filter(kFd, &m, &f), 0);
	/* the still pipe's tables lie in its context */
	img_dsp_ctx_id cid{1, 0, {}};
	void *ctx = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&cid, &ctx), 0);
	const uint8_t *k = (const uint8_t *)ctx + IK_STILL_CHROMA_MEDIAN_K;
	uint16_t w[24];
	memcpy(w, k, sizeof(w));
	/* c[0..8] Cb = 3, c[9..17] Cr = 7: word 3 holds c[9..11] */
	EXPECT_EQ(w[0], 3u | 3u << 5 | 3u << 10);
	EXPECT_EQ(w[2], 3u | 3u << 5 | 3u << 10);
	EXPECT_EQ(w[3], 7u | 7u << 5 | 7u << 10);
	EXPECT_EQ(w[5], 7u | 7u << 5 | 7u << 10);
	EXPECT_EQ(w[6], 3u | 3u << 5 | 3u << 10);
}

TEST_F(IkColor, ChromaMedianClamps)
{
	struct Case {
		img_dsp_chroma_median_filter in;
		img_dsp_chroma_median_filter stored;
		const char *msg;
	} cases[] = {
	    {{2, 0, 0, 0, 0, 0, 0, {}}, {1, 0, 0, 0, 0, 0, 0, {}}, "enable=2 should be within [0:1] in "},
	    {{-1, 0, 0, 0, 0, 0, 0, {}}, {1, 0, 0, 0, 0, 0, 0, {}}, "enable=-1 should be within [0:1] in "},
	    {{1, 257, 0, 0, 0, 0, 0, {}},
	     {1, 256, 0, 0, 0, 0, 0, {}},
	     "CbAdaptiveStrength=257 should be within [0:256] in "},
	    {{1, 0, 300, 0, 0, 0, 0, {}},
	     {1, 0, 256, 0, 0, 0, 0, {}},
	     "CrAdaptiveStrength=300 should be within [0:256] in "},
	    {{1, 0, 0, 32, 0, 0, 0, {}},
	     {1, 0, 0, 31, 0, 0, 0, {}},
	     "CbNonAdaptiveStrength=32 should be within [0:31] in "},
	    {{1, 0, 0, 0, 255, 0, 0, {}},
	     {1, 0, 0, 0, 31, 0, 0, {}},
	     "CrNonAdaptiveStrength=255 should be within [0:31] in "},
	    {{1, 0, 0, 0, 0, 999, 0, {}},
	     {1, 0, 0, 0, 0, 256, 0, {}},
	     "CbAdaptiveAmount=999 should be within [0:256] in "},
	    {{1, 0, 0, 0, 0, 0, 257, {}},
	     {1, 0, 0, 0, 0, 0, 256, {}},
	     "CrAdaptiveAmount=257 should be within [0:256] in "},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_chroma_median_filter f = c.in;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_chroma_median_filter(kFd, &m, &f), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(
		    has_msg(out.text(), "[IK][Warning]img_dsp_core_check_set_chroma_median_filter() ", c.msg))
		    << c.msg;
		img_dsp_chroma_median_filter got{};
		ASSERT_EQ(vors_img_dsp_get_chroma_median_filter(&m, &got), 0);
		EXPECT_EQ(memcmp(&got, &c.stored, sizeof(got)), 0) << c.msg;
	}
}

TEST_F(IkColor, VariableRange)
{
	struct Case {
		img_dsp_variable_range in;
		int rc;
		const char *msg;
	} cases[] = {
	    {{96, 0, {}}, -1, "[Error] max_chroma_radius = 96 should be equal to 32/64/128 in "},
	    {{64, 2, {}}, -1, "[Warning] inside_fpn_flag=2 should be equal to 0/1 in "},
	    {{0, 5, {}}, -1, "[Warning] inside_fpn_flag=5 should be equal to 0/1 in "},
	    {{64, 1, {7, 9}}, 0, nullptr},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		img_dsp_variable_range before = body()->blk.variable_range;
		img_dsp_variable_range v = c.in;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_variable_range(&m, &v), c.rc);
		const img_dsp_variable_range &now = body()->blk.variable_range;
		if (c.msg) {
			EXPECT_TRUE(
			    has_msg(out.text(), "[IK][Error]img_dsp_core_check_set_variable_range() ", c.msg))
			    << c.msg;
			EXPECT_EQ(memcmp(&now, &before, sizeof(now)), 0) << c.msg;
			EXPECT_FALSE(ik_flag_test(body()->update_flags, IK_UPD_VARIABLE_RANGE)) << c.msg;
		} else {
			EXPECT_EQ(memcmp(&now, &c.in, sizeof(now)), 0);
			EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_VARIABLE_RANGE));
		}
	}
	/* both wrong: both messages */
	img_dsp_mode m = mode(0, 0);
	img_dsp_variable_range v{100, 3, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_variable_range(&m, &v), -1);
	std::string t = out.text();
	EXPECT_NE(t.find("max_chroma_radius = 100"), std::string::npos);
	EXPECT_NE(t.find("inside_fpn_flag=3"), std::string::npos);
}

/* ---- chroma filter ---- */

TEST_F(IkColor, ChromaFilterGoldenBytesOfABuiltConfiguration)
{
	up();
	img_dsp_mode m = mode(0, 0);
	img_dsp_variable_range v{64, 0, {}};
	ASSERT_EQ(vors_img_dsp_set_variable_range(&m, &v), 0);
	RecordingIoctl::reply = [](unsigned long req, void *arg) {
		if (req == 0xC0085616ul)
			((uint8_t *)arg)[0] = 2;
	};
	RecordingIoctl::payload_size = 36;
	img_dsp_chroma_filter f{1, 40, 50, 0, 24, 256, 192, {}};
	ASSERT_EQ(vors_img_dsp_set_chroma_filter(kFd, &m, &f), 0);
	ASSERT_EQ(RecordingIoctl::calls.size(), 1u);
	EXPECT_EQ(RecordingIoctl::calls[0].fd, kFd);
	EXPECT_EQ(RecordingIoctl::calls[0].request, 0xC0085616ul);
	std::vector<uint8_t> query(36, 0);
	query[0] = 0xFF;
	EXPECT_EQ(RecordingIoctl::calls[0].payload, query);
	img_dsp_ctx_id cid{0, 0, {}};
	void *ctx = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&cid, &ctx), 0);
	EXPECT_EQ(((ik_ctx_head *)ctx)->encode_mode, 2);
	RecordingIoctl::reply = nullptr;
	RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	RecordingIoctl::calls.clear();

	const uint8_t *main = build();
	const uint8_t want[8] = {0x40, 0x00, 0x28, 0x32, 0x18, 0x00, 0x00, 0x01};
	EXPECT_EQ(memcmp(main + 356 + 136, want, 8), 0);
	const uint8_t *sec = (const uint8_t *)body()->sec[IK_SEC_CHROMA_FILTER].word;
	const uint8_t want_sec[20] = {1, 64, 2, 0, 40, 0, 50, 0, 2, 0, 5, 0, 0, 0, 0, 0, 63, 0, 63, 0};
	EXPECT_EQ(memcmp(sec + 4, want_sec, 20), 0);
}

TEST_F(IkColor, ChromaFilterClampsAndShifts)
{
	struct Case {
		img_dsp_chroma_filter in;
		int rc;
		const char *msg;
		uint16_t radius; /* stored */
		uint8_t sec_radius;
		uint16_t shift_cb, shift_cr;
	} cases[] = {
	    {{1, 0, 0, 0, 7, 8, 16, {}},
	     IMG_DSP_CLAMPED,
	     "Radius=16 should be one of  [32:192] in ",
	     32,
	     32,
	     0,
	     1},
	    {{1, 0, 0, 0, 24, 256, 200, {}},
	     IMG_DSP_CLAMPED,
	     "Radius=200 should be one of  [32:192] in ",
	     192,
	     128,
	     2,
	     5},
	    {{3, 0, 0, 0, 0, 0, 64, {}},
	     IMG_DSP_CLAMPED,
	     "Enable=3 should be within [0:1] in ",
	     64,
	     64,
	     0,
	     0},
	    {{1, 0, 0, 0, 300, 0, 64, {}},
	     IMG_DSP_CLAMPED,
	     "OriginalBlendStrengthCb = 300 should be within [0:256] in ",
	     64,
	     64,
	     5,
	     0},
	    {{1, 0, 0, 0, 0, 257, 64, {}},
	     IMG_DSP_CLAMPED,
	     "OriginalBlendStrengthCr = 257 should be within [0:256] in ",
	     64,
	     64,
	     0,
	     5},
	    {{0, 9, 9, 0, 15, 16, 100, {}}, 0, nullptr, 100, 32, 1, 1},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_chroma_filter f = c.in;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_chroma_filter(kFd, &m, &f), c.rc);
		std::string t = out.text();
		if (c.msg) {
			EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_chroma_filter() ", c.msg))
			    << c.msg;
		}
		img_dsp_chroma_filter got{};
		ASSERT_EQ(vors_img_dsp_get_chroma_filter(&m, &got), 0);
		EXPECT_EQ(got.Radius, c.radius);
		const uint8_t *sec = (const uint8_t *)body()->sec[IK_SEC_CHROMA_FILTER].word;
		EXPECT_EQ(sec[5], c.sec_radius);
		uint16_t shifts[2];
		memcpy(shifts, sec + 12, 4);
		EXPECT_EQ(shifts[0], c.shift_cb);
		EXPECT_EQ(shifts[1], c.shift_cr);
	}
	/* no block: refused after the query */
	img_dsp_mode m = mode(0, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_chroma_filter(kFd, &m, nullptr), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_process_chroma_filter() ",
	                    "p_chroma_filter is NULL in img_dsp_core_process_chroma_filter\n\n"));
}

/* ---- chroma scale ---- */

TEST_F(IkColor, ChromaScaleGoldenBytesOfABuiltConfiguration)
{
	struct Case {
		uint8_t enb;
		uint8_t want[20];
	} cases[] = {
	    {1, {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0xD4, 0xFF, 0xE3, 0, 0xB3, 0, 0xA5, 0xFF, 0, 0}},
	    {0, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0xD4, 0xFF, 0xE4, 0, 0xB4, 0, 0xA4, 0xFF, 0, 0}},
	};
	up();
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_chroma_scale cs{};
		cs.Enb = c.enb;
		for (uint16_t i = 0; i < 128; i++)
			cs.GainCurve[i] = (uint16_t)(32 * i);
		ASSERT_EQ(vors_img_dsp_set_chroma_scale(kFd, &m, &cs), 0);
		EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_CHROMA_SCALE));
		const uint8_t *main = build();
		EXPECT_EQ(memcmp(main + 188 + 84, c.want, 20), 0) << (int)c.enb;
		uint16_t gains[128];
		memcpy(gains, table_block() + 59692, sizeof(gains));
		for (uint16_t i = 0; i < 128; i++)
			EXPECT_EQ(gains[i], 32 * i);
	}
}

TEST_F(IkColor, ChromaScaleClamps)
{
	up();
	img_dsp_mode m = mode(1, 0);
	img_dsp_chroma_scale cs{};
	cs.Enb = 2;
	cs.GainCurve[5] = 4096;
	cs.GainCurve[127] = 0xFFFF;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_chroma_scale(kFd, &m, &cs), IMG_DSP_CLAMPED);
	std::string t = out.text();
	const char *head = "[IK][Warning]img_dsp_core_check_set_chroma_scale() ";
	EXPECT_TRUE(has_msg(t, head, "Enb=2 should be within [0:1] in "));
	EXPECT_TRUE(has_msg(t, head, "GainCurve[5]=4096 should be within [0:4095] in "));
	EXPECT_TRUE(has_msg(t, head, "GainCurve[127]=65535 should be within [0:4095] in "));
	img_dsp_chroma_scale got{};
	ASSERT_EQ(vors_img_dsp_get_chroma_scale(&m, &got), 0);
	EXPECT_EQ(got.Enb, 1);
	EXPECT_EQ(got.GainCurve[5], 4095);
	EXPECT_EQ(got.GainCurve[127], 4095);
	int16_t w[6];
	memcpy(w, (const uint8_t *)body(1)->sec[IK_SEC_CHROMA_SCALE].word + 12, sizeof(w));
	EXPECT_EQ(std::vector<int16_t>(w, w + 6), (std::vector<int16_t>{0, -44, 227, 179, -91, 0}));
	EXPECT_EQ(vors_img_dsp_set_chroma_scale(kFd, &m, nullptr), -1);
}

} // namespace

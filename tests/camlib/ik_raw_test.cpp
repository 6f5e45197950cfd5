/* The raw stage: black levels, bad pixels, the CFA filters, anti-aliasing and
 * leakage, local exposure, contrast enhancement and vignette compensation,
 * checked on their sections and on the bytes of a built configuration. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_liso_layout.h"
#include "ik_raw.h"
#include "ik_test_support.h"
#include "img_dsp_raw.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

constexpr int kFd = 5;
constexpr size_t kCommon = 56, kColor = 188, kLiso = 356;

std::vector<uint8_t> bytes_at(const void *p, size_t n)
{
	const uint8_t *b = (const uint8_t *)p;
	return std::vector<uint8_t>(b, b + n);
}

/* A library message "...() <line> <tail>" from any function. */
bool said(const std::string &text, const std::string &tail)
{
	return has_msg(text, "() ", tail);
}

void expect_said(const std::string &text, std::initializer_list<const char *> tails)
{
	for (const char *t : tails)
		EXPECT_TRUE(said(text, t)) << t;
}

class IkRaw : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 1, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
		for (uint32_t pipe = 0; pipe < 3; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
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
	void *ctx(uint32_t pipe = 0)
	{
		img_dsp_ctx_id cid{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return c;
	}
	ik_ctx_body *body(uint32_t pipe = 0)
	{
		return ik_body(pipe, ctx(pipe));
	}
	uint8_t *sec(enum ik_section s, uint32_t pipe = 0)
	{
		return ik_sec_bytes(body(pipe)->sec, s);
	}
	void pattern(uint32_t pipe, uint8_t p)
	{
		img_dsp_mode m = mode(pipe, 0);
		img_dsp_vin_sensor_info v{};
		v.FieldFormat = 1;
		v.Resolution = 14;
		v.Pattern = p;
		ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m, &v), 0);
	}
	void black(uint32_t pipe, int16_t level)
	{
		img_dsp_mode m = mode(pipe, 0);
		img_dsp_static_black_level b{level, level, level, level};
		ASSERT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), 0);
	}
	void deferred(uint32_t pipe, uint8_t enb)
	{
		img_dsp_mode m = mode(pipe, 0);
		img_dsp_deferred_black_level d{enb, 0};
		ASSERT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, &d), 0);
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
	bool flag(unsigned f, uint32_t pipe = 0)
	{
		return ik_flag_test(body(pipe)->update_flags, f) != 0;
	}
	void clear_flags(uint32_t pipe)
	{
		memset(body(pipe)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
	const uint16_t *dbp_table(unsigned word)
	{
		return (const uint16_t *)ik_user(body()->sec[IK_SEC_DBP].word[word]);
	}
};

/* ---- black levels ---- */

TEST_F(IkRaw, StaticBlackLevelFollowsTheBayerPattern)
{
	const struct {
		uint8_t pattern;
		int32_t ee, eo, oe, oo;
	} cases[] = {
	    {0, -100, -101, -102, -103},
	    {1, -103, -102, -101, -100},
	    {2, -101, -100, -103, -102},
	    {3, -102, -103, -100, -101},
	};
	img_dsp_mode m = mode(0, 0);
	for (const auto &c : cases) {
		pattern(0, c.pattern);
		img_dsp_static_black_level b{-100, -101, -102, -103};
		ASSERT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), 0) << (int)c.pattern;
		int32_t got[4];
		memcpy(got, sec(IK_SEC_BLACK_LEVEL) + 4, sizeof(got));
		EXPECT_EQ(got[0], c.ee) << (int)c.pattern;
		EXPECT_EQ(got[1], c.eo) << (int)c.pattern;
		EXPECT_EQ(got[2], c.oe) << (int)c.pattern;
		EXPECT_EQ(got[3], c.oo) << (int)c.pattern;
	}
	pattern(0, 1);
	img_dsp_static_black_level b{-100, -101, -102, -103};
	ASSERT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), 0);
	const uint8_t *main = build();
	const std::vector<uint8_t> want = {0x99, 0xFF, 0xFF, 0xFF, 0x9A, 0xFF, 0xFF, 0xFF,
	                                   0x9B, 0xFF, 0xFF, 0xFF, 0x9C, 0xFF, 0xFF, 0xFF};
	EXPECT_EQ(bytes_at(main + kColor + 4, 16), want);
}

TEST_F(IkRaw, StaticBlackLevelRefusesAnUnknownPattern)
{
	pattern(0, 4);
	clear_flags(0);
	img_dsp_mode m = mode(0, 0);
	img_dsp_static_black_level b{-100, -101, -102, -103};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), -1);
	EXPECT_TRUE(said(out.text(), "Incorrect pattern 4\n"));
	EXPECT_EQ(bytes_at(sec(IK_SEC_BLACK_LEVEL) + 4, 16), std::vector<uint8_t>(16, 0));
	EXPECT_FALSE(flag(IK_UPD_BLACK_LEVEL));
	img_dsp_static_black_level got{};
	ASSERT_EQ(vors_img_dsp_get_static_black_level(&m, &got), 0);
	EXPECT_EQ(got.BlackGb, -102) << "the block stays stored";
}

TEST_F(IkRaw, StaticBlackLevelClampsAndRefreshesStatisticsOnlyWhenTakenAsGiven)
{
	img_dsp_mode m = mode(1, 0);
	m.BatchId = 0;
	clear_flags(1);
	img_dsp_static_black_level b{2048, 0, 0, -2049};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), IMG_DSP_CLAMPED);
	std::string text = out.text();
	EXPECT_TRUE(said(text, "BlackR 2048 should be within [-2048:2047] in "));
	EXPECT_TRUE(said(text, "BlackB -2049 should be within [-2048:2047] in "));
	EXPECT_EQ(b.BlackR, 2047);
	EXPECT_EQ(b.BlackB, -2048);
	img_dsp_static_black_level got{};
	ASSERT_EQ(vors_img_dsp_get_static_black_level(&m, &got), 0);
	EXPECT_EQ(got.BlackR, 2047);
	EXPECT_EQ(got.BlackB, -2048);
	EXPECT_FALSE(flag(IK_UPD_AAA_STATISTICS, 1)) << "a clamped block does not refresh";

	img_dsp_static_black_level ok{-16, -16, -16, -16};
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &ok), 0);
	EXPECT_TRUE(flag(IK_UPD_AAA_STATISTICS, 1));
	clear_flags(1);
	m.BatchId = IMG_DSP_BATCH_NONE;
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &ok), 0);
	EXPECT_FALSE(flag(IK_UPD_AAA_STATISTICS, 1)) << "no batch, no refresh";
}

TEST_F(IkRaw, StaticBlackLevelOfAnHdrVideoChannelGoesToTheHdrRecords)
{
	pattern(0, 0);
	img_dsp_mode m = mode(0, 0);
	m.FuncMode = IMG_DSP_FUNC_NO_HDR;
	img_dsp_static_black_level b{-10, -11, -12, -13};
	ASSERT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), 0);
	EXPECT_EQ(memcmp(body()->blk.hdr.post_static_black_level, &b, sizeof(b)), 0);
	int32_t ee;
	memcpy(&ee, sec(IK_SEC_BLACK_LEVEL) + 4, 4);
	EXPECT_EQ(ee, -10);
}

TEST_F(IkRaw, RawSettersAndGettersRefuseOtherPipesAndNullBlocks)
{
	img_dsp_mode dec = mode(2, 0);
	img_dsp_mode m = mode(0, 0);
	img_dsp_static_black_level b{};
	img_dsp_deferred_black_level d{};
	img_dsp_dgain_saturation_level s{};
	img_dsp_dbp_correction dbp{};
	img_dsp_demosaic dm{};
	img_dsp_cfa_noise_filter cn{};
	img_dsp_anti_aliasing aa{};
	img_dsp_local_exposure le{};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &dec, &b), -1);
	EXPECT_EQ(vors_img_dsp_get_static_black_level(&dec, &b), -1);
	EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &dec, &d), -1);
	EXPECT_EQ(vors_img_dsp_get_deferred_black_level(&dec, &d), -1);
	EXPECT_EQ(vors_img_dsp_set_dgain_saturation_level(kFd, &dec, &s), -1);
	EXPECT_EQ(vors_img_dsp_get_dgain_saturation_level(&dec, &s), -1);
	EXPECT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &dec, &dbp), -1);
	EXPECT_EQ(vors_img_dsp_set_demosaic(kFd, &dec, &dm), -1);
	EXPECT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &dec, &cn), -1);
	EXPECT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &dec, &aa), -1);
	EXPECT_EQ(vors_img_dsp_set_local_exposure(kFd, &dec, &le), -1);
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_dgain_saturation_level(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_demosaic(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_demosaic_internal(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_gbgr_mismatch(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_luma_processing_mode(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_cfa_leakage_filter(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_vignette_compensation_bypass(kFd, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_static_black_level(&m, nullptr), -1);
	std::string text = out.text();
	EXPECT_TRUE(said(text, "does not support pipe\n")) << "the saturation step's own wording";
	expect_said(text, {"does not support pipe 2\n", "p_black_corr is NULL in ", "p_dgain_sat is NULL in ",
	                   "p_black_corr is empty\n"});
}

/* Deferred on with unit gains and black levels of -256: every step that
 * reads the deferred table moves with it. */
TEST_F(IkRaw, DeferredBlackLevelReRunsEveryDependantStep)
{
	img_dsp_mode m = mode(0, 0);
	pattern(0, 0);
	img_dsp_dgain_saturation_level sat{16383, 16383, 16383, 16383};
	ASSERT_EQ(vors_img_dsp_set_dgain_saturation_level(kFd, &m, &sat), 0);
	img_dsp_local_exposure le{};
	le.Enb = 1;
	le.Radius = 6;
	le.LumaWeightRed = le.LumaWeightGreen = le.LumaWeightBlue = 8;
	ASSERT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, &le), 0);
	img_dsp_dbp_correction dbp{1, 1, 1, 0};
	ASSERT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &dbp), 0);
	black(0, -256);
	int16_t offset;
	memcpy(&offset, sec(IK_SEC_LOCAL_EXPOSURE) + 16, 2);
	EXPECT_EQ(offset, 0) << "a zero deferred table";
	EXPECT_EQ(dbp_table(IK_SECW_DBP_HOT)[32], 172);
	const std::vector<uint16_t> before_sat(body()->sec[IK_SEC_DGAIN_SATURATION].word + 1,
	                                       body()->sec[IK_SEC_DGAIN_SATURATION].word + 5);
	EXPECT_EQ(before_sat, std::vector<uint16_t>(4, 16383));

	clear_flags(0);
	deferred(0, 1);
	const int16_t want_table[9] = {256, 256, 256, 256, 256, 256, 256, 256, 256};
	EXPECT_EQ(memcmp(body()->blk.deferred_black_level_table, want_table, sizeof(want_table)), 0);
	for (unsigned f : {IK_UPD_DEFERRED_BLACK_LEVEL, IK_UPD_BLACK_LEVEL, IK_UPD_DBP,
	                   IK_UPD_DGAIN_SATURATION, IK_UPD_LOCAL_EXPOSURE, IK_UPD_CFA_NOISE})
		EXPECT_TRUE(flag(f)) << f;
	EXPECT_NE(dbp_table(IK_SECW_DBP_HOT)[32], 172) << "the thresholds move with the black level";
	uint8_t cfa_enable = sec(IK_SEC_CFA_NOISE_FILTER)[IK_SECB_CFA_NOISE_ENABLE] & 3u;
	EXPECT_EQ(cfa_enable, 1) << "the CFA noise block runs in pass mode";

	const uint8_t *main = build();
	std::vector<uint8_t> nine;
	for (int i = 0; i < 9; i++) {
		nine.push_back(0x00);
		nine.push_back(0x01);
	}
	EXPECT_EQ(bytes_at(main + kColor + 20, 18), nine);
	std::vector<uint8_t> sat_bytes;
	for (int i = 0; i < 4; i++) {
		sat_bytes.push_back(0xFF);
		sat_bytes.push_back(0x40);
	}
	EXPECT_EQ(bytes_at(main + kColor + 146, 8), sat_bytes);
	EXPECT_EQ(bytes_at(main + kColor + 76, 2), (std::vector<uint8_t>{0x00, 0x80}));

	deferred(0, 0);
	EXPECT_EQ(std::vector<int16_t>(body()->blk.deferred_black_level_table,
	                               body()->blk.deferred_black_level_table + 9),
	          std::vector<int16_t>(9, 0));
	memcpy(&offset, sec(IK_SEC_LOCAL_EXPOSURE) + 16, 2);
	EXPECT_EQ(offset, 0);
}

TEST_F(IkRaw, DeferredBlackLevelWithZeroGainsTakesTheWholeLevel)
{
	black(0, -300);
	body()->blk.wb_gain = img_dsp_wb_gain{0, 0, 0, 0, 0};
	deferred(0, 1);
	const int16_t *t = body()->blk.deferred_black_level_table;
	EXPECT_EQ(t[0], 300);
	EXPECT_EQ(t[1], 300);
	EXPECT_EQ(t[2], 300);
	EXPECT_EQ(t[3], 0);
	EXPECT_EQ(t[4], 0);
	EXPECT_EQ(t[5], 0);
	EXPECT_EQ(t[6], 300);
}

TEST_F(IkRaw, DeferredBlackLevelClampsAndRefreshesStatisticsOnTheStillPipe)
{
	img_dsp_mode m = mode(1, 0);
	m.BatchId = 0;
	clear_flags(1);
	img_dsp_deferred_black_level d{1, 7};
	EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, &d), 0);
	EXPECT_TRUE(flag(IK_UPD_AAA_STATISTICS, 1));
	img_dsp_deferred_black_level got{};
	ASSERT_EQ(vors_img_dsp_get_deferred_black_level(&m, &got), 0);
	EXPECT_EQ(got.Enb, 1);
	EXPECT_EQ(got.reserved, 7) << "the second byte is kept";

	clear_flags(1);
	img_dsp_deferred_black_level big{3, 0};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, &big), IMG_DSP_CLAMPED);
	EXPECT_TRUE(said(out.text(), "Enable=3 should be within [0:1] in "));
	EXPECT_EQ(big.Enb, 1);
	EXPECT_FALSE(flag(IK_UPD_AAA_STATISTICS, 1));
	EXPECT_TRUE(flag(IK_UPD_DEFERRED_BLACK_LEVEL, 1));
}

TEST_F(IkRaw, SaturationLevelsClampAndRiseWithTheGainDependentOffsets)
{
	img_dsp_mode m = mode(0, 0);
	body()->blk.deferred_black_level_table[3] = 10;
	body()->blk.deferred_black_level_table[5] = -5;
	img_dsp_dgain_saturation_level s{32767, 40000, 100, 200};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_dgain_saturation_level(kFd, &m, &s), IMG_DSP_CLAMPED);
	EXPECT_TRUE(said(out.text(), "LevelGreenEven 40000 should be within [0:32767] in "));
	const uint32_t *w = body()->sec[IK_SEC_DGAIN_SATURATION].word;
	EXPECT_EQ(w[1], 32767u);
	EXPECT_EQ(w[2], 32767u);
	EXPECT_EQ(w[3], 100u);
	EXPECT_EQ(w[4], 195u);
	img_dsp_dgain_saturation_level got{};
	ASSERT_EQ(vors_img_dsp_get_dgain_saturation_level(&m, &got), 0);
	EXPECT_EQ(got.LevelGreenEven, 32767u);
}

/* ---- local exposure and contrast enhancement ---- */

TEST_F(IkRaw, LocalExposureLumaOffset)
{
	const struct {
		bool deferred;
		uint8_t weight, radius, shift;
		std::vector<uint8_t> want;
	} cases[] = {
	    {true, 8, 6, 0, {0x00, 0x80}},
	    {true, 16, 0, 4, {0x00, 0xFF}},
	    {false, 16, 0, 4, {0x00, 0x00}},
	    {true, 8, 6, 31, {0xFF, 0xFF}}, /* a shift past the word keeps the sign */
	};
	img_dsp_mode m = mode(0, 0);
	for (const auto &c : cases) {
		black(0, -256);
		deferred(0, c.deferred ? 1 : 0);
		img_dsp_local_exposure le{};
		le.Enb = 1;
		le.Radius = c.radius;
		le.LumaWeightRed = le.LumaWeightGreen = le.LumaWeightBlue = c.weight;
		le.LumaWeightShift = c.shift;
		for (int i = 0; i < 256; i++)
			le.GainCurveTable[i] = (uint16_t)(i * 3);
		ASSERT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, &le), 0);
		EXPECT_EQ(bytes_at(sec(IK_SEC_LOCAL_EXPOSURE) + 16, 2), c.want) << (int)c.weight;
	}
	const uint8_t *main = build();
	EXPECT_EQ(main[kColor + offsetof(ik_liso_color, le_enable)], 1);
	uint32_t addr;
	memcpy(&addr, main + kColor + offsetof(ik_liso_color, gain_curve_table_addr), 4);
	const uint16_t *gain = (const uint16_t *)ik_user(addr);
	ASSERT_NE(gain, nullptr);
	EXPECT_EQ(gain[255], 765);
}

TEST_F(IkRaw, LocalExposureKeepsTheCfaNoiseBlockRunning)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_cfa_noise_filter off{};
	off.NoiseLevel[0] = 1000;
	ASSERT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &off), 0);
	ASSERT_EQ(sec(IK_SEC_CFA_NOISE_FILTER)[IK_SECB_CFA_NOISE_ENABLE] & 3u, 0u);
	const struct {
		uint8_t enb, want;
	} cases[] = {{1, 1}, {0, 0}};
	for (const auto &c : cases) {
		img_dsp_local_exposure le{};
		le.Enb = c.enb;
		clear_flags(0);
		ASSERT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, &le), 0);
		ik_cfa_noise_filter_cmd cmd;
		memcpy(&cmd, sec(IK_SEC_CFA_NOISE_FILTER), sizeof(cmd));
		EXPECT_EQ(cmd.bits0 & 3u, c.want) << (int)c.enb;
		EXPECT_EQ(cmd.thresh_fine_red, 0) << (int)c.enb;
		EXPECT_TRUE(flag(IK_UPD_CFA_NOISE)) << "the CFA noise step re-ran";
	}
}

TEST_F(IkRaw, LocalExposureClampsAndGetterReturnsTheClampedBlock)
{
	img_dsp_mode m = mode(1, 0);
	img_dsp_local_exposure le{};
	le.Enb = 2;
	le.Radius = 7;
	le.LumaWeightGreen = 32;
	le.LumaWeightShift = 40;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, &le), IMG_DSP_CLAMPED);
	std::string text = out.text();
	expect_said(text, {"enable 2 should be within [0:1] in ", "radius 7 should be within [0:6] in ",
	                   "LumaWeightGreen 32 should be within [0:31] in ",
	                   "LumaWeightShift 40 should be within [0:31] in "});
	img_dsp_local_exposure got{};
	ASSERT_EQ(vors_img_dsp_get_local_exposure(&m, &got), 0);
	EXPECT_EQ(got.Enb, 1);
	EXPECT_EQ(got.Radius, 6);
	EXPECT_EQ(got.LumaWeightGreen, 31);
	EXPECT_EQ(got.LumaWeightShift, 31);
}

TEST_F(IkRaw, ContrastEnhancementClampsRadiusAndServesOnlyTheVideoPipe)
{
	const struct {
		uint8_t radius, stored;
		int rc;
	} cases[] = {{40, 31, IMG_DSP_CLAMPED}, {0, 0, 0}, {1, 1, 0}};
	img_dsp_mode m = mode(0, 0);
	for (const auto &c : cases) {
		img_dsp_contrast_enhance ce{};
		ce.low_pass_radius = c.radius;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_contrast_enhance(kFd, &m, &ce), c.rc) << (int)c.radius;
		std::string text = out.text();
		EXPECT_EQ(said(text, "contrast_enhance.low_pass_radius 40 should be within [1:31] in "),
		          c.rc != 0);
		img_dsp_contrast_enhance got{};
		ASSERT_EQ(vors_img_dsp_get_contrast_enhance(&m, &got), 0);
		EXPECT_EQ(got.low_pass_radius, c.stored);
	}
	img_dsp_contrast_enhance ce{};
	ce.fir_coeff[1] = 65;
	ce.coring_index_shift = 25;
	ce.output_shift = 13;
	ce.coring_gain_high_delta = 8;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance(kFd, &m, &ce), IMG_DSP_CLAMPED);
	std::string text = out.text();
	EXPECT_TRUE(said(text, "contrast_enhance.fir_coeff[1] 65 should be within [0:64] in "));
	EXPECT_TRUE(said(text, "contrast_enhance.coring_gain_delta_t1 8 should be within [0:7] in "));
	EXPECT_EQ(ce.coring_index_shift, 24);
	EXPECT_EQ(ce.output_shift, 12);
	EXPECT_TRUE(flag(IK_UPD_CONTRAST_ENHANCE));

	img_dsp_mode still = mode(1, 0);
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance(kFd, &still, &ce), 0);
	img_dsp_contrast_enhance got{};
	EXPECT_EQ(vors_img_dsp_get_contrast_enhance(&still, &got), -1);
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance(kFd, &m, nullptr), -1);
}

TEST_F(IkRaw, DecimationFactorIsWarnedAboutButKept)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_contrast_enhance_decimation_factor f{{9, 0, 8}, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance_internal_setting(kFd, &m, &f), 0);
	std::string text = out.text();
	EXPECT_TRUE(said(text, "contrast_enhance_decimation_factor.factor[0] 9 should be within [1:8] in "));
	EXPECT_FALSE(said(text, "contrast_enhance_decimation_factor.factor[1]"));
	EXPECT_EQ(body()->blk.contrast_enhance_decimation[0], 9);
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance_internal_setting(kFd, &m, nullptr), -1);
}

/* ---- bad pixels ---- */

TEST_F(IkRaw, DynamicThresholdsShiftWithTheDeferredBlackLevel)
{
	img_dsp_mode m = mode(0, 0);
	pattern(0, 0);
	black(0, -16);
	deferred(0, 1);
	ASSERT_EQ(body()->blk.deferred_black_level_table[1], 16);
	img_dsp_dbp_correction dbp{1, 1, 0, 0};
	ASSERT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &dbp), 0);
	const uint16_t *hot = dbp_table(IK_SECW_DBP_HOT);
	EXPECT_EQ(hot[32], 139) << "node 512 takes node 496";
	EXPECT_EQ(hot[48], 91) << "a tie goes to the lower node";
	EXPECT_EQ(sec(IK_SEC_DBP)[IK_SECB_DBP_MODE], 1);
	EXPECT_NE(sec(IK_SEC_DBP)[6] & 2u, 0u);
	const uint8_t *main = build();
	uint32_t addr;
	memcpy(&addr, main + kLiso + offsetof(ik_liso_liso, hot_pixel_threshold), 4);
	const uint16_t *built = (const uint16_t *)ik_user(addr);
	ASSERT_NE(built, nullptr);
	EXPECT_EQ((const uint8_t *)built, table_block() + 80428);
	EXPECT_EQ(built[32], 139);
	EXPECT_EQ(built[48], 91);
}

TEST_F(IkRaw, DynamicThresholdLevels)
{
	img_dsp_mode m = mode(1, 0);
	const int nodes[12] = {0, 31, 32, 47, 48, 63, 64, 79, 80, 95, 96, 127};
	const struct {
		uint8_t strength;
		uint16_t want[12];
	} rows[] = {
	    {1, {128, 139, 172, 182, 134, 167, 172, 238, 158, 254, 130, 223}},
	    {2, {53, 63, 84, 92, 57, 69, 71, 110, 65, 98, 50, 87}},
	    {5, {23, 32, 48, 54, 27, 31, 33, 58, 29, 40, 20, 35}},
	    {9, {11, 12, 16, 18, 10, 12, 12, 20, 11, 16, 9, 14}},
	    {10, {}},
	};
	for (const auto &r : rows) {
		img_dsp_dbp_correction dbp{1, r.strength, r.strength, 0};
		ASSERT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &dbp), 0);
		const uint16_t *hot =
		    (const uint16_t *)ik_user(body(1)->sec[IK_SEC_DBP].word[IK_SECW_DBP_HOT]);
		const uint16_t *dark =
		    (const uint16_t *)ik_user(body(1)->sec[IK_SEC_DBP].word[IK_SECW_DBP_DARK]);
		for (int c = 0; c < 3; c++)
			for (int i = 0; i < 12; i++) {
				EXPECT_EQ(hot[c * 128 + nodes[i]], r.want[i])
				    << (int)r.strength << " curve " << c;
				EXPECT_EQ(dark[c * 128 + nodes[i]], r.want[i])
				    << (int)r.strength << " curve " << c;
			}
	}
	/* every level at or above the next, strength 0 as strength 1 */
	std::vector<std::vector<uint16_t>> level(11);
	for (uint8_t s = 0; s <= 10; s++) {
		img_dsp_dbp_correction dbp{1, s, 0, 0};
		ASSERT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &dbp), 0);
		const uint16_t *hot =
		    (const uint16_t *)ik_user(body(1)->sec[IK_SEC_DBP].word[IK_SECW_DBP_HOT]);
		level[s].assign(hot, hot + 384);
	}
	EXPECT_EQ(level[0], level[1]);
	for (int s = 1; s < 10; s++)
		for (int k = 0; k < 384; k++)
			ASSERT_GE(level[s][k], level[s + 1][k]) << s << " node " << k;
}

TEST_F(IkRaw, DynamicCorrectionOffWithoutStrengthAndClamps)
{
	img_dsp_mode m = mode(0, 0);
	const struct {
		img_dsp_dbp_correction b;
		uint8_t mode;
		bool dynamic;
	} cases[] = {
	    {{3, 0, 0, 0}, 1, false},
	    {{0, 5, 5, 0}, 1, false},
	    {{4, 0, 2, 1}, 4, true},
	};
	for (const auto &c : cases) {
		img_dsp_dbp_correction b = c.b;
		ASSERT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &b), 0);
		EXPECT_EQ(sec(IK_SEC_DBP)[IK_SECB_DBP_MODE], c.mode);
		EXPECT_EQ((sec(IK_SEC_DBP)[6] & 2u) != 0, c.dynamic);
		EXPECT_EQ(sec(IK_SEC_DBP)[IK_SECB_DBP_METHOD], c.b.CorrectionMethod);
		EXPECT_EQ(body()->sec[IK_SEC_DBP].word[4], 0x00043489u);
		EXPECT_EQ(body()->sec[IK_SEC_DBP].word[5], 0x00043489u);
	}
	img_dsp_dbp_correction big{5, 11, 12, 2};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &big), IMG_DSP_CLAMPED);
	std::string text = out.text();
	expect_said(text,
	            {"Enb=5 should be within [0:4] in ", "CorrectionMethod=2 should be within [0:1] in ",
	             "HotPixelStrength=11 should be within [0:10] in ",
	             "DarkPixelStrength=12 should be within [0:10] in "});
	img_dsp_dbp_correction got{};
	ASSERT_EQ(vors_img_dsp_get_dynamic_bad_pixel_correction(&m, &got), 0);
	EXPECT_EQ(got.Enb, 4);
	EXPECT_EQ(got.DarkPixelStrength, 10);
	const uint16_t *hot = dbp_table(IK_SECW_DBP_HOT);
	EXPECT_EQ(std::vector<uint16_t>(hot, hot + 384), std::vector<uint16_t>(384, 0)) << "strength 10";
}

TEST_F(IkRaw, BypassMapChecksAndHighlightMode)
{
	img_dsp_mode m = mode(0, 0);
	uint8_t *map = ik_fpn_map(body());
	EXPECT_EQ(ik_phys(map) % 32u, 0u);
	map[0] = 0xAB;
	std::vector<uint8_t> src(64 * 4, 0x5A);
	const struct {
		img_dsp_sbp_bypass b;
		const char *msg;
	} refused[] = {
	    {{3, 0, 1921, 4, 256, src.data()}, "Bypass FPN map width 1921 must be multiple of 32\n"},
	    {{3, 0, 1920, 4, 250, src.data()}, "Bypass FPN pitch 250 must be multiple of 32 byte\n"},
	    {{3, 0, 1920, 4, 256, nullptr}, "Bypass pMap is a NULL pointer\n"},
	    {{2, 0, 1920, 4, 256, src.data()}, "Not a valid FPN pixel mode\n"},
	    {{3, 0, 1920, 6033, 256, src.data()},
	     "Bypass FPN map of 1544448 bytes exceeds the map area of 1544192 bytes\n"},
	    {{0, 0, 1920, 6100, 256, src.data()},
	     "Bypass FPN map of 1561600 bytes exceeds the map area of 1544192 bytes\n"},
	};
	for (const auto &r : refused) {
		img_dsp_sbp_bypass b = r.b;
		StdoutCapture out;
		int rc = vors_img_dsp_set_static_bad_pixel_correction_bypass(kFd, &m, &b);
		std::string text = out.text();
		EXPECT_EQ(rc, IMG_DSP_FAIL) << r.msg;
		EXPECT_TRUE(said(text, r.msg)) << text;
		EXPECT_EQ(map[0], 0xAB) << "the area is untouched";
	}
	uint8_t on = 1;
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(&m, &on), 0);
	img_dsp_sbp_bypass b{3, 0, 64, 4, 64, src.data()};
	clear_flags(0);
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction_bypass(kFd, &m, &b), 0);
	EXPECT_EQ(sec(IK_SEC_SBP)[IK_SECB_SBP_ENABLE], 2);
	EXPECT_EQ(body()->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR], ik_phys(map));
	EXPECT_EQ(map[0], 0x5A);
	EXPECT_EQ(map[255], 0x5A);
	EXPECT_EQ(map[256], 0x00) << "the rest of the area is cleared";
	uint16_t geo[3];
	memcpy(geo, sec(IK_SEC_SBP) + IK_SECB_SBP_MAP, sizeof(geo));
	EXPECT_EQ(geo[0], 64);
	EXPECT_EQ(geo[1], 64);
	EXPECT_EQ(geo[2], 4);
	EXPECT_TRUE(flag(IK_UPD_STATIC_BAD_PIXEL));
	EXPECT_NE(sec(IK_SEC_DBP)[6] & 1u, 0u);

	on = 0;
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(&m, &on), 0);
	EXPECT_EQ(sec(IK_SEC_SBP)[IK_SECB_SBP_ENABLE], 2) << "only the next set takes the mode";
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction_bypass(kFd, &m, &b), 0);
	EXPECT_EQ(sec(IK_SEC_SBP)[IK_SECB_SBP_ENABLE], 1);
	img_dsp_sbp_bypass off{0, 0, 0, 0, 0, nullptr};
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction_bypass(kFd, &m, &off), 0);
	EXPECT_EQ(sec(IK_SEC_SBP)[IK_SECB_SBP_ENABLE], 0);
	EXPECT_EQ(map[0], 0x00);
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(&m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction_bypass(kFd, &m, nullptr), -1);
}

TEST_F(IkRaw, StaticCorrectionPointsIntoTheCallersMap)
{
	img_dsp_mode m = mode(1, 0);
	std::vector<uint8_t> fpn(4096);
	auto block = [&](uint32_t cur_x, uint32_t cur_y) {
		vors_img_dsp_sbp_correction_t b{};
		b.Enb = 1;
		b.CurrentVinSensorGeo = img_dsp_vin_sensor_geo{cur_x, cur_y, 1280, 720, 1, 1, 1, 1};
		b.CalibSbpInfo.Vesrion = IMG_DSP_SBP_VERSION;
		b.CalibSbpInfo.SbpBuffer = fpn.data();
		b.CalibSbpInfo.VinSensorGeo = img_dsp_vin_sensor_geo{64, 32, 1920, 1080, 1, 1, 1, 1};
		return b;
	};
	vors_img_dsp_sbp_correction_t b = block(128, 34);
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &b), 0);
	/* pitch: (1920 + 255) >> 3 = 271, down to a multiple of 32 */
	EXPECT_EQ(body(1)->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR],
	          ik_phys(fpn.data()) + 64 / 8 + 2 * 256);
	EXPECT_EQ(sec(IK_SEC_SBP, 1)[IK_SECB_SBP_ENABLE], 1);
	uint16_t geo[3];
	memcpy(geo, sec(IK_SEC_SBP, 1) + IK_SECB_SBP_MAP, sizeof(geo));
	EXPECT_EQ(geo[0], 1280);
	EXPECT_EQ(geo[1], 256);
	EXPECT_EQ(geo[2], 720);

	const struct {
		vors_img_dsp_sbp_correction_t b;
		const char *msg;
		bool stored;
	} refused[] = {
	    {block(56, 34), "Sensor window OffsetX must be multiple of 8, OffsetX=-8\n", true},
	    {block(68, 34), "Sensor window OffsetX must be multiple of 8, OffsetX=4\n", true},
	    {block(128, 30), "Sensor window OffsetY must not be negative, OffsetY=-2\n", true},
	};
	for (const auto &r : refused) {
		vors_img_dsp_sbp_correction_t c = r.b;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &c), -1) << r.msg;
		EXPECT_TRUE(said(out.text(), r.msg)) << r.msg;
		vors_img_dsp_sbp_correction_t got{};
		ASSERT_EQ(vors_img_dsp_get_static_bad_pixel_correction(&m, &got), 0);
		EXPECT_EQ(got.CurrentVinSensorGeo.StartX, c.CurrentVinSensorGeo.StartX)
		    << "the block is stored";
	}
	vors_img_dsp_sbp_correction_t bad = block(128, 34);
	bad.CalibSbpInfo.Vesrion = 1;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &bad), -1);
	bad = block(128, 34);
	bad.CurrentVinSensorGeo.Width = 1270;
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &bad), -1);
	bad = block(128, 34);
	bad.CalibSbpInfo.SbpBuffer = nullptr;
	EXPECT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &bad), -1);
	std::string text = out.text();
	expect_said(text, {"SBP Correction Version 0x1 != 0x20130218 in ",
	                   "Sensor window width 1270 must be multiple of 32 in ",
	                   "FPN buffer pointer is NULL in "});
	vors_img_dsp_sbp_correction_t off{};
	off.CalibSbpInfo.VinSensorGeo.Width = 1920;
	ASSERT_EQ(vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &off), 0);
	EXPECT_EQ(body(1)->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR], 0u);
	EXPECT_EQ(sec(IK_SEC_SBP, 1)[IK_SECB_SBP_ENABLE], 0);
}

TEST_F(IkRaw, CloneCarriesTheMapAndRepointsTheSection)
{
	/* a clone-mode layout clears every context: the source is prepared by
	 * hand as a bypass would have left it */
	TearDown();
	bring_up({{0, 2, 2, 0, 0}}, 1, IMG_DSP_INIT_MODE_CLONE);
	img_dsp_ctx_id a{0, 0, {}}, b{0, 1, {}};
	ik_video_ctx *src = (ik_video_ctx *)ctx(0);
	src->head.state = IK_CTX_STATE_INIT;
	uint8_t *src_map = ik_fpn_map(&src->body);
	memset(src_map, 0x77, 128);
	src->body.sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR] = ik_phys(src_map);
	ASSERT_EQ(vors_img_dsp_init_ctx(0, &b, &a), 0);
	void *c1 = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&b, &c1), 0);
	ik_ctx_body *dst = ik_body(0, c1);
	EXPECT_NE(ik_fpn_map(dst), src_map);
	EXPECT_EQ(dst->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR], ik_phys(ik_fpn_map(dst)));
	EXPECT_EQ(ik_fpn_map(dst)[127], 0x77);

	/* a section that names the caller's own map keeps naming it */
	src->body.sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR] = 0x1234560u;
	ASSERT_EQ(vors_img_dsp_init_ctx(0, &b, &a), 0);
	EXPECT_EQ(dst->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR], 0x1234560u);
}

/* ---- demosaic, GbGr, CFA noise, luma mode ---- */

TEST_F(IkRaw, CfaNoiseGoldenBytes)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_cfa_noise_filter f{};
	f.Enb = 1;
	f.NoiseLevel[0] = 1000;
	f.StrengthFine[0] = 32;
	f.OriginalBlendStr[0] = 8;
	f.ExtentRegular[0] = 128;
	f.ExtentFine[0] = 100;
	f.SelectivityRegular = 100;
	f.SelectivityFine = 150;
	ASSERT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &f), 0);
	const uint8_t *l = build() + kLiso;
	EXPECT_EQ(bytes_at(l + 16, 3), (std::vector<uint8_t>{0x21, 0x15, 0x11}));
	EXPECT_EQ(l[19], 0x19);
	EXPECT_EQ(l[22], 0x20);
	EXPECT_EQ(l[25], 0x0A);
	EXPECT_EQ(bytes_at(l + 28, 2), (std::vector<uint8_t>{0xD0, 0x07}));
	EXPECT_EQ(bytes_at(l + 34, 2), (std::vector<uint8_t>{0xE8, 0x03}));
}

TEST_F(IkRaw, CfaNoiseFieldConversions)
{
	img_dsp_mode m = mode(1, 0);
	const struct {
		uint16_t blend, extent;
		uint8_t center, cutoff;
	} cases[] = {{7, 127, 0, 10}, {8, 128, 1, 10}, {256, 256, 5, 15}, {24, 12, 2, 1}};
	for (const auto &c : cases) {
		img_dsp_cfa_noise_filter f{};
		f.Enb = 1;
		f.OriginalBlendStr[1] = c.blend;
		f.ExtentRegular[1] = c.extent;
		ASSERT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &f), 0);
		ik_cfa_noise_filter_cmd cmd;
		memcpy(&cmd, sec(IK_SEC_CFA_NOISE_FILTER, 1), sizeof(cmd));
		EXPECT_EQ(cmd.bits2 & 15u, c.center) << c.blend;
		EXPECT_EQ(cmd.cutoff_green, c.cutoff) << c.extent;
	}
}

TEST_F(IkRaw, CfaNoiseSelectivityAndClamps)
{
	img_dsp_mode m = mode(0, 0);
	const struct {
		uint16_t in, out;
		const char *wording;
	} cases[] = {
	    {253, 250, "SelectivityFine = 253 should be within [0,50,100,150,200,250] in "},
	    {120, 100, "SelectivityFine = 120 should be within [0,50,100,150,200,250] in "},
	    {300, 250, "SelectivityFine = 300 should be [0,50,100,150,200,250] in "},
	};
	for (const auto &c : cases) {
		img_dsp_cfa_noise_filter f{};
		f.SelectivityFine = c.in;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &f), IMG_DSP_CLAMPED);
		EXPECT_TRUE(said(out.text(), c.wording)) << c.in;
		EXPECT_EQ(f.SelectivityFine, c.out);
	}
	img_dsp_cfa_noise_filter f{};
	f.Enb = 2;
	f.NoiseLevel[2] = 9000;
	f.ExtentFine[0] = 257;
	f.SelectivityRegular = 260;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &f), IMG_DSP_CLAMPED);
	std::string text = out.text();
	expect_said(text, {"Enb = 2 should be within [0:1] in ",
	                   "NoiseLevel[2] = 9000 should be within [0:8192] in ",
	                   "ExtentFine[0] = 257 should be within [0:256] in ",
	                   "SelectivityRegular = 260 should be within [0,50,100,150,200,250] in "});
	img_dsp_cfa_noise_filter got{};
	ASSERT_EQ(vors_img_dsp_get_cfa_noise_filter(&m, &got), 0);
	EXPECT_EQ(got.NoiseLevel[2], 8192);
	EXPECT_EQ(got.SelectivityRegular, 250);
}

TEST_F(IkRaw, CfaNoiseOffRunsInPassModeForTheGbGrCorrection)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_cfa_noise_filter f{};
	f.NoiseLevel[0] = 1000;
	ASSERT_EQ(vors_img_dsp_set_cfa_noise_filter(kFd, &m, &f), 0);
	EXPECT_EQ(sec(IK_SEC_CFA_NOISE_FILTER)[IK_SECB_CFA_NOISE_ENABLE] & 3u, 0u);
	img_dsp_gbgr_mismatch g{0, 1, 0, 0};
	ASSERT_EQ(vors_img_dsp_set_gbgr_mismatch(kFd, &m, &g), 0);
	ik_cfa_noise_filter_cmd cmd;
	memcpy(&cmd, sec(IK_SEC_CFA_NOISE_FILTER), sizeof(cmd));
	EXPECT_EQ(cmd.bits0 & 3u, 1u);
	EXPECT_EQ(cmd.thresh_fine_red, 0);
	EXPECT_EQ(cmd.thresh_coarse_red, 0);
}

TEST_F(IkRaw, DemosaicAndItsInternalSwitch)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_demosaic d{20, 1000, 2000, 3000};
	ASSERT_EQ(vors_img_dsp_set_demosaic(kFd, &m, &d), 0);
	const uint8_t *l = build() + kLiso;
	EXPECT_EQ(l[45], 0x07);
	EXPECT_EQ(l[47], 0x14);
	EXPECT_EQ(bytes_at(l + 48, 6), (std::vector<uint8_t>{0xE8, 0x03, 0xD0, 0x07, 0xB8, 0x0B}));

	img_dsp_demosaic_internal off{0, {}};
	ASSERT_EQ(vors_img_dsp_set_demosaic_internal(kFd, &m, &off), 0);
	EXPECT_EQ(sec(IK_SEC_DEMOSAIC)[5], 0);
	ASSERT_EQ(vors_img_dsp_set_demosaic(kFd, &m, &d), 0);
	EXPECT_EQ(sec(IK_SEC_DEMOSAIC)[5], 0) << "off until the switch is on again";
	EXPECT_EQ(build()[kLiso + 45], 0x00);
	img_dsp_demosaic_internal on{3, {}};
	StdoutCapture out;
	ASSERT_EQ(vors_img_dsp_set_demosaic_internal(kFd, &m, &on), 0);
	EXPECT_TRUE(said(out.text(), "demosaic.enable > 1\n"));
	EXPECT_EQ(sec(IK_SEC_DEMOSAIC)[5], 0);
	ASSERT_EQ(vors_img_dsp_set_demosaic(kFd, &m, &d), 0);
	EXPECT_EQ(sec(IK_SEC_DEMOSAIC)[5], 7);

	img_dsp_demosaic big{32, 16384, 4096, 32768};
	EXPECT_EQ(vors_img_dsp_set_demosaic(kFd, &m, &big), IMG_DSP_CLAMPED);
	img_dsp_demosaic got{};
	ASSERT_EQ(vors_img_dsp_get_demosaic(&m, &got), 0);
	EXPECT_EQ(got.ActivityThresh, 31);
	EXPECT_EQ(got.ActivityDifferenceThresh, 16383);
	EXPECT_EQ(got.GradClipThresh, 4095);
	EXPECT_EQ(got.GradNoiseThresh, 32767);
}

/* Clamps the other raw-stage tests leave out: each warns, stores the
 * clamped block and reports it with 0x10000000. */
TEST_F(IkRaw, ClampedBlocksAreStoredAndReported)
{
	img_dsp_mode m = mode(0, 0);
	std::vector<uint8_t> fpn(4096);
	std::vector<uint32_t> grid(545, 0x00400040u);
	struct {
		const char *what;
		std::function<int()> set;
		std::vector<const char *> msgs;
		std::function<bool()> stored;
	} cases[] = {
	    {"demosaic",
	     [&] {
		     img_dsp_demosaic d{32, 16384, 4096, 32768};
		     return vors_img_dsp_set_demosaic(kFd, &m, &d);
	     },
	     {"ActivityThresh=32 should be within [0:31] in img_dsp_core_check_set_demosaic\n\n",
	      "ActivityDifferenceThresh=16384 should be within [0:16383] in ",
	      "GradClipThresh=4096 should be within [0:4095] in ",
	      "GradNoiseThresh=32768 should be within [0:32767] in "},
	     [&] {
		     img_dsp_demosaic got{};
		     return vors_img_dsp_get_demosaic(&m, &got) == 0 && got.ActivityThresh == 31 &&
		            got.GradNoiseThresh == 32767;
	     }},
	    {"GbGr mismatch",
	     [&] {
		     img_dsp_gbgr_mismatch g{2, 3, 300, 257};
		     return vors_img_dsp_set_gbgr_mismatch(kFd, &m, &g);
	     },
	     {"NarrowEnable 2 should be [0:1] in img_dsp_core_check_set_gbgr_mismatch\n",
	      "WideEnable 3 should be [0:1] in ", "WideSafety=300 should be within [0:256] in ",
	      "WideThresh=257 should be within [0:256] in "},
	     [&] {
		     img_dsp_gbgr_mismatch got{};
		     uint16_t wide[2];
		     memcpy(wide, sec(IK_SEC_GBGR_MISMATCH) + IK_SECB_GBGR_WIDE, sizeof(wide));
		     return vors_img_dsp_get_gbgr_mismatch(&m, &got) == 0 && got.NarrowEnable == 1 &&
		            got.WideEnable == 1 && got.WideSafety == 256 && got.WideThresh == 256 &&
		            wide[0] == 32767 && wide[1] == 32767 &&
		            sec(IK_SEC_GBGR_MISMATCH)[IK_SECB_GBGR_MODE] == 3;
	     }},
	    {"static bad pixels",
	     [&] {
		     vors_img_dsp_sbp_correction_t b{};
		     b.Enb = 2;
		     b.CurrentVinSensorGeo = img_dsp_vin_sensor_geo{64, 32, 1280, 720, 1, 1, 1, 1};
		     b.CalibSbpInfo.Vesrion = IMG_DSP_SBP_VERSION;
		     b.CalibSbpInfo.SbpBuffer = fpn.data();
		     b.CalibSbpInfo.VinSensorGeo = img_dsp_vin_sensor_geo{64, 32, 1920, 1080, 1, 1, 1, 1};
		     return vors_img_dsp_set_static_bad_pixel_correction(kFd, &m, &b);
	     },
	     {"enable 2 should be within [0:1] in img_dsp_check_set_static_bad_pixel_correction\n\n"},
	     [&] {
		     vors_img_dsp_sbp_correction_t got{};
		     return vors_img_dsp_get_static_bad_pixel_correction(&m, &got) == 0 && got.Enb == 1 &&
		            sec(IK_SEC_SBP)[IK_SECB_SBP_ENABLE] == 1;
	     }},
	    {"vignette bypass",
	     [&] {
		     img_dsp_vignette_bypass b{3,           0,           2,           {},
		                               grid.data(), grid.data(), grid.data(), grid.data()};
		     return vors_img_dsp_set_vignette_compensation_bypass(kFd, &m, &b);
	     },
	     {"enable = 3 should be within [0:1] in img_dsp_core_check_vignette_compensation_bypass\n"},
	     [&] { return sec(IK_SEC_VIGNETTE)[IK_SECB_VIGNETTE_ENABLE] == 1; }},
	};
	for (auto &c : cases) {
		StdoutCapture out;
		EXPECT_EQ(c.set(), IMG_DSP_CLAMPED) << c.what;
		std::string text = out.text();
		for (const char *msg : c.msgs)
			EXPECT_TRUE(said(text, msg)) << c.what << ": " << msg;
		EXPECT_TRUE(c.stored()) << c.what;
	}
}

/* The deferred black level and the contrast enhancement word a failed
 * context lookup "contex", as their logs always have. */
TEST_F(IkRaw, MissingContextIsWordedContex)
{
	img_dsp_mode m = mode(0, 7);
	img_dsp_deferred_black_level d{1, 0};
	img_dsp_contrast_enhance ce{};
	img_dsp_contrast_enhance_decimation_factor f{};
	img_dsp_static_black_level b{};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, &d), -1);
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance(kFd, &m, &ce), -1);
	EXPECT_EQ(vors_img_dsp_set_contrast_enhance_internal_setting(kFd, &m, &f), -1);
	EXPECT_EQ(vors_img_dsp_get_contrast_enhance(&m, &ce), -1);
	EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), -1);
	std::string text = out.text();
	for (const char *fn :
	     {"vors_img_dsp_set_deferred_black_level", "vors_img_dsp_set_contrast_enhance",
	      "vors_img_dsp_set_contrast_enhance_internal_setting", "vors_img_dsp_get_contrast_enhance"})
		EXPECT_TRUE(
		    has_msg(text, std::string("[IK][Warning]") + fn + "() ", "Cannot get contex mutex\n"))
		    << fn;
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_set_static_black_level() ",
	                    "Cannot get context mutex\n"));
}

TEST_F(IkRaw, GbGrThresholdsAndLumaMode)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_gbgr_mismatch g{1, 1, 256, 255};
	ASSERT_EQ(vors_img_dsp_set_gbgr_mismatch(kFd, &m, &g), 0);
	const uint8_t *l = build() + kLiso;
	EXPECT_EQ(bytes_at(l + 132, 4), (std::vector<uint8_t>{0x80, 0x7F, 0xFF, 0x7F}));
	EXPECT_EQ(sec(IK_SEC_GBGR_MISMATCH)[IK_SECB_GBGR_MODE], 3);

	img_dsp_liso_process_select sel{3, 4};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_luma_processing_mode(kFd, &m, &sel), -1);
	img_dsp_liso_process_select adv{0, 5};
	EXPECT_EQ(vors_img_dsp_set_luma_processing_mode(kFd, &m, &adv), -1);
	img_dsp_mode hiso = mode(0, 0, 0, DSP_IMG_CORE_ALGO_MODE_HISO);
	img_dsp_liso_process_select fine{1, 4};
	EXPECT_EQ(vors_img_dsp_set_luma_processing_mode(kFd, &hiso, &fine), -1);
	std::string text = out.text();
	EXPECT_NE(text.find("img_dsp_core_check_set_luma_processing_mode() undefined Select 3\n"),
	          std::string::npos);
	EXPECT_NE(text.find("undefined advanced_features_enable 5\n"), std::string::npos);
	EXPECT_NE(text.find("img_dsp_core_check_set_sharpen_mode_cfg() not support current AlgoMode 2\n"),
	          std::string::npos);
	EXPECT_EQ(vors_img_dsp_set_luma_processing_mode(kFd, &m, &fine), 0);
	img_dsp_liso_process_select got{};
	ASSERT_EQ(vors_img_dsp_get_luma_processing_mode(&m, &got), 0);
	EXPECT_EQ(got.Select, 1);
	EXPECT_EQ(got.advanced_features_enable, 4);
}

/* ---- anti-aliasing and leakage ---- */

TEST_F(IkRaw, AntiAliasingKeepsTheLeakageBlockOn)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_cfa_leakage_filter leak{0, 5, -20, 7, 9, 1000, 0};
	ASSERT_EQ(vors_img_dsp_set_cfa_leakage_filter(kFd, &m, &leak), 0);
	uint32_t enable;
	memcpy(&enable, sec(IK_SEC_CFA_LEAKAGE) + IK_SECB_LEAKAGE_ENABLE, 4);
	EXPECT_EQ(enable, 0u);
	img_dsp_anti_aliasing aa{2, 20000, 0};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, &aa), 0);
	EXPECT_EQ(quiet.text().find("Thresh"), std::string::npos)
	    << "the threshold counts for strength 4 only";
	const uint8_t *l = build() + kLiso;
	EXPECT_EQ(bytes_at(l + 130, 2), (std::vector<uint8_t>{0x80, 0x0C}));
	uint16_t use;
	memcpy(&use, l + offsetof(ik_liso_liso, use_flags), 2);
	EXPECT_EQ((use >> 10) & 7u, 3u);
	EXPECT_EQ(use & 0x30u, 0x30u);
	EXPECT_EQ(bytes_at(l + 124, 4), std::vector<uint8_t>(4, 0));
	memcpy(&enable, sec(IK_SEC_CFA_LEAKAGE) + IK_SECB_LEAKAGE_ENABLE, 4);
	EXPECT_EQ(enable, 1u);

	aa.Strength = 0;
	ASSERT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, &aa), 0);
	memcpy(&enable, sec(IK_SEC_CFA_LEAKAGE) + IK_SECB_LEAKAGE_ENABLE, 4);
	EXPECT_EQ(enable, 0u);

	img_dsp_anti_aliasing seven{7, 20000, 9};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, &seven), 0);
	std::string text = out.text();
	expect_said(text,
	            {"Strength=7 should be within [0:4] in ", "Thresh = 20000 should be within [0:16383] in ",
	             "LogFractionalCorrect = 9 should be within [0:7] in "});
	img_dsp_anti_aliasing got{};
	ASSERT_EQ(vors_img_dsp_get_anti_aliasing(&m, &got), 0);
	EXPECT_EQ(got.Strength, 4u);
	EXPECT_EQ(got.Thresh, 16383);
	EXPECT_EQ(sec(IK_SEC_ANTI_ALIASING)[IK_SECB_AA_SHIFT], 0);

	img_dsp_anti_aliasing four{4, 1000, 3};
	ASSERT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, &four), 0);
	uint16_t threshold;
	memcpy(&threshold, sec(IK_SEC_ANTI_ALIASING) + IK_SECB_AA_THRESHOLD, 2);
	EXPECT_EQ(threshold, 1000);
	EXPECT_EQ(sec(IK_SEC_ANTI_ALIASING)[IK_SECB_AA_SHIFT], 4);
}

TEST_F(IkRaw, LeakageCoefficientsAndClamps)
{
	img_dsp_mode m = mode(1, 0);
	img_dsp_cfa_leakage_filter leak{3, 5, -20, 7, 9, 16384, 0};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_cfa_leakage_filter(kFd, &m, &leak), 0);
	std::string text = out.text();
	EXPECT_TRUE(said(text, "Enb=3 should be within [0:1] in "));
	EXPECT_TRUE(said(text, "SaturationLevel=16384 should be within [0:16383] in "));
	const uint8_t *s = sec(IK_SEC_CFA_LEAKAGE, 1);
	EXPECT_EQ(bytes_at(s + IK_SECB_LEAKAGE_ALPHA, 4), (std::vector<uint8_t>{5, 0xEC, 7, 9}));
	uint16_t level;
	memcpy(&level, s + IK_SECB_LEAKAGE_SATURATION, 2);
	EXPECT_EQ(level, 16383);
	EXPECT_TRUE(flag(IK_UPD_CFA_LEAKAGE, 1));
	EXPECT_TRUE(flag(IK_UPD_CFA_NOISE, 1)) << "the CFA noise step re-runs";
	img_dsp_cfa_leakage_filter got{};
	ASSERT_EQ(vors_img_dsp_get_cfa_leakage_filter(&m, &got), 0);
	EXPECT_EQ(got.Enb, 1u);
	EXPECT_EQ(got.AlphaRB, -20);
}

/* ---- vignette ---- */

TEST_F(IkRaw, VignetteBypassRepacksTheGrids)
{
	img_dsp_mode m = mode(0, 0);
	std::vector<uint32_t> grid(545, 0x02000100u);
	grid[1] = 0x03FF03FFu;
	grid[544] = 0xFFFFFFFFu;
	img_dsp_vignette_bypass b{1, 0, 12, {}, grid.data(), grid.data(), grid.data(), grid.data()};
	clear_flags(0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_vignette_compensation_bypass(kFd, &m, &b), IMG_DSP_CLAMPED);
	EXPECT_TRUE(said(out.text(), "gain_shift = 12 should be within [0:9] in "));
	EXPECT_EQ(b.gain_shift, 9);
	EXPECT_TRUE(flag(IK_UPD_VIGNETTE));
	EXPECT_TRUE(flag(IK_UPD_HDR_VIGNETTE));
	for (unsigned k = 0; k < 4; k++) {
		const uint32_t *t =
		    (const uint32_t *)ik_user(body()->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST + k]);
		EXPECT_EQ(t[0], 0x00080100u);
		EXPECT_EQ(t[1], 0x000FFFFFu);
		EXPECT_EQ(t[544], 0x3FFu);
	}
	const uint8_t *main = build();
	uint32_t word0;
	memcpy(&word0, main + kCommon, 4);
	EXPECT_EQ((word0 >> 15) & 15u, 9u);
	EXPECT_NE(word0 & IK_COMMON_USE_VIGNETTE, 0u);
	for (unsigned k = 0; k < 4; k++) {
		uint32_t w;
		memcpy(&w, table_block() + 1280 + 2180 * k, 4);
		EXPECT_EQ(w, 0x00080100u) << k;
	}

	img_dsp_vignette_bypass off{0, 0, 3, {}, nullptr, nullptr, nullptr, nullptr};
	ASSERT_EQ(vors_img_dsp_set_vignette_compensation_bypass(kFd, &m, &off), 0);
	const uint32_t *t =
	    (const uint32_t *)ik_user(body()->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST]);
	EXPECT_EQ(t[0], 0u);
	EXPECT_EQ(t[544], 0u);

	b.p_green_odd_gain = nullptr;
	StdoutCapture refused;
	EXPECT_EQ(vors_img_dsp_set_vignette_compensation_bypass(kFd, &m, &b), -1);
	EXPECT_TRUE(said(refused.text(), "p_green_odd_gain is NULL in "));
	uint8_t untouched[104];
	memset(untouched, 0x11, sizeof(untouched));
	EXPECT_EQ(vors_img_dsp_get_vignette_compensation(&m, untouched), 0);
	EXPECT_EQ(untouched[0], 0x11);
}

class IkVignetteCalc : public IkRaw
{
      protected:
	uint16_t grid[4][9];
	img_dsp_vignette_calc_info info{};
	img_dsp_update_list list{};
	void SetUp() override
	{
		IkRaw::SetUp();
		for (int g = 0; g < 4; g++)
			for (int i = 0; i < 9; i++)
				grid[g][i] = (uint16_t)(1024 + 100 * i + g);
		info.Enb = 1;
		info.GainShift = 10;
		info.Strength = 65536;
		info.Version = IMG_DSP_VIGNETTE_VERSION;
		info.GridColumns = info.GridRows = 3;
		info.CalibGeo = img_dsp_vin_sensor_geo{8, 8, 64, 64, 1, 1, 1, 1};
		info.CurrentGeo = info.CalibGeo;
		for (int g = 0; g < 4; g++)
			info.pGrid[g] = grid[g];
	}
	int run()
	{
		img_dsp_mode m = mode(0, 0);
		return img_dsp_core_process_calc_vignette_compensation(&m, &info, &list);
	}
	uint16_t out(int g, int r, int c)
	{
		return body()->blk.vignette_calc_grid[g][r * 33 + c];
	}
};

TEST_F(IkVignetteCalc, FullStrengthGivesTheCalibrationGains)
{
	ASSERT_EQ(run(), 0);
	for (int g = 0; g < 4; g++) {
		EXPECT_EQ(out(g, 0, 0), grid[g][0]);
		EXPECT_EQ(out(g, 0, 32), grid[g][2]);
		EXPECT_EQ(out(g, 16, 16), grid[g][4]);
		EXPECT_EQ(out(g, 32, 0), grid[g][6]);
		EXPECT_EQ(out(g, 32, 32), grid[g][8]);
	}
	EXPECT_EQ(list.entry[0].valid, 1u);
	EXPECT_TRUE(flag(IK_UPD_VIGNETTE));
	info.Flip = 1;
	ASSERT_EQ(run(), 0);
	EXPECT_EQ(out(0, 0, 0), grid[0][6]) << "flipped rows start at the bottom";
}

TEST_F(IkVignetteCalc, ZeroStrengthGivesUnityEverywhere)
{
	info.Strength = 0;
	ASSERT_EQ(run(), 0);
	for (int g = 0; g < 4; g++)
		for (int i = 0; i < 33 * 33; i++)
			ASSERT_EQ(body()->blk.vignette_calc_grid[g][i], 1024) << g << " " << i;
}

TEST_F(IkVignetteCalc, NormalisedFormulaOnEqualColours)
{
	/* equal colours: every t is 1 and k is the strength, so the gain is
	 * (65536 + 32767) >> 16 */
	for (int g = 0; g < 4; g++)
		for (int i = 0; i < 9; i++)
			grid[g][i] = 1500;
	info.Mode = 1;
	info.W = 65536;
	ASSERT_EQ(run(), 0);
	EXPECT_EQ(out(0, 0, 0), 1);
	EXPECT_EQ(out(3, 20, 7), 1);
	info.GainShift = 40;
	info.Strength = 0;
	ASSERT_EQ(run(), 0) << "a shift past the word leaves k at the strength";
	EXPECT_EQ(out(1, 5, 5), 0);
}

TEST_F(IkVignetteCalc, GeometryFaultsAreRefusedWithBothWindows)
{
	const struct {
		img_dsp_vin_sensor_geo cur;
		const char *msg;
	} cases[] = {
	    {{7, 8, 64, 64, 1, 1, 1, 1}, "Vignette Core Error: current win left < calibration win left\n"},
	    {{8, 7, 64, 64, 1, 1, 1, 1}, "Vignette Core Error: current win top < calibration win top\n"},
	    {{9, 8, 64, 64, 1, 1, 1, 1}, "Vignette Core Error: current win right > calibration win right\n"},
	    {{8, 9, 64, 64, 1, 1, 1, 1}, "Vignette Core Error: current win Bot > calibration win Bot\n"},
	    {{8, 8, 32, 32, 2, 1, 1, 1}, "Vignette Core Error: Requested downsample ratio is invalid\n"},
	    {{8, 8, 32, 32, 0, 1, 1, 1}, "Vignette Core Error: Requested downsample ratio is invalid\n"},
	};
	for (const auto &c : cases) {
		info.CurrentGeo = c.cur;
		body()->blk.vignette_calc_info[0] = 0x5A;
		StdoutCapture o;
		EXPECT_EQ(run(), -1) << c.msg;
		std::string text = o.text();
		EXPECT_TRUE(said(text, c.msg)) << text;
		EXPECT_NE(text.find("[IK]-- Full View  Geo info --\n[IK]\tstart_x    8\n"),
		          std::string::npos);
		EXPECT_NE(text.find("[IK]-- User Input Geo info --\n"), std::string::npos);
		EXPECT_NE(text.find("[IK]-------\n"), std::string::npos);
		EXPECT_EQ(body()->blk.vignette_calc_info[0], 0x5A) << "nothing is stored";
	}
	info.CurrentGeo = info.CalibGeo;
	info.Version = 0x20130219;
	StdoutCapture o;
	EXPECT_EQ(run(), -1);
	EXPECT_TRUE(said(o.text(), "Vignette Correction Version 0x20130219 != 0x20130218\n"));
	info.Version = IMG_DSP_VIGNETTE_VERSION;
	info.pGrid[2] = nullptr;
	EXPECT_EQ(run(), -1);
	info.Enb = 0;
	EXPECT_EQ(run(), 0) << "off needs no grids";
	EXPECT_EQ(sec(IK_SEC_VIGNETTE)[IK_SECB_VIGNETTE_ENABLE], 0);
	EXPECT_EQ(img_dsp_core_process_calc_vignette_compensation(nullptr, nullptr, &list), -1);
}

/* ---- two contexts at once ---- */

TEST_F(IkRaw, TwoContextsSetTheRawStageAtOnce)
{
	auto chain = [this](uint32_t pipe) {
		img_dsp_mode m = mode(pipe, 0);
		for (int i = 0; i < 40; i++) {
			img_dsp_static_black_level b{-256, -256, -256, -256};
			EXPECT_EQ(vors_img_dsp_set_static_black_level(kFd, &m, &b), 0);
			img_dsp_deferred_black_level d{(uint8_t)(i & 1), 0};
			EXPECT_EQ(vors_img_dsp_set_deferred_black_level(kFd, &m, &d), 0);
			img_dsp_local_exposure le{};
			le.Enb = 1;
			le.Radius = 6;
			le.LumaWeightRed = le.LumaWeightGreen = le.LumaWeightBlue = 8;
			EXPECT_EQ(vors_img_dsp_set_local_exposure(kFd, &m, &le), 0);
			img_dsp_dbp_correction dbp{1, 1, 2, 0};
			EXPECT_EQ(vors_img_dsp_set_dynamic_bad_pixel_correction(kFd, &m, &dbp), 0);
			img_dsp_anti_aliasing aa{(uint32_t)(i % 4), 0, 0};
			EXPECT_EQ(vors_img_dsp_set_anti_aliasing(kFd, &m, &aa), 0);
		}
	};
	std::thread video(chain, 0), still(chain, 1);
	video.join();
	still.join();
	for (uint32_t pipe = 0; pipe < 2; pipe++) {
		EXPECT_EQ(body(pipe)->blk.deferred_black_level[0], 1);
		EXPECT_EQ(body(pipe)->blk.deferred_black_level_table[3], 256);
		EXPECT_EQ(bytes_at(sec(IK_SEC_LOCAL_EXPOSURE, pipe) + 16, 2),
		          (std::vector<uint8_t>{0x00, 0x80}));
		EXPECT_EQ(sec(IK_SEC_ANTI_ALIASING, pipe)[IK_SECB_AA_SHIFT], 2);
	}
}

} // namespace

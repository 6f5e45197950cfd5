/* 3A statistics: set-up command images under the black-level rule, the
 * pseudo-Y, histogram and early-WB blocks, and the statistics fetch against
 * a fake driver that fills the descriptor's buffers. */
#include "ik_3a.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_helpers.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

void put16(std::vector<uint8_t> &v, size_t off, uint16_t x)
{
	memcpy(&v[off], &x, 2);
}
void put32(std::vector<uint8_t> &v, size_t off, uint32_t x)
{
	memcpy(&v[off], &x, 4);
}
uint32_t get32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

class Ik3a : public IkFixture
{
      protected:
	void SetUp() override
	{
		/* The decode layout reports its table alignment; not this test's concern. */
		StdoutCapture quiet;
		bring_up({{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
		for (uint32_t pipe : {0u, 1u, 2u}) {
			img_dsp_ctx_id id{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &id, &id), 0);
		}
	}
	void *ctx(uint32_t pipe)
	{
		img_dsp_ctx_id id{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&id, &c), 0);
		return c;
	}
	ik_ctx_body *body(uint32_t pipe)
	{
		return ik_body(pipe, ctx(pipe));
	}
	const uint8_t *cmd(uint32_t pipe, ik_aaa_cmd_slot s)
	{
		return (const uint8_t *)body(pipe)->blk.aaa.cmd[s].word;
	}
	void set_blc(uint32_t pipe, uint8_t enb, int16_t r, int16_t g, int16_t b)
	{
		body(pipe)->blk.deferred_black_level[0] = enb;
		int16_t *t = body(pipe)->blk.deferred_black_level_table;
		t[0] = r;
		t[1] = g;
		t[2] = b;
	}
};

/* The AAA_STATISTICS_SETUP image, written field by field from the table of
 * offsets; bytes 6 and 7 keep what the slot held (zero here). */
std::vector<uint8_t> setup_image(uint8_t on, const img_dsp_awb_tile_cfg &awb, const img_dsp_ae_tile_cfg &ae,
                                 const img_dsp_af_tile_cfg &af)
{
	std::vector<uint8_t> v(76, 0);
	put32(v, 0, 0x09004001);
	v[4] = on;
	v[5] = 1;
	const uint16_t w[10] = {awb.num_col,
	                        awb.num_row,
	                        awb.col_start,
	                        awb.row_start,
	                        awb.width,
	                        awb.height,
	                        awb.active_width,
	                        awb.active_height,
	                        (uint16_t)awb.pix_min_value,
	                        (uint16_t)awb.pix_max_value};
	for (int i = 0; i < 10; i++)
		put16(v, 24 + 2 * i, w[i]);
	const uint16_t a[8] = {ae.num_col, ae.num_row, ae.col_start,     ae.row_start,
	                       ae.width,   ae.height,  ae.pix_min_value, ae.pix_max_value};
	for (int i = 0; i < 8; i++)
		put16(v, 44 + 2 * i, a[i]);
	const uint16_t f[8] = {af.num_col, af.num_row, af.col_start,    af.row_start,
	                       af.width,   af.height,  af.active_width, af.active_height};
	for (int i = 0; i < 8; i++)
		put16(v, 60 + 2 * i, f[i]);
	return v;
}

TEST_F(Ik3a, SetupCarriesBlackLevelAdjustedLimits)
{
	struct Case {
		const char *what;
		uint32_t pipe, func;
		uint8_t enb;
		int16_t r, g, b;
		uint16_t ae_min, ae_max;
		uint32_t awb_min, awb_max;
		uint16_t want_ae_min, want_ae_max;
		uint32_t want_awb_min, want_awb_max;
	} cases[] = {
	    {"lowered black point", 0, 0, 1, -64, -64, -64, 0, 16383, 0, 16383, 0, 16319, 0, 16319},
	    {"raised black point clamps", 0, 0, 1, 64, 64, 64, 0, 16383, 0, 16383, 64, 16383, 64, 16383},
	    {"deferred black level off", 0, 0, 0, 64, 64, 64, 5, 1000, 7, 70000, 5, 1000, 7, 70000},
	    {"video HDR keeps the limits", 0, 8, 1, 64, 64, 64, 5, 1000, 7, 900, 5, 1000, 7, 900},
	    {"still HDR is adjusted", 1, 8, 1, -10, 20, 40, 100, 1000, 100, 1000, 90, 1017, 90, 1017},
	    {"average rounds toward zero", 0, 0, 1, -1, -1, -3, 100, 1000, 100, 1000, 97, 999, 97, 999},
	    {"32-bit AWB limit clamps", 1, 0, 1, 0, 0, 0, 0, 100, 0, 70000, 0, 100, 0, 16383},
	};
	for (const auto &c : cases) {
		set_blc(c.pipe, c.enb, c.r, c.g, c.b);
		img_dsp_mode m = mode(c.pipe, 0);
		m.FuncMode = c.func;
		img_dsp_ae_tile_cfg ae{12, 8, 1, 2, 340, 512, c.ae_min, c.ae_max};
		img_dsp_awb_tile_cfg awb{32, 32, 3, 4, 128, 128, 120, 121, c.awb_min, c.awb_max};
		img_dsp_af_tile_cfg af{8, 6, 5, 6, 200, 300, 190, 290};
		memset(body(c.pipe)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		ASSERT_EQ(vors_img_dsp_3a_config_aaa_stat(-1, 1, &m, &ae, &awb, &af), 0) << c.what;

		img_dsp_ae_tile_cfg eae = ae;
		eae.pix_min_value = c.want_ae_min;
		eae.pix_max_value = c.want_ae_max;
		img_dsp_awb_tile_cfg eawb = awb;
		eawb.pix_min_value = c.want_awb_min;
		eawb.pix_max_value = c.want_awb_max;
		std::vector<uint8_t> want = setup_image(1, eawb, eae, af);
		std::vector<uint8_t> got(cmd(c.pipe, IK_AAA_CMD_STATISTICS),
		                         cmd(c.pipe, IK_AAA_CMD_STATISTICS) + 76);
		EXPECT_EQ(got, want) << c.what;
		EXPECT_TRUE(ik_flag_test(body(c.pipe)->update_flags, IK_FLAG(3, 7))) << c.what;

		uint16_t ae_min, ae_max;
		uint32_t awb_min, awb_max;
		EXPECT_EQ(vors_img_dsp_3a_get_aaa_stat_pix_value(&ae_min, &ae_max, &awb_min, &awb_max), 0);
		EXPECT_EQ(ae_min, c.want_ae_min) << c.what;
		EXPECT_EQ(ae_max, c.want_ae_max) << c.what;
		EXPECT_EQ(awb_min, c.want_awb_min) << c.what;
		EXPECT_EQ(awb_max, c.want_awb_max) << c.what;

		/* The stored information keeps the caller's raw limits. */
		const img_dsp_aaa_stat_info &info = body(c.pipe)->blk.aaa.stat_info;
		EXPECT_EQ(info.ae.pix_min_value, c.ae_min) << c.what;
		EXPECT_EQ(info.ae.pix_max_value, c.ae_max) << c.what;
		EXPECT_EQ(info.awb_pix_max_value, (uint16_t)c.awb_max) << c.what;
		EXPECT_EQ(info.awb_active_height, 121);
		EXPECT_EQ(info.af.active_height, 290);
	}
}

TEST_F(Ik3a, MissingRecordsKeepTheContextsLast)
{
	set_blc(0, 1, -64, -64, -64);
	img_dsp_mode m = mode(0, 0);
	img_dsp_ae_tile_cfg ae{12, 8, 0, 0, 340, 512, 0, 16383};
	img_dsp_awb_tile_cfg awb{32, 32, 0, 0, 128, 128, 128, 128, 0, 16383};
	img_dsp_af_tile_cfg af{12, 8, 0, 0, 340, 512, 340, 512};
	ASSERT_EQ(vors_img_dsp_3a_config_aaa_stat(-1, 1, &m, &ae, &awb, &af), 0);
	img_dsp_af_tile_cfg af2{4, 4, 1, 1, 100, 100, 90, 90};
	ASSERT_EQ(vors_img_dsp_3a_config_aaa_stat(-1, 0, &m, nullptr, nullptr, &af2), 0);
	ae.pix_max_value = 16319;
	awb.pix_max_value = 16319;
	std::vector<uint8_t> want = setup_image(0, awb, ae, af2);
	EXPECT_EQ(std::vector<uint8_t>(cmd(0, IK_AAA_CMD_STATISTICS), cmd(0, IK_AAA_CMD_STATISTICS) + 76),
	          want)
	    << "the AE and AWB records are the last effective ones, not adjusted twice";
}

TEST_F(Ik3a, ReapplicationUsesTheRawLimitsAgain)
{
	set_blc(1, 1, 0, 0, 0);
	img_dsp_mode m = mode(1, 0);
	img_dsp_ae_tile_cfg ae{12, 8, 0, 0, 340, 512, 100, 16000};
	img_dsp_awb_tile_cfg awb{32, 32, 0, 0, 128, 128, 128, 128, 200, 15000};
	img_dsp_af_tile_cfg af{12, 8, 0, 0, 340, 512, 340, 512};
	ASSERT_EQ(vors_img_dsp_3a_config_aaa_stat(-1, 0, &m, &ae, &awb, &af), 0);
	set_blc(1, 1, -50, -50, -50);
	ASSERT_EQ(vors_img_dsp_3a_set_aaa_stat_info(-1, &m), 0);
	img_dsp_ae_tile_cfg eae = ae;
	eae.pix_min_value = 50;
	eae.pix_max_value = 15950;
	img_dsp_awb_tile_cfg eawb = awb;
	eawb.pix_min_value = 150;
	eawb.pix_max_value = 14950;
	EXPECT_EQ(std::vector<uint8_t>(cmd(1, IK_AAA_CMD_STATISTICS), cmd(1, IK_AAA_CMD_STATISTICS) + 76),
	          setup_image(1, eawb, eae, af));
}

TEST_F(Ik3a, SetupRefusals)
{
	img_dsp_ae_tile_cfg ae{};
	StdoutCapture out;
	img_dsp_mode dec = mode(2, 0);
	EXPECT_EQ(vors_img_dsp_3a_config_aaa_stat(-1, 1, &dec, &ae, nullptr, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_3a_set_aaa_stat_info(-1, &dec), -1);
	img_dsp_mode bad = mode(0, 5);
	EXPECT_EQ(vors_img_dsp_3a_set_aaa_stat_info(-1, &bad), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_3a_config_aaa_stat() ", "does not support pipe 2\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]vors_img_dsp_3a_set_aaa_stat_info() ", "does not support pipe 2\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Warning]vors_img_dsp_3a_set_aaa_stat_info() ", "Cannot get contex mutex\n"));
}

TEST_F(Ik3a, PseudoYHistogramAndEarlyWbAreStoredWithTheirCommands)
{
	img_dsp_mode m = mode(1, 0);
	img_dsp_3a_pseudo_y py{};
	py.mode = 3;
	py.sum_shift = 7;
	for (int i = 0; i < 4; i++)
		py.pixel_weight[i] = (uint8_t)(i + 1);
	for (int i = 0; i < 32; i++)
		py.tone_curve[i] = (uint8_t)(100 + i);
	img_dsp_3a_histogram hist{2, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
	img_dsp_3a_early_wb_gain wb{4096, 4097, 4098, 4099, 1, 0, 1, 0xEE, 5000, 5001, 5002, 5003};
	memset(body(1)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	EXPECT_EQ(vors_img_dsp_set_3a_pseudo_y(-1, &m, &py), 0);
	EXPECT_EQ(vors_img_dsp_set_3a_histogram(-1, &m, &hist), 0);
	EXPECT_EQ(vors_img_dsp_set_3a_early_wb_gain(-1, &m, &wb), 0);
	const uint8_t *f = body(1)->update_flags;
	EXPECT_TRUE(ik_flag_test(f, IK_FLAG(4, 0)));
	EXPECT_TRUE(ik_flag_test(f, IK_FLAG(4, 1)));
	EXPECT_TRUE(ik_flag_test(f, IK_FLAG(4, 2)));

	std::vector<uint8_t> want_py(48, 0);
	put32(want_py, 0, 0x09004002);
	put32(want_py, 4, 3);
	put32(want_py, 8, 7);
	for (int i = 0; i < 4; i++)
		want_py[12 + i] = (uint8_t)(i + 1);
	for (int i = 0; i < 32; i++)
		want_py[16 + i] = (uint8_t)(100 + i);
	EXPECT_EQ(std::vector<uint8_t>(cmd(1, IK_AAA_CMD_PSEUDO_Y), cmd(1, IK_AAA_CMD_PSEUDO_Y) + 48),
	          want_py);

	std::vector<uint8_t> want_h(24, 0);
	put32(want_h, 0, 0x09004003);
	put16(want_h, 4, 2);
	put16(want_h, 6, 1);
	for (int i = 0; i < 8; i++)
		put16(want_h, 8 + 2 * i, (uint16_t)(i + 1));
	EXPECT_EQ(std::vector<uint8_t>(cmd(1, IK_AAA_CMD_HISTOGRAM), cmd(1, IK_AAA_CMD_HISTOGRAM) + 24),
	          want_h);

	std::vector<uint8_t> want_wb(40, 0);
	put32(want_wb, 0, 0x09004007);
	for (int i = 0; i < 4; i++)
		put32(want_wb, 4 + 4 * i, 4096u + i);
	want_wb[20] = 1;
	want_wb[21] = 0;
	want_wb[22] = 1;
	want_wb[23] = 0; /* the block's reserved byte is not carried */
	for (int i = 0; i < 4; i++)
		put32(want_wb, 24 + 4 * i, 5000u + i);
	EXPECT_EQ(
	    std::vector<uint8_t>(cmd(1, IK_AAA_CMD_EARLY_WB_GAIN), cmd(1, IK_AAA_CMD_EARLY_WB_GAIN) + 40),
	    want_wb);

	img_dsp_3a_pseudo_y gpy{};
	img_dsp_3a_histogram gh{};
	img_dsp_3a_early_wb_gain gwb{};
	EXPECT_EQ(vors_img_dsp_get_3a_pseudo_y(&m, &gpy), 0);
	EXPECT_EQ(vors_img_dsp_get_3a_histogram(&m, &gh), 0);
	EXPECT_EQ(vors_img_dsp_get_3a_early_wb_gain(&m, &gwb), 0);
	EXPECT_EQ(memcmp(&gpy, &py, sizeof(py)), 0);
	EXPECT_EQ(memcmp(&gh, &hist, sizeof(hist)), 0);
	EXPECT_EQ(memcmp(&gwb, &wb, sizeof(wb)), 0) << "the getter returns the block as given";
}

TEST_F(Ik3a, BlockSettersRefuseOtherPipesAndMissingBlocks)
{
	img_dsp_3a_histogram hist{2, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
	img_dsp_3a_pseudo_y py{};
	img_dsp_3a_early_wb_gain wb{};
	img_dsp_mode dec = mode(2, 0);
	img_dsp_mode vid = mode(0, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_3a_histogram(-1, &dec, &hist), -1);
	EXPECT_EQ(vors_img_dsp_set_3a_pseudo_y(-1, &dec, &py), -1);
	EXPECT_EQ(vors_img_dsp_set_3a_early_wb_gain(-1, &dec, &wb), -1);
	EXPECT_EQ(vors_img_dsp_set_3a_histogram(-1, &vid, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_3a_pseudo_y(-1, &vid, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_3a_early_wb_gain(-1, &vid, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_3a_histogram(&dec, &hist), -1);
	EXPECT_EQ(vors_img_dsp_get_3a_histogram(&vid, nullptr), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_set_3a_histogram() ", "does not support pipe 2\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_set_3a_histogram() ", "p_histogram is NULL\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_3a_histogram() ", "p_histogram is empty\n"));
	EXPECT_EQ(get32(cmd(0, IK_AAA_CMD_HISTOGRAM)), 0u) << "nothing was stored";
	for (int byte = 0; byte < (int)IK_UPDATE_FLAG_BYTES; byte++)
		EXPECT_EQ(body(0)->update_flags[byte], 0) << byte;
}

/* ---- extended AF statistics ---------------------------------------------- */

img_dsp_af_statistics_ex af_ex_block()
{
	img_dsp_af_statistics_ex b{};
	b.filter1 = {0x17, 1, 0, 1, {1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11}, 12, 13, 14};
	b.filter2 = {2, 0, 1, 1, {21, 22, 23, 24, 25, 26, 27}, {28, 29, 30, 31}, 32, 33, 34};
	b.tile_fv1 = {41, 42, 43, 44};
	b.tile_fv2 = {51, 52, 53, 54};
	return b;
}

/* A command image from the hardware table: code, mode and select, the
 * three enables, then eighteen u16 values from byte 8. */
std::vector<uint8_t> af_ex_image(uint32_t code, uint8_t byte4, uint8_t e1, uint8_t e2, uint8_t e3,
                                 const std::vector<uint16_t> &words)
{
	std::vector<uint8_t> v(44, 0);
	put32(v, 0, code);
	v[4] = byte4;
	v[5] = e1;
	v[6] = e2;
	v[7] = e3;
	for (size_t i = 0; i < words.size(); i++)
		put16(v, 8 + 2 * i, words[i]);
	return v;
}

TEST_F(Ik3a, AfStatisticsExCommandsFollowFuncMode)
{
	const img_dsp_af_statistics_ex b = af_ex_block();
	/* gains, shifts, bias, the two thresholds, the four tile values */
	const std::vector<uint16_t> w1 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 41, 42, 43, 44};
	const std::vector<uint16_t> w2 = {21, 22, 23, 24, 25, 26, 27, 28, 29,
	                                  30, 31, 32, 33, 34, 51, 52, 53, 54};
	struct {
		uint32_t func;
		uint8_t byte4_1, byte4_2;
	} const cases[] = {{0, 0x07, 0x02}, {16, 0x27, 0x22}, {24, 0x07, 0x02}, {8, 0x07, 0x02}};
	for (const auto &c : cases) {
		img_dsp_mode m = mode(0, 0);
		m.FuncMode = c.func;
		memset(body(0)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		ASSERT_EQ(vors_img_dsp_set_af_statistics_ex(-1, &m, &b), 0);
		EXPECT_EQ(std::vector<uint8_t>(cmd(0, IK_AAA_CMD_AF_EX1), cmd(0, IK_AAA_CMD_AF_EX1) + 44),
		          af_ex_image(0x09004004, c.byte4_1, 1, 0, 1, w1))
		    << c.func;
		EXPECT_EQ(std::vector<uint8_t>(cmd(0, IK_AAA_CMD_AF_EX2), cmd(0, IK_AAA_CMD_AF_EX2) + 44),
		          af_ex_image(0x09004005, c.byte4_2, 0, 1, 1, w2))
		    << c.func;
		EXPECT_TRUE(ik_flag_test(body(0)->update_flags, IK_FLAG(4, 3)));
	}
	/* The bytes, literally. */
	const uint8_t head1[8] = {0x04, 0x40, 0x00, 0x09, 0x07, 0x01, 0x00, 0x01};
	img_dsp_mode m = mode(0, 0);
	ASSERT_EQ(vors_img_dsp_set_af_statistics_ex(-1, &m, &b), 0);
	EXPECT_EQ(memcmp(cmd(0, IK_AAA_CMD_AF_EX1), head1, 8), 0);
	const uint8_t tail1[] = {0x08, 0,    0x09, 0,    0x0A, 0,    0x0B, 0,    0x0C, 0,    0x0D,
	                         0,    0x0E, 0,    0x29, 0,    0x2A, 0,    0x2B, 0,    0x2C, 0};
	EXPECT_EQ(memcmp(cmd(0, IK_AAA_CMD_AF_EX1) + 22, tail1, sizeof(tail1)), 0);
	const uint8_t head2[8] = {0x05, 0x40, 0x00, 0x09, 0x02, 0x00, 0x01, 0x01};
	EXPECT_EQ(memcmp(cmd(0, IK_AAA_CMD_AF_EX2), head2, 8), 0);

	img_dsp_af_statistics_ex got{};
	memset(&got, 0xA5, sizeof(got));
	EXPECT_EQ(vors_img_dsp_get_af_statistics_ex(&m, &got), 0);
	EXPECT_EQ(memcmp(&got, &b, sizeof(b)), 0) << "the mode keeps its high bits in the stored block";
}

TEST_F(Ik3a, AfStatisticsExOnTheStillPipeLeavesTheVideoContext)
{
	const img_dsp_af_statistics_ex b = af_ex_block();
	memset(body(0)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	memset(body(1)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	const std::vector<uint8_t> video_before(cmd(0, IK_AAA_CMD_AF_EX1), cmd(0, IK_AAA_CMD_AF_EX2) + 128);
	img_dsp_mode still = mode(1, 0);
	ASSERT_EQ(vors_img_dsp_set_af_statistics_ex(-1, &still, &b), 0);
	EXPECT_EQ(get32(cmd(1, IK_AAA_CMD_AF_EX1)), 0x09004004u);
	EXPECT_EQ(get32(cmd(1, IK_AAA_CMD_AF_EX2)), 0x09004005u);
	EXPECT_TRUE(ik_flag_test(body(1)->update_flags, IK_FLAG(4, 3)));
	EXPECT_FALSE(ik_flag_test(body(0)->update_flags, IK_FLAG(4, 3)));
	EXPECT_EQ(std::vector<uint8_t>(cmd(0, IK_AAA_CMD_AF_EX1), cmd(0, IK_AAA_CMD_AF_EX2) + 128),
	          video_before);
	img_dsp_af_statistics_ex got{};
	img_dsp_mode video = mode(0, 0);
	EXPECT_EQ(vors_img_dsp_get_af_statistics_ex(&video, &got), 0);
	EXPECT_EQ(got.filter1.mode, 0) << "the video context holds its own block";
	EXPECT_EQ(vors_img_dsp_get_af_statistics_ex(&still, &got), 0);
	EXPECT_EQ(memcmp(&got, &b, sizeof(b)), 0);
}

TEST_F(Ik3a, AfStatisticsExRefusals)
{
	const img_dsp_af_statistics_ex b = af_ex_block();
	img_dsp_af_statistics_ex got{};
	img_dsp_mode dec = mode(2, 0);
	img_dsp_mode vid = mode(0, 0);
	img_dsp_mode nocontext = mode(0, 9);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_af_statistics_ex(-1, &dec, &b), -1);
	EXPECT_EQ(vors_img_dsp_get_af_statistics_ex(&dec, &got), -1);
	EXPECT_EQ(vors_img_dsp_get_af_statistics_ex(&vid, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_af_statistics_ex(-1, &vid, nullptr), -1);
	EXPECT_NE(vors_img_dsp_set_af_statistics_ex(-1, &nocontext, &b), 0);
	EXPECT_EQ(vors_img_dsp_set_af_statistics_ex(-1, nullptr, &b), -1);
	std::string t = out.text();
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]vors_img_dsp_set_af_statistics_ex() ", "does not support pipe 2\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]vors_img_dsp_get_af_statistics_ex() ", "does not support pipe 2\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_af_statistics_ex() ", "p_af_ex is empty.\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Warning]vors_img_dsp_set_af_statistics_ex() ", "Cannot get contex mutex\n"));
	EXPECT_EQ(get32(cmd(0, IK_AAA_CMD_AF_EX1)), 0u) << "nothing was stored";
	EXPECT_FALSE(ik_flag_test(body(0)->update_flags, IK_FLAG(4, 3)));
}

/* ---- the statistics fetch ------------------------------------------------ */

/* The driver: checks the exchanged halves, sets the presence byte and fills
 * the sensor-histogram buffer from the image the test prepared. */
struct FakeDriver {
	static std::vector<uint64_t> payload;
	static std::vector<uint8_t> image;
	static uint8_t present;
	static int result;
	static int hook(int, unsigned long request, void *arg)
	{
		if (request != QVD_IOC_IMG_GET_STATISTICS)
			return -1;
		const uint64_t *p = (const uint64_t *)arg;
		payload.assign(p, p + 8);
		if (result < 0)
			return result;
		if (p[2])
			*(uint8_t *)(uintptr_t)p[2] = present;
		if (p[6] && !image.empty())
			memcpy((void *)(uintptr_t)p[6], image.data(), image.size());
		return result;
	}
};
std::vector<uint64_t> FakeDriver::payload;
std::vector<uint8_t> FakeDriver::image;
uint8_t FakeDriver::present;
int FakeDriver::result;

constexpr size_t kBlock = IMG_DSP_SENSOR_HIST_BLOCK;
constexpr size_t kHalf = IMG_DSP_SENSOR_HIST_HALF;

/* One packed row of (14, 6, 4) data: group k holds exponent e(k) and the
 * mantissas of its four columns. */
void pack_row(uint8_t *dst, const std::vector<uint16_t> &mant, const std::vector<uint8_t> &exps)
{
	size_t groups = 2 * ((mant.size() + 7) / 8); /* a group pair covers eight columns */
	for (size_t k = 0; k < groups; k++) {
		uint64_t bits = exps[k] & 7;
		for (unsigned j = 0; j < 4; j++) {
			size_t col = 8 * (k / 2) + (k % 2) + 2 * j;
			if (col < mant.size())
				bits |= (uint64_t)(mant[col] & 63) << (3 + 6 * j);
		}
		for (unsigned i = 0; i < 27; i++) {
			size_t bit = k * 27 + i;
			if ((bits >> i) & 1)
				dst[bit / 8] |= (uint8_t)(1u << (bit % 8));
		}
	}
}

class Ik3aFetch : public Ik3a
{
      protected:
	void SetUp() override
	{
		Ik3a::SetUp();
		vors_img_dsp_register_ioctl(FakeDriver::hook);
		vors_img_dsp_deinit_arch();
		{
			StdoutCapture quiet;
			ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
		}
		reset();
	}
	void reset()
	{
		FakeDriver::payload.clear();
		FakeDriver::image.clear();
		FakeDriver::present = 1;
		FakeDriver::result = 0;
		buf_.assign(IMG_DSP_SENSOR_HIST_BLOCKS * kBlock + 64, 0x5A);
		for (uint64_t i = 0; i < 8; i++)
			desc_.d[i] = 0x1000 + i;
		desc_.d[2] = (uint64_t)(uintptr_t)buf_.data();
		desc_.d[6] = (uint64_t)(uintptr_t)&present_;
	}
	void TearDown() override
	{
		vors_img_dsp_register_ioctl(iktest::RecordingIoctl::hook);
		Ik3a::TearDown();
	}
	/* A driver image of `count` blocks of `rows` values in two packed rows. */
	void make_image(uint32_t count, uint16_t width, uint16_t rows, uint32_t blocks_written)
	{
		std::vector<uint8_t> &img = FakeDriver::image;
		img.assign(blocks_written * kBlock, 0);
		expect_.assign(blocks_written, {});
		for (uint32_t b = 0; b < blocks_written; b++) {
			uint8_t *blk = img.data() + b * kBlock;
			memset(blk + kHalf, 0x77, kHalf); /* the scratch half holds stale data */
			std::vector<uint16_t> values;
			for (int r = 0; r < 2; r++) {
				std::vector<uint16_t> mant(rows);
				std::vector<uint8_t> exps(2 * ((rows + 7) / 8));
				for (uint16_t c = 0; c < rows; c++)
					mant[c] = (uint16_t)((c * 7 + b * 3 + r * 11) % 64);
				for (size_t k = 0; k < exps.size(); k++)
					exps[k] = (uint8_t)((k + b + r) % 8);
				pack_row(blk + 8 + r * width, mant, exps);
				for (uint16_t c = 0; c < rows; c++) {
					size_t k = 2 * (c >> 3) + (c & 1);
					values.push_back((uint16_t)(mant[c] << (exps[k] + 1)));
				}
			}
			expect_[b] = values;
		}
		put16(img, 0, width);
		put16(img, 2, rows);
		put32(img, 4, count);
	}
	void expect_unpacked(uint32_t b, uint16_t rows)
	{
		const uint8_t *blk = buf_.data() + b * kBlock;
		EXPECT_EQ(get32(blk), 2u * rows) << "block " << b;
		for (size_t i = 0; i < expect_[b].size(); i++) {
			uint16_t v;
			memcpy(&v, blk + 4 + 2 * i, 2);
			ASSERT_EQ(v, expect_[b][i]) << "block " << b << " value " << i;
		}
		for (size_t i = 4 + 4 * rows; i < kHalf; i++)
			ASSERT_EQ(blk[i], 0) << "data half is cleared behind the values, block " << b;
		for (size_t i = kHalf; i < kBlock; i++)
			ASSERT_EQ(blk[i], 0) << "scratch half is cleared, block " << b;
	}

	std::vector<uint8_t> buf_;
	uint8_t present_ = 0;
	img_dsp_3a_stat_desc desc_{};
	std::vector<std::vector<uint16_t>> expect_;
};

TEST_F(Ik3aFetch, PayloadHasItsHalvesExchanged)
{
	FakeDriver::present = 0;
	ASSERT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 99, &desc_), 0);
	ASSERT_EQ(FakeDriver::payload.size(), 8u);
	for (int i = 0; i < 4; i++) {
		EXPECT_EQ(FakeDriver::payload[i], desc_.d[i + 4]);
		EXPECT_EQ(FakeDriver::payload[i + 4], desc_.d[i]);
	}
	EXPECT_EQ(buf_[0], 0x5A) << "without the presence byte the buffer is left alone";
}

TEST_F(Ik3aFetch, UnpacksEveryBlockInPlace)
{
	const uint16_t rows = 20, width = 20; /* two packed rows of 20 values, 20 bytes apart */
	for (uint32_t count : {0u, 1u, IMG_DSP_SENSOR_HIST_BLOCKS}) {
		reset();
		make_image(count, width, rows, IMG_DSP_SENSOR_HIST_BLOCKS);
		ASSERT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, &desc_), 0) << count;
		for (uint32_t b = 0; b < count; b++)
			expect_unpacked(b, rows);
		if (count == 0) {
			EXPECT_EQ(get32(buf_.data() + 4), 0u) << "a count of 0 changes nothing";
		} else if (count < IMG_DSP_SENSOR_HIST_BLOCKS) {
			EXPECT_EQ(buf_[count * kBlock + kHalf], 0x77)
			    << "blocks past the count are not touched";
		}
		EXPECT_EQ(buf_[IMG_DSP_SENSOR_HIST_BLOCKS * kBlock], 0x5A)
		    << "nothing written past the buffer";
	}
}

TEST_F(Ik3aFetch, UnpackedFormCopiedUnchanged)
{
	/* A pitch of exactly two bytes a value means the data is already 16-bit. */
	const uint16_t rows = 8;
	make_image(1, 2 * rows, rows, 1);
	uint8_t *blk = FakeDriver::image.data();
	for (size_t i = 8; i < kHalf; i++)
		blk[i] = (uint8_t)(i * 13);
	ASSERT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, &desc_), 0);
	EXPECT_EQ(get32(buf_.data()), 2u * rows);
	for (size_t i = 4; i < kHalf - 4; i++)
		ASSERT_EQ(buf_[i], (uint8_t)((i + 4) * 13)) << i;
	for (size_t i = kHalf; i < kBlock; i++)
		ASSERT_EQ(buf_[i], 0);
}

TEST_F(Ik3aFetch, RefusesWhatDoesNotFit)
{
	struct Case {
		const char *what;
		uint32_t count;
		uint16_t width, rows;
		const char *head;
		const char *tail;
	} cases[] = {
	    {"rows beyond a half", 1, 4160, 2079, "[IK][Warning]vors_img_dsp_3a_get_aaa_stat() ",
	     "not enough memory (0x2080) is assigned for sensor hist data\n"},
	    {"one block too many", IMG_DSP_SENSOR_HIST_BLOCKS + 1, 20, 20,
	     "[IK][Error]vors_img_dsp_3a_get_aaa_stat() ",
	     "sensor hist block count 5 exceeds the buffer of 4 blocks\n"},
	    {"a count an 8-bit counter never reaches", 256, 20, 20,
	     "[IK][Error]vors_img_dsp_3a_get_aaa_stat() ", "sensor hist block count 256 exceeds"},
	    {"pitch reaching past the block", 1, 8300, 20, "[IK][Error]vors_img_dsp_3a_get_aaa_stat() ",
	     "sensor hist pitch 8300 with 20 values exceeds a block\n"},
	};
	for (const auto &c : cases) {
		reset();
		make_image(c.count, c.width, c.rows, 1);
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, &desc_), -1) << c.what;
		EXPECT_TRUE(has_msg(out.text(), c.head, c.tail)) << c.what << ": " << out.text();
		EXPECT_EQ(buf_[kBlock - 1], 0x77)
		    << c.what << ": the refused buffer is left as the driver wrote it";
	}
	reset();
	make_image(1, 20, 2078, 1);
	EXPECT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, &desc_), 0) << "4 x 2078 + 8 = 8320 still fits";
}

TEST_F(Ik3aFetch, DriverFailureAndMissingDescriptor)
{
	FakeDriver::result = -22;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, &desc_), -1);
	EXPECT_EQ(vors_img_dsp_3a_get_aaa_stat(5, 0, nullptr), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]vors_img_dsp_3a_get_aaa_stat() ",
	                    "QVD_IOC_IMG_GET_STATISTICS\n"));
	EXPECT_EQ(buf_[0], 0x5A);
}

TEST(Ik3aUnpack, SensorHistUnpackRefusesNullAndSetsTheFormat)
{
	uint16_t out[4] = {9, 9, 9, 9};
	uint8_t src[64] = {};
	EXPECT_EQ(vors_img_dsp_3a_unpack_sensor_hist_data(nullptr, 16, out, 4, 1), -1);
	EXPECT_EQ(vors_img_dsp_3a_unpack_sensor_hist_data(src, 16, nullptr, 4, 1), -1);
	img_dsp_core_set_raw_unpack_param(15, 9, 2);
	src[0] = 1u << 3; /* exponent 0, first mantissa 1 */
	EXPECT_EQ(vors_img_dsp_3a_unpack_sensor_hist_data(src, 16, out, 1, 1), 0);
	EXPECT_EQ(out[0], 2) << "unpacked as (14, 6, 4) whatever was set before";
	EXPECT_EQ(out[1], 9);
}

} // namespace

namespace
{

TEST(Ik3aLayout, PublicRecords)
{
	EXPECT_EQ(sizeof(img_dsp_ae_tile_cfg), 16u);
	EXPECT_EQ(sizeof(img_dsp_awb_tile_cfg), 24u);
	EXPECT_EQ(offsetof(img_dsp_awb_tile_cfg, pix_min_value), 16u);
	EXPECT_EQ(sizeof(img_dsp_af_tile_cfg), 16u);
	EXPECT_EQ(sizeof(img_dsp_aaa_stat_info), 52u);
	EXPECT_EQ(offsetof(img_dsp_aaa_stat_info, ae), 20u);
	EXPECT_EQ(offsetof(img_dsp_aaa_stat_info, af), 36u);
	EXPECT_EQ(sizeof(img_dsp_3a_pseudo_y), 44u);
	EXPECT_EQ(offsetof(img_dsp_3a_pseudo_y, tone_curve), 12u);
	EXPECT_EQ(sizeof(img_dsp_3a_histogram), 20u);
	EXPECT_EQ(sizeof(img_dsp_3a_early_wb_gain), 36u);
	EXPECT_EQ(offsetof(img_dsp_3a_early_wb_gain, enable_ae_wb_gain), 16u);
	EXPECT_EQ(offsetof(img_dsp_3a_early_wb_gain, red_wb_multiplier), 20u);
	EXPECT_EQ(sizeof(img_dsp_3a_stat_desc), 64u);
	EXPECT_EQ(sizeof(img_dsp_af_statistics_ex), 80u);
	EXPECT_EQ(offsetof(img_dsp_af_statistics_ex, filter1.gain), 4u);
	EXPECT_EQ(offsetof(img_dsp_af_statistics_ex, filter1.shift), 18u);
	EXPECT_EQ(offsetof(img_dsp_af_statistics_ex, filter1.horizontal_thresh), 28u);
	EXPECT_EQ(offsetof(img_dsp_af_statistics_ex, filter2), 32u);
	EXPECT_EQ(offsetof(img_dsp_af_statistics_ex, tile_fv2.vertical_weight), 78u);
}

} // namespace

/* HDR blending: the blending number, the per-step alpha calculation
 * setters, their pre-blend records in Bayer-pattern order and the packed
 * alpha tables. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"
#include "ik_test_support.h"
#include "ik_video_still_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using iktest::has_msg;
using iktest::StdoutCapture;

namespace
{

typedef std::vector<uint8_t> Bytes;

class IkHdrBlend : public iktest::IkVideoStill
{
      protected:
	void *ctx()
	{
		return ctx_;
	}
	ik_ctx_body *body()
	{
		return body_;
	}
	ik_hdr_blocks &hdr()
	{
		return body()->blk.hdr;
	}
	void clear_flags()
	{
		memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
	void pattern(uint8_t p)
	{
		img_dsp_vin_sensor_info v{};
		v.Pattern = p;
		ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m_, &v), 0);
	}
	int blends(uint8_t n)
	{
		img_dsp_hdr_blending_info b{n, {}};
		StdoutCapture quiet;
		return vors_img_dsp_set_hdr_blending_info(1, &m_, &b);
	}
	int cfg(img_dsp_hdr_alpha_calc_cfg c, int32_t i = 0)
	{
		StdoutCapture quiet;
		return vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m_, &c, i);
	}
	uint8_t *packed(int i)
	{
		return (uint8_t *)(uintptr_t)((ik_ctx_head *)ctx())->buf[0] + IK_VBUF_HDR_ALPHA_TABLE +
		       64 * i;
	}
	uint16_t packed_u16(int i, int k)
	{
		uint16_t v;
		memcpy(&v, packed(i) + 2 * k, 2);
		return v;
	}
};

Bytes bytes(const uint8_t *p, size_t n)
{
	return Bytes(p, p + n);
}

img_dsp_hdr_alpha_calc_cfg make_cfg(int8_t control)
{
	img_dsp_hdr_alpha_calc_cfg c{2, 1, control, 0, 1, 2, 3, 4};
	return c;
}

TEST_F(IkHdrBlend, BlendingNumber)
{
	struct {
		uint8_t in, stored;
		int rc;
	} cases[] = {{0, 3, IMG_DSP_CLAMPED}, {4, 3, IMG_DSP_CLAMPED}, {1, 1, 0}, {3, 3, 0}};
	for (const auto &c : cases) {
		img_dsp_hdr_blending_info b{c.in, {}};
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m_, &b), c.rc);
		std::string t = out.text();
		EXPECT_EQ(b.max_blending_number, c.stored);
		if (c.rc) {
			EXPECT_TRUE(
			    has_msg(t, "[IK][Warning]img_dsp_core_set_hdr_blending_info() ",
			            "max_blending_number " + std::to_string(c.in) +
			                " should be within [1 : 3] in img_dsp_check_set_hdr_blending_info\n"))
			    << t;
		}
		img_dsp_hdr_blending_info got{};
		EXPECT_EQ(vors_img_dsp_get_hdr_blending_info(&m_, &got), 0);
		EXPECT_EQ(got.max_blending_number, c.stored);
	}
	img_dsp_mode still = mode(1, 0);
	img_dsp_hdr_blending_info b{2, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_blending_info(1, &still, &b), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m_, nullptr), -1);
	std::string t = out.text();
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]img_dsp_core_set_hdr_blending_info() ", "does not support pipe 1\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_set_hdr_blending_info() ",
	                    "call img_dsp_check_set_hdr_blending_info() fail\n"));
}

TEST_F(IkHdrBlend, RecordsInPatternOrder)
{
	ASSERT_EQ(blends(3), 0);
	pattern(1);
	clear_flags();
	EXPECT_EQ(cfg(make_cfg(3)), 0);
	EXPECT_EQ(bytes(hdr().preblend_config[0], 12),
	          (Bytes{0x0B, 0x50, 0x00, 0x09, 0x02, 0x01, 0x04, 0x00, 0x04, 0x03, 0x02, 0x01}));
	EXPECT_TRUE(flag(IK_UPD_HDR_ALPHA_CALC_CFG(0)));
	EXPECT_EQ(packed_u16(0, 3), 0x3300);
	EXPECT_EQ(packed_u16(0, 31), 0x00FF);
	uint32_t phys = region_->phys_of(packed(0));
	EXPECT_EQ(bytes(hdr().preblend_alpha[0], 12),
	          (Bytes{0x0F, 0x50, 0x00, 0x09, 0, 0, 0, 0, (uint8_t)phys, (uint8_t)(phys >> 8),
	                 (uint8_t)(phys >> 16), (uint8_t)(phys >> 24)}));
	EXPECT_TRUE(flag(IK_UPD_HDR_ALPHA_TABLE(0)));

	pattern(2);
	img_dsp_hdr_alpha_calc_thresh t{{1000, 2000, 3000, 4000}};
	EXPECT_EQ(vors_img_dsp_set_hds_alpha_calc_thresh(1, &m_, &t, 0), 0);
	EXPECT_EQ(bytes(hdr().hds_preblend_thresh[0], 12),
	          (Bytes{0x0C, 0x50, 0x00, 0x09, 0xD0, 0x07, 0xE8, 0x03, 0xA0, 0x0F, 0xB8, 0x0B}));
	EXPECT_TRUE(flag(IK_UPD_HDS_ALPHA_CALC_THRESH(0)));
	EXPECT_FALSE(flag(IK_UPD_HDR_ALPHA_CALC_THRESH(0))) << "the HDR set is separate";
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(1, &m_, &t, 2), 0);
	EXPECT_EQ(bytes(hdr().preblend_thresh[2] + 4, 8),
	          (Bytes{0xD0, 0x07, 0xE8, 0x03, 0xA0, 0x0F, 0xB8, 0x0B}));
	EXPECT_TRUE(flag(IK_UPD_HDR_ALPHA_CALC_THRESH(2)));

	pattern(3);
	img_dsp_hdr_alpha_calc_black_level bl{-100, -200, 300, 400};
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_black_level(1, &m_, &bl, 1), 0);
	EXPECT_FALSE(flag(IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL)) << "the flag belongs to step 0";
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_black_level(1, &m_, &bl, 0), 0);
	EXPECT_EQ(bytes(hdr().preblend_black_level[0], 12),
	          (Bytes{0x0D, 0x50, 0x00, 0x09, 0x2C, 0x01, 0x90, 0x01, 0x9C, 0xFF, 0x38, 0xFF}));
	EXPECT_EQ(bytes(hdr().preblend_black_level[1] + 4, 8), bytes(hdr().preblend_black_level[0] + 4, 8));
	EXPECT_TRUE(flag(IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL));
}

TEST_F(IkHdrBlend, ClampsWarnAndWriteBack)
{
	ASSERT_EQ(blends(3), 0);
	pattern(0);
	img_dsp_hdr_alpha_calc_cfg c{9, 5, 0, 0, 16, 1, 1, 200};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m_, &c, 0), 0) << "stored: accepted";
	img_dsp_hdr_alpha_calc_thresh t{{20000, 1, 16383, 16384}};
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(1, &m_, &t, 0), IMG_DSP_CLAMPED);
	img_dsp_hdr_alpha_calc_black_level bl{-3000, 2048, 0, 2047};
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_black_level(1, &m_, &bl, 0), 0);
	std::string s = out.text();
	const char *cfg_head = "[IK][Warning]img_dsp_core_process_hdr_alpha_calc_config() ";
	for (const char *w :
	     {"avg_radius 9 should be within [0:3] in img_dsp_check_set_hdr_alpha_calc_config \n",
	      "avg_method 5 should be within [0:1] in img_dsp_check_set_hdr_alpha_calc_config \n",
	      "luma_avg_weight_r 16 should be within [0:15] in img_dsp_check_set_hdr_alpha_calc_config \n",
	      "luma_avg_weight_b 200 should be within [0:15] in img_dsp_check_set_hdr_alpha_calc_config \n"})
		EXPECT_TRUE(has_msg(s, cfg_head, w)) << w << s;
	EXPECT_TRUE(has_msg(s, "[IK][Warning]img_dsp_core_process_hdr_alpha_calc_threshold() ",
	                    "saturation_threshold_r 20000 should be within [0:16383] in "
	                    "img_dsp_check_set_hdr_alpha_calc_threshold \n"));
	EXPECT_TRUE(has_msg(s, "[IK][Warning]img_dsp_core_process_hdr_alpha_calc_black_level() ",
	                    "BlackR -3000 should be within [-2048:2047] in "
	                    "img_dsp_check_set_hdr_alpha_calc_black_level \n"));
	EXPECT_EQ(bytes((const uint8_t *)&c, 8), (Bytes{3, 1, 0, 0, 15, 1, 1, 15}));
	EXPECT_EQ(t.saturation_threshold[0], 16383);
	EXPECT_EQ(t.saturation_threshold[3], 16383);
	EXPECT_EQ(bl.BlackR, -2048);
	EXPECT_EQ(bl.BlackGr, 2047);
	img_dsp_hdr_alpha_calc_cfg got{};
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_cfg(&m_, &got, 0), 0);
	EXPECT_EQ(memcmp(&got, &c, sizeof(c)), 0);
	img_dsp_hdr_alpha_calc_thresh gt{};
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_thresh(&m_, &gt, 0), 0);
	EXPECT_EQ(memcmp(&gt, &t, sizeof(t)), 0);
}

TEST_F(IkHdrBlend, BlendControlPicksTheAlphaTable)
{
	ASSERT_EQ(blends(3), 0);
	pattern(0);
	struct {
		int8_t in, stored;
		uint16_t u16_0, u16_31;
	} cases[] = {
	    {-3, 0, 0x3333, 0x00FF},  /* row of 0: column 0 is 3 */
	    {9, 7, 0x0000, 0x00BB},   /* row of 7: last column 11 */
	    {-1, -1, 0x0000, 0x0000}, /* all zeros */
	    {8, 8, 0xFFFF, 0x00FF},   /* all 15 */
	};
	for (const auto &c : cases) {
		memset(packed(1), 0xAA, 64);
		img_dsp_hdr_alpha_calc_cfg b = make_cfg(c.in);
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m_, &b, 1), 0);
		std::string t = out.text();
		EXPECT_EQ(b.blend_control, c.stored);
		if (c.in != c.stored) {
			EXPECT_TRUE(has_msg(
			    t, "[IK][Warning]img_dsp_core_process_hdr_alpha_calc_config() ",
			    "blend_control " + std::to_string(c.in) +
			        " should be within [-2:8] in img_dsp_check_set_hdr_alpha_calc_config, -2, "
			        "-1 and 8 are internal setting\n"))
			    << t;
		}
		EXPECT_EQ(packed_u16(1, 0), c.u16_0) << (int)c.in;
		EXPECT_EQ(packed_u16(1, 31), c.u16_31) << (int)c.in;
		EXPECT_EQ(hdr().preblend_config[1][6], 4) << "saturation_num_nei of the built table";
	}

	/* a caller's table is refused until the step asks for one */
	uint8_t user[128] = {};
	user[0] = 0x10; /* above 15: must not reach row 1's bits */
	user[9] = 4;
	user[1] = 7; /* row 0, column 1: entry 14, u16 3 bits 8-11 */
	img_dsp_hdr_alpha_calc_alpha a{1, {}, (uint64_t)(uintptr_t)user, 9, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_alpha(1, &m_, &a, 1), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_hdr_alpha_calc_alpha() ",
	                    "hdr_alpha_cfg->blend_control != -2, not support user alpha table\n"))
	    << t;
	EXPECT_EQ(t.find("saturation_num_nei"), std::string::npos) << "refused before the check";
	EXPECT_EQ(a.saturation_num_nei, 9) << "a refused call leaves the caller's block alone";
	EXPECT_EQ(packed_u16(1, 0), 0xFFFF) << "the previous table stays";

	ASSERT_EQ(cfg(make_cfg(-2), 1), 0);
	EXPECT_EQ(packed_u16(1, 0), 0xFFFF) << "-2 keeps the table in use";
	{
		StdoutCapture q;
		EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_alpha(1, &m_, &a, 1), 0);
	}
	EXPECT_EQ(a.saturation_num_nei, 7);
	EXPECT_EQ(hdr().preblend_config[1][6], 7);
	EXPECT_EQ(hdr().preblend_alpha[1][4], 1);
	EXPECT_EQ(packed_u16(1, 0), 0x0040);
	EXPECT_EQ(packed_u16(1, 3), 0x0700);
	EXPECT_EQ(memcmp(hdr().alpha_tables[1], user, 128), 0);
	img_dsp_hdr_alpha_calc_alpha got{};
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_alpha(&m_, &got, 1), 0);
	EXPECT_EQ(memcmp(&got, &a, sizeof(a)), 0);

	a.alpha_table_addr = 0;
	a.saturation_num_nei = 2;
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_alpha(1, &m_, &a, 1), 0);
	for (int k = 0; k < 32; k++)
		EXPECT_EQ(packed_u16(1, k), 0) << k;
	EXPECT_EQ(hdr().alpha_tables[1][0], 0);
}

TEST_F(IkHdrBlend, RefusalsStoreNothing)
{
	ASSERT_EQ(blends(3), 0);
	pattern(0);
	/* steps that take a caller's alpha table, so the alpha setter reaches
	 * the blending-number test */
	for (int32_t i = 0; i < 2; i++)
		ASSERT_EQ(cfg(make_cfg(-2), i), 0);
	ASSERT_EQ(blends(1), 0);
	img_dsp_hdr_alpha_calc_cfg c = make_cfg(3);
	img_dsp_hdr_alpha_calc_thresh t{{1, 2, 3, 4}};
	img_dsp_hdr_alpha_calc_black_level bl{1, 2, 3, 4};
	img_dsp_hdr_alpha_calc_alpha a{0, {}, 0, 1, {}};
	img_dsp_mode still = mode(1, 0);
	typedef std::function<int(int32_t, const img_dsp_mode *)> Call;
	/* each step words its pipe refusal its own way */
	struct Setter {
		const char *name;
		Call call;
		const char *pipe_level, *pipe_tail;
	} setters[] = {
	    {"img_dsp_core_process_hdr_alpha_calc_config",
	     [&](int32_t i, const img_dsp_mode *m) {
		     return vors_img_dsp_set_hdr_alpha_calc_cfg(1, m, &c, i);
	     },
	     "[IK][Warning]", "does not support pipe 1\n"},
	    {"img_dsp_core_process_hdr_alpha_calc_threshold",
	     [&](int32_t i, const img_dsp_mode *m) {
		     return vors_img_dsp_set_hdr_alpha_calc_thresh(1, m, &t, i);
	     },
	     "[IK][Error]", "does not support pipe 1\n"},
	    {"img_dsp_core_process_hds_alpha_calc_threshold",
	     [&](int32_t i, const img_dsp_mode *m) {
		     return vors_img_dsp_set_hds_alpha_calc_thresh(1, m, &t, i);
	     },
	     "[IK][Error]", "does not support pipe 1\n"},
	    {"img_dsp_core_process_hdr_alpha_calc_black_level",
	     [&](int32_t i, const img_dsp_mode *m) {
		     return vors_img_dsp_set_hdr_alpha_calc_black_level(1, m, &bl, i);
	     },
	     "[IK][Warning]", "not support pipe 1\n"},
	    {"img_dsp_core_process_hdr_alpha_calc_alpha",
	     [&](int32_t i, const img_dsp_mode *m) {
		     return vors_img_dsp_set_hdr_alpha_calc_alpha(1, m, &a, i);
	     },
	     "[IK][Error]", "does not support pipe 1\n"},
	};
	clear_flags();
	ik_hdr_blocks before = hdr();
	Bytes table_before = bytes(packed(0), 3 * 64);
	for (const auto &s : setters) {
		struct {
			int32_t index;
			const img_dsp_mode *m;
			std::string tail;
		} cases[] = {
		    {1, &m_, "blending_index: 1 >= max_blending_number 1\n"},
		    {-1, &m_, "blending_index -1 should be within [0:2] in "},
		    {3, &m_, "blending_index 3 should be within [0:2] in "},
		    {0, &still, "not support pipe 1\n"},
		};
		for (const auto &k : cases) {
			StdoutCapture out;
			EXPECT_EQ(s.call(k.index, k.m), -1) << s.name << " " << k.tail;
			std::string text = out.text();
			EXPECT_NE(text.find(std::string(s.name) + "() "), std::string::npos) << text;
			EXPECT_NE(text.find(k.tail), std::string::npos) << s.name << ": " << text;
			if (k.m == &still) {
				EXPECT_TRUE(
				    has_msg(text, std::string(s.pipe_level) + s.name + "() ", s.pipe_tail))
				    << s.name << ": " << text;
			}
		}
	}
	EXPECT_EQ(memcmp(&before, &hdr(), sizeof(before)), 0);
	EXPECT_EQ(bytes(packed(0), 3 * 64), table_before);
	for (unsigned f = IK_FLAG(8, 0); f < IK_FLAG(14, 0); f++)
		EXPECT_FALSE(flag(f)) << f;

	/* getters: NULL out, another pipe, a step outside the stored ones */
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_cfg(&m_, nullptr, 0), -1);
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_cfg(&still, &c, 0), -1);
	EXPECT_EQ(vors_img_dsp_get_hdr_alpha_calc_thresh(&m_, &t, 3), -1);
	std::string text = out.text();
	EXPECT_TRUE(
	    has_msg(text, "[IK][Error]vors_img_dsp_get_hdr_alpha_calc_cfg() ", "p_hdr_alpha_cfg is empty"));
	EXPECT_TRUE(
	    has_msg(text, "[IK][Error]vors_img_dsp_get_hdr_alpha_calc_cfg() ", "does not support pipe 1\n"));
}

TEST_F(IkHdrBlend, UnknownPatternIsRefused)
{
	ASSERT_EQ(blends(2), 0);
	pattern(4);
	clear_flags();
	img_dsp_hdr_alpha_calc_cfg c = make_cfg(3);
	img_dsp_hdr_alpha_calc_thresh t{{1, 2, 3, 4}};
	img_dsp_hdr_alpha_calc_black_level bl{1, 2, 3, 4};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m_, &c, 0), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(1, &m_, &t, 0), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_black_level(1, &m_, &bl, 0), -1);
	std::string text = out.text();
	for (const char *f : {"img_dsp_core_process_hdr_alpha_calc_config() ",
	                      "img_dsp_core_process_hdr_alpha_calc_threshold() ",
	                      "img_dsp_core_process_hdr_alpha_calc_black_level() "})
		EXPECT_TRUE(has_msg(text, std::string("[IK][Warning]") + f, "Incorrect pattern 4\n"))
		    << f << text;
	EXPECT_FALSE(flag(IK_UPD_HDR_ALPHA_CALC_CFG(0)));
	EXPECT_FALSE(flag(IK_UPD_HDR_ALPHA_CALC_THRESH(0)));
	EXPECT_FALSE(flag(IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL));
	EXPECT_EQ(bytes(hdr().preblend_config[0] + 8, 4), (Bytes{0, 0, 0, 0}));
	EXPECT_EQ(bytes(hdr().preblend_thresh[0] + 4, 8), Bytes(8, 0));
}

/* With the print switch on, a per-step setter's parameter lines lead with
 * the index it was given. */
TEST_F(IkHdrBlend, ParameterPrintsNameTheIndex)
{
	ASSERT_EQ(blends(3), 0);
	{
		StdoutCapture quiet;
		img_dsp_debug_dump_all(&m_, IMG_DSP_DEBUG_PRINT_FIELDS);
	}
	vors_img_dsp_set_debug_log_id(LOG_VIDEO_HDR_ALPHA_CALC_CONFIG, 1);
	vors_img_dsp_set_debug_log_id(52, 1); /* the linearisation blend threshold */
	const std::string mode_line = "[IK]     Pipe 0, Algo 1, Func 0, Ctx 0, Bch 255, Cfg 0 \n";
	img_dsp_hdr_alpha_calc_cfg c = make_cfg(3);
	img_dsp_amp_linearization_blend t{9, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m_, &c, 2), 0);
	EXPECT_EQ(vors_img_dsp_set_amp_linearization_blend(1, &m_, &t, 1), 0);
	std::string text = out.text();
	{
		StdoutCapture quiet;
		img_dsp_debug_dump_all(&m_, 0);
	}
	vors_img_dsp_set_debug_log_id(LOG_VIDEO_HDR_ALPHA_CALC_CONFIG, 0);
	vors_img_dsp_set_debug_log_id(52, 0);
	EXPECT_EQ(text, mode_line +
	                    "[IK]blending_index 2\n[IK]avg_radius 2\n[IK]avg_method 1\n[IK]blend_control 3\n"
	                    "[IK]luma_avg_weight_r 1\n[IK]luma_avg_weight_gr 2\n[IK]luma_avg_weight_gb 3\n"
	                    "[IK]luma_avg_weight_b 4\n" +
	                    mode_line + "[IK]blending_index: 1\n[IK]alpha_index_threshold = 9\n");
}

/* Two channels, each on its own thread, set the blending and the exposure
 * inputs of their own contexts: every record and table ends up the one its
 * channel asked for. */
class IkHdrTwoChannels : public iktest::IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 2, 2, 2, 0}});
		for (uint8_t c = 0; c < 2; c++) {
			img_dsp_ctx_id cid{0, c, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
	}
	ik_ctx_body *body(uint8_t c, void **ctx = nullptr)
	{
		img_dsp_ctx_id cid{0, c, {}};
		void *p = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &p), 0);
		if (ctx)
			*ctx = p;
		return ik_body(0, p);
	}
};

TEST_F(IkHdrTwoChannels, EachThreadSetsItsOwnContext)
{
	std::vector<uint16_t> luts[2] = {std::vector<uint16_t>(IMG_DSP_AMP_LINEAR_ENTRIES),
	                                 std::vector<uint16_t>(IMG_DSP_AMP_LINEAR_ENTRIES)};
	uint8_t alpha[2][128];
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++) {
		luts[0][i] = (uint16_t)(4 * ik_hdr_grid_code(i));
		luts[1][i] = (uint16_t)(i * 10);
	}
	for (unsigned k = 0; k < 128; k++) {
		alpha[0][k] = (uint8_t)(k % 16);
		alpha[1][k] = (uint8_t)(15 - k % 16);
	}
	auto channel = [&](uint8_t c) {
		img_dsp_mode m = mode(0, c);
		m.FuncMode = IMG_DSP_FUNC_NO_HDR;
		img_dsp_vin_sensor_info v{};
		v.Pattern = c ? 1 : 0;
		EXPECT_EQ(vors_img_dsp_set_vin_sensor_info(&m, &v), 0);
		img_dsp_hdr_blending_info b{2, {}};
		EXPECT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m, &b), 0);
		for (int i = 0; i < 100; i++) {
			img_dsp_hdr_alpha_calc_cfg cfg{c, 1, -2, 0, 1, 2, 3, (uint8_t)(4 + c)};
			EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m, &cfg, 1), 0);
			img_dsp_hdr_alpha_calc_alpha a{
			    c, {}, (uint64_t)(uintptr_t)alpha[c], (uint8_t)(2 + c), {}};
			EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_alpha(1, &m, &a, 1), 0);
			img_dsp_hdr_alpha_calc_thresh t{{(uint16_t)(100 + c), 200, 300, (uint16_t)(400 + c)}};
			EXPECT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(1, &m, &t, 0), 0);
			img_dsp_amp_linearization lin{1, 0, (uint64_t)(uintptr_t)luts[c].data()};
			EXPECT_EQ(vors_img_dsp_set_amp_linearization(1, &m, &lin, 2), 0);
			img_dsp_front_end_wb_gain g{4096u + c, 4096, 4096};
			EXPECT_EQ(vors_img_dsp_set_front_end_wb_gain(1, &m, &g, 1), 0);
		}
	};
	{
		StdoutCapture quiet;
		std::thread a(channel, 0), b(channel, 1);
		a.join();
		b.join();
		quiet.text();
	}
	for (uint8_t c = 0; c < 2; c++) {
		void *ctx = nullptr;
		ik_hdr_blocks &h = body(c, &ctx)->blk.hdr;
		const uint8_t *buf = (const uint8_t *)(uintptr_t)((ik_ctx_head *)ctx)->buf[0];
		/* pattern 0: R, Gr, Gb, B; pattern 1: B, Gb, Gr, R */
		const Bytes weights = c ? Bytes{5, 3, 2, 1} : Bytes{1, 2, 3, 4};
		EXPECT_EQ(Bytes(h.preblend_config[1] + 4, h.preblend_config[1] + 12),
		          (Bytes{c, 1, (uint8_t)(2 + c), 0, weights[0], weights[1], weights[2], weights[3]}))
		    << (int)c;
		EXPECT_EQ(memcmp(h.alpha_tables[1], alpha[c], 128), 0) << (int)c;
		uint16_t words[32];
		ik_hdr_pack_alpha(alpha[c], words);
		EXPECT_EQ(memcmp(buf + IK_VBUF_HDR_ALPHA_TABLE + 64, words, 64), 0) << (int)c;
		uint16_t r = c ? 400 + c : 100 + c;
		EXPECT_EQ(memcmp(h.preblend_thresh[0] + 4, &r, 2), 0) << (int)c;
		EXPECT_EQ(memcmp(h.amp_linearization_lut[2], luts[c].data(), 706), 0) << (int)c;
		uint8_t area[720] = {};
		ik_hdr_pack_amp_linear(luts[c].data(), area, area + 706);
		EXPECT_EQ(memcmp(buf + IK_VBUF_AMPLINEAR_LUT + 2 * IK_AMP_LINEAR_STRIDE, area, 720), 0)
		    << (int)c;
		EXPECT_EQ(h.front_end_wb_gain[1][0], (uint8_t)c) << (int)c;
	}
}

} // namespace

/* HDR exposure inputs: the linearisation blend threshold, saturation
 * levels and their record, front-end gains and raw offsets. */
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_hdr.h"
#include "ik_test_support.h"
#include "ik_video_still_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using iktest::has_msg;
using iktest::StdoutCapture;

namespace
{

typedef std::vector<uint8_t> Bytes;

class IkHdrInputs : public iktest::IkVideoStill
{
      protected:
	void SetUp() override
	{
		IkVideoStill::SetUp();
		img_dsp_hdr_blending_info b{1, {}};
		ASSERT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m_, &b), 0);
		memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
};

TEST_F(IkHdrInputs, BlendThreshold)
{
	struct {
		int32_t index;
		uint8_t threshold;
		int rc;
		const char *msg;
	} cases[] = {
	    {0, 17, -1,
	     "p_amp_linear_blend: AlphaIndexThreshold > 16 in img_dsp_check_set_amp_linearization\n"},
	    {3, 1, -1, "blending_index 3 should be within [0:2] in img_dsp_check_set_amp_linearization\n"},
	    {-1, 1, -1, "blending_index -1 should be within [0:2] in img_dsp_check_set_amp_linearization\n"},
	    {1, 16, 0, nullptr},
	};
	for (const auto &c : cases) {
		img_dsp_amp_linearization_blend b{c.threshold, {}};
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_amp_linearization_blend(1, &m_, &b, c.index), c.rc);
		std::string t = out.text();
		if (c.msg) {
			EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_amp_linear_blend() ", c.msg))
			    << t;
			EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_amp_linear_blend() ",
			                    "call img_dsp_check_set_amp_linearization() fail\n"));
		}
	}
	EXPECT_FALSE(flag(IK_UPD_HDR_AMP_LINEAR(0)));
	EXPECT_TRUE(flag(IK_UPD_HDR_AMP_LINEAR(1)));
	img_dsp_amp_linearization_blend got{};
	EXPECT_EQ(vors_img_dsp_get_amp_linearization_blend(&m_, &got, 1), 0);
	EXPECT_EQ(got.alpha_index_threshold, 16);
	EXPECT_EQ(vors_img_dsp_get_amp_linearization_blend(&m_, &got, 0), 0);
	EXPECT_EQ(got.alpha_index_threshold, 0) << "refusals stored nothing";
}

TEST_F(IkHdrInputs, SaturationLevelsReachTheRecordCapped)
{
	img_dsp_hdr_dgain_saturation_level s{70000, 2, 3, 4, 5, 6, 7, 8};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(1, &m_, &s, 1), IMG_DSP_CLAMPED);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_hdr_dgain_saturation_level() ",
	                    "p_hdr_dgain_saturation_level.pre_level_red 70000 should be within [0:16383] in "
	                    "img_dsp_check_set_hdr_dgain_saturation_level\n"))
	    << t;
	EXPECT_EQ(s.pre_level_red, 70000u) << "levels are reported, not corrected";
	img_dsp_hdr_dgain_saturation_level got{};
	EXPECT_EQ(vors_img_dsp_get_hdr_dgain_saturation_level(&m_, &got, 1), 0);
	EXPECT_EQ(got.pre_level_red, 70000u);
	const uint8_t *rec = body_->blk.hdr.dgain_vignette_saturation[1];
	EXPECT_EQ(Bytes(rec, rec + 36),
	          (Bytes{0x18, 0x20, 0x00, 0x09, 0xFF, 0x3F, 4,    0,    2,    0,    3,    0,
	                 5,    0,    8,    0,    6,    0,    7,    0,    0xFF, 0x3F, 0xFF, 0x3F,
	                 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F}));
	EXPECT_TRUE(flag(IK_UPD_HDR_DGAIN_SATURATION(1)));

	/* one blend: exposures 0 and 1 only */
	img_dsp_hdr_dgain_saturation_level other{1, 1, 1, 1, 1, 1, 1, 1};
	img_dsp_mode still = mode(1, 0);
	StdoutCapture out2;
	EXPECT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(1, &m_, &other, 2), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(1, &m_, &other, 4), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(1, &m_, nullptr, 0), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(1, &still, &other, 0), -1);
	t = out2.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_hdr_dgain_saturation_level() ",
	                    "exposure_index: 2 >= max_blending_number 1\n"))
	    << t;
	EXPECT_TRUE(has_msg(
	    t, "[IK][Error]img_dsp_core_process_hdr_dgain_saturation_level() ",
	    "exposure_index 4 should be within [0:3] in img_dsp_check_set_hdr_dgain_saturation_level\n"));
	EXPECT_FALSE(flag(IK_UPD_HDR_DGAIN_SATURATION(2)));
	EXPECT_FALSE(flag(IK_UPD_HDR_DGAIN_SATURATION(0)));
	EXPECT_EQ(body_->blk.hdr.dgain_vignette_saturation[2][0], 0);
}

TEST_F(IkHdrInputs, FrontEndGainsAreReportedNotCorrected)
{
	img_dsp_front_end_wb_gain g{0x1000000, 4096, 6144};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_front_end_wb_gain(1, &m_, &g, 0), IMG_DSP_CLAMPED);
	img_dsp_front_end_wb_gain ok{8192, 4096, 6144};
	EXPECT_EQ(vors_img_dsp_set_front_end_wb_gain(1, &m_, &ok, 1), 0);
	EXPECT_EQ(vors_img_dsp_set_front_end_wb_gain(1, &m_, &ok, 2), -1);
	std::string t = out.text();
	EXPECT_TRUE(
	    has_msg(t, "[IK][Warning]img_dsp_core_process_front_end_wb_gain() ",
	            "front_end_wb_gain[0].r_gain 16777216 is 12.12 format and should not exceed 0xFFFFFF in "
	            "img_dsp_check_set_front_end_wb_gain\n"))
	    << t;
	img_dsp_front_end_wb_gain got{};
	EXPECT_EQ(vors_img_dsp_get_front_end_wb_gain(&m_, &got, 0), 0);
	EXPECT_EQ(got.r_gain, 0x1000000u);
	EXPECT_EQ(vors_img_dsp_get_front_end_wb_gain(&m_, &got, 1), 0);
	EXPECT_EQ(got.r_gain, 8192u);
	EXPECT_TRUE(flag(IK_UPD_HDR_FRONT_END_WB_GAIN(0)));
	EXPECT_TRUE(flag(IK_UPD_HDR_FRONT_END_WB_GAIN(1)));
	EXPECT_FALSE(flag(IK_UPD_HDR_FRONT_END_WB_GAIN(2)));
}

TEST_F(IkHdrInputs, RawOffsets)
{
	img_dsp_hdr_raw_offset r{{1, -2, 3, -4}, {5, -6, 7, -8}};
	img_dsp_mode still = mode(1, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_raw_offset(1, &m_, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_raw_offset(1, &still, &r), -1);
	img_dsp_hdr_raw_offset got{};
	EXPECT_EQ(vors_img_dsp_get_hdr_raw_offset(&m_, &got), 0);
	EXPECT_EQ(got.y_offset[1], 0) << "refusals stored nothing";
	EXPECT_EQ(vors_img_dsp_set_hdr_raw_offset(1, &m_, &r), 0);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_set_hdr_raw_offset() ", "NULL user input pointer.\n"))
	    << t;
	EXPECT_EQ(vors_img_dsp_get_hdr_raw_offset(&m_, &got), 0);
	EXPECT_EQ(memcmp(&got, &r, sizeof(r)), 0);
	for (unsigned f = IK_FLAG(8, 0); f < IK_FLAG(14, 0); f++)
		EXPECT_FALSE(flag(f)) << f;
}

TEST_F(IkHdrInputs, StaticBlackLevelPerExposure)
{
	img_dsp_vin_sensor_info v{};
	v.Pattern = 1;
	ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m_, &v), 0);
	ik_hdr_blocks &h = body_->blk.hdr;
	ik_hdr_blocks before = h;
	uint8_t *main_rec = ik_sec_bytes(body_->sec, IK_SEC_BLACK_LEVEL);
	memset(main_rec + 20, 0x55, 18);
	img_dsp_static_black_level b{-100, 200, -300, 3000};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_static_black_level(1, &m_, &b, 0), IMG_DSP_CLAMPED);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(
	    t, "[IK][Warning]img_dsp_core_process_hdr_static_black_level() ",
	    "BlackB 3000 should be within [-2048:2047] in img_dsp_check_set_hdr_static_black_level \n"))
	    << t;
	EXPECT_EQ(b.BlackB, 2047);
	/* pattern 1: B, Gb, Gr, R */
	const uint8_t *hdr0 = h.black_level_global_offset_hdr[0];
	EXPECT_EQ(Bytes(hdr0, hdr0 + 20),
	          (Bytes{0x0E, 0x20, 0x00, 0x09, 0xFF, 0x07, 0,    0,    0xD4, 0xFE,
	                 0xFF, 0xFF, 0xC8, 0,    0,    0,    0x9C, 0xFF, 0xFF, 0xFF}));
	EXPECT_EQ(memcmp(h.black_level_global_offset, before.black_level_global_offset,
	                 sizeof(h.black_level_global_offset)),
	          0)
	    << "exposure 0 writes the HDR-input record only";
	EXPECT_EQ(Bytes(main_rec + 20, main_rec + 38), Bytes(18, 0)) << "offset triples cleared";
	EXPECT_TRUE(flag(IK_UPD_HDR_STATIC_BLACK_LEVEL(0)));

	memset(h.black_level_global_offset_hdr[1], 0x77, 20);
	memset(h.black_level_global_offset[1], 0x77, 40);
	img_dsp_static_black_level b2{1, 2, 3, 4};
	EXPECT_EQ(vors_img_dsp_set_hdr_static_black_level(1, &m_, &b2, 2), 0);
	const uint8_t *g1 = h.black_level_global_offset[1];
	Bytes want(40, 0);
	const uint8_t head[20] = {0x01, 0x20, 0x00, 0x09, 4, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
	memcpy(want.data(), head, sizeof(head));
	EXPECT_EQ(Bytes(g1, g1 + 40), want);
	const uint8_t *hdr1 = h.black_level_global_offset_hdr[1];
	Bytes zeros_with_code(20, 0);
	zeros_with_code[0] = 0x0E;
	zeros_with_code[1] = 0x20;
	zeros_with_code[3] = 0x09;
	EXPECT_EQ(Bytes(hdr1, hdr1 + 20), zeros_with_code);
	EXPECT_TRUE(flag(IK_UPD_HDR_STATIC_BLACK_LEVEL(2)));

	StdoutCapture out2;
	EXPECT_EQ(vors_img_dsp_set_hdr_static_black_level(1, &m_, &b2, 4), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_static_black_level(1, &m_, nullptr, 0), -1);
	v.Pattern = 4;
	ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m_, &v), 0);
	EXPECT_EQ(vors_img_dsp_set_hdr_static_black_level(1, &m_, &b2, 1), -1);
	t = out2.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_hdr_static_black_level() ",
	                    "p_hdr_black_corr is NULL in img_dsp_check_set_hdr_static_black_level\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_hdr_static_black_level() ",
	                    "Incorrect pattern 4\n"));
	EXPECT_FALSE(flag(IK_UPD_HDR_STATIC_BLACK_LEVEL(1)));
}

TEST_F(IkHdrInputs, LinearisationAndBlendBlackLevels)
{
	ik_hdr_blocks &h = body_->blk.hdr;
	for (int r = 0; r < 3; r++)
		EXPECT_EQ(Bytes(h.black_level_amplinear_hdr[r], h.black_level_amplinear_hdr[r] + 4),
		          (Bytes{0x0D, 0x20, 0x00, 0x09}))
		    << "written at initialisation";
	img_dsp_static_black_level b{20000, -5, 7, 8};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_amp_linearization_static_black_level(1, &m_, &b, 0), IMG_DSP_CLAMPED);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(
	    t, "[IK][Warning]img_dsp_core_process_amp_linearization_static_black_level() ",
	    "BlackR 20000 should be within [0:10383] in img_dsp_check_set_amp_linear_static_black_level \n"))
	    << t;
	EXPECT_EQ(b.BlackR, 10383);
	EXPECT_EQ(b.BlackGr, 0);
	const uint8_t *rec0 = h.black_level_amplinear_hdr[0];
	EXPECT_EQ(Bytes(rec0 + 4, rec0 + 20), (Bytes{0x8F, 0x28, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0}));
	EXPECT_TRUE(flag(IK_UPD_AMP_LINEAR_BLACK_LEVEL(0)));

	img_dsp_static_black_level c{1, 2, 3, 4};
	EXPECT_EQ(vors_img_dsp_set_amp_linearization_static_black_level(1, &m_, &c, 2), 0);
	const uint8_t *rec1 = h.black_level_amplinear_hdr[1];
	EXPECT_EQ(Bytes(rec1 + 20, rec1 + 36), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}));
	EXPECT_EQ(vors_img_dsp_set_hdr_blend_static_black_level(1, &m_, &c, 2), 0);
	const uint8_t *rec2 = h.black_level_amplinear_hdr[2];
	EXPECT_EQ(Bytes(rec2 + 36, rec2 + 52), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}));
	EXPECT_TRUE(flag(IK_UPD_HDR_BLEND_BLACK_LEVEL(2)));

	ik_hdr_blocks before = h;
	StdoutCapture out2;
	EXPECT_EQ(vors_img_dsp_set_amp_linearization_static_black_level(1, &m_, &c, 3), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_blend_static_black_level(1, &m_, &c, 3), -1);
	t = out2.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_amp_linearization_static_black_level() ",
	                    "Incorrect expsoure idex 3\n"));
	EXPECT_FALSE(flag(IK_UPD_AMP_LINEAR_BLACK_LEVEL(3))) << "nothing stored, nothing flagged";
	EXPECT_EQ(memcmp(&before, &h, sizeof(h)), 0);
}

TEST_F(IkHdrInputs, StaticBlackLevelInHdrModeFillsEveryBlend)
{
	img_dsp_hdr_blending_info two{2, {}};
	ASSERT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m_, &two), 0);
	img_dsp_vin_sensor_info v{};
	v.Pattern = 2;
	ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m_, &v), 0);
	memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	ik_hdr_blocks &h = body_->blk.hdr;
	memset(h.preblend_black_level[2], 0x66, 12);
	memset(h.black_level_global_offset_hdr[1], 0x66, 20);
	img_dsp_static_black_level b{-1, 2, -3, 4};
	img_dsp_update_list list{};
	m_.FuncMode = 8;
	EXPECT_EQ(img_dsp_core_process_post_hdr_static_black_level(&m_, &b, 0, &list), 0);
	/* pattern 2: Gr, R, B, Gb */
	const uint8_t *main_rec = ik_sec_bytes(body_->sec, IK_SEC_BLACK_LEVEL);
	Bytes want(40, 0);
	const uint8_t head[20] = {0x01, 0x20, 0x00, 0x09, 2, 0, 0,    0,    0xFF, 0xFF,
	                          0xFF, 0xFF, 4,    0,    0, 0, 0xFD, 0xFF, 0xFF, 0xFF};
	memcpy(want.data(), head, sizeof(head));
	EXPECT_EQ(Bytes(main_rec, main_rec + 40), want);
	EXPECT_TRUE(flag(IK_UPD_BLACK_LEVEL));
	EXPECT_EQ(list.entry[0].section, (const void *)main_rec);
	for (int i = 0; i < 2; i++) {
		EXPECT_EQ(Bytes(h.preblend_black_level[i], h.preblend_black_level[i] + 12),
		          (Bytes{0x0D, 0x50, 0x00, 0x09, 2, 0, 0xFF, 0xFF, 4, 0, 0xFD, 0xFF}))
		    << i;
		EXPECT_EQ(Bytes(h.black_level_global_offset[i], h.black_level_global_offset[i] + 40), want)
		    << i;
	}
	EXPECT_EQ(h.preblend_black_level[2][0], 0x66) << "no third blend";
	EXPECT_EQ(Bytes(h.black_level_global_offset_hdr[0], h.black_level_global_offset_hdr[0] + 20),
	          (Bytes{0x0E, 0x20, 0x00, 0x09, 2, 0, 0,    0,    0xFF, 0xFF,
	                 0xFF, 0xFF, 4,    0,    0, 0, 0xFD, 0xFF, 0xFF, 0xFF}));
	Bytes code_only(20, 0);
	code_only[0] = 0x0E;
	code_only[1] = 0x20;
	code_only[3] = 0x09;
	EXPECT_EQ(Bytes(h.black_level_global_offset_hdr[1], h.black_level_global_offset_hdr[1] + 20),
	          code_only);
	img_dsp_static_black_level stored;
	memcpy(&stored, body_->blk.static_black_level, sizeof(stored));
	EXPECT_EQ(stored.BlackGb, -3);
}

/* ---- amplifier linearisation ---------------------------------------------- */

uint32_t grid(unsigned i)
{
	return ik_hdr_grid_code(i);
}

class IkAmpLinear : public IkHdrInputs
{
      protected:
	void SetUp() override
	{
		IkHdrInputs::SetUp();
		hdr_ = m_;
		hdr_.FuncMode = IMG_DSP_FUNC_NO_HDR;
		buf_ = (uint8_t *)(uintptr_t)((ik_ctx_head *)ctx_)->buf[0];
	}
	const uint8_t *packed(bool hds, unsigned e) const
	{
		return buf_ + (hds ? IK_VBUF_AMPLINEAR_HDS_LUT : IK_VBUF_AMPLINEAR_LUT) +
		       IK_AMP_LINEAR_STRIDE * e;
	}
	img_dsp_mode hdr_{};
	uint8_t *buf_ = nullptr;
	uint16_t lut_[IMG_DSP_AMP_LINEAR_ENTRIES];
};

TEST_F(IkAmpLinear, GridAndPacking)
{
	EXPECT_EQ(grid(64), 256u);
	EXPECT_EQ(grid(96), 512u);
	EXPECT_EQ(grid(128), 1024u);
	EXPECT_EQ(grid(224), 4096u);
	EXPECT_EQ(grid(288), 8192u);
	EXPECT_EQ(grid(351), 16256u);
	EXPECT_EQ(grid(352), 16256u);
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++)
		lut_[i] = (uint16_t)(4 * grid(i));
	img_dsp_amp_linearization a{1, 0, (uint64_t)(uintptr_t)lut_};
	EXPECT_EQ(vors_img_dsp_set_amp_linearization(1, &hdr_, &a, 0), 0);
	const uint8_t *t = packed(false, 0);
	EXPECT_EQ(Bytes(t + 706, t + 720), (Bytes{0x00, 0x10, 0x1A, 0x01, 0x40, 0x34, 0x04, 0x00, 0xD1, 0x08,
	                                          0x00, 0x22, 0x23, 0x00}));
	EXPECT_EQ(Bytes(t, t + 8), (Bytes{0x00, 0x00, 0x01, 0x20, 0x00, 0x03, 0x40, 0x00}));
	uint16_t last;
	memcpy(&last, t + 528, 2);
	EXPECT_EQ(last, 4064u);
	/* entry 160 opens group 5 (shift 2): 8192 >> 2 at bit 12 x 160 */
	uint16_t e160;
	memcpy(&e160, t + 240, 2);
	EXPECT_EQ(e160 & 0xFFFu, 2048u);
	EXPECT_EQ(Bytes(t + 530, t + 706), Bytes(176, 0));
	EXPECT_TRUE(flag(IK_UPD_HDR_AMP_LINEAR(0)));

	img_dsp_amp_linearization got{};
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&hdr_, &got, 0), 0);
	EXPECT_EQ(got.lut_addr, (uint64_t)(uintptr_t)body_->blk.hdr.amp_linearization_lut[0])
	    << "the getter names the context's copy";
	memset(lut_, 0, sizeof(lut_));
	EXPECT_NE(memcmp(body_->blk.hdr.amp_linearization_lut[0], lut_, 8), 0)
	    << "the copy outlives the caller's";

	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++)
		lut_[i] = (uint16_t)(i * 10);
	EXPECT_EQ(vors_img_dsp_set_amp_linearization(1, &hdr_, &a, 1), 0);
	EXPECT_EQ(Bytes(packed(false, 1) + 706, packed(false, 1) + 720), Bytes(14, 0))
	    << "below 4096: no shift";
	memcpy(&last, packed(false, 1) + 528, 2);
	EXPECT_EQ(last, 3520u);

	a.amplinear_ena = 0;
	EXPECT_EQ(vors_img_dsp_set_amp_linearization(1, &hdr_, &a, 1), 0);
	EXPECT_EQ(Bytes(packed(false, 1), packed(false, 1) + 720), Bytes(720, 0))
	    << "disabled: nothing packed";
	EXPECT_EQ(memcmp(body_->blk.hdr.amp_linearization_lut[1], lut_, 706), 0) << "the table is still kept";
}

TEST_F(IkAmpLinear, HdsSetIsSeparate)
{
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++)
		lut_[i] = (uint16_t)(4 * grid(i));
	img_dsp_amp_linearization a{1, 0, (uint64_t)(uintptr_t)lut_};
	EXPECT_EQ(vors_img_dsp_set_amp_linearization_hds(1, &hdr_, &a, 1), 0);
	EXPECT_TRUE(flag(IK_UPD_AMP_LINEAR_HDS(1)));
	EXPECT_FALSE(flag(IK_UPD_HDR_AMP_LINEAR(1)));
	EXPECT_EQ(packed(true, 1)[706 + 1], 0x10);
	EXPECT_EQ(packed(false, 1)[706 + 1], 0x00);
	img_dsp_amp_linearization got{};
	ASSERT_EQ(vors_img_dsp_get_amp_linearization_hds(&hdr_, &got, 1), 0);
	EXPECT_EQ(got.lut_addr, (uint64_t)(uintptr_t)body_->blk.hdr.amp_linearization_hds_lut[1]);
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&hdr_, &got, 1), 0);
	EXPECT_EQ(got.lut_addr, 0u);
}

TEST_F(IkAmpLinear, ChecksAndRefusals)
{
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++)
		lut_[i] = (uint16_t)i;
	const uint64_t table = (uint64_t)(uintptr_t)lut_;
	img_dsp_mode exactly_hdr = hdr_, with_more = hdr_, single = m_, still = mode(1, 0);
	with_more.FuncMode = IMG_DSP_FUNC_NO_HDR | IMG_DSP_FUNC_CLISO;
	struct Case {
		const char *what;
		const img_dsp_mode *mode;
		uint32_t ena;
		uint64_t lut;
		int32_t exposure;
		int rc;
		const char *msg;
	} cases[] = {
	    {"exposure 4", &exactly_hdr, 1, table, 4, -1,
	     "[IK][Error]|exposure_index 4 should be within [0:3] in "
	     "img_dsp_check_set_hdr_amp_linearization\n"},
	    {"no table", &exactly_hdr, 2, 0, 0, -1,
	     "[IK][Error]|amp_linearization: lut_addr == 0 in img_dsp_check_set_hdr_amp_linearization\n"},
	    {"no table, single exposure", &single, 1, 0, 7, -1,
	     "[IK][Error]|amp_linearization.lut_addr == 0 in img_dsp_check_set_amp_linearization\n"},
	    {"beyond the blends", &exactly_hdr, 1, table, 2, -1,
	     "[IK][Error]|exposure_index: 2 >= max_blending_number 1\n"},
	    {"still pipe", &still, 1, table, 0, -1, "[IK][Error]|does not support pipe 1\n"},
	    /* a stored linearisation is plain success, corrected or not */
	    {"other flags beside HDR: no blend test", &with_more, 3, table, 3, 0,
	     "[IK][Warning]|amplinear_ena 3 should be within [0:1] in "
	     "img_dsp_check_set_hdr_amp_linearization \n"},
	    {"single exposure: exposure 1", &single, 2, table, 0, 0,
	     "[IK][Warning]|amp_linear.amplinear_ena 2 should be within [0:1] in "
	     "img_dsp_check_set_amp_linearization \n"},
	};
	for (const auto &c : cases) {
		memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		img_dsp_amp_linearization a{c.ena, 0, c.lut};
		StdoutCapture out;
		int rc = vors_img_dsp_set_amp_linearization(1, c.mode, &a, c.exposure);
		std::string t = out.text();
		EXPECT_EQ(rc, c.rc) << c.what;
		std::string msg(c.msg);
		size_t bar = msg.find('|');
		EXPECT_TRUE(has_msg(t, msg.substr(0, bar) + "img_dsp_core_process_amp_linearization() ",
		                    msg.substr(bar + 1)))
		    << c.what << "\n"
		    << t;
		if (c.rc == IMG_DSP_FAIL)
			EXPECT_EQ(Bytes(body_->update_flags, body_->update_flags + IK_UPDATE_FLAG_BYTES),
			          Bytes(IK_UPDATE_FLAG_BYTES, 0))
			    << c.what;
		else
			EXPECT_EQ(a.amplinear_ena, 1u) << c.what;
	}
	EXPECT_TRUE(flag(IK_UPD_HDR_AMP_LINEAR(1))) << "the single linearisation is exposure 1's";
	img_dsp_amp_linearization got{};
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&single, &got, 3), 0);
	EXPECT_EQ(got.amplinear_ena, 1u);
	EXPECT_NE(got.lut_addr, 0u);
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&hdr_, &got, 2), 0);
	EXPECT_EQ(got.lut_addr, 0u) << "exposure 2 was refused";
	StdoutCapture out;
	int rc = vors_img_dsp_set_amp_linearization_hds(1, &hdr_, nullptr, 0);
	std::string t = out.text();
	EXPECT_EQ(rc, -1);
	EXPECT_TRUE(
	    has_msg(t, "[IK][Warning]img_dsp_core_process_amp_linearization_hds() ",
	            "call img_dsp_check_set_hdr_amp_linearization() / img_dsp_check_set_amp_linearization() "
	            "fail\n"));
}

} // namespace

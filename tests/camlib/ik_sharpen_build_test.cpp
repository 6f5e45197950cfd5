/* The first sharpen-noise stage as a built configuration carries it: the
 * blocks go in through the public setters, a configuration is built and
 * posted, and the sharpen block and its three tables are read back. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_fir_golden.h"
#include "ik_liso.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

class IkSharpenBuild : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up_built_video();
		ASSERT_FALSE(HasFatalFailure());
		/* The luma-processing selection picks the first sharpen stage. */
		body()->blk.liso_process_select[0] = 1;
		firgolden::prime(tbl() + IK_TBL_SHP_FIR1);
		firgolden::prime(tbl() + IK_TBL_SHP_FIR2);
	}
	ik_ctx_body *body()
	{
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(0, c);
	}
	uint8_t *tbl()
	{
		img_dsp_cfg_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &c), 0);
		return (uint8_t *)c;
	}
	ik_sharpen_block &sharpen()
	{
		img_dsp_cfg_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return ((img_dsp_iso_cfg *)c)->main.basic.liso.sharpen;
	}
	/* The table a field of the built sharpen block names, which must be
	 * the slot's place in the configuration's table block. */
	const uint8_t *table(uint32_t phys, uint32_t slot_offset)
	{
		EXPECT_EQ(phys, region_->phys_of(tbl()) + slot_offset);
		return region_->user() + (phys - region_->phys_addr());
	}
	/* Both FIRs with `specify` 0 and the given overall strengths. */
	void set_stage(uint8_t mode, uint16_t sharpen_iso, uint16_t noise_iso)
	{
		img_dsp_1st_sharpen_noise_both b{};
		b.Enable = 1;
		b.Mode = mode;
		b.EdgeThresh = 1000;
		b.WideEdgeDetect = 5;
		b.MaxChangeUp5x5 = 11;
		b.MaxChangeDown5x5 = 22;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_both(0, &m_, &b), 0);
		img_dsp_fir f{};
		f.strength_iso = sharpen_iso;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(0, &m_, &f), 0);
		img_dsp_1st_sharpen_noise_noise n{};
		n.MaxChangeUp = 10;
		n.MaxChangeDown = 20;
		n.fir.strength_iso = noise_iso;
		n.level_str_adjust = img_dsp_level{30, 2, 3, 4, 60, 1, 5};
		n.LevelStrAdjustNotT0T1LevelBased = 1;
		n.T0 = 40;
		n.T1 = 55;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_noise(0, &m_, &n), 0);
	}
	int build()
	{
		StdoutCapture quiet;
		return vors_img_dsp_post_exe_cfg(5, &m_);
	}
	img_dsp_mode m_ = mode(0, 0);
};

TEST_F(IkSharpenBuild, CombiningModeTablesAndCoefficients)
{
	set_stage(0, 64, 64);
	ASSERT_EQ(build(), 0);
	const ik_sharpen_block &s = sharpen();
	const uint8_t *f1 = table(s.fir1, IK_TBL_SHP_FIR1), *f2 = table(s.fir2, IK_TBL_SHP_FIR2);
	firgolden::expect_combining(f1, f2, body()->blk.first_sharpen);

	/* The rest of the block from the both block's own fields. */
	EXPECT_EQ(s.edge_thresh, 1000 | 0x800) << "shp_mode0 with mode 0";
	EXPECT_EQ(s.max_change_up_5x5, 11);
	EXPECT_EQ(s.max_change_down_5x5, 22);
	EXPECT_EQ(s.wide_edge_detect, 5);
	EXPECT_EQ(s.flags & IK_SHP_ENABLE, IK_SHP_ENABLE);
	EXPECT_EQ(s.fir2_clip_high, 4095);
	EXPECT_EQ(s.fir2_clip_low, -4096);
	const uint8_t fixed[8] = {0x0A, 0x0C, 0x00, 0x14, 0x16, 0x00, 0x00, 0x09};
	EXPECT_EQ(memcmp(&s.fir2_out_scale, fixed, 8), 0);
}

TEST_F(IkSharpenBuild, SeparateModeTablesClipsAndOutputScale)
{
	set_stage(2, 64, 64);
	ik_first_sharpen_group &g = body()->blk.first_sharpen;
	for (int d = 0; d < 9; d++)
		for (int k = 0; k < 25; k++)
			g.sharpen_coefs[d][k] = g.noise_coefs[d][k] = 77;
	ASSERT_EQ(build(), 0);
	const ik_sharpen_block &s = sharpen();
	const uint8_t *f1 = table(s.fir1, IK_TBL_SHP_FIR1), *f2 = table(s.fir2, IK_TBL_SHP_FIR2);
	firgolden::expect_separate(f1, f2, g);
	/* FIR 2 is the noise filter: its change limits clip it. */
	EXPECT_EQ(s.fir2_clip_high, 160);
	EXPECT_EQ(s.fir2_clip_low, -320);
	EXPECT_EQ(s.edge_thresh, 1000);
	/* The noise block's explicit strength curve: low 30, low_0 34, high 60,
	 * high_0 62. */
	EXPECT_EQ(s.fir2_out_scale.low, 30);
	EXPECT_EQ(s.fir2_out_scale.low_0, 34);
	EXPECT_EQ(s.fir2_out_scale.high, 60);
	EXPECT_EQ(s.fir2_out_scale.high_0, 62);
	EXPECT_EQ(s.fir2_out_scale.base_val, 4);
}

TEST_F(IkSharpenBuild, ZeroStrengthTables)
{
	set_stage(0, 0, 0);
	ASSERT_EQ(build(), 0);
	const ik_sharpen_block &s = sharpen();
	const uint8_t *f1 = table(s.fir1, IK_TBL_SHP_FIR1), *f2 = table(s.fir2, IK_TBL_SHP_FIR2);
	firgolden::expect_zero_strength(f1, f2);
}

TEST_F(IkSharpenBuild, DirectionalStrengthUsesTheRemappedTable)
{
	set_stage(2, 128, 64);
	img_dsp_fir f{};
	f.specify = 2;
	f.strength_iso = 128;
	f.strength_dir = 256;
	ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(0, &m_, &f), 0);
	ASSERT_EQ(build(), 0);
	const uint8_t *f1 = table(sharpen().fir1, IK_TBL_SHP_FIR1);
	firgolden::expect_directional(f1);
}

TEST_F(IkSharpenBuild, CoringTablePacksFiveBitsPerEntry)
{
	set_stage(0, 64, 64);
	img_dsp_sharpen_coring c{};
	memset(c.coring, 8, sizeof(c.coring));
	c.coring[4] = 1;
	c.coring[5] = 2;
	c.coring[6] = 3;
	c.coring[7] = 4;
	c.coring_mul_fractional_bits = 1;
	ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_coring(0, &m_, &c), 0);
	ASSERT_EQ(build(), 0);
	const ik_sharpen_block &s = sharpen();
	const uint8_t *t = table(s.coring, IK_TBL_SHP_CORING);
	for (int w = 0; w < 64; w++) {
		std::vector<uint8_t> want = w == 1 ? std::vector<uint8_t>{0x41, 0x0C, 0x02, 0x00}
		                                   : std::vector<uint8_t>{0x08, 0x21, 0x04, 0x00};
		EXPECT_EQ(std::vector<uint8_t>(t + 4 * w, t + 4 * w + 4), want) << "word " << w;
	}
	EXPECT_EQ(s.flags >> 6, 2) << "coring_mul_shift = 3 - fractional bits";
}

} // namespace

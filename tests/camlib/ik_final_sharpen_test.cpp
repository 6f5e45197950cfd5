/* The final-sharpen table: golden bytes of the two sharpen engines' register
 * image, from direct calls and from a built configuration. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_helpers.h"
#include "ik_liso.h"
#include "ik_math.h"
#include "ik_mctf.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

std::vector<uint8_t> at(const uint8_t *t, size_t off, size_t n)
{
	return std::vector<uint8_t>(t + off, t + off + n);
}

/* First byte of each of a level block's ten slots. */
std::vector<uint8_t> level(const uint8_t *t, size_t off)
{
	std::vector<uint8_t> v;
	for (int i = 0; i < 10; i++)
		v.push_back(t[off + 8 * i]);
	return v;
}

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

uint16_t rd16(const uint8_t *p)
{
	uint16_t v;
	memcpy(&v, p, 2);
	return v;
}

const std::vector<uint8_t> kPair = {0x00, 0x10, 0x00, 0x00, 0xFF, 0x0F, 0x00, 0x00};

/* The basic configuration's settings. */
void basic_settings(ik_final_sharpen_group *g, uint8_t *three_d)
{
	img_dsp_final_sharpen_noise_both &b = g->both;
	b.enable = 1;
	b.mode = 0;
	b.edge_thresh = 1000;
	b.wide_edge_detect = 3;
	b.max_change_up5x5 = 10;
	b.max_change_down5x5 = 20;
	b.max_change_up = 30;
	b.max_change_down = 40;
	b.three_d_u_bits = 5;
	b.three_d_u_offset = 6;
	b.three_d_u_shift = 2;
	b.three_d_v_bits = 7;
	b.three_d_v_offset = 8;
	b.three_d_v_shift = 3;
	b.three_d_y_offset = 9;
	b.three_d_y_shift = 4;
	b.three_d_table = (uint64_t)(uintptr_t)three_d;
	memset(g->sharpen_coring.coring, 8, 256);
	g->sharpen_coring.coring_mul_fractional_bits = 1;
	g->sharpen_fir.specify = 0;
	g->sharpen_fir.strength_iso = 64;
	g->noise.fir.specify = 0;
	g->noise.fir.strength_iso = 64;
	g->coring_index_scale = {10, 1, 16, 16, 20, 1, 16, 1};
	g->scale_coring = {10, 1, 16, 16, 20, 1, 16, 0};
	g->min_coring_result = {10, 1, 16, 16, 20, 1, 16, 0};
	g->max_coring_result = {10, 1, 16, 16, 20, 1, 16, 0};
}

void expect_basic_table(const uint8_t *t, const uint8_t *three_d)
{
	EXPECT_EQ(t[9] & 3, 1);
	EXPECT_EQ(t[16], 0x39);
	EXPECT_EQ(t[712], 0x19);
	EXPECT_EQ(t[48], 0x20);
	EXPECT_EQ(rd16(t + 64), 1000);
	EXPECT_EQ(at(t, 96, 2), (std::vector<uint8_t>{20, 40}));
	EXPECT_EQ(at(t, 104, 2), (std::vector<uint8_t>{10, 30}));
	EXPECT_EQ(t[112], 0);
	EXPECT_EQ(t[120], 255);
	EXPECT_EQ(at(t, 608, 3), (std::vector<uint8_t>{9, 6, 8}));
	EXPECT_EQ(rd16(t + 616), 0xD4);
	EXPECT_EQ(t[624], 0x75);
	EXPECT_EQ(t[632], 0x35);
	/* engine 2 alike, 696 bytes on */
	EXPECT_EQ(rd16(t + 64 + 696), 1000);
	EXPECT_EQ(at(t, 608 + 696, 3), (std::vector<uint8_t>{9, 6, 8}));
	EXPECT_EQ(t[632 + 696], 0x35);
	EXPECT_EQ(t[48 + 696], 0x20);

	EXPECT_EQ(level(t, 128), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 32, 32, 32, 6}));
	EXPECT_EQ(level(t, 2424), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 16, 16, 16, 6}));
	EXPECT_EQ(level(t, 2824), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 16, 16, 16, 7}));
	EXPECT_EQ(level(t, 4656), level(t, 2824));
	EXPECT_EQ(level(t, 528), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 0, 0, 0, 6}));
	EXPECT_EQ(level(t, 16 + 432), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 255, 255, 255, 6}));

	for (size_t off : {1408u, 1416u, 2320u, 2328u, 3240u, 4152u})
		EXPECT_EQ(at(t, off, 8), kPair) << off;
	EXPECT_EQ(at(t, 1424, 4), (std::vector<uint8_t>{0x00, 0x10, 0xFF, 0x0F}));
	EXPECT_EQ(at(t, 3256, 4), (std::vector<uint8_t>{0x00, 0x10, 0xFF, 0x0F}));
	EXPECT_EQ(rd32(t + 2336) & 0x1FF, 256u);
	EXPECT_EQ(rd32(t + 2340) & 0x1FF, 255u);

	/* Bytes 9, 10, 11, 15, 16, 18, 20, 22, 25, 27 and the word at 28 of
	 * direction 0: FIR 1 of both engines, FIR 2 of the first. */
	const struct {
		size_t base;
		std::vector<uint8_t> b;
		uint32_t centre;
	} firs[] = {
	    {1456, {0x3E, 0x3A, 0x3E, 0x3E, 0x78, 0x0B, 0x78, 0x3E, 0x3A, 0x0B}, 0x1C00},
	    {3288, {0x3E, 0x3A, 0x3E, 0x3E, 0x78, 0x0B, 0x78, 0x3E, 0x3A, 0x0B}, 0x1C00},
	    {1744, {0x02, 0x06, 0x02, 0x02, 0x0F, 0x1B, 0x0F, 0x02, 0x06, 0x1B}, 0x3000},
	};
	for (const auto &f : firs) {
		std::vector<uint8_t> got;
		for (size_t k : {9, 10, 11, 15, 16, 18, 20, 22, 25, 27})
			got.push_back(t[f.base + k]);
		EXPECT_EQ(got, f.b) << f.base;
		EXPECT_EQ(rd32(t + f.base + 28), f.centre) << f.base;
	}
	const std::vector<uint8_t> shifts = {0x84, 0x10, 0x42, 0x08, 0x21, 0x04, 0x00, 0x00};
	EXPECT_EQ(at(t, 1432, 8), shifts);
	EXPECT_EQ(at(t, 1440, 8), shifts);

	for (int i = 0; i < 64; i++) {
		EXPECT_EQ(rd32(t + 7120 + 8 * i), 0x42108u) << i;
		EXPECT_EQ(rd32(t + 7632 + 8 * i), 0x42108u) << i;
	}
	EXPECT_EQ(at(t, 5072, 2048), std::vector<uint8_t>(2048, 0));
	EXPECT_EQ(at(t, 8656, 4096), at(three_d, 0, 4096));
}

TEST(IkFinalSharpen, BasicVariantGoldenBytes)
{
	static ik_final_sharpen_group g;
	memset(&g, 0, sizeof(g));
	std::vector<uint8_t> three_d(4096);
	for (size_t i = 0; i < three_d.size(); i++)
		three_d[i] = (uint8_t)(i * 7);
	basic_settings(&g, three_d.data());
	std::vector<uint8_t> zero(IK_FS_TABLE_SIZE, 0);
	ASSERT_EQ(img_dsp_core_post_process_final_sharpen(0, &g, zero.data()), 0);
	expect_basic_table(zero.data(), three_d.data());

	/* Over a table the MCTF packer wrote first: what it owns, and fields
	 * nobody lists, stay. */
	std::vector<uint8_t> t(IK_FS_TABLE_SIZE, 0x5A);
	ASSERT_EQ(img_dsp_core_post_process_final_sharpen(0, &g, t.data()), 0);
	EXPECT_EQ(level(t.data(), 528), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 0, 0, 0, 6}));
	EXPECT_EQ(at(t.data(), 528, 80), at(zero.data(), 528, 80));
	EXPECT_EQ(t[8], 0x5A);
	EXPECT_EQ(at(t.data(), 704, 2), (std::vector<uint8_t>{0x5A, 0x5A}));
	EXPECT_EQ(at(t.data(), 1400, 2), (std::vector<uint8_t>{0x5A, 0x5A}));
	EXPECT_EQ(at(t.data(), 3248, 8), std::vector<uint8_t>(8, 0x5A));
	EXPECT_EQ(at(t.data(), 4160, 8), std::vector<uint8_t>(8, 0x5A));
	EXPECT_EQ(t[3224], 0x5A & ~1);
	EXPECT_EQ(t[3232], 0x5B);
	EXPECT_EQ(t[5056], 0x5A & ~1);
	EXPECT_EQ(t[5064], 0x5B);
	EXPECT_EQ(rd32(t.data() + 7124), 0x5A5A5A5Au); /* second word of a coring entry */
	/* Variant 0 leaves the coring ranges alone. */
	EXPECT_EQ(at(t.data(), 16 + 640, 42), std::vector<uint8_t>(42, 0x5A));
	EXPECT_EQ(at(t.data(), 712 + 640, 42), std::vector<uint8_t>(42, 0x5A));

	/* Disabled: no engine bits 3-6. */
	g.both.enable = 0;
	img_dsp_core_post_process_final_sharpen(0, &g, zero.data());
	EXPECT_EQ(zero[16], 0x01);
	EXPECT_EQ(zero[712], 0x01);
}

TEST(IkFinalSharpen, ModeTwoTakesTheStrengthAdjustLevelAndChangeLimits)
{
	static ik_final_sharpen_group g;
	memset(&g, 0, sizeof(g));
	std::vector<uint8_t> three_d(4096, 1);
	basic_settings(&g, three_d.data());
	g.both.mode = 2;
	g.noise.t0 = 40;
	g.noise.t1 = 55;
	g.noise.alpha_min = 4;
	g.noise.alpha_max = 12;
	g.noise.level_str_adjust_not_t0_t1_level_based = 0;
	g.noise.max_change_up = 200;
	g.noise.max_change_down = 100;
	std::vector<uint8_t> t(IK_FS_TABLE_SIZE, 0);
	img_dsp_core_post_process_final_sharpen(0, &g, t.data());
	EXPECT_EQ(t[16 + 72] & 7, 1);
	EXPECT_EQ(t[712 + 72] & 7, 1);
	EXPECT_EQ(level(t.data(), 2424), (std::vector<uint8_t>{40, 48, 3, 51, 55, 2, 12, 7, 4, 11}));
	EXPECT_EQ(at(t.data(), 2328, 8),
	          (std::vector<uint8_t>{0xC0, 0x19, 0x00, 0x00, 0x80, 0x0C, 0x00, 0x00}));

	/* Explicit levels, with T1 capped at 255 where 253 + 2^7 would wrap. */
	g.noise.level_str_adjust_not_t0_t1_level_based = 1;
	g.noise.level_str_adjust = {253, 7, 5, 6, 254, 7, 7};
	g.noise.level_str_adjust_method = 1;
	g.noise.max_change_up = 255;
	img_dsp_core_post_process_final_sharpen(0, &g, t.data());
	EXPECT_EQ(level(t.data(), 2424), (std::vector<uint8_t>{253, 255, 7, 254, 255, 7, 5, 6, 7, 7}));
	EXPECT_EQ(rd32(t.data() + 2332) & 0x1FFF, 4080u); /* 255 << 4, under the 4095 bound */
}

TEST(IkFinalSharpen, SecondVariantRangesAndLevels)
{
	static ik_final_sharpen_group g;
	memset(&g, 0, sizeof(g));
	std::vector<uint8_t> three_d(4096, 1);
	basic_settings(&g, three_d.data());
	g.scale_coring = {10, 1, 2, 3, 20, 1, 4, 6};      /* code 15 */
	g.min_coring_result = {10, 1, 2, 3, 20, 1, 4, 3}; /* code 2 */
	std::vector<uint8_t> t(IK_FS_TABLE_SIZE, 0);
	img_dsp_core_post_process_final_sharpen(1, &g, t.data());
	const int R = IK_FS_CORING_RANGE_SHIFT;
	for (size_t b : {16u, 712u}) {
		EXPECT_EQ(t[b + 112 + 48], 48) << b;
		EXPECT_EQ(at(t.data(), b + 592, 3), (std::vector<uint8_t>{0, 0, 0}));
		EXPECT_EQ(rd16(t.data() + b + 600), 0);
		EXPECT_EQ(t[b + 608], 128);
		EXPECT_EQ(rd32(t.data() + b + 640), (1u << (R - 5)) << 11);
		EXPECT_EQ(rd32(t.data() + b + 648), (1u << (R - 8)) << 11);
		EXPECT_EQ(rd32(t.data() + b + 656), 0u);
		EXPECT_EQ(at(t.data(), b + 672, 3), (std::vector<uint8_t>{128, 128, 0}));
		EXPECT_EQ(rd16(t.data() + b + 680) & 0x3FF, (unsigned)((R + 2) | (R - 1) << 5));
		EXPECT_EQ((t[b + 681] >> 2) & 31, 0);
	}
	/* Engine 2: code 15 spreads the high strength, code 2 the low one. */
	EXPECT_EQ(level(t.data(), 4416), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 4, 4, 4, 15}));
	EXPECT_EQ(level(t.data(), 4576), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 2, 2, 2, 2}));
	EXPECT_EQ(level(t.data(), 2584), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 2, 3, 4, 15}));
	EXPECT_EQ(level(t.data(), 2744), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 2, 3, 4, 2}));
	/* Variant 0 keeps its engine-2 levels as given. */
	img_dsp_core_post_process_final_sharpen(0, &g, t.data());
	EXPECT_EQ(level(t.data(), 4416), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 2, 3, 4, 15}));
}

/* Whatever shift R is chosen within 8..15, the second variant's ranges end
 * within the 11-bit end field and their reciprocals are 128 at shifts R + 2
 * and R - 1, which fit the 5-bit shift fields. */
TEST(IkFinalSharpen, CoringRangeReciprocalsForEveryShift)
{
	for (int R = 8; R <= 15; R++) {
		const int32_t wide = 1 << (R - 5), narrow = 1 << (R - 8);
		EXPECT_LE(wide, 2047) << R;
		int32_t s = -1, m = -1;
		img_dsp_core_normalized_reciprocal(wide, &s, &m);
		EXPECT_EQ(s, R + 2) << R;
		EXPECT_EQ(m, 128) << R;
		img_dsp_core_normalized_reciprocal(narrow, &s, &m);
		EXPECT_EQ(s, R - 1) << R;
		EXPECT_EQ(m, 128) << R;
		EXPECT_LT(R + 2, 32);
		img_dsp_core_normalized_reciprocal(0, &s, &m);
		EXPECT_EQ(s, 0);
		EXPECT_EQ(m, 0);
	}
}

/* The same table as the builder places it in a configuration. */
class IkFinalSharpenBuild : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up_built_video();
		ASSERT_FALSE(HasFatalFailure());
		three_d_.resize(4096);
		for (size_t i = 0; i < three_d_.size(); i++)
			three_d_[i] = (uint8_t)(i * 5 + 1);
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
	/* The basic settings through the public setters. */
	void set_basic()
	{
		static ik_final_sharpen_group g;
		memset(&g, 0, sizeof(g));
		basic_settings(&g, three_d_.data());
		img_dsp_final_sharpen_noise_noise n{};
		img_dsp_final_level lv{};
		std::vector<int> rc;
		{
			StdoutCapture quiet;
			rc.push_back(vors_img_dsp_set_final_sharpen_noise_both(0, &m_, &g.both));
			rc.push_back(
			    vors_img_dsp_set_final_sharpen_noise_sharpen_coring(0, &m_, &g.sharpen_coring));
			rc.push_back(
			    vors_img_dsp_set_final_sharpen_noise_sharpen_fir(0, &m_, &g.sharpen_fir));
			rc.push_back(vors_img_dsp_get_final_sharpen_noise_noise(&m_, &n));
			n.fir = g.noise.fir;
			rc.push_back(vors_img_dsp_set_final_sharpen_noise_noise(0, &m_, &n));
			/* The context's default curve, with method 1. */
			rc.push_back(
			    vors_img_dsp_get_final_sharpen_noise_sharpen_coring_index_scale(&m_, &lv));
			lv.method = 1;
			rc.push_back(
			    vors_img_dsp_set_final_sharpen_noise_sharpen_coring_index_scale(0, &m_, &lv));
		}
		for (int r : rc)
			EXPECT_GE(r, 0); /* stored, if with a correction */
	}
	int build()
	{
		StdoutCapture quiet;
		return vors_img_dsp_post_exe_cfg(5, &m_);
	}
	/* A video MCTF setting, so that its packer writes the final-sharpen
	 * table first; what it writes there is kept from a run of the packer
	 * on a copy of the blocks as they are before the build. */
	void set_mctf()
	{
		img_dsp_video_mctf b{};
		b.enable = 1;
		b.y_strength_3d = 128;
		b.y_combine_strength = 201;
		for (img_dsp_mctf_level *l :
		     {&b.y_spat_smth_iso, &b.y_spat_smth_dir, &b.cb_spat_smth_dir, &b.cb_spat_smth_iso,
		      &b.cr_spat_smth_dir, &b.cr_spat_smth_iso, &b.y_overall_max_change,
		      &b.cb_overall_max_change, &b.cr_overall_max_change,
		      &b.y_temporal_either_max_change_or_t0_t1_add,
		      &b.cb_temporal_either_max_change_or_t0_t1_add,
		      &b.cr_temporal_either_max_change_or_t0_t1_add})
			l->high = 100;
		b.frame_brightness = 1000;
		StdoutCapture quiet;
		ASSERT_EQ(vors_img_dsp_set_video_mctf(0, &m_, &b), 0);
		mctf_blocks_.reset(new ik_filter_blocks(body()->blk));
	}
	void expect_mctf_fields_kept(const uint8_t *t, bool advanced)
	{
		std::vector<uint8_t> mctf(IK_VIDEO_MCTF_TBL_SIZE), fs(IK_FS_TABLE_SIZE, 0);
		ASSERT_EQ(
		    ik_mctf_pack_context(mctf_blocks_.get(), advanced, advanced, mctf.data(), fs.data()), 0);
		EXPECT_EQ(t[0] & 1, 1);
		EXPECT_EQ(t[8], fs[8]);
		EXPECT_EQ(at(t, 704, 2), at(fs.data(), 704, 2));
		EXPECT_EQ(at(t, 1400, 2), at(fs.data(), 1400, 2));
		if (!advanced) {
			EXPECT_EQ(at(t, 704, 2), (std::vector<uint8_t>{100, 101})) << "the packer did run";
		}
	}
	img_dsp_mode m_ = mode(0, 0);
	std::vector<uint8_t> three_d_;
	std::unique_ptr<ik_filter_blocks> mctf_blocks_;
};

TEST_F(IkFinalSharpenBuild, BasicLayoutSlot17)
{
	set_basic();
	ASSERT_EQ(build(), 0);
	expect_basic_table(tbl() + IK_TBL_FINAL_SHARPEN, three_d_.data());
}

TEST_F(IkFinalSharpenBuild, BasicLayoutModeTwoAfterTheMctfPacker)
{
	set_basic();
	img_dsp_final_sharpen_noise_both b{};
	img_dsp_final_sharpen_noise_noise n{};
	{
		StdoutCapture quiet;
		ASSERT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m_, &b), 0);
		b.mode = 2;
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m_, &b), 0);
		ASSERT_EQ(vors_img_dsp_get_final_sharpen_noise_noise(&m_, &n), 0);
		n.t0 = 40;
		n.t1 = 55;
		n.alpha_min = 4;
		n.alpha_max = 12;
		n.level_str_adjust_not_t0_t1_level_based = 0;
		n.max_change_up = 200;
		n.max_change_down = 100;
		ASSERT_GE(vors_img_dsp_set_final_sharpen_noise_noise(0, &m_, &n), 0);
	}
	set_mctf();
	ASSERT_EQ(build(), 0);
	const uint8_t *t = tbl() + IK_TBL_FINAL_SHARPEN;
	EXPECT_EQ(t[16 + 72] & 7, 1);
	EXPECT_EQ(t[712 + 72] & 7, 1);
	EXPECT_EQ(level(t, 2424), (std::vector<uint8_t>{40, 48, 3, 51, 55, 2, 12, 7, 4, 11}));
	EXPECT_EQ(at(t, 2328, 8), (std::vector<uint8_t>{0xC0, 0x19, 0x00, 0x00, 0x80, 0x0C, 0x00, 0x00}));
	/* The packer's level blocks at B + 512 are reset. */
	EXPECT_EQ(level(t, 528), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 0, 0, 0, 6}));
	EXPECT_EQ(level(t, 1224), level(t, 528));
	expect_mctf_fields_kept(t, false);
}

TEST_F(IkFinalSharpenBuild, AdvancedLayoutSlot22)
{
	set_basic(); /* method 1 is not taken in the CLISO mode */
	body()->blk.liso_process_select[1] = IK_ADV_MODE_ADVANCED;
	set_mctf();
	ASSERT_EQ(build(), 0);
	const uint8_t *t = tbl() + IK_TBL_FINAL_SHARPEN_2;
	expect_mctf_fields_kept(t, true);
	const int R = IK_FS_CORING_RANGE_SHIFT;
	for (size_t b : {16u, 712u}) {
		EXPECT_EQ(t[b + 112 + 48], 48) << b;
		EXPECT_EQ(t[b + 608], 128);
		EXPECT_EQ(rd32(t + b + 640), (1u << (R - 5)) << 11);
		EXPECT_EQ(at(t, b + 672, 3), (std::vector<uint8_t>{128, 128, 0}));
	}
	EXPECT_EQ(level(t, 2824), (std::vector<uint8_t>{10, 12, 1, 20, 22, 1, 16, 16, 16, 7}));
	EXPECT_EQ(at(t, 8656, 4096), three_d_);
}

} // namespace

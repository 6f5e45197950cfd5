/* The DSP's video-MCTF table, the FIR register packer, the motion-detection
 * tables and what a built advanced configuration carries of them. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_fir.h"
#include "ik_liso.h"
#include "ik_math.h"
#include "ik_mctf.h"
#include "ik_test_support.h"
#include "img_dsp_mctf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

constexpr int kFd = 5;

uint16_t rd16(const uint8_t *p)
{
	uint16_t v;
	memcpy(&v, p, 2);
	return v;
}

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

/* A curve entry i = 4i (the colour-correction curve and each tone curve
 * when they change nothing). */
void identity_curves(uint8_t *cc_table, img_dsp_tone_curve *tone)
{
	for (uint16_t i = 0; i < 256; i++) {
		uint16_t v = (uint16_t)(4 * i);
		memcpy(cc_table + 16512 + 2 * i, &v, 2);
		tone->ToneCurveRed[i] = tone->ToneCurveGreen[i] = tone->ToneCurveBlue[i] = v;
	}
}

/* Everything one direct packing reads, with a valid video-MCTF block,
 * identity curves and gains that make the brightness the frame value. */
struct PackInputs {
	uint32_t prev = 0;
	img_dsp_wb_gain wb{};
	img_dsp_video_mctf mctf{};
	img_dsp_internal_video_mctf internal{};
	img_dsp_video_mctf_temporal_adjust ta{};
	img_dsp_video_mctf_temporal_adjust_y ch[3]{};
	std::vector<uint8_t> cc = std::vector<uint8_t>(IMG_DSP_CC_TABLE_SIZE);
	img_dsp_tone_curve tone{};
	int32_t inverse[256]{};
	img_dsp_mctf_pack_record rec{};
	std::vector<uint8_t> table = std::vector<uint8_t>(IK_VIDEO_MCTF_TBL_SIZE);
	std::vector<uint8_t> fs = std::vector<uint8_t>(IK_FINAL_SHARPEN_TBL_SIZE);

	PackInputs()
	{
		wb.GlobalDGain = 4096;
		wb.AeGain = 1;
		mctf.enable = 1;
		mctf.frame_brightness = 1000;
		internal.temporal_adjust_frames_combine_num1 = 1;
		internal.temporal_adjust_frames_combine_num2 = 1;
		identity_curves(cc.data(), &tone);
		rec.prev_brightness = &prev;
		rec.wb_gain = &wb;
		rec.video_mctf = &mctf;
		rec.internal_video_mctf = &internal;
		rec.temporal_adjust = &ta;
		rec.temporal_adjust_y = &ch[0];
		rec.temporal_adjust_cb = &ch[1];
		rec.temporal_adjust_cr = &ch[2];
		rec.cc_table = cc.data();
		rec.tone_curve = &tone;
		rec.remap_inverse = inverse;
	}
	int pack()
	{
		const img_dsp_mctf_table_pair pair = {table.data(), fs.data()};
		return img_dsp_core_pack_video_mctf_table(&rec, &pair);
	}
	const uint8_t *t() const
	{
		return table.data();
	}
};

class IkMctfPack : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		iktest::register_host_functions();
	}
};

TEST_F(IkMctfPack, DisabledFilterPassesEverythingThrough)
{
	PackInputs in;
	in.mctf.enable = 0;
	in.mctf.y_strength_3d = in.mctf.cb_strength_3d = in.mctf.cr_strength_3d = 256;
	in.mctf.y_temporal_max_change = in.mctf.cb_temporal_max_change = 9;
	in.mctf.y_overall_max_change = {0, 10, 1, 20, 30, 200, 1, 40};
	ASSERT_EQ(in.pack(), 0);
	for (unsigned i = 2824; i < 3208; i++)
		ASSERT_EQ(in.t()[i], 255) << i;
	for (unsigned c = 0; c < 3; c++) {
		EXPECT_EQ(in.t()[48 + c], 0);
		EXPECT_EQ(in.t()[56 + c], 0);
		for (unsigned i = 0; i < 4; i++)
			EXPECT_EQ(in.t()[64 + 8 * i + c], 0);
		EXPECT_EQ(in.t()[536 + 48 + c], 0);
		EXPECT_EQ(in.t()[536 + 56 + c], 0);
		EXPECT_EQ(in.t()[536 + 64 + c], 0);
	}
	EXPECT_EQ(in.t()[536], 10); /* thresholds still come from the record */
	EXPECT_EQ(in.fs[8], 255);
}

TEST_F(IkMctfPack, TableFieldsFromTheBlocks)
{
	struct {
		const char *what;
		std::function<void(PackInputs &)> setup;
		std::function<void(const PackInputs &)> check;
	} cases[] = {
	    {"full 3D strength, basic layout", [](PackInputs &in) { in.mctf.y_strength_3d = 256; },
	     [](const PackInputs &in) {
		     for (unsigned i = 0; i <= 60; i++) {
			     EXPECT_EQ(in.t()[2824 + i], 32) << i;
			     EXPECT_EQ(in.t()[3016 + i], 0) << i;
		     }
		     EXPECT_EQ(in.t()[2824 + 61], 143);
		     EXPECT_EQ(in.t()[2824 + 62], 255);
		     EXPECT_EQ(in.t()[2824 + 63], 255);
		     EXPECT_EQ(in.t()[3016 + 61], 127);
		     EXPECT_EQ(in.t()[48], 255);
		     EXPECT_EQ(in.fs[8], 0);
	     }},
	    {"temporal curve", [](PackInputs &in) { in.mctf.y_curve = {5, 50, 100, 200, 10, 20, 30, 40}; },
	     [](const PackInputs &in) {
		     const uint8_t *d = in.t() + 3208;
		     EXPECT_EQ(d[0], 5);
		     for (unsigned i = 1; i < 10; i++)
			     EXPECT_EQ(d[i], 50) << i;
		     for (unsigned i = 10; i < 20; i++)
			     EXPECT_EQ(d[i], 50 + 5 * (i - 10)) << i;
		     for (unsigned i = 20; i < 30; i++)
			     EXPECT_EQ(d[i], 100) << i;
		     for (unsigned i = 30; i < 40; i++)
			     EXPECT_EQ(d[i], 100 + 10 * (i - 30)) << i;
		     for (unsigned i = 40; i < 64; i++)
			     EXPECT_EQ(d[i], 200) << i;
	     }},
	    {"temporal curve with the floor of the third run",
	     [](PackInputs &in) {
		     in.mctf.y_curve = {5, 50, 100, 200, 10, 20, 30, 40};
		     in.mctf.cb_curve = {0, 0, 0, 0, 63, 63, 63, 63};
		     in.rec.fast_start = 1;
		     in.rec.run_count = 3;
	     },
	     [](const PackInputs &in) {
		     for (unsigned i = 0; i < 64; i++) {
			     EXPECT_GE(in.t()[3208 + i], 64) << i;
			     EXPECT_EQ(in.t()[3272 + i], 64) << i;
		     }
		     EXPECT_EQ(in.t()[3208 + 63], 200);
	     }},
	    {"no floor before the first run",
	     [](PackInputs &in) {
		     in.mctf.y_curve = {5, 50, 100, 200, 10, 20, 30, 40};
		     in.rec.fast_start = 1;
		     in.rec.run_count = 0;
	     },
	     [](const PackInputs &in) { EXPECT_EQ(in.t()[3208], 5); }},
	    {"MCTF-B fast start raises the luma alphas",
	     [](PackInputs &in) {
		     in.mctf.y_curve = {5, 50, 100, 200, 10, 20, 30, 40};
		     in.mctf.cb_curve = {0, 0, 0, 0, 63, 63, 63, 63};
		     in.rec.fast_start = 1;
		     in.rec.mctf_b = 1;
		     in.rec.advanced_layout = 1;
		     in.rec.run_count = 3;
		     in.rec.alpha_ref = 100;
	     },
	     [](const PackInputs &in) {
		     /* (100 / 2 + 256 x 64) / 100 = 164 */
		     EXPECT_EQ(in.t()[3208], 164);
		     EXPECT_EQ(in.t()[3208 + 30], 164);
		     EXPECT_EQ(in.t()[3208 + 63], 200);
		     EXPECT_EQ(in.t()[3272], 0); /* no chroma floor in MCTF-B */
	     }},
	    {"spatial level record",
	     [](PackInputs &in) {
		     in.mctf.y_spat_smth_iso = {0, 10, 2, 30, 40, 200, 3, 50};
		     in.mctf.cb_spat_smth_iso = {1, 0, 0, 0, 0, 250, 7, 0};
		     in.mctf.cr_spat_smth_iso = {7, 0, 0, 0, 0, 250, 7, 0};
	     },
	     [](const PackInputs &in) {
		     const uint8_t *l = in.t() + 264;
		     EXPECT_EQ(l[0], 10);
		     EXPECT_EQ(l[8], 14);
		     EXPECT_EQ(l[16] & 7, 2);
		     EXPECT_EQ(l[24], 200);
		     EXPECT_EQ(l[32], 208);
		     EXPECT_EQ(l[40] & 7, 3);
		     EXPECT_EQ(l[48], 30);
		     EXPECT_EQ(l[56], 40);
		     EXPECT_EQ(l[64], 50);
		     EXPECT_EQ(l[72] & 15, 6);
		     EXPECT_EQ(l[72] >> 4, 7); /* Cb method 1 through the chroma table */
		     EXPECT_EQ(l[73] & 15, 10);
		     EXPECT_EQ(l[24 + 1], 250);
		     EXPECT_EQ(l[32 + 1], 255); /* 250 + 128 saturates */
		     EXPECT_EQ(rd16(l + 40) >> 3 & 7, 7);
	     }},
	    {"spatial edge fields",
	     [](PackInputs &in) {
		     in.mctf.y_spat_smth_edge_thresh = 2047;
		     in.mctf.cb_spat_smth_edge_thresh = 5;
		     in.mctf.y_spat_smth_wide_edge_detect = 3;
		     in.mctf.cr_spat_smth_wide_edge_detect = 8;
	     },
	     [](const PackInputs &in) {
		     uint64_t w;
		     memcpy(&w, in.t() + 176, 8);
		     EXPECT_EQ(w & 0x3FFFFFFFFull, 2047ull | 5ull << 11);
		     EXPECT_EQ(in.t()[192], 3);
		     EXPECT_EQ(in.t()[193] & 15, 8);
		     EXPECT_EQ(in.t()[200], 5 | 8 << 4);
		     EXPECT_EQ(in.t()[201] & 15, 0);
	     }},
	    {"frame counts from the slow-motion sensitivity",
	     [](PackInputs &in) {
		     in.internal.temporal_adjust_frames_combine_num1 = 0;
		     in.ta.slow_mo_sensitivity = 7;
		     in.ch[0] = {9, 4, 0, 0, 0};
		     in.internal.temporal_adjust_cb_greater_than_thresh_min_val = 11;
	     },
	     [](const PackInputs &in) {
		     EXPECT_EQ(in.t()[704], 0x52);
		     EXPECT_EQ(in.t()[752] & 15, 6);
		     EXPECT_EQ(in.t()[752] >> 4, 11);
		     EXPECT_EQ(in.t()[728] & 15, 4);
		     EXPECT_EQ(in.t()[736] & 15, 9);
	     }},
	    {"temporal adjustment per channel",
	     [](PackInputs &in) {
		     in.internal.temporal_adjust_frames_combine_num1 = 3;
		     in.internal.temporal_adjust_frames_combine_num2 = 6;
		     in.ch[1] = {2, 1, 16383, 4095, 1234};
		     in.ta.score_noise_robust = 1;
		     in.mctf.remap_enable = 1;
	     },
	     [](const PackInputs &in) {
		     EXPECT_EQ(in.t()[704], 0x63);
		     uint64_t sub, thr;
		     memcpy(&sub, in.t() + 712, 8);
		     memcpy(&thr, in.t() + 744, 8);
		     EXPECT_EQ(sub >> 12 & 4095, 4095u);
		     EXPECT_EQ(thr >> 12 & 4095, 1234u);
		     EXPECT_EQ(rd16(in.t() + 722) & 0x3FFF, 16383);
		     EXPECT_EQ(in.t()[696] & 0x17, 0x15);
	     }},
	    {"combine strength, basic layout", [](PackInputs &in) { in.mctf.y_combine_strength = 255; },
	     [](const PackInputs &in) {
		     EXPECT_EQ(in.fs[704], 127);
		     EXPECT_EQ(in.fs[705], 128);
		     EXPECT_EQ(in.fs[1400], 127);
		     EXPECT_EQ(in.fs[1401], 128);
		     EXPECT_EQ(in.fs[0] & 1, 1);
		     for (unsigned base : {528u, 1224u}) {
			     EXPECT_EQ(in.fs[base + 8], 1);
			     EXPECT_EQ(in.fs[base + 32 + 2], 1);
			     EXPECT_EQ(in.fs[base + 72], 0x66);
			     EXPECT_EQ(in.fs[base + 73] & 15, 6);
		     }
	     }},
	    {"combine strength, advanced layout",
	     [](PackInputs &in) {
		     in.mctf.y_combine_strength = 255;
		     in.mctf.y_strength_3d = 256;
		     in.rec.advanced_layout = 1;
	     },
	     [](const PackInputs &in) {
		     EXPECT_EQ(rd16(in.fs.data() + 704), 0);
		     EXPECT_EQ(rd16(in.fs.data() + 1400), 0);
		     /* (256 x 192 >> 8) + 64 = 256 */
		     EXPECT_EQ(in.t()[2824 + 61], 143);
	     }},
	    {"temporal level: not level based zeroes the D limits",
	     [](PackInputs &in) {
		     in.mctf.y_temporal_max_change = 30;
		     in.mctf.cb_temporal_max_change = 40;
		     in.mctf.y_temporal_max_change_not_t0_t1_level_based = 1;
		     in.mctf.y_temporal_either_max_change_or_t0_t1_add = {0, 5, 0, 1, 2, 100, 0, 3};
	     },
	     [](const PackInputs &in) {
		     EXPECT_EQ(in.t()[512], 8 | 0 << 4);
		     EXPECT_EQ(in.t()[513], 0 | 0 << 4);
		     EXPECT_EQ(in.t()[514], 8 | 8 << 4);
		     for (unsigned i = 0; i < 4; i++) {
			     EXPECT_EQ(in.t()[64 + 8 * i], 0);
			     EXPECT_EQ(in.t()[64 + 8 * i + 1], 40);
		     }
		     EXPECT_EQ(in.t()[432], 5);
		     EXPECT_EQ(in.t()[432 + 64], 3);
	     }},
	    {"MCTF-B luma limits",
	     [](PackInputs &in) {
		     in.rec.mctf_b = 1;
		     in.rec.advanced_layout = 1;
		     in.ch[0] = {2, 1, 0, 0, 0};
		     in.internal.y_temporal_artifact_guard = 5;
		     in.internal.cb_temporal_artifact_guard = 0;
		     in.internal.cr_temporal_artifact_guard = 55;
		     in.internal.mctf_b_temporal_artifact_guard = 0;
	     },
	     [](const PackInputs &in) {
		     EXPECT_EQ(in.t()[728] & 15, 8);
		     EXPECT_EQ(in.t()[736] & 15, 8);
		     EXPECT_EQ(in.t()[520], 255);
		     EXPECT_EQ(in.t()[521], 0);
		     EXPECT_EQ(in.t()[522], 200);
	     }},
	    {"level tables and spatial limits are copied",
	     [](PackInputs &in) {
		     for (unsigned i = 0; i < 64; i++)
			     in.mctf.cr_level_table[i] = (uint8_t)(i + 1);
		     in.mctf.cb_spatial_max_change = 77;
		     in.internal.cb_temporal_artifact_guard = 5;
	     },
	     [](const PackInputs &in) {
		     for (unsigned i = 0; i < 64; i++)
			     EXPECT_EQ(in.t()[9744 + i], i + 1);
		     EXPECT_EQ(in.t()[529], 77);
		     EXPECT_EQ(in.t()[521], 250);
		     EXPECT_EQ(in.t()[8] & 0x3F, 0x3F);
		     EXPECT_EQ(in.t()[1] & 1, 1);
		     EXPECT_EQ(in.t()[208] & 0x3F, 0x3F);
		     EXPECT_EQ(rd16(in.t() + 424) & 0x3F, 2 | 1 << 2 | 1 << 4);
	     }},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.what);
		PackInputs in;
		c.setup(in);
		ASSERT_EQ(in.pack(), 0);
		c.check(in);
	}
}

TEST_F(IkMctfPack, FixedFieldsKeepTheirNeighbours)
{
	PackInputs in;
	memset(in.table.data(), 0xFF, in.table.size());
	ASSERT_EQ(in.pack(), 0);
	EXPECT_EQ(in.t()[0], 0xFB);   /* format bit 2 cleared */
	EXPECT_EQ(in.t()[8], 0xFF);   /* median filters 3, bits 6-7 kept */
	EXPECT_EQ(in.t()[696], 0xE9); /* auto_TA 1, bits 2 and 4 from the blocks */
	uint64_t w;
	memcpy(&w, in.t() + 120 + 16, 8);
	EXPECT_EQ(w, 0xF000000000000000ull | 6ull | 6ull << 20 | 6ull << 40);
	EXPECT_EQ(in.t()[2], 0xFF); /* bytes outside the fields stay */
}

TEST_F(IkMctfPack, ReferenceRemap)
{
	PackInputs in;
	ASSERT_EQ(in.pack(), 0);
	EXPECT_EQ(in.prev, 1000u); /* the first packing stores b and remaps 1:1 */
	for (unsigned j = 0; j < 256; j++)
		ASSERT_EQ(in.t()[9808 + j], j) << j;

	in.mctf.frame_brightness = 2000;
	ASSERT_EQ(in.pack(), 0);
	EXPECT_EQ(in.prev, 2000u);
	for (unsigned j = 0; j < 256; j++)
		ASSERT_EQ(in.t()[9808 + j], j * 2 > 255 ? 255 : j * 2) << j;

	/* frame brightness 0 counts as 4096, with the gains applied */
	in.mctf.frame_brightness = 0;
	in.wb.GlobalDGain = 8192;
	in.wb.AeGain = 2;
	ASSERT_EQ(in.pack(), 0);
	EXPECT_EQ(in.prev, 16384u);
}

TEST_F(IkMctfPack, ABrightnessRiseSaturatesRatherThanWraps)
{
	PackInputs in;
	in.mctf.frame_brightness = 1;
	ASSERT_EQ(in.pack(), 0);
	in.mctf.frame_brightness = 100;
	ASSERT_EQ(in.pack(), 0);
	/* a ratio of 100 takes j to min(255, 100 j) all the way up */
	for (unsigned j = 0; j < 256; j++)
		ASSERT_EQ(in.t()[9808 + j], j * 100 > 255 ? 255 : j * 100) << j;
}

TEST_F(IkMctfPack, ACurveThatFallsKeepsTheLastInverse)
{
	PackInputs in;
	in.tone.ToneCurveGreen[100] = 0; /* L dips at index 100 */
	ASSERT_EQ(in.pack(), 0);
	/* nothing was rebuilt yet: every entry is L[0] */
	for (unsigned j = 0; j < 256; j++)
		ASSERT_EQ(in.t()[9808 + j], 0) << j;

	PackInputs good;
	ASSERT_EQ(good.pack(), 0);
	memcpy(in.inverse, good.inverse, sizeof(in.inverse));
	in.tone.ToneCurveGreen[100] = 0;
	ASSERT_EQ(in.pack(), 0);
	EXPECT_EQ(in.t()[9808 + 50], 50);
	EXPECT_EQ(in.t()[9808 + 200], 200);
}

TEST_F(IkMctfPack, EachContextKeepsItsOwnInverse)
{
	auto a = std::make_unique<ik_filter_blocks>();
	auto b = std::make_unique<ik_filter_blocks>();
	memset(a.get(), 0, sizeof(*a));
	memset(b.get(), 0, sizeof(*b));
	img_dsp_tone_curve tone{};
	for (ik_filter_blocks *blk : {a.get(), b.get()}) {
		identity_curves(blk->cc_table_copy, &tone);
		memcpy(blk->tone_curve, &tone, sizeof(tone));
		blk->wb_gain.GlobalDGain = 4096;
		blk->wb_gain.AeGain = 1;
	}
	/* context b's green curve falls: it has no inverse of its own yet */
	tone.ToneCurveGreen[10] = 0;
	memcpy(b->tone_curve, &tone, sizeof(tone));
	std::vector<uint8_t> ta(IK_VIDEO_MCTF_TBL_SIZE), tb(IK_VIDEO_MCTF_TBL_SIZE),
	    fs(IK_FINAL_SHARPEN_TBL_SIZE);
	ASSERT_EQ(ik_mctf_pack_context(a.get(), false, false, ta.data(), fs.data()), 0);
	ASSERT_EQ(ik_mctf_pack_context(b.get(), false, false, tb.data(), fs.data()), 0);
	EXPECT_EQ(ta[9808 + 128], 128);
	for (unsigned j = 0; j < 256; j++)
		ASSERT_EQ(tb[9808 + j], 0) << j;
	EXPECT_EQ(a->mctf_prev_brightness, 4096u);
	EXPECT_EQ(b->mctf_prev_brightness, 4096u);
}

TEST_F(IkMctfPack, MctfBInputTakesTheLumaSettingsOfMctfB)
{
	auto blk = std::make_unique<ik_filter_blocks>();
	memset(blk.get(), 0, sizeof(*blk));
	img_dsp_video_mctf main{};
	main.enable = 1;
	main.cb_strength_3d = 99;
	main.y_strength_3d = 11;
	main.y_curve.temporal_alpha0 = 3;
	memcpy(blk->video_mctf, &main, sizeof(main));
	img_dsp_video_mctf_b b{};
	b.y_temporal = {1, 2, 3, 4, 5, 6, 7, 8};
	b.y_spat_smth_iso = {3, 1, 1, 1, 1, 9, 1, 1};
	b.y_spat_smth_wide_edge_detect = 6;
	b.y_spat_smth_edge_thresh = 700;
	b.y_strength_3d = 200;
	b.y_combine_strength = 100;
	b.y_temporal_max_change = 12;
	b.y_spatial_max_change = 13;
	for (unsigned i = 0; i < 64; i++)
		b.y_spatial_weighting[i] = (uint8_t)(100 + i);
	memcpy(blk->video_mctf_b, &b, sizeof(b));
	img_dsp_video_mctf_b_level level{1, {3, 4, 4, 4, 4, 44, 4, 4}};
	memcpy(blk->video_mctf_b_level, &level, sizeof(level));
	img_dsp_video_mctf in;
	ik_mctf_b_input(blk.get(), &in);
	EXPECT_EQ(in.cb_strength_3d, 99);
	EXPECT_EQ(in.y_strength_3d, 200);
	EXPECT_EQ(in.y_combine_strength, 100);
	EXPECT_EQ(0, memcmp(&in.y_curve, &b.y_temporal, 8));
	EXPECT_EQ(0, memcmp(&in.y_spat_smth_iso, &b.y_spat_smth_iso, 8));
	EXPECT_EQ(in.y_spat_smth_wide_edge_detect, 6);
	EXPECT_EQ(in.y_spat_smth_edge_thresh, 700);
	EXPECT_EQ(in.y_temporal_max_change, 12);
	EXPECT_EQ(in.y_spatial_max_change, 13);
	EXPECT_EQ(0, memcmp(in.y_level_table, b.y_spatial_weighting, 64));
	EXPECT_EQ(in.y_temporal_max_change_not_t0_t1_level_based, 1);
	EXPECT_EQ(in.y_temporal_either_max_change_or_t0_t1_add.high, 44);
}

/* ---- FIR register areas, clamp and the alpha blocks ---- */

TEST_F(IkMctfPack, FirRegisterPacking)
{
	std::vector<uint8_t> area(1408, 0);
	int32_t k[25] = {};
	convert_shpbc_fir_hw_config_one_dir(area.data(), 0, 6, 5, k);
	const uint8_t shift_word[8] = {0, 0, 0, 0x40, 0x01, 0, 0, 0};
	EXPECT_EQ(0, memcmp(area.data() + 24, shift_word, 8));

	/* each coefficient in the low bits of its byte, the other bits kept */
	memset(area.data(), 0xE0, area.size());
	for (int n = 0; n < 25; n++)
		k[n] = -1;
	convert_shpbc_fir_hw_config_one_dir(area.data(), 1, 2, 3, k);
	const uint8_t *rec = area.data() + 48 + 288 + 64;
	const uint8_t want[28] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
	                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0, 0xFF, 0xE0,
	                          0xFF, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0, 0xFF};
	EXPECT_EQ(0, memcmp(rec, want, 28));
	EXPECT_EQ(rd32(rec + 28), 0xE0E1FFE0u);
	memset(area.data(), 0, area.size());
	k[0] = -1;
	k[16] = 63;
	k[24] = 256;
	convert_shpbc_fir_hw_config_one_dir(area.data(), 0, 0, 0, k);
	EXPECT_EQ(area[48], 0x1F);
	EXPECT_EQ(area[48 + 16], 63);
	EXPECT_EQ(rd32(area.data() + 48 + 28), 256u << 8);

	std::vector<uint8_t> before = area;
	StdoutCapture cap;
	convert_shpbc_fir_hw_config_one_dir(area.data(), 0, 9, 5, k);
	EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]convert_shpbc_fir_hw_config_one_dir() ",
	                    "Error! Unknown FIR dir 9\n"));
	EXPECT_EQ(area, before);
}

TEST_F(IkMctfPack, Clamp)
{
	EXPECT_EQ(img_dsp_core_clamp(-5, 0, 10), 0);
	EXPECT_EQ(img_dsp_core_clamp(15, 0, 10), 10);
	EXPECT_EQ(img_dsp_core_clamp(7, 0, 10), 7);
	EXPECT_EQ(img_dsp_core_clamp(3, 5, 1), 5); /* lo wins when the bounds cross */
}

TEST_F(IkMctfPack, AlphaBlocks)
{
	std::vector<uint8_t> block(528, 0xAA);
	const uint8_t five[5] = {10, 20, 200, 5, 7};
	img_dsp_core_mctf_alpha_block(block.data(), five);
	uint8_t ramp[64];
	img_dsp_core_fill_ramp(ramp, 5, 10, 20, 64, 200, 0);
	for (unsigned copy = 0; copy < 3; copy++)
		for (unsigned i = 0; i < 64; i++)
			ASSERT_EQ(rd16(block.data() + 128 * copy + 2 * i), ramp[i]) << copy << " " << i;
	EXPECT_EQ(rd16(block.data() + 24), 5u + 195u * 2u / 10u);
	EXPECT_EQ(rd16(block.data() + 512), 0xFFFF);
	EXPECT_EQ(block[520], 7);
	EXPECT_EQ(block[522], 7);
	EXPECT_EQ(block[523], 1);
	EXPECT_EQ(block[400], 0);

	std::fill(block.begin(), block.end(), 0xAA);
	const uint8_t ten[10] = {4, 8, 12, 16, 100, 200, 1, 2, 33, 44};
	img_dsp_core_mctf_alpha_block_pair(block.data(), ten);
	img_dsp_core_fill_ramp(ramp, 2, 8, 16, 64, 200, 0);
	for (unsigned i = 0; i < 64; i++)
		ASSERT_EQ(rd16(block.data() + 256 + 2 * i), ramp[i]) << i;
	EXPECT_EQ(rd16(block.data() + 128 + 2 * 63), 100);
	EXPECT_EQ(rd16(block.data()), 0);
	EXPECT_EQ(block[520], 0);
	EXPECT_EQ(block[521], 33);
	EXPECT_EQ(block[522], 44);
	EXPECT_EQ(block[523], 3);
}

/* ---- motion detection tables ---- */

TEST_F(IkMctfPack, MotionGeometry)
{
	struct {
		uint8_t smooth;
		uint16_t w, h, width_motion, height_motion, phase;
	} cases[] = {
	    {46, 1920, 1080, 240, 144, 16384}, {0, 1920, 1080, 240, 144, 16384},
	    {56, 1920, 1080, 128, 80, 32768},  {0, 320, 240, 128, 64, 16384},
	    {50, 3840, 2160, 384, 224, 20485},
	};
	for (auto &c : cases) {
		uint16_t wm = 0, hm = 0, phase = 0;
		img_dsp_core_calc_motion_geometry(c.smooth, c.w, c.h, &hm, &wm, &phase);
		EXPECT_EQ(wm, c.width_motion) << (int)c.smooth << " " << c.w;
		EXPECT_EQ(hm, c.height_motion) << (int)c.smooth << " " << c.w;
		EXPECT_EQ(phase, c.phase) << (int)c.smooth;
	}
}

TEST_F(IkMctfPack, MotionCombineTables)
{
	std::vector<uint32_t> t3d(4096, 0xC0000000u);
	img_dsp_motion_detect md{};
	ASSERT_EQ(img_dsp_core_calc_cc_3d_motion_combine(&md, t3d.data(), 2), 0);
	EXPECT_EQ(t3d[256 * 3 + 16 * 15 + 0], 0xFFCFF3FCu); /* 1020 thrice, bits 30-31 kept */
	EXPECT_EQ(t3d[256 * 5 + 16 * 2 + 7] & 0x3FFFFFFFu, 476u | 476u << 10 | 476u << 20);
	EXPECT_EQ(t3d[0], 0xC0000000u);

	std::fill(t3d.begin(), t3d.end(), 0);
	md.lev_add[4] = 100;
	md.lev_add[6] = -300;
	ASSERT_EQ(img_dsp_core_calc_cc_3d_motion_combine(&md, t3d.data(), 0), 0);
	EXPECT_EQ(t3d[256 * 4 + 16 * 15] & 1023, 708u);
	EXPECT_EQ(t3d[256 * 6], 0u); /* a negative sum floors at 0 */
	ASSERT_EQ(img_dsp_core_calc_cc_3d_motion_combine(&md, t3d.data(), 2), 0);
	EXPECT_EQ(t3d[256 * 4 + 16 * 15] & 1023, 1023u);

	std::vector<uint32_t> out(256, 0xFFFFFFFFu);
	ASSERT_EQ(img_dsp_core_calc_cc_out_motion_combine(10, 4, out.data()), 0);
	for (unsigned i = 0; i <= 10; i++)
		EXPECT_EQ(out[i], 0u) << i;
	EXPECT_EQ(out[20], 0x0280A028u);
	EXPECT_EQ(out[255], 980u | 980u << 10 | 980u << 20);
	ASSERT_EQ(img_dsp_core_calc_cc_out_motion_combine(0, 1023, out.data()), 0);
	EXPECT_EQ(out[0], 0u);
	EXPECT_EQ(out[1], 0x3FFFFFFFu);
}

TEST_F(IkMctfPack, MoasfRewritesOnlyTheFirRegisters)
{
	std::vector<uint8_t> tmpl(IK_FINAL_SHARPEN_TBL_SIZE);
	for (size_t i = 0; i < tmpl.size(); i++)
		tmpl[i] = (uint8_t)(i * 7 + 3);
	std::vector<uint8_t> a(tmpl.size()), b(tmpl.size());
	ASSERT_EQ(img_dsp_core_calc_mcts_moasf(50, tmpl.data(), a.data()), 0);
	ASSERT_EQ(img_dsp_core_calc_mcts_moasf(46, tmpl.data(), b.data()), 0);
	EXPECT_EQ(a, b); /* smooth above 46 gives the level of 46 */

	/* what the Part's kernels give, packed the same way */
	img_dsp_fir fir{};
	fir.specify = 2;
	for (int d = 0; d < 9; d++) {
		fir.per_dir_fir_iso_strengths[d] = fir.per_dir_fir_dir_strengths[d] = 192;
		fir.per_dir_fir_dir_amounts[d] = d == 0 ? 0 : 256;
	}
	fir.strength_iso = fir.strength_dir = 192;
	ik_fir_coeff_set s1, s2;
	const ik_fir_calc_opts o1 = {IK_FIR_SET_A, false, true, false, true, 0};
	const ik_fir_calc_opts o2 = {IK_FIR_SET_A, false, false, false, true, 0};
	fir_calc_coeffs(&fir, &s1, &o1);
	fir_calc_coeffs(&fir, &s2, &o2);
	std::vector<uint8_t> want = tmpl;
	for (int d = 0; d < 9; d++) {
		convert_shpbc_fir_hw_config_one_dir(want.data() + 1408, 0, d, s1.shift[0], s1.v[0]);
		convert_shpbc_fir_hw_config_one_dir(want.data() + 3240, 0, d, s1.shift[0], s1.v[0]);
		convert_shpbc_fir_hw_config_one_dir(want.data() + 1408, 1, d, s2.shift[d], s2.v[d]);
	}
	EXPECT_EQ(a, want);
	/* FIR 1 of the second engine keeps the template */
	EXPECT_EQ(0, memcmp(a.data() + 3240 + 48 + 288, tmpl.data() + 3240 + 48 + 288, 288));
	EXPECT_NE(0, memcmp(a.data() + 1408 + 48, tmpl.data() + 1408 + 48, 288));
	/* outside the two register areas the template is untouched */
	EXPECT_EQ(0, memcmp(a.data(), tmpl.data(), 1408 + 24));
	EXPECT_EQ(0, memcmp(a.data() + 3240 + 48 + 576, tmpl.data() + 3240 + 48 + 576,
	                    tmpl.size() - (3240 + 48 + 576)));
}

/* ---- built configurations ---- */

class IkMctfBuild : public IkFixture
{
      protected:
	void up(bool advanced, uint8_t ctxs = 1)
	{
		bring_up({{0, ctxs, 4, 4, 0}}, 1);
		for (uint8_t c = 0; c < ctxs; c++) {
			img_dsp_ctx_id cid{0, c, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
		for (uint8_t i = 0; i < 4; i++) {
			img_dsp_cfg_id id{0, i, {}};
			ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
		}
		for (uint8_t c = 0; c < ctxs; c++) {
			img_dsp_mode m = mode(0, c);
			img_dsp_size_info si{};
			si.width_in = si.main_out_width = 1920;
			si.height_in = si.main_out_height = 1080;
			ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
			ik_filter_blocks *blk = &body(c)->blk;
			blk->liso_process_select[1] = advanced ? 4 : 0;
			blk->wb_gain.GlobalDGain = 4096;
			blk->wb_gain.AeGain = 1;
			img_dsp_tone_curve tone{};
			identity_curves(blk->cc_table_copy, &tone);
			memcpy(blk->tone_curve, &tone, sizeof(tone));
		}
	}
	ik_ctx_body *body(uint8_t c = 0)
	{
		img_dsp_ctx_id cid{0, c, {}};
		void *p = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &p), 0);
		return ik_body(0, p);
	}
	img_dsp_iso_cfg *cfg(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}
	int build(uint8_t id, uint8_t ctx = 0)
	{
		img_dsp_mode m = mode(0, ctx, id);
		return img_dsp_core_low_iso_post_exe_cfg(&m);
	}
	uint8_t *user(uint32_t phys)
	{
		return region_->user() + (phys - region_->phys_addr());
	}
	void set_mctf(uint8_t ctx, uint16_t y_strength)
	{
		img_dsp_mode m = mode(0, ctx);
		img_dsp_video_mctf b{};
		b.enable = 1;
		b.y_strength_3d = y_strength;
		b.y_combine_strength = 255;
		b.y_spat_smth_iso = {0, 10, 2, 30, 40, 200, 3, 50};
		for (img_dsp_mctf_level *l :
		     {&b.y_spat_smth_dir, &b.cb_spat_smth_dir, &b.cb_spat_smth_iso, &b.cr_spat_smth_dir,
		      &b.cr_spat_smth_iso, &b.y_overall_max_change, &b.cb_overall_max_change,
		      &b.cr_overall_max_change, &b.y_temporal_either_max_change_or_t0_t1_add,
		      &b.cb_temporal_either_max_change_or_t0_t1_add,
		      &b.cr_temporal_either_max_change_or_t0_t1_add})
			l->high = 100;
		b.y_curve = {9, 9, 9, 9, 0, 0, 0, 0};
		b.frame_brightness = 1000;
		ASSERT_EQ(vors_img_dsp_set_video_mctf(kFd, &m, &b), 0);
	}
};

TEST_F(IkMctfBuild, AdvancedConfigurationCarriesTheMotionAndMctfTables)
{
	up(true);
	img_dsp_mode m = mode(0, 0);
	set_mctf(0, 256);
	img_dsp_motion_detect md{};
	md.lev_add[2] = 100;
	md.noise_base = 10;
	md.motion_response = 4;
	md.slow_mo_sensitivity = 5;
	md.smooth = 46;
	ASSERT_EQ(vors_img_dsp_set_motion_detect(kFd, &m, &md), 0);
	img_dsp_internal_motion_detect imd{6, 3};
	ASSERT_EQ(vors_img_dsp_set_internal_motion_detect(kFd, &m, &imd), 0);
	img_dsp_video_mctf_b b{};
	b.y_spat_smth_dir.high = b.y_spat_smth_iso.high = b.y_overall_max_change.high = 50;
	b.y_strength_3d = 256;
	b.y_combine_strength = 200;
	for (unsigned i = 0; i < 64; i++)
		b.y_spatial_weighting[i] = (uint8_t)(3 * i);
	ASSERT_EQ(vors_img_dsp_set_video_mctf_b(kFd, &m, &b), 0);

	ASSERT_EQ(build(0), 0);
	const ik_liso_cliso &cl = cfg(0)->main.adv.cliso;
	const uint8_t geometry[6] = {0xF0, 0x00, 0x90, 0x00, 0x00, 0x40};
	EXPECT_EQ(0, memcmp(&cl, geometry, 6));
	EXPECT_EQ(cl.smooth_strength, 46);
	EXPECT_EQ(cl.flags0, 0xF5);
	EXPECT_EQ(cl.flags1, 0x07 | 6 << 3);

	/* slot 16 and its final-sharpen table (slot 17) */
	const uint8_t *mctf = user(cfg(0)->main.adv.flow.video_mctf);
	EXPECT_EQ(mctf[264], 10);
	EXPECT_EQ(mctf[272], 14);
	EXPECT_EQ(mctf[9808 + 255], 255);
	const uint8_t *fs = user(cfg(0)->main.adv.flow.final_sharpen);
	EXPECT_EQ(rd16(fs + 704), 0);
	EXPECT_EQ(fs[0] & 1, 1);

	/* slots 18-20 */
	void *def = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_def_tbl(&def), 0);
	std::vector<uint8_t> moasf(IK_FINAL_SHARPEN_TBL_SIZE);
	img_dsp_core_calc_mcts_moasf(46, (const uint8_t *)def + IK_DEF_MOASF_TEMPLATE, moasf.data());
	EXPECT_EQ(0, memcmp(user(cl.mcts_MoASF), moasf.data(), moasf.size()));
	const uint32_t *t3d = (const uint32_t *)user(cl.CC_3d_motion_combine);
	EXPECT_EQ(t3d[256 * 2 + 16 * 15] & 1023, 708u); /* pure maximum 3 halves */
	EXPECT_EQ(t3d[256 * 3 + 16 * 15 + 0], 508u | 508u << 10 | 508u << 20);
	const uint32_t *out = (const uint32_t *)user(cl.CC_out_motion_combine);
	EXPECT_EQ(out[10], 0u);
	EXPECT_EQ(out[20], 0x0280A028u);
	EXPECT_EQ(out[255], 0x3D4F53D4u);

	/* slots 21 and 22: the luma of MCTF-B */
	const uint8_t *mb = user(cl.video_mctfB);
	for (unsigned i = 0; i < 64; i++)
		ASSERT_EQ(mb[9616 + i], 3 * i) << i;
	EXPECT_EQ(mb[728] & 15, 8);
	EXPECT_EQ(mb[2824 + 61], 143);
	EXPECT_EQ(mb[264], 0); /* MCTF-B's iso record, not the main block's */
	EXPECT_EQ(mb[9808 + 128], 128);
	const uint8_t *fs2 = user(cl.final_sharpen);
	EXPECT_EQ(rd16(fs2 + 704), 0);
	EXPECT_EQ(cl.mctf_mcts_update_mask_video_mctfB, 0x3FFFFFFFu);
	EXPECT_EQ(cl.mctf_mcts_update_mask_motion_detect, 0xFFFFFFFFu);

	/* without pure maximum 3 the second index is not halved */
	imd.pure_max = 0;
	ASSERT_EQ(vors_img_dsp_set_internal_motion_detect(kFd, &m, &imd), 0);
	ASSERT_EQ(vors_img_dsp_set_motion_detect(kFd, &m, &md), 0);
	ASSERT_EQ(build(1), 0);
	t3d = (const uint32_t *)user(cfg(1)->main.adv.cliso.CC_3d_motion_combine);
	EXPECT_EQ(t3d[256 * 2 + 16 * 15] & 1023, 1023u);
	EXPECT_EQ(t3d[256 * 3 + 16 * 15 + 0], 0x3FCFF3FCu);
}

TEST_F(IkMctfBuild, FastStartPacksEveryBuildAndCountsRuns)
{
	up(true);
	img_dsp_mode m = mode(0, 0);
	set_mctf(0, 0);
	ASSERT_EQ(build(0), 0);
	uint8_t fast = 1;
	ASSERT_EQ(vors_img_dsp_set_internal_video_mctf_fast_start(kFd, &m, &fast), 0);
	/* three builds with nothing else changed: the packing still runs and
	 * the luma floor follows the run counter */
	for (uint8_t run = 0; run < 3; run++) {
		ASSERT_EQ(build((uint8_t)(1 + run)), 0);
		EXPECT_EQ(body()->blk.motion_detect_runs, run + 1u);
		EXPECT_EQ(cfg((uint8_t)(1 + run))->main.adv.cliso.mctf_mcts_update_mask_video_mctfB & 0xFFFF,
		          512u);
	}
	/* the third build packed with run count 2: floor div_round(256, 3) */
	const uint8_t *mctf = user(cfg(3)->main.adv.flow.video_mctf);
	EXPECT_EQ(mctf[3208], 85);
	fast = 0;
	ASSERT_EQ(vors_img_dsp_set_internal_video_mctf_fast_start(kFd, &m, &fast), 0);
	ASSERT_EQ(build(0), 0);
	EXPECT_EQ(body()->blk.motion_detect_runs, 0u);
}

TEST_F(IkMctfBuild, BasicLayoutPacksIntoSlots16And17)
{
	up(false, 2);
	set_mctf(0, 256);
	set_mctf(1, 0);
	ASSERT_EQ(build(0, 0), 0);
	ASSERT_EQ(build(2, 1), 0);
	const uint8_t *a = user(cfg(0)->main.basic.flow.video_mctf);
	const uint8_t *b = user(cfg(2)->main.basic.flow.video_mctf);
	EXPECT_EQ(a[2824], 32);
	EXPECT_EQ(b[2824], 255);
	const uint8_t *fs = user(cfg(0)->main.basic.flow.final_sharpen);
	EXPECT_EQ(fs[704], 127);
	EXPECT_EQ(fs[705], 128);
	EXPECT_EQ(body(0)->blk.mctf_prev_brightness, 1000u);
	EXPECT_EQ(body(1)->blk.mctf_prev_brightness, 1000u);
	EXPECT_EQ(cfg(0)->main.basic.flow.update_masks & 0xFFFF, 0xC381u);
}

/* Two channels pack their tables at once: each keeps its own remap
 * inverse, so a channel whose curve cannot be inverted never borrows the
 * other's. */
TEST_F(IkMctfBuild, TwoContextsPackFromTwoThreads)
{
	up(false, 2);
	img_dsp_tone_curve tone;
	memcpy(&tone, body(1)->blk.tone_curve, sizeof(tone));
	tone.ToneCurveGreen[10] = 0;
	memcpy(body(1)->blk.tone_curve, &tone, sizeof(tone));
	auto run = [this](uint8_t ctx, uint8_t first_cfg, uint8_t want) {
		for (int i = 0; i < 30; i++) {
			uint8_t id = (uint8_t)(first_cfg + (i & 1));
			set_mctf(ctx, 256);
			ASSERT_EQ(build(id, ctx), 0);
			const uint8_t *t = user(cfg(id)->main.basic.flow.video_mctf);
			ASSERT_EQ(t[9808 + 128], want) << (int)ctx << " run " << i;
			ASSERT_EQ(t[2824], 32);
		}
	};
	std::thread a(run, 0, 0, 128), b(run, 1, 2, 0);
	a.join();
	b.join();
	EXPECT_EQ(body(0)->blk.mctf_prev_brightness, 1000u);
	EXPECT_EQ(body(1)->blk.mctf_prev_brightness, 1000u);
}

} // namespace

/* The advance spatial filter: its setter's checks and what it stores. */
#include "ik_asf.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_fir.h"
#include "ik_liso.h"
#include "ik_sharpen.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

class IkAsf : public IkFixture
{
      protected:
	void SetUp() override
	{
		StdoutCapture quiet;
		bring_up({{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
		for (uint32_t pipe : {0u, 1u, 2u}) {
			img_dsp_ctx_id id{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &id, &id), 0);
		}
	}
	ik_ctx_body *body(uint32_t pipe = 0)
	{
		img_dsp_ctx_id id{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&id, &c), 0);
		return ik_body(pipe, c);
	}
	/* A block every check passes silently. */
	static img_dsp_advance_spatial_filter good()
	{
		img_dsp_advance_spatial_filter a{};
		a.Enable = 1;
		a.Fir.specify = 2;
		a.Adapt = {2, 7, 20, 60, 1, 8, 10, 40};
		a.LevelStrAdjust = {10, 1, 16, 32, 20, 1, 48};
		a.T0T1Div = {10, 1, 16, 16, 20, 1, 16};
		return a;
	}
};

const char *const kFn = "[IK][Warning]img_dsp_core_check_advance_spatial_filter() ";
const char *const kIn = " in img_dsp_core_process_advance_spatial_filter\n";

TEST_F(IkAsf, SetterClampsAndStores)
{
	img_dsp_mode m = mode(0, 0);
	struct {
		std::function<void(img_dsp_advance_spatial_filter *)> edit, want;
		int rc;
		std::string msg;
	} cases[] = {
	    {[](auto *a) { a->Adapt.T0Up = 101, a->Adapt.T1Up = 200; },
	     [](auto *a) { a->Adapt.T0Up = 100, a->Adapt.T1Up = 200; }, 0, "Adapt.T0Up=101 should be even"},
	    {[](auto *a) { a->Adapt.T0Down = 253; },
	     [](auto *a) { a->Adapt.T0Down = 252, a->Adapt.T1Down = 252; }, IMG_DSP_CLAMPED,
	     "Adapt.T0Down=253 should be within [0:252]"},
	    {[](auto *a) { a->Adapt.T1Down = 255; }, [](auto *a) { a->Adapt.T1Down = 254; }, IMG_DSP_CLAMPED,
	     "Adapt.T1Down=255 should be within [2:254]"},
	    {[](auto *a) { a->Adapt.T1Down = 1, a->Adapt.T0Down = 0; },
	     [](auto *a) { a->Adapt.T1Down = 2, a->Adapt.T0Down = 0; }, IMG_DSP_CLAMPED,
	     "Adapt.T1Down=1 should be within [2:254]"},
	    {[](auto *a) { a->Adapt.T1Up = 61; }, [](auto *a) { a->Adapt.T1Up = 60; }, 0,
	     "Adapt.T1Up=61 should be even"},
	    {[](auto *a) { a->Adapt.AlphaMaxDown = 9; }, [](auto *a) { a->Adapt.AlphaMaxDown = 8; },
	     IMG_DSP_CLAMPED, "Adapt.AlphaMaxDown=9 should be within [0:8]"},
	    {[](auto *a) { a->Adapt.AlphaMinUp = 20; }, [](auto *a) { a->Adapt.AlphaMinUp = 8; },
	     IMG_DSP_CLAMPED, "Adapt.AlphaMinUp=20 should be within [0:8]"},
	    {[](auto *a) { a->Adapt.T0Up = 200, a->Adapt.T1Up = 150; },
	     [](auto *a) { a->Adapt.T0Up = 200, a->Adapt.T1Up = 200; }, IMG_DSP_CLAMPED,
	     "T1_up=150 smaller than T0_up= 200"},
	    {[](auto *a) { a->Adapt.T0Down = 50; },
	     [](auto *a) { a->Adapt.T0Down = 50, a->Adapt.T1Down = 50; }, IMG_DSP_CLAMPED,
	     "T1_Down=40 smaller than T0_Down= 50"},
	    {[](auto *a) { a->Enable = 3; }, [](auto *a) { a->Enable = 1; }, IMG_DSP_CLAMPED,
	     "Enable=3 should be within [0:1]"},
	    {[](auto *a) { a->LevelStrAdjust.low_strength = 65; },
	     [](auto *a) { a->LevelStrAdjust.low_strength = 64; }, IMG_DSP_CLAMPED,
	     "level_str_adjust.LowStrength=65 should be within [0:64]"},
	    {[](auto *a) { a->LevelStrAdjust.mid_strength = 64; },
	     [](auto *a) { a->LevelStrAdjust.mid_strength = 64; }, 0, ""},
	    {[](auto *a) { a->LevelStrAdjust.high = 255; }, [](auto *a) { a->LevelStrAdjust.high = 254; },
	     IMG_DSP_CLAMPED, "level_str_adjust.high = 255 should be within [1:254]"},
	    {[](auto *a) { a->LevelStrAdjust.low = 254; }, [](auto *a) { a->LevelStrAdjust.low = 253; },
	     IMG_DSP_CLAMPED, "level_str_adjust.low = 254 should be within [0:253]"},
	    {[](auto *a) { a->Fir.specify = 1; }, [](auto *a) { a->Fir.specify = 1; }, IMG_DSP_CLAMPED, ""},
	};
	for (const auto &c : cases) {
		img_dsp_advance_spatial_filter a = good(), want = good();
		c.edit(&a);
		c.want(&want);
		memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &m, &a), c.rc) << c.msg;
		std::string out = cap.text();
		if (!c.msg.empty()) {
			EXPECT_TRUE(has_msg(out, kFn, c.msg + kIn)) << out;
		} else if (c.rc == 0) {
			EXPECT_EQ(out, "");
		}
		EXPECT_EQ(0, memcmp(&a, &want, sizeof(a))) << c.msg;
		img_dsp_advance_spatial_filter got{};
		EXPECT_EQ(vors_img_dsp_get_advance_spatial_filter(&m, &got), 0);
		EXPECT_EQ(0, memcmp(&got, &want, sizeof(got))) << c.msg;
		EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_ASF));
	}
}

TEST_F(IkAsf, ImpossibleDivCurveStoresNothing)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_advance_spatial_filter a = good();
	ASSERT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &m, &a), 0);
	memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	img_dsp_advance_spatial_filter bad = good();
	bad.T0T1Div = {250, 4, 0, 0, 252, 0, 0};
	bad.Adapt.T0Up = 7;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &m, &bad), -1);
	EXPECT_TRUE(
	    has_msg(cap.text(), "[IK][Error]img_dsp_core_check_sharpen_noise_level() ",
	            "T0T1_div.Low = 250, LowDelta = 4, High = 252, HighDelta = 0, Low0 = 266 should <= "
	            "High0 = 253 in img_dsp_core_process_advance_spatial_filter\n"))
	    << cap.text();
	EXPECT_EQ(bad.Adapt.T0Up, 6); /* the caller keeps the corrections */
	img_dsp_advance_spatial_filter got{};
	EXPECT_EQ(vors_img_dsp_get_advance_spatial_filter(&m, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &a, sizeof(got)));
	EXPECT_FALSE(ik_flag_test(body()->update_flags, IK_UPD_ASF));
}

TEST_F(IkAsf, StillPipeAndNullBlocks)
{
	img_dsp_mode still = mode(1, 0);
	img_dsp_advance_spatial_filter a = good();
	a.MaxChangeUp = 77;
	memset(body(0)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	memset(body(1)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	EXPECT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &still, &a), 0);
	EXPECT_EQ(0, memcmp(body(1)->blk.advance_spatial_filter, &a, sizeof(a)));
	EXPECT_TRUE(ik_flag_test(body(1)->update_flags, IK_UPD_ASF));
	EXPECT_FALSE(ik_flag_test(body(0)->update_flags, IK_UPD_ASF));
	EXPECT_EQ(body(0)->blk.advance_spatial_filter[539], 0);
	{
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_get_advance_spatial_filter(&still, nullptr), -1);
		EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]vors_img_dsp_get_advance_spatial_filter() ",
		                    "pAsf is empty\n"));
	}
	{
		/* Another pipe: refused after the check corrected the caller's block. */
		img_dsp_mode decode = mode(2, 0);
		img_dsp_advance_spatial_filter b = good();
		b.Enable = 2;
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &decode, &b), -1);
		EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]img_dsp_core_process_advance_spatial_filter() ",
		                    "does not support pipe 2\n"));
		EXPECT_EQ(b.Enable, 1);
	}
	StdoutCapture cap;
	EXPECT_EQ(img_dsp_core_check_set_advance_spatial_filter(&still, nullptr, 0, nullptr), -1);
	EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]img_dsp_core_check_set_advance_spatial_filter() ",
	                    "p_asf is NULL in img_dsp_core_process_advance_spatial_filter\n"));
}

} // namespace

namespace
{

std::vector<uint8_t> bytes(const uint8_t *p, size_t n)
{
	return std::vector<uint8_t>(p, p + n);
}

ik_asf_work prepared(const img_dsp_advance_spatial_filter &a)
{
	ik_asf_working w;
	ik_asf_working_from_block(&a, &w);
	ik_asf_work work;
	asf_prepare_hw_params(&w, &work, 0);
	return work;
}

TEST(IkAsfHw, AlphaFromChangeLimits)
{
	img_dsp_advance_spatial_filter a{};
	a.MaxChangeNotT0T1LevelBased = 1;
	a.MaxChangeUp = a.MaxChangeDown = 8;
	ik_asf_work work = prepared(a);
	EXPECT_EQ(work.alpha[129], 0u);
	EXPECT_EQ(work.alpha[132], 0u);
	EXPECT_EQ(work.alpha[136], 4u);
	EXPECT_EQ(work.alpha[255], 8u);
	EXPECT_EQ(work.alpha[128], 0u);
	EXPECT_EQ(work.alpha[0], 8u);
	EXPECT_EQ(work.alpha[1], 8u);
	uint8_t table[256];
	memset(table, 0xEE, sizeof(table));
	asf_pack_alpha_table(&work, table, 0);
	EXPECT_EQ(bytes(table, 4), (std::vector<uint8_t>{0x08, 0x21, 0x04, 0x00}));
	EXPECT_EQ(bytes(table + 128, 16),
	          (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x40, 0x8C, 0x01, 0x00, 0x84, 0x94, 0x02,
	                                0x00, 0xC5, 0x18, 0x03, 0x00}));

	a.MaxChangeUp = 0;
	work = prepared(a);
	for (int i = 128; i < 256; i++)
		EXPECT_EQ(work.alpha[i], 8u) << i;
}

TEST(IkAsfHw, AlphaFromAdaptRamps)
{
	img_dsp_advance_spatial_filter a{};
	a.Adapt = {2, 7, 20, 60, 1, 5, 0, 8};
	ik_asf_work work = prepared(a);
	for (int i = 0; i < 128; i++) {
		uint32_t want = i < 10 ? 2 : i < 30 ? 2 + (5 * (i - 10)) / 20 : 7;
		EXPECT_EQ(work.alpha[128 + i], want) << i;
	}
	/* Downward: the ramp read backwards from 127, entry 0 its last value. */
	EXPECT_EQ(work.alpha[127], 2u); /* D[1] = 1 + 4 / 4 */
	EXPECT_EQ(work.alpha[125], 4u); /* D[3] = 1 + (4 * 3) / 4 */
	EXPECT_EQ(work.alpha[1], 5u);   /* D[127] */
	EXPECT_EQ(work.alpha[0], 5u);
}

TEST(IkAsfHw, LevelAndDecideRecords)
{
	img_dsp_advance_spatial_filter a{};
	a.LevelStrAdjust = {10, 1, 16, 32, 20, 1, 48};
	a.T0T1Div = {30, 2, 5, 6, 50, 3, 7};
	a.DirectionalDecideT0 = 20;
	a.DirectionalDecideT1 = 40;
	ik_asf_work work = prepared(a);
	uint8_t reg[32];
	memset(reg, 0xEE, sizeof(reg));
	asf_fill_level_str_adjust(&work, reg, 0, 0);
	EXPECT_EQ(bytes(reg + 4, 26),
	          (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x0A,
	                                0x0C, 0x01, 0x30, 0x14, 0x16, 0x01, 0x10, 0x20, 0x00,
	                                0x00, 0xF0, 0x00, 0xF0, 0xFF, 0x0F, 0xFF, 0x0F}));
	EXPECT_EQ(bytes(reg, 4), (std::vector<uint8_t>(4, 0xEE)));
	memset(reg, 0xEE, sizeof(reg));
	asf_fill_level_str_adjust(&work, reg, 0, 1);
	EXPECT_EQ(bytes(reg, 9),
	          (std::vector<uint8_t>{0x0A, 0x0C, 0x30, 0x14, 0x16, 0x10, 0x20, 0x09, 0xEE}));
	memset(reg, 0xEE, sizeof(reg));
	asf_fill_t0t1_div_level(&work, reg, 1, 0); /* skip */
	EXPECT_EQ(bytes(reg, 32), (std::vector<uint8_t>(32, 0xEE)));
	asf_fill_t0t1_div_level(&work, reg, 0, 1);
	EXPECT_EQ(bytes(reg, 8), (std::vector<uint8_t>{30, 34, 5, 50, 58, 7, 6, 2 | 3 << 3}));

	a.MaxChangeNotT0T1LevelBased = 1;
	work = prepared(a);
	asf_fill_t0t1_div_level(&work, reg, 0, 0);
	EXPECT_EQ(reg[8], 10);
	EXPECT_EQ(bytes(reg + 12, 9), (std::vector<uint8_t>{30, 34, 2, 16, 50, 58, 3, 16, 16}));

	memset(reg, 0xEE, sizeof(reg));
	asf_fill_directional_decide(&work, nullptr, reg);
	EXPECT_EQ(bytes(reg + 4, 20),
	          (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00,
	                                0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0xA0, 0x00, 0x40, 0x01}));
	EXPECT_EQ(reg[24], 0xEE);

	/* The caps at 255 and a flag in the packed form. */
	a.LevelStrAdjust = {253, 7, 64, 0, 254, 7, 0};
	ik_asf_working w;
	ik_asf_working_from_block(&a, &w);
	asf_prepare_hw_params(&w, &work, 1);
	asf_fill_level_str_adjust(&work, reg, 0, 1);
	EXPECT_EQ(bytes(reg, 8), (std::vector<uint8_t>{253, 255, 0, 254, 255, 64, 64, 7 | 7 << 3 | 0x40}));
}

TEST(IkAsfHw, FirTablesOfSpecifyTwo)
{
	img_dsp_advance_spatial_filter a{};
	a.Fir.specify = 2;
	a.Fir.strength_iso = 64;
	a.Fir.strength_dir = 128;
	ik_asf_work work = prepared(a);
	uint8_t t1[256] = {}, t2[256] = {};
	update_asf_fir1_coeffs((const uint8_t *)&work, t1);
	update_asf_fir2_coeffs((const uint8_t *)&work, t2);
	std::vector<uint8_t> rec0 = {0xB4, 0x00, 0, 0, 0xDA, 0xDA, 0x79, 0x79};
	rec0.resize(28, 0);
	for (int d = 0; d < 9; d++) {
		EXPECT_EQ(bytes(t1 + 28 * d, 28), rec0) << d;
	}
	EXPECT_EQ(bytes(t1 + 252, 4), (std::vector<uint8_t>{0x24, 0x49, 0x92, 0x04}));
	/* FIR 2 keeps each direction: record 1 is halved once. */
	EXPECT_EQ(bytes(t2, 28), bytes(t1, 28));
	std::vector<uint8_t> rec1(28, 0);
	rec1[0] = 0x60;
	rec1[5] = 0xE8;
	rec1[15] = 0x28;
	EXPECT_EQ(bytes(t2 + 28, 28), rec1);
	EXPECT_EQ(bytes(t2 + 252, 4), (std::vector<uint8_t>{0xDC, 0xB6, 0x6D, 0x03}));
}

/* The filter as a built configuration carries it (Select 0). */
class IkAsfBuild : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up_built_video();
		ASSERT_FALSE(HasFatalFailure());
	}
	img_dsp_iso_cfg *cfg()
	{
		img_dsp_cfg_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}
	uint8_t *tbl()
	{
		img_dsp_cfg_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &c), 0);
		return (uint8_t *)c;
	}
	img_dsp_mode m_ = mode(0, 0);
};

TEST_F(IkAsfBuild, TablesAndBlockFields)
{
	img_dsp_advance_spatial_filter a{};
	a.Enable = 1;
	a.Fir.specify = 2;
	a.Fir.strength_iso = 64;
	a.Fir.strength_dir = 128;
	a.wide_edge_detect = 3;
	a.DirectionalDecideT0 = 20;
	a.DirectionalDecideT1 = 40;
	a.Adapt = {0, 8, 0, 2, 0, 8, 0, 2};
	a.LevelStrAdjust = {10, 1, 16, 32, 20, 1, 48};
	a.T0T1Div = {10, 1, 1, 2, 20, 1, 3};
	a.MaxChangeNotT0T1LevelBased = 1;
	a.MaxChangeUp = a.MaxChangeDown = 8;
	int rc;
	{
		StdoutCapture quiet;
		rc = vors_img_dsp_set_advance_spatial_filter(0, &m_, &a);
		if (rc >= 0)
			rc = vors_img_dsp_post_exe_cfg(5, &m_);
	}
	ASSERT_EQ(rc, 0);
	const uint8_t *alpha = tbl() + IK_TBL_ASF_CORING;
	EXPECT_EQ(bytes(alpha, 4), (std::vector<uint8_t>{0x08, 0x21, 0x04, 0x00}));
	EXPECT_EQ(bytes(alpha + 132, 4), (std::vector<uint8_t>{0x40, 0x8C, 0x01, 0x00}));
	EXPECT_EQ(bytes(tbl() + IK_TBL_ASF_FIR1, 8),
	          (std::vector<uint8_t>{0xB4, 0x00, 0, 0, 0xDA, 0xDA, 0x79, 0x79}));
	EXPECT_EQ(bytes(tbl() + IK_TBL_ASF_FIR2 + 252, 4), (std::vector<uint8_t>{0xDC, 0xB6, 0x6D, 0x03}));
	const ik_sharpen_block &s = cfg()->main.basic.liso.sharpen;
	EXPECT_EQ(s.fir2_clip_high, 160);
	EXPECT_EQ(s.fir2_clip_low, 320);
	EXPECT_EQ(s.max_change_up, 8);
	EXPECT_EQ(s.max_change_down, 8);
	EXPECT_EQ(s.wide_edge_detect, 3);
	EXPECT_EQ(s.flags & IK_SHP_ENABLE, IK_SHP_ENABLE);
	EXPECT_EQ(bytes((const uint8_t *)&s.coring_multiplier_min, 8),
	          (std::vector<uint8_t>{0x0A, 0x0C, 0x30, 0x14, 0x16, 0x10, 0x20, 0x09}));
	EXPECT_EQ(bytes((const uint8_t *)&s.coring_index_mul, 8),
	          (std::vector<uint8_t>{0x0A, 0x0C, 16, 0x14, 0x16, 16, 16, 0x09}));
}

} // namespace

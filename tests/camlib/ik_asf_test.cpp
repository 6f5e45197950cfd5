/* The advance spatial filter: its setter's checks and what it stores. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_sharpen.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using iktest::has_msg;
using iktest::IkFixture;
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
		for (uint32_t pipe : {0u, 1u}) {
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
	StdoutCapture cap;
	EXPECT_EQ(img_dsp_core_check_set_advance_spatial_filter(&still, nullptr, 0, nullptr), -1);
	EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]img_dsp_core_check_set_advance_spatial_filter() ",
	                    "p_asf is NULL in img_dsp_core_process_advance_spatial_filter\n"));
}

} // namespace

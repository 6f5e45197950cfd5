/* The temporal noise filter's settings: video MCTF, its temporal adjust,
 * motion detection and MCTF-B, with their checks, messages and getters. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_mctf.h"
#include "ik_test_support.h"
#include "img_dsp_mctf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

constexpr int kFd = 5;
const std::string kMctfWarn = "[IK][Warning]img_dsp_core_check_set_video_mctf() ";
const std::string kLevelWarn = "[IK][Warning]img_dsp_core_check_set_video_mctf_level() ";
const std::string kCurveWarn = "[IK][Warning]img_dsp_core_check_set_video_mctf_curve() ";
const std::string kClisoWarn = "[IK][Warning]img_dsp_core_check_set_cliso_video_mctf_level() ";

img_dsp_video_mctf valid_mctf()
{
	img_dsp_video_mctf b{};
	img_dsp_mctf_level *levels[] = {
	    &b.y_spat_smth_dir,
	    &b.y_spat_smth_iso,
	    &b.cb_spat_smth_dir,
	    &b.cb_spat_smth_iso,
	    &b.cr_spat_smth_dir,
	    &b.cr_spat_smth_iso,
	    &b.y_overall_max_change,
	    &b.cb_overall_max_change,
	    &b.cr_overall_max_change,
	    &b.y_temporal_either_max_change_or_t0_t1_add,
	    &b.cb_temporal_either_max_change_or_t0_t1_add,
	    &b.cr_temporal_either_max_change_or_t0_t1_add,
	};
	for (img_dsp_mctf_level *l : levels)
		l->high = 200;
	b.enable = 1;
	b.y_strength_3d = 128;
	return b;
}

img_dsp_video_mctf_b valid_mctf_b()
{
	img_dsp_video_mctf_b b{};
	b.y_spat_smth_dir.high = b.y_spat_smth_iso.high = b.y_overall_max_change.high = 100;
	return b;
}

class IkMctf : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 1, 1, 0}, {1, 1, 1, 0, 0}});
		for (uint32_t pipe = 0; pipe < 2; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
	}
	ik_ctx_body *body()
	{
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(0, c);
	}
	bool flag(unsigned f)
	{
		return ik_flag_test(body()->update_flags, f) != 0;
	}
	void clear_flags()
	{
		memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
	img_dsp_mode video = mode(0, 0);
	img_dsp_mode still = mode(1, 0);
};

/* ---- video MCTF ---- */

TEST_F(IkMctf, VideoMctfClampsInTheCallersBlockAndStores)
{
	struct {
		std::function<void(img_dsp_video_mctf &)> edit;
		std::string head, msg;
		std::function<bool(const img_dsp_video_mctf &)> clamped;
	} cases[] = {
	    {[](img_dsp_video_mctf &b) { b.enable = 3; }, kMctfWarn,
	     "enable = 3 should be within [0:1] in img_dsp_core_check_set_video_mctf\n\n",
	     [](const img_dsp_video_mctf &b) { return b.enable == 1; }},
	    {[](img_dsp_video_mctf &b) { b.y_combine_strength = 300; }, kMctfWarn,
	     "y_combine_strength = 300 should be within [0:256] in img_dsp_core_check_set_video_mctf\n\n",
	     [](const img_dsp_video_mctf &b) { return b.y_combine_strength == 256; }},
	    {[](img_dsp_video_mctf &b) { b.cb_overall_max_change.high = 0; }, kLevelWarn,
	     "cb_overall_max_change.high = 0 should be within [1:254] in "
	     "img_dsp_core_check_set_video_mctf_level\n\n",
	     [](const img_dsp_video_mctf &b) { return b.cb_overall_max_change.high == 1; }},
	    {[](img_dsp_video_mctf &b) { b.y_spat_smth_dir.low = 254; }, kLevelWarn,
	     "y_spat_smth_dir.low = 254 should be within [0:253]",
	     [](const img_dsp_video_mctf &b) { return b.y_spat_smth_dir.low == 253; }},
	    {[](img_dsp_video_mctf &b) { b.cr_curve.temporal_t0 = 64; }, kCurveWarn,
	     "cr .temporal_t0 = 64 should be within [0:63] in img_dsp_core_check_set_video_mctf_curve\n\n",
	     [](const img_dsp_video_mctf &b) { return b.cr_curve.temporal_t0 == 63; }},
	    {[](img_dsp_video_mctf &b) { b.y_curve.temporal_t2 = 99; }, kCurveWarn,
	     "y temporal_t2 = 99 should be within [0:63]",
	     [](const img_dsp_video_mctf &b) { return b.y_curve.temporal_t2 == 63; }},
	    {[](img_dsp_video_mctf &b) { b.y_spat_smth_edge_thresh = 5000; }, kMctfWarn,
	     "y_spat_smth_edge_thresh = 5000 should be within [0:2047]\n",
	     [](const img_dsp_video_mctf &b) { return b.y_spat_smth_edge_thresh == 2047; }},
	    {[](img_dsp_video_mctf &b) { b.cr_spat_smth_wide_edge_detect = 9; }, kMctfWarn,
	     "cr_spat_smth_wide_edge_detect = 9 should be within [0:8]\n",
	     [](const img_dsp_video_mctf &b) { return b.cr_spat_smth_wide_edge_detect == 8; }},
	    {[](img_dsp_video_mctf &b) { b.cb_temporal_max_change_not_t0_t1_level_based = 2; }, kMctfWarn,
	     "cb_temporal_max_change_not_t0_t1_level_based = 2 should be within [0:1]",
	     [](const img_dsp_video_mctf &b) { return b.cb_temporal_max_change_not_t0_t1_level_based == 1; }},
	    {[](img_dsp_video_mctf &b) { b.cr_strength_3d = 257; }, kMctfWarn,
	     "cr_strength_3d = 257 should be within [0:256]",
	     [](const img_dsp_video_mctf &b) { return b.cr_strength_3d == 256; }},
	    {[](img_dsp_video_mctf &b) { b.y_temporal_either_max_change_or_t0_t1_add.high_delta = 8; },
	     kLevelWarn, "y_temporal_either_max_change_or_t0_t1_add.high_delta = 8 should be within [0:7]",
	     [](const img_dsp_video_mctf &b) {
		     return b.y_temporal_either_max_change_or_t0_t1_add.high_delta == 7;
	     }},
	};
	for (auto &c : cases) {
		clear_flags();
		img_dsp_video_mctf b = valid_mctf();
		c.edit(b);
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, &b), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(has_msg(cap.text(), c.head, c.msg)) << c.msg;
		EXPECT_TRUE(c.clamped(b)) << c.msg;
		EXPECT_TRUE(flag(IK_UPD_VIDEO_MCTF)) << c.msg;
		img_dsp_video_mctf got{};
		ASSERT_EQ(vors_img_dsp_get_video_mctf(&video, &got), 0);
		EXPECT_EQ(0, memcmp(&got, &b, sizeof(b))) << c.msg;
	}
	/* Negative spatial values pass unchanged; a valid block is silent. */
	img_dsp_video_mctf b = valid_mctf();
	b.y_spat_smth_wide_edge_detect = -3;
	b.cb_spat_smth_edge_thresh = -100;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, &b), 0);
	EXPECT_EQ(cap.text(), "");
}

TEST_F(IkMctf, RefusedLevelMethodStoresNothing)
{
	img_dsp_video_mctf first = valid_mctf();
	ASSERT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, &first), 0);
	clear_flags();
	img_dsp_video_mctf b = valid_mctf();
	b.y_spat_smth_iso.method = 2;
	b.y_spat_smth_iso.low_delta = 9;
	b.enable = 5;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, &b), IMG_DSP_FAIL);
	std::string t = cap.text();
	EXPECT_TRUE(has_msg(t, kLevelWarn, "y_spat_smth_iso.method = 2 should be within [0,1,7]"));
	/* every other field is still clamped in the caller's block */
	EXPECT_EQ(b.enable, 1);
	EXPECT_EQ(b.y_spat_smth_iso.method, 2);
	EXPECT_EQ(b.y_spat_smth_iso.low_delta, 7);
	EXPECT_FALSE(flag(IK_UPD_VIDEO_MCTF));
	img_dsp_video_mctf got{};
	ASSERT_EQ(vors_img_dsp_get_video_mctf(&video, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &first, sizeof(first)));
}

TEST_F(IkMctf, LevelChecks)
{
	struct {
		img_dsp_mctf_level in;
		bool cliso;
		int rc;
		img_dsp_mctf_level out;
	} cases[] = {
	    {{7, 253, 7, 1, 2, 254, 7, 3}, false, 0, {7, 253, 7, 1, 2, 254, 7, 3}},
	    {{1, 0, 0, 0, 0, 255, 0, 0}, false, IMG_DSP_CLAMPED, {1, 0, 0, 0, 0, 254, 0, 0}},
	    {{3, 0, 0, 0, 0, 10, 0, 0}, false, IMG_DSP_FAIL, {3, 0, 0, 0, 0, 10, 0, 0}},
	    {{3, 0, 9, 0, 0, 255, 0, 0}, true, IMG_DSP_CLAMPED, {3, 0, 7, 0, 0, 254, 0, 0}},
	    {{1, 0, 0, 0, 0, 10, 0, 0}, true, IMG_DSP_FAIL, {1, 0, 0, 0, 0, 10, 0, 0}},
	    {{0, 255, 0, 0, 0, 0, 12, 0}, true, IMG_DSP_CLAMPED, {0, 253, 0, 0, 0, 1, 7, 0}},
	};
	for (auto &c : cases) {
		img_dsp_mctf_level l = c.in;
		int rc = c.cliso ? img_dsp_core_check_set_cliso_video_mctf_level("proc", "rec", &l)
		                 : img_dsp_core_check_set_video_mctf_level("rec", &l);
		EXPECT_EQ(rc, c.rc);
		EXPECT_EQ(0, memcmp(&l, &c.out, sizeof(l)));
	}
	img_dsp_mctf_level l{1, 0, 0, 0, 0, 10, 0, 0};
	StdoutCapture cap;
	img_dsp_core_check_set_cliso_video_mctf_level("the_step", "rec", &l);
	EXPECT_TRUE(has_msg(cap.text(), kClisoWarn, "rec.method = 1 should be within [0,3] in the_step\n\n"));
}

TEST_F(IkMctf, InternalVideoMctf)
{
	img_dsp_internal_video_mctf b{};
	b.temporal_adjust_frames_combine_num1 = 0;
	b.temporal_adjust_frames_combine_num2 = 9;
	b.temporal_adjust_cr_greater_than_thresh_min_val = 16;
	b.mctf_b_temporal_artifact_guard = 200;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf(kFd, &video, &b), IMG_DSP_CLAMPED);
	std::string t = cap.text();
	const std::string head = "[IK][Warning]img_dsp_core_check_set_internal_video_mctf() ";
	EXPECT_TRUE(has_msg(t, head, "temporal_adjust_frames_combine_num2 = 9 should be within [1:6] in "));
	EXPECT_TRUE(
	    has_msg(t, head, "temporal_adjust_cr_greater_than_thresh_min_val = 16 should be within [0:15]"));
	EXPECT_EQ(t.find("num1"), std::string::npos);
	EXPECT_EQ(b.temporal_adjust_frames_combine_num2, 6);
	EXPECT_EQ(0, memcmp(body()->blk.internal_video_mctf, &b, 9));
	EXPECT_TRUE(flag(IK_UPD_VIDEO_MCTF));
}

TEST_F(IkMctf, OnlyTheVideoPipeAfterTheChecks)
{
	img_dsp_video_mctf b = valid_mctf();
	b.enable = 4;
	img_dsp_internal_video_mctf in{};
	img_dsp_video_mctf_temporal_adjust_cb cb{};
	cb.max = 20;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &still, &b), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf(kFd, &still, &in), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust_cb(kFd, &still, &cb), IMG_DSP_FAIL);
	img_dsp_video_mctf got;
	EXPECT_EQ(vors_img_dsp_get_video_mctf(&still, &got), IMG_DSP_FAIL);
	std::string t = cap.text();
	EXPECT_EQ(b.enable, 1);
	EXPECT_EQ(cb.max, 15);
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_video_mctf() ", "does not support pipe 1\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_internal_video_mctf() ",
	                    "does not support pipe 1\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_video_mctf_temporal_adjust_cb() ",
	                    "does not support pipe 1\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_video_mctf() ", "does not support pipe 1\n"));
	for (unsigned f = IK_UPD_VIDEO_MCTF; f <= IK_UPD_MCTF_TEMPORAL_ADJUST_CR; f++)
		EXPECT_FALSE(flag(f));
}

TEST_F(IkMctf, MissingContextIsWordedContex)
{
	img_dsp_mode m = mode(0, 7);
	img_dsp_video_mctf b = valid_mctf();
	img_dsp_internal_video_mctf in{};
	img_dsp_video_mctf_temporal_adjust_cr cr{};
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &m, &b), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf(kFd, &m, &in), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_get_video_mctf_temporal_adjust_cr(&m, &cr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_get_video_mctf_temporal_adjust_y(&m, &cr), IMG_DSP_FAIL);
	std::string t = cap.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]vors_img_dsp_set_video_mctf() ", "Cannot get contex mutex\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Warning]vors_img_dsp_set_internal_video_mctf() ", "Cannot get contex mutex\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]vors_img_dsp_get_video_mctf_temporal_adjust_cr() ",
	                    "Cannot get contex mutex\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]vors_img_dsp_get_video_mctf_temporal_adjust_y() ",
	                    "Cannot get context mutex\n"));
}

TEST_F(IkMctf, GettersWithoutAnOutBuffer)
{
	struct {
		std::function<int()> call;
		std::string head, msg;
	} cases[] = {
	    {[&] { return vors_img_dsp_get_video_mctf(&video, nullptr); }, "vors_img_dsp_get_video_mctf",
	     "pMctfInfo is empty\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_temporal_adjust(&video, nullptr); },
	     "vors_img_dsp_get_video_mctf_temporal_adjust", "p_mctf_temporal_adjust is empty\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_temporal_adjust_y(&video, nullptr); },
	     "vors_img_dsp_get_video_mctf_temporal_adjust_y", "p_mctf_temporal_adjust_y is empty.\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_temporal_adjust_cb(&video, nullptr); },
	     "vors_img_dsp_get_video_mctf_temporal_adjust_cb", "p_mctf_temporal_adjust_cb is empty\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_temporal_adjust_cr(&video, nullptr); },
	     "vors_img_dsp_get_video_mctf_temporal_adjust_cr", "p_mctf_temporal_adjust_cr is empty\n"},
	    {[&] { return vors_img_dsp_get_motion_detect(&video, nullptr); },
	     "vors_img_dsp_get_motion_detect", "p_motion_detect is empty\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_b(&video, nullptr); }, "vors_img_dsp_get_video_mctf_b",
	     "p_video_mctf_b is empty\n"},
	    {[&] { return vors_img_dsp_get_video_mctf_b_level(&video, nullptr); },
	     "vors_img_dsp_get_video_mctf_b_level", "p_video_mctf_b_level is empty\n"},
	};
	for (auto &c : cases) {
		StdoutCapture cap;
		EXPECT_EQ(c.call(), IMG_DSP_FAIL) << c.msg;
		EXPECT_TRUE(has_msg(cap.text(), "[IK][Error]" + c.head + "() ", c.msg)) << c.msg;
	}
}

TEST_F(IkMctf, NullBlocksAreRefused)
{
	StdoutCapture cap;
	EXPECT_EQ(img_dsp_core_check_set_video_mctf(&video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(img_dsp_core_check_set_internal_video_mctf(&video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(img_dsp_core_check_set_video_mctf_temporal_adjust(&video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(img_dsp_core_check_set_video_mctf_temporal_adjust_cr(&video, nullptr), IMG_DSP_FAIL);
	/* the public setters refuse a missing block the same way and store nothing */
	EXPECT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust_y(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_motion_detect(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_motion_detect(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b_level(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf_fast_start(kFd, &video, nullptr), IMG_DSP_FAIL);
	EXPECT_EQ(vors_img_dsp_set_internal_video_high_perf_mode(kFd, &video, nullptr), IMG_DSP_FAIL);
	for (unsigned f = 0; f < 8 * IK_UPDATE_FLAG_BYTES; f++)
		EXPECT_FALSE(flag(f)) << f;
	std::string t = cap.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_check_set_video_mctf() ", "p_mctf_info is NULL\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_check_set_internal_video_mctf() ",
	                    "p_internal_mctf_info is NULL\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_check_set_video_mctf_temporal_adjust() ",
	                    "p_mctf_info_temporal_adjust is NULL\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_check_set_video_mctf_temporal_adjust_cr() ",
	                    "p_mctf_info_temporal_adjust_cr is NULL\n"));
}

TEST_F(IkMctf, DebugLinesAndRecord)
{
	std::vector<uint8_t> written;
	static std::vector<uint8_t> *sink;
	sink = &written;
	vors_img_dsp_register_debug_log_writer([](const void *d, uint32_t n, const void *) {
		sink->insert(sink->end(), (const uint8_t *)d, (const uint8_t *)d + n);
	});
	vors_img_dsp_set_debug_log_id(LOG_VIDEO_MCTF, 1);
	img_dsp_debug_dump_all(&video, IMG_DSP_DEBUG_PRINT_FIELDS | IMG_DSP_DEBUG_WRITE_LOG);
	written.clear();
	img_dsp_video_mctf b = valid_mctf();
	b.y_curve.temporal_alpha2 = 77;
	img_dsp_internal_video_mctf in{};
	in.temporal_adjust_frames_combine_num2 = 3;
	StdoutCapture cap;
	ASSERT_EQ(vors_img_dsp_set_video_mctf(kFd, &video, &b), 0);
	size_t after_main = written.size();
	ASSERT_EQ(vors_img_dsp_set_internal_video_mctf(kFd, &video, &in), 0);
	std::string t = cap.text();
	vors_img_dsp_set_debug_log_id(LOG_VIDEO_MCTF, 0);
	img_dsp_debug_dump_all(&video, 0);
	vors_img_dsp_register_debug_log_writer(nullptr);
	EXPECT_NE(
	    t.find("[IK]enable 1\n[IK]remap_enable 0\n[IK]frame_brightness 0\n[IK]y_combine_strength 0\n"
	           "[IK]y_strength_3d 128\n"),
	    std::string::npos);
	EXPECT_NE(t.find("[IK]y temporal_alpha2 77\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]cr_temporal_either_max_change_or_t0_t1_add high 200\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]temporal_adjust_frames_combine_num2 3\n"), std::string::npos);
	/* the main block writes its record, the internal one only prints */
	ASSERT_EQ(after_main, 4u + 1u + 4u + 364u);
	EXPECT_EQ(written.size(), after_main);
	uint32_t id;
	memcpy(&id, written.data(), 4);
	EXPECT_EQ(id, (uint32_t)LOG_VIDEO_MCTF);
	EXPECT_EQ(0, memcmp(written.data() + 9, &b, sizeof(b)));
}

/* ---- temporal adjust ---- */

TEST_F(IkMctf, TemporalAdjust)
{
	img_dsp_video_mctf_temporal_adjust b{};
	b.edge_adjust_b = 100;
	b.edge_adjust_t = 2048;
	b.slow_mo_sensitivity = 12;
	b.lev_adjust_low = 255;
	b.lev_adjust_high = 0;
	b.lev_adjust_low_delta = 8;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust(kFd, &video, &b), IMG_DSP_CLAMPED);
	std::string t = cap.text();
	const std::string head = "[IK][Warning]img_dsp_core_check_set_video_mctf_temporal_adjust() ";
	EXPECT_TRUE(has_msg(t, head, "edge_adjust_t = 2048 should be within [0:2047] in "));
	EXPECT_TRUE(has_msg(t, head, "slow_mo_sensitivity = 12 should be within [0:11] in "));
	EXPECT_TRUE(has_msg(t, head, "lev_adjust_low_delta = 8 should be within [0:7] in "));
	EXPECT_EQ(t.find("lev_adjust_low ="), std::string::npos);
	EXPECT_EQ(t.find("lev_adjust_high ="), std::string::npos);
	EXPECT_EQ(b.edge_adjust_t, 2047);
	EXPECT_EQ(b.slow_mo_sensitivity, 11);
	img_dsp_video_mctf_temporal_adjust got{};
	ASSERT_EQ(vors_img_dsp_get_video_mctf_temporal_adjust(&video, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &b, sizeof(b)));
	EXPECT_TRUE(flag(IK_UPD_MCTF_TEMPORAL_ADJUST));
	/* the builder's flow section takes the edge margins */
	uint16_t edges[4];
	memcpy(edges, ik_sec_bytes(body()->sec, IK_SEC_MCTF) + IK_SECB_MCTF_EDGE_REDUCE, 8);
	EXPECT_EQ(edges[0], 100);
	EXPECT_EQ(edges[3], 2047);
}

TEST_F(IkMctf, TemporalAdjustChannels)
{
	struct {
		int (*set)(int, const img_dsp_mode *, img_dsp_video_mctf_temporal_adjust_y *);
		int (*get)(const img_dsp_mode *, img_dsp_video_mctf_temporal_adjust_y *);
		const char *check;
		unsigned flag;
	} members[] = {
	    {vors_img_dsp_set_video_mctf_temporal_adjust_y, vors_img_dsp_get_video_mctf_temporal_adjust_y,
	     "img_dsp_core_check_set_video_mctf_temporal_adjust_y", IK_UPD_MCTF_TEMPORAL_ADJUST_Y},
	    {vors_img_dsp_set_video_mctf_temporal_adjust_cb, vors_img_dsp_get_video_mctf_temporal_adjust_cb,
	     "img_dsp_core_check_set_video_mctf_temporal_adjust_cb", IK_UPD_MCTF_TEMPORAL_ADJUST_CB},
	    {vors_img_dsp_set_video_mctf_temporal_adjust_cr, vors_img_dsp_get_video_mctf_temporal_adjust_cr,
	     "img_dsp_core_check_set_video_mctf_temporal_adjust_cr", IK_UPD_MCTF_TEMPORAL_ADJUST_CR},
	};
	for (auto &m : members) {
		clear_flags();
		img_dsp_video_mctf_temporal_adjust_y b{16, 3, 20000, 4096, 5000};
		StdoutCapture cap;
		EXPECT_EQ(m.set(kFd, &video, &b), IMG_DSP_CLAMPED) << m.check;
		std::string t = cap.text();
		const std::string head = std::string("[IK][Warning]") + m.check + "() ";
		EXPECT_TRUE(has_msg(t, head, "max = 16 should be within [0:15] in ")) << m.check;
		EXPECT_TRUE(has_msg(t, head, "motion_response = 20000 should be within [0:16383] in "))
		    << m.check;
		EXPECT_TRUE(has_msg(t, head, "noise_base = 4096 should be within [0:4095] in ")) << m.check;
		EXPECT_TRUE(has_msg(t, head, "still_thresh = 5000 should be within [0:4095] in ")) << m.check;
		const img_dsp_video_mctf_temporal_adjust_y want{15, 3, 16383, 4095, 4095};
		EXPECT_EQ(0, memcmp(&b, &want, sizeof(b))) << m.check;
		img_dsp_video_mctf_temporal_adjust_y got{};
		ASSERT_EQ(m.get(&video, &got), 0);
		EXPECT_EQ(0, memcmp(&got, &want, sizeof(got))) << m.check;
		for (const auto &other : members)
			EXPECT_EQ(flag(other.flag), other.flag == m.flag) << m.check;
	}
	/* min above max is accepted */
	img_dsp_video_mctf_temporal_adjust_y b{2, 9, 1, 1, 1};
	EXPECT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust_y(kFd, &video, &b), 0);
}

/* ---- motion detection and MCTF-B ---- */

TEST_F(IkMctf, MotionDetect)
{
	struct {
		uint16_t response;
		uint8_t sensitivity, smooth;
		int rc;
		uint16_t want_response;
		uint8_t want_sensitivity, want_smooth;
	} cases[] = {
	    {0, 0, 0, IMG_DSP_CLAMPED, 1, 0, 0},
	    {2000, 9, 56, IMG_DSP_CLAMPED, 1023, 9, 56},
	    {1023, 10, 57, IMG_DSP_CLAMPED, 1023, 9, 56},
	    {1, 9, 56, 0, 1, 9, 56},
	};
	for (auto &c : cases) {
		clear_flags();
		img_dsp_motion_detect b{};
		b.lev_add[3] = -500;
		b.noise_base = 255;
		b.motion_response = c.response;
		b.slow_mo_sensitivity = c.sensitivity;
		b.smooth = c.smooth;
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_motion_detect(kFd, &video, &b), c.rc);
		std::string t = cap.text();
		EXPECT_EQ(b.motion_response, c.want_response);
		EXPECT_EQ(b.slow_mo_sensitivity, c.want_sensitivity);
		EXPECT_EQ(b.smooth, c.want_smooth);
		const std::string head = "[IK][Warning]img_dsp_core_check_set_motion_detect() ";
		const std::string response =
		    "motion_response = " + std::to_string(c.response) +
		    " should be within [1:1023] in img_dsp_core_process_motion_detect\n\n";
		EXPECT_EQ(has_msg(t, head, response), c.response != c.want_response);
		EXPECT_EQ(
		    has_msg(t, head,
		            "smooth = 57 should be within [0:56] in img_dsp_core_process_motion_detect\n\n"),
		    c.smooth == 57);
		img_dsp_motion_detect got{};
		ASSERT_EQ(vors_img_dsp_get_motion_detect(&video, &got), 0);
		EXPECT_EQ(0, memcmp(&got, &b, sizeof(b)));
		EXPECT_TRUE(flag(IK_UPD_MOTION_DETECT));
	}
}

TEST_F(IkMctf, InternalSwitches)
{
	img_dsp_internal_motion_detect imd{12, 3};
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_internal_motion_detect(kFd, &video, &imd), IMG_DSP_CLAMPED);
	EXPECT_EQ(cap.text(), "");
	EXPECT_EQ(imd.slow_mo_sensitivity2, 9);
	EXPECT_TRUE(flag(IK_UPD_INTERNAL_MCTF_FAST));
	clear_flags();
	uint8_t fast = 5, perf = 1;
	EXPECT_EQ(vors_img_dsp_set_internal_video_mctf_fast_start(kFd, &video, &fast), IMG_DSP_CLAMPED);
	EXPECT_TRUE(flag(IK_UPD_INTERNAL_MCTF_FAST));
	clear_flags();
	EXPECT_EQ(vors_img_dsp_set_internal_video_high_perf_mode(kFd, &video, &perf), 0);
	perf = 2;
	EXPECT_EQ(vors_img_dsp_set_internal_video_high_perf_mode(kFd, &video, &perf), IMG_DSP_CLAMPED);
	for (unsigned f = 0; f < 8 * IK_UPDATE_FLAG_BYTES; f++)
		EXPECT_FALSE(flag(f)) << f;
	/* what the builder reads, and the two bytes the getter gives back */
	const uint8_t *stored = body()->blk.internal_motion_detect;
	EXPECT_EQ(stored[IK_IMD_SLOW_MO_SENSITIVITY2], 9);
	EXPECT_EQ(stored[IK_IMD_PURE_MAX], 3);
	EXPECT_EQ(stored[IK_IMD_FAST_START], 5);
	EXPECT_EQ(stored[IK_IMD_HIGH_PERFORMANCE], 2);
	img_dsp_internal_motion_detect got{};
	ASSERT_EQ(vors_img_dsp_get_internal_motion_detect(&video, &got), 0);
	EXPECT_EQ(got.slow_mo_sensitivity2, 9);
	EXPECT_EQ(got.pure_max, 3);
}

TEST_F(IkMctf, MctfB)
{
	img_dsp_video_mctf_b b = valid_mctf_b();
	b.y_temporal.temporal_t0 = 70;
	b.y_temporal.temporal_t3 = 64;
	b.y_spat_smth_iso.method = 3;
	b.y_spat_smth_iso.high = 255;
	b.y_spat_smth_wide_edge_detect = 9;
	b.y_spat_smth_edge_thresh = 3000;
	b.y_strength_3d = 300;
	b.y_combine_strength = 257;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b(kFd, &video, &b), IMG_DSP_CLAMPED);
	std::string t = cap.text();
	const std::string head = "[IK][Warning]img_dsp_core_check_set_video_mctf_b() ";
	const std::string in = " in img_dsp_core_process_video_mctf_b\n\n";
	EXPECT_TRUE(has_msg(t, head, "y_temporal .temporal_t0 = 70 should be within [0:63]" + in));
	EXPECT_TRUE(has_msg(t, head, "y_temporal temporal_t3 = 64 should be within [0:63]" + in));
	EXPECT_TRUE(has_msg(t, kClisoWarn, "y_spat_smth_iso.high = 255 should be within [1:254]" + in));
	EXPECT_TRUE(has_msg(t, head, "y_spat_smth_wide_edge_detect = 9 should be within [0:8]" + in));
	EXPECT_TRUE(has_msg(t, head, "y_spat_smth_edge_thresh = 3000 should be within [0:2047]" + in));
	EXPECT_TRUE(has_msg(t, head, "y_strength_3d = 300 should be within [0:256]" + in));
	EXPECT_TRUE(has_msg(t, head, "y_combine_strength = 257 should be within [0:256]" + in));
	img_dsp_video_mctf_b got{};
	ASSERT_EQ(vors_img_dsp_get_video_mctf_b(&video, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &b, sizeof(b)));
	EXPECT_EQ(got.y_temporal.temporal_t0, 63);
	EXPECT_EQ(got.y_spat_smth_iso.high, 254);
	EXPECT_EQ(got.y_combine_strength, 256);
	EXPECT_TRUE(flag(IK_UPD_VIDEO_MCTF_B));

	/* a level record with method 1 refuses the block */
	clear_flags();
	img_dsp_video_mctf_b bad = valid_mctf_b();
	bad.y_overall_max_change.method = 1;
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b(kFd, &video, &bad), IMG_DSP_FAIL);
	EXPECT_FALSE(flag(IK_UPD_VIDEO_MCTF_B));
	ASSERT_EQ(vors_img_dsp_get_video_mctf_b(&video, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &b, sizeof(b)));
}

TEST_F(IkMctf, MctfBLevel)
{
	img_dsp_video_mctf_b_level b{2, {3, 10, 1, 0, 0, 100, 1, 0}};
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b_level(kFd, &video, &b), IMG_DSP_CLAMPED);
	EXPECT_TRUE(has_msg(cap.text(), "[IK][Warning]img_dsp_core_check_set_video_mctf_b_level() ",
	                    "y_temporal_max_change_not_t0_t1_level_based = 2 should be within [0:1] in "
	                    "img_dsp_core_process_video_mctf_b_level\n\n"));
	EXPECT_EQ(b.y_temporal_max_change_not_t0_t1_level_based, 1);
	EXPECT_TRUE(flag(IK_UPD_VIDEO_MCTF_B_LEVEL));
	clear_flags();
	img_dsp_video_mctf_b_level bad{0, {1, 10, 1, 0, 0, 100, 1, 0}};
	EXPECT_EQ(vors_img_dsp_set_video_mctf_b_level(kFd, &video, &bad), IMG_DSP_FAIL);
	EXPECT_FALSE(flag(IK_UPD_VIDEO_MCTF_B_LEVEL));
	img_dsp_video_mctf_b_level got{};
	ASSERT_EQ(vors_img_dsp_get_video_mctf_b_level(&video, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &b, sizeof(b)));
}

TEST_F(IkMctf, ClisoSettersServeOnlyTheVideoPipe)
{
	img_dsp_motion_detect md{};
	md.motion_response = 5;
	img_dsp_internal_motion_detect imd{};
	img_dsp_video_mctf_b b = valid_mctf_b();
	img_dsp_video_mctf_b_level level{0, {0, 0, 0, 0, 0, 10, 0, 0}};
	uint8_t fast = 1, perf = 1;
	struct {
		std::function<int()> call;
		const char *step;
	} cases[] = {
	    {[&] { return vors_img_dsp_set_motion_detect(kFd, &still, &md); },
	     "img_dsp_core_process_motion_detect"},
	    {[&] { return vors_img_dsp_set_internal_motion_detect(kFd, &still, &imd); },
	     "img_dsp_core_process_internal_motion_detect"},
	    {[&] { return vors_img_dsp_set_video_mctf_b(kFd, &still, &b); },
	     "img_dsp_core_process_video_mctf_b"},
	    {[&] { return vors_img_dsp_set_video_mctf_b_level(kFd, &still, &level); },
	     "img_dsp_core_process_video_mctf_b_level"},
	    {[&] { return vors_img_dsp_set_internal_video_mctf_fast_start(kFd, &still, &fast); },
	     "img_dsp_core_process_internal_video_mctf_fast_start"},
	    {[&] { return vors_img_dsp_set_internal_video_high_perf_mode(kFd, &still, &perf); },
	     "img_dsp_core_process_internal_video_high_perf_mode"},
	};
	for (auto &c : cases) {
		StdoutCapture cap;
		EXPECT_EQ(c.call(), IMG_DSP_FAIL) << c.step;
		EXPECT_TRUE(has_msg(cap.text(), std::string("[IK][Error]") + c.step + "() ",
		                    "dose not support pipe 1\n"))
		    << c.step;
	}
	for (unsigned f = 0; f < 8 * IK_UPDATE_FLAG_BYTES; f++)
		EXPECT_FALSE(flag(f)) << f;
	EXPECT_EQ(body()->blk.internal_motion_detect[IK_IMD_FAST_START], 0);
}

} // namespace

/* The low-ISO builder, its command queues and the posting of a
 * configuration, with flags and blocks written into a video context. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_liso.h"
#include "ik_post.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

constexpr int kFd = 5;

uint32_t rd32(const void *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

class IkPost : public IkFixture
{
      protected:
	/* One video context, `cfgs` configurations and as many HDR ones. */
	void up(uint8_t cfgs = 2, uint8_t hdr_cfgs = 2, uint8_t init_mode = 0)
	{
		bring_up({{0, 1, cfgs, hdr_cfgs, 0}}, 1, init_mode);
		img_dsp_ctx_id cid{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		for (uint8_t i = 0; i < cfgs; i++) {
			img_dsp_cfg_id id{0, i, {}};
			ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
		}
		img_dsp_mode m = mode(0, 0);
		img_dsp_size_info si{};
		si.width_in = 1920;
		si.height_in = 1080;
		si.main_out_width = 1920;
		si.main_out_height = 1080;
		ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
		RecordingIoctl::reset();
		RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	}
	ik_video_ctx *vctx()
	{
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return (ik_video_ctx *)c;
	}
	ik_ctx_body *body()
	{
		return &vctx()->body;
	}
	img_dsp_iso_cfg *cfg(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}
	uint8_t *tbl(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &c), 0);
		return (uint8_t *)c;
	}
	img_dsp_hdr_cfg *hdr(uint8_t id, uint8_t **blk = nullptr)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *c = nullptr, *t = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config(&cid, &c), 0);
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config_tbl(&cid, &t), 0);
		if (blk)
			*blk = (uint8_t *)t;
		return (img_dsp_hdr_cfg *)c;
	}
	void flag(unsigned f)
	{
		ik_flag_set(body()->update_flags, f);
	}
	int post(uint8_t id, uint32_t func = 0)
	{
		img_dsp_mode m = mode(0, 0, id);
		m.FuncMode = func;
		return vors_img_dsp_post_exe_cfg(kFd, &m);
	}
	int clone(uint8_t dst, uint8_t src)
	{
		img_dsp_cfg_id d{0, dst, {}}, s{0, src, {}};
		return vors_img_dsp_clone_iso_cfg(&d, &s);
	}
	qvd_multi_chan_cfg req(size_t i)
	{
		qvd_multi_chan_cfg r{};
		EXPECT_LT(i, RecordingIoctl::calls.size());
		memcpy(&r, RecordingIoctl::calls[i].payload.data(), sizeof(r));
		return r;
	}
	bool is_phys(uint32_t a)
	{
		return a >= region_->phys_addr() && a < region_->phys_addr() + region_->size();
	}
	uint8_t *user(uint32_t phys)
	{
		return region_->user() + (phys - region_->phys_addr());
	}
	ik_liso_main_basic &main(uint8_t id)
	{
		return cfg(id)->main.basic;
	}
	uint8_t *ce_queue(uint8_t id)
	{
		return user(cfg(id)->ce.contrast_enhancement_cmd_queue_daddr);
	}
};

/* ---- posting ---- */

TEST_F(IkPost, FirstPostSetsThenUpdates)
{
	up();
	flag(IK_UPD_WB_GAIN);
	StdoutCapture out;
	ASSERT_EQ(post(0), 0);
	ASSERT_EQ(RecordingIoctl::calls.size(), 3u);
	const uint64_t parts[3] = {(uint64_t)(uintptr_t)&cfg(0)->ce, (uint64_t)(uintptr_t)hdr(0),
	                           (uint64_t)(uintptr_t)cfg(0)->main.bytes};
	for (size_t i = 0; i < 3; i++) {
		EXPECT_EQ(RecordingIoctl::calls[i].fd, kFd);
		EXPECT_EQ(RecordingIoctl::calls[i].request, QVD_IOC_IMG_SET_MULTI_CHAN_CFG);
		qvd_multi_chan_cfg r = req(i);
		EXPECT_EQ(r.ctx_id, 0u);
		EXPECT_EQ(r.kind, 2u - i);
		EXPECT_EQ(r.addr, parts[i]);
		EXPECT_EQ(r.update_mask, i == 2 ? 0xFFFFFFFFu : 0u);
		EXPECT_EQ(r.reserved, 0u);
	}
	EXPECT_EQ(cfg(0)->prev_cfg, 0u);

	ASSERT_EQ(clone(1, 0), 0);
	RecordingIoctl::calls.clear();
	flag(IK_UPD_CC_REG);
	cfg(1)->update_mask |= 0xFFF80000u; /* bits the driver must never see */
	ASSERT_EQ(post(1), 0);
	ASSERT_EQ(RecordingIoctl::calls.size(), 3u);
	for (const auto &c : RecordingIoctl::calls)
		EXPECT_EQ(c.request, QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG);
	EXPECT_EQ(req(2).update_mask, cfg(1)->update_mask & 0x7FFFFu);
	EXPECT_NE(req(2).update_mask & IK_MASK_COLOR, 0u);
	EXPECT_EQ(cfg(1)->prev_cfg, region_->phys_of(cfg(0)));
	EXPECT_EQ(cfg(0)->next_cfg, region_->phys_of(cfg(1)));
}

TEST_F(IkPost, NonZeroInitModeUpdatesFromTheFirstPost)
{
	up(2, 2, IMG_DSP_INIT_MODE_NORMAL_VIDEO);
	ASSERT_EQ(post(0), 0);
	EXPECT_EQ(cfg(0)->prev_cfg, ~0ull);
	ASSERT_EQ(RecordingIoctl::calls.size(), 3u);
	EXPECT_EQ(RecordingIoctl::calls[0].request, QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG);
	EXPECT_EQ(req(2).update_mask, cfg(0)->update_mask & 0x7FFFFu);
}

TEST_F(IkPost, RequestSequences)
{
	struct Case {
		const char *what;
		uint8_t hdr_cfgs;
		uint32_t func;
		std::vector<int> answers;
		int rc;
		std::vector<uint32_t> kinds;
		const char *msg;
	} cases[] = {
	    {"with HDR part", 2, 0, {}, 0, {2, 1, 0}, nullptr},
	    {"FuncMode 8", 2, IMG_DSP_FUNC_NO_HDR, {}, 0, {2, 0}, nullptr},
	    {"no HDR configuration", 0, 0, {}, -1, {}, "p_hdr_cfg is NULL\n"},
	    {"kind 2 failing", 2, 0, {-1}, -1, {2}, "call ioctl QVD_IOC_IMG_SET_MULTI_CHAN_CFG fail\n"},
	    {"kind 1 failing", 2, 0, {0, -5}, -1, {2, 1}, "call ioctl QVD_IOC_IMG_SET_MULTI_CHAN_CFG fail\n"},
	    {"kind 0 failing", 2, IMG_DSP_FUNC_NO_HDR, {0, -1}, -1, {2, 0}, "call ioctl QVD_IOC_IMG_SET"},
	};
	for (const auto &c : cases) {
		up(2, c.hdr_cfgs);
		RecordingIoctl::answers = c.answers;
		StdoutCapture out;
		EXPECT_EQ(post(0, c.func), c.rc) << c.what;
		std::string t = out.text();
		ASSERT_EQ(RecordingIoctl::calls.size(), c.kinds.size()) << c.what;
		for (size_t i = 0; i < c.kinds.size(); i++)
			EXPECT_EQ(req(i).kind, c.kinds[i]) << c.what;
		if (c.msg) {
			EXPECT_NE(t.find(c.msg), std::string::npos) << c.what;
			EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_low_iso_post_exe_cfg() ",
			                    "call img_dsp_low_iso_send_cfg_to_dsp fail\n"))
			    << c.what;
		}
		TearDown();
	}
}

TEST_F(IkPost, TableFieldsArePhysicalAndStayAcrossPosts)
{
	up();
	flag(IK_UPD_VIGNETTE);
	ASSERT_EQ(post(0), 0);
	ik_liso_main_basic before = main(0);
	const uint32_t fields[] = {before.common.vignette_gain,
	                           before.color.gain_curve_table_addr,
	                           before.color.gain_curver_addr,
	                           before.color.cc_reg,
	                           before.color.cc_3d,
	                           before.color.cc_out,
	                           before.liso.dark_pixel_threshold,
	                           before.liso.hot_pixel_threshold,
	                           before.liso.chroma_median_k_table,
	                           before.flow.video_mctf,
	                           before.flow.final_sharpen,
	                           before.liso.batch_cmd_queue_daddr};
	for (uint32_t f : fields)
		EXPECT_TRUE(is_phys(f)) << std::hex << f;
	EXPECT_TRUE(is_phys(cfg(0)->ce.contrast_enhancement_cmd_queue_daddr));
	const uint8_t *q = ce_queue(0);
	EXPECT_TRUE(is_phys(rd32(q + 3 * 128 + 20)));
	EXPECT_TRUE(is_phys(rd32(q + 4 * 128 + 12)));
	EXPECT_TRUE(is_phys(rd32(q + 6 * 128 + 36)));
	ASSERT_EQ(post(0), 0);
	const ik_liso_main_basic &after = main(0);
	const uint32_t again[] = {after.common.vignette_gain,
	                          after.color.gain_curve_table_addr,
	                          after.color.gain_curver_addr,
	                          after.color.cc_reg,
	                          after.color.cc_3d,
	                          after.color.cc_out,
	                          after.liso.dark_pixel_threshold,
	                          after.liso.hot_pixel_threshold,
	                          after.liso.chroma_median_k_table,
	                          after.flow.video_mctf,
	                          after.flow.final_sharpen,
	                          after.liso.batch_cmd_queue_daddr};
	for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); i++)
		EXPECT_EQ(again[i], fields[i]) << "a second post changes no table field: " << i;
}

TEST_F(IkPost, StillPipeIsRefusedBeforeAnythingChanges)
{
	bring_up({{0, 1, 2, 2, 0}, {1, 1, 1, 0, 0}});
	img_dsp_ctx_id cid{1, 0, {}};
	ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
	img_dsp_cfg_id id{1, 0, {}};
	ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
	void *c = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
	ik_still_ctx *s = (ik_still_ctx *)c;
	ik_flag_set(s->body.update_flags, IK_UPD_WB_GAIN);
	RecordingIoctl::reset();
	img_dsp_mode m = mode(1, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_post_exe_cfg(kFd, &m), -1);
	std::string t = out.text();
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]img_dsp_core_low_iso_post_exe_cfg() ", "does not support pipe 1\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_low_iso_post_exe_cfg() ",
	                    "State 1 != DSP_IMG_CORE_CFG_STATE_POSTEXE\n"));
	EXPECT_TRUE(RecordingIoctl::calls.empty());
	EXPECT_TRUE(ik_flag_test(s->body.update_flags, IK_UPD_WB_GAIN));
	EXPECT_EQ(s->head.last_iso_cfg, 0u);
}

/* ---- the builder ---- */

TEST_F(IkPost, FirstPostSetsEveryComparableBit)
{
	up();
	flag(IK_UPD_VIDEO_MCTF);
	ASSERT_EQ(post(0), 0);
	const ik_liso_main_basic &m = main(0);
	EXPECT_EQ(m.color.update_all & IK_COLOR_UPDATE_COMPARABLE, IK_COLOR_UPDATE_COMPARABLE);
	EXPECT_EQ(m.liso.update_flags & 0x83u, 0x83u) << "DBP hot, dark and chroma median";
	EXPECT_EQ(m.flow.update_masks & 0xFFFFu, 0xC381u);
	EXPECT_EQ(cfg(0)->state, DSP_IMG_CORE_CFG_STATE_POSTEXE);
	EXPECT_EQ(m.share.adv_mode, 0u);
	for (unsigned i = 544; i < 616; i++)
		EXPECT_EQ(cfg(0)->main.bytes[i], 0) << "basic layout byte " << i;
	for (unsigned i = 0; i < IK_UPDATE_FLAG_BYTES; i++)
		EXPECT_EQ(body()->update_flags[i], 0) << i;
}

TEST_F(IkPost, UnchangedRebuildMovesOnlyTheContrastEnhancementQueue)
{
	up(3, 3);
	ASSERT_EQ(post(0), 0);
	uint8_t sel_before[IK_TABLE_SLOTS];
	memcpy(sel_before, body()->cfg_tbl_status, IK_TABLE_SLOTS);
	ASSERT_EQ(clone(1, 0), 0);
	ASSERT_EQ(post(1), 0);
	for (unsigned s = 0; s < IK_TABLE_SLOTS; s++) {
		if (s == 23)
			EXPECT_NE(body()->cfg_tbl_status[s], sel_before[s]);
		else
			EXPECT_EQ(body()->cfg_tbl_status[s], sel_before[s]) << "slot " << s;
	}
	const ik_liso_main_basic &a = main(0), &b = main(1);
	EXPECT_EQ(a.color.cc_reg, b.color.cc_reg);
	EXPECT_EQ(a.color.cc_3d, b.color.cc_3d);
	EXPECT_EQ(a.liso.hot_pixel_threshold, b.liso.hot_pixel_threshold);
	EXPECT_EQ(a.flow.video_mctf, b.flow.video_mctf);
	EXPECT_NE(cfg(0)->ce.contrast_enhancement_cmd_queue_daddr,
	          cfg(1)->ce.contrast_enhancement_cmd_queue_daddr);
	EXPECT_EQ(b.color.update_all & IK_COLOR_UPDATE_COMPARABLE, 0u);
	EXPECT_EQ(b.liso.update_flags & 0x83u, 0u);
	EXPECT_EQ(b.liso.sharpen.flags & (IK_SHP_UPDATE_FIR1 | IK_SHP_UPDATE_FIR2 | IK_SHP_UPDATE_CORING),
	          0u);
}

TEST_F(IkPost, ChangedTableAlternatesBetweenTheRingBlocks)
{
	up(2, 2);
	/* initialising both configurations left every selector on block 1 */
	ASSERT_EQ(body()->cfg_tbl_status[4], 1);
	std::vector<uint32_t> seen;
	for (int frame = 0; frame < 4; frame++) {
		uint8_t id = (uint8_t)(frame % 2);
		if (frame > 0) {
			ASSERT_EQ(clone(id, (uint8_t)(1 - id)), 0);
		}
		flag(IK_UPD_CC_REG);
		uint8_t *src = user(body()->sec[IK_SEC_CC].word[IK_SECW_CC_REG]);
		src[0] = (uint8_t)(frame + 1);
		ASSERT_EQ(post(id), 0);
		seen.push_back(main(id).color.cc_reg);
		EXPECT_EQ(user(main(id).color.cc_reg)[0], frame + 1);
		if (frame > 0) {
			EXPECT_NE(main(id).color.update_all & IK_COLOR_UPDATE_CC_REG, 0u);
		}
	}
	EXPECT_NE(seen[0], seen[1]);
	EXPECT_EQ(seen[0], seen[2]);
	EXPECT_EQ(seen[1], seen[3]);
	EXPECT_EQ(seen[0], region_->phys_of(tbl(0)) + IK_TBL_CC_REG)
	    << "the first change moves to the next block";
}

TEST_F(IkPost, FlagsToSectionMaskBits)
{
	struct Case {
		unsigned flag;
		uint32_t mask;
	} cases[] = {
	    {IK_UPD_VIN_SENSOR_INFO, IK_MASK_COMMON | IK_MASK_FLOW_2},
	    {IK_UPD_VIGNETTE, IK_MASK_COMMON},
	    {IK_UPD_COLOR_CORRECTION, IK_MASK_COLOR | IK_MASK_FLOW | IK_MASK_FLOW_2},
	    {IK_UPD_CC_REG, IK_MASK_COLOR},
	    {IK_UPD_DBP, IK_MASK_LISO},
	    {IK_UPD_WB_GAIN, IK_MASK_COLOR},
	    {IK_UPD_TONE_CURVE, IK_MASK_COLOR | IK_MASK_FLOW | IK_MASK_FLOW_2},
	    {IK_UPD_CHROMA_FILTER, IK_MASK_COMMON | IK_MASK_LISO | IK_MASK_FLOW_2},
	    {IK_UPD_AAA_STATISTICS, IK_MASK_COLOR | IK_MASK_LISO | IK_MASK_AAA},
	    {IK_UPD_AAA_AF_STATISTICS_EX, IK_MASK_LISO | IK_MASK_AAA},
	    {IK_UPD_FIRST_SHP_NOISE, IK_MASK_LISO},
	    {IK_UPD_FINAL_SHP_BOTH, IK_MASK_FLOW | IK_MASK_FLOW_2},
	    {IK_UPD_VARIABLE_RANGE, IK_MASK_COMMON | IK_MASK_LISO},
	    {IK_UPD_CONTRAST_ENHANCE, 0},
	};
	for (const auto &c : cases) {
		up();
		flag(c.flag);
		ASSERT_EQ(post(0, IMG_DSP_FUNC_NO_HDR), 0);
		EXPECT_EQ(cfg(0)->update_mask, c.mask) << "flag " << c.flag / 8 << "." << c.flag % 8;
		TearDown();
	}
}

TEST_F(IkPost, NoHdrPartKeepsTheFlagsAHdrPartNeeds)
{
	up();
	const unsigned kept[] = {IK_UPD_VIGNETTE, IK_UPD_BLACK_LEVEL, IK_UPD_WB_GAIN, IK_UPD_HDR_VIGNETTE};
	for (unsigned f : kept)
		flag(f);
	flag(IK_UPD_CC_REG);
	ASSERT_EQ(post(0, IMG_DSP_FUNC_NO_HDR), 0);
	for (unsigned f : kept)
		EXPECT_TRUE(ik_flag_test(body()->update_flags, f)) << f;
	EXPECT_FALSE(ik_flag_test(body()->update_flags, IK_UPD_CC_REG));
}

TEST_F(IkPost, RefusedRunsTouchNothing)
{
	struct Case {
		const char *what;
		uint32_t state, algo, func;
		bool adv;
		const char *msg;
	} cases[] = {
	    {"state 0", 0, 1, 0, false, "State 0 != DSP_IMG_CORE_CFG_STATE_INIT"},
	    {"state 4", 4, 1, 0, false, "State 4 != DSP_IMG_CORE_CFG_STATE_INIT"},
	    {"AlgoMode 2", 1, 2, 0, false, "AlgoMode 2 != DSP_IMG_CORE_ALGO_MODE_LISO\n"},
	    {"CLISO with the advanced layout", 1, 1, IMG_DSP_FUNC_CLISO, true,
	     "CLISO does not support yuv2yuv\n"},
	};
	for (const auto &c : cases) {
		up();
		cfg(0)->state = c.state;
		cfg(0)->AlgoMode = c.algo;
		body()->blk.liso_process_select[1] = c.adv ? 4 : 0;
		flag(IK_UPD_WB_GAIN);
		img_dsp_iso_cfg before = *cfg(0);
		uint8_t flags_before[IK_UPDATE_FLAG_BYTES];
		memcpy(flags_before, body()->update_flags, sizeof(flags_before));
		img_dsp_mode m = mode(0, 0, 0);
		m.FuncMode = c.func;
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_low_iso_post_exe_cfg(&m), -1) << c.what;
		EXPECT_NE(out.text().find(c.msg), std::string::npos) << c.what;
		EXPECT_EQ(memcmp(&before, cfg(0), sizeof(before)), 0) << c.what;
		EXPECT_EQ(memcmp(flags_before, body()->update_flags, sizeof(flags_before)), 0) << c.what;
		EXPECT_EQ(vctx()->head.last_iso_cfg, 0u) << c.what;
		TearDown();
	}
}

TEST_F(IkPost, FailedRunKeepsPendingChanges)
{
	up();
	flag(IK_UPD_WB_GAIN);
	body()->cfg_tbl_status[4] = 200; /* a selector no block answers to */
	StdoutCapture out;
	EXPECT_EQ(post(0), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_low_iso_post_exe_cfg() ", "post execute fail\n"));
	EXPECT_TRUE(RecordingIoctl::calls.empty());
	EXPECT_NE(cfg(0)->state, DSP_IMG_CORE_CFG_STATE_POSTEXE);
	EXPECT_TRUE(ik_flag_test(body()->update_flags, IK_UPD_WB_GAIN)) << "the change is still pending";
}

TEST_F(IkPost, ColorTakesTheSaturationSectionAndGains)
{
	up();
	uint32_t *sat = body()->sec[IK_SEC_DGAIN_SATURATION].word;
	sat[1] = 0x12345;
	sat[2] = 1000;
	sat[3] = 2000;
	sat[4] = 3000;
	uint32_t *wb = body()->sec[IK_SEC_WB_GAIN].word;
	wb[1] = 5000;
	wb[4] = 6000;
	flag(IK_UPD_DGAIN_SATURATION);
	flag(IK_UPD_WB_GAIN);
	ASSERT_EQ(post(0), 0);
	const ik_liso_color &c = main(0).color;
	EXPECT_EQ(c.wb_saturation_level_red, 0x2345u);
	EXPECT_EQ(c.wb_saturation_level_green_even, 1000u);
	EXPECT_EQ(c.wb_saturation_level_green_odd, 2000u);
	EXPECT_EQ(c.wb_saturation_level_blue, 3000u);
	EXPECT_EQ(c.r_gain, 5000u);
	EXPECT_EQ(c.b_gain, 6000u);
	EXPECT_NE(c.update_all & IK_COLOR_UPDATE_WB_GAIN, 0u);
}

/* ---- queues ---- */

TEST_F(IkPost, ContrastEnhancementPartAndQueue)
{
	up();
	uint8_t *ce = body()->blk.contrast_enhance;
	ce[0] = 1; /* enabled, radius 0: the internal factors, all 1 */
	memset(body()->blk.contrast_enhance_decimation, 1, 3);
	ce[2] = 3;
	for (unsigned i = 0; i < 4; i++)
		ce[3 + i] = (uint8_t)(10 + i);
	ce[7] = 1;
	ce[8] = 20;
	ce[9] = 21;
	ce[10] = 22;
	for (unsigned i = 11; i <= 26; i++)
		ce[i] = (uint8_t)(100 + i);
	for (unsigned i = 0; i < 64; i++)
		ce[27 + i] = (uint8_t)(0xC0 | i);
	ce[91] = 1;
	ce[92] = 2;
	for (unsigned i = 0; i < 512; i++)
		ce[94 + i] = (uint8_t)i;
	StdoutCapture out;
	ASSERT_EQ(post(0), 0);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]ce_factors() ",
	                    "invalid factor check_limit 1920 = (width_in 1920) / (1 x 1 x 1)\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]ce_factors() ", "Clamped Setting: 8 4 1\n"));
	const uint8_t *part = (const uint8_t *)&cfg(0)->ce;
	EXPECT_EQ(part[4], 0x48);
	EXPECT_EQ(part[5], 0xF1);
	EXPECT_EQ(part[6], 0x0F);
	EXPECT_EQ(part[7], 0x00);

	const uint8_t *q = ce_queue(0);
	const uint32_t codes[8] = {0x9002010, 0x9002011, 0x9002013, 0x9002014,
	                           0x9002015, 0x900200f, 0x9002012, 0x9006004};
	for (unsigned s = 0; s < 8; s++)
		EXPECT_EQ(rd32(q + s * 128), codes[s]) << "slot " << s;
	const uint8_t weights[5] = {10, 11, 12, 13, 3};
	EXPECT_EQ(memcmp(q + 4, weights, 5), 0);
	EXPECT_EQ(rd32(q + 2 * 128 + 4), 1u);
	EXPECT_EQ(rd32(q + 2 * 128 + 8), 20u);
	EXPECT_EQ(rd32(q + 2 * 128 + 16), 22u);
	/* coring remap: command bytes 4-19 from block bytes 11, 14, 15, 18, ... */
	const uint8_t order[16] = {11, 14, 15, 18, 12, 16, 13, 17, 19, 22, 23, 26, 20, 24, 21, 25};
	for (unsigned i = 0; i < 16; i++)
		EXPECT_EQ(q[3 * 128 + 4 + i], 100 + order[i]) << i;
	const uint8_t *coring = user(rd32(q + 3 * 128 + 20));
	uint16_t pair;
	memcpy(&pair, coring + 2 * 5, 2);
	EXPECT_EQ(pair & 0xFFFu, 10u | (11u << 6)) << "entries 10 and 11, low six bits each";
	EXPECT_EQ(rd32(q + 4 * 128 + 4), 1u);
	EXPECT_EQ(rd32(q + 4 * 128 + 8), 2u);
	EXPECT_EQ(memcmp(user(rd32(q + 4 * 128 + 12)), ce + 94, 512), 0);
	const uint32_t vdec[4] = {8, 4, 1, 0};
	EXPECT_EQ(memcmp(q + 5 * 128 + 4, vdec, 16), 0);
	EXPECT_EQ(q[5 * 128 + 20] | q[5 * 128 + 21] << 8, 1080);
	EXPECT_EQ(q[5 * 128 + 22], 1);
	EXPECT_EQ(q[5 * 128 + 24], 1);
	const uint32_t ups[9] = {0x9002012, 1920, 1080, 32, 32, 0, 0, 0, 0};
	EXPECT_EQ(memcmp(q + 6 * 128, ups, sizeof(ups)), 0);
	const int8_t first_phase[8] = {0x1e, 0x44, 0x1e, 0x00, 0x1d, 0x44, 0x1e, 0x01};
	EXPECT_EQ(memcmp(user(rd32(q + 6 * 128 + 36)), first_phase, 8), 0);
	for (unsigned i = 7 * 128 + 4; i < 1280; i++)
		ASSERT_EQ(q[i], 0) << "byte " << i << " after the end command";
}

TEST_F(IkPost, DiagCase103PicksTheSecondUpsamplingTable)
{
	up();
	img_dsp_mode m = mode(0, 0);
	ASSERT_EQ(vors_img_dsp_set_diag_case_id(&m, 103), 0);
	ASSERT_EQ(post(0), 0);
	const int8_t second[8] = {0x00, 0x7f, 0x01, 0x00, -1, 0x7f, 0x02, 0x00};
	EXPECT_EQ(memcmp(user(rd32(ce_queue(0) + 6 * 128 + 36)), second, 8), 0);
	EXPECT_EQ(main(0).share.diag_case_id, 103);
	for (unsigned p = 0; p < 64; p++) {
		int sum = 0;
		for (unsigned k = 0; k < 4; k++)
			sum += ik_ce_upsamp_coeff[1][4 * p + k];
		EXPECT_EQ(sum, 128) << "phase " << p;
	}
}

TEST_F(IkPost, BatchQueue)
{
	up();
	ASSERT_EQ(post(0, IMG_DSP_FUNC_NO_HDR), 0);
	EXPECT_EQ(main(0).liso.batch_cmd_queue_size, 0u) << "nothing pending: empty";
	EXPECT_EQ(main(0).liso.batch_cmd_queue_daddr, region_->phys_of(tbl(0)));
	EXPECT_NE(main(0).liso.use_flags & IK_LISO_USE_BATCH, 0u);

	ASSERT_EQ(clone(1, 0), 0);
	body()->blk.wb_gain = img_dsp_wb_gain{8192, 4096, 6144, 4096, 4096};
	body()->blk.early_wb_mode = 1;
	flag(IK_UPD_WB_GAIN);
	ASSERT_EQ(post(1), 0);
	const uint8_t *q = tbl(1);
	const uint32_t want[10] = {0x9004007, 0x8000,  0x10000, 0x10000, 0xAAAA,
	                           0,         0x10000, 0x10000, 0x10000, 0x10000};
	for (unsigned w = 0; w < 10; w++)
		EXPECT_EQ(rd32(q + 4 * w), want[w]) << "word " << w;
	EXPECT_EQ(main(1).liso.batch_cmd_queue_size, 128u);
}

TEST_F(IkPost, BatchQueueTakesPendingStatisticsCommands)
{
	up();
	body()->blk.early_wb_mode = 2;
	body()->blk.early_wb_offset[0] = 7;
	body()->blk.wb_gain = img_dsp_wb_gain{4096, 0, 4096, 4096, 4096};
	flag(IK_UPD_EARLY_WB);
	for (unsigned s = 0; s < 6; s++)
		body()->blk.aaa.cmd[s].word[0] = 0x9004000u + s;
	flag(IK_UPD_AAA_HISTOGRAM);
	flag(IK_UPD_AAA_STATISTICS);
	ASSERT_EQ(post(0), 0);
	const uint8_t *q = tbl(0);
	EXPECT_EQ(rd32(q), 0x9004007u);
	EXPECT_EQ(rd32(q + 4), 0x10000u);
	EXPECT_EQ(q[20], 7);
	EXPECT_EQ(rd32(q + 24), 0x10000u);
	EXPECT_EQ(rd32(q + 28), 0u) << "a zero green gain has a zero reciprocal";
	EXPECT_EQ(rd32(q + 128), 0x9004000u + IK_AAA_CMD_STATISTICS);
	EXPECT_EQ(rd32(q + 256), 0x9004000u + IK_AAA_CMD_HISTOGRAM);
	EXPECT_EQ(main(0).liso.batch_cmd_queue_size, 384u);
}

TEST_F(IkPost, SingleExposureHdrPart)
{
	up();
	uint8_t *blk = nullptr;
	img_dsp_hdr_cfg *h = hdr(0, &blk);
	h->flags = 0xFC00u | 0x3FFu;
	body()->sec[IK_SEC_BLACK_LEVEL].word[1] = 0x55;
	flag(IK_UPD_BLACK_LEVEL);
	flag(IK_UPD_WB_GAIN);
	flag(IK_UPD_HDR_VIGNETTE);
	ASSERT_EQ(post(0), 0);
	EXPECT_EQ(h->flags & 0xFFFFu, 0xFC81u);
	uint32_t base = region_->phys_of(blk);
	EXPECT_EQ(rd32((uint8_t *)h + 28), base + 3072);
	EXPECT_EQ(rd32((uint8_t *)h + 32), base + 6144);
	const uint8_t *q1 = blk + 3072, *q2 = blk + 6144;
	EXPECT_EQ(rd32(q1), 0x9002001u);
	EXPECT_EQ(rd32(q1 + 4), 0x55u);
	EXPECT_EQ(rd32(q1 + 128), 0x9002019u);
	EXPECT_EQ(rd32(q1 + 132), 4096u);
	EXPECT_EQ(rd32(q1 + 148), 0u) << "no RGB-IR: the HDR gains stay 0";
	EXPECT_EQ(rd32(q1 + 256), 0x9002016u);
	for (unsigned k = 0; k < 4; k++)
		EXPECT_EQ(rd32(q1 + 256 + 8 + 4 * k), base + 48000 + 2208 * k) << "physical after the post";
	EXPECT_EQ(rd32(q1 + 384), 0x9006004u);
	EXPECT_EQ(rd32(q2), 0x9002001u);
	EXPECT_EQ(rd32(q2 + 128), 0x9006004u);
	EXPECT_EQ(vctx()->head.last_hdr_cfg, region_->phys_of(h));
}

TEST_F(IkPost, SingleExposureHdrPartLinearisesRgbIr)
{
	up();
	uint8_t *blk = nullptr;
	hdr(0, &blk);
	img_dsp_mode m = mode(0, 0);
	img_dsp_rgb_ir ir{1, 0, 512};
	ASSERT_EQ(vors_img_dsp_set_rgb_ir(1, &m, &ir), 0);
	body()->blk.wb_gain.GainR = 8192;
	ASSERT_EQ(post(0), 0);
	const uint8_t *amp = blk + 3072;
	ASSERT_EQ(rd32(amp), 0x9001003u);
	EXPECT_EQ(std::vector<uint8_t>(amp + 4, amp + 12), (std::vector<uint8_t>{0, 1, 1, 1, 0, 1, 0, 0}));
	uint16_t w;
	memcpy(&w, amp + 26 + 2, 2);
	EXPECT_EQ((w >> 6) & 7u, 4u) << "red's last group";
	const uint8_t *red = blk + 21120;
	EXPECT_EQ(rd32(amp + 56), region_->phys_of(red));
	uint32_t e352 = (red[528] | (uint32_t)red[529] << 8) & 0xFFFu;
	EXPECT_EQ(e352, 36513u >> 4);
	EXPECT_EQ(rd32(amp + 128), 0x9006004u);
}

/* Mode 0 is off, whatever fractional correction the block carries. */
TEST_F(IkPost, SingleExposureHdrPartWithoutRgbIrMode)
{
	up();
	uint8_t *blk = nullptr;
	hdr(0, &blk);
	img_dsp_mode m = mode(0, 0);
	img_dsp_rgb_ir ir{0, 0, 1000};
	ASSERT_EQ(vors_img_dsp_set_rgb_ir(1, &m, &ir), 0);
	flag(IK_UPD_WB_GAIN);
	ASSERT_EQ(post(0), 0);
	const uint8_t *q1 = blk + 3072;
	ASSERT_EQ(rd32(q1), 0x9002019u);
	EXPECT_EQ(rd32(q1 + 20), 0u) << "no RGB-IR: the HDR gains stay 0";
	EXPECT_EQ(rd32(q1 + 128), 0x9006004u) << "no linearisation command";
}

/* ---- the queue walker ---- */

TEST_F(IkPost, QueueOutsideTheRegionIsSkipped)
{
	up();
	img_dsp_hdr_cfg *h = hdr(0);
	memset(h, 0, sizeof(*h));
	h->blend_cmds_daddr[0][0] = 0x10;
	h->blend_cmds_daddr[1][0] =
	    region_->phys_of(region_->user() + region_->size() - 512); /* runs past the end */
	img_dsp_mode m = mode(0, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_hdr_cfg_use_physical_tbl_addr(&m), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_hdr_cfg_use_physical_tbl_addr() ",
	                    "command queue 0x10 of 1024 bytes lies outside the region\n"));
	EXPECT_NE(t.find("lies outside the region", t.find("0x10 of") + 10), std::string::npos);
}

} // namespace

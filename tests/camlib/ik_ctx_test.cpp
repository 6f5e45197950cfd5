/* Contexts and configurations: defaults, init modes, clone, history,
 * configuration init, status, tags and size information. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_helpers.h"
#include "ik_hiso.h"
#include "ik_liso.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

class IkCtx : public IkFixture
{
      protected:
	void *ctx(uint32_t pipe, uint8_t id)
	{
		img_dsp_ctx_id cid{pipe, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return c;
	}
	img_dsp_iso_cfg *cfg(uint32_t pipe, uint8_t id)
	{
		img_dsp_cfg_id cid{pipe, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}
	uint8_t *cfg_tbl(uint32_t pipe, uint8_t id)
	{
		img_dsp_cfg_id cid{pipe, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &c), 0);
		return (uint8_t *)c;
	}
	int init_ctx(uint32_t pipe, uint8_t id, uint8_t defblc = 0, uint8_t src = 0)
	{
		img_dsp_ctx_id cid{pipe, id, {}};
		img_dsp_ctx_id sid{pipe, src, {}};
		return vors_img_dsp_init_ctx(defblc, &cid, &sid);
	}
	int init_cfg(uint32_t pipe, uint8_t id, uint32_t algo)
	{
		img_dsp_cfg_id cid{pipe, id, {}};
		return vors_img_dsp_init_cfg(&cid, algo);
	}
	uint32_t phys(const void *p)
	{
		return region_->phys_of(p);
	}
};

template <typename T> uint16_t u16_at(const T *base, size_t off)
{
	uint16_t v;
	memcpy(&v, (const uint8_t *)base + off, 2);
	return v;
}

TEST_F(IkCtx, VideoContextDefaults)
{
	bring_up({{0, 1, 2, 1, 0}});
	ASSERT_EQ(init_ctx(0, 0, 5), 0);
	ik_video_ctx *c = (ik_video_ctx *)ctx(0, 0);
	const ik_filter_blocks &b = c->body.blk;
	EXPECT_EQ(c->head.state, IK_CTX_STATE_INIT);
	EXPECT_EQ(c->head.active_iso_cfg, 255);
	EXPECT_EQ(c->head.active_hdr_cfg, 255);
	EXPECT_EQ(c->body.blk.deferred_black_level[0], 1) << "any non-zero enable is stored as 1";
	for (uint8_t s : c->body.cfg_tbl_status)
		ASSERT_EQ(s, 0xFF);
	for (uint8_t s : c->body.hdr_cfg_tbl_status)
		ASSERT_EQ(s, 0xFF);

	/* Statistics set-up: AWB 32 x 32 tiles of 128, AE and AF 12 x 8 of 340 x 512. */
	EXPECT_EQ(b.aaa.awb.num_col, 32);
	EXPECT_EQ(b.aaa.awb.active_height, 128);
	EXPECT_EQ(b.aaa.awb.pix_max_value, 16383u);
	EXPECT_EQ(b.aaa.ae.num_row, 8);
	EXPECT_EQ(b.aaa.ae.width, 340);
	EXPECT_EQ(b.aaa.ae.pix_max_value, 16383);
	EXPECT_EQ(b.aaa.af.active_width, 340);
	EXPECT_EQ(b.aaa.af.active_height, 512);
	EXPECT_EQ(b.aaa.stat_info.awb_pix_max_value, 16383);
	EXPECT_EQ(b.aaa.stat_info.ae.height, 512);

	EXPECT_EQ(b.wb_gain.GainR, 4096u);
	EXPECT_EQ(b.wb_gain.GlobalDGain, 4096u);
	EXPECT_EQ(b.wb_derived_gain[3], 4096u);
	EXPECT_EQ(b.dgain_saturation_level.LevelGreenOdd, 16383u);
	const int16_t mat[9] = {187, 629, 63, -103, -346, 450, 450, -409, -41};
	EXPECT_EQ(0, memcmp(b.rgb_to_yuv_matrix.MatrixValues, mat, sizeof(mat)));
	EXPECT_EQ(b.rgb_to_yuv_matrix.YOffset, 16);
	EXPECT_EQ(b.rgb_to_yuv_matrix.VOffset, 128);
	EXPECT_EQ(b.chroma_filter.Radius, 32);
	EXPECT_EQ(b.chroma_filter.Enable, 0);
	EXPECT_EQ(b.variable_range.max_chroma_radius, 128);
	EXPECT_EQ(b.variable_range.inside_fpn_flag, 0);

	const uint8_t level[7] = {10, 1, 16, 16, 20, 1, 16};
	EXPECT_EQ(0, memcmp(&b.first_sharpen.min_coring_result, level, 7));
	EXPECT_EQ(0, memcmp(&b.final_sharpen.coring_index_scale, level, 7));
	EXPECT_EQ(b.final_sharpen.coring_index_scale.method, 0);
	EXPECT_EQ(b.first_sharpen.max_coring_result.low, 0) << "other levels stay zero";
	EXPECT_EQ(b.first_sharpen.sharpen_coring.coring[0], 8);
	EXPECT_EQ(b.first_sharpen.sharpen_coring.coring[255], 8);
	EXPECT_EQ(b.first_sharpen.sharpen_coring.coring_mul_fractional_bits, 0);
	EXPECT_EQ(b.final_sharpen.sharpen_coring.coring[128], 8);
	EXPECT_EQ(b.demosaic_internal.enable, 1);
	for (const auto &t : b.hdr.hds_thresh)
		for (uint16_t v : t.saturation_threshold)
			ASSERT_EQ(v, 0xFFFF);
	EXPECT_EQ(b.hdr.thresh[0].saturation_threshold[0], 0) << "only the HDS thresholds are unset";
	EXPECT_EQ(c->body.size_level_low, 1);
	EXPECT_EQ(c->body.size_level_high, 31);
	EXPECT_EQ(0, memcmp(b.chroma_median_weight, img_dsp_chroma_median_weight_default, 144));
	EXPECT_EQ(b.chroma_median_weight[36 + 3], 5);
	EXPECT_EQ(b.chroma_median_weight[108 + 35], 31);

	/* The buffer block: cleared, then the strength table of level 32. */
	uint8_t *buf = (uint8_t *)(uintptr_t)c->head.buf[0];
	const uint8_t *alpha = buf + IK_VBUF_SHPA_ALPHA;
	EXPECT_EQ(alpha[0], 32);
	EXPECT_EQ(alpha[1], 0);
	EXPECT_EQ(alpha[252], 32);
	EXPECT_EQ(alpha[256], 32);
	EXPECT_EQ(alpha[508], 32);
	EXPECT_EQ(alpha[512], 0);

	/* Section images carry their codes and the physical table addresses. */
	EXPECT_EQ(c->body.sec[IK_SEC_BLACK_LEVEL].word[0], 0x09002001u);
	const ik_cmd_image &cm = c->body.sec[IK_SEC_CHROMA_MEDIAN];
	EXPECT_EQ(cm.word[2], phys(buf + IK_VBUF_CHROMA_MEDIAN_K));
	EXPECT_EQ(u16_at(&cm, 12), 33);
	EXPECT_EQ(u16_at(&cm, 26), 130);
	const ik_cmd_image &cf = c->body.sec[IK_SEC_CHROMA_FILTER];
	EXPECT_EQ(((const uint8_t *)cf.word)[5], 32);
	EXPECT_EQ(u16_at(&cf, 6), 2);
	EXPECT_EQ(u16_at(&cf, 22), 63);

	img_dsp_raw_unpack_param p = img_dsp_core_get_raw_unpack_param();
	EXPECT_EQ(p.m, 6);
	EXPECT_EQ(p.base, 1);
	EXPECT_EQ(p.headroom, 8);
	EXPECT_EQ(p.g, 4);
	EXPECT_EQ(p.h, 2);
	EXPECT_EQ(p.B, 27);
}

TEST_F(IkCtx, StillAndDecodeContextDefaults)
{
	bring_up({{1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
	ASSERT_EQ(init_ctx(1, 0), 0);
	ik_still_ctx *s = (ik_still_ctx *)ctx(1, 0);
	EXPECT_EQ(s->head.state, IK_CTX_STATE_INIT);
	EXPECT_EQ(s->head.active_iso_cfg, 255);
	EXPECT_EQ(s->body.blk.deferred_black_level[0], 0);
	EXPECT_EQ(s->body.blk.demosaic_internal.enable, 0) << "stays zero on the still pipe";
	EXPECT_EQ(s->body.blk.hdr.hds_thresh[0].saturation_threshold[0], 0);
	EXPECT_EQ(s->body.blk.wb_gain.GainB, 4096u);
	EXPECT_EQ(((uint8_t *)s)[IK_STILL_SHPA_ALPHA + 4], 32);
	EXPECT_EQ(s->body.sec[IK_SEC_CHROMA_MEDIAN].word[2], phys((uint8_t *)s + IK_STILL_CHROMA_MEDIAN_K));

	ASSERT_EQ(init_ctx(2, 0), 0);
	ik_decode_ctx *d = (ik_decode_ctx *)ctx(2, 0);
	EXPECT_EQ(d->head.state, IK_CTX_STATE_INIT);
	EXPECT_EQ(d->body.rgb_to_yuv_matrix.MatrixValues[1], 629);
	EXPECT_EQ(d->body.chroma_filter.Radius, 32);
	EXPECT_EQ(d->body.first_sharpen.min_coring_result.high, 20);
	EXPECT_EQ(((uint8_t *)d)[IK_DEC_SHPA_ALPHA + 256], 32);
	EXPECT_EQ(d->body.sec[IK_SEC_CHROMA_MEDIAN].word[2], phys((uint8_t *)d + IK_DEC_CHROMA_MEDIAN_K));
}

TEST_F(IkCtx, InitModeRefusals)
{
	bring_up({{0, 1, 1, 0, 0}, {1, 1, 1, 0, 0}}, 1, IMG_DSP_INIT_MODE_NORMAL_VIDEO);
	EXPECT_EQ(init_ctx(0, 0), 0) << "mode 3 initialises video contexts normally";
	{
		StdoutCapture out;
		EXPECT_EQ(init_ctx(1, 0), -1);
		EXPECT_TRUE(
		    has_msg(out.text(), "[IK][Warning]img_dsp_core_init_ctx() ", "Unknown init mode 3\n"));
	}
	EXPECT_EQ(((ik_ctx_head *)ctx(1, 0))->state, IK_CTX_STATE_IDLE);
	StdoutCapture out;
	EXPECT_EQ(init_ctx(1, 1), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_utility_get_context() ",
	                    "context id 1 > context number 1 - 1\n"));
}

TEST_F(IkCtx, KeepModeClearsOnlyTheUpdateFlags)
{
	bring_up({{0, 1, 1, 0, 0}});
	ASSERT_EQ(init_ctx(0, 0), 0);
	ik_video_ctx *c = (ik_video_ctx *)ctx(0, 0);
	c->body.blk.wb_gain.GainR = 1234;
	c->body.update_flags[3] = 0x81;
	vors_img_dsp_deinit_arch();
	arch_.InitMode = IMG_DSP_INIT_MODE_KEEP;
	ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
	ASSERT_EQ(init_ctx(0, 0), 0);
	c = (ik_video_ctx *)ctx(0, 0);
	EXPECT_EQ(c->body.blk.wb_gain.GainR, 1234u);
	EXPECT_EQ(c->body.update_flags[3], 0);
	EXPECT_EQ(c->head.keep_marker, 1);
	EXPECT_EQ(c->head.state, IK_CTX_STATE_INIT);
	EXPECT_EQ(init_cfg(0, 0, 1), 0) << "a kept configuration is left as it is";
}

class IkClone : public IkCtx
{
      protected:
	/* A clone-mode layout clears every context, so the source is prepared
	 * by hand, as an earlier normal initialisation would have left it. */
	ik_video_ctx *prepare_source()
	{
		bring_up({{0, 2, 2, 0, 0}}, 1, IMG_DSP_INIT_MODE_CLONE);
		ik_video_ctx *src = (ik_video_ctx *)ctx(0, 0);
		src->head.state = IK_CTX_STATE_INIT;
		src->body.blk.wb_gain.GainG = 777;
		src->body.sec[IK_SEC_WB_GAIN].word[1] = 999;
		uint8_t *k = (uint8_t *)(uintptr_t)src->head.buf[0] + IK_VBUF_CHROMA_MEDIAN_K;
		memset(k, 0x3C, IK_CHROMA_MEDIAN_K_SIZE);
		src->body.sec[IK_SEC_CHROMA_MEDIAN].word[2] = phys(k);
		return src;
	}
};

TEST_F(IkClone, CopiesBlocksTablesAndRewritesAddresses)
{
	prepare_source();
	ASSERT_EQ(init_ctx(0, 1, 0, 0), 0);
	ik_video_ctx *dst = (ik_video_ctx *)ctx(0, 1);
	uint8_t *dbuf = (uint8_t *)(uintptr_t)dst->head.buf[0];
	EXPECT_EQ(dst->body.blk.wb_gain.GainG, 777u);
	EXPECT_EQ(dst->body.sec[IK_SEC_WB_GAIN].word[1], 999u);
	EXPECT_EQ(dbuf[IK_VBUF_CHROMA_MEDIAN_K + 47], 0x3C);
	EXPECT_EQ(dst->body.sec[IK_SEC_CHROMA_MEDIAN].word[2], phys(dbuf + IK_VBUF_CHROMA_MEDIAN_K));
	EXPECT_EQ(dbuf[IK_VBUF_SHPA_ALPHA], 32) << "the destination's strength table";
	EXPECT_EQ(dst->head.state, IK_CTX_STATE_IDLE) << "clone leaves the state as it was";
}

TEST_F(IkClone, EverySectionTableIsTheClonesOwn)
{
	struct Row {
		ik_section sec;
		uint32_t word, offset, size;
	} rows[] = {
	    {IK_SEC_LOCAL_EXPOSURE, IK_SECW_LOCAL_EXPOSURE_GAIN, IK_VBUF_LE_TONE_CURVE, 512},
	    {IK_SEC_CHROMA_SCALE, IK_SECW_CHROMA_SCALE_GAIN, IK_VBUF_CS_TONE_CURVE, 256},
	    {IK_SEC_CC, IK_SECW_CC_REG, IK_VBUF_CC_IN_LUT, 2304},
	    {IK_SEC_CC, IK_SECW_CC_3D, IK_VBUF_CC_3D_MATRIX, 16384},
	    {IK_SEC_CC, IK_SECW_CC_OUT, IK_VBUF_CC_OUT_LUT, 1024},
	    {IK_SEC_DBP, IK_SECW_DBP_HOT, IK_VBUF_HOT_PIXEL_THD, 768},
	    {IK_SEC_DBP, IK_SECW_DBP_DARK, IK_VBUF_DARK_PIXEL_THD, 768},
	    {IK_SEC_VIGNETTE, IK_SECW_VIGNETTE_FIRST + 3, IK_VBUF_VIG_BLUE, 2180},
	};
	ik_video_ctx *src = prepare_source();
	uint8_t *sbuf = (uint8_t *)(uintptr_t)src->head.buf[0];
	for (const auto &r : rows) {
		sbuf[r.offset + r.size - 1] = 0x5A;
		src->body.sec[r.sec].word[r.word] = phys(sbuf + r.offset);
	}
	ASSERT_EQ(init_ctx(0, 1, 0, 0), 0);
	ik_video_ctx *dst = (ik_video_ctx *)ctx(0, 1);
	uint8_t *dbuf = (uint8_t *)(uintptr_t)dst->head.buf[0];
	for (const auto &r : rows) {
		EXPECT_EQ(dst->body.sec[r.sec].word[r.word], phys(dbuf + r.offset)) << r.offset;
		EXPECT_EQ(dbuf[r.offset + r.size - 1], 0x5A) << r.offset;
	}
}

TEST_F(IkClone, HdrTablesAreTheClonesOwn)
{
	ik_video_ctx *src = prepare_source();
	img_dsp_mode m = mode(0, 0);
	m.FuncMode = IMG_DSP_FUNC_NO_HDR;
	img_dsp_hdr_blending_info info{2, {}};
	img_dsp_hdr_alpha_calc_cfg cfg{0, 0, 8, 0, 1, 1, 1, 1};
	uint16_t lut[IMG_DSP_AMP_LINEAR_ENTRIES];
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++)
		lut[i] = (uint16_t)(i * 100);
	img_dsp_amp_linearization amp{1, 0, (uint64_t)(uintptr_t)lut};
	iktest::StdoutCapture out;
	ASSERT_EQ(vors_img_dsp_set_hdr_blending_info(1, &m, &info), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(1, &m, &cfg, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization(1, &m, &amp, 2), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization_hds(1, &m, &amp, 0), 0);
	out.text();
	ASSERT_EQ(init_ctx(0, 1, 0, 0), 0);
	ik_video_ctx *dst = (ik_video_ctx *)ctx(0, 1);
	const uint8_t *sbuf = (const uint8_t *)(uintptr_t)src->head.buf[0];
	const uint8_t *dbuf = (const uint8_t *)(uintptr_t)dst->head.buf[0];
	uint32_t a;
	memcpy(&a, dst->body.blk.hdr.preblend_alpha[1] + 8, 4);
	EXPECT_EQ(a, phys(dbuf + IK_VBUF_HDR_ALPHA_TABLE + 64));
	memcpy(&a, dst->body.blk.hdr.preblend_alpha[0] + 8, 4);
	EXPECT_EQ(a, 0u) << "a record never written stays empty";
	EXPECT_EQ(memcmp(dbuf + IK_VBUF_HDR_ALPHA_TABLE, sbuf + IK_VBUF_HDR_ALPHA_TABLE, 192), 0);
	EXPECT_EQ(dbuf[IK_VBUF_HDR_ALPHA_TABLE + 64], 0xFF) << "the all-15 table";
	const uint32_t amp_tables[2] = {IK_VBUF_AMPLINEAR_LUT + 2 * IK_AMP_LINEAR_STRIDE,
	                                IK_VBUF_AMPLINEAR_HDS_LUT};
	for (uint32_t off : amp_tables) {
		EXPECT_NE(sbuf[off + 5], 0) << off;
		EXPECT_EQ(memcmp(dbuf + off, sbuf + off, IK_AMP_LINEAR_STRIDE), 0) << off;
	}
	img_dsp_mode dm = m;
	dm.ContextId = 1;
	img_dsp_amp_linearization got{};
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&dm, &got, 2), 0);
	EXPECT_EQ(got.lut_addr, (uint64_t)(uintptr_t)dst->body.blk.hdr.amp_linearization_lut[2]);
	ASSERT_EQ(vors_img_dsp_get_amp_linearization_hds(&dm, &got, 0), 0);
	EXPECT_EQ(got.lut_addr, (uint64_t)(uintptr_t)dst->body.blk.hdr.amp_linearization_hds_lut[0]);
	ASSERT_EQ(vors_img_dsp_get_amp_linearization(&dm, &got, 1), 0);
	EXPECT_EQ(got.lut_addr, 0u) << "a linearisation never set names no table";
}

TEST_F(IkClone, Refusals)
{
	ik_video_ctx *src = prepare_source();
	src->body.blk.section_tbl_idx[IK_STBL_CHROMA_MEDIAN_K] = 1;
	{
		StdoutCapture out;
		EXPECT_EQ(init_ctx(0, 1, 0, 0), -1);
		EXPECT_TRUE(
		    has_msg(out.text(), "[IK][Warning]clone_video() ", "one or more Idx exceeds TblNum 1\n"));
	}
	src->body.blk.section_tbl_idx[IK_STBL_CHROMA_MEDIAN_K] = 0;
	src->head.state = IK_CTX_STATE_IDLE;
	{
		StdoutCapture out;
		EXPECT_EQ(init_ctx(0, 1, 0, 0), -1);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]clone_locked() ",
		                    "Src context state is IDLE. Not inited.\n"));
	}
	img_dsp_ctx_id d{0, 1, {}}, s{1, 0, {}};
	EXPECT_EQ(vors_img_dsp_init_ctx(0, &d, &s), -1) << "contexts of another pipe have another layout";
}

TEST_F(IkCtx, ConfigurationInitPlacesTablesAlongTheRing)
{
	bring_up({{0, 1, 2, 0, 0}});
	ASSERT_EQ(init_ctx(0, 0), 0);
	ASSERT_EQ(init_cfg(0, 0, 1), 0);
	ASSERT_EQ(init_cfg(0, 1, 1), 0);
	for (uint8_t id = 0; id < 2; id++) {
		img_dsp_iso_cfg *c = cfg(0, id);
		uint8_t *tbl = cfg_tbl(0, id);
		const ik_liso_main_advanced &m = c->main.adv;
		EXPECT_EQ(c->state, DSP_IMG_CORE_CFG_STATE_INIT);
		EXPECT_EQ(c->AlgoMode, 1u);
		EXPECT_EQ(c->src_cfg_id, 0xFFFFFFFFu);
		EXPECT_EQ(c->prev_cfg, 0u);
		EXPECT_EQ(m.common.vignette_gain, phys(tbl + 1280)) << (int)id;
		EXPECT_EQ(m.color.cc_3d, phys(tbl + 62252));
		EXPECT_EQ(m.liso.chroma_median_k_table, phys(tbl + 81196));
		EXPECT_EQ(m.liso.sharpen.fir1, phys(tbl + 82780))
		    << "luma processing Select 0: advance spatial filter tables";
		EXPECT_EQ(m.liso.sharpen.coring, phys(tbl + 83292));
		EXPECT_EQ(m.flow.video_mctf, phys(tbl + 83548));
		EXPECT_EQ(m.cliso.final_sharpen, phys(tbl + 164892));
		EXPECT_EQ(c->ce.contrast_enhancement_cmd_queue_daddr, phys(tbl + 177660));
	}
	/* CA-warp tables have no setter: their selector stays at the ring's base. */
	img_dsp_iso_cfg *second = cfg(0, 1);
	EXPECT_EQ(second->main.adv.common.ca_warp_control.warp_vertical_table_addr_blue,
	          phys(cfg_tbl(0, 0) + 37676));
	ik_video_ctx *c = (ik_video_ctx *)ctx(0, 0);
	EXPECT_EQ(c->body.cfg_tbl_status[0], 1);
	EXPECT_EQ(c->body.cfg_tbl_status[1], 0);
	EXPECT_EQ(c->body.cfg_tbl_status[10], 0xFF) << "first-sharpen slots are not placed with Select 0";
}

TEST_F(IkCtx, ConfigurationInitRefusals)
{
	bring_up({{0, 1, 1, 0, 0}});
	struct Case {
		const char *what;
		uint8_t id;
		uint32_t algo;
		const char *head;
		const char *tail;
	} cases[] = {
	    {"unknown AlgoMode", 0, 3, "[IK][Warning]img_dsp_core_init_cfg() ", "Incorrect AlgoMode 3\n"},
	    {"bad id", 1, 1, "[IK][Warning]img_dsp_core_init_cfg() ", "Cannot get config\n"},
	};
	for (const auto &c : cases) {
		StdoutCapture out;
		EXPECT_EQ(init_cfg(0, c.id, c.algo), -1) << c.what;
		EXPECT_TRUE(has_msg(out.text(), c.head, c.tail)) << c.what;
	}
	StdoutCapture out;
	img_dsp_cfg_id id{0, 0, {}};
	EXPECT_EQ(img_dsp_core_low_iso_init_cfg(&id, 2), -1);
	EXPECT_EQ(img_dsp_core_high_iso_init_cfg(&id, 1), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_low_iso_init_cfg() ",
	                    "Incorrect AlgoMode 2 is not LowISO\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_high_iso_init_cfg() ",
	                    "Incorrect AlgoMode 1 is not HighISO\n"));
}

TEST_F(IkCtx, CloneConfigurationAndPreviousLookup)
{
	bring_up({{0, 1, 3, 0, 0}, {1, 1, 1, 0, 0}});
	ASSERT_EQ(init_ctx(0, 0), 0);
	for (uint8_t i = 0; i < 3; i++)
		ASSERT_EQ(init_cfg(0, i, 1), 0);
	img_dsp_cfg_id c0{0, 0, {}}, c1{0, 1, {}}, s0{1, 0, {}};
	void *prev = nullptr;
	{
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_utility_get_prev_config(&c1, &prev), -1);
		EXPECT_EQ(out.text(), "") << "no message for a configuration without a source";
	}
	img_dsp_iso_cfg *src = cfg(0, 0);
	img_dsp_iso_cfg *dst = cfg(0, 1);
	memset(src->main.bytes, 0x11, IK_LISO_MAIN_ROOM);
	src->AlgoMode = 1;
	dst->main.bytes[IK_LISO_BASIC_SIZE] = 0x77;
	ASSERT_EQ(vors_img_dsp_clone_iso_cfg(&c1, &c0), 0);
	EXPECT_EQ(dst->main.bytes[0], 0x11);
	EXPECT_EQ(dst->main.bytes[IK_LISO_BASIC_SIZE - 1], 0x11);
	EXPECT_EQ(dst->main.bytes[IK_LISO_BASIC_SIZE], 0x77) << "only the 616-byte settings block is copied";
	EXPECT_EQ(dst->src_cfg_id, 0u);
	ASSERT_EQ(img_dsp_core_utility_get_prev_config(&c1, &prev), 0);
	EXPECT_EQ(prev, (void *)src);

	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_clone_iso_cfg(&c1, &s0), -1);
	EXPECT_EQ(vors_img_dsp_clone_iso_cfg(nullptr, &c0), -1);
	img_dsp_cfg_id bad{0, 9, {}};
	EXPECT_EQ(vors_img_dsp_clone_iso_cfg(&bad, &c0), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_clone_iso_cfg() ",
	                    "src pipe: 1, dst pipe: 0 is invalid\n"));
	EXPECT_NE(t.find("p_cfg_dst: 0x"), std::string::npos);
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_clone_iso_cfg() ",
	                    "call img_dsp_core_utility_get_config() fail\n"));
}

TEST_F(IkCtx, StatusPreExecuteAndHighIso)
{
	bring_up({{0, 1, 2, 0, 0}});
	ASSERT_EQ(init_ctx(0, 0), 0);
	img_dsp_cfg_id c1{0, 1, {}};
	img_dsp_cfg_status st{};
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_get_cfg_status(&c1, &st), 0);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_get_cfg_status() ",
		                    "Invalid algo_mode 0\n"));
		EXPECT_EQ(st.update_mask, nullptr);
	}
	{
		StdoutCapture out;
		ASSERT_EQ(init_cfg(0, 1, 2), 0);
		EXPECT_TRUE(
		    has_msg(out.text(), "[IK][Warning]img_dsp_core_high_iso_init_cfg() ", "FIXME:\n"));
	}
	img_dsp_iso_cfg *h = cfg(0, 1);
	EXPECT_EQ(h->state, 1u);
	EXPECT_EQ(h->AlgoMode, 2u);
	ASSERT_EQ(vors_img_dsp_get_cfg_status(&c1, &st), 0);
	EXPECT_EQ(st.settings, (void *)h->main.bytes);
	EXPECT_EQ(st.update_mask, &h->update_mask);
	EXPECT_EQ(st.state, 1u);
	EXPECT_EQ(st.AlgoMode, 2u);

	img_dsp_mode m = mode(0, 0, 1, 2);
	EXPECT_EQ(vors_img_dsp_pre_exe_cfg(&m), 0);
	EXPECT_EQ(h->state, 1u) << "pre-execute changes nothing";

	ik_video_ctx *c = (ik_video_ctx *)ctx(0, 0);
	c->body.update_flags[2] = 0xFF;
	c->body.update_flags[19] = 0x01;
	{
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_post_exe_cfg(&m), 0);
		std::string t = out.text();
		EXPECT_TRUE(has_msg(t, "[IK][Debug]img_dsp_core_high_iso_post_exe() ",
		                    "Start Full Config Post Execute\n"));
		EXPECT_TRUE(has_msg(t, "[IK][Debug]img_dsp_core_high_iso_update_diag_case_id() ",
		                    "Pipe: 0,.diag_case_id 0\n"));
		EXPECT_TRUE(has_msg(t, "[IK][Debug]img_dsp_core_high_iso_cfg_share() ", "Start\n"));
		const char *steps[] = {"common", "color",  "mctf",   "step01", "step02", "step03",
		                       "step04", "step05", "step06", "step07", "step08", "step09",
		                       "step10", "step11", "step15", "step16", "vwarp",  "flow"};
		size_t pos = 0;
		for (const char *s : steps) {
			std::string head = std::string("[IK][Warning]img_dsp_core_high_iso_cfg_") + s + "() ";
			size_t at = t.find(head, pos);
			ASSERT_NE(at, std::string::npos) << s;
			pos = at + 1;
		}
	}
	EXPECT_EQ(h->state, 3u);
	for (uint8_t f : c->body.update_flags)
		ASSERT_EQ(f, 0);

	/* A low-ISO configuration is not for the high-ISO post-execute. */
	ASSERT_EQ(init_cfg(0, 0, 1), 0);
	cfg(0, 0)->state = 3;
	img_dsp_mode l = mode(0, 0, 0, 2);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_high_iso_post_exe_cfg(&l), -1);
	cfg(0, 0)->state = 0;
	EXPECT_EQ(img_dsp_core_high_iso_post_exe_cfg(&l), -1);
	img_dsp_mode still = mode(1, 0, 0, 2);
	EXPECT_EQ(img_dsp_core_high_iso_post_exe_cfg(&still), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_high_iso_post_exe_cfg() ",
	                    "AlgoMode 1 != DSP_IMG_CORE_ALGO_MODE_HISO\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_high_iso_post_exe_cfg() ",
	                    "State 0 != DSP_IMG_CORE_CFG_STATE_INIT || DSP_IMG_CORE_CFG_STATE_PREEXE || "
	                    "DSP_IMG_CORE_CFG_STATE_POSTEXE\n"));
}

TEST_F(IkCtx, TagDiagnosticIdAndSizeInformation)
{
	bring_up({{0, 1, 1, 0, 0}, {1, 1, 1, 0, 0}});
	ASSERT_EQ(init_ctx(0, 0), 0);
	ASSERT_EQ(init_ctx(1, 0), 0);
	img_dsp_mode v = mode(0, 0), s = mode(1, 0), d = mode(2, 0);
	EXPECT_EQ(vors_img_dsp_set_iso_cfg_tag(&v, 0xABCD), 0);
	uint32_t tag = 0;
	EXPECT_EQ(img_dsp_core_utility_get_iso_cfg_tag(&v, &tag), 0);
	EXPECT_EQ(tag, 0xABCDu);
	EXPECT_EQ(vors_img_dsp_set_diag_case_id(&s, 7), 0);
	uint8_t diag = 0;
	EXPECT_EQ(img_dsp_core_utility_get_diag_case_id(&s, &diag), 0);
	EXPECT_EQ(diag, 7);
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_iso_cfg_tag(&s, 1), -1);
		EXPECT_EQ(img_dsp_core_utility_get_iso_cfg_tag(&s, &tag), -1);
		EXPECT_EQ(vors_img_dsp_set_diag_case_id(&d, 1), -1);
		std::string t = out.text();
		EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_utility_set_iso_cfg_tag() ",
		                    "does not support pipe 1\n"));
		EXPECT_TRUE(has_msg(t, "[IK][Warning]vors_img_dsp_set_diag_case_id() ",
		                    "Cannot get context mutex\n"));
	}

	struct {
		uint16_t width;
		uint8_t low, high;
	} cases[] = {
	    {200, 8, 31},
	    {640, 5, 31},
	    {5000, 23, 31},
	    {20, 1, 31},
	};
	for (const auto &c : cases) {
		ASSERT_EQ(init_ctx(0, 0), 0);
		img_dsp_size_info info{};
		info.width_in = c.width;
		info.height_in = 1080;
		info.main_out_width = 1920;
		info.reserved[19] = 0x5E;
		ASSERT_EQ(vors_img_dsp_set_size_info(&v, &info), 0);
		ik_video_ctx *vc = (ik_video_ctx *)ctx(0, 0);
		EXPECT_EQ(vc->body.size_level_low, c.low) << c.width;
		EXPECT_EQ(vc->body.size_level_high, c.high) << c.width;
		EXPECT_EQ(0, memcmp(&vc->body.size_info, &info, sizeof(info)));
	}
}

class IkHdr : public IkCtx
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 1, 3, 0}});
		ASSERT_EQ(init_ctx(0, 0), 0);
	}
	img_dsp_hdr_cfg *hdr(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *h = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config(&cid, &h), 0);
		return (img_dsp_hdr_cfg *)h;
	}
	uint8_t *hdr_tbl(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *h = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config_tbl(&cid, &h), 0);
		return (uint8_t *)h;
	}
};

TEST_F(IkHdr, HistoryLinksSuccessivePosts)
{
	for (uint8_t i = 0; i < 3; i++) {
		img_dsp_mode m = mode(0, 0, i);
		ASSERT_EQ(img_dsp_core_hdr_update_cfg_history(&m), 0);
	}
	EXPECT_EQ(hdr(0)->prev_cfg, 0u);
	EXPECT_EQ(hdr(0)->next_cfg, phys(hdr(1)));
	EXPECT_EQ(hdr(1)->prev_cfg, phys(hdr(0)));
	EXPECT_EQ(hdr(1)->next_cfg, phys(hdr(2)));
	EXPECT_EQ(hdr(2)->prev_cfg, phys(hdr(1)));
	EXPECT_EQ(hdr(2)->next_cfg, 0u);
	ik_ctx_head *h = (ik_ctx_head *)ctx(0, 0);
	EXPECT_EQ(h->last_hdr_cfg, phys(hdr(2)));
	EXPECT_EQ(h->active_hdr_cfg, 2);
	uint8_t active = 0;
	img_dsp_ctx_id cid{0, 0, {}};
	EXPECT_EQ(img_dsp_core_utility_get_active_hdr_config_id(&cid, &active), 0);
	EXPECT_EQ(img_dsp_core_utility_get_active_iso_config_id(&cid, &active), -1)
	    << "no iso configuration yet";

	StdoutCapture out;
	img_dsp_mode m = mode(0, 0);
	EXPECT_EQ(vors_img_dsp_print_config_update_history(&m), 0);
	char want[128];
	snprintf(want, sizeof(want), "[IK]hdrcfg addr: 0x%x\n[IK]prev hdrcfg addr: 0x%x\n", phys(hdr(2)),
	         phys(hdr(1)));
	EXPECT_EQ(out.text(), want);
}

TEST_F(IkHdr, HistoryRefusalsAndBrokenChain)
{
	StdoutCapture out;
	img_dsp_mode m = mode(0, 0, 3);
	EXPECT_EQ(img_dsp_core_hdr_update_cfg_history(&m), -1);
	img_dsp_mode still = mode(1, 0, 0);
	EXPECT_EQ(img_dsp_core_hdr_update_cfg_history(&still), -1);
	img_dsp_mode ok = mode(0, 0, 0);
	ASSERT_EQ(img_dsp_core_hdr_update_cfg_history(&ok), 0);
	hdr(0)->next_cfg = 0x1234;
	EXPECT_EQ(vors_img_dsp_print_config_update_history(&ok), 0);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_utility_get_hdr_config() ",
	                    "invalid cfg id: 3, hdr_config_num: 3\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_hdr_update_cfg_history() ",
	                    "call img_dsp_core_utility_get_hdr_config() Fail\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_print_config_update_history() ",
	                    "next hdr cfg should be null\n"));
	EXPECT_EQ(t.find("prev hdrcfg"), std::string::npos);
}

TEST_F(IkHdr, TableAddressRewrite)
{
	img_dsp_hdr_cfg *h = hdr(0);
	uint8_t *tbl = hdr_tbl(0);
	uint8_t *target = hdr_tbl(1);
	auto user32 = [](const void *p) { return (uint32_t)(uintptr_t)p; };
	uint32_t *blend = (uint32_t *)tbl;
	blend[0] = 0x09001003;
	for (int w = 10; w <= 17; w++)
		blend[w] = w == 12 ? 0 : user32(target + 4 * w);
	uint32_t *vig = blend + 32;
	vig[0] = 0x09002016;
	for (int w = 2; w <= 5; w++)
		vig[w] = user32(target + 100 * w);
	blend[64] = 0x09006004;
	blend[64 + 10] = user32(target); /* beyond the end command: left alone */
	uint32_t *pre = (uint32_t *)(tbl + 1024);
	pre[0] = 0x0900500B;
	pre[32] = 0x0900500F;
	pre[34] = user32(target + 8);
	pre[64] = 0x0900500F;
	pre[66] = user32(target + 16); /* only the first alpha command is converted */
	h->blend_cmds_daddr[0][0] = phys(tbl);
	h->preblend_cmds_daddr[0][0] = phys(tbl + 1024);

	img_dsp_mode m = mode(0, 0, 0);
	for (int pass = 0; pass < 2; pass++) {
		ASSERT_EQ(vors_img_dsp_hdr_cfg_use_physical_tbl_addr(&m), 0);
		EXPECT_EQ(blend[10], phys(target + 40)) << pass;
		EXPECT_EQ(blend[12], 0u);
		EXPECT_EQ(blend[17], phys(target + 68));
		EXPECT_EQ(vig[2], phys(target + 200));
		EXPECT_EQ(vig[5], phys(target + 500));
		EXPECT_EQ(blend[74], user32(target));
		EXPECT_EQ(pre[34], phys(target + 8));
		EXPECT_EQ(pre[66], user32(target + 16));
	}
	ASSERT_EQ(vors_img_dsp_hdr_cfg_use_virtual_tbl_addr(&m), 0);
	EXPECT_EQ(h->blend_cmds_daddr[0][0], user32(tbl));
	EXPECT_EQ(h->preblend_cmds_daddr[0][0], user32(tbl + 1024));
	EXPECT_EQ(blend[10], user32(target + 40));
	EXPECT_EQ(vig[3], user32(target + 300));
	EXPECT_EQ(pre[34], user32(target + 8));

	StdoutCapture out;
	img_dsp_mode still = mode(1, 0, 0);
	EXPECT_EQ(vors_img_dsp_hdr_cfg_use_physical_tbl_addr(&still), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]vors_img_dsp_hdr_cfg_use_physical_tbl_addr() ",
	                    "not support pipe 1\n"));
}

TEST_F(IkHdr, PrintHeader)
{
	img_dsp_hdr_cfg *h = hdr(1);
	h->flags = 0x1 | 0x10 | (2u << 7);
	h->blend_cmds_daddr[2][1] = 0xBEEF;
	h->raw_daddr_start_offset_y[3] = 12;
	img_dsp_cfg_id id{0, 1, {}};
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_print_hdr_cfg(&id), 0);
	std::string t = out.text();
	EXPECT_NE(t.find("[IK]blend_0_updated: 1\n[IK]blend_1_updated: 0\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]exp_1_start_offset_updated: 1\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]number_of_exposure: 2\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]blend_cmds_daddr[2]: 0x0, 0xbeef\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]raw_daddr_start_offset_y[3]: 12\n"), std::string::npos);
}

TEST_F(IkCtx, ConfigTableStatusAndRingStep)
{
	bring_up({{0, 2, 5, 4, 0}});
	img_dsp_mode m = mode(0, 1);
	uint8_t *status = nullptr;
	uint32_t count = 0;
	ASSERT_EQ(img_dsp_core_utility_get_config_tbl_status(&m, &status, &count), 0);
	EXPECT_EQ(status, ((ik_video_ctx *)ctx(0, 1))->body.cfg_tbl_status);
	EXPECT_EQ(count, 2u) << "five configurations over two contexts";
	ASSERT_EQ(img_dsp_core_utility_get_hdr_config_tbl_status(&m, &status, &count), 0);
	EXPECT_EQ(count, 2u);
	img_dsp_mode s = mode(1, 0);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_utility_get_config_tbl_status(&s, &status, &count), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_utility_get_config_tbl_status() ",
	                    "not support pipe 1\n"));

	struct {
		uint8_t adv, idx, first, count, want;
	} steps[] = {
	    {0, 255, 2, 2, 2}, {1, 255, 2, 2, 2}, {0, 2, 2, 2, 2}, {1, 2, 2, 2, 3}, {1, 3, 2, 2, 2},
	};
	for (const auto &st : steps) {
		uint8_t i = st.idx;
		img_dsp_core_utility_step_index(st.adv, &i, st.first, st.count);
		EXPECT_EQ(i, st.want);
	}
	uint8_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 3, 5};
	EXPECT_EQ(img_dsp_core_utility_mem_differs(nullptr, nullptr, 4), 0);
	EXPECT_EQ(img_dsp_core_utility_mem_differs(a, nullptr, 4), 1);
	EXPECT_EQ(img_dsp_core_utility_mem_differs(a, b, 3), 0);
	EXPECT_EQ(img_dsp_core_utility_mem_differs(a, b, 4), 1);
}

} // namespace

/*
 * Low-ISO configurations: initialisation and the table placement shared with
 * the builder. Changed tables go to the next block of the context's ring so
 * that the DSP, which may still read the previous configuration, never sees
 * a table change under it.
 */
#include "ik_liso.h"

#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_fir.h"
#include "ik_helpers.h"
#include "ik_math.h"
#include "ik_mctf.h"
#include "ik_shp_hw.h"

#include <string.h>

namespace
{

/* Where a slot's table lies in a table block and which field points at it. */
struct slot_field {
	uint32_t tbl_offset;
	uint32_t cfg_offset; /* offset of the u32 field in the configuration record */
};

#define MAIN_ADV(member)                                                                                     \
	((uint32_t)(offsetof(img_dsp_iso_cfg, main) + offsetof(ik_liso_main_advanced, member)))

const slot_field slot_fields[] = {
    /* 0 */ {IK_TBL_VIGNETTE_GAIN, MAIN_ADV(common.vignette_gain)},
    /* 1: four CA-warp tables, placed below */ {0, 0},
    /* 2 */ {IK_TBL_LOCAL_EXPOSURE_GAIN, MAIN_ADV(color.gain_curve_table_addr)},
    /* 3 */ {IK_TBL_CHROMA_SCALE_GAIN, MAIN_ADV(color.gain_curver_addr)},
    /* 4 */ {IK_TBL_CC_REG, MAIN_ADV(color.cc_reg)},
    /* 5 */ {IK_TBL_CC_3D, MAIN_ADV(color.cc_3d)},
    /* 6 */ {IK_TBL_CC_OUT, MAIN_ADV(color.cc_out)},
    /* 7 */ {IK_TBL_DARK_PIXEL_THRESH, MAIN_ADV(liso.dark_pixel_threshold)},
    /* 8 */ {IK_TBL_HOT_PIXEL_THRESH, MAIN_ADV(liso.hot_pixel_threshold)},
    /* 9 */ {IK_TBL_CHROMA_MEDIAN_K, MAIN_ADV(liso.chroma_median_k_table)},
    /* 10 */ {IK_TBL_SHP_FIR1, MAIN_ADV(liso.sharpen.fir1)},
    /* 11 */ {IK_TBL_SHP_FIR2, MAIN_ADV(liso.sharpen.fir2)},
    /* 12 */ {IK_TBL_SHP_CORING, MAIN_ADV(liso.sharpen.coring)},
    /* 13 */ {IK_TBL_ASF_FIR1, MAIN_ADV(liso.sharpen.fir1)},
    /* 14 */ {IK_TBL_ASF_FIR2, MAIN_ADV(liso.sharpen.fir2)},
    /* 15 */ {IK_TBL_ASF_CORING, MAIN_ADV(liso.sharpen.coring)},
    /* 16 */ {IK_TBL_VIDEO_MCTF, MAIN_ADV(flow.video_mctf)},
    /* 17 */ {IK_TBL_FINAL_SHARPEN, MAIN_ADV(flow.final_sharpen)},
    /* 18 */ {IK_TBL_MCTS_MOASF, MAIN_ADV(cliso.mcts_MoASF)},
    /* 19 */ {IK_TBL_MOTION_CC_3D, MAIN_ADV(cliso.CC_3d_motion_combine)},
    /* 20 */ {IK_TBL_MOTION_CC_OUT, MAIN_ADV(cliso.CC_out_motion_combine)},
    /* 21 */ {IK_TBL_VIDEO_MCTF_B, MAIN_ADV(cliso.video_mctfB)},
    /* 22 */ {IK_TBL_FINAL_SHARPEN_2, MAIN_ADV(cliso.final_sharpen)},
    /* 23 */ {IK_TBL_CE_QUEUE, (uint32_t)offsetof(img_dsp_iso_cfg, ce)},
};
static_assert(sizeof(slot_fields) / sizeof(slot_fields[0]) == IK_TABLE_SLOTS, "one field per slot");

void set_field(img_dsp_iso_cfg *cfg, uint32_t offset, uint32_t value)
{
	memcpy((uint8_t *)cfg + offset, &value, sizeof(value));
}

void place_slot(img_dsp_iso_cfg *cfg, unsigned slot, uint8_t *tbl)
{
	if (slot == 1) {
		ik_ca_warp_control *ca = &cfg->main.adv.common.ca_warp_control;
		ca->warp_horizontal_table_addr_red = ik_phys(tbl + IK_TBL_CA_WARP_HOR_RED);
		ca->warp_vertical_table_addr_red = ik_phys(tbl + IK_TBL_CA_WARP_VER_RED);
		ca->warp_horizontal_table_addr_blue = ik_phys(tbl + IK_TBL_CA_WARP_HOR_BLUE);
		ca->warp_vertical_table_addr_blue = ik_phys(tbl + IK_TBL_CA_WARP_VER_BLUE);
		return;
	}
	if (slot == 23)
		ik_memset(tbl + IK_TBL_CE_QUEUE, 0, IK_CE_QUEUE_SIZE);
	set_field(cfg, slot_fields[slot].cfg_offset, ik_phys(tbl + slot_fields[slot].tbl_offset));
}

} // namespace

int ik_liso_place_tables(const img_dsp_mode *mode, img_dsp_iso_cfg *cfg, const bool advance[IK_TABLE_SLOTS],
                         unsigned first, unsigned last)
{
	uint8_t *sel;
	uint32_t count;
	int rc = img_dsp_core_utility_get_config_tbl_status(mode, &sel, &count);
	if (rc != 0) {
		IK_WARN("call img_dsp_core_utility_get_config_tbl_status() fail\n");
		return rc;
	}
	if (count == 0 || count > 255)
		return -1;
	void *ctx;
	img_dsp_ctx_id cid = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	rc = img_dsp_core_utility_get_context(&cid, &ctx);
	if (rc != 0)
		return rc;
	uint8_t select = ik_body(mode->Pipe, ctx)->blk.liso_process_select[0];
	uint8_t base = (uint8_t)(mode->ContextId * count);
	for (unsigned slot = first; slot <= last && slot < IK_TABLE_SLOTS; slot++) {
		if ((slot >= 10 && slot <= 12 && select != 1) || (slot >= 13 && slot <= 15 && select != 0))
			continue;
		/* CA-warp tables have no setter: their selector only leaves 0xFF. */
		bool adv = slot == 1 ? false : advance[slot];
		img_dsp_core_utility_step_index(adv, &sel[slot], base, (uint8_t)count);
		img_dsp_cfg_id tid = {mode->Pipe, sel[slot], {0, 0, 0}};
		void *tbl;
		rc = img_dsp_core_utility_get_config_tbl(&tid, &tbl);
		if (rc != 0)
			return rc;
		place_slot(cfg, slot, (uint8_t *)tbl);
	}
	return 0;
}

int img_dsp_core_low_iso_init_cfg(const img_dsp_cfg_id *id, uint32_t algo_mode)
{
	if (algo_mode != DSP_IMG_CORE_ALGO_MODE_LISO) {
		IK_ERROR("Incorrect AlgoMode %d is not LowISO\n", algo_mode);
		return -1;
	}
	uint8_t init_mode = img_dsp_core_utility_get_init_mode();
	if (init_mode == IMG_DSP_INIT_MODE_KEEP)
		return 0;
	if (init_mode != IMG_DSP_INIT_MODE_NORMAL && init_mode != IMG_DSP_INIT_MODE_NORMAL_VIDEO) {
		IK_ERROR("Unknown init_mode: %d\n", init_mode);
		return -1;
	}
	void *hdr;
	int rc = img_dsp_core_utility_get_config(id, &hdr);
	if (rc != 0)
		return rc;
	img_dsp_iso_cfg *cfg = (img_dsp_iso_cfg *)hdr;
	cfg->state = DSP_IMG_CORE_CFG_STATE_INIT;
	cfg->prev_cfg = 0;
	cfg->next_cfg = 0;
	cfg->AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	cfg->src_cfg_id = IK_CFG_NO_SOURCE;
	cfg->update_mask = 0;
	ik_memset(cfg->main.bytes, 0, IK_LISO_ADVANCED_SIZE);
	ik_memset(&cfg->ce, 0, sizeof(cfg->ce));
	/* Table selectors exist only on the video pipe. */
	if (id->Pipe != IMG_DSP_PIPE_VIDEO)
		return 0;
	bool all[IK_TABLE_SLOTS];
	for (auto &b : all)
		b = true;
	img_dsp_mode mode;
	memset(&mode, 0, sizeof(mode));
	mode.Pipe = id->Pipe;
	mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	mode.ContextId = 0;
	mode.ConfigId = id->Id;
	return ik_liso_place_tables(&mode, cfg, all, 0, IK_TABLE_SLOTS - 1);
}

/* ---- the post-execute builder ------------------------------------------ */

namespace
{

#define F(flag) ik_run_flag(r, (flag))

uint32_t rd32(const void *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

uint16_t rd16(const void *p)
{
	uint16_t v;
	memcpy(&v, p, 2);
	return v;
}

uint8_t *sec_bytes(ik_liso_run *r, enum ik_section s)
{
	return ik_sec_bytes(r->sec, s);
}

/* The table a configuration field points at, in user form; NULL for none. */
uint8_t *field_table(uint32_t field)
{
	return field ? (uint8_t *)ik_user(field) : NULL;
}

/* Copies a context table (a section word's address) into the table a
 * configuration field points at. */
void copy_table(uint32_t dst_field, uint32_t src_addr, uint32_t size)
{
	uint8_t *dst = field_table(dst_field);
	uint8_t *src = field_table(src_addr);
	if (dst && src)
		ik_memcpy(dst, src, size);
}

/* 1 when the tables two fields point at differ. */
int tables_differ(uint32_t a, uint32_t b, uint32_t size)
{
	return img_dsp_core_utility_mem_differs(field_table(a), field_table(b), size);
}

bool sel_valid(const ik_liso_run *r, unsigned slot)
{
	return r->sel[slot] != IK_NO_CFG;
}

/* A comparable update bit: with no previous configuration always 1; else 1
 * only when the slot's table was rewritten and differs from the previous. */
bool table_changed(const ik_liso_run *r, unsigned slot, uint32_t now, uint32_t before, uint32_t size)
{
	if (!r->prev)
		return true;
	return sel_valid(r, slot) && r->upd[slot] && tables_differ(now, before, size);
}

ik_liso_common *common_of(img_dsp_iso_cfg *c)
{
	return &c->main.basic.common;
}
ik_liso_color *color_of(img_dsp_iso_cfg *c)
{
	return &c->main.basic.color;
}
ik_liso_liso *liso_of(img_dsp_iso_cfg *c)
{
	return &c->main.basic.liso;
}
ik_liso_flow *flow_of(img_dsp_iso_cfg *c)
{
	return &c->main.basic.flow;
}
const ik_liso_color *color_of(const img_dsp_iso_cfg *c)
{
	return &c->main.basic.color;
}
const ik_liso_liso *liso_of(const img_dsp_iso_cfg *c)
{
	return &c->main.basic.liso;
}

/* ---- slot-update booleans ---- */

void derive_slot_updates(ik_liso_run *r)
{
	const uint8_t *f = r->flags;
	bool dbl = r->blk->deferred_black_level[0] != 0;
	bool mctf = ik_flag_test(f, IK_UPD_COLOR_CORRECTION) || ik_flag_test(f, IK_UPD_TONE_CURVE) ||
	            ik_flag_any(f, IK_UPD_VIDEO_MCTF, IK_UPD_MCTF_TEMPORAL_ADJUST_CR);
	bool fs = ik_flag_any(f, IK_UPD_FINAL_SHP_BOTH, IK_UPD_FINAL_SHP_SCALE_CORING);
	bool mb = ik_flag_test(f, IK_UPD_VIDEO_MCTF_B) || ik_flag_test(f, IK_UPD_VIDEO_MCTF_B_LEVEL);
	bool luma_mode = ik_flag_test(f, IK_UPD_LUMA_PROCESSING_MODE);
	bool *u = r->upd;
	u[0] = ik_flag_test(f, IK_UPD_VIGNETTE);
	u[1] = false;
	u[2] = ik_flag_test(f, IK_UPD_LOCAL_EXPOSURE);
	u[3] = ik_flag_test(f, IK_UPD_CHROMA_SCALE);
	u[4] = ik_flag_test(f, IK_UPD_CC_REG);
	u[5] = ik_flag_test(f, IK_UPD_COLOR_CORRECTION);
	u[6] = ik_flag_test(f, IK_UPD_TONE_CURVE);
	bool thresh = ik_flag_test(f, IK_UPD_DEFERRED_BLACK_LEVEL) || ik_flag_test(f, IK_UPD_DBP) ||
	              ik_flag_test(f, IK_UPD_VARIABLE_RANGE);
	if (dbl)
		thresh = thresh || ik_flag_test(f, IK_UPD_BLACK_LEVEL) || ik_flag_test(f, IK_UPD_WB_GAIN) ||
		         ik_flag_test(f, IK_UPD_LOCAL_EXPOSURE);
	u[7] = u[8] = thresh;
	u[9] = ik_flag_test(f, IK_UPD_CHROMA_MEDIAN);
	u[10] = u[11] = luma_mode || ik_flag_any(f, IK_UPD_FIRST_SHP_BOTH, IK_UPD_FIRST_SHP_SHARPEN_FIR);
	u[12] = luma_mode || ik_flag_test(f, IK_UPD_FIRST_SHP_SHARPEN_CORING);
	u[13] = u[14] = u[15] = luma_mode || ik_flag_test(f, IK_UPD_ASF);
	u[16] = mctf;
	u[17] = r->advanced ? false : (mctf || fs);
	u[18] = u[19] = u[20] = ik_flag_test(f, IK_UPD_MOTION_DETECT);
	u[21] = mctf || mb;
	u[22] = mctf || mb || fs;
	u[23] = true;
}

/* ---- share and common ---- */

/* The debug-mode record: channel, step, mode, tile x, tile y, three
 * reserved bytes, then the picture number. */
void build_share(ik_liso_run *r)
{
	ik_liso_share *sh = &r->cfg->main.basic.share;
	const uint8_t *dm = ((const ik_ctx_head *)r->ctx)->debug_mode;
	uint32_t tag = 0;
	if (r->mode->Pipe == IMG_DSP_PIPE_VIDEO)
		img_dsp_core_utility_get_iso_cfg_tag(r->mode, &tag);
	uint8_t diag = 0;
	img_dsp_core_utility_get_diag_case_id(r->mode, &diag);
	sh->iso_config_tag = tag;
	sh->diag_case_id = diag;
	sh->iso_mode = 0;
	sh->adv_mode = r->advanced ? IK_ADV_MODE_ADVANCED : IK_ADV_MODE_BASIC;
	sh->channel_id = dm[0];
	sh->debug_step_id = dm[1];
	sh->debug_mode = (uint8_t)((sh->debug_mode & 0x80u) | (dm[2] & 0x7Fu));
	sh->debug_tile_x = dm[3];
	sh->debug_tile_y = dm[4];
	sh->debug_pic_num = rd32(dm + 8);
	sh->debug_config_addr = 0;
	sh->debug_addr[1] = 0;
	sh->debug_width[0] = sh->debug_width[1] = 0;
	if (sh->debug_step_id != 0)
		r->cfg->update_mask |= IK_MASK_COMMON;
}

void set_bit(uint32_t *word, uint32_t bit, bool on)
{
	*word = on ? (*word | bit) : (*word & ~bit);
}

void build_common(ik_liso_run *r)
{
	ik_liso_common *c = common_of(r->cfg);
	const uint8_t *sbp = sec_bytes(r, IK_SEC_SBP);
	const uint8_t *vig = sec_bytes(r, IK_SEC_VIGNETTE);
	const uint8_t *vin = sec_bytes(r, IK_SEC_VIN_SENSOR);
	uint8_t fpn = r->blk->variable_range.inside_fpn_flag;
	if (fpn == 0) {
		c->sbp_map_addr = 0;
		set_bit(&c->word0, IK_COMMON_USE_SBP, true);
		set_bit(&c->word0, IK_COMMON_UPDATE_SBP, false);
	} else if (fpn == 1 && F(IK_UPD_STATIC_BAD_PIXEL)) {
		set_bit(&c->word0, IK_COMMON_USE_SBP, sbp[IK_SECB_SBP_ENABLE] != 0);
		c->sbp_map_addr = r->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR];
		set_bit(&c->word0, IK_COMMON_UPDATE_SBP, true);
	}
	c->sbp_map_width = rd16(sbp + IK_SECB_SBP_MAP);
	c->sbp_map_pitch = rd16(sbp + IK_SECB_SBP_MAP + 2);
	c->sbp_map_height = rd16(sbp + IK_SECB_SBP_MAP + 4);
	set_bit(&c->word0, IK_COMMON_SBP_A5M_MODE, sbp[IK_SECB_SBP_ENABLE] == 2);

	set_bit(&c->word0, IK_COMMON_USE_COMPRESSION, vin[IK_SECB_VIN_COMPRESSION] != 0);
	set_bit(&c->word0, IK_COMMON_USE_VIGNETTE, vig[IK_SECB_VIGNETTE_ENABLE] != 0);
	set_bit(&c->word0, IK_COMMON_USE_LENS_WARP, false);
	set_bit(&c->word0, IK_COMMON_USE_CA_WARP, false);
	set_bit(&c->word0, IK_COMMON_UPDATE_VIGNETTE, F(IK_UPD_VIGNETTE));
	set_bit(&c->word0, IK_COMMON_UPDATE_CA_WARP, F(IK_UPD_CA_WARP));
	set_bit(&c->word0, IK_COMMON_UPDATE_LENS_WARP, F(IK_UPD_WARP));
	set_bit(&c->word0, IK_COMMON_UPDATE_CHROMA_RADIUS, F(IK_UPD_CHROMA_FILTER));
	set_bit(&c->word0, IK_COMMON_UPDATE_DZOOM, F(IK_UPD_WARP));
	c->word0 = (c->word0 & ~IK_COMMON_BAYER_PATTERN_MASK) |
	           (((uint32_t)vin[IK_SECB_VIN_BAYER] << IK_COMMON_BAYER_PATTERN_SHIFT) &
	            IK_COMMON_BAYER_PATTERN_MASK);

	if (F(IK_UPD_VIGNETTE)) {
		c->word0 = (c->word0 & ~IK_COMMON_VIGNETTE_SHIFT_MASK) |
		           (((uint32_t)vig[IK_SECB_VIGNETTE_SHIFT] << IK_COMMON_VIGNETTE_SHIFT_SHIFT) &
		            IK_COMMON_VIGNETTE_SHIFT_MASK);
		uint8_t *dst = field_table(c->vignette_gain);
		for (unsigned k = 0; dst && k < 4; k++) {
			const uint8_t *src =
			    field_table(r->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST + k]);
			if (src)
				ik_memcpy(dst + k * IK_VIGNETTE_TBL_SIZE, src, IK_VIGNETTE_TBL_SIZE);
		}
	}
	/* The CA-warp command has no setter in this library; flag 0.4 is never
	 * set, so its fields keep what the configuration held. */
	if (F(IK_UPD_CA_WARP))
		c->ca_warp_control.cmd_code = IK_CMD_CA_WARP_CONTROL;

	if (ik_flag_any(r->flags, IK_UPD_VIN_SENSOR_INFO, IK_UPD_CA_WARP) || F(IK_UPD_CHROMA_FILTER) ||
	    F(IK_UPD_VARIABLE_RANGE))
		r->cfg->update_mask |= IK_MASK_COMMON;
}

/* ---- color ---- */

void build_color(ik_liso_run *r)
{
	ik_liso_color *c = color_of(r->cfg);
	const ik_liso_color *p = r->prev ? color_of(r->prev) : NULL;
	if (!r->no_hdr) {
		if (F(IK_UPD_BLACK_LEVEL))
			ik_memcpy(&c->global_offset_ee, sec_bytes(r, IK_SEC_BLACK_LEVEL) + 4, 36);
		if (F(IK_UPD_WB_GAIN))
			ik_memcpy(&c->r_gain, sec_bytes(r, IK_SEC_WB_GAIN) + 4, 16);
	} else {
		/* the HDR part carries the black level and the gains */
		c->global_offset_ee = c->global_offset_eo = c->global_offset_oe = c->global_offset_oo = 0;
		c->def_blk1_blue = 0;
		ik_memcpy(&c->r_gain, sec_bytes(r, IK_SEC_WB_GAIN) + 4, 16);
	}
	const uint8_t *le = sec_bytes(r, IK_SEC_LOCAL_EXPOSURE);
	const uint8_t *cs = sec_bytes(r, IK_SEC_CHROMA_SCALE);
	if (r->upd[2]) {
		ik_memcpy(&c->local_exposure_cmd_code, le, 12);
		ik_memcpy(&c->luma_offset, le + 16, 2);
		copy_table(c->gain_curve_table_addr,
		           r->sec[IK_SEC_LOCAL_EXPOSURE].word[IK_SECW_LOCAL_EXPOSURE_GAIN], IK_LE_GAIN_SIZE);
	}
	if (r->upd[3]) {
		ik_memcpy(&c->chroma_scale_cmd_code, cs, 24);
		copy_table(c->gain_curver_addr, r->sec[IK_SEC_CHROMA_SCALE].word[IK_SECW_CHROMA_SCALE_GAIN],
		           IK_CS_GAIN_SIZE);
	}
	const uint32_t *cc = r->sec[IK_SEC_CC].word;
	if (r->upd[4])
		copy_table(c->cc_reg, cc[IK_SECW_CC_REG], IK_CC_REG_TBL_SIZE);
	if (r->upd[5])
		copy_table(c->cc_3d, cc[IK_SECW_CC_3D], IK_CC_3D_TBL_SIZE);
	if (r->upd[6])
		copy_table(c->cc_out, cc[IK_SECW_CC_OUT], IK_CC_OUT_TBL_SIZE);
	if (F(IK_UPD_RGB_TO_YUV))
		ik_memcpy(c->rgb2yuv, &r->sec[IK_SEC_RGB_TO_YUV].word[1], sizeof(c->rgb2yuv));

	uint8_t use = (uint8_t)(c->use_flags & ~3u);
	use |= le[IK_SECB_LE_ENABLE] ? 1u : 0u;
	use |= rd16(cs + IK_SECB_CS_ENABLE) ? 2u : 0u;
	c->use_flags = use;
	if (F(IK_UPD_DGAIN_SATURATION)) {
		const uint32_t *d = r->sec[IK_SEC_DGAIN_SATURATION].word;
		c->wb_saturation_level_red = (uint16_t)d[1];
		c->wb_saturation_level_green_even = (uint16_t)d[2];
		c->wb_saturation_level_green_odd = (uint16_t)d[3];
		c->wb_saturation_level_blue = (uint16_t)d[4];
	}
	if (F(IK_UPD_AAA_STATISTICS)) {
		const ik_aaa_blocks *aaa = &r->blk->aaa;
		c->awb_min_thresh = (uint16_t)aaa->awb.pix_min_value;
		c->awb_max_thresh = (uint16_t)aaa->awb.pix_max_value;
		c->ae_min_thresh = aaa->ae.pix_min_value;
		c->ae_max_thresh = aaa->ae.pix_max_value;
	}

	uint32_t u = c->update_all;
	if (u == 0xFFFFFFFFu)
		u = 0;
	set_bit(&u, IK_COLOR_UPDATE_BLACK_LEVEL, F(IK_UPD_BLACK_LEVEL) && !r->no_hdr);
	set_bit(&u, IK_COLOR_UPDATE_WB_GAIN, F(IK_UPD_WB_GAIN));
	set_bit(&u, IK_COLOR_UPDATE_RGB2YUV, F(IK_UPD_RGB_TO_YUV));
	u &= ~IK_COLOR_UPDATE_COMPARABLE;
	if (!p) {
		u |= IK_COLOR_UPDATE_COMPARABLE;
	} else {
		set_bit(&u, IK_COLOR_UPDATE_CC_REG,
		        table_changed(r, 4, c->cc_reg, p->cc_reg, IK_CC_REG_TBL_SIZE));
		set_bit(&u, IK_COLOR_UPDATE_CC_3D,
		        table_changed(r, 5, c->cc_3d, p->cc_3d, IK_CC_3D_TBL_SIZE));
		set_bit(&u, IK_COLOR_UPDATE_CC_OUT,
		        table_changed(r, 6, c->cc_out, p->cc_out, IK_CC_OUT_TBL_SIZE));
		bool le_changed =
		    ((c->use_flags ^ p->use_flags) & 1u) ||
		    memcmp(&c->local_exposure_cmd_code, &p->local_exposure_cmd_code, 12) != 0 ||
		    c->luma_offset != p->luma_offset ||
		    tables_differ(c->gain_curve_table_addr, p->gain_curve_table_addr, IK_LE_GAIN_SIZE);
		set_bit(&u, IK_COLOR_UPDATE_LOCAL_EXPOSURE, le_changed);
		bool cs_changed = ((c->use_flags ^ p->use_flags) & 2u) ||
		                  memcmp(&c->cs_group_index, &p->cs_group_index, 20) != 0 ||
		                  tables_differ(c->gain_curver_addr, p->gain_curver_addr, IK_CS_GAIN_SIZE);
		set_bit(&u, IK_COLOR_UPDATE_CHROMA_SCALE, cs_changed);
	}
	c->update_all = u;

	static const unsigned mask_flags[] = {
	    IK_UPD_COLOR_CORRECTION,     IK_UPD_CC_REG,        IK_UPD_BLACK_LEVEL,
	    IK_UPD_DEFERRED_BLACK_LEVEL, IK_UPD_WB_GAIN,       IK_UPD_DGAIN_SATURATION,
	    IK_UPD_LOCAL_EXPOSURE,       IK_UPD_TONE_CURVE,    IK_UPD_RGB_TO_YUV,
	    IK_UPD_CHROMA_SCALE,         IK_UPD_AAA_STATISTICS};
	for (unsigned f : mask_flags)
		if (F(f))
			r->cfg->update_mask |= IK_MASK_COLOR;
}

/* ---- liso: sharpen block ---- */

void copy_level(ik_level_block *dst, const img_dsp_level *src)
{
	dst->low = src->low;
	dst->low_val = src->low_strength;
	dst->high = src->high;
	dst->high_val = src->high_strength;
	dst->base_val = src->mid_strength;
	uint32_t low0 = (uint32_t)src->low + (1u << (src->low_delta & 7u));
	uint32_t high0 = (uint32_t)src->high + (1u << (src->high_delta & 7u));
	dst->low_0 = (uint8_t)(low0 > 255 ? 255 : low0);
	dst->high_0 = (uint8_t)(high0 > 255 ? 255 : high0);
	dst->deltas = (uint8_t)((src->low_delta & 7u) | ((src->high_delta & 7u) << 3));
}

/* The three sharpen tables' update bits against the previous configuration. */
void sharpen_update_bits(ik_liso_run *r, ik_sharpen_block *s, unsigned first_slot)
{
	const ik_sharpen_block *ps = r->prev ? &liso_of(r->prev)->sharpen : NULL;
	const uint32_t now[3] = {s->fir1, s->fir2, s->coring};
	const uint32_t before[3] = {ps ? ps->fir1 : 0, ps ? ps->fir2 : 0, ps ? ps->coring : 0};
	static const uint8_t bits[3] = {IK_SHP_UPDATE_FIR1, IK_SHP_UPDATE_FIR2, IK_SHP_UPDATE_CORING};
	for (unsigned k = 0; k < 3; k++) {
		bool on = table_changed(r, first_slot + k, now[k], before[k], IK_SHP_TBL_SIZE);
		s->flags = (uint8_t)(on ? (s->flags | bits[k]) : (s->flags & ~bits[k]));
	}
}

int img_dsp_core_low_iso_partial_cfg_liso_shp(ik_liso_run *r)
{
	ik_sharpen_block *s = &liso_of(r->cfg)->sharpen;
	ik_first_sharpen_group *g = &r->blk->first_sharpen;
	bool mode_flag = F(IK_UPD_LUMA_PROCESSING_MODE);
	uint8_t mode = g->both.Mode;
	if (mode_flag || ik_flag_any(r->flags, IK_UPD_FIRST_SHP_BOTH, IK_UPD_FIRST_SHP_SHARPEN_FIR))
		update_fir_coeffs(NULL, field_table(s->fir1), field_table(s->fir2), g);
	if (mode_flag || F(IK_UPD_FIRST_SHP_SHARPEN_CORING)) {
		uint8_t *coring = field_table(s->coring);
		if (coring)
			pack_5bit_table(g->sharpen_coring.coring, coring, 0);
		uint8_t shift = (uint8_t)((3u - g->sharpen_coring.coring_mul_fractional_bits) & 3u);
		s->flags = (uint8_t)((s->flags & 0x3Fu) | (shift << 6));
	}
	if (mode == 0) {
		s->fir2_clip_high = 4095;
		s->fir2_clip_low = -4096;
	} else if (mode == 2) {
		/* FIR 2 is the noise filter here: its own change limits clip it. */
		int32_t low = -16 * (int32_t)g->noise.MaxChangeDown,
		        high = 16 * (int32_t)g->noise.MaxChangeUp;
		int32_t s13_min = img_dsp_core_s13_min(), s13_max = img_dsp_core_s13_max();
		s->fir2_clip_low = (int16_t)(low < s13_min ? s13_min : low);
		s->fir2_clip_high = (uint16_t)(high > s13_max ? s13_max : high);
	}
	if (mode_flag || F(IK_UPD_FIRST_SHP_MIN_CORING_RESULT))
		copy_level(&s->coring_multiplier_min, &g->min_coring_result);
	if (mode_flag || F(IK_UPD_FIRST_SHP_MAX_CORING_RESULT))
		copy_level(&s->coring_multiplier_max, &g->max_coring_result);
	if (mode_flag || F(IK_UPD_FIRST_SHP_CORING_INDEX_SCALE))
		copy_level(&s->coring_index_mul, &g->coring_index_scale);
	if (mode_flag || F(IK_UPD_FIRST_SHP_SCALE_CORING))
		copy_level(&s->coring_multiplier_mul, &g->scale_coring);
	if (mode_flag || F(IK_UPD_FIRST_SHP_BOTH) || F(IK_UPD_FIRST_SHP_NOISE)) {
		static const ik_level_block fixed = {10, 12, 0, 20, 22, 0, 0, 0x09};
		if (mode == 0)
			s->fir2_out_scale = fixed;
		else if (mode == 2 && g->noise.LevelStrAdjustNotT0T1LevelBased != 0)
			copy_level(&s->fir2_out_scale, &g->noise.level_str_adjust);
		else if (mode == 2) {
			ik_expanded_level e;
			level_from_t0_t1(&e, g->noise.T0, g->noise.T1, g->noise.AlphaMin, g->noise.AlphaMax);
			level_block_from_expanded(&s->fir2_out_scale, &e);
		}
	}
	s->max_change_up = 255;
	s->max_change_down = 255;
	s->flags = (uint8_t)(s->flags & ~IK_SHP_SPECIAL_MODE);
	if (mode_flag || F(IK_UPD_FIRST_SHP_BOTH)) {
		s->wide_edge_detect = g->both.WideEdgeDetect;
		s->flags = (uint8_t)((s->flags & ~IK_SHP_ENABLE) | (g->both.Enable & 1u));
		s->edge_thresh = (uint16_t)((g->both.EdgeThresh & 0x7FFu) | (mode == 0 ? 0x800u : 0u));
		s->max_change_up_5x5 = g->both.MaxChangeUp5x5;
		s->max_change_down_5x5 = g->both.MaxChangeDown5x5;
	}
	sharpen_update_bits(r, s, 10);
	bool others =
	    mode_flag || F(IK_UPD_FIRST_SHP_BOTH) || F(IK_UPD_FIRST_SHP_NOISE) ||
	    ik_flag_any(r->flags, IK_UPD_FIRST_SHP_CORING_INDEX_SCALE, IK_UPD_FIRST_SHP_SCALE_CORING);
	s->flags = (uint8_t)(others ? (s->flags | IK_SHP_UPDATE_OTHERS) : (s->flags & ~IK_SHP_UPDATE_OTHERS));
	return 0;
}

int img_dsp_core_low_iso_partial_cfg_liso_asf(ik_liso_run *r)
{
	ik_sharpen_block *s = &liso_of(r->cfg)->sharpen;
	int rc = 0;
	if (F(IK_UPD_LUMA_PROCESSING_MODE) || F(IK_UPD_ASF))
		rc = img_dsp_core_asf_hw_params(r->blk->advance_spatial_filter, s, field_table(s->fir1),
		                                field_table(s->fir2), field_table(s->coring));
	sharpen_update_bits(r, s, 13);
	bool others = F(IK_UPD_LUMA_PROCESSING_MODE) || F(IK_UPD_ASF);
	s->flags = (uint8_t)(others ? (s->flags | IK_SHP_UPDATE_OTHERS) : (s->flags & ~IK_SHP_UPDATE_OTHERS));
	return rc;
}

/* ---- liso ---- */

void liso_thresholds(ik_liso_run *r, ik_liso_liso *l)
{
	if (!r->upd[7] && !r->upd[8])
		return;
	const uint32_t *dbp = r->sec[IK_SEC_DBP].word;
	bool dbp_on = (sec_bytes(r, IK_SEC_DBP)[IK_SECB_DBP_MODE] & 7u) != 0;
	if (r->blk->variable_range.inside_fpn_flag == 0 && !dbp_on) {
		l->dark_pixel_threshold = 0;
		l->hot_pixel_threshold = 0;
		return;
	}
	copy_table(l->dark_pixel_threshold, dbp[IK_SECW_DBP_DARK], IK_PIXEL_THRESH_SIZE);
	copy_table(l->hot_pixel_threshold, dbp[IK_SECW_DBP_HOT], IK_PIXEL_THRESH_SIZE);
}

void liso_fields(ik_liso_run *r, ik_liso_liso *l)
{
	const uint8_t *leak = sec_bytes(r, IK_SEC_CFA_LEAKAGE);
	const uint8_t *aa = sec_bytes(r, IK_SEC_ANTI_ALIASING);
	const uint8_t *gbgr = sec_bytes(r, IK_SEC_GBGR_MISMATCH);
	const img_dsp_chroma_filter *cf = &r->blk->chroma_filter;
	if (F(IK_UPD_CFA_LEAKAGE)) {
		ik_memcpy(&l->leakage_alpha_rr, leak + IK_SECB_LEAKAGE_ALPHA, 4);
		l->leakage_saturation_level = rd16(leak + IK_SECB_LEAKAGE_SATURATION);
	}
	if (F(IK_UPD_ANTI_ALIASING)) {
		l->use_flags = (uint16_t)((l->use_flags & ~IK_LISO_USE_AA_SHIFT_MASK) |
		                          ((aa[IK_SECB_AA_SHIFT] & 7u) << IK_LISO_USE_AA_SHIFT_SHIFT));
		l->anti_aliasing_threshold = rd16(aa + IK_SECB_AA_THRESHOLD);
	}
	if (F(IK_UPD_GBGR_MISMATCH)) {
		l->grgb_mismatch_correct_wide_thresh = rd16(gbgr + IK_SECB_GBGR_WIDE);
		l->grgb_mismatch_correct_wide_reject_thresh = rd16(gbgr + IK_SECB_GBGR_WIDE + 2);
	}
	if (F(IK_UPD_CHROMA_FILTER)) {
		l->chroma_radius = sec_bytes(r, IK_SEC_CHROMA_FILTER)[IK_SECB_CHROMA_RADIUS];
		l->chroma_noise_level_cb = cf->Enable ? cf->NoiseLevelCb : 0;
		l->chroma_noise_level_cr = cf->Enable ? cf->NoiseLevelCr : 0;
		l->chroma_original_blend_cb_strength = cf->OriginalBlendStrengthCb;
		l->chroma_original_blend_cr_strength = cf->OriginalBlendStrengthCr;
	}
	uint16_t use = (uint16_t)(l->use_flags & (IK_LISO_USE_AA_SHIFT_MASK | IK_LISO_USE_BATCH));
	const uint8_t *dbp = sec_bytes(r, IK_SEC_DBP);
	use |= (uint16_t)(dbp[IK_SECB_DBP_MODE] & 7u);
	use |= (uint16_t)((dbp[IK_SECB_DBP_METHOD] & 1u) << 3);
	uint32_t leak_aa = (rd32(leak + IK_SECB_LEAKAGE_ENABLE) | rd32(aa + IK_SECB_AA_ENABLE)) & 1u;
	use |= (uint16_t)(leak_aa << 4 | leak_aa << 5);
	use |= (uint16_t)((sec_bytes(r, IK_SEC_CFA_NOISE_FILTER)[IK_SECB_CFA_NOISE_ENABLE] & 1u) << 6);
	use |= (uint16_t)((gbgr[IK_SECB_GBGR_MODE] & 3u) << 7);
	use |= rd16(sec_bytes(r, IK_SEC_CHROMA_MEDIAN) + IK_SECB_CHROMA_MEDIAN_ENABLE)
	           ? IK_LISO_USE_CHROMA_MEDIAN
	           : 0;
	use |= r->blk->liso_process_select[0] == 0 ? IK_LISO_USE_SHPA_FOR_ASF : 0;
	use |= cf->Enable ? IK_LISO_USE_CHROMA_FILTER : 0;
	l->use_flags = use;
}

void liso_update_bits(ik_liso_run *r, ik_liso_liso *l)
{
	bool luma = F(IK_UPD_LUMA_PROCESSING_MODE) || F(IK_UPD_ASF) ||
	            ik_flag_any(r->flags, IK_UPD_FIRST_SHP_BOTH, IK_UPD_FIRST_SHP_SCALE_CORING);
	uint16_t u = (uint16_t)(l->update_flags & IK_LISO_UPDATE_BATCH);
	u |= F(IK_UPD_CFA_NOISE) ? IK_LISO_UPDATE_CFA_NOISE : 0;
	u |= F(IK_UPD_CFA_LEAKAGE) ? IK_LISO_UPDATE_CFA_LEAKAGE : 0;
	u |= F(IK_UPD_ANTI_ALIASING) ? IK_LISO_UPDATE_ANTI_ALIASING : 0;
	u |= F(IK_UPD_GBGR_MISMATCH) ? IK_LISO_UPDATE_GRGB : 0;
	u |= F(IK_UPD_CHROMA_FILTER) ? IK_LISO_UPDATE_CHROMA_NOISE : 0;
	u |= F(IK_UPD_DEMOSAIC) ? IK_LISO_UPDATE_DEMOSAIC : 0;
	u |= luma ? IK_LISO_UPDATE_LUMA : 0;
	u |= F(IK_UPD_LUMA_PROCESSING_MODE) ? IK_LISO_UPDATE_LUMA_MODE : 0;
	if (!r->prev) {
		u |= IK_LISO_UPDATE_DBP_HOT | IK_LISO_UPDATE_DBP_DARK | IK_LISO_UPDATE_CHROMA_MEDIAN;
	} else {
		const ik_liso_liso *p = liso_of(r->prev);
		if ((p->use_flags & 0xFu) == (l->use_flags & 0xFu)) {
			if (table_changed(r, 8, l->hot_pixel_threshold, p->hot_pixel_threshold,
			                  IK_PIXEL_THRESH_SIZE))
				u |= IK_LISO_UPDATE_DBP_HOT;
			if (table_changed(r, 7, l->dark_pixel_threshold, p->dark_pixel_threshold,
			                  IK_PIXEL_THRESH_SIZE))
				u |= IK_LISO_UPDATE_DBP_DARK;
		} else {
			u |= IK_LISO_UPDATE_DBP_HOT | IK_LISO_UPDATE_DBP_DARK;
		}
		if ((p->use_flags & IK_LISO_USE_CHROMA_MEDIAN) ==
		    (l->use_flags & IK_LISO_USE_CHROMA_MEDIAN)) {
			if (table_changed(r, 9, l->chroma_median_k_table, p->chroma_median_k_table,
			                  IK_CHROMA_MEDIAN_TBL_SIZE))
				u |= IK_LISO_UPDATE_CHROMA_MEDIAN;
		} else {
			u |= IK_LISO_UPDATE_CHROMA_MEDIAN;
		}
	}
	l->update_flags = u;
}

int build_liso(ik_liso_run *r)
{
	ik_liso_liso *l = liso_of(r->cfg);
	int rc = 0;
	liso_thresholds(r, l);
	if (r->upd[9])
		copy_table(l->chroma_median_k_table,
		           r->sec[IK_SEC_CHROMA_MEDIAN].word[IK_SECW_CHROMA_MEDIAN_K],
		           IK_CHROMA_MEDIAN_TBL_SIZE);
	if (F(IK_UPD_CFA_NOISE))
		ik_memcpy(&l->cfa_noise_filter, sec_bytes(r, IK_SEC_CFA_NOISE_FILTER),
		          sizeof(l->cfa_noise_filter));
	if (F(IK_UPD_DEMOSAIC))
		ik_memcpy(&l->demosaic, sec_bytes(r, IK_SEC_DEMOSAIC), 20);
	uint8_t select = r->blk->liso_process_select[0];
	if (select == 1)
		rc |= img_dsp_core_low_iso_partial_cfg_liso_shp(r);
	else if (select == 0)
		rc |= img_dsp_core_low_iso_partial_cfg_liso_asf(r);
	liso_fields(r, l);
	if (!r->advanced) {
		l->use_flags |= IK_LISO_USE_BATCH;
		l->update_flags |= IK_LISO_UPDATE_BATCH;
		rc |= img_dsp_core_low_iso_batch_queue(r);
	} else {
		l->batch_cmd_queue_size = 0;
		l->batch_cmd_queue_daddr = 0;
	}
	liso_update_bits(r, l);
	static const unsigned mask_flags[] = {
	    IK_UPD_DBP,           IK_UPD_CFA_LEAKAGE, IK_UPD_CFA_NOISE,      IK_UPD_ANTI_ALIASING,
	    IK_UPD_CHROMA_MEDIAN, IK_UPD_DEMOSAIC,    IK_UPD_GBGR_MISMATCH,  IK_UPD_LUMA_PROCESSING_MODE,
	    IK_UPD_CHROMA_FILTER, IK_UPD_ASF,         IK_UPD_AAA_STATISTICS, IK_UPD_AAA_AF_STATISTICS_EX,
	    IK_UPD_VARIABLE_RANGE};
	bool any = ik_flag_any(r->flags, IK_UPD_FIRST_SHP_BOTH, IK_UPD_FIRST_SHP_SCALE_CORING);
	for (unsigned f : mask_flags)
		any = any || F(f);
	if (any)
		r->cfg->update_mask |= IK_MASK_LISO;
	return rc;
}

/* ---- flow ---- */

/* While fast start is on the MCTF tables are packed at every build: their
 * temporal floor follows the run counter. */
bool fast_start(const ik_liso_run *r)
{
	return r->blk->internal_motion_detect[IK_IMD_FAST_START] != 0;
}

int build_flow(ik_liso_run *r)
{
	ik_liso_flow *fl = flow_of(r->cfg);
	const img_dsp_size_info *si = &r->body->size_info;
	fl->width_in = si->width_in;
	fl->height_in = si->height_in;
	fl->main_out_width = si->main_out_width;
	fl->main_out_height = si->main_out_height;
	int32_t cw = 0, ch = 0;
	img_dsp_core_calc_chroma_size(si->width_in, si->height_in, si->main_out_width, si->main_out_height, 0,
	                              &cw, &ch);
	fl->width_chroma = (uint16_t)cw;
	fl->height_chroma = (uint16_t)ch;
	ik_memcpy(&fl->temporal_adjust_edge_reduce_b, sec_bytes(r, IK_SEC_MCTF) + IK_SECB_MCTF_EDGE_REDUCE,
	          8);

	int rc = 0;
	if (r->upd[16] || fast_start(r))
		rc = ik_mctf_pack_context(r->blk, r->advanced, false, field_table(fl->video_mctf),
		                          field_table(fl->final_sharpen));
	uint32_t vm = 0;
	if (sel_valid(r, 16) && r->upd[16]) {
		vm = IK_FLOW_MCTF_UPDATE_ALL;
	} else if (r->advanced) {
		const uint8_t *dm = ((const ik_ctx_head *)r->ctx)->debug_mode;
		for (unsigned i = 0; i < 8; i++)
			if (dm[i])
				vm = IK_FLOW_MCTF_CURVE_D;
	}
	uint32_t fs = 0;
	if (r->upd[17]) {
		int f = img_dsp_core_post_process_final_sharpen(0, &r->blk->final_sharpen,
		                                                field_table(fl->final_sharpen));
		if (f != 0) {
			IK_WARN("call img_dsp_core_post_process_final_sharpen() fail\n");
			rc |= f;
		}
		if (sel_valid(r, 17))
			fs = IK_FLOW_FINAL_SHARPEN_UPDATE_ALL;
	}
	if (F(IK_UPD_MCTF_TEMPORAL_ADJUST))
		fs |= IK_FLOW_TA_EDGE_REDUCE;
	fl->update_masks = vm | fs;

	bool mctf = F(IK_UPD_COLOR_CORRECTION) || F(IK_UPD_TONE_CURVE) ||
	            ik_flag_any(r->flags, IK_UPD_VIDEO_MCTF, IK_UPD_MCTF_TEMPORAL_ADJUST_CR);
	bool fsf = ik_flag_any(r->flags, IK_UPD_FINAL_SHP_BOTH, IK_UPD_FINAL_SHP_SCALE_CORING);
	if (mctf || fsf)
		r->cfg->update_mask |= IK_MASK_FLOW;
	if (mctf || fsf || F(IK_UPD_VIN_SENSOR_INFO) || F(IK_UPD_CHROMA_FILTER))
		r->cfg->update_mask |= IK_MASK_FLOW_2;
	return rc;
}

/* ---- cliso (advanced layout) ---- */

/* The motion-detection tables of slots 18-20. */
int build_motion_tables(ik_liso_run *r, ik_liso_cliso *cl, const img_dsp_motion_detect *md,
                        const uint8_t *def)
{
	uint8_t *moasf = field_table(cl->mcts_MoASF);
	uint32_t *cc_3d = (uint32_t *)field_table(cl->CC_3d_motion_combine);
	uint32_t *cc_out = (uint32_t *)field_table(cl->CC_out_motion_combine);
	int rc = 0;
	if (moasf)
		rc |= img_dsp_core_calc_mcts_moasf(md->smooth, def + IK_DEF_MOASF_TEMPLATE, moasf);
	/* A pure maximum of 3 halves the 3D table's second index; the mode
	 * is the run's result so far, which is 0 here. */
	uint32_t m = r->blk->internal_motion_detect[IK_IMD_PURE_MAX] == 3 ? 0 : 2;
	if (cc_3d)
		rc |= img_dsp_core_calc_cc_3d_motion_combine(md, cc_3d, m);
	if (cc_out)
		rc |= img_dsp_core_calc_cc_out_motion_combine(md->noise_base, md->motion_response, cc_out);
	return rc;
}

int build_cliso(ik_liso_run *r)
{
	ik_liso_cliso *cl = &r->cfg->main.adv.cliso;
	const uint8_t *imd = r->blk->internal_motion_detect;
	const img_dsp_size_info *si = &r->body->size_info;
	img_dsp_motion_detect md;
	memcpy(&md, r->blk->motion_detect, sizeof(md));
	img_dsp_core_calc_motion_geometry(md.smooth, si->main_out_width, si->main_out_height,
	                                  &cl->height_motion, &cl->width_motion, &cl->smooth_phase_inc);
	cl->smooth_strength = md.smooth;
	void *def = NULL;
	if (img_dsp_core_utility_get_def_tbl(&def) != 0)
		return -1;
	uint8_t *d = (uint8_t *)def;
	cl->motion_detect_fir1 = ik_phys(d + IK_DEF_MOTION_DETECT_FIR1);
	cl->mctf_passthrough = ik_phys(d + IK_DEF_MCTF_PASSTHROUGH);
	cl->CC_reg_motion_combine = ik_phys(d + IK_DEF_CC_REG_MOTION);
	bool up = imd[IK_IMD_PURE_MAX] == 3;
	cl->CC_reg_motion_combine_up = ik_phys(d + (up ? IK_DEF_CC_REG_MOTION_UP : IK_DEF_CC_REG_MOTION));
	cl->CC_3d_motion_combine_up = ik_phys(d + (up ? IK_DEF_CC_3D_MOTION_A : IK_DEF_CC_3D_MOTION_B));
	int rc = 0;
	bool md_flag = F(IK_UPD_MOTION_DETECT);
	if (md_flag)
		rc = build_motion_tables(r, cl, &md, d);
	cl->mctf_mcts_update_mask_motion_detect = md_flag ? 0xFFFFFFFFu : 0;
	cl->flags0 = (uint8_t)((md.slow_mo_sensitivity & 0xFu) | (md_flag ? 0xF0u : 0));
	cl->flags1 = (uint8_t)((md_flag ? 0x07u : 0) | ((imd[IK_IMD_SLOW_MO_SENSITIVITY2] & 0xFu) << 3) |
	                       (imd[IK_IMD_HIGH_PERFORMANCE] ? 0x80u : 0));
	if (r->upd[21] || fast_start(r))
		rc |= ik_mctf_pack_context(r->blk, true, true, field_table(cl->video_mctfB),
		                           field_table(cl->final_sharpen));
	uint32_t mb = 0;
	if (r->upd[21])
		mb = 0xFFFF;
	else if (imd[IK_IMD_FAST_START])
		mb = 512;
	if (r->upd[22]) {
		mb |= 0x3FFF0000u;
		int f = img_dsp_core_post_process_final_sharpen(1, &r->blk->final_sharpen,
		                                                field_table(cl->final_sharpen));
		if (f != 0) {
			IK_WARN("call img_dsp_core_post_process_final_sharpen() fail\n");
			rc |= f;
		}
	}
	cl->mctf_mcts_update_mask_video_mctfB = mb;
	r->blk->motion_detect_runs = imd[IK_IMD_FAST_START] ? r->blk->motion_detect_runs + 1 : 0;
	return rc;
}

void apply_cliso_variant(ik_liso_run *r)
{
	ik_liso_liso *l = liso_of(r->cfg);
	ik_liso_common *c = common_of(r->cfg);
	ik_liso_color *col = color_of(r->cfg);
	l->cliso_flags |= 1u;
	c->word0 = (c->word0 & ~0x1001D7u) | 0x100000u;
	col->use_flags = (uint8_t)((col->use_flags & ~0x19u) | 0x08u);
	if (col->update_all != 0xFFFFFFFFu)
		col->update_all &= ~0x40Fu;
	l->use_flags &= (uint16_t)~0x1F7u;
	l->update_flags &= (uint16_t)~0x13Fu;
}

/* Step 3: link the configuration into the context's history. */
void link_history(ik_liso_run *r)
{
	ik_ctx_head *h = (ik_ctx_head *)r->ctx;
	uint32_t me = ik_phys(r->cfg);
	h->active_iso_cfg = r->mode->ConfigId;
	if (h->last_iso_cfg != 0) {
		img_dsp_iso_cfg *p = (img_dsp_iso_cfg *)ik_user(h->last_iso_cfg);
		p->next_cfg = me;
		r->cfg->prev_cfg = h->last_iso_cfg;
	} else {
		r->cfg->prev_cfg =
		    img_dsp_core_utility_get_init_mode() != IMG_DSP_INIT_MODE_NORMAL ? ~0ull : 0;
	}
	r->cfg->next_cfg = 0;
	h->last_iso_cfg = me;
}

void reset_flags(ik_liso_run *r)
{
	uint8_t *f = r->flags;
	if (!r->no_hdr) {
		ik_memset(f, 0, IK_UPDATE_FLAG_BYTES);
		return;
	}
	/* Without an HDR part now, what a later HDR part needs survives. */
	uint8_t keep0 = f[0] & (uint8_t)(1u << 2 | 1u << 7);
	uint8_t keep1 = f[1] & (uint8_t)(1u << 5);
	ik_memset(f, 0, 8);
	f[0] = keep0;
	f[1] = keep1;
}

int open_run(const img_dsp_mode *mode, ik_liso_run *r)
{
	memset(r, 0, sizeof(*r));
	r->mode = mode;
	img_dsp_ctx_id cid = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	int rc = img_dsp_core_utility_get_context(&cid, &r->ctx);
	if (rc != 0)
		return rc;
	r->body = ik_body(mode->Pipe, r->ctx);
	r->blk = &r->body->blk;
	r->sec = r->body->sec;
	r->flags = r->body->update_flags;
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *tbl;
	rc = img_dsp_core_utility_get_config_tbl(&id, &tbl);
	if (rc != 0)
		return rc;
	r->own_tbl = (uint8_t *)tbl;
	void *prev = NULL;
	if (img_dsp_core_utility_get_prev_config(&id, &prev) == 0)
		r->prev = (const img_dsp_iso_cfg *)prev;
	uint32_t count;
	rc = img_dsp_core_utility_get_config_tbl_status(mode, &r->sel, &count);
	if (rc != 0) {
		IK_WARN("call img_dsp_core_utility_get_config_tbl_status() fail\n");
		return rc;
	}
	r->advanced = r->blk->liso_process_select[1] == IK_ADV_MODE_ADVANCED;
	r->no_hdr = (mode->FuncMode & IMG_DSP_FUNC_NO_HDR) != 0;
	return 0;
}

#undef F

} // namespace

int img_dsp_core_low_iso_post_exe_cfg(const img_dsp_mode *mode)
{
	int rc;
	img_dsp_iso_cfg *cfg = ik_post_exe_config(__func__, mode, DSP_IMG_CORE_ALGO_MODE_LISO, true, &rc);
	if (!cfg)
		return rc;
	/* Table selectors and the HDR part exist only on the video pipe: any
	 * other pipe is refused before the history or the flags change. */
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	ik_liso_run run;
	rc = open_run(mode, &run);
	if (rc != 0)
		return rc;
	ik_liso_run *r = &run;
	r->cfg = cfg;
	if (r->advanced && (mode->FuncMode & IMG_DSP_FUNC_CLISO)) {
		IK_ERROR("CLISO does not support yuv2yuv\n");
		return -1;
	}
	link_history(r);
	derive_slot_updates(r);
	rc = ik_liso_place_tables(mode, cfg, r->upd, 0, r->advanced ? IK_TABLE_SLOTS - 1 : 17);
	if (rc == 0 && !r->advanced) {
		rc = ik_liso_place_tables(mode, cfg, r->upd, 23, 23);
		/* Configuration init points the advanced layout's cliso tables
		 * into this room; the basic layout reads its warp entries here. */
		ik_memset(cfg->main.bytes + offsetof(ik_liso_main_basic, vert_warp), 0,
		          IK_LISO_BASIC_SIZE - offsetof(ik_liso_main_basic, vert_warp));
	}
	if (rc == 0) {
		build_share(r);
		build_common(r);
		build_color(r);
		rc |= build_liso(r);
		rc |= build_flow(r);
		if (r->advanced)
			rc |= build_cliso(r);
		else if (mode->FuncMode & IMG_DSP_FUNC_CLISO)
			apply_cliso_variant(r);
		rc |= img_dsp_core_low_iso_ce_part(r);
		if (!r->no_hdr)
			rc |= img_dsp_core_low_iso_single_exp_hdr(r);
		uint32_t aaa = ik_run_flag(r, IK_UPD_AAA_STATISTICS)
		                   ? 1u
		                   : (uint32_t)ik_run_flag(r, IK_UPD_AAA_AF_STATISTICS_EX);
		cfg->update_mask = (cfg->update_mask & ~IK_MASK_AAA) | (aaa ? IK_MASK_AAA : 0);
	}
	if (rc != 0) {
		/* The flags stay so the next run still sees what changed. */
		IK_ERROR("post execute fail\n");
		return rc;
	}
	cfg->state = DSP_IMG_CORE_CFG_STATE_POSTEXE;
	reset_flags(r);
	return 0;
}

/*
 * The command queues of a low-ISO configuration: the 3A batch queue that
 * rides in the configuration's own table block, the contrast-enhancement
 * part and its queue, and the single-exposure HDR configuration of the
 * video pipe.
 */
#include "ik_liso.h"

#include "ik_3a.h"
#include "ik_arch.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_helpers.h"
#include "ik_math.h"

#include <string.h>

const int8_t ik_ce_upsamp_coeff[2][IK_CE_UPSAMP_COEFF_SIZE] = {
    {
        30, 68, 30, 0,  29, 68, 30, 1,  28, 68, 31, 1,  27, 67, 32, 2,  26, 67, 33, 2,  25, 67, 34, 2,
        25, 66, 35, 2,  24, 66, 35, 3,  23, 66, 36, 3,  23, 65, 37, 3,  22, 65, 38, 3,  22, 65, 38, 3,
        21, 65, 39, 3,  20, 65, 40, 3,  19, 65, 40, 4,  19, 64, 41, 4,  18, 64, 42, 4,  17, 64, 43, 4,
        17, 62, 44, 5,  16, 62, 45, 5,  15, 62, 46, 5,  15, 61, 47, 5,  14, 60, 48, 6,  14, 60, 48, 6,
        13, 60, 49, 6,  13, 59, 50, 6,  12, 58, 51, 7,  12, 57, 51, 8,  11, 57, 52, 8,  11, 56, 53, 8,
        10, 55, 54, 9,  10, 55, 54, 9,  9,  55, 55, 9,  9,  54, 55, 10, 9,  53, 56, 10, 8,  53, 56, 11,
        8,  52, 57, 11, 8,  51, 57, 12, 7,  50, 59, 12, 7,  50, 58, 13, 6,  49, 60, 13, 6,  48, 60, 14,
        6,  47, 61, 14, 5,  47, 61, 15, 5,  46, 62, 15, 5,  45, 62, 16, 5,  43, 63, 17, 4,  43, 64, 17,
        4,  42, 64, 18, 4,  41, 64, 19, 4,  40, 64, 20, 3,  40, 65, 20, 3,  39, 65, 21, 3,  38, 65, 22,
        3,  38, 65, 22, 3,  37, 65, 23, 3,  36, 66, 23, 3,  35, 66, 24, 3,  34, 67, 24, 2,  34, 67, 25,
        2,  33, 67, 26, 2,  32, 67, 27, 1,  32, 67, 28, 1,  31, 67, 29,
    },
    {
        0,  127, 1,   0,  -1, 127, 2,   0,  -2, 127, 3,   0,  -2, 126, 4,   0,  -3, 126, 5,   0,
        -4, 125, 7,   0,  -5, 126, 8,   -1, -5, 124, 10,  -1, -6, 124, 11,  -1, -6, 122, 13,  -1,
        -7, 121, 15,  -1, -7, 120, 16,  -1, -7, 118, 18,  -1, -7, 116, 20,  -1, -8, 115, 23,  -2,
        -8, 113, 25,  -2, -8, 111, 27,  -2, -8, 109, 29,  -2, -8, 106, 32,  -2, -8, 104, 34,  -2,
        -8, 102, 36,  -2, -8, 99,  39,  -2, -8, 97,  42,  -3, -7, 94,  44,  -3, -7, 91,  47,  -3,
        -7, 88,  50,  -3, -7, 86,  53,  -4, -6, 83,  55,  -4, -6, 80,  58,  -4, -6, 77,  61,  -4,
        -6, 75,  64,  -5, -5, 72,  66,  -5, -5, 69,  69,  -5, -5, 66,  72,  -5, -5, 64,  75,  -6,
        -4, 61,  77,  -6, -4, 58,  80,  -6, -4, 55,  83,  -6, -4, 53,  86,  -7, -3, 50,  88,  -7,
        -3, 47,  91,  -7, -3, 44,  94,  -7, -3, 42,  97,  -8, -2, 39,  99,  -8, -2, 36,  102, -8,
        -2, 34,  104, -8, -2, 32,  106, -8, -2, 29,  109, -8, -2, 27,  111, -8, -2, 25,  113, -8,
        -2, 23,  115, -8, -1, 20,  116, -7, -1, 18,  118, -7, -1, 16,  120, -7, -1, 15,  121, -7,
        -1, 13,  122, -6, -1, 11,  124, -6, -1, 10,  124, -5, -1, 8,   126, -5, 0,  7,   125, -4,
        0,  5,   126, -3, 0,  4,   126, -2, 0,  3,   126, -1, 0,  1,   127, 0,
    },
};

namespace
{

#define F(flag) ik_run_flag(r, (flag))

void put32(uint8_t *p, uint32_t v)
{
	memcpy(p, &v, 4);
}

uint32_t get32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

uint8_t *slot_at(uint8_t *queue, unsigned i)
{
	return queue + i * IK_CMD_SLOT_SIZE;
}

/* ---- 3A batch queue ---- */

uint32_t reciprocal(uint32_t gain)
{
	return gain ? 0x10000000u / gain : 0;
}

void early_wb_cmd(ik_liso_run *r, uint8_t *cmd)
{
	const img_dsp_wb_gain *wb = &r->blk->wb_gain;
	uint32_t k = (uint32_t)(((uint64_t)wb->AeGain * wb->GlobalDGain) >> 12);
	uint32_t gr = wb->GainR, gg = wb->GainG, gb = wb->GainB;
	if (r->mode->FuncMode == IMG_DSP_FUNC_NO_HDR) {
		const uint8_t *fe = r->blk->hdr.front_end_wb_gain[0];
		gr = get32(fe);
		gg = get32(fe + 4);
		gb = get32(fe + 8);
	}
	uint32_t rr = (uint32_t)(((uint64_t)k * gr) >> 12);
	uint32_t rg = (uint32_t)(((uint64_t)k * gg) >> 12);
	uint32_t rb = (uint32_t)(((uint64_t)k * gb) >> 12);
	const uint32_t recip[4] = {reciprocal(rr), reciprocal(rg), reciprocal(rg), reciprocal(rb)};
	uint32_t mode = r->blk->early_wb_mode;
	if (mode == 0xFFFFFFFFu)
		mode = (r->mode->FuncMode & IMG_DSP_FUNC_NO_HDR) ? 1u : 0u;
	put32(cmd, IK_CMD_AAA_EARLY_WB_GAIN);
	if (mode > 2)
		return;
	for (unsigned i = 0; i < 4; i++) {
		put32(cmd + 4 + 4 * i, mode == 1 ? recip[i] : 0x10000u);
		put32(cmd + 24 + 4 * i, mode == 2 ? recip[i] : 0x10000u);
	}
	if (mode == 2)
		memcpy(cmd + 20, r->blk->early_wb_offset, 3);
	else
		memset(cmd + 20, 0, 3);
}

} // namespace

int img_dsp_core_low_iso_batch_queue(ik_liso_run *r)
{
	uint8_t *q = r->own_tbl + IK_TBL_LISO_BATCH_QUEUE;
	ik_memset(q, 0, IK_LISO_BATCH_QUEUE_SIZE);
	unsigned n = 0;
	bool fe_wb = ik_flag_any(r->flags, IK_UPD_HDR_FRONT_END_WB_GAIN(0), IK_UPD_HDR_FRONT_END_WB_GAIN(3));
	if (!(r->mode->FuncMode & IMG_DSP_FUNC_CLISO) && (F(IK_UPD_WB_GAIN) || F(IK_UPD_EARLY_WB) || fe_wb))
		early_wb_cmd(r, slot_at(q, n++));
	const ik_aaa_blocks *aaa = &r->blk->aaa;
	struct pending {
		unsigned flag;
		enum ik_aaa_cmd_slot cmd;
		uint32_t size;
	} const pend[] = {
	    {IK_UPD_AAA_STATISTICS, IK_AAA_CMD_STATISTICS, IK_AAA_STATISTICS_SETUP_SIZE},
	    {IK_UPD_AAA_AF_STATISTICS_EX, IK_AAA_CMD_AF_EX1, IK_AAA_AF_STATISTICS_EX_SIZE},
	    {IK_UPD_AAA_AF_STATISTICS_EX, IK_AAA_CMD_AF_EX2, IK_AAA_AF_STATISTICS_EX_SIZE},
	    {IK_UPD_AAA_PSEUDO_Y, IK_AAA_CMD_PSEUDO_Y, IK_AAA_PSEUDO_Y_SETUP_SIZE},
	    {IK_UPD_AAA_HISTOGRAM, IK_AAA_CMD_HISTOGRAM, IK_AAA_HISTOGRAM_SETUP_SIZE},
	    {IK_UPD_AAA_EARLY_WB_GAIN, IK_AAA_CMD_EARLY_WB_GAIN, IK_AAA_EARLY_WB_GAIN_SIZE},
	};
	for (const pending &p : pend) {
		if (F(p.flag) && n < IK_LISO_BATCH_QUEUE_SIZE / IK_CMD_SLOT_SIZE)
			ik_memcpy(slot_at(q, n++), aaa->cmd[p.cmd].word, p.size);
	}
	ik_liso_liso *l = &r->cfg->main.basic.liso;
	l->batch_cmd_queue_daddr = ik_phys(q);
	l->batch_cmd_queue_size = (uint16_t)((n & 0x1FFu) * IK_CMD_SLOT_SIZE);
	return 0;
}

/* ---- contrast enhancement ---- */

namespace
{

/* The block of the contrast-enhancement setter, by byte. */
enum ce_block_byte {
	CE_ENABLE = 0,
	CE_RADIUS = 1,
	CE_WEIGHT_METHOD = 2,
	CE_WEIGHTS = 3,
	CE_FIR_ENABLE = 7,
	CE_FIR_COEFF = 8,
	CE_CORING_TABLE = 27,
	CE_OUTPUT_ENABLE = 91,
	CE_OUTPUT_SHIFT = 92,
	CE_OUTPUT_TABLE = 94,
};

/* Block bytes of coring_index_shift .. coring_gain_delta_t1, in command order. */
const uint8_t ce_coring_src[16] = {11, 14, 15, 18, 12, 16, 13, 17, 19, 22, 23, 26, 20, 24, 21, 25};

void ce_factors(ik_liso_run *r, const uint8_t *ce, uint16_t width, uint8_t f[3])
{
	if (ce[CE_ENABLE] && ce[CE_RADIUS] == 0) {
		for (unsigned i = 0; i < 3; i++) {
			f[i] = (uint8_t)(r->blk->contrast_enhance_decimation[i] & 0xFu);
			if (f[i] == 0)
				f[i] = 1;
		}
	} else if (ce[CE_ENABLE]) {
		img_dsp_core_calc_decimation_factors(width, ce[CE_RADIUS], f);
	} else {
		img_dsp_core_default_decimation_factors(width, f);
	}
	uint32_t prod = (uint32_t)f[0] * f[1] * f[2];
	uint32_t limit = prod ? (width + prod - 1) / prod : 0;
	if (limit < 32 || limit > 100) {
		IK_WARN("invalid factor check_limit %d = (width_in %d) / (%d x %d x %d)\n", (int)limit,
		        (int)width, f[0], f[1], f[2]);
		img_dsp_core_default_decimation_factors(width, f);
		IK_WARN("Clamped Setting: %d %d %d\n", f[0], f[1], f[2]);
	}
}

void pack_ce_coring(const uint8_t *entries, uint8_t *table)
{
	for (unsigned k = 0; k < IK_CE_CORING_TBL_SIZE / 2; k++) {
		uint16_t v;
		memcpy(&v, table + 2 * k, 2);
		v = (uint16_t)((v & 0xF000u) | (entries[2 * k] & 0x3Fu) |
		               ((entries[2 * k + 1] & 0x3Fu) << 6));
		memcpy(table + 2 * k, &v, 2);
	}
}

void write_ce_queue(ik_liso_run *r, uint8_t *q, const uint8_t *ce, const uint8_t f[3], uint8_t enables)
{
	uint8_t *blk = q - IK_TBL_CE_QUEUE;
	const img_dsp_size_info *si = &r->body->size_info;
	uint8_t *s = slot_at(q, 0);
	put32(s, IK_CMD_CE_LUMA_AVG_WEIGHT);
	memcpy(s + 4, ce + CE_WEIGHTS, 4);
	s[8] = ce[CE_WEIGHT_METHOD];

	s = slot_at(q, 1);
	put32(s, IK_CMD_CE_LUMA_BLACK_LEVEL);
	if (r->blk->deferred_black_level[0])
		IK_ERROR("CE not yet support defblc\n");

	s = slot_at(q, 2);
	put32(s, IK_CMD_CE_FIR_CONFIG);
	put32(s + 4, ce[CE_FIR_ENABLE]);
	for (unsigned i = 0; i < 3; i++)
		put32(s + 8 + 4 * i, ce[CE_FIR_COEFF + i]);

	s = slot_at(q, 3);
	put32(s, IK_CMD_CE_CORING_CONFIG);
	for (unsigned i = 0; i < 16; i++)
		s[4 + i] = ce[ce_coring_src[i]];
	pack_ce_coring(ce + CE_CORING_TABLE, blk + IK_TBL_CE_CORING);
	put32(s + 20, ik_phys(blk + IK_TBL_CE_CORING));

	s = slot_at(q, 4);
	put32(s, IK_CMD_CE_OUTPUT_TABLE);
	put32(s + 4, ce[CE_OUTPUT_ENABLE]);
	put32(s + 8, ce[CE_OUTPUT_SHIFT]);
	ik_memcpy(blk + IK_TBL_CE_OUTPUT, ce + CE_OUTPUT_TABLE, IK_CE_OUTPUT_TBL_SIZE);
	put32(s + 12, ik_phys(blk + IK_TBL_CE_OUTPUT));

	s = slot_at(q, 5);
	put32(s, IK_CMD_CE_VERTICAL_DECIMATION);
	for (unsigned i = 0; i < 3; i++) {
		put32(s + 4 + 4 * i, f[i]);
		s[22 + i] = (enables >> (i + 1)) & 1u;
	}
	memcpy(s + 20, &si->height_in, 2);

	s = slot_at(q, 6);
	put32(s, IK_CMD_CE_UPSAMPLING);
	put32(s + 4, si->width_in);
	put32(s + 8, si->height_in);
	uint32_t prod = (uint32_t)f[0] * f[1] * f[2];
	put32(s + 12, prod ? prod : 1);
	put32(s + 16, prod ? prod : 1);
	uint8_t diag = ((const ik_ctx_head *)r->ctx)->diag_case_id;
	ik_memcpy(blk + IK_TBL_CE_UPSAMP_COEFF, ik_ce_upsamp_coeff[diag == 103 ? 1 : 0],
	          IK_CE_UPSAMP_COEFF_SIZE);
	put32(s + 36, ik_phys(blk + IK_TBL_CE_UPSAMP_COEFF));

	put32(slot_at(q, 7), IK_CMD_PROCESS_IDSP_BATCH);
}

} // namespace

int img_dsp_core_low_iso_ce_part(ik_liso_run *r)
{
	uint8_t *sel;
	uint32_t count;
	int rc = img_dsp_core_utility_get_config_tbl_status(r->mode, &sel, &count);
	if (rc != 0) {
		IK_WARN("call img_dsp_core_utility_get_config_tbl_status() fail\n");
		return rc;
	}
	const uint8_t *ce = r->blk->contrast_enhance;
	uint8_t f[3];
	ce_factors(r, ce, r->body->size_info.width_in, f);
	ik_liso_ce_part *part = &r->cfg->ce;
	uint8_t enables = (uint8_t)(ce[CE_ENABLE] & 1u);
	for (unsigned i = 0; i < 3; i++)
		enables |= (uint8_t)((f[i] != 0) << (i + 1));
	part->factors01 = (uint8_t)((f[0] & 0xFu) | (f[1] << 4));
	part->factor2_upd = (uint8_t)((f[2] & 0xFu) | 0xF0u);
	part->enables = enables;
	uint8_t *q = (uint8_t *)ik_user(part->contrast_enhancement_cmd_queue_daddr);
	write_ce_queue(r, q, ce, f, enables);
	return 0;
}

/* ---- single-exposure HDR part ---- */

namespace
{

#define HDR_QUEUE_1 3072u
#define HDR_QUEUE_2 6144u
#define HDR_AMP_TABLES_1 12288u
#define HDR_AMP_TABLES_2 30144u
#define HDR_AMP_STRIDE 736u
#define HDR_AMP_ZERO_OFFSET 8832u
#define HDR_VIGNETTE_TABLES 48000u
#define HDR_VIGNETTE_STRIDE 2208u

/* The packed amplifier-linearisation table and header of an exposure, in
 * the context's buffer block. */
const uint8_t *amp_lut(ik_liso_run *r, unsigned exposure)
{
	const ik_ctx_head *h = (const ik_ctx_head *)r->ctx;
	return (const uint8_t *)(uintptr_t)h->buf[0] + IK_VBUF_AMPLINEAR_LUT +
	       exposure * IK_AMP_LINEAR_STRIDE;
}

void amp_cmd(ik_liso_run *r, uint8_t *cmd, uint8_t *tbl, uint32_t tables, unsigned exposure, uint8_t mode)
{
	const uint8_t *lut = amp_lut(r, exposure);
	put32(cmd, IK_CMD_AMPLIFIER_LINEARIZATION);
	cmd[4] = mode;
	memcpy(cmd + 12, lut + IK_AMP_LINEAR_LUT_SIZE, IK_AMP_LINEAR_HEADER_SIZE);
	for (unsigned k = 0; k < 4; k++) {
		uint8_t *t = tbl + tables + HDR_AMP_STRIDE * k;
		ik_memcpy(t, lut, IK_AMP_LINEAR_LUT_SIZE);
		ik_memset(t + HDR_AMP_ZERO_OFFSET, 0, IK_AMP_LINEAR_LUT_SIZE);
		put32(cmd + 40 + 4 * k, ik_phys(t));
		put32(cmd + 56 + 4 * k, ik_phys(t + HDR_AMP_ZERO_OFFSET));
	}
}

} // namespace

int img_dsp_core_low_iso_single_exp_hdr(ik_liso_run *r)
{
	img_dsp_cfg_id id = {r->mode->Pipe, r->mode->ConfigId, {0, 0, 0}};
	void *rec;
	void *blk;
	/* A pipe laid out with fewer HDR configurations has none to build:
	 * the posting then refuses to send without it. */
	if (img_dsp_core_utility_get_hdr_config(&id, &rec) != 0 ||
	    img_dsp_core_utility_get_hdr_config_tbl(&id, &blk) != 0)
		return 0;
	int rc = img_dsp_core_hdr_update_cfg_history(r->mode);
	if (rc != 0)
		return rc;
	img_dsp_hdr_cfg *hdr = (img_dsp_hdr_cfg *)rec;
	uint8_t *tbl = (uint8_t *)blk;
	uint16_t first;
	memcpy(&first, hdr, 2);
	first = (uint16_t)((first & 0xFC00u) | 0x81u);
	ik_memset(hdr, 0, 68);
	memcpy(hdr, &first, 2);
	uint8_t *q1 = tbl + HDR_QUEUE_1;
	uint8_t *q2 = tbl + HDR_QUEUE_2;
	hdr->blend_cmds_daddr[0][0] = ik_phys(q1);
	hdr->blend_cmds_daddr[0][1] = ik_phys(q2);
	ik_memset(q1, 0, IK_HDR_QUEUE_SIZE);
	ik_memset(q2, 0, IK_HDR_QUEUE_SIZE);
	unsigned n1 = 0, n2 = 0;

	/* the mode byte alone: the fractional correction shares the word, and
	 * mode 0 is off whatever it holds */
	uint32_t rgb_ir_mode = r->blk->rgb_ir[0];
	if (F(IK_UPD_BLACK_LEVEL)) {
		ik_memcpy(slot_at(q1, n1++), r->sec[IK_SEC_BLACK_LEVEL].word, 40);
		ik_memcpy(slot_at(q2, n2++), r->sec[IK_SEC_BLACK_LEVEL].word, 40);
	}
	if (F(IK_UPD_WB_GAIN)) {
		uint8_t *c = slot_at(q1, n1++);
		put32(c, IK_CMD_DGAIN_VIGNETTE_DIGITAL_GAIN);
		for (unsigned i = 0; i < 4; i++) {
			put32(c + 4 + 4 * i, 4096);
			put32(c + 20 + 4 * i, rgb_ir_mode ? 4096u : 0u);
		}
	}
	bool amp = ik_flag_any(r->flags, IK_UPD_HDR_AMP_LINEAR(0), IK_UPD_HDR_AMP_LINEAR(3)) ||
	           ik_flag_any(r->flags, IK_UPD_AMP_LINEAR_HDS(0), IK_UPD_AMP_LINEAR_HDS(3));
	bool rgb_ir = rgb_ir_mode && (F(IK_UPD_RGB_IR) || F(IK_UPD_RGB_IR_INTERNAL) || F(IK_UPD_WB_GAIN));
	const uint8_t(*setting)[16] = r->blk->hdr.amp_linearization;
	if (amp) {
		amp_cmd(r, slot_at(q1, n1++), tbl, HDR_AMP_TABLES_1, 0, setting[0][0]);
		bool second = get32(setting[1]) != 0;
		amp_cmd(r, slot_at(q2, n2++), tbl, HDR_AMP_TABLES_2, second ? 1 : 0,
		        second ? 1 : setting[0][0]);
	} else if (rgb_ir) {
		uint8_t *c = slot_at(q1, n1++);
		amp_cmd(r, c, tbl, HDR_AMP_TABLES_1, 0, setting[0][0]);
		put32(c + 4, 1);
		img_dsp_rgb_ir ir;
		img_dsp_rgb_ir_internal internal;
		memcpy(&ir, r->blk->rgb_ir, sizeof(ir));
		memcpy(&internal, r->blk->rgb_ir_internal, sizeof(internal));
		const uint32_t gains[3] = {r->blk->wb_gain.GainR, r->blk->wb_gain.GainG,
		                           r->blk->wb_gain.GainB};
		int32_t work[2 * IMG_DSP_AMP_LINEAR_ENTRIES];
		rc |= img_dsp_core_rgb_ir_amp_linearization(&ir, internal.saturation_cntrl, gains,
		                                            r->blk->vin_sensor_info.Pattern, work, c);
	}
	if (F(IK_UPD_HDR_VIGNETTE)) {
		uint8_t *c = slot_at(q1, n1++);
		const uint8_t *vig = ik_sec_bytes(r->sec, IK_SEC_VIGNETTE);
		put32(c, IK_CMD_DGAIN_VIGNETTE_COMPENSATION);
		c[4] = vig[IK_SECB_VIGNETTE_ENABLE];
		c[5] = vig[IK_SECB_VIGNETTE_SHIFT];
		for (unsigned k = 0; k < 4; k++) {
			uint8_t *t = tbl + HDR_VIGNETTE_TABLES + HDR_VIGNETTE_STRIDE * k;
			uint32_t src = r->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST + k];
			if (src)
				ik_memcpy(t, ik_user(src), IK_VIGNETTE_TBL_SIZE);
			put32(c + 8 + 4 * k, ik_phys(t));
		}
	}
	if (ik_flag_any(r->flags, IK_UPD_AMP_LINEAR_BLACK_LEVEL(0), IK_UPD_HDR_BLEND_BLACK_LEVEL(2))) {
		uint8_t *c = slot_at(q1, n1++);
		put32(c, IK_CMD_BLACK_LEVEL_AMPLINEAR_HDR);
		ik_memcpy(c + 16, r->blk->hdr.black_level_amplinear_hdr[0] + 20, 16);
	}
	if (r->blk->hdr.post_static_black_level_used && F(IK_UPD_BLACK_LEVEL)) {
		uint8_t *c = slot_at(q1, n1++);
		put32(c, IK_CMD_BLACK_LEVEL_AMPLINEAR_HDR);
		for (unsigned i = 0; i < 4; i++) {
			int16_t v;
			memcpy(&v, r->blk->hdr.post_static_black_level + 2 * i, 2);
			int32_t neg = -(int32_t)v;
			memcpy(c + 4 + 4 * i, &neg, 4);
		}
	}
	put32(slot_at(q1, n1), IK_CMD_PROCESS_IDSP_BATCH);
	put32(slot_at(q2, n2), IK_CMD_PROCESS_IDSP_BATCH);
	return rc;
}

/*
 * The HDR post-execute: one HDR configuration per frame from the records,
 * packed tables and update flags the HDR setters left in the context, then
 * posted to the video driver.
 */
#include "ik_arch.h"
#include "ik_cfg_print.h"
#include "ik_color.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"
#include "ik_post.h"
#include "qvd_ioctl.h"

#include <stddef.h>
#include <string.h>

/* The table block of an HDR configuration. */
#define T_PREBLEND 0u
#define T_BLEND 3072u
#define T_HDS_BLEND 6144u
#define T_HDS_PREBLEND 9344u
#define T_AMP 12288u
#define T_HDRBLEND 21120u
#define T_ALPHA 29952u
#define T_HDS_AMP 30144u
#define T_HDS_HDRBLEND 38976u
#define T_HDS_ALPHA 47808u
#define T_VIGNETTE 48000u
#define STEP_TABLES 2944u
#define TABLE_COPY 736u
#define VIGNETTE_STRIDE 2208u
#define VIGNETTE_USED 2180u

#define CMD_HDR_PREBLEND_CONFIG_SIZE 12u
#define CMD_AMP_LINEAR_SIZE 76u
#define CMD_VIGNETTE_SIZE 24u
#define CMD_DGAIN_SIZE 36u
#define HDS_THRESH_UNSET 0xFFFFu
#define HDR_RECORD_BUILT 68u /* the record's bytes a post-execute writes */

namespace
{

/* A queue of 128-byte slots; a command writes only its own bytes. */
struct queue {
	uint8_t *base;
	unsigned n;
};

void push(queue *q, const void *cmd, size_t size)
{
	/* every list below ends within the queue's eight slots */
	if (q->n >= IK_HDR_QUEUE_CMDS)
		return;
	ik_memcpy(q->base + IK_CMD_SLOT_SIZE * q->n++, cmd, size);
}

void finish(queue *q)
{
	const uint32_t code = IK_CMD_PROCESS_IDSP_BATCH;
	if (q->n >= IK_HDR_QUEUE_CMDS)
		q->n = IK_HDR_QUEUE_CMDS - 1;
	push(q, &code, sizeof(code));
}

void put32(uint8_t *p, uint32_t v)
{
	memcpy(p + 0, &v, 4);
}

uint32_t get32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

/* What one post-execute works on. */
struct hdr_run {
	const img_dsp_mode *mode;
	ik_ctx_body *body;
	ik_hdr_blocks *h;
	const uint8_t *flags;
	uint8_t *tbl;       /* the table block of this run */
	const uint8_t *buf; /* the context's current buffer block */
	unsigned blends;
	bool black_change;
};

bool flag(const hdr_run *r, unsigned f)
{
	return ik_flag_test(r->flags, f) != 0;
}

bool any(const hdr_run *r, unsigned first, unsigned last)
{
	return ik_flag_any(r->flags, first, last) != 0;
}

bool any_amp(const hdr_run *r)
{
	return any(r, IK_UPD_HDR_AMP_LINEAR(0), IK_UPD_HDR_AMP_LINEAR(3));
}

uint32_t amp_ena(const hdr_run *r, bool hds, unsigned e)
{
	return get32(hds ? r->h->amp_linearization_hds[e] : r->h->amp_linearization[e]);
}

/* An exposure's packed table and header in the current buffer block. */
const uint8_t *packed(const hdr_run *r, bool hds, unsigned e)
{
	return r->buf + (hds ? IK_VBUF_AMPLINEAR_HDS_LUT : IK_VBUF_AMPLINEAR_LUT) + IK_AMP_LINEAR_STRIDE * e;
}

/* ---- digital gains ------------------------------------------------------ */

/* A 12.12 product; a gain past 32 bits means nothing to the DSP, so it
 * stays at the largest it can say. */
uint32_t gain_product(uint64_t a, uint64_t b)
{
	uint64_t p = (a * b) >> 12;
	return p > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)p;
}

int img_dsp_core_prepare_hdr_dgain(const hdr_run *r)
{
	if (r->mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("call img_dsp_core_prepare_hdr_dgain() fail\n");
		return -1;
	}
	const img_dsp_wb_gain *wb = &r->body->blk.wb_gain;
	uint32_t g = gain_product(wb->AeGain, wb->GlobalDGain);
	for (unsigned e = 0; e <= r->blends && e < IK_HDR_EXPOSURES; e++) {
		if (!flag(r, IK_UPD_HDR_FRONT_END_WB_GAIN(e)))
			continue;
		img_dsp_front_end_wb_gain fe;
		memcpy(&fe, r->h->front_end_wb_gain[e], sizeof(fe));
		/* red, blue, green even, green odd */
		const uint32_t m[4] = {gain_product(g, fe.r_gain), gain_product(g, fe.b_gain),
		                       gain_product(g, fe.g_gain), gain_product(g, fe.g_gain)};
		uint8_t *rec = r->h->dgain_vignette_digital_gain[e == 0 ? 0 : e - 1];
		put32(rec, IK_CMD_DGAIN_VIGNETTE_DIGITAL_GAIN);
		for (unsigned k = 0; k < 4; k++) {
			if (e == 0)
				put32(rec + 20 + 4 * k, m[k]);
			else
				put32(rec + 4 + 4 * k, m[k]);
			if (e >= 2)
				put32(rec + 20 + 4 * k, 0x1000u);
		}
	}
	return 0;
}

/* ---- blend queues ------------------------------------------------------- */

void black_levels(const hdr_run *r, queue *q, unsigned b)
{
	if (!r->black_change)
		return;
	push(q, r->h->black_level_global_offset[b], sizeof(r->h->black_level_global_offset[b]));
	push(q, r->h->black_level_amplinear_hdr[b], sizeof(r->h->black_level_amplinear_hdr[b]));
	if (b == 0)
		push(q, r->h->black_level_global_offset_hdr[0],
		     sizeof(r->h->black_level_global_offset_hdr[0]));
}

/* The tables of one linearisation command: `amp` (and `hdrblend`, NULL for
 * zeroed tables) copied four times into the step's table area. */
struct amp_source {
	const uint8_t *amp;
	const uint8_t *hdrblend;
	uint8_t enable;
	uint8_t hdr_enable;
	uint32_t thres;
};

void amp_linear(const hdr_run *r, queue *q, unsigned b, bool hds_area, const amp_source *s)
{
	uint8_t cmd[CMD_AMP_LINEAR_SIZE];
	memset(cmd, 0, sizeof(cmd));
	put32(cmd, IK_CMD_AMPLIFIER_LINEARIZATION);
	cmd[4] = s->enable;
	cmd[5] = s->hdr_enable;
	cmd[6] = 1;
	memcpy(cmd + 12, s->amp + IK_AMP_LINEAR_LUT_SIZE, IK_AMP_LINEAR_HEADER_SIZE);
	if (s->hdrblend)
		memcpy(cmd + 26, s->hdrblend + IK_AMP_LINEAR_LUT_SIZE, IK_AMP_LINEAR_HEADER_SIZE);
	uint8_t *amp_area = r->tbl + (hds_area ? T_HDS_AMP : T_AMP) + STEP_TABLES * b;
	uint8_t *blend_area = r->tbl + (hds_area ? T_HDS_HDRBLEND : T_HDRBLEND) + STEP_TABLES * b;
	for (unsigned k = 0; k < 4; k++) {
		uint8_t *a = amp_area + TABLE_COPY * k;
		uint8_t *h = blend_area + TABLE_COPY * k;
		ik_memcpy(a, s->amp, IK_AMP_LINEAR_LUT_SIZE);
		if (s->hdrblend)
			ik_memcpy(h, s->hdrblend, IK_AMP_LINEAR_LUT_SIZE);
		else
			ik_memset(h, 0, IK_AMP_LINEAR_LUT_SIZE);
		put32(cmd + 40 + 4 * k, ik_phys(a));
		put32(cmd + 56 + 4 * k, ik_phys(h));
	}
	put32(cmd + 72, s->thres);
	push(q, cmd, sizeof(cmd));
}

/* Step b of one set as the main blend queue takes it. */
amp_source step_tables(const hdr_run *r, unsigned b, bool hds)
{
	amp_source s;
	s.amp = packed(r, hds, b + 1);
	s.hdrblend = b == 0 ? packed(r, hds, 0) : NULL;
	s.enable = amp_ena(r, hds, b + 1) != 0;
	s.hdr_enable = b == 0 && amp_ena(r, hds, 0) != 0;
	s.thres = r->h->amp_linearization_blend[b][0];
	return s;
}

void vignette(const hdr_run *r, queue *q, unsigned b, bool hdr_enable)
{
	const uint8_t *vig = ik_sec_bytes(r->body->sec, IK_SEC_VIGNETTE);
	uint8_t cmd[CMD_VIGNETTE_SIZE];
	memset(cmd, 0, sizeof(cmd));
	put32(cmd, IK_CMD_DGAIN_VIGNETTE_COMPENSATION);
	cmd[4] = vig[IK_SECB_VIGNETTE_ENABLE];
	cmd[5] = hdr_enable ? cmd[4] : 0;
	cmd[6] = vig[IK_SECB_VIGNETTE_SHIFT];
	for (unsigned k = 0; k < 4; k++) {
		uint8_t *t = r->tbl + T_VIGNETTE + VIGNETTE_STRIDE * k;
		uint32_t from = r->body->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST + k];
		if (b == 0 && from != 0)
			ik_memcpy(t, ik_user(from), VIGNETTE_USED);
		put32(cmd + 8 + 4 * k, ik_phys(t));
	}
	push(q, cmd, sizeof(cmd));
}

void gains_and_vignette(const hdr_run *r, queue *q, unsigned b)
{
	if (any(r, IK_UPD_HDR_FRONT_END_WB_GAIN(0), IK_UPD_HDR_FRONT_END_WB_GAIN(3)))
		push(q, r->h->dgain_vignette_digital_gain[b], CMD_DGAIN_SIZE);
	if (any(r, IK_UPD_HDR_DGAIN_SATURATION(0), IK_UPD_HDR_DGAIN_SATURATION(3)))
		push(q, r->h->dgain_vignette_saturation[b], sizeof(r->h->dgain_vignette_saturation[b]));
	if (flag(r, IK_UPD_HDR_VIGNETTE))
		vignette(r, q, b, b == 0);
}

void main_blend(const hdr_run *r, queue *q, unsigned b)
{
	black_levels(r, q, b);
	if (any_amp(r)) {
		amp_source s = step_tables(r, b, false);
		amp_linear(r, q, b, false, &s);
	}
	gains_and_vignette(r, q, b);
	finish(q);
}

void img_dsp_core_hdr_two_exp_post_exe_hds_blend_queue(const hdr_run *r, queue *q)
{
	black_levels(r, q, 0);
	if (any_amp(r) || any(r, IK_UPD_AMP_LINEAR_HDS(0), IK_UPD_AMP_LINEAR_HDS(3))) {
		uint32_t h0 = amp_ena(r, true, 0), h1 = amp_ena(r, true, 1);
		bool hds = h0 == 1 && h1 == 1;
		if ((h0 == 1) != (h1 == 1))
			IK_ERROR("amplinear_hds[0].amplinear_ena %d != amplinear_hds[1].amplinear_ena %d\n",
			         (int)h0, (int)h1);
		amp_source s;
		s.amp = packed(r, hds, 1);
		s.hdrblend = packed(r, hds, 0);
		s.enable = h1 == 1 ? 1 : amp_ena(r, false, 1) != 0;
		s.hdr_enable = h0 == 1 ? 1 : amp_ena(r, false, 0) != 0;
		s.thres = 16;
		amp_linear(r, q, 0, true, &s);
	}
	if (any(r, IK_UPD_HDR_FRONT_END_WB_GAIN(0), IK_UPD_HDR_FRONT_END_WB_GAIN(3)))
		push(q, r->h->dgain_vignette_digital_gain[0], CMD_DGAIN_SIZE);
	if (flag(r, IK_UPD_HDR_VIGNETTE))
		vignette(r, q, 0, true);
	finish(q);
}

void hds_blend_more(const hdr_run *r, queue *q, unsigned b)
{
	black_levels(r, q, b);
	if (any_amp(r)) {
		bool hds = amp_ena(r, true, 0) == 1 && amp_ena(r, true, 1) == 1 && amp_ena(r, true, 2) == 1;
		amp_source s = step_tables(r, b, false);
		if (hds) {
			s.amp = packed(r, true, b == 0 ? 1 : 2);
			s.hdrblend = b == 0 ? packed(r, true, 0) : NULL;
			s.enable = 1;
			s.hdr_enable = b == 0;
		}
		s.thres = 16;
		amp_linear(r, q, b, true, &s);
	}
	gains_and_vignette(r, q, b);
	finish(q);
}

/* ---- preblend queues ---------------------------------------------------- */

/* The configuration and the alpha record, whose packed table is copied to
 * `area` and named there. */
void config_and_alpha(const hdr_run *r, queue *q, const uint8_t *config, unsigned b, uint8_t *area,
                      const uint8_t *table)
{
	push(q, config, CMD_HDR_PREBLEND_CONFIG_SIZE);
	uint8_t alpha[CMD_HDR_PREBLEND_CONFIG_SIZE];
	memcpy(alpha, r->h->preblend_alpha[b], sizeof(alpha));
	if (table)
		ik_memcpy(area, table, IK_HDR_ALPHA_PACKED_SIZE);
	put32(alpha + 8, ik_phys(area));
	push(q, alpha, sizeof(alpha));
}

bool cfg_or_alpha(const hdr_run *r, unsigned b)
{
	return flag(r, IK_UPD_HDR_ALPHA_CALC_CFG(b)) || flag(r, IK_UPD_HDR_ALPHA_TABLE(b));
}

const uint8_t *stored_alpha(const hdr_run *r, unsigned b)
{
	uint32_t a = get32(r->h->preblend_alpha[b] + 8);
	return a ? (const uint8_t *)ik_user(a) : NULL;
}

void main_preblend(const hdr_run *r, queue *q, unsigned b)
{
	if (cfg_or_alpha(r, b))
		config_and_alpha(r, q, r->h->preblend_config[b], b,
		                 r->tbl + T_ALPHA + IK_HDR_ALPHA_PACKED_SIZE * b, stored_alpha(r, b));
	if (flag(r, IK_UPD_HDR_ALPHA_CALC_THRESH(b)))
		push(q, r->h->preblend_thresh[b], sizeof(r->h->preblend_thresh[b]));
	if (flag(r, IK_UPD_BLACK_LEVEL) || (b == 0 && flag(r, IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL)))
		push(q, r->h->preblend_black_level[b], sizeof(r->h->preblend_black_level[b]));
	finish(q);
}

bool hds_thresh_set(const hdr_run *r, unsigned b)
{
	for (uint16_t v : r->h->hds_thresh[b].saturation_threshold)
		if (v == HDS_THRESH_UNSET)
			return false;
	return true;
}

void thresh_record(queue *q, const uint16_t *v)
{
	uint8_t cmd[CMD_HDR_PREBLEND_CONFIG_SIZE];
	put32(cmd, 0x0900500Cu);
	memcpy(cmd + 4, v, 8);
	push(q, cmd, sizeof(cmd));
}

void hds_preblend_two(const hdr_run *r, queue *q)
{
	if (cfg_or_alpha(r, 0))
		config_and_alpha(r, q, r->h->preblend_config[0], 0, r->tbl + T_ALPHA, stored_alpha(r, 0));
	if (hds_thresh_set(r, 0)) {
		if (flag(r, IK_UPD_HDS_ALPHA_CALC_THRESH(0)))
			push(q, r->h->hds_preblend_thresh[0], sizeof(r->h->hds_preblend_thresh[0]));
	} else if (flag(r, IK_UPD_BLACK_LEVEL) ||
	           any(r, IK_UPD_HDR_STATIC_BLACK_LEVEL(0), IK_UPD_HDR_STATIC_BLACK_LEVEL(3))) {
		/* from the HDR input's offsets, back in R, Gr, Gb, B order: each
		 * pattern's arrangement is its own inverse */
		int32_t off[4];
		memcpy(off, r->h->black_level_global_offset_hdr[0] + 4, sizeof(off));
		uint16_t pos[4], v[4];
		for (unsigned k = 0; k < 4; k++)
			pos[k] = (uint16_t)(off[k] + 2048);
		uint8_t pattern = ik_hdr_pattern(r->body);
		if (ik_hdr_pattern_order(pattern, pos, v, 2) != 0)
			for (auto &t : v)
				t = 2048;
		thresh_record(q, v);
	}
	if (flag(r, IK_UPD_BLACK_LEVEL) || flag(r, IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL))
		push(q, r->h->preblend_black_level[0], sizeof(r->h->preblend_black_level[0]));
	finish(q);
}

/* Every row 0 8 15 15 15 15 15 15 15. */
void fixed_hds_alpha(uint8_t *area)
{
	static const uint8_t row[9] = {0, 8, 15, 15, 15, 15, 15, 15, 15};
	uint8_t table[IMG_DSP_HDR_ALPHA_TABLE_SIZE];
	memset(table, 0, sizeof(table));
	for (unsigned i = 0; i < 14; i++)
		memcpy(table + 9 * i, row, sizeof(row));
	uint16_t words[IK_HDR_ALPHA_PACKED_SIZE / 2], old[IK_HDR_ALPHA_PACKED_SIZE / 2];
	ik_hdr_pack_alpha(table, words);
	memcpy(old, area, sizeof(old));
	for (unsigned k = 0; k < IK_HDR_ALPHA_PACKED_SIZE / 2; k++)
		old[k] = (uint16_t)(old[k] | words[k]);
	ik_memcpy(area, old, sizeof(old));
}

void hds_preblend_more(const hdr_run *r, queue *q, unsigned b)
{
	if (cfg_or_alpha(r, b)) {
		uint8_t cfg[CMD_HDR_PREBLEND_CONFIG_SIZE];
		memcpy(cfg, r->h->preblend_config[b], sizeof(cfg));
		cfg[4] = 2;
		cfg[6] = 1;
		memset(cfg + 9, cfg[8], 3);
		uint8_t *area = r->tbl + T_HDS_ALPHA + IK_HDR_ALPHA_PACKED_SIZE * b;
		fixed_hds_alpha(area);
		config_and_alpha(r, q, cfg, b, area, NULL);
	}
	if (flag(r, IK_UPD_HDR_ALPHA_CALC_THRESH(b))) {
		if (hds_thresh_set(r, 0) && hds_thresh_set(r, 1)) {
			push(q, r->h->hds_preblend_thresh[b], sizeof(r->h->hds_preblend_thresh[b]));
		} else {
			uint16_t v[4], in[4];
			if (b == 0) {
				for (unsigned k = 0; k < 4; k++)
					in[k] = (uint16_t)(r->h->thresh[0].saturation_threshold[k] >> 2);
				ik_hdr_pattern_order(ik_hdr_pattern(r->body), in, v, 2);
			} else {
				uint16_t e100;
				memcpy(&e100, r->h->amp_linearization_lut[b] + 2 * 100, 2);
				for (auto &t : v)
					t = (uint16_t)(e100 >> 2);
			}
			thresh_record(q, v);
		}
	}
	if (flag(r, IK_UPD_BLACK_LEVEL) || (b == 0 && flag(r, IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL)))
		push(q, r->h->preblend_black_level[b], sizeof(r->h->preblend_black_level[b]));
	finish(q);
}

/* ---- the configuration --------------------------------------------------- */

queue queue_at(uint8_t *tbl, uint32_t offset, unsigned b)
{
	return queue{tbl + offset + IK_HDR_QUEUE_SIZE * b, 0};
}

void write_record(const hdr_run *r, img_dsp_hdr_cfg *cfg)
{
	ik_memset(cfg, 0, HDR_RECORD_BUILT);
	for (unsigned b = 0; b < IK_HDR_BLENDS; b++) {
		cfg->preblend_cmds_daddr[b][0] = ik_phys(r->tbl + T_PREBLEND + IK_HDR_QUEUE_SIZE * b);
		cfg->preblend_cmds_daddr[b][1] = ik_phys(r->tbl + T_HDS_PREBLEND + IK_HDR_QUEUE_SIZE * b);
		cfg->blend_cmds_daddr[b][0] = ik_phys(r->tbl + T_BLEND + IK_HDR_QUEUE_SIZE * b);
		cfg->blend_cmds_daddr[b][1] = ik_phys(r->tbl + T_HDS_BLEND + IK_HDR_QUEUE_SIZE * b);
	}
	uint32_t steps = (1u << r->blends) - 1u;
	cfg->flags = steps | (0xFu << 3) | ((r->blends + 1u) << 7);
	img_dsp_hdr_raw_offset raw;
	memcpy(&raw, r->h->raw_offset, sizeof(raw));
	for (unsigned e = 0; e < 4; e++)
		cfg->raw_daddr_start_offset_y[e] = (uint32_t)raw.y_offset[e];
}

/* The next table block of the context's ring. */
int next_table_block(const img_dsp_mode *mode, uint8_t **tbl)
{
	uint8_t *status = NULL;
	uint32_t n = 0;
	int rc = img_dsp_core_utility_get_hdr_config_tbl_status(mode, &status, &n);
	if (rc != 0) {
		ik_print("[IK][Warning]%s() %d call img_dsp_core_utility_get_hdr_config_tbl_status() fail\n",
		         "img_dsp_core_hdr_post_exe", __LINE__);
		return rc;
	}
	void *blk = NULL;
	if (n != 0) {
		img_dsp_core_utility_step_index(1, &status[0], (uint8_t)(mode->ContextId * n), (uint8_t)n);
		img_dsp_cfg_id id = {mode->Pipe, status[0], {0, 0, 0}};
		rc = img_dsp_core_utility_get_hdr_config_tbl(&id, &blk);
	}
	/* a context owns no table block when there are fewer than contexts */
	if (n == 0 || rc != 0) {
		ik_print("[IK][Warning]%s() %d call img_dsp_core_utility_get_hdr_config_tbl() fail\n",
		         "img_dsp_core_hdr_post_exe", __LINE__);
		return rc != 0 ? rc : -1;
	}
	*tbl = (uint8_t *)blk;
	return 0;
}

} // namespace

int img_dsp_core_hdr_post_exe(const img_dsp_mode *mode)
{
	img_dsp_core_hdr_update_cfg_history(mode);
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *ctx = NULL;
	hdr_run r;
	memset(&r, 0, sizeof(r));
	r.mode = mode;
	r.body = ik_hdr_body(mode, &ctx);
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *rec = NULL;
	if (!r.body || img_dsp_core_utility_get_hdr_config(&id, &rec) != 0)
		return -1;
	int rc = next_table_block(mode, &r.tbl);
	if (rc != 0)
		return rc;
	r.h = &r.body->blk.hdr;
	r.flags = r.body->update_flags;
	r.blends = r.h->blending_info[0] > IK_HDR_BLENDS ? IK_HDR_BLENDS : r.h->blending_info[0];
	r.buf = (const uint8_t *)(uintptr_t)((const ik_ctx_head *)ctx)->buf[ik_buffer_index(mode, ctx)];
	r.black_change = flag(&r, IK_UPD_BLACK_LEVEL) ||
	                 any(&r, IK_UPD_HDR_STATIC_BLACK_LEVEL(0), IK_UPD_HDR_STATIC_BLACK_LEVEL(3)) ||
	                 any(&r, IK_UPD_AMP_LINEAR_BLACK_LEVEL(0), IK_UPD_HDR_BLEND_BLACK_LEVEL(2));
	rc = img_dsp_core_prepare_hdr_dgain(&r);
	if (rc != 0)
		return rc;
	write_record(&r, (img_dsp_hdr_cfg *)rec);
	for (unsigned b = 0; b < IK_HDR_BLENDS; b++) {
		queue pre = queue_at(r.tbl, T_PREBLEND, b), hds_pre = queue_at(r.tbl, T_HDS_PREBLEND, b);
		queue blend = queue_at(r.tbl, T_BLEND, b), hds_blend = queue_at(r.tbl, T_HDS_BLEND, b);
		if (b >= r.blends) {
			finish(&pre);
			finish(&hds_pre);
			finish(&blend);
			finish(&hds_blend);
			continue;
		}
		main_blend(&r, &blend, b);
		main_preblend(&r, &pre, b);
		if (r.blends == 1) {
			img_dsp_core_hdr_two_exp_post_exe_hds_blend_queue(&r, &hds_blend);
			hds_preblend_two(&r, &hds_pre);
		} else {
			hds_blend_more(&r, &hds_blend, b);
			hds_preblend_more(&r, &hds_pre, b);
		}
	}
	return 0;
}

/* ---- posting ------------------------------------------------------------ */

static const img_dsp_debug_hook post_hook = {LOG_VIDEO_HDR_POST_EXECUTE, IK_HOOK_RECORD, NULL};

extern "C" __attribute__((noinline)) int vors_img_dsp_set_hdr_video_post_proc(int fd,
                                                                              const img_dsp_mode *mode)
{
	img_dsp_debug_hooks(__func__, __builtin_extract_return_addr(__builtin_return_address(0)), &post_hook,
	                    mode, mode, sizeof(*mode));
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO)
		return -1;
	/* a configuration that was not rebuilt must not reach the DSP again */
	if (img_dsp_core_hdr_post_exe(mode) != 0)
		return -1;
	vors_img_dsp_hdr_cfg_use_physical_tbl_addr(mode);
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *rec = NULL;
	if (img_dsp_core_utility_get_hdr_config(&id, &rec) != 0)
		return -1;
	img_dsp_hdr_cfg *cfg = (img_dsp_hdr_cfg *)rec;
	for (unsigned b = 0; b < IK_HDR_BLENDS; b++) {
		for (unsigned k = 0; k < 2; k++) {
			cfg->preblend_cmds_daddr[b][k] =
			    ik_phys((const void *)(uintptr_t)cfg->preblend_cmds_daddr[b][k]);
			cfg->blend_cmds_daddr[b][k] =
			    ik_phys((const void *)(uintptr_t)cfg->blend_cmds_daddr[b][k]);
		}
	}
	if (img_dsp_debug_log_enable(LOG_VIDEO_HDR_POST_EXECUTE))
		img_dsp_core_utility_print_hdrcfg(cfg);
	unsigned long req =
	    cfg->prev_cfg != 0 ? QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG : QVD_IOC_IMG_SET_MULTI_CHAN_CFG;
	return img_dsp_post_cfg_part(__func__, fd, req, mode, QVD_CFG_KIND_HDR, cfg, 0);
}

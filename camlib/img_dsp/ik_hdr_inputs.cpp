/*
 * HDR exposure inputs: the linearisation blend threshold, the digital-gain
 * saturation levels, the front-end white-balance gains and the raw offsets.
 */
#include "ik_color.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"

#include <stddef.h>
#include <string.h>

#define IK_CMD_DGAIN_VIGNETTE_SATURATION 0x09002018u
#define IK_LOG_AMP_LINEAR_BLEND 52u
#define IK_SATURATION_MAX 16383u

/* The body of a per-exposure step past its check: pipe 0 and an exposure
 * the blending number allows. A refusal stores nothing and is -1, so a
 * caller never takes it for success. */
static ik_ctx_body *exposure_body(const char *caller, const img_dsp_mode *mode, int32_t e)
{
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		return NULL;
	}
	uint8_t max = body->blk.hdr.blending_info[0];
	if (e > (int32_t)max) {
		ik_print("[IK][Error]%s() %d exposure_index: %d >= max_blending_number %d\n", caller,
		         __LINE__, e, max);
		return NULL;
	}
	return body;
}

static bool exposure_ok(const char *caller, int32_t e, const void *block, const char *null_name,
                        const char *check)
{
	bool ok = e >= 0 && e < (int32_t)IK_HDR_EXPOSURES;
	if (!ok)
		ik_print("[IK][Error]%s() %d exposure_index %d should be within [0:3] in %s\n", caller,
		         __LINE__, e, check);
	else if (!block)
		ik_print("[IK][Error]%s() %d %s is NULL in %s\n", caller, __LINE__, null_name, check);
	if (ok && block)
		return true;
	ik_print("[IK][Warning]%s() %d call %s() fail\n", caller, __LINE__, check);
	return false;
}

/* ---- static black levels ------------------------------------------------ */

#define IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET_HDR 0x0900200Eu
#define IK_BLACK_TRIPLES 20u /* the three offset triples of a main black-level record */
#define IK_BLACK_TRIPLES_SIZE 18u
#define IK_AMPLINEAR_OFFSET 4u
#define IK_AMP_HDR_OFFSET 20u
#define IK_HDRBLEND_OFFSET 36u

static void put_code(uint8_t *rec, uint32_t code)
{
	memcpy(rec, &code, 4);
}

/* Clamps in the order B, then `mid` (two of Gr, Gb), then R. */
static int clamp_black(const char *caller, img_dsp_static_black_level *b, int lo, int hi, bool gb_first,
                       const char *check)
{
	struct {
		const char *name;
		int16_t *v;
	} order[4] = {{"BlackB", &b->BlackB},
	              {gb_first ? "BlackGb" : "BlackGr", gb_first ? &b->BlackGb : &b->BlackGr},
	              {gb_first ? "BlackGr" : "BlackGb", gb_first ? &b->BlackGr : &b->BlackGb},
	              {"BlackR", &b->BlackR}};
	int rc = 0;
	for (const auto &o : order) {
		if (*o.v >= lo && *o.v <= hi)
			continue;
		ik_print("[IK][Warning]%s() %d %s %d should be within [%d:%d] in %s \n", caller, __LINE__,
		         o.name, *o.v, lo, hi, check);
		*o.v = (int16_t)(*o.v < lo ? lo : hi);
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

/* The four values as i32 in the context's pattern order. */
static int black_in_pattern(const char *caller, const ik_ctx_body *body, const img_dsp_static_black_level *b,
                            int32_t *out)
{
	const int32_t v[4] = {b->BlackR, b->BlackGr, b->BlackGb, b->BlackB};
	if (ik_hdr_pattern_order(ik_hdr_pattern(body), v, out, 4) == 0)
		return 0;
	ik_print("[IK][Warning]%s() %d Incorrect pattern %d\n", caller, __LINE__, ik_hdr_pattern(body));
	return -1;
}

static int img_dsp_core_process_hdr_static_black_level(const img_dsp_mode *mode, void *block, uint32_t index,
                                                       img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_hdr_static_black_level";
	int32_t e = (int32_t)index;
	img_dsp_static_black_level *b = (img_dsp_static_black_level *)block;
	if (!b) {
		IK_ERROR("p_hdr_black_corr is NULL in %s\n", check);
		return -1;
	}
	int rc = clamp_black(__func__, b, -2048, 2047, true, check);
	if (e < 0 || e >= (int32_t)IK_HDR_EXPOSURES) {
		IK_ERROR("exposure_index %d should be within [0:3] in %s\n", e, check);
		return -1;
	}
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	int32_t v[4];
	if (black_in_pattern(__func__, body, b, v) != 0)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	ik_memcpy(h->static_black_level[e], b, sizeof(*b));
	/* the offset triples belong to the single-exposure path; HDR runs
	 * without them until their owners write them again */
	ik_memset(ik_sec_bytes(body->sec, IK_SEC_BLACK_LEVEL) + IK_BLACK_TRIPLES, 0, IK_BLACK_TRIPLES_SIZE);
	uint8_t *rec;
	if (e == 0) {
		rec = h->black_level_global_offset_hdr[0];
		ik_memcpy(rec + 4, v, sizeof(v));
		put_code(rec, IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET_HDR);
	} else {
		rec = h->black_level_global_offset[e - 1];
		ik_memset(rec, 0, sizeof(h->black_level_global_offset[0]));
		put_code(rec, IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET);
		ik_memcpy(rec + 4, v, sizeof(v));
		if (e >= 2) {
			uint8_t *hdr = h->black_level_global_offset_hdr[e - 1];
			ik_memset(hdr, 0, sizeof(h->black_level_global_offset_hdr[0]));
			put_code(hdr, IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET_HDR);
		}
	}
	ik_flag_set(body->update_flags, IK_UPD_HDR_STATIC_BLACK_LEVEL(e));
	list->entry[0].valid = 1;
	list->entry[0].section = rec;
	return rc;
}

#define IK_CMD_HDR_PREBLEND_BLACK_LEVEL 0x0900500Du

int img_dsp_core_process_post_hdr_static_black_level(const img_dsp_mode *mode, void *block, uint32_t,
                                                     img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_hdr_static_black_level";
	img_dsp_static_black_level *b = (img_dsp_static_black_level *)block;
	if (!b) {
		IK_ERROR("p_hdr_black_corr is NULL in %s\n", check);
		return -1;
	}
	int rc = clamp_black(__func__, b, -2048, 2047, true, check);
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	ik_hdr_blocks *h = &body->blk.hdr;
	uint8_t *rec = h->post_black_level_global_offset;
	int32_t v[4];
	if (black_in_pattern(__func__, body, b, v) != 0) {
		ik_memset(rec + 4, 0, sizeof(v));
		return -1;
	}
	ik_memcpy(body->blk.static_black_level, b, sizeof(*b));
	ik_memcpy(h->post_static_black_level, b, sizeof(*b));
	ik_memset(rec, 0, sizeof(h->post_black_level_global_offset));
	put_code(rec, IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET);
	ik_memcpy(rec + 4, v, sizeof(v));
	uint8_t *main_rec = ik_sec_bytes(body->sec, IK_SEC_BLACK_LEVEL);
	ik_memcpy(main_rec, rec, sizeof(h->post_black_level_global_offset));
	ik_flag_set(body->update_flags, IK_UPD_BLACK_LEVEL);
	list->entry[0].valid = 1;
	list->entry[0].section = main_rec;
	uint8_t blends = h->blending_info[0];
	for (uint32_t i = 0; i < blends && i < IK_HDR_BLENDS; i++) {
		uint8_t *pre = h->preblend_black_level[i];
		put_code(pre, IK_CMD_HDR_PREBLEND_BLACK_LEVEL);
		for (int k = 0; k < 4; k++) {
			int16_t n = (int16_t)v[k];
			ik_memcpy(pre + 4 + 2 * k, &n, 2);
		}
		ik_memcpy(h->black_level_global_offset[i], rec, sizeof(h->black_level_global_offset[0]));
		uint8_t *hdr = h->black_level_global_offset_hdr[i];
		ik_memset(hdr, 0, sizeof(h->black_level_global_offset_hdr[0]));
		put_code(hdr, IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET_HDR);
		if (i == 0)
			ik_memcpy(hdr + 4, v, sizeof(v));
	}
	return rc;
}

/* Linearisation (exposures 0-2) and blend (steps 0-2) black levels share
 * one check and one record per step. */
static int amp_black(const char *caller, const img_dsp_mode *mode, img_dsp_static_black_level *b,
                     int32_t index, bool blend, img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_amp_linear_static_black_level";
	if (!b) {
		ik_print("[IK][Error]%s() %d p_hdr_black_corr is NULL in %s\n", caller, __LINE__, check);
		return -1;
	}
	int rc = clamp_black(caller, b, 0, 10383, false, check);
	if (index < 0 || index > 2) {
		if (blend)
			ik_print("[IK][Error]%s() %d blending_index %d should be within [0:2] in %s\n",
			         caller, __LINE__, index, check);
		else
			ik_print("[IK][Warning]%s() %d Incorrect expsoure idex %d\n", caller, __LINE__,
			         index);
		return -1;
	}
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		return -1;
	}
	int32_t v[4];
	if (black_in_pattern(caller, body, b, v) != 0)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	uint8_t *rec;
	if (blend) {
		ik_memcpy(h->blend_black_level[index], b, sizeof(*b));
		rec = h->black_level_amplinear_hdr[index];
		ik_memcpy(rec + IK_HDRBLEND_OFFSET, v, sizeof(v));
		ik_flag_set(body->update_flags, IK_UPD_HDR_BLEND_BLACK_LEVEL(index));
	} else {
		ik_memcpy(h->amp_linearization_black_level[index], b, sizeof(*b));
		rec = h->black_level_amplinear_hdr[index == 0 ? 0 : index - 1];
		ik_memcpy(rec + (index == 0 ? IK_AMPLINEAR_OFFSET : IK_AMP_HDR_OFFSET), v, sizeof(v));
		ik_flag_set(body->update_flags, IK_UPD_AMP_LINEAR_BLACK_LEVEL(index));
	}
	list->entry[0].valid = 1;
	list->entry[0].section = rec;
	return rc;
}

static int img_dsp_core_process_amp_linearization_static_black_level(const img_dsp_mode *mode, void *block,
                                                                     uint32_t index,
                                                                     img_dsp_update_list *list)
{
	return amp_black(__func__, mode, (img_dsp_static_black_level *)block, (int32_t)index, false, list);
}

static int img_dsp_core_process_hdr_blend_static_black_level(const img_dsp_mode *mode, void *block,
                                                             uint32_t index, img_dsp_update_list *list)
{
	return amp_black(__func__, mode, (img_dsp_static_black_level *)block, (int32_t)index, true, list);
}

/* ---- linearisation blend threshold ------------------------------------- */

static int img_dsp_core_process_amp_linear_blend(const img_dsp_mode *mode, void *block, uint32_t index,
                                                 img_dsp_update_list *)
{
	static const char check[] = "img_dsp_check_set_amp_linearization";
	int32_t b = (int32_t)index;
	const img_dsp_amp_linearization_blend *t = (const img_dsp_amp_linearization_blend *)block;
	bool ok = false;
	if (b < 0 || b > 2)
		IK_ERROR("blending_index %d should be within [0:2] in %s\n", b, check);
	else if (!t)
		IK_ERROR("p_amp_linear_blend is NULL in %s\n", check);
	else if (t->alpha_index_threshold > 16)
		IK_ERROR("p_amp_linear_blend: AlphaIndexThreshold > 16 in %s\n", check);
	else
		ok = true;
	if (!ok) {
		IK_WARN("call %s() fail\n", check);
		return -1;
	}
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	ik_memcpy(body->blk.hdr.amp_linearization_blend[b], t, sizeof(*t));
	ik_flag_set(body->update_flags, IK_UPD_HDR_AMP_LINEAR(b));
	return 0;
}

static void put_u16(uint8_t *p, uint32_t v)
{
	uint16_t w = (uint16_t)v;
	memcpy(p, &w, 2);
}

/* ---- amplifier linearisation ---------------------------------------------- */

uint32_t ik_hdr_grid_code(unsigned i)
{
	if (i <= 64)
		return 4 * i;
	if (i <= 96)
		return 256 + 8 * (i - 64);
	if (i <= 128)
		return 512 + 16 * (i - 96);
	if (i <= 224)
		return 1024 + 32 * (i - 128);
	if (i <= 288)
		return 4096 + 64 * (i - 224);
	if (i <= 351)
		return 8192 + 128 * (i - 288);
	return 16256;
}

void ik_hdr_put12(uint8_t *table, unsigned i, uint32_t v)
{
	unsigned bit = 12 * i;
	uint32_t bits = (v & 0xFFFu) << (bit & 7);
	table[bit / 8] |= (uint8_t)bits;
	table[bit / 8 + 1] |= (uint8_t)(bits >> 8);
}

void ik_hdr_put_shift(uint8_t *header, unsigned f, unsigned shift)
{
	uint16_t w;
	memcpy(&w, header + 2 * (f / 5), 2);
	w = (uint16_t)(w | ((shift & 7u) << (3 * (f % 5))));
	memcpy(header + 2 * (f / 5), &w, 2);
}

/* Bit length of the part of a value above 12 bits. */
static unsigned high_bits(uint32_t v)
{
	unsigned n = 0;
	for (v >>= 12; v; v >>= 1)
		n++;
	return n;
}

/* The first entry of each of the eight groups, then the final entry. */
static const uint16_t group_first[9] = {0, 32, 64, 96, 128, 160, 224, 288, 352};

void ik_hdr_pack_amp_linear(const uint16_t *lut, uint8_t *area, uint8_t *header)
{
	uint32_t cap[8];
	unsigned shift[8];
	cap[7] = lut[352];
	shift[7] = high_bits(cap[7]);
	/* each group is capped where the next one starts, at the next one's
	 * precision, so the packed curve never steps back at a boundary */
	for (int g = 6; g >= 0; g--) {
		uint32_t next = lut[g == 6 ? 352 : group_first[g + 1]];
		next = (next >> shift[g + 1]) << shift[g + 1];
		uint32_t last = lut[group_first[g + 1] - 1];
		cap[g] = next < last ? next : last;
		shift[g] = high_bits(cap[g]);
	}
	for (unsigned g = 0; g < 8; g++) {
		for (unsigned i = group_first[g]; i < group_first[g + 1]; i++) {
			uint32_t v = lut[i] < cap[g] ? lut[i] : cap[g];
			ik_hdr_put12(area, i, v >> shift[g]);
		}
	}
	put_u16(area + 528, (uint32_t)(lut[352] >> shift[7]));
	for (unsigned f = 0; f < 32; f++)
		ik_hdr_put_shift(header, f, shift[f % 8]);
}

static int check_amp_linearization(const char *caller, img_dsp_amp_linearization *a, int32_t e, bool hdr)
{
	static const char check_hdr[] = "img_dsp_check_set_hdr_amp_linearization";
	static const char check_single[] = "img_dsp_check_set_amp_linearization";
	const char *check = hdr ? check_hdr : check_single;
	if (hdr && (e < 0 || e >= (int32_t)IK_HDR_EXPOSURES)) {
		ik_print("[IK][Error]%s() %d exposure_index %d should be within [0:3] in %s\n", caller,
		         __LINE__, e, check);
		return -1;
	}
	if (!a) {
		ik_print("[IK][Error]%s() %d p_amp_linearization is NULL in %s\n", caller, __LINE__, check);
		return -1;
	}
	int rc = 0;
	if (a->lut_addr == 0) {
		ik_print("[IK][Error]%s() %d %s == 0 in %s\n", caller, __LINE__,
		         hdr ? "amp_linearization: lut_addr" : "amp_linearization.lut_addr", check);
		rc = -1;
	}
	if (a->amplinear_ena > 1) {
		ik_print("[IK][Warning]%s() %d %s %d should be within [0:1] in %s \n", caller, __LINE__,
		         hdr ? "amplinear_ena" : "amp_linear.amplinear_ena", (int)a->amplinear_ena, check);
		a->amplinear_ena = 1;
		if (rc == 0)
			rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

/* Both sets: without HDR the single linearisation is exposure 1's. */
static int amp_linearization(const char *caller, const img_dsp_mode *mode, void *block, int32_t e, bool hds,
                             img_dsp_update_list *list)
{
	img_dsp_amp_linearization *a = (img_dsp_amp_linearization *)block;
	bool hdr = (mode->FuncMode & IMG_DSP_FUNC_NO_HDR) != 0;
	if (!hdr)
		e = 1;
	int rc = check_amp_linearization(caller, a, e, hdr);
	if (rc == IMG_DSP_FAIL) {
		if (hds)
			ik_print("[IK][Warning]%s() %d call img_dsp_check_set_hdr_amp_linearization() / "
			         "img_dsp_check_set_amp_linearization() fail\n",
			         caller, __LINE__);
		else
			ik_print("[IK][Warning]%s() %d call img_dsp_check_set_amp_linearization() fail\n",
			         caller, __LINE__);
		return rc;
	}
	void *ctx = NULL;
	ik_ctx_body *body = ik_hdr_body(mode, &ctx);
	if (!body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		return -1;
	}
	ik_hdr_blocks *h = &body->blk.hdr;
	if (mode->FuncMode == IMG_DSP_FUNC_NO_HDR && e > (int32_t)h->blending_info[0]) {
		ik_print("[IK][Error]%s() %d exposure_index: %d >= max_blending_number %d\n", caller,
		         __LINE__, e, h->blending_info[0]);
		return -1;
	}
	uint8_t *stored = hds ? h->amp_linearization_hds[e] : h->amp_linearization[e];
	uint8_t *copy = hds ? h->amp_linearization_hds_lut[e] : h->amp_linearization_lut[e];
	ik_memcpy(stored, a, sizeof(*a));
	ik_memcpy(copy, (const void *)(uintptr_t)a->lut_addr, IK_AMP_LINEAR_LUT_SIZE);
	uint64_t own = (uint64_t)(uintptr_t)copy;
	ik_memcpy(stored + offsetof(img_dsp_amp_linearization, lut_addr), &own, sizeof(own));
	uint8_t *area = ik_color_table(
	    mode, ctx, (hds ? IK_STBL_AMPLINEAR_HDS : IK_STBL_AMPLINEAR) + (unsigned)e,
	    (hds ? IK_VBUF_AMPLINEAR_HDS_LUT : IK_VBUF_AMPLINEAR_LUT) + IK_AMP_LINEAR_STRIDE * (uint32_t)e,
	    0);
	ik_memset(area, 0, IK_AMP_LINEAR_LUT_SIZE + IK_AMP_LINEAR_HEADER_SIZE);
	if (a->amplinear_ena == 1) {
		uint16_t lut[IMG_DSP_AMP_LINEAR_ENTRIES];
		memcpy(lut, copy, sizeof(lut));
		ik_hdr_pack_amp_linear(lut, area, area + IK_AMP_LINEAR_LUT_SIZE);
	}
	ik_flag_set(body->update_flags, hds ? IK_UPD_AMP_LINEAR_HDS(e) : IK_UPD_HDR_AMP_LINEAR(e));
	list->entry[0].valid = 1;
	list->entry[0].section = area;
	return 0;
}

static int img_dsp_core_process_amp_linearization(const img_dsp_mode *mode, void *block, uint32_t index,
                                                  img_dsp_update_list *list)
{
	return amp_linearization(__func__, mode, block, (int32_t)index, false, list);
}

static int img_dsp_core_process_amp_linearization_hds(const img_dsp_mode *mode, void *block, uint32_t index,
                                                      img_dsp_update_list *list)
{
	return amp_linearization(__func__, mode, block, (int32_t)index, true, list);
}

/* ---- digital-gain saturation levels ------------------------------------ */

static int img_dsp_core_process_hdr_dgain_saturation_level(const img_dsp_mode *mode, void *block,
                                                           uint32_t index, img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_hdr_dgain_saturation_level";
	static const char *const names[8] = {
	    "pre_level_red",  "pre_level_green_even",  "pre_level_green_odd",  "pre_level_blue",
	    "post_level_red", "post_level_green_even", "post_level_green_odd", "post_level_blue"};
	int32_t e = (int32_t)index;
	const img_dsp_hdr_dgain_saturation_level *s = (const img_dsp_hdr_dgain_saturation_level *)block;
	if (!exposure_ok(__func__, e, s, "p_hdr_dgain_saturation_level", check))
		return -1;
	uint32_t v[8];
	memcpy(v, s, sizeof(v));
	int rc = 0;
	for (int i = 0; i < 8; i++) {
		if (v[i] > IK_SATURATION_MAX) {
			IK_WARN("p_hdr_dgain_saturation_level.%s %d should be within [0:16383] in %s\n",
			        names[i], (int)v[i], check);
			rc = IMG_DSP_CLAMPED;
		}
	}
	ik_ctx_body *body = exposure_body(__func__, mode, e);
	if (!body)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	ik_memcpy(h->dgain_saturation_level[e], s, sizeof(*s));
	/* the block keeps the caller's values; the record cannot hold more
	 * than the largest level, and 16 bits of a larger one mean nothing */
	for (int i = 0; i < 8; i++)
		if (v[i] > IK_SATURATION_MAX)
			v[i] = IK_SATURATION_MAX;
	uint8_t *rec = h->dgain_vignette_saturation[e];
	uint32_t code = IK_CMD_DGAIN_VIGNETTE_SATURATION;
	memcpy(rec, &code, 4);
	static const int order[4] = {0, 3, 1, 2}; /* red, blue, green even, green odd */
	for (int i = 0; i < 4; i++) {
		put_u16(rec + 4 + 2 * i, v[order[i]]);
		put_u16(rec + 12 + 2 * i, v[4 + order[i]]);
		put_u16(rec + 20 + 2 * i, IK_SATURATION_MAX);
		put_u16(rec + 28 + 2 * i, IK_SATURATION_MAX);
	}
	ik_flag_set(body->update_flags, IK_UPD_HDR_DGAIN_SATURATION(e));
	list->entry[0].valid = 1;
	list->entry[0].section = rec;
	return rc;
}

/* ---- front-end white-balance gains ------------------------------------- */

static int img_dsp_core_process_front_end_wb_gain(const img_dsp_mode *mode, void *block, uint32_t index,
                                                  img_dsp_update_list *)
{
	static const char check[] = "img_dsp_check_set_front_end_wb_gain";
	static const char *const names[3] = {"r_gain", "g_gain", "b_gain"};
	int32_t e = (int32_t)index;
	const img_dsp_front_end_wb_gain *g = (const img_dsp_front_end_wb_gain *)block;
	if (!exposure_ok(__func__, e, g, "p_front_end_wb_gain", check))
		return -1;
	const uint32_t v[3] = {g->r_gain, g->g_gain, g->b_gain};
	int rc = 0;
	for (int i = 0; i < 3; i++) {
		if (v[i] > 0xFFFFFFu) {
			IK_WARN("front_end_wb_gain[%d].%s %d is 12.12 format and should not exceed 0xFFFFFF "
			        "in %s\n",
			        e, names[i], (int)v[i], check);
			rc = IMG_DSP_CLAMPED;
		}
	}
	ik_ctx_body *body = exposure_body(__func__, mode, e);
	if (!body)
		return -1;
	ik_memcpy(body->blk.hdr.front_end_wb_gain[e], g, sizeof(*g));
	ik_flag_set(body->update_flags, IK_UPD_HDR_FRONT_END_WB_GAIN(e));
	return rc;
}

/* ---- raw offsets ---------------------------------------------------------- */

static int img_dsp_core_set_hdr_raw_offset(const img_dsp_mode *mode, void *block, uint32_t,
                                           img_dsp_update_list *)
{
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	if (!block) {
		IK_ERROR("NULL user input pointer.\n");
		return -1;
	}
	ik_memcpy(body->blk.hdr.raw_offset, block, sizeof(img_dsp_hdr_raw_offset));
	return 0;
}

/* ---- debug printing ------------------------------------------------------- */

static void print_exposure_index(void)
{
	ik_print("[IK]exposure_index: %d\n", ik_hdr_print_index());
}

static void print_amp_linearization(const void *block)
{
	const img_dsp_amp_linearization *a = (const img_dsp_amp_linearization *)block;
	print_exposure_index();
	ik_print("[IK]amplinear_ena = %d\n", (int)a->amplinear_ena);
	ik_print("[IK]lut_addr = 0x%.8X\n", (unsigned)a->lut_addr);
	const uint16_t *lut = (const uint16_t *)(uintptr_t)a->lut_addr;
	for (unsigned i = 0; lut && i < IMG_DSP_AMP_LINEAR_ENTRIES; i++) {
		ik_print("[IK]%6d\n", lut[i]);
		if (i % 16 == 15)
			ik_print("[IK]%s\n", "");
	}
}

static void print_blend(const void *block)
{
	ik_print("[IK]blending_index: %d\n", ik_hdr_print_index());
	ik_print("[IK]alpha_index_threshold = %d\n",
	         ((const img_dsp_amp_linearization_blend *)block)->alpha_index_threshold);
}

static void print_saturation(const void *block)
{
	const img_dsp_hdr_dgain_saturation_level *s = (const img_dsp_hdr_dgain_saturation_level *)block;
	print_exposure_index();
	ik_print("[IK]pre_level_red: %d\n", (int)s->pre_level_red);
	ik_print("[IK]pre_level_green_even: %d\n", (int)s->pre_level_green_even);
	ik_print("[IK]pre_level_green_odd: %d\n", (int)s->pre_level_green_odd);
	ik_print("[IK]pre_level_blue: %d\n", (int)s->pre_level_blue);
	ik_print("[IK]post_level_red: %d\n", (int)s->post_level_red);
	ik_print("[IK]post_level_green_even: %d\n", (int)s->post_level_green_even);
	ik_print("[IK]post_level_green_odd: %d\n", (int)s->post_level_green_odd);
	ik_print("[IK]post_level_blue: %d\n", (int)s->post_level_blue);
}

static void print_wb(const void *block)
{
	const img_dsp_front_end_wb_gain *g = (const img_dsp_front_end_wb_gain *)block;
	print_exposure_index();
	ik_print("[IK]r_gain: %d\n", (int)g->r_gain);
	ik_print("[IK]g_gain: %d\n", (int)g->g_gain);
	ik_print("[IK]b_gain: %d\n", (int)g->b_gain);
}

static void print_raw_offset(const void *block)
{
	const img_dsp_hdr_raw_offset *r = (const img_dsp_hdr_raw_offset *)block;
	for (int i = 0; i < 4; i++)
		ik_print("[IK]x_offset[%d]=%d\n", i, r->x_offset[i]);
	for (int i = 0; i < 4; i++)
		ik_print("[IK]y_offset[%d]=%d\n", i, r->y_offset[i]);
}

static const img_dsp_debug_hook amp_hook = {LOG_VIDEO_HDR_AMP_LINEAR, IK_HOOK_RECORD,
                                            print_amp_linearization};
static const img_dsp_debug_hook amp_hds_hook = {LOG_VIDEO_AMP_LINEAR_HDS, IK_HOOK_PRINT_ONLY,
                                                print_amp_linearization};
static const img_dsp_debug_hook blend_hook = {IK_LOG_AMP_LINEAR_BLEND, IK_HOOK_RECORD, print_blend};
static const img_dsp_debug_hook saturation_hook = {LOG_VIDEO_HDR_DGAIN_SATURATION_LEVEL, IK_HOOK_RECORD,
                                                   print_saturation};
static const img_dsp_debug_hook wb_hook = {LOG_VIDEO_HDR_FRONT_END_WB_GAIN, IK_HOOK_RECORD, print_wb};
static const img_dsp_debug_hook raw_offset_hook = {LOG_VIDEO_HDR_RAW_OFFSET, IK_HOOK_RECORD,
                                                   print_raw_offset};

/* ---- public calls ------------------------------------------------------- */

#define CALLER __builtin_extract_return_addr(__builtin_return_address(0))
#define INPUT_SETTER(hook, type, step)                                                                       \
	static const img_dsp_setter setter = {__func__,         &hook, sizeof(type), step,                   \
	                                      IK_PIPES_IN_CORE, NULL,  NULL}
#define HDR_OFF(field) offsetof(ik_ctx_body, blk.hdr.field)

/* The static black levels have no debug output: only lock, step, unlock. */
#define BLACK_SETTER(step)                                                                                   \
	static const img_dsp_setter setter = {                                                               \
	    __func__, NULL, sizeof(img_dsp_static_black_level), step, IK_PIPES_IN_CORE, NULL, NULL}

extern "C" int vors_img_dsp_set_hdr_static_black_level(int fd, const img_dsp_mode *mode,
                                                       img_dsp_static_black_level *block,
                                                       int32_t exposure_index)
{
	BLACK_SETTER(img_dsp_core_process_hdr_static_black_level);
	return img_dsp_common_set(&setter, NULL, fd, mode, block, (uint32_t)exposure_index);
}

extern "C" int vors_img_dsp_set_amp_linearization_static_black_level(int fd, const img_dsp_mode *mode,
                                                                     img_dsp_static_black_level *block,
                                                                     int32_t exposure_index)
{
	BLACK_SETTER(img_dsp_core_process_amp_linearization_static_black_level);
	return img_dsp_common_set(&setter, NULL, fd, mode, block, (uint32_t)exposure_index);
}

extern "C" int vors_img_dsp_set_hdr_blend_static_black_level(int fd, const img_dsp_mode *mode,
                                                             img_dsp_static_black_level *block,
                                                             int32_t blending_index)
{
	BLACK_SETTER(img_dsp_core_process_hdr_blend_static_black_level);
	return img_dsp_common_set(&setter, NULL, fd, mode, block, (uint32_t)blending_index);
}

/* The record carries the caller's table beside the block. */
extern "C" __attribute__((noinline)) int vors_img_dsp_set_amp_linearization(int fd, const img_dsp_mode *mode,
                                                                            img_dsp_amp_linearization *block,
                                                                            int32_t exposure_index)
{
	static const img_dsp_setter setter = {__func__,
	                                      NULL,
	                                      sizeof(img_dsp_amp_linearization),
	                                      img_dsp_core_process_amp_linearization,
	                                      IK_PIPES_IN_CORE,
	                                      NULL,
	                                      NULL};
	ik_hdr_set_print_index(exposure_index);
	ik_debug_hooks_with_table(__func__, CALLER, &amp_hook, mode, block, sizeof(*block),
	                          block ? block->lut_addr : 0, IK_AMP_LINEAR_LUT_SIZE);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)exposure_index);
}

/* The HDS set is internal: its parameters are printed, never logged. */
extern "C" __attribute__((noinline)) int
vors_img_dsp_set_amp_linearization_hds(int fd, const img_dsp_mode *mode, img_dsp_amp_linearization *block,
                                       int32_t exposure_index)
{
	INPUT_SETTER(amp_hds_hook, img_dsp_amp_linearization, img_dsp_core_process_amp_linearization_hds);
	if (img_dsp_debug_log_enable(LOG_VIDEO_AMP_LINEAR_HDS) &&
	    (img_dsp_debug_flags() & IMG_DSP_DEBUG_WRITE_LOG))
		IK_WARN("skip internal parameters\n");
	ik_hdr_set_print_index(exposure_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)exposure_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_amp_linearization_blend(int fd, const img_dsp_mode *mode,
                                         img_dsp_amp_linearization_blend *block, int32_t blending_index)
{
	INPUT_SETTER(blend_hook, img_dsp_amp_linearization_blend, img_dsp_core_process_amp_linear_blend);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hdr_dgain_saturation_level(int fd, const img_dsp_mode *mode,
                                            img_dsp_hdr_dgain_saturation_level *block, int32_t exposure_index)
{
	INPUT_SETTER(saturation_hook, img_dsp_hdr_dgain_saturation_level,
	             img_dsp_core_process_hdr_dgain_saturation_level);
	ik_hdr_set_print_index(exposure_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)exposure_index);
}

extern "C" __attribute__((noinline)) int vors_img_dsp_set_front_end_wb_gain(int fd, const img_dsp_mode *mode,
                                                                            img_dsp_front_end_wb_gain *block,
                                                                            int32_t exposure_index)
{
	INPUT_SETTER(wb_hook, img_dsp_front_end_wb_gain, img_dsp_core_process_front_end_wb_gain);
	ik_hdr_set_print_index(exposure_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)exposure_index);
}

extern "C" __attribute__((noinline)) int vors_img_dsp_set_hdr_raw_offset(int fd, const img_dsp_mode *mode,
                                                                         img_dsp_hdr_raw_offset *block)
{
	INPUT_SETTER(raw_offset_hook, img_dsp_hdr_raw_offset, img_dsp_core_set_hdr_raw_offset);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, 0);
}

/* Without HDR there is one linearisation, kept as exposure 1's. */
static int get_amp_linearization(const char *caller, const img_dsp_mode *mode, void *out, size_t first,
                                 int32_t e, const char *name)
{
	if (mode && !(mode->FuncMode & IMG_DSP_FUNC_NO_HDR))
		e = 1;
	return ik_hdr_get_indexed(caller, mode, out, first, sizeof(img_dsp_amp_linearization), e,
	                          IK_HDR_EXPOSURES, name);
}

extern "C" int vors_img_dsp_get_amp_linearization(const img_dsp_mode *mode, img_dsp_amp_linearization *out,
                                                  int32_t exposure_index)
{
	return get_amp_linearization(__func__, mode, out, HDR_OFF(amp_linearization), exposure_index,
	                             "p_amp_linearizatoin");
}

extern "C" int vors_img_dsp_get_amp_linearization_hds(const img_dsp_mode *mode,
                                                      img_dsp_amp_linearization *out, int32_t exposure_index)
{
	return get_amp_linearization(__func__, mode, out, HDR_OFF(amp_linearization_hds), exposure_index,
	                             "p_amp_linearization_hds");
}

extern "C" int vors_img_dsp_get_amp_linearization_blend(const img_dsp_mode *mode,
                                                        img_dsp_amp_linearization_blend *out,
                                                        int32_t blending_index)
{
	return ik_hdr_get_indexed(__func__, mode, out, HDR_OFF(amp_linearization_blend), sizeof(*out),
	                          blending_index, IK_HDR_BLENDS, "p_amp_linearizatoin");
}

extern "C" int vors_img_dsp_get_hdr_dgain_saturation_level(const img_dsp_mode *mode,
                                                           img_dsp_hdr_dgain_saturation_level *out,
                                                           int32_t exposure_index)
{
	return ik_hdr_get_indexed(__func__, mode, out, HDR_OFF(dgain_saturation_level), sizeof(*out),
	                          exposure_index, IK_HDR_EXPOSURES, "p_hdr_dgain_saturation_level");
}

extern "C" int vors_img_dsp_get_front_end_wb_gain(const img_dsp_mode *mode, img_dsp_front_end_wb_gain *out,
                                                  int32_t exposure_index)
{
	return ik_hdr_get_indexed(__func__, mode, out, HDR_OFF(front_end_wb_gain), sizeof(*out),
	                          exposure_index, IK_HDR_EXPOSURES, "p_front_end_wb_gain");
}

extern "C" int vors_img_dsp_get_hdr_raw_offset(const img_dsp_mode *mode, img_dsp_hdr_raw_offset *out)
{
	return img_dsp_common_get(__func__, mode, out, HDR_OFF(raw_offset), sizeof(*out), "p_hdr_raw_offset",
	                          IK_PIPES_VIDEO_ONLY);
}

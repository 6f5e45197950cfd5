/*
 * HDR blending: the number of blends and, per blend step, the alpha
 * calculation. Each setter keeps the caller's block and writes the pre-blend
 * command record the HDR post-execute copies into the configuration.
 */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"

#include <stddef.h>
#include <string.h>

#define IK_CMD_HDR_PREBLEND_CONFIG 0x0900500Bu
#define IK_CMD_HDR_PREBLEND_THRESH 0x0900500Cu
#define IK_CMD_HDR_PREBLEND_BLACK_LEVEL 0x0900500Du
#define IK_CMD_HDR_PREBLEND_ALPHA 0x0900500Fu

#define ALPHA_ROWS 14
#define ALPHA_COLS 9

/* Where each sensor position (ee, eo, oe, oo) takes its value from the
 * caller's R, Gr, Gb, B order, per Bayer pattern. */
static const uint8_t pattern_src[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 0, 3, 2}, {2, 3, 0, 1}};

int ik_hdr_pattern_order(uint8_t pattern, const void *rgb, void *out, size_t elem)
{
	if (pattern > 3) {
		ik_memset(out, 0, 4 * elem);
		return -1;
	}
	for (int i = 0; i < 4; i++)
		ik_memcpy((uint8_t *)out + i * elem, (const uint8_t *)rgb + pattern_src[pattern][i] * elem,
		          elem);
	return 0;
}

ik_ctx_body *ik_hdr_body(const img_dsp_mode *mode, void **ctx_out)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO)
		return NULL;
	img_dsp_ctx_id id{mode->Pipe, mode->ContextId, {}};
	void *ctx = NULL;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return NULL;
	if (ctx_out)
		*ctx_out = ctx;
	return ik_body(mode->Pipe, ctx);
}

uint8_t ik_hdr_pattern(const ik_ctx_body *body)
{
	return body->blk.vin_sensor_info.Pattern;
}

static void put_code(uint8_t *rec, uint32_t code)
{
	memcpy(rec, &code, 4);
}

static void note_update(img_dsp_update_list *list, void *rec)
{
	list->entry[0].valid = 1;
	list->entry[0].section = rec;
}

/* How each step words its pipe refusal. */
static const char pipe_error[] = "[IK][Error]%s() %d does not support pipe %d\n";
static const char pipe_warning[] = "[IK][Warning]%s() %d does not support pipe %d\n";
static const char pipe_warning_short[] = "[IK][Warning]%s() %d not support pipe %d\n";

/* The body of a per-blend step once its block passed the check: pipe 0 and
 * a blend step below the blending number. Refusals are -1: nothing was
 * stored, which a caller must not take for success. */
static ik_ctx_body *blend_body(const char *caller, const img_dsp_mode *mode, int32_t index,
                               const char *pipe_msg, void **ctx)
{
	ik_ctx_body *body = ik_hdr_body(mode, ctx);
	if (!body) {
		ik_print(pipe_msg, caller, __LINE__, mode->Pipe);
		return NULL;
	}
	uint8_t max = body->blk.hdr.blending_info[0];
	if (index >= (int32_t)max) {
		ik_print("[IK][Error]%s() %d blending_index: %d >= max_blending_number %d\n", caller,
		         __LINE__, index, max);
		return NULL;
	}
	return body;
}

static bool index_ok(const char *caller, int32_t index, const char *check)
{
	if (index >= 0 && index <= 2)
		return true;
	ik_print("[IK][Error]%s() %d blending_index %d should be within [0:2] in %s\n", caller, __LINE__,
	         index, check);
	return false;
}

static void incorrect_pattern(const char *caller, uint8_t pattern)
{
	ik_print("[IK][Warning]%s() %d Incorrect pattern %d\n", caller, __LINE__, pattern);
}

/* ---- blending info ---------------------------------------------------- */

static int img_dsp_core_set_hdr_blending_info(const img_dsp_mode *mode, void *block, uint32_t,
                                              img_dsp_update_list *)
{
	img_dsp_hdr_blending_info *b = (img_dsp_hdr_blending_info *)block;
	if (!b) {
		IK_ERROR("p_hdr_blending_info is NULL in %s\n", "img_dsp_check_set_hdr_blending_info");
		IK_WARN("call img_dsp_check_set_hdr_blending_info() fail\n");
		return -1;
	}
	int rc = 0;
	if (b->max_blending_number < 1 || b->max_blending_number > IK_HDR_BLENDS) {
		IK_WARN("max_blending_number %d should be within [1 : %d] in %s\n", b->max_blending_number,
		        IK_HDR_BLENDS, "img_dsp_check_set_hdr_blending_info");
		b->max_blending_number = IK_HDR_BLENDS;
		rc = IMG_DSP_CLAMPED;
	}
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	ik_memcpy(body->blk.hdr.blending_info, b, sizeof(*b));
	return rc;
}

/* ---- alpha table ------------------------------------------------------ */

/* Column by column, four alphas to a u16, first in the low bits. */
void ik_hdr_pack_alpha(const uint8_t *table, uint16_t words[IK_HDR_ALPHA_PACKED_SIZE / 2])
{
	memset(words, 0, IK_HDR_ALPHA_PACKED_SIZE);
	int k = 0;
	for (int col = 0; col < ALPHA_COLS; col++) {
		for (int row = 0; row < ALPHA_ROWS; row++, k++) {
			/* an alpha is four bits; more would spill into the next entry */
			uint16_t a = table[row * ALPHA_COLS + col] & 15u;
			words[k / 4] = (uint16_t)(words[k / 4] | (a << (4 * (k % 4))));
		}
	}
}

static void pack_alpha(const uint8_t *table, uint8_t *packed)
{
	uint16_t words[IK_HDR_ALPHA_PACKED_SIZE / 2];
	ik_hdr_pack_alpha(table, words);
	ik_memcpy(packed, words, sizeof(words));
}

/* Stores an accepted alpha block whose table lies at `table` (NULL: zeros)
 * and writes the packed table and the alpha record. */
static void apply_alpha(ik_ctx_body *body, void *ctx, const img_dsp_mode *mode, int32_t index,
                        const img_dsp_hdr_alpha_calc_alpha *a, const uint8_t *table,
                        img_dsp_update_list *list)
{
	uint8_t *packed = ik_color_table(mode, ctx, IK_STBL_HDR_ALPHA + index,
	                                 IK_VBUF_HDR_ALPHA_TABLE + IK_HDR_ALPHA_PACKED_SIZE * index, 0);
	ik_hdr_blocks *h = &body->blk.hdr;
	ik_memcpy(h->alpha_calc_alpha[index], a, sizeof(*a));
	if (table)
		ik_memcpy(h->alpha_tables[index], table, IMG_DSP_HDR_ALPHA_TABLE_SIZE);
	else
		ik_memset(h->alpha_tables[index], 0, IMG_DSP_HDR_ALPHA_TABLE_SIZE);
	h->preblend_config[index][6] = a->saturation_num_nei;
	pack_alpha(h->alpha_tables[index], packed);
	uint8_t *rec = h->preblend_alpha[index];
	ik_memset(rec + 4, 0, 8);
	rec[4] = a->pre_alpha_mode;
	uint32_t phys = ik_phys(packed);
	ik_memcpy(rec + 8, &phys, 4);
	put_code(rec, IK_CMD_HDR_PREBLEND_ALPHA);
	ik_flag_set(body->update_flags, IK_UPD_HDR_ALPHA_TABLE(index));
	note_update(list, rec);
}

static int check_alpha(const char *caller, img_dsp_hdr_alpha_calc_alpha *a, int32_t index)
{
	static const char check[] = "img_dsp_check_set_hdr_alpha_calc_alpha";
	bool ok = index_ok(caller, index, check);
	if (ok && !a) {
		ik_print("[IK][Error]%s() %d p_hdr_alpha_alpha is NULL in %s\n", caller, __LINE__, check);
		ok = false;
	}
	if (!ok) {
		ik_print("[IK][Warning]%s() %d call %s() fail\n", caller, __LINE__, check);
		return -1;
	}
	int rc = 0;
	if (a->pre_alpha_mode > 1) {
		ik_print("[IK][Warning]%s() %d pre_alpha_mode %d should be within [0:1] in %s \n", caller,
		         __LINE__, a->pre_alpha_mode, check);
		a->pre_alpha_mode = 1;
		rc = IMG_DSP_CLAMPED;
	}
	if (a->saturation_num_nei > 7) {
		ik_print("[IK][Warning]%s() %d saturation_num_nei %d should be within [0:7] in %s \n", caller,
		         __LINE__, a->saturation_num_nei, check);
		a->saturation_num_nei = 7;
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

static int img_dsp_core_process_hdr_alpha_calc_alpha(const img_dsp_mode *mode, void *block, uint32_t index,
                                                     img_dsp_update_list *list)
{
	int32_t i = (int32_t)index;
	img_dsp_hdr_alpha_calc_alpha *a = (img_dsp_hdr_alpha_calc_alpha *)block;
	/* A caller's table only replaces the built-in ramps when asked for.
	 * This comes before the check, so a refused call leaves the caller's
	 * block as it was; a step outside the stored ones is left to the
	 * check to refuse. */
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	if (i >= 0 && i < (int32_t)IK_HDR_BLENDS) {
		img_dsp_hdr_alpha_calc_cfg cfg;
		ik_memcpy(&cfg, body->blk.hdr.alpha_calc_cfg[i], sizeof(cfg));
		if (cfg.blend_control != -2) {
			IK_WARN("hdr_alpha_cfg->blend_control != -2, not support user alpha table\n");
			return -1;
		}
	}
	int rc = check_alpha(__func__, a, i);
	if (rc == IMG_DSP_FAIL)
		return rc;
	void *ctx = NULL;
	body = blend_body(__func__, mode, i, pipe_error, &ctx);
	if (!body)
		return -1;
	apply_alpha(body, ctx, mode, i, a, (const uint8_t *)(uintptr_t)a->alpha_table_addr, list);
	return 0;
}

/* ---- alpha-calculation configuration ---------------------------------- */

static const uint8_t ramp_rows[10][ALPHA_COLS] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0},          /* -1 */
    {3, 7, 15, 15, 15, 15, 15, 15, 15},   /* 0 */
    {0, 7, 15, 15, 15, 15, 15, 15, 15},   /* 1 */
    {0, 3, 7, 9, 13, 15, 15, 15, 15},     /* 2 */
    {0, 3, 5, 7, 11, 15, 15, 15, 15},     /* 3 */
    {0, 2, 4, 6, 10, 11, 15, 15, 15},     /* 4 */
    {0, 0, 3, 5, 9, 11, 15, 15, 15},      /* 5 */
    {0, 0, 3, 5, 7, 9, 11, 13, 15},       /* 6 */
    {0, 0, 0, 3, 5, 5, 5, 7, 11},         /* 7 */
    {15, 15, 15, 15, 15, 15, 15, 15, 15}, /* 8 */
};

static int clamp_u8(const char *caller, const char *name, uint8_t *v, uint8_t hi, const char *check)
{
	if (*v <= hi)
		return 0;
	ik_print("[IK][Warning]%s() %d %s %d should be within [0:%d] in %s \n", caller, __LINE__, name, *v,
	         hi, check);
	*v = hi;
	return IMG_DSP_CLAMPED;
}

static int img_dsp_core_process_hdr_alpha_calc_config(const img_dsp_mode *mode, void *block, uint32_t index,
                                                      img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_hdr_alpha_calc_config";
	int32_t i = (int32_t)index;
	img_dsp_hdr_alpha_calc_cfg *c = (img_dsp_hdr_alpha_calc_cfg *)block;
	bool ok = index_ok(__func__, i, check);
	if (ok && !c) {
		IK_ERROR("p_hdr_alpha_cfg is NULL in %s\n", check);
		ok = false;
	}
	if (!ok) {
		IK_WARN("call %s() fail\n", check);
		return -1;
	}
	int rc = 0;
	rc |= clamp_u8(__func__, "avg_radius", &c->avg_radius, 3, check);
	rc |= clamp_u8(__func__, "avg_method", &c->avg_method, 1, check);
	rc |= clamp_u8(__func__, "luma_avg_weight_r", &c->luma_avg_weight_r, 15, check);
	rc |= clamp_u8(__func__, "luma_avg_weight_gr", &c->luma_avg_weight_gr, 15, check);
	rc |= clamp_u8(__func__, "luma_avg_weight_gb", &c->luma_avg_weight_gb, 15, check);
	rc |= clamp_u8(__func__, "luma_avg_weight_b", &c->luma_avg_weight_b, 15, check);
	if (c->blend_control < -2 || c->blend_control > 8) {
		IK_WARN("blend_control %d should be within [-2:8] in %s, -2, -1 and 8 are internal setting\n",
		        c->blend_control, check);
		c->blend_control = c->blend_control < -2 ? 0 : 7;
		rc = IMG_DSP_CLAMPED;
	}
	void *ctx = NULL;
	ik_ctx_body *body = blend_body(__func__, mode, i, pipe_warning, &ctx);
	if (!body)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	ik_memcpy(h->alpha_calc_cfg[i], c, sizeof(*c));
	uint8_t *rec = h->preblend_config[i];
	rec[4] = c->avg_radius;
	rec[5] = c->avg_method;
	if (c->blend_control != -2) {
		uint8_t table[IMG_DSP_HDR_ALPHA_TABLE_SIZE];
		memset(table, 0, sizeof(table));
		for (int row = 0; row < ALPHA_ROWS; row++)
			memcpy(table + row * ALPHA_COLS, ramp_rows[c->blend_control + 1], ALPHA_COLS);
		img_dsp_hdr_alpha_calc_alpha a;
		memset(&a, 0, sizeof(a));
		a.saturation_num_nei = 4;
		img_dsp_update_list unused;
		memset(&unused, 0, sizeof(unused));
		apply_alpha(body, ctx, mode, i, &a, table, &unused);
	}
	const uint8_t w[4] = {c->luma_avg_weight_r, c->luma_avg_weight_gr, c->luma_avg_weight_gb,
	                      c->luma_avg_weight_b};
	if (ik_hdr_pattern_order(ik_hdr_pattern(body), w, rec + 8, 1) != 0) {
		incorrect_pattern(__func__, ik_hdr_pattern(body));
		return -1;
	}
	put_code(rec, IK_CMD_HDR_PREBLEND_CONFIG);
	ik_flag_set(body->update_flags, IK_UPD_HDR_ALPHA_CALC_CFG(i));
	note_update(list, rec);
	return 0;
}

/* ---- saturation thresholds -------------------------------------------- */

static int check_thresh(const char *caller, img_dsp_hdr_alpha_calc_thresh *t, int32_t index)
{
	static const char check[] = "img_dsp_check_set_hdr_alpha_calc_threshold";
	static const char *const names[4] = {"saturation_threshold_r", "saturation_threshold_gr",
	                                     "saturation_threshold_gb", "saturation_threshold_b"};
	bool ok = index_ok(caller, index, check);
	if (ok && !t) {
		ik_print("[IK][Error]%s() %d p_hdr_alpha_thresh is NULL in %s\n", caller, __LINE__, check);
		ok = false;
	}
	if (!ok) {
		ik_print("[IK][Warning]%s() %d call %s() fail\n", caller, __LINE__, check);
		return -1;
	}
	int rc = 0;
	for (int c = 0; c < 4; c++) {
		if (t->saturation_threshold[c] > 16383) {
			ik_print("[IK][Warning]%s() %d %s %d should be within [0:16383] in %s \n", caller,
			         __LINE__, names[c], t->saturation_threshold[c], check);
			t->saturation_threshold[c] = 16383;
			rc = IMG_DSP_CLAMPED;
		}
	}
	return rc;
}

static int process_thresh(const char *caller, const img_dsp_mode *mode, void *block, int32_t i, bool hds,
                          img_dsp_update_list *list)
{
	img_dsp_hdr_alpha_calc_thresh *t = (img_dsp_hdr_alpha_calc_thresh *)block;
	int rc = check_thresh(caller, t, i);
	if (rc == IMG_DSP_FAIL)
		return rc;
	ik_ctx_body *body = blend_body(caller, mode, i, pipe_error, NULL);
	if (!body)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	*(hds ? &h->hds_thresh[i] : &h->thresh[i]) = *t;
	uint8_t *rec = hds ? h->hds_preblend_thresh[i] : h->preblend_thresh[i];
	if (ik_hdr_pattern_order(ik_hdr_pattern(body), t->saturation_threshold, rec + 4, 2) != 0) {
		ik_print("[IK][Warning]%s() %d Incorrect pattern %d\n", caller, __LINE__,
		         ik_hdr_pattern(body));
		return -1;
	}
	put_code(rec, IK_CMD_HDR_PREBLEND_THRESH);
	ik_flag_set(body->update_flags,
	            hds ? IK_UPD_HDS_ALPHA_CALC_THRESH(i) : IK_UPD_HDR_ALPHA_CALC_THRESH(i));
	note_update(list, rec);
	return rc;
}

static int img_dsp_core_process_hdr_alpha_calc_threshold(const img_dsp_mode *mode, void *block,
                                                         uint32_t index, img_dsp_update_list *list)
{
	return process_thresh(__func__, mode, block, (int32_t)index, false, list);
}

static int img_dsp_core_process_hds_alpha_calc_threshold(const img_dsp_mode *mode, void *block,
                                                         uint32_t index, img_dsp_update_list *list)
{
	return process_thresh(__func__, mode, block, (int32_t)index, true, list);
}

/* ---- alpha-calculation black level ------------------------------------ */

static void clamp_black(const char *caller, const char *name, int16_t *v, const char *check)
{
	if (*v >= -2048 && *v <= 2047)
		return;
	ik_print("[IK][Warning]%s() %d %s %d should be within [-2048:2047] in %s \n", caller, __LINE__, name,
	         *v, check);
	*v = *v < -2048 ? -2048 : 2047;
}

static int img_dsp_core_process_hdr_alpha_calc_black_level(const img_dsp_mode *mode, void *block,
                                                           uint32_t index, img_dsp_update_list *list)
{
	static const char check[] = "img_dsp_check_set_hdr_alpha_calc_black_level";
	int32_t i = (int32_t)index;
	img_dsp_hdr_alpha_calc_black_level *b = (img_dsp_hdr_alpha_calc_black_level *)block;
	bool ok = index_ok(__func__, i, check);
	if (ok && !b) {
		IK_WARN("p_hdr_alpha_black is NULL in %s\n", check);
		ok = false;
	}
	if (!ok) {
		IK_WARN("call %s() fail\n", check);
		return -1;
	}
	/* once stored, a clamped block is reported as plainly accepted */
	clamp_black(__func__, "BlackB", &b->BlackB, check);
	clamp_black(__func__, "BlackGb", &b->BlackGb, check);
	clamp_black(__func__, "BlackGr", &b->BlackGr, check);
	clamp_black(__func__, "BlackR", &b->BlackR, check);
	ik_ctx_body *body = blend_body(__func__, mode, i, pipe_warning_short, NULL);
	if (!body)
		return -1;
	ik_hdr_blocks *h = &body->blk.hdr;
	ik_memcpy(h->alpha_calc_black_level[i], b, sizeof(*b));
	uint8_t *rec = h->preblend_black_level[i];
	const int16_t v[4] = {b->BlackR, b->BlackGr, b->BlackGb, b->BlackB};
	if (ik_hdr_pattern_order(ik_hdr_pattern(body), v, rec + 4, 2) != 0) {
		incorrect_pattern(__func__, ik_hdr_pattern(body));
		return -1;
	}
	put_code(rec, IK_CMD_HDR_PREBLEND_BLACK_LEVEL);
	/* one flag for all steps: the post-execute takes it for step 0 only */
	if (i == 0)
		ik_flag_set(body->update_flags, IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL);
	note_update(list, rec);
	return 0;
}

/* ---- debug printing ----------------------------------------------------- */

static thread_local int32_t print_index;

void ik_hdr_set_print_index(int32_t index)
{
	print_index = index;
}

int32_t ik_hdr_print_index(void)
{
	return print_index;
}

static void print_blending_index(void)
{
	ik_print("[IK]blending_index %d\n", print_index);
}

static void print_blending_info(const void *block)
{
	ik_print("[IK]max_blending_number %d\n",
	         ((const img_dsp_hdr_blending_info *)block)->max_blending_number);
}

static void print_cfg(const void *block)
{
	const img_dsp_hdr_alpha_calc_cfg *c = (const img_dsp_hdr_alpha_calc_cfg *)block;
	print_blending_index();
	ik_print("[IK]avg_radius %d\n", c->avg_radius);
	ik_print("[IK]avg_method %d\n", c->avg_method);
	ik_print("[IK]blend_control %d\n", c->blend_control);
	ik_print("[IK]luma_avg_weight_r %d\n", c->luma_avg_weight_r);
	ik_print("[IK]luma_avg_weight_gr %d\n", c->luma_avg_weight_gr);
	ik_print("[IK]luma_avg_weight_gb %d\n", c->luma_avg_weight_gb);
	ik_print("[IK]luma_avg_weight_b %d\n", c->luma_avg_weight_b);
}

static void print_thresh(const void *block)
{
	const img_dsp_hdr_alpha_calc_thresh *t = (const img_dsp_hdr_alpha_calc_thresh *)block;
	print_blending_index();
	for (int c = 0; c < 4; c++)
		ik_print("[IK]saturation_threshold%d %d\n", c, t->saturation_threshold[c]);
}

static void print_black(const void *block)
{
	const img_dsp_hdr_alpha_calc_black_level *b = (const img_dsp_hdr_alpha_calc_black_level *)block;
	print_blending_index();
	ik_print("[IK]BlackR %d\n", b->BlackR);
	ik_print("[IK]BlackGr %d\n", b->BlackGr);
	ik_print("[IK]BlackGb %d\n", b->BlackGb);
	ik_print("[IK]BlackB %d\n", b->BlackB);
}

static void print_alpha(const void *block)
{
	const img_dsp_hdr_alpha_calc_alpha *a = (const img_dsp_hdr_alpha_calc_alpha *)block;
	print_blending_index();
	ik_print("[IK]pre_alpha_mode %d\n", a->pre_alpha_mode);
	ik_print("[IK]saturation_num_nei %d\n", a->saturation_num_nei);
	ik_print("[IK]alpha_table_addr 0x%.8X\n", (unsigned)a->alpha_table_addr);
	const uint8_t *t = (const uint8_t *)(uintptr_t)a->alpha_table_addr;
	for (int k = 0; t && k < ALPHA_ROWS * ALPHA_COLS; k++)
		ik_print("[IK]AlphaTable[%d] = %d\n", k, t[k]);
}

static const img_dsp_debug_hook info_hook = {LOG_VIDEO_HDR_BLEND_INDEX, IK_HOOK_RECORD, print_blending_info};
static const img_dsp_debug_hook cfg_hook = {LOG_VIDEO_HDR_ALPHA_CALC_CONFIG, IK_HOOK_RECORD, print_cfg};
static const img_dsp_debug_hook thresh_hook = {LOG_VIDEO_HDR_ALPHA_CALC_THRESHOLD, IK_HOOK_RECORD,
                                               print_thresh};
static const img_dsp_debug_hook hds_hook = {LOG_VIDEO_HDS_ALPHA_CALC_THRESHOLD, IK_HOOK_RECORD, print_thresh};
static const img_dsp_debug_hook black_hook = {LOG_VIDEO_HDR_ALPHA_CALC_BLACK_LEVEL, IK_HOOK_RECORD,
                                              print_black};
static const img_dsp_debug_hook alpha_hook = {LOG_VIDEO_HDR_ALPHA_CALC_ALPHA, IK_HOOK_RECORD, print_alpha};

/* ---- public calls ------------------------------------------------------- */

#define CALLER __builtin_extract_return_addr(__builtin_return_address(0))

#define HDR_SETTER(name, hook, type, step)                                                                   \
	static const img_dsp_setter setter = {name, &hook, sizeof(type), step, IK_PIPES_IN_CORE, NULL, NULL}

extern "C" __attribute__((noinline)) int vors_img_dsp_set_hdr_blending_info(int fd, const img_dsp_mode *mode,
                                                                            img_dsp_hdr_blending_info *block)
{
	HDR_SETTER(__func__, info_hook, img_dsp_hdr_blending_info, img_dsp_core_set_hdr_blending_info);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, 0);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hdr_alpha_calc_cfg(int fd, const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_cfg *block,
                                    int32_t blending_index)
{
	HDR_SETTER(__func__, cfg_hook, img_dsp_hdr_alpha_calc_cfg,
	           img_dsp_core_process_hdr_alpha_calc_config);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hdr_alpha_calc_thresh(int fd, const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_thresh *block,
                                       int32_t blending_index)
{
	HDR_SETTER(__func__, thresh_hook, img_dsp_hdr_alpha_calc_thresh,
	           img_dsp_core_process_hdr_alpha_calc_threshold);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hds_alpha_calc_thresh(int fd, const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_thresh *block,
                                       int32_t blending_index)
{
	HDR_SETTER(__func__, hds_hook, img_dsp_hdr_alpha_calc_thresh,
	           img_dsp_core_process_hds_alpha_calc_threshold);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hdr_alpha_calc_black_level(int fd, const img_dsp_mode *mode,
                                            img_dsp_hdr_alpha_calc_black_level *block, int32_t blending_index)
{
	HDR_SETTER(__func__, black_hook, img_dsp_hdr_alpha_calc_black_level,
	           img_dsp_core_process_hdr_alpha_calc_black_level);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

extern "C" __attribute__((noinline)) int
vors_img_dsp_set_hdr_alpha_calc_alpha(int fd, const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_alpha *block,
                                      int32_t blending_index)
{
	HDR_SETTER(__func__, alpha_hook, img_dsp_hdr_alpha_calc_alpha,
	           img_dsp_core_process_hdr_alpha_calc_alpha);
	ik_hdr_set_print_index(blending_index);
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, (uint32_t)blending_index);
}

/* Getters. An index past the stored copies would read other blocks. */
int ik_hdr_get_indexed(const char *caller, const img_dsp_mode *mode, void *out, size_t first, size_t size,
                       int32_t index, int32_t count, const char *name)
{
	if (out && (index < 0 || index >= count)) {
		ik_print("[IK][Error]%s() %d index %d should be within [0:%d]\n", caller, __LINE__, index,
		         count - 1);
		return -1;
	}
	return img_dsp_common_get(caller, mode, out, first + size * (size_t)(out ? index : 0), size, name,
	                          IK_PIPES_VIDEO_ONLY);
}

static int blend_get(const char *caller, const img_dsp_mode *mode, void *out, size_t first, size_t size,
                     int32_t index, const char *name)
{
	return ik_hdr_get_indexed(caller, mode, out, first, size, index, IK_HDR_BLENDS, name);
}

#define HDR_OFF(field) offsetof(ik_ctx_body, blk.hdr.field)

extern "C" int vors_img_dsp_get_hdr_blending_info(const img_dsp_mode *mode, img_dsp_hdr_blending_info *out)
{
	return img_dsp_common_get(__func__, mode, out, HDR_OFF(blending_info), sizeof(*out),
	                          "p_hdr_blending_info", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_hdr_alpha_calc_cfg(const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_cfg *out,
                                                   int32_t blending_index)
{
	return blend_get(__func__, mode, out, HDR_OFF(alpha_calc_cfg), sizeof(*out), blending_index,
	                 "p_hdr_alpha_cfg");
}

extern "C" int vors_img_dsp_get_hdr_alpha_calc_thresh(const img_dsp_mode *mode,
                                                      img_dsp_hdr_alpha_calc_thresh *out,
                                                      int32_t blending_index)
{
	return blend_get(__func__, mode, out, HDR_OFF(thresh), sizeof(*out), blending_index,
	                 "p_hdr_alpha_thresh");
}

extern "C" int vors_img_dsp_get_hdr_alpha_calc_black_level(const img_dsp_mode *mode,
                                                           img_dsp_hdr_alpha_calc_black_level *out,
                                                           int32_t blending_index)
{
	return blend_get(__func__, mode, out, HDR_OFF(alpha_calc_black_level), sizeof(*out), blending_index,
	                 "pHdrAlphaBlackCorr");
}

extern "C" int vors_img_dsp_get_hdr_alpha_calc_alpha(const img_dsp_mode *mode,
                                                     img_dsp_hdr_alpha_calc_alpha *out,
                                                     int32_t blending_index)
{
	return blend_get(__func__, mode, out, HDR_OFF(alpha_calc_alpha), sizeof(*out), blending_index,
	                 "p_hdr_alpha_alpha");
}

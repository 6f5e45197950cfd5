/* Sharpen-noise filter families and the FIR and level record checks they
 * share with the advance spatial filter. */
#include "ik_sharpen.h"
#include "ik_color.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <stddef.h>

namespace
{

/* Shared by both FIR checks: everything after `specify`. */
int32_t check_fir_fields(const char *proc, const char *pre, img_dsp_fir *fir, const char *func)
{
	int32_t rc = 0;
	if (fir->strength_iso > 256) {
		ik_print("[IK][Warning]%s() %d %s.StrengthIso=%d should be within [0:256] in %s\n", func,
		         __LINE__, pre, fir->strength_iso, proc);
		fir->strength_iso = 256;
		rc = IMG_DSP_CLAMPED;
	}
	if (fir->strength_dir > 256) {
		ik_print("[IK][Warning]%s() %d %s.StrengthDir=%d should be within [0:256] in %s\n", func,
		         __LINE__, pre, fir->strength_dir, proc);
		fir->strength_dir = 256;
		rc = IMG_DSP_CLAMPED;
	}
	struct {
		uint16_t *v;
		const char *name;
	} arrays[] = {{fir->per_dir_fir_iso_strengths, "PerDirFirIsoStrengths"},
	              {fir->per_dir_fir_dir_strengths, "PerDirFirDirStrengths"},
	              {fir->per_dir_fir_dir_amounts, "PerDirFirDirAmounts"}};
	for (auto &a : arrays)
		for (int i = 0; i < 9; i++)
			if (a.v[i] > 256) {
				ik_print("[IK][Warning]%s() %d %s.%s[%d]=%d should be within [0:256] in %s\n",
				         func, __LINE__, pre, a.name, i, a.v[i], proc);
				a.v[i] = 256;
				rc = IMG_DSP_CLAMPED;
			}
	for (int d = 0; d < 9; d++)
		for (int k = 0; k < 25; k++)
			if (fir->coefs[d][k] > 1023) {
				ik_print("[IK][Warning]%s() %d %s.Coefs[%d][%d]=%d should be within [0:1023] "
				         "in %s\n",
				         func, __LINE__, pre, d, k, fir->coefs[d][k], proc);
				fir->coefs[d][k] = 1023;
				rc = IMG_DSP_CLAMPED;
			}
	return rc;
}

const char *prefix(const char *p)
{
	return p ? p : "Param";
}

} // namespace

int32_t img_dsp_core_check_sharpen_noise_sharpen_fir(const char *proc, const char *pre, img_dsp_fir *fir)
{
	pre = prefix(pre);
	int32_t rc = 0;
	if (fir->specify > 4) {
		IK_WARN("%s.Specify=%d should be within [0:4] in %s\n", pre, fir->specify, proc);
		fir->specify = 4;
		rc = IMG_DSP_CLAMPED;
	}
	return check_fir_fields(proc, pre, fir, __func__) | rc;
}

int32_t img_dsp_core_check_advance_spatial_filter_fir(const char *proc, const char *pre, img_dsp_fir *fir)
{
	pre = prefix(pre);
	int32_t rc = 0;
	/* 0 and 1 are converted like the other stages', so they stay. */
	if (fir->specify < 2 || fir->specify > 4) {
		IK_WARN("%s.Specify=%d should be within [2:4] in %s\n", pre, fir->specify, proc);
		if (fir->specify > 4)
			fir->specify = 4;
		rc = IMG_DSP_CLAMPED;
	}
	return check_fir_fields(proc, pre, fir, __func__) | rc;
}

namespace
{

/* The level bounds, one field each, for the checks that take them in
 * different orders. */
int32_t bound_high(const char *func, const char *proc, const char *pre, img_dsp_level *lv)
{
	if (lv->high != 0 && lv->high != 255)
		return 0;
	ik_print("[IK][Warning]%s() %d %s.high=%d should be within [1:254] in %s\n", func, __LINE__, pre,
	         lv->high, proc);
	lv->high = lv->high == 0 ? 1 : 254;
	return IMG_DSP_CLAMPED;
}

int32_t bound_byte(const char *func, const char *proc, const char *pre, const char *field, uint8_t *v,
                   uint8_t max)
{
	if (*v <= max)
		return 0;
	ik_print("[IK][Warning]%s() %d %s.%s=%d should be within [0:%d] in %s\n", func, __LINE__, pre, field,
	         *v, max, proc);
	*v = max;
	return IMG_DSP_CLAMPED;
}

} // namespace

int32_t img_dsp_core_check_sharpen_noise_level(const char *proc, const char *pre, img_dsp_level *lv)
{
	pre = prefix(pre);
	const char *fn = __func__;
	int32_t rc = bound_high(fn, proc, pre, lv);
	rc |= bound_byte(fn, proc, pre, "low", &lv->low, 253);
	rc |= bound_byte(fn, proc, pre, "LowDelta", &lv->low_delta, 7);
	rc |= bound_byte(fn, proc, pre, "HighDelta", &lv->high_delta, 7);
	int high0 = lv->high + (1 << lv->high_delta);
	if (high0 > 255) {
		IK_ERROR("%s.High = %d, HighDelta = %d, High0=%d should <= 255 in %s\n", pre, lv->high,
		         lv->high_delta, high0, proc);
		rc = -1;
	}
	int low0 = lv->low + (1 << lv->low_delta);
	if (low0 > lv->high) {
		IK_ERROR("%s.Low = %d, LowDelta = %d, High = %d, HighDelta = %d, Low0 = %d should <= High0 = "
		         "%d in %s\n",
		         pre, lv->low, lv->low_delta, lv->high, lv->high_delta, low0, high0, proc);
		return -1;
	}
	return rc;
}

/* ---- the two sharpen-noise stages ---------------------------------------- */

namespace
{

/* One member of a stage: where its context copy lies and what its steps
 * are called. */
struct sharpen_member {
	const char *check_name;
	const char *process_name;
	size_t offset; /* in the context body */
	size_t size;
	unsigned flag;
	const char *block_name; /* in the NULL-block message */
	const char *null_tail;  /* after that message's line */
	int32_t (*check)(const char *check_name, const char *proc, const img_dsp_mode *mode, void *block);
	bool pipe_first; /* the pipe switch comes before the NULL test */
	/* after the block is copied: what else the context keeps of it */
	void (*stored)(ik_ctx_body *body, const void *block);
};

ik_ctx_body *step_body(const img_dsp_mode *mode)
{
	if (!ik_video_or_still(mode->Pipe))
		return NULL;
	img_dsp_ctx_id cid{mode->Pipe, mode->ContextId, {}};
	void *ctx = NULL;
	if (img_dsp_core_utility_get_context(&cid, &ctx) != 0 || !ctx)
		return NULL;
	return ik_body(mode->Pipe, ctx);
}

int member_process(const sharpen_member *m, const img_dsp_mode *mode, const void *block, int32_t rc)
{
	ik_ctx_body *body = step_body(mode);
	if (!body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", m->process_name, __LINE__,
		         mode->Pipe);
		return -1;
	}
	ik_memcpy((uint8_t *)body + m->offset, block, m->size);
	if (m->stored)
		m->stored(body, block);
	ik_flag_set(body->update_flags, m->flag);
	return rc;
}

int member_check_set(const sharpen_member *m, const img_dsp_mode *mode, void *block)
{
	if (m->pipe_first && !ik_video_or_still(mode->Pipe)) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", m->check_name, __LINE__,
		         mode->Pipe);
		return -1;
	}
	if (!block) {
		ik_print("[IK][Error]%s() %d %s is NULL in %s\n%s", m->check_name, __LINE__, m->block_name,
		         m->process_name, m->null_tail);
		return -1;
	}
	int32_t rc = m->check(m->check_name, m->process_name, mode, block);
	if (rc < 0)
		return rc;
	return member_process(m, mode, block, rc);
}

/* A getter's NULL message is its own line; a present `out` takes the
 * common path. */
int member_get(const char *fn, const img_dsp_mode *mode, void *out, const sharpen_member *m,
               const char *empty)
{
	if (!out) {
		ik_print("[IK][Error]%s() %d %s\n", fn, __LINE__, empty);
		return -1;
	}
	return img_dsp_common_get(fn, mode, out, m->offset, m->size, "out", IK_PIPES_IN_CORE);
}

int32_t check_coring(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_sharpen_coring *c = (img_dsp_sharpen_coring *)block;
	int32_t rc = 0;
	for (int i = 0; i < 256; i++)
		if (c->coring[i] > 31) {
			ik_print("[IK][Warning]%s() %d Coring[%d]=%d should be within [0:31] in %s\n", fn,
			         __LINE__, i, c->coring[i], proc);
			c->coring[i] = 31;
			rc = IMG_DSP_CLAMPED;
		}
	if (c->coring_mul_fractional_bits < 1 || c->coring_mul_fractional_bits > 3) {
		ik_print("[IK][Warning]%s() %d CoringMulFractionalBits=%d should be within [1:3] in %s\n", fn,
		         __LINE__, c->coring_mul_fractional_bits, proc);
		c->coring_mul_fractional_bits = 3;
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

int32_t check_fir(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_sharpen_noise_sharpen_fir(proc, "fir", (img_dsp_fir *)block);
}

int32_t check_min(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_min_coring_result",
	                                              (img_dsp_level *)block);
}

int32_t check_max(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_max_coring_result",
	                                              (img_dsp_level *)block);
}

int32_t check_index_scale(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_coring_index_scale",
	                                              (img_dsp_level *)block);
}

int32_t check_scale_coring(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_scale_coring", (img_dsp_level *)block);
}

/* A bound with the message form "Name=%d should be within [0:max]". */
int32_t bound_named(const char *fn, const char *proc, const char *field, uint8_t *v, uint8_t max)
{
	if (*v <= max)
		return 0;
	ik_print("[IK][Warning]%s() %d %s=%d should be within [0:%d] in %s\n", fn, __LINE__, field, *v, max,
	         proc);
	*v = max;
	return IMG_DSP_CLAMPED;
}

int32_t check_both(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_1st_sharpen_noise_both *b = (img_dsp_1st_sharpen_noise_both *)block;
	int32_t rc = bound_named(fn, proc, "Enable", &b->Enable, 1);
	if (b->Mode != 0 && b->Mode != 2) {
		ik_print("[IK][Warning]%s() %d Mode = %d should be 0 or 2 in %s\n", fn, __LINE__, b->Mode,
		         proc);
		b->Mode = 0;
		rc = IMG_DSP_CLAMPED;
	}
	if (b->EdgeThresh > 2047) {
		ik_print("[IK][Warning]%s() %d EdgeThresh=%d should be within [0:2047] in %s\n", fn, __LINE__,
		         b->EdgeThresh, proc);
		b->EdgeThresh = 2047;
		rc = IMG_DSP_CLAMPED;
	}
	return rc | bound_named(fn, proc, "WideEdgeDetect", &b->WideEdgeDetect, 8);
}

/* T1 - 15, or 0 where that would be negative: the pair must stay within
 * the 16 steps the strength rule tabulates. */
uint8_t t0_below(uint8_t t1)
{
	return (uint8_t)(t1 < 15 ? 0 : t1 - 15);
}

/* The T0/T1 pair of both noise blocks; only the messages differ. */
int32_t check_t0_t1(const char *fn, const char *proc, uint8_t *t0, uint8_t *t1, const char *above,
                    const char *apart)
{
	int32_t rc = 0;
	if (*t0 > *t1) {
		ik_print(above, fn, __LINE__, *t0, *t1, proc);
		*t0 = t0_below(*t1);
		rc = IMG_DSP_CLAMPED;
	}
	if (*t1 - *t0 > 15) {
		ik_print(apart, fn, __LINE__, *t1, *t0, proc);
		*t0 = t0_below(*t1);
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

int32_t check_noise(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_1st_sharpen_noise_noise *n = (img_dsp_1st_sharpen_noise_noise *)block;
	int32_t rc =
	    bound_named(fn, proc, "LevelStrAdjustNotT0T1LevelBased", &n->LevelStrAdjustNotT0T1LevelBased, 1);
	rc |= check_t0_t1(fn, proc, &n->T0, &n->T1,
	                  "[IK][Warning]%s() %d T0=%d  should not larger than T1=%d in %s\n",
	                  "[IK][Warning]%s() %d T1=%d should be larger then T0=%d at least 15 in %s\n");
	rc |= bound_named(fn, proc, "AlphaMin", &n->AlphaMin, 16);
	rc |= bound_named(fn, proc, "AlphaMax", &n->AlphaMax, 16);
	int32_t fir = img_dsp_core_check_sharpen_noise_sharpen_fir(proc, "Noise fir", &n->fir);
	rc |= fir;
	const char *pre = "level_str_adjust";
	img_dsp_level *lv = &n->level_str_adjust;
	rc |= bound_high(fn, proc, pre, lv);
	rc |= bound_byte(fn, proc, pre, "low", &lv->low, 253);
	rc |= bound_byte(fn, proc, pre, "LowDelta", &lv->low_delta, 7);
	rc |= bound_byte(fn, proc, pre, "LowStrength", &lv->low_strength, 16);
	rc |= bound_byte(fn, proc, pre, "HighDelta", &lv->high_delta, 7);
	rc |= bound_byte(fn, proc, pre, "HighStrength", &lv->high_strength, 16);
	rc |= bound_byte(fn, proc, pre, "MidStrength", &lv->mid_strength, 16);
	return rc;
}

/* The final stage bounds fewer fields and spells its messages its own way. */
template <typename T> int32_t bound_final(const char *fn, const char *proc, const char *field, T *v, T max)
{
	if (*v <= max)
		return 0;
	ik_print("[IK][Warning]%s() %d %s = %d should be within [0:%d] in %s\n\n", fn, __LINE__, field, *v,
	         max, proc);
	*v = max;
	return IMG_DSP_CLAMPED;
}

int32_t check_final_coring(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_sharpen_coring *c = (img_dsp_sharpen_coring *)block;
	int32_t rc = 0;
	for (int i = 0; i < 256; i++)
		if (c->coring[i] > 31) {
			ik_print("[IK][Warning]%s() %d coring[%d] = %d should be within [0:31] in %s\n", fn,
			         __LINE__, i, c->coring[i], proc);
			c->coring[i] = 31;
			rc = IMG_DSP_CLAMPED;
		}
	if (c->coring_mul_fractional_bits < 1 || c->coring_mul_fractional_bits > 3) {
		ik_print(
		    "[IK][Warning]%s() %d coring_mul_fractional_bits = %d should be within [1:3] in %s\n", fn,
		    __LINE__, c->coring_mul_fractional_bits, proc);
		c->coring_mul_fractional_bits = 3;
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

/* Only the selector and the two overall strengths: per-direction values
 * and kernels pass as given (the calculation bounds what it reads). */
int32_t check_final_fir_fields(const char *fn, const char *proc, img_dsp_fir *f, const char *specify,
                               const char *iso, const char *dir)
{
	int32_t rc = bound_final<uint8_t>(fn, proc, specify, &f->specify, 4);
	rc |= bound_final<uint16_t>(fn, proc, iso, &f->strength_iso, 256);
	return rc | bound_final<uint16_t>(fn, proc, dir, &f->strength_dir, 256);
}

int32_t check_final_fir(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	return check_final_fir_fields(fn, proc, (img_dsp_fir *)block, "specify", "strength_iso",
	                              "strength_dir");
}

int32_t check_final_both(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_final_sharpen_noise_both *b = (img_dsp_final_sharpen_noise_both *)block;
	int32_t rc = 0;
	if (b->mode != 0 && b->mode != 2) {
		ik_print("[IK][Warning]%s() %d mode = %d should be 0 or 2 in %s\n", fn, __LINE__, b->mode,
		         proc);
		b->mode = 0;
		rc = IMG_DSP_CLAMPED;
	}
	rc |= bound_final<uint8_t>(fn, proc, "enable", &b->enable, 1);
	/* Stored all the same: the context's copy is then all zeros. */
	if (!b->three_d_table)
		rc |= IMG_DSP_CLAMPED;
	rc |= bound_final<uint16_t>(fn, proc, "edge_thresh", &b->edge_thresh, 2047);
	rc |= bound_final<uint8_t>(fn, proc, "wide_edge_detect", &b->wide_edge_detect, 8);
	rc |= bound_final<uint8_t>(fn, proc, "three_d_u_bits", &b->three_d_u_bits, 8);
	rc |= bound_final<uint8_t>(fn, proc, "three_d_u_shift", &b->three_d_u_shift, 7);
	rc |= bound_final<uint8_t>(fn, proc, "three_d_v_bits", &b->three_d_v_bits, 8);
	rc |= bound_final<uint8_t>(fn, proc, "three_d_v_shift", &b->three_d_v_shift, 7);
	return rc | bound_final<uint8_t>(fn, proc, "three_d_y_shift", &b->three_d_y_shift, 7);
}

/* The caller's table is copied; the stored block names the copy. */
void store_final_both(ik_ctx_body *body, const void *block)
{
	ik_final_sharpen_group *g = &body->blk.final_sharpen;
	const void *table =
	    (const void *)(uintptr_t)((const img_dsp_final_sharpen_noise_both *)block)->three_d_table;
	if (!table)
		ik_memset(g->three_d_table, 0, sizeof(g->three_d_table));
	else if (table != g->three_d_table)
		ik_memcpy(g->three_d_table, table, sizeof(g->three_d_table));
	g->both.three_d_table = (uint64_t)(uintptr_t)g->three_d_table;
}

int32_t check_final_noise(const char *fn, const char *proc, const img_dsp_mode *, void *block)
{
	img_dsp_final_sharpen_noise_noise *n = (img_dsp_final_sharpen_noise_noise *)block;
	int32_t rc =
	    check_final_fir_fields(fn, proc, &n->fir, "fir_specify", "fir_strength_iso", "fir_strength_dir");
	rc |= bound_final<uint8_t>(fn, proc, "level_str_adjust_not_t0_t1_level_based",
	                           &n->level_str_adjust_not_t0_t1_level_based, 1);
	rc |= check_t0_t1(fn, proc, &n->t0, &n->t1,
	                  "[IK][Warning]%s() %d t0 = %d  should not larger than t1 = %d in %s\n\n",
	                  "[IK][Warning]%s() %d t1 = %d should be larger then t0 = %d at least 15 in %s\n\n");
	rc |= bound_final<uint8_t>(fn, proc, "alpha_min", &n->alpha_min, 16);
	rc |= bound_final<uint8_t>(fn, proc, "alpha_max", &n->alpha_max, 16);
	uint8_t method = n->level_str_adjust_method;
	if (method != 0 && method != 1 && method != 6) {
		ik_print("[IK][Warning]%s() %d level_str_adjust_method = %d should be 0, 1, 6 in %s\n\n", fn,
		         __LINE__, method, proc);
		n->level_str_adjust_method = 0;
		rc |= IMG_DSP_CLAMPED;
	}
	img_dsp_level *lv = &n->level_str_adjust;
	const char *pre = "level_str_adjust";
	rc |= bound_high(fn, proc, pre, lv);
	rc |= bound_byte(fn, proc, pre, "low", &lv->low, 253);
	rc |= bound_final<uint8_t>(fn, proc, "level_str_adjust.low_delta", &lv->low_delta, 7);
	rc |= bound_final<uint8_t>(fn, proc, "level_str_adjust.low_strength", &lv->low_strength, 16);
	rc |= bound_final<uint8_t>(fn, proc, "level_str_adjust.high_delta", &lv->high_delta, 7);
	rc |= bound_final<uint8_t>(fn, proc, "level_str_adjust.high_strength", &lv->high_strength, 16);
	return rc | bound_final<uint8_t>(fn, proc, "level_str_adjust.mid_strength", &lv->mid_strength, 16);
}

/* While the video context runs the CLISO sharpen mode its final levels take
 * methods 0, 3 and 6; otherwise 0, 1 and 6. */
int32_t check_final_level(const char *fn, const char *proc, const img_dsp_mode *mode, void *block)
{
	img_dsp_final_level *lv = (img_dsp_final_level *)block;
	int32_t rc = 0;
	if (lv->high == 0 || lv->high == 255) {
		ik_print("[IK][Warning]%s() %d high = %d should be within [1:254] in %s\n\n", fn, __LINE__,
		         lv->high, proc);
		lv->high = lv->high == 0 ? 1 : 254;
		rc = IMG_DSP_CLAMPED;
	}
	rc |= bound_final<uint8_t>(fn, proc, "low", &lv->low, 253);
	rc |= bound_final<uint8_t>(fn, proc, "low_delta", &lv->low_delta, 7);
	rc |= bound_final<uint8_t>(fn, proc, "high_delta", &lv->high_delta, 7);
	bool cliso = false;
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO) {
		ik_ctx_body *body = step_body(mode);
		cliso = body && body->blk.liso_process_select[1] != 0;
	}
	uint8_t m = lv->method;
	if (cliso && m != 0 && m != 3 && m != 6) {
		ik_print("[IK][Warning]%s() %d CLISO method = %d should be 0, 3, 6 in %s\n\n", fn, __LINE__,
		         m, proc);
		lv->method = 0;
		rc |= IMG_DSP_CLAMPED;
	} else if (!cliso && m != 0 && m != 1 && m != 6) {
		ik_print("[IK][Warning]%s() %d method = %d should be 0, 1, 6 in %s\n\n", fn, __LINE__, m,
		         proc);
		lv->method = 0;
		rc |= IMG_DSP_CLAMPED;
	}
	return rc;
}

#define STEP_NAMES(stage, member)                                                                            \
	"img_dsp_core_check_set_" #stage "_sharpen_noise_" #member,                                          \
	    "img_dsp_core_process_" #stage "_sharpen_noise_" #member

#define FIRST(member, field, size, flag, name, check)                                                        \
	const sharpen_member first_##member = {STEP_NAMES(1st, member),                                      \
	                                       offsetof(ik_ctx_body, blk.first_sharpen.field),               \
	                                       size,                                                         \
	                                       flag,                                                         \
	                                       name,                                                         \
	                                       "",                                                           \
	                                       check,                                                        \
	                                       false,                                                        \
	                                       NULL}

FIRST(both, both, 8, IK_UPD_FIRST_SHP_BOTH, "p_both", check_both);
FIRST(noise, noise, 528, IK_UPD_FIRST_SHP_NOISE, "p_noise", check_noise);
FIRST(sharpen_fir, sharpen_fir, 510, IK_UPD_FIRST_SHP_SHARPEN_FIR, "p_fir", check_fir);
FIRST(sharpen_coring, sharpen_coring, 257, IK_UPD_FIRST_SHP_SHARPEN_CORING, "p_coring", check_coring);
FIRST(sharpen_min_coring_result, min_coring_result, 7, IK_UPD_FIRST_SHP_MIN_CORING_RESULT, "p_level",
      check_min);
FIRST(sharpen_max_coring_result, max_coring_result, 7, IK_UPD_FIRST_SHP_MAX_CORING_RESULT, "p_level",
      check_max);
FIRST(sharpen_coring_index_scale, coring_index_scale, 7, IK_UPD_FIRST_SHP_CORING_INDEX_SCALE, "p_level",
      check_index_scale);
FIRST(sharpen_scale_coring, scale_coring, 7, IK_UPD_FIRST_SHP_SCALE_CORING, "p_level", check_scale_coring);

#define FINAL(member, field, size, flag, name, tail, check, pipe_first, stored)                              \
	const sharpen_member final_##member = {STEP_NAMES(final, member),                                    \
	                                       offsetof(ik_ctx_body, blk.final_sharpen.field),               \
	                                       size,                                                         \
	                                       flag,                                                         \
	                                       name,                                                         \
	                                       tail,                                                         \
	                                       check,                                                        \
	                                       pipe_first,                                                   \
	                                       stored}

FINAL(both, both, 32, IK_UPD_FINAL_SHP_BOTH, "p_both", "", check_final_both, false, store_final_both);
FINAL(noise, noise, 526, IK_UPD_FINAL_SHP_NOISE, "p_noise", "", check_final_noise, false, NULL);
FINAL(sharpen_fir, sharpen_fir, 510, IK_UPD_FINAL_SHP_SHARPEN_FIR, "p_sharpen_fir", "\n", check_final_fir,
      false, NULL);
FINAL(sharpen_coring, sharpen_coring, 257, IK_UPD_FINAL_SHP_SHARPEN_CORING, "p_coring", "",
      check_final_coring, false, NULL);
FINAL(sharpen_min_coring_result, min_coring_result, 8, IK_UPD_FINAL_SHP_MIN_CORING_RESULT,
      "p_min_coring_result", "", check_final_level, true, NULL);
FINAL(sharpen_max_coring_result, max_coring_result, 8, IK_UPD_FINAL_SHP_MAX_CORING_RESULT,
      "p_max_coring_result", "", check_final_level, true, NULL);
FINAL(sharpen_coring_index_scale, coring_index_scale, 8, IK_UPD_FINAL_SHP_CORING_INDEX_SCALE,
      "p_coring_index_scale", "", check_final_level, true, NULL);
FINAL(sharpen_scale_coring, scale_coring, 8, IK_UPD_FINAL_SHP_SCALE_CORING, "p_scale_coring", "",
      check_final_level, true, NULL);

/* ---- the advance spatial filter ------------------------------------------- */

/* An even threshold within [lo:hi]: out of range is a clamp, an odd value
 * only steps down to even. */
int32_t bound_even(const char *fn, const char *proc, const char *field, uint8_t *v, uint8_t lo, uint8_t hi)
{
	if (*v < lo || *v > hi) {
		ik_print("[IK][Warning]%s() %d %s=%d should be within [%d:%d] in %s\n", fn, __LINE__, field,
		         *v, lo, hi, proc);
		*v = *v < lo ? lo : hi;
		return IMG_DSP_CLAMPED;
	}
	if (*v & 1) {
		ik_print("[IK][Warning]%s() %d %s=%d should be even in %s\n", fn, __LINE__, field, *v, proc);
		(*v)--;
	}
	return 0;
}

int32_t check_asf(const char *, const char *proc, const img_dsp_mode *, void *block)
{
	return img_dsp_core_check_advance_spatial_filter(proc, (img_dsp_advance_spatial_filter *)block);
}

const sharpen_member asf_member = {"img_dsp_core_check_set_advance_spatial_filter",
                                   "img_dsp_core_process_advance_spatial_filter",
                                   offsetof(ik_ctx_body, blk.advance_spatial_filter),
                                   sizeof(img_dsp_advance_spatial_filter),
                                   IK_UPD_ASF,
                                   "p_asf",
                                   "",
                                   check_asf,
                                   false,
                                   NULL};

const img_dsp_setter asf_setter = {"vors_img_dsp_set_advance_spatial_filter",
                                   NULL,
                                   (uint32_t)sizeof(img_dsp_advance_spatial_filter),
                                   img_dsp_core_check_set_advance_spatial_filter,
                                   IK_PIPES_IN_CORE,
                                   NULL,
                                   NULL};

} // namespace

int32_t img_dsp_core_check_advance_spatial_filter(const char *proc, img_dsp_advance_spatial_filter *a)
{
	const char *fn = __func__;
	int32_t rc = bound_named(fn, proc, "Enable", &a->Enable, 1);
	rc |= img_dsp_core_check_advance_spatial_filter_fir(proc, "Fir", &a->Fir);
	img_dsp_asf_adapt *ad = &a->Adapt;
	rc |= bound_named(fn, proc, "Adapt.AlphaMaxDown", &ad->AlphaMaxDown, 8);
	rc |= bound_named(fn, proc, "Adapt.AlphaMaxUp", &ad->AlphaMaxUp, 8);
	rc |= bound_named(fn, proc, "Adapt.AlphaMinDown", &ad->AlphaMinDown, 8);
	rc |= bound_named(fn, proc, "Adapt.AlphaMinUp", &ad->AlphaMinUp, 8);
	rc |= bound_even(fn, proc, "Adapt.T0Down", &ad->T0Down, 0, 252);
	rc |= bound_even(fn, proc, "Adapt.T0Up", &ad->T0Up, 0, 252);
	rc |= bound_even(fn, proc, "Adapt.T1Down", &ad->T1Down, 2, 254);
	rc |= bound_even(fn, proc, "Adapt.T1Up", &ad->T1Up, 2, 254);
	if (ad->T1Up < ad->T0Up) {
		ik_print("[IK][Warning]%s() %d T1_up=%d smaller than T0_up= %d in %s\n", fn, __LINE__,
		         ad->T1Up, ad->T0Up, proc);
		ad->T1Up = ad->T0Up;
		rc |= IMG_DSP_CLAMPED;
	}
	if (ad->T1Down < ad->T0Down) {
		ik_print("[IK][Warning]%s() %d T1_Down=%d smaller than T0_Down= %d in %s\n", fn, __LINE__,
		         ad->T1Down, ad->T0Down, proc);
		ad->T1Down = ad->T0Down;
		rc |= IMG_DSP_CLAMPED;
	}
	const char *pre = "level_str_adjust";
	img_dsp_level *lv = &a->LevelStrAdjust;
	if (lv->high == 0 || lv->high == 255) {
		ik_print("[IK][Warning]%s() %d %s.high = %d should be within [1:254] in %s\n", fn, __LINE__,
		         pre, lv->high, proc);
		lv->high = lv->high == 0 ? 1 : 254;
		rc |= IMG_DSP_CLAMPED;
	}
	if (lv->low > 253) {
		ik_print("[IK][Warning]%s() %d %s.low = %d should be within [0:253] in %s\n", fn, __LINE__,
		         pre, lv->low, proc);
		lv->low = 253;
		rc |= IMG_DSP_CLAMPED;
	}
	rc |= bound_byte(fn, proc, pre, "LowDelta", &lv->low_delta, 7);
	rc |= bound_byte(fn, proc, pre, "LowStrength", &lv->low_strength, 64);
	rc |= bound_byte(fn, proc, pre, "HighDelta", &lv->high_delta, 7);
	rc |= bound_byte(fn, proc, pre, "HighStrength", &lv->high_strength, 64);
	rc |= bound_byte(fn, proc, pre, "MidStrength", &lv->mid_strength, 64);
	int32_t div = img_dsp_core_check_sharpen_noise_level(proc, "T0T1_div", &a->T0T1Div);
	return div < 0 ? div : rc | div;
}

int img_dsp_core_process_advance_spatial_filter(const img_dsp_mode *mode, const void *block, int32_t rc)
{
	return member_process(&asf_member, mode, block, rc);
}

int img_dsp_core_check_set_advance_spatial_filter(const img_dsp_mode *mode, void *block, uint32_t,
                                                  img_dsp_update_list *)
{
	return member_check_set(&asf_member, mode, block);
}

extern "C" int vors_img_dsp_set_advance_spatial_filter(int fd, const img_dsp_mode *mode,
                                                       img_dsp_advance_spatial_filter *block)
{
	static const img_dsp_debug_hook hook = {LOG_ADVANCE_SPATIAL_FILTER, IK_HOOK_RECORD, ik_print_asf};
	img_dsp_debug_hooks(__func__, __builtin_return_address(0), &hook, mode, block,
	                    (uint32_t)sizeof(*block));
	return img_dsp_common_set(&asf_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_advance_spatial_filter(const img_dsp_mode *mode,
                                                       img_dsp_advance_spatial_filter *out)
{
	return member_get(__func__, mode, out, &asf_member, "pAsf is empty");
}

void ik_final_sharpen_repoint(ik_final_sharpen_group *g)
{
	if (g->both.three_d_table)
		g->both.three_d_table = (uint64_t)(uintptr_t)g->three_d_table;
}

/* The named core steps of each member, and its public setter and getter.
 * `stage` is the token in the public names, `var` the member record's. The
 * first stage takes no profile stamps and logs on any non-zero enable byte;
 * the final stage stamps and logs only when the byte is exactly 1. */
#define CORE_STEPS(stage, var, member)                                                                       \
	int img_dsp_core_process_##stage##_sharpen_noise_##member(const img_dsp_mode *mode,                  \
	                                                          const void *block, int32_t rc)             \
	{                                                                                                    \
		return member_process(&var##_##member, mode, block, rc);                                     \
	}                                                                                                    \
	int img_dsp_core_check_set_##stage##_sharpen_noise_##member(const img_dsp_mode *mode, void *block,   \
	                                                            uint32_t, img_dsp_update_list *)         \
	{                                                                                                    \
		return member_check_set(&var##_##member, mode, block);                                       \
	}                                                                                                    \
	static const img_dsp_setter var##_##member##_setter = {                                              \
	    "vors_img_dsp_set_" #stage "_sharpen_noise_" #member,                                            \
	    NULL,                                                                                            \
	    (uint32_t)var##_##member.size,                                                                   \
	    img_dsp_core_check_set_##stage##_sharpen_noise_##member,                                         \
	    IK_PIPES_IN_CORE,                                                                                \
	    NULL,                                                                                            \
	    NULL};

#define GETTER(stage, var, member, type, empty)                                                              \
	extern "C" int vors_img_dsp_get_##stage##_sharpen_noise_##member(const img_dsp_mode *mode,           \
	                                                                 type *out)                          \
	{                                                                                                    \
		return member_get(__func__, mode, out, &var##_##member, empty);                              \
	}

#define FIRST_ENTRY_POINTS(member, type, log_id, print, empty)                                               \
	CORE_STEPS(1st, first, member)                                                                       \
	extern "C" int vors_img_dsp_set_1st_sharpen_noise_##member(int fd, const img_dsp_mode *mode,         \
	                                                           type *block)                              \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, IK_HOOK_RECORD, print};                      \
		img_dsp_debug_hooks(__func__, __builtin_return_address(0), &hook, mode, block,               \
		                    (uint32_t)sizeof(type));                                                 \
		return img_dsp_common_set_unstamped(&first_##member##_setter, __builtin_return_address(0),   \
		                                    fd, mode, block, 0);                                     \
	}                                                                                                    \
	GETTER(1st, first, member, type, empty)

FIRST_ENTRY_POINTS(both, img_dsp_1st_sharpen_noise_both, LOG_FIRST_SHARPEN_NOISE_BOTH, ik_print_first_both,
                   "pBoth is empty")
FIRST_ENTRY_POINTS(noise, img_dsp_1st_sharpen_noise_noise, LOG_FIRST_SHARPEN_NOISE_NOISE,
                   ik_print_first_noise, "p_sharpen_noise is empty")
FIRST_ENTRY_POINTS(sharpen_fir, img_dsp_fir, LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR, ik_print_first_fir,
                   "pFir is empty")
FIRST_ENTRY_POINTS(sharpen_coring, img_dsp_sharpen_coring, LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING,
                   ik_print_coring, "p_coring is empty")
FIRST_ENTRY_POINTS(sharpen_min_coring_result, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, ik_print_first_min_coring_result,
                   "p_level is empty")
FIRST_ENTRY_POINTS(sharpen_max_coring_result, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, ik_print_first_max_coring_result,
                   "p_level is empty")
FIRST_ENTRY_POINTS(sharpen_coring_index_scale, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, ik_print_first_coring_index_scale,
                   "pLevel is empty")
FIRST_ENTRY_POINTS(sharpen_scale_coring, img_dsp_level, LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING,
                   ik_print_first_scale_coring, "pLevel is empty")

#define FINAL_ENTRY_POINTS(member, type, log_id, print, empty)                                               \
	CORE_STEPS(final, final, member)                                                                     \
	extern "C" int vors_img_dsp_set_final_sharpen_noise_##member(int fd, const img_dsp_mode *mode,       \
	                                                             type *block)                            \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, IK_HOOK_EXACTLY_ONE, print};                 \
		img_dsp_debug_hooks(__func__, __builtin_return_address(0), &hook, mode, block,               \
		                    (uint32_t)sizeof(type));                                                 \
		return img_dsp_common_set(&final_##member##_setter, __builtin_return_address(0), fd, mode,   \
		                          block, 0);                                                         \
	}                                                                                                    \
	GETTER(final, final, member, type, empty)

FINAL_ENTRY_POINTS(noise, img_dsp_final_sharpen_noise_noise, LOG_FINAL_SHARPEN_NOISE_NOISE,
                   ik_print_final_noise, "p_final_sharpen_noise is empty")
FINAL_ENTRY_POINTS(sharpen_fir, img_dsp_fir, LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR, ik_print_final_fir,
                   "p_sharpen_fir is empty")
FINAL_ENTRY_POINTS(sharpen_coring, img_dsp_sharpen_coring, LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING,
                   ik_print_coring, "p_coring is empty")
FINAL_ENTRY_POINTS(sharpen_min_coring_result, img_dsp_final_level,
                   LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, ik_print_final_level,
                   "p_min_coring_result is NULL")
FINAL_ENTRY_POINTS(sharpen_max_coring_result, img_dsp_final_level,
                   LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, ik_print_final_level,
                   "p_max_coring_result is NULL")
FINAL_ENTRY_POINTS(sharpen_coring_index_scale, img_dsp_final_level,
                   LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, ik_print_final_level,
                   "p_coring_index_scale is NULL")
FINAL_ENTRY_POINTS(sharpen_scale_coring, img_dsp_final_level, LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING,
                   ik_print_final_level, "p_scale_coring is NULL")

/* The final both record carries the caller's 3-D table as a second entry. */
CORE_STEPS(final, final, both)

extern "C" int vors_img_dsp_set_final_sharpen_noise_both(int fd, const img_dsp_mode *mode,
                                                         img_dsp_final_sharpen_noise_both *block)
{
	static const img_dsp_debug_hook hook = {LOG_FINAL_SHARPEN_NOISE_BOTH, IK_HOOK_EXACTLY_ONE,
	                                        ik_print_final_both};
	ik_debug_hooks_with_table(__func__, __builtin_return_address(0), &hook, mode, block, sizeof(*block),
	                          block ? block->three_d_table : 0, IMG_DSP_THREE_D_TABLE_SIZE);
	return img_dsp_common_set(&final_both_setter, __builtin_return_address(0), fd, mode, block, 0);
}

GETTER(final, final, both, img_dsp_final_sharpen_noise_both, "p_final_sharpen_both is empty.")

/* Sharpen-noise filter families and the FIR and level record checks they
 * share with the advance spatial filter. */
#include "ik_sharpen.h"
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

/* ---- first sharpen-noise stage ------------------------------------------ */

namespace
{

/* One member of the first stage: where its context copy lies and what its
 * steps are called. */
struct first_member {
	const char *check_name;
	const char *process_name;
	size_t offset; /* in the context body */
	size_t size;
	unsigned flag;
	const char *block_name; /* in the NULL-block message */
	const char *null_tail;  /* after that message's line */
	int32_t (*check)(const char *check_name, const char *proc, void *block);
};

ik_ctx_body *step_body(const img_dsp_mode *mode)
{
	img_dsp_ctx_id cid{mode->Pipe, mode->ContextId, {}};
	void *ctx = NULL;
	if (img_dsp_core_utility_get_context(&cid, &ctx) != 0 || !ctx)
		return NULL;
	return ik_body(mode->Pipe, ctx);
}

int first_process(const first_member *m, const img_dsp_mode *mode, const void *block, int32_t rc)
{
	ik_ctx_body *body = ik_video_or_still(mode->Pipe) ? step_body(mode) : NULL;
	if (!body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", m->process_name, __LINE__,
		         mode->Pipe);
		return -1;
	}
	ik_memcpy((uint8_t *)body + m->offset, block, m->size);
	ik_flag_set(body->update_flags, m->flag);
	return rc;
}

int first_check_set(const first_member *m, const img_dsp_mode *mode, void *block)
{
	if (!block) {
		ik_print("[IK][Error]%s() %d %s is NULL in %s\n%s", m->check_name, __LINE__, m->block_name,
		         m->process_name, m->null_tail);
		return -1;
	}
	int32_t rc = m->check(m->check_name, m->process_name, block);
	if (rc < 0)
		return rc;
	return first_process(m, mode, block, rc);
}

int32_t check_coring(const char *fn, const char *proc, void *block)
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

int32_t check_fir(const char *, const char *proc, void *block)
{
	return img_dsp_core_check_sharpen_noise_sharpen_fir(proc, "fir", (img_dsp_fir *)block);
}

int32_t check_min(const char *, const char *proc, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_min_coring_result",
	                                              (img_dsp_level *)block);
}

int32_t check_max(const char *, const char *proc, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_max_coring_result",
	                                              (img_dsp_level *)block);
}

int32_t check_index_scale(const char *, const char *proc, void *block)
{
	return img_dsp_core_check_sharpen_noise_level(proc, "sharpen_coring_index_scale",
	                                              (img_dsp_level *)block);
}

int32_t check_scale_coring(const char *, const char *proc, void *block)
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

int32_t check_both(const char *fn, const char *proc, void *block)
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

int32_t check_noise(const char *fn, const char *proc, void *block)
{
	img_dsp_1st_sharpen_noise_noise *n = (img_dsp_1st_sharpen_noise_noise *)block;
	int32_t rc =
	    bound_named(fn, proc, "LevelStrAdjustNotT0T1LevelBased", &n->LevelStrAdjustNotT0T1LevelBased, 1);
	if (n->T0 > n->T1) {
		ik_print("[IK][Warning]%s() %d T0=%d  should not larger than T1=%d in %s\n", fn, __LINE__,
		         n->T0, n->T1, proc);
		n->T0 = t0_below(n->T1);
		rc = IMG_DSP_CLAMPED;
	}
	if (n->T1 - n->T0 > 15) {
		ik_print("[IK][Warning]%s() %d T1=%d should be larger then T0=%d at least 15 in %s\n", fn,
		         __LINE__, n->T1, n->T0, proc);
		n->T0 = t0_below(n->T1);
		rc = IMG_DSP_CLAMPED;
	}
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
int32_t bound_final(const char *fn, const char *proc, const char *field, uint16_t v, uint16_t max)
{
	if (v <= max)
		return 0;
	ik_print("[IK][Warning]%s() %d %s = %d should be within [0:%d] in %s\n\n", fn, __LINE__, field, v,
	         max, proc);
	return IMG_DSP_CLAMPED;
}

int32_t check_final_coring(const char *fn, const char *proc, void *block)
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
 * and kernels pass as given. */
int32_t check_final_fir(const char *fn, const char *proc, void *block)
{
	img_dsp_fir *f = (img_dsp_fir *)block;
	int32_t rc = bound_final(fn, proc, "specify", f->specify, 4);
	if (rc)
		f->specify = 4;
	int32_t r = bound_final(fn, proc, "strength_iso", f->strength_iso, 256);
	if (r)
		f->strength_iso = 256;
	rc |= r;
	r = bound_final(fn, proc, "strength_dir", f->strength_dir, 256);
	if (r)
		f->strength_dir = 256;
	return rc | r;
}

#define FIRST(member, field, size, flag, name, check)                                                        \
	const first_member first_##member = {"img_dsp_core_check_set_1st_sharpen_noise_" #member,            \
	                                     "img_dsp_core_process_1st_sharpen_noise_" #member,              \
	                                     offsetof(ik_ctx_body, blk.first_sharpen.field),                 \
	                                     size,                                                           \
	                                     flag,                                                           \
	                                     name,                                                           \
	                                     "",                                                             \
	                                     check}

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

#define FINAL(member, field, size, flag, name, tail, check)                                                  \
	const first_member final_##member = {"img_dsp_core_check_set_final_sharpen_noise_" #member,          \
	                                     "img_dsp_core_process_final_sharpen_noise_" #member,            \
	                                     offsetof(ik_ctx_body, blk.final_sharpen.field),                 \
	                                     size,                                                           \
	                                     flag,                                                           \
	                                     name,                                                           \
	                                     tail,                                                           \
	                                     check}

FINAL(sharpen_fir, sharpen_fir, 510, IK_UPD_FINAL_SHP_SHARPEN_FIR, "p_sharpen_fir", "\n", check_final_fir);
FINAL(sharpen_coring, sharpen_coring, 257, IK_UPD_FINAL_SHP_SHARPEN_CORING, "p_coring", "",
      check_final_coring);

} // namespace

/* The named core steps of each member, and its public setter and getter. */
#define FIRST_ENTRY_POINTS(member, type, log_id, out_name)                                                   \
	int img_dsp_core_process_1st_sharpen_noise_##member(const img_dsp_mode *mode, const void *block,     \
	                                                    int32_t rc)                                      \
	{                                                                                                    \
		return first_process(&first_##member, mode, block, rc);                                      \
	}                                                                                                    \
	int img_dsp_core_check_set_1st_sharpen_noise_##member(const img_dsp_mode *mode, void *block,         \
	                                                      uint32_t, img_dsp_update_list *)               \
	{                                                                                                    \
		return first_check_set(&first_##member, mode, block);                                        \
	}                                                                                                    \
	extern "C" int vors_img_dsp_set_1st_sharpen_noise_##member(int fd, const img_dsp_mode *mode,         \
	                                                           type *block)                              \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, IK_HOOK_RECORD, NULL};                       \
		static const img_dsp_setter setter = {__func__,                                              \
		                                      &hook,                                                 \
		                                      (uint32_t)first_##member.size,                         \
		                                      img_dsp_core_check_set_1st_sharpen_noise_##member,     \
		                                      IK_PIPES_IN_CORE,                                      \
		                                      NULL,                                                  \
		                                      NULL};                                                 \
		return img_dsp_common_set_unstamped(&setter, __builtin_return_address(0), fd, mode, block,   \
		                                    0);                                                      \
	}                                                                                                    \
	extern "C" int vors_img_dsp_get_1st_sharpen_noise_##member(const img_dsp_mode *mode, type *out)      \
	{                                                                                                    \
		return img_dsp_common_get(__func__, mode, out, first_##member.offset, first_##member.size,   \
		                          out_name, IK_PIPES_IN_CORE);                                       \
	}

FIRST_ENTRY_POINTS(both, img_dsp_1st_sharpen_noise_both, LOG_FIRST_SHARPEN_NOISE_BOTH, "pBoth")
FIRST_ENTRY_POINTS(noise, img_dsp_1st_sharpen_noise_noise, LOG_FIRST_SHARPEN_NOISE_NOISE, "p_sharpen_noise")
FIRST_ENTRY_POINTS(sharpen_fir, img_dsp_fir, LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR, "pFir")
FIRST_ENTRY_POINTS(sharpen_coring, img_dsp_sharpen_coring, LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING, "p_coring")
FIRST_ENTRY_POINTS(sharpen_min_coring_result, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, "p_level")
FIRST_ENTRY_POINTS(sharpen_max_coring_result, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, "p_level")
FIRST_ENTRY_POINTS(sharpen_coring_index_scale, img_dsp_level,
                   LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, "pLevel")
FIRST_ENTRY_POINTS(sharpen_scale_coring, img_dsp_level, LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING,
                   "pLevel")

/* Final-stage members: profile stamps, and a log record only when the
 * enable byte is exactly 1. */
#define FINAL_ENTRY_POINTS(member, type, log_id, out_name)                                                   \
	int img_dsp_core_process_final_sharpen_noise_##member(const img_dsp_mode *mode, const void *block,   \
	                                                      int32_t rc)                                    \
	{                                                                                                    \
		return first_process(&final_##member, mode, block, rc);                                      \
	}                                                                                                    \
	int img_dsp_core_check_set_final_sharpen_noise_##member(const img_dsp_mode *mode, void *block,       \
	                                                        uint32_t, img_dsp_update_list *)             \
	{                                                                                                    \
		return first_check_set(&final_##member, mode, block);                                        \
	}                                                                                                    \
	extern "C" int vors_img_dsp_set_final_sharpen_noise_##member(int fd, const img_dsp_mode *mode,       \
	                                                             type *block)                            \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, IK_HOOK_EXACTLY_ONE, NULL};                  \
		static const img_dsp_setter setter = {__func__,                                              \
		                                      &hook,                                                 \
		                                      (uint32_t)final_##member.size,                         \
		                                      img_dsp_core_check_set_final_sharpen_noise_##member,   \
		                                      IK_PIPES_IN_CORE,                                      \
		                                      NULL,                                                  \
		                                      NULL};                                                 \
		return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);         \
	}                                                                                                    \
	extern "C" int vors_img_dsp_get_final_sharpen_noise_##member(const img_dsp_mode *mode, type *out)    \
	{                                                                                                    \
		return img_dsp_common_get(__func__, mode, out, final_##member.offset, final_##member.size,   \
		                          out_name, IK_PIPES_IN_CORE);                                       \
	}

FINAL_ENTRY_POINTS(sharpen_fir, img_dsp_fir, LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR, "p_sharpen_fir")
FINAL_ENTRY_POINTS(sharpen_coring, img_dsp_sharpen_coring, LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING, "p_coring")

/* Anti-aliasing and the CFA leakage filter, which share one DSP block. */
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_raw.h"

#include <stddef.h>

/* ---- anti-aliasing ---- */

int img_dsp_core_process_anti_aliasing_filter(const img_dsp_mode *mode, const img_dsp_anti_aliasing *block,
                                              img_dsp_update_list *list);

/* Clamps are only warned about: the result stays 0. */
int img_dsp_core_check_set_anti_aliasing(const img_dsp_mode *mode, img_dsp_anti_aliasing *block,
                                         img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_anti_aliasing is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	bool explicit_values = block->Strength >= 4;
	IK_CLAMP("Strength=%d should be within [0:4] in %s\n", block->Strength, 4);
	if (explicit_values) {
		IK_CLAMP("Thresh = %d should be within [0:16383] in %s\n", block->Thresh, 16383);
		IK_CLAMP("LogFractionalCorrect = %d should be within [0:7] in %s\n",
		         block->LogFractionalCorrect, 7);
	}
	return img_dsp_core_process_anti_aliasing_filter(mode, block, list);
}

static int img_dsp_core_calc_anti_aliasing_filter(const img_dsp_anti_aliasing *b, uint8_t *sec)
{
	static const struct {
		uint16_t threshold;
		uint8_t shift;
	} fixed[4] = {{0, 0}, {3200, 4}, {3200, 3}, {8000, 2}};
	uint32_t use = b->Strength != 0 ? 1 : 0;
	memcpy(sec + IK_SECB_AA_ENABLE, &use, sizeof(use));
	uint16_t threshold;
	uint8_t shift;
	if (b->Strength < 4) {
		threshold = fixed[b->Strength].threshold;
		shift = fixed[b->Strength].shift;
	} else if (b->Strength == 4) {
		threshold = b->Thresh;
		shift = (uint8_t)(7 - b->LogFractionalCorrect);
	} else {
		IK_ERROR("Incorrect anti aliasing strength %d\n", b->Strength);
		return IMG_DSP_FAIL;
	}
	sec[IK_SECB_AA_SHIFT] = shift;
	memcpy(sec + IK_SECB_AA_THRESHOLD, &threshold, sizeof(threshold));
	return 0;
}

int img_dsp_core_process_anti_aliasing_filter(const img_dsp_mode *mode, const img_dsp_anti_aliasing *block,
                                              img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.anti_aliasing, block, sizeof(*block));
	list->entry[0].valid = list->entry[1].valid = 0;
	int rc = img_dsp_core_calc_anti_aliasing_filter(block, ik_sec_bytes(body->sec, IK_SEC_ANTI_ALIASING));
	ik_note(list, 0, &body->sec[IK_SEC_ANTI_ALIASING]);
	/* The leakage block must stay on while anti-aliasing is on. */
	img_dsp_update_list sub;
	memset(&sub, 0, sizeof(sub));
	img_dsp_cfa_leakage_filter leakage =
	    ik_load<img_dsp_cfa_leakage_filter>(body->blk.cfa_leakage_filter);
	img_dsp_core_process_cfa_leakage_filter(mode, &leakage, &sub);
	list->entry[1].valid = sub.entry[0].valid;
	list->entry[1].section = &body->sec[IK_SEC_CFA_LEAKAGE];
	ik_flag_set(body->update_flags, IK_UPD_ANTI_ALIASING);
	return rc;
}

static void print_anti_aliasing(const void *p)
{
	const img_dsp_anti_aliasing *b = (const img_dsp_anti_aliasing *)p;
	ik_print("[IK]     Strength %d\n", b->Strength);
	if (b->Strength == 4) {
		ik_print("[IK]     Thresh %d\n", b->Thresh);
		ik_print("[IK]     LogFractionalCorrect %d\n", b->LogFractionalCorrect);
	}
}

static const img_dsp_debug_hook anti_aliasing_hook = {LOG_ANTI_ALIASING, IK_HOOK_RECORD, print_anti_aliasing};

static int anti_aliasing_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_anti_aliasing(mode, (img_dsp_anti_aliasing *)block, list);
}

extern "C" int vors_img_dsp_set_anti_aliasing(int fd, const img_dsp_mode *mode, img_dsp_anti_aliasing *block)
{
	static const img_dsp_setter setter = {
	    __func__, &anti_aliasing_hook, sizeof(*block), anti_aliasing_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_anti_aliasing(const img_dsp_mode *mode, img_dsp_anti_aliasing *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.anti_aliasing), sizeof(*out),
	                          "pAntiAliasing", IK_PIPES_VIDEO_STILL);
}

/* ---- CFA leakage ---- */

int img_dsp_core_check_set_cfa_leakage_filter(const img_dsp_mode *mode, img_dsp_cfa_leakage_filter *block,
                                              img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_cfa_leakage is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	IK_CLAMP("Enb=%d should be within [0:1] in %s\n", block->Enb, 1);
	IK_CLAMP("SaturationLevel=%d should be within [0:16383] in %s\n", block->SaturationLevel, 16383);
	return img_dsp_core_process_cfa_leakage_filter(mode, block, list);
}

int img_dsp_core_process_cfa_leakage_filter(const img_dsp_mode *mode, const img_dsp_cfa_leakage_filter *block,
                                            img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.cfa_leakage_filter, block, sizeof(*block));
	list->entry[0].valid = 0;
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_CFA_LEAKAGE);
	uint32_t enable = 1;
	int8_t alpha[4] = {block->AlphaRR, block->AlphaRB, block->AlphaBR, block->AlphaBB};
	if (block->Enb == 0) {
		if (body->blk.anti_aliasing[0] != 0)
			memset(alpha, 0, sizeof(alpha));
		else
			enable = 0;
	}
	memcpy(sec + IK_SECB_LEAKAGE_ENABLE, &enable, sizeof(enable));
	memcpy(sec + IK_SECB_LEAKAGE_ALPHA, alpha, sizeof(alpha));
	memcpy(sec + IK_SECB_LEAKAGE_SATURATION, &block->SaturationLevel, sizeof(block->SaturationLevel));
	ik_note(list, 0, &body->sec[IK_SEC_CFA_LEAKAGE]);
	ik_rerun_cfa_noise(mode, body, list, 1);
	ik_flag_set(body->update_flags, IK_UPD_CFA_LEAKAGE);
	return 0;
}

static void print_cfa_leakage(const void *p)
{
	const img_dsp_cfa_leakage_filter *b = (const img_dsp_cfa_leakage_filter *)p;
	ik_print("[IK]     Enb %d, AlphaRR %d, AlphaRB %d, AlphaBR %d, AlphaBB %d, SaturationLevel %d\n",
	         b->Enb, b->AlphaRR, b->AlphaRB, b->AlphaBR, b->AlphaBB, b->SaturationLevel);
}

static const img_dsp_debug_hook cfa_leakage_hook = {LOG_CFA_LEAKAGE_FILTER, IK_HOOK_RECORD,
                                                    print_cfa_leakage};

static int cfa_leakage_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_cfa_leakage_filter(mode, (img_dsp_cfa_leakage_filter *)block, list);
}

extern "C" int vors_img_dsp_set_cfa_leakage_filter(int fd, const img_dsp_mode *mode,
                                                   img_dsp_cfa_leakage_filter *block)
{
	static const img_dsp_setter setter = {
	    __func__, &cfa_leakage_hook, sizeof(*block), cfa_leakage_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_cfa_leakage_filter(const img_dsp_mode *mode, img_dsp_cfa_leakage_filter *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.cfa_leakage_filter),
	                          sizeof(*out), "pCfaLeakage", IK_PIPES_VIDEO_STILL);
}

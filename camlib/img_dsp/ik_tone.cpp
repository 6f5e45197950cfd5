/* Tone curve: the output table of the colour-correction block. */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <string.h>

#define IK_TONE_MAX 1023u
#define IK_TONE_ENTRIES 256u

static int clamp_entry(uint16_t *v, const char *curve, uint32_t i, const char *fn, int line)
{
	if (*v <= IK_TONE_MAX)
		return 0;
	ik_print("[IK][Warning]%s() %d %s[%d] %d should be within [0:1023] in SetToneCurve\n\n", fn, line,
	         curve, i, *v);
	*v = IK_TONE_MAX;
	return IMG_DSP_CLAMPED;
}

int img_dsp_core_check_set_tone_curve(const img_dsp_mode *mode, img_dsp_tone_curve *block,
                                      img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_tone_curve is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	for (uint32_t i = 0; i < IK_TONE_ENTRIES; i++) {
		rc |= clamp_entry(&block->ToneCurveRed[i], "ToneCurveRed", i, __func__, __LINE__);
		rc |= clamp_entry(&block->ToneCurveGreen[i], "ToneCurveGreen", i, __func__, __LINE__);
		rc |= clamp_entry(&block->ToneCurveBlue[i], "ToneCurveBlue", i, __func__, __LINE__);
	}
	int step = img_dsp_core_process_tone_curve(mode, block, list);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_tone_curve(const img_dsp_mode *mode, const img_dsp_tone_curve *block,
                                    img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	uint8_t *table = ik_color_table(mode, ctx, IK_STBL_CC_OUT, IK_VBUF_CC_OUT_LUT, IK_STILL_CC_OUT_LUT);
	ik_memcpy(body->blk.tone_curve, block, sizeof(*block));
	list->entry[0].valid = 0;
	body->blk.cc_out_loaded = 1;
	for (uint32_t i = 0; i < IK_TONE_ENTRIES; i++) {
		uint32_t w = (uint32_t)(block->ToneCurveRed[i] & 0x3FFu) |
		             (uint32_t)(block->ToneCurveGreen[i] & 0x3FFu) << 10 |
		             (uint32_t)(block->ToneCurveBlue[i] & 0x3FFu) << 20;
		memcpy(table + 4 * i, &w, sizeof(w));
	}
	uint32_t *cc = body->sec[IK_SEC_CC].word;
	cc[IK_SECW_CC_3D + 1] = 0;
	cc[IK_SECW_CC_OUT] = ik_phys(table);
	/* The section is complete only once a 3-D table is in it too. */
	if (body->blk.cc_3d_loaded && body->blk.cc_out_loaded) {
		list->entry[0].valid = 1;
		list->entry[0].section = &body->sec[IK_SEC_CC];
	}
	ik_flag_set(body->update_flags, IK_UPD_TONE_CURVE);
	return 0;
}

static void print_curve(const char *name, const uint16_t *c)
{
	ik_print("[IK]     %s [%d %d %d ... %d %d %d]\n", name, c[0], c[1], c[2], c[253], c[254], c[255]);
}

static void print_tone_curve(const void *p)
{
	const img_dsp_tone_curve *b = (const img_dsp_tone_curve *)p;
	print_curve("ToneCurveRed", b->ToneCurveRed);
	print_curve("ToneCurveGreen", b->ToneCurveGreen);
	print_curve("ToneCurveBlue", b->ToneCurveBlue);
}

static const img_dsp_debug_hook tone_curve_hook = {LOG_TONE_CURVE, IK_HOOK_RECORD, print_tone_curve};

static int tone_curve_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_tone_curve(mode, (img_dsp_tone_curve *)block, list);
}

static const img_dsp_setter tone_curve_setter = {
    "vors_img_dsp_set_tone_curve",
    &tone_curve_hook,
    sizeof(img_dsp_tone_curve),
    tone_curve_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_tone_curve(int fd, const img_dsp_mode *mode, img_dsp_tone_curve *block)
{
	return img_dsp_common_set(&tone_curve_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_tone_curve(const img_dsp_mode *mode, img_dsp_tone_curve *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.tone_curve), sizeof(*out),
	                          "p_tone_curve", IK_PIPES_VIDEO_STILL);
}

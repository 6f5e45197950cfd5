/* Chroma filters: chroma median, chroma filter and variable range. */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_helpers.h"
#include "qvd_ioctl.h"

#include <string.h>

/* Rows of 4 groups of 9; row 3 is 31 throughout. */
const uint8_t img_dsp_chroma_median_weight_default[144] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  26, 29, 31, 5,  26, 30, 0,  5,  29, 22, 31, 31,
    8,  29, 30, 0,  8,  31, 31, 31, 31, 10, 31, 31, 0,  10, 31, 19, 22, 24, 12, 19, 23, 0,  12, 22,
    26, 29, 31, 22, 26, 30, 20, 26, 29, 22, 31, 31, 22, 29, 30, 15, 22, 31, 31, 31, 31, 29, 31, 31,
    28, 31, 31, 19, 22, 24, 18, 19, 23, 16, 19, 22, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31,
    31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31,
};

/* ---- chroma median ---- */

#define IK_CM_STRENGTH_MAX 256u
#define IK_CM_NON_ADAPTIVE_MAX 31u
#define IK_CM_ROW 36u

static int clamp_u16(uint16_t *v, uint16_t max, const char *name, const char *fn, int line)
{
	if (*v <= max)
		return 0;
	ik_print("[IK][Warning]%s() %d %s=%d should be within [0:%d] in %s\n", fn, line, name, *v, max, fn);
	*v = max;
	return IMG_DSP_CLAMPED;
}

static int clamp_u8(uint8_t *v, uint8_t max, const char *name, const char *fn, int line)
{
	uint16_t w = *v;
	int rc = clamp_u16(&w, max, name, fn, line);
	*v = (uint8_t)w;
	return rc;
}

int img_dsp_core_check_set_chroma_median_filter(const img_dsp_mode *mode, img_dsp_chroma_median_filter *block,
                                                img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_chroma_median is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	/* A negative enable is no more valid than 2: both become on. */
	if (block->Enable > 1 || block->Enable < 0) {
		IK_WARN("enable=%d should be within [0:1] in %s\n", block->Enable, __func__);
		block->Enable = 1;
		rc = IMG_DSP_CLAMPED;
	}
	rc |= clamp_u16(&block->CbAdaptiveStrength, IK_CM_STRENGTH_MAX, "CbAdaptiveStrength", __func__,
	                __LINE__);
	rc |= clamp_u16(&block->CrAdaptiveStrength, IK_CM_STRENGTH_MAX, "CrAdaptiveStrength", __func__,
	                __LINE__);
	rc |= clamp_u8(&block->CbNonAdaptiveStrength, IK_CM_NON_ADAPTIVE_MAX, "CbNonAdaptiveStrength",
	               __func__, __LINE__);
	rc |= clamp_u8(&block->CrNonAdaptiveStrength, IK_CM_NON_ADAPTIVE_MAX, "CrNonAdaptiveStrength",
	               __func__, __LINE__);
	rc |= clamp_u16(&block->CbAdaptiveAmount, IK_CM_STRENGTH_MAX, "CbAdaptiveAmount", __func__, __LINE__);
	rc |= clamp_u16(&block->CrAdaptiveAmount, IK_CM_STRENGTH_MAX, "CrAdaptiveAmount", __func__, __LINE__);
	int step = img_dsp_core_process_chroma_median_filter(mode, block, list);
	return step == IMG_DSP_FAIL ? step : rc;
}

/* The 36 coefficients of one plane, into c[18g + first + m]. */
static void median_coefficients(const uint8_t *weights, uint32_t s, uint32_t n, uint32_t a, uint32_t first,
                                uint8_t c[72])
{
	uint32_t t = 3u * s;
	uint32_t f = t % 256u, r = t / 256u;
	const uint8_t *lower = weights + IK_CM_ROW * r;
	const uint8_t *upper = weights + IK_CM_ROW * (r < 3u ? r + 1u : 3u);
	for (uint32_t j = 0; j < IK_CM_ROW; j++) {
		uint32_t v = (upper[j] * f + lower[j] * (256u - f) + 128u) >> 8;
		uint32_t k = ((256u - a) * n + a * v + 128u) >> 8;
		c[18u * (j / 9u) + first + j % 9u] = (uint8_t)k;
	}
}

int img_dsp_core_process_chroma_median_filter(const img_dsp_mode *mode,
                                              const img_dsp_chroma_median_filter *block,
                                              img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	uint8_t *table = ik_color_table(mode, ctx, IK_STBL_CHROMA_MEDIAN_K, IK_VBUF_CHROMA_MEDIAN_K,
	                                IK_STILL_CHROMA_MEDIAN_K);
	ik_memcpy(body->blk.chroma_median_filter, block, sizeof(*block));
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_CHROMA_MEDIAN);
	static const uint16_t consts[8] = {33, 81, 33, 81, 40, 130, 40, 130};
	uint16_t zero = 0, mode_word = (uint16_t)block->Enable;
	memcpy(sec + 4, &zero, 2);
	body->sec[IK_SEC_CHROMA_MEDIAN].word[IK_SECW_CHROMA_MEDIAN_K] = ik_phys(table);
	memcpy(sec + 12, consts, sizeof(consts));
	if (block->Enable == 0) {
		ik_memset(table, 0, IK_CHROMA_MEDIAN_K_SIZE);
	} else {
		mode_word = 2;
		uint8_t c[72];
		const uint8_t *w = body->blk.chroma_median_weight;
		median_coefficients(w, block->CbAdaptiveStrength, block->CbNonAdaptiveStrength,
		                    block->CbAdaptiveAmount, 0, c);
		median_coefficients(w, block->CrAdaptiveStrength, block->CrNonAdaptiveStrength,
		                    block->CrAdaptiveAmount, 9, c);
		for (uint32_t k = 0; k < 24; k++) {
			uint16_t word = (uint16_t)((c[3 * k] & 31u) | (c[3 * k + 1] & 31u) << 5 |
			                           (c[3 * k + 2] & 31u) << 10);
			memcpy(table + 2 * k, &word, 2);
		}
	}
	memcpy(sec + IK_SECB_CHROMA_MEDIAN_ENABLE, &mode_word, 2);
	list->entry[0].valid = 1;
	list->entry[0].section = &body->sec[IK_SEC_CHROMA_MEDIAN];
	ik_flag_set(body->update_flags, IK_UPD_CHROMA_MEDIAN);
	return 0;
}

static void print_chroma_median(const void *p)
{
	const img_dsp_chroma_median_filter *b = (const img_dsp_chroma_median_filter *)p;
	ik_print("[IK]     Enable %d\n", b->Enable);
	ik_print("[IK]     CbAdaptiveStrength %d CrAdaptiveStrength %d\n", b->CbAdaptiveStrength,
	         b->CrAdaptiveStrength);
	ik_print("[IK]     CbNonAdaptiveStrength %d CrNonAdaptiveStrength %d\n", b->CbNonAdaptiveStrength,
	         b->CrNonAdaptiveStrength);
	ik_print("[IK]     CbAdaptiveAmount %d CrAdaptiveAmount %d\n", b->CbAdaptiveAmount,
	         b->CrAdaptiveAmount);
}

static const img_dsp_debug_hook chroma_median_hook = {LOG_CHROMA_MEDIAN_FILTER, IK_HOOK_RECORD,
                                                      print_chroma_median};

static int chroma_median_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_chroma_median_filter(mode, (img_dsp_chroma_median_filter *)block, list);
}

static const img_dsp_setter chroma_median_setter = {
    "vors_img_dsp_set_chroma_median_filter",
    &chroma_median_hook,
    sizeof(img_dsp_chroma_median_filter),
    chroma_median_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_chroma_median_filter(int fd, const img_dsp_mode *mode,
                                                     img_dsp_chroma_median_filter *block)
{
	return img_dsp_common_set(&chroma_median_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_chroma_median_filter(const img_dsp_mode *mode,
                                                     img_dsp_chroma_median_filter *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.chroma_median_filter),
	                          sizeof(*out), "p_chroma_median", IK_PIPES_VIDEO_STILL);
}

/* ---- variable range ---- */

int img_dsp_core_check_set_variable_range(const img_dsp_mode *mode, img_dsp_variable_range *block)
{
	bool radius_ok = block->max_chroma_radius == 32 || block->max_chroma_radius == 64 ||
	                 block->max_chroma_radius == 128;
	bool flag_ok = block->inside_fpn_flag <= 1;
	if (!radius_ok)
		IK_ERROR("[Error] max_chroma_radius = %d should be equal to 32/64/128 in %s\n\n",
		         block->max_chroma_radius, __func__);
	if (!flag_ok)
		IK_ERROR("[Warning] inside_fpn_flag=%d should be equal to 0/1 in %s\n\n",
		         block->inside_fpn_flag, __func__);
	if (!radius_ok || !flag_ok)
		return IMG_DSP_FAIL;
	return img_dsp_core_variable_range(mode, block);
}

int img_dsp_core_variable_range(const img_dsp_mode *mode, const img_dsp_variable_range *block)
{
	if (!ik_video_or_still(mode->Pipe))
		return IMG_DSP_FAIL;
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return IMG_DSP_FAIL;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	ik_memcpy(&body->blk.variable_range, block, sizeof(*block));
	ik_flag_set(body->update_flags, IK_UPD_VARIABLE_RANGE);
	return 0;
}

static int variable_range_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	if (!block)
		return IMG_DSP_FAIL;
	return img_dsp_core_check_set_variable_range(mode, (img_dsp_variable_range *)block);
}

static const img_dsp_setter variable_range_setter = {
    "vors_img_dsp_set_variable_range",
    NULL,
    sizeof(img_dsp_variable_range),
    variable_range_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_variable_range(const img_dsp_mode *mode, img_dsp_variable_range *block)
{
	return img_dsp_common_set(&variable_range_setter, __builtin_return_address(0), -1, mode, block, 0);
}

/* ---- chroma filter ---- */

#define IK_ENC_MODE_RECORD_SIZE 36u
#define IK_CF_RADIUS_MIN 32u
#define IK_CF_RADIUS_MAX 192u
#define IK_CF_BLEND_MAX 256u

int img_dsp_core_check_set_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *block,
                                         img_dsp_update_list *list)
{
	return img_dsp_core_process_chroma_filter(mode, block, list);
}

static uint16_t blend_shift(uint16_t strength)
{
	uint32_t v = (uint32_t)(strength >> 3) + 1u;
	uint16_t s = 0;
	while (v > 1u) {
		v >>= 1;
		s++;
	}
	return s;
}

static void put_u16(uint8_t *sec, uint32_t off, uint16_t v)
{
	memcpy(sec + off, &v, 2);
}

int img_dsp_core_process_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *block,
                                       img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	if (!block) {
		IK_ERROR("p_chroma_filter is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	if (block->Enable >= 2) {
		IK_WARN("Enable=%d should be within [0:1] in %s\n\n", block->Enable, __func__);
		block->Enable = 1;
		rc = IMG_DSP_CLAMPED;
	}
	if (block->OriginalBlendStrengthCb > IK_CF_BLEND_MAX) {
		IK_WARN("OriginalBlendStrengthCb = %d should be within [0:256] in %s\n\n",
		        block->OriginalBlendStrengthCb, __func__);
		block->OriginalBlendStrengthCb = IK_CF_BLEND_MAX;
		rc = IMG_DSP_CLAMPED;
	}
	if (block->OriginalBlendStrengthCr > IK_CF_BLEND_MAX) {
		IK_WARN("OriginalBlendStrengthCr = %d should be within [0:256] in %s\n\n",
		        block->OriginalBlendStrengthCr, __func__);
		block->OriginalBlendStrengthCr = IK_CF_BLEND_MAX;
		rc = IMG_DSP_CLAMPED;
	}
	if (block->Radius < IK_CF_RADIUS_MIN || block->Radius > IK_CF_RADIUS_MAX) {
		IK_WARN("Radius=%d should be one of  [32:192] in %s\n\n", block->Radius, __func__);
		block->Radius = block->Radius < IK_CF_RADIUS_MIN ? IK_CF_RADIUS_MIN : IK_CF_RADIUS_MAX;
		rc = IMG_DSP_CLAMPED;
	}
	ik_memcpy(&body->blk.chroma_filter, block, sizeof(*block));
	list->entry[0].valid = 0;
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_CHROMA_FILTER);
	uint16_t radius = IK_CF_RADIUS_MIN, cb = 0, cr = 0;
	if (block->Enable == 1) {
		radius = block->Radius;
		if (radius > body->blk.variable_range.max_chroma_radius)
			radius = body->blk.variable_range.max_chroma_radius;
		cb = block->NoiseLevelCb;
		cr = block->NoiseLevelCr;
	}
	sec[4] = 1;
	sec[IK_SECB_CHROMA_RADIUS] = (uint8_t)radius;
	put_u16(sec, 6, 2);
	put_u16(sec, 8, cb);
	put_u16(sec, 10, cr);
	put_u16(sec, 12, blend_shift(block->OriginalBlendStrengthCb));
	put_u16(sec, 14, blend_shift(block->OriginalBlendStrengthCr));
	put_u16(sec, 16, 0);
	put_u16(sec, 18, 0);
	put_u16(sec, 20, 63);
	put_u16(sec, 22, 63);
	list->entry[0].valid = 1;
	list->entry[0].section = &body->sec[IK_SEC_CHROMA_FILTER];
	ik_flag_set(body->update_flags, IK_UPD_CHROMA_FILTER);
	return rc;
}

/* Every chroma-filter set takes the encode mode the driver runs in; a
 * driver that cannot tell leaves mode 0. */
static int query_encode_mode(int fd, const img_dsp_mode *mode, void *, const img_dsp_update_list *)
{
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return 0;
	uint8_t rec[IK_ENC_MODE_RECORD_SIZE];
	memset(rec, 0, sizeof(rec));
	rec[0] = 0xFF;
	ik_ctx_head *head = (ik_ctx_head *)ctx;
	if (ik_fn()->ioctl(fd, QVD_IOC_QUERY_ENC_MODE_CAP, rec) < 0) {
		IK_DEBUG("can't get encode_mode\n");
		head->encode_mode = 0;
	} else {
		head->encode_mode = rec[0];
	}
	return 0;
}

static int chroma_filter_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_chroma_filter(mode, (img_dsp_chroma_filter *)block, list);
}

static const img_dsp_setter chroma_filter_setter = {
    "vors_img_dsp_set_chroma_filter",
    NULL,
    sizeof(img_dsp_chroma_filter),
    chroma_filter_step,
    IK_PIPES_VIDEO_STILL,
    query_encode_mode,
    NULL,
};

extern "C" int vors_img_dsp_set_chroma_filter(int fd, const img_dsp_mode *mode, img_dsp_chroma_filter *block)
{
	return img_dsp_common_set(&chroma_filter_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.chroma_filter), sizeof(*out),
	                          "p_chroma_filter", IK_PIPES_VIDEO_STILL);
}

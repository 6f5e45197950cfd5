/* Local exposure and contrast enhancement. */
#include "ik_arch.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_raw.h"

#include <stddef.h>
#include <stdio.h>

/* ---- local exposure ---- */

/* Section bytes beside the command the builder copies. */
#define IK_SECB_LE_RADIUS 6u
#define IK_SECB_LE_WEIGHTS 8u
#define IK_SECB_LE_LUMA_OFFSET 16u

int img_dsp_core_check_set_local_exposure(const img_dsp_mode *mode, img_dsp_local_exposure *block,
                                          img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_local_exposure is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("enable %d should be within [0:1] in %s\n", block->Enb, 1);
	changed |= IK_CLAMP("radius %d should be within [0:6] in %s\n", block->Radius, 6);
	changed |= IK_CLAMP("LumaWeightRed %d should be within [0:31] in %s\n", block->LumaWeightRed, 31);
	changed |= IK_CLAMP("LumaWeightGreen %d should be within [0:31] in %s\n", block->LumaWeightGreen, 31);
	changed |= IK_CLAMP("LumaWeightBlue %d should be within [0:31] in %s\n", block->LumaWeightBlue, 31);
	changed |= IK_CLAMP("LumaWeightShift %d should be within [0:31] in %s\n", block->LumaWeightShift, 31);
	int rc = img_dsp_core_process_local_exposure(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

/* The luma offset that cancels the gain-dependent black-level offsets
 * over the averaging window. */
static int16_t luma_offset(const img_dsp_local_exposure *b, const int16_t *table)
{
	int32_t w = 2 * (b->Radius + 2);
	int32_t sum = -(int32_t)b->LumaWeightRed * table[3] - 2 * (int32_t)b->LumaWeightGreen * table[4] -
	              (int32_t)b->LumaWeightBlue * table[5];
	/* a shift past the word leaves only the sign, as the DSP's would */
	int shift = b->LumaWeightShift + 6;
	return (int16_t)((sum * w * w) >> (shift < 31 ? shift : 31));
}

int img_dsp_core_process_local_exposure(const img_dsp_mode *mode, const void *block,
                                        img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	img_dsp_local_exposure b = ik_load<img_dsp_local_exposure>(block);
	ik_memcpy(body->blk.local_exposure, &b, sizeof(b));
	uint8_t *table =
	    ik_color_table(mode, ctx, IK_STBL_LOCAL_EXPOSURE, IK_VBUF_LE_TONE_CURVE, IK_STILL_LE_TONE_CURVE);
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_LOCAL_EXPOSURE);
	sec[IK_SECB_LE_ENABLE - 1] = 0;
	sec[IK_SECB_LE_ENABLE] = b.Enb;
	uint16_t radius = b.Radius;
	memcpy(sec + IK_SECB_LE_RADIUS, &radius, sizeof(radius));
	const uint8_t weights[4] = {b.LumaWeightRed, b.LumaWeightGreen, b.LumaWeightBlue, b.LumaWeightShift};
	memcpy(sec + IK_SECB_LE_WEIGHTS, weights, sizeof(weights));
	int16_t offset = luma_offset(&b, body->blk.deferred_black_level_table);
	memcpy(sec + IK_SECB_LE_LUMA_OFFSET, &offset, sizeof(offset));
	body->sec[IK_SEC_LOCAL_EXPOSURE].word[IK_SECW_LOCAL_EXPOSURE_GAIN] = ik_phys(table);
	ik_memcpy(table, b.GainCurveTable, sizeof(b.GainCurveTable));
	ik_note(list, 0, &body->sec[IK_SEC_LOCAL_EXPOSURE]);
	ik_rerun_cfa_noise(mode, body, list, 1);
	ik_flag_set(body->update_flags, IK_UPD_LOCAL_EXPOSURE);
	return 0;
}

/* Table values, `per_line` to a line, each line as "[IK]<values>". */
static void print_rows(const uint8_t *bytes, const uint16_t *words, int count, int per_line, const char *fmt)
{
	for (int row = 0; row < count / per_line; row++) {
		char line[16 * 8 + 1];
		size_t n = 0;
		for (int i = 0; i < per_line; i++) {
			int k = row * per_line + i;
			n += (size_t)snprintf(line + n, sizeof(line) - n, fmt, bytes ? bytes[k] : words[k]);
		}
		ik_print("[IK]%s\n", line);
	}
}

static void print_local_exposure(const void *p)
{
	const img_dsp_local_exposure *b = (const img_dsp_local_exposure *)p;
	ik_print("[IK]     Enb %d, Radius %d, LumaWeightRed %d, LumaWeightGreen %d, LumaWeightBlue %d, "
	         "LumaWeightShift %d\n",
	         b->Enb, b->Radius, b->LumaWeightRed, b->LumaWeightGreen, b->LumaWeightBlue,
	         b->LumaWeightShift);
	ik_print("[IK]     GainCurveTable = {\n");
	print_rows(NULL, b->GainCurveTable, 256, 16, "%6d ");
	ik_print("[IK]  }\n");
}

static const img_dsp_debug_hook local_exposure_hook = {LOG_LOCAL_EXPOSURE, IK_HOOK_RECORD,
                                                       print_local_exposure};

static int local_exposure_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_local_exposure(mode, (img_dsp_local_exposure *)block, list);
}

extern "C" int vors_img_dsp_set_local_exposure(int fd, const img_dsp_mode *mode,
                                               img_dsp_local_exposure *block)
{
	static const img_dsp_setter setter = {
	    __func__, &local_exposure_hook, sizeof(*block), local_exposure_step, IK_PIPES_IN_CORE, NULL,
	    NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_local_exposure(const img_dsp_mode *mode, img_dsp_local_exposure *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.local_exposure),
	                          sizeof(*out), "p_local_exposure", IK_PIPES_VIDEO_STILL);
}

/* ---- contrast enhancement ---- */

#define CE_WARN(text) "contrast_enhance." text " %d should be within "

int img_dsp_check_set_contrast_enhancement(const ik_ctx_body *body, img_dsp_contrast_enhance *b)
{
	int changed = IK_CLAMP(CE_WARN("enable") "[0:1] in %s\n", b->enable, 1);
	uint8_t lo = body->size_level_low, hi = body->size_level_high;
	if (b->low_pass_radius != 0 && (b->low_pass_radius < lo || b->low_pass_radius > hi)) {
		IK_WARN(CE_WARN("low_pass_radius") "[%d:%d] in %s\n", b->low_pass_radius, lo, hi, __func__);
		b->low_pass_radius = b->low_pass_radius < lo ? lo : hi;
		changed = 1;
	}
	changed |= IK_CLAMP(CE_WARN("luma_avg_method") "[0:1] in %s\n", b->luma_avg_method, 1);
	changed |= IK_CLAMP(CE_WARN("luma_avg_weight_r") "[0:31] in %s\n", b->luma_avg_weight_r, 31);
	changed |= IK_CLAMP(CE_WARN("luma_avg_weight_gr") "[0:31] in %s\n", b->luma_avg_weight_gr, 31);
	changed |= IK_CLAMP(CE_WARN("luma_avg_weight_gb") "[0:31] in %s\n", b->luma_avg_weight_gb, 31);
	changed |= IK_CLAMP(CE_WARN("luma_avg_weight_b") "[0:31] in %s\n", b->luma_avg_weight_b, 31);
	changed |= IK_CLAMP(CE_WARN("fir_enable") "[0:1] in %s\n", b->fir_enable, 1);
	for (int i = 0; i < 3; i++)
		changed |= IK_CLAMP_AT("contrast_enhance.fir_coeff[%d] %d should be within [0:64] in %s\n",
		                       b->fir_coeff, i, 64);
	changed |= IK_CLAMP(CE_WARN("coring_index_shift") "[0:24] in %s\n", b->coring_index_shift, 24);
	changed |= IK_CLAMP(CE_WARN("coring_index_scale_delta_t0") "[0:7] in %s\n",
	                    b->coring_index_scale_low_delta, 7);
	changed |= IK_CLAMP(CE_WARN("coring_index_scale_delta_t1") "[0:7] in %s\n",
	                    b->coring_index_scale_high_delta, 7);
	changed |= IK_CLAMP(CE_WARN("coring_gain_shift") "[0:20] in %s\n", b->coring_gain_shift, 20);
	changed |= IK_CLAMP(CE_WARN("coring_gain_delta_t0") "[0:7] in %s\n", b->coring_gain_low_delta, 7);
	changed |= IK_CLAMP(CE_WARN("coring_gain_delta_t1") "[0:7] in %s\n", b->coring_gain_high_delta, 7);
	changed |= IK_CLAMP(CE_WARN("output_enable") "[0:1] in %s\n", b->output_enable, 1);
	changed |= IK_CLAMP(CE_WARN("output_shift") "[0:12] in %s\n", b->output_shift, 12);
	return changed ? IMG_DSP_CLAMPED : 0;
}

int img_dsp_core_set_contrast_enhance(const img_dsp_mode *mode, img_dsp_contrast_enhance *block,
                                      img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	if (!block) {
		IK_ERROR("p_contrast_enhance is NULL in %s\n", "img_dsp_check_set_contrast_enhancement");
		IK_WARN("call img_dsp_check_set_contrast_enhancement() fail\n");
		return IMG_DSP_FAIL;
	}
	int rc = img_dsp_check_set_contrast_enhancement(body, block);
	ik_memcpy(body->blk.contrast_enhance, block, sizeof(*block));
	ik_flag_set(body->update_flags, IK_UPD_CONTRAST_ENHANCE);
	list->entry[0].valid = 1;
	return rc;
}

int img_dsp_core_set_contrast_enhance_internal_setting(const img_dsp_mode *mode,
                                                       img_dsp_contrast_enhance_decimation_factor *block,
                                                       img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_contrast_enhance_decimation_factor is NULL in %s\n",
		         "img_dsp_check_set_contrast_enhancement_internal_setting");
		IK_WARN("call img_dsp_check_set_contrast_enhancement_internal_setting() fail\n");
		return IMG_DSP_FAIL;
	}
	/* the documented range is only warned about: the DSP takes any factor */
	for (int i = 0; i < 3; i++)
		if (block->factor[i] > 8)
			IK_WARN(
			    "contrast_enhance_decimation_factor.factor[%d] %d should be within [1:8] in %s\n",
			    i, block->factor[i], __func__);
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.contrast_enhance_decimation, block, sizeof(*block));
	ik_flag_set(body->update_flags, IK_UPD_CONTRAST_ENHANCE);
	list->entry[0].valid = 1;
	return 0;
}

static void print_contrast_enhance(const void *p)
{
	const img_dsp_contrast_enhance *b = (const img_dsp_contrast_enhance *)p;
	static const struct {
		const char *name;
		size_t offset;
	} fields[] = {
#define CE_FIELD(f) {#f, offsetof(img_dsp_contrast_enhance, f)}
	    CE_FIELD(enable),
	    CE_FIELD(low_pass_radius),
	    CE_FIELD(luma_avg_method),
	    CE_FIELD(luma_avg_weight_r),
	    CE_FIELD(luma_avg_weight_gr),
	    CE_FIELD(luma_avg_weight_gb),
	    CE_FIELD(luma_avg_weight_b),
	    CE_FIELD(fir_enable),
	};
	const uint8_t *bytes = (const uint8_t *)b;
	for (const auto &f : fields)
		ik_print("[IK]%s: %d\n", f.name, bytes[f.offset]);
	ik_print("[IK]fir_coeff: %d %d %d\n", b->fir_coeff[0], b->fir_coeff[1], b->fir_coeff[2]);
	static const struct {
		const char *name;
		size_t offset;
	} rest[] = {
	    CE_FIELD(coring_index_shift),
	    CE_FIELD(coring_index_scale_low_strength),
	    CE_FIELD(coring_index_scale_mid_strength),
	    CE_FIELD(coring_index_scale_high_strength),
	    CE_FIELD(coring_index_scale_low),
	    CE_FIELD(coring_index_scale_high),
	    CE_FIELD(coring_index_scale_low_delta),
	    CE_FIELD(coring_index_scale_high_delta),
	    CE_FIELD(coring_gain_shift),
	    CE_FIELD(coring_gain_low_strength),
	    CE_FIELD(coring_gain_mid_strength),
	    CE_FIELD(coring_gain_high_strength),
	    CE_FIELD(coring_gain_low),
	    CE_FIELD(coring_gain_high),
	    CE_FIELD(coring_gain_low_delta),
	    CE_FIELD(coring_gain_high_delta),
	    CE_FIELD(output_enable),
	    CE_FIELD(output_shift),
#undef CE_FIELD
	};
	for (const auto &f : rest)
		ik_print("[IK]%s: %d\n", f.name, bytes[f.offset]);
	if (img_dsp_debug_flags() & IMG_DSP_DEBUG_NO_TABLES) {
		const uint8_t *c = b->coring_table;
		const uint16_t *o = b->output_table;
		ik_print("[IK]coring_table: %d %d %d %d .... %d %d %d %d\n", c[0], c[1], c[2], c[3], c[60],
		         c[61], c[62], c[63]);
		ik_print("[IK]output_table: %d %d %d %d .... %d %d %d %d\n", o[0], o[1], o[2], o[3], o[60],
		         o[61], o[62], o[63]);
		return;
	}
	ik_print("[IK]coring_table:\n");
	print_rows(b->coring_table, NULL, 64, 16, "%2d,");
	ik_print("[IK]output_table:\n");
	print_rows(NULL, b->output_table, 256, 16, "%5d,");
}

static void print_decimation(const void *p)
{
	const img_dsp_contrast_enhance_decimation_factor *b =
	    (const img_dsp_contrast_enhance_decimation_factor *)p;
	ik_print("[IK]factor: %d %d %d\n", b->factor[0], b->factor[1], b->factor[2]);
}

static const img_dsp_debug_hook contrast_enhance_hook = {LOG_VIDEO_HDR_CONTRAST_ENHANCE, IK_HOOK_EXACTLY_ONE,
                                                         print_contrast_enhance};
static const img_dsp_debug_hook decimation_hook = {LOG_VIDEO_HDR_CONTRAST_ENHANCE_DECIMATION_FACTOR,
                                                   IK_HOOK_EXACTLY_ONE, print_decimation};

static int contrast_enhance_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_set_contrast_enhance(mode, (img_dsp_contrast_enhance *)block, list);
}

static int decimation_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_set_contrast_enhance_internal_setting(
	    mode, (img_dsp_contrast_enhance_decimation_factor *)block, list);
}

extern "C" int vors_img_dsp_set_contrast_enhance(int fd, const img_dsp_mode *mode,
                                                 img_dsp_contrast_enhance *block)
{
	static const img_dsp_setter setter = {
	    __func__, &contrast_enhance_hook, sizeof(*block), contrast_enhance_step, IK_PIPES_IN_CORE, NULL,
	    NULL};
	return img_dsp_common_set_contex(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_contrast_enhance(const img_dsp_mode *mode, img_dsp_contrast_enhance *out)
{
	if (!out) {
		IK_ERROR("p_ce_info is empty.\n");
		return IMG_DSP_FAIL;
	}
	return img_dsp_common_get_contex(__func__, mode, out, offsetof(ik_ctx_body, blk.contrast_enhance),
	                                 sizeof(*out), "p_ce_info", IK_PIPES_VIDEO_ONLY);
}

extern "C" int
vors_img_dsp_set_contrast_enhance_internal_setting(int fd, const img_dsp_mode *mode,
                                                   img_dsp_contrast_enhance_decimation_factor *block)
{
	static const img_dsp_setter setter = {
	    __func__, &decimation_hook, sizeof(*block), decimation_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set_contex(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

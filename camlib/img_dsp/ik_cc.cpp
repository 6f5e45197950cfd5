/* Colour correction: the 3-D table and its register file. */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <stdio.h>
#include <string.h>

#define IK_CC_HEADER_SIZE 128u
#define IK_CC_REG_HEADER_SIZE 12u

int img_dsp_core_check_set_color_correction(const img_dsp_mode *mode, img_dsp_color_correction *block,
                                            img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_color_corr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	if (block->MatrixThreeDTableAddr == 0) {
		IK_ERROR("matrix_threed_table_addr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	return img_dsp_core_process_color_correction(mode, block, list);
}

int img_dsp_core_process_color_correction(const img_dsp_mode *mode, const img_dsp_color_correction *block,
                                          img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	list->entry[0].valid = 0;
	return set_color_correction_val(mode, ctx, (const uint8_t *)(uintptr_t)block->MatrixThreeDTableAddr,
	                                list);
}

/* Every refusal comes before the context's copy or a table changes, so a
 * refused table leaves the colour path as it was. */
int set_color_correction_val(const img_dsp_mode *mode, void *ctx, const uint8_t *table,
                             img_dsp_update_list *list)
{
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	ik_filter_blocks *b = &body->blk;
	if (!b->cc_reg_loaded) {
		IK_WARN("Please input color correction reg file first!\n");
		return IMG_DSP_FAIL;
	}
	uint32_t head[3];
	memcpy(head, table, sizeof(head));
	if (head[0] != b->cc_reg_version[0] || head[1] != b->cc_reg_version[1]) {
		IK_WARN("Color correction reg file/3D file version mismatch! CC_reg ver %d.%d and CC_3D ver "
		        "%d.%d\n",
		        b->cc_reg_version[0], b->cc_reg_version[1], head[0], head[1]);
		return IMG_DSP_FAIL;
	}
	bool secondary = mode->Pipe == IMG_DSP_PIPE_STILL && head[2] != 0;
	uint8_t *reg_tbl = NULL, *tbl_3d = NULL;
	if (!secondary) {
		reg_tbl = ik_color_table(mode, ctx, IK_STBL_CC_REG, IK_VBUF_CC_IN_LUT, IK_STILL_CC_IN_LUT);
		tbl_3d =
		    ik_color_table(mode, ctx, IK_STBL_CC_3D, IK_VBUF_CC_3D_MATRIX, IK_STILL_CC_3D_MATRIX);
		if (table + IK_CC_HEADER_SIZE == tbl_3d) {
			IK_WARN("Using IMGDSP interal memory as Color correction input is not allowed!\n");
			return IMG_DSP_FAIL;
		}
	}
	uint64_t copy = (uint64_t)(uintptr_t)b->cc_table_copy;
	memcpy(b->color_correction, &copy, sizeof(copy));
	if (table != b->cc_table_copy)
		ik_memcpy(b->cc_table_copy, table, IMG_DSP_CC_TABLE_SIZE);
	if (secondary) {
		ik_memcpy(b->cc_hiso_table, b->cc_table_copy, IMG_DSP_CC_TABLE_SIZE);
		b->cc_hiso_3d_loaded = 1;
		return 0;
	}
	uint32_t *sec = body->sec[IK_SEC_CC].word;
	static const uint64_t consts[2] = {0x0001000000000001ull, 0x0001000000010000ull};
	memcpy(&sec[1], consts, sizeof(consts));
	sec[IK_SECW_CC_REG] = ik_phys(reg_tbl);
	ik_memcpy(reg_tbl, b->cc_reg_copy + IK_CC_REG_HEADER_SIZE, IK_CC_REG_TBL_SIZE);
	sec[IK_SECW_CC_3D] = ik_phys(tbl_3d);
	ik_memcpy(tbl_3d, b->cc_table_copy + IK_CC_HEADER_SIZE, IK_CC_3D_TBL_SIZE);
	sec[0] = 0;
	b->cc_3d_loaded = 1;
	list->entry[0].valid = b->cc_out_loaded ? 1 : 0;
	list->entry[0].section = &body->sec[IK_SEC_CC];
	ik_flag_set(body->update_flags, IK_UPD_COLOR_CORRECTION);
	return 0;
}

static void print_color_correction(const void *p)
{
	const img_dsp_color_correction *b = (const img_dsp_color_correction *)p;
	ik_print("[IK]     MatrixThreeDTableAddr 0x%x\n", (uint32_t)b->MatrixThreeDTableAddr);
}

static const img_dsp_debug_hook cc_hook = {LOG_COLOR_CORRECTION, IK_HOOK_RECORD, print_color_correction};

static int cc_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_color_correction(mode, (img_dsp_color_correction *)block, list);
}

static const img_dsp_setter cc_setter = {
    "vors_img_dsp_set_color_correction",
    NULL,
    sizeof(img_dsp_color_correction),
    cc_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_color_correction(int fd, const img_dsp_mode *mode,
                                                 img_dsp_color_correction *block)
{
	ik_debug_hooks_with_table(cc_setter.name, __builtin_return_address(0), &cc_hook, mode, block,
	                          sizeof(*block), block ? block->MatrixThreeDTableAddr : 0,
	                          IMG_DSP_CC_TABLE_SIZE);
	return img_dsp_common_set(&cc_setter, __builtin_return_address(0), fd, mode, block, 0);
}

/* The caller receives the context's own copy of the last table. */
extern "C" int vors_img_dsp_get_color_correction(const img_dsp_mode *mode, img_dsp_color_correction *out)
{
	if (out && mode && ik_video_or_still(mode->Pipe)) {
		img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
		void *ctx;
		if (img_dsp_core_utility_get_context(&id, &ctx) == 0) {
			ik_filter_blocks *b = &ik_body(mode->Pipe, ctx)->blk;
			uint64_t p = (uint64_t)(uintptr_t)b->cc_table_copy;
			memcpy(b->color_correction, &p, sizeof(p));
		}
	}
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.color_correction),
	                          sizeof(*out), "p_color_corr", IK_PIPES_VIDEO_STILL);
}

/* ---- chroma scale ---- */

#define IK_CS_ENTRIES 128u
#define IK_CS_GAIN_MAX 4095u

int img_dsp_core_check_set_chroma_scale(const img_dsp_mode *mode, img_dsp_chroma_scale *block,
                                        img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_chroma_scale is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	if (block->Enb > 1) {
		IK_WARN("Enb=%d should be within [0:1] in %s\n", block->Enb, __func__);
		block->Enb = 1;
		rc = IMG_DSP_CLAMPED;
	}
	for (uint32_t i = 0; i < IK_CS_ENTRIES; i++) {
		if (block->GainCurve[i] > IK_CS_GAIN_MAX) {
			IK_WARN("GainCurve[%d]=%d should be within [0:4095] in %s\n", i, block->GainCurve[i],
			        __func__);
			block->GainCurve[i] = IK_CS_GAIN_MAX;
			rc = IMG_DSP_CLAMPED;
		}
	}
	int step = img_dsp_core_process_chroma_scale(mode, block, list);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_chroma_scale(const img_dsp_mode *mode, const img_dsp_chroma_scale *block,
                                      img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.chroma_scale, block, sizeof(*block));
	uint8_t *table =
	    ik_color_table(mode, ctx, IK_STBL_CHROMA_SCALE, IK_VBUF_CS_TONE_CURVE, IK_STILL_CS_TONE_CURVE);
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_CHROMA_SCALE);
	uint16_t enable = block->Enb, make_legal = 0;
	uint32_t one = 1;
	memcpy(sec + IK_SECB_CS_ENABLE, &enable, 2);
	memcpy(sec + 8, &one, 4);
	body->sec[IK_SEC_CHROMA_SCALE].word[IK_SECW_CHROMA_SCALE_GAIN] = ik_phys(table);
	ik_memcpy(table, block->GainCurve, sizeof(block->GainCurve));
	memcpy(sec + 4, &make_legal, 2);
	static const int16_t weights_on[6] = {0, -44, 227, 179, -91, 0};
	static const int16_t weights_off[6] = {0, -44, 228, 180, -92, 0};
	memcpy(sec + 12, block->Enb ? weights_on : weights_off, sizeof(weights_on));
	list->entry[0].valid = 1;
	list->entry[0].section = &body->sec[IK_SEC_CHROMA_SCALE];
	ik_flag_set(body->update_flags, IK_UPD_CHROMA_SCALE);
	return 0;
}

static void print_chroma_scale(const void *p)
{
	const img_dsp_chroma_scale *b = (const img_dsp_chroma_scale *)p;
	ik_print("[IK]     Enb %d, GainCurve ={\n", b->Enb);
	for (uint32_t line = 0; line < IK_CS_ENTRIES / 16u; line++) {
		char text[16 * 8 + 1];
		size_t n = 0;
		for (uint32_t i = 0; i < 16u; i++)
			n += (size_t)snprintf(text + n, sizeof(text) - n, "%6d ",
			                      b->GainCurve[16u * line + i]);
		ik_print("[IK]%s\n", text);
	}
	ik_print("[IK]  }\n");
}

static const img_dsp_debug_hook chroma_scale_hook = {LOG_CHROMA_SCALE, IK_HOOK_PRINT_ONLY,
                                                     print_chroma_scale};

static int chroma_scale_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_chroma_scale(mode, (img_dsp_chroma_scale *)block, list);
}

static const img_dsp_setter chroma_scale_setter = {
    "vors_img_dsp_set_chroma_scale",
    &chroma_scale_hook,
    sizeof(img_dsp_chroma_scale),
    chroma_scale_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_chroma_scale(int fd, const img_dsp_mode *mode, img_dsp_chroma_scale *block)
{
	return img_dsp_common_set(&chroma_scale_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_chroma_scale(const img_dsp_mode *mode, img_dsp_chroma_scale *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.chroma_scale), sizeof(*out),
	                          "p_chroma_scale", IK_PIPES_VIDEO_STILL);
}

/* Colour correction: the 3-D table and its register file. */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_ctx.h"
#include "ik_debug.h"

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

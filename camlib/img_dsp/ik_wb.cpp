/* White-balance gain and the colour-correction register file. */
#include "ik_arch.h"
#include "ik_color.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <string.h>

#define IK_WB_GAIN_MAX 0xFFFFFFu
/* Largest per-colour gain before the section's 12-bit packing; a larger
 * product would only ever wrap. */
#define IK_WB_PRODUCT_MAX 0x0FFFFFFFu
#define IK_CC_REG_HEADER_SIZE 12u

ik_ctx_body *ik_color_body(const char *caller, const img_dsp_mode *mode, void **ctx)
{
	if (!ik_video_or_still(mode->Pipe)) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		return NULL;
	}
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	if (img_dsp_core_utility_get_context(&id, ctx) != 0)
		return NULL;
	return ik_body(mode->Pipe, *ctx);
}

uint32_t ik_buffer_index(const img_dsp_mode *mode, const void *ctx)
{
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	uint32_t idx = 0;
	img_dsp_core_utility_get_context_tbl_idx(mode->BatchId, &id, &idx);
	const ik_ctx_head *head = (const ik_ctx_head *)ctx;
	if (idx >= head->buf_num || idx >= IMG_DSP_MAX_BUF_NUM)
		idx = 0;
	return idx;
}

uint8_t *ik_color_table(const img_dsp_mode *mode, void *ctx, unsigned tbl, uint32_t video_offset,
                        uint32_t still_offset)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO)
		return (uint8_t *)ctx + still_offset;
	uint32_t idx = ik_buffer_index(mode, ctx);
	ik_body(mode->Pipe, ctx)->blk.section_tbl_idx[tbl] = (uint8_t)idx;
	return (uint8_t *)(uintptr_t)((const ik_ctx_head *)ctx)->buf[idx] + video_offset;
}

void ik_debug_hooks_with_table(const char *setter, const void *return_address, const img_dsp_debug_hook *hook,
                               const img_dsp_mode *mode, const void *block, uint32_t block_size,
                               uint64_t table, uint32_t table_size)
{
	const void *data[2] = {block, (const void *)(uintptr_t)table};
	const uint32_t sizes[2] = {block_size, table_size};
	uint8_t count = (img_dsp_debug_flags() & IMG_DSP_DEBUG_NO_TABLES) || !table ? 1 : 2;
	img_dsp_debug_hooks_n(setter, return_address, hook, mode, block, count, data, sizes);
}

/* ---- white-balance gain ---- */

static int clamp_gain(uint32_t *v, const char *name, const char *fn, int line)
{
	if (*v <= IK_WB_GAIN_MAX)
		return 0;
	ik_print("[IK][Warning]%s() %d %s 0x%x is 12.12 format and should not exceed 0xFFFFFF in %s\n", fn,
	         line, name, *v, fn);
	*v = IK_WB_GAIN_MAX;
	return IMG_DSP_CLAMPED;
}

int img_dsp_core_check_set_wb_gain(const img_dsp_mode *mode, img_dsp_wb_gain *block,
                                   img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("pWbGains is NULL in %s\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	rc |= clamp_gain(&block->AeGain, "ae_gain", __func__, __LINE__);
	rc |= clamp_gain(&block->GlobalDGain, "global_dgain", __func__, __LINE__);
	rc |= clamp_gain(&block->GainR, "GainR", __func__, __LINE__);
	rc |= clamp_gain(&block->GainG, "GainG", __func__, __LINE__);
	rc |= clamp_gain(&block->GainB, "GainB", __func__, __LINE__);
	int step = img_dsp_core_process_wb_gain(mode, block, list);
	return step == IMG_DSP_FAIL ? step : rc;
}

/* The section keeps a gain's 12 most significant bits, scaled by 16. */
static uint32_t pack_gain(uint32_t v)
{
	uint32_t s = 0;
	while ((v >> s) > 4095u)
		s++;
	return (v >> s) << (s + 4);
}

static uint32_t scaled_gain(uint32_t gain, uint64_t f)
{
	uint64_t v = ((uint64_t)gain * f) >> 12;
	return v > IK_WB_PRODUCT_MAX ? IK_WB_PRODUCT_MAX : (uint32_t)v;
}

static bool deferred_applies(const img_dsp_mode *mode)
{
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO && (mode->FuncMode & IMG_DSP_FUNC_NO_HDR))
		return false;
	return !(mode->Pipe == IMG_DSP_PIPE_STILL && (mode->FuncMode & 4u));
}

static void set_entry(img_dsp_update_list *list, unsigned e, void *section)
{
	list->entry[e].valid = 1;
	list->entry[e].section = section;
}

/* Copies entry `from` of a re-run's list into entry `to`. */
static void take_entry(img_dsp_update_list *list, unsigned to, const img_dsp_update_list *sub, unsigned from)
{
	list->entry[to] = sub->entry[from];
}

void write_black_level_offsets(ik_cmd_image *sec, const int16_t table[9])
{
	uint16_t off[9];
	for (int c = 0; c < 3; c++) {
		off[c] = (uint16_t)table[6 + c];
		off[3 + c] = (uint16_t)table[3 + c];
		off[6 + c] = (uint16_t)table[c];
	}
	memcpy((uint8_t *)sec[IK_SEC_BLACK_LEVEL].word + 20, off, sizeof(off));
}

static void rerun_deferred_steps(const img_dsp_mode *mode, ik_ctx_body *body, img_dsp_update_list *list)
{
	img_dsp_update_list sub;
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_dgain_saturation_level(mode, &body->blk.dgain_saturation_level, &sub);
	take_entry(list, IK_WB_UPD_DGAIN_SATURATION, &sub, 0);
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_local_exposure(mode, body->blk.local_exposure, &sub);
	take_entry(list, IK_WB_UPD_LOCAL_EXPOSURE, &sub, 0);
	take_entry(list, IK_WB_UPD_LOCAL_EXPOSURE_2, &sub, 1);
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_dynamic_bad_pixel_correction(mode, body->blk.dbp_correction, &sub);
	take_entry(list, IK_WB_UPD_DBP, &sub, 0);
}

int img_dsp_core_process_wb_gain(const img_dsp_mode *mode, const img_dsp_wb_gain *block,
                                 img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO) {
		img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
		uint32_t idx = 0;
		img_dsp_core_utility_get_context_tbl_idx(mode->BatchId, &id, &idx);
		body->blk.section_tbl_idx[IK_STBL_LOCAL_EXPOSURE] = (uint8_t)idx;
	}
	ik_memcpy(&body->blk.wb_gain, block, sizeof(*block));
	static const unsigned owned[] = {0, 1, 2, 4, 5, 6};
	for (unsigned e : owned)
		list->entry[e].valid = 0;
	if (block->GainR == 0 || block->GainG == 0 || block->GainB == 0) {
		IK_WARN("Gain %d, %d, %d. one or more are zeros\n", block->GainR, block->GainG, block->GainB);
		return IMG_DSP_FAIL;
	}
	uint64_t f = (mode->FuncMode & IMG_DSP_FUNC_NO_HDR)
	                 ? 4096u
	                 : ((uint64_t)block->GlobalDGain * block->AeGain) >> 12;
	uint32_t *wb = body->sec[IK_SEC_WB_GAIN].word;
	wb[1] = pack_gain(scaled_gain(block->GainR, f));
	wb[2] = wb[3] = pack_gain(scaled_gain(block->GainG, f));
	wb[4] = pack_gain(scaled_gain(block->GainB, f));

	ik_cmd_image *sec = body->sec;
	int16_t *table = body->blk.deferred_black_level_table;
	if (body->blk.deferred_black_level[0] && deferred_applies(mode)) {
		int16_t black[4];
		memcpy(black, body->blk.static_black_level, sizeof(black));
		img_dsp_core_deferred_black_level_table(black, block, table);
		sec[IK_SEC_BLACK_LEVEL].word[0] = IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET;
		write_black_level_offsets(sec, table);
		set_entry(list, IK_WB_UPD_BLACK_LEVEL, &sec[IK_SEC_BLACK_LEVEL]);
		ik_flag_set(body->update_flags, IK_UPD_BLACK_LEVEL);
		list->entry[IK_WB_UPD_STAT_REFRESH].valid = 1;
		rerun_deferred_steps(mode, body, list);
	} else {
		body->blk.deferred_black_level[0] = 0;
		memset(table, 0, 9 * sizeof(table[0]));
		write_black_level_offsets(sec, table);
		set_entry(list, IK_WB_UPD_BLACK_LEVEL, &sec[IK_SEC_BLACK_LEVEL]);
		ik_flag_set(body->update_flags, IK_UPD_BLACK_LEVEL);
	}
	set_entry(list, IK_WB_UPD_WB_GAIN, &sec[IK_SEC_WB_GAIN]);
	ik_flag_set(body->update_flags, IK_UPD_WB_GAIN);
	return 0;
}

static void print_wb_gain(const void *p)
{
	const img_dsp_wb_gain *b = (const img_dsp_wb_gain *)p;
	ik_print("[IK]     GainR %d, GainG %d, GainB %d AeGain %d GlobalDGain %d\n", b->GainR, b->GainG,
	         b->GainB, b->AeGain, b->GlobalDGain);
}

static const img_dsp_debug_hook wb_gain_hook = {LOG_WB_GAIN, IK_HOOK_RECORD, print_wb_gain};

static int wb_gain_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	int rc = img_dsp_core_check_set_wb_gain(mode, (img_dsp_wb_gain *)block, list);
	/* Only a block taken as given refreshes the statistics set-up. */
	if (rc != 0)
		list->entry[IK_WB_UPD_STAT_REFRESH].valid = 0;
	return rc;
}

static int wb_gain_refresh(int fd, const img_dsp_mode *mode, void *, const img_dsp_update_list *list)
{
	if (list->entry[IK_WB_UPD_STAT_REFRESH].valid && mode->Pipe != IMG_DSP_PIPE_VIDEO &&
	    mode->BatchId != IMG_DSP_BATCH_NONE)
		vors_img_dsp_3a_set_aaa_stat_info(fd, mode);
	return 0;
}

static const img_dsp_setter wb_gain_setter = {
    "vors_img_dsp_set_wb_gain", &wb_gain_hook, sizeof(img_dsp_wb_gain), wb_gain_step,
    IK_PIPES_IN_CORE,           NULL,          wb_gain_refresh,
};

extern "C" int vors_img_dsp_set_wb_gain(int fd, const img_dsp_mode *mode, img_dsp_wb_gain *block)
{
	return img_dsp_common_set(&wb_gain_setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_wb_gain(const img_dsp_mode *mode, img_dsp_wb_gain *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.wb_gain), sizeof(*out),
	                          "p_wb_gains", IK_PIPES_VIDEO_STILL);
}

/* ---- colour-correction register file ---- */

int img_dsp_core_check_set_color_correction_reg(const img_dsp_mode *mode, img_dsp_color_correction_reg *block,
                                                img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_color_corr_reg is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	if (block->RegSettingAddr == 0) {
		IK_ERROR("reg_setting_addr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	return img_dsp_core_process_color_correction_reg(mode, block, list);
}

static void read_version(const uint8_t *table, uint32_t v[2])
{
	memcpy(v, table, 2 * sizeof(uint32_t));
}

int img_dsp_core_process_color_correction_reg(const img_dsp_mode *mode,
                                              const img_dsp_color_correction_reg *block,
                                              img_dsp_update_list *)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_filter_blocks *b = &body->blk;
	const uint8_t *table = (const uint8_t *)(uintptr_t)block->RegSettingAddr;
	uint64_t copy = (uint64_t)(uintptr_t)b->cc_reg_copy;
	memcpy(b->color_correction_reg, &copy, sizeof(copy));
	uint32_t size;
	memcpy(&size, table + 8, sizeof(size));
	if (size != IMG_DSP_CC_REG_SIZE) {
		IK_WARN("Color correction reg file format error!\n");
		return IMG_DSP_FAIL;
	}
	uint32_t reg[2], cc3d[2];
	read_version(table, reg);
	read_version(b->cc_table_copy, cc3d);
	if (b->cc_3d_loaded && (reg[0] != cc3d[0] || reg[1] != cc3d[1])) {
		IK_WARN(
		    "Color correction reg file is programmed to Ver %d.%d. Current CC_3D version is %d.%d\n",
		    reg[0], reg[1], cc3d[0], cc3d[1]);
		IK_WARN("         A New CC_3D table is required\n");
	}
	if (mode->Pipe == IMG_DSP_PIPE_STILL) {
		uint32_t hiso[2], hiso_size;
		read_version(b->cc_hiso_table, hiso);
		memcpy(&hiso_size, b->cc_hiso_table + 8, sizeof(hiso_size));
		if (hiso_size != 0 && b->cc_hiso_3d_loaded && (reg[0] != hiso[0] || reg[1] != hiso[1])) {
			IK_WARN("Color correction reg file is programmed to Ver %d.%d. Current HISO CC_3D "
			        "version is "
			        "%d.%d\n",
			        reg[0], reg[1], hiso[0], hiso[1]);
			IK_WARN("         A New HISO CC_3D table is required\n");
		}
	}
	b->cc_reg_loaded = 1;
	ik_memcpy(b->cc_reg_copy, table, IMG_DSP_CC_REG_SIZE);
	b->cc_reg_version[0] = reg[0];
	b->cc_reg_version[1] = reg[1];
	ik_flag_set(body->update_flags, IK_UPD_CC_REG);
	return 0;
}

static void print_cc_reg(const void *p)
{
	const img_dsp_color_correction_reg *b = (const img_dsp_color_correction_reg *)p;
	ik_print("[IK]     RegSettingAddr 0x%x\n", (uint32_t)b->RegSettingAddr);
}

static const img_dsp_debug_hook cc_reg_hook = {LOG_COLOR_CORRECTION_REG, IK_HOOK_RECORD, print_cc_reg};

static int cc_reg_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_color_correction_reg(mode, (img_dsp_color_correction_reg *)block, list);
}

static const img_dsp_setter cc_reg_setter = {
    "vors_img_dsp_set_color_correction_reg",
    NULL,
    sizeof(img_dsp_color_correction_reg),
    cc_reg_step,
    IK_PIPES_IN_CORE,
    NULL,
    NULL,
};

extern "C" int vors_img_dsp_set_color_correction_reg(const img_dsp_mode *mode,
                                                     img_dsp_color_correction_reg *block)
{
	ik_debug_hooks_with_table(cc_reg_setter.name, __builtin_return_address(0), &cc_reg_hook, mode, block,
	                          sizeof(*block), block ? block->RegSettingAddr : 0, IMG_DSP_CC_REG_SIZE);
	return img_dsp_common_set(&cc_reg_setter, __builtin_return_address(0), -1, mode, block, 0);
}

extern "C" int vors_img_dsp_get_color_correction_reg(const img_dsp_mode *mode,
                                                     img_dsp_color_correction_reg *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.color_correction_reg),
	                          sizeof(*out), "p_color_corr_reg", IK_PIPES_VIDEO_STILL);
}

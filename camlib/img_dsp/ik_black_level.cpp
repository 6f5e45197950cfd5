/* Black levels and digital-gain saturation. */
#include "ik_arch.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"
#include "ik_raw.h"

#include <stddef.h>

/* Rounded half away from zero; the product may exceed 64 bits when a black
 * level meets a large total gain. */
static int64_t div_round_65536(__int128 v)
{
	__int128 a = v < 0 ? -v : v;
	__int128 q = (a + 32768) >> 16;
	return (int64_t)(v < 0 ? -q : q);
}

void img_dsp_core_deferred_black_level_table(const int16_t black[4], const img_dsp_wb_gain *wb,
                                             int16_t table[9])
{
	/* Three 24-bit factors do not fit 64 bits: the total gain is taken
	 * whole and only then scaled to 16.16. */
	unsigned __int128 ae_dgain = (unsigned __int128)wb->AeGain * wb->GlobalDGain;
	unsigned __int128 gain[3] = {
	    (wb->GainR * ae_dgain) >> 20,
	    (wb->GainG * ae_dgain) >> 20,
	    (wb->GainB * ae_dgain) >> 20,
	};
	int32_t m = black[0];
	for (int i = 1; i < 4; i++)
		if (black[i] < m)
			m = black[i];
	int64_t n = -(int64_t)m;
	unsigned __int128 largest = gain[2] ? gain[2] : 1;
	if (gain[0] > largest)
		largest = gain[0];
	if (gain[1] > largest)
		largest = gain[1];
	int64_t limit = (int64_t)(((unsigned __int128)1 << 30) / largest);
	for (int c = 0; c < 3; c++) {
		int64_t def = n < limit ? n : limit;
		table[c] = (int16_t)def;
		table[6 + c] = (int16_t)(n < 512 ? n : 512);
		table[3 + c] = (int16_t)div_round_65536((__int128)def * (__int128)gain[c]);
	}
}

/* ---- static black level ---- */

static int clamp_black(const char *fn, const char *name, int16_t *v)
{
	if (*v >= -2048 && *v <= 2047)
		return 0;
	ik_print("[IK][Warning]%s() %d %s %d should be within [-2048:2047] in %s\n", fn, __LINE__, name, *v,
	         fn);
	*v = *v > 2047 ? 2047 : -2048;
	return 1;
}

int img_dsp_core_check_set_static_black_level(const img_dsp_mode *mode, img_dsp_static_black_level *block,
                                              img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_black_corr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = clamp_black(__func__, "BlackB", &block->BlackB);
	changed |= clamp_black(__func__, "BlackGb", &block->BlackGb);
	changed |= clamp_black(__func__, "BlackGr", &block->BlackGr);
	changed |= clamp_black(__func__, "BlackR", &block->BlackR);
	int rc = img_dsp_core_process_static_black_level(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

/* Entry 4 of the static black level's list: the statistics set-up may be
 * refreshed. */
#define IK_BLC_UPD_STAT_REFRESH 4u

int img_dsp_core_process_static_black_level(const img_dsp_mode *mode, const img_dsp_static_black_level *block,
                                            img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.static_black_level, block, sizeof(*block));
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_BLACK_LEVEL);
	const int32_t rgb[4] = {block->BlackR, block->BlackGr, block->BlackGb, block->BlackB};
	int32_t offsets[4];
	uint8_t pattern = ik_hdr_pattern(body);
	int ordered = ik_hdr_pattern_order(pattern, rgb, offsets, sizeof(offsets[0]));
	ik_memcpy(sec + 4, offsets, sizeof(offsets));
	if (ordered != 0) {
		IK_WARN("Incorrect pattern %d\n", pattern);
		return IMG_DSP_FAIL;
	}
	body->sec[IK_SEC_BLACK_LEVEL].word[0] = IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET;
	write_black_level_offsets(body->sec, body->blk.deferred_black_level_table);
	ik_flag_set(body->update_flags, IK_UPD_BLACK_LEVEL);
	ik_note(list, 0, sec);

	img_dsp_update_list wb;
	memset(&wb, 0, sizeof(wb));
	img_dsp_core_process_wb_gain(mode, &body->blk.wb_gain, &wb);
	list->entry[1] = wb.entry[IK_WB_UPD_DGAIN_SATURATION];
	list->entry[2] = wb.entry[IK_WB_UPD_LOCAL_EXPOSURE];
	list->entry[3] = wb.entry[IK_WB_UPD_WB_GAIN];
	list->entry[IK_BLC_UPD_STAT_REFRESH].valid = 1;
	return 0;
}

static void print_static_black_level(const void *p)
{
	const img_dsp_static_black_level *b = (const img_dsp_static_black_level *)p;
	ik_print("[IK] BlackR %d, BlackGr %d, BlackGb %d, BlackB %d\n", b->BlackR, b->BlackGr, b->BlackGb,
	         b->BlackB);
}

static const img_dsp_debug_hook static_black_level_hook = {LOG_STATIC_BLACK_LEVEL, IK_HOOK_RECORD,
                                                           print_static_black_level};

static int static_black_level_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	/* An HDR video channel keeps its black levels in the HDR records. */
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO && (mode->FuncMode & IMG_DSP_FUNC_NO_HDR))
		return img_dsp_core_process_post_hdr_static_black_level(mode, block, 0, list);
	int rc = img_dsp_core_check_set_static_black_level(mode, (img_dsp_static_black_level *)block, list);
	if (rc != 0)
		list->entry[IK_BLC_UPD_STAT_REFRESH].valid = 0;
	return rc;
}

/* The statistics limits follow the black levels on the still pipe, when
 * the step took its block as given (entry `entry` of its list). */
static int stat_refresh_if(int fd, const img_dsp_mode *mode, const img_dsp_update_list *list, unsigned entry)
{
	if (list->entry[entry].valid && mode->Pipe != IMG_DSP_PIPE_VIDEO &&
	    mode->BatchId != IMG_DSP_BATCH_NONE)
		vors_img_dsp_3a_set_aaa_stat_info(fd, mode);
	return 0;
}

static int stat_refresh(int fd, const img_dsp_mode *mode, void *, const img_dsp_update_list *list)
{
	return stat_refresh_if(fd, mode, list, IK_BLC_UPD_STAT_REFRESH);
}

extern "C" int vors_img_dsp_set_static_black_level(int fd, const img_dsp_mode *mode,
                                                   img_dsp_static_black_level *block)
{
	static const img_dsp_setter setter = {__func__,         &static_black_level_hook,
	                                      sizeof(*block),   static_black_level_step,
	                                      IK_PIPES_IN_CORE, NULL,
	                                      stat_refresh};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_static_black_level(const img_dsp_mode *mode, img_dsp_static_black_level *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.static_black_level),
	                          sizeof(*out), "p_black_corr", IK_PIPES_VIDEO_STILL);
}

/* ---- deferred black level ---- */

int img_dsp_core_process_deferred_black_level(const img_dsp_mode *mode,
                                              const img_dsp_deferred_black_level *block,
                                              img_dsp_update_list *list);

int img_dsp_core_check_set_deferred_black_level(const img_dsp_mode *mode, img_dsp_deferred_black_level *block,
                                                img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_def_blc is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("Enable=%d should be within [0:1] in %s\n", block->Enb, 1);
	int rc = img_dsp_core_process_deferred_black_level(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

/* Entries of the deferred black level's list. */
enum ik_defblc_update_entry {
	IK_DEFBLC_UPD_BLACK_LEVEL = 0,
	IK_DEFBLC_UPD_DBP = 1,
	IK_DEFBLC_UPD_DGAIN_SATURATION = 2,
	IK_DEFBLC_UPD_LOCAL_EXPOSURE = 3,
	IK_DEFBLC_UPD_CC = 4,
	IK_DEFBLC_UPD_LOCAL_EXPOSURE_2 = 5,
	IK_DEFBLC_UPD_STAT_REFRESH = 7, /* the setter's own: the block was taken as given */
};

static void record_table_index(const img_dsp_mode *mode, const void *ctx, ik_ctx_body *body)
{
	uint32_t idx = ik_buffer_index(mode, ctx);
	static const enum ik_section_tbl tables[] = {IK_STBL_LOCAL_EXPOSURE, IK_STBL_CC_REG, IK_STBL_CC_3D,
	                                             IK_STBL_DBP_HOT, IK_STBL_DBP_DARK};
	for (enum ik_section_tbl t : tables)
		body->blk.section_tbl_idx[t] = (uint8_t)idx;
}

static void rerun_after_deferred(const img_dsp_mode *mode, void *ctx, ik_ctx_body *body,
                                 img_dsp_update_list *list)
{
	ik_filter_blocks *b = &body->blk;
	img_dsp_update_list sub;
	memset(&sub, 0, sizeof(sub));
	img_dsp_static_black_level black = ik_load<img_dsp_static_black_level>(b->static_black_level);
	img_dsp_core_process_static_black_level(mode, &black, &sub);
	list->entry[IK_DEFBLC_UPD_BLACK_LEVEL] = sub.entry[0];
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_dynamic_bad_pixel_correction(mode, b->dbp_correction, &sub);
	list->entry[IK_DEFBLC_UPD_DBP] = sub.entry[0];
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_dgain_saturation_level(mode, &b->dgain_saturation_level, &sub);
	list->entry[IK_DEFBLC_UPD_DGAIN_SATURATION] = sub.entry[0];
	memset(&sub, 0, sizeof(sub));
	img_dsp_core_process_local_exposure(mode, b->local_exposure, &sub);
	list->entry[IK_DEFBLC_UPD_LOCAL_EXPOSURE] = sub.entry[0];
	list->entry[IK_DEFBLC_UPD_LOCAL_EXPOSURE_2] = sub.entry[1];
	/* A colour correction that was never loaded has nothing to re-run. */
	if (b->cc_3d_loaded) {
		memset(&sub, 0, sizeof(sub));
		set_color_correction_val(mode, ctx, b->cc_table_copy, &sub);
		list->entry[IK_DEFBLC_UPD_CC].valid |= sub.entry[0].valid;
		list->entry[IK_DEFBLC_UPD_CC].section = &body->sec[IK_SEC_CC];
	}
}

int img_dsp_core_process_deferred_black_level(const img_dsp_mode *mode,
                                              const img_dsp_deferred_black_level *block,
                                              img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO)
		record_table_index(mode, ctx, body);
	for (auto &e : list->entry)
		e.valid = 0;
	ik_filter_blocks *b = &body->blk;
	b->deferred_black_level[0] = block->Enb;
	int16_t *table = b->deferred_black_level_table;
	if (block->Enb == 0) {
		memset(table, 0, 9 * sizeof(table[0]));
	} else {
		bool hdr = (mode->Pipe == IMG_DSP_PIPE_VIDEO && (mode->FuncMode & IMG_DSP_FUNC_NO_HDR)) ||
		           (mode->Pipe == IMG_DSP_PIPE_STILL && (mode->FuncMode & 4u));
		if (!hdr) {
			ik_memcpy(b->deferred_black_level, block, sizeof(*block));
			int16_t black[4];
			memcpy(black, b->static_black_level, sizeof(black));
			img_dsp_core_deferred_black_level_table(black, &b->wb_gain, table);
		}
	}
	rerun_after_deferred(mode, ctx, body, list);
	ik_flag_set(body->update_flags, IK_UPD_DEFERRED_BLACK_LEVEL);
	return 0;
}

static void print_deferred_black_level(const void *p)
{
	ik_print("[IK]     Enb %d\n", ((const img_dsp_deferred_black_level *)p)->Enb);
}

static const img_dsp_debug_hook deferred_black_level_hook = {LOG_DEFERRED_BLACK_LEVEL, IK_HOOK_RECORD,
                                                             print_deferred_black_level};

static int deferred_black_level_step(const img_dsp_mode *mode, void *block, uint32_t,
                                     img_dsp_update_list *list)
{
	int rc =
	    img_dsp_core_check_set_deferred_black_level(mode, (img_dsp_deferred_black_level *)block, list);
	list->entry[IK_DEFBLC_UPD_STAT_REFRESH].valid = rc == 0;
	return rc;
}

static int deferred_stat_refresh(int fd, const img_dsp_mode *mode, void *, const img_dsp_update_list *list)
{
	return stat_refresh_if(fd, mode, list, IK_DEFBLC_UPD_STAT_REFRESH);
}

extern "C" int vors_img_dsp_set_deferred_black_level(int fd, const img_dsp_mode *mode,
                                                     img_dsp_deferred_black_level *block)
{
	static const img_dsp_setter setter = {
	    __func__, &deferred_black_level_hook, sizeof(*block), deferred_black_level_step, IK_PIPES_IN_CORE,
	    NULL,     deferred_stat_refresh};
	return img_dsp_common_set_contex(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_deferred_black_level(const img_dsp_mode *mode,
                                                     img_dsp_deferred_black_level *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.deferred_black_level),
	                          sizeof(*out), "p_def_blc", IK_PIPES_VIDEO_STILL);
}

/* ---- digital-gain saturation level ---- */

int img_dsp_core_check_set_dgain_saturation_level(const img_dsp_mode *mode,
                                                  img_dsp_dgain_saturation_level *block,
                                                  img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_dgain_sat is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("LevelBlue %d should be within [0:32767] in %s\n", block->LevelBlue, 32767);
	changed |=
	    IK_CLAMP("LevelGreenEven %d should be within [0:32767] in %s\n", block->LevelGreenEven, 32767);
	changed |=
	    IK_CLAMP("LevelGreenOdd %d should be within [0:32767] in %s\n", block->LevelGreenOdd, 32767);
	changed |= IK_CLAMP("LevelRed %d should be within [0:32767] in %s\n", block->LevelRed, 32767);
	int rc = img_dsp_core_process_dgain_saturation_level(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

static uint32_t raised_level(int16_t offset, uint32_t level)
{
	int32_t v = (int32_t)offset + (int32_t)level;
	return (uint32_t)(v < 32767 ? v : 32767);
}

int img_dsp_core_process_dgain_saturation_level(const img_dsp_mode *mode,
                                                const img_dsp_dgain_saturation_level *block,
                                                img_dsp_update_list *list)
{
	void *ctx = NULL;
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	ik_ctx_body *body = NULL;
	if (ik_video_or_still(mode->Pipe) && img_dsp_core_utility_get_context(&id, &ctx) == 0)
		body = ik_body(mode->Pipe, ctx);
	if (!body) {
		IK_ERROR("does not support pipe\n");
		return IMG_DSP_FAIL;
	}
	body->blk.dgain_saturation_level = *block;
	const int16_t *t = body->blk.deferred_black_level_table;
	uint32_t *w = body->sec[IK_SEC_DGAIN_SATURATION].word;
	w[1] = raised_level(t[3], block->LevelRed);
	w[2] = raised_level(t[4], block->LevelGreenEven);
	w[3] = raised_level(t[4], block->LevelGreenOdd);
	w[4] = raised_level(t[5], block->LevelBlue);
	ik_flag_set(body->update_flags, IK_UPD_DGAIN_SATURATION);
	ik_note(list, 0, &body->sec[IK_SEC_DGAIN_SATURATION]);
	return 0;
}

static void print_dgain_saturation_level(const void *p)
{
	const img_dsp_dgain_saturation_level *b = (const img_dsp_dgain_saturation_level *)p;
	ik_print("[IK]     LevelRed %d, LevelGreenEven %d, LevelGreenOdd %d, LevelBlue %d\n", b->LevelRed,
	         b->LevelGreenEven, b->LevelGreenOdd, b->LevelBlue);
}

static const img_dsp_debug_hook dgain_saturation_hook = {LOG_DGAIN_SATURATION_LEVEL, IK_HOOK_RECORD,
                                                         print_dgain_saturation_level};

static int dgain_saturation_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_dgain_saturation_level(mode, (img_dsp_dgain_saturation_level *)block,
	                                                     list);
}

extern "C" int vors_img_dsp_set_dgain_saturation_level(int fd, const img_dsp_mode *mode,
                                                       img_dsp_dgain_saturation_level *block)
{
	static const img_dsp_setter setter = {
	    __func__, &dgain_saturation_hook, sizeof(*block), dgain_saturation_step, IK_PIPES_IN_CORE, NULL,
	    NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_dgain_saturation_level(const img_dsp_mode *mode,
                                                       img_dsp_dgain_saturation_level *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.dgain_saturation_level),
	                          sizeof(*out), "p_dgain_sat", IK_PIPES_VIDEO_STILL);
}

/* Demosaic, GbGr mismatch, the CFA noise filter and the luma processing mode. */
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_raw.h"

#include <stddef.h>

/* ---- demosaic ---- */

#define IK_DEMOSAIC_ON 7u

int img_dsp_core_process_demosaic(const img_dsp_mode *mode, const img_dsp_demosaic *block,
                                  img_dsp_update_list *list);

int img_dsp_core_check_set_demosaic(const img_dsp_mode *mode, img_dsp_demosaic *block,
                                    img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_demosaic is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed =
	    IK_CLAMP("ActivityThresh=%d should be within [0:31] in %s\n\n", block->ActivityThresh, 31);
	changed |= IK_CLAMP("ActivityDifferenceThresh=%d should be within [0:16383] in %s\n\n",
	                    block->ActivityDifferenceThresh, 16383);
	changed |=
	    IK_CLAMP("GradClipThresh=%d should be within [0:4095] in %s\n\n", block->GradClipThresh, 4095);
	changed |= IK_CLAMP("GradNoiseThresh=%d should be within [0:32767] in %s\n\n", block->GradNoiseThresh,
	                    32767);
	int rc = img_dsp_core_process_demosaic(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

int img_dsp_core_process_demosaic(const img_dsp_mode *mode, const img_dsp_demosaic *block,
                                  img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.demosaic, block, sizeof(*block));
	ik_demosaic_cmd cmd;
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_DEMOSAIC);
	memcpy(&cmd, sec, sizeof(cmd));
	cmd.enable = body->blk.demosaic_internal.enable ? IK_DEMOSAIC_ON : 0;
	cmd.activity_thresh = (uint8_t)block->ActivityThresh;
	cmd.activity_difference_thresh = block->ActivityDifferenceThresh;
	cmd.grad_clip_thresh = block->GradClipThresh;
	cmd.grad_noise_thresh = block->GradNoiseThresh;
	memcpy(sec, &cmd, sizeof(cmd));
	ik_flag_set(body->update_flags, IK_UPD_DEMOSAIC);
	ik_note(list, 0, &body->sec[IK_SEC_DEMOSAIC]);
	return 0;
}

/* The internal switch turns the section off at once; only the next demosaic
 * set turns it on again. */
int img_dsp_core_process_demosaic_internal(const img_dsp_mode *mode, img_dsp_demosaic_internal *block,
                                           img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_demosaic is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	if (block->enable > 1) {
		IK_WARN("demosaic.enable > 1\n");
		block->enable = 1;
	}
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	body->blk.demosaic_internal = *block;
	if (block->enable == 0)
		ik_sec_bytes(body->sec, IK_SEC_DEMOSAIC)[offsetof(ik_demosaic_cmd, enable)] = 0;
	ik_flag_set(body->update_flags, IK_UPD_DEMOSAIC);
	ik_note(list, 0, &body->sec[IK_SEC_DEMOSAIC]);
	return 0;
}

static void print_demosaic(const void *p)
{
	const img_dsp_demosaic *b = (const img_dsp_demosaic *)p;
	ik_print("[IK]    ActivityThresh %d\n", b->ActivityThresh);
	ik_print("[IK]    ActivityDifferenceThresh %d\n", b->ActivityDifferenceThresh);
	ik_print("[IK]    GradClipThresh %d\n", b->GradClipThresh);
	ik_print("[IK]    GradNoiseThresh %d\n", b->GradNoiseThresh);
}

static void print_demosaic_internal(const void *p)
{
	ik_print("[IK]    demosaic.enable %d\n", ((const img_dsp_demosaic_internal *)p)->enable);
}

static const img_dsp_debug_hook demosaic_hook = {LOG_DEMOSAIC, IK_HOOK_RECORD, print_demosaic};
/* The internal switch shares the demosaic's debug switch but writes no record. */
static const img_dsp_debug_hook demosaic_internal_hook = {LOG_DEMOSAIC, IK_HOOK_PRINT_ONLY,
                                                          print_demosaic_internal};

static int demosaic_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_demosaic(mode, (img_dsp_demosaic *)block, list);
}

static int demosaic_internal_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_process_demosaic_internal(mode, (img_dsp_demosaic_internal *)block, list);
}

extern "C" int vors_img_dsp_set_demosaic(int fd, const img_dsp_mode *mode, img_dsp_demosaic *block)
{
	static const img_dsp_setter setter = {
	    __func__, &demosaic_hook, sizeof(*block), demosaic_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_demosaic(const img_dsp_mode *mode, img_dsp_demosaic *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.demosaic), sizeof(*out),
	                          "p_demosaic", IK_PIPES_VIDEO_STILL);
}

extern "C" int vors_img_dsp_set_demosaic_internal(int fd, const img_dsp_mode *mode,
                                                  img_dsp_demosaic_internal *block)
{
	static const img_dsp_setter setter = {
	    __func__, &demosaic_internal_hook, sizeof(*block), demosaic_internal_step, IK_PIPES_IN_CORE, NULL,
	    NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_demosaic_internal(const img_dsp_mode *mode, img_dsp_demosaic_internal *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.demosaic_internal),
	                          sizeof(*out), "p_demosaic", IK_PIPES_VIDEO_STILL);
}

/* ---- GbGr mismatch ---- */

int img_dsp_core_process_gbgr_mismatch(const img_dsp_mode *mode, const img_dsp_gbgr_mismatch *block,
                                       img_dsp_update_list *list);

int img_dsp_core_check_set_gbgr_mismatch(const img_dsp_mode *mode, img_dsp_gbgr_mismatch *block,
                                         img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_gbgr_mismatch is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("NarrowEnable %d should be [0:1] in %s\n", block->NarrowEnable, 1);
	changed |= IK_CLAMP("WideEnable %d should be [0:1] in %s\n", block->WideEnable, 1);
	changed |= IK_CLAMP("WideSafety=%d should be within [0:256] in %s\n", block->WideSafety, 256);
	changed |= IK_CLAMP("WideThresh=%d should be within [0:256] in %s\n", block->WideThresh, 256);
	int rc = img_dsp_core_process_gbgr_mismatch(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

static uint16_t in_128ths(uint16_t v)
{
	uint32_t w = (uint32_t)v * 128u;
	return (uint16_t)(w < 32767u ? w : 32767u);
}

void ik_rerun_cfa_noise(const img_dsp_mode *mode, ik_ctx_body *body, img_dsp_update_list *list,
                        unsigned entry)
{
	img_dsp_update_list sub;
	memset(&sub, 0, sizeof(sub));
	img_dsp_cfa_noise_filter stored = ik_load<img_dsp_cfa_noise_filter>(body->blk.cfa_noise_filter);
	img_dsp_core_process_cfa_noise_filter(mode, &stored, &sub);
	list->entry[entry] = sub.entry[0];
}

int img_dsp_core_process_gbgr_mismatch(const img_dsp_mode *mode, const img_dsp_gbgr_mismatch *block,
                                       img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.gbgr_mismatch, block, sizeof(*block));
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_GBGR_MISMATCH);
	sec[IK_SECB_GBGR_MODE] = (uint8_t)(block->NarrowEnable | (block->WideEnable << 1));
	const uint16_t wide[2] = {in_128ths(block->WideThresh), in_128ths(block->WideSafety)};
	memcpy(sec + IK_SECB_GBGR_WIDE, wide, sizeof(wide));
	ik_note(list, 0, &body->sec[IK_SEC_GBGR_MISMATCH]);
	ik_rerun_cfa_noise(mode, body, list, 1);
	ik_flag_set(body->update_flags, IK_UPD_GBGR_MISMATCH);
	return 0;
}

static void print_gbgr(const void *p)
{
	const img_dsp_gbgr_mismatch *b = (const img_dsp_gbgr_mismatch *)p;
	ik_print("[IK] GbGrMismatch NarrowEnable %d WideEnable %d WideSafety %d WideThresh %d\n",
	         b->NarrowEnable, b->WideEnable, b->WideSafety, b->WideThresh);
}

static const img_dsp_debug_hook gbgr_hook = {LOG_GBGR_MISMATCH, IK_HOOK_RECORD, print_gbgr};

static int gbgr_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_gbgr_mismatch(mode, (img_dsp_gbgr_mismatch *)block, list);
}

extern "C" int vors_img_dsp_set_gbgr_mismatch(int fd, const img_dsp_mode *mode, img_dsp_gbgr_mismatch *block)
{
	static const img_dsp_setter setter = {
	    __func__, &gbgr_hook, sizeof(*block), gbgr_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_gbgr_mismatch(const img_dsp_mode *mode, img_dsp_gbgr_mismatch *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.gbgr_mismatch), sizeof(*out),
	                          "pGbGrMismatch", IK_PIPES_VIDEO_STILL);
}

/* ---- CFA noise filter ---- */

/* A selectivity must be a multiple of 50 up to 250. */
static int check_selectivity(const char *fn, int line, const char *name, uint16_t *v, bool fine)
{
	if (*v > 256) {
		ik_print(
		    fine ? "[IK][Warning]%s() %d %s = %d should be [0,50,100,150,200,250] in %s\n\n"
		         : "[IK][Warning]%s() %d %s = %d should be within [0,50,100,150,200,250] in %s\n\n",
		    fn, line, name, *v, fn);
		*v = 250;
		return 1;
	}
	if (*v % 50u != 0 || *v > 250) {
		ik_print("[IK][Warning]%s() %d %s = %d should be within [0,50,100,150,200,250] in %s\n\n", fn,
		         line, name, *v, fn);
		*v = (uint16_t)(*v / 50u * 50u);
		if (*v > 250)
			*v = 250;
		return 1;
	}
	return 0;
}

int img_dsp_check_set_cfa_noise_filter(const img_dsp_mode *mode, img_dsp_cfa_noise_filter *block,
                                       img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_cfa_noise is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("Enb = %d should be within [0:1] in %s\n\n", block->Enb, 1);
	for (int i = 0; i < 3; i++) {
		changed |= IK_CLAMP_AT("ExtentFine[%d] = %d should be within [0:256] in %s\n\n",
		                       block->ExtentFine, i, 256);
		changed |= IK_CLAMP_AT("ExtentRegular[%d] = %d should be within [0:256] in %s\n\n",
		                       block->ExtentRegular, i, 256);
		changed |= IK_CLAMP_AT("NoiseLevel[%d] = %d should be within [0:8192] in %s\n\n",
		                       block->NoiseLevel, i, 8192);
		changed |= IK_CLAMP_AT("OriginalBlendStr[%d] = %d should be within [0:256] in %s\n\n",
		                       block->OriginalBlendStr, i, 256);
		changed |= IK_CLAMP_AT("StrengthFine[%d] = %d should be within [0:256] in %s\n\n",
		                       block->StrengthFine, i, 256);
	}
	changed |= check_selectivity(__func__, __LINE__, "SelectivityFine", &block->SelectivityFine, true);
	changed |=
	    check_selectivity(__func__, __LINE__, "SelectivityRegular", &block->SelectivityRegular, false);
	int rc = img_dsp_core_process_cfa_noise_filter(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

static uint8_t bit_length(uint32_t v)
{
	uint8_t n = 0;
	while (v) {
		n++;
		v >>= 1;
	}
	return n;
}

static uint16_t min_u32(uint32_t v, uint32_t max)
{
	return (uint16_t)(v < max ? v : max);
}

/* Another filter of the shared DSP block needs it running. */
static bool pass_mode_needed(const img_dsp_mode *mode, const ik_filter_blocks *b)
{
	img_dsp_gbgr_mismatch gbgr = ik_load<img_dsp_gbgr_mismatch>(b->gbgr_mismatch);
	return (b->deferred_black_level[0] && mode->FuncMode != IMG_DSP_FUNC_NO_HDR) ||
	       b->local_exposure[0] != 0 || ik_load<uint32_t>(b->cfa_leakage_filter) != 0 ||
	       ik_load<uint32_t>(b->anti_aliasing) != 0 || gbgr.NarrowEnable != 0 || gbgr.WideEnable != 0;
}

int img_dsp_core_process_cfa_noise_filter(const img_dsp_mode *mode, const img_dsp_cfa_noise_filter *block,
                                          img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.cfa_noise_filter, block, sizeof(*block));
	ik_cfa_noise_filter_cmd cmd;
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_CFA_NOISE_FILTER);
	memcpy(&cmd, sec, sizeof(cmd));
	uint8_t center[3];
	uint8_t *target_coarse = &cmd.target_coarse_red, *target_fine = &cmd.target_fine_red;
	uint8_t *cutoff = &cmd.cutoff_red;
	uint16_t coarse[3], fine[3];
	for (int i = 0; i < 3; i++) {
		fine[i] = min_u32(block->NoiseLevel[i], 32767);
		coarse[i] = min_u32(((uint32_t)(block->StrengthFine[i] + 32) * fine[i]) >> 5, 32767);
		uint32_t blend = block->OriginalBlendStr[i] >> 3;
		center[i] = bit_length(blend < 31 ? blend : 31);
		target_coarse[i] = (uint8_t)min_u32(block->ExtentFine[i] >> 2, 63);
		target_fine[i] = (uint8_t)min_u32(block->ExtentRegular[i] >> 2, 63);
		uint32_t er = block->ExtentRegular[i];
		cutoff[i] = (uint8_t)(er <= 127 ? er / 12 : (er - 128) / 24 + 10);
	}
	static const uint8_t pairs[6][2] = {{0, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 1}};
	const uint8_t *regular = pairs[block->SelectivityRegular / 50 % 6];
	const uint8_t *fine_sel = pairs[block->SelectivityFine / 50 % 6];
	for (auto &c : center)
		if (c < regular[0])
			c = regular[0];
	uint8_t enable = block->Enb & 3u;
	if (block->Enb == 0) {
		memset(coarse, 0, sizeof(coarse));
		memset(fine, 0, sizeof(fine));
		enable = pass_mode_needed(mode, &body->blk) ? 1 : 0;
	}
	cmd.bits0 = (uint8_t)(enable | (fine_sel[0] << 4) | (fine_sel[1] << 6));
	cmd.bits1 = (uint8_t)(regular[0] | (regular[1] << 2) | (center[0] << 4));
	cmd.bits2 = (uint8_t)(center[1] | (center[2] << 4));
	memcpy(&cmd.thresh_coarse_red, coarse, sizeof(coarse));
	memcpy(&cmd.thresh_fine_red, fine, sizeof(fine));
	memcpy(sec, &cmd, sizeof(cmd));
	ik_flag_set(body->update_flags, IK_UPD_CFA_NOISE);
	ik_note(list, 0, &body->sec[IK_SEC_CFA_NOISE_FILTER]);
	return 0;
}

static void print_cfa_noise(const void *p)
{
	const img_dsp_cfa_noise_filter *b = (const img_dsp_cfa_noise_filter *)p;
	ik_print("[IK]     Enb %d, NoiseLevel %d %d %d, OriginalBlendStr %d %d %d, ExtentRegular %d %d %d\n",
	         b->Enb, b->NoiseLevel[0], b->NoiseLevel[1], b->NoiseLevel[2], b->OriginalBlendStr[0],
	         b->OriginalBlendStr[1], b->OriginalBlendStr[2], b->ExtentRegular[0], b->ExtentRegular[1],
	         b->ExtentRegular[2]);
	ik_print(
	    "[IK]     ExtentFine %d, %d, %d, StrengthFine %d, %d, %d, SelectivityRegular %d, SelectivityFine "
	    "%d\n",
	    b->ExtentFine[0], b->ExtentFine[1], b->ExtentFine[2], b->StrengthFine[0], b->StrengthFine[1],
	    b->StrengthFine[2], b->SelectivityRegular, b->SelectivityFine);
}

static const img_dsp_debug_hook cfa_noise_hook = {LOG_CFA_NOISE_FILTER, IK_HOOK_RECORD, print_cfa_noise};

static int cfa_noise_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_check_set_cfa_noise_filter(mode, (img_dsp_cfa_noise_filter *)block, list);
}

extern "C" int vors_img_dsp_set_cfa_noise_filter(int fd, const img_dsp_mode *mode,
                                                 img_dsp_cfa_noise_filter *block)
{
	static const img_dsp_setter setter = {
	    __func__, &cfa_noise_hook, sizeof(*block), cfa_noise_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_cfa_noise_filter(const img_dsp_mode *mode, img_dsp_cfa_noise_filter *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.cfa_noise_filter),
	                          sizeof(*out), "pCfaNoise", IK_PIPES_VIDEO_STILL);
}

/* ---- luma processing mode ---- */

int img_dsp_core_check_set_luma_processing_mode(const img_dsp_mode *mode, img_dsp_liso_process_select *block,
                                                img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_liso_process_select is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int rc = 0;
	if (mode->AlgoMode == DSP_IMG_CORE_ALGO_MODE_HISO) {
		IK_ERROR("%s() not support current AlgoMode %d\n", "img_dsp_core_check_set_sharpen_mode_cfg",
		         mode->AlgoMode);
		rc = IMG_DSP_FAIL;
	}
	if (block->Select > 2) {
		IK_ERROR("%s() undefined Select %d\n\n", __func__, block->Select);
		rc = IMG_DSP_FAIL;
	}
	if (block->advanced_features_enable & ~4u) {
		IK_ERROR("%s() undefined advanced_features_enable %d\n\n", __func__,
		         block->advanced_features_enable);
		rc = IMG_DSP_FAIL;
	}
	if (rc != 0)
		return rc;
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.liso_process_select, block, sizeof(*block));
	ik_flag_set(body->update_flags, IK_UPD_LUMA_PROCESSING_MODE);
	list->entry[0].valid = 1;
	return 0;
}

static void print_luma_mode(const void *p)
{
	ik_print("[IK]     Select %d\n\n", ((const img_dsp_liso_process_select *)p)->Select);
}

static const img_dsp_debug_hook luma_mode_hook = {LOG_FIRST_LUMA_PROCESSING_MODE, IK_HOOK_RECORD,
                                                  print_luma_mode};

static int luma_mode_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_set_luma_processing_mode(mode, (img_dsp_liso_process_select *)block, list);
}

extern "C" int vors_img_dsp_set_luma_processing_mode(int fd, const img_dsp_mode *mode,
                                                     img_dsp_liso_process_select *block)
{
	/* the record carries the Select byte only */
	static const img_dsp_setter setter = {
	    __func__, &luma_mode_hook, 1, luma_mode_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_luma_processing_mode(const img_dsp_mode *mode,
                                                     img_dsp_liso_process_select *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.liso_process_select),
	                          sizeof(*out), "p_liso_process_select", IK_PIPES_VIDEO_STILL);
}

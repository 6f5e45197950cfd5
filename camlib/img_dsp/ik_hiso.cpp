/*
 * High-ISO configurations: initialisation and the post-execute frame. The
 * processing steps themselves are not defined for this DSP yet; each one
 * reports that, so a high-ISO configuration carries no DSP settings.
 */
#include "ik_hiso.h"

#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_liso_layout.h"

#include <string.h>

int img_dsp_core_high_iso_init_cfg(const img_dsp_cfg_id *id, uint32_t algo_mode)
{
	if (algo_mode != DSP_IMG_CORE_ALGO_MODE_HISO) {
		IK_ERROR("Incorrect AlgoMode %d is not HighISO\n", algo_mode);
		return -1;
	}
	void *hdr;
	int rc = img_dsp_core_utility_get_config(id, &hdr);
	if (rc != 0)
		return rc;
	img_dsp_iso_cfg *cfg = (img_dsp_iso_cfg *)hdr;
	cfg->AlgoMode = DSP_IMG_CORE_ALGO_MODE_HISO;
	ik_memset(cfg->main.bytes, 0, 4);
	IK_WARN("FIXME:\n");
	cfg->state = DSP_IMG_CORE_CFG_STATE_INIT;
	return 0;
}

static int img_dsp_core_high_iso_update_diag_case_id(const img_dsp_mode *mode)
{
	uint32_t tag = 0;
	uint8_t diag = 0;
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO)
		img_dsp_core_utility_get_iso_cfg_tag(mode, &tag);
	img_dsp_core_utility_get_diag_case_id(mode, &diag);
	IK_DEBUG("Pipe: %d,.diag_case_id %d\n", mode->Pipe, diag);
	return 0;
}

static int img_dsp_core_high_iso_cfg_share(img_dsp_hiso_param *)
{
	IK_DEBUG("Start\n");
	return 0;
}

#define HISO_STEP(name)                                                                                      \
	static int name(img_dsp_hiso_param *)                                                                \
	{                                                                                                    \
		IK_WARN("FIXME:\n");                                                                         \
		return 0;                                                                                    \
	}

HISO_STEP(img_dsp_core_high_iso_cfg_common)
HISO_STEP(img_dsp_core_high_iso_cfg_color)
HISO_STEP(img_dsp_core_high_iso_cfg_mctf)
HISO_STEP(img_dsp_core_high_iso_cfg_step01)
HISO_STEP(img_dsp_core_high_iso_cfg_step02)
HISO_STEP(img_dsp_core_high_iso_cfg_step03)
HISO_STEP(img_dsp_core_high_iso_cfg_step04)
HISO_STEP(img_dsp_core_high_iso_cfg_step05)
HISO_STEP(img_dsp_core_high_iso_cfg_step06)
HISO_STEP(img_dsp_core_high_iso_cfg_step07)
HISO_STEP(img_dsp_core_high_iso_cfg_step08)
HISO_STEP(img_dsp_core_high_iso_cfg_step09)
HISO_STEP(img_dsp_core_high_iso_cfg_step10)
HISO_STEP(img_dsp_core_high_iso_cfg_step11)
HISO_STEP(img_dsp_core_high_iso_cfg_step15)
HISO_STEP(img_dsp_core_high_iso_cfg_step16)
HISO_STEP(img_dsp_core_high_iso_cfg_vwarp)
HISO_STEP(img_dsp_core_high_iso_cfg_flow)

int img_dsp_core_high_iso_post_exe(const img_dsp_mode *mode, img_dsp_hiso_param *param, uint32_t *done)
{
	typedef int (*step_fn)(img_dsp_hiso_param *);
	static const step_fn steps[] = {
	    img_dsp_core_high_iso_cfg_common, img_dsp_core_high_iso_cfg_color,
	    img_dsp_core_high_iso_cfg_mctf,   img_dsp_core_high_iso_cfg_step01,
	    img_dsp_core_high_iso_cfg_step02, img_dsp_core_high_iso_cfg_step03,
	    img_dsp_core_high_iso_cfg_step04, img_dsp_core_high_iso_cfg_step05,
	    img_dsp_core_high_iso_cfg_step06, img_dsp_core_high_iso_cfg_step07,
	    img_dsp_core_high_iso_cfg_step08, img_dsp_core_high_iso_cfg_step09,
	    img_dsp_core_high_iso_cfg_step10, img_dsp_core_high_iso_cfg_step11,
	    img_dsp_core_high_iso_cfg_step15, img_dsp_core_high_iso_cfg_step16,
	    img_dsp_core_high_iso_cfg_vwarp,  img_dsp_core_high_iso_cfg_flow,
	};
	IK_DEBUG("Start Full Config Post Execute\n");
	*done = 0;
	img_dsp_core_high_iso_update_diag_case_id(mode);
	img_dsp_core_high_iso_cfg_share(param);
	for (step_fn step : steps)
		step(param);
	ik_memset(param->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	*done = 1;
	return 0;
}

static int img_dsp_core_high_iso_prepare_post_exe_param(const img_dsp_mode *mode, img_dsp_iso_cfg *cfg,
                                                        img_dsp_hiso_param *param)
{
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_ctx_id cid = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	void *ctx;
	int rc = img_dsp_core_utility_get_context(&cid, &ctx);
	if (rc != 0)
		return rc;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	memset(param, 0, sizeof(*param));
	param->ctx = ctx;
	param->update_flags = body->update_flags;
	param->sections = body->sec;
	param->filters = &body->blk;
	param->settings = cfg->main.bytes;
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO) {
		uint32_t idx = 0;
		img_dsp_core_utility_get_context_tbl_idx(mode->BatchId, &cid, &idx);
		param->tables = (uint8_t *)(uintptr_t)((ik_ctx_head *)ctx)->buf[idx];
	} else {
		param->tables = (uint8_t *)ctx;
	}
	return 0;
}

static void img_dsp_core_high_iso_pre_post_exe(img_dsp_hiso_param *) {}

int img_dsp_core_high_iso_post_exe_cfg(const img_dsp_mode *mode)
{
	int rc;
	img_dsp_iso_cfg *cfg = ik_post_exe_config(__func__, mode, DSP_IMG_CORE_ALGO_MODE_HISO, false, &rc);
	if (!cfg)
		return rc;
	img_dsp_hiso_param param;
	if (img_dsp_core_high_iso_prepare_post_exe_param(mode, cfg, &param) != 0) {
		IK_WARN("prepare post execute param fail\n");
		return -1;
	}
	img_dsp_core_high_iso_pre_post_exe(&param);
	uint32_t done = 0;
	rc = img_dsp_core_high_iso_post_exe(mode, &param, &done);
	if (rc != 0) {
		IK_WARN("post execute fail\n");
		return rc;
	}
	cfg->state = DSP_IMG_CORE_CFG_STATE_POSTEXE;
	return 0;
}

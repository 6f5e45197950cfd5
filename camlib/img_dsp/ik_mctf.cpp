/*
 * Video MCTF settings: the main and internal blocks, the checks of their
 * level and curve records, and the temporal-adjust blocks. The setters only
 * check and store; the configuration builder packs the stored blocks.
 */
#include "ik_mctf.h"

#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <string.h>

#define WARN_IN(fn, fmt, ...) ik_print("[IK][Warning]%s() %d " fmt, fn, __LINE__, ##__VA_ARGS__)

int ik_mctf_clamp_field(const char *fn, const char *in, const char *field, int32_t *v, int32_t lo, int32_t hi)
{
	if (*v <= hi)
		return 0;
	WARN_IN(fn, "%s = %d should be within [%d:%d] in %s\n\n", field, *v, lo, hi, in);
	*v = hi;
	return IMG_DSP_CLAMPED;
}

ik_ctx_body *ik_mctf_video_body(const char *caller, const img_dsp_mode *mode, const char *refusal)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		ik_print("[IK][Error]%s() %d %s %d\n", caller, __LINE__, refusal, mode->Pipe);
		return NULL;
	}
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return NULL;
	return ik_body(mode->Pipe, ctx);
}

int ik_mctf_store(const char *caller, const img_dsp_mode *mode, size_t offset, const void *block, size_t size,
                  unsigned flag, const char *refusal)
{
	ik_ctx_body *body = ik_mctf_video_body(caller, mode, refusal);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy((uint8_t *)&body->blk + offset, block, size);
	ik_flag_set(body->update_flags, flag);
	return 0;
}

/* ---- level and curve records ---- */

static int check_level(const char *fn, const char *name, img_dsp_mctf_level *l, bool cliso, const char *in)
{
	int rc = 0;
	bool refused;
	if (cliso) {
		refused = l->method != 0 && l->method != 3;
		if (refused)
			WARN_IN(fn, "%s.method = %d should be within [0,3] in %s\n\n", name, l->method, in);
	} else {
		refused = l->method != 0 && l->method != 1 && l->method != 7;
		if (refused)
			WARN_IN(fn, "%s.method = %d should be within [0,1,7] in %s\n\n", name, l->method, in);
	}
	if (l->high == 0 || l->high == 255) {
		WARN_IN(fn, "%s.high = %d should be within [1:254] in %s\n\n", name, l->high, in);
		l->high = l->high == 0 ? 1 : 254;
		rc = IMG_DSP_CLAMPED;
	}
	if (l->low > 253) {
		WARN_IN(fn, "%s.low = %d should be within [0:253] in %s\n\n", name, l->low, in);
		l->low = 253;
		rc = IMG_DSP_CLAMPED;
	}
	if (l->high_delta > 7) {
		WARN_IN(fn, "%s.high_delta = %d should be within [0:7] in %s\n\n", name, l->high_delta, in);
		l->high_delta = 7;
		rc = IMG_DSP_CLAMPED;
	}
	if (l->low_delta > 7) {
		WARN_IN(fn, "%s.low_delta = %d should be within [0:7] in %s\n\n", name, l->low_delta, in);
		l->low_delta = 7;
		rc = IMG_DSP_CLAMPED;
	}
	return refused ? IMG_DSP_FAIL : rc;
}

int img_dsp_core_check_set_video_mctf_level(const char *name, img_dsp_mctf_level *level)
{
	return check_level(__func__, name, level, false, __func__);
}

int img_dsp_core_check_set_cliso_video_mctf_level(const char *step, const char *name,
                                                  img_dsp_mctf_level *level)
{
	return check_level(__func__, name, level, true, step);
}

int ik_mctf_check_limits(const char *fn, const char *name, uint8_t t[4], const char *in)
{
	int rc = 0;
	for (int k = 0; k < 4; k++) {
		if (t[k] <= 63)
			continue;
		if (k == 0)
			WARN_IN(fn, "%s .temporal_t0 = %d should be within [0:63] in %s\n\n", name, t[k], in);
		else
			WARN_IN(fn, "%s temporal_t%d = %d should be within [0:63] in %s\n\n", name, k, t[k],
			        in);
		t[k] = 63;
		rc = IMG_DSP_CLAMPED;
	}
	return rc;
}

int img_dsp_core_check_set_video_mctf_curve(const char *name, img_dsp_mctf_curve *curve)
{
	return ik_mctf_check_limits(__func__, name, &curve->temporal_t0, __func__);
}

/* ---- video MCTF ---- */

typedef struct spatial_fields {
	const char *name;
	int32_t *wide;
	int32_t *thresh;
	img_dsp_mctf_level *iso;
	const char *iso_name;
	img_dsp_mctf_level *dir;
	const char *dir_name;
} spatial_fields;

static int check_spatial(const char *fn, const spatial_fields *s)
{
	int rc = 0;
	if (*s->wide > 8) {
		WARN_IN(fn, "%s_spat_smth_wide_edge_detect = %d should be within [0:8]\n", s->name, *s->wide);
		*s->wide = 8;
		rc = IMG_DSP_CLAMPED;
	}
	if (*s->thresh > 2047) {
		WARN_IN(fn, "%s_spat_smth_edge_thresh = %d should be within [0:2047]\n", s->name, *s->thresh);
		*s->thresh = 2047;
		rc = IMG_DSP_CLAMPED;
	}
	rc |= img_dsp_core_check_set_video_mctf_level(s->iso_name, s->iso);
	rc |= img_dsp_core_check_set_video_mctf_level(s->dir_name, s->dir);
	return rc;
}

int img_dsp_core_check_set_video_mctf(const img_dsp_mode *mode, img_dsp_video_mctf *b)
{
	if (!b) {
		IK_ERROR("p_mctf_info is NULL\n");
		return IMG_DSP_FAIL;
	}
	const char *fn = __func__;
	int rc = ik_mctf_clamp(fn, fn, "enable", &b->enable, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "remap_enable", &b->remap_enable, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "y_combine_strength", &b->y_combine_strength, 0, 256);
	rc |= img_dsp_core_check_set_video_mctf_curve("y", &b->y_curve);
	rc |= img_dsp_core_check_set_video_mctf_curve("cb", &b->cb_curve);
	rc |= img_dsp_core_check_set_video_mctf_curve("cr", &b->cr_curve);
	rc |= ik_mctf_clamp(fn, fn, "y_temporal_max_change_not_t0_t1_level_based",
	                    &b->y_temporal_max_change_not_t0_t1_level_based, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "cb_temporal_max_change_not_t0_t1_level_based",
	                    &b->cb_temporal_max_change_not_t0_t1_level_based, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "cr_temporal_max_change_not_t0_t1_level_based",
	                    &b->cr_temporal_max_change_not_t0_t1_level_based, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "y_strength_3d", &b->y_strength_3d, 0, 256);
	rc |= ik_mctf_clamp(fn, fn, "cb_strength_3d", &b->cb_strength_3d, 0, 256);
	rc |= ik_mctf_clamp(fn, fn, "cr_strength_3d", &b->cr_strength_3d, 0, 256);
	const spatial_fields spatial[3] = {
	    {"y", &b->y_spat_smth_wide_edge_detect, &b->y_spat_smth_edge_thresh, &b->y_spat_smth_iso,
	     "y_spat_smth_iso", &b->y_spat_smth_dir, "y_spat_smth_dir"},
	    {"cb", &b->cb_spat_smth_wide_edge_detect, &b->cb_spat_smth_edge_thresh, &b->cb_spat_smth_iso,
	     "cb_spat_smth_iso", &b->cb_spat_smth_dir, "cb_spat_smth_dir"},
	    {"cr", &b->cr_spat_smth_wide_edge_detect, &b->cr_spat_smth_edge_thresh, &b->cr_spat_smth_iso,
	     "cr_spat_smth_iso", &b->cr_spat_smth_dir, "cr_spat_smth_dir"},
	};
	for (const spatial_fields &s : spatial)
		rc |= check_spatial(fn, &s);
	rc |= img_dsp_core_check_set_video_mctf_level("y_overall_max_change", &b->y_overall_max_change);
	rc |= img_dsp_core_check_set_video_mctf_level("cb_overall_max_change", &b->cb_overall_max_change);
	rc |= img_dsp_core_check_set_video_mctf_level("cr_overall_max_change", &b->cr_overall_max_change);
	rc |= img_dsp_core_check_set_video_mctf_level("y_temporal_either_max_change_or_t0_t1_add",
	                                              &b->y_temporal_either_max_change_or_t0_t1_add);
	rc |= img_dsp_core_check_set_video_mctf_level("cb_temporal_either_max_change_or_t0_t1_add",
	                                              &b->cb_temporal_either_max_change_or_t0_t1_add);
	rc |= img_dsp_core_check_set_video_mctf_level("cr_temporal_either_max_change_or_t0_t1_add",
	                                              &b->cr_temporal_either_max_change_or_t0_t1_add);
	if (rc < 0)
		return IMG_DSP_FAIL;
	int step = img_dsp_core_process_video_mctf(mode, b);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_video_mctf(const img_dsp_mode *mode, const img_dsp_video_mctf *block)
{
	return ik_mctf_store(__func__, mode, offsetof(ik_filter_blocks, video_mctf), block, sizeof(*block),
	                     IK_UPD_VIDEO_MCTF, IK_MCTF_NO_PIPE);
}

int img_dsp_core_check_set_internal_video_mctf(const img_dsp_mode *mode, img_dsp_internal_video_mctf *b)
{
	if (!b) {
		IK_ERROR("p_internal_mctf_info is NULL\n");
		return IMG_DSP_FAIL;
	}
	const char *fn = __func__;
	int rc = ik_mctf_clamp(fn, fn, "temporal_adjust_frames_combine_num1",
	                       &b->temporal_adjust_frames_combine_num1, 1, 6);
	rc |= ik_mctf_clamp(fn, fn, "temporal_adjust_frames_combine_num2",
	                    &b->temporal_adjust_frames_combine_num2, 1, 6);
	rc |= ik_mctf_clamp(fn, fn, "temporal_adjust_y_greater_than_thresh_min_val",
	                    &b->temporal_adjust_y_greater_than_thresh_min_val, 0, 15);
	rc |= ik_mctf_clamp(fn, fn, "temporal_adjust_cb_greater_than_thresh_min_val",
	                    &b->temporal_adjust_cb_greater_than_thresh_min_val, 0, 15);
	rc |= ik_mctf_clamp(fn, fn, "temporal_adjust_cr_greater_than_thresh_min_val",
	                    &b->temporal_adjust_cr_greater_than_thresh_min_val, 0, 15);
	int step = img_dsp_core_process_internal_video_mctf(mode, b);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_internal_video_mctf(const img_dsp_mode *mode,
                                             const img_dsp_internal_video_mctf *block)
{
	return ik_mctf_store(__func__, mode, offsetof(ik_filter_blocks, internal_video_mctf), block,
	                     sizeof(*block), IK_UPD_VIDEO_MCTF, IK_MCTF_NO_PIPE);
}

void ik_mctf_print_level(const char *name, const img_dsp_mctf_level *l)
{
	ik_print("[IK]%s method %d\n", name, l->method);
	ik_print("[IK]%s low %d\n", name, l->low);
	ik_print("[IK]%s low_delta %d\n", name, l->low_delta);
	ik_print("[IK]%s low_strength %d\n", name, l->low_strength);
	ik_print("[IK]%s mid_strength %d\n", name, l->mid_strength);
	ik_print("[IK]%s high %d\n", name, l->high);
	ik_print("[IK]%s high_delta %d\n", name, l->high_delta);
	ik_print("[IK]%s high_strength %d\n", name, l->high_strength);
}

static void print_curve(const char *name, const img_dsp_mctf_curve *c)
{
	const uint8_t *v = &c->temporal_alpha0;
	for (int k = 0; k < 4; k++)
		ik_print("[IK]%s temporal_alpha%d %d\n", name, k, v[k]);
	for (int k = 0; k < 4; k++)
		ik_print("[IK]%s temporal_t%d %d\n", name, k, v[4 + k]);
}

static void print_video_mctf(const void *p)
{
	img_dsp_video_mctf b;
	memcpy(&b, p, sizeof(b));
	ik_print("[IK]enable %d\n", b.enable);
	ik_print("[IK]remap_enable %d\n", b.remap_enable);
	ik_print("[IK]frame_brightness %d\n", (int)b.frame_brightness);
	ik_print("[IK]y_combine_strength %d\n", b.y_combine_strength);
	ik_print("[IK]y_strength_3d %d\n", b.y_strength_3d);
	ik_print("[IK]y_spatial_max_change %d\n", b.y_spatial_max_change);
	ik_print("[IK]y_temporal_max_change %d\n", b.y_temporal_max_change);
	ik_print("[IK]cb_strength_3d %d\n", b.cb_strength_3d);
	ik_print("[IK]cb_spatial_max_change %d\n", b.cb_spatial_max_change);
	ik_print("[IK]cb_temporal_max_change %d\n", b.cb_temporal_max_change);
	ik_print("[IK]cr_spatial_max_change %d\n", b.cr_spatial_max_change);
	ik_print("[IK]cr_temporal_max_change %d\n", b.cr_temporal_max_change);
	ik_print("[IK]cr_strength_3d %d\n", b.cr_strength_3d);
	ik_print("[IK]y_temporal_max_change_not_t0_t1_level_based %d\n",
	         b.y_temporal_max_change_not_t0_t1_level_based);
	ik_print("[IK]cb_temporal_max_change_not_t0_t1_level_based %d\n",
	         b.cb_temporal_max_change_not_t0_t1_level_based);
	ik_print("[IK]cr_temporal_max_change_not_t0_t1_level_based %d\n",
	         b.cr_temporal_max_change_not_t0_t1_level_based);
	print_curve("y", &b.y_curve);
	print_curve("cb", &b.cb_curve);
	print_curve("cr", &b.cr_curve);
	ik_print("[IK]y_spat_smth_wide_weight %d\n", b.y_spat_smth_wide_edge_detect);
	ik_print("[IK]y_spat_smth_edge_thresh %d\n", b.y_spat_smth_edge_thresh);
	ik_mctf_print_level("y_spat_smth_dir", &b.y_spat_smth_dir);
	ik_mctf_print_level("y_spat_smth_iso", &b.y_spat_smth_iso);
	ik_print("[IK]cb_spat_smth_wide_weight %d\n", b.cb_spat_smth_wide_edge_detect);
	ik_print("[IK]cb_spat_smth_edge_thresh %d\n", b.cb_spat_smth_edge_thresh);
	ik_mctf_print_level("cb_spat_smth_dir", &b.cb_spat_smth_dir);
	ik_mctf_print_level("cb_spat_smth_iso", &b.cb_spat_smth_iso);
	ik_print("[IK]cr_spat_smth_wide_weight %d\n", b.cr_spat_smth_wide_edge_detect);
	ik_print("[IK]cr_spat_smth_edge_thresh %d\n", b.cr_spat_smth_edge_thresh);
	ik_mctf_print_level("cr_spat_smth_dir", &b.cr_spat_smth_dir);
	ik_mctf_print_level("cr_spat_smth_iso", &b.cr_spat_smth_iso);
	ik_mctf_print_level("y_overall_max_change", &b.y_overall_max_change);
	ik_mctf_print_level("cb_overall_max_change", &b.cb_overall_max_change);
	ik_mctf_print_level("cr_overall_max_change", &b.cr_overall_max_change);
	ik_mctf_print_level("y_temporal_either_max_change_or_t0_t1_add",
	                    &b.y_temporal_either_max_change_or_t0_t1_add);
	ik_mctf_print_level("cb_temporal_either_max_change_or_t0_t1_add",
	                    &b.cb_temporal_either_max_change_or_t0_t1_add);
	ik_mctf_print_level("cr_temporal_either_max_change_or_t0_t1_add",
	                    &b.cr_temporal_either_max_change_or_t0_t1_add);
}

static void print_internal_video_mctf(const void *p)
{
	const img_dsp_internal_video_mctf *b = (const img_dsp_internal_video_mctf *)p;
	ik_print("[IK]y_temporal_artifact_guard %d\n", b->y_temporal_artifact_guard);
	ik_print("[IK]cb_temporal_artifact_guard %d\n", b->cb_temporal_artifact_guard);
	ik_print("[IK]cr_temporal_artifact_guard %d\n", b->cr_temporal_artifact_guard);
	ik_print("[IK]temporal_adjust_y_greater_than_thresh_min_val %d\n",
	         b->temporal_adjust_y_greater_than_thresh_min_val);
	ik_print("[IK]temporal_adjust_cb_greater_than_thresh_min_val %d\n",
	         b->temporal_adjust_cb_greater_than_thresh_min_val);
	ik_print("[IK]temporal_adjust_cr_greater_than_thresh_min_val %d\n",
	         b->temporal_adjust_cr_greater_than_thresh_min_val);
	ik_print("[IK]temporal_adjust_frames_combine_num1 %d\n", b->temporal_adjust_frames_combine_num1);
	ik_print("[IK]temporal_adjust_frames_combine_num2 %d\n", b->temporal_adjust_frames_combine_num2);
}

static int video_mctf_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_video_mctf(mode, (img_dsp_video_mctf *)block);
}

static int internal_video_mctf_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_internal_video_mctf(mode, (img_dsp_internal_video_mctf *)block);
}

extern "C" int vors_img_dsp_set_video_mctf(int fd, const img_dsp_mode *mode, img_dsp_video_mctf *block)
{
	static const img_dsp_debug_hook hook = {LOG_VIDEO_MCTF, IK_HOOK_RECORD, print_video_mctf};
	static const img_dsp_setter setter = {
	    __func__, &hook, sizeof(img_dsp_video_mctf), video_mctf_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set_contex(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_video_mctf(const img_dsp_mode *mode, img_dsp_video_mctf *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(video_mctf), sizeof(*out), "pMctfInfo",
	                          IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_set_internal_video_mctf(int fd, const img_dsp_mode *mode,
                                                    img_dsp_internal_video_mctf *block)
{
	static const img_dsp_debug_hook hook = {LOG_VIDEO_MCTF, IK_HOOK_PRINT_ONLY,
	                                        print_internal_video_mctf};
	static const img_dsp_setter setter = {
	    __func__, &hook, sizeof(img_dsp_internal_video_mctf), internal_video_mctf_step, IK_PIPES_IN_CORE,
	    NULL,     NULL};
	return img_dsp_common_set_contex(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

/* ---- temporal adjust ---- */

int img_dsp_core_check_set_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                      img_dsp_video_mctf_temporal_adjust *b)
{
	if (!b) {
		IK_ERROR("p_mctf_info_temporal_adjust is NULL\n");
		return IMG_DSP_FAIL;
	}
	const char *fn = __func__;
	int rc = ik_mctf_clamp(fn, fn, "edge_adjust_b", &b->edge_adjust_b, 0, 2047);
	rc |= ik_mctf_clamp(fn, fn, "edge_adjust_l", &b->edge_adjust_l, 0, 2047);
	rc |= ik_mctf_clamp(fn, fn, "edge_adjust_r", &b->edge_adjust_r, 0, 2047);
	rc |= ik_mctf_clamp(fn, fn, "edge_adjust_t", &b->edge_adjust_t, 0, 2047);
	rc |= ik_mctf_clamp(fn, fn, "slow_mo_sensitivity", &b->slow_mo_sensitivity, 0, 11);
	rc |= ik_mctf_clamp(fn, fn, "score_noise_robust", &b->score_noise_robust, 0, 1);
	rc |= ik_mctf_clamp(fn, fn, "lev_adjust_high_delta", &b->lev_adjust_high_delta, 0, 7);
	rc |= ik_mctf_clamp(fn, fn, "lev_adjust_low_delta", &b->lev_adjust_low_delta, 0, 7);
	int step = img_dsp_core_process_video_mctf_temporal_adjust(mode, b);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                    const img_dsp_video_mctf_temporal_adjust *block)
{
	ik_ctx_body *body = ik_mctf_video_body(__func__, mode, IK_MCTF_NO_PIPE);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(&body->blk.mctf_temporal_adjust, block, sizeof(*block));
	/* The builder copies the edge margins into the flow section from here. */
	ik_memcpy(ik_sec_bytes(body->sec, IK_SEC_MCTF) + IK_SECB_MCTF_EDGE_REDUCE, block, 8);
	ik_flag_set(body->update_flags, IK_UPD_MCTF_TEMPORAL_ADJUST);
	return 0;
}

/* One member of the per-channel family. */
typedef struct channel_family {
	const char *check;
	const char *process;
	const char *null_name;
	size_t offset;
	unsigned flag;
} channel_family;

static const channel_family channels[3] = {
    {"img_dsp_core_check_set_video_mctf_temporal_adjust_y",
     "img_dsp_core_process_video_mctf_temporal_adjust_y", "p_mctf_info_temporal_adjust_y",
     offsetof(ik_filter_blocks, mctf_temporal_adjust_y), IK_UPD_MCTF_TEMPORAL_ADJUST_Y},
    {"img_dsp_core_check_set_video_mctf_temporal_adjust_cb",
     "img_dsp_core_process_video_mctf_temporal_adjust_cb", "p_mctf_info_temporal_adjust_cb",
     offsetof(ik_filter_blocks, mctf_temporal_adjust_cb), IK_UPD_MCTF_TEMPORAL_ADJUST_CB},
    {"img_dsp_core_check_set_video_mctf_temporal_adjust_cr",
     "img_dsp_core_process_video_mctf_temporal_adjust_cr", "p_mctf_info_temporal_adjust_cr",
     offsetof(ik_filter_blocks, mctf_temporal_adjust_cr), IK_UPD_MCTF_TEMPORAL_ADJUST_CR},
};

static int check_channel(const channel_family *f, const img_dsp_mode *mode,
                         img_dsp_video_mctf_temporal_adjust_y *b)
{
	const char *fn = f->check;
	if (!b) {
		ik_print("[IK][Error]%s() %d %s is NULL\n", fn, __LINE__, f->null_name);
		return IMG_DSP_FAIL;
	}
	int rc = ik_mctf_clamp(fn, fn, "max", &b->max, 0, 15);
	rc |= ik_mctf_clamp(fn, fn, "min", &b->min, 0, 15);
	rc |= ik_mctf_clamp(fn, fn, "motion_response", &b->motion_response, 0, 16383);
	rc |= ik_mctf_clamp(fn, fn, "noise_base", &b->noise_base, 0, 4095);
	rc |= ik_mctf_clamp(fn, fn, "still_thresh", &b->still_thresh, 0, 4095);
	if (ik_mctf_store(f->process, mode, f->offset, b, sizeof(*b), f->flag, IK_MCTF_NO_PIPE) != 0)
		return IMG_DSP_FAIL;
	return rc;
}

int img_dsp_core_check_set_video_mctf_temporal_adjust_y(const img_dsp_mode *mode,
                                                        img_dsp_video_mctf_temporal_adjust_y *block)
{
	return check_channel(&channels[0], mode, block);
}

int img_dsp_core_check_set_video_mctf_temporal_adjust_cb(const img_dsp_mode *mode,
                                                         img_dsp_video_mctf_temporal_adjust_cb *block)
{
	return check_channel(&channels[1], mode, block);
}

int img_dsp_core_check_set_video_mctf_temporal_adjust_cr(const img_dsp_mode *mode,
                                                         img_dsp_video_mctf_temporal_adjust_cr *block)
{
	return check_channel(&channels[2], mode, block);
}

static void print_temporal_adjust(const void *p)
{
	img_dsp_video_mctf_temporal_adjust b;
	memcpy(&b, p, sizeof(b));
	ik_print("[IK]edge_adjust_b %d\n", b.edge_adjust_b);
	ik_print("[IK]edge_adjust_l %d\n", b.edge_adjust_l);
	ik_print("[IK]edge_adjust_r %d\n", b.edge_adjust_r);
	ik_print("[IK]edge_adjust_t %d\n", b.edge_adjust_t);
	ik_print("[IK]slow_mo_sensitivity %d\n", b.slow_mo_sensitivity);
	ik_print("[IK]score_noise_robust %d\n", b.score_noise_robust);
	ik_print("[IK]lev_adjust_high %d\n", b.lev_adjust_high);
	ik_print("[IK]lev_adjust_high_delta %d\n", b.lev_adjust_high_delta);
	ik_print("[IK]lev_adjust_high_strength %d\n", b.lev_adjust_high_strength);
	ik_print("[IK]lev_adjust_low %d\n", b.lev_adjust_low);
	ik_print("[IK]lev_adjust_low_delta %d\n", b.lev_adjust_low_delta);
	ik_print("[IK]lev_adjust_low_strength %d\n", b.lev_adjust_low_strength);
	ik_print("[IK]lev_adjust_mid_strength %d\n", b.lev_adjust_mid_strength);
}

static void print_channel(const void *p)
{
	img_dsp_video_mctf_temporal_adjust_y b;
	memcpy(&b, p, sizeof(b));
	ik_print("[IK]max %d\n", b.max);
	ik_print("[IK]min %d\n", b.min);
	ik_print("[IK]motion_response %d\n", b.motion_response);
	ik_print("[IK]noise_base %d\n", b.noise_base);
	ik_print("[IK]still_thresh %d\n", b.still_thresh);
}

static int temporal_adjust_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_video_mctf_temporal_adjust(mode,
	                                                         (img_dsp_video_mctf_temporal_adjust *)block);
}

static int channel_step(const img_dsp_mode *mode, void *block, uint32_t index, img_dsp_update_list *)
{
	return check_channel(&channels[index], mode, (img_dsp_video_mctf_temporal_adjust_y *)block);
}

extern "C" int vors_img_dsp_set_video_mctf_temporal_adjust(int fd, const img_dsp_mode *mode,
                                                           img_dsp_video_mctf_temporal_adjust *block)
{
	static const img_dsp_debug_hook hook = {LOG_VIDEO_MCTF_TEMPORAL_ADJUST, IK_HOOK_RECORD,
	                                        print_temporal_adjust};
	static const img_dsp_setter setter = {
	    __func__, &hook, sizeof(*block), temporal_adjust_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_video_mctf_temporal_adjust(const img_dsp_mode *mode,
                                                           img_dsp_video_mctf_temporal_adjust *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(mctf_temporal_adjust), sizeof(*out),
	                          "p_mctf_temporal_adjust", IK_PIPES_VIDEO_ONLY);
}

#define CHANNEL_SETTER(ch, index, log_id)                                                                    \
	extern "C" int vors_img_dsp_set_video_mctf_temporal_adjust_##ch(                                     \
	    int fd, const img_dsp_mode *mode, img_dsp_video_mctf_temporal_adjust_##ch *block)                \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, IK_HOOK_RECORD, print_channel};              \
		static const img_dsp_setter setter = {                                                       \
		    __func__, &hook, sizeof(*block), channel_step, IK_PIPES_IN_CORE, NULL, NULL};            \
		return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, index);     \
	}

CHANNEL_SETTER(y, 0, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y)
CHANNEL_SETTER(cb, 1, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB)
CHANNEL_SETTER(cr, 2, LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR)

extern "C" int vors_img_dsp_get_video_mctf_temporal_adjust_y(const img_dsp_mode *mode,
                                                             img_dsp_video_mctf_temporal_adjust_y *out)
{
	if (!out) {
		IK_ERROR("p_mctf_temporal_adjust_y is empty.\n");
		return IMG_DSP_FAIL;
	}
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(mctf_temporal_adjust_y), sizeof(*out),
	                          "p_mctf_temporal_adjust_y", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_video_mctf_temporal_adjust_cb(const img_dsp_mode *mode,
                                                              img_dsp_video_mctf_temporal_adjust_cb *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(mctf_temporal_adjust_cb), sizeof(*out),
	                          "p_mctf_temporal_adjust_cb", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_video_mctf_temporal_adjust_cr(const img_dsp_mode *mode,
                                                              img_dsp_video_mctf_temporal_adjust_cr *out)
{
	return img_dsp_common_get_contex(__func__, mode, out, IK_BLK_OFFSET(mctf_temporal_adjust_cr),
	                                 sizeof(*out), "p_mctf_temporal_adjust_cr", IK_PIPES_VIDEO_ONLY);
}

/*
 * Motion detection and the MCTF-B filter of the CLISO video variant: the
 * setters check and store, the builder turns the stored blocks into the
 * advanced layout's cliso section and its tables.
 */
#include "ik_mctf.h"

#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <string.h>

/* The wording of these steps' pipe refusal, kept as the logs know it. */
#define CLISO_NO_PIPE "dose not support pipe"

/* ---- motion detection ---- */

static int process_motion_detect(const img_dsp_mode *mode, const img_dsp_motion_detect *block)
{
	return ik_mctf_store("img_dsp_core_process_motion_detect", mode,
	                     offsetof(ik_filter_blocks, motion_detect), block, sizeof(*block),
	                     IK_UPD_MOTION_DETECT, CLISO_NO_PIPE);
}

int img_dsp_core_check_set_motion_detect(const img_dsp_mode *mode, img_dsp_motion_detect *b)
{
	const char *fn = __func__;
	const char *in = "img_dsp_core_process_motion_detect";
	int rc = 0;
	if (b->motion_response == 0 || b->motion_response >= 1024) {
		ik_print("[IK][Warning]%s() %d motion_response = %d should be within [1:1023] in %s\n\n", fn,
		         __LINE__, b->motion_response, in);
		b->motion_response = b->motion_response == 0 ? 1 : 1023;
		rc = IMG_DSP_CLAMPED;
	}
	rc |= ik_mctf_clamp(fn, in, "slow_mo_sensitivity", &b->slow_mo_sensitivity, 0, 9);
	rc |= ik_mctf_clamp(fn, in, "smooth", &b->smooth, 0, 56);
	int step = process_motion_detect(mode, b);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_process_internal_motion_detect(const img_dsp_mode *mode, img_dsp_internal_motion_detect *b)
{
	int rc = 0;
	if (b->slow_mo_sensitivity2 > 9) {
		b->slow_mo_sensitivity2 = 9;
		rc = IMG_DSP_CLAMPED;
	}
	int step = ik_mctf_store(__func__, mode, offsetof(ik_filter_blocks, internal_motion_detect), b,
	                         sizeof(*b), IK_UPD_INTERNAL_MCTF_FAST, CLISO_NO_PIPE);
	return step == IMG_DSP_FAIL ? step : rc;
}

/* ---- MCTF-B ---- */

int img_dsp_core_check_set_video_mctf_b(const img_dsp_mode *mode, img_dsp_video_mctf_b *b)
{
	const char *fn = __func__;
	const char *in = "img_dsp_core_process_video_mctf_b";
	int rc = ik_mctf_check_limits(fn, "y_temporal", &b->y_temporal.temporal_t0, in);
	rc |= img_dsp_core_check_set_cliso_video_mctf_level(in, "y_spat_smth_dir", &b->y_spat_smth_dir);
	rc |= img_dsp_core_check_set_cliso_video_mctf_level(in, "y_spat_smth_iso", &b->y_spat_smth_iso);
	rc |= img_dsp_core_check_set_cliso_video_mctf_level(in, "y_overall_max_change",
	                                                    &b->y_overall_max_change);
	rc |= ik_mctf_clamp(fn, in, "y_spat_smth_wide_edge_detect", &b->y_spat_smth_wide_edge_detect, 0, 8);
	rc |= ik_mctf_clamp(fn, in, "y_spat_smth_edge_thresh", &b->y_spat_smth_edge_thresh, 0, 2047);
	rc |= ik_mctf_clamp(fn, in, "y_strength_3d", &b->y_strength_3d, 0, 256);
	rc |= ik_mctf_clamp(fn, in, "y_combine_strength", &b->y_combine_strength, 0, 256);
	if (rc < 0)
		return IMG_DSP_FAIL;
	int step = ik_mctf_store(in, mode, offsetof(ik_filter_blocks, video_mctf_b), b, sizeof(*b),
	                         IK_UPD_VIDEO_MCTF_B, CLISO_NO_PIPE);
	return step == IMG_DSP_FAIL ? step : rc;
}

int img_dsp_core_check_set_video_mctf_b_level(const img_dsp_mode *mode, img_dsp_video_mctf_b_level *b)
{
	const char *in = "img_dsp_core_process_video_mctf_b_level";
	int rc = img_dsp_core_check_set_cliso_video_mctf_level(
	    in, "y_temporal_either_max_change_or_t0_t1_add", &b->y_temporal_either_max_change_or_t0_t1_add);
	rc |= ik_mctf_clamp(__func__, in, "y_temporal_max_change_not_t0_t1_level_based",
	                    &b->y_temporal_max_change_not_t0_t1_level_based, 0, 1);
	if (rc < 0)
		return IMG_DSP_FAIL;
	int step = ik_mctf_store(in, mode, offsetof(ik_filter_blocks, video_mctf_b_level), b, sizeof(*b),
	                         IK_UPD_VIDEO_MCTF_B_LEVEL, CLISO_NO_PIPE);
	return step == IMG_DSP_FAIL ? step : rc;
}

/* ---- the two switches: stored as given, flagged as out of range ---- */

static int store_switch(const char *caller, const img_dsp_mode *mode, const uint8_t *value, unsigned byte,
                        bool flagged)
{
	ik_ctx_body *body = ik_mctf_video_body(caller, mode, CLISO_NO_PIPE);
	if (!body)
		return IMG_DSP_FAIL;
	body->blk.internal_motion_detect[byte] = *value;
	if (flagged)
		ik_flag_set(body->update_flags, IK_UPD_INTERNAL_MCTF_FAST);
	return *value >= 2 ? IMG_DSP_CLAMPED : 0;
}

int img_dsp_core_process_internal_video_mctf_fast_start(const img_dsp_mode *mode, const uint8_t *fast_start)
{
	return store_switch(__func__, mode, fast_start, IK_IMD_FAST_START, true);
}

int img_dsp_core_process_internal_video_high_perf_mode(const img_dsp_mode *mode, const uint8_t *enable)
{
	return store_switch(__func__, mode, enable, IK_IMD_HIGH_PERFORMANCE, false);
}

/* ---- debug lines ---- */

static void print_motion_detect(const void *p)
{
	img_dsp_motion_detect b;
	memcpy(&b, p, sizeof(b));
	const int16_t *l = b.lev_add;
	ik_print("[IK]lev_add: %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d\n", l[0], l[1], l[2], l[3],
	         l[4], l[5], l[6], l[7], l[8], l[9], l[10], l[11], l[12], l[13], l[14], l[15]);
	ik_print("[IK]noise_base %d\n", b.noise_base);
	ik_print("[IK]motion_response %d\n", b.motion_response);
	ik_print("[IK]slow_mo_sensitivity %d\n", b.slow_mo_sensitivity);
	ik_print("[IK]smooth %d\n", b.smooth);
}

static void print_internal_motion_detect(const void *p)
{
	const img_dsp_internal_motion_detect *b = (const img_dsp_internal_motion_detect *)p;
	ik_print("[IK]slow_mo_sensitivity2 %d\n", b->slow_mo_sensitivity2);
	ik_print("[IK]pure_max %d\n", b->pure_max);
}

static void print_mctf_b(const void *p)
{
	img_dsp_video_mctf_b b;
	memcpy(&b, p, sizeof(b));
	const uint8_t *a = &b.y_temporal.temporal_alpha0;
	for (int k = 0; k < 4; k++)
		ik_print("[IK]y_temporal alpha%d %d\n", k, a[k]);
	for (int k = 0; k < 4; k++)
		ik_print("[IK]y_temporal t%d %d\n", k, a[4 + k]);
	ik_mctf_print_level("y_spat_smth_dir", &b.y_spat_smth_dir);
	ik_mctf_print_level("y_spat_smth_iso", &b.y_spat_smth_iso);
	ik_mctf_print_level("y_overall_max_change", &b.y_overall_max_change);
	ik_print("[IK]y_spat_smth_wide_edge_detect %d\n", b.y_spat_smth_wide_edge_detect);
	ik_print("[IK]y_spat_smth_edge_thresh %d\n", b.y_spat_smth_edge_thresh);
	ik_print("[IK]y_strength_3d %d\n", b.y_strength_3d);
	ik_print("[IK]y_combine_strength %d\n", b.y_combine_strength);
	ik_print("[IK]y_temporal_max_change %d\n", b.y_temporal_max_change);
	ik_print("[IK]y_spatial_max_change %d\n", b.y_spatial_max_change);
	ik_print("[IK]y_spatial_weighting\n");
	for (int r = 0; r < 8; r++) {
		const uint8_t *w = b.y_spatial_weighting + 8 * r;
		ik_print("[IK]%d %d %d %d %d %d %d %d\n", w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
	}
}

static void print_mctf_b_level(const void *p)
{
	const img_dsp_video_mctf_b_level *b = (const img_dsp_video_mctf_b_level *)p;
	const img_dsp_mctf_level *l = &b->y_temporal_either_max_change_or_t0_t1_add;
	ik_print("[IK]y_temporal_max_change_not_t0_t1_level_based %d\n",
	         b->y_temporal_max_change_not_t0_t1_level_based);
	ik_print("[IK]method %d\n", l->method);
	ik_print("[IK]low %d\n", l->low);
	ik_print("[IK]low_delta %d\n", l->low_delta);
	ik_print("[IK]low_strength %d\n", l->low_strength);
	ik_print("[IK]mid_strength %d\n", l->mid_strength);
	ik_print("[IK]high %d\n", l->high);
	ik_print("[IK]high_delta %d\n", l->high_delta);
	ik_print("[IK]high_strength %d\n", l->high_strength);
}

static void print_fast_start(const void *p)
{
	ik_print("[IK]fast_start %d\n", *(const uint8_t *)p);
}

static void print_high_perf(const void *p)
{
	ik_print("[IK]high_performance_enable %d\n", *(const uint8_t *)p);
}

/* ---- public entries ---- */

static int motion_detect_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_motion_detect(mode, (img_dsp_motion_detect *)block);
}

static int internal_motion_detect_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_process_internal_motion_detect(mode, (img_dsp_internal_motion_detect *)block);
}

static int mctf_b_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_video_mctf_b(mode, (img_dsp_video_mctf_b *)block);
}

static int mctf_b_level_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_check_set_video_mctf_b_level(mode, (img_dsp_video_mctf_b_level *)block);
}

static int fast_start_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_process_internal_video_mctf_fast_start(mode, (const uint8_t *)block);
}

static int high_perf_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	return img_dsp_core_process_internal_video_high_perf_mode(mode, (const uint8_t *)block);
}

#define CLISO_SETTER(public_name, type, log_id, kind, printer, step)                                         \
	extern "C" int public_name(int fd, const img_dsp_mode *mode, type *block)                            \
	{                                                                                                    \
		static const img_dsp_debug_hook hook = {log_id, kind, printer};                              \
		static const img_dsp_setter setter = {__func__,         &hook, sizeof(type), step,           \
		                                      IK_PIPES_IN_CORE, NULL,  NULL};                        \
		if (!block) {                                                                                \
			IK_ERROR("block is NULL\n");                                                         \
			return IMG_DSP_FAIL;                                                                 \
		}                                                                                            \
		return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);         \
	}

CLISO_SETTER(vors_img_dsp_set_motion_detect, img_dsp_motion_detect, LOG_VIDEO_CLISO_MOTION_DETECT,
             IK_HOOK_RECORD, print_motion_detect, motion_detect_step)
CLISO_SETTER(vors_img_dsp_set_internal_motion_detect, img_dsp_internal_motion_detect,
             LOG_VIDEO_CLISO_MOTION_DETECT, IK_HOOK_PRINT_ONLY, print_internal_motion_detect,
             internal_motion_detect_step)
CLISO_SETTER(vors_img_dsp_set_video_mctf_b, img_dsp_video_mctf_b, LOG_VIDEO_CLISO_VIDEO_MCTF_B,
             IK_HOOK_RECORD, print_mctf_b, mctf_b_step)
CLISO_SETTER(vors_img_dsp_set_video_mctf_b_level, img_dsp_video_mctf_b_level,
             LOG_VIDEO_CLISO_VIDEO_MCTF_B_LEVEL, IK_HOOK_RECORD, print_mctf_b_level, mctf_b_level_step)
CLISO_SETTER(vors_img_dsp_set_internal_video_mctf_fast_start, uint8_t, LOG_VIDEO_CLISO_VIDEO_MCTF_FAST_MODE,
             IK_HOOK_PRINT_ONLY, print_fast_start, fast_start_step)
CLISO_SETTER(vors_img_dsp_set_internal_video_high_perf_mode, uint8_t, LOG_VIDEO_CLISO_VIDEO_HIGH_PERF_EN,
             IK_HOOK_PRINT_ONLY, print_high_perf, high_perf_step)

extern "C" int vors_img_dsp_get_motion_detect(const img_dsp_mode *mode, img_dsp_motion_detect *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(motion_detect), sizeof(*out),
	                          "p_motion_detect", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_internal_motion_detect(const img_dsp_mode *mode,
                                                       img_dsp_internal_motion_detect *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(internal_motion_detect), sizeof(*out),
	                          "p_internal_motion_detect", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_video_mctf_b(const img_dsp_mode *mode, img_dsp_video_mctf_b *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(video_mctf_b), sizeof(*out),
	                          "p_video_mctf_b", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_video_mctf_b_level(const img_dsp_mode *mode, img_dsp_video_mctf_b_level *out)
{
	return img_dsp_common_get(__func__, mode, out, IK_BLK_OFFSET(video_mctf_b_level), sizeof(*out),
	                          "p_video_mctf_b_level", IK_PIPES_VIDEO_ONLY);
}

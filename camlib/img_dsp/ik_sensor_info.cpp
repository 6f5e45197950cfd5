/* RGB-to-YUV matrix and the description of the sensor's raw output. */
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"

#include <stddef.h>
#include <string.h>

/* The context body of a video or still mode; other pipes are refused in
 * the caller's name. */
static ik_ctx_body *sensor_body(const char *caller, const img_dsp_mode *mode)
{
	img_dsp_ctx_id id{mode->Pipe, mode->ContextId, {}};
	void *ctx = NULL;
	ik_ctx_body *body = NULL;
	if (ik_video_or_still(mode->Pipe) && img_dsp_core_utility_get_context(&id, &ctx) == 0)
		body = ik_body(mode->Pipe, ctx);
	if (!body)
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
	return body;
}

static void note_update(img_dsp_update_list *list, ik_cmd_image *sec)
{
	list->entry[0].valid = 1;
	list->entry[0].section = sec;
}

static int clamp_i16(int16_t *v, int lo, int hi)
{
	if (*v < lo) {
		*v = (int16_t)lo;
		return 1;
	}
	if (*v > hi) {
		*v = (int16_t)hi;
		return 1;
	}
	return 0;
}

static int img_dsp_core_check_set_rgb_to_yuv_matrix(const img_dsp_mode *mode, void *block, uint32_t,
                                                    img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_rgb_to_yuv is NULL in %s\n\n", __func__);
		return -1;
	}
	img_dsp_rgb_to_yuv_matrix *m = (img_dsp_rgb_to_yuv_matrix *)block;
	int rc = 0;
	for (int i = 0; i < 9; i++) {
		int16_t was = m->MatrixValues[i];
		if (clamp_i16(&m->MatrixValues[i], -4096, 4095)) {
			IK_WARN("MatrixValues[%d]=%d should be within [-4096:4095] in %s\n", i, was,
			        __func__);
			rc = IMG_DSP_CLAMPED;
		}
	}
	int16_t was = m->YOffset;
	if (clamp_i16(&m->YOffset, -1024, 1023)) {
		IK_WARN("YOffset=%d should be within [-1024:1023] in %s\n", was, __func__);
		rc = IMG_DSP_CLAMPED;
	}
	was = m->UOffset;
	if (clamp_i16(&m->UOffset, -256, 255)) {
		IK_WARN("UOffset=%d should be within [-256:255] in %s\n", was, __func__);
		rc = IMG_DSP_CLAMPED;
	}
	was = m->VOffset;
	if (clamp_i16(&m->VOffset, -256, 255)) {
		IK_WARN("VOffset=%d should be within [-256:255] in %s\n", was, __func__);
		rc = IMG_DSP_CLAMPED;
	}
	ik_ctx_body *body = sensor_body(__func__, mode);
	if (!body)
		return -1;
	body->blk.rgb_to_yuv_matrix = *m;
	/* the record's twelve values are the block's, in the block's order */
	static_assert(sizeof(*m) == 24, "rgb-to-yuv block");
	ik_memcpy(&body->sec[IK_SEC_RGB_TO_YUV].word[1], m, sizeof(*m));
	ik_flag_set(body->update_flags, IK_UPD_RGB_TO_YUV);
	note_update(list, &body->sec[IK_SEC_RGB_TO_YUV]);
	return rc;
}

static int img_dsp_core_check_set_vin_sensor_info(const img_dsp_mode *mode, void *block, uint32_t,
                                                  img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_vin_sensor_info is NULL in %s\n\n", __func__);
		return -1;
	}
	const img_dsp_vin_sensor_info *v = (const img_dsp_vin_sensor_info *)block;
	ik_ctx_body *body = sensor_body(__func__, mode);
	if (!body)
		return -1;
	body->blk.vin_sensor_info = *v;
	uint8_t *rec = ik_sec_bytes(body->sec, IK_SEC_VIN_SENSOR);
	ik_memcpy(rec + IK_SECB_VIN_RECORD, v, 12);
	ik_memcpy(rec + IK_SECB_VIN_RECORD + 12, &v->ReadoutMode, 4);
	rec[IK_SECB_VIN_COMPRESSION] = v->Compression;
	ik_flag_set(body->update_flags, IK_UPD_VIN_SENSOR_INFO);
	note_update(list, &body->sec[IK_SEC_VIN_SENSOR]);
	return 0;
}

static void print_rgb_to_yuv(const void *block)
{
	const img_dsp_rgb_to_yuv_matrix *m = (const img_dsp_rgb_to_yuv_matrix *)block;
	const int16_t *v = m->MatrixValues;
	ik_print("[IK]     MatrixValues %d %d %d %d %d %d %d %d %d, YOffset %d, UOffset %d, VOffset %d\n",
	         v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], m->YOffset, m->UOffset, m->VOffset);
}

static void print_vin_sensor_info(const void *block)
{
	const img_dsp_vin_sensor_info *v = (const img_dsp_vin_sensor_info *)block;
	ik_print("[IK]     FieldFormat %d, Resolution %d, Pattern %d, ReadoutMode %d, Compression %d\n",
	         v->FieldFormat, v->Resolution, v->Pattern, (int)v->ReadoutMode, v->Compression);
}

static const img_dsp_debug_hook rgb_to_yuv_hook = {LOG_RGB_TO_YUV_MATRIX, IK_HOOK_RECORD, print_rgb_to_yuv};
static const img_dsp_debug_hook vin_hook = {LOG_VIN_SENSOR_INFO, IK_HOOK_RECORD, print_vin_sensor_info};

extern "C" __attribute__((noinline)) int vors_img_dsp_set_rgb_to_yuv_matrix(int fd, const img_dsp_mode *mode,
                                                                            img_dsp_rgb_to_yuv_matrix *block)
{
	static const img_dsp_setter setter = {__func__,
	                                      &rgb_to_yuv_hook,
	                                      sizeof(img_dsp_rgb_to_yuv_matrix),
	                                      img_dsp_core_check_set_rgb_to_yuv_matrix,
	                                      IK_PIPES_IN_CORE,
	                                      NULL,
	                                      NULL};
	return img_dsp_common_set(&setter, __builtin_extract_return_addr(__builtin_return_address(0)), fd,
	                          mode, block, 0);
}

extern "C" __attribute__((noinline)) int vors_img_dsp_set_vin_sensor_info(const img_dsp_mode *mode,
                                                                          img_dsp_vin_sensor_info *block)
{
	static const img_dsp_setter setter = {__func__,
	                                      &vin_hook,
	                                      sizeof(img_dsp_vin_sensor_info),
	                                      img_dsp_core_check_set_vin_sensor_info,
	                                      IK_PIPES_IN_CORE,
	                                      NULL,
	                                      NULL};
	return img_dsp_common_set(&setter, __builtin_extract_return_addr(__builtin_return_address(0)), -1,
	                          mode, block, 0);
}

extern "C" int vors_img_dsp_get_rgb_to_yuv_matrix(const img_dsp_mode *mode, img_dsp_rgb_to_yuv_matrix *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.rgb_to_yuv_matrix),
	                          sizeof(*out), "p_rgb_to_yuv", IK_PIPES_VIDEO_STILL);
}

extern "C" int vors_img_dsp_get_vin_sensor_info(const img_dsp_mode *mode, img_dsp_vin_sensor_info *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.vin_sensor_info),
	                          sizeof(*out), "pVinSensorInfo", IK_PIPES_VIDEO_STILL);
}

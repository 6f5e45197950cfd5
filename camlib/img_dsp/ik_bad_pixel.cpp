/* Bad-pixel correction: dynamic thresholds, the FPN map and its bypass. */
#include "ik_arch.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_raw.h"

#include <stddef.h>
#include <stdlib.h>

#define IK_DBP_NODES 128
#define IK_DBP_CURVES 3 /* green, red, blue */
#define IK_DBP_CONST 0x00043489u
#define IK_DBP_FLAG_STATIC 1u
#define IK_DBP_FLAG_DYNAMIC 2u
#define IK_SECB_DBP_FLAGS 6u

/* ---- the strength table ---- */

/* Segments of the 128 threshold nodes: first node, node count, first pixel
 * value, spacing, and the shift the stored values carry. */
static const struct {
	int first, count, x0, step, shift;
} segments[6] = {
    {0, 32, 0, 16, 1},      {32, 16, 512, 32, 1},   {48, 16, 1024, 64, 2},
    {64, 16, 2048, 128, 2}, {80, 16, 4096, 256, 3}, {96, 32, 8192, 256, 4},
};

static int segment_of(int k)
{
	int s = 0;
	while (s < 5 && k >= segments[s + 1].first)
		s++;
	return s;
}

static int node_x(int k)
{
	int s = segment_of(k);
	return segments[s].x0 + (k - segments[s].first) * segments[s].step;
}

/* Stored values at the first and last node of each segment, for the levels
 * that fix the table's shape; the levels between are spread evenly and the
 * nodes between follow a straight line, so every level stays at or above
 * the next. */
static const uint16_t telling[5][12] = {
    {128, 139, 172, 182, 134, 167, 172, 238, 158, 254, 130, 223}, /* level 1 */
    {53, 63, 84, 92, 57, 69, 71, 110, 65, 98, 50, 87},            /* level 2 */
    {23, 32, 48, 54, 27, 31, 33, 58, 29, 40, 20, 35},             /* level 5 */
    {11, 12, 16, 18, 10, 12, 12, 20, 11, 16, 9, 14},              /* level 9 */
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},                         /* level 10 */
};

static uint32_t telling_value(int level, int i)
{
	static const int anchor[5] = {1, 2, 5, 9, 10};
	int a = 0;
	while (a < 4 && level > anchor[a + 1])
		a++;
	if (level == anchor[a])
		return telling[a][i];
	int lo = anchor[a], hi = anchor[a + 1];
	return ((uint32_t)telling[a][i] * (uint32_t)(hi - level) +
	        (uint32_t)telling[a + 1][i] * (uint32_t)(level - lo)) /
	       (uint32_t)(hi - lo);
}

/* The stored value of node k of a level's curves (levels 1 to 10). */
static uint16_t strength_entry(int level, int k)
{
	int s = segment_of(k);
	int k0 = segments[s].first, k1 = k0 + segments[s].count - 1;
	uint32_t a = telling_value(level, 2 * s), b = telling_value(level, 2 * s + 1);
	return (uint16_t)((a * (uint32_t)(k1 - k) + b * (uint32_t)(k - k0)) / (uint32_t)(k1 - k0));
}

/* A level's curve moved along the pixel axis by a black-level offset. */
static void shift_curve(int level, int16_t d, uint16_t *out)
{
	int j = 0;
	for (int k = 0; k < IK_DBP_NODES; k++) {
		int target = node_x(k) - d;
		while (j + 1 < IK_DBP_NODES && abs(node_x(j + 1) - target) < abs(node_x(j) - target))
			j++;
		uint32_t a = (uint32_t)strength_entry(level, j) << segments[segment_of(j)].shift;
		out[k] = (uint16_t)(a >> segments[segment_of(k)].shift);
	}
}

static void build_thresholds(int strength, const int16_t *def_blk1, uint16_t *table)
{
	int level = strength == 0 ? 1 : strength;
	/* curves green, red, blue take def_blk1 green, red, blue */
	static const int offset_of[IK_DBP_CURVES] = {1, 0, 2};
	for (int c = 0; c < IK_DBP_CURVES; c++)
		shift_curve(level, def_blk1[offset_of[c]], table + c * IK_DBP_NODES);
}

/* ---- dynamic correction ---- */

int img_dsp_core_process_dynamic_bad_pixel_correction(const img_dsp_mode *mode, const void *block,
                                                      img_dsp_update_list *list);

int img_dsp_check_set_dynamic_bad_pixel_correction(const img_dsp_mode *mode, img_dsp_dbp_correction *block,
                                                   img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_dbp_corr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = IK_CLAMP("Enb=%d should be within [0:4] in %s\n", block->Enb, 4);
	changed |= IK_CLAMP("CorrectionMethod=%d should be within [0:1] in %s\n", block->CorrectionMethod, 1);
	changed |=
	    IK_CLAMP("HotPixelStrength=%d should be within [0:10] in %s\n", block->HotPixelStrength, 10);
	changed |=
	    IK_CLAMP("DarkPixelStrength=%d should be within [0:10] in %s\n", block->DarkPixelStrength, 10);
	int rc = img_dsp_core_process_dynamic_bad_pixel_correction(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

static void img_dsp_core_calc_dynamic_bad_pixel_correction(const img_dsp_dbp_correction *b, ik_ctx_body *body,
                                                           uint16_t *hot, uint16_t *dark)
{
	if (b->HotPixelStrength > 10 || b->DarkPixelStrength > 10) {
		IK_WARN("invalid hot/dark pixel strength %d, %d\n", b->HotPixelStrength,
		        b->DarkPixelStrength);
		return;
	}
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_DBP);
	uint16_t flags;
	memcpy(&flags, sec + IK_SECB_DBP_FLAGS, 2);
	if (b->Enb != 0 && (b->HotPixelStrength != 0 || b->DarkPixelStrength != 0)) {
		sec[IK_SECB_DBP_MODE] = b->Enb;
		flags |= IK_DBP_FLAG_DYNAMIC;
	} else {
		sec[IK_SECB_DBP_MODE] = 1;
		flags &= (uint16_t)~IK_DBP_FLAG_DYNAMIC;
	}
	memcpy(sec + IK_SECB_DBP_FLAGS, &flags, 2);
	sec[IK_SECB_DBP_METHOD] = b->CorrectionMethod;
	const int16_t *def_blk1 = body->blk.deferred_black_level_table;
	build_thresholds(b->HotPixelStrength, def_blk1, hot);
	build_thresholds(b->DarkPixelStrength, def_blk1, dark);
	uint32_t *w = body->sec[IK_SEC_DBP].word;
	w[IK_SECW_DBP_HOT] = ik_phys(hot);
	w[IK_SECW_DBP_DARK] = ik_phys(dark);
	w[4] = w[5] = IK_DBP_CONST;
}

int img_dsp_core_process_dynamic_bad_pixel_correction(const img_dsp_mode *mode, const void *block,
                                                      img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	img_dsp_dbp_correction b = ik_load<img_dsp_dbp_correction>(block);
	ik_memcpy(body->blk.dbp_correction, &b, sizeof(b));
	uint16_t *hot = (uint16_t *)ik_color_table(mode, ctx, IK_STBL_DBP_HOT, IK_VBUF_HOT_PIXEL_THD,
	                                           IK_STILL_HOT_PIXEL_THD);
	uint16_t *dark = (uint16_t *)ik_color_table(mode, ctx, IK_STBL_DBP_DARK, IK_VBUF_DARK_PIXEL_THD,
	                                            IK_STILL_DARK_PIXEL_THD);
	img_dsp_core_calc_dynamic_bad_pixel_correction(&b, body, hot, dark);
	ik_flag_set(body->update_flags, IK_UPD_DBP);
	ik_note(list, 0, &body->sec[IK_SEC_DBP]);
	return 0;
}

static void print_dbp(const void *p)
{
	const img_dsp_dbp_correction *b = (const img_dsp_dbp_correction *)p;
	ik_print("[IK]     Enb %d, HotPixelStrength %d, DarkPixelStrength %d, CorrectionMethod %d\n", b->Enb,
	         b->HotPixelStrength, b->DarkPixelStrength, b->CorrectionMethod);
}

static const img_dsp_debug_hook dbp_hook = {LOG_DYNAMIC_BAD_PIXEL_CORRECTION, IK_HOOK_RECORD, print_dbp};

static int dbp_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_check_set_dynamic_bad_pixel_correction(mode, (img_dsp_dbp_correction *)block, list);
}

extern "C" int vors_img_dsp_set_dynamic_bad_pixel_correction(int fd, const img_dsp_mode *mode,
                                                             img_dsp_dbp_correction *block)
{
	static const img_dsp_setter setter = {__func__, &dbp_hook, sizeof(*block), dbp_step, IK_PIPES_IN_CORE,
	                                      NULL,     NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_dynamic_bad_pixel_correction(const img_dsp_mode *mode,
                                                             img_dsp_dbp_correction *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.dbp_correction),
	                          sizeof(*out), "p_dbp_corr", IK_PIPES_VIDEO_STILL);
}

/* ---- static correction ---- */

static void set_sbp_section(ik_ctx_body *body, uint8_t mode, uint32_t addr, uint16_t width, uint16_t pitch,
                            uint16_t height)
{
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_SBP);
	sec[IK_SECB_SBP_ENABLE] = mode;
	body->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR] = addr;
	const uint16_t map[3] = {width, pitch, height};
	memcpy(sec + IK_SECB_SBP_MAP, map, sizeof(map));
}

static void mark_static_present(ik_ctx_body *body)
{
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_DBP);
	sec[IK_SECB_DBP_FLAGS] |= IK_DBP_FLAG_STATIC;
	ik_flag_set(body->update_flags, IK_UPD_STATIC_BAD_PIXEL);
}

int img_dsp_core_process_static_bad_pixel_correction(const img_dsp_mode *mode,
                                                     const vors_img_dsp_sbp_correction_t *block,
                                                     img_dsp_update_list *list);

int img_dsp_check_set_static_bad_pixel_correction(const img_dsp_mode *mode,
                                                  vors_img_dsp_sbp_correction_t *block,
                                                  img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_sbp_corr is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = 0;
	if (block->Enb != 0) {
		const img_dsp_calib_sbp_info *cal = &block->CalibSbpInfo;
		if (cal->Vesrion != IMG_DSP_SBP_VERSION) {
			IK_ERROR("SBP Correction Version 0x%X != 0x%X in %s\n\n", cal->Vesrion,
			         IMG_DSP_SBP_VERSION, __func__);
			return IMG_DSP_FAIL;
		}
		if (block->CurrentVinSensorGeo.Width % 32u != 0) {
			IK_ERROR("Sensor window width %d must be multiple of 32 in %s\n\n",
			         block->CurrentVinSensorGeo.Width, __func__);
			return IMG_DSP_FAIL;
		}
		if (!cal->SbpBuffer) {
			IK_ERROR("FPN buffer pointer is NULL in %s\n", __func__);
			return IMG_DSP_FAIL;
		}
		changed = IK_CLAMP("enable %d should be within [0:1] in %s\n\n", block->Enb, 1);
	}
	int rc = img_dsp_core_process_static_bad_pixel_correction(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

/* The window's offset into the map in pixels; false (with the warning) when
 * the window does not start inside the map on a byte boundary. */
static bool img_dsp_core_calc_static_bad_pixel_map_offset(const vors_img_dsp_sbp_correction_t *b,
                                                          uint32_t *offset_x, uint32_t *offset_y)
{
	const img_dsp_vin_sensor_geo *cur = &b->CurrentVinSensorGeo;
	const img_dsp_vin_sensor_geo *cal = &b->CalibSbpInfo.VinSensorGeo;
	IK_DEBUG(" HSubSmp:%d/%d, VSunSmp:%d/%d\n", cal->HSubSampleNum, cal->HSubSampleDen,
	         cal->VSubSampleNum, cal->VSubSampleDen);
	uint32_t x =
	    cal->HSubSampleDen ? (cur->StartX - cal->StartX) * cal->HSubSampleNum / cal->HSubSampleDen : 0;
	uint32_t y =
	    cal->VSubSampleDen ? (cur->StartY - cal->StartY) * cal->VSubSampleNum / cal->VSubSampleDen : 0;
	if ((int32_t)x < 0 || x % 8u != 0) {
		IK_WARN("Sensor window OffsetX must be multiple of 8, OffsetX=%d\n", (int32_t)x);
		return false;
	}
	/* A window above the calibration would point the DSP outside the map. */
	if ((int32_t)y < 0) {
		IK_WARN("Sensor window OffsetY must not be negative, OffsetY=%d\n", (int32_t)y);
		return false;
	}
	*offset_x = x;
	*offset_y = y;
	return true;
}

int img_dsp_core_process_static_bad_pixel_correction(const img_dsp_mode *mode,
                                                     const vors_img_dsp_sbp_correction_t *block,
                                                     img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_memcpy(body->blk.sbp_correction, block, sizeof(*block));
	list->entry[0].valid = list->entry[1].valid = 0;
	const img_dsp_vin_sensor_geo *cur = &block->CurrentVinSensorGeo;
	const img_dsp_calib_sbp_info *cal = &block->CalibSbpInfo;
	uint16_t pitch = (uint16_t)(((cal->VinSensorGeo.Width + 255u) >> 3) & ~31u);
	uint32_t offset = 0;
	if (block->Enb == 0) {
		set_sbp_section(body, 0, 0, (uint16_t)cur->Width, pitch, (uint16_t)cur->Height);
	} else {
		uint32_t x, y;
		if (!img_dsp_core_calc_static_bad_pixel_map_offset(block, &x, &y))
			return IMG_DSP_FAIL;
		offset = x / 8u + y * pitch;
		uint8_t on = body->blk.sbp_highlight_mode ? 2 : 1;
		set_sbp_section(body, on, ik_phys(cal->SbpBuffer) + offset, (uint16_t)cur->Width, pitch,
		                (uint16_t)cur->Height);
	}
	mark_static_present(body);
	IK_DEBUG("Set SBP Corretion, HorSubSmp=%d/%d, VerSubSmp=%d/%d, mode=%d\n", cur->HSubSampleNum,
	         cur->HSubSampleDen, cur->VSubSampleNum, cur->VSubSampleDen, mode->Pipe);
	IK_DEBUG("Offset=%d\n", offset);
	ik_note(list, 0, &body->sec[IK_SEC_SBP]);
	ik_note(list, 1, &body->sec[IK_SEC_DBP]);
	return 0;
}

static void print_geo(const img_dsp_vin_sensor_geo *g)
{
	ik_print("[IK]       StartX = %d\n", g->StartX);
	ik_print("[IK]       StartY = %d\n", g->StartY);
	ik_print("[IK]       Width = %d\n", g->Width);
	ik_print("[IK]       Height = %d\n", g->Height);
	ik_print("[IK]       HSubSample = %d/%d\n", g->HSubSampleNum, g->HSubSampleDen);
	ik_print("[IK]       VSubSample = %d/%d\n", g->VSubSampleNum, g->VSubSampleDen);
}

static void print_sbp(const void *p)
{
	const vors_img_dsp_sbp_correction_t *b = (const vors_img_dsp_sbp_correction_t *)p;
	ik_print("[IK]vors_img_dsp_sbp_correction_t:\n");
	ik_print("[IK]     Enb = %d\n", b->Enb);
	ik_print("[IK]     CurrentVinSensorGeo:\n");
	print_geo(&b->CurrentVinSensorGeo);
	if (b->Enb == 0)
		return;
	ik_print("[IK]     CalibSbpInfo:\n");
	ik_print("[IK]       Vesrion = 0x%x\n", b->CalibSbpInfo.Vesrion);
	ik_print("[IK]       *SbpBuffer = %p\n", (void *)b->CalibSbpInfo.SbpBuffer);
	print_geo(&b->CalibSbpInfo.VinSensorGeo);
}

static const img_dsp_debug_hook sbp_hook = {LOG_STATIC_BAD_PIXEL_COTTECTION, IK_HOOK_EXACTLY_ONE, print_sbp};

static int sbp_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_check_set_static_bad_pixel_correction(mode, (vors_img_dsp_sbp_correction_t *)block,
	                                                     list);
}

extern "C" int vors_img_dsp_set_static_bad_pixel_correction(int fd, const img_dsp_mode *mode,
                                                            vors_img_dsp_sbp_correction_t *block)
{
	static const img_dsp_setter setter = {__func__, &sbp_hook, sizeof(*block), sbp_step, IK_PIPES_IN_CORE,
	                                      NULL,     NULL};
	return img_dsp_common_set_unstamped(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_static_bad_pixel_correction(const img_dsp_mode *mode,
                                                            vors_img_dsp_sbp_correction_t *out)
{
	if (!out) {
		IK_ERROR("p_sbp_corr is empty.\n");
		return IMG_DSP_FAIL;
	}
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.sbp_correction),
	                          sizeof(*out), "p_sbp_corr", IK_PIPES_VIDEO_STILL);
}

/* ---- highlight mode and bypass ---- */

extern "C" int vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(const img_dsp_mode *mode,
                                                                           const uint8_t *value)
{
	if (!mode)
		return IMG_DSP_FAIL;
	if (!value) {
		IK_ERROR("highlight mode value is NULL\n");
		return IMG_DSP_FAIL;
	}
	int rc;
	void *ctx = ik_mode_lock_video_or_still(__func__, mode, IK_NO_CONTEX_MUTEX, &rc);
	if (!ctx)
		return rc;
	ik_body(mode->Pipe, ctx)->blk.sbp_highlight_mode = *value;
	ik_unlock(ctx);
	return 0;
}

int img_dsp_check_set_static_bad_pixel_correction_bypass(const img_dsp_sbp_bypass *b)
{
	if (!b) {
		IK_ERROR("p_sbp_corr_bypass is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	if (b->mode != 0) {
		if (b->width % 32u != 0) {
			IK_WARN("Bypass FPN map width %d must be multiple of 32\n", b->width);
			return IMG_DSP_FAIL;
		}
		if (b->pitch % 32u != 0) {
			IK_WARN("Bypass FPN pitch %d must be multiple of 32 byte\n", b->pitch);
			return IMG_DSP_FAIL;
		}
		if (!b->pMap) {
			IK_WARN("Bypass pMap is a NULL pointer\n");
			return IMG_DSP_FAIL;
		}
		if (b->mode != 3) {
			IK_WARN("Not a valid FPN pixel mode\n");
			return IMG_DSP_FAIL;
		}
	}
	/* Whatever the mode, a map is copied whole: it must fit the area. */
	uint32_t size = (uint32_t)b->pitch * b->height;
	if (b->pMap && size > IMG_DSP_FPN_MAP_SIZE) {
		IK_WARN("Bypass FPN map of %d bytes exceeds the map area of %d bytes\n", size,
		        IMG_DSP_FPN_MAP_SIZE);
		return IMG_DSP_FAIL;
	}
	return 0;
}

extern "C" int vors_img_dsp_set_static_bad_pixel_correction_bypass(int, const img_dsp_mode *mode,
                                                                   img_dsp_sbp_bypass *block)
{
	if (!mode || img_dsp_check_set_static_bad_pixel_correction_bypass(block) != 0)
		return IMG_DSP_FAIL;
	int rc;
	void *ctx = ik_mode_lock_video_or_still(__func__, mode, IK_NO_CTX_MUTEX, &rc);
	if (!ctx)
		return rc;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	ik_memset(body->fpn_map_area, 0, sizeof(body->fpn_map_area));
	uint8_t *map = ik_fpn_map(body);
	if (block->pMap)
		ik_memcpy(map, block->pMap, (size_t)block->pitch * block->height);
	uint8_t on = block->mode == 3 ? (body->blk.sbp_highlight_mode ? 2 : 1) : 0;
	set_sbp_section(body, on, ik_phys(map), block->width, block->pitch, block->height);
	mark_static_present(body);
	ik_unlock(ctx);
	return 0;
}

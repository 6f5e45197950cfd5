/*
 * Debug facilities: log records through the embedding program's writer, the
 * setters' debug hooks, the settings dump, the per-context debug mode and
 * the profiler ring.
 */
#include "ik_debug.h"

#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "img_dsp_mctf.h"

#include <stddef.h>
#include <string.h>

/* ---- process-wide state ------------------------------------------------ */

static uint8_t log_enable[IMG_DSP_LOG_ID_NUM];
static uint8_t debug_flags;
static img_dsp_debug_log_writer log_writer;

uint8_t img_dsp_debug_log_enable(uint32_t id)
{
	return id < IMG_DSP_LOG_ID_NUM ? log_enable[id] : 0;
}

uint8_t img_dsp_debug_flags(void)
{
	return debug_flags;
}

typedef struct ik_log_name {
	uint32_t id;
	const char *name;
} ik_log_name;

/* The order in which the id list prints them; the last entry is empty. */
static const ik_log_name log_names[IMG_DSP_LOG_ID_NUM] = {
#define N(x)                                                                                                 \
	{                                                                                                    \
		x, #x                                                                                        \
	}
    N(LOG_SHOW_CMD_ID_LIST),
    N(LOG_VIN_SENSOR_INFO),
    N(LOG_RGB_IR),
    N(LOG_STATIC_BAD_PIXEL_COTTECTION),
    N(LOG_VIGNETTE_COMPENSATION),
    N(LOG_WARP_COMPENSATION),
    N(LOG_CAWARP_COMPENSATION),
    N(LOG_COLOR_CORRECTION),
    N(LOG_COLOR_CORRECTION_REG),
    N(LOG_STATIC_BLACK_LEVEL),
    N(LOG_DEFERRED_BLACK_LEVEL),
    N(LOG_DYNAMIC_BAD_PIXEL_CORRECTION),
    N(LOG_CFA_LEAKAGE_FILTER),
    N(LOG_CFA_NOISE_FILTER),
    N(LOG_ANTI_ALIASING),
    N(LOG_WB_GAIN),
    N(LOG_DGAIN_SATURATION_LEVEL),
    N(LOG_LOCAL_EXPOSURE),
    N(LOG_TONE_CURVE),
    N(LOG_RGB_TO_YUV_MATRIX),
    N(LOG_CHROMA_SCALE),
    N(LOG_CHROMA_MEDIAN_FILTER),
    N(LOG_DEMOSAIC),
    N(LOG_GBGR_MISMATCH),
    N(LOG_FIRST_LUMA_PROCESSING_MODE),
    N(LOG_CHROMA_FILTER),
    N(LOG_ADVANCE_SPATIAL_FILTER),
    N(LOG_VIDEO_MCTF),
    N(LOG_VIDEO_MCTF_TEMPORAL_ADJUST),
    N(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y),
    N(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB),
    N(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR),
    N(LOG_RESAMPLER_COEF_ADJUST),
    N(LOG_FIRST_SHARPEN_NOISE_BOTH),
    N(LOG_FIRST_SHARPEN_NOISE_NOISE),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT),
    N(LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING),
    N(LOG_FINAL_SHARPEN_NOISE_BOTH),
    N(LOG_FINAL_SHARPEN_NOISE_NOISE),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT),
    N(LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING),
    N(LOG_VIDEO_HDR_FRONT_END_WB_GAIN),
    N(LOG_VIDEO_HDR_DGAIN_SATURATION_LEVEL),
    N(LOG_VIDEO_HDR_AMP_LINEAR),
    N(LOG_VIDEO_HDR_BLACK_LEVEL_AMP_LINEAR),
    N(LOG_VIDEO_HDR_BLACK_LEVEL),
    N(LOG_VIDEO_HDR_ALPHA_CALC_CONFIG),
    N(LOG_VIDEO_HDR_ALPHA_CALC_THRESHOLD),
    N(LOG_VIDEO_HDR_ALPHA_CALC_BLACK_LEVEL),
    N(LOG_VIDEO_HDR_ALPHA_CALC_EXPOSURE),
    N(LOG_VIDEO_HDR_ALPHA_CALC_ALPHA),
    N(LOG_VIDEO_HDR_CONTRAST_ENHANCE),
    N(LOG_VIDEO_HDR_CONTRAST_ENHANCE_DECIMATION_FACTOR),
    N(LOG_VIDEO_AMP_LINEAR_HDS),
    N(LOG_VIDEO_HDS_ALPHA_CALC_THRESHOLD),
    N(LOG_VIDEO_HDR_RAW_OFFSET),
    N(LOG_VIDEO_HDR_BLEND_INDEX),
    N(LOG_VIDEO_HDR_POST_EXECUTE),
    N(LOG_VIDEO_CLISO_MOTION_DETECT),
    N(LOG_VIDEO_CLISO_VIDEO_MCTF_B),
    N(LOG_VIDEO_CLISO_VIDEO_MCTF_B_LEVEL),
    N(LOG_VIDEO_CLISO_VIDEO_MCTF_FAST_MODE),
    N(LOG_VIDEO_CLISO_VIDEO_HIGH_PERF_EN),
    N(LOG_POST_EXECUTE),
#undef N
    {0, NULL},
};

extern "C" int vors_img_dsp_register_debug_log_writer(img_dsp_debug_log_writer fn)
{
	log_writer = fn;
	return 0;
}

extern "C" void vors_img_dsp_set_debug_log_enables(const uint8_t *enables)
{
	if (!enables)
		return;
	memcpy(log_enable, enables, sizeof(log_enable));
}

static void print_id_list(void)
{
	for (const ik_log_name &n : log_names) {
		if (n.name)
			ik_print("[IK]%d: %s\n", (int)n.id, n.name);
	}
}

extern "C" void vors_img_dsp_set_debug_log_id(uint32_t id, uint8_t enable)
{
	if (id >= 1 && id < IMG_DSP_LOG_ID_NUM) {
		log_enable[id] = enable;
		return;
	}
	print_id_list();
}

extern "C" uint8_t *vors_img_dsp_enable_post_execute_log(void)
{
	log_enable[LOG_VIDEO_HDR_POST_EXECUTE] = 1;
	log_enable[LOG_POST_EXECUTE] = 1;
	return log_enable;
}

/* ---- log records -------------------------------------------------------- */

int img_dsp_debug_log_write(uint32_t id, uint8_t count, const void *const *data, const uint32_t *sizes,
                            const void *tag)
{
	if (!log_writer)
		return -1;
	uint8_t present = 0;
	for (uint8_t i = 0; i < count; i++)
		present += data[i] != NULL;
	log_writer(&id, sizeof(id), tag);
	log_writer(&present, sizeof(present), tag);
	for (uint8_t i = 0; i < count; i++) {
		if (!data[i]) {
			ik_print("[IK]id: %d, index: %d, data = 0x%x, size = %d, skip it\n", (int)id, (int)i,
			         0, (int)sizes[i]);
			continue;
		}
		uint32_t size = sizes[i];
		log_writer(&size, sizeof(size), tag);
		log_writer(data[i], size, tag);
	}
	return 0;
}

/* ---- setter hooks ------------------------------------------------------- */

void img_dsp_debug_hooks_n(const char *setter, const void *return_address, const img_dsp_debug_hook *hook,
                           const img_dsp_mode *mode, const void *block, uint8_t count,
                           const void *const *data, const uint32_t *sizes)
{
	uint8_t enable = img_dsp_debug_log_enable(hook->log_id);
	if (enable == 0 || ((hook->kind & IK_HOOK_EXACTLY_ONE) && enable != 1))
		return;
	uint32_t caller = (uint32_t)(uintptr_t)return_address;
	if (debug_flags & IMG_DSP_DEBUG_PRINT_CALLER) {
		if (hook->kind & IK_HOOK_BARE_CALLER)
			ik_print("[IK]%s: 0x%x\n", setter, caller);
		else
			ik_print("[IK]%s Caller: 0x%x\n", setter, caller);
	}
	if (debug_flags & IMG_DSP_DEBUG_PRINT_FIELDS) {
		img_dsp_print_mode(mode);
		if (hook->print_fields && block)
			hook->print_fields(block);
	}
	if ((debug_flags & IMG_DSP_DEBUG_WRITE_LOG) && !(hook->kind & IK_HOOK_PRINT_ONLY)) {
		uint32_t tag = mode->ContextId;
		img_dsp_debug_log_write(hook->log_id, count, data, sizes, &tag);
	}
}

void img_dsp_debug_hooks(const char *setter, const void *return_address, const img_dsp_debug_hook *hook,
                         const img_dsp_mode *mode, const void *block, uint32_t size)
{
	const void *data[1] = {block};
	uint32_t sizes[1] = {size};
	img_dsp_debug_hooks_n(setter, return_address, hook, mode, block, 1, data, sizes);
}

/* ---- settings dump ------------------------------------------------------ */

/*
 * Each record holds what the filter's public getter returns into a cleared
 * buffer. A refused read leaves the record cleared and it is written all the
 * same.
 */
#define IK_DUMP_BUF 2048u

typedef struct ik_dump {
	const img_dsp_mode *mode;
	uint32_t tag;
	uint8_t buf[IK_DUMP_BUF];
} ik_dump;

typedef struct ik_dump_getter {
	uint32_t id;
	uint32_t size;
	int (*get)(const img_dsp_mode *mode, void *out);
} ik_dump_getter;

#define GETTER(id, getter, type)                                                                             \
	{                                                                                                    \
		id, sizeof(type), [](const img_dsp_mode *m, void *out) { return getter(m, (type *)out); }    \
	}
#define GETTER_ROW(id, stage, member, type)                                                                  \
	GETTER(id, vors_img_dsp_get_##stage##_sharpen_noise_##member, type)

static_assert(sizeof(img_dsp_vin_sensor_info) == 20 && sizeof(img_dsp_rgb_to_yuv_matrix) == 24 &&
                  sizeof(img_dsp_chroma_filter) == 14,
              "dump record sizes");

static void dump_write(ik_dump *d, uint32_t id, uint8_t count, const void *const *data, const uint32_t *sizes)
{
	img_dsp_debug_log_write(id, count, data, sizes, &d->tag);
}

static void dump_getter(ik_dump *d, const ik_dump_getter *row)
{
	memset(d->buf, 0, row->size);
	row->get(d->mode, d->buf);
	const void *data[1] = {d->buf};
	dump_write(d, row->id, 1, data, &row->size);
}

static void dump_getters(ik_dump *d, const ik_dump_getter *rows, size_t n)
{
	for (size_t i = 0; i < n; i++)
		dump_getter(d, &rows[i]);
}

/* The vignette getter gives nothing back: its record stays cleared. */
static int get_vignette(const img_dsp_mode *mode, void *out)
{
	return vors_img_dsp_get_vignette_compensation(mode, out);
}

static const ik_dump_getter rows_head[] = {
    GETTER(LOG_VIN_SENSOR_INFO, vors_img_dsp_get_vin_sensor_info, img_dsp_vin_sensor_info),
    GETTER(LOG_STATIC_BAD_PIXEL_COTTECTION, vors_img_dsp_get_static_bad_pixel_correction,
           vors_img_dsp_sbp_correction_t),
    {LOG_VIGNETTE_COMPENSATION, sizeof(img_dsp_vignette_calc_info), get_vignette},
};

static const ik_dump_getter rows_filters[] = {
    GETTER(LOG_STATIC_BLACK_LEVEL, vors_img_dsp_get_static_black_level, img_dsp_static_black_level),
    GETTER(LOG_DEFERRED_BLACK_LEVEL, vors_img_dsp_get_deferred_black_level, img_dsp_deferred_black_level),
    GETTER(LOG_DYNAMIC_BAD_PIXEL_CORRECTION, vors_img_dsp_get_dynamic_bad_pixel_correction,
           img_dsp_dbp_correction),
    GETTER(LOG_CFA_LEAKAGE_FILTER, vors_img_dsp_get_cfa_leakage_filter, img_dsp_cfa_leakage_filter),
    GETTER(LOG_CFA_NOISE_FILTER, vors_img_dsp_get_cfa_noise_filter, img_dsp_cfa_noise_filter),
    GETTER(LOG_ANTI_ALIASING, vors_img_dsp_get_anti_aliasing, img_dsp_anti_aliasing),
    GETTER(LOG_WB_GAIN, vors_img_dsp_get_wb_gain, img_dsp_wb_gain),
    GETTER(LOG_DGAIN_SATURATION_LEVEL, vors_img_dsp_get_dgain_saturation_level,
           img_dsp_dgain_saturation_level),
    GETTER(LOG_LOCAL_EXPOSURE, vors_img_dsp_get_local_exposure, img_dsp_local_exposure),
    GETTER(LOG_TONE_CURVE, vors_img_dsp_get_tone_curve, img_dsp_tone_curve),
    GETTER(LOG_RGB_TO_YUV_MATRIX, vors_img_dsp_get_rgb_to_yuv_matrix, img_dsp_rgb_to_yuv_matrix),
    GETTER(LOG_CHROMA_SCALE, vors_img_dsp_get_chroma_scale, img_dsp_chroma_scale),
    GETTER(LOG_CHROMA_MEDIAN_FILTER, vors_img_dsp_get_chroma_median_filter, img_dsp_chroma_median_filter),
    GETTER(LOG_DEMOSAIC, vors_img_dsp_get_demosaic, img_dsp_demosaic),
    GETTER(LOG_GBGR_MISMATCH, vors_img_dsp_get_gbgr_mismatch, img_dsp_gbgr_mismatch),
    GETTER(LOG_FIRST_LUMA_PROCESSING_MODE, vors_img_dsp_get_luma_processing_mode,
           img_dsp_liso_process_select),
    GETTER(LOG_CHROMA_FILTER, vors_img_dsp_get_chroma_filter, img_dsp_chroma_filter),
    GETTER(LOG_VIDEO_MCTF, vors_img_dsp_get_video_mctf, img_dsp_video_mctf),
    GETTER(LOG_VIDEO_MCTF_TEMPORAL_ADJUST, vors_img_dsp_get_video_mctf_temporal_adjust,
           img_dsp_video_mctf_temporal_adjust),
    GETTER(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y, vors_img_dsp_get_video_mctf_temporal_adjust_y,
           img_dsp_video_mctf_temporal_adjust_y),
    GETTER(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB, vors_img_dsp_get_video_mctf_temporal_adjust_cb,
           img_dsp_video_mctf_temporal_adjust_cb),
    GETTER(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR, vors_img_dsp_get_video_mctf_temporal_adjust_cr,
           img_dsp_video_mctf_temporal_adjust_cr),
};

static const ik_dump_getter row_luma = GETTER(
    LOG_FIRST_LUMA_PROCESSING_MODE, vors_img_dsp_get_luma_processing_mode, img_dsp_liso_process_select);
static const ik_dump_getter row_asf = GETTER(
    LOG_ADVANCE_SPATIAL_FILTER, vors_img_dsp_get_advance_spatial_filter, img_dsp_advance_spatial_filter);
static const ik_dump_getter row_contrast_enhance =
    GETTER(LOG_VIDEO_HDR_CONTRAST_ENHANCE, vors_img_dsp_get_contrast_enhance, img_dsp_contrast_enhance);

/* The HDR records of one exposure or blend index are read from the blocks
 * the context stored, for the video pipe. */
#define BLK(field) (offsetof(ik_ctx_body, blk) + offsetof(ik_filter_blocks, field))

typedef struct ik_dump_row {
	uint32_t id;
	uint32_t size;
	size_t offset;
} ik_dump_row;

#define VROW(id, field, size)                                                                                \
	{                                                                                                    \
		id, size, BLK(field)                                                                         \
	}

static const ik_dump_row rows_hdr_head[] = {
    VROW(LOG_VIDEO_HDR_RAW_OFFSET, hdr.raw_offset, 32),
    VROW(LOG_VIDEO_HDR_BLEND_INDEX, hdr.blending_info, 4),
};

/* Reads a block as its getter does; false leaves the buffer cleared. */
static bool dump_read(ik_dump *d, const ik_dump_row *row, size_t extra_offset)
{
	memset(d->buf, 0, row->size);
	return img_dsp_common_get(__func__, d->mode, d->buf, row->offset + extra_offset, row->size, "p_dump",
	                          IK_PIPES_VIDEO_ONLY) == 0;
}

static void dump_row(ik_dump *d, const ik_dump_row *row)
{
	dump_read(d, row, 0);
	const void *data[1] = {d->buf};
	dump_write(d, row->id, 1, data, &row->size);
}

static const void *pointer_at(const uint8_t *block, size_t offset)
{
	uint64_t p;
	memcpy(&p, block + offset, sizeof(p));
	return (const void *)(uintptr_t)p;
}

static void dump_lib_and_sensor(ik_dump *d)
{
	img_dsp_lib_info info;
	memset(&info, 0, sizeof(info));
	vors_img_dsp_get_lib_info(&info);
	const void *data[1] = {&info};
	const uint32_t size = sizeof(info);
	dump_write(d, LOG_SHOW_CMD_ID_LIST, 1, data, &size);
	dump_getters(d, rows_head, sizeof(rows_head) / sizeof(rows_head[0]));
}

/* A block read through its getter, with the table its address word names
 * unless the large tables are left out. */
static void dump_block_with_table(ik_dump *d, uint32_t id, uint32_t size, size_t ptr_offset,
                                  uint32_t table_size)
{
	const void *data[2] = {d->buf, pointer_at(d->buf, ptr_offset)};
	const uint32_t sizes[2] = {size, table_size};
	dump_write(d, id, (debug_flags & IMG_DSP_DEBUG_NO_TABLES) ? 1 : 2, data, sizes);
}

static void dump_color(ik_dump *d)
{
	memset(d->buf, 0, sizeof(img_dsp_color_correction));
	vors_img_dsp_get_color_correction(d->mode, (img_dsp_color_correction *)d->buf);
	dump_block_with_table(d, LOG_COLOR_CORRECTION, sizeof(img_dsp_color_correction), 0,
	                      IMG_DSP_CC_TABLE_SIZE);
	memset(d->buf, 0, sizeof(img_dsp_color_correction_reg));
	vors_img_dsp_get_color_correction_reg(d->mode, (img_dsp_color_correction_reg *)d->buf);
	dump_block_with_table(d, LOG_COLOR_CORRECTION_REG, sizeof(img_dsp_color_correction_reg), 0,
	                      IMG_DSP_CC_REG_SIZE);
}

static const ik_dump_getter rows_first_sharpen[] = {
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_BOTH, 1st, both, img_dsp_1st_sharpen_noise_both),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_NOISE, 1st, noise, img_dsp_1st_sharpen_noise_noise),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR, 1st, sharpen_fir, img_dsp_fir),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING, 1st, sharpen_coring, img_dsp_sharpen_coring),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, 1st, sharpen_coring_index_scale,
               img_dsp_level),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, 1st, sharpen_min_coring_result,
               img_dsp_level),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, 1st, sharpen_max_coring_result,
               img_dsp_level),
    GETTER_ROW(LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING, 1st, sharpen_scale_coring, img_dsp_level),
};

static const ik_dump_getter rows_final_sharpen[] = {
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_NOISE, final, noise, img_dsp_final_sharpen_noise_noise),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR, final, sharpen_fir, img_dsp_fir),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING, final, sharpen_coring, img_dsp_sharpen_coring),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE, final, sharpen_coring_index_scale,
               img_dsp_final_level),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT, final, sharpen_min_coring_result,
               img_dsp_final_level),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT, final, sharpen_max_coring_result,
               img_dsp_final_level),
    GETTER_ROW(LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING, final, sharpen_scale_coring,
               img_dsp_final_level),
};

static void dump_luma(ik_dump *d)
{
	memset(d->buf, 0, row_luma.size);
	row_luma.get(d->mode, d->buf);
	if (d->buf[0] != 0)
		dump_getters(d, rows_first_sharpen,
		             sizeof(rows_first_sharpen) / sizeof(rows_first_sharpen[0]));
	else
		dump_getter(d, &row_asf);
	/* The stored both block names the context's copy of the 3-D table. */
	memset(d->buf, 0, sizeof(img_dsp_final_sharpen_noise_both));
	vors_img_dsp_get_final_sharpen_noise_both(d->mode, (img_dsp_final_sharpen_noise_both *)d->buf);
	dump_block_with_table(d, LOG_FINAL_SHARPEN_NOISE_BOTH, sizeof(img_dsp_final_sharpen_noise_both),
	                      offsetof(img_dsp_final_sharpen_noise_both, three_d_table),
	                      IMG_DSP_THREE_D_TABLE_SIZE);
	dump_getters(d, rows_final_sharpen, sizeof(rows_final_sharpen) / sizeof(rows_final_sharpen[0]));
	dump_getter(d, &row_contrast_enhance);
}

/* Records of one exposure or blend index: {u32 index, block[, table]}. */
static void dump_indexed(ik_dump *d, const ik_dump_row *row, size_t stride, uint32_t index, uint32_t stored,
                         size_t ptr_offset, uint32_t table_size)
{
	if (index < stored)
		dump_read(d, row, stride * index);
	else
		memset(d->buf, 0, row->size);
	const void *data[3] = {&index, d->buf, table_size ? pointer_at(d->buf, ptr_offset) : NULL};
	const uint32_t sizes[3] = {sizeof(index), row->size, table_size};
	dump_write(d, row->id, table_size ? 3 : 2, data, sizes);
}

static void dump_hdr(ik_dump *d)
{
	uint32_t blends = 0;
	if (d->mode->FuncMode & IMG_DSP_FUNC_NO_HDR) {
		for (const ik_dump_row &row : rows_hdr_head)
			dump_row(d, &row);
		blends = d->buf[0]; /* the blending information read last */
	}
	static const ik_dump_row fe = VROW(LOG_VIDEO_HDR_FRONT_END_WB_GAIN, hdr.front_end_wb_gain, 12);
	static const ik_dump_row amp = VROW(LOG_VIDEO_HDR_AMP_LINEAR, hdr.amp_linearization, 16);
	static const ik_dump_row dg =
	    VROW(LOG_VIDEO_HDR_DGAIN_SATURATION_LEVEL, hdr.dgain_saturation_level, 32);
	static const ik_dump_row cfg = VROW(LOG_VIDEO_HDR_ALPHA_CALC_CONFIG, hdr.alpha_calc_cfg, 8);
	static const ik_dump_row th = VROW(LOG_VIDEO_HDR_ALPHA_CALC_THRESHOLD, hdr.thresh, 8);
	for (uint32_t e = 0; e <= blends; e++) {
		dump_indexed(d, &fe, 12, e, 4, 0, 0);
		dump_indexed(d, &amp, 16, e, 4, 8, 706);
		dump_indexed(d, &dg, 32, e, 4, 0, 0);
	}
	/* There are stored blocks for three blends only; a fourth index reads
	 * as a refused getter would. */
	for (uint32_t b = 0; b <= blends; b++) {
		dump_indexed(d, &cfg, 8, b, 3, 0, 0);
		dump_indexed(d, &th, 8, b, 3, 0, 0);
	}
}

void img_dsp_debug_dump_all(const img_dsp_mode *mode, uint8_t flags)
{
	debug_flags = flags;
	if (!(flags & IMG_DSP_DEBUG_WRITE_LOG) || !mode)
		return;
	ik_dump d;
	d.mode = mode;
	d.tag = mode->ContextId;
	dump_lib_and_sensor(&d);
	dump_color(&d);
	dump_getters(&d, rows_filters, sizeof(rows_filters) / sizeof(rows_filters[0]));
	dump_luma(&d);
	dump_hdr(&d);
	const void *data[1] = {mode};
	const uint32_t size = sizeof(*mode);
	dump_write(&d, LOG_POST_EXECUTE, 1, data, &size);
	log_enable[LOG_POST_EXECUTE] = 1;
}

/* ---- debug mode --------------------------------------------------------- */

static int debug_mode_copy(const char *fn, const img_dsp_mode *mode, uint8_t *dst_or_null, const uint8_t *src)
{
	if (!mode || (!dst_or_null && !src))
		return -1;
	int rc;
	void *ctx = ik_mode_lock_video_or_still(fn, mode, IK_NO_CTX_MUTEX, &rc);
	if (!ctx)
		return rc;
	uint8_t *stored = ((ik_ctx_head *)ctx)->debug_mode;
	if (src)
		memcpy(stored, src, IMG_DSP_DEBUG_MODE_SIZE);
	else
		memcpy(dst_or_null, stored, IMG_DSP_DEBUG_MODE_SIZE);
	ik_unlock(ctx);
	return 0;
}

extern "C" int vors_img_dsp_set_debug_mode(const img_dsp_mode *mode, const uint8_t *debug_mode)
{
	if (!debug_mode)
		return -1;
	return debug_mode_copy(__func__, mode, NULL, debug_mode);
}

extern "C" int vors_img_dsp_get_debug_mode(const img_dsp_mode *mode, uint8_t *out)
{
	if (!out)
		return -1;
	return debug_mode_copy(__func__, mode, out, NULL);
}

static int core_debug_mode_check(const char *fn, const img_dsp_core_debug_mode *rec, const char *level)
{
	if (!rec)
		return -1;
	if (rec->Pipe > IMG_DSP_PIPE_STILL) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", fn, __LINE__, rec->Pipe);
		return -1;
	}
	if (rec->AlgoMode == 0 || rec->AlgoMode > DSP_IMG_CORE_ALGO_MODE_HISO)
		ik_print("[IK][%s]%s() %d Incorrect AlgoMode %d\n", level, fn, __LINE__, rec->AlgoMode);
	return 0;
}

extern "C" int VorsDSP_ImgCoreSetDebugMode(const img_dsp_core_debug_mode *rec)
{
	return core_debug_mode_check(__func__, rec, "Warning");
}

extern "C" int VorsDSP_ImgCoreGetDebugMode(const img_dsp_core_debug_mode *rec)
{
	return core_debug_mode_check(__func__, rec, "Error");
}

/* ---- profiler ----------------------------------------------------------- */

static_assert(sizeof(img_dsp_profile_entry) == 16, "profiler entry");

static struct {
	uint32_t capacity;
	img_dsp_profile_entry *ring;
	uint32_t index;
} profile;

static const char *state_name(uint32_t state)
{
	static const char *const names[] = {"Start", "GetMutex", "Process"};
	return state <= IK_PROFILE_PROCESS ? names[state] : "Unknown";
}

int img_dsp_core_profile_init(void *buffer, uint32_t size)
{
	if (size < sizeof(img_dsp_profile_entry)) {
		IK_ERROR("Size: %d is too small!\n", (int)size);
		return -1;
	}
	if (!buffer)
		return -1;
	profile.capacity = size / sizeof(img_dsp_profile_entry);
	memset(buffer, 0, (size_t)profile.capacity * sizeof(img_dsp_profile_entry));
	profile.ring = (img_dsp_profile_entry *)buffer;
	profile.index = 0;
	return 0;
}

void img_dsp_core_profile_reset(void)
{
	profile.capacity = 0;
	profile.ring = NULL;
	profile.index = 0;
}

int img_dsp_core_profile_stamp(const char *name, uint32_t state, uint32_t previous, int record)
{
	if (!record)
		return 0;
	if (profile.ring) {
		profile.ring[profile.index] = img_dsp_profile_entry{name, state, 0};
		profile.index = profile.index + 1 >= profile.capacity ? 0 : profile.index + 1;
		return 0;
	}
	/* The library has no clock: a stamp taken now reads 0. */
	if (state != IK_PROFILE_START)
		ik_print("[IK]%s %s takes %d ms.\n", name, state_name(state), (int)(0 - previous));
	return 0;
}

int img_dsp_core_profile_dump_history(uint32_t n)
{
	if (!profile.ring) {
		IK_WARN("without init!\n");
		return -1;
	}
	ik_print("[IK]Start_Time During_Time      State FunctionName\n");
	uint32_t last = n < profile.capacity ? n : profile.capacity;
	const img_dsp_profile_entry *prev = NULL;
	for (uint32_t i = 0; i < last; i++) {
		const img_dsp_profile_entry *e = &profile.ring[i];
		if (!e->name)
			continue;
		if (!prev)
			ik_print("[IK]%10d  ---------- %10s %s\n", (int)e->time, state_name(e->state),
			         e->name);
		else if (e->state > IK_PROFILE_PROCESS)
			ik_print("[IK]%10d  %10d %10d %s\n", (int)e->time, (int)(e->time - prev->time),
			         (int)e->state, e->name);
		else
			ik_print("[IK]%10d  %10d %10s %s\n", (int)e->time, (int)(e->time - prev->time),
			         state_name(e->state), e->name);
		prev = e;
	}
	return 0;
}

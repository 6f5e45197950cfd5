/*
 * Debug facilities: log records through the embedding program's writer, the
 * setters' debug hooks, the settings dump, the per-context debug mode, the
 * profiler ring and the HDR configuration printers.
 */
#include "ik_debug.h"

#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"

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
 * Each record holds what the filter's getter returns: the block the context
 * stored, for the pipes the getter serves. A refused read leaves the record
 * cleared and it is written all the same.
 */
#define BLK(field) (offsetof(ik_ctx_body, blk) + offsetof(ik_filter_blocks, field))

typedef struct ik_dump_row {
	uint32_t id;
	uint32_t size;
	size_t offset;
	enum img_dsp_pipe_rule rule;
} ik_dump_row;

#define ROW(id, field, size)                                                                                 \
	{                                                                                                    \
		id, size, BLK(field), IK_PIPES_VIDEO_STILL                                                   \
	}
#define VROW(id, field, size)                                                                                \
	{                                                                                                    \
		id, size, BLK(field), IK_PIPES_VIDEO_ONLY                                                    \
	}

static const ik_dump_row rows_head[] = {
    ROW(LOG_VIN_SENSOR_INFO, vin_sensor_info, 20),
    ROW(LOG_STATIC_BAD_PIXEL_COTTECTION, sbp_correction, 72),
};

static const ik_dump_row rows_filters[] = {
    ROW(LOG_STATIC_BLACK_LEVEL, static_black_level, 8),
    ROW(LOG_DEFERRED_BLACK_LEVEL, deferred_black_level, 2),
    ROW(LOG_DYNAMIC_BAD_PIXEL_CORRECTION, dbp_correction, 4),
    ROW(LOG_CFA_LEAKAGE_FILTER, cfa_leakage_filter, 12),
    ROW(LOG_CFA_NOISE_FILTER, cfa_noise_filter, 36),
    ROW(LOG_ANTI_ALIASING, anti_aliasing, 8),
    ROW(LOG_WB_GAIN, wb_gain, 20),
    ROW(LOG_DGAIN_SATURATION_LEVEL, dgain_saturation_level, 16),
    ROW(LOG_LOCAL_EXPOSURE, local_exposure, 518),
    ROW(LOG_TONE_CURVE, tone_curve, 1536),
    ROW(LOG_RGB_TO_YUV_MATRIX, rgb_to_yuv_matrix, 24),
    ROW(LOG_CHROMA_SCALE, chroma_scale, 260),
    ROW(LOG_CHROMA_MEDIAN_FILTER, chroma_median_filter, 16),
    ROW(LOG_DEMOSAIC, demosaic, 8),
    ROW(LOG_GBGR_MISMATCH, gbgr_mismatch, 6),
    ROW(LOG_FIRST_LUMA_PROCESSING_MODE, liso_process_select, 2),
    ROW(LOG_CHROMA_FILTER, chroma_filter, 14),
    VROW(LOG_VIDEO_MCTF, video_mctf, 364),
    VROW(LOG_VIDEO_MCTF_TEMPORAL_ADJUST, mctf_temporal_adjust, 18),
    VROW(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y, mctf_temporal_adjust_y, 8),
    VROW(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB, mctf_temporal_adjust_cb, 8),
    VROW(LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR, mctf_temporal_adjust_cr, 8),
};

static const ik_dump_row row_contrast_enhance = VROW(LOG_VIDEO_HDR_CONTRAST_ENHANCE, contrast_enhance, 606);

static const ik_dump_row rows_hdr_head[] = {
    VROW(LOG_VIDEO_HDR_RAW_OFFSET, hdr.raw_offset, 32),
    VROW(LOG_VIDEO_HDR_BLEND_INDEX, hdr.blending_info, 4),
};

#define IK_DUMP_BUF 2048u

typedef struct ik_dump {
	const img_dsp_mode *mode;
	uint32_t tag;
	uint8_t buf[IK_DUMP_BUF];
} ik_dump;

/* Reads a block as its getter does; false leaves the buffer cleared. */
static bool dump_read(ik_dump *d, const ik_dump_row *row, size_t extra_offset)
{
	memset(d->buf, 0, row->size);
	return img_dsp_common_get(__func__, d->mode, d->buf, row->offset + extra_offset, row->size, "p_dump",
	                          row->rule) == 0;
}

static void dump_write(ik_dump *d, uint32_t id, uint8_t count, const void *const *data, const uint32_t *sizes)
{
	img_dsp_debug_log_write(id, count, data, sizes, &d->tag);
}

static void dump_row(ik_dump *d, const ik_dump_row *row)
{
	dump_read(d, row, 0);
	const void *data[1] = {d->buf};
	dump_write(d, row->id, 1, data, &row->size);
}

static void dump_rows(ik_dump *d, const ik_dump_row *rows, size_t n)
{
	for (size_t i = 0; i < n; i++)
		dump_row(d, &rows[i]);
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
	dump_rows(d, rows_head, sizeof(rows_head) / sizeof(rows_head[0]));
	/* The vignette getter gives nothing back: its record stays cleared. */
	memset(d->buf, 0, 104);
	data[0] = d->buf;
	const uint32_t vig = 104;
	dump_write(d, LOG_VIGNETTE_COMPENSATION, 1, data, &vig);
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

/* The sharpen-noise blocks, each read through its public getter. */
typedef struct ik_dump_getter {
	uint32_t id;
	uint32_t size;
	int (*get)(const img_dsp_mode *mode, void *out);
} ik_dump_getter;

#define GETTER_ROW(id, stage, member, type)                                                                  \
	{                                                                                                    \
		id, sizeof(type), [](const img_dsp_mode *m, void *out) {                                     \
			return vors_img_dsp_get_##stage##_sharpen_noise_##member(m, (type *)out);            \
		}                                                                                            \
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

static const ik_dump_getter row_asf = {
    LOG_ADVANCE_SPATIAL_FILTER, sizeof(img_dsp_advance_spatial_filter), [](const img_dsp_mode *m, void *out) {
	    return vors_img_dsp_get_advance_spatial_filter(m, (img_dsp_advance_spatial_filter *)out);
    }};

/* A refused read leaves the record cleared. */
static void dump_getters(ik_dump *d, const ik_dump_getter *rows, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		memset(d->buf, 0, rows[i].size);
		rows[i].get(d->mode, d->buf);
		const void *data[1] = {d->buf};
		dump_write(d, rows[i].id, 1, data, &rows[i].size);
	}
}

static void dump_luma(ik_dump *d)
{
	static const ik_dump_row luma = ROW(LOG_FIRST_LUMA_PROCESSING_MODE, liso_process_select, 2);
	dump_read(d, &luma, 0);
	if (d->buf[0] != 0)
		dump_getters(d, rows_first_sharpen,
		             sizeof(rows_first_sharpen) / sizeof(rows_first_sharpen[0]));
	else
		dump_getters(d, &row_asf, 1);
	/* The stored both block names the context's copy of the 3-D table. */
	memset(d->buf, 0, sizeof(img_dsp_final_sharpen_noise_both));
	vors_img_dsp_get_final_sharpen_noise_both(d->mode, (img_dsp_final_sharpen_noise_both *)d->buf);
	dump_block_with_table(d, LOG_FINAL_SHARPEN_NOISE_BOTH, sizeof(img_dsp_final_sharpen_noise_both),
	                      offsetof(img_dsp_final_sharpen_noise_both, three_d_table),
	                      IMG_DSP_THREE_D_TABLE_SIZE);
	dump_getters(d, rows_final_sharpen, sizeof(rows_final_sharpen) / sizeof(rows_final_sharpen[0]));
	dump_row(d, &row_contrast_enhance);
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
		dump_rows(d, rows_hdr_head, sizeof(rows_hdr_head) / sizeof(rows_hdr_head[0]));
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
	dump_rows(&d, rows_filters, sizeof(rows_filters) / sizeof(rows_filters[0]));
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

/* ---- HDR printers --------------------------------------------------------- */

/* A command's address as the library can read it, or NULL when it lies
 * outside the region (printing must not fault on a stale address). */
static const uint8_t *readable(uint32_t addr)
{
	if (addr == 0 || !ik_mem_initialised())
		return NULL;
	ik_mem_bases b = ik_mem_get_bases();
	uint64_t size = ik_mem_size();
	if (addr >= b.phys && addr < b.phys + size)
		return (const uint8_t *)(uintptr_t)(b.user + (addr - b.phys));
	if (addr >= b.user && addr < b.user + size)
		return (const uint8_t *)(uintptr_t)addr;
	return NULL;
}

enum ik_field_type { F_U8, F_U16, F_S16, F_U32, F_S32, F_HEX32 };

typedef struct ik_cmd_field {
	const char *name;
	uint16_t offset;
	uint8_t type;
} ik_cmd_field;

/* Tables a command points at, printed after its fields. */
typedef struct ik_cmd_table {
	uint16_t addr_offset;
	uint16_t count;
	uint16_t bytes; /* table size */
} ik_cmd_table;

typedef struct ik_cmd_desc {
	uint32_t code;
	const char *name;
	const ik_cmd_field *fields;
	size_t nfields;
	ik_cmd_table tables;
} ik_cmd_desc;

#define FIELDS(a) a, sizeof(a) / sizeof(a[0])

static const ik_cmd_field f_blc_global[] = {
    {"global_offset_ee", 4, F_S32},
    {"global_offset_eo", 8, F_S32},
    {"global_offset_oe", 12, F_S32},
    {"global_offset_oo", 16, F_S32},
    {"black_level_offset_red", 20, F_U16},
    {"black_level_offset_green", 22, F_U16},
    {"black_level_offset_blue", 24, F_U16},
    {"gain_depedent_offset_red", 26, F_U16},
    {"gain_depedent_offset_green", 28, F_U16},
    {"gain_depedent_offset_blue", 30, F_U16},
    {"def_blk1_red", 32, F_U16},
    {"def_blk1_green", 34, F_U16},
    {"def_blk1_blue", 36, F_U16},
};

/* Nothing in this library builds this command; its fields are printed in
 * the driver's order at their natural widths. */
static const ik_cmd_field f_blc_correction[] = {
    {"column_enable", 4, F_U8},
    {"row_enable", 5, F_U8},
    {"black_level_mode", 6, F_U8},
    {"bad_pixel_mode_column", 7, F_U8},
    {"bad_pixel_mode_row", 8, F_U8},
    {"cold_pixel_thresh", 10, F_U16},
    {"hot_pixel_thresh", 12, F_U16},
    {"center_offset", 14, F_U16},
    {"column_replace", 16, F_U8},
    {"column_invalid_replace", 17, F_U8},
    {"column_invalid_thresh", 18, F_U16},
    {"row_invalid_thresh", 20, F_U16},
    {"column_average_k_frames", 22, F_U8},
    {"row_average_k_frames", 23, F_U8},
    {"column_black_gain", 24, F_U16},
    {"row_black_gain", 26, F_U16},
    {"column_bad_pixel_subtract", 28, F_U8},
    {"global_offset_ee", 32, F_S32},
    {"global_offset_eo", 36, F_S32},
    {"global_offset_oe", 40, F_S32},
    {"global_offset_oo", 44, F_S32},
};

static const ik_cmd_field f_rgb_gain[] = {
    {"level_red", 4, F_U32},
    {"level_green_even", 8, F_U32},
    {"level_green_odd", 12, F_U32},
    {"level_blue", 16, F_U32},
};

static const ik_cmd_field f_blc_amplinear[] = {
    {"amplinear_offset_ee", 4, F_S32},  {"amplinear_offset_eo", 8, F_S32}, {"amplinear_offset_oe", 12, F_S32},
    {"amplinear_offset_oo", 16, F_S32}, {"amp_hdr_offset_ee", 20, F_S32},  {"amp_hdr_offset_eo", 24, F_S32},
    {"amp_hdr_offset_oe", 28, F_S32},   {"amp_hdr_offset_oo", 32, F_S32},  {"hdrblend_offset_ee", 36, F_S32},
    {"hdrblend_offset_eo", 40, F_S32},  {"hdrblend_offset_oe", 44, F_S32}, {"hdrblend_offset_oo", 48, F_S32},
};

static const ik_cmd_field f_blc_global_hdr[] = {
    {"hdr_offset_ee", 4, F_S32},
    {"hdr_offset_eo", 8, F_S32},
    {"hdr_offset_oe", 12, F_S32},
    {"hdr_offset_oo", 16, F_S32},
};

static const ik_cmd_field f_amplinear[] = {
    {"amplinear_enable", 4, F_U8},
    {"hdr_amplinear_enable", 5, F_U8},
    {"hdrblend_enable", 6, F_U8},
    {"hdr_mode", 7, F_U8},
    {"hdr_stream0_sub", 8, F_U8},
    {"hdr_stream1_sub", 9, F_U8},
    {"hdr_stream1_shift", 10, F_U8},
    {"hdr_alpha_mode", 11, F_U8},
    {"amplinear_exp_table[0]", 12, F_U16},
    {"amplinear_exp_table[1]", 14, F_U16},
    {"amplinear_exp_table[2]", 16, F_U16},
    {"amplinear_exp_table[3]", 18, F_U16},
    {"amplinear_exp_table[4]", 20, F_U16},
    {"amplinear_exp_table[5]", 22, F_U16},
    {"amplinear_exp_table[6]", 24, F_U16},
    {"hdrblend_exp_table[0]", 26, F_U16},
    {"hdrblend_exp_table[1]", 28, F_U16},
    {"hdrblend_exp_table[2]", 30, F_U16},
    {"hdrblend_exp_table[3]", 32, F_U16},
    {"hdrblend_exp_table[4]", 34, F_U16},
    {"hdrblend_exp_table[5]", 36, F_U16},
    {"hdrblend_exp_table[6]", 38, F_U16},
    {"amplinear_lookup_table_addr[0]", 40, F_HEX32},
    {"amplinear_lookup_table_addr[1]", 44, F_HEX32},
    {"amplinear_lookup_table_addr[2]", 48, F_HEX32},
    {"amplinear_lookup_table_addr[3]", 52, F_HEX32},
    {"hdrblend_lookup_table_addr[0]", 56, F_HEX32},
    {"hdrblend_lookup_table_addr[1]", 60, F_HEX32},
    {"hdrblend_lookup_table_addr[2]", 64, F_HEX32},
    {"hdrblend_lookup_table_addr[3]", 68, F_HEX32},
    {"hdr_blend_thres", 72, F_U32},
};

static const ik_cmd_field f_vig_comp[] = {
    {"enable", 4, F_U8},
    {"hdr_enable", 5, F_U8},
    {"gain_shift", 6, F_U8},
    {"vig_gain_addr_red", 8, F_HEX32},
    {"vig_gain_addr_green_even", 12, F_HEX32},
    {"vig_gain_addr_green_odd", 16, F_HEX32},
    {"vig_gain_addr_blue", 20, F_HEX32},
};

static const ik_cmd_field f_vig_sat[] = {
    {"vig_comp_input_saturation_level_red", 4, F_U16},
    {"vig_comp_input_saturation_level_blue", 6, F_U16},
    {"vig_comp_input_saturation_level_green_even_row", 8, F_U16},
    {"vig_comp_input_saturation_level_green_odd_row", 10, F_U16},
    {"vig_comp_output_saturation_level_red", 12, F_U16},
    {"vig_comp_output_saturation_level_blue", 14, F_U16},
    {"vig_comp_output_saturation_level_green_even_row", 16, F_U16},
    {"vig_comp_output_saturation_level_green_odd_row", 18, F_U16},
    {"vig_comp_hdr_input_saturation_level_red", 20, F_U16},
    {"vig_comp_hdr_input_saturation_level_blue", 22, F_U16},
    {"vig_comp_hdr_input_saturation_level_green_even_row", 24, F_U16},
    {"vig_comp_hdr_input_saturation_level_green_odd_row", 26, F_U16},
    {"vig_comp_hdr_output_saturation_level_red", 28, F_U16},
    {"vig_comp_hdr_output_saturation_level_blue", 30, F_U16},
    {"vig_comp_hdr_output_saturation_level_green_even_row", 32, F_U16},
    {"vig_comp_hdr_output_saturation_level_green_odd_row", 34, F_U16},
};

static const ik_cmd_field f_vig_dgain[] = {
    {"digital_gain_multiplier_red", 4, F_HEX32},
    {"digital_gain_multiplier_blue", 8, F_HEX32},
    {"digital_gain_multiplier_green_even_row", 12, F_HEX32},
    {"digital_gain_multiplier_green_odd_row", 16, F_HEX32},
    {"digital_gain_hdr_multiplier_red", 20, F_HEX32},
    {"digital_gain_hdr_multiplier_blue", 24, F_HEX32},
    {"digital_gain_hdr_multiplier_green_even_row", 28, F_HEX32},
    {"digital_gain_hdr_multiplier_green_odd_row", 32, F_HEX32},
};

static const ik_cmd_field f_preblend_config[] = {
    {"avg_radius", 4, F_U8},        {"avg_method", 5, F_U8},       {"saturation_num_nei", 6, F_U8},
    {"luma_avg_weight0", 8, F_U8},  {"luma_avg_weight1", 9, F_U8}, {"luma_avg_weight2", 10, F_U8},
    {"luma_avg_weight3", 11, F_U8},
};

static const ik_cmd_field f_preblend_thresh[] = {
    {"saturation_threshold0", 4, F_U16},
    {"saturation_threshold1", 6, F_U16},
    {"saturation_threshold2", 8, F_U16},
    {"saturation_threshold3", 10, F_U16},
};

static const ik_cmd_field f_preblend_black[] = {
    {"bl_offset_ee", 4, F_S16},
    {"bl_offset_eo", 6, F_S16},
    {"bl_offset_oe", 8, F_S16},
    {"bl_offset_oo", 10, F_S16},
};

static const ik_cmd_field f_preblend_alpha[] = {
    {"pre_alpha_mode", 4, F_U8},
    {"alpha_table_addr", 8, F_HEX32},
};

static const ik_cmd_desc hdr_cmds[] = {
    {0x09002001u, "BLACK_LEVEL_GLOBAL_OFFSET", FIELDS(f_blc_global), {0, 0, 0}},
    {0x09002002u, "BLACK_LEVEL_CORRECTION_CONFIG", FIELDS(f_blc_correction), {0, 0, 0}},
    {0x09002005u, "RGB_GAIN_ADJUSTMENT", FIELDS(f_rgb_gain), {0, 0, 0}},
    {0x0900200Du, "BLACK_LEVEL_AMPLINEAR_HDR", FIELDS(f_blc_amplinear), {0, 0, 0}},
    {0x0900200Eu, "BLACK_LEVEL_GLOBAL_OFFSET_HDR", FIELDS(f_blc_global_hdr), {0, 0, 0}},
    {0x09001003u, "AMPLIFIER_LINEARIZATION", FIELDS(f_amplinear), {40, 8, 706}},
    {0x09002016u, "DGAIN_VIGNETTE_COMPENSATION", FIELDS(f_vig_comp), {8, 4, 2180}},
    {0x09002018u, "DGAIN_VIGNETTE_SATURATION", FIELDS(f_vig_sat), {0, 0, 0}},
    {0x09002019u, "DGAIN_VIGNETTE_DIGITAL_GAIN", FIELDS(f_vig_dgain), {0, 0, 0}},
    {0x0900500Bu, "HDR_PREBLEND_CONFIG", FIELDS(f_preblend_config), {0, 0, 0}},
    {0x0900500Cu, "HDR_PREBLEND_THRESH", FIELDS(f_preblend_thresh), {0, 0, 0}},
    {0x0900500Du, "HDR_PREBLEND_BLACK_LEVEL", FIELDS(f_preblend_black), {0, 0, 0}},
    {0x0900500Fu, "HDR_PREBLEND_ALPHA", FIELDS(f_preblend_alpha), {8, 1, 64}},
    {IK_CMD_PROCESS_IDSP_BATCH, "PROCESS_IDSP_BATCH_CMD", NULL, 0, {0, 0, 0}},
};

static void print_field(const uint8_t *cmd, const ik_cmd_field *f)
{
	const uint8_t *p = cmd + f->offset;
	uint16_t u16;
	int16_t s16;
	uint32_t u32;
	switch (f->type) {
	case F_U8:
		ik_print("[IK]\t\t %s = %d\n", f->name, (int)*p);
		return;
	case F_U16:
		memcpy(&u16, p, 2);
		ik_print("[IK]\t\t %s = %d\n", f->name, (int)u16);
		return;
	case F_S16:
		memcpy(&s16, p, 2);
		ik_print("[IK]\t\t %s = %d\n", f->name, (int)s16);
		return;
	case F_HEX32:
		memcpy(&u32, p, 4);
		ik_print("[IK]\t\t %s = 0x%x\n", f->name, u32);
		return;
	default:
		memcpy(&u32, p, 4);
		ik_print("[IK]\t\t %s = %d\n", f->name, (int)u32);
		return;
	}
}

/* A table's contents as 16-bit values, sixteen to a line. */
static void print_table(const uint8_t *cmd, const ik_cmd_table *t)
{
	for (uint16_t k = 0; k < t->count; k++) {
		uint32_t addr;
		memcpy(&addr, cmd + t->addr_offset + 4 * k, 4);
		const uint8_t *tbl = readable(addr);
		if (!tbl)
			continue;
		ik_print("[IK]\t\t table[%d]:\n", (int)k);
		for (uint32_t i = 0; i < t->bytes / 2u; i++) {
			uint16_t v;
			memcpy(&v, tbl + 2 * i, 2);
			if (i % 16 == 0)
				ik_print("[IK]\t\t");
			ik_print(" %d", (int)v);
			if (i % 16 == 15)
				ik_print("\n");
		}
		if ((t->bytes / 2u) % 16 != 0)
			ik_print("\n");
	}
}

uint32_t img_dsp_core_utility_echo_hdr_cmd(const char *label, int index, const void *cmd)
{
	uint32_t code;
	memcpy(&code, cmd, 4);
	for (const ik_cmd_desc &d : hdr_cmds) {
		if (d.code != code)
			continue;
		ik_print("[IK]%s[%d] cmd_code = 0x%08x %s\n", label, index, code, d.name);
		for (size_t i = 0; i < d.nfields; i++)
			print_field((const uint8_t *)cmd, &d.fields[i]);
		if (d.tables.count)
			print_table((const uint8_t *)cmd, &d.tables);
		return code;
	}
	IK_ERROR("%s[%d] cmd_code = 0x%08x UNKNOWN\n", label, index, code);
	return code;
}

enum ik_queue_pass { PASS_MAIN_PREBLEND, PASS_MAIN_BLEND, PASS_HDS_PREBLEND, PASS_HDS_BLEND };

static uint32_t queue_addr(const img_dsp_hdr_cfg *cfg, enum ik_queue_pass pass, unsigned s)
{
	switch (pass) {
	case PASS_MAIN_PREBLEND:
		return cfg->preblend_cmds_daddr[s][0];
	case PASS_MAIN_BLEND:
		return cfg->blend_cmds_daddr[s][0];
	case PASS_HDS_PREBLEND:
		return cfg->preblend_cmds_daddr[s][1];
	case PASS_HDS_BLEND:
		return cfg->blend_cmds_daddr[s][1];
	}
	return 0;
}

typedef struct ik_echo_walk {
	const char *label;
	int hds_preblend;
	unsigned step;
} ik_echo_walk;

static int echo_slot(uint32_t *cmd, unsigned i, void *arg)
{
	const ik_echo_walk *w = (const ik_echo_walk *)arg;
	if (w->hds_preblend)
		IK_DEBUG("blend_idx: %d, batch_cmd_idx: %d\n", (int)w->step, (int)i);
	img_dsp_core_utility_echo_hdr_cmd(w->label, (int)i, cmd);
	return 0;
}

static int echo_queue_pass(const img_dsp_hdr_cfg *cfg, enum ik_queue_pass pass)
{
	static const char *const labels[] = {"main_preblend_queue", "main_blend_queue", "hds_preblend_queue",
	                                     "hds_blend_queue"};
	static const char *const missing[] = {
	    "[IK]main_preblend_cmds_daddr[%d][0] is NULL\n", "[IK]main_blend_cmds_daddr[%d] = NULL\n",
	    "[IK]hds_preblend_cmds_daddr[%d][0] is NULL\n", "[IK]hds_blend_cmds_daddr[%d] = NULL\n"};
	ik_print("[IK]%s:\n", labels[pass]);
	int rc = 0;
	for (unsigned s = 0; s < 3; s++) {
		uint32_t addr = queue_addr(cfg, pass, s);
		if (addr == 0) {
			ik_print(missing[pass], (int)s);
			return rc;
		}
		ik_echo_walk w = {labels[pass], pass == PASS_HDS_PREBLEND, s};
		if (ik_walk_cmd_queue(__func__, addr, IK_HDR_QUEUE_CMDS, echo_slot, &w) != 0)
			rc = -1;
	}
	return rc;
}

int img_dsp_core_utility_print_hdrcfg(const img_dsp_hdr_cfg *cfg)
{
	if (!cfg)
		return -1;
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]blend_%u_updated: %d\n", s, (int)((cfg->flags >> s) & 1));
	for (unsigned e = 0; e < 4; e++)
		ik_print("[IK]exp_%u_start_offset_updated: %d\n", e, (int)((cfg->flags >> (3 + e)) & 1));
	ik_print("[IK]number_of_exposure: %d\n", (int)((cfg->flags >> 7) & 7));
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]preblend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->preblend_cmds_daddr[s][0],
		         cfg->preblend_cmds_daddr[s][1]);
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]blend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->blend_cmds_daddr[s][0],
		         cfg->blend_cmds_daddr[s][1]);
	for (unsigned e = 0; e < 4; e++)
		ik_print("[IK]raw_daddr_start_offset_y[%u]: %d\n", e, (int)cfg->raw_daddr_start_offset_y[e]);
	int rc = 0;
	for (int pass = PASS_MAIN_PREBLEND; pass <= PASS_HDS_BLEND; pass++) {
		if (echo_queue_pass(cfg, (enum ik_queue_pass)pass) != 0)
			rc = -1;
	}
	return rc;
}

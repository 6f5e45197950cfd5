/* Debug facilities: log records, setter hooks, settings dump, profiler. */
#ifndef CAMLIB_IMG_DSP_IK_DEBUG_H
#define CAMLIB_IMG_DSP_IK_DEBUG_H

#include "img_dsp.h"

#include <stdint.h>

enum img_dsp_log_id {
	LOG_SHOW_CMD_ID_LIST = 0,
	LOG_VIN_SENSOR_INFO = 1,
	LOG_RGB_IR = 2,
	LOG_STATIC_BAD_PIXEL_COTTECTION = 3,
	LOG_VIGNETTE_COMPENSATION = 4,
	LOG_WARP_COMPENSATION = 5,
	LOG_CAWARP_COMPENSATION = 6,
	LOG_COLOR_CORRECTION = 7,
	LOG_COLOR_CORRECTION_REG = 8,
	LOG_STATIC_BLACK_LEVEL = 9,
	LOG_DEFERRED_BLACK_LEVEL = 10,
	LOG_DYNAMIC_BAD_PIXEL_CORRECTION = 11,
	LOG_CFA_LEAKAGE_FILTER = 12,
	LOG_CFA_NOISE_FILTER = 13,
	LOG_ANTI_ALIASING = 14,
	LOG_WB_GAIN = 15,
	LOG_DGAIN_SATURATION_LEVEL = 16,
	LOG_LOCAL_EXPOSURE = 17,
	LOG_TONE_CURVE = 18,
	LOG_RGB_TO_YUV_MATRIX = 19,
	LOG_CHROMA_SCALE = 20,
	LOG_CHROMA_MEDIAN_FILTER = 21,
	LOG_DEMOSAIC = 22,
	LOG_GBGR_MISMATCH = 23,
	LOG_FIRST_LUMA_PROCESSING_MODE = 24,
	LOG_CHROMA_FILTER = 25,
	LOG_ADVANCE_SPATIAL_FILTER = 26,
	LOG_VIDEO_MCTF = 27,
	LOG_VIDEO_MCTF_TEMPORAL_ADJUST = 28,
	LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y = 29,
	LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CB = 30,
	LOG_VIDEO_MCTF_TEMPORAL_ADJUST_CR = 31,
	LOG_RESAMPLER_COEF_ADJUST = 32,
	LOG_FIRST_SHARPEN_NOISE_BOTH = 33,
	LOG_FIRST_SHARPEN_NOISE_NOISE = 34,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_FIR = 35,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING = 36,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE = 37,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT = 38,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT = 39,
	LOG_FIRST_SHARPEN_NOISE_SHARPEN_SCALE_CORING = 40,
	LOG_FINAL_SHARPEN_NOISE_BOTH = 41,
	LOG_FINAL_SHARPEN_NOISE_NOISE = 42,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_FIR = 43,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING = 44,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_CORING_INDEX_SCALE = 45,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_MIN_CORING_RESULT = 46,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_MAX_CORING_RESULT = 47,
	LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING = 48,
	LOG_VIDEO_HDR_FRONT_END_WB_GAIN = 49,
	LOG_VIDEO_HDR_DGAIN_SATURATION_LEVEL = 50,
	LOG_VIDEO_HDR_AMP_LINEAR = 51,
	LOG_VIDEO_HDR_BLACK_LEVEL_AMP_LINEAR = 53,
	LOG_VIDEO_HDR_BLACK_LEVEL = 54,
	LOG_VIDEO_HDR_ALPHA_CALC_CONFIG = 55,
	LOG_VIDEO_HDR_ALPHA_CALC_THRESHOLD = 56,
	LOG_VIDEO_HDR_ALPHA_CALC_BLACK_LEVEL = 57,
	LOG_VIDEO_HDR_ALPHA_CALC_EXPOSURE = 58,
	LOG_VIDEO_HDR_ALPHA_CALC_ALPHA = 59,
	LOG_VIDEO_HDR_CONTRAST_ENHANCE = 60,
	LOG_VIDEO_HDR_CONTRAST_ENHANCE_DECIMATION_FACTOR = 61,
	LOG_VIDEO_AMP_LINEAR_HDS = 62,
	LOG_VIDEO_HDS_ALPHA_CALC_THRESHOLD = 63,
	LOG_VIDEO_HDR_RAW_OFFSET = 64,
	LOG_VIDEO_HDR_BLEND_INDEX = 65,
	LOG_VIDEO_CLISO_MOTION_DETECT = 66,
	LOG_VIDEO_CLISO_VIDEO_MCTF_B = 67,
	LOG_VIDEO_CLISO_VIDEO_MCTF_B_LEVEL = 68,
	LOG_VIDEO_CLISO_VIDEO_MCTF_FAST_MODE = 69,
	LOG_VIDEO_CLISO_VIDEO_HIGH_PERF_EN = 70,
	LOG_VIDEO_HDR_POST_EXECUTE = 71,
	LOG_POST_EXECUTE = 72,
};

/* Process-wide debug state, read by the setters' hooks and the builders. */
uint8_t img_dsp_debug_log_enable(uint32_t id);
uint8_t img_dsp_debug_flags(void);

int img_dsp_debug_log_write(uint32_t id, uint8_t count, const void *const *data, const uint32_t *sizes,
                            const void *tag);
void img_dsp_debug_dump_all(const img_dsp_mode *mode, uint8_t flags);

/*
 * A setter's debug hooks: what it logs and how. The print function prints
 * the block's fields in the setter's own lines; it may be NULL.
 */
enum img_dsp_debug_hook_kind {
	IK_HOOK_RECORD = 0,      /* print flags and a log record */
	IK_HOOK_PRINT_ONLY = 1,  /* the print flags only, never a record */
	IK_HOOK_EXACTLY_ONE = 2, /* run only when the enable byte is exactly 1 */
	IK_HOOK_BARE_CALLER = 4, /* the caller line without the word "Caller" */
};

typedef struct img_dsp_debug_hook {
	uint32_t log_id;
	uint32_t kind; /* img_dsp_debug_hook_kind bits */
	void (*print_fields)(const void *block);
} img_dsp_debug_hook;

/* Runs the hooks with a record of `count` entries (the block alone when
 * count is 1 and data is NULL). */
void img_dsp_debug_hooks(const char *setter, const void *return_address, const img_dsp_debug_hook *hook,
                         const img_dsp_mode *mode, const void *block, uint32_t size);
void img_dsp_debug_hooks_n(const char *setter, const void *return_address, const img_dsp_debug_hook *hook,
                           const img_dsp_mode *mode, const void *block, uint8_t count,
                           const void *const *data, const uint32_t *sizes);

/* Profiler. */
#define IK_PROFILE_START 0u
#define IK_PROFILE_GET_MUTEX 1u
#define IK_PROFILE_PROCESS 2u

typedef struct img_dsp_profile_entry {
	const char *name;
	uint32_t state;
	uint32_t time;
} img_dsp_profile_entry;

int img_dsp_core_profile_init(void *buffer, uint32_t size);
void img_dsp_core_profile_reset(void);
int img_dsp_core_profile_dump_history(uint32_t n);
int img_dsp_core_profile_stamp(const char *name, uint32_t state, uint32_t previous, int record);

#endif

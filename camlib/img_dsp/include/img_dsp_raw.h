/*
 * Image-DSP programming library: the raw stage (black levels, bad pixels,
 * demosaic and the CFA filters, anti-aliasing and leakage, local exposure,
 * contrast enhancement and vignette compensation). Records are shared with
 * callers by layout; each carries a size assertion.
 */
#ifndef CAMLIB_IMG_DSP_RAW_H
#define CAMLIB_IMG_DSP_RAW_H

#include "img_dsp.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct img_dsp_deferred_black_level {
	uint8_t Enb;
	uint8_t reserved; /* kept, never read */
} img_dsp_deferred_black_level;

typedef struct img_dsp_dbp_correction {
	uint8_t Enb; /* 0 off, 1-4 correction mode */
	uint8_t HotPixelStrength;
	uint8_t DarkPixelStrength;
	uint8_t CorrectionMethod;
} img_dsp_dbp_correction;

/* A sensor window with its sub-sampling ratios. */
typedef struct img_dsp_vin_sensor_geo {
	uint32_t StartX;
	uint32_t StartY;
	uint32_t Width;
	uint32_t Height;
	uint8_t HSubSampleNum;
	uint8_t HSubSampleDen;
	uint8_t VSubSampleNum;
	uint8_t VSubSampleDen;
} img_dsp_vin_sensor_geo;

#define IMG_DSP_SBP_VERSION 0x20130218u

typedef struct img_dsp_calib_sbp_info {
	uint32_t Vesrion;
	uint32_t reserved0;
	uint8_t *SbpBuffer; /* the FPN map, one bit per pixel */
	img_dsp_vin_sensor_geo VinSensorGeo;
	uint8_t reserved1[12];
} img_dsp_calib_sbp_info;

typedef struct vors_img_dsp_sbp_correction_t {
	uint8_t Enb;
	uint8_t reserved[3];
	img_dsp_vin_sensor_geo CurrentVinSensorGeo;
	img_dsp_calib_sbp_info CalibSbpInfo;
} vors_img_dsp_sbp_correction_t;

typedef struct img_dsp_sbp_bypass {
	uint8_t mode; /* 0 off, 3 the FPN pixel mode */
	uint8_t reserved;
	uint16_t width;
	uint16_t height;
	uint16_t pitch;
	uint8_t *pMap;
} img_dsp_sbp_bypass;

/* The usable bytes of a context's FPN map area. */
#define IMG_DSP_FPN_MAP_SIZE 1544192u

typedef struct img_dsp_demosaic {
	uint16_t ActivityThresh;
	uint16_t ActivityDifferenceThresh;
	uint16_t GradClipThresh;
	uint16_t GradNoiseThresh;
} img_dsp_demosaic;

typedef struct img_dsp_gbgr_mismatch {
	uint8_t NarrowEnable;
	uint8_t WideEnable;
	uint16_t WideSafety;
	uint16_t WideThresh;
} img_dsp_gbgr_mismatch;

/* Per-colour arrays are red, green, blue. */
typedef struct img_dsp_cfa_noise_filter {
	uint8_t Enb;
	uint8_t reserved;
	uint16_t NoiseLevel[3];
	uint16_t OriginalBlendStr[3];
	uint16_t ExtentRegular[3];
	uint16_t ExtentFine[3];
	uint16_t StrengthFine[3];
	uint16_t SelectivityRegular;
	uint16_t SelectivityFine;
} img_dsp_cfa_noise_filter;

typedef struct img_dsp_liso_process_select {
	uint8_t Select;
	uint8_t advanced_features_enable;
} img_dsp_liso_process_select;

typedef struct img_dsp_anti_aliasing {
	uint32_t Strength;
	uint16_t Thresh;
	uint16_t LogFractionalCorrect;
} img_dsp_anti_aliasing;

typedef struct img_dsp_cfa_leakage_filter {
	uint32_t Enb;
	int8_t AlphaRR;
	int8_t AlphaRB;
	int8_t AlphaBR;
	int8_t AlphaBB;
	uint16_t SaturationLevel;
	uint16_t reserved;
} img_dsp_cfa_leakage_filter;

typedef struct img_dsp_local_exposure {
	uint8_t Enb;
	uint8_t Radius;
	uint8_t LumaWeightRed;
	uint8_t LumaWeightGreen;
	uint8_t LumaWeightBlue;
	uint8_t LumaWeightShift;
	uint16_t GainCurveTable[256];
} img_dsp_local_exposure;

typedef struct img_dsp_contrast_enhance {
	uint8_t enable;
	uint8_t low_pass_radius;
	uint8_t luma_avg_method;
	uint8_t luma_avg_weight_r;
	uint8_t luma_avg_weight_gr;
	uint8_t luma_avg_weight_gb;
	uint8_t luma_avg_weight_b;
	uint8_t fir_enable;
	uint8_t fir_coeff[3];
	uint8_t coring_index_shift;
	uint8_t coring_index_scale_low;
	uint8_t coring_index_scale_low_delta;
	uint8_t coring_index_scale_low_strength;
	uint8_t coring_index_scale_mid_strength;
	uint8_t coring_index_scale_high;
	uint8_t coring_index_scale_high_delta;
	uint8_t coring_index_scale_high_strength;
	uint8_t coring_gain_shift;
	uint8_t coring_gain_low;
	uint8_t coring_gain_low_delta;
	uint8_t coring_gain_low_strength;
	uint8_t coring_gain_mid_strength;
	uint8_t coring_gain_high;
	uint8_t coring_gain_high_delta;
	uint8_t coring_gain_high_strength;
	uint8_t coring_table[64];
	uint8_t output_enable;
	uint8_t output_shift;
	uint8_t reserved;
	uint16_t output_table[256];
} img_dsp_contrast_enhance;

typedef struct img_dsp_contrast_enhance_decimation_factor {
	uint8_t factor[3];
	uint8_t reserved[15];
} img_dsp_contrast_enhance_decimation_factor;

typedef struct img_dsp_vignette_bypass {
	uint8_t enable;
	uint8_t reserved0;
	uint16_t gain_shift;
	uint8_t reserved1[4];
	uint32_t *p_red_gain; /* 545 words each */
	uint32_t *p_green_even_gain;
	uint32_t *p_green_odd_gain;
	uint32_t *p_blue_gain;
} img_dsp_vignette_bypass;

#define IMG_DSP_VIGNETTE_VERSION 0x20130218u
#define IMG_DSP_VIGNETTE_GRID_WORDS 545u

typedef struct img_dsp_vignette_calc_info {
	uint8_t Enb;
	uint8_t GainShift;
	uint8_t Mode; /* 1 the normalised formula, else the strength blend */
	uint8_t Flip; /* bit 0: grid rows run from the bottom */
	uint32_t W;
	uint32_t Strength; /* 65536 the full calibration gain */
	img_dsp_vin_sensor_geo CurrentGeo;
	uint32_t Version;
	uint32_t GridColumns;
	uint32_t GridRows;
	img_dsp_vin_sensor_geo CalibGeo;
	uint16_t *pGrid[4]; /* red, green even, green odd, blue */
	uint8_t reserved[8];
} img_dsp_vignette_calc_info;

int vors_img_dsp_set_static_black_level(int fd, const img_dsp_mode *mode, img_dsp_static_black_level *block);
int vors_img_dsp_get_static_black_level(const img_dsp_mode *mode, img_dsp_static_black_level *out);
int vors_img_dsp_set_deferred_black_level(int fd, const img_dsp_mode *mode,
                                          img_dsp_deferred_black_level *block);
int vors_img_dsp_get_deferred_black_level(const img_dsp_mode *mode, img_dsp_deferred_black_level *out);
int vors_img_dsp_set_dgain_saturation_level(int fd, const img_dsp_mode *mode,
                                            img_dsp_dgain_saturation_level *block);
int vors_img_dsp_get_dgain_saturation_level(const img_dsp_mode *mode, img_dsp_dgain_saturation_level *out);

int vors_img_dsp_set_dynamic_bad_pixel_correction(int fd, const img_dsp_mode *mode,
                                                  img_dsp_dbp_correction *block);
int vors_img_dsp_get_dynamic_bad_pixel_correction(const img_dsp_mode *mode, img_dsp_dbp_correction *out);
int vors_img_dsp_set_static_bad_pixel_correction(int fd, const img_dsp_mode *mode,
                                                 vors_img_dsp_sbp_correction_t *block);
int vors_img_dsp_get_static_bad_pixel_correction(const img_dsp_mode *mode,
                                                 vors_img_dsp_sbp_correction_t *out);
int vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(const img_dsp_mode *mode,
                                                                const uint8_t *value);
int vors_img_dsp_set_static_bad_pixel_correction_bypass(int fd, const img_dsp_mode *mode,
                                                        img_dsp_sbp_bypass *block);

int vors_img_dsp_set_demosaic(int fd, const img_dsp_mode *mode, img_dsp_demosaic *block);
int vors_img_dsp_get_demosaic(const img_dsp_mode *mode, img_dsp_demosaic *out);
int vors_img_dsp_set_demosaic_internal(int fd, const img_dsp_mode *mode, img_dsp_demosaic_internal *block);
int vors_img_dsp_get_demosaic_internal(const img_dsp_mode *mode, img_dsp_demosaic_internal *out);
int vors_img_dsp_set_gbgr_mismatch(int fd, const img_dsp_mode *mode, img_dsp_gbgr_mismatch *block);
int vors_img_dsp_get_gbgr_mismatch(const img_dsp_mode *mode, img_dsp_gbgr_mismatch *out);
int vors_img_dsp_set_cfa_noise_filter(int fd, const img_dsp_mode *mode, img_dsp_cfa_noise_filter *block);
int vors_img_dsp_get_cfa_noise_filter(const img_dsp_mode *mode, img_dsp_cfa_noise_filter *out);
int vors_img_dsp_set_luma_processing_mode(int fd, const img_dsp_mode *mode,
                                          img_dsp_liso_process_select *block);
int vors_img_dsp_get_luma_processing_mode(const img_dsp_mode *mode, img_dsp_liso_process_select *out);

int vors_img_dsp_set_anti_aliasing(int fd, const img_dsp_mode *mode, img_dsp_anti_aliasing *block);
int vors_img_dsp_get_anti_aliasing(const img_dsp_mode *mode, img_dsp_anti_aliasing *out);
int vors_img_dsp_set_cfa_leakage_filter(int fd, const img_dsp_mode *mode, img_dsp_cfa_leakage_filter *block);
int vors_img_dsp_get_cfa_leakage_filter(const img_dsp_mode *mode, img_dsp_cfa_leakage_filter *out);

int vors_img_dsp_set_local_exposure(int fd, const img_dsp_mode *mode, img_dsp_local_exposure *block);
int vors_img_dsp_get_local_exposure(const img_dsp_mode *mode, img_dsp_local_exposure *out);
int vors_img_dsp_set_contrast_enhance(int fd, const img_dsp_mode *mode, img_dsp_contrast_enhance *block);
int vors_img_dsp_get_contrast_enhance(const img_dsp_mode *mode, img_dsp_contrast_enhance *out);
int vors_img_dsp_set_contrast_enhance_internal_setting(int fd, const img_dsp_mode *mode,
                                                       img_dsp_contrast_enhance_decimation_factor *block);

int vors_img_dsp_set_vignette_compensation_bypass(int fd, const img_dsp_mode *mode,
                                                  img_dsp_vignette_bypass *block);
int vors_img_dsp_get_vignette_compensation(const img_dsp_mode *mode, void *out);

#ifdef __cplusplus
}

static_assert(sizeof(img_dsp_deferred_black_level) == 2, "deferred black-level block");
static_assert(sizeof(img_dsp_dbp_correction) == 4, "dynamic bad-pixel block");
static_assert(sizeof(img_dsp_vin_sensor_geo) == 20, "sensor window");
static_assert(sizeof(vors_img_dsp_sbp_correction_t) == 72, "static bad-pixel block");
static_assert(offsetof(vors_img_dsp_sbp_correction_t, CalibSbpInfo) == 24, "calibration info");
static_assert(offsetof(vors_img_dsp_sbp_correction_t, CalibSbpInfo.SbpBuffer) == 32, "FPN buffer");
static_assert(offsetof(vors_img_dsp_sbp_correction_t, CalibSbpInfo.VinSensorGeo) == 40, "calibration window");
static_assert(sizeof(img_dsp_sbp_bypass) == 16, "bypass block");
static_assert(sizeof(img_dsp_demosaic) == 8, "demosaic block");
static_assert(sizeof(img_dsp_gbgr_mismatch) == 6, "GbGr block");
static_assert(sizeof(img_dsp_cfa_noise_filter) == 36, "CFA noise block");
static_assert(sizeof(img_dsp_liso_process_select) == 2, "luma processing block");
static_assert(sizeof(img_dsp_anti_aliasing) == 8, "anti-aliasing block");
static_assert(sizeof(img_dsp_cfa_leakage_filter) == 12, "leakage block");
static_assert(sizeof(img_dsp_local_exposure) == 518, "local-exposure block");
static_assert(sizeof(img_dsp_contrast_enhance) == 606, "contrast-enhancement block");
static_assert(offsetof(img_dsp_contrast_enhance, output_table) == 94, "contrast output table");
static_assert(sizeof(img_dsp_contrast_enhance_decimation_factor) == 18, "decimation block");
static_assert(sizeof(img_dsp_vignette_bypass) == 40, "vignette bypass block");
static_assert(sizeof(img_dsp_vignette_calc_info) == 104, "vignette calculation block");
#endif

#endif

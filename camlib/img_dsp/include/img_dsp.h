/*
 * Image-DSP programming library: the public surface used by the image
 * adjustment library, the camera library and the self-test program.
 *
 * Every record below is shared with callers by layout, so each carries a
 * size assertion; offsets that callers rely on are asserted in the tests.
 */
#ifndef CAMLIB_IMG_DSP_H
#define CAMLIB_IMG_DSP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of every public and core call. */
#define IMG_DSP_OK 0
#define IMG_DSP_CLAMPED 0x10000000
#define IMG_DSP_FAIL (-1)

#define DSP_IMG_CORE_ALGO_MODE_LISO 1u
#define DSP_IMG_CORE_ALGO_MODE_HISO 2u

#define DSP_IMG_CORE_CFG_STATE_NONE 0u
#define DSP_IMG_CORE_CFG_STATE_INIT 1u
#define DSP_IMG_CORE_CFG_STATE_PREEXE 2u
#define DSP_IMG_CORE_CFG_STATE_POSTEXE 3u

#define IMG_DSP_PIPE_VIDEO 0u
#define IMG_DSP_PIPE_STILL 1u
#define IMG_DSP_PIPE_DECODE 2u

#define IMG_DSP_FUNC_NO_HDR 8u
#define IMG_DSP_FUNC_CLISO 16u

#define IMG_DSP_BATCH_NONE 255u

typedef struct img_dsp_mode {
	uint32_t Pipe;
	uint32_t AlgoMode;
	uint32_t FuncMode;
	uint8_t ContextId;
	uint8_t reserved0[3];
	uint32_t BatchId;
	uint8_t ConfigId;
	uint8_t reserved1[3];
} img_dsp_mode;

typedef struct img_dsp_ctx_id {
	uint32_t Pipe;
	uint8_t Id;
	uint8_t reserved[3];
} img_dsp_ctx_id;

typedef struct img_dsp_cfg_id {
	uint32_t Pipe;
	uint8_t Id;
	uint8_t reserved[3];
} img_dsp_cfg_id;

/* Host functions supplied by the embedding program. */
typedef struct img_dsp_math_functions {
	double (*exp)(double);
	double (*sqrt)(double);
	double (*pow)(double, double);
	double (*round)(double);
} img_dsp_math_functions;

typedef struct img_dsp_mem_functions {
	void *(*malloc)(size_t);
	void (*free)(void *);
	void *(*memset)(void *, int, size_t);
	void *(*memcpy)(void *, const void *, size_t);
	int (*memcmp)(const void *, const void *, size_t);
} img_dsp_mem_functions;

typedef int (*img_dsp_ioctl_fn)(int fd, unsigned long request, void *arg);
typedef int (*img_dsp_sprintf_fn)(char *out, const char *fmt, ...);
typedef int (*img_dsp_print_fn)(const char *fmt, ...);

/* Architecture: which pipes, contexts and configurations the region holds. */
typedef struct img_dsp_pipe_info {
	uint32_t Pipe;
	uint8_t CtxNum;
	uint8_t CfgNum;
	uint8_t HdrCfgNum;
	uint8_t reserved;
} img_dsp_pipe_info;

#define IMG_DSP_MAX_PIPES 8u
#define IMG_DSP_MAX_BUF_NUM 4u

#define IMG_DSP_INIT_MODE_NORMAL 0u
#define IMG_DSP_INIT_MODE_KEEP 1u
#define IMG_DSP_INIT_MODE_CLONE 2u
#define IMG_DSP_INIT_MODE_NORMAL_VIDEO 3u

typedef struct img_dsp_arch_info {
	uint8_t InitMode;
	uint8_t reserved0[7];
	uint64_t MemAddr;
	uint32_t MemSize;
	uint32_t BufNum;
	uint32_t PipeNum;
	uint32_t reserved1;
	img_dsp_pipe_info *Pipes[IMG_DSP_MAX_PIPES];
} img_dsp_arch_info;

typedef struct img_dsp_lib_info {
	uint32_t major;
	uint32_t minor;
	uint8_t reserved[8];
	char name[64];
} img_dsp_lib_info;

typedef struct img_dsp_size_info {
	uint16_t width_in;
	uint16_t height_in;
	uint16_t main_out_width;
	uint16_t main_out_height;
	uint8_t reserved[20];
} img_dsp_size_info;

typedef struct img_dsp_cfg_status {
	void *settings;
	uint32_t *update_mask;
	uint32_t state;
	uint32_t AlgoMode;
	uint32_t zero;
	uint32_t reserved;
} img_dsp_cfg_status;

/* Filter blocks that context initialisation gives defaults. */
typedef struct img_dsp_wb_gain {
	uint32_t GainR;
	uint32_t GainG;
	uint32_t GainB;
	uint32_t AeGain;
	uint32_t GlobalDGain;
} img_dsp_wb_gain;

typedef struct img_dsp_dgain_saturation_level {
	uint32_t LevelRed;
	uint32_t LevelGreenEven;
	uint32_t LevelGreenOdd;
	uint32_t LevelBlue;
} img_dsp_dgain_saturation_level;

typedef struct img_dsp_rgb_to_yuv_matrix {
	int16_t MatrixValues[9];
	int16_t YOffset;
	int16_t UOffset;
	int16_t VOffset;
} img_dsp_rgb_to_yuv_matrix;

/* The sensor's raw output. Pattern orders every four-colour value of the
 * HDR records: 0 RGGB, 1 BGGR, 2 GRBG, 3 GBRG. */
typedef struct img_dsp_vin_sensor_info {
	uint8_t reserved0;
	uint8_t FieldFormat;
	uint8_t Resolution;
	uint8_t Pattern;
	uint8_t reserved1[8];
	uint32_t ReadoutMode;
	uint8_t Compression;
	uint8_t reserved2[3];
} img_dsp_vin_sensor_info;

typedef struct img_dsp_chroma_filter {
	uint8_t Enable;
	uint8_t NoiseLevelCb;
	uint8_t NoiseLevelCr;
	uint8_t reserved0;
	uint16_t OriginalBlendStrengthCb;
	uint16_t OriginalBlendStrengthCr;
	uint16_t Radius;
	uint8_t reserved1[4];
} img_dsp_chroma_filter;

typedef struct img_dsp_variable_range {
	uint8_t max_chroma_radius;
	uint8_t inside_fpn_flag;
	uint8_t reserved[2];
} img_dsp_variable_range;

/* Colour path: white balance, colour correction, tone curve, chroma. */
typedef struct img_dsp_color_correction_reg {
	uint64_t RegSettingAddr;
} img_dsp_color_correction_reg;

typedef struct img_dsp_color_correction {
	uint64_t MatrixThreeDTableAddr;
} img_dsp_color_correction;

typedef struct img_dsp_tone_curve {
	uint16_t ToneCurveRed[256];
	uint16_t ToneCurveGreen[256];
	uint16_t ToneCurveBlue[256];
} img_dsp_tone_curve;

typedef struct img_dsp_chroma_scale {
	uint8_t Enb;
	uint8_t reserved[3];
	uint16_t GainCurve[128];
} img_dsp_chroma_scale;

typedef struct img_dsp_chroma_median_filter {
	int32_t Enable;
	uint16_t CbAdaptiveStrength;
	uint16_t CrAdaptiveStrength;
	uint8_t CbNonAdaptiveStrength;
	uint8_t CrNonAdaptiveStrength;
	uint16_t CbAdaptiveAmount;
	uint16_t CrAdaptiveAmount;
	uint8_t reserved[2];
} img_dsp_chroma_median_filter;

#define IMG_DSP_CC_REG_SIZE 18752u
#define IMG_DSP_CC_TABLE_SIZE 17536u
/* How the nine directional 7x7 filters of a sharpen or noise stage are
 * obtained: 0 strengths (isotropic only), 1 one symmetric kernel, 2 one
 * isotropic and one directional strength, 3 per-direction strengths, 4 nine
 * custom kernels. */
typedef struct img_dsp_fir {
	uint8_t specify;
	uint8_t reserved;
	uint16_t per_dir_fir_iso_strengths[9];
	uint16_t per_dir_fir_dir_strengths[9];
	uint16_t per_dir_fir_dir_amounts[9];
	int16_t coefs[9][25];
	uint16_t strength_iso;
	uint16_t strength_dir;
} img_dsp_fir;
static_assert(sizeof(img_dsp_fir) == 510, "img_dsp_fir");
static_assert(offsetof(img_dsp_fir, per_dir_fir_dir_amounts) == 38, "img_dsp_fir amounts");
static_assert(offsetof(img_dsp_fir, coefs) == 56, "img_dsp_fir coefs");
static_assert(offsetof(img_dsp_fir, strength_iso) == 506, "img_dsp_fir strength_iso");

typedef struct img_dsp_level {
	uint8_t low;
	uint8_t low_delta;
	uint8_t low_strength;
	uint8_t mid_strength;
	uint8_t high;
	uint8_t high_delta;
	uint8_t high_strength;
} img_dsp_level;

typedef struct img_dsp_final_level {
	uint8_t low;
	uint8_t low_delta;
	uint8_t low_strength;
	uint8_t mid_strength;
	uint8_t high;
	uint8_t high_delta;
	uint8_t high_strength;
	uint8_t method;
} img_dsp_final_level;
static_assert(sizeof(img_dsp_level) == 7 && sizeof(img_dsp_final_level) == 8, "level records");

typedef struct img_dsp_sharpen_coring {
	uint8_t coring[256];
	uint8_t coring_mul_fractional_bits;
} img_dsp_sharpen_coring;

/* The first sharpen-noise stage's shared settings and its noise filter. */
typedef struct img_dsp_1st_sharpen_noise_both {
	uint8_t Enable;
	uint8_t Mode; /* 0 combines the sharpen and noise FIRs, 2 keeps them apart */
	uint16_t EdgeThresh;
	uint8_t WideEdgeDetect;
	uint8_t MaxChangeUp5x5;
	uint8_t MaxChangeDown5x5;
	uint8_t reserved;
} img_dsp_1st_sharpen_noise_both;

typedef struct img_dsp_1st_sharpen_noise_noise {
	uint8_t MaxChangeUp;
	uint8_t MaxChangeDown;
	img_dsp_fir fir;
	img_dsp_level level_str_adjust;
	uint8_t LevelStrAdjustNotT0T1LevelBased;
	uint8_t T0;
	uint8_t T1;
	uint8_t AlphaMin;
	uint8_t AlphaMax;
	uint8_t reserved[4];
} img_dsp_1st_sharpen_noise_noise;
static_assert(sizeof(img_dsp_1st_sharpen_noise_both) == 8, "first both");
static_assert(sizeof(img_dsp_1st_sharpen_noise_noise) == 528, "first noise");
static_assert(offsetof(img_dsp_1st_sharpen_noise_noise, T0) == 520, "first noise T0");

int vors_img_dsp_set_1st_sharpen_noise_both(int fd, const img_dsp_mode *mode,
                                            img_dsp_1st_sharpen_noise_both *both);
int vors_img_dsp_get_1st_sharpen_noise_both(const img_dsp_mode *mode, img_dsp_1st_sharpen_noise_both *out);
int vors_img_dsp_set_1st_sharpen_noise_noise(int fd, const img_dsp_mode *mode,
                                             img_dsp_1st_sharpen_noise_noise *noise);
int vors_img_dsp_get_1st_sharpen_noise_noise(const img_dsp_mode *mode, img_dsp_1st_sharpen_noise_noise *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(int fd, const img_dsp_mode *mode, img_dsp_fir *fir);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_fir(const img_dsp_mode *mode, img_dsp_fir *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_coring(int fd, const img_dsp_mode *mode,
                                                      img_dsp_sharpen_coring *coring);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_coring(const img_dsp_mode *mode, img_dsp_sharpen_coring *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_min_coring_result(int fd, const img_dsp_mode *mode,
                                                                 img_dsp_level *level);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_min_coring_result(const img_dsp_mode *mode,
                                                                 img_dsp_level *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_max_coring_result(int fd, const img_dsp_mode *mode,
                                                                 img_dsp_level *level);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_max_coring_result(const img_dsp_mode *mode,
                                                                 img_dsp_level *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_coring_index_scale(int fd, const img_dsp_mode *mode,
                                                                  img_dsp_level *level);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_coring_index_scale(const img_dsp_mode *mode,
                                                                  img_dsp_level *out);
int vors_img_dsp_set_1st_sharpen_noise_sharpen_scale_coring(int fd, const img_dsp_mode *mode,
                                                            img_dsp_level *level);
int vors_img_dsp_get_1st_sharpen_noise_sharpen_scale_coring(const img_dsp_mode *mode, img_dsp_level *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_fir(int fd, const img_dsp_mode *mode, img_dsp_fir *fir);
int vors_img_dsp_get_final_sharpen_noise_sharpen_fir(const img_dsp_mode *mode, img_dsp_fir *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_coring(int fd, const img_dsp_mode *mode,
                                                        img_dsp_sharpen_coring *coring);
int vors_img_dsp_get_final_sharpen_noise_sharpen_coring(const img_dsp_mode *mode,
                                                        img_dsp_sharpen_coring *out);

/* The final sharpen-noise stage's shared settings, with the 3-D table the
 * DSP addresses through the three_d_* fields. */
typedef struct img_dsp_final_sharpen_noise_both {
	uint8_t enable;
	uint8_t mode; /* 0 or 2, as in the first stage */
	uint16_t edge_thresh;
	uint8_t wide_edge_detect;
	uint8_t max_change_up5x5;
	uint8_t max_change_down5x5;
	uint8_t three_d_u_bits;
	uint8_t three_d_u_offset;
	uint8_t three_d_u_shift;
	uint8_t three_d_v_bits;
	uint8_t three_d_v_offset;
	uint8_t three_d_v_shift;
	uint8_t three_d_y_offset;
	uint8_t three_d_y_shift;
	uint8_t max_change_up;
	uint8_t max_change_down;
	uint8_t reserved[7];
	uint64_t three_d_table; /* address of IMG_DSP_THREE_D_TABLE_SIZE bytes, or 0 */
} img_dsp_final_sharpen_noise_both;
#define IMG_DSP_THREE_D_TABLE_SIZE 4096u

typedef struct img_dsp_final_sharpen_noise_noise {
	uint8_t max_change_up;
	uint8_t max_change_down;
	img_dsp_fir fir;
	img_dsp_level level_str_adjust;
	uint8_t level_str_adjust_method;
	uint8_t level_str_adjust_not_t0_t1_level_based;
	uint8_t t0;
	uint8_t t1;
	uint8_t alpha_min;
	uint8_t alpha_max;
	uint8_t reserved;
} img_dsp_final_sharpen_noise_noise;
static_assert(sizeof(img_dsp_final_sharpen_noise_both) == 32, "final both");
static_assert(offsetof(img_dsp_final_sharpen_noise_both, max_change_down) == 16, "final both limits");
static_assert(offsetof(img_dsp_final_sharpen_noise_both, three_d_table) == 24, "final both table");
static_assert(sizeof(img_dsp_final_sharpen_noise_noise) == 526, "final noise");
static_assert(offsetof(img_dsp_final_sharpen_noise_noise, level_str_adjust_method) == 519,
              "final noise method");
static_assert(offsetof(img_dsp_final_sharpen_noise_noise, alpha_max) == 524, "final noise alphas");

int vors_img_dsp_set_final_sharpen_noise_both(int fd, const img_dsp_mode *mode,
                                              img_dsp_final_sharpen_noise_both *both);
int vors_img_dsp_get_final_sharpen_noise_both(const img_dsp_mode *mode,
                                              img_dsp_final_sharpen_noise_both *out);
int vors_img_dsp_set_final_sharpen_noise_noise(int fd, const img_dsp_mode *mode,
                                               img_dsp_final_sharpen_noise_noise *noise);
int vors_img_dsp_get_final_sharpen_noise_noise(const img_dsp_mode *mode,
                                               img_dsp_final_sharpen_noise_noise *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_min_coring_result(int fd, const img_dsp_mode *mode,
                                                                   img_dsp_final_level *level);
int vors_img_dsp_get_final_sharpen_noise_sharpen_min_coring_result(const img_dsp_mode *mode,
                                                                   img_dsp_final_level *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_max_coring_result(int fd, const img_dsp_mode *mode,
                                                                   img_dsp_final_level *level);
int vors_img_dsp_get_final_sharpen_noise_sharpen_max_coring_result(const img_dsp_mode *mode,
                                                                   img_dsp_final_level *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_coring_index_scale(int fd, const img_dsp_mode *mode,
                                                                    img_dsp_final_level *level);
int vors_img_dsp_get_final_sharpen_noise_sharpen_coring_index_scale(const img_dsp_mode *mode,
                                                                    img_dsp_final_level *out);
int vors_img_dsp_set_final_sharpen_noise_sharpen_scale_coring(int fd, const img_dsp_mode *mode,
                                                              img_dsp_final_level *level);
int vors_img_dsp_get_final_sharpen_noise_sharpen_scale_coring(const img_dsp_mode *mode,
                                                              img_dsp_final_level *out);

/* The adaptive directional filter that stands in for the first sharpen
 * stage: nine directional FIRs, a direction decision, blending curves for
 * upward and downward changes (or change limits) and two level curves. */
typedef struct img_dsp_asf_adapt {
	uint8_t AlphaMinUp;
	uint8_t AlphaMaxUp;
	uint8_t T0Up;
	uint8_t T1Up;
	uint8_t AlphaMinDown;
	uint8_t AlphaMaxDown;
	uint8_t T0Down;
	uint8_t T1Down;
} img_dsp_asf_adapt;

typedef struct img_dsp_advance_spatial_filter {
	uint8_t Enable;
	uint8_t reserved0;
	img_dsp_fir Fir;
	uint8_t wide_edge_detect;
	uint8_t reserved1;
	uint8_t DirectionalDecideT0;
	uint8_t DirectionalDecideT1;
	img_dsp_asf_adapt Adapt;
	img_dsp_level LevelStrAdjust;
	img_dsp_level T0T1Div;
	uint8_t MaxChangeNotT0T1LevelBased; /* non-zero: blend from the change limits */
	uint8_t MaxChangeUp;
	uint8_t MaxChangeDown;
	uint8_t reserved2;
} img_dsp_advance_spatial_filter;
static_assert(sizeof(img_dsp_advance_spatial_filter) == 542, "img_dsp_advance_spatial_filter");
static_assert(offsetof(img_dsp_advance_spatial_filter, Adapt) == 516, "asf adapt");
static_assert(offsetof(img_dsp_advance_spatial_filter, MaxChangeNotT0T1LevelBased) == 538, "asf limits");

int vors_img_dsp_set_advance_spatial_filter(int fd, const img_dsp_mode *mode,
                                            img_dsp_advance_spatial_filter *asf);
int vors_img_dsp_get_advance_spatial_filter(const img_dsp_mode *mode, img_dsp_advance_spatial_filter *out);

typedef struct img_dsp_demosaic_internal {
	uint8_t enable;
	uint8_t reserved[3];
} img_dsp_demosaic_internal;

typedef struct img_dsp_hdr_alpha_calc_thresh {
	uint16_t saturation_threshold[4];
} img_dsp_hdr_alpha_calc_thresh;

/* HDR blending: the number of blends, then per blend step the alpha
 * calculation. Four-colour fields are in R, Gr, Gb, B order. */
typedef struct img_dsp_hdr_blending_info {
	uint8_t max_blending_number;
	uint8_t reserved[3];
} img_dsp_hdr_blending_info;

typedef struct img_dsp_hdr_alpha_calc_cfg {
	uint8_t avg_radius;
	uint8_t avg_method;
	int8_t blend_control; /* 0..7 built-in ramps; -1 zeros, 8 all 15, -2 the caller's table */
	uint8_t reserved;
	uint8_t luma_avg_weight_r;
	uint8_t luma_avg_weight_gr;
	uint8_t luma_avg_weight_gb;
	uint8_t luma_avg_weight_b;
} img_dsp_hdr_alpha_calc_cfg;

typedef struct img_dsp_hdr_alpha_calc_black_level {
	int16_t BlackR;
	int16_t BlackGr;
	int16_t BlackGb;
	int16_t BlackB;
} img_dsp_hdr_alpha_calc_black_level;

#define IMG_DSP_HDR_ALPHA_TABLE_SIZE 128u

/* HDR exposure inputs, per exposure 0..3 unless named otherwise. */
typedef struct img_dsp_static_black_level {
	int16_t BlackR;
	int16_t BlackGr;
	int16_t BlackGb;
	int16_t BlackB;
} img_dsp_static_black_level;

/* An exposure's amplifier linearisation: 353 u16 outputs, one per point
 * of the DSP's input grid. */
typedef struct img_dsp_amp_linearization {
	uint32_t amplinear_ena; /* 0..1 */
	uint32_t reserved;
	uint64_t lut_addr;
} img_dsp_amp_linearization;

#define IMG_DSP_AMP_LINEAR_ENTRIES 353u

typedef struct img_dsp_amp_linearization_blend {
	uint8_t alpha_index_threshold; /* 0..16 */
	uint8_t reserved[3];
} img_dsp_amp_linearization_blend;

typedef struct img_dsp_hdr_dgain_saturation_level {
	uint32_t pre_level_red;
	uint32_t pre_level_green_even;
	uint32_t pre_level_green_odd;
	uint32_t pre_level_blue;
	uint32_t post_level_red;
	uint32_t post_level_green_even;
	uint32_t post_level_green_odd;
	uint32_t post_level_blue;
} img_dsp_hdr_dgain_saturation_level;

/* Gains in 12.12 fixed point (4096 = 1.0). */
typedef struct img_dsp_front_end_wb_gain {
	uint32_t r_gain;
	uint32_t g_gain;
	uint32_t b_gain;
} img_dsp_front_end_wb_gain;

typedef struct img_dsp_hdr_raw_offset {
	int32_t x_offset[4];
	int32_t y_offset[4];
} img_dsp_hdr_raw_offset;

/* RGB-IR sensors: the IR correction and its internal saturation control. */
typedef struct img_dsp_rgb_ir {
	uint8_t mode; /* 0 none, 1..2 */
	uint8_t reserved;
	uint16_t fractional_correct; /* 0..512, 256 the break point */
} img_dsp_rgb_ir;

typedef struct img_dsp_rgb_ir_internal {
	uint16_t saturation_cntrl; /* 0..16383, 0 the default 2000 */
	uint8_t reserved[2];
} img_dsp_rgb_ir_internal;

/* The alpha table: 14 rows of 9 four-bit alphas, row by row. */
typedef struct img_dsp_hdr_alpha_calc_alpha {
	uint8_t pre_alpha_mode;
	uint8_t reserved0[7];
	uint64_t alpha_table_addr; /* 0: a table of zeros */
	uint8_t saturation_num_nei;
	uint8_t reserved1[7];
} img_dsp_hdr_alpha_calc_alpha;

typedef struct img_dsp_ae_tile_cfg {
	uint16_t num_col, num_row, col_start, row_start, width, height;
	uint16_t pix_min_value, pix_max_value;
} img_dsp_ae_tile_cfg;

typedef struct img_dsp_awb_tile_cfg {
	uint16_t num_col, num_row, col_start, row_start, width, height;
	uint16_t active_width, active_height;
	uint32_t pix_min_value, pix_max_value;
} img_dsp_awb_tile_cfg;

typedef struct img_dsp_af_tile_cfg {
	uint16_t num_col, num_row, col_start, row_start, width, height;
	uint16_t active_width, active_height;
} img_dsp_af_tile_cfg;

/* Stored statistics information: the AWB record's first 16 bytes, its pixel
 * limits narrowed to 16 bits, then the AE and AF records. */
typedef struct img_dsp_aaa_stat_info {
	uint16_t awb_num_col, awb_num_row, awb_col_start, awb_row_start;
	uint16_t awb_width, awb_height, awb_active_width, awb_active_height;
	uint16_t awb_pix_min_value, awb_pix_max_value;
	img_dsp_ae_tile_cfg ae;
	img_dsp_af_tile_cfg af;
} img_dsp_aaa_stat_info;

/* Blocks of the pseudo-Y, histogram and early white-balance set-up. */
typedef struct img_dsp_3a_pseudo_y {
	uint32_t mode;
	uint32_t sum_shift;
	uint8_t pixel_weight[4];
	uint8_t tone_curve[32];
} img_dsp_3a_pseudo_y;

typedef struct img_dsp_3a_histogram {
	uint16_t mode;
	uint16_t histogram_select;
	uint16_t ae_file_mask[8];
} img_dsp_3a_histogram;

typedef struct img_dsp_3a_early_wb_gain {
	uint32_t red_multiplier;
	uint32_t green_multiplier_even;
	uint32_t green_multiplier_odd;
	uint32_t blue_multiplier;
	uint8_t enable_ae_wb_gain;
	uint8_t enable_af_wb_gain;
	uint8_t enable_histogram_wb_gain;
	uint8_t reserved;
	uint32_t red_wb_multiplier;
	uint32_t green_wb_multiplier_even;
	uint32_t green_wb_multiplier_odd;
	uint32_t blue_wb_multiplier;
} img_dsp_3a_early_wb_gain;

/* Extended AF statistics: two horizontal band-pass filters and the focus
 * values' scaling per tile. */
typedef struct img_dsp_af_filter_ex {
	uint8_t mode; /* low 4 bits used */
	uint8_t stage1_enb;
	uint8_t stage2_enb;
	uint8_t stage3_enb;
	int16_t gain[7];
	uint16_t shift[4];
	uint16_t bias_off;
	uint16_t horizontal_thresh;
	uint16_t vertical_thresh;
} img_dsp_af_filter_ex;

typedef struct img_dsp_af_tile_fv {
	uint16_t horizontal_shift;
	uint16_t vertical_shift;
	uint16_t horizontal_weight;
	uint16_t vertical_weight;
} img_dsp_af_tile_fv;

typedef struct img_dsp_af_statistics_ex {
	img_dsp_af_filter_ex filter1;
	img_dsp_af_filter_ex filter2;
	img_dsp_af_tile_fv tile_fv1;
	img_dsp_af_tile_fv tile_fv2;
} img_dsp_af_statistics_ex;
static_assert(sizeof(img_dsp_af_filter_ex) == 32, "img_dsp_af_filter_ex");
static_assert(offsetof(img_dsp_af_filter_ex, bias_off) == 26, "img_dsp_af_filter_ex bias");
static_assert(offsetof(img_dsp_af_filter_ex, vertical_thresh) == 30, "img_dsp_af_filter_ex thresholds");
static_assert(offsetof(img_dsp_af_statistics_ex, tile_fv1) == 64, "img_dsp_af_statistics_ex tiles");
static_assert(sizeof(img_dsp_af_statistics_ex) == 80, "img_dsp_af_statistics_ex");

/* The caller's statistics descriptor: eight addresses. Word 2 names the
 * sensor-histogram buffer, word 6 the byte that says it holds data. */
typedef struct img_dsp_3a_stat_desc {
	uint64_t d[8];
} img_dsp_3a_stat_desc;

/* The sensor-histogram buffer: one block per channel, each a data half and
 * a scratch half. */
#define IMG_DSP_SENSOR_HIST_HALF 8320u
#define IMG_DSP_SENSOR_HIST_BLOCK (2u * IMG_DSP_SENSOR_HIST_HALF)
#define IMG_DSP_SENSOR_HIST_BLOCKS 4u

/* Debug facilities: the writer receives each piece of a log record; the tag
 * points to a u32 holding the context id. */
typedef void (*img_dsp_debug_log_writer)(const void *data, uint32_t size, const void *tag);

#define IMG_DSP_LOG_ID_NUM 73u

/* Debug flags: print the caller, print the mode and fields, write records,
 * leave the large tables out of the settings dump. */
#define IMG_DSP_DEBUG_PRINT_CALLER 1u
#define IMG_DSP_DEBUG_PRINT_FIELDS 2u
#define IMG_DSP_DEBUG_WRITE_LOG 4u
#define IMG_DSP_DEBUG_NO_TABLES 8u

#define IMG_DSP_DEBUG_MODE_SIZE 12u

/* The record of the core debug-mode checks: a pipe and an AlgoMode first. */
typedef struct img_dsp_core_debug_mode {
	uint32_t Pipe;
	uint32_t AlgoMode;
	uint8_t mode[IMG_DSP_DEBUG_MODE_SIZE];
} img_dsp_core_debug_mode;

/* Registration of host functions. */
void vors_img_dsp_register_math_functions(const img_dsp_math_functions *fns);
void vors_img_dsp_register_mem_functions(const img_dsp_mem_functions *fns);
void vors_img_dsp_register_ioctl(img_dsp_ioctl_fn fn);
void vors_img_dsp_register_sprintf(img_dsp_sprintf_fn fn);
void vors_img_dsp_register_print(img_dsp_print_fn fn);

/* Architecture memory. */
int32_t vors_img_dsp_query_arch_mem_size(const img_dsp_arch_info *arch);
int vors_img_dsp_set_mem_addr(uint64_t user_base, uint64_t phys_base, uint32_t size);
int vors_img_dsp_init_arch(const img_dsp_arch_info *arch);
int vors_img_dsp_deinit_arch(void);

/* Contexts and configurations. */
int vors_img_dsp_init_ctx(uint8_t defblc_enable, const img_dsp_ctx_id *ctx, const img_dsp_ctx_id *src);
int vors_img_dsp_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode);
int vors_img_dsp_clone_iso_cfg(const img_dsp_cfg_id *dst, const img_dsp_cfg_id *src);
int vors_img_dsp_pre_exe_cfg(const img_dsp_mode *mode);
int vors_img_dsp_post_exe_cfg(int fd, const img_dsp_mode *mode);
int vors_img_dsp_get_cfg_status(const img_dsp_cfg_id *cfg, img_dsp_cfg_status *out);
/* 1 when something was stored into the context since its last posted
 * configuration took it (update flags pending), 0 when not; -1 for a pipe
 * other than video or still, or no such context. */
int vors_img_dsp_ctx_update_pending(uint32_t pipe, uint8_t ctx_id);
int vors_img_dsp_print_hdr_cfg(const img_dsp_cfg_id *cfg);
int vors_img_dsp_get_context_tbl_idx(uint32_t ignored, const img_dsp_ctx_id *ctx, uint32_t *out);
int vors_img_dsp_get_lib_info(img_dsp_lib_info *out);
int vors_img_dsp_set_iso_cfg_tag(const img_dsp_mode *mode, uint32_t tag);
int vors_img_dsp_set_diag_case_id(const img_dsp_mode *mode, uint8_t id);
int vors_img_dsp_set_size_info(const img_dsp_mode *mode, const img_dsp_size_info *info);
int vors_img_dsp_hdr_cfg_use_physical_tbl_addr(const img_dsp_mode *mode);
int vors_img_dsp_hdr_cfg_use_virtual_tbl_addr(const img_dsp_mode *mode);
int vors_img_dsp_print_config_update_history(const img_dsp_mode *mode);
void img_dsp_print_mode(const img_dsp_mode *mode);

/* 3A statistics set-up and fetch. */
int vors_img_dsp_3a_config_aaa_stat(int fd, uint32_t on, const img_dsp_mode *mode,
                                    const img_dsp_ae_tile_cfg *ae, const img_dsp_awb_tile_cfg *awb,
                                    const img_dsp_af_tile_cfg *af);
int vors_img_dsp_3a_set_aaa_stat_info(int fd, const img_dsp_mode *mode);
int vors_img_dsp_3a_get_aaa_stat_pix_value(uint16_t *ae_min, uint16_t *ae_max, uint32_t *awb_min,
                                           uint32_t *awb_max);
int vors_img_dsp_set_3a_pseudo_y(int fd, const img_dsp_mode *mode, const img_dsp_3a_pseudo_y *block);
int vors_img_dsp_get_3a_pseudo_y(const img_dsp_mode *mode, img_dsp_3a_pseudo_y *out);
int vors_img_dsp_set_3a_histogram(int fd, const img_dsp_mode *mode, const img_dsp_3a_histogram *block);
int vors_img_dsp_get_3a_histogram(const img_dsp_mode *mode, img_dsp_3a_histogram *out);
int vors_img_dsp_set_3a_early_wb_gain(int fd, const img_dsp_mode *mode,
                                      const img_dsp_3a_early_wb_gain *block);
int vors_img_dsp_get_3a_early_wb_gain(const img_dsp_mode *mode, img_dsp_3a_early_wb_gain *out);
int vors_img_dsp_set_af_statistics_ex(int fd, const img_dsp_mode *mode,
                                      const img_dsp_af_statistics_ex *block);
int vors_img_dsp_get_af_statistics_ex(const img_dsp_mode *mode, img_dsp_af_statistics_ex *out);
int vors_img_dsp_3a_get_aaa_stat(int fd, uint32_t ignored, img_dsp_3a_stat_desc *desc);
int vors_img_dsp_3a_unpack_sensor_hist_data(const void *src, uint16_t pitch, uint16_t *out, uint16_t width,
                                            uint16_t height);

/* Configuration printers and tuning-data tools: debug aids that nothing in
 * the system calls. The tables and the DSP's debug buffers are written into
 * "/mnt" (under VISTRAD_ROOT when it is set); other paths are the caller's. */
int vors_img_dsp_low_iso_print_cfg(const img_dsp_mode *mode);
int vors_img_dsp_low_iso_amalgam_data_dump(const img_dsp_mode *mode, const char *file);
int vors_img_dsp_low_iso_amalgam_data_separate(const char *prefix);
int vors_img_dsp_adv_low_iso_amalgam_data_separate(const char *prefix);
int parse_adv_isocfg(const char *path);
int parse_mctf(const char *path);
int parse_final_sharp(const char *path);

/* Colour path. */
int vors_img_dsp_set_wb_gain(int fd, const img_dsp_mode *mode, img_dsp_wb_gain *block);
int vors_img_dsp_get_wb_gain(const img_dsp_mode *mode, img_dsp_wb_gain *out);
int vors_img_dsp_set_color_correction_reg(const img_dsp_mode *mode, img_dsp_color_correction_reg *block);
int vors_img_dsp_get_color_correction_reg(const img_dsp_mode *mode, img_dsp_color_correction_reg *out);
int vors_img_dsp_set_tone_curve(int fd, const img_dsp_mode *mode, img_dsp_tone_curve *block);
int vors_img_dsp_get_tone_curve(const img_dsp_mode *mode, img_dsp_tone_curve *out);
int vors_img_dsp_set_color_correction(int fd, const img_dsp_mode *mode, img_dsp_color_correction *block);
int vors_img_dsp_get_color_correction(const img_dsp_mode *mode, img_dsp_color_correction *out);
int vors_img_dsp_set_chroma_median_filter(int fd, const img_dsp_mode *mode,
                                          img_dsp_chroma_median_filter *block);
int vors_img_dsp_get_chroma_median_filter(const img_dsp_mode *mode, img_dsp_chroma_median_filter *out);
int vors_img_dsp_set_variable_range(const img_dsp_mode *mode, img_dsp_variable_range *block);
int vors_img_dsp_set_chroma_filter(int fd, const img_dsp_mode *mode, img_dsp_chroma_filter *block);
int vors_img_dsp_get_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *out);
int vors_img_dsp_set_chroma_scale(int fd, const img_dsp_mode *mode, img_dsp_chroma_scale *block);
int vors_img_dsp_get_chroma_scale(const img_dsp_mode *mode, img_dsp_chroma_scale *out);
/* RGB-to-YUV matrix and sensor information. The matrix setter corrects
 * the caller's block in place. */
int vors_img_dsp_set_rgb_to_yuv_matrix(int fd, const img_dsp_mode *mode, img_dsp_rgb_to_yuv_matrix *block);
int vors_img_dsp_get_rgb_to_yuv_matrix(const img_dsp_mode *mode, img_dsp_rgb_to_yuv_matrix *out);
int vors_img_dsp_set_vin_sensor_info(const img_dsp_mode *mode, img_dsp_vin_sensor_info *block);
int vors_img_dsp_get_vin_sensor_info(const img_dsp_mode *mode, img_dsp_vin_sensor_info *out);

/* HDR blending; blending_index is the blend step, 0..max_blending_number-1. */
int vors_img_dsp_set_hdr_blending_info(int fd, const img_dsp_mode *mode, img_dsp_hdr_blending_info *block);
int vors_img_dsp_get_hdr_blending_info(const img_dsp_mode *mode, img_dsp_hdr_blending_info *out);
int vors_img_dsp_set_hdr_alpha_calc_cfg(int fd, const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_cfg *block,
                                        int32_t blending_index);
int vors_img_dsp_get_hdr_alpha_calc_cfg(const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_cfg *out,
                                        int32_t blending_index);
int vors_img_dsp_set_hdr_alpha_calc_thresh(int fd, const img_dsp_mode *mode,
                                           img_dsp_hdr_alpha_calc_thresh *block, int32_t blending_index);
int vors_img_dsp_get_hdr_alpha_calc_thresh(const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_thresh *out,
                                           int32_t blending_index);
int vors_img_dsp_set_hds_alpha_calc_thresh(int fd, const img_dsp_mode *mode,
                                           img_dsp_hdr_alpha_calc_thresh *block, int32_t blending_index);
int vors_img_dsp_set_hdr_alpha_calc_black_level(int fd, const img_dsp_mode *mode,
                                                img_dsp_hdr_alpha_calc_black_level *block,
                                                int32_t blending_index);
int vors_img_dsp_get_hdr_alpha_calc_black_level(const img_dsp_mode *mode,
                                                img_dsp_hdr_alpha_calc_black_level *out,
                                                int32_t blending_index);
int vors_img_dsp_set_hdr_alpha_calc_alpha(int fd, const img_dsp_mode *mode,
                                          img_dsp_hdr_alpha_calc_alpha *block, int32_t blending_index);
int vors_img_dsp_get_hdr_alpha_calc_alpha(const img_dsp_mode *mode, img_dsp_hdr_alpha_calc_alpha *out,
                                          int32_t blending_index);

/* HDR exposure inputs. */
int vors_img_dsp_set_hdr_static_black_level(int fd, const img_dsp_mode *mode,
                                            img_dsp_static_black_level *block, int32_t exposure_index);
int vors_img_dsp_set_amp_linearization_static_black_level(int fd, const img_dsp_mode *mode,
                                                          img_dsp_static_black_level *block,
                                                          int32_t exposure_index);
int vors_img_dsp_set_hdr_blend_static_black_level(int fd, const img_dsp_mode *mode,
                                                  img_dsp_static_black_level *block, int32_t blending_index);
int vors_img_dsp_set_amp_linearization_blend(int fd, const img_dsp_mode *mode,
                                             img_dsp_amp_linearization_blend *block, int32_t blending_index);
int vors_img_dsp_get_amp_linearization_blend(const img_dsp_mode *mode, img_dsp_amp_linearization_blend *out,
                                             int32_t blending_index);
int vors_img_dsp_set_amp_linearization(int fd, const img_dsp_mode *mode, img_dsp_amp_linearization *block,
                                       int32_t exposure_index);
int vors_img_dsp_get_amp_linearization(const img_dsp_mode *mode, img_dsp_amp_linearization *out,
                                       int32_t exposure_index);
int vors_img_dsp_set_amp_linearization_hds(int fd, const img_dsp_mode *mode, img_dsp_amp_linearization *block,
                                           int32_t exposure_index);
int vors_img_dsp_get_amp_linearization_hds(const img_dsp_mode *mode, img_dsp_amp_linearization *out,
                                           int32_t exposure_index);
int vors_img_dsp_set_hdr_dgain_saturation_level(int fd, const img_dsp_mode *mode,
                                                img_dsp_hdr_dgain_saturation_level *block,
                                                int32_t exposure_index);
int vors_img_dsp_get_hdr_dgain_saturation_level(const img_dsp_mode *mode,
                                                img_dsp_hdr_dgain_saturation_level *out,
                                                int32_t exposure_index);
int vors_img_dsp_set_front_end_wb_gain(int fd, const img_dsp_mode *mode, img_dsp_front_end_wb_gain *block,
                                       int32_t exposure_index);
int vors_img_dsp_get_front_end_wb_gain(const img_dsp_mode *mode, img_dsp_front_end_wb_gain *out,
                                       int32_t exposure_index);
int vors_img_dsp_set_hdr_raw_offset(int fd, const img_dsp_mode *mode, img_dsp_hdr_raw_offset *block);
int vors_img_dsp_get_hdr_raw_offset(const img_dsp_mode *mode, img_dsp_hdr_raw_offset *out);

/* Builds the context's HDR configuration ConfigId and posts it. */
int vors_img_dsp_set_hdr_video_post_proc(int fd, const img_dsp_mode *mode);

/* RGB-IR sensors. */
int vors_img_dsp_set_rgb_ir(int fd, const img_dsp_mode *mode, img_dsp_rgb_ir *block);
int vors_img_dsp_get_rgb_ir(const img_dsp_mode *mode, img_dsp_rgb_ir *out);
int vors_img_dsp_set_rgb_ir_internal(int fd, const img_dsp_mode *mode, img_dsp_rgb_ir_internal *block);
int vors_img_dsp_get_rgb_ir_internal(const img_dsp_mode *mode, img_dsp_rgb_ir_internal *out);
/* Splits a sensor driver's Bayer code (0..11) into pattern and IR mode. */
int vors_img_dsp_get_rgb_ir_bayer_pattern(uint32_t code, uint8_t *pattern, uint8_t *ir_mode);
/* The defect maps of an RGB-IR sensor from an ordinary one (NULL: none):
 * one bit a pixel, rows of ((width + 7) / 8 + 31) & ~31 bytes; the IR map
 * has height / 2 rows. */
int vors_img_dsp_generate_ir_format_sbp_table(uint32_t pattern, uint32_t ir_mode, uint32_t width,
                                              uint32_t height, const uint8_t *sensor_map, uint8_t *main_out,
                                              uint8_t *ir_out);

/* Debug facilities. */
int vors_img_dsp_register_debug_log_writer(img_dsp_debug_log_writer fn);
void vors_img_dsp_set_debug_log_enables(const uint8_t *enables);
void vors_img_dsp_set_debug_log_id(uint32_t id, uint8_t enable);
uint8_t *vors_img_dsp_enable_post_execute_log(void);
int vors_img_dsp_set_debug_mode(const img_dsp_mode *mode, const uint8_t *debug_mode);
int vors_img_dsp_get_debug_mode(const img_dsp_mode *mode, uint8_t *out);
int VorsDSP_ImgCoreSetDebugMode(const img_dsp_core_debug_mode *rec);
int VorsDSP_ImgCoreGetDebugMode(const img_dsp_core_debug_mode *rec);

#ifdef __cplusplus
}
#endif

#endif

/*
 * The low-ISO configuration as the DSP reads it from the mapped region. This
 * is a hardware format: every offset and width below is asserted, and bit
 * fields are kept as plain words with named masks so the layout never
 * depends on how the compiler packs bit fields.
 */
#ifndef CAMLIB_IMG_DSP_IK_LISO_LAYOUT_H
#define CAMLIB_IMG_DSP_IK_LISO_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#define IK_CMD_SLOT_SIZE 128u

/* DSP command codes. */
#define IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET 0x09002001u
#define IK_CMD_CA_WARP_CONTROL 0x09005009u
#define IK_CMD_CE_VERTICAL_DECIMATION 0x0900200fu
#define IK_CMD_CE_LUMA_AVG_WEIGHT 0x09002010u
#define IK_CMD_CE_LUMA_BLACK_LEVEL 0x09002011u
#define IK_CMD_CE_UPSAMPLING 0x09002012u
#define IK_CMD_CE_FIR_CONFIG 0x09002013u
#define IK_CMD_CE_CORING_CONFIG 0x09002014u
#define IK_CMD_CE_OUTPUT_TABLE 0x09002015u
#define IK_CMD_AAA_STATISTICS_SETUP 0x09004001u
#define IK_CMD_AAA_PSEUDO_Y_SETUP 0x09004002u
#define IK_CMD_AAA_HISTORGRAM_SETUP 0x09004003u
#define IK_CMD_AAA_STATISTICS_SETUP1 0x09004004u
#define IK_CMD_AAA_STATISTICS_SETUP2 0x09004005u
#define IK_CMD_AAA_EARLY_WB_GAIN 0x09004007u
#define IK_CMD_PROCESS_IDSP_BATCH 0x09006004u
#define IK_CMD_AMPLIFIER_LINEARIZATION 0x09001003u
#define IK_CMD_DGAIN_VIGNETTE_COMPENSATION 0x09002016u
#define IK_CMD_HDR_PREBLEND_ALPHA 0x0900500Fu
#define IK_CMD_BLACK_LEVEL_AMPLINEAR_HDR 0x0900200Du
#define IK_CMD_DGAIN_VIGNETTE_DIGITAL_GAIN 0x09002019u

/* share (main part offset 0, 56 bytes). */
typedef struct ik_liso_share {
	uint32_t iso_config_tag;
	uint8_t iso_mode;
	uint8_t adv_mode;
	uint8_t diag_case_id;
	uint8_t channel_id;
	uint8_t debug_step_id;
	uint8_t debug_mode; /* bits 0-6 debug_mode, bit 7 break_mode */
	uint8_t debug_tile_x;
	uint8_t debug_tile_y;
	uint32_t debug_pic_num;
	uint32_t debug_config_addr;
	uint32_t debug_addr[2];
	uint16_t debug_pitch[2];
	uint16_t debug_width[2];
	uint16_t debug_height[2];
	uint8_t reserved[16];
} ik_liso_share;

#define IK_ADV_MODE_BASIC 0u
#define IK_ADV_MODE_ADVANCED 4u

typedef struct ik_geo_warp_control {
	uint32_t cmd_code;
	uint32_t warp_control;
	uint32_t warp_horizontal_table_address;
	uint32_t warp_vertical_table_address;
	uint32_t actual_left_top_x;
	uint32_t actual_left_top_y;
	uint32_t actual_right_bot_x;
	uint32_t actual_right_bot_y;
	uint32_t zoom_x;
	uint32_t zoom_y;
	uint16_t main_out_x;
	uint16_t main_out_y;
	uint8_t reserved0[4];
	uint8_t grid_array_width;
	uint8_t grid_array_height;
	uint8_t horz_grid_spacing_exponent;
	uint8_t vert_grid_spacing_exponent;
	uint8_t vert_warp_enable;
	uint8_t vert_warp_grid_array_width;
	uint8_t vert_warp_grid_array_height;
	uint8_t vert_warp_horz_grid_spacing_exponent;
	uint8_t vert_warp_vert_grid_spacing_exponent;
	uint8_t force_v4tap_disable;
	uint8_t reserved1[2];
	uint32_t hor_skew_phase_inc;
	uint16_t dummy_window_x_left;
	uint16_t dummy_window_y_top;
	uint16_t dummy_window_width;
	uint16_t dummy_window_height;
	uint16_t cfa_output_width;
	uint16_t cfa_output_height;
	uint32_t extra_sec2_vert_out_vid_mode;
} ik_geo_warp_control;

typedef struct ik_ca_warp_control {
	uint32_t cmd_code;
	uint16_t horz_warp_enable;
	uint16_t vert_warp_enable;
	uint8_t horz_pass_grid_array_width;
	uint8_t horz_pass_grid_array_height;
	uint8_t horz_pass_horz_grid_spacing_exponent;
	uint8_t horz_pass_vert_grid_spacing_exponent;
	uint8_t vert_pass_grid_array_width;
	uint8_t vert_pass_grid_array_height;
	uint8_t vert_pass_horz_grid_spacing_exponent;
	uint8_t vert_pass_vert_grid_spacing_exponent;
	uint32_t warp_horizontal_table_addr_red;
	uint32_t warp_horizontal_table_addr_blue;
	uint32_t warp_vertical_table_addr_red;
	uint32_t warp_vertical_table_addr_blue;
} ik_ca_warp_control;

/* common (main part offset 56, 132 bytes). */
typedef struct ik_liso_common {
	uint32_t word0; /* use and update bits, vignette_gain_shift in bits 15-18 */
	uint32_t vignette_gain;
	ik_ca_warp_control ca_warp_control;
	ik_geo_warp_control geo_warp_control;
	uint16_t sbp_map_width;
	uint16_t sbp_map_pitch;
	uint16_t sbp_map_height;
	uint16_t reserved;
	uint32_t sbp_map_addr;
} ik_liso_common;

#define IK_COMMON_USE_COMPRESSION (1u << 0)
#define IK_COMMON_USE_SBP (1u << 1)
#define IK_COMMON_USE_VIGNETTE (1u << 2)
#define IK_COMMON_USE_LENS_WARP (1u << 3)
#define IK_COMMON_USE_CA_WARP (1u << 4)
#define IK_COMMON_UPDATE_SBP (1u << 6)
#define IK_COMMON_UPDATE_VIGNETTE (1u << 7)
#define IK_COMMON_UPDATE_CA_WARP (1u << 8)
#define IK_COMMON_UPDATE_LENS_WARP (1u << 9)
#define IK_COMMON_UPDATE_CHROMA_RADIUS (1u << 10)
#define IK_COMMON_UPDATE_DZOOM (1u << 11)
#define IK_COMMON_SBP_A5M_MODE (1u << 12)
#define IK_COMMON_BAYER_PATTERN_SHIFT 13u
#define IK_COMMON_BAYER_PATTERN_MASK (3u << 13)
#define IK_COMMON_VIGNETTE_SHIFT_SHIFT 15u
#define IK_COMMON_VIGNETTE_SHIFT_MASK (15u << 15)

/* Bits of the configuration's section update mask. */
#define IK_MASK_COMMON (1u << 0)
#define IK_MASK_COLOR (1u << 1)
#define IK_MASK_FLOW (1u << 2)
#define IK_MASK_LISO (1u << 3)
#define IK_MASK_FLOW_2 (1u << 17)
#define IK_MASK_AAA (1u << 18)
#define IK_MASK_TO_DRIVER 0x7FFFFu

/* color (main part offset 188, 168 bytes). */
typedef struct ik_liso_color {
	uint32_t black_level_cmd_code;
	int32_t global_offset_ee;
	int32_t global_offset_eo;
	int32_t global_offset_oe;
	int32_t global_offset_oo;
	uint16_t black_level_offset_red;
	uint16_t black_level_offset_green;
	uint16_t black_level_offset_blue;
	uint16_t gain_depedent_offset_red;
	uint16_t gain_depedent_offset_green;
	uint16_t gain_depedent_offset_blue;
	uint16_t def_blk1_red;
	uint16_t def_blk1_green;
	uint16_t def_blk1_blue;
	uint16_t reserved0;
	uint32_t wb_gain_cmd_code;
	uint32_t r_gain;
	uint32_t g_even_gain;
	uint32_t g_odd_gain;
	uint32_t b_gain;
	uint32_t local_exposure_cmd_code;
	uint8_t le_group_index;
	uint8_t le_enable;
	uint16_t le_radius;
	uint8_t luma_weight_red;
	uint8_t luma_weight_green;
	uint8_t luma_weight_blue;
	uint8_t luma_weight_sum_shift;
	uint32_t gain_curve_table_addr;
	uint16_t luma_offset;
	uint16_t reserved1;
	uint32_t chroma_scale_cmd_code;
	uint16_t cs_group_index;
	uint16_t cs_enable;
	uint32_t make_legal;
	int16_t u_weight_0;
	int16_t u_weight_1;
	int16_t u_weight_2;
	int16_t v_weight_0;
	int16_t v_weight_1;
	int16_t v_weight_2;
	uint32_t gain_curver_addr;
	uint32_t cc_reg;
	uint32_t cc_3d;
	uint32_t cc_out;
	int16_t rgb2yuv[12];
	uint8_t use_flags; /* bit 0 local exposure, 1 chroma scale, 2 defer cc */
	uint8_t reserved2;
	uint16_t wb_saturation_level_red;
	uint16_t wb_saturation_level_green_even;
	uint16_t wb_saturation_level_green_odd;
	uint16_t wb_saturation_level_blue;
	uint16_t awb_min_thresh;
	uint16_t awb_max_thresh;
	uint16_t ae_min_thresh;
	uint16_t ae_max_thresh;
	uint16_t reserved3;
	uint32_t update_all;
} ik_liso_color;

/* color.update_all bits (all ones: everything updated). */
#define IK_COLOR_UPDATE_BLACK_LEVEL (1u << 0)
#define IK_COLOR_UPDATE_WB_GAIN (1u << 1)
#define IK_COLOR_UPDATE_WB_GAIN_SATURATION (1u << 2)
#define IK_COLOR_UPDATE_LOCAL_EXPOSURE (1u << 3)
#define IK_COLOR_UPDATE_CHROMA_SCALE (1u << 4)
#define IK_COLOR_UPDATE_RGB2YUV (1u << 5)
#define IK_COLOR_UPDATE_CC_REG (1u << 6)
#define IK_COLOR_UPDATE_CC_3D (1u << 7)
#define IK_COLOR_UPDATE_CC_OUT (1u << 8)
#define IK_COLOR_UPDATE_COMPARABLE                                                                           \
	(IK_COLOR_UPDATE_LOCAL_EXPOSURE | IK_COLOR_UPDATE_CHROMA_SCALE | IK_COLOR_UPDATE_CC_REG |            \
	 IK_COLOR_UPDATE_CC_3D | IK_COLOR_UPDATE_CC_OUT)

/* cfa_noise_filter command inside liso (28 bytes). */
typedef struct ik_cfa_noise_filter_cmd {
	uint32_t cmd_code;
	uint8_t bits0; /* enable 0-1, mode 2-3, shift_coarse_ring1 4-5, shift_coarse_ring2 6-7 */
	uint8_t bits1; /* shift_fine_ring1 0-1, shift_fine_ring2 2-3, shift_center_red 4-7 */
	uint8_t bits2; /* shift_center_green 0-3, shift_center_blue 4-7 */
	uint8_t target_coarse_red;
	uint8_t target_coarse_green;
	uint8_t target_coarse_blue;
	uint8_t target_fine_red;
	uint8_t target_fine_green;
	uint8_t target_fine_blue;
	uint8_t cutoff_red;
	uint8_t cutoff_green;
	uint8_t cutoff_blue;
	uint16_t thresh_coarse_red;
	uint16_t thresh_coarse_green;
	uint16_t thresh_coarse_blue;
	uint16_t thresh_fine_red;
	uint16_t thresh_fine_green;
	uint16_t thresh_fine_blue;
} ik_cfa_noise_filter_cmd;

/* demosaic command inside liso (14 bytes used). */
typedef struct ik_demosaic_cmd {
	uint32_t cmd_code;
	uint8_t group_index;
	uint8_t enable;
	uint8_t reserved;
	uint8_t activity_thresh;
	uint16_t activity_difference_thresh;
	uint16_t grad_clip_thresh;
	uint16_t grad_noise_thresh;
} ik_demosaic_cmd;

/* Level block of the sharpen section (8 bytes). */
typedef struct ik_level_block {
	uint8_t low;
	uint8_t low_0;
	uint8_t low_val;
	uint8_t high;
	uint8_t high_0;
	uint8_t high_val;
	uint8_t base_val;
	uint8_t deltas; /* low_delta 0-2, high_delta 3-5, area_index 6-7 */
} ik_level_block;

/* Sharpen block (64 bytes), first-sharpen layout. */
typedef struct ik_sharpen_block {
	uint32_t fir1;
	uint32_t fir2;
	uint32_t coring;
	uint16_t fir2_clip_high; /* advance-spatial-filter layout: blend_iso0_threshold */
	int16_t fir2_clip_low;   /* advance-spatial-filter layout: blend_iso1_threshold */
	uint8_t max_change_up;
	uint8_t max_change_down;
	uint8_t wide_edge_detect;
	uint8_t flags; /* enable 0, special_mode 1, update_fir1 2, update_fir2 3, update_coring 4,
	                  update_others 5, coring_mul_shift 6-7 */
	ik_level_block coring_multiplier_min;
	ik_level_block coring_index_mul;
	uint16_t edge_thresh; /* bits 0-10, shp_mode0 bit 11 */
	uint8_t max_change_up_5x5;
	uint8_t max_change_down_5x5;
	ik_level_block coring_multiplier_mul;
	ik_level_block fir2_out_scale;
	ik_level_block coring_multiplier_max;
} ik_sharpen_block;

/* Sharpen block byte 19. */
#define IK_SHP_ENABLE 0x01u
#define IK_SHP_SPECIAL_MODE 0x02u
#define IK_SHP_UPDATE_FIR1 0x04u
#define IK_SHP_UPDATE_FIR2 0x08u
#define IK_SHP_UPDATE_CORING 0x10u
#define IK_SHP_UPDATE_OTHERS 0x20u

/* liso use word (offset 144) and update word (offset 152). */
#define IK_LISO_USE_CHROMA_MEDIAN (1u << 9)
#define IK_LISO_USE_AA_SHIFT_SHIFT 10u
#define IK_LISO_USE_AA_SHIFT_MASK (7u << 10)
#define IK_LISO_USE_SHPA_FOR_ASF (1u << 13)
#define IK_LISO_USE_CHROMA_FILTER (1u << 14)
#define IK_LISO_USE_BATCH (1u << 15)
#define IK_LISO_UPDATE_DBP_HOT (1u << 0)
#define IK_LISO_UPDATE_DBP_DARK (1u << 1)
#define IK_LISO_UPDATE_CFA_NOISE (1u << 2)
#define IK_LISO_UPDATE_CFA_LEAKAGE (1u << 3)
#define IK_LISO_UPDATE_ANTI_ALIASING (1u << 4)
#define IK_LISO_UPDATE_GRGB (1u << 5)
#define IK_LISO_UPDATE_CHROMA_NOISE (1u << 6)
#define IK_LISO_UPDATE_CHROMA_MEDIAN (1u << 7)
#define IK_LISO_UPDATE_DEMOSAIC (1u << 8)
#define IK_LISO_UPDATE_LUMA (1u << 9)
#define IK_LISO_UPDATE_LUMA_MODE (1u << 10)
#define IK_LISO_UPDATE_BATCH (1u << 11)

/* liso (main part offset 356, 156 bytes). */
typedef struct ik_liso_liso {
	uint32_t dark_pixel_threshold;
	uint32_t hot_pixel_threshold;
	uint32_t chroma_median_k_table;
	ik_cfa_noise_filter_cmd cfa_noise_filter;
	ik_demosaic_cmd demosaic; /* 14 bytes used; its padding and these are 54-59 */
	uint8_t reserved0[4];
	ik_sharpen_block sharpen;
	uint8_t leakage_alpha_rr;
	uint8_t leakage_alpha_rb;
	uint8_t leakage_alpha_br;
	uint8_t leakage_alpha_bb;
	uint16_t leakage_saturation_level;
	uint16_t anti_aliasing_threshold;
	uint16_t grgb_mismatch_correct_wide_thresh;
	uint16_t grgb_mismatch_correct_wide_reject_thresh;
	uint8_t chroma_radius;
	uint8_t cliso_flags; /* bit 0 set in the CLISO variant */
	uint8_t chroma_noise_level_cb;
	uint8_t chroma_noise_level_cr;
	uint16_t chroma_original_blend_cb_strength;
	uint16_t chroma_original_blend_cr_strength;
	uint16_t use_flags;
	uint16_t batch_cmd_queue_size;
	uint32_t batch_cmd_queue_daddr;
	uint16_t update_flags;
	uint16_t reserved1;
} ik_liso_liso;

/* flow (main part offset 512, 32 bytes). */
typedef struct ik_liso_flow {
	uint16_t width_in;
	uint16_t height_in;
	uint16_t width_chroma;
	uint16_t height_chroma;
	uint16_t main_out_width;
	uint16_t main_out_height;
	uint32_t video_mctf;
	uint32_t final_sharpen;
	uint32_t update_masks; /* bits 0-15 video MCTF, bits 16-30 final sharpen */
	uint16_t temporal_adjust_edge_reduce_b;
	uint16_t temporal_adjust_edge_reduce_l;
	uint16_t temporal_adjust_edge_reduce_r;
	uint16_t temporal_adjust_edge_reduce_t;
} ik_liso_flow;

/* flow update masks. */
#define IK_FLOW_MCTF_UPDATE_ALL 0xC381u /* config, curves B-D, curve SB2, luma remap */
#define IK_FLOW_MCTF_CURVE_D (1u << 9)
#define IK_FLOW_FINAL_SHARPEN_UPDATE_ALL 0x367F0000u /* bits 16-22, 25, 26, 28, 29 */
#define IK_FLOW_TA_EDGE_REDUCE (1u << 30)

/* One vertical warp entry (8 bytes). */
typedef struct ik_warp_entry {
	uint8_t flags; /* warp_enable 0, horz exponent 1-3, vert exponent 4-6 */
	uint8_t reserved;
	uint8_t warp_grid_array_width;
	uint8_t warp_grid_array_height;
	uint32_t warp_field_addr;
} ik_warp_entry;

/* cliso (advanced layout, main part offset 544, 60 bytes). */
typedef struct ik_liso_cliso {
	uint16_t width_motion;
	uint16_t height_motion;
	uint16_t smooth_phase_inc;
	uint16_t smooth_strength;
	uint32_t motion_detect_fir1;
	uint32_t mctf_passthrough;
	uint32_t mcts_MoASF;
	uint32_t mctf_mcts_update_mask_motion_detect;
	uint8_t flags0;
	uint8_t flags1;
	uint8_t reserved[2];
	uint32_t CC_reg_motion_combine;
	uint32_t CC_3d_motion_combine;
	uint32_t CC_out_motion_combine;
	uint32_t CC_reg_motion_combine_up;
	uint32_t CC_3d_motion_combine_up;
	uint32_t video_mctfB;
	uint32_t final_sharpen;
	uint32_t mctf_mcts_update_mask_video_mctfB;
} ik_liso_cliso;

#define IK_WARP_ENTRIES 5

typedef struct ik_liso_main_basic {
	ik_liso_share share;
	ik_liso_common common;
	ik_liso_color color;
	ik_liso_liso liso;
	ik_liso_flow flow;
	ik_warp_entry vert_warp[IK_WARP_ENTRIES];
	uint8_t reserved[32];
} ik_liso_main_basic;

typedef struct ik_liso_main_advanced {
	ik_liso_share share;
	ik_liso_common common;
	ik_liso_color color;
	ik_liso_liso liso;
	ik_liso_flow flow;
	ik_liso_cliso cliso;
	ik_warp_entry vert_warp[IK_WARP_ENTRIES];
	uint8_t reserved[32];
} ik_liso_main_advanced;

#define IK_LISO_MAIN_ROOM 700u

typedef union ik_liso_main {
	ik_liso_main_basic basic;
	ik_liso_main_advanced adv;
	uint8_t bytes[IK_LISO_MAIN_ROOM];
} ik_liso_main;

/* Contrast-enhancement part (record bytes 796-803). */
typedef struct ik_liso_ce_part {
	uint32_t contrast_enhancement_cmd_queue_daddr;
	uint8_t factors01;   /* factor_0 0-3, factor_1 4-7 */
	uint8_t factor2_upd; /* factor_2 0-3, updated flags 4-7 */
	uint8_t enables;     /* ce enable 0, hdec_0..2 enable 1-3 */
	uint8_t reserved;
} ik_liso_ce_part;

/* An iso configuration record (832 bytes). */
typedef struct img_dsp_iso_cfg {
	/* bytes 0-95: library bookkeeping */
	uint32_t state;
	uint32_t AlgoMode;
	uint64_t prev_cfg;
	uint64_t next_cfg;
	uint32_t update_mask;
	uint8_t reserved0[68];
	/* bytes 96-795: what the DSP reads */
	ik_liso_main main;
	ik_liso_ce_part ce;
	/* bytes 804-831: library bookkeeping */
	uint32_t src_cfg_id;
	uint8_t reserved1[24];
} img_dsp_iso_cfg;

#define IK_CFG_NO_SOURCE 0xFFFFFFFFu
#define IK_ISO_CFG_SIZE 832u
#define IK_ISO_CFG_TBL_SIZE 179792u
#define IK_LISO_BASIC_SIZE 616u
#define IK_LISO_ADVANCED_SIZE 676u

static_assert(sizeof(ik_liso_share) == 56, "share");
static_assert(sizeof(ik_geo_warp_control) == 80, "geo warp");
static_assert(sizeof(ik_liso_common) == 132, "common");
static_assert(offsetof(ik_liso_common, geo_warp_control) == 40, "common geo warp");
static_assert(offsetof(ik_liso_common, sbp_map_addr) == 128, "common sbp");
static_assert(sizeof(ik_liso_color) == 168, "color");
static_assert(offsetof(ik_liso_color, update_all) == 164, "color update_all");
static_assert(offsetof(ik_liso_color, rgb2yuv) == 120, "color rgb2yuv");
static_assert(sizeof(ik_cfa_noise_filter_cmd) == 28, "cfa noise");
static_assert(sizeof(ik_level_block) == 8, "level");
static_assert(sizeof(ik_sharpen_block) == 64, "sharpen");
static_assert(sizeof(ik_liso_liso) == 156, "liso");
static_assert(offsetof(ik_liso_liso, demosaic) == 40, "liso demosaic");
static_assert(offsetof(ik_demosaic_cmd, grad_noise_thresh) == 12, "demosaic fields");
static_assert(offsetof(ik_liso_liso, sharpen) == 60, "liso sharpen");
static_assert(offsetof(ik_liso_liso, use_flags) == 144, "liso use");
static_assert(sizeof(ik_liso_flow) == 32, "flow");
static_assert(sizeof(ik_warp_entry) == 8, "warp");
static_assert(sizeof(ik_liso_cliso) == 60, "cliso");
static_assert(offsetof(ik_liso_main_basic, vert_warp) == 544, "basic warp");
static_assert(sizeof(ik_liso_main_basic) == IK_LISO_BASIC_SIZE, "basic layout");
static_assert(offsetof(ik_liso_main_advanced, cliso) == 544, "advanced cliso");
static_assert(offsetof(ik_liso_main_advanced, vert_warp) == 604, "advanced warp");
static_assert(sizeof(ik_liso_main_advanced) == IK_LISO_ADVANCED_SIZE, "advanced layout");
static_assert(sizeof(ik_liso_ce_part) == 8, "ce part");
static_assert(offsetof(img_dsp_iso_cfg, main) == 96, "main part");
static_assert(offsetof(img_dsp_iso_cfg, ce) == 796, "ce part");
static_assert(offsetof(img_dsp_iso_cfg, src_cfg_id) == 804, "source id");
static_assert(sizeof(img_dsp_iso_cfg) == IK_ISO_CFG_SIZE, "iso configuration record");

/* Contrast-enhancement command queue: 128-byte slots. */
typedef struct ik_ce_luma_avg_weight_cmd {
	uint32_t cmd_code;
	uint8_t luma_avg_weight[4];
	uint8_t luma_avg_weight_methold;
} ik_ce_luma_avg_weight_cmd;

typedef struct ik_ce_luma_black_level_cmd {
	uint32_t cmd_code;
	uint16_t luma_avg_global_offset[4]; /* ee, eo, oe, oo */
} ik_ce_luma_black_level_cmd;

typedef struct ik_ce_fir_config_cmd {
	uint32_t cmd_code;
	uint32_t fir_enable;
	uint32_t fir_coeff[3];
} ik_ce_fir_config_cmd;

typedef struct ik_ce_coring_config_cmd {
	uint32_t cmd_code;
	uint8_t coring_index_shift, coring_index_low, coring_index_mid, coring_index_high;
	uint8_t coring_index_t0, coring_index_t1, coring_index_delta_t0, coring_index_delta_t1;
	uint8_t coring_gain_shift, coring_gain_low, coring_gain_mid, coring_gain_high;
	uint8_t coring_gain_t0, coring_gain_t1, coring_gain_delta_t0, coring_gain_delta_t1;
	uint32_t coring_table_addr;
} ik_ce_coring_config_cmd;

typedef struct ik_ce_output_table_cmd {
	uint32_t cmd_code;
	uint32_t output_enable;
	uint32_t output_shift;
	uint32_t output_table_addr;
} ik_ce_output_table_cmd;

typedef struct ik_ce_vertical_decimation_cmd {
	uint32_t cmd_code;
	uint32_t vdec_factor[3];
	uint32_t vdec_offset;
	uint16_t raw_height;
	uint8_t vdec_enable[3];
} ik_ce_vertical_decimation_cmd;

typedef struct ik_ce_upsampling_cmd {
	uint32_t cmd_code;
	uint32_t width, height;
	uint32_t upsample_hor_factor, upsample_ver_factor;
	uint32_t upsample_hor_extra, upsample_ver_extra;
	uint32_t upsample_hor_offset, upsample_ver_offset;
	uint32_t ce_upsamp_coeff_addr;
} ik_ce_upsampling_cmd;

static_assert(offsetof(ik_ce_luma_avg_weight_cmd, luma_avg_weight_methold) == 8, "ce weight");
static_assert(sizeof(ik_ce_luma_black_level_cmd) == 12, "ce black level");
static_assert(sizeof(ik_ce_fir_config_cmd) == 20, "ce fir");
static_assert(offsetof(ik_ce_coring_config_cmd, coring_table_addr) == 20, "ce coring");
static_assert(offsetof(ik_ce_output_table_cmd, output_table_addr) == 12, "ce output");
static_assert(offsetof(ik_ce_vertical_decimation_cmd, raw_height) == 20, "ce vdec");
static_assert(offsetof(ik_ce_vertical_decimation_cmd, vdec_enable) == 22, "ce vdec enables");
static_assert(offsetof(ik_ce_upsampling_cmd, ce_upsamp_coeff_addr) == 36, "ce upsampling");

#define IK_CE_QUEUE_SLOTS 10u
#define IK_CE_QUEUE_SIZE (IK_CE_QUEUE_SLOTS * IK_CMD_SLOT_SIZE)
#define IK_LISO_BATCH_QUEUE_SIZE 1280u

/* Config table block (179792 bytes): fixed table offsets. */
#define IK_TBL_LISO_BATCH_QUEUE 0u
#define IK_TBL_VIGNETTE_GAIN 1280u
#define IK_TBL_CA_WARP_HOR_RED 10028u
#define IK_TBL_CA_WARP_VER_RED 19244u
#define IK_TBL_CA_WARP_HOR_BLUE 28460u
#define IK_TBL_CA_WARP_VER_BLUE 37676u
#define IK_TBL_LOCAL_EXPOSURE_GAIN 59180u
#define IK_TBL_CHROMA_SCALE_GAIN 59692u
#define IK_TBL_CC_REG 59948u
#define IK_TBL_CC_3D 62252u
#define IK_TBL_CC_OUT 78636u
#define IK_TBL_DARK_PIXEL_THRESH 79660u
#define IK_TBL_HOT_PIXEL_THRESH 80428u
#define IK_TBL_CHROMA_MEDIAN_K 81196u
#define IK_TBL_SHP_FIR1 81244u
#define IK_TBL_SHP_FIR2 81500u
#define IK_TBL_SHP_CORING 81756u
#define IK_TBL_ASF_FIR1 82780u
#define IK_TBL_ASF_FIR2 83036u
#define IK_TBL_ASF_CORING 83292u
#define IK_TBL_VIDEO_MCTF 83548u
#define IK_TBL_FINAL_SHARPEN 93628u
#define IK_TBL_MCTS_MOASF 124636u
#define IK_TBL_MOTION_CC_3D 137404u
#define IK_TBL_MOTION_CC_OUT 153788u
#define IK_TBL_VIDEO_MCTF_B 154812u
#define IK_TBL_FINAL_SHARPEN_2 164892u
#define IK_TBL_CE_QUEUE 177660u
#define IK_TBL_CE_UPSAMP_COEFF 178940u
#define IK_TBL_CE_CORING 179196u
#define IK_TBL_CE_OUTPUT 179260u

#define IK_TABLE_SLOTS 24u

/* Sizes of the tables the builder copies. */
#define IK_VIGNETTE_TBL_SIZE 2180u
#define IK_LE_GAIN_SIZE 512u
#define IK_CS_GAIN_SIZE 256u
#define IK_CC_REG_TBL_SIZE 2304u
#define IK_CC_3D_TBL_SIZE 16384u
#define IK_CC_OUT_TBL_SIZE 1024u
#define IK_PIXEL_THRESH_SIZE 768u
#define IK_CHROMA_MEDIAN_TBL_SIZE 48u
#define IK_SHP_TBL_SIZE 256u
#define IK_CA_WARP_TBL_SIZE 9216u
#define IK_VIDEO_MCTF_TBL_SIZE 10064u
#define IK_FINAL_SHARPEN_TBL_SIZE 12752u
#define IK_CE_UPSAMP_COEFF_SIZE 256u
#define IK_CE_CORING_TBL_SIZE 64u
#define IK_CE_OUTPUT_TBL_SIZE 512u

static_assert(IK_TBL_CE_OUTPUT + 512u <= IK_ISO_CFG_TBL_SIZE, "config table block holds its last table");
static_assert(IK_TBL_CA_WARP_VER_BLUE + 9216u <= IK_TBL_LOCAL_EXPOSURE_GAIN,
              "warp tables before the colour tables");
static_assert(IK_ISO_CFG_SIZE + IK_ISO_CFG_TBL_SIZE == 180624u, "an iso configuration with its table block");

/* Default-table offsets the configuration's motion fields point at. */
#define IK_DEF_MOTION_DETECT_FIR1 0u
#define IK_DEF_MCTF_PASSTHROUGH 256u
#define IK_DEF_MOASF_TEMPLATE 10336u
#define IK_DEF_CC_REG_MOTION 23104u
#define IK_DEF_CC_REG_MOTION_UP 25408u
#define IK_DEF_CC_3D_MOTION_A 27712u
#define IK_DEF_CC_3D_MOTION_B 44096u

#endif

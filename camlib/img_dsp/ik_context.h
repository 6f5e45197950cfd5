/*
 * Contexts as they lie in the mapped region. A context keeps every filter's
 * last accepted block, the DSP command images derived from them and the
 * update flags; it must fit the size the region was carved for, which the
 * assertions at the end prove. Filters whose setters do not exist yet keep
 * a byte array of their block's size, so their room is already reserved.
 */
#ifndef CAMLIB_IMG_DSP_IK_CONTEXT_H
#define CAMLIB_IMG_DSP_IK_CONTEXT_H

#include "ik_liso_layout.h"
#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

#define IK_VIDEO_CTX_SIZE 1850792u
#define IK_STILL_CTX_SIZE 1911120u
#define IK_DECODE_CTX_SIZE 87504u
#define IK_VIDEO_BUF_SIZE 119648u
#define IK_HDR_CFG_SIZE 104u
#define IK_HDR_CFG_TBL_SIZE 56832u
#define IK_DEF_TBL_SIZE 60480u

#define IK_CTX_STATE_IDLE 0u
#define IK_CTX_STATE_INIT 1u
#define IK_NO_CFG 255u

/* Tables of a video buffer block (offsets within the block). */
enum ik_video_tbl {
	IK_VBUF_SHPA_FIR1 = 0,
	IK_VBUF_SHPA_FIR2 = 256,
	IK_VBUF_SHPA_CORING = 512,
	IK_VBUF_SHPA_ALPHA = 768,
	IK_VBUF_LE_TONE_CURVE = 2816,
	IK_VBUF_CS_TONE_CURVE = 3328,
	IK_VBUF_CC_IN_LUT = 3584,
	IK_VBUF_CC_3D_MATRIX = 5888,
	IK_VBUF_CC_OUT_LUT = 22272,
	IK_VBUF_MCTF_CMPR_BIN = 58624,
	IK_VBUF_HOT_PIXEL_THD = 59168,
	IK_VBUF_DARK_PIXEL_THD = 59936,
	IK_VBUF_CHROMA_MEDIAN_K = 60704,
	IK_VBUF_CA_WARP_RED_1 = 60768,
	IK_VBUF_CA_WARP_RED_2 = 69984,
	IK_VBUF_CA_WARP_BLUE_1 = 79200,
	IK_VBUF_CA_WARP_BLUE_2 = 88416,
	IK_VBUF_WARP_HOR = 97632,
	IK_VBUF_WARP_VER = 100704,
	IK_VBUF_VIG_RED = 103776,
	IK_VBUF_VIG_GREEN_EVEN = 105984,
	IK_VBUF_VIG_GREEN_ODD = 108192,
	IK_VBUF_VIG_BLUE = 110400,
	IK_VBUF_FPN_REG_SETTING = 112608,
	IK_VBUF_AMPLINEAR_LUT = 113632,
	IK_VBUF_HDR_ALPHA_TABLE = 116544,
	IK_VBUF_AMPLINEAR_HDS_LUT = 116736,
};

/* Tables inside a still context (offsets within the context). */
enum ik_still_tbl {
	IK_STILL_SHPA_FIR1 = 96,
	IK_STILL_SHPA_FIR2 = 352,
	IK_STILL_SHPA_CORING = 608,
	IK_STILL_SHPA_ALPHA = 864,
	IK_STILL_LE_TONE_CURVE = 2912,
	IK_STILL_CS_TONE_CURVE = 3424,
	IK_STILL_CC_IN_LUT = 3680,
	IK_STILL_CC_3D_MATRIX = 5984,
	IK_STILL_CC_OUT_LUT = 22368,
	IK_STILL_MCTF_CMPR_BIN = 58720,
	IK_STILL_HOT_PIXEL_THD = 59808,
	IK_STILL_DARK_PIXEL_THD = 60576,
	IK_STILL_CHROMA_MEDIAN_K = 61344,
	IK_STILL_CA_WARP_HOR = 61408,
	IK_STILL_CA_WARP_VER = 67552,
	IK_STILL_WARP_HOR = 73696,
	IK_STILL_WARP_VER = 79840,
	IK_STILL_VIG_RED = 85984,
	IK_STILL_VIG_GREEN_EVEN = 88192,
	IK_STILL_VIG_GREEN_ODD = 90400,
	IK_STILL_VIG_BLUE = 92608,
	IK_STILL_FPN_REG_SETTING = 94816,
	IK_STILL_TABLES_END = 95840,
};

/* Tables inside a decode context (offsets within the context). */
enum ik_decode_tbl {
	IK_DEC_SHPA_FIR1 = 65676,
	IK_DEC_SHPA_FIR2 = 65932,
	IK_DEC_SHPA_CORING = 66188,
	IK_DEC_SHPA_ALPHA = 66444,
	IK_DEC_LE_TONE_CURVE = 66956,
	IK_DEC_CS_TONE_CURVE = 67468,
	IK_DEC_CC_IN_LUT = 67724,
	IK_DEC_CC_3D_MATRIX = 70028,
	IK_DEC_CC_OUT_LUT = 86412,
	IK_DEC_CHROMA_MEDIAN_K = 87436,
};

static_assert(IK_VBUF_AMPLINEAR_HDS_LUT + 2912u == IK_VIDEO_BUF_SIZE, "video buffer block");
static_assert(IK_STILL_FPN_REG_SETTING + 1024u == IK_STILL_TABLES_END, "still context tables");
static_assert(IK_DEC_CHROMA_MEDIAN_K + 48u <= IK_DECODE_CTX_SIZE, "decode context tables");
static_assert(IK_HDR_CFG_SIZE + IK_HDR_CFG_TBL_SIZE == 56936u, "an HDR configuration with its table block");

#define IK_CHROMA_MEDIAN_K_SIZE 48u
#define IK_CHROMA_MEDIAN_WEIGHT_SIZE 144u
#define IK_SHPA_ALPHA_SIZE 2048u

/* How a video context picks its buffer block from an index. */
#define IK_TBL_IDX_MASK 0u
#define IK_TBL_IDX_MOD 1u

/* Bookkeeping at the head of every context (96 bytes). */
typedef struct ik_ctx_head {
	uint32_t state;
	uint8_t active_iso_cfg;
	uint8_t active_hdr_cfg;
	uint8_t diag_case_id;
	uint8_t encode_mode;
	uint8_t reserved_defblc; /* the enable lives in the deferred black-level block */
	uint8_t keep_marker;
	uint8_t tbl_idx_kind;
	uint8_t reserved0;
	uint32_t iso_cfg_tag;
	uint32_t buf_num;
	uint32_t reserved1;
	uint64_t last_iso_cfg;             /* physical address, 0 none */
	uint64_t last_hdr_cfg;             /* physical address, 0 none */
	uint64_t buf[IMG_DSP_MAX_BUF_NUM]; /* user addresses of the buffer blocks */
	uint8_t debug_mode[12];
	uint8_t reserved2[12];
} ik_ctx_head;
static_assert(sizeof(ik_ctx_head) == 96, "context head");

/* One DSP command image: a 128-byte slot whose first word is the code. */
typedef struct ik_cmd_image {
	uint32_t word[IK_CMD_SLOT_SIZE / 4];
} ik_cmd_image;

/*
 * The context's section images, one 128-byte slot each. A slot holds its
 * command as the configuration lays it out, code in word 0, so the builder
 * copies it without reshaping; fields that have no command of their own
 * follow at the offsets named below.
 */
enum ik_section {
	IK_SEC_BLACK_LEVEL,
	IK_SEC_WB_GAIN,
	IK_SEC_DGAIN_SATURATION,
	IK_SEC_LOCAL_EXPOSURE,
	IK_SEC_CHROMA_SCALE,
	IK_SEC_RGB_TO_YUV,
	IK_SEC_CFA_NOISE_FILTER,
	IK_SEC_DEMOSAIC,
	IK_SEC_CHROMA_MEDIAN,
	IK_SEC_CHROMA_FILTER,
	IK_SEC_ANTI_ALIASING,
	IK_SEC_CFA_LEAKAGE,
	IK_SEC_GBGR_MISMATCH,
	IK_SEC_DBP,
	IK_SEC_SBP,
	IK_SEC_VIGNETTE,
	IK_SEC_CC,
	IK_SEC_VIN_SENSOR,
	IK_SEC_SHARPEN,
	IK_SEC_ASF,
	IK_SEC_FINAL_SHARPEN,
	IK_SEC_MCTF,
	IK_SEC_COUNT_USED,
	IK_SEC_COUNT = 64,
};

/* Words of a section slot that hold a table's physical address. */
#define IK_SECW_CHROMA_MEDIAN_K 2u     /* IK_SEC_CHROMA_MEDIAN */
#define IK_SECW_LOCAL_EXPOSURE_GAIN 3u /* IK_SEC_LOCAL_EXPOSURE */
#define IK_SECW_CHROMA_SCALE_GAIN 6u   /* IK_SEC_CHROMA_SCALE */
#define IK_SECW_CC_REG 5u              /* IK_SEC_CC */
#define IK_SECW_CC_3D 6u               /* IK_SEC_CC */
#define IK_SECW_CC_OUT 8u              /* IK_SEC_CC */
#define IK_SECW_DBP_HOT 2u             /* IK_SEC_DBP */
#define IK_SECW_DBP_DARK 3u            /* IK_SEC_DBP */
#define IK_SECW_VIGNETTE_FIRST 2u      /* IK_SEC_VIGNETTE: red, green even, green odd, blue in words 2-5 */

/* Byte offsets of the fields that sections carry beside their command. */
#define IK_SECB_LE_ENABLE 5u            /* u8, IK_SEC_LOCAL_EXPOSURE */
#define IK_SECB_CS_ENABLE 6u            /* u16, IK_SEC_CHROMA_SCALE */
#define IK_SECB_CFA_NOISE_ENABLE 4u     /* u8 bits 0-1, IK_SEC_CFA_NOISE_FILTER */
#define IK_SECB_CHROMA_MEDIAN_ENABLE 6u /* u16 mode, 0 off, IK_SEC_CHROMA_MEDIAN */
#define IK_SECB_CHROMA_RADIUS 5u        /* u8, IK_SEC_CHROMA_FILTER */
#define IK_SECB_AA_ENABLE 4u            /* u32, IK_SEC_ANTI_ALIASING */
#define IK_SECB_AA_SHIFT 8u             /* u8 */
#define IK_SECB_AA_THRESHOLD 10u        /* u16 */
#define IK_SECB_LEAKAGE_ENABLE 4u       /* u32, IK_SEC_CFA_LEAKAGE */
#define IK_SECB_LEAKAGE_ALPHA 8u        /* u8 rr, rb, br, bb */
#define IK_SECB_LEAKAGE_SATURATION 12u  /* u16 */
#define IK_SECB_GBGR_MODE 4u            /* u8, IK_SEC_GBGR_MISMATCH */
#define IK_SECB_GBGR_WIDE 6u            /* u16 wide threshold, then u16 reject threshold */
#define IK_SECB_DBP_MODE 4u             /* u8 bits 0-2, IK_SEC_DBP */
#define IK_SECB_DBP_METHOD 5u           /* u8 */
#define IK_SECB_SBP_ENABLE 4u           /* u8, IK_SEC_SBP; map address in word 2 */
#define IK_SECB_SBP_MAP 12u             /* u16 width, pitch, height */
#define IK_SECW_SBP_MAP_ADDR 2u
#define IK_SECB_VIGNETTE_ENABLE 4u  /* u8, IK_SEC_VIGNETTE */
#define IK_SECB_VIGNETTE_SHIFT 5u   /* u8 */
#define IK_SECB_VIN_RECORD 4u       /* IK_SEC_VIN_SENSOR: block bytes 0-11, then ReadoutMode */
#define IK_SECB_VIN_BAYER 7u        /* u8, the block's Pattern inside the record */
#define IK_SECB_VIN_COMPRESSION 20u /* u8, beside the record */
#define IK_SECB_MCTF_EDGE_REDUCE 4u /* four u16 b, l, r, t, IK_SEC_MCTF */

static inline uint8_t *ik_sec_bytes(ik_cmd_image *sec, enum ik_section s)
{
	return (uint8_t *)sec[s].word;
}

/* Slots of the statistics command area; the low-ISO builder copies each
 * pending command into the configuration's batch queue. */
enum ik_aaa_cmd_slot {
	IK_AAA_CMD_STATISTICS,
	IK_AAA_CMD_PSEUDO_Y,
	IK_AAA_CMD_HISTOGRAM,
	IK_AAA_CMD_EARLY_WB_GAIN,
	IK_AAA_CMD_AF_EX1,
	IK_AAA_CMD_AF_EX2,
};

/* Tables that section slots point at, one recorded buffer index each. */
enum ik_section_tbl {
	IK_STBL_CHROMA_MEDIAN_K,
	IK_STBL_LOCAL_EXPOSURE,
	IK_STBL_CHROMA_SCALE,
	IK_STBL_CC_REG,
	IK_STBL_CC_3D,
	IK_STBL_CC_OUT,
	IK_STBL_DBP_HOT,
	IK_STBL_DBP_DARK,
	IK_STBL_VIG_RED,
	IK_STBL_VIG_GREEN_EVEN,
	IK_STBL_VIG_GREEN_ODD,
	IK_STBL_VIG_BLUE,
	IK_SECTION_TBL_COUNT,
};

/* AE, AWB and AF set-up and the commands that ride with a configuration. */
typedef struct ik_aaa_blocks {
	img_dsp_awb_tile_cfg awb;
	img_dsp_ae_tile_cfg ae;
	img_dsp_af_tile_cfg af;
	img_dsp_aaa_stat_info stat_info;
	uint8_t pseudo_y[44];
	uint8_t histogram[20];
	uint8_t early_wb_gain[36];
	uint8_t af_statistics_ex[80];
	ik_cmd_image cmd[8];
} ik_aaa_blocks;

/* The first sharpen-noise family; the FIR conversion reads it as one group. */
typedef struct ik_first_sharpen_group {
	img_dsp_1st_sharpen_noise_both both;
	img_dsp_1st_sharpen_noise_noise noise;
	img_dsp_fir sharpen_fir;
	img_dsp_sharpen_coring sharpen_coring;
	img_dsp_level min_coring_result;
	img_dsp_level max_coring_result;
	img_dsp_level coring_index_scale;
	img_dsp_level scale_coring;
	uint8_t spare;
	int32_t sharpen_coefs[9][25];
	int32_t noise_coefs[9][25];
} ik_first_sharpen_group;
static_assert(offsetof(ik_first_sharpen_group, min_coring_result) == 1303, "first sharpen group");
static_assert(offsetof(ik_first_sharpen_group, sharpen_coefs) == 1332, "first sharpen coefficients");

/* The final sharpen-noise family, with its own copy of the 3-D table: the
 * stored both block points at it. */
typedef struct ik_final_sharpen_group {
	img_dsp_final_sharpen_noise_both both;
	img_dsp_final_sharpen_noise_noise noise;
	img_dsp_final_level coring_index_scale;
	img_dsp_final_level scale_coring;
	img_dsp_final_level min_coring_result;
	img_dsp_final_level max_coring_result;
	img_dsp_sharpen_coring sharpen_coring;
	uint8_t spare;
	img_dsp_fir sharpen_fir;
	uint8_t three_d_table[IMG_DSP_THREE_D_TABLE_SIZE];
} ik_final_sharpen_group;
static_assert(offsetof(ik_final_sharpen_group, sharpen_fir) == 848, "final sharpen group");
static_assert(offsetof(ik_final_sharpen_group, three_d_table) == 1358, "final sharpen 3-D table");

/* HDR blending and exposure inputs, with the DSP command records the HDR
 * setters derive from them; the HDR post-execute copies the records. */
#define IK_HDR_BLENDS 3u
#define IK_HDR_EXPOSURES 4u
#define IK_AMP_LINEAR_LUT_SIZE 706u
#define IK_AMP_LINEAR_HEADER_SIZE 14u

typedef struct ik_hdr_blocks {
	uint8_t blending_info[4];
	uint8_t alpha_calc_cfg[IK_HDR_BLENDS][8];
	img_dsp_hdr_alpha_calc_thresh thresh[IK_HDR_BLENDS];
	img_dsp_hdr_alpha_calc_thresh hds_thresh[IK_HDR_BLENDS];
	uint8_t alpha_calc_black_level[IK_HDR_BLENDS][8];
	uint8_t alpha_calc_alpha[IK_HDR_BLENDS][24];
	uint8_t alpha_tables[IK_HDR_BLENDS][128];
	/* black levels: per exposure, per amplifier-linearised exposure, per
	 * blend step, and the post-HDR copy of the static black level */
	uint8_t static_black_level[IK_HDR_EXPOSURES][8];
	uint8_t amp_linearization_black_level[IK_HDR_BLENDS][8];
	uint8_t blend_black_level[IK_HDR_BLENDS][8];
	uint8_t post_static_black_level[8];
	uint8_t post_static_black_level_used;
	uint8_t reserved0[3];
	/* amplifier linearisation: the HDR set, the HDS set and the blend
	 * thresholds; each set keeps the caller's 706-byte table */
	uint8_t amp_linearization[IK_HDR_EXPOSURES][16];
	uint8_t amp_linearization_lut[IK_HDR_EXPOSURES][720];
	uint8_t amp_linearization_hds[IK_HDR_EXPOSURES][16];
	uint8_t amp_linearization_hds_lut[IK_HDR_EXPOSURES][720];
	uint8_t amp_linearization_blend[IK_HDR_BLENDS][4];
	uint8_t dgain_saturation_level[IK_HDR_EXPOSURES][32];
	uint8_t front_end_wb_gain[IK_HDR_EXPOSURES][12];
	uint8_t raw_offset[32];
	/* command records, per blend step unless named otherwise */
	uint8_t preblend_config[IK_HDR_BLENDS][12];
	uint8_t preblend_thresh[IK_HDR_BLENDS][12];
	uint8_t hds_preblend_thresh[IK_HDR_BLENDS][12];
	uint8_t preblend_black_level[IK_HDR_BLENDS][12];
	uint8_t preblend_alpha[IK_HDR_BLENDS][12];
	uint8_t black_level_global_offset[IK_HDR_BLENDS][40];
	uint8_t black_level_global_offset_hdr[IK_HDR_BLENDS][20];
	uint8_t black_level_amplinear_hdr[IK_HDR_BLENDS][52];
	uint8_t post_black_level_global_offset[40];
	uint8_t dgain_vignette_saturation[IK_HDR_EXPOSURES][36];
	uint8_t dgain_vignette_digital_gain[IK_HDR_BLENDS][36];
} ik_hdr_blocks;

/* Every filter's last accepted block. */
typedef struct ik_filter_blocks {
	ik_aaa_blocks aaa;
	/* white balance and colour correction */
	img_dsp_wb_gain wb_gain;
	uint32_t wb_derived_gain[4];
	uint8_t color_correction_reg[8];
	uint8_t cc_reg_copy[18752];
	uint8_t cc_reg_loaded;
	uint8_t cc_3d_loaded;
	uint8_t cc_hiso_3d_loaded;
	uint8_t cc_out_loaded;
	uint32_t cc_reg_version[2];
	uint8_t color_correction[8];
	uint8_t cc_table_copy[17536];
	uint8_t cc_hiso_table[17536]; /* still pipe: the secondary 3-D table store */
	uint8_t tone_curve[1536];
	uint8_t chroma_scale[260];
	/* chroma */
	uint8_t chroma_median_filter[16];
	img_dsp_chroma_filter chroma_filter;
	img_dsp_variable_range variable_range;
	uint8_t chroma_median_weight[IK_CHROMA_MEDIAN_WEIGHT_SIZE];
	/* the buffer block each section table was written to (ik_section_tbl) */
	uint8_t section_tbl_idx[IK_SECTION_TBL_COUNT];
	/* raw-domain filters */
	uint8_t anti_aliasing[8];
	uint8_t cfa_leakage_filter[12];
	uint8_t static_black_level[8];
	uint8_t deferred_black_level[2]; /* byte 0: the deferred black level is on */
	int16_t deferred_black_level_table[9];
	img_dsp_dgain_saturation_level dgain_saturation_level;
	uint8_t dbp_correction[4];
	uint8_t sbp_correction[72];
	uint8_t sbp_bypass[16];
	uint8_t demosaic[8];
	img_dsp_demosaic_internal demosaic_internal;
	uint8_t gbgr_mismatch[6];
	uint8_t cfa_noise_filter[36];
	uint8_t liso_process_select[2]; /* Select, then advanced_features_enable */
	/* the early white-balance mode of the batch queue (all ones: follow
	 * FuncMode bit 3) and the three offset bytes of mode 2 */
	uint32_t early_wb_mode;
	uint8_t early_wb_offset[3];
	uint8_t reserved_early_wb;
	uint8_t vignette_bypass[40];
	uint8_t vignette_calc_info[104];
	uint8_t vignette_tables[4][2208];
	/* luma */
	ik_first_sharpen_group first_sharpen;
	ik_final_sharpen_group final_sharpen;
	uint8_t final_sharpen_work[16384];
	uint8_t advance_spatial_filter[542];
	uint8_t advance_spatial_filter_work[2048];
	uint8_t local_exposure[518];
	uint8_t contrast_enhance[606];
	uint8_t contrast_enhance_decimation[18];
	/* temporal filters */
	uint8_t video_mctf[364];
	uint8_t internal_video_mctf[9];
	uint8_t mctf_temporal_adjust[18];
	uint8_t mctf_temporal_adjust_y[8];
	uint8_t mctf_temporal_adjust_cb[8];
	uint8_t mctf_temporal_adjust_cr[8];
	uint8_t motion_detect[38];
	/* the internal motion-detection block, then the fast-start and
	 * high-performance switches (ik_internal_motion_byte) */
	uint8_t internal_motion_detect[4];
	uint32_t motion_detect_runs;
	uint8_t video_mctf_b[106];
	uint8_t video_mctf_b_level[9];
	/* the brightness of the last MCTF packing, 0 before the first, and
	 * the inverse remap it kept */
	uint32_t mctf_prev_brightness;
	int32_t mctf_remap_inverse[256];
	/* sensor and colour space */
	img_dsp_rgb_to_yuv_matrix rgb_to_yuv_matrix;
	img_dsp_vin_sensor_info vin_sensor_info;
	uint8_t rgb_ir[4];
	uint8_t rgb_ir_internal[4];
	uint8_t rgb_ir_tables[4096];
	/* HDR */
	ik_hdr_blocks hdr;
} ik_filter_blocks;

#define IK_UPDATE_FLAG_BYTES 20u

/* Everything of a video or still context below its head and tables. */
typedef struct ik_ctx_body {
	img_dsp_size_info size_info;
	uint8_t size_level_low;
	uint8_t size_level_high;
	uint8_t update_flags[IK_UPDATE_FLAG_BYTES];
	uint8_t cfg_tbl_status[IK_TABLE_SLOTS]; /* table-slot selectors, 0xFF none */
	uint8_t hdr_cfg_tbl_status[4];
	uint8_t reserved[6];
	ik_filter_blocks blk;
	ik_cmd_image sec[IK_SEC_COUNT];
} ik_ctx_body;

typedef struct ik_video_ctx {
	ik_ctx_head head;
	ik_ctx_body body;
} ik_video_ctx;

typedef struct ik_still_ctx {
	ik_ctx_head head;
	uint8_t tables[IK_STILL_TABLES_END - sizeof(ik_ctx_head)];
	ik_ctx_body body;
} ik_still_ctx;

/* A decode context carries only the blocks with defaults, then its tables. */
typedef struct ik_decode_body {
	uint8_t deferred_black_level[2]; /* byte 0: the deferred black level is on */
	uint8_t reserved0[6];
	img_dsp_rgb_to_yuv_matrix rgb_to_yuv_matrix;
	img_dsp_dgain_saturation_level dgain_saturation_level;
	img_dsp_chroma_filter chroma_filter;
	uint8_t chroma_median_weight[IK_CHROMA_MEDIAN_WEIGHT_SIZE];
	ik_first_sharpen_group first_sharpen;
	ik_final_sharpen_group final_sharpen;
	ik_cmd_image sec[IK_SEC_COUNT];
} ik_decode_body;

typedef struct ik_decode_ctx {
	ik_ctx_head head;
	ik_decode_body body;
	uint8_t reserved[IK_DEC_SHPA_FIR1 - sizeof(ik_ctx_head) - sizeof(ik_decode_body)];
	uint8_t tables[IK_DECODE_CTX_SIZE - IK_DEC_SHPA_FIR1];
} ik_decode_ctx;

static_assert(sizeof(ik_video_ctx) <= IK_VIDEO_CTX_SIZE, "video context must fit its block");
static_assert(offsetof(ik_still_ctx, tables) == IK_STILL_SHPA_FIR1, "still tables");
static_assert(sizeof(ik_still_ctx) <= IK_STILL_CTX_SIZE, "still context must fit its block");
static_assert(offsetof(ik_decode_ctx, tables) == IK_DEC_SHPA_FIR1, "decode tables");
static_assert(sizeof(ik_decode_ctx) == IK_DECODE_CTX_SIZE, "decode context block");

/* HDR configuration record (104 bytes), read by the driver and the DSP. */
typedef struct img_dsp_hdr_cfg {
	uint32_t flags; /* blend steps updated 0-2, exposure offsets updated 3-6, exposures 7-9 */
	uint32_t preblend_cmds_daddr[3][2]; /* main, HDS */
	uint32_t blend_cmds_daddr[3][2];    /* main, HDS */
	uint32_t raw_daddr_start_offset_y[4];
	uint32_t reserved0;
	uint64_t prev_cfg;
	uint64_t next_cfg;
	uint8_t reserved1[16];
} img_dsp_hdr_cfg;
static_assert(offsetof(img_dsp_hdr_cfg, blend_cmds_daddr) == 28, "hdr blend queues");
static_assert(offsetof(img_dsp_hdr_cfg, raw_daddr_start_offset_y) == 52, "hdr offsets");
static_assert(offsetof(img_dsp_hdr_cfg, prev_cfg) == 72, "hdr prev");
static_assert(offsetof(img_dsp_hdr_cfg, next_cfg) == 80, "hdr next");
static_assert(sizeof(img_dsp_hdr_cfg) == IK_HDR_CFG_SIZE, "hdr configuration record");

#define IK_HDR_QUEUE_SIZE 1024u
#define IK_HDR_QUEUE_CMDS 8u

/* Update flags, byte and bit (see the low-ISO builder). */
#define IK_FLAG(byte, bit) (((byte) << 3) | (bit))
static inline void ik_flag_set(uint8_t *flags, unsigned f)
{
	flags[f >> 3] |= (uint8_t)(1u << (f & 7));
}
static inline int ik_flag_test(const uint8_t *flags, unsigned f)
{
	return (flags[f >> 3] >> (f & 7)) & 1;
}

/* Update flags, bytes 0-7: one bit per low-ISO filter. */
#define IK_UPD_VIN_SENSOR_INFO IK_FLAG(0, 0)
#define IK_UPD_STATIC_BAD_PIXEL IK_FLAG(0, 1)
#define IK_UPD_VIGNETTE IK_FLAG(0, 2)
#define IK_UPD_WARP IK_FLAG(0, 3)
#define IK_UPD_CA_WARP IK_FLAG(0, 4)
#define IK_UPD_COLOR_CORRECTION IK_FLAG(0, 5)
#define IK_UPD_CC_REG IK_FLAG(0, 6)
#define IK_UPD_BLACK_LEVEL IK_FLAG(0, 7)
#define IK_UPD_DEFERRED_BLACK_LEVEL IK_FLAG(1, 0)
#define IK_UPD_DBP IK_FLAG(1, 1)
#define IK_UPD_CFA_LEAKAGE IK_FLAG(1, 2)
#define IK_UPD_CFA_NOISE IK_FLAG(1, 3)
#define IK_UPD_ANTI_ALIASING IK_FLAG(1, 4)
#define IK_UPD_WB_GAIN IK_FLAG(1, 5)
#define IK_UPD_EARLY_WB IK_FLAG(1, 6)
#define IK_UPD_DGAIN_SATURATION IK_FLAG(1, 7)
#define IK_UPD_LOCAL_EXPOSURE IK_FLAG(2, 0)
#define IK_UPD_TONE_CURVE IK_FLAG(2, 1)
#define IK_UPD_RGB_TO_YUV IK_FLAG(2, 2)
#define IK_UPD_CHROMA_SCALE IK_FLAG(2, 3)
#define IK_UPD_CHROMA_MEDIAN IK_FLAG(2, 4)
#define IK_UPD_DEMOSAIC IK_FLAG(2, 5)
#define IK_UPD_GBGR_MISMATCH IK_FLAG(2, 6)
#define IK_UPD_LUMA_PROCESSING_MODE IK_FLAG(2, 7)
#define IK_UPD_CHROMA_FILTER IK_FLAG(3, 0)
#define IK_UPD_ASF IK_FLAG(3, 1)
#define IK_UPD_VIDEO_MCTF IK_FLAG(3, 2)
#define IK_UPD_MCTF_TEMPORAL_ADJUST IK_FLAG(3, 3)
#define IK_UPD_MCTF_TEMPORAL_ADJUST_Y IK_FLAG(3, 4)
#define IK_UPD_MCTF_TEMPORAL_ADJUST_CB IK_FLAG(3, 5)
#define IK_UPD_MCTF_TEMPORAL_ADJUST_CR IK_FLAG(3, 6)
#define IK_UPD_AAA_STATISTICS IK_FLAG(3, 7)
#define IK_UPD_AAA_PSEUDO_Y IK_FLAG(4, 0)
#define IK_UPD_AAA_HISTOGRAM IK_FLAG(4, 1)
#define IK_UPD_AAA_EARLY_WB_GAIN IK_FLAG(4, 2)
#define IK_UPD_AAA_AF_STATISTICS_EX IK_FLAG(4, 3)
#define IK_UPD_FIRST_SHP_BOTH IK_FLAG(4, 4)
#define IK_UPD_FIRST_SHP_NOISE IK_FLAG(4, 5)
#define IK_UPD_FIRST_SHP_SHARPEN_FIR IK_FLAG(4, 6)
#define IK_UPD_FIRST_SHP_SHARPEN_CORING IK_FLAG(4, 7)
#define IK_UPD_FIRST_SHP_CORING_INDEX_SCALE IK_FLAG(5, 0)
#define IK_UPD_FIRST_SHP_MIN_CORING_RESULT IK_FLAG(5, 1)
#define IK_UPD_FIRST_SHP_MAX_CORING_RESULT IK_FLAG(5, 2)
#define IK_UPD_FIRST_SHP_SCALE_CORING IK_FLAG(5, 3)
#define IK_UPD_FINAL_SHP_BOTH IK_FLAG(5, 4)
#define IK_UPD_FINAL_SHP_NOISE IK_FLAG(5, 5)
#define IK_UPD_FINAL_SHP_SHARPEN_FIR IK_FLAG(5, 6)
#define IK_UPD_FINAL_SHP_SHARPEN_CORING IK_FLAG(5, 7)
#define IK_UPD_FINAL_SHP_CORING_INDEX_SCALE IK_FLAG(6, 0)
#define IK_UPD_FINAL_SHP_MIN_CORING_RESULT IK_FLAG(6, 1)
#define IK_UPD_FINAL_SHP_MAX_CORING_RESULT IK_FLAG(6, 2)
#define IK_UPD_FINAL_SHP_SCALE_CORING IK_FLAG(6, 3)
#define IK_UPD_CONTRAST_ENHANCE IK_FLAG(6, 4)
#define IK_UPD_RGB_IR IK_FLAG(6, 5)
#define IK_UPD_RGB_IR_INTERNAL IK_FLAG(6, 6)
#define IK_UPD_AMP_LINEAR_HDS(e) (IK_FLAG(6, 7) + (e)) /* 6.7-7.2 */
#define IK_UPD_VARIABLE_RANGE IK_FLAG(7, 3)
#define IK_UPD_MOTION_DETECT IK_FLAG(7, 4)
#define IK_UPD_VIDEO_MCTF_B IK_FLAG(7, 5)
#define IK_UPD_VIDEO_MCTF_B_LEVEL IK_FLAG(7, 6)
#define IK_UPD_INTERNAL_MCTF_FAST IK_FLAG(7, 7)

/* Update flags, bytes 8-13: one bit per HDR exposure (e) or blend step (b). */
#define IK_UPD_HDR_STATIC_BLACK_LEVEL(e) (IK_FLAG(8, 0) + (e)) /* 8.0-8.3 */
#define IK_UPD_HDR_ALPHA_CALC_CFG(b) (IK_FLAG(8, 4) + (b))     /* 8.4-8.6 */
#define IK_UPD_HDR_ALPHA_CALC_THRESH(b) (IK_FLAG(8, 7) + (b))  /* 8.7-9.1 */
#define IK_UPD_HDR_ALPHA_CALC_BLACK_LEVEL IK_FLAG(9, 2)
#define IK_UPD_HDR_ALPHA_TABLE(b) (IK_FLAG(9, 4) + (b))        /* 9.4-9.6 */
#define IK_UPD_HDR_AMP_LINEAR(e) (IK_FLAG(9, 7) + (e))         /* 9.7-10.2 */
#define IK_UPD_HDR_FRONT_END_WB_GAIN(e) (IK_FLAG(10, 6) + (e)) /* 10.6-11.1 */
#define IK_UPD_HDR_DGAIN_SATURATION(e) (IK_FLAG(11, 2) + (e))  /* 11.2-11.5 */
#define IK_UPD_HDS_ALPHA_CALC_THRESH(b) (IK_FLAG(12, 0) + (b)) /* 12.0-12.2 */
#define IK_UPD_HDR_VIGNETTE IK_FLAG(12, 3)
#define IK_UPD_AMP_LINEAR_BLACK_LEVEL(e) (IK_FLAG(12, 4) + (e)) /* 12.4-12.7 */
#define IK_UPD_HDR_BLEND_BLACK_LEVEL(b) (IK_FLAG(13, 0) + (b))  /* 13.0-13.2 */

/* True when any flag from `first` to `last` (inclusive) is set. */
static inline int ik_flag_any(const uint8_t *flags, unsigned first, unsigned last)
{
	for (unsigned f = first; f <= last; f++)
		if (ik_flag_test(flags, f))
			return 1;
	return 0;
}

#endif

/*
 * "/dev/qvd", the SoC's video driver: every request the camera stack sends
 * it, with one argument record per request. The product code and the
 * driver's model both include this header.
 *
 * Codes use the Linux request encoding, but the size field is nominal: the
 * argument points to the record named beside each code (a plain value where
 * it says so). Words are u32 and little-endian; a negative result is a
 * failure. Fields not named are the driver's own and callers leave them 0.
 */
#ifndef QVD_IOCTL_H
#define QVD_IOCTL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QVD_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QVD_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#define QVD_ASSERT_SIZE(type, n) QVD_ASSERT(sizeof(type) == (n), #type " is " #n " bytes")
#define QVD_ASSERT_AT(type, field, n) QVD_ASSERT(offsetof(type, field) == (n), #type "." #field " at " #n)

#define QVD_DEVICE "/dev/qvd"

/* ---- driver state and system description ---------------------------- */

/* u32 out: 1 and 2 mean the DSP is already running. */
#define QVD_IOC_GET_QVD_STATE 0x80045610ul
#define QVD_STATE_IDLE 0u
#define QVD_STATE_RUNNING 1u
#define QVD_STATE_RUNNING_B 2u

/* Plain value: a VIN mask; returns after the next frame. */
#define QVD_IOC_WAIT_NEXT_IDSP_FRAME 0x40025610ul

/* System information: answer 1 asks for the normal video boot. */
#define QVD_IOC_QUERY_SYSTEM_INFO 0xc0085603ul
#define QVD_SYSTEM_INFO_QUERY 1u

typedef struct qvd_system_info {
	uint32_t zero;
	uint16_t query; /* QVD_SYSTEM_INFO_QUERY */
	uint16_t answer;
	uint8_t reserved[32];
} qvd_system_info;
QVD_ASSERT_SIZE(qvd_system_info, 40);
QVD_ASSERT_AT(qvd_system_info, answer, 6);

/* System resources, generic form: query = QVD_RESOURCE_GENERIC in. */
#define QVD_IOC_GET_SYSTEM_RESOURCE 0xc0015615ul
#define QVD_RESOURCE_GENERIC 255u
#define QVD_MAX_VIN 6u

/* Bits of a VIN record's control byte. */
#define QVD_VIN_CTRL_SENSOR (1u << 2) /* the 3A drives this source */
#define QVD_VIN_CTRL_EXPO_SHIFT 3u    /* bits 3-5: exposures */
#define QVD_VIN_CTRL_EXPO_MASK 7u
#define QVD_VIN_HDR_FLAG 1u      /* hdr_flags bit 0 */
#define QVD_VIN_HDR_DSP_SHIFT 1u /* hdr_flags bits 1-2: DSP combines */
#define QVD_VIN_HDR_DSP_MASK 3u

typedef struct qvd_vin_resource {
	int32_t source_id;
	uint8_t reserved0[138];
	uint8_t follow_chan; /* whose white balance and exposure this VIN takes */
	uint8_t reserved1;
	uint8_t ctrl; /* QVD_VIN_CTRL_* */
	uint8_t reserved2[2];
	uint8_t ctx_id; /* the source's context */
	uint32_t reserved3;
	uint32_t hdr_flags; /* QVD_VIN_HDR_* */
} qvd_vin_resource;
QVD_ASSERT_SIZE(qvd_vin_resource, 156);
QVD_ASSERT_AT(qvd_vin_resource, follow_chan, 142);
QVD_ASSERT_AT(qvd_vin_resource, ctrl, 144);
QVD_ASSERT_AT(qvd_vin_resource, ctx_id, 147);
QVD_ASSERT_AT(qvd_vin_resource, hdr_flags, 152);

typedef struct qvd_system_resource {
	uint8_t reserved0[128];
	qvd_vin_resource vin[QVD_MAX_VIN];
	uint8_t reserved1[48];
	uint8_t query; /* QVD_RESOURCE_GENERIC */
	uint8_t reserved2[2];
	uint8_t vin_num;
	uint32_t vin_config;  /* kept by the channel description */
	uint32_t tuning_word; /* bits 8-10: first key of the tuning lookup */
	uint8_t reserved3[48];
} qvd_system_resource;
QVD_ASSERT_SIZE(qvd_system_resource, 1172);
QVD_ASSERT_AT(qvd_system_resource, vin, 128);
QVD_ASSERT_AT(qvd_system_resource, query, 1112);
QVD_ASSERT_AT(qvd_system_resource, vin_num, 1115);
QVD_ASSERT_AT(qvd_system_resource, vin_config, 1116);
QVD_ASSERT_AT(qvd_system_resource, tuning_word, 1120);

/* Encode-mode capability: byte 0 = QVD_RESOURCE_GENERIC in; the encode mode
 * in byte 0 and the chroma-radius code in bits 16-17 of the first u64 out. */
#define QVD_IOC_QUERY_ENC_MODE_CAP 0xc0085616ul
#define QVD_ENC_MODE_CAP_SIZE 36u

/* ---- image-processing memory ------------------------------------------ */

/* The driver's buffer: its length and physical address out; the caller maps
 * the length from "/dev/qvd" at the address as the offset. */
#define QVD_IOC_MAP_IMGPROC 0xc0085618ul
#define QVD_IMGPROC_BUF_IK 8u   /* image-kernel working memory */
#define QVD_IMGPROC_BUF_SBP 14u /* static bad-pixel map */

typedef struct qvd_imgproc_map {
	uint32_t buf_id;
	uint32_t pad;
	uint64_t length;
	uint64_t addr;
} qvd_imgproc_map;
QVD_ASSERT_SIZE(qvd_imgproc_map, 24);
QVD_ASSERT_AT(qvd_imgproc_map, length, 8);
QVD_ASSERT_AT(qvd_imgproc_map, addr, 16);

/* ---- video processing and the image pipeline --------------------------- */

#define QVD_IOC_GET_VIDEO_PROC 0xc0085666ul
#define QVD_VIDEO_PROC_MAIN 1u

typedef struct qvd_video_proc {
	uint32_t kind; /* QVD_VIDEO_PROC_MAIN */
	uint32_t channel;
	uint8_t reserved0[28];
	uint16_t main_width;
	uint16_t reserved1;
	uint16_t main_height;
	uint16_t reserved2;
} qvd_video_proc;
QVD_ASSERT_SIZE(qvd_video_proc, 44);
QVD_ASSERT_AT(qvd_video_proc, main_width, 36);
QVD_ASSERT_AT(qvd_video_proc, main_height, 40);

#define QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG 0x40085670ul
#define QVD_APPLY_PENDING_CMD 3u

typedef struct qvd_apply_pending {
	uint32_t cmd; /* QVD_APPLY_PENDING_CMD */
	uint32_t vin_mask;
} qvd_apply_pending;
QVD_ASSERT_SIZE(qvd_apply_pending, 8);

/* Configuration posts, one request per part of a configuration. */
#define QVD_IOC_IMG_SET_MULTI_CHAN_CFG 0x40017063ul
#define QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG 0x40027063ul

/* Part kinds, in the order they are posted. */
#define QVD_CFG_KIND_MAIN 0u
#define QVD_CFG_KIND_HDR 1u
#define QVD_CFG_KIND_CE 2u

typedef struct qvd_multi_chan_cfg {
	uint32_t ctx_id;
	uint32_t kind;
	uint64_t addr;        /* user (mapped) address of the part */
	uint32_t update_mask; /* main part only: all ones for a set request */
	uint32_t reserved;    /* zero */
} qvd_multi_chan_cfg;
QVD_ASSERT_SIZE(qvd_multi_chan_cfg, 24);

/* Plain value: the mask of the channels whose configurations apply now. */
#define QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG 0x40047063ul

/* The per-channel lengths of the shutter/AGC sequences sent before. */
#define QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI 0x40087063ul

typedef struct qvd_apply_seq {
	uint32_t count[4];
} qvd_apply_seq;
QVD_ASSERT_SIZE(qvd_apply_seq, 16);

/* 3A statistics: blocks until the DSP filled a new frame (the latest one
 * for the second code). The valid-flag arrays come first. */
#define QVD_IOC_IMG_GET_STATISTICS 0x80047080ul
#define QVD_IOC_IMG_GET_LATEST_STATISTICS 0x80027080ul

typedef struct qvd_img_statistics {
	uint8_t *rgb_valid;
	uint8_t *cfa_valid;
	uint8_t *hist_valid;
	uint8_t *prehist_valid;
	void *rgb_data;
	void *cfa_data;
	void *hist_data;
	void *prehist_data;
} qvd_img_statistics;
QVD_ASSERT_SIZE(qvd_img_statistics, 8 * sizeof(void *));

/* ---- video inputs ------------------------------------------------------- */

/* Mode word of the video-information request. */
#define QVD_VIDEOINFO_CURRENT (-2)
/* Formats that deliver YUV. */
#define QVD_VIN_FORMAT_IS_YUV(f) ((f) == 1u || (f) == 2u || (f) == 6u)

#define QVD_IOC_VIN_GET_VIDEOINFO 0x80087305ul

typedef struct qvd_vin_videoinfo {
	int32_t source_id;
	int32_t mode; /* QVD_VIDEOINFO_CURRENT */
	uint32_t width;
	uint32_t height;
	uint8_t reserved0[10];
	uint8_t pattern; /* kept by the channel description */
	uint8_t reserved1;
	uint32_t format;
} qvd_vin_videoinfo;
QVD_ASSERT_SIZE(qvd_vin_videoinfo, 32);
QVD_ASSERT_AT(qvd_vin_videoinfo, width, 8);
QVD_ASSERT_AT(qvd_vin_videoinfo, height, 12);
QVD_ASSERT_AT(qvd_vin_videoinfo, pattern, 26);
QVD_ASSERT_AT(qvd_vin_videoinfo, format, 28);

/* The source's AGC description: source in word 0. */
#define QVD_IOC_VIN_GET_AGC 0x80087307ul

typedef struct qvd_vin_agc {
	int32_t source_id;
	uint32_t reserved0[6];
	uint32_t again_max_index; /* word 7 */
	uint32_t reserved1;
	uint32_t dgain_max_index; /* word 9 */
} qvd_vin_agc;
QVD_ASSERT_SIZE(qvd_vin_agc, 40);
QVD_ASSERT_AT(qvd_vin_agc, again_max_index, 28);
QVD_ASSERT_AT(qvd_vin_agc, dgain_max_index, 36);

/* Shutter and gain at once; mode says which of the two apply. */
#define QVD_IOC_VIN_SET_SHT_AGC 0x40087308ul
#define QVD_SHT_AGC_GAIN_ONLY 0u
#define QVD_SHT_AGC_SHUTTER_ONLY 1u
#define QVD_SHT_AGC_BOTH 2u

typedef struct qvd_vin_sht_agc {
	int32_t source_id;
	int32_t ctx_id;
	uint32_t shutter;
	uint32_t agc;
	uint32_t mode; /* QVD_SHT_AGC_* */
} qvd_vin_sht_agc;
QVD_ASSERT_SIZE(qvd_vin_sht_agc, 20);

/* Sensor-side digital-gain ratio, 1024 = 1.0. */
#define QVD_IOC_VIN_SET_DGAIN_RATIO 0x40087309ul
#define QVD_IOC_VIN_GET_DGAIN_RATIO 0x80087309ul

typedef struct qvd_vin_dgain_ratio {
	int32_t source_id;
	int32_t ctx_id;
	uint32_t r;
	uint32_t gr;
	uint32_t gb;
	uint32_t b;
} qvd_vin_dgain_ratio;
QVD_ASSERT_SIZE(qvd_vin_dgain_ratio, 24);

/* Sensor registers. */
#define QVD_IOC_VIN_SET_REG 0x4008730cul
#define QVD_IOC_VIN_GET_REG 0x8008730cul

typedef struct qvd_vin_reg {
	uint32_t zero;
	uint32_t addr;
	uint32_t value;
} qvd_vin_reg;
QVD_ASSERT_SIZE(qvd_vin_reg, 12);

/* A shutter time to sensor rows: the rows come back in place of the time. */
#define QVD_IOC_VIN_SHUTTER2ROW 0xc008730dul

typedef struct qvd_vin_shutter_row {
	int32_t source_id;
	uint32_t value; /* time in, rows out */
} qvd_vin_shutter_row;
QVD_ASSERT_SIZE(qvd_vin_shutter_row, 8);

/* One group of four exposure values of a source. */
typedef struct qvd_vin_group {
	int32_t source_id;
	int32_t ctx_id;
	uint32_t value[4];
	uint32_t zero[2];
} qvd_vin_group;
QVD_ASSERT_SIZE(qvd_vin_group, 32);

/* Shutter rows, analogue and digital gain indexes of up to four exposures,
 * taken at the next frame (pending) or now (HDR gain group). */
#define QVD_IOC_VIN_SET_WDR_GP 0x40087315ul
#define QVD_IOC_VIN_SET_PENDING_SHT_AGC 0x40087317ul

typedef struct qvd_vin_sht_agc_group {
	int32_t source_id;
	int32_t ctx_id;
	qvd_vin_group shutter;
	qvd_vin_group again;
	qvd_vin_group dgain;
	uint8_t zero[8];
} qvd_vin_sht_agc_group;
QVD_ASSERT_SIZE(qvd_vin_sht_agc_group, 112);
QVD_ASSERT_AT(qvd_vin_sht_agc_group, shutter, 8);
QVD_ASSERT_AT(qvd_vin_sht_agc_group, again, 40);
QVD_ASSERT_AT(qvd_vin_sht_agc_group, dgain, 72);
QVD_ASSERT_AT(qvd_vin_sht_agc_group, zero, 104);

/* Read back the HDR gain group: a qvd_vin_group, source and context in,
 * the four analogue (digital) indexes out; for the shutter rows, the value
 * words hold two u64 rows of exposures 0 and 1. */
#define QVD_IOC_VIN_GET_WDR_AGAIN_INDEX_GP 0x8008730ful
#define QVD_IOC_VIN_GET_WDR_DGAIN_INDEX_GP 0x80087310ul
#define QVD_IOC_VIN_GET_WDR_SHUTTER_ROW_GP 0x80087311ul

/* The first exposures of a sensor, applied as a sequence. */
#define QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ 0x40087318ul

typedef struct qvd_vin_sht_agc_seq {
	uint16_t source_id;
	uint16_t pad;
	uint32_t shutter[4];
	uint32_t agc[4];
	uint32_t dgain[4];
} qvd_vin_sht_agc_seq;
QVD_ASSERT_SIZE(qvd_vin_sht_agc_seq, 52);

/* The source's 3A information: source in word 0. */
#define QVD_IOC_VIN_GET_AAAINFO 0x80087313ul

typedef struct qvd_vin_aaa_info {
	int32_t source_id;
	uint32_t hdr_kind; /* word 1: sensor HDR kind */
	uint32_t bayer;    /* word 2: handed to the image kernel */
	uint32_t reserved0[2];
	uint32_t gain_unit; /* word 5 */
	uint32_t reserved1[4];
	uint32_t hdr_mode; /* word 10 */
	uint32_t reserved2[6];
	uint32_t hdr_type; /* word 17 */
	uint32_t reserved3;
	/* word 19: a sensor row in the framework's time unit, 1/512 us */
	uint32_t line_time;
	/* words 20 to 22: the longest shutter of each exposure, in rows */
	uint32_t sht_max[3];
	uint32_t reserved5[6];
	uint32_t hdr_curve; /* word 29: bit 0 */
	uint32_t reserved4[8];
} qvd_vin_aaa_info;
QVD_ASSERT_SIZE(qvd_vin_aaa_info, 152);
QVD_ASSERT_AT(qvd_vin_aaa_info, gain_unit, 20);
QVD_ASSERT_AT(qvd_vin_aaa_info, hdr_mode, 40);
QVD_ASSERT_AT(qvd_vin_aaa_info, hdr_type, 68);
QVD_ASSERT_AT(qvd_vin_aaa_info, line_time, 76);
QVD_ASSERT_AT(qvd_vin_aaa_info, sht_max, 80);
QVD_ASSERT_AT(qvd_vin_aaa_info, hdr_curve, 116);

/* Helmet (extension unit) state: 8 zero bytes, then one u32 in and out. */
#define QVD_IOC_VIN_GET_HELMET_STATE 0x80087314ul
#define QVD_IOC_VIN_SET_HELMET_STATE 0x40087321ul
#define QVD_HELMET_READ_PLUG 64u
#define QVD_HELMET_READ_ACCESS 0u
#define QVD_HELMET_MARK_BROKEN 32u

typedef struct qvd_vin_helmet {
	uint8_t zero[8];
	uint32_t value;
} qvd_vin_helmet;
QVD_ASSERT_SIZE(qvd_vin_helmet, 12);

/* 3A compensation: two u64 in and out. */
#define QVD_IOC_VIN_AAA_COMPENSATION 0xc0087319ul

typedef struct qvd_vin_aaa_comp {
	int32_t source_id;
	int32_t ctx_id;
	uint64_t value[2];
} qvd_vin_aaa_comp;
QVD_ASSERT_SIZE(qvd_vin_aaa_comp, 24);

#define QVD_IOC_VIN_SET_LOW_LIGHT_MODE 0x4008731bul

typedef struct qvd_vin_low_light {
	int32_t source_id;
	uint32_t on;
} qvd_vin_low_light;
QVD_ASSERT_SIZE(qvd_vin_low_light, 8);

/* One u32 each: the context to switch to; frames to hold it. */
#define QVD_IOC_VIN_SWITCH_VSRC_CTX 0x4008731cul
#define QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT 0x4008731dul

/* ---- DSP debug log ------------------------------------------------------ */

/* DSP debug log set-up: struct qvd_dsp_log, written. */
#define QVD_IOC_SET_DSP_LOG 0x40085601ul

#define QVD_DSP_LOG_CMD_SET 1u
#define QVD_DSP_LOG_LEVEL_MAX 4u

struct qvd_dsp_log {
	uint32_t command;     /* QVD_DSP_LOG_CMD_SET */
	uint32_t module_mask; /* one bit per DSP module */
	uint32_t level;       /* 0 to QVD_DSP_LOG_LEVEL_MAX */
	uint32_t reserved[6]; /* zero */
};
QVD_ASSERT_SIZE(struct qvd_dsp_log, 36);

/* ---- 3A statistics as the DSP lays them out ----------------------------- */

/* What QVD_IOC_IMG_GET_STATISTICS fills, per channel (the VIN's index):
 * the channel's slot of each data buffer below and byte c of each valid-flag
 * array. Sums are stored right-shifted by their grid's shift so that they
 * fit 16 bits; counts are in pixels. */
#define QVD_STAT_CHANNELS 4u
#define QVD_STAT_RGB_SIZE 8704u      /* a channel: up to four RGB slices */
#define QVD_STAT_CFA_SIZE 50688u     /* a channel: up to four CFA slices */
#define QVD_STAT_HIST_SIZE 16640u    /* a channel: the sensor's own histogram */
#define QVD_STAT_PREHIST_SIZE 26624u /* a channel: four exposures' records */

/* The value of a black-level word that says the DSP knows none. */
#define QVD_STAT_BLACK_NONE 32768u

/* One statistics grid of a slice: tiles of width x height pixels from
 * (col_start, row_start) of the frame. */
typedef struct qvd_stat_grid {
	uint16_t num_col;
	uint16_t num_row;
	uint16_t col_start;
	uint16_t row_start;
	uint16_t width;
	uint16_t height;
	uint8_t shift; /* sums are kept >> shift */
	uint8_t reserved[3];
} qvd_stat_grid;
QVD_ASSERT_SIZE(qvd_stat_grid, 16);

/* The header in front of every CFA and RGB slice. Slice 0's header is the
 * channel's: it names the channel and how the frame was cut into slices. */
typedef struct qvd_stat_header {
	uint32_t frame; /* the DSP's frame number */
	qvd_stat_grid awb;
	qvd_stat_grid ae;
	qvd_stat_grid af;
	uint8_t slice_col; /* where this slice lies among the slices */
	uint8_t slice_row;
	uint8_t slice_cols; /* byte 54 */
	uint8_t slice_rows; /* byte 55 */
	uint32_t black_red; /* QVD_STAT_BLACK_NONE: none */
	uint32_t black_green;
	uint32_t black_blue;
	uint8_t reserved0[16];
	uint8_t chan; /* byte 84: bits 1-3 the channel */
	uint8_t reserved1[43];
} qvd_stat_header;
QVD_ASSERT_SIZE(qvd_stat_header, 128);
QVD_ASSERT_AT(qvd_stat_header, slice_cols, 54);
QVD_ASSERT_AT(qvd_stat_header, slice_rows, 55);
QVD_ASSERT_AT(qvd_stat_header, black_red, 56);
QVD_ASSERT_AT(qvd_stat_header, chan, 84);
#define QVD_STAT_CHAN(byte84) (((byte84) >> 1) & 7u)
#define QVD_STAT_CHAN_BYTE(chan) ((uint8_t)(((chan)&7u) << 1))

/* White-balance tile: the sums of red, of the two greens' mean and of blue
 * over the quads of the tile, then the pixels at or below black (under) and
 * clipped (over); the sums leave those pixels out. */
typedef struct qvd_awb_tile {
	uint16_t r, g, b;
	uint16_t under, over;
} qvd_awb_tile;
QVD_ASSERT_SIZE(qvd_awb_tile, 10);

/* Exposure tile: the sum of every valid pixel, and the pixels left out. */
typedef struct qvd_ae_tile {
	uint16_t sum;
	uint16_t under, over;
} qvd_ae_tile;
QVD_ASSERT_SIZE(qvd_ae_tile, 6);

/* Focus tile: the luma sum and the two focus filters' values. */
typedef struct qvd_af_tile {
	uint16_t sum;
	uint16_t fv1, fv2;
} qvd_af_tile;
QVD_ASSERT_SIZE(qvd_af_tile, 6);

#define QVD_STAT_AWB_TILES 1024u
#define QVD_STAT_AE_TILES 96u
#define QVD_STAT_AF_TILES 96u
#define QVD_STAT_HIST_BINS 64u

/* Four 64-bin histograms of value >> 8: red, green, blue and luma. The
 * colour arrays count the pixels of their colour, the luma array every
 * pixel (each takes its quad's mean). */
typedef struct qvd_stat_hist {
	uint32_t bin[4][QVD_STAT_HIST_BINS];
} qvd_stat_hist;
QVD_ASSERT_SIZE(qvd_stat_hist, 1024);

/* CFA (raw Bayer) statistics, taken before the DSP's white balance. Tiles
 * run row by row over the slice's own grid. */
typedef struct qvd_cfa_slice {
	qvd_stat_header header;
	qvd_awb_tile awb[QVD_STAT_AWB_TILES];
	qvd_ae_tile ae[QVD_STAT_AE_TILES];
	qvd_af_tile af[QVD_STAT_AF_TILES];
	qvd_stat_hist hist;
	uint8_t reserved[128];
} qvd_cfa_slice;
QVD_ASSERT_SIZE(qvd_cfa_slice, 12672);
QVD_ASSERT_AT(qvd_cfa_slice, ae, 10368);
QVD_ASSERT_AT(qvd_cfa_slice, hist, 11520);
#define QVD_CFA_SLICES (QVD_STAT_CFA_SIZE / sizeof(qvd_cfa_slice))

/* RGB statistics, after demosaic and the DSP's white balance: the exposure
 * tiles' luma sums, the focus tiles and the histograms, in which every
 * array counts every pixel. */
typedef struct qvd_rgb_slice {
	qvd_stat_header header;
	uint16_t ae_sum[QVD_STAT_AE_TILES];
	qvd_af_tile af[QVD_STAT_AF_TILES];
	uint8_t reserved[256];
	qvd_stat_hist hist;
} qvd_rgb_slice;
QVD_ASSERT_SIZE(qvd_rgb_slice, 2176);
QVD_ASSERT_AT(qvd_rgb_slice, af, 320);
QVD_ASSERT_AT(qvd_rgb_slice, hist, 1152);
#define QVD_RGB_SLICES (QVD_STAT_RGB_SIZE / sizeof(qvd_rgb_slice))

/* The sensor's histograms of one exposure, before any DSP gain: per slice
 * 128 bins of value >> 7 of red, green and blue pixels. The next exposure's
 * record follows at QVD_PREHIST_RECORD_SIZE. */
#define QVD_PREHIST_BINS 128u
#define QVD_PREHIST_RECORD_SIZE 6656u
#define QVD_PREHIST_EXPOSURES (QVD_STAT_PREHIST_SIZE / QVD_PREHIST_RECORD_SIZE)

typedef struct qvd_prehist_slice {
	uint8_t header[128];
	uint32_t bin[3][QVD_PREHIST_BINS];
} qvd_prehist_slice;
QVD_ASSERT_SIZE(qvd_prehist_slice, 1664);

typedef struct qvd_prehist_header {
	uint8_t frame_low;
	uint8_t chan; /* bits 0-2 the channel */
	uint8_t exposure;
	uint8_t reserved0;
	uint8_t slices; /* byte 4 */
	uint8_t reserved1[123];
} qvd_prehist_header;
QVD_ASSERT_SIZE(qvd_prehist_header, 128);
#define QVD_PREHIST_SLICES                                                                                   \
	((QVD_PREHIST_RECORD_SIZE - sizeof(qvd_prehist_header)) / sizeof(qvd_prehist_slice))

#endif

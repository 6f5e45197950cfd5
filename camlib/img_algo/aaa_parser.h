/* 3A statistics fetch and parse: the DSP's statistics of every channel
 * fetched from the video driver into static buffers, and turned into one
 * fixed-layout parse result per channel. */
#ifndef CAMLIB_IMG_ALGO_AAA_PARSER_H
#define CAMLIB_IMG_ALGO_AAA_PARSER_H

#include "img_channel.h"
#include "qvd_ioctl.h"

#include <stddef.h>
#include <stdint.h>

/* The statistics buffers as the library holds them: data first, then the
 * per-channel valid flags in the same order. */
typedef struct aaa_stat_desc {
	void *rgb;     /* QVD_STAT_RGB_SIZE a channel */
	void *cfa;     /* QVD_STAT_CFA_SIZE a channel */
	void *hist;    /* QVD_STAT_HIST_SIZE a channel */
	void *prehist; /* QVD_STAT_PREHIST_SIZE a channel */
	uint8_t *rgb_valid;
	uint8_t *cfa_valid;
	uint8_t *hist_valid;
	uint8_t *prehist_valid;
} aaa_stat_desc;

/* One static area for all of it, as the camera library lays it out: the
 * four data buffers of four channels each, then the four flag arrays. */
#define AAA_STAT_AREA_SIZE 410640u
void aaa_stat_desc_layout(uint8_t *area, aaa_stat_desc *desc);

#define AAA_AWB_TILES 1024u
#define AAA_AE_TILES 96u
#define AAA_AF_TILES 96u
#define AAA_PREHIST_EXPOSURES 4u
#define AAA_SENSOR_HIST_BINS 244u
/* An exposure tile without a valid pixel. */
#define AAA_LUMA_NONE 65535u
#define AAA_LUMA_MAX 16383u

typedef struct aaa_awb_tile {
	uint32_t r, g, b; /* normalised, black level off */
	uint32_t luma;    /* green x CFA gain >> 20 */
	uint32_t unused[3];
} aaa_awb_tile;

typedef struct aaa_ae_tile {
	uint32_t cfa_luma;
	uint32_t rgb_luma;
} aaa_ae_tile;

typedef struct aaa_af_tile {
	uint16_t sum; /* normalised luma */
	uint16_t fv1, fv2;
} aaa_af_tile;

/* Four 64-bin arrays in the order the DSP delivers them: red, green, blue,
 * luma. */
typedef struct aaa_histogram {
	uint32_t bin[4][64];
} aaa_histogram;

/* One CFA parse: what a channel's CFA statistics (or, for an RGB-IR
 * sensor, their second half) give, with the RGB statistics beside. */
typedef struct aaa_cfa_set {
	uint8_t header[128]; /* slice 0's, its grids widened to the whole frame */
	aaa_awb_tile awb[AAA_AWB_TILES];
	aaa_ae_tile ae[AAA_AE_TILES];
	aaa_af_tile cfa_af[AAA_AF_TILES];
	aaa_af_tile rgb_af[AAA_AF_TILES];
	aaa_histogram cfa_hist;
	aaa_histogram rgb_hist;
} aaa_cfa_set;

typedef struct aaa_sensor_hist {
	uint8_t valid;
	uint8_t unused;
	uint16_t head16[2];
	uint32_t head32[6];
	uint32_t bin[AAA_SENSOR_HIST_BINS];
} aaa_sensor_hist;

/* The parse result of one channel. The fourth pre-histogram takes the room
 * before the sensor histogram. */
typedef struct aaa_parse_result {
	aaa_cfa_set set;
	uint32_t prehist[AAA_PREHIST_EXPOSURES][3][128];
	aaa_sensor_hist sensor_hist;
	uint8_t reserved[48];
	aaa_cfa_set set2; /* RGB-IR sensors (channel_info word 12) */
	uint16_t awb_tiles, ae_tiles, af_tiles;
	uint8_t reserved2[2];
} aaa_parse_result;

/* What parse_aaa_data fills: four results, then the statistics-valid flags
 * (a channel is valid when its CFA, RGB or pre-histogram flag was set). */
typedef struct aaa_parse_out {
	aaa_parse_result chan[IMG_MAX_CHANNELS];
	uint32_t valid[IMG_MAX_CHANNELS];
} aaa_parse_out;

#ifdef __cplusplus
static_assert(sizeof(aaa_cfa_set) == 32768, "CFA parse set");
static_assert(offsetof(aaa_cfa_set, ae) == 28800, "AE tiles at 28800");
static_assert(offsetof(aaa_cfa_set, cfa_af) == 29568, "CFA AF tiles at 29568");
static_assert(offsetof(aaa_cfa_set, rgb_af) == 30144, "RGB AF tiles at 30144");
static_assert(offsetof(aaa_cfa_set, cfa_hist) == 30720, "CFA histogram at 30720");
static_assert(offsetof(aaa_cfa_set, rgb_hist) == 31744, "RGB histogram at 31744");
static_assert(offsetof(aaa_parse_result, prehist) == 32768, "pre-histograms at 32768");
static_assert(offsetof(aaa_parse_result, sensor_hist) == 38912, "sensor histogram at 38912");
static_assert(offsetof(aaa_parse_result, sensor_hist.bin) == 38944, "sensor histogram bins at 38944");
static_assert(offsetof(aaa_parse_result, set2) == 39968, "second CFA set at 39968");
static_assert(offsetof(aaa_parse_result, awb_tiles) == 72736, "tile counts at 72736");
static_assert(sizeof(aaa_parse_result) == 72744, "parse result");
static_assert(sizeof(aaa_parse_out) == 4 * 72744 + 16, "parse results and flags");
#endif

/* Fetches a frame's statistics (blocks until the DSP has a new frame);
 * -1 for a NULL descriptor or a failed request. */
int hal_get_aaa_stat(int fd, aaa_stat_desc *desc);
/* The same for the latest statistics, new or not. */
int hal_get_latest_aaa_stat(int fd, aaa_stat_desc *desc);

/* Parses every channel's statistics; 0, or -1 when a step failed for some
 * channel (the other steps and channels go on). */
int parse_aaa_data(const aaa_stat_desc *desc, const channel_info info[IMG_MAX_CHANNELS], aaa_parse_out *out);
/* One channel's CFA data into a parse set with gain g (4096 = 1.0). */
int parse_cfa_data(int chan, const uint8_t *cfa, uint32_t gain, aaa_cfa_set *set, uint16_t counts[3]);

/* One gain a channel for the channel count (4096 = 1.0 each at start). */
int parse_aaa_set_cfa_gain(const uint32_t *gains);
uint32_t parse_aaa_get_cfa_gain(int chan);
/* The 54-byte sensor part of the channel's statistics table. */
#define AAA_SENSOR_DESC_SIZE 54
int parse_aaa_set_sensor_desc(const void *desc);
const uint8_t *parse_aaa_get_sensor_desc(void);
/* Channels the parser walks, 1 to 4; -1 outside. */
int parse_aaa_set_channel_num(int n);
int parse_aaa_get_channel_num(void);
void parse_aaa_set_debug(uint32_t on);
/* 8 x the mean luma bin (1 to 64) of a set's CFA histogram; 0 when it is
 * empty. */
int32_t parse_aaa_luma_mean(const aaa_cfa_set *set);
/* The two source-context luma values of a channel (service mode); -1 for
 * a channel outside 0..3 or NULL. */
int parse_aaa_get_vsrc_luma(int chan, int32_t out[2]);

/* Writes the channel's white-balance store entry: pending, with these
 * preload gains (1024 = 1.0). */
void awb_set_pending_wb_gain(int chan, uint32_t r, uint32_t g, uint32_t b);

#endif

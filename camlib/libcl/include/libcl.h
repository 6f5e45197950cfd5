/*
 * The camera library's public API: the only way the daemon's platform and
 * algorithm steps reach the SoC's 3A machinery. Every call takes a channel
 * number and a record owned by the caller; the library copies in or out and
 * keeps no pointer. Per-channel calls return 0 or -1.
 */
#ifndef CAMLIB_LIBCL_H
#define CAMLIB_LIBCL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LIBCL_HIST_BIN_NUM 64
#define LIBCL_HDR_HIST_BIN_NUM 128
#define LIBCL_STATS_SIZE 9610
/* The AF grid's tiles the block carries: every tile the parser keeps. */
#define LIBCL_AF_TILE_NUM 96
/* The library writes the block up to here; the rest keeps what the caller had. */
#define LIBCL_STATS_WRITTEN 6688

typedef struct libcl_hist {
	uint32_t his_bin_r[LIBCL_HIST_BIN_NUM];
	uint32_t his_bin_g[LIBCL_HIST_BIN_NUM];
	uint32_t his_bin_b[LIBCL_HIST_BIN_NUM];
	uint32_t his_bin_y[LIBCL_HIST_BIN_NUM];
} libcl_hist;

typedef struct libcl_hdr_hist {
	uint32_t his_bin_r[LIBCL_HDR_HIST_BIN_NUM];
	uint32_t his_bin_g[LIBCL_HDR_HIST_BIN_NUM];
	uint32_t his_bin_b[LIBCL_HDR_HIST_BIN_NUM];
} libcl_hdr_hist;

/* One channel's statistics. Packed: blocks of this size lie back to back in
 * the daemon's statistics record, so their fields are not word-aligned
 * beyond the first block. */
typedef struct __attribute__((packed)) libcl_stats {
	libcl_hist cfa_hist;
	libcl_hist rgb_hist;
	libcl_hdr_hist cfa_hdr_hist[2];
	/* The CFA AF tiles row by row as the parser has them, three u16
	 * each (normalised luma sum, the two filter values). */
	uint16_t af_tile0[3];
	uint16_t af_tiles[LIBCL_AF_TILE_NUM - 1][3];
	uint8_t not_written[6672 - 5120 - 6 * LIBCL_AF_TILE_NUM];
	uint32_t af_grid[4]; /* columns, rows, tile height, tile width */
	uint8_t reserved[LIBCL_STATS_SIZE - LIBCL_STATS_WRITTEN];
} libcl_stats;

#ifdef __cplusplus
static_assert(sizeof(libcl_stats) == LIBCL_STATS_SIZE, "libcl_stats is 9610 bytes");
static_assert(offsetof(libcl_stats, rgb_hist) == 1024, "rgb_hist at 1024");
static_assert(offsetof(libcl_stats, cfa_hdr_hist) == 2048, "cfa_hdr_hist at 2048");
static_assert(offsetof(libcl_stats, af_tile0) == 5120, "af_tile0 at 5120");
static_assert(offsetof(libcl_stats, af_tiles) == 5126, "the further AF tiles at 5126");
static_assert(offsetof(libcl_stats, af_grid) == 6672, "af_grid at 6672");
#endif

/* A tuning id that names no board. */
#define LIBCL_TUNING_INVALID (-1)

/* A channel's requested exposure, as the sensor modules and auto exposure
 * read and write it. */
typedef struct shutter_gain {
	uint32_t shutter[2];   /* rows of the first and the second (HDR) exposure */
	uint32_t gain[2];      /* analogue gain index of each exposure, 0..721 */
	uint32_t extra_gain;   /* added to gain[0] for the combined exposure of HDR methods 4 and 6 */
	uint32_t dgain;        /* digital gain, 4096 = 1.0 */
	uint32_t boost_factor; /* HDR boost factor, 0..256 */
} shutter_gain;

/* The video driver's AAA information of the channel's video source, as the
 * driver returns it (152 bytes). */
typedef struct vin_aaa_info {
	int32_t source_id; /* word 0, filled by the library */
	uint32_t hdr_kind; /* word 1: the sensor's HDR kind */
	uint32_t words2[8];
	uint32_t hdr_mode; /* word 10: 0 linear; 1 to 3 and 15 HDR */
	uint32_t words11[6];
	uint32_t hdr_type; /* word 17 */
	uint32_t word18;
	uint32_t line_time; /* word 19: a sensor row in 1/512 us */
	uint32_t sht0_max;  /* words 20 to 22: the longest shutter of each exposure, in rows */
	uint32_t sht1_max;
	uint32_t sht2_max;
	uint32_t words23[15];
} vin_aaa_info;

/* Black levels: the deferred level, then the static levels R, Gr, Gb, B of a
 * linear channel and of each exposure of an HDR channel (signed 16-bit values
 * widened). */
typedef struct libcl_black_level {
	uint32_t deferred;
	int32_t linear[4];
	int32_t exposure[2][4];
} libcl_black_level;

#ifdef __cplusplus
static_assert(sizeof(shutter_gain) == 28, "shutter_gain is 7 words");
static_assert(sizeof(vin_aaa_info) == 152, "vin_aaa_info is 152 bytes");
static_assert(offsetof(vin_aaa_info, hdr_mode) == 40, "hdr_mode is word 10");
static_assert(offsetof(vin_aaa_info, hdr_type) == 68, "hdr_type is word 17");
static_assert(offsetof(vin_aaa_info, line_time) == 76, "line_time is word 19");
static_assert(offsetof(vin_aaa_info, sht0_max) == 80, "sht0_max is word 20");
static_assert(sizeof(libcl_black_level) == 52, "the black-level record is 13 words");
#endif

/* Word 0 holds the exposure, word 1 the white balance; words 2 and 3 are
 * kept for the caller. */
typedef struct aaa_state {
	uint32_t hold_ae;
	uint32_t hold_awb;
	uint32_t word[2];
} aaa_state;

typedef struct libcl_chroma_scale {
	uint32_t enable;
	uint32_t gain[128];
} libcl_chroma_scale;

/* enable, radius, three luma weights, luma-weight shift; gain curve. */
typedef struct libcl_local_exposure {
	uint32_t word[6];
	uint32_t gain_curve[256];
} libcl_local_exposure;

#define LIBCL_CE_RECORD_SIZE 692
#define LIBCL_HDR_TABLE_RECORD_SIZE 1416
#define LIBCL_CE_LOG_RECORD_SIZE 8
#define LIBCL_TONE_CURVE_SIZE 256
#define LIBCL_TC_CURVE_SIZE 768
/* Words 2 to 129 of the alpha-table record hold the table. */
#define LIBCL_ALPHA_TABLE_WORDS 130

/* Red, green, blue (1024 = 1.0), unused, global digital gain. */
typedef struct libcl_wb_gains {
	uint32_t r_gain;
	uint32_t g_gain;
	uint32_t b_gain;
	uint32_t unused;
	uint32_t dgain;
} libcl_wb_gains;

typedef struct libcl_sensor_wb_gains {
	uint32_t gain[3];
} libcl_sensor_wb_gains;

#ifdef __cplusplus
static_assert(sizeof(libcl_wb_gains) == 20, "white-balance record is 20 bytes");
#endif

/* Brings the library up for a board (its tuning id) and count of video
 * inputs, with NULL-terminated lists of defect-pixel map and lens-shading
 * file paths; 1 on success (also when it is up already), 0 on failure. */
int libcl_init(int32_t board_id, int32_t vin_count, char **dpc_paths, char **lens_shading_paths);
void libcl_deinit(void);

/* Statistics descriptors of the frame tick: the descriptor, or -1. */
int libcl_open_stats_fd(void);
int libcl_open_stats_fd_by_vin(uint32_t vin);
int libcl_close_stats_fd(int fd);

/* Writes 1 to *started when the 3A runs, else 0. */
int libcl_get_aaa_started(uint32_t *started);
/* Copies the channel's latest statistics; the last argument is ignored. */
int libcl_get_stats(int channel, libcl_stats *stats, uint32_t unused);
/* Fills one block, from channel 0. */
int libcl_get_stats_all(libcl_stats *stats, uint32_t unused);

/* Per-channel calls: only channel 0 is served; 0 on success, -1 on failure.
 * Setters leave the value pending for the next frame. Arrays of n words
 * hold one value per exposure of the channel. */
int libcl_get_shutter_and_gain(int channel, shutter_gain *sg);
int libcl_set_shutter_and_gain(int channel, const shutter_gain *sg);
int libcl_get_aaa_state(int channel, aaa_state *state);
int libcl_set_aaa_state(int channel, const aaa_state *state);
int libcl_get_vin_aaa_info(int channel, vin_aaa_info *info);
int libcl_get_black_level(int channel, libcl_black_level *level);
int libcl_set_black_level(int channel, const libcl_black_level *level);
int libcl_set_chroma_scale(int channel, const libcl_chroma_scale *scale);
int libcl_set_sharpness_coring(int channel, uint32_t coring);
int libcl_set_local_exposure(int channel, const libcl_local_exposure *le);
int libcl_get_hdr_blend_config(int channel, uint16_t *blend);
int libcl_get_hdr_threshold(int channel, uint32_t *threshold);
int libcl_set_hdr_threshold(int channel, const uint32_t *threshold);
int libcl_get_hdr_alpha_value(int channel, uint32_t *alpha);
int libcl_set_hdr_alpha_value(int channel, const uint32_t *alpha);
int libcl_get_ce_config(int channel, uint8_t *record);
int libcl_set_ce_config(int channel, const uint8_t *record);
int libcl_get_ce_log_config(int channel, uint8_t *record);
int libcl_set_ce_log_config(int channel, const uint8_t *record);
int libcl_set_hdr_extern_lut(int channel, const uint8_t *record);
int libcl_get_hdr_extern_lut(int channel, uint8_t *record);
int libcl_set_hdr_extern_drc(int channel, const uint8_t *record);
int libcl_set_custom_hdr_luma_calc(int channel);
int libcl_enable_tone_curve(int channel, int32_t mode);
int libcl_set_tone_curve(int channel, const uint16_t *curve);
int libcl_get_tone_curve(int channel, uint16_t *curve);
int libcl_set_tc_curve(int channel, const uint32_t *curve);
int libcl_get_tc_curve(int channel, uint32_t *curve);
int libcl_set_filter_dboffset(int channel, double offset);
int libcl_set_shutter_correction(int channel, double factor);
int libcl_update_adj_index(int channel, double gain);
int libcl_set_bw_mode(int channel, uint32_t mode);
int libcl_get_bw_mode(int channel, uint32_t *mode);
int libcl_set_brightness_ctrl(int channel, const int32_t *brightness);
int libcl_set_saturation_ctrl(int channel, const int32_t *saturation);
int libcl_set_sharpness_ctrl(int channel, const int32_t *level);
int libcl_set_wb_gains(int channel, const libcl_wb_gains *gains);
int libcl_get_wb_gains(int channel, libcl_wb_gains *gains);
int libcl_get_sensor_wb_gains(int channel, libcl_sensor_wb_gains *gains);
int libcl_set_awb_flow(int channel, int32_t flow);
int libcl_set_awb_speed(int channel, int32_t speed);
int libcl_set_hdr_boost_strength(int channel, const uint32_t *strength);
int libcl_get_hdr_mode(int channel, uint32_t *mode);
int libcl_get_hdr_method(int channel, uint32_t *method);
int libcl_set_hdr_alpha_table(int channel, const uint32_t *record);
int libcl_set_global_dgain(int channel, int32_t dgain);
int libcl_get_hdr_blend(int channel, uint8_t *record);
int libcl_set_hdr_blend(int channel, const uint8_t *record);
int libcl_set_low_light_mode(int channel, uint32_t mode);
int libcl_override_shutter_ratio(int channel, float shutter);
int libcl_enable_ldc(int channel, const void *params);
int libcl_disable_ldc(int channel);

#ifdef __cplusplus
}
#endif

#endif

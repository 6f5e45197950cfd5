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
	uint16_t af_tile0[3];
	uint8_t not_written[6672 - 5126];
	uint32_t af_grid[4]; /* columns, rows, tile height, tile width */
	uint8_t reserved[LIBCL_STATS_SIZE - LIBCL_STATS_WRITTEN];
} libcl_stats;

#ifdef __cplusplus
static_assert(sizeof(libcl_stats) == LIBCL_STATS_SIZE, "libcl_stats is 9610 bytes");
static_assert(offsetof(libcl_stats, rgb_hist) == 1024, "rgb_hist at 1024");
static_assert(offsetof(libcl_stats, cfa_hdr_hist) == 2048, "cfa_hdr_hist at 2048");
static_assert(offsetof(libcl_stats, af_tile0) == 5120, "af_tile0 at 5120");
static_assert(offsetof(libcl_stats, af_grid) == 6672, "af_grid at 6672");
#endif

/* Brings the library up for a board (its tuning id) and count of video
 * inputs, with NULL-terminated lists of defect-pixel map and lens-shading
 * file paths; 1 on success (also when it is up already), 0 on failure. */
int libcl_init(int32_t board_id, int32_t vin_count, char **dpc_paths, char **lens_shading_paths);
void libcl_deinit(void);

/* Writes 1 to *started when the 3A runs, else 0. */
int libcl_get_aaa_started(uint32_t *started);
/* Copies the channel's latest statistics; the last argument is ignored. */
int libcl_get_stats(int channel, libcl_stats *stats, uint32_t unused);
/* Fills one block, from channel 0. */
int libcl_get_stats_all(libcl_stats *stats, uint32_t unused);

#ifdef __cplusplus
}
#endif

#endif

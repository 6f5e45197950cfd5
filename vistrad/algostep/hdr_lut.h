#pragma once
// The WDR combination tables: from the two exposures' cumulative histograms
// and smart auto exposure's exposure factor and gains, the SoC's external
// HDR look-up table (long and short exposure to one linear output) and the
// matching dynamic-range-compression table, the DRC amount that dynamic
// image control follows (the platform's per-channel value, 0..400) and the
// HDR-threshold fraction that smart auto exposure forwards.
//
// Two builders share one frame (ratio, effective ratio, grid, outputs):
// the two-segment builder and the three-segment builder. The three-segment
// builder is this system's own construction:
//  - the long fill follows the long exposure's saturation when the
//    saturation maps are given (fill = e^((100 - sens x sat) / 100 x ln Lr) / K,
//    clamped to the floor..1), else the fill map, the log range 65000 by
//    default;
//  - table 0 is the two-segment long table; below the low end (x_low =
//    lut_x_low_end_map, y_low = lut_y_low_end_map, each scaled by its gain
//    map in percent; defaults 0.2 and 0.7) it is replaced by the straight
//    segment from (0, 0) to (x_low x 65535, y_low x T0 at that level),
//    cross-faded over a plateau of lut_blend_plateau_map x 353 grid points
//    (default 0.02);
//  - table 1 is the two-segment short table; with lut_dynamic_short_matching
//    it never lies below table 0;
//  - the DRC tables: with lut_dynamic_drc the DRC amount scales the
//    compression (DRC = T - max(T - y_start, 0) x amount / 400 x (1 - i / 352)),
//    with lut_drc_smooth_blend that reduction also fades out from entry 264
//    to the top; otherwise the two-segment DRC tables and, below a ratio of
//    3, the short table's top following the long one's slope;
//  - with lut_enable_adaptive_threshold, unless smart auto exposure forbids
//    it, lut_hdr_threshold_map by EF goes to the camera library as the HDR
//    threshold.
// Every table is made non-decreasing and at most 65534 at the end.

#include <stdint.h>

#include "dic_map.h"
#include "smart_ae.h"

#define HDR_LUT_ENTRIES 353
#define HDR_LUT_MAX 65534
#define HDR_LUT_BLOCK_SIZE 1416
// 65534 / ln 65535: the compression constant without a log range.
#define HDR_LUT_DEFAULT_K 5909.106680773761

struct image_stats_record;
struct hist_analysis;
struct platform;

// The camera library's external LUT and DRC records.
struct hdr_lut_block {
	uint32_t enable;
	uint16_t table[2][HDR_LUT_ENTRIES];
};
static_assert(sizeof(struct hdr_lut_block) == HDR_LUT_BLOCK_SIZE, "the external LUT record is 1416 bytes");

// What the builders take of smart auto exposure, gathered once per call.
struct hdr_lut_input {
	const struct smart_ae_settings *settings;
	struct platform *platform;
	int channel;
	int32_t stream_id;
	double exposure_factor;
	double long_gain_db;
	double short_gain_db;
	double max_gain_db;
	int ae_mode;
	int threshold_forbidden;
};

// What one build made (also sent): the tables, the DRC amount stored and the
// HDR-threshold fraction.
struct hdr_lut_result {
	struct hdr_lut_block lut;
	struct hdr_lut_block drc;
	uint16_t grid[HDR_LUT_ENTRIES];
	int32_t drc_amount;
	double threshold_scale;
	double ratio;
	double effective_ratio;
};

// Runs the builder that the settings choose and leaves the HDR-threshold
// fraction in the state.
void hdr_lut_update(struct smart_ae_state *ae, const struct image_stats_record *stats);
// Each returns 0, -1 when an argument is missing.
int hdr_lut_build(const struct hdr_lut_input *in, const uint32_t *long_cum, const uint32_t *short_cum,
                  const struct hist_analysis *short_a, const struct hist_analysis *long_a,
                  struct hdr_lut_result *out);
int hdr_lut_build_3_segments(const struct hdr_lut_input *in, const uint32_t *long_cum,
                             const uint32_t *short_cum, const struct hist_analysis *short_a,
                             const struct hist_analysis *long_a, struct hdr_lut_result *out);

// The 353 input levels; HDR method 6 has its own finer grid.
void hdr_lut_grid(uint32_t hdr_method, uint16_t *grid);
// On doubles without scaling: first x at least the value; none gives the
// last y; at or below the first x the first y; equal neighbours the lower y.
double hdr_lut_lookup_double(const double *xs, const double *ys, int count, double x);
// dic_map_lookup, under the builders' name.
void hdr_lut_map_lookup(const struct dic_list *xs, const struct dic_list *ys, int32_t x, double *out);
void hdr_lut_debug_publish(int32_t stream_id, const struct hdr_lut_block *lut, const uint16_t *long_x,
                           const uint16_t *short_x);

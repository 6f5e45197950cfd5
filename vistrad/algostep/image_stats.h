#pragma once
// The image-statistics record (data type 154) as dynamic image control and
// the HDR LUT builder read it: the histogram analyser's five analyses, the
// histograms and the WDR cumulative histograms, in the analyser's member
// order.

#include <stdint.h>

#include "core/control_job.h"

#define IMAGE_STATS_TYPE 154
#define IMAGE_STATS_HIST_BINS 64
#define IMAGE_STATS_CUM_BINS 256
#define IMAGE_STATS_LEVELS 11

struct hist_analysis {
	uint32_t kind;
	int32_t bin_count;
	int32_t low_end;
	int32_t mid_end;
	double data_end;
	int32_t data_threshold;
	double saturation;
	double saturation_raw;
	double forecast;
	double near_sat_target;
	double near_sat_position;
	uint32_t top_count;
	double low_share;
	double mid_share;
	double high_share;
	double total;
	double low_mean;
	double mid_mean;
	double high_mean;
	double weight;
	double weight_unsaturated;
	double low_share_avg;
	double mid_share_avg;
	double high_share_avg;
	double weight_avg;
	int32_t forecast_bin;
	uint32_t include_sat;
	double level_position[IMAGE_STATS_LEVELS];
	double flattest_level;
};

struct image_stats_record {
	struct control_job header;
	struct hist_analysis short_frame;
	struct hist_analysis long_frame;
	struct hist_analysis cfa;
	struct hist_analysis spare;
	struct hist_analysis rgb;
	uint32_t rgb_hist[IMAGE_STATS_HIST_BINS];
	uint32_t cfa_hist[IMAGE_STATS_HIST_BINS];
	uint32_t long_cum_hist[IMAGE_STATS_CUM_BINS];
	uint32_t short_cum_hist[IMAGE_STATS_CUM_BINS];
	int32_t knee;
};

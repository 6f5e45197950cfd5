#pragma once
// The image-statistics record (data type 154) the histogram analyser
// publishes each frame: one analysis per histogram with the histograms
// themselves. Smart auto exposure and dynamic image control read it.

#include <stdint.h>

#include "core/control_job.h"

#define HIST_KIND_RGB 0
#define HIST_KIND_CFA 1
#define HIST_KIND_LONG 2
#define HIST_KIND_SHORT 3
#define HIST_LEVELS 11

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
	double level_position[HIST_LEVELS];
	double flattest_level;
};

struct image_stats_record {
	struct control_job header;
	struct hist_analysis short_frame;
	struct hist_analysis long_frame; // the CFA analysis on a linear sensor
	struct hist_analysis cfa;
	struct hist_analysis unused;
	struct hist_analysis rgb;
	uint32_t rgb_hist[64];
	uint32_t cfa_hist[64];
	uint32_t long_cumulative[256];
	uint32_t short_cumulative[256];
	int32_t knee;
};

#pragma once
// The histogram analyser: the first step of each frame's exposure loop. It
// reduces a stream's histograms of the SoC statistics record (type 42) to a
// handful of numbers each and publishes them, with the histograms, as the
// image-statistics record (type 154) that exposure and image control follow.

#include <stdint.h>

#include "algo_cl_modules.h"
#include "core/control_job.h"
#include "libcl.h"

struct datacache;
struct platform;
struct platform_soc_stats;

#define HIST_ANALYZER_DATA_IMAGE_STATS 154
#define HIST_LEVELS 11
#define HIST_RGB_BINS 59
#define HIST_LINEAR_BINS 256
#define HIST_IMAGE_STATS_CACHE "image_stats"

enum hist_kind {
	HIST_KIND_RGB = 0,
	HIST_KIND_CFA = 1,
	HIST_KIND_LONG = 2,
	HIST_KIND_SHORT = 3,
};

struct hist_analyzer_settings {
	float frame_avg;
	float last_data_avg;
	float short_forecast;
	float long_forecast;
	float cfa_forecast;
	float rgb_forecast;
	float short_near_sat_target;
	float long_near_sat_target;
	float cfa_near_sat_target;
	float rgb_near_sat_target;
	float short_near_sat_gain_limit;
	int32_t rgb_low_end;
	int32_t rgb_mid_end;
	int32_t rgb_data_threshold;
	int32_t cfa_low_end;
	int32_t cfa_mid_end;
	int32_t cfa_data_threshold;
	int32_t long_low_end;
	int32_t long_mid_end;
	int32_t long_data_threshold;
	int32_t short_low_end;
	int32_t short_mid_end;
	int32_t short_data_threshold;
	int32_t drc_threshold;
	uint8_t underexpose_short;
	uint8_t rgb_include_sat;
	uint8_t cfa_include_sat;
	uint8_t long_include_sat;
	uint8_t short_include_sat;
	float saturation_hysteresis;
	uint8_t histogram_averaging;
	uint8_t link_dic_to_master;
	uint8_t ae_low_mid_weight;
	uint8_t enable_hist_datacache;
	uint8_t average_rgb_stats;
};

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

// Data type 154; released by the engine.
struct image_stats_record {
	struct control_job header;
	struct hist_analysis short_frame; // WDR only
	struct hist_analysis long_frame;  // WDR; linear: the CFA analysis exposure follows
	struct hist_analysis cfa;
	struct hist_analysis spare; // always zero
	struct hist_analysis rgb;
	uint32_t rgb_hist[LIBCL_HIST_BIN_NUM];
	uint32_t cfa_hist[LIBCL_HIST_BIN_NUM];
	uint32_t long_cumulative[HIST_LINEAR_BINS];
	uint32_t short_cumulative[HIST_LINEAR_BINS];
	int32_t knee; // 1/4096 units, WDR only
};

struct hist_analyzer_local {
	struct algo_cl_local head;
	struct hist_analysis short_frame;
	struct hist_analysis long_frame;
	struct hist_analysis cfa;
	struct hist_analysis master_cfa;
	struct hist_analysis rgb;
	int32_t wdr;
	int32_t channel;
	struct datacache *datacache;
	int32_t cache_id;
	uint8_t low_mid_weight; // the last analysis weighed low and mid only
	uint8_t black_level_warned;
};

// Which channels an average takes: entry c is 1 when channel c's histogram
// is added; count is the number to divide by.
struct hist_channel_table {
	uint32_t averaged[4];
	uint32_t count;
};

extern const struct algo_cl_module hist_analyzer_cl_module;

int hist_analyzer_cl_init(struct algo_step *step, struct control *engine);
int hist_analyzer_cl_run(struct algo_step *step, struct control *engine);
int hist_analyzer_cl_destroy(struct algo_step *step, struct control *engine);
void hist_analyse(struct hist_analysis *analysis, const uint32_t *histogram,
                  struct hist_analyzer_local *local);
// Kind 0: 64-bin CFA green; 1 and 2: 128-bin HDR green of exposure 0 and 1.
void hist_average_channels(const struct platform_soc_stats *stats, uint32_t *out,
                           const struct hist_channel_table *table, struct platform *platform, int kind);
const char *hist_kind_name(uint32_t kind);

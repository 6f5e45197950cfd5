#pragma once
// Dynamic image control (module algo_dic_cl): one step per stream that, for
// every image-statistics record (data type 154), re-tunes the settings that
// shape tones (tone curve, local exposure, contrast enhancement, boost
// factor, HDR alpha and threshold, chroma scale, black level, digital gain,
// sharpening coring) and leaves them pending in the camera library. The
// HDR-threshold record (data type 162) of smart auto exposure only updates
// the threshold scale.

#include <stdint.h>

#include "algo_cl_modules.h"
#include "dic_map.h"
#include "hist_analyzer.h"
#include "libcl.h"

struct prodconf;
struct prodconf_schema;
struct control;
struct algo_step;
struct platform;
struct sensor;

#define DIC_MODULE_NAME "algo_dic_cl"
#define HDR_THRESHOLD_TYPE 162
#define DIC_PARAM_CONTRAST 5
#define DIC_PARAM_EXPOSURE_PRIORITY_NORMAL 37
#define DIC_PARAM_LOCAL_CONTRAST 132
#define DIC_INFO_LE_APPLIED 73
#define DIC_CHANNELS 4

// The "config" settings of the module; every key is optional.
struct dic_settings {
	int32_t show_stats;
	float dic_max_db_offset;
	uint8_t enable_tone_curve;
	struct dic_list tc_gain_map, tc_alpha_mid, tc_alpha_high, tc_alpha_low, tc_max_change, tc_max_grad;
	struct dic_list tc_base_curve, tc_base_range;
	int32_t tc_base_curve_max_gain;
	int32_t tc_low_point, tc_high_point;
	int32_t tc_change_limit;
	struct dic_list tc_low_cfa_start;
	int32_t tc_stretch_cfa_end;
	struct dic_list tc_low_gamma;
	float tc_cfa_data_start_thrshld;
	uint8_t tc_preserve_contrast;
	struct dic_list tc_preserve_contrast_range;
	int32_t tc_frame_skip;
	uint8_t enable_dynamic_ce;
	struct dic_list ce_ratio_map, ce_gain_map, ce_max_strength, ce_min_strength;
	struct dic_list ce_rgb_low_limit, ce_rgb_mid_limit, ce_rgb_high_limit, ce_rgb_weight_limit;
	struct dic_list ce_range;
	int32_t ce_range_limit_min, ce_range_limit_max;
	float ce_saturation_limit;
	float ce_mid_tone_factor, ce_high_tone_factor;
	int32_t ce_low_pass;
	int32_t ce_coring_gain_shift;
	int32_t ce_frame_skip;
	uint8_t enable_dynamic_coring;
	struct dic_list ce_coring_gain, ce_coring_strength, ce_coring_xstart, ce_coring_ystart,
	    ce_coring_midpoint;
	uint8_t enable_dynamic_boost_factor;
	struct dic_list boost_factor_map_x, boost_factor_map_y, boost_factor_scale_map_x,
	    boost_factor_scale_map_y;
	uint8_t enable_dynamic_alpha;
	struct dic_list hdr_gain_map, hdr_alpha_max_map;
	int32_t hdr_alpha_min;
	struct dic_list hdr_alpha_short_weight, hdr_thresh_min_map;
	int32_t hdr_thresh_max;
	struct dic_list hdr_thresh_short_weight;
	struct dic_list cs_map_gain, cs_map_max_scale, cs_map_desat_scale, cs_map_ratio, cs_map_start_scale;
	int32_t cs_stationary_point, cs_highlight_start_point, cs_highlight_end_point;
	int32_t cs_highlight_boost;
	float cs_max_gain_for_highlight_boost;
	struct dic_list le_map_ratio, le_map_strength, le_map_gain, le_map_max_strength;
	struct dic_list le_midtones, le_lowtones;
	int32_t le_aggressiveness;
	float le_max_slide_bar;
	float le_ratio_boost;
	struct dic_list le_ratio_boost_map;
	float le_slope_min, le_slope_max;
	float le_high2mid_shift, le_high2low_shift;
	float le_low_boost_fator;
	int32_t le_max_curve_offset;
	int32_t le_radius, le_shift;
	float le_low_weight_target;
	int32_t le_smooth;
	int32_t le_frame_skip;
	uint8_t ce_output_enabled;
	struct dic_list ce_output_ef_map, ce_output_gain_map;
	struct dic_list ce_output_low_tones_end_map, ce_output_mid_tones_end_map;
	struct dic_list ce_output_brightness_low_map, ce_output_brightness_mid_map;
	struct dic_list ce_output_low_contrast_boost_map, ce_output_mid_contrast_boost_map;
	struct dic_list ce_output_high_contrast_boost_map;
	struct dic_list ce_ef_scaling_map;
	int32_t bl_correction_frame_skip;
	uint8_t enable_bl_correction;
	struct dic_list bl_map_gain, bl_correction_map, bl_correction_short_frame_map;
	uint8_t enable_custom_luma_blending_calc;
	struct dic_list hdr_alpha_table;
	int32_t dic_sharpness_coring;
	struct dic_list cs_table;
	struct dic_list dgain_gain_map, dgain_map;
	struct dic_list awb_speed;
	struct dic_list tc_ev_map, tc_rgb_target_map;
	float tc_min_gamma, tc_max_gamma;
	uint8_t enable_global_tc;
};

extern const struct prodconf_schema dic_settings_schema;
// Frees a settings record with every list it holds.
void dic_settings_free(void *settings);

// The camera library's contrast-enhancement record (692 bytes): 27 words,
// the coring table, the output curve and two words.
struct dic_ce_record {
	uint32_t enable;
	uint32_t low_pass_radius;
	uint32_t luma_avg_method;
	uint32_t luma_avg_weight[4];
	uint32_t fir_enable;
	uint32_t fir_coeff[3];
	uint32_t coring_index_shift;
	uint32_t coring_index_scale_low_strength;
	uint32_t coring_index_scale_mid_strength;
	uint32_t coring_index_scale_high_strength;
	uint32_t coring_index_scale_low;
	uint32_t coring_index_scale_high;
	uint32_t coring_index_scale_low_delta;
	uint32_t coring_index_scale_high_delta;
	uint32_t coring_gain_shift;
	uint32_t coring_gain_low_strength;
	uint32_t coring_gain_mid_strength;
	uint32_t coring_gain_high_strength;
	uint32_t coring_gain_low;
	uint32_t coring_gain_high;
	uint32_t coring_gain_low_delta;
	uint32_t coring_gain_high_delta;
	uint8_t coring_table[64];
	uint16_t output_table[256];
	uint32_t output_enable;
	uint32_t output_shift;
};
static_assert(sizeof(struct dic_ce_record) == LIBCL_CE_RECORD_SIZE, "the CE record is 692 bytes");

// The step's local data; the first word is the reference count of the
// control engine's local-data convention, the settings follow it.
struct dic_state {
	uint32_t refs;
	const struct dic_settings *settings;
	struct platform *platform;
	int channel;
	int32_t stream_id;
	uint8_t first_run;
	uint8_t wdr;
	double exposure_ratio;
	uint8_t ae_hold;
	int32_t long_gain;  // dB, Q14
	int32_t short_gain; // dB, Q14
	int32_t prev_long_gain;
	int32_t le_skip, tc_skip, ce_skip, bl_skip;
	int32_t last_contrast;
	int32_t local_contrast;
	uint8_t tone_curve_on;
	uint32_t hdr_mode;
	int32_t tone_value; // the per-channel DRC amount, 0..400
	shutter_gain sg;

	// Tone curve.
	uint16_t tone_curve[256];
	double tc_low_point, tc_high_point;
	double tc_alpha_mid;
	uint8_t tc_stable;
	int32_t tc_stable_count;
	int32_t tc_last_change;
	double tc_stable_low, tc_stable_mid;
	int32_t tc_delta;
	int32_t tc_change_sum;
	double tc_push;
	float tc_gamma;

	// Local exposure.
	int32_t le_last_lc;
	uint8_t le_stable;
	double le_stable_mid, le_stable_low;
	double le_value;    // smoothed low value
	int32_t le_applied; // the applied value A
	double le_slope;    // smoothed slope
	double le_shape;    // shape slope
	int32_t le_offset;
	double le_low_boost;
	int32_t le_strength;
	libcl_local_exposure le;

	// Contrast enhancement.
	struct dic_ce_record ce;
	int32_t ce_applied;
	int32_t ce_target;
	int32_t ce_lc;
	int32_t ce_last_tone;
	int32_t ce_held;
	uint8_t ce_hold_recorded;
	uint8_t ce_off; // switched off for good by missing limit maps

	// HDR alpha and threshold.
	uint32_t alpha;
	uint32_t threshold;
	libcl_chroma_scale cs;
	double threshold_scale;
	uint32_t alpha_table[LIBCL_ALPHA_TABLE_WORDS];
	uint8_t alpha_table_valid;
	uint8_t cs_table_valid;
	int32_t dgain;
	uint8_t custom_luma_done;
};

// The output tables last sent, per channel, shared by all streams.
extern uint16_t dic_ce_output_sent[DIC_CHANNELS][256];

// The module's description for the algorithm table.
extern const struct algo_cl_module dic_cl_module;

int dic_cl_init(struct algo_step *step, struct control *engine);
int dic_cl_run(struct algo_step *step, struct control *engine);
int dic_cl_destroy(struct algo_step *step, struct control *engine);

// Sub-blocks of one update.
void dic_update_tone_curve(struct dic_state *st, const struct image_stats_record *stats);
int dic_update_local_exposure(struct dic_state *st, const struct image_stats_record *stats);
void dic_update_contrast_enhancement(struct dic_state *st, const struct image_stats_record *stats);
// 0 sent or nothing to send, -1 a failed send.
int dic_update_ce_output_curve(struct dic_state *st);
void dic_update_coring_table(struct dic_state *st);
void dic_update_boost(struct dic_state *st);
void optimise_alpha(struct dic_state *st, const struct image_stats_record *stats);
void optimise_chroma_scale(struct dic_state *st);
void optimise_black_level(struct dic_state *st);
void dic_print_stats(const struct dic_state *st, const struct image_stats_record *stats);

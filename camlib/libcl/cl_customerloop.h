/* The customer loop: the camera library's driver descriptor, its 3A state
 * machine and the store of settings the frame thread applies. The netlink
 * client alone drives prepare, start and stop; the API reads the state. */
#ifndef CAMLIB_LIBCL_CL_CUSTOMERLOOP_H
#define CAMLIB_LIBCL_CL_CUSTOMERLOOP_H

#include <mutex>
#include <stdint.h>

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "cl_tuning.h"
#include "img_channel.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "libcl.h"

#define CL_MAX_VINS 4

enum cl_state : uint32_t {
	CL_STATE_INITIALISED = 0,
	CL_STATE_PREPARED = 1,
	CL_STATE_STARTED = 2,
	CL_STATE_STOPPED = 3,
	CL_STATE_NONE = 255,
};

#define CL_AGC_RECORD_SIZE 40
#define CL_CE_BLOCK_SIZE 606

/* What a channel learnt at prepare and what callers asked of it. Settings
 * with a pending flag wait there for the frame thread. */
struct cl_channel {
	channel_info info = {};
	uint32_t config_id = 0;
	uint32_t post_enable = 1;
	vin_aaa_info aaa_info = {};
	uint8_t agc_record[CL_AGC_RECORD_SIZE] = {};
	uint32_t aaa_gain_unit = 0;
	cl_aaa_block aaa = {};
	uint32_t adj_index = 256;
	/* Working copies of the tuning row's IQ tables, taken at prepare. */
	uint8_t stats_table[CL_STATS_TABLE_SIZE] = {};
	uint8_t wb_table[CL_WB_TABLE_SIZE] = {};
	uint8_t exposure_table[CL_EXPOSURE_TABLE_SIZE] = {};
	uint8_t sensor_table[CL_SENSOR_TABLE_SIZE] = {};
	uint8_t ratio_gain_table[CL_RATIO_GAIN_TABLE_SIZE] = {};
	/* The statistics tile grids from the statistics table. */
	img_dsp_ae_tile_cfg ae_tile = {};
	img_dsp_awb_tile_cfg awb_tile = {};
	img_dsp_af_tile_cfg af_tile = {};

	uint32_t aaa_state[4] = {}; /* word 0 hold_ae, word 1 hold_awb */
	uint32_t extra_gain = 0;
	uint32_t boost_factor = 0;
	uint32_t coring = 0;
	int32_t tone_curve_mode = 0;
	uint32_t bw_mode = 0;
	int32_t brightness = 0, saturation = 0, sharpness_level = 0;
	uint8_t coring_pending = 0, tone_curve_mode_pending = 0, bw_mode_pending = 0;
	uint8_t brightness_pending = 0, saturation_pending = 0, sharpness_level_pending = 0;
	uint8_t custom_luma_pending = 0;
	uint8_t ce_block[CL_CE_BLOCK_SIZE] = {};
	uint8_t ce_pending = 0;
	uint16_t tone_curve[3][256] = {}; /* red, green, blue */
	uint8_t tone_curve_pending = 0;
	uint32_t chroma_enable = 0;
	uint16_t chroma_gain[128] = {};
	uint8_t chroma_pending = 0;
	uint8_t le_params[6] = {}; /* enable, radius, three luma weights, shift */
	uint16_t le_curve[256] = {};
	uint8_t le_pending = 0;
	uint16_t black_level[4] = {}; /* red, green-red, green-blue, blue */
	uint8_t black_level_pending = 0, black_level_hdr_pending = 0;
	uint8_t alpha_table_pending = 0;
	hdr_extern_table extern_lut = {};
	hdr_extern_table extern_drc = {};
};

struct customerloop_state {
	uint32_t state = CL_STATE_NONE;
	int32_t vin_count = 1;
	uint32_t expo_num = 1;
	int qvd_fd = -1;
	char *dpc_paths[CL_MAX_VINS] = {};
	int dpc_present = 0;
	char *lens_shading_paths[CL_MAX_VINS] = {};
	int lens_shading_present = 0;
	std::mutex state_mu;
	std::mutex settings_mu;
	std::mutex stats_mu;
	volatile uint8_t stop_request = 0;
	cl_channel channel[CL_MAX_VINS];
	int32_t global_dgain = 0;
	uint8_t global_dgain_pending = 0;
	double shutter_correction = 1.0;
	uint8_t shutter_correction_set = 0;
	uint32_t user_wb[3] = {}; /* red, green, blue (1024 = 1.0); all channels */
	uint32_t user_wb_flow = 0;
	uint8_t alpha_table[128] = {}; /* one table for all channels */
	/* Image-kernel mode records; ContextId names the channel of each call. */
	img_dsp_mode main_mode = {0, 1, 0, 0, {}, 255, 0, {}};
	img_dsp_mode hdr_mode = {0, 1, 0, 0, {}, 255, 0, {}};
	bool main_thread_running = false;
	const tuning_row *row = nullptr; /* chosen at prepare */
	/* The frame thread parses each frame's statistics here, under stats_mu;
	 * the statistics copy reads them. */
	aaa_parse_out parsed = {};
};

customerloop_state &cl_state(void);

/* State machine: 1 on success, 0 on failure (the wrong-state warning). */
int cl_customerloop_init(int32_t vin_count, char **dpc_paths, char **lens_shading_paths, uint32_t unused);
void cl_customerloop_deinit(void);
int cl_customerloop_prepare_aaa(void);
int cl_customerloop_start_aaa(void);
int cl_customerloop_stop_aaa(void);
/* 0, or -1 for a NULL pointer. */
int cl_customerloop_get_cl_state(uint32_t *state);
/* 1 while started. */
int cl_customerloop_aaa_started(void);
/* Kernel commands that this system does not implement: log and fail (-1). */
int cl_customerloop_do_warp(void);
int cl_customerloop_do_dptz(void);

/* The caller's 692-byte contrast-enhancement record and the image kernel's
 * 606-byte block, each word narrowed to one byte; block byte 93 is the
 * block's own. */
void cl_ce_record_to_block(const uint8_t *record, uint8_t *block);
void cl_ce_block_to_record(const uint8_t *block, uint8_t *record);

/* The prepare work (3A bring-up): 0 on success, -1 with the state as it
 * was. */
int start_aaa_init(void);
/* The static bad-pixel maps of the VINs with a path into the driver's
 * buffer and the image kernel: 0, or -1 when a VIN was skipped. */
int cl_apply_dpc(void);
/* The per-frame thread: started by start, ended by stop and deinit. */
int cl_main_loop_start(void);
void cl_main_loop_stop(void);

/* Settings operations behind the API's per-channel calls; 0 or -1. */
int cl_customerloop_get_stats(int channel, libcl_stats *stats);
int cl_customerloop_get_shutter_and_gain(int channel, uint32_t *sg);
int cl_customerloop_set_shutter_and_gain(int channel, const uint32_t *sg);
int cl_customerloop_get_vin_aaa_info(int channel, uint8_t *info);
int cl_customerloop_get_black_level(int channel, uint32_t *record);
int cl_customerloop_get_hdr_method(int channel, uint32_t *method);
int cl_customerloop_get_aaa_state(int channel, uint32_t *state);
int cl_customerloop_set_aaa_state(int channel, const uint32_t *state);
int cl_customerloop_set_black_level(int channel, const uint32_t *record);
int cl_customerloop_set_chroma_scale(int channel, const uint32_t *record);
int cl_customerloop_set_sharpness_coring(int channel, uint32_t coring);
int cl_customerloop_set_local_exposure(int channel, const uint32_t *record);
int cl_customerloop_get_hdr_blend_config(int channel, uint16_t *blend);
int cl_customerloop_get_hdr_threshold(int channel, uint32_t *threshold);
int cl_customerloop_set_hdr_threshold(int channel, const uint32_t *threshold);
int cl_customerloop_get_hdr_alpha_value(int channel, uint32_t *alpha);
int cl_customerloop_set_hdr_alpha_value(int channel, const uint32_t *alpha);
int cl_customerloop_get_ce_config(int channel, uint8_t *record);
int cl_customerloop_set_ce_config(int channel, const uint8_t *record);
int cl_customerloop_get_ce_log_config(int channel, uint8_t *record);
int cl_customerloop_set_ce_log_config(int channel, const uint8_t *record);
int cl_customerloop_set_hdr_extern_lut(int channel, const uint8_t *record);
int cl_customerloop_get_hdr_extern_lut(int channel, uint8_t *record);
int cl_customerloop_set_hdr_extern_drc(int channel, const uint8_t *record);
int cl_customerloop_set_custom_hdr_luma_calc(int channel);
int cl_customerloop_enable_tone_curve(int channel, int32_t mode);
int cl_customerloop_set_tone_curve(int channel, const uint16_t *curve);
int cl_customerloop_get_tone_curve(int channel, uint16_t *curve);
int cl_customerloop_set_tc_curve(int channel, const uint32_t *curve);
int cl_customerloop_get_tc_curve(int channel, uint32_t *curve);
int cl_customerloop_set_shutter_correction(int channel, double factor);
int cl_customerloop_update_adj_index(int channel);
int cl_customerloop_set_bw_mode(int channel, uint32_t mode);
int cl_customerloop_get_bw_mode(int channel, uint32_t *mode);
int cl_customerloop_set_brightness(int channel, int32_t value);
int cl_customerloop_set_saturation(int channel, int32_t value);
int cl_customerloop_set_sharpness_level(int channel, int32_t value);
int cl_customerloop_set_wb_gains(int channel, const uint32_t *gains);
int cl_customerloop_get_wb_gains(int channel, uint32_t *gains);
int cl_customerloop_get_sensor_wb_gains(int channel, uint32_t *gains);
int cl_customerloop_set_awb_flow(int channel, int32_t flow);
int cl_customerloop_set_hdr_boost_strength(int channel, const uint32_t *strength);
int cl_customerloop_get_hdr_mode(int channel, uint32_t *mode);
int cl_customerloop_set_hdr_alpha_table(int channel, const uint32_t *record);
int cl_customerloop_set_global_dgain(int channel, int32_t dgain);

#endif

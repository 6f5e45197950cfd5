/* Configuration printers: every field of both main-part layouts printed
 * once with its value, the printing that posting does with its debug log
 * on, the table dumps of vors_img_dsp_low_iso_print_cfg, the DSP debug
 * buffers, the history and the HDR printers. */
#include "ik_cfg_files_fixture.h"
#include "ik_cfg_print.h"
#include "ik_debug.h"
#include "ik_liso_layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using iktest::count_lines;
using iktest::has_msg;
using iktest::IkCfgFiles;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

/* ---- the section printers against the layout ------------------------------ */

enum Kind { K8, K16, KS16, K32, KS32, KHEX, KCODE, KBITS };

/* A field as the layout gives it: the name it is printed under, its byte
 * offset in the main part, and for a bit field the word's bytes, the shift
 * and the width. */
struct Field {
	std::string name;
	unsigned off;
	Kind kind;
	unsigned word = 0, shift = 0, width = 0;
};

Field bits(const std::string &n, unsigned off, unsigned word, unsigned shift, unsigned width)
{
	return {n, off, KBITS, word, shift, width};
}

void add_level(std::vector<Field> &f, const std::string &l, unsigned o)
{
	const char *names[] = {"low", "low_0", "low_val", "high", "high_0", "high_val", "base_val"};
	for (unsigned i = 0; i < 7; i++)
		f.push_back({l + "." + names[i], o + i, K8});
	f.push_back(bits(l + ".low_delta", o + 7, 1, 0, 3));
	f.push_back(bits(l + ".high_delta", o + 7, 1, 3, 3));
	f.push_back(bits(l + ".area_index", o + 7, 1, 6, 2));
}

void add_warps(std::vector<Field> &f, unsigned base)
{
	for (unsigned i = 0; i < 5; i++) {
		std::string l = "vert_warp[" + std::to_string(i) + "].";
		unsigned o = base + 8 * i;
		f.push_back(bits(l + "warp_enable", o, 1, 0, 1));
		f.push_back(bits(l + "warp_horz_grid_spacing_exponent", o, 1, 1, 3));
		f.push_back(bits(l + "warp_vert_grid_spacing_exponent", o, 1, 4, 3));
		f.push_back({l + "warp_grid_array_width", o + 2, K8});
		f.push_back({l + "warp_grid_array_height", o + 3, K8});
		f.push_back({l + "warp_field_addr", o + 4, KHEX});
	}
}

/* Every field of the main part but `adv_mode`, the layout selector, and
 * `use_shpa_for_asf`, the sharpen block's; offsets from the main part. */
std::vector<Field> layout_fields(bool advanced)
{
	std::vector<Field> f = {
	    {"iso_config_tag", 0, K32},
	    {"iso_mode", 4, K8},
	    {"diag_case_id", 6, K8},
	    {"channel_id", 7, K8},
	    {"debug_step_id", 8, K8},
	    bits("debug_mode", 9, 1, 0, 7),
	    bits("break_mode", 9, 1, 7, 1),
	    {"debug_tile_x", 10, K8},
	    {"debug_tile_y", 11, K8},
	    {"debug_pic_num", 12, K32},
	    {"debug_config_addr", 16, KHEX},
	    {"debug_addr[0]", 20, KHEX},
	    {"debug_addr[1]", 24, KHEX},
	    {"debug_pitch[0]", 28, K16},
	    {"debug_pitch[1]", 30, K16},
	    {"debug_width[0]", 32, K16},
	    {"debug_width[1]", 34, K16},
	    {"debug_height[0]", 36, K16},
	    {"debug_height[1]", 38, K16},
	    /* common */
	    bits("use_compression", 56, 1, 0, 1),
	    bits("use_static_bad_pixel_correction", 56, 1, 1, 1),
	    bits("use_vignette", 56, 1, 2, 1),
	    bits("use_lens_warp", 56, 1, 3, 1),
	    bits("use_CA_warp", 56, 1, 4, 1),
	    bits("update_sbp", 56, 1, 6, 1),
	    bits("update_vignette", 56, 1, 7, 1),
	    bits("update_CA_warp", 57, 1, 0, 1),
	    bits("update_lens_warp", 57, 1, 1, 1),
	    bits("update_chroma_radius", 57, 1, 2, 1),
	    bits("update_dzoom", 57, 1, 3, 1),
	    bits("sbp_a5m_mode", 57, 1, 4, 1),
	    bits("bayer_pattern", 57, 1, 5, 2),
	    bits("vignette_gain_shift", 56, 4, 15, 4),
	    {"vignette_gain", 60, KHEX},
	    {"ca_warp_control.cmd_code", 64, KCODE},
	    {"ca_warp_control.horz_warp_enable", 68, K16},
	    {"ca_warp_control.vert_warp_enable", 70, K16},
	    {"ca_warp_control.horz_pass_grid_array_width", 72, K8},
	    {"ca_warp_control.horz_pass_grid_array_height", 73, K8},
	    {"ca_warp_control.horz_pass_horz_grid_spacing_exponent", 74, K8},
	    {"ca_warp_control.horz_pass_vert_grid_spacing_exponent", 75, K8},
	    {"ca_warp_control.vert_pass_grid_array_width", 76, K8},
	    {"ca_warp_control.vert_pass_grid_array_height", 77, K8},
	    {"ca_warp_control.vert_pass_horz_grid_spacing_exponent", 78, K8},
	    {"ca_warp_control.vert_pass_vert_grid_spacing_exponent", 79, K8},
	    {"ca_warp_control.warp_horizontal_table_addr_red", 80, KHEX},
	    {"ca_warp_control.warp_horizontal_table_addr_blue", 84, KHEX},
	    {"ca_warp_control.warp_vertical_table_addr_red", 88, KHEX},
	    {"ca_warp_control.warp_vertical_table_addr_blue", 92, KHEX},
	    {"sbp_map_width", 176, K16},
	    {"sbp_map_pitch", 178, K16},
	    {"sbp_map_height", 180, K16},
	    {"sbp_map_addr", 184, KHEX},
	    /* color */
	    {"black_level.cmd_code", 188, KCODE},
	    {"black_level.global_offset_ee", 192, KS32},
	    {"black_level.global_offset_eo", 196, KS32},
	    {"black_level.global_offset_oe", 200, KS32},
	    {"black_level.global_offset_oo", 204, KS32},
	    {"black_level.black_level_offset_red", 208, K16},
	    {"black_level.black_level_offset_green", 210, K16},
	    {"black_level.black_level_offset_blue", 212, K16},
	    {"black_level.gain_depedent_offset_red", 214, K16},
	    {"black_level.gain_depedent_offset_green", 216, K16},
	    {"black_level.gain_depedent_offset_blue", 218, K16},
	    {"black_level.def_blk1_red", 220, K16},
	    {"black_level.def_blk1_green", 222, K16},
	    {"black_level.def_blk1_blue", 224, K16},
	    {"wb_gain.cmd_code", 228, KCODE},
	    {"wb_gain.r_gain", 232, K32},
	    {"wb_gain.g_even_gain", 236, K32},
	    {"wb_gain.g_odd_gain", 240, K32},
	    {"wb_gain.b_gain", 244, K32},
	    {"local_exposure.cmd_code", 248, KCODE},
	    {"local_exposure.group_index", 252, K8},
	    {"local_exposure.enable", 253, K8},
	    {"local_exposure.radius", 254, K16},
	    {"local_exposure.luma_weight_red", 256, K8},
	    {"local_exposure.luma_weight_green", 257, K8},
	    {"local_exposure.luma_weight_blue", 258, K8},
	    {"local_exposure.luma_weight_sum_shift", 259, K8},
	    {"local_exposure.gain_curve_table_addr", 260, KHEX},
	    {"local_exposure.luma_offset", 264, K16},
	    {"chroma_scale.cmd_code", 268, KCODE},
	    {"chroma_scale.group_index", 272, K16},
	    {"chroma_scale.enable", 274, K16},
	    {"chroma_scale.make_legal", 276, K32},
	    {"chroma_scale.u_weight_0", 280, KS16},
	    {"chroma_scale.u_weight_1", 282, KS16},
	    {"chroma_scale.u_weight_2", 284, KS16},
	    {"chroma_scale.v_weight_0", 286, KS16},
	    {"chroma_scale.v_weight_1", 288, KS16},
	    {"chroma_scale.v_weight_2", 290, KS16},
	    {"chroma_scale.gain_curver_addr", 292, KHEX},
	    {"cc_reg", 296, KHEX},
	    {"cc_3d", 300, KHEX},
	    {"cc_out", 304, KHEX},
	    bits("use_local_exposure", 332, 1, 0, 1),
	    bits("use_chroma_scale", 332, 1, 1, 1),
	    bits("use_defer_cc", 332, 1, 2, 1),
	    {"wb_saturation_level_red", 334, K16},
	    {"wb_saturation_level_green_even", 336, K16},
	    {"wb_saturation_level_green_odd", 338, K16},
	    {"wb_saturation_level_blue", 340, K16},
	    {"awb_min_thresh", 342, K16},
	    {"awb_max_thresh", 344, K16},
	    {"ae_min_thresh", 346, K16},
	    {"ae_max_thresh", 348, K16},
	    /* liso */
	    {"dark_pixel_threshold", 356, KHEX},
	    {"hot_pixel_threshold", 360, KHEX},
	    {"chroma_median_k_table", 364, KHEX},
	    {"cfa_noise_filter.cmd_code", 368, KCODE},
	    bits("cfa_noise_filter.enable", 372, 1, 0, 2),
	    bits("cfa_noise_filter.mode", 372, 1, 2, 2),
	    bits("cfa_noise_filter.shift_coarse_ring1", 372, 1, 4, 2),
	    bits("cfa_noise_filter.shift_coarse_ring2", 372, 1, 6, 2),
	    bits("cfa_noise_filter.shift_fine_ring1", 373, 1, 0, 2),
	    bits("cfa_noise_filter.shift_fine_ring2", 373, 1, 2, 2),
	    bits("cfa_noise_filter.shift_center_red", 373, 1, 4, 4),
	    bits("cfa_noise_filter.shift_center_green", 374, 1, 0, 4),
	    bits("cfa_noise_filter.shift_center_blue", 374, 1, 4, 4),
	    {"cfa_noise_filter.target_coarse_red", 375, K8},
	    {"cfa_noise_filter.target_coarse_green", 376, K8},
	    {"cfa_noise_filter.target_coarse_blue", 377, K8},
	    {"cfa_noise_filter.target_fine_red", 378, K8},
	    {"cfa_noise_filter.target_fine_green", 379, K8},
	    {"cfa_noise_filter.target_fine_blue", 380, K8},
	    {"cfa_noise_filter.cutoff_red", 381, K8},
	    {"cfa_noise_filter.cutoff_green", 382, K8},
	    {"cfa_noise_filter.cutoff_blue", 383, K8},
	    {"cfa_noise_filter.thresh_coarse_red", 384, K16},
	    {"cfa_noise_filter.thresh_coarse_green", 386, K16},
	    {"cfa_noise_filter.thresh_coarse_blue", 388, K16},
	    {"cfa_noise_filter.thresh_fine_red", 390, K16},
	    {"cfa_noise_filter.thresh_fine_green", 392, K16},
	    {"cfa_noise_filter.thresh_fine_blue", 394, K16},
	    {"demosaic.cmd_code", 396, KCODE},
	    {"demosaic.group_index", 400, K8},
	    {"demosaic.enable", 401, K8},
	    {"demosaic.activity_thresh", 403, K8},
	    {"demosaic.activity_difference_thresh", 404, K16},
	    {"demosaic.grad_clip_thresh", 406, K16},
	    {"demosaic.grad_noise_thresh", 408, K16},
	    {"sharpen.fir1", 416, KHEX},
	    {"sharpen.fir2", 420, KHEX},
	    {"sharpen.coring", 424, KHEX},
	    {"sharpen.fir2_clip_high", 428, K16},
	    {"sharpen.fir2_clip_low", 430, KS16},
	    {"sharpen.max_change_up", 432, K8},
	    {"sharpen.max_change_down", 433, K8},
	    {"sharpen.wide_edge_detect", 434, K8},
	    bits("sharpen.enable", 435, 1, 0, 1),
	    bits("sharpen.special_mode", 435, 1, 1, 1),
	    bits("sharpen.update_fir1", 435, 1, 2, 1),
	    bits("sharpen.update_fir2", 435, 1, 3, 1),
	    bits("sharpen.update_coring", 435, 1, 4, 1),
	    bits("sharpen.update_others", 435, 1, 5, 1),
	    bits("sharpen.coring_mul_shift", 435, 1, 6, 2),
	    bits("sharpen.edge_thresh", 452, 2, 0, 11),
	    bits("sharpen.shp_mode0", 453, 1, 3, 1),
	    {"sharpen.max_change_up_5x5", 454, K8},
	    {"sharpen.max_change_down_5x5", 455, K8},
	    {"leakage_alpha_rr", 480, K8},
	    {"leakage_alpha_rb", 481, K8},
	    {"leakage_alpha_br", 482, K8},
	    {"leakage_alpha_bb", 483, K8},
	    {"leakage_saturation_level", 484, K16},
	    {"anti_aliasing_threshold", 486, K16},
	    {"grgb_mismatch_correct_wide_thresh", 488, K16},
	    {"grgb_mismatch_correct_wide_reject_thresh", 490, K16},
	    {"chroma_radius", 492, K8},
	    bits("cliso_variant", 493, 1, 0, 1),
	    {"chroma_noise_level_cb", 494, K8},
	    {"chroma_noise_level_cr", 495, K8},
	    {"chroma_original_blend_cb_strength", 496, K16},
	    {"chroma_original_blend_cr_strength", 498, K16},
	    bits("use_dynamic_bad_pixel_correction", 500, 2, 0, 3),
	    bits("use_aggresive_DBP_correction_method", 500, 2, 3, 1),
	    bits("use_leakage_filter", 500, 2, 4, 1),
	    bits("use_anti_aliasing", 500, 2, 5, 1),
	    bits("use_cfa_noise_filter", 500, 2, 6, 1),
	    bits("use_grgb_mismatch_correct", 500, 2, 7, 2),
	    bits("use_chroma_median", 500, 2, 9, 1),
	    bits("anti_aliasing_shift", 500, 2, 10, 3),
	    bits("use_chroma_filter", 500, 2, 14, 1),
	    bits("use_batch_commands", 500, 2, 15, 1),
	    {"batch_cmd_queue_size", 502, K16},
	    {"batch_cmd_queue_daddr", 504, KHEX},
	    /* flow */
	    {"width_in", 512, K16},
	    {"height_in", 514, K16},
	    {"width_chroma", 516, K16},
	    {"height_chroma", 518, K16},
	    {"main_out_width", 520, K16},
	    {"main_out_height", 522, K16},
	    {"video_mctf", 524, KHEX},
	    {"final_sharpen", 528, KHEX},
	    {"temporal_adjust_edge_reduce_b", 536, K16},
	    {"temporal_adjust_edge_reduce_l", 538, K16},
	    {"temporal_adjust_edge_reduce_r", 540, K16},
	    {"temporal_adjust_edge_reduce_t", 542, K16},
	};
	add_level(f, "sharpen.coring_multiplier_min", 436);
	add_level(f, "sharpen.coring_index_mul", 444);
	add_level(f, "sharpen.coring_multiplier_mul", 456);
	add_level(f, "sharpen.fir2_out_scale", 464);
	add_level(f, "sharpen.coring_multiplier_max", 472);
	const char *color_update[] = {"update_black_level",
	                              "update_wb_gain",
	                              "update_wb_gain_saturation",
	                              "update_local_exposure",
	                              "update_chroma_scale",
	                              "update_rgb2yuv",
	                              "update_cc_reg",
	                              "update_cc_3d",
	                              "update_cc_out",
	                              "update_defer_cc_mode",
	                              "update_3a_min_max_thresh"};
	for (unsigned b = 0; b < 11; b++)
		f.push_back(bits(color_update[b], 352, 4, b, 1));
	const char *liso_update[] = {
	    "update_DBP_hot_correction",  "update_DBP_dark_correction",  "update_cfa_noise_filter",
	    "update_cfa_leakage_filter",  "update_anti_aliasing",        "update_grgb_mismatch_correct",
	    "update_chroma_noise_filter", "update_chroma_median_filter", "update_demosaic",
	    "update_luma_processing",     "update_luma_processing_mode", "update_batch_commands"};
	for (unsigned b = 0; b < 12; b++)
		f.push_back(bits(liso_update[b], 508, 2, b, 1));
	const char *masks[] = {
	    "mctf_config_update",      "frame_act_update",        "motion_vectors_update",
	    "histogram_0_update",      "histogram_1_update",      "histogram_2_update",
	    "histogram_3_update",      "curve_b_update",          "curve_c_update",
	    "curve_d_update",          "tone_adj_config_update",  "tone_hist_tbl_update",
	    "mctf_3d_lvl_l_update",    "mctf_3d_lvl_u_update",    "curve_sb2_update",
	    "ref_luma_remap_update",   "mcts_config_update",      "shpb_config_update",
	    "shpc_config_update",      "shpb_lpf_coef_1_update",  "shpb_lpf_coef_2_update",
	    "shpc_lpf_coef_1_update",  "shpc_lpf_coef_2_update",  "shpb_alpha_update",
	    "shpc_alpha_update",       "shpb_coring1_tbl_update", "shpc_coring1_tbl_update",
	    "shpb_coring2_tbl_update", "shrp_3d_lvl_l_update",    "shrp_3d_lvl_u_update",
	    "ta_edge_reduce_update"};
	for (unsigned b = 0; b < 31; b++)
		f.push_back(bits(masks[b], 532, 4, b, 1));
	if (!advanced) {
		add_warps(f, 544);
		return f;
	}
	add_warps(f, 604);
	const std::vector<Field> geo = {
	    {"geo_warp_control.cmd_code", 96, KCODE},
	    {"geo_warp_control.warp_control", 100, K32},
	    {"geo_warp_control.warp_horizontal_table_address", 104, KHEX},
	    {"geo_warp_control.warp_vertical_table_address", 108, KHEX},
	    {"geo_warp_control.actual_left_top_x", 112, K32},
	    {"geo_warp_control.actual_left_top_y", 116, K32},
	    {"geo_warp_control.actual_right_bot_x", 120, K32},
	    {"geo_warp_control.actual_right_bot_y", 124, K32},
	    {"geo_warp_control.zoom_x", 128, K32},
	    {"geo_warp_control.zoom_y", 132, K32},
	    {"geo_warp_control.main_out_x", 136, K16},
	    {"geo_warp_control.main_out_y", 138, K16},
	    {"geo_warp_control.grid_array_width", 144, K8},
	    {"geo_warp_control.grid_array_height", 145, K8},
	    {"geo_warp_control.horz_grid_spacing_exponent", 146, K8},
	    {"geo_warp_control.vert_grid_spacing_exponent", 147, K8},
	    {"geo_warp_control.vert_warp_enable", 148, K8},
	    {"geo_warp_control.vert_warp_grid_array_width", 149, K8},
	    {"geo_warp_control.vert_warp_grid_array_height", 150, K8},
	    {"geo_warp_control.vert_warp_horz_grid_spacing_exponent", 151, K8},
	    {"geo_warp_control.vert_warp_vert_grid_spacing_exponent", 152, K8},
	    {"geo_warp_control.force_v4tap_disable", 153, K8},
	    {"geo_warp_control.hor_skew_phase_inc", 156, K32},
	    {"geo_warp_control.dummy_window_x_left", 160, K16},
	    {"geo_warp_control.dummy_window_y_top", 162, K16},
	    {"geo_warp_control.dummy_window_width", 164, K16},
	    {"geo_warp_control.dummy_window_height", 166, K16},
	    {"geo_warp_control.cfa_output_width", 168, K16},
	    {"geo_warp_control.cfa_output_height", 170, K16},
	    {"geo_warp_control.extra_sec2_vert_out_vid_mode", 172, K32},
	    /* cliso */
	    {"width_motion", 544, K16},
	    {"height_motion", 546, K16},
	    {"smooth_phase_inc", 548, K16},
	    {"smooth_strength", 550, K16},
	    {"motion_detect_fir1", 552, KHEX},
	    {"mctf_passthrough", 556, KHEX},
	    {"mcts_MoASF", 560, KHEX},
	    {"mctf_mcts_update_mask_motion_detect", 564, KHEX},
	    bits("slow_mo_sensitivity", 568, 1, 0, 4),
	    bits("update_smooth_strength", 568, 1, 4, 1),
	    bits("updatae_slow_mo_sensitivity", 568, 1, 5, 1),
	    bits("update_CC_reg_motion_combine", 568, 1, 6, 1),
	    bits("update_CC_3d_motion_combine", 568, 1, 7, 1),
	    bits("update_CC_out_motion_combine", 569, 1, 0, 1),
	    bits("update_CC_reg_motion_combine_up", 569, 1, 1, 1),
	    bits("update_CC_3d_motion_combine_up", 569, 1, 2, 1),
	    bits("slow_mo_sensitivity2", 569, 1, 3, 4),
	    bits("high_performance_enable", 569, 1, 7, 1),
	    {"CC_reg_motion_combine", 572, KHEX},
	    {"CC_3d_motion_combine", 576, KHEX},
	    {"CC_out_motion_combine", 580, KHEX},
	    {"CC_reg_motion_combine_up", 584, KHEX},
	    {"CC_3d_motion_combine_up", 588, KHEX},
	    {"video_mctfB", 592, KHEX},
	    {"final_sharpen", 596, KHEX},
	    {"mctf_mcts_update_mask_video_mctfB", 600, KHEX},
	};
	f.insert(f.end(), geo.begin(), geo.end());
	return f;
}

/* Writes a value of each field into `main` and returns the lines the
 * printers must show. Values are small and differ field to field, addresses
 * stay far below the region; signed fields get negative values. */
std::vector<std::string> fill(uint8_t *main, const std::vector<Field> &fields)
{
	std::vector<std::string> lines;
	unsigned k = 0;
	for (const Field &f : fields) {
		k++;
		char line[160];
		const char *n = f.name.c_str();
		switch (f.kind) {
		case K8: {
			uint8_t v = (uint8_t)(k % 250 + 1);
			main[f.off] = v;
			snprintf(line, sizeof(line), "[IK]%s = %d", n, v);
			break;
		}
		case K16:
		case KS16: {
			int16_t v = (int16_t)(f.kind == KS16 ? -(int)(k + 3) : (int)(300 + k));
			memcpy(main + f.off, &v, 2);
			snprintf(line, sizeof(line), "[IK]%s = %d", n, v);
			break;
		}
		case K32:
		case KS32: {
			int32_t v = f.kind == KS32 ? -(int32_t)(70000 + k) : (int32_t)(70000 + k);
			memcpy(main + f.off, &v, 4);
			snprintf(line, sizeof(line), "[IK]%s = %d", n, v);
			break;
		}
		case KHEX:
		case KCODE: {
			uint32_t v = 0x1000u + 0x10u * k;
			memcpy(main + f.off, &v, 4);
			snprintf(line, sizeof(line), f.kind == KHEX ? "[IK]%s = 0x%x" : "[IK]%s = 0x%X", n,
			         v);
			break;
		}
		case KBITS: {
			uint32_t mask = (1u << f.width) - 1;
			uint32_t v = f.width == 1 ? 1u : (k % mask) + 1;
			uint32_t w = 0;
			memcpy(&w, main + f.off, f.word);
			w = (w & ~(mask << f.shift)) | (v << f.shift);
			memcpy(main + f.off, &w, f.word);
			snprintf(line, sizeof(line), "[IK]%s = %u", n, v);
			break;
		}
		}
		lines.push_back(line);
	}
	return lines;
}

class IkSections : public IkFixture
{
      protected:
	void SetUp() override
	{
		/* The region is there so the printers have one to check addresses against. */
		bring_up({{0, 1, 1, 1, 0}});
	}
	/* Prints a configuration whose main part holds every field;
	 * `update_all` replaces the colour update word unless it is 0. */
	std::string print(bool advanced, uint32_t update_all, std::vector<std::string> &want)
	{
		memset(&cfg_, 0, sizeof(cfg_));
		want = fill(cfg_.main.bytes, layout_fields(advanced));
		cfg_.main.basic.share.adv_mode = advanced ? IK_ADV_MODE_ADVANCED : IK_ADV_MODE_BASIC;
		if (update_all)
			memcpy(cfg_.main.bytes + 352, &update_all, 4);
		int16_t m[12];
		for (int i = 0; i < 12; i++)
			m[i] = (int16_t)(i * 100 - 600);
		memcpy(cfg_.main.bytes + 308, m, sizeof(m));
		StdoutCapture out;
		img_dsp_low_iso_print_sections(&cfg_);
		return out.text();
	}
	img_dsp_iso_cfg cfg_;
};

std::vector<std::string> headings(const std::string &text)
{
	std::vector<std::string> h;
	size_t pos = 0;
	while ((pos = text.find("[IK]------", pos)) != std::string::npos) {
		size_t end = text.find('\n', pos);
		h.push_back(text.substr(pos, end - pos));
		pos = end;
	}
	return h;
}

TEST_F(IkSections, EveryFieldOnceWithItsValue)
{
	for (bool advanced : {false, true}) {
		std::vector<std::string> want;
		std::string text = print(advanced, 0, want);
		for (const std::string &line : want)
			EXPECT_EQ(count_lines(text, line), 1)
			    << (advanced ? "advanced: " : "basic: ") << line;
		EXPECT_EQ(count_lines(text, "[IK]adv_mode = " + std::to_string(advanced ? 4 : 0)), 1);
		EXPECT_EQ(count_lines(text, "[IK]use_shpa_for_asf = 0"), 1);
		for (int i = 0; i < 12; i++)
			EXPECT_EQ(count_lines(text, "[IK]rgb2yuv[" + std::to_string(i) +
			                                "]: " + std::to_string(i * 100 - 600)),
			          1);
		EXPECT_EQ(text.find("update_all:"), std::string::npos) << "not all ones: printed bit by bit";
		const std::vector<std::string> basic = {"[IK]------share------", "[IK]------common------",
		                                        "[IK]------color------", "[IK]------liso------",
		                                        "[IK]------vwarp------", "[IK]------flow------"};
		const std::vector<std::string> adv = {"[IK]------share------", "[IK]------calib------",
		                                      "[IK]------color------", "[IK]------liso------",
		                                      "[IK]------vwarp------", "[IK]------flow------",
		                                      "[IK]------cliso------"};
		EXPECT_EQ(headings(text), advanced ? adv : basic);
		if (!advanced) {
			EXPECT_EQ(text.find("geo_warp_control"), std::string::npos)
			    << "the basic layout has no calib view";
		}
	}
}

TEST_F(IkSections, UpdateAllOnesIsOneLine)
{
	std::vector<std::string> want;
	std::string text = print(false, 0xFFFFFFFFu, want);
	EXPECT_EQ(count_lines(text, "[IK]update_all: ffffffff"), 1);
	EXPECT_EQ(text.find("update_black_level"), std::string::npos);
	EXPECT_EQ(text.find("update_3a_min_max_thresh"), std::string::npos);
}

TEST_F(IkSections, AdvanceSpatialFilterLayoutOfTheSharpenBlock)
{
	memset(&cfg_, 0, sizeof(cfg_));
	ik_sharpen_block &s = cfg_.main.basic.liso.sharpen;
	s.fir2_clip_high = 1234; /* blend_iso0_threshold */
	s.fir2_clip_low = 2345;  /* blend_iso1_threshold */
	s.coring_index_mul.high_0 = 77;
	s.coring_multiplier_max.low = 99;
	cfg_.main.basic.liso.use_flags = IK_LISO_USE_SHPA_FOR_ASF;
	StdoutCapture out;
	img_dsp_low_iso_print_sections(&cfg_);
	std::string text = out.text();
	EXPECT_EQ(count_lines(text, "[IK]asf.blend_iso0_threshold = 1234"), 1);
	EXPECT_EQ(count_lines(text, "[IK]asf.blend_iso1_threshold = 2345"), 1);
	EXPECT_EQ(count_lines(text, "[IK]asf.coring_index_mul.high_0 = 77"), 1);
	EXPECT_EQ(text.find("sharpen."), std::string::npos);
	EXPECT_EQ(text.find("coring_multiplier_max"), std::string::npos) << "the filter writes no more";
}

/* ---- posting with its debug log on ------------------------------------------ */

/* Lines after the first line equal to `heading`, up to `n` of them. */
std::vector<std::string> lines_after(const std::string &text, const std::string &heading, size_t n)
{
	std::vector<std::string> out;
	size_t pos = text.find(heading + "\n");
	if (pos == std::string::npos)
		return out;
	pos += heading.size() + 1;
	while (out.size() < n && pos < text.size()) {
		size_t end = text.find('\n', pos);
		out.push_back(text.substr(pos, end - pos));
		pos = end + 1;
	}
	return out;
}

bool is_row(const std::string &line, int width, int count)
{
	if (line.compare(0, 4, "[IK]") != 0 || line.size() != 4 + (size_t)(width + 1) * count)
		return false;
	for (int i = 0; i < count; i++) {
		if (line[4 + (size_t)(width + 1) * i + width] != ',')
			return false;
	}
	return true;
}

class IkPostLog : public IkCfgFiles
{
      protected:
	void TearDown() override
	{
		uint8_t zero[IMG_DSP_LOG_ID_NUM] = {};
		vors_img_dsp_set_debug_log_enables(zero);
		IkCfgFiles::TearDown();
	}
};

TEST_F(IkPostLog, PrintsTheBuiltConfigurationWithOnlyTheAfCommandsPending)
{
	up();
	img_dsp_af_statistics_ex af{};
	af.filter1.mode = 0x17;
	af.filter2.mode = 2;
	af.filter2.stage3_enb = 1;
	memset(body()->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	img_dsp_mode m = mode(0, 0);
	ASSERT_EQ(vors_img_dsp_set_af_statistics_ex(5, &m, &af), 0);
	vors_img_dsp_enable_post_execute_log();
	StdoutCapture out;
	ASSERT_EQ(post(0), 0);
	std::string text = out.text();

	const img_dsp_iso_cfg *c = cfg(0);
	const ik_liso_liso &l = c->main.basic.liso;
	EXPECT_EQ(l.batch_cmd_queue_size, 256);
	const uint8_t *q = at(l.batch_cmd_queue_daddr);
	uint32_t code0, code1, code2;
	memcpy(&code0, q, 4);
	memcpy(&code1, q + 128, 4);
	memcpy(&code2, q + 256, 4);
	EXPECT_EQ(code0, 0x09004004u);
	EXPECT_EQ(code1, 0x09004005u);
	EXPECT_EQ(code2, 0u);
	EXPECT_TRUE(c->update_mask & (1u << 3));
	EXPECT_TRUE(c->update_mask & (1u << 18));

	EXPECT_EQ(count_lines(text, "[IK]batch_queue[0].cmd_code = AAA_STATISTICS_SETUP1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]batch_queue[1].cmd_code = AAA_STATISTICS_SETUP2"), 1);
	EXPECT_EQ(count_lines(text, "[IK]batch_cmd af_stat_ex2.af_horizontal_filter2_mode = 2"), 1);
	EXPECT_EQ(count_lines(text, "[IK]batch_cmd af_stat_ex1.af_horizontal_filter1_mode = 7"), 1);
	EXPECT_EQ(count_lines(text, "[IK]batch_cmd af_stat_ex2.af_horizontal_filter2_stage3_enb = 1"), 1);
	EXPECT_EQ(text.find("batch_queue[2]"), std::string::npos);

	/* The sections in posting order, the contrast-enhancement part with its
	 * queue, then the HDR configuration. */
	const char *order[] = {"[IK]------share------\n",
	                       "[IK]------common------\n",
	                       "[IK]------color------\n",
	                       "[IK]------liso------\n",
	                       "[IK]------vwarp------\n",
	                       "[IK]------flow------\n",
	                       "[IK]------contrast enhancement config------\n",
	                       "[IK]------contrast enhancement batch queue------\n",
	                       "[IK]------CE_LUMA_AVG_WEIGHT------\n",
	                       "[IK]------CE_CORING_CONFIG------\n",
	                       "[IK]------CE_OUTPUT_TABLE------\n",
	                       "[IK]------CE_UPSAMPLING------\n",
	                       "[IK]------PROCESS_IDSP_BATCH_CMD------\n",
	                       "[IK]blend_0_updated: "};
	size_t pos = 0;
	for (const char *h : order) {
		size_t next = text.find(h, pos);
		ASSERT_NE(next, std::string::npos) << h;
		pos = next;
	}
	/* Fields carry the values the build wrote. */
	EXPECT_EQ(count_lines(text, "[IK]width_in = 1920"), 1);
	char line[64];
	snprintf(line, sizeof(line), "[IK]video_mctf = 0x%x", c->main.basic.flow.video_mctf);
	EXPECT_EQ(count_lines(text, line), 1) << "the build placed it";
	EXPECT_TRUE(is_phys(c->main.basic.flow.video_mctf));

	std::vector<std::string> coring = lines_after(
	    text,
	    "[IK]coring_table_addr = 0x" +
	        [&] {
		        char a[16];
		        const uint8_t *ceq = at(c->ce.contrast_enhancement_cmd_queue_daddr);
		        uint32_t addr;
		        memcpy(&addr, ceq + 3 * 128 + 20, 4);
		        snprintf(a, sizeof(a), "%x", addr);
		        return std::string(a);
	        }(),
	    4);
	ASSERT_EQ(coring.size(), 4u);
	for (const std::string &row : coring)
		EXPECT_TRUE(is_row(row, 2, 16)) << row;
	std::vector<std::string> output = lines_after(
	    text,
	    "[IK]output_table_addr = 0x" +
	        [&] {
		        char a[16];
		        const uint8_t *ceq = at(c->ce.contrast_enhancement_cmd_queue_daddr);
		        uint32_t addr;
		        memcpy(&addr, ceq + 4 * 128 + 12, 4);
		        snprintf(a, sizeof(a), "%x", addr);
		        return std::string(a);
	        }(),
	    17);
	ASSERT_EQ(output.size(), 17u);
	for (size_t i = 0; i < 16; i++)
		EXPECT_TRUE(is_row(output[i], 5, 16)) << output[i];
	EXPECT_FALSE(is_row(output[16], 5, 16)) << "sixteen lines";
}

TEST_F(IkPostLog, NoHdrPartNoHdrPrint)
{
	up();
	vors_img_dsp_enable_post_execute_log();
	StdoutCapture out;
	ASSERT_EQ(post(0, IMG_DSP_FUNC_NO_HDR), 0);
	std::string text = out.text();
	EXPECT_NE(text.find("[IK]------flow------\n"), std::string::npos);
	EXPECT_EQ(text.find("blend_0_updated"), std::string::npos);
}

TEST_F(IkPostLog, QuietWithoutItsLog)
{
	up();
	StdoutCapture out;
	ASSERT_EQ(post(0), 0);
	EXPECT_EQ(out.text().find("[IK]------"), std::string::npos);
}

/* ---- vors_img_dsp_low_iso_print_cfg ------------------------------------------- */

class IkPrintCfg : public IkCfgFiles
{
      protected:
	int print_cfg(uint8_t id, uint32_t pipe = 0, std::string *text = nullptr)
	{
		img_dsp_mode m = mode(pipe, 0, id);
		StdoutCapture out;
		int rc = vors_img_dsp_low_iso_print_cfg(&m);
		if (text)
			*text = out.text();
		return rc;
	}
	std::string mnt(const std::string &name) const
	{
		return under_root("/mnt/" + name);
	}
	void expect_file(const std::string &name, uint32_t addr, size_t size)
	{
		ASSERT_NE(addr, 0u) << name;
		EXPECT_EQ(read_file(mnt(name)), bytes(addr, size)) << name;
	}
};

TEST_F(IkPrintCfg, TablesWrittenUnderTheRootAsTheConfigurationHoldsThem)
{
	up();
	ASSERT_EQ(post(0), 0);
	const ik_liso_main_basic &b = cfg(0)->main.basic;
	std::string text;
	ASSERT_EQ(print_cfg(0, 0, &text), 0);
	EXPECT_EQ(count_lines(text, "[IK]Pipe 0, CfgId 0"), 1);
	EXPECT_EQ(count_lines(text, "[IK]Config State 3"), 1);
	char addr_line[64];
	snprintf(addr_line, sizeof(addr_line), "[IK]Config Addr %p", (void *)cfg(0));
	EXPECT_EQ(count_lines(text, addr_line), 1);
	expect_file("01_cc_reg.bin", b.color.cc_reg, 2304);
	expect_file("02_cc_3d_a.bin", b.color.cc_3d, 16384);
	expect_file("03_cc_out.bin", b.color.cc_out, 1024);
	expect_file("04_thresh_dark.bin", b.liso.dark_pixel_threshold, 768);
	expect_file("07_cmf_table.bin", b.liso.chroma_median_k_table, 48);
	expect_file("09_fir1_A.bin", b.liso.sharpen.fir1, 256);
	expect_file("12_video_mctf.bin", b.flow.video_mctf, 10064);
	expect_file("13_final_sharpen.bin", b.flow.final_sharpen, 12752);
	expect_file("14_vignette.bin", b.common.vignette_gain, 8720);
	expect_file("15_ca_warp_h_blue.bin", b.common.ca_warp_control.warp_horizontal_table_addr_blue, 3072);
	/* The library sets no geometric warp: no table, no file, one warning. */
	for (const char *name : {"19_geo_warp_h.bin", "20_geo_warp_v.bin"}) {
		EXPECT_FALSE(exists(mnt(name))) << name;
		EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_print_cfg() ",
		                    std::string(name) + " Address is (nil)\n"))
		    << name;
	}
	EXPECT_FALSE(exists(mnt("L_idsp_0.bin"))) << "no debug config address";
	EXPECT_NE(text.find("[IK]------contrast enhancement config------"), std::string::npos);
	EXPECT_TRUE(is_phys(b.color.cc_reg)) << "printing changes nothing";
}

TEST_F(IkPrintCfg, MissingTableIsOneWarningAndNoFile)
{
	up();
	ASSERT_EQ(post(0), 0);
	cfg(0)->main.basic.color.cc_reg = 0;
	cfg(0)->main.basic.liso.hot_pixel_threshold = 0x10; /* not the library's memory */
	std::string text;
	ASSERT_EQ(print_cfg(0, 0, &text), 0);
	EXPECT_FALSE(exists(mnt("01_cc_reg.bin")));
	EXPECT_FALSE(exists(mnt("05_thresh_hot.bin")));
	EXPECT_TRUE(exists(mnt("02_cc_3d_a.bin")));
	size_t first = text.find("01_cc_reg.bin Address is");
	ASSERT_NE(first, std::string::npos);
	EXPECT_EQ(text.find("01_cc_reg.bin Address is", first + 1), std::string::npos);
	EXPECT_NE(text.find("05_thresh_hot.bin Address is 0x10\n"), std::string::npos);
}

TEST_F(IkPrintCfg, NewestConfigurationAndRefusals)
{
	up(2);
	std::string text;
	EXPECT_EQ(print_cfg(255, 0, &text), -1) << "nothing posted yet";
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_print_cfg() ", "Cannot get config\n"));
	ASSERT_EQ(post(0), 0);
	ASSERT_EQ(post(1), 0);
	ASSERT_EQ(post(0), 0);
	ASSERT_EQ(print_cfg(255, 0, &text), 0);
	EXPECT_EQ(count_lines(text, "[IK]Pipe 0, CfgId 0"), 1);
	ASSERT_EQ(post(1), 0);
	ASSERT_EQ(print_cfg(255, 0, &text), 0);
	EXPECT_EQ(count_lines(text, "[IK]Pipe 0, CfgId 1"), 1);

	cfg(1)->AlgoMode = 2;
	EXPECT_EQ(print_cfg(1, 0, &text), -1);
	EXPECT_TRUE(has_msg(text, "[IK][Error]vors_img_dsp_low_iso_print_cfg() ",
	                    "p_cfg->algo_mode 2 != VORS_DSP_IMG_ALGO_MODE_LISO\n"));
	EXPECT_EQ(text.find("[IK]Pipe"), std::string::npos);
	EXPECT_EQ(print_cfg(0, 2, &text), -1);
	EXPECT_TRUE(
	    has_msg(text, "[IK][Error]vors_img_dsp_low_iso_print_cfg() ", "does not support pipe 2\n"));
	EXPECT_EQ(print_cfg(7, 0, &text), -1);
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_print_cfg() ", "Cannot get config\n"));
	EXPECT_EQ(vors_img_dsp_low_iso_print_cfg(nullptr), -1);
}

TEST_F(IkPrintCfg, AdvancedCatalog)
{
	up();
	body()->blk.liso_process_select[1] = IK_ADV_MODE_ADVANCED;
	ASSERT_EQ(post(0), 0);
	const ik_liso_main_advanced &a = cfg(0)->main.adv;
	ASSERT_EQ(a.share.adv_mode, IK_ADV_MODE_ADVANCED);
	std::string text;
	ASSERT_EQ(print_cfg(0, 0, &text), 0);
	EXPECT_NE(text.find("[IK]------calib------"), std::string::npos);
	expect_file("12_video_mctf.bin", a.flow.video_mctf, 10064);
	expect_file("13_vignette.bin", a.common.vignette_gain, 8720);
	expect_file("14_cliso_motion_detect_fir1.bin", a.cliso.motion_detect_fir1, 256);
	expect_file("16_cliso_mcts_MoASF.bin", a.cliso.mcts_MoASF, 12752);
	expect_file("21_cliso_CC_3d_motion_combine_up.bin", a.cliso.CC_3d_motion_combine_up, 16384);
	expect_file("22_cliso_video_mctf_b.bin", a.cliso.video_mctfB, 10064);
	expect_file("23_cliso_final_sharpen.bin", a.cliso.final_sharpen, 12752);
	EXPECT_FALSE(exists(mnt("13_final_sharpen.bin")));
	EXPECT_FALSE(exists(mnt("14_vignette.bin")));
}

TEST_F(IkPrintCfg, OpenFailureStopsTheCall)
{
	up();
	ASSERT_EQ(post(0), 0);
	/* A file where the directory should be: nothing can be opened in it. */
	write_file(under_root("/mnt"), {1, 2, 3});
	cfg(0)->main.basic.share.debug_config_addr = region_->phys_of(cfg(0));
	std::string text;
	EXPECT_EQ(print_cfg(0, 0, &text), -1);
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_print_cfg() ",
	                    "open " + under_root("/mnt") + "/01_cc_reg.bin fail\n"));
	EXPECT_EQ(text.find("02_cc_3d_a"), std::string::npos) << "stopped at the first";
	EXPECT_EQ(text.find("write_size"), std::string::npos) << "the debug buffers are not written";
	size_t warn = text.find("01_cc_reg.bin fail");
	EXPECT_NE(text.find("[IK]------contrast enhancement config------", warn), std::string::npos);
}

/* ---- the DSP's debug buffers --------------------------------------------------- */

TEST_F(IkPrintCfg, DebugBuffersOnlyFromTheRegion)
{
	up();
	const uint8_t *base = region_->user();
	uint8_t *data = region_->user() + 4096;
	for (int i = 0; i < 1024; i++)
		data[i] = (uint8_t)(i * 7);
	ik_liso_share share{};
	StdoutCapture quiet;
	EXPECT_EQ(img_dsp_low_iso_dump_idsp_cfg(&share), 0);
	EXPECT_FALSE(exists(mnt("L_idsp_0.bin")));
	EXPECT_FALSE(exists(mnt("L_dbg.y")));

	share.debug_config_addr = region_->phys_of(base);
	share.debug_addr[0] = region_->phys_of(data);
	share.debug_pitch[0] = 64;
	share.debug_height[0] = 16;
	EXPECT_EQ(img_dsp_low_iso_dump_idsp_cfg(&share), 0);
	EXPECT_EQ(read_file(mnt("L_idsp_0.bin")), std::vector<uint8_t>(base, base + 150000));
	EXPECT_EQ(read_file(mnt("L_dbg.y")), std::vector<uint8_t>(data, data + 1024));
	EXPECT_FALSE(exists(mnt("L_dbg.uv")));

	struct {
		uint32_t addr;
		uint16_t pitch, height;
	} const bad[] = {
	    {0x10, 16, 16},                                                    /* below the region */
	    {(uint32_t)(region_->phys_addr() + region_->size() - 100), 64, 2}, /* runs past its end */
	    {(uint32_t)region_->phys_addr(), 0xFFFF, 0xFFFF},                  /* larger than the region */
	};
	for (const auto &b : bad) {
		ik_liso_share s{};
		s.debug_addr[1] = b.addr;
		s.debug_pitch[1] = b.pitch;
		s.debug_height[1] = b.height;
		StdoutCapture out;
		EXPECT_EQ(img_dsp_low_iso_dump_idsp_cfg(&s), -1) << b.addr;
		EXPECT_TRUE(
		    has_msg(out.text(), "[IK][Warning]img_dsp_low_iso_dump_idsp_cfg() ", "L_dbg.uv: "));
		EXPECT_FALSE(exists(mnt("L_dbg.uv")));
	}
	ik_liso_share big{};
	big.debug_config_addr = (uint32_t)(region_->phys_addr() + region_->size() - 1000);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_low_iso_dump_idsp_cfg(&big), -1);
	EXPECT_EQ(read_file(mnt("L_idsp_0.bin")), std::vector<uint8_t>(base, base + 150000)) << "left alone";
}

TEST_F(IkPrintCfg, DebugConfigDumpedThroughPrintCfg)
{
	up();
	ASSERT_EQ(post(0), 0);
	cfg(0)->main.basic.share.debug_config_addr = region_->phys_of(region_->user());
	ASSERT_EQ(print_cfg(0), 0);
	EXPECT_EQ(read_file(mnt("L_idsp_0.bin")).size(), 150000u);
}

/* ---- the history ---------------------------------------------------------------- */

class IkHistory : public IkCfgFiles
{
      protected:
	std::string history(uint32_t pipe = 0)
	{
		img_dsp_mode m = mode(pipe, 0);
		StdoutCapture out;
		EXPECT_EQ(img_dsp_low_iso_print_history(&m), 0);
		return out.text();
	}
	/* The "t = " headings of a kind, in order. */
	static std::vector<int> steps(const std::string &text, const std::string &kind)
	{
		std::vector<int> t;
		std::string head = "[IK]---- " + kind + " config: t = ";
		for (size_t pos = 0; (pos = text.find(head, pos)) != std::string::npos; pos++)
			t.push_back(atoi(text.c_str() + pos + head.size()));
		return t;
	}
};

TEST_F(IkHistory, NewestFirstThenTheHdrConfigurations)
{
	up(3);
	EXPECT_TRUE(steps(history(), "iso").empty()) << "nothing posted";
	ASSERT_EQ(post(0), 0);
	std::string one = history();
	EXPECT_EQ(steps(one, "iso"), std::vector<int>({0}));
	EXPECT_EQ(steps(one, "hdr"), std::vector<int>({0}));
	ASSERT_EQ(post(1), 0);
	ASSERT_EQ(post(2), 0);
	std::string three = history();
	EXPECT_EQ(steps(three, "iso"), std::vector<int>({0, -1, -2}));
	EXPECT_EQ(steps(three, "hdr"), std::vector<int>({0, -1, -2}));
	size_t last_iso = three.find("[IK]---- iso config: t = -2 ----");
	size_t first_hdr = three.find("[IK]---- hdr config: t = 0 ----");
	EXPECT_LT(last_iso, first_hdr);
	EXPECT_NE(three.find("[IK]------contrast enhancement config------", last_iso), std::string::npos);
	EXPECT_NE(three.find("[IK]blend_0_updated: ", first_hdr), std::string::npos);
	EXPECT_TRUE(steps(history(1), "iso").empty()) << "the still context posted nothing";
	EXPECT_TRUE(steps(history(1), "hdr").empty());
}

TEST_F(IkHistory, EndsAtLinksThatLeadNowhere)
{
	/* A first configuration after a non-zero InitMode links to all ones. */
	up(3, IMG_DSP_INIT_MODE_NORMAL_VIDEO);
	ASSERT_EQ(post(0), 0);
	ASSERT_EQ(cfg(0)->prev_cfg, ~0ull);
	EXPECT_EQ(steps(history(), "iso"), std::vector<int>({0}));
	ASSERT_EQ(post(1), 0);
	cfg(0)->prev_cfg = 0x10;
	EXPECT_EQ(steps(history(), "iso"), std::vector<int>({0, -1}));
	/* A ring that does not come back to the newest still ends. */
	ASSERT_EQ(post(0), 0);
	ASSERT_EQ(post(2), 0);
	ASSERT_EQ(cfg(2)->prev_cfg, region_->phys_of(cfg(0)));
	ASSERT_EQ(cfg(0)->prev_cfg, region_->phys_of(cfg(1)));
	ASSERT_EQ(cfg(1)->prev_cfg, region_->phys_of(cfg(0)));
	EXPECT_EQ(steps(history(), "iso"), std::vector<int>({0, -1, -2}));
	img_dsp_mode bad = mode(2, 0);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_low_iso_print_history(&bad), -1);
}

/* ---- HDR printers ---------------------------------------------------------- */

TEST(IkHdrPrint, EchoCommands)
{
	uint8_t cmd[128] = {};
	uint32_t code = 0x0900500B;
	memcpy(cmd, &code, 4);
	cmd[4] = 2;
	cmd[5] = 1;
	cmd[6] = 5;
	for (int i = 0; i < 4; i++)
		cmd[8 + i] = (uint8_t)(10 + i);
	{
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_utility_echo_hdr_cmd("q", 3, cmd), code);
		EXPECT_EQ(out.text(), "[IK]q[3] cmd_code = 0x0900500b HDR_PREBLEND_CONFIG\n"
		                      "[IK]\t\t avg_radius = 2\n"
		                      "[IK]\t\t avg_method = 1\n"
		                      "[IK]\t\t saturation_num_nei = 5\n"
		                      "[IK]\t\t luma_avg_weight0 = 10\n"
		                      "[IK]\t\t luma_avg_weight1 = 11\n"
		                      "[IK]\t\t luma_avg_weight2 = 12\n"
		                      "[IK]\t\t luma_avg_weight3 = 13\n");
	}
	code = 0x0900500D;
	memcpy(cmd, &code, 4);
	int16_t neg = -7;
	memcpy(cmd + 4, &neg, 2);
	{
		StdoutCapture out;
		img_dsp_core_utility_echo_hdr_cmd("q", 0, cmd);
		EXPECT_NE(out.text().find("[IK]\t\t bl_offset_ee = -7\n"), std::string::npos);
	}
	code = 0x12345678;
	memcpy(cmd, &code, 4);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_utility_echo_hdr_cmd("q", 1, cmd), code);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_utility_echo_hdr_cmd() ",
	                    "q[1] cmd_code = 0x12345678 UNKNOWN\n"));
}

TEST_F(IkSections, HdrQueuesEchoedUntilAnAddressIsMissing)
{
	img_dsp_cfg_id cid{0, 0, {}};
	void *hdr = nullptr;
	void *tbl = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_hdr_config(&cid, &hdr), 0);
	ASSERT_EQ(img_dsp_core_utility_get_hdr_config_tbl(&cid, &tbl), 0);
	img_dsp_hdr_cfg *cfg = (img_dsp_hdr_cfg *)hdr;
	memset(cfg, 0, sizeof(*cfg));
	uint8_t *q = (uint8_t *)tbl;
	const uint32_t thresh = 0x0900500C, end = 0x09006004;
	memcpy(q, &thresh, 4);
	memcpy(q + 128, &end, 4);
	cfg->flags = (1u << 0) | (2u << 7);
	cfg->preblend_cmds_daddr[0][0] = region_->phys_of(q);
	cfg->preblend_cmds_daddr[0][1] = region_->phys_of(q);
	cfg->blend_cmds_daddr[0][1] = 0x10; /* outside the region */
	StdoutCapture out;
	/* The queue outside the region is reported and skipped, not followed. */
	ASSERT_EQ(vors_img_dsp_print_hdr_cfg(&cid), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]echo_queue_pass() ",
	                    "command queue 0x10 of 1024 bytes lies outside the region\n"));
	EXPECT_NE(t.find("[IK]hds_blend_queue:\n[IK][Error]"), std::string::npos);
	EXPECT_NE(t.find("[IK]hds_blend_cmds_daddr[1] = NULL\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]blend_0_updated: 1\n[IK]blend_1_updated: 0\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]number_of_exposure: 2\n"), std::string::npos);
	EXPECT_NE(t.find("[IK]main_preblend_queue:\n[IK]main_preblend_queue[0] cmd_code = 0x0900500c "
	                 "HDR_PREBLEND_THRESH\n"),
	          std::string::npos);
	EXPECT_NE(t.find("[IK]main_preblend_queue[1] cmd_code = 0x09006004 PROCESS_IDSP_BATCH_CMD\n"
	                 "[IK]main_preblend_cmds_daddr[1][0] is NULL\n"),
	          std::string::npos);
	EXPECT_NE(t.find("[IK]main_blend_queue:\n[IK]main_blend_cmds_daddr[0] = NULL\n"), std::string::npos);
	EXPECT_TRUE(has_msg(t, "[IK][Debug]echo_slot() ", "blend_idx: 0, batch_cmd_idx: 0\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Debug]echo_slot() ", "blend_idx: 0, batch_cmd_idx: 1\n"));
	EXPECT_NE(t.find("[IK]hds_preblend_cmds_daddr[1][0] is NULL\n"), std::string::npos);
}

} // namespace

/* The low-ISO configuration layout: every field the DSP reads, at its byte. */
#include "ik_context.h"
#include "ik_liso_layout.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace
{

struct Field {
	const char *name;
	size_t got;
	size_t want;
};

#define MAIN(layout, member) (offsetof(img_dsp_iso_cfg, main) + offsetof(layout, member) - 96)
#define B(member) MAIN(ik_liso_main_basic, member)
#define A(member) MAIN(ik_liso_main_advanced, member)

TEST(IkLisoLayout, MainPartFieldOffsets)
{
	const size_t common = 56, color = 188, liso = 356, flow = 512;
	const std::vector<Field> fields = {
	    {"share.adv_mode", B(share.adv_mode), 5},
	    {"share.debug_mode", B(share.debug_mode), 9},
	    {"share.debug_pic_num", B(share.debug_pic_num), 12},
	    {"share.debug_config_addr", B(share.debug_config_addr), 16},
	    {"share.debug_addr", B(share.debug_addr), 20},
	    {"share.debug_pitch", B(share.debug_pitch), 28},
	    {"share.debug_height", B(share.debug_height), 36},
	    {"common.vignette_gain", B(common.vignette_gain), common + 4},
	    {"common.ca cmd_code", B(common.ca_warp_control.cmd_code), common + 8},
	    {"common.ca vert_warp_enable", B(common.ca_warp_control.vert_warp_enable), common + 14},
	    {"common.ca vert_pass_vert_exp", B(common.ca_warp_control.vert_pass_vert_grid_spacing_exponent),
	     common + 23},
	    {"common.ca hor red", B(common.ca_warp_control.warp_horizontal_table_addr_red), common + 24},
	    {"common.ca ver blue", B(common.ca_warp_control.warp_vertical_table_addr_blue), common + 36},
	    {"geo.zoom_y", B(common.geo_warp_control.zoom_y), common + 40 + 36},
	    {"geo.main_out_x", B(common.geo_warp_control.main_out_x), common + 40 + 40},
	    {"geo.grid_array_width", B(common.geo_warp_control.grid_array_width), common + 40 + 48},
	    {"geo.force_v4tap_disable", B(common.geo_warp_control.force_v4tap_disable), common + 40 + 57},
	    {"geo.hor_skew_phase_inc", B(common.geo_warp_control.hor_skew_phase_inc), common + 40 + 60},
	    {"geo.dummy_window_x_left", B(common.geo_warp_control.dummy_window_x_left), common + 40 + 64},
	    {"geo.cfa_output_height", B(common.geo_warp_control.cfa_output_height), common + 40 + 74},
	    {"geo.extra_sec2", B(common.geo_warp_control.extra_sec2_vert_out_vid_mode), common + 40 + 76},
	    {"common.sbp_map_width", B(common.sbp_map_width), common + 120},
	    {"common.sbp_map_height", B(common.sbp_map_height), common + 124},
	    {"common.sbp_map_addr", B(common.sbp_map_addr), common + 128},
	    {"color.global_offset_oo", B(color.global_offset_oo), color + 16},
	    {"color.black_level_offset_red", B(color.black_level_offset_red), color + 20},
	    {"color.gain_depedent_offset_red", B(color.gain_depedent_offset_red), color + 26},
	    {"color.def_blk1_blue", B(color.def_blk1_blue), color + 36},
	    {"color.wb cmd_code", B(color.wb_gain_cmd_code), color + 40},
	    {"color.b_gain", B(color.b_gain), color + 56},
	    {"color.le cmd_code", B(color.local_exposure_cmd_code), color + 60},
	    {"color.le radius", B(color.le_radius), color + 66},
	    {"color.luma_weight_sum_shift", B(color.luma_weight_sum_shift), color + 71},
	    {"color.gain_curve_table_addr", B(color.gain_curve_table_addr), color + 72},
	    {"color.luma_offset", B(color.luma_offset), color + 76},
	    {"color.cs cmd_code", B(color.chroma_scale_cmd_code), color + 80},
	    {"color.cs enable", B(color.cs_enable), color + 86},
	    {"color.make_legal", B(color.make_legal), color + 88},
	    {"color.u_weight_0", B(color.u_weight_0), color + 92},
	    {"color.v_weight_2", B(color.v_weight_2), color + 102},
	    {"color.gain_curver_addr", B(color.gain_curver_addr), color + 104},
	    {"color.cc_reg", B(color.cc_reg), color + 108},
	    {"color.cc_out", B(color.cc_out), color + 116},
	    {"color.rgb2yuv", B(color.rgb2yuv), color + 120},
	    {"color.use", B(color.use_flags), color + 144},
	    {"color.wb_saturation_level_red", B(color.wb_saturation_level_red), color + 146},
	    {"color.wb_saturation_level_blue", B(color.wb_saturation_level_blue), color + 152},
	    {"color.awb_min_thresh", B(color.awb_min_thresh), color + 154},
	    {"color.ae_max_thresh", B(color.ae_max_thresh), color + 160},
	    {"color.update_all", B(color.update_all), color + 164},
	    {"liso.hot_pixel_threshold", B(liso.hot_pixel_threshold), liso + 4},
	    {"liso.cfa_noise_filter", B(liso.cfa_noise_filter), liso + 12},
	    {"cfa.target_coarse_red", B(liso.cfa_noise_filter.target_coarse_red), liso + 12 + 7},
	    {"cfa.cutoff_blue", B(liso.cfa_noise_filter.cutoff_blue), liso + 12 + 15},
	    {"cfa.thresh_coarse_red", B(liso.cfa_noise_filter.thresh_coarse_red), liso + 12 + 16},
	    {"cfa.thresh_fine_blue", B(liso.cfa_noise_filter.thresh_fine_blue), liso + 12 + 26},
	    {"demosaic.activity_thresh", B(liso.demosaic.activity_thresh), liso + 40 + 7},
	    {"demosaic.grad_noise_thresh", B(liso.demosaic.grad_noise_thresh), liso + 40 + 12},
	    {"sharpen.fir2_clip_high", B(liso.sharpen.fir2_clip_high), liso + 60 + 12},
	    {"sharpen.fir2_clip_low", B(liso.sharpen.fir2_clip_low), liso + 60 + 14},
	    {"sharpen.wide_edge_detect", B(liso.sharpen.wide_edge_detect), liso + 60 + 18},
	    {"sharpen.flags", B(liso.sharpen.flags), liso + 60 + 19},
	    {"sharpen.coring_multiplier_min", B(liso.sharpen.coring_multiplier_min), liso + 60 + 20},
	    {"sharpen.coring_index_mul", B(liso.sharpen.coring_index_mul), liso + 60 + 28},
	    {"sharpen.edge_thresh", B(liso.sharpen.edge_thresh), liso + 60 + 36},
	    {"sharpen.max_change_down_5x5", B(liso.sharpen.max_change_down_5x5), liso + 60 + 39},
	    {"sharpen.coring_multiplier_mul", B(liso.sharpen.coring_multiplier_mul), liso + 60 + 40},
	    {"sharpen.fir2_out_scale", B(liso.sharpen.fir2_out_scale), liso + 60 + 48},
	    {"sharpen.coring_multiplier_max", B(liso.sharpen.coring_multiplier_max), liso + 60 + 56},
	    {"liso.leakage_alpha_rr", B(liso.leakage_alpha_rr), liso + 124},
	    {"liso.leakage_saturation_level", B(liso.leakage_saturation_level), liso + 128},
	    {"liso.anti_aliasing_threshold", B(liso.anti_aliasing_threshold), liso + 130},
	    {"liso.grgb wide reject", B(liso.grgb_mismatch_correct_wide_reject_thresh), liso + 134},
	    {"liso.chroma_radius", B(liso.chroma_radius), liso + 136},
	    {"liso.cliso bit", B(liso.cliso_flags), liso + 137},
	    {"liso.chroma_noise_level_cr", B(liso.chroma_noise_level_cr), liso + 139},
	    {"liso.blend cb", B(liso.chroma_original_blend_cb_strength), liso + 140},
	    {"liso.blend cr", B(liso.chroma_original_blend_cr_strength), liso + 142},
	    {"liso.use", B(liso.use_flags), liso + 144},
	    {"liso.batch_cmd_queue_size", B(liso.batch_cmd_queue_size), liso + 146},
	    {"liso.batch_cmd_queue_daddr", B(liso.batch_cmd_queue_daddr), liso + 148},
	    {"liso.update", B(liso.update_flags), liso + 152},
	    {"flow.width_chroma", B(flow.width_chroma), flow + 4},
	    {"flow.main_out_height", B(flow.main_out_height), flow + 10},
	    {"flow.video_mctf", B(flow.video_mctf), flow + 12},
	    {"flow.final_sharpen", B(flow.final_sharpen), flow + 16},
	    {"flow.update masks", B(flow.update_masks), flow + 20},
	    {"flow.edge_reduce_b", B(flow.temporal_adjust_edge_reduce_b), flow + 24},
	    {"flow.edge_reduce_t", B(flow.temporal_adjust_edge_reduce_t), flow + 30},
	    {"basic vert_warp[0]", B(vert_warp[0]), 544},
	    {"basic vert_warp[4].addr", B(vert_warp[4].warp_field_addr), 544 + 32 + 4},
	    {"basic reserved", B(reserved), 584},
	    {"cliso.smooth_strength", A(cliso.smooth_strength), 544 + 6},
	    {"cliso.motion_detect_fir1", A(cliso.motion_detect_fir1), 544 + 8},
	    {"cliso.mcts_MoASF", A(cliso.mcts_MoASF), 544 + 16},
	    {"cliso.update mask md", A(cliso.mctf_mcts_update_mask_motion_detect), 544 + 20},
	    {"cliso.flags0", A(cliso.flags0), 544 + 24},
	    {"cliso.flags1", A(cliso.flags1), 544 + 25},
	    {"cliso.CC_reg_motion_combine", A(cliso.CC_reg_motion_combine), 544 + 28},
	    {"cliso.CC_3d_motion_combine_up", A(cliso.CC_3d_motion_combine_up), 544 + 44},
	    {"cliso.video_mctfB", A(cliso.video_mctfB), 544 + 48},
	    {"cliso.final_sharpen", A(cliso.final_sharpen), 544 + 52},
	    {"cliso.update mask B", A(cliso.mctf_mcts_update_mask_video_mctfB), 544 + 56},
	    {"advanced vert_warp[0]", A(vert_warp[0]), 604},
	    {"advanced reserved", A(reserved), 644},
	    {"ce part from the main part", offsetof(img_dsp_iso_cfg, ce) - 96, 700},
	    {"ce enables", offsetof(img_dsp_iso_cfg, ce.enables) - 96, 706},
	};
	for (const auto &f : fields)
		EXPECT_EQ(f.got, f.want) << f.name;
	EXPECT_EQ(sizeof(img_dsp_iso_cfg), 832u);
	EXPECT_EQ(sizeof(ik_liso_main_basic), 616u);
	EXPECT_EQ(sizeof(ik_liso_main_advanced), 676u);
	EXPECT_EQ(offsetof(img_dsp_iso_cfg, src_cfg_id), 804u);
}

TEST(IkLisoLayout, TableBlockOffsetsAreDisjointAndFit)
{
	struct {
		const char *name;
		uint32_t off, size;
	} tables[] = {
	    {"batch queue", IK_TBL_LISO_BATCH_QUEUE, 1280},
	    {"vignette", IK_TBL_VIGNETTE_GAIN, 8720},
	    {"ca hor red", IK_TBL_CA_WARP_HOR_RED, 9216},
	    {"ca ver red", IK_TBL_CA_WARP_VER_RED, 9216},
	    {"ca hor blue", IK_TBL_CA_WARP_HOR_BLUE, 9216},
	    {"ca ver blue", IK_TBL_CA_WARP_VER_BLUE, 9216},
	    {"le gain", IK_TBL_LOCAL_EXPOSURE_GAIN, 512},
	    {"cs gain", IK_TBL_CHROMA_SCALE_GAIN, 256},
	    {"cc reg", IK_TBL_CC_REG, 2304},
	    {"cc 3d", IK_TBL_CC_3D, 16384},
	    {"cc out", IK_TBL_CC_OUT, 1024},
	    {"dark", IK_TBL_DARK_PIXEL_THRESH, 768},
	    {"hot", IK_TBL_HOT_PIXEL_THRESH, 768},
	    {"cmf k", IK_TBL_CHROMA_MEDIAN_K, 48},
	    {"shp fir1", IK_TBL_SHP_FIR1, 256},
	    {"shp fir2", IK_TBL_SHP_FIR2, 256},
	    {"shp coring", IK_TBL_SHP_CORING, 256},
	    {"asf fir1", IK_TBL_ASF_FIR1, 256},
	    {"asf fir2", IK_TBL_ASF_FIR2, 256},
	    {"asf coring", IK_TBL_ASF_CORING, 256},
	    {"mctf", IK_TBL_VIDEO_MCTF, 10064},
	    {"final sharpen", IK_TBL_FINAL_SHARPEN, 12752},
	    {"moasf", IK_TBL_MCTS_MOASF, 12752},
	    {"motion 3d", IK_TBL_MOTION_CC_3D, 16384},
	    {"motion out", IK_TBL_MOTION_CC_OUT, 1024},
	    {"mctf b", IK_TBL_VIDEO_MCTF_B, 10064},
	    {"final sharpen 2", IK_TBL_FINAL_SHARPEN_2, 12752},
	    {"ce queue", IK_TBL_CE_QUEUE, 1280},
	    {"ce upsampling", IK_TBL_CE_UPSAMP_COEFF, 256},
	    {"ce coring", IK_TBL_CE_CORING, 64},
	    {"ce output", IK_TBL_CE_OUTPUT, 512},
	};
	const size_t n = sizeof(tables) / sizeof(tables[0]);
	for (size_t i = 0; i < n; i++) {
		EXPECT_LE(tables[i].off + tables[i].size, IK_ISO_CFG_TBL_SIZE) << tables[i].name;
		if (i > 0) {
			EXPECT_GE(tables[i].off, tables[i - 1].off + tables[i - 1].size) << tables[i].name;
		}
	}
}

TEST(IkLisoLayout, CommandQueueSlots)
{
	EXPECT_EQ(offsetof(ik_ce_luma_avg_weight_cmd, luma_avg_weight), 4u);
	EXPECT_EQ(offsetof(ik_ce_luma_black_level_cmd, luma_avg_global_offset), 4u);
	EXPECT_EQ(offsetof(ik_ce_fir_config_cmd, fir_coeff), 8u);
	EXPECT_EQ(offsetof(ik_ce_coring_config_cmd, coring_gain_delta_t1), 19u);
	EXPECT_EQ(offsetof(ik_ce_output_table_cmd, output_shift), 8u);
	EXPECT_EQ(offsetof(ik_ce_vertical_decimation_cmd, vdec_offset), 16u);
	EXPECT_EQ(offsetof(ik_ce_upsampling_cmd, upsample_ver_offset), 32u);
	EXPECT_EQ(IK_CE_QUEUE_SIZE, 1280u);
	EXPECT_EQ(sizeof(ik_cmd_image), 128u);
}

TEST(IkLisoLayout, ContextAndHdrRecords)
{
	EXPECT_LE(sizeof(ik_video_ctx), 1850792u);
	EXPECT_LE(sizeof(ik_still_ctx), 1911120u);
	EXPECT_EQ(sizeof(ik_decode_ctx), 87504u);
	EXPECT_EQ(offsetof(ik_still_ctx, tables), 96u);
	EXPECT_EQ(sizeof(img_dsp_hdr_cfg), 104u);
	EXPECT_EQ(offsetof(img_dsp_hdr_cfg, preblend_cmds_daddr), 4u);
	EXPECT_EQ(offsetof(img_dsp_hdr_cfg, blend_cmds_daddr), 28u);
	EXPECT_EQ(offsetof(img_dsp_hdr_cfg, raw_daddr_start_offset_y), 52u);
	EXPECT_EQ(offsetof(img_dsp_hdr_cfg, prev_cfg), 72u);
	EXPECT_EQ(offsetof(img_dsp_hdr_cfg, next_cfg), 80u);
}

} // namespace

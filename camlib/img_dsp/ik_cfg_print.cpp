/*
 * Configuration printers: the sections of a low-ISO configuration as the
 * DSP reads them, its contrast-enhancement queue and 3A batch commands, the
 * HDR configuration with its command queues, the history of a context, and
 * the dumps of a configuration's tables and debug buffers to files.
 */
#include "ik_cfg_print.h"

#include "ik_arch.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_files.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

/* Parts of the video-MCTF table: the registers, then the statistics and
 * curve areas the DSP reads, ending with the reference remap. */
const ik_table_piece ik_mctf_pieces[IK_MCTF_PIECES] = {
    {"mctf_config", 0, 768},       {"frame_act", 768, 264},        {"motion_vectors", 1032, 768},
    {"histogram_0", 1800, 256},    {"histogram_1", 2056, 256},     {"histogram_2", 2312, 256},
    {"histogram_3", 2568, 256},    {"curve_b", 2824, 192},         {"curve_c", 3016, 192},
    {"curve_d", 3208, 192},        {"tone_adj_config", 3400, 128}, {"tone_hist_tbl", 3528, 1992},
    {"mctf_3d_lvl_l", 5520, 2048}, {"mctf_3d_lvl_u", 7568, 2048},  {"curve_sb2", 9616, 192},
    {"ref_luma_remap", 9808, 256},
};

/* Parts of the final-sharpen table: the shared word, each engine's block,
 * its FIR register area in three parts, the coring areas and the two halves
 * of the 3-D table. */
const ik_table_piece ik_fs_pieces[IK_FS_PIECES] = {
    {"mcts_config", 0, 16},           {"shpb_config", 16, 696},         {"shpc_config", 712, 696},
    {"shpb_lpf_coef_1", 1408, 336},   {"shpb_lpf_coef_2", 1744, 600},   {"shpc_lpf_coef_1", 3240, 336},
    {"shpc_lpf_coef_2", 3576, 600},   {"shpb_alpha", 2344, 896},        {"shpc_alpha", 4176, 896},
    {"shpb_coring1_tbl", 5072, 1024}, {"shpc_coring1_tbl", 6096, 1024}, {"shpb_coring2_tbl", 7120, 1536},
    {"shrp_3d_lvl_l", 8656, 2048},    {"shrp_3d_lvl_u", 10704, 2048},
};

static_assert(2568 + 256 == 2824 && 9808 + 256 == IK_VIDEO_MCTF_TBL_SIZE, "MCTF parts tile the table");
static_assert(10704 + 2048 == IK_FINAL_SHARPEN_TBL_SIZE && 3576 + 600 == 4176 && 4176 + 896 == 5072,
              "final-sharpen parts tile the table");

namespace
{

/* ---- field printer -------------------------------------------------------- */

enum pf_type : uint8_t { PF_U8, PF_U16, PF_S16, PF_U32, PF_S32, PF_ADDR, PF_CODE, PF_B8, PF_B16, PF_B32 };

/* One field of a section or command: its name, byte offset and form; a
 * bit field gives the shift and width within its word, an array its count. */
struct pfield {
	const char *name;
	uint16_t off;
	uint8_t type;
	uint8_t shift;
	uint8_t width;
	uint8_t count;
};

#define U8(n, o)                                                                                             \
	{                                                                                                    \
		n, o, PF_U8, 0, 0, 1                                                                         \
	}
#define U16(n, o)                                                                                            \
	{                                                                                                    \
		n, o, PF_U16, 0, 0, 1                                                                        \
	}
#define S16(n, o)                                                                                            \
	{                                                                                                    \
		n, o, PF_S16, 0, 0, 1                                                                        \
	}
#define U32(n, o)                                                                                            \
	{                                                                                                    \
		n, o, PF_U32, 0, 0, 1                                                                        \
	}
#define S32(n, o)                                                                                            \
	{                                                                                                    \
		n, o, PF_S32, 0, 0, 1                                                                        \
	}
#define ADDR(n, o)                                                                                           \
	{                                                                                                    \
		n, o, PF_ADDR, 0, 0, 1                                                                       \
	}
#define CODE(o)                                                                                              \
	{                                                                                                    \
		"cmd_code", o, PF_CODE, 0, 0, 1                                                              \
	}
#define B8(n, o, s, w)                                                                                       \
	{                                                                                                    \
		n, o, PF_B8, s, w, 1                                                                         \
	}
#define B16(n, o, s, w)                                                                                      \
	{                                                                                                    \
		n, o, PF_B16, s, w, 1                                                                        \
	}
#define B32(n, o, s, w)                                                                                      \
	{                                                                                                    \
		n, o, PF_B32, s, w, 1                                                                        \
	}
#define ARR(n, o, t, c)                                                                                      \
	{                                                                                                    \
		n, o, t, 0, 0, c                                                                             \
	}
#define FIELDS(a) a, sizeof(a) / sizeof(a[0])

unsigned type_size(uint8_t t)
{
	switch (t) {
	case PF_U8:
	case PF_B8:
		return 1;
	case PF_U16:
	case PF_S16:
	case PF_B16:
		return 2;
	default:
		return 4;
	}
}

int64_t field_value(const uint8_t *p, const pfield *f)
{
	uint8_t u8;
	uint16_t u16;
	int16_t s16;
	uint32_t u32;
	int32_t s32;
	switch (f->type) {
	case PF_U8:
		return *p;
	case PF_U16:
		memcpy(&u16, p, 2);
		return u16;
	case PF_S16:
		memcpy(&s16, p, 2);
		return s16;
	case PF_S32:
		memcpy(&s32, p, 4);
		return s32;
	case PF_B8:
		u8 = *p;
		return (u8 >> f->shift) & ((1u << f->width) - 1);
	case PF_B16:
		memcpy(&u16, p, 2);
		return (u16 >> f->shift) & ((1u << f->width) - 1);
	case PF_B32:
		memcpy(&u32, p, 4);
		return (u32 >> f->shift) & ((1ull << f->width) - 1);
	default:
		memcpy(&u32, p, 4);
		return u32;
	}
}

/* One line per field, "[IK]<prefix><name> = <value>". */
void print_fields(const uint8_t *base, const char *prefix, const pfield *f, size_t n)
{
	for (size_t i = 0; i < n; i++, f++) {
		for (unsigned k = 0; k < f->count; k++) {
			char name[96];
			if (f->count > 1)
				snprintf(name, sizeof(name), "%s%s[%u]", prefix, f->name, k);
			else
				snprintf(name, sizeof(name), "%s%s", prefix, f->name);
			int64_t v = field_value(base + f->off + k * type_size(f->type), f);
			if (f->type == PF_ADDR)
				ik_print("[IK]%s = 0x%x\n", name, (unsigned)v);
			else if (f->type == PF_CODE)
				ik_print("[IK]%s = 0x%X\n", name, (unsigned)v);
			else if (f->type == PF_U32)
				ik_print("[IK]%s = %u\n", name, (unsigned)v);
			else
				ik_print("[IK]%s = %d\n", name, (int)v);
		}
	}
}

/* The fields of a sub-record, each under "<label>.". */
void print_record(const uint8_t *base, const char *label, const pfield *f, size_t n)
{
	char prefix[80];
	snprintf(prefix, sizeof(prefix), "%s.", label);
	print_fields(base, prefix, f, n);
}

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

/* A table a field points at, when all of it lies in the region. */
const uint8_t *table_at(uint32_t addr, uint32_t size)
{
	return addr ? ik_region_span(addr, size) : NULL;
}

/* ---- share and common ------------------------------------------------------- */

const pfield share_fields[] = {
    U32("iso_config_tag", 0),
    U8("iso_mode", 4),
    U8("adv_mode", 5),
    U8("diag_case_id", 6),
    U8("channel_id", 7),
    U8("debug_step_id", 8),
    B8("debug_mode", 9, 0, 7),
    B8("break_mode", 9, 7, 1),
    U8("debug_tile_x", 10),
    U8("debug_tile_y", 11),
    U32("debug_pic_num", 12),
    ADDR("debug_config_addr", 16),
    {"debug_addr", 20, PF_ADDR, 0, 0, 2},
    ARR("debug_pitch", 28, PF_U16, 2),
    ARR("debug_width", 32, PF_U16, 2),
    ARR("debug_height", 36, PF_U16, 2),
};

const pfield common_flag_fields[] = {
    B32("use_compression", 0, 0, 1),  B32("use_static_bad_pixel_correction", 0, 1, 1),
    B32("use_vignette", 0, 2, 1),     B32("use_lens_warp", 0, 3, 1),
    B32("use_CA_warp", 0, 4, 1),      B32("update_sbp", 0, 6, 1),
    B32("update_vignette", 0, 7, 1),  B32("update_CA_warp", 0, 8, 1),
    B32("update_lens_warp", 0, 9, 1), B32("update_chroma_radius", 0, 10, 1),
    B32("update_dzoom", 0, 11, 1),    B32("sbp_a5m_mode", 0, 12, 1),
    B32("bayer_pattern", 0, 13, 2),   B32("vignette_gain_shift", 0, 15, 4),
    ADDR("vignette_gain", 4),
};

const pfield ca_warp_fields[] = {
    CODE(0),
    U16("horz_warp_enable", 4),
    U16("vert_warp_enable", 6),
    U8("horz_pass_grid_array_width", 8),
    U8("horz_pass_grid_array_height", 9),
    U8("horz_pass_horz_grid_spacing_exponent", 10),
    U8("horz_pass_vert_grid_spacing_exponent", 11),
    U8("vert_pass_grid_array_width", 12),
    U8("vert_pass_grid_array_height", 13),
    U8("vert_pass_horz_grid_spacing_exponent", 14),
    U8("vert_pass_vert_grid_spacing_exponent", 15),
    ADDR("warp_horizontal_table_addr_red", 16),
    ADDR("warp_horizontal_table_addr_blue", 20),
    ADDR("warp_vertical_table_addr_red", 24),
    ADDR("warp_vertical_table_addr_blue", 28),
};

const pfield geo_warp_fields[] = {
    CODE(0),
    U32("warp_control", 4),
    ADDR("warp_horizontal_table_address", 8),
    ADDR("warp_vertical_table_address", 12),
    U32("actual_left_top_x", 16),
    U32("actual_left_top_y", 20),
    U32("actual_right_bot_x", 24),
    U32("actual_right_bot_y", 28),
    U32("zoom_x", 32),
    U32("zoom_y", 36),
    U16("main_out_x", 40),
    U16("main_out_y", 42),
    U8("grid_array_width", 48),
    U8("grid_array_height", 49),
    U8("horz_grid_spacing_exponent", 50),
    U8("vert_grid_spacing_exponent", 51),
    U8("vert_warp_enable", 52),
    U8("vert_warp_grid_array_width", 53),
    U8("vert_warp_grid_array_height", 54),
    U8("vert_warp_horz_grid_spacing_exponent", 55),
    U8("vert_warp_vert_grid_spacing_exponent", 56),
    U8("force_v4tap_disable", 57),
    U32("hor_skew_phase_inc", 60),
    U16("dummy_window_x_left", 64),
    U16("dummy_window_y_top", 66),
    U16("dummy_window_width", 68),
    U16("dummy_window_height", 70),
    U16("cfa_output_width", 72),
    U16("cfa_output_height", 74),
    U32("extra_sec2_vert_out_vid_mode", 76),
};

const pfield sbp_fields[] = {
    U16("sbp_map_width", 120),
    U16("sbp_map_pitch", 122),
    U16("sbp_map_height", 124),
    ADDR("sbp_map_addr", 128),
};

void print_share(const uint8_t *share)
{
	ik_print("[IK]------share------\n");
	print_fields(share, "", FIELDS(share_fields));
}

/* The first entries of a CA-warp table, when it is readable. */
void print_ca_table(const char *name, uint32_t addr)
{
	const uint8_t *t = table_at(addr, 6);
	if (!t)
		return;
	int16_t v[3];
	memcpy(v, t, sizeof(v));
	ik_print("[IK]%s: %d %d %d ...\n", name, v[0], v[1], v[2]);
}

/* `calib`: the advanced layout's view, which shows the geometric warp. */
void print_common(const uint8_t *common, bool calib)
{
	ik_print(calib ? "[IK]------calib------\n" : "[IK]------common------\n");
	print_fields(common, "", FIELDS(common_flag_fields));
	const uint8_t *ca = common + offsetof(ik_liso_common, ca_warp_control);
	print_record(ca, "ca_warp_control", FIELDS(ca_warp_fields));
	for (size_t i = 11; i < 15; i++)
		print_ca_table(ca_warp_fields[i].name, rd32(ca + ca_warp_fields[i].off));
	if (calib)
		print_record(common + offsetof(ik_liso_common, geo_warp_control), "geo_warp_control",
		             FIELDS(geo_warp_fields));
	print_fields(common, "", FIELDS(sbp_fields));
}

/* ---- color ------------------------------------------------------------------ */

const pfield black_level_fields[] = {
    CODE(0),
    S32("global_offset_ee", 4),
    S32("global_offset_eo", 8),
    S32("global_offset_oe", 12),
    S32("global_offset_oo", 16),
    U16("black_level_offset_red", 20),
    U16("black_level_offset_green", 22),
    U16("black_level_offset_blue", 24),
    U16("gain_depedent_offset_red", 26),
    U16("gain_depedent_offset_green", 28),
    U16("gain_depedent_offset_blue", 30),
    U16("def_blk1_red", 32),
    U16("def_blk1_green", 34),
    U16("def_blk1_blue", 36),
};

const pfield wb_gain_fields[] = {
    CODE(0), U32("r_gain", 4), U32("g_even_gain", 8), U32("g_odd_gain", 12), U32("b_gain", 16),
};

const pfield local_exposure_fields[] = {
    CODE(0),
    U8("group_index", 4),
    U8("enable", 5),
    U16("radius", 6),
    U8("luma_weight_red", 8),
    U8("luma_weight_green", 9),
    U8("luma_weight_blue", 10),
    U8("luma_weight_sum_shift", 11),
    ADDR("gain_curve_table_addr", 12),
    U16("luma_offset", 16),
};

const pfield chroma_scale_fields[] = {
    CODE(0),
    U16("group_index", 4),
    U16("enable", 6),
    U32("make_legal", 8),
    S16("u_weight_0", 12),
    S16("u_weight_1", 14),
    S16("u_weight_2", 16),
    S16("v_weight_0", 18),
    S16("v_weight_1", 20),
    S16("v_weight_2", 22),
    ADDR("gain_curver_addr", 24),
};

const pfield color_table_fields[] = {
    ADDR("cc_reg", 108),
    ADDR("cc_3d", 112),
    ADDR("cc_out", 116),
};

const pfield color_tail_fields[] = {
    B8("use_local_exposure", 144, 0, 1),
    B8("use_chroma_scale", 144, 1, 1),
    B8("use_defer_cc", 144, 2, 1),
    U16("wb_saturation_level_red", 146),
    U16("wb_saturation_level_green_even", 148),
    U16("wb_saturation_level_green_odd", 150),
    U16("wb_saturation_level_blue", 152),
    U16("awb_min_thresh", 154),
    U16("awb_max_thresh", 156),
    U16("ae_min_thresh", 158),
    U16("ae_max_thresh", 160),
};

const char *const color_update_bits[] = {
    "update_black_level",
    "update_wb_gain",
    "update_wb_gain_saturation",
    "update_local_exposure",
    "update_chroma_scale",
    "update_rgb2yuv",
    "update_cc_reg",
    "update_cc_3d",
    "update_cc_out",
    "update_defer_cc_mode",
    "update_3a_min_max_thresh",
};

void print_color(const uint8_t *color)
{
	ik_print("[IK]------color------\n");
	print_record(color, "black_level", FIELDS(black_level_fields));
	print_record(color + 40, "wb_gain", FIELDS(wb_gain_fields));
	print_record(color + 60, "local_exposure", FIELDS(local_exposure_fields));
	print_record(color + 80, "chroma_scale", FIELDS(chroma_scale_fields));
	print_fields(color, "", FIELDS(color_table_fields));
	for (int i = 0; i < 12; i++) {
		int16_t v;
		memcpy(&v, color + offsetof(ik_liso_color, rgb2yuv) + 2 * i, 2);
		ik_print("[IK]rgb2yuv[%d]: %d\n", i, v);
	}
	print_fields(color, "", FIELDS(color_tail_fields));
	uint32_t all = rd32(color + offsetof(ik_liso_color, update_all));
	if (all == 0xFFFFFFFFu) {
		ik_print("[IK]update_all: %x\n", all);
		return;
	}
	for (unsigned b = 0; b < sizeof(color_update_bits) / sizeof(color_update_bits[0]); b++)
		ik_print("[IK]%s = %d\n", color_update_bits[b], (int)((all >> b) & 1u));
}

/* ---- liso ------------------------------------------------------------------- */

const pfield liso_table_fields[] = {
    ADDR("dark_pixel_threshold", 0),
    ADDR("hot_pixel_threshold", 4),
    ADDR("chroma_median_k_table", 8),
};

const pfield cfa_noise_fields[] = {
    CODE(0),
    B8("enable", 4, 0, 2),
    B8("mode", 4, 2, 2),
    B8("shift_coarse_ring1", 4, 4, 2),
    B8("shift_coarse_ring2", 4, 6, 2),
    B8("shift_fine_ring1", 5, 0, 2),
    B8("shift_fine_ring2", 5, 2, 2),
    B8("shift_center_red", 5, 4, 4),
    B8("shift_center_green", 6, 0, 4),
    B8("shift_center_blue", 6, 4, 4),
    U8("target_coarse_red", 7),
    U8("target_coarse_green", 8),
    U8("target_coarse_blue", 9),
    U8("target_fine_red", 10),
    U8("target_fine_green", 11),
    U8("target_fine_blue", 12),
    U8("cutoff_red", 13),
    U8("cutoff_green", 14),
    U8("cutoff_blue", 15),
    U16("thresh_coarse_red", 16),
    U16("thresh_coarse_green", 18),
    U16("thresh_coarse_blue", 20),
    U16("thresh_fine_red", 22),
    U16("thresh_fine_green", 24),
    U16("thresh_fine_blue", 26),
};

const pfield demosaic_fields[] = {
    CODE(0),
    U8("group_index", 4),
    U8("enable", 5),
    U8("activity_thresh", 7),
    U16("activity_difference_thresh", 8),
    U16("grad_clip_thresh", 10),
    U16("grad_noise_thresh", 12),
};

const pfield level_fields[] = {
    U8("low", 0),
    U8("low_0", 1),
    U8("low_val", 2),
    U8("high", 3),
    U8("high_0", 4),
    U8("high_val", 5),
    U8("base_val", 6),
    B8("low_delta", 7, 0, 3),
    B8("high_delta", 7, 3, 3),
    B8("area_index", 7, 6, 2),
};

/* The sharpen block's fields up to its first level block: the two layouts
 * differ only in bytes 12-15 and in the coring shift of byte 19. */
const pfield sharpen_table_fields[] = {
    ADDR("fir1", 0),
    ADDR("fir2", 4),
    ADDR("coring", 8),
};

const pfield sharpen_clip_fields[] = {
    U16("fir2_clip_high", 12),
    S16("fir2_clip_low", 14),
};

const pfield asf_blend_fields[] = {
    U16("blend_iso0_threshold", 12),
    U16("blend_iso1_threshold", 14),
};

const pfield sharpen_head_fields[] = {
    U8("max_change_up", 16),     U8("max_change_down", 17),     U8("wide_edge_detect", 18),
    B8("enable", 19, 0, 1),      B8("special_mode", 19, 1, 1),  B8("update_fir1", 19, 2, 1),
    B8("update_fir2", 19, 3, 1), B8("update_coring", 19, 4, 1), B8("update_others", 19, 5, 1),
};

const pfield sharpen_shift_fields[] = {
    B8("coring_mul_shift", 19, 6, 2),
};

const pfield sharpen_mid_fields[] = {
    B16("edge_thresh", 36, 0, 11),
    B16("shp_mode0", 36, 11, 1),
    U8("max_change_up_5x5", 38),
    U8("max_change_down_5x5", 39),
};

void print_level(const char *block, const char *level, const uint8_t *p)
{
	char prefix[80];
	snprintf(prefix, sizeof(prefix), "%s.%s.", block, level);
	print_fields(p, prefix, FIELDS(level_fields));
}

void print_sharpen_block(const uint8_t *s, bool asf)
{
	const char *b = asf ? "asf" : "sharpen";
	print_record(s, b, FIELDS(sharpen_table_fields));
	if (asf)
		print_record(s, b, FIELDS(asf_blend_fields));
	else
		print_record(s, b, FIELDS(sharpen_clip_fields));
	print_record(s, b, FIELDS(sharpen_head_fields));
	if (!asf)
		print_record(s, b, FIELDS(sharpen_shift_fields));
	print_level(b, "coring_multiplier_min", s + offsetof(ik_sharpen_block, coring_multiplier_min));
	print_level(b, "coring_index_mul", s + offsetof(ik_sharpen_block, coring_index_mul));
	/* The advance spatial filter writes nothing further. */
	if (asf)
		return;
	print_record(s, b, FIELDS(sharpen_mid_fields));
	print_level(b, "coring_multiplier_mul", s + offsetof(ik_sharpen_block, coring_multiplier_mul));
	print_level(b, "fir2_out_scale", s + offsetof(ik_sharpen_block, fir2_out_scale));
	print_level(b, "coring_multiplier_max", s + offsetof(ik_sharpen_block, coring_multiplier_max));
}

const pfield liso_rest_fields[] = {
    U8("leakage_alpha_rr", 124),
    U8("leakage_alpha_rb", 125),
    U8("leakage_alpha_br", 126),
    U8("leakage_alpha_bb", 127),
    U16("leakage_saturation_level", 128),
    U16("anti_aliasing_threshold", 130),
    U16("grgb_mismatch_correct_wide_thresh", 132),
    U16("grgb_mismatch_correct_wide_reject_thresh", 134),
    U8("chroma_radius", 136),
    B8("cliso_variant", 137, 0, 1),
    U8("chroma_noise_level_cb", 138),
    U8("chroma_noise_level_cr", 139),
    U16("chroma_original_blend_cb_strength", 140),
    U16("chroma_original_blend_cr_strength", 142),
    B16("use_dynamic_bad_pixel_correction", 144, 0, 3),
    B16("use_aggresive_DBP_correction_method", 144, 3, 1),
    B16("use_leakage_filter", 144, 4, 1),
    B16("use_anti_aliasing", 144, 5, 1),
    B16("use_cfa_noise_filter", 144, 6, 1),
    B16("use_grgb_mismatch_correct", 144, 7, 2),
    B16("use_chroma_median", 144, 9, 1),
    B16("anti_aliasing_shift", 144, 10, 3),
    B16("use_shpa_for_asf", 144, 13, 1),
    B16("use_chroma_filter", 144, 14, 1),
    B16("use_batch_commands", 144, 15, 1),
    U16("batch_cmd_queue_size", 146),
    ADDR("batch_cmd_queue_daddr", 148),
};

const pfield liso_update_fields[] = {
    B16("update_DBP_hot_correction", 152, 0, 1),
    B16("update_DBP_dark_correction", 152, 1, 1),
    B16("update_cfa_noise_filter", 152, 2, 1),
    B16("update_cfa_leakage_filter", 152, 3, 1),
    B16("update_anti_aliasing", 152, 4, 1),
    B16("update_grgb_mismatch_correct", 152, 5, 1),
    B16("update_chroma_noise_filter", 152, 6, 1),
    B16("update_chroma_median_filter", 152, 7, 1),
    B16("update_demosaic", 152, 8, 1),
    B16("update_luma_processing", 152, 9, 1),
    B16("update_luma_processing_mode", 152, 10, 1),
    B16("update_batch_commands", 152, 11, 1),
};

/* ---- 3A batch commands ------------------------------------------------------ */

const pfield aaa_stat_fields[] = {
    U8("on", 4),
    U8("auto_shift", 5),
    B8("data_fifo_no_reset", 6, 0, 1),
    B8("data_fifo2_no_reset", 6, 1, 1),
    ADDR("data_fifo_base", 8),
    ADDR("data_fifo_limit", 12),
    ADDR("data_fifo2_base", 16),
    ADDR("data_fifo2_limit", 20),
    U16("awb_tile_num_col", 24),
    U16("awb_tile_num_row", 26),
    U16("awb_tile_col_start", 28),
    U16("awb_tile_row_start", 30),
    U16("awb_tile_width", 32),
    U16("awb_tile_height", 34),
    U16("awb_tile_active_width", 36),
    U16("awb_tile_active_height", 38),
    U16("awb_pix_min_value", 40),
    U16("awb_pix_max_value", 42),
    U16("ae_tile_num_col", 44),
    U16("ae_tile_num_row", 46),
    U16("ae_tile_col_start", 48),
    U16("ae_tile_row_start", 50),
    U16("ae_tile_width", 52),
    U16("ae_tile_height", 54),
    U16("ae_pix_min_value", 56),
    U16("ae_pix_max_value", 58),
    U16("af_tile_num_col", 60),
    U16("af_tile_num_row", 62),
    U16("af_tile_col_start", 64),
    U16("af_tile_row_start", 66),
    U16("af_tile_width", 68),
    U16("af_tile_height", 70),
    U16("af_tile_active_width", 72),
    U16("af_tile_active_height", 74),
};

const pfield pseudo_y_fields[] = {
    U32("mode", 4),
    U32("sum_shift", 8),
    ARR("pixel_weight", 12, PF_U8, 4),
    ARR("tone_curve", 16, PF_U8, 32),
};

const pfield histogram_fields[] = {
    U16("mode", 4),
    U16("histogram_select", 6),
    ARR("ae_file_mask", 8, PF_U16, 8),
};

#define AF_EX_FIELDS(N)                                                                                      \
	{                                                                                                    \
		B8("af_horizontal_filter" #N "_mode", 4, 0, 4), B8("af_filter" #N "_select", 4, 4, 4),       \
		    U8("af_horizontal_filter" #N "_stage1_enb", 5),                                          \
		    U8("af_horizontal_filter" #N "_stage2_enb", 6),                                          \
		    U8("af_horizontal_filter" #N "_stage3_enb", 7),                                          \
		    ARR("af_horizontal_filter" #N "_gain", 8, PF_S16, 7),                                    \
		    ARR("af_horizontal_filter" #N "_shift", 22, PF_U16, 4),                                  \
		    U16("af_horizontal_filter" #N "_bias_off", 30),                                          \
		    U16("af_horizontal_filter" #N "_thresh", 32),                                            \
		    U16("af_vertical_filter" #N "_thresh", 34),                                              \
		    U16("af_tile_fv" #N "_horizontal_shift", 36),                                            \
		    U16("af_tile_fv" #N "_vertical_shift", 38),                                              \
		    U16("af_tile_fv" #N "_horizontal_weight", 40),                                           \
		    U16("af_tile_fv" #N "_vertical_weight", 42),                                             \
	}

const pfield af_ex1_fields[] = AF_EX_FIELDS(1);
const pfield af_ex2_fields[] = AF_EX_FIELDS(2);

const pfield early_wb_fields[] = {
    U32("red_multiplier", 4),           U32("green_multiplier_even", 8), U32("green_multiplier_odd", 12),
    U32("blue_multiplier", 16),         U8("enable_ae_wb_gain", 20),     U8("enable_af_wb_gain", 21),
    U8("enable_histogram_wb_gain", 22), U32("red_wb_multiplier", 24),    U32("green_wb_multiplier_even", 28),
    U32("green_wb_multiplier_odd", 32), U32("blue_wb_multiplier", 36),
};

struct aaa_cmd_desc {
	uint32_t code;
	const char *name;
	const char *label;
	const pfield *fields;
	size_t n;
};

const aaa_cmd_desc aaa_cmds[] = {
    {IK_CMD_AAA_STATISTICS_SETUP, "AAA_STATISTICS_SETUP", "aaa_stat", FIELDS(aaa_stat_fields)},
    {IK_CMD_AAA_PSEUDO_Y_SETUP, "AAA_PSEUDO_Y_SETUP", "pseudo_y", FIELDS(pseudo_y_fields)},
    {IK_CMD_AAA_HISTORGRAM_SETUP, "AAA_HISTORGRAM_SETUP", "histogram", FIELDS(histogram_fields)},
    {IK_CMD_AAA_STATISTICS_SETUP1, "AAA_STATISTICS_SETUP1", "af_stat_ex1", FIELDS(af_ex1_fields)},
    {IK_CMD_AAA_STATISTICS_SETUP2, "AAA_STATISTICS_SETUP2", "af_stat_ex2", FIELDS(af_ex2_fields)},
    {IK_CMD_AAA_EARLY_WB_GAIN, "AAA_EARLY_WB_GAIN", "early_wb_gain", FIELDS(early_wb_fields)},
};

/* Echoes one batch command; a code that is not a 3A command ends the queue. */
int echo_batch_cmd(uint32_t *cmd, unsigned index, void *)
{
	for (const aaa_cmd_desc &d : aaa_cmds) {
		if (d.code != cmd[0])
			continue;
		ik_print("[IK]batch_queue[%d].cmd_code = %s\n", (int)index, d.name);
		char prefix[48];
		snprintf(prefix, sizeof(prefix), "batch_cmd %s.", d.label);
		print_fields((const uint8_t *)cmd, prefix, d.fields, d.n);
		return 0;
	}
	return 1;
}

void print_liso(const uint8_t *liso)
{
	ik_print("[IK]------liso------\n");
	print_fields(liso, "", FIELDS(liso_table_fields));
	print_record(liso + offsetof(ik_liso_liso, cfa_noise_filter), "cfa_noise_filter",
	             FIELDS(cfa_noise_fields));
	print_record(liso + offsetof(ik_liso_liso, demosaic), "demosaic", FIELDS(demosaic_fields));
	uint16_t use;
	memcpy(&use, liso + offsetof(ik_liso_liso, use_flags), 2);
	print_sharpen_block(liso + offsetof(ik_liso_liso, sharpen), (use & IK_LISO_USE_SHPA_FOR_ASF) != 0);
	print_fields(liso, "", FIELDS(liso_rest_fields));
	ik_walk_cmd_queue(__func__, rd32(liso + offsetof(ik_liso_liso, batch_cmd_queue_daddr)),
	                  IK_LISO_BATCH_QUEUE_SIZE / IK_CMD_SLOT_SIZE, echo_batch_cmd, NULL);
	print_fields(liso, "", FIELDS(liso_update_fields));
}

/* ---- warp entries, flow and cliso --------------------------------------------- */

const pfield warp_fields[] = {
    B8("warp_enable", 0, 0, 1),
    B8("warp_horz_grid_spacing_exponent", 0, 1, 3),
    B8("warp_vert_grid_spacing_exponent", 0, 4, 3),
    U8("warp_grid_array_width", 2),
    U8("warp_grid_array_height", 3),
    ADDR("warp_field_addr", 4),
};

void print_warps(const uint8_t *warps)
{
	ik_print("[IK]------vwarp------\n");
	for (int i = 0; i < (int)IK_WARP_ENTRIES; i++) {
		char label[16];
		snprintf(label, sizeof(label), "vert_warp[%d]", i);
		print_record(warps + sizeof(ik_warp_entry) * i, label, FIELDS(warp_fields));
	}
}

const pfield flow_head_fields[] = {
    U16("width_in", 0),       U16("height_in", 2),        U16("width_chroma", 4), U16("height_chroma", 6),
    U16("main_out_width", 8), U16("main_out_height", 10), ADDR("video_mctf", 12), ADDR("final_sharpen", 16),
};

const pfield flow_tail_fields[] = {
    U16("temporal_adjust_edge_reduce_b", 24),
    U16("temporal_adjust_edge_reduce_l", 26),
    U16("temporal_adjust_edge_reduce_r", 28),
    U16("temporal_adjust_edge_reduce_t", 30),
};

void print_flow(const uint8_t *flow)
{
	ik_print("[IK]------flow------\n");
	print_fields(flow, "", FIELDS(flow_head_fields));
	uint32_t masks = rd32(flow + offsetof(ik_liso_flow, update_masks));
	for (unsigned b = 0; b < IK_MCTF_PIECES; b++)
		ik_print("[IK]%s_update = %d\n", ik_mctf_pieces[b].name, (int)((masks >> b) & 1u));
	for (unsigned b = 0; b < IK_FS_PIECES; b++)
		ik_print("[IK]%s_update = %d\n", ik_fs_pieces[b].name, (int)((masks >> (16 + b)) & 1u));
	ik_print("[IK]ta_edge_reduce_update = %d\n", (int)((masks >> 30) & 1u));
	print_fields(flow, "", FIELDS(flow_tail_fields));
}

const pfield cliso_fields[] = {
    U16("width_motion", 0),
    U16("height_motion", 2),
    U16("smooth_phase_inc", 4),
    U16("smooth_strength", 6),
    ADDR("motion_detect_fir1", 8),
    ADDR("mctf_passthrough", 12),
    ADDR("mcts_MoASF", 16),
    ADDR("mctf_mcts_update_mask_motion_detect", 20),
    B8("slow_mo_sensitivity", 24, 0, 4),
    B8("update_smooth_strength", 24, 4, 1),
    B8("updatae_slow_mo_sensitivity", 24, 5, 1),
    B8("update_CC_reg_motion_combine", 24, 6, 1),
    B8("update_CC_3d_motion_combine", 24, 7, 1),
    B8("update_CC_out_motion_combine", 25, 0, 1),
    B8("update_CC_reg_motion_combine_up", 25, 1, 1),
    B8("update_CC_3d_motion_combine_up", 25, 2, 1),
    B8("slow_mo_sensitivity2", 25, 3, 4),
    B8("high_performance_enable", 25, 7, 1),
    ADDR("CC_reg_motion_combine", 28),
    ADDR("CC_3d_motion_combine", 32),
    ADDR("CC_out_motion_combine", 36),
    ADDR("CC_reg_motion_combine_up", 40),
    ADDR("CC_3d_motion_combine_up", 44),
    ADDR("video_mctfB", 48),
    ADDR("final_sharpen", 52),
    ADDR("mctf_mcts_update_mask_video_mctfB", 56),
};

void print_cliso(const uint8_t *cliso)
{
	ik_print("[IK]------cliso------\n");
	print_fields(cliso, "", FIELDS(cliso_fields));
}

/* ---- contrast enhancement ------------------------------------------------------ */

const pfield ce_part_fields[] = {
    ADDR("contrast_enhancement_cmd_queue_daddr", 0),
    B8("factor_0", 4, 0, 4),
    B8("factor_1", 4, 4, 4),
    B8("factor_2", 5, 0, 4),
    B8("contrast_enhancement_updated", 5, 4, 1),
    B8("factor_0_updated", 5, 5, 1),
    B8("factor_1_updated", 5, 6, 1),
    B8("factor_2_updated", 5, 7, 1),
    B8("contrast_enhancement_enable", 6, 0, 1),
    B8("hdec_0_enable", 6, 1, 1),
    B8("hdec_1_enable", 6, 2, 1),
    B8("hdec_2_enable", 6, 3, 1),
};

const pfield ce_luma_avg_weight_fields[] = {
    U8("luma_avg_weight_0", 4), U8("luma_avg_weight_1", 5),       U8("luma_avg_weight_2", 6),
    U8("luma_avg_weight_3", 7), U8("luma_avg_weight_methold", 8),
};

const pfield ce_luma_black_level_fields[] = {
    U16("luma_avg_global_offset_ee", 4),
    U16("luma_avg_global_offset_eo", 6),
    U16("luma_avg_global_offset_oe", 8),
    U16("luma_avg_global_offset_oo", 10),
};

const pfield ce_fir_config_fields[] = {
    U32("fir_enable", 4),
    ARR("fir_coeff", 8, PF_U32, 3),
};

const pfield ce_coring_config_fields[] = {
    U8("coring_index_shift", 4),     U8("coring_index_low", 5),       U8("coring_index_mid", 6),
    U8("coring_index_high", 7),      U8("coring_index_t0", 8),        U8("coring_index_t1", 9),
    U8("coring_index_delta_t0", 10), U8("coring_index_delta_t1", 11), U8("coring_gain_shift", 12),
    U8("coring_gain_low", 13),       U8("coring_gain_mid", 14),       U8("coring_gain_high", 15),
    U8("coring_gain_t0", 16),        U8("coring_gain_t1", 17),        U8("coring_gain_delta_t0", 18),
    U8("coring_gain_delta_t1", 19),  ADDR("coring_table_addr", 20),
};

const pfield ce_output_table_fields[] = {
    U32("output_enable", 4),
    U32("output_shift", 8),
    ADDR("output_table_addr", 12),
};

const pfield ce_vertical_decimation_fields[] = {
    U32("vdec_0_factor", 4), U32("vdec_1_factor", 8), U32("vdec_2_factor", 12), U32("vdec_offset", 16),
    U16("raw_height", 20),   U8("vdec_0_enable", 22), U8("vdec_1_enable", 23),  U8("vdec_2_enable", 24),
};

const pfield ce_upsampling_fields[] = {
    U32("width", 4),
    U32("height", 8),
    U32("upsample_hor_factor", 12),
    U32("upsample_ver_factor", 16),
    U32("upsample_hor_extra", 20),
    U32("upsample_ver_extra", 24),
    U32("upsample_hor_offset", 28),
    U32("upsample_ver_offset", 32),
    ADDR("ce_upsamp_coeff_addr", 36),
};

void print_ce_coring_table(const uint8_t *cmd)
{
	const uint8_t *t =
	    table_at(rd32(cmd + offsetof(ik_ce_coring_config_cmd, coring_table_addr)), IK_CE_CORING_TBL_SIZE);
	if (!t)
		return;
	/* 64 six-bit entries, two to each u16 */
	for (int row = 0; row < 4; row++) {
		char line[16 * 4 + 1];
		size_t len = 0;
		for (int i = 0; i < 16; i++) {
			int e = row * 16 + i;
			uint16_t pair;
			memcpy(&pair, t + 2 * (e / 2), 2);
			len += (size_t)snprintf(line + len, sizeof(line) - len, "%2d,",
			                        (pair >> (6 * (e & 1))) & 0x3F);
		}
		ik_print("[IK]%s\n", line);
	}
}

void print_ce_output_table(const uint8_t *cmd)
{
	const uint8_t *t =
	    table_at(rd32(cmd + offsetof(ik_ce_output_table_cmd, output_table_addr)), IK_CE_OUTPUT_TBL_SIZE);
	if (!t)
		return;
	for (int row = 0; row < 16; row++) {
		char line[16 * 7 + 1];
		size_t len = 0;
		for (int i = 0; i < 16; i++) {
			uint16_t v;
			memcpy(&v, t + 2 * (row * 16 + i), 2);
			len += (size_t)snprintf(line + len, sizeof(line) - len, "%5d,", v);
		}
		ik_print("[IK]%s\n", line);
	}
}

struct ce_cmd_desc {
	uint32_t code;
	const char *name;
	const pfield *fields;
	size_t n;
	void (*table)(const uint8_t *cmd);
};

const ce_cmd_desc ce_cmds[] = {
    {IK_CMD_CE_LUMA_AVG_WEIGHT, "CE_LUMA_AVG_WEIGHT", FIELDS(ce_luma_avg_weight_fields), NULL},
    {IK_CMD_CE_LUMA_BLACK_LEVEL, "CE_LUMA_BLACK_LEVEL", FIELDS(ce_luma_black_level_fields), NULL},
    {IK_CMD_CE_FIR_CONFIG, "CE_FIR_CONFIG", FIELDS(ce_fir_config_fields), NULL},
    {IK_CMD_CE_CORING_CONFIG, "CE_CORING_CONFIG", FIELDS(ce_coring_config_fields), print_ce_coring_table},
    {IK_CMD_CE_OUTPUT_TABLE, "CE_OUTPUT_TABLE", FIELDS(ce_output_table_fields), print_ce_output_table},
    {IK_CMD_CE_VERTICAL_DECIMATION, "CE_VERTICAL_DECIMATION", FIELDS(ce_vertical_decimation_fields), NULL},
    {IK_CMD_CE_UPSAMPLING, "CE_UPSAMPLING", FIELDS(ce_upsampling_fields), NULL},
    {IK_CMD_PROCESS_IDSP_BATCH, "PROCESS_IDSP_BATCH_CMD", NULL, 0, NULL},
};

int echo_ce_cmd(uint32_t *cmd, unsigned index, void *)
{
	for (const ce_cmd_desc &d : ce_cmds) {
		if (d.code != cmd[0])
			continue;
		ik_print("[IK]------%s------\n", d.name);
		print_fields((const uint8_t *)cmd, "", d.fields, d.n);
		if (d.table)
			d.table((const uint8_t *)cmd);
		return 0;
	}
	IK_ERROR("ce_batch_queue[%d] cmd_code = 0x%08x UNKNOWN\n", (int)index, cmd[0]);
	return 1;
}

} // namespace

/* ---- the section printers -------------------------------------------------------- */

void img_dsp_low_iso_print_calib(const ik_liso_main_advanced *main)
{
	const uint8_t *m = (const uint8_t *)main;
	print_share(m);
	print_common(m + offsetof(ik_liso_main_advanced, common), true);
	print_color(m + offsetof(ik_liso_main_advanced, color));
	print_liso(m + offsetof(ik_liso_main_advanced, liso));
	print_warps(m + offsetof(ik_liso_main_advanced, vert_warp));
	print_flow(m + offsetof(ik_liso_main_advanced, flow));
	print_cliso(m + offsetof(ik_liso_main_advanced, cliso));
}

void img_dsp_low_iso_print_sections(const img_dsp_iso_cfg *cfg)
{
	if (cfg->main.basic.share.adv_mode == IK_ADV_MODE_ADVANCED) {
		img_dsp_low_iso_print_calib(&cfg->main.adv);
		return;
	}
	const uint8_t *m = cfg->main.bytes;
	print_share(m);
	print_common(m + offsetof(ik_liso_main_basic, common), false);
	print_color(m + offsetof(ik_liso_main_basic, color));
	print_liso(m + offsetof(ik_liso_main_basic, liso));
	print_warps(m + offsetof(ik_liso_main_basic, vert_warp));
	print_flow(m + offsetof(ik_liso_main_basic, flow));
}

void img_dsp_low_iso_print_ce_part(const img_dsp_iso_cfg *cfg)
{
	ik_print("[IK]------contrast enhancement config------\n");
	print_fields((const uint8_t *)&cfg->ce, "", FIELDS(ce_part_fields));
	ik_print("[IK]------contrast enhancement batch queue------\n");
	ik_walk_cmd_queue(__func__, cfg->ce.contrast_enhancement_cmd_queue_daddr, IK_CE_QUEUE_SLOTS,
	                  echo_ce_cmd, NULL);
}

/* ---- HDR configurations ------------------------------------------------------------ */

namespace
{

/* Tables a command points at, printed after its fields. */
struct hdr_cmd_tables {
	uint16_t addr_offset;
	uint16_t count;
	uint16_t bytes; /* of each table */
};

struct hdr_cmd_desc {
	uint32_t code;
	const char *name;
	const pfield *fields;
	size_t n;
	hdr_cmd_tables tables;
};

const pfield f_blc_global[] = {
    S32("global_offset_ee", 4),
    S32("global_offset_eo", 8),
    S32("global_offset_oe", 12),
    S32("global_offset_oo", 16),
    U16("black_level_offset_red", 20),
    U16("black_level_offset_green", 22),
    U16("black_level_offset_blue", 24),
    U16("gain_depedent_offset_red", 26),
    U16("gain_depedent_offset_green", 28),
    U16("gain_depedent_offset_blue", 30),
    U16("def_blk1_red", 32),
    U16("def_blk1_green", 34),
    U16("def_blk1_blue", 36),
};

/* Nothing in this library builds this command; its fields are printed in
 * the driver's order at their natural widths. */
const pfield f_blc_correction[] = {
    U8("column_enable", 4),
    U8("row_enable", 5),
    U8("black_level_mode", 6),
    U8("bad_pixel_mode_column", 7),
    U8("bad_pixel_mode_row", 8),
    U16("cold_pixel_thresh", 10),
    U16("hot_pixel_thresh", 12),
    U16("center_offset", 14),
    U8("column_replace", 16),
    U8("column_invalid_replace", 17),
    U16("column_invalid_thresh", 18),
    U16("row_invalid_thresh", 20),
    U8("column_average_k_frames", 22),
    U8("row_average_k_frames", 23),
    U16("column_black_gain", 24),
    U16("row_black_gain", 26),
    U8("column_bad_pixel_subtract", 28),
    S32("global_offset_ee", 32),
    S32("global_offset_eo", 36),
    S32("global_offset_oe", 40),
    S32("global_offset_oo", 44),
};

const pfield f_rgb_gain[] = {
    U32("level_red", 4),
    U32("level_green_even", 8),
    U32("level_green_odd", 12),
    U32("level_blue", 16),
};

const pfield f_blc_amplinear[] = {
    S32("amplinear_offset_ee", 4),  S32("amplinear_offset_eo", 8), S32("amplinear_offset_oe", 12),
    S32("amplinear_offset_oo", 16), S32("amp_hdr_offset_ee", 20),  S32("amp_hdr_offset_eo", 24),
    S32("amp_hdr_offset_oe", 28),   S32("amp_hdr_offset_oo", 32),  S32("hdrblend_offset_ee", 36),
    S32("hdrblend_offset_eo", 40),  S32("hdrblend_offset_oe", 44), S32("hdrblend_offset_oo", 48),
};

const pfield f_blc_global_hdr[] = {
    S32("hdr_offset_ee", 4),
    S32("hdr_offset_eo", 8),
    S32("hdr_offset_oe", 12),
    S32("hdr_offset_oo", 16),
};

const pfield f_amplinear[] = {
    U8("amplinear_enable", 4),
    U8("hdr_amplinear_enable", 5),
    U8("hdrblend_enable", 6),
    U8("hdr_mode", 7),
    U8("hdr_stream0_sub", 8),
    U8("hdr_stream1_sub", 9),
    U8("hdr_stream1_shift", 10),
    U8("hdr_alpha_mode", 11),
    U16("amplinear_exp_table[0]", 12),
    U16("amplinear_exp_table[1]", 14),
    U16("amplinear_exp_table[2]", 16),
    U16("amplinear_exp_table[3]", 18),
    U16("amplinear_exp_table[4]", 20),
    U16("amplinear_exp_table[5]", 22),
    U16("amplinear_exp_table[6]", 24),
    U16("hdrblend_exp_table[0]", 26),
    U16("hdrblend_exp_table[1]", 28),
    U16("hdrblend_exp_table[2]", 30),
    U16("hdrblend_exp_table[3]", 32),
    U16("hdrblend_exp_table[4]", 34),
    U16("hdrblend_exp_table[5]", 36),
    U16("hdrblend_exp_table[6]", 38),
    ADDR("amplinear_lookup_table_addr[0]", 40),
    ADDR("amplinear_lookup_table_addr[1]", 44),
    ADDR("amplinear_lookup_table_addr[2]", 48),
    ADDR("amplinear_lookup_table_addr[3]", 52),
    ADDR("hdrblend_lookup_table_addr[0]", 56),
    ADDR("hdrblend_lookup_table_addr[1]", 60),
    ADDR("hdrblend_lookup_table_addr[2]", 64),
    ADDR("hdrblend_lookup_table_addr[3]", 68),
    U32("hdr_blend_thres", 72),
};

const pfield f_vig_comp[] = {
    U8("enable", 4),
    U8("hdr_enable", 5),
    U8("gain_shift", 6),
    ADDR("vig_gain_addr_red", 8),
    ADDR("vig_gain_addr_green_even", 12),
    ADDR("vig_gain_addr_green_odd", 16),
    ADDR("vig_gain_addr_blue", 20),
};

const pfield f_vig_sat[] = {
    U16("vig_comp_input_saturation_level_red", 4),
    U16("vig_comp_input_saturation_level_blue", 6),
    U16("vig_comp_input_saturation_level_green_even_row", 8),
    U16("vig_comp_input_saturation_level_green_odd_row", 10),
    U16("vig_comp_output_saturation_level_red", 12),
    U16("vig_comp_output_saturation_level_blue", 14),
    U16("vig_comp_output_saturation_level_green_even_row", 16),
    U16("vig_comp_output_saturation_level_green_odd_row", 18),
    U16("vig_comp_hdr_input_saturation_level_red", 20),
    U16("vig_comp_hdr_input_saturation_level_blue", 22),
    U16("vig_comp_hdr_input_saturation_level_green_even_row", 24),
    U16("vig_comp_hdr_input_saturation_level_green_odd_row", 26),
    U16("vig_comp_hdr_output_saturation_level_red", 28),
    U16("vig_comp_hdr_output_saturation_level_blue", 30),
    U16("vig_comp_hdr_output_saturation_level_green_even_row", 32),
    U16("vig_comp_hdr_output_saturation_level_green_odd_row", 34),
};

const pfield f_vig_dgain[] = {
    ADDR("digital_gain_multiplier_red", 4),
    ADDR("digital_gain_multiplier_blue", 8),
    ADDR("digital_gain_multiplier_green_even_row", 12),
    ADDR("digital_gain_multiplier_green_odd_row", 16),
    ADDR("digital_gain_hdr_multiplier_red", 20),
    ADDR("digital_gain_hdr_multiplier_blue", 24),
    ADDR("digital_gain_hdr_multiplier_green_even_row", 28),
    ADDR("digital_gain_hdr_multiplier_green_odd_row", 32),
};

const pfield f_preblend_config[] = {
    U8("avg_radius", 4),        U8("avg_method", 5),       U8("saturation_num_nei", 6),
    U8("luma_avg_weight0", 8),  U8("luma_avg_weight1", 9), U8("luma_avg_weight2", 10),
    U8("luma_avg_weight3", 11),
};

const pfield f_preblend_thresh[] = {
    U16("saturation_threshold0", 4),
    U16("saturation_threshold1", 6),
    U16("saturation_threshold2", 8),
    U16("saturation_threshold3", 10),
};

const pfield f_preblend_black[] = {
    S16("bl_offset_ee", 4),
    S16("bl_offset_eo", 6),
    S16("bl_offset_oe", 8),
    S16("bl_offset_oo", 10),
};

const pfield f_preblend_alpha[] = {
    U8("pre_alpha_mode", 4),
    ADDR("alpha_table_addr", 8),
};

const hdr_cmd_desc hdr_cmds[] = {
    {0x09002001u, "BLACK_LEVEL_GLOBAL_OFFSET", FIELDS(f_blc_global), {0, 0, 0}},
    {0x09002002u, "BLACK_LEVEL_CORRECTION_CONFIG", FIELDS(f_blc_correction), {0, 0, 0}},
    {0x09002005u, "RGB_GAIN_ADJUSTMENT", FIELDS(f_rgb_gain), {0, 0, 0}},
    {0x0900200Du, "BLACK_LEVEL_AMPLINEAR_HDR", FIELDS(f_blc_amplinear), {0, 0, 0}},
    {0x0900200Eu, "BLACK_LEVEL_GLOBAL_OFFSET_HDR", FIELDS(f_blc_global_hdr), {0, 0, 0}},
    {0x09001003u, "AMPLIFIER_LINEARIZATION", FIELDS(f_amplinear), {40, 8, 706}},
    {0x09002016u, "DGAIN_VIGNETTE_COMPENSATION", FIELDS(f_vig_comp), {8, 4, 2180}},
    {0x09002018u, "DGAIN_VIGNETTE_SATURATION", FIELDS(f_vig_sat), {0, 0, 0}},
    {0x09002019u, "DGAIN_VIGNETTE_DIGITAL_GAIN", FIELDS(f_vig_dgain), {0, 0, 0}},
    {0x0900500Bu, "HDR_PREBLEND_CONFIG", FIELDS(f_preblend_config), {0, 0, 0}},
    {0x0900500Cu, "HDR_PREBLEND_THRESH", FIELDS(f_preblend_thresh), {0, 0, 0}},
    {0x0900500Du, "HDR_PREBLEND_BLACK_LEVEL", FIELDS(f_preblend_black), {0, 0, 0}},
    {0x0900500Fu, "HDR_PREBLEND_ALPHA", FIELDS(f_preblend_alpha), {8, 1, 64}},
    {IK_CMD_PROCESS_IDSP_BATCH, "PROCESS_IDSP_BATCH_CMD", NULL, 0, {0, 0, 0}},
};

/* A table's contents as 16-bit values, sixteen to a line. */
void print_hdr_tables(const uint8_t *cmd, const hdr_cmd_tables *t)
{
	for (uint16_t k = 0; k < t->count; k++) {
		const uint8_t *tbl = table_at(rd32(cmd + t->addr_offset + 4 * k), t->bytes);
		if (!tbl)
			continue;
		ik_print("[IK]\t\t table[%d]:\n", (int)k);
		for (uint32_t i = 0; i < t->bytes / 2u; i++) {
			uint16_t v;
			memcpy(&v, tbl + 2 * i, 2);
			if (i % 16 == 0)
				ik_print("[IK]\t\t");
			ik_print(" %d", (int)v);
			if (i % 16 == 15)
				ik_print("\n");
		}
		if ((t->bytes / 2u) % 16 != 0)
			ik_print("\n");
	}
}

enum queue_pass { PASS_MAIN_PREBLEND, PASS_MAIN_BLEND, PASS_HDS_PREBLEND, PASS_HDS_BLEND };

uint32_t queue_addr(const img_dsp_hdr_cfg *cfg, enum queue_pass pass, unsigned s)
{
	switch (pass) {
	case PASS_MAIN_PREBLEND:
		return cfg->preblend_cmds_daddr[s][0];
	case PASS_MAIN_BLEND:
		return cfg->blend_cmds_daddr[s][0];
	case PASS_HDS_PREBLEND:
		return cfg->preblend_cmds_daddr[s][1];
	case PASS_HDS_BLEND:
		return cfg->blend_cmds_daddr[s][1];
	}
	return 0;
}

struct echo_walk {
	const char *label;
	int hds_preblend;
	unsigned step;
};

int echo_slot(uint32_t *cmd, unsigned i, void *arg)
{
	const echo_walk *w = (const echo_walk *)arg;
	if (w->hds_preblend)
		IK_DEBUG("blend_idx: %d, batch_cmd_idx: %d\n", (int)w->step, (int)i);
	img_dsp_core_utility_echo_hdr_cmd(w->label, (int)i, cmd);
	return 0;
}

int echo_queue_pass(const img_dsp_hdr_cfg *cfg, enum queue_pass pass)
{
	static const char *const labels[] = {"main_preblend_queue", "main_blend_queue", "hds_preblend_queue",
	                                     "hds_blend_queue"};
	static const char *const missing[] = {
	    "[IK]main_preblend_cmds_daddr[%d][0] is NULL\n", "[IK]main_blend_cmds_daddr[%d] = NULL\n",
	    "[IK]hds_preblend_cmds_daddr[%d][0] is NULL\n", "[IK]hds_blend_cmds_daddr[%d] = NULL\n"};
	ik_print("[IK]%s:\n", labels[pass]);
	int rc = 0;
	for (unsigned s = 0; s < 3; s++) {
		uint32_t addr = queue_addr(cfg, pass, s);
		if (addr == 0) {
			ik_print(missing[pass], (int)s);
			return rc;
		}
		echo_walk w = {labels[pass], pass == PASS_HDS_PREBLEND, s};
		if (ik_walk_cmd_queue(__func__, addr, IK_HDR_QUEUE_CMDS, echo_slot, &w) != 0)
			rc = -1;
	}
	return rc;
}

} // namespace

uint32_t img_dsp_core_utility_echo_hdr_cmd(const char *label, int index, const void *cmd)
{
	uint32_t code = rd32((const uint8_t *)cmd);
	for (const hdr_cmd_desc &d : hdr_cmds) {
		if (d.code != code)
			continue;
		ik_print("[IK]%s[%d] cmd_code = 0x%08x %s\n", label, index, code, d.name);
		print_fields((const uint8_t *)cmd, "\t\t ", d.fields, d.n);
		if (d.tables.count)
			print_hdr_tables((const uint8_t *)cmd, &d.tables);
		return code;
	}
	IK_ERROR("%s[%d] cmd_code = 0x%08x UNKNOWN\n", label, index, code);
	return code;
}

int img_dsp_core_utility_print_hdrcfg(const img_dsp_hdr_cfg *cfg)
{
	if (!cfg)
		return -1;
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]blend_%u_updated: %d\n", s, (int)((cfg->flags >> s) & 1));
	for (unsigned e = 0; e < 4; e++)
		ik_print("[IK]exp_%u_start_offset_updated: %d\n", e, (int)((cfg->flags >> (3 + e)) & 1));
	ik_print("[IK]number_of_exposure: %d\n", (int)((cfg->flags >> 7) & 7));
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]preblend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->preblend_cmds_daddr[s][0],
		         cfg->preblend_cmds_daddr[s][1]);
	for (unsigned s = 0; s < 3; s++)
		ik_print("[IK]blend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->blend_cmds_daddr[s][0],
		         cfg->blend_cmds_daddr[s][1]);
	for (unsigned e = 0; e < 4; e++)
		ik_print("[IK]raw_daddr_start_offset_y[%u]: %d\n", e, (int)cfg->raw_daddr_start_offset_y[e]);
	int rc = 0;
	for (int pass = PASS_MAIN_PREBLEND; pass <= PASS_HDS_BLEND; pass++) {
		if (echo_queue_pass(cfg, (enum queue_pass)pass) != 0)
			rc = -1;
	}
	return rc;
}

/* ---- history ----------------------------------------------------------------------- */

namespace
{

typedef int (*history_print_fn)(const uint8_t *record);

int print_iso_record(const uint8_t *record)
{
	const img_dsp_iso_cfg *cfg = (const img_dsp_iso_cfg *)record;
	img_dsp_low_iso_print_sections(cfg);
	img_dsp_low_iso_print_ce_part(cfg);
	return 0;
}

int print_hdr_record(const uint8_t *record)
{
	return img_dsp_core_utility_print_hdrcfg((const img_dsp_hdr_cfg *)record);
}

/* Follows the previous links from the newest record. The links are
 * physical addresses the DSP's memory holds: the walk ends at 0, at a link
 * that does not lead to a whole record in the region (the all-ones link of
 * a first configuration after a keeping initialisation among them), and at
 * a record it has already printed, the first or any other. */
void walk_history(const char *heading, uint64_t newest, uint32_t record_size, size_t prev_offset,
                  history_print_fn print)
{
	const uint8_t *seen[IK_MAX_CFG];
	unsigned n = 0;
	for (uint64_t link = newest; link != 0 && n < IK_MAX_CFG;) {
		const uint8_t *record = ik_region_span(link, record_size);
		if (!record)
			return;
		for (unsigned i = 0; i < n; i++) {
			if (seen[i] == record)
				return;
		}
		seen[n] = record;
		ik_print(heading, -(int)n);
		n++;
		print(record);
		memcpy(&link, record + prev_offset, sizeof(link));
	}
}

} // namespace

int img_dsp_low_iso_print_history(const img_dsp_mode *mode)
{
	if (!mode)
		return -1;
	int rc;
	void *ctx = ik_mode_lock_video_or_still(__func__, mode, IK_NO_CTX_MUTEX, &rc);
	if (!ctx)
		return rc;
	const ik_ctx_head *h = (const ik_ctx_head *)ctx;
	walk_history("[IK]---- iso config: t = %d ----\n", h->last_iso_cfg, sizeof(img_dsp_iso_cfg),
	             offsetof(img_dsp_iso_cfg, prev_cfg), print_iso_record);
	if (mode->Pipe == IMG_DSP_PIPE_VIDEO)
		walk_history("[IK]---- hdr config: t = %d ----\n", h->last_hdr_cfg, sizeof(img_dsp_hdr_cfg),
		             offsetof(img_dsp_hdr_cfg, prev_cfg), print_hdr_record);
	ik_unlock(ctx);
	return 0;
}

/* ---- dumps to files ----------------------------------------------------------------- */

int img_dsp_low_iso_dump_idsp_cfg(const ik_liso_share *share)
{
	const struct {
		uint32_t addr;
		uint32_t size;
		const char *name;
	} bufs[] = {
	    {share->debug_config_addr, 150000u, "L_idsp_0.bin"},
	    {share->debug_addr[0], (uint32_t)share->debug_pitch[0] * share->debug_height[0], "L_dbg.y"},
	    {share->debug_addr[1], (uint32_t)share->debug_pitch[1] * share->debug_height[1], "L_dbg.uv"},
	};
	int rc = 0;
	for (const auto &b : bufs) {
		if (b.addr == 0)
			continue;
		/* The addresses come from the DSP's side of the configuration:
		 * only the library's own memory is read. */
		const uint8_t *data = ik_region_span(b.addr, b.size);
		if (!data) {
			IK_WARN("%s: %d bytes at 0x%x are not in the region\n", b.name, (int)b.size, b.addr);
			rc = -1;
			continue;
		}
		char path[512];
		long written = -1;
		if (ik_dump_path(IK_DUMP_DIR, b.name, path, sizeof(path)) == 0)
			written = ik_write_file(path, data, b.size, true);
		if (written != (long)b.size) {
			IK_WARN("write_size = %d, it should be %d\n", (int)written, (int)b.size);
			rc = -1;
		}
	}
	return rc;
}

namespace
{

/* A table of a configuration written to its own file: the field that
 * points at it and its size (0: a CA-warp table, whose size is the pipe's). */
struct catalog_entry {
	const char *name;
	uint16_t field;
	uint32_t size;
};

#define BASIC(member) ((uint16_t)offsetof(ik_liso_main_basic, member))
#define ADV(member) ((uint16_t)offsetof(ik_liso_main_advanced, member))

const catalog_entry catalog_shared[] = {
    {"01_cc_reg.bin", BASIC(color.cc_reg), IK_CC_REG_TBL_SIZE},
    {"02_cc_3d_a.bin", BASIC(color.cc_3d), IK_CC_3D_TBL_SIZE},
    {"03_cc_out.bin", BASIC(color.cc_out), IK_CC_OUT_TBL_SIZE},
    {"04_thresh_dark.bin", BASIC(liso.dark_pixel_threshold), IK_PIXEL_THRESH_SIZE},
    {"05_thresh_hot.bin", BASIC(liso.hot_pixel_threshold), IK_PIXEL_THRESH_SIZE},
    {"06_local_exposure_gain.bin", BASIC(color.gain_curve_table_addr), IK_LE_GAIN_SIZE},
    {"07_cmf_table.bin", BASIC(liso.chroma_median_k_table), IK_CHROMA_MEDIAN_TBL_SIZE},
    {"08_chroma_scale_gain.bin", BASIC(color.gain_curver_addr), IK_CS_GAIN_SIZE},
    {"09_fir1_A.bin", BASIC(liso.sharpen.fir1), IK_SHP_TBL_SIZE},
    {"10_fir2_A.bin", BASIC(liso.sharpen.fir2), IK_SHP_TBL_SIZE},
    {"11_coring_A.bin", BASIC(liso.sharpen.coring), IK_SHP_TBL_SIZE},
    {"12_video_mctf.bin", BASIC(flow.video_mctf), IK_VIDEO_MCTF_TBL_SIZE},
};

const catalog_entry catalog_basic[] = {
    {"13_final_sharpen.bin", BASIC(flow.final_sharpen), IK_FINAL_SHARPEN_TBL_SIZE},
    {"14_vignette.bin", BASIC(common.vignette_gain), 4 * IK_VIGNETTE_TBL_SIZE},
    {"15_ca_warp_h_blue.bin", BASIC(common.ca_warp_control.warp_horizontal_table_addr_blue), 0},
    {"16_ca_warp_h_red.bin", BASIC(common.ca_warp_control.warp_horizontal_table_addr_red), 0},
    {"17_ca_warp_v_blue.bin", BASIC(common.ca_warp_control.warp_vertical_table_addr_blue), 0},
    {"18_ca_warp_v_red.bin", BASIC(common.ca_warp_control.warp_vertical_table_addr_red), 0},
    {"19_geo_warp_h.bin", BASIC(common.geo_warp_control.warp_horizontal_table_address), 3072},
    {"20_geo_warp_v.bin", BASIC(common.geo_warp_control.warp_vertical_table_address), 3072},
};

const catalog_entry catalog_advanced[] = {
    {"13_vignette.bin", ADV(common.vignette_gain), 4 * IK_VIGNETTE_TBL_SIZE},
    {"14_cliso_motion_detect_fir1.bin", ADV(cliso.motion_detect_fir1), IK_SHP_TBL_SIZE},
    {"15_cliso_mctf_passthrough.bin", ADV(cliso.mctf_passthrough), IK_VIDEO_MCTF_TBL_SIZE},
    {"16_cliso_mcts_MoASF.bin", ADV(cliso.mcts_MoASF), IK_FINAL_SHARPEN_TBL_SIZE},
    {"17_cliso_CC_reg_motion_combine.bin", ADV(cliso.CC_reg_motion_combine), IK_CC_REG_TBL_SIZE},
    {"18_cliso_CC_3d_motion_combine.bin", ADV(cliso.CC_3d_motion_combine), IK_CC_3D_TBL_SIZE},
    {"19_cliso_CC_out_motion_combine.bin", ADV(cliso.CC_out_motion_combine), IK_CC_OUT_TBL_SIZE},
    {"20_cliso_CC_reg_motion_combine_up.bin", ADV(cliso.CC_reg_motion_combine_up), IK_CC_REG_TBL_SIZE},
    {"21_cliso_CC_3d_motion_combine_up.bin", ADV(cliso.CC_3d_motion_combine_up), IK_CC_3D_TBL_SIZE},
    {"22_cliso_video_mctf_b.bin", ADV(cliso.video_mctfB), IK_VIDEO_MCTF_TBL_SIZE},
    {"23_cliso_final_sharpen.bin", ADV(cliso.final_sharpen), IK_FINAL_SHARPEN_TBL_SIZE},
};

enum catalog_result { CATALOG_OK, CATALOG_SHORT, CATALOG_NO_OPEN };

/* Writes each table of the catalog to its file in the dump directory; a
 * table without an address in the region is left out with a warning. */
catalog_result write_catalog(const uint8_t *main, const catalog_entry *e, size_t n, uint32_t ca_size)
{
	catalog_result rc = CATALOG_OK;
	for (size_t i = 0; i < n; i++, e++) {
		uint32_t size = e->size ? e->size : ca_size;
		uint32_t addr = rd32(main + e->field);
		const uint8_t *table = table_at(addr, size);
		if (!table) {
			ik_print("[IK][Warning]%s() %d %s Address is %p\n", "vors_img_dsp_low_iso_print_cfg",
			         __LINE__, e->name, (void *)(uintptr_t)addr);
			continue;
		}
		char path[512];
		long written = -1;
		if (ik_dump_path(IK_DUMP_DIR, e->name, path, sizeof(path)) == 0)
			written = ik_write_file(path, table, size, false);
		if (written < 0) {
			ik_print("[IK][Warning]%s() %d open %s fail\n", "vors_img_dsp_low_iso_print_cfg",
			         __LINE__, path);
			return CATALOG_NO_OPEN;
		}
		if (written != (long)size) {
			ik_print("[IK][Warning]%s() %d write_size = %d, it should be %d\n",
			         "vors_img_dsp_low_iso_print_cfg", __LINE__, (int)written, (int)size);
			rc = CATALOG_SHORT;
		}
	}
	return rc;
}

#define WRITE_CATALOG(main, list, ca) write_catalog((main), (list), sizeof(list) / sizeof((list)[0]), (ca))

/* The configuration the context posted last, with its id. */
img_dsp_iso_cfg *newest_config(uint32_t pipe, const void *ctx, uint8_t *id)
{
	const ik_ctx_head *h = (const ik_ctx_head *)ctx;
	const ik_pipe_layout *pl = ik_pipe(pipe);
	if (!pl || h->last_iso_cfg == 0)
		return NULL;
	const uint8_t *newest = ik_region_span(h->last_iso_cfg, sizeof(img_dsp_iso_cfg));
	for (uint32_t i = 0; i < pl->cfg_num && i < IK_MAX_CFG; i++) {
		if (pl->cfg[i] == newest) {
			*id = (uint8_t)i;
			return (img_dsp_iso_cfg *)pl->cfg[i];
		}
	}
	return NULL;
}

int print_cfg_locked(uint32_t pipe, uint8_t id, const img_dsp_iso_cfg *cfg)
{
	if (cfg->AlgoMode != DSP_IMG_CORE_ALGO_MODE_LISO) {
		ik_print("[IK][Error]%s() %d p_cfg->algo_mode %d != VORS_DSP_IMG_ALGO_MODE_LISO\n",
		         "vors_img_dsp_low_iso_print_cfg", __LINE__, (int)cfg->AlgoMode);
		return -1;
	}
	ik_print("[IK]Pipe %d, CfgId %d\n", (int)pipe, (int)id);
	ik_print("[IK]Config State %d\n", (int)cfg->state);
	ik_print("[IK]Config Addr %p\n", (const void *)cfg);
	img_dsp_low_iso_print_sections(cfg);
	const uint8_t *main = cfg->main.bytes;
	uint32_t ca_size = pipe == IMG_DSP_PIPE_STILL ? 6144u : 3072u;
	catalog_result files = WRITE_CATALOG(main, catalog_shared, ca_size);
	if (files != CATALOG_NO_OPEN) {
		catalog_result rest = cfg->main.basic.share.adv_mode == IK_ADV_MODE_ADVANCED
		                          ? WRITE_CATALOG(main, catalog_advanced, ca_size)
		                          : WRITE_CATALOG(main, catalog_basic, ca_size);
		if (rest != CATALOG_OK)
			files = rest;
	}
	if (files == CATALOG_NO_OPEN) {
		img_dsp_low_iso_print_ce_part(cfg);
		return -1;
	}
	int rc = files == CATALOG_OK ? 0 : -1;
	if (img_dsp_low_iso_dump_idsp_cfg(&cfg->main.basic.share) != 0)
		rc = -1;
	img_dsp_low_iso_print_ce_part(cfg);
	return rc;
}

} // namespace

extern "C" int vors_img_dsp_low_iso_print_cfg(const img_dsp_mode *mode)
{
	if (!mode)
		return -1;
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *ctx;
	int rc = ik_mode_ctx_mutex(__func__, mode, IK_NO_CTX_MUTEX, &ctx);
	if (rc != 0)
		return rc;
	ik_lock(ctx);
	uint8_t id = mode->ConfigId;
	img_dsp_iso_cfg *cfg = NULL;
	if (id == IK_NO_CFG) {
		cfg = newest_config(mode->Pipe, ctx, &id);
	} else {
		img_dsp_cfg_id cid = {mode->Pipe, id, {0, 0, 0}};
		void *rec;
		if (img_dsp_core_utility_get_config(&cid, &rec) == 0)
			cfg = (img_dsp_iso_cfg *)rec;
	}
	if (!cfg) {
		IK_WARN("Cannot get config\n");
		ik_unlock(ctx);
		return -1;
	}
	rc = print_cfg_locked(mode->Pipe, id, cfg);
	ik_unlock(ctx);
	return rc;
}

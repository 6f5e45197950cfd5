/*
 * The colour path of the image kernel: white balance, the colour-correction
 * register file, the tone curve, and the steps of other filters that the
 * white balance re-runs.
 */
#ifndef CAMLIB_IMG_DSP_IK_COLOR_H
#define CAMLIB_IMG_DSP_IK_COLOR_H

#include "ik_core.h"
#include "img_dsp.h"

#include <stdint.h>

static_assert(sizeof(img_dsp_wb_gain) == 20, "white-balance gain block");
static_assert(sizeof(img_dsp_color_correction_reg) == 8, "colour-correction register block");
static_assert(sizeof(img_dsp_color_correction) == 8, "colour-correction block");
static_assert(sizeof(img_dsp_tone_curve) == 1536, "tone-curve block");
static_assert(sizeof(img_dsp_chroma_scale) == 260, "chroma-scale block");
static_assert(sizeof(img_dsp_chroma_median_filter) == 16, "chroma-median block");
static_assert(sizeof(img_dsp_variable_range) == 4, "variable-range block");

/* Entries of the white-balance update list. */
enum ik_wb_update_entry {
	IK_WB_UPD_BLACK_LEVEL = 0,
	IK_WB_UPD_DGAIN_SATURATION = 1,
	IK_WB_UPD_LOCAL_EXPOSURE = 2,
	IK_WB_UPD_DBP = 3,
	IK_WB_UPD_WB_GAIN = 4,
	IK_WB_UPD_LOCAL_EXPOSURE_2 = 5,
	IK_WB_UPD_STAT_REFRESH = 6,
};

int img_dsp_core_check_set_wb_gain(const img_dsp_mode *mode, img_dsp_wb_gain *block,
                                   img_dsp_update_list *list);
int img_dsp_core_process_wb_gain(const img_dsp_mode *mode, const img_dsp_wb_gain *block,
                                 img_dsp_update_list *list);
int img_dsp_core_check_set_color_correction_reg(const img_dsp_mode *mode, img_dsp_color_correction_reg *block,
                                                img_dsp_update_list *list);
int img_dsp_core_process_color_correction_reg(const img_dsp_mode *mode,
                                              const img_dsp_color_correction_reg *block,
                                              img_dsp_update_list *list);
int img_dsp_core_check_set_tone_curve(const img_dsp_mode *mode, img_dsp_tone_curve *block,
                                      img_dsp_update_list *list);
int img_dsp_core_process_tone_curve(const img_dsp_mode *mode, const img_dsp_tone_curve *block,
                                    img_dsp_update_list *list);

/* The deferred black-level table (nine entries: def_blk1, gain-dependent
 * offsets, black-level offsets, red-green-blue each) from the static black
 * levels (R, Gr, Gb, B) and a white-balance block. */
void img_dsp_core_deferred_black_level_table(const int16_t black[4], const img_dsp_wb_gain *wb,
                                             int16_t table[9]);

/* Steps the white balance re-runs on the context's stored blocks. */
int img_dsp_core_process_dgain_saturation_level(const img_dsp_mode *mode,
                                                const img_dsp_dgain_saturation_level *block,
                                                img_dsp_update_list *list);
int img_dsp_core_process_local_exposure(const img_dsp_mode *mode, const void *block,
                                        img_dsp_update_list *list);
int img_dsp_core_process_dynamic_bad_pixel_correction(const img_dsp_mode *mode, const void *block,
                                                      img_dsp_update_list *list);

/* The context and body a locked setter works on, for pipes 0 and 1; NULL
 * (with the pipe message) for any other pipe. */
struct ik_ctx_body;
struct ik_ctx_body *ik_color_body(const char *caller, const img_dsp_mode *mode, void **ctx);
/* The buffer block a video context's current table index selects (the
 * first when the index names none). */
uint32_t ik_buffer_index(const img_dsp_mode *mode, const void *ctx);
/* A table of the pipe: on the video pipe in the buffer block of the
 * context's current table index, recorded for `tbl` (ik_section_tbl). */
uint8_t *ik_color_table(const img_dsp_mode *mode, void *ctx, unsigned tbl, uint32_t video_offset,
                        uint32_t still_offset);

/* A setter's debug hooks whose record carries the table its block names
 * as a second entry, unless the large tables are left out. */
struct img_dsp_debug_hook;
void ik_debug_hooks_with_table(const char *setter, const void *return_address,
                               const struct img_dsp_debug_hook *hook, const img_dsp_mode *mode,
                               const void *block, uint32_t block_size, uint64_t table, uint32_t table_size);

int img_dsp_core_check_set_color_correction(const img_dsp_mode *mode, img_dsp_color_correction *block,
                                            img_dsp_update_list *list);
int img_dsp_core_process_color_correction(const img_dsp_mode *mode, const img_dsp_color_correction *block,
                                          img_dsp_update_list *list);
int set_color_correction_val(const img_dsp_mode *mode, void *ctx, const uint8_t *table,
                             img_dsp_update_list *list);

int img_dsp_core_check_set_chroma_median_filter(const img_dsp_mode *mode, img_dsp_chroma_median_filter *block,
                                                img_dsp_update_list *list);
int img_dsp_core_process_chroma_median_filter(const img_dsp_mode *mode,
                                              const img_dsp_chroma_median_filter *block,
                                              img_dsp_update_list *list);
int img_dsp_core_check_set_variable_range(const img_dsp_mode *mode, img_dsp_variable_range *block);
int img_dsp_core_variable_range(const img_dsp_mode *mode, const img_dsp_variable_range *block);
int img_dsp_core_check_set_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *block,
                                         img_dsp_update_list *list);
int img_dsp_core_process_chroma_filter(const img_dsp_mode *mode, img_dsp_chroma_filter *block,
                                       img_dsp_update_list *list);
int img_dsp_core_check_set_chroma_scale(const img_dsp_mode *mode, img_dsp_chroma_scale *block,
                                        img_dsp_update_list *list);
int img_dsp_core_process_chroma_scale(const img_dsp_mode *mode, const img_dsp_chroma_scale *block,
                                      img_dsp_update_list *list);

#endif

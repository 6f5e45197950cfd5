/*
 * Printers of low-ISO and HDR configurations and the dumps of a
 * configuration's tables to files. Everything prints through the library's
 * print hook, each line starting "[IK]". Table addresses inside a
 * configuration may be in user or physical form; a printer follows one only
 * when the whole table lies in the region.
 */
#ifndef CAMLIB_IMG_DSP_IK_CFG_PRINT_H
#define CAMLIB_IMG_DSP_IK_CFG_PRINT_H

#include "ik_context.h"
#include "ik_liso_layout.h"
#include "img_dsp.h"

#include <stdint.h>

/* The main part of a configuration section by section: share, common,
 * color, liso, the warp entries and flow in the basic layout, the calib
 * printer in the advanced one (by `adv_mode`). */
void img_dsp_low_iso_print_sections(const img_dsp_iso_cfg *cfg);
/* The advanced main part: share, then common with its geometric warp as
 * calib, color, liso, the warp entries, flow and cliso. */
void img_dsp_low_iso_print_calib(const ik_liso_main_advanced *main);
/* The contrast-enhancement part and its command queue. */
void img_dsp_low_iso_print_ce_part(const img_dsp_iso_cfg *cfg);

/* Writes the DSP's debug buffers that `share` names into the dump
 * directory: 0, or -1 when one is outside the region or is written short. */
int img_dsp_low_iso_dump_idsp_cfg(const ik_liso_share *share);

/* Every configuration of the mode's context, newest first, then on the
 * video pipe every HDR configuration. */
int img_dsp_low_iso_print_history(const img_dsp_mode *mode);

/* HDR configurations and their command queues. */
int img_dsp_core_utility_print_hdrcfg(const img_dsp_hdr_cfg *cfg);
uint32_t img_dsp_core_utility_echo_hdr_cmd(const char *label, int index, const void *cmd);

/* The named parts of the video-MCTF and final-sharpen tables, in the order
 * of their update bits in `flow` (bits 0-15 and 16-29). */
typedef struct ik_table_piece {
	const char *name;
	uint32_t offset;
	uint32_t size;
} ik_table_piece;

#define IK_MCTF_PIECES 16u
#define IK_FS_PIECES 14u
extern const ik_table_piece ik_mctf_pieces[IK_MCTF_PIECES];
extern const ik_table_piece ik_fs_pieces[IK_FS_PIECES];

#endif

/* Helpers shared by the HDR modules. */
#ifndef CAMLIB_IMG_DSP_IK_HDR_H
#define CAMLIB_IMG_DSP_IK_HDR_H

#include "ik_context.h"
#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

/* The body of the video context a mode names; NULL for another pipe or an
 * unknown context. */
ik_ctx_body *ik_hdr_body(const img_dsp_mode *mode, void **ctx);
/* The Bayer pattern of the context's sensor information. */
uint8_t ik_hdr_pattern(const ik_ctx_body *body);
/* Lays four values of `elem` bytes out of R, Gr, Gb, B order into sensor
 * positions ee, eo, oe, oo; a pattern above 3 zeroes them and fails. */
int ik_hdr_pattern_order(uint8_t pattern, const void *rgb, void *out, size_t elem);

/* The 14 x 9 alpha table packed column by column, four alphas to a u16. */
void ik_hdr_pack_alpha(const uint8_t *table, uint16_t words[IK_HDR_ALPHA_PACKED_SIZE / 2]);

/* The DSP's linearisation input grid: code(i) of entry i, 0..352. */
uint32_t ik_hdr_grid_code(unsigned i);
/* Packed linearisation tables: entry i as 12 bits at bit 12 i (ORed into
 * the table); a shift as 3-bit field f of an exponent header. */
void ik_hdr_put12(uint8_t *table, unsigned i, uint32_t v);
void ik_hdr_put_shift(uint8_t *header, unsigned f, unsigned shift);
/* Packs a 353-entry table into a zeroed 706-byte area and 14-byte header. */
void ik_hdr_pack_amp_linear(const uint16_t *lut, uint8_t *area, uint8_t *header);

/* The blending or exposure index of the setter running on this thread: its
 * parameter print leads with it (the debug hooks see only the block). */
void ik_hdr_set_print_index(int32_t index);
int32_t ik_hdr_print_index(void);

/* A getter of per-step or per-exposure copies: refuses an index outside
 * 0..count-1, else the common getter path on the video pipe. */
int ik_hdr_get_indexed(const char *caller, const img_dsp_mode *mode, void *out, size_t first, size_t size,
                       int32_t index, int32_t count, const char *name);

/* The static black level of a video context in HDR mode (FuncMode flag 8):
 * the main black-level record and the records of every blend step. A core
 * step of the common setter path. */
struct img_dsp_update_list;
int img_dsp_core_process_post_hdr_static_black_level(const img_dsp_mode *mode, void *block, uint32_t index,
                                                     struct img_dsp_update_list *list);

/* Builds the HDR configuration ConfigId of a video context. */
int img_dsp_core_hdr_post_exe(const img_dsp_mode *mode);

#endif

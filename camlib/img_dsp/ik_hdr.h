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

#endif

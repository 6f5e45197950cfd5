/* Sharpen-noise filter families and the shared FIR and level checks. */
#ifndef CAMLIB_IMG_DSP_IK_SHARPEN_H
#define CAMLIB_IMG_DSP_IK_SHARPEN_H

#include "img_dsp.h"

#include <stdint.h>

/* Each clamps the caller's record and answers 0 or IMG_DSP_CLAMPED; the
 * level check answers -1 for an impossible curve. A NULL prefix prints as
 * "Param". */
int32_t img_dsp_core_check_sharpen_noise_sharpen_fir(const char *proc, const char *prefix, img_dsp_fir *fir);
int32_t img_dsp_core_check_advance_spatial_filter_fir(const char *proc, const char *prefix, img_dsp_fir *fir);
int32_t img_dsp_core_check_sharpen_noise_level(const char *proc, const char *prefix, img_dsp_level *level);

#endif

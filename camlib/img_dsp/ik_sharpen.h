/* Sharpen-noise filter families and the shared FIR and level checks. */
#ifndef CAMLIB_IMG_DSP_IK_SHARPEN_H
#define CAMLIB_IMG_DSP_IK_SHARPEN_H

#include "ik_core.h"
#include "img_dsp.h"

#include <stdint.h>

/* Each clamps the caller's record and answers 0 or IMG_DSP_CLAMPED; the
 * level check answers -1 for an impossible curve. A NULL prefix prints as
 * "Param". */
int32_t img_dsp_core_check_sharpen_noise_sharpen_fir(const char *proc, const char *prefix, img_dsp_fir *fir);
int32_t img_dsp_core_check_advance_spatial_filter_fir(const char *proc, const char *prefix, img_dsp_fir *fir);
int32_t img_dsp_core_check_sharpen_noise_level(const char *proc, const char *prefix, img_dsp_level *level);
/* The whole advance spatial filter block; -1 for an impossible T0T1Div. */
int32_t img_dsp_core_check_advance_spatial_filter(const char *proc, img_dsp_advance_spatial_filter *asf);
int img_dsp_core_check_set_advance_spatial_filter(const img_dsp_mode *mode, void *block, uint32_t,
                                                  img_dsp_update_list *);
int img_dsp_core_process_advance_spatial_filter(const img_dsp_mode *mode, const void *block, int32_t rc);

/* A cloned context's stored final both names the clone's own 3-D table. */
struct ik_final_sharpen_group;
void ik_final_sharpen_repoint(struct ik_final_sharpen_group *g);

/* The setters' field prints (debug flag 2). */
void ik_print_coring(const void *block);
void ik_print_first_fir(const void *block);
void ik_print_first_both(const void *block);
void ik_print_first_noise(const void *block);
void ik_print_first_min_coring_result(const void *block);
void ik_print_first_max_coring_result(const void *block);
void ik_print_first_coring_index_scale(const void *block);
void ik_print_first_scale_coring(const void *block);
void ik_print_final_level(const void *block);
void ik_print_final_both(const void *block);
void ik_print_final_fir(const void *block);
void ik_print_final_noise(const void *block);
void ik_print_asf(const void *block);

#endif

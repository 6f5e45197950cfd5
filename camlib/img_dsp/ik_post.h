/* Posting configurations to the video driver. */
#ifndef CAMLIB_IMG_DSP_IK_POST_H
#define CAMLIB_IMG_DSP_IK_POST_H

#include "ik_arch.h"
#include "img_dsp.h"

int img_dsp_low_iso_post_exe_cfg(int fd, const img_dsp_mode *mode);
int img_dsp_low_iso_pre_exe_cfg(const img_dsp_mode *mode);

/* Table-address fields of a configuration between user and physical form;
 * a field of 0 stays 0. */
int img_dsp_low_iso_cfg_convert_to_virtual_addr(const img_dsp_mode *mode, ik_mem_bases bases);
int img_dsp_low_iso_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases);
int img_dsp_low_iso_single_exp_hdr_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases);
int img_dsp_low_iso_ce_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases);

int img_dsp_low_iso_send_cfg_to_dsp(int fd, const img_dsp_mode *mode);
/* Hands one part of a configuration to the video driver: 0, or -1 with the
 * request's failure message in `caller`'s name. */
int img_dsp_post_cfg_part(const char *caller, int fd, unsigned long req, const img_dsp_mode *mode,
                          uint32_t kind, const void *part, uint32_t mask);

#endif

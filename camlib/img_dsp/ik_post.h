/* Posting configurations to the video driver. */
#ifndef CAMLIB_IMG_DSP_IK_POST_H
#define CAMLIB_IMG_DSP_IK_POST_H

#include "img_dsp.h"

int img_dsp_low_iso_post_exe_cfg(int fd, const img_dsp_mode *mode);

#endif

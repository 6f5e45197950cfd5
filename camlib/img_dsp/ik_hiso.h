/* High-ISO configurations: the frame whose processing steps are not built. */
#ifndef CAMLIB_IMG_DSP_IK_HISO_H
#define CAMLIB_IMG_DSP_IK_HISO_H

#include "img_dsp.h"

typedef struct img_dsp_hiso_param {
	void *ctx;
	uint8_t *update_flags;
	void *sections;
	void *filters;
	uint8_t *tables;
	void *settings;
} img_dsp_hiso_param;

int img_dsp_core_high_iso_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode);
int img_dsp_core_high_iso_post_exe_cfg(const img_dsp_mode *mode);
int img_dsp_core_high_iso_post_exe(const img_dsp_mode *mode, img_dsp_hiso_param *param, uint32_t *done);

#endif

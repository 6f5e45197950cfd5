/* 3A statistics: set-up commands and the statistics fetch. */
#ifndef CAMLIB_IMG_DSP_IK_3A_H
#define CAMLIB_IMG_DSP_IK_3A_H

#include "img_dsp.h"
#include "qvd_ioctl.h"

/* Bytes of each statistics command that the DSP reads. */
#define IK_AAA_STATISTICS_SETUP_SIZE 76u
#define IK_AAA_PSEUDO_Y_SETUP_SIZE 48u
#define IK_AAA_HISTOGRAM_SETUP_SIZE 24u
#define IK_AAA_EARLY_WB_GAIN_SIZE 40u
#define IK_AAA_AF_STATISTICS_EX_SIZE 44u

#endif

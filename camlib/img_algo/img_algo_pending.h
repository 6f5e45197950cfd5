/* What callers use of 3A modules that are not written yet, under the names
 * those modules will give it: the filter pipeline's noise level. The
 * service API's forwarders the frame thread calls are img_aaa.h's. */
#ifndef CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H

#include <stdint.h>

#include "hal_vin.h"
#include "img_dsp.h"
#include "img_hdr_frame.h"

/* Filter pipeline: the channel's noise level, from the noise estimate. */
int img_adj_set_noise_level(int chan, uint32_t level);
uint32_t img_adj_get_noise_level(int chan);

#include "img_aaa.h"

#endif

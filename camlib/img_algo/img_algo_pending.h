/* What callers use of 3A modules that are not written yet, under the names
 * those modules will give it: the filter pipeline's noise level, and the
 * service API's forwarders that the camera library's frame thread calls. */
#ifndef CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H

#include <stdint.h>

#include "hal_vin.h"
#include "img_dsp.h"
#include "img_hdr_frame.h"

/* Filter pipeline: the channel's noise level, from the noise estimate. */
int img_adj_set_noise_level(int chan, uint32_t level);
uint32_t img_adj_get_noise_level(int chan);

/* Service API: the channel's pending shutter and gain request, and the
 * send of the channel's HDR frame settings; each forwards to its module. */
int img_set_pending_sht_agc(int fd, const hal_sht_agc *rec, int chan);
int img_set_hdr_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, const uint8_t flags[2]);

#endif

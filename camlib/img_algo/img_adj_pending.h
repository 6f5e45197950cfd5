/* Calls of the filter pipeline into modules that are not written yet, each
 * under the name its module will give it, with the least body that lets the
 * pipeline run: the filters' translaters and transmitters, the transmitters'
 * sent tone curve and the exposure module's AGC index. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H

#include "img_adj_filter.h"
#include "img_dsp.h"

#include <stdint.h>

/* Stand in for every filter's translater and transmitter: nothing is
 * written or sent. */
int img_adj_translate_pending(filter_state *state, void *block, int32_t chan, void *unused);
int img_adj_transmit_pending(filter_state *state, void *block, int32_t fd, img_dsp_mode *mode);

/* The tone curve last sent for channel 0 (1536 bytes); -1 for NULL. */
int img_adj_get_sent_tone_curve(void *out);

/* Each channel's current AGC index; -1 while no exposure instance exists. */
int ae_get_agc_index(uint16_t *values);

#endif

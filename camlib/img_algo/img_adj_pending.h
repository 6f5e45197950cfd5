/* Calls of the filter pipeline into modules that are not written yet, each
 * under the name its module will give it, with the least body that lets the
 * pipeline run: the exposure module's AGC index. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H

#include <stdint.h>

/* Each channel's current AGC index; -1 while no exposure instance exists. */
int ae_get_agc_index(uint16_t *values);

#endif

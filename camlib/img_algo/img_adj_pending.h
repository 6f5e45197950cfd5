/* Calls of the filter pipeline into modules that are not written yet, each
 * under the name its module will give it, with the least body that lets the
 * pipeline run: the white-balance module's current gains. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_PENDING_H

#include <stdint.h>

/* The white-balance gains of the channel now in effect (1024 = 1.0). */
int awb_get_current_gains(int32_t chan, uint32_t gains[3]);

#endif

/* What the channel description, the posting and the statistics parser call
 * of 3A modules that are not written yet, under the names those modules
 * will give them: the filter pipeline's noise level, the adaptive local
 * exposure's reset and the white-balance store. */
#ifndef CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H

#include <stdint.h>

/* Filter pipeline: the channel's noise level, from the noise estimate. */
int img_adj_set_noise_level(int chan, uint32_t level);
uint32_t img_adj_get_noise_level(int chan);

/* Adaptive local exposure: every channel's curve inputs to the start. */
int img_adj_le_init(void);

/* White balance: the store's record of a channel. */
typedef struct awb_chan_store {
	uint32_t enable;     /* the instance exists */
	uint32_t pending;    /* preload gains wait for the next instance */
	uint32_t preload[3]; /* red, green, blue; 1024 = 1.0 */
} awb_chan_store;
/* NULL for a channel outside 0..3. */
awb_chan_store *awb_get_chan_store(int chan);

#endif

/* What the channel description, the posting and the statistics parser call
 * of 3A modules that are not written yet, under the names those modules
 * will give them: the filter pipeline's noise level, the adaptive local
 * exposure's reset, the white-balance store, the HDR enable, the exposure
 * check's records and the HDR linearisation of the exposure tiles. */
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

/* HDR: the channel's HDR enable. */
int img_hdr_get_enable(int chan);

/* HDR: the exposure check's records, one a channel. */
typedef struct img_hdr_ae_check {
	uint32_t mode; /* 0 off */
	uint32_t shutter;
	uint32_t agc_index;
	uint32_t dgain;
	void *log; /* FILE * the check writes to */
} img_hdr_ae_check;
int img_hdr_set_ae_check(const img_hdr_ae_check *records);
int img_hdr_get_ae_check(img_hdr_ae_check *records);

/* HDR: a channel's AE tiles made linear again, log and tone families. */
struct aaa_parse_result;
void img_hdr_process_ae_stats(struct aaa_parse_result *stats, int chan);
void img_hdr_process_ae_stats_lut(struct aaa_parse_result *stats, int chan);

#endif

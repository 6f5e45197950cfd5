/* Least bodies of the 3A modules that are not written yet (see the
 * header); each does only what its callers here need. */
#include "img_algo_pending.h"

#include "img_channel.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t noise_level[IMG_MAX_CHANNELS];
static awb_chan_store awb_store[IMG_MAX_CHANNELS];
static img_hdr_ae_check ae_check[IMG_MAX_CHANNELS];

int img_adj_set_noise_level(int chan, uint32_t level)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	noise_level[chan] = level;
	return 0;
}

uint32_t img_adj_get_noise_level(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? noise_level[chan] : 0;
}

int img_adj_le_init(void)
{
	return 0;
}

awb_chan_store *awb_get_chan_store(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? &awb_store[chan] : NULL;
}

int img_hdr_get_enable(int)
{
	return 0;
}

int img_hdr_set_ae_check(const img_hdr_ae_check *records)
{
	if (!records)
		return -1;
	memcpy(ae_check, records, sizeof ae_check);
	return 0;
}

int img_hdr_get_ae_check(img_hdr_ae_check *records)
{
	if (!records)
		return -1;
	memcpy(records, ae_check, sizeof ae_check);
	return 0;
}

void img_hdr_process_ae_stats(struct aaa_parse_result *, int) {}

void img_hdr_process_ae_stats_lut(struct aaa_parse_result *, int) {}

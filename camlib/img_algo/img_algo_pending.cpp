/* Least bodies of the 3A modules that are not written yet (see the
 * header); each does only what its callers here need. */
#include "img_algo_pending.h"

#include "img_channel.h"

#include <stdio.h>
#include <stdlib.h>

static uint32_t noise_level[IMG_MAX_CHANNELS];
static awb_chan_store awb_store[IMG_MAX_CHANNELS];

int img_adj_init_settings(void)
{
	return 0;
}

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

int32_t smooth_change(int32_t target, int32_t current, int32_t speed)
{
	if (target == current)
		return target;
	if (speed == 0) {
		printf("speed of %2d is not acceptable in %s\n.", 0, "smooth_change");
		return current;
	}
	if (speed == 65536 || abs(target - current) <= speed)
		return target > current ? current + 1 : current - 1;
	return (target + (speed - 1) * current) / speed;
}

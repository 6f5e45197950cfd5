/* Least bodies of the 3A modules that are not written yet (see the header). */
#include "img_algo_pending.h"

#include "img_channel.h"

static uint32_t noise_level[IMG_MAX_CHANNELS];

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

/* The gain-indexed filter pipeline: so far only its channel count. */
#include "img_adj_filter.h"

#include "img_channel.h"

#include <stdio.h>

static int vors_aaa_vin_chan_num = 1;

int img_adj_set_channel_count(int n)
{
	/* The store holds four channels: a larger count would index past it. */
	if (n < 1 || n > IMG_MAX_CHANNELS) {
		printf("Error:vors_aaa_vin_chan_num =%d\n", n);
		return -1;
	}
	vors_aaa_vin_chan_num = n;
	return 0;
}

int img_adj_get_channel_count(void)
{
	return vors_aaa_vin_chan_num;
}

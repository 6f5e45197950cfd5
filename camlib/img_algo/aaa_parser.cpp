/* 3A statistics parse: so far only its channel count. */
#include "aaa_parser.h"

#include "img_channel.h"

static int parse_chan_num = 1;

int parse_aaa_set_channel_num(int n)
{
	if (n < 1 || n > IMG_MAX_CHANNELS)
		return -1;
	parse_chan_num = n;
	return 0;
}

int parse_aaa_get_channel_num(void)
{
	return parse_chan_num;
}

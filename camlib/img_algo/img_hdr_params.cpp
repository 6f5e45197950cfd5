/* HDR parameters: so far the channel count; the sensor records and tuning
 * blocks are taken without effect until the HDR curves use them. */
#include "img_hdr_params.h"

#include "img_channel.h"

#include <stdio.h>

static int img_hdr_channel_num = 1;

int img_hdr_set_channel_num(int count)
{
	if (count < 1 || count > IMG_MAX_CHANNELS) {
		printf("error: illegal total channel number.\n");
		return -1;
	}
	img_hdr_channel_num = count;
	return 0;
}

int img_hdr_get_channel_num(void)
{
	return img_hdr_channel_num;
}

int img_hdr_set_sensor_info(const void *records)
{
	if (!records) {
		printf("error: null pointer.\n");
		return -1;
	}
	return 0;
}

int img_hdr_copy_iq_params(const void *)
{
	return 0;
}

/* Auto white balance instances: so far only how many there are. */
#include "awb.h"

#include <stdio.h>

static int awb_instance_count;

int awb_set_instance_count(int count)
{
	if (count > AWB_MAX_INSTANCES) {
		printf("awb instances number %d out of range 1 - %d\n", awb_instance_count,
		       AWB_MAX_INSTANCES);
		return -1;
	}
	awb_instance_count = count;
	return 0;
}

int awb_get_instance_count(void)
{
	return awb_instance_count;
}

/* Least body until the instances land. */
int awb_set_warmth_channel(const uint8_t *, int)
{
	return 0;
}

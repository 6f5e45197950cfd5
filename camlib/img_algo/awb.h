/* Auto white balance instances. */
#ifndef CAMLIB_IMG_ALGO_AWB_H
#define CAMLIB_IMG_ALGO_AWB_H

#include <stdint.h>

#define AWB_MAX_INSTANCES 8

/* Instances to run, at most AWB_MAX_INSTANCES; -1 above. */
int awb_set_instance_count(int count);
int awb_get_instance_count(void);

/* Filter 1's warmth block (six scaled gains) to the channel's instance. */
int awb_set_warmth_channel(const uint8_t *block, int chan);

#endif

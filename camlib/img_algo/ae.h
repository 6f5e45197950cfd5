/* Auto-exposure instances. */
#ifndef CAMLIB_IMG_ALGO_AE_H
#define CAMLIB_IMG_ALGO_AE_H

#include <stdint.h>

#define AE_MAX_INSTANCES 8

/* Instances to run, 1 to AE_MAX_INSTANCES; -1 outside. */
int ae_set_instance_num(int count);
int ae_get_instance_num(void);

/* The channel's target luma from filter 0's eight target values; nothing
 * while no instance exists. */
int ae_set_target_from_filter(const uint16_t *targets, int chan);

#endif

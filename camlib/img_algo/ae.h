/* Auto-exposure instances. */
#ifndef CAMLIB_IMG_ALGO_AE_H
#define CAMLIB_IMG_ALGO_AE_H

#define AE_MAX_INSTANCES 8

/* Instances to run, 1 to AE_MAX_INSTANCES; -1 outside. */
int ae_set_instance_num(int count);
int ae_get_instance_num(void);

#endif

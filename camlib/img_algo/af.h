/* Auto focus instances. */
#ifndef CAMLIB_IMG_ALGO_AF_H
#define CAMLIB_IMG_ALGO_AF_H

#define AF_MAX_INSTANCES 4

/* Instances to run, 0 to AF_MAX_INSTANCES; -1 outside. */
int af_set_instance_num(int count);
int af_get_instance_num(void);

#endif

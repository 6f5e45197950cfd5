/*
 * ICM-20600 gyro: what the driver offers the kernel's image stabilisation.
 */
#ifndef SPINDREL_H
#define SPINDREL_H

#include <linux/types.h>

/* one sample, remapped to the camera's axes, in raw sensor counts */
struct gyro_data {
	u32 id; /* counts every read since load, from 0 */
	s16 xg, yg, zg;
	s16 xa, ya, za;
};

struct gyro_dev_info {
	u32 accel_full_scale;  /* g */
	u32 accel_sensitivity; /* counts per g */
	u32 gyro_full_scale;   /* degrees per second */
	u32 gyro_sensitivity;  /* counts per degree per second */
	u32 sample_rate;       /* Hz */
};

typedef void (*gyro_eis_callback_t)(struct gyro_data *data, void *arg);

#ifdef __cplusplus
extern "C" {
#endif

int gyro_register_eis_callback(gyro_eis_callback_t callback, void *arg);
int gyro_unregister_eis_callback(void);
int gyro_dev_get_info(struct gyro_dev_info *info);

#ifdef __cplusplus
}
#endif

#endif

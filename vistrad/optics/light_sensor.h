#pragma once
// Light-sensor object: an illuminance reading for a channel. One driver
// exists, the ISL29033 behind one or two sysfs-style files.

#include <stdint.h>

struct platform;

struct light_sensor {
	uint32_t type; // 0 plain, 1 ISL29033, 2 second constructor
	struct platform *platform;
	void *spare;
	void (*destroy)(struct light_sensor *sensor);
	int (*read)(struct light_sensor *sensor);
	void *priv;
};

struct light_sensor *light_sensor_new(void);
struct light_sensor *light_sensor_new_type2(void);
void light_sensor_set_platform(struct light_sensor *sensor, struct platform *platform);
void light_sensor_destroy(struct light_sensor *sensor);
// The first light sensor of the stream's channel; -2 without a read operation.
int light_sensor_read(struct platform *platform, int32_t stream_id);

// buf1 may be null (buf0 alone). tolerance in percent, 2 when not positive.
struct light_sensor *isl29033_new(const char *buf0, const char *buf1, int32_t tolerance, int using_mcu);

struct prodconf;
struct control;
// Module creator of the registry.
void *light_sensor_isl29033(struct prodconf *conf, struct control *engine, int32_t stream_id);

#pragma once
// Light-sensor object. Only what the platform uses is here yet.

#include <stdint.h>

struct platform;

struct light_sensor {
	uint32_t type;
	struct platform *platform;
	void *spare;
	void (*destroy)(struct light_sensor *sensor);
	int (*read)(struct light_sensor *sensor);
	void *priv;
};

struct light_sensor *light_sensor_new(void);
void light_sensor_set_platform(struct light_sensor *sensor, struct platform *platform);
void light_sensor_destroy(struct light_sensor *sensor);

struct prodconf;
struct control;
// Module creator of the registry.
void *light_sensor_isl29033(struct prodconf *conf, struct control *engine, int32_t stream_id);

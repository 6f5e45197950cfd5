#pragma once
// Sensor object. Only the leading fields that the platform's device list
// touches are here yet; the sensor module completes the record.

#include <stdint.h>

struct platform;

struct sensor {
    uint32_t type; // 36 from sensor_new
    struct platform *platform;
};

struct sensor *sensor_new(void);
void sensor_free(struct sensor *sensor);

// Operation wrappers that plug-ins call by name. The sensor record has no
// operation table yet, so they give the answers for a missing operation.
int sensor_reinit(struct sensor *sensor, void *argument); // -1
int32_t sensor_get_current_fps(struct sensor *sensor);    // 0

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

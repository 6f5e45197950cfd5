#pragma once
// What the stream synchronisation step asks of a sensor: whether it can shift
// its frame timing (it has its platform and the set_syncadjust operation),
// its maximum frame rate in whole frames per second, and its line count (last
// line index - first line index + 1).
//
// The sensor record does not carry the operation or the line indexes yet, so
// until it does every sensor answers as one without the operation, and the
// step is never built.

#include <stdint.h>

struct sensor;

int sync_sensor_can_adjust(struct sensor *sensor);
int32_t sync_sensor_max_fps(struct sensor *sensor);
int32_t sync_sensor_line_count(struct sensor *sensor);

// Shifts the sensor's frame timing by adjust (the sensor module's unit);
// gives what is still to be made up, negative on failure.
int sensor_set_syncadjust(struct sensor *sensor, int32_t adjust, int32_t stream_id);

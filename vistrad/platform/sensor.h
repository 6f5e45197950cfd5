#pragma once
// Sensor object. Only the leading fields that the platform's device list
// touches are here yet; the sensor module completes the record.

#include <stdint.h>

struct platform;

struct sensor {
	uint32_t type; // 36 from sensor_new
	struct platform *platform;
	// The sensor module sets these; the lens's field of view reads them.
	int32_t active_width;  // Q14 millimetres
	int32_t active_height; // Q14 millimetres
};

struct sensor *sensor_new(void);
void sensor_free(struct sensor *sensor);

// Operation wrappers that plug-ins call by name. The sensor record has no
// operation table yet, so they give the answers for a missing operation.
int sensor_reinit(struct sensor *sensor, void *argument); // -1
int32_t sensor_get_current_fps(struct sensor *sensor);    // 0
// The active area in millimetres (Q14); 0 without a sensor.
int32_t sensor_get_active_width(struct sensor *sensor);
int32_t sensor_get_active_height(struct sensor *sensor);

struct prodconf_area;
// Wrappers around a capture-mode change; without an operation table they
// give the missing-operation answers.
int sensor_setup(struct sensor *sensor, int32_t stream_id);                                          // -1
int sensor_set_capture_mode(struct sensor *sensor, uint32_t mode, uint32_t frequency, uint32_t hdr); // 0
int sensor_get_mode_info(struct sensor *sensor, struct prodconf_area *area, uint32_t mode, uint32_t frequency,
                         uint32_t hdr, int32_t stream_id);                                   // 0
int sensor_apply_mode(struct sensor *sensor, struct prodconf_area *area, int32_t stream_id); // -1
int32_t sensor_get_line_time(struct sensor *sensor);                                         // 0
// Whether the mode has a WDR variant.
int sensor_mode_is_wdr(struct sensor *sensor, uint32_t mode); // 0
// The frame rate the video input runs at, for the sensor's timing and
// exposure limits (the SoC sensor modules).
void sensor_update_framerate(struct sensor *sensor, int32_t stream_id, double framerate);

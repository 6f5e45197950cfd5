#pragma once
// The SoC's sensor modules: a generic one whose limits all come from the
// product configuration, and the AR0521, IMX274 and OV2718 with their
// capture-mode tables. They set exposure and gain through the camera
// library's shutter-and-gain record and apply a capture mode through the
// platform's video mode.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stdint.h>

struct prodconf;
struct sensor;

// Registers the four modules as sensor items of the product configuration.
void sensor_register_modules(struct prodconf *conf);

// Follows a new frame rate of the video input: the current frame rate, and
// from the camera library's AAA information the line time, the exposures'
// line limits and the exposure-time limits.
extern "C" void sensor_update_framerate(struct sensor *sensor, int32_t stream_id, double framerate);

// The longest exposures (microseconds) and the exposure-ratio range (Q14)
// the sensor allows in its current mode: 0, or -1 for a sensor of another
// kind. Linear: {linear maximum, 0} and a minimum ratio of 1.0, the maximum
// ratio left as it was.
extern "C" int sensor_get_exposure_limits(struct sensor *sensor, int32_t exposure[2], int32_t ratio[2]);

// Sets the video input's frame rate and takes it as the sensor's maximum.
// No module installs it.
gboolean sensor_vorsalind_set_framerate(struct sensor *sensor, int32_t stream_id, double framerate);

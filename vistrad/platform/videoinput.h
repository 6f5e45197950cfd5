#pragma once
// The video-input layer over the capture library: each call creates the
// handles it needs, does one thing, logs a failure with the library's
// message and releases the handles. Nothing is kept between calls. Every
// operation but videoinput_set_current_vin and videoinput_input_get_framerate
// works on input 0, whatever index it is given.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib-object.h>
#include <stdint.h>

// A capture mode as the video input takes it: name such as "2592x1944", WDR
// mode (0 linear; 1 and 4 are WDR variants), maximum frame rate.
struct tvx_mode {
	const char *name;
	uint32_t wdr_mode;
	double max_framerate;
};

gboolean videoinput_mode_apply_mode(const struct tvx_mode *mode);
gboolean videoinput_input_set_mode(int index, const struct tvx_mode *mode, uint32_t sensor_rotation,
                                   gboolean raw_capture);
extern "C" gboolean videoinput_input_set_framerate(int index, double framerate);
// The started input's handle (a reference for the caller, which connects
// "NewFramerate" to it), or null.
GObject *videoinput_input_start(int index);
gboolean videoinput_input_stop(int index);
gboolean videoinput_input_set_source_rotation(uint32_t rotation, int index);
gboolean videoinput_set_sensor_offset(int index, uint32_t x, uint32_t y);
gboolean videoinput_set_eis_enabled(int index, gboolean enable);
// The input's frame rate; the default when it cannot be read or is not set.
extern "C" double videoinput_input_get_framerate(int index, double def);
// Input 0's current video input; (uint32_t)-1 when it cannot be read.
uint32_t videoinput_input_get_current_vin(void);
gboolean videoinput_set_current_vin(int index, uint32_t vin, const char *reason);

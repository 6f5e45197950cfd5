#pragma once
// The video-input layer over the capture library: each call creates the
// handles it needs, does one thing and releases them.

#include <glib.h>
#include <stdint.h>

// A video mode of the capture library, as a sensor's capture-mode row names
// it: "2592x1944" and the like, WDR mode 0 linear (1 and 4 are WDR variants).
struct tvx_mode {
	const char *name;
	uint32_t wdr_mode;
	double framerate; // the mode's maximum
};

gboolean videoinput_set_current_vin(int input, uint32_t vin, const char *reason);
uint32_t videoinput_input_get_current_vin(void);
// Sets the input's frame rate (the input index is not used).
gboolean videoinput_input_set_framerate(int input, double framerate);

#pragma once
// The video-input layer over the capture library: each call creates the
// handles it needs, does one thing and releases them.

#include <glib.h>
#include <stdint.h>

gboolean videoinput_set_current_vin(int input, uint32_t vin, const char *reason);
uint32_t videoinput_input_get_current_vin(void);

#pragma once
// Capture modes of a product: which modes a channel offers in CaptureMode
// order, the callbacks that keep the states in step with the parameters, and
// applying a mode to platform, sensor, lens block and stabilizer.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>

struct prodconf;
struct control;

// The CAPTURE_FREQUENCY, CAPTURE_MODE and SCENE_PROFILE_CALLBACK rows.
void prodconf_register_capture_callbacks(struct prodconf *conf);

// The capture-mode slots of the object.
GList *prodconf_capture_valid_values(struct prodconf *conf, int32_t stream_id);
uint32_t *prodconf_capture_modes(struct prodconf *conf, int32_t stream_id, size_t *count);
// Pairs {60 Hz id, 50 Hz id}; count is the number of pairs.
uint32_t *prodconf_capture_modes_by_frequency(struct prodconf *conf, int32_t stream_id, size_t *count);
int prodconf_capture_mode_to_value(struct prodconf *conf, int32_t stream_id, uint32_t mode);
uint32_t prodconf_capture_value_to_mode(struct prodconf *conf, int32_t stream_id, int value);
void prodconf_set_capture_slots(struct prodconf *conf);

// The CaptureMode value to use for a requested one, or -1.
int prodconf_check_capture_value(struct prodconf *conf, int32_t stream_id, int value);
extern "C" int prodconf_set_capture_mode(struct prodconf *conf, struct control *engine, int32_t stream_id);

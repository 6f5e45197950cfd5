#pragma once
// The daemon's event producer "vistrad Events" and its per-channel events:
// DayNightVision (the IR-cut state) and AboveIlluminanceLevel. Each channel's
// event is declared on its first report; later reports send an event only
// when the value changed. For the main thread only.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stdint.h>

// The first argument is not used; context is handed to the event library
// (none: the default main context).
void event_handler_init(void *ignored, GMainContext *context);
void event_handler_deinit(void);
// value: 1 day, 0 night.
extern "C" void event_handler_ircut_property_changed(int32_t stream_id, uint32_t value);
// value: 1 above the day/night illuminance level, 0 below.
extern "C" void event_handler_above_ill_level_changed(int32_t stream_id, uint32_t value);

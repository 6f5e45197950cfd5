#pragma once
// The daemon's event producer "vistrad Events" and its per-channel events.

#include <stdint.h>

void event_handler_init(void);
void event_handler_deinit(void);
void event_handler_above_ill_level_changed(int32_t stream_id, int32_t value);

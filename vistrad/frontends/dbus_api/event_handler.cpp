// The event producer is not here yet: no event is declared or sent.
#include "event_handler.h"

void event_handler_init(void) {}

void event_handler_deinit(void) {}

void event_handler_above_ill_level_changed(int32_t, int32_t) {}

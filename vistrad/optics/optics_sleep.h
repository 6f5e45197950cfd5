#pragma once
// The one wait of the optics drivers (pulse widths, motor polls), replaceable
// so that tests step through a move without waiting.

#include <stdint.h>

void optics_sleep_ms(uint32_t ms);
typedef void (*optics_sleep_fn)(uint32_t ms);
// Installs fn (null: the real sleep) and returns the one before.
optics_sleep_fn optics_set_sleep(optics_sleep_fn fn);

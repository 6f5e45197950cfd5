// What the request operations do with parameter maps.
#pragma once

#include "libkalun.h"

#include <systemd/sd-bus.h>

// A copy for a job request; ENOMEM "Could not copy pair" on any failure.
kalunMap *kalun_map_copy(const kalunMap *map, kalunError **error);
// Appends the map as an "a{sv}" dictionary, entries in insertion order.
bool kalun_map_append(const kalunMap *map, sd_bus_message *m, kalunError **error);
size_t kalun_map_size(const kalunMap *map);

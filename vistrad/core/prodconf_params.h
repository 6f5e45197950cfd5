#pragma once
// The PARAMS section: parameter defaults, ranges and reset values per stream,
// and the D-Bus API configuration published from it.

#include <stdint.h>

struct prodconf;

// The initialiser of the object's init_param_defaults slot.
int init_default_parameter_ranges(struct prodconf *conf, int32_t stream_id, int reset);
// Sets the stream's parameters listed under RESET back to their values.
int prodconf_apply_reset_values(struct prodconf *conf, int32_t stream_id);
// Hands the stream's D-Bus API configuration to the front-end.
int prodconf_publish_dbus_api_config(struct prodconf *conf, int32_t stream_id);

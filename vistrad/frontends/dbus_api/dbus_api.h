#pragma once
// The D-Bus front-end's calls that the rest of the daemon makes.

#include <stdint.h>

struct dbus_api;
struct param_value;

void dbus_api_emit_param_properties_changed(struct dbus_api *api, int32_t stream_id,
                                            const struct param_value *value);
void dbus_api_emit_param_signal(struct dbus_api *api, int32_t stream_id, const struct param_value *value);

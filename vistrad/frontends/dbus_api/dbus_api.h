#pragma once
// The D-Bus front-end's calls that the rest of the daemon makes.

#include <stdint.h>

struct dbus_api;
struct param_value;
struct dbus_api_config;

// The front-end object: mode 1 serves video control, 0 image control. Never null.
struct dbus_api *dbus_api_new(int mode);
void dbus_api_free(struct dbus_api *api);
// Withdraws the stream's objects from every service.
void dbus_api_remove_stream(struct dbus_api *api, int32_t stream_id);

void dbus_api_emit_param_properties_changed(struct dbus_api *api, int32_t stream_id,
                                            const struct param_value *value);
void dbus_api_emit_param_signal(struct dbus_api *api, int32_t stream_id, const struct param_value *value);
// Takes the legacy interfaces and features the product offers on a stream.
void dbus_api_set_config(struct dbus_api *api, int32_t stream_id, const struct dbus_api_config *config);

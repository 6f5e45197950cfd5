// Parameter announcements reach the bus once the front-end's services exist;
// until then they go nowhere.
#include "dbus_api.h"

#include <glib.h>

// The services and their per-stream objects come with the front-end itself;
// until then the object only remembers its mode.
struct dbus_api {
    int mode;
};

struct dbus_api *dbus_api_new(int mode)
{
    dbus_api *api = g_new0(dbus_api, 1);
    api->mode = mode;
    return api;
}

void dbus_api_free(struct dbus_api *api) { g_free(api); }

void dbus_api_remove_stream(struct dbus_api *, int32_t) {}

void dbus_api_emit_param_properties_changed(struct dbus_api *, int32_t, const struct param_value *) {}

void dbus_api_emit_param_signal(struct dbus_api *, int32_t, const struct param_value *) {}

// Nothing offers the legacy interfaces yet, so there is nothing to configure.
void dbus_api_set_config(struct dbus_api *, int32_t, const struct dbus_api_config *) {}

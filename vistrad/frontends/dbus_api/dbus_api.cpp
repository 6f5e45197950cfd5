// Parameter announcements reach the bus once the front-end's services exist;
// until then they go nowhere.
#include "dbus_api.h"

void dbus_api_emit_param_properties_changed(struct dbus_api *, int32_t, const struct param_value *) {}

void dbus_api_emit_param_signal(struct dbus_api *, int32_t, const struct param_value *) {}

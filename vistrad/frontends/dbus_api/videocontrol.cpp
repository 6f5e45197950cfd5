#include "videocontrol.h"

// The VideoControl interface tables are not here yet: the service owns its
// name and carries no objects.
void videocontrol_build_objects(struct dbus_service *, int32_t, const struct dbus_api_config *) {}

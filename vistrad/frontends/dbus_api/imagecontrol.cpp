#include "imagecontrol.h"

// The ImageControl interface tables are not here yet: the service owns its
// name and carries no objects.
void imagecontrol_build_objects(struct dbus_service *, int32_t, const struct dbus_api_config *) {}

#pragma once
// The objects and interfaces of the com.tovi.ImageControl service.

#include <stdint.h>

struct dbus_api_config;
struct dbus_service;

// Object builder of the service: the global object for stream -1, else the
// stream's object at /com/tovi/ImageControl/<channel>/<index>.
void imagecontrol_build_objects(struct dbus_service *service, int32_t stream_id,
                                const struct dbus_api_config *config);

#pragma once
// The configuration interfaces of the daemon's objects: the member-less
// com.tovi.Configuration, and com.tovi.Configuration.Legacy, which serves
// the image parameters of the older configuration tree as the product's
// flags choose them. Every legacy build rewrites the mapping file
// "/etc/legacyconfig/legacymappings.d/vistrad.xml", which tells the legacy
// configuration service which property backs which legacy parameter.
// Main thread only.

#include <stdint.h>

struct dbus_api_config;
struct dbus_interface;

struct dbus_interface *configuration_interface_new(void);

// ImageControl: the stream's legacy groups as its record's flags choose them
// (an empty interface without a record), and the global object's.
struct dbus_interface *qorex_legacy_interface_new(const struct dbus_api_config *config, int32_t stream_id,
                                                  const char *bus_name, const char *object_path);
struct dbus_interface *qorex_legacy_global_interface_new(const char *bus_name, const char *object_path);

// VideoControl: the channel's groups by its record's video block, and the
// global object's.
struct dbus_interface *video_legacy_interface_new(const struct dbus_api_config *config, int32_t stream_id,
                                                  const char *bus_name, const char *object_path);
struct dbus_interface *video_legacy_global_interface_new(const char *bus_name, const char *object_path);

// The legacy maps live as long as the front-end; freed with it.
void legacy_maps_free(void);

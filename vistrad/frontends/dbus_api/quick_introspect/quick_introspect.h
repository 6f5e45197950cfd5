#pragma once
// A compact text description of the daemon's D-Bus services, objects and
// interfaces in "/run/vistrad/quick-introspect.data", so that other programs
// need no D-Bus introspection. The file is rewritten atomically, only when
// its content changes, and removed when nothing is described. Every
// operation takes the module's one mutex.

#include <stddef.h>
#include <stdint.h>

struct dbus_interface;

#define QUICK_INTROSPECT_PATH "/run/vistrad/quick-introspect.data"

// The owner of a well-known name; null or empty forgets it.
bool quick_introspect_set_unique_name(const char *name, const char *unique_name);
bool quick_introspect_publish(const char *name, const char *object_path,
                              struct dbus_interface *const *interfaces, uint32_t count);
bool quick_introspect_remove(const char *name, const char *object_path);
bool quick_introspect_clear(void);
// Replaces the output path (first use: QUICK_INTROSPECT_PATH under the root prefix).
void quick_introspect_set_path(const char *path);

// Replaces the file through a temporary beside it; true when replaced.
bool write_file(const char *path, const char *bytes, size_t length);

#pragma once
// The daemon's presence on the system bus: its bus names, one object per
// stream (and a global one) under each name, calls routed to the objects'
// interfaces, and parameter changes turned into signals and
// PropertiesChanged. Main thread only.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <gio/gio.h>
#include <stdint.h>

struct dbus_api;
struct dbus_api_config;
struct dbus_interface;
struct dbus_object;
struct dbus_service;
struct param_value;

#define DBUS_API_VISTRAD_NAME "com.tovi.Vistrad"
#define DBUS_API_IMAGECONTROL_NAME "com.tovi.ImageControl"
#define DBUS_API_VIDEOCONTROL_NAME "com.tovi.VideoControl"
#define DBUS_API_IMAGECONTROL_PATH "/com/tovi/ImageControl"
#define DBUS_API_VIDEOCONTROL_PATH "/com/tovi/VideoControl"

// Gets or creates the stream's object and gives it its interface set.
typedef void (*dbus_object_builder_fn)(struct dbus_service *service, int32_t stream_id,
                                       const struct dbus_api_config *config);

// The front-end object: mode 1 serves video control, any other image
// control. Never null; names that cannot be owned are only logged.
struct dbus_api *dbus_api_new(int mode);
// Also closes the shared system-bus connection: nothing is sent after it.
void dbus_api_free(struct dbus_api *api);
// A stream's configuration record (56 bytes, compared byte for byte); a
// changed record rebuilds the stream's objects in every service.
extern "C" void dbus_api_set_config(struct dbus_api *api, int32_t stream_id,
                                    const struct dbus_api_config *config);
// Withdraws the stream's objects from every service and forgets its record.
void dbus_api_remove_stream(struct dbus_api *api, int32_t stream_id);

// Called by the parameter database under its read lock, for every stored
// change: neither may set a parameter.
void dbus_api_emit_param_properties_changed(struct dbus_api *api, int32_t stream_id,
                                            const struct param_value *value);
void dbus_api_emit_param_signal(struct dbus_api *api, int32_t stream_id, const struct param_value *value);

// For the object builders.
struct dbus_service *dbus_service_new(const char *bus_name, dbus_object_builder_fn builder,
                                      int channel_offset);
void dbus_service_free(struct dbus_service *service);
const char *dbus_service_get_name(const struct dbus_service *service);
int dbus_service_get_channel_offset(const struct dbus_service *service);
void dbus_service_emit_signal(struct dbus_service *service, int32_t stream_id, const char *name,
                              GVariant *value);
char *dbus_object_path_new(const char *base_path, int32_t stream_id, int channel_only, int channel_offset);
struct dbus_object *dbus_service_get_object(struct dbus_service *service, int32_t stream_id, int channel_only,
                                            const char *base_path);
// Takes the array (g_new) and the interfaces.
void dbus_object_set_interfaces(struct dbus_object *object, struct dbus_interface **interfaces,
                                uint32_t count);
const char *dbus_object_get_path(const struct dbus_object *object);
int32_t dbus_object_get_stream_id(const struct dbus_object *object);
int32_t dbus_get_stream_id_from_object_path(const char *base_path, const char *object_path,
                                            int channel_offset);

// The object whose interface a method call reached (for object-level handlers).
struct dbus_object *dbus_object_from_invocation(GDBusMethodInvocation *invocation);

// The cores of the .Properties methods, with the object's own stream id.
// The first error of the walk is kept and answered.
GVariant *dbus_object_get_properties(struct dbus_object *object, const char *interface_name,
                                     const char *sender, GVariant *names, GError **error);
gboolean dbus_object_set_properties(struct dbus_object *object, const char *interface_name,
                                    const char *sender, GVariant *pairs, GError **error);
GVariant *dbus_object_get_default_values(struct dbus_object *object, const char *interface_name,
                                         GVariant *names, GError **error);
gboolean dbus_object_restore_to_default_values(struct dbus_object *object, const char *interface_name,
                                               GVariant *names, GError **error);
GVariant *dbus_object_get_ranges(struct dbus_object *object, const char *interface_name, GVariant *names,
                                 GError **error);

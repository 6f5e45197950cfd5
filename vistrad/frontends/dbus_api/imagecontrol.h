#pragma once
// The objects and interfaces of the com.tovi.ImageControl service, and the
// handlers, getters and hooks the VideoControl and legacy interfaces share
// with it. Main thread only.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <gio/gio.h>
#include <stdint.h>

struct daemon_context;
struct dbus_api_config;
struct dbus_interface;
struct dbus_interface_property;
struct dbus_service;
struct param_value;

// Object builder of the service: the global object for stream -1, else the
// stream's object at /com/tovi/ImageControl/<channel>/<index>. Multi-stream
// products only: on others it logs and builds nothing.
extern "C" void imagecontrol_build_objects(struct dbus_service *service, int32_t stream_id,
                                           const struct dbus_api_config *config);

// The five .Properties methods (GetProperties, SetProperties,
// GetDefaultValues, RestoreToDefaultValues, GetRanges) under a name.
struct dbus_interface *imagecontrol_properties_interface_new(const char *name);

// GetCaptureModeInfo: one dictionary per capture-mode pair of the stream.
// Errors go in the domain given (the calling interface's).
GVariant *dbus_get_capture_mode_info(struct daemon_context *context, int32_t stream_id, const char *domain,
                                     GError **error);

// Getters of the product constants (at least 1), as "i".
GVariant *imagecontrol_get_nbr_channels(const struct dbus_interface_property *property, int32_t stream_id);
GVariant *imagecontrol_get_nbr_of_sources(const struct dbus_interface_property *property, int32_t stream_id);

// Pre-set hooks of WDR and CaptureFrequency: both leave the stream's channel
// an exposure reset for its next configuration hand-over.
int dbus_set_wdr_property(const struct dbus_interface_property *property, int32_t stream_id,
                          GVariant *incoming, struct param_value *value);
int imagecontrol_capture_frequency_hook(const struct dbus_interface_property *property, int32_t stream_id,
                                        GVariant *incoming, struct param_value *value);

// Stores a lazily requested capture mode (CaptureModeLazy) and leaves the
// markers "/etc/vistrad/cml<number>" and "/run/vistrad/cml" for the next
// start. False, with nothing written, when the mode was refused; the error
// then carries the logged text in the domain given.
gboolean imagecontrol_store_lazy_capture_mode(const char *function, int32_t stream_id, int32_t mode,
                                              int number, const char *domain, GError **error);

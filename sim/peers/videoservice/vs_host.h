/*
 * Stand-in for the camera's video service as a plug-in host: a main object
 * with the stream-wide overlay settings, its channels and their legacy
 * overlay settings, all as plain GObject properties that emit notify.
 */
#pragma once

#include <glib-object.h>

G_BEGIN_DECLS

#define VS_TYPE_LEGACY_OVERLAY (vs_legacy_overlay_get_type())
G_DECLARE_FINAL_TYPE(VsLegacyOverlay, vs_legacy_overlay, VS, LEGACY_OVERLAY, GObject)

#define VS_TYPE_CHANNEL (vs_channel_get_type())
G_DECLARE_FINAL_TYPE(VsChannel, vs_channel, VS, CHANNEL, GObject)

#define VS_TYPE_HOST (vs_host_get_type())
G_DECLARE_FINAL_TYPE(VsHost, vs_host, VS, HOST, GObject)

/* Entry point every video-service plug-in exports. */
typedef gboolean (*VsPluginInitFunc)(GObject *host, GError **error);
#define VS_PLUGIN_INIT_SYMBOL "video_service_plugin_init"

VsLegacyOverlay *vs_legacy_overlay_new(void);

/* legacy_overlay may be NULL: a channel the service offers no overlay for. */
VsChannel *vs_channel_new(VsLegacyOverlay *legacy_overlay);

/* A host with n_channels channels, each with default legacy-overlay settings. */
VsHost *vs_host_new(guint n_channels);
/* A host with the given channels (the host takes a reference on each). */
VsHost *vs_host_new_with_channels(VsChannel **channels, guint n_channels);

guint vs_host_get_n_channels(VsHost *host);
/* Borrowed; NULL when the index is out of range or the channel has none. */
VsLegacyOverlay *vs_host_get_legacy_overlay(VsHost *host, guint index);

/*
 * Loads a plug-in the way the video service does: open the module, resolve
 * its init entry and call it with the host. The module stays loaded for the
 * life of the process once init succeeded.
 */
gboolean vs_host_load_plugin(VsHost *host, const char *path, GError **error);

G_END_DECLS

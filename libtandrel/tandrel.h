/*
 * Overlay plug-in of the camera's video service: keeps the overlay daemon's
 * overlays in step with the legacy text, date, time and image overlay
 * settings of every video channel.
 */
#pragma once

#include <glib-object.h>
#include <gmodule.h>

G_BEGIN_DECLS

#define TANDREL_ERROR (tandrel_error_quark())
GQuark tandrel_error_quark(void);

enum TandrelError {
	TANDREL_ERROR_FAILED = 1,       /* a missing setting or a failed set-up */
	TANDREL_ERROR_NO_PARAMETER = 2, /* a property without an overlay key */
};

/*
 * Called by the video service with its main object once it has loaded the
 * plug-in. Needs the overlay daemon on the system bus; false with error set
 * when it cannot be reached.
 */
G_MODULE_EXPORT gboolean video_service_plugin_init(GObject *host, GError **error);

G_END_DECLS

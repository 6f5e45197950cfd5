/*
 * What the overlay daemon is told, worked out from the video service's
 * settings: property names, positions, font sizes and the overlay text.
 */
#pragma once

#include <glib-object.h>

/* Maps video-service property names to overlay property names. */
void buildPropertyMap(void);
void destroyPropertyMap(void);
/* NULL when the property has no overlay name (or the map is gone). */
const char *overlayPropertyName(const char *property);
guint propertyMapSize(void);

/* Typed reads that tolerate a missing or differently typed property. */
gboolean readBoolProperty(GObject *obj, const char *name, gboolean *out);
gboolean readIntProperty(GObject *obj, const char *name, gint *out);
/* Newly allocated; NULL when missing or unset. */
char *readStringProperty(GObject *obj, const char *name);

/* "small", "medium", "large" to "16", "32", "48"; anything else is "32". */
const char *textSizeToFontSize(const char *textSize);

/*
 * "X,Y" in [-1, 1] from the legacy-overlay's pixel position inside its
 * maximum area. NULL with error set when the area is empty.
 */
char *positionString(GObject *legacyOverlay, GError **error);

/* The text line with the date and time formats that the daemon expands. */
char *composeText(GObject *legacyOverlay, GObject *host);

/*
 * Reads a changed property as its overlay property name and a D-Bus value
 * ("b", "t", "s" or "i"). False (and a warning) when it has no overlay name
 * or cannot be converted.
 */
gboolean getOverlayProperty(GObject *obj, const char *property, const char **overlayName, GVariant **value);

/* "true"/"false" for booleans, the string itself for strings, else NULL. */
char *variantToString(GVariant *value);

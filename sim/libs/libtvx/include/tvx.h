/*
 * libtvx stand-in: the part of the maker's video capture library that the
 * image daemon uses. Capture modes and video inputs are handles; their
 * settings and information are key/value maps. Handles and maps are
 * GObjects, released with g_object_unref(); failures come back as GError.
 *
 * An input handle emits "NewFramerate" (gdouble frames per second) when the
 * input's frame rate changes under it.
 *
 * On this machine the library drives the simulated SoC: what is applied to
 * the current video input reaches the board of the simulated video driver,
 * and starting an input starts its video (tvx_sim.h says how).
 */
#ifndef TVX_H
#define TVX_H

#include <glib-object.h>

G_BEGIN_DECLS

#define TVX_ERROR (tvx_error_quark())
GQuark tvx_error_quark(void);

typedef enum {
	TVX_ERROR_FAILED,
	TVX_ERROR_NO_INPUT,
	TVX_ERROR_INVALID_MODE,
} TvxError;

#define TVX_TYPE_MAP (tvx_map_get_type())
G_DECLARE_FINAL_TYPE(TvxMap, tvx_map, TVX, MAP, GObject)
#define TVX_TYPE_MODE (tvx_mode_get_type())
G_DECLARE_FINAL_TYPE(TvxMode, tvx_mode, TVX, MODE, GObject)
#define TVX_TYPE_INPUT (tvx_input_get_type())
G_DECLARE_FINAL_TYPE(TvxInput, tvx_input, TVX, INPUT, GObject)

TvxMap *tvx_map_new(void);
void tvx_map_set_string(TvxMap *map, const char *key, const char *value);
void tvx_map_set_double(TvxMap *map, const char *key, gdouble value);
void tvx_map_set_uint32(TvxMap *map, const char *key, guint32 value);
void tvx_map_set_boolean(TvxMap *map, const char *key, gboolean value);
/* The value, or the default when the key is missing or of another type. */
gboolean tvx_map_get_boolean(TvxMap *map, const char *key, gboolean def);
guint32 tvx_map_get_uint32(TvxMap *map, const char *key, guint32 def);
gdouble tvx_map_get_double(TvxMap *map, const char *key, gdouble def);
/* Prints every entry at debug level ("tvx" log domain). */
void tvx_map_dump(TvxMap *map);

TvxMode *tvx_mode_new(GError **error);
/* Applies the capture mode named by "capture_mode" (a string "WIDTHxHEIGHT"). */
gboolean tvx_mode_apply(TvxMode *mode, TvxMap *map, GError **error);

/* Inputs 0 to 3. */
TvxInput *tvx_input_new(guint index, GError **error);
/* A copy of the input's settings or information. */
TvxMap *tvx_input_get_settings(TvxInput *input, GError **error);
TvxMap *tvx_input_get_info(TvxInput *input, GError **error);
/* Merges the map's entries into the input's settings. */
gboolean tvx_input_set_settings(TvxInput *input, TvxMap *map, GError **error);
gboolean tvx_input_start(TvxInput *input, GError **error);
gboolean tvx_input_stop(TvxInput *input, GError **error);

G_END_DECLS

#endif

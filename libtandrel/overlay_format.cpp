#include "overlay_format.h"

#include "tandrel.h"

#include <gio/gio.h>

#include <cstdint>

static GHashTable *propertyMap;

static const char *const propertyPairs[][2] = {
    {"date-enabled", "DateEnabled"},
    {"date-format", "DateFormat"},
    {"overlay-enabled", "OverlayEnabled"},
    {"overlay-path", "OverlayPath"},
    {"overlay-x", "OverlayX"},
    {"overlay-y", "OverlayY"},
    {"own-date-format", "OwnDateFormat"},
    {"own-time-format", "OwnTimeFormat"},
    {"own-date-format-enabled", "OwnDateFormatEnabled"},
    {"own-time-format-enabled", "OwnTimeFormatEnabled"},
    {"text-enabled", "TextEnabled"},
    {"text", "Text"},
    {"text-background-color", "TextBackgroundColor"},
    {"text-color", "TextColor"},
    {"time-enabled", "TimeEnabled"},
    {"time-format", "TimeFormat"},
    {"text-position", "TextPosition"},
    {"time-resolution", "TimeResolution"},
    {"text-size", "TextSize"},
};

static const char *const dateFormats[][2] = {
    {"YYYY-MM-DD", "%F"},
    {"Www Mmm DD YYYY", "%a %b %e %Y"},
    {"MM/DD/YYYY", "%m/%d/%Y"},
    {"DD/MM/YYYY", "%d/%m/%Y"},
    {"YYYY.MM.DD Www", "%Y.%m.%d %a"},
    {"Www.Mmm DD, YYYY", "%a.%b %d, %Y"},
    {"Www.DD.MM.YYYY", "%a.%d.%m.%Y"},
};

void buildPropertyMap(void)
{
	if (propertyMap)
		return;
	propertyMap = g_hash_table_new(g_str_hash, g_str_equal);
	for (gsize k = 0; k < G_N_ELEMENTS(propertyPairs); k++)
		g_hash_table_insert(propertyMap, (gpointer)propertyPairs[k][0],
		                    (gpointer)propertyPairs[k][1]);
}

void destroyPropertyMap(void)
{
	g_clear_pointer(&propertyMap, g_hash_table_unref);
}

const char *overlayPropertyName(const char *property)
{
	if (!propertyMap || !property)
		return NULL;
	return static_cast<const char *>(g_hash_table_lookup(propertyMap, property));
}

guint propertyMapSize(void)
{
	return propertyMap ? g_hash_table_size(propertyMap) : 0;
}

/* The host is outside our control: a missing property must not end its process. */
static gboolean readTyped(GObject *obj, const char *name, GType type, GValue *out)
{
	GParamSpec *pspec;

	if (!G_IS_OBJECT(obj))
		return FALSE;
	pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(obj), name);
	if (!pspec || !(pspec->flags & G_PARAM_READABLE))
		return FALSE;
	if (!g_value_type_transformable(pspec->value_type, type))
		return FALSE;
	GValue raw = G_VALUE_INIT;
	g_value_init(&raw, pspec->value_type);
	g_object_get_property(obj, name, &raw);
	g_value_init(out, type);
	gboolean ok = g_value_transform(&raw, out);
	g_value_unset(&raw);
	if (!ok)
		g_value_unset(out);
	return ok;
}

gboolean readBoolProperty(GObject *obj, const char *name, gboolean *out)
{
	GValue v = G_VALUE_INIT;

	if (!readTyped(obj, name, G_TYPE_BOOLEAN, &v))
		return FALSE;
	*out = g_value_get_boolean(&v);
	g_value_unset(&v);
	return TRUE;
}

gboolean readIntProperty(GObject *obj, const char *name, gint *out)
{
	GValue v = G_VALUE_INIT;

	if (!readTyped(obj, name, G_TYPE_INT, &v))
		return FALSE;
	*out = g_value_get_int(&v);
	g_value_unset(&v);
	return TRUE;
}

char *readStringProperty(GObject *obj, const char *name)
{
	GValue v = G_VALUE_INIT;
	char *s;

	if (!readTyped(obj, name, G_TYPE_STRING, &v))
		return NULL;
	s = g_value_dup_string(&v);
	g_value_unset(&v);
	return s;
}

static gboolean isOn(GObject *obj, const char *name)
{
	gboolean on = FALSE;

	return readBoolProperty(obj, name, &on) && on;
}

const char *textSizeToFontSize(const char *textSize)
{
	if (g_strcmp0(textSize, "small") == 0)
		return "16";
	if (g_strcmp0(textSize, "medium") == 0)
		return "32";
	if (g_strcmp0(textSize, "large") == 0)
		return "48";
	g_log(NULL, G_LOG_LEVEL_WARNING, "Invalid text size from video-service, defaulting to medium/32");
	return "32";
}

char *positionString(GObject *legacyOverlay, GError **error)
{
	gint x = 0, y = 0, w = 0, h = 0;
	char bx[G_ASCII_DTOSTR_BUF_SIZE];
	char by[G_ASCII_DTOSTR_BUF_SIZE];

	if (!readIntProperty(legacyOverlay, "overlay-x", &x) ||
	    !readIntProperty(legacyOverlay, "overlay-y", &y) ||
	    !readIntProperty(legacyOverlay, "max-width", &w) ||
	    !readIntProperty(legacyOverlay, "max-height", &h)) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED, "Failed to get overlay position");
		return NULL;
	}
	if (w <= 0 || h <= 0) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED,
		            "Refusing overlay position %d,%d in an area of %dx%d", x, y, w, h);
		return NULL;
	}
	/* 64-bit doubling: large coordinates must not wrap to the other side. */
	float fx = (float)(2 * (int64_t)x) / (float)w - 1.0f;
	float fy = (float)(2 * (int64_t)y) / (float)h - 1.0f;

	/* The daemon parses these: the host's locale must not change the decimal point. */
	g_ascii_formatd(bx, sizeof(bx), "%.5f", fx);
	g_ascii_formatd(by, sizeof(by), "%.5f", fy);
	return g_strdup_printf("%s,%s", bx, by);
}

static const char *translateDateFormat(const char *dateFormat)
{
	for (gsize k = 0; dateFormat && k < G_N_ELEMENTS(dateFormats); k++) {
		if (g_str_equal(dateFormat, dateFormats[k][0]))
			return dateFormats[k][1];
	}
	g_log(NULL, G_LOG_LEVEL_WARNING, "Invalid date format '%s'", dateFormat ? dateFormat : "");
	return NULL;
}

static char *datePart(GObject *host)
{
	if (isOn(host, "own-date-format-enabled"))
		return readStringProperty(host, "own-date-format");
	char *format = readStringProperty(host, "date-format");
	char *part = g_strdup(translateDateFormat(format));
	g_free(format);
	return part;
}

static char *timePart(GObject *host)
{
	gint resolution = 0;

	if (isOn(host, "own-time-format-enabled"))
		return readStringProperty(host, "own-time-format");
	char *format = readStringProperty(host, "time-format");
	gboolean twelve = g_strcmp0(format, "12") == 0;
	g_free(format);
	readIntProperty(host, "time-resolution", &resolution);
	if (twelve)
		return g_strdup(resolution == 1 ? "%r" : "%I:%M:%S.%f %p");
	return g_strdup(resolution == 1 ? "%T" : "%T.%f");
}

char *composeText(GObject *legacyOverlay, GObject *host)
{
	gboolean textOn = isOn(legacyOverlay, "text-enabled");
	gboolean dateOn = isOn(legacyOverlay, "date-enabled");
	gboolean timeOn = isOn(legacyOverlay, "time-enabled");
	char *text = textOn ? readStringProperty(legacyOverlay, "text") : NULL;
	char *date = dateOn ? datePart(host) : NULL;
	char *time = timeOn ? timePart(host) : NULL;
	GString *out = g_string_new(text ? text : "");

	/* A date that cannot be shown counts as off: no stray blank for it. */
	dateOn = dateOn && date;
	timeOn = timeOn && time;
	if (textOn && dateOn)
		g_string_append_c(out, ' ');
	if (dateOn)
		g_string_append(out, date);
	if (timeOn && (textOn || dateOn))
		g_string_append_c(out, ' ');
	if (timeOn)
		g_string_append(out, time);
	g_free(text);
	g_free(date);
	g_free(time);
	return g_string_free(out, FALSE);
}

/*
 * The D-Bus type a property travels as, and the GValue type that
 * g_dbus_gvalue_to_gvariant needs to read it as that type.
 */
static const char *variantTypeFor(GType type, GType *valueType)
{
	if (type == G_TYPE_BOOLEAN) {
		*valueType = G_TYPE_BOOLEAN;
		return "b";
	}
	if (type == G_TYPE_UINT64) {
		*valueType = G_TYPE_UINT64;
		return "t";
	}
	if (type > G_TYPE_UINT64) {
		*valueType = G_TYPE_STRING;
		return "s";
	}
	*valueType = G_TYPE_INT;
	return "i";
}

gboolean getOverlayProperty(GObject *obj, const char *property, const char **overlayName, GVariant **value)
{
	const char *name = overlayPropertyName(property);
	GParamSpec *pspec;
	GType valueType;
	GValue v = G_VALUE_INIT;

	if (!name) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel:failed to get dbus name");
		return FALSE;
	}
	pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(obj), property);
	const char *vtype = pspec ? variantTypeFor(pspec->value_type, &valueType) : NULL;
	/* Smaller integers, enumerations and the like are read as the type
	 * their variant needs; reading them raw would give nonsense. */
	if (!vtype || !readTyped(obj, property, valueType, &v)) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel:failed to convert gvalue to gvariant");
		return FALSE;
	}
	GVariant *var = g_dbus_gvalue_to_gvariant(&v, G_VARIANT_TYPE(vtype));
	g_value_unset(&v);
	if (!var) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel:failed to convert gvalue to gvariant");
		return FALSE;
	}
	*overlayName = name;
	*value = var;
	return TRUE;
}

char *variantToString(GVariant *value)
{
	if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
		return g_strdup(g_variant_get_boolean(value) ? "true" : "false");
	if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
		return g_variant_dup_string(value, NULL);
	g_log(NULL, G_LOG_LEVEL_WARNING, "variant is of unknown type");
	return NULL;
}

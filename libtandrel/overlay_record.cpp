#include "overlay_record.h"

#include "overlay_format.h"
#include "tandrel.h"

#define OVERLAY_NAME "com.tovi.Overlay2"
#define OVERLAY_PATH "/com/tovi/Overlay2"
#define FACTORY_IFACE "com.tovi.Overlay2.Factory"
#define OVERLAY_IFACE "com.tovi.Overlay2.Overlay"
#define INTERNAL_NAME "com.tovi.OverlayInternal1"
#define INTERNAL_PATH "/com/tovi/OverlayInternal1"

GMutex overlaysMutex;
GList *textOverlays;
GList *imageOverlays;

static const char *kindName(const struct OverlayRecord *record)
{
	return record->kind == OVERLAY_IMAGE ? "image" : "text";
}

struct OverlayRecord *overlayRecordNew(enum OverlayKind kind, guint channel, GObject *legacyOverlay,
                                       GObject *host)
{
	struct OverlayRecord *record = g_new0(struct OverlayRecord, 1);

	record->refCount = 1;
	record->kind = kind;
	record->camera = g_strdup_printf("%u", channel);
	record->legacyOverlay = G_OBJECT(g_object_ref(legacyOverlay));
	record->host = G_OBJECT(g_object_ref(host));
	return record;
}

struct OverlayRecord *overlayRecordRef(struct OverlayRecord *record)
{
	g_atomic_int_inc(&record->refCount);
	return record;
}

void overlayRecordUnref(struct OverlayRecord *record)
{
	if (!record || !g_atomic_int_dec_and_test(&record->refCount))
		return;
	g_free(record->camera);
	g_clear_pointer(&record->createReply, g_variant_unref);
	g_free(record->objectPath);
	g_object_unref(record->legacyOverlay);
	g_object_unref(record->host);
	g_free(record);
}

void overlayRecordRelease(gpointer record, GClosure *)
{
	overlayRecordUnref(static_cast<struct OverlayRecord *>(record));
}

static void forgetOverlay(gpointer data)
{
	struct OverlayRecord *record = static_cast<struct OverlayRecord *>(data);

	g_clear_pointer(&record->createReply, g_variant_unref);
	g_clear_pointer(&record->objectPath, g_free);
}

void forgetAllOverlays(void)
{
	g_mutex_lock(&overlaysMutex);
	g_list_free_full(g_steal_pointer(&textOverlays), forgetOverlay);
	g_list_free_full(g_steal_pointer(&imageOverlays), forgetOverlay);
	g_mutex_unlock(&overlaysMutex);
}

static GDBusProxy *callProxy(const char *name, const char *path, const char *iface, GDBusProxyFlags flags,
                             GError **error)
{
	GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, error);
	GDBusProxy *proxy;

	if (!bus)
		return NULL;
	proxy = g_dbus_proxy_new_sync(bus, flags, NULL, name, path, iface, NULL, error);
	g_object_unref(bus);
	return proxy;
}

static const GDBusProxyFlags bareProxy =
    (GDBusProxyFlags)(G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES | G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS);

/* Calls and consumes params even when the proxy cannot be made. */
static GVariant *callOverlayDaemon(const char *name, const char *path, const char *iface,
                                   GDBusProxyFlags flags, const char *member, GVariant *params,
                                   GError **error)
{
	GDBusProxy *proxy = callProxy(name, path, iface, flags, error);
	GVariant *reply = NULL;

	g_variant_ref_sink(params);
	if (proxy)
		reply =
		    g_dbus_proxy_call_sync(proxy, member, params, G_DBUS_CALL_FLAGS_NONE, -1, NULL, error);
	g_variant_unref(params);
	g_clear_object(&proxy);
	return reply;
}

static gboolean addSetting(GVariantBuilder *b, const char *key, GObject *obj, const char *property,
                           GError **error)
{
	char *value = readStringProperty(obj, property);

	if (!value) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED, "Failed to get %s", property);
		return FALSE;
	}
	g_variant_builder_add(b, "{ss}", key, value);
	g_free(value);
	return TRUE;
}

static gboolean buildImageArgs(struct OverlayRecord *record, GVariantBuilder *b, GError **error)
{
	g_variant_builder_add(b, "{ss}", "Camera", record->camera);
	if (!addSetting(b, "OverlayPath", record->host, "overlay-path", error))
		return FALSE;
	char *position = positionString(record->legacyOverlay, error);
	if (!position)
		return FALSE;
	g_variant_builder_add(b, "{ss}", "Position", position);
	g_free(position);
	g_variant_builder_add(b, "{ss}", "ZIndex", "1");
	return TRUE;
}

static gboolean buildTextArgs(struct OverlayRecord *record, GVariantBuilder *b, GError **error)
{
	GObject *lo = record->legacyOverlay;
	char *size = readStringProperty(lo, "text-size");
	char *background = readStringProperty(lo, "text-background-color");
	char *position = readStringProperty(lo, "text-position");
	char *color = readStringProperty(lo, "text-color");
	const char *missing = !size         ? "text-size"
	                      : !background ? "text-background-color"
	                      : !position   ? "text-position"
	                      : !color      ? "text-color"
	                                    : NULL;

	if (missing) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED, "Failed to get %s", missing);
	} else {
		char *text = composeText(lo, record->host);

		g_variant_builder_add(b, "{ss}", "Camera", record->camera);
		g_variant_builder_add(b, "{ss}", "Text", text);
		g_variant_builder_add(b, "{ss}", "FontSize", textSizeToFontSize(size));
		g_variant_builder_add(b, "{ss}", "TextColor", color);
		g_variant_builder_add(b, "{ss}", "TextBGColor", background);
		g_variant_builder_add(b, "{ss}", "TextOLColor", "transparent");
		g_variant_builder_add(b, "{ss}", "Position", position);
		g_variant_builder_add(b, "{ss}", "ZIndex", "2");
		g_free(text);
	}
	g_free(size);
	g_free(background);
	g_free(position);
	g_free(color);
	return missing == NULL;
}

/* Check and create are one step under overlaysMutex: handlers on two threads
 * must not both find no overlay and both create one. */
static gboolean createOverlayLocked(struct OverlayRecord *record, GError **error)
{
	GVariantBuilder b;
	gboolean image = record->kind == OVERLAY_IMAGE;

	/* A second create would leave an overlay that nothing can remove. */
	if (record->createReply) {
		g_log(NULL, G_LOG_LEVEL_DEBUG, "tandrel: %s overlay of camera %s exists already",
		      kindName(record), record->camera);
		return TRUE;
	}
	g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
	if (!(image ? buildImageArgs(record, &b, error) : buildTextArgs(record, &b, error))) {
		g_variant_builder_clear(&b);
		return FALSE;
	}
	GVariant *reply = callOverlayDaemon(INTERNAL_NAME, INTERNAL_PATH, INTERNAL_NAME, bareProxy,
	                                    image ? "CreateLegacyImageOverlay" : "CreateLegacyTextOverlay",
	                                    g_variant_new("(a{ss})", &b), error);
	if (!reply)
		return FALSE;
	if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(o)"))) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED,
		            "Unexpected reply %s to create %s overlay", g_variant_get_type_string(reply),
		            kindName(record));
		g_variant_unref(reply);
		return FALSE;
	}

	record->createReply = reply;
	g_variant_get(reply, "(o)", &record->objectPath);
	if (image)
		imageOverlays = g_list_append(imageOverlays, record);
	else
		textOverlays = g_list_append(textOverlays, record);
	return TRUE;
}

static gboolean removeOverlayLocked(struct OverlayRecord *record, GError **error)
{
	if (!record->createReply) {
		g_log(NULL, G_LOG_LEVEL_DEBUG, "tandrel: no %s overlay of camera %s to remove",
		      kindName(record), record->camera);
		return TRUE;
	}
	GVariant *reply = callOverlayDaemon(OVERLAY_NAME, OVERLAY_PATH, FACTORY_IFACE, bareProxy,
	                                    "RemoveOverlay", record->createReply, error);
	if (!reply)
		return FALSE;
	g_variant_unref(reply);

	if (record->kind == OVERLAY_IMAGE)
		imageOverlays = g_list_remove(imageOverlays, record);
	else
		textOverlays = g_list_remove(textOverlays, record);
	forgetOverlay(record);
	return TRUE;
}

gboolean createOverlay(struct OverlayRecord *record, GError **error)
{
	g_mutex_lock(&overlaysMutex);
	gboolean ok = createOverlayLocked(record, error);
	g_mutex_unlock(&overlaysMutex);
	return ok;
}

gboolean removeOverlay(struct OverlayRecord *record, GError **error)
{
	g_mutex_lock(&overlaysMutex);
	gboolean ok = removeOverlayLocked(record, error);
	g_mutex_unlock(&overlaysMutex);
	return ok;
}

gboolean overlayCreated(struct OverlayRecord *record)
{
	g_mutex_lock(&overlaysMutex);
	gboolean created = record->createReply != NULL;
	g_mutex_unlock(&overlaysMutex);
	return created;
}

struct ParamRule {
	const char *overlayProperty;
	const char *key;
	gboolean composed; /* the record's whole text, not the value */
};

static const struct ParamRule paramRules[] = {
    {"DateEnabled", "Text", TRUE},         {"Text", "Text", TRUE},
    {"TextEnabled", "Text", TRUE},         {"TimeEnabled", "Text", TRUE},
    {"TextSize", "FontSize", FALSE},       {"TextBackgroundColor", "TextBGColor", FALSE},
    {"TextPosition", "Position", FALSE},   {"OverlayX", "Position", FALSE},
    {"OverlayY", "Position", FALSE},       {"TextColor", "TextColor", FALSE},
    {"OverlayPath", "OverlayPath", FALSE},
};

GVariant *buildParams(struct OverlayRecord *record, const char *overlayProperty, const char *value,
                      GError **error)
{
	for (gsize k = 0; k < G_N_ELEMENTS(paramRules); k++) {
		const struct ParamRule *rule = &paramRules[k];

		if (g_strcmp0(rule->overlayProperty, overlayProperty) != 0)
			continue;
		GVariantBuilder b;
		g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
		if (rule->composed) {
			char *text = composeText(record->legacyOverlay, record->host);

			g_variant_builder_add(&b, "{ss}", rule->key, text);
			g_free(text);
		} else {
			g_variant_builder_add(&b, "{ss}", rule->key, value ? value : "");
		}
		return g_variant_new("(a{ss})", &b);
	}
	g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_NO_PARAMETER,
	            "Failed to create_parameter for property %s", overlayProperty);
	return NULL;
}

static gboolean sendChange(struct OverlayRecord *record, GVariant *params, GError **error)
{
	GVariant *reply;

	if (!record->objectPath) {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED,
		            "No %s overlay of camera %s to change", kindName(record), record->camera);
		g_variant_unref(g_variant_ref_sink(params));
		return FALSE;
	}
	reply = callOverlayDaemon(OVERLAY_NAME, record->objectPath, OVERLAY_IFACE, G_DBUS_PROXY_FLAGS_NONE,
	                          "SetProperties", params, error);
	if (!reply)
		return FALSE;
	g_variant_unref(reply);
	return TRUE;
}

gboolean setTextProperty(struct OverlayRecord *record, const char *overlayProperty, const char *value,
                         GError **error)
{
	if (g_strcmp0(overlayProperty, "TextSize") == 0)
		value = textSizeToFontSize(value);
	GVariant *params = buildParams(record, overlayProperty, value, error);
	if (!params)
		return FALSE;
	return sendChange(record, params, error);
}

gboolean setImageProperty(struct OverlayRecord *record, const char *overlayProperty, GVariant *value,
                          GError **error)
{
	char *text = NULL;

	if (g_strcmp0(overlayProperty, "OverlayPath") == 0) {
		text = variantToString(value);
		if (!text) {
			g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED,
			            "Failed to convert variant to string");
			return FALSE;
		}
	} else if (g_strcmp0(overlayProperty, "OverlayX") == 0 ||
	           g_strcmp0(overlayProperty, "OverlayY") == 0) {
		/* Both coordinates travel together, whichever one moved. */
		text = positionString(record->legacyOverlay, error);
		if (!text)
			return FALSE;
	} else {
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_NO_PARAMETER,
		            "Failed to create_parameter for property %s", overlayProperty);
		return FALSE;
	}
	GVariant *params = buildParams(record, overlayProperty, text, error);
	g_free(text);
	return params && sendChange(record, params, error);
}

#include "tandrel.h"

#include "overlay_format.h"
#include "overlay_record.h"

#include <gio/gio.h>

#define OVERLAY_NAME "com.tovi.Overlay2"
#define OVERLAY_PATH "/com/tovi/Overlay2"

G_DEFINE_QUARK(tandrel_error, tandrel_error)

static const char *const imageSignals[] = {
    "notify::overlay-enabled",
    "notify::overlay-x",
    "notify::overlay-y",
};

static const char *const textSignals[] = {
    "notify::date-enabled", "notify::text",         "notify::text-background-color",
    "notify::text-color",   "notify::text-enabled", "notify::text-position",
    "notify::text-size",    "notify::time-enabled",
};

static const char *const hostTextSignals[] = {
    "notify::date-format",     "notify::own-date-format",         "notify::own-date-format-enabled",
    "notify::own-time-format", "notify::own-time-format-enabled", "notify::time-format",
    "notify::time-resolution",
};

/* The three switches of a text overlay: property and overlay property. */
static const char *const textSwitches[][2] = {
    {"text-enabled", "TextEnabled"},
    {"time-enabled", "TimeEnabled"},
    {"date-enabled", "DateEnabled"},
};

struct ChannelHandlers {
	GObject *legacyOverlay; /* what the ids belong to; NULL when not connected */
	gulong text[G_N_ELEMENTS(textSignals)];
	gulong image[G_N_ELEMENTS(imageSignals)];
};

static struct ChannelHandlers *channelHandlers;
static guint channelCount;
static gulong hostTextHandlers[G_N_ELEMENTS(hostTextSignals)];
static gulong hostOverlayPathHandler;

static void logNotification(GParamSpec *pspec)
{
	g_log(NULL, G_LOG_LEVEL_DEBUG, "tandrel: Received notification for '%s' property.\n", pspec->name);
}

static void reportFailure(GError *error)
{
	if (!error)
		return;
	g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel: %s", error->message);
	g_error_free(error);
}

static gboolean isOn(GObject *obj, const char *name)
{
	gboolean on = FALSE;

	return readBoolProperty(obj, name, &on) && on;
}

static gboolean anyTextSwitchOn(GObject *legacyOverlay)
{
	for (gsize k = 0; k < G_N_ELEMENTS(textSwitches); k++) {
		if (isOn(legacyOverlay, textSwitches[k][0]))
			return TRUE;
	}
	return FALSE;
}

static gboolean otherTextSwitchOn(GObject *legacyOverlay, const char *overlayProperty)
{
	for (gsize k = 0; k < G_N_ELEMENTS(textSwitches); k++) {
		if (!g_str_equal(textSwitches[k][1], overlayProperty) &&
		    isOn(legacyOverlay, textSwitches[k][0]))
			return TRUE;
	}
	return FALSE;
}

static gboolean isTextSwitch(const char *overlayProperty)
{
	for (gsize k = 0; k < G_N_ELEMENTS(textSwitches); k++) {
		if (g_str_equal(textSwitches[k][1], overlayProperty))
			return TRUE;
	}
	return FALSE;
}

static void onImageOverlayChanged(GObject *obj, GParamSpec *pspec, gpointer data)
{
	struct OverlayRecord *record = static_cast<struct OverlayRecord *>(data);
	const char *name = NULL;
	GVariant *value = NULL;
	GError *error = NULL;

	logNotification(pspec);
	if (!getOverlayProperty(obj, pspec->name, &name, &value))
		return;
	if (g_str_equal(name, "OverlayEnabled")) {
		if (g_variant_get_boolean(value))
			createOverlay(record, &error);
		else
			removeOverlay(record, &error);
	} else if (isOn(record->legacyOverlay, "overlay-enabled")) {
		setImageProperty(record, name, value, &error);
	} else {
		g_log(NULL, G_LOG_LEVEL_DEBUG, "tandrel: overlay is not enabled, can not update overlay");
	}
	reportFailure(error);
	g_variant_unref(value);
}

static void onTextOverlayChanged(GObject *obj, GParamSpec *pspec, gpointer data)
{
	struct OverlayRecord *record = static_cast<struct OverlayRecord *>(data);
	const char *name = NULL;
	GVariant *value = NULL;
	GError *error = NULL;

	logNotification(pspec);
	if (!getOverlayProperty(obj, pspec->name, &name, &value))
		return;
	if (isTextSwitch(name) && !otherTextSwitchOn(record->legacyOverlay, name)) {
		/* The overlay exists exactly while one of the switches is on. */
		if (g_variant_get_boolean(value))
			createOverlay(record, &error);
		else
			removeOverlay(record, &error);
	} else if (!anyTextSwitchOn(record->legacyOverlay)) {
		g_log(NULL, G_LOG_LEVEL_DEBUG, "tandrel: overlay is not enabled, can not update overlay");
	} else if (!overlayCreated(record)) {
		/* After a failed create, the next change is the next chance. */
		createOverlay(record, &error);
	} else {
		char *text = variantToString(value);

		if (text)
			setTextProperty(record, name, text, &error);
		else
			g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel:Failed to convert variant to string");
		g_free(text);
	}
	reportFailure(error);
	g_variant_unref(value);
}

static void onHostTextFormatChanged(GObject *host, GParamSpec *pspec, gpointer)
{
	const char *name = NULL;
	GVariant *value = NULL;

	logNotification(pspec);
	if (!getOverlayProperty(host, pspec->name, &name, &value))
		return;
	g_variant_unref(value);

	g_mutex_lock(&overlaysMutex);
	for (GList *l = textOverlays; l; l = l->next) {
		struct OverlayRecord *record = static_cast<struct OverlayRecord *>(l->data);
		GError *error = NULL;

		if (!anyTextSwitchOn(record->legacyOverlay)) {
			g_log(NULL, G_LOG_LEVEL_DEBUG,
			      "tandrel: overlay is not enabled, can not set property: Text");
			continue;
		}
		setTextProperty(record, "Text", NULL, &error);
		reportFailure(error);
	}
	g_mutex_unlock(&overlaysMutex);
}

static void onHostOverlayPathChanged(GObject *host, GParamSpec *pspec, gpointer)
{
	const char *name = NULL;
	GVariant *value = NULL;

	logNotification(pspec);
	if (!getOverlayProperty(host, pspec->name, &name, &value))
		return;

	g_mutex_lock(&overlaysMutex);
	for (GList *l = imageOverlays; l; l = l->next) {
		struct OverlayRecord *record = static_cast<struct OverlayRecord *>(l->data);
		GError *error = NULL;

		if (!isOn(record->legacyOverlay, "overlay-enabled")) {
			g_log(NULL, G_LOG_LEVEL_DEBUG,
			      "tandrel: overlay is not enabled, can not set property: %s", name);
			continue;
		}
		setImageProperty(record, name, value, &error);
		reportFailure(error);
	}
	g_mutex_unlock(&overlaysMutex);
	g_variant_unref(value);
}

/* Each connection holds a reference on the record; disconnecting drops it. */
static gboolean connectRecord(GObject *legacyOverlay, const char *const *signals, gulong *ids, gsize count,
                              GCallback handler, struct OverlayRecord *record)
{
	gboolean ok = TRUE;

	for (gsize k = 0; k < count; k++) {
		ids[k] = g_signal_connect_data(legacyOverlay, signals[k], handler, overlayRecordRef(record),
		                               overlayRecordRelease, (GConnectFlags)0);
		if (ids[k] == 0) {
			overlayRecordUnref(record);
			g_log(NULL, G_LOG_LEVEL_WARNING, "failed to connect to '%s' from streamer plugin.",
			      signals[k]);
			ok = FALSE;
		}
	}
	return ok;
}

static GObject *channelLegacyOverlay(gpointer channel)
{
	GObject *legacyOverlay = NULL;

	if (!G_IS_OBJECT(channel))
		return NULL;
	GParamSpec *pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(channel), "legacy-overlay");
	if (!pspec || !g_type_is_a(pspec->value_type, G_TYPE_OBJECT))
		return NULL;
	g_object_get(channel, "legacy-overlay", &legacyOverlay, NULL);
	return legacyOverlay;
}

static void createInitialOverlay(struct OverlayRecord *record, guint channel)
{
	GError *error = NULL;

	if (createOverlay(record, &error))
		return;
	g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel: failed to recreate %s for channel %u",
	      record->kind == OVERLAY_IMAGE ? "image-overlay" : "text-overlay", channel);
	g_log(NULL, G_LOG_LEVEL_WARNING, "failed to connect to legacy-overlay notify");
	reportFailure(error);
}

static void connectChannel(GObject *host, guint channel, gpointer channelObject,
                           struct ChannelHandlers *handlers)
{
	GObject *legacyOverlay = channelLegacyOverlay(channelObject);
	gboolean connected;

	if (!legacyOverlay) {
		g_log(NULL, G_LOG_LEVEL_WARNING,
		      "Could not connect to notifications from legacy-overlay on channel %u.", channel);
		return;
	}
	handlers->legacyOverlay = legacyOverlay;

	struct OverlayRecord *image = overlayRecordNew(OVERLAY_IMAGE, channel, legacyOverlay, host);
	g_log(NULL, G_LOG_LEVEL_DEBUG,
	      "tandrel: connect to notifications from legacy-image-overlay  parameters on channel %u",
	      channel);
	connected = connectRecord(legacyOverlay, imageSignals, handlers->image, G_N_ELEMENTS(imageSignals),
	                          G_CALLBACK(onImageOverlayChanged), image);

	struct OverlayRecord *text = overlayRecordNew(OVERLAY_TEXT, channel, legacyOverlay, host);
	g_log(NULL, G_LOG_LEVEL_DEBUG,
	      "tandrel: connect to notifications from legacy-overlay text parameters on channel %u", channel);
	connected = connectRecord(legacyOverlay, textSignals, handlers->text, G_N_ELEMENTS(textSignals),
	                          G_CALLBACK(onTextOverlayChanged), text) &&
	            connected;
	if (!connected)
		g_log(NULL, G_LOG_LEVEL_WARNING,
		      "Could not connect to notifications from legacy-overlay on channel %u.", channel);

	/* A channel whose overlay cannot be made must not cost the others theirs. */
	if (isOn(legacyOverlay, "overlay-enabled"))
		createInitialOverlay(image, channel);
	if (anyTextSwitchOn(legacyOverlay))
		createInitialOverlay(text, channel);
	overlayRecordUnref(image);
	overlayRecordUnref(text);
}

static gulong connectHost(GObject *host, const char *signal, GCallback handler)
{
	gulong id = g_signal_connect(host, signal, handler, NULL);

	if (id == 0)
		g_log(NULL, G_LOG_LEVEL_WARNING, "failed to connect to '%s'", signal);
	return id;
}

static GPtrArray *hostChannels(GObject *host)
{
	GPtrArray *channels = NULL;
	GParamSpec *pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(host), "channels");

	if (!pspec || pspec->value_type != G_TYPE_PTR_ARRAY) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "tandrel: video-service offers no channels");
		return NULL;
	}
	g_object_get(host, "channels", &channels, NULL);
	return channels;
}

static void onOverlayServiceAppeared(GDBusConnection *, const char *, const char *, gpointer data)
{
	GObject *host = G_OBJECT(data);
	GPtrArray *channels;

	buildPropertyMap();
	channels = hostChannels(host);
	channelCount = channels ? channels->len : 0;
	channelHandlers = g_new0(struct ChannelHandlers, channelCount);
	for (guint k = 0; k < channelCount; k++)
		connectChannel(host, k + 1, g_ptr_array_index(channels, k), &channelHandlers[k]);
	if (channels)
		g_ptr_array_unref(channels);

	for (gsize k = 0; k < G_N_ELEMENTS(hostTextSignals); k++)
		hostTextHandlers[k] =
		    connectHost(host, hostTextSignals[k], G_CALLBACK(onHostTextFormatChanged));
	hostOverlayPathHandler =
	    connectHost(host, "notify::overlay-path", G_CALLBACK(onHostOverlayPathChanged));
}

static void disconnectAll(GObject *obj, gulong *ids, gsize count)
{
	for (gsize k = 0; k < count; k++) {
		if (ids[k])
			g_signal_handler_disconnect(obj, ids[k]);
		ids[k] = 0;
	}
}

static void onOverlayServiceVanished(GDBusConnection *, const char *, gpointer data)
{
	GObject *host = G_OBJECT(data);

	destroyPropertyMap();
	/* The daemon took its overlays with it: nothing to remove, only to forget. */
	forgetAllOverlays();
	for (guint k = 0; k < channelCount; k++) {
		struct ChannelHandlers *h = &channelHandlers[k];

		if (!h->legacyOverlay)
			continue;
		disconnectAll(h->legacyOverlay, h->text, G_N_ELEMENTS(h->text));
		disconnectAll(h->legacyOverlay, h->image, G_N_ELEMENTS(h->image));
		g_clear_object(&h->legacyOverlay);
	}
	g_clear_pointer(&channelHandlers, g_free);
	channelCount = 0;
	disconnectAll(host, hostTextHandlers, G_N_ELEMENTS(hostTextHandlers));
	disconnectAll(host, &hostOverlayPathHandler, 1);
}

gboolean video_service_plugin_init(GObject *host, GError **error)
{
	GDBusConnection *bus;
	GVariant *reply;
	guint watch;

	g_return_val_if_fail(G_IS_OBJECT(host), FALSE);
	buildPropertyMap();
	bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, error);
	if (!bus) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "failed to create dbus connection");
		return FALSE;
	}
	/* Starts the overlay daemon when it is not running yet. */
	reply = g_dbus_connection_call_sync(bus, OVERLAY_NAME, OVERLAY_PATH, "org.freedesktop.DBus.Peer",
	                                    "Ping", NULL, NULL, G_DBUS_CALL_FLAGS_NONE, -1, NULL, error);
	if (!reply) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "failed to dbus-activate glimmord with Ping");
		g_object_unref(bus);
		return FALSE;
	}
	g_variant_unref(reply);

	watch = g_bus_watch_name_on_connection(bus, OVERLAY_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
	                                       onOverlayServiceAppeared, onOverlayServiceVanished,
	                                       g_object_ref(host), g_object_unref);
	g_object_unref(bus);
	if (watch == 0) {
		g_log(NULL, G_LOG_LEVEL_WARNING, "Could not setup DBus watch on glimmord service");
		g_set_error(error, TANDREL_ERROR, TANDREL_ERROR_FAILED,
		            "Could not setup DBus watch on glimmord service");
		return FALSE;
	}
	return TRUE;
}

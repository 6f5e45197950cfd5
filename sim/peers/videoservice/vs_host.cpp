#include "vs_host.h"

#include <gmodule.h>

/*
 * Both setting objects are tables of plain values: one GValue per property,
 * described once, so that a setting is added in one line.
 */
struct vs_prop_def {
	const char *name;
	GType type;
	gboolean b;
	gint i;
	const char *s;
};

static const struct vs_prop_def legacy_props[] = {
    {"overlay-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"overlay-x", G_TYPE_INT, FALSE, 0, NULL},
    {"overlay-y", G_TYPE_INT, FALSE, 0, NULL},
    {"max-width", G_TYPE_INT, FALSE, 1920, NULL},
    {"max-height", G_TYPE_INT, FALSE, 1080, NULL},
    {"text-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"time-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"date-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"text", G_TYPE_STRING, FALSE, 0, ""},
    {"text-size", G_TYPE_STRING, FALSE, 0, "medium"},
    {"text-color", G_TYPE_STRING, FALSE, 0, "white"},
    {"text-background-color", G_TYPE_STRING, FALSE, 0, "black"},
    {"text-position", G_TYPE_STRING, FALSE, 0, "top"},
};
#define N_LEGACY_PROPS G_N_ELEMENTS(legacy_props)

/* Index 0 of the host's values is unused: property id 1 is "channels". */
static const struct vs_prop_def host_props[] = {
    {"channels", G_TYPE_PTR_ARRAY, FALSE, 0, NULL},
    {"overlay-path", G_TYPE_STRING, FALSE, 0, "/usr/share/overlays/logo.bmp"},
    {"date-format", G_TYPE_STRING, FALSE, 0, "YYYY-MM-DD"},
    {"own-date-format", G_TYPE_STRING, FALSE, 0, ""},
    {"own-date-format-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"own-time-format", G_TYPE_STRING, FALSE, 0, ""},
    {"own-time-format-enabled", G_TYPE_BOOLEAN, FALSE, 0, NULL},
    {"time-format", G_TYPE_STRING, FALSE, 0, "24"},
    {"time-resolution", G_TYPE_INT, FALSE, 1, NULL},
};
#define N_HOST_PROPS G_N_ELEMENTS(host_props)

static GParamSpec *prop_spec(const struct vs_prop_def *def)
{
	const GParamFlags flags = (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);

	switch (def->type) {
	case G_TYPE_BOOLEAN:
		return g_param_spec_boolean(def->name, NULL, NULL, def->b, flags);
	case G_TYPE_INT:
		return g_param_spec_int(def->name, NULL, NULL, G_MININT, G_MAXINT, def->i, flags);
	case G_TYPE_STRING:
		return g_param_spec_string(def->name, NULL, NULL, def->s, flags);
	default:
		return NULL;
	}
}

static void prop_values_init(GValue *values, const struct vs_prop_def *defs, guint n)
{
	for (guint k = 0; k < n; k++) {
		g_value_init(&values[k], defs[k].type);
		if (defs[k].type == G_TYPE_BOOLEAN)
			g_value_set_boolean(&values[k], defs[k].b);
		else if (defs[k].type == G_TYPE_INT)
			g_value_set_int(&values[k], defs[k].i);
		else if (defs[k].type == G_TYPE_STRING)
			g_value_set_string(&values[k], defs[k].s);
	}
}

static void prop_values_clear(GValue *values, guint n)
{
	for (guint k = 0; k < n; k++)
		g_value_unset(&values[k]);
}

/* ---- legacy overlay ---- */

struct _VsLegacyOverlay {
	GObject parent;
	GValue values[N_LEGACY_PROPS];
};

G_DEFINE_TYPE(VsLegacyOverlay, vs_legacy_overlay, G_TYPE_OBJECT)

static void vs_legacy_overlay_set_property(GObject *obj, guint id, const GValue *value, GParamSpec *pspec)
{
	VsLegacyOverlay *self = VS_LEGACY_OVERLAY(obj);

	if (id == 0 || id > N_LEGACY_PROPS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_value_copy(value, &self->values[id - 1]);
}

static void vs_legacy_overlay_get_property(GObject *obj, guint id, GValue *value, GParamSpec *pspec)
{
	VsLegacyOverlay *self = VS_LEGACY_OVERLAY(obj);

	if (id == 0 || id > N_LEGACY_PROPS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_value_copy(&self->values[id - 1], value);
}

static void vs_legacy_overlay_finalize(GObject *obj)
{
	prop_values_clear(VS_LEGACY_OVERLAY(obj)->values, N_LEGACY_PROPS);
	G_OBJECT_CLASS(vs_legacy_overlay_parent_class)->finalize(obj);
}

static void vs_legacy_overlay_class_init(VsLegacyOverlayClass *klass)
{
	GObjectClass *oc = G_OBJECT_CLASS(klass);

	oc->set_property = vs_legacy_overlay_set_property;
	oc->get_property = vs_legacy_overlay_get_property;
	oc->finalize = vs_legacy_overlay_finalize;
	for (guint k = 0; k < N_LEGACY_PROPS; k++)
		g_object_class_install_property(oc, k + 1, prop_spec(&legacy_props[k]));
}

static void vs_legacy_overlay_init(VsLegacyOverlay *self)
{
	prop_values_init(self->values, legacy_props, N_LEGACY_PROPS);
}

VsLegacyOverlay *vs_legacy_overlay_new(void)
{
	return VS_LEGACY_OVERLAY(g_object_new(VS_TYPE_LEGACY_OVERLAY, NULL));
}

/* ---- channel ---- */

struct _VsChannel {
	GObject parent;
	VsLegacyOverlay *legacy_overlay;
};

G_DEFINE_TYPE(VsChannel, vs_channel, G_TYPE_OBJECT)

enum { CHANNEL_PROP_LEGACY_OVERLAY = 1 };

static void vs_channel_set_property(GObject *obj, guint id, const GValue *value, GParamSpec *pspec)
{
	VsChannel *self = VS_CHANNEL(obj);

	if (id != CHANNEL_PROP_LEGACY_OVERLAY) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_clear_object(&self->legacy_overlay);
	self->legacy_overlay = VS_LEGACY_OVERLAY(g_value_dup_object(value));
}

static void vs_channel_get_property(GObject *obj, guint id, GValue *value, GParamSpec *pspec)
{
	VsChannel *self = VS_CHANNEL(obj);

	if (id != CHANNEL_PROP_LEGACY_OVERLAY) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_value_set_object(value, self->legacy_overlay);
}

static void vs_channel_dispose(GObject *obj)
{
	g_clear_object(&VS_CHANNEL(obj)->legacy_overlay);
	G_OBJECT_CLASS(vs_channel_parent_class)->dispose(obj);
}

static void vs_channel_class_init(VsChannelClass *klass)
{
	GObjectClass *oc = G_OBJECT_CLASS(klass);

	oc->set_property = vs_channel_set_property;
	oc->get_property = vs_channel_get_property;
	oc->dispose = vs_channel_dispose;
	g_object_class_install_property(
	    oc, CHANNEL_PROP_LEGACY_OVERLAY,
	    g_param_spec_object(
	        "legacy-overlay", NULL, NULL, VS_TYPE_LEGACY_OVERLAY,
	        (GParamFlags)(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS)));
}

static void vs_channel_init(VsChannel *self)
{
	self->legacy_overlay = NULL;
}

VsChannel *vs_channel_new(VsLegacyOverlay *legacy_overlay)
{
	return VS_CHANNEL(g_object_new(VS_TYPE_CHANNEL, "legacy-overlay", legacy_overlay, NULL));
}

/* ---- host ---- */

struct _VsHost {
	GObject parent;
	GPtrArray *channels;
	GValue values[N_HOST_PROPS];
	GModule *plugin;
};

G_DEFINE_TYPE(VsHost, vs_host, G_TYPE_OBJECT)

enum { HOST_PROP_CHANNELS = 1 };

static void vs_host_set_property(GObject *obj, guint id, const GValue *value, GParamSpec *pspec)
{
	VsHost *self = VS_HOST(obj);

	if (id <= HOST_PROP_CHANNELS || id > N_HOST_PROPS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_value_copy(value, &self->values[id - 1]);
}

static void vs_host_get_property(GObject *obj, guint id, GValue *value, GParamSpec *pspec)
{
	VsHost *self = VS_HOST(obj);

	if (id == HOST_PROP_CHANNELS) {
		g_value_set_boxed(value, self->channels);
		return;
	}
	if (id == 0 || id > N_HOST_PROPS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(obj, id, pspec);
		return;
	}
	g_value_copy(&self->values[id - 1], value);
}

static void vs_host_finalize(GObject *obj)
{
	VsHost *self = VS_HOST(obj);

	g_ptr_array_unref(self->channels);
	prop_values_clear(&self->values[1], N_HOST_PROPS - 1);
	G_OBJECT_CLASS(vs_host_parent_class)->finalize(obj);
}

static void vs_host_class_init(VsHostClass *klass)
{
	GObjectClass *oc = G_OBJECT_CLASS(klass);

	oc->set_property = vs_host_set_property;
	oc->get_property = vs_host_get_property;
	oc->finalize = vs_host_finalize;
	g_object_class_install_property(
	    oc, HOST_PROP_CHANNELS,
	    g_param_spec_boxed("channels", NULL, NULL, G_TYPE_PTR_ARRAY,
	                       (GParamFlags)(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
	for (guint k = 1; k < N_HOST_PROPS; k++)
		g_object_class_install_property(oc, k + 1, prop_spec(&host_props[k]));
}

static void vs_host_init(VsHost *self)
{
	self->channels = g_ptr_array_new_with_free_func(g_object_unref);
	prop_values_init(&self->values[1], &host_props[1], N_HOST_PROPS - 1);
	self->plugin = NULL;
}

VsHost *vs_host_new_with_channels(VsChannel **channels, guint n_channels)
{
	VsHost *host = VS_HOST(g_object_new(VS_TYPE_HOST, NULL));

	for (guint k = 0; k < n_channels; k++)
		g_ptr_array_add(host->channels, g_object_ref(channels[k]));
	return host;
}

VsHost *vs_host_new(guint n_channels)
{
	VsHost *host = VS_HOST(g_object_new(VS_TYPE_HOST, NULL));

	for (guint k = 0; k < n_channels; k++) {
		VsLegacyOverlay *lo = vs_legacy_overlay_new();

		g_ptr_array_add(host->channels, vs_channel_new(lo));
		g_object_unref(lo);
	}
	return host;
}

guint vs_host_get_n_channels(VsHost *host)
{
	return host->channels->len;
}

VsLegacyOverlay *vs_host_get_legacy_overlay(VsHost *host, guint index)
{
	if (index >= host->channels->len)
		return NULL;
	return VS_CHANNEL(g_ptr_array_index(host->channels, index))->legacy_overlay;
}

gboolean vs_host_load_plugin(VsHost *host, const char *path, GError **error)
{
	GModule *module = g_module_open(path, (GModuleFlags)(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
	gpointer sym = NULL;

	if (!module) {
		g_set_error(error, G_MODULE_ERROR, G_MODULE_ERROR_FAILED, "cannot load plug-in %s: %s", path,
		            g_module_error());
		return FALSE;
	}
	if (!g_module_symbol(module, VS_PLUGIN_INIT_SYMBOL, &sym) || !sym) {
		g_set_error(error, G_MODULE_ERROR, G_MODULE_ERROR_FAILED, "plug-in %s has no %s", path,
		            VS_PLUGIN_INIT_SYMBOL);
		g_module_close(module);
		return FALSE;
	}
	if (!((VsPluginInitFunc)sym)(G_OBJECT(host), error)) {
		g_module_close(module);
		return FALSE;
	}
	/* Its handlers stay connected to our objects: it must never go away. */
	g_module_make_resident(module);
	host->plugin = module;
	return TRUE;
}

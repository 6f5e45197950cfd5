/*
 * Stand-in overlay daemon on the system bus (the test's private bus).
 *
 * It owns com.tovi.Overlay2 and com.tovi.OverlayInternal1, creates, changes
 * and removes overlays as asked, and remembers every call it answered. Tests
 * steer it through the control name "sim.Overlayd": read and clear the call
 * log, list the live overlays, make the next call of a member fail, and
 * release and take back the overlay names (a release forgets every overlay,
 * as a restart of the real daemon would).
 *
 * Prints "READY" on standard output once every name is owned.
 */
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>

#define OVERLAY_NAME "com.tovi.Overlay2"
#define INTERNAL_NAME "com.tovi.OverlayInternal1"
#define CONTROL_NAME "sim.Overlayd"
#define FACTORY_PATH "/com/tovi/Overlay2"
#define INTERNAL_PATH "/com/tovi/OverlayInternal1"
#define CONTROL_PATH "/sim/Overlayd"
#define OVERLAY_PATH_FMT "/com/tovi/Overlay2/Overlay/%u"
#define ERROR_FAILED "com.tovi.Overlay2.Error.Failed"
#define ERROR_NO_OVERLAY "com.tovi.Overlay2.Error.NoSuchOverlay"
#define ERROR_INVALID "org.freedesktop.DBus.Error.InvalidArgs"

static const char introspection_xml[] = "<node>"
                                        " <interface name='com.tovi.OverlayInternal1'>"
                                        "  <method name='CreateLegacyImageOverlay'>"
                                        "   <arg direction='in' type='a{ss}' name='properties'/>"
                                        "   <arg direction='out' type='o' name='overlay'/>"
                                        "  </method>"
                                        "  <method name='CreateLegacyTextOverlay'>"
                                        "   <arg direction='in' type='a{ss}' name='properties'/>"
                                        "   <arg direction='out' type='o' name='overlay'/>"
                                        "  </method>"
                                        " </interface>"
                                        " <interface name='com.tovi.Overlay2.Factory'>"
                                        "  <method name='RemoveOverlay'>"
                                        "   <arg direction='in' type='o' name='overlay'/>"
                                        "  </method>"
                                        " </interface>"
                                        " <interface name='com.tovi.Overlay2.Overlay'>"
                                        "  <method name='SetProperties'>"
                                        "   <arg direction='in' type='a{ss}' name='properties'/>"
                                        "  </method>"
                                        " </interface>"
                                        " <interface name='sim.Overlayd.Control'>"
                                        "  <method name='GetCalls'>"
                                        "   <arg direction='out' type='a(soa{ss}s)' name='calls'/>"
                                        "  </method>"
                                        "  <method name='ClearCalls'/>"
                                        "  <method name='ListOverlays'>"
                                        "   <arg direction='out' type='a(osa{ss})' name='overlays'/>"
                                        "  </method>"
                                        "  <method name='FailNext'>"
                                        "   <arg direction='in' type='s' name='member'/>"
                                        "  </method>"
                                        "  <method name='ReleaseNames'/>"
                                        "  <method name='TakeNames'/>"
                                        " </interface>"
                                        "</node>";

struct overlay {
	guint id;
	char *path;
	const char *kind;
	GHashTable *props; /* key -> value */
	guint registration;
};

struct overlayd {
	GDBusConnection *bus;
	GDBusNodeInfo *node;
	GHashTable *overlays; /* path -> struct overlay */
	GPtrArray *calls;     /* GVariant (soa{ss}s) */
	GPtrArray *fail_next; /* member names */
	guint next_id;
	gboolean names_owned;
};

static void overlay_free(gpointer data)
{
	struct overlay *ov = static_cast<struct overlay *>(data);

	g_free(ov->path);
	g_hash_table_unref(ov->props);
	g_free(ov);
}

static void log_call(struct overlayd *d, const char *member, const char *path, GVariant *args,
                     const char *outcome)
{
	GVariant *rec = g_variant_new("(so@a{ss}s)", member, path, args, outcome);

	g_ptr_array_add(d->calls, g_variant_ref_sink(rec));
}

static gboolean take_injected_failure(struct overlayd *d, const char *member)
{
	for (guint k = 0; k < d->fail_next->len; k++) {
		if (g_str_equal(g_ptr_array_index(d->fail_next, k), member)) {
			g_ptr_array_remove_index(d->fail_next, k);
			return TRUE;
		}
	}
	return FALSE;
}

static void merge_props(GHashTable *props, GVariant *dict)
{
	GVariantIter it;
	const char *key;
	const char *value;

	g_variant_iter_init(&it, dict);
	while (g_variant_iter_next(&it, "{&s&s}", &key, &value))
		g_hash_table_replace(props, g_strdup(key), g_strdup(value));
}

static GVariant *props_to_variant(GHashTable *props)
{
	GVariantBuilder b;
	GHashTableIter it;
	gpointer key;
	gpointer value;

	g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
	g_hash_table_iter_init(&it, props);
	while (g_hash_table_iter_next(&it, &key, &value))
		g_variant_builder_add(&b, "{ss}", key, value);
	return g_variant_builder_end(&b);
}

static void method_call(GDBusConnection *, const char *, const char *path, const char *iface,
                        const char *member, GVariant *params, GDBusMethodInvocation *inv, gpointer user_data);

static const GDBusInterfaceVTable vtable = {method_call, NULL, NULL, {NULL}};

static void create_overlay(struct overlayd *d, const char *member, const char *path, GVariant *params,
                           GDBusMethodInvocation *inv)
{
	GVariant *args = g_variant_get_child_value(params, 0);
	const char *camera = NULL;
	GError *error = NULL;

	if (take_injected_failure(d, member)) {
		log_call(d, member, path, args, ERROR_FAILED);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_FAILED, "injected failure");
		g_variant_unref(args);
		return;
	}
	if (!g_variant_lookup(args, "Camera", "&s", &camera)) {
		log_call(d, member, path, args, ERROR_INVALID);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_INVALID, "no Camera given");
		g_variant_unref(args);
		return;
	}

	struct overlay *ov = g_new0(struct overlay, 1);
	ov->id = d->next_id++;
	ov->path = g_strdup_printf(OVERLAY_PATH_FMT, ov->id);
	ov->kind = g_str_equal(member, "CreateLegacyImageOverlay") ? "image" : "text";
	ov->props = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
	merge_props(ov->props, args);
	ov->registration = g_dbus_connection_register_object(
	    d->bus, ov->path, g_dbus_node_info_lookup_interface(d->node, "com.tovi.Overlay2.Overlay"),
	    &vtable, d, NULL, &error);
	if (!ov->registration) {
		log_call(d, member, path, args, ERROR_FAILED);
		g_dbus_method_invocation_return_gerror(inv, error);
		g_error_free(error);
		overlay_free(ov);
		g_variant_unref(args);
		return;
	}
	g_hash_table_insert(d->overlays, ov->path, ov);
	log_call(d, member, path, args, ov->path);
	g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", ov->path));
	g_variant_unref(args);
}

static void remove_overlay(struct overlayd *d, const char *path, GVariant *params, GDBusMethodInvocation *inv)
{
	const char *target = NULL;
	GVariant *args;

	g_variant_get(params, "(&o)", &target);
	args = g_variant_new_parsed("{'overlay': %s}", target);
	g_variant_ref_sink(args);
	if (take_injected_failure(d, "RemoveOverlay")) {
		log_call(d, "RemoveOverlay", path, args, ERROR_FAILED);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_FAILED, "injected failure");
	} else if (!g_hash_table_contains(d->overlays, target)) {
		log_call(d, "RemoveOverlay", path, args, ERROR_NO_OVERLAY);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_NO_OVERLAY, target);
	} else {
		struct overlay *ov = static_cast<struct overlay *>(g_hash_table_lookup(d->overlays, target));

		g_dbus_connection_unregister_object(d->bus, ov->registration);
		log_call(d, "RemoveOverlay", path, args, "");
		g_hash_table_remove(d->overlays, target);
		g_dbus_method_invocation_return_value(inv, NULL);
	}
	g_variant_unref(args);
}

static void set_properties(struct overlayd *d, const char *path, GVariant *params, GDBusMethodInvocation *inv)
{
	GVariant *args = g_variant_get_child_value(params, 0);
	struct overlay *ov = static_cast<struct overlay *>(g_hash_table_lookup(d->overlays, path));

	if (take_injected_failure(d, "SetProperties")) {
		log_call(d, "SetProperties", path, args, ERROR_FAILED);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_FAILED, "injected failure");
	} else if (!ov) {
		log_call(d, "SetProperties", path, args, ERROR_NO_OVERLAY);
		g_dbus_method_invocation_return_dbus_error(inv, ERROR_NO_OVERLAY, path);
	} else {
		merge_props(ov->props, args);
		log_call(d, "SetProperties", path, args, "");
		g_dbus_method_invocation_return_value(inv, NULL);
	}
	g_variant_unref(args);
}

static gboolean request_name(struct overlayd *d, const char *name, GError **error)
{
	GVariant *r = g_dbus_connection_call_sync(
	    d->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
	    g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, NULL, error);
	guint32 result = 0;

	if (!r)
		return FALSE;
	g_variant_get(r, "(u)", &result);
	g_variant_unref(r);
	if (result != 1 && result != 4) {
		g_set_error(error, G_IO_ERROR, G_IO_ERROR_EXISTS, "name %s not granted (%u)", name, result);
		return FALSE;
	}
	return TRUE;
}

static void release_name(struct overlayd *d, const char *name)
{
	GVariant *r = g_dbus_connection_call_sync(
	    d->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
	    g_variant_new("(s)", name), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, NULL, NULL);

	if (r)
		g_variant_unref(r);
}

static gboolean take_names(struct overlayd *d, GError **error)
{
	if (!request_name(d, OVERLAY_NAME, error) || !request_name(d, INTERNAL_NAME, error))
		return FALSE;
	d->names_owned = TRUE;
	return TRUE;
}

static void forget_overlays(struct overlayd *d)
{
	GHashTableIter it;
	gpointer value;

	g_hash_table_iter_init(&it, d->overlays);
	while (g_hash_table_iter_next(&it, NULL, &value))
		g_dbus_connection_unregister_object(d->bus,
		                                    static_cast<struct overlay *>(value)->registration);
	g_hash_table_remove_all(d->overlays);
}

static void control_call(struct overlayd *d, const char *member, GVariant *params, GDBusMethodInvocation *inv)
{
	GError *error = NULL;

	if (g_str_equal(member, "GetCalls")) {
		GVariantBuilder b;

		g_variant_builder_init(&b, G_VARIANT_TYPE("a(soa{ss}s)"));
		for (guint k = 0; k < d->calls->len; k++)
			g_variant_builder_add_value(&b,
			                            static_cast<GVariant *>(g_ptr_array_index(d->calls, k)));
		g_dbus_method_invocation_return_value(inv, g_variant_new("(a(soa{ss}s))", &b));
	} else if (g_str_equal(member, "ClearCalls")) {
		g_ptr_array_set_size(d->calls, 0);
		g_dbus_method_invocation_return_value(inv, NULL);
	} else if (g_str_equal(member, "ListOverlays")) {
		GVariantBuilder b;
		GHashTableIter it;
		gpointer value;

		g_variant_builder_init(&b, G_VARIANT_TYPE("a(osa{ss})"));
		g_hash_table_iter_init(&it, d->overlays);
		while (g_hash_table_iter_next(&it, NULL, &value)) {
			struct overlay *ov = static_cast<struct overlay *>(value);

			g_variant_builder_add(&b, "(os@a{ss})", ov->path, ov->kind,
			                      props_to_variant(ov->props));
		}
		g_dbus_method_invocation_return_value(inv, g_variant_new("(a(osa{ss}))", &b));
	} else if (g_str_equal(member, "FailNext")) {
		const char *name = NULL;

		g_variant_get(params, "(&s)", &name);
		g_ptr_array_add(d->fail_next, g_strdup(name));
		g_dbus_method_invocation_return_value(inv, NULL);
	} else if (g_str_equal(member, "ReleaseNames")) {
		forget_overlays(d);
		release_name(d, OVERLAY_NAME);
		release_name(d, INTERNAL_NAME);
		d->names_owned = FALSE;
		g_dbus_method_invocation_return_value(inv, NULL);
	} else if (g_str_equal(member, "TakeNames")) {
		if (!take_names(d, &error)) {
			g_dbus_method_invocation_return_gerror(inv, error);
			g_error_free(error);
			return;
		}
		g_dbus_method_invocation_return_value(inv, NULL);
	}
}

static void method_call(GDBusConnection *, const char *, const char *path, const char *iface,
                        const char *member, GVariant *params, GDBusMethodInvocation *inv, gpointer user_data)
{
	struct overlayd *d = static_cast<struct overlayd *>(user_data);

	if (g_str_equal(iface, "sim.Overlayd.Control"))
		control_call(d, member, params, inv);
	else if (g_str_equal(iface, "com.tovi.OverlayInternal1"))
		create_overlay(d, member, path, params, inv);
	else if (g_str_equal(member, "RemoveOverlay"))
		remove_overlay(d, path, params, inv);
	else
		set_properties(d, path, params, inv);
}

static gboolean register_fixed(struct overlayd *d, const char *path, const char *iface, GError **error)
{
	return g_dbus_connection_register_object(d->bus, path,
	                                         g_dbus_node_info_lookup_interface(d->node, iface), &vtable,
	                                         d, NULL, error) != 0;
}

static gboolean quit_loop(gpointer data)
{
	g_main_loop_quit(static_cast<GMainLoop *>(data));
	return G_SOURCE_REMOVE;
}

int main()
{
	struct overlayd d = {};
	GError *error = NULL;

	d.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, &error);
	if (!d.bus) {
		g_printerr("overlayd-sim: %s\n", error->message);
		return 1;
	}
	d.node = g_dbus_node_info_new_for_xml(introspection_xml, NULL);
	d.overlays = g_hash_table_new_full(g_str_hash, g_str_equal, NULL, overlay_free);
	d.calls = g_ptr_array_new_with_free_func((GDestroyNotify)g_variant_unref);
	d.fail_next = g_ptr_array_new_with_free_func(g_free);
	d.next_id = 1;

	if (!register_fixed(&d, INTERNAL_PATH, "com.tovi.OverlayInternal1", &error) ||
	    !register_fixed(&d, FACTORY_PATH, "com.tovi.Overlay2.Factory", &error) ||
	    !register_fixed(&d, CONTROL_PATH, "sim.Overlayd.Control", &error) ||
	    !request_name(&d, CONTROL_NAME, &error) || !take_names(&d, &error)) {
		g_printerr("overlayd-sim: %s\n", error->message);
		return 1;
	}
	printf("READY\n");
	fflush(stdout);

	GMainLoop *loop = g_main_loop_new(NULL, FALSE);
	g_unix_signal_add(SIGTERM, quit_loop, loop);
	g_unix_signal_add(SIGINT, quit_loop, loop);
	g_main_loop_run(loop);
	g_main_loop_unref(loop);
	forget_overlays(&d);
	g_hash_table_unref(d.overlays);
	g_ptr_array_unref(d.calls);
	g_ptr_array_unref(d.fail_next);
	g_dbus_node_info_unref(d.node);
	g_object_unref(d.bus);
	return 0;
}

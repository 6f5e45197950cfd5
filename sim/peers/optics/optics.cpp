/*
 * Stand-in optics service on the system bus (the test's private bus).
 *
 * Owns com.tovi.Optics2. Each channel with a lens has an object
 * /com/tovi/Optics<channel> with the read-only property OpticsType (s).
 *
 * Tests steer it through sim.Optics.Control at /sim/Optics: SetType
 * (i channel, s type), SetIntegerType (i channel, i value: the property
 * becomes an integer), Remove (i channel), GetReads (as: one entry
 * "<channel>" per property read, in order).
 *
 * Options: --type CHANNEL=TYPE (repeatable). Prints "READY" on standard
 * output once the name is owned; SIGTERM stops it.
 */
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define SERVICE_NAME "com.tovi.Optics2"
#define OBJECT_PATH "/com/tovi/Optics"
#define CONTROL_PATH "/sim/Optics"
#define CHANNELS 8

static const char introspection_xml[] = "<node>"
                                        " <interface name='com.tovi.Optics2'>"
                                        "  <property name='OpticsType' type='s' access='read'/>"
                                        " </interface>"
                                        " <interface name='com.tovi.Optics2'>"
                                        "  <property name='OpticsType' type='i' access='read'/>"
                                        " </interface>"
                                        " <interface name='sim.Optics.Control'>"
                                        "  <method name='SetType'>"
                                        "   <arg direction='in' type='i' name='channel'/>"
                                        "   <arg direction='in' type='s' name='type'/>"
                                        "  </method>"
                                        "  <method name='SetIntegerType'>"
                                        "   <arg direction='in' type='i' name='channel'/>"
                                        "   <arg direction='in' type='i' name='value'/>"
                                        "  </method>"
                                        "  <method name='Remove'>"
                                        "   <arg direction='in' type='i' name='channel'/>"
                                        "  </method>"
                                        "  <method name='GetReads'>"
                                        "   <arg direction='out' type='as' name='reads'/>"
                                        "  </method>"
                                        " </interface>"
                                        "</node>";

struct channel {
	guint registration; /* 0: no object */
	char *type;         /* null: the integer below */
	gint32 value;
};

struct service {
	GDBusConnection *bus;
	GDBusNodeInfo *node;
	GMainLoop *loop;
	struct channel channels[CHANNELS];
	GPtrArray *reads;
};

struct lens {
	struct service *service;
	int index;
};

static GVariant *get_property(GDBusConnection *, const char *, const char *, const char *, const char *,
                              GError **, gpointer data)
{
	struct lens *l = (struct lens *)data;
	struct channel *c = &l->service->channels[l->index];
	g_ptr_array_add(l->service->reads, g_strdup_printf("%d", l->index));
	return c->type ? g_variant_new_string(c->type) : g_variant_new_int32(c->value);
}

static const GDBusInterfaceVTable lens_vtable = {NULL, get_property, NULL, {0}};

static void remove_lens(struct service *s, int index)
{
	struct channel *c = &s->channels[index];
	if (c->registration)
		g_dbus_connection_unregister_object(s->bus, c->registration);
	c->registration = 0;
	g_free(c->type);
	c->type = NULL;
}

static void set_lens(struct service *s, int index, const char *type, gint32 value)
{
	remove_lens(s, index);
	struct channel *c = &s->channels[index];
	c->type = g_strdup(type);
	c->value = value;
	struct lens *l = g_new0(struct lens, 1);
	l->service = s;
	l->index = index;
	char *path = g_strdup_printf("%s%d", OBJECT_PATH, index);
	c->registration = g_dbus_connection_register_object(s->bus, path, s->node->interfaces[type ? 0 : 1],
	                                                    &lens_vtable, l, g_free, NULL);
	g_free(path);
}

static void method_call(GDBusConnection *, const char *, const char *, const char *, const char *method,
                        GVariant *params, GDBusMethodInvocation *inv, gpointer data)
{
	struct service *s = (struct service *)data;
	if (strcmp(method, "GetReads") == 0) {
		g_ptr_array_add(s->reads, NULL);
		g_dbus_method_invocation_return_value(inv, g_variant_new("(^as)", (char **)s->reads->pdata));
		g_ptr_array_remove_index(s->reads, s->reads->len - 1);
		return;
	}
	gint32 index = -1;
	g_variant_get_child(params, 0, "i", &index);
	if (index < 0 || index >= CHANNELS) {
		g_dbus_method_invocation_return_dbus_error(inv, "sim.Optics.Error.Channel",
		                                           "no such channel");
		return;
	}
	if (strcmp(method, "SetType") == 0) {
		const char *type;
		g_variant_get(params, "(i&s)", &index, &type);
		set_lens(s, index, type, 0);
	} else if (strcmp(method, "SetIntegerType") == 0) {
		gint32 value;
		g_variant_get(params, "(ii)", &index, &value);
		set_lens(s, index, NULL, value);
	} else {
		remove_lens(s, index);
	}
	g_dbus_method_invocation_return_value(inv, NULL);
}

static const GDBusInterfaceVTable control_vtable = {method_call, NULL, NULL, {0}};

static void name_acquired(GDBusConnection *, const char *, gpointer)
{
	printf("READY\n");
	fflush(stdout);
}

static void name_lost(GDBusConnection *, const char *name, gpointer data)
{
	fprintf(stderr, "optics2-sim: lost or could not own %s\n", name);
	g_main_loop_quit(((struct service *)data)->loop);
}

static gboolean on_term(gpointer data)
{
	g_main_loop_quit(((struct service *)data)->loop);
	return G_SOURCE_REMOVE;
}

int main(int argc, char **argv)
{
	struct service s = {};
	GError *error = NULL;
	s.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, &error);
	if (!s.bus) {
		fprintf(stderr, "optics2-sim: %s\n", error->message);
		return 1;
	}
	s.node = g_dbus_node_info_new_for_xml(introspection_xml, NULL);
	s.reads = g_ptr_array_new_with_free_func(g_free);
	s.loop = g_main_loop_new(NULL, FALSE);
	for (int i = 1; i + 1 < argc; i += 2) {
		const char *eq = strchr(argv[i + 1], '=');
		int index = atoi(argv[i + 1]);
		if (strcmp(argv[i], "--type") == 0 && eq && index >= 0 && index < CHANNELS)
			set_lens(&s, index, eq + 1, 0);
	}
	g_dbus_connection_register_object(s.bus, CONTROL_PATH, s.node->interfaces[2], &control_vtable, &s,
	                                  NULL, NULL);
	guint owner = g_bus_own_name_on_connection(s.bus, SERVICE_NAME, G_BUS_NAME_OWNER_FLAGS_NONE,
	                                           name_acquired, name_lost, &s, NULL);
	g_unix_signal_add(SIGTERM, on_term, &s);
	g_unix_signal_add(SIGINT, on_term, &s);
	g_main_loop_run(s.loop);
	g_bus_unown_name(owner);
	for (int i = 0; i < CHANNELS; i++)
		remove_lens(&s, i);
	g_dbus_connection_flush_sync(s.bus, NULL, NULL);
	g_main_loop_unref(s.loop);
	g_ptr_array_free(s.reads, TRUE);
	g_dbus_node_info_unref(s.node);
	g_object_unref(s.bus);
	return 0;
}

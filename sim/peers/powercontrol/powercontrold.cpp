/*
 * Stand-in power-control service on the system bus (the test's private bus).
 *
 * Owns com.tovi.PowerControl.Consumer at /com/tovi/PowerControl/Consumer.
 * Consumers announce themselves with Register (s name, b, s bus name,
 * s object path, s interface) and ask for power with RequestPower
 * (s name, s mode, d watts); each request is answered later by calling
 * SetPower (d watts) on the bus name, path and interface that the consumer's
 * Register gave. Every call is recorded in order.
 *
 * Tests steer it through sim.PowerControl.Control at /sim/PowerControl:
 * SetMode (s mode, d watts): "grant" answers with the watts requested,
 * "fixed" with the given watts, "deny" with 0.0, "refuse" replies an error
 * and sends no SetPower, "hold" keeps requests until AnswerPending
 * (d watts, negative: as requested); SetDelay (u ms) before each SetPower;
 * ReleaseName and TakeName give up and take again the service's name;
 * GetCalls gives a(ss): the method and its printed arguments.
 *
 * Prints "READY" on standard output once the name is owned; SIGTERM stops it.
 */
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstring>

#define SERVICE_NAME "com.tovi.PowerControl.Consumer"
#define SERVICE_PATH "/com/tovi/PowerControl/Consumer"
#define CONTROL_PATH "/sim/PowerControl"

static const char introspection_xml[] = "<node>"
                                        " <interface name='com.tovi.PowerControl.Consumer'>"
                                        "  <method name='Register'>"
                                        "   <arg direction='in' type='s' name='name'/>"
                                        "   <arg direction='in' type='b' name='flag'/>"
                                        "   <arg direction='in' type='s' name='bus_name'/>"
                                        "   <arg direction='in' type='s' name='object_path'/>"
                                        "   <arg direction='in' type='s' name='interface'/>"
                                        "  </method>"
                                        "  <method name='RequestPower'>"
                                        "   <arg direction='in' type='s' name='name'/>"
                                        "   <arg direction='in' type='s' name='mode'/>"
                                        "   <arg direction='in' type='d' name='watts'/>"
                                        "  </method>"
                                        " </interface>"
                                        " <interface name='sim.PowerControl.Control'>"
                                        "  <method name='SetMode'>"
                                        "   <arg direction='in' type='s' name='mode'/>"
                                        "   <arg direction='in' type='d' name='watts'/>"
                                        "  </method>"
                                        "  <method name='SetDelay'>"
                                        "   <arg direction='in' type='u' name='ms'/>"
                                        "  </method>"
                                        "  <method name='AnswerPending'>"
                                        "   <arg direction='in' type='d' name='watts'/>"
                                        "  </method>"
                                        "  <method name='ReleaseName'/>"
                                        "  <method name='TakeName'/>"
                                        "  <method name='GetCalls'>"
                                        "   <arg direction='out' type='a(ss)' name='calls'/>"
                                        "  </method>"
                                        " </interface>"
                                        "</node>";

struct consumer {
	char *bus_name;
	char *object_path;
	char *interface;
};

struct answer {
	struct service *s;
	char *name;
	double watts;
};

struct service {
	GDBusConnection *bus;
	GDBusNodeInfo *node;
	GMainLoop *loop;
	GHashTable *consumers; /* name -> struct consumer */
	GPtrArray *calls;      /* "method\targs" */
	GPtrArray *pending;    /* struct answer, held */
	char *mode;
	double fixed;
	guint delay;
	guint owner;
};

static void consumer_free(gpointer data)
{
	struct consumer *c = (struct consumer *)data;
	g_free(c->bus_name);
	g_free(c->object_path);
	g_free(c->interface);
	g_free(c);
}

static void answer_free(struct answer *a)
{
	g_free(a->name);
	g_free(a);
}

static void record(struct service *s, const char *method, GVariant *params)
{
	char *args = g_variant_print(params, FALSE);
	g_ptr_array_add(s->calls, g_strdup_printf("%s\t%s", method, args));
	g_free(args);
}

static void set_power_done(GObject *source, GAsyncResult *result, gpointer)
{
	GError *error = NULL;
	GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
	if (reply)
		g_variant_unref(reply);
	if (error)
		fprintf(stderr, "powercontrol-sim: SetPower failed: %s\n", error->message);
	g_clear_error(&error);
}

static gboolean send_answer(gpointer data)
{
	struct answer *a = (struct answer *)data;
	struct consumer *c = (struct consumer *)g_hash_table_lookup(a->s->consumers, a->name);
	if (c)
		g_dbus_connection_call(a->s->bus, c->bus_name, c->object_path, c->interface, "SetPower",
		                       g_variant_new("(d)", a->watts), NULL, G_DBUS_CALL_FLAGS_NONE, -1, NULL,
		                       set_power_done, NULL);
	answer_free(a);
	return G_SOURCE_REMOVE;
}

static void dispatch_answer(struct answer *a)
{
	if (a->s->delay)
		g_timeout_add(a->s->delay, send_answer, a);
	else
		send_answer(a);
}

static void register_consumer(struct service *s, GVariant *params)
{
	struct consumer *c = g_new0(struct consumer, 1);
	char *name;
	gboolean flag;
	g_variant_get(params, "(sbsss)", &name, &flag, &c->bus_name, &c->object_path, &c->interface);
	g_hash_table_replace(s->consumers, name, c);
}

static void request_power(struct service *s, GVariant *params, GDBusMethodInvocation *inv)
{
	const char *name, *mode;
	double watts;
	g_variant_get(params, "(&s&sd)", &name, &mode, &watts);
	if (strcmp(s->mode, "refuse") == 0) {
		g_dbus_method_invocation_return_dbus_error(inv, "com.tovi.PowerControl.Error.Refused",
		                                           "request refused");
		return;
	}
	if (!g_hash_table_contains(s->consumers, name)) {
		g_dbus_method_invocation_return_dbus_error(inv, "com.tovi.PowerControl.Error.Unknown",
		                                           "consumer not registered");
		return;
	}
	struct answer *a = g_new0(struct answer, 1);
	a->s = s;
	a->name = g_strdup(name);
	a->watts = watts;
	if (strcmp(s->mode, "fixed") == 0)
		a->watts = s->fixed;
	else if (strcmp(s->mode, "deny") == 0)
		a->watts = 0.0;
	g_dbus_method_invocation_return_value(inv, NULL);
	if (strcmp(s->mode, "hold") == 0)
		g_ptr_array_add(s->pending, a);
	else
		dispatch_answer(a);
}

static void answer_pending(struct service *s, double watts)
{
	for (guint i = 0; i < s->pending->len; i++) {
		struct answer *a = (struct answer *)g_ptr_array_index(s->pending, i);
		if (watts >= 0)
			a->watts = watts;
		dispatch_answer(a);
	}
	g_ptr_array_set_size(s->pending, 0);
}

static GVariant *calls(struct service *s)
{
	GVariantBuilder b;
	g_variant_builder_init(&b, G_VARIANT_TYPE("a(ss)"));
	for (guint i = 0; i < s->calls->len; i++) {
		const char *entry = (const char *)g_ptr_array_index(s->calls, i);
		const char *tab = strchr(entry, '\t');
		char *method = g_strndup(entry, (gsize)(tab - entry));
		g_variant_builder_add(&b, "(ss)", method, tab + 1);
		g_free(method);
	}
	return g_variant_new("(a(ss))", &b);
}

static void name_acquired(GDBusConnection *, const char *, gpointer)
{
	printf("READY\n");
	fflush(stdout);
}

static void name_lost(GDBusConnection *, const char *name, gpointer)
{
	fprintf(stderr, "powercontrol-sim: lost or could not own %s\n", name);
}

static void take_name(struct service *s)
{
	if (!s->owner)
		s->owner = g_bus_own_name_on_connection(s->bus, SERVICE_NAME, G_BUS_NAME_OWNER_FLAGS_NONE,
		                                        name_acquired, name_lost, s, NULL);
}

static void release_name(struct service *s)
{
	if (s->owner)
		g_bus_unown_name(s->owner);
	s->owner = 0;
}

static void method_call(GDBusConnection *, const char *, const char *, const char *, const char *method,
                        GVariant *params, GDBusMethodInvocation *inv, gpointer data)
{
	struct service *s = (struct service *)data;
	if (strcmp(method, "Register") == 0) {
		record(s, method, params);
		register_consumer(s, params);
	} else if (strcmp(method, "RequestPower") == 0) {
		record(s, method, params);
		request_power(s, params, inv);
		return;
	} else if (strcmp(method, "SetMode") == 0) {
		g_free(s->mode);
		g_variant_get(params, "(sd)", &s->mode, &s->fixed);
	} else if (strcmp(method, "SetDelay") == 0) {
		g_variant_get(params, "(u)", &s->delay);
	} else if (strcmp(method, "AnswerPending") == 0) {
		double watts;
		g_variant_get(params, "(d)", &watts);
		answer_pending(s, watts);
	} else if (strcmp(method, "ReleaseName") == 0) {
		release_name(s);
	} else if (strcmp(method, "TakeName") == 0) {
		take_name(s);
	} else if (strcmp(method, "GetCalls") == 0) {
		g_dbus_method_invocation_return_value(inv, calls(s));
		return;
	}
	g_dbus_method_invocation_return_value(inv, NULL);
}

static const GDBusInterfaceVTable vtable = {method_call, NULL, NULL, {0}};

static gboolean on_term(gpointer data)
{
	g_main_loop_quit(((struct service *)data)->loop);
	return G_SOURCE_REMOVE;
}

int main(void)
{
	struct service s = {};
	s.mode = g_strdup("grant");
	GError *error = NULL;
	s.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, &error);
	if (!s.bus) {
		fprintf(stderr, "powercontrol-sim: %s\n", error->message);
		return 1;
	}
	g_dbus_connection_set_exit_on_close(s.bus, FALSE);
	s.node = g_dbus_node_info_new_for_xml(introspection_xml, NULL);
	s.consumers = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, consumer_free);
	s.calls = g_ptr_array_new_with_free_func(g_free);
	s.pending = g_ptr_array_new();
	s.loop = g_main_loop_new(NULL, FALSE);
	g_dbus_connection_register_object(s.bus, SERVICE_PATH, s.node->interfaces[0], &vtable, &s, NULL,
	                                  NULL);
	g_dbus_connection_register_object(s.bus, CONTROL_PATH, s.node->interfaces[1], &vtable, &s, NULL,
	                                  NULL);
	take_name(&s);
	g_unix_signal_add(SIGTERM, on_term, &s);
	g_unix_signal_add(SIGINT, on_term, &s);
	g_main_loop_run(s.loop);
	release_name(&s);
	g_dbus_connection_flush_sync(s.bus, NULL, NULL);
	g_main_loop_unref(s.loop);
	for (guint i = 0; i < s.pending->len; i++)
		answer_free((struct answer *)g_ptr_array_index(s.pending, i));
	g_ptr_array_free(s.pending, TRUE);
	g_ptr_array_free(s.calls, TRUE);
	g_hash_table_destroy(s.consumers);
	g_dbus_node_info_unref(s.node);
	g_object_unref(s.bus);
	g_free(s.mode);
	return 0;
}

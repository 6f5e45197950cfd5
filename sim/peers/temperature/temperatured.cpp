/*
 * Stand-in temperature service on the system bus (the test's private bus).
 *
 * Owns com.tovi.TemperatureController. Clients register limits with
 * RegisterForTemperatureSignal (i sensor, d limit, b direction) and get
 * (i limit id, b state): direction true watches for the temperature falling
 * below the limit, false for it rising above; the state says whether that
 * holds now. Each time a limit's condition starts to hold, TemperatureSignal
 * (i limit id, b state) is emitted. GetTemperature (i sensor, s unit) answers
 * (d degrees) from SetTemperature; the modes below apply to it too.
 *
 * Tests steer it through sim.Temperature.Control at /sim/Temperature:
 * SetTemperature (i sensor, d degrees), EmitSignal (i limit id),
 * SetMode (s: "normal", "refuse" to answer registrations with an error,
 * "wrong" to answer them with a malformed reply), RefuseAfter (i n: answer
 * n more registrations, then refuse), GetRegistrations, GetCalls (as: every
 * GetTemperature as "sensor,unit").
 *
 * Options: --first-id N (limit ids count from N; a restarted service uses
 * other ids), --temperature T (every sensor's start temperature).
 * Prints "READY" on standard output once the name is owned; SIGTERM stops it.
 */
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define SERVICE_NAME "com.tovi.TemperatureController"
#define SERVICE_PATH "/com/tovi/TemperatureController"
#define CONTROL_PATH "/sim/Temperature"

static const char introspection_xml[] = "<node>"
                                        " <interface name='com.tovi.TemperatureController'>"
                                        "  <method name='RegisterForTemperatureSignal'>"
                                        "   <arg direction='in' type='i' name='sensor'/>"
                                        "   <arg direction='in' type='d' name='limit'/>"
                                        "   <arg direction='in' type='b' name='direction'/>"
                                        "   <arg direction='out' type='i' name='limit_id'/>"
                                        "   <arg direction='out' type='b' name='state'/>"
                                        "  </method>"
                                        "  <method name='GetTemperature'>"
                                        "   <arg direction='in' type='i' name='sensor'/>"
                                        "   <arg direction='in' type='s' name='unit'/>"
                                        "   <arg direction='out' type='d' name='degrees'/>"
                                        "  </method>"
                                        "  <signal name='TemperatureSignal'>"
                                        "   <arg type='i' name='limit_id'/>"
                                        "   <arg type='b' name='state'/>"
                                        "  </signal>"
                                        " </interface>"
                                        " <interface name='sim.Temperature.Control'>"
                                        "  <method name='SetTemperature'>"
                                        "   <arg direction='in' type='i' name='sensor'/>"
                                        "   <arg direction='in' type='d' name='degrees'/>"
                                        "  </method>"
                                        "  <method name='EmitSignal'>"
                                        "   <arg direction='in' type='i' name='limit_id'/>"
                                        "  </method>"
                                        "  <method name='SetMode'>"
                                        "   <arg direction='in' type='s' name='mode'/>"
                                        "  </method>"
                                        "  <method name='RefuseAfter'>"
                                        "   <arg direction='in' type='i' name='count'/>"
                                        "  </method>"
                                        "  <method name='GetCalls'>"
                                        "   <arg direction='out' type='as' name='calls'/>"
                                        "  </method>"
                                        "  <method name='GetRegistrations'>"
                                        "   <arg direction='out' type='a(iidb)' name='limits'/>"
                                        "  </method>"
                                        " </interface>"
                                        "</node>";

struct limit {
	gint32 id;
	gint32 sensor;
	double value;
	gboolean below;
	gboolean holds;
};

struct service {
	GDBusConnection *bus;
	GDBusNodeInfo *node;
	GMainLoop *loop;
	GArray *limits;           /* struct limit */
	GHashTable *temperatures; /* sensor -> double* */
	double start_temperature;
	gint32 next_id;
	char *mode;
	gint32 refuse_after; /* -1: no limit */
	GPtrArray *calls;    /* GetTemperature arguments as "sensor,unit" */
};

static double temperature_of(struct service *s, gint32 sensor)
{
	double *t = (double *)g_hash_table_lookup(s->temperatures, GINT_TO_POINTER(sensor));
	return t ? *t : s->start_temperature;
}

static gboolean condition(const struct limit *l, double t)
{
	return l->below ? t < l->value : t > l->value;
}

static void emit(struct service *s, gint32 id, gboolean state)
{
	g_dbus_connection_emit_signal(s->bus, NULL, SERVICE_PATH, SERVICE_NAME, "TemperatureSignal",
	                              g_variant_new("(ib)", id, state), NULL);
}

static void reply_malformed(GDBusMethodInvocation *inv)
{
	GDBusMessage *reply = g_dbus_message_new_method_reply(g_dbus_method_invocation_get_message(inv));
	g_dbus_message_set_body(reply, g_variant_new("(i)", 0));
	g_dbus_connection_send_message(g_dbus_method_invocation_get_connection(inv), reply,
	                               G_DBUS_SEND_MESSAGE_FLAGS_NONE, NULL, NULL);
	g_object_unref(reply);
	g_object_unref(inv);
}

static void register_limit(struct service *s, GVariant *params, GDBusMethodInvocation *inv)
{
	if (s->refuse_after == 0 || strcmp(s->mode, "refuse") == 0) {
		g_dbus_method_invocation_return_dbus_error(
		    inv, "com.tovi.TemperatureController.Error.Refused", "registration refused");
		return;
	}
	if (strcmp(s->mode, "wrong") == 0) {
		reply_malformed(inv);
		return;
	}
	if (s->refuse_after > 0)
		s->refuse_after--;
	struct limit l = {};
	g_variant_get(params, "(idb)", &l.sensor, &l.value, &l.below);
	l.id = s->next_id++;
	l.holds = condition(&l, temperature_of(s, l.sensor));
	g_array_append_val(s->limits, l);
	g_dbus_method_invocation_return_value(inv, g_variant_new("(ib)", l.id, l.holds));
}

static void get_temperature(struct service *s, GVariant *params, GDBusMethodInvocation *inv)
{
	gint32 sensor;
	const char *unit;
	g_variant_get(params, "(i&s)", &sensor, &unit);
	g_ptr_array_add(s->calls, g_strdup_printf("%d,%s", sensor, unit));
	if (strcmp(s->mode, "refuse") == 0)
		g_dbus_method_invocation_return_dbus_error(
		    inv, "com.tovi.TemperatureController.Error.Refused", "sensor not readable");
	else if (strcmp(s->mode, "wrong") == 0)
		reply_malformed(inv);
	else
		g_dbus_method_invocation_return_value(inv, g_variant_new("(d)", temperature_of(s, sensor)));
}

static void set_temperature(struct service *s, GVariant *params)
{
	gint32 sensor;
	double t;
	g_variant_get(params, "(id)", &sensor, &t);
	double *stored = g_new(double, 1);
	*stored = t;
	g_hash_table_replace(s->temperatures, GINT_TO_POINTER(sensor), stored);
	for (guint i = 0; i < s->limits->len; i++) {
		struct limit *l = &g_array_index(s->limits, struct limit, i);
		if (l->sensor != sensor)
			continue;
		gboolean holds = condition(l, t);
		if (holds && !l->holds)
			emit(s, l->id, TRUE);
		l->holds = holds;
	}
}

static GVariant *registrations(struct service *s)
{
	GVariantBuilder b;
	g_variant_builder_init(&b, G_VARIANT_TYPE("a(iidb)"));
	for (guint i = 0; i < s->limits->len; i++) {
		struct limit *l = &g_array_index(s->limits, struct limit, i);
		g_variant_builder_add(&b, "(iidb)", l->id, l->sensor, l->value, l->below);
	}
	return g_variant_new("(a(iidb))", &b);
}

static void method_call(GDBusConnection *, const char *, const char *, const char *, const char *method,
                        GVariant *params, GDBusMethodInvocation *inv, gpointer data)
{
	struct service *s = (struct service *)data;
	if (strcmp(method, "RegisterForTemperatureSignal") == 0) {
		register_limit(s, params, inv);
		return;
	}
	if (strcmp(method, "GetTemperature") == 0) {
		get_temperature(s, params, inv);
		return;
	}
	if (strcmp(method, "GetCalls") == 0) {
		g_ptr_array_add(s->calls, NULL);
		g_dbus_method_invocation_return_value(inv, g_variant_new("(^as)", (char **)s->calls->pdata));
		g_ptr_array_remove_index(s->calls, s->calls->len - 1);
		return;
	}
	if (strcmp(method, "SetTemperature") == 0) {
		set_temperature(s, params);
	} else if (strcmp(method, "EmitSignal") == 0) {
		gint32 id;
		g_variant_get(params, "(i)", &id);
		emit(s, id, TRUE);
	} else if (strcmp(method, "SetMode") == 0) {
		g_free(s->mode);
		g_variant_get(params, "(s)", &s->mode);
	} else if (strcmp(method, "RefuseAfter") == 0) {
		g_variant_get(params, "(i)", &s->refuse_after);
	} else if (strcmp(method, "GetRegistrations") == 0) {
		g_dbus_method_invocation_return_value(inv, registrations(s));
		return;
	}
	g_dbus_method_invocation_return_value(inv, NULL);
}

static const GDBusInterfaceVTable vtable = {method_call, NULL, NULL, {0}};

static void name_acquired(GDBusConnection *, const char *, gpointer)
{
	printf("READY\n");
	fflush(stdout);
}

static void name_lost(GDBusConnection *, const char *name, gpointer data)
{
	fprintf(stderr, "temperatured-sim: lost or could not own %s\n", name);
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
	s.next_id = 1;
	s.start_temperature = 25.0;
	s.mode = g_strdup("normal");
	s.refuse_after = -1;
	s.calls = g_ptr_array_new_with_free_func(g_free);
	for (int i = 1; i + 1 < argc; i += 2) {
		if (strcmp(argv[i], "--first-id") == 0)
			s.next_id = atoi(argv[i + 1]);
		else if (strcmp(argv[i], "--temperature") == 0)
			s.start_temperature = g_ascii_strtod(argv[i + 1], NULL);
	}
	GError *error = NULL;
	s.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, &error);
	if (!s.bus) {
		fprintf(stderr, "temperatured-sim: %s\n", error->message);
		return 1;
	}
	s.node = g_dbus_node_info_new_for_xml(introspection_xml, NULL);
	s.limits = g_array_new(FALSE, TRUE, sizeof(struct limit));
	s.temperatures = g_hash_table_new_full(NULL, NULL, NULL, g_free);
	s.loop = g_main_loop_new(NULL, FALSE);
	g_dbus_connection_register_object(s.bus, SERVICE_PATH, s.node->interfaces[0], &vtable, &s, NULL,
	                                  NULL);
	g_dbus_connection_register_object(s.bus, CONTROL_PATH, s.node->interfaces[1], &vtable, &s, NULL,
	                                  NULL);
	guint owner = g_bus_own_name_on_connection(s.bus, SERVICE_NAME, G_BUS_NAME_OWNER_FLAGS_NONE,
	                                           name_acquired, name_lost, &s, NULL);
	g_unix_signal_add(SIGTERM, on_term, &s);
	g_unix_signal_add(SIGINT, on_term, &s);
	g_main_loop_run(s.loop);
	g_bus_unown_name(owner);
	g_dbus_connection_flush_sync(s.bus, NULL, NULL);
	g_main_loop_unref(s.loop);
	g_hash_table_destroy(s.temperatures);
	g_array_free(s.limits, TRUE);
	g_dbus_node_info_unref(s.node);
	g_object_unref(s.bus);
	g_free(s.mode);
	g_ptr_array_free(s.calls, TRUE);
	return 0;
}

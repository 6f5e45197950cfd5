#include "control_temperature.h"

#include "control_private.h"
#include "debug_output.h"
#include "frontends/dbus_api/dbus_proxy.h"

namespace
{

typedef control_temperature_limit limit_t;
typedef control_temperature_limit_set set_t;

// What the signal subscription carries: the proxy frees it with the
// subscription, so it cannot be the engine itself.
struct signal_target {
	control *engine;
};

dbus_proxy *client(control *engine)
{
	return static_cast<dbus_proxy *>(engine->temperature_client);
}

int register_with_service(control *engine, limit_t *limit)
{
	GVariant *reply =
	    dbus_proxy_call_sync(client(engine), "RegisterForTemperatureSignal",
	                         g_variant_new("(idb)", (gint32)limit->sensor_id, (double)limit->limit,
	                                       (gboolean)(limit->direction != 0)));
	if (!reply) {
		debug_output(DEBUG_WARNING, 0, "Temperature: got no reply via DBus\n");
		return -1;
	}
	if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(ib)"))) {
		debug_output(DEBUG_WARNING, 0, "Temperature: got wrong answer\n");
		g_variant_unref(reply);
		return -1;
	}
	gint32 id = 0;
	gboolean state = FALSE;
	g_variant_get(reply, "(ib)", &id, &state);
	g_variant_unref(reply);
	limit->limit_id = id;
	limit->state = state ? 1 : 0;
	return 0;
}

// The service forgot every limit when it went away: register them again so
// that their signals keep coming, under the new ids.
void service_appeared(dbus_proxy *, void *data)
{
	auto *engine = static_cast<control *>(data);
	for (GList *l = engine->temperature_limits; l; l = l->next)
		if (l->data)
			register_with_service(engine, static_cast<limit_t *>(l->data));
}

void ensure_client(control *engine)
{
	if (engine->temperature_client)
		return;
	dbus_proxy *proxy = dbus_proxy_new(TEMPERATURE_SERVICE, TEMPERATURE_PATH, TEMPERATURE_INTERFACE);
	dbus_proxy_watch_name_owner(proxy, service_appeared, engine);
	engine->temperature_client = proxy;
}

void temperature_signal(const char *, GVariant *parameters, void *data)
{
	control *engine = static_cast<signal_target *>(data)->engine;
	if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE_TUPLE) ||
	    g_variant_n_children(parameters) < 1)
		return;
	GVariant *first = g_variant_get_child_value(parameters, 0);
	bool is_id = g_variant_is_of_type(first, G_VARIANT_TYPE_INT32);
	gint32 limit_id = is_id ? g_variant_get_int32(first) : 0;
	g_variant_unref(first);
	if (!is_id)
		return;
	// A callback may take limits out (a set freeing itself): walk a copy and
	// call only records still registered.
	GList *snapshot = g_list_copy(engine->temperature_limits);
	for (GList *l = snapshot; l; l = l->next) {
		auto *limit = static_cast<limit_t *>(l->data);
		if (!limit) {
			debug_output(DEBUG_ERROR, 0, "Temperature: bad entry in temperature_limits\n");
			continue;
		}
		if (limit->limit_id != limit_id || !g_list_find(engine->temperature_limits, limit))
			continue;
		if (limit->callback)
			limit->callback(engine, limit_id, limit);
	}
	g_list_free(snapshot);
}

int subscribe(control *engine, limit_t *limit)
{
	if (engine->temperature_subscribed)
		return 0;
	auto *target = g_new0(signal_target, 1);
	target->engine = engine;
	if (!dbus_proxy_signal_subscribe(client(engine), "TemperatureSignal", temperature_signal, target)) {
		g_free(target);
		debug_output(DEBUG_ERROR, 0, "Temperature: Failed to register for signal on sensor %d\n",
		             (int)limit->sensor_id);
		return -1;
	}
	engine->temperature_subscribed = 1;
	return 0;
}

int register_limit(control *engine, limit_t *limit)
{
	ensure_client(engine);
	if (register_with_service(engine, limit) != 0)
		return -1;
	engine->temperature_limits = g_list_prepend(engine->temperature_limits, limit);
	if (subscribe(engine, limit) != 0) {
		engine->temperature_limits = g_list_remove(engine->temperature_limits, limit);
		return -1;
	}
	return 0;
}

void set_state_machine(control *engine, int32_t limit_id, limit_t *limit)
{
	auto *set = static_cast<set_t *>(limit->user_data);
	if (!set)
		return;
	int report;
	if (limit == set->limits[0]) {
		set->low = 0;
		set->high = 0;
		report = 0;
	} else if (limit == set->limits[1]) {
		set->low = 2;
		report = set->high == 2 ? 2 : 1;
	} else if (limit == set->limits[2]) {
		set->high = 0;
		report = set->low == 0 ? 0 : 1;
	} else if (limit == set->limits[3]) {
		set->low = 2;
		set->high = 2;
		report = 2;
	} else {
		return;
	}
	if (set->callback)
		set->callback(engine, limit_id, set, report);
}

int initial_state(set_t *set)
{
	limit_t **l = set->limits;
	if (l[0]->state) {
		set->low = set->high = 0;
		return 0;
	}
	if (l[3]->state) {
		set->low = set->high = 2;
		return 4;
	}
	if (l[1]->state && !l[2]->state) {
		set->low = set->high = 2;
		return 3;
	}
	if (!l[1]->state && l[2]->state) {
		set->low = set->high = 0;
		return 1;
	}
	set->low = 2;
	set->high = 0;
	return 2;
}

} // namespace

struct control_temperature_limit *
control_register_temperature_limit(struct control *engine, uint32_t sensor_id, int32_t limit,
                                   uint8_t direction, control_temperature_fn callback, void *user_data)
{
	if (!engine)
		return nullptr;
	limit_t *record = g_new0(limit_t, 1);
	record->sensor_id = sensor_id;
	record->limit = limit;
	record->direction = direction;
	record->callback = callback;
	record->user_data = user_data;
	if (register_limit(engine, record) != 0) {
		g_free(record);
		return nullptr;
	}
	return record;
}

void control_unregister_temperature_limit(struct control *engine, struct control_temperature_limit *limit)
{
	if (engine && limit)
		engine->temperature_limits = g_list_remove(engine->temperature_limits, limit);
}

GList *control_register_temperature_limits(struct control *engine, GList *limits)
{
	if (!engine)
		return nullptr;
	GList *registered = nullptr;
	for (GList *l = limits; l; l = l->next) {
		auto *limit = static_cast<limit_t *>(l->data);
		if (!limit) {
			debug_output(DEBUG_WARNING, 0, "Temperature: Bad limit in, ignoring!\n");
			break;
		}
		if (register_limit(engine, limit) != 0) {
			g_free(limit);
			continue;
		}
		registered = g_list_append(registered, limit);
	}
	return registered;
}

void control_unregister_temperature_limits(struct control *engine, GList *limits)
{
	if (!engine)
		return;
	for (GList *l = limits; l; l = l->next) {
		if (!l->data) {
			debug_output(DEBUG_WARNING, 0, "Temperature: Bad limit in, ignoring!\n");
			continue;
		}
		control_unregister_temperature_limit(engine, static_cast<limit_t *>(l->data));
	}
}

GList *control_register_temperature_limit_pair(struct control *engine, uint32_t sensor_id, int32_t low,
                                               int32_t high, control_temperature_fn callback, int *state)
{
	limit_t *upper = control_register_temperature_limit(engine, sensor_id, high, 0, callback, nullptr);
	limit_t *lower = control_register_temperature_limit(engine, sensor_id, low, 1, callback, nullptr);
	GList *list = nullptr;
	if (upper)
		list = g_list_append(list, upper);
	if (lower)
		list = g_list_append(list, lower);
	if (state) {
		if (upper && lower && upper->state)
			*state = 2;
		else
			*state = lower ? !lower->state : 1;
	}
	return list;
}

struct control_temperature_limit_set *
control_register_temperature_limit_set(struct control *engine, uint32_t sensor_id, int32_t limit0,
                                       int32_t limit1, int32_t limit2, int32_t limit3,
                                       control_temperature_set_fn callback, void *user_data, int *initial)
{
	const int32_t values[4] = {limit0, limit1, limit2, limit3};
	const uint8_t directions[4] = {1, 0, 1, 0};
	set_t *set = g_new0(set_t, 1);
	set->callback = callback;
	set->user_data = user_data;
	for (int i = 0; i < 4; i++) {
		set->limits[i] = control_register_temperature_limit(engine, sensor_id, values[i],
		                                                    directions[i], set_state_machine, set);
		if (set->limits[i])
			continue;
		control_free_temperature_limit_set(engine, set);
		if (initial)
			*initial = 2;
		return nullptr;
	}
	int state = initial_state(set);
	if (initial)
		*initial = state;
	return set;
}

void control_free_temperature_limit_set(struct control *engine, struct control_temperature_limit_set *set)
{
	if (!set)
		return;
	for (auto *limit : set->limits) {
		if (!limit)
			continue;
		if (engine)
			engine->temperature_limits = g_list_remove(engine->temperature_limits, limit);
		g_free(limit);
	}
	g_free(set->user_data);
	g_free(set);
}

void control_set_temperature_halt_set(struct control *engine, struct control_temperature_limit_set *set)
{
	if (!engine)
		return;
	// One halt set at a time: a new one replaces the old limits.
	control_free_temperature_limit_set(engine, engine->temperature_halt_set);
	engine->temperature_halt_set = set;
}

void control_temperature_stop(struct control *engine)
{
	if (!engine)
		return;
	if (engine->temperature_client)
		dbus_proxy_free(client(engine));
	engine->temperature_client = nullptr;
	engine->temperature_subscribed = 0;
	// The records belong to the modules that registered them.
	g_list_free(engine->temperature_limits);
	engine->temperature_limits = nullptr;
}

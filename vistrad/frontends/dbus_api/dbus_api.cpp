#include "dbus_api.h"

#include <stdio.h>
#include <string.h>

#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "dbus_interface.h"
#include "exposure_reset.h"
#include "imagecontrol.h"
#include "legacy.h"
#include "quick_introspect/quick_introspect.h"
#include "videocontrol.h"

namespace
{

struct pending_signal {
	char *name;
	GVariant *value; // sunk
	int32_t stream_id;
};

// What every registration of an object hands to GDBus: the interface set
// it was made for. A replaced set stays alive in its context until no call
// can arrive through it any more.
struct dbus_call_context {
	struct dbus_interface **interfaces;
	uint32_t count;
	GHashTable *by_name;
	GDBusNodeInfo *node;
	struct dbus_object *object;
	bool stale;
};

} // namespace

struct dbus_service {
	const char *name;
	GDBusConnection *connection;
	guint owner_id;
	GHashTable *objects; // path -> dbus_object (owned)
	dbus_object_builder_fn builder;
	GHashTable *registration_ids;
	int channel_offset;
	GQueue *pending; // pending_signal, oldest first
};

struct dbus_object {
	char *path;
	char *base_path;
	int32_t stream_id;
	uint8_t channel_only;
	struct dbus_service *service;
	GDBusInterfaceVTable vtable;
	dbus_call_context *current;
	GList *retired;
	guint *registration_ids; // one per interface of the current set
	uint32_t registration_count;
};

struct dbus_api {
	struct dbus_service *services[2];
	uint32_t service_count;
	GHashTable *configs; // stream id -> dbus_api_config copy
};

namespace
{

bool use_streams()
{
	struct daemon_context *context = daemon_get_context();
	return context && context->conf && context->conf->use_stream;
}

void build_nothing(struct dbus_service *, int32_t, const struct dbus_api_config *) {}

// ---- Call contexts ----

dbus_call_context *context_new(struct dbus_object *object, struct dbus_interface **interfaces, uint32_t count)
{
	dbus_call_context *c = g_new0(dbus_call_context, 1);
	c->object = object;
	c->interfaces = interfaces;
	c->count = count;
	c->by_name = g_hash_table_new(g_str_hash, g_str_equal);
	c->node = g_new0(GDBusNodeInfo, 1);
	c->node->ref_count = 1;
	c->node->interfaces = g_new0(GDBusInterfaceInfo *, count + 1);
	for (uint32_t i = 0; i < count; i++) {
		if (g_hash_table_contains(c->by_name, interfaces[i]->name))
			debug_output(DEBUG_ERROR, 0, "DBus config: multiple definition of interface %s\n",
			             interfaces[i]->name);
		g_hash_table_insert(c->by_name, (gpointer)interfaces[i]->name, interfaces[i]);
		c->node->interfaces[i] = dbus_interface_info_new(interfaces[i]);
	}
	return c;
}

void context_free(gpointer data)
{
	dbus_call_context *c = static_cast<dbus_call_context *>(data);
	if (!c)
		return;
	for (uint32_t i = 0; i < c->count; i++)
		dbus_interface_free(c->interfaces[i]);
	g_free(c->interfaces);
	g_hash_table_destroy(c->by_name);
	g_dbus_node_info_unref(c->node);
	g_free(c);
}

void free_retired(struct dbus_object *object)
{
	g_list_free_full(object->retired, context_free);
	object->retired = nullptr;
}

// ---- Registration ----

void unregister_all(struct dbus_object *object)
{
	struct dbus_service *service = object->service;
	for (uint32_t i = 0; i < object->registration_count; i++) {
		guint id = object->registration_ids[i];
		if (!id)
			continue;
		if (!g_hash_table_remove(service->registration_ids, GUINT_TO_POINTER(id)))
			debug_output(DEBUG_ERROR, 0, "Dbus: trying to unregister unknown object %u\n", id);
		if (service->connection && !g_dbus_connection_unregister_object(service->connection, id))
			debug_output(DEBUG_ERROR, 0, "DBus API: could not unregister object with id %u\n",
			             id);
	}
	g_free(object->registration_ids);
	object->registration_ids = nullptr;
	object->registration_count = 0;
}

void register_all(struct dbus_object *object)
{
	struct dbus_service *service = object->service;
	dbus_call_context *c = object->current;
	uint32_t count = c ? c->count : 0;
	object->registration_ids = g_new0(guint, count ? count : 1);
	object->registration_count = count;
	if (!service->connection)
		return;
	for (uint32_t i = 0; i < count; i++) {
		GError *error = nullptr;
		guint id = g_dbus_connection_register_object(service->connection, object->path,
		                                             c->node->interfaces[i], &object->vtable, c,
		                                             nullptr, &error);
		if (!id) {
			debug_output(DEBUG_ERROR, 0, "DBus: failed to register object %s to connection %p\n",
			             object->path, (void *)service->connection);
			g_clear_error(&error);
			continue;
		}
		if (g_hash_table_contains(service->registration_ids, GUINT_TO_POINTER(id))) {
			debug_output(DEBUG_ERROR, 0, "Dbus: got same registration id twice\n");
			continue;
		}
		g_hash_table_add(service->registration_ids, GUINT_TO_POINTER(id));
		object->registration_ids[i] = id;
	}
}

void object_free(gpointer data)
{
	struct dbus_object *object = static_cast<struct dbus_object *>(data);
	unregister_all(object);
	context_free(object->current);
	free_retired(object);
	g_free(object->path);
	g_free(object->base_path);
	g_free(object);
}

// ---- Routing ----

// Every interface of the current sets of a stream's objects.
template <typename F> void for_each_stream_interface(struct dbus_service *service, int32_t stream_id, F fn)
{
	GHashTableIter iter;
	gpointer data;
	g_hash_table_iter_init(&iter, service->objects);
	while (g_hash_table_iter_next(&iter, nullptr, &data)) {
		struct dbus_object *object = static_cast<struct dbus_object *>(data);
		if (object->stream_id != stream_id || !object->current)
			continue;
		for (uint32_t i = 0; i < object->current->count; i++)
			fn(object, object->current->interfaces[i]);
	}
}

// The interface a call names, after the context bookkeeping every call does.
struct dbus_interface *route(dbus_call_context *c, const char *entry, const char *object_path,
                             const char *interface_name, int32_t *stream_id)
{
	struct dbus_object *object = c->object;
	if (c->stale)
		debug_output(DEBUG_WARNING, 0, "%s: call from invalid interface (dbus_object updated?)\n",
		             entry);
	else
		free_retired(object);
	*stream_id = dbus_get_stream_id_from_object_path(object->base_path, object_path,
	                                                 object->service->channel_offset);
	if (!object->current)
		return nullptr;
	return static_cast<struct dbus_interface *>(
	    g_hash_table_lookup(object->current->by_name, interface_name));
}

void set_unknown_interface(GError **error, const char *object_path, const char *interface_name)
{
	g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE,
	            "DBus object %s has no interface %s\n", object_path, interface_name);
}

void emit_properties_changed(struct dbus_object *object, struct dbus_interface *in)
{
	GDBusConnection *connection = object->service->connection;
	if (!connection)
		return;
	GVariant *changes = dbus_interface_take_changes(in);
	if (!changes)
		return;
	GVariant *parameters =
	    g_variant_new("(s@a{sv}@as)", in->name, changes, g_variant_new_strv(nullptr, 0));
	GError *error = nullptr;
	if (!g_dbus_connection_emit_signal(connection, nullptr, object->path,
	                                   "org.freedesktop.DBus.Properties", "PropertiesChanged", parameters,
	                                   &error)) {
		debug_output(DEBUG_WARNING, 0, "DBus: could not emit signal %s in interface %s\n",
		             "PropertiesChanged", in->name);
		g_clear_error(&error);
	}
}

void handle_method_call(GDBusConnection *, const char *, const char *object_path, const char *interface_name,
                        const char *, GVariant *, GDBusMethodInvocation *invocation, gpointer user_data)
{
	int32_t stream_id = -1;
	struct dbus_interface *in = route(static_cast<dbus_call_context *>(user_data), "handle_method_call",
	                                  object_path, interface_name, &stream_id);
	if (!in) {
		GError *error = nullptr;
		set_unknown_interface(&error, object_path, interface_name);
		g_dbus_method_invocation_take_error(invocation, error);
		return;
	}
	dbus_interface_call_method(in, stream_id, invocation);
}

GVariant *handle_get_property(GDBusConnection *, const char *sender, const char *object_path,
                              const char *interface_name, const char *property_name, GError **error,
                              gpointer user_data)
{
	int32_t stream_id = -1;
	struct dbus_interface *in = route(static_cast<dbus_call_context *>(user_data), "handle_get_property",
	                                  object_path, interface_name, &stream_id);
	if (!in) {
		set_unknown_interface(error, object_path, interface_name);
		return nullptr;
	}
	return dbus_interface_get_property(in, property_name, stream_id, sender, error);
}

gboolean handle_set_property(GDBusConnection *, const char *sender, const char *object_path,
                             const char *interface_name, const char *property_name, GVariant *value,
                             GError **error, gpointer user_data)
{
	dbus_call_context *c = static_cast<dbus_call_context *>(user_data);
	int32_t stream_id = -1;
	struct dbus_interface *in = route(c, "handle_set_property", object_path, interface_name, &stream_id);
	if (!in) {
		set_unknown_interface(error, object_path, interface_name);
		return FALSE;
	}
	gboolean ok = dbus_interface_set_property(in, property_name, value, stream_id, sender, error);
	emit_properties_changed(c->object, in);
	return ok;
}

// ---- Services ----

void pending_signal_free(gpointer data)
{
	pending_signal *p = static_cast<pending_signal *>(data);
	g_free(p->name);
	g_variant_unref(p->value);
	g_free(p);
}

void on_bus_acquired(GDBusConnection *connection, const char *, gpointer user_data)
{
	struct dbus_service *service = static_cast<struct dbus_service *>(user_data);
	quick_introspect_set_unique_name(service->name, g_dbus_connection_get_unique_name(connection));
	if (service->connection != connection) {
		if (service->connection)
			g_object_unref(service->connection);
		service->connection = G_DBUS_CONNECTION(g_object_ref(connection));
	}
	GHashTableIter iter;
	gpointer value;
	g_hash_table_iter_init(&iter, service->objects);
	while (g_hash_table_iter_next(&iter, nullptr, &value)) {
		struct dbus_object *object = static_cast<struct dbus_object *>(value);
		unregister_all(object);
		register_all(object);
	}
	if (use_streams())
		service->builder(service, -1, nullptr);
	// Oldest first, so that clients end on the current value.
	while (pending_signal *p = static_cast<pending_signal *>(g_queue_pop_head(service->pending))) {
		dbus_service_emit_signal(service, p->stream_id, p->name, p->value);
		pending_signal_free(p);
	}
}

void dbus_service_stop(struct dbus_service *service)
{
	if (service->owner_id)
		g_bus_unown_name(service->owner_id);
	service->owner_id = 0;
}

void dbus_service_start(struct dbus_service *service)
{
	service->owner_id = g_bus_own_name(G_BUS_TYPE_SYSTEM, service->name, G_BUS_NAME_OWNER_FLAGS_NONE,
	                                   on_bus_acquired, nullptr, nullptr, service, nullptr);
	if (!service->owner_id)
		debug_output(DEBUG_ERROR, 0, "DBus connection: could not take ownership of bus %s\n",
		             service->name);
}

struct dbus_interface *object_interface(struct dbus_object *object, const char *interface_name)
{
	if (!object || !object->current || !interface_name)
		return nullptr;
	return static_cast<struct dbus_interface *>(
	    g_hash_table_lookup(object->current->by_name, interface_name));
}

// The interface of a .Properties call, or null after the log and the error.
struct dbus_interface *properties_interface(struct dbus_object *object, const char *interface_name,
                                            GError **error)
{
	struct dbus_interface *in = object_interface(object, interface_name);
	if (in)
		return in;
	debug_output(DEBUG_ERROR, 0, "DBus API: cannot get properties for unknown interface %s\n",
	             interface_name ? interface_name : "(null)");
	g_set_error(error, g_quark_from_static_string("DBus API get properties"), 0,
	            "cannot get properties for unknown interface %s\n",
	            interface_name ? interface_name : "(null)");
	return nullptr;
}

// Keeps the first error of a walk.
void keep_first(GError **error, GError *local)
{
	if (!local)
		return;
	if (error && !*error)
		*error = local;
	else
		g_error_free(local);
}

typedef GVariant *(*name_lookup_fn)(struct dbus_interface *in, const char *name, int32_t stream_id,
                                    const char *sender, GError **error);

// A dictionary of name -> value for every name the lookup answers.
GVariant *collect(struct dbus_object *object, const char *interface_name, const char *sender, GVariant *names,
                  name_lookup_fn lookup, bool all_or_nothing, GError **error)
{
	struct dbus_interface *in = properties_interface(object, interface_name, error);
	if (!in)
		return nullptr;
	GVariantBuilder dict;
	g_variant_builder_init(&dict, G_VARIANT_TYPE_VARDICT);
	GVariantIter iter;
	const char *name;
	g_variant_iter_init(&iter, names);
	while (g_variant_iter_next(&iter, "&s", &name)) {
		GError *local = nullptr;
		GVariant *value = lookup(in, name, object->stream_id, sender, &local);
		keep_first(error, local);
		if (!value) {
			if (all_or_nothing) {
				debug_output(DEBUG_ERROR, 0, "DBus API: no such property %s\n", name);
				g_variant_builder_clear(&dict);
				return nullptr;
			}
			continue;
		}
		g_variant_ref_sink(value);
		g_variant_builder_add(&dict, "{sv}", name, value);
		g_variant_unref(value);
	}
	return g_variant_builder_end(&dict);
}

GVariant *lookup_value(struct dbus_interface *in, const char *name, int32_t stream_id, const char *sender,
                       GError **error)
{
	return dbus_interface_get_property(in, name, stream_id, sender, error);
}

GVariant *lookup_default(struct dbus_interface *in, const char *name, int32_t stream_id, const char *,
                         GError **error)
{
	return dbus_interface_get_default_value(in, name, stream_id, error);
}

GVariant *lookup_range(struct dbus_interface *in, const char *name, int32_t stream_id, const char *,
                       GError **error)
{
	return dbus_interface_get_range(in, name, stream_id, error);
}

} // namespace

struct dbus_service *dbus_service_new(const char *bus_name, dbus_object_builder_fn builder,
                                      int channel_offset)
{
	struct dbus_service *service = g_new0(struct dbus_service, 1);
	service->name = bus_name;
	service->builder = builder ? builder : build_nothing;
	service->channel_offset = channel_offset;
	service->objects = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, object_free);
	service->registration_ids = g_hash_table_new(g_direct_hash, g_direct_equal);
	service->pending = g_queue_new();
	return service;
}

void dbus_service_free(struct dbus_service *service)
{
	if (!service)
		return;
	g_hash_table_destroy(service->objects);
	g_hash_table_destroy(service->registration_ids);
	g_queue_free_full(service->pending, pending_signal_free);
	dbus_service_stop(service);
	if (service->connection) {
		if (!g_dbus_connection_is_closed(service->connection))
			g_dbus_connection_close_sync(service->connection, nullptr, nullptr);
		g_object_unref(service->connection);
	}
	g_free(service);
}

const char *dbus_service_get_name(const struct dbus_service *service)
{
	return service ? service->name : nullptr;
}

int dbus_service_get_channel_offset(const struct dbus_service *service)
{
	return service ? service->channel_offset : 0;
}

void dbus_service_emit_signal(struct dbus_service *service, int32_t stream_id, const char *name,
                              GVariant *value)
{
	if (!service || !name)
		return;
	if (!service->connection || g_dbus_connection_is_closed(service->connection)) {
		if (!value)
			return;
		pending_signal *p = g_new0(pending_signal, 1);
		p->name = g_strdup(name);
		p->value = g_variant_ref_sink(value);
		p->stream_id = stream_id;
		g_queue_push_tail(service->pending, p);
		return;
	}
	for_each_stream_interface(
	    service, stream_id, [&](struct dbus_object *object, struct dbus_interface *in) {
		    GVariant *parameters = nullptr;
		    if (!dbus_interface_signal_value(in, stream_id, name, value, &parameters))
			    return;
		    GError *error = nullptr;
		    if (!g_dbus_connection_emit_signal(service->connection, nullptr, object->path, in->name,
		                                       name, parameters, &error)) {
			    debug_output(DEBUG_WARNING, 0, "DBus: could not emit signal %s in interface %s\n",
			                 name, in->name);
			    g_clear_error(&error);
		    }
	    });
}

char *dbus_object_path_new(const char *base_path, int32_t stream_id, int channel_only, int channel_offset)
{
	if (stream_id == -1)
		return g_strdup(base_path);
	if (stream_id < 0)
		stream_id = 0;
	int channel = ((stream_id >> 8) & 0xff) + channel_offset;
	int index = stream_id & 0xff;
	if (channel_only)
		return g_strdup_printf("%s/%d", base_path, channel);
	return g_strdup_printf("%s/%d/%d", base_path, channel, index);
}

struct dbus_object *dbus_service_get_object(struct dbus_service *service, int32_t stream_id, int channel_only,
                                            const char *base_path)
{
	char *path = dbus_object_path_new(base_path, stream_id, channel_only, service->channel_offset);
	struct dbus_object *object =
	    static_cast<struct dbus_object *>(g_hash_table_lookup(service->objects, path));
	if (object) {
		g_free(path);
		unregister_all(object);
		return object;
	}
	object = g_new0(struct dbus_object, 1);
	object->path = path;
	object->base_path = g_strdup(base_path);
	object->stream_id = stream_id;
	object->channel_only = channel_only ? 1 : 0;
	object->service = service;
	object->vtable.method_call = handle_method_call;
	object->vtable.get_property = handle_get_property;
	object->vtable.set_property = handle_set_property;
	g_hash_table_insert(service->objects, object->path, object);
	return object;
}

void dbus_object_set_interfaces(struct dbus_object *object, struct dbus_interface **interfaces,
                                uint32_t count)
{
	if (!object)
		return;
	unregister_all(object);
	if (object->current) {
		object->current->stale = true;
		object->retired = g_list_prepend(object->retired, object->current);
	}
	object->current = context_new(object, interfaces, count);
	register_all(object);
}

const char *dbus_object_get_path(const struct dbus_object *object)
{
	return object ? object->path : nullptr;
}

int32_t dbus_object_get_stream_id(const struct dbus_object *object)
{
	return object ? object->stream_id : -1;
}

int32_t dbus_get_stream_id_from_object_path(const char *base_path, const char *object_path,
                                            int channel_offset)
{
	if (!base_path || !object_path || !strstr(object_path, base_path)) {
		debug_output(DEBUG_WARNING, 0, "%s: invalid object_path %s\n",
		             "dbus_get_stream_id_from_object_path", object_path ? object_path : "(null)");
		return -1;
	}
	if (strcmp(object_path, base_path) == 0)
		return -1;
	int channel = 0, index = 0;
	if (sscanf(object_path + strlen(base_path), "/%d/%d", &channel, &index) < 1) {
		debug_output(DEBUG_ERROR, 0, "DBus API: cannot understand object string %s\n", object_path);
		channel = 0;
	} else {
		channel -= channel_offset;
	}
	int32_t stream_id = channel * 256 + index;
	if (!use_streams() && stream_id == 0)
		return -1;
	return stream_id;
}

struct dbus_object *dbus_object_from_invocation(GDBusMethodInvocation *invocation)
{
	auto *c = static_cast<dbus_call_context *>(g_dbus_method_invocation_get_user_data(invocation));
	return c ? c->object : nullptr;
}

GVariant *dbus_object_get_properties(struct dbus_object *object, const char *interface_name,
                                     const char *sender, GVariant *names, GError **error)
{
	return collect(object, interface_name, sender, names, lookup_value, true, error);
}

gboolean dbus_object_set_properties(struct dbus_object *object, const char *interface_name,
                                    const char *sender, GVariant *pairs, GError **error)
{
	struct dbus_interface *in = properties_interface(object, interface_name, error);
	if (!in)
		return FALSE;
	gboolean ok = TRUE;
	GVariantIter iter;
	const char *name;
	GVariant *value;
	g_variant_iter_init(&iter, pairs);
	while (g_variant_iter_next(&iter, "(&sv)", &name, &value)) {
		GError *local = nullptr;
		if (!dbus_interface_set_property(in, name, value, object->stream_id, sender, &local))
			ok = FALSE;
		keep_first(error, local);
		g_variant_unref(value);
	}
	emit_properties_changed(object, in);
	return ok;
}

GVariant *dbus_object_get_default_values(struct dbus_object *object, const char *interface_name,
                                         GVariant *names, GError **error)
{
	return collect(object, interface_name, nullptr, names, lookup_default, false, error);
}

gboolean dbus_object_restore_to_default_values(struct dbus_object *object, const char *interface_name,
                                               GVariant *names, GError **error)
{
	struct dbus_interface *in = properties_interface(object, interface_name, error);
	if (!in)
		return FALSE;
	gboolean ok = TRUE;
	GVariantIter iter;
	const char *name;
	g_variant_iter_init(&iter, names);
	while (g_variant_iter_next(&iter, "&s", &name)) {
		GError *local = nullptr;
		if (!dbus_interface_restore_to_default(in, name, object->stream_id, &local))
			ok = FALSE;
		keep_first(error, local);
	}
	return ok;
}

GVariant *dbus_object_get_ranges(struct dbus_object *object, const char *interface_name, GVariant *names,
                                 GError **error)
{
	return collect(object, interface_name, nullptr, names, lookup_range, false, error);
}

// ---- The front-end ----

struct dbus_api *dbus_api_new(int mode)
{
	struct dbus_api *api = g_new0(struct dbus_api, 1);
	api->configs = g_hash_table_new_full(g_direct_hash, g_direct_equal, nullptr, g_free);
	api->services[0] = dbus_service_new(DBUS_API_VISTRAD_NAME, build_nothing, 0);
	if (mode == 1)
		api->services[1] =
		    dbus_service_new(DBUS_API_VIDEOCONTROL_NAME, videocontrol_build_objects, 1);
	else
		api->services[1] =
		    dbus_service_new(DBUS_API_IMAGECONTROL_NAME, imagecontrol_build_objects, 0);
	api->service_count = 2;
	for (uint32_t i = 0; i < api->service_count; i++)
		dbus_service_start(api->services[i]);
	return api;
}

void dbus_api_free(struct dbus_api *api)
{
	if (!api)
		return;
	// Every name is released before the shared connection closes.
	for (uint32_t i = 0; i < api->service_count; i++)
		dbus_service_stop(api->services[i]);
	for (uint32_t i = 0; i < api->service_count; i++)
		dbus_service_free(api->services[i]);
	g_hash_table_destroy(api->configs);
	g_free(api);
	legacy_maps_free();
}

void dbus_api_set_config(struct dbus_api *api, int32_t stream_id, const struct dbus_api_config *config)
{
	if (!api || !config)
		return;
	bool multi = use_streams();
	if (multi && stream_id == -1) {
		debug_output(
		    DEBUG_WARNING, 0,
		    "DBus API: got configuration for STREAM_ALL on a multi-streamproduct, going with "
		    "STREAM_ID_DEFAULT\n");
		stream_id = 0;
	}
	exposure_reset_run_pending(stream_id);
	gpointer key = GINT_TO_POINTER(stream_id);
	auto *old = static_cast<const struct dbus_api_config *>(g_hash_table_lookup(api->configs, key));
	if (old && memcmp(old, config, sizeof(*config)) == 0)
		return;
	auto *copy = static_cast<struct dbus_api_config *>(g_memdup2(config, sizeof(*config)));
	g_hash_table_insert(api->configs, key, copy);
	for (uint32_t i = 0; i < api->service_count; i++)
		api->services[i]->builder(api->services[i], stream_id, copy);
	if (!multi)
		for (uint32_t i = 0; i < api->service_count; i++)
			api->services[i]->builder(api->services[i], 0, copy);
}

void dbus_api_remove_stream(struct dbus_api *api, int32_t stream_id)
{
	if (!api)
		return;
	for (uint32_t i = 0; i < api->service_count; i++) {
		GHashTableIter iter;
		gpointer data;
		g_hash_table_iter_init(&iter, api->services[i]->objects);
		while (g_hash_table_iter_next(&iter, nullptr, &data))
			if (static_cast<struct dbus_object *>(data)->stream_id == stream_id)
				g_hash_table_iter_remove(&iter);
	}
	// A stream added again with the same record must get its objects back.
	g_hash_table_remove(api->configs, GINT_TO_POINTER(stream_id));
}

void dbus_api_emit_param_signal(struct dbus_api *api, int32_t stream_id, const struct param_value *value)
{
	if (!api || !value)
		return;
	const struct param_def *def = param_def(value->id);
	if (!def)
		return;
	const char *name = def->signal_name ? def->signal_name : def->key;
	GVariant *variant = param_value_to_variant(value, 0, 0);
	if (!variant) {
		debug_output(DEBUG_WARNING, 0, "DBus API: cannot signal %s, its value has no D-Bus form\n",
		             name);
		return;
	}
	g_variant_ref_sink(variant);
	for (uint32_t i = 0; i < api->service_count; i++)
		dbus_service_emit_signal(api->services[i], stream_id, name, variant);
	g_variant_unref(variant);
}

void dbus_api_emit_param_properties_changed(struct dbus_api *api, int32_t stream_id,
                                            const struct param_value *value)
{
	if (!api || !value)
		return;
	for (uint32_t i = 0; i < api->service_count; i++)
		for_each_stream_interface(api->services[i], stream_id,
		                          [&](struct dbus_object *object, struct dbus_interface *in) {
			                          dbus_interface_mark_param_changed(in, value);
			                          emit_properties_changed(object, in);
		                          });
}

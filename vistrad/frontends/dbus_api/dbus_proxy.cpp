#include "dbus_proxy.h"

#include <string.h>

#include "core/debug_output.h"

namespace
{

struct proxy_ref {
	struct dbus_proxy *proxy; // null once the wrapper is freed
	int count;
};

struct subscription {
	const char *signal_name; // the caller's
	guint id;
	GDBusConnection *connection;
	dbus_proxy_signal_fn callback;
	void *user_data; // owned
};

} // namespace

struct dbus_proxy {
	char *bus_name;
	char *object_path;
	char *interface_name;
	uint8_t connected;
	GDBusProxy *proxy;
	GList *subscriptions; // struct subscription, most recent first
	char *name_owner;
	gulong owner_handler;
	dbus_proxy_owner_fn owner_fn;
	void *owner_data;
	struct dbus_proxy_ops *ops;
	proxy_ref *ref;
};

namespace
{

GVariant *op_call_sync(GDBusProxy *proxy, const char *method, GVariant *parameters, GError **error)
{
	return g_dbus_proxy_call_sync(proxy, method, parameters, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error);
}

void op_call(GDBusProxy *proxy, const char *method, GVariant *parameters, GAsyncReadyCallback done,
             gpointer data)
{
	g_dbus_proxy_call(proxy, method, parameters, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, done, data);
}

guint op_signal_subscribe(GDBusConnection *connection, const char *sender, const char *interface_name,
                          const char *member, const char *object_path, GDBusSignalCallback callback,
                          gpointer data)
{
	return g_dbus_connection_signal_subscribe(connection, sender, interface_name, member, object_path,
	                                          nullptr, G_DBUS_SIGNAL_FLAGS_NONE, callback, data, nullptr);
}

GDBusProxy *op_new_for_bus_sync(const char *bus_name, const char *object_path, const char *interface_name,
                                GError **error)
{
	return g_dbus_proxy_new_for_bus_sync(G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_NONE, nullptr, bus_name,
	                                     object_path, interface_name, nullptr, error);
}

const struct dbus_proxy_ops default_ops = {
    op_call_sync,
    op_call,
    g_dbus_proxy_get_cached_property,
    op_signal_subscribe,
    g_dbus_connection_signal_unsubscribe,
    op_new_for_bus_sync,
    g_dbus_proxy_get_name,
    g_dbus_proxy_get_name_owner,
};

proxy_ref *ref_take(proxy_ref *ref)
{
	ref->count++;
	return ref;
}

void ref_release(proxy_ref *ref)
{
	if (--ref->count == 0)
		g_free(ref);
}

struct dbus_proxy *wrapper_new(const char *bus_name, const char *object_path, const char *interface_name)
{
	dbus_proxy *p = g_new0(dbus_proxy, 1);
	p->bus_name = g_strdup(bus_name);
	p->object_path = g_strdup(object_path);
	p->interface_name = g_strdup(interface_name);
	p->ops = static_cast<dbus_proxy_ops *>(g_memdup2(&default_ops, sizeof(default_ops)));
	p->ref = g_new0(proxy_ref, 1);
	p->ref->proxy = p;
	p->ref->count = 1;
	return p;
}

void adopt_proxy(dbus_proxy *p, GDBusProxy *proxy)
{
	p->proxy = proxy;
	p->connected = 1;
	g_free(p->name_owner);
	p->name_owner = p->ops->get_name_owner(proxy);
}

void connect_proxy(dbus_proxy *p)
{
	GError *error = nullptr;
	GDBusProxy *proxy = p->ops->new_for_bus_sync(p->bus_name, p->object_path, p->interface_name, &error);
	g_clear_error(&error);
	if (!proxy) {
		debug_output(DEBUG_WARNING, 0, "DBus API: could not create proxy connection to %s: %s\n",
		             p->bus_name, p->object_path);
		return;
	}
	adopt_proxy(p, proxy);
}

void owner_changed(GObject *, GParamSpec *, gpointer data);

gulong connect_owner_watch(dbus_proxy *p)
{
	if (!p->proxy)
		return 0;
	return g_signal_connect(p->proxy, "notify::g-name-owner", G_CALLBACK(owner_changed), p);
}

void drop_proxy(dbus_proxy *p)
{
	if (p->proxy && p->owner_handler)
		g_signal_handler_disconnect(p->proxy, p->owner_handler);
	g_clear_object(&p->proxy);
	g_clear_pointer(&p->name_owner, g_free);
	p->connected = 0;
}

bool same_owner(const char *a, const char *b)
{
	return a && b && strcmp(a, b) == 0;
}

int ensure_connected(dbus_proxy *p)
{
	char *owner = p->proxy ? p->ops->get_name_owner(p->proxy) : nullptr;
	bool keep = p->connected && p->proxy && same_owner(owner, p->name_owner);
	g_free(owner);
	if (keep)
		return 1;
	bool watched = p->owner_handler != 0;
	drop_proxy(p);
	connect_proxy(p);
	if (watched) {
		p->owner_handler = connect_owner_watch(p);
		if (!p->owner_handler)
			debug_output(DEBUG_ERROR, 0, "Failed to connect to g-name-owner");
	}
	if (!p->connected) {
		debug_output(DEBUG_ERROR, 0, "DBus proxy: connection to service %s is down\n", p->bus_name);
		return 0;
	}
	return 1;
}

void owner_changed(GObject *object, GParamSpec *, gpointer data)
{
	auto *p = static_cast<dbus_proxy *>(data);
	char *owner = p->ops->get_name_owner(G_DBUS_PROXY(object));
	if (!owner)
		return; // the service went away; the next use or owner reconnects
	g_free(owner);
	ensure_connected(p);
	if (p->owner_fn)
		p->owner_fn(p, p->owner_data);
}

// Each subscription delivers to its own entry: walking the list by name
// would hand one signal to the newest entry once per subscription of that
// name and never to the others. The bus calls no subscription after it was
// removed, so the entry is alive whenever this runs.
void dispatch_signal(GDBusConnection *, const char *, const char *, const char *, const char *signal_name,
                     GVariant *parameters, gpointer data)
{
	auto *s = static_cast<subscription *>(data);
	if (strcmp(s->signal_name, signal_name) == 0)
		s->callback(signal_name, parameters, s->user_data);
}

void end_subscription(dbus_proxy *p, subscription *s)
{
	p->ops->signal_unsubscribe(s->connection, s->id);
	g_object_unref(s->connection);
	g_free(s->user_data);
	g_free(s);
}

struct call_closure {
	proxy_ref *ref;
	dbus_proxy_reply_fn callback;
	void *user_data;
};

void call_done(GObject *source, GAsyncResult *result, gpointer data)
{
	auto *c = static_cast<call_closure *>(data);
	GError *error = nullptr;
	GVariant *reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, &error);
	dbus_proxy *p = c->ref->proxy;
	if (!p) {
		// The wrapper is gone: nobody is left to hand the reply to.
		if (reply)
			g_variant_unref(reply);
	} else if (!reply) {
		debug_output(DEBUG_WARNING, 0, "DBus proxy async call to bus %s, object %s failed %s\n",
		             p->bus_name, p->object_path, error ? error->message : "");
		p->connected = 0;
	} else if (c->callback) {
		c->callback(c->user_data, reply);
	} else {
		g_variant_unref(reply);
	}
	g_clear_error(&error);
	ref_release(c->ref);
	g_free(c);
}

struct new_closure {
	proxy_ref *ref;
	dbus_proxy_ready_fn callback;
	void *user_data;
};

void real_dbus_proxy_new_async_callback(GObject *, GAsyncResult *result, gpointer data)
{
	auto *c = static_cast<new_closure *>(data);
	GError *error = nullptr;
	GDBusProxy *proxy = g_dbus_proxy_new_for_bus_finish(result, &error);
	g_clear_error(&error);
	dbus_proxy *p = c->ref->proxy;
	if (!p) {
		if (proxy)
			g_object_unref(proxy);
	} else {
		if (proxy)
			adopt_proxy(p, proxy);
		else
			debug_output(DEBUG_WARNING, 0,
			             "%s, DBus API: could not create proxy connection to %s: %s\n",
			             "real_dbus_proxy_new_async_callback", p->bus_name, p->object_path);
		if (c->callback)
			c->callback(p, c->user_data);
	}
	ref_release(c->ref);
	g_free(c);
}

} // namespace

struct dbus_proxy *dbus_proxy_new(const char *bus_name, const char *object_path, const char *interface_name)
{
	dbus_proxy *p = wrapper_new(bus_name, object_path, interface_name);
	connect_proxy(p);
	return p;
}

void dbus_proxy_new_async(const char *bus_name, const char *object_path, const char *interface_name,
                          dbus_proxy_ready_fn callback, void *user_data)
{
	dbus_proxy *p = wrapper_new(bus_name, object_path, interface_name);
	auto *c = g_new0(new_closure, 1);
	c->ref = ref_take(p->ref);
	c->callback = callback;
	c->user_data = user_data;
	g_dbus_proxy_new_for_bus(G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_NONE, nullptr, bus_name, object_path,
	                         interface_name, nullptr, real_dbus_proxy_new_async_callback, c);
}

void dbus_proxy_free(struct dbus_proxy *proxy)
{
	if (!proxy)
		return;
	proxy->ref->proxy = nullptr;
	ref_release(proxy->ref);
	for (GList *l = proxy->subscriptions; l; l = l->next)
		end_subscription(proxy, static_cast<subscription *>(l->data));
	g_list_free(proxy->subscriptions);
	drop_proxy(proxy);
	g_free(proxy->bus_name);
	g_free(proxy->object_path);
	g_free(proxy->interface_name);
	g_free(proxy->ops);
	g_free(proxy);
}

GVariant *dbus_proxy_call_sync(struct dbus_proxy *proxy, const char *method, GVariant *parameters)
{
	if (parameters)
		g_variant_ref_sink(parameters);
	GVariant *reply = nullptr;
	if (proxy && method && ensure_connected(proxy)) {
		GError *error = nullptr;
		reply = proxy->ops->call_sync(proxy->proxy, method, parameters, &error);
		if (!reply) {
			debug_output(DEBUG_WARNING, 0, "DBus proxy call to bus %s, object %s failed %s\n",
			             proxy->bus_name, proxy->object_path, error ? error->message : "");
			proxy->connected = 0;
		}
		g_clear_error(&error);
	}
	if (parameters)
		g_variant_unref(parameters);
	return reply;
}

void dbus_proxy_call(struct dbus_proxy *proxy, const char *method, GVariant *parameters,
                     dbus_proxy_reply_fn callback, void *user_data)
{
	if (parameters)
		g_variant_ref_sink(parameters);
	if (proxy && method && ensure_connected(proxy)) {
		auto *c = g_new0(call_closure, 1);
		c->ref = ref_take(proxy->ref);
		c->callback = callback;
		c->user_data = user_data;
		proxy->ops->call(proxy->proxy, method, parameters, call_done, c);
	}
	if (parameters)
		g_variant_unref(parameters);
}

GVariant *dbus_proxy_get_cached_property(struct dbus_proxy *proxy, const char *name)
{
	if (!proxy || !name || !ensure_connected(proxy))
		return nullptr;
	return proxy->ops->get_cached_property(proxy->proxy, name);
}

int dbus_proxy_signal_subscribe(struct dbus_proxy *proxy, const char *signal_name,
                                dbus_proxy_signal_fn callback, void *user_data)
{
	if (!proxy || !signal_name || !callback || !ensure_connected(proxy))
		return 0;
	auto *s = g_new0(subscription, 1);
	s->signal_name = signal_name;
	s->callback = callback;
	s->user_data = user_data;
	s->connection = G_DBUS_CONNECTION(g_object_ref(g_dbus_proxy_get_connection(proxy->proxy)));
	s->id = proxy->ops->signal_subscribe(s->connection, proxy->bus_name, proxy->interface_name,
	                                     signal_name, proxy->object_path, dispatch_signal, s);
	proxy->subscriptions = g_list_prepend(proxy->subscriptions, s);
	return proxy->connected;
}

int dbus_proxy_signal_unsubscribe(struct dbus_proxy *proxy, const char *signal_name)
{
	if (!proxy || !signal_name)
		return 0;
	for (GList *l = proxy->subscriptions; l; l = l->next) {
		auto *s = static_cast<subscription *>(l->data);
		if (strcmp(s->signal_name, signal_name) != 0)
			continue;
		proxy->subscriptions = g_list_delete_link(proxy->subscriptions, l);
		end_subscription(proxy, s);
		return 1;
	}
	debug_output(DEBUG_WARNING, 0, "DBus proxy: cannot unregister signal_name %s (nonexisting)\n",
	             signal_name);
	return 0;
}

int dbus_proxy_watch_name_owner(struct dbus_proxy *proxy, dbus_proxy_owner_fn callback, void *user_data)
{
	if (!proxy)
		return 1;
	if (proxy->proxy && proxy->owner_handler)
		g_signal_handler_disconnect(proxy->proxy, proxy->owner_handler);
	proxy->owner_fn = callback;
	proxy->owner_data = user_data;
	proxy->owner_handler = connect_owner_watch(proxy);
	if (!proxy->owner_handler)
		debug_output(DEBUG_ERROR, 0, "Failed to connect to g-name-owner");
	return 1;
}

int dbus_proxy_unwatch_name_owner(struct dbus_proxy *proxy)
{
	if (!proxy)
		return 1;
	proxy->owner_fn = nullptr;
	proxy->owner_data = nullptr;
	if (proxy->proxy && proxy->owner_handler)
		g_signal_handler_disconnect(proxy->proxy, proxy->owner_handler);
	proxy->owner_handler = 0;
	return 1;
}

int dbus_proxy_is_connected(const struct dbus_proxy *proxy)
{
	return proxy && proxy->connected;
}

struct dbus_proxy_ops *dbus_proxy_get_ops(struct dbus_proxy *proxy)
{
	return proxy ? proxy->ops : nullptr;
}

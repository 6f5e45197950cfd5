#pragma once
// A client of another service on the system bus that outlives the service:
// it is made even when the service is absent, reconnects before each use when
// the service's owner changed, and can tell its user when the service comes
// (back) up. For the main thread only.

#include <gio/gio.h>
#include <stdint.h>

struct dbus_proxy;

typedef void (*dbus_proxy_signal_fn)(const char *signal_name, GVariant *parameters, void *user_data);
typedef void (*dbus_proxy_owner_fn)(struct dbus_proxy *proxy, void *user_data);
typedef void (*dbus_proxy_reply_fn)(void *user_data, GVariant *reply);
typedef void (*dbus_proxy_ready_fn)(struct dbus_proxy *proxy, void *user_data);

// The bus operations the wrapper performs; filled with the GDBus calls.
struct dbus_proxy_ops {
	GVariant *(*call_sync)(GDBusProxy *proxy, const char *method, GVariant *parameters, GError **error);
	void (*call)(GDBusProxy *proxy, const char *method, GVariant *parameters, GAsyncReadyCallback done,
	             gpointer data);
	GVariant *(*get_cached_property)(GDBusProxy *proxy, const char *name);
	guint (*signal_subscribe)(GDBusConnection *connection, const char *sender, const char *interface_name,
	                          const char *member, const char *object_path, GDBusSignalCallback callback,
	                          gpointer data);
	void (*signal_unsubscribe)(GDBusConnection *connection, guint id);
	GDBusProxy *(*new_for_bus_sync)(const char *bus_name, const char *object_path,
	                                const char *interface_name, GError **error);
	const char *(*get_name)(GDBusProxy *proxy);
	char *(*get_name_owner)(GDBusProxy *proxy);
};

// Never null; a wrapper whose service cannot be reached stays disconnected.
struct dbus_proxy *dbus_proxy_new(const char *bus_name, const char *object_path, const char *interface_name);
void dbus_proxy_new_async(const char *bus_name, const char *object_path, const char *interface_name,
                          dbus_proxy_ready_fn callback, void *user_data);
void dbus_proxy_free(struct dbus_proxy *proxy);

// The reply tuple (the caller's) or null. Parameters may be floating.
GVariant *dbus_proxy_call_sync(struct dbus_proxy *proxy, const char *method, GVariant *parameters);
// The reply goes to callback(user data, reply), which owns it.
void dbus_proxy_call(struct dbus_proxy *proxy, const char *method, GVariant *parameters,
                     dbus_proxy_reply_fn callback, void *user_data);
GVariant *dbus_proxy_get_cached_property(struct dbus_proxy *proxy, const char *name);

// signal_name must outlive the subscription; user_data becomes the wrapper's
// and is released with g_free() when the subscription ends. Non-zero when
// subscribed (the wrapper is connected).
int dbus_proxy_signal_subscribe(struct dbus_proxy *proxy, const char *signal_name,
                                dbus_proxy_signal_fn callback, void *user_data);
int dbus_proxy_signal_unsubscribe(struct dbus_proxy *proxy, const char *signal_name);
// The callback runs each time the service gets an owner, after the wrapper
// has reconnected to it. Always 1.
int dbus_proxy_watch_name_owner(struct dbus_proxy *proxy, dbus_proxy_owner_fn callback, void *user_data);
int dbus_proxy_unwatch_name_owner(struct dbus_proxy *proxy);

int dbus_proxy_is_connected(const struct dbus_proxy *proxy);
// The table the wrapper calls through, for replacing single operations.
struct dbus_proxy_ops *dbus_proxy_get_ops(struct dbus_proxy *proxy);

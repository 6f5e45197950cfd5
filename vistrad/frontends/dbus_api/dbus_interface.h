#pragma once
// Interfaces of the daemon's D-Bus objects, described by static tables of
// method, property, signal and argument records. Most properties are
// parameters of the parameter database, read and written through it.

#include <gio/gio.h>
#include <stdint.h>

struct daemon_context;
struct param_value;

#define DBUS_INTERFACE_ERROR (dbus_interface_error_quark())
GQuark dbus_interface_error_quark(void);

enum dbus_interface_error_code {
	DBUS_INTERFACE_ERROR_NO_PROPERTY = 0,
	DBUS_INTERFACE_ERROR_INVALID_VALUE = 1,
	DBUS_INTERFACE_ERROR_NO_DEFAULT = 2,
	DBUS_INTERFACE_ERROR_NO_RANGE = 3,
};

#define DBUS_ARG_OUT 0
#define DBUS_ARG_IN 1

#define DBUS_ACCESS_READ_WRITE 0
#define DBUS_ACCESS_READ 1
#define DBUS_ACCESS_WRITE 2

struct dbus_interface_arg {
	const char *name;
	const char *signature;
	uint8_t direction; // DBUS_ARG_IN or DBUS_ARG_OUT
	const char *description;
	const char *deprecation;
	uint8_t deprecated;
};

typedef GVariant *(*dbus_method_stream_fn)(GVariant *parameters, struct daemon_context *context,
                                           int32_t stream_id, GError **error);
typedef GVariant *(*dbus_method_object_fn)(GVariant *parameters, struct daemon_context *context,
                                           GDBusMethodInvocation *invocation, int32_t stream_id,
                                           GError **error);

struct dbus_interface_method {
	const char *name;
	dbus_method_stream_fn handler;
	dbus_method_object_fn object_handler; // used instead of handler when set
	const struct dbus_interface_arg *args;
	uint32_t arg_count;
	const char *description;
	const char *deprecation;
	uint8_t deprecated;
};

struct dbus_interface_property;
typedef GVariant *(*dbus_property_getter_fn)(const struct dbus_interface_property *property,
                                             int32_t stream_id);
typedef int (*dbus_property_pre_set_fn)(const struct dbus_interface_property *property, int32_t stream_id,
                                        GVariant *incoming, struct param_value *value);
typedef char *(*dbus_property_legacy_type_fn)(const struct dbus_interface_property *property,
                                              int32_t stream_id);

struct dbus_display_name {
	const char *value;
	const char *display_name;
};

struct dbus_interface_property {
	const char *name; // null: the parameter's name
	const char *description;
	const char *deprecation;
	uint8_t deprecated;
	uint32_t access;   // DBUS_ACCESS_*
	uint32_t param_id; // 0: served by the getter alone
	uint32_t type;     // 0: the parameter's own type, else a PARAM_TYPE_*
	dbus_property_getter_fn getter;
	dbus_property_pre_set_fn pre_set;
	const struct dbus_display_name *display_names; // ends with an empty pair
	const char *legacy_type;
	dbus_property_legacy_type_fn legacy_type_builder;
	const char *legacy_access;
};

struct dbus_interface_signal;
typedef GVariant *(*dbus_signal_value_fn)(const struct dbus_interface_signal *signal, int32_t stream_id);

struct dbus_interface_signal {
	const char *name;
	const struct dbus_interface_arg *args; // all out
	uint32_t arg_count;
	const char *description;
	const char *deprecation;
	uint8_t deprecated;
	dbus_signal_value_fn value_builder; // null: the changed value as a one-element tuple
};

// Collects table slices for one interface; dbus_interface_new() takes them.
struct dbus_interface_builder {
	GPtrArray *methods;
	GPtrArray *properties;
	GPtrArray *signals;
};

struct dbus_interface {
	const char *name; // static
	const struct dbus_interface_method **methods;
	uint32_t method_count;
	const struct dbus_interface_property **properties;
	uint32_t property_count;
	const struct dbus_interface_signal **signals;
	uint32_t signal_count;
	GHashTable *methods_by_name;
	GHashTable *properties_by_name;
	GHashTable *properties_by_param; // id -> GSList of records, table order
	GHashTable *signals_by_name;
	uint8_t deprecated; // every method call is reported
	uint8_t enum_as_bytestring;
	uint8_t string_as_bytestring;
	GPtrArray *changed; // struct dbus_property_change, in order of first change
};

void dbus_interface_builder_add_methods(struct dbus_interface_builder *builder,
                                        const struct dbus_interface_method *table, uint32_t count);
void dbus_interface_builder_add_properties(struct dbus_interface_builder *builder,
                                           const struct dbus_interface_property *table, uint32_t count);
void dbus_interface_builder_add_signals(struct dbus_interface_builder *builder,
                                        const struct dbus_interface_signal *table, uint32_t count);
// Drops what a builder collected without making an interface of it.
void dbus_interface_builder_clear(struct dbus_interface_builder *builder);

// Takes the builder's records (the builder is left empty); builder may be null.
struct dbus_interface *dbus_interface_new(const char *name, struct dbus_interface_builder *builder);
void dbus_interface_free(struct dbus_interface *interface);
GDBusInterfaceInfo *dbus_interface_info_new(const struct dbus_interface *interface);

// The property's name on the bus and its signature.
const char *dbus_interface_property_name(const struct dbus_interface_property *property);
// The signature of a parameter type on this interface; null for an unknown type.
const char *dbus_interface_type_signature(const struct dbus_interface *interface, uint32_t type);
const char *dbus_interface_property_signature(const struct dbus_interface *interface,
                                              const struct dbus_interface_property *property);

void dbus_interface_call_method(struct dbus_interface *interface, int32_t stream_id,
                                GDBusMethodInvocation *invocation);
GVariant *dbus_interface_get_property(struct dbus_interface *interface, const char *name, int32_t stream_id,
                                      const char *sender, GError **error);
gboolean dbus_interface_set_property(struct dbus_interface *interface, const char *name, GVariant *value,
                                     int32_t stream_id, const char *sender, GError **error);
GVariant *dbus_interface_get_default_value(struct dbus_interface *interface, const char *name,
                                           int32_t stream_id, GError **error);
gboolean dbus_interface_restore_to_default(struct dbus_interface *interface, const char *name,
                                           int32_t stream_id, GError **error);
GVariant *dbus_interface_get_range(struct dbus_interface *interface, const char *name, int32_t stream_id,
                                   GError **error);

// Notes a stored parameter value under every property it backs.
void dbus_interface_mark_param_changed(struct dbus_interface *interface, const struct param_value *value);
// The changes noted since the last call as "a{sv}" (floating), or null when
// there were none; the changed set is emptied.
GVariant *dbus_interface_take_changes(struct dbus_interface *interface);
// True when the interface declares the signal; *parameters is then the tuple to emit.
gboolean dbus_interface_signal_value(struct dbus_interface *interface, int32_t stream_id, const char *name,
                                     GVariant *value, GVariant **parameters);

// Logs which process (and its parent) made a deprecated call.
void dbus_warn_caller(const char *sender);

#include "dbus_interface.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "dbus_proxy.h"

namespace
{

struct property_change {
	char *name;
	GVariant *value; // sunk
};

void property_change_free(gpointer data)
{
	property_change *change = static_cast<property_change *>(data);
	g_free(change->name);
	g_variant_unref(change->value);
	g_free(change);
}

void slist_free(gpointer data)
{
	g_slist_free(static_cast<GSList *>(data));
}

template <typename T> const T **take_array(GPtrArray *array, uint32_t *count)
{
	if (!array) {
		*count = 0;
		return g_new0(const T *, 1);
	}
	*count = array->len;
	g_ptr_array_add(array, nullptr);
	return (const T **)g_ptr_array_free(array, FALSE);
}

void append(GPtrArray **array, const void *table, size_t size, uint32_t count)
{
	if (!table || count == 0)
		return;
	if (!*array)
		*array = g_ptr_array_new();
	for (uint32_t i = 0; i < count; i++)
		g_ptr_array_add(*array, (gpointer)(static_cast<const char *>(table) + i * size));
}

} // namespace

GQuark dbus_interface_error_quark(void)
{
	return g_quark_from_static_string("dbus-interface-error-quark");
}

void dbus_interface_builder_add_methods(struct dbus_interface_builder *builder,
                                        const struct dbus_interface_method *table, uint32_t count)
{
	if (builder)
		append(&builder->methods, table, sizeof(*table), count);
}

void dbus_interface_builder_add_properties(struct dbus_interface_builder *builder,
                                           const struct dbus_interface_property *table, uint32_t count)
{
	if (builder)
		append(&builder->properties, table, sizeof(*table), count);
}

void dbus_interface_builder_add_signals(struct dbus_interface_builder *builder,
                                        const struct dbus_interface_signal *table, uint32_t count)
{
	if (builder)
		append(&builder->signals, table, sizeof(*table), count);
}

void dbus_interface_builder_clear(struct dbus_interface_builder *builder)
{
	if (!builder)
		return;
	for (GPtrArray **a : {&builder->methods, &builder->properties, &builder->signals}) {
		if (*a)
			g_ptr_array_free(*a, TRUE);
		*a = nullptr;
	}
}

const char *dbus_interface_property_name(const struct dbus_interface_property *property)
{
	if (property->name)
		return property->name;
	const struct param_def *def = param_def(property->param_id);
	return def ? def->name : nullptr;
}

namespace
{

uint32_t effective_type(const struct dbus_interface_property *property)
{
	if (property->type)
		return property->type;
	const struct param_def *def = param_def(property->param_id);
	return def ? def->type : 0;
}

// A later record of a name already taken is left out everywhere, so that
// reads, writes, announcements and introspection all follow the first.
void enter_properties(struct dbus_interface *in, GPtrArray *array)
{
	if (!array)
		return;
	GPtrArray *kept = g_ptr_array_new();
	for (guint i = 0; i < array->len; i++) {
		auto *p = static_cast<const dbus_interface_property *>(array->pdata[i]);
		const char *name = dbus_interface_property_name(p);
		if (!name) {
			debug_output(DEBUG_ERROR, 0, "DBus: property of parameter %u has no name\n",
			             (unsigned)p->param_id);
			continue;
		}
		if (g_hash_table_contains(in->properties_by_name, name)) {
			debug_output(DEBUG_ERROR, 0, "DBus: duplicate versions of property %s found\n", name);
			continue;
		}
		g_hash_table_insert(in->properties_by_name, (gpointer)name, (gpointer)p);
		gpointer key = GUINT_TO_POINTER(p->param_id);
		GSList *list = static_cast<GSList *>(g_hash_table_lookup(in->properties_by_param, key));
		g_hash_table_steal(in->properties_by_param, key);
		g_hash_table_insert(in->properties_by_param, key, g_slist_append(list, (gpointer)p));
		g_ptr_array_add(kept, (gpointer)p);
	}
	g_ptr_array_free(array, TRUE);
	in->properties = take_array<dbus_interface_property>(kept, &in->property_count);
}

template <typename T>
void enter_named(GHashTable *map, const T *const *records, uint32_t count, const char *duplicate_message)
{
	for (uint32_t i = 0; i < count; i++) {
		if (g_hash_table_contains(map, records[i]->name))
			debug_output(DEBUG_ERROR, 0, duplicate_message, records[i]->name);
		g_hash_table_insert(map, (gpointer)records[i]->name, (gpointer)records[i]);
	}
}

} // namespace

struct dbus_interface *dbus_interface_new(const char *name, struct dbus_interface_builder *builder)
{
	dbus_interface_builder empty = {};
	if (!builder)
		builder = &empty;
	dbus_interface *in = g_new0(dbus_interface, 1);
	in->name = name;
	in->methods_by_name = g_hash_table_new(g_str_hash, g_str_equal);
	in->properties_by_name = g_hash_table_new(g_str_hash, g_str_equal);
	in->properties_by_param = g_hash_table_new_full(g_direct_hash, g_direct_equal, nullptr, slist_free);
	in->signals_by_name = g_hash_table_new(g_str_hash, g_str_equal);
	in->changed = g_ptr_array_new_with_free_func(property_change_free);

	in->methods = take_array<dbus_interface_method>(builder->methods, &in->method_count);
	enter_named(in->methods_by_name, in->methods, in->method_count,
	            "DBus: duplicate versions of method %s found\n");
	enter_properties(in, builder->properties);
	in->signals = take_array<dbus_interface_signal>(builder->signals, &in->signal_count);
	enter_named(in->signals_by_name, in->signals, in->signal_count,
	            "DBus: duplicate versions of signal %s found\n");
	*builder = {};
	return in;
}

void dbus_interface_free(struct dbus_interface *in)
{
	if (!in)
		return;
	g_hash_table_destroy(in->methods_by_name);
	g_hash_table_destroy(in->properties_by_name);
	g_hash_table_destroy(in->properties_by_param);
	g_hash_table_destroy(in->signals_by_name);
	g_ptr_array_free(in->changed, TRUE);
	g_free(in->methods);
	g_free(in->properties);
	g_free(in->signals);
	g_free(in);
}

// ---- Introspection data ----

namespace
{

GDBusAnnotationInfo *annotation_new(const char *key, const char *value)
{
	GDBusAnnotationInfo *a = g_new0(GDBusAnnotationInfo, 1);
	a->ref_count = 1;
	a->key = g_strdup(key);
	a->value = g_strdup(value);
	return a;
}

GDBusAnnotationInfo **annotations_new(const char *description, const char *deprecation, uint8_t deprecated)
{
	if (!description && !deprecated)
		return nullptr;
	GPtrArray *list = g_ptr_array_new();
	if (description)
		g_ptr_array_add(list, annotation_new("org.freedesktop.DBus.Description", description));
	if (deprecated)
		g_ptr_array_add(list, annotation_new("org.freedesktop.DBus.Deprecated",
		                                     deprecation ? deprecation : "true"));
	g_ptr_array_add(list, nullptr);
	return reinterpret_cast<GDBusAnnotationInfo **>(g_ptr_array_free(list, FALSE));
}

// Arguments of one direction, or null when there are none.
GDBusArgInfo **args_new(const struct dbus_interface_arg *args, uint32_t count, int direction)
{
	GPtrArray *list = g_ptr_array_new();
	for (uint32_t i = 0; i < count; i++) {
		if (direction >= 0 && args[i].direction != direction)
			continue;
		GDBusArgInfo *a = g_new0(GDBusArgInfo, 1);
		a->ref_count = 1;
		a->name = g_strdup(args[i].name);
		a->signature = g_strdup(args[i].signature);
		a->annotations =
		    annotations_new(args[i].description, args[i].deprecation, args[i].deprecated);
		g_ptr_array_add(list, a);
	}
	if (list->len == 0) {
		g_ptr_array_free(list, TRUE);
		return nullptr;
	}
	g_ptr_array_add(list, nullptr);
	return reinterpret_cast<GDBusArgInfo **>(g_ptr_array_free(list, FALSE));
}

GDBusPropertyInfoFlags property_flags(const struct dbus_interface_property *p, const char *name)
{
	switch (p->access) {
	case DBUS_ACCESS_READ:
		return G_DBUS_PROPERTY_INFO_FLAGS_READABLE;
	case DBUS_ACCESS_WRITE:
		return G_DBUS_PROPERTY_INFO_FLAGS_WRITABLE;
	case DBUS_ACCESS_READ_WRITE:
		break;
	default:
		debug_output(DEBUG_WARNING, 0, "DBus: property %s has a weird access type\n", name);
		break;
	}
	return (GDBusPropertyInfoFlags)(G_DBUS_PROPERTY_INFO_FLAGS_READABLE |
	                                G_DBUS_PROPERTY_INFO_FLAGS_WRITABLE);
}

template <typename T> T **null_ended(GPtrArray *list)
{
	g_ptr_array_add(list, nullptr);
	return reinterpret_cast<T **>(g_ptr_array_free(list, FALSE));
}

} // namespace

const char *dbus_interface_type_signature(const struct dbus_interface *in, uint32_t type)
{
	switch (type) {
	case PARAM_TYPE_INT:
		return "i";
	case PARAM_TYPE_ENUM:
		return in->enum_as_bytestring ? "ay" : "s";
	case PARAM_TYPE_FIX:
		return "d";
	case PARAM_TYPE_BOOL:
		return "b";
	case PARAM_TYPE_STRING:
		return in->string_as_bytestring ? "ay" : "s";
	default:
		return nullptr;
	}
}

const char *dbus_interface_property_signature(const struct dbus_interface *in,
                                              const struct dbus_interface_property *property)
{
	uint32_t type = effective_type(property);
	const char *signature = dbus_interface_type_signature(in, type);
	if (signature)
		return signature;
	debug_output(DEBUG_ERROR, 0, "DBus: unknown param_type %d for property %s\n", (int)type,
	             dbus_interface_property_name(property));
	return "i";
}

GDBusInterfaceInfo *dbus_interface_info_new(const struct dbus_interface *in)
{
	GDBusInterfaceInfo *info = g_new0(GDBusInterfaceInfo, 1);
	info->ref_count = 1;
	info->name = g_strdup(in->name);

	GPtrArray *methods = g_ptr_array_new();
	for (uint32_t i = 0; i < in->method_count; i++) {
		const dbus_interface_method *m = in->methods[i];
		GDBusMethodInfo *mi = g_new0(GDBusMethodInfo, 1);
		mi->ref_count = 1;
		mi->name = g_strdup(m->name);
		mi->in_args = args_new(m->args, m->arg_count, DBUS_ARG_IN);
		mi->out_args = args_new(m->args, m->arg_count, DBUS_ARG_OUT);
		mi->annotations = annotations_new(m->description, m->deprecation, m->deprecated);
		g_ptr_array_add(methods, mi);
	}
	info->methods = null_ended<GDBusMethodInfo>(methods);

	GPtrArray *properties = g_ptr_array_new();
	for (uint32_t i = 0; i < in->property_count; i++) {
		const dbus_interface_property *p = in->properties[i];
		GDBusPropertyInfo *pi = g_new0(GDBusPropertyInfo, 1);
		pi->ref_count = 1;
		pi->name = g_strdup(dbus_interface_property_name(p));
		pi->signature = g_strdup(dbus_interface_property_signature(in, p));
		pi->flags = property_flags(p, pi->name);
		pi->annotations = annotations_new(p->description, p->deprecation, p->deprecated);
		g_ptr_array_add(properties, pi);
	}
	info->properties = null_ended<GDBusPropertyInfo>(properties);

	GPtrArray *signals = g_ptr_array_new();
	for (uint32_t i = 0; i < in->signal_count; i++) {
		const dbus_interface_signal *s = in->signals[i];
		GDBusSignalInfo *si = g_new0(GDBusSignalInfo, 1);
		si->ref_count = 1;
		si->name = g_strdup(s->name);
		si->args = args_new(s->args, s->arg_count, -1);
		si->annotations = annotations_new(s->description, s->deprecation, s->deprecated);
		g_ptr_array_add(signals, si);
	}
	info->signals = null_ended<GDBusSignalInfo>(signals);
	return info;
}

// ---- Method calls ----

namespace
{

bool has_out_args(const struct dbus_interface_method *m)
{
	for (uint32_t i = 0; i < m->arg_count; i++)
		if (m->args[i].direction == DBUS_ARG_OUT)
			return true;
	return false;
}

} // namespace

void dbus_interface_call_method(struct dbus_interface *in, int32_t stream_id,
                                GDBusMethodInvocation *invocation)
{
	const char *interface_name = g_dbus_method_invocation_get_interface_name(invocation);
	const char *sender = g_dbus_method_invocation_get_sender(invocation);
	const char *path = g_dbus_method_invocation_get_object_path(invocation);
	const char *method_name = g_dbus_method_invocation_get_method_name(invocation);
	GVariant *parameters = g_dbus_method_invocation_get_parameters(invocation);

	auto *m =
	    static_cast<const dbus_interface_method *>(g_hash_table_lookup(in->methods_by_name, method_name));
	if (!m || (!m->handler && !m->object_handler)) {
		g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
		                                      "No such method %s in interface %s", method_name,
		                                      interface_name);
		return;
	}
	if (m->deprecated) {
		debug_output(DEBUG_WARNING, 0, "Got call to deprecated method %s, interface %s, object %s\n",
		             m->name, interface_name, path);
		debug_output(DEBUG_WARNING, 0, "Sender %s must be rewritten (method %s marked for removal)\n",
		             sender ? sender : "(none)", m->name);
		dbus_warn_caller(sender);
	}
	if (in->deprecated) {
		debug_output(DEBUG_WARNING, 0,
		             "DBus interface %s is deprecated in this service (method %s)\n", interface_name,
		             m->name);
		dbus_warn_caller(sender);
	}

	GError *error = nullptr;
	GVariant *reply = m->object_handler ? m->object_handler(parameters, daemon_get_context(), invocation,
	                                                        stream_id, &error)
	                                    : m->handler(parameters, daemon_get_context(), stream_id, &error);
	if (error) {
		if (reply)
			g_variant_unref(g_variant_ref_sink(reply));
		g_dbus_method_invocation_take_error(invocation, error);
		return;
	}
	// An empty reply where the caller expects values would be dropped by
	// GDBus and leave the caller waiting.
	if (!reply && has_out_args(m)) {
		g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
		                                           "Method gave no result");
		return;
	}
	g_dbus_method_invocation_return_value(invocation, reply);
}

// ---- Caller reports ----

namespace
{

// Command field and parent of a process, from its stat file.
bool read_stat(unsigned pid, char command[32], int *parent)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%u/stat", pid);
	FILE *f = fopen(path, "r");
	if (!f) {
		int e = errno;
		debug_output(DEBUG_WARNING, 0, "Failed to open proc file \"%s\": %d, %s\n", path, e,
		             strerror(e));
		return false;
	}
	int n = fscanf(f, "%*d %31s %*c %d", command, parent);
	int e = errno;
	fclose(f);
	if (n < 2) {
		debug_output(DEBUG_WARNING, 0, "Failed to read stats for %u: %d, %s\n", pid, e, strerror(e));
		return false;
	}
	return true;
}

} // namespace

void dbus_warn_caller(const char *sender)
{
	struct dbus_proxy *proxy = dbus_proxy_new("org.freedesktop.DBus", "/", "org.freedesktop.DBus");
	GVariant *reply =
	    sender ? dbus_proxy_call_sync(proxy, "GetConnectionUnixProcessID", g_variant_new("(s)", sender))
	           : nullptr;
	if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(u)"))) {
		debug_output(DEBUG_ERROR, 0, "Unable to get dbus remote PID\n");
	} else {
		guint32 pid = 0;
		g_variant_get(reply, "(u)", &pid);
		char command[32] = "", parent_command[32] = "";
		int parent = 0, grandparent = 0;
		if (read_stat(pid, command, &parent) &&
		    read_stat((unsigned)parent, parent_command, &grandparent))
			debug_output(
			    DEBUG_WARNING, 0,
			    "Process %s (PID: %u, from %s) is calling vistrad in an illegal manner\n",
			    command, (unsigned)pid, parent_command);
	}
	if (reply)
		g_variant_unref(reply);
	dbus_proxy_free(proxy);
}

// ---- Properties ----

namespace
{

const dbus_interface_property *find_property(struct dbus_interface *in, const char *name)
{
	return name ? static_cast<const dbus_interface_property *>(
	                  g_hash_table_lookup(in->properties_by_name, name))
	            : nullptr;
}

void set_no_property(GError **error, const char *operation, const char *name, int32_t stream_id)
{
	g_set_error(error, DBUS_INTERFACE_ERROR, DBUS_INTERFACE_ERROR_NO_PROPERTY,
	            "%s: No such property found %s (sid %d)\n", operation, name ? name : "(null)",
	            (int)stream_id);
}

void set_invalid(GError **error, const char *name)
{
	g_set_error(error, DBUS_INTERFACE_ERROR, DBUS_INTERFACE_ERROR_INVALID_VALUE,
	            "%s: given value invalid for property %s\n", "dbus_interface_set_property", name);
}

// The record of a property that the operation names, or null after the
// warning and the code-0 error.
const dbus_interface_property *lookup_or_fail(struct dbus_interface *in, const char *name, int32_t stream_id,
                                              const char *operation, GError **error)
{
	const dbus_interface_property *p = find_property(in, name);
	if (p)
		return p;
	debug_output(DEBUG_WARNING, 0, "DBus API: interface %s (stream_id %d) has no property %s\n", in->name,
	             (int)stream_id, name ? name : "(null)");
	set_no_property(error, operation, name, stream_id);
	return nullptr;
}

int32_t q14_from_double(double d)
{
	float f = (float)d * 16384.0f;
	f = d > 0 ? f + 0.5f : f - 0.5f;
	if (f >= 2147483647.0f)
		return INT32_MAX;
	if (f <= -2147483648.0f)
		return INT32_MIN;
	return (int32_t)f;
}

// The text of an "s" or "ay" value; byte strings must be UTF-8 without NUL
// (a single trailing NUL, as GLib's own byte strings carry, is allowed).
char *text_of(GVariant *value)
{
	if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
		return g_variant_dup_string(value, nullptr);
	gsize length = 0;
	const char *bytes = static_cast<const char *>(g_variant_get_fixed_array(value, &length, 1));
	if (length > 0 && bytes[length - 1] == '\0')
		length--;
	if (length > 0 && memchr(bytes, '\0', length))
		return nullptr;
	if (!g_utf8_validate_len(bytes, length, nullptr))
		return nullptr;
	return g_strndup(bytes, length);
}

bool is_text(GVariant *value)
{
	return g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
	       g_variant_is_of_type(value, G_VARIANT_TYPE_BYTESTRING);
}

// Fills the record from a value of the property's own D-Bus form. False
// (with the error set) for any other form or an unusable value.
bool convert_incoming(const dbus_interface_property *p, const char *name, GVariant *value, int32_t stream_id,
                      param_value *rec, GError **error)
{
	uint32_t type = effective_type(p);
	bool form_ok = false;
	switch (type) {
	case PARAM_TYPE_INT:
		form_ok = g_variant_is_of_type(value, G_VARIANT_TYPE_INT32);
		break;
	case PARAM_TYPE_FIX:
		form_ok = g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE);
		break;
	case PARAM_TYPE_BOOL:
		form_ok = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN);
		break;
	case PARAM_TYPE_ENUM:
	case PARAM_TYPE_STRING:
		form_ok = is_text(value);
		break;
	default:
		break;
	}
	if (!form_ok) {
		debug_output(DEBUG_ERROR, 0, "DBus API: cannot set property %s, its type %s unsupported\n",
		             name, g_variant_get_type_string(value));
		set_invalid(error, name);
		return false;
	}

	if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
		rec->value = g_variant_get_boolean(value) ? 1 : 0;
	} else if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
		rec->value = g_variant_get_int32(value);
	} else if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
		double d = g_variant_get_double(value);
		if (isnan(d)) {
			set_invalid(error, name);
			return false;
		}
		rec->value = q14_from_double(d);
	} else {
		char *text = text_of(value);
		if (!text) {
			debug_output(DEBUG_WARNING, 0, "DBus API: unusable text for property %s\n", name);
			set_invalid(error, name);
			return false;
		}
		const struct param_def *def = param_def(p->param_id);
		if (def && def->type == PARAM_TYPE_ENUM) {
			rec->value = param_convert_enum_to_int(p->param_id, stream_id, text);
			if (rec->value == INT32_MIN) {
				debug_output(DEBUG_WARNING, 0,
				             "DBus API: did not find value %s for param %s\n", text,
				             def->key);
				g_free(text);
				set_invalid(error, name);
				return false;
			}
			g_free(text);
		} else {
			rec->text = text;
		}
	}
	return true;
}

} // namespace

GVariant *dbus_interface_get_property(struct dbus_interface *in, const char *name, int32_t stream_id,
                                      const char *, GError **error)
{
	const dbus_interface_property *p = find_property(in, name);
	if (!p) {
		set_no_property(error, "dbus_interface_get_property", name, stream_id);
		return nullptr;
	}
	if (p->getter) {
		GVariant *value = p->getter(p, stream_id);
		if (!value)
			set_no_property(error, "dbus_interface_get_property", name, stream_id);
		return value;
	}
	param_value rec = {};
	rec.id = p->param_id;
	rec.stream_id = stream_id;
	if (param_get(&rec) != 0) {
		debug_output(DEBUG_ERROR, 0, "DBus API: internal error finding param %s (sid %d)\n", name,
		             (int)stream_id);
		g_free(rec.text);
		set_no_property(error, "dbus_interface_get_property", name, stream_id);
		return nullptr;
	}
	GVariant *value = param_value_to_variant(&rec, in->enum_as_bytestring, in->string_as_bytestring);
	g_free(rec.text);
	if (!value)
		set_no_property(error, "dbus_interface_get_property", name, stream_id);
	return value;
}

gboolean dbus_interface_set_property(struct dbus_interface *in, const char *name, GVariant *value,
                                     int32_t stream_id, const char *, GError **error)
{
	const dbus_interface_property *p =
	    lookup_or_fail(in, name, stream_id, "dbus_interface_set_property", error);
	if (!p)
		return FALSE;
	if (!value) {
		set_invalid(error, name);
		return FALSE;
	}
	const struct param_def *def = param_def(p->param_id);
	param_value rec = {};
	rec.id = def ? def->id : 0;
	rec.stream_id = stream_id;
	if (!convert_incoming(p, name, value, stream_id, &rec, error))
		return FALSE;

	// A refused value must not reach the hook, which may act on its own.
	param_value check = rec;
	check.type = def ? def->type : 0;
	if (!param_value_valid(&check, def)) {
		debug_output(DEBUG_WARNING, 0, "DBUS API: could not set param %s to vistrad\n", name);
		g_free(rec.text);
		set_invalid(error, name);
		return FALSE;
	}
	if (p->pre_set)
		p->pre_set(p, stream_id, value, &rec);
	int r = param_set(&rec);
	g_free(rec.text);
	if (r != 0) {
		debug_output(DEBUG_WARNING, 0, "DBUS API: could not set param %s to vistrad\n", name);
		set_invalid(error, name);
		return FALSE;
	}
	return TRUE;
}

GVariant *dbus_interface_get_default_value(struct dbus_interface *in, const char *name, int32_t stream_id,
                                           GError **error)
{
	const dbus_interface_property *p =
	    lookup_or_fail(in, name, stream_id, "dbus_interface_get_default_value", error);
	if (!p)
		return nullptr;
	int32_t value = 0;
	char *text = nullptr;
	const struct param_def *def = param_def(p->param_id);
	if (!def || param_default_from_entry(p->param_id, stream_id, &value, &text) != 0) {
		debug_output(DEBUG_WARNING, 0, "DBus API: default value is N/A for property %s\n", name);
		g_free(text);
		g_set_error(error, DBUS_INTERFACE_ERROR, DBUS_INTERFACE_ERROR_NO_DEFAULT,
		            "%s: Property %s has no default value\n", "dbus_interface_get_default_value",
		            name);
		return nullptr;
	}
	param_value rec = {};
	rec.id = def->id;
	rec.stream_id = stream_id;
	rec.type = def->type;
	rec.value = value;
	rec.text = text;
	GVariant *result = param_value_to_variant(&rec, in->enum_as_bytestring, in->string_as_bytestring);
	g_free(text);
	if (!result)
		set_no_property(error, "dbus_interface_get_default_value", name, stream_id);
	return result;
}

gboolean dbus_interface_restore_to_default(struct dbus_interface *in, const char *name, int32_t stream_id,
                                           GError **error)
{
	const dbus_interface_property *p =
	    lookup_or_fail(in, name, stream_id, "dbus_interface_restore_to_default", error);
	if (!p)
		return FALSE;
	return param_reset(p->param_id, stream_id) == 0;
}

namespace
{

float q14_to_float(int32_t v)
{
	return (float)v * (1.0f / 16384.0f);
}

GVariant *range_dictionary(const struct param_def *def, const param_range *range)
{
	GVariantBuilder dict;
	g_variant_builder_init(&dict, G_VARIANT_TYPE_VARDICT);
	bool list = range->values != nullptr;
	switch (def->type) {
	case PARAM_TYPE_INT:
		g_variant_builder_add(&dict, "{sv}", "min", g_variant_new_int32(range->min));
		g_variant_builder_add(&dict, "{sv}", "max", g_variant_new_int32(range->max));
		if (list) {
			GVariantBuilder values;
			g_variant_builder_init(&values, G_VARIANT_TYPE("ai"));
			for (uint32_t i = 0; i < range->count; i++)
				g_variant_builder_add(&values, "i", (int32_t)range->values[i]);
			g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&values));
		}
		break;
	case PARAM_TYPE_ENUM: {
		GVariantBuilder names;
		g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
		for (uint32_t i = 0; range->names && i < range->count && range->names[i]; i++)
			g_variant_builder_add(&names, "s", range->names[i]);
		g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&names));
		break;
	}
	case PARAM_TYPE_FIX:
		g_variant_builder_add(&dict, "{sv}", "min", g_variant_new_double(q14_to_float(range->min)));
		g_variant_builder_add(&dict, "{sv}", "max", g_variant_new_double(q14_to_float(range->max)));
		if (list) {
			GVariantBuilder values;
			g_variant_builder_init(&values, G_VARIANT_TYPE("ad"));
			for (uint32_t i = 0; i < range->count; i++)
				g_variant_builder_add(&values, "d",
				                      (double)q14_to_float((int32_t)range->values[i]));
			g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&values));
		}
		break;
	case PARAM_TYPE_BOOL:
		g_variant_builder_add(&dict, "{sv}", "min", g_variant_new_boolean(range->min != 0));
		g_variant_builder_add(&dict, "{sv}", "max", g_variant_new_boolean(range->max != 0));
		if (list) {
			GVariantBuilder values;
			g_variant_builder_init(&values, G_VARIANT_TYPE("ab"));
			for (uint32_t i = 0; i < range->count; i++)
				g_variant_builder_add(&values, "b", (gboolean)(range->values[i] != 0));
			g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&values));
		}
		break;
	case PARAM_TYPE_STRING:
		break;
	default:
		debug_output(DEBUG_ERROR, 0, "%s: unknown param_type %d\n", "dbus_interface_get_range",
		             (int)def->type);
		break;
	}
	return g_variant_builder_end(&dict);
}

} // namespace

GVariant *dbus_interface_get_range(struct dbus_interface *in, const char *name, int32_t stream_id,
                                   GError **error)
{
	const dbus_interface_property *p =
	    lookup_or_fail(in, name, stream_id, "dbus_interface_get_range", error);
	if (!p)
		return nullptr;
	if (p->param_id == 0) {
		debug_output(DEBUG_WARNING, 0, "DBus API: range not meaningful for for property %s.%s\n",
		             in->name, name);
		g_set_error(error, DBUS_INTERFACE_ERROR, DBUS_INTERFACE_ERROR_NO_RANGE,
		            "%s: property %s has no meaningful range\n", "dbus_interface_get_range", name);
		return nullptr;
	}
	const struct param_def *def = param_def(p->param_id);
	param_range range = {};
	if (!def || param_get_range(p->param_id, stream_id, &range) != 0) {
		debug_output(DEBUG_WARNING, 0, "DBus API: could not get range for property %s\n", name);
		g_set_error(error, DBUS_INTERFACE_ERROR, DBUS_INTERFACE_ERROR_NO_RANGE,
		            "%s: could not get range for property %s\n", "dbus_interface_get_range", name);
		return nullptr;
	}
	GVariant *dict = range_dictionary(def, &range);
	param_range_clear(&range);
	return dict;
}

// ---- Changes and signals ----

void dbus_interface_mark_param_changed(struct dbus_interface *in, const struct param_value *value)
{
	if (!value)
		return;
	auto *list =
	    static_cast<GSList *>(g_hash_table_lookup(in->properties_by_param, GUINT_TO_POINTER(value->id)));
	if (!list)
		return;
	GVariant *converted = param_value_to_variant(value, in->enum_as_bytestring, in->string_as_bytestring);
	if (!converted) {
		debug_output(DEBUG_WARNING, 0, "DBus API: cannot announce parameter %u of interface %s\n",
		             (unsigned)value->id, in->name);
		return;
	}
	g_variant_ref_sink(converted);
	for (GSList *l = list; l; l = l->next) {
		const char *name =
		    dbus_interface_property_name(static_cast<const dbus_interface_property *>(l->data));
		property_change *change = nullptr;
		for (guint i = 0; i < in->changed->len && !change; i++) {
			auto *c = static_cast<property_change *>(in->changed->pdata[i]);
			if (strcmp(c->name, name) == 0)
				change = c;
		}
		if (change) {
			g_variant_unref(change->value);
		} else {
			change = g_new0(property_change, 1);
			change->name = g_strdup(name);
			g_ptr_array_add(in->changed, change);
		}
		change->value = g_variant_ref(converted);
	}
	g_variant_unref(converted);
}

GVariant *dbus_interface_take_changes(struct dbus_interface *in)
{
	if (in->changed->len == 0)
		return nullptr;
	GVariantBuilder dict;
	g_variant_builder_init(&dict, G_VARIANT_TYPE_VARDICT);
	for (guint i = 0; i < in->changed->len; i++) {
		auto *c = static_cast<property_change *>(in->changed->pdata[i]);
		g_variant_builder_add(&dict, "{sv}", c->name, c->value);
	}
	g_ptr_array_set_size(in->changed, 0);
	return g_variant_builder_end(&dict);
}

gboolean dbus_interface_signal_value(struct dbus_interface *in, int32_t stream_id, const char *name,
                                     GVariant *value, GVariant **parameters)
{
	if (parameters)
		*parameters = nullptr;
	auto *s = static_cast<const dbus_interface_signal *>(g_hash_table_lookup(in->signals_by_name, name));
	if (!s || !parameters)
		return FALSE;
	if (s->value_builder)
		*parameters = s->value_builder(s, stream_id);
	else if (value)
		*parameters = g_variant_new_tuple(&value, 1);
	return *parameters != nullptr;
}

#include "param_db.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <vector>

#include "debug_output.h"
#include "fixmath.h"
#include "frontends/dbus_api/dbus_api.h"
#include "stream_map.h"

namespace
{

struct param_entry {
	param_value value;
	uint8_t set;
	uint8_t from_default;
	const struct param_def *def;
	uint8_t own_default;
	int32_t own_default_value;
	char *own_default_text;
	param_range *range;
	GList *callbacks; // most recently registered first
};

struct change {
	uint32_t id;
	int32_t stream_id;
};

struct db {
	bool initialised;
	GList *lists[PARAM_ID_MAX + 1];
	GQueue *changes;
	GHashTable *queued; // keys of the pairs in the change queue
	int64_t next_callback_id;
	dbus_api *api;
	int32_t default_stream = -1;
};

db state;
const param_announcer dbus_announcer = {dbus_api_emit_param_properties_changed, dbus_api_emit_param_signal};
const param_announcer *announcer = &dbus_announcer;
pthread_rwlock_t lock = PTHREAD_RWLOCK_INITIALIZER;
std::atomic<int> changes_pending{0};
std::atomic<int> save_pending{0};

struct read_guard {
	read_guard()
	{
		pthread_rwlock_rdlock(&lock);
	}
	~read_guard()
	{
		pthread_rwlock_unlock(&lock);
	}
};

struct write_guard {
	write_guard()
	{
		pthread_rwlock_wrlock(&lock);
	}
	~write_guard()
	{
		pthread_rwlock_unlock(&lock);
	}
};

gpointer change_key(uint32_t id, int32_t stream_id)
{
	// Stream ids are at least -1; the shift keeps the pair apart from id 0.
	return GSIZE_TO_POINTER(((gsize)id << 32) | (uint32_t)(stream_id + 1));
}

bool id_valid(uint32_t id)
{
	return id >= 1 && id <= PARAM_ID_MAX;
}

int32_t map_stream(uint32_t id, int32_t stream_id)
{
	return stream_id == -1 ? -1 : stream_map_param_stream(stream_id, id);
}

param_entry *find_entry(uint32_t id, int32_t stream_id, bool fallback)
{
	if (!id_valid(id))
		return nullptr;
	GList *list = state.lists[id];
	for (GList *l = list; l; l = l->next) {
		param_entry *e = static_cast<param_entry *>(l->data);
		if (e->value.stream_id == stream_id)
			return e;
	}
	return fallback && list ? static_cast<param_entry *>(list->data) : nullptr;
}

param_range *copy_range(const param_range *src)
{
	if (!src)
		return nullptr;
	param_range *r = g_new0(param_range, 1);
	r->min = src->min;
	r->max = src->max;
	r->count = src->count;
	if (src->values)
		r->values = static_cast<uint32_t *>(g_memdup2(src->values, sizeof(uint32_t) * src->count));
	if (src->names)
		r->names = g_strdupv(src->names);
	return r;
}

void free_range(param_range *r)
{
	if (!r)
		return;
	g_free(r->values);
	g_strfreev(r->names);
	g_free(r);
}

void free_callback(gpointer data)
{
	param_callback *cb = static_cast<param_callback *>(data);
	g_free(cb->block);
	g_free(cb);
}

void free_entry(param_entry *e)
{
	g_free(e->value.text);
	g_free(e->own_default_text);
	free_range(e->range);
	g_list_free_full(e->callbacks, free_callback);
	g_free(e);
}

param_entry *new_entry(uint32_t id, int32_t stream_id, const struct param_def *def)
{
	param_entry *e = g_new0(param_entry, 1);
	e->value.id = id;
	e->value.stream_id = stream_id;
	e->value.notify_mode = PARAM_NOTIFY_ON_CHANGE;
	e->value.type = def ? def->type : (uint32_t)PARAM_TYPE_UNKNOWN;
	e->def = def;
	return e;
}

// A stream's own entry starts as a copy of the global one, without callbacks.
param_entry *get_or_create_entry(uint32_t id, int32_t stream_id)
{
	param_entry *e = find_entry(id, stream_id, false);
	if (e)
		return e;
	param_entry *global = find_entry(id, stream_id, true);
	if (!global)
		return nullptr;
	e = g_new0(param_entry, 1);
	e->value = global->value;
	e->value.stream_id = stream_id;
	e->value.text = g_strdup(global->value.text);
	e->set = global->set;
	e->from_default = global->from_default;
	e->def = global->def;
	e->own_default = global->own_default;
	e->own_default_value = global->own_default_value;
	e->own_default_text = g_strdup(global->own_default_text);
	e->range = copy_range(global->range);
	state.lists[id] = g_list_append(state.lists[id], e);
	return e;
}

void queue_change(uint32_t id, int32_t stream_id)
{
	gpointer key = change_key(id, stream_id);
	if (g_hash_table_contains(state.queued, key))
		return;
	g_hash_table_add(state.queued, key);
	change *c = g_new(change, 1);
	c->id = id;
	c->stream_id = stream_id;
	g_queue_push_tail(state.changes, c);
}

void drop_change(uint32_t id, int32_t stream_id)
{
	gpointer key = change_key(id, stream_id);
	if (!g_hash_table_remove(state.queued, key))
		return;
	for (GList *l = state.changes->head; l; l = l->next) {
		change *c = static_cast<change *>(l->data);
		if (c->id == id && c->stream_id == stream_id) {
			g_free(c);
			g_queue_delete_link(state.changes, l);
			return;
		}
	}
}

void clear_changes_locked()
{
	if (!state.changes)
		return;
	while (!g_queue_is_empty(state.changes))
		g_free(g_queue_pop_head(state.changes));
	g_hash_table_remove_all(state.queued);
}

bool value_in_range(const param_entry *e, int32_t value)
{
	const param_range *r = e->range;
	if (r->values) {
		for (uint32_t i = 0; i < r->count; i++)
			if ((int32_t)r->values[i] == value)
				return true;
		return false;
	}
	return value >= r->min && value <= r->max;
}

bool value_valid(const param_entry *e, int32_t value)
{
	if (e->range)
		return value_in_range(e, value);
	const struct param_def *d = e->def;
	if (value >= d->min && value <= d->max)
		return true;
	debug_output(DEBUG_WARNING, 0, "Parameter %s;%s out of range, %d (%d - %d)\n",
	             d->group ? d->group : "(null)", d->key, value, d->min, d->max);
	return false;
}

bool texts_differ(const char *a, const char *b)
{
	return !a || !b || strcmp(a, b) != 0;
}

enum store_flags { STORE_SILENT = 1, STORE_RESET = 2, STORE_ALWAYS_CHANGED = 4 };

// Under the write lock. Gives 1 when the value changed, 0 when not, or a
// negative result code; a refused value leaves the entry as it was.
int store(param_value *rec, int flags)
{
	param_entry *e = get_or_create_entry(rec->id, rec->stream_id);
	if (!e || !e->def)
		return -2;
	const struct param_def *d = e->def;
	int32_t value = rec->value;
	const char *text = rec->text;
	if (flags & STORE_RESET) {
		if (e->own_default) {
			value = e->own_default_value;
			text = e->own_default_text;
		} else if (d->type == PARAM_TYPE_STRING) {
			text = d->def_text;
		} else {
			value = d->def;
			text = nullptr;
		}
	}

	bool changed;
	if (d->type == PARAM_TYPE_STRING) {
		if (!text || strlen(text) > PARAM_TEXT_MAX)
			return -5;
		changed = (flags & STORE_ALWAYS_CHANGED) || texts_differ(e->value.text, text);
	} else {
		if (!value_valid(e, value))
			return -5;
		changed = e->value.value != value;
	}

	uint32_t mode = e->value.notify_mode;
	if (!(flags & STORE_SILENT) && mode != PARAM_NOTIFY_NEVER &&
	    (!e->set || changed || mode == PARAM_NOTIFY_ALWAYS))
		queue_change(rec->id, rec->stream_id);

	rec->notify_mode = mode;
	e->value.type = d->type;
	e->value.value = d->type == PARAM_TYPE_STRING ? 0 : value;
	char *copy = g_strdup(text);
	g_free(e->value.text);
	e->value.text = copy;
	changes_pending = 1;
	e->set = 1;
	e->from_default = (flags & STORE_RESET) ? 1 : 0;
	return changed ? 1 : 0;
}

// Under the read lock.
void notify_change_locked(uint32_t id, int32_t stream_id)
{
	param_entry *e = find_entry(id, stream_id, false);
	if (!e || !e->def)
		return;
	if (e->def->saved)
		save_pending = 1;
	if (!e->def->signal) {
		announcer->properties_changed(state.api, stream_id, &e->value);
		return;
	}
	announcer->signal(state.api, stream_id, &e->value);
	if (stream_id == state.default_stream)
		announcer->signal(state.api, state.default_stream == -1 ? 0 : -1, &e->value);
	announcer->properties_changed(state.api, stream_id, &e->value);
}

void notify_change(uint32_t id, int32_t stream_id)
{
	read_guard guard;
	notify_change_locked(id, stream_id);
}

int check_args(uint32_t id, int32_t stream_id)
{
	if (id > PARAM_ID_MAX || id == 0)
		return -2;
	if (stream_id < -1)
		return -3;
	return 0;
}

int set_value(param_value *rec, int flags)
{
	if (!rec)
		return -4;
	int r = check_args(rec->id, rec->stream_id);
	if (r < 0)
		return r;
	param_value mapped = *rec;
	mapped.stream_id = map_stream(rec->id, rec->stream_id);
	{
		write_guard guard;
		r = store(&mapped, flags);
	}
	rec->notify_mode = mapped.notify_mode;
	if (r == 1)
		notify_change(mapped.id, mapped.stream_id);
	return r < 0 ? r : 0;
}

int set_simple(uint32_t id, int32_t stream_id, int32_t value, const char *text, int flags)
{
	param_value rec = {};
	rec.id = id;
	rec.stream_id = stream_id;
	rec.value = value;
	rec.text = const_cast<char *>(text);
	return set_value(&rec, flags);
}

// The path of the setters that change an entry's settings rather than its
// value: the entry is made if need be and edited under the write lock; the
// edit is given the stream the entry is kept under.
template <typename Edit> int edit_entry(uint32_t id, int32_t stream_id, Edit edit)
{
	int r = check_args(id, stream_id);
	if (r < 0)
		return r;
	stream_id = map_stream(id, stream_id);
	write_guard guard;
	param_entry *e = get_or_create_entry(id, stream_id);
	if (!e)
		return -2;
	return edit(e, stream_id);
}

// The path of the readers of an existing entry: -2 when there is none.
template <typename Read> int read_entry(uint32_t id, int32_t stream_id, Read read)
{
	int r = check_args(id, stream_id);
	if (r < 0)
		return r;
	read_guard guard;
	param_entry *e = find_entry(id, map_stream(id, stream_id), true);
	if (!e)
		return -2;
	return read(e);
}

} // namespace

void param_db_set_dbus_api(struct dbus_api *api)
{
	state.api = api;
}

void param_db_set_announcer(const struct param_announcer *table)
{
	announcer = table ? table : &dbus_announcer;
}

void param_db_set_default_stream(int32_t stream_id)
{
	state.default_stream = stream_id;
}

GQueue *param_db_init(void)
{
	write_guard guard;
	if (!state.initialised) {
		// Ids without a row in the map (2) get no entries at all.
		for (uint32_t id = 1; id <= PARAM_ID_MAX; id++) {
			const struct param_def *def = param_def(id);
			if (def)
				state.lists[id] = g_list_append(nullptr, new_entry(id, -1, def));
		}
		state.initialised = true;
	}
	if (state.changes) {
		clear_changes_locked();
		g_queue_free(state.changes);
	}
	if (!state.queued)
		state.queued = g_hash_table_new(g_direct_hash, g_direct_equal);
	state.changes = g_queue_new();
	return state.changes;
}

void param_db_free(void)
{
	write_guard guard;
	clear_changes_locked();
	if (state.changes)
		g_queue_free(state.changes);
	state.changes = nullptr;
	if (state.queued)
		g_hash_table_destroy(state.queued);
	state.queued = nullptr;
	for (auto &list : state.lists) {
		for (GList *l = list; l; l = l->next)
			free_entry(static_cast<param_entry *>(l->data));
		g_list_free(list);
		list = nullptr;
	}
	state.initialised = false;
}

void param_clear_changes(void)
{
	write_guard guard;
	clear_changes_locked();
}

int param_set(struct param_value *value)
{
	return set_value(value, 0);
}

int param_set_silent(struct param_value *value)
{
	return set_value(value, STORE_SILENT);
}

int param_set_int(uint32_t id, int32_t stream_id, int32_t value)
{
	return set_simple(id, stream_id, value, nullptr, 0);
}

int param_set_int_silent(uint32_t id, int32_t stream_id, int32_t value)
{
	return set_simple(id, stream_id, value, nullptr, STORE_SILENT);
}

int param_set_fix(uint32_t id, int32_t stream_id, int32_t value)
{
	return param_set_int(id, stream_id, value);
}

int param_set_fix_silent(uint32_t id, int32_t stream_id, int32_t value)
{
	return param_set_int_silent(id, stream_id, value);
}

int param_set_string(uint32_t id, int32_t stream_id, const char *text)
{
	return set_simple(id, stream_id, 0, text, STORE_ALWAYS_CHANGED);
}

int param_set_string_silent(uint32_t id, int32_t stream_id, const char *text)
{
	return set_simple(id, stream_id, 0, text, STORE_ALWAYS_CHANGED | STORE_SILENT);
}

int param_reset(uint32_t id, int32_t stream_id)
{
	int r = set_simple(id, stream_id, 0, nullptr, STORE_RESET);
	if (r == -5)
		debug_output(DEBUG_ERROR, 0, "%s: default value out of valid range for parid %d\n",
		             "param_reset", (int)id);
	return r;
}

int param_set_default(uint32_t id, int32_t stream_id, int32_t value, const char *text)
{
	int r = edit_entry(id, stream_id, [&](param_entry *e, int32_t mapped) {
		stream_id = mapped;
		e->own_default = 1;
		e->own_default_value = value;
		g_free(e->own_default_text);
		e->own_default_text = g_strdup(text);
		if (!e->from_default)
			return 0;
		param_value rec = {};
		rec.id = id;
		rec.stream_id = mapped;
		return store(&rec, STORE_RESET);
	});
	if (r == 1)
		notify_change(id, stream_id);
	return r < 0 ? r : 0;
}

int param_set_range(uint32_t id, int32_t stream_id, const struct param_range *range)
{
	return edit_entry(id, stream_id, [&](param_entry *e, int32_t) {
		free_range(e->range);
		e->range = copy_range(range);
		return 0;
	});
}

int param_set_def(const struct param_value *value, const struct param_def *def)
{
	if (!value || !def || def->id != value->id)
		return -4;
	return edit_entry(value->id, value->stream_id, [&](param_entry *e, int32_t) {
		e->def = def;
		return 0;
	});
}

int param_set_notify_mode(uint32_t id, int32_t stream_id, uint32_t mode)
{
	return edit_entry(id, stream_id, [&](param_entry *e, int32_t) {
		e->value.notify_mode = mode;
		return 0;
	});
}

int param_get(struct param_value *value)
{
	if (!value)
		return -4;
	return read_entry(value->id, value->stream_id, [&](const param_entry *e) {
		if (!e->set)
			return -1;
		value->type = e->value.type;
		value->value = e->value.value;
		value->text = g_strdup(e->value.text);
		return 0;
	});
}

int param_get_int(uint32_t id, int32_t stream_id, int32_t *value)
{
	if (!value)
		return -4;
	param_value rec = {};
	rec.id = id;
	rec.stream_id = stream_id;
	int r = param_get(&rec);
	g_free(rec.text);
	if (r == 0)
		*value = rec.value;
	return r;
}

int param_get_string(uint32_t id, int32_t stream_id, char **text, int *length)
{
	param_value rec = {};
	rec.id = id;
	rec.stream_id = stream_id;
	int r = param_get(&rec);
	if (length)
		*length = rec.text ? (int)strlen(rec.text) : 0;
	if (text)
		*text = rec.text;
	else
		g_free(rec.text);
	return r;
}

int32_t param_get_simple(uint32_t id)
{
	int32_t value = 0;
	if (param_get_int(id, -1, &value) != 0) {
		debug_output(DEBUG_ERROR, 0, "Parameter %d is not set, can't get simple value!\n", (int)id);
		exit(1);
	}
	return value;
}

int param_is_set(const struct param_value *value)
{
	if (!value)
		return -4;
	return read_entry(value->id, value->stream_id, [](const param_entry *e) { return e->set ? 0 : -1; });
}

int param_is_default(uint32_t id, int32_t stream_id)
{
	if (check_args(id, stream_id) < 0)
		return 0;
	read_guard guard;
	param_entry *e = find_entry(id, map_stream(id, stream_id), true);
	return e ? e->from_default : 0;
}

int param_default_from_entry(uint32_t id, int32_t stream_id, int32_t *value, char **text)
{
	return read_entry(id, stream_id, [&](const param_entry *e) {
		if (!e->def) {
			debug_output(DEBUG_ERROR, 0, "%s: no param map for parid %d\n",
			             "param_default_from_entry", (int)id);
			return -2;
		}
		if (e->own_default) {
			if (value)
				*value = e->own_default_value;
			if (text)
				*text = g_strdup(e->own_default_text);
		} else if (e->def->type == PARAM_TYPE_STRING) {
			if (text)
				*text = g_strdup(e->def->def_text);
		} else if (value) {
			*value = e->def->def;
		}
		return 0;
	});
}

GList *param_get_streams(uint32_t id)
{
	if (!id_valid(id))
		return nullptr;
	read_guard guard;
	GList *streams = nullptr;
	for (GList *l = state.lists[id]; l; l = l->next)
		streams = g_list_append(
		    streams, GINT_TO_POINTER(static_cast<param_entry *>(l->data)->value.stream_id));
	return streams;
}

int param_get_range(uint32_t id, int32_t stream_id, struct param_range *range)
{
	if (!range)
		return -4;
	int r = check_args(id, stream_id);
	if (r < 0)
		return r;
	*range = {};
	read_guard guard;
	param_entry *e = find_entry(id, map_stream(id, stream_id), false);
	if (e && e->range) {
		param_range *copy = copy_range(e->range);
		*range = *copy;
		g_free(copy);
		return 0;
	}
	const struct param_def *d = e ? e->def : param_def(id);
	if (!d)
		return -2;
	range->min = d->min;
	range->max = d->max;
	if (d->type == PARAM_TYPE_ENUM && d->max >= 0) {
		range->count = (uint32_t)d->max + 1;
		range->values = g_new(uint32_t, range->count);
		for (uint32_t i = 0; i < range->count; i++)
			range->values[i] = i;
		range->names = g_strdupv(const_cast<char **>(d->enum_names));
	}
	return 0;
}

void param_range_clear(struct param_range *range)
{
	if (!range)
		return;
	g_free(range->values);
	g_strfreev(range->names);
	*range = {};
}

int param_value_valid(const struct param_value *value, const struct param_def *def)
{
	if (!def || !value)
		return 0;
	if (def->type == PARAM_TYPE_STRING)
		return value->text && strlen(value->text) <= PARAM_TEXT_MAX;
	return value->value >= def->min && value->value <= def->max;
}

int param_changes_pending(void)
{
	return changes_pending.load();
}

int param_get_save_pending(void)
{
	return save_pending.load();
}

void param_set_save_pending(int pending)
{
	save_pending = pending;
}

int32_t param_convert_enum_to_int(uint32_t id, int32_t stream_id, const char *name)
{
	param_range range;
	if (param_get_range(id, stream_id, &range) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not get range for param %d\n",
		             "param_convert_enum_to_int", (int)id);
		return INT32_MIN;
	}
	int32_t result = INT32_MIN;
	for (uint32_t i = 0; name && range.names && range.values && i < range.count && range.names[i]; i++) {
		if (strcmp(range.names[i], name) == 0) {
			result = (int32_t)range.values[i];
			break;
		}
	}
	param_range_clear(&range);
	return result;
}

char *param_convert_int_to_enum(uint32_t id, int32_t stream_id, int32_t value)
{
	param_range range;
	if (param_get_range(id, stream_id, &range) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not get range for param %d\n",
		             "param_convert_int_to_enum", (int)id);
		return nullptr;
	}
	char *result = nullptr;
	for (uint32_t i = 0; range.names && range.values && i < range.count && range.names[i]; i++) {
		if ((int32_t)range.values[i] == value) {
			result = g_strdup(range.names[i]);
			break;
		}
	}
	param_range_clear(&range);
	return result;
}

const char *param_map_get_enum_name(const struct param_value *value)
{
	if (!value)
		return nullptr;
	const struct param_def *d = param_def(value->id);
	if (!d) {
		debug_output(DEBUG_ERROR, 0, "Couldn't get param_map entry for param %d!\n", (int)value->id);
		return nullptr;
	}
	if (!d->enum_names) {
		debug_output(DEBUG_ERROR, 0, "No map in param_map entry for param %d!\n", (int)value->id);
		return nullptr;
	}
	if (value->value < d->min || value->value > d->max || value->value < 0) {
		debug_output(DEBUG_ERROR, 0, "Param %d value %d outside param_map min %d max %d!\n",
		             (int)value->id, value->value, d->min, d->max);
		return nullptr;
	}
	return d->enum_names[value->value];
}

GVariant *param_value_to_variant(const struct param_value *value, int enum_as_bytestring,
                                 int string_as_bytestring)
{
	if (!value)
		return nullptr;
	switch (value->type) {
	case PARAM_TYPE_UNKNOWN:
		debug_output(DEBUG_WARNING, 0, "Unknown parameter type for %d, going with int\n",
		             (int)value->id);
		return g_variant_new_int32(value->value);
	case PARAM_TYPE_INT:
		return g_variant_new_int32(value->value);
	case PARAM_TYPE_ENUM: {
		const char *name = param_map_get_enum_name(value);
		if (!name)
			return nullptr;
		return enum_as_bytestring ? g_variant_new_bytestring(name) : g_variant_new_string(name);
	}
	case PARAM_TYPE_FIX: {
		float f = (float)value->value * fx_xtof_tab[14];
		return g_variant_new_double((double)f);
	}
	case PARAM_TYPE_BOOL:
		return g_variant_new_boolean(value->value != 0);
	case PARAM_TYPE_STRING:
		if (!value->text)
			return nullptr;
		return string_as_bytestring ? g_variant_new_bytestring(value->text)
		                            : g_variant_new_string(value->text);
	default:
		debug_output(DEBUG_ERROR, 0, "ParamDB: unknown parameter type %d\n", (int)value->type);
		return nullptr;
	}
}

int param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn, uint32_t notify_mode,
                            void *user_data, void *block)
{
	if (!id_valid(id) || stream_id < -1)
		return -1;
	{
		read_guard guard;
		if (!state.lists[id])
			return -1;
	}
	if (param_set_notify_mode(id, stream_id, notify_mode) != 0)
		return -1;
	stream_id = map_stream(id, stream_id);
	write_guard guard;
	if (state.next_callback_id > INT32_MAX) {
		debug_output(DEBUG_ERROR, 0, "param_callback id wrapped, too many callbacks!\n");
		return -1;
	}
	param_entry *e = find_entry(id, stream_id, false);
	if (!e)
		return -1;
	param_callback *cb = g_new0(param_callback, 1);
	cb->id = (int32_t)state.next_callback_id++;
	cb->fn = fn;
	cb->user_data = user_data;
	cb->block = block;
	e->callbacks = g_list_prepend(e->callbacks, cb);
	return cb->id;
}

int param_register_callback_rec(param_callback_fn fn, void *user_data, void *block,
                                const struct param_value *value)
{
	if (!value)
		return -1;
	return param_register_callback(value->id, value->stream_id, fn, value->notify_mode, user_data, block);
}

int param_unregister_callback(int32_t callback_id, const struct param_value *value)
{
	if (callback_id < 0)
		return -1;
	if (!value || check_args(value->id, value->stream_id) < 0)
		return 0;
	write_guard guard;
	param_entry *e = find_entry(value->id, map_stream(value->id, value->stream_id), false);
	if (!e)
		return 0;
	for (GList *l = e->callbacks; l; l = l->next) {
		param_callback *cb = static_cast<param_callback *>(l->data);
		if (cb->id == callback_id) {
			e->callbacks = g_list_delete_link(e->callbacks, l);
			free_callback(cb);
			break;
		}
	}
	return 0;
}

void param_cb_helper_destroy(struct param_cb_helper *helper)
{
	if (!helper)
		return;
	param_value rec = {};
	rec.id = helper->id;
	rec.stream_id = helper->stream_id;
	if (param_unregister_callback(helper->callback_id, &rec) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Could not unregister callback for parid %d\n",
		             "param_cb_helper_destroy", (int)helper->id);
	g_free(helper);
}

void param_distribute_callback_one_change(void)
{
	changes_pending = 0;
	pthread_rwlock_wrlock(&lock);
	while (state.changes && !g_queue_is_empty(state.changes)) {
		change *c = static_cast<change *>(g_queue_pop_head(state.changes));
		g_hash_table_remove(state.queued, change_key(c->id, c->stream_id));
		uint32_t id = c->id;
		int32_t stream_id = c->stream_id;
		g_free(c);
		if (!id_valid(id) || stream_id < -1)
			continue;
		if (!state.lists[id]) {
			pthread_rwlock_unlock(&lock);
			debug_output(DEBUG_WARNING, 0, "%s: param %d not found in param_db\n",
			             "param_distribute_callback_one_change", (int)id);
			pthread_rwlock_wrlock(&lock);
			continue;
		}
		param_entry *e = find_entry(id, stream_id, false);
		if (!e) {
			pthread_rwlock_unlock(&lock);
			debug_output(DEBUG_WARNING, 0, "%s: no %d:%d db_entry found!\n",
			             "param_distribute_callback_one_change", (int)id, (int)stream_id);
			pthread_rwlock_wrlock(&lock);
			continue;
		}
		// Callbacks may register, unregister or set anything: keep only the
		// ids and find each callback again before calling it.
		std::vector<int32_t> ids;
		for (GList *l = e->callbacks; l; l = l->next)
			ids.push_back(static_cast<param_callback *>(l->data)->id);
		pthread_rwlock_unlock(&lock);
		for (int32_t cb_id : ids) {
			pthread_rwlock_rdlock(&lock);
			param_entry *entry = find_entry(id, stream_id, false);
			param_callback *cb = nullptr;
			for (GList *l = entry ? entry->callbacks : nullptr; l; l = l->next) {
				if (static_cast<param_callback *>(l->data)->id == cb_id) {
					cb = static_cast<param_callback *>(l->data);
					break;
				}
			}
			// Copies: a setter on another thread may replace the text (or
			// drop the callback) as soon as the lock is released.
			param_callback call = cb ? *cb : param_callback{};
			param_value record = entry ? entry->value : param_value{};
			record.text = g_strdup(record.text);
			pthread_rwlock_unlock(&lock);
			if (cb && call.fn)
				call.fn(call.user_data, call.block, &record, &call);
			g_free(record.text);
		}
		pthread_rwlock_wrlock(&lock);
	}
	pthread_rwlock_unlock(&lock);
}

void param_queue_all(void)
{
	write_guard guard;
	if (!state.changes)
		return;
	for (uint32_t id = 1; id <= PARAM_ID_MAX; id++)
		for (GList *l = state.lists[id]; l; l = l->next) {
			param_entry *e = static_cast<param_entry *>(l->data);
			if (e->set)
				queue_change(id, e->value.stream_id);
		}
}

void param_free_callbacks(void)
{
	write_guard guard;
	for (uint32_t id = 1; id <= PARAM_ID_MAX; id++) {
		if (!state.lists[id])
			continue;
		param_entry *e = static_cast<param_entry *>(state.lists[id]->data);
		g_list_free_full(e->callbacks, free_callback);
		e->callbacks = nullptr;
	}
}

namespace
{

// Under the write lock.
int remove_locked(uint32_t id, int32_t stream_id)
{
	param_entry *e = find_entry(id, stream_id, false);
	if (!e)
		return -1;
	if (state.changes)
		drop_change(id, stream_id);
	if (stream_id == -1) {
		if (e->def)
			e->value.value = e->def->def;
		return 0;
	}
	state.lists[id] = g_list_remove(state.lists[id], e);
	free_entry(e);
	return 0;
}

} // namespace

int param_remove(const struct param_value *value)
{
	if (!value || value->id > PARAM_ID_MAX || value->id == 0 || value->stream_id < -1)
		return -1;
	write_guard guard;
	return remove_locked(value->id, map_stream(value->id, value->stream_id));
}

int param_remove_stream(int32_t stream_id)
{
	if (stream_id < -1)
		return -4;
	write_guard guard;
	for (uint32_t id = 1; id <= PARAM_ID_MAX; id++)
		remove_locked(id, map_stream(id, stream_id));
	return 0;
}

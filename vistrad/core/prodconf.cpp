#include "prodconf.h"

#include <string.h>

#include "control.h"
#include "debug_output.h"
#include "platform/quillvane.h"
#include "prodconf_capture.h"
#include "prodconf_hooks.h"
#include "prodconf_hwsetup.h"
#include "prodconf_states.h"
#include "prodconf_tree.h"
#include "stream_map.h"

namespace
{

const char *const always_applies[] = {
    "ALGO_CREATE", "HARDWARE_SETUP", "SENSOR",       "OPTICS",    "IRCUT",       "QUILLVANE", "EIS",
    "IRIS",        "CAMBLOCK",       "LIGHT_SENSOR", "DATACACHE", "INPUTSOURCE", "FPGA",      "DEFAULT"};

int channel_of(int32_t stream_id)
{
	int c = stream_id_channel(stream_id);
	return c >= 0 && c < PRODCONF_CHANNELS ? c : 0;
}

gboolean valid_channel(int channel)
{
	return channel >= 0 && channel < PRODCONF_CHANNELS;
}

void kind_item_destroy(gpointer data, prodconf_destroy_fn destroy)
{
	if (destroy && data)
		destroy(data);
}

void kind_free(gpointer data)
{
	auto *kind = static_cast<prodconf_item_kind *>(data);
	if (!kind)
		return;
	if (kind->items) {
		GHashTableIter it;
		gpointer key, value;
		g_hash_table_iter_init(&it, kind->items);
		while (g_hash_table_iter_next(&it, &key, &value))
			kind_item_destroy(value, kind->destroy);
		g_hash_table_destroy(kind->items);
	}
	g_free(kind->name);
	g_free(kind);
}

GHashTable *string_table(GDestroyNotify value_free)
{
	return g_hash_table_new_full(g_str_hash, g_str_equal, g_free, value_free);
}

// Puts a value into a name registry; the same value again is accepted quietly.
void registry_put(GHashTable *table, const char *name, gpointer value)
{
	gpointer old;
	if (g_hash_table_lookup_extended(table, name, nullptr, &old)) {
		if (old == value)
			return;
		debug_output(DEBUG_WARNING, 0, "Prodconf: key %s already exist hash", name);
		debug_output(DEBUG_WARNING, 0, "replacing value %p with %p", old, value);
	}
	g_hash_table_insert(table, g_strdup(name), value);
}

void forget_kind_in_channels(prodconf *conf, prodconf_item_kind *kind)
{
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		if (!conf->created_kinds[c])
			continue;
		GHashTableIter it;
		gpointer key, value;
		g_hash_table_iter_init(&it, conf->created_kinds[c]);
		while (g_hash_table_iter_next(&it, &key, &value))
			if (value == kind)
				g_hash_table_iter_remove(&it);
	}
}

// Hands an item that is also a state to the platform's list of its type.
gboolean hand_to_platform(control *engine, uint32_t type, void *item, int32_t stream_id)
{
	switch (type) {
	case PRODCONF_STATE_SENSOR:
		control_add_sensor(engine, static_cast<sensor *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_IRIS:
		control_add_iris(engine, static_cast<iris *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_IRCUT:
		control_add_ircut(engine, static_cast<ircut *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_ZOOM:
		control_add_zoom(engine, static_cast<zoom_object *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_FOCUS:
		control_add_focus(engine, static_cast<focus_object *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_STABILIZER:
		control_add_stabilizer(engine, static_cast<stabilizer *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_QUILLVANE:
		control_add_quillvane(engine, static_cast<quillvane *>(item));
		return TRUE;
	case PRODCONF_STATE_LIGHT_SENSOR:
		control_add_light_sensor(engine, static_cast<light_sensor *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_DATACACHE:
		control_add_datacache(engine, static_cast<datacache *>(item), stream_id);
		return TRUE;
	case PRODCONF_STATE_DATACACHE_INPUT:
		control_add_input_source(engine, static_cast<input_source *>(item));
		return TRUE;
	case 5: // has no objects
	case PRODCONF_STATE_CAMBLOCK:
		return TRUE;
	default:
		debug_output(DEBUG_ERROR, 0, "Prodconf: cannot set unknown state type %d", (int)type);
		return FALSE;
	}
}

} // namespace

struct prodconf *prodconf_new(void)
{
	prodconf *conf = g_new0(prodconf, 1);
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		for (int t = 0; t < PRODCONF_STATE_TYPES; t++)
			conf->states[c][t] = PRODCONF_STATE_UNSET;
		conf->states[c][PRODCONF_STATE_CHANNEL] = (uint32_t)c;
	}
	conf->kinds = string_table(kind_free);
	conf->state_names = string_table(g_free);
	conf->constants_hash = string_table(nullptr);
	conf->callbacks = string_table(g_free);
	conf->functions = string_table(nullptr);
	conf->macros = string_table(g_free);
	conf->boot_states = string_table(g_free);
	// Its own copies of the keys: a node may be renamed while the scan runs.
	conf->sections = string_table(nullptr);
	conf->root = prodconf_node_new(nullptr, "ROOT");
	prodconf_register_builtin_states(conf);
	prodconf_register_capture_callbacks(conf);
	prodconf_register_hooks(conf);
	return conf;
}

void prodconf_free(struct prodconf *conf)
{
	if (!conf)
		return;
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		prodconf_product_constants_clear(&conf->constants[c]);
		g_list_free(conf->substreams[c]);
		g_list_free_full(conf->selected_modules[c], g_free);
		if (conf->created_kinds[c])
			g_hash_table_destroy(conf->created_kinds[c]);
		g_list_free_full(conf->param_callbacks[c], g_free);
		g_list_free_full(conf->temp_callbacks[c], prodconf_temp_record_free);
		g_list_free(conf->created_streams[c]);
	}
	g_hash_table_destroy(conf->sections);
	prodconf_node_free(conf->root);
	g_hash_table_destroy(conf->kinds);
	g_hash_table_destroy(conf->state_names);
	g_hash_table_destroy(conf->constants_hash);
	g_hash_table_destroy(conf->callbacks);
	g_hash_table_destroy(conf->functions);
	g_hash_table_destroy(conf->macros);
	g_hash_table_destroy(conf->boot_states);
	g_free(conf);
}

void prodconf_add_state(struct prodconf *conf, const char *name, uint32_t type, uint32_t value)
{
	if (!conf || !name)
		return;
	const prodconf_state *old = prodconf_lookup_state(conf, name);
	if (old) {
		// The built-in table repeats one capture mode; the same row again is no news.
		if (old->type != type || old->value != value)
			debug_output(DEBUG_WARNING, 0, "%s: state %s already added to hash",
			             "prodconf_default_add_item", name);
		return;
	}
	prodconf_state *state = g_new0(prodconf_state, 1);
	state->type = type;
	state->value = value;
	g_hash_table_insert(conf->state_names, g_strdup(name), state);
}

const struct prodconf_state *prodconf_lookup_state(struct prodconf *conf, const char *name)
{
	if (!conf || !name)
		return nullptr;
	return static_cast<const prodconf_state *>(g_hash_table_lookup(conf->state_names, name));
}

void prodconf_default_add_item(struct prodconf *conf, const char *name, prodconf_create_fn create,
                               prodconf_destroy_fn destroy, prodconf_start_fn start, int is_state,
                               uint32_t state_type)
{
	if (!conf || !name)
		return;
	auto *old = static_cast<prodconf_item_kind *>(g_hash_table_lookup(conf->kinds, name));
	if (old) {
		debug_output(DEBUG_WARNING, 0, "%s: item %s already added to hash",
		             "prodconf_default_add_item", name);
		forget_kind_in_channels(conf, old);
	}
	prodconf_item_kind *kind = g_new0(prodconf_item_kind, 1);
	kind->name = g_strdup(name);
	kind->create = create;
	kind->destroy = destroy;
	kind->start = start;
	kind->items = g_hash_table_new(g_direct_hash, g_direct_equal);
	g_hash_table_replace(conf->kinds, g_strdup(name), kind);

	if (!is_state || state_type >= PRODCONF_STATE_TYPES)
		return;
	if (g_hash_table_contains(conf->state_names, name)) {
		debug_output(DEBUG_WARNING, 0, "%s: state %s already added to hash",
		             "prodconf_default_add_item", name);
		return;
	}
	prodconf_add_state(conf, name, state_type, conf->next_state_value[state_type]++);
}

void prodconf_add_constant(struct prodconf *conf, const char *name, intptr_t value)
{
	if (conf && name)
		registry_put(conf->constants_hash, name, (gpointer)value);
}

gboolean prodconf_lookup_constant(struct prodconf *conf, const char *name, intptr_t *value)
{
	gpointer found;
	if (!conf || !name || !g_hash_table_lookup_extended(conf->constants_hash, name, nullptr, &found))
		return FALSE;
	if (value)
		*value = (intptr_t)found;
	return TRUE;
}

void prodconf_add_function(struct prodconf *conf, const char *name, prodconf_func function)
{
	if (conf && name)
		registry_put(conf->functions, name, (gpointer)function);
}

prodconf_func prodconf_lookup_function(struct prodconf *conf, const char *name, gboolean *found)
{
	gpointer value = nullptr;
	gboolean ok = conf && name && g_hash_table_lookup_extended(conf->functions, name, nullptr, &value);
	if (found)
		*found = ok;
	return ok ? (prodconf_func)value : nullptr;
}

gboolean prodconf_add_boot_state(struct prodconf *conf, const char *name, const char *value)
{
	if (!conf || !name || !value)
		return FALSE;
	if (g_hash_table_contains(conf->boot_states, name))
		return FALSE;
	g_hash_table_insert(conf->boot_states, g_strdup(name), g_strdup(value));
	return TRUE;
}

uint32_t prodconf_get_state(struct prodconf *conf, int channel, uint32_t type)
{
	if (!conf || !valid_channel(channel) || type >= PRODCONF_STATE_TYPES)
		return PRODCONF_STATE_UNSET;
	return conf->states[channel][type];
}

void prodconf_set_state(struct prodconf *conf, int channel, uint32_t type, uint32_t value)
{
	if (conf && valid_channel(channel) && type < PRODCONF_STATE_TYPES)
		conf->states[channel][type] = value;
}

int prodconf_select_module(struct prodconf *conf, int channel, uint32_t type, const char *name)
{
	if (!conf || !name || !valid_channel(channel) || type >= PRODCONF_STATE_TYPES)
		return -1;
	const prodconf_state *state = prodconf_lookup_state(conf, name);
	if (!state) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: name %s does not appear to be a prodconf_state",
		             name);
		return -1;
	}
	conf->states[channel][type] = state->value;
	conf->selected_modules[channel] = g_list_prepend(conf->selected_modules[channel], g_strdup(name));
	return 0;
}

void *prodconf_create_item(struct prodconf *conf, struct control *engine, int32_t stream_id, const char *name)
{
	if (!conf || !name)
		return nullptr;
	auto *kind = static_cast<prodconf_item_kind *>(g_hash_table_lookup(conf->kinds, name));
	if (!kind || !kind->create) {
		debug_output(DEBUG_WARNING, 0, "Entry '%s' not recognized/has no create func", name);
		return nullptr;
	}
	void *item = kind->create(conf, engine, stream_id);
	if (!item) {
		debug_output(DEBUG_ERROR, 0, "Failed to create item for entry '%s'", name);
		return nullptr;
	}
	int channel = channel_of(stream_id);
	const prodconf_state *state = prodconf_lookup_state(conf, name);
	if (state) {
		if (hand_to_platform(engine, state->type, item, stream_id) &&
		    state->type < PRODCONF_STATE_TYPES)
			conf->states[channel][state->type] = state->value;
		if (kind->destroy)
			debug_output(DEBUG_WARNING, 0, "%s shouldn't contain destroy_item", name);
		return item;
	}
	gpointer key = GINT_TO_POINTER(stream_id);
	gpointer earlier = g_hash_table_lookup(kind->items, key);
	if (earlier && earlier != item)
		kind_item_destroy(earlier, kind->destroy);
	g_hash_table_insert(kind->items, key, item);
	if (!conf->created_kinds[channel])
		conf->created_kinds[channel] =
		    g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
	g_hash_table_replace(conf->created_kinds[channel], g_strdup(name), kind);
	return item;
}

void *prodconf_get_item(struct prodconf *conf, const char *name, int32_t stream_id)
{
	if (!conf || !name)
		return nullptr;
	auto *kind = static_cast<prodconf_item_kind *>(g_hash_table_lookup(conf->kinds, name));
	return kind ? g_hash_table_lookup(kind->items, GINT_TO_POINTER(stream_id)) : nullptr;
}

gboolean prodconf_is_restriction_key(struct prodconf *conf, const char *key)
{
	if (!conf || !key)
		return FALSE;
	if (g_hash_table_contains(conf->state_names, key))
		return TRUE;
	const char *underscore = strchr(key, '_');
	if (!underscore || underscore == key)
		return FALSE;
	char *prefix = g_strndup(key, (gsize)(underscore - key));
	gboolean boot = g_hash_table_contains(conf->boot_states, prefix);
	g_free(prefix);
	return boot;
}

gboolean restriction_ok_with_state(struct prodconf *conf, struct prodconf_node *node, int32_t stream_id)
{
	if (!conf || !node || !node->key)
		return TRUE;
	const char *key = node->key;
	const char *underscore = strchr(key, '_');
	if (underscore && underscore != key) {
		char *prefix = g_strndup(key, (gsize)(underscore - key));
		auto *boot = static_cast<const char *>(g_hash_table_lookup(conf->boot_states, prefix));
		g_free(prefix);
		if (boot)
			return strcmp(underscore + 1, boot) == 0;
	}
	const prodconf_state *state = prodconf_lookup_state(conf, key);
	if (state) {
		if (state->type >= PRODCONF_STATE_TYPES)
			return TRUE;
		uint32_t now = conf->states[channel_of(stream_id)][state->type];
		return now == PRODCONF_STATE_UNSET || now == PRODCONF_STATE_NONE || now == state->value;
	}
	for (const char *name : always_applies)
		if (strcmp(key, name) == 0)
			return TRUE;
	debug_output(DEBUG_WARNING, 0, "%s: Prodconf did not recognize %s as a state (add?)\n",
	             "restriction_ok_with_state", key);
	return TRUE;
}

char **prodconf_get_child_names(struct prodconf *conf, const char *item, int32_t stream_id, size_t *count)
{
	if (count)
		*count = 0;
	prodconf_node *section = prodconf_section(conf, item);
	if (!section) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: unknown item %s", item ? item : "(null)");
		return nullptr;
	}
	GList *children = prodconf_visible_children(conf, section, stream_id, TRUE);
	guint n = g_list_length(children);
	char **names = g_new0(char *, n + 1);
	guint i = 0;
	for (GList *l = children; l; l = l->next) {
		auto *node = static_cast<prodconf_node *>(l->data);
		if (node->key)
			names[i++] = g_strdup(node->key);
	}
	g_list_free(children);
	if (count)
		*count = i;
	return names;
}

namespace
{

prodconf_node_handle *make_handle(prodconf_node *node)
{
	if (!node)
		return nullptr;
	prodconf_node_handle *handle = g_new0(prodconf_node_handle, 1);
	handle->key = node->key;
	handle->node = node;
	return handle;
}

} // namespace

struct prodconf_node_handle *prodconf_get_node(struct prodconf *conf, const char *section, int32_t)
{
	return make_handle(prodconf_section(conf, section));
}

struct prodconf_node_handle *prodconf_get_child_node(struct prodconf *conf,
                                                     const struct prodconf_node_handle *handle,
                                                     const char *key, int32_t stream_id)
{
	if (!conf || !handle || !key)
		return nullptr;
	return make_handle(prodconf_find_child(conf, handle->node, key, stream_id));
}

struct prodconf_node_iter *
prodconf_get_child_nodes(struct prodconf *conf, const struct prodconf_node_handle *handle, int32_t stream_id)
{
	if (!conf || !handle)
		return nullptr;
	prodconf_node_iter *iter = g_new0(prodconf_node_iter, 1);
	iter->nodes = prodconf_visible_children(conf, handle->node, stream_id, TRUE);
	return iter;
}

struct prodconf_node_handle *prodconf_node_iter_next(struct prodconf *, struct prodconf_node_iter *iter)
{
	if (!iter || !iter->nodes)
		return nullptr;
	auto *node = static_cast<prodconf_node *>(iter->nodes->data);
	iter->nodes = g_list_delete_link(iter->nodes, iter->nodes);
	return make_handle(node);
}

void prodconf_node_iter_free(struct prodconf_node_iter *iter)
{
	if (!iter)
		return;
	g_list_free(iter->nodes);
	g_free(iter);
}

void prodconf_node_handle_free(struct prodconf_node_handle *handle)
{
	g_free(handle);
}

char *prodconf_node_get_string(struct prodconf *conf, const struct prodconf_node_handle *handle, int32_t)
{
	if (!conf || !handle || !handle->node)
		return nullptr;
	prodconf_node *node = handle->node;
	if (node->value_count != 1 || !node->values || !node->values[0]) {
		debug_output(DEBUG_ERROR, 0, "Multiple values (%zu) in key %s, expected single string",
		             (size_t)node->value_count, node->key ? node->key : "(null)");
		return nullptr;
	}
	return g_strdup(prodconf_macro(conf, node->values[0]));
}

size_t prodconf_node_get_floats(struct prodconf *conf, const struct prodconf_node_handle *handle,
                                int32_t stream_id, float **values)
{
	if (values)
		*values = nullptr;
	if (!conf || !handle || !handle->node || !values)
		return 0;
	prodconf_field field = {};
	field.key = handle->node->key;
	field.kind = PRODCONF_FLOAT2;
	field.dynamic = 1;
	uint64_t count = 0;
	if (!prodconf_read_node_entry(conf, handle->node, &field, stream_id, values, &count) || !count) {
		debug_output(DEBUG_WARNING, 0, "No float values found for key %s.",
		             field.key ? field.key : "(null)");
		g_free(*values);
		*values = nullptr;
		return 0;
	}
	return (size_t)count;
}

int prodconf_video_control(const struct prodconf *conf)
{
	return conf && conf->video_control;
}

int prodconf_channel_count(const struct prodconf *conf)
{
	if (!conf)
		return 1;
	const prodconf_product_constants *pc = &conf->constants[0];
	int count = pc->image_sources;
	for (uint64_t i = 0; pc->channels && i < pc->channel_count; i++)
		if (valid_channel(pc->channels[i]) && pc->channels[i] + 1 > count)
			count = pc->channels[i] + 1;
	return CLAMP(count, 1, PRODCONF_CHANNELS);
}

// Hardware and algorithm set-up per channel and stream: the modules named
// under HARDWARE_SETUP and ALGO_CREATE, the callbacks a configuration asks
// for, and their removal at stop.

#include "prodconf_hwsetup.h"

#include <string.h>

#include <string>

#include "control.h"
#include "control_temperature.h"
#include "debug_output.h"
#include "platform/datacache.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "prodconf.h"
#include "prodconf_schema_build.h"
#include "prodconf_tree.h"
#include "stream_map.h"

namespace
{

int channel_of(int32_t stream_id)
{
	int c = stream_id_channel(stream_id);
	return c >= 0 && c < PRODCONF_CHANNELS ? c : 0;
}

// Kinds made in one walk, as "name/stream": a dual layout maps several
// sub-indexes to one stream id, and a second creation would destroy an item
// the first pass still uses.
typedef GHashTable made_set;

gboolean first_time(made_set *made, const char *name, int32_t stream_id)
{
	if (!made)
		return TRUE;
	std::string key = std::string(name) + "/" + std::to_string(stream_id);
	if (g_hash_table_contains(made, key.c_str()))
		return FALSE;
	g_hash_table_add(made, g_strdup(key.c_str()));
	return TRUE;
}

// Depth first: a node that holds for the stream creates its values in order,
// then its children; one that does not hold is skipped with all below it.
void create_walk(prodconf *conf, control *engine, prodconf_node *node, int32_t stream_id, made_set *made)
{
	if (!restriction_ok_with_state(conf, node, stream_id))
		return;
	for (char **v = node->values; v && *v; v++) {
		const char *name = prodconf_macro(conf, *v);
		if (first_time(made, name, stream_id))
			prodconf_create_item(conf, engine, stream_id, name);
	}
	for (prodconf_node *child = node->first_child; child; child = child->next)
		create_walk(conf, engine, child, stream_id, made);
}

// The texts a node lists for a stream, with those of its children that hold.
void collect_values(prodconf *conf, prodconf_node *node, int32_t stream_id, GPtrArray *out)
{
	for (char **v = node->values; v && *v; v++)
		g_ptr_array_add(out, (gpointer)prodconf_macro(conf, *v));
	for (prodconf_node *child = node->first_child; child; child = child->next)
		if (restriction_ok_with_state(conf, child, stream_id))
			collect_values(conf, child, stream_id, out);
}

// The section's own key is no condition.
GPtrArray *section_values(prodconf *conf, const char *section, int32_t stream_id)
{
	GPtrArray *out = g_ptr_array_new();
	prodconf_node *node = prodconf_section(conf, section);
	if (node)
		collect_values(conf, node, stream_id, out);
	return out;
}

platform *platform_of(control *engine)
{
	return engine ? control_get_platform(engine) : nullptr;
}

int restart_streaming(platform *plat, int32_t stream_id)
{
	int r = platform_stream_stop(plat, stream_id);
	if (r == PLATFORM_OK)
		r = platform_stream_prepare(plat, stream_id);
	if (r == PLATFORM_OK)
		r = platform_stream_start(plat, stream_id);
	return r;
}

const char *const temp_keys[] = {"SENSOR_ID", "LIMIT", "ACTIVE_OVER", "CALLBACK_FUNC"};

struct temp_settings {
	int32_t sensor_id;
	int32_t limit;
	uint8_t active_over;
	prodconf_func callback;
};

gboolean read_temp_settings(prodconf *conf, const char *item, int32_t stream_id, temp_settings *out)
{
	const prodconf_field fields[] = {
	    prodconf_field_make(temp_keys[0], PRODCONF_INT, PRODCONF_REQUIRED, 0),
	    prodconf_field_make(temp_keys[1], PRODCONF_INT, PRODCONF_REQUIRED, 0),
	    prodconf_field_make(temp_keys[2], PRODCONF_BOOL, PRODCONF_REQUIRED, 0),
	    prodconf_field_make(temp_keys[3], PRODCONF_FUNCTION, PRODCONF_REQUIRED, 0),
	};
	void *destinations[] = {&out->sensor_id, &out->limit, &out->active_over, &out->callback};
	for (size_t i = 0; i < G_N_ELEMENTS(fields); i++) {
		if (!prodconf_read_entry(conf, item, &fields[i], stream_id, destinations[i], nullptr)) {
			debug_output(DEBUG_ERROR, 0, "%s: no info for node %s in %s\n",
			             "prodconf_register_temp_callback", temp_keys[i], item);
			return FALSE;
		}
	}
	return TRUE;
}

void each_created_item(prodconf *conf, int channel, void (*fn)(prodconf_item_kind *, int32_t, void *),
                       void *data)
{
	if (!conf->created_kinds[channel])
		return;
	GHashTableIter it;
	gpointer key, value;
	g_hash_table_iter_init(&it, conf->created_kinds[channel]);
	while (g_hash_table_iter_next(&it, &key, &value))
		for (GList *s = conf->created_streams[channel]; s; s = s->next)
			fn(static_cast<prodconf_item_kind *>(value), GPOINTER_TO_INT(s->data), data);
}

void destroy_item(prodconf_item_kind *kind, int32_t stream_id, void *)
{
	gpointer key = GINT_TO_POINTER(stream_id);
	gpointer item = g_hash_table_lookup(kind->items, key);
	if (!item)
		return;
	g_hash_table_remove(kind->items, key);
	if (kind->destroy)
		kind->destroy(item);
}

struct start_args {
	prodconf *conf;
	control *engine;
};

void start_item(prodconf_item_kind *kind, int32_t stream_id, void *data)
{
	auto *args = static_cast<start_args *>(data);
	gpointer item = g_hash_table_lookup(kind->items, GINT_TO_POINTER(stream_id));
	if (kind->start && item)
		kind->start(item, args->conf, args->engine, stream_id);
}

void unregister_param_callback(gpointer data)
{
	auto *row = static_cast<prodconf_param_callback *>(data);
	param_value rec = {};
	rec.id = row->param_id;
	rec.stream_id = row->stream_id;
	if (param_unregister_callback(row->callback_id, &rec) != 0)
		debug_output(DEBUG_ERROR, 0, "Prodconf: fail to unregister callback %s (sid %d)\n", row->name,
		             (int)row->stream_id);
	g_free(row);
}

} // namespace

void prodconf_add_param_callback(struct prodconf *conf, const char *name, uint32_t param_id,
                                 param_callback_fn callback)
{
	if (!conf || !name)
		return;
	prodconf_param_callback *row = g_new0(prodconf_param_callback, 1);
	row->param_id = param_id;
	row->callback_id = -1;
	row->stream_id = -1;
	row->callback = callback;
	row->name = name;
	g_hash_table_replace(conf->callbacks, g_strdup(name), row);
}

void prodconf_temp_record_free(gpointer record)
{
	auto *limit = static_cast<control_temperature_limit *>(record);
	if (!limit)
		return;
	g_free(limit->user_data);
	g_free(limit);
}

void setup_hardware_items(struct prodconf *conf, struct control *engine, int channel)
{
	if (!conf || channel < 0 || channel >= PRODCONF_CHANNELS)
		return;
	int32_t stream_id = channel * 256;
	GList *selected = conf->selected_modules[channel];
	conf->selected_modules[channel] = nullptr;
	for (GList *l = selected; l; l = l->next)
		prodconf_create_item(conf, engine, stream_id, static_cast<const char *>(l->data));
	g_list_free_full(selected, g_free);

	prodconf_node *section = prodconf_section(conf, "HARDWARE_SETUP");
	if (!section) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: no %s directive\n", "HARDWARE_SETUP");
		return;
	}
	create_walk(conf, engine, section, stream_id, nullptr);

	platform *plat = platform_of(engine);
	sensor *sens = platform_get_sensor_for_stream(plat, stream_id);
	if (sens && sensor_setup(sens, stream_id) != 0)
		debug_output(DEBUG_ERROR, 0, "%s: could not setup sensor properly\n", "setup_hardware_items");
	datacache *cache = platform_get_datacache(plat, stream_id);
	if (cache && datacache_setup(cache, stream_id) != PLATFORM_OK)
		debug_output(DEBUG_ERROR, 0, "%s: could not setup datacache properly\n",
		             "setup_hardware_items");
}

void prodconf_register_param_callback(struct prodconf *conf, struct control *engine, const char *name,
                                      int32_t stream_id)
{
	auto *row = static_cast<prodconf_param_callback *>(
	    conf && name ? g_hash_table_lookup(conf->callbacks, name) : nullptr);
	if (!row) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: callback for %s unidentified\n",
		             name ? name : "(null)");
		return;
	}
	prodconf_callback_block *block = g_new0(prodconf_callback_block, 1);
	block->conf = conf;
	block->stream_id = stream_id;
	int id = param_register_callback(row->param_id, stream_id, row->callback, PARAM_NOTIFY_ON_CHANGE,
	                                 engine, block);
	if (id < 0) {
		// The database did not take the block; a refused row stays out of the
		// list so the stop hook has nothing of it to unregister.
		debug_output(DEBUG_ERROR, 0, "Prodconf: failed to register callback id for %s\n", name);
		g_free(block);
		return;
	}
	auto *copy = static_cast<prodconf_param_callback *>(g_memdup2(row, sizeof(*row)));
	copy->stream_id = stream_id;
	copy->callback_id = id;
	int c = channel_of(stream_id);
	conf->param_callbacks[c] = g_list_append(conf->param_callbacks[c], copy);
}

void prodconf_register_temp_callback(struct prodconf *conf, struct control *engine, const char *item,
                                     int32_t stream_id)
{
	if (!conf || !item || !prodconf_section(conf, item)) {
		debug_output(DEBUG_ERROR, 0, "%s: could not find temperature item %s\n",
		             "prodconf_register_temp_callback", item ? item : "(null)");
		return;
	}
	temp_settings settings = {};
	if (!read_temp_settings(conf, item, stream_id, &settings))
		return;
	int32_t *stream_copy = g_new(int32_t, 1);
	*stream_copy = stream_id;
	control_temperature_limit *limit = control_register_temperature_limit(
	    engine, (uint32_t)settings.sensor_id, settings.limit, settings.active_over,
	    reinterpret_cast<control_temperature_fn>(settings.callback), stream_copy);
	if (!limit) {
		// The engine has freed its record already: keeping it would free it twice.
		debug_output(DEBUG_ERROR, 0, "Could not register temp callback for %s\n", item);
		g_free(stream_copy);
		return;
	}
	int c = channel_of(stream_id);
	conf->temp_callbacks[c] = g_list_append(conf->temp_callbacks[c], limit);
}

void prodconf_register_callbacks(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	GPtrArray *names = section_values(conf, "REGISTER_CALLBACKS", stream_id);
	for (guint i = 0; i < names->len; i++)
		prodconf_register_param_callback(conf, engine, static_cast<const char *>(names->pdata[i]),
		                                 stream_id);
	g_ptr_array_free(names, TRUE);
	names = section_values(conf, "REGISTER_TEMP_CALLBACKS", stream_id);
	for (guint i = 0; i < names->len; i++)
		prodconf_register_temp_callback(conf, engine, static_cast<const char *>(names->pdata[i]),
		                                stream_id);
	g_ptr_array_free(names, TRUE);
}

int prodconf_run(struct prodconf *conf, struct control *engine, GList *stream_ids)
{
	if (!conf)
		return 0;
	int result = 0;
	for (GList *l = stream_ids; l; l = l->next) {
		int32_t s = GPOINTER_TO_INT(l->data);
		int c = channel_of(s);
		prodconf_run_function_list(conf, engine, c, "CAMERA_MODE");
		setup_hardware_items(conf, engine, c);
		prodconf_register_callbacks(conf, engine, s);
		prodconf_run_function_list(conf, engine, c, "CUSTOM_FUNCTIONS");
		if (restart_streaming(platform_of(engine), s) != PLATFORM_OK) {
			debug_output(DEBUG_ERROR, 0, "Failed to start/stop streaming\n");
			result--;
		}
	}
	return result;
}

int prodconf_create_algos(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	if (!conf)
		return -1;
	int c = channel_of(stream_id);
	if (!platform_get_sensor_for_stream(platform_of(engine), stream_id)) {
		debug_output(DEBUG_INFO, 0, "%s:No sensor connected for stream %d\n", "prodconf_create_algos",
		             (int)stream_id);
		return -1;
	}
	GList *fallback = nullptr;
	GList *indexes = conf->substreams[c];
	if (!indexes) {
		debug_output(DEBUG_WARNING, 0, "%s: no streams setup, using 0 for channel %d\n",
		             "prodconf_create_algos", c);
		indexes = fallback = g_list_append(nullptr, GINT_TO_POINTER(0));
	}
	prodconf_node *section = prodconf_section(conf, "ALGO_CREATE");
	if (!section) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: no algos found to create\n");
		g_list_free(fallback);
		return -1;
	}
	if (conf->created_kinds[c])
		g_hash_table_destroy(conf->created_kinds[c]);
	conf->created_kinds[c] = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
	made_set *made = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
	for (GList *l = indexes; l; l = l->next) {
		int i = GPOINTER_TO_INT(l->data);
		int32_t sid = stream_map_stream_id(c * 256 + i, i);
		prodconf_set_state(conf, c, PRODCONF_STATE_DUAL_EXPOSURE, (uint32_t)i);
		create_walk(conf, engine, section, sid, made);
		if (!g_list_find(conf->created_streams[c], GINT_TO_POINTER(sid)))
			conf->created_streams[c] =
			    g_list_append(conf->created_streams[c], GINT_TO_POINTER(sid));
	}
	g_hash_table_destroy(made);
	g_list_free(fallback);
	return 0;
}

int prodconf_destroy_algos(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	if (!conf)
		return 0;
	int c = channel_of(stream_id);
	for (GList *s = conf->created_streams[c]; s && engine; s = s->next)
		control_remove_groups_of_owner(engine, (uint32_t)GPOINTER_TO_INT(s->data));
	each_created_item(conf, c, destroy_item, nullptr);
	if (conf->created_kinds[c])
		g_hash_table_destroy(conf->created_kinds[c]);
	conf->created_kinds[c] = nullptr;
	g_list_free(conf->created_streams[c]);
	conf->created_streams[c] = nullptr;
	return 0;
}

int prodconf_start_items(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	if (!conf)
		return 0;
	start_args args = {conf, engine};
	each_created_item(conf, channel_of(stream_id), start_item, &args);
	return 0;
}

int prodconf_stop(struct prodconf *conf, struct control *engine)
{
	if (!conf)
		return 0;
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		g_list_free_full(conf->param_callbacks[c], unregister_param_callback);
		conf->param_callbacks[c] = nullptr;
		for (GList *l = conf->temp_callbacks[c]; l; l = l->next)
			control_unregister_temperature_limit(
			    engine, static_cast<control_temperature_limit *>(l->data));
		g_list_free_full(conf->temp_callbacks[c], prodconf_temp_record_free);
		conf->temp_callbacks[c] = nullptr;
	}
	return 0;
}

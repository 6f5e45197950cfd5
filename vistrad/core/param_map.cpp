#include "param_map.h"

#include <glib.h>
#include <string.h>

#include "debug_output.h"

namespace
{

const struct param_def *table = param_map_table;
GHashTable *by_id;
GHashTable *by_name;

} // namespace

void param_map_use_table(const struct param_def *rows)
{
	table = rows ? rows : param_map_table;
}

void param_map_free(void)
{
	if (by_id)
		g_hash_table_destroy(by_id);
	if (by_name)
		g_hash_table_destroy(by_name);
	by_id = nullptr;
	by_name = nullptr;
}

int param_map_init(void)
{
	param_map_free();
	by_id = g_hash_table_new(g_direct_hash, g_direct_equal);
	by_name = g_hash_table_new(g_str_hash, g_str_equal);
	int duplicates = 0;
	for (const struct param_def *row = table; row->id != 0; row++) {
		gpointer key = GUINT_TO_POINTER(row->id);
		if (g_hash_table_contains(by_id, key)) {
			debug_output(DEBUG_WARNING, 0,
			             "Param map: duplicate entries found for param_id %d (%s)\n",
			             (int)row->id, row->name);
			duplicates++;
		}
		g_hash_table_insert(by_id, key, (gpointer)row);
		if (g_hash_table_contains(by_name, row->name)) {
			debug_output(DEBUG_WARNING, 0, "Param map: duplicate entries found for name %s\n",
			             row->name);
			duplicates++;
		}
		g_hash_table_insert(by_name, (gpointer)row->name, (gpointer)row);
	}
	return -duplicates;
}

const struct param_def *param_def(uint32_t id)
{
	if (by_id)
		return static_cast<const struct param_def *>(
		    g_hash_table_lookup(by_id, GUINT_TO_POINTER(id)));
	debug_output(DEBUG_WARNING, 0, "param_def: no param_map_hash, param_map_init() should run\n");
	if (id == 0)
		return nullptr;
	for (const struct param_def *row = table; row->id != 0; row++)
		if (row->id == id)
			return row;
	return nullptr;
}

const struct param_def *param_def_by_name(const char *name)
{
	if (!name)
		return nullptr;
	if (by_name)
		return static_cast<const struct param_def *>(g_hash_table_lookup(by_name, name));
	for (const struct param_def *row = table; row->id != 0; row++)
		if (strcmp(row->name, name) == 0)
			return row;
	return nullptr;
}

const struct param_def *param_def_by_index(int index)
{
	if (index < 0)
		return nullptr;
	for (int i = 0;; i++) {
		if (i == index)
			return &table[i];
		if (table[i].id == 0)
			return nullptr;
	}
}

const struct param_def *param_def_by_key(const char *group, const char *key)
{
	if (!key)
		return nullptr;
	for (const struct param_def *row = table; row->id != 0; row++) {
		if (strcmp(row->key, key) != 0)
			continue;
		if (group && (!row->group || strcmp(row->group, group) != 0))
			continue;
		return row;
	}
	return nullptr;
}

int param_map_convert_enum(const struct param_def *row, const char *name, int32_t *value)
{
	if (!row || !row->enum_names || !name || !value) {
		debug_output(DEBUG_WARNING, 0, "%s: in parameters are bad\n", "param_map_convert_enum");
		return -1;
	}
	for (int32_t v = row->min < 0 ? 0 : row->min; v <= row->max; v++) {
		if (!row->enum_names[v])
			break;
		if (strcmp(row->enum_names[v], name) == 0) {
			*value = v;
			return 0;
		}
	}
	debug_output(DEBUG_WARNING, 0, "%s: did not find value %s for param %s\n", "param_map_convert_enum",
	             name, row->name);
	return -1;
}

#include "settings_store.h"

#include <glib.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "prodconf_startup.h"

namespace
{

GHashTable *store; // group -> (key -> settings_value)

void free_value(gpointer data)
{
	auto *value = static_cast<settings_value *>(data);
	g_free(value->text);
	g_free(value);
}

void free_group(gpointer data)
{
	g_hash_table_destroy(static_cast<GHashTable *>(data));
}

settings_value *copy_value(const settings_value *value)
{
	auto *copy = g_new0(settings_value, 1);
	copy->type = value->type;
	copy->number = value->number;
	copy->text = g_strdup(value->text);
	return copy;
}

GHashTable *group_table(const char *group, bool create)
{
	if (!store) {
		if (!create)
			return nullptr;
		settings_store_create();
	}
	auto *keys = static_cast<GHashTable *>(g_hash_table_lookup(store, group));
	if (!keys && create) {
		keys = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, free_value);
		g_hash_table_insert(store, g_strdup(group), keys);
	}
	return keys;
}

const settings_value *lookup(const char *key, const char *group, uint32_t type)
{
	if (!key || !group)
		return nullptr;
	GHashTable *keys = group_table(group, false);
	auto *value = keys ? static_cast<const settings_value *>(g_hash_table_lookup(keys, key)) : nullptr;
	return value && value->type == type ? value : nullptr;
}

// 0 when read and stored or when a missing value may be missing. *read is
// set, with the number, when a value was stored.
int read_one(GKeyFile *key_file, const settings_descriptor *d, const char *group, int override_flag,
             int32_t *number, bool *read)
{
	*read = false;
	GError *error = nullptr;
	settings_value value = {d->type, 0, nullptr};
	if (d->type == SETTINGS_INT)
		value.number = g_key_file_get_integer(key_file, group, d->key, &error);
	else if (d->type == SETTINGS_TEXT)
		value.text = g_key_file_get_string(key_file, group, d->key, &error);
	else if (d->type == SETTINGS_BOOL)
		value.number = g_key_file_get_boolean(key_file, group, d->key, &error) ? 1 : 0;
	else
		g_set_error(&error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE,
		            "unknown setting type %u", (unsigned)d->type);
	if (error) {
		bool missing = g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_GROUP_NOT_FOUND) ||
		               g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_KEY_NOT_FOUND);
		int r = 0;
		if (!missing || !(override_flag || d->optional)) {
			prodconf_startup_error(
			    "Failed to parse cfg param with group: %s, key: %s - reason: %s\n", group, d->key,
			    error->message);
			prodconf_startup_error("Failed to parse cfg group %s with key %s\n", group, d->key);
			r = -1;
		}
		g_error_free(error);
		return r;
	}
	int r = override_flag ? settings_store_replace(d->key, group, &value)
	                      : settings_store_add(d->key, group, &value);
	if (r != 0)
		prodconf_startup_error("Failed to add cfg group %s with key %s\n", group, d->key);
	*read = r == 0;
	*number = value.number;
	g_free(value.text);
	return r;
}

int read_run(GKeyFile *key_file, const settings_descriptor *run, uint32_t length, int32_t instance,
             int override_flag)
{
	char name[100];
	if ((size_t)snprintf(name, sizeof(name), "%s.%d", run->group, (int)instance) >= sizeof(name))
		prodconf_startup_warning("Cfg group %s truncated\n", name);
	for (uint32_t i = 0; i < length; i++) {
		int32_t number;
		bool read;
		if (read_one(key_file, &run[i], name, override_flag, &number, &read) != 0)
			return -1;
	}
	return 0;
}

// The instance numbers below count of the groups "<group>.<n>" the file
// holds, in order; the count itself comes from the file and may be anything.
std::vector<int32_t> instances_in_file(GKeyFile *key_file, const char *group, int32_t count)
{
	std::vector<int32_t> found;
	std::string prefix = std::string(group) + ".";
	gchar **groups = g_key_file_get_groups(key_file, nullptr);
	for (gchar **g = groups; *g; g++) {
		if (!g_str_has_prefix(*g, prefix.c_str()))
			continue;
		const char *digits = *g + prefix.size();
		guint64 n;
		if ((digits[0] == '0' && digits[1] != '\0') || !g_ascii_isdigit(digits[0]) ||
		    !g_ascii_string_to_unsigned(digits, 10, 0, (guint64)count - 1, &n, nullptr))
			continue;
		found.push_back((int32_t)n);
	}
	g_strfreev(groups);
	std::sort(found.begin(), found.end());
	found.erase(std::unique(found.begin(), found.end()), found.end());
	return found;
}

// A run of descriptors of one counted group. An instance the file lacks is
// read, and so fails the load, only when the run has a required setting and
// there is no override; otherwise only the instances present are read.
int read_instances(GKeyFile *key_file, const settings_descriptor *run, uint32_t length, int32_t count,
                   int override_flag)
{
	bool strict = !override_flag;
	if (strict) {
		strict = false;
		for (uint32_t i = 0; i < length; i++)
			strict = strict || !run[i].optional;
	}
	int32_t next = 0;
	for (int32_t instance : instances_in_file(key_file, run->group, count)) {
		if (strict && instance != next)
			return read_run(key_file, run, length, next, override_flag);
		if (read_run(key_file, run, length, instance, override_flag) != 0)
			return -1;
		next = instance + 1;
	}
	if (strict && next < count)
		return read_run(key_file, run, length, next, override_flag);
	return 0;
}

int walk(GKeyFile *key_file, const settings_descriptor *descriptors, uint32_t count, int override_flag)
{
	std::map<std::string, int32_t> counts;
	uint32_t i = 0;
	while (i < count) {
		const settings_descriptor *d = &descriptors[i];
		auto counted = counts.find(d->group);
		if (counted != counts.end() && counted->second > 0) {
			uint32_t end = i;
			while (end < count && strcmp(descriptors[end].group, d->group) == 0)
				end++;
			if (read_instances(key_file, d, end - i, counted->second, override_flag) != 0)
				return -1;
			i = end;
			continue;
		}
		int32_t number = 0;
		bool read;
		if (read_one(key_file, d, d->group, override_flag, &number, &read) != 0)
			return -1;
		if (read && d->count_group && d->type != SETTINGS_TEXT)
			counts[d->count_group] = number;
		i++;
	}
	return 0;
}

void dump_key(gpointer key, gpointer data, gpointer)
{
	auto *value = static_cast<settings_value *>(data);
	const char *name = static_cast<const char *>(key);
	if (value->type == SETTINGS_INT || value->type == SETTINGS_BOOL)
		printf("\tKey = \"%s\" Value = %d \n", name, value->number);
	else if (value->type == SETTINGS_TEXT)
		printf("\tKey = \"%s\" Value = \"%s\" \n", name, value->text ? value->text : "");
	else
		printf("\tError unknown type for Key = %s\n", name);
}

void dump_group(gpointer group, gpointer keys, gpointer)
{
	printf("Cfg group = %s\n", static_cast<const char *>(group));
	g_hash_table_foreach(static_cast<GHashTable *>(keys), dump_key, nullptr);
}

} // namespace

void settings_store_create(void)
{
	settings_store_free();
	store = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, free_group);
}

void settings_store_free(void)
{
	if (store)
		g_hash_table_destroy(store);
	store = nullptr;
}

int settings_store_add(const char *key, const char *group, const struct settings_value *value)
{
	if (!key || !group || !value)
		return -1;
	GHashTable *keys = group_table(group, true);
	if (g_hash_table_contains(keys, key))
		return -1;
	g_hash_table_insert(keys, g_strdup(key), copy_value(value));
	return 0;
}

int settings_store_replace(const char *key, const char *group, const struct settings_value *value)
{
	if (!key || !group || !value)
		return -1;
	g_hash_table_insert(group_table(group, true), g_strdup(key), copy_value(value));
	return 0;
}

int settings_store_load(const char *path, const struct settings_descriptor *descriptors, uint32_t count,
                        int override_flag)
{
	GKeyFile *key_file = g_key_file_new();
	GError *error = nullptr;
	int r = 0;
	if (!g_key_file_load_from_file(
	        key_file, path, (GKeyFileFlags)(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
	        &error)) {
		if (!override_flag) {
			prodconf_startup_error("Failed to load cfg file %s: %s\n", path, error->message);
			r = -1;
		}
		g_error_free(error);
	} else {
		r = walk(key_file, descriptors, descriptors ? count : 0, override_flag);
	}
	g_key_file_free(key_file);
	return r;
}

int settings_store_get_string(const char *key, const char *group, const char **text)
{
	const settings_value *value = lookup(key, group, SETTINGS_TEXT);
	if (!value || !text)
		return -1;
	*text = value->text;
	return 0;
}

int settings_store_get_int(const char *key, const char *group, int32_t *number)
{
	const settings_value *value = lookup(key, group, SETTINGS_INT);
	if (!value || !number)
		return -1;
	*number = value->number;
	return 0;
}

int settings_store_get_bool(const char *key, const char *group, int *flag)
{
	const settings_value *value = lookup(key, group, SETTINGS_BOOL);
	if (!value || !flag)
		return -1;
	*flag = value->number;
	return 0;
}

void settings_store_dump(void)
{
	if (store)
		g_hash_table_foreach(store, dump_group, nullptr);
	fflush(stdout);
}

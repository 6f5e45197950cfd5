#include "name_map.h"

#include <glib.h>
#include <string.h>

// A broken list is a programming error: stop rather than lose names.
#define map_check(expr)                                                                                      \
	do {                                                                                                 \
		if (!(expr))                                                                                 \
			g_assertion_message_expr("vistrad", "frontends/dbus_api/quick_introspect/name_map",  \
			                         __LINE__, G_STRFUNC, #expr);                                \
	} while (0)

namespace
{

void check_ends(const struct name_map *map)
{
	map_check((map->first == nullptr) == (map->last == nullptr));
	map_check(!map->last || !map->last->next);
}

void entry_free(name_map_entry *e)
{
	g_free(e->name);
	g_free(e->unique_name);
	g_free(e);
}

} // namespace

bool name_map_set(struct name_map *map, const char *name, const char *unique_name)
{
	if (!map || !name || !*name)
		return false;
	if (!unique_name || !*unique_name) {
		name_map_remove(map, name);
		return true;
	}
	check_ends(map);
	for (name_map_entry *e = map->first; e; e = e->next) {
		if (strcmp(e->name, name) != 0)
			continue;
		if (strcmp(e->unique_name, unique_name) != 0) {
			g_free(e->unique_name);
			e->unique_name = g_strdup(unique_name);
		}
		return true;
	}
	name_map_entry *e = g_try_new0(name_map_entry, 1);
	if (!e)
		return false;
	e->name = g_strdup(name);
	e->unique_name = g_strdup(unique_name);
	if (!e->name || !e->unique_name) {
		entry_free(e);
		return false;
	}
	if (map->last)
		map->last->next = e;
	else
		map->first = e;
	map->last = e;
	check_ends(map);
	return true;
}

bool name_map_remove(struct name_map *map, const char *name)
{
	if (!map || !name)
		return false;
	check_ends(map);
	name_map_entry *previous = nullptr;
	for (name_map_entry *e = map->first; e; previous = e, e = e->next) {
		if (strcmp(e->name, name) != 0)
			continue;
		if (previous)
			previous->next = e->next;
		else
			map->first = e->next;
		if (map->last == e)
			map->last = previous;
		entry_free(e);
		check_ends(map);
		return true;
	}
	return false;
}

const char *name_map_lookup(const struct name_map *map, const char *name)
{
	if (!map || !name)
		return nullptr;
	for (const name_map_entry *e = map->first; e; e = e->next)
		if (strcmp(e->name, name) == 0)
			return e->unique_name;
	return nullptr;
}

void name_map_clear(struct name_map *map)
{
	if (!map)
		return;
	name_map_entry *e = map->first;
	while (e) {
		name_map_entry *next = e->next;
		entry_free(e);
		e = next;
	}
	map->first = map->last = nullptr;
}

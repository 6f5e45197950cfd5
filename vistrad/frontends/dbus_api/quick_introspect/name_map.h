#pragma once
// Which unique bus name currently owns each of the daemon's well-known names.
// No lock of its own: the quick-introspect module calls it under its mutex.

struct name_map_entry {
	char *name;
	char *unique_name;
	struct name_map_entry *next;
};

struct name_map {
	struct name_map_entry *first;
	struct name_map_entry *last;
};

// A missing or empty unique name removes the entry. False for a missing map
// or name, or an empty name.
bool name_map_set(struct name_map *map, const char *name, const char *unique_name);
bool name_map_remove(struct name_map *map, const char *name);
const char *name_map_lookup(const struct name_map *map, const char *name);
void name_map_clear(struct name_map *map);

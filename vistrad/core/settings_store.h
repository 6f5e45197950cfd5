#pragma once
// A process-wide store of typed settings read from a key file, driven by a
// table of descriptors, looked up by group and key. Groups can repeat: a
// counted group is read once per instance, as "<group>.0", "<group>.1", ...

#include <stdint.h>

#define SETTINGS_BOOL 0
#define SETTINGS_INT 1
#define SETTINGS_TEXT 2

struct settings_value {
	uint32_t type;
	int32_t number; // the integer, or 0/1 for a boolean
	char *text;
};

struct settings_descriptor {
	const char *group;
	const char *key;
	uint32_t type;
	uint32_t optional; // 1: may be missing
	// When set, the integer read here is how many instances of the group of
	// that name the file holds.
	const char *count_group;
};

void settings_store_create(void);
void settings_store_free(void);
// The value is copied. -1 when the group already has the key.
int settings_store_add(const char *key, const char *group, const struct settings_value *value);
int settings_store_replace(const char *key, const char *group, const struct settings_value *value);
// 0 or -1. With override a missing file or key is no failure and values
// read replace those stored.
int settings_store_load(const char *path, const struct settings_descriptor *descriptors, uint32_t count,
                        int override_flag);
// 0, or -1 when the group or key is missing or the value has another type.
// The text stays the store's.
int settings_store_get_string(const char *key, const char *group, const char **text);
int settings_store_get_int(const char *key, const char *group, int32_t *value);
int settings_store_get_bool(const char *key, const char *group, int *value);
// Every group and key, on standard output.
void settings_store_dump(void);

#pragma once
// The parameter map: the constant table that names every parameter and gives
// its type, range, default, key-file group and key, and its save and signal flags.

#include <stdint.h>

#define PARAM_ID_MAX 180
#define PARAM_MAP_ROWS 180 // 179 parameters and the terminating row

enum param_type {
	PARAM_TYPE_UNKNOWN = 0,
	PARAM_TYPE_INT = 1,
	PARAM_TYPE_ENUM = 2,
	PARAM_TYPE_FIX = 3,
	PARAM_TYPE_BOOL = 4,
	PARAM_TYPE_STRING = 5,
};

struct param_def {
	uint32_t id; // 0 ends the table
	const char *name;
	const char *group; // may be null
	const char *key;
	uint32_t type;
	bool signal;
	const char *signal_name;       // null: the key names the signal
	const char *const *enum_names; // indexed by value, null-terminated
	int32_t min;
	int32_t max;
	int32_t def;
	const char *def_text;
	bool saved;
};

extern const struct param_def param_map_table[];

int param_map_init(void);
void param_map_free(void);
const struct param_def *param_def(uint32_t id);
const struct param_def *param_def_by_name(const char *name);
const struct param_def *param_def_by_index(int index);
const struct param_def *param_def_by_key(const char *group, const char *key);
int param_map_convert_enum(const struct param_def *row, const char *name, int32_t *value);

// Replaces the table that the look-ups read (null restores the built-in
// one); the caller's table must end with a row of id 0 and outlive its use.
void param_map_use_table(const struct param_def *table);

#pragma once
// The parameter database: one value per parameter and stream, range-checked,
// with change callbacks delivered on the main loop.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stdint.h>

#include "param_map.h"

#define PARAM_TEXT_MAX 1023

#define PARAM_NOTIFY_ON_CHANGE 0
#define PARAM_NOTIFY_ALWAYS 1
#define PARAM_NOTIFY_NEVER 2

struct dbus_api;

struct param_value {
	uint32_t id;
	int32_t stream_id; // -1: the global entry
	uint32_t notify_mode;
	uint32_t type;
	int32_t value; // enum value, Q14 number, or 0/1 for bool
	char *text;
};

struct param_range {
	int32_t min;
	int32_t max;
	uint32_t *values; // valid values, or null for [min, max]
	char **names;     // null-terminated
	uint32_t count;
};

struct param_callback;
typedef int (*param_callback_fn)(void *user_data, void *block, struct param_value *value,
                                 struct param_callback *callback);

struct param_callback {
	int32_t id;
	param_callback_fn fn;
	void *user_data;
	void *block; // owned
};

struct param_cb_helper {
	uint32_t id;
	int32_t callback_id;
	int32_t stream_id;
};

GQueue *param_db_init(void);
void param_db_free(void);
void param_clear_changes(void);

int param_set(struct param_value *value);
int param_set_silent(struct param_value *value);
int param_set_int(uint32_t id, int32_t stream_id, int32_t value);
int param_set_int_silent(uint32_t id, int32_t stream_id, int32_t value);
int param_set_fix(uint32_t id, int32_t stream_id, int32_t value);
int param_set_fix_silent(uint32_t id, int32_t stream_id, int32_t value);
int param_set_string(uint32_t id, int32_t stream_id, const char *text);
int param_set_string_silent(uint32_t id, int32_t stream_id, const char *text);
int param_reset(uint32_t id, int32_t stream_id);
int param_set_default(uint32_t id, int32_t stream_id, int32_t value, const char *text);
int param_set_range(uint32_t id, int32_t stream_id, const struct param_range *range);
int param_set_def(const struct param_value *value, const struct param_def *def);
int param_set_notify_mode(uint32_t id, int32_t stream_id, uint32_t mode);

extern "C" int param_get(struct param_value *value);
int param_get_int(uint32_t id, int32_t stream_id, int32_t *value);
int param_get_string(uint32_t id, int32_t stream_id, char **text, int *length);
int32_t param_get_simple(uint32_t id);
int param_is_set(const struct param_value *value);
int param_is_default(uint32_t id, int32_t stream_id);
int param_default_from_entry(uint32_t id, int32_t stream_id, int32_t *value, char **text);
GList *param_get_streams(uint32_t id);
int param_get_range(uint32_t id, int32_t stream_id, struct param_range *range);
void param_range_clear(struct param_range *range);
int param_value_valid(const struct param_value *value, const struct param_def *def);
int param_changes_pending(void);
int param_get_save_pending(void);
void param_set_save_pending(int pending);

int32_t param_convert_enum_to_int(uint32_t id, int32_t stream_id, const char *name);
char *param_convert_int_to_enum(uint32_t id, int32_t stream_id, int32_t value);
const char *param_map_get_enum_name(const struct param_value *value);
GVariant *param_value_to_variant(const struct param_value *value, int enum_as_bytestring,
                                 int string_as_bytestring);

extern "C" int param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn,
                                       uint32_t notify_mode, void *user_data, void *block);
int param_register_callback_rec(param_callback_fn fn, void *user_data, void *block,
                                const struct param_value *value);
extern "C" int param_unregister_callback(int32_t callback_id, const struct param_value *value);
void param_cb_helper_destroy(struct param_cb_helper *helper);
void param_distribute_callback_one_change(void);
void param_queue_all(void);
void param_free_callbacks(void);

int param_remove(const struct param_value *value);
int param_remove_stream(int32_t stream_id);

// How changes are announced: the D-Bus front-end's calls unless another
// table is set; null restores them.
struct param_announcer {
	void (*properties_changed)(struct dbus_api *api, int32_t stream_id, const struct param_value *value);
	void (*signal)(struct dbus_api *api, int32_t stream_id, const struct param_value *value);
};
void param_db_set_announcer(const struct param_announcer *announcer);

// Where changes are announced, and which stream is the product's default
// stream (0 with per-stream configuration, else -1); both set by the daemon
// at start.
void param_db_set_dbus_api(struct dbus_api *api);
void param_db_set_default_stream(int32_t stream_id);

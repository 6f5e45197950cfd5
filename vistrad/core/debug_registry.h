#pragma once
// The debug registry through which the daemon and its modules publish named
// variables, functions and callbacks for inspection. It keeps nothing in this
// build: every hook gives the fixed answer its callers are written for.

#include <stdint.h>

struct platform;

typedef void (*debug_fn)(void);

void debug_channel_init(int channel);
void debug_deinit(void);
void debug_var_add(const char *name, void *address, int count, int channel);
// 0: no debug switch of that name is on.
int debug_var_lookup(const char *name);
// 0: no override value is set.
int debug_var_is_set(const char *name, int channel);
// Null: there is no override value to read.
void *debug_var_get(const char *name, void *address, int channel);
// 1: accepted.
int debug_func_add(const char *name, debug_fn function, void *context, int channel);
int debug_func_remove(const char *name, debug_fn function, void *context, int channel);
int debug_callback_add(const char *name, debug_fn function, struct platform *platform, int32_t stream_id);
void publish_sensor_property(const char *name, double value);
void daemon_teardown_hook(void);

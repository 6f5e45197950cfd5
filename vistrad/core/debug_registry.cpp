#include "debug_registry.h"

void debug_channel_init(int) {}

void debug_deinit(void) {}

void debug_var_add(const char *, void *, int, int) {}

int debug_var_lookup(const char *)
{
	return 0;
}

int debug_var_is_set(const char *, int)
{
	return 0;
}

void *debug_var_get(const char *, void *, int)
{
	return nullptr;
}

int debug_func_add(const char *, debug_fn, void *, int)
{
	return 1;
}

int debug_func_remove(const char *, debug_fn, void *, int)
{
	return 1;
}

int debug_callback_add(const char *, debug_fn, struct platform *, int32_t)
{
	return 1;
}

void publish_sensor_property(const char *, double) {}

void daemon_teardown_hook(void) {}

#pragma once
// The focus data-cache step: it prepares the cache "focus_measure" and the
// focus window of a stream and registers its entry with the platform, whose
// frame-statistics source writes the sum of the autofocus sharpness inside
// the window with every statistics record while a reader waits.

#include <stdint.h>

#include "algo_cl_modules.h"
#include "libcl.h"

struct datacache;
struct param_value;
struct param_callback;

#define FOCUS_DATACACHE_CACHE "focus_measure"
#define FOCUS_DATACACHE_ELEMENT 12
#define FOCUS_DATACACHE_ELEMENTS 10
#define FOCUS_CUSTOM_AREA_PARAM 130
#define FOCUS_WINDOW_FULL 16384

struct focus_datacache_settings {
	int32_t enable_custom_focus_area;
};

// Fractions of the full frame in Q14.
struct focus_window {
	int32_t x0;
	int32_t x1;
	int32_t y0;
	int32_t y1;
};

// The step's local data; the platform holds it for the stream's channel.
struct focus_datacache_entry {
	struct algo_cl_local head;
	struct datacache *datacache;
	int32_t cache_id;
	uint32_t value;
	uint8_t armed; // a reader waits
	uint32_t key_id;
	int32_t key_stream_id;
	struct focus_window window;
	int32_t callback_id;
};

extern const struct algo_cl_module focus_datacache_cl_module;

int focus_datacache_cl_init(struct algo_step *step, struct control *engine);
int focus_datacache_cl_run(struct algo_step *step, struct control *engine);
int focus_datacache_cl_destroy(struct algo_step *step, struct control *engine);
int focus_datacache_cl_window_cb(void *user_data, void *block, struct param_value *value,
                                 struct param_callback *callback);
uint32_t focus_datacache_cl_sum_window(const libcl_stats *block, const struct focus_window *window);

#include "focus_datacache.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf_schema_build.h"
#include "core/stream_map.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/platform.h"

namespace
{

const prodconf_field settings_fields[] = {
    prodconf_field_i32("enable_custom_focus_area", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(focus_datacache_settings, enable_custom_focus_area), 1),
};

const prodconf_schema settings_schema = {ALGO_CL_SCHEMA, sizeof(focus_datacache_settings), settings_fields,
                                         1};

// The tiles' three u16 lie from af_tile0 up to the grid words: tiles beyond
// would be read from the grid and what follows it.
const size_t tile_bytes = 6;
const int64_t tiles_in_block =
    (offsetof(libcl_stats, af_grid) - offsetof(libcl_stats, af_tile0)) / tile_bytes;

focus_datacache_entry *entry_of(algo_step *step)
{
	return static_cast<focus_datacache_entry *>(algo_step_get_local_data(step));
}

const focus_datacache_settings *settings_of(const focus_datacache_entry *entry)
{
	return static_cast<const focus_datacache_settings *>(entry->head.settings);
}

// A Q14 product rounded to the nearest integer, halves up; wide enough for
// any grid the device reports.
int64_t q14_mul(int64_t fraction, int64_t pixels)
{
	__int128 p = (__int128)fraction * pixels + 8192;
	return (int64_t)(p >> 14);
}

int64_t tile_edge(int64_t pixel, int64_t tile)
{
	return (pixel + (pixel < 0 ? -(tile / 2) : tile / 2)) / tile;
}

// First and last tile of one dimension, inside the grid.
void tile_span(int64_t from, int64_t to, int64_t tile, int64_t count, int64_t *first, int64_t *last)
{
	*first = std::clamp<int64_t>(tile_edge(from, tile), 0, count - 1);
	*last = tile_edge(to, tile) - 1;
	if (*last >= count)
		*last = count - 1;
	else
		*last = std::max(*last, *first);
}

} // namespace

uint32_t focus_datacache_cl_sum_window(const libcl_stats *block, const struct focus_window *window)
{
	if (!block || !window)
		return 0;
	const uint8_t *bytes = reinterpret_cast<const uint8_t *>(block);
	int32_t grid[4];
	memcpy(grid, bytes + offsetof(libcl_stats, af_grid), sizeof(grid));
	int64_t columns = grid[0], rows = grid[1], tile_height = grid[2], tile_width = grid[3];
	if (columns <= 0 || rows <= 0 || tile_height <= 0 || tile_width <= 0)
		return 0;
	int64_t height = tile_height * rows, width = tile_width * columns;
	int64_t first_row, last_row, first_col, last_col;
	tile_span(q14_mul(window->y0, height), q14_mul(window->y1, height), tile_height, rows, &first_row,
	          &last_row);
	tile_span(q14_mul(window->x0, width), q14_mul(window->x1, width), tile_width, columns, &first_col,
	          &last_col);
	uint32_t sum = 0;
	for (int64_t r = first_row; r <= last_row && r * columns < tiles_in_block; r++) {
		for (int64_t c = first_col; c <= last_col; c++) {
			int64_t index = r * columns + c;
			if (index >= tiles_in_block)
				break;
			uint16_t sharpness;
			memcpy(&sharpness, bytes + offsetof(libcl_stats, af_tile0) + index * tile_bytes,
			       sizeof(sharpness));
			sum += sharpness;
		}
	}
	return sum;
}

int focus_datacache_cl_window_cb(void *user_data, void *, struct param_value *value, struct param_callback *)
{
	auto *entry = static_cast<focus_datacache_entry *>(user_data);
	if (!entry)
		return -1;
	focus_window *w = &entry->window;
	int read = value && value->text
	               ? sscanf(value->text, "%x:%x,%x:%x", reinterpret_cast<unsigned *>(&w->x0),
	                        reinterpret_cast<unsigned *>(&w->y0), reinterpret_cast<unsigned *>(&w->x1),
	                        reinterpret_cast<unsigned *>(&w->y1))
	               : 0;
	if (read == 4)
		return 0;
	debug_output(DEBUG_ERROR, 0, "Failed to get window coordinates in %s @ %d\n",
	             "focus_datacache_cl_window_cb", 137);
	return -1;
}

int focus_datacache_cl_init(struct algo_step *step, struct control *engine)
{
	focus_datacache_entry *entry = entry_of(step);
	if (!entry || !entry->head.settings)
		return -1;
	platform *plat = control_get_platform(engine);
	entry->datacache = platform_get_datacache(plat, step->stream_id);
	entry->cache_id = datacache_create_cache(entry->datacache, FOCUS_DATACACHE_CACHE,
	                                         FOCUS_DATACACHE_ELEMENT, FOCUS_DATACACHE_ELEMENTS);
	if (entry->cache_id < 0)
		return -1;

	uint32_t info[2] = {};
	entry->armed =
	    datacache_get_cache_info(entry->datacache, entry->cache_id, info) == PLATFORM_OK && info[0];
	datacache_set_select(entry->datacache, entry->cache_id, entry->armed ? 0 : 1);

	entry->callback_id = -1;
	if (settings_of(entry)->enable_custom_focus_area) {
		entry->key_id = FOCUS_CUSTOM_AREA_PARAM;
		entry->key_stream_id = step->stream_id;
		entry->callback_id = param_register_callback(FOCUS_CUSTOM_AREA_PARAM, step->stream_id,
		                                             focus_datacache_cl_window_cb, 1, entry, nullptr);
		if (entry->callback_id < 0)
			debug_output(DEBUG_WARNING, 0, "failed to register callback: %s \n",
			             "focus_datacache_cl_init");
	}

	entry->window = {0, FOCUS_WINDOW_FULL, 0, FOCUS_WINDOW_FULL};
	int channel = stream_id_channel(step->stream_id);
	if (plat && channel < PLATFORM_SOC_CHANNELS)
		plat->focus_datacache[channel] = entry;
	return 0;
}

int focus_datacache_cl_run(struct algo_step *, struct control *)
{
	return 0;
}

int focus_datacache_cl_destroy(struct algo_step *step, struct control *engine)
{
	focus_datacache_entry *entry = entry_of(step);
	if (!entry)
		return 0;
	int result = 0;
	if (entry->head.settings && settings_of(entry)->enable_custom_focus_area) {
		param_value key = {};
		key.id = entry->key_id;
		key.stream_id = entry->key_stream_id;
		result = param_unregister_callback(entry->callback_id, &key);
	}
	platform *plat = control_get_platform(engine);
	int channel = stream_id_channel(step->stream_id);
	if (plat && channel < PLATFORM_SOC_CHANNELS && plat->focus_datacache[channel] == entry)
		plat->focus_datacache[channel] = nullptr;
	return result;
}

const struct algo_cl_module focus_datacache_cl_module = {
    &settings_schema,
    sizeof(focus_datacache_entry),
    focus_datacache_cl_init,
    focus_datacache_cl_run,
    focus_datacache_cl_destroy,
    {PLATFORM_DATA_SOC_STATS, DATACACHE_DATA_WRITABLE},
    2,
    {},
    0,
    nullptr,
    nullptr,
};

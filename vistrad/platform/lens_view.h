#pragma once
// What the status publishers read of the lens records beside the optics
// calls (focus_zoom.h, camblock.h): the few fields of the focus, zoom and
// camera-block records, gathered in one place so that a publisher reads them
// once per update.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct camblock;
struct focus_object;
struct zoom_object;

struct lens_view {
	int32_t zoom_position;
	int32_t zoom_target;
	uint8_t zoom_pending;
	int32_t focus_value; // a motor position or a distance index
	uint8_t focus_value_is_position;
	uint8_t focus_pending;
	uint8_t block_initialised;
	uint8_t block_distance_index_mode; // the block holds the focus at an index
	int32_t block_requested_index;
};

// Fills the view; what a missing unit would hold stays 0.
extern "C" void lens_view_read(struct camblock *block, struct zoom_object *zoom, struct focus_object *focus,
                               struct lens_view *view);
// Whether the zoom has the max-magnification, get-max and get-min operations.
extern "C" int lens_view_zoom_has_table(struct zoom_object *zoom);
// 1 with the block's near and far focus limits (Q14 dioptres), 0 when the
// block has none (no block, or one that cannot set focus limits).
extern "C" int lens_view_focus_limits(struct camblock *block, int32_t *near_limit, int32_t *far_limit);
// The focus unit's settled byte, which the publisher keeps as the inverse of
// its pending flag.
extern "C" void lens_view_set_focus_settled(struct focus_object *focus, uint8_t settled);

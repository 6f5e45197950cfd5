#pragma once
// What the status publishers ask of the lens: the optics calls they use,
// and the few fields of the focus, zoom and camera-block records they read.
//
// The lens records do not carry those fields yet. Until they do, the
// readers below answer as for a lens that is not there, and the optics
// calls give their missing-unit answers (-2 for focus and zoom, -3 for the
// camera block); replace both with the optics' own once they exist.

#include <stdint.h>

struct camblock;
struct focus;
struct zoom;

struct lens_view {
	int32_t zoom_position;
	int32_t zoom_target;
	uint8_t zoom_pending;
	int32_t focus_value; // a motor position or a distance index
	uint8_t focus_value_is_position;
	uint8_t focus_pending;
	uint8_t block_initialised;
};

// Fills the view; what a missing unit would hold stays 0.
void lens_view_read(struct camblock *block, struct zoom *zoom, struct focus *focus, struct lens_view *view);
// Whether the zoom has the max-magnification, get-max and get-min operations.
int lens_view_zoom_has_table(struct zoom *zoom);
// 1 with the block's near and far focus limits (Q14 dioptres), 0 without.
int lens_view_focus_limits(struct camblock *block, int32_t *near_limit, int32_t *far_limit);
// The focus unit's settled byte, which the publisher keeps as the inverse of
// its pending flag.
void lens_view_set_focus_settled(struct focus *focus, uint8_t settled);

// The optics calls, as the focus, zoom and camera-block objects name them.
int32_t zoom_magnification_at_position(struct zoom *zoom, int32_t position);
int32_t zoom_position_for_magnification(struct zoom *zoom, int32_t magnification);
int32_t zoom_max_magnification(struct zoom *zoom);
int32_t zoom_get_max(struct zoom *zoom);
int32_t zoom_get_min(struct zoom *zoom);
int32_t focus_get_distance_diopters(struct focus *focus);
int32_t camblock_distance_index_to_focus_position(struct camblock *block, int32_t zoom_position,
                                                  int32_t distance_index);
int32_t camblock_get_fov_at_focus_position(struct camblock *block, int32_t zoom_position,
                                           int32_t focus_position, uint32_t *horizontal, uint32_t *vertical,
                                           int32_t scale);
int32_t camblock_get_fov_at_distance_index(struct camblock *block, int32_t zoom_position,
                                           int32_t distance_index, uint32_t *horizontal, uint32_t *vertical,
                                           int32_t scale);
int32_t camblock_get_current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical,
                                 int32_t scale);
int32_t camblock_get_lens_distortion(struct camblock *block, int32_t zoom_position, int32_t focus_value,
                                     int32_t value_is_position, uint32_t *k0, uint32_t *k1, uint32_t *k2,
                                     uint32_t *k3);

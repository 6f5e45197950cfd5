#include "lens_view.h"

#include <string.h>

#include "optics/camblock.h"
#include "optics/focus_zoom.h"

void lens_view_read(struct camblock *block, struct zoom_object *zoom, struct focus_object *focus,
                    struct lens_view *view)
{
	if (!view)
		return;
	memset(view, 0, sizeof(*view));
	if (zoom) {
		view->zoom_position = zoom->position;
		view->zoom_target = zoom->target;
		view->zoom_pending = zoom->pending;
	}
	if (focus) {
		view->focus_value = focus->value;
		view->focus_value_is_position = focus->value_is_position;
		view->focus_pending = focus->pending;
	}
	if (block) {
		view->block_initialised = block->mcu.initialised;
		view->block_distance_index_mode = block->mcu.distance_index_mode;
		view->block_requested_index = block->mcu.requested_index;
	}
}

int lens_view_zoom_has_table(struct zoom_object *zoom)
{
	return zoom && zoom->max_magnification && zoom->get_max && zoom->get_min;
}

int lens_view_focus_limits(struct camblock *block, int32_t *near_limit, int32_t *far_limit)
{
	if (!block || !block->set_focus_limits || !near_limit || !far_limit)
		return 0;
	*near_limit = block->mcu.near_limit;
	*far_limit = block->mcu.far_limit;
	return 1;
}

void lens_view_set_focus_settled(struct focus_object *focus, uint8_t settled)
{
	if (focus)
		focus->settled = settled;
}

#include "lens_view.h"

#include <string.h>

void lens_view_read(struct camblock *, struct zoom *, struct focus *, struct lens_view *view)
{
	if (view)
		memset(view, 0, sizeof(*view));
}

int lens_view_zoom_has_table(struct zoom *)
{
	return 0;
}

int lens_view_focus_limits(struct camblock *, int32_t *, int32_t *)
{
	return 0;
}

void lens_view_set_focus_settled(struct focus *, uint8_t) {}

int32_t zoom_magnification_at_position(struct zoom *, int32_t)
{
	return -2;
}

int32_t zoom_position_for_magnification(struct zoom *, int32_t)
{
	return -2;
}

int32_t zoom_max_magnification(struct zoom *)
{
	return -2;
}

int32_t zoom_get_max(struct zoom *)
{
	return -2;
}

int32_t zoom_get_min(struct zoom *)
{
	return -2;
}

int32_t focus_get_distance_diopters(struct focus *)
{
	return -2;
}

int32_t camblock_distance_index_to_focus_position(struct camblock *, int32_t, int32_t)
{
	return -3;
}

int32_t camblock_get_fov_at_focus_position(struct camblock *, int32_t, int32_t, uint32_t *, uint32_t *,
                                           int32_t)
{
	return -3;
}

int32_t camblock_get_fov_at_distance_index(struct camblock *, int32_t, int32_t, uint32_t *, uint32_t *,
                                           int32_t)
{
	return -3;
}

int32_t camblock_get_current_fov(struct camblock *, uint32_t *, uint32_t *, int32_t)
{
	return -3;
}

int32_t camblock_get_lens_distortion(struct camblock *, int32_t, int32_t, int32_t, uint32_t *, uint32_t *,
                                     uint32_t *, uint32_t *)
{
	return -3;
}

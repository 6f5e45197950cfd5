#include "camblock.h"

#include <glib.h>

namespace
{

#define CAMBLOCK_MISSING (-3)

// A dispatcher calls a slot only on a block that a platform holds ...
template <typename S> bool usable(const struct camblock *block, S camblock::*slot)
{
	return block && block->platform && block->*slot;
}

// ... except the few that the product configuration calls on any block.
template <typename S> bool reachable(const struct camblock *block, S camblock::*slot)
{
	return block && block->*slot;
}

// The getters that answer through an out-pointer: 1 with the value stored.
int32_t get_into(struct camblock *block, int32_t (*camblock::*slot)(struct camblock *), int *out)
{
	if (!usable(block, slot))
		return 0;
	int32_t value = (block->*slot)(block);
	if (out)
		*out = value;
	return 1;
}

} // namespace

#define DISPATCH(block, slot, missing, ...)                                                                  \
	(usable(block, &camblock::slot) ? (block)->slot((block), ##__VA_ARGS__) : (missing))

struct camblock *camblock_new(void)
{
	return g_new0(struct camblock, 1);
}

void camblock_add_platform(struct camblock *block, struct platform *platform)
{
	if (block)
		block->platform = platform;
}

void camblock_set_zoom(struct camblock *block, struct zoom_object *zoom)
{
	if (block)
		block->zoom = zoom;
}

void camblock_set_focus(struct camblock *block, struct focus_object *focus)
{
	if (block)
		block->focus = focus;
}

void camblock_set_iris(struct camblock *block, struct iris *iris)
{
	if (block)
		block->iris = iris;
}

void camblock_set_ircut(struct camblock *block, struct ircut *ircut)
{
	if (block)
		block->ircut = ircut;
}

void camblock_set_dome(struct camblock *block, struct dome *dome)
{
	if (block)
		block->dome = dome;
}

void camblock_destroy(struct camblock *block)
{
	if (!block)
		return;
	if (block->destroy)
		block->destroy(block);
	block->platform = nullptr;
	g_free(block);
}

int32_t camblock_start_init(struct camblock *block)
{
	return DISPATCH(block, start_init, CAMBLOCK_MISSING);
}

int32_t camblock_spare_op(struct camblock *block)
{
	return DISPATCH(block, spare_op, CAMBLOCK_MISSING);
}

int32_t camblock_write_register(struct camblock *block, uint16_t reg, uint16_t value)
{
	return DISPATCH(block, write_register, CAMBLOCK_MISSING, reg, value);
}

int32_t camblock_read_register(struct camblock *block, uint16_t reg)
{
	return DISPATCH(block, read_register, CAMBLOCK_MISSING, reg);
}

int32_t camblock_set_focus_limits(struct camblock *block, int32_t near, int32_t far)
{
	return DISPATCH(block, set_focus_limits, CAMBLOCK_MISSING, near, far);
}

int32_t camblock_update_focus_limits(struct camblock *block)
{
	return DISPATCH(block, update_focus_limits, CAMBLOCK_MISSING);
}

int32_t camblock_set_distance_index(struct camblock *block, int32_t index)
{
	return DISPATCH(block, set_distance_index, CAMBLOCK_MISSING, index);
}

int32_t camblock_set_trace_mode(struct camblock *block, uint32_t mode, int32_t unused1, int32_t unused2)
{
	if (!usable(block, &camblock::set_trace_mode))
		return CAMBLOCK_MISSING;
	block->mcu.trace_mode = mode;
	return block->set_trace_mode(block, mode, unused1, unused2);
}

int32_t camblock_set_trace_curve(struct camblock *block, uint32_t set)
{
	return DISPATCH(block, set_trace_curve, CAMBLOCK_MISSING, set);
}

int32_t camblock_distance_index_to_focus_position(struct camblock *block, int32_t zoom, int32_t index)
{
	return DISPATCH(block, distance_index_to_focus_position, CAMBLOCK_MISSING, zoom, index);
}

int32_t camblock_dioptres_to_focus_position(struct camblock *block, int32_t zoom, int32_t dioptres)
{
	return DISPATCH(block, dioptres_to_focus_position, CAMBLOCK_MISSING, zoom, dioptres);
}

int32_t camblock_focus_position_to_distance_index(struct camblock *block, int32_t zoom, int32_t position)
{
	return DISPATCH(block, focus_position_to_distance_index, CAMBLOCK_MISSING, zoom, position);
}

int32_t camblock_focus_position_to_dioptres(struct camblock *block, int32_t zoom, int32_t position)
{
	return DISPATCH(block, focus_position_to_dioptres, CAMBLOCK_MISSING, zoom, position);
}

int32_t camblock_get_lens_temperature(struct camblock *block, int *temperature)
{
	return get_into(block, &camblock::get_lens_temperature, temperature);
}

int32_t camblock_dioptres_to_distance_index(struct camblock *block, int32_t dioptres, int32_t dome_index)
{
	return DISPATCH(block, dioptres_to_distance_index, CAMBLOCK_MISSING, dioptres, dome_index);
}

int32_t camblock_distance_index_to_dioptres(struct camblock *block, int32_t index)
{
	return DISPATCH(block, distance_index_to_dioptres, CAMBLOCK_MISSING, index);
}

int32_t camblock_get_fov_at_focus_position(struct camblock *block, int32_t zoom, int32_t position,
                                           uint32_t *horizontal, uint32_t *vertical, int32_t scale)
{
	return DISPATCH(block, get_fov_at_focus_position, CAMBLOCK_MISSING, zoom, position, horizontal,
	                vertical, scale);
}

int32_t camblock_focal_length_at_focus_position(struct camblock *block, int32_t zoom, int32_t position)
{
	return DISPATCH(block, focal_length_at_focus_position, 0, zoom, position);
}

int32_t camblock_get_current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical,
                                 int32_t scale)
{
	return DISPATCH(block, get_current_fov, CAMBLOCK_MISSING, horizontal, vertical, scale);
}

int32_t camblock_get_current_focal_length(struct camblock *block)
{
	return DISPATCH(block, get_current_focal_length, 0);
}

int32_t camblock_distance_index_for_object_width(struct camblock *block, int32_t zoom, int32_t width)
{
	return DISPATCH(block, distance_index_for_object_width, CAMBLOCK_MISSING, zoom, width);
}

int32_t camblock_get_lens_distortion(struct camblock *block, int32_t zoom, int32_t focus,
                                     int focus_is_position, uint32_t *k0, uint32_t *k1, uint32_t *k2,
                                     uint32_t *k3)
{
	return DISPATCH(block, get_lens_distortion, CAMBLOCK_MISSING, zoom, focus, focus_is_position, k0, k1,
	                k2, k3);
}

int32_t camblock_set_focus_dioptres(struct camblock *block, int32_t dioptres, int move)
{
	return DISPATCH(block, set_focus_dioptres, CAMBLOCK_MISSING, dioptres, move);
}

int32_t camblock_set_motor_timing(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	return DISPATCH(block, set_motor_timing, CAMBLOCK_MISSING, frame_rate, sync_count);
}

int32_t camblock_set_motor_speed(struct camblock *block, int32_t speed)
{
	return DISPATCH(block, set_motor_speed, CAMBLOCK_MISSING, speed);
}

int32_t camblock_frame_report(struct camblock *block, int32_t value)
{
	return DISPATCH(block, frame_report, CAMBLOCK_MISSING, value);
}

int32_t camblock_poll(struct camblock *block, struct optics_state *state)
{
	return DISPATCH(block, poll, CAMBLOCK_MISSING, state);
}

int32_t camblock_refresh(struct camblock *block, struct optics_state *state)
{
	return DISPATCH(block, refresh, CAMBLOCK_MISSING, state);
}

int32_t camblock_capture_mode_changed(struct camblock *block, int32_t stream_id)
{
	if (!reachable(block, &camblock::capture_mode_changed))
		return CAMBLOCK_MISSING;
	return block->capture_mode_changed(block, stream_id);
}

int32_t camblock_focal_length_at_distance_index(struct camblock *block, int32_t zoom, int32_t index)
{
	return DISPATCH(block, focal_length_at_distance_index, 0, zoom, index);
}

int32_t camblock_get_fov_at_distance_index(struct camblock *block, int32_t zoom, int32_t index,
                                           uint32_t *horizontal, uint32_t *vertical, int32_t scale)
{
	return DISPATCH(block, get_fov_at_distance_index, CAMBLOCK_MISSING, zoom, index, horizontal, vertical,
	                scale);
}

int32_t camblock_get_error_code(struct camblock *block)
{
	return reachable(block, &camblock::get_error_code) ? block->get_error_code(block) : CAMBLOCK_MISSING;
}

int32_t camblock_poll_init(struct camblock *block)
{
	return reachable(block, &camblock::poll_init) ? block->poll_init(block) : CAMBLOCK_MISSING;
}

int32_t camblock_handle_event(struct camblock *block, int32_t unused, struct camblock_event *event)
{
	if (!event || !reachable(block, &camblock::handle_event))
		return CAMBLOCK_MISSING;
	return block->handle_event(block, unused, event);
}

int32_t camblock_get_depth_of_field(struct camblock *block)
{
	return DISPATCH(block, get_depth_of_field, CAMBLOCK_MISSING);
}

int32_t camblock_get_depth_of_field_steps(struct camblock *block, int32_t zoom, int32_t position)
{
	return DISPATCH(block, get_depth_of_field_steps, CAMBLOCK_MISSING, zoom, position);
}

int32_t camblock_get_temperature_pair(struct camblock *block, int32_t temperature, uint32_t *first,
                                      uint32_t *second)
{
	return DISPATCH(block, get_temperature_pair, CAMBLOCK_MISSING, temperature, first, second);
}

int32_t camblock_get_focus_reg12(struct camblock *block, int *value)
{
	return get_into(block, &camblock::get_focus_reg12, value);
}

int32_t camblock_get_focus_reg17(struct camblock *block, int *value)
{
	return get_into(block, &camblock::get_focus_reg17, value);
}

int32_t camblock_set_focus_reg17(struct camblock *block, int32_t value)
{
	return DISPATCH(block, set_focus_reg17, CAMBLOCK_MISSING, value);
}

#include "focus_zoom.h"

#include <glib.h>

#include "optics_math.h"

namespace
{

#define Q14_ONE 16384
#define WIDE_END_UNKNOWN 65535

// A wrapper may call the slot only on a unit that a platform holds.
template <typename T, typename S> bool usable(const T *unit, S T::*slot)
{
	return unit && unit->platform && unit->*slot;
}

bool has_table(const struct zoom_object *zoom, const int32_t *values)
{
	return zoom && zoom->count > 0 && zoom->positions && values;
}

// A table's value at a position: the positions carry 14 fraction bits so
// that the 64-bit slope keeps its precision.
int32_t value_at_position(const struct zoom_object *zoom, const int32_t *values, int32_t position)
{
	if (!has_table(zoom, values))
		return -2;
	int lo, hi;
	optics_lower_bracket(position, zoom->positions, zoom->count, &lo, &hi);
	return fx_lin_interp(optics_q14(position), optics_q14(zoom->positions[lo]),
	                     optics_q14(zoom->positions[hi]), values[lo], values[hi]);
}

// The table's magnification at a position with the 32-bit slope, as the
// wide-end rules take it.
int32_t magnification_at32(const struct zoom_object *zoom, int32_t position)
{
	int lo, hi;
	optics_lower_bracket(position, zoom->positions, zoom->count, &lo, &hi);
	return fx_lin_interp32(position, zoom->positions[lo], zoom->positions[hi], zoom->magnifications[lo],
	                       zoom->magnifications[hi]);
}

int32_t hundredths(int32_t magnification)
{
	int64_t m100 = optics_div_round((int64_t)magnification * 100, Q14_ONE);
	return (int32_t)optics_div_round(m100 * Q14_ONE, 100);
}

typedef int32_t (*magnification_fn)(struct zoom_object *zoom, int32_t position);

// A plain unit's maximum at the tele end is its last entry; a relative
// unit reads the last position through its own function.
int32_t max_magnification(struct zoom_object *zoom, magnification_fn at, bool relative)
{
	if (!has_table(zoom, zoom ? zoom->magnifications : nullptr))
		return -2;
	int32_t last = zoom->positions[zoom->count - 1];
	if (zoom->mech_max < last)
		return hundredths(at(zoom, zoom->mech_max));
	return relative ? at(zoom, last) : zoom->magnifications[zoom->count - 1];
}

// The magnification at mech_min that relative units divide by, or 0 when
// the unit reads its table as it stands.
int32_t relative_base(const struct zoom_object *zoom)
{
	if (!has_table(zoom, zoom->magnifications) || zoom->mech_min <= zoom->positions[0])
		return 0;
	return magnification_at32(zoom, zoom->mech_min);
}

void free_rescaled(struct zoom_object *zoom)
{
	g_free((void *)zoom->magnifications);
	zoom->platform = nullptr;
	g_free(zoom);
}

} // namespace

struct focus_object *focus_new(void)
{
	return g_new0(struct focus_object, 1);
}

struct zoom_object *zoom_new(void)
{
	return g_new0(struct zoom_object, 1);
}

struct focus_object *focus_new_fixed(void)
{
	struct focus_object *focus = focus_new();
	focus->type = FOCUS_ZOOM_TYPE_FIXED;
	return focus;
}

struct zoom_object *zoom_new_fixed(void)
{
	struct zoom_object *zoom = zoom_new();
	zoom->type = FOCUS_ZOOM_TYPE_FIXED;
	return zoom;
}

void focus_add_platform(struct focus_object *focus, struct platform *platform)
{
	focus->platform = platform;
}

void zoom_add_platform(struct zoom_object *zoom, struct platform *platform)
{
	zoom->platform = platform;
}

void focus_destroy(struct focus_object *focus)
{
	if (!focus)
		return;
	focus->platform = nullptr;
	g_free(focus);
}

void zoom_destroy(struct zoom_object *zoom)
{
	if (!zoom)
		return;
	if (zoom->destroy) {
		zoom->destroy(zoom);
		return;
	}
	zoom->platform = nullptr;
	g_free(zoom);
}

/* focus wrappers */

int focus_is_moving(struct focus_object *focus)
{
	return usable(focus, &focus_object::is_moving) ? focus->is_moving(focus) : -2;
}

int focus_move_abs(struct focus_object *focus, int32_t position, int32_t speed)
{
	if (!usable(focus, &focus_object::move_abs))
		return -2;
	return focus->move_abs(focus, position, speed);
}

int focus_move_rel(struct focus_object *focus, int32_t steps, int32_t speed)
{
	if (!usable(focus, &focus_object::move_rel))
		return -2;
	return focus->move_rel(focus, steps, speed);
}

int32_t focus_get_position(struct focus_object *focus)
{
	if (!usable(focus, &focus_object::get_position))
		return -2;
	return focus->get_position(focus);
}

int32_t focus_get_distance_diopters(struct focus_object *focus)
{
	if (!usable(focus, &focus_object::get_distance_diopters))
		return -2;
	return focus->get_distance_diopters(focus);
}

int32_t focus_get_max(struct focus_object *focus)
{
	return usable(focus, &focus_object::get_max) ? focus->get_max(focus) : -2;
}

int32_t focus_get_min(struct focus_object *focus)
{
	return usable(focus, &focus_object::get_min) ? focus->get_min(focus) : -2;
}

int focus_set_max_limit(struct focus_object *focus, int32_t position)
{
	if (!usable(focus, &focus_object::set_max_limit))
		return -2;
	focus->set_max_limit(focus, position);
	return 0;
}

int focus_set_min_limit(struct focus_object *focus, int32_t position)
{
	if (!usable(focus, &focus_object::set_min_limit))
		return -2;
	focus->set_min_limit(focus, position);
	return 0;
}

int focus_set_tracking(struct focus_object *focus, int32_t position)
{
	if (!usable(focus, &focus_object::set_tracking))
		return -2;
	return focus->set_tracking(focus, position);
}

int focus_update(struct focus_object *focus, int32_t value, int moving, int value_is_position)
{
	if (!usable(focus, &focus_object::update))
		return -2;
	return focus->update(focus, value, moving, value_is_position);
}

int focus_stop(struct focus_object *focus)
{
	return usable(focus, &focus_object::stop) ? focus->stop(focus) : -2;
}

int focus_stop_and_release(struct focus_object *focus)
{
	if (!usable(focus, &focus_object::stop_and_release))
		return -2;
	return focus->stop_and_release(focus);
}

/* zoom wrappers */

int zoom_is_moving(struct zoom_object *zoom)
{
	return usable(zoom, &zoom_object::is_moving) ? zoom->is_moving(zoom) : -2;
}

int zoom_move_abs(struct zoom_object *zoom, int32_t position)
{
	if (!usable(zoom, &zoom_object::move_abs))
		return -2;
	return zoom->move_abs(zoom, position);
}

int zoom_move_rel(struct zoom_object *zoom, int32_t steps)
{
	if (!usable(zoom, &zoom_object::move_rel))
		return -2;
	return zoom->move_rel(zoom, steps);
}

int zoom_stop(struct zoom_object *zoom)
{
	return usable(zoom, &zoom_object::stop) ? zoom->stop(zoom) : -2;
}

int32_t zoom_get_position(struct zoom_object *zoom)
{
	if (!usable(zoom, &zoom_object::get_position))
		return -2;
	return zoom->get_position(zoom);
}

int32_t zoom_get_max(struct zoom_object *zoom)
{
	return usable(zoom, &zoom_object::get_max) ? zoom->get_max(zoom) : -2;
}

int32_t zoom_get_min(struct zoom_object *zoom)
{
	return usable(zoom, &zoom_object::get_min) ? zoom->get_min(zoom) : -2;
}

int zoom_update(struct zoom_object *zoom, int32_t position, int moving)
{
	if (!usable(zoom, &zoom_object::update))
		return -2;
	return zoom->update(zoom, position, moving);
}

int32_t zoom_magnification_at_position(struct zoom_object *zoom, int32_t position)
{
	if (!usable(zoom, &zoom_object::magnification_at_position))
		return -2;
	return zoom->magnification_at_position(zoom, position);
}

int32_t zoom_focal_length_at_position(struct zoom_object *zoom, int32_t position)
{
	if (!usable(zoom, &zoom_object::focal_length_at_position))
		return -2;
	return zoom->focal_length_at_position(zoom, position);
}

int32_t zoom_position_for_magnification(struct zoom_object *zoom, int32_t magnification)
{
	if (!usable(zoom, &zoom_object::position_for_magnification))
		return -2;
	return zoom->position_for_magnification(zoom, magnification);
}

int32_t zoom_max_magnification(struct zoom_object *zoom)
{
	if (!usable(zoom, &zoom_object::max_magnification))
		return -2;
	return zoom->max_magnification(zoom);
}

int zoom_set_speed(struct zoom_object *zoom, int32_t speed)
{
	if (!usable(zoom, &zoom_object::set_speed))
		return -2;
	return zoom->set_speed(zoom, speed);
}

struct zoom_object *zoom_limit_by_magnification(struct zoom_object *zoom, int32_t magnification)
{
	if (usable(zoom, &zoom_object::limit_by_magnification))
		zoom->limit_by_magnification(zoom, magnification);
	return zoom;
}

/* zoom tables */

int32_t zoom_table_magnification_at_position(struct zoom_object *zoom, int32_t position)
{
	return value_at_position(zoom, zoom ? zoom->magnifications : nullptr, position);
}

int32_t zoom_table_focal_length_at_position(struct zoom_object *zoom, int32_t position)
{
	return value_at_position(zoom, zoom ? zoom->focal_lengths : nullptr, position);
}

int32_t zoom_table_position_for_magnification(struct zoom_object *zoom, int32_t magnification)
{
	if (!has_table(zoom, zoom ? zoom->magnifications : nullptr))
		return -2;
	const int32_t *m = zoom->magnifications;
	int lo, hi;
	optics_lower_bracket(magnification, m, zoom->count, &lo, &hi);
	int32_t q14 = fx_lin_interp(magnification, m[lo], m[hi], optics_q14(zoom->positions[lo]),
	                            optics_q14(zoom->positions[hi]));
	return (int32_t)optics_round_shift(q14, 14);
}

void zoom_table_limit_by_magnification(struct zoom_object *zoom, int32_t magnification)
{
	if (!has_table(zoom, zoom ? zoom->magnifications : nullptr))
		return;
	int32_t p = zoom->position_for_magnification
	                ? zoom->position_for_magnification(zoom, magnification)
	                : zoom_table_position_for_magnification(zoom, magnification);
	if (zoom->max_ceiling > 0 && p > zoom->max_ceiling)
		p = zoom->max_ceiling;
	zoom->mech_max = p;
}

int32_t zoom_table_max_magnification(struct zoom_object *zoom)
{
	return max_magnification(zoom, zoom_table_magnification_at_position, false);
}

void zoom_use_tables(struct zoom_object *zoom, int32_t count, const int32_t *positions,
                     const int32_t *magnifications, const int32_t *focal_lengths, const int32_t *focal_model,
                     uint32_t focal_model_q)
{
	zoom->count = count;
	zoom->positions = positions;
	zoom->magnifications = magnifications;
	zoom->focal_lengths = focal_lengths;
	zoom->focal_model = focal_model;
	zoom->focal_model_q = focal_model_q;
	zoom->magnification_at_position = zoom_table_magnification_at_position;
	zoom->focal_length_at_position = zoom_table_focal_length_at_position;
	zoom->position_for_magnification = zoom_table_position_for_magnification;
	zoom->limit_by_magnification = zoom_table_limit_by_magnification;
	zoom->max_magnification = zoom_table_max_magnification;
}

/* relative magnification */

int32_t zoom_relative_magnification_at_position(struct zoom_object *zoom, int32_t position)
{
	int32_t m = zoom_table_magnification_at_position(zoom, position);
	int32_t base = zoom && m != -2 ? relative_base(zoom) : 0;
	return base ? optics_q14_div(m, base) : m;
}

int32_t zoom_relative_position_for_magnification(struct zoom_object *zoom, int32_t magnification)
{
	int32_t base = has_table(zoom, zoom ? zoom->magnifications : nullptr) ? relative_base(zoom) : 0;
	if (base)
		magnification = optics_q14_mul(magnification, base);
	return zoom_table_position_for_magnification(zoom, magnification);
}

int32_t zoom_relative_max_magnification(struct zoom_object *zoom)
{
	return max_magnification(zoom, zoom_relative_magnification_at_position, true);
}

void zoom_use_relative_tables(struct zoom_object *zoom, int32_t count, const int32_t *positions,
                              const int32_t *magnifications, const int32_t *focal_lengths,
                              const int32_t *focal_model, uint32_t focal_model_q, int32_t max_magnification,
                              int32_t min_position)
{
	zoom_use_tables(zoom, count, positions, magnifications, focal_lengths, focal_model, focal_model_q);
	zoom->magnification_at_position = zoom_relative_magnification_at_position;
	zoom->position_for_magnification = zoom_relative_position_for_magnification;
	zoom->max_magnification = zoom_relative_max_magnification;
	if (count <= 0 || !positions)
		return;
	zoom->mech_min = positions[0];
	// positions[count - 2] is the second-last point; a one-point table has none.
	if (min_position != -1 && positions[0] < min_position && count >= 2 &&
	    positions[count - 2] > min_position)
		zoom->mech_min = min_position;
	zoom->mech_max = positions[count - 1];
	zoom->position = 0;
	zoom->speed = Q14_ONE;
	// A configured magnification beyond the tele end must not carry
	// mech_max past the last calibrated position.
	zoom->max_ceiling = zoom->mech_max;
	if (max_magnification > 0)
		zoom_table_limit_by_magnification(zoom, max_magnification);
	zoom->max_ceiling = zoom->mech_max;
}

/* wide-end rescaling */

void zoom_rescale_to_wide_end(struct zoom_object *zoom, int32_t wide_end)
{
	if (!has_table(zoom, zoom ? zoom->magnifications : nullptr))
		return;
	int32_t n = zoom->count;
	const int32_t *table = zoom->magnifications;
	int32_t *copy = g_new(int32_t, n);
	int32_t last = table[n - 1];
	if (wide_end < WIDE_END_UNKNOWN && wide_end > zoom->positions[0]) {
		int32_t at_wide = magnification_at32(zoom, wide_end);
		for (int32_t i = 0; i < n; i++)
			copy[i] = fx_lin_interp(table[i], at_wide, last, Q14_ONE, last);
	} else {
		for (int32_t i = 0; i < n; i++)
			copy[i] = table[i];
	}
	if (zoom->destroy == free_rescaled)
		g_free((void *)table);
	zoom->magnifications = copy;
	zoom->destroy = free_rescaled;
}

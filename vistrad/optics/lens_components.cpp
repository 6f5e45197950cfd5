#include "lens_components.h"

#include <glib.h>

#include "camblock_tp.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "focus_zoom.h"
#include "ircut.h"
#include "ircut_private.h"
#include "platform/platform.h"

namespace
{

#define Q14_ONE 16384
#define PARAM_FOCUS_TRACE_CURVE 100
#define RELEASE_TRACKING 0xFFFF
#define WIDE_END_UNKNOWN 65535

enum variant {
	REPORTED,
	POLLED,
	GUARDED,
	NO_SECOND = -1,
};

// How a zoom unit gets its mechanical range.
enum zoom_range {
	FIXED_RANGE,    // the numbers of the table below
	RELATIVE,       // from the tables, the maximum magnification and the lowest position
	FROM_TABLES_M,  // from the tables and the maximum magnification
	TABLE_ENDS,     // the first and last table position
	WIDE_END_RANGE, // fixed, magnifications rescaled to the lens's own wide end
};

struct focus_row {
	int32_t mech_max;
	int variant;
	int second; // the variant the flag selects
	uint8_t pending;
};

struct zoom_row {
	int32_t mech_min;
	int32_t mech_max;
	int variant;
	int second;
	uint8_t pending;
	zoom_range range;
};

// In the order of enum camblock_lens.
const focus_row focus_rows[CAMBLOCK_LENS_COUNT] = {
    {7500, REPORTED, NO_SECOND, 0}, // Tamron DF010NL
    {5200, REPORTED, NO_SECOND, 0}, // Tamron DF024NL
    {6796, REPORTED, POLLED, 0},    // Tamron DF020NL
    {4254, GUARDED, NO_SECOND, 0},  // Tamron DF023Q
    {2067, REPORTED, POLLED, 0},    // Tamron DE011N
    {5348, REPORTED, NO_SECOND, 0}, // Tamron DF031N
    {5909, GUARDED, NO_SECOND, 0},  // CBC R18
    {5416, POLLED, NO_SECOND, 1},   // Ricom AF02812DB ICR
    {7252, REPORTED, NO_SECOND, 0}, // Canon C40x43
    {5223, REPORTED, NO_SECOND, 0}, // Canon C50x1485
    {3770, POLLED, NO_SECOND, 0},   // CBC TSF2 9Z2813BHRW F5
    {2708, REPORTED, NO_SECOND, 0}, // Tamron DF034N
    {3648, REPORTED, GUARDED, 0},   // Evetar E5350A
    {1940, REPORTED, NO_SECOND, 0}, // Union Optech T5285
    {9296, REPORTED, NO_SECOND, 0}, // Union Optech T5377Q
    {5736, REPORTED, NO_SECOND, 0}, // Union Optech T5390
    {1256, REPORTED, GUARDED, 0},   // YTOT YT50011DB ICR
    {1432, REPORTED, GUARDED, 0},   // CBC NSF2 3Z5915BMRW F5
};

const zoom_row zoom_rows[CAMBLOCK_LENS_COUNT] = {
    {0, 2468, REPORTED, NO_SECOND, 0, FIXED_RANGE},    // Tamron DF010NL
    {0, 2500, REPORTED, NO_SECOND, 0, FIXED_RANGE},    // Tamron DF024NL
    {0, 1320, REPORTED, POLLED, 0, FIXED_RANGE},       // Tamron DF020NL
    {0, 5620, GUARDED, NO_SECOND, 0, FIXED_RANGE},     // Tamron DF023Q
    {0, 2204, REPORTED, POLLED, 0, FIXED_RANGE},       // Tamron DE011N
    {0, 0, REPORTED, NO_SECOND, 0, RELATIVE},          // Tamron DF031N
    {0, 490, GUARDED, NO_SECOND, 0, FIXED_RANGE},      // CBC R18
    {0, 2476, POLLED, NO_SECOND, 1, FIXED_RANGE},      // Ricom AF02812DB ICR
    {200, 17720, REPORTED, NO_SECOND, 0, FIXED_RANGE}, // Canon C40x43
    {0, 0, REPORTED, NO_SECOND, 0, TABLE_ENDS},        // Canon C50x1485
    {0, 2978, POLLED, NO_SECOND, 0, WIDE_END_RANGE},   // CBC TSF2 9Z2813BHRW F5
    {0, 0, REPORTED, NO_SECOND, 0, FROM_TABLES_M},     // Tamron DF034N
    {0, 2932, REPORTED, GUARDED, 0, FIXED_RANGE},      // Evetar E5350A
    {0, 6884, REPORTED, NO_SECOND, 0, FIXED_RANGE},    // Union Optech T5285
    {0, 0, REPORTED, NO_SECOND, 0, RELATIVE},          // Union Optech T5377Q
    {0, 0, REPORTED, NO_SECOND, 0, RELATIVE},          // Union Optech T5390
    {0, 5132, REPORTED, GUARDED, 0, FIXED_RANGE},      // YTOT YT50011DB ICR
    {0, 2984, REPORTED, GUARDED, 0, FIXED_RANGE},      // CBC NSF2 3Z5915BMRW F5
};

// The IR-cut filter's type code; -1: none over the controller.
const int32_t ircut_types[CAMBLOCK_LENS_COUNT] = {4,  12, 6,  7,  14, 9, 21, 16, 22,
                                                  -1, 23, 27, 17, 20, 9, 30, 28, 29};

int chosen(int variant, int second, int flag)
{
	return flag && second != NO_SECOND ? second : variant;
}

bool initialised(const struct camblock *block)
{
	return block && block->mcu.initialised;
}

int32_t read_into(struct camblock *block, uint16_t reg, int32_t *value)
{
	int v = camblock_read_register(block, reg);
	if (v >= 0)
		*value = v;
	return v;
}

/* IR-cut filter */

int lens_switch(struct platform *platform, int day, int32_t stream_id)
{
	struct ircut *filter = platform_get_ircut(platform, stream_id);
	if (!filter)
		return -4;
	return ircut_mcu_common_set(filter, day) < 0 ? -4 : PLATFORM_OK;
}

void free_filter(struct ircut *filter)
{
	g_free(filter);
}

/* focus */

int focus_move(struct focus_object *focus, int32_t position, int wait)
{
	if (position < focus->mech_min || position > focus->mech_max) {
		debug_output(DEBUG_WARNING, 0, "<FOCUS> Out of bounds!\n");
		return -1;
	}
	camblock_tp_focus_move_abs(position, wait);
	if (!camblock_motor_allowed(focus->owner)) {
		focus->commanded = 0;
		focus->target = focus->value;
		if (wait)
			focus->pending = 0;
		return 0;
	}
	focus->commanded = 1;
	focus->target = position;
	if (wait)
		focus->pending = 1;
	return camblock_write_register(focus->owner, CAMBLOCK_REG_FOCUS_MOVE, (uint16_t)position);
}

int focus_move_reported(struct focus_object *focus, int32_t position, int32_t)
{
	return focus_move(focus, position, 0);
}

int focus_move_polled(struct focus_object *focus, int32_t position, int32_t)
{
	return focus_move(focus, position, 1);
}

int focus_move_guarded(struct focus_object *focus, int32_t position, int32_t)
{
	if (!initialised(focus->owner))
		return -1;
	return focus_move(focus, position, 1);
}

int focus_step(struct focus_object *focus, int32_t steps, int32_t speed)
{
	return focus->move_abs(focus, focus->value + steps, speed);
}

int focus_pending(struct focus_object *focus)
{
	return focus->pending;
}

int focus_poll(struct focus_object *focus)
{
	if (!focus->pending)
		return 0;
	int moving = camblock_read_register(focus->owner, CAMBLOCK_REG_FOCUS_MOVING);
	if (moving >= 0)
		focus->pending = moving != 0;
	if (focus->pending)
		return 1;
	read_into(focus->owner, CAMBLOCK_REG_FOCUS_POSITION, &focus->value);
	return 0;
}

int32_t focus_read_position(struct focus_object *focus)
{
	read_into(focus->owner, CAMBLOCK_REG_FOCUS_POSITION, &focus->value);
	return focus->value;
}

int32_t focus_position_while_pending(struct focus_object *focus)
{
	return focus->pending ? focus_read_position(focus) : focus->value;
}

int32_t focus_dioptres(struct focus_object *focus)
{
	struct camblock *block = focus->owner;
	if (!block || !block->zoom)
		return -2;
	if (!focus->value_is_position)
		return camblock_distance_index_to_dioptres(block, focus->value);
	return camblock_focus_position_to_dioptres(block, block->zoom->position, focus->value);
}

int32_t focus_max(struct focus_object *focus)
{
	return focus->max_limit;
}

int32_t focus_min(struct focus_object *focus)
{
	return focus->min_limit;
}

void leave_distance_index_mode(struct focus_object *focus)
{
	if (focus->owner)
		focus->owner->mcu.distance_index_mode = 0;
}

int focus_set_tracking_value(struct focus_object *focus, int32_t value)
{
	int result = camblock_write_register(focus->owner, CAMBLOCK_REG_TRACKING, (uint16_t)value);
	leave_distance_index_mode(focus);
	return result <= 0 ? result : 0;
}

int focus_take_update(struct focus_object *focus, int32_t value, int moving, int value_is_position)
{
	focus->value_is_position = value_is_position ? 1 : 0;
	focus->value = value;
	focus->pending = moving ? 1 : 0;
	if (!moving && !focus->commanded)
		focus->target = value;
	return 0;
}

int focus_halt(struct focus_object *focus)
{
	camblock_write_register(focus->owner, CAMBLOCK_REG_FOCUS_STOP, 1);
	focus->commanded = 0;
	return 0;
}

int focus_halt_and_release(struct focus_object *focus)
{
	camblock_write_register(focus->owner, CAMBLOCK_REG_FOCUS_STOP, 1);
	camblock_write_register(focus->owner, CAMBLOCK_REG_TRACKING, RELEASE_TRACKING);
	focus->commanded = 0;
	leave_distance_index_mode(focus);
	return 0;
}

/* zoom */

void publish(struct zoom_object *zoom)
{
	camblock_mcu_publish_zoom(zoom->owner);
}

// The aperture and the focus range follow a new zoom position.
void recalculate(struct zoom_object *zoom)
{
	struct camblock *block = zoom->owner;
	if (!block)
		return;
	if (block->update_aperture)
		block->update_aperture(block);
	else
		debug_output(DEBUG_ERROR, 0,
		             "Attempted to update aperture on camblocknot supporting recalculation");
	camblock_set_focus_limits(block, block->mcu.near_limit, block->mcu.far_limit);
}

int zoom_move(struct zoom_object *zoom, int32_t position, int variant)
{
	if (variant == GUARDED && !initialised(zoom->owner))
		return -1;
	if (position < zoom->mech_min || position > zoom->mech_max) {
		debug_output(DEBUG_WARNING, 0, "<ZOOM> Out of bounds!\n");
		return -1;
	}
	if (!camblock_motor_allowed(zoom->owner)) {
		zoom->target = zoom->position;
		zoom->commanded = 0;
		if (variant != REPORTED)
			zoom->pending = 0;
		return 0;
	}
	zoom->target = position;
	zoom->commanded = 1;
	if (variant != REPORTED)
		zoom->pending = 1;
	publish(zoom);
	return camblock_write_register(zoom->owner, CAMBLOCK_REG_ZOOM_MOVE, (uint16_t)position);
}

int zoom_move_reported(struct zoom_object *zoom, int32_t position)
{
	return zoom_move(zoom, position, REPORTED);
}

int zoom_move_polled(struct zoom_object *zoom, int32_t position)
{
	return zoom_move(zoom, position, POLLED);
}

int zoom_move_guarded(struct zoom_object *zoom, int32_t position)
{
	return zoom_move(zoom, position, GUARDED);
}

int zoom_step(struct zoom_object *zoom, int32_t steps)
{
	return zoom->move_abs(zoom, zoom->position + steps);
}

int zoom_halt(struct zoom_object *zoom)
{
	publish(zoom);
	camblock_write_register(zoom->owner, CAMBLOCK_REG_ZOOM_STOP, 1);
	zoom->commanded = 0;
	return 0;
}

int zoom_speed(struct zoom_object *zoom, int32_t speed)
{
	publish(zoom);
	return camblock_write_register(zoom->owner, CAMBLOCK_REG_SPEED, (uint16_t)speed);
}

int32_t zoom_max(struct zoom_object *zoom)
{
	return zoom->mech_max;
}

int32_t zoom_min(struct zoom_object *zoom)
{
	return zoom->mech_min;
}

int zoom_pending(struct zoom_object *zoom)
{
	return zoom->pending;
}

int zoom_poll(struct zoom_object *zoom)
{
	if (!zoom->pending)
		return 0;
	int moving = camblock_read_register(zoom->owner, CAMBLOCK_REG_ZOOM_MOVING);
	if (moving >= 0)
		zoom->pending = moving != 0;
	if (zoom->pending)
		return 1;
	read_into(zoom->owner, CAMBLOCK_REG_ZOOM_POSITION, &zoom->position);
	recalculate(zoom);
	publish(zoom);
	return 0;
}

int32_t zoom_read_position(struct zoom_object *zoom)
{
	read_into(zoom->owner, CAMBLOCK_REG_ZOOM_POSITION, &zoom->position);
	return zoom->position;
}

int32_t zoom_position_while_pending(struct zoom_object *zoom)
{
	return zoom->pending ? zoom_read_position(zoom) : zoom->position;
}

// While the zoom runs with a trace mode, the controller moves the focus
// along the curve: the focus's own command is over.
void focus_follows(struct zoom_object *zoom)
{
	struct camblock *block = zoom->owner;
	if (block && block->mcu.trace_mode != 0 && block->focus)
		block->focus->commanded = 0;
}

int zoom_take_report(struct zoom_object *zoom, int32_t position, int moving)
{
	if (moving) {
		zoom->position = position;
		zoom->pending = 1;
		focus_follows(zoom);
		return 0;
	}
	if (zoom->pending) {
		zoom->position = position;
		zoom->pending = 0;
		if (!zoom->commanded && position != zoom->target)
			zoom->target = position;
		recalculate(zoom);
		publish(zoom);
		return 0;
	}
	int32_t old = zoom->position;
	zoom->position = position;
	bool changed;
	bool retargeted = false;
	if (zoom->commanded) {
		changed = position != old;
	} else if (zoom->target == position) {
		changed = old != zoom->target;
	} else {
		zoom->target = position;
		retargeted = true;
		changed = old != position;
	}
	if (changed)
		recalculate(zoom);
	if (changed || retargeted)
		publish(zoom);
	return 0;
}

int zoom_take_poll(struct zoom_object *zoom, int32_t position, int)
{
	if (zoom->pending) {
		focus_follows(zoom);
		return 0;
	}
	if (zoom->commanded)
		return 0;
	if (zoom->target != position)
		publish(zoom);
	zoom->target = position;
	return 0;
}

// The lens's wide end as its controller knows it; unknown when a byte
// cannot be read.
int32_t wide_end(struct camblock *block)
{
	int low = camblock_read_register(block, CAMBLOCK_REG_WIDE_END_LOW);
	int high = camblock_read_register(block, CAMBLOCK_REG_WIDE_END_HIGH);
	if (low < 0 || high < 0)
		return WIDE_END_UNKNOWN;
	return (low & 0xFF) | (high & 0xFF) << 8;
}

void set_range(struct zoom_object *zoom, const zoom_row &row, const struct camblock_zoom_tables *t,
               int32_t max_magnification, int32_t min_position)
{
	switch (row.range) {
	case RELATIVE:
	case FROM_TABLES_M:
		zoom_use_relative_tables(zoom, t->count, t->positions, t->magnifications, t->focal_lengths,
		                         t->focal_model, t->focal_model_q, max_magnification,
		                         row.range == RELATIVE ? min_position : -1);
		return;
	case TABLE_ENDS:
		zoom_use_tables(zoom, t->count, t->positions, t->magnifications, t->focal_lengths,
		                t->focal_model, t->focal_model_q);
		zoom->extra_table = t->extra_table;
		if (t->count > 0 && t->positions) {
			zoom->mech_min = t->positions[0];
			zoom->mech_max = t->positions[t->count - 1];
		}
		return;
	case WIDE_END_RANGE:
	case FIXED_RANGE:
		zoom_use_tables(zoom, t->count, t->positions, t->magnifications, t->focal_lengths,
		                t->focal_model, t->focal_model_q);
		zoom->mech_min = row.mech_min;
		zoom->mech_max = row.mech_max;
		// The unit then owns a copy of its magnifications and a destroy slot.
		if (row.range == WIDE_END_RANGE)
			zoom_rescale_to_wide_end(zoom, wide_end(zoom->owner));
		return;
	}
}

} // namespace

int ircut_mcu_common_set(struct ircut *ircut, int day)
{
	struct camblock *block = ircut ? static_cast<struct camblock *>(ircut->owner) : nullptr;
	if (!block)
		return -2;
	int32_t set = 0;
	if (!day && param_get_int(PARAM_FOCUS_TRACE_CURVE, block->stream_id, &set) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not get FocusTraceCurve, using default\n",
		             "ircut_mcu_common_set");
		set = 0;
	}
	camblock_set_trace_curve(block, (uint32_t)set);
	// A filter that did not move keeps its old state.
	if (!block->write_register || block->write_register(block, CAMBLOCK_REG_IRCUT, day ? 1 : 0) < 0)
		return -4;
	if (block->focus)
		block->focus->commanded = 0;
	ircut->state = day ? 1 : 0;
	return 0;
}

struct ircut *camblock_ircut_new(struct camblock *block, enum camblock_lens lens)
{
	if (lens < 0 || lens >= CAMBLOCK_LENS_COUNT || ircut_types[lens] < 0)
		return nullptr;
	struct ircut *filter =
	    ircut_make((uint32_t)ircut_types[lens], ircut_mcu_common_set, free_filter, nullptr);
	filter->owner = block;
	if (block && block->platform)
		block->platform->daynight_switch = lens_switch;
	return filter;
}

struct focus_object *camblock_focus_new(struct camblock *block, enum camblock_lens lens, int flag)
{
	if (lens < 0 || lens >= CAMBLOCK_LENS_COUNT)
		return nullptr;
	const focus_row &row = focus_rows[lens];
	struct focus_object *focus = focus_new();
	focus->type = FOCUS_ZOOM_TYPE_MOTOR;
	focus->owner = block;
	focus->mech_max = focus->max_limit = row.mech_max;
	focus->pending = row.pending;
	switch (chosen(row.variant, row.second, flag)) {
	case REPORTED:
		focus->move_abs = focus_move_reported;
		focus->is_moving = focus_pending;
		focus->get_position = focus_read_position;
		break;
	case POLLED:
		focus->move_abs = focus_move_polled;
		focus->is_moving = focus_poll;
		focus->get_position = focus_position_while_pending;
		break;
	default:
		focus->move_abs = focus_move_guarded;
		focus->is_moving = focus_poll;
		focus->get_position = focus_position_while_pending;
		break;
	}
	focus->move_rel = focus_step;
	focus->get_distance_diopters = focus_dioptres;
	focus->get_max = focus_max;
	focus->get_min = focus_min;
	focus->set_tracking = focus_set_tracking_value;
	focus->update = focus_take_update;
	focus->stop = focus_halt;
	focus->stop_and_release = focus_halt_and_release;
	return focus;
}

struct zoom_object *camblock_zoom_new(struct camblock *block, enum camblock_lens lens,
                                      const struct camblock_zoom_tables *tables, int flag,
                                      int32_t max_magnification, int32_t min_position)
{
	if (lens < 0 || lens >= CAMBLOCK_LENS_COUNT || !tables)
		return nullptr;
	const zoom_row &row = zoom_rows[lens];
	struct zoom_object *zoom = zoom_new();
	zoom->type = FOCUS_ZOOM_TYPE_MOTOR;
	zoom->owner = block;
	zoom->speed = Q14_ONE;
	zoom->pending = row.pending;
	set_range(zoom, row, tables, max_magnification, min_position);
	zoom->position = 0;
	int variant = chosen(row.variant, row.second, flag);
	zoom->move_abs = variant == REPORTED ? zoom_move_reported
	                 : variant == POLLED ? zoom_move_polled
	                                     : zoom_move_guarded;
	zoom->is_moving = variant == REPORTED ? zoom_pending : zoom_poll;
	zoom->get_position = variant == REPORTED ? zoom_read_position : zoom_position_while_pending;
	zoom->update = variant == REPORTED ? zoom_take_report : zoom_take_poll;
	zoom->move_rel = zoom_step;
	zoom->stop = zoom_halt;
	zoom->get_max = zoom_max;
	zoom->get_min = zoom_min;
	zoom->set_speed = zoom_speed;
	return zoom;
}

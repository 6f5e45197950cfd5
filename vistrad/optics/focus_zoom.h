#pragma once
// Focus and zoom units: the two motors of a lens block. Each lens family
// fills the slots it supports; the rest of the daemon goes through the
// wrappers below, which check the unit, its platform and the slot first.
//
// The zoom tables map zoom motor positions to optical magnification and
// focal length (both Q14) and back; a unit reads them through the table
// functions below, which the lens constructors put in its slots.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

#include "core/param_db.h"

struct platform;
struct camblock;
struct camblock_fov_table;

// Kinds of unit (the type word).
enum {
	FOCUS_ZOOM_TYPE_NONE = 0,
	FOCUS_ZOOM_TYPE_MOTOR = 1,
	FOCUS_ZOOM_TYPE_FIXED = 2,
};

struct focus_object {
	uint32_t type;
	struct platform *platform;
	struct camblock *owner;
	uint8_t commanded;
	uint8_t value_is_position; // 0: value holds a distance index
	int32_t value;
	int32_t min_limit;
	int32_t mech_min;
	int32_t max_limit;
	int32_t mech_max;
	int32_t target;
	uint8_t pending;
	uint8_t settled;
	int (*is_moving)(struct focus_object *focus);
	int (*move_abs)(struct focus_object *focus, int32_t position, int32_t speed);
	int (*move_rel)(struct focus_object *focus, int32_t steps, int32_t speed);
	int32_t (*get_position)(struct focus_object *focus);
	int32_t (*get_distance_diopters)(struct focus_object *focus);
	int32_t (*get_max)(struct focus_object *focus);
	int32_t (*get_min)(struct focus_object *focus);
	void (*set_max_limit)(struct focus_object *focus, int32_t position);
	void (*set_min_limit)(struct focus_object *focus, int32_t position);
	int (*set_tracking)(struct focus_object *focus, int32_t position);
	int (*update)(struct focus_object *focus, int32_t value, int moving, int value_is_position);
	int (*stop)(struct focus_object *focus);
	int (*stop_and_release)(struct focus_object *focus);
};

struct zoom_object {
	uint32_t type;
	struct platform *platform;
	struct camblock *owner;
	int32_t count;                 // points of the tables below
	const int32_t *positions;      // ascending
	const int32_t *magnifications; // Q14, 1.0 at the wide end
	const int32_t *focal_lengths;  // Q14 millimetres
	const int32_t *focal_model;    // 0.5 / focal length, focal_model_q fraction bits
	uint32_t focal_model_q;
	int32_t max_ceiling; // 0: limit_by_magnification is not capped
	const struct camblock_fov_table *extra_table;
	int32_t position;
	int32_t mech_min;
	int32_t mech_max;
	int32_t target;
	uint8_t pending;
	uint8_t commanded;
	int32_t speed; // Q14
	// Published again on every change while its id is not 0, so that the
	// optics data cache learns of the move.
	struct param_value parameter;
	int (*is_moving)(struct zoom_object *zoom);
	int (*move_abs)(struct zoom_object *zoom, int32_t position);
	int (*move_rel)(struct zoom_object *zoom, int32_t steps);
	int (*stop)(struct zoom_object *zoom);
	int32_t (*get_position)(struct zoom_object *zoom);
	int32_t (*get_max)(struct zoom_object *zoom);
	int32_t (*get_min)(struct zoom_object *zoom);
	int (*update)(struct zoom_object *zoom, int32_t position, int moving);
	int32_t (*magnification_at_position)(struct zoom_object *zoom, int32_t position);
	int32_t (*focal_length_at_position)(struct zoom_object *zoom, int32_t position);
	int32_t (*position_for_magnification)(struct zoom_object *zoom, int32_t magnification);
	void (*limit_by_magnification)(struct zoom_object *zoom, int32_t magnification);
	int32_t (*max_magnification)(struct zoom_object *zoom);
	int (*set_speed)(struct zoom_object *zoom, int32_t speed);
	void (*destroy)(struct zoom_object *zoom);
};

// Zero-filled units of type 0; the ..._fixed ones are the CS-mount lens's
// (type 2, no slots).
struct focus_object *focus_new(void);
struct zoom_object *zoom_new(void);
struct focus_object *focus_new_fixed(void);
struct zoom_object *zoom_new_fixed(void);
void focus_add_platform(struct focus_object *focus, struct platform *platform);
void zoom_add_platform(struct zoom_object *zoom, struct platform *platform);
void focus_destroy(struct focus_object *focus);
// The destroy slot, when set, frees what the unit owns and the unit.
void zoom_destroy(struct zoom_object *zoom);

// Wrappers: -2 when the unit, its platform or the slot is missing.
int focus_is_moving(struct focus_object *focus);
int focus_move_abs(struct focus_object *focus, int32_t position, int32_t speed);
int focus_move_rel(struct focus_object *focus, int32_t steps, int32_t speed);
int32_t focus_get_position(struct focus_object *focus);
extern "C" int32_t focus_get_distance_diopters(struct focus_object *focus);
int32_t focus_get_max(struct focus_object *focus);
int32_t focus_get_min(struct focus_object *focus);
int focus_set_max_limit(struct focus_object *focus, int32_t position); // 0 once the slot ran
int focus_set_min_limit(struct focus_object *focus, int32_t position); // 0 once the slot ran
int focus_set_tracking(struct focus_object *focus, int32_t position);
int focus_update(struct focus_object *focus, int32_t value, int moving, int value_is_position);
int focus_stop(struct focus_object *focus);
int focus_stop_and_release(struct focus_object *focus);

int zoom_is_moving(struct zoom_object *zoom);
int zoom_move_abs(struct zoom_object *zoom, int32_t position);
int zoom_move_rel(struct zoom_object *zoom, int32_t steps);
int zoom_stop(struct zoom_object *zoom);
int32_t zoom_get_position(struct zoom_object *zoom);
extern "C" int32_t zoom_get_max(struct zoom_object *zoom);
extern "C" int32_t zoom_get_min(struct zoom_object *zoom);
int zoom_update(struct zoom_object *zoom, int32_t position, int moving);
extern "C" int32_t zoom_magnification_at_position(struct zoom_object *zoom, int32_t position);
int32_t zoom_focal_length_at_position(struct zoom_object *zoom, int32_t position);
extern "C" int32_t zoom_position_for_magnification(struct zoom_object *zoom, int32_t magnification);
extern "C" int32_t zoom_max_magnification(struct zoom_object *zoom);
int zoom_set_speed(struct zoom_object *zoom, int32_t speed);
// Always gives the zoom back; runs the slot when the unit can.
struct zoom_object *zoom_limit_by_magnification(struct zoom_object *zoom, int32_t magnification);

// The zoom tables. Lookups bracket the value between two neighbouring
// points (the end segments extrapolate; a table of one point answers that
// point) and give -2 when the unit has no table.
int32_t zoom_table_magnification_at_position(struct zoom_object *zoom, int32_t position);
int32_t zoom_table_focal_length_at_position(struct zoom_object *zoom, int32_t position);
int32_t zoom_table_position_for_magnification(struct zoom_object *zoom, int32_t magnification);
// mech_max := the position of the magnification through the unit's own
// position_for_magnification slot (the table's when empty), capped at
// max_ceiling when that is set. Nothing without a table.
void zoom_table_limit_by_magnification(struct zoom_object *zoom, int32_t magnification);
// At mech_max rounded to hundredths while mech_max lies below the table's
// last position, else the last magnification.
int32_t zoom_table_max_magnification(struct zoom_object *zoom);
// Stores the table pointers (not copied) and puts the five table functions
// in the unit's slots.
void zoom_use_tables(struct zoom_object *zoom, int32_t count, const int32_t *positions,
                     const int32_t *magnifications, const int32_t *focal_lengths, const int32_t *focal_model,
                     uint32_t focal_model_q);

// Magnifications relative to mech_min: while mech_min lies above the first
// table position, magnification 1.0 is read at mech_min; otherwise these
// are the plain table functions.
int32_t zoom_relative_magnification_at_position(struct zoom_object *zoom, int32_t position);
int32_t zoom_relative_position_for_magnification(struct zoom_object *zoom, int32_t magnification);
int32_t zoom_relative_max_magnification(struct zoom_object *zoom);
// The tables with the relative functions in their slots, and the bounds:
// mech_min from the lowest position P (-1: none) while it lies inside the
// table, mech_max the last position, lowered to the magnification M when
// M > 0 (never raised past the table); max_ceiling keeps the resulting
// mech_max. Position 0, speed 1.0.
void zoom_use_relative_tables(struct zoom_object *zoom, int32_t count, const int32_t *positions,
                              const int32_t *magnifications, const int32_t *focal_lengths,
                              const int32_t *focal_model, uint32_t focal_model_q, int32_t max_magnification,
                              int32_t min_position);

// The unit takes a copy of its magnifications rescaled so that the wide-end
// position W reads 1.0 and the tele end keeps its value (an unchanged copy
// when W is 65535, unknown, or not above the first position). The copy is
// the unit's: its destroy slot frees the copy and the unit. Call once, after
// the tables are set.
void zoom_rescale_to_wide_end(struct zoom_object *zoom, int32_t wide_end);

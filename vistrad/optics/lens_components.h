#pragma once
// The focus and zoom units and the IR-cut filter of a lens block whose
// motors a lens MCU drives: they act by writing and reading the
// controller's registers through their camera block. One constructor per
// kind of component takes the lens model and builds that lens's unit.
//
// A unit learns whether its motor still runs in one of three ways:
// reported (the block's poll tells it), polled (it reads the motor's moving
// register itself), or guarded (polled, and refusing every move until the
// block's controller has finished initialising).

#include <stdint.h>

#include "camblock_mcu.h"

struct ircut;
struct focus_object;
struct zoom_object;
struct camblock_fov_table;

// The lens's IR-cut filter over the controller (null for a lens without
// one). It also makes the block's platform switch day and night through
// it.
struct ircut *camblock_ircut_new(struct camblock *block, enum camblock_lens lens);
// Night selects the focus trace-curve set of FocusTraceCurve, day set 0;
// then the filter register takes the day flag. 0, or -4 (state not
// recorded) when the controller did not take it.
int ircut_mcu_common_set(struct ircut *ircut, int day);

// flag selects the lens's second variant, where it has one.
struct focus_object *camblock_focus_new(struct camblock *block, enum camblock_lens lens, int flag);

// The lens model's zoom tables; the unit refers to them (the CBC TSF2's
// keeps a rescaled copy of its magnifications).
struct camblock_zoom_tables {
	int32_t count;
	const int32_t *positions;
	const int32_t *magnifications;
	const int32_t *focal_lengths;
	const int32_t *focal_model;
	uint32_t focal_model_q;
	const struct camblock_fov_table *extra_table; // the Canon C50x1485's
};

// flag as for the focus; max_magnification (Q14, 0: none) and min_position
// (-1: none) bound the zoom units whose range comes from their tables.
struct zoom_object *camblock_zoom_new(struct camblock *block, enum camblock_lens lens,
                                      const struct camblock_zoom_tables *tables, int flag,
                                      int32_t max_magnification, int32_t min_position);

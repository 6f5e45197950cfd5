#pragma once
// The iris of a lens block with a lens MCU: the daemon writes a target drive
// value to the controller's iris register and the controller closes the
// loop on its hall sensor. Iris positions 0 (open) .. max_position map
// linearly onto the lens's drive scale, position 0 at its high end.
//
// The iris knows its position in one of three ways: the position it was
// last sent (commanded), the drive value read back every 30th time and
// corrected when the iris drifted (read-back), or the lens model's poll
// telling it (reported).

#include <stdint.h>

#include "camblock_mcu.h"

struct iris;

// The drive scale: the private block of these irises.
struct iris_hall_scale {
	uint32_t calibrated; // a hall calibration is installed
	int32_t low;         // drive value of the most closed position
	int32_t high;        // drive value of position 0
	int32_t default_low;
	int32_t default_high; // also what go_home writes
	void *mapping;        // unused: the plain linear mapping
	uint32_t poll_counter;
	int32_t reported_position;
	uint32_t move_issued;      // from a command until the lens reports
	uint8_t reports_positions; // the lens reports positions, not drive values
};

// The lens's iris over the block from its aperture table (n F-numbers, Q14,
// one per position; referenced, not copied). read_back selects the read-back
// variant on the lenses that offer it.
struct iris *iris_hall_new(struct camblock *block, enum camblock_lens lens, const int32_t *apertures,
                           int32_t n, int read_back);

// The lens model's poll hands over the iris register (a position on the
// lenses that report positions). Only irises of the reported variant keep it.
void iris_hall_report(struct iris *iris, int32_t value);

#pragma once
// The intelligent (e-KT) lens: a lens with its own controller that
// describes itself over I2C (identity, power need, motor ranges and
// calibration polynomials), so the daemon keeps no tables of its own for
// it. Registers and values are 16-bit big-endian. Moves of its focus, zoom
// and iris are requests that the block's poll sends to the lens one motor
// at a time.

#include <stdint.h>

#include "camblock.h"

struct control;
struct platform;
struct camblock_lens_device;

// A calibration record as stored: the 50 bytes read from the lens land at
// offset 2, and the three 16-bit fields and the floats are turned to host
// order. The polynomial is c0 + c1 x + ... + c10 x^10.
struct camblock_ekt_record {
	uint16_t unused;
	uint16_t kind;
	uint16_t value; // meaning by type
	uint16_t reserved;
	float c[11];
};

enum {
	CAMBLOCK_EKT_RECORD_TRACE = 1,        // value: object distance, millidioptres
	CAMBLOCK_EKT_RECORD_DISTORTION = 2,   // value: zoom position
	CAMBLOCK_EKT_RECORD_FOCAL_LENGTH = 4, // focal length (mm) over zoom position
	CAMBLOCK_EKT_RECORD_IRIS = 6,         // value: zoom position of the iris curve
	CAMBLOCK_EKT_RECORD_TEMPERATURE = 7,  // hundredths of a kelvin over the raw reading
};

// The polynomial at x in double precision, and as Q14 (rounded half away
// from zero).
double camblock_ekt_poly(const struct camblock_ekt_record *record, double x);
int32_t camblock_ekt_poly_q14(const struct camblock_ekt_record *record, double x);

// Allocates the block on the device, hands it to the engine for the stream
// and fills its slots. The block owns the device record.
struct camblock *camblock_ekt_new(struct control *engine, struct platform *platform,
                                  struct camblock_lens_device *device, int32_t stream_id, uint16_t address,
                                  int32_t max_power);
// Reads the lens and builds its units, trace model, distortion table and
// lens-info file. 0, -1 (lens not ready or asking too much power) or -4.
int camblock_ekt_setup(struct control *engine, struct camblock *block, int32_t stream_id, int reset);

// 0 or -4 (logged with the register).
int camblock_ekt_i2c_write(struct camblock *block, uint16_t reg, uint16_t value);
// 0..65535 or -4.
int camblock_ekt_i2c_read(struct camblock *block, uint16_t reg);
int camblock_ekt_i2c_read_buf(struct camblock *block, uint16_t reg, uint8_t *buffer, uint16_t length);
// The next record of a type after *index when *count is positive, else the
// first (reading the count into *count). 0 with *index set, or -1.
int camblock_ekt_read_record(struct camblock *block, uint16_t type, struct camblock_ekt_record *record,
                             int32_t *index, int32_t *count);
// Records of a type, or -1 when the count cannot be read.
int32_t camblock_ekt_count_records(struct camblock *block, uint16_t type);

// For a caller that drives the lens state machine itself.
int32_t camblock_ekt_get_requested_index(struct camblock *block);
// Clears the focus unit's platform pointer and frees it.
void camblock_ekt_release_focus(struct camblock *block);

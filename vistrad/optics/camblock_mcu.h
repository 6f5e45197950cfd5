#pragma once
// The common camera block of the lenses whose zoom, focus, iris and IR-cut
// filter sit behind a small controller (the lens MCU) on I2C. The daemon
// reaches the controller only through 16-bit registers; register numbers
// are 0xGII (group in bits 8 to 14, index in bits 0 to 7).
//
// A lens-model module opens the device, builds the block with
// camblock_mcu_common, fills the block's lens data (struct camblock_mcu in
// camblock.h) and replaces the few slots its lens does differently.

#include <stdint.h>

#include "camblock.h"

struct control;
struct control_temperature_limit;

#define CAMBLOCK_MCU_ADDRESS 0x43

// Registers the common block and the components over it use.
enum {
	CAMBLOCK_REG_ERROR = 0x002,
	CAMBLOCK_REG_IRCUT = 0x007,
	CAMBLOCK_REG_LENS_ID = 0x00C,
	CAMBLOCK_REG_ZOOM_POSITION = 0x100,
	CAMBLOCK_REG_ZOOM_MOVE = 0x101,
	CAMBLOCK_REG_SPEED = 0x103,
	CAMBLOCK_REG_FRAME_RATE = 0x104,
	CAMBLOCK_REG_ZOOM_SETTING = 0x105,
	CAMBLOCK_REG_ZOOM_STOP = 0x106,
	CAMBLOCK_REG_INIT = 0x107,
	CAMBLOCK_REG_ZOOM_STATUS = 0x108,
	CAMBLOCK_REG_ZOOM_MOVING = 0x109,
	CAMBLOCK_REG_ZOOM_REG17 = 0x111,
	CAMBLOCK_REG_FOCUS_POSITION = 0x200,
	CAMBLOCK_REG_FOCUS_MOVE = 0x201,
	CAMBLOCK_REG_FOCUS_SETTING = 0x205,
	CAMBLOCK_REG_FOCUS_STOP = 0x206,
	CAMBLOCK_REG_FOCUS_STATUS = 0x208,
	CAMBLOCK_REG_FOCUS_MOVING = 0x209,
	CAMBLOCK_REG_FOCUS_REG12 = 0x20C,
	CAMBLOCK_REG_FOCUS_REG17 = 0x211,
	CAMBLOCK_REG_TRACKING = 0x301,
	CAMBLOCK_REG_TRACE_MODE = 0x302,
	CAMBLOCK_REG_DISTANCE_INDEX = 0x303,
	CAMBLOCK_REG_SYNC_TRACKING = 0x304,
	CAMBLOCK_REG_TRACE_SET = 0x305,
	CAMBLOCK_REG_DOME = 0x306,
	CAMBLOCK_REG_IRIS = 0x400,
	CAMBLOCK_REG_HALL = 0x403,
	CAMBLOCK_REG_HALL_LOW = 0x408,
	CAMBLOCK_REG_HALL_HIGH = 0x409,
	CAMBLOCK_REG_THERMISTOR = 0x500,
	CAMBLOCK_REG_WIDE_END_LOW = 0x93C,
	CAMBLOCK_REG_WIDE_END_HIGH = 0x93D,
	CAMBLOCK_REG_SYNC = 0xE00,
	CAMBLOCK_REG_SYNC_COUNT = 0xE01,
	CAMBLOCK_REG_SYNC_CORRECTION = 0xE03,
};

// The lens models with a lens MCU; the component constructors take one.
enum camblock_lens {
	CAMBLOCK_LENS_TAMRON_DF010NL,
	CAMBLOCK_LENS_TAMRON_DF024NL,
	CAMBLOCK_LENS_TAMRON_DF020NL,
	CAMBLOCK_LENS_TAMRON_DF023Q,
	CAMBLOCK_LENS_TAMRON_DE011N,
	CAMBLOCK_LENS_TAMRON_DF031N,
	CAMBLOCK_LENS_CBC_R18,
	CAMBLOCK_LENS_RICOM_AF02812DB_ICR,
	CAMBLOCK_LENS_CANON_C40X43,
	CAMBLOCK_LENS_CANON_C50X1485,
	CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5,
	CAMBLOCK_LENS_TAMRON_DF034N,
	CAMBLOCK_LENS_EVETAR_E5350A,
	CAMBLOCK_LENS_UNIONOPTECH_T5285,
	CAMBLOCK_LENS_UNIONOPTECH_T5377Q,
	CAMBLOCK_LENS_UNIONOPTECH_T5390,
	CAMBLOCK_LENS_YTOT_YT50011DB_ICR,
	CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5,
	CAMBLOCK_LENS_COUNT,
};

// What the status registers read when a motor has finished initialising.
#define CAMBLOCK_MCU_STATUS_READY 4

// The lens MCU's I2C character device.
struct camblock_lens_device {
	int fd; // -1 when the device could not be opened: every access fails
	char *path;
	int flags; // O_RDWR
};

// Opens the device read/write through the platform's open operation (open(2)
// without one). The record is made even when the open fails.
struct camblock_lens_device *camblock_lens_device_open(struct platform *platform, const char *path);
// Closes the descriptor through the platform's close operation (close(2)
// without one) and frees the record.
void camblock_lens_device_free(struct platform *platform, struct camblock_lens_device *device);

// The lens's distortion: for two coefficient sets and each zoom point of the
// zoom table, four base coefficients (the model's) and the same scaled to
// the image's half width in millimetres (k x r^k), which slot 22 reads.
struct camblock_distortion {
	int32_t width;        // image width the scaled set was made for, -1 at first
	int32_t scale;        // digital-zoom scale, Q14
	int32_t per_row;      // 4
	int32_t rows;         // zoom points
	int32_t sets;         // 2
	const int32_t **base; // [set * rows + row] -> four coefficients
	int32_t *scaled;      // [(set * rows + row) * 4 + k], owned
};

// Two sets of rows x 4 coefficients (row-major), referenced, not copied.
struct camblock_distortion *camblock_distortion_new(int32_t rows, const int32_t *set0, const int32_t *set1);
void camblock_distortion_free(struct camblock_distortion *distortion);

// Stops the lens motors while the lens is colder than its stop limit and
// lets them run again once it is warmer than its start limit, setting the
// lens up afresh then.
struct camblock_temperature_guard {
	int (*setup)(struct camblock *block, int32_t stream_id); // run again after a cold stop
	int32_t limit_count;                                     // 2
	int32_t limits[2];                                       // start, stop; whole degrees Celsius
	struct control_temperature_limit *registrations[2];      // null when one failed
	uint8_t blocked;
	int32_t saved_ircut_state; // IrCutFilterState when the motors stopped
	struct control *engine;    // the registrations' engine
};

// Reads IrCutFilterState for the block's stream, registers the start limit
// (direction 1) and the stop limit (direction 0) on the sensor with
// camblock_temperature_callback, logging start_failed or stop_failed (null:
// the common texts) when one cannot be registered, and stores the guard in
// the block. Motors start blocked when the start limit is not passed yet.
struct camblock_temperature_guard *
camblock_temperature_guard_new(struct control *engine, struct camblock *block, uint32_t sensor_id,
                               int32_t start, int32_t stop, int (*setup)(struct camblock *, int32_t),
                               const char *start_failed, const char *stop_failed);

// A zero-filled block of type 1 on the engine's platform, the device and the
// bus address stored, every slot but 2 and 42 filled with the common MCU
// behaviour, trace mode 1. Never fails.
struct camblock *camblock_mcu_common(struct control *engine, struct platform *platform, int32_t stream_id,
                                     struct camblock_lens_device *device, uint16_t address);

// Fills only the register write and read slots (3 and 4), for a bare block
// that reads the controller once.
void camblock_mcu_set_register_slots(struct camblock *block);

// Sets the zoom unit's parameter record again, when it holds a parameter,
// so that the parameter's callbacks learn of a change of the zoom.
void camblock_mcu_publish_zoom(struct camblock *block);

// False (after the motor_blocked tracepoint) while the temperature guard
// holds the motors.
bool camblock_motor_allowed(struct camblock *block);

// The callback of both guard limits. Acts on stream 0's block whichever
// stream registered it.
void camblock_temperature_callback(struct control *engine, int32_t limit_id,
                                   struct control_temperature_limit *limit);

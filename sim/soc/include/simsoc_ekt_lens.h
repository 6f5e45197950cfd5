/* An intelligent (e-KT) lens on a simulated I2C adapter: 16-bit registers,
 * register numbers and values big-endian.
 *
 *   write:  one 4-byte message  reg high, reg low, value high, value low
 *   read:   a 2-byte message    reg high, reg low
 *           then a read of      2 bytes (the value, big-endian), 24 bytes at
 *                               0x100 (the model text) or 50 bytes at
 *                               0x1000 + i (calibration record i)
 *
 * Any other message is refused (EPROTO) and logged as a protocol error.
 * Accepted writes are logged in order as "0x<reg>=<value>" lines (register
 * in at least three hex digits, value in decimal).
 *
 * Behind the registers: three motors (focus 0x610, zoom 0x618, iris 0x620:
 * a write is the target, a read the position) that move a set number of
 * steps per tick and show bits 0, 1 and 2 of 0x506 while they run; the stops
 * 0x602 and 0x606; the resets 0x600, 0x604 and 0x608, which read 1 for a set
 * number of reads after 1 is written and leave the motor at its lowest
 * position; calibration records added by the test, whose count 0x40C reads.
 * Every other register reads what was last written or set.
 *
 * Steering from the environment, for a program started with the library
 * preloaded (read when the library loads):
 *   SIMSOC_EKT_LENS      "bus,address": puts a lens there
 *   SIMSOC_EKT_REGS      "reg=value,reg=value,...": register values
 *   SIMSOC_EKT_MODEL     the model text
 *   SIMSOC_EKT_RECORDS   "type:value:c0:c1:...;type:value:c0..." records in
 *                        order, up to eleven coefficients each */
#ifndef SIMSOC_EKT_LENS_H
#define SIMSOC_EKT_LENS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { SIMSOC_EKT_FOCUS = 0, SIMSOC_EKT_ZOOM = 1, SIMSOC_EKT_IRIS = 2 };
enum { SIMSOC_EKT_WRITE = 0, SIMSOC_EKT_READ = 1 };

typedef struct simsoc_ekt_lens simsoc_ekt_lens;

/* A lens at the bus and address, replacing any client there. It starts
 * ready (0x00E reads 0x07) with no records. */
simsoc_ekt_lens *simsoc_ekt_lens_add(unsigned bus, uint8_t addr);
/* Takes every lens off its adapter and frees it. */
void simsoc_ekt_lens_reset(void);

/* A register as the next read would see it (no side effects). */
uint16_t simsoc_ekt_lens_get(simsoc_ekt_lens *lens, uint16_t reg);
/* Sets a plain register, or a motor's position (0x610, 0x618, 0x620: the
 * motor is then still there). 0x40C set by hand overrides the record count. */
void simsoc_ekt_lens_set(simsoc_ekt_lens *lens, uint16_t reg, uint16_t value);
/* The 24-byte model text at 0x100 (padded with spaces). */
void simsoc_ekt_lens_set_model(simsoc_ekt_lens *lens, const char *text);
/* Appends a calibration record: type, value and the polynomial's eleven
 * coefficients c0..c10 (fewer given: the rest are 0). */
void simsoc_ekt_lens_add_record(simsoc_ekt_lens *lens, uint16_t type, uint16_t value, const double *c,
                                size_t count);

/* Reads of a reset register that stay busy after 1 is written to it. */
void simsoc_ekt_lens_set_reset_reads(simsoc_ekt_lens *lens, unsigned reads);
/* Steps a motor moves per tick; 0 arrives at once. */
void simsoc_ekt_lens_set_step(simsoc_ekt_lens *lens, int motor, unsigned steps);
void simsoc_ekt_lens_tick(simsoc_ekt_lens *lens, unsigned ticks);

/* Accepted writes so far, one "0x<reg>=<value>\n" line each (malloc'd). */
char *simsoc_ekt_lens_writes(simsoc_ekt_lens *lens);
void simsoc_ekt_lens_clear_writes(simsoc_ekt_lens *lens);
/* Refused messages, one line each (malloc'd); empty when the protocol held. */
char *simsoc_ekt_lens_errors(simsoc_ekt_lens *lens);

/* From now on accesses of the register in the direction fail with err
 * (EIO, or ENXIO for no answer); 0 lets them succeed again. A read fails at
 * its register message. */
void simsoc_ekt_lens_fail(simsoc_ekt_lens *lens, uint16_t reg, int direction, int err);

#ifdef __cplusplus
}
#endif

#endif

/* A lens controller (lens MCU) on a simulated I2C adapter: 16-bit registers
 * reached with the lens protocol's frames only.
 *
 *   write:  one 4-byte message  (reg >> 8) & 0x7F, reg & 0xFF, value low, high
 *   read:   a 2-byte message    (reg >> 8) | 0x80, reg & 0xFF
 *           then a 2-byte read  value low, high
 *
 * Any other message is refused (EPROTO) and logged as a protocol error, so
 * that a wrong byte fails a test. Accepted writes are logged in order as
 * "0x<reg>=<value>" lines (register in at least three hex digits, value in
 * decimal).
 *
 * Behind the registers: the initialisation (1 written to 0x107 keeps 0x107
 * non-zero for a set number of reads, then 0x108 and 0x208 read 4), a zoom
 * and a focus motor (targets 0x101 and 0x201, positions 0x100 and 0x200,
 * moving flags 0x109 and 0x209, stops 0x106 and 0x206) that move a set
 * number of steps per tick, the focus following the zoom along a test's
 * trace function while the trace mode (0x302) is not 0 and a distance index
 * was written to 0x303, and the iris (0x400 target; read back with a drift
 * the test chooses). Every other register reads what was last written or
 * set.
 *
 * Steering from the environment, for a program started with the library
 * preloaded (read when the library loads):
 *   SIMSOC_LENS_MCU             "bus[,address]": puts a controller there
 *   SIMSOC_LENS_MCU_REGS        "reg=value,reg=value,...": register values
 *   SIMSOC_LENS_MCU_INIT_READS  reads of 0x107 that stay busy */
#ifndef SIMSOC_LENS_MCU_H
#define SIMSOC_LENS_MCU_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_LENS_MCU_ADDRESS 0x43

enum { SIMSOC_LENS_ZOOM = 0, SIMSOC_LENS_FOCUS = 1 };
enum { SIMSOC_LENS_WRITE = 0, SIMSOC_LENS_READ = 1 };

typedef struct simsoc_lens_mcu simsoc_lens_mcu;

/* A controller at the bus and address (0: 0x43), replacing any client there. */
simsoc_lens_mcu *simsoc_lens_mcu_add(unsigned bus, uint8_t addr);
/* Takes every controller off its adapter and frees it. */
void simsoc_lens_mcu_reset(void);

/* A register's value as the next read would see it (no side effects). */
uint16_t simsoc_lens_mcu_get(simsoc_lens_mcu *m, uint16_t reg);
/* Sets a plain register, or a motor's position (0x100, 0x200: the motor is
 * then still there). */
void simsoc_lens_mcu_set(simsoc_lens_mcu *m, uint16_t reg, uint16_t value);

/* Accepted writes so far, one "0x<reg>=<value>\n" line each (malloc'd). */
char *simsoc_lens_mcu_writes(simsoc_lens_mcu *m);
void simsoc_lens_mcu_clear_writes(simsoc_lens_mcu *m);
/* How many reads of the register were answered. */
unsigned simsoc_lens_mcu_reads(simsoc_lens_mcu *m, uint16_t reg);
/* Refused messages, one line each (malloc'd); empty when the protocol held. */
char *simsoc_lens_mcu_errors(simsoc_lens_mcu *m);

/* Reads of 0x107 that stay busy after 1 is written to it. */
void simsoc_lens_mcu_set_init_reads(simsoc_lens_mcu *m, unsigned reads);
/* Steps a motor moves per tick; 0 arrives at once. */
void simsoc_lens_mcu_set_step(simsoc_lens_mcu *m, int motor, unsigned steps);
/* A stalled motor keeps moving without ever arriving. */
void simsoc_lens_mcu_stall(simsoc_lens_mcu *m, int motor, int stalled);
void simsoc_lens_mcu_tick(simsoc_lens_mcu *m, unsigned ticks);
/* The focus position of a zoom position, distance index (0x303) and curve
 * set (0x305) while the controller follows the trace curve. */
typedef int32_t (*simsoc_lens_trace_fn)(void *data, int32_t zoom, int32_t index, int32_t set);
void simsoc_lens_mcu_set_trace(simsoc_lens_mcu *m, simsoc_lens_trace_fn fn, void *data);
/* Added to the iris target when 0x400 is read back. */
void simsoc_lens_mcu_set_iris_drift(simsoc_lens_mcu *m, int32_t drift);

/* From now on accesses of the register in the direction fail with err
 * (EIO, or ENXIO for no answer); 0 lets them succeed again. */
void simsoc_lens_mcu_fail(simsoc_lens_mcu *m, uint16_t reg, int direction, int err);
/* Delays every message. */
void simsoc_lens_mcu_set_delay(simsoc_lens_mcu *m, unsigned delay_us);

#ifdef __cplusplus
}
#endif

#endif

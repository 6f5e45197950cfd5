/* The TB6613FTG motor-driver device of IR-cut filters: requests of type 'S',
 * each with a pointer to its block. */
#ifndef IRCUT_MOTOR_IOCTL_H
#define IRCUT_MOTOR_IOCTL_H

#include <stdint.h>

#define IRCUT_MOTOR_PIN_NAME 8 /* at most 7 characters and the NUL */

#define IRCUT_MOTOR_SET_PINS 0x40185301ul      /* struct ircut_motor_pins */
#define IRCUT_MOTOR_MOVE 0x40085303ul          /* struct ircut_motor_move */
#define IRCUT_MOTOR_GET_REMAINING 0x80045305ul /* int32_t, read */
#define IRCUT_MOTOR_SET_CHANNEL 0x40085306ul   /* struct ircut_motor_channel */
#define IRCUT_MOTOR_SET_MCK_PIN 0x40085308ul   /* char[8] */
#define IRCUT_MOTOR_CONFIG 0x40205309ul        /* struct ircut_motor_config */
#define IRCUT_MOTOR_START 0x400C530Aul         /* struct ircut_motor_start */
#define IRCUT_MOTOR_SET_VOLTAGES 0x4008530Cul  /* struct ircut_motor_voltages */

/* Channels of IRCUT_MOTOR_SET_CHANNEL. */
#define IRCUT_MOTOR_CHANNEL_DRIVE 8
#define IRCUT_MOTOR_CHANNEL_MODE 10
#define IRCUT_MOTOR_MODE_FORWARD_REVERSE 0x80
#define IRCUT_MOTOR_MODE_SHORT_BRAKE 0xC0

struct ircut_motor_pins {
	char data[IRCUT_MOTOR_PIN_NAME];
	char clock[IRCUT_MOTOR_PIN_NAME];
	char load[IRCUT_MOTOR_PIN_NAME];
};

struct ircut_motor_move {
	uint32_t steps_per_second;
	int32_t steps; /* the sign is the direction */
};

struct ircut_motor_channel {
	uint32_t channel;
	uint32_t value;
};

struct ircut_motor_config {
	uint32_t zero[4];
	uint32_t excitation_mode;
	uint32_t divide_int_clock;
	uint32_t pwm_turn_off;
	uint32_t fast_decay;
};

struct ircut_motor_start {
	uint32_t start_step;
	uint32_t hold_voltage;
	uint32_t run_voltage;
};

struct ircut_motor_voltages {
	uint32_t hold_voltage;
	uint32_t run_voltage;
};

/* The character-device IR-cut filter: one request whose argument is the
 * integer itself, 0 day, 1 night. */
#define IRCUT_DEV_SET 0xC0044900ul

#endif

/* The stepper-iris motor-driver device: requests of type 'E' on a
 * descriptor opened read-only. */
#ifndef IRIS_MOTOR_IOCTL_H
#define IRIS_MOTOR_IOCTL_H

#include <stdint.h>

#define IRIS_MOTOR_PIN_NAME 8 /* at most 7 characters and the NUL */

#define IRIS_MOTOR_SERIAL_CONFIG 0x40184500ul /* struct iris_motor_serial_config */
#define IRIS_MOTOR_CONFIG 0x40204501ul        /* struct iris_motor_config */
#define IRIS_MOTOR_MOVE 0x400C4502ul          /* struct iris_motor_move */
#define IRIS_MOTOR_REMAINING 0x80044503ul     /* uint32_t, read */
#define IRIS_MOTOR_IS_MOVING 0x80044504ul     /* uint32_t, read: non-zero while moving */
#define IRIS_MOTOR_STOP 0x80044505ul          /* uint32_t */
#define IRIS_MOTOR_SET_CHANNEL 0x80084506ul   /* struct iris_motor_channel */

struct iris_motor_serial_config {
	char data[IRIS_MOTOR_PIN_NAME];
	char clock[IRIS_MOTOR_PIN_NAME];
	char latch[IRIS_MOTOR_PIN_NAME];
};

struct iris_motor_config {
	char pwm_a[IRIS_MOTOR_PIN_NAME];
	char pwm_b[IRIS_MOTOR_PIN_NAME];
	uint8_t reserved[16];
};

struct iris_motor_move {
	uint32_t direction; /* the motor's own direction value */
	uint32_t steps;
	uint32_t speed;
};

struct iris_motor_channel {
	uint32_t channel;
	uint32_t value;
};

#endif

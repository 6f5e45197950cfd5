#pragma once
// Stepper P-irises: an actuator over a stepper motor driver ('E' requests;
// the TB6613FTG with its serial and pin configuration, or the PCC driver)
// and the P-iris whose positions are the motor's steps and whose tables come
// from the iris data library.

#include <glib.h>
#include <stdint.h>

struct iris;
struct platform;
struct control;

struct iris_stepper_actuator {
	int (*is_moving)(struct iris_stepper_actuator *act);
	int (*move_to)(struct iris_stepper_actuator *act, int32_t target, int32_t current, int fast);
	int (*move_rel)(struct iris_stepper_actuator *act, int direction, int32_t steps, int fast,
	                int32_t from);
	int32_t (*get_position)(struct iris_stepper_actuator *act);
	void (*spare)(void);
	int (*calibrate)(struct iris_stepper_actuator *act);
	void (*set_temperature_status)(struct iris_stepper_actuator *act, int out_of_range);
	int (*get_temperature_status)(struct iris_stepper_actuator *act);
	int32_t (*temperature_sensor_id)(struct iris_stepper_actuator *act);
	int32_t (*lowest_operating_temperature)(struct iris_stepper_actuator *act, int *status);
	int32_t (*lowest_startup_temperature)(struct iris_stepper_actuator *act, int *status);
	void (*destroy)(struct iris_stepper_actuator *act);
	int32_t positions; // -1 until a P-iris sets its table length
	int32_t lib_backout;
	int32_t lib_backlash;
	void *driver;
	int32_t lib_low_speed;
	int32_t lib_nominal_speed;
	int32_t lib_high_speed;
	uint32_t lib_flags;
};

// Library flags: which of the library's motor figures were found.
#define IRIS_LIB_BACKOUT 1u
#define IRIS_LIB_BACKLASH 2u
#define IRIS_LIB_SPEEDS 4u

struct iris_stepper_actuator *iris_stepper_actuator_new(void);

// The TB6613FTG settings of the module "iris_tb6613ftg".
struct iris_tb6613ftg_settings {
	char *tb6613ftg_dev;
	char *tb6613ftg_data_pin;
	char *tb6613ftg_clk_pin;
	char *tb6613ftg_ld_pin;
	char *tb6613ftg_pwm_a_pin;
	char *tb6613ftg_pwm_b_pin;
	char *tb6613ftg_sel_a_pin;
	char *tb6613ftg_sel_b_pin;
	char *tb6613ftg_det_a_pin;
	char *tb6613ftg_det_b_pin;
	int32_t tb6613ftg_open_dir;
	int32_t tb6613ftg_speed_normal;
	int32_t tb6613ftg_speed_fast;
	int32_t tb6613ftg_backout_steps;
	int32_t tb6613ftg_backlash;
	uint8_t tb6613ftg_temperature_out_of_range;
	int32_t tb6613ftg_temperature_lower_start; // Q14
	int32_t tb6613ftg_temperature_lower_stop;  // Q14
	int32_t tb6613ftg_temperature_sensor_id;
};

struct iris_stepper_actuator *iris_stepper_actuator_tb6613ftg_create(const struct iris_tb6613ftg_settings *s);
// The P-iris over an actuator (which it then owns), or null ("disabled").
struct iris *iris_stepper_create(struct control *engine, struct iris_stepper_actuator *act);
int tb_iris_set_mode(struct platform *platform, struct iris_stepper_actuator *act, int iris_type,
                     const char *select_pin);
struct iris *tb_iris_detect_mode(struct control *engine, const struct iris_tb6613ftg_settings *s);

#pragma once
// Iris object: the one handle through which the daemon drives any iris. Each
// implementation fills the slots it supports and the position tables; the
// rest of the daemon goes through the wrappers below, which check the object,
// its platform and the slot first.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct platform;

// Kinds of iris (the type word).
enum {
	IRIS_TYPE_NONE = 0,
	IRIS_TYPE_DC = 1,
	IRIS_TYPE_STEPPER = 3,
	IRIS_TYPE_HALL = 4,
	IRIS_TYPE_LENS_SCALE = 5,
	IRIS_TYPE_INTELLIGENT = 6,
	IRIS_TYPE_MANUAL = 7,
};

// What the iris library answers when no iris is fitted.
#define IRIS_LIB_NO_IRIS 10

struct iris {
	uint32_t type;
	struct platform *platform;
	void *owner; // the camera block whose lens MCU drives this iris
	int (*hooks[2])(struct iris *iris);
	int32_t device; // -1 until opened
	int (*is_moving)(struct iris *iris);
	int (*move_to)(struct iris *iris, int32_t position, int fast);
	int (*move_rel)(struct iris *iris, int direction, int32_t steps, int fast);
	int (*spare_one)(struct iris *iris, int32_t argument);
	int (*spare_none)(struct iris *iris);
	int32_t (*get_position)(struct iris *iris);
	int (*go_home)(struct iris *iris, int32_t argument, int fast);
	int (*set_reset_needed)(struct iris *iris);
	int (*calibrate)(struct iris *iris);
	void (*set_temperature_status)(struct iris *iris, int out_of_range);
	int (*get_temperature_status)(struct iris *iris);
	int (*read_sensor)(struct iris *iris);
	void (*set_calibration)(struct iris *iris, void *values);
	int (*hall_calibrated)(struct iris *iris);
	void (*restore)(struct iris *iris);
	void (*destroy)(struct iris *iris);
	int32_t min_position;
	int32_t best_position;
	int32_t max_position;
	int32_t open_F;   // Q14
	int32_t position; // -6: not yet known
	uint32_t reset_needed;
	uint32_t last_direction; // 1: the last move went to a higher position
	int32_t *aperture_table; // Q14, one per position
	int32_t *F_table;        // Q14, ascending with position
	int32_t table_length;
	// Set by irises the daemon positions itself (it then offers DCIris).
	uint8_t automatic;
	void *priv;
	int32_t aperture_description[4]; // open, best, closed, max-closed F (Q14)
	uint8_t calibration_pending;
	uint8_t aperture_description_set;
	int (*update_position)(struct iris *iris, int32_t position, int flag);
	int32_t (*temperature_sensor_id)(struct iris *iris);
	int32_t (*lowest_operating_temperature)(struct iris *iris, int *status);
	int32_t (*lowest_startup_temperature)(struct iris *iris, int *status);
};

#define IRIS_POSITION_UNKNOWN (-6)

struct iris *iris_new(void);
struct iris *iris_new_manual(void);
void iris_add_platform(struct iris *iris, struct platform *platform);
void iris_destroy(struct iris *iris);
void iris_destroy_orig(struct iris *iris);

// Dispatch: -2 when the iris, its platform or the slot is missing.
int iris_is_moving(struct iris *iris);
int iris_move_to(struct iris *iris, int32_t position);
int iris_move_rel(struct iris *iris, int direction, int32_t steps, int fast);
int32_t iris_get_position(struct iris *iris);
int iris_go_home(struct iris *iris);
int iris_set_reset_needed(struct iris *iris);
int iris_spare_one(struct iris *iris, int32_t argument);
int iris_spare_none(struct iris *iris);
// Needs the calibrate and get_position slots, not the platform.
int iris_calibrate(struct iris *iris);
extern "C" int32_t iris_get_temperature_sensor_id(struct iris *iris);
// Degrees Celsius in Q14; -16384 with *status -2 when not defined, else
// *status 1 unless the implementation says otherwise.
extern "C" int32_t iris_get_lowest_operating_temperature(struct iris *iris, int *status);
extern "C" int32_t iris_get_lowest_startup_temperature(struct iris *iris, int *status);
// Back in range with a calibration pending calibrates. 0, or -2.
extern "C" int iris_set_temperature_status(struct iris *iris, int out_of_range);
int iris_read_sensor(struct iris *iris);
void iris_set_calibration(struct iris *iris, void *values);
int iris_hall_calibrated(struct iris *iris);
void iris_restore(struct iris *iris);
int iris_update_position(struct iris *iris, int32_t position, int flag);

// Position tables (Q14). The caller keeps positions within 0..max_position.
int32_t iris_aperture_at_position(struct iris *iris, int32_t position);
int32_t iris_F_number_at_position(struct iris *iris, int32_t position);
int32_t iris_get_max_pos(struct iris *iris);
// Nearest entry, the lower position on a tie; -2 without a table.
int32_t iris_position_for_F_number(struct iris *iris, int32_t F);
int32_t iris_position_for_aperture(struct iris *iris, int32_t A);
int32_t iris_position_to_percent(struct iris *iris, int32_t position);
int32_t iris_percent_to_position(struct iris *iris, int32_t percent);
int32_t iris_ratio_squared(int32_t b, int32_t a);

// The parameters that publish the iris state.
void iris_set_positionable_param(int positionable);
extern "C" void iris_set_state_params(int present, int ok);
// Q14 F-number of an opening (0 % open limit, 50 % best, 100 % closed).
int32_t iris_percent_to_F_number_for_stream(struct iris *iris, int32_t percent, int32_t stream_id);

struct prodconf;
struct control;
// Which iris the detection pins report: 0 unknown, else an IRIS_TYPE_*.
extern "C" int iris_detect(struct prodconf *conf, struct control *engine, int32_t stream_id);

// Module creators of the registry.
void *prodconf_iris_stepper_pcc_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
extern "C" void *prodconf_iris_tb6613ftg_create(struct prodconf *conf, struct control *engine,
                                                int32_t stream_id);
void *prodconf_iris_dc_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
struct iris *iris_dc_new(void);

#pragma once
// Camera-block object: the daemon's model of a motorised lens block (lens,
// zoom, focus and iris motors, IR-cut filter and the controller behind
// them). Each lens family fills the operation slots it supports in its
// create function; everyone else calls the dispatchers below, which check
// the block, its platform and the slot and answer a fixed value when one is
// missing.
//
// Units: positions are motor steps, distances dioptres in Q14 (0 = infinity),
// a distance index is curve << 9 | fraction (camblock_trace.h), temperatures
// degrees Celsius and angles degrees, both Q14.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct platform;
struct iris;
struct ircut;
struct zoom_object;
struct focus_object;
struct dome;
struct camblock_trace;
struct camblock_fov_table;
struct camblock_lens_device;
struct camblock_temperature_guard;
struct camblock_distortion;

// What a block's poll reads and reports of the lens motors.
struct optics_state {
	int32_t zoom_moving;
	int32_t zoom_position;
	int32_t focus_moving;
	int32_t focus_position;
	int32_t second_focus; // the focus position while the zoom runs, else -1
	int32_t iris_position;
	int32_t frame_value; // handed to the frame report
};

// An event for the block's handle-event slot.
struct camblock_event {
	uint32_t type; // CAMBLOCK_EVENT_*
	int32_t stream_id;
};

#define CAMBLOCK_EVENT_CAPTURE_MODE 39

// Kinds of block (the type word).
enum {
	CAMBLOCK_TYPE_COMMON = 1, // a lens controller on I2C, the CS-mount and intelligent lenses
	CAMBLOCK_TYPE_SERIAL = 2, // the serial thermal lens
};

// Lens data of a block whose lens has a controller (MCU) on I2C. Tables
// marked const are the lens model's static data.
struct camblock_mcu {
	struct camblock_lens_device *device;
	uint16_t address;
	int32_t *apertures; // the update-aperture slot's own copy
	uint32_t aperture_count;
	struct camblock_trace *trace; // owned
	const int32_t *distances;     // Q14 dioptres per curve, ascending from 0
	int32_t curve_count;
	int32_t thermistor_count;
	const int32_t *thermistor_readings; // descending
	const int32_t *temperatures;
	int32_t temperature_pair_count;
	const uint32_t *const *temperature_pairs;
	int32_t depth_of_field_constant;
	int32_t frame_report_sum;
	int32_t frame_report_count;
	int32_t *timing_frame_rates;
	int32_t *timing_values;
	int32_t timing_count;
	// Second focal model: one value per curve of the distance table and one
	// per zoom point, with the zoom unit's focal_model_q fraction bits.
	const int32_t *second_per_curve;
	const int32_t *second_per_zoom;
	const struct camblock_fov_table *fov;
	uint32_t trace_mode;
	uint32_t trace_set;
	int32_t near_limit;
	int32_t far_limit;
	int32_t near_index;
	int32_t far_index;
	int32_t max_index;
	int32_t min_index;
	const int32_t *breathing; // (a, b) with focal_model_q fraction bits
	struct camblock_distortion *distortion;
	int32_t sync_count;
	int32_t frame_rate;
	uint8_t distance_index_mode;
	int32_t requested_index;
	uint8_t initialised;
	// What a lens model keeps of its own, per block: the common poll and
	// destroy its replacements go on to, and how the iris's F-numbers rise
	// towards the tele end (a ramp over the zoom table, or one offset per
	// zoom point).
	int (*common_poll)(struct camblock *block, struct optics_state *state);
	void (*common_destroy)(struct camblock *block);
	int32_t aperture_ramp; // Q14; negative: aperture_offsets
	const int32_t *aperture_offsets;
};

struct camblock {
	uint32_t type;
	int32_t stream_id;
	struct platform *platform;
	// The components belong to the platform's lists; the block only refers
	// to them. A non-null iris or IR-cut filter also tells the D-Bus
	// front-end that the lens block has one.
	struct zoom_object *zoom;
	struct focus_object *focus;
	struct iris *iris;
	struct ircut *ircut;
	struct dome *dome;
	struct camblock_mcu mcu;
	int (*start_init)(struct camblock *block);
	int (*spare_op)(struct camblock *block);
	int (*write_register)(struct camblock *block, uint16_t reg, uint16_t value);
	int (*read_register)(struct camblock *block, uint16_t reg);
	int32_t (*set_focus_limits)(struct camblock *block, int32_t near, int32_t far);
	int (*update_focus_limits)(struct camblock *block);
	int (*set_distance_index)(struct camblock *block, int32_t index);
	int (*set_trace_mode)(struct camblock *block, uint32_t mode, int32_t unused1, int32_t unused2);
	int (*set_trace_curve)(struct camblock *block, uint32_t set);
	int32_t (*distance_index_to_focus_position)(struct camblock *block, int32_t zoom, int32_t index);
	int32_t (*dioptres_to_focus_position)(struct camblock *block, int32_t zoom, int32_t dioptres);
	int32_t (*focus_position_to_distance_index)(struct camblock *block, int32_t zoom, int32_t position);
	int32_t (*focus_position_to_dioptres)(struct camblock *block, int32_t zoom, int32_t position);
	int32_t (*get_lens_temperature)(struct camblock *block);
	int32_t (*dioptres_to_distance_index)(struct camblock *block, int32_t dioptres, int32_t dome_index);
	int32_t (*distance_index_to_dioptres)(struct camblock *block, int32_t index);
	int (*get_fov_at_focus_position)(struct camblock *block, int32_t zoom, int32_t position,
	                                 uint32_t *horizontal, uint32_t *vertical, int32_t scale);
	int32_t (*focal_length_at_focus_position)(struct camblock *block, int32_t zoom, int32_t position);
	int (*get_current_fov)(struct camblock *block, uint32_t *horizontal, uint32_t *vertical,
	                       int32_t scale);
	int32_t (*get_current_focal_length)(struct camblock *block);
	int32_t (*distance_index_for_object_width)(struct camblock *block, int32_t zoom, int32_t width);
	int (*get_lens_distortion)(struct camblock *block, int32_t zoom, int32_t focus, int focus_is_position,
	                           uint32_t *k0, uint32_t *k1, uint32_t *k2, uint32_t *k3);
	int (*set_focus_dioptres)(struct camblock *block, int32_t dioptres, int move);
	void (*destroy)(struct camblock *block); // releases the variant data only
	int (*set_motor_timing)(struct camblock *block, int32_t frame_rate, int32_t sync_count);
	int (*set_motor_speed)(struct camblock *block, int32_t speed);
	int (*frame_report)(struct camblock *block, int32_t value);
	int (*poll)(struct camblock *block, struct optics_state *state);
	int (*refresh)(struct camblock *block, struct optics_state *state);
	int (*capture_mode_changed)(struct camblock *block, int32_t stream_id);
	int32_t (*focal_length_at_distance_index)(struct camblock *block, int32_t zoom, int32_t index);
	int (*get_fov_at_distance_index)(struct camblock *block, int32_t zoom, int32_t index,
	                                 uint32_t *horizontal, uint32_t *vertical, int32_t scale);
	int32_t (*get_error_code)(struct camblock *block);
	int (*poll_init)(struct camblock *block);
	int (*handle_event)(struct camblock *block, int32_t unused, struct camblock_event *event);
	struct camblock_temperature_guard *temperature_guard;
	int32_t (*get_depth_of_field)(struct camblock *block);
	int32_t (*get_depth_of_field_steps)(struct camblock *block, int32_t zoom, int32_t position);
	int (*get_temperature_pair)(struct camblock *block, int32_t temperature, uint32_t *first,
	                            uint32_t *second);
	int32_t (*get_focus_reg12)(struct camblock *block);
	int32_t (*get_focus_reg17)(struct camblock *block);
	int (*set_focus_reg17)(struct camblock *block, int32_t value);
	// Called directly by the zoom over the block, without a dispatcher.
	int (*update_aperture)(struct camblock *block);
};

// Zero-filled, room for the MCU lens data included, so that a bare block
// can carry the register slots for one read.
struct camblock *camblock_new(void);
void camblock_add_platform(struct camblock *block, struct platform *platform);
void camblock_set_zoom(struct camblock *block, struct zoom_object *zoom);
void camblock_set_focus(struct camblock *block, struct focus_object *focus);
void camblock_set_iris(struct camblock *block, struct iris *iris);
void camblock_set_ircut(struct camblock *block, struct ircut *ircut);
void camblock_set_dome(struct camblock *block, struct dome *dome);
// Runs the destroy slot, then frees the block; the components and the dome
// stay with their owners.
void camblock_destroy(struct camblock *block);

// Dispatchers: -3 when the block, its platform or the slot is missing,
// unless said otherwise.
int32_t camblock_start_init(struct camblock *block);
int32_t camblock_spare_op(struct camblock *block);
int32_t camblock_write_register(struct camblock *block, uint16_t reg, uint16_t value);
int32_t camblock_read_register(struct camblock *block, uint16_t reg);
int32_t camblock_set_focus_limits(struct camblock *block, int32_t near, int32_t far);
int32_t camblock_update_focus_limits(struct camblock *block);
int32_t camblock_set_distance_index(struct camblock *block, int32_t index);
// Stores the mode in the block before the slot runs, even when the slot
// then refuses it.
int32_t camblock_set_trace_mode(struct camblock *block, uint32_t mode, int32_t unused1, int32_t unused2);
int32_t camblock_set_trace_curve(struct camblock *block, uint32_t set);
extern "C" int32_t camblock_distance_index_to_focus_position(struct camblock *block, int32_t zoom,
                                                             int32_t index);
int32_t camblock_dioptres_to_focus_position(struct camblock *block, int32_t zoom, int32_t dioptres);
int32_t camblock_focus_position_to_distance_index(struct camblock *block, int32_t zoom, int32_t position);
int32_t camblock_focus_position_to_dioptres(struct camblock *block, int32_t zoom, int32_t position);
// 1 with the temperature stored, or 0.
int32_t camblock_get_lens_temperature(struct camblock *block, int *temperature);
int32_t camblock_dioptres_to_distance_index(struct camblock *block, int32_t dioptres, int32_t dome_index);
int32_t camblock_distance_index_to_dioptres(struct camblock *block, int32_t index);
extern "C" int32_t camblock_get_fov_at_focus_position(struct camblock *block, int32_t zoom, int32_t position,
                                                      uint32_t *horizontal, uint32_t *vertical,
                                                      int32_t scale);
// The three focal-length dispatchers answer 0 for a missing lens.
int32_t camblock_focal_length_at_focus_position(struct camblock *block, int32_t zoom, int32_t position);
extern "C" int32_t camblock_get_current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical,
                                            int32_t scale);
int32_t camblock_get_current_focal_length(struct camblock *block);
int32_t camblock_distance_index_for_object_width(struct camblock *block, int32_t zoom, int32_t width);
extern "C" int32_t camblock_get_lens_distortion(struct camblock *block, int32_t zoom, int32_t focus,
                                                int focus_is_position, uint32_t *k0, uint32_t *k1,
                                                uint32_t *k2, uint32_t *k3);
int32_t camblock_set_focus_dioptres(struct camblock *block, int32_t dioptres, int move);
int32_t camblock_set_motor_timing(struct camblock *block, int32_t frame_rate, int32_t sync_count);
int32_t camblock_set_motor_speed(struct camblock *block, int32_t speed);
int32_t camblock_frame_report(struct camblock *block, int32_t value);
int32_t camblock_poll(struct camblock *block, struct optics_state *state);
int32_t camblock_refresh(struct camblock *block, struct optics_state *state);
// Capture mode, error code and poll initialisation need no platform.
extern "C" int32_t camblock_capture_mode_changed(struct camblock *block, int32_t stream_id);
int32_t camblock_focal_length_at_distance_index(struct camblock *block, int32_t zoom, int32_t index);
extern "C" int32_t camblock_get_fov_at_distance_index(struct camblock *block, int32_t zoom, int32_t index,
                                                      uint32_t *horizontal, uint32_t *vertical,
                                                      int32_t scale);
int32_t camblock_get_error_code(struct camblock *block);
int32_t camblock_poll_init(struct camblock *block);
// Needs no platform, but an event record.
int32_t camblock_handle_event(struct camblock *block, int32_t unused, struct camblock_event *event);
int32_t camblock_get_depth_of_field(struct camblock *block);
int32_t camblock_get_depth_of_field_steps(struct camblock *block, int32_t zoom, int32_t position);
int32_t camblock_get_temperature_pair(struct camblock *block, int32_t temperature, uint32_t *first,
                                      uint32_t *second);
// 1 with the signed 16-bit register value stored, or 0.
int32_t camblock_get_focus_reg12(struct camblock *block, int *value);
int32_t camblock_get_focus_reg17(struct camblock *block, int *value);
int32_t camblock_set_focus_reg17(struct camblock *block, int32_t value);

struct prodconf;
struct control;
// The hook OPTICS_DETECTION: identifies the lens block and selects its module.
int camblock_detect(struct prodconf *conf, struct control *engine, int32_t argument);

// Module creators of the registry.
void *camblock_cs(struct prodconf *conf, struct control *engine, int32_t stream_id);
// The CS-mount block, handed to the engine for the stream: fixed zoom and
// focus units, the channel's iris, the focal length following the
// parameter StabilizerFocalLength (micrometres).
struct camblock *camblock_cs_new(struct control *engine, struct platform *platform, int32_t stream_id);
void *camblock_ekt(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *camblock_tamron_lvz3x3516_create(struct prodconf *conf, struct control *engine, int32_t stream_id);

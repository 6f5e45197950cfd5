#pragma once
// Sensor object: what the exposure and image algorithms know of a channel's
// image sensor (exposure and gain limits, gain table, frame rates, line time,
// noise and pixel geometry) and the operation slots through which they set
// shutter and gain and the capture-mode step switches modes. A sensor module
// fills the slots; the wrappers below check the object, its platform and the
// slot, and answer with a fixed default when one is missing. Values marked
// Q14 are fixed point with 14 fraction bits.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct platform;
struct prodconf_area;
struct sensor;

#define SENSOR_TYPE_GENERIC 36 // made by sensor_new
#define SENSOR_TYPE_SOC 27     // the SoC's sensor modules

// An object a sensor may carry with operations of its own; the two driver
// calls below go to it first.
struct sensor_driver {
	uint32_t type;
	int (*op[2])(struct sensor_driver *driver, void *argument);
	void (*destroy)(struct sensor_driver *driver);
};

struct sensor {
	uint32_t type;
	struct platform *platform;
	int32_t min_lines;
	int32_t max_lines;
	int32_t min_exposure_time; // microseconds
	int32_t max_exposure_time;
	int32_t min_gain; // Q14 linear, once the gain table is built
	int32_t max_gain;
	uint32_t *gain_table;       // Q14 linear gain per gain index
	uint32_t *gain_index_table; // entry i holds i
	int32_t gain_table_size;
	int32_t current_fps; // Q14 frames a second
	int32_t max_fps;     // whole frames a second
	int32_t full_well;   // Q14 electrons
	int32_t full_well_adu8;
	uint32_t *read_noise_table; // per gain index, or null
	int32_t read_noise;         // Q14, at the current gain index
	int32_t read_noise_min_gain;
	int32_t q14_word;          // no module sets it
	int32_t conversion_factor; // Q14; no module sets it
	int32_t line_time;         // Q14 microseconds
	int32_t first_line;        // the line range the stream synchronisation reads
	int32_t last_line;
	void *priv;
	struct sensor_driver *driver;

	// Operation slots, in slot order.
	int (*setup)(struct sensor *sensor, int32_t stream_id);
	int (*reserved1)(struct sensor *sensor, void *argument);
	int (*reinit)(struct sensor *sensor, void *argument);
	int (*set_capture_mode)(struct sensor *sensor, uint32_t mode, uint32_t frequency, uint32_t wdr);
	int (*mode_is_wdr)(struct sensor *sensor, uint32_t mode);
	int (*get_mode_info)(struct sensor *sensor, struct prodconf_area *area, uint32_t mode,
	                     uint32_t frequency, uint32_t wdr, int32_t stream_id);
	int (*apply_mode)(struct sensor *sensor, struct prodconf_area *area, int32_t stream_id);
	int (*set_syncadjust)(struct sensor *sensor, int32_t a, int32_t b);
	int (*set_shutter)(struct sensor *sensor, int32_t lines, int32_t stream_id);
	int (*set_shutters)(struct sensor *sensor, int count, const int32_t *stream_ids, const int32_t *lines,
	                    int32_t *out_lines);
	int32_t (*reserved2)(struct sensor *sensor, void *argument);
	int (*set_gain_index)(struct sensor *sensor, int32_t gain_index, int32_t stream_id);
	int (*set_gains)(struct sensor *sensor, int count, const int32_t *gain_indexes,
	                 const int32_t *stream_ids);
	int32_t (*get_gain_index)(struct sensor *sensor, int32_t stream_id);
	int32_t (*lines_to_exposure)(struct sensor *sensor, int32_t lines);
	int (*set_exposures)(struct sensor *sensor, int32_t ratio, int count, const int32_t *stream_ids,
	                     int32_t *exposures, int32_t *actual);
	int32_t (*exposure_to_lines)(struct sensor *sensor, int32_t microseconds);
	int32_t (*exposure_to_lines_for_frame)(struct sensor *sensor, int32_t microseconds,
	                                       int32_t stream_id);
	int (*get_shutter)(struct sensor *sensor, int32_t stream_id, int32_t *lines);
	int32_t (*reserved3)(struct sensor *sensor, void *argument);
	int (*driver_op[5])(struct sensor *sensor, void *argument);
	void (*free)(struct sensor *sensor);
	int32_t (*get_black_level)(struct sensor *sensor);
	int32_t (*get_capture_mode)(struct sensor *sensor);
	int32_t (*get_wdr_mode)(struct sensor *sensor);
	int32_t (*reserved4)(struct sensor *sensor, void *argument);
	int32_t (*get_mode_max_fps)(struct sensor *sensor, uint32_t mode, uint32_t frequency);

	int32_t pixel_pitch;   // Q14 micrometres
	int32_t active_width;  // Q14 millimetres
	int32_t active_height; // Q14 millimetres
	int32_t area_factor;   // Q14; 0 reads as 1.0
	int32_t capture_mode;  // the mode last set
	int32_t wdr_mode;      // 0 linear, else WDR, as last set
	uint8_t hdr_available;
	int32_t gain_step; // Q14 decibels a gain index
	int32_t history[3];
	int32_t history_index;
	// Scratch of sensor_set_exposures, grown to the frame count on use.
	uint32_t *lines;
	uint32_t *set_lines;
	int32_t lines_size;
};

struct sensor *sensor_new(void);
void sensor_free(struct sensor *sensor);

// Slot wrappers. The default each gives for a missing sensor, platform or
// slot follows the comment; "any platform" marks the wrappers that run
// without one.
extern "C" int sensor_setup(struct sensor *sensor, int32_t stream_id); // -1
int sensor_reserved1(struct sensor *sensor, void *argument);           // -1
int sensor_reinit(struct sensor *sensor, void *argument);              // -1
extern "C" int sensor_set_capture_mode(struct sensor *sensor, uint32_t mode, uint32_t frequency,
                                       uint32_t hdr);                    // 0
extern "C" int sensor_mode_is_wdr(struct sensor *sensor, uint32_t mode); // 0
extern "C" int sensor_get_mode_info(struct sensor *sensor, struct prodconf_area *area, uint32_t mode,
                                    uint32_t frequency, uint32_t hdr, int32_t stream_id); // 0
// Stops the stream, applies the mode, waits 100 ms, starts the stream and on
// success publishes the sensor's limits: -1 without platform or slot.
extern "C" int sensor_apply_mode(struct sensor *sensor, struct prodconf_area *area, int32_t stream_id);
int sensor_set_syncadjust(struct sensor *sensor, int32_t a, int32_t b);          // -1, logged
int sensor_set_shutter(struct sensor *sensor, int32_t lines, int32_t stream_id); // -1
int sensor_set_shutters(struct sensor *sensor, int count, const int32_t *stream_ids, const int32_t *lines,
                        int32_t *out_lines);                     // -1, any platform
int32_t sensor_reserved2(struct sensor *sensor, void *argument); // 16384, any platform
int sensor_set_gain_index(struct sensor *sensor, int32_t gain_index, int32_t stream_id); // -1
int sensor_set_gains(struct sensor *sensor, int count, const int32_t *gain_indexes,
                     const int32_t *stream_ids);                               // -1
int32_t sensor_get_gain_index(struct sensor *sensor, int32_t stream_id);       // -1
int32_t sensor_get_black_level(struct sensor *sensor);                         // -1
int32_t sensor_exposure_to_lines(struct sensor *sensor, int32_t microseconds); // -1
// Falls back to sensor_exposure_to_lines without its slot.
int32_t sensor_exposure_to_lines_for_frame(struct sensor *sensor, int32_t microseconds, int32_t stream_id);
int32_t sensor_lines_to_exposure(struct sensor *sensor, int32_t lines); // -1
// Sets the frames' exposures, each frame's request capped at the exposure
// the one before got times ratio (Q14), through the slot or else through
// the shutter slots; exposures are updated, actual gets what was set.
int sensor_set_exposures(struct sensor *sensor, int32_t ratio, int count, const int32_t *stream_ids,
                         int32_t *exposures, int32_t *actual);
int32_t sensor_reserved3(struct sensor *sensor, void *argument); // 0
int32_t sensor_get_wdr_mode(struct sensor *sensor);              // 0
int32_t sensor_reserved4(struct sensor *sensor, void *argument); // 0
extern "C" int32_t sensor_get_mode_max_fps(struct sensor *sensor, uint32_t mode,
                                           uint32_t frequency); // -1, any platform

// Stores the maximum frame rate and sets the stream's SensorMaxFramerate to
// fps x 1000: 0 (-1 without sensor).
int sensor_set_max_fps(struct sensor *sensor, int32_t fps, int32_t stream_id);
// Publishes the sensor's limits as the stream's Sensor* parameters.
void sensor_publish_limits(struct sensor *sensor, int32_t stream_id);

// Getters: 0 (null) without a sensor.
int32_t sensor_get_min_gain(struct sensor *sensor);
int32_t sensor_get_max_gain(struct sensor *sensor);
const uint32_t *sensor_get_gain_table(struct sensor *sensor);
int32_t sensor_get_gain_table_size(struct sensor *sensor);
int32_t sensor_get_max_fps(struct sensor *sensor);
int32_t sensor_get_current_fps(struct sensor *sensor);
int32_t sensor_get_full_well(struct sensor *sensor);
int32_t sensor_get_full_well_adu8(struct sensor *sensor);
int32_t sensor_get_read_noise_min_gain(struct sensor *sensor);
int32_t sensor_get_read_noise(struct sensor *sensor);
int32_t sensor_get_q14_word(struct sensor *sensor);
int32_t sensor_get_conversion_factor(struct sensor *sensor);
extern "C" int32_t sensor_get_line_time(struct sensor *sensor);
int32_t sensor_get_pixel_pitch(struct sensor *sensor);
int32_t sensor_get_active_width(struct sensor *sensor);
int32_t sensor_get_active_height(struct sensor *sensor);
int32_t sensor_get_area_factor(struct sensor *sensor);
int32_t sensor_get_min_lines(struct sensor *sensor);
int32_t sensor_get_max_lines(struct sensor *sensor);
int32_t sensor_get_min_exposure_time(struct sensor *sensor);
int32_t sensor_get_max_exposure_time(struct sensor *sensor);

// Reads three 32-bit words of a lens calibration file into the outputs
// given: 0 or -1.
int sensor_get_fisheye_calibration(void *ignored, const char *path, int32_t *a, int32_t *b, int32_t *c);

// The pause of sensor_apply_mode, replaceable so that tests do not wait.
typedef void (*sensor_sleep_fn)(uint32_t ms);
// Installs fn (null: the real sleep) and returns the one before.
sensor_sleep_fn sensor_set_sleep(sensor_sleep_fn fn);

// Operations that nothing in the daemon calls yet.
// The driver calls go to the attached driver object's operations 0 and 1,
// else to the sensor's driver slots 0 and 1: -1 when neither exists.
int sensor_driver_read(struct sensor *sensor, void *argument);
int sensor_driver_write(struct sensor *sensor, void *argument);
// Runs the driver's destroy slot, clears its first word and frees it.
void sensor_driver_free(struct sensor_driver *driver);
// The active area of a window {x0, y0, x1, y1} at the sensor's pixel pitch.
void sensor_set_active_area(struct sensor *sensor, const struct prodconf_area *window);
// Reads the gain file prefix + name: its count N, each record's product of
// its two gains (Q14) and its word. -1 when the file or a record cannot be
// read. The arrays are the caller's (g_free).
int sensor_read_gain_file(const char *prefix, const char *name, uint32_t **gains, uint16_t **words);
// The step towards v with reference r that the sensor's three-step history
// allows, stored in the history.
int32_t sensor_history_step(struct sensor *sensor, int32_t v, int32_t r);

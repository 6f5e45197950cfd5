#pragma once
// Temperature limits registered with the outside temperature service and
// routed to their callbacks; a set of four gives three states with hysteresis.

#include <glib.h>
#include <stdint.h>

struct control;
struct control_temperature_limit;
struct control_temperature_limit_set;

typedef void (*control_temperature_fn)(struct control *engine, int32_t limit_id,
                                       struct control_temperature_limit *limit);
typedef void (*control_temperature_set_fn)(struct control *engine, int32_t limit_id,
                                           struct control_temperature_limit_set *set, int state);

struct control_temperature_limit {
	uint32_t sensor_id;
	int32_t limit_id;
	int32_t limit;
	uint8_t direction;
	uint8_t state;
	control_temperature_fn callback;
	void *user_data;
};

struct control_temperature_limit_set {
	struct control_temperature_limit *limits[4];
	control_temperature_set_fn callback;
	uint32_t low;
	uint32_t high;
	void *user_data; // owned
};

struct control_temperature_limit *
control_register_temperature_limit(struct control *engine, uint32_t sensor_id, int32_t limit,
                                   uint8_t direction, control_temperature_fn callback, void *user_data);
void control_unregister_temperature_limit(struct control *engine, struct control_temperature_limit *limit);
GList *control_register_temperature_limits(struct control *engine, GList *limits);
void control_unregister_temperature_limits(struct control *engine, GList *limits);
GList *control_register_temperature_limit_pair(struct control *engine, uint32_t sensor_id, int32_t low,
                                               int32_t high, control_temperature_fn callback, int *state);
struct control_temperature_limit_set *control_register_temperature_limit_set(
    struct control *engine, uint32_t sensor_id, int32_t limit0, int32_t limit1, int32_t limit2,
    int32_t limit3, control_temperature_set_fn callback, void *user_data, int *initial_state);
void control_free_temperature_limit_set(struct control *engine, struct control_temperature_limit_set *set);
// The engine keeps one halt set (the daemon's, see daemon.h) and frees it at
// its stop; a new one replaces and frees the old.
void control_set_temperature_halt_set(struct control *engine, struct control_temperature_limit_set *set);

// Bus names of the temperature service.
#define TEMPERATURE_SERVICE "com.tovi.TemperatureController"
#define TEMPERATURE_PATH "/com/tovi/TemperatureController"
#define TEMPERATURE_INTERFACE "com.tovi.TemperatureController"

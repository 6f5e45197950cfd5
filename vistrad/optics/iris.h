#pragma once
// Iris object. Only the leading fields and the life cycle that the platform
// uses are here yet; the iris implementations complete the record.

#include <stdint.h>

struct platform;

struct iris {
	uint32_t type;
	struct platform *platform;
	void *owner;
	int (*hooks[2])(struct iris *iris);
	int32_t device; // -1 until opened
	void (*destroy)(struct iris *iris);
	// Set by irises the daemon positions itself (it then offers DCIris).
	uint8_t automatic;
};

struct iris *iris_new(void);
void iris_add_platform(struct iris *iris, struct platform *platform);
void iris_destroy(struct iris *iris);
void iris_destroy_orig(struct iris *iris);

struct prodconf;
struct control;
// Module creators of the registry.
void *prodconf_iris_stepper_pcc_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_iris_tb6613ftg_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_iris_dc_create(struct prodconf *conf, struct control *engine, int32_t stream_id);

// What the product configuration asks of the iris; without an iris driver
// they give the missing-iris answers.
int iris_detect(struct prodconf *conf, struct control *engine, int32_t stream_id); // 0: unknown
void iris_set_state_params(int present, int ok);
int32_t iris_get_temperature_sensor_id(struct iris *iris); // -2
// Degrees Celsius with 14 fraction bits; *status -2 when not defined.
int32_t iris_get_lowest_operating_temperature(struct iris *iris, int *status);
int32_t iris_get_lowest_startup_temperature(struct iris *iris, int *status);
int iris_set_temperature_status(struct iris *iris, int out_of_range); // -2

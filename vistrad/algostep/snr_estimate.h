#pragma once
// The signal-to-noise estimate: five times a second, the ratio the sensor
// reaches at a fixed signal level (the set point, in 8-bit sensor units) at
// the current gain, from its full well and read noise. Published to the info
// pool (79 linear, 80 in decibels, both Q14), as the parameter Snr and as a
// record of data type 128 on the step's stream.

#include <stdint.h>

#include "core/control_job.h"

struct algo_step;
struct control;
struct control_timeout;
struct prodconf;
struct prodconf_schema;
struct algo_cl_module;

#define SNR_DATA_TYPE 128
#define SNR_DEFAULT_SET_POINT 55

struct snr_settings {
	int32_t default_set_point;
};

// The step's local data; the reference count and the settings record first.
struct snr_state {
	uint32_t refs;
	struct snr_settings *settings;
	struct control_timeout *timeout;
	struct control_timestamp interval;
	int32_t *set_point;      // owned copy
	int32_t conversion_gain; // Q14 electrons per 8-bit unit at unity gain
};

// The record of data type 128: the header, then the linear ratio in Q14.
struct snr_record {
	struct control_job header;
	int32_t snr;
};
static_assert(sizeof(struct snr_record) == 72, "the estimate's record is 72 bytes");

extern const struct prodconf_schema snr_settings_schema;

// The module's own part of the create: the set-point copy and the 200 ms
// timeout, marked with the stream and started.
void snr_vors_gen01_specifics(struct prodconf *conf, struct control *engine, int32_t stream_id,
                              struct algo_step *step, void *settings);
int snr_vors_gen01_init(struct algo_step *step, struct control *engine);
int snr_vors_gen01_run(struct algo_step *step, struct control *engine);
int snr_vors_gen01_destroy(struct algo_step *step, struct control *engine);

// a / b in Q14 with 64-bit intermediates, halves away from zero for b > 0.
int64_t snr_q14_div(int64_t a, int64_t b);

// The row of the algorithm module table.
extern const struct algo_cl_module snr_vors_gen01_module;

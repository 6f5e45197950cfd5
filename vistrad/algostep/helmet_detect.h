#pragma once
// Helmet detection: some cameras take a plug-in extension unit (the helmet)
// whose video arrives on video input 0, the main sensor being input 1. The
// step watches, on plug events and a poll timeout, whether the helmet is
// present and healthy, switches the current video input accordingly and
// then has the daemon restart every stream.

#include <stdint.h>

#include "core/control_job.h"

struct algo_step;
struct control;
struct control_timeout;
struct prodconf;
struct prodconf_schema;
struct algo_cl_module;

#define HELMET_DEFAULT_POLL_TIME 5
#define HELMET_VIN 0
#define HELMET_MAIN_VIN 1

struct helmet_settings {
	int32_t detect_poll_time; // seconds
};

// The step's local data; the reference count and the settings record first.
struct helmet_state {
	uint32_t refs;
	struct helmet_settings *settings;
	struct control_timeout *timeout;
	struct control_timestamp interval;
	int32_t *poll_time; // owned copy
	int fd;             // "/dev/qvd", -1 when closed
	uint8_t plugged;    // the helmet is the current input
	int32_t error_count;
};

extern const struct prodconf_schema helmet_settings_schema;

// The module's own part of the create: the poll timeout, marked with the
// stream and started, and a closed descriptor.
void helmet_detect_specifics(struct prodconf *conf, struct control *engine, int32_t stream_id,
                             struct algo_step *step, void *settings);
int helmet_detect_init(struct algo_step *step, struct control *engine);
int helmet_detect_run(struct algo_step *step, struct control *engine);
int helmet_detect_destroy(struct algo_step *step, struct control *engine);

// The row of the algorithm module table.
extern const struct algo_cl_module helmet_detect_module;

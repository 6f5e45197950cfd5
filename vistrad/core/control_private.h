#pragma once
// The engine record, shared by the engine's own modules (jobs and groups,
// timeouts, temperature limits) and by nothing else.

#include <glib.h>
#include <pthread.h>

#include "control.h"

struct control_temperature_limit_set;

struct control {
	GList *groups;
	GList *groups_to_init;
	GList *consumers[CONTROL_DATA_TYPES];
	GList *pending_timeouts;    // sorted by deadline
	uint8_t *timeout_type_free; // CONTROL_TIMEOUT_TYPES flags
	uint32_t frame_count;
	uint32_t *producers; // CONTROL_DATA_TYPES counters
	GQueue job_queue;
	GList *temperature_limits; // most recent first
	struct control_temperature_limit_set *temperature_halt_set;
	void *temperature_client; // created on first use by the temperature limits
	int temperature_subscribed;
	struct platform *platform;
	pthread_mutex_t timeout_mutex;
	pthread_mutex_t job_mutex;
	pthread_mutex_t group_mutex;
	// The head of the job queue while dispatch runs its consumers (null
	// otherwise): only dispatch removes the head, so for that time it can
	// be read without the job-queue mutex. Atomic: any thread may read it.
	struct control_job *dispatching;
};

// Drops the temperature-service client at the engine's stop (control_temperature.cpp).
void control_temperature_stop(struct control *engine);

// Timeout bookkeeping of the engine's life cycle (control_timeout.cpp).
void control_timeouts_init(struct control *engine);
void control_timeouts_stop(struct control *engine);

#pragma once
// One-shot timeouts of the control engine: typed ones reach their step as a
// data record of types 90 to 109, callback ones call a function.

#include <glib.h>
#include <time.h>

#include "control.h"

struct control_timeout;
typedef void (*control_timeout_fn)(struct control *engine, void *argument, struct control_timeout *timeout);

struct control_timeout {
	uint32_t type; // 90..109 typed, 0 callback
	struct control_timestamp interval;
	struct control_timestamp deadline;
	control_timeout_fn callback;
	void *argument;
	// Posted when a typed timeout expires; the creating step may set its stream id.
	struct control_job job;
	// The step whose input the type is, so destroying the timeout unlinks it there.
	struct algo_step *owner;
};

struct control_timeout *control_create_timeout(struct control *engine, struct algo_step *step);
struct control_timeout *control_create_callback_timeout(struct control *engine, control_timeout_fn callback,
                                                        void *argument);
int control_start_timeout(struct control *engine, struct control_timeout *timeout,
                          const struct control_timestamp *interval);
int control_stop_timeout(struct control *engine, struct control_timeout *timeout);
void control_destroy_timeout(struct control_timeout *timeout, struct control *engine);
int control_next_timeout(struct control *engine, struct control_timestamp *wait);
GList *control_take_expired_timeouts(struct control *engine, GList *list);
// Destroys the pending callback timeouts whose callback matches: a library
// about to be closed must leave no callback of its own behind.
typedef int (*control_timeout_match_fn)(control_timeout_fn callback, void *data);
void control_destroy_callback_timeouts_if(struct control *engine, control_timeout_match_fn match, void *data);
// Destroys the callback timeout with this callback and argument while it is
// pending (the engine's stop destroys what is pending, so an owner cannot
// tell from its own pointer); 1 when there was one.
int control_destroy_pending_callback_timeout(struct control *engine, control_timeout_fn callback,
                                             void *argument);

// The monotonic clock the timeouts read; tests install their own. Null
// restores clock_gettime(CLOCK_MONOTONIC).
typedef void (*control_clock_fn)(struct timespec *now);
void control_timeout_set_clock(control_clock_fn fn);

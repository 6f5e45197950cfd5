#pragma once
// What several algorithm steps do alike: the parameter callbacks a step
// registers for its stream, dropped together at its destroy, and the one
// timeout a step owns.

#include <glib.h>
#include <stdint.h>

#include "core/param_db.h"

struct algo_step;
struct control;
struct control_timeout;
struct control_timestamp;

struct step_param_cb {
	int32_t callback_id;
	int32_t stream_id;
	uint32_t param_id;
};

// Registers fn on change of the parameter for the stream and appends it to
// the list; on failure frees the block and appends nothing. True when made.
bool step_param_register(GList **list, uint32_t id, int32_t stream_id, param_callback_fn fn, void *user_data,
                         void *block);
// Unregisters every callback of the list and frees the list.
void step_param_unregister_all(GList **list);
// The stream's value of a parameter (its text dropped); false when unreadable.
bool step_param_read(uint32_t id, int32_t stream_id, struct param_value *out);

// A timeout of the step, marked with the stream and started; null when no
// timeout type is left.
struct control_timeout *step_timeout_start(struct control *engine, struct algo_step *step, int32_t stream_id,
                                           const struct control_timestamp *interval);

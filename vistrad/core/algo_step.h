#pragma once
// Algorithm steps (the units of work the control engine runs) and the
// groups that collect them.

#include <glib.h>
#include <stdint.h>

struct control;
struct control_timeout;
struct algo_step;

typedef int (*algo_step_fn)(struct algo_step *step, struct control *engine);

struct algo_input {
	uint32_t type;
	int32_t stream_id;
	struct algo_step *step;
};

struct algo_output {
	uint32_t type;
	int32_t stream_id;
};

struct algo_step {
	uint32_t global_id;
	int32_t stream_id;
	algo_step_fn init;
	algo_step_fn run;
	algo_step_fn destroy;
	// Shared between steps; its first 32-bit word counts the steps holding it.
	void *local_data;
	uint8_t stopped;
	uint8_t inserted;
	uint8_t disabled;
	GList *inputs;   // of algo_input
	GList *outputs;  // of algo_output
	GList *timeouts; // of control_timeout
	// The first input of each data type (a table made with the first
	// input), so that dispatch finds a record's input in one look-up; the
	// list is only walked for a step with inputs of one type on several
	// streams.
	struct algo_input **input_of_type;
	uint8_t types_repeat;
};

struct algo_group {
	uint32_t global_id;
	GList *steps; // most recently inserted first
	// Owned; its first 32-bit word is the owner id matched by control_*_of_owner.
	void *owner;
};

struct algo_step *algo_step_create_stream_id(int32_t stream_id, algo_step_fn init, algo_step_fn run,
                                             algo_step_fn destroy, void *local_data);
struct algo_step *algo_step_create(algo_step_fn init, algo_step_fn run, algo_step_fn destroy,
                                   void *local_data);
void algo_step_destroy(struct algo_step *step, struct control *engine);

int algo_input_match(const struct algo_input *input, const struct algo_input *probe);
void algo_step_add_input_stream_id(struct algo_step *step, uint32_t type, int32_t stream_id);
void algo_step_add_input(struct algo_step *step, uint32_t type);
void algo_step_add_inputs_stream_id(struct algo_step *step, int32_t stream_id, int count, ...);
struct algo_input *algo_step_add_input_record(struct algo_step *step, struct algo_input *input);
void algo_step_add_output_stream_id(struct algo_step *step, uint32_t type, int32_t stream_id);
void algo_step_add_output(struct algo_step *step, uint32_t type);
void algo_step_add_outputs_stream_id(struct algo_step *step, int32_t stream_id, int count, ...);
void algo_step_add_output_record(struct algo_step *step, struct algo_output *output);
struct algo_input *algo_step_find_input(struct algo_step *step, const struct algo_input *probe);
int algo_step_has_input(struct algo_step *step, const struct algo_input *probe);
void algo_step_set_enabled(struct algo_step *step, int enabled);
void *algo_step_get_local_data(struct algo_step *step);
void algo_step_add_timeout(struct algo_step *step, struct control_timeout *timeout);
int algo_step_init(struct algo_step *step, struct control *engine);
void algo_step_stop(struct algo_step *step);
void algo_step_dispatch(struct algo_step *step, struct control *engine);

struct algo_group *algo_group_create(void *owner);
void algo_group_insert(struct algo_group *group, struct algo_step *step);
void algo_group_init(struct algo_group *group, struct control *engine);
void algo_group_stop(struct algo_group *group);
void algo_group_set_enabled(struct algo_group *group, int enabled);
void algo_group_destroy(struct algo_group *group, struct control *engine);

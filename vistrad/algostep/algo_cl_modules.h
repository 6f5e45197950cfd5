#pragma once
// The algorithm steps' part of the product configuration's registry: the
// sensor modules, then one module kind per image algorithm. Each algorithm is
// made per stream by one common create from the description its own file
// supplies: settings, local data, step functions, inputs and outputs.

#include <stddef.h>
#include <stdint.h>

#include "core/algo_step.h"
#include "core/prodconf.h"

struct control;

#define ALGO_CL_MODULES 8
#define ALGO_CL_MAX_TYPES 4
// Every algorithm's settings are the schema of this name under the module's.
#define ALGO_CL_SCHEMA "config"

// The head of every algorithm step's local data: the engine's reference
// count, then the module's settings record (owned by the configuration).
struct algo_cl_local {
	uint32_t refs;
	void *settings;
};

// What only one module adds, run once the step has its inputs and outputs
// and before it joins its group (an extra input, a timeout).
typedef void (*algo_cl_specifics_fn)(struct prodconf *conf, struct control *engine, int32_t stream_id,
                                     struct algo_step *step, void *settings);

struct algo_cl_module {
	const struct prodconf_schema *schema; // named ALGO_CL_SCHEMA
	size_t local_size;                    // at least sizeof(algo_cl_local)
	algo_step_fn init;
	algo_step_fn run;
	algo_step_fn destroy;
	uint32_t inputs[ALGO_CL_MAX_TYPES];
	size_t input_count;
	uint32_t outputs[ALGO_CL_MAX_TYPES];
	size_t output_count;
	algo_cl_specifics_fn specifics;    // may be null
	prodconf_destroy_fn free_settings; // null: the record holds no lists
};

// A row as the registry takes it: name, create, free, reserved word.
struct algo_cl_row {
	const char *name;
	prodconf_create_fn create;
	prodconf_destroy_fn free;
	uintptr_t reserved;
};

extern const struct algo_cl_row algo_cl_table[ALGO_CL_MODULES];

void algo_cl_register_modules(struct prodconf *conf);

// The common create: settings, a group owned by the stream id, the step with
// its local data, inputs and outputs, the group added to the engine. Returns
// the settings record, or null when the settings cannot be read (then
// nothing is made).
void *algo_cl_create(const struct algo_cl_module *module, const char *name, struct prodconf *conf,
                     struct control *engine, int32_t stream_id);
// The settings record of a module whose record holds no lists.
void algo_cl_free_settings(void *settings);
// The settings record of a step's local data.
void *algo_cl_settings(struct algo_step *step);

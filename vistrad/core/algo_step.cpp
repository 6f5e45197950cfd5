#include "algo_step.h"

#include <atomic>
#include <stdarg.h>

#include "control.h"
#include "control_timeout.h"
#include "debug_output.h"

namespace
{

std::atomic<uint32_t> next_step_id{0};
std::atomic<uint32_t> next_group_id{0};

void local_data_ref(void *data)
{
	if (data)
		(*static_cast<uint32_t *>(data))++;
}

void local_data_unref(void *data)
{
	if (!data)
		return;
	uint32_t *count = static_cast<uint32_t *>(data);
	if (*count > 0)
		(*count)--;
	if (*count == 0)
		g_free(data);
}

bool type_valid(uint32_t type, const char *what)
{
	if (type < CONTROL_DATA_TYPES)
		return true;
	debug_output(DEBUG_ERROR, 0, "%s: data type %u does not exist\n", what, type);
	return false;
}

void index_input(algo_step *step, algo_input *input)
{
	if (!step->input_of_type)
		step->input_of_type = g_new0(algo_input *, CONTROL_DATA_TYPES);
	if (step->input_of_type[input->type])
		step->types_repeat = 1;
	else
		step->input_of_type[input->type] = input;
}

} // namespace

struct algo_step *algo_step_create_stream_id(int32_t stream_id, algo_step_fn init, algo_step_fn run,
                                             algo_step_fn destroy, void *local_data)
{
	algo_step *step = g_new0(algo_step, 1);
	step->global_id = next_step_id++;
	step->stream_id = stream_id;
	step->init = init;
	step->run = run;
	step->destroy = destroy;
	step->local_data = local_data;
	local_data_ref(local_data);
	return step;
}

struct algo_step *algo_step_create(algo_step_fn init, algo_step_fn run, algo_step_fn destroy,
                                   void *local_data)
{
	return algo_step_create_stream_id(-1, init, run, destroy, local_data);
}

void algo_step_destroy(struct algo_step *step, struct control *engine)
{
	if (!step)
		return;
	g_list_free_full(step->inputs, g_free);
	g_list_free_full(step->outputs, g_free);
	g_free(step->input_of_type);
	step->input_of_type = nullptr;
	step->inputs = nullptr;
	step->outputs = nullptr;
	// Taken first: destroying a timeout also unlinks it from its step.
	GList *timeouts = step->timeouts;
	step->timeouts = nullptr;
	for (GList *l = timeouts; l; l = l->next)
		control_destroy_timeout(static_cast<control_timeout *>(l->data), engine);
	g_list_free(timeouts);
	if (step->destroy)
		step->destroy(step, engine);
	local_data_unref(step->local_data);
	g_free(step);
}

int algo_input_match(const struct algo_input *input, const struct algo_input *probe)
{
	if (input->type != probe->type)
		return 0;
	return input->stream_id == -1 || probe->stream_id == -1 || input->stream_id == probe->stream_id;
}

struct algo_input *algo_step_find_input(struct algo_step *step, const struct algo_input *probe)
{
	if (!step || !probe || !step->input_of_type || probe->type >= CONTROL_DATA_TYPES)
		return nullptr;
	algo_input *first = step->input_of_type[probe->type];
	if (!first || algo_input_match(first, probe))
		return first;
	if (!step->types_repeat)
		return nullptr;
	for (GList *l = step->inputs; l; l = l->next) {
		algo_input *in = static_cast<algo_input *>(l->data);
		if (algo_input_match(in, probe))
			return in;
	}
	return nullptr;
}

int algo_step_has_input(struct algo_step *step, const struct algo_input *probe)
{
	return algo_step_find_input(step, probe) != nullptr;
}

struct algo_input *algo_step_add_input_record(struct algo_step *step, struct algo_input *input)
{
	if (!step || !input || !type_valid(input->type, "algo_step_add_input"))
		return nullptr;
	algo_input *existing = algo_step_find_input(step, input);
	if (existing)
		return existing;
	input->step = step;
	step->inputs = g_list_append(step->inputs, input);
	index_input(step, input);
	return input;
}

void algo_step_add_input_stream_id(struct algo_step *step, uint32_t type, int32_t stream_id)
{
	if (!step || !type_valid(type, "algo_step_add_input"))
		return;
	algo_input probe = {type, stream_id, step};
	if (algo_step_find_input(step, &probe))
		return;
	algo_input *in = g_new(algo_input, 1);
	*in = probe;
	step->inputs = g_list_append(step->inputs, in);
	index_input(step, in);
}

void algo_step_add_input(struct algo_step *step, uint32_t type)
{
	algo_step_add_input_stream_id(step, type, -1);
}

void algo_step_add_inputs_stream_id(struct algo_step *step, int32_t stream_id, int count, ...)
{
	va_list args;
	va_start(args, count);
	for (int i = 0; i < count; i++)
		algo_step_add_input_stream_id(step, va_arg(args, uint32_t), stream_id);
	va_end(args);
}

void algo_step_add_output_record(struct algo_step *step, struct algo_output *output)
{
	if (!step || !output || !type_valid(output->type, "algo_step_add_output"))
		return;
	step->outputs = g_list_append(step->outputs, output);
}

void algo_step_add_output_stream_id(struct algo_step *step, uint32_t type, int32_t stream_id)
{
	if (!step || !type_valid(type, "algo_step_add_output"))
		return;
	algo_output *out = g_new(algo_output, 1);
	out->type = type;
	out->stream_id = stream_id;
	step->outputs = g_list_append(step->outputs, out);
}

void algo_step_add_output(struct algo_step *step, uint32_t type)
{
	algo_step_add_output_stream_id(step, type, -1);
}

void algo_step_add_outputs_stream_id(struct algo_step *step, int32_t stream_id, int count, ...)
{
	va_list args;
	va_start(args, count);
	for (int i = 0; i < count; i++)
		algo_step_add_output_stream_id(step, va_arg(args, uint32_t), stream_id);
	va_end(args);
}

void algo_step_set_enabled(struct algo_step *step, int enabled)
{
	if (step)
		step->disabled = !enabled;
}

void *algo_step_get_local_data(struct algo_step *step)
{
	return step ? step->local_data : nullptr;
}

void algo_step_add_timeout(struct algo_step *step, struct control_timeout *timeout)
{
	if (step && timeout)
		step->timeouts = g_list_append(step->timeouts, timeout);
}

int algo_step_init(struct algo_step *step, struct control *engine)
{
	if (!step || !step->init)
		return 0;
	return step->init(step, engine);
}

void algo_step_stop(struct algo_step *step)
{
	if (step)
		step->stopped = 1;
}

void algo_step_dispatch(struct algo_step *step, struct control *engine)
{
	if (step->disabled || !step->run)
		return;
	const control_job *job = control_get_input(engine);
	if (!job)
		return;
	algo_input probe = {job->type, job->stream_id, nullptr};
	if (!algo_step_has_input(step, &probe))
		return;
	step->run(step, engine);
}

struct algo_group *algo_group_create(void *owner)
{
	algo_group *group = g_new0(algo_group, 1);
	group->global_id = next_group_id++;
	group->owner = owner;
	return group;
}

void algo_group_insert(struct algo_group *group, struct algo_step *step)
{
	if (!group || !step)
		return;
	step->inserted = 1;
	group->steps = g_list_prepend(group->steps, step);
}

void algo_group_init(struct algo_group *group, struct control *engine)
{
	if (!group)
		return;
	for (GList *l = group->steps; l; l = l->next)
		algo_step_init(static_cast<algo_step *>(l->data), engine);
}

void algo_group_stop(struct algo_group *group)
{
	if (!group)
		return;
	for (GList *l = group->steps; l; l = l->next)
		algo_step_stop(static_cast<algo_step *>(l->data));
}

void algo_group_set_enabled(struct algo_group *group, int enabled)
{
	if (!group)
		return;
	for (GList *l = group->steps; l; l = l->next)
		algo_step_set_enabled(static_cast<algo_step *>(l->data), enabled);
}

void algo_group_destroy(struct algo_group *group, struct control *engine)
{
	if (!group)
		return;
	for (GList *l = group->steps; l; l = l->next)
		algo_step_destroy(static_cast<algo_step *>(l->data), engine);
	g_list_free(group->steps);
	g_free(group->owner);
	g_free(group);
}

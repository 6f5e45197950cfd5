#include "control.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "control_private.h"
#include "control_temperature.h"
#include "control_timeout.h"
#include "debug_output.h"
#include "platform/platform.h"
#include "platform/quillvane.h"

namespace
{

struct mutex_guard {
	pthread_mutex_t *m;
	explicit mutex_guard(pthread_mutex_t *mutex) : m(mutex)
	{
		pthread_mutex_lock(m);
	}
	~mutex_guard()
	{
		pthread_mutex_unlock(m);
	}
};

uint32_t owner_id(const algo_group *group)
{
	return group->owner ? *static_cast<const uint32_t *>(group->owner) : 0;
}

bool owned_by(const algo_group *group, uint32_t id)
{
	return group->owner && owner_id(group) == id;
}

void index_group(control *engine, algo_group *group)
{
	for (GList *s = group->steps; s; s = s->next) {
		algo_step *step = static_cast<algo_step *>(s->data);
		for (GList *i = step->inputs; i; i = i->next) {
			uint32_t type = static_cast<algo_input *>(i->data)->type;
			if (type != 0 && type < CONTROL_DATA_TYPES)
				engine->consumers[type] = g_list_append(engine->consumers[type], step);
		}
		for (GList *o = step->outputs; o; o = o->next) {
			uint32_t type = static_cast<algo_output *>(o->data)->type;
			if (type != 0 && type < CONTROL_DATA_TYPES)
				engine->producers[type]++;
		}
	}
}

void unindex_group(control *engine, algo_group *group)
{
	for (GList *s = group->steps; s; s = s->next) {
		algo_step *step = static_cast<algo_step *>(s->data);
		for (GList *i = step->inputs; i; i = i->next) {
			uint32_t type = static_cast<algo_input *>(i->data)->type;
			if (type != 0 && type < CONTROL_DATA_TYPES)
				engine->consumers[type] = g_list_remove(engine->consumers[type], step);
		}
	}
}

// The one way a group leaves the engine: out of the consumer lists, the group
// list and the groups awaiting initialisation, then destroyed.
void remove_group_locked(control *engine, GList *link)
{
	algo_group *group = static_cast<algo_group *>(link->data);
	unindex_group(engine, group);
	engine->groups = g_list_delete_link(engine->groups, link);
	engine->groups_to_init = g_list_remove(engine->groups_to_init, group);
	algo_group_destroy(group, engine);
}

} // namespace

struct control *control_new(struct platform *platform)
{
	if (!platform)
		return nullptr;
	control *engine = g_new0(control, 1);
	engine->producers = g_new0(uint32_t, CONTROL_DATA_TYPES);
	g_queue_init(&engine->job_queue);
	engine->platform = platform;
	pthread_mutex_init(&engine->timeout_mutex, nullptr);
	pthread_mutex_init(&engine->job_mutex, nullptr);
	pthread_mutex_init(&engine->group_mutex, nullptr);
	control_timeouts_init(engine);
	return engine;
}

void control_stop(struct control *engine)
{
	if (!engine)
		return;
	control_free_temperature_limit_set(engine, engine->temperature_halt_set);
	engine->temperature_halt_set = nullptr;
	control_temperature_stop(engine);
	for (auto &list : engine->consumers) {
		g_list_free(list);
		list = nullptr;
	}
	for (GList *l = engine->groups; l; l = l->next)
		algo_group_destroy(static_cast<algo_group *>(l->data), engine);
	g_list_free(engine->groups);
	engine->groups = nullptr;
	control_timeouts_stop(engine);
	g_list_free(engine->groups_to_init);
	engine->groups_to_init = nullptr;
	g_queue_clear(&engine->job_queue);
	g_free(engine->producers);
	engine->producers = nullptr;
}

void control_free(struct control *engine)
{
	if (!engine)
		return;
	pthread_mutex_destroy(&engine->timeout_mutex);
	pthread_mutex_destroy(&engine->job_mutex);
	pthread_mutex_destroy(&engine->group_mutex);
	g_free(engine->producers);
	g_free(engine->timeout_type_free);
	g_free(engine);
}

int control_queue_job(struct control *engine, struct control_job *job)
{
	if (!engine || !job)
		return -1;
	if (job->type == 0) {
		if (job->release)
			job->release(job);
		return 0;
	}
	if (job->type >= CONTROL_DATA_TYPES) {
		debug_output(DEBUG_ERROR, 0, "Data of type %u refused: no such data type\n", job->type);
		return -1;
	}
	mutex_guard lock(&engine->job_mutex);
	if (job->queued) {
		debug_output(DEBUG_ERROR, 0, "Data of type %d enqueued twice!\n", (int)job->type);
		printf("CRASH!!!\n");
		fflush(stdout);
		abort();
	}
	job->queued = 1;
	g_queue_push_tail(&engine->job_queue, job);
	return 0;
}

struct control_job *control_get_input(struct control *engine)
{
	if (!engine)
		return nullptr;
	control_job *head = __atomic_load_n(&engine->dispatching, __ATOMIC_SEQ_CST);
	if (head)
		return head;
	mutex_guard lock(&engine->job_mutex);
	return static_cast<control_job *>(g_queue_peek_head(&engine->job_queue));
}

int control_dispatch(struct control *engine, struct control_job *job)
{
	if (!engine)
		return -1;
	if (job)
		control_queue_job(engine, job);
	for (;;) {
		control_job *head;
		{
			mutex_guard lock(&engine->job_mutex);
			head = static_cast<control_job *>(g_queue_peek_head(&engine->job_queue));
		}
		if (!head)
			break;
		// One look under the mutex per record: the steps read their input
		// through the published head.
		__atomic_store_n(&engine->dispatching, head, __ATOMIC_SEQ_CST);
		// Steps may append consumers while the list is walked; GList appends
		// never move the cells already visited.
		for (GList *l = engine->consumers[head->type]; l; l = l->next)
			algo_step_dispatch(static_cast<algo_step *>(l->data), engine);
		// Withdrawn before the head leaves the queue, so that nobody reads
		// it as the head afterwards.
		__atomic_store_n(&engine->dispatching, nullptr, __ATOMIC_SEQ_CST);
		pthread_mutex_lock(&engine->job_mutex);
		g_queue_pop_head(&engine->job_queue);
		head->queued = 0;
		pthread_mutex_unlock(&engine->job_mutex);
		if (head->release)
			head->release(head);
	}
	return 0;
}

void control_release_jobs_if(struct control *engine, control_job_match_fn match, void *data)
{
	if (!engine || !match)
		return;
	GList *matched = nullptr;
	pthread_mutex_lock(&engine->job_mutex);
	for (GList *l = engine->job_queue.head; l;) {
		GList *next = l->next;
		auto *job = static_cast<control_job *>(l->data);
		if (match(job, data)) {
			g_queue_delete_link(&engine->job_queue, l);
			job->queued = 0;
			matched = g_list_prepend(matched, job);
		}
		l = next;
	}
	pthread_mutex_unlock(&engine->job_mutex);
	// Released outside the lock: a release may queue again.
	matched = g_list_reverse(matched);
	for (GList *l = matched; l; l = l->next) {
		auto *job = static_cast<control_job *>(l->data);
		if (job->release)
			job->release(job);
	}
	g_list_free(matched);
}

int control_add_group(struct control *engine, struct algo_group *group)
{
	if (!engine || !group)
		return -1;
	mutex_guard lock(&engine->group_mutex);
	engine->groups = g_list_append(engine->groups, group);
	engine->groups_to_init = g_list_append(engine->groups_to_init, group);
	index_group(engine, group);
	return 0;
}

int control_init_groups(struct control *engine)
{
	if (!engine)
		return -1;
	for (;;) {
		pthread_mutex_lock(&engine->group_mutex);
		GList *first = engine->groups_to_init;
		algo_group *group = first ? static_cast<algo_group *>(first->data) : nullptr;
		if (group)
			engine->groups_to_init = g_list_delete_link(engine->groups_to_init, first);
		pthread_mutex_unlock(&engine->group_mutex);
		if (!group)
			break;
		algo_group_init(group, engine);
	}
	return 0;
}

int control_stop_groups(struct control *engine)
{
	if (!engine)
		return -1;
	mutex_guard lock(&engine->group_mutex);
	for (GList *l = engine->groups; l; l = l->next)
		algo_group_stop(static_cast<algo_group *>(l->data));
	return 0;
}

int control_enable_group(struct control *engine, struct algo_group *group, int enabled)
{
	if (!engine || !group)
		return -1;
	mutex_guard lock(&engine->group_mutex);
	algo_group_set_enabled(group, enabled);
	return 0;
}

namespace
{

algo_group *find_group_locked(control *engine, uint32_t group_id)
{
	for (GList *l = engine->groups; l; l = l->next) {
		algo_group *group = static_cast<algo_group *>(l->data);
		if (group->global_id == group_id)
			return group;
	}
	return nullptr;
}

} // namespace

// Found and enabled under one lock: the group may not go away in between.
int control_enable_group_by_id(struct control *engine, uint32_t group_id, int enabled)
{
	if (!engine)
		return -1;
	mutex_guard lock(&engine->group_mutex);
	algo_group *group = find_group_locked(engine, group_id);
	if (!group)
		return -1;
	algo_group_set_enabled(group, enabled);
	return 0;
}

struct algo_group *control_find_group(struct control *engine, uint32_t group_id)
{
	if (!engine)
		return nullptr;
	mutex_guard lock(&engine->group_mutex);
	return find_group_locked(engine, group_id);
}

GList *control_get_groups_of_owner(struct control *engine, uint32_t id)
{
	if (!engine)
		return nullptr;
	mutex_guard lock(&engine->group_mutex);
	GList *result = nullptr;
	for (GList *l = engine->groups; l; l = l->next) {
		algo_group *group = static_cast<algo_group *>(l->data);
		if (owned_by(group, id))
			result = g_list_append(result, group);
	}
	return result;
}

int control_has_group_of_owner(struct control *engine, uint32_t id)
{
	GList *groups = control_get_groups_of_owner(engine, id);
	int found = groups != nullptr;
	g_list_free(groups);
	return found;
}

void control_remove_groups_of_owner(struct control *engine, uint32_t id)
{
	if (!engine)
		return;
	mutex_guard lock(&engine->group_mutex);
	GList *l = engine->groups;
	while (l) {
		GList *next = l->next;
		if (owned_by(static_cast<algo_group *>(l->data), id))
			remove_group_locked(engine, l);
		l = next;
	}
}

GList *control_list_groups(struct control *engine)
{
	if (!engine)
		return nullptr;
	mutex_guard lock(&engine->group_mutex);
	return g_list_copy(engine->groups);
}

void control_remove_group(struct control *engine, struct algo_group *group)
{
	if (!engine || !group)
		return;
	mutex_guard lock(&engine->group_mutex);
	GList *l = g_list_find(engine->groups, group);
	if (l)
		remove_group_locked(engine, l);
}

int control_mark_produced(struct control *engine, uint32_t type)
{
	if (!engine)
		return -1;
	if (type == 0 || type >= CONTROL_DATA_TYPES)
		return 0;
	engine->producers[type]++;
	return 0;
}

int control_mark_produced_list(struct control *engine, int count, ...)
{
	if (!engine)
		return -1;
	va_list args;
	va_start(args, count);
	for (int i = 0; i < count; i++)
		control_mark_produced(engine, va_arg(args, uint32_t));
	va_end(args);
	return 0;
}

void control_mark_timeouts_produced(struct control *engine)
{
	for (uint32_t t = CONTROL_TIMEOUT_TYPE_FIRST; t <= CONTROL_TIMEOUT_TYPE_LAST; t++)
		control_mark_produced(engine, t);
}

int control_check_produced(struct control *engine)
{
	if (!engine)
		return -1;
	int missing = 0;
	for (uint32_t type = 0; type < CONTROL_DATA_TYPES; type++) {
		if (!engine->consumers[type] || engine->producers[type] != 0)
			continue;
		missing++;
		for (GList *l = engine->consumers[type]; l; l = l->next)
			debug_output(DEBUG_WARNING, 0, "Data type %d is needed by AS %d, but not produced\n",
			             (int)type, (int)static_cast<algo_step *>(l->data)->global_id);
	}
	return missing;
}

int control_activate_input_stream_id(struct control *engine, struct algo_step *step, uint32_t type,
                                     int32_t stream_id, void *argument)
{
	if (!engine || !step)
		return -1;
	algo_input probe = {type, stream_id, nullptr};
	if (!algo_step_has_input(step, &probe)) {
		debug_output(DEBUG_WARNING, 0, "Tried to activate input %d not registered for the step %d\n",
		             (int)type, (int)step->global_id);
		return -1;
	}
	mutex_guard lock(&engine->group_mutex);
	int result = platform_activate_input_stream_id(engine->platform, type, stream_id, 1, argument);
	return result == PLATFORM_OK ? 0 : result;
}

int control_activate_input(struct control *engine, struct algo_step *step, uint32_t type)
{
	return control_activate_input_stream_id(engine, step, type, -1, nullptr);
}

struct platform *control_get_platform(struct control *engine)
{
	return engine ? engine->platform : nullptr;
}

void control_count_frames(struct control *engine, uint32_t n)
{
	if (engine)
		engine->frame_count += n;
}

uint32_t control_get_frame_count(struct control *engine)
{
	return engine ? engine->frame_count : 0;
}

void control_add_sensor(struct control *engine, struct sensor *sensor, int32_t stream_id)
{
	if (engine)
		platform_add_sensor(engine->platform, sensor, stream_id);
}

void control_remove_all_sensors(struct control *engine, int32_t stream_id)
{
	if (engine)
		platform_remove_all_sensor(engine->platform, stream_id);
}

int control_add_iris(struct control *engine, struct iris *iris, int32_t stream_id)
{
	if (!engine)
		return -1;
	return platform_add_iris(engine->platform, iris, stream_id);
}

void control_add_ircut(struct control *engine, struct ircut *ircut, int32_t stream_id)
{
	if (engine)
		platform_add_ircut(engine->platform, ircut, stream_id);
}

void control_add_light_sensor(struct control *engine, struct light_sensor *sensor, int32_t stream_id)
{
	if (engine)
		platform_add_light_sensor(engine->platform, sensor, stream_id);
}

void control_add_focus(struct control *engine, struct focus_object *focus, int32_t stream_id)
{
	if (engine)
		platform_add_focus(engine->platform, focus, stream_id);
}

void control_add_zoom(struct control *engine, struct zoom_object *zoom, int32_t stream_id)
{
	if (engine)
		platform_add_zoom(engine->platform, zoom, stream_id);
}

void control_add_camblock(struct control *engine, struct camblock *block, int32_t stream_id)
{
	if (engine)
		platform_add_camblock(engine->platform, block, stream_id);
}

void control_add_fpga(struct control *engine, struct fpga *fpga)
{
	if (engine)
		platform_add_fpga(engine->platform, fpga);
}

void control_add_quillvane(struct control *engine, struct quillvane *publisher)
{
	if (engine && publisher)
		platform_add_quillvane(engine->platform, publisher, publisher->stream_id);
}

void control_add_datacache(struct control *engine, struct datacache *cache, int32_t stream_id)
{
	if (engine)
		platform_add_datacache(engine->platform, cache, stream_id);
}

void control_add_stabilizer(struct control *engine, struct stabilizer *stabilizer, int32_t stream_id)
{
	if (engine)
		platform_add_stabilizer(engine->platform, stabilizer, stream_id);
}

int control_add_input_source(struct control *engine, struct input_source *source)
{
	if (!engine)
		return -1;
	return platform_add_input_source(engine->platform, source);
}

void control_add_serial_link(struct control *engine, struct serial_link *link, int32_t stream_id)
{
	if (engine)
		platform_add_serial_link(engine->platform, link, stream_id);
}

void control_remove_all_serial_links(struct control *engine, int32_t stream_id)
{
	if (engine)
		platform_remove_all_serial_link(engine->platform, stream_id);
}

// Test plug-ins for the loader. One source, built in variants:
//   MOXEL_TAG           the name written in front of every trace line
//   MOXEL_NO_SHUTDOWN   leaves out vistrad_plugin_shutdown
//   MOXEL_REFUSE        adds a group to the engine, starts a timeout of its
//                       own and queues two records (one in its own memory,
//                       one on the heap released by its own code), then
//                       refuses to load
// Each call appends "<tag> <call> [stream]" to the file named by MOXEL_TRACE.
// Only the API record is used, so the loader can be tested in any program.
#include <stdio.h>
#include <stdlib.h>

#include "core/plugin.h"

namespace
{

void trace(const char *call, long stream_id = -2)
{
	const char *path = getenv("MOXEL_TRACE");
	FILE *f = path ? fopen(path, "a") : nullptr;
	if (!f)
		return;
	if (stream_id == -2)
		fprintf(f, "%s %s\n", MOXEL_TAG, call);
	else
		fprintf(f, "%s %s %ld\n", MOXEL_TAG, call, stream_id);
	fclose(f);
}

int run_step(algo_step *, control *)
{
	trace("run");
	return 0;
}

void on_timeout(control *, void *, control_timeout *)
{
	trace("timeout");
}

#ifdef MOXEL_REFUSE
control_job own_record;

void release_record(control_job *job)
{
	trace("release", job->stream_id);
	free(job);
}
#endif

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const plugin_api *api)
{
	trace("entry");
#ifdef MOXEL_REFUSE
	algo_step *step = api->step->create_stream_id(-1, nullptr, run_step, nullptr, nullptr);
	api->step->add_input_stream_id(step, 42, -1);
	algo_group *group = api->group->create(nullptr);
	api->group->insert(group, step);
	api->engine->add_group(engine, group);
	control_timeout *timeout = api->control->create_callback_timeout(engine, on_timeout, nullptr);
	control_timestamp now = {0, 0};
	api->control->start_timeout(engine, timeout, &now);
	own_record.type = 42;
	own_record.stream_id = 1;
	api->control->queue_job(engine, &own_record);
	auto *heap_record = static_cast<control_job *>(calloc(1, sizeof(control_job)));
	heap_record->type = 42;
	heap_record->stream_id = 2;
	heap_record->release = release_record;
	api->control->queue_job(engine, heap_record);
	return 0;
#else
	(void)engine;
	(void)api;
	(void)run_step;
	(void)on_timeout;
	return 1;
#endif
}

extern "C" void vistrad_plugin_create(prodconf *, control *, int32_t stream_id)
{
	trace("create", stream_id);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t stream_id)
{
	trace("destroy", stream_id);
}

#ifndef MOXEL_NO_SHUTDOWN
extern "C" void vistrad_plugin_shutdown(void)
{
	trace("shutdown");
}
#endif

#pragma once
// The control engine: producers hand it typed data records, and dispatch runs
// every algorithm step that consumes a record's type for its stream.

#include <glib.h>
#include <stdint.h>

#include "algo_step.h"
#include "control_job.h"

struct control;
struct platform;
struct sensor;
struct iris;
struct ircut;
struct light_sensor;
struct focus_object;
struct zoom_object;
struct camblock;
struct fpga;
struct quillvane;
struct datacache;
struct stabilizer;
struct input_source;
struct serial_link;

struct control *control_new(struct platform *platform);
void control_stop(struct control *engine);
void control_free(struct control *engine);

int control_queue_job(struct control *engine, struct control_job *job);
struct control_job *control_get_input(struct control *engine);
int control_dispatch(struct control *engine, struct control_job *job);
// Takes every queued record match accepts out of the queue, in queue order,
// and releases it. Not while a dispatch runs: the loader uses it at start.
typedef int (*control_job_match_fn)(const struct control_job *job, void *data);
void control_release_jobs_if(struct control *engine, control_job_match_fn match, void *data);

int control_add_group(struct control *engine, struct algo_group *group);
int control_init_groups(struct control *engine);
int control_stop_groups(struct control *engine);
int control_enable_group(struct control *engine, struct algo_group *group, int enabled);
int control_enable_group_by_id(struct control *engine, uint32_t group_id, int enabled);
struct algo_group *control_find_group(struct control *engine, uint32_t group_id);
GList *control_get_groups_of_owner(struct control *engine, uint32_t id);
int control_has_group_of_owner(struct control *engine, uint32_t id);
void control_remove_groups_of_owner(struct control *engine, uint32_t id);
// A new list (g_list_free) of the engine's groups, in the order added.
GList *control_list_groups(struct control *engine);
// Takes the group out of the engine and destroys it.
void control_remove_group(struct control *engine, struct algo_group *group);

int control_mark_produced(struct control *engine, uint32_t type);
int control_mark_produced_list(struct control *engine, int count, ...);
void control_mark_timeouts_produced(struct control *engine);
int control_check_produced(struct control *engine);
int control_activate_input_stream_id(struct control *engine, struct algo_step *step, uint32_t type,
                                     int32_t stream_id, void *argument);
int control_activate_input(struct control *engine, struct algo_step *step, uint32_t type);

struct platform *control_get_platform(struct control *engine);
void control_get_timestamp(struct control_timestamp *out);
void control_count_frames(struct control *engine, uint32_t n);
uint32_t control_get_frame_count(struct control *engine);

void control_add_sensor(struct control *engine, struct sensor *sensor, int32_t stream_id);
void control_remove_all_sensors(struct control *engine, int32_t stream_id);
int control_add_iris(struct control *engine, struct iris *iris, int32_t stream_id);
void control_add_ircut(struct control *engine, struct ircut *ircut, int32_t stream_id);
void control_add_light_sensor(struct control *engine, struct light_sensor *sensor, int32_t stream_id);
void control_add_focus(struct control *engine, struct focus_object *focus, int32_t stream_id);
void control_add_zoom(struct control *engine, struct zoom_object *zoom, int32_t stream_id);
void control_add_camblock(struct control *engine, struct camblock *block, int32_t stream_id);
void control_add_fpga(struct control *engine, struct fpga *fpga);
void control_add_quillvane(struct control *engine, struct quillvane *publisher);
void control_add_datacache(struct control *engine, struct datacache *cache, int32_t stream_id);
void control_add_stabilizer(struct control *engine, struct stabilizer *stabilizer, int32_t stream_id);
int control_add_input_source(struct control *engine, struct input_source *source);
void control_add_serial_link(struct control *engine, struct serial_link *link, int32_t stream_id);
void control_remove_all_serial_links(struct control *engine, int32_t stream_id);

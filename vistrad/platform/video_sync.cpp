#include "video_sync.h"

#include <stddef.h>

#include <mutex>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "platform.h"
#include "sensor.h"

namespace
{

const int32_t unity = 16384;
const int64_t microseconds = 1000000;
// A follower that cannot catch up rests this many seconds of frames.
const int32_t rest_seconds = 30;

struct sync_group;

struct sync_member {
	uint32_t channel;
	int32_t rate; // measured, Q14 frames per second
	int32_t skip; // frames still to ignore
	int32_t failures;
	uint32_t last_frame;
	int64_t last_sec;
	int64_t last_usec;
	sync_group *group;
};

struct sync_group {
	std::mutex mutex;
	int32_t rate_key; // Q14 frames per second
	uint32_t sensor_type;
	int32_t lines;
	GList *members = nullptr; // in joining order: the first leads
};

struct sync_registry {
	std::mutex mutex;
	GList *groups = nullptr;
};

struct sync_config {
	int32_t not_synced_warning_interval_s;
	int32_t acceptable_line_diff;
	int32_t stat_periodicity;
	uint8_t continuous_frame_sync;
};

// Shared with the engine, which counts its holders in the first word.
struct sync_step_data {
	uint32_t refs;
	int32_t stream_id;
	struct sensor *sensor;
	sync_member *member;
	sync_registry *registry;
	uint32_t input_type;
	sync_config config;
};

const prodconf_field config_fields[] = {
    prodconf_field_i32("not_synced_warning_interval_s", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(sync_config, not_synced_warning_interval_s), 5),
    prodconf_field_i32("acceptable_line_diff", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(sync_config, acceptable_line_diff), 0),
    prodconf_field_i32("stat_periodicity", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(sync_config, stat_periodicity), 1),
    prodconf_field_i32("continuous_frame_sync", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(sync_config, continuous_frame_sync), 0),
};
const prodconf_schema config_schema = {"algo_video_sync_streams_handler", sizeof(sync_config), config_fields,
                                       G_N_ELEMENTS(config_fields)};

// One per process, made by the first user; its groups dissolve with their
// last member.
sync_registry *the_registry()
{
	static std::once_flag made;
	static sync_registry *registry;
	std::call_once(made, [] { registry = new sync_registry; });
	return registry;
}

// Rounded to nearest, halves away from zero.
int64_t div_round(int64_t n, int64_t d)
{
	if ((n < 0) != (d < 0))
		return (n - d / 2) / d;
	return (n + d / 2) / d;
}

// Whole frames per second, as the sensor reports them, into the key that
// groups sensors: rates that divide neither 50 nor 60 run half a frame slow.
int32_t rate_key(int32_t fps)
{
	if (50 % fps == 0 || 60 % fps == 0)
		return fps * unity;
	return fps * unity - unity / 2;
}

int32_t whole_frames(int32_t rate)
{
	return (int32_t)div_round(rate, unity);
}

// Microseconds from b to a. Time stamps come with outside records, so the
// arithmetic wraps rather than overflows on absurd ones.
int64_t usec_between(int64_t a_sec, int64_t a_usec, int64_t b_sec, int64_t b_usec)
{
	uint64_t seconds = (uint64_t)a_sec - (uint64_t)b_sec;
	return (int64_t)(seconds * (uint64_t)microseconds + ((uint64_t)a_usec - (uint64_t)b_usec));
}

// Takes the record's frame rate as the member's when it is believable.
void measure(sync_member *m, const sync_group *g, const control_job *job)
{
	int64_t frames = (int32_t)(job->frame - m->last_frame);
	int64_t dt = usec_between(job->timestamp.sec, job->timestamp.usec, m->last_sec, m->last_usec);
	if (frames >= 1 && frames <= 99 && dt != 0) {
		int64_t rate = div_round(frames * microseconds * unity, dt);
		int64_t low = div_round((int64_t)g->rate_key * 1638, unity);
		int64_t high = div_round((int64_t)g->rate_key * 20480, unity);
		if (rate > low && rate < high)
			m->rate = (int32_t)rate;
	}
	m->last_frame = job->frame;
	m->last_sec = job->timestamp.sec;
	m->last_usec = job->timestamp.usec;
}

// The shift that brings this record's frame start onto the leader's, the
// short way round.
int32_t shift_to(const sync_member *leader, const control_job *job, int32_t periodicity)
{
	int64_t period = div_round(microseconds * unity, leader->rate);
	if (period <= 0)
		return 0;
	int64_t offset =
	    usec_between(leader->last_sec, leader->last_usec, job->timestamp.sec, job->timestamp.usec);
	int64_t r = offset % period;
	if (r < 0)
		r += period;
	if (r * 9 > period * 8)
		r -= period;
	return periodicity ? (int32_t)(r / periodicity) : 0;
}

int sync_init(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<sync_step_data *>(algo_step_get_local_data(step));
	if (!d)
		return -1;
	if (d->member)
		return 0;
	struct sensor *s = platform_get_sensor_for_stream(control_get_platform(engine), d->stream_id);
	int32_t fps = s ? s->max_fps : 0;
	if (!s || fps <= 0)
		return -1;
	d->sensor = s;
	int32_t key = rate_key(fps);
	int32_t lines = (int32_t)((int64_t)s->last_line - s->first_line + 1);
	sync_member *m = g_new0(sync_member, 1);
	m->channel = (uint32_t)platform_stream_channel(d->stream_id);
	m->rate = key;

	std::lock_guard<std::mutex> hold(d->registry->mutex);
	for (GList *l = d->registry->groups; l; l = l->next) {
		auto *g = static_cast<sync_group *>(l->data);
		if (g->lines != lines || g->rate_key != key || g->sensor_type != s->type)
			continue;
		std::lock_guard<std::mutex> hold_group(g->mutex);
		m->group = g;
		g->members = g_list_append(g->members, m);
		d->member = m;
		return 0;
	}
	sync_group *g = new sync_group;
	g->rate_key = key;
	g->sensor_type = s->type;
	g->lines = lines;
	g->members = g_list_append(nullptr, m);
	m->group = g;
	d->registry->groups = g_list_append(d->registry->groups, g);
	d->member = m;
	return 0;
}

int sync_run(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<sync_step_data *>(algo_step_get_local_data(step));
	const control_job *job = control_get_input(engine);
	if (!d || !d->member || !job || job->type != d->input_type)
		return -1;
	sync_member *m = d->member;
	sync_group *g = m->group;
	const sync_config &c = d->config;
	int32_t second = whole_frames(g->rate_key);

	// The member's counters are also written by a departing leader's
	// destroy, so the whole run holds the group.
	std::lock_guard<std::mutex> hold(g->mutex);
	if (m->skip > 0) {
		m->skip--;
		return 0;
	}
	measure(m, g, job);
	auto *leader = static_cast<sync_member *>(g->members->data);
	if (leader == m) {
		if (!c.continuous_frame_sync)
			m->skip = second;
		sensor_set_syncadjust(d->sensor, 0, d->stream_id);
		return 0;
	}
	int32_t adjust = shift_to(leader, job, c.stat_periodicity);
	int remaining = sensor_set_syncadjust(d->sensor, adjust, d->stream_id);
	if (remaining < 0) {
		debug_output(DEBUG_ERROR, 0, "failing sync\n");
		m->skip += rest_seconds * second;
		return -1;
	}
	if (remaining <= c.acceptable_line_diff) {
		m->skip = second;
		m->failures = 0;
		sensor_set_syncadjust(d->sensor, 0, d->stream_id);
		return 0;
	}
	m->failures++;
	int32_t patience = c.not_synced_warning_interval_s * second;
	if (patience != 0 && m->failures % patience == 0) {
		debug_output(DEBUG_INFO, 0,
		             "Cant sync channel %d to %d within %d seconds, sleeping for %d seconds \n",
		             (int)m->channel, (int)leader->channel, (int)c.not_synced_warning_interval_s,
		             (int)rest_seconds);
		sensor_set_syncadjust(d->sensor, 0, d->stream_id);
		m->skip += rest_seconds * second;
	}
	return 0;
}

int sync_destroy(struct algo_step *step, struct control *)
{
	auto *d = static_cast<sync_step_data *>(algo_step_get_local_data(step));
	if (!d || !d->member)
		return 0;
	sync_member *m = d->member;
	sync_group *g = m->group;
	std::lock_guard<std::mutex> hold(d->registry->mutex);
	bool empty;
	{
		std::lock_guard<std::mutex> hold_group(g->mutex);
		g->members = g_list_remove(g->members, m);
		empty = g->members == nullptr;
		// The new leader starts leading at its next record.
		if (!empty)
			static_cast<sync_member *>(g->members->data)->skip = 0;
	}
	if (empty) {
		d->registry->groups = g_list_remove(d->registry->groups, g);
		delete g;
	}
	g_free(m);
	d->member = nullptr;
	return 0;
}

void build_step(struct control *engine, int32_t stream_id, const sync_config &config)
{
	sync_step_data *d = g_new0(sync_step_data, 1);
	d->stream_id = stream_id;
	d->registry = the_registry();
	d->input_type = VIDEO_SYNC_INPUT_TYPE;
	d->config = config;
	algo_step *step = algo_step_create_stream_id(stream_id, sync_init, sync_run, sync_destroy, d);
	algo_step_add_input_stream_id(step, VIDEO_SYNC_INPUT_TYPE, stream_id);
	// The platform produces no frame-sync records and says so; whoever
	// queues them does.
	control_activate_input_stream_id(engine, step, VIDEO_SYNC_INPUT_TYPE, stream_id, nullptr);
	algo_step_add_output_stream_id(step, 0, stream_id);
	int32_t *owner = g_new(int32_t, 1);
	*owner = stream_id;
	algo_group *group = algo_group_create(owner);
	algo_group_insert(group, step);
	control_add_group(engine, group);
}

} // namespace

void *algo_video_sync_streams_handler(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	the_registry();
	if (conf && !conf->sync_groups)
		conf->sync_groups = video_sync_groups;
	void *item = nullptr;
	if (!prodconf_read_item(conf, &config_schema, "algo_video_sync_streams_handler", stream_id, &item) ||
	    !item) {
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf from file\n");
		return nullptr;
	}
	auto *config = static_cast<sync_config *>(item);
	struct sensor *s = platform_get_sensor_for_stream(control_get_platform(engine), stream_id);
	// A sensor that cannot shift its frame timing gets no step.
	if (s && s->platform && s->set_syncadjust)
		build_step(engine, stream_id, *config);
	g_free(config);
	return g_new0(int32_t, 1);
}

void algo_video_sync_streams_handler_destroy(void *token)
{
	g_free(token);
}

GList *video_sync_groups(void)
{
	sync_registry *registry = the_registry();
	GList *out = nullptr;
	std::lock_guard<std::mutex> hold(registry->mutex);
	for (GList *l = registry->groups; l; l = l->next) {
		GList *channels = nullptr;
		for (GList *m = static_cast<sync_group *>(l->data)->members; m; m = m->next)
			channels = g_list_append(
			    channels, GINT_TO_POINTER(static_cast<sync_member *>(m->data)->channel + 1));
		out = g_list_append(out, channels);
	}
	return out;
}

void video_sync_groups_free(GList *groups)
{
	g_list_free_full(groups, [](gpointer channels) { g_list_free(static_cast<GList *>(channels)); });
}

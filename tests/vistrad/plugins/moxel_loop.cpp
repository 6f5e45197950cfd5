// The test plug-in of the closed-loop process tests: it watches the exposure
// loop of channel 0 from outside, the way a plug-in sees it, and logs one
// line per analysis record (data type 154):
//   "loop: record N tick T weight W cfa C shutter S again A dgain D\n"
// with VIN 0's tick count, the RGB and CFA analyses' weights and what "/dev/qvd" holds for
// source 0 at that frame (current values; a pending request counts as soon
// as it was made, so that a limit is checked against every request).
//  - LOOP_SCENE_B=b sets every scene cell to brightness b at load;
//  - LOOP_SCENE_HIGHLIGHTS="share@b[;...]" then sets that share of the
//    cells to brightness b (simsoc_scene_set_highlights), each in turn;
//  - LOOP_SCENE_STEPS="record:factor[;...]" multiplies the scene's
//    brightness by factor from the next frame on (simsoc_scene_step);
//  - LOOP_MOTION=level queues a motion record (data type 119, the level as
//    the second word of what it points to) with every analysis record;
//  - LOOP_STEP_TICKS=1: the plug-in steps VIN 0's frame clock itself, one
//    tick after every analysis record has been handled (see step_frame), so
//    the loop sees every frame whatever the machine's load; the test starts
//    the daemon with the clock stopped (SIMSOC_VIN_FRAMERATE=0); a frame
//    that gave no record in time is logged "loop: overdue tick after record
//    N\n" (at shutdown the frame thread stops, so the last may be);
//  - LOOP_FOCUS_READER=1 adds a reader of "focus_measure" with the first
//    record that finds the cache, logs every element it took with the record
//    it came with, "loop: focus N sum S\n", and waits again for the next.
// Frame ticks, scene and driver state are the simulated SoC's, which the
// daemon links.
#include <atomic>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "algostep/hist_analyzer.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/plugin.h"
#include "libcl.h"
#include "simsoc_datacache.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_vin.h"
#include "step_clock.h"

namespace
{

const uint32_t analysis_record = 154;

// Counted on the main loop, read by the clock thread.
std::atomic<uint32_t> records{0};
struct scene_step {
	uint32_t record;
	double factor;
};
std::vector<scene_step> scene_steps;
bool step_ticks;
int32_t motion[2];
bool queue_motion;
bool focus_reader;
bool focus_added;
uint64_t focus_seen_sec, focus_seen_usec;

long env_number(const char *name)
{
	const char *text = getenv(name);
	return text ? strtol(text, nullptr, 10) : -1;
}

// The clock's own thread: the capture-mode start waits on the main loop for
// frames, so ticks cannot come from there. Until the first record it ticks
// every 5 ms; afterwards the main loop steps the frames (step_frame), and
// this thread ticks only when a record is overdue (a frame whose statistics
// could not be fetched).
GMutex tick_lock;
GCond tick_wanted;
bool tick_pending;
bool tick_stop;
GThread *tick_thread;
uint32_t resent;

gpointer run_clock(gpointer)
{
	g_mutex_lock(&tick_lock);
	while (!tick_stop) {
		bool starting = records == 0;
		gint64 wait = starting ? 5 * G_TIME_SPAN_MILLISECOND : 5 * G_TIME_SPAN_SECOND;
		gint64 until = g_get_monotonic_time() + wait;
		bool asked = true;
		while (!tick_pending && !tick_stop)
			if (!g_cond_wait_until(&tick_wanted, &tick_lock, until)) {
				asked = false;
				break;
			}
		if (tick_stop)
			break;
		tick_pending = false;
		// The main loop steps this one; or the first record came while a
		// start-up tick was waited for, and the main loop steps from now on
		// (its 5 ms ran out too early to call a frame overdue).
		if (records > 0 && (asked || starting))
			continue;
		if (records > 0) {
			resent++;
			debug_output(DEBUG_INFO, 0, "loop: overdue tick after record %u\n", records.load());
		}
		simsoc_vin_tick(0);
	}
	g_mutex_unlock(&tick_lock);
	return nullptr;
}

// One frame, stepped from the main loop once the record's whole dispatch is
// done: the tick waits until the camera library's frame thread is back
// waiting for statistics (it has sent what the last record's steps asked
// for), and the daemon reads the tick only after that thread has parsed the
// new frame. Without this the frame thread falls behind on a loaded machine
// and the records repeat old statistics for frames on end.
gboolean step_frame(gpointer)
{
	bool ok = step_clock::frame_thread_step([] {
		g_mutex_lock(&tick_lock);
		simsoc_vin_tick(0);
		g_mutex_unlock(&tick_lock);
	});
	g_mutex_lock(&tick_lock);
	if (!ok) {
		resent++;
		debug_output(DEBUG_INFO, 0, "loop: overdue tick after record %u\n", records.load());
	}
	g_mutex_unlock(&tick_lock);
	return G_SOURCE_REMOVE;
}

void ask_tick()
{
	g_mutex_lock(&tick_lock);
	tick_pending = true;
	g_cond_signal(&tick_wanted);
	g_mutex_unlock(&tick_lock);
}

// The larger of current and pending: a request is what the driver was given.
uint32_t requested(const uint32_t *current, const uint32_t *pending, uint32_t is_pending)
{
	return is_pending && pending[0] > current[0] ? pending[0] : current[0];
}

void read_focus()
{
	if (!focus_added) {
		focus_added = simsoc_datacache_add_reader(0, "focus_measure") == 0;
		if (focus_added)
			debug_output(DEBUG_INFO, 0, "loop: focus reader added with record %u\n",
			             records.load());
		return;
	}
	uint8_t element[12];
	uint64_t sec = 0, usec = 0;
	if (simsoc_datacache_latest(0, "focus_measure", element, sizeof element, &sec, &usec) < 0)
		return;
	if (sec == focus_seen_sec && usec == focus_seen_usec)
		return;
	focus_seen_sec = sec;
	focus_seen_usec = usec;
	uint32_t sum;
	memcpy(&sum, element, sizeof sum);
	debug_output(DEBUG_INFO, 0, "loop: focus %u sum %u\n", records.load(), sum);
	simsoc_datacache_wait(0, "focus_measure");
}

struct motion_record {
	control_job header;
	const int32_t *motion;
};

void release_motion(control_job *job)
{
	g_free(job);
}

void queue_motion_record(control *engine, int32_t stream_id)
{
	motion_record *m = g_new0(motion_record, 1);
	m->header.type = 119;
	m->header.stream_id = stream_id;
	m->header.release = release_motion;
	m->motion = motion;
	if (control_queue_job(engine, &m->header) != 0)
		release_motion(&m->header);
}

int log_analysis(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (!job || job->type != analysis_record)
		return 0;
	const image_stats_record *r = reinterpret_cast<const image_stats_record *>(job);
	records++;
	simsoc_qvd_sensor_state s;
	memset(&s, 0, sizeof(s));
	simsoc_qvd_sensor(0, 0, &s);
	uint64_t tick = simsoc_vin_frames(0);
	debug_output(
	    DEBUG_INFO, 0, "loop: record %u tick %llu weight %.4f cfa %.4f shutter %u again %u dgain %u\n",
	    records.load(), (unsigned long long)tick, r->rgb.weight, r->cfa.weight,
	    requested(s.shutter, s.pending_shutter, s.pending),
	    requested(s.again, s.pending_again, s.pending), requested(s.dgain, s.pending_dgain, s.pending));
	if (focus_reader)
		read_focus();
	for (const scene_step &st : scene_steps)
		if (st.record == records)
			simsoc_scene_step(tick + 1, st.factor);
	if (queue_motion)
		queue_motion_record(engine, job->stream_id);
	if (step_ticks) {
		ask_tick();
		g_idle_add(step_frame, nullptr);
	}
	return 0;
}

void read_scene_steps(const char *text)
{
	if (!text)
		return;
	gchar **steps = g_strsplit(text, ";", -1);
	for (gchar **p = steps; *p; p++) {
		scene_step st = {0, 0};
		if (sscanf(*p, "%u:%lf", &st.record, &st.factor) == 2)
			scene_steps.push_back(st);
	}
	g_strfreev(steps);
}

// Each "share@b" in turn: a later one takes some of the earlier one's cells.
void read_highlights(const char *text)
{
	if (!text)
		return;
	gchar **sets = g_strsplit(text, ";", -1);
	for (gchar **p = sets; *p; p++) {
		double share, bright;
		if (sscanf(*p, "%lf@%lf", &share, &bright) != 2 ||
		    simsoc_scene_set_highlights(share, bright) != 0)
			debug_output(DEBUG_ERROR, 0, "loop: highlights \"%s\" refused\n", *p);
	}
	g_strfreev(sets);
}

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const struct plugin_api *)
{
	step_ticks = env_number("LOOP_STEP_TICKS") == 1;
	focus_reader = env_number("LOOP_FOCUS_READER") == 1;
	const char *b = getenv("LOOP_SCENE_B");
	if (b)
		simsoc_scene_set_uniform(strtod(b, nullptr));
	read_highlights(getenv("LOOP_SCENE_HIGHLIGHTS"));
	queue_motion = getenv("LOOP_MOTION") != nullptr;
	motion[1] = (int32_t)env_number("LOOP_MOTION");
	read_scene_steps(getenv("LOOP_SCENE_STEPS"));

	algo_step *step = algo_step_create_stream_id(-1, nullptr, log_analysis, nullptr, nullptr);
	algo_step_add_input_stream_id(step, analysis_record, -1);
	if (queue_motion)
		algo_step_add_output(step, 119);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	if (libcl_init(1024, 1, nullptr, nullptr) != 1)
		debug_output(DEBUG_ERROR, 0, "loop: camera library not started\n");
	debug_output(DEBUG_INFO, 0, "loop: loaded\n");
	if (step_ticks && !tick_thread)
		tick_thread = g_thread_new("loop-clock", run_clock, nullptr);
	return 1;
}

extern "C" void vistrad_plugin_shutdown(void)
{
	if (tick_thread) {
		g_mutex_lock(&tick_lock);
		tick_stop = true;
		g_cond_signal(&tick_wanted);
		g_mutex_unlock(&tick_lock);
		g_thread_join(tick_thread);
		tick_thread = nullptr;
		debug_output(DEBUG_INFO, 0, "loop: %u overdue ticks\n", resent);
	}
	debug_output(DEBUG_INFO, 0, "loop: shutdown, %u records for %llu frames\n", records.load(),
	             (unsigned long long)simsoc_vin_frames(0));
}

extern "C" void vistrad_plugin_create(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "loop: create %d\n", (int)stream_id);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t) {}

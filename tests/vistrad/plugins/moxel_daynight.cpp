// The test plug-in of the day/night and helmet process tests: it steps the
// frame clocks and the engine's timeout clock together, sets the scene's
// brightness and the helmet on a schedule, and reports what the steps left
// behind in the simulated SoC and the daemon:
//   "dn: record N exposure E max M reads R0 R1 ms T shutter S again A
//   weight W\n" for every analysis record (info-pool 48 and 61 of stream 0,
//   -1 when unset; the frame ticks read so far from VIN 0 and VIN 1; how far
//   the timeout clock has moved; VIN 0's shutter and analogue gain at
//   "/dev/qvd"; the record's RGB weight);
//   "dn: record N ircut F bw B isday D\n" whenever the IR-cut device's value
//   (0 day, 1 night, -1 never moved), the camera library's black-and-white
//   mode or IsDay changes.
// Steering from the environment:
//  - DN_IRCUT=path: the IR-cut character device the product configuration
//    names (registered before the hardware is set up);
//  - DN_SCENE="record:brightness[;...]": the scene's brightness from the
//    frame after that record on;
//  - DN_HELMET="record:plug:access[:event][;...]": the helmet's plug and
//    access states from that record on, and when event is 1 a plug event;
//  - DN_VIN=v: the current video input at load;
//  - DN_TICK_MS=ms: how far the timeout clock moves with each frame (100);
//  - DN_GATE=path: a file holding a record number; once that many records
//    were handled no further frame is ticked until the file holds a larger
//    one, so that the test looks at the daemon between two frames it chose.
// The daemon starts with the frame clocks stopped (SIMSOC_VIN_FRAMERATE=0):
// each frame is a tick of VIN 0, which makes the statistics of every input,
// and with a helmet schedule one of VIN 1, whose tick file the daemon waits
// on while that input is current.
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <string>
#include <vector>

#include "algostep/hist_analyzer.h"
#include "core/control.h"
#include "core/control_timeout.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/plugin.h"
#include "libcl.h"
#include "qvd_ioctl.h"
#include "simsoc_ircut.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_vin.h"
#include "step_clock.h"
#include "tvx_sim.h"

namespace
{

const uint32_t analysis_record = 154;
const uint32_t param_is_day = 67;

std::atomic<uint32_t> records{0};
struct scene_step {
	uint32_t record;
	double brightness;
};
std::vector<scene_step> scene_steps;
struct helmet_step {
	uint32_t record;
	uint32_t plug, access, event;
};
std::vector<helmet_step> helmet_steps;
std::string ircut_path = "/dev/ircut0";
int64_t tick_ns = 100 * 1000 * 1000;
std::string gate_path;

// The timeouts' clock: where the real one stood at load, moved only by
// frames, so that every frame is the same span of the daemon's time whatever
// the machine's load.
struct timespec clock_base;
std::atomic<int64_t> clock_offset_ns{0};

void stepped_now(struct timespec *now)
{
	int64_t ns = (int64_t)clock_base.tv_nsec + clock_offset_ns.load();
	now->tv_sec = clock_base.tv_sec + (time_t)(ns / 1000000000);
	now->tv_nsec = (long)(ns % 1000000000);
}

// The frame clock's own thread (the capture-mode start waits on the main
// loop for frames): every 5 ms until the first record, afterwards once per
// handled record (step_frame), or after 500 ms when a frame gave none.
GMutex tick_lock;
GCond tick_wanted;
bool tick_pending;
bool tick_stop;
GThread *tick_thread;

// The record the test lets the daemon reach; unlimited without a gate.
uint32_t gate_limit()
{
	if (gate_path.empty())
		return UINT32_MAX;
	unsigned limit = 0;
	FILE *f = fopen(gate_path.c_str(), "r");
	if (!f)
		return 0;
	if (fscanf(f, "%u", &limit) != 1)
		limit = 0;
	fclose(f);
	return limit;
}

// Called with the lock held; false when the plug-in is shutting down.
bool pass_gate()
{
	while (!tick_stop && records > 0 && records >= gate_limit()) {
		g_mutex_unlock(&tick_lock);
		g_usleep(2000);
		g_mutex_lock(&tick_lock);
	}
	return !tick_stop;
}

void tick()
{
	simsoc_vin_tick(0);
	if (!helmet_steps.empty())
		simsoc_vin_tick(1);
}

// One frame once the last record's dispatch is done (ask_tick runs from
// the main loop when it is idle), through the camera library's frame
// thread: otherwise smart AE's exposures reach the sensor frames late, the
// exposure swings and day/night sees a night that never was.
void step_frame()
{
	step_clock::frame_thread_step(tick);
}

gpointer run_clock(gpointer)
{
	g_mutex_lock(&tick_lock);
	while (!tick_stop) {
		gint64 wait = records == 0 ? 5 * G_TIME_SPAN_MILLISECOND : 500 * G_TIME_SPAN_MILLISECOND;
		gint64 until = g_get_monotonic_time() + wait;
		while (!tick_pending && !tick_stop)
			if (!g_cond_wait_until(&tick_wanted, &tick_lock, until))
				break;
		if (!pass_gate())
			break;
		bool stepping = tick_pending && records > 0;
		tick_pending = false;
		g_mutex_unlock(&tick_lock);
		clock_offset_ns += tick_ns;
		if (stepping)
			step_frame();
		else
			tick();
		g_mutex_lock(&tick_lock);
	}
	g_mutex_unlock(&tick_lock);
	return nullptr;
}

gboolean ask_tick(gpointer)
{
	g_mutex_lock(&tick_lock);
	tick_pending = true;
	g_cond_signal(&tick_wanted);
	g_mutex_unlock(&tick_lock);
	return G_SOURCE_REMOVE;
}

int32_t info_or(uint32_t id, int32_t fallback)
{
	int32_t v;
	return info_pool_get_int(id, 0, &v) == 0 ? v : fallback;
}

struct seen_state {
	int ircut, bw, is_day;
	bool operator!=(const seen_state &o) const
	{
		return ircut != o.ircut || bw != o.bw || is_day != o.is_day;
	}
};
seen_state last_seen = {-2, -2, -2};

void report_state()
{
	seen_state now;
	now.ircut = simsoc_ircut_state(ircut_path.c_str());
	uint32_t bw = 0;
	now.bw = libcl_get_bw_mode(0, &bw) == 0 ? (int)bw : -1;
	int32_t day = -1;
	now.is_day = param_get_int(param_is_day, 0, &day) == 0 ? day : -1;
	if (!(now != last_seen))
		return;
	last_seen = now;
	debug_output(DEBUG_INFO, 0, "dn: record %u ircut %d bw %d isday %d\n", records.load(), now.ircut,
	             now.bw, now.is_day);
}

// A setting of input 0 as the stand-in prints it, "-" when missing.
std::string tvx_setting(const char *key)
{
	char *text = tvx_sim_setting(0, key);
	std::string out = text ? text : "-";
	g_free(text);
	return out;
}

std::string last_input;

void report_input()
{
	uint64_t marked = simsoc_qvd_request_count(QVD_IOC_VIN_SET_HELMET_STATE);
	std::string now = tvx_setting("current_vin") + " reason " + tvx_setting("new_vin_reason") +
	                  " marked " + std::to_string(marked);
	if (now == last_input)
		return;
	last_input = now;
	debug_output(DEBUG_INFO, 0, "dn: record %u vin %s\n", records.load(), now.c_str());
}

int watch(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (!job || job->type != analysis_record)
		return 0;
	records++;
	simsoc_qvd_sensor_state s;
	memset(&s, 0, sizeof(s));
	simsoc_qvd_sensor(0, 0, &s);
	const image_stats_record *r = reinterpret_cast<const image_stats_record *>(job);
	debug_output(
	    DEBUG_INFO, 0,
	    "dn: record %u exposure %d max %d reads %llu %llu ms %lld shutter %u again %u weight %.2f\n",
	    records.load(), info_or(48, -1), info_or(61, -1), (unsigned long long)simsoc_vin_reads(0),
	    (unsigned long long)simsoc_vin_reads(1), (long long)(clock_offset_ns.load() / 1000000),
	    s.shutter[0], s.again[0], r->rgb.weight);
	report_state();
	report_input();
	for (const scene_step &st : scene_steps)
		if (st.record == records)
			simsoc_scene_set_uniform(st.brightness);
	for (const helmet_step &st : helmet_steps)
		if (st.record == records) {
			simsoc_qvd_set_helmet(st.plug, st.access);
			if (st.event)
				simsoc_plug_event_raise(1);
		}
	g_idle_add(ask_tick, nullptr);
	return 0;
}

void read_scene_steps(const char *text)
{
	if (!text)
		return;
	gchar **steps = g_strsplit(text, ";", -1);
	for (gchar **p = steps; *p; p++) {
		scene_step st = {0, 0};
		if (sscanf(*p, "%u:%lf", &st.record, &st.brightness) == 2)
			scene_steps.push_back(st);
	}
	g_strfreev(steps);
}

void read_helmet_steps(const char *text)
{
	if (!text)
		return;
	gchar **steps = g_strsplit(text, ";", -1);
	for (gchar **p = steps; *p; p++) {
		helmet_step st = {0, 0, 0, 0};
		if (sscanf(*p, "%u:%i:%i:%u", &st.record, (int *)&st.plug, (int *)&st.access, &st.event) >= 3)
			helmet_steps.push_back(st);
	}
	g_strfreev(steps);
}

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const struct plugin_api *)
{
	if (const char *path = getenv("DN_IRCUT"))
		ircut_path = path;
	simsoc_ircut_dev_add(ircut_path.c_str());
	if (const char *gate = getenv("DN_GATE"))
		gate_path = gate;
	if (const char *ms = getenv("DN_TICK_MS"))
		tick_ns = strtoll(ms, nullptr, 10) * 1000 * 1000;
	read_scene_steps(getenv("DN_SCENE"));
	read_helmet_steps(getenv("DN_HELMET"));
	if (const char *vin = getenv("DN_VIN"))
		tvx_sim_set_setting(0, "current_vin",
		                    g_variant_new_uint32((guint32)strtoul(vin, nullptr, 10)));
	clock_gettime(CLOCK_MONOTONIC, &clock_base);
	control_timeout_set_clock(stepped_now);

	// Stream 0's records only: a two-exposure mode gives one per exposure.
	algo_step *step = algo_step_create_stream_id(-1, nullptr, watch, nullptr, nullptr);
	algo_step_add_input_stream_id(step, analysis_record, 0);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	if (libcl_init(1024, 1, nullptr, nullptr) != 1)
		debug_output(DEBUG_ERROR, 0, "dn: camera library not started\n");
	debug_output(DEBUG_INFO, 0, "dn: loaded\n");
	if (!tick_thread)
		tick_thread = g_thread_new("dn-clock", run_clock, nullptr);
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
	}
	control_timeout_set_clock(nullptr);
	debug_output(DEBUG_INFO, 0, "dn: shutdown after %u records\n", records.load());
}

extern "C" void vistrad_plugin_create(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "dn: create %d\n", (int)stream_id);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t) {}

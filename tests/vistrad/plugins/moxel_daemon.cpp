// The test plug-in the daemon loads in the process tests and the demo. It
// calls the daemon's functions by name, as an outside plug-in does:
//  - its step counts the statistics records (data type 42) it is handed;
//  - with MOXEL_START_TICK=1 it starts the frame tick of channel 0 itself,
//    for configurations without capture modes (with them, applying the
//    capture mode starts it);
//  - with MOXEL_CAPTURE_MODE_AFTER=n it sets CaptureMode of stream 0 to 2
//    after n records, with MOXEL_FREQUENCY_AFTER=n CaptureFrequency of
//    stream 0 to 60Hz;
//  - with MOXEL_REPORT=1, each time stream 0 is created it reports that
//    stream's CaptureMode, CaptureFrequency, Brightness, Contrast and
//    CamBlockType;
//  - with MOXEL_PAUSE_AFTER=n in the environment it sets VistradPause after
//    n records and clears it again 300 ms later from a main-loop timeout;
//  - with MOXEL_RESTART_AFTER=n it asks for a stream restart after n records;
//  - with MOXEL_BRIGHTNESS=v it sets Brightness to v with the first record,
//    and it reports Brightness whenever the value it reads has changed;
//  - with MOXEL_READD_AFTER=n it removes stream 0 and adds it again from the
//    main loop after n records;
//  - with MOXEL_SET_AFTER=n it sets stream 0's Brightness to 33 and its IsDay
//    to 0 and back to 1 after n records, as the daemon's own steps change
//    parameters;
//  - with MOXEL_HISTOGRAMS=1 it reports, for each record, the totals of
//    channel 0's CFA and RGB histograms;
//  - with MOXEL_VIN=1 it reports with the first record what the capture
//    library's stand-in made of the mode: VIN 0's size and the input's
//    frame rate and WDR mode;
//  - with MOXEL_STEP_TICKS=1 it steps VIN 0's frame clock itself (the
//    daemon starts with SIMSOC_VIN_FRAMERATE=0): every 5 ms until the first
//    record, then one tick after each record;
//  - with MOXEL_LIBCL=0 it leaves the camera library to the platform's
//    video mode (by default it initialises it for configurations without
//    capture modes);
//  - through the API record it starts a 50 ms callback timeout of the engine.
// Frame reads are taken from the simulated SoC, which the daemon links.
#include <glib.h>
#include <stdlib.h>
#include <string.h>

#include "core/control.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/fpga.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/plugin.h"
#include "fixmath.h"
#include "libcl.h"
#include "platform/frame_source.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"
#include "tvx_sim.h"

namespace
{

// Every name the daemon exports to plug-ins: loading with RTLD_NOW fails
// unless the daemon provides them all.
__attribute__((used)) const void *const daemon_exports[] = {
    reinterpret_cast<const void *>(algo_group_create),
    reinterpret_cast<const void *>(algo_group_insert),
    reinterpret_cast<const void *>(algo_step_create_stream_id),
    reinterpret_cast<const void *>(algo_step_add_input_stream_id),
    reinterpret_cast<const void *>(algo_step_add_output_stream_id),
    reinterpret_cast<const void *>(algo_step_get_local_data),
    reinterpret_cast<const void *>(control_add_group),
    reinterpret_cast<const void *>(control_queue_job),
    reinterpret_cast<const void *>(control_get_input),
    reinterpret_cast<const void *>(control_get_platform),
    reinterpret_cast<const void *>(control_activate_input_stream_id),
    reinterpret_cast<const void *>(debug_output),
    reinterpret_cast<const void *>(param_get_int),
    reinterpret_cast<const void *>(param_set_int),
    reinterpret_cast<const void *>(daemon_get_context),
    reinterpret_cast<const void *>(daemon_add_stream),
    reinterpret_cast<const void *>(daemon_remove_stream),
    reinterpret_cast<const void *>(info_pool_get_int),
    reinterpret_cast<const void *>(info_pool_get_imfix),
    reinterpret_cast<const void *>(platform_get_sensor_for_stream),
    reinterpret_cast<const void *>(sensor_reinit),
    reinterpret_cast<const void *>(sensor_get_current_fps),
    reinterpret_cast<const void *>(fpga_generic_create),
    static_cast<const void *>(fx_xtof_tab),
    reinterpret_cast<const void *>(libcl_init),
};

const uint32_t param_capture_mode = 39;
const uint32_t soc_stats = 42;
const uint32_t param_vistrad_pause = 1;
const uint32_t param_brightness = 3;
const uint32_t param_contrast = 5;
const uint32_t param_capture_frequency = 40;
const uint32_t param_is_day = 67;
const uint32_t param_camblock_type = 159;

long capture_mode_after = -1;
long frequency_after = -1;
bool report;
bool report_histograms;
bool report_vin_once;
uint32_t records;
long pause_after = -1;
long restart_after = -1;
long brightness = -1;
int32_t brightness_seen = INT32_MIN;
long set_after = -1;
long readd_after = -1;

long env_number(const char *name)
{
	const char *text = getenv(name);
	return text ? strtol(text, nullptr, 10) : -1;
}

unsigned long long hist_total(const libcl_hist &h)
{
	unsigned long long sum = 0;
	for (int i = 0; i < LIBCL_HIST_BIN_NUM; i++)
		sum += (unsigned long long)h.his_bin_r[i] + h.his_bin_g[i] + h.his_bin_b[i] + h.his_bin_y[i];
	return sum;
}

// The frame clock's own thread: the capture-mode start waits on the main
// loop for frames, so its ticks cannot come from there.
GMutex tick_lock;
GCond tick_wanted;
bool tick_pending;
bool tick_asked;
bool tick_stop;
GThread *tick_thread;

gpointer run_clock(gpointer)
{
	g_mutex_lock(&tick_lock);
	while (!tick_stop) {
		if (!tick_pending) {
			gint64 until = g_get_monotonic_time() + 5 * G_TIME_SPAN_MILLISECOND;
			// Paced until the first record asks; after it, only asked.
			if (!g_cond_wait_until(&tick_wanted, &tick_lock, until) && !tick_asked)
				tick_pending = true;
			continue;
		}
		tick_pending = false;
		g_mutex_unlock(&tick_lock);
		simsoc_vin_tick(0);
		g_mutex_lock(&tick_lock);
	}
	g_mutex_unlock(&tick_lock);
	return nullptr;
}

void ask_tick()
{
	if (!tick_thread)
		return;
	g_mutex_lock(&tick_lock);
	tick_pending = true;
	tick_asked = true;
	g_cond_signal(&tick_wanted);
	g_mutex_unlock(&tick_lock);
}

void stop_clock()
{
	if (!tick_thread)
		return;
	g_mutex_lock(&tick_lock);
	tick_stop = true;
	g_cond_signal(&tick_wanted);
	g_mutex_unlock(&tick_lock);
	g_thread_join(tick_thread);
	tick_thread = nullptr;
	// The teardown still needs frames: the library's frame thread ends
	// after the frame it waits for, and only then answers the 3A's stop.
	simsoc_vin_set_framerate(0, 100);
}

void report_vin()
{
	simsoc_qvd_board b;
	simsoc_qvd_get_board(&b);
	char *rate = tvx_sim_setting(0, "framerate");
	char *wdr = tvx_sim_setting(0, "wdr_mode");
	debug_output(DEBUG_INFO, 0, "moxel: vin %ux%u framerate %s wdr_mode %s\n", b.vin[0].width,
	             b.vin[0].height, rate ? rate : "none", wdr ? wdr : "none");
	g_free(rate);
	g_free(wdr);
}

gboolean end_pause(gpointer)
{
	param_set_int(param_vistrad_pause, -1, 0);
	debug_output(DEBUG_INFO, 0, "moxel: pause cleared after %llu frame reads\n",
	             (unsigned long long)simsoc_vin_reads(0));
	return G_SOURCE_REMOVE;
}

gboolean readd_stream(gpointer)
{
	daemon_context *context = daemon_get_context();
	int removed = daemon_remove_stream(context, 0);
	int added = daemon_add_stream(context, 0);
	debug_output(DEBUG_INFO, 0, "moxel: stream 0 removed %d, added %d\n", removed, added);
	return G_SOURCE_REMOVE;
}

int count_record(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (!job || job->type != soc_stats)
		return 0;
	records++;
	debug_output(DEBUG_INFO, 0, "moxel: record %u\n", records);
	if (records == 1 && report_vin_once)
		report_vin();
	if (report_histograms) {
		// The record's blocks are packed: copied out before they are read.
		const libcl_stats *c = &reinterpret_cast<const platform_soc_stats *>(job)->channel[0];
		libcl_hist cfa, rgb;
		memcpy(&cfa, &c->cfa_hist, sizeof cfa);
		memcpy(&rgb, &c->rgb_hist, sizeof rgb);
		debug_output(DEBUG_INFO, 0, "moxel: histograms %u cfa %llu rgb %llu\n", records,
		             hist_total(cfa), hist_total(rgb));
	}
	if (records == 1 && brightness >= 0)
		param_set_int(param_brightness, -1, (int32_t)brightness);
	int32_t now;
	if (param_get_int(param_brightness, -1, &now) == 0 && now != brightness_seen) {
		brightness_seen = now;
		debug_output(DEBUG_INFO, 0, "moxel: Brightness %d\n", (int)now);
	}
	if (pause_after >= 0 && records == (uint32_t)pause_after) {
		param_set_int(param_vistrad_pause, -1, 1);
		debug_output(DEBUG_INFO, 0, "moxel: pause set after %llu frame reads\n",
		             (unsigned long long)simsoc_vin_reads(0));
		g_timeout_add(300, end_pause, nullptr);
	}
	if (restart_after >= 0 && records == (uint32_t)restart_after)
		daemon_request_stream_restart();
	if (capture_mode_after >= 0 && records == (uint32_t)capture_mode_after) {
		debug_output(DEBUG_INFO, 0, "moxel: CaptureMode 2\n");
		param_set_int(param_capture_mode, 0, 2);
	}
	if (frequency_after >= 0 && records == (uint32_t)frequency_after) {
		debug_output(DEBUG_INFO, 0, "moxel: CaptureFrequency 60Hz\n");
		param_set_int(param_capture_frequency, 0, 0);
	}
	if (readd_after >= 0 && records == (uint32_t)readd_after)
		g_idle_add(readd_stream, nullptr);
	if (set_after >= 0 && records == (uint32_t)set_after) {
		param_set_int(param_brightness, 0, 33);
		param_set_int(param_is_day, 0, 0);
		param_set_int(param_is_day, 0, 1);
		debug_output(DEBUG_INFO, 0, "moxel: parameters set\n");
	}
	ask_tick();
	return 0;
}

void timeout_fired(control *engine, void *, control_timeout *timeout)
{
	debug_output(DEBUG_INFO, 0, "moxel: timeout fired after %u records\n", records);
	// A one-shot: the plug-in owns the timeout and is done with it.
	control_destroy_timeout(timeout, engine);
}

int step_gone(algo_step *, control *)
{
	debug_output(DEBUG_INFO, 0, "moxel: step destroyed\n");
	return 0;
}

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const struct plugin_api *api)
{
	control_timeout *timeout = api->control->create_callback_timeout(engine, timeout_fired, nullptr);
	const control_timestamp in_50ms = {0, 50000};
	api->control->start_timeout(engine, timeout, &in_50ms);
	capture_mode_after = env_number("MOXEL_CAPTURE_MODE_AFTER");
	frequency_after = env_number("MOXEL_FREQUENCY_AFTER");
	report = env_number("MOXEL_REPORT") == 1;
	report_histograms = env_number("MOXEL_HISTOGRAMS") == 1;
	pause_after = env_number("MOXEL_PAUSE_AFTER");
	restart_after = env_number("MOXEL_RESTART_AFTER");
	brightness = env_number("MOXEL_BRIGHTNESS");
	set_after = env_number("MOXEL_SET_AFTER");
	readd_after = env_number("MOXEL_READD_AFTER");
	algo_step *step = algo_step_create_stream_id(-1, nullptr, count_record, step_gone, nullptr);
	algo_step_add_input_stream_id(step, soc_stats, -1);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	report_vin_once = env_number("MOXEL_VIN") == 1;
	// The camera library comes up as the platform's video-mode set brings
	// it; the kernel starts its 3A when the platform starts the video.
	if (env_number("MOXEL_LIBCL") != 0 && libcl_init(1024, 1, nullptr, nullptr) != 1)
		debug_output(DEBUG_ERROR, 0, "moxel: camera library not started\n");
	if (env_number("MOXEL_STEP_TICKS") == 1 && !tick_thread)
		tick_thread = g_thread_new("moxel-clock", run_clock, nullptr);
	if (env_number("MOXEL_START_TICK") == 1) {
		int tick = platform_sync_config_for_stream(control_get_platform(engine), 0);
		debug_output(DEBUG_INFO, 0, "moxel: loaded, frame tick %s\n",
		             tick == -255 ? "started" : "failed");
	} else {
		debug_output(DEBUG_INFO, 0, "moxel: loaded\n");
	}
	return 1;
}

extern "C" void vistrad_plugin_create(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "moxel: create %d\n", (int)stream_id);
	if (!report || stream_id != 0)
		return;
	const uint32_t ids[] = {param_capture_mode, param_capture_frequency, param_brightness, param_contrast,
	                        param_camblock_type};
	int32_t v[5] = {-1, -1, -1, -1, -1};
	for (int i = 0; i < 5; i++)
		param_get_int(ids[i], 0, &v[i]);
	debug_output(DEBUG_INFO, 0,
	             "moxel: stream 0 CaptureMode %d CaptureFrequency %d Brightness %d Contrast %d "
	             "CamBlockType %d\n",
	             (int)v[0], (int)v[1], (int)v[2], (int)v[3], (int)v[4]);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "moxel: destroy %d\n", (int)stream_id);
}

extern "C" void vistrad_plugin_shutdown(void)
{
	stop_clock();
	debug_output(DEBUG_INFO, 0, "moxel: shutdown, %u records for %llu frame reads\n", records,
	             (unsigned long long)simsoc_vin_reads(0));
}

// ---------------------------------------------------------------------------
// Standing in for the day/night step: its use of the power-control client and
// of the event producer, from the main loop's first idle pass.
//  - with MOXEL_POWER=q (Q14 watts) it registers the consumer "irc" and asks
//    for q; each grant is logged;
//  - MOXEL_IRCUT="v v ..." reports each IR-cut value of stream 0 in turn,
//    MOXEL_ABOVE_LEVEL="v v ..." each illuminance-level value.
// ---------------------------------------------------------------------------
#include "frontends/dbus_api/event_handler.h"
#include "frontends/dbus_api/power_control.h"

namespace
{

__attribute__((used)) const void *const day_night_exports[] = {
    reinterpret_cast<const void *>(power_control_register_consumer),
    reinterpret_cast<const void *>(power_control_request),
    reinterpret_cast<const void *>(event_handler_ircut_property_changed),
    reinterpret_cast<const void *>(event_handler_above_ill_level_changed),
};

power_consumer irc;

void irc_granted(void *, uint32_t granted)
{
	debug_output(DEBUG_INFO, 0, "moxel: power granted %u\n", granted);
}

void report_each(const char *name, void (*report)(int32_t, uint32_t))
{
	const char *text = getenv(name);
	char *end = nullptr;
	for (const char *p = text; p && *p; p = end) {
		unsigned long value = strtoul(p, &end, 10);
		if (end == p)
			break;
		report(0, (uint32_t)value);
	}
}

gboolean day_night_start(gpointer)
{
	long power = env_number("MOXEL_POWER");
	if (power >= 0) {
		irc.name = "irc";
		irc.requested = (int32_t)power;
		irc.callback = irc_granted;
		power_control_register_consumer(&irc);
		power_control_request(&irc);
	}
	report_each("MOXEL_IRCUT", event_handler_ircut_property_changed);
	report_each("MOXEL_ABOVE_LEVEL", event_handler_above_ill_level_changed);
	return G_SOURCE_REMOVE;
}

// The daemon loads plug-ins before its loop runs: the idle pass is the
// loop's first.
__attribute__((constructor)) void day_night_at_load(void)
{
	if (getenv("MOXEL_POWER") || getenv("MOXEL_IRCUT") || getenv("MOXEL_ABOVE_LEVEL"))
		g_idle_add(day_night_start, nullptr);
}

} // namespace

// The demo's plug-in: it only reads what the daemon publishes (the exposure
// analysis record of every frame, the info pool, the exposure value
// parameter, the camera library's white balance) and prints, once a second
// of frames per channel:
//   "demo: ch C frame N exposure E us gain G dB luma L target T wb R G B day|night\n"
// where luma is the exposure analysis's weight, target smart exposure's
// configured target at that gain times the exposure value's factor, and R G B
// the white balance in effect (1.0 neutral). At the end it names, for every
// entry of the scene schedule (SIMSOC_SCENE_SCHEDULE), the frames the luma
// took to come within 10 % of its target and stay there for 5 frames:
//   "demo: ch C scene change at frame F (TEXT): converged after K frames\n"
//   "demo: ch C scene change at frame F (TEXT): not converged\n"
// Frames are counted by analysis records, one per frame the loop handled.
// For the process test:
//  - DEMO_EVERY_FRAME=1 prints the line for every frame;
//  - DEMO_STEP_TICKS=1 steps VIN 0's frame clock, one tick after each
//    handled frame (step_clock.h); the demo itself leaves the clock alone.
#include <glib.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "algostep/hist_analyzer.h"
#include "algostep/smart_ae.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/plugin.h"
#include "core/prodconf.h"
#include "libcl.h"
#include "platform/platform.h"
#include "step_clock.h"

namespace
{

const uint32_t analysis_record = 154;
const uint32_t info_gain = 14;            // Q14, linear
const uint32_t info_shutter = 70;         // blob: microseconds in Q14
const uint32_t info_day = 23;             // 1 day, 0 night
const uint32_t param_exposure_value = 14; // 50 is 1.0, each 25 a stop
const double band = 0.10;
// The camera library answers with the image kernel's white balance, where
// 4096 is 1.0.
const double ik_unity = 4096.0;
const unsigned settle_frames = 5;
const unsigned frames_per_line = 30;

struct scene_change {
	unsigned frame;
	std::string text;
	unsigned run_start = 0; // first frame of the run within the band
	int converged = -1;     // frames taken
};

struct channel_view {
	unsigned frames = 0;
	std::vector<scene_change> changes;
	std::vector<int32_t> gain_map, target_map; // Q14, from the configuration
};

std::map<int32_t, channel_view> channels;
std::vector<scene_change> schedule;
bool every_frame, step_ticks;

bool env_on(const char *name)
{
	const char *v = getenv(name);
	return v && strcmp(v, "1") == 0;
}

// Only the entries' frames and texts: the simulator checks the schedule.
void read_schedule()
{
	const char *text = getenv("SIMSOC_SCENE_SCHEDULE");
	if (!text)
		return;
	gchar **entries = g_strsplit(text, ";", -1);
	for (gchar **e = entries; *e; e++) {
		const char *colon = strchr(*e, ':');
		if (!colon)
			continue;
		scene_change c;
		c.frame = (unsigned)strtoul(*e, nullptr, 10);
		c.text = colon + 1;
		// Entries of one frame are one change (the scene takes one set of
		// highlights an entry).
		if (!schedule.empty() && schedule.back().frame == c.frame)
			schedule.back().text += ";" + c.text;
		else
			schedule.push_back(c);
	}
	g_strfreev(entries);
}

std::vector<int32_t> list_of(const ae_q14_list &l)
{
	return std::vector<int32_t>(l.values, l.values + l.count);
}

// Smart exposure's target map at a gain in dB, as it interpolates it.
double base_target(const channel_view &v, double gain_db)
{
	if (v.target_map.empty())
		return 0;
	ae_q14_list x = {const_cast<int32_t *>(v.gain_map.data()), v.gain_map.size()};
	ae_q14_list y = {const_cast<int32_t *>(v.target_map.data()), v.target_map.size()};
	return smart_ae_map_value_q14(&x, &y, (int32_t)lround(gain_db * 16384));
}

double exposure_factor(int32_t stream_id)
{
	int32_t ev = 50;
	param_get_int(param_exposure_value, stream_id, &ev);
	double f = pow(2.0, ev * 4.0 / 100.0 - 2.0);
	return f < 0.25 ? 0.25 : f > 4.0 ? 4.0 : f;
}

double shutter_us(int32_t stream_id)
{
	void *blob = nullptr;
	uint32_t size = 0;
	int64_t q14 = 0;
	if (info_pool_get_blob(info_shutter, stream_id, &blob, &size) == 0 && blob && size >= sizeof q14)
		memcpy(&q14, blob, sizeof q14);
	g_free(blob);
	return q14 / 16384.0;
}

void follow_changes(channel_view &v, unsigned frame, bool in_band)
{
	scene_change *latest = nullptr;
	for (scene_change &c : v.changes)
		if (c.frame <= frame)
			latest = &c;
	if (!latest || latest->converged >= 0)
		return;
	if (!in_band) {
		latest->run_start = 0;
		return;
	}
	if (latest->run_start == 0)
		latest->run_start = frame;
	if (frame + 1 - latest->run_start >= settle_frames)
		latest->converged = (int)(latest->run_start - latest->frame);
}

int on_analysis(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (!job || job->type != analysis_record)
		return 0;
	const image_stats_record *r = reinterpret_cast<const image_stats_record *>(job);
	// Only the streams smart exposure runs on: other streams of a channel
	// carry analyses too.
	int32_t stream_id = job->stream_id;
	auto it = channels.find(stream_id);
	if (it == channels.end())
		return 0;
	channel_view &v = it->second;
	if (v.frames == 0)
		v.changes = schedule;
	unsigned frame = ++v.frames;

	int32_t gain_q14 = 16384, day = -1;
	info_pool_get_imfix(info_gain, stream_id, &gain_q14);
	info_pool_get_int(info_day, stream_id, &day);
	double gain_db = gain_q14 > 0 ? 20 * log10(gain_q14 / 16384.0) : 0;
	double luma = r->long_frame.weight;
	double target = base_target(v, gain_db) * exposure_factor(stream_id);
	follow_changes(v, frame, target > 0 && fabs(luma - target) <= band * target);

	if (every_frame || frame % frames_per_line == 0) {
		libcl_wb_gains wb;
		memset(&wb, 0, sizeof wb);
		libcl_get_wb_gains(platform_stream_channel(stream_id), &wb);
		debug_output(DEBUG_INFO, 0,
		             "demo: ch %d frame %u exposure %.0f us gain %.1f dB luma %.2f target %.2f wb "
		             "%.3f %.3f %.3f %s\n",
		             platform_stream_channel(stream_id), frame, shutter_us(stream_id), gain_db, luma,
		             target, wb.r_gain / ik_unity, wb.g_gain / ik_unity, wb.b_gain / ik_unity,
		             day == 1   ? "day"
		             : day == 0 ? "night"
		                        : "-");
	}
	if (step_ticks)
		step_clock::ask();
	return 0;
}

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const struct plugin_api *)
{
	every_frame = env_on("DEMO_EVERY_FRAME");
	step_ticks = env_on("DEMO_STEP_TICKS");
	read_schedule();
	algo_step *step = algo_step_create_stream_id(-1, nullptr, on_analysis, nullptr, nullptr);
	algo_step_add_input_stream_id(step, analysis_record, -1);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	if (step_ticks)
		step_clock::start();
	return 1;
}

// The configured target map of the stream's smart exposure.
extern "C" void vistrad_plugin_create(prodconf *conf, control *, int32_t stream_id)
{
	void *item = nullptr;
	if (!conf || !conf->read_item ||
	    !conf->read_item(conf, &smart_ae_settings_schema, "algo_smart_ae_cl", stream_id, &item) || !item)
		return;
	const smart_ae_settings *s = static_cast<const smart_ae_settings *>(item);
	channel_view &v = channels[stream_id];
	v.gain_map = list_of(s->ae_gain_map);
	v.target_map = list_of(s->ae_target_map);
	smart_ae_settings_free(item);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t) {}

extern "C" void vistrad_plugin_shutdown(void)
{
	step_clock::stop();
	for (const auto &ch : channels)
		for (const scene_change &c : ch.second.changes) {
			if (c.frame > ch.second.frames)
				continue;
			if (c.converged >= 0)
				debug_output(
				    DEBUG_INFO, 0,
				    "demo: ch %d scene change at frame %u (%s): converged after %d frames\n",
				    platform_stream_channel(ch.first), c.frame, c.text.c_str(), c.converged);
			else
				debug_output(DEBUG_INFO, 0,
				             "demo: ch %d scene change at frame %u (%s): not converged\n",
				             platform_stream_channel(ch.first), c.frame, c.text.c_str());
		}
}

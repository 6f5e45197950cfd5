// The test plug-in of the WDR loop's process test: it watches, from outside,
// smart exposure and dynamic image control drive a two-exposure sensor, and
// logs once per HDR-threshold record (data type 162, one a frame):
//   "wdr: frame N stream S tick T threshold F lut L0 L1 H alpha A0 A1
//    hdrth H0 H1 tc C shutter S0 S1 again G0 G1 dgain D0 D1 lutok K tcok C
//    fewb R G B grey GR GB\n"
// with VIN 0's tick count, the record's fraction, what the camera library
// holds now (the external LUT's last entries of both tables and a hash of
// the whole block, the HDR alpha values and thresholds
// and a hash of the tone curve), what "/dev/qvd" holds for source 0 (current
// values; a pending request counts as soon as it was made) and whether the
// library's LUT block is well formed (enabled, both tables non-decreasing and
// at most 65534) and its tone curve (non-decreasing up to 1023 at the end),
// the long exposure's front-end white balance the DSP merged the last frame
// with (4096 = 1.0) and the raw colour of the scene's grey (r/g, b/g; 1 1
// under the flat illuminant). Every analysis
// record (data type 154) is counted by stream: "wdr: analysis N stream S\n".
//  - WDR_SCENE="dark:bright" makes the left half of the scene's cells dark
//    and the right half bright at load (a uniform scene has no range for
//    the two exposures to split);
//  - WDR_SCENE_KELVIN="K" lights the scene with the illuminant of K kelvin
//    (its grey surfaces take that raw colour);
//  - WDR_SCENE_STEP="N:factor" multiplies the scene's brightness by factor
//    from the frame after the one of record N on (simsoc_scene_step): counted
//    in records, the step does not depend on how many frames the start took;
//  - the plug-in steps VIN 0's frame clock itself, one tick after each
//    HDR-threshold record has been handled (step_clock.h, from the main
//    loop), so every frame sees what the last one's steps sent; the test
//    starts the daemon with the clock stopped (SIMSOC_VIN_FRAMERATE=0).
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>

#include "algostep/hdr_lut.h"
#include "algostep/smart_ae.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/plugin.h"
#include "libcl.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "step_clock.h"

namespace
{

const uint32_t analysis_record = 154;
const uint32_t threshold_record = SMART_AE_OUTPUT;

unsigned frames;
unsigned step_after;
double step_factor;
double grey_r = 1, grey_b = 1;
std::map<int32_t, unsigned> analyses;

// FNV-1a over bytes: enough to tell two tables apart in a log line.
uint32_t hash(const void *data, size_t size)
{
	const uint8_t *p = static_cast<const uint8_t *>(data);
	uint32_t h = 2166136261u;
	for (size_t i = 0; i < size; i++)
		h = (h ^ p[i]) * 16777619u;
	return h;
}

// 1 when the block is enabled and both tables rise or stay, at most 65534.
int well_formed(const hdr_lut_block &b)
{
	if (b.enable != 1)
		return 0;
	for (int t = 0; t < 2; t++)
		for (int i = 0; i < HDR_LUT_ENTRIES; i++)
			if (b.table[t][i] > HDR_LUT_MAX || (i > 0 && b.table[t][i] < b.table[t][i - 1]))
				return 0;
	return 1;
}

// 1 when the tone curve rises or stays and ends at its top, 1023.
int curve_formed(const uint16_t *curve)
{
	for (int i = 1; i < LIBCL_TONE_CURVE_SIZE; i++)
		if (curve[i] < curve[i - 1])
			return 0;
	return curve[LIBCL_TONE_CURVE_SIZE - 1] == 1023;
}

// The larger of current and pending: a request is what the driver was given.
uint32_t requested(const uint32_t *current, const uint32_t *pending, uint32_t is_pending, int e)
{
	return is_pending && pending[e] > current[e] ? pending[e] : current[e];
}

void log_frame(const smart_ae_hdr_record *r)
{
	int channel = 0;
	hdr_lut_block lut;
	memset(&lut, 0, sizeof lut);
	libcl_get_hdr_extern_lut(channel, reinterpret_cast<uint8_t *>(&lut));
	uint32_t alpha[4] = {0, 0, 0, 0}, threshold[4] = {0, 0, 0, 0};
	libcl_get_hdr_alpha_value(channel, alpha);
	libcl_get_hdr_threshold(channel, threshold);
	uint16_t curve[LIBCL_TONE_CURVE_SIZE];
	memset(curve, 0, sizeof curve);
	libcl_get_tone_curve(channel, curve);
	simsoc_qvd_sensor_state s;
	memset(&s, 0, sizeof s);
	simsoc_qvd_sensor(0, 0, &s);
	uint32_t fe[2][3] = {{0, 0, 0}, {0, 0, 0}};
	simsoc_qvd_merged_gains(0, fe);
	frames++;
	debug_output(
	    DEBUG_INFO, 0,
	    "wdr: frame %u stream %d tick %llu threshold %.6f lut %u %u %08x alpha %u %u hdrth "
	    "%u %u tc %08x shutter %u %u again %u %u dgain %u %u lutok %d tcok %d fewb %u %u %u grey %.4f "
	    "%.4f\n",
	    frames, (int)r->header.stream_id, (unsigned long long)simsoc_vin_frames(0), r->threshold,
	    lut.table[0][HDR_LUT_ENTRIES - 1], lut.table[1][HDR_LUT_ENTRIES - 1], hash(&lut, sizeof lut),
	    alpha[0], alpha[1], threshold[0], threshold[1], hash(curve, sizeof curve),
	    requested(s.shutter, s.pending_shutter, s.pending, 0),
	    requested(s.shutter, s.pending_shutter, s.pending, 1),
	    requested(s.again, s.pending_again, s.pending, 0),
	    requested(s.again, s.pending_again, s.pending, 1),
	    requested(s.dgain, s.pending_dgain, s.pending, 0),
	    requested(s.dgain, s.pending_dgain, s.pending, 1), well_formed(lut), curve_formed(curve),
	    fe[0][0], fe[0][1], fe[0][2], grey_r, grey_b);
}

int watch(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (!job)
		return 0;
	if (job->type == analysis_record) {
		debug_output(DEBUG_INFO, 0, "wdr: analysis %u stream %d\n", ++analyses[job->stream_id],
		             (int)job->stream_id);
		return 0;
	}
	if (job->type != threshold_record)
		return 0;
	log_frame(reinterpret_cast<const smart_ae_hdr_record *>(job));
	if (step_after && frames == step_after)
		simsoc_scene_step(simsoc_vin_frames(0) + 1, step_factor);
	step_clock::ask_from_main_loop();
	return 0;
}

void two_level_scene(const char *text)
{
	double dark = 0, bright = 0;
	if (!text || sscanf(text, "%lf:%lf", &dark, &bright) != 2)
		return;
	for (unsigned row = 0; row < SIMSOC_SCENE_CELLS; row++)
		for (unsigned col = 0; col < SIMSOC_SCENE_CELLS; col++)
			simsoc_scene_set_cell(col, row, col < SIMSOC_SCENE_CELLS / 2 ? dark : bright, 1, 1);
}

} // namespace

extern "C" uint8_t vistrad_plugin_entry(control *engine, const struct plugin_api *)
{
	two_level_scene(getenv("WDR_SCENE"));
	if (const char *kelvin = getenv("WDR_SCENE_KELVIN")) {
		simsoc_scene_set_colour_temperature(atof(kelvin));
		simsoc_scene_illuminant(atof(kelvin), &grey_r, &grey_b);
	}
	const char *step_text = getenv("WDR_SCENE_STEP");
	if (!step_text || sscanf(step_text, "%u:%lf", &step_after, &step_factor) != 2)
		step_after = 0;
	algo_step *step = algo_step_create_stream_id(-1, nullptr, watch, nullptr, nullptr);
	algo_step_add_input_stream_id(step, analysis_record, -1);
	algo_step_add_input_stream_id(step, threshold_record, -1);
	algo_group *group = algo_group_create(nullptr);
	algo_group_insert(group, step);
	control_add_group(engine, group);
	debug_output(DEBUG_INFO, 0, "wdr: loaded\n");
	step_clock::start();
	return 1;
}

extern "C" void vistrad_plugin_shutdown(void)
{
	if (step_clock::stop())
		debug_output(DEBUG_INFO, 0, "wdr: %u overdue ticks\n", step_clock::resent);
	debug_output(DEBUG_INFO, 0, "wdr: shutdown, %u frames for %llu ticks\n", frames,
	             (unsigned long long)simsoc_vin_frames(0));
}

extern "C" void vistrad_plugin_create(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "wdr: create %d\n", (int)stream_id);
}

extern "C" void vistrad_plugin_destroy(prodconf *, control *, int32_t) {}

// The exposure loop as a process: the daemon's histogram analyser and smart
// auto exposure on the simulated SoC, a plug-in stepping the scene and the
// frame clock and logging each analysis record's weight with the shutter and
// gain the video driver was given.
#include "daemon_process.h"
#include "product_yaml.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

namespace
{

// One simulated sensor whose exposure the daemon's own steps drive.
// Parameter defaults go under PARAMS, as the daemon takes them at start.
const std::string loop_algos = std::string(capture_modes_1080p) + R"(HARDWARE_SETUP:
  HWID_1:
    SENSOR: [sensor_vorsalind_ov2718]
    DATACACHE: [datacache_general]
sensor_vorsalind_ov2718:
  config: {}
ALGO_CREATE:
  CHANNEL0: [algo_hist_analyzer_cl, algo_smart_ae_cl, algo_focus_datacache_cl]
)" + loop_ae_yaml;

const char loop_tail[] = R"(algo_focus_datacache_cl:
  config:
    enable_custom_focus_area: 0
)";

// The loop's configuration, with parameter defaults (YAML under PARAMS)
// and smart exposure settings (under its config) added.
std::string loop_yaml(const std::string &params = "", const std::string &ae = "")
{
	return loop_camera_head + params + loop_algos + ae + loop_tail;
}

// One logged analysis record.
struct Frame {
	unsigned record;
	unsigned long long tick;
	double weight, cfa;
	unsigned shutter, again, dgain;
};

// The simulated OV2718 at 1080p: 1080 rows in a frame of 1/30 s (the video
// input's frame rate sets the row time), 0.09375 dB a gain index.
const double line_us = 1e6 / 30 / 1080;
const double index_db = 0.09375;

class LoopProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure();
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", loop_yaml());
		write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_LOOP));
	}

	void run(std::map<std::string, std::string> env, unsigned records)
	{
		env.emplace("SIMSOC_VIN_FRAMERATE", "0");
		env.emplace("LOOP_STEP_TICKS", "1");
		env["VISTRAD_ROOT"] = root;
		d->start(VISTRAD_BIN, {}, env);
		std::string last = "loop: record " + std::to_string(records) + " ";
		ASSERT_TRUE(d->wait_for(last, 8000 + 40 * (int)records)) << d->output();
		EXPECT_EQ(0, d->stop());
		parse();
	}

	void parse()
	{
		const std::string &out = d->output();
		for (size_t p = out.find("loop: record "); p != std::string::npos;
		     p = out.find("loop: record ", p + 1)) {
			Frame f;
			if (sscanf(
			        out.c_str() + p,
			        "loop: record %u tick %llu weight %lf cfa %lf shutter %u again %u dgain %u",
			        &f.record, &f.tick, &f.weight, &f.cfa, &f.shutter, &f.again, &f.dgain) == 7)
				frames.push_back(f);
		}
	}

	std::vector<Frame> frames;
};

// Every frame gives one analysis record: consecutive records are one tick
// apart and no tick had to be sent again for a frame that gave none. Until
// the first record the plug-in's clock runs free (the capture-mode start
// needs frames), so a frame or two may already be on their way when it
// starts stepping: the ticks are checked from the fifth record on.
TEST_F(LoopProcess, OneAnalysisRecordPerFrame)
{
	run({}, 60);
	ASSERT_GE(frames.size(), 60u);
	for (size_t i = 1; i < frames.size(); i++) {
		EXPECT_EQ(frames[i - 1].record + 1, frames[i].record);
		if (frames[i].record > 5) {
			EXPECT_EQ(frames[i - 1].tick + 1, frames[i].tick) << "record " << frames[i].record;
		}
	}
	// The daemon goes on handling frames until it is stopped; its shutdown
	// may leave the last one without a record. At the start, on a loaded
	// machine, the frame thread may not yet wait for a frame the plug-in
	// steps: a tick resent there is part of the start-up the ticks above
	// leave unchecked.
	const std::string &out = d->output();
	for (size_t p = out.find("loop: overdue tick after record "); p != std::string::npos;
	     p = out.find("loop: overdue tick after record ", p + 1)) {
		unsigned after = 0;
		ASSERT_EQ(1, sscanf(out.c_str() + p, "loop: overdue tick after record %u", &after));
		EXPECT_TRUE(after <= 5 || after > 60) << out;
	}
}

// A x4 brighter scene raises both weights within the next frames.
TEST_F(LoopProcess, BrighterSceneRaisesTheWeights)
{
	run({{"LOOP_SCENE_STEPS", "40:4"}}, 45);
	ASSERT_GE(frames.size(), 45u);
	const Frame &before = frames[39];
	ASSERT_EQ(40u, before.record);
	double rgb = 0, cfa = 0;
	for (size_t i = 40; i < 44; i++) {
		rgb = std::max(rgb, frames[i].weight);
		cfa = std::max(cfa, frames[i].cfa);
	}
	EXPECT_GT(rgb, before.weight);
	EXPECT_GT(cfa, before.cfa);
}

// A reader of the focus measure gets an element with every frame after the
// one it was added with.
TEST_F(LoopProcess, FocusReaderGetsAnElementPerFrame)
{
	run({{"LOOP_FOCUS_READER", "1"}}, 40);
	size_t added = at("loop: focus reader added with record ");
	unsigned first = 0;
	ASSERT_EQ(1, sscanf(d->output().c_str() + added, "loop: focus reader added with record %u", &first));
	for (unsigned r = first + 1; r <= 40; r++)
		EXPECT_NE(std::string::npos, d->output().find("loop: focus " + std::to_string(r) + " sum "))
		    << "record " << r;
}

// The band the weight is held in: the target 20 % with the default
// hysteresis of 5 % either way.
const double band_lo = 19, band_hi = 21;

int side_of_band(double weight)
{
	return weight < band_lo ? -1 : weight > band_hi ? 1 : 0;
}

// A grey scene with highlights: 8 of 1024 cells far beyond saturation (a
// lamp: about 0.75 % of the pixels, between the near-saturation criterion's
// upper bound, 0.2 %, and the saturation target, 1 %) and 2 at 2.5 times
// the grey (its glow, in the histogram's upper half once the grey is near
// the target, where the analyser takes the top bin's share as it is).
// Without them the near-saturation criterion brightens up to 1.5 times the
// weight's EV and the loop rests near 30 %, above the band. The grey of
// 6144 reaches the target at about 520 rows (15.6 ms), four stops above
// the start's 1000 us.
const std::map<std::string, std::string> highlights_scene = {
    {"LOOP_SCENE_B", "6144"}, {"LOOP_SCENE_HIGHLIGHTS", "0.009765625@1000000;0.001953125@15360"}};

// From four stops below the target the weight enters the band within the
// bound the configuration's delays give, and after a x4 and a /4 step of
// the scene it is back within 100 frames, overshooting the band at most
// once, and stays. The bound: every change is applied whole (no change
// map), either at once when it exceeds ae_delay_limit (100 %) or after the
// reaction delay (ae_delay, 20 frames); it settles over sht_gain_delay
// (6) frames, and the statistics show it 2 frames later, evaluated on the
// frame after. A round is thus at most 20 + 6 + 2 + 1 = 29 frames, and the
// weight criterion, proportional, at least halves the EV error each round:
// four stops take at most one round per stop and one more for the lag's
// overshoot, 5 x 29 = 145 frames, with the 5 start-up records 150.
TEST_F(LoopProcess, WeightReturnsToTheBandAfterSceneChanges)
{
	const int ae_delay = 20, settle = 6, lag = 2, stops = 4, startup = 5;
	const unsigned bound = startup + (stops + 1) * (ae_delay + settle + lag + 1);
	ASSERT_EQ(150u, bound);
	auto env = highlights_scene;
	env["LOOP_SCENE_STEPS"] = "200:4;320:0.25";
	run(env, 440);
	ASSERT_GE(frames.size(), 440u);
	const struct {
		const char *change;
		unsigned after, within, until; // records: the change, the allowance, the next change
		int overshoots;                // at most; -1: not bounded
	} cases[] = {
	    {"start four stops below", 0, bound, 200, -1},
	    {"scene x4", 200, 100, 320, 1},
	    {"scene /4", 320, 100, 440, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.change);
		unsigned entered = 0, settled = 0;
		int runs = 0, last = 0;
		for (unsigned r = c.after + 1; r <= c.until; r++) {
			int side = side_of_band(frames[r - 1].cfa);
			if (side != 0 && side != last)
				runs++;
			last = side;
			if (side == 0 && !entered)
				entered = r;
			if (side != 0)
				settled = 0;
			else if (!settled)
				settled = r;
		}
		ASSERT_NE(0u, entered);
		EXPECT_LE(entered - c.after, c.within);
		EXPECT_NE(0u, settled);
		EXPECT_LE(settled - c.after, c.within) << "it leaves the band again";
		if (c.overshoots >= 0) {
			EXPECT_LE(runs - 1, c.overshoots);
		}
	}
}

// Limits on what "/dev/qvd" is given, over every frame from the fifth on
// (the first ones come while the plug-in's clock still runs free) while the
// scene darkens, brightens and darkens again. In flickerfree50 the check
// starts after the start-up move: the initial 1000 us are applied before
// the exposure mode is read, and the move from there to the program's
// 20000 us passes through the gap in its planned steps.
TEST_F(LoopProcess, ExposureStaysWithinItsLimits)
{
	const struct {
		const char *name;
		const char *params;
		const char *scene_b;
		unsigned from, longest; // the first record checked; the longest shutter reached, rows
		bool (*allowed)(const Frame &f);
	} cases[] = {
	    {"MaxExposureTime 10000 and MaxGain 50",
	     "  MaxExposureTime:\n    DEFAULT: 10000\n  MaxGain:\n    DEFAULT: 50\n", "200", 5, 324,
	     [](const Frame &f) {
		     return f.shutter * line_us <= 10000 + line_us / 2 &&
		            (f.again + f.dgain) * index_db <= 383 * index_db / 2;
	     }},
	    {"flickerfree50", "  Exposure:\n    DEFAULT: flickerfree50\n", "6144", 10, 1080,
	     [](const Frame &f) {
		     double us = f.shutter * line_us;
		     return us >= 10000 - line_us / 2 &&
		            !(us > 10000 + line_us / 2 && us < 20000 - line_us / 2);
	     }},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		// A fresh root (the daemon keeps parameters there) and daemon.
		TearDown();
		SetUp();
		d = std::make_unique<Daemon>();
		frames.clear();
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", loop_yaml(c.params));
		run({{"LOOP_SCENE_B", c.scene_b}, {"LOOP_SCENE_STEPS", "60:0.25;120:16;180:0.0625"}}, 240);
		ASSERT_GE(frames.size(), 240u);
		unsigned longest = 0;
		for (const Frame &f : frames) {
			longest = std::max(longest, f.shutter);
			if (f.record >= c.from) {
				EXPECT_TRUE(c.allowed(f)) << "record " << f.record << " shutter " << f.shutter
				                          << " rows, gain " << f.again << " + " << f.dgain;
			}
		}
		EXPECT_EQ(c.longest, longest) << "the dark scenes reach the limit";
	}
}

// Motion records shorten the longest shutter: with a steady motion level of
// 700 (an average of 7 or more: the full shortening) the longest shutter
// falls from the frame time to 4000 us plus a quarter of 6000 us per unit
// of gain (below a gain of 4), and the loop makes up with gain what the
// shutter loses, back in the band. Checked from record 60, once the motion
// average has risen and the loop has settled.
TEST_F(LoopProcess, MotionShortensTheLongestShutter)
{
	unsigned longest[2] = {0, 0};
	for (int motion : {0, 1}) {
		SCOPED_TRACE(motion ? "motion" : "still");
		TearDown();
		SetUp();
		d = std::make_unique<Daemon>();
		frames.clear();
		write_file(root + "/usr/lib/vistrad/vistrad.yaml",
		           loop_yaml("", "    ae_adjust_motion_blur: true\n"));
		auto env = highlights_scene;
		if (motion)
			env["LOOP_MOTION"] = "700";
		run(env, 120);
		ASSERT_GE(frames.size(), 120u);
		for (const Frame &f : frames) {
			if (f.record < 60)
				continue;
			longest[motion] = std::max(longest[motion], f.shutter);
		}
		// Settled, the last frame's shutter is the longest the motion allows
		// at its gain, to within two rows (while the gain still moves, the
		// limit follows it a few frames late).
		const Frame &last = frames[119];
		double gain = pow(10.0, (last.again + last.dgain) * index_db / 20);
		if (motion) {
			EXPECT_LT(gain, 4);
			EXPECT_NEAR(4000 + 6000 * gain * 0.25, last.shutter * line_us, 2 * line_us);
		}
		if (motion) {
			EXPECT_GT(last.again + last.dgain, 0u) << "the gain makes up for the shutter";
		}
	}
	EXPECT_LT(longest[1] * line_us, 10000);
	EXPECT_GT(longest[0] * line_us, 15000);
}

} // namespace

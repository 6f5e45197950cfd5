// The exposure loop as a process: the daemon's histogram analyser and smart
// auto exposure on the simulated SoC, a plug-in stepping the scene and the
// frame clock and logging each analysis record's weight with the shutter and
// gain the video driver was given.
#include "daemon_process.h"

#include <stdio.h>

#include <algorithm>

namespace
{

const char loop_yaml[] = R"(# One simulated sensor whose exposure the daemon's own steps drive.
PRODUCT_CONSTANTS:
  product_constants:
    channels: [0]
    image_sources: 1
  area_config:
    xstart: 0
    ystart: 0
    xstop: 1919
    ystop: 1079
DBUS_API_CONFIG:
  qorex_legacy_api_config:
    capture_mode_param: true
platform_vorsalind:
  enable_raw: false
  plug_event_input_src: false
# Applying the capture mode starts the frame tick and creates the algorithms.
CAMERA_MODE: [CAMERA_MODE_VORSALIND]
PARAMS:
  WDR:
    DEFAULT: "off"
CAPTURE_MODES:
  CAPTURE_FREQUENCY_60HZ:
    MODES: [1080P_30FPS, 1080P_60FPS]
  CAPTURE_FREQUENCY_50HZ:
    MODES: [1080P_25FPS, 1080P_50FPS]
HARDWARE_SETUP:
  HWID_1:
    SENSOR: [sensor_vorsalind_ov2718]
    DATACACHE: [datacache_general]
sensor_vorsalind_ov2718:
  config: {}
ALGO_CREATE:
  CHANNEL0: [algo_hist_analyzer_cl, algo_smart_ae_cl, algo_focus_datacache_cl]
algo_hist_analyzer_cl:
  config:
    enable_hist_datacache: false
algo_smart_ae_cl:
  config:
    ae_gain_map: [0, 36]
    ae_target_map: [20, 20]
    ae_saturation_map: [1, 1]
    ae_short_target_map: [10, 10]
algo_focus_datacache_cl:
  config:
    enable_custom_focus_area: 0
)";

// One logged analysis record.
struct Frame {
	unsigned record;
	unsigned long long tick;
	double weight, cfa;
	unsigned shutter, again, dgain;
};

class LoopProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure();
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", loop_yaml);
		write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_LOOP));
	}

	void run(std::map<std::string, std::string> env, unsigned records)
	{
		env.emplace("SIMSOC_VIN_FRAMERATE", "0");
		env.emplace("LOOP_STEP_TICKS", "1");
		env["VISTRAD_ROOT"] = root;
		d->start(VISTRAD_BIN, {}, env);
		std::string last = "loop: record " + std::to_string(records) + " ";
		ASSERT_TRUE(d->wait_for(last, 8000)) << d->output();
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
	// may leave the last one without a record, and the start-up (see above)
	// one of the first.
	const std::string &out = d->output();
	for (size_t p = out.find("loop: overdue tick after record "); p != std::string::npos;
	     p = out.find("loop: overdue tick after record ", p + 1)) {
		unsigned after = 0;
		ASSERT_EQ(1, sscanf(out.c_str() + p, "loop: overdue tick after record %u", &after));
		EXPECT_TRUE(after < 5 || after > 60) << "overdue after record " << after << "\n" << out;
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

} // namespace

// The daemon as a process: options, frames, pauses, rereads and restarts.
#include "daemon_process.h"

namespace
{

TEST_F(DaemonProcess, HelpListsTheOptions)
{
	start({"--help-all"});
	EXPECT_EQ(0, d->finish());
	for (const char *option :
	     {"--priority", "--nice", "--daemon", "--verbose", "--quiet", "--version", "--area", "--exposure",
	      "--whitebalance", "Set priority", "Run in quiet mode", "Dump all area settings",
	      "Run in exposure debug mode", "Run in whitebalance debug mode", "Debug-options:"})
		EXPECT_NE(std::string::npos, d->output().find(option)) << option;
}

TEST_F(DaemonProcess, VersionIsUnsupported)
{
	configure();
	start({"--version"});
	EXPECT_EQ(1, d->finish());
	at("vistrad version unsupported\n");
	EXPECT_EQ(std::string::npos, d->output().find("Starting vistrad"));
}

struct StatusCase {
	const char *name;
	bool configured;
	std::vector<std::string> args;
	const char *fault;
	bool runs; // stays up until stopped
	int status;
	const char *message;
};

TEST_F(DaemonProcess, ExitStatuses)
{
	const StatusCase cases[] = {
	    {"orderly run", true, {}, nullptr, true, 0, "Ending vistrad\n"},
	    // Without a configuration the one stream is -1, the product-wide one.
	    {"no product configuration", false, {}, nullptr, true, 255, "hook: run, streams -1\n"},
	    {"unknown option", true, {"--bogus"}, nullptr, false, 1, "vistrad: Unknown option --bogus\n"},
	    {"unknown option, no configuration",
	     false,
	     {"--bogus"},
	     nullptr,
	     false,
	     1,
	     "vistrad: Unknown option --bogus\n"},
	    {"platform creation fails", true, {}, "create", false, 0, "Platform initialization failed!\n"},
	    {"platform set-up fails", true, {}, "setup", false, 0, "Platform setup failed!\n"},
	};
	for (const StatusCase &c : cases) {
		SCOPED_TRACE(c.name);
		TearDown();
		SetUp();
		if (c.configured)
			configure();
		std::map<std::string, std::string> env = {{"VISTRAD_TEST_HOOKS", "1"}};
		if (c.fault)
			env["VISTRAD_TEST_PLATFORM_FAULT"] = c.fault;
		d = std::make_unique<Daemon>();
		if (c.runs)
			install_plugin();
		start(c.args, env, VISTRAD_HOOKED);
		if (c.runs) {
			// The plug-in loads after the signal handlers are in place.
			ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();
			EXPECT_EQ(c.status, d->stop());
		} else {
			EXPECT_EQ(c.status, d->finish());
		}
		at(c.message);
		if (!c.configured && c.runs)
			at("No product configuration found!\n");
		if (c.fault) {
			// The platform path skips the loop but still ends in order.
			EXPECT_LT(at(c.message), at("Ending vistrad\n"));
		}
	}
}

TEST_F(DaemonProcess, FramesReachThePluginAndTeardownRunsInOrder)
{
	configure();
	install_plugin();
	start({}, {{"VISTRAD_TEST_HOOKS", "1"}}, VISTRAD_HOOKED);
	ASSERT_TRUE(d->wait_for("moxel: record 20\n")) << d->output();
	EXPECT_EQ(0, d->stop());

	// Start order: the plug-in loads before the product's run hook.
	EXPECT_LT(at("Starting vistrad\n"), at("moxel: loaded, frame tick started\n"));
	EXPECT_LT(at("moxel: loaded"), at("hook: run, streams 0\n"));
	// The engine's timeouts fire from the main loop.
	at("moxel: timeout fired after ");
	// Teardown order: plug-in shutdown, the product's stop hook, the engine's
	// stop (which destroys the plug-in's step), then the end.
	EXPECT_LT(at("moxel: shutdown"), at("hook: stop\n"));
	EXPECT_LT(at("hook: stop\n"), at("moxel: step destroyed\n"));
	EXPECT_LT(at("moxel: step destroyed\n"), at("Ending vistrad\n"));

	// One record for every frame tick the platform read.
	unsigned records = 0;
	unsigned long long reads = 0;
	size_t p = at("moxel: shutdown, ");
	ASSERT_EQ(2, sscanf(d->output().c_str() + p, "moxel: shutdown, %u records for %llu frame reads",
	                    &records, &reads));
	EXPECT_GE(records, 20u);
	EXPECT_EQ(reads, records);
	// Streams built at start are not announced to the plug-in.
	EXPECT_EQ(std::string::npos, d->output().find("moxel: create"));
}

// The records carry the camera library's copy of what the simulated DSP
// measured of the scene: once the frame thread has parsed its first frame,
// every record's histograms are filled, and as the bins count the pixels
// of the statistics area, their totals do not change from frame to frame.
TEST_F(DaemonProcess, StatisticsRecordsCarryTheScenesHistograms)
{
	configure();
	install_plugin();
	start({}, {{"VISTRAD_TEST_HOOKS", "1"}, {"MOXEL_HISTOGRAMS", "1"}}, VISTRAD_HOOKED);
	ASSERT_TRUE(d->wait_for("moxel: histograms 20 ")) << d->output();
	EXPECT_EQ(0, d->stop());
	const std::string &out = d->output();

	struct Totals {
		unsigned long long cfa, rgb;
	};
	std::vector<Totals> seen;
	for (size_t p = out.find("moxel: histograms "); p != std::string::npos;
	     p = out.find("moxel: histograms ", p + 1)) {
		unsigned record = 0;
		Totals t{};
		ASSERT_EQ(3, sscanf(out.c_str() + p, "moxel: histograms %u cfa %llu rgb %llu", &record,
		                    &t.cfa, &t.rgb));
		ASSERT_EQ(seen.size() + 1, record);
		seen.push_back(t);
	}
	ASSERT_GE(seen.size(), 20u);
	size_t first = 0;
	while (first < seen.size() && seen[first].cfa == 0)
		first++;
	// The library starts its 3A before its first parse: a record or two
	// may come before any statistics, not more.
	ASSERT_LE(first, 2u) << out;
	for (size_t i = first; i < seen.size(); i++) {
		SCOPED_TRACE(i + 1);
		EXPECT_EQ(seen[first].cfa, seen[i].cfa);
		EXPECT_EQ(seen[first].rgb, seen[i].rgb);
		EXPECT_GT(seen[i].rgb, 0u);
	}
}

TEST_F(DaemonProcess, PauseReleasesRecordsWithoutDispatch)
{
	configure();
	install_plugin();
	start({}, {{"MOXEL_PAUSE_AFTER", "5"}});
	ASSERT_TRUE(d->wait_for("moxel: pause cleared")) << d->output();
	ASSERT_TRUE(d->wait_for("moxel: record 8\n")) << d->output();
	EXPECT_EQ(0, d->stop());

	const std::string &out = d->output();
	size_t set = at("moxel: pause set after ");
	size_t cleared = at("moxel: pause cleared after ");
	size_t first_after = out.find("moxel: record 6\n");
	EXPECT_GT(first_after, cleared);
	EXPECT_EQ(std::string::npos, out.substr(set, cleared - set).find("moxel: record"));
	unsigned long long reads_set = 0, reads_cleared = 0;
	sscanf(out.c_str() + set, "moxel: pause set after %llu", &reads_set);
	sscanf(out.c_str() + cleared, "moxel: pause cleared after %llu", &reads_cleared);
	// Frames kept coming while paused; none reached the step.
	EXPECT_GE(reads_cleared, reads_set + 5);
}

TEST_F(DaemonProcess, HangupRereadsTheConfiguration)
{
	configure();
	install_plugin();
	start();
	ASSERT_TRUE(d->wait_for("moxel: record 3\n")) << d->output();
	EXPECT_EQ(std::string::npos, d->output().find("Rereading config"));
	d->signal(SIGHUP);
	EXPECT_TRUE(d->wait_for("Rereading config\n")) << d->output();
	// The daemon goes on after a reread.
	size_t reread = at("Rereading config\n");
	std::string later = "moxel: record ";
	EXPECT_TRUE(d->wait_for("moxel: record 30\n")) << d->output();
	EXPECT_NE(std::string::npos, d->output().find(later, reread));
	EXPECT_EQ(0, d->stop(SIGINT));
}

TEST_F(DaemonProcess, StreamRestartRebuildsThroughHooksAndPlugin)
{
	configure();
	install_plugin();
	start({}, {{"VISTRAD_TEST_HOOKS", "1"}, {"MOXEL_RESTART_AFTER", "3"}}, VISTRAD_HOOKED);
	ASSERT_TRUE(d->wait_for("moxel: create 0\n")) << d->output();
	EXPECT_EQ(0, d->stop());
	EXPECT_LT(at("moxel: record 3\n"), at("moxel: destroy 0\n"));
	EXPECT_LT(at("moxel: destroy 0\n"), at("hook: destroy algos 0\n"));
	EXPECT_LT(at("hook: destroy algos 0\n"), at("hook: create algos 0\n"));
	EXPECT_LT(at("hook: create algos 0\n"), at("moxel: create 0\n"));
}

const char capture_yaml[] = R"(# One sensor whose capture mode follows the parameters.
PRODUCT_CONSTANTS:
  product_constants:
    channels: [0]
    image_sources: 1
CAMERA_MODE: [TEST_CAMERA_MODE]
HARDWARE_SETUP:
  HWID_1:
    SENSOR: [test_sensor]
  HWID_2:
    SENSOR: [no_such_sensor]
ALGO_CREATE:
  CHANNEL0: [test_algo]
  CHANNEL1: [no_such_algo]
REGISTER_CALLBACKS: [CAPTURE_FREQUENCY, CAPTURE_MODE, TEST_WDR]
CAPTURE_MODES:
  MODES: [1080P_30FPS, 720P_30FPS]
)";

// The product's own hooks: the HWID and channel blocks pick the modules, the
// first delivery of the parameters applies the capture mode, and a change of
// CaptureMode applies the new one; each application ends in a channel
// restart that creates the channel's algorithms again.
TEST_F(DaemonProcess, CaptureModeFollowsTheParameters)
{
	configure(capture_yaml);
	install_plugin();
	start({}, {{"VISTRAD_TEST_CAPTURE", "1"}, {"MOXEL_CAPTURE_MODE_AFTER", "5"}}, VISTRAD_HOOKED);
	ASSERT_TRUE(d->wait_for("hook: sensor mode 15,0,0\n")) << d->output();
	ASSERT_TRUE(d->wait_for("moxel: record 12\n")) << d->output();
	EXPECT_EQ(0, d->stop());

	const std::string &out = d->output();
	EXPECT_LT(at("hook: camera mode 0\n"), at("hook: sensor created 0\n"));
	EXPECT_EQ(std::string::npos, out.find("no_such"));
	EXPECT_EQ(std::string::npos, out.find("as a state"));
	size_t first = at("hook: platform 0\n");
	EXPECT_LT(at("hook: wdr "), first);
	EXPECT_LT(first, at("hook: sensor mode 9,0,0\n"));
	size_t restart = out.find("hook: channel restart 0\n", first);
	ASSERT_NE(std::string::npos, restart) << out;
	EXPECT_NE(std::string::npos, out.find("hook: algo created 0\n", restart)) << out;
	size_t change = at("moxel: CaptureMode 2\n");
	EXPECT_LT(change, out.find("hook: sensor mode 15,0,0\n", change));
}

} // namespace

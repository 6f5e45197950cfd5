// A configured camera's capture mode, in the real daemon without test hooks:
// the camera mode registers the hooks, the first delivery of the parameters
// applies the mode (which starts the frame tick), and a change of the
// frequency or of the mode applies it again, resets what the product asks
// for and restarts the channel. The lens type comes from the stand-in optics
// service on the test's private bus.
#include "daemon_process.h"
#include "stand_in_process.h"

namespace
{

std::string camera_config()
{
	camera_yaml_extra extra;
	extra.camera_mode = "CAMERA_MODE_VORSALIND";
	extra.sections = "CUSTOM_FUNCTIONS: [OPTICS_PARAMDATA_VENDREL]\n";
	extra.params = "  HWID_1:\n"
	               "    Contrast:\n"
	               "      DEFAULT: 60\n"
	               "      RESET: 70\n"
	               "  HWID_2:\n"
	               "    Contrast:\n"
	               "      RESET: 10\n"
	               "  CAPTURE_FREQUENCY_60HZ:\n"
	               "    Brightness:\n"
	               "      RESET: 40\n"
	               "  CAPTURE_FREQUENCY_50HZ:\n"
	               "    Brightness:\n"
	               "      RESET: 90\n";
	return camera_yaml(extra);
}

class CaptureProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure(camera_config());
		install_plugin();
		const char *const optics_argv[] = {OPTICS_SIM, "--type", "0=Backfocus", nullptr};
		optics.start(optics_argv);
	}

	// The channels whose lens type was read from the optics service.
	std::string optics_reads()
	{
		return bus_call_strings("com.tovi.Optics2", "/sim/Optics", "sim.Optics.Control", "GetReads");
	}

	// The n-th report of stream 0's parameters after a position.
	std::string report_after(size_t from)
	{
		const std::string &out = d->output();
		size_t at = out.find("moxel: stream 0 ", from);
		if (at == std::string::npos)
			return "";
		return out.substr(at, out.find('\n', at) + 1 - at);
	}

	StandInProcess optics;
};

TEST_F(CaptureProcess, TheCaptureModeStartsTheFramesAndChangesApplyItAgain)
{
	start({}, {{"MOXEL_START_TICK", "0"},
	           {"MOXEL_REPORT", "1"},
	           {"MOXEL_FREQUENCY_AFTER", "5"},
	           {"MOXEL_CAPTURE_MODE_AFTER", "15"}});
	ASSERT_TRUE(d->wait_for("moxel: record 25\n")) << d->output();
	EXPECT_EQ(0, d->stop());
	const std::string &out = d->output();

	// The plug-in did not start the tick: applying the capture mode did.
	EXPECT_NE(std::string::npos, out.find("moxel: loaded\n")) << out;
	EXPECT_EQ(std::string::npos, out.find("frame tick")) << out;
	EXPECT_EQ(std::string::npos, out.find("Prodconf: found no capture modes")) << out;
	EXPECT_EQ(std::string::npos, out.find("could not get configuration for DBus API")) << out;

	// At start: 50 Hz from the product's default, its first mode, and the
	// HWID block's default; nothing was reset yet. The lens type the
	// optics service gave for channel 0 is the product's custom function's.
	EXPECT_EQ("moxel: stream 0 CaptureMode 1 CaptureFrequency 1 Brightness 50 Contrast 60 "
	          "CamBlockType 3\n",
	          report_after(0));
	EXPECT_EQ(std::string::npos, out.find("Could not read optics type from vendrel")) << out;

	// 60 Hz: the mode is applied again and the channel restarts with the
	// values the product resets for this hardware and frequency.
	size_t frequency = at("moxel: CaptureFrequency 60Hz\n");
	EXPECT_LT(frequency, out.find("moxel: destroy 0\n", frequency));
	EXPECT_EQ("moxel: stream 0 CaptureMode 1 CaptureFrequency 0 Brightness 40 Contrast 70 "
	          "CamBlockType 3\n",
	          report_after(frequency));
	size_t after_frequency = out.find("moxel: record ", out.find("moxel: create 0\n", frequency));
	EXPECT_NE(std::string::npos, after_frequency) << out;

	// A new mode: applied, the channel restarts, frames keep coming.
	size_t mode = at("moxel: CaptureMode 2\n");
	EXPECT_LT(mode, out.find("moxel: destroy 0\n", mode));
	EXPECT_EQ("moxel: stream 0 CaptureMode 2 CaptureFrequency 0 Brightness 40 Contrast 70 "
	          "CamBlockType 3\n",
	          report_after(mode));
	EXPECT_NE(std::string::npos, out.find("moxel: record ", out.find("moxel: create 0\n", mode))) << out;

	// Every frame read by the SoC reached the plug-in as one record.
	unsigned records = 0;
	unsigned long long reads = 0;
	size_t end = at("moxel: shutdown, ");
	ASSERT_EQ(2, sscanf(out.c_str() + end, "moxel: shutdown, %u records for %llu frame reads", &records,
	                    &reads));
	EXPECT_GE(records, 25u);
	EXPECT_EQ(records, reads);

	// The service was asked for channel 0's lens and nothing else.
	const std::string reads_of_optics = optics_reads();
	EXPECT_FALSE(reads_of_optics.empty());
	EXPECT_EQ(std::string::npos, reads_of_optics.find_first_not_of("0,")) << reads_of_optics;
}

} // namespace

// Lens blocks in the daemon as a process, against lenses that libsimsoc
// builds from SIMSOC_* variables: what the daemon asked of the bus and the
// lens-info file it left.
#include "daemon_process.h"
#include "product_yaml.h"

namespace
{

const std::string ekt_yaml = std::string(product_yaml) + R"(HARDWARE_SETUP: [camblock_ekt]
camblock_ekt:
  ekt_i2c_dev: /dev/i2c-3
  ekt_i2c_addr: 80
  ekt_max_power: 1000
  override_speed_settings: true
  lens_type: 7
  focus_speed: 9
)";

const char detection_yaml[] = R"(PRODUCT_CONSTANTS:
  product_constants:
    channels: [0]
    image_sources: 1
    camblock_i2c_device: /dev/i2c-1
    camblock_i2c_address: 67
  area_config:
    xstart: 0
    ystart: 0
    xstop: 1919
    ystop: 1079
CAMERA_MODE: [OPTICS_DETECTION]
camblock_tamron_df024nl:
  unused: 0
)";

const std::string thermal_yaml = std::string(product_yaml) + R"(HARDWARE_SETUP: [camblock_tamron_lvz3x3516]
camblock_tamron_lvz3x3516:
  serial_port: /dev/ttyPCC0
)";

class LensProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure();
		install_plugin();
		write_file(root + "/run/vistrad/.keep", "");
		simsoc_log = root + "/simsoc.log";
	}
	// The lines of the libsimsoc log that start with the prefix.
	std::string log_lines(const std::string &prefix)
	{
		std::string all = read_file(simsoc_log), out;
		size_t at = 0;
		while (at < all.size()) {
			size_t end = all.find('\n', at);
			if (end == std::string::npos)
				end = all.size();
			std::string line = all.substr(at, end - at);
			if (line.compare(0, prefix.size(), prefix) == 0)
				out += line + "\n";
			at = end + 1;
		}
		return out;
	}
	// The frames the thermal lens received, once there are at least n.
	std::vector<std::string> thermal_frames(size_t n, int timeout_ms = 10000)
	{
		int64_t end = now_ms() + timeout_ms;
		std::vector<std::string> frames;
		for (;;) {
			frames.clear();
			std::string lines = log_lines("thermal_lens: rx ");
			size_t at = 0;
			while (at < lines.size()) {
				size_t stop = lines.find('\n', at);
				frames.push_back(lines.substr(at + strlen("thermal_lens: rx "),
				                              stop - at - strlen("thermal_lens: rx ")));
				at = stop + 1;
			}
			if (frames.size() >= n || now_ms() >= end)
				return frames;
			usleep(20000);
		}
	}
	// The code byte of a logged frame ("0F 01 00 00 04 00 83 ...").
	static std::string code_of(const std::string &frame)
	{
		return frame.size() >= 20 ? frame.substr(18, 2) : "";
	}
	std::string simsoc_log;
};

TEST_F(LensProcess, TheIntelligentLensDescribesItselfToTheDaemon)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", ekt_yaml);
	start({},
	      {{"SIMSOC_LOG", simsoc_log},
	       {"SIMSOC_EKT_LENS", "3,0x50"},
	       {"SIMSOC_EKT_REGS", "0x40A=500,0x004=1,0x006=4,0x00A=7,0x00C=2,0x416=900,0x61C=1000,0x424=9"},
	       {"SIMSOC_EKT_MODEL", "AB"},
	       {"SIMSOC_EKT_RECORDS", "4:0:4:0.008;6:0:1.4:0.5;1:0:100:0.2;7:0:27315:1"}});
	ASSERT_TRUE(d->wait_for("e-KT lens model = AB\n")) << d->output();
	ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();
	EXPECT_EQ(0, d->stop());
	EXPECT_EQ("LensType=e-KT\nModel=AB\nFirmwareVersion=1.4\nLensRevision=2\n",
	          read_file(root + "/run/vistrad/lens_info.txt"));
	EXPECT_NE(std::string::npos, d->output().find("e-KT lens type = 0x7(7) revision 0x2(2)\n"))
	    << d->output();
	EXPECT_EQ(std::string::npos, d->output().find("e-KT lens setup failed")) << d->output();
	std::string bus = log_lines("i2c-3: 0x50 ");
	// The status first, then the power need; the only write is the
	// configured focus speed, big-endian.
	EXPECT_EQ(0u, bus.find("i2c-3: 0x50 w 00 0e\ni2c-3: 0x50 r 2\ni2c-3: 0x50 w 04 0a\n")) << bus;
	EXPECT_EQ(log_lines("i2c-3: 0x50 w 06 40"), "i2c-3: 0x50 w 06 40 00 09\n") << bus;
	EXPECT_NE(std::string::npos, bus.find("i2c-3: 0x50 w 10 01\ni2c-3: 0x50 r 50\n")) << bus;
}

TEST_F(LensProcess, ALensThatIsNotReadyLeavesNoLensInfo)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", ekt_yaml);
	start({},
	      {{"SIMSOC_LOG", simsoc_log}, {"SIMSOC_EKT_LENS", "3,0x50"}, {"SIMSOC_EKT_REGS", "0x00E=3"}});
	ASSERT_TRUE(d->wait_for("e-KT lens setup failed\n")) << d->output();
	ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();
	EXPECT_EQ(0, d->stop());
	EXPECT_EQ("", read_file(root + "/run/vistrad/lens_info.txt"));
	EXPECT_EQ("i2c-3: 0x50 w 00 0e\ni2c-3: 0x50 r 2\n", log_lines("i2c-3: 0x50 ")) << d->output();
}

TEST_F(LensProcess, DetectionSelectsTheDf024nlWhichChecksItsLens)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", detection_yaml);
	start({}, {{"SIMSOC_LOG", simsoc_log},
	           {"SIMSOC_LENS_MCU", "1"},
	           {"SIMSOC_LENS_MCU_REGS", "0x00C=6,0x002=5"}});
	ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();
	EXPECT_EQ(0, d->stop());
	std::string bus = log_lines("i2c-1: 0x43 ");
	// Detection reads the lens id once; the module reads it again for its
	// check and writes the two motor settings, little-endian.
	EXPECT_EQ(0u,
	          bus.find("i2c-1: 0x43 w 80 0c\ni2c-1: 0x43 r 2\ni2c-1: 0x43 w 80 0c\ni2c-1: 0x43 r 2\n"))
	    << bus;
	EXPECT_NE(std::string::npos, bus.find("i2c-1: 0x43 w 01 05 43 00\n")) << bus;
	EXPECT_NE(std::string::npos, bus.find("i2c-1: 0x43 w 02 05 43 00\n")) << bus;
	for (const char *failed :
	     {"Failed to create camblock", "wrong optics attached", "Failed to set up camblock"})
		EXPECT_EQ(std::string::npos, d->output().find(failed)) << d->output();
	// Lenses with a controller leave no lens-info file.
	EXPECT_EQ("", read_file(root + "/run/vistrad/lens_info.txt"));
}

TEST_F(LensProcess, AnUnknownLensIdSelectsNoBlock)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", detection_yaml);
	start(
	    {},
	    {{"SIMSOC_LOG", simsoc_log}, {"SIMSOC_LENS_MCU", "1,0x43"}, {"SIMSOC_LENS_MCU_REGS", "0x00C=4"}});
	ASSERT_TRUE(d->wait_for("Failed to create camblock :(\n")) << d->output();
	ASSERT_TRUE(d->wait_for("moxel: loaded")) << d->output();
	EXPECT_EQ(0, d->stop());
	EXPECT_EQ("i2c-1: 0x43 w 80 0c\ni2c-1: 0x43 r 2\n", log_lines("i2c-1: 0x43 "));
}

TEST_F(LensProcess, TheThermalLensStartsUpOverItsLineAndAnOldFirmwareIsNamed)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", thermal_yaml);
	start({}, {{"SIMSOC_LOG", simsoc_log}, {"SIMSOC_THERMAL_VERSION", "1,3"}});
	ASSERT_TRUE(d->wait_for("Thermal lens firmware version 1.03, expected at least 1.04\n"))
	    << d->output();
	std::vector<std::string> frames = thermal_frames(4);
	EXPECT_EQ(0, d->stop());
	ASSERT_GE(frames.size(), 4u);
	EXPECT_EQ("83", code_of(frames[0])) << frames[0];
	EXPECT_EQ("01", code_of(frames[1])) << frames[1];
	EXPECT_EQ("82", code_of(frames[2])) << frames[2];
	EXPECT_EQ("80", code_of(frames[3])) << frames[3];
}

TEST_F(LensProcess, AGarbledThermalAnswerResendsTheSameFrame)
{
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", thermal_yaml);
	start({}, {{"SIMSOC_LOG", simsoc_log}, {"SIMSOC_THERMAL_FAULT", "4,1"}});
	std::vector<std::string> frames = thermal_frames(3);
	EXPECT_EQ(0, d->stop());
	ASSERT_GE(frames.size(), 3u);
	EXPECT_EQ("83", code_of(frames[0]));
	EXPECT_EQ(frames[0], frames[1]);
	EXPECT_EQ("01", code_of(frames[2])) << frames[2];
}

} // namespace

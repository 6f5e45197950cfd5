// User settings across the daemon's life: saved after the round that changed
// them, read at start and on SIGHUP, and a damaged file set aside.
#include "daemon_process.h"

namespace
{

class SettingsProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure();
		install_plugin();
		settings = root + "/etc/vistrad/vistrad.conf";
	}

	// The daemon writes the file after a round: waits until it holds the text.
	bool file_holds(const std::string &text, int timeout_ms = 10000)
	{
		int64_t end = now_ms() + timeout_ms;
		while (read_file(settings).find(text) == std::string::npos) {
			if (now_ms() >= end)
				return false;
			usleep(10000);
		}
		return true;
	}

	std::string settings;
};

TEST_F(SettingsProcess, ASavedValueSurvivesARestartAndHangupAppliesAnEdit)
{
	start({}, {{"MOXEL_BRIGHTNESS", "77"}});
	ASSERT_TRUE(d->wait_for("moxel: Brightness 77\n")) << d->output();
	ASSERT_TRUE(file_holds("#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=77\n"))
	    << read_file(settings);
	EXPECT_EQ(0, d->stop());

	d = std::make_unique<Daemon>();
	start();
	ASSERT_TRUE(d->wait_for("moxel: Brightness 77\n")) << d->output();

	std::string edited = settings + ".edit";
	write_file(edited, "[STREAM_ALL]\nBrightness=33\n");
	ASSERT_EQ(0, rename(edited.c_str(), settings.c_str()));
	d->signal(SIGHUP);
	EXPECT_TRUE(d->wait_for("moxel: Brightness 33\n")) << d->output();
	EXPECT_TRUE(file_holds("#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=33\n"))
	    << read_file(settings);
	EXPECT_EQ(0, d->stop());
}

TEST_F(SettingsProcess, ADamagedFileIsSetAsideWithItsGoodLinesApplied)
{
	const std::string damaged = "[STREAM_ALL]\nBrightness=61\n[StreamID0]\nBrigh";
	write_file(settings, damaged);
	start();
	ASSERT_TRUE(d->wait_for("moxel: Brightness 61\n")) << d->output();
	EXPECT_EQ(damaged, read_file(settings + ".bad"));
	EXPECT_TRUE(file_holds("[STREAM_ALL]\n#ImageSource.I0.Sensor.Brightness, id = 3\nBrightness=61\n"))
	    << read_file(settings);
	EXPECT_EQ(0, d->stop());
	EXPECT_NE(std::string::npos, d->output().find("config: " + settings + " is damaged ("))
	    << d->output();
}

} // namespace

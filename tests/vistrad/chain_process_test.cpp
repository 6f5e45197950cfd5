// The demo camera's configuration (scripts/demo-data) as a process on the simulated SoC: the
// configured capture mode brings the camera library and the video input up,
// the simulated kernel prepares and starts the 3A, and from then on every
// frame tick the platform reads gives one statistics record; SIGTERM takes
// it all down in order. The test plug-in steps VIN 0's frame clock, one tick
// per record, and reports what the records hold.
#include "daemon_process.h"

#include <stdio.h>

namespace
{

// What the simulated DSP's histograms count in a frame of the mode: the
// pixels of its exposure grid (12 x 8 tiles of even size), once over the
// three colour planes and once in the luma array of the CFA histogram, and
// once in each of the four arrays of the RGB one.
struct Counts {
	unsigned long long cfa, rgb;
};

Counts dsp_counts(uint32_t width, uint32_t height)
{
	unsigned long long pixels = 12ull * ((width / 12) & ~1u) * 8 * ((height / 8) & ~1u);
	return {2 * pixels, 4 * pixels};
}

class ChainProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		for (const char *f : {"/usr/lib/vistrad/vistrad.enc", "/usr/lib/vistrad/vistrad.yaml",
		                      "/var/lib/keelstone/params"})
			write_file(root + f, read_file(std::string(DEMO_ROOT) + f));
		install_plugin();
	}
	std::string sim_log()
	{
		return read_file(root + "/simsoc.log");
	}
	// Position of a text in the simulated SoC's log after from; npos fails.
	size_t in_log(const std::string &text, size_t from = 0)
	{
		size_t p = sim_log().find(text, from);
		EXPECT_NE(std::string::npos, p) << "missing \"" << text << "\" in:\n" << sim_log();
		return p;
	}
};

TEST_F(ChainProcess, CaptureModeRunsTheChainFromModeToRecordsAndSigtermEndsIt)
{
	d->start(VISTRAD_BIN, {},
	         {{"VISTRAD_ROOT", root},
	          {"SIMSOC_VIN_FRAMERATE", "0"},
	          {"SIMSOC_LOG", root + "/simsoc.log"},
	          {"MOXEL_STEP_TICKS", "1"},
	          {"MOXEL_LIBCL", "0"},
	          {"MOXEL_VIN", "1"},
	          {"MOXEL_HISTOGRAMS", "1"}});
	ASSERT_TRUE(d->wait_for("moxel: histograms 30 ", 15000)) << d->output() << sim_log();
	EXPECT_EQ(0, d->stop());
	const std::string &out = d->output();

	// The 50 Hz mode of the configured AR0521 reached the video input with
	// the board's tuning: the camera library found its tuning and started.
	EXPECT_NE(std::string::npos, out.find("moxel: vin 2592x1944 framerate 30.0 ")) << out;
	EXPECT_EQ(std::string::npos, out.find("failed to lookup tuning")) << out;
	EXPECT_EQ(std::string::npos, out.find("not supported")) << out;

	// The input started, then the kernel had the library prepare and start
	// the 3A. (The library's netlink thread may have caught up with the
	// running DSP by itself first: then it refuses the kernel's two
	// commands, status 1, and its 3A runs all the same.)
	size_t start = in_log("video: start 0\n");
	size_t prepared = in_log("netlink: <- cmd 0x18020002 status ", start);
	in_log("netlink: <- cmd 0x18020000 status ", prepared);

	// One record for every tick read, each with the DSP's pixel counts.
	unsigned records = 0;
	unsigned long long reads = 0;
	size_t p = at("moxel: shutdown, ");
	ASSERT_EQ(
	    2, sscanf(out.c_str() + p, "moxel: shutdown, %u records for %llu frame reads", &records, &reads));
	EXPECT_GE(records, 30u);
	EXPECT_EQ(reads, records);
	Counts want = dsp_counts(2592, 1944);
	unsigned seen = 0;
	for (size_t q = out.find("moxel: histograms "); q != std::string::npos;
	     q = out.find("moxel: histograms ", q + 1)) {
		unsigned record = 0;
		unsigned long long cfa = 0, rgb = 0;
		ASSERT_EQ(3, sscanf(out.c_str() + q, "moxel: histograms %u cfa %llu rgb %llu", &record, &cfa,
		                    &rgb));
		EXPECT_EQ(++seen, record);
		EXPECT_EQ(want.cfa, cfa) << "record " << record;
		EXPECT_EQ(want.rgb, rgb) << "record " << record;
	}
	EXPECT_EQ(records, seen);

	// SIGTERM: the input stops, the kernel stops the 3A and the library
	// answers once its frame thread has ended; only then does the library
	// go down, its netlink client disconnecting, and the daemon ends.
	size_t stop = in_log("video: stop 0\n", start);
	size_t stopped = in_log("netlink: <- cmd 0x18020001 status 0 origin 1 response 1\n", stop);
	in_log("netlink: <- cmd 0x1 status 0 origin 0 response 0\n", stopped);
	EXPECT_EQ(std::string::npos, sim_log().find("video: start", stop)) << sim_log();
	at("Ending vistrad\n");
}

} // namespace

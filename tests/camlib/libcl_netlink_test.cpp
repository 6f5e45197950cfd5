// The netlink client against the simulated kernel's peer: the bytes on the
// wire, the kernel's commands, bad messages, a refused connection and a
// kernel end that goes away.
#include "libcl_fixture.h"
#include "qvd_netlink.h"

#include <string.h>
#include <unistd.h>

#include <sstream>
#include <string>

namespace
{

uint32_t word_at(const uint8_t *b, size_t off)
{
	uint32_t v;
	memcpy(&v, b + off, sizeof v);
	return v;
}

class Netlink : public LibclTest
{
};

TEST_F(Netlink, ConnectAndDisconnectMessagesByteForByte)
{
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	EXPECT_EQ(simsoc_netlink_connected(), 1);
	uint8_t msg[1024];
	ASSERT_EQ(simsoc_netlink_last_received(msg, sizeof msg), 528u);
	uint8_t want[528] = {};
	uint32_t len = 528, pid = (uint32_t)getpid();
	memcpy(want, &len, 4);
	memcpy(want + 12, &pid, 4); // header: length, type 0, flags 0, sequence 0, port id
	memcpy(want + 16, &pid, 4); // payload: pid, 0, command 0 (connect)
	want[16 + 13] = 24;
	EXPECT_EQ(0, memcmp(msg, want, sizeof want));

	libcl_deinit();
	ASSERT_EQ(simsoc_netlink_last_received(msg, sizeof msg), 528u);
	want[16 + 8] = 1; // disconnect
	EXPECT_EQ(0, memcmp(msg, want, sizeof want));
	EXPECT_EQ(simsoc_netlink_connected(), 0);
	EXPECT_EQ(simsoc_open_files(), 0);
}

TEST_F(Netlink, RefusedConnectionFailsInitAndLeavesNothingOpen)
{
	simsoc_netlink_set_answer(1, 0);
	EXPECT_EQ(libcl_init(1024, 1, nullptr, nullptr), 0);
	EXPECT_EQ(logged("ERROR: Failed to establish connection with kernel\n", LOG_ERR), 1);
	EXPECT_EQ(logged("ERROR: failed to connect over netlink socket\n", LOG_ERR), 1);
	EXPECT_EQ(logged("ERROR: failed to init netlink\n", LOG_ERR), 1);
	EXPECT_EQ(simsoc_open_files(), 0);
	// The next attempt starts clean and succeeds.
	simsoc_netlink_set_answer(0, 0);
	EXPECT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
}

TEST_F(Netlink, KernelCommandsAreAnsweredWithTheirStatus)
{
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	struct {
		uint32_t command;
		int status;
		const char *message;
	} cases[] = {
	    {QVD_NETLINK_DO_DPTZ, 1, "ERROR: Do DPTZ failed\n"},
	    {QVD_NETLINK_DO_WARP, 1, "ERROR: Do warp failed\n"},
	    {0x18020009, 1, "ERROR: Got unknown message command type\n"},
	    {QVD_NETLINK_START_AAA, 1, "ERROR: Start AAA failed\n"}, // not prepared
	    {QVD_NETLINK_STOP_AAA, 1, "ERROR: Stop AAA failed\n"},   // not started
	    {QVD_NETLINK_PREPARE_AAA, 0, nullptr},
	    {QVD_NETLINK_START_AAA, 0, nullptr},
	    {QVD_NETLINK_STOP_AAA, 0, nullptr},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.command);
		clear_messages();
		EXPECT_EQ(simsoc_netlink_command(c.command, 2000), c.status);
		if (c.message) {
			EXPECT_EQ(logged(c.message, LOG_ERR), 1);
		}
		uint8_t msg[1024];
		ASSERT_EQ(simsoc_netlink_last_received(msg, sizeof msg), 528u);
		EXPECT_EQ(word_at(msg, 16), (uint32_t)getpid());
		EXPECT_EQ(word_at(msg, 24), c.command);
		EXPECT_EQ(msg[28], c.status);
		EXPECT_EQ(msg[29], 24);
		EXPECT_EQ(msg[30], 1); // origin
		EXPECT_EQ(msg[31], 1); // response
	}
}

TEST_F(Netlink, BadMessagesAreRejectedAndTheLoopGoesOn)
{
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	qvd_netlink_message both = {};
	both.command = QVD_NETLINK_PREPARE_AAA;
	both.origin = 1;
	both.response = 1;
	qvd_netlink_message neither = {};
	neither.command = QVD_NETLINK_PREPARE_AAA;
	qvd_netlink_message stray_response = {};
	stray_response.command = QVD_NETLINK_START_AAA;
	stray_response.response = 1;
	ASSERT_EQ(simsoc_netlink_send_raw(&both, sizeof both), 0);
	ASSERT_EQ(simsoc_netlink_send_raw(&neither, sizeof neither), 0);
	ASSERT_EQ(simsoc_netlink_send_raw(&stray_response, sizeof stray_response), 0);
	// Answered in order, so the bad ones were handled by then.
	EXPECT_EQ(simsoc_netlink_command(QVD_NETLINK_DO_WARP, 2000), 1);
	EXPECT_EQ(logged("ERROR: unknown netlink message\n", LOG_ERR), 2);
	EXPECT_EQ(logged("ERROR: Got unknown message command type\n", LOG_ERR), 1);
	EXPECT_EQ(logged("ERROR: failed to process message\n", LOG_ERR), 3);
	// None of them ran a transition.
	EXPECT_EQ(logged("ERROR: Prepare AAA failed\n"), 0);
	EXPECT_EQ(simsoc_netlink_command(QVD_NETLINK_PREPARE_AAA, 2000), 0);
}

TEST_F(Netlink, RunningDspIsCaughtUpBeforeAnyCommand)
{
	ASSERT_EQ(simsoc_video_start(0), 0); // no client yet: nothing sent
	stop_ticker();
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	// The catch-up waits for one frame between prepare and start.
	ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
	EXPECT_EQ(started(), 0u);
	start_ticker();
	EXPECT_EQ(simsoc_netlink_command(QVD_NETLINK_DO_DPTZ, 2000), 1);
	EXPECT_EQ(started(), 1u);
	EXPECT_EQ(logged("WARNING: cl_customerloop_start_aaa: Error: In wrong state 0\n\n"), 0);
}

// The lines of the video events and the netlink commands.
std::string video_and_netlink(const std::string &log)
{
	std::string kept, line;
	std::istringstream in(log);
	while (std::getline(in, line))
		if (line.rfind("video:", 0) == 0 || line.rfind("netlink:", 0) == 0)
			kept += line + "\n";
	return kept;
}

TEST_F(Netlink, VideoStartAndStopDriveThe3A)
{
	init_library();
	EXPECT_EQ(started(), 0u);
	for (int round = 0; round < 2; round++) {
		SCOPED_TRACE(round);
		simsoc_log_clear();
		ASSERT_EQ(simsoc_video_start(0), 0);
		EXPECT_EQ(started(), 1u);
		ASSERT_EQ(simsoc_video_stop(0), 0);
		EXPECT_EQ(started(), 0u);
		// The commands and video events; the prepare's driver requests depend
		// on what earlier prepares of the process left in the image kernel.
		EXPECT_EQ(video_and_netlink(sim_log()),
		          "video: start 0\n"
		          "netlink: -> cmd 0x18020002 status 0 origin 1 response 0\n"
		          "netlink: <- cmd 0x18020002 status 0 origin 1 response 1\n"
		          "netlink: -> cmd 0x18020000 status 0 origin 1 response 0\n"
		          "netlink: <- cmd 0x18020000 status 0 origin 1 response 1\n"
		          "video: stop 0\n"
		          "netlink: -> cmd 0x18020001 status 0 origin 1 response 0\n"
		          "netlink: <- cmd 0x18020001 status 0 origin 1 response 1\n");
	}
}

// The kernel has the library prepare once the video runs: the image
// kernel's configurations must reach the driver then, the first time as a
// new set-up and again after a stop and start of the video (which keeps the
// layout the first prepare left in the buffer).
TEST_F(Netlink, APrepareOnRunningVideoPostsTheImageKernelsConfigurations)
{
	init_library();
	for (int round = 0; round < 2; round++) {
		SCOPED_TRACE(round);
		simsoc_qvd_posts_clear();
		testing::internal::CaptureStdout();
		ASSERT_EQ(simsoc_video_start(0), 0);
		EXPECT_EQ(started(), 1u);
		ASSERT_EQ(simsoc_video_stop(0), 0);
		std::string out = testing::internal::GetCapturedStdout();
		EXPECT_EQ(std::string::npos, out.find("post fail")) << out;
		EXPECT_EQ(std::string::npos, out.find("DSP_IMG_CORE_CFG_STATE")) << out;
		EXPECT_GT(simsoc_qvd_posts(), 0u) << sim_log();
	}
}

TEST_F(Netlink, DeinitWhileStartedStopsThe3A)
{
	start_library();
	libcl_deinit();
	EXPECT_EQ(logged("ERROR: failed to stop aaa\n"), 0);
	EXPECT_EQ(logged("WARNING: failed to join netlink thread\n"), 0);
	// A later bring-up finds the video running and catches up again.
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	EXPECT_TRUE(eventually([] { return started() == 1; }));
}

TEST_F(Netlink, KernelEndGoneEndsTheLoopWithoutSpinning)
{
	start_library();
	simsoc_netlink_hangup();
	// The loop ends and stops the 3A itself.
	EXPECT_TRUE(eventually([] { return started() == 0; }));
	EXPECT_EQ(logged("ERROR: failed to recieve message\n"), 0);
	libcl_deinit();
	EXPECT_EQ(simsoc_open_files(), 0);
}

TEST_F(Netlink, DisconnectRefusalIsLoggedAndTheLoopStillEnds)
{
	simsoc_netlink_set_answer(0, 1);
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	libcl_deinit();
	EXPECT_EQ(logged("ERROR: Failed to remove connection with kernel\n", LOG_ERR), 1);
	EXPECT_EQ(simsoc_netlink_connected(), 0);
}

} // namespace

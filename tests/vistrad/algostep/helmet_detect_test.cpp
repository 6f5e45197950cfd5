// Helmet detection against the video driver model's helmet words and the
// libtvx stand-in's current video input.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "algostep/helmet_detect.h"
#include "platform/frame_source.h"
#include "platform/videoinput.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "step_fixture.h"
#include "tvx_sim.h"

namespace
{

int restarts = 0;
bool open_gives_zero = false;

} // namespace

extern "C" int __real_open(const char *path, int flags, ...);
extern "C" int __wrap_open(const char *path, int flags, ...)
{
	va_list ap;
	va_start(ap, flags);
	mode_t mode = (flags & O_CREAT) ? va_arg(ap, mode_t) : 0;
	va_end(ap);
	if (!open_gives_zero || strcmp(path, "/dev/qvd") != 0)
		return __real_open(path, flags, mode);
	close(0);
	return open("/dev/null", O_RDWR);
}

extern "C" void __wrap_daemon_request_stream_restart()
{
	restarts++;
}

namespace
{

class Helmet : public StepFixture
{
      protected:
	void SetUp() override
	{
		StepFixture::SetUp();
		tvx_sim_reset();
		simsoc_qvd_reset();
		restarts = 0;
		plat->libcl_initialised = 1;
	}
	void TearDown() override
	{
		StepFixture::TearDown();
		simsoc_clear_failures();
	}
	// The step on stream 0 with its plug-event input, as the module table
	// makes it, with the helmet current or not.
	void start(uint32_t current_vin, int32_t poll_time = 5)
	{
		ASSERT_TRUE(videoinput_set_current_vin(0, current_vin, "test"));
		settings.detect_poll_time = poll_time;
		auto *data = g_new0(helmet_state, 1);
		data->settings = &settings;
		step = algo_step_create_stream_id(0, helmet_detect_init, helmet_detect_run,
		                                  helmet_detect_destroy, data);
		algo_step_add_input_stream_id(step, PLATFORM_DATA_PLUG_EVENT, 0);
		helmet_detect_specifics(nullptr, engine, 0, step, &settings);
		add_step(step);
		state = data;
		ASSERT_EQ(0, helmet_detect_init(step, engine));
		log.clear();
	}
	void poll()
	{
		StepClock::advance_ms(settings.detect_poll_time * 1000);
		fire_timeouts();
	}
	void plug_event()
	{
		control_job job = {};
		job.type = PLATFORM_DATA_PLUG_EVENT;
		job.stream_id = -1;
		control_dispatch(engine, &job);
	}
	uint64_t gets()
	{
		return simsoc_qvd_request_count(QVD_IOC_VIN_GET_HELMET_STATE);
	}
	helmet_settings settings = {};
	algo_step *step = nullptr;
	helmet_state *state = nullptr;
};

struct PlugCase {
	uint32_t plug_state;
	bool present;
};

TEST_F(Helmet, PlugStatesSwitchToTheHelmetOnlyWhenPresent)
{
	const PlugCase cases[] = {{0x10, true}, {0x30, false}, {0x00, false}, {0x20, false}, {0x11, true}};
	for (const PlugCase &c : cases) {
		SCOPED_TRACE(c.plug_state);
		control_stop(engine);
		control_free(engine);
		engine = control_new(plat);
		restarts = 0;
		start(HELMET_MAIN_VIN);
		simsoc_qvd_set_helmet(c.plug_state, 0);
		poll();
		EXPECT_EQ(c.present ? 0u : 1u, videoinput_input_get_current_vin());
		EXPECT_EQ(c.present ? 1 : 0, restarts);
		EXPECT_EQ(c.present ? "helmet_detect_run: Change to vin 0 (reason 0) \n" : "",
		          log.text(DEBUG_INFO));
		if (c.present) {
			EXPECT_EQ("'EXTENSION_PLUGGED'", tvx_setting("new_vin_reason"));
		}
		// Without a switch the poll goes on at its interval.
		uint64_t before = gets();
		poll();
		EXPECT_EQ(c.present ? before : before + 1, gets());
	}
}

TEST_F(Helmet, UnplugReturnsToTheMainSensor)
{
	start(HELMET_VIN);
	simsoc_qvd_set_helmet(0x30, 0);
	poll();
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
	EXPECT_EQ("'EXTENSION_UNPLUGGED'", tvx_setting("new_vin_reason"));
	EXPECT_EQ(0, state->plugged);
	EXPECT_EQ(1, restarts);
}

TEST_F(Helmet, FourthBadAccessStateMarksBrokenAndSwitches)
{
	start(HELMET_VIN);
	simsoc_qvd_set_helmet(0x10, 0x5);
	for (int i = 0; i < 3; i++)
		poll();
	EXPECT_EQ("helmet state error: 0x5\nhelmet state error: 0x5\nhelmet state error: 0x5\n",
	          log.text(DEBUG_ERROR));
	EXPECT_EQ(0u, videoinput_input_get_current_vin());
	EXPECT_EQ(0u, simsoc_qvd_request_count(QVD_IOC_VIN_SET_HELMET_STATE));

	log.clear();
	poll();
	EXPECT_EQ("helmet_detect_run: Helmet is in bad state -changing to main \n"
	          "helmet_detect_run: Change to vin 1 (reason 0) \n",
	          log.text(DEBUG_INFO));
	ASSERT_EQ(1u, simsoc_qvd_request_count(QVD_IOC_VIN_SET_HELMET_STATE));
	qvd_vin_helmet sent = {};
	ASSERT_EQ(sizeof sent, simsoc_qvd_last_payload(QVD_IOC_VIN_SET_HELMET_STATE, &sent, sizeof sent));
	EXPECT_EQ(32u, sent.value);
	EXPECT_EQ(0, memcmp(sent.zero, "\0\0\0\0\0\0\0\0", 8));
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
	EXPECT_EQ("'EXTENSION_ERROR'", tvx_setting("new_vin_reason"));
	EXPECT_EQ(1, restarts);
	EXPECT_EQ(1, state->plugged);
	EXPECT_EQ(4, state->error_count);

	// A switch restarts the streams, not the poll.
	uint64_t before = gets();
	poll();
	EXPECT_EQ(before, gets());
}

TEST_F(Helmet, HealthyPollResetsTheErrorCount)
{
	start(HELMET_VIN);
	simsoc_qvd_set_helmet(0x10, 0x7);
	poll();
	poll();
	poll();
	simsoc_qvd_set_helmet(0x10, 0);
	poll();
	EXPECT_EQ(0, state->error_count);
	simsoc_qvd_set_helmet(0x10, 0x7);
	poll();
	poll();
	poll();
	EXPECT_EQ(0u, simsoc_qvd_request_count(QVD_IOC_VIN_SET_HELMET_STATE));
	EXPECT_EQ(0, restarts);
	EXPECT_EQ(3, state->error_count);

	// A failed access read counts as healthy.
	log.clear();
	simsoc_qvd_fail_helmet_access(EIO);
	poll();
	simsoc_qvd_fail_helmet_access(0);
	EXPECT_EQ(std::string("get_helmet_state: failed to read access state ") + strerror(EIO) + "\n",
	          log.text(DEBUG_ERROR));
	EXPECT_EQ(0, state->error_count);
}

TEST_F(Helmet, PlugEventWhileCurrentChecksNoAccessState)
{
	start(HELMET_VIN);
	simsoc_qvd_set_helmet(0x10, 0x9);
	StepClock::advance_ms(3000);
	uint64_t before = gets();
	plug_event();
	EXPECT_EQ(before + 1, gets()); // the plug state only
	EXPECT_EQ("", log.text(DEBUG_ERROR));
	EXPECT_EQ(0, restarts);
	// The poll interval starts again from the event.
	StepClock::advance_ms(4999);
	fire_timeouts();
	EXPECT_EQ(before + 1, gets());
	StepClock::advance_ms(1);
	fire_timeouts();
	EXPECT_EQ(before + 3, gets());
}

TEST_F(Helmet, PlugEventSwitchesWithItsReason)
{
	start(HELMET_MAIN_VIN);
	simsoc_qvd_set_helmet(0x10, 0);
	plug_event();
	EXPECT_EQ("helmet_detect_run: Change to vin 0 (reason 1) \n", log.text(DEBUG_INFO));
	EXPECT_EQ(0u, videoinput_input_get_current_vin());
}

TEST_F(Helmet, FailedPlugReadCountsAsNotPresent)
{
	start(HELMET_VIN);
	simsoc_qvd_set_helmet(0x10, 0);
	simsoc_qvd_fail(QVD_IOC_VIN_GET_HELMET_STATE, EIO, 1);
	poll();
	EXPECT_EQ(std::string("helmet_detect_run: failed to read plug state ") + strerror(EIO) + "/\n",
	          log.text(DEBUG_ERROR));
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
}

TEST_F(Helmet, FailedSwitchFallsBackToTheMainSensor)
{
	start(HELMET_MAIN_VIN);
	simsoc_qvd_set_helmet(0x10, 0);
	tvx_sim_fail("input_set_settings", 1, TRUE);
	free(tvx_sim_take_log());
	poll();
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
	EXPECT_EQ("'EXTENSION_UNPLUGGED'", tvx_setting("new_vin_reason"));
	char *calls = tvx_sim_take_log();
	EXPECT_NE(nullptr, strstr(calls, "input_start"));
	g_free(calls);
	EXPECT_EQ(1, restarts);
}

// Descriptor 0 is a good descriptor: init takes it and destroy closes it.
// The driver's open is made to answer 0 (--wrap=open).
TEST_F(Helmet, DescriptorZeroIsAccepted)
{
	start(HELMET_MAIN_VIN);
	close(state->fd);
	int saved = dup(0);
	open_gives_zero = true;
	ASSERT_EQ(0, helmet_detect_init(step, engine));
	open_gives_zero = false;
	EXPECT_EQ(0, state->fd);
	EXPECT_EQ(0, helmet_detect_destroy(step, engine));
	EXPECT_EQ(-1, state->fd);
	EXPECT_EQ(-1, fcntl(0, F_GETFD));
	dup2(saved, 0);
	close(saved);
}

TEST_F(Helmet, InitFailsWhenTheDriverCannotBeOpened)
{
	settings.detect_poll_time = 5;
	auto *data = g_new0(helmet_state, 1);
	algo_step *s = algo_step_create_stream_id(0, nullptr, nullptr, helmet_detect_destroy, data);
	helmet_detect_specifics(nullptr, engine, 0, s, &settings);
	simsoc_inject_failure("/dev/qvd", SIMSOC_OP_OPEN, ENOENT, 1);
	EXPECT_EQ(-1, helmet_detect_init(s, engine));
	EXPECT_EQ("helmet_detect_init: Failed to open qvd \n", log.text(DEBUG_ERROR));
	EXPECT_EQ(-1, data->fd);
	algo_step_destroy(s, engine);
}

} // namespace

// The SoC layer of the platform on the simulated SoC and the capture
// library's stand-in: the mounting files, the channel configuration, the
// video mode, the video input's start with its frame sources, frame-rate
// changes, the per-channel values and what destruction releases. The camera
// library and the sensor modules' frame-rate update are replaced at link time
// (--wrap) by the recorders below.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "conf_root.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/serial_link.h"
#include "platform/stabilizer.h"
#include "platform/videoinput.h"
#include "simsoc.h"
#include "simsoc_datacache.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"
#include "tvx_sim.h"

namespace
{

std::vector<std::string> texts(char **list)
{
	std::vector<std::string> out;
	for (; list && *list; list++)
		out.push_back(*list);
	return out;
}

struct FakeLibcl {
	int init_result = 1;
	int init_calls = 0;
	int32_t board = -1;
	int32_t vins = -1;
	std::vector<std::string> dpc, vcm;
	int deinit_calls = 0;
	bool video_at_deinit = false;
	uint32_t started = 0;
} fake;

struct Rate {
	sensor *s;
	int32_t stream_id;
	double framerate;
	bool operator==(const Rate &o) const
	{
		return s == o.s && stream_id == o.stream_id && framerate == o.framerate;
	}
};
std::vector<Rate> rates;

} // namespace

extern "C" int __wrap_libcl_init(int32_t board, int32_t vins, char **dpc, char **vcm)
{
	fake.init_calls++;
	fake.board = board;
	fake.vins = vins;
	fake.dpc = texts(dpc);
	fake.vcm = texts(vcm);
	return fake.init_result;
}

extern "C" void __wrap_libcl_deinit(void)
{
	fake.deinit_calls++;
	fake.video_at_deinit = simsoc_video_running(0);
}

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = fake.started;
	return 0;
}

extern "C" void __wrap_sensor_update_framerate(sensor *s, int32_t stream_id, double framerate)
{
	rates.push_back({s, stream_id, framerate});
}

namespace
{

std::string take(char *text)
{
	std::string s = text ? text : "(none)";
	g_free(text);
	return s;
}

std::string setting(const char *key)
{
	return take(tvx_sim_setting(0, key));
}

const tvx_mode mode_2592 = {"2592x1944", 0, 30.0};

class SocPlatform : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fake = FakeLibcl();
		rates.clear();
		tvx_sim_reset();
		simsoc_video_reset();
		simsoc_qvd_reset();
		simsoc_vin_reset();
		simsoc_clear_failures();
		for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++)
			simsoc_vin_set_framerate(v, 0);
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		conf = prodconf_new();
	}
	void TearDown() override
	{
		platform_destroy(p);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
		simsoc_video_reset();
	}
	void write(const std::string &relative, const std::string &text)
	{
		root.write(relative, text);
	}
	void load(const std::string &yaml)
	{
		root.load(conf, yaml);
	}
	platform *make(int channels)
	{
		platform_destroy(p);
		p = platform_vorsalind_create(nullptr, conf, channels);
		log.clear();
		g_free(tvx_sim_take_log());
		return p;
	}
	// Calls of the capture library since the last look.
	std::string calls()
	{
		return take(tvx_sim_take_log());
	}
	sensor *add_sensor(int32_t stream_id)
	{
		sensor *s = sensor_new();
		platform_add_sensor(p, s, stream_id);
		return s;
	}

	ConfRoot root{"soc-platform"};
	prodconf *conf = nullptr;
	platform *p = nullptr;
	LogCapture log;
};

TEST_F(SocPlatform, CreationReadsTheFlipAndTheSensorOffset)
{
	EXPECT_EQ(nullptr, platform_vorsalind_create(nullptr, nullptr, 1));
	struct {
		const char *flip; // null: no file
		int32_t expected;
	} flips[] = {{"yes", 180}, {"yes\n", 180}, {"no", 0}, {"ye", 0}, {"Yes", 0}, {nullptr, 0}};
	for (auto &c : flips) {
		SCOPED_TRACE(c.flip ? c.flip : "no file");
		unlink((root.path + "/lib/persistent/usr/share/prod_flip").c_str());
		if (c.flip)
			write("/lib/persistent/usr/share/prod_flip", c.flip);
		EXPECT_EQ(c.expected, make(1)->flip);
	}
	struct {
		std::string bytes; // empty: no file
		bool valid;
		uint32_t x, y;
	} offsets[] = {
	    {std::string("\x03\0\0\0\x05\0\0\0", 8), true, 2, 4},
	    {std::string("\xff\xff\xff\xff\x01\0\0\x80", 8), true, 0xfffffffe, 0x80000000},
	    {std::string("\x03\0\0\0\x05\0\0\0\x07", 9), true, 2, 4},
	    {std::string("\x03\0\0\0\x05\0\0", 7), false, 0, 0},
	    {std::string("\x03\0\0\0", 4), false, 0, 0},
	    {"", false, 0, 0},
	};
	for (auto &c : offsets) {
		SCOPED_TRACE(c.bytes.size());
		unlink((root.path + "/lib/persistent/usr/share/sensor_analysis/cfe.dat").c_str());
		if (!c.bytes.empty())
			write("/lib/persistent/usr/share/sensor_analysis/cfe.dat", c.bytes);
		make(1);
		EXPECT_EQ(c.valid, p->sensor_offset_valid);
		EXPECT_EQ(c.x, p->sensor_offset_x);
		EXPECT_EQ(c.y, p->sensor_offset_y);
	}
}

TEST_F(SocPlatform, ChannelConfigurationAndCalibrationPaths)
{
	std::string long_dir = "/" + std::string(120, 'd');
	load("PRODUCT_CONSTANTS:\n"
	     "  product_constants:\n"
	     "    channels: [0, 1]\n"
	     "    CHANNEL0:\n"
	     "      calibration_path: /cal\n"
	     "      dpc_file: dpc0.bin\n"
	     "    CHANNEL1:\n"
	     "      calibration_path: " +
	     long_dir +
	     "\n"
	     "      dpc_file: dpc1.bin\n"
	     "platform_vorsalind:\n"
	     "  plug_event_input_src: true\n"
	     "  CHANNEL0:\n"
	     "    enable_raw: true\n"
	     "    vcm_file: lens0.bin\n"
	     "    sensor_rotation_default: 180\n"
	     "  CHANNEL1:\n"
	     "    vcm_file: lens1.bin\n");
	make(2);
	EXPECT_EQ(PLATFORM_OK, platform_vorsalind(p, conf, 0));
	EXPECT_EQ(1, p->raw_capture);
	EXPECT_EQ(180, p->sensor_rotation_default);
	EXPECT_EQ(1, p->plug_event_enabled);
	EXPECT_STREQ("/cal/dpc0.bin", p->dpc_paths[0]);
	EXPECT_STREQ("/cal/lens0.bin", p->vcm_paths[0]);
	// Paths are cut to 99 characters.
	EXPECT_EQ((long_dir + "/dpc1.bin").substr(0, 99), p->dpc_paths[1]);
	EXPECT_EQ((long_dir + "/lens1.bin").substr(0, 99), p->vcm_paths[1]);
	EXPECT_EQ(nullptr, p->dpc_paths[2]);
	// Channel 1 reads its own block (its stream id); a rotation of 0 is not
	// stored.
	EXPECT_EQ(PLATFORM_OK, platform_vorsalind(p, conf, 1));
	EXPECT_EQ(0, p->raw_capture);
	EXPECT_EQ(180, p->sensor_rotation_default);
	EXPECT_EQ("", log.text(DEBUG_ERROR));
}

TEST_F(SocPlatform, ChannelConfigurationWithoutTheItemChangesNothing)
{
	load("PRODUCT_CONSTANTS:\n  product_constants:\n    calibration_path: /cal\n    dpc_file: dpc.bin\n");
	make(1);
	p->raw_capture = 1;
	EXPECT_EQ(PLATFORM_OK, platform_vorsalind(p, conf, 0));
	EXPECT_EQ(1, p->raw_capture);
	EXPECT_EQ(nullptr, p->dpc_paths[0]);
	EXPECT_EQ(PLATFORM_OK, platform_vorsalind(nullptr, conf, 0));
}

TEST_F(SocPlatform, ModeBringsTheLibraryUpAndAppliesTheMode)
{
	make(1);
	p->dpc_paths[0] = g_strdup("/cal/dpc.bin");
	EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	EXPECT_EQ(1, fake.init_calls);
	EXPECT_EQ(1024, fake.board);
	EXPECT_EQ(1, fake.vins);
	EXPECT_EQ(std::vector<std::string>{"/cal/dpc.bin"}, fake.dpc);
	EXPECT_TRUE(fake.vcm.empty());
	EXPECT_EQ(1, p->libcl_initialised);
	simsoc_qvd_board b;
	simsoc_qvd_get_board(&b);
	EXPECT_EQ(2592u, b.vin[0].width);
	EXPECT_EQ("30.0", setting("framerate"));
	EXPECT_EQ("uint32 0", setting("wdr_mode"));
	EXPECT_EQ("uint32 0", setting("sensor_rotation"));
	EXPECT_EQ("false", setting("raw_capture.enabled"));
	EXPECT_EQ("", log.text());

	// The same mode again, the library up: nothing at all.
	calls();
	char name[] = "2592x1944";
	const tvx_mode same = {name, 0, 30.0};
	EXPECT_EQ(0, platform_set_tvx_mode(p, &same, 1024, 0));
	EXPECT_EQ("", calls());
	EXPECT_EQ(1, fake.init_calls);
	// Another frame rate, another WDR mode, or the library down: applied.
	const tvx_mode faster = {"2592x1944", 0, 60.0}, wdr = {"2592x1944", 1, 60.0};
	for (const tvx_mode *m : {&faster, &wdr, &wdr}) {
		if (m == &wdr && fake.init_calls == 3)
			p->libcl_initialised = 0;
		int before = fake.init_calls;
		EXPECT_EQ(0, platform_set_tvx_mode(p, m, 1024, 0));
		EXPECT_EQ(before + 1, fake.init_calls);
	}
	EXPECT_EQ("uint32 1", setting("wdr_mode"));
	EXPECT_EQ(0, fake.deinit_calls);
}

TEST_F(SocPlatform, ChannelZeroAppliesTheModeForBoth)
{
	make(2);
	EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 1));
	EXPECT_EQ(0, fake.init_calls);
	EXPECT_EQ("", calls());
	make(1);
	EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 1));
	EXPECT_EQ(1, fake.init_calls);
}

TEST_F(SocPlatform, ARunningThreeAIsTakenDownAndTheInputDropped)
{
	make(1);
	add_sensor(0);
	ASSERT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	ASSERT_NE(nullptr, p->video_input);
	fake.started = 1;
	const tvx_mode other = {"1920x1080", 0, 25.0};
	EXPECT_EQ(0, platform_set_tvx_mode(p, &other, 1024, 0));
	EXPECT_EQ(1, fake.deinit_calls);
	EXPECT_EQ(2, fake.init_calls);
	EXPECT_EQ(1, p->libcl_initialised);
	EXPECT_EQ(nullptr, p->video_input);
	// The dropped input no longer reaches the sensors.
	rates.clear();
	tvx_sim_emit_new_framerate(0, 12.5);
	EXPECT_TRUE(rates.empty());
}

TEST_F(SocPlatform, InputRotationFromTheDefaultAndTheFlip)
{
	struct {
		int32_t default_rotation, flip;
		const char *expected;
	} cases[] = {{180, 180, "uint32 0"},
	             {180, 0, "uint32 180"},
	             {90, 0, "uint32 0"},
	             {0, 180, "uint32 180"},
	             {90, 180, "uint32 180"}};
	for (auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.default_rotation) + "/" + std::to_string(c.flip));
		make(1);
		p->sensor_rotation_default = c.default_rotation;
		p->flip = c.flip;
		p->raw_capture = 1;
		EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
		EXPECT_EQ(c.expected, setting("sensor_rotation"));
		EXPECT_EQ("true", setting("raw_capture.enabled"));
	}
}

TEST_F(SocPlatform, SourceRotationFromTheStreamsParameters)
{
	make(2);
	// Without SourceRotation nothing is rotated.
	param_set_int(176, 0, 2);
	param_set_int(176, 0x100, 1);
	ASSERT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	EXPECT_EQ("(none)", setting("rotation_input0"));
	// Rotation in quarter turns.
	param_set_int(175, 0, 1);
	p->libcl_initialised = 0;
	ASSERT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	EXPECT_EQ("uint32 180", setting("rotation_input0"));
	EXPECT_EQ("uint32 90", setting("rotation_input1"));
	// Or in degrees when automatic; a channel without its value is skipped.
	param_set_int(165, 0, 1);
	param_set_int(166, 0, 270);
	p->libcl_initialised = 0;
	ASSERT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	EXPECT_EQ("uint32 270", setting("rotation_input0"));
	EXPECT_EQ("uint32 90", setting("rotation_input1"));
}

TEST_F(SocPlatform, AFailedSourceRotationIsLoggedAndTheModeStands)
{
	make(2);
	param_set_int(175, 0, 1);
	param_set_int(176, 0, 1);
	param_set_int(176, 0x100, 3);
	// The input mode's write succeeds; channel 0's rotation fails.
	tvx_sim_fail_after("input_set_settings", 1, 1, TRUE);
	EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	EXPECT_EQ(
	    "videoinput_input_set_source_rotation: Failed to set input settings: input_set_settings failed\n"
	    "platform_set_tvx_mode: Failed to set source rotation for channel 0\n",
	    log.text(DEBUG_ERROR));
	EXPECT_EQ("(none)", setting("rotation_input0"));
	EXPECT_EQ("uint32 270", setting("rotation_input1"));
	EXPECT_EQ(1, p->libcl_initialised);
}

struct ModeFailure {
	const char *name;
	int init_result;
	const char *library_operation; // failing once, or null
	const char *message;
	int deinit_calls;
};

TEST_F(SocPlatform, ModeFailuresLeaveTheLibraryDown)
{
	const ModeFailure cases[] = {
	    {"library", 0, nullptr, "", 0},
	    {"mode", 1, "mode_apply",
	     "videoinput_mode_apply_mode: Failed to apply mode: mode_apply failed\n"
	     "platform_set_tvx_mode: Failed to apply mode\n",
	     1},
	    {"input mode", 1, "input_set_settings",
	     "videoinput_input_set_mode: Failed to set framerate/wdr_mode: input_set_settings failed\n"
	     "platform_set_tvx_mode: Failed to set input mode\n",
	     1},
	};
	for (const ModeFailure &c : cases) {
		SCOPED_TRACE(c.name);
		make(1);
		fake = FakeLibcl();
		fake.init_result = c.init_result;
		if (c.library_operation)
			tvx_sim_fail(c.library_operation, 1, TRUE);
		EXPECT_EQ(-1, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
		EXPECT_EQ(c.message, log.text(DEBUG_ERROR));
		EXPECT_EQ(0, p->libcl_initialised);
		EXPECT_EQ(c.deinit_calls, fake.deinit_calls);
		// Asked again, the mode is applied again.
		fake.init_result = 1;
		EXPECT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
		EXPECT_EQ(1, p->libcl_initialised);
		EXPECT_EQ(2, fake.init_calls);
	}
}

TEST_F(SocPlatform, SyncStartsTheInputAndTheFrameSources)
{
	make(2);
	sensor *s0 = add_sensor(0);
	sensor *s1 = add_sensor(0x100);
	const tvx_mode m = {"2592x1944", 0, 25.0};
	ASSERT_EQ(0, platform_set_tvx_mode(p, &m, 1024, 0));
	EXPECT_EQ(0, platform_sync_config_for_stream(p, 0x100));
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(1, simsoc_video_running(0));
	ASSERT_NE(nullptr, p->video_input);
	input_source *tick = platform_find_input_source(p, "vsync_fd");
	ASSERT_NE(nullptr, tick);
	EXPECT_STREQ("/proc/vorsalind/vin0_idsp", tick->descriptor->path);
	EXPECT_EQ(p->soc_input->vsync_fd, tick->descriptor->fd);
	EXPECT_EQ(nullptr, platform_find_input_source(p, "plug_event_fd"));
	EXPECT_EQ((void *)platform_dispatch_ready_fds, (void *)p->dispatch_ready_fds);
	EXPECT_FALSE(p->prepare(p));
	EXPECT_EQ((std::vector<Rate>{{s0, 0, 25.0}, {s1, 0x100, 25.0}}), rates);
	// The input's frame-rate changes reach every channel's sensor.
	rates.clear();
	tvx_sim_emit_new_framerate(0, 12.5);
	EXPECT_EQ((std::vector<Rate>{{s0, 0, 12.5}, {s1, 0x100, 12.5}}), rates);
	EXPECT_EQ("", log.text());
}

TEST_F(SocPlatform, SyncWhileTheThreeARunsRestartsNothing)
{
	make(1);
	add_sensor(0);
	fake.started = 1;
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ(nullptr, p->video_input);
	EXPECT_EQ(nullptr, p->dispatch_ready_fds);
	EXPECT_EQ("", calls());
	EXPECT_TRUE(rates.empty());
	EXPECT_EQ(0, simsoc_video_running(0));
}

TEST_F(SocPlatform, SyncTakesTheSensorOffsetAndAChannelWithoutSensorIsSkipped)
{
	write("/lib/persistent/usr/share/sensor_analysis/cfe.dat", std::string("\x03\0\0\0\x05\0\0\0", 8));
	make(2);
	sensor *s1 = add_sensor(0x100);
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ("uint32 2", setting("sensor_offset.x"));
	EXPECT_EQ("uint32 4", setting("sensor_offset.y"));
	EXPECT_EQ((std::vector<Rate>{{s1, 0x100, 0.0}}), rates);

	// A device that cannot take an offset.
	make(1);
	tvx_sim_set_info(0, "sensor_offset.possible", g_variant_new_boolean(FALSE));
	EXPECT_EQ(-3, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ("videoinput_set_sensor_offset: Not possible to set sensor offset\n"
	          "platform_sync_config_for_stream: unable to set sensor offset\n",
	          log.text(DEBUG_ERROR));
}

TEST_F(SocPlatform, SyncMakesThePlugEventSourceWhenAsked)
{
	make(1);
	p->plug_event_enabled = 1;
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(p->soc_input->plug_event_fd, platform_get_input_source_fd(p, "plug_event_fd"));
	EXPECT_EQ(2u, g_list_length(p->input_sources));
}

struct SyncFailure {
	const char *name;
	std::function<void(platform *)> arrange;
	const char *message;
	bool library_down;
};

TEST_F(SocPlatform, SyncFailures)
{
	const SyncFailure cases[] = {
	    {"input start", [](platform *) { tvx_sim_fail("input_start", 1, TRUE); },
	     "videoinput_input_start: Failed to start input: input_start failed\n"
	     "platform_sync_config_for_stream: Failed to start input\n",
	     true},
	    {"no vsync path", [](platform *) { videoinput_set_current_vin(0, 2, "test"); },
	     "platform_sync_config_for_stream: Could not get vsync path\n", false},
	    {"current vin unreadable", [](platform *) { tvx_sim_fail("input_get_settings", 1, TRUE); },
	     "videoinput_input_get_current_vin: Failed to get settings: input_get_settings failed\n"
	     "platform_sync_config_for_stream: Could not get vsync path\n",
	     false},
	    {"frame tick",
	     [](platform *) {
		     simsoc_inject_failure("/proc/vorsalind/vin0_idsp", SIMSOC_OP_OPEN, ENODEV, 1);
	     },
	     "platform_open_local_fd open /proc/vorsalind/vin0_idsp failed: No such device\n", true},
	    {"plug event",
	     [](platform *pl) {
		     pl->plug_event_enabled = 1;
		     simsoc_inject_failure("/proc/vorsalind/plug_event", SIMSOC_OP_OPEN, ENODEV, 1);
	     },
	     "platform_open_local_fd open /proc/vorsalind/plug_event failed: No such device\n"
	     "Could not create plug_event_fd\n",
	     true},
	};
	for (const SyncFailure &c : cases) {
		SCOPED_TRACE(c.name);
		make(1);
		tvx_sim_reset();
		simsoc_video_reset();
		fake = FakeLibcl();
		p->libcl_initialised = 1;
		c.arrange(p);
		log.clear();
		EXPECT_EQ(-4, platform_sync_config_for_stream(p, 0));
		EXPECT_EQ(c.message, log.text(DEBUG_ERROR));
		EXPECT_EQ(c.library_down ? 0 : 1, p->libcl_initialised);
		EXPECT_EQ(c.library_down ? 1 : 0, fake.deinit_calls);
		EXPECT_TRUE(rates.empty());
	}
}

TEST_F(SocPlatform, ChannelValuesForTwoChannels)
{
	make(2);
	struct {
		int32_t stream_id;
		int result;
		int slot;
	} cases[] = {{0, 0, 0},     {-1, 0, 0},      {0x0001, 0, 0}, {0x100, 0, 1},
	             {0x1ff, 0, 1}, {0x200, -1, -1}, {0x700, -1, -1}};
	int32_t v = 0;
	for (auto &c : cases) {
		SCOPED_TRACE(c.stream_id);
		p->channel_value[0] = p->channel_value[1] = 0;
		EXPECT_EQ(c.result, platform_set_channel_value(p, 400, c.stream_id));
		EXPECT_EQ(c.slot == 0 ? 400 : 0, p->channel_value[0]);
		EXPECT_EQ(c.slot == 1 ? 400 : 0, p->channel_value[1]);
		v = -5;
		EXPECT_EQ(c.result, platform_get_channel_value(p, &v, c.stream_id));
		EXPECT_EQ(c.result == 0 ? 400 : -5, v);
	}
	EXPECT_EQ(-1, platform_set_channel_value(nullptr, 1, 0));
	EXPECT_EQ(-1, platform_get_channel_value(p, nullptr, 0));
}

int failing_ioctl(platform *, int, unsigned long, void *)
{
	return -1;
}

TEST_F(SocPlatform, EmptyHooksSendTheEmptyRequest)
{
	make(1);
	EXPECT_EQ(PLATFORM_OK, platform_dc_iris_set(p, nullptr, 50));
	EXPECT_EQ(PLATFORM_OK, p->daynight_switch(p, 1, 0));
	p->ioctl = failing_ioctl;
	EXPECT_EQ(-4, platform_dc_iris_set(p, nullptr, 50));
	EXPECT_EQ(-4, p->daynight_switch(p, 0, 0));
	EXPECT_EQ(-3, platform_dc_iris_set(nullptr, nullptr, 50));
	EXPECT_EQ(PLATFORM_OK, platform_stream_prepare(p, 0));
	EXPECT_EQ(PLATFORM_OK, platform_stream_stop(p, 0));
	EXPECT_EQ(PLATFORM_OK, platform_stream_start(p, 0));
}

int destroyed;

void count_stabilizer(stabilizer *)
{
	destroyed++;
}

void count_link(serial_link *, int32_t stream_id)
{
	destroyed += stream_id == 0x100 ? 10 : 100;
}

TEST_F(SocPlatform, DestroyStopsTheInputFirstAndReleasesEveryDevice)
{
	make(2);
	ASSERT_EQ(0, platform_set_tvx_mode(p, &mode_2592, 1024, 0));
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	destroyed = 0;
	stabilizer *stab = stabilizer_new();
	stab->destroy = count_stabilizer;
	platform_add_stabilizer(p, stab, 0);
	auto *link = static_cast<serial_link *>(calloc(1, sizeof(serial_link)));
	link->destroy = count_link;
	platform_add_serial_link(p, link, 0x100);
	// A data cache whose writer source goes with the other sources first.
	auto *cache = static_cast<datacache *>(datacache_general(nullptr, nullptr, 0));
	platform_add_datacache(p, cache, 0);
	ASSERT_EQ(PLATFORM_OK, datacache_setup(cache, 0));
	int open_before = simsoc_open_files();
	platform_destroy(p);
	p = nullptr;
	EXPECT_EQ(1, fake.deinit_calls);
	EXPECT_FALSE(fake.video_at_deinit);
	EXPECT_EQ(11, destroyed);
	// The frame tick and the data cache's device are closed.
	EXPECT_EQ(open_before - 2, simsoc_open_files());
	EXPECT_EQ(0u, tvx_sim_live_objects());
	EXPECT_EQ("", log.text());
}

TEST_F(SocPlatform, DestroyGoesOnWhenTheInputWillNotStop)
{
	make(1);
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	tvx_sim_fail("input_stop", 1, TRUE);
	platform_destroy(p);
	p = nullptr;
	EXPECT_EQ("platform_destroy: Failed to stop tvx input\n", log.text(DEBUG_WARNING));
	EXPECT_EQ(1, fake.deinit_calls);
	platform_destroy(nullptr);
}

} // namespace

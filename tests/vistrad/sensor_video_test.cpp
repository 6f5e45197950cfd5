// The SoC sensor modules end to end: the real camera library started on the
// simulated SoC by the platform's video mode and input start (the capture
// library's stand-in carrying the mode to the simulated board), so that what
// a sensor is told reaches the simulated video input through the library's
// frame thread. VIN 0's clock is stopped: a ticker gives a frame whenever the
// frame thread waits for one, and a test that counts frames stops it and
// steps each tick itself.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "cc_firmware.h"
#include "conf_root.h"
#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/stream_map.h"
#include "frame_ticker.h"
#include "libcl.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/sensor_vorsalind.h"
#include "prodconf_builder.h"
#include "simsoc.h"
#include "simsoc_netlink.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"
#include "tvx_sim.h"

namespace
{

using Keys = std::vector<std::pair<std::string, std::vector<std::string>>>;

// One sensor model in one of its modes, and what the simulated board makes
// of that mode.
struct Model {
	const char *item;
	Keys keys;
	uint32_t mode;
	uint32_t rows; // the mode's height
	double fps;
};

// The AR0521 and IMX274 items name a tuning board the camera library has;
// the OV2718's own default is one.
const Model models[] = {
    {"sensor_vorsalind_ar0521", {{"tuning_id", {"1024"}}}, 30, 1944, 30.0},
    {"sensor_vorsalind_imx274", {{"tuning_id", {"1024"}}}, 31, 1944, 25.0},
    {"sensor_vorsalind_ov2718", {}, 9, 1080, 30.0},
};

class SensorVideo : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_TRUE(install_cc_firmware(root.path));
		tvx_sim_reset();
		simsoc_qvd_reset();
		simsoc_vin_reset();
		for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++)
			simsoc_vin_set_framerate(v, 0);
		simsoc_video_reset();
		simsoc_netlink_reset();
		simsoc_clear_failures();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		conf = prodconf_new();
		conf->add_item = prodconf_default_add_item;
		sensor_register_modules(conf);
		plat = platform_vorsalind_create(nullptr, conf, 1);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		start_ticker();
	}
	void TearDown() override
	{
		// The input stops and the library goes down with the platform;
		// the frame thread ends after the frame in progress.
		start_ticker();
		platform_destroy(plat);
		stop_ticker();
		control_free(engine);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
		simsoc_video_reset();
		simsoc_netlink_reset();
		EXPECT_EQ(0, simsoc_open_files());
	}

	// The sensor of stream 0 in the mode, the input started as the
	// capture-mode step starts it.
	sensor *up(const Model &m, uint32_t wdr)
	{
		prodconf_node *section = pc_section(conf, m.item);
		for (const auto &kv : m.keys)
			pc_node(section, kv.first.c_str(), kv.second);
		auto *s = static_cast<sensor *>(prodconf_create_item(conf, engine, 0, m.item));
		EXPECT_NE(nullptr, s);
		if (!s)
			return nullptr;
		EXPECT_EQ(0, sensor_set_capture_mode(s, m.mode, 0, wdr));
		EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(plat, 0));
		uint32_t started = 0;
		EXPECT_EQ(0, libcl_get_aaa_started(&started));
		EXPECT_EQ(1u, started);
		return s;
	}

	void start_ticker()
	{
		ticker.start();
	}
	void stop_ticker()
	{
		ticker.stop();
	}
	// The frame thread waiting for its next frame, with no tick but the
	// test's own to come.
	void hold_frames()
	{
		stop_ticker();
		ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
	}
	static simsoc_qvd_sensor_state vin_state()
	{
		simsoc_qvd_sensor_state st;
		memset(&st, 0, sizeof st);
		EXPECT_EQ(0, simsoc_qvd_sensor(0, 0, &st));
		return st;
	}
	// What the video input was last asked for: pending until its next tick.
	static uint32_t requested_shutter(int exposure)
	{
		simsoc_qvd_sensor_state st = vin_state();
		return st.pending ? st.pending_shutter[exposure] : st.shutter[exposure];
	}
	// Two ticks: the first lets the frame thread send what it was given,
	// the second makes it the video input's current exposure.
	void two_ticks(uint32_t shutter0)
	{
		simsoc_vin_tick(0);
		ASSERT_TRUE(eventually([&] { return requested_shutter(0) == shutter0; }))
		    << "the frame thread sent " << requested_shutter(0);
		ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
		simsoc_vin_tick(0);
	}

	ConfRoot root{"sensor-video"};
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
	FrameTicker ticker;
};

// The mode's line time and line limits reach the sensor from the library's
// AAA information, as the video input describes the mode; a linear shutter
// and gain index become the input's own within two ticks.
TEST_F(SensorVideo, LinearShutterAndGainReachTheVideoInput)
{
	for (const Model &m : models) {
		SCOPED_TRACE(m.item);
		sensor *s = up(m, 0);
		ASSERT_NE(nullptr, s);

		vin_aaa_info info;
		memset(&info, 0, sizeof info);
		ASSERT_EQ(0, libcl_get_vin_aaa_info(0, &info));
		ASSERT_GT(info.line_time, 0u);
		EXPECT_EQ((int32_t)info.line_time * 32, sensor_get_line_time(s)); // 1/512 us to Q14
		EXPECT_EQ(m.rows, info.sht0_max);
		// A frame's rows take one frame period at the mode's rate.
		double frame_us = m.rows * info.line_time / 512.0;
		EXPECT_NEAR(1e6 / m.fps, frame_us, 1.0);
		EXPECT_EQ(200000, sensor_get_max_exposure_time(s));
		EXPECT_EQ((int32_t)((info.line_time + 511) / 512), sensor_get_min_exposure_time(s));

		hold_frames();
		EXPECT_EQ(0, sensor_set_shutter(s, 500, 0));
		const int32_t index[1] = {120}, ids[1] = {0};
		EXPECT_EQ(0, sensor_set_gains(s, 1, index, ids));
		two_ticks(500);
		ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
		simsoc_qvd_sensor_state st = vin_state();
		EXPECT_EQ(0u, st.pending);
		EXPECT_EQ(500u, st.shutter[0]);
		EXPECT_EQ(120u, st.again[0]);

		TearDown();
		SetUp();
	}
}

// Two exposures combined by the DSP: the long one (lines[1]) goes to the
// input's first exposure, bounded by sht0_max, the short one to its second,
// bounded by sht1_max and kept within the ratio window of the long one.
TEST_F(SensorVideo, TwoExposureShuttersStayInTheRatioWindow)
{
	const Model &m = models[0];
	stream_map_register(0, stream_map_new_dual_short_first);
	sensor *s = up(m, 1);
	ASSERT_NE(nullptr, s);
	uint32_t method = 0;
	ASSERT_EQ(0, libcl_get_hdr_method(0, &method));
	EXPECT_EQ(1u, method);
	vin_aaa_info info;
	memset(&info, 0, sizeof info);
	ASSERT_EQ(0, libcl_get_vin_aaa_info(0, &info));
	const uint32_t sht0 = m.rows - m.rows / 16, sht1 = m.rows / 16; // 1823, 121
	ASSERT_EQ(sht0, info.sht0_max);
	ASSERT_EQ(sht1, info.sht1_max);
	// At most one frame, at least the WDR floor.
	EXPECT_EQ(40000, sensor_get_max_exposure_time(s));

	struct {
		int32_t lines[2]; // short, long as the caller gives them
		uint32_t want_long, want_short;
	} rows[] = {
	    {{10, 1500}, 1500, 47},    // 1500 / 32 at the maximum ratio of 32
	    {{200, 3000}, sht0, sht1}, // both at their limits: 1823 / 121 lies in the window
	    {{100, 800}, 800, 100},    // within the window as asked
	};
	hold_frames();
	for (auto &r : rows) {
		SCOPED_TRACE(r.want_long);
		const int32_t ids[2] = {1, 0};
		int32_t out[2] = {};
		ASSERT_EQ(0, sensor_set_shutters(s, 2, ids, r.lines, out));
		EXPECT_EQ((int32_t)r.want_short, out[0]);
		EXPECT_EQ((int32_t)r.want_long, out[1]);
		two_ticks(r.want_long);
		ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
		simsoc_qvd_sensor_state st = vin_state();
		EXPECT_EQ(r.want_long, st.shutter[0]);
		EXPECT_EQ(r.want_short, st.shutter[1]);
		EXPECT_LE(st.shutter[0], sht0);
		EXPECT_LE(st.shutter[1], sht1);
		EXPECT_LE(st.shutter[0], 32 * st.shutter[1]);
		EXPECT_GE(st.shutter[0], st.shutter[1]);
	}
}

// The black level is the mean of the four static values the library
// reports for the channel's form; 0 when the library cannot answer.
TEST_F(SensorVideo, BlackLevelIsTheMeanOfWhatTheLibraryReports)
{
	sensor *s = up(models[0], 0);
	ASSERT_NE(nullptr, s);
	libcl_black_level level;
	memset(&level, 0, sizeof level);
	level.linear[0] = -200;
	level.linear[1] = -201;
	level.linear[2] = -203;
	level.linear[3] = -207;
	ASSERT_EQ(0, libcl_set_black_level(0, &level));
	// Applied by the frame thread with its next frame.
	ASSERT_TRUE(eventually([] {
		libcl_black_level now;
		memset(&now, 0, sizeof now);
		return libcl_get_black_level(0, &now) == 0 && now.linear[3] == -207;
	}));
	memset(&level, 0, sizeof level);
	ASSERT_EQ(0, libcl_get_black_level(0, &level));
	EXPECT_EQ(-200, level.linear[0]);
	EXPECT_EQ(202, sensor_get_black_level(s)); // |-811 / 4| truncated

	// Down: the library refuses and the sensor answers 0.
	libcl_deinit();
	EXPECT_EQ(0, sensor_get_black_level(s));
}

} // namespace

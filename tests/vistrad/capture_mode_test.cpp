// Capture-mode tables and the lazy capture mode at start.
#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>

#include <string>

#include "core/capture_mode.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/stream_map.h"
#include "log_capture.h"

namespace
{

TEST(CaptureModeTables, Names)
{
	const std::pair<int32_t, const char *> cases[] = {
	    {1, "1440p 25/30 fps"},
	    {2, "1440p 25/30 fps"},
	    {7, "1200p 50/60fps"},
	    {19, "vga 30fps"},
	    {22, "qvga 9fps"},
	    {36, "3072x1728 20 fps"},
	    {39, "2720x1536 50/60fps"},
	    {52, "720p 25/30fps"},
	    {60, "3000x3000 16:9 12.5/15fps"},
	    {66, "2048x2048 16:9 12.5/15 fps"},
	    {83, "5472x3648 8fps"},
	    {94, "208x156 9fps"},
	    {111, "2992x2992 15/12.5fps"},
	    {116, "PAL 25 fps"},
	    {125, "960x720 50/60 fps D1"},
	    {127, "10 MP @ 25/30 fps"},
	    {130, "1920x1080 25/29.97fps DOL"},
	    {135, "720p 175/180 fps"},
	    {136, "Analog"},
	};
	for (const auto &c : cases)
		EXPECT_STREQ(c.second, capture_mode_name(c.first)) << c.first;
	for (int32_t id = 1; id <= CAPTURE_MODE_ID_MAX; id++)
		EXPECT_NE(nullptr, capture_mode_name(id)) << id;
	EXPECT_EQ(nullptr, capture_mode_name(0));
	EXPECT_EQ(nullptr, capture_mode_name(137));
	EXPECT_EQ(nullptr, capture_mode_name(-1));
}

TEST(CaptureModeTables, FrequencyPairs)
{
	struct Case {
		int32_t id;
		int frequency;
		int found;
		int32_t out;
	} cases[] = {
	    {1, 1, 1, 2},   {2, 0, 1, 1},     {1, 0, 1, 1},     {32, 0, 1, 32},
	    {32, 1, 1, 32}, {107, 1, 1, 107}, {108, 0, 1, 108}, {133, 1, 1, 134},
	    {58, 1, 1, 60}, {19, 0, 0, -5},   {0, 1, 0, -5},    {137, 0, 0, -5},
	};
	for (const auto &c : cases) {
		int32_t out = -5;
		EXPECT_EQ(c.found, capture_mode_for_frequency(c.id, c.frequency, &out))
		    << c.id << "/" << c.frequency;
		EXPECT_EQ(c.out, out) << c.id << "/" << c.frequency;
	}
}

TEST(CaptureModeTables, InvalidFrequencyIsLogged)
{
	LogCapture log;
	int32_t out = -5;
	EXPECT_EQ(0, capture_mode_for_frequency(1, 2, &out));
	EXPECT_EQ(-5, out);
	EXPECT_EQ("Invalid frequency 2\n", log.text());
}

TEST(CaptureModeTables, IndexNormalizeAndEnumeration)
{
	EXPECT_EQ(17, capture_mode_get_index(26, 1));
	EXPECT_EQ(18, capture_mode_get_index(26, 0));
	EXPECT_EQ(10, capture_mode_get_index(12, 0));
	EXPECT_EQ(9, capture_mode_get_index(11, 1));
	EXPECT_EQ(0, capture_mode_get_index(116, 1)); // PAL is in no pair
	EXPECT_EQ(0, capture_mode_get_index(30, 1));  // a pair the enumeration lacks
	EXPECT_EQ(1, capture_mode_normalize(2));
	EXPECT_EQ(1, capture_mode_normalize(1));
	EXPECT_EQ(108, capture_mode_normalize(107));
	EXPECT_EQ(19, capture_mode_normalize(19));
	const int32_t values[VIDEO_CAPTURE_MODE_VALUES] = {116, 16,  15,  18,  17,  114, 113, 10, 9,  12,
	                                                   11,  116, 117, 123, 118, 124, 125, 26, 25, 136};
	for (int i = 0; i < VIDEO_CAPTURE_MODE_VALUES; i++)
		EXPECT_EQ(values[i], video_capture_mode_value(i)) << i;
	EXPECT_EQ(0, video_capture_mode_value(20));
	EXPECT_EQ(0, video_capture_mode_value(-1));
}

constexpr uint32_t kCaptureMode = 39;
constexpr uint32_t kVideoCaptureMode = 112;
constexpr uint32_t kLazy = 168;
constexpr uint32_t kExposureWindow = 15;
constexpr uint32_t kManualShutter = 33;
constexpr uint32_t kFixedExposure = 141;

class LazyCaptureMode : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		root = g_dir_make_tmp("vistrad-cml-XXXXXX", nullptr);
		ASSERT_NE(nullptr, root);
		setenv("VISTRAD_ROOT", root, 1);
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(-1);
		capture_mode_set_video_control(0);
		// At start every parameter has its default before the lazy mode is looked at.
		ASSERT_EQ(0, param_set_int(kLazy, -1, -1));
	}
	void TearDown() override
	{
		capture_mode_set_video_control(0);
		param_db_free();
		param_map_free();
		stream_map_free();
		std::string cmd = std::string("rm -rf '") + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
		g_free(root);
	}
	int32_t get(uint32_t id, int32_t stream)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, param_get_int(id, stream, &v));
		return v;
	}
	// A stream with a capture mode, a lazy mode and a moved exposure window.
	void stream(int32_t id, int32_t mode, int32_t lazy)
	{
		ASSERT_EQ(0, param_set_int(kCaptureMode, id, mode));
		ASSERT_EQ(0, param_set_int(kLazy, id, lazy));
		ASSERT_EQ(0, param_set_int(kExposureWindow, id, 5));
		ASSERT_EQ(0, param_set_int(kManualShutter, id, 1));
	}
	char *root = nullptr;
	LogCapture log;
};

TEST_F(LazyCaptureMode, PendingModeIsAppliedOnce)
{
	stream(0, 1, -1); // nothing pending
	stream(0x100, 1, 3);
	stream(0x200, 4, 4); // pending, but already current
	ASSERT_EQ(0, param_set_int(kFixedExposure, 0x100, 0));
	capture_mode_setup();

	EXPECT_EQ(1, get(kCaptureMode, 0));
	EXPECT_EQ(5, get(kExposureWindow, 0));
	EXPECT_EQ(1, get(kManualShutter, 0));

	EXPECT_EQ(3, get(kCaptureMode, 0x100));
	EXPECT_EQ(-1, get(kLazy, 0x100));
	EXPECT_EQ(0, get(kExposureWindow, 0x100)); // windows back to default
	EXPECT_EQ(0, get(kManualShutter, 0x100));  // no fixed exposure: reset too

	EXPECT_EQ(4, get(kCaptureMode, 0x200));
	EXPECT_EQ(-1, get(kLazy, 0x200));
	EXPECT_EQ(5, get(kExposureWindow, 0x200));
	EXPECT_EQ(1, get(kManualShutter, 0x200)); // fixed exposure available by default
	EXPECT_EQ("", log.text());
}

// Without a readable lazy mode nothing can tell whether one is pending: that
// stream is left as it is and the others go on.
TEST_F(LazyCaptureMode, UnreadableLazyModeSkipsTheStream)
{
	param_db_free();
	ASSERT_NE(nullptr, param_db_init()); // the global entry without a value
	stream(0, 1, 3);
	param_value unset = {};
	unset.id = kLazy;
	unset.stream_id = -1;
	ASSERT_NE(0, param_get(&unset));
	capture_mode_setup();
	EXPECT_EQ(3, get(kCaptureMode, 0)); // the readable stream still gets its mode
	param_value mode = {};
	mode.id = kCaptureMode;
	mode.stream_id = -1;
	EXPECT_NE(0, param_get(&mode)); // nothing was set for the unreadable one
	EXPECT_NE(
	    std::string::npos,
	    log.text().find("capture_mode_setup: could not get param CaptureModeLazy for stream_id -1\n"))
	    << log.text();
}

TEST_F(LazyCaptureMode, MarkerKeepsTheLazyModeForALaterStart)
{
	stream(0, 1, 3);
	std::string dir = std::string(root) + "/run/vistrad";
	g_mkdir_with_parents(dir.c_str(), 0755);
	ASSERT_TRUE(g_file_set_contents((dir + "/cml").c_str(), "", 0, nullptr));
	capture_mode_setup();
	EXPECT_EQ(1, get(kCaptureMode, 0));
	EXPECT_EQ(3, get(kLazy, 0));
	EXPECT_EQ(5, get(kExposureWindow, 0));
}

TEST_F(LazyCaptureMode, VideoControlModeSetsVideoCaptureModeOnly)
{
	ASSERT_EQ(0, param_set_int(kVideoCaptureMode, 0, 2));
	stream(0, 1, 7);
	capture_mode_set_video_control(1);
	capture_mode_setup();
	EXPECT_EQ(7, get(kVideoCaptureMode, 0));
	EXPECT_EQ(1, get(kCaptureMode, 0));
	EXPECT_EQ(-1, get(kLazy, 0));
	EXPECT_EQ(5, get(kExposureWindow, 0));
}

TEST_F(LazyCaptureMode, RefusedModeIsLoggedAndTheLazyModeCleared)
{
	stream(0, 1, 50); // CaptureMode accepts 1 to 6 only
	capture_mode_setup();
	EXPECT_EQ(1, get(kCaptureMode, 0));
	EXPECT_EQ(-1, get(kLazy, 0));
	EXPECT_NE(std::string::npos,
	          log.text().find("capture_mode_setup: could not set param CaptureMode 50 for stream_id 0\n"))
	    << log.text();
}

} // namespace

// The eleven video-input operations against the capture library's stand-in:
// what each writes, and each failure of the library with its message.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "log_capture.h"
#include "platform/videoinput.h"
#include "simsoc_video.h"
#include "tvx_sim.h"

namespace
{

std::string take(char *text)
{
	std::string s = text ? text : "(none)";
	g_free(text);
	return s;
}

std::string setting(const char *key, guint input = 0)
{
	return take(tvx_sim_setting(input, key));
}

const tvx_mode mode_2592 = {"2592x1944", 1, 30.0};

class VideoInput : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		tvx_sim_reset();
		simsoc_video_reset();
		log.clear();
	}
	void TearDown() override
	{
		// Every operation releases what it made.
		EXPECT_EQ(0u, tvx_sim_live_objects());
	}
	// The calls since the last look that changed settings or a mode.
	std::string writes()
	{
		std::string all = take(tvx_sim_take_log()), out;
		size_t at = 0;
		while (at < all.size()) {
			size_t end = all.find('\n', at);
			std::string line = all.substr(at, end - at);
			if (line.rfind("input_set_settings", 0) == 0 || line.rfind("mode_apply", 0) == 0)
				out += line + "\n";
			at = end + 1;
		}
		return out;
	}
	LogCapture log;
};

TEST_F(VideoInput, ApplyModeNamesTheMode)
{
	EXPECT_TRUE(videoinput_mode_apply_mode(&mode_2592));
	EXPECT_EQ("mode_apply capture_mode='2592x1944'\n", writes());
	const tvx_mode odd = {"big", 0, 30};
	EXPECT_FALSE(videoinput_mode_apply_mode(&odd));
	EXPECT_EQ("videoinput_mode_apply_mode: Failed to apply mode: Unknown capture mode 'big'\n",
	          log.text(DEBUG_ERROR));
}

TEST_F(VideoInput, SetModeWritesTheFiveKeys)
{
	EXPECT_TRUE(videoinput_input_set_mode(3, &mode_2592, 180, TRUE));
	EXPECT_EQ("30.0", setting("framerate"));
	EXPECT_EQ("30.0", setting("framerate.default"));
	EXPECT_EQ("uint32 1", setting("wdr_mode"));
	EXPECT_EQ("uint32 180", setting("sensor_rotation"));
	EXPECT_EQ("true", setting("raw_capture.enabled"));
	// Input 0 whatever the index; the map was dumped before it was set.
	EXPECT_EQ("(none)", setting("wdr_mode", 3));
	std::string calls = take(tvx_sim_take_log());
	EXPECT_LT(calls.find("map_dump"), calls.find("input_set_settings 0"));
	EXPECT_EQ("", log.text());
}

TEST_F(VideoInput, SetFramerateAndCurrentVin)
{
	EXPECT_TRUE(videoinput_input_set_framerate(2, 12.5));
	EXPECT_EQ("input_set_settings 0 framerate=12.5\n", writes());
	EXPECT_EQ(0u, videoinput_input_get_current_vin());
	EXPECT_TRUE(videoinput_set_current_vin(0, 1, "helmet"));
	EXPECT_EQ("uint32 1", setting("current_vin"));
	EXPECT_EQ("'helmet'", setting("new_vin_reason"));
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
	// This one takes the index it is given.
	EXPECT_TRUE(videoinput_set_current_vin(2, 3, "test"));
	EXPECT_EQ("uint32 3", setting("current_vin", 2));
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
}

TEST_F(VideoInput, StartHandsOverTheInputAndStopStopsIt)
{
	GObject *input = videoinput_input_start(1);
	ASSERT_NE(nullptr, input);
	EXPECT_EQ(1, simsoc_video_running(0));
	EXPECT_TRUE(videoinput_input_stop(1));
	EXPECT_EQ(0, simsoc_video_running(0));
	g_object_unref(input);
}

TEST_F(VideoInput, AnEqualSourceRotationWritesNothing)
{
	// Unset reads as 360, so 360 is already there.
	EXPECT_TRUE(videoinput_input_set_source_rotation(360, 1));
	EXPECT_EQ("", writes());
	EXPECT_TRUE(videoinput_input_set_source_rotation(90, 1));
	EXPECT_EQ("uint32 90", setting("rotation_input1"));
	EXPECT_EQ("uint32 1", setting("rotation_input"));
	writes();
	EXPECT_TRUE(videoinput_input_set_source_rotation(90, 1));
	EXPECT_EQ("", writes());
	EXPECT_TRUE(videoinput_input_set_source_rotation(90, 0));
	EXPECT_EQ("uint32 90", setting("rotation_input0"));
	EXPECT_EQ("uint32 0", setting("rotation_input"));
}

TEST_F(VideoInput, SensorOffsetOnlyWherePossible)
{
	EXPECT_TRUE(videoinput_set_sensor_offset(0, 2, 4));
	EXPECT_EQ("input_set_settings 0 sensor_offset.x=uint32 2 sensor_offset.y=uint32 4\n", writes());
	tvx_sim_set_info(0, "sensor_offset.possible", g_variant_new_boolean(FALSE));
	EXPECT_FALSE(videoinput_set_sensor_offset(0, 2, 4));
	EXPECT_EQ("", writes());
	EXPECT_EQ("videoinput_set_sensor_offset: Not possible to set sensor offset\n", log.text(DEBUG_ERROR));
}

TEST_F(VideoInput, EisOnTheInputsThatHaveIt)
{
	EXPECT_TRUE(videoinput_set_eis_enabled(0, TRUE));
	EXPECT_EQ("input_set_settings 0 eis_enable_input0=true\n", writes());
	tvx_sim_set_info(0, "eis.possible.input1", g_variant_new_boolean(TRUE));
	EXPECT_TRUE(videoinput_set_eis_enabled(0, FALSE));
	EXPECT_EQ("input_set_settings 0 eis_enable_input0=false eis_enable_input1=false\n", writes());
	tvx_sim_set_info(0, "eis.possible.input0", nullptr);
	tvx_sim_set_info(0, "eis.possible.input1", g_variant_new_boolean(FALSE));
	EXPECT_FALSE(videoinput_set_eis_enabled(0, TRUE));
	EXPECT_EQ("", writes());
	EXPECT_EQ("videoinput_set_eis_enabled: No VINS support EIS\n", log.text(DEBUG_ERROR));
}

TEST_F(VideoInput, FramerateReadsAndItsDefault)
{
	EXPECT_EQ(7.5, videoinput_input_get_framerate(0, 7.5));
	videoinput_input_set_framerate(0, 25);
	EXPECT_EQ(25, videoinput_input_get_framerate(0, 7.5));
	// Another input's own settings.
	EXPECT_EQ(7.5, videoinput_input_get_framerate(1, 7.5));
	EXPECT_EQ("", log.text());
	// No input to read from: the default.
	EXPECT_EQ(7.5, videoinput_input_get_framerate(9, 7.5));
	EXPECT_EQ("videoinput_input_get_framerate: Failed to create input: No input 9\n",
	          log.text(DEBUG_ERROR));
	// A rate of 0 is passed on and logged, with no error to quote.
	log.clear();
	videoinput_input_set_framerate(0, 0);
	EXPECT_EQ(0.0, videoinput_input_get_framerate(0, 7.5));
	EXPECT_EQ("videoinput_input_get_framerate: Failed to get framerate\n", log.text(DEBUG_ERROR));
}

bool start_fails()
{
	GObject *input = videoinput_input_start(0);
	if (input)
		g_object_unref(input);
	return !input;
}

struct FailureCase {
	const char *name;
	const char *operation; // of the library, failing once
	gboolean with_error;
	std::function<bool()> call; // true when the call reported failure
	const char *message;
};

TEST_F(VideoInput, EachFailureIsLoggedOnceWithTheLibrarysMessage)
{
	const tvx_mode mode = mode_2592;
	const FailureCase cases[] = {
	    {"apply: create", "mode_new", TRUE, [] { return !videoinput_mode_apply_mode(&mode_2592); },
	     "videoinput_mode_apply_mode: Failed to create mode: mode_new failed\n"},
	    {"apply: apply", "mode_apply", TRUE, [] { return !videoinput_mode_apply_mode(&mode_2592); },
	     "videoinput_mode_apply_mode: Failed to apply mode: mode_apply failed\n"},
	    {"set mode: create", "input_new", TRUE,
	     [&] { return !videoinput_input_set_mode(0, &mode, 0, FALSE); },
	     "videoinput_input_set_mode: Failed to create input: input_new failed\n"},
	    {"set mode: settings", "input_get_settings", TRUE,
	     [&] { return !videoinput_input_set_mode(0, &mode, 0, FALSE); },
	     "videoinput_input_set_mode: Failed to get input settings: input_get_settings failed\n"},
	    {"set mode: set", "input_set_settings", TRUE,
	     [&] { return !videoinput_input_set_mode(0, &mode, 0, FALSE); },
	     "videoinput_input_set_mode: Failed to set framerate/wdr_mode: input_set_settings failed\n"},
	    {"set mode: set, no error", "input_set_settings", FALSE,
	     [&] { return !videoinput_input_set_mode(0, &mode, 0, FALSE); },
	     "videoinput_input_set_mode: Failed to set framerate/wdr_mode:\n"},
	    {"framerate: create", "input_new", TRUE, [] { return !videoinput_input_set_framerate(0, 30); },
	     "videoinput_input_set_framerate: Failed to create input: input_new failed\n"},
	    {"framerate: set", "input_set_settings", TRUE,
	     [] { return !videoinput_input_set_framerate(0, 30); },
	     "videoinput_input_set_framerate: Failed to set framerate: input_set_settings failed\n"},
	    {"start: create, silent", "input_new", TRUE, start_fails, ""},
	    {"start: start", "input_start", TRUE, start_fails,
	     "videoinput_input_start: Failed to start input: input_start failed\n"},
	    {"stop: create", "input_new", TRUE, [] { return !videoinput_input_stop(0); },
	     "videoinput_input_stop: Failed to create input: input_new failed\n"},
	    {"stop: stop", "input_stop", TRUE, [] { return !videoinput_input_stop(0); },
	     "videoinput_input_stop: Failed to stop input: input_stop failed\n"},
	    {"rotation: settings", "input_get_settings", TRUE,
	     [] { return !videoinput_input_set_source_rotation(90, 0); },
	     "videoinput_input_set_source_rotation: Failed to get input settings: input_get_settings "
	     "failed\n"},
	    {"rotation: set", "input_set_settings", TRUE,
	     [] { return !videoinput_input_set_source_rotation(90, 0); },
	     "videoinput_input_set_source_rotation: Failed to set input settings: input_set_settings "
	     "failed\n"},
	    {"offset: create", "input_new", TRUE, [] { return !videoinput_set_sensor_offset(0, 2, 4); },
	     "videoinput_set_sensor_offset: Failed to create input: input_new failed\n"},
	    {"offset: info", "input_get_info", TRUE, [] { return !videoinput_set_sensor_offset(0, 2, 4); },
	     "videoinput_set_sensor_offset: Failed to get info: input_get_info failed\n"},
	    {"offset: set", "input_set_settings", TRUE, [] { return !videoinput_set_sensor_offset(0, 2, 4); },
	     "videoinput_set_sensor_offset: Failed to set sensor_offset: input_set_settings failed\n"},
	    {"eis: info", "input_get_info", TRUE, [] { return !videoinput_set_eis_enabled(0, TRUE); },
	     "videoinput_set_eis_enabled: Failed to get info: input_get_info failed\n"},
	    {"eis: set", "input_set_settings", TRUE, [] { return !videoinput_set_eis_enabled(0, TRUE); },
	     "videoinput_set_eis_enabled: Failed to enable EIS: input_set_settings failed\n"},
	    {"get framerate: settings", "input_get_settings", TRUE,
	     [] { return videoinput_input_get_framerate(0, 7.5) == 7.5; },
	     "videoinput_input_get_framerate: Failed to get settings: input_get_settings failed\n"},
	    {"current vin: create", "input_new", TRUE,
	     [] { return videoinput_input_get_current_vin() == (uint32_t)-1; },
	     "videoinput_input_get_current_vin: Failed to create input: input_new failed\n"},
	    {"current vin: settings", "input_get_settings", TRUE,
	     [] { return videoinput_input_get_current_vin() == (uint32_t)-1; },
	     "videoinput_input_get_current_vin: Failed to get settings: input_get_settings failed\n"},
	    {"set vin: create", "input_new", TRUE, [] { return !videoinput_set_current_vin(0, 1, "x"); },
	     "videoinput_set_current_vin: Failed to create input: input_new failed\n"},
	    {"set vin: set", "input_set_settings", TRUE,
	     [] { return !videoinput_set_current_vin(0, 1, "x"); },
	     "videoinput_set_current_vin: Failed to set vin id: input_set_settings failed\n"},
	};
	for (const FailureCase &c : cases) {
		SCOPED_TRACE(c.name);
		SetUp();
		tvx_sim_fail(c.operation, 1, c.with_error);
		EXPECT_TRUE(c.call());
		EXPECT_EQ(c.message, log.text(DEBUG_ERROR));
		EXPECT_EQ(0u, tvx_sim_live_objects());
		// The failure was one call's: the next call succeeds.
		log.clear();
		c.call();
		EXPECT_EQ(0u, tvx_sim_live_objects());
	}
	simsoc_video_reset();
}

} // namespace

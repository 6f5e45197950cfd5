// The capture library's stand-in: what modes, settings and input starts do
// to the simulated SoC, and how a test steers it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"
#include "tvx_sim.h"

namespace
{

std::string take(char *text)
{
	std::string s = text ? text : "(none)";
	g_free(text);
	return s;
}

class Tvx : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		tvx_sim_reset();
		simsoc_qvd_reset();
		simsoc_video_reset();
		simsoc_vin_reset();
		simsoc_log_clear();
	}
	void TearDown() override
	{
		EXPECT_EQ(0u, tvx_sim_live_objects());
	}

	gboolean apply_mode(const char *name, GError **error = nullptr)
	{
		TvxMode *mode = tvx_mode_new(nullptr);
		TvxMap *map = tvx_map_new();
		if (name)
			tvx_map_set_string(map, "capture_mode", name);
		gboolean ok = tvx_mode_apply(mode, map, error);
		g_object_unref(map);
		g_object_unref(mode);
		return ok;
	}
	gboolean set(guint index, const char *key, GVariant *value)
	{
		TvxInput *input = tvx_input_new(index, nullptr);
		TvxMap *map = tvx_map_new();
		GVariant *v = g_variant_ref_sink(value);
		if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
			tvx_map_set_uint32(map, key, g_variant_get_uint32(v));
		else
			tvx_map_set_double(map, key, g_variant_get_double(v));
		g_variant_unref(v);
		gboolean ok = tvx_input_set_settings(input, map, nullptr);
		g_object_unref(map);
		g_object_unref(input);
		return ok;
	}
	simsoc_qvd_vin vin(unsigned i)
	{
		simsoc_qvd_board b;
		simsoc_qvd_get_board(&b);
		return b.vin[i];
	}
};

// What the camera library will read back through the driver.
qvd_vin_aaa_info aaa_info(int32_t source)
{
	qvd_vin_aaa_info info = {};
	info.source_id = source;
	int fd = open(QVD_DEVICE, O_RDWR);
	EXPECT_GE(fd, 0);
	EXPECT_EQ(0, ioctl(fd, QVD_IOC_VIN_GET_AAAINFO, &info));
	close(fd);
	return info;
}

// The simulated SoC's lines about video.
std::string video_log()
{
	char *text = simsoc_log_dump();
	std::string out;
	for (char *line = strtok(text, "\n"); line; line = strtok(nullptr, "\n"))
		if (strncmp(line, "video: ", 7) == 0)
			out += std::string(line) + "\n";
	free(text);
	return out;
}

uint32_t dsp_state()
{
	uint32_t state = 99;
	int fd = open(QVD_DEVICE, O_RDWR);
	EXPECT_EQ(0, ioctl(fd, QVD_IOC_GET_QVD_STATE, &state));
	close(fd);
	return state;
}

TEST_F(Tvx, ModeAndWdrModeShapeTheBoard)
{
	struct {
		uint32_t wdr;
		uint8_t exposures, dsp_hdr;
		uint32_t hdr_type, hdr_mode, hdr_kind, sht0, sht1;
	} cases[] = {
	    {0, 1, 0, 0, 0, 0, 1944, 0},
	    {1, 2, 2, 0, 1, 0, 1944 - 121, 121},
	    {4, 1, 0, 1, 15, 0x1016, 1944, 0},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.wdr);
		SetUp();
		ASSERT_TRUE(apply_mode("2592x1944"));
		ASSERT_TRUE(set(0, "wdr_mode", g_variant_new_uint32(c.wdr)));
		simsoc_qvd_vin v = vin(0);
		EXPECT_EQ(2592u, v.width);
		EXPECT_EQ(1944u, v.height);
		EXPECT_EQ(2592u, v.main_width);
		EXPECT_EQ(1944u, v.main_height);
		EXPECT_EQ(c.exposures, v.exposures);
		EXPECT_EQ(c.dsp_hdr, v.dsp_hdr);
		qvd_vin_aaa_info info = aaa_info(v.source_id);
		EXPECT_EQ(c.hdr_type, info.hdr_type);
		EXPECT_EQ(c.hdr_mode, info.hdr_mode);
		EXPECT_EQ(c.hdr_kind, info.hdr_kind);
		EXPECT_EQ(c.sht0, info.sht_max[0]);
		EXPECT_EQ(c.sht1, info.sht_max[1]);
	}
	// A mode of another size keeps the WDR shape and scales its shutters.
	ASSERT_TRUE(apply_mode("1920x1080"));
	EXPECT_EQ(15u, aaa_info(0).hdr_mode);
	EXPECT_EQ(1080u, aaa_info(0).sht_max[0]);
	// An unknown WDR mode leaves the VIN as it was.
	ASSERT_TRUE(set(0, "wdr_mode", g_variant_new_uint32(3)));
	EXPECT_EQ(15u, aaa_info(0).hdr_mode);
}

TEST_F(Tvx, UnknownModesAreRefused)
{
	for (const char *name : {"2592", "x1944", "0x1944", "2592x0", "2592x1944p", "70000x10", "", "-1x5"}) {
		SCOPED_TRACE(name);
		GError *error = nullptr;
		EXPECT_FALSE(apply_mode(name, &error));
		ASSERT_NE(nullptr, error);
		EXPECT_TRUE(g_error_matches(error, TVX_ERROR, TVX_ERROR_INVALID_MODE));
		EXPECT_EQ(std::string("Unknown capture mode '") + name + "'", error->message);
		g_error_free(error);
		EXPECT_EQ(1920u, vin(0).width);
	}
	GError *error = nullptr;
	EXPECT_FALSE(apply_mode(nullptr, &error));
	EXPECT_TRUE(g_error_matches(error, TVX_ERROR, TVX_ERROR_INVALID_MODE));
	g_error_free(error);
}

TEST_F(Tvx, SettingsReachTheCurrentVin)
{
	// The second VIN appears on the board when it becomes current.
	ASSERT_TRUE(set(0, "current_vin", g_variant_new_uint32(1)));
	ASSERT_TRUE(apply_mode("1280x720"));
	simsoc_qvd_board b;
	simsoc_qvd_get_board(&b);
	ASSERT_EQ(2u, b.vin_count);
	EXPECT_EQ(1, b.vin[1].source_id);
	EXPECT_EQ(1280u, b.vin[1].width);
	EXPECT_EQ(1920u, b.vin[0].width);
	// A running clock takes the frame rate; a stopped one stays stopped.
	simsoc_vin_set_framerate(1, 30);
	ASSERT_TRUE(set(0, "framerate", g_variant_new_double(12.5)));
	EXPECT_EQ(12.5, simsoc_vin_framerate(1));
	simsoc_vin_set_framerate(1, 0);
	ASSERT_TRUE(set(0, "framerate", g_variant_new_double(60)));
	EXPECT_EQ(0, simsoc_vin_framerate(1));
	EXPECT_EQ("60.0", take(tvx_sim_setting(0, "framerate")));
}

TEST_F(Tvx, StartingAnInputRunsItsVideo)
{
	TvxInput *input = tvx_input_new(0, nullptr);
	ASSERT_NE(nullptr, input);
	EXPECT_EQ(0u, dsp_state());
	EXPECT_TRUE(tvx_input_stop(input, nullptr));
	ASSERT_TRUE(tvx_input_start(input, nullptr));
	EXPECT_EQ(1, simsoc_video_running(0));
	EXPECT_EQ(2u, dsp_state());
	EXPECT_TRUE(tvx_input_start(input, nullptr));
	// Another VIN becoming current does not move running video.
	ASSERT_TRUE(set(0, "current_vin", g_variant_new_uint32(1)));
	EXPECT_TRUE(tvx_input_stop(input, nullptr));
	EXPECT_EQ(0, simsoc_video_running(0));
	EXPECT_EQ(0u, dsp_state());
	ASSERT_TRUE(tvx_input_start(input, nullptr));
	EXPECT_EQ(1, simsoc_video_running(1));
	EXPECT_TRUE(tvx_input_stop(input, nullptr));
	// A VIN the SoC does not have cannot start.
	ASSERT_TRUE(set(0, "current_vin", g_variant_new_uint32(9)));
	GError *error = nullptr;
	EXPECT_FALSE(tvx_input_start(input, &error));
	ASSERT_NE(nullptr, error);
	EXPECT_STREQ("No video input 9", error->message);
	g_error_free(error);
	g_object_unref(input);
	EXPECT_EQ("video: start 0\nvideo: stop 0\nvideo: start 1\nvideo: stop 1\n", video_log());
}

TEST_F(Tvx, InputsBeyondTheFourthDoNotExist)
{
	GError *error = nullptr;
	EXPECT_EQ(nullptr, tvx_input_new(4, &error));
	ASSERT_NE(nullptr, error);
	EXPECT_TRUE(g_error_matches(error, TVX_ERROR, TVX_ERROR_NO_INPUT));
	EXPECT_STREQ("No input 4", error->message);
	g_error_free(error);
}

TEST_F(Tvx, FailuresAsTold)
{
	tvx_sim_fail("input_get_info", 2, TRUE);
	tvx_sim_fail("input_set_settings", 1, FALSE);
	TvxInput *input = tvx_input_new(0, nullptr);
	for (int i = 0; i < 2; i++) {
		GError *error = nullptr;
		EXPECT_EQ(nullptr, tvx_input_get_info(input, &error));
		ASSERT_NE(nullptr, error);
		EXPECT_STREQ("input_get_info failed", error->message);
		g_error_free(error);
	}
	TvxMap *info = tvx_input_get_info(input, nullptr);
	ASSERT_NE(nullptr, info);
	EXPECT_TRUE(tvx_map_get_boolean(info, "sensor_offset.possible", FALSE));
	EXPECT_TRUE(tvx_map_get_boolean(info, "eis.possible.input0", FALSE));
	EXPECT_FALSE(tvx_map_get_boolean(info, "eis.possible.input1", TRUE));
	// A failure without an error record.
	GError *error = nullptr;
	EXPECT_FALSE(tvx_input_set_settings(input, info, &error));
	EXPECT_EQ(nullptr, error);
	EXPECT_TRUE(tvx_input_set_settings(input, info, &error));
	g_object_unref(info);
	// Until cleared.
	tvx_sim_fail("mode_new", -1, TRUE);
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(nullptr, tvx_mode_new(nullptr));
	tvx_sim_fail("mode_new", 0, TRUE);
	TvxMode *mode = tvx_mode_new(nullptr);
	EXPECT_NE(nullptr, mode);
	g_object_unref(mode);
	g_object_unref(input);
	EXPECT_EQ("input_new 0\ninput_get_info 0\ninput_get_info 0\ninput_get_info 0\n"
	          "input_set_settings 0 eis.possible.input0=true eis.possible.input1=false "
	          "sensor_offset.possible=true\n"
	          "input_set_settings 0 eis.possible.input0=true eis.possible.input1=false "
	          "sensor_offset.possible=true\n"
	          "mode_new\nmode_new\nmode_new\nmode_new\n",
	          take(tvx_sim_take_log()));
}

TEST_F(Tvx, FailuresFromTheEnvironment)
{
	setenv("SIMTVX_FAIL", "input_start:1,input_stop", 1);
	tvx_sim_reset();
	unsetenv("SIMTVX_FAIL");
	TvxInput *input = tvx_input_new(0, nullptr);
	EXPECT_FALSE(tvx_input_start(input, nullptr));
	EXPECT_TRUE(tvx_input_start(input, nullptr));
	for (int i = 0; i < 3; i++)
		EXPECT_FALSE(tvx_input_stop(input, nullptr));
	g_object_unref(input);
	tvx_sim_reset();
	simsoc_video_reset();
}

TEST_F(Tvx, MapsKeepTypes)
{
	TvxMap *map = tvx_map_new();
	tvx_map_set_uint32(map, "n", 7);
	tvx_map_set_double(map, "d", 2.5);
	tvx_map_set_boolean(map, "b", TRUE);
	tvx_map_set_string(map, "s", "x");
	EXPECT_EQ(7u, tvx_map_get_uint32(map, "n", 1));
	EXPECT_EQ(2.5, tvx_map_get_double(map, "d", 1));
	EXPECT_TRUE(tvx_map_get_boolean(map, "b", FALSE));
	// Missing keys and keys of another type give the default.
	EXPECT_EQ(1u, tvx_map_get_uint32(map, "d", 1));
	EXPECT_EQ(1.0, tvx_map_get_double(map, "n", 1));
	EXPECT_FALSE(tvx_map_get_boolean(map, "s", FALSE));
	EXPECT_EQ(360u, tvx_map_get_uint32(map, "missing", 360));
	EXPECT_EQ(3u, tvx_map_get_uint32(nullptr, "n", 3));
	tvx_map_dump(map);
	EXPECT_EQ("map_dump b=true d=2.5 n=uint32 7 s='x'\n", take(tvx_sim_take_log()));
	g_object_unref(map);
}

void count_rate(TvxInput *, gdouble rate, gpointer data)
{
	*static_cast<double *>(data) += rate;
}

TEST_F(Tvx, NewFramerateReachesTheInputsHandles)
{
	TvxInput *a = tvx_input_new(0, nullptr);
	TvxInput *b = tvx_input_new(0, nullptr);
	TvxInput *other = tvx_input_new(1, nullptr);
	double seen_a = 0, seen_b = 0, seen_other = 0;
	g_signal_connect(a, "NewFramerate", G_CALLBACK(count_rate), &seen_a);
	g_signal_connect(b, "NewFramerate", G_CALLBACK(count_rate), &seen_b);
	g_signal_connect(other, "NewFramerate", G_CALLBACK(count_rate), &seen_other);
	tvx_sim_emit_new_framerate(0, 25);
	EXPECT_EQ(25, seen_a);
	EXPECT_EQ(25, seen_b);
	EXPECT_EQ(0, seen_other);
	EXPECT_EQ("25.0", take(tvx_sim_setting(0, "framerate")));
	g_object_unref(b);
	tvx_sim_emit_new_framerate(0, 5);
	EXPECT_EQ(30, seen_a);
	g_object_unref(a);
	g_object_unref(other);
	tvx_sim_emit_new_framerate(0, 5);
}

} // namespace

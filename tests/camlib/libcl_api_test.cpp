// The camera library's API: the guard every per-channel call runs (not
// initialised, channel, 3A not started, NULL record, each with its message
// and priority), argument checks, the lifecycle and the statistics calls.
#include "libcl_fixture.h"

#include <atomic>
#include <string.h>
#include <thread>

namespace
{

// Room for the largest record, zeroed.
alignas(8) uint8_t record[4096];

struct Call {
	const char *name;
	int (*call)(int channel, void *record);
	const char *null_message; // nullptr: the call takes no record
};

#define REC(T) static_cast<T>(r)
const Call calls[] = {
    {"libcl_get_stats", [](int c, void *r) { return libcl_get_stats(c, REC(libcl_stats *), 0); },
     "WARNING: %s: Channel %d: stats is NULL\n"},
    {"libcl_get_shutter_and_gain",
     [](int c, void *r) { return libcl_get_shutter_and_gain(c, REC(shutter_gain *)); },
     "WARNING: %s: Channel %d: shutter_gain is NULL\n"},
    {"libcl_set_shutter_and_gain",
     [](int c, void *r) { return libcl_set_shutter_and_gain(c, REC(shutter_gain *)); },
     "WARNING: %s: Channel %d: shutter_gain is NULL\n"},
    {"libcl_get_aaa_state", [](int c, void *r) { return libcl_get_aaa_state(c, REC(aaa_state *)); },
     "ERROR: %s: Channel %d aaa_state is null\n"},
    {"libcl_set_aaa_state", [](int c, void *r) { return libcl_set_aaa_state(c, REC(aaa_state *)); },
     "ERROR: %s: Channel %d aaa_state is null\n"},
    {"libcl_get_vin_aaa_info", [](int c, void *r) { return libcl_get_vin_aaa_info(c, REC(vin_aaa_info *)); },
     "ERROR: %s: Channel %d info is null\n"},
    {"libcl_get_black_level",
     [](int c, void *r) { return libcl_get_black_level(c, REC(libcl_black_level *)); },
     "WARNING: %s: Channel %d: black level is NULL\n"},
    {"libcl_set_black_level",
     [](int c, void *r) { return libcl_set_black_level(c, REC(libcl_black_level *)); },
     "WARNING: %s: Channel %d: black level is NULL\n"},
    {"libcl_set_chroma_scale",
     [](int c, void *r) { return libcl_set_chroma_scale(c, REC(libcl_chroma_scale *)); },
     "WARNING: %s: Channel %d: chroma scale is NULL\n"},
    {"libcl_set_sharpness_coring", [](int c, void *) { return libcl_set_sharpness_coring(c, 3); }, nullptr},
    {"libcl_set_local_exposure",
     [](int c, void *r) { return libcl_set_local_exposure(c, REC(libcl_local_exposure *)); },
     "%s: Channel %d: local exposure is NULL\n"},
    {"libcl_get_hdr_blend_config",
     [](int c, void *r) { return libcl_get_hdr_blend_config(c, REC(uint16_t *)); },
     "ERROR: %s: Channel %d hdr_blend_info is null\n"},
    {"libcl_get_hdr_threshold", [](int c, void *r) { return libcl_get_hdr_threshold(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d hdr_threshold is null\n"},
    {"libcl_set_hdr_threshold", [](int c, void *r) { return libcl_set_hdr_threshold(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d hdr_threshold is null\n"},
    {"libcl_get_hdr_alpha_value",
     [](int c, void *r) { return libcl_get_hdr_alpha_value(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d alpha_value is null\n"},
    {"libcl_set_hdr_alpha_value",
     [](int c, void *r) { return libcl_set_hdr_alpha_value(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d alpha_value is null\n"},
    {"libcl_get_ce_config", [](int c, void *r) { return libcl_get_ce_config(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d ce_values is null\n"},
    {"libcl_set_ce_config", [](int c, void *r) { return libcl_set_ce_config(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d ce_values is null\n"},
    {"libcl_get_ce_log_config", [](int c, void *r) { return libcl_get_ce_log_config(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d ce_values is null\n"},
    {"libcl_set_ce_log_config", [](int c, void *r) { return libcl_set_ce_log_config(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d ce_values is null\n"},
    {"libcl_set_hdr_extern_lut", [](int c, void *r) { return libcl_set_hdr_extern_lut(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d LUT is null\n"},
    {"libcl_get_hdr_extern_lut", [](int c, void *r) { return libcl_get_hdr_extern_lut(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d LUT is null\n"},
    {"libcl_set_hdr_extern_drc", [](int c, void *r) { return libcl_set_hdr_extern_drc(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d DRC is null\n"},
    {"libcl_set_custom_hdr_luma_calc", [](int c, void *) { return libcl_set_custom_hdr_luma_calc(c); },
     nullptr},
    {"libcl_enable_tone_curve", [](int c, void *) { return libcl_enable_tone_curve(c, 1); }, nullptr},
    {"libcl_set_tone_curve", [](int c, void *r) { return libcl_set_tone_curve(c, REC(uint16_t *)); },
     "ERROR: %s: Channel %d tone curve is null\n"},
    {"libcl_get_tone_curve", [](int c, void *r) { return libcl_get_tone_curve(c, REC(uint16_t *)); },
     "ERROR: %s: Channel %d tone curve is null\n"},
    {"libcl_set_tc_curve", [](int c, void *r) { return libcl_set_tc_curve(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d tone curve is null\n"},
    {"libcl_get_tc_curve", [](int c, void *r) { return libcl_get_tc_curve(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d tone curve is null\n"},
    {"libcl_set_filter_dboffset", [](int c, void *) { return libcl_set_filter_dboffset(c, 1.0); }, nullptr},
    {"libcl_set_shutter_correction", [](int c, void *) { return libcl_set_shutter_correction(c, 1.0); },
     nullptr},
    {"libcl_update_adj_index", [](int c, void *) { return libcl_update_adj_index(c, 1.0); }, nullptr},
    {"libcl_set_bw_mode", [](int c, void *) { return libcl_set_bw_mode(c, 1); }, nullptr},
    {"libcl_get_bw_mode", [](int c, void *r) { return libcl_get_bw_mode(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d BW enable is null\n"},
    {"libcl_set_brightness_ctrl", [](int c, void *r) { return libcl_set_brightness_ctrl(c, REC(int32_t *)); },
     "ERROR: %s: Channel %d brightness is null\n"},
    {"libcl_set_saturation_ctrl", [](int c, void *r) { return libcl_set_saturation_ctrl(c, REC(int32_t *)); },
     "ERROR: %s: Channel %d saturation is null\n"},
    {"libcl_set_sharpness_ctrl", [](int c, void *r) { return libcl_set_sharpness_ctrl(c, REC(int32_t *)); },
     "ERROR: %s: Channel %d sharpness_level is null\n"},
    {"libcl_set_wb_gains", [](int c, void *r) { return libcl_set_wb_gains(c, REC(libcl_wb_gains *)); },
     "ERROR: %s: Channel %d wb_gain is null\n"},
    {"libcl_get_wb_gains", [](int c, void *r) { return libcl_get_wb_gains(c, REC(libcl_wb_gains *)); },
     "ERROR: %s: Channel %d wb_gain is null\n"},
    {"libcl_get_sensor_wb_gains",
     [](int c, void *r) { return libcl_get_sensor_wb_gains(c, REC(libcl_sensor_wb_gains *)); },
     "ERROR: %s: Channel %d wb_sensor_gain is null\n"},
    {"libcl_set_awb_flow", [](int c, void *) { return libcl_set_awb_flow(c, 1); }, nullptr},
    {"libcl_set_awb_speed", [](int c, void *) { return libcl_set_awb_speed(c, 1); }, nullptr},
    {"libcl_set_hdr_boost_strength",
     [](int c, void *r) { return libcl_set_hdr_boost_strength(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d hdr_boost_str is null\n"},
    {"libcl_get_hdr_mode", [](int c, void *r) { return libcl_get_hdr_mode(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d mode is null\n"},
    {"libcl_get_hdr_method", [](int c, void *r) { return libcl_get_hdr_method(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d hdr_method is null\n"},
    {"libcl_set_hdr_alpha_table",
     [](int c, void *r) { return libcl_set_hdr_alpha_table(c, REC(uint32_t *)); },
     "ERROR: %s: Channel %d hdr_alpha_table is null\n"},
    {"libcl_set_global_dgain", [](int c, void *) { return libcl_set_global_dgain(c, 4096); }, nullptr},
    {"libcl_get_hdr_blend", [](int c, void *r) { return libcl_get_hdr_blend(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d hdr_blend is null\n"},
    {"libcl_set_hdr_blend", [](int c, void *r) { return libcl_set_hdr_blend(c, REC(uint8_t *)); },
     "ERROR: %s: Channel %d hdr_blend is null\n"},
    {"libcl_set_low_light_mode", [](int c, void *) { return libcl_set_low_light_mode(c, 1); }, nullptr},
    {"libcl_override_shutter_ratio", [](int c, void *) { return libcl_override_shutter_ratio(c, 2.0f); },
     nullptr},
    {"libcl_enable_ldc", [](int c, void *r) { return libcl_enable_ldc(c, r); },
     "ERROR: %s: Channel %d ldc params are null\n"},
    {"libcl_disable_ldc", [](int c, void *) { return libcl_disable_ldc(c); }, nullptr},
};
#undef REC

std::string format(const char *fmt, const char *name, int channel)
{
	char text[256];
	snprintf(text, sizeof text, fmt, name, channel);
	return text;
}

int priority_of(const char *fmt)
{
	if (!strncmp(fmt, "ERROR:", 6))
		return LOG_ERR;
	return strncmp(fmt, "WARNING:", 8) ? LOG_INFO : LOG_WARNING;
}

class LibclApi : public LibclTest
{
};

TEST_F(LibclApi, EveryCallNeedsTheLibraryInitialised)
{
	for (const Call &c : calls) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.call(0, record), -1);
		EXPECT_EQ(logged(format("%s libcl is not initialized\n\n", c.name, 0), LOG_DEBUG), 1);
	}
	uint32_t started = 7;
	EXPECT_EQ(libcl_get_aaa_started(&started), -1);
	EXPECT_EQ(started, 7u);
	EXPECT_EQ(logged("libcl_get_aaa_started libcl is not initialized\n\n", LOG_DEBUG), 1);
	EXPECT_EQ(libcl_get_stats_all((libcl_stats *)record, 0), -1);
	EXPECT_EQ(logged("libcl_get_stats_all libcl is not initialized\n\n", LOG_DEBUG), 1);
	EXPECT_EQ(libcl_open_stats_fd(), -1);
	EXPECT_EQ(logged("WARNING: libcl_open_stats_fd libcl is not initialized\n\n", LOG_WARNING), 1);
	EXPECT_EQ(libcl_open_stats_fd_by_vin(1), -1);
	EXPECT_EQ(libcl_close_stats_fd(99), -1);
}

TEST_F(LibclApi, OnlyChannelZeroIsServedEvenWithFourVins)
{
	start_library(4);
	for (const Call &c : calls) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.call(1, record), -1);
		EXPECT_EQ(logged(format("WARNING: %s: Channel %d is not between 0 and 0\n", c.name, 1),
		                 LOG_WARNING),
		          1);
	}
}

TEST_F(LibclApi, CallsBeforeThe3AStartsAreRefused)
{
	init_library();
	for (const Call &c : calls) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.call(0, record), -1);
		EXPECT_EQ(logged(format("%s: aaa is not started\n", c.name, 0), LOG_DEBUG), 1);
	}
	EXPECT_EQ(started(), 0u);
	EXPECT_EQ(libcl_get_stats_all((libcl_stats *)record, 0), -1);
	EXPECT_EQ(logged("libcl_get_stats_all: aaa is not started\n", LOG_DEBUG), 1);
}

TEST_F(LibclApi, NullRecordsAreRefusedWithTheirMessage)
{
	start_library();
	for (const Call &c : calls) {
		if (!c.null_message)
			continue;
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.call(0, nullptr), -1);
		EXPECT_EQ(logged(format(c.null_message, c.name, 0), priority_of(c.null_message)), 1);
	}
	EXPECT_EQ(libcl_get_aaa_started(nullptr), -1);
	EXPECT_EQ(logged("ERROR: libcl_get_aaa_started: aaa_started is null\n", LOG_ERR), 1);
	EXPECT_EQ(libcl_get_stats_all(nullptr, 0), -1);
	EXPECT_EQ(logged("WARNING: libcl_get_stats_all: Channel all: stats is NULL\n", LOG_WARNING), 1);
}

TEST_F(LibclApi, ValuesOutsideTheirRangeAreRefused)
{
	start_library();
	struct {
		int (*call)(void);
		const char *message; // nullptr: accepted
	} cases[] = {
	    {[] { return libcl_enable_tone_curve(0, -2); },
	     "ERROR: libcl_enable_tone_curve: Channel 0 TC mode -2 is incorrect\n"},
	    {[] { return libcl_enable_tone_curve(0, 3); },
	     "ERROR: libcl_enable_tone_curve: Channel 0 TC mode 3 is incorrect\n"},
	    {[] { return libcl_update_adj_index(0, -0.5); },
	     "ERROR: libcl_update_adj_index: Channel 0 gain cannot be negativ\n"},
	    {[] { return libcl_set_bw_mode(0, 2); },
	     "ERROR: libcl_set_bw_mode: Invalid value for black & white mode for channel 0\n"},
	    {[] { return libcl_set_awb_flow(0, -1); },
	     "ERROR: libcl_set_awb_flow: Channel 0 wb_mode is null\n"},
	    {[] { return libcl_set_global_dgain(0, -1); },
	     "ERROR: libcl_set_global_dgain: Channel 0 global_dgain is invalid\n"},
	    {[] { return libcl_set_low_light_mode(0, 2); },
	     "ERROR: libcl_set_low_light_mode: Channel 0 low_light_mode is null\n"},
	    {[] { return libcl_override_shutter_ratio(0, -1.0f); },
	     "ERROR: libcl_override_shutter_ratio: Channel 0 shutter should be positive\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.message);
		clear_messages();
		EXPECT_EQ(c.call(), -1);
		EXPECT_EQ(logged(c.message, LOG_ERR), 1);
	}
	// The ends of each range pass the check.
	clear_messages();
	for (int mode = -1; mode <= 2; mode++)
		libcl_enable_tone_curve(0, mode);
	libcl_update_adj_index(0, 0.0);
	EXPECT_EQ(logged("ERROR: libcl_enable_tone_curve: Channel 0 TC mode -1 is incorrect\n"), 0);
	EXPECT_EQ(logged("ERROR: libcl_enable_tone_curve: Channel 0 TC mode 2 is incorrect\n"), 0);
	EXPECT_EQ(logged("ERROR: libcl_update_adj_index: Channel 0 gain cannot be negativ\n"), 0);
}

TEST_F(LibclApi, CallsWithoutEffectSucceed)
{
	start_library();
	EXPECT_EQ(libcl_set_filter_dboffset(0, 3.5), 0);
	EXPECT_EQ(libcl_set_awb_speed(0, 5), 0);
	EXPECT_EQ(libcl_get_hdr_blend(0, record), 0);
	EXPECT_EQ(libcl_set_hdr_blend(0, record), 0);
	EXPECT_EQ(libcl_set_low_light_mode(0, 1), 0);
	EXPECT_EQ(libcl_override_shutter_ratio(0, 2.0f), 0);
	EXPECT_EQ(libcl_enable_ldc(0, record), 0);
	EXPECT_EQ(libcl_disable_ldc(0), 0);
}

TEST_F(LibclApi, SecondInitOpensNothing)
{
	ASSERT_EQ(libcl_init(1024, 1, nullptr, nullptr), 1);
	// The customer loop's "/dev/qvd", the netlink client's and its socket.
	int open_after_first = simsoc_open_files();
	EXPECT_EQ(open_after_first, 3);
	EXPECT_EQ(libcl_init(1029, 2, nullptr, nullptr), 1);
	EXPECT_EQ(simsoc_open_files(), open_after_first);
	libcl_deinit();
	EXPECT_EQ(simsoc_open_files(), 0);
	libcl_deinit(); // a second one is harmless
}

TEST_F(LibclApi, BadVinCountFailsInitCleanly)
{
	for (int32_t vins : {0, 5}) {
		clear_messages();
		EXPECT_EQ(libcl_init(1024, vins, nullptr, nullptr), 0);
		EXPECT_EQ(logged("ERROR: failed to init customerloop\n", LOG_ERR), 1);
		EXPECT_EQ(simsoc_open_files(), 0);
	}
}

// Before a frame is parsed the histograms and the AF tiles read 0; the AF
// grid is the one the tuning configured; the gap after the tiles and
// everything past the block's written part keep the caller's bytes.
TEST_F(LibclApi, StatisticsFillChannelZerosWrittenPartOnly)
{
	start_library();
	static uint8_t blocks[2 * LIBCL_STATS_SIZE];
	memset(blocks, 0xAA, sizeof blocks);
	ASSERT_EQ(libcl_get_stats_all((libcl_stats *)blocks, 0), 0);
	const uint32_t grid[4] = {8, 5, 435, 512};
	// Up to the end of the AF tiles the block holds the last parse, which the
	// ticker may or may not have given yet (the frame loop's tests compare
	// those bytes with the parse); what follows is the caller's or the grid's.
	for (size_t i = 0; i < sizeof blocks; i++) {
		if (i < 5120 + 6 * 96)
			continue;
		uint8_t want = 0xAA;
		if (i >= 6672 && i < LIBCL_STATS_WRITTEN)
			want = ((const uint8_t *)grid)[i - 6672];
		ASSERT_EQ(blocks[i], want) << "byte " << i;
	}
}

TEST_F(LibclApi, ReadersOnAnotherThreadDuringStartAndStop)
{
	init_library();
	std::atomic<bool> done{false};
	std::atomic<int> served{0};
	std::thread reader([&] {
		static libcl_stats stats;
		while (!done) {
			uint32_t s = 0;
			libcl_get_aaa_started(&s);
			if (libcl_get_stats(0, &stats, 0) == 0)
				served++;
		}
	});
	for (int i = 0; i < 3; i++) {
		ASSERT_EQ(simsoc_video_start(0), 0);
		EXPECT_TRUE(eventually([&] { return served > 0; }));
		ASSERT_EQ(simsoc_video_stop(0), 0);
		EXPECT_EQ(started(), 0u);
		served = 0;
	}
	done = true;
	reader.join();
}

} // namespace

// The sensor object: what every wrapper answers for a missing sensor,
// platform or slot, the generic capture-mode switch, the published limits,
// the exposure fallback and the operations nothing calls yet. The platform's
// stream steps are replaced at link time by recorders.
#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "platform/sensor.h"

namespace
{

std::vector<std::string> calls;

std::string joined()
{
	std::string out;
	for (auto &c : calls)
		out += (out.empty() ? "" : " ") + c;
	return out;
}

void record_sleep(uint32_t ms)
{
	calls.push_back("sleep(" + std::to_string(ms) + ")");
}

} // namespace

extern "C" {
int __wrap_platform_stream_stop(platform *, int32_t s)
{
	calls.push_back("stop(" + std::to_string(s) + ")");
	return PLATFORM_OK;
}
int __wrap_platform_stream_start(platform *, int32_t s)
{
	calls.push_back("start(" + std::to_string(s) + ")");
	return PLATFORM_OK;
}
} // extern "C"

namespace
{

enum {
	P_MAX_GAIN_DB = 69,
	P_LINE_TIME = 70,
	P_MIN_EXPOSURE = 71,
	P_MAX_EXPOSURE = 72,
	P_MAX_FRAMERATE = 73,
	P_PRODUCT_MAX_GAIN = 105,
	P_AREA_CHANGED = 143,
};

// What a slot answers when it was called, unlike every default.
constexpr int SLOT = 77;

class Sensor : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		calls.clear();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		old_sleep = sensor_set_sleep(record_sleep);
	}
	void TearDown() override
	{
		sensor_set_sleep(old_sleep);
		param_db_free();
		param_map_free();
	}
	int32_t param(uint32_t id, int32_t stream_id)
	{
		int32_t value = -999;
		return param_get_int(id, stream_id, &value) == 0 ? value : -999;
	}
	platform plat{};
	sensor_sleep_fn old_sleep = nullptr;
	LogCapture log;
};

struct sensor_deleter {
	void operator()(sensor *s) const
	{
		sensor_free(s);
	}
};
using sensor_ptr = std::unique_ptr<sensor, sensor_deleter>;

// A sensor whose every slot answers SLOT.
void fill_slots(sensor *s)
{
	s->setup = [](sensor *, int32_t) { return SLOT; };
	s->reserved1 = [](sensor *, void *) { return SLOT; };
	s->reinit = [](sensor *, void *) { return SLOT; };
	s->set_capture_mode = [](sensor *, uint32_t, uint32_t, uint32_t) { return SLOT; };
	s->mode_is_wdr = [](sensor *, uint32_t) { return SLOT; };
	s->get_mode_info = [](sensor *, prodconf_area *, uint32_t, uint32_t, uint32_t, int32_t) {
		return SLOT;
	};
	s->apply_mode = [](sensor *, prodconf_area *, int32_t) { return SLOT; };
	s->set_syncadjust = [](sensor *, int32_t, int32_t) { return SLOT; };
	s->set_shutter = [](sensor *, int32_t, int32_t) { return SLOT; };
	s->set_shutters = [](sensor *, int, const int32_t *, const int32_t *, int32_t *) { return SLOT; };
	s->reserved2 = [](sensor *, void *) { return (int32_t)SLOT; };
	s->set_gain_index = [](sensor *, int32_t, int32_t) { return SLOT; };
	s->set_gains = [](sensor *, int, const int32_t *, const int32_t *) { return SLOT; };
	s->get_gain_index = [](sensor *, int32_t) { return (int32_t)SLOT; };
	s->lines_to_exposure = [](sensor *, int32_t) { return (int32_t)SLOT; };
	s->set_exposures = [](sensor *, int32_t, int, const int32_t *, int32_t *, int32_t *) { return SLOT; };
	s->exposure_to_lines = [](sensor *, int32_t) { return (int32_t)SLOT; };
	s->exposure_to_lines_for_frame = [](sensor *, int32_t, int32_t) { return (int32_t)SLOT; };
	s->reserved3 = [](sensor *, void *) { return (int32_t)SLOT; };
	s->get_black_level = [](sensor *) { return (int32_t)SLOT; };
	s->get_wdr_mode = [](sensor *) { return (int32_t)SLOT; };
	s->reserved4 = [](sensor *, void *) { return (int32_t)SLOT; };
	s->get_mode_max_fps = [](sensor *, uint32_t, uint32_t) { return (int32_t)SLOT; };
}

struct wrapper_row {
	const char *name;
	std::function<int(sensor *)> call;
	int missing; // the answer without sensor, platform or slot
	bool any_platform;
	int present = SLOT; // with all three
};

const std::vector<wrapper_row> &wrappers()
{
	static int32_t ids[1] = {0};
	static int32_t values[1] = {100};
	static int32_t out[1];
	static prodconf_area area[PRODCONF_AREA_WINDOWS];
	static const std::vector<wrapper_row> rows = {
	    {"setup", [](sensor *s) { return sensor_setup(s, 0); }, -1, false},
	    {"reserved1", [](sensor *s) { return sensor_reserved1(s, nullptr); }, -1, false},
	    {"reinit", [](sensor *s) { return sensor_reinit(s, nullptr); }, -1, false},
	    {"set_capture_mode", [](sensor *s) { return sensor_set_capture_mode(s, 30, 0, 0); }, 0, false},
	    {"mode_is_wdr", [](sensor *s) { return sensor_mode_is_wdr(s, 30); }, 0, false},
	    {"get_mode_info", [](sensor *s) { return sensor_get_mode_info(s, area, 30, 0, 0, 0); }, 0, false},
	    {"apply_mode", [](sensor *s) { return sensor_apply_mode(s, area, 0); }, -1, false},
	    {"set_syncadjust", [](sensor *s) { return sensor_set_syncadjust(s, 1, 2); }, -1, false},
	    {"set_shutter", [](sensor *s) { return sensor_set_shutter(s, 100, 0); }, -1, false},
	    {"set_shutters", [](sensor *s) { return sensor_set_shutters(s, 1, ids, values, out); }, -1, true},
	    {"reserved2", [](sensor *s) { return (int)sensor_reserved2(s, nullptr); }, 16384, true},
	    // The slot's own non-zero answer is a refusal.
	    {"set_gain_index", [](sensor *s) { return sensor_set_gain_index(s, 1, 0); }, -1, false, -1},
	    {"set_gains", [](sensor *s) { return sensor_set_gains(s, 1, values, ids); }, -1, false},
	    {"get_gain_index", [](sensor *s) { return (int)sensor_get_gain_index(s, 0); }, -1, false},
	    {"get_black_level", [](sensor *s) { return (int)sensor_get_black_level(s); }, -1, false},
	    {"exposure_to_lines", [](sensor *s) { return (int)sensor_exposure_to_lines(s, 100); }, -1, false},
	    {"exposure_to_lines_for_frame",
	     [](sensor *s) { return (int)sensor_exposure_to_lines_for_frame(s, 100, 0); }, -1, false},
	    {"lines_to_exposure", [](sensor *s) { return (int)sensor_lines_to_exposure(s, 10); }, -1, false},
	    // Without slots the fallback sets one frame through a missing shutter slot.
	    {"set_exposures", [](sensor *s) { return sensor_set_exposures(s, 16384, 1, ids, values, out); },
	     -1, false},
	    {"reserved3", [](sensor *s) { return (int)sensor_reserved3(s, nullptr); }, 0, false},
	    {"get_wdr_mode", [](sensor *s) { return (int)sensor_get_wdr_mode(s); }, 0, false},
	    {"reserved4", [](sensor *s) { return (int)sensor_reserved4(s, nullptr); }, 0, false},
	    {"get_mode_max_fps", [](sensor *s) { return (int)sensor_get_mode_max_fps(s, 30, 0); }, -1, true},
	};
	return rows;
}

TEST_F(Sensor, EveryWrapperAnswersItsDefaultWhenSomethingIsMissing)
{
	sensor_ptr bare(sensor_new());
	bare->platform = &plat;
	sensor_ptr unplugged(sensor_new());
	fill_slots(unplugged.get());
	sensor_ptr full(sensor_new());
	fill_slots(full.get());
	full->platform = &plat;
	full->max_exposure_time = 1000; // apply_mode publishes the limits
	for (const wrapper_row &w : wrappers()) {
		SCOPED_TRACE(w.name);
		EXPECT_EQ(w.missing, w.call(nullptr));
		EXPECT_EQ(w.missing, w.call(bare.get()));
		EXPECT_EQ(w.any_platform ? SLOT : w.missing, w.call(unplugged.get()));
		EXPECT_EQ(w.present, w.call(full.get()));
	}
	EXPECT_EQ(36u, bare->type);
}

TEST_F(Sensor, SyncAdjustWithoutTheSlotSaysSo)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	EXPECT_EQ(-1, sensor_set_syncadjust(s.get(), 3, 4));
	EXPECT_EQ("set_syncadjust not supported by sensor\n", log.text(DEBUG_ERROR));
}

TEST_F(Sensor, ExposureToLinesForFrameFallsBackToExposureToLines)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->exposure_to_lines = [](sensor *, int32_t us) { return us / 31; };
	EXPECT_EQ(100, sensor_exposure_to_lines_for_frame(s.get(), 3100, 257));
}

// A SoC sensor has no apply_mode slot: its mode is complete once set.
TEST_F(Sensor, ApplyModeWithoutTheSlotTouchesNothing)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->max_fps = 30;
	prodconf_area area[PRODCONF_AREA_WINDOWS] = {};
	EXPECT_EQ(-1, sensor_apply_mode(s.get(), area, 0));
	EXPECT_EQ("", joined());
	EXPECT_EQ(-999, param(P_MAX_FRAMERATE, 0));
	EXPECT_EQ(-999, param(P_AREA_CHANGED, 0));
}

TEST_F(Sensor, ApplyModeStopsAppliesPausesStartsAndPublishes)
{
	param_set_fix(P_PRODUCT_MAX_GAIN, -1, 128 * 16384);
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->apply_mode = [](sensor *, prodconf_area *, int32_t stream_id) {
		calls.push_back("apply(" + std::to_string(stream_id) + ")");
		return 0;
	};
	s->min_gain = 16384;
	s->line_time = 31 * 16384 + 8192; // 31.5 us
	s->max_fps = 25;
	s->min_exposure_time = 32;
	s->max_exposure_time = 3000000;
	prodconf_area area[PRODCONF_AREA_WINDOWS] = {};
	EXPECT_EQ(0, sensor_apply_mode(s.get(), area, 256));
	EXPECT_EQ("stop(256) apply(256) sleep(100) start(256)", joined());
	EXPECT_EQ(42, param(P_MAX_GAIN_DB, 256)); // 20 log10(128) = 42.1
	EXPECT_EQ(32, param(P_LINE_TIME, 256));
	EXPECT_EQ(25000, param(P_MAX_FRAMERATE, 256));
	EXPECT_EQ(32, param(P_MIN_EXPOSURE, 256));
	EXPECT_EQ(2000000, param(P_MAX_EXPOSURE, 256));
	EXPECT_EQ(1, param(P_AREA_CHANGED, 256));

	// A failed switch still restarts the stream but publishes nothing.
	calls.clear();
	param_db_free();
	ASSERT_NE(nullptr, param_db_init());
	s->apply_mode = [](sensor *, prodconf_area *, int32_t) { return -3; };
	EXPECT_EQ(-3, sensor_apply_mode(s.get(), area, 256));
	EXPECT_EQ("stop(256) sleep(100) start(256)", joined());
	EXPECT_EQ(-999, param(P_AREA_CHANGED, 256));
}

TEST_F(Sensor, PublishedLimits)
{
	struct row {
		int32_t min_gain, product_max_gain, max_exposure, line_time;
		int32_t gain_db, published_exposure, published_line_time;
	} rows[] = {
	    {16384, 128 * 16384, 1500000, 31 * 16384, 42, 1500000, 31},
	    {2 * 16384, 128 * 16384, 2000000, 31 * 16384 + 8191, 36, 2000000, 31},
	    {16384, 16384, 2000001, 16384 / 2, 0, 2000000, 1},
	    {0, 128 * 16384, 40000, 16384, -999, 40000, 1}, // no gain table: no gain range
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.min_gain);
		param_db_free();
		ASSERT_NE(nullptr, param_db_init());
		param_set_fix(P_PRODUCT_MAX_GAIN, -1, r.product_max_gain);
		sensor_ptr s(sensor_new());
		s->min_gain = r.min_gain;
		s->max_exposure_time = r.max_exposure;
		s->line_time = r.line_time;
		s->max_fps = 12;
		sensor_publish_limits(s.get(), 0);
		EXPECT_EQ(r.gain_db, param(P_MAX_GAIN_DB, 0));
		EXPECT_EQ(r.published_exposure, param(P_MAX_EXPOSURE, 0));
		EXPECT_EQ(r.published_line_time, param(P_LINE_TIME, 0));
		EXPECT_EQ(12000, param(P_MAX_FRAMERATE, 0));
	}
	EXPECT_EQ(-1, sensor_set_max_fps(nullptr, 5, 0));
}

TEST_F(Sensor, SetMaxFpsStoresAndPublishes)
{
	sensor_ptr s(sensor_new());
	EXPECT_EQ(0, sensor_set_max_fps(s.get(), 12, 256));
	EXPECT_EQ(12, sensor_get_max_fps(s.get()));
	EXPECT_EQ(12000, param(P_MAX_FRAMERATE, 256));
}

// Frame by frame through set_shutter: each frame's request is capped at the
// exposure the frame before got times the ratio, truncated.
TEST_F(Sensor, SetExposuresFallsBackToOneShutterAFrame)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->exposure_to_lines_for_frame = [](sensor *, int32_t us, int32_t) { return us / 10; };
	s->lines_to_exposure = [](sensor *, int32_t lines) { return lines * 10 + 1; };
	s->set_shutter = [](sensor *, int32_t lines, int32_t stream_id) {
		calls.push_back(std::to_string(lines) + "@" + std::to_string(stream_id));
		return 0;
	};
	int32_t ids[3] = {1, 0, 5};
	int32_t requested[3] = {1000, 5000, 200};
	int32_t actual[3] = {};
	EXPECT_EQ(0, sensor_set_exposures(s.get(), 8192, 3, ids, requested, actual));
	EXPECT_EQ("100@1 50@0 20@5", joined());
	EXPECT_EQ(500, requested[1]); // 1001 x 0.5
	EXPECT_EQ(200, requested[2]);
	EXPECT_EQ(1001, actual[0]);
	EXPECT_EQ(501, actual[1]);
	EXPECT_EQ(201, actual[2]);

	// A missing shutter slot counts -1 a frame.
	s->set_shutter = nullptr;
	EXPECT_EQ(-3, sensor_set_exposures(s.get(), 16384, 3, ids, requested, actual));
}

TEST_F(Sensor, SetExposuresHandsAllFramesToSetShutters)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->exposure_to_lines_for_frame = [](sensor *, int32_t us, int32_t stream_id) {
		return us / 10 + stream_id;
	};
	s->lines_to_exposure = [](sensor *, int32_t lines) { return lines * 10; };
	// Like the WDR modules, it always reads and writes two frames.
	s->set_shutters = [](sensor *, int count, const int32_t *, const int32_t *lines, int32_t *out) {
		calls.push_back(std::to_string(count) + ":" + std::to_string(lines[0]) + "," +
		                std::to_string(lines[1]));
		out[0] = lines[0] + 1;
		out[1] = lines[1] + 1;
		return 4;
	};
	int32_t ids[4] = {0, 1, 2, 3};
	int32_t requested[4] = {1000, 2000, 3000, 4000};
	int32_t actual[4] = {};
	EXPECT_EQ(4, sensor_set_exposures(s.get(), 16384, 1, ids, requested, actual));
	EXPECT_EQ(1010, actual[0]);
	EXPECT_EQ(4, sensor_set_exposures(s.get(), 16384, 4, ids, requested, actual));
	EXPECT_EQ(1010, actual[0]);
	EXPECT_EQ(2020, actual[1]);
	EXPECT_EQ(0, actual[3]); // the slot wrote two frames; the others read its zeroed scratch
	EXPECT_EQ(4, sensor_set_exposures(s.get(), 16384, 0, nullptr, nullptr, nullptr));
	EXPECT_EQ("1:100,0 4:100,201 0:100,201", joined());
}

TEST_F(Sensor, SetGainIndexPicksTheReadNoiseAndPublishes)
{
	sensor_ptr s(sensor_new());
	s->platform = &plat;
	s->read_noise_min_gain = 5 * 16384;
	s->set_gain_index = [](sensor *, int32_t index, int32_t) { return index == 3 ? 9 : 0; };
	EXPECT_EQ(0, sensor_set_gain_index(s.get(), 1000, 0)); // no table: any index
	EXPECT_EQ(5 * 16384, sensor_get_read_noise(s.get()));
	s->gain_table_size = 4;
	static const uint32_t noise[4] = {10, 20, 30, 40};
	s->read_noise_table = static_cast<uint32_t *>(g_memdup2(noise, sizeof(noise)));
	EXPECT_EQ(-1, sensor_set_gain_index(s.get(), 4, 0));
	EXPECT_EQ(-1, sensor_set_gain_index(s.get(), -1, 0));
	EXPECT_EQ(0, sensor_set_gain_index(s.get(), 2, 0));
	EXPECT_EQ(30, sensor_get_read_noise(s.get()));
	EXPECT_EQ(-1, sensor_set_gain_index(s.get(), 3, 0)); // the slot refused
}

TEST_F(Sensor, GettersOfAMissingSensorAndTheAreaFactor)
{
	EXPECT_EQ(0, sensor_get_line_time(nullptr));
	EXPECT_EQ(0, sensor_get_current_fps(nullptr));
	EXPECT_EQ(nullptr, sensor_get_gain_table(nullptr));
	sensor_ptr s(sensor_new());
	EXPECT_EQ(16384, sensor_get_area_factor(s.get()));
	s->area_factor = 8192;
	EXPECT_EQ(8192, sensor_get_area_factor(s.get()));
}

class SensorFiles : public Sensor
{
      protected:
	void SetUp() override
	{
		Sensor::SetUp();
		char tmpl[] = "/tmp/sensor-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		dir = tmpl;
	}
	void TearDown() override
	{
		EXPECT_EQ(0, system(("rm -rf '" + dir + "'").c_str()));
		Sensor::TearDown();
	}
	std::string file(const std::string &name, const std::vector<uint8_t> &bytes)
	{
		std::string path = dir + "/" + name;
		EXPECT_TRUE(g_file_set_contents(path.c_str(), reinterpret_cast<const char *>(bytes.data()),
		                                (gssize)bytes.size(), nullptr));
		return path;
	}
	std::string dir;
};

void put32(std::vector<uint8_t> &b, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		b.push_back((uint8_t)(v >> (8 * i)));
}

TEST_F(SensorFiles, FisheyeCalibrationReadsThreeWords)
{
	std::vector<uint8_t> bytes;
	put32(bytes, 7);
	put32(bytes, (uint32_t)-8);
	put32(bytes, 9);
	std::string good = file("fisheye", bytes);
	int32_t a = 0, b = 0, c = 0;
	EXPECT_EQ(0, sensor_get_fisheye_calibration(nullptr, good.c_str(), &a, &b, &c));
	EXPECT_EQ(7, a);
	EXPECT_EQ(-8, b);
	EXPECT_EQ(9, c);
	c = 0;
	EXPECT_EQ(0, sensor_get_fisheye_calibration(nullptr, good.c_str(), nullptr, nullptr, &c));
	EXPECT_EQ(9, c);

	bytes.resize(8);
	std::string short_file = file("short", bytes);
	a = 1;
	EXPECT_EQ(-1, sensor_get_fisheye_calibration(nullptr, short_file.c_str(), &a, &b, &c));
	EXPECT_EQ(1, a);
	std::string missing = dir + "/missing";
	EXPECT_EQ(-1, sensor_get_fisheye_calibration(nullptr, missing.c_str(), &a, &b, &c));
	EXPECT_EQ("sensor_get_fisheye_calibration: Failed to read calibration data\n"
	          "sensor_get_fisheye_calibration: Failed to open " +
	              missing + " for reading\n",
	          log.text(DEBUG_WARNING));
}

TEST_F(SensorFiles, GainFileGivesQ14ProductsAndWords)
{
	std::vector<uint8_t> bytes = {3};
	auto rec = [&](uint32_t first, uint32_t second, uint16_t word) {
		put32(bytes, first);
		put32(bytes, second);
		bytes.push_back((uint8_t)word);
		bytes.push_back((uint8_t)(word >> 8));
	};
	rec(65536, 131072, 7);     // 1.0 x 2.0
	rec(98304, 65536, 0xbeef); // 1.5 x 1.0
	rec(10, 98304, 1);         // 3 x 1.5 in Q14 is 4.5: rounded up
	file("gain_a", bytes);
	uint32_t *gains = nullptr;
	uint16_t *words = nullptr;
	ASSERT_EQ(3, sensor_read_gain_file((dir + "/gain_").c_str(), "a", &gains, &words));
	EXPECT_EQ(32768u, gains[0]);
	EXPECT_EQ(24576u, gains[1]);
	EXPECT_EQ(5u, gains[2]);
	EXPECT_EQ(7, words[0]);
	EXPECT_EQ(0xbeef, words[1]);
	g_free(gains);
	g_free(words);

	bytes[0] = 4; // a record short
	file("gain_b", bytes);
	file("gain_c", {});
	for (const char *name : {"b", "c", "missing"}) {
		SCOPED_TRACE(name);
		gains = nullptr;
		EXPECT_EQ(-1, sensor_read_gain_file((dir + "/gain_").c_str(), name, &gains, &words));
		EXPECT_EQ(nullptr, gains);
	}
}

// The history holds the last three steps; a new step goes towards v by what
// the history has not covered yet, within -1 % and +8 % of r.
TEST_F(Sensor, StepHistory)
{
	sensor_ptr s(sensor_new());
	struct {
		int32_t v, step;
	} steps[] = {
	    {50, 50},  // nothing taken yet
	    {200, 80}, // 150 to go, limited to 8 % of 1000
	    {100, 0},  // already past: 130 taken
	    {200, 70}, // 130 taken
	    {200, 50}, // the ring dropped the first step: 150 taken
	    {-5, 0},   // the history holds steps the other way
	    {0, 0},    // nothing wanted
	};
	for (auto &st : steps)
		EXPECT_EQ(st.step, sensor_history_step(s.get(), st.v, 1000)) << st.v;
	sensor_ptr fresh(sensor_new());
	EXPECT_EQ(-10, sensor_history_step(fresh.get(), -300, 1000));
	EXPECT_EQ(-10, sensor_history_step(fresh.get(), -300, 1000));
}

TEST_F(Sensor, ActiveAreaFromPixelPitch)
{
	sensor_ptr s(sensor_new());
	s->pixel_pitch = 36045; // 2.2 um
	prodconf_area window = {0, 0, 2591, 1943};
	sensor_set_active_area(s.get(), &window);
	EXPECT_EQ(93428, sensor_get_active_width(s.get()));
	EXPECT_EQ(70071, sensor_get_active_height(s.get()));
}

TEST_F(Sensor, DriverCallsPreferTheAttachedObject)
{
	sensor_ptr s(sensor_new());
	EXPECT_EQ(-1, sensor_driver_read(s.get(), nullptr));
	s->driver_op[0] = [](sensor *, void *) { return 21; };
	s->driver_op[1] = [](sensor *, void *) { return 22; };
	EXPECT_EQ(21, sensor_driver_read(s.get(), nullptr));
	EXPECT_EQ(22, sensor_driver_write(s.get(), nullptr));
	auto *driver = g_new0(sensor_driver, 1);
	driver->op[0] = [](sensor_driver *, void *argument) { return *static_cast<int *>(argument); };
	driver->destroy = [](sensor_driver *) { calls.push_back("destroy"); };
	s->driver = driver;
	int argument = 11;
	EXPECT_EQ(11, sensor_driver_read(s.get(), &argument));
	EXPECT_EQ(-1, sensor_driver_write(s.get(), &argument));
	sensor_driver_free(driver);
	s->driver = nullptr;
	EXPECT_EQ("destroy", joined());
}

TEST_F(Sensor, FreeRunsTheModulesFreeAndDropsTheScratch)
{
	sensor *s = sensor_new();
	s->platform = &plat;
	s->priv = g_malloc(8);
	s->free = [](sensor *self) {
		calls.push_back("free");
		g_free(self->priv);
	};
	s->set_shutters = [](sensor *, int, const int32_t *, const int32_t *, int32_t *) { return 0; };
	int32_t ids[3] = {}, requested[3] = {}, actual[3];
	sensor_set_exposures(s, 16384, 3, ids, requested, actual);
	sensor_free(s);
	EXPECT_EQ("free", joined());
	sensor_free(nullptr);

	// Without a free slot the object's own tables go.
	s = sensor_new();
	s->gain_table = g_new0(uint32_t, 4);
	s->gain_index_table = g_new0(uint32_t, 4);
	s->read_noise_table = g_new0(uint32_t, 4);
	s->priv = g_malloc(8);
	sensor_free(s);
}

} // namespace

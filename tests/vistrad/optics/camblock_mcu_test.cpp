// The common MCU camera block against the simulated lens controller: the
// register frames, the slots as (inputs, register writes, result), the
// initialisation and poll, and the temperature guard.

#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>

#include "core/control_temperature.h"
#include "core/daemon.h"
#include "core/info_pool.h"
#include "lens_mcu_fixture.h"
#include "optics/dome.h"
#include "optics/iris.h"
#include "optics/iris_hall.h"
#include "platform/sensor.h"

namespace
{

const int32_t ONE = 16384;

TEST_F(LensMcuTest, RegistersTravelInTheLensFrames)
{
	size_t mark = i2c_message_count();
	simsoc_lens_mcu_set(mcu_, 0x100, 0x0201);
	simsoc_lens_mcu_set(mcu_, 0x93D, 0xFF7F);
	EXPECT_EQ(0, camblock_write_register(block_, 0x302, 2));
	EXPECT_EQ(0x0201, camblock_read_register(block_, 0x100));
	EXPECT_EQ(0, camblock_write_register(block_, 0x1005, 0xABCD));
	EXPECT_EQ(0xFF7F, camblock_read_register(block_, 0x93D));
	EXPECT_EQ("i2c-1: 0x43 w 03 02 02 00\n"
	          "i2c-1: 0x43 w 81 00\n"
	          "i2c-1: 0x43 r 2\n"
	          "i2c-1: 0x43 w 10 05 cd ab\n"
	          "i2c-1: 0x43 w 89 3d\n"
	          "i2c-1: 0x43 r 2\n",
	          i2c_messages(mark));
	EXPECT_EQ("0x302=2\n0x1005=43981\n", writes());
	EXPECT_EQ("", protocol_errors());
	EXPECT_EQ((std::vector<TraceEvent>{{"i2c_done", 0x302, 2}, {"i2c_done", 0x1005, 0xABCD}}), events_);
}

TEST_F(LensMcuTest, AFailedAccessIsLoggedAndAFailedWriteStillTraced)
{
	simsoc_lens_mcu_fail(mcu_, 0x302, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, camblock_write_register(block_, 0x302, 2));
	EXPECT_EQ("Error: Input/output error\n", log_.text(DEBUG_ERROR));
	EXPECT_EQ((std::vector<TraceEvent>{{"i2c_done", 0x302, 2}}), events_);
	EXPECT_EQ("", writes());

	log_.clear();
	simsoc_lens_mcu_fail(mcu_, 0x100, SIMSOC_LENS_READ, ENXIO);
	EXPECT_EQ(-4, camblock_read_register(block_, 0x100));
	EXPECT_EQ("Error: No such device or address\n", log_.text(DEBUG_ERROR));
	// Only that register and direction fail.
	EXPECT_EQ(0, camblock_write_register(block_, 0x100, 1));
	EXPECT_EQ(0, camblock_read_register(block_, 0x200));
	EXPECT_EQ("", protocol_errors());
}

TEST_F(LensMcuTest, ADeviceThatDidNotOpenFailsEveryAccess)
{
	camblock_lens_device *dead = camblock_lens_device_open(plat_, "/nonexistent/i2c-1");
	EXPECT_EQ(-1, dead->fd);
	EXPECT_STREQ("/nonexistent/i2c-1", dead->path);
	camblock_lens_device *live = block_->mcu.device;
	block_->mcu.device = dead;
	EXPECT_EQ(-4, camblock_read_register(block_, 0x00C));
	EXPECT_EQ(-4, camblock_write_register(block_, 0x105, 67));
	EXPECT_EQ("Error: Bad file descriptor\nError: Bad file descriptor\n", log_.text(DEBUG_ERROR));
	block_->mcu.device = live;
	camblock_lens_device_free(plat_, dead);
}

TEST_F(LensMcuTest, DistanceIndexesAndDioptres)
{
	// p = 1638: behind infinity by the index's bits, in front by the table;
	// beyond the last curve the last two extrapolate.
	const struct {
		int32_t index;
		int32_t dioptres;
	} to_dioptres[] = {{-16384, -52416}, {0, 0}, {256, 819}, {512, 1638}, {4608, 163840}, {4864, 218456}};
	for (auto &c : to_dioptres)
		EXPECT_EQ(c.dioptres, camblock_distance_index_to_dioptres(block_, c.index)) << c.index;
	const struct {
		int32_t dioptres;
		int32_t dome_index;
		int32_t index;
	} to_index[] = {{-52429, 0, -16388}, {0, 0, 0},      {0, 300, 300},
	                {819, 0, 256},       {1638, 0, 512}, {163840, 0, 4608}};
	for (auto &c : to_index)
		EXPECT_EQ(c.index, camblock_dioptres_to_distance_index(block_, c.dioptres, c.dome_index))
		    << c.dioptres;
}

TEST_F(LensMcuTest, AnActiveDomeAddsItsPowerAndHoldsItsIndexInTheController)
{
	dome *d = dome_quorval_create();
	dome_set_owner(d, block_);
	camblock_set_dome(block_, d);
	ASSERT_EQ(0, dome_set_enabled(d, 1));
	int32_t index = dome_get_index(d);
	EXPECT_GT(index, 0);
	EXPECT_EQ("0x306=" + std::to_string(index) + "\n", writes());
	int32_t power = dome_get_power(d);
	EXPECT_EQ(camblock_dioptres_to_distance_index(block_, 5000 + power, 0),
	          camblock_dioptres_to_distance_index(block_, 5000, index));
	EXPECT_EQ(index, camblock_dioptres_to_distance_index(block_, 0, index));
	// Seen through the dome, a focus position lies the dome's power nearer.
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	int32_t p = trace_position(1200, 1536);
	EXPECT_EQ(lens_distances[3] - power, camblock_focus_position_to_dioptres(block_, 1200, p));
	// The block frees its dome when it goes.
}

TEST_F(LensMcuTest, FocusPositionsStayInTheMotorsTravelAndTheIndexBounds)
{
	EXPECT_EQ(trace_position(1200, 2560), camblock_distance_index_to_focus_position(block_, 1200, 2560));
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	focus_->mech_min = trace_position(1200, 1024);
	focus_->mech_max = trace_position(1200, 3584);
	for (int32_t index : {0, 1024, 2560, 3584, 4608})
		EXPECT_EQ(std::clamp(trace_position(1200, index), focus_->mech_min, focus_->mech_max),
		          camblock_distance_index_to_focus_position(block_, 1200, index))
		    << index;
	focus_->mech_min = 0;
	focus_->mech_max = 65535;
	// 24 dioptres lie beyond the nearest curve, 10 behind infinity beyond
	// the farthest index.
	EXPECT_EQ(trace_position(1200, 4608), camblock_dioptres_to_focus_position(block_, 1200, 24 * ONE));
	EXPECT_EQ(trace_position(1200, -16384), camblock_dioptres_to_focus_position(block_, 1200, -10 * ONE));
	EXPECT_EQ(trace_position(1200, 512), camblock_dioptres_to_focus_position(block_, 1200, 1638));
	// And back: a curve's position is its index, its dioptres the table's.
	int32_t p = trace_position(800, 1536);
	EXPECT_EQ(1536, camblock_focus_position_to_distance_index(block_, 800, p));
	EXPECT_EQ(lens_distances[3], camblock_focus_position_to_dioptres(block_, 800, p));
}

TEST_F(LensMcuTest, FocusLimitsFollowTheZoomAndReportTheCurrentDistance)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	zoom_->position = 900;
	focus_->value = 1536;
	focus_->value_is_position = 0;
	// 2 and 0.2 dioptres; the far limit 20 dioptres behind infinity is
	// clamped to the lowest index.
	EXPECT_EQ(lens_distances[3], camblock_set_focus_limits(block_, 32768, 3277));
	EXPECT_EQ(3584, block_->mcu.near_index);
	EXPECT_EQ(1024, block_->mcu.far_index);
	EXPECT_EQ(trace_position(900, 3584), focus_->max_limit);
	EXPECT_EQ(trace_position(900, 1024), focus_->min_limit);
	EXPECT_EQ(-16384, (camblock_set_focus_limits(block_, 32768, -20 * ONE), block_->mcu.far_index));

	// A focus value that is a position is read through the trace curves.
	focus_->value = trace_position(900, 2048);
	focus_->value_is_position = 1;
	EXPECT_EQ(lens_distances[4], camblock_set_focus_limits(block_, 32768, 0));
	// Once an index was requested, it is the current distance.
	EXPECT_EQ(0, camblock_set_distance_index(block_, 512));
	EXPECT_EQ(1638, camblock_set_focus_limits(block_, 32768, 0));
	EXPECT_EQ("0x303=512\n", writes());
}

TEST_F(LensMcuTest, ATraceCurveSetMovesTheFocusRange)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	zoom_->position = 1500;
	focus_->commanded = 1;
	EXPECT_EQ(0, camblock_set_trace_curve(block_, 2));
	EXPECT_EQ("0x305=2\n", writes());
	EXPECT_EQ(0, focus_->commanded);
	EXPECT_EQ(std::min(7500, (int32_t)camblock_trace_focus_position(block_->mcu.trace, 1500, 4608, 2, 0)),
	          focus_->max_limit);
	// A failed write changes nothing of that.
	simsoc_lens_mcu_fail(mcu_, 0x305, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(0, camblock_set_trace_curve(block_, 1));
	EXPECT_EQ(1u, block_->mcu.trace_set);
}

TEST_F(LensMcuTest, TraceModesAboveThreeAreRefusedWithoutAWrite)
{
	EXPECT_EQ(-4, camblock_set_trace_mode(block_, 4, 0, 0));
	EXPECT_EQ("camblock_mcu_common_set_trace_mode: trying to set invalid trace mode (4), ignore.\n",
	          log_.text(DEBUG_WARNING));
	EXPECT_EQ("", writes());
	EXPECT_EQ(4u, block_->mcu.trace_mode); // the dispatcher keeps the request
	EXPECT_EQ(0, camblock_set_trace_mode(block_, 3, 7, 7));
	EXPECT_EQ("0x302=3\n", writes());
	simsoc_lens_mcu_fail(mcu_, 0x302, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, camblock_set_trace_mode(block_, 0, 0, 0));
}

TEST_F(LensMcuTest, MotorTimingFollowsFrameRateSyncAndSpeed)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	int32_t rates[] = {15, 30};
	int32_t values[] = {40, 70};
	block_->mcu.timing_frame_rates = (int32_t *)g_memdup2(rates, sizeof(rates));
	block_->mcu.timing_values = (int32_t *)g_memdup2(values, sizeof(values));
	block_->mcu.timing_count = 2;
	const struct {
		int32_t frame_rate;
		int32_t sync_count;
		int32_t speed;
		const char *writes;
	} cases[] = {
	    // (128 f + 15) / 30 truncated, times the speed rounded half up
	    {30, 0, ONE, "0x103=128\n0x104=0\n0xe00=0\n0x304=70\n"},
	    {60, 0, ONE, "0x103=128\n0x104=0\n0xe00=0\n0x304=70\n"},
	    {10, 1, ONE, "0x103=64\n0x104=15\n0xe00=0\n0x304=40\n"},
	    {20, 0, ONE / 2, "0x103=43\n0x104=10\n0xe00=0\n0x304=50\n"},
	    {20, 0, 2 * ONE, "0x103=85\n0x104=10\n0xe00=0\n0x304=50\n"},
	    {20, 0, -ONE, "0x103=0\n0x104=10\n0xe00=0\n0x304=50\n"},
	    {25, 2, ONE, "0x103=107\n0x104=5\n0xe00=1\n0xe01=2\n0x304=96\n"},
	};
	for (auto &c : cases) {
		zoom_->speed = c.speed;
		EXPECT_EQ(0, camblock_set_motor_timing(block_, c.frame_rate, c.sync_count));
		EXPECT_EQ(c.writes, take_writes()) << c.frame_rate << " " << c.sync_count << " " << c.speed;
	}
	// A new speed goes out with the stored frame rate and sync count.
	EXPECT_EQ(0, camblock_set_motor_speed(block_, ONE / 4));
	EXPECT_EQ(ONE / 4, zoom_->speed);
	EXPECT_EQ("0x103=27\n0x104=5\n0xe00=1\n0xe01=2\n0x304=96\n", take_writes());
	// Failed writes do not stop the others.
	simsoc_lens_mcu_fail(mcu_, 0x103, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(0, camblock_set_motor_timing(block_, 30, 0));
	EXPECT_EQ("0x104=0\n0xe00=0\n0x304=70\n", take_writes());
}

TEST_F(LensMcuTest, FrameReportsCorrectTheSyncEveryThirtyFrames)
{
	const struct {
		int32_t sync_count;
		int32_t reports[30]; // repeated twice
		const char *writes;
	} cases[] = {
	    {0, {3, 3, 3}, ""},
	    {1, {3, 3, 3}, ""},
	    // 45 / 30 rounds half away from zero to 2: 2 - 2
	    {2,
	     {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
	     "0xe03=0\n0xe03=0\n"},
	    {3,
	     {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
	     "0xe03=2\n0xe03=2\n"},
	    {2,
	     {-3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3},
	     "0xe03=4\n0xe03=4\n"}, // -45 / 30 -> -2
	    {2, {7, 7}, ""},        // the mean rounds to 0: nothing to correct
	};
	for (auto &c : cases) {
		block_->mcu.sync_count = c.sync_count;
		for (int round = 0; round < 2; round++)
			for (int32_t r : c.reports)
				EXPECT_EQ(0, camblock_frame_report(block_, r));
		EXPECT_EQ(c.writes, take_writes()) << c.sync_count << " " << c.reports[0];
		EXPECT_EQ(0, block_->mcu.frame_report_count);
	}
}

TEST_F(LensMcuTest, LensTemperatureFromTheThermistor)
{
	const int32_t readings[] = {900, 700, 500};
	const int32_t temperatures[] = {-20 * ONE, 20 * ONE, 60 * ONE};
	int t = 0;
	EXPECT_EQ(1, camblock_get_lens_temperature(block_, &t));
	EXPECT_EQ(0, t); // no table
	block_->mcu.thermistor_readings = readings;
	block_->mcu.temperatures = temperatures;
	block_->mcu.thermistor_count = 3;
	const struct {
		uint16_t reading;
		int32_t degrees;
	} cases[] = {{900, -20}, {800, 0}, {600, 40}, {500, 60}, {950, -30}, {400, 80}};
	for (auto &c : cases) {
		simsoc_lens_mcu_set(mcu_, 0x500, c.reading);
		EXPECT_EQ(1, camblock_get_lens_temperature(block_, &t));
		EXPECT_EQ(c.degrees * ONE, t) << c.reading;
	}
}

class LensOptics : public LensMcuTest
{
      protected:
	void SetUp() override
	{
		LensMcuTest::SetUp();
		add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
		sensor_ = sensor_new();
		sensor_->active_width = (int32_t)(5.76 * ONE);
		sensor_->active_height = (int32_t)(3.24 * ONE);
		platform_add_sensor(plat_, sensor_, 0);
	}
	sensor *sensor_ = nullptr;
};

double degrees(uint32_t q14)
{
	return (int32_t)q14 / 16384.0;
}

TEST_F(LensOptics, FieldOfViewAndFocalLengthAtTheWideEnd)
{
	// At the first zoom point the lens is 4 mm: 2 atan(w / 2f).
	int32_t p = trace_position(20, 0);
	EXPECT_NEAR(4.0 * ONE, camblock_focal_length_at_focus_position(block_, 20, p), 2);
	uint32_t h = 0, v = 0;
	EXPECT_EQ(0, camblock_get_fov_at_focus_position(block_, 20, p, &h, &v, ONE));
	EXPECT_NEAR(2 * atan(5.76 / 8) * 180 / M_PI, degrees(h), 0.01);
	EXPECT_NEAR(2 * atan(3.24 / 8) * 180 / M_PI, degrees(v), 0.01);
	EXPECT_EQ(0, camblock_get_fov_at_focus_position(block_, 20, p, &h, &v, ONE / 2));
	EXPECT_NEAR(2 * atan(2.88 / 8) * 180 / M_PI, degrees(h), 0.01);

	// The index forms go through the index's focus position.
	uint32_t hi = 0, vi = 0;
	EXPECT_EQ(0, camblock_get_fov_at_distance_index(block_, 20, 2560, &hi, &vi, ONE));
	EXPECT_EQ(0, camblock_get_fov_at_focus_position(block_, 20, trace_position(20, 2560), &h, &v, ONE));
	EXPECT_EQ(h, hi);
	EXPECT_EQ(camblock_focal_length_at_focus_position(block_, 20, trace_position(20, 2560)),
	          camblock_focal_length_at_distance_index(block_, 20, 2560));

	// The current ones read the units.
	zoom_->position = 20;
	focus_->value = p;
	focus_->value_is_position = 1;
	EXPECT_EQ(camblock_focal_length_at_focus_position(block_, 20, p),
	          camblock_get_current_focal_length(block_));
	EXPECT_EQ(0, camblock_get_current_fov(block_, &hi, &vi, ONE));
	EXPECT_EQ(0, camblock_get_fov_at_focus_position(block_, 20, p, &h, &v, ONE));
	EXPECT_EQ(h, hi);
	EXPECT_EQ(v, vi);
}

TEST_F(LensOptics, TheDistanceWhereAnObjectFillsTheImage)
{
	// 5.76 mm across at 4 mm: an object 1.44 m wide fills it at 1 m.
	EXPECT_NEAR(2560, camblock_distance_index_for_object_width(block_, 20, (int32_t)(1.44 * ONE)), 2);
	EXPECT_NEAR(512, camblock_distance_index_for_object_width(block_, 20, (int32_t)(14.4 * ONE)), 2);
	EXPECT_EQ(4608, camblock_distance_index_for_object_width(block_, 20, 0));
}

TEST_F(LensOptics, DepthOfFieldFromTheIrisAndTheFocalLength)
{
	const int32_t f_numbers[] = {(int32_t)(1.4 * ONE), 2 * ONE, (int32_t)(2.8 * ONE), 4 * ONE};
	iris *ir = iris_hall_new(block_, CAMBLOCK_LENS_TAMRON_DF010NL, f_numbers, 4, 0);
	camblock_set_iris(block_, ir);
	control_add_iris(engine_, ir, 0);
	block_->mcu.depth_of_field_constant = (int32_t)(6.25 * ONE);
	zoom_->position = 20;
	focus_->value = 0;
	focus_->value_is_position = 0;
	// The iris's position is not known yet: the open F-number. N K / F^2.
	EXPECT_NEAR(1.4 * 6.25 / 16 * ONE, camblock_get_depth_of_field(block_), 3);
	ir->position = 3;
	EXPECT_NEAR(4 * 6.25 / 16 * ONE, camblock_get_depth_of_field(block_), 3);

	// In steps: nearer than the depth the range is [D - H, D + H] ...
	int32_t p = trace_position(20, 3584); // 2 dioptres
	int32_t h = camblock_get_depth_of_field(block_);
	auto position_of = [&](int32_t dioptres) {
		int32_t index =
		    std::clamp(camblock_dioptres_to_distance_index(block_, dioptres, 0), -16384, 4608);
		return camblock_distance_index_to_focus_position(block_, 20, index);
	};
	EXPECT_EQ(position_of(2 * ONE + h) - position_of(2 * ONE - h),
	          camblock_get_depth_of_field_steps(block_, 20, p));
	// ... within it, from infinity to twice the depth.
	p = trace_position(20, 512); // 0.1 dioptre
	EXPECT_EQ(position_of(2 * h) - position_of(0), camblock_get_depth_of_field_steps(block_, 20, p));
	// Without an iris there is no depth.
	camblock_set_iris(block_, nullptr);
	EXPECT_EQ(0, camblock_get_depth_of_field(block_));
}

TEST_F(LensMcuTest, TemperaturePairOfTheNearestTemperature)
{
	const int32_t temperatures[] = {-20 * ONE, 20 * ONE, 60 * ONE};
	const uint32_t pairs[3][2] = {{1, 2}, {3, 4}, {5, 6}};
	const uint32_t *table[] = {pairs[0], pairs[1], pairs[2]};
	uint32_t a = 99, b = 99;
	EXPECT_EQ(0, camblock_get_temperature_pair(block_, 0, &a, &b));
	EXPECT_EQ(99u, a); // none: nothing to give
	block_->mcu.temperatures = temperatures;
	block_->mcu.temperature_pairs = table;
	block_->mcu.temperature_pair_count = 3;
	const struct {
		int32_t degrees;
		uint32_t first, second;
	} cases[] = {{-40, 1, 2}, {30, 3, 4}, {50, 5, 6}, {0, 1, 2}, {90, 5, 6}};
	for (auto &c : cases) {
		EXPECT_EQ(0, camblock_get_temperature_pair(block_, c.degrees * ONE, &a, &b));
		EXPECT_EQ(c.first, a) << c.degrees;
		EXPECT_EQ(c.second, b) << c.degrees;
	}
}

TEST_F(LensMcuTest, ErrorBitsAndTheFocusRegisters)
{
	simsoc_lens_mcu_set(mcu_, 0x002, 0x0102);
	simsoc_lens_mcu_set(mcu_, 0x20C, 0xFFFE);
	simsoc_lens_mcu_set(mcu_, 0x211, 0x7FFF);
	EXPECT_EQ(0x0102, camblock_get_error_code(block_));
	int v = 0;
	EXPECT_EQ(1, camblock_get_focus_reg12(block_, &v));
	EXPECT_EQ(-2, v);
	EXPECT_EQ(1, camblock_get_focus_reg17(block_, &v));
	EXPECT_EQ(32767, v);
	EXPECT_EQ(0, camblock_set_focus_reg17(block_, -5));
	EXPECT_EQ("0x211=65531\n", writes());
	simsoc_lens_mcu_fail(mcu_, 0x002, SIMSOC_LENS_READ, EIO);
	EXPECT_EQ(-4, camblock_get_error_code(block_));
}

TEST_F(LensMcuTest, FocusInDioptresWritesTheIndexAndMovesAStillLens)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	zoom_->position = zoom_->target = 1000;
	block_->mcu.near_limit = 32768; // 2 dioptres
	block_->mcu.far_limit = 0;
	const struct {
		uint32_t trace_mode;
		uint8_t zoom_pending;
		int32_t dioptres;
		const char *writes;
	} cases[] = {
	    {0, 0, 1638, "0x303=512\n0x201=%d\n"},
	    {0, 1, 1638, "0x303=512\n0x201=%d\n"},
	    {1, 0, 1638, "0x303=512\n0x201=%d\n"},
	    {1, 1, 1638, "0x303=512\n"},                // the controller follows the zoom itself
	    {0, 0, 40 * ONE, "0x303=3584\n0x201=%d\n"}, // limited to the near limit
	    {0, 0, -ONE, "0x303=0\n0x201=%d\n"},        // and to the far limit
	};
	for (auto &c : cases) {
		block_->mcu.trace_mode = c.trace_mode;
		zoom_->pending = c.zoom_pending;
		EXPECT_EQ(0, camblock_set_focus_dioptres(block_, c.dioptres, 0));
		int32_t index = block_->mcu.requested_index;
		char expected[64];
		snprintf(expected, sizeof(expected), c.writes, trace_position(1000, index));
		EXPECT_EQ(expected, take_writes())
		    << c.trace_mode << " " << (int)c.zoom_pending << " " << c.dioptres;
		EXPECT_EQ(1, block_->mcu.distance_index_mode);
	}
	simsoc_lens_mcu_fail(mcu_, 0x303, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, camblock_set_focus_dioptres(block_, 1638, 0));
}

TEST_F(LensMcuTest, InitialisationWaitsForTheControllerAndTheZoomsLowEnd)
{
	add_units(CAMBLOCK_LENS_CANON_C40X43); // zoom travel from 200
	simsoc_lens_mcu_set_init_reads(mcu_, 2);
	simsoc_lens_mcu_set(mcu_, 0x100, 100);
	block_->mcu.initialised = 1;
	EXPECT_EQ(0, camblock_start_init(block_));
	EXPECT_EQ("0x107=1\n", take_writes());
	EXPECT_EQ(0, block_->mcu.initialised);
	EXPECT_EQ(1, zoom_->pending);
	EXPECT_EQ(1, focus_->pending);
	EXPECT_EQ(0, zoom_->commanded);

	// Busy: nothing else is read.
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(0u, simsoc_lens_mcu_reads(mcu_, 0x100));
	// Done, but the zoom lies below its travel: sent there first.
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ("0x101=200\n", take_writes());
	EXPECT_EQ(0, block_->mcu.initialised);
	simsoc_lens_mcu_tick(mcu_, 1);
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(1, block_->mcu.initialised);
	EXPECT_EQ("", take_writes());
	EXPECT_EQ("", protocol_errors());
}

TEST_F(LensMcuTest, InitialisationEndsOnlyWithBothMotorsStillAndReady)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	simsoc_lens_mcu_set_step(mcu_, SIMSOC_LENS_FOCUS, 10);
	ASSERT_EQ(0, camblock_start_init(block_));
	ASSERT_EQ(0, camblock_write_register(block_, 0x201, 100));
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(0, block_->mcu.initialised); // the focus still runs
	simsoc_lens_mcu_tick(mcu_, 10);
	simsoc_lens_mcu_set(mcu_, 0x108, 3);
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(0, block_->mcu.initialised); // the zoom not ready
	simsoc_lens_mcu_set(mcu_, 0x108, 4);
	// An unreadable position moves nothing.
	simsoc_lens_mcu_fail(mcu_, 0x100, SIMSOC_LENS_READ, EIO);
	take_writes();
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ("", take_writes());
	simsoc_lens_mcu_fail(mcu_, 0x100, SIMSOC_LENS_READ, 0);
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(1, block_->mcu.initialised);
	EXPECT_EQ("", take_writes());
}

TEST_F(LensMcuTest, PollAndRefreshHandTheMotorsToTheUnits)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	optics_state state = {0, 1000, 0, 3000, 7, 0, 0};
	EXPECT_EQ(0, camblock_poll(block_, &state)); // not initialised: untouched
	EXPECT_EQ(0, zoom_->position);
	block_->mcu.initialised = 1;

	const struct {
		optics_state in;
		int result;
		int32_t zoom_position, focus_value;
		uint8_t focus_pending, value_is_position;
		int32_t focus_field, second_focus;
	} cases[] = {
	    {{0, 1000, 0, 3000, 7, 0, 0}, 0, 1000, 3000, 0, 1, 3000, -1},
	    {{0, 1100, 1, 3100, 7, 0, 0}, 0, 1100, 3100, 1, 1, 3100, -1},
	    // While the zoom runs the focus may be anywhere; its value is then a
	    // report of the curve, not a position.
	    {{1, 1200, 0, 9000, 7, 0, 0}, 0, 1200, 9000, 1, 0, -1, 9000},
	    {{0, 2469, 0, 3000, 7, 0, 0}, -2, 1200, 9000, 1, 0, 3000, 7}, // zoom beyond its travel
	    {{0, 1200, 0, 7501, 7, 0, 0}, -2, 1200, 9000, 1, 0, 7501, 7}, // focus beyond its travel
	    {{0, 1200, 0, 7500, 7, 0, 0}, 0, 1200, 7500, 0, 1, 7500, -1},
	};
	for (auto &c : cases) {
		optics_state s = c.in;
		EXPECT_EQ(c.result, camblock_poll(block_, &s))
		    << c.in.zoom_position << " " << c.in.focus_position;
		EXPECT_EQ(c.zoom_position, zoom_->position);
		EXPECT_EQ(c.focus_value, focus_->value);
		EXPECT_EQ(c.focus_pending, focus_->pending);
		EXPECT_EQ(c.value_is_position, focus_->value_is_position);
		EXPECT_EQ(c.focus_field, s.focus_position);
		EXPECT_EQ(c.second_focus, s.second_focus);
	}

	// Refresh reads the units first (reported units read the positions).
	simsoc_lens_mcu_set(mcu_, 0x100, 1300);
	simsoc_lens_mcu_set(mcu_, 0x200, 2500);
	optics_state s = {};
	EXPECT_EQ(0, camblock_refresh(block_, &s));
	EXPECT_EQ(1300, s.zoom_position);
	EXPECT_EQ(2500, s.focus_position);
	EXPECT_EQ(1300, zoom_->position);
	EXPECT_EQ(2500, focus_->value);

	// The frame value goes to the frame report.
	block_->mcu.sync_count = 2;
	s.frame_value = 3;
	for (int i = 0; i < 30; i++)
		camblock_poll(block_, &(s = {0, 1300, 0, 2500, 0, 0, 3}));
	EXPECT_EQ("0xe03=65535\n", take_writes());
}

TEST_F(LensMcuTest, DistortionScalesToTheImageWidthAndFollowsTheZoom)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	info_pool_init();
	std::vector<int32_t> set0(21 * 4), set1(21 * 4);
	for (int row = 0; row < 21; row++)
		for (int k = 0; k < 4; k++) {
			set0[row * 4 + k] = 1000 * (k + 1) + row * 10;
			set1[row * 4 + k] = -(1000 * (k + 1)) + row * 30 - 3;
		}
	EXPECT_EQ(-3, camblock_get_lens_distortion(block_, 100, 0, 0, nullptr, nullptr, nullptr, nullptr));
	block_->mcu.distortion = camblock_distortion_new(21, set0.data(), set1.data());
	camblock_distortion *d = block_->mcu.distortion;

	// The image width comes from the channel's window; without a pixel pitch
	// the half width is 0 mm and only k0 survives the scaling.
	daemon_get_context()->constants_conf = conf_;
	conf_->channel[0].area[PRODCONF_AREA_SENSOR] = {0, 0, 1919, 1079};
	EXPECT_EQ(0, camblock_capture_mode_changed(block_, 0));
	EXPECT_EQ(1920, d->width);
	for (int i = 0; i < 42; i++) {
		EXPECT_EQ(d->base[i][0], d->scaled[i * 4]);
		EXPECT_EQ(0, d->scaled[i * 4 + 1]);
	}
	// The same width again rescales nothing.
	d->scaled[0] = 77;
	EXPECT_EQ(0, camblock_capture_mode_changed(block_, 0));
	EXPECT_EQ(77, d->scaled[0]);
	// A new digital zoom seen by the poll does.
	block_->mcu.initialised = 1;
	info_pool_set_imfix(82, 0, 0, ONE / 2);
	optics_state s = {0, 1000, 0, 3000, 0, 0, 0};
	EXPECT_EQ(0, camblock_poll(block_, &s));
	EXPECT_EQ(ONE / 2, d->scale);
	EXPECT_EQ(960, d->width);
	EXPECT_EQ(d->base[0][0], d->scaled[0]);

	// With a 2.5 um pitch the full window's half width is 2.4 mm: every
	// coefficient k of both sets is scaled by 2.4^k.
	sensor *sn = sensor_new();
	sn->pixel_pitch = (int32_t)(2.5 * ONE);
	platform_add_sensor(plat_, sn, 0);
	info_pool_set_imfix(82, 0, 0, ONE);
	EXPECT_EQ(0, camblock_poll(block_, &(s = {0, 1000, 0, 3000, 0, 0, 0})));
	EXPECT_EQ(1920, d->width);
	for (int i = 0; i < 42; i++)
		for (int k = 0; k < 4; k++)
			EXPECT_NEAR(d->base[i][k] * pow(2.4, k), d->scaled[i * 4 + k],
			            1 + fabs(d->base[i][k]) * 1e-3)
			    << i << " " << k;

	// k: the two sets' mean (half away from zero) at the bracketing rows,
	// interpolated over the zoom.
	for (int i = 0; i < 42 * 4; i++)
		d->scaled[i] = i < 84 ? set0[i] : set1[i - 84];
	uint32_t k[4];
	int32_t z = zoom_tables_.positions[5];
	EXPECT_EQ(0, camblock_get_lens_distortion(block_, z, 0, 0, &k[0], &k[1], &k[2], &k[3]));
	for (int j = 0; j < 4; j++) {
		int32_t sum = set0[5 * 4 + j] + set1[5 * 4 + j];
		EXPECT_EQ(sum / 2 + (sum % 2 ? (sum > 0 ? 1 : -1) : 0), (int32_t)k[j]) << j;
	}
	z = (zoom_tables_.positions[5] + zoom_tables_.positions[6]) / 2;
	EXPECT_EQ(0, camblock_get_lens_distortion(block_, z, 0, 0, &k[0], &k[1], &k[2], &k[3]));
	EXPECT_NEAR((set0[20] + set1[20] + set0[24] + set1[24]) / 4.0, (int32_t)k[0], 1);
	daemon_get_context()->constants_conf = nullptr;
	info_pool_free();
}

int setup_calls;
int32_t setup_stream;
int count_setup(camblock *block, int32_t stream_id)
{
	setup_calls++;
	setup_stream = stream_id;
	camblock_write_register(block, 0x105, 67);
	camblock_write_register(block, 0x205, 67);
	return 0;
}

class GuardTest : public LensMcuTest
{
      protected:
	void SetUp() override
	{
		LensMcuTest::SetUp();
		add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
		guard_ = g_new0(camblock_temperature_guard, 1);
		guard_->setup = count_setup;
		guard_->limit_count = 2;
		guard_->limits[0] = -17;
		guard_->limits[1] = -24;
		guard_->engine = engine_;
		block_->temperature_guard = guard_;
		setup_calls = 0;
		setup_stream = -1;
		daemon_get_context()->stream_restart = 0;
		ASSERT_EQ(0, param_set_int(58, 0, 1));
	}
	void signal(int32_t degrees)
	{
		control_temperature_limit limit = {};
		limit.limit = degrees;
		camblock_temperature_callback(engine_, 5, &limit);
	}
	camblock_temperature_guard *guard_ = nullptr;
};

TEST_F(GuardTest, TheStopLimitHoldsTheMotorsWhereTheyAre)
{
	focus_->value = 1234;
	zoom_->position = 567;
	signal(-24);
	EXPECT_EQ(1, guard_->blocked);
	EXPECT_EQ(1, guard_->saved_ircut_state);
	EXPECT_FALSE(camblock_motor_allowed(block_));
	EXPECT_EQ(0, focus_move_abs(focus_, 2000, 0));
	EXPECT_EQ(1234, focus_->target);
	EXPECT_EQ(0, focus_->commanded);
	EXPECT_EQ(0, zoom_move_abs(zoom_, 1000));
	EXPECT_EQ(567, zoom_->target);
	EXPECT_EQ(0, zoom_->commanded);
	EXPECT_EQ("", writes());
	EXPECT_EQ((std::vector<TraceEvent>{{"motor_blocked", 0, 0},
	                                   {"focus_move_abs", 2000, 0},
	                                   {"motor_blocked", 0, 0},
	                                   {"motor_blocked", 0, 0}}),
	          events_);
	// A second stop keeps the state saved at the first.
	ASSERT_EQ(0, param_set_int(58, 0, 0));
	signal(-24);
	EXPECT_EQ(1, guard_->saved_ircut_state);
}

TEST_F(GuardTest, TheStartLimitSetsTheLensUpAgainAndRestartsTheStreams)
{
	signal(-17); // not blocked: nothing to do
	EXPECT_EQ(0, setup_calls);
	signal(-24);
	ASSERT_EQ(0, param_set_int(58, 0, 0)); // the filter moved meanwhile
	signal(-5);                            // not one of the guard's limits
	EXPECT_EQ(1, guard_->blocked);
	signal(-17);
	EXPECT_EQ(0, guard_->blocked);
	EXPECT_EQ(1, setup_calls);
	EXPECT_EQ(0, setup_stream);
	EXPECT_EQ("0x105=67\n0x205=67\n", take_writes());
	int32_t state = -1;
	EXPECT_EQ(0, param_get_int(58, 0, &state));
	EXPECT_EQ(1, state);
	EXPECT_EQ(1, daemon_get_context()->stream_restart);
	EXPECT_TRUE(camblock_motor_allowed(block_));
	EXPECT_EQ(0, focus_move_abs(focus_, 2000, 0));
	EXPECT_EQ("0x201=2000\n", take_writes());
	daemon_get_context()->stream_restart = 0;
}

TEST_F(GuardTest, TheCallbackActsOnStreamZerosBlock)
{
	camblock *other = make_block(256);
	camblock_temperature_guard *other_guard = g_new0(camblock_temperature_guard, 1);
	*other_guard = *guard_;
	other->temperature_guard = other_guard;
	signal(-24);
	EXPECT_EQ(1, guard_->blocked);
	EXPECT_EQ(0, other_guard->blocked);
	// Without a guard on stream 0's block nothing happens.
	block_->temperature_guard = nullptr;
	g_free(guard_);
	signal(-17);
	EXPECT_EQ(0, setup_calls);
}

int close_calls;
int last_closed;
int counting_close(platform *, int fd)
{
	close_calls++;
	last_closed = fd;
	return close(fd);
}

TEST_F(LensMcuTest, DestroyClosesTheDeviceThroughThePlatformAndFreesWhatTheBlockOwns)
{
	camblock *other = make_block(256);
	int fd = other->mcu.device->fd;
	ASSERT_GE(fd, 0);
	int32_t rates[] = {15, 30};
	other->mcu.timing_frame_rates = (int32_t *)g_memdup2(rates, sizeof(rates));
	other->mcu.timing_values = (int32_t *)g_memdup2(rates, sizeof(rates));
	other->mcu.apertures = (int32_t *)g_memdup2(rates, sizeof(rates));
	const int32_t base[4] = {1, 2, 3, 4};
	other->mcu.distortion = camblock_distortion_new(1, base, base);
	other->temperature_guard = g_new0(camblock_temperature_guard, 1);
	dome *d = dome_quorval_create();
	dome_set_owner(d, other);
	camblock_set_dome(other, d);
	close_calls = 0;
	plat_->close = counting_close;
	platform_remove_all_camblock(plat_, 256);
	EXPECT_EQ(1, close_calls);
	EXPECT_EQ(fd, last_closed);
	// What the sanitizer build checks: nothing the block owned is left.
}

} // namespace

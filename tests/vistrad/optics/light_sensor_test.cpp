// The ISL29033 light sensor against its simulated files: ranging, the MCU
// form, the stable read and a missing file.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <simsoc_isl29033.h>
#include <unistd.h>

#include "optics/light_sensor.h"
#include "optics_fixture.h"

namespace
{

#define BUF0 "/sys/bus/i2c/devices/0-0044/buf0"
#define BUF1 "/sys/bus/i2c/devices/0-0044/buf1"

class LightSensorTest : public OpticsTest
{
      protected:
	void TearDown() override
	{
		simsoc_isl29033_remove(BUF0);
		OpticsTest::TearDown();
	}
	// A direct sensor at a range, lit so that buf0 reads count.
	light_sensor *direct(int range, int64_t count)
	{
		simsoc_isl29033_add(BUF0, BUF1, 0);
		light_sensor *s = isl29033_new(BUF0, BUF1, 2, 0);
		set_range(range);
		simsoc_isl29033_set_lux(BUF0, (count * range + 61) / 62);
		simsoc_log_clear();
		return s;
	}
	void set_range(int range)
	{
		int fd = open(BUF1, O_WRONLY);
		std::string text = std::to_string(range);
		ASSERT_EQ((ssize_t)text.size(), write(fd, text.data(), text.size()));
		close(fd);
	}
};

TEST_F(LightSensorTest, DirectSensorStaysAtItsEnds)
{
	light_sensor *s = direct(62, 500);
	EXPECT_EQ(500, s->read(s));
	EXPECT_EQ(62, simsoc_isl29033_range(BUF0));
	EXPECT_EQ("", simsoc_lines("isl29033: range "));
	light_sensor_destroy(s);
	// 4000 x 70000 / 62 lux clips the count at 65535, and the range stays.
	s = direct(4000, 70000);
	EXPECT_EQ(65535 * 64, s->read(s));
	EXPECT_EQ(4000, simsoc_isl29033_range(BUF0));
	EXPECT_EQ("", simsoc_lines("isl29033: range "));
	light_sensor_destroy(s);
}

TEST_F(LightSensorTest, RangeChangeHoldsTheOldValueForThreeReads)
{
	light_sensor *s = direct(1000, 900);
	EXPECT_EQ(14400, s->read(s));
	EXPECT_EQ("250\n", simsoc_lines("isl29033: range "));
	EXPECT_EQ(250, simsoc_isl29033_range(BUF0));
	// The scene darkens; the three reads after the change (one inside that
	// stable read, two in the next) still give the value from before.
	simsoc_isl29033_set_lux(BUF0, 10);
	EXPECT_EQ(14400, s->read(s));
	EXPECT_EQ(8, s->read(s));
	light_sensor_destroy(s);

	// Brightening at the lowest range switches up.
	s = direct(62, 64001);
	EXPECT_EQ(64001, s->read(s));
	EXPECT_EQ("250\n", simsoc_lines("isl29033: range "));
	light_sensor_destroy(s);
}

TEST_F(LightSensorTest, McuReadsMantissaTimesFourToTheExponent)
{
	simsoc_isl29033_add(BUF0, BUF1, 1);
	light_sensor *s = isl29033_new(BUF0, BUF1, 2, 1);
	EXPECT_EQ(1u, s->type);
	simsoc_isl29033_set_lux(BUF0, 100);
	EXPECT_EQ(100, s->read(s));
	// Beyond 65535 the model reports a mantissa with an exponent (25600, 4).
	simsoc_isl29033_set_lux(BUF0, 100 * 65536);
	EXPECT_EQ(100 * 65536, s->read(s));
	const struct {
		int64_t mantissa;
		int exponent;
		int reading;
	} cases[] = {{100, 2, 1600}, {100, 0, 100}, {-5, 1, -1}, {5, -1, -1}, {65535, 15, G_MAXINT}};
	for (auto &c : cases) {
		simsoc_isl29033_set_mcu(BUF0, c.mantissa, c.exponent);
		EXPECT_EQ(c.reading, s->read(s)) << c.mantissa << " " << c.exponent;
	}
	light_sensor_destroy(s);
}

// Files that say what no sensor says: the reading stays sane and the range
// is left alone.
TEST_F(LightSensorTest, OddFileContents)
{
	const struct {
		const char *count;
		const char *range;
		int reading;
		const char *message;
	} cases[] = {
	    // 100 is no range: a quarter of it neither.
	    {"500", "100", 500, "Invalid sensor range (25)\n"},
	    {"-3", "1000", -1, nullptr},
	    {"99999999999", "4000", G_MAXINT, nullptr},
	    {"70000", "0", 0, "Invalid sensor range (0)\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.count);
		write_file("buf0", c.count);
		write_file("buf1", c.range);
		log_.clear();
		light_sensor *s = isl29033_new((root_ + "/buf0").c_str(), (root_ + "/buf1").c_str(), 2, 0);
		EXPECT_EQ(c.reading, s->read(s));
		gchar *text = nullptr;
		ASSERT_TRUE(g_file_get_contents((root_ + "/buf1").c_str(), &text, nullptr, nullptr));
		EXPECT_STREQ(c.range, text);
		g_free(text);
		if (c.message) {
			EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find(c.message));
		}
		light_sensor_destroy(s);
	}
}

TEST_F(LightSensorTest, StableReadUsesTheTolerance)
{
	simsoc_isl29033_add(BUF0, nullptr, 0);
	// Tolerance 0 means 2 %: 1000 then 1015 is stable (1015 x 98 / 100 = 994).
	light_sensor *s = isl29033_new(BUF0, nullptr, 0, 0);
	const int64_t steady[] = {1000, 1015, 5000};
	simsoc_isl29033_script(BUF0, steady, 3);
	EXPECT_EQ(1015, s->read(s));
	// 1000 then 1100 is not: the third reading, 1100 again, is.
	const int64_t jump[] = {1000, 1100, 1100, 7};
	simsoc_isl29033_script(BUF0, jump, 4);
	EXPECT_EQ(1100, s->read(s));
	// A value that never settles: the 21st reading, whatever it is.
	int64_t swinging[25];
	for (int i = 0; i < 25; i++)
		swinging[i] = i == 20 ? 3000 : 1000 << (i % 2);
	simsoc_isl29033_script(BUF0, swinging, 25);
	EXPECT_EQ(3000, s->read(s));
	light_sensor_destroy(s);
}

TEST_F(LightSensorTest, ModuleAndMissingFile)
{
	simsoc_isl29033_add(BUF0, BUF1, 1);
	simsoc_isl29033_set_lux(BUF0, 100 * 16);
	section("light_sensor_isl29033",
	        {{"light_sensor_0_devname", BUF0}, {"light_sensor_1_devname", BUF1}, {"max_deviation", "5"}});
	auto *s = static_cast<light_sensor *>(light_sensor_isl29033(conf_, engine_, 0));
	ASSERT_NE(nullptr, s);
	platform_add_light_sensor(plat_, s, 0);
	EXPECT_EQ(1600, light_sensor_read(plat_, 0));
	EXPECT_EQ(-2, light_sensor_read(plat_, 256)); // channel 1 has none

	light_sensor *missing = isl29033_new("/nonexistent/isl29033/buf0", nullptr, 2, 0);
	ASSERT_NE(nullptr, missing);
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to open '/nonexistent/isl29033/buf0': No such file"));
	EXPECT_EQ(-1, missing->read(missing));
	light_sensor_destroy(missing);

	// An unreadable range gives -1, and no range is written.
	light_sensor *auto_ranging = isl29033_new(BUF0, "/nonexistent/isl29033/buf1", 2, 0);
	EXPECT_EQ(-1, auto_ranging->read(auto_ranging));
	light_sensor_destroy(auto_ranging);
}

TEST_F(LightSensorTest, TwoFailedReadsAreStableAtOnce)
{
	simsoc_isl29033_add(BUF0, nullptr, 0);
	simsoc_isl29033_set_lux(BUF0, 700);
	light_sensor *s = isl29033_new(BUF0, nullptr, 2, 0);
	// Only two reads fail: a third would find 700.
	simsoc_inject_failure(BUF0, SIMSOC_OP_READ, EIO, 2);
	EXPECT_EQ(-1, s->read(s));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Light sensor buf0: Failed to read fd "));
	EXPECT_EQ(700, s->read(s));
	light_sensor_destroy(s);
}

} // namespace

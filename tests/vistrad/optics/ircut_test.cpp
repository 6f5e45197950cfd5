// The IR-cut filter modules against the simulated devices: what each sends,
// in which order, and how failures come back.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <simsoc_i2c.h>
#include <simsoc_ircut.h>
#include <simsoc_motor.h>

#include <thread>

#include "optics/ircut.h"
#include "optics_fixture.h"
#include "platform/serial_link.h"

namespace
{

class IrcutTest : public OpticsTest
{
      protected:
	void TearDown() override
	{
		simsoc_i2c_reset();
		OpticsTest::TearDown();
	}
	ircut *add(void *made, int32_t stream_id = 0)
	{
		auto *i = static_cast<ircut *>(made);
		if (i)
			platform_add_ircut(plat_, i, stream_id);
		return i;
	}
	// The GPIO writes and waits, in order, as "pin=level" and "sleep ms".
	std::string pulses()
	{
		std::string out;
		for (auto &l : lines_with(take_text(simsoc_log_dump()), "")) {
			if (l.compare(0, 6, "gpio: ") == 0) {
				std::string rest = l.substr(6);
				size_t a = rest.find(' ');
				size_t b = rest.find(' ', a + 1);
				std::string attr = rest.substr(a + 1, b - a - 1);
				out += rest.substr(0, a) + (attr == "value" ? "=" : ":") +
				       rest.substr(b + 1) + "\n";
			} else if (l.compare(0, 6, "sleep ") == 0) {
				out += l + "\n";
			}
		}
		return out;
	}
};

TEST_F(IrcutTest, SetNeedsPlatformAndOperation)
{
	ircut *i = ircut_new();
	EXPECT_EQ(-2, ircut_set(i, 1));
	EXPECT_EQ(-2, ircut_set(nullptr, 1));
	ircut_set_platform(i, plat_);
	EXPECT_EQ(-2, ircut_set(i, 1)); // no set operation
	ircut_destroy(i);
	ircut *lens = ircut_new_lens();
	EXPECT_EQ(18u, lens->type);
	ircut_destroy(lens);
}

TEST_F(IrcutTest, McuRegisterOverI2c)
{
	simsoc_i2c_add_register_file(1, 0x43);
	section("ircut_mcu_i2c_generic", {});
	ircut *i = add(prodconf_ircut_mcu_i2c_generic_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(26u, i->type);
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 0, 0));
	EXPECT_EQ("i2c-1: 0x43 w 00 07 01 00\ni2c-1: 0x43 w 00 07 00 00\n", take_text(simsoc_i2c_messages()));
	EXPECT_EQ(0, i->state);
	// A failed transfer is a failure now, and the state stays.
	simsoc_i2c_set_fault(1, 0x43, EIO, 0);
	EXPECT_GT(0, ircut_set(i, 1));
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_EQ(0, i->state);
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Error: Input/output error"));
}

TEST_F(IrcutTest, GenericDeviceGetsTheValueItself)
{
	simsoc_ircut_dev_add("/dev/ircut0");
	section("ircut_generic_dev", {{"dev", "/dev/ircut0"}});
	ircut *i = add(prodconf_ircut_generic_dev_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(O_RDONLY, simsoc_ircut_open_flags("/dev/ircut0") & O_ACCMODE);
	EXPECT_EQ(0, ircut_set(i, 1));
	EXPECT_EQ(0, simsoc_ircut_state("/dev/ircut0"));
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 0, 0));
	EXPECT_EQ(1, simsoc_ircut_state("/dev/ircut0"));
	EXPECT_EQ(0, i->state);
	simsoc_inject_failure("/dev/ircut0", SIMSOC_OP_IOCTL, EIO, 1);
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_EQ(0, i->state);
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_WARNING).find("Failed to move IR cut filter: Input/output error\n"));
	platform_remove_all_ircut(plat_, 0);
	EXPECT_EQ(0, simsoc_ircut_open_count("/dev/ircut0"));
	simsoc_ircut_remove("/dev/ircut0");
	EXPECT_EQ(nullptr, prodconf_ircut_generic_dev_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to open IR cut device '/dev/ircut0': "));
}

TEST_F(IrcutTest, HBridgePulses)
{
	const struct {
		const char *hold;
		int wait_ms;
		bool blocking;
		const char *expected;
	} cases[] = {
	    {nullptr, 20, false, "d:out\nn:out\nd=1\nn=0\nsleep 20\nd=0\nn=0\n"},
	    {nullptr, 0, true, "d:out\nn:out\nd=1\nn=0\nd=0\nn=0\n"},
	    {"h", 40, true, "d:out\nn:out\nh:out\nd=1\nn=0\nh=1\nsleep 40\nh=0\n"},
	    {"h", 0, false, "d:out\nn:out\nh:out\nd=1\nn=0\nh=1\nh=0\n"},
	};
	for (const char *pin : {"d", "n", "h"})
		simsoc_gpio_add(pin, 0);
	for (auto &c : cases) {
		SCOPED_TRACE(c.expected);
		prodconf_free(conf_);
		conf_ = prodconf_new();
		std::vector<std::pair<std::string, std::string>> keys = {
		    {"wait_time", std::to_string(c.wait_ms)},
		    {"day_pin", "d"},
		    {"night_pin", "n"},
		    {"blocking", c.blocking ? "true" : "false"}};
		if (c.hold)
			keys.push_back({"inv_hold_pin", c.hold});
		section("ircut_h_bridge", keys);
		simsoc_log_clear();
		ircut *i = add(prodconf_ircut_h_bridge_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, i);
		EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0));
		platform_remove_all_ircut(plat_, 0); // joins the worker
		EXPECT_EQ(c.expected, pulses());
		if (c.hold) {
			EXPECT_EQ(1, simsoc_gpio_level("d"));
			EXPECT_EQ(0, simsoc_gpio_level("n"));
		}
	}
}

TEST_F(IrcutTest, HBridgeGpioFailuresAreWarnings)
{
	// No pin exists: every write fails, and the move still ends normally.
	section("ircut_h_bridge", {{"wait_time", "0"},
	                           {"day_pin", "d"},
	                           {"night_pin", "n"},
	                           {"inv_hold_pin", "h"},
	                           {"blocking", "true"}});
	ircut *i = add(prodconf_ircut_h_bridge_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	log_.clear();
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0));
	std::string warnings = log_.text(DEBUG_WARNING);
	for (const char *text : {"Failed to set GPIO d (ir cut filter day) high\n",
	                         "Failed to set GPIO n (ir cut filter night) low\n",
	                         "Failed to set GPIO h (ir cut filter inv hold) high\n",
	                         "Failed to set GPIO h (ir cut filter inv hold) low\n"})
		EXPECT_NE(std::string::npos, warnings.find(text)) << text;
}

TEST_F(IrcutTest, HBridgeMovesInTurn)
{
	for (const char *pin : {"d", "n"})
		simsoc_gpio_add(pin, 0);
	section("ircut_h_bridge", {{"wait_time", "5"}, {"day_pin", "d"}, {"night_pin", "n"}});
	ircut *i = add(prodconf_ircut_h_bridge_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	simsoc_log_clear();
	for (int n = 0; n < 6; n++)
		EXPECT_EQ(0, ircut_set(i, n % 2));
	platform_remove_all_ircut(plat_, 0);
	std::string one_night = "d=0\nn=1\nsleep 5\nd=0\nn=0\n";
	std::string one_day = "d=1\nn=0\nsleep 5\nd=0\nn=0\n";
	std::string expected;
	for (int n = 0; n < 3; n++)
		expected += one_night + one_day;
	EXPECT_EQ(expected, pulses());
}

class MultiBridgeTest : public IrcutTest
{
      protected:
	void SetUp() override
	{
		IrcutTest::SetUp();
		for (int n = 0; n < 4; n++)
			for (const char *stem :
			     {"ircut_ctrl_h_", "ircut_ctrl_h_inv_", "ircut_ctrl_hold_current_on_"})
				simsoc_gpio_add((stem + std::to_string(n)).c_str(), 0);
	}
	// How many times bridge 0 was driven to day and to night.
	std::pair<int, int> drives()
	{
		std::string text = take_text(simsoc_gpio_writes());
		int day = 0;
		int night = 0;
		for (auto &l : lines_with(text, "ircut_ctrl_h_0=")) {
			day += l == "1";
		}
		for (auto &l : lines_with(text, "ircut_ctrl_h_inv_0=")) {
			night += l == "1";
		}
		simsoc_gpio_clear_writes();
		return {day, night};
	}
};

TEST_F(MultiBridgeTest, AnyChannelAtNightKeepsEveryBridgeAtNight)
{
	section("ircut_multi_h_bridge", {{"wait_time", "10"}, {"nbr_of_bridges", "2"}});
	ircut *c0 = add(prodconf_ircut_multi_h_bridge_create(conf_, engine_, 0), 0);
	ircut *c1 = add(prodconf_ircut_multi_h_bridge_create(conf_, engine_, 256), 256);
	ASSERT_NE(nullptr, c0);
	ASSERT_NE(nullptr, c1);
	EXPECT_EQ(std::make_pair(1, 0), drives()); // channel 0 drives to day at creation
	std::string pulse = take_text(simsoc_log_dump());
	EXPECT_NE(std::string::npos, pulse.find("gpio: ircut_ctrl_h_1 direction out"));
	EXPECT_EQ(std::string::npos, pulse.find("ircut_ctrl_h_2"));

	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 0, 256)); // channel 1 night
	EXPECT_EQ(std::make_pair(0, 1), drives());
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0)); // channel 0 day: still night
	EXPECT_EQ(std::make_pair(0, 0), drives());
	EXPECT_EQ(0, simsoc_gpio_level("ircut_ctrl_h_0"));
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 256)); // both day: once
	EXPECT_EQ(std::make_pair(1, 0), drives());
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 256));
	EXPECT_EQ(std::make_pair(0, 0), drives());
}

TEST_F(MultiBridgeTest, OneDriveInOrder)
{
	section("ircut_multi_h_bridge", {{"wait_time", "15"}, {"nbr_of_bridges", "1"}});
	ircut *c0 = add(prodconf_ircut_multi_h_bridge_create(conf_, engine_, 0), 0);
	ASSERT_NE(nullptr, c0);
	EXPECT_EQ("ircut_ctrl_h_0:out\nircut_ctrl_h_inv_0:out\nircut_ctrl_hold_current_on_0:out\n"
	          "ircut_ctrl_h_0=1\nircut_ctrl_h_inv_0=0\nircut_ctrl_hold_current_on_0=1\nsleep 15\n"
	          "ircut_ctrl_hold_current_on_0=0\nircut_ctrl_h_0=0\nircut_ctrl_h_inv_0=0\n",
	          pulses());
	simsoc_log_clear();
	EXPECT_EQ(0, ircut_set(c0, 0));
	EXPECT_EQ("ircut_ctrl_h_0=0\nircut_ctrl_h_inv_0=1\nircut_ctrl_hold_current_on_0=1\nsleep 15\n"
	          "ircut_ctrl_hold_current_on_0=0\nircut_ctrl_h_0=0\nircut_ctrl_h_inv_0=0\n",
	          pulses());
	EXPECT_EQ(0, ircut_set(c0, 1));
}

TEST_F(MultiBridgeTest, TwoChannelsSwitchingAtOnce)
{
	section("ircut_multi_h_bridge", {{"wait_time", "0"}, {"nbr_of_bridges", "1"}});
	ircut *c0 = add(prodconf_ircut_multi_h_bridge_create(conf_, engine_, 0), 0);
	ircut *c1 = add(prodconf_ircut_multi_h_bridge_create(conf_, engine_, 256), 256);
	ASSERT_NE(nullptr, c1);
	std::thread a([&] {
		for (int n = 0; n < 200; n++)
			ircut_set(c0, n % 2);
	});
	std::thread b([&] {
		for (int n = 0; n < 200; n++)
			ircut_set(c1, n % 3 != 0);
	});
	a.join();
	b.join();
	// Both end at day (199 % 2, 199 % 3 != 0): the bridges follow.
	EXPECT_EQ(0, ircut_set(c0, 1));
	EXPECT_EQ(0, simsoc_gpio_level("ircut_ctrl_h_inv_0"));
	auto last = lines_with(take_text(simsoc_gpio_writes()), "ircut_ctrl_h_0=");
	ASSERT_FALSE(last.empty());
}

TEST_F(MultiBridgeTest, BridgeCountIsChecked)
{
	section("ircut_multi_h_bridge", {{"wait_time", "10"}, {"nbr_of_bridges", "5"}});
	EXPECT_EQ(nullptr, prodconf_ircut_multi_h_bridge_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Illegal number of H bridges: 5\n"));
}

TEST_F(IrcutTest, Stm32FileTakesOneByte)
{
	simsoc_stm32_add("/dev/stm32_ircut");
	section("ircut_mcu_stm32f030xx", {{"ircut_devname", "/dev/stm32_ircut"}});
	ircut *i = add(prodconf_ircut_mcu_stm32f030xx_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(0, ircut_set(i, 1));
	EXPECT_EQ(1, simsoc_ircut_state("/dev/stm32_ircut"));
	EXPECT_EQ(O_RDWR, simsoc_ircut_open_flags("/dev/stm32_ircut") & O_ACCMODE);
	EXPECT_EQ(0, simsoc_ircut_open_count("/dev/stm32_ircut"));
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 0, 0));
	EXPECT_EQ(0, simsoc_ircut_state("/dev/stm32_ircut"));
	// A failed write fails the move and keeps the state.
	simsoc_inject_failure("/dev/stm32_ircut", SIMSOC_OP_WRITE, EIO, 1);
	EXPECT_EQ(-1, ircut_set(i, 1));
	EXPECT_EQ(0, i->state);
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed to close IR-cut filter : "));
	EXPECT_EQ(0, simsoc_ircut_open_count("/dev/stm32_ircut"));
	simsoc_inject_failure("/dev/stm32_ircut", SIMSOC_OP_OPEN, ENOENT, 1);
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed open fd for '/dev/stm32_ircut' : "));
	simsoc_ircut_remove("/dev/stm32_ircut");
}

TEST_F(IrcutTest, SerialLinkNeedsItsLink)
{
	EXPECT_EQ(nullptr, prodconf_ircut_serial_link_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_WARNING)
	                                 .find("prodconf_ircut_serial_link_create called "
	                                       "before serial link is setup\n"));
	// A link whose library fills no IR-cut operation: the move fails and
	// the state stays.
	auto *link = static_cast<serial_link *>(calloc(1, sizeof(serial_link)));
	platform_add_serial_link(plat_, link, 256);
	ircut *i = add(prodconf_ircut_serial_link_create(conf_, engine_, 256), 256);
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(25u, i->type);
	i->state = 1;
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 0, 256));
	EXPECT_EQ(1, i->state);
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed to move IR cut filter: "));
	platform_remove_all_ircut(plat_, 256);
	platform_remove_all_serial_link(plat_, 256);
}

int32_t q14(double v)
{
	return (int32_t)(v * 16384 + 0.5);
}

TEST(IrcutTb6613ftgVoltage, NearestTableEntry)
{
	const struct {
		double volts;
		int constant_current;
		uint32_t value;
	} cases[] = {{230.8, 0, 0xB1}, {230.8, 1, 0xF1}, {228.1, 0, 0xB0}, {228.6, 0, 0xB0},
	             {0.0, 0, 0x80},   {300.0, 0, 0xBF}, {400.0, 1, 0xFF}, {4.8, 0, 0x81}};
	for (auto &c : cases)
		EXPECT_EQ(c.value, ircut_tb6613ftg_voltage_value(q14(c.volts), c.constant_current))
		    << c.volts;
}

#define TB_DEV "/dev/tb6613ftg_ircut"

class Tb6613ftgTest : public IrcutTest
{
      protected:
	void SetUp() override
	{
		IrcutTest::SetUp();
		simsoc_gpio_add("irpin", 0);
		conf_->constants[0].ir_cut_filter_pin = g_strdup("irpin");
	}
	void TearDown() override
	{
		simsoc_motor_remove(TB_DEV);
		IrcutTest::TearDown();
	}
	void dc_section(bool use_hold)
	{
		section("ircut_tb6613ftg", {{"tb6613ftg_wait_time", "50"},
		                            {"tb6613ftg_dev", TB_DEV},
		                            {"tb6613ftg_data_pin", "data_pin_long"},
		                            {"tb6613ftg_clk_pin", "clk"},
		                            {"tb6613ftg_ld_pin", "ld"},
		                            {"tb6613ftg_pin_active_high", "false"},
		                            {"tb6613ftg_voltage", "230.8"},
		                            {"tb6613ftg_mck_pin", "mck_pin_x"},
		                            {"tb6613ftg_constant_current", "false"},
		                            {"tb6613ftg_hold_voltage", "100"},
		                            {"tb6613ftg_use_hold_current", use_hold ? "true" : "false"}});
	}
	std::string requests()
	{
		return take_text(simsoc_motor_requests(TB_DEV));
	}
};

TEST_F(Tb6613ftgTest, DcModeSetUpAndPulse)
{
	simsoc_tb6613ftg_add(TB_DEV, 0, 100, 0);
	dc_section(true);
	ircut *i = add(prodconf_ircut_tb6613ftg_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ("open 0x2\nset_mck_pin mck_pin\nset_pins data_pi clk ld\nset_channel 8 0xb1\nset_channel "
	          "10 0xc0\n",
	          requests());
	simsoc_motor_clear_requests(TB_DEV);
	simsoc_log_clear();
	EXPECT_EQ(PLATFORM_OK,
	          plat_->daynight_switch(plat_, 1, 256)); // channel 0's filter whatever the stream
	platform_remove_all_ircut(plat_, 0);
	// Active low: day drives the filter pin low; 100 V is entry 21.
	EXPECT_EQ("set_channel 10 0x80\nset_channel 8 0xb1\nset_channel 8 0x95\n", requests());
	EXPECT_EQ("irpin=0\nsleep 50\n", pulses());

	prodconf_free(conf_);
	conf_ = prodconf_new();
	conf_->constants[0].ir_cut_filter_pin = g_strdup("irpin");
	dc_section(false);
	i = add(prodconf_ircut_tb6613ftg_create(conf_, engine_, 0));
	simsoc_motor_clear_requests(TB_DEV);
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 0, 0));
	platform_remove_all_ircut(plat_, 0);
	EXPECT_EQ("set_channel 10 0x80\nset_channel 10 0xc0\n", requests());
	EXPECT_EQ(1, simsoc_gpio_level("irpin"));
}

TEST_F(Tb6613ftgTest, DcModeWithoutDeviceKeepsTheSwitch)
{
	dc_section(false);
	EXPECT_EQ(nullptr, prodconf_ircut_tb6613ftg_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("ircut: Failed to open device " TB_DEV "\n"));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to create ircut, continue anyway\n"));
	// The switch stays, but finds no filter of its own on channel 0.
	add(ircut_new());
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 1, 0));
	platform_remove_all_ircut(plat_, 0);
	// A filter of either TB6613FTG kind is its own.
	for (uint32_t type : {2u, 15u}) {
		ircut *i = add(ircut_new());
		i->type = type;
		i->set = [](ircut *, int) { return 0; };
		EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 512)) << type;
		platform_remove_all_ircut(plat_, 0);
	}
}

TEST_F(Tb6613ftgTest, DcModeFailedRequestEndsTheMove)
{
	simsoc_tb6613ftg_add(TB_DEV, 0, 100, 0);
	const struct {
		bool use_hold;
		unsigned passing; // requests of the move that succeed first
		const char *sent;
		const char *message;
	} cases[] = {
	    {true, 0, "", "Failed to enable IR cut filter driver forward/reverse mode.\n"},
	    {true, 1, "set_channel 10 0x80\n", "Failed to set IR cut filter driver drive current.\n"},
	    {true, 2, "set_channel 10 0x80\nset_channel 8 0xb1\n",
	     "Failed to set IR cut filter hold voltage.\n"},
	    {false, 1, "set_channel 10 0x80\n", "Failed to set IR cut filter driver in short brake mode.\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.message);
		prodconf_free(conf_);
		conf_ = prodconf_new();
		conf_->constants[0].ir_cut_filter_pin = g_strdup("irpin");
		dc_section(c.use_hold);
		ircut *i = add(prodconf_ircut_tb6613ftg_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, i);
		simsoc_motor_clear_requests(TB_DEV);
		simsoc_motor_fail_after(TB_DEV, c.passing, EIO);
		log_.clear();
		EXPECT_EQ(0, ircut_set(i, 1));
		platform_remove_all_ircut(plat_, 0);
		EXPECT_EQ(c.sent, requests());
		EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find(c.message));
	}
}

class StepperTest : public Tb6613ftgTest
{
      protected:
	void stepper_section(const char *interval, const char *timeout_ms = "1000")
	{
		section("ircut_tb6613ftg_stepper",
		        {{"dev", TB_DEV},
		         {"steps_per_second", "500"},
		         {"steps", "200"},
		         {"calibration_steps", "300"},
		         {"calibration_backout", "20"},
		         {"calibration_enables_ircut", "true"},
		         {"calibration_interval", interval},
		         {"calibration_voltage_level", "voltage_level_0300"},
		         {"timeout_ms", timeout_ms},
		         {"motor_start_step", "5"},
		         {"motor_hold_voltage_level", "voltage_level_0075"},
		         {"motor_voltage_level", "voltage_level_0225"},
		         {"motor_exitation_mode", "exitation_mode_256_micro_steps"},
		         {"motor_divide_int_ck", "2"},
		         {"motor_pwm_turn_off", "pwm_turn_off_period_8"},
		         {"motor_fast_decay", "fast_decay_1"}});
	}
	// The filter travels between stops 0 (night) and 220 (day).
	ircut *make(const char *interval, const char *timeout_ms = "1000")
	{
		simsoc_tb6613ftg_add(TB_DEV, 0, 220, 100);
		stepper_section(interval, timeout_ms);
		ircut *i = add(prodconf_ircut_tb6613ftg_stepper_create(conf_, engine_, 0));
		simsoc_motor_clear_requests(TB_DEV);
		return i;
	}
};

const char *const calibration = "set_voltages 0 3\nmove 500 300\n"
                                "set_voltages 0 2\nmove 500 16\n"
                                "set_voltages 0 2\nmove 500 16\n"
                                "set_voltages 0 2\nmove 500 16\n"
                                "set_voltages 0 2\nmove 500 -20\n";

TEST_F(StepperTest, SetUpRequests)
{
	simsoc_tb6613ftg_add(TB_DEV, 0, 220, 100);
	stepper_section("5");
	ircut *i = add(prodconf_ircut_tb6613ftg_stepper_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(15u, i->type);
	// The pin block goes out zeroed: the settings name no pins.
	EXPECT_EQ("open 0x2\nset_pins   \nconfig 0 0 0 0 1 2 3 1\nstart 5 0 2\n", requests());
	simsoc_inject_failure(TB_DEV, SIMSOC_OP_IOCTL, EIO, 1);
	EXPECT_EQ(nullptr, prodconf_ircut_tb6613ftg_stepper_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to init tb6613ftg_stepper IR cut filter driver.\n"));
}

TEST_F(StepperTest, CalibratesFirstAndAfterTheInterval)
{
	ircut *i = make("2");
	ASSERT_NE(nullptr, i);
	// Day: calibration leaves the filter at day, so nothing more moves.
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_EQ(0, ircut_set(i, 1)); // unchanged: nothing
	EXPECT_EQ(0, ircut_set(i, 0));
	EXPECT_EQ(0, ircut_set(i, 1));
	EXPECT_EQ(0, ircut_set(i, 0)); // two moves since: calibrates again
	platform_remove_all_ircut(plat_, 0);
	std::string move = "set_voltages 0 2\nmove 500 ";
	EXPECT_EQ(std::string(calibration) + move + "-200\n" + move + "200\n" + calibration + move + "-200\n",
	          requests());
	// 100 + 300 stalls at 220, back 20 to 200, then -200, +200, calibrate
	// again to 200, and -200.
	EXPECT_EQ(0, simsoc_motor_position(TB_DEV));
}

TEST_F(StepperTest, StuckDriverTimesOutAndCalibratesNext)
{
	ircut *i = make("10", "300");
	ASSERT_NE(nullptr, i);
	simsoc_motor_set_step_per_query(TB_DEV, 0);
	simsoc_log_clear();
	EXPECT_EQ(0, ircut_set(i, 0));
	platform_remove_all_ircut(plat_, 0);
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Timeout while waiting for IR cut movement to finish.\n"));
	// 300 / 100 + 1 polls, each after its wait.
	EXPECT_EQ("sleep 100\nsleep 100\nsleep 100\nsleep 100\n", pulses());
	EXPECT_EQ("set_voltages 0 3\nmove 500 300\n", requests());

	// A failed job leaves the position unknown: the next set calibrates
	// (the voltages fail and go on, the move fails).
	i = make("10");
	simsoc_inject_failure(TB_DEV, SIMSOC_OP_IOCTL, EIO, 2);
	EXPECT_EQ(0, ircut_set(i, 1));
	EXPECT_EQ(0, ircut_set(i, 0));
	platform_remove_all_ircut(plat_, 0);
	EXPECT_EQ(std::string(calibration) + "set_voltages 0 2\nmove 500 -200\n", requests());
	EXPECT_EQ(0, simsoc_motor_position(TB_DEV));
}

TEST_F(StepperTest, CountsDownPerPoll)
{
	ircut *i = make("10", "1000");
	simsoc_motor_set_step_per_query(TB_DEV, 100);
	simsoc_log_clear();
	EXPECT_EQ(0, ircut_set(i, 1));
	platform_remove_all_ircut(plat_, 0);
	// 300: three polls; 16: one each; 20: one.
	EXPECT_EQ(7u, lines_with(pulses(), "sleep 100").size());
	EXPECT_EQ(200, simsoc_motor_position(TB_DEV));
}

} // namespace

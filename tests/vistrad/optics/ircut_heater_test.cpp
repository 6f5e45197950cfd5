// The stepper IR-cut filter's heater mode, driven by the stand-in
// temperature service on the private bus.

#include <gtest/gtest.h>
#include <simsoc_motor.h>

#include "../temperature_service.h"
#include "core/control_timeout.h"
#include "optics/ircut.h"
#include "optics_fixture.h"

namespace
{

#define TB_DEV "/dev/tb6613ftg_heater"

struct timespec fake_now = {1000, 0};
void fake_clock(struct timespec *now)
{
	*now = fake_now;
}

class HeaterTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		control_timeout_set_clock(fake_clock);
		// Below the limit: the heater-on limit (rising above it) is not passed yet.
		service_.start(7, -30.0);
		simsoc_tb6613ftg_add(TB_DEV, 0, 220, 100);
		section("ircut_tb6613ftg_stepper", {{"dev", TB_DEV},
		                                    {"steps_per_second", "500"},
		                                    {"steps", "200"},
		                                    {"calibration_steps", "300"},
		                                    {"calibration_backout", "20"},
		                                    {"calibration_enables_ircut", "true"},
		                                    {"calibration_interval", "100"},
		                                    {"calibration_voltage_level", "voltage_level_0300"},
		                                    {"timeout_ms", "1000"},
		                                    {"motor_start_step", "0"},
		                                    {"motor_hold_voltage_level", "voltage_level_0075"},
		                                    {"motor_voltage_level", "voltage_level_0225"},
		                                    {"motor_exitation_mode", "exitation_mode_1_2_phase"},
		                                    {"motor_divide_int_ck", "0"},
		                                    {"motor_pwm_turn_off", "pwm_turn_off_period_2"},
		                                    {"motor_fast_decay", "fast_decay_off"},
		                                    {"temp_sensor_id", "3"},
		                                    {"temp_sensor_heater_limit", "-20"},
		                                    {"heater_hold_voltage_level", "voltage_level_0150"},
		                                    {"heater_enable_steps", "10"}});
		filter_ = static_cast<ircut *>(prodconf_ircut_tb6613ftg_stepper_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, filter_);
		platform_add_ircut(plat_, filter_, 0);
		// Day: calibration ends at day.
		ASSERT_EQ(0, ircut_set(filter_, 1));
		ASSERT_TRUE(arrived("move 500 -20\n")) << requests();
		simsoc_motor_clear_requests(TB_DEV);
	}
	void TearDown() override
	{
		platform_remove_all_ircut(plat_, 0);
		control_timeout_set_clock(nullptr);
		service_.stop();
		simsoc_motor_remove(TB_DEV);
		OpticsTest::TearDown();
	}
	std::string requests()
	{
		return take_text(simsoc_motor_requests(TB_DEV));
	}
	bool arrived(const std::string &tail)
	{
		return pump_until([&] {
			std::string r = requests();
			return r.size() >= tail.size() &&
			       r.compare(r.size() - tail.size(), tail.size(), tail) == 0;
		});
	}
	ircut *filter_ = nullptr;
	TemperatureService service_;
};

const char heater_in[] = "set_voltages 1 2\nmove 500 10\n";
const char heater_out[] = "set_voltages 0 2\nmove 500 -10\n";
const char to_night[] = "set_voltages 0 2\nmove 500 -200\n";

TEST_F(HeaterTest, HeaterOffRunsTheLastQueuedSet)
{
	EXPECT_EQ(2u, service_.registrations());
	service_.emit(7); // colder than the limit: heater on
	ASSERT_TRUE(arrived(heater_in));
	// While the delay runs, sets wait; the last one wins.
	EXPECT_EQ(0, ircut_set(filter_, 0));
	EXPECT_EQ(0, ircut_set(filter_, 1));
	EXPECT_EQ(0, ircut_set(filter_, 0));
	pump_for(20);
	EXPECT_EQ(heater_in, requests());
	service_.emit(8); // warm again: heater off runs the queued night
	ASSERT_TRUE(arrived(std::string(heater_out) + to_night));
	EXPECT_EQ(std::string(heater_in) + heater_out + to_night, requests());
}

TEST_F(HeaterTest, DelayEndRunsTheQueuedSet)
{
	service_.emit(7);
	ASSERT_TRUE(arrived(heater_in));
	EXPECT_EQ(0, ircut_set(filter_, 0));
	fake_now.tv_sec += 29;
	control_take_expired_timeouts(engine_, nullptr);
	pump_for(20);
	EXPECT_EQ(heater_in, requests());
	fake_now.tv_sec += 1;
	control_take_expired_timeouts(engine_, nullptr);
	// Still in heater mode: the filter moves, then holds again.
	ASSERT_TRUE(arrived(std::string(heater_out) + to_night + heater_in));
	// Later sets run at once.
	EXPECT_EQ(0, ircut_set(filter_, 1));
	ASSERT_TRUE(arrived(std::string(heater_out) + "set_voltages 0 2\nmove 500 200\n" + heater_in));
}

TEST_F(HeaterTest, DestroyedDuringTheDelay)
{
	service_.emit(7);
	ASSERT_TRUE(arrived(heater_in));
	EXPECT_EQ(0, ircut_set(filter_, 0)); // queued
	platform_remove_all_ircut(plat_, 0);
	// Neither the delay's end nor the limits reach the filter that is gone.
	fake_now.tv_sec += 31;
	control_take_expired_timeouts(engine_, nullptr);
	service_.emit(8);
	pump_for(20);
	EXPECT_EQ(heater_in, requests());
}

} // namespace

// The lens's temperature guard through the stand-in temperature service on
// the private bus: what it registers, the signals that stop and restart the
// motors, and what is left once the block is gone.

#include <gtest/gtest.h>

#include "../temperature_service.h"
#include "core/control_temperature.h"
#include "core/daemon.h"
#include "lens_mcu_fixture.h"

namespace
{

int setups;
int count_setup(camblock *, int32_t)
{
	setups++;
	return 0;
}

class GuardBusTest : public LensMcuTest
{
      protected:
	void SetUp() override
	{
		LensMcuTest::SetUp();
		add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
		setups = 0;
	}
	void TearDown() override
	{
		LensMcuTest::TearDown();
		service_.stop();
	}
	TemperatureService service_;
};

TEST_F(GuardBusTest, TheLimitsStopAndRestartTheMotors)
{
	service_.start(7, 25.0);
	camblock_temperature_guard *g =
	    camblock_temperature_guard_new(engine_, block_, 2, -17, -24, count_setup, nullptr, nullptr);
	ASSERT_EQ(g, block_->temperature_guard);
	ASSERT_NE(nullptr, g->registrations[0]);
	ASSERT_NE(nullptr, g->registrations[1]);
	// The start limit with direction 1, then the stop limit with direction 0.
	std::vector<TemperatureRegistration> r = service_.registration_list();
	ASSERT_EQ(2u, r.size());
	EXPECT_EQ(7, r[0].id);
	EXPECT_EQ(2, r[0].sensor);
	EXPECT_EQ(-17.0, r[0].limit);
	EXPECT_TRUE(r[0].below);
	EXPECT_EQ(8, r[1].id);
	EXPECT_EQ(-24.0, r[1].limit);
	EXPECT_FALSE(r[1].below);
	// The motors start as the start limit's state says the other way round.
	EXPECT_EQ(!g->registrations[0]->state, g->blocked);

	g->blocked = 0;
	service_.emit(8);
	ASSERT_TRUE(pump_until([&] { return g->blocked == 1; }));
	EXPECT_EQ(0, zoom_move_abs(zoom_, 100));
	EXPECT_EQ("", writes());
	service_.emit(7);
	ASSERT_TRUE(pump_until([&] { return g->blocked == 0; }));
	EXPECT_EQ(1, setups);
	EXPECT_EQ(0, zoom_move_abs(zoom_, 100));
	EXPECT_EQ("0x101=100\n", writes());
	daemon_get_context()->stream_restart = 0;

	// Gone with the block: their signals reach nothing.
	camblock_set_zoom(block_, nullptr);
	platform_remove_all_camblock(plat_, 0);
	block_ = nullptr;
	zoom_->owner = nullptr;
	focus_->owner = nullptr;
	service_.emit(8);
	service_.emit(7);
	pump_for(50);
	EXPECT_EQ(1, setups);
}

TEST_F(GuardBusTest, ALimitThatCannotBeRegisteredIsLoggedAndStopsNothing)
{
	service_.start(7, -30.0);
	service_.set_mode("refuse");
	camblock_temperature_guard *g = camblock_temperature_guard_new(
	    engine_, block_, 2, -30, -32, count_setup,
	    "Failed to register START temperature callback for        camblock\n", nullptr);
	EXPECT_EQ(nullptr, g->registrations[0]);
	EXPECT_EQ(nullptr, g->registrations[1]);
	EXPECT_EQ(0, g->blocked);
	EXPECT_EQ("Failed to register START temperature callback for        camblock\n"
	          "Failed to register STOP temperature callback for camblock\n",
	          log_.text(DEBUG_ERROR));
	EXPECT_TRUE(camblock_motor_allowed(block_));
}

} // namespace

// The iris object's wrappers, tables, state parameters and detection, and
// the DC iris.

#include <gtest/gtest.h>
#include <simsoc_gpio.h>

#include "core/prodconf_modules.h"
#include "optics/iris.h"
#include "optics_fixture.h"

namespace
{

enum { PARAM_DCIRIS = 60, PARAM_POSITIONABLE = 61, PARAM_IRIS_STATE = 82 };

int32_t param(uint32_t id)
{
	int32_t v = -1;
	if (param_get_int(id, 0, &v) != 0)
		return -100;
	return v;
}

int slot_calls;
int count_slot(struct iris *)
{
	return ++slot_calls;
}
int failing_calibrate(struct iris *)
{
	slot_calls++;
	return -1;
}
int32_t position_slot(struct iris *)
{
	return 0;
}
void temperature_slot(struct iris *, int) {}

class IrisTest : public OpticsTest
{
};

TEST_F(IrisTest, WrappersNeedObjectPlatformAndSlot)
{
	EXPECT_EQ(-2, iris_move_to(nullptr, 3));
	struct iris *i = iris_new();
	EXPECT_EQ(-1, i->device);
	EXPECT_EQ(-1, i->hooks[0](i));
	// Never added to a platform: nothing is called.
	i->is_moving = count_slot;
	slot_calls = 0;
	EXPECT_EQ(-2, iris_is_moving(i));
	EXPECT_EQ(0, slot_calls);
	iris_add_platform(i, plat_);
	EXPECT_EQ(1, iris_is_moving(i));
	const int results[] = {iris_move_to(i, 1),
	                       iris_move_rel(i, 1, 2, 0),
	                       iris_get_position(i),
	                       iris_go_home(i),
	                       iris_set_reset_needed(i),
	                       iris_spare_one(i, 1),
	                       iris_spare_none(i),
	                       iris_calibrate(i),
	                       iris_get_temperature_sensor_id(i),
	                       iris_read_sensor(i),
	                       iris_set_temperature_status(i, 0)};
	for (int r : results)
		EXPECT_EQ(-2, r);
	int status = 0;
	EXPECT_EQ(-16384, iris_get_lowest_operating_temperature(i, &status));
	EXPECT_EQ(-2, status);
	status = 0;
	EXPECT_EQ(-16384, iris_get_lowest_startup_temperature(i, &status));
	EXPECT_EQ(-2, status);
	EXPECT_EQ(0, iris_hall_calibrated(i));
	EXPECT_EQ(0, iris_update_position(i, 1, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_WARNING).find("iris_hall_calibrated: Got null iris object.\n"));
	iris_destroy(i);
}

TEST_F(IrisTest, BackInRangeCalibratesWhenPending)
{
	struct iris *i = iris_new();
	iris_add_platform(i, plat_);
	i->set_temperature_status = temperature_slot;
	i->get_position = position_slot;
	i->calibrate = failing_calibrate;
	i->calibration_pending = 1;
	slot_calls = 0;
	EXPECT_EQ(0, iris_set_temperature_status(i, 1));
	EXPECT_EQ(0, slot_calls); // still out of range
	EXPECT_EQ(0, iris_set_temperature_status(i, 0));
	EXPECT_EQ(1, slot_calls);
	EXPECT_EQ(1, i->calibration_pending);
	EXPECT_NE(std::string::npos, log_.text(DEBUG_WARNING).find("P-iris: failed to calibrate\n"));
	i->calibrate = count_slot;
	EXPECT_EQ(0, iris_set_temperature_status(i, 0));
	EXPECT_EQ(0, i->calibration_pending);
	iris_destroy(i);
}

TEST_F(IrisTest, PercentToFNumberFromTheLimits)
{
	struct iris *i = iris_new();
	EXPECT_EQ(0, iris_percent_to_F_number_for_stream(i, 50, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR)
	                                 .find("iris_percent_to_F_number_for_stream: Failed to get parameter "
	                                       "parid_dciris_min_F\n"));
	ASSERT_EQ(0, param_set_int(62, 0, 140));
	ASSERT_EQ(0, param_set_int(64, 0, 400));
	EXPECT_EQ(0, iris_percent_to_F_number_for_stream(i, 50, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("parid_dciris_max_F\n"));
	ASSERT_EQ(0, param_set_int(63, 0, 1600));
	const struct {
		int percent;
		int32_t F;
	} cases[] = {{0, 22938}, {50, 4 * 16384}, {75, 10 * 16384}, {100, 16 * 16384}};
	for (auto &c : cases)
		EXPECT_EQ(c.F, iris_percent_to_F_number_for_stream(i, c.percent, 0)) << c.percent;
	EXPECT_EQ(0, iris_percent_to_F_number_for_stream(nullptr, 50, 0));
	iris_destroy(i);
}

TEST_F(IrisTest, NearestTablePositionTakesTheLowerOnATie)
{
	struct iris *i = iris_new();
	EXPECT_EQ(-2, iris_position_for_F_number(i, 100));
	int32_t F[] = {100, 200, 400, 800};
	i->F_table = F;
	i->aperture_table = F;
	i->max_position = 3;
	i->table_length = 4;
	const struct {
		int32_t F;
		int32_t position;
	} cases[] = {{0, 0}, {150, 0}, {151, 1}, {300, 1}, {301, 2}, {600, 2}, {700, 3}, {5000, 3}};
	for (auto &c : cases)
		EXPECT_EQ(c.position, iris_position_for_F_number(i, c.F)) << c.F;
	EXPECT_EQ(3, iris_get_max_pos(i));
	EXPECT_EQ(400, iris_F_number_at_position(i, 2));
	i->F_table = nullptr;
	i->aperture_table = nullptr;
	iris_destroy(i);
}

TEST_F(IrisTest, PercentagesAroundTheBestPosition)
{
	struct iris *i = iris_new();
	i->best_position = 26;
	i->max_position = 254;
	const struct {
		int32_t position, percent;
	} to_percent[] = {{0, 0}, {13, 25}, {25, 48}, {26, 50}, {140, 75}, {254, 100}, {-1, -2}, {255, -2}};
	for (auto &c : to_percent)
		EXPECT_EQ(c.percent, iris_position_to_percent(i, c.position)) << c.position;
	const struct {
		int32_t percent, position;
	} to_position[] = {{0, 0}, {25, 13}, {50, 26}, {75, 140}, {100, 254}, {-1, -2}, {101, -2}};
	for (auto &c : to_position)
		EXPECT_EQ(c.position, iris_percent_to_position(i, c.percent)) << c.percent;
	EXPECT_EQ(36864, iris_ratio_squared(3, 2)); // 1.5 squared is 2.25
	EXPECT_EQ(4096, iris_ratio_squared(1, 2));
	iris_destroy(i);
}

TEST_F(IrisTest, StateParameters)
{
	iris_set_positionable_param(0);
	EXPECT_EQ(-100, param(PARAM_POSITIONABLE));
	iris_set_positionable_param(1);
	EXPECT_EQ(1, param(PARAM_POSITIONABLE));
	iris_set_state_params(1, 0);
	EXPECT_EQ(1, param(PARAM_DCIRIS));
	EXPECT_EQ(2, param(PARAM_IRIS_STATE));
	iris_set_state_params(0, 1);
	EXPECT_EQ(1, param(PARAM_IRIS_STATE));
}

int gpio_calls;
int fail_on_call;
int counting_gpio_set(struct platform *p, const char *pin, int value)
{
	if (++gpio_calls == fail_on_call)
		return -4;
	return platform_gpio_write_sysfs(p, pin, value);
}

class IrisDetectTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		prodconf_register_modules(conf_);
		for (const char *pin : {"sa", "sb", "da", "db"})
			simsoc_gpio_add(pin, 0);
		section("iris_detection", {{"sel_a_pin", "sa"},
		                           {"sel_b_pin", "sb"},
		                           {"det_a_pin", "da"},
		                           {"det_b_pin", "db"},
		                           {"stepper_iris", "iris_stepper_pcc"}});
		gpio_calls = 0;
		fail_on_call = 0;
	}
	std::string selected()
	{
		GList *l = conf_->selected_modules[0];
		return l ? static_cast<const char *>(l->data) : "";
	}
};

TEST_F(IrisDetectTest, PinsAndTypeIdDecide)
{
	const struct {
		int det_a, det_b;
		const char *type_id;
		int result;
		const char *writes;
		const char *module;
		const char *message;
	} cases[] = {
	    {0, 0, "1000", 0, "sa=0\nsb=1\n", "", "Iris outputs shorted\n"},
	    {0, 1, "1000", 1, "sa=0\nsb=1\nsa=0\nsb=0\n", "iris_dc", "Detected a DC iris\n"},
	    {1, 0, "1000", 3, "sa=0\nsb=1\nsa=1\nsb=0\n", "iris_stepper_pcc", "Detected a stepper iris\n"},
	    {1, 1, "10", 7, "sa=0\nsb=1\n", "", "Iris not present, manual iris assumed\n"},
	    {1, 1, "1000", 6, "sa=0\nsb=1\nsa=1\nsb=1\n", "", "Detected a e-KT lens\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.message);
		write_file("var/lib/soloff/type_id", c.type_id);
		simsoc_gpio_clear_writes();
		g_list_free_full(conf_->selected_modules[0], g_free);
		conf_->selected_modules[0] = nullptr;
		log_.clear();
		simsoc_gpio_set_input("da", c.det_a);
		simsoc_gpio_set_input("db", c.det_b);
		EXPECT_EQ(c.result, iris_detect(conf_, engine_, 0));
		EXPECT_EQ(c.writes, take_text(simsoc_gpio_writes()));
		EXPECT_EQ(c.module, selected());
		EXPECT_NE(std::string::npos, log_.text().find(c.message));
	}
	EXPECT_EQ(1, param(PARAM_IRIS_STATE)); // the manual iris: noautomatic
}

TEST_F(IrisDetectTest, FailuresGiveUnknownOrSelectNothing)
{
	simsoc_gpio_set_input("da", 0);
	simsoc_gpio_set_input("db", 1);
	// A failing select write: the result stands, no module is chosen.
	plat_->gpio_set = counting_gpio_set;
	fail_on_call = 3;
	EXPECT_EQ(1, iris_detect(conf_, engine_, 0));
	EXPECT_EQ("", selected());
	// A failing detect-mode write ends detection quietly.
	gpio_calls = 0;
	fail_on_call = 1;
	EXPECT_EQ(0, iris_detect(conf_, engine_, 0));
	// A detection pin that cannot be read.
	plat_->gpio_set = nullptr;
	simsoc_gpio_reset();
	for (const char *pin : {"sa", "sb", "da"})
		simsoc_gpio_add(pin, 0);
	EXPECT_EQ(0, iris_detect(conf_, engine_, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("iris_detect: Failed to detect iris mode\n"));
}

TEST_F(IrisTest, DcIrisStateAndItsOneOperation)
{
	// Without the iris manager the type id is not consulted.
	write_file("var/lib/soloff/type_id", "200");
	struct iris *i = static_cast<struct iris *>(prodconf_iris_dc_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(1u, i->type);
	EXPECT_EQ(0, i->automatic);
	EXPECT_EQ(0, param(PARAM_IRIS_STATE));
	EXPECT_EQ(1, param(PARAM_DCIRIS));
	EXPECT_EQ(-100, param(PARAM_POSITIONABLE));
	iris_add_platform(i, plat_);
	EXPECT_EQ(-255, iris_move_to(i, 50)); // the platform sends the empty request
	EXPECT_EQ(-2, iris_get_position(i));
	EXPECT_EQ(-2, iris_go_home(i));
	EXPECT_EQ(-2, iris_is_moving(i));
	iris_destroy(i);

	write_file("var/lib/soloff/irismgr", "1");
	i = iris_dc_new();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(2, param(PARAM_IRIS_STATE));
	EXPECT_NE(
	    std::string::npos,
	    log_.text(DEBUG_ERROR).find("Detected DC iris connected but iris TypeID 200 is not a DC iris\n"));
	iris_destroy(i);
	write_file("var/lib/soloff/type_id", "199");
	i = iris_dc_new();
	EXPECT_EQ(0, param(PARAM_IRIS_STATE));
	iris_destroy(i);
}

} // namespace

// Stepper P-irises on the simulated 'E' motor driver, with their data from
// the iris data library's files.

#include <errno.h>
#include <gtest/gtest.h>
#include <simsoc_motor.h>

#include "optics/iris.h"
#include "optics/iris_stepper.h"
#include "optics_fixture.h"

namespace
{

#define MOTOR "/dev/iris_motor0"
enum { PARAM_IRIS_STATE = 82, PARAM_APERTURE_OPEN = 79 };

// An ascending table of n entries from first by step.
std::string table(int n, double first, double step)
{
	std::string out;
	for (int i = 0; i < n; i++)
		out += (i ? ";" : "") + std::to_string(first + step * i);
	return out;
}

class PirisTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		write_file("var/lib/soloff/type_id", "2000");
		write_file("var/lib/soloff/range", "2 0 2 3");
		data_file("a", "2;3", "2;1", 1.4);
		simsoc_iris_motor_add(MOTOR, 400, 1, 7, 150);
		settings_ = {};
		settings_.tb6613ftg_dev = (char *)MOTOR;
		settings_.tb6613ftg_data_pin = (char *)"data";
		settings_.tb6613ftg_clk_pin = (char *)"clk";
		settings_.tb6613ftg_ld_pin = (char *)"latch";
		settings_.tb6613ftg_pwm_a_pin = (char *)"pwm_a_long";
		settings_.tb6613ftg_pwm_b_pin = (char *)"pwm_b";
		settings_.tb6613ftg_sel_a_pin = (char *)"";
		settings_.tb6613ftg_sel_b_pin = (char *)"";
		settings_.tb6613ftg_det_a_pin = (char *)"";
		settings_.tb6613ftg_det_b_pin = (char *)"";
		settings_.tb6613ftg_open_dir = 1;
		settings_.tb6613ftg_speed_normal = 100;
		settings_.tb6613ftg_speed_fast = 300;
		settings_.tb6613ftg_backout_steps = 10;
		settings_.tb6613ftg_backlash = 7;
		settings_.tb6613ftg_temperature_sensor_id = 3;
	}
	void TearDown() override
	{
		simsoc_motor_remove(MOTOR);
		OpticsTest::TearDown();
	}
	// A data file of 255 positions whose F-numbers start at open_F.
	void data_file(const char *name, const char *version, const char *revision, double open_F)
	{
		write_file(std::string("var/lib/soloff/files/2000/") + name,
		           std::string("[header]\nversion=") + version + "\nrevision=" + revision +
		               "\n[tables]\nF=" + table(255, open_F, 0.1) + "\nA=" + table(255, 1.0, 0.5) +
		               "\n[values]\nopen_F=" + std::to_string(open_F) +
		               "\nbest_F=4.0\ndiffraction_F=11\n");
	}
	struct iris *make()
	{
		iris_stepper_actuator *act = iris_stepper_actuator_tb6613ftg_create(&settings_);
		if (!act)
			return nullptr;
		struct iris *i = iris_stepper_create(engine_, act);
		if (!i) {
			act->destroy(act);
			return nullptr;
		}
		iris_add_platform(i, plat_);
		return i;
	}
	std::string requests()
	{
		std::string r = take_text(simsoc_motor_requests(MOTOR));
		simsoc_motor_clear_requests(MOTOR);
		return r;
	}
	int32_t param(uint32_t id)
	{
		int32_t v = -100;
		param_get_int(id, 0, &v);
		return v;
	}
	iris_tb6613ftg_settings settings_;
};

TEST_F(PirisTest, CalibratesAgainstTheOpenStopAndBacksOut)
{
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(3u, i->type);
	EXPECT_EQ(254, i->max_position);
	EXPECT_EQ(255, i->table_length);
	EXPECT_EQ(22938, i->open_F);
	EXPECT_EQ(26, i->best_position); // 1.4 + 26 x 0.1 = 4.0
	EXPECT_EQ(1, i->automatic);
	EXPECT_EQ(0, param(PARAM_IRIS_STATE));
	// A move waits for the calibration, which holds the actuator.
	EXPECT_EQ(0, iris_move_to(i, 50));
	EXPECT_EQ(50, iris_get_position(i));
	EXPECT_EQ("open 0x0\nstop\nserial_config data clk latch\nmotor_config pwm_a_l pwm_b\n"
	          "move 1 318 300\nmove 0 17 300\nmove 0 50 100\n",
	          requests());
	EXPECT_EQ(60, simsoc_motor_position(MOTOR)); // backout 10 plus 50
	// A reversal sends the backlash too, and both sides agree again.
	EXPECT_EQ(0, iris_move_to(i, 20));
	EXPECT_EQ("move 1 37 100\n", requests());
	EXPECT_EQ(20, iris_get_position(i));
	EXPECT_EQ(30, simsoc_motor_position(MOTOR));
	EXPECT_EQ(-1, iris_move_to(i, 20));        // already there
	EXPECT_EQ(0, iris_move_rel(i, 0, 500, 1)); // clamped to position 0
	EXPECT_EQ("move 1 20 300\n", requests());
	EXPECT_EQ(0, iris_get_position(i));
	EXPECT_EQ(10, simsoc_motor_position(MOTOR));
	iris_destroy(i);
	EXPECT_EQ("stop\n", requests());
}

TEST_F(PirisTest, PositionDuringAMoveAndRefusedMoves)
{
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(0, iris_move_to(i, 20));
	simsoc_motor_set_step_per_query(MOTOR, 10);
	EXPECT_EQ(0, iris_move_to(i, 100));
	// Two queries of ten steps: 60 still to go towards 100.
	EXPECT_EQ(40, iris_get_position(i));
	simsoc_motor_set_step_per_query(MOTOR, UINT32_MAX);
	EXPECT_EQ(100, iris_get_position(i));
	requests();

	// Out of range: nothing moves, and the answer is not an error.
	EXPECT_EQ(0, iris_set_temperature_status(i, 1));
	EXPECT_EQ(1, i->get_temperature_status(i));
	EXPECT_EQ(0, iris_move_rel(i, 1, 5, 0));
	EXPECT_EQ("", requests());
	EXPECT_NE(
	    std::string::npos,
	    log_.text(DEBUG_WARNING)
	        .find("tb_iris_move_rel: temperature is out of operating limit. P-iris will not move.\n"));
	EXPECT_EQ(0, iris_set_temperature_status(i, 0));

	// A failed move keeps the position and direction the iris had.
	int32_t before = i->position;
	uint32_t direction = i->last_direction;
	simsoc_inject_failure(MOTOR, SIMSOC_OP_IOCTL, EIO, 1);
	EXPECT_EQ(-1, iris_move_to(i, 3));
	EXPECT_EQ(before, i->position);
	EXPECT_EQ(direction, i->last_direction);
	int status = 0;
	EXPECT_EQ(3, iris_get_temperature_sensor_id(i));
	EXPECT_EQ(0, iris_get_lowest_operating_temperature(i, &status));
	EXPECT_EQ(1, status);
	iris_destroy(i);
}

TEST_F(PirisTest, OutOfRangeAtCreationPutsCalibrationOff)
{
	settings_.tb6613ftg_temperature_out_of_range = 1;
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(1, i->calibration_pending);
	EXPECT_EQ(0, iris_set_temperature_status(i, 0));
	EXPECT_EQ(0, i->calibration_pending);
	EXPECT_EQ(0, iris_move_to(i, 5));
	EXPECT_EQ("open 0x0\nstop\nserial_config data clk latch\nmotor_config pwm_a_l pwm_b\n"
	          "move 1 318 300\nmove 0 17 300\nmove 0 5 100\n",
	          requests());
	iris_destroy(i);
}

TEST_F(PirisTest, DataFileChoice)
{
	data_file("b", "2;4", "9;9", 1.0);                                  // a minor version above the range
	data_file("c", "2;0", "2;3", 1.2);                                  // the highest accepted revision
	data_file("d", "2;3", "2;3", 1.3);                                  // not strictly higher
	write_file("var/lib/soloff/files/2000/e", "[header]\nversion=2\n"); // not valid
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(19661, i->open_F); // 1.2
	iris_destroy(i);
}

TEST_F(PirisTest, TypeIdsAndMissingData)
{
	write_file("var/lib/soloff/type_id", "4999");
	data_file("../4999/a", "2;3", "2;1", 1.4);
	struct iris *i = make();
	ASSERT_NE(nullptr, i); // a P-iris for the P-iris itself
	iris_destroy(i);
	// ... but not for the motor driver's configuration path.
	i = tb_iris_detect_mode(engine_, &settings_);
	EXPECT_EQ(nullptr, i);
	write_file("var/lib/soloff/type_id", "4998");
	data_file("../4998/a", "2;3", "2;1", 1.4);
	i = tb_iris_detect_mode(engine_, &settings_);
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(3u, i->type);
	EXPECT_NE(std::string::npos, log_.text(DEBUG_INFO).find("Running with P-Iris from configuration\n"));
	iris_destroy(i);

	write_file("var/lib/soloff/type_id", "3000"); // no files for it
	log_.clear();
	EXPECT_EQ(nullptr, make());
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Fatal error: Failed to setup iris type.\n"));
	EXPECT_EQ(2, param(PARAM_IRIS_STATE));
	write_file("var/lib/soloff/type_id", "900");
	EXPECT_EQ(nullptr, make());
	write_file("var/lib/soloff/type_id", "2000");
	write_file("var/lib/soloff/fail", "iris_lib_get_A_table\n");
	log_.clear();
	EXPECT_EQ(nullptr, make());
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to get A values from iris configuration.\n"));
}

TEST_F(PirisTest, DetectionByPins)
{
	for (const char *pin : {"sa", "sb", "da", "db"})
		simsoc_gpio_add(pin, 0);
	settings_.tb6613ftg_sel_a_pin = (char *)"sa";
	settings_.tb6613ftg_sel_b_pin = (char *)"sb";
	settings_.tb6613ftg_det_a_pin = (char *)"da";
	settings_.tb6613ftg_det_b_pin = (char *)"db";
	const struct {
		int det_a, det_b;
		const char *type_id;
		int type; // -1: none
		const char *selects;
	} cases[] = {
	    {0, 1, "2000", 1, "sb=1\nsa=0\nsb=0\nsa=0\n"},
	    {1, 0, "2000", 3, "sb=1\nsa=0\nsb=0\nsa=1\n"},
	    {1, 1, "2000", 6, "sb=1\nsa=0\nsb=1\nsa=1\n"},
	    {1, 1, "10", -1, "sb=1\nsa=0\n"},
	    {0, 0, "2000", -1, "sb=1\nsa=0\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.selects);
		write_file("var/lib/soloff/type_id", c.type_id);
		simsoc_gpio_set_input("da", c.det_a);
		simsoc_gpio_set_input("db", c.det_b);
		simsoc_gpio_clear_writes();
		requests();
		struct iris *i = tb_iris_detect_mode(engine_, &settings_);
		EXPECT_EQ(c.type, i ? (int)i->type : -1);
		EXPECT_EQ(c.selects, take_text(simsoc_gpio_writes()));
		std::string r = requests();
		EXPECT_NE(std::string::npos,
		          r.find("set_channel 12 0x80\nset_channel 13 0x80\nset_channel 11 0xc0\n"))
		    << r;
		if (i)
			iris_destroy(i);
	}
}

TEST_F(PirisTest, ActuatorCreationFailures)
{
	simsoc_inject_failure(MOTOR, SIMSOC_OP_IOCTL, EIO, 2); // stop, then the serial configuration
	EXPECT_EQ(nullptr, iris_stepper_actuator_tb6613ftg_create(&settings_));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_WARNING).find("Could not stop iris.\n"));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Could not create iris actuator.\n"));
	settings_.tb6613ftg_dev = (char *)"/dev/no_such_motor";
	EXPECT_EQ(nullptr, iris_stepper_actuator_tb6613ftg_create(&settings_));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("Failed to open /dev/no_such_motor (No such file"));
}

} // namespace

// Stepper P-irises on the simulated 'E' motor driver, with their data from
// the iris data library's files.

#include <errno.h>
#include <gtest/gtest.h>
#include <simsoc_motor.h>

#include <algorithm>

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
	void data_file(const char *name, const char *version, const char *revision, double open_F,
	               const std::string &more_values = "")
	{
		write_file(std::string("var/lib/soloff/files/2000/") + name,
		           std::string("[header]\nversion=") + version + "\nrevision=" + revision +
		               "\n[tables]\nF=" + table(255, open_F, 0.1) + "\nA=" + table(255, 1.0, 0.5) +
		               "\n[values]\nopen_F=" + std::to_string(open_F) +
		               "\nbest_F=4.0\ndiffraction_F=11\n" + more_values);
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

// The main thread's moves wait while the calibration worker holds the
// actuator; destroying the iris stops and joins a worker still moving.
TEST_F(PirisTest, MovesWaitForTheCalibrationWorker)
{
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	std::string expected = "open 0x0\nstop\nserial_config data clk latch\nmotor_config pwm_a_l pwm_b\n"
	                       "move 1 318 300\nmove 0 17 300\n";
	for (int n = 1; n <= 20; n++) {
		ASSERT_EQ(0, iris_calibrate(i));
		EXPECT_EQ(0, iris_move_to(i, n));
		// The opening move reverses the backout, so it carries the backlash.
		expected += "move 1 325 300\nmove 0 17 300\nmove 0 " + std::to_string(n) + " 100\n";
	}
	EXPECT_EQ(20, iris_get_position(i));
	EXPECT_EQ(30, simsoc_motor_position(MOTOR));
	ASSERT_EQ(0, iris_calibrate(i));
	iris_destroy(i);
	std::string r = requests();
	ASSERT_EQ(expected, r.substr(0, expected.size()));
	// The stop may come between the last calibration's two moves.
	std::vector<std::string> rest = lines_with(r.substr(expected.size()), "");
	std::sort(rest.begin(), rest.end());
	EXPECT_EQ((std::vector<std::string>{"move 0 17 300", "move 1 325 300", "stop"}), rest);
}

TEST_F(PirisTest, LibraryFiguresReplaceTheSettings)
{
	data_file("a", "2;3", "2;1", 1.4,
	          "nominal_speed=250\nlow_speed=100\nhigh_speed=400\nbackout=5\nbacklash=3\n");
	struct iris *i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(0, iris_move_to(i, 4));
	// (5 + 255) x 1.2 = 312 steps, back 5 + 3, and the nominal speed for both.
	EXPECT_EQ("open 0x0\nstop\nserial_config data clk latch\nmotor_config pwm_a_l pwm_b\n"
	          "move 1 312 250\nmove 0 8 250\nmove 0 4 250\n",
	          requests());
	iris_destroy(i);
	requests();
	// Without all three speeds the settings' speeds stay.
	data_file("a", "2;3", "2;1", 1.4, "nominal_speed=250\nlow_speed=100\nbackout=5\n");
	i = make();
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(0, iris_move_to(i, 4));
	EXPECT_EQ("open 0x0\nstop\nserial_config data clk latch\nmotor_config pwm_a_l pwm_b\n"
	          "move 1 312 300\nmove 0 12 300\nmove 0 4 100\n",
	          requests());
	iris_destroy(i);
}

TEST_F(PirisTest, SetModeWritesTheSelectPin)
{
	simsoc_gpio_add("sa", 0);
	iris_stepper_actuator *act = iris_stepper_actuator_tb6613ftg_create(&settings_);
	ASSERT_NE(nullptr, act);
	const struct {
		int type;
		const char *pin;
		bool channel_fails;
		int result;
		const char *log; // GPIO writes and waits
		const char *message;
	} cases[] = {
	    {1, "sa", false, 0, "gpio: sa value 0\nsleep 100\n", nullptr},
	    {3, "sa", false, 0, "gpio: sa value 1\nsleep 100\n", nullptr},
	    {6, "sa", false, 0, "gpio: sa value 1\nsleep 100\n", nullptr},
	    {2, "sa", false, -2, "", "tb_iris_set_mode: Bad iris type 2\n"},
	    {0, "sa", false, -2, "", "tb_iris_set_mode: Bad iris type 0\n"},
	    {3, "sa", true, -1, "", "Failed to set channel 11 with value c0 mode for iris.\n"},
	    {3, "no_pin", false, -4, "", nullptr},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.type);
		simsoc_log_clear();
		log_.clear();
		requests();
		if (c.channel_fails)
			simsoc_motor_fail_after(MOTOR, 0, EIO);
		EXPECT_EQ(c.result, tb_iris_set_mode(plat_, act, c.type, c.pin));
		std::string log;
		for (auto &l : lines_with(take_text(simsoc_log_dump()), ""))
			if (l.compare(0, 6, "gpio: ") == 0 || l.compare(0, 6, "sleep ") == 0)
				log += l + "\n";
		EXPECT_EQ(c.log, log);
		if (c.result != -2 && !c.channel_fails) {
			EXPECT_EQ("set_channel 11 0xc0\n", requests());
		}
		if (c.message) {
			EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find(c.message));
		}
	}
	act->destroy(act);
}

TEST_F(PirisTest, ModeFromTheConfigurationThroughTheSelectPins)
{
	for (const char *pin : {"sa", "sb"})
		simsoc_gpio_add(pin, 0);
	settings_.tb6613ftg_sel_a_pin = (char *)"sa";
	const struct {
		const char *type_id;
		bool sel_b;
		int type; // -1: none
		const char *writes;
		const char *message;
	} cases[] = {
	    {"150", false, 1, "sa=0\n", "Running with DC Iris from configuration\n"},
	    {"150", true, 1, "sb=0\nsa=0\n", "Running with DC Iris from configuration\n"},
	    {"2000", true, 3, "sb=0\nsa=1\n", "Running with P-Iris from configuration\n"},
	    {"199", false, -1, "", "tb_iris_set_mode: Bad iris type 0\n"},
	    {"10", false, -1, "", nullptr},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(std::string(c.type_id) + (c.sel_b ? " sel_b" : ""));
		write_file("var/lib/soloff/type_id", c.type_id);
		settings_.tb6613ftg_sel_b_pin = (char *)(c.sel_b ? "sb" : "");
		simsoc_gpio_clear_writes();
		log_.clear();
		struct iris *i = tb_iris_detect_mode(engine_, &settings_);
		EXPECT_EQ(c.type, i ? (int)i->type : -1);
		EXPECT_EQ(c.writes, take_text(simsoc_gpio_writes()));
		if (c.message) {
			EXPECT_NE(std::string::npos, log_.text().find(c.message));
		}
		if (i)
			iris_destroy(i);
	}
	EXPECT_EQ(1, param(PARAM_IRIS_STATE)); // type id 10: noautomatic
}

TEST_F(PirisTest, Tb6613ftgModule)
{
	section("iris_tb6613ftg", {{"tb6613ftg_dev", MOTOR},
	                           {"tb6613ftg_data_pin", "data"},
	                           {"tb6613ftg_clk_pin", "clk"},
	                           {"tb6613ftg_ld_pin", "latch"},
	                           {"tb6613ftg_pwm_a_pin", "pa"},
	                           {"tb6613ftg_pwm_b_pin", "pb"},
	                           {"tb6613ftg_open_dir", "1"},
	                           {"tb6613ftg_speed_normal", "100"},
	                           {"tb6613ftg_speed_fast", "300"},
	                           {"tb6613ftg_backout_steps", "10"},
	                           {"tb6613ftg_backlash", "7"},
	                           {"tb6613ftg_temperature_lower_start", "-10.5"},
	                           {"tb6613ftg_temperature_lower_stop", "-20"},
	                           {"tb6613ftg_temperature_sensor_id", "4"}});
	auto *i = static_cast<struct iris *>(prodconf_iris_tb6613ftg_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, i);
	iris_add_platform(i, plat_);
	EXPECT_EQ(3u, i->type);
	int status = 0;
	EXPECT_EQ(4, iris_get_temperature_sensor_id(i));
	EXPECT_EQ(-20 * 16384, iris_get_lowest_operating_temperature(i, &status));
	EXPECT_EQ(1, status);
	EXPECT_EQ(-172032, iris_get_lowest_startup_temperature(i, &status)); // -10.5
	iris_destroy(i);

	prodconf_free(conf_);
	conf_ = prodconf_new();
	section("iris_tb6613ftg", {{"tb6613ftg_dev", "/dev/no_such_motor"}});
	EXPECT_EQ(nullptr, prodconf_iris_tb6613ftg_create(conf_, engine_, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed to create iris, continue anyway\n"));
}

TEST_F(PirisTest, PccModule)
{
	auto pcc = [&](const char *dev, const char *out_of_range) {
		prodconf_free(conf_);
		conf_ = prodconf_new();
		section("iris_stepper_pcc", {{"dev", dev},
		                             {"open_dir", "0"},
		                             {"speed_normal", "20"},
		                             {"speed_fast", "60"},
		                             {"backout_steps", "10"},
		                             {"backlash", "2"},
		                             {"temperature_out_of_range", out_of_range}});
		log_.clear();
		requests();
		auto *i = static_cast<struct iris *>(prodconf_iris_stepper_pcc_create(conf_, engine_, 0));
		if (i)
			iris_add_platform(i, plat_);
		return i;
	};
	// This driver's opening direction value is 0.
	simsoc_iris_motor_add(MOTOR, 400, 0, 2, 150);
	struct iris *i = pcc(MOTOR, "false");
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(0, iris_move_rel(i, 1, 30, 0));
	EXPECT_EQ("open 0x0\nmotor_config  \nmove 0 318 60\nmove 1 12 60\nmove 1 30 20\n", requests());
	EXPECT_EQ(30, iris_get_position(i)); // its query lets the model run the move
	EXPECT_EQ(40, simsoc_motor_position(MOTOR));
	// No temperature figures of its own.
	int status = 0;
	EXPECT_EQ(-1, iris_get_temperature_sensor_id(i));
	EXPECT_EQ(-16384, iris_get_lowest_operating_temperature(i, &status));
	EXPECT_EQ(-2, status);
	simsoc_motor_fail_after(MOTOR, 0, EIO);
	EXPECT_EQ(-1, iris_move_rel(i, 0, 5, 0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("move_rel: Could not move iris\n"));
	EXPECT_EQ(30, i->position);
	simsoc_motor_fail_after(MOTOR, 0, EIO);
	EXPECT_EQ(30, iris_get_position(i));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR).find("is_moving: Could not find out if iris is moving\n"));
	iris_destroy(i);

	// Out of range from the settings: calibration waits, moves are refused.
	i = pcc(MOTOR, "true");
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(1, i->calibration_pending);
	EXPECT_EQ(0, iris_move_rel(i, 1, 5, 0));
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_WARNING)
	              .find("move_rel: temperature is out of operating limit. P-iris will not move.\n"));
	EXPECT_EQ("open 0x0\nmotor_config  \n", requests());
	iris_destroy(i);

	const struct {
		const char *dev;
		const char *type_id;
		bool config_fails;
		const char *messages[2];
	} failures[] = {
	    {"/dev/no_such_motor",
	     "2000",
	     false,
	     {"iris_stepper_actuator_pcc_create: Failed to open /dev/no_such_motor (No such file",
	      "prodconf_iris_stepper_pcc_create: Failed to create iris stepper actuator\n"}},
	    {MOTOR,
	     "2000",
	     true,
	     {"iris_stepper_actuator_pcc_create: Failed motor config (",
	      "prodconf_iris_stepper_pcc_create: Failed to create iris stepper actuator\n"}},
	    {MOTOR, "900", false, {"prodconf_iris_stepper_pcc_create: Failed to create iris stepper\n", ""}},
	};
	for (auto &f : failures) {
		SCOPED_TRACE(f.messages[0]);
		write_file("var/lib/soloff/type_id", f.type_id);
		if (f.config_fails)
			simsoc_inject_failure(MOTOR, SIMSOC_OP_IOCTL, EIO, 1);
		EXPECT_EQ(nullptr, pcc(f.dev, "false"));
		for (const char *m : f.messages)
			EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find(m)) << m;
	}
}

} // namespace

// The optics device models as a driver sees them: I2C adapters, GPIO in
// sysfs and the motor drivers' refusals.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <simsoc.h>
#include <simsoc_gpio.h>
#include <simsoc_i2c.h>
#include <simsoc_lens_mcu.h>
#include <simsoc_motor.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "ircut_motor_ioctl.h"
#include "iris_motor_ioctl.h"

namespace
{

std::string take(char *text)
{
	std::string out = text ? text : "";
	free(text);
	return out;
}

// One I2C_RDWR with the given messages; the ioctl's result, errno on failure.
int transfer(int fd, i2c_msg *msgs, unsigned n)
{
	i2c_rdwr_ioctl_data data = {msgs, n};
	return ioctl(fd, I2C_RDWR, &data) < 0 ? -errno : 0;
}

class OpticsModels : public ::testing::Test
{
      protected:
	void TearDown() override
	{
		simsoc_i2c_reset();
		simsoc_gpio_reset();
		simsoc_clear_failures();
	}
};

TEST_F(OpticsModels, I2cRegisterFileAndFaults)
{
	simsoc_i2c_add_register_file(2, 0x20);
	int fd = open("/dev/i2c-2", O_RDWR);
	ASSERT_GE(fd, 0);
	// Write two bytes at 0x0105, then read them back from the pointer.
	uint8_t out[] = {0x01, 0x05, 0xAB, 0xCD};
	uint8_t where[] = {0x01, 0x05};
	uint8_t in[2] = {};
	i2c_msg write_msg = {0x20, 0, sizeof(out), out};
	i2c_msg read_msgs[] = {{0x20, 0, sizeof(where), where}, {0x20, I2C_M_RD, sizeof(in), in}};
	EXPECT_EQ(0, transfer(fd, &write_msg, 1));
	EXPECT_EQ(0, transfer(fd, read_msgs, 2));
	EXPECT_EQ(0xAB, in[0]);
	EXPECT_EQ(0xCD, in[1]);
	EXPECT_EQ(0xCD, simsoc_i2c_register_byte(2, 0x20, 0x0106));
	EXPECT_EQ("i2c-2: 0x20 w 01 05 ab cd\ni2c-2: 0x20 w 01 05\ni2c-2: 0x20 r 2\n",
	          take(simsoc_i2c_messages()));

	// Nobody at 0x21; a fault at 0x20; the same address on another bus.
	i2c_msg other = {0x21, 0, sizeof(out), out};
	EXPECT_EQ(-ENXIO, transfer(fd, &other, 1));
	simsoc_i2c_set_fault(2, 0x20, EIO, 0);
	EXPECT_EQ(-EIO, transfer(fd, &write_msg, 1));
	simsoc_i2c_set_fault(2, 0x20, 0, 0);
	EXPECT_EQ(0, transfer(fd, &write_msg, 1));
	int bus3 = open("/dev/i2c-3", O_RDWR);
	EXPECT_EQ(-ENXIO, transfer(bus3, &write_msg, 1));
	close(bus3);

	// Malformed requests are refused.
	EXPECT_EQ(-EINVAL, transfer(fd, read_msgs, 0));
	uint8_t one = 0;
	i2c_msg short_write = {0x20, 0, 1, &one};
	EXPECT_EQ(-EINVAL, transfer(fd, &short_write, 1));
	EXPECT_EQ(-1, ioctl(fd, I2C_SLAVE, 0x20));

	// A client of the test's own replaces the register file.
	simsoc_i2c_client echo = {[](void *, int, uint8_t *, size_t) { return -EREMOTEIO; }, nullptr};
	simsoc_i2c_add_client(2, 0x20, &echo);
	EXPECT_EQ(-EREMOTEIO, transfer(fd, &write_msg, 1));
	EXPECT_EQ(-1, simsoc_i2c_register_byte(2, 0x20, 0x0106));
	close(fd);
}

std::string read_file(const char *path)
{
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return "errno " + std::to_string(errno);
	char buf[16] = {};
	ssize_t n = read(fd, buf, sizeof(buf) - 1);
	close(fd);
	return n < 0 ? "read failed" : std::string(buf, (size_t)n);
}

int write_file(const char *path, const char *text)
{
	int fd = open(path, O_WRONLY);
	if (fd < 0)
		return -errno;
	ssize_t n = write(fd, text, strlen(text));
	int err = errno;
	close(fd);
	return n < 0 ? -err : 0;
}

// The lens controller answers its own frames only: anything else is refused
// and logged, and the frames after it are served as before.
TEST_F(OpticsModels, TheLensControllerRefusesForeignFrames)
{
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(4, 0);
	int fd = open("/dev/i2c-4", O_RDWR);
	ASSERT_GE(fd, 0);
	uint8_t three[3] = {0x01, 0x01, 0x05};
	uint8_t marked[4] = {0x81, 0x01, 0x05, 0x00};
	uint8_t one[1] = {0x01};
	uint8_t reg[2] = {0x81, 0x00};
	uint8_t in[3] = {};
	const struct {
		i2c_msg msgs[2];
		unsigned n;
		const char *error;
	} bad[] = {
	    {{{0x43, 0, 3, three}}, 1, "w 01 01 05\n"},
	    {{{0x43, 0, 4, marked}}, 1, "w 81 01 05 00\n"},
	    {{{0x43, 0, 1, one}}, 1, "w 01\n"},
	    {{{0x43, I2C_M_RD, 2, in}}, 1, "r 2\n"},                    // a read without a register
	    {{{0x43, 0, 2, reg}, {0x43, I2C_M_RD, 3, in}}, 2, "r 3\n"}, // three bytes asked
	};
	std::string errors;
	for (auto &c : bad) {
		i2c_msg msgs[2] = {c.msgs[0], c.msgs[1]};
		EXPECT_EQ(-EPROTO, transfer(fd, msgs, c.n)) << c.error;
		errors += c.error;
	}
	EXPECT_EQ(errors, take(simsoc_lens_mcu_errors(mcu)));
	EXPECT_EQ("", take(simsoc_lens_mcu_writes(mcu)));
	uint8_t good[4] = {0x01, 0x01, 0x34, 0x12};
	i2c_msg write_msg = {0x43, 0, 4, good};
	EXPECT_EQ(0, transfer(fd, &write_msg, 1));
	EXPECT_EQ("0x101=4660\n", take(simsoc_lens_mcu_writes(mcu)));
	EXPECT_EQ(errors, take(simsoc_lens_mcu_errors(mcu)));
	close(fd);
	simsoc_lens_mcu_reset();
}

TEST_F(OpticsModels, GpioPinsWhereTheyWereDeclared)
{
	simsoc_gpio_add("42", 0);
	simsoc_gpio_add("ircut_day", 1);
	EXPECT_EQ(0, write_file("/sys/class/gpio/gpio42/direction", "out"));
	EXPECT_EQ(0, write_file("/sys/class/gpio/gpio42/value", "1"));
	EXPECT_EQ(0, write_file("/sys/devices/virtual/gpiomap/ircut_day/value", "0\n"));
	EXPECT_EQ("errno 2", read_file("/sys/class/gpio/gpioircut_day/value"));
	EXPECT_EQ("errno 2", read_file("/sys/class/gpio/gpio43/value"));
	EXPECT_EQ(-EINVAL, write_file("/sys/class/gpio/gpio42/value", "2"));
	EXPECT_EQ(-EINVAL, write_file("/sys/class/gpio/gpio42/direction", "sideways"));
	EXPECT_EQ("42:direction=out\n42=1\nircut_day=0\n", take(simsoc_gpio_writes()));
	EXPECT_LE(simsoc_gpio_write_stamp(0), simsoc_gpio_write_stamp(2));
	EXPECT_EQ(0u, simsoc_gpio_write_stamp(3));
	EXPECT_EQ("1\n", read_file("/sys/class/gpio/gpio42/value"));
	simsoc_gpio_set_input("42", 0);
	EXPECT_EQ("0\n", read_file("/sys/class/gpio/gpio42/value"));
	EXPECT_EQ("out\n", read_file("/sys/class/gpio/gpio42/direction"));
	simsoc_inject_failure("/sys/class/gpio/gpio42/value", SIMSOC_OP_WRITE, EIO, 1);
	EXPECT_EQ(-EIO, write_file("/sys/class/gpio/gpio42/value", "1"));
}

TEST_F(OpticsModels, MotorDriversRefuseUnterminatedPinNames)
{
	simsoc_tb6613ftg_add("/dev/tb_model", 0, 100, 0);
	simsoc_iris_motor_add("/dev/iris_model", 100, 1, 0, 0);
	int tb = open("/dev/tb_model", O_RDWR);
	int iris = open("/dev/iris_model", O_RDONLY);
	ircut_motor_pins pins;
	memset(&pins, 'x', sizeof(pins));
	EXPECT_EQ(-1, ioctl(tb, IRCUT_MOTOR_SET_PINS, &pins));
	EXPECT_EQ(EINVAL, errno);
	iris_motor_config config;
	memset(&config, 'x', sizeof(config));
	EXPECT_EQ(-1, ioctl(iris, IRIS_MOTOR_CONFIG, &config));
	EXPECT_EQ(EINVAL, errno);
	// One failure after a request that passes.
	simsoc_motor_fail_after("/dev/tb_model", 1, EIO);
	ircut_motor_channel channel = {10, 0x80};
	EXPECT_EQ(0, ioctl(tb, IRCUT_MOTOR_SET_CHANNEL, &channel));
	EXPECT_EQ(-1, ioctl(tb, IRCUT_MOTOR_SET_CHANNEL, &channel));
	EXPECT_EQ(0, ioctl(tb, IRCUT_MOTOR_SET_CHANNEL, &channel));
	EXPECT_EQ("open 0x2\nset_channel 10 0x80\nset_channel 10 0x80\n",
	          take(simsoc_motor_requests("/dev/tb_model")));
	// Moves run between the stops; a move into a stop stalls there.
	ircut_motor_move move = {100, -30};
	EXPECT_EQ(0, ioctl(tb, IRCUT_MOTOR_MOVE, &move));
	int32_t remaining = -1;
	EXPECT_EQ(0, ioctl(tb, IRCUT_MOTOR_GET_REMAINING, &remaining));
	EXPECT_EQ(0, remaining);
	EXPECT_EQ(0, simsoc_motor_position("/dev/tb_model"));
	close(tb);
	close(iris);
	simsoc_motor_remove("/dev/tb_model");
	simsoc_motor_remove("/dev/iris_model");
}

} // namespace

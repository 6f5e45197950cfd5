// The ICM-20600 gyro module against a simulated chip on the SPI bus.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <functional>

#include <simkernel/sim.h>
#include <simkernel/vendor_sim.h>

#include "spindrel.h"

namespace
{

constexpr unsigned kIrqGpio = 42;

// WHO_AM_I, a sample per burst read, and every transfer as it came.
class Icm20600 : public simk::SpiDevice
{
      public:
	struct Xfer {
		std::vector<u8> tx;
		u32 n_rx;
		u32 baud;
		u8 mode, bits;
		uint64_t at_ns;
	};

	int transfer(const vorsalind_spi_cfg &cfg, const u8 *tx, u32 n_tx, u8 *rx, u32 n_rx) override
	{
		xfers.push_back({std::vector<u8>(tx, tx + n_tx), n_rx, cfg.baud_rate, cfg.spi_mode,
		                 cfg.bits_per_word, simk::now_ns()});
		if (fail)
			return fail;
		if (!n_rx)
			return 0;
		if (tx[0] == (0x75 | 0x80)) {
			rx[0] = who_am_i;
			return 0;
		}
		if (tx[0] == (0x3B | 0x80) && n_rx == 14) {
			if (!samples.empty()) {
				current = samples.front();
				samples.pop_front();
			}
			memcpy(rx, current.data(), 14);
			if (during_read)
				during_read();
			return 0;
		}
		return -EINVAL;
	}

	// ax, ay, az, temperature, gx, gy, gz as the chip sends them
	static std::array<u8, 14> sample(int16_t ax, int16_t ay, int16_t az, int16_t gx, int16_t gy,
	                                 int16_t gz)
	{
		std::array<u8, 14> s{};
		const int16_t v[7] = {ax, ay, az, 0x1234, gx, gy, gz};
		for (int i = 0; i < 7; i++) {
			s[2 * i] = (u8)((uint16_t)v[i] >> 8);
			s[2 * i + 1] = (u8)v[i];
		}
		return s;
	}

	u8 who_am_i = 0x11;
	int fail = 0;
	std::deque<std::array<u8, 14>> samples;
	std::array<u8, 14> current{};
	std::function<void()> during_read;
	std::vector<Xfer> xfers;
};

struct Seen {
	int calls = 0;
	gyro_data last{};
	void *arg = nullptr;
};

void on_sample(gyro_data *data, void *arg)
{
	auto *seen = static_cast<Seen *>(arg);
	seen->calls++;
	seen->last = *data;
	seen->arg = arg;
}

class SpindrelTest : public ::testing::Test
{
      public:
	void SetUp() override
	{
		simk::reset();
		allocs_ = simk::kmalloc_live();
		simk::spi_attach(0, 0, &chip_);
		node_ = simk::of_node_new("vorsalind,gyro,icm20600");
		simk::of_set_u32(node_, "irq-gpio", kIrqGpio);
	}

	void TearDown() override
	{
		if (loaded_)
			unload();
		EXPECT_FALSE(simk::gpio_requested(kIrqGpio));
		EXPECT_FALSE(simk::irq_info(irq()).requested);
		EXPECT_EQ(allocs_, simk::kmalloc_live());
	}

	int load()
	{
		int ret = sim_module_init();
		loaded_ = ret == 0;
		return ret;
	}

	void unload()
	{
		sim_module_exit();
		loaded_ = false;
		EXPECT_FALSE(simk::proc_exists("vorsalind/gyro_data"));
		EXPECT_FALSE(simk::proc_exists("vorsalind/gyro_data_loop"));
		EXPECT_FALSE(simk::log_contains("not found")); // nothing removed twice
	}

	static unsigned irq()
	{
		return (unsigned)gpio_to_irq(kIrqGpio);
	}

	size_t allocs_ = 0;
	bool loaded_ = false;
	Icm20600 chip_;
	device_node *node_ = nullptr;
};

TEST_F(SpindrelTest, ParametersAndModuleInfo)
{
	struct P {
		const char *name;
		long def;
		const char *desc;
	};
	for (const P &p : {P{"x_axis", 4, "X axis direction - 0:-X, 1:+X, 2:-Y, 3:+Y, 4:-Z, 5:+Z"},
	                   P{"y_axis", 2, "Y axis direction - 0:-X, 1:+X, 2:-Y, 3:+Y, 4:-Z, 5:+Z"},
	                   P{"z_axis", 0, "Z axis direction - 0:-X, 1:+X, 2:-Y, 3:+Y, 4:-Z, 5:+Z"}}) {
		SCOPED_TRACE(p.name);
		EXPECT_EQ("int", simk::param_type(p.name));
		EXPECT_EQ(p.def, simk::param_get(p.name));
		EXPECT_EQ(p.desc, simk::param_desc(p.name));
		EXPECT_EQ(0644u, simk::param_perm(p.name));
	}
	EXPECT_EQ("Vorsalind Gyro Sensor ICM20600 Driver", simk::modinfo("description"));
	EXPECT_EQ("GPL v2", simk::modinfo("license"));
}

TEST_F(SpindrelTest, InitSequence)
{
	ASSERT_EQ(0, load());
	const std::vector<std::pair<u8, u8>> writes = {
	    {0x70, 0x40}, {0x23, 0x18}, {0x6A, 0x00}, {0x6B, 0x09}, {0x1A, 0x01},
	    {0x19, 0x01}, {0x6C, 0x00}, {0x37, 0xB0}, {0x38, 0x01},
	};
	ASSERT_EQ(1 + writes.size() + 1, chip_.xfers.size());
	const Icm20600::Xfer &who = chip_.xfers.front();
	EXPECT_EQ((std::vector<u8>{0xF5}), who.tx);
	EXPECT_EQ(1u, who.n_rx);
	uint64_t prev = who.at_ns;
	for (size_t i = 0; i < writes.size(); i++) {
		SCOPED_TRACE(i);
		const Icm20600::Xfer &x = chip_.xfers[1 + i];
		EXPECT_EQ((std::vector<u8>{writes[i].first, writes[i].second}), x.tx);
		EXPECT_EQ(0u, x.n_rx);
		EXPECT_EQ(1000000u, x.baud);
		EXPECT_EQ(1000000u, x.at_ns - prev); // a millisecond before each write
		prev = x.at_ns;
	}
	const Icm20600::Xfer &burst = chip_.xfers.back();
	EXPECT_EQ((std::vector<u8>{0xBB}), burst.tx);
	EXPECT_EQ(14u, burst.n_rx);
	for (auto &x : chip_.xfers) {
		EXPECT_EQ(3, x.mode);
		EXPECT_EQ(8, x.bits);
		if (x.n_rx) {
			EXPECT_EQ(10000000u, x.baud);
		}
	}

	EXPECT_EQ("gyro irq", simk::gpio_label(kIrqGpio));
	simk::IrqInfo info = simk::irq_info(irq());
	EXPECT_TRUE(info.requested);
	EXPECT_FALSE(info.has_primary);
	EXPECT_TRUE(info.has_thread);
	EXPECT_EQ((unsigned long)(IRQF_ONESHOT | IRQF_TRIGGER_FALLING), info.flags);
	EXPECT_EQ("gyro", info.name);
	EXPECT_EQ(0444, simk::proc_mode("vorsalind/gyro_data"));
	EXPECT_EQ(0444, simk::proc_mode("vorsalind/gyro_data_loop"));
}

TEST_F(SpindrelTest, AxisMappingOverAllCodes)
{
	// sensor gyro (100, 200, 300), accel (1000, 2000, 3000)
	const int16_t gyro_by_code[6] = {-100, 100, -200, 200, -300, 300};
	const int16_t accel_by_code[6] = {-1000, 1000, -2000, 2000, -3000, 3000};
	chip_.current = Icm20600::sample(1000, 2000, 3000, 100, 200, 300);
	const char *axes[3] = {"x_axis", "y_axis", "z_axis"};
	for (int axis = 0; axis < 3; axis++) {
		for (int code = 0; code < 6; code++) {
			SCOPED_TRACE(testing::Message() << axes[axis] << "=" << code);
			simk::param_set(axes[axis], code);
			ASSERT_EQ(0, load());
			Seen seen;
			ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &seen));
			simk::irq_fire(irq());
			ASSERT_EQ(1, seen.calls);
			const int16_t g[3] = {seen.last.xg, seen.last.yg, seen.last.zg};
			const int16_t a[3] = {seen.last.xa, seen.last.ya, seen.last.za};
			EXPECT_EQ(gyro_by_code[code], g[axis]);
			EXPECT_EQ(accel_by_code[code], a[axis]);
			unload();
			simk::param_set(axes[axis], axis == 0 ? 4 : axis == 1 ? 2 : 0);
		}
	}
}

TEST_F(SpindrelTest, DefaultsMapEverySensorAxisNegated)
{
	chip_.current = Icm20600::sample(1000, 2000, -32768, 100, 200, -32768);
	ASSERT_EQ(0, load());
	Seen seen;
	ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &seen));
	simk::irq_fire(irq());
	ASSERT_EQ(1, seen.calls);
	// camera x = -sensor z (which stays -32768), y = -y, z = -x
	EXPECT_EQ(-32768, seen.last.xg);
	EXPECT_EQ(-200, seen.last.yg);
	EXPECT_EQ(-100, seen.last.zg);
	EXPECT_EQ(-32768, seen.last.xa);
	EXPECT_EQ(-2000, seen.last.ya);
	EXPECT_EQ(-1000, seen.last.za);
}

TEST_F(SpindrelTest, BadAxisRefusedBeforeTouchingTheBus)
{
	struct Case {
		const char *param;
		long value;
		const char *message;
	};
	const Case cases[] = {
	    {"x_axis", 6, "X axis Direction [6] should be within [0~5]\n"},
	    {"y_axis", -1, "Y axis Direction [-1] should be within [0~5]\n"},
	    {"z_axis", 100, "Z axis Direction [100] should be within [0~5]\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.param);
		simk::reset();
		SetUp();
		simk::param_set(c.param, c.value);
		EXPECT_EQ(-EINVAL, load());
		EXPECT_TRUE(simk::log_contains(c.message, 3));
		EXPECT_TRUE(chip_.xfers.empty());
	}
}

TEST_F(SpindrelTest, WrongChipRefused)
{
	chip_.who_am_i = 0x12;
	EXPECT_EQ(-EIO, load());
	EXPECT_TRUE(simk::log_contains("icm20600_init: SPI Bus Error!\n", 3));
	EXPECT_EQ(1u, chip_.xfers.size());

	chip_.who_am_i = 0x11;
	chip_.fail = -EIO;
	EXPECT_EQ(-EIO, load());
}

TEST_F(SpindrelTest, LoadFailuresReleaseEverything)
{
	struct Case {
		const char *what;
		std::function<void(SpindrelTest &)> arrange;
		int ret;
		const char *message;
	};
	const Case cases[] = {
	    {"no memory", [](SpindrelTest &) { simk::kmalloc_fail_nth(1); }, -ENOMEM,
	     "icm20600_init: Out of Memory!\n"},
	    {"no node",
	     [](SpindrelTest &t) {
		     simk::reset();
		     simk::spi_attach(0, 0, &t.chip_);
	     },
	     -ENODEV, "OPB: cannot find node\n"},
	    {"no gpio property",
	     [](SpindrelTest &t) {
		     simk::reset();
		     simk::spi_attach(0, 0, &t.chip_);
		     simk::of_node_new("vorsalind,gyro,icm20600");
	     },
	     -EINVAL, "'irq-gpio' not found\n"},
	    {"gpio busy", [](SpindrelTest &) { simk::gpio_fail_request(-EBUSY); }, -EBUSY,
	     "can't request gpio[42]!\n"},
	    {"interrupt refused", [](SpindrelTest &) { simk::irq_fail_request(-EBUSY); }, -EBUSY, nullptr},
	    {"first proc file taken",
	     [](SpindrelTest &) { proc_create("gyro_data", 0444, get_vorsalind_proc_dir(), nullptr); },
	     -ENOMEM, "failed to create proc file (gyro_data)!\n"},
	    {"second proc file taken",
	     [](SpindrelTest &) { proc_create("gyro_data_loop", 0444, get_vorsalind_proc_dir(), nullptr); },
	     -ENOMEM, "failed to create proc file (gyro_data_loop)!\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		simk::reset();
		SetUp();
		c.arrange(*this);
		EXPECT_EQ(c.ret, load());
		if (c.message) {
			EXPECT_TRUE(simk::log_contains(c.message, 3));
		}
		EXPECT_FALSE(simk::gpio_requested(kIrqGpio));
		EXPECT_FALSE(simk::irq_info(irq()).requested);
		EXPECT_EQ(allocs_, simk::kmalloc_live());
		EXPECT_EQ(-ENODEV, gyro_register_eis_callback(on_sample, nullptr));
	}
	// what the module made is gone; what was there before stays
	EXPECT_FALSE(simk::proc_exists("vorsalind/gyro_data"));
	EXPECT_TRUE(simk::proc_exists("vorsalind/gyro_data_loop"));
}

TEST_F(SpindrelTest, InterruptDeliversNextSampleToCallback)
{
	chip_.samples = {Icm20600::sample(1, 2, 3, 4, 5, 6), Icm20600::sample(10, 20, 30, 40, 50, 60),
	                 Icm20600::sample(7, 7, 7, 7, 7, 7)};
	EXPECT_EQ(-ENODEV, gyro_register_eis_callback(on_sample, nullptr));
	ASSERT_EQ(0, load());
	Seen seen, other;
	ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &seen));
	EXPECT_EQ(IRQ_HANDLED, simk::irq_fire(irq()));
	ASSERT_EQ(1, seen.calls);
	EXPECT_EQ(&seen, seen.arg);
	EXPECT_EQ(1u, seen.last.id); // the load read sample 0
	EXPECT_EQ(-30, seen.last.xa);
	EXPECT_EQ(-60, seen.last.xg);
	EXPECT_EQ(-20, seen.last.ya);
	EXPECT_EQ(-10, seen.last.za);

	// a later registration replaces the earlier one
	ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &other));
	simk::irq_fire(irq());
	EXPECT_EQ(1, seen.calls);
	ASSERT_EQ(1, other.calls);
	EXPECT_EQ(2u, other.last.id);

	ASSERT_EQ(0, gyro_unregister_eis_callback());
	simk::irq_fire(irq());
	EXPECT_EQ(1, other.calls);
	simk::irq_fire(irq());
	ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &other));
	simk::irq_fire(irq());
	EXPECT_EQ(5u, other.last.id);
}

TEST_F(SpindrelTest, InterruptDuringReadIsDropped)
{
	ASSERT_EQ(0, load());
	Seen seen;
	ASSERT_EQ(0, gyro_register_eis_callback(on_sample, &seen));
	int nested = -1;
	chip_.during_read = [&] {
		chip_.during_read = nullptr;
		nested = simk::irq_fire(irq());
	};
	simk::irq_fire(irq());
	EXPECT_EQ(IRQ_HANDLED, nested);
	EXPECT_EQ(1, seen.calls);
	EXPECT_EQ(1u, seen.last.id);
	EXPECT_TRUE(simk::log_contains("already busy\n", 7));
	simk::irq_fire(irq());
	EXPECT_EQ(2, seen.calls);
}

TEST_F(SpindrelTest, DeviceInfo)
{
	gyro_dev_info info{};
	EXPECT_EQ(0, gyro_dev_get_info(&info));
	EXPECT_EQ(2u, info.accel_full_scale);
	EXPECT_EQ(16384u, info.accel_sensitivity);
	EXPECT_EQ(250u, info.gyro_full_scale);
	EXPECT_EQ(131u, info.gyro_sensitivity);
	EXPECT_EQ(500u, info.sample_rate);
	EXPECT_EQ(16u, sizeof(gyro_data));
	EXPECT_EQ(20u, sizeof(gyro_dev_info));
}

TEST_F(SpindrelTest, ProcFiles)
{
	chip_.current = Icm20600::sample(-1000, 2000, 3, 4, -5, 32767);
	ASSERT_EQ(0, load());
	EXPECT_EQ("xg: -32767\nyg: 5\nzg: -4\nxa: -3\nya: -2000\nza: 1000\n",
	          simk::proc_read("vorsalind/gyro_data"));

	const std::string line = "xg=-32767, yg=     5, zg=    -4   xa=    -3, ya= -2000, za=  1000\n";
	uint64_t t0 = simk::now_ns();
	// a reader that keeps reading gets a line every 50 ms
	EXPECT_EQ(line + line + line, simk::proc_read("vorsalind/gyro_data_loop", 3 * line.size()));
	EXPECT_EQ(150000000u, simk::now_ns() - t0);
}

// The proc files go before the record their readers show: a read that is
// still in flight as the removal begins sees the sample, not freed memory.
TEST_F(SpindrelTest, ProcFilesGoBeforeTheRecordOnUnload)
{
	chip_.current = Icm20600::sample(-1000, 2000, 3, 4, -5, 32767);
	ASSERT_EQ(0, load());
	const size_t loaded_allocs = simk::kmalloc_live();
	std::vector<std::string> removed;
	simk::proc_on_remove([&](const std::string &path) {
		removed.push_back(path);
		ASSERT_EQ(loaded_allocs, simk::kmalloc_live())
		    << path << " removed after the record was freed";
		EXPECT_NE("", simk::proc_read(path, 16)) << path;
	});
	unload();
	EXPECT_EQ((std::vector<std::string>{"vorsalind/gyro_data_loop", "vorsalind/gyro_data"}), removed);
}

} // namespace

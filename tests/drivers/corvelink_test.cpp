// The FPD-Link bridge module against a simulated dual deserializer, its
// serializers and the sensors behind them.
#include <algorithm>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include <simkernel/chips.h>
#include <simkernel/sim.h>
#include <simkernel/vendor_sim.h>

#include "corvelink.h"
#include "driver_test_util.h"

using simk::Access;
using simk::Trace;

namespace
{

constexpr uint8_t D = 0x7A;  // deserializer of bridge 0
constexpr uint8_t S0 = 0x80; // serializer aliases of bridge 0
constexpr uint8_t S1 = 0x8A;

class CorvelinkTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simk::reset();
		allocs_ = simk::kmalloc_live();
		client_ = nullptr;
		adap_ = simk::i2c_adapter_new(0);
		des_ = std::make_unique<simk::FpdDeserializer>(D, &trace_);
		des_->set_id("UB954");
		des_->set_reg(0x04, 0x0C); // locked and passing
		ser_[0] = std::make_unique<simk::Reg8Device>(S0, &trace_);
		ser_[1] = std::make_unique<simk::Reg8Device>(S1, &trace_);
		ser_[0]->set_id("UB953");
		ser_[1]->set_id("UB953");
		simk::i2c_attach(adap_, D >> 1, des_.get());
		simk::i2c_attach(adap_, S0 >> 1, ser_[0].get());
		simk::i2c_attach(adap_, S1 >> 1, ser_[1].get());
	}

	void TearDown() override
	{
		if (loaded_)
			sim_module_exit();
		EXPECT_TRUE(simk::vin_bridges().empty()) << "bridges left registered";
		EXPECT_EQ(allocs_, simk::kmalloc_live()) << "records left allocated";
	}

	// The board's client exists first; loading the module probes it.
	void load(long id = 3)
	{
		simk::param_set("id", id);
		if (!client_)
			client_ = simk::i2c_client_new(adap_, D >> 1, "corvelink",
			                               simk::of_node_new("ti,corvelink"));
		ASSERT_EQ(0, sim_module_init());
		loaded_ = true;
	}

	corvelink *bridge(size_t n = 0)
	{
		return reinterpret_cast<corvelink *>(simk::vin_bridges().at(n).brg);
	}
	vors_vin_brg *brg(size_t n = 0)
	{
		return simk::vin_bridges().at(n).brg;
	}
	const vors_vin_brg_ops *ops()
	{
		return simk::vin_bridges().at(0).ops;
	}

	// Probes bridge 0 and brings up the ports of mask, then forgets the trace.
	void bring_up(u32 mask)
	{
		load(mask);
		brg()->sensor_addr[0] = 0x20;
		brg()->sensor_addr[1] = 0x30;
		ASSERT_EQ(0, ops()->hw_init(brg(), mask));
		trace_.clear();
		simk::log_clear();
	}

	size_t allocs_ = 0;
	bool loaded_ = false;
	i2c_adapter *adap_ = nullptr;
	i2c_client *client_ = nullptr;
	Trace trace_;
	std::unique_ptr<simk::FpdDeserializer> des_;
	std::unique_ptr<simk::Reg8Device> ser_[2];
};

// ---- module and probe ---------------------------------------------------------

TEST_F(CorvelinkTest, ParametersAndModuleInfo)
{
	struct P {
		const char *name, *type;
		long def;
		const char *desc;
	};
	const P table[] = {
	    {"io_1p8", "bool", 1, "i2c voltage level seletion(only for ds90ub953/935)"},
	    {"fsync_gpio", "int", 1, "indicate serializer gpio to output fsync"},
	    {"sen_rst_gpio", "int", 3, "indicate serializer gpio for sensor reset"},
	    {"aeq", "bool", 1, "turn AEQ on/off"},
	    {"dts_addr", "bool", 0, "load SERDES i2c address from dts"},
	    {"test_mode", "int", 0, "test pattern enable, 1: Deserializer 2: Serializer"},
	    {"override_bc_freq", "int", 25, "Back channel frequency (10: 10 MHz, 25: 25 MHz, 50: 50 MHz)"},
	    {"stp_mode", "bool", 1, "Use Shielded twisted pair(STP) mode"},
	    {"mode", "int", 255,
	     "FPD-Linke input mode 0: CSI mode 1: RAW 12 LF 2: RAW 12 HF 3: RAW10 0xFF: From MODE pin"},
	    {"vinc_id", "int", 0x3210, "indicate which vin controller is bind to"},
	    {"id", "int", 2, "channel ID 0x01~0x0F, bit map"},
	};
	for (const P &p : table) {
		SCOPED_TRACE(p.name);
		EXPECT_EQ(p.type, simk::param_type(p.name));
		EXPECT_EQ(p.def, simk::param_get(p.name));
		EXPECT_EQ(p.desc, simk::param_desc(p.name));
		EXPECT_EQ(0644u, simk::param_perm(p.name));
	}
	EXPECT_EQ("TI CORVELINK DUAL FPD-LINK SERDES bridge", simk::modinfo("description"));
	EXPECT_EQ("Proprietary", simk::modinfo("license"));
}

TEST_F(CorvelinkTest, ProbeCreatesOneBridgePerIdByte)
{
	struct Expect {
		u32 index, ports;
		u8 des;
		u32 vinc;
	};
	struct Case {
		long id, vinc_id;
		std::vector<Expect> bridges;
	};
	const Case cases[] = {
	    {2, 0x3210, {{0, 2, 0x7A, 0}}},
	    {0x0103, 0x3210, {{0, 3, 0x7A, 0}, {1, 1, 0x60, 1}}},
	    {0x02030001, 0x3210, {{0, 1, 0x7A, 0}, {2, 3, 0x7A, 1}, {3, 2, 0x60, 2}}},
	    {0x0300, 0x0054, {{1, 3, 0x60, 4}}},
	    {0, 0x3210, {}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(testing::Message() << "id 0x" << std::hex << c.id);
		simk::param_set("vinc_id", c.vinc_id);
		load(c.id);
		EXPECT_TRUE(simk::i2c_client_bound(client_));
		ASSERT_EQ(c.bridges.size(), simk::vin_bridges().size());
		for (size_t n = 0; n < c.bridges.size(); n++) {
			const Expect &e = c.bridges[n];
			corvelink *cl = bridge(n);
			u32 i = e.index;
			EXPECT_EQ(1u, simk::vin_bridges()[n].nr_vin);
			EXPECT_STREQ("corvelink", cl->brg.name);
			EXPECT_EQ(i, cl->index);
			EXPECT_EQ(i, cl->brg.id);
			EXPECT_EQ(e.vinc, cl->brg.vinc_id);
			EXPECT_EQ(e.ports, cl->port_mask);
			EXPECT_EQ(e.ports, cl->cur_mask);
			EXPECT_EQ(e.des, cl->des_addr);
			EXPECT_EQ(e.des, cl->dbg_addr);
			EXPECT_EQ(25000000u, cl->brg.clk);
			EXPECT_EQ(0x80 + 2 * i, cl->ser_alias[0]);
			EXPECT_EQ(0x8A + 2 * i, cl->ser_alias[1]);
			EXPECT_EQ(0xB0 + 2 * i, cl->sen_alias_bc);
			EXPECT_EQ(0x92 + 4 * i, cl->sen_alias[0]);
			EXPECT_EQ(0x94 + 4 * i, cl->sen_alias[1]);
			EXPECT_EQ(client_, cl->client);
			EXPECT_NE(nullptr, cl->brg.sensor_ops);
			EXPECT_NE(nullptr, cl->brg.vin_cfg);
		}
		// unloading takes every bridge back from the framework
		sim_module_exit();
		loaded_ = false;
		EXPECT_TRUE(simk::vin_bridges().empty());
		EXPECT_EQ(allocs_, simk::kmalloc_live());
	}
}

TEST_F(CorvelinkTest, DeviceTreeAddressWhenAsked)
{
	simk::param_set("dts_addr", 1);
	simk::param_set("id", 0x0101);
	ASSERT_EQ(0, sim_module_init());
	loaded_ = true;
	client_ = simk::i2c_client_new(adap_, 0x34, "corvelink", simk::of_node_new("ti,corvelink"));
	ASSERT_EQ(2u, simk::vin_bridges().size());
	EXPECT_EQ(0x68, bridge(0)->des_addr);
	EXPECT_EQ(0x68, bridge(1)->des_addr);
}

TEST_F(CorvelinkTest, FailedProbeLeavesNothingRegistered)
{
	struct Case {
		const char *what;
		int alloc_fail, register_fail;
		const char *message;
	};
	const Case cases[] = {
	    {"bridge record", 1, 0, nullptr},
	    {"sensor ops", 2, 0, "VIN: No memory: sensor ops!\n"},
	    {"vin cfg", 3, 0, "VIN: No memory: vin cfg!\n"},
	    {"second bridge's record", 4, 0, nullptr},
	    {"second bridge's vin cfg", 6, 0, "VIN: No memory: vin cfg!\n"},
	    {"first registration", 0, 1, nullptr},
	    {"second registration", 0, 2, nullptr},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		simk::log_clear();
		if (c.alloc_fail)
			simk::kmalloc_fail_nth(c.alloc_fail);
		if (c.register_fail)
			simk::vin_fail_register_brg(c.register_fail, -EBUSY);
		load(0x0103);
		EXPECT_FALSE(simk::i2c_client_bound(client_));
		EXPECT_TRUE(simk::vin_bridges().empty());
		EXPECT_EQ(allocs_, simk::kmalloc_live());
		if (c.message) {
			EXPECT_TRUE(simk::log_contains(c.message, 3));
		}
		sim_module_exit();
		loaded_ = false;
	}
	// probe numbering starts afresh: the next bridge is VIN controller 0
	load(1);
	EXPECT_EQ(0u, bridge()->brg.vinc_id);
}

// A client that goes and comes back must not take a VIN controller that a
// bridge of another client still holds.
TEST_F(CorvelinkTest, ReprobeKeepsOtherClientsVinControllers)
{
	simk::param_set("vinc_id", 0x3210);
	load(1);
	i2c_client *second =
	    simk::i2c_client_new(adap_, 0x3d, "corvelink", simk::of_node_new("ti,corvelink"));
	ASSERT_EQ(2u, simk::vin_bridges().size());
	EXPECT_EQ(0u, bridge(0)->brg.vinc_id);
	EXPECT_EQ(1u, bridge(1)->brg.vinc_id);

	simk::i2c_client_unbind(client_);
	ASSERT_EQ(1u, simk::vin_bridges().size());
	simk::i2c_client_rebind(client_);
	ASSERT_EQ(2u, simk::vin_bridges().size());
	std::vector<u32> vincs;
	for (size_t n = 0; n < 2; n++)
		vincs.push_back(bridge(n)->brg.vinc_id);
	std::sort(vincs.begin(), vincs.end());
	EXPECT_EQ((std::vector<u32>{0, 1}), vincs);

	// Too few controller numbers left: the probe fails and holds none.
	simk::param_set("id", 0x01010101);
	simk::i2c_client_unbind(second);
	simk::i2c_client_rebind(second);
	EXPECT_TRUE(simk::i2c_client_bound(second));
	ASSERT_EQ(5u, simk::vin_bridges().size());
	i2c_client *third = simk::i2c_client_new(adap_, 0x3e, "corvelink", simk::of_node_new("ti,corvelink"));
	EXPECT_FALSE(simk::i2c_client_bound(third));
	EXPECT_EQ(5u, simk::vin_bridges().size());
	EXPECT_TRUE(simk::log_contains("VIN: No free VIN controller!\n", 3));
}

// ---- link bring-up ------------------------------------------------------------

TEST_F(CorvelinkTest, HwInitTraceForTwoPorts)
{
	load(3);
	brg()->sensor_addr[0] = 0x20;
	brg()->sensor_addr[1] = 0x30;
	des_->set_reg(0xB3, 0x09);
	des_->set_port_reg(0, 0x6D, 0x04); // coax strapped: STP clears it
	des_->set_port_reg(1, 0x6D, 0x01);
	trace_.clear();

	EXPECT_EQ(0, ops()->hw_init(brg(), 3));

	const Trace expected = {
	    {'W', D, 0x01, 0x03},
	    {'R', D, 0xF1, 'U'},
	    {'R', D, 0xF2, 'B'},
	    {'R', D, 0xF3, '9'},
	    {'R', D, 0xF4, '5'},
	    {'R', D, 0xF5, '4'},
	    {'W', D, 0x0C, 0xBF},
	    {'R', D, 0xB3, 0x09},
	    {'W', D, 0xB3, 0x00},
	    // port 0
	    {'W', D, 0x4C, 0x01},
	    {'R', D, 0x58, 0x00},
	    {'W', D, 0x58, 0x40},
	    {'W', D, 0x5C, 0x80},
	    {'W', D, 0x5D, 0x20},
	    {'W', D, 0x65, 0x92},
	    {'W', D, 0x5E, 0x20},
	    {'W', D, 0x66, 0xB0},
	    {'W', D, 0x5F, 0x30},
	    {'W', D, 0x67, 0x30},
	    {'R', D, 0x6D, 0x04},
	    {'W', D, 0x6D, 0x00},
	    {'R', D, 0x58, 0x40},
	    {'W', D, 0x58, 0x45},
	    {'W', D, 0xD5, 0xF0},
	    // port 1
	    {'W', D, 0x4C, 0x12},
	    {'R', D, 0x58, 0x00},
	    {'W', D, 0x58, 0x40},
	    {'W', D, 0x5C, 0x8A},
	    {'W', D, 0x5D, 0x20},
	    {'W', D, 0x65, 0x94},
	    {'W', D, 0x5E, 0x20},
	    {'W', D, 0x66, 0xB0},
	    {'W', D, 0x5F, 0x30},
	    {'W', D, 0x67, 0x30},
	    {'R', D, 0x6D, 0x01},
	    {'R', D, 0x58, 0x40},
	    {'W', D, 0x58, 0x45},
	    {'W', D, 0xD5, 0xF0},
	    // lock
	    {'R', D, 0x04, 0x0C},
	    // serializers
	    {'W', D, 0x4C, 0x01},
	    {'R', D, 0x5B, 0x00},
	    {'R', S0, 0xF1, 'U'},
	    {'R', S0, 0xF2, 'B'},
	    {'R', S0, 0xF3, '9'},
	    {'R', S0, 0xF4, '5'},
	    {'R', S0, 0xF5, '3'},
	    {'R', S0, 0x02, 0x00},
	    {'W', S0, 0x02, 0x01},
	    {'W', D, 0x4C, 0x12},
	    {'R', D, 0x5B, 0x00},
	    {'R', S1, 0xF1, 'U'},
	    {'R', S1, 0xF2, 'B'},
	    {'R', S1, 0xF3, '9'},
	    {'R', S1, 0xF4, '5'},
	    {'R', S1, 0xF5, '3'},
	    {'R', S1, 0x02, 0x00},
	    {'W', S1, 0x02, 0x01},
	};
	EXPECT_EQ(expected, trace_);
	EXPECT_EQ(CORVELINK_SER_UB953, bridge()->ser_kind[0]);
	EXPECT_EQ(CORVELINK_SER_UB953, bridge()->ser_kind[1]);
	EXPECT_STREQ("UB954", bridge()->chip_id);
}

TEST_F(CorvelinkTest, HwInitCableRateAndInputMode)
{
	struct Case {
		const char *what;
		long mode, bc, dts, stp;
		uint8_t strapped; // port register 0x6D before
		uint32_t dt_word; // 0: no mode in the device tree
		bool dt_stp;
		uint8_t cfg, bcc; // 0x6D and 0x58 after
		uint32_t input_mode;
	};
	const Case cases[] = {
	    {"strapped mode stays", 255, 25, 0, 1, 0x01, 0, false, 0x01, 0x45, 1},
	    {"mode equal to the strap", 1, 25, 0, 1, 0x01, 0, false, 0x01, 0x45, 1},
	    {"CSI forced", 0, 25, 0, 1, 0x01, 0, false, 0x00, 0x46, 0},
	    {"RAW10 forced", 3, 25, 0, 1, 0x01, 0, false, 0x03, 0x40, 3},
	    {"coax", 255, 25, 0, 0, 0x01, 0, false, 0x05, 0x45, 1},
	    {"10 MHz back channel", 255, 10, 0, 1, 0x01, 0, false, 0x01, 0x42, 1},
	    {"50 MHz back channel", 255, 50, 0, 1, 0x01, 0, false, 0x01, 0x46, 1},
	    {"unknown rate leaves it", 255, 33, 0, 1, 0x01, 0, false, 0x01, 0x43, 1},
	    {"device tree mode", 255, 25, 1, 1, 0x01, 0x20000000, false, 0x02, 0x40, 2},
	    {"device tree mode over the parameter", 0, 25, 1, 1, 0x01, 0x30000000, false, 0x03, 0x40, 3},
	    {"device tree STP", 255, 25, 1, 0, 0x05, 0, true, 0x01, 0x45, 1},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		simk::reset();
		SetUp();
		simk::param_set("mode", c.mode);
		simk::param_set("override_bc_freq", c.bc);
		simk::param_set("dts_addr", c.dts);
		simk::param_set("stp_mode", c.stp);
		simk::param_set("id", 1);
		ASSERT_EQ(0, sim_module_init());
		device_node *np = simk::of_node_new("ti,corvelink");
		if (c.dt_word)
			simk::of_set_u32(np, "ti,mode", c.dt_word);
		if (c.dt_stp)
			simk::of_set_flag(np, "ti,stp-mode");
		client_ = simk::i2c_client_new(adap_, D >> 1, "corvelink", np);
		des_->set_port_reg(0, 0x6D, c.strapped);
		des_->set_port_reg(0, 0x58, 0x03);
		EXPECT_EQ(0, ops()->hw_init(brg(), 1));
		EXPECT_EQ(c.cfg, des_->port_reg(0, 0x6D));
		EXPECT_EQ(c.bcc, des_->port_reg(0, 0x58));
		EXPECT_EQ(c.input_mode, bridge()->input_mode);
		sim_module_exit();
	}
}

TEST_F(CorvelinkTest, HwInitWithoutAdaptiveEqualizer)
{
	simk::param_set("aeq", 0);
	load(1);
	trace_.clear();
	EXPECT_EQ(0, ops()->hw_init(brg(), 1));
	Trace eq;
	for (auto &a : writes_of(trace_))
		if (a.reg == 0xD4 || a.reg == 0xD5)
			eq.push_back(a);
	const Trace expected = {{'W', D, 0xD4, 0x00}, {'W', D, 0xD4, 0x01}, {'W', D, 0xD5, 0xF0}};
	EXPECT_EQ(expected, eq);
}

TEST_F(CorvelinkTest, HwInitTestPatterns)
{
	const uint8_t des_v[15] = {0x01, 0x83, 0x1E, 0x0F, 0x00, 0x01, 0xE0, 0x02,
	                           0xD0, 0x04, 0x1A, 0x0C, 0x67, 0x21, 0x0A};
	const uint8_t ser_v[15] = {0x01, 0x33, 0x1E, 0x0F, 0x00, 0x01, 0xE0, 0x02,
	                           0xD0, 0x04, 0x1A, 0x0C, 0x67, 0x21, 0x0A};

	// deserializer pattern: written after the port set-up, no wait for a link
	simk::param_set("test_mode", 1);
	des_->set_reg(0x04, 0);
	load(1);
	trace_.clear();
	EXPECT_EQ(0, ops()->hw_init(brg(), 1));
	Trace expected = {{'W', D, 0x70, 0x1E}, {'W', D, 0xB0, 0x00}};
	for (int n = 1; n <= 15; n++) {
		expected.push_back({'W', D, 0xB1, (uint32_t)n});
		expected.push_back({'W', D, 0xB2, des_v[n - 1]});
	}
	Trace w = writes_of(trace_);
	ASSERT_GE(w.size(), 32u);
	EXPECT_EQ(expected, Trace(w.end() - 32, w.end()));
	EXPECT_FALSE(simk::log_contains("Link locked fail!"));
	sim_module_exit();
	loaded_ = false;

	// serializer pattern: after the serializer is found
	simk::param_set("test_mode", 2);
	des_->set_reg(0x04, 0x0C);
	load(1);
	trace_.clear();
	EXPECT_EQ(0, ops()->hw_init(brg(), 1));
	expected = {{'W', S0, 0xB0, 0x00}};
	for (int n = 1; n <= 15; n++) {
		expected.push_back({'W', S0, 0xB1, (uint32_t)n});
		expected.push_back({'W', S0, 0xB2, ser_v[n - 1]});
	}
	w = writes_of(trace_);
	ASSERT_GE(w.size(), 31u);
	EXPECT_EQ(expected, Trace(w.end() - 31, w.end()));
}

TEST_F(CorvelinkTest, HwInitRefusesMoreThanTwoLinks)
{
	load(3);
	for (u32 mask : {0u, 4u, 7u}) {
		simk::log_clear();
		trace_.clear();
		// no port at all cannot be told by its mask, so it is an error code
		EXPECT_EQ(mask ? (int)mask : -EINVAL, ops()->hw_init(brg(), mask));
		EXPECT_TRUE(trace_.empty());
		EXPECT_TRUE(simk::log_contains("#qvd_error# corvelink_hw_init(", 3));
		EXPECT_TRUE(simk::log_contains("): VIN: corvelink can only support max 2 links!\n", 3));
	}
}

TEST_F(CorvelinkTest, HwInitRefusesAnotherChip)
{
	des_->set_id("UB960");
	load(3);
	trace_.clear();
	EXPECT_EQ(3, ops()->hw_init(brg(), 3));
	const Trace expected = {
	    {'W', D, 0x01, 0x03}, {'R', D, 0xF1, 'U'}, {'R', D, 0xF2, 'B'},
	    {'R', D, 0xF3, '9'},  {'R', D, 0xF4, '6'}, {'R', D, 0xF5, '0'},
	};
	EXPECT_EQ(expected, trace_);
}

TEST_F(CorvelinkTest, HwInitLinkLockFails)
{
	des_->set_reg(0x04, 0x00);
	load(3);
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(3, ops()->hw_init(brg(), 3));
	uint64_t waited_ms = (simk::now_ns() - t0) / 1000000;
	// 100 jiffies of polling every millisecond
	EXPECT_GE(waited_ms, 1000u);
	EXPECT_LE(waited_ms, 1020u);
	EXPECT_TRUE(simk::log_contains("VIN: Link locked fail!\n", 3));
	EXPECT_TRUE(simk::log_contains("VIN: [0]No serializer link!\n", 3));
}

TEST_F(CorvelinkTest, StoppingEndsAccessAndWaits)
{
	load(3);
	brg()->stopping = 1;
	trace_.clear();
	EXPECT_EQ(3, ops()->hw_init(brg(), 3));
	EXPECT_EQ(3, ops()->confirm_stream(brg(), 3));
	u32 val = 5;
	EXPECT_EQ(-1, ops()->read_chan_reg(brg(), 1, 0x3000, &val));
	EXPECT_EQ(0, ops()->irq_callback(brg()));
	EXPECT_TRUE(trace_.empty());
	// a stop is no link failure
	EXPECT_FALSE(simk::log_contains("Link locked fail!"));
	EXPECT_FALSE(simk::log_contains("Link pass fail!"));

	// a stop that comes while waiting for the lock ends the wait at once
	class StoppingDes : public simk::FpdDeserializer
	{
	      public:
		using FpdDeserializer::FpdDeserializer;
		int *stop = nullptr;
		int polls = 0;

	      protected:
		uint8_t read_reg(uint8_t r) override
		{
			if (r == 0x04 && ++polls == 5)
				*stop = 1;
			return FpdDeserializer::read_reg(r);
		}
	} slow(D, &trace_);
	slow.set_id("UB954");
	slow.stop = &brg()->stopping;
	simk::i2c_attach(adap_, D >> 1, &slow);
	brg()->stopping = 0;
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(3, ops()->hw_init(brg(), 3));
	EXPECT_EQ(5, slow.polls);
	EXPECT_EQ(5u, (simk::now_ns() - t0) / 1000000); // one poll a millisecond
	EXPECT_FALSE(simk::log_contains("Link locked fail!"));
	simk::i2c_attach(adap_, D >> 1, des_.get());
}

TEST_F(CorvelinkTest, HwInitUb934LocksOnPortStatus)
{
	des_->set_id("UB934");
	des_->set_reg(0x04, 0x00);
	des_->set_port_reg(0, 0x4D, 0x01);
	load(1);
	EXPECT_EQ(0, ops()->hw_init(brg(), 1));
	EXPECT_STREQ("UB934", bridge()->chip_id);
}

// ---- clocks, configuration and stream -------------------------------------------

TEST_F(CorvelinkTest, SerializerClockTable)
{
	struct Case {
		u32 clk;
		long bc;
		uint8_t m, n;
	};
	const Case cases[] = {
	    {24000000, 10, 0x43, 25}, {24000000, 25, 0x43, 62}, {24000000, 50, 0x43, 125},
	    {25000000, 25, 65, 40},   {27000000, 25, 155, 250}, {30000000, 25, 67, 100},
	    {37125000, 25, 73, 242},
	};
	bring_up(3);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.clk);
		simk::param_set("override_bc_freq", c.bc);
		trace_.clear();
		EXPECT_EQ(0, ops()->set_clk_si(brg(), 3, c.clk));
		Trace mn;
		for (auto &a : writes_of(trace_))
			if (a.reg == 0x06 || a.reg == 0x07)
				mn.push_back(a);
		const Trace expected = {
		    {'W', S0, 0x06, c.m}, {'W', S0, 0x07, c.n}, {'W', S1, 0x06, c.m}, {'W', S1, 0x07, c.n}};
		EXPECT_EQ(expected, mn);
	}

	trace_.clear();
	EXPECT_EQ(0, ops()->set_clk_si(brg(), 1, 26000000));
	EXPECT_TRUE(simk::log_contains("VIN: clock 26000000 hasn't been supported yet\n", 3));
	for (auto &a : trace_)
		EXPECT_NE(0x06u, a.reg);

	simk::param_set("test_mode", 1);
	trace_.clear();
	EXPECT_EQ(0, ops()->set_clk_si(brg(), 3, 27000000));
	EXPECT_TRUE(trace_.empty());
}

TEST_F(CorvelinkTest, SensorResetThroughSerializerGpios)
{
	ser_[1]->set_id("UB913");
	bring_up(3);
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(0, ops()->set_clk_si(brg(), 3, 27000000));
	EXPECT_EQ(30u, (simk::now_ns() - t0) / 1000000);
	const Trace expected = {
	    {'W', S0, 0x06, 155},
	    {'W', S0, 0x07, 250},
	    // DS90UB953, GPIO 3: output enabled, driven low, then high
	    {'W', S0, 0x0E, 0x80},
	    {'W', S0, 0x0D, 0x00},
	    {'W', S0, 0x0E, 0x80},
	    {'W', S0, 0x0D, 0x08},
	    // DS90UB913: fsync GPIO 1 low, then reset GPIO 3 low and high
	    {'W', S1, 0x0D, 0x10},
	    {'W', S1, 0x0E, 0x10},
	    {'W', S1, 0x0E, 0x90},
	};
	EXPECT_EQ(expected, writes_of(trace_));
}

TEST_F(CorvelinkTest, VinConfigSetsSerializerLanes)
{
	bring_up(3);
	vorsalind_vin_config *cfg = brg()->vin_cfg;
	struct Case {
		u32 clk_mode, lanes;
		uint8_t reg2;
	};
	for (const Case &c : {Case{0, 2, 0x51}, Case{1, 4, 0x31}, Case{2, 1, 0x41}}) {
		cfg->interface_type = VORSALIND_VIN_IF_MIPI;
		cfg->clk_mode = c.clk_mode;
		cfg->lanes = c.lanes;
		ser_[0]->set_reg(0x02, 0x01);
		EXPECT_EQ(0, ops()->vin_config(brg(), 1));
		EXPECT_EQ(c.reg2, ser_[0]->reg(0x02));
	}
	cfg->interface_type = VORSALIND_VIN_IF_PARALLEL;
	trace_.clear();
	EXPECT_EQ(0, ops()->vin_config(brg(), 3));
	EXPECT_TRUE(writes_of(trace_).empty());
	EXPECT_EQ(2, simk::log_count("VIN: DS90UB953 can only support MIPI sensor!\n"));
}

TEST_F(CorvelinkTest, VoutConfigTrace)
{
	des_->set_port_reg(0, 0x6D, 0x03); // strapped RAW10
	bring_up(1);
	vorsalind_vin_config *cfg = brg()->vin_cfg;
	cfg->data_format = 2;
	cfg->interface_type = VORSALIND_VIN_IF_PARALLEL;
	cfg->sync_flags = 0x1;
	cfg->lanes = 2;
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(0, ops()->vout_config(brg(), 1));
	EXPECT_EQ(11u, (simk::now_ns() - t0) / 1000000);
	const Trace expected = {
	    {'W', D, 0x4C, 0x01}, {'W', D, 0xBC, 0x00}, {'W', D, 0x4B, 0x1E}, {'W', D, 0x7C, 0xE0},
	    {'W', D, 0x70, 0x1E}, {'R', D, 0x7C, 0xE0}, {'W', D, 0x7C, 0xE1}, {'R', D, 0x23, 0x00},
	    {'W', D, 0x23, 0x81}, {'R', D, 0xD9, 0x00}, {'W', D, 0xD9, 0x01}, {'W', D, 0x1F, 0x00},
	    {'W', D, 0x33, 0x23}, {'W', D, 0x21, 0x01}, {'W', D, 0x20, 0x20},
	};
	EXPECT_EQ(expected, trace_);
}

TEST_F(CorvelinkTest, VoutConfigBothPortsDefaultLanes)
{
	bring_up(3);
	vorsalind_vin_config *cfg = brg()->vin_cfg;
	cfg->interface_type = VORSALIND_VIN_IF_MIPI;
	cfg->lanes = 0;
	EXPECT_EQ(0, ops()->vout_config(brg(), 3));
	const Trace expected = {
	    {'W', D, 0x4C, 0x01}, {'W', D, 0x23, 0x81}, {'W', D, 0xD9, 0x01}, {'W', D, 0x4C, 0x12},
	    {'W', D, 0x23, 0x83}, {'W', D, 0xD9, 0x01}, {'W', D, 0x1F, 0x00}, {'W', D, 0x33, 0x03},
	    {'W', D, 0x21, 0x08}, {'W', D, 0x20, 0x00},
	};
	EXPECT_EQ(expected, writes_of(trace_));

	// the single-port deserializer only lets the framework know
	strcpy(bridge()->chip_id, "UB934");
	brg()->out_format = 7;
	trace_.clear();
	EXPECT_EQ(0, ops()->vout_config(brg(), 3));
	EXPECT_TRUE(trace_.empty());
	EXPECT_EQ(0u, brg()->out_format);
}

TEST_F(CorvelinkTest, ConfirmStreamForwardsGpiosOnce)
{
	simk::Reg16Device sensor(0x94, &trace_);
	sensor.set_reg(0x7A46, 0x47);
	simk::i2c_attach(adap_, 0x4A, &sensor);
	bring_up(3);

	EXPECT_EQ(0, ops()->confirm_stream(brg(), 3));
	const Trace expected = {
	    {'W', D, 0x7D, 0x3B},  {'R', D, 0x04, 0x0C},  {'R', 0x94, 0x7A46, 0x47}, {'R', D, 0x0F, 0x00},
	    {'W', D, 0x0F, 0x00},  {'W', D, 0x4C, 0x01},  {'R', D, 0x10, 0x00},      {'W', D, 0x10, 0x21},
	    {'R', S0, 0x0E, 0x00}, {'W', S0, 0x0E, 0x02}, {'R', S0, 0x33, 0x00},     {'W', S0, 0x33, 0x02},
	    {'W', D, 0x4C, 0x12},  {'R', D, 0x10, 0x21},  {'W', D, 0x10, 0x25},      {'R', S1, 0x0E, 0x00},
	    {'W', S1, 0x0E, 0x02}, {'R', S1, 0x33, 0x00}, {'W', S1, 0x33, 0x02},
	};
	EXPECT_EQ(expected, trace_);
	EXPECT_EQ(1, simk::corvelink_gpio_probes());

	trace_.clear();
	EXPECT_EQ(0, ops()->confirm_stream(brg(), 3));
	const Trace again = {{'W', D, 0x7D, 0x3B}, {'R', D, 0x04, 0x0C}, {'R', 0x94, 0x7A46, 0x47}};
	EXPECT_EQ(again, trace_);
	EXPECT_EQ(1, simk::corvelink_gpio_probes());

	EXPECT_EQ(0, ops()->hw_close(brg()));
	EXPECT_EQ(0, ops()->hw_close(brg()));
	EXPECT_EQ(1, simk::corvelink_gpio_removes());
}

TEST_F(CorvelinkTest, ConfirmStreamPassFailure)
{
	ser_[0]->set_id("UB913");
	simk::Reg16Device sensor(0x94, &trace_);
	sensor.set_reg(0x7A46, 0x47);
	simk::i2c_attach(adap_, 0x4A, &sensor);
	bring_up(1);
	des_->set_reg(0x04, 0x04); // locked, not passing
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(1, ops()->confirm_stream(brg(), 1));
	EXPECT_GE((simk::now_ns() - t0) / 1000000, 100u);
	EXPECT_LE((simk::now_ns() - t0) / 1000000, 120u);
	EXPECT_TRUE(simk::log_contains("VIN: Link pass fail!\n", 3));
	// the parallel serializer cannot forward GPIs; its message has no line feed
	bool found = false;
	for (auto &l : simk::log_lines())
		found |= l.text.size() >= 33 &&
		         l.text.compare(l.text.size() - 33, 33, "ds90ub913/933 doesn't support GPI") == 0;
	EXPECT_TRUE(found);
	EXPECT_EQ(1, simk::corvelink_gpio_probes());
}

TEST_F(CorvelinkTest, StatusBits)
{
	bring_up(3);
	u32 status = 0;
	EXPECT_EQ(0, ops()->get_status(brg(), 1, &status));
	EXPECT_EQ(0u, status);

	simk::i2c_detach(adap_, S1 >> 1);
	status = 0;
	EXPECT_EQ(0, ops()->get_status(brg(), 2, &status));
	EXPECT_EQ(4u, status);

	des_->set_reg(0xF1, 'X');
	status = 0;
	trace_.clear();
	EXPECT_EQ(0, ops()->get_status(brg(), 1, &status));
	EXPECT_EQ(2u, status);
	EXPECT_EQ(1u, trace_.size());
}

TEST_F(CorvelinkTest, InterruptCallbackReadsPortStatus)
{
	bring_up(3);
	des_->script(0x24, {0x03});
	EXPECT_EQ(0, ops()->irq_callback(brg()));
	const Trace expected = {
	    {'R', D, 0x24, 0x03}, {'W', D, 0x4C, 0x01}, {'R', D, 0x4D, 0x00}, {'R', D, 0x4E, 0x00},
	    {'R', D, 0x7A, 0x00}, {'W', D, 0x4C, 0x12}, {'R', D, 0x4D, 0x00}, {'R', D, 0x4E, 0x00},
	    {'R', D, 0x7A, 0x00}, {'R', D, 0x24, 0x00},
	};
	EXPECT_EQ(expected, trace_);

	// a status that never clears ends the callback all the same
	des_->set_reg(0x24, 0x01);
	trace_.clear();
	EXPECT_EQ(0, ops()->irq_callback(brg()));
	int status_reads = 0;
	for (auto &a : trace_)
		status_reads += a.reg == 0x24;
	EXPECT_EQ(16, status_reads);
	EXPECT_TRUE(simk::log_contains("VIN: interrupt status does not clear\n", 3));
}

// ---- sensor access through the link -------------------------------------------------

TEST_F(CorvelinkTest, ChannelWritesTargetAndBytes)
{
	struct Case {
		const char *what;
		long id;
		u32 chan_mask, reg, val, count;
		uint8_t addr_w, val_w;
		uint16_t target;
		std::vector<uint8_t> bytes;
		uint16_t flags;
	};
	const Case cases[] = {
	    {"both ports: broadcast", 3, 3, 0x3012, 0x1234, 1, 2, 2, 0x58, {0x30, 0x12, 0x12, 0x34}, 0},
	    {"port 0 of two", 3, 1, 0x3012, 0x1234, 1, 2, 2, 0x49, {0x30, 0x12, 0x12, 0x34}, 0},
	    {"port 1 of two", 3, 2, 0x3012, 0x1234, 1, 2, 2, 0x4A, {0x30, 0x12, 0x12, 0x34}, 0},
	    {"the only port", 1, 1, 0x3012, 0x1234, 1, 2, 2, 0x58, {0x30, 0x12, 0x12, 0x34}, 0},
	    {"other mask", 3, 4, 0x3012, 0x1234, 1, 2, 2, 0x58, {0x30, 0x12, 0x12, 0x34}, 0},
	    {"byte values, low first",
	     3,
	     3,
	     0x3012,
	     0xCCBBAA,
	     3,
	     2,
	     1,
	     0x58,
	     {0x30, 0x12, 0xAA, 0xBB, 0xCC},
	     0},
	    {"byte address", 3, 3, 0x12, 0x34, 1, 1, 1, 0x58, {0x12, 0x34}, 0},
	    {"repeated word", 3, 3, 0x3012, 0x1234, 2, 2, 2, 0x58, {0x30, 0x12, 0x12, 0x34, 0x12, 0x34}, 0},
	    {"no acknowledge expected",
	     3,
	     3,
	     0x80000103,
	     0x01,
	     1,
	     2,
	     2,
	     0x58,
	     {0x01, 0x03, 0x00, 0x01},
	     I2C_M_IGNORE_NAK},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		simk::reset();
		SetUp();
		RawDevice sensors[3];
		const uint16_t at[3] = {0x58, 0x49, 0x4A};
		for (int k = 0; k < 3; k++)
			simk::i2c_attach(adap_, at[k], &sensors[k]);
		load(c.id);
		bridge()->reg_addr_width = c.addr_w;
		bridge()->reg_value_width = c.val_w;
		EXPECT_EQ(0, ops()->write_chan_reg(brg(), c.chan_mask, c.reg, c.val, c.count));
		for (int k = 0; k < 3; k++) {
			if (at[k] != c.target) {
				EXPECT_TRUE(sensors[k].msgs.empty());
				continue;
			}
			ASSERT_EQ(1u, sensors[k].msgs.size());
			EXPECT_EQ(c.bytes, sensors[k].msgs[0].bytes);
			EXPECT_EQ(c.flags, sensors[k].msgs[0].flags);
		}
		sim_module_exit();
		loaded_ = false;
	}
}

TEST_F(CorvelinkTest, ChannelWriteRetriesAndLimits)
{
	RawDevice sensor;
	simk::i2c_attach(adap_, 0x58, &sensor);
	load(3);

	sensor.fail_next = 2;
	uint64_t t0 = simk::now_ns();
	EXPECT_EQ(0, ops()->write_chan_reg(brg(), 3, 0x3012, 1, 1));
	EXPECT_EQ(66u, (simk::now_ns() - t0) / 1000000);
	EXPECT_EQ(1u, sensor.msgs.size());

	sensor.fail_next = 5;
	t0 = simk::now_ns();
	EXPECT_EQ(-ENXIO, ops()->write_chan_reg(brg(), 3, 0x3012, 1, 1));
	EXPECT_EQ(66u, (simk::now_ns() - t0) / 1000000);
	EXPECT_EQ(2, sensor.fail_next); // three attempts

	// nobody home, but the caller said a missing acknowledge is fine
	simk::i2c_detach(adap_, 0x58);
	EXPECT_EQ(0, ops()->write_chan_reg(brg(), 3, 0x80000103, 1, 1));

	// more data than one message holds is refused, not sent
	simk::i2c_attach(adap_, 0x58, &sensor);
	sensor.msgs.clear();
	EXPECT_EQ(-EINVAL, ops()->write_chan_reg(brg(), 3, 0x3012, 1, 8));
	bridge()->reg_value_width = 1;
	EXPECT_EQ(-EINVAL, ops()->write_chan_reg(brg(), 3, 0x3012, 1, 5));
	EXPECT_TRUE(sensor.msgs.empty());

	brg()->stopping = 1;
	EXPECT_EQ(-1, ops()->write_chan_reg(brg(), 3, 0x3012, 1, 1));
	EXPECT_TRUE(sensor.msgs.empty());
}

TEST_F(CorvelinkTest, ChannelReads)
{
	RawDevice port0, port1;
	port0.reply = {0x12, 0x34};
	port1.reply = {0xAB, 0xCD};
	simk::i2c_attach(adap_, 0x49, &port0);
	simk::i2c_attach(adap_, 0x4A, &port1);
	load(3);

	u32 val = 99;
	EXPECT_EQ(0, ops()->read_chan_reg(brg(), 1, 0x3000, &val));
	EXPECT_EQ(0x1234u, val);
	ASSERT_EQ(2u, port0.msgs.size());
	EXPECT_EQ((std::vector<uint8_t>{0x30, 0x00}), port0.msgs[0].bytes);
	EXPECT_EQ(I2C_M_RD, port0.msgs[1].flags);
	EXPECT_EQ(2u, port0.msgs[1].bytes.size());

	bridge()->reg_value_width = 1;
	EXPECT_EQ(0, ops()->read_chan_reg(brg(), 2, 0x3000, &val));
	EXPECT_EQ(0xABu, val);

	for (u32 chan : {0u, 3u}) {
		val = 99;
		EXPECT_EQ(-1, ops()->read_chan_reg(brg(), chan, 0x3000, &val));
		EXPECT_EQ(0u, val);
	}
	brg()->stopping = 1;
	val = 99;
	EXPECT_EQ(-1, ops()->read_chan_reg(brg(), 1, 0x3000, &val));
	EXPECT_EQ(0u, val);
}

TEST_F(CorvelinkTest, ChannelReadRetryTiming)
{
	RawDevice sensor;
	sensor.reply = {0x00, 0x47};
	simk::i2c_attach(adap_, 0x49, &sensor);
	load(3);
	u32 val;

	struct Case {
		const char *what;
		int fail_next;
		std::vector<uint64_t> latency;
		int ret;
		uint64_t elapsed_ms;
		size_t msgs; // messages that got through
		u32 val;
	};
	const Case cases[] = {
	    {"second attempt", 1, {}, 0, 33, 2, 0x47},
	    {"every attempt fails", 100, {}, -ENXIO, 66, 0, 0},
	    {"slow twice, then quick", 0, {300, 0, 300, 0, 10, 0}, 0, 610, 6, 0x47},
	    {"just at the limit", 0, {250, 0}, 0, 250, 2, 0x47},
	    {"always slow gives up", 0, {300, 0, 300, 0, 300, 0, 300, 0, 300, 0}, 0, 1200, 8, 0x47},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		sensor.msgs.clear();
		sensor.fail_next = c.fail_next;
		sensor.latency_ms = c.latency;
		val = 99;
		uint64_t t0 = simk::now_ns();
		EXPECT_EQ(c.ret, ops()->read_chan_reg(brg(), 1, 0x7A46, &val));
		EXPECT_EQ(c.elapsed_ms, (simk::now_ns() - t0) / 1000000);
		EXPECT_EQ(c.msgs, sensor.msgs.size());
		EXPECT_EQ(c.val, val);
	}
}

TEST_F(CorvelinkTest, DebugAccess)
{
	RawDevice port1;
	port1.reply = {0x00, 0x55};
	simk::i2c_attach(adap_, 0x4A, &port1);
	bring_up(3);

	// default target: the deserializer
	u32 val = 0;
	EXPECT_EQ(0, ops()->dbg_read(brg(), 0, 0xF1, &val));
	EXPECT_EQ((u32)'U', val);
	EXPECT_EQ(0, ops()->dbg_write(brg(), 0, 0xFFFF, S0));
	EXPECT_EQ(0, ops()->dbg_write(brg(), 0, 0x06, 0x43));
	EXPECT_EQ(0x43, ser_[0]->reg(0x06));

	// 0xF0 and above: the sensor behind a port
	EXPECT_EQ(0, ops()->dbg_write(brg(), 0, 0xFFFF, 0xF2));
	EXPECT_EQ(0, ops()->dbg_write(brg(), 0, 0x3012, 0x0100));
	ASSERT_EQ(1u, port1.msgs.size());
	EXPECT_EQ((std::vector<uint8_t>{0x30, 0x12, 0x01, 0x00}), port1.msgs[0].bytes);
	EXPECT_EQ(0, ops()->dbg_read(brg(), 0, 0x3012, &val));
	EXPECT_EQ(0x55u, val);
	EXPECT_EQ(0, ops()->dbg_write(brg(), 0, 0xFFFF, 0xF3));
	val = 7;
	EXPECT_EQ(0, ops()->dbg_read(brg(), 0, 0x3012, &val));
	EXPECT_EQ(0u, val);

	// link-error counters of the DS90UB953 ports
	ser_[0]->set_reg(0x52, 0x02);
	ser_[0]->set_reg(0x55, 0x03);
	trace_.clear();
	EXPECT_EQ(0, ops()->dbg_read(brg(), 0, 0xFFFF, &val));
	const Trace expected = {
	    {'W', D, 0x4C, 0x01},  {'R', S0, 0x52, 0x02}, {'R', S0, 0x55, 0x03}, {'R', S0, 0x56, 0x00},
	    {'W', S0, 0x49, 0x08}, {'W', D, 0x4C, 0x12},  {'R', S1, 0x52, 0x00},
	};
	EXPECT_EQ(expected, trace_);
}

} // namespace

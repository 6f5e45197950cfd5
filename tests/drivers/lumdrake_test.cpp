// The AR0521 sensor module against a simulated register file.
#include <gtest/gtest.h>

#include <memory>

#include <simkernel/chips.h>
#include <simkernel/sim.h>
#include <simkernel/vendor_sim.h>

#include "driver_test_util.h"

using simk::Access;
using simk::Trace;

namespace
{

constexpr uint8_t A = 0x6C; // the sensor's 8-bit address (parameter addr 0x36)
constexpr size_t kLinearWrites = 312;
constexpr size_t kHdrWrites = 368;
// CRC-32 of the bring-up lists as published for the sensor
constexpr uint32_t kLinearCrc = 0x0C77E65Bu;
constexpr uint32_t kHdrCrc = 0x6E4610B7u;

class LumdrakeTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simk::reset();
		allocs_ = simk::kmalloc_live();
		adap_ = simk::i2c_adapter_new(0);
		sensor_ = std::make_unique<simk::Reg16Device>(A, &trace_);
		simk::i2c_attach(adap_, A >> 1, sensor_.get());
	}

	void TearDown() override
	{
		if (loaded_)
			sim_module_exit();
		EXPECT_TRUE(simk::kthread_names().empty());
		EXPECT_TRUE(simk::vin_devices().empty());
		EXPECT_EQ(0u, simk::vin_devices_created());
		EXPECT_EQ(allocs_, simk::kmalloc_live());
		if (board_) {
			EXPECT_STREQ("vorvin", board_->name);
		}
	}

	// The board declares its video-input device; loading moves it to the
	// sensor's address and binds it.
	void load(bool marked = false)
	{
		device_node *np = simk::of_node_new("vorsalind,vorvin");
		if (marked)
			simk::of_set_flag(np, "v2");
		board_ = simk::i2c_client_new(adap_, 0x10, "vorvin", np);
		ASSERT_EQ(0, sim_module_init());
		loaded_ = true;
		ASSERT_EQ(1u, simk::vin_devices().size());
		vdev_ = simk::vin_devices()[0];
		ops_ = vdev_->ops;
	}

	void set_format(u32 index)
	{
		ASSERT_EQ(0, simk::vin_set_format(vdev_, index));
		trace_.clear();
	}

	Trace writes()
	{
		return writes_of(trace_);
	}

	size_t allocs_ = 0;
	bool loaded_ = false;
	i2c_adapter *adap_ = nullptr;
	i2c_client *board_ = nullptr;
	Trace trace_;
	std::unique_ptr<simk::Reg16Device> sensor_;
	vorsalind_vin_device *vdev_ = nullptr;
	const vorsalind_vin_ops *ops_ = nullptr;
};

// ---- module and probe -----------------------------------------------------------

TEST_F(LumdrakeTest, ParametersAndModuleInfo)
{
	struct P {
		const char *name;
		long def;
		const char *desc;
	};
	for (const P &p : {P{"vinc_id", 0, "indicate which vin controller is bind to"},
	                   P{"addr", 0x36, "device address"}, P{"bus_id", 0, "device bus id"}}) {
		SCOPED_TRACE(p.name);
		EXPECT_EQ("int", simk::param_type(p.name));
		EXPECT_EQ(p.def, simk::param_get(p.name));
		EXPECT_EQ(p.desc, simk::param_desc(p.name));
		EXPECT_EQ(0644u, simk::param_perm(p.name));
	}
	EXPECT_EQ("AR0521 1/2.5-Inch, 2592x1944, 5-Megapixel CMOS Digital Image Sensor",
	          simk::modinfo("description"));
	EXPECT_EQ("Proprietary", simk::modinfo("license"));
}

TEST_F(LumdrakeTest, ProbeRegistersTheDevice)
{
	load();
	EXPECT_EQ(0x36, board_->addr);
	EXPECT_STREQ("ar0521", board_->name);
	EXPECT_EQ(11u, vdev_->sensor_id);
	EXPECT_EQ(176u, vdev_->priv_size);
	EXPECT_EQ(0u, vdev_->vinc_id);
	EXPECT_EQ(55u, vdev_->default_video_mode);
	EXPECT_EQ(0, vdev_->agc_db_min);
	EXPECT_EQ(42 << 24, vdev_->agc_db_max);
	EXPECT_EQ((int)(0.09375 * (1 << 24)), vdev_->agc_db_step);
	ASSERT_EQ(2u, vdev_->num_plls);
	EXPECT_EQ(336000000u, vdev_->plls[0].pixel_clk);
	EXPECT_EQ(206841600u, vdev_->plls[1].pixel_clk);
	EXPECT_EQ(27000000u, vdev_->plls[0].ref_clk);
	EXPECT_EQ(std::vector<std::string>{"AR0521-FDOC[0]"}, simk::kthread_names());

	struct F {
		u32 mode, dev_mode, pll, w, h, rh, bits, ratio, hdr;
	};
	const F formats[14] = {
	    {55, 0, 0, 2592, 1944, 1944, 12, 1, 0}, {41, 1, 0, 1920, 1920, 1920, 12, 4, 0},
	    {33, 2, 0, 1600, 1600, 1600, 12, 4, 0}, {34, 3, 0, 1632, 1632, 1632, 12, 4, 0},
	    {53, 4, 0, 2560, 1440, 1440, 12, 2, 0}, {91, 0, 0, 2592, 1440, 1440, 12, 2, 0},
	    {71, 5, 0, 1792, 1792, 1792, 12, 4, 0}, {78, 6, 0, 1856, 1856, 1856, 12, 4, 0},
	    {55, 1, 1, 2592, 1944, 2232, 10, 1, 2}, {71, 1, 1, 1792, 1792, 2080, 10, 4, 2},
	    {78, 1, 1, 1856, 1856, 2144, 10, 4, 2}, {41, 1, 1, 1920, 1920, 2208, 10, 4, 2},
	    {53, 1, 1, 2560, 1440, 1728, 10, 2, 2}, {91, 1, 1, 2592, 1440, 1728, 10, 2, 2},
	};
	ASSERT_EQ(14u, vdev_->num_formats);
	for (int i = 0; i < 14; i++) {
		SCOPED_TRACE(i);
		const vorsalind_vin_format &f = vdev_->formats[i];
		EXPECT_EQ(formats[i].mode, f.video_mode);
		EXPECT_EQ(formats[i].dev_mode, f.device_mode);
		EXPECT_EQ(formats[i].pll, f.pll_index);
		EXPECT_EQ(formats[i].w, f.width);
		EXPECT_EQ(formats[i].h, f.height);
		EXPECT_EQ(formats[i].rh, f.read_height);
		EXPECT_EQ(formats[i].bits, f.bits);
		EXPECT_EQ(formats[i].ratio, f.ratio);
		EXPECT_EQ(formats[i].hdr, f.hdr_mode);
		EXPECT_EQ(17066667u, f.max_fps);
		EXPECT_EQ(17083733u, f.default_fps);
		EXPECT_EQ(8533333u, f.default_shutter);
	}
	EXPECT_EQ(4u, vdev_->formats[0].start_y);
	EXPECT_EQ(256u, vdev_->formats[5].start_y);
}

TEST_F(LumdrakeTest, ProbeThroughTheDeviceTreeWhenVincIdIsWide)
{
	// above 15 the driver binds by compatible and moves the client itself
	simk::param_set("vinc_id", 0xF2);
	board_ = simk::i2c_client_new(adap_, 0x10, "vorvin", simk::of_node_new("vorsalind,vorvin"));
	ASSERT_EQ(0, sim_module_init());
	loaded_ = true;
	ASSERT_EQ(1u, simk::vin_devices().size());
	EXPECT_EQ(2u, simk::vin_devices()[0]->vinc_id);
	EXPECT_EQ(0x36, board_->addr);
	EXPECT_STREQ("ar0521", board_->name);
	EXPECT_EQ(std::vector<std::string>{"AR0521-FDOC[2]"}, simk::kthread_names());
}

TEST_F(LumdrakeTest, UnusedControllerCreatesNoDevice)
{
	simk::param_set("vinc_id", 0xF);
	i2c_client *board =
	    simk::i2c_client_new(adap_, 0x10, "vorvin", simk::of_node_new("vorsalind,vorvin"));
	ASSERT_EQ(0, sim_module_init());
	loaded_ = true;
	EXPECT_TRUE(simk::i2c_client_bound(board));
	EXPECT_TRUE(simk::vin_devices().empty());
	EXPECT_TRUE(simk::kthread_names().empty());
}

TEST_F(LumdrakeTest, ProbeFailures)
{
	// nothing to move on the bus: the load fails
	EXPECT_EQ(-ENODEV, sim_module_init());

	// the framework cannot create the device
	board_ = simk::i2c_client_new(adap_, 0x10, "vorvin", simk::of_node_new("vorsalind,vorvin"));
	simk::kmalloc_fail_nth(1);
	ASSERT_EQ(0, sim_module_init());
	loaded_ = true;
	EXPECT_FALSE(simk::i2c_client_bound(board_));
	EXPECT_TRUE(simk::vin_devices().empty());
	EXPECT_STREQ("vorvin", board_->name);
}

// ---- formats --------------------------------------------------------------------

TEST_F(LumdrakeTest, LinearSequenceThenWindowSet)
{
	const uint16_t windows[7][4] = {
	    {0x0004, 0x0004, 0x07A3, 0x0A2B}, {0x0014, 0x0158, 0x0793, 0x08D7},
	    {0x00B4, 0x01F8, 0x06F3, 0x0837}, {0x00A4, 0x01E8, 0x0703, 0x0847},
	    {0x0104, 0x0018, 0x06A3, 0x0A17}, {0x0054, 0x0198, 0x0753, 0x0897},
	    {0x0034, 0x0178, 0x0773, 0x08B7},
	};
	load();
	for (u32 index = 0; index < 8; index++) {
		SCOPED_TRACE(index);
		trace_.clear();
		ASSERT_EQ(0, simk::vin_set_format(vdev_, index));
		Trace w = writes();
		ASSERT_EQ(kLinearWrites + 4 + 1, w.size());
		EXPECT_EQ(kLinearCrc, crc_of_writes(w, 0, kLinearWrites));
		EXPECT_EQ((Access{'W', A, 0x0103, 0x0001}), w[0]);
		EXPECT_EQ((Access{'W', A, 0x3EC2, 0x100B}), w[255]);
		EXPECT_EQ((Access{'W', A, 0x300A, 0x09C8}), w[kLinearWrites - 1]);
		const uint16_t *win = windows[vdev_->formats[index].device_mode];
		const Trace expected_tail = {
		    {'W', A, 0x3002, win[0]}, {'W', A, 0x3004, win[1]}, {'W', A, 0x3006, win[2]},
		    {'W', A, 0x3008, win[3]}, {'W', A, 0x301A, 0x021C}, // streaming on
		};
		EXPECT_EQ(expected_tail, Trace(w.begin() + kLinearWrites, w.end()));
		EXPECT_EQ(6814u, vdev_->line_time); // 4472 clocks at 336 MHz
		vorsalind_vin_config cfg;
		ASSERT_TRUE(simk::vin_last_config(vdev_, &cfg));
		EXPECT_EQ(12u, cfg.bits);
		EXPECT_EQ(vdev_->formats[index].width, cfg.width);
		EXPECT_EQ((u32)VORSALIND_VIN_IF_MIPI, cfg.interface_type);
	}
}

TEST_F(LumdrakeTest, HdrSequence)
{
	load();
	for (u32 index = 8; index < 14; index++) {
		SCOPED_TRACE(index);
		trace_.clear();
		ASSERT_EQ(0, simk::vin_set_format(vdev_, index));
		Trace w = writes();
		ASSERT_EQ(kHdrWrites + 1, w.size());
		EXPECT_EQ(kHdrCrc, crc_of_writes(w, 0, kHdrWrites));
		EXPECT_EQ((Access{'W', A, 0x301A, 0x021C}), w[kHdrWrites - 1]);
		EXPECT_EQ(7524u, vdev_->line_time); // 3040 clocks at 206.8416 MHz
		vorsalind_vin_aaa_info aaa;
		ASSERT_EQ(0, ops_->get_aaa_info(vdev_, &aaa));
		EXPECT_EQ(0x08DCu - 4, aaa.max_shutter_rows);
		EXPECT_EQ(288u, aaa.max_short_rows);
		EXPECT_EQ(0u, aaa.reserved);
	}
	// back to a linear format: no short exposure any more
	set_format(0);
	vorsalind_vin_aaa_info aaa;
	ASSERT_EQ(0, ops_->get_aaa_info(vdev_, &aaa));
	EXPECT_EQ(0x09C8u - 4, aaa.max_shutter_rows);
	EXPECT_EQ(0u, aaa.max_short_rows);
}

TEST_F(LumdrakeTest, MarkedBoardClearsBit12Of3EC2)
{
	load(true);
	struct Case {
		u32 format;
		uint16_t plain, marked;
	};
	for (const Case &c : {Case{0, 0x100B, 0x000B}, Case{8, 0x100A, 0x000A}}) {
		SCOPED_TRACE(c.format);
		trace_.clear();
		ASSERT_EQ(0, simk::vin_set_format(vdev_, c.format));
		int seen = 0;
		for (auto &a : writes()) {
			if (a.reg != 0x3EC2)
				continue;
			EXPECT_EQ(c.marked, a.val);
			seen++;
		}
		EXPECT_EQ(1, seen);
	}
}

TEST_F(LumdrakeTest, FormatErrors)
{
	load();
	sensor_->script(0x300C, {0});
	EXPECT_EQ(-EIO, simk::vin_set_format(vdev_, 0));
	EXPECT_TRUE(simk::log_contains("#qvd_error# ar0521_set_format(", 3));
	EXPECT_TRUE(simk::log_contains("): VIN: line length is 0!\n", 3));

	simk::vin_config_result(3);
	EXPECT_EQ(0, simk::vin_set_format(vdev_, 0));
	simk::vin_config_result(-EBUSY);
	EXPECT_EQ(-EBUSY, simk::vin_set_format(vdev_, 0));
	simk::vin_config_result(0);
}

// ---- gain and the FDOC thread ---------------------------------------------------

TEST_F(LumdrakeTest, AgcIndexWritesGainAndAnalogSetting)
{
	struct Case {
		u32 index;
		uint16_t gain, analog;
	};
	const Case cases[] = {
	    {0, 0x2000, 0x3300},   {64, 0x2010, 0x3300},  {128, 0x2020, 0x4400},
	    {192, 0x2030, 0xFF00}, {300, 0x353F, 0xFF00}, {448, 0xFFBF, 0xFF00},
	};
	load();
	set_format(0);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.index);
		trace_.clear();
		EXPECT_EQ(0, ops_->set_agc_index(vdev_, c.index));
		const Trace expected = {
		    {'W', A, 0x3EC4, c.analog}, {'W', A, 0x3180, 0xD434}, {'W', A, 0x305E, c.gain}};
		EXPECT_EQ(expected, trace_);
	}
	trace_.clear();
	EXPECT_EQ(-EINVAL, ops_->set_agc_index(vdev_, 449));
	EXPECT_TRUE(trace_.empty());
	EXPECT_TRUE(simk::log_contains("VIN: agc index 449 exceeds maximum 448\n", 3));
}

TEST_F(LumdrakeTest, FdocRestoresAnalogSetting16JiffiesLater)
{
	load();
	set_format(0);
	vdev_->streaming = 1;

	ASSERT_EQ(0, ops_->set_agc_index(vdev_, 448));
	simk::advance_ms(150);
	simk::kthreads_settle();
	EXPECT_EQ(0xD434u, sensor_->reg(0x3180));

	// a new gain re-arms the timer
	ASSERT_EQ(0, ops_->set_agc_index(vdev_, 100));
	simk::advance_ms(150);
	simk::kthreads_settle();
	EXPECT_EQ(0xD434u, sensor_->reg(0x3180));
	simk::advance_ms(10);
	simk::kthreads_settle();
	EXPECT_EQ(0x9434u, sensor_->reg(0x3180));
	EXPECT_EQ((Access{'W', A, 0x3180, 0x9434}), trace_.back());
}

TEST_F(LumdrakeTest, FdocStaysQuietWhenNotStreamingOrSuppressed)
{
	load();
	set_format(0);
	struct Case {
		int streaming, no_write;
	};
	for (const Case &c : {Case{0, 0}, Case{1, 1}}) {
		vdev_->streaming = 0;
		vdev_->no_write = 0;
		ASSERT_EQ(0, ops_->set_agc_index(vdev_, 10));
		vdev_->streaming = c.streaming;
		vdev_->no_write = c.no_write;
		trace_.clear();
		simk::advance_ms(200);
		simk::kthreads_settle();
		EXPECT_TRUE(trace_.empty());
		EXPECT_EQ(0xD434u, sensor_->reg(0x3180));
	}
}

TEST_F(LumdrakeTest, WdrGainGroup)
{
	load();
	set_format(8);
	vorsalind_vin_wdr_group g = {{100, 200, 0, 0}};
	ASSERT_EQ(0, ops_->set_wdr_again_idx_group(vdev_, &g));
	// 200 is the larger index: gain 0x2033, coarse bits 3
	const Trace expected = {
	    {'W', A, 0x3EC4, 0xFF00},
	    {'W', A, 0x3180, 0xD434},
	    {'W', A, 0x305E, 0x2419},
	    {'W', A, 0x340A, 0x2033},
	};
	EXPECT_EQ(expected, trace_);
	vorsalind_vin_wdr_group out = {};
	ASSERT_EQ(0, ops_->get_wdr_again_idx_group(vdev_, &out));
	EXPECT_EQ(0, memcmp(&g, &out, sizeof(g)));

	// an index past the table is refused and changes nothing
	for (vorsalind_vin_wdr_group bad :
	     {vorsalind_vin_wdr_group{{449, 0, 0, 0}}, vorsalind_vin_wdr_group{{0, 1000, 0, 0}},
	      vorsalind_vin_wdr_group{{-1, 0, 0, 0}}}) {
		trace_.clear();
		EXPECT_EQ(-EINVAL, ops_->set_wdr_again_idx_group(vdev_, &bad));
		EXPECT_TRUE(trace_.empty());
	}
	ASSERT_EQ(0, ops_->get_wdr_again_idx_group(vdev_, &out));
	EXPECT_EQ(0, memcmp(&g, &out, sizeof(g)));

	EXPECT_EQ(0, ops_->set_wdr_dgain_idx_group(vdev_, &g));
	EXPECT_EQ(0, ops_->get_wdr_dgain_idx_group(vdev_, &g));
	EXPECT_EQ(0, ops_->set_pll(vdev_, 1));
}

// ---- frame rate and shutter ---------------------------------------------------------

TEST_F(LumdrakeTest, FrameRateTable)
{
	struct Case {
		u64 frame_time;
		uint16_t v;
		int line_length; // written to 0x300C, -1: none
		u64 vb_ns;
	};
	// linear format 0: 336 MHz, 4472 clocks a line, 1944 active lines
	const Case cases[] = {
	    {17066667, 2504, -1, 7453333},
	    {17083733, 2507, -1, 7493262},
	    {34133333, 5009, -1, 40793690},
	    {8533333, 1252, -1, 0}, // shorter than the active lines
	    {512000000, 0xFFFF, 5127, 970330527},
	    {17066667, 2504, 0x1178, 7453333}, // back to the read line length
	    {5120000000ull, 0xFFFF, 51270, 9703305268ull},
	    {512000000000ull, 0xFFFF, 0xFFFF, 12403083884ull}, // longest line there is
	    {17066667, 2504, 0x1178, 7453333},
	    {17066667, 2504, -1, 7453333},
	};
	load();
	set_format(0);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.frame_time);
		trace_.clear();
		EXPECT_EQ(0, ops_->set_fps(vdev_, c.frame_time));
		Trace expected;
		if (c.line_length >= 0)
			expected.push_back({'W', A, 0x300C, (uint32_t)c.line_length});
		expected.push_back({'W', A, 0x300A, c.v});
		EXPECT_EQ(expected, trace_);
		EXPECT_EQ(c.vb_ns, vdev_->vb_time);
		vorsalind_vin_eis_info eis;
		ASSERT_EQ(0, ops_->get_eis_info(vdev_, &eis));
		EXPECT_EQ(c.vb_ns, eis.vb_time);
		EXPECT_EQ(220, eis.cell_width);
		EXPECT_EQ(220, eis.cell_height);
		EXPECT_EQ(1, eis.column_bin);
		EXPECT_EQ(1, eis.row_bin);
	}
}

TEST_F(LumdrakeTest, ShutterRows)
{
	load();
	set_format(0); // V = 2504
	struct Conv {
		u32 time, row;
	};
	for (const Conv &c : {Conv{8533333, 1252}, Conv{68, 0}, Conv{1000000, 147}, Conv{17066667, 2504}}) {
		u32 v = c.time;
		ASSERT_EQ(0, ops_->shutter2row(vdev_, &v));
		EXPECT_EQ(c.row, v) << c.time;
	}
	vorsalind_vin_wdr_group g = {{8533333, 1000000, 7, 9}};
	ASSERT_EQ(0, ops_->wdr_shutter2row(vdev_, &g));
	EXPECT_EQ(1252, g.data[0]);
	EXPECT_EQ(147, g.data[1]);

	struct Set {
		u32 row, written, time;
	};
	for (const Set &s : {Set{0, 1, 6814}, Set{100, 100, 681447}, Set{2500, 2500, 17036190},
	                     Set{2501, 2500, 17036190}, Set{60000, 2500, 17036190}}) {
		SCOPED_TRACE(s.row);
		trace_.clear();
		ASSERT_EQ(0, ops_->set_shutter_row(vdev_, s.row));
		EXPECT_EQ((Trace{{'W', A, 0x3012, s.written}}), trace_);
		EXPECT_EQ(s.time, vdev_->shutter_time);
	}
}

TEST_F(LumdrakeTest, ShutterToRowReadsLineLengthFirst)
{
	sensor_->set_reg(0x300C, 0x1178);
	load();
	trace_.clear();
	u32 v = 8533333;
	ASSERT_EQ(0, ops_->shutter2row(vdev_, &v));
	EXPECT_EQ(1252u, v);
	EXPECT_EQ((Trace{{'R', A, 0x300C, 0x1178}}), trace_);
}

TEST_F(LumdrakeTest, WdrShutterGroup)
{
	load();
	set_format(8); // V = 0x08DC = 2268, short exposure up to 288 rows
	vorsalind_vin_wdr_group g = {{1976, 288, 0, 0}};
	ASSERT_EQ(0, ops_->set_wdr_shutter_row_group(vdev_, &g));
	EXPECT_EQ((Trace{{'W', A, 0x3012, 1976}, {'W', A, 0x3088, 288}}), trace_);
	vorsalind_vin_wdr_group out = {};
	ASSERT_EQ(0, ops_->get_wdr_shutter_row_group(vdev_, &out));
	EXPECT_EQ(0, memcmp(&g, &out, sizeof(g)));

	trace_.clear();
	vorsalind_vin_wdr_group too_short = {{100, 289, 0, 0}};
	EXPECT_EQ(-1, ops_->set_wdr_shutter_row_group(vdev_, &too_short));
	EXPECT_TRUE(simk::log_contains("VIN: middle shutter 289 exceeds limitation 288\n", 3));
	vorsalind_vin_wdr_group too_long = {{1977, 10, 0, 0}};
	EXPECT_EQ(-1, ops_->set_wdr_shutter_row_group(vdev_, &too_long));
	EXPECT_TRUE(
	    simk::log_contains("VIN: shutter exceeds limitation! long:1977, max_short:288, V:2268\n", 3));
	EXPECT_TRUE(trace_.empty());
}

// ---- mirror, stream, status ---------------------------------------------------------

TEST_F(LumdrakeTest, MirrorModes)
{
	struct Case {
		u32 mode;
		int ret;
		uint32_t reg3040;
		u32 pattern;
	};
	const Case cases[] = {
	    {0, 0, 0x0041, 2}, {1, 0, 0x8041, 1},   {2, 0, 0x4041, 0},
	    {3, 0, 0xC041, 3}, {255, 0, 0xC041, 3}, {4, -EINVAL, 0xC041, 3},
	};
	load();
	set_format(0); // 0x3040 = 0x0041
	for (const Case &c : cases) {
		SCOPED_TRACE(c.mode);
		vorsalind_vin_mirror m = {c.mode, VORSALIND_VIN_BAYER_AUTO};
		EXPECT_EQ(c.ret, ops_->set_mirror_mode(vdev_, &m));
		EXPECT_EQ(c.reg3040, sensor_->reg(0x3040));
		EXPECT_EQ(c.pattern, vdev_->bayer_pattern);
	}
	EXPECT_TRUE(simk::log_contains("VIN: do not support cmd mirror mode\n", 3));

	// a pattern given by the caller is left alone
	vorsalind_vin_mirror m = {1, 0};
	EXPECT_EQ(0, ops_->set_mirror_mode(vdev_, &m));
	EXPECT_EQ(0x8041u, sensor_->reg(0x3040));
	EXPECT_EQ(3u, vdev_->bayer_pattern);
}

TEST_F(LumdrakeTest, StreamHoldAndInit)
{
	load();
	sensor_->set_reg(0x301A, 0x0218);
	EXPECT_EQ(0, ops_->set_stream_mode(vdev_, 1));
	EXPECT_EQ(0x021Cu, sensor_->reg(0x301A));
	EXPECT_EQ(0, ops_->set_hold_mode(vdev_, 1));
	EXPECT_EQ(0x821Cu, sensor_->reg(0x301A));
	EXPECT_EQ(0, ops_->set_stream_mode(vdev_, 0));
	EXPECT_EQ(0x8218u, sensor_->reg(0x301A));
	EXPECT_EQ(0, ops_->set_hold_mode(vdev_, 0));
	EXPECT_EQ(0x0218u, sensor_->reg(0x301A));

	uint64_t t0 = simk::now_ns();
	trace_.clear();
	EXPECT_EQ(0, ops_->init_device(vdev_));
	EXPECT_EQ((Trace{{'W', A, 0x301A, 0x0001}}), trace_);
	EXPECT_EQ(1000000u, simk::now_ns() - t0);

	u32 v;
	EXPECT_EQ(0, ops_->write_reg(vdev_, 0x3012, 0x55));
	EXPECT_EQ(0, ops_->read_reg(vdev_, 0x3012, &v));
	EXPECT_EQ(0x55u, v);
}

TEST_F(LumdrakeTest, BusErrorsAndSuppressedWrites)
{
	load();
	simk::i2c_detach(adap_, A >> 1);
	// resets are sent without waiting for an acknowledge
	EXPECT_EQ(0, ops_->init_device(vdev_));
	EXPECT_EQ(0, ops_->write_reg(vdev_, 0x0103, 1));
	EXPECT_EQ(-ENXIO, ops_->write_reg(vdev_, 0x3012, 0x1));
	EXPECT_TRUE(simk::log_contains("#qvd_warn# ar0521_write(", 4));
	EXPECT_TRUE(simk::log_contains("): VIN: failed(-6): [0x3012:0x1]\n", 4));
	u32 v = 7;
	EXPECT_EQ(-ENXIO, ops_->read_reg(vdev_, 0x3012, &v));
	EXPECT_TRUE(simk::log_contains("): VIN: failed(-6): [0x3012]\n", 3));

	// while the framework suppresses writes they count as done
	vdev_->no_write = 1;
	EXPECT_EQ(0, ops_->write_reg(vdev_, 0x3012, 0x1));
	EXPECT_EQ(0, ops_->set_agc_index(vdev_, 5));
	vdev_->no_write = 0;
	simk::i2c_attach(adap_, A >> 1, sensor_.get());
	trace_.clear();
	vdev_->no_write = 1;
	EXPECT_EQ(0, ops_->set_agc_index(vdev_, 5));
	EXPECT_TRUE(trace_.empty());
}

TEST_F(LumdrakeTest, ChipTemperature)
{
	struct Case {
		uint16_t value, calib;
		int ret, celsius;
	};
	const Case cases[] = {
	    {100, 150, 0, 20}, {200, 150, 0, 90}, {150, 150, 0, 55}, {1, 1000, 0, -655}, {0, 150, -EAGAIN, 0},
	};
	load();
	for (const Case &c : cases) {
		SCOPED_TRACE(c.value);
		sensor_->set_reg(0x3126, 0xFFFF);
		sensor_->set_reg(0x3124, c.value);
		sensor_->set_reg(0x3128, c.calib);
		trace_.clear();
		uint64_t t0 = simk::now_ns();
		vorsalind_vin_chip_status st = {-999};
		EXPECT_EQ(c.ret, ops_->get_chip_status(vdev_, &st));
		if (c.ret == 0) {
			EXPECT_EQ(c.celsius, st.temperature);
		}
		EXPECT_EQ(5000000u, simk::now_ns() - t0);
		const Trace expected = {
		    {'R', A, 0x3126, 0xFFFF},  {'W', A, 0x3126, 0xFFC1}, {'W', A, 0x3126, 0xFFE1},
		    {'W', A, 0x3126, 0xFFC1},  {'W', A, 0x3126, 0xFFD1}, {'R', A, 0x3124, c.value},
		    {'R', A, 0x3128, c.calib},
		};
		EXPECT_EQ(expected, trace_);
	}
}

} // namespace

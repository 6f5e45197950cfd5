// The built-in tuning rows, their lookup, the colour-correction files and
// the tool that writes neutral ones.
#include "awb_fixture.h"
#include "cl_log.h"
#include "cl_tuning.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

std::vector<std::pair<int, std::string>> logged;

void capture(int priority, const char *text)
{
	logged.emplace_back(priority, text);
}

bool logged_line(int priority, const std::string &text)
{
	for (auto &l : logged)
		if (l.first == priority && l.second == text)
			return true;
	return false;
}

class TuningTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		logged.clear();
		cl_set_log_fn(capture);
		char tmpl[] = "/tmp/cl_tuning_XXXXXX";
		root = mkdtemp(tmpl);
		mkdir((root + "/lib").c_str(), 0755);
		mkdir((root + "/lib/firmware").c_str(), 0755);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
	}
	void TearDown() override
	{
		cl_set_log_fn(nullptr);
		unsetenv("VISTRAD_ROOT");
		std::string cmd = "rm -rf '" + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
	}
	std::string firmware(const std::string &name) const
	{
		return root + "/lib/firmware/" + name;
	}
	void write(const std::string &name, size_t size) const
	{
		std::vector<uint8_t> b(size, 0);
		FILE *f = fopen(firmware(name).c_str(), "wb");
		ASSERT_NE(nullptr, f);
		ASSERT_EQ(size, fwrite(b.data(), 1, size, f));
		fclose(f);
	}
	void generate() const
	{
		std::string cmd = std::string(CL_MAKE_CC_BINS) + " '" + root + "/lib/firmware'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}
	std::string root;
};

TEST_F(TuningTest, TableRowsAndEnd)
{
	const struct {
		int32_t board;
		const char *sensor;
		int32_t a, b, c, mode;
	} want[CL_TUNING_ROWS] = {
	    {1024, "ar0521", 2, 0, 1, 9},       {1024, "ar0521", 2, 2, 2, 9},
	    {1024, "ar0521", 3, 0, 1, 9},       {1025, "ov2718", 2, 0, 1, 0},
	    {1025, "ov2718", 2, 0, 1, 4},       {1026, "ov2718", 2, 0, 1, 0},
	    {1026, "ov2718", 2, 0, 1, 4},       {1033, "kx21_ov2718", 2, 0, 1, 0},
	    {1030, "kx20_ov2718", 2, 0, 1, 0},  {1030, "kx20_ov2718", 2, 0, 1, 4},
	    {1027, "ar0521", 2, 0, 1, 9},       {1027, "ar0521", 2, 2, 2, 9},
	    {1028, "ar0521", 2, 0, 1, 9},       {1028, "ar0521", 2, 2, 2, 9},
	    {1032, "ar0521", 2, 0, 1, 9},       {1032, "ar0521", 2, 2, 2, 9},
	    {1029, "ov2718", 2, 0, 1, 0},       {1029, "ov2718", 2, 2, 2, 1},
	    {1031, "Malvo_ov2770", 2, 0, 1, 0}, {1031, "Malvo_ov2770", 2, 2, 2, 6},
	};
	for (int i = 0; i < CL_TUNING_ROWS; i++) {
		const tuning_row &r = cl_tuning_table[i];
		SCOPED_TRACE(i);
		EXPECT_EQ(want[i].board, r.board_id);
		EXPECT_STREQ(want[i].sensor, r.sensor_name);
		EXPECT_EQ(want[i].a, r.key_a);
		EXPECT_EQ(want[i].b, r.key_b);
		EXPECT_EQ(want[i].c, r.key_c);
		EXPECT_EQ(want[i].mode, r.mode);
		ASSERT_NE(nullptr, r.exposure_table);
		ASSERT_NE(nullptr, r.wb_table);
		ASSERT_NE(nullptr, r.stats_table);
		ASSERT_NE(nullptr, r.sensor_table);
		// The HDR table goes with the HDR methods and the HDR rows of 1029, 1031.
		bool hdr = r.mode == 4 || r.mode == 6 ||
		           (r.key_c == 2 && (r.board_id == 1029 || r.board_id == 1031));
		EXPECT_EQ(hdr, r.hdr_table != nullptr);
	}
	EXPECT_EQ(CL_TUNING_END, cl_tuning_table[CL_TUNING_ROWS].board_id);
	// Linear and HDR rows of one board differ in their exposure tables.
	EXPECT_NE(cl_tuning_table[16].exposure_table, cl_tuning_table[17].exposure_table);
}

TEST_F(TuningTest, ExposureGainRisesByTheSensorStep)
{
	const uint8_t *t = cl_tuning_table[0].exposure_table;
	for (int i : {0, 1, 64, 320, 720}) {
		uint32_t g;
		memcpy(&g, t + CL_EXPOSURE_GAIN_OFFSET + 4 * i, 4);
		EXPECT_NEAR(16384.0 * pow(10.0, i * 0.09375 / 20.0), g, 0.5) << i;
	}
}

// White balance on the built-in table finds a grey surface under every
// light from 2800 K to 7500 K (the sensor's raw grey there) and takes the
// gains that make it grey; a colour off the locus has no white point, and
// the first run falls back to the daylight preset.
TEST_F(TuningTest, WhiteBalanceFindsGreyAlongTheLocus)
{
	const struct {
		GainPoint grey, expected;
	} cases[] = {
	    {{1280, 2844}, {1280, 2844}}, // 2800 K
	    {{1337, 2653}, {1337, 2653}}, // 3000 K, between two points
	    {{1707, 1932}, {1707, 1932}}, // 4200 K
	    {{1896, 1707}, {1896, 1707}}, // 5000 K
	    {{2381, 1347}, {2381, 1347}}, // 7500 K
	    {{1024, 1024}, {1896, 1707}}, // raw grey: no white point
	    {{1896, 2300}, {1896, 1707}}, // off the locus, towards blue
	};
	std::vector<uint8_t> block(AWB_TUNING_STRIDE);
	memcpy(block.data(), cl_tuning_table[0].wb_table + 24, sizeof(awb_tuning));
	ASSERT_EQ(0, awb_set_instance_count(1));
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::PrintToString(c.grey));
		ASSERT_EQ(0, awb_create_instances(block.data()));
		awb_instance *inst = awb_get_instance(0);
		ASSERT_NE(nullptr, inst);
		ParseOut stats;
		stats.fill(tile_for((uint32_t)c.grey.r, (uint32_t)c.grey.b));
		cl_aaa_block out{};
		ASSERT_EQ(0, inst->control(inst, &stats.chan(), &out));
		EXPECT_EQ(c.expected, (GainPoint{(int32_t)out.wb_r_gain, (int32_t)out.wb_b_gain}));
		EXPECT_EQ(1024u, out.wb_g_gain);
		EXPECT_EQ(0, awb_destroy_instances());
	}
}

TEST_F(TuningTest, Lookup)
{
	const struct {
		int32_t board, a, b, c, mode;
		int row; // -1: none
	} cases[] = {
	    {1029, 2, 2, 2, 1, 17}, {1029, 2, 2, 2, 0, -1}, {1024, 2, 0, 1, 0, 0}, {1024, 2, 0, 1, 1, 0},
	    {1024, 2, 0, 1, 4, 0},  {1024, 2, 0, 1, 6, 0},  {1024, 2, 0, 1, 9, 0}, {1025, 2, 0, 1, 4, 4},
	    {1031, 2, 2, 2, 6, 19}, {1031, 2, 2, 2, 9, -1}, {999, 2, 0, 1, 0, -1}, {-1, 0, 0, 0, 0, -1},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.board * 10 + c.mode);
		logged.clear();
		cl_tuning_set_board(c.board);
		const tuning_row *r = cl_tuning_lookup(c.a, c.b, c.c, c.mode);
		if (c.row < 0) {
			EXPECT_EQ(nullptr, r);
			char want[128];
			snprintf(want, sizeof want, "WARNING: failed to lookup tuning: %d (%d, %d, %d, %d)\n",
			         c.board, c.a, c.b, c.c, c.mode);
			EXPECT_TRUE(logged_line(LOG_WARNING, want)) << want;
		} else {
			EXPECT_EQ(&cl_tuning_table[c.row], r);
			EXPECT_TRUE(logged.empty());
		}
	}
	cl_tuning_set_board(-1);
}

TEST_F(TuningTest, ReadFileTakesExactlyItsLength)
{
	write("ten.bin", 10);
	uint8_t buf[16];
	EXPECT_EQ(1, cl_read_file("/lib/firmware/ten.bin", buf, 10));
	EXPECT_TRUE(logged.empty());
	EXPECT_EQ(0, cl_read_file("/lib/firmware/ten.bin", buf, 11));
	EXPECT_TRUE(
	    logged_line(LOG_ERR, "ERROR: failed to read file /lib/firmware/ten.bin: Input/output error\n"));
	EXPECT_EQ(0, cl_read_file("/lib/firmware/none.bin", buf, 10));
	EXPECT_TRUE(logged_line(
	    LOG_ERR, "ERROR: failed to open file /lib/firmware/none.bin: No such file or directory\n"));
}

TEST_F(TuningTest, GeneratedFilesHaveTheirSizesAndIdentityCube)
{
	generate();
	struct stat st;
	ASSERT_EQ(0, stat(firmware("reg.bin").c_str(), &st));
	EXPECT_EQ(18752, st.st_size);
	for (const char *sensor : {"ar0521", "ov2718", "kx21_ov2718", "kx20_ov2718", "Malvo_ov2770"})
		for (const char *suffix : {"", "_hdr"})
			for (int k = 1; k <= 4; k++) {
				std::string name =
				    std::string(sensor) + "_0" + std::to_string(k) + "_3D" + suffix + ".bin";
				ASSERT_EQ(0, stat(firmware(name).c_str(), &st)) << name;
				EXPECT_EQ(17536, st.st_size) << name;
			}
	std::vector<uint8_t> cube(17536), reg(18752);
	ASSERT_EQ(1, cl_read_file("/lib/firmware/ov2718_03_3D_hdr.bin", cube.data(), cube.size()));
	ASSERT_EQ(1, cl_read_file("/lib/firmware/reg.bin", reg.data(), reg.size()));
	uint32_t w[3];
	memcpy(w, reg.data(), 12);
	EXPECT_EQ(18752u, w[2]);
	uint32_t v[2];
	memcpy(v, cube.data(), 8);
	EXPECT_EQ(w[0], v[0]);
	EXPECT_EQ(w[1], v[1]);
	// First and last cube points: black and white.
	uint32_t first, last;
	memcpy(&first, cube.data() + 128, 4);
	memcpy(&last, cube.data() + 128 + 4 * 4095, 4);
	EXPECT_EQ(0u, first);
	EXPECT_EQ(1023u << 20 | 1023u << 10 | 1023u, last);
}

TEST_F(TuningTest, LoadBinsFailures)
{
	img_dsp_mode mode = {};
	EXPECT_EQ(0, cl_load_bins(-1, "ov2718", 1, 0, &mode));
	EXPECT_TRUE(logged_line(LOG_ERR, "ERROR: failed to load reg file\n"));

	generate();
	// A third HDR table one byte short: the channel is named.
	write("ov2718_03_3D_hdr.bin", 17535);
	logged.clear();
	EXPECT_EQ(0, cl_load_bins(-1, "ov2718", 2, 1, &mode));
	EXPECT_TRUE(
	    logged_line(LOG_ERR, "ERROR: cl_load_bins: Channel 0 failed to load one or more CC bin files\n"));

	// A sensor without files.
	logged.clear();
	EXPECT_EQ(0, cl_load_bins(-1, "imx000", 1, 0, &mode));
	EXPECT_TRUE(
	    logged_line(LOG_ERR, "ERROR: cl_load_bins: Channel 0 failed to load one or more CC bin files\n"));
}

} // namespace

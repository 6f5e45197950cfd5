// Exposure instances on parse results and blocks written by the test: the
// line walk, the speed and tolerance rules, metering by mode, the exposure
// check and the filter's target.
#include "ae_fixture.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class AeUnit : public AeModule
{
      protected:
	void SetUp() override
	{
		AeModule::SetUp();
		st_ = stats();
		memset(blocks_, 0, sizeof blocks_);
	}
	// One instance on shutter-then-AGC lines, started at `at` on `line`
	// with target 110, its first (placing) frame and five waits run.
	ae_instance *one(ae_point at = {500, 0, 0}, uint32_t line = 0, AeTables *tables = nullptr)
	{
		create({tables ? tables : &tables_});
		ae_instance *ae = ae_get_instance(0);
		EXPECT_EQ(ae->start(ae, &at, line, 110), 0);
		ae->set_frame_skip(ae, 0, 0);
		EXPECT_EQ(frame(ae, 110), true);
		for (int i = 0; i < 5; i++)
			EXPECT_EQ(frame(ae, 20), false) << i;
		return ae;
	}
	// A frame at a uniform metered luma, the last result taken as applied;
	// whether it asked for a change.
	bool frame(ae_instance *ae, uint32_t luma)
	{
		cl_aaa_exposure &e = blocks_[0].expo[0];
		e.shutter_changed = e.agc_changed = e.dgain_changed = e.iris_flag = 0;
		uniform(&st_->chan[0], luma * 16);
		EXPECT_EQ(ae_run_video_exposure(ae, &st_->chan[0], &blocks_[0]), 0);
		return e.shutter_changed || e.agc_changed || e.dgain_changed || e.iris_flag;
	}
	AeTables tables_{shutter_then_agc()};
	std::unique_ptr<aaa_parse_out> st_;
	cl_aaa_block blocks_[4];
};

TEST_F(AeUnit, IrisExposureTableEnds)
{
	EXPECT_EQ(ae_iris_exposure(0), 26214u);
	EXPECT_EQ(ae_iris_exposure(AE_IRIS_MAX), 23595914u);
	EXPECT_EQ(ae_iris_factor(AE_IRIS_MAX), 23595914ull * 23595914ull / 65536);
}

TEST_F(AeUnit, CreationPlacesTheEndOfLineZeroWithTheDefaults)
{
	create({&tables_});
	ae_instance *ae = ae_get_instance(0);
	ASSERT_NE(ae, nullptr);
	EXPECT_STREQ(ae->get_name(ae), "ae_expo_0");
	ae_point p = ae_get_point(ae);
	EXPECT_EQ(p.shutter, 1024u);
	EXPECT_EQ(p.agc, 0u);
	EXPECT_EQ(ae->get_target(ae), 110);
	EXPECT_EQ(ae->get_state(ae), 2); // no decision yet
	uint8_t cursor = 9;
	ASSERT_EQ(ae_get_cursor(&cursor), 0);
	EXPECT_EQ(cursor, 1);

	EXPECT_EQ(ae_run_video_exposure(ae, &st_->chan[0], &blocks_[0]), 0);
	const cl_aaa_exposure &e = blocks_[0].expo[0];
	EXPECT_EQ(e.shutter_changed, 1u);
	EXPECT_EQ(e.shutter, 1024u);
	EXPECT_EQ(e.agc_changed, 1u);
	EXPECT_EQ(e.dgain_changed, 1u);
	EXPECT_EQ(e.dgain, 4096u);
}

TEST_F(AeUnit, BadLinesAreRefused)
{
	struct {
		std::vector<ae_line> lines;
		const char *message;
	} cases[] = {
	    {{{{8, 0, 0}, {1024, 10, 0}}}, "not supported change type"},
	    {{{{1024, 0, 0}, {8, 0, 0}}}, "ratio 0"},
	};
	for (auto &c : cases) {
		AeTables t(c.lines);
		ae_config cfg = t.config();
		ASSERT_EQ(ae_set_instance_num(1), 0);
		CaptureStdout();
		EXPECT_EQ(ae_create_instances(&cfg), -1);
		std::string out = GetCapturedStdout();
		EXPECT_NE(out.find(c.message), std::string::npos) << out;
		EXPECT_NE(out.find("init ae instance 0 fail"), std::string::npos) << out;
		ae_destroy_instances();
	}
}

TEST_F(AeUnit, SpeedLevelEightMovesByTheMinimumSteps)
{
	ae_instance *ae = one();
	ASSERT_EQ(ae->set_speed(ae, 8), 0);
	// luma -> the luma aimed at: +2 below the target, -4 above.
	const struct {
		uint32_t luma, next;
	} steps[] = {{20, 22}, {50, 52}, {200, 196}, {1000, 996}};
	for (const auto &s : steps) {
		double before = blocks_[0].expo[0].shutter;
		ASSERT_TRUE(frame(ae, s.luma)) << s.luma;
		EXPECT_NEAR(blocks_[0].expo[0].shutter, before * s.next / s.luma, 1.0) << s.luma;
	}
	CaptureStdout();
	EXPECT_EQ(ae->set_speed(ae, 9), -1);
	EXPECT_EQ(GetCapturedStdout(), "config fail, speed level should be 0-8!!!\n");
}

TEST_F(AeUnit, WithinToleranceTheInstanceIsStableAndSkipsTenFrames)
{
	ae_instance *ae = one();
	EXPECT_FALSE(frame(ae, 115));
	EXPECT_EQ(ae->get_state(ae), 1);
	for (int i = 0; i < 10; i++)
		EXPECT_FALSE(frame(ae, 20)) << i;
	EXPECT_TRUE(frame(ae, 20));
	EXPECT_EQ(ae->get_state(ae), 0);
	EXPECT_GT(blocks_[0].expo[0].shutter, 500u);
}

TEST_F(AeUnit, ATinyTargetDoesNotWrapTheAimedLuma)
{
	ae_instance *ae = one();
	ASSERT_EQ(ae->set_speed(ae, 8), 0);
	ASSERT_EQ(ae->set_target(ae, 1), 0);
	ASSERT_EQ(ae->set_tolerance(ae, 0), 0);
	// luma 2 - 4 would wrap to 65534 and ask for 32767 times the exposure.
	ASSERT_TRUE(frame(ae, 2));
	EXPECT_EQ(blocks_[0].expo[0].shutter, 250u);
	EXPECT_EQ(blocks_[0].expo[0].agc, 0u);
}

TEST_F(AeUnit, TheWalkCrossesFromShutterToAgcAndBack)
{
	ae_instance *ae = one({1000, 0, 0}, 0);
	ASSERT_EQ(ae->set_speed(ae, 7), 0);
	// Far too dark: the shutter line ends at 1024 and the walk moves on to
	// the AGC line at the same exposure.
	ASSERT_TRUE(frame(ae, 20));
	EXPECT_EQ(blocks_[0].expo[0].shutter, 1024u);
	EXPECT_EQ(blocks_[0].expo[0].agc, 0u);
	EXPECT_EQ(ae->get_cursor(ae), 2);
	ASSERT_TRUE(frame(ae, 20));
	EXPECT_EQ(blocks_[0].expo[0].shutter, 1024u);
	uint32_t agc = blocks_[0].expo[0].agc;
	EXPECT_GT(agc, 0u);
	// 20 -> 25 at level 7: the gain of the new index is 1.25 x within a step.
	EXPECT_NEAR(law_gain(agc) / 4096.0, 1.25, 1.25 * 0.011);
	// Far too bright: back down the AGC line to its start, then the shutter.
	for (int i = 0; i < 3 && blocks_[0].expo[0].agc != 0; i++)
		frame(ae, 2000);
	EXPECT_EQ(blocks_[0].expo[0].agc, 0u);
	frame(ae, 2000);
	EXPECT_LT(blocks_[0].expo[0].shutter, 1024u);
	EXPECT_EQ(ae->get_cursor(ae), 1);
}

// Near the iris table's top an exposure (1024 rows x 4096 x 8.5e9) times
// the ratio passes 64 bits: the digital gain must still come out near 1.0.
TEST_F(AeUnit, TheWalkOverAnIrisLineKeepsTheDigitalGainSane)
{
	AeTables iris({{{8, 0, 2000}, {1024, 0, 2000}}, {{1024, 0, 2000}, {1024, 0, AE_IRIS_MAX}}});
	ae_instance *ae = one({1024, 0, 2400}, 1, &iris);
	// 100 -> 102 at level 3: 3.7 iris steps of 10^(6 / 2560).
	ASSERT_TRUE(frame(ae, 100));
	const cl_aaa_exposure &e = blocks_[0].expo[0];
	EXPECT_EQ(e.iris_flag, 1u);
	EXPECT_EQ(e.iris, 2404u);
	EXPECT_EQ(e.shutter, 1024u);
	EXPECT_EQ(e.dgain_changed, 1u);
	double left = 1.02 / (double)ae_iris_factor(2404) * (double)ae_iris_factor(2400);
	EXPECT_NEAR(e.dgain, 4096 * left, 4096 * 0.002);

	// Bright: down the iris line to its start, then onto the shutter line.
	for (int i = 0; i < 40 && ae->get_cursor(ae) == 2; i++)
		frame(ae, 1000);
	EXPECT_EQ(ae->get_cursor(ae), 1);
	EXPECT_EQ(ae_get_point(ae).iris, 2000u);
	frame(ae, 1000);
	EXPECT_LT(ae_get_point(ae).shutter, 1024u);
}

TEST_F(AeUnit, MeteringModes)
{
	create({&tables_});
	ae_instance *ae = ae_get_instance(0);
	aaa_parse_result &r = st_->chan[0];
	struct Case {
		uint8_t mode;
		void (*fill)(aaa_parse_result &);
		uint16_t luma;
	} cases[] = {
	    {4, [](aaa_parse_result &p) { p.set.ae[0].cfa_luma = 3200; }, 200},
	    {5,
	     [](aaa_parse_result &p) {
		     p.set.ae[37].cfa_luma = 800;
		     p.set.ae[90].cfa_luma = 900;
	     },
	     50},
	    // Levels 650 (bin 10) x 3 and 4991 (bin 70): 6941 / 4 = 1735.
	    {7,
	     [](aaa_parse_result &p) {
		     p.prehist[0][1][10] = 3;
		     p.prehist[0][1][70] = 1;
	     },
	     1735 >> 4},
	    // 100 pixels, bins 46 and 54 of the count: bins 20 and 100.
	    {8,
	     [](aaa_parse_result &p) {
		     p.prehist[0][1][20] = 50;
		     p.prehist[0][1][100] = 50;
	     },
	     (21 * 64 + 37 * 256) / 32},
	};
	for (const Case &c : cases) {
		memset(&r, 0, sizeof r);
		r.ae_tiles = AAA_AE_TILES;
		uniform(&r, 4000);
		c.fill(r);
		uint8_t modes[1] = {c.mode};
		ASSERT_EQ(ae_set_metering_mode(modes, 1), 0);
		EXPECT_EQ(ae_luma_stat(ae, &r), c.luma) << (int)c.mode;
		EXPECT_EQ(ae->get_luma(ae), c.luma) << (int)c.mode;
	}
	// An empty pre-histogram repeats the previous mean.
	uint8_t mean[1] = {7};
	ASSERT_EQ(ae_set_metering_mode(mean, 1), 0);
	// Bins 20 and 100 of the last case: levels 1300 and 6400.
	EXPECT_EQ(ae_luma_stat(ae, &r), (1300 + 6400) / 2 >> 4);
	memset(r.prehist, 0, sizeof r.prehist);
	EXPECT_EQ(ae_luma_stat(ae, &r), (1300 + 6400) / 2 >> 4);
}

TEST_F(AeUnit, PeakDiscountedMeanForcesTargetAndTolerance)
{
	create({&tables_});
	ae_instance *ae = ae_get_instance(0);
	uint8_t mode[1] = {6};
	ASSERT_EQ(ae_set_metering_mode(mode, 1), 0);
	EXPECT_EQ(ae->get_target(ae), 128);
	aaa_parse_result &r = st_->chan[0];
	uint32_t *h = r.set.rgb_hist.bin[0];
	// Peaks at bins 10 (600, share 9830: k 94, W 8221) and 40 (300, share
	// 4915: k 14, W 14251); bin 20 is a third, lower peak.
	h[10] = 600;
	h[40] = 300;
	h[20] = 100;
	const uint64_t d1 = 600 * (16384 - 8221), d2 = 300 * (16384 - 14251);
	const uint64_t num = 16384ull * 4 * (11 * 600 + 21 * 100 + 41 * 300) - 4 * (d1 * 11 + d2 * 41);
	const uint64_t den = 16384ull * 1000 - d1 - d2;
	EXPECT_EQ(num / den, 97u);
	EXPECT_EQ(ae_luma_stat(ae, &r), 97);

	// No strict peak: the plain mean, 4 x (64 + 1) / 2.
	for (int b = 0; b < 64; b++)
		h[b] = 10;
	EXPECT_EQ(ae_luma_stat(ae, &r), 130);
	memset(h, 0, 64 * sizeof *h);
	EXPECT_EQ(ae_luma_stat(ae, &r), 0);

	mode[0] = 1;
	ASSERT_EQ(ae_set_metering_mode(mode, 1), 0);
	EXPECT_EQ(ae->get_target(ae), 110);
}

TEST_F(AeUnit, LumaWeightModes)
{
	create({&tables_});
	ae_instance *ae = ae_get_instance(0);
	uint8_t average[1] = {2};
	ASSERT_EQ(ae_set_metering_mode(average, 1), 0);
	aaa_parse_result &r = st_->chan[0];
	// Half the tiles at 512 (bin 2), half at 8192 (bin 32).
	for (uint32_t i = 0; i < AAA_AE_TILES; i++)
		r.set.ae[i] = aaa_ae_tile{i < 48 ? 512u : 8192u, i < 48 ? 512u : 8192u};
	const struct {
		uint8_t mode;
		uint32_t w_dark, w_bright;
	} cases[] = {
	    {0, 224, 2},
	    {64, (224 * 64 + 32 * 64) >> 7, (2 * 64 + 32 * 64) >> 7},
	    {128, 32, 32},
	    {255, 1, 32},
	};
	for (const auto &c : cases) {
		uint8_t m[1] = {c.mode};
		ASSERT_EQ(ae_set_weight_mode(m, 1), 0);
		uint32_t want = (c.w_dark * 512 + c.w_bright * 8192) / (c.w_dark + c.w_bright) >> 4;
		EXPECT_EQ(ae_luma_stat(ae, &r), want) << (int)c.mode;
		EXPECT_EQ(ae->get_rgb_luma(ae), want) << (int)c.mode;
	}
	// Tiles without pixels count for nothing; none at all gives none.
	for (auto &t : r.set.ae)
		t = aaa_ae_tile{AAA_LUMA_NONE, AAA_LUMA_NONE};
	EXPECT_EQ(ae_luma_stat(ae, &r), AE_LUMA_NONE);
}

TEST_F(AeUnit, ContainerCallsWithoutInstancesReturnAtOnce)
{
	ae_destroy_instances();
	uint16_t agc[AE_MAX_INSTANCES] = {7, 7, 7, 7, 7, 7, 7, 7};
	EXPECT_EQ(ae_get_agc_index(agc), -1);
	EXPECT_EQ(agc[0], 7);
	const uint16_t targets[8] = {50, 60, 70, 80, 90, 100, 110, 120};
	EXPECT_EQ(ae_set_target_from_filter(targets, 0), 0);
	EXPECT_EQ(ae_set_target_from_filter(targets, 3), 3);
	CaptureStdout();
	EXPECT_EQ(ae_set_instance_num(0), -1);
	EXPECT_EQ(ae_set_instance_num(9), -1);
	EXPECT_EQ(GetCapturedStdout(), "ae instances number 0 out of range 1 - 8\n"
	                               "ae instances number 9 out of range 1 - 8\n");
}

TEST_F(AeUnit, FilterTargetsByHdrMethod)
{
	const uint16_t targets[8] = {50, 60, 3, 80, 90, 100, 110, 120};
	struct {
		uint32_t expo_num, method;
		uint16_t want;
	} cases[] = {
	    {1, 0, 50},              // linear: its one exposure
	    {2, 2, 60},              // the last exposure
	    {3, 0, 6},               // at least 6
	    {1, 3, 90},              // methods 3, 4 and 8: entry 4
	    {2, 8, 90}, {1, 5, 110}, // others leave the target
	};
	for (const auto &c : cases) {
		channel_info info[AE_MAX_INSTANCES] = {};
		info[0].expo_num = c.expo_num;
		info[0].hdr_method = c.method;
		ASSERT_EQ(ae_set_channel_info(info), 0);
		create({&tables_});
		EXPECT_EQ(ae_set_target_from_filter(targets, 0), 0);
		EXPECT_EQ(ae_get_instance(0)->get_target(ae_get_instance(0)), c.want) << c.method;
		ae_destroy_instances();
	}
}

TEST_F(AeUnit, FollowersTakeTheirLeadersExposureAndAgc)
{
	AeTables second{shutter_then_agc()};
	channel_info info[AE_MAX_INSTANCES] = {};
	info[1].follow_chan = 0;
	ASSERT_EQ(ae_set_channel_info(info), 0);
	create({&tables_, &second});
	ae_instance *lead = ae_get_instance(0);
	const ae_point at{600, 0, 0};
	ASSERT_EQ(lead->start(lead, &at, 0, 110), 0);
	uniform(&st_->chan[0], 110 * 16);
	uniform(&st_->chan[1], 20 * 16);
	ASSERT_EQ(ae_run(st_.get(), blocks_), 0);
	EXPECT_EQ(blocks_[0].expo[0].shutter, 600u);
	EXPECT_EQ(memcmp(&blocks_[1].expo[0], &blocks_[0].expo[0], sizeof blocks_[0].expo[0]), 0);
	// The follower's own instance never ran.
	EXPECT_EQ(ae_get_instance(1)->get_state(ae_get_instance(1)), 2);
	uint16_t agc[AE_MAX_INSTANCES] = {};
	ASSERT_EQ(ae_get_agc_index(agc), 0);
	EXPECT_EQ(agc[1], agc[0]);
}

TEST_F(AeUnit, ValueSwitchCheckCyclesEveryTwentyFrames)
{
	create({&tables_});
	FILE *log = tmpfile();
	ASSERT_NE(log, nullptr);
	img_hdr_ae_check rec[4] = {};
	rec[0] = img_hdr_ae_check{1, 800, 100, 4096, log};
	ASSERT_EQ(img_hdr_set_ae_check(rec), 0);
	uniform(&st_->chan[0], 3000);
	std::vector<uint32_t> shutters;
	for (int f = 0; f < 40; f++) {
		ASSERT_EQ(ae_check_exposure(st_.get(), blocks_), 0);
		// The instance stays out of it meanwhile.
		blocks_[0].expo[0].shutter_changed = 0;
		ASSERT_EQ(ae_run(st_.get(), blocks_), 0);
		EXPECT_EQ(blocks_[0].expo[0].shutter_changed, 0u);
		shutters.push_back(blocks_[0].expo[0].shutter);
	}
	rewind(log);
	std::vector<std::string> lines;
	char buf[128];
	while (fgets(buf, sizeof buf, log))
		lines.push_back(buf);
	fclose(log);
	img_hdr_ae_check off[4] = {};
	img_hdr_set_ae_check(off);

	// Find the cycle's start: "A up..." then ten tile lumas, "B down..."
	// then ten more.
	size_t a = 0;
	while (a < lines.size() && lines[a] != "A up...\n")
		a++;
	ASSERT_LT(a + 21, lines.size());
	EXPECT_EQ(lines[a + 1], " 1\ttile luma\t   3000\n");
	EXPECT_EQ(lines[a + 11], "B down...\n");
	EXPECT_EQ(lines[a + 12], "11\ttile luma\t   3000\n");
	EXPECT_EQ(lines[a + 21], "20\ttile luma\t   3000\n");
	// Which frame was cycle frame 1: count the tile lines before it.
	size_t first = 0;
	for (size_t i = 0; i < a; i++)
		first += lines[i].find("tile luma") != std::string::npos;
	for (size_t k = 0; k < 20; k++)
		EXPECT_EQ(shutters[first + k], k < 10 ? 800u : 100u) << k;
}

TEST_F(AeUnit, ChecksOfBothKindsAreRefused)
{
	AeTables second{shutter_then_agc()};
	create({&tables_, &second});
	img_hdr_ae_check rec[4] = {};
	rec[0].mode = 1;
	rec[1].mode = 6;
	ASSERT_EQ(img_hdr_set_ae_check(rec), 0);
	CaptureStdout();
	EXPECT_EQ(ae_check_exposure(st_.get(), blocks_), -1);
	EXPECT_EQ(GetCapturedStdout(), "error, can't do continuous check and value switch check in different "
	                               "channels the same time.\n");
	img_hdr_ae_check off[4] = {};
	img_hdr_set_ae_check(off);
}

// Getters from another thread while the frame runs: the relaxed fields
// give whole values.
TEST_F(AeUnit, GettersWhileFramesRun)
{
	ae_instance *ae = one();
	std::atomic<bool> done{false};
	std::thread reader([&] {
		uint16_t v[AE_MAX_INSTANCES];
		uint8_t s[AE_MAX_INSTANCES];
		while (!done) {
			ae_get_luma(v);
			ae_get_agc_index(v);
			ae_get_state(s);
			ae_get_cursor(s);
		}
	});
	for (int i = 0; i < 200; i++)
		frame(ae, i % 2 ? 40 : 300);
	done = true;
	reader.join();
	EXPECT_NE(ae->get_state(ae), 2);
}

} // namespace

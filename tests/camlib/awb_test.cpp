/* White balance on parse results built here: zone matching, the
 * environment search, the grey worlds, calibration, warmth, the
 * convergence control, the per-frame run's paths and the store. */
#include "awb.h"
#include "awb_fixture.h"
#include "img_hdr_params.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The mode-0 fallback: a search that finds nothing shows it.
constexpr GainPoint kFallback{7000, 7000};
constexpr uint32_t kAll = 0xf;

class Awb : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		awb_destroy_instances();
		awb_set_debug_level(0);
		for (int c = 0; c < 4; c++) {
			*awb_get_chan_store(c) = awb_chan_store{};
			info_[c] = channel_info{};
			info_[c].follow_chan = (uint32_t)c;
			blocks_[c] = cl_aaa_block{};
			blocks_[c].wb_r_gain = blocks_[c].wb_g_gain = blocks_[c].wb_b_gain = 1024;
		}
		ASSERT_EQ(img_hdr_set_channel_info(info_), 0);
		set_preset(&t_, 0, kFallback);
		set_all_envs(&t_, 0, AWB_ZONES);
	}
	void TearDown() override
	{
		awb_destroy_instances();
		awb_set_debug_level(0);
	}
	void create(int count = 1)
	{
		ASSERT_EQ(awb_set_instance_count(count), 0);
		ASSERT_EQ(awb_set_channel_info(info_), 0);
		TuningBlocks tb(t_);
		ASSERT_EQ(awb_create_instances(tb.data()), 0);
	}
	awb_instance *inst(int c = 0)
	{
		return awb_get_instance(c);
	}
	awb_data *data(int c = 0)
	{
		return awb_get_instance(c)->data;
	}
	int run()
	{
		return awb_run_instances(po_.p.get(), blocks_);
	}
	GainPoint out(int c = 0) const
	{
		return GainPoint{(int32_t)blocks_[c].wb_r_gain, (int32_t)blocks_[c].wb_b_gain};
	}
	// Runs until the instance evaluates again.
	void evaluate()
	{
		data()->countdown = 0;
		ASSERT_EQ(run(), 0);
	}
	awb_tuning t_{};
	channel_info info_[4]{};
	cl_aaa_block blocks_[4]{};
	ParseOut po_;
};

// ---- zones -----------------------------------------------------------------

struct ZoneCase {
	const char *what;
	awb_zone zone[2];
	int index[2]; // where each zone goes; -1: not used
	uint8_t first, count;
	GainPoint tile;
	bool match;
};

awb_zone line_zone(int k, int16_t slope, int16_t offset)
{
	awb_zone z = box_zone(0, 4000, 0, 4000, 5);
	z.line[k] = {slope, offset};
	return z;
}

TEST_F(Awb, ZoneMatchTakesTheTileOnlyWhereNoNegativeZoneHoldsIt)
{
	const awb_zone holds = box_zone(900, 1100, 900, 1100, 5),
	               excludes = box_zone(950, 1050, 950, 1050, -1);
	const awb_zone far = box_zone(3000, 3100, 3000, 3100, -1),
	               ignored = box_zone(900, 1100, 900, 1100, 0);
	const ZoneCase cases[] = {
	    {"a positive zone", {holds}, {0, -1}, 0, 20, {1000, 1000}, true},
	    {"box edges are inside", {holds}, {0, -1}, 0, 20, {1100, 900}, true},
	    {"one past the box", {holds}, {0, -1}, 0, 20, {1101, 1000}, false},
	    {"weight 0 is ignored", {ignored}, {0, -1}, 0, 20, {1000, 1000}, false},
	    {"weight -1 after the positive zone", {holds, excludes}, {0, 1}, 0, 20, {1000, 1000}, false},
	    {"weight -1 before the positive zone", {excludes, holds}, {0, 1}, 0, 20, {1000, 1000}, false},
	    {"a negative zone elsewhere", {holds, far}, {0, 1}, 0, 20, {1000, 1000}, true},
	    {"a negative zone outside the range", {holds, excludes}, {0, 1}, 0, 1, {1000, 1000}, true},
	    // -1 x 1000 / 1024 truncates to 0: the edge is 500, not 499.
	    {"lower line, on the edge", {line_zone(0, -1, 500)}, {0, -1}, 0, 20, {1000, 500}, true},
	    {"lower line, one below", {line_zone(0, -1, 500)}, {0, -1}, 0, 20, {1000, 499}, false},
	    {"upper line, on the edge", {line_zone(1, 1, 500)}, {0, -1}, 0, 20, {1000, 500}, true},
	    {"upper line, one above", {line_zone(3, 1, 500)}, {0, -1}, 0, 20, {1000, 501}, false},
	    {"the zone lies past the range", {holds}, {5, -1}, 0, 5, {1000, 1000}, false},
	    {"a range past the 20 zones", {holds}, {11, -1}, 5, 200, {1000, 1000}, true},
	    {"zones past the 12th have no light weight", {holds}, {12, -1}, 5, 200, {1000, 1000}, false},
	};
	for (const ZoneCase &c : cases) {
		SCOPED_TRACE(c.what);
		t_ = awb_tuning{};
		set_preset(&t_, 0, kFallback);
		set_all_envs(&t_, c.first, c.count);
		for (int i = 0; i < 2; i++)
			if (c.index[i] >= 0)
				t_.zone[c.index[i]] = c.zone[i];
		create();
		po_.fill(tile_for((uint32_t)c.tile.r, (uint32_t)c.tile.b));
		ASSERT_EQ(run(), 0);
		EXPECT_EQ(out(), c.match ? c.tile : kFallback);
		EXPECT_EQ(blocks_[0].wb_update, 1);
		EXPECT_EQ(blocks_[0].wb_g_gain, 1024u);
		awb_destroy_instances();
	}
}

// Two tiles at (1000, 1000) that both zones hold, one at (2000, 2000) that
// only the wide zone holds: which zone takes the pair shows in the mean,
// each zone counting its light weight x mean tile weight x tiles squared.
TEST_F(Awb, TheFirstZoneOfTheHighestWeightTakesTheTile)
{
	struct {
		const char *what;
		int narrow_at, wide_at;
		int16_t narrow_weight;
		int32_t want;
	} cases[] = {
	    // narrow: 1000 x (5 x 5 x 4); wide: 2000 x (5 x 5 x 1)
	    {"equal weights, the narrow zone first", 0, 1, 5, (1000 * 100 + 2000 * 25) / 125},
	    // wide: (1000 x 5 x 2 + 2000 x 5) / 15 = 1333, alone
	    {"equal weights, the wide zone first", 1, 0, 5, 1333},
	    // narrow: 1000 x (6 x 5 x 4); wide: 2000 x (5 x 5 x 1)
	    {"the higher weight tested second", 1, 0, 6, (1000 * 120 + 2000 * 25) / 145},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		t_.zone[c.narrow_at] = box_zone(900, 1100, 900, 1100, c.narrow_weight);
		t_.zone[c.wide_at] = box_zone(900, 2100, 900, 2100, 5);
		create();
		po_.fill(aaa_awb_tile{});
		po_.chan().set.awb[0] = po_.chan().set.awb[1] = tile_for(1000, 1000);
		po_.chan().set.awb[7] = tile_for(2000, 2000);
		ASSERT_EQ(run(), 0);
		EXPECT_EQ(out(), (GainPoint{c.want, c.want}));
		awb_destroy_instances();
	}
}

TEST_F(Awb, TileWeightsAndBrightnessLeaveTilesOut)
{
	t_.zone[0] = box_zone(900, 2100, 900, 2100, 5);
	create();
	po_.fill(tile_for(1000, 1000));
	po_.chan().set.awb[0] = tile_for(2000, 2000, 0);  // brightness weight 0
	po_.chan().set.awb[1] = tile_for(2000, 2000, 63); // and at the top
	po_.chan().set.awb[2] = tile_for(2000, 2000, 64); // indices wrap at 64
	std::vector<uint8_t> w(AWB_TILES, 1);
	w[3] = 0;
	po_.chan().set.awb[3] = tile_for(2000, 2000);
	ASSERT_EQ(awb_set_tile_weights_by_mask(w.data(), 1), 0);
	ASSERT_EQ(inst()->set_tile_weights(inst(), w.data()), AWB_TILES);
	ASSERT_EQ(run(), 0);
	EXPECT_EQ(out(), (GainPoint{1000, 1000}));
}

// A tile count beyond the 1024 tiles there are counts as 1024: what lies
// after them is no tile.
TEST_F(Awb, ATileCountAboveTheTilesCountsAsAllTiles)
{
	t_.zone[0] = box_zone(900, 2100, 900, 2100, 5);
	create();
	po_.fill(tile_for(1000, 1000));
	const aaa_awb_tile other = tile_for(2000, 2000);
	uint8_t *past = (uint8_t *)po_.chan().set.ae;
	for (size_t at = 0; at + sizeof other <= 32768 - 28800; at += sizeof other)
		memcpy(past + at, &other, sizeof other);
	po_.chan().awb_tiles = 2000;
	ASSERT_EQ(run(), 0);
	EXPECT_EQ(out(), (GainPoint{1000, 1000}));
}

// ---- environments ------------------------------------------------------------

TEST_F(Awb, EnvironmentTwelveFallsThroughElevenAndZeroToTwo)
{
	const GainPoint x{1000, 1000}, y{2000, 2000};
	struct {
		const char *what;
		uint32_t env, mode;
		uint8_t ranges[3]; // the zone environments 11, 0 and 2 search
		uint8_t own;       // the zone of the fixed environment 5
		GainPoint want;
	} cases[] = {
	    {"eleven finds Y", 12, 0, {1, 2, 0}, 2, y},
	    {"eleven and zero find nothing, two finds X", 12, 0, {2, 2, 0}, 2, x},
	    {"zero comes before two", 12, 0, {2, 1, 0}, 2, y},
	    {"nothing anywhere", 12, 0, {2, 2, 2}, 2, kFallback},
	    {"a fixed environment searches only its own", 5, 0, {0, 0, 0}, 1, y},
	    {"a preset mode searches nothing", 12, 3, {0, 0, 0}, 0, {3000, 3000}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		t_.zone[0] = box_zone(900, 1100, 900, 1100, 5);
		t_.zone[1] = box_zone(1900, 2100, 1900, 2100, 5);
		t_.zone[2] = box_zone(3900, 4000, 3900, 4000, 5);
		set_preset(&t_, 3, {3000, 3000});
		const int envs[3] = {11, 0, 2};
		for (int i = 0; i < 3; i++) {
			t_.env[envs[i]][0] = c.ranges[i];
			t_.env[envs[i]][1] = 1;
		}
		t_.env[5][0] = c.own;
		t_.env[5][1] = 1;
		create();
		ASSERT_EQ(inst()->set_env(inst(), c.env), 0);
		ASSERT_EQ(inst()->set_mode(inst(), c.mode), 0);
		for (int i = 0; i < AWB_TILES; i++)
			po_.chan().set.awb[i] = i < 512 ? tile_for(1000, 1000) : tile_for(2000, 2000);
		ASSERT_EQ(run(), 0);
		EXPECT_EQ(out(), c.want);
		awb_destroy_instances();
	}
}

// ---- convergence -------------------------------------------------------------

// Presets T1 to T5 with jump thresholds A = 1066 and B = 600, and warmth
// thresholds W3 = 1120, W0 = 1180, W9 = 2200, W6 = 2400.
void locus_presets(awb_tuning *t)
{
	const GainPoint p[5] = {{1000, 3000}, {1300, 2400}, {1600, 2000}, {2000, 1600}, {2400, 1300}};
	for (int i = 0; i < 5; i++)
		set_preset(t, i + 1, p[i]);
}

TEST_F(Awb, ThresholdsComeFromThePresets)
{
	locus_presets(&t_);
	create();
	EXPECT_EQ(data()->jump_thr[0], 1066u);
	EXPECT_EQ(data()->jump_thr[1], 600u);
	const uint32_t want[12] = {1180, 1024, 2640, 1120, 1024, 2760, 2400, 1024, 1300, 2200, 1024, 1450};
	for (int i = 0; i < 12; i++)
		EXPECT_EQ(data()->warmth_thr[i], want[i]) << i;
}

struct ConvergeCase {
	const char *what;
	uint32_t speed;
	uint8_t weight, stable, fast, slow, startup;
	uint32_t step, last_change, last_distance, equal;
	GainPoint last, p, n;
	uint8_t want_weight;
	int16_t want_countdown;
	uint8_t want_stable;
	uint32_t want_step;
};

TEST_F(Awb, ConvergenceControlSetsWeightCountdownAndStable)
{
	locus_presets(&t_);
	create();
	const GainPoint at{1500, 2000};
	const ConvergeCase cases[] = {
	    {"speed 128, distance 0 after convergence", 128, 1, 1, 0, 0, 12, 0, 0, 0, 0, at, at, at, 1, 5, 1,
	     0},
	    {"speed 164, distance 0", 164, 1, 1, 0, 0, 12, 0, 0, 0, 0, at, at, at, 1, 0, 1, 0},
	    // slow approach: w = 2 s / 128 = 2, then + (2 s + 65) / 128 = 2
	    {"dr 30 on a converged instance",
	     128,
	     1,
	     1,
	     0,
	     0,
	     12,
	     0,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {1530, 2000},
	     4,
	     8,
	     0,
	     0},
	    {"converging: w at most dr and db grows by 3 s / 128",
	     128,
	     4,
	     0,
	     0,
	     1,
	     12,
	     0,
	     0,
	     0,
	     0,
	     {1520, 2020},
	     at,
	     {1520, 2020},
	     7,
	     5,
	     0,
	     0},
	    {"converging: a larger w grows by 16",
	     128,
	     25,
	     0,
	     0,
	     1,
	     12,
	     0,
	     0,
	     0,
	     0,
	     {1520, 2020},
	     at,
	     {1520, 2020},
	     41,
	     5,
	     0,
	     0},
	    {"converging at full weight is stable",
	     128,
	     128,
	     0,
	     0,
	     1,
	     12,
	     0,
	     0,
	     0,
	     0,
	     {1520, 2020},
	     at,
	     {1520, 2020},
	     128,
	     5,
	     1,
	     0},
	    {"a change above A starts fast",
	     128,
	     1,
	     0,
	     0,
	     0,
	     12,
	     0,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {2300, 1500},
	     4,
	     2,
	     0,
	     100},
	    {"a fast approach under way keeps its weight",
	     128,
	     9,
	     0,
	     1,
	     0,
	     12,
	     50,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {2300, 1500},
	     9,
	     2,
	     0,
	     0},
	    {"a change between B and A", 128, 1, 0, 0, 0, 12, 0, 0, 0, 0, at, at, {1900, 1700}, 3, 2, 0, 70},
	    {"a change between B / 2 and B",
	     128,
	     1,
	     0,
	     0,
	     0,
	     12,
	     0,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {1700, 1800},
	     2,
	     2,
	     0,
	     40},
	    {"the first run after creation",
	     128,
	     1,
	     0,
	     1,
	     0,
	     0,
	     0,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {2300, 1500},
	     32,
	     4,
	     0,
	     200},
	    // w = 4 as above, then 4 + (64 - 4) x (11 - 5) / 8
	    {"the sixth run after creation",
	     128,
	     1,
	     0,
	     0,
	     0,
	     5,
	     0,
	     0,
	     0,
	     0,
	     at,
	     at,
	     {1530, 2000},
	     49,
	     4,
	     0,
	     200},
	    // w = 2 x 164 / 128 = 2, + (328 + 65) / 128 = 3; 8 - 720 / 128
	    {"speed 164, a small step", 164, 1, 0, 0, 0, 12, 0, 0, 0, 0, at, at, {1530, 2000}, 5, 3, 0, 0},
	    // the eleventh unchanged distance adds 41 to the step: 141 > 120
	    {"a distance that stays",
	     128,
	     10,
	     0,
	     0,
	     1,
	     12,
	     100,
	     0,
	     30,
	     10,
	     {1530, 2000},
	     at,
	     {1530, 2000},
	     13,
	     8,
	     0,
	     100},
	};
	for (const ConvergeCase &c : cases) {
		SCOPED_TRACE(c.what);
		awb_data *d = data();
		d->speed = c.speed;
		d->weight = c.weight;
		d->stable = c.stable;
		d->fast = c.fast;
		d->slow = c.slow;
		d->startup = c.startup;
		d->step = c.step;
		d->last_change = c.last_change;
		d->last_distance = c.last_distance;
		d->equal_count = c.equal;
		d->reset_last = 0;
		d->last_gain[0] = (uint32_t)c.last.r;
		d->last_gain[2] = (uint32_t)c.last.b;
		const uint32_t p[3] = {(uint32_t)c.p.r, 1024, (uint32_t)c.p.b};
		uint32_t n[3] = {(uint32_t)c.n.r, 1024, (uint32_t)c.n.b};
		awb_converge(d, p, n);
		EXPECT_EQ(d->weight, c.want_weight);
		EXPECT_EQ(d->countdown, c.want_countdown);
		EXPECT_EQ(d->stable, c.want_stable);
		EXPECT_EQ(d->step, c.want_step);
		EXPECT_EQ(d->last_distance, absdiff(c.p, c.n));
	}
}

TEST_F(Awb, ResetLastStartsTheChangeFromTheOutput)
{
	locus_presets(&t_);
	create();
	awb_data *d = data();
	ASSERT_EQ(d->reset_last, 1);
	d->last_change = 0;
	const uint32_t p[3] = {1500, 1024, 2000};
	uint32_t n[3] = {1530, 1024, 2000};
	awb_converge(d, p, n);
	EXPECT_EQ(d->reset_last, 0);
	EXPECT_EQ(d->last_change, 30u);
	EXPECT_EQ(d->last_gain[0], 1530u);
}

TEST_F(Awb, WarmthScalesTheNewGainsByTheirRedGain)
{
	locus_presets(&t_);
	create();
	struct {
		const char *what;
		uint8_t scale[6];
		GainPoint n, want;
	} cases[] = {
	    {"scales 128 leave warm gains", {128, 128, 128, 128, 128, 128}, {1000, 3000}, {1000, 3000}},
	    {"scales 128 leave cold gains", {128, 128, 128, 128, 128, 128}, {2300, 1400}, {2300, 1400}},
	    {"a red scale of 64 halves red", {64, 128, 64, 128, 64, 128}, {1500, 2000}, {750, 2000}},
	    {"at or below W3 the low scales", {64, 128, 128, 64, 128, 128}, {1120, 2000}, {560, 2000}},
	    // midway from W3 = 1120 to W0 = 1180: 96 each
	    {"between W3 and W0", {64, 128, 128, 64, 128, 128}, {1150, 2000}, {1150 * 96 / 128, 1500}},
	    {"between W0 and W9 the middle scales", {64, 64, 128, 96, 64, 64}, {2200, 2000}, {2200, 1500}},
	    {"above W6 the high scales", {128, 128, 128, 128, 192, 32}, {2500, 1200}, {3750, 300}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		uint8_t block[8] = {0};
		memcpy(block, c.scale, 6);
		ASSERT_EQ(awb_set_warmth_channel(block, 0), 0);
		const uint32_t p[3] = {1024, 1024, 1024};
		uint32_t n[3] = {(uint32_t)c.n.r, 1024, (uint32_t)c.n.b};
		awb_converge(data(), p, n);
		EXPECT_EQ((GainPoint{(int32_t)n[0], (int32_t)n[2]}), c.want);
	}
}

// ---- the per-frame run ---------------------------------------------------------

class AwbRun : public Awb
{
      protected:
	void SetUp() override
	{
		Awb::SetUp();
		locus_presets(&t_);
		t_.zone[0] = box_zone(900, 2500, 900, 3100, 5);
	}
};

TEST_F(AwbRun, AStepMovesTheOutputByTheWeightAndWaitsTheCountdown)
{
	create();
	po_.fill(tile_for(1500, 2000));
	ASSERT_EQ(run(), 0);
	ASSERT_EQ(out(), (GainPoint{1500, 2000}));
	blocks_[0].wb_update = 0;
	po_.fill(tile_for(2300, 1500));
	ASSERT_EQ(run(), 0);
	// The first run after creation: weight 32, then four frames' wait.
	EXPECT_EQ(out(), (GainPoint{(96 * 1500 + 32 * 2300) / 128, (96 * 2000 + 32 * 1500) / 128}));
	EXPECT_EQ(blocks_[0].wb_update, 1);
	EXPECT_EQ(data()->countdown, 4);
	GainPoint before = out();
	for (int i = 0; i < 4; i++) {
		blocks_[0].wb_update = 0;
		ASSERT_EQ(run(), 0);
		EXPECT_EQ(out(), before);
		EXPECT_EQ(blocks_[0].wb_update, 0);
	}
	ASSERT_EQ(run(), 0);
	EXPECT_NE(out(), before);
}

TEST_F(AwbRun, APresetModeSendsItsGainsOnce)
{
	create();
	po_.fill(tile_for(1500, 2000));
	ASSERT_EQ(run(), 0);
	ASSERT_EQ(inst()->set_mode(inst(), 3), 0);
	EXPECT_EQ(data()->weight, 1);
	EXPECT_EQ(data()->reset_last, 1);
	blocks_[0].wb_update = 0;
	evaluate();
	EXPECT_EQ(out(), (GainPoint{1600, 2000}));
	EXPECT_EQ(blocks_[0].wb_update, 1);
	evaluate();
	EXPECT_EQ(blocks_[0].wb_update, 0);
	// The custom preset is taken as it is, the others through calibration.
	const uint32_t unit[6] = {1000, 1024, 2000, 2000, 1024, 1000};
	const uint32_t golden[6] = {1100, 1024, 2200, 2100, 1024, 1050};
	ASSERT_EQ(awb_set_calibration_by_mask(unit, golden, 1), 0);
	const uint32_t custom[3] = {1111, 1024, 2222};
	ASSERT_EQ(awb_set_custom_gain_by_mask(custom, 1), 0);
	const uint32_t ten = 10;
	ASSERT_EQ(awb_set_mode_by_mask(&ten, 1), 0);
	evaluate();
	EXPECT_EQ(out(), (GainPoint{1111, 2222}));
	const uint32_t three = 3;
	ASSERT_EQ(awb_set_mode_by_mask(&three, 1), 0);
	evaluate();
	// red: the factor interpolated at 1600; blue: at or above the low
	// reference, the low factor
	EXPECT_EQ(out(), (GainPoint{(1600 << 10) / ((600 * 1075 + 400 * 1126) / 1000), (2000 << 10) / 1126}));
}

TEST_F(AwbRun, PreloadGainsAreTheFirstOutput)
{
	struct {
		const char *what;
		GainPoint preload, want;
		const char *trace;
	} cases[] = {
	    {"both differ from 1.0", {1500, 2500}, {1500, 2500}, "[AWB]>>>preload wb config\n"},
	    {"red at 1.0: the search", {1024, 2500}, {1000, 1000}, ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		awb_set_pending_wb_gain(0, (uint32_t)c.preload.r, 1024, (uint32_t)c.preload.b);
		create();
		EXPECT_EQ(awb_get_chan_store(0)->pending, 0u);
		po_.fill(tile_for(1000, 1000));
		awb_set_debug_level(1);
		CaptureStdout();
		ASSERT_EQ(run(), 0);
		std::string got = GetCapturedStdout();
		awb_set_debug_level(0);
		EXPECT_EQ(out(), c.want);
		EXPECT_EQ(got, std::string(c.trace) + "[AWB]>>>first r_gain " + std::to_string(c.want.r) +
		                   ", b_gain " + std::to_string(c.want.b) + "\n");
		awb_destroy_instances();
	}
}

TEST_F(AwbRun, TraceLinesFollowEachStepWithTheDebugLevel)
{
	create();
	po_.fill(tile_for(1500, 2000));
	ASSERT_EQ(run(), 0);
	po_.fill(tile_for(2300, 1500));
	awb_set_debug_level(1);
	CaptureStdout();
	evaluate();
	std::string got = GetCapturedStdout();
	awb_set_debug_level(0);
	EXPECT_NE(got.find(",frame =0,method =0,mode =0,env =12,fail_remedy =0,speed =128\n"),
	          std::string::npos)
	    << got;
	EXPECT_NE(got.find("[AWB]>>>STEP1: r_gain =2300,b_gain =1500\n"
	                   "[AWB]>>>STEP2: r_gain =2300,b_gain =1500\n"
	                   "[AWB]>>>STEP3: r_gain =1700,b_gain =1875\n"),
	          std::string::npos)
	    << got;
	CaptureStdout();
	evaluate();
	EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(AwbRun, WithoutWhitePointsTheOutputStaysUntilTheFailRemedy)
{
	for (uint32_t remedy : {0u, 1u}) {
		SCOPED_TRACE(remedy);
		create();
		po_.fill(tile_for(1500, 2000));
		ASSERT_EQ(run(), 0);
		const uint32_t r[1] = {remedy};
		ASSERT_EQ(awb_set_fail_remedy_by_mask(r, 1), 0);
		po_.fill(tile_for(3500, 3500)); // in no zone
		for (int fail = 1; fail <= 30; fail++) {
			blocks_[0].wb_update = 0;
			evaluate();
			ASSERT_EQ(out(), (GainPoint{1500, 2000})) << fail;
			ASSERT_EQ(data()->countdown, 4);
		}
		evaluate();
		if (remedy) {
			EXPECT_EQ(blocks_[0].wb_update, 1);
			EXPECT_EQ(data()->last_gain[0], 1600u); // preset 3
			EXPECT_EQ(data()->last_gain[2], 2000u);
			EXPECT_EQ(data()->fail_count, 30);
		} else {
			EXPECT_EQ(out(), (GainPoint{1500, 2000}));
			EXPECT_EQ(blocks_[0].wb_update, 0);
		}
		po_.fill(tile_for(1500, 2000));
		evaluate();
		EXPECT_EQ(data()->fail_count, 0);
		awb_destroy_instances();
	}
}

TEST_F(AwbRun, CentreGreyWorldTakesTheMiddleTiles)
{
	create();
	po_.fill(tile_for(1500, 2000));
	ASSERT_EQ(run(), 0);
	const uint32_t one = AWB_METHOD_CENTRE_GREY;
	ASSERT_EQ(awb_set_method_by_mask(&one, 1), 0);
	po_.fill(aaa_awb_tile{5000, 5000, 5000, 32, {}});
	for (int row = 12; row < 20; row++)
		for (int col = 12; col < 20; col++)
			po_.chan().set.awb[row * 32 + col] = aaa_awb_tile{1000, 2000, 500, 32, {}};
	evaluate();
	EXPECT_EQ(out(), (GainPoint{2048, 4096}));
	EXPECT_EQ(blocks_[0].wb_update, 1);
	EXPECT_EQ(data()->countdown, 4);
	uint32_t grey[12];
	ASSERT_EQ(awb_get_gray_gain_all(grey), 0);
	EXPECT_EQ(grey[0], 2048u);
	EXPECT_EQ(grey[2], 4096u);

	po_.fill(aaa_awb_tile{});
	CaptureStdout();
	evaluate();
	EXPECT_EQ(GetCapturedStdout(), "Image is too dark. Can't get correct WB gain.\n");
	EXPECT_EQ(out(), (GainPoint{1024, 1024}));
}

TEST_F(AwbRun, WeightedGreyWorldCountsTheTilesOfTheLumaRange)
{
	struct {
		const char *what;
		aaa_awb_tile in, out;
		bool found;
		GainPoint want; // the new gains before convergence
	} cases[] = {
	    {"brightness 20 in, 60 out", {1000, 2000, 4000, 20, {}}, {1, 1, 1, 60, {}}, true, {2048, 512}},
	    {"brightness 14 in, 1 out", {1000, 2000, 4000, 14, {}}, {1, 1, 1, 1, {}}, true, {2048, 512}},
	    {"a dark red keeps the output", {0, 2000, 4000, 20, {}}, {1, 1, 1, 60, {}}, true, {1500, 2000}},
	    {"no tile in the range", {1000, 2000, 4000, 1, {}}, {1, 1, 1, 60, {}}, false, {0, 0}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		create();
		po_.fill(tile_for(1500, 2000));
		ASSERT_EQ(run(), 0);
		const uint32_t two = AWB_METHOD_WEIGHTED_GREY;
		ASSERT_EQ(awb_set_method_by_mask(&two, 1), 0);
		for (int i = 0; i < AWB_TILES; i++)
			po_.chan().set.awb[i] = i % 3 ? c.in : c.out;
		blocks_[0].wb_update = 0;
		evaluate();
		if (c.found) {
			EXPECT_EQ(data()->last_gain[0], (uint32_t)c.want.r);
			EXPECT_EQ(data()->last_gain[2], (uint32_t)c.want.b);
		} else {
			EXPECT_EQ(blocks_[0].wb_update, 0);
			EXPECT_EQ(data()->countdown, 4);
		}
		awb_destroy_instances();
	}
}

// ---- calibration -------------------------------------------------------------

TEST_F(AwbRun, CalibrationFactorsMapTheUnitToTheGoldenUnit)
{
	create();
	const uint32_t unit[6] = {1000, 1024, 2000, 2000, 1024, 1000};
	const uint32_t golden[6] = {1100, 1024, 2200, 2100, 1024, 1050};
	ASSERT_EQ(awb_set_calibration_by_mask(unit, golden, 1), 0);
	EXPECT_EQ(data()->calib_factor[0][0], 1126u);
	EXPECT_EQ(data()->calib_factor[0][2], 1126u);
	EXPECT_EQ(data()->calib_factor[1][0], 1075u);
	EXPECT_EQ(data()->calib_factor[1][2], 1075u);
	struct {
		const char *what;
		uint32_t in[3], direction, want[3];
	} cases[] = {
	    {"below the low red, above the low blue",
	     {800, 1, 3000},
	     0,
	     {800 * 1126 >> 10, 1024, 3000 * 1126 >> 10}},
	    // 1100 midway in r from 1126 to 1075 and in b from 1075 to 1126
	    {"midway in r and b", {1500, 1024, 1500}, 0, {1500 * 1100 >> 10, 1024, 1500 * 1100 >> 10}},
	    {"midway, dividing", {1500, 1024, 1500}, 1, {(1500 << 10) / 1100, 1024, (1500 << 10) / 1100}},
	    {"above the high red, below the high blue",
	     {2500, 1024, 800},
	     0,
	     {2500 * 1075 >> 10, 1024, 800 * 1075 >> 10}},
	    {"a direction that is neither", {2500, 7, 800}, 2, {2500, 7, 800}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		uint32_t g[3] = {c.in[0], c.in[1], c.in[2]};
		awb_calib_correct_all(g, &c.direction);
		EXPECT_EQ(g[0], c.want[0]);
		EXPECT_EQ(g[1], c.want[1]);
		EXPECT_EQ(g[2], c.want[2]);
	}
}

TEST_F(AwbRun, UnsuitableCalibrationFallsBackToUnity)
{
	create();
	struct {
		const char *what;
		uint32_t unit[6], golden[6];
		const char *msg;
	} cases[] = {
	    {"a zero reference",
	     {1000, 1024, 2000, 2000, 1024, 1000},
	     {1100, 0, 2200, 2100, 1024, 1050},
	     "------ AWB calibration value invalid   ( 0 )------\n"},
	    {"red beyond its tolerance of 300",
	     {1000, 1024, 2000, 2000, 1024, 1000},
	     {1301, 1024, 2000, 2000, 1024, 1000},
	     "------ AWB calibration value invalid  ( unsuitable for calibration threshold ) ------\n"},
	    {"high blue beyond its tolerance of 500",
	     {1000, 1024, 2000, 2000, 1024, 1000},
	     {1000, 1024, 2000, 2000, 1024, 1501},
	     "------ AWB calibration value invalid  ( unsuitable for calibration threshold ) ------\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		const uint32_t good_unit[6] = {1000, 1024, 2000, 2000, 1024, 1000};
		const uint32_t good_golden[6] = {1100, 1024, 2200, 2100, 1024, 1050};
		ASSERT_EQ(awb_set_calibration_by_mask(good_unit, good_golden, 1), 0);
		CaptureStdout();
		ASSERT_EQ(awb_set_calibration_by_mask(c.unit, c.golden, 1), 0);
		EXPECT_EQ(GetCapturedStdout(), c.msg);
		for (const auto &f : data()->calib_factor)
			EXPECT_TRUE(f[0] == 1024 && f[1] == 1024 && f[2] == 1024);
	}

	const uint16_t thresholds[2] = {601, 100};
	CaptureStdout();
	EXPECT_EQ(awb_set_calib_threshold_by_mask(thresholds, 1), -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "error: WB calibration threshold is not suggested to go beyond [0, 600]\n");
	EXPECT_EQ(data()->calib_thr[0], 300);
	EXPECT_EQ(data()->calib_thr[1], 500);
	const uint16_t wide[2] = {600, 600};
	EXPECT_EQ(awb_set_calib_threshold_by_mask(wide, 1), 0);
	EXPECT_EQ(data()->calib_thr[1], 600);
}

// ---- the store ---------------------------------------------------------------

TEST_F(Awb, CreatedInstancesStartFromTheirDefaults)
{
	create(2);
	for (int c = 0; c < 2; c++) {
		SCOPED_TRACE(c);
		const awb_data *d = data(c);
		EXPECT_STREQ(d->name, ("awb_gain_" + std::to_string(c)).c_str());
		EXPECT_EQ(d->env_mode, 12u);
		EXPECT_EQ(d->speed, 128u);
		EXPECT_EQ(d->first_run, 1);
		EXPECT_EQ(d->luma_range[0], 2);
		EXPECT_EQ(d->luma_range[1], 56);
		EXPECT_EQ(d->last_distance, 120000u);
		EXPECT_EQ(d->tile_weight[1023], 1);
		EXPECT_EQ(d->preset[0][0], (uint32_t)kFallback.r);
		EXPECT_EQ(awb_get_chan_store(c)->enable, 1u);
	}
	uint32_t enables[4] = {9, 9, 9, 9};
	ASSERT_EQ(awb_get_enables(enables), 0);
	EXPECT_EQ(enables[1], 1u);
	EXPECT_EQ(enables[2], 9u);

	// Zone light weights: the low byte of zones 1 to 12, none after.
	t_.zone[3].weight = 0x1234;
	t_.zone[12].weight = 7;
	awb_destroy_instances();
	create();
	EXPECT_EQ(data()->light_weight[3], 0x34);
	EXPECT_EQ(data()->light_weight[12], 0);

	// Without tuning the defaults stay, zones empty.
	awb_destroy_instances();
	CaptureStdout();
	ASSERT_EQ(awb_create_instances(nullptr), 0);
	EXPECT_EQ(GetCapturedStdout(), "init awb instance 0 fail\n");
	EXPECT_EQ(data()->speed, 128u);
	EXPECT_EQ(data()->zone[0].weight, 0);
}

TEST_F(Awb, CountsTheStoreHasNoRoomForAreRefused)
{
	uint32_t v[8] = {0};
	uint8_t speeds[8] = {0};
	for (int count : {5, 8}) {
		SCOPED_TRACE(count);
		ASSERT_EQ(awb_set_instance_count(count), 0);
		CaptureStdout();
		EXPECT_EQ(awb_create_instances(TuningBlocks(t_).data()), -1);
		EXPECT_EQ(GetCapturedStdout(), "instances number should be less than 4\n");
		EXPECT_EQ(run(), -1);
		EXPECT_EQ(awb_set_speed_by_mask(speeds, 0xff), -1);
		EXPECT_EQ(awb_get_mode_all(v), -1);
		EXPECT_EQ(awb_set_channel_info(info_), 0); // copies the four there are
	}
	CaptureStdout();
	EXPECT_EQ(awb_set_instance_count(9), -1);
	EXPECT_EQ(GetCapturedStdout(), "awb instances number 8 out of range 1 - 8\n");
	EXPECT_EQ(awb_get_instance_count(), 8);

	ASSERT_EQ(awb_set_instance_count(0), 0);
	EXPECT_EQ(awb_create_instances(TuningBlocks(t_).data()), -1);
	EXPECT_EQ(awb_get_env_all(v), -1);
	ASSERT_EQ(awb_set_instance_count(2), 0);
	EXPECT_EQ(awb_get_env_all(v), -1); // no instances yet
	EXPECT_EQ(awb_destroy_instances(), -1);
}

TEST_F(Awb, SettersReachTheChannelsOfTheMaskAndRefuseBadValues)
{
	create(3);
	const uint32_t methods[3] = {1, 2, 2};
	ASSERT_EQ(awb_set_method_by_mask(methods, 0x6), 0);
	uint32_t got[4] = {9, 9, 9, 9};
	ASSERT_EQ(awb_get_method_all(got), 0);
	EXPECT_EQ(got[0], 0u);
	EXPECT_EQ(got[1], 2u);
	EXPECT_EQ(got[2], 2u);
	EXPECT_EQ(got[3], 9u);

	const uint8_t speeds[3] = {164, 164, 190};
	ASSERT_EQ(awb_set_speed_by_mask(speeds, kAll), 0);
	EXPECT_EQ(data(2)->speed, 190u);

	const uint32_t envs[3] = {13, 3, 12};
	CaptureStdout();
	EXPECT_EQ(awb_set_env_by_mask(envs, kAll), -1);
	EXPECT_EQ(GetCapturedStdout(), "invalid awb envirnment mode.\n");
	ASSERT_EQ(awb_get_env_all(got), 0);
	EXPECT_EQ(got[0], 12u);
	EXPECT_EQ(got[1], 3u);

	const uint32_t modes[3] = {12, 11, 0};
	CaptureStdout();
	EXPECT_EQ(awb_set_mode_by_mask(modes, kAll), -1);
	EXPECT_EQ(GetCapturedStdout(), "invalid awb mode.\n");
	ASSERT_EQ(awb_get_mode_all(got), 0);
	EXPECT_EQ(got[0], 0u);
	EXPECT_EQ(got[1], 11u);

	// A channel's high references follow the count's triples after its
	// low ones.
	uint32_t unit[18], golden[18];
	for (int i = 0; i < 18; i++)
		unit[i] = golden[i] = 1000 + (uint32_t)i;
	ASSERT_EQ(awb_set_calibration_by_mask(unit, golden, 0x2), 0);
	EXPECT_EQ(data(1)->calib_ref[0][0], 1003u);
	EXPECT_EQ(data(1)->calib_ref[1][0], 1012u);

	uint8_t warm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
	ASSERT_EQ(awb_set_warmth_channel(warm, 2), 0);
	EXPECT_EQ(data(2)->warmth_scale[5], 6);
	EXPECT_EQ(data(2)->warmth_spare[1], 8);
	EXPECT_EQ(data(1)->warmth_scale[5], 128);
	CaptureStdout();
	EXPECT_EQ(awb_set_warmth_channel(warm, 4), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [4].\n");
	EXPECT_EQ(awb_set_warmth_channel(nullptr, 0), -1);

	uint32_t enables[3] = {0, 0, 0};
	ASSERT_EQ(awb_set_enables(enables, 0x1), 0);
	ASSERT_EQ(awb_get_enables(got), 0);
	EXPECT_EQ(got[0], 0u);
	EXPECT_EQ(got[1], 1u);

	EXPECT_EQ(awb_set_method_by_mask(nullptr, kAll), -1);
	EXPECT_EQ(awb_get_gray_gain_all(nullptr), -1);
	EXPECT_EQ(awb_calib_correct_all(got, nullptr), -1);
	EXPECT_EQ(awb_set_enables(nullptr, kAll), -1);
	EXPECT_EQ(awb_set_channel_info(nullptr), -1);
	EXPECT_EQ(awb_run_instances(nullptr, blocks_), -1);
	EXPECT_EQ(awb_run_instances(po_.p.get(), nullptr), -1);
	EXPECT_EQ(awb_check_flow_num(1), 0);
	CaptureStdout();
	EXPECT_EQ(awb_check_flow_num(0), -1);
	EXPECT_EQ(GetCapturedStdout(), "Error: awb_flow_vin_num =0\n");
}

TEST_F(Awb, OnlyEnabledChannelsWithValidRawStatisticsRun)
{
	t_.zone[0] = box_zone(900, 2100, 900, 2100, 5);
	struct {
		const char *what;
		uint32_t yuv, enable, valid;
		bool runs;
	} cases[] = {
	    {"all set", 0, 1, 1, true},
	    {"a YUV input", 1, 1, 1, false},
	    {"disabled", 0, 0, 1, false},
	    {"statistics not valid", 0, 1, 0, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		info_[0].yuv = c.yuv;
		create();
		ASSERT_EQ(awb_set_enables(&c.enable, 1), 0);
		po_.fill(tile_for(1000, 1000));
		po_.p->valid[0] = c.valid;
		blocks_[0].wb_update = 7;
		ASSERT_EQ(run(), 0);
		EXPECT_EQ(blocks_[0].wb_update, c.runs ? 1 : 7);
		awb_destroy_instances();
	}
}

TEST_F(Awb, AChannelTakesTheResultOfTheChannelItFollows)
{
	t_.zone[0] = box_zone(900, 2100, 900, 2100, 5);
	info_[1].follow_chan = 0x100; // only the low byte names the channel
	info_[2].follow_chan = 3;     // no white balance runs there
	create(3);
	po_.fill(tile_for(1000, 1000), 0);
	po_.fill(tile_for(2000, 2000), 1);
	po_.fill(tile_for(1500, 1500), 2);
	memset(blocks_[0].wb_extra, 0x5a, sizeof blocks_[0].wb_extra);
	CaptureStdout();
	ASSERT_EQ(run(), 0);
	ASSERT_EQ(run(), 0);
	EXPECT_EQ(GetCapturedStdout(),
	          "awb: channel 2 follows channel 3, which has no white balance; it keeps its own\n");
	EXPECT_EQ(memcmp((uint8_t *)&blocks_[1] + 128, (uint8_t *)&blocks_[0] + 128, 28), 0);
	EXPECT_EQ(out(2), (GainPoint{1500, 1500}));
	uint32_t g[3];
	ASSERT_EQ(awb_get_current_gains(1, g), 0);
	EXPECT_EQ(g[0], 1000u);
	awb_set_pending_wb_gain(1, 1200, 1024, 900);
	ASSERT_EQ(awb_get_current_gains(1, g), 0);
	EXPECT_EQ(g[0], 1200u);
	EXPECT_EQ(awb_get_current_gains(3, g), 0);
	EXPECT_EQ(awb_get_current_gains(4, g), -1);
}

} // namespace

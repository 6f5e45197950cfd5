// The tone curve, local exposure and contrast enhancement of dynamic image
// control, against values worked from their formulas here.

#include <random>

#include "dic_fixture.h"

namespace
{

// The base shape of a linear stream at gain 0 dB (low point 0, high point
// 64, gamma 1, mid band 57.6..70.4), in double precision.
double base_shape(int x)
{
	double gamma = 1.0, h = 64.0, b0 = 57.6, b1 = 70.4;
	auto P = [&](double v) { return 256.0 * pow(v / 64.0, gamma); };
	double k = (1023.0 - P(16)) / (4 * h - 16), c = P(16) - 16 * k;
	double x950 = (950.0 - c) / k;
	if (x > (int)x950)
		return x == 255 ? 1023.0 : 950.0 + (x - x950) * 73.0 / (256.0 - x950);
	double w = std::min(std::max(1.0 - (x - b0) / (b1 - b0), 0.0), 1.0);
	return w * P(x) + (1 - w) * (k * x + c);
}

std::vector<uint16_t> curve_of(const fake_call &c)
{
	std::vector<uint16_t> out(256);
	memcpy(out.data(), c.bytes.data(), 512);
	return out;
}

const dic_keys tone_keys = {{"tc_gain_map", "0,48"},      {"tc_alpha_mid", "0.5,0.5"},
                            {"tc_alpha_low", "0.3,0.3"},  {"tc_alpha_high", "0.3,0.3"},
                            {"tc_max_change", "0.2,0.2"}, {"tc_max_grad", "12,12"},
                            {"tc_frame_skip", "1"}};

class DicToneTest : public DicTest
{
      protected:
	void histogram(unsigned seed)
	{
		std::mt19937 rng(seed);
		double total = 0;
		for (int i = 0; i < 64; i++) {
			stats_.rgb_hist[i] = rng() % 100;
			stats_.cfa_hist[i] = rng() % 100;
			total += stats_.rgb_hist[i];
		}
		stats_.rgb.total = total;
	}
	void contrast(int value)
	{
		ASSERT_EQ(0, param_set_int(DIC_PARAM_CONTRAST, 0, value));
	}
};

TEST_F(DicToneTest, FirstRunSendsTheBaseShapeAndContrastPicksTheTables)
{
	const int high_knots[] = {0, 12, 34, 126, 519, 892, 981, 1007};
	const int low_knots[] = {1, 346, 453, 488, 516, 549, 597, 747};
	for (int c : {50, 100, 0}) {
		SCOPED_TRACE(c);
		TearDown();
		SetUp();
		make(tone_keys);
		contrast(c);
		histogram(1);
		auto sent = find(run(), "set_tone_curve");
		ASSERT_NE(nullptr, sent);
		auto curve = curve_of(*sent);
		const int *knots = c == 100 ? high_knots : low_knots;
		for (int x = 0; x < 256; x++) {
			if (c == 50) {
				ASSERT_NEAR(curve[x], base_shape(x), 1.0) << x;
			} else if (x % 32 == 0) {
				ASSERT_EQ(curve[x], knots[x / 32]) << x;
			}
		}
		EXPECT_EQ(curve[255], 1023);
	}
}

TEST_F(DicToneTest, LaterCurvesRiseWithinTheirGradient)
{
	make(tone_keys);
	for (int round = 0; round < 12; round++) {
		histogram(round + 5);
		auto sent = find(run(), "set_tone_curve");
		ASSERT_NE(nullptr, sent) << round;
		if (round == 0)
			continue;
		auto curve = curve_of(*sent);
		for (int x = 1; x < 256; x++) {
			if (curve[x - 1] < 1023) {
				ASSERT_GE(curve[x], curve[x - 1] + 1) << "round " << round << " entry " << x;
			}
			ASSERT_LE(curve[x], curve[x - 1] + 12) << "round " << round << " entry " << x;
		}
		ASSERT_EQ(curve[255], 1023);
	}
	// A linear stream keeps its low and high point.
	EXPECT_DOUBLE_EQ(st_->tc_low_point, 0.0);
	EXPECT_DOUBLE_EQ(st_->tc_high_point, 64.0);
}

TEST_F(DicToneTest, EntryAboveTheRangeIsReportedAndCapped)
{
	std::string base;
	for (int i = 0; i < 256; i++)
		base += (i ? "," : "") + std::string("2000");
	dic_keys keys = tone_keys;
	keys.push_back({"tc_base_curve", base});
	make(keys);
	auto sent = find(run(), "set_tone_curve");
	ASSERT_NE(nullptr, sent);
	EXPECT_EQ(curve_of(*sent)[0], 1023);
	EXPECT_NE(log_.text(DEBUG_WARNING).find("tc value at #0 is too big (2000)\n"), std::string::npos);
}

TEST_F(DicToneTest, UpdatesEveryFrameSkipRecords)
{
	dic_keys keys = tone_keys;
	keys.back().second = "4";
	make(keys);
	std::vector<int> sent;
	for (int i = 0; i < 9; i++)
		sent.push_back((int)count(run(), "set_tone_curve"));
	EXPECT_EQ(sent, (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST_F(DicToneTest, SettledCurveResumesOnAMoveOrAContrastChange)
{
	make(tone_keys);
	histogram(3);
	stats_.rgb.mid_share_avg = 40.0;
	stats_.rgb.low_share_avg = 20.0;
	int i = 0;
	while (!st_->tc_stable && i++ < 40)
		run();
	ASSERT_TRUE(st_->tc_stable);
	for (int k = 0; k < 5; k++)
		EXPECT_EQ(count(run(), "set_tone_curve"), 0u);
	stats_.rgb.mid_share_avg = 41.0; // a move of 1.0 is not enough
	EXPECT_EQ(count(run(), "set_tone_curve"), 0u);
	stats_.rgb.low_share_avg = 21.5;
	EXPECT_EQ(count(run(), "set_tone_curve"), 1u);
	while (!st_->tc_stable && i++ < 80)
		run();
	ASSERT_TRUE(st_->tc_stable);
	contrast(60);
	EXPECT_EQ(count(run(), "set_tone_curve"), 1u);
}

TEST_F(DicToneTest, GlobalCurveWithoutBaseCurveChangesNothing)
{
	std::vector<std::vector<uint16_t>> curves;
	for (const char *global : {"0", "1"}) {
		TearDown();
		SetUp();
		dic_keys keys = tone_keys;
		keys.push_back({"enable_global_tc", global});
		make(keys);
		histogram(9);
		run();
		histogram(10);
		curves.push_back(curve_of(*find(run(), "set_tone_curve")));
	}
	EXPECT_EQ(curves[0], curves[1]);
}

const dic_keys le_keys = {
    {"le_map_gain", "0,48"}, {"le_map_max_strength", "100,100"}, {"le_frame_skip", "1"}, {"le_smooth", "0"}};

TEST_F(DicTest, LocalExposureWithoutListsSendsNothing)
{
	make({{"le_frame_skip", "1"}});
	stats_.rgb.low_share_avg = 80.0;
	for (int i = 0; i < 5; i++)
		EXPECT_EQ(count(run(), "set_local_exposure"), 0u);
	int32_t v = -1;
	EXPECT_NE(0, info_pool_get_imfix(DIC_INFO_LE_APPLIED, 0, &v));
}

TEST_F(DicTest, LocalExposureMovesAtMostTwentyAndWalksBackToFlat)
{
	make(le_keys);
	stats_.rgb.low_share_avg = 90.0;
	stats_.rgb.mid_share_avg = 40.0;
	stats_.rgb.low_mean = 50.0; // no low deficit
	std::vector<int32_t> applied;
	for (int i = 0; i < 6; i++) {
		auto le = find(run(), "set_local_exposure");
		ASSERT_NE(nullptr, le) << i;
		EXPECT_EQ(le->as<uint32_t>(0), 1u);
		EXPECT_EQ(le->as<uint32_t>(1), 3u);
		EXPECT_EQ(le->as<uint32_t>(2), 16u);
		EXPECT_EQ(le->as<uint32_t>(5), 5u);
		applied.push_back(st_->le_applied);
	}
	EXPECT_EQ(applied, (std::vector<int32_t>{20, 40, 60, 80, 100, 120}));
	int32_t pooled = 0;
	ASSERT_EQ(0, info_pool_get_imfix(DIC_INFO_LE_APPLIED, 0, &pooled));
	EXPECT_EQ(pooled, 120 * 16384);

	// The strength falls to 0: down 20 an update, toward a flat curve, until
	// the target is within 20.
	settings_->le_map_max_strength.v[0] = settings_->le_map_max_strength.v[1] = 0;
	std::unique_ptr<fake_call> last;
	for (int i = 0; i < 5; i++) {
		last = find(run(), "set_local_exposure");
		ASSERT_NE(nullptr, last) << i << " applied " << st_->le_applied;
		EXPECT_EQ(st_->le_applied, 100 - 20 * i);
	}
	for (int k = 0; k < 256; k++) {
		ASSERT_GE(last->as<uint32_t>(6 + k), 1024u) << k;
		ASSERT_LE(last->as<uint32_t>(6 + k), 1044u) << k;
	}
	EXPECT_EQ(count(run(), "set_local_exposure"), 0u); // within 20 of the target: stable
	EXPECT_TRUE(st_->le_stable);
}

const dic_keys ce_keys = {{"ce_ratio_map", "1,64"},         {"ce_rgb_low_limit", "30,30"},
                          {"ce_rgb_mid_limit", "40,40"},    {"ce_rgb_high_limit", "40,40"},
                          {"ce_rgb_weight_limit", "50,50"}, {"ce_frame_skip", "1"}};

class DicCeTest : public DicTest
{
      protected:
	void start(dic_keys keys, uint32_t strength)
	{
		reinterpret_cast<dic_ce_record *>(fake_cl.ce)->coring_gain_low_strength = strength;
		make(keys, 1);
		fake_cl.sg.shutter[0] = 400;
		fake_cl.sg.shutter[1] = 100;
	}
	void well_inside()
	{
		stats_.rgb.high_share_avg = 5;
		stats_.rgb.high_share = 5;
		stats_.rgb.low_share_avg = 5;
		stats_.rgb.mid_share_avg = 10;
		stats_.rgb.weight_avg = 20;
	}
	void above()
	{
		stats_.rgb.high_share_avg = 60;
		stats_.rgb.low_share_avg = 5;
	}
	// The strengths sent by the next n records (0: none sent).
	std::vector<uint32_t> strengths(int n)
	{
		std::vector<uint32_t> out;
		for (int i = 0; i < n; i++) {
			auto ce = find(run(), "set_ce_config");
			out.push_back(ce ? reinterpret_cast<const dic_ce_record *>(ce->bytes.data())
			                       ->coring_gain_low_strength
			                 : 0);
		}
		return out;
	}
};

TEST_F(DicCeTest, StrengthStepsByOneWithinItsRange)
{
	start(ce_keys, 60);
	well_inside();
	EXPECT_EQ(strengths(3), (std::vector<uint32_t>{61, 62, 63}));
	auto sent = find(fake_cl.calls, "set_ce_config");
	ASSERT_NE(nullptr, sent);
	auto ce = reinterpret_cast<const dic_ce_record *>(sent->bytes.data());
	EXPECT_EQ(ce->enable, 1u);
	EXPECT_EQ(ce->low_pass_radius, 25u);
	EXPECT_EQ(ce->coring_index_shift, 6u);
	EXPECT_EQ(ce->coring_gain_shift, 12u);
	EXPECT_EQ(ce->coring_gain_low, 60u);
	EXPECT_EQ(ce->coring_gain_high, 160u);
	EXPECT_EQ(ce->coring_gain_low_delta, 3u);
	EXPECT_EQ(ce->coring_gain_high_delta, 4u);
	EXPECT_EQ(ce->coring_gain_mid_strength, 63u);
	above();
	EXPECT_EQ(strengths(2), (std::vector<uint32_t>{62, 61}));

	// At the range's ends.
	TearDown();
	SetUp();
	start(ce_keys, 119);
	well_inside();
	EXPECT_EQ(strengths(3), (std::vector<uint32_t>{120, 0, 0}));
	TearDown();
	SetUp();
	start(ce_keys, 6);
	above();
	EXPECT_EQ(strengths(3), (std::vector<uint32_t>{5, 0, 0}));
}

TEST_F(DicCeTest, StrengthZeroGoesAsOneAndAboveRangeAs255)
{
	dic_keys keys = ce_keys;
	keys.push_back({"ce_range", "0,300"});
	start(keys, 2);
	above();
	EXPECT_EQ(strengths(2), (std::vector<uint32_t>{1, 1}));
	TearDown();
	SetUp();
	start(keys, 299);
	well_inside();
	EXPECT_EQ(strengths(1), (std::vector<uint32_t>{255}));
}

TEST_F(DicCeTest, MissingLimitMapsSwitchItOffForGood)
{
	start({{"ce_ratio_map", "1,64"}, {"ce_frame_skip", "1"}}, 60);
	for (int i = 0; i < 4; i++) {
		auto calls = run();
		EXPECT_EQ(count(calls, "get_ce_config") + count(calls, "set_ce_config"), 0u);
	}
	std::string text = log_.text(DEBUG_WARNING);
	size_t first = text.find("YAML file not configured for dynamic CE!");
	ASSERT_NE(first, std::string::npos);
	EXPECT_EQ(text.find("YAML file not configured for dynamic CE!", first + 1), std::string::npos);
}

TEST_F(DicCeTest, HeldExposureKeepsTheAppliedStrength)
{
	start(ce_keys, 60);
	well_inside();
	EXPECT_EQ(strengths(2), (std::vector<uint32_t>{61, 62}));
	fake_cl.state.hold_ae = 1;
	above();
	EXPECT_EQ(strengths(4), (std::vector<uint32_t>{0, 0, 0, 0}));
	EXPECT_EQ(st_->ce_applied, 62);
}

TEST_F(DicCeTest, OutputCurveRisesToTheTopAndIsNotResentWhileHeld)
{
	dic_keys keys = ce_keys;
	keys.push_back({"ce_output_enabled", "1"});
	keys.push_back({"ce_output_ef_map", "1,64"});
	keys.push_back({"ce_output_low_tones_end_map", "0.2,0.2"});
	keys.push_back({"ce_output_mid_tones_end_map", "0.6,0.6"});
	start(keys, 60);
	stats_.rgb.high_share_avg = 30; // inside: no strength change
	stats_.rgb.low_share_avg = 20;
	auto ce = find(run(), "set_ce_config");
	ASSERT_NE(nullptr, ce);
	auto rec = reinterpret_cast<const dic_ce_record *>(ce->bytes.data());
	EXPECT_EQ(rec->output_enable, 1u);
	for (int i = 1; i < 256; i++)
		ASSERT_GT(rec->output_table[i], rec->output_table[i - 1]) << i;
	EXPECT_EQ(rec->output_table[255], 16383);
	EXPECT_EQ(rec->output_table[0], 0);
	EXPECT_EQ(count(run(), "set_ce_config"), 1u); // not held: sent each period
	fake_cl.state.hold_ae = 1;
	EXPECT_EQ(count(run(), "set_ce_config"), 0u);
}

TEST_F(DicCeTest, OutputCurveWithAnEmptySegmentIsNotSent)
{
	dic_keys keys = ce_keys;
	keys.push_back({"ce_output_enabled", "1"}); // low-tones end 0 by default
	start(keys, 60);
	stats_.rgb.high_share_avg = 30;
	stats_.rgb.low_share_avg = 20;
	EXPECT_EQ(count(run(), "set_ce_config"), 0u);
	EXPECT_NE(log_.text(DEBUG_WARNING).find("CE output curve has an empty segment, not sent"),
	          std::string::npos);
}

TEST_F(DicCeTest, CoringTableByGain)
{
	dic_keys keys = ce_keys;
	keys.push_back({"enable_dynamic_coring", "1"});
	keys.push_back({"ce_coring_gain", "0,48"});
	keys.push_back({"ce_coring_strength", "200,200"});
	keys.push_back({"ce_coring_xstart", "8,8"});
	keys.push_back({"ce_coring_ystart", "20,20"});
	keys.push_back({"ce_coring_midpoint", "24,24"});
	start(keys, 60);
	well_inside();
	auto ce = find(run(), "set_ce_config");
	ASSERT_NE(nullptr, ce);
	auto rec = reinterpret_cast<const dic_ce_record *>(ce->bytes.data());
	EXPECT_EQ(rec->coring_table[0], 20);
	EXPECT_EQ(rec->coring_table[7], 20);
	EXPECT_EQ(rec->coring_table[8], 20);
	EXPECT_EQ(rec->coring_table[16], 110); // 20 + 8 x 180 / 16
	EXPECT_EQ(rec->coring_table[24], 200);
	EXPECT_EQ(rec->coring_table[63], 200);
}

} // namespace

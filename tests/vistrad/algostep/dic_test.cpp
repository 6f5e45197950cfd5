// Dynamic image control: start, the gating of each update, digital gain,
// boost, HDR alpha and threshold, chroma scale, black level, the counted
// blocks and the dump, on hand-made records.

#include "dic_fixture.h"

namespace
{

TEST_F(DicTest, SettingsDefaultsAndLists)
{
	make({{"tc_alpha_mid", "0.25,0.5"}, {"ce_gain_map", "0,12,24"}, {"le_max_slide_bar", "1.5"}});
	const dic_settings *s = settings_;
	EXPECT_EQ(s->show_stats, 0);
	EXPECT_FLOAT_EQ(s->dic_max_db_offset, 6.0f);
	EXPECT_EQ(s->enable_tone_curve, 1);
	EXPECT_EQ(s->tc_low_point, 64);
	EXPECT_EQ(s->tc_high_point, 192);
	ASSERT_EQ(s->tc_low_gamma.n, 2u);
	EXPECT_EQ(s->tc_low_gamma.v[0], 16384);
	EXPECT_EQ(s->tc_low_gamma.v[1], 40960);
	ASSERT_EQ(s->tc_low_cfa_start.n, 2u);
	EXPECT_EQ(s->tc_low_cfa_start.v[1], 10 * 16384);
	ASSERT_EQ(s->ce_range.n, 2u);
	EXPECT_EQ(s->ce_range.v[0], 5);
	EXPECT_EQ(s->ce_range.v[1], 120);
	ASSERT_EQ(s->le_lowtones.n, 2u);
	EXPECT_EQ(s->le_lowtones.v[1], 90);
	EXPECT_EQ(s->hdr_thresh_max, 16200);
	EXPECT_EQ(s->cs_stationary_point, 100);
	EXPECT_FLOAT_EQ(s->cs_max_gain_for_highlight_boost, 12.0f);
	EXPECT_EQ(s->le_max_curve_offset, 21);
	EXPECT_EQ(s->dic_sharpness_coring, 3);
	EXPECT_FLOAT_EQ(s->tc_max_gamma, 2.2f);
	ASSERT_EQ(s->tc_alpha_mid.n, 2u);
	EXPECT_EQ(s->tc_alpha_mid.v[1], 8192);
	ASSERT_EQ(s->ce_gain_map.n, 3u);
	EXPECT_EQ(s->ce_gain_map.v[2], 24);
	EXPECT_FLOAT_EQ(s->le_max_slide_bar, 1.5f);
	EXPECT_EQ(s->tc_max_grad.n, 0u);
}

TEST_F(DicTest, InitOnALinearStream)
{
	make({{"tc_alpha_mid", "0.25"}, {"awb_speed", "7"}});
	// Init ran inside make(); look at what it sent.
	std::vector<std::string> expected = {"enable_tone_curve", "set_sharpness_coring", "get_hdr_mode",
	                                     "get_ce_config",     "set_ce_config",        "set_awb_speed",
	                                     "set_global_dgain"};
	EXPECT_EQ(names(fake_cl.calls), expected);
	EXPECT_EQ(fake_cl.last("enable_tone_curve")->as<int32_t>(), 2);
	EXPECT_EQ(fake_cl.last("set_sharpness_coring")->as<uint32_t>(), 3u);
	EXPECT_EQ(fake_cl.last("set_awb_speed")->as<int32_t>(), 7);
	EXPECT_EQ(fake_cl.last("set_global_dgain")->as<int32_t>(), 4096);
	const fake_call *ce = fake_cl.last("set_ce_config");
	ASSERT_EQ(ce->bytes.size(), 692u);
	EXPECT_EQ(ce->as<uint32_t>(0), 1u);   // enable
	EXPECT_EQ(ce->as<uint32_t>(171), 1u); // output enable, byte 684
	const uint16_t every16[] = {0,    725,  1482, 2273,  3099,  3962,  4863,  5804,
	                            6786, 7812, 8883, 10002, 11170, 12390, 13664, 14995};
	auto out = [&](int i) {
		uint16_t v;
		memcpy(&v, ce->bytes.data() + 172 + 2 * i, 2);
		return v;
	};
	for (int i = 0; i < 16; i++)
		EXPECT_EQ(out(16 * i), every16[i]) << i;
	const uint16_t first[] = {44, 88, 133, 178, 223};
	for (int i = 1; i <= 5; i++)
		EXPECT_EQ(out(i), first[i - 1]);
	EXPECT_EQ(out(255), 16295);
	for (int i = 1; i < 256; i++)
		EXPECT_GT(out(i), out(i - 1));
	EXPECT_EQ(st_->dgain, 4096);
	EXPECT_DOUBLE_EQ(st_->threshold_scale, 1.0);
	EXPECT_EQ(st_->first_run, 1);
}

TEST_F(DicTest, InitWithoutAlphaMidLeavesTheToneCurveModeAlone)
{
	make({{"enable_tone_curve", "1"}}, 1);
	EXPECT_EQ(fake_cl.count("enable_tone_curve"), 0u);
	EXPECT_EQ(fake_cl.count("set_ce_config"), 0u); // WDR: no built-in curve
	EXPECT_EQ(st_->tone_curve_on, 0);
}

TEST_F(DicTest, AlphaTableOfWrongSizeIsReportedAndNeverSent)
{
	std::string table127, table128;
	for (int i = 0; i < 128; i++) {
		if (i < 127)
			table127 += (i ? "," : "") + std::to_string(i % 16);
		table128 += (i ? "," : "") + std::to_string(i % 16);
	}
	make({{"hdr_alpha_table", table127}, {"enable_dynamic_alpha", "1"}, {"cs_table", "1,2"}}, 1);
	EXPECT_NE(
	    log_.text(DEBUG_WARNING).find("dic_cl_init: hdr_alpha_table_size in YAML is not correct!\n"),
	    std::string::npos);
	EXPECT_NE(log_.text(DEBUG_WARNING).find("dic_cl_init: cs_table in YAML is not correct!\n"),
	          std::string::npos);
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(count(run(), "set_hdr_alpha_table"), 0u);
}

TEST_F(DicTest, AlphaTableOfRightSizeGoesOnTheFirstRun)
{
	std::string table128;
	for (int i = 0; i < 128; i++)
		table128 += (i ? "," : "") + std::to_string(i % 16);
	make({{"hdr_alpha_table", table128}, {"enable_dynamic_alpha", "1"}}, 1);
	auto first = run();
	auto t = find(first, "set_hdr_alpha_table");
	ASSERT_NE(nullptr, t);
	EXPECT_EQ(t->as<uint32_t>(2), 0u);
	EXPECT_EQ(t->as<uint32_t>(2 + 17), 1u);
	EXPECT_EQ(t->as<uint32_t>(129), 15u);
	EXPECT_EQ(count(run(), "set_hdr_alpha_table"), 0u);
}

TEST_F(DicTest, ThresholdRecordOnlyKeepsTheScale)
{
	make({});
	fake_cl.calls.clear();
	threshold_record(0.75);
	EXPECT_TRUE(fake_cl.calls.empty());
	EXPECT_DOUBLE_EQ(st_->threshold_scale, 0.75);
}

TEST_F(DicTest, NothingBeforeTheThreeAStarts)
{
	make({});
	fake_cl.aaa_started = 0;
	EXPECT_EQ(names(run()), std::vector<std::string>{"get_aaa_started"});
	EXPECT_EQ(st_->first_run, 1);
}

TEST_F(DicTest, AaaWordTwoStopsAfterTheDigitalGain)
{
	make({{"enable_custom_luma_blending_calc", "1"},
	      {"dgain_gain_map", "0,10"},
	      {"dgain_map", "5000,5000"}},
	     1);
	fake_cl.state.word[0] = 1;
	std::vector<std::string> expected = {"get_aaa_started", "set_custom_hdr_luma_calc",
	                                     "set_global_dgain", "get_aaa_state"};
	EXPECT_EQ(names(run()), expected);
	expected = {"get_aaa_started", "get_aaa_state"};
	EXPECT_EQ(names(run()), expected); // once only; the gain is unchanged
	EXPECT_EQ(st_->first_run, 1);
}

TEST_F(DicTest, DigitalGainIsClampedSentOnceAndRetriedAfterAFailure)
{
	struct {
		const char *map;
		int32_t sent;
	} cases[] = {{"9000,9000", 8000}, {"1000,1000", 2000}, {"5000,5000", 5000}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.map);
		TearDown();
		SetUp();
		make({{"dgain_gain_map", "0,10"}, {"dgain_map", c.map}});
		auto calls = run();
		auto d = find(calls, "set_global_dgain");
		ASSERT_NE(nullptr, d);
		EXPECT_EQ(d->as<int32_t>(), c.sent);
		EXPECT_EQ(count(run(), "set_global_dgain"), 0u);
	}
	TearDown();
	SetUp();
	make({{"dgain_gain_map", "0,10"}, {"dgain_map", "6000,6000"}});
	fake_cl.fail("set_global_dgain", 1);
	EXPECT_EQ(count(run(), "set_global_dgain"), 1u);
	EXPECT_NE(log_.text(DEBUG_WARNING).find("dic_cl_run d_gain 0 is not set\n"), std::string::npos);
	EXPECT_EQ(st_->dgain, 4096);
	EXPECT_EQ(count(run(), "set_global_dgain"), 1u);
	EXPECT_EQ(st_->dgain, 6000);
}

TEST_F(DicTest, CoringFollowsAGainChange)
{
	make({});
	EXPECT_EQ(count(run(), "set_sharpness_coring"), 0u);
	test_sensor().gain_index[0] = 20;
	EXPECT_EQ(count(run(), "set_sharpness_coring"), 0u); // the gain changes in this update
	EXPECT_EQ(st_->long_gain, q14(10.0));
	EXPECT_EQ(count(run(), "set_sharpness_coring"), 1u); // ... and is seen in the next
	EXPECT_EQ(count(run(), "set_sharpness_coring"), 0u);
}

TEST_F(DicTest, BoostFactor)
{
	make({}, 1);
	fake_cl.sg.shutter[0] = 800;
	fake_cl.sg.shutter[1] = 100;
	fake_cl.sg.boost_factor = 200;
	auto sg = find(run(), "set_shutter_and_gain");
	ASSERT_NE(nullptr, sg);
	EXPECT_EQ(sg->as<uint32_t>(6), 128u); // no maps
	EXPECT_EQ(sg->as<uint32_t>(0), 800u);
	EXPECT_DOUBLE_EQ(st_->exposure_ratio, 8.0);

	struct {
		const char *y;
		const char *scale;
		uint32_t boost;
	} cases[] = {{"150,150", "100,100", 150},
	             {"300,300", "100,100", 256},
	             {"200,200", "50,50", 128},
	             {"180.7,180.7", "100,100", 180}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.y);
		TearDown();
		SetUp();
		make({{"boost_factor_map_x", "1,16"},
		      {"boost_factor_map_y", c.y},
		      {"boost_factor_scale_map_x", "0,48"},
		      {"boost_factor_scale_map_y", c.scale},
		      {"enable_tone_curve", "0"}},
		     1);
		fake_cl.sg.shutter[0] = 800;
		fake_cl.sg.shutter[1] = 100;
		fake_cl.sg.boost_factor = 1;
		sg = find(run(), "set_shutter_and_gain");
		ASSERT_NE(nullptr, sg);
		EXPECT_EQ(sg->as<uint32_t>(6), c.boost);
	}
}

TEST_F(DicTest, AlphaOffSends128EveryUpdate)
{
	make({}, 1);
	for (int i = 0; i < 3; i++) {
		auto a = find(run(), "set_hdr_alpha_value");
		ASSERT_NE(nullptr, a);
		EXPECT_EQ(a->as<uint32_t>(), 128u);
	}
	fake_cl.hdr_mode = 15;
	TearDown();
	SetUp();
	fake_cl.hdr_mode = 15;
	make({}, 1);
	EXPECT_EQ(count(run(), "set_hdr_alpha_value"), 0u);
}

// Dynamic alpha: targets from the short exposure's weight between the two
// short-weight points; alpha moves by 1 outside a dead band of 2, the
// threshold by at most 125 outside a dead band of 75.
TEST_F(DicTest, AlphaAndThresholdSteps)
{
	make({{"enable_dynamic_alpha", "1"},
	      {"hdr_gain_map", "0,48"},
	      {"hdr_alpha_max_map", "200,200"},
	      {"hdr_alpha_min", "100"},
	      {"hdr_alpha_short_weight", "10,20"},
	      {"hdr_thresh_min_map", "9000,9000"},
	      {"hdr_thresh_short_weight", "10,20"}},
	     1);
	fake_cl.alpha = 150;
	fake_cl.threshold = 12000;
	stats_.short_frame.weight_avg = 20.0;    // alpha target 200, threshold target L
	stats_.short_frame.saturation_raw = 1.0; // L = thresh_min = 9000
	std::vector<uint32_t> alphas, thresholds;
	for (int i = 0; i < 12; i++) {
		auto calls = run();
		if (auto a = find(calls, "set_hdr_alpha_value"))
			alphas.push_back(a->as<uint32_t>());
		if (auto t = find(calls, "set_hdr_threshold"))
			thresholds.push_back(t->as<uint32_t>());
	}
	ASSERT_EQ(alphas.size(), 12u);
	for (size_t i = 0; i < alphas.size(); i++)
		EXPECT_EQ(alphas[i], 151u + i);
	std::vector<uint32_t> want = {11875, 11750, 11625, 11500, 11375, 11250,
	                              11125, 11000, 10875, 10750, 10625, 10500};
	EXPECT_EQ(thresholds, want);

	// Within the dead bands nothing moves.
	stats_.short_frame.weight_avg = 10.0 + 10.0 * (st_->alpha + 2 - 100) / 100.0;
	auto calls = run();
	EXPECT_EQ(count(calls, "set_hdr_alpha_value"), 0u);
}

TEST_F(DicTest, ThresholdTopFollowsTheThresholdScale)
{
	make({{"enable_dynamic_alpha", "1"}, {"hdr_gain_map", "0,48"}, {"hdr_alpha_max_map", "128,128"}}, 1);
	fake_cl.alpha = 128;
	fake_cl.threshold = 16200;
	threshold_record(0.5); // top 8100
	std::vector<uint32_t> seen;
	for (int i = 0; i < 80; i++)
		if (auto t = find(run(), "set_hdr_threshold"))
			seen.push_back(t->as<uint32_t>());
	ASSERT_FALSE(seen.empty());
	EXPECT_EQ(seen.front(), 16075u);
	EXPECT_EQ(seen.back(), 8100u);
	for (size_t i = 1; i < seen.size(); i++)
		EXPECT_LE(seen[i - 1] - seen[i], 125u);
	threshold_record(0.1); // top 1620 clamps to 8000, 100 away
	for (int i = 0; i < 3; i++)
		run();
	EXPECT_EQ(st_->threshold, 8000u);
	threshold_record(2.0); // top 32400 clamps to 16200; the last 75 are the dead band
	for (int i = 0; i < 100; i++)
		run();
	EXPECT_EQ(st_->threshold, 16125u);
}

TEST_F(DicTest, ChromaScaleCurve)
{
	dic_keys keys = {
	    {"cs_map_gain", "0,48"},  {"cs_map_max_scale", "2000,2000"},   {"cs_map_desat_scale", "0,0"},
	    {"cs_map_ratio", "1,64"}, {"cs_map_start_scale", "1000,1000"}, {"cs_highlight_boost", "50"}};
	make(keys);
	auto cs = find(run(), "set_chroma_scale");
	ASSERT_NE(nullptr, cs);
	EXPECT_EQ(cs->as<uint32_t>(0), 1u);
	EXPECT_EQ(cs->as<uint32_t>(1 + 0), 1000u);
	EXPECT_EQ(cs->as<uint32_t>(1 + 50), 1500u); // 1000 + 50 x 1000 / 100
	EXPECT_EQ(cs->as<uint32_t>(1 + 99), 1990u);
	EXPECT_EQ(cs->as<uint32_t>(1 + 100), 2000u);
	EXPECT_EQ(cs->as<uint32_t>(1 + 127), 2000u); // H0 = H1 = 128: no highlight segment
	EXPECT_EQ(log_.text(DEBUG_WARNING).find("not monotonic"), std::string::npos);

	TearDown();
	SetUp();
	keys.push_back({"cs_highlight_start_point", "90"});
	make(keys);
	cs = find(run(), "set_chroma_scale");
	ASSERT_NE(nullptr, cs); // only a warning
	EXPECT_NE(log_.text(DEBUG_WARNING)
	              .find("optimise_chroma_scale, not monotonic conditions for chroma scale\n"),
	          std::string::npos);

	// Black and white: zeros, unless a valid table is given.
	TearDown();
	SetUp();
	keys.pop_back();
	make(keys);
	fake_cl.bw = 1;
	cs = find(run(), "set_chroma_scale");
	ASSERT_NE(nullptr, cs);
	for (int i = 0; i < 128; i++)
		ASSERT_EQ(cs->as<uint32_t>(1 + i), 0u) << i;
	TearDown();
	SetUp();
	std::string table;
	for (int i = 0; i < 128; i++)
		table += (i ? "," : "") + std::to_string(i * 40);
	keys.push_back({"cs_table", table});
	keys[2].second = "50,50"; // desaturation 50 %
	make(keys);
	fake_cl.bw = 1;
	cs = find(run(), "set_chroma_scale");
	ASSERT_NE(nullptr, cs);
	EXPECT_EQ(cs->as<uint32_t>(1 + 10), 200u);
	EXPECT_EQ(cs->as<uint32_t>(1 + 127), 2540u);
}

TEST_F(DicTest, ChromaScaleNeedsAllItsMaps)
{
	make({{"cs_map_gain", "0,48"}, {"cs_map_max_scale", "2000,2000"}});
	EXPECT_EQ(count(run(), "set_chroma_scale"), 0u);
}

TEST_F(DicTest, BlackLevelOffsets)
{
	dic_keys keys = {{"enable_bl_correction", "1"},
	                 {"bl_map_gain", "0,48"},
	                 {"bl_correction_map", "10,10"},
	                 {"bl_correction_short_frame_map", "-4,-4"},
	                 {"bl_correction_frame_skip", "3"}};
	for (int wdr = 0; wdr < 2; wdr++) {
		SCOPED_TRACE(wdr);
		TearDown();
		SetUp();
		make(keys, wdr);
		for (int k = 0; k < 4; k++) {
			fake_cl.black.linear[k] = 100 + k;
			fake_cl.black.exposure[0][k] = 200 + k;
			fake_cl.black.exposure[1][k] = 300 + k;
		}
		auto bl = find(run(), "set_black_level");
		ASSERT_NE(nullptr, bl);
		libcl_black_level got;
		memcpy(&got, bl->bytes.data(), sizeof(got));
		for (int k = 0; k < 4; k++) {
			EXPECT_EQ(got.linear[k], 100 + k + (wdr ? 0 : 10));
			EXPECT_EQ(got.exposure[0][k], 200 + k + (wdr ? 10 : 0));
			EXPECT_EQ(got.exposure[1][k], 300 + k + (wdr ? -4 : 0));
		}
		// Every third admitted record after the first.
		std::vector<int> sent;
		for (int i = 0; i < 7; i++)
			sent.push_back((int)count(run(), "set_black_level"));
		EXPECT_EQ(sent, (std::vector<int>{0, 0, 1, 0, 0, 1, 0}));
	}
}

// Camera-library failures: a warning (or the Part's message), the state as
// it was, and the block tried again on the next record.
TEST_F(DicTest, LibraryFailuresAreRetried)
{
	struct {
		const char *call;
		const char *message;
	} cases[] = {
	    {"get_black_level", "WARNING: optimise_black_level can not get sensor black level"},
	    {"set_black_level", "WARNING: optimise_black_level can not set sensor black level"},
	    {"set_hdr_threshold", "optimise_alpha: Setting hdr theshold failed!\n"},
	    {"get_aaa_state", "Could not get aaa state!"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.call);
		TearDown();
		SetUp();
		make({{"enable_bl_correction", "1"},
		      {"bl_map_gain", "0,48"},
		      {"bl_correction_map", "10,10"},
		      {"enable_dynamic_alpha", "1"},
		      {"hdr_gain_map", "0,48"},
		      {"hdr_alpha_max_map", "128,128"}},
		     1);
		fake_cl.alpha = 128;
		fake_cl.threshold = 12000;
		fake_cl.fail(c.call, 1);
		run();
		EXPECT_NE(log_.text().find(c.message), std::string::npos);
		uint32_t threshold = st_->threshold;
		auto calls = run();
		if (std::string(c.call) == "set_hdr_threshold") {
			EXPECT_EQ(threshold, 12000u);
			EXPECT_EQ(count(calls, "set_hdr_threshold"), 1u);
		}
		if (std::string(c.call).find("black") != std::string::npos) {
			EXPECT_EQ(count(calls, "set_black_level"), 1u);
		}
	}
}

TEST_F(DicTest, DumpOnlyForItsChannel)
{
	make({{"show_stats", "2"}});
	run();
	EXPECT_EQ(log_.text(DEBUG_INFO).find("DIC stats"), std::string::npos);
	TearDown();
	SetUp();
	make({{"show_stats", "1"}, {"enable_dynamic_alpha", "1"}});
	stats_.short_frame.low_share = 120.0;
	run();
	std::string text = log_.text(DEBUG_INFO);
	EXPECT_NE(
	    text.find(
	        "\nChannel 0 DIC stats:\nStats |    Long    |   Short    |    CFA     |    RGB     |\n"),
	    std::string::npos);
	EXPECT_NE(text.find("| 99.9: 0.0  |"), std::string::npos);
	EXPECT_NE(text.find("LE:    0 CE:   0, TC/delta: 0.00/0\nAlpha   0, Threshold     0\n\n"),
	          std::string::npos);
}

} // namespace

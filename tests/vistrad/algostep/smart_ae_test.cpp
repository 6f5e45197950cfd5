// Smart auto exposure: init, parameters, the exposure program, the control
// law on hand-made image-statistics records, and what reaches the sensor,
// the camera library and the info pool. Expected values are worked from the
// exposure rules by hand: the test sensor has a 30 us line, gains 1.0 to
// 64.0 in steps of 0.3 dB and runs at 30 frames a second.
#include "smart_ae_fixture.h"

#include <algorithm>

namespace
{

std::vector<uint32_t> tail_of(const std::vector<uint32_t> &v, size_t n)
{
	return std::vector<uint32_t>(v.end() - std::min(n, v.size()), v.end());
}

/* The row's create ---------------------------------------------------------------- */

TEST_F(SmartAeTest, MotionInputOnlyWithMotionBlurControl)
{
	const std::pair<const char *, std::vector<uint32_t>> cases[] = {{"false", {154}},
	                                                                {"true", {154, 119}}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.first);
		TearDown();
		SetUp();
		prodconf_node *sec = pc_node(pc_section(conf_, "algo_smart_ae_cl"), "config");
		pc_node(sec, "ae_adjust_motion_blur", {c.first});
		conf_->read_item = prodconf_read_item;
		void *settings = algo_cl_create(&smart_ae_cl_module, "algo_smart_ae_cl", conf_, engine_, 0);
		ASSERT_NE(nullptr, settings);
		GList *groups = control_get_groups_of_owner(engine_, 0);
		ASSERT_EQ(1u, g_list_length(groups));
		auto *step = static_cast<algo_step *>(static_cast<algo_group *>(groups->data)->steps->data);
		g_list_free(groups);
		std::vector<uint32_t> inputs, outputs;
		for (GList *l = step->inputs; l; l = l->next)
			inputs.push_back(static_cast<algo_input *>(l->data)->type);
		for (GList *l = step->outputs; l; l = l->next)
			outputs.push_back(static_cast<algo_output *>(l->data)->type);
		EXPECT_EQ(c.second, inputs);
		EXPECT_EQ(std::vector<uint32_t>{162}, outputs);
		smart_ae_settings_free(settings);
	}
}

/* Init ------------------------------------------------------------------------ */

TEST_F(SmartAeTest, InitPublishesTheSensorLimitsAndFollowsEveryParameterOnce)
{
	ASSERT_EQ(0, create(base_keys()));
	int32_t v = 0;
	ASSERT_EQ(0, param_get_int(69, 0, &v));
	EXPECT_EQ(37, v); // trunc(20 log10 64 + 1) = trunc(37.1)
	ASSERT_EQ(0, param_get_int(71, 0, &v));
	EXPECT_EQ(31, v);
	ASSERT_EQ(0, param_get_int(72, 0, &v));
	EXPECT_EQ(166667, v);
	EXPECT_EQ((std::vector<uint32_t>{12, 13, 37, 38, 19, 18, 30, 34, 17, 16, 33, 29, 14, 40, 73}),
	          ae_fake.registered);
	EXPECT_EQ((std::vector<uint32_t>{12, 13, 37, 38, 19, 18, 30, 34, 17, 16, 29, 33, 14, 40, 73}),
	          tail_of(ae_fake.param_gets, 15));
	// The initial exposure: 1000 us at unity gain.
	ASSERT_FALSE(ae_fake.lines.empty());
	EXPECT_EQ(1000 / line_us, ae_fake.lines.front());
	EXPECT_EQ((std::vector<int32_t>{0, 0}), ae_fake.gains.front());
}

TEST_F(SmartAeTest, InitWithAUserShutterLimitPublishesIt)
{
	ASSERT_EQ(0, create(base_keys({{"ae_limit_user_max_shutter", {"500"}}})));
	int32_t v = 0;
	ASSERT_EQ(0, param_get_int(71, 0, &v));
	EXPECT_EQ(500, v);
}

TEST_F(SmartAeTest, InitFailsWithoutTheHdrMethod)
{
	ae_fake.hdr_method_fails = 1;
	EXPECT_EQ(-1, create(base_keys()));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_WARNING).find("Libcl can not get hdr method \n"));
}

TEST_F(SmartAeTest, SettleDelayIsKeptWithinTheSchedules)
{
	const std::pair<const char *, int32_t> cases[] = {{"0", 1}, {"6", 6}, {"31", 30}, {"-4", 1}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.first);
		TearDown();
		SetUp();
		ASSERT_EQ(0, create(base_keys({{"sht_gain_delay", {c.first}}})));
		EXPECT_EQ(c.second, state_->settle_base);
	}
}

TEST_F(SmartAeTest, HoldRestoresTheHeldExposureClamped)
{
	ASSERT_EQ(0, info_pool_set_int(13, 0, INFO_POOL_PERSISTENT, 90000));
	ASSERT_EQ(0, info_pool_set_int(77, 0, INFO_POOL_PERSISTENT, 500));
	ASSERT_EQ(0, info_pool_set_imfix(14, 0, INFO_POOL_PERSISTENT, q14(0.5)));
	ASSERT_EQ(0, create(base_keys(), {{12, 1}}));
	EXPECT_EQ(1, state_->hold);
	EXPECT_EQ(33333, state_->exp[AE_LONG].shutter); // clamped to the frame time
	EXPECT_DOUBLE_EQ(1.0, state_->exp[AE_LONG].gain);
	// A frame in hold keeps the restored exposure.
	clear_records();
	frame(analysis(5.0));
	EXPECT_TRUE(ae_fake.lines.empty());
	EXPECT_TRUE(ae_fake.gains.empty());
}

TEST_F(SmartAeTest, HoldWithAMissingValueIsDropped)
{
	ASSERT_EQ(0, info_pool_set_int(13, 0, INFO_POOL_PERSISTENT, 9000));
	ASSERT_EQ(0, create(base_keys(), {{12, 1}}));
	EXPECT_EQ(1000, state_->exp[AE_LONG].shutter);
}

/* Parameters -------------------------------------------------------------------- */

TEST_F(SmartAeTest, ExposureValueSetsTheCompensation)
{
	ASSERT_EQ(0, create(base_keys()));
	const std::pair<int32_t, double> cases[] = {{0, 0.25}, {50, 1.0}, {100, 4.0}, {75, 2.0}};
	for (auto &c : cases) {
		set_param(14, c.first);
		EXPECT_DOUBLE_EQ(c.second, state_->ev_comp_factor) << c.first;
	}
}

TEST_F(SmartAeTest, ParametersShapeTheLimits)
{
	ASSERT_EQ(0, create(base_keys()));
	smart_ae_exposure &l = state_->exp[AE_LONG];
	set_param(19, 0);
	EXPECT_DOUBLE_EQ(1.0, l.max_gain); // the sensor minimum
	set_param(19, 100);
	set_param(18, 50);
	set_param(19, 0);
	EXPECT_NEAR(8.0, l.max_gain, 1e-9); // the minimum gain, halfway up the dB range
	set_param(18, 0);
	set_param(19, 100);
	EXPECT_DOUBLE_EQ(64.0, l.max_gain);

	set_param(12, 2);
	EXPECT_EQ(10000, l.min_shutter);
	set_param(12, 3);
	EXPECT_EQ(8333, l.min_shutter);
	set_param(12, 0);
	EXPECT_EQ(31, l.min_shutter);
	int32_t v = 0;
	ASSERT_EQ(0, param_get_int(16, 0, &v));
	EXPECT_EQ(31, v);
}

TEST_F(SmartAeTest, MinimumAboveMaximumResetsMaxExposureTime)
{
	ASSERT_EQ(0, create(base_keys()));
	set_param(17, 20000);
	EXPECT_EQ(20000, state_->exp[AE_LONG].max_shutter);
	set_param(16, 25000);
	int32_t v = 0;
	ASSERT_EQ(0, param_get_int(17, 0, &v));
	EXPECT_EQ(-1, v);
	EXPECT_EQ(33333, state_->exp[AE_LONG].max_shutter);
}

TEST_F(SmartAeTest, ManualShutterOffRestoresBothLimits)
{
	ASSERT_EQ(0, create(base_keys()));
	smart_ae_exposure &l = state_->exp[AE_LONG];
	set_param(29, 5000);
	set_param(33, 1);
	EXPECT_EQ(5000, l.min_shutter);
	EXPECT_EQ(5000, l.max_shutter);
	set_param(33, 0);
	EXPECT_EQ(31, l.min_shutter);
	EXPECT_EQ(33333, l.max_shutter);
	int32_t v = 0;
	ASSERT_EQ(0, param_get_int(17, 0, &v));
	EXPECT_EQ(-1, v);
}

TEST_F(SmartAeTest, ExposurePriorityNormalSetsTheFilterOffset)
{
	ASSERT_EQ(0, create(base_keys()));
	const std::pair<int32_t, double> cases[] = {{0, 0.0}, {50, 0.0}, {75, 1.5}, {100, 3.0}};
	for (auto &c : cases) {
		set_param(37, c.first);
		EXPECT_DOUBLE_EQ(c.second, ae_fake.dboffsets.back()) << c.first;
	}
}

/* The exposure program ------------------------------------------------------------ */

struct ProgramCase {
	const char *name;
	std::vector<std::pair<std::string, std::vector<std::string>>> keys;
	std::vector<std::pair<uint32_t, int32_t>> params;
	std::vector<std::pair<int32_t, double>> points;
};

TEST_F(SmartAeTest, ProgramsFollowPriorityLowLightAndFlicker)
{
	const double agc = pow(10.0, 18.0 / 20.0);
	const double mid = sqrt(agc * 64.0);
	const ProgramCase cases[] = {
	    {"normal 0", {}, {{37, 0}}, {{31, 1}, {1000, 1}, {33333, 1}, {33333, 64}}},
	    {"normal 100", {}, {{37, 100}}, {{31, 1}, {1000, 1}, {1000, agc}, {33333, agc}, {33333, 64}}},
	    {"lowlight 0",
	     {},
	     {{17, 100000}, {38, 0}},
	     {{31, 1}, {1000, 1}, {33333, 1}, {33333, agc}, {100000, agc}, {100000, 64}}},
	    {"lowlight 50",
	     {},
	     {{17, 100000}, {38, 50}},
	     {{31, 1},
	      {1000, 1},
	      {33333, 1},
	      {33333, agc},
	      {66667, agc},
	      {66667, mid},
	      {100000, mid},
	      {100000, 64}}},
	    {"plateau",
	     {{"ae_plateau_gain_arr", {"2", "4"}}, {"ae_plateau_exp_arr", {"5000", "20000"}}},
	     {{37, 100}},
	     {{31, 1}, {1000, 1}, {20000, 1}, {20000, 4}, {33333, 4}, {33333, 64}}},
	    {"flickerfree50",
	     {},
	     {{12, 2}},
	     {{10000, 1}, {10000, 2}, {20000, 1}, {20000, 2}, {33333, 2}, {33333, 64}}},
	};
	for (const ProgramCase &c : cases) {
		SCOPED_TRACE(c.name);
		TearDown();
		SetUp();
		ASSERT_EQ(0, create(base_keys(c.keys)));
		// CaptureFrequency leaves the frame's reserve of four lines and one
		// microsecond below the frame time; the user's maximum takes it back.
		EXPECT_EQ(33333 - 4 * line_us - 1, state_->exp[AE_LONG].max_shutter);
		set_param(17, -1);
		for (auto &p : c.params)
			set_param(p.first, p.second);
		ASSERT_EQ((int)c.points.size(), state_->program_count);
		for (size_t i = 0; i < c.points.size(); i++) {
			EXPECT_EQ(c.points[i].first, state_->program[i].shutter) << i;
			EXPECT_NEAR(c.points[i].second, state_->program[i].gain, 1e-6) << i;
			if (i > 0) {
				EXPECT_LT(state_->program[i - 1].ev, state_->program[i].ev) << i;
			}
		}
	}
}

/* Interpolation --------------------------------------------------------------------- */

TEST(SmartAeMap, LooksUpPiecewiseLinearAndHoldsTheEnds)
{
	int32_t ys[] = {q14(10), q14(20), q14(40)};
	ae_q14_list y = {ys, 3};
	const double xs[] = {0, 10, 10};
	ae_q14_list empty = {nullptr, 0};
	struct {
		int n;
		const ae_q14_list *list;
		double at;
		double want;
	} cases[] = {
	    {3, &y, -5, 10}, {3, &y, 0, 10},  {3, &y, 5, 15}, {3, &y, 10, 20}, // equal x: the lower y
	    {3, &y, 99, 40}, {2, &y, 99, 40}, {0, &y, 3, 40}, {3, &empty, 5, 0},
	};
	for (auto &c : cases)
		EXPECT_NEAR(c.want, smart_ae_map_value(xs, c.n, c.list, c.at), 1e-5) << c.at << " n " << c.n;
	int32_t xq[] = {q14(0), q14(10)};
	ae_q14_list x = {xq, 2};
	EXPECT_NEAR(15.0, smart_ae_map_value_q14(&x, &y, q14(5)), 1e-4);
	EXPECT_NEAR(40.0, smart_ae_map_value_q14(&x, &y, q14(50)), 1e-4);
	EXPECT_DOUBLE_EQ(0.0, smart_ae_map_value_q14(&x, &empty, q14(5)));
}

/* The criteria --------------------------------------------------------------------- */

TEST_F(SmartAeTest, TopBinFivePointsOverTargetAsksForTheProportionalExposure)
{
	ASSERT_EQ(0, create(base_keys()));
	set_exposure(10000, 1.0);
	state_->sat_target = 1.0;
	// forecast bin, near-saturation EV, maximum-saturation EV
	const double cases[][3] = {
	    {5, 5 * 10000 / 62.0, 10000 / 6.0}, // the proportional value
	    {62, 9900, 9900},                   // the near-saturation EV is higher
	};
	for (auto &c : cases) {
		hist_analysis a = analysis(20.0, 6.0);
		a.forecast_bin = (int32_t)c[0];
		double out[4];
		smart_ae_calc_ev(&a, out, state_, AE_LONG, 20.0);
		EXPECT_NEAR(c[1], out[1], 1e-6) << c[0];
		EXPECT_NEAR(c[2], out[2], 1e-6) << c[0];
	}
}

TEST_F(SmartAeTest, WeightOutsideTheBandAsksForTheTargetAndInsideKeeps)
{
	ASSERT_EQ(0, create(base_keys()));
	set_exposure(10000, 1.0);
	const std::pair<double, double> cases[] = {{10.0, 20000}, {19.5, 10000}, {40.0, 5000}, {0.1, 400000}};
	for (auto &c : cases) {
		hist_analysis a = analysis(c.first);
		double out[4];
		smart_ae_calc_ev(&a, out, state_, AE_LONG, 20.0);
		EXPECT_NEAR(c.second, out[0], 1e-6) << c.first;
	}
}

/* The control law on frame sequences ------------------------------------------------ */

class SmartAeLoop : public SmartAeTest
{
      protected:
	void start(std::vector<std::pair<std::string, std::vector<std::string>>> more = {})
	{
		more.push_back({"ae_smooth_adjust", {"false"}});
		ASSERT_EQ(0, create(base_keys(more)));
		set_exposure(10000, 1.0);
		// The limits init set are applied with the first frame; the
		// exposure then settles on frames on target.
		for (int i = 0; i < 20 && !state_->converged; i++)
			frame(analysis(20.0, 1.0));
		ASSERT_EQ(1, state_->converged);
		ASSERT_EQ(state_->settings->ae_delay, state_->delay_counter);
		clear_records();
	}
	int32_t applied_lines()
	{
		return ae_fake.lines.empty() ? -1 : ae_fake.lines.back();
	}
};

TEST_F(SmartAeLoop, SmallChangesAreKeptExceptNearTheLargestExposure)
{
	start({{"ae_hysteresis", {"1"}}, {"ae_delay", {"0"}}});
	frame(analysis(20.0 / 1.02)); // 2 % brighter wanted
	EXPECT_EQ(-1, applied_lines());
	EXPECT_EQ(0, state_->exp[AE_LONG].choice);
	// At 63x gain and the longest shutter, the last 2 % is still taken.
	int32_t longest = state_->exp[AE_LONG].max_shutter;
	set_exposure(longest, 63.0);
	frame(analysis(20.0 / 1.02));
	EXPECT_DOUBLE_EQ(64.0, state_->exp[AE_LONG].want_gain);
	EXPECT_EQ(longest, state_->exp[AE_LONG].want_shutter);
}

TEST_F(SmartAeLoop, LargeJumpsAreAppliedAtOnceSmallOnesWait)
{
	start();
	// 150 % brighter: past the delay limit, applied at once.
	frame(analysis(20.0 / 2.5, 0.0));
	EXPECT_EQ(25000 / line_us, applied_lines());
}

TEST_F(SmartAeLoop, SmallChangeWaitsTheReactionDelayAndANoChangeFrameRestartsIt)
{
	start();
	hist_analysis brighter = analysis(20.0 / 1.2, 0.0);
	for (int i = 0; i < 10; i++)
		frame(brighter);
	EXPECT_EQ(-1, applied_lines());
	frame(analysis(20.0, 1.0)); // no change wanted: the wait starts again
	EXPECT_EQ(20, state_->delay_counter);
	for (int i = 0; i < 20; i++)
		frame(brighter);
	EXPECT_EQ(-1, applied_lines());
	frame(brighter);
	EXPECT_EQ(12000 / line_us, applied_lines());
}

TEST_F(SmartAeLoop, NearSaturationBrighteningIsCappedAtTheEtrFactor)
{
	start({{"ae_delay", {"0"}}});
	hist_analysis a = analysis(10.0, 0.0);
	a.near_sat_position = 10; // the data ends far below the top
	frame(a);
	EXPECT_EQ(2, state_->exp[AE_LONG].choice);
	EXPECT_NEAR(1.5 * 20000, state_->exp[AE_LONG].want_ev, 1e-6);
}

TEST_F(SmartAeLoop, PrioritisingSaturationKeepsTheExposure)
{
	start({{"ae_prioritize_saturation", {"true"}}, {"ae_delay", {"0"}}});
	frame(analysis(5.0, 0.0));
	EXPECT_EQ(-1, applied_lines());
	EXPECT_DOUBLE_EQ(10000.0, state_->exp[AE_LONG].want_ev);
}

TEST_F(SmartAeLoop, LongShutterAsksTheVideoInputForFiveFramesASecond)
{
	start();
	set_exposure(250000, 1.0);
	frame(analysis(20.0, 1.0));
	ASSERT_FALSE(ae_fake.fps_sets.empty());
	EXPECT_DOUBLE_EQ(5.0, ae_fake.fps_sets.back());
}

TEST_F(SmartAeLoop, FramesAreDroppedUntilTheLibraryIsReady)
{
	start({{"ae_delay", {"0"}}});
	hist_analysis dark = analysis(5.0, 0.0);
	ae_fake.started = 0;
	frame(dark);
	ae_fake.started = 1;
	ae_fake.hdr_mode = 1; // an HDR mode on a linear sensor
	frame(dark);
	ae_fake.hdr_mode = 0;
	ae_fake.aaa.word[0] = 1; // the library holds the exposure
	frame(dark);
	EXPECT_EQ(-1, applied_lines());
	ae_fake.aaa.word[0] = 0;
	frame(dark);
	EXPECT_NE(-1, applied_lines());
}

TEST_F(SmartAeLoop, ConvergencePrintsTheStatisticsTables)
{
	log_.clear();
	const char *ev_table = "EV Calculation|     Long    \n--------------|-------------\n"
	                       "Last data bin |      100.0 \nSat. forecast |      100.0 \n"
	                       "Weight        |       20.0 \nEV [current]  |      10000  \n"
	                       "Weight EV     |      10000  \nNear Sat. EV  |       9900  \n"
	                       "Max Sat. EV   |      10000  \nEV change     |          0  \n"
	                       "EV choice     |  No change \nAdj_index   257\n\n";
	start({{"show_ae_stats", {"-1"}}});
	// start() cleared the log after convergence: converge once more.
	state_->converged = 0;
	frame(analysis(20.0, 1.0));
	std::string text = log_.text(DEBUG_INFO);
	size_t at = text.rfind("EV Calculation");
	ASSERT_NE(std::string::npos, at);
	EXPECT_EQ(ev_table, text.substr(at, strlen(ev_table)));
	EXPECT_NE(std::string::npos, text.find("\nSMART AE | Ch 0, LIN - Mode, EF: 1.0 (converged), +0.0EV\n"
	                                       "         | Long                    | Short         \n"));
	EXPECT_NE(std::string::npos, text.find("  Current|      10000 -  0.0db     |        100 -  0.0db\n"));
}

TEST_F(SmartAeLoop, UnusableStatisticsAreDroppedAndSaidOnce)
{
	start({{"ae_delay", {"0"}}});
	hist_analysis none = analysis(5.0, 0.0);
	none.bin_count = 2;
	hist_analysis nan = analysis(NAN, 0.0);
	for (const hist_analysis &a : {none, nan, none})
		EXPECT_EQ(0, frame(a));
	EXPECT_EQ(-1, applied_lines());
	std::string text = log_.text(DEBUG_WARNING);
	const char *line = "Smart AE: unusable image statistics for stream 0, frame dropped\n";
	EXPECT_EQ(text.find(line), text.rfind(line)); // once for the run of bad frames
	EXPECT_NE(std::string::npos, text.find(line));
	frame(analysis(5.0, 0.0)); // the next good frame is served
	EXPECT_NE(-1, applied_lines());
}

TEST_F(SmartAeLoop, MotionShortensTheLongestShutter)
{
	start({{"ae_adjust_motion_blur", {"true"}}});
	const int32_t motion[2] = {0, 700};
	struct {
		control_job header;
		const int32_t *motion;
	} record = {};
	record.header.type = SMART_AE_INPUT_MOTION;
	record.motion = motion;
	ASSERT_EQ(0, control_queue_job(engine_, &record.header));
	EXPECT_EQ(0, smart_ae_cl_run(step_, engine_));
	take_queued();
	EXPECT_DOUBLE_EQ(7.0, state_->motion_avg);
	// Motion 7 at unity gain: 4000 us plus a quarter of the 6000 us up to
	// 10 ms, blended 1 to 99 with the value of the frame before (the frame
	// time while nothing moved), then taken in full.
	frame(analysis(20.0, 1.0));
	EXPECT_EQ((5500 * 10 + 33333 * 990) / 1000, state_->exp[AE_LONG].max_shutter);
	frame(analysis(20.0, 1.0));
	EXPECT_EQ(5500, state_->exp[AE_LONG].max_shutter);
	EXPECT_EQ(5500, state_->program[state_->program_count - 1].shutter);
}

/* WDR --------------------------------------------------------------------------------- */

class SmartAeWdr : public SmartAeTest
{
      protected:
	void SetUp() override
	{
		SmartAeTest::SetUp();
		ae_fake.wdr = 1;
		ae_fake.hdr_mode = 1;
		ae_fake.limits[0] = 33333;
		ae_fake.limits[1] = 4000;
		ae_fake.ratio[0] = q14(1.0);
		ae_fake.ratio[1] = q14(16.0);
	}
};

TEST_F(SmartAeWdr, ShortExposureStaysWithinTheRatioAndOneRecordGoesOutPerFrame)
{
	ASSERT_EQ(0, create(base_keys({{"ae_enable_dynamic_lut", {"true"}},
	                               {"lut_enable_adaptive_threshold", {"true"}},
	                               {"ae_smooth_adjust", {"false"}},
	                               {"ae_delay", {"0"}}})));
	EXPECT_DOUBLE_EQ(1.05, state_->ratio_min); // the sensor's 1.0, raised
	EXPECT_DOUBLE_EQ(16.0, state_->ratio_max);
	EXPECT_EQ(4000, state_->exp[AE_SHORT].max_shutter);
	hist_analysis l = analysis(5.0, 0.0);
	l.kind = HIST_KIND_LONG;
	hist_analysis sh = analysis(2.0, 0.0);
	sh.kind = HIST_KIND_SHORT;
	const int frames = 12;
	for (int i = 0; i < frames; i++) {
		frame(l, &sh);
		const smart_ae_exposure &le = state_->exp[AE_LONG];
		const smart_ae_exposure &se = state_->exp[AE_SHORT];
		EXPECT_LE(se.ev, le.ev - line_us + 1e-6) << i;
		EXPECT_GE(se.ev, le.ev / 16.0 - 1e-6) << i;
	}
	ASSERT_EQ((size_t)frames, queued_.size());
	for (const smart_ae_hdr_record &r : queued_) {
		EXPECT_EQ(162u, r.header.type);
		EXPECT_EQ(0, r.header.stream_id);
		// The HDR LUT builder's threshold fraction, T0[352] / 65535.
		EXPECT_GT(r.threshold, 0.0);
		EXPECT_LE(r.threshold, 1.0);
	}
	ASSERT_FALSE(ae_fake.shutters.empty());
}

/* Planned steps ------------------------------------------------------------------------ */

TEST_F(SmartAeTest, PlansReachTheWantedExposureInTheSettleDelay)
{
	ASSERT_EQ(0, create(base_keys()));
	struct {
		int32_t s0, s1;
		double g0, g1;
	} cases[] = {
	    {1000, 4000, 1.0, 2.0}, {30000, 3000, 4.0, 1.0}, {1000, 1000, 1.0, 8.0}, {2000, 20000, 1.0, 1.0}};
	for (auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.s0) + " -> " + std::to_string(c.s1));
		smart_ae_exposure &e = state_->exp[AE_LONG];
		e.shutter = c.s0;
		e.gain = c.g0;
		e.ev = c.s0 * c.g0;
		e.want_shutter = c.s1;
		e.want_gain = c.g1;
		e.want_ev = c.s1 * c.g1;
		smart_ae_plan_steps(state_, AE_LONG);
		int n = state_->settle_delay;
		for (int k = 0; k < n; k++) {
			EXPECT_GE(e.sched_gain[k], std::min(c.g0, c.g1) - 1e-9) << k;
			EXPECT_LE(e.sched_gain[k], std::max(c.g0, c.g1) + 1e-9) << k;
			EXPECT_GE(e.sched_shutter[k], std::min(c.s0, c.s1)) << k;
			EXPECT_LE(e.sched_shutter[k], std::max(c.s0, c.s1)) << k;
		}
		EXPECT_DOUBLE_EQ((double)(int64_t)(c.s1 * c.g1), e.sched_ev[n - 1]);
		EXPECT_DOUBLE_EQ(c.g1, e.sched_gain[n - 1]);
		EXPECT_EQ(c.s1, e.sched_shutter[n - 1]);
	}
}

/* Output ------------------------------------------------------------------------------- */

TEST_F(SmartAeTest, ExtraGainFollowsTheGainIndexLimit)
{
	ASSERT_EQ(0, create(base_keys()));
	const std::pair<int32_t, uint32_t> cases[] = {{0, 222}, {253, 222}, {254, 221}, {260, 215}};
	for (auto &c : cases) {
		clear_records();
		int32_t shutters[2] = {1000, 100};
		double gains[2] = {pow(10.0, c.first * gain_step_db / 20.0), 1.0};
		smart_ae_apply(shutters, gains, 0, state_, -1, nullptr);
		ASSERT_EQ(c.first, ae_fake.gains.back()[0]);
		ASSERT_EQ(1u, ae_fake.sg_sets.size());
		EXPECT_EQ(c.second, ae_fake.sg_sets.back().extra_gain) << c.first;
	}
	clear_records();
	ae_fake.sg_get_fails = 1;
	int32_t shutters[2] = {1000, 100};
	double gains[2] = {1.0, 1.0};
	smart_ae_apply(shutters, gains, 0, state_, -1, nullptr);
	EXPECT_TRUE(ae_fake.sg_sets.empty());
}

TEST_F(SmartAeTest, PublishesTheExposureInTheInfoPool)
{
	ASSERT_EQ(0, create(base_keys()));
	ASSERT_EQ(0, system(("mkdir -p '" + root_ + "/etc/dynamic/vistrad'").c_str()));
	set_param(17, -1);
	set_exposure(20000, 2.0);
	state_->hold = 1;
	smart_ae_publish(state_, 0);
	int32_t v = 0;
	ASSERT_EQ(0, info_pool_get_int(60, 0, &v));
	EXPECT_EQ(31, v);
	ASSERT_EQ(0, info_pool_get_int(61, 0, &v));
	EXPECT_NEAR(33333 * 64, v, 1);
	ASSERT_EQ(0, info_pool_get_int(13, 0, &v));
	EXPECT_EQ(20000, v);
	ASSERT_EQ(0, info_pool_get_int(48, 0, &v));
	EXPECT_EQ((int32_t)(1.05 * 40000), v);
	ASSERT_EQ(0, info_pool_get_imfix(14, 0, &v));
	EXPECT_EQ(q14(2.0), v);
	ASSERT_EQ(0, info_pool_get_imfix(15, 0, &v));
	EXPECT_EQ(q14(1.0), v);
	ASSERT_EQ(0, info_pool_get_imfix(31, 0, &v));
	EXPECT_EQ(q14(1.0), v);
	EXPECT_NE(0, info_pool_get_int(14, 0, &v)); // an imfix, not an int
	void *blob = nullptr;
	uint32_t size = 0;
	ASSERT_EQ(0, info_pool_get_blob(70, 0, &blob, &size));
	ASSERT_EQ(8u, size);
	int64_t q = 0;
	memcpy(&q, blob, 8);
	g_free(blob);
	EXPECT_EQ((int64_t)20000 << 14, q);
	ASSERT_EQ(0, info_pool_get_blob(67, 0, &blob, &size));
	memcpy(&q, blob, 8);
	g_free(blob);
	EXPECT_EQ(33333, q);
	// Hold writes the persistent values to the store.
	EXPECT_TRUE(g_file_test((root_ + INFO_POOL_DB_PATH).c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(SmartAeTest, SensorDataGoesToTheCacheWhileUpdating)
{
	ASSERT_EQ(0, create(base_keys(
	                 {{"ae_enable_sensor_datacache", {"true"}}, {"ae_smooth_adjust", {"false"}}})));
	EXPECT_EQ((std::vector<std::string>{"sensor_data 16x10"}), ae_fake.caches);
	set_param(17, -1);
	set_exposure(10000, 1.0);
	clear_records();
	EXPECT_EQ(0, frame(analysis(5.0, 0.0)));
	ASSERT_EQ(1u, ae_fake.cache_writes.size());
	int32_t got[4];
	memcpy(got, ae_fake.cache_writes[0].data(), 16);
	// 4 x 10000 at the longest shutter: 33333 us at 1.2 x.
	EXPECT_EQ(1200, got[0]);
	EXPECT_EQ(0, got[1]);
	EXPECT_EQ(0, got[2]);
	EXPECT_EQ(33333, got[3]);
	ae_fake.cache_write_result = -4;
	EXPECT_EQ(-1, frame(analysis(5.0, 0.0)));
}

} // namespace

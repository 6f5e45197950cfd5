// The day/night step on the stepped clock: the real engine, parameter store
// and info pool; the camera library, the power-control client and the event
// producer replaced by recorders; the platform's IR-cut operation recorded.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "algostep/daynight_vorsalind.h"
#include "frontends/dbus_api/power_control.h"
#include "libcl_fake.h"
#include "platform/frame_source.h"
#include "step_fixture.h"

namespace
{

// Everything the step did outside itself, in order.
std::vector<std::string> seen;
int ircut_result = -255;
int power_answer = 1;
power_consumer *registered = nullptr;

int record_ircut(platform *, int is_day, int32_t stream_id)
{
	seen.push_back("ircut " + std::to_string(is_day) + " " + std::to_string(stream_id));
	return ircut_result;
}

} // namespace

extern "C" {
int __wrap_power_control_register_consumer(power_consumer *c)
{
	registered = c;
	seen.push_back(std::string("register ") + c->name);
	return 0;
}

int __wrap_power_control_unregister_consumer(power_consumer *c)
{
	seen.push_back(std::string("unregister ") + c->name);
	registered = nullptr;
	return 0;
}

int __wrap_power_control_request(power_consumer *c)
{
	seen.push_back(std::string("request ") + c->name + " " + std::to_string(c->requested));
	return power_answer;
}

void __wrap_event_handler_ircut_property_changed(int32_t stream_id, uint32_t value)
{
	seen.push_back("DayNightVision " + std::to_string(stream_id) + " " + std::to_string(value));
}

void __wrap_event_handler_above_ill_level_changed(int32_t stream_id, uint32_t value)
{
	seen.push_back("AboveIlluminanceLevel " + std::to_string(stream_id) + " " + std::to_string(value));
}
}

namespace
{

const int64_t OFF = 2147483647;

class DayNight : public StepFixture
{
      protected:
	void SetUp() override
	{
		StepFixture::SetUp();
		char tmpl[] = "/tmp/daynight-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		std::string dir = root + "/etc/dynamic/vistrad";
		ASSERT_EQ(0, system(("mkdir -p " + dir).c_str()));
		seen.clear();
		ircut_result = -255;
		power_answer = 1;
		registered = nullptr;
		plat->daynight_switch = record_ircut;
		settings = defaults();
	}
	void TearDown() override
	{
		StepFixture::TearDown();
		unsetenv("VISTRAD_ROOT");
		ASSERT_EQ(0, system(("rm -rf " + root).c_str()));
	}
	static daynight_settings defaults()
	{
		daynight_settings d = {};
		d.hysteresis_factor = 3.0f;
		d.d2n_shift_exp_lvl_fraction = 98;
		d.slider_factor = 5;
		d.chroma_value_threshold = 4;
		d.ir_threshold = 10;
		d.chroma_quotient_threshold = 10 * 16384;
		d.day_night_step_rate = 1;
		d.day_to_night_time_limit = 2;
		d.night_to_day_time_limit = 10;
		d.oscillation_time = 10;
		d.oscillation_reduction_factor = 2.0f;
		d.prevent_oscillations = 1;
		d.threshold_reset_time = 3600;
		d.max_lin_gain = d.max_hdr_gain = 48;
		d.night_to_day_fraction = 6;
		d.night_to_day_min_threshold = 800;
		d.night_to_day_max_threshold = 3000;
		d.light_measure_delay = 5;
		d.max_light_measure_from_leds = 100;
		d.max_exposure_ratio = 16384;
		d.min_exposure_limit = 40000;
		d.forced_n2d_shift_ev_level = -1;
		return d;
	}
	// The step on stream 0 as the module table makes it; the first timeout
	// (5 s) initialises, and the clock then stands at that moment.
	void start(int32_t max_exposure = 1000000)
	{
		info_pool_set_int(61, 0, INFO_POOL_VOLATILE, max_exposure);
		info_pool_set_int(48, 0, INFO_POOL_VOLATILE, 0);
		param_set_int(56, 0, 100);
		auto *data = g_new0(daynight_state, 1);
		data->settings_record = &settings;
		step = algo_step_create_stream_id(0, daynight_init, daynight_vorsalind_run, daynight_destroy,
		                                  data);
		algo_step_add_input_stream_id(step, PLATFORM_DATA_SOC_STATS, 0);
		daynight_specifics(nullptr, engine, 0, step, &settings);
		add_step(step);
		state = data;
		ASSERT_EQ(0, daynight_init(step, engine));
		StepClock::advance_ms(4999);
		fire_timeouts();
		ASSERT_FALSE(state->initialised);
		StepClock::advance_ms(1);
		fire_timeouts();
		ASSERT_TRUE(state->initialised);
		deliver();
	}
	// One evaluation per step of 1 / rate seconds.
	void evaluate(int times = 1)
	{
		for (int i = 0; i < times; i++) {
			StepClock::advance_ms(1000 / settings.day_night_step_rate);
			fire_timeouts();
			deliver();
		}
	}
	void exposure(int32_t e)
	{
		info_pool_set_int(48, 0, INFO_POOL_VOLATILE, e);
	}
	int32_t param(uint32_t id)
	{
		int32_t v = -1;
		EXPECT_EQ(0, param_get_int(id, 0, &v));
		return v;
	}
	int32_t day_flag()
	{
		int32_t v = -1;
		EXPECT_EQ(0, info_pool_get_int(23, 0, &v));
		return v;
	}
	// Runs from undecided into day (at once), then to night after its limit.
	void to_night()
	{
		exposure(0);
		evaluate();
		exposure(990000);
		evaluate(3);
		ASSERT_EQ(DAYNIGHT_DARK, state->ill_state);
	}
	std::string root;
	daynight_settings settings;
	algo_step *step = nullptr;
	daynight_state *state = nullptr;
};

struct ThresholdCase {
	int32_t level;
	int64_t night;
	int64_t day;
};

TEST_F(DayNight, ThresholdsFollowTheShiftLevel)
{
	const ThresholdCase cases[] = {{100, 980000, 326666}, {50, 513333, 171111}, {0, 46666, 15555}};
	start();
	for (const ThresholdCase &c : cases) {
		param_set_int(56, 0, c.level);
		deliver();
		EXPECT_EQ(c.night, state->night_threshold) << c.level;
		EXPECT_EQ(c.day, state->day_threshold) << c.level;
		EXPECT_EQ(c.day, state->base_day_threshold) << c.level;
	}
}

TEST_F(DayNight, MappedSliderSpansTheExposureRange)
{
	settings.map_slider_to_min_max_exposure = 1;
	info_pool_set_int(60, 0, INFO_POOL_VOLATILE, 10000);
	start(4000000);
	struct {
		int32_t level;
		double night, day;
	} cases[] = {{0, 120000, 40001}, {50, 692820, 230940}, {100, 4000000, 1333333}};
	for (const auto &c : cases) {
		param_set_int(56, 0, c.level);
		deliver();
		evaluate();
		EXPECT_NEAR(c.night, state->night_threshold, c.night * 1e-3) << c.level;
		EXPECT_NEAR(c.day, state->day_threshold, c.day * 1e-3) << c.level;
	}

	log.clear();
	info_pool_set_int(61, 0, INFO_POOL_VOLATILE, 90000);
	evaluate();
	EXPECT_EQ(OFF, state->night_threshold);
	EXPECT_EQ(OFF, state->day_threshold);
	EXPECT_EQ(OFF, state->base_day_threshold);
	EXPECT_EQ("Exposure range too small for automatic day/night transition\n", log.text(DEBUG_WARNING));
}

TEST_F(DayNight, MaximumGainLimitsTheMaximumExposure)
{
	settings.override_max_gain = 1;
	int32_t unity[2] = {1000, 0};
	info_pool_set_blob(67, 0, INFO_POOL_VOLATILE, unity, sizeof unity);
	start();
	// 48 dB is 251.19 x the exposure at unity gain.
	EXPECT_EQ(251189, daynight_limit_max_exposure(state, 1000000));
	EXPECT_EQ(200000, daynight_limit_max_exposure(state, 200000));
	EXPECT_EQ((int64_t)(0.98 * 251189), state->night_threshold);
}

TEST_F(DayNight, SwitchesAfterEachTimeLimit)
{
	start();
	// The initial state: day, from no stored flag.
	EXPECT_EQ((std::vector<std::string>{"ircut 1 0", "DayNightVision 0 1"}), seen);
	EXPECT_EQ(1, param(67));
	seen.clear();
	fake_cl.calls.clear();

	// From undecided at once; day is what the filter has already.
	exposure(0);
	evaluate();
	EXPECT_EQ(DAYNIGHT_LIT, state->ill_state);
	EXPECT_TRUE(seen.empty());
	EXPECT_EQ(1, param(107));

	// Night once night verdicts have held day_to_night_time_limit (2 s).
	exposure(980000);
	evaluate(2);
	EXPECT_TRUE(seen.empty());
	evaluate();
	EXPECT_EQ((std::vector<std::string>{"ircut 0 0", "DayNightVision 0 0"}), seen);
	EXPECT_EQ(std::vector<std::string>{"set_bw_mode(0,1)"}, fake_cl.lines());
	EXPECT_EQ(0, param(67));
	EXPECT_EQ(0, param(107));
	EXPECT_EQ(0, day_flag());
	EXPECT_EQ(DAYNIGHT_DARK, state->ill_state);
	struct stat st;
	EXPECT_EQ(0, stat((root + "/etc/dynamic/vistrad/ip.db").c_str(), &st));

	// Day once below the day threshold for night_to_day_time_limit (10 s).
	seen.clear();
	exposure(326665);
	evaluate(10);
	EXPECT_TRUE(seen.empty());
	evaluate();
	EXPECT_EQ((std::vector<std::string>{"ircut 1 0", "DayNightVision 0 1"}), seen);
	EXPECT_EQ(1, param(67));
	EXPECT_EQ(1, day_flag());

	// A verdict that changes back stops the timer.
	seen.clear();
	exposure(980000);
	evaluate();
	exposure(0);
	evaluate();
	exposure(980000);
	evaluate();
	EXPECT_TRUE(seen.empty());
}

TEST_F(DayNight, StoredNightIsTheInitialState)
{
	info_pool_set_int(23, 0, INFO_POOL_PERSISTENT, 0);
	ASSERT_EQ(0, info_pool_write_entry());
	info_pool_remove(23, 0, INFO_POOL_INT);
	start();
	EXPECT_EQ("ircut 0 0", seen.at(0));
	EXPECT_EQ(0, param(67));
}

TEST_F(DayNight, NightSoonAfterDayHalvesTheDayThresholdAndHoldsBlackAndWhite)
{
	start();
	to_night();
	exposure(0);
	evaluate(11); // day after 10 s
	ASSERT_EQ(DAYNIGHT_LIT, state->ill_state);
	exposure(990000);
	evaluate(3); // night again 2 s later
	ASSERT_EQ(DAYNIGHT_DARK, state->ill_state);
	log.clear();
	fake_cl.calls.clear();
	exposure(200000);
	evaluate();
	EXPECT_EQ(1, state->oscillations);
	EXPECT_EQ(326666 / 2, state->day_threshold);
	EXPECT_EQ(" 1 oscillations detected, adjusting darkness threshold  from 326666 to 163333!\n Last BR "
	          "ratio = 0\n"
	          "Oscillation reduction factor 2.000000\n",
	          log.text(DEBUG_INFO));

	// The next day keeps black-and-white for oscillation_time seconds.
	exposure(100000);
	evaluate(11);
	ASSERT_EQ(DAYNIGHT_LIT, state->ill_state);
	EXPECT_TRUE(fake_cl.lines("set_bw_mode").empty());
	evaluate(9);
	EXPECT_TRUE(fake_cl.lines("set_bw_mode").empty());
	evaluate();
	EXPECT_EQ(std::vector<std::string>{"set_bw_mode(0,0)"}, fake_cl.lines("set_bw_mode"));
}

TEST_F(DayNight, DampedThresholdReturnsAfterTheResetTime)
{
	settings.threshold_reset_time = 30;
	start();
	to_night();
	exposure(0);
	evaluate(11); // day
	exposure(990000);
	evaluate(4); // night again, and damped
	ASSERT_EQ(1, state->oscillations);
	ASSERT_EQ(326666 / 2, state->day_threshold);
	evaluate(25); // 29 s after the switch to day
	EXPECT_EQ(326666 / 2, state->day_threshold);
	evaluate(2);
	EXPECT_EQ(0, state->oscillations);
	EXPECT_EQ(326666, state->day_threshold);
}

struct ColourCase {
	uint32_t hdr;
	int32_t quotient;
	int32_t deviation;
	int32_t counter_before;
	int32_t counter_after;
	int verdict;
};

TEST_F(DayNight, ColourVerdict)
{
	const int32_t Q = 16384;
	const ColourCase cases[] = {
	    {0, 0, 100, 0, 1, 0},     {0, 0, 100, 4, 5, 1},     {0, 0, 100, 5, 5, 1},
	    {0, 20 * Q, 10, 3, 0, 0}, {0, 20 * Q, 11, 4, 5, 1}, {0, 10 * Q - 1, 0, 4, 5, 1},
	    {0, 10 * Q, 0, 4, 0, 0},  {1, 0, 10, 4, 0, 0},      {1, 0, 11, 4, 5, 1},
	};
	start();
	for (const ColourCase &c : cases) {
		state->hdr_mode = c.hdr;
		state->ir_counter = c.counter_before;
		EXPECT_EQ(c.verdict, daynight_colour_verdict(state, c.quotient, c.deviation))
		    << c.hdr << " " << c.quotient << " " << c.deviation;
		EXPECT_EQ(c.counter_after, state->ir_counter);
	}
}

TEST_F(DayNight, ColourDetectionHoldsNightForFiveEvaluations)
{
	settings.use_ir_light_detection = 1;
	start();
	to_night();
	platform_soc_stats *record = g_new0(platform_soc_stats, 1);
	record->header.type = PLATFORM_DATA_SOC_STATS;
	record->header.stream_id = -1;
	record->header.release = [](control_job *j) { g_free(j); };
	control_dispatch(engine, &record->header);
	ASSERT_TRUE(state->have_stats);
	seen.clear();
	exposure(0);
	evaluate(4);
	EXPECT_EQ(4, state->ir_counter);
	evaluate(10); // the verdict is day from the fifth, for 10 s
	EXPECT_TRUE(seen.empty());
	evaluate();
	EXPECT_EQ("ircut 1 0", seen.at(0));
}

TEST_F(DayNight, UserModeForcesTheFilter)
{
	start();
	exposure(0);
	evaluate();
	seen.clear();
	param_set_int(55, 0, 0); // "no": night at once
	deliver();
	EXPECT_EQ((std::vector<std::string>{"ircut 0 0", "DayNightVision 0 0"}), seen);
	seen.clear();
	evaluate(20);
	EXPECT_TRUE(seen.empty());
	param_set_int(55, 0, 1); // "yes"
	deliver();
	EXPECT_EQ((std::vector<std::string>{"ircut 1 0", "DayNightVision 0 1"}), seen);
	seen.clear();
	exposure(990000);
	evaluate(20);
	EXPECT_TRUE(seen.empty());
	param_set_int(55, 0, 2); // auto: decided again, at once from undecided
	deliver();
	evaluate();
	EXPECT_EQ((std::vector<std::string>{"ircut 0 0", "DayNightVision 0 0"}), seen);
}

// The light logic's state moves the filter in automatic mode, at start as
// later, unless the product ignores it.
TEST_F(DayNight, LightLogicStateMovesTheFilter)
{
	param_set_int(58, 0, 0);
	start();
	EXPECT_EQ(
	    (std::vector<std::string>{"ircut 1 0", "DayNightVision 0 1", "ircut 0 0", "DayNightVision 0 0"}),
	    seen);
	param_set_int(58, 0, 1);
	deliver();
	EXPECT_EQ(DAYNIGHT_DAY, state->applied);
}

TEST_F(DayNight, LightLogicStateIgnored)
{
	settings.ignore_lightlogic_switch = 1;
	param_set_int(58, 0, 0);
	start();
	EXPECT_EQ((std::vector<std::string>{"ircut 1 0", "DayNightVision 0 1"}), seen);
	param_set_int(58, 0, 1);
	deliver();
	param_set_int(58, 0, 0);
	deliver();
	EXPECT_EQ(DAYNIGHT_DAY, state->applied);
	EXPECT_EQ(2u, seen.size());
}

TEST_F(DayNight, ActionEngineShiftOnlyReports)
{
	settings.action_engine_triggered_shift = 1;
	start();
	seen.clear();
	exposure(0);
	evaluate();
	exposure(990000);
	evaluate(3);
	EXPECT_EQ((std::vector<std::string>{"AboveIlluminanceLevel 0 1", "AboveIlluminanceLevel 0 0"}), seen);
	EXPECT_EQ(0, param(107));
	EXPECT_EQ(1, param(67));
}

TEST_F(DayNight, FailedMoveStoresNothingAndIsRetried)
{
	start();
	exposure(0);
	evaluate();
	seen.clear();
	ircut_result = -4;
	exposure(990000);
	evaluate(3);
	EXPECT_EQ(std::vector<std::string>{"ircut 0 0"}, seen);
	EXPECT_EQ(1, day_flag());
	EXPECT_EQ(1, param(67));
	EXPECT_EQ(DAYNIGHT_LIT, state->ill_state);
	EXPECT_EQ(DAYNIGHT_DAY, state->applied);

	// Tried again once the verdict has held for the limit again.
	seen.clear();
	ircut_result = -255;
	evaluate();
	EXPECT_TRUE(seen.empty());
	evaluate();
	EXPECT_EQ("ircut 0 0", seen.at(0));
	EXPECT_EQ(0, day_flag());
}

TEST_F(DayNight, MoveStandsWhenTheStoreCannotBeWritten)
{
	start();
	exposure(0);
	evaluate();
	ASSERT_EQ(0, system(("rm -rf " + root + "/etc").c_str()));
	log.clear();
	exposure(990000);
	evaluate(3);
	EXPECT_EQ(DAYNIGHT_NIGHT, state->applied);
	EXPECT_EQ(0, param(67));
	EXPECT_NE(std::string::npos,
	          log.text(DEBUG_WARNING).find("Day/night: could not store the day flag 0\n"));
}

class DayNightPower : public DayNight
{
      protected:
	void SetUp() override
	{
		DayNight::SetUp();
		settings.power_control_enabled = 1;
		settings.ir_cut_filter_power = 16384;
	}
	void grant(uint32_t q14)
	{
		ASSERT_NE(nullptr, registered);
		registered->granted = q14;
		registered->callback(registered->user_data, q14);
	}
};

TEST_F(DayNightPower, SwitchWaitsForASufficientGrant)
{
	start();
	EXPECT_EQ((std::vector<std::string>{"register irc", "ircut 1 0", "DayNightVision 0 1"}), seen);
	// Even the state the filter has is asked power for; the grant, once
	// it comes, is given back.
	seen.clear();
	exposure(0);
	evaluate();
	EXPECT_EQ(std::vector<std::string>{"request irc 16384"}, seen);
	grant(16384);
	evaluate();
	EXPECT_EQ((std::vector<std::string>{"request irc 16384", "request irc 0"}), seen);
	grant(0);

	seen.clear();
	exposure(990000);
	evaluate(3);
	EXPECT_EQ(std::vector<std::string>{"request irc 16384"}, seen);
	EXPECT_EQ(DAYNIGHT_DARK, state->ill_state);
	evaluate(3);
	EXPECT_EQ(1u, seen.size()); // one request while one is pending

	grant(16384 - 164);
	evaluate();
	EXPECT_EQ(1u, seen.size());
	seen.clear();
	grant(16384 - 163);
	StepClock::advance_ms(999);
	fire_timeouts();
	EXPECT_TRUE(seen.empty());
	StepClock::advance_ms(1);
	fire_timeouts();
	EXPECT_EQ((std::vector<std::string>{"ircut 0 0", "DayNightVision 0 0", "request irc 0"}), seen);
	EXPECT_EQ(0, param(67));
}

TEST_F(DayNightPower, WithoutTheServiceTheSwitchIsRetried)
{
	power_answer = 0;
	start();
	exposure(0);
	evaluate();
	EXPECT_EQ(DAYNIGHT_LIT, state->ill_state); // nothing to move
	seen.clear();
	exposure(990000);
	evaluate(3);
	EXPECT_EQ(std::vector<std::string>{"request irc 16384"}, seen);
	EXPECT_EQ(DAYNIGHT_LIT, state->ill_state);
	EXPECT_EQ(1, param(107));
	evaluate();
	EXPECT_EQ(1u, seen.size());
	evaluate();
	EXPECT_EQ(2u, seen.size());
	EXPECT_EQ(DAYNIGHT_DAY, state->applied);
}

TEST_F(DayNightPower, DestroyUnregistersTheConsumer)
{
	start();
	seen.clear();
	control_remove_group(engine, last_group);
	EXPECT_EQ(std::vector<std::string>{"unregister irc"}, seen);
	// Gone from the parameter store too.
	param_set_int(55, 0, 0);
	deliver();
	EXPECT_EQ(1u, seen.size());
}

} // namespace

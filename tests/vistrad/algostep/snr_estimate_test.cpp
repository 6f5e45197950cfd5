// The signal-to-noise estimate on a hand-made sensor, run by its own timeout
// on the stepped clock.
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "algostep/snr_estimate.h"
#include "platform/sensor.h"
#include "step_fixture.h"

namespace
{

const int32_t Q14 = 16384;

// What reached the consumer of data type 128.
std::vector<snr_record> records;

int record_snr(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	if (job && job->type == SNR_DATA_TYPE)
		records.push_back(*reinterpret_cast<snr_record *>(job));
	return 0;
}

class Snr : public StepFixture
{
      protected:
	void SetUp() override
	{
		StepFixture::SetUp();
		records.clear();
		add_sensor(0, 10000, 255, 0);
	}
	sensor *add_sensor(int32_t stream_id, double full_well, double adu, double read_noise)
	{
		sensor *s = sensor_new();
		s->full_well = (int32_t)lround(full_well * Q14);
		s->full_well_adu8 = (int32_t)lround(adu * Q14);
		s->read_noise_min_gain = (int32_t)lround(read_noise * Q14);
		platform_add_sensor(plat, s, stream_id);
		return s;
	}
	// The step with its consumer of type 128 on the stream, created and
	// initialised as the module table does.
	algo_step *start(int32_t stream_id, int32_t set_point, int expect_init = 0)
	{
		settings.default_set_point = set_point;
		auto *state = g_new0(snr_state, 1);
		state->settings = &settings;
		algo_step *step = algo_step_create_stream_id(
		    stream_id, snr_vors_gen01_init, snr_vors_gen01_run, snr_vors_gen01_destroy, state);
		algo_step_add_output_stream_id(step, SNR_DATA_TYPE, stream_id);
		snr_vors_gen01_specifics(nullptr, engine, stream_id, step, &settings);
		add_step(step);
		algo_step *consumer =
		    algo_step_create_stream_id(stream_id, nullptr, record_snr, nullptr, nullptr);
		algo_step_add_input_stream_id(consumer, SNR_DATA_TYPE, stream_id);
		add_step(consumer);
		EXPECT_EQ(expect_init, snr_vors_gen01_init(step, engine));
		return step;
	}
	void tick()
	{
		StepClock::advance_ms(200);
		fire_timeouts();
	}
	int32_t imfix(uint32_t id, int32_t stream_id = 0)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, info_pool_get_imfix(id, stream_id, &v));
		return v;
	}
	snr_settings settings = {};
};

TEST_F(Snr, FixedPointDivisionRoundsHalvesAwayFromZero)
{
	EXPECT_EQ(8192, snr_q14_div(1, 2));
	EXPECT_EQ(-8192, snr_q14_div(-1, 2));
	EXPECT_EQ(5461, snr_q14_div(1, 3));  // 5461.33
	EXPECT_EQ(10923, snr_q14_div(2, 3)); // 10922.67
	EXPECT_EQ(-10923, snr_q14_div(-2, 3));
}

TEST_F(Snr, FullWellExampleEveryTwoHundredMilliseconds)
{
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, Q14);
	algo_step *step = start(0, 55);
	auto *state = static_cast<snr_state *>(algo_step_get_local_data(step));
	EXPECT_NEAR(10000.0 / 255, state->conversion_gain / (double)Q14, 1e-4);

	StepClock::advance_ms(199);
	fire_timeouts();
	EXPECT_TRUE(records.empty());
	StepClock::advance_ms(1);
	fire_timeouts();
	ASSERT_EQ(1u, records.size());
	EXPECT_EQ(SNR_DATA_TYPE, records[0].header.type);
	EXPECT_EQ(0, records[0].header.stream_id);
	double ratio = records[0].snr / (double)Q14;
	EXPECT_NEAR(46.44, ratio, 0.01);
	EXPECT_EQ(records[0].snr, imfix(79));
	EXPECT_NEAR(33.34, imfix(80) / (double)Q14, 0.01);
	int32_t snr = 0;
	ASSERT_EQ(0, param_get_int(68, 0, &snr));
	EXPECT_EQ(46, snr);

	for (int i = 0; i < 4; i++)
		tick();
	EXPECT_EQ(5u, records.size());
}

struct SetPointCase {
	int32_t set_point;
	bool replaced;
	int32_t snr;
};

TEST_F(Snr, SetPointOutOfRangeIsReplacedAtEveryRun)
{
	// Read noise 0: a set point of 0 gives signal 0 and noise taken as 1.0.
	const SetPointCase cases[] = {
	    {129, true, 46}, {-1, true, 46}, {128, false, 71}, {0, false, 0}, {55, false, 46}};
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, Q14);
	for (const SetPointCase &c : cases) {
		control_stop(engine);
		control_free(engine);
		engine = control_new(plat);
		records.clear();
		start(0, c.set_point);
		for (int run = 0; run < 2; run++) {
			log.clear();
			tick();
			EXPECT_EQ(c.replaced ? "SNR: default set point out of range, using default\n" : "",
			          log.text(DEBUG_WARNING))
			    << c.set_point;
		}
		ASSERT_EQ(2u, records.size()) << c.set_point;
		int32_t snr = -1;
		ASSERT_EQ(0, param_get_int(68, 0, &snr));
		EXPECT_EQ(c.snr, snr) << c.set_point;
	}
}

TEST_F(Snr, ReadNoiseAddsToTheShotNoise)
{
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, 4 * Q14); // 9.8 e per unit
	platform_remove_all_sensor(plat, 0);
	add_sensor(0, 10000, 255, 10);
	start(0, 100);
	tick();
	ASSERT_EQ(1u, records.size());
	double s = 10000.0 / 255 / 4 * 100;
	EXPECT_NEAR(s / sqrt(s + 100), records[0].snr / (double)Q14, 0.01);
}

TEST_F(Snr, BadGainPublishesNothing)
{
	start(0, 55);
	tick(); // no gain in the pool: reported once in the process
	tick();
	EXPECT_EQ("snr_vors_gen01_run: unable to get sensor_gain from info_pool\n", log.text(DEBUG_INFO));

	log.clear();
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, 0);
	tick();
	EXPECT_EQ("noise estimation: gains must be positive: 0.000000\n", log.text(DEBUG_WARNING));
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, -Q14);
	tick();
	EXPECT_TRUE(records.empty());
	int32_t v;
	EXPECT_NE(0, info_pool_get_imfix(79, 0, &v));

	// The timeout kept running: a good gain publishes at the next run.
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, Q14);
	tick();
	EXPECT_EQ(1u, records.size());
}

TEST_F(Snr, InitNeedsASensorWithAPositiveFullWell)
{
	start(1 << 8, 55, -1);
	EXPECT_EQ("snr_vors_gen01_init: Could not get sensor\n", log.text(DEBUG_WARNING));
	log.clear();
	platform_remove_all_sensor(plat, 0);
	add_sensor(0, 10000, 0, 0);
	start(0, 55, -1);
	EXPECT_EQ("snr_vors_gen01_init: fw_adu should be positive \n", log.text(DEBUG_WARNING));
}

// A step of another channel estimates with that channel's sensor.
TEST_F(Snr, EachChannelUsesItsOwnSensor)
{
	add_sensor(1 << 8, 20000, 255, 0);
	info_pool_set_imfix(14, 0, INFO_POOL_VOLATILE, Q14);
	info_pool_set_imfix(14, 1 << 8, INFO_POOL_VOLATILE, Q14);
	start(0, 55);
	start(1 << 8, 55);
	tick();
	ASSERT_EQ(2u, records.size());
	EXPECT_NEAR(46.44, imfix(79, 0) / (double)Q14, 0.01);
	EXPECT_NEAR(46.44 * sqrt(2.0), imfix(79, 1 << 8) / (double)Q14, 0.02);
}

} // namespace

// The rows of the day/night, image-control, signal-to-noise and helmet steps
// through the module table: settings read with their defaults, the step's
// inputs and outputs, and what each module adds of its own.
#include <gtest/gtest.h>

#include <string>

#include "algostep/algo_cl_modules.h"
#include "algostep/daynight_vorsalind.h"
#include "algostep/helmet_detect.h"
#include "algostep/image_ctrl.h"
#include "algostep/snr_estimate.h"
#include "core/control.h"
#include "core/control_timeout.h"
#include "log_capture.h"
#include "optics/light_sensor.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "prodconf_builder.h"

namespace
{

void fixed_clock(struct timespec *now)
{
	now->tv_sec = 500;
	now->tv_nsec = 0;
}

int read_lux(light_sensor *)
{
	return 42;
}

class Rows : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		control_timeout_set_clock(fixed_clock);
		conf = prodconf_new();
		conf->read_item = prodconf_read_item;
		plat = platform_vorsalind_create(nullptr, conf, 2);
		engine = control_new(plat);
	}
	void TearDown() override
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		prodconf_free(conf);
		control_timeout_set_clock(nullptr);
	}
	const algo_cl_row &row(const char *name)
	{
		for (const algo_cl_row &r : algo_cl_table)
			if (std::string(r.name) == name)
				return r;
		ADD_FAILURE() << name;
		return algo_cl_table[0];
	}
	algo_step *step_of(int32_t owner)
	{
		GList *groups = control_get_groups_of_owner(engine, (uint32_t)owner);
		algo_step *step = nullptr;
		if (g_list_length(groups) == 1)
			step = static_cast<algo_step *>(static_cast<algo_group *>(groups->data)->steps->data);
		g_list_free(groups);
		return step;
	}
	static std::string io(GList *list)
	{
		std::string out;
		for (GList *l = list; l; l = l->next) {
			auto *o = static_cast<algo_output *>(l->data);
			out += (out.empty() ? "" : " ") + std::to_string(o->type) + "@" +
			       std::to_string(o->stream_id);
		}
		return out;
	}
	static int64_t due_in_us(const control_timeout *t)
	{
		return (t->deadline.sec - 500) * 1000000 + t->deadline.usec;
	}
	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

TEST_F(Rows, DayNightCopiesItsSettingsWithTheLightSensor)
{
	prodconf_node *config = pc_node(pc_section(conf, "algo_daynight_vorsalind"), "config");
	pc_node(config, "slider_factor", {"0"});
	pc_node(config, "day_night_step_rate", {"20"});
	pc_node(config, "hysteresis_factor", {"2.5"});
	pc_node(config, "ir_cut_filter_power", {"1.5"});
	pc_node(config, "power_control_enabled", {"true"});
	light_sensor *sensor = light_sensor_new();
	sensor->read = read_lux;
	platform_add_light_sensor(plat, sensor, 0);

	void *settings = row("algo_daynight_vorsalind").create(conf, engine, 0);
	ASSERT_NE(nullptr, settings);
	algo_step *step = step_of(0);
	ASSERT_NE(nullptr, step);
	auto *s = static_cast<daynight_state *>(algo_step_get_local_data(step));
	EXPECT_NE(settings, (void *)&s->s); // a copy
	EXPECT_EQ(5, s->s.slider_factor);
	EXPECT_EQ(10, s->s.day_night_step_rate);
	EXPECT_FLOAT_EQ(2.5f, s->s.hysteresis_factor);
	EXPECT_EQ(24576, s->s.ir_cut_filter_power);
	EXPECT_EQ(1, s->s.power_control_enabled);
	EXPECT_EQ(read_lux, s->s.illuminance);
	// Defaults of keys the configuration leaves out.
	EXPECT_EQ(98, s->s.d2n_shift_exp_lvl_fraction);
	EXPECT_EQ(10 * 16384, s->s.chroma_quotient_threshold);
	EXPECT_EQ(16384, s->s.max_exposure_ratio);
	EXPECT_FLOAT_EQ(2.0f, s->s.oscillation_reduction_factor);
	EXPECT_EQ(1, s->s.prevent_oscillations);
	EXPECT_EQ(3600, s->s.threshold_reset_time);
	EXPECT_EQ(-1, s->s.forced_n2d_shift_ev_level);
	ASSERT_NE(nullptr, s->timeout);
	EXPECT_EQ(0, s->timeout->job.stream_id);
	EXPECT_EQ(5000000, due_in_us(s->timeout));
	EXPECT_EQ("42@0 " + std::to_string(s->timeout->type) + "@-1", io(step->inputs));
	EXPECT_EQ("", io(step->outputs));
	row("algo_daynight_vorsalind").free(settings);
}

TEST_F(Rows, DayNightRateBelowOneAndNoLightSensor)
{
	prodconf_node *config = pc_node(pc_section(conf, "algo_daynight_vorsalind"), "config");
	pc_node(config, "day_night_step_rate", {"0"});
	void *settings = row("algo_daynight_vorsalind").create(conf, engine, 256);
	ASSERT_NE(nullptr, settings);
	auto *s = static_cast<daynight_state *>(algo_step_get_local_data(step_of(256)));
	EXPECT_EQ(1, s->s.day_night_step_rate);
	EXPECT_EQ(nullptr, s->s.illuminance);
	EXPECT_FLOAT_EQ(3.0f, s->s.hysteresis_factor);
	row("algo_daynight_vorsalind").free(settings);
}

// The reader fills an absent record from its fields' defaults, as it does
// for every module.
TEST_F(Rows, ImageControlSettingsWithTheirDefaults)
{
	prodconf_node *config = pc_node(pc_section(conf, "algo_qorex_image_ctrl_cl"), "config");
	pc_node(pc_node(config, "exposure_mode_default"), "max_fast_shutter", {"900"});
	pc_node(config, "exposure_mode_low_noise");
	pc_node(config, "fixed_rgain_indoor", {"700"});
	void *made = row("algo_qorex_image_ctrl_cl").create(conf, engine, 0);
	ASSERT_NE(nullptr, made);
	auto *settings = static_cast<qorex_image_ctrl_settings *>(made);
	EXPECT_EQ(900, settings->exposure_mode_default.max_fast_shutter);
	EXPECT_EQ(50, settings->exposure_mode_default.exposure_priority_normal);
	EXPECT_EQ(2000, settings->exposure_mode_low_noise.max_fast_shutter);
	EXPECT_EQ(500, settings->exposure_mode_motion.max_fast_shutter);
	EXPECT_EQ(100, settings->exposure_mode_motion.exposure_priority_lowlight);
	EXPECT_EQ(700, settings->fixed_indoor[0]);
	EXPECT_EQ(0, settings->fixed_indoor[1]);
	algo_step *step = step_of(0);
	ASSERT_NE(nullptr, step);
	EXPECT_EQ(nullptr, step->inputs);
	EXPECT_EQ(nullptr, step->outputs);
	EXPECT_EQ(made, static_cast<qorex_image_ctrl_data *>(algo_step_get_local_data(step))->settings);
	row("algo_qorex_image_ctrl_cl").free(made);
}

TEST_F(Rows, SignalToNoiseEveryTwoHundredMilliseconds)
{
	pc_node(pc_section(conf, "algo_snr_vors_gen01"), "config");
	void *made = row("algo_snr_vors_gen01").create(conf, engine, 256);
	ASSERT_NE(nullptr, made);
	EXPECT_EQ(55, static_cast<snr_settings *>(made)->default_set_point);
	algo_step *step = step_of(256);
	ASSERT_NE(nullptr, step);
	auto *s = static_cast<snr_state *>(algo_step_get_local_data(step));
	EXPECT_EQ(55, *s->set_point);
	EXPECT_EQ(200000, due_in_us(s->timeout));
	EXPECT_EQ(256, s->timeout->job.stream_id);
	EXPECT_EQ("128@256", io(step->outputs));
	EXPECT_EQ(std::to_string(s->timeout->type) + "@-1", io(step->inputs));
	row("algo_snr_vors_gen01").free(made);
}

TEST_F(Rows, HelmetPollsAtItsInterval)
{
	pc_node(pc_node(pc_section(conf, "algo_helmet_detect"), "config"), "detect_poll_time", {"3"});
	void *made = row("algo_helmet_detect").create(conf, engine, 0);
	ASSERT_NE(nullptr, made);
	algo_step *step = step_of(0);
	ASSERT_NE(nullptr, step);
	auto *s = static_cast<helmet_state *>(algo_step_get_local_data(step));
	EXPECT_EQ(3, *s->poll_time);
	EXPECT_EQ(-1, s->fd);
	EXPECT_EQ(3000000, due_in_us(s->timeout));
	EXPECT_EQ("153@0 " + std::to_string(s->timeout->type) + "@-1", io(step->inputs));
	row("algo_helmet_detect").free(made);
}

} // namespace

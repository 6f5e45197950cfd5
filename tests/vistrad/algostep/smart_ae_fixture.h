#pragma once
// Smart auto exposure against the real control engine, parameter database
// and info pool, with a test sensor recording the lines and gain indexes it
// is given. The camera library, the video input's frame rate, the sensor
// modules' limits and the data-cache writes are replaced at link time
// (--wrap) by the fakes below, which record what they were asked.

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "../log_capture.h"
#include "../prodconf_builder.h"
#include "algostep/hist_analyzer.h"
#include "algostep/smart_ae.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "libcl.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

struct AeFake {
	int hdr_method_fails = 0;
	uint32_t hdr_method = 0;
	uint32_t hdr_mode = 0;
	uint32_t started = 1;
	aaa_state aaa = {};
	shutter_gain sg = {};
	int sg_get_fails = 0;
	std::vector<shutter_gain> sg_sets;
	std::vector<double> dboffsets;
	std::vector<double> adj_gains;
	std::vector<double> corrections;
	double input_fps = 30;
	std::vector<double> fps_sets;
	int32_t limits[2] = {0, 0};
	int32_t ratio[2] = {16384, 16384 * 16};
	std::vector<uint32_t> param_gets;
	std::vector<uint32_t> registered;
	std::vector<std::vector<uint8_t>> cache_writes;
	std::vector<std::string> caches;
	int cache_write_result = 1;
	// The test sensor's record.
	std::vector<int32_t> lines;                 // set_shutter
	std::vector<std::vector<int32_t>> shutters; // set_shutters {short, long}
	std::vector<std::vector<int32_t>> gains;    // set_gains {long, short}
	int32_t wdr = 0;
};

inline AeFake ae_fake;

inline int32_t q14(double v)
{
	return (int32_t)lround(v * 16384.0);
}

class SmartAeTest : public ::testing::Test
{
      protected:
	static const int32_t line_us = 30;
	static constexpr double gain_step_db = 0.3;

	void SetUp() override
	{
		ae_fake = AeFake();
		char tmpl[] = "/tmp/smart-ae-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root_ = tmpl;
		setenv("VISTRAD_ROOT", root_.c_str(), 1);
		ASSERT_NE(nullptr, param_db_init());
		ASSERT_EQ(0, info_pool_init());
		conf_ = prodconf_new();
		plat_ = platform_vorsalind_create(nullptr, conf_, 1);
		engine_ = control_new(plat_);
		sensor_ = make_sensor();
		platform_add_sensor(plat_, sensor_, 0);
		log_.clear();
	}
	void TearDown() override
	{
		if (step_) {
			auto *settings = static_cast<smart_ae_settings *>(local_->head.settings);
			algo_step_destroy(step_, engine_);
			smart_ae_settings_free(settings);
		}
		control_stop(engine_);
		platform_remove_all_sensor(plat_, 0); // frees the sensor
		platform_destroy(plat_);
		control_free(engine_);
		prodconf_free(conf_);
		info_pool_free();
		param_db_free();
		std::string cmd = "rm -rf '" + root_ + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}

	static sensor *make_sensor()
	{
		sensor *s = sensor_new();
		s->line_time = line_us * 16384;
		s->min_exposure_time = 31;
		s->max_exposure_time = 166667;
		s->min_gain = q14(1.0);
		s->max_gain = q14(64.0);
		s->gain_table_size = 300;
		s->gain_table = g_new0(uint32_t, s->gain_table_size);
		for (int i = 0; i < s->gain_table_size; i++)
			s->gain_table[i] = (uint32_t)q14(pow(10.0, i * gain_step_db / 20.0));
		s->current_fps = 30 * 16384;
		s->exposure_to_lines = [](sensor *, int32_t us) { return (us + line_us / 2) / line_us; };
		s->exposure_to_lines_for_frame = [](sensor *, int32_t us, int32_t) {
			return (us + line_us / 2) / line_us;
		};
		s->lines_to_exposure = [](sensor *, int32_t lines) { return lines * line_us; };
		s->set_shutter = [](sensor *, int32_t lines, int32_t) {
			ae_fake.lines.push_back(lines);
			return 0;
		};
		s->set_shutters = [](sensor *, int, const int32_t *, const int32_t *lines, int32_t *out) {
			ae_fake.shutters.push_back({lines[0], lines[1]});
			out[0] = lines[0];
			out[1] = lines[1];
			return 0;
		};
		s->set_gains = [](sensor *, int count, const int32_t *indexes, const int32_t *) {
			ae_fake.gains.push_back(std::vector<int32_t>(indexes, indexes + count));
			return 0;
		};
		s->get_wdr_mode = [](sensor *) { return ae_fake.wdr; };
		return s;
	}

	// The step's settings from a configuration section of the keys given.
	smart_ae_settings *
	read_settings(const std::vector<std::pair<std::string, std::vector<std::string>>> &keys)
	{
		prodconf_node *s = pc_node(pc_section(conf_, "algo_smart_ae_cl"), "config");
		for (auto &kv : keys)
			pc_node(s, kv.first.c_str(), kv.second);
		void *record = nullptr;
		EXPECT_TRUE(
		    prodconf_read_item(conf_, &smart_ae_settings_schema, "algo_smart_ae_cl", 0, &record));
		return static_cast<smart_ae_settings *>(record);
	}

	// The maps every frame needs: a target of 20 % and a saturation target
	// of 1 % at every gain, no damping.
	static std::vector<std::pair<std::string, std::vector<std::string>>>
	base_keys(std::vector<std::pair<std::string, std::vector<std::string>>> more = {})
	{
		std::vector<std::pair<std::string, std::vector<std::string>>> keys = {
		    {"ae_gain_map", {"0", "36"}},
		    {"ae_target_map", {"20", "20"}},
		    {"ae_saturation_map", {"1", "1"}},
		    {"ae_short_target_map", {"10", "10"}},
		};
		for (auto &m : more)
			keys.push_back(m);
		return keys;
	}

	// The parameters' defaults as the daemon gives them at start, with
	// the test's own values over them.
	static void set_param_defaults(const std::vector<std::pair<uint32_t, int32_t>> &params)
	{
		const std::pair<uint32_t, int32_t> defaults[] = {
		    {12, 0},     {13, 1},   {14, 50}, {16, 1}, {17, -1}, {18, 0},   {19, 100},
		    {29, 33333}, {30, 100}, {33, 0},  {34, 0}, {37, 0},  {38, 100}, {40, 0}};
		for (auto &d : defaults)
			param_set_int(d.first, 0, d.second);
		for (auto &p : params)
			param_set_int(p.first, 0, p.second);
	}

	int create(const std::vector<std::pair<std::string, std::vector<std::string>>> &keys,
	           const std::vector<std::pair<uint32_t, int32_t>> &params = {})
	{
		set_param_defaults(params);
		ae_fake.param_gets.clear();
		ae_fake.registered.clear();
		local_ = g_new0(smart_ae_local, 1);
		local_->head.settings = read_settings(keys);
		step_ = algo_step_create_stream_id(0, smart_ae_cl_init, smart_ae_cl_run, smart_ae_cl_destroy,
		                                   local_);
		int rc = smart_ae_cl_init(step_, engine_);
		state_ = &local_->state;
		return rc;
	}

	// Clears what init applied, so a test sees only its own frames.
	void clear_records()
	{
		ae_fake.lines.clear();
		ae_fake.shutters.clear();
		ae_fake.gains.clear();
		ae_fake.sg_sets.clear();
		ae_fake.fps_sets.clear();
		ae_fake.adj_gains.clear();
		ae_fake.cache_writes.clear();
		log_.clear();
	}

	void set_param(uint32_t id, int32_t value)
	{
		param_set_int(id, 0, value);
		param_value v = {};
		v.id = id;
		v.stream_id = 0;
		ae_update_params_cb(step_, nullptr, &v, nullptr);
	}

	// A linear analysis whose top data lies at the top bin (no
	// near-saturation push) and whose levels leave room above.
	static hist_analysis analysis(double weight, double saturation = 0.0)
	{
		hist_analysis a = {};
		a.kind = HIST_KIND_CFA;
		a.bin_count = 64;
		a.weight = weight;
		a.weight_unsaturated = weight;
		a.saturation = saturation;
		a.saturation_raw = saturation;
		a.near_sat_target = 0.15;
		a.near_sat_position = 62;
		a.forecast_bin = 62;
		a.data_end = 62;
		for (double &p : a.level_position)
			p = 10;
		return a;
	}

	// Dispatches one image-statistics record to the step.
	int frame(const hist_analysis &long_frame, const hist_analysis *short_frame = nullptr)
	{
		auto *rec = g_new0(image_stats_record, 1);
		rec->header.type = SMART_AE_INPUT_STATS;
		rec->header.stream_id = 0;
		rec->header.release = [](control_job *job) { g_free(job); };
		rec->long_frame = long_frame;
		if (short_frame)
			rec->short_frame = *short_frame;
		EXPECT_EQ(0, control_queue_job(engine_, &rec->header));
		int rc = smart_ae_cl_run(step_, engine_);
		take_queued();
		return rc;
	}

	// Takes the records a frame left in the engine's queue (the statistics
	// record first), keeping the HDR-threshold records.
	void take_queued()
	{
		control_job *job;
		while ((job = control_get_input(engine_))) {
			if (job->type == SMART_AE_OUTPUT) {
				smart_ae_hdr_record r;
				memcpy(&r, job, sizeof(r));
				queued_.push_back(r);
			}
			control_release_jobs_if(
			    engine_, [](const control_job *j, void *head) { return j == head ? 1 : 0; }, job);
		}
	}

	void set_exposure(int32_t shutter, double gain)
	{
		smart_ae_exposure &l = state_->exp[AE_LONG];
		l.shutter = l.want_shutter = shutter;
		l.gain = l.want_gain = gain;
		l.ev = shutter * gain;
	}

	std::string root_;
	prodconf *conf_ = nullptr;
	platform *plat_ = nullptr;
	control *engine_ = nullptr;
	sensor *sensor_ = nullptr;
	smart_ae_local *local_ = nullptr;
	algo_step *step_ = nullptr;
	smart_ae_state *state_ = nullptr;
	std::vector<smart_ae_hdr_record> queued_; // 162 records the frames queued
	LogCapture log_;
};

#pragma once
// One dynamic-image-control step on a real engine and platform with a test
// sensor, its settings read from a hand-made configuration, the camera
// library recorded (libcl_fake.h), and records dispatched to it one by one.

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../log_capture.h"
#include "../prodconf_builder.h"
#include "algostep/dic.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "libcl_fake.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

inline int32_t q14(double v)
{
	return (int32_t)lround(v * 16384.0);
}

struct test_sensor_state {
	int32_t wdr = 0;
	int32_t gain_index[2] = {0, 0};
};

inline test_sensor_state &test_sensor()
{
	static test_sensor_state s;
	return s;
}

inline int32_t test_sensor_wdr(struct sensor *)
{
	return test_sensor().wdr;
}

inline int32_t test_sensor_gain_index(struct sensor *, int32_t stream_id)
{
	return test_sensor().gain_index[(stream_id & 255) != 0 ? 1 : 0];
}

using dic_keys = std::vector<std::pair<std::string, std::string>>;

class DicTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/dic-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root_ = tmpl;
		setenv("VISTRAD_ROOT", root_.c_str(), 1);
		ASSERT_NE(nullptr, param_db_init());
		info_pool_init();
		conf_ = prodconf_new();
		plat_ = platform_vorsalind_create(nullptr, conf_, 1);
		engine_ = control_new(plat_);
		test_sensor() = test_sensor_state();
		sensor *sen = sensor_new();
		sen->get_wdr_mode = test_sensor_wdr;
		sen->get_gain_index = test_sensor_gain_index;
		sen->gain_step = q14(0.5); // dB a gain index
		control_add_sensor(engine_, sen, 0);
		fake_cl.reset();
		memset(dic_ce_output_sent, 0, sizeof(dic_ce_output_sent));
		memset(&stats_, 0, sizeof(stats_));
		stats_.header.type = HIST_ANALYZER_DATA_IMAGE_STATS;
		stats_.rgb.total = 1000.0;
		stats_.rgb.bin_count = 59;
		stats_.cfa.bin_count = 64;
		stats_.cfa.data_end = 62;
		stats_.short_frame.bin_count = 253;
		stats_.short_frame.data_end = 251;
	}
	void TearDown() override
	{
		control_stop(engine_);
		platform_destroy(plat_);
		control_free(engine_);
		prodconf_free(conf_);
		dic_settings_free(settings_);
		info_pool_free();
		param_db_free();
		std::string cmd = "rm -rf '" + root_ + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}

	// Reads the settings from "algo_dic_cl: config:" with these keys and
	// creates and initialises the step; every value is a comma list.
	void make(const dic_keys &keys, int wdr = 0)
	{
		test_sensor().wdr = wdr;
		prodconf_node *module = pc_section(conf_, DIC_MODULE_NAME);
		prodconf_node *config = pc_node(module, "config");
		for (auto &kv : keys) {
			std::vector<std::string> values;
			std::string v = kv.second;
			size_t at = 0;
			while (true) {
				size_t comma = v.find(',', at);
				values.push_back(v.substr(at, comma == std::string::npos ? std::string::npos
				                                                         : comma - at));
				if (comma == std::string::npos)
					break;
				at = comma + 1;
			}
			pc_node(config, kv.first.c_str(), values);
		}
		conf_->read_item = prodconf_read_item;
		// The table's own create, with init seen on its way.
		algo_cl_module desc = dic_cl_module;
		desc.init = [](algo_step *step, control *engine) {
			made_step() = step;
			return dic_cl_init(step, engine);
		};
		made_step() = nullptr;
		settings_ =
		    static_cast<dic_settings *>(algo_cl_create(&desc, DIC_MODULE_NAME, conf_, engine_, 0));
		ASSERT_NE(nullptr, settings_);
		fake_cl.calls.clear();
		control_init_groups(engine_);
		step_ = made_step();
		ASSERT_NE(nullptr, step_);
		st_ = static_cast<dic_state *>(algo_step_get_local_data(step_));
	}

	void dispatch(control_job *job)
	{
		job->queued = 0;
		job->release = nullptr;
		ASSERT_EQ(0, control_queue_job(engine_, job));
		control_dispatch(engine_, nullptr);
	}
	// One statistics record; the calls it made.
	std::vector<fake_call> run()
	{
		fake_cl.calls.clear();
		stats_.header.stream_id = 0;
		dispatch(&stats_.header);
		return fake_cl.calls;
	}
	void threshold_record(double value)
	{
		struct {
			control_job header;
			double value;
		} rec = {};
		rec.header.type = HDR_THRESHOLD_TYPE;
		rec.value = value;
		dispatch(&rec.header);
	}
	static std::vector<std::string> names(const std::vector<fake_call> &calls)
	{
		std::vector<std::string> out;
		for (auto &c : calls)
			out.push_back(c.name);
		return out;
	}
	static size_t count(const std::vector<fake_call> &calls, const std::string &name)
	{
		size_t n = 0;
		for (auto &c : calls)
			n += c.name == name;
		return n;
	}
	// The last call of that name, copied out of the list.
	static std::unique_ptr<fake_call> find(const std::vector<fake_call> &calls, const std::string &name)
	{
		for (auto it = calls.rbegin(); it != calls.rend(); ++it)
			if (it->name == name)
				return std::make_unique<fake_call>(*it);
		return nullptr;
	}

	static algo_step *&made_step()
	{
		static algo_step *step;
		return step;
	}
	std::string root_;
	prodconf *conf_ = nullptr;
	platform *plat_ = nullptr;
	control *engine_ = nullptr;
	dic_settings *settings_ = nullptr;
	algo_step *step_ = nullptr;
	dic_state *st_ = nullptr;
	image_stats_record stats_;
	LogCapture log_;
};

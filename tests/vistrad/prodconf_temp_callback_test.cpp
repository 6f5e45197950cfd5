// Temperature callbacks a configuration asks for, registered with the
// stand-in temperature service on a private bus.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "core/control_temperature.h"
#include "core/prodconf.h"
#include "core/prodconf_hwsetup.h"
#include "log_capture.h"
#include "platform/platform_vorsalind.h"
#include "temperature_service.h"

namespace
{

std::vector<std::string> signalled;

void on_limit(control *, int32_t limit_id, control_temperature_limit *limit)
{
	signalled.push_back(std::to_string(limit_id) + "/stream " +
	                    std::to_string(*static_cast<int32_t *>(limit->user_data)));
}

const char config[] = R"(REGISTER_TEMP_CALLBACKS: [HEATER, NO_ACTIVE_OVER, NOT_THERE]
HEATER:
  SENSOR_ID: 3
  LIMIT: 70
  ACTIVE_OVER: true
  CALLBACK_FUNC: ON_LIMIT
NO_ACTIVE_OVER:
  SENSOR_ID: 3
  LIMIT: 60
  CALLBACK_FUNC: ON_LIMIT
)";

class TempCallback : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		signalled.clear();
		char tmpl[] = "/tmp/tempcb-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		g_mkdir_with_parents((root + "/etc/vistrad").c_str(), 0755);
		write("/etc/vistrad/extra.enc", "");
		write("/etc/vistrad/extra.yaml", config);
		conf = prodconf_new();
		prodconf_add_function(conf, "ON_LIMIT", (prodconf_func)on_limit);
		testing::internal::CaptureStderr();
		ASSERT_EQ(0, prodconf_load(conf));
		testing::internal::GetCapturedStderr();
		plat = platform_vorsalind_create(nullptr, conf, 1);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
		log.clear();
	}
	void TearDown() override
	{
		conf->stop(conf, engine);
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		prodconf_free(conf);
		std::string cmd = "rm -rf '" + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}
	void write(const std::string &relative, const std::string &text)
	{
		ASSERT_TRUE(g_file_set_contents((root + relative).c_str(), text.data(), (gssize)text.size(),
		                                nullptr));
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}

	std::string root;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
	TemperatureService service;
	LogCapture log;
};

// A complete item is registered and its callback runs on its signal; an item
// missing a key names it and registers nothing.
TEST_F(TempCallback, CompleteItemsRegisterAndRunOnTheirSignal)
{
	service.start(7);
	prodconf_register_callbacks(conf, engine, 0);
	EXPECT_TRUE(
	    logged("prodconf_register_temp_callback: no info for node ACTIVE_OVER in NO_ACTIVE_OVER\n"));
	EXPECT_TRUE(logged("prodconf_register_temp_callback: could not find temperature item NOT_THERE\n"));
	EXPECT_EQ(1u, service.registrations());
	ASSERT_EQ(1u, g_list_length(conf->temp_callbacks[0]));
	auto *limit = static_cast<control_temperature_limit *>(conf->temp_callbacks[0]->data);
	EXPECT_EQ(3u, limit->sensor_id);
	EXPECT_EQ(70, limit->limit);
	EXPECT_EQ(1, limit->direction);
	EXPECT_EQ(7, limit->limit_id);

	service.emit(7);
	ASSERT_TRUE(pump_until([] { return !signalled.empty(); }));
	EXPECT_EQ("7/stream 0", signalled[0]);

	// The stop hook takes it out of the engine: a later signal reaches nobody.
	EXPECT_EQ(0, conf->stop(conf, engine));
	EXPECT_EQ(nullptr, conf->temp_callbacks[0]);
	signalled.clear();
	service.emit(7);
	pump_for(50);
	EXPECT_TRUE(signalled.empty());
}

// A refused registration is logged and kept out of the channel's list, so
// the stop hook does not free the engine's discarded record a second time.
TEST_F(TempCallback, RefusedRegistrationStaysOutOfTheList)
{
	service.start();
	service.set_mode("refuse");
	prodconf_register_temp_callback(conf, engine, "HEATER", 256);
	EXPECT_TRUE(logged("Could not register temp callback for HEATER\n"));
	EXPECT_EQ(nullptr, conf->temp_callbacks[1]);
}

} // namespace

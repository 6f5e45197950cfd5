#pragma once
// A channel's worth of daemon for the optics drivers: a root prefix, the
// parameter database, a configuration, a platform and an engine on the
// simulated SoC, the log captured, and the optics wait replaced by a note in
// the request log so that no test waits.

#include <gtest/gtest.h>
#include <simsoc.h>
#include <simsoc_gpio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "../log_capture.h"
#include "../prodconf_builder.h"
#include "core/control.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "optics/optics_sleep.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"

inline void optics_test_sleep(uint32_t ms)
{
	simsoc_log("sleep %u", ms);
}

// Detection reads the pins through the platform's slot, which reads the model.
inline int optics_test_gpio_get(struct platform *, const char *pin, int *value)
{
	int level = simsoc_gpio_level(pin);
	if (level < 0)
		return -4;
	*value = level;
	return PLATFORM_OK;
}

inline std::string take_text(char *text)
{
	std::string out = text ? text : "";
	free(text);
	return out;
}

// The lines of a text that start with a prefix, prefix removed.
inline std::vector<std::string> lines_with(const std::string &text, const std::string &prefix)
{
	std::vector<std::string> out;
	size_t at = 0;
	while (at < text.size()) {
		size_t end = text.find('\n', at);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(at, end - at);
		if (line.compare(0, prefix.size(), prefix) == 0)
			out.push_back(line.substr(prefix.size()));
		at = end + 1;
	}
	return out;
}

class OpticsTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/optics-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root_ = tmpl;
		setenv("VISTRAD_ROOT", root_.c_str(), 1);
		ASSERT_NE(nullptr, param_db_init());
		conf_ = prodconf_new();
		plat_ = platform_vorsalind_create(nullptr, conf_, 2);
		plat_->gpio_get = optics_test_gpio_get;
		engine_ = control_new(plat_);
		old_sleep_ = optics_set_sleep(optics_test_sleep);
		simsoc_gpio_reset();
		simsoc_log_clear();
		simsoc_clear_failures();
	}
	void TearDown() override
	{
		// As the daemon ends: the engine stops (its bus client with it),
		// the devices go, then the engine.
		control_stop(engine_);
		platform_destroy(plat_);
		control_free(engine_);
		prodconf_free(conf_);
		param_db_free();
		optics_set_sleep(old_sleep_);
		simsoc_gpio_reset();
		simsoc_clear_failures();
		std::string cmd = "rm -rf '" + root_ + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}
	// A file under the root prefix.
	void write_file(const std::string &rel, const std::string &text)
	{
		std::string path = root_ + "/" + rel;
		std::string dir = path.substr(0, path.rfind('/'));
		ASSERT_EQ(0, system(("mkdir -p '" + dir + "'").c_str()));
		ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr));
	}
	// A module section with its keys.
	prodconf_node *section(const char *name, const std::vector<std::pair<std::string, std::string>> &keys)
	{
		prodconf_node *s = pc_section(conf_, name);
		for (auto &kv : keys)
			pc_node(s, kv.first.c_str(), {kv.second});
		return s;
	}
	std::string simsoc_lines(const std::string &prefix)
	{
		std::string out;
		for (auto &l : lines_with(take_text(simsoc_log_dump()), prefix))
			out += l + "\n";
		return out;
	}
	std::string root_;
	prodconf *conf_ = nullptr;
	platform *plat_ = nullptr;
	control *engine_ = nullptr;
	optics_sleep_fn old_sleep_ = nullptr;
	LogCapture log_;
};

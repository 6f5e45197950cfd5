#pragma once
// What the step tests share: the parameter store, the info pool and a control
// engine over a platform, with the clock of the timeouts stepped by hand, and
// the recording camera library on a linear stream whose 3A state words are
// marked (7, 9) so that a test sees them passed through.

#include <gtest/gtest.h>

#include <time.h>

#include <string>

#include "core/control.h"
#include "core/control_timeout.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/stream_map.h"
#include "libcl_fake.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "tvx_sim.h"

// An entry of input 0's settings in the capture library's stand-in.
inline std::string tvx_setting(const char *key)
{
	char *v = tvx_sim_setting(0, key);
	std::string s = v ? v : "(none)";
	g_free(v);
	return s;
}

struct StepClock {
	static struct timespec &now()
	{
		static struct timespec t = {1000, 0};
		return t;
	}
	static void read(struct timespec *out)
	{
		*out = now();
	}
	static void set(time_t sec, long usec = 0)
	{
		now().tv_sec = sec;
		now().tv_nsec = usec * 1000;
	}
	static void advance_ms(long ms)
	{
		long long ns = (long long)now().tv_nsec + ms * 1000000LL;
		now().tv_sec += (time_t)(ns / 1000000000LL);
		now().tv_nsec = (long)(ns % 1000000000LL);
	}
};

class StepFixture : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		control_timeout_set_clock(StepClock::read);
		StepClock::set(1000);
		fake_cl.reset();
		fake_cl.state = {0, 0, {7, 9}};
		fake_cl.hdr_mode = 0;
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(-1);
		param_db_set_announcer(&quiet);
		info_pool_init();
		plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
	}
	void TearDown() override
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		info_pool_free();
		param_db_set_announcer(nullptr);
		param_db_free();
		param_map_free();
		stream_map_free();
		control_timeout_set_clock(nullptr);
	}
	// Delivers every queued parameter change to its callbacks.
	static void deliver()
	{
		while (param_changes_pending())
			param_distribute_callback_one_change();
	}
	// Dispatches the timeouts whose deadline has passed, as the main loop does.
	void fire_timeouts()
	{
		GList *expired = control_take_expired_timeouts(engine, nullptr);
		for (GList *l = expired; l; l = l->next)
			control_queue_job(engine, static_cast<control_job *>(l->data));
		g_list_free(expired);
		control_dispatch(engine, nullptr);
	}
	// Puts the step into a group of its own in the engine, which destroys it
	// at the engine's stop.
	algo_step *add_step(algo_step *step)
	{
		int32_t *owner = g_new(int32_t, 1);
		*owner = step->stream_id;
		algo_group *group = algo_group_create(owner);
		algo_group_insert(group, step);
		control_add_group(engine, group);
		last_group = group;
		return step;
	}
	static void no_announce(dbus_api *, int32_t, const param_value *) {}
	struct prodconf_stub {
		int unused;
	} conf_stub = {};
	const param_announcer quiet = {no_announce, no_announce};
	LogCapture log;
	struct platform *plat = nullptr;
	control *engine = nullptr;
	algo_group *last_group = nullptr;
};

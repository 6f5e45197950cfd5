// The camera library on the simulated SoC: its messages captured with their
// priorities, the simulated kernel's netlink peer and video reset around
// every test, the library brought down at the end. VIN 0's clock is
// stopped; a ticker gives a frame whenever someone waits for one, so the
// frame thread and the 3A start run without a wall clock. Tests that step
// frames themselves stop it.
#ifndef TESTS_CAMLIB_LIBCL_FIXTURE_H
#define TESTS_CAMLIB_LIBCL_FIXTURE_H

#include "cl_log.h"
#include "frame_ticker.h"
#include "libcl.h"
#include "simsoc.h"
#include "simsoc_netlink.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct LibclMessages {
	std::mutex mu;
	std::vector<std::pair<int, std::string>> lines;
};

inline LibclMessages &libcl_messages()
{
	static LibclMessages m;
	return m;
}

inline void libcl_capture(int priority, const char *text)
{
	LibclMessages &m = libcl_messages();
	std::lock_guard<std::mutex> lk(m.mu);
	m.lines.emplace_back(priority, text);
}

class LibclTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_vin_reset();
		simsoc_vin_set_framerate(0, 0); // every frame stepped by the test
		simsoc_video_reset();
		simsoc_netlink_reset();
		simsoc_clear_failures();
		clear_messages();
		cl_set_log_fn(libcl_capture);
		simsoc_log_clear();
		start_ticker();
	}
	void TearDown() override
	{
		start_ticker(); // the frame thread ends after its frame in progress
		libcl_deinit();
		stop_ticker();
		simsoc_video_reset();
		simsoc_netlink_reset();
		cl_set_log_fn(nullptr);
		EXPECT_EQ(simsoc_open_files(), 0);
	}
	void start_ticker()
	{
		ticker_.start();
	}
	void stop_ticker()
	{
		ticker_.stop();
	}
	static void clear_messages()
	{
		LibclMessages &m = libcl_messages();
		std::lock_guard<std::mutex> lk(m.mu);
		m.lines.clear();
	}
	// Times the text was logged at the priority (-1: any priority).
	static int logged(const std::string &text, int priority = -1)
	{
		LibclMessages &m = libcl_messages();
		std::lock_guard<std::mutex> lk(m.mu);
		return (int)std::count_if(m.lines.begin(), m.lines.end(), [&](const auto &l) {
			return l.second == text && (priority < 0 || l.first == priority);
		});
	}
	static std::string sim_log()
	{
		char *s = simsoc_log_dump();
		std::string text = s ? s : "";
		free(s);
		return text;
	}
	template <typename Fn> static bool eventually(Fn fn)
	{
		return ::eventually(fn);
	}
	static uint32_t started()
	{
		uint32_t s = 99;
		return libcl_get_aaa_started(&s) == 0 ? s : 99;
	}
	// Up, and its netlink loop past the catch-up with a DSP at rest: an
	// answered command shows the loop is reading.
	void init_library(int32_t vins = 1)
	{
		ASSERT_EQ(libcl_init(1024, vins, nullptr, nullptr), 1);
		ASSERT_EQ(simsoc_netlink_command(0x18020003u, 2000), 1);
		clear_messages();
	}
	// 3A started by the kernel as when the video starts.
	void start_library(int32_t vins = 1)
	{
		init_library(vins);
		ASSERT_EQ(simsoc_video_start(0), 0);
		ASSERT_EQ(started(), 1u);
	}
	FrameTicker ticker_;
};

#endif

// The camera library on n default video inputs, brought up through its own
// prepare and start as the daemon's library is, with one difference: its
// frame thread is held, so that a benchmark runs the thread's work
// (cl_main_loop_begin, cl_main_loop_frame, cl_main_loop_end) on its own
// thread and times a frame whole. The simulated SoC hands over a ready
// frame at once. The root must hold the colour-correction files the
// prepare reads (tests/support/cc_firmware.h).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cl_customerloop.h"
#include "cl_log.h"
#include "cl_main_loop.h"
#include "libcl.h"
#include "sim_board.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"

namespace bench
{

// The library's log is dropped unless BENCH_LIBCL_LOG is set.
inline void libcl_log_line(int, const char *line)
{
	static const bool on = getenv("BENCH_LIBCL_LOG") != nullptr;
	if (on)
		fputs(line, stderr);
}

// The library initialised, its frame thread held, on a simulated SoC of n
// inputs with a stepped clock; nothing prepared or started yet.
inline bool libcl_init_held(unsigned n, const std::string &root)
{
	simulated_board(n);
	setenv("VISTRAD_ROOT", root.c_str(), 1);
	cl_set_log_fn(libcl_log_line);
	cl_main_loop_hold(1);
	return libcl_init(1024, (int32_t)n, nullptr, nullptr) == 1;
}

// Runs f with the clock ticking: the library's start waits for frames.
template <typename F> auto with_clock(F f)
{
	std::atomic<bool> done{false};
	std::thread clock([&] {
		while (!done.load()) {
			simsoc_vin_tick(0);
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		}
	});
	auto result = f();
	done = true;
	clock.join();
	return result;
}

// From here on each tick hands the frame thread's work a ready frame.
inline void libcl_replay_frames()
{
	simsoc_qvd_replay(1);
	simsoc_vin_tick(0);
}

// Prepared and started by the library's own calls, as the kernel's
// commands would.
inline bool libcl_bring_up(unsigned n, const std::string &root)
{
	if (!libcl_init_held(n, root) || cl_customerloop_prepare_aaa() != 1 ||
	    !with_clock([] { return cl_customerloop_start_aaa() == 1; }))
		return false;
	libcl_replay_frames();
	return true;
}

// After cl_main_loop_end: the library stopped (unless the simulated
// kernel's stop did it already) and taken down.
inline void libcl_bring_down()
{
	if (cl_customerloop_aaa_started())
		(void)cl_customerloop_stop_aaa();
	simsoc_qvd_replay(0);
	libcl_deinit();
	cl_main_loop_hold(0);
	cl_set_log_fn(nullptr);
	unsetenv("VISTRAD_ROOT");
}

} // namespace bench

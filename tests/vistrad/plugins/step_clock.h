#pragma once
// A frame clock stepped by a test plug-in inside the daemon, for process
// tests that start the daemon with VIN 0's own clock stopped
// (SIMSOC_VIN_FRAMERATE=0) so that the loop sees every frame whatever the
// machine's load.
//
// The clock has its own thread: the capture-mode start waits on the main
// loop for frames, so ticks cannot come from there. Until the first frame
// was handled it ticks every 5 ms; afterwards once per ask() (step_frame), and
// again only when a frame is overdue (one whose statistics could not be
// fetched), which step_clock_stop() counts.
//
// A plug-in whose frames must each see what the last one's steps sent steps
// from the main loop instead (step_clock::ask_from_main_loop): the clock's
// thread then only stands by and ticks when a frame is overdue.
#include <glib.h>

#include "simsoc_qvd.h"
#include "simsoc_vin.h"

namespace step_clock
{

inline GMutex lock;
inline GCond wanted;
inline bool pending, stopping, handled_one, main_loop_steps;
inline GThread *thread;
inline unsigned resent;

// Polls cond every 100 us for at most two seconds.
template <typename Cond> bool wait_until(Cond cond)
{
	gint64 until = g_get_monotonic_time() + 2 * G_TIME_SPAN_SECOND;
	while (!cond()) {
		if (g_get_monotonic_time() > until)
			return false;
		g_usleep(100);
	}
	return true;
}

// One frame through the camera library's frame thread: tick() once that
// thread is back waiting for statistics (it has sent what the last frame's
// steps asked for), then wait until it has taken the new frame and waits
// again. Without this the frame thread falls behind on a loaded machine and
// exposures reach the sensor frames late. False when a wait ran out.
template <typename Tick> bool frame_thread_step(Tick tick)
{
	bool ok = wait_until([] { return simsoc_qvd_stat_waiting() > 0; });
	uint64_t handed = simsoc_qvd_stat_handed();
	tick();
	return wait_until(
	           [handed] { return simsoc_qvd_stat_handed() > handed && simsoc_qvd_stat_waiting() > 0; }) &&
	       ok;
}

inline void step_frame()
{
	frame_thread_step([] { simsoc_vin_tick(0); });
}

inline gpointer run(gpointer)
{
	g_mutex_lock(&lock);
	while (!stopping) {
		gint64 wait = !handled_one      ? 5 * G_TIME_SPAN_MILLISECOND
		              : main_loop_steps ? 5 * G_TIME_SPAN_SECOND
		                                : 500 * G_TIME_SPAN_MILLISECOND;
		gint64 until = g_get_monotonic_time() + wait;
		bool asked = true;
		while (!pending && !stopping)
			if (!g_cond_wait_until(&wanted, &lock, until)) {
				asked = false;
				break;
			}
		if (stopping)
			break;
		pending = false;
		if (!asked && handled_one)
			resent++;
		if (asked && main_loop_steps)
			continue;
		bool stepping = asked && handled_one;
		g_mutex_unlock(&lock);
		if (stepping)
			step_frame();
		else
			simsoc_vin_tick(0);
		g_mutex_lock(&lock);
	}
	g_mutex_unlock(&lock);
	return nullptr;
}

inline void start()
{
	if (!thread)
		thread = g_thread_new("step-clock", run, nullptr);
}

inline gboolean ask_now(gpointer)
{
	g_mutex_lock(&lock);
	handled_one = true;
	pending = true;
	g_cond_signal(&wanted);
	g_mutex_unlock(&lock);
	return G_SOURCE_REMOVE;
}

// A frame is being handled: the next one may come once the main loop has
// run the rest of its steps.
inline void ask()
{
	g_idle_add(ask_now, nullptr);
}

// One frame, stepped from the main loop once the record's whole dispatch is
// done: the tick waits until the camera library's frame thread is back
// waiting for statistics (it has sent what the last record's steps asked
// for), and returns once that thread has taken the new frame. A frame that
// did not come in time counts as overdue.
inline gboolean step_from_main_loop(gpointer)
{
	bool ok = frame_thread_step([] {
		g_mutex_lock(&lock);
		simsoc_vin_tick(0);
		g_mutex_unlock(&lock);
	});
	if (!ok) {
		g_mutex_lock(&lock);
		resent++;
		g_mutex_unlock(&lock);
	}
	return G_SOURCE_REMOVE;
}

// A frame was handled: the main loop steps the next one when it is idle.
inline void ask_from_main_loop()
{
	g_mutex_lock(&lock);
	handled_one = main_loop_steps = true;
	pending = true;
	g_cond_signal(&wanted);
	g_mutex_unlock(&lock);
	g_idle_add(step_from_main_loop, nullptr);
}

// Stops the thread; false when it was not running.
inline bool stop()
{
	if (!thread)
		return false;
	g_mutex_lock(&lock);
	stopping = true;
	g_cond_signal(&wanted);
	g_mutex_unlock(&lock);
	g_thread_join(thread);
	thread = nullptr;
	return true;
}

} // namespace step_clock

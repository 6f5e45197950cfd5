#pragma once
// A frame clock stepped by a test plug-in inside the daemon, for process
// tests that start the daemon with VIN 0's own clock stopped
// (SIMSOC_VIN_FRAMERATE=0) so that the loop sees every frame whatever the
// machine's load.
//
// The clock has its own thread: the capture-mode start waits on the main
// loop for frames, so ticks cannot come from there. Until the first frame
// was handled it ticks every 5 ms; afterwards once per step_clock_ask(), and
// again only when a frame is overdue (one whose statistics could not be
// fetched), which step_clock_stop() counts.
#include <glib.h>

#include "simsoc_vin.h"

namespace step_clock
{

inline GMutex lock;
inline GCond wanted;
inline bool pending, stopping, handled_one;
inline GThread *thread;
inline unsigned resent;

inline gpointer run(gpointer)
{
	g_mutex_lock(&lock);
	while (!stopping) {
		gint64 wait = handled_one ? 500 * G_TIME_SPAN_MILLISECOND : 5 * G_TIME_SPAN_MILLISECOND;
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
		g_mutex_unlock(&lock);
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

// A frame was handled: the next one may come.
inline void ask()
{
	g_mutex_lock(&lock);
	handled_one = true;
	pending = true;
	g_cond_signal(&wanted);
	g_mutex_unlock(&lock);
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

#pragma once
// Runs the default main context while a test waits for something to arrive.

#include <glib.h>

#include <functional>

// Runs the default main context until the condition holds (true) or the
// time is up (false).
inline bool pump_until(const std::function<bool()> &done, int timeout_ms = 5000)
{
	gint64 end = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
	guint tick = g_timeout_add(
	    5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
	bool ok;
	while (!(ok = done()) && g_get_monotonic_time() < end)
		g_main_context_iteration(nullptr, TRUE);
	g_source_remove(tick);
	return ok;
}

// Lets whatever is already under way arrive (signals, owner changes).
inline void pump_for(int ms)
{
	pump_until([] { return false; }, ms);
}

#pragma once
// The main loop's two event sources: the timer source fires the engine's
// timeouts and wakes for parameter changes; the input source polls the
// platform's descriptors and hands what they produce to the dispatch handler.

#include <glib.h>

#include "daemon.h"

struct platform;

GSource *daemon_timer_source_new(struct daemon_context *context);
GSource *daemon_input_source_new(struct daemon_context *context, daemon_dispatch_fn handler);
// Rebuilds the input source's poll records from the platform's descriptors.
// 0, or -1 when the platform gives none.
int daemon_input_source_configure(GSource *source);
// The main context polls through the platform's poll operation.
void daemon_set_poll_platform(GMainContext *main_context, struct platform *platform);

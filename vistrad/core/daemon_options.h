#pragma once
// The daemon's command line, and what its options set up before any service
// exists: the process priority and the log sinks.

#include <glib.h>
#include <stdint.h>

struct daemon_options {
	int32_t priority;
	int32_t nice;
	int32_t quiet;
	int32_t verbose;
	int32_t area;
	int32_t exposure;
	int32_t whitebalance;
	int32_t version;
	int32_t daemon;
};

// The option context with its entries bound to the fields of options (main
// entries, then the group "debug"). Null when the context or the group
// cannot be made ("Failed to initate argument-parser." on standard output).
GOptionContext *daemon_options_context_new(struct daemon_options *options);

// A given priority wins over "nice" (10). 0 when nothing was asked or the
// call worked (the new priority is printed unless "quiet"), -1 when it failed.
int daemon_options_set_priority(const struct daemon_options *options);

// Adds debug_output's sinks for the options; stdout_is_terminal says whether
// descriptor 1 is a terminal. debug_output must be initialised.
void daemon_options_add_sinks(const struct daemon_options *options, int stdout_is_terminal);

#include "daemon_options.h"

#include <stdio.h>
#include <sys/resource.h>
#include <syslog.h>
#include <unistd.h>

#include "debug_output.h"

namespace
{

const int sink_fd = 1;

void fill_main_entries(GOptionEntry *e, daemon_options *o)
{
	GOptionEntry entries[] = {
	    {"priority", 'p', 0, G_OPTION_ARG_INT, &o->priority, "Set priority", nullptr},
	    {"nice", 'n', 0, G_OPTION_ARG_NONE, &o->nice, "Nice process", nullptr},
	    {"daemon", 'd', 0, G_OPTION_ARG_NONE, &o->daemon, "Run as daemon", nullptr},
	    {"verbose", 'v', 0, G_OPTION_ARG_NONE, &o->verbose, "Run in verbose mode", nullptr},
	    {"quiet", 'q', 0, G_OPTION_ARG_NONE, &o->quiet, "Run in quiet mode", nullptr},
	    {"version", 'V', 0, G_OPTION_ARG_NONE, &o->version, "Show version", nullptr},
	    {"area", 'A', 0, G_OPTION_ARG_NONE, &o->area, "Dump all area settings", nullptr},
	    {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
	};
	for (size_t i = 0; i < G_N_ELEMENTS(entries); i++)
		e[i] = entries[i];
}

void fill_debug_entries(GOptionEntry *e, daemon_options *o)
{
	GOptionEntry entries[] = {
	    {"exposure", 'e', 0, G_OPTION_ARG_NONE, &o->exposure, "Run in exposure debug mode", nullptr},
	    {"whitebalance", 'w', 0, G_OPTION_ARG_NONE, &o->whitebalance, "Run in whitebalance debug mode",
	     nullptr},
	    {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
	};
	for (size_t i = 0; i < G_N_ELEMENTS(entries); i++)
		e[i] = entries[i];
}

} // namespace

GOptionContext *daemon_options_context_new(struct daemon_options *options)
{
	// GLib copies the entries when they are added.
	GOptionEntry main_entries[8];
	GOptionEntry debug_entries[3];
	fill_main_entries(main_entries, options);
	fill_debug_entries(debug_entries, options);
	GOptionContext *context = g_option_context_new(nullptr);
	GOptionGroup *group =
	    g_option_group_new("debug", "Debug-options:", "Show all debug-options", nullptr, nullptr);
	if (!context || !group) {
		printf("Failed to initate argument-parser.\n");
		if (group)
			g_option_group_unref(group);
		if (context)
			g_option_context_free(context);
		return nullptr;
	}
	g_option_context_add_main_entries(context, main_entries, nullptr);
	g_option_group_add_entries(group, debug_entries);
	g_option_context_add_group(context, group);
	return context;
}

int daemon_options_set_priority(const struct daemon_options *options)
{
	id_t self = (id_t)getpid();
	if (options->priority != 0) {
		if (setpriority(PRIO_PROCESS, self, options->priority) != 0) {
			printf("Failed to set priority %d\n", options->priority);
			return -1;
		}
	} else if (options->nice) {
		if (setpriority(PRIO_PROCESS, self, 10) != 0) {
			printf("Failed to nice process");
			return -1;
		}
	} else {
		return 0;
	}
	if (!options->quiet)
		printf("Process priority is %d\n", getpriority(PRIO_PROCESS, self));
	return 0;
}

void daemon_options_add_sinks(const struct daemon_options *options, int stdout_is_terminal)
{
	if (stdout_is_terminal) {
		if (!options->quiet)
			debug_output_set_sinks(DEBUG_INFO | DEBUG_WARNING, DEBUG_OUTPUT_SINK_FD, sink_fd);
		debug_output_set_sinks(DEBUG_ERROR, DEBUG_OUTPUT_SINK_FD, sink_fd);
	}
	if (!options->quiet)
		debug_output_set_sinks(DEBUG_INFO, DEBUG_OUTPUT_SINK_SYSLOG, LOG_INFO);
	debug_output_set_sinks(DEBUG_WARNING, DEBUG_OUTPUT_SINK_SYSLOG, LOG_WARNING);
	debug_output_set_sinks(DEBUG_ERROR, DEBUG_OUTPUT_SINK_SYSLOG, LOG_ERR);
	// A level keeps the first syslog sink it got, so this only reaches level 1 under "quiet".
	if (options->verbose)
		debug_output_set_sinks(DEBUG_INFO | DEBUG_WARNING, DEBUG_OUTPUT_SINK_SYSLOG, LOG_ERR);
	if (options->area)
		debug_output_set_sinks(DEBUG_AREA, DEBUG_OUTPUT_SINK_FD, sink_fd);
	if (options->exposure)
		debug_output_set_sinks(DEBUG_EXPOSURE, DEBUG_OUTPUT_SINK_FD, sink_fd);
	if (options->whitebalance)
		debug_output_set_sinks(DEBUG_WHITEBALANCE, DEBUG_OUTPUT_SINK_FD, sink_fd);
}

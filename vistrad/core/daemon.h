#pragma once
// The daemon body: start-up in a fixed order, one GLib main loop fed by the
// platform's descriptors and the control engine's timeouts, and the ordered
// teardown. The context is the one record through which the other
// subsystems reach the engine, the streams and the product configuration.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stdint.h>

#include "control_job.h"

struct control;
struct prodconf;
struct prodconf_product_constants;
struct prodconf_area;
struct dbus_api;

struct daemon_context {
	struct control *engine;
	GList *streams; // stream ids as list data
	struct prodconf *conf;
	GMainLoop *loop;
	struct control_timestamp last_dispatch;
	uint32_t last_frame;
	struct dbus_api *api;
	uint32_t temperature_halt;
	uint8_t stream_restart;
	GList *channel_restarts; // channel numbers, each once
	struct prodconf *constants_conf;
};

// Hands the records (taking them out of the list) to the engine and runs one
// dispatch round. release, when given, collects the records' stream ids.
typedef int (*daemon_dispatch_fn)(struct daemon_context *context, GList *records, GList **release);

// The whole life of the daemon; 0 after an orderly run, 1 when the options,
// the priority or becoming a daemon failed. "version" exits with 1.
int daemon_run(int argc, char **argv, struct prodconf *conf);
// daemon_run in two halves, for a program that runs the default main
// context itself: start-up, 0 when the loop may run, 1 as daemon_run's 1
// (nothing to finish), 2 when start-up failed past the options; then, unless
// 1, daemon_finish for the teardown and daemon_run's result.
int daemon_start(int argc, char **argv, struct prodconf *conf);
int daemon_finish(void);
int daemon_dispatch(struct daemon_context *context, GList *records, GList **release);

struct daemon_context *daemon_get_context(void);
extern "C" void daemon_request_stream_restart(void);
extern "C" void daemon_request_channel_restart(int channel);
int daemon_add_stream(struct daemon_context *context, int32_t stream_id);
int daemon_remove_stream(struct daemon_context *context, int32_t stream_id);
void daemon_quit(void);

// Building and tearing down one stream's algorithms while the loop runs.
void daemon_stream_create(struct control *engine, struct prodconf *conf, int32_t stream_id);
void daemon_stream_destroy(struct daemon_context *context, int32_t stream_id, int remove_params);

// 1 while VistradPause is set.
int daemon_is_paused(void);

// The daemon's temperature halt: set while its limit set reports too cold or
// too hot. Each change asks for a stream restart through the hook (the
// daemon's own while it runs). The result is the set's initial state.
int daemon_set_temperature_halt_limits(struct control *engine, uint32_t sensor_id, int32_t limit0,
                                       int32_t limit1, int32_t limit2, int32_t limit3);
uint32_t daemon_get_temperature_halt(void);
void daemon_set_stream_restart_hook(void (*request)(void *data), void *data);

struct prodconf_product_constants *prodconf_get_product_constants(int32_t stream_id);
// The channel's image window (the first of its areas: area_config, then the
// sensor window of the capture mode), or null.
struct prodconf_area *prodconf_get_channel_area(int32_t stream_id);
void prodconf_set_product_constants(struct prodconf_product_constants *constants);
void prodconf_set_product_constants_table(GHashTable *table);

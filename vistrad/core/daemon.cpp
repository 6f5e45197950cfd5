#include "daemon.h"

#include <glib-unix.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <bramble.h>

#include "capture_mode.h"
#include "config.h"
#include "control.h"
#include "control_temperature.h"
#include "daemon_options.h"
#include "daemon_sources.h"
#include "debug_output.h"
#include "debug_registry.h"
#include "frontends/dbus_api/dbus_api.h"
#include "frontends/dbus_api/event_handler.h"
#include "frontends/dbus_api/exposure_reset.h"
#include "frontends/dbus_api/power_control.h"
#include "info_pool.h"
#include "param_db.h"
#include "param_map.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "plugin.h"
#include "prodconf.h"

namespace
{

const char daemon_user[] = "vistrd";
const uint32_t param_vistrad_pause = 1;
const uint32_t first_produced_type = 4;
const uint32_t last_produced_type = 46;

daemon_context context;
uint8_t reread_config;
int32_t paused;
daemon_options options;
GOptionContext *option_context;
GSource *timer_source;
GSource *input_source;
// Streams a restart during a temperature halt destroyed and did not build
// again: the next restart must not destroy them a second time.
GList *streams_down;

char *log_name;

// What start-up got to, so teardown frees exactly what exists.
struct run_state {
	struct platform *platform;
	bool platform_destroyed;
	bool loop_usable;
	bool config_available;
	bool video_control;
};

int32_t stream_at(GList *l)
{
	return GPOINTER_TO_INT(l->data);
}

bool halted(void)
{
	context.temperature_halt = daemon_get_temperature_halt();
	return context.temperature_halt != 0;
}

void deliver_parameters(void)
{
	config_save_if_pending();
	param_distribute_callback_one_change();
}

void init_waiting_groups(void)
{
	if (control_init_groups(context.engine) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to init all groups\n");
}

gboolean on_sighup(gpointer)
{
	reread_config = 1;
	return G_SOURCE_CONTINUE;
}

gboolean on_stop_signal(gpointer)
{
	if (context.loop)
		g_main_loop_quit(context.loop);
	return G_SOURCE_REMOVE;
}

int on_pause_changed(void *, void *, struct param_value *value, struct param_callback *)
{
	if (value)
		paused = value->value;
	return 0;
}

void stream_restart_hook(void *)
{
	daemon_request_stream_restart();
}

uint32_t temperature_halt;
void (*restart_request)(void *);
void *restart_data;

void halt_callback(control *, int32_t, control_temperature_limit_set *, int state)
{
	if (!temperature_halt) {
		if (state != 0 && state != 2)
			return;
		temperature_halt = 1;
	} else {
		if (state != 1)
			return;
		temperature_halt = 0;
	}
	if (restart_request)
		restart_request(restart_data);
}

int parse_options(int *argc, char ***argv)
{
	options = daemon_options();
	option_context = daemon_options_context_new(&options);
	if (option_context) {
		GError *error = nullptr;
		if (g_option_context_parse(option_context, argc, argv, &error))
			return 0;
		if (error) {
			// Logging is not set up yet, so the log line alone would be lost:
			// whoever started us must still learn what was wrong.
			fprintf(stderr, "vistrad: %s\n", error->message);
			debug_output(DEBUG_INFO, 0, "vistrad: %s\n", error->message);
			g_error_free(error);
		}
		g_option_context_free(option_context);
		option_context = nullptr;
	}
	debug_output(DEBUG_ERROR, 0, "Failure when parsing arguments.\n");
	return 1;
}

void drop_privileges(void)
{
	struct passwd *user = getpwnam(daemon_user);
	struct group *group = user ? getgrnam(daemon_user) : nullptr;
	if (!user)
		fprintf(stderr, "Couldn't get uid for user \"%s\".\n", daemon_user);
	else if (!group)
		fprintf(stderr, "Couldn't get gid for group \"%s\".\n", daemon_user);
	else if (setgid(group->gr_gid) != 0)
		fprintf(stderr, "Failed setting gid to %d: %m\n", (int)group->gr_gid);
	else if (initgroups(daemon_user, group->gr_gid) != 0)
		fprintf(stderr, "Unable to run initgroups() with username: %s, gid: %d: %m\n", daemon_user,
		        (int)group->gr_gid);
	else if (setuid(user->pw_uid) != 0)
		fprintf(stderr, "Failed setting uid to %d: %m\n", (int)user->pw_uid);
	else
		return;
	fprintf(stderr, "Failed setting uid and gid of the process.\n");
}

GList *build_stream_list(prodconf *conf)
{
	if (conf->stream_list)
		return conf->stream_list(conf);
	return g_list_append(nullptr, GINT_TO_POINTER(conf->use_stream ? 0 : -1));
}

// False when the loop cannot run; the messages say which part failed.
bool setup_main_loop(void)
{
	context.loop = g_main_loop_new(nullptr, FALSE);
	if (!context.loop) {
		debug_output(DEBUG_ERROR, 0, "Failed to create new mainloop.\n");
		return false;
	}
	daemon_set_poll_platform(g_main_context_default(), control_get_platform(context.engine));
	timer_source = daemon_timer_source_new(&context);
	if (!timer_source) {
		debug_output(DEBUG_ERROR, 0, "Failed to create new mainloop timer source..\n");
		return false;
	}
	if (g_source_attach(timer_source, nullptr) == 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to register timer source for mainloop.\n");
		return false;
	}
	input_source = daemon_input_source_new(&context, daemon_dispatch);
	if (!input_source) {
		debug_output(DEBUG_ERROR, 0, "Failed to create new mainloop input source.\n");
		return false;
	}
	if (daemon_input_source_configure(input_source) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to configure input source for mainloop.\n");
		return false;
	}
	if (g_source_attach(input_source, nullptr) == 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to register input source for mainloop.\n");
		return false;
	}
	return true;
}

// Start steps from the parameter services up to the platform. False when the
// platform could not be made or set up (teardown then starts at its step 9).
bool start_services(run_state *run)
{
	info_pool_init();
	param_map_init();
	param_db_init();

	reread_config = 0;
	g_unix_signal_add(SIGHUP, on_sighup, nullptr);
	g_unix_signal_add(SIGTERM, on_stop_signal, nullptr);
	g_unix_signal_add(SIGINT, on_stop_signal, nullptr);

	power_control_init();
	command_source_register_mainloop_thread();
	event_handler_init(nullptr, nullptr);

	run->video_control = prodconf_video_control(context.conf) != 0;
	context.api = dbus_api_new(run->video_control ? 1 : 0);
	param_db_set_dbus_api(context.api);
	capture_mode_set_video_control(run->video_control ? 1 : 0);

	// No product configuration of this system has a channel-count operation.
	int channels = prodconf_channel_count(context.conf);
	if (channels < 1)
		channels = 1;
	for (int c = 0; c < channels; c++)
		debug_channel_init(c);

	run->platform = platform_vorsalind_create(nullptr, context.conf, channels);
	if (!run->platform) {
		debug_output(DEBUG_ERROR, 0, "Platform initialization failed!\n");
		return false;
	}
	if (!run->video_control && platform_setup(run->platform) != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "Platform setup failed!\n");
		return false;
	}
	return true;
}

// Start steps from the control engine up to the product's run hook.
void start_streams(run_state *run)
{
	prodconf *conf = context.conf;
	context.engine = control_new(run->platform);
	daemon_set_stream_restart_hook(stream_restart_hook, nullptr);
	info_pool_read_entry(context.engine);

	context.streams = build_stream_list(conf);
	param_db_set_default_stream(conf->use_stream ? 0 : -1);
	config_reset_unset_params(context.streams);
	for (GList *l = context.streams; l; l = l->next)
		if (conf->init_param_defaults)
			conf->init_param_defaults(conf, stream_at(l), 1);
	run->config_available = config_load(&context) != 0;

	capture_mode_setup();
	plugin_load_all(context.engine);

	param_register_callback(param_vistrad_pause, 0, on_pause_changed, PARAM_NOTIFY_ON_CHANGE, nullptr,
	                        nullptr);
	param_register_callback(param_vistrad_pause, -1, on_pause_changed, PARAM_NOTIFY_ON_CHANGE, nullptr,
	                        nullptr);

	if (conf->run)
		conf->run(conf, context.engine, context.streams);
}

// Start steps from the main loop to the first delivery of the parameters.
// False when the loop must not run.
bool prepare_loop(run_state *run)
{
	run->loop_usable = setup_main_loop();
	if (!run->loop_usable)
		debug_output(DEBUG_WARNING, 0, "Failure when configuring mainloop.\n");

	param_queue_all();
	for (uint32_t type = first_produced_type; type <= last_produced_type; type++)
		control_mark_produced(context.engine, type);
	control_mark_timeouts_produced(context.engine);

	bool groups_ok = control_init_groups(context.engine) == 0;
	if (!groups_ok)
		debug_output(DEBUG_ERROR, 0, "Failed to init all groups\n");
	deliver_parameters();
	if (!run->video_control && !run->config_available)
		reset_exposure_settings_for_streams(context.streams);
	control_get_timestamp(&context.last_dispatch);

	if (!groups_ok || !run->loop_usable) {
		debug_output(DEBUG_WARNING, 0, "Mainloop ignored due to setup failures.\n");
		return false;
	}
	return true;
}

void destroy_source(GSource **source)
{
	if (!*source)
		return;
	g_source_destroy(*source);
	g_source_unref(*source);
	*source = nullptr;
}

// Teardown steps 1 to 8: everything that exists only once the platform is set up.
void stop_streams(run_state *run)
{
	for (GList *l = context.streams; l; l = l->next)
		if (stream_at(l) >= 0)
			param_remove_stream(stream_at(l));
	event_handler_deinit();
	destroy_source(&input_source);
	destroy_source(&timer_source);
	if (context.loop)
		g_main_loop_unref(context.loop);
	context.loop = nullptr;
	plugin_shutdown_all();
	if (context.conf->stop)
		context.conf->stop(context.conf, context.engine);
	control_stop(context.engine);
	daemon_set_poll_platform(g_main_context_default(), nullptr);
	platform_destroy(run->platform);
	run->platform_destroyed = true;
}

// Teardown steps 9 to 16.
int stop_services(run_state *run)
{
	daemon_teardown_hook();
	debug_deinit();
	// The parameter database announces through the front-end: let go of it
	// before the front-end is freed, so no announcement reaches freed memory.
	param_db_set_dbus_api(nullptr);
	dbus_api_free(context.api);
	context.api = nullptr;
	g_list_free(context.streams);
	context.streams = nullptr;
	g_list_free(context.channel_restarts);
	context.channel_restarts = nullptr;
	g_list_free(streams_down);
	streams_down = nullptr;
	param_free_callbacks();
	control_free(context.engine);
	context.engine = nullptr;
	daemon_set_stream_restart_hook(nullptr, nullptr);
	if (run->platform && !run->platform_destroyed)
		platform_destroy(run->platform);
	param_map_free();
	param_db_free();
	info_pool_free();
	power_control_deinit();
	debug_output(DEBUG_INFO, 0, "Ending vistrad\n");
	closelog();
	debug_output_free();
	g_option_context_free(option_context);
	option_context = nullptr;
	return 0;
}

bool is_down(int32_t stream_id)
{
	return g_list_find(streams_down, GINT_TO_POINTER(stream_id)) != nullptr;
}

void take_down(int32_t stream_id)
{
	if (is_down(stream_id))
		return;
	daemon_stream_destroy(&context, stream_id, 0);
	streams_down = g_list_prepend(streams_down, GINT_TO_POINTER(stream_id));
}

// Unless halted: the streams come back and no longer count as down.
void bring_up(GList *streams)
{
	if (halted())
		return;
	for (GList *l = streams; l; l = l->next) {
		daemon_stream_create(context.engine, context.conf, stream_at(l));
		streams_down = g_list_remove(streams_down, l->data);
	}
}

void restart_all_streams(void)
{
	for (GList *l = context.streams; l; l = l->next)
		take_down(stream_at(l));
	bring_up(context.streams);
	context.stream_restart = 0;
	init_waiting_groups();
}

void restart_channels(void)
{
	for (GList *c = context.channel_restarts; c; c = c->next) {
		int channel = GPOINTER_TO_INT(c->data);
		GList *affected = nullptr;
		for (GList *l = context.streams; l; l = l->next) {
			if (platform_stream_channel(stream_at(l)) != channel)
				continue;
			take_down(stream_at(l));
			affected = g_list_prepend(affected, l->data);
		}
		// Prepending made the order the reverse of the list's.
		bring_up(affected);
		g_list_free(affected);
	}
	g_list_free(context.channel_restarts);
	context.channel_restarts = nullptr;
	init_waiting_groups();
}

void reread_configuration(void)
{
	debug_output(DEBUG_INFO, 0, "Rereading config\n");
	config_load(&context);
	control_stop_groups(context.engine);
	init_waiting_groups();
	reread_config = 0;
	deliver_parameters();
}

// The records live inside the product configuration, which frees their texts
// and channel list: a new record is stored as a copy of its own.
void constants_texts(prodconf_product_constants *pc, char **texts[7])
{
	texts[0] = &pc->dciris_pwm_device;
	texts[1] = &pc->ir_cut_filter_pin;
	texts[2] = &pc->sensor_reset_pin;
	texts[3] = &pc->calibration_path;
	texts[4] = &pc->dpc_file;
	texts[5] = &pc->ffc_file;
	texts[6] = &pc->camblock_i2c_device;
}

void replace_constants(prodconf_product_constants *slot, const prodconf_product_constants *from)
{
	char **texts[7];
	constants_texts(slot, texts);
	for (char **text : texts)
		g_free(*text);
	g_free(slot->channels);
	*slot = from ? *from : prodconf_product_constants();
	if (!from)
		return;
	for (char **text : texts)
		*text = g_strdup(*text);
	slot->channels =
	    static_cast<int32_t *>(g_memdup2(from->channels, sizeof(int32_t) * (size_t)from->channel_count));
}

} // namespace

struct daemon_context *daemon_get_context(void)
{
	return &context;
}

int daemon_is_paused(void)
{
	return paused != 0;
}

void daemon_request_stream_restart(void)
{
	context.stream_restart = 1;
}

void daemon_request_channel_restart(int channel)
{
	if (g_list_find(context.channel_restarts, GINT_TO_POINTER(channel)))
		return;
	context.channel_restarts = g_list_append(context.channel_restarts, GINT_TO_POINTER(channel));
}

void daemon_quit(void)
{
	if (context.loop)
		g_main_loop_quit(context.loop);
}

int daemon_dispatch(struct daemon_context *ctx, GList *records, GList **release)
{
	if (reread_config)
		reread_configuration();
	control_get_timestamp(&ctx->last_dispatch);

	uint32_t newest = ctx->last_frame;
	bool hold = daemon_is_paused() || halted();
	while (records) {
		auto *job = static_cast<control_job *>(records->data);
		records = g_list_delete_link(records, records);
		if (!job) {
			debug_output(DEBUG_WARNING, 0, "No input data in list entry!\n");
			continue;
		}
		if (release && !g_list_find(*release, GINT_TO_POINTER(job->stream_id)))
			*release = g_list_prepend(*release, GINT_TO_POINTER(job->stream_id));
		if ((int32_t)(job->frame - newest) >= 0)
			newest = job->frame;
		if (hold)
			job->type = 0;
		control_queue_job(ctx->engine, job);
	}
	control_dispatch(ctx->engine, nullptr);
	deliver_parameters();
	control_count_frames(ctx->engine, newest - ctx->last_frame);
	ctx->last_frame = newest;

	if (ctx->stream_restart)
		restart_all_streams();
	else if (ctx->channel_restarts)
		restart_channels();
	return 0;
}

void daemon_stream_create(struct control *engine, struct prodconf *conf, int32_t stream_id)
{
	if (conf->create_algos && conf->create_algos(conf, engine, stream_id) != 0)
		debug_output(DEBUG_WARNING, 0, "Stream %d constructor failed.\n", (int)stream_id);
	plugin_create_all(conf, engine, stream_id);
}

void daemon_stream_destroy(struct daemon_context *ctx, int32_t stream_id, int remove_params)
{
	plugin_destroy_all(ctx->conf, ctx->engine, stream_id);
	prodconf *conf = ctx->conf;
	if (conf->destroy_algos && conf->destroy_algos(conf, ctx->engine, stream_id) != 0)
		debug_output(DEBUG_WARNING, 0, "Stream %d destructor failed.\n", (int)stream_id);
	if (!remove_params)
		return;
	dbus_api_remove_stream(ctx->api, stream_id);
	if (param_remove_stream(stream_id) != 0)
		debug_output(DEBUG_WARNING, 0, "Failed to remove params for stream %d.\n", (int)stream_id);
}

int daemon_add_stream(struct daemon_context *ctx, int32_t stream_id)
{
	if (!ctx->conf->use_stream) {
		debug_output(
		    DEBUG_WARNING, 0,
		    "Add stream with old stream concept (use_stream = 0)                 is not correct\n");
		return 0;
	}
	if (g_list_find(ctx->streams, GINT_TO_POINTER(stream_id))) {
		debug_output(DEBUG_WARNING, 0, "DBus tried to add existing stream id %d\n", (int)stream_id);
		return 0;
	}
	ctx->streams = g_list_prepend(ctx->streams, GINT_TO_POINTER(stream_id));
	daemon_stream_create(ctx->engine, ctx->conf, stream_id);
	if (control_init_groups(ctx->engine) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to init all groups\n");
		return 0;
	}
	return 1;
}

int daemon_remove_stream(struct daemon_context *ctx, int32_t stream_id)
{
	if (!ctx->conf->use_stream) {
		debug_output(DEBUG_WARNING, 0,
		             "Remove stream with old stream concept (use_stream = 0)                 is not "
		             "correct\n");
		return 0;
	}
	if (stream_id < 0) {
		debug_output(DEBUG_ERROR, 0, "Can't remove stream id %d!\n", (int)stream_id);
		return 0;
	}
	if (!g_list_find(ctx->streams, GINT_TO_POINTER(stream_id))) {
		debug_output(DEBUG_WARNING, 0, "DBus tried to remove non-existing stream_id %d\n",
		             (int)stream_id);
		return 0;
	}
	ctx->streams = g_list_remove(ctx->streams, GINT_TO_POINTER(stream_id));
	if (is_down(stream_id)) {
		// Its algorithms are gone already; only its objects and parameters remain.
		streams_down = g_list_remove(streams_down, GINT_TO_POINTER(stream_id));
		dbus_api_remove_stream(ctx->api, stream_id);
		if (param_remove_stream(stream_id) != 0)
			debug_output(DEBUG_WARNING, 0, "Failed to remove params for stream %d.\n",
			             (int)stream_id);
		return 1;
	}
	daemon_stream_destroy(ctx, stream_id, 1);
	return 1;
}

struct prodconf_product_constants *prodconf_get_product_constants(int32_t stream_id)
{
	int channel = platform_stream_channel(stream_id);
	if (!context.constants_conf || channel >= PRODCONF_CHANNELS)
		return nullptr;
	return &context.constants_conf->constants[channel];
}

struct prodconf_area *prodconf_get_channel_area(int32_t stream_id)
{
	int channel = platform_stream_channel(stream_id);
	if (!context.constants_conf || channel >= PRODCONF_CHANNELS)
		return nullptr;
	return context.constants_conf->channel[channel].area;
}

void prodconf_set_product_constants(struct prodconf_product_constants *constants)
{
	if (context.constants_conf)
		replace_constants(&context.constants_conf->constants[0], constants);
}

void prodconf_set_product_constants_table(GHashTable *table)
{
	if (!table || !context.constants_conf)
		return;
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		auto *pc =
		    static_cast<prodconf_product_constants *>(g_hash_table_lookup(table, GINT_TO_POINTER(c)));
		replace_constants(&context.constants_conf->constants[c], pc);
	}
}

// What daemon_start got to, for daemon_finish.
run_state started_run;
bool services_started;

int daemon_start(int argc, char **argv, struct prodconf *conf)
{
	context.streams = nullptr;
	context.loop = nullptr;
	context.last_frame = 0;
	context.conf = conf;
	context.constants_conf = conf;
	paused = 0;

	if (parse_options(&argc, &argv) != 0)
		return 1;
	if (daemon_options_set_priority(&options) != 0) {
		g_option_context_free(option_context);
		option_context = nullptr;
		debug_output(DEBUG_ERROR, 0, "Failure when handling arguments.\n");
		return 1;
	}
	context.temperature_halt = 0;
	char *name = g_path_get_basename(argv[0]);
	openlog(name, LOG_PID | LOG_CONS, LOG_DAEMON);
	debug_output_init();
	daemon_options_add_sinks(&options, isatty(1));
	if (options.version) {
		debug_output(DEBUG_ERROR, 0, "vistrad version unsupported\n");
		exit(1);
	}
	debug_output(DEBUG_INFO, 0, "Starting vistrad\n");
	if (options.daemon && daemon(0, 0) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failure when starting daemon.\n");
		return 1;
	}
	drop_privileges();
	// openlog keeps the identity text for as long as the log is open: it
	// goes at closelog, in daemon_finish.
	log_name = name;

	started_run = {};
	services_started = start_services(&started_run);
	if (!services_started)
		return 2;
	start_streams(&started_run);
	return prepare_loop(&started_run) ? 0 : 2;
}

int daemon_finish(void)
{
	if (services_started)
		stop_streams(&started_run);
	services_started = false;
	int result = stop_services(&started_run);
	g_free(log_name);
	log_name = nullptr;
	return result;
}

int daemon_run(int argc, char **argv, struct prodconf *conf)
{
	int started = daemon_start(argc, argv, conf);
	if (started == 1)
		return 1;
	if (started == 0)
		g_main_loop_run(context.loop);
	return daemon_finish();
}

int daemon_set_temperature_halt_limits(struct control *engine, uint32_t sensor_id, int32_t limit0,
                                       int32_t limit1, int32_t limit2, int32_t limit3)
{
	if (!engine)
		return 2;
	int initial = 2;
	control_temperature_limit_set *set = control_register_temperature_limit_set(
	    engine, sensor_id, limit0, limit1, limit2, limit3, halt_callback, nullptr, &initial);
	control_set_temperature_halt_set(engine, set);
	temperature_halt = (initial == 0 || initial == 4) ? 1 : 0;
	return initial;
}

uint32_t daemon_get_temperature_halt(void)
{
	return temperature_halt;
}

void daemon_set_stream_restart_hook(void (*request)(void *data), void *data)
{
	restart_request = request;
	restart_data = data;
}

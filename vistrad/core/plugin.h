#pragma once
// The daemon's plug-in interface. A plug-in is the library "libmoxel.so" in
// "/etc/vistrad/" or "/usr/lib/vistrad/"; it exports the four functions
// below (with C linkage) and adds its algorithm groups and steps to the
// control engine through the tables of the API record it is handed, or
// through the daemon functions it links against by name.

#include <stdint.h>

#include "algo_step.h"
#include "control.h"
#include "control_timeout.h"

struct prodconf;

struct plugin_group_ops {
	struct algo_group *(*create)(void *owner);
	void (*destroy)(struct algo_group *group, struct control *engine);
	void (*insert)(struct algo_group *group, struct algo_step *step);
	void (*init)(struct algo_group *group, struct control *engine);
	void (*dispatch)(struct algo_step *step, struct control *engine);
	void (*stop)(struct algo_group *group);
	void (*set_enabled)(struct algo_group *group, int enabled);
};

struct plugin_step_ops {
	struct algo_step *(*create_stream_id)(int32_t stream_id, algo_step_fn init, algo_step_fn run,
	                                      algo_step_fn destroy, void *local_data);
	void (*destroy)(struct algo_step *step, struct control *engine);
	void (*add_input_stream_id)(struct algo_step *step, uint32_t type, int32_t stream_id);
	void (*add_inputs_stream_id)(struct algo_step *step, int32_t stream_id, int count, ...);
	struct algo_input *(*add_input_record)(struct algo_step *step, struct algo_input *input);
	void (*add_output_stream_id)(struct algo_step *step, uint32_t type, int32_t stream_id);
	void (*add_outputs_stream_id)(struct algo_step *step, int32_t stream_id, int count, ...);
	void (*add_output_record)(struct algo_step *step, struct algo_output *output);
	struct algo_input *(*find_input)(struct algo_step *step, const struct algo_input *probe);
	int (*has_input)(struct algo_step *step, const struct algo_input *probe);
	void (*set_enabled)(struct algo_step *step, int enabled);
	void *(*get_local_data)(struct algo_step *step);
	void (*add_timeout)(struct algo_step *step, struct control_timeout *timeout);
};

struct plugin_engine_group_ops {
	int (*add_group)(struct control *engine, struct algo_group *group);
};

struct plugin_control_ops {
	struct control_job *(*get_input)(struct control *engine);
	int (*queue_job)(struct control *engine, struct control_job *job);
	int (*enable_group)(struct control *engine, struct algo_group *group, int enabled);
	int (*start_timeout)(struct control *engine, struct control_timeout *timeout,
	                     const struct control_timestamp *interval);
	int (*stop_timeout)(struct control *engine, struct control_timeout *timeout);
	void (*destroy_timeout)(struct control_timeout *timeout, struct control *engine);
	struct control_timeout *(*create_callback_timeout)(struct control *engine,
	                                                   control_timeout_fn callback, void *argument);
	int (*activate_input)(struct control *engine, struct algo_step *step, uint32_t type);
	int (*activate_input_stream_id)(struct control *engine, struct algo_step *step, uint32_t type,
	                                int32_t stream_id, void *argument);
	void (*get_timestamp)(struct control_timestamp *out);
	struct platform *(*get_platform)(struct control *engine);
};

struct plugin_api {
	const struct plugin_group_ops *group;
	const struct plugin_step_ops *step;
	const struct plugin_engine_group_ops *engine;
	const struct plugin_control_ops *control;
};

// What a plug-in exports. Only the low byte of the entry's result counts:
// non-zero keeps the plug-in loaded.
typedef uint8_t (*vistrad_plugin_entry_fn)(struct control *engine, const struct plugin_api *api);
typedef void (*vistrad_plugin_stream_fn)(struct prodconf *conf, struct control *engine, int32_t stream_id);
typedef void (*vistrad_plugin_shutdown_fn)(void);

#define PLUGIN_FILE_NAME "libmoxel.so"
#define PLUGIN_DIR_ETC "/etc/vistrad/"
#define PLUGIN_DIR_LIB "/usr/lib/vistrad/"

// The one API record every plug-in is handed.
extern const struct plugin_api daemon_plugin_api;

// Loads from the two directories (under the root prefix), the first one
// found of each file name only.
void plugin_load_all(struct control *engine);
// loaded: set of file names (owned strings) already loaded; may be shared
// between calls.
void plugin_load_dir(const char *directory, GHashTable *loaded, struct control *engine);
void plugin_create_all(struct prodconf *conf, struct control *engine, int32_t stream_id);
void plugin_destroy_all(struct prodconf *conf, struct control *engine, int32_t stream_id);
void plugin_shutdown_all(void);
// Full paths of the loaded plug-ins, in load order: a new list (g_list_free)
// of texts that stay the loader's.
GList *plugin_loaded(void);

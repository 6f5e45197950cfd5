#include "plugin.h"

#include <dirent.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "debug_output.h"
#include "fixmath.h"
#include "fpga.h"
#include "info_pool.h"
#include "param_db.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "vistrad_path.h"

namespace
{

const plugin_group_ops group_ops = {
    algo_group_create,  algo_group_destroy, algo_group_insert,      algo_group_init,
    algo_step_dispatch, algo_group_stop,    algo_group_set_enabled,
};

const plugin_step_ops step_ops = {
    algo_step_create_stream_id,
    algo_step_destroy,
    algo_step_add_input_stream_id,
    algo_step_add_inputs_stream_id,
    algo_step_add_input_record,
    algo_step_add_output_stream_id,
    algo_step_add_outputs_stream_id,
    algo_step_add_output_record,
    algo_step_find_input,
    algo_step_has_input,
    algo_step_set_enabled,
    algo_step_get_local_data,
    algo_step_add_timeout,
};

const plugin_engine_group_ops engine_group_ops = {control_add_group};

const plugin_control_ops control_ops = {
    control_get_input,
    control_queue_job,
    control_enable_group,
    control_start_timeout,
    control_stop_timeout,
    control_destroy_timeout,
    control_create_callback_timeout,
    control_activate_input,
    control_activate_input_stream_id,
    control_get_timestamp,
    control_get_platform,
};

// The daemon functions plug-ins link against by name. Naming them here keeps
// them in the program (the program exports its symbols) even when nothing
// else in the daemon calls them.
__attribute__((used)) const void *const exported_to_plugins[] = {
    reinterpret_cast<const void *>(algo_group_create),
    reinterpret_cast<const void *>(algo_group_insert),
    reinterpret_cast<const void *>(algo_step_create_stream_id),
    reinterpret_cast<const void *>(algo_step_add_input_stream_id),
    reinterpret_cast<const void *>(algo_step_add_output_stream_id),
    reinterpret_cast<const void *>(algo_step_get_local_data),
    reinterpret_cast<const void *>(control_add_group),
    reinterpret_cast<const void *>(control_queue_job),
    reinterpret_cast<const void *>(control_get_input),
    reinterpret_cast<const void *>(control_get_platform),
    reinterpret_cast<const void *>(control_activate_input_stream_id),
    reinterpret_cast<const void *>(debug_output),
    reinterpret_cast<const void *>(param_get_int),
    reinterpret_cast<const void *>(info_pool_get_int),
    reinterpret_cast<const void *>(info_pool_get_imfix),
    reinterpret_cast<const void *>(platform_get_sensor_for_stream),
    reinterpret_cast<const void *>(sensor_reinit),
    reinterpret_cast<const void *>(sensor_get_current_fps),
    reinterpret_cast<const void *>(fpga_generic_create),
    static_cast<const void *>(fx_xtof_tab),
};

struct loaded_plugin {
	char *path;
	vistrad_plugin_stream_fn create;
	vistrad_plugin_stream_fn destroy;
	vistrad_plugin_shutdown_fn shutdown;
};

GList *plugins; // of loaded_plugin, load order

int accept_name(const struct dirent *entry)
{
	if (!g_str_has_suffix(entry->d_name, ".so"))
		return 0;
	return strcmp(entry->d_name, PLUGIN_FILE_NAME) == 0;
}

template <typename T> T lookup(void *handle, const char *name)
{
	return reinterpret_cast<T>(dlsym(handle, name));
}

int in_library_address(const void *address, void *base)
{
	Dl_info info;
	return address && dladdr(address, &info) && info.dli_fbase == base;
}

int in_library(control_timeout_fn callback, void *base)
{
	return in_library_address(reinterpret_cast<const void *>(callback), base);
}

// A record whose release code, or whose own memory, lies in the library.
int job_in_library(const control_job *job, void *base)
{
	return in_library_address(reinterpret_cast<const void *>(job->release), base) ||
	       in_library_address(job, base);
}

// A refusing plug-in may already have handed groups, started timeouts and
// queued records; they would run or read code and data of the library about
// to be closed, so they go first, released while the library is still there.
// The groups' steps take their typed timeouts with them.
void remove_what_it_added(control *engine, GList *before, vistrad_plugin_entry_fn entry)
{
	GList *after = control_list_groups(engine);
	for (GList *l = after; l; l = l->next)
		if (!g_list_find(before, l->data))
			control_remove_group(engine, static_cast<algo_group *>(l->data));
	g_list_free(after);
	Dl_info info;
	if (dladdr(reinterpret_cast<void *>(entry), &info)) {
		control_destroy_callback_timeouts_if(engine, in_library, info.dli_fbase);
		control_release_jobs_if(engine, job_in_library, info.dli_fbase);
	}
}

void load_one(const char *directory, const char *name, GHashTable *loaded, control *engine)
{
	char *path = g_strconcat(directory, name, nullptr);
	void *handle = dlopen(path, RTLD_NOW);
	if (!handle) {
		debug_output(DEBUG_ERROR, 0, "Plugin library error: %s\n", dlerror());
		g_free(path);
		return;
	}
	auto entry = lookup<vistrad_plugin_entry_fn>(handle, "vistrad_plugin_entry");
	auto create = lookup<vistrad_plugin_stream_fn>(handle, "vistrad_plugin_create");
	auto destroy = lookup<vistrad_plugin_stream_fn>(handle, "vistrad_plugin_destroy");
	auto shutdown = lookup<vistrad_plugin_shutdown_fn>(handle, "vistrad_plugin_shutdown");
	if (!entry || !create || !destroy || !shutdown) {
		dlclose(handle);
		g_free(path);
		return;
	}
	GList *before = control_list_groups(engine);
	uint8_t accepted = entry(engine, &daemon_plugin_api);
	if (!accepted) {
		debug_output(DEBUG_ERROR, 0, "Plugin %s entrypoint failed.\n", path);
		remove_what_it_added(engine, before, entry);
		g_list_free(before);
		dlclose(handle);
		g_free(path);
		return;
	}
	g_list_free(before);
	loaded_plugin *p = g_new0(loaded_plugin, 1);
	p->path = path;
	p->create = create;
	p->destroy = destroy;
	p->shutdown = shutdown;
	plugins = g_list_append(plugins, p);
	g_hash_table_add(loaded, g_strdup(name));
}

} // namespace

const struct plugin_api daemon_plugin_api = {&group_ops, &step_ops, &engine_group_ops, &control_ops};

void plugin_load_dir(const char *directory, GHashTable *loaded, struct control *engine)
{
	if (!directory || !loaded)
		return;
	struct dirent **names = nullptr;
	int count = scandir(directory, &names, accept_name, alphasort);
	if (count < 0)
		return;
	for (int i = 0; i < count; i++) {
		if (!g_hash_table_contains(loaded, names[i]->d_name))
			load_one(directory, names[i]->d_name, loaded, engine);
		free(names[i]);
	}
	free(names);
}

void plugin_load_all(struct control *engine)
{
	GHashTable *loaded = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
	static const char *const dirs[] = {PLUGIN_DIR_ETC, PLUGIN_DIR_LIB};
	for (const char *dir : dirs) {
		char *path = vistrad_path(dir);
		plugin_load_dir(path, loaded, engine);
		g_free(path);
	}
	g_hash_table_destroy(loaded);
}

void plugin_create_all(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	for (GList *l = plugins; l; l = l->next)
		static_cast<loaded_plugin *>(l->data)->create(conf, engine, stream_id);
}

void plugin_destroy_all(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	for (GList *l = plugins; l; l = l->next)
		static_cast<loaded_plugin *>(l->data)->destroy(conf, engine, stream_id);
}

void plugin_shutdown_all(void)
{
	for (GList *l = plugins; l; l = l->next)
		static_cast<loaded_plugin *>(l->data)->shutdown();
	for (GList *l = plugins; l; l = l->next) {
		loaded_plugin *p = static_cast<loaded_plugin *>(l->data);
		g_free(p->path);
		g_free(p);
	}
	g_list_free(plugins);
	plugins = nullptr;
}

GList *plugin_loaded(void)
{
	GList *paths = nullptr;
	for (GList *l = plugins; l; l = l->next)
		paths = g_list_append(paths, static_cast<loaded_plugin *>(l->data)->path);
	return paths;
}

#include "algo_cl_modules.h"

#include <glib.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "daynight_vorsalind.h"
#include "dic.h"
#include "focus_datacache.h"
#include "helmet_detect.h"
#include "hist_analyzer.h"
#include "image_ctrl.h"
#include "platform/sensor_vorsalind.h"
#include "smart_ae.h"
#include "snr_estimate.h"

namespace
{

struct module_slot {
	const char *name;
	const algo_cl_module *module; // null until the algorithm is built
};

// In registration order; each algorithm's file supplies its description,
// one line a row.
// clang-format off
constexpr module_slot modules[ALGO_CL_MODULES] = {
    {"algo_focus_datacache_cl", &focus_datacache_cl_module},
    {"algo_hist_analyzer_cl", &hist_analyzer_cl_module},
    {"algo_smart_ae_cl", &smart_ae_cl_module},
    {"algo_dic_cl", &dic_cl_module},
    {"algo_daynight_vorsalind", &daynight_vorsalind_module},
    {"algo_qorex_image_ctrl_cl", &qorex_image_ctrl_module},
    {"algo_snr_vors_gen01", &snr_vors_gen01_module},
    {"algo_helmet_detect", &helmet_detect_module},
};
// clang-format on

void *create_row(int index, prodconf *conf, control *engine, int32_t stream_id)
{
	const module_slot &slot = modules[index];
	if (!slot.module) {
		debug_output(DEBUG_WARNING, 0, "%s: algorithm not available, nothing created for stream %d\n",
		             slot.name, (int)stream_id);
		return nullptr;
	}
	return algo_cl_create(slot.module, slot.name, conf, engine, stream_id);
}

void free_row(int index, void *settings)
{
	const algo_cl_module *module = modules[index].module;
	if (module && module->free_settings)
		module->free_settings(settings);
	else
		algo_cl_free_settings(settings);
}

template <int I> void *row_create(prodconf *conf, control *engine, int32_t stream_id)
{
	return create_row(I, conf, engine, stream_id);
}

template <int I> void row_free(void *settings)
{
	free_row(I, settings);
}

} // namespace

const struct algo_cl_row algo_cl_table[ALGO_CL_MODULES] = {
    {modules[0].name, row_create<0>, row_free<0>, 0}, {modules[1].name, row_create<1>, row_free<1>, 0},
    {modules[2].name, row_create<2>, row_free<2>, 0}, {modules[3].name, row_create<3>, row_free<3>, 0},
    {modules[4].name, row_create<4>, row_free<4>, 0}, {modules[5].name, row_create<5>, row_free<5>, 0},
    {modules[6].name, row_create<6>, row_free<6>, 0}, {modules[7].name, row_create<7>, row_free<7>, 0},
};

void algo_cl_free_settings(void *settings)
{
	g_free(settings);
}

void *algo_cl_settings(struct algo_step *step)
{
	auto *local = static_cast<algo_cl_local *>(algo_step_get_local_data(step));
	return local ? local->settings : nullptr;
}

void *algo_cl_create(const struct algo_cl_module *module, const char *name, struct prodconf *conf,
                     struct control *engine, int32_t stream_id)
{
	if (!module || !name || !conf)
		return nullptr;
	void *settings = nullptr;
	if (conf->read_item && !conf->read_item(conf, module->schema, name, stream_id, &settings))
		return nullptr;

	int32_t *owner = g_new(int32_t, 1);
	*owner = stream_id;
	algo_group *group = algo_group_create(owner);

	size_t size = module->local_size < sizeof(algo_cl_local) ? sizeof(algo_cl_local) : module->local_size;
	auto *local = static_cast<algo_cl_local *>(g_malloc0(size));
	local->settings = settings;

	algo_step *step =
	    algo_step_create_stream_id(stream_id, module->init, module->run, module->destroy, local);
	for (size_t i = 0; i < module->input_count && i < ALGO_CL_MAX_TYPES; i++)
		algo_step_add_input_stream_id(step, module->inputs[i], stream_id);
	for (size_t i = 0; i < module->output_count && i < ALGO_CL_MAX_TYPES; i++)
		algo_step_add_output_stream_id(step, module->outputs[i], stream_id);
	if (module->specifics)
		module->specifics(conf, engine, stream_id, step, settings);

	algo_group_insert(group, step);
	if (control_add_group(engine, group) < 0) {
		// Never initialised, so its destroy must not run.
		step->destroy = nullptr;
		algo_group_destroy(group, engine);
	}
	return settings;
}

// The sensor modules come first: algorithm kinds may not shadow them.
void algo_cl_register_modules(struct prodconf *conf)
{
	sensor_register_modules(conf);
	if (!conf || !conf->add_item)
		return;
	for (const algo_cl_row &row : algo_cl_table)
		conf->add_item(conf, row.name, row.create, row.free, nullptr, 0, 0);
}

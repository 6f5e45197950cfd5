#include "datacache_handler.h"

#include <stddef.h>
#include <string.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "datacache.h"
#include "lens_view.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "platform.h"

namespace
{

const int32_t unity = 16384;
const uint32_t info_fov_scale = 82;
// Element bytes of a motor-optics record: focus value, zoom position, and
// the flag telling a distance index from a motor position.
const size_t at_focus_value = 0;
const size_t at_zoom_position = 4;
const size_t at_focus_is_index = 17;

const prodconf_field config_fields[] = {
    prodconf_field_i32("optics_handler_en", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(datacache_handler_config, optics_handler_en), 0),
    prodconf_field_i32("zoom_handler_en", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(datacache_handler_config, zoom_handler_en), 0),
    prodconf_field_i32("optics_in_data", PRODCONF_ENUM, PRODCONF_OPTIONAL,
                       offsetof(datacache_handler_config, optics_in_data), DATACACHE_DATA_MOTOR_OPTICS),
};
const prodconf_schema config_schema = {"algo_datacache_handler", sizeof(datacache_handler_config),
                                       config_fields, G_N_ELEMENTS(config_fields)};

// A cache this daemon writes, armed while a reader waits for it.
struct cache_writer {
	struct datacache *cache;
	int32_t id;
	uint8_t armed;
};

// Shared with the engine, which counts its holders in the first word.
struct optics_step_data {
	uint32_t refs;
	int32_t stream_id;
	uint32_t input_type;
	cache_writer writer;
	struct zoom_object *zoom;
	struct camblock *block;
	datacache_optics_element last;
};

struct status_step_data {
	uint32_t refs;
	int32_t stream_id;
	cache_writer writer;
	struct zoom_object *zoom;
	struct camblock *block;
	struct focus_object *focus;
	float last_magnification;
	float last_focal_length;
	uint32_t last_flags;
	int32_t callback_id; // -1: none registered
};

float from_q14(int32_t value)
{
	return (float)value / (float)unity;
}

bool reader_waits(cache_writer *w)
{
	uint32_t info[2] = {0, 0};
	return datacache_get_cache_info(w->cache, w->id, info) == PLATFORM_OK && info[0] != 0;
}

// A waiting reader arms the writer, which then stops polling for one;
// otherwise the device is to say when a reader comes.
void arm_or_select(cache_writer *w)
{
	w->armed = reader_waits(w);
	datacache_set_select(w->cache, w->id, w->armed ? 0 : 1);
}

// On a type-172 record: true when it armed the writer.
bool arm_on_writable(cache_writer *w)
{
	if (w->armed || !reader_waits(w))
		return false;
	w->armed = 1;
	datacache_set_select(w->cache, w->id, 0);
	return true;
}

// Nobody took the element: wait for the next reader.
void after_write(cache_writer *w, int result)
{
	if (result != 0)
		return;
	w->armed = 0;
	datacache_set_select(w->cache, w->id, 1);
}

// Creates the cache on the stream's data cache and arms or selects it:
// false without a cache.
bool open_writer(cache_writer *w, struct datacache *cache, const char *name, uint32_t size)
{
	w->cache = cache;
	w->armed = 0;
	w->id = datacache_create_cache(cache, name, size, DATACACHE_OPTICS_COUNT);
	if (w->id < 0)
		return false;
	arm_or_select(w);
	return true;
}

int32_t fov_scale(int32_t stream_id)
{
	int32_t scale = unity;
	if (info_pool_get_imfix(info_fov_scale, stream_id, &scale) != 0)
		return unity;
	return scale;
}

// The optics step.

int optics_init(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<optics_step_data *>(algo_step_get_local_data(step));
	if (!d)
		return -1;
	struct platform *p = control_get_platform(engine);
	d->zoom = platform_get_zoom(p, d->stream_id);
	d->block = platform_get_camblock(p, d->stream_id);
	return open_writer(&d->writer, platform_get_datacache(p, d->stream_id), DATACACHE_OPTICS_CACHE,
	                   sizeof(datacache_optics_element))
	           ? 0
	           : -1;
}

void optics_publish(optics_step_data *d, const struct control_job *job)
{
	const auto *record = reinterpret_cast<const datacache_record *>(job);
	int32_t focus_value, zoom_position;
	memcpy(&focus_value, record->element + at_focus_value, sizeof(focus_value));
	memcpy(&zoom_position, record->element + at_zoom_position, sizeof(zoom_position));
	bool is_index = record->element[at_focus_is_index] != 0;

	datacache_optics_element now = {};
	now.magnification = from_q14(zoom_magnification_at_position(d->zoom, zoom_position));
	int32_t scale = fov_scale(d->stream_id);
	int32_t focal;
	uint32_t h = 0, v = 0;
	if (is_index) {
		focal = camblock_focal_length_at_distance_index(d->block, zoom_position, focus_value);
		camblock_get_fov_at_distance_index(d->block, zoom_position, focus_value, &h, &v, scale);
	} else {
		focal = camblock_focal_length_at_focus_position(d->block, zoom_position, focus_value);
		camblock_get_fov_at_focus_position(d->block, zoom_position, focus_value, &h, &v, scale);
	}
	now.focal_length = from_q14(focal);
	now.hfov = from_q14((int32_t)h);
	now.vfov = from_q14((int32_t)v);

	if (now.magnification == d->last.magnification && now.focal_length == d->last.focal_length &&
	    d->last.zero == 0)
		return;
	lens_view view;
	lens_view_read(d->block, nullptr, nullptr, &view);
	if (!(now.focal_length > 0.0f) || !view.block_initialised)
		return;
	int r = datacache_write(d->writer.cache, d->writer.id, &job->timestamp, &now);
	// A failed write is tried again with the next record.
	if (r >= 0)
		d->last = now;
	after_write(&d->writer, r);
}

int optics_run(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<optics_step_data *>(algo_step_get_local_data(step));
	const struct control_job *job = control_get_input(engine);
	// The engine runs a step whose init failed too.
	if (!d || !job || d->writer.id < 0 || !d->writer.cache)
		return -1;
	if (job->type == DATACACHE_DATA_WRITABLE) {
		arm_on_writable(&d->writer);
		return 0;
	}
	if (job->type == d->input_type && d->writer.armed)
		optics_publish(d, job);
	return 0;
}

// The optics-status step.

void status_publish(status_step_data *d)
{
	lens_view view;
	lens_view_read(d->block, d->zoom, d->focus, &view);
	float magnification = from_q14(zoom_magnification_at_position(d->zoom, view.zoom_target));
	int32_t index = view.focus_value;
	if (view.block_distance_index_mode)
		index = view.block_requested_index;
	else if (view.focus_value_is_position)
		index =
		    camblock_focus_position_to_distance_index(d->block, view.zoom_position, view.focus_value);
	float focal_length =
	    from_q14(camblock_focal_length_at_distance_index(d->block, view.zoom_target, index));
	uint32_t flags =
	    view.zoom_pending || view.zoom_position != view.zoom_target ? DATACACHE_STATUS_ZOOM_MOVING : 0;

	bool same = magnification == d->last_magnification && focal_length == d->last_focal_length;
	if (same && flags == d->last_flags)
		return;
	if (!(focal_length > 0.0f) || !view.block_initialised)
		return;
	datacache_status_element element = {magnification, focal_length, flags};
	int r = datacache_write(d->writer.cache, d->writer.id, nullptr, &element);
	if (r >= 0) {
		d->last_magnification = magnification;
		d->last_focal_length = focal_length;
		d->last_flags = flags;
	}
	after_write(&d->writer, r);
}

int status_changed(void *user_data, void *, struct param_value *, struct param_callback *)
{
	auto *d = static_cast<status_step_data *>(user_data);
	if (d && d->writer.armed)
		status_publish(d);
	return 0;
}

int status_init(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<status_step_data *>(algo_step_get_local_data(step));
	if (!d)
		return -1;
	if (d->callback_id >= 0)
		return 0;
	struct platform *p = control_get_platform(engine);
	d->zoom = platform_get_zoom(p, d->stream_id);
	d->focus = platform_get_focus(p, d->stream_id);
	d->block = platform_get_camblock(p, d->stream_id);
	if (!open_writer(&d->writer, platform_get_datacache(p, d->stream_id), DATACACHE_OPTICS_STATUS_CACHE,
	                 sizeof(datacache_status_element)))
		return -1;
	d->callback_id = param_register_callback(DATACACHE_UPDATE_PARAM, d->stream_id, status_changed,
	                                         PARAM_NOTIFY_ALWAYS, d, nullptr);
	if (d->callback_id < 0) {
		d->callback_id = -1;
		return -1;
	}
	if (d->zoom)
		d->zoom->parameter = {
		    DATACACHE_UPDATE_PARAM, d->stream_id, PARAM_NOTIFY_ALWAYS, PARAM_TYPE_INT, 1, nullptr};
	return 0;
}

int status_run(struct algo_step *step, struct control *engine)
{
	auto *d = static_cast<status_step_data *>(algo_step_get_local_data(step));
	const struct control_job *job = control_get_input(engine);
	if (!d || !job || d->writer.id < 0 || !d->writer.cache)
		return -1;
	if (job->type == DATACACHE_DATA_WRITABLE && arm_on_writable(&d->writer))
		status_publish(d);
	return 0;
}

int status_destroy(struct algo_step *step, struct control *)
{
	auto *d = static_cast<status_step_data *>(algo_step_get_local_data(step));
	if (!d || d->callback_id < 0)
		return 0;
	param_value which = {};
	which.id = DATACACHE_UPDATE_PARAM;
	which.stream_id = d->stream_id;
	if (param_unregister_callback(d->callback_id, &which) != 0)
		return -1;
	d->callback_id = -1;
	return 0;
}

struct algo_step *optics_step(int32_t stream_id, uint32_t input_type)
{
	optics_step_data *d = g_new0(optics_step_data, 1);
	d->stream_id = stream_id;
	d->input_type = input_type;
	d->writer.id = -1;
	struct algo_step *step = algo_step_create_stream_id(stream_id, optics_init, optics_run, nullptr, d);
	algo_step_add_input_stream_id(step, input_type, stream_id);
	algo_step_add_input_stream_id(step, DATACACHE_DATA_WRITABLE, stream_id);
	return step;
}

struct algo_step *status_step(int32_t stream_id)
{
	status_step_data *d = g_new0(status_step_data, 1);
	d->stream_id = stream_id;
	d->writer.id = -1;
	d->callback_id = -1;
	struct algo_step *step =
	    algo_step_create_stream_id(stream_id, status_init, status_run, status_destroy, d);
	algo_step_add_input_stream_id(step, DATACACHE_DATA_WRITABLE, stream_id);
	return step;
}

} // namespace

void *algo_datacache_handler(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &config_schema, "algo_datacache_handler", stream_id, &item) || !item) {
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf from file\n");
		return nullptr;
	}
	auto *config = static_cast<datacache_handler_config *>(item);
	int32_t *owner = g_new(int32_t, 1);
	*owner = stream_id;
	algo_group *group = algo_group_create(owner);
	if (config->optics_handler_en)
		algo_group_insert(group, optics_step(stream_id, (uint32_t)config->optics_in_data));
	if (config->zoom_handler_en)
		algo_group_insert(group, status_step(stream_id));
	control_add_group(engine, group);
	return config;
}

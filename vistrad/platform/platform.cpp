#include "platform.h"

#include "core/debug_output.h"
#include "core/fpga.h"
#include "core/stream_map.h"
#include "datacache.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/light_sensor.h"
#include "platform_vorsalind.h"
#include "quillvane.h"
#include "sensor.h"
#include "serial_link.h"
#include "stabilizer.h"

namespace
{

// The eight channel blocks bound the channels a stream id may name.
platform_channel *channel_of(platform *p, int32_t stream_id, const char *caller)
{
	if (!p)
		return nullptr;
	int channel = platform_stream_channel(stream_id);
	if (channel >= PLATFORM_CHANNELS) {
		debug_output(DEBUG_ERROR, 0, "%s: stream id %d names channel %d, which does not exist\n",
		             caller, (int)stream_id, channel);
		return nullptr;
	}
	return &p->channels[channel];
}

template <typename T> T *nth(GList *list, int n)
{
	if (n < 0)
		return nullptr;
	return static_cast<T *>(g_list_nth_data(list, (guint)n));
}

template <typename T> T *first(GList *list)
{
	return list ? static_cast<T *>(list->data) : nullptr;
}

int count(GList *list)
{
	return (int)g_list_length(list);
}

// Takes the list out first so a destroy function that looks at the platform
// never sees half-freed entries.
template <typename T, typename F> void destroy_all(GList **list, F destroy)
{
	GList *items = *list;
	*list = nullptr;
	for (GList *l = items; l; l = l->next)
		destroy(static_cast<T *>(l->data));
	g_list_free(items);
}

template <typename T, typename F> void destroy_one(GList **list, T *item, F destroy)
{
	GList *l = item ? g_list_find(*list, item) : nullptr;
	if (!l)
		return;
	*list = g_list_delete_link(*list, l);
	destroy(item);
}

} // namespace

int platform_stream_channel(int32_t stream_id)
{
	return stream_id_channel(stream_id);
}

/* sensors */

void platform_add_sensor(struct platform *platform, struct sensor *sensor, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->sensors = g_list_append(c->sensors, sensor);
	if (sensor)
		sensor->platform = platform;
}

void platform_remove_all_sensor(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<sensor>(&c->sensors, [](sensor *s) {
			if (s)
				sensor_free(s);
		});
}

struct sensor *platform_get_sensor_for_stream(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<sensor>(c->sensors) : nullptr;
}

struct sensor *platform_get_nth_sensor(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<sensor>(c->sensors, n) : nullptr;
}

int platform_get_sensor_count(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? count(c->sensors) : 0;
}

/* IR-cut filters */

void platform_add_ircut(struct platform *platform, struct ircut *ircut, int32_t stream_id)
{
	if (!ircut) {
		debug_output(DEBUG_WARNING, 0, "Failed to add ircut to platform.");
		return;
	}
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->ircuts = g_list_append(c->ircuts, ircut);
	ircut_set_platform(ircut, platform);
}

void platform_remove_all_ircut(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<ircut>(&c->ircuts, ircut_destroy);
}

struct ircut *platform_get_ircut(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<ircut>(c->ircuts) : nullptr;
}

struct ircut *platform_get_nth_ircut(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<ircut>(c->ircuts, n) : nullptr;
}

int platform_get_ircut_count(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? count(c->ircuts) : 0;
}

/* light sensors */

void platform_add_light_sensor(struct platform *platform, struct light_sensor *sensor, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->light_sensors = g_list_append(c->light_sensors, sensor);
	light_sensor_set_platform(sensor, platform);
}

void platform_remove_all_light_sensor(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<light_sensor>(&c->light_sensors, light_sensor_destroy);
}

struct light_sensor *platform_get_light_sensor(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<light_sensor>(c->light_sensors) : nullptr;
}

struct light_sensor *platform_get_nth_light_sensor(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<light_sensor>(c->light_sensors, n) : nullptr;
}

int platform_get_light_sensor_count(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? count(c->light_sensors) : 0;
}

/* irises */

int platform_add_iris(struct platform *platform, struct iris *iris, int32_t stream_id)
{
	if (!iris) {
		debug_output(DEBUG_WARNING, 0, "Failed to add iris to platform.");
		return -3;
	}
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return -3;
	c->irises = g_list_append(c->irises, iris);
	iris_add_platform(iris, platform);
	return platform->iris_add_hook ? platform->iris_add_hook(platform, iris) : -4;
}

void platform_remove_all_iris(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	for (GList *l = c->irises; l; l = l->next) {
		iris *i = static_cast<iris *>(l->data);
		if (i->device >= 0 && platform->iris_remove_hook)
			platform->iris_remove_hook(platform, i);
	}
	destroy_all<iris>(&c->irises, iris_destroy);
}

struct iris *platform_get_iris(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<iris>(c->irises) : nullptr;
}

struct iris *platform_get_nth_iris(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<iris>(c->irises, n) : nullptr;
}

int platform_get_iris_count(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? count(c->irises) : 0;
}

/* focus and zoom units */

void platform_add_focus(struct platform *platform, struct focus_object *focus, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->focus_units = g_list_append(c->focus_units, focus);
	if (focus)
		focus_add_platform(focus, platform);
}

void platform_remove_all_focus(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<focus_object>(&c->focus_units, focus_destroy);
}

struct focus_object *platform_get_focus(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<focus_object>(c->focus_units) : nullptr;
}

struct focus_object *platform_get_nth_focus(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<focus_object>(c->focus_units, n) : nullptr;
}

void platform_add_zoom(struct platform *platform, struct zoom_object *zoom, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->zoom_units = g_list_append(c->zoom_units, zoom);
	if (zoom)
		zoom_add_platform(zoom, platform);
}

void platform_remove_all_zoom(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<zoom_object>(&c->zoom_units, zoom_destroy);
}

struct zoom_object *platform_get_zoom(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<zoom_object>(c->zoom_units) : nullptr;
}

struct zoom_object *platform_get_nth_zoom(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<zoom_object>(c->zoom_units, n) : nullptr;
}

/* camera blocks */

void platform_add_camblock(struct platform *platform, struct camblock *block, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->camblocks = g_list_append(c->camblocks, block);
	camblock_add_platform(block, platform);
}

void platform_remove_all_camblock(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<camblock>(&c->camblocks, camblock_destroy);
}

void platform_remove_lens_components(struct platform *platform, int32_t stream_id, struct iris *iris,
                                     struct focus_object *focus, struct zoom_object *zoom,
                                     struct ircut *ircut)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	if (iris && g_list_find(c->irises, iris) && iris->device >= 0 && platform->iris_remove_hook)
		platform->iris_remove_hook(platform, iris);
	destroy_one<struct iris>(&c->irises, iris, iris_destroy);
	destroy_one<focus_object>(&c->focus_units, focus, focus_destroy);
	destroy_one<zoom_object>(&c->zoom_units, zoom, zoom_destroy);
	destroy_one<struct ircut>(&c->ircuts, ircut, ircut_destroy);
}

struct camblock *platform_get_camblock(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<camblock>(c->camblocks) : nullptr;
}

struct camblock *platform_get_nth_camblock(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<camblock>(c->camblocks, n) : nullptr;
}

/* stabilizers */

void platform_add_stabilizer(struct platform *platform, struct stabilizer *stabilizer, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->stabilizers = g_list_append(c->stabilizers, stabilizer);
	if (stabilizer)
		stabilizer->platform = platform;
}

void platform_remove_all_stabilizer(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<stabilizer>(&c->stabilizers, stabilizer_destroy);
}

struct stabilizer *platform_get_stabilizer(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<stabilizer>(c->stabilizers) : nullptr;
}

struct stabilizer *platform_get_nth_stabilizer(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<stabilizer>(c->stabilizers, n) : nullptr;
}

/* data caches (newest first) */

void platform_add_datacache(struct platform *platform, struct datacache *cache, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->datacaches = g_list_prepend(c->datacaches, cache);
	datacache_add_platform(cache, platform);
}

void platform_remove_all_datacache(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<datacache>(&c->datacaches, datacache_destroy);
}

struct datacache *platform_get_datacache(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<datacache>(c->datacaches) : nullptr;
}

struct datacache *platform_get_nth_datacache(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<datacache>(c->datacaches, n) : nullptr;
}

int platform_get_datacache_count(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? count(c->datacaches) : 0;
}

/* serial links (newest first) */

void platform_add_serial_link(struct platform *platform, struct serial_link *link, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->serial_links = g_list_prepend(c->serial_links, link);
	if (link)
		link->platform = platform;
}

void platform_remove_all_serial_link(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<serial_link>(&c->serial_links, [stream_id](serial_link *link) {
			serial_link_destroy(link, stream_id);
		});
}

struct serial_link *platform_get_serial_link(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<serial_link>(c->serial_links) : nullptr;
}

struct serial_link *platform_get_nth_serial_link(struct platform *platform, int32_t stream_id, int n)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? nth<serial_link>(c->serial_links, n) : nullptr;
}

/* status-cache publishers (newest first) */

void platform_add_quillvane(struct platform *platform, struct quillvane *publisher, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (!c)
		return;
	c->quillvanes = g_list_prepend(c->quillvanes, publisher);
	quillvane_add_platform(publisher, platform);
}

void platform_remove_all_quillvane(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	if (c)
		destroy_all<quillvane>(&c->quillvanes, quillvane_destroy);
}

struct quillvane *platform_get_quillvane(struct platform *platform, int32_t stream_id)
{
	platform_channel *c = channel_of(platform, stream_id, __func__);
	return c ? first<quillvane>(c->quillvanes) : nullptr;
}

/* FPGA objects (platform-wide) */

void platform_add_fpga(struct platform *platform, struct fpga *fpga)
{
	if (!platform)
		return;
	platform->fpgas = g_list_append(platform->fpgas, fpga);
	fpga_add_platform(fpga, platform);
}

void platform_remove_all_fpga(struct platform *platform)
{
	if (!platform)
		return;
	g_list_free_full(platform->fpgas, g_free);
	platform->fpgas = nullptr;
}

struct fpga *platform_get_fpga(struct platform *platform)
{
	return platform ? first<fpga>(platform->fpgas) : nullptr;
}

/* GPIO */

int platform_gpio_set(struct platform *platform, const char *pin, int value)
{
	if (!platform)
		return -3;
	if (platform->gpio_set)
		return platform->gpio_set(platform, pin, value);
	return platform_gpio_write_sysfs(platform, pin, value);
}

int platform_gpio_get(struct platform *platform, const char *pin, int *value)
{
	if (!platform)
		return -3;
	if (platform->gpio_get)
		return platform->gpio_get(platform, pin, value);
	return platform_gpio_read_stub(platform, pin, value);
}

/* input sources */

int platform_add_input_source(struct platform *platform, struct input_source *source)
{
	if (!platform || !source)
		return -3;
	platform->input_sources = g_list_append(platform->input_sources, source);
	platform->sources_changed = 1;
	return PLATFORM_OK;
}

int platform_activate_input_stream_id(struct platform *, uint32_t type, int32_t, int, void *)
{
	if (type == 42 || type == 4)
		return PLATFORM_OK;
	if (type == 2)
		return -1;
	return -3;
}

int bayer_order_after_flip(int order, int hflip, int vflip)
{
	return order ^ (hflip + 2 * vflip);
}

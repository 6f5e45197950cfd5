#include "ircut.h"

#include <fcntl.h>
#include <glib.h>
#include <string.h>

#include "core/debug_output.h"
#include "core/prodconf.h"
#include "ircut_private.h"
#include "platform/platform.h"

struct ircut *ircut_new(void)
{
	return g_new0(struct ircut, 1);
}

struct ircut *ircut_new_lens(void)
{
	ircut *i = ircut_new();
	i->type = IRCUT_TYPE_LENS;
	return i;
}

void ircut_set_platform(struct ircut *ircut, struct platform *platform)
{
	if (ircut)
		ircut->platform = platform;
}

int ircut_set(struct ircut *ircut, int day)
{
	if (!ircut || !ircut->platform || !ircut->set)
		return -2;
	return ircut->set(ircut, day);
}

void ircut_destroy(struct ircut *ircut)
{
	if (!ircut)
		return;
	if (ircut->destroy) {
		ircut->destroy(ircut);
		return;
	}
	g_free(ircut->priv);
	g_free(ircut);
}

struct ircut *ircut_make(uint32_t type, int (*set)(struct ircut *, int), void (*destroy)(struct ircut *),
                         void *priv)
{
	ircut *i = ircut_new();
	i->type = type;
	i->set = set;
	i->destroy = destroy;
	i->priv = priv;
	return i;
}

int ircut_switch_result(struct ircut *ircut, int day)
{
	return ircut_set(ircut, day) < 0 ? -4 : PLATFORM_OK;
}

int ircut_first_filter_switch(struct platform *platform, int day, int32_t stream_id)
{
	return ircut_switch_result(platform_get_ircut(platform, stream_id), day);
}

int ircut_open(struct platform *platform, const char *path, int flags)
{
	if (!path)
		return -1;
	if (platform && platform->open)
		return platform->open(platform, path, flags | O_CLOEXEC);
	return open(path, flags | O_CLOEXEC);
}

void *ircut_read_settings(struct prodconf *conf, const struct prodconf_schema *schema, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, schema, schema->name, stream_id, &item) || !item) {
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf from file\n");
		return nullptr;
	}
	return item;
}

int ircut_start_worker(GThread **worker, GThreadFunc move, void *data)
{
	ircut_join_worker(worker);
	*worker = g_thread_try_new("Set ir filter thread", move, data, nullptr);
	if (!*worker) {
		debug_output(DEBUG_ERROR, 0, "Failed to launch thread for setting IR cut filter.\n");
		return -1;
	}
	return 0;
}

void ircut_join_worker(GThread **worker)
{
	if (*worker)
		g_thread_join(*worker);
	*worker = nullptr;
}

void ircut_pin_name(char out[8], const char *name)
{
	memset(out, 0, 8);
	if (name)
		strncpy(out, name, 7);
}

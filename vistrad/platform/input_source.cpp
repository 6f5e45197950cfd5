#include "input_source.h"

#include "platform.h"

gboolean input_source_init(struct input_source *source, struct platform *platform, const char *name,
                           uint32_t kind, input_source_open_fn open, input_source_close_fn close,
                           input_source_read_fn read, input_source_notify_fn notify,
                           input_source_destroy_fn destroy, const char *path)
{
	if (!source)
		return FALSE;
	source->name = g_strdup(name);
	source->kind = kind;
	source->descriptor = g_new0(input_source_descriptor, 1);
	source->descriptor->path = g_strdup(path);
	source->open = open;
	source->close = close;
	source->read = read;
	source->notify = notify;
	source->destroy = destroy;
	source->platform = platform;
	if (!open)
		return TRUE;
	return open(platform, source) == PLATFORM_OK;
}

struct input_source *input_source_new(struct platform *platform, const char *name, uint32_t kind,
                                      input_source_open_fn open, input_source_close_fn close,
                                      input_source_read_fn read, input_source_notify_fn notify,
                                      const char *path)
{
	input_source *source = g_new0(input_source, 1);
	if (input_source_init(source, platform, name, kind, open, close, read, notify, nullptr, path))
		return source;
	input_source_free(source);
	return nullptr;
}

void input_source_free(struct input_source *source)
{
	if (!source)
		return;
	if (source->close)
		source->close(source->platform, source);
	if (source->destroy)
		source->destroy(source->platform, source);
	g_free(source->name);
	if (source->descriptor)
		g_free(source->descriptor->path);
	g_free(source->descriptor);
	g_free(source);
}

int platform_remove_input_source(struct platform *platform, struct input_source *source)
{
	if (!platform)
		return -3;
	// The poll set is rebuilt even when nothing was removed.
	platform->sources_changed = 1;
	GList *link = g_list_find(platform->input_sources, source);
	if (!link)
		return -4;
	platform->input_sources = g_list_delete_link(platform->input_sources, link);
	return PLATFORM_OK;
}

void platform_remove_all_input_sources(struct platform *platform)
{
	if (!platform)
		return;
	GList *sources = platform->input_sources;
	platform->input_sources = nullptr;
	platform->sources_changed = 1;
	for (GList *l = sources; l; l = l->next)
		input_source_free(static_cast<input_source *>(l->data));
	g_list_free(sources);
}

void platform_free_input_source_by_name(struct platform *platform, const char *name)
{
	input_source *source = platform_find_input_source(platform, name);
	if (!source)
		return;
	platform_remove_input_source(platform, source);
	input_source_free(source);
}

struct input_source *platform_find_input_source(struct platform *platform, const char *name)
{
	if (!platform || !name)
		return nullptr;
	for (GList *l = platform->input_sources; l; l = l->next) {
		input_source *source = static_cast<input_source *>(l->data);
		if (g_strcmp0(source->name, name) == 0)
			return source;
	}
	return nullptr;
}

int platform_get_input_source_fd(struct platform *platform, const char *name)
{
	input_source *source = platform_find_input_source(platform, name);
	if (!source || !source->descriptor)
		return -4;
	return source->descriptor->fd;
}

int platform_get_input_fds(struct platform *platform, int **fds, int **is_writer, int *count)
{
	if (!platform || !fds || !is_writer || !count)
		return -3;
	guint length = g_list_length(platform->input_sources);
	*fds = g_new(int, length);
	*is_writer = g_new(int, length);
	int n = 0;
	for (GList *l = platform->input_sources; l; l = l->next) {
		input_source *source = static_cast<input_source *>(l->data);
		if (!source->descriptor)
			continue;
		(*fds)[n] = source->descriptor->fd;
		(*is_writer)[n] = source->kind == INPUT_SOURCE_WRITER;
		n++;
	}
	*count = n;
	return PLATFORM_OK;
}

GList *platform_dispatch_ready_fds(struct platform *platform, int *fds, int count)
{
	if (!platform || !fds)
		return nullptr;
	// The records of the previous dispatch have been consumed by now.
	platform_pool_recycle(&platform->stats_pool);
	return platform_dispatch_input_sources(platform, fds, count);
}

static input_source *source_of_fd(platform *platform, int fd)
{
	for (GList *l = platform->input_sources; l; l = l->next) {
		input_source *source = static_cast<input_source *>(l->data);
		if (source->descriptor && source->descriptor->fd == fd)
			return source;
	}
	return nullptr;
}

GList *platform_dispatch_input_sources(struct platform *platform, int *fds, int count)
{
	if (!platform || !fds || count < 1)
		return nullptr;
	GList *records = nullptr;
	for (int i = 0; i < count; i++) {
		input_source *source = source_of_fd(platform, fds[i]);
		if (!source)
			continue;
		if (source->kind == INPUT_SOURCE_NOTIFY) {
			if (source->notify)
				source->notify(platform, source);
			continue;
		}
		if (source->read)
			records = source->read(platform, source, records);
	}
	return records;
}

void platform_release_data(struct platform *, GList *) {}

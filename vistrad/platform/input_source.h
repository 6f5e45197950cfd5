#pragma once
// Input sources: the descriptors the daemon's main loop polls on behalf of
// the platform. Each ready descriptor is handed back to the platform, whose
// source callbacks turn it into data records for the control engine.
//
// Main-loop contract, every iteration:
//  1. prepare: call the platform's prepare slot; when sources_changed is set,
//     rebuild the poll set from platform_get_input_fds (readers: input, error,
//     hang-up; writers: output, error, hang-up) and clear the flag;
//  2. poll through the platform's poll slot, timeout -1;
//  3. hand the descriptors that returned input, priority, output or hang-up
//     to dispatch_ready_fds, queue every returned record on the control
//     engine, then call platform_release_data and free the list cells.
// Pooled records (data type 42) return to their pool at the start of the
// next dispatch, so a consumer must not keep one beyond its run.

#include <glib.h>
#include <stdint.h>

struct platform;
struct input_source;

enum input_source_kind {
	INPUT_SOURCE_READER = 0,
	INPUT_SOURCE_NOTIFY = 1, // its notify callback runs; it produces no records
	INPUT_SOURCE_WRITER = 2,
};

struct input_source_descriptor {
	int fd;
	char *path;
	uint32_t flags; // cleared by the open callback
};

typedef int (*input_source_open_fn)(struct platform *platform, struct input_source *source);
typedef int (*input_source_close_fn)(struct platform *platform, struct input_source *source);
typedef GList *(*input_source_read_fn)(struct platform *platform, struct input_source *source,
                                       GList *records);
typedef void (*input_source_notify_fn)(struct platform *platform, struct input_source *source);
typedef void (*input_source_destroy_fn)(struct platform *platform, struct input_source *source);

// Sources that need more state embed this record as their first member.
struct input_source {
	char *name;
	uint32_t kind;
	struct input_source_descriptor *descriptor;
	input_source_open_fn open;
	input_source_close_fn close;
	input_source_read_fn read;
	void *reserved0;
	input_source_notify_fn notify;
	input_source_destroy_fn destroy;
	struct platform *platform;
	void *reserved1;
};

struct input_source *input_source_new(struct platform *platform, const char *name, uint32_t kind,
                                      input_source_open_fn open, input_source_close_fn close,
                                      input_source_read_fn read, input_source_notify_fn notify,
                                      const char *path);
gboolean input_source_init(struct input_source *source, struct platform *platform, const char *name,
                           uint32_t kind, input_source_open_fn open, input_source_close_fn close,
                           input_source_read_fn read, input_source_notify_fn notify,
                           input_source_destroy_fn destroy, const char *path);
void input_source_free(struct input_source *source);

int platform_remove_input_source(struct platform *platform, struct input_source *source);
void platform_remove_all_input_sources(struct platform *platform);
// Removes and frees the first source of that name, if there is one.
void platform_free_input_source_by_name(struct platform *platform, const char *name);
struct input_source *platform_find_input_source(struct platform *platform, const char *name);
int platform_get_input_source_fd(struct platform *platform, const char *name);
int platform_get_input_fds(struct platform *platform, int **fds, int **is_writer, int *count);

GList *platform_dispatch_ready_fds(struct platform *platform, int *fds, int count);
GList *platform_dispatch_input_sources(struct platform *platform, int *fds, int count);
void platform_release_data(struct platform *platform, GList *stream_ids);

#include "frame_source.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "algostep/focus_datacache.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "datacache.h"
#include "input_source.h"
#include "platform.h"
#include "videoinput.h"
#include "vorsalind_proc.h"

// Device files of the video driver; the simulated SoC serves them on hosts,
// so they are not moved under the root prefix.
static const char *const vsync_paths[] = {VORSALIND_VIN0_IDSP, VORSALIND_VIN1_IDSP};
static const char plug_event_path[] = VORSALIND_PLUG_EVENT;

int platform_open_local_fd(struct platform *platform, struct input_source *source)
{
	if (!source || !source->descriptor)
		return -3;
	input_source_descriptor *d = source->descriptor;
	d->flags = 0;
	if (platform && platform->open)
		d->fd = platform->open(platform, d->path, 0);
	else
		d->fd = open(d->path, O_RDONLY);
	if (d->fd < 0) {
		int err = errno;
		// Never leave a descriptor number the close callback would act on.
		d->fd = -1;
		debug_output(DEBUG_ERROR, 0, "%s open %s failed: %s\n", "platform_open_local_fd", d->path,
		             strerror(err));
		return -4;
	}
	return PLATFORM_OK;
}

int platform_close_local_fd(struct platform *platform, struct input_source *source)
{
	if (!source || !source->descriptor || source->descriptor->fd < 0)
		return PLATFORM_OK;
	int fd = source->descriptor->fd;
	source->descriptor->fd = -1;
	int r = platform && platform->close ? platform->close(platform, fd) : close(fd);
	if (r != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to close fd: %s\n", strerror(errno));
	return PLATFORM_OK;
}

static int fill_stats(platform *platform, platform_soc_stats *record)
{
	if (platform->channel_count <= 1) {
		if (libcl_get_stats(0, &record->channel[0], 0) >= 0)
			return 0;
		debug_output(DEBUG_WARNING, 0, "%s: Failed to get stats for channel 0\n",
		             "platform_get_stat");
		return -1;
	}
	if (libcl_get_stats_all(&record->channel[0], 0) >= 0)
		return 0;
	debug_output(DEBUG_WARNING, 0, "%s: Failed to get stats for channel all\n", "platform_get_stat");
	return -1;
}

// Channel 0's focus measure for the focus step's reader: armed while a
// reader waits, disarmed (and the writer selected again) once a write finds
// nobody left.
static void publish_focus_measure(platform *platform, const platform_soc_stats *record)
{
	if (platform->channel_count < 1)
		return;
	auto *entry = static_cast<focus_datacache_entry *>(platform->focus_datacache[0]);
	if (!entry)
		return;
	if (!entry->armed) {
		uint32_t info[2] = {};
		if (datacache_get_cache_info(entry->datacache, entry->cache_id, info) == PLATFORM_OK &&
		    info[0]) {
			entry->armed = 1;
			datacache_set_select(entry->datacache, entry->cache_id, 0);
		}
		if (!entry->armed)
			return;
	}
	entry->value = focus_datacache_cl_sum_window(&record->channel[0], &entry->window);
	uint8_t element[FOCUS_DATACACHE_ELEMENT] = {};
	memcpy(element, &entry->value, sizeof(entry->value));
	if (datacache_write(entry->datacache, entry->cache_id, &record->header.timestamp, element) == 0) {
		entry->armed = 0;
		datacache_set_select(entry->datacache, entry->cache_id, 1);
	}
}

GList *platform_get_stat(struct platform *platform, struct input_source *source, GList *records)
{
	if (!platform || !source || !source->descriptor)
		return records;
	// The tick is consumed whether or not a record follows, or the
	// descriptor would stay ready and spin the main loop.
	uint64_t tick;
	ssize_t n = read(source->descriptor->fd, &tick, sizeof(tick));
	(void)n;
	uint32_t started = 0;
	if (libcl_get_aaa_started(&started) < 0 || !started)
		return records;
	platform_soc_stats *record = static_cast<platform_soc_stats *>(
	    platform_pool_get(&platform->stats_pool, sizeof(platform_soc_stats)));
	record->header.type = PLATFORM_DATA_SOC_STATS;
	record->header.stream_id = -1;
	// A failed fetch leaves the record in use until the next recycle.
	if (fill_stats(platform, record) < 0)
		return records;
	control_get_timestamp(&record->header.timestamp);
	record->header.producer_word = 1;
	records = g_list_prepend(records, record);
	publish_focus_measure(platform, record);
	return records;
}

static void plug_event_release(struct control_job *job)
{
	g_free(job);
}

GList *platform_get_plug_event(struct platform *, struct input_source *source, GList *records)
{
	if (!source || !source->descriptor)
		return records;
	uint8_t event;
	ssize_t n = read(source->descriptor->fd, &event, 1);
	(void)n;
	control_job *job = g_new0(control_job, 1);
	job->type = PLATFORM_DATA_PLUG_EVENT;
	job->stream_id = -1;
	job->release = plug_event_release;
	return g_list_prepend(records, job);
}

// The one place a frame source is replaced: the old one of the name goes here.
static int add_frame_source(platform *platform, const char *name, input_source_read_fn read, const char *path)
{
	platform_free_input_source_by_name(platform, name);
	input_source *source = input_source_new(platform, name, INPUT_SOURCE_READER, platform_open_local_fd,
	                                        platform_close_local_fd, read, nullptr, path);
	if (!source)
		return -4;
	platform_add_input_source(platform, source);
	return PLATFORM_OK;
}

int platform_add_vsync_source(struct platform *platform, const char *path)
{
	if (!platform || !path)
		return -3;
	int r = add_frame_source(platform, PLATFORM_VSYNC_SOURCE, platform_get_stat, path);
	platform->soc_input->vsync_fd = platform_get_input_source_fd(platform, PLATFORM_VSYNC_SOURCE);
	return r;
}

int platform_add_plug_event_source(struct platform *platform)
{
	if (!platform)
		return -3;
	int r =
	    add_frame_source(platform, PLATFORM_PLUG_EVENT_SOURCE, platform_get_plug_event, plug_event_path);
	platform->soc_input->plug_event_fd =
	    platform_get_input_source_fd(platform, PLATFORM_PLUG_EVENT_SOURCE);
	return r;
}

const char *platform_vsync_path(int vin)
{
	if (vin < 0 || vin > 1)
		return nullptr;
	return vsync_paths[vin];
}

int update_vsync_src(struct platform *platform, int vin, const char *reason)
{
	if (!platform)
		return -3;
	if (!videoinput_set_current_vin(0, (uint32_t)vin, reason))
		return -4;
	const char *path = platform_vsync_path(vin);
	if (!path) {
		debug_output(DEBUG_ERROR, 0, "%s: Could not get vsync path\n", "update_vsync_src");
		path = vsync_paths[0];
	}
	if (platform_add_vsync_source(platform, path) != PLATFORM_OK) {
		libcl_deinit();
		platform->libcl_initialised = 0;
		debug_output(DEBUG_ERROR, 0, "%s: Could not create vsync_fd\n", "update_vsync_src");
	}
	return platform->libcl_initialised ? PLATFORM_OK : -4;
}

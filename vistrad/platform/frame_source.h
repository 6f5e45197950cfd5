#pragma once
// The video input's two frame sources: the frame tick "vsync_fd", which turns
// every frame into one SoC statistics record (data type 42), and the plug
// event "plug_event_fd" (data type 153).

#include <glib.h>
#include <stdint.h>

#include "core/control_job.h"
#include "libcl.h"

struct platform;
struct input_source;

#define PLATFORM_DATA_SOC_STATS 42
#define PLATFORM_DATA_PLUG_EVENT 153
#define PLATFORM_STATS_CHANNELS 4

// Consumers read channel c's block at index c; only block 0 is filled, and
// bytes the fill does not write keep an earlier frame's contents.
struct platform_soc_stats {
	struct control_job header;
	libcl_stats channel[PLATFORM_STATS_CHANNELS];
};

static_assert(sizeof(platform_soc_stats) == 38504, "the statistics record is 38,504 bytes");

#define PLATFORM_VSYNC_SOURCE "vsync_fd"
#define PLATFORM_PLUG_EVENT_SOURCE "plug_event_fd"

int platform_open_local_fd(struct platform *platform, struct input_source *source);
int platform_close_local_fd(struct platform *platform, struct input_source *source);
GList *platform_get_stat(struct platform *platform, struct input_source *source, GList *records);
GList *platform_get_plug_event(struct platform *platform, struct input_source *source, GList *records);

// (Re)create a frame source: any source of the same name is freed first.
// PLATFORM_OK, or -4 when the file cannot be opened.
int platform_add_vsync_source(struct platform *platform, const char *path);
int platform_add_plug_event_source(struct platform *platform);
// The frame-tick file of video input 0 or 1; null for any other input.
const char *platform_vsync_path(int vin);

int update_vsync_src(struct platform *platform, int vin, const char *reason);

#pragma once
// The SoC layer of the platform: creation with the SoC's operating-system
// calls and hooks and the camera's mounting files, the channel
// configuration, the video mode and the video input's frame sources,
// destruction, and GPIO through sysfs.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include "platform.h"

struct prodconf;

extern "C" struct platform *platform_vorsalind_create(void *ignored, struct prodconf *conf,
                                                      int channel_count);
extern "C" int platform_setup(struct platform *platform);
void platform_destroy(struct platform *platform);

// Reads the item "platform_vorsalind" of the channel (with its stream id)
// and the channels' calibration paths; -255 also when there is no item.
extern "C" int platform_vorsalind(struct platform *platform, struct prodconf *conf, int channel);
// Brings the camera library up for a capture mode and applies the mode to
// the video input; 0 or -1. With two channels, channel 0 applies it for both.
extern "C" int platform_set_tvx_mode(struct platform *platform, const struct tvx_mode *mode,
                                     int32_t tuning_id, int channel);
// Starts the video input and its frame sources unless the 3A runs already:
// -255 (also when it runs), 0 for a second channel, -3 or -4.
extern "C" int platform_sync_config_for_stream(struct platform *platform, int32_t stream_id);
// The video input's "NewFramerate" handler: every channel's sensor learns it.
void platform_on_new_framerate(GObject *input, double framerate, struct platform *platform);
extern "C" int platform_stream_prepare(struct platform *platform, int32_t stream_id);
extern "C" int platform_stream_stop(struct platform *platform, int32_t stream_id);
extern "C" int platform_stream_start(struct platform *platform, int32_t stream_id);

// One value per channel (0 and 1) for the image steps; 0, or -1 for another
// channel or a missing argument.
int platform_set_channel_value(struct platform *platform, int32_t value, int32_t stream_id);
int platform_get_channel_value(struct platform *platform, int32_t *value, int32_t stream_id);

int platform_gpio_write_sysfs(struct platform *platform, const char *pin, int value);
int platform_gpio_set_direction(struct platform *platform, const char *pin, int direction);
int platform_gpio_read_stub(struct platform *platform, const char *pin, int *value);

struct iris;
// The DC iris hook: the SoC has no such output, so it sends the empty
// request; -255, -4 when that fails, -3 without a platform.
int platform_dc_iris_set(struct platform *platform, struct iris *iris, int32_t level);

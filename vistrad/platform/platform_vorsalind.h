#pragma once
// The SoC layer of the platform: creation with the SoC's operating-system
// calls and hooks, destruction, and GPIO through sysfs.

#include "platform.h"

struct prodconf;

struct platform *platform_vorsalind_create(void *ignored, struct prodconf *conf, int channel_count);
int platform_setup(struct platform *platform);
void platform_destroy(struct platform *platform);
int platform_sync_config_for_stream(struct platform *platform, int32_t stream_id);

int platform_gpio_write_sysfs(struct platform *platform, const char *pin, int value);
int platform_gpio_set_direction(struct platform *platform, const char *pin, int direction);
int platform_gpio_read_stub(struct platform *platform, const char *pin, int *value);

struct iris;
// Drives the DC iris's analogue level. The PWM output is not driven yet: -4
// (-3 without a platform).
int platform_dc_iris_set(struct platform *platform, struct iris *iris, int32_t level);

// Channel configuration and the streaming steps around a capture-mode change.
int platform_vorsalind(struct platform *platform, struct prodconf *conf, int channel);
int platform_stream_prepare(struct platform *platform, int32_t stream_id);
int platform_stream_stop(struct platform *platform, int32_t stream_id);
int platform_stream_start(struct platform *platform, int32_t stream_id);

struct tvx_mode;
// Applies a sensor's video mode to the camera library and the video input:
// 0 or -1. Not bound yet: every mode is taken as applied (0).
int platform_set_tvx_mode(struct platform *platform, const struct tvx_mode *mode, int32_t tuning_id,
                          int channel);

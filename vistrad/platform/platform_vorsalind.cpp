// Creation fills the SoC's slots and defaults; reading the mounting files,
// the video mode and the frame sources come with the video-input work.
#include "platform_vorsalind.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "core/debug_output.h"
#include "frame_source.h"
#include "input_source.h"
#include "libcl.h"
#include "videoinput.h"

namespace
{

int os_poll(struct pollfd *fds, nfds_t count, int timeout_ms)
{
	return poll(fds, count, timeout_ms);
}

int os_open(platform *, const char *path, int flags)
{
	return open(path, flags);
}

int os_close(platform *, int fd)
{
	return close(fd);
}

// A request of 0 is how the SoC hooks say "nothing to do": no system call.
int soc_ioctl(platform *, int fd, unsigned long request, void *argument)
{
	if (request == 0)
		return 0;
	return ioctl(fd, request, argument);
}

ssize_t os_write(platform *, int fd, const void *bytes, size_t length)
{
	return write(fd, bytes, length);
}

int soc_op_failed(platform *)
{
	return -1;
}

int soc_op_ok(platform *)
{
	return PLATFORM_OK;
}

int soc_daynight_switch(platform *p, int, int32_t)
{
	return p->ioctl(p, 0, 0, nullptr) == 0 ? PLATFORM_OK : -4;
}

int soc_iris_add(platform *, iris *)
{
	return -4;
}

// The SoC never has records ready without a poll.
gboolean soc_prepare(platform *)
{
	return FALSE;
}

void deinit_camera_library(platform *p)
{
	libcl_deinit();
	p->libcl_initialised = 0;
}

void soc_iris_remove(platform *, iris *) {}

void init_curve_defaults(platform_curve_defaults *c)
{
	c->first = 256;
	c->second = 513;
	c->max = 4095;
	c->table = g_new(uint32_t, PLATFORM_CURVE_ENTRIES);
	for (uint32_t i = 0; i < PLATFORM_CURVE_ENTRIES; i++)
		c->table[i] = i * 128;
	c->count = PLATFORM_CURVE_ENTRIES;
	c->reserved = 0;
	c->unity = 16384;
	c->top = 130944;
}

int open_path(platform *p, const char *path, int flags)
{
	return p->open ? p->open(p, path, flags) : open(path, flags);
}

int close_fd(platform *p, int fd)
{
	return p->close ? p->close(p, fd) : close(fd);
}

ssize_t write_fd(platform *p, int fd, const char *bytes, size_t length)
{
	return p->write ? p->write(p, fd, bytes, length) : write(fd, bytes, length);
}

// Pins live under /sys/class/gpio, or under the gpiomap driver's directory
// on boards that name their pins there.
int write_sysfs_attribute(platform *p, const char *pin, const char *attribute, const char *text)
{
	char path[100];
	snprintf(path, sizeof(path), "/sys/class/gpio/gpio%s/%s", pin, attribute);
	int fd = open_path(p, path, O_WRONLY);
	if (fd < 0 && errno == ENOENT) {
		snprintf(path, sizeof(path), "/sys/devices/virtual/gpiomap/%s/%s", pin, attribute);
		fd = open_path(p, path, O_WRONLY);
	}
	if (fd < 0) {
		debug_output(DEBUG_ERROR, 0, "Can not open %s.", path);
		return -4;
	}
	size_t length = strlen(text);
	ssize_t written = write_fd(p, fd, text, length);
	close_fd(p, fd);
	if (written != (ssize_t)length) {
		debug_output(DEBUG_ERROR, 0, "Can not write to %s.", path);
		return -4;
	}
	return PLATFORM_OK;
}

} // namespace

struct platform *platform_vorsalind_create(void *, struct prodconf *conf, int channel_count)
{
	if (!conf)
		return nullptr;
	platform *p = g_new0(platform, 1);
	p->select = select;
	p->poll = os_poll;
	p->open = os_open;
	p->close = os_close;
	p->ioctl = soc_ioctl;
	p->mmap = mmap;
	p->munmap = munmap;
	p->write = os_write;
	p->soc_op[0] = soc_op_failed;
	p->soc_op[1] = soc_op_failed;
	p->soc_op[2] = soc_op_ok;
	p->daynight_switch = soc_daynight_switch;
	p->iris_add_hook = soc_iris_add;
	p->iris_remove_hook = soc_iris_remove;
	p->soc_input = g_new0(platform_soc_input, 1);
	p->soc_input->vsync_fd = -1;
	p->soc_input->plug_event_fd = -1;
	p->channel_count = channel_count;
	init_curve_defaults(&p->curve);
	return p;
}

int platform_setup(struct platform *platform)
{
	return platform ? PLATFORM_OK : -3;
}

// Until the video input is bound to the capture library, the input counts as
// started here and only the frame sources are (re)made.
int platform_sync_config_for_stream(struct platform *platform, int32_t stream_id)
{
	if (!platform)
		return -3;
	if (platform_stream_channel(stream_id) != 0 && platform->channel_count > 1)
		return 0;
	// Adding the frame tick replaces the old one: that is its only owner.
	const char *path = platform_vsync_path((int)videoinput_input_get_current_vin());
	if (!path) {
		debug_output(DEBUG_ERROR, 0, "%s: Could not get vsync path\n",
		             "platform_sync_config_for_stream");
		return -4;
	}
	if (platform_add_vsync_source(platform, path) != PLATFORM_OK) {
		deinit_camera_library(platform);
		return -4;
	}
	if (platform->plug_event_enabled && platform_add_plug_event_source(platform) != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "Could not create plug_event_fd\n");
		deinit_camera_library(platform);
		return -4;
	}
	platform->dispatch_ready_fds = platform_dispatch_ready_fds;
	platform->prepare = soc_prepare;
	return PLATFORM_OK;
}

void platform_destroy(struct platform *platform)
{
	if (!platform)
		return;
	deinit_camera_library(platform);
	g_free(platform->curve.table);
	platform->curve.table = nullptr;
	platform_pool_free(&platform->stats_pool, nullptr);
	platform_remove_all_fpga(platform);
	platform_remove_all_input_sources(platform);
	int channels = platform->channel_count;
	if (channels > PLATFORM_CHANNELS)
		channels = PLATFORM_CHANNELS;
	for (int c = 0; c < channels; c++) {
		int32_t stream_id = c << 8;
		platform_remove_all_ircut(platform, stream_id);
		platform_remove_all_focus(platform, stream_id);
		platform_remove_all_zoom(platform, stream_id);
		platform_remove_all_iris(platform, stream_id);
		platform_remove_all_camblock(platform, stream_id);
		platform_remove_all_light_sensor(platform, stream_id);
		platform_remove_all_sensor(platform, stream_id);
		platform_remove_all_quillvane(platform, stream_id);
	}
	g_free(platform->soc_input);
	g_free(platform);
}

int platform_gpio_write_sysfs(struct platform *platform, const char *pin, int value)
{
	if (!platform || !pin)
		return -3;
	if (value < 0 || value > 1) {
		debug_output(DEBUG_ERROR, 0, "Invalid pin direction.\n");
		return -3;
	}
	return write_sysfs_attribute(platform, pin, "value", value ? "1" : "0");
}

int platform_gpio_set_direction(struct platform *platform, const char *pin, int direction)
{
	if (!platform || !pin)
		return -3;
	if (direction < 0 || direction > 1) {
		debug_output(DEBUG_ERROR, 0, "Invalid pin direction.\n");
		return -3;
	}
	return write_sysfs_attribute(platform, pin, "direction", direction ? "out" : "in");
}

int platform_gpio_read_stub(struct platform *, const char *, int *)
{
	return PLATFORM_OK;
}

int platform_dc_iris_set(struct platform *platform, struct iris *, int32_t)
{
	return platform ? -4 : -3;
}

// The SoC's channel configuration and stream steps are not driven yet: each
// reports success so a capture-mode change runs through.
int platform_vorsalind(struct platform *, struct prodconf *, int)
{
	return PLATFORM_OK;
}

int platform_stream_prepare(struct platform *, int32_t)
{
	return PLATFORM_OK;
}

int platform_stream_stop(struct platform *, int32_t)
{
	return PLATFORM_OK;
}

int platform_stream_start(struct platform *, int32_t)
{
	return PLATFORM_OK;
}

int platform_set_tvx_mode(struct platform *, const struct tvx_mode *, int32_t, int)
{
	return 0;
}

#include "platform_vorsalind.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "core/vistrad_path.h"
#include "frame_source.h"
#include "input_source.h"
#include "libcl.h"
#include "sensor.h"
#include "sensor_vorsalind.h"
#include "videoinput.h"

namespace
{

const uint32_t param_auto_rotation_enabled = 165;
const uint32_t param_auto_rotation = 166;
const uint32_t param_source_rotation = 175;
const uint32_t param_rotation = 176;

// Calibration paths are kept in buffers of this size (cut to one less).
const size_t calibration_path_size = 100;

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

// The hooks this SoC has no hardware for send the empty request.
int soc_empty_request(platform *p)
{
	return p->ioctl && p->ioctl(p, 0, 0, nullptr) == 0 ? PLATFORM_OK : -4;
}

int soc_daynight_switch(platform *p, int, int32_t)
{
	return soc_empty_request(p);
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

gboolean aaa_started()
{
	uint32_t started = 0;
	return libcl_get_aaa_started(&started) == 0 && started;
}

void drop_video_input(platform *p)
{
	if (!p->video_input)
		return;
	g_signal_handlers_disconnect_by_data(p->video_input, p);
	g_clear_object(&p->video_input);
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

// Up to size bytes of a file under the root prefix; -1 when it cannot be read.
ssize_t read_mounting_file(const char *path, void *bytes, size_t size)
{
	char *where = vistrad_path(path);
	int fd = open(where, O_RDONLY | O_CLOEXEC);
	g_free(where);
	if (fd < 0)
		return -1;
	ssize_t n = read(fd, bytes, size);
	close(fd);
	return n;
}

void read_flip(platform *p)
{
	char text[3];
	ssize_t n = read_mounting_file("/lib/persistent/usr/share/prod_flip", text, sizeof(text));
	p->flip = n == (ssize_t)sizeof(text) && memcmp(text, "yes", 3) == 0 ? 180 : 0;
}

// Offsets are even: bit 0 of each word is dropped.
void read_sensor_offset(platform *p)
{
	uint8_t words[8];
	ssize_t n =
	    read_mounting_file("/lib/persistent/usr/share/sensor_analysis/cfe.dat", words, sizeof(words));
	p->sensor_offset_valid = n == (ssize_t)sizeof(words);
	if (!p->sensor_offset_valid) {
		p->sensor_offset_x = p->sensor_offset_y = 0;
		return;
	}
	p->sensor_offset_x = (words[0] | words[1] << 8 | words[2] << 16 | (uint32_t)words[3] << 24) & ~1u;
	p->sensor_offset_y = (words[4] | words[5] << 8 | words[6] << 16 | (uint32_t)words[7] << 24) & ~1u;
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

// The item "platform_vorsalind".
struct soc_config {
	uint8_t enable_raw;
	char *vcm_file;
	int32_t sensor_rotation_default;
	uint8_t plug_event_input_src;
};

const prodconf_field soc_config_fields[] = {
    prodconf_field_i32("enable_raw", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(soc_config, enable_raw), 0),
    prodconf_field_text("vcm_file", PRODCONF_OPTIONAL, offsetof(soc_config, vcm_file), nullptr),
    prodconf_field_i32("sensor_rotation_default", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(soc_config, sensor_rotation_default), 0),
    prodconf_field_i32("plug_event_input_src", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(soc_config, plug_event_input_src), 0),
};

const prodconf_schema soc_config_schema = {"platform_vorsalind", sizeof(soc_config), soc_config_fields,
                                           G_N_ELEMENTS(soc_config_fields)};

soc_config *read_soc_config(prodconf *conf, int channel)
{
	void *record = nullptr;
	if (!prodconf_read_item(conf, &soc_config_schema, "platform_vorsalind", channel << 8, &record))
		return nullptr;
	return static_cast<soc_config *>(record);
}

void free_soc_config(soc_config *config)
{
	if (!config)
		return;
	g_free(config->vcm_file);
	g_free(config);
}

char *calibration_file(const char *directory, const char *file)
{
	char *path = g_new0(char, calibration_path_size);
	snprintf(path, calibration_path_size, "%s/%s", directory, file);
	return path;
}

void set_path(char **slot, char *path)
{
	g_free(*slot);
	*slot = path;
}

int soc_channels(const platform *p)
{
	return p->channel_count < PLATFORM_SOC_CHANNELS ? p->channel_count : PLATFORM_SOC_CHANNELS;
}

void read_dpc_paths(platform *p, prodconf *conf)
{
	for (int i = 0; i < soc_channels(p); i++) {
		const prodconf_product_constants &hw = conf->constants[i];
		if (hw.calibration_path && hw.dpc_file)
			set_path(&p->dpc_paths[i], calibration_file(hw.calibration_path, hw.dpc_file));
	}
}

void read_vcm_paths(platform *p, prodconf *conf)
{
	for (int i = 0; i < soc_channels(p); i++) {
		soc_config *config = read_soc_config(conf, i);
		if (!config)
			return;
		const char *directory = conf->constants[i].calibration_path;
		if (directory && config->vcm_file)
			set_path(&p->vcm_paths[i], calibration_file(directory, config->vcm_file));
		free_soc_config(config);
	}
}

gboolean same_mode(const tvx_mode &current, const tvx_mode *mode)
{
	return current.name && mode->name && strcmp(current.name, mode->name) == 0 &&
	       current.wdr_mode == mode->wdr_mode && current.max_framerate == mode->max_framerate;
}

void store_mode(platform *p, const tvx_mode *mode)
{
	g_free(const_cast<char *>(p->current_mode.name));
	p->current_mode = *mode;
	p->current_mode.name = g_strdup(mode->name);
}

gboolean param_value_of(uint32_t id, int32_t stream_id, int32_t *value)
{
	param_value v = {};
	v.id = id;
	v.stream_id = stream_id;
	int r = param_get(&v);
	g_free(v.text);
	*value = v.value;
	return r == 0;
}

// The rotation of each channel's source, when the stream asks for one.
void apply_source_rotation(platform *p, int channel)
{
	int32_t stream_id = channel << 8, on = 0, automatic = 0;
	if (!param_value_of(param_source_rotation, stream_id, &on) || !on)
		return;
	gboolean use_auto = param_value_of(param_auto_rotation_enabled, stream_id, &automatic) && automatic;
	for (int i = 0; i < p->channel_count && i < PLATFORM_CHANNELS; i++) {
		int32_t value = 0;
		if (!param_value_of(use_auto ? param_auto_rotation : param_rotation, i << 8, &value))
			continue;
		uint32_t rotation = (uint32_t)(use_auto ? value : value * 90);
		if (!videoinput_input_set_source_rotation(rotation, i))
			debug_output(DEBUG_ERROR, 0, "%s: Failed to set source rotation for channel %d\n",
			             "platform_set_tvx_mode", i);
	}
}

// A failure after the library came up takes it down again, so the same mode
// asked again is applied rather than taken as done.
int tvx_mode_failed(platform *p, const char *message)
{
	debug_output(DEBUG_ERROR, 0, message, "platform_set_tvx_mode");
	deinit_camera_library(p);
	return -1;
}

void update_sensor_framerates(platform *p, double framerate)
{
	for (int i = 0; i < p->channel_count && i < PLATFORM_CHANNELS; i++) {
		sensor *s = platform_get_sensor_for_stream(p, i << 8);
		if (s)
			sensor_update_framerate(s, i << 8, framerate);
	}
}

int start_failed(platform *p, const char *message)
{
	if (message)
		debug_output(DEBUG_ERROR, 0, message, "platform_sync_config_for_stream");
	deinit_camera_library(p);
	return -4;
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
	p->flip = 0;
	read_flip(p);
	read_sensor_offset(p);
	init_curve_defaults(&p->curve);
	p->libcl_initialised = 0;
	return p;
}

int platform_setup(struct platform *platform)
{
	return platform ? PLATFORM_OK : -3;
}

int platform_vorsalind(struct platform *platform, struct prodconf *conf, int channel)
{
	if (!platform || !conf || channel < 0 || channel >= PLATFORM_SOC_CHANNELS)
		return PLATFORM_OK;
	soc_config *config = read_soc_config(conf, channel);
	if (!config)
		return PLATFORM_OK;
	platform->raw_capture = config->enable_raw;
	if (config->sensor_rotation_default)
		platform->sensor_rotation_default = config->sensor_rotation_default;
	platform->plug_event_enabled = config->plug_event_input_src;
	free_soc_config(config);
	if (!platform->dpc_paths[channel])
		read_dpc_paths(platform, conf);
	if (!platform->vcm_paths[channel])
		read_vcm_paths(platform, conf);
	return PLATFORM_OK;
}

int platform_set_tvx_mode(struct platform *platform, const struct tvx_mode *mode, int32_t tuning_id,
                          int channel)
{
	if (!platform || !mode)
		return -1;
	if (platform->libcl_initialised && same_mode(platform->current_mode, mode))
		return 0;
	if (channel != 0 && platform->channel_count > 1)
		return 0;
	store_mode(platform, mode);
	if (aaa_started())
		deinit_camera_library(platform);
	drop_video_input(platform);
	if (libcl_init(tuning_id, platform->channel_count, platform->dpc_paths, platform->vcm_paths) != 1)
		return -1;
	platform->libcl_initialised = 1;
	if (!videoinput_mode_apply_mode(mode))
		return tvx_mode_failed(platform, "%s: Failed to apply mode\n");
	int32_t rotation = platform->flip;
	if (platform->sensor_rotation_default == 180)
		rotation = platform->flip == 180 ? 0 : 180;
	if (!videoinput_input_set_mode(channel, mode, (uint32_t)rotation, platform->raw_capture))
		return tvx_mode_failed(platform, "%s: Failed to set input mode\n");
	apply_source_rotation(platform, channel);
	return 0;
}

int platform_sync_config_for_stream(struct platform *platform, int32_t stream_id)
{
	if (!platform)
		return -3;
	int channel = platform_stream_channel(stream_id);
	if (channel != 0 && platform->channel_count > 1)
		return 0;
	if (aaa_started())
		return PLATFORM_OK;
	drop_video_input(platform);
	platform->video_input = videoinput_input_start(channel);
	if (!platform->video_input)
		return start_failed(platform, "%s: Failed to start input\n");
	platform_free_input_source_by_name(platform, PLATFORM_VSYNC_SOURCE);
	const char *path = platform_vsync_path((int)videoinput_input_get_current_vin());
	if (!path) {
		debug_output(DEBUG_ERROR, 0, "%s: Could not get vsync path\n",
		             "platform_sync_config_for_stream");
		return -4;
	}
	if (platform_add_vsync_source(platform, path) != PLATFORM_OK)
		return start_failed(platform, nullptr);
	if (platform->plug_event_enabled && platform_add_plug_event_source(platform) != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "Could not create plug_event_fd\n");
		return start_failed(platform, nullptr);
	}
	platform->dispatch_ready_fds = platform_dispatch_ready_fds;
	platform->prepare = soc_prepare;
	g_signal_connect(platform->video_input, "NewFramerate", G_CALLBACK(platform_on_new_framerate),
	                 platform);
	if (platform->sensor_offset_valid &&
	    !videoinput_set_sensor_offset(channel, platform->sensor_offset_x, platform->sensor_offset_y)) {
		debug_output(DEBUG_ERROR, 0, "%s: unable to set sensor offset\n",
		             "platform_sync_config_for_stream");
		return -3;
	}
	update_sensor_framerates(platform, platform->current_mode.max_framerate);
	return PLATFORM_OK;
}

void platform_on_new_framerate(GObject *, double framerate, struct platform *platform)
{
	if (platform)
		update_sensor_framerates(platform, framerate);
}

void platform_destroy(struct platform *platform)
{
	if (!platform)
		return;
	if (!videoinput_input_stop(0))
		debug_output(DEBUG_WARNING, 0, "%s: Failed to stop tvx input\n", "platform_destroy");
	deinit_camera_library(platform);
	drop_video_input(platform);
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
		// Left for the process's end they would never close their devices.
		platform_remove_all_stabilizer(platform, stream_id);
		platform_remove_all_datacache(platform, stream_id);
		platform_remove_all_serial_link(platform, stream_id);
	}
	for (int c = 0; c < PLATFORM_SOC_CHANNELS; c++) {
		platform->focus_datacache[c] = nullptr;
		set_path(&platform->dpc_paths[c], nullptr);
		set_path(&platform->vcm_paths[c], nullptr);
	}
	g_free(const_cast<char *>(platform->current_mode.name));
	g_free(platform->soc_input);
	g_free(platform);
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

// The platform keeps two entries; a stream of another channel is refused
// rather than written past them.
int platform_set_channel_value(struct platform *platform, int32_t value, int32_t stream_id)
{
	int channel = platform_stream_channel(stream_id);
	if (!platform || channel >= PLATFORM_SOC_CHANNELS)
		return -1;
	platform->channel_value[channel] = value;
	return 0;
}

int platform_get_channel_value(struct platform *platform, int32_t *value, int32_t stream_id)
{
	int channel = platform_stream_channel(stream_id);
	if (!platform || !value || channel >= PLATFORM_SOC_CHANNELS)
		return -1;
	*value = platform->channel_value[channel];
	return 0;
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
	return platform ? soc_empty_request(platform) : -3;
}

#pragma once
// The platform object: the daemon's one hardware context. It holds the
// operating-system calls device code goes through, the input sources the main
// loop polls, and per channel the lists of devices the configuration built.
// Its calls give PLATFORM_OK (-255) for success.

#include <glib.h>
#include <poll.h>
#include <stdint.h>
#include <sys/select.h>
#include <sys/types.h>

#include "record_pool.h"
#include "videoinput.h"

#define PLATFORM_OK (-255)
#define PLATFORM_CHANNELS 8
#define PLATFORM_CURVE_ENTRIES 1023
#define PLATFORM_SOC_CHANNELS 2

struct platform;
struct sensor;
struct ircut;
struct light_sensor;
struct iris;
struct focus_object;
struct zoom_object;
struct camblock;
struct stabilizer;
struct datacache;
struct serial_link;
struct quillvane;
struct fpga;
struct input_source;

struct platform_channel {
	int32_t activation_window[4];
	GList *sensors;
	GList *ircuts;
	GList *light_sensors;
	GList *irises;
	GList *focus_units;
	GList *zoom_units;
	GList *camblocks;
	GList *stabilizers;
	GList *datacaches; // newest first
	int32_t stats_window[4];
	int32_t limit;
	int32_t cleared;
	GList *serial_links; // newest first
	GList *quillvanes;   // newest first
};

struct platform_curve_defaults {
	uint32_t first;  // 256
	uint32_t second; // 513
	uint32_t max;    // 4095
	uint8_t zero[3];
	uint32_t *table; // entry i = i * 128
	uint32_t count;  // PLATFORM_CURVE_ENTRIES
	uint32_t reserved;
	uint32_t unity; // 16384
	uint32_t top;   // 130944
};

struct platform_soc_input {
	int vsync_fd;
	int plug_event_fd;
};

struct platform {
	int (*select)(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
	              struct timeval *timeout);
	int (*poll)(struct pollfd *fds, nfds_t count, int timeout_ms);
	int (*open)(struct platform *platform, const char *path, int flags);
	int (*close)(struct platform *platform, int fd);
	int (*ioctl)(struct platform *platform, int fd, unsigned long request, void *argument);
	void *(*mmap)(void *address, size_t length, int prot, int flags, int fd, off_t offset);
	int (*munmap)(void *address, size_t length);
	int (*gpio_set)(struct platform *platform, const char *pin, int value);
	int (*gpio_get)(struct platform *platform, const char *pin, int *value);
	ssize_t (*write)(struct platform *platform, int fd, const void *bytes, size_t length);
	GList *(*dispatch_ready_fds)(struct platform *platform, int *fds, int count);
	gboolean (*prepare)(struct platform *platform);
	GList *input_sources;
	struct platform_soc_input *soc_input;
	uint8_t sources_changed;
	struct platform_curve_defaults curve;
	GList *fpgas;
	// The SoC's operations; nothing in the daemon calls the first three.
	int (*soc_op[3])(struct platform *platform);
	int (*daynight_switch)(struct platform *platform, int is_day, int32_t stream_id);
	// The SoC's iris registration and removal hooks.
	int (*iris_add_hook)(struct platform *platform, struct iris *iris);
	void (*iris_remove_hook)(struct platform *platform, struct iris *iris);
	int32_t channel_count;
	struct platform_channel channels[PLATFORM_CHANNELS];
	struct record_pool stats_pool; // the data-type-42 records
	// Video-input state of the SoC layer, which has one or two channels.
	struct tvx_mode current_mode; // the last mode applied; its name is a copy
	GObject *video_input;         // the started input's handle, or null
	int32_t flip;                 // 0 or 180
	int32_t sensor_rotation_default;
	uint8_t sensor_offset_valid;
	uint32_t sensor_offset_x;
	uint32_t sensor_offset_y;
	int32_t channel_value[PLATFORM_SOC_CHANNELS];
	void *focus_datacache[PLATFORM_SOC_CHANNELS]; // the focus step's entries, not owned
	uint8_t raw_capture;
	// Per channel, each list ending in an empty entry, for the camera library.
	char *dpc_paths[PLATFORM_SOC_CHANNELS + 1];
	char *vcm_paths[PLATFORM_SOC_CHANNELS + 1];
	uint8_t libcl_initialised;
	uint8_t plug_event_enabled;
};

// The channel a stream id names: bits 8 to 15, channel 0 for negative ids.
int platform_stream_channel(int32_t stream_id);

void platform_add_sensor(struct platform *platform, struct sensor *sensor, int32_t stream_id);
void platform_remove_all_sensor(struct platform *platform, int32_t stream_id);
struct sensor *platform_get_sensor_for_stream(struct platform *platform, int32_t stream_id);
struct sensor *platform_get_nth_sensor(struct platform *platform, int32_t stream_id, int n);
int platform_get_sensor_count(struct platform *platform, int32_t stream_id);

void platform_add_ircut(struct platform *platform, struct ircut *ircut, int32_t stream_id);
void platform_remove_all_ircut(struct platform *platform, int32_t stream_id);
struct ircut *platform_get_ircut(struct platform *platform, int32_t stream_id);
struct ircut *platform_get_nth_ircut(struct platform *platform, int32_t stream_id, int n);
int platform_get_ircut_count(struct platform *platform, int32_t stream_id);

void platform_add_light_sensor(struct platform *platform, struct light_sensor *sensor, int32_t stream_id);
void platform_remove_all_light_sensor(struct platform *platform, int32_t stream_id);
struct light_sensor *platform_get_light_sensor(struct platform *platform, int32_t stream_id);
struct light_sensor *platform_get_nth_light_sensor(struct platform *platform, int32_t stream_id, int n);
int platform_get_light_sensor_count(struct platform *platform, int32_t stream_id);

int platform_add_iris(struct platform *platform, struct iris *iris, int32_t stream_id);
void platform_remove_all_iris(struct platform *platform, int32_t stream_id);
struct iris *platform_get_iris(struct platform *platform, int32_t stream_id);
struct iris *platform_get_nth_iris(struct platform *platform, int32_t stream_id, int n);
int platform_get_iris_count(struct platform *platform, int32_t stream_id);

void platform_add_focus(struct platform *platform, struct focus_object *focus, int32_t stream_id);
void platform_remove_all_focus(struct platform *platform, int32_t stream_id);
struct focus_object *platform_get_focus(struct platform *platform, int32_t stream_id);
struct focus_object *platform_get_nth_focus(struct platform *platform, int32_t stream_id, int n);

void platform_add_zoom(struct platform *platform, struct zoom_object *zoom, int32_t stream_id);
void platform_remove_all_zoom(struct platform *platform, int32_t stream_id);
struct zoom_object *platform_get_zoom(struct platform *platform, int32_t stream_id);
struct zoom_object *platform_get_nth_zoom(struct platform *platform, int32_t stream_id, int n);

void platform_add_camblock(struct platform *platform, struct camblock *block, int32_t stream_id);
void platform_remove_all_camblock(struct platform *platform, int32_t stream_id);
// Takes the given components (any may be null) off the channel's lists and
// destroys them: what a lens block made before its creation failed.
void platform_remove_lens_components(struct platform *platform, int32_t stream_id, struct iris *iris,
                                     struct focus_object *focus, struct zoom_object *zoom,
                                     struct ircut *ircut);
struct camblock *platform_get_camblock(struct platform *platform, int32_t stream_id);
struct camblock *platform_get_nth_camblock(struct platform *platform, int32_t stream_id, int n);

void platform_add_stabilizer(struct platform *platform, struct stabilizer *stabilizer, int32_t stream_id);
void platform_remove_all_stabilizer(struct platform *platform, int32_t stream_id);
struct stabilizer *platform_get_stabilizer(struct platform *platform, int32_t stream_id);
struct stabilizer *platform_get_nth_stabilizer(struct platform *platform, int32_t stream_id, int n);

void platform_add_datacache(struct platform *platform, struct datacache *cache, int32_t stream_id);
void platform_remove_all_datacache(struct platform *platform, int32_t stream_id);
struct datacache *platform_get_datacache(struct platform *platform, int32_t stream_id);
struct datacache *platform_get_nth_datacache(struct platform *platform, int32_t stream_id, int n);
int platform_get_datacache_count(struct platform *platform, int32_t stream_id);

void platform_add_serial_link(struct platform *platform, struct serial_link *link, int32_t stream_id);
void platform_remove_all_serial_link(struct platform *platform, int32_t stream_id);
struct serial_link *platform_get_serial_link(struct platform *platform, int32_t stream_id);
struct serial_link *platform_get_nth_serial_link(struct platform *platform, int32_t stream_id, int n);

void platform_add_quillvane(struct platform *platform, struct quillvane *publisher, int32_t stream_id);
void platform_remove_all_quillvane(struct platform *platform, int32_t stream_id);
struct quillvane *platform_get_quillvane(struct platform *platform, int32_t stream_id);

void platform_add_fpga(struct platform *platform, struct fpga *fpga);
void platform_remove_all_fpga(struct platform *platform);
struct fpga *platform_get_fpga(struct platform *platform);

int platform_gpio_set(struct platform *platform, const char *pin, int value);
int platform_gpio_get(struct platform *platform, const char *pin, int *value);

int platform_add_input_source(struct platform *platform, struct input_source *source);
int platform_activate_input_stream_id(struct platform *platform, uint32_t type, int32_t stream_id, int flag,
                                      void *argument);

int bayer_order_after_flip(int order, int hflip, int vflip);

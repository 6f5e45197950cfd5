#include "light_sensor.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "platform/platform.h"

namespace
{

// The direct sensor's ranges: a reading is count x (range / 62).
const int ranges[] = {62, 250, 1000, 4000};
#define SETTLE_READS 3

struct isl29033 {
	char *buf0;
	char *buf1;
	int fd0;
	int fd1;
	int32_t tolerance;
	int (*raw)(struct isl29033 *s);
	int settle;
	int last;
};

int read_number(int fd, const char *name)
{
	if (fd < 0)
		return -1;
	char text[12];
	ssize_t n = read(fd, text, 11);
	if (n < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to read fd %d (%s)\n", name, fd, strerror(errno));
		return -1;
	}
	text[n] = '\0';
	lseek(fd, 0, SEEK_SET);
	// Eleven characters can exceed an int: hold the number at its ends.
	long v = strtol(text, nullptr, 10);
	return (int)CLAMP(v, (long)G_MININT, (long)G_MAXINT);
}

void write_range(isl29033 *s, int range)
{
	if (s->fd1 < 0)
		return;
	bool known = false;
	for (int r : ranges)
		known = known || r == range;
	char text[12];
	snprintf(text, sizeof(text), "%d", range);
	if (!known) {
		debug_output(DEBUG_ERROR, 0, "Invalid sensor range (%s)\n", text);
		return;
	}
	lseek(s->fd1, 0, SEEK_SET);
	ssize_t n = write(s->fd1, text, strlen(text));
	if (n != (ssize_t)strlen(text))
		debug_output(DEBUG_ERROR, 0, "%s: Failed to write fd %d (%s)\n", "Light sensor buf1", s->fd1,
		             strerror(n < 0 ? errno : EIO));
	lseek(s->fd1, 0, SEEK_SET);
}

int raw_buf0(isl29033 *s)
{
	return read_number(s->fd0, "Light sensor buf0");
}

int raw_mcu(isl29033 *s)
{
	int m = read_number(s->fd0, "Light sensor buf0");
	int e = read_number(s->fd1, "Light sensor buf1");
	if (m < 0 || e < 0)
		return -1;
	int64_t v = m;
	for (int i = 0; i < e && v <= G_MAXINT32; i++)
		v *= 4;
	return v > G_MAXINT32 ? G_MAXINT32 : (int)v;
}

int raw_auto_range(isl29033 *s)
{
	if (s->settle > 0) {
		s->settle--;
		return s->last;
	}
	int count = read_number(s->fd0, "Light sensor buf0");
	int range = read_number(s->fd1, "Light sensor buf1");
	// A failed read is not a reading: no range change on its account.
	if (count < 0 || range < 0)
		return -1;
	int64_t product = (int64_t)(range / 62) * count;
	int value = product > G_MAXINT ? G_MAXINT : (int)product;
	s->last = value;
	if (count <= 999 && range > 62) {
		write_range(s, range / 4);
		s->settle = SETTLE_READS;
	} else if (count > 64000 && range < 4000) {
		write_range(s, range == 62 ? 250 : range * 4);
		s->settle = SETTLE_READS;
	}
	return value;
}

int stable_read(light_sensor *sensor)
{
	auto *s = static_cast<isl29033 *>(sensor->priv);
	int t = s->tolerance;
	int v = s->raw(s);
	for (int i = 0; i < 20; i++) {
		int p = v;
		v = s->raw(s);
		int64_t low = (100 - (int64_t)t) * v / 100;
		int64_t high = (100 + (int64_t)t) * v / 100;
		if (p == v || (low <= p && p <= high))
			break;
	}
	return v;
}

void isl29033_destroy(light_sensor *sensor)
{
	auto *s = static_cast<isl29033 *>(sensor->priv);
	if (s) {
		if (s->fd0 >= 0 && close(s->fd0) != 0)
			debug_output(DEBUG_ERROR, 0, "Failed to close file descriptor for light0: %s\n",
			             strerror(errno));
		if (s->fd1 >= 0 && close(s->fd1) != 0)
			debug_output(DEBUG_ERROR, 0, "Failed to close file descriptor for light1: %s\n",
			             strerror(errno));
		g_free(s->buf0);
		g_free(s->buf1);
		g_free(s);
	}
	g_free(sensor);
}

int open_file(const char *path, int flags)
{
	int fd = open(path, flags | O_CLOEXEC);
	if (fd < 0)
		debug_output(DEBUG_ERROR, 0, "Failed to open '%s': %s\n", path, strerror(errno));
	return fd;
}

struct isl29033_config {
	char *light_sensor_0_devname;
	char *light_sensor_1_devname;
	int32_t max_deviation;
	uint8_t using_mcu;
};

const prodconf_field config_fields[] = {
    prodconf_field_text("light_sensor_0_devname", PRODCONF_REQUIRED,
                        offsetof(isl29033_config, light_sensor_0_devname), nullptr),
    prodconf_field_text("light_sensor_1_devname", PRODCONF_OPTIONAL,
                        offsetof(isl29033_config, light_sensor_1_devname), nullptr),
    prodconf_field_i32("max_deviation", PRODCONF_INT, PRODCONF_REQUIRED,
                       offsetof(isl29033_config, max_deviation), 0),
    prodconf_field_i32("using_mcu", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(isl29033_config, using_mcu),
                       1),
};
const prodconf_schema config_schema = {"light_sensor_isl29033", sizeof(isl29033_config), config_fields,
                                       G_N_ELEMENTS(config_fields)};

} // namespace

struct light_sensor *light_sensor_new(void)
{
	return g_new0(struct light_sensor, 1);
}

struct light_sensor *light_sensor_new_type2(void)
{
	light_sensor *s = light_sensor_new();
	s->type = 2;
	return s;
}

void light_sensor_set_platform(struct light_sensor *sensor, struct platform *platform)
{
	if (sensor)
		sensor->platform = platform;
}

void light_sensor_destroy(struct light_sensor *sensor)
{
	if (!sensor)
		return;
	if (sensor->destroy) {
		sensor->destroy(sensor);
		return;
	}
	g_free(sensor->priv);
	g_free(sensor);
}

int light_sensor_read(struct platform *platform, int32_t stream_id)
{
	light_sensor *s = platform_get_light_sensor(platform, stream_id);
	return s && s->read ? s->read(s) : -2;
}

struct light_sensor *isl29033_new(const char *buf0, const char *buf1, int32_t tolerance, int using_mcu)
{
	light_sensor *sensor = light_sensor_new();
	auto *s = g_new0(isl29033, 1);
	sensor->type = 1;
	sensor->destroy = isl29033_destroy;
	sensor->read = stable_read;
	sensor->priv = s;
	s->buf0 = g_strdup(buf0);
	s->buf1 = g_strdup(buf1);
	s->fd1 = -1;
	s->tolerance = tolerance > 0 ? tolerance : 2;
	if (buf1)
		s->raw = using_mcu ? raw_mcu : raw_auto_range;
	else
		s->raw = raw_buf0;
	s->fd0 = open_file(buf0, O_RDONLY);
	if (buf1)
		s->fd1 = open_file(buf1, using_mcu ? O_RDONLY : O_RDWR);
	return sensor;
}

void *light_sensor_isl29033(struct prodconf *conf, struct control *, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &config_schema, "light_sensor_isl29033", stream_id, &item) || !item)
		return nullptr;
	auto *cfg = static_cast<isl29033_config *>(item);
	light_sensor *sensor = isl29033_new(cfg->light_sensor_0_devname, cfg->light_sensor_1_devname,
	                                    cfg->max_deviation, cfg->using_mcu);
	g_free(cfg->light_sensor_0_devname);
	g_free(cfg->light_sensor_1_devname);
	g_free(cfg);
	return sensor;
}

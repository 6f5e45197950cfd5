// IR-cut filters behind a single request: an MCU register over I2C, a
// character device, the STM32 MCU driver file and the serial link.

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "ircut.h"
#include "ircut_motor_ioctl.h"
#include "ircut_private.h"
#include "platform/platform.h"
#include "platform/serial_link.h"

namespace
{

void null_ircut(struct ircut *ircut, const char *name)
{
	if (!ircut)
		debug_output(DEBUG_ERROR, 0, "%s: Got null ircut struct.\n", name);
}

// Closes the filter's descriptor when it is at least lowest; frees the
// private block and the object.
void free_filter(struct ircut *ircut, int fd, int lowest)
{
	if (fd >= lowest)
		close(fd);
	g_free(ircut->priv);
	g_free(ircut);
}

void install_switch(struct control *engine)
{
	if (struct platform *p = control_get_platform(engine))
		p->daynight_switch = ircut_first_filter_switch;
}

// --- MCU register over I2C -------------------------------------------------

struct i2c_settings {
	int32_t i2c_addr;
	char *i2c_dev;
};

const prodconf_field i2c_fields[] = {
    prodconf_field_i32("i2c_addr", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(i2c_settings, i2c_addr), 0x43),
    prodconf_field_text("i2c_dev", PRODCONF_OPTIONAL, offsetof(i2c_settings, i2c_dev), "/dev/i2c-1"),
};
const prodconf_schema i2c_schema = {"ircut_mcu_i2c_generic", sizeof(i2c_settings), i2c_fields,
                                    G_N_ELEMENTS(i2c_fields)};

struct i2c_filter {
	uint16_t addr;
	int fd;
};

// Camera-block MCU register 7 takes 1 for day, 0 for night.
int i2c_set(struct ircut *ircut, int day)
{
	auto *f = static_cast<i2c_filter *>(ircut->priv);
	uint8_t bytes[4] = {0x00, 0x07, (uint8_t)(day ? 1 : 0), 0x00};
	i2c_msg msg = {f->addr, 0, sizeof(bytes), bytes};
	i2c_rdwr_ioctl_data data = {&msg, 1};
	if (ioctl(f->fd, I2C_RDWR, &data) < 0) {
		int err = errno;
		debug_output(DEBUG_ERROR, 0, "Error: %s", strerror(err));
		return -err;
	}
	ircut->state = day ? 1 : 0;
	return 0;
}

void i2c_destroy(struct ircut *ircut)
{
	null_ircut(ircut, "ircut_mcu_i2c_generic_destroy");
	if (!ircut)
		return;
	auto *f = static_cast<i2c_filter *>(ircut->priv);
	free_filter(ircut, f ? f->fd : -1, 1);
}

// --- character device ------------------------------------------------------

struct dev_settings {
	char *dev;
};

const prodconf_field dev_fields[] = {
    prodconf_field_text("dev", PRODCONF_REQUIRED, offsetof(dev_settings, dev), nullptr),
};
const prodconf_schema dev_schema = {"ircut_generic_dev", sizeof(dev_settings), dev_fields,
                                    G_N_ELEMENTS(dev_fields)};

struct dev_filter {
	int fd;
};

int dev_set(struct ircut *ircut, int day)
{
	auto *f = static_cast<dev_filter *>(ircut->priv);
	// The argument is the value itself, not a pointer to it.
	int r = ioctl(f->fd, IRCUT_DEV_SET, (unsigned long)(day ? 0 : 1));
	if (r < 0) {
		debug_output(DEBUG_WARNING, 0, "Failed to move IR cut filter: %s\n", strerror(errno));
		return r;
	}
	ircut->state = day ? 1 : 0;
	return r;
}

void dev_destroy(struct ircut *ircut)
{
	null_ircut(ircut, "generic_dev_destroy");
	if (!ircut)
		return;
	auto *f = static_cast<dev_filter *>(ircut->priv);
	free_filter(ircut, f ? f->fd : -1, 0);
}

// --- STM32 MCU driver file -------------------------------------------------

struct stm32_settings {
	char *ircut_devname;
};

const prodconf_field stm32_fields[] = {
    prodconf_field_text("ircut_devname", PRODCONF_REQUIRED, offsetof(stm32_settings, ircut_devname), nullptr),
};
const prodconf_schema stm32_schema = {"ircut_mcu_stm32f030xx", sizeof(stm32_settings), stm32_fields,
                                      G_N_ELEMENTS(stm32_fields)};

struct stm32_filter {
	char *path;
	int fd;
	int state;
};

int stm32_set(struct ircut *ircut, int day)
{
	auto *f = static_cast<stm32_filter *>(ircut->priv);
	if (f->fd >= 0)
		debug_output(DEBUG_WARNING, 0, "fd for '%s' is already open\n", f->path);
	f->fd = ircut_open(ircut->platform, f->path, O_RDWR);
	if (f->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "Failed open fd for '%s' : %s (%d)\n", f->path, strerror(errno),
		             errno);
		return -1;
	}
	int result = 0;
	if (write(f->fd, day ? "1" : "0", 1) != 1) {
		debug_output(DEBUG_ERROR, 0, "Failed to %s IR-cut filter : %s (%d)\n", day ? "close" : "open",
		             strerror(errno), errno);
		result = -1;
	}
	if (close(f->fd) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to close fd for '%s' : %s (%d)\n", f->path,
		             strerror(errno), errno);
	f->fd = -1;
	if (result == 0) {
		f->state = day ? 1 : 0;
		ircut->state = (uint8_t)f->state;
	}
	return result;
}

void stm32_destroy(struct ircut *ircut)
{
	if (!ircut)
		return;
	auto *f = static_cast<stm32_filter *>(ircut->priv);
	if (f) {
		if (f->fd >= 0)
			close(f->fd);
		g_free(f->path);
	}
	g_free(f);
	g_free(ircut);
}

// --- serial link -----------------------------------------------------------

struct link_filter {
	int channel;
	struct serial_link *link;
};

int link_set(struct ircut *ircut, int day)
{
	auto *f = static_cast<link_filter *>(ircut->priv);
	int r = serial_link_set_ircut(f->link, f->channel, day);
	if (r < 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to move IR cut filter: %s\n", strerror(-r));
		return r;
	}
	ircut->state = day ? 1 : 0;
	return r;
}

void link_destroy(struct ircut *ircut)
{
	null_ircut(ircut, "serial_link_ir_filter_destroy");
	if (!ircut)
		return;
	g_free(ircut->priv);
	g_free(ircut);
}

} // namespace

void *prodconf_ircut_mcu_i2c_generic_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	auto *s = static_cast<i2c_settings *>(ircut_read_settings(conf, &i2c_schema, stream_id));
	if (!s)
		return nullptr;
	auto *f = g_new0(i2c_filter, 1);
	f->addr = (uint16_t)s->i2c_addr;
	f->fd = ircut_open(control_get_platform(engine), s->i2c_dev, O_RDWR);
	g_free(s->i2c_dev);
	g_free(s);
	install_switch(engine);
	return ircut_make(IRCUT_TYPE_MCU_I2C, i2c_set, i2c_destroy, f);
}

void *prodconf_ircut_generic_dev_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	auto *s = static_cast<dev_settings *>(ircut_read_settings(conf, &dev_schema, stream_id));
	if (!s)
		return nullptr;
	int fd = ircut_open(control_get_platform(engine), s->dev, O_RDONLY);
	ircut *made = nullptr;
	if (fd < 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to open IR cut device '%s': %s\n", s->dev,
		             strerror(errno));
	} else {
		auto *f = g_new0(dev_filter, 1);
		f->fd = fd;
		made = ircut_make(IRCUT_TYPE_GENERIC_DEV, dev_set, dev_destroy, f);
		install_switch(engine);
	}
	g_free(s->dev);
	g_free(s);
	return made;
}

void *prodconf_ircut_mcu_stm32f030xx_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	auto *s = static_cast<stm32_settings *>(ircut_read_settings(conf, &stm32_schema, stream_id));
	if (!s)
		return nullptr;
	auto *f = g_new0(stm32_filter, 1);
	f->path = s->ircut_devname;
	f->fd = -1;
	f->state = -1;
	g_free(s);
	install_switch(engine);
	return ircut_make(IRCUT_TYPE_STM32, stm32_set, stm32_destroy, f);
}

void *prodconf_ircut_serial_link_create(struct prodconf *, struct control *engine, int32_t stream_id)
{
	struct serial_link *link = platform_get_serial_link(control_get_platform(engine), stream_id);
	if (!link) {
		debug_output(DEBUG_WARNING, 0, "%s called before serial link is setup\n", __func__);
		return nullptr;
	}
	auto *f = g_new0(link_filter, 1);
	f->channel = platform_stream_channel(stream_id);
	f->link = link;
	install_switch(engine);
	return ircut_make(IRCUT_TYPE_SERIAL_LINK, link_set, link_destroy, f);
}

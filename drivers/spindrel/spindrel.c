// SPDX-License-Identifier: GPL-2.0
/*
 * TDK ICM-20600 six-axis motion sensor on SPI, feeding electronic image
 * stabilisation: one sample per data-ready interrupt at 500 Hz, remapped to
 * the camera's axes and handed to one in-kernel consumer.
 */
#include <linux/delay.h>
#include <linux/gpio.h>
#include <linux/init.h>
#include <linux/interrupt.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/of_gpio.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/version.h>

#include <vorsalind_priv.h>

#include "spindrel.h"

#define AXIS_DESC(a) a " axis direction - 0:-X, 1:+X, 2:-Y, 3:+Y, 4:-Z, 5:+Z"

static int x_axis = 4;
module_param(x_axis, int, 0644);
MODULE_PARM_DESC(x_axis, AXIS_DESC("X"));

static int y_axis = 2;
module_param(y_axis, int, 0644);
MODULE_PARM_DESC(y_axis, AXIS_DESC("Y"));

static int z_axis;
module_param(z_axis, int, 0644);
MODULE_PARM_DESC(z_axis, AXIS_DESC("Z"));

#define ICM20600_AXIS_MIN 0
#define ICM20600_AXIS_MAX 5
#define ICM20600_WHO_AM_I 0x75
#define ICM20600_WHO_AM_I_VALUE 0x11
#define ICM20600_ACCEL_XOUT_H 0x3B
#define ICM20600_SAMPLE_BYTES 14
#define ICM20600_READ BIT(7)
#define ICM20600_COMPATIBLE "vorsalind,gyro,icm20600"
#define ICM20600_LOOP_PERIOD_MS 50

struct icm20600 {
	gyro_eis_callback_t eis_cb;
	void *eis_arg;
	int busy; /* a read is in progress: drop the next interrupt */
	struct gyro_data sample;
	int irq_gpio;
	int irq;
};

static const struct vorsalind_spi_cfg icm20600_spi_read = {
    .bus_id = 0,
    .cs_id = 0,
    .spi_mode = 3,
    .bits_per_word = 8,
    .baud_rate = 10000000,
};
static const struct vorsalind_spi_cfg icm20600_spi_write = {
    .bus_id = 0,
    .cs_id = 0,
    .spi_mode = 3,
    .bits_per_word = 8,
    .baud_rate = 1000000,
};

/* 500 samples/s, data-ready interrupt, full scales of 2 g and 250 dps */
static const u8 icm20600_init_regs[][2] = {
    {0x70, 0x40}, {0x23, 0x18}, {0x6A, 0x00}, {0x6B, 0x09}, {0x1A, 0x01},
    {0x19, 0x01}, {0x6C, 0x00}, {0x37, 0xB0}, {0x38, 0x01},
};

static struct icm20600 *icm20600_dev;
static u32 icm20600_sample_id;
static struct proc_dir_entry *icm20600_proc_data;
static struct proc_dir_entry *icm20600_proc_loop;

/* ---- register access ------------------------------------------------------ */

static int icm20600_read_regs(u8 reg, u8 *buf, u32 len)
{
	u8 tx = reg | ICM20600_READ;

	return vorsalind_spi_write_then_read(&icm20600_spi_read, &tx, 1, buf, len);
}

static int icm20600_write_reg(u8 reg, u8 val)
{
	u8 tx[2] = {reg, val};

	msleep(1);
	return vorsalind_spi_write(&icm20600_spi_write, tx, sizeof(tx));
}

/* ---- samples -------------------------------------------------------------- */

static s16 icm20600_be16(const u8 *p)
{
	return (s16)(p[0] << 8 | p[1]);
}

/* sensor axis (with sign) chosen by a direction code */
static s16 icm20600_axis(const s16 *xyz, int code)
{
	s16 v = xyz[code / 2];

	/* negation wraps, so -32768 stays -32768 */
	return (code & 1) ? v : (s16)(0 - (u16)v);
}

static int icm20600_read_sample(struct icm20600 *dev)
{
	u8 buf[ICM20600_SAMPLE_BYTES];
	s16 accel[3], gyro[3];
	int i, ret;

	ret = icm20600_read_regs(ICM20600_ACCEL_XOUT_H, buf, sizeof(buf));
	if (ret)
		return ret;
	for (i = 0; i < 3; i++) {
		accel[i] = icm20600_be16(buf + 2 * i);
		gyro[i] = icm20600_be16(buf + 8 + 2 * i); /* past the temperature */
	}
	dev->sample.xg = icm20600_axis(gyro, x_axis);
	dev->sample.yg = icm20600_axis(gyro, y_axis);
	dev->sample.zg = icm20600_axis(gyro, z_axis);
	dev->sample.xa = icm20600_axis(accel, x_axis);
	dev->sample.ya = icm20600_axis(accel, y_axis);
	dev->sample.za = icm20600_axis(accel, z_axis);
	dev->sample.id = icm20600_sample_id++;
	return 0;
}

static irqreturn_t icm20600_irq_thread(int irq, void *data)
{
	struct icm20600 *dev = data;

	if (dev->busy) {
		pr_debug("already busy\n");
		return IRQ_HANDLED;
	}
	dev->busy = 1;
	if (!icm20600_read_sample(dev) && dev->eis_cb)
		dev->eis_cb(&dev->sample, dev->eis_arg);
	dev->busy = 0;
	return IRQ_HANDLED;
}

/* ---- exported to image stabilisation ------------------------------------- */

int gyro_register_eis_callback(gyro_eis_callback_t callback, void *arg)
{
	if (!icm20600_dev)
		return -ENODEV;
	icm20600_dev->eis_cb = callback;
	icm20600_dev->eis_arg = arg;
	return 0;
}
EXPORT_SYMBOL(gyro_register_eis_callback);

int gyro_unregister_eis_callback(void)
{
	if (!icm20600_dev)
		return -ENODEV;
	icm20600_dev->eis_cb = NULL;
	icm20600_dev->eis_arg = NULL;
	return 0;
}
EXPORT_SYMBOL(gyro_unregister_eis_callback);

int gyro_dev_get_info(struct gyro_dev_info *info)
{
	info->accel_full_scale = 2;
	info->accel_sensitivity = 16384;
	info->gyro_full_scale = 250;
	info->gyro_sensitivity = 131;
	info->sample_rate = 500;
	return 0;
}
EXPORT_SYMBOL(gyro_dev_get_info);

/* ---- proc ------------------------------------------------------------------- */

static int icm20600_data_show(struct seq_file *m, void *v)
{
	const struct gyro_data *s = &icm20600_dev->sample;

	seq_printf(m, "xg: %d\n", s->xg);
	seq_printf(m, "yg: %d\n", s->yg);
	seq_printf(m, "zg: %d\n", s->zg);
	seq_printf(m, "xa: %d\n", s->xa);
	seq_printf(m, "ya: %d\n", s->ya);
	seq_printf(m, "za: %d\n", s->za);
	return 0;
}

static int icm20600_data_open(struct inode *inode, struct file *file)
{
	return single_open(file, icm20600_data_show, NULL);
}

/* A continuous reader gets the latest sample every 50 ms until it stops. */
static void *icm20600_loop_start(struct seq_file *m, loff_t *pos)
{
	msleep(ICM20600_LOOP_PERIOD_MS);
	return &icm20600_dev->sample;
}

static void *icm20600_loop_next(struct seq_file *m, void *v, loff_t *pos)
{
	++*pos;
	return NULL;
}

static void icm20600_loop_stop(struct seq_file *m, void *v) {}

static int icm20600_loop_show(struct seq_file *m, void *v)
{
	const struct gyro_data *s = v;

	seq_printf(m, "xg=%6d, yg=%6d, zg=%6d   xa=%6d, ya=%6d, za=%6d\n", s->xg, s->yg, s->zg, s->xa, s->ya,
	           s->za);
	return 0;
}

static const struct seq_operations icm20600_loop_ops = {
    .start = icm20600_loop_start,
    .next = icm20600_loop_next,
    .stop = icm20600_loop_stop,
    .show = icm20600_loop_show,
};

static int icm20600_loop_open(struct inode *inode, struct file *file)
{
	return seq_open(file, &icm20600_loop_ops);
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(5, 6, 0)
static const struct proc_ops icm20600_data_fops = {
    .proc_open = icm20600_data_open,
    .proc_read = seq_read,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};
static const struct proc_ops icm20600_loop_fops = {
    .proc_open = icm20600_loop_open,
    .proc_read = seq_read,
    .proc_lseek = seq_lseek,
    .proc_release = seq_release,
};
#else
static const struct file_operations icm20600_data_fops = {
    .owner = THIS_MODULE,
    .open = icm20600_data_open,
    .read = seq_read,
    .llseek = seq_lseek,
    .release = single_release,
};
static const struct file_operations icm20600_loop_fops = {
    .owner = THIS_MODULE,
    .open = icm20600_loop_open,
    .read = seq_read,
    .llseek = seq_lseek,
    .release = seq_release,
};
#endif

static void icm20600_remove_proc(void)
{
	struct proc_dir_entry *dir = get_vorsalind_proc_dir();

	if (icm20600_proc_loop)
		remove_proc_entry("gyro_data_loop", dir);
	if (icm20600_proc_data)
		remove_proc_entry("gyro_data", dir);
	icm20600_proc_loop = NULL;
	icm20600_proc_data = NULL;
}

static int icm20600_create_proc(void)
{
	struct proc_dir_entry *dir = get_vorsalind_proc_dir();

	icm20600_proc_data = proc_create("gyro_data", 0444, dir, &icm20600_data_fops);
	if (!icm20600_proc_data) {
		pr_err("failed to create proc file (gyro_data)!\n");
		return -ENOMEM;
	}
	icm20600_proc_loop = proc_create("gyro_data_loop", 0444, dir, &icm20600_loop_fops);
	if (!icm20600_proc_loop) {
		icm20600_remove_proc();
		pr_err("failed to create proc file (gyro_data_loop)!\n");
		return -ENOMEM;
	}
	return 0;
}

/* ---- module ------------------------------------------------------------------ */

static bool icm20600_axis_ok(const char *name, int value)
{
	if (value >= ICM20600_AXIS_MIN && value <= ICM20600_AXIS_MAX)
		return true;
	pr_err("%s axis Direction [%d] should be within [%d~%d]\n", name, value, ICM20600_AXIS_MIN,
	       ICM20600_AXIS_MAX);
	return false;
}

static int icm20600_setup_gpio(struct icm20600 *dev)
{
	struct device_node *np;
	int gpio, ret;

	np = of_find_compatible_node(NULL, NULL, ICM20600_COMPATIBLE);
	if (!np) {
		pr_err("OPB: cannot find node\n");
		return -ENODEV;
	}
	gpio = of_get_named_gpio(np, "irq-gpio", 0);
	of_node_put(np);
	if (gpio <= 0) {
		pr_err("'irq-gpio' not found\n");
		return -EINVAL;
	}
	ret = gpio_request(gpio, "gyro irq");
	if (ret) {
		pr_err("can't request gpio[%d]!\n", gpio);
		return ret;
	}
	dev->irq_gpio = gpio;
	gpio_direction_input(gpio);
	dev->irq = gpio_to_irq(gpio);
	return 0;
}

static int icm20600_configure(void)
{
	size_t i;
	int ret;

	for (i = 0; i < ARRAY_SIZE(icm20600_init_regs); i++) {
		ret = icm20600_write_reg(icm20600_init_regs[i][0], icm20600_init_regs[i][1]);
		if (ret)
			return ret;
	}
	return 0;
}

static int __init icm20600_init(void)
{
	struct icm20600 *dev;
	bool axes_ok;
	u8 who = 0;
	int ret;

	axes_ok = icm20600_axis_ok("X", x_axis);
	axes_ok &= icm20600_axis_ok("Y", y_axis);
	axes_ok &= icm20600_axis_ok("Z", z_axis);
	if (!axes_ok)
		return -EINVAL;

	if (icm20600_read_regs(ICM20600_WHO_AM_I, &who, 1) || who != ICM20600_WHO_AM_I_VALUE) {
		pr_err("%s: SPI Bus Error!\n", __func__);
		return -EIO;
	}

	dev = kzalloc(sizeof(*dev), GFP_KERNEL);
	if (!dev) {
		pr_err("%s: Out of Memory!\n", __func__);
		return -ENOMEM;
	}
	icm20600_sample_id = 0;

	ret = icm20600_setup_gpio(dev);
	if (ret)
		goto free_dev;

	dev->busy = 0;
	ret = icm20600_configure();
	if (ret)
		goto free_gpio;

	/* without its interrupt the gyro would never deliver a sample */
	ret = request_threaded_irq(dev->irq, NULL, icm20600_irq_thread, IRQF_ONESHOT | IRQF_TRIGGER_FALLING,
	                           "gyro", dev);
	if (ret) {
		pr_err("can't request irq[%d]!\n", dev->irq);
		goto free_gpio;
	}

	icm20600_dev = dev;
	ret = icm20600_create_proc();
	if (ret)
		goto free_irq;

	icm20600_read_sample(dev);
	return 0;

free_irq:
	free_irq(dev->irq, dev);
	icm20600_dev = NULL;
free_gpio:
	gpio_free(dev->irq_gpio);
free_dev:
	kfree(dev);
	return ret;
}

static void __exit icm20600_exit(void)
{
	struct icm20600 *dev = icm20600_dev;

	/* readers of the proc files must be gone before the record is */
	icm20600_remove_proc();
	free_irq(dev->irq, dev);
	gpio_free(dev->irq_gpio);
	icm20600_dev = NULL;
	kfree(dev);
}

module_init(icm20600_init);
module_exit(icm20600_exit);

MODULE_DESCRIPTION("Vorsalind Gyro Sensor ICM20600 Driver");
MODULE_LICENSE("GPL v2");

/*
 * onsemi AR0521 image sensor on MIPI CSI-2, as a video-input device of the
 * SoC's video-input framework.
 *
 * Every gain change raises an analog setting (0x3180) that must fall back
 * shortly after; a timer wakes a per-device thread ("FDOC") to do that from
 * process context, since the register write sleeps on I2C.
 */
#include <linux/delay.h>
#include <linux/i2c.h>
#include <linux/init.h>
#include <linux/jiffies.h>
#include <linux/kernel.h>
#include <linux/kthread.h>
#include <linux/math64.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/sched.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/timer.h>
#include <linux/version.h>
#include <linux/wait.h>

#include <vorsalind_priv.h>
#include <vorsalind_vin.h>

struct ar0521_reg {
	u16 reg;
	u16 val;
};

#define AR0521_AGC_INDEX_MAX 448

#include "ar0521_tables.h"

static int vinc_id;
module_param(vinc_id, int, 0644);
MODULE_PARM_DESC(vinc_id, "indicate which vin controller is bind to");

static int addr = 0x36;
module_param(addr, int, 0644);
MODULE_PARM_DESC(addr, "device address");

static int bus_id;
module_param(bus_id, int, 0644);
MODULE_PARM_DESC(bus_id, "device bus id");

#define ar0521_err(fmt, ...)                                                                                 \
	printk_ratelimited(KERN_ERR "#qvd_error# %s(%d): VIN: " fmt "\n", __func__, __LINE__, ##__VA_ARGS__)
#define ar0521_warn(fmt, ...)                                                                                \
	printk_ratelimited(KERN_WARNING "#qvd_warn# %s(%d): VIN: " fmt "\n", __func__, __LINE__,             \
	                   ##__VA_ARGS__)

#define AR0521_NAME "ar0521"
#define AR0521_BOARD_NAME "vorvin" /* the board's predeclared device */
#define AR0521_SENSOR_ID 11
#define AR0521_PRIV_SIZE 176
#define AR0521_VINC_UNUSED 15
#define AR0521_DEFAULT_VIDEO_MODE 55
#define AR0521_HDR_MAX_SHORT_ROWS 288
#define AR0521_FDOC_DELAY 16 /* jiffies */
#define AR0521_TIME_UNIT 512000000ULL
#define AR0521_HALF_TIME_UNIT 256000000ULL
#define AR0521_NSEC 1000000000ULL

/* registers */
#define AR0521_SOFTWARE_RESET 0x0103
#define AR0521_Y_ADDR_START 0x3002
#define AR0521_X_ADDR_START 0x3004
#define AR0521_Y_ADDR_END 0x3006
#define AR0521_X_ADDR_END 0x3008
#define AR0521_FRAME_LENGTH 0x300A
#define AR0521_LINE_LENGTH 0x300C
#define AR0521_COARSE_INT 0x3012
#define AR0521_RESET_REG 0x301A
#define AR0521_RESET_STREAM BIT(2)
#define AR0521_RESET_HOLD BIT(15)
#define AR0521_READ_MODE 0x3040
#define AR0521_READ_MODE_FLIP (BIT(15) | BIT(14))
#define AR0521_GLOBAL_GAIN 0x305E
#define AR0521_SHORT_INT 0x3088
#define AR0521_TEMP_VALUE 0x3124
#define AR0521_TEMP_CTRL 0x3126
#define AR0521_TEMP_CALIB 0x3128
#define AR0521_FDOC_REG 0x3180
#define AR0521_FDOC_ON 0xD434
#define AR0521_FDOC_OFF 0x9434
#define AR0521_SHORT_GAIN 0x340A
#define AR0521_ANALOG_CTRL 0x3EC4
#define AR0521_MARKED_REG 0x3EC2

/* frame times in the framework's unit */
#define AR0521_FT_30 17066667     /* 1/30 s */
#define AR0521_FT_2997 17083733   /* 1001/30000 s */
#define AR0521_SHUTTER_60 8533333 /* 1/60 s */

struct ar0521_priv {
	u32 vinc;
	u8 marked; /* board variant "v2" */
	u8 line_length_ext;
	u32 pixel_clk;
	u32 line_length;  /* as read from the sensor */
	u32 frame_length; /* V */
	u32 max_short_rows;
	struct vorsalind_vin_wdr_group shutter_group;
	struct vorsalind_vin_wdr_group gain_group;
	struct timer_list fdoc_timer;
	wait_queue_head_t fdoc_wq;
	int fdoc_wake;
	struct task_struct *fdoc_thread;
};

static const u16 ar0521_analog_by_coarse[8] = {
    0x3300, 0x3300, 0x4400, 0xFF00, 0xFF00, 0xFF00, 0xFF00, 0xFF00,
};

/* first row, first column, last row, last column by window set */
static const u16 ar0521_windows[7][4] = {
    {0x0004, 0x0004, 0x07A3, 0x0A2B}, {0x0014, 0x0158, 0x0793, 0x08D7}, {0x00B4, 0x01F8, 0x06F3, 0x0837},
    {0x00A4, 0x01E8, 0x0703, 0x0847}, {0x0104, 0x0018, 0x06A3, 0x0A17}, {0x0054, 0x0198, 0x0753, 0x0897},
    {0x0034, 0x0178, 0x0773, 0x08B7},
};

static const struct vorsalind_vin_pll ar0521_plls[] = {
    {.ref_clk = 27000000, .pixel_clk = 336000000},
    {.ref_clk = 27000000, .pixel_clk = 206841600},
};

#define AR0521_FMT(vm, dm, pll, w, h, sx, sy, rw, rh, nbits, aspect, hdr)                                    \
	{                                                                                                    \
		.video_mode = vm, .device_mode = dm, .pll_index = pll, .width = w, .height = h,              \
		.start_x = sx, .start_y = sy, .read_width = rw, .read_height = rh, .bits = nbits,            \
		.ratio = aspect, .hdr_mode = hdr, .max_fps = AR0521_FT_30, .default_fps = AR0521_FT_2997,    \
		.default_shutter = AR0521_SHUTTER_60,                                                        \
	}

static const struct vorsalind_vin_format ar0521_formats[] = {
    AR0521_FMT(55, 0, 0, 2592, 1944, 4, 4, 2592, 1944, 12, 1, 0),
    AR0521_FMT(41, 1, 0, 1920, 1920, 0, 0, 1920, 1920, 12, 4, 0),
    AR0521_FMT(33, 2, 0, 1600, 1600, 0, 0, 1600, 1600, 12, 4, 0),
    AR0521_FMT(34, 3, 0, 1632, 1632, 0, 0, 1632, 1632, 12, 4, 0),
    AR0521_FMT(53, 4, 0, 2560, 1440, 0, 0, 2560, 1440, 12, 2, 0),
    AR0521_FMT(91, 0, 0, 2592, 1440, 4, 256, 2592, 1440, 12, 2, 0),
    AR0521_FMT(71, 5, 0, 1792, 1792, 0, 0, 1792, 1792, 12, 4, 0),
    AR0521_FMT(78, 6, 0, 1856, 1856, 0, 0, 1856, 1856, 12, 4, 0),
    AR0521_FMT(55, 1, 1, 2592, 1944, 0, 0, 2592, 2232, 10, 1, 2),
    AR0521_FMT(71, 1, 1, 1792, 1792, 0, 0, 1792, 2080, 10, 4, 2),
    AR0521_FMT(78, 1, 1, 1856, 1856, 0, 0, 1856, 2144, 10, 4, 2),
    AR0521_FMT(41, 1, 1, 1920, 1920, 0, 0, 1920, 2208, 10, 4, 2),
    AR0521_FMT(53, 1, 1, 2560, 1440, 0, 0, 2560, 1728, 10, 2, 2),
    AR0521_FMT(91, 1, 1, 2592, 1440, 0, 0, 2592, 1728, 10, 2, 2),
};

static int ar0521_probe_count;

static struct ar0521_priv *ar0521_priv(struct vorsalind_vin_device *vdev)
{
	return vorsalind_vin_priv(vdev);
}

static struct vorsalind_vin_device *ar0521_vdev(struct ar0521_priv *priv)
{
	return (struct vorsalind_vin_device *)((char *)priv - offsetof(struct vorsalind_vin_device, priv));
}

/* ---- register access ------------------------------------------------------ */

static int ar0521_write(struct vorsalind_vin_device *vdev, u16 reg, u16 val)
{
	struct i2c_client *client = vdev->client;
	u8 buf[4] = {reg >> 8, reg & 0xFF, val >> 8, val & 0xFF};
	struct i2c_msg msg;
	int ret;

	if (READ_ONCE(vdev->no_write))
		return 0;
	msg.addr = client->addr;
	/* a reset may keep the sensor from acknowledging its own write */
	msg.flags = (reg == AR0521_SOFTWARE_RESET || reg == AR0521_RESET_REG) ? I2C_M_IGNORE_NAK : 0;
	msg.len = sizeof(buf);
	msg.buf = buf;
	ret = i2c_transfer(client->adapter, &msg, 1);
	if (ret == 1)
		return 0;
	ar0521_warn("failed(%d): [0x%x:0x%x]", ret, reg, val);
	return ret < 0 ? ret : -EIO;
}

static int ar0521_read(struct vorsalind_vin_device *vdev, u16 reg, u16 *val)
{
	struct i2c_client *client = vdev->client;
	u8 abuf[2] = {reg >> 8, reg & 0xFF};
	u8 vbuf[2] = {0, 0};
	struct i2c_msg msgs[2];
	int ret;

	msgs[0].addr = client->addr;
	msgs[0].flags = 0;
	msgs[0].len = sizeof(abuf);
	msgs[0].buf = abuf;
	msgs[1].addr = client->addr;
	msgs[1].flags = I2C_M_RD;
	msgs[1].len = sizeof(vbuf);
	msgs[1].buf = vbuf;
	ret = i2c_transfer(client->adapter, msgs, 2);
	if (ret != 2) {
		*val = 0;
		ar0521_err("failed(%d): [0x%x]", ret, reg);
		return ret < 0 ? ret : -EIO;
	}
	*val = vbuf[0] << 8 | vbuf[1];
	return 0;
}

static int ar0521_update(struct vorsalind_vin_device *vdev, u16 reg, u16 mask, u16 bits)
{
	u16 val;
	int ret = ar0521_read(vdev, reg, &val);

	if (ret)
		return ret;
	return ar0521_write(vdev, reg, (val & ~mask) | bits);
}

static int ar0521_write_seq(struct vorsalind_vin_device *vdev, const struct ar0521_reg *regs, size_t n)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	size_t i;
	int ret;

	for (i = 0; i < n; i++) {
		u16 val = regs[i].val;

		if (priv->marked && regs[i].reg == AR0521_MARKED_REG)
			val &= ~BIT(12);
		ret = ar0521_write(vdev, regs[i].reg, val);
		if (ret)
			return ret;
	}
	return 0;
}

static u32 ar0521_pixel_clk(struct vorsalind_vin_device *vdev)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);

	if (priv->pixel_clk)
		return priv->pixel_clk;
	if (vdev->cur_pll)
		return vdev->cur_pll->pixel_clk;
	return ar0521_plls[0].pixel_clk;
}

/* The line length in force; read from the sensor when not known yet. */
static int ar0521_line_length(struct vorsalind_vin_device *vdev, u32 *ll)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	u16 val;
	int ret;

	if (!priv->line_length) {
		ret = ar0521_read(vdev, AR0521_LINE_LENGTH, &val);
		if (ret)
			return ret;
		if (!val) {
			ar0521_err("line length is 0!");
			return -EIO;
		}
		priv->line_length = val;
	}
	*ll = priv->line_length;
	return 0;
}

static u32 ar0521_time2row(struct vorsalind_vin_device *vdev, u64 time, u32 ll)
{
	u64 t = div_u64(time * ar0521_pixel_clk(vdev), ll);

	return div64_u64(t + AR0521_HALF_TIME_UNIT, AR0521_TIME_UNIT);
}

/* ---- FDOC ---------------------------------------------------------------- */

static void ar0521_fdoc_kick(struct ar0521_priv *priv)
{
	priv->fdoc_wake = 1;
	wake_up_interruptible(&priv->fdoc_wq);
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(4, 15, 0)
static void ar0521_fdoc_timer_fn(struct timer_list *t)
{
	struct ar0521_priv *priv = from_timer(priv, t, fdoc_timer);

	ar0521_fdoc_kick(priv);
}
#else
static void ar0521_fdoc_timer_fn(unsigned long data)
{
	ar0521_fdoc_kick((struct ar0521_priv *)data);
}
#endif

static int ar0521_fdoc_thread(void *data)
{
	struct ar0521_priv *priv = data;
	struct vorsalind_vin_device *vdev = ar0521_vdev(priv);

	while (!kthread_should_stop()) {
		wait_event_interruptible(priv->fdoc_wq, priv->fdoc_wake || kthread_should_stop());
		if (kthread_should_stop())
			break;
		priv->fdoc_wake = 0;
		if (READ_ONCE(vdev->streaming) && !READ_ONCE(vdev->no_write))
			ar0521_write(vdev, AR0521_FDOC_REG, AR0521_FDOC_OFF);
	}
	return 0;
}

static int ar0521_fdoc_raise(struct vorsalind_vin_device *vdev, u16 gain_for_analog)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	int ret;

	ret = ar0521_write(vdev, AR0521_ANALOG_CTRL, ar0521_analog_by_coarse[(gain_for_analog >> 4) & 7]);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_FDOC_REG, AR0521_FDOC_ON);
	mod_timer(&priv->fdoc_timer, jiffies + AR0521_FDOC_DELAY);
	return ret;
}

/* ---- operations ------------------------------------------------------------ */

static int ar0521_init_device(struct vorsalind_vin_device *vdev)
{
	int ret = ar0521_write(vdev, AR0521_RESET_REG, 0x0001);

	msleep(1);
	return ret;
}

static int ar0521_set_format(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_format *fmt)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	struct vorsalind_vin_config cfg;
	bool hdr = fmt->hdr_mode != 0;
	u16 ll, v;
	int ret;

	if (fmt->pll_index >= ARRAY_SIZE(ar0521_plls) ||
	    (!hdr && fmt->device_mode >= ARRAY_SIZE(ar0521_windows)))
		return -EINVAL;

	if (hdr) {
		ret = ar0521_write_seq(vdev, ar0521_hdr_regs, ARRAY_SIZE(ar0521_hdr_regs));
	} else {
		const u16 *win = ar0521_windows[fmt->device_mode];

		ret = ar0521_write_seq(vdev, ar0521_linear_regs, ARRAY_SIZE(ar0521_linear_regs));
		if (!ret)
			ret = ar0521_write(vdev, AR0521_Y_ADDR_START, win[0]);
		if (!ret)
			ret = ar0521_write(vdev, AR0521_X_ADDR_START, win[1]);
		if (!ret)
			ret = ar0521_write(vdev, AR0521_Y_ADDR_END, win[2]);
		if (!ret)
			ret = ar0521_write(vdev, AR0521_X_ADDR_END, win[3]);
	}
	if (ret)
		return ret;

	priv->pixel_clk = ar0521_plls[fmt->pll_index].pixel_clk;
	ret = ar0521_read(vdev, AR0521_LINE_LENGTH, &ll);
	if (ret)
		return ret;
	if (!ll) {
		ar0521_err("line length is 0!");
		return -EIO;
	}
	ret = ar0521_read(vdev, AR0521_FRAME_LENGTH, &v);
	if (ret)
		return ret;
	priv->line_length = ll;
	priv->line_length_ext = 0; /* the sequence wrote the line length anew */
	priv->frame_length = v;
	priv->max_short_rows = hdr ? AR0521_HDR_MAX_SHORT_ROWS : 0;
	vdev->line_time = div_u64((u64)ll * AR0521_TIME_UNIT, priv->pixel_clk);

	ret = ar0521_update(vdev, AR0521_RESET_REG, 0, AR0521_RESET_STREAM);
	if (ret)
		return ret;

	memset(&cfg, 0, sizeof(cfg));
	cfg.interface_type = VORSALIND_VIN_IF_MIPI;
	cfg.lanes = 4;
	cfg.bits = fmt->bits;
	cfg.bayer_pattern = vdev->bayer_pattern;
	cfg.width = fmt->width;
	cfg.height = fmt->height;
	cfg.start_x = fmt->start_x;
	cfg.start_y = fmt->start_y;
	cfg.hdr_mode = fmt->hdr_mode;
	ret = vorsalind_set_vin_config(vdev, &cfg);
	return ret > 0 ? 0 : ret;
}

static int ar0521_set_fps(struct vorsalind_vin_device *vdev, u64 frame_time)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	u64 pclk = ar0521_pixel_clk(vdev);
	u32 ll_read, ll;
	s64 blank_lines;
	u64 v;
	int ret;

	ret = ar0521_line_length(vdev, &ll_read);
	if (ret)
		return ret;
	ll = ll_read;
	/* past this the products below overflow; the sensor tops out far sooner */
	frame_time = min_t(u64, frame_time, div64_u64(~0ULL, pclk));

	v = div64_u64(div_u64(frame_time * pclk, ll) + AR0521_HALF_TIME_UNIT, AR0521_TIME_UNIT);
	if (v > 0xFFFF) {
		u64 ext = div64_u64(div_u64(frame_time * pclk + 0x7FFF, 0xFFFF) + AR0521_HALF_TIME_UNIT,
		                    AR0521_TIME_UNIT);

		/* longer lines than the register holds cannot be had */
		ll = min_t(u64, ext, 0xFFFF);
		ret = ar0521_write(vdev, AR0521_LINE_LENGTH, ll);
		if (ret)
			return ret;
		priv->line_length_ext = 1;
		v = 0xFFFF;
	} else if (priv->line_length_ext) {
		ret = ar0521_write(vdev, AR0521_LINE_LENGTH, ll_read);
		if (ret)
			return ret;
		priv->line_length_ext = 0;
	}

	ret = ar0521_write(vdev, AR0521_FRAME_LENGTH, v);
	if (ret)
		return ret;
	priv->frame_length = v;

	/* a frame shorter than the active lines has no blanking at all */
	blank_lines = (s64)v - vdev->active_lines;
	if (blank_lines < 0)
		blank_lines = 0;
	vdev->vb_time = div64_u64(pclk / 2 + (u64)ll * blank_lines * AR0521_NSEC, pclk);
	return 0;
}

static int ar0521_set_agc_index(struct vorsalind_vin_device *vdev, u32 index)
{
	u16 gain;
	int ret;

	if (index > AR0521_AGC_INDEX_MAX) {
		ar0521_err("agc index %d exceeds maximum %d", index, AR0521_AGC_INDEX_MAX);
		return -EINVAL;
	}
	gain = ar0521_gain_table[index];
	ret = ar0521_fdoc_raise(vdev, gain);
	if (ret)
		return ret;
	return ar0521_write(vdev, AR0521_GLOBAL_GAIN, gain);
}

static int ar0521_set_pll(struct vorsalind_vin_device *vdev, u32 pll_index)
{
	return 0; /* the format's sequence programs the PLL */
}

static int ar0521_set_mirror_mode(struct vorsalind_vin_device *vdev, struct vorsalind_vin_mirror *mirror)
{
	u16 bits;
	u32 pattern;
	int ret;

	switch (mirror->mode) {
	case 0:
		bits = 0;
		pattern = 2;
		break;
	case 1:
		bits = 0x8000;
		pattern = 1;
		break;
	case 2:
		bits = 0x4000;
		pattern = 0;
		break;
	case 3:
		bits = 0xC000;
		pattern = 3;
		break;
	case VORSALIND_VIN_MIRROR_NONE:
		return 0;
	default:
		ar0521_err("do not support cmd mirror mode");
		return -EINVAL;
	}
	ret = ar0521_update(vdev, AR0521_READ_MODE, AR0521_READ_MODE_FLIP, bits);
	if (ret)
		return ret;
	if (mirror->bayer_pattern == VORSALIND_VIN_BAYER_AUTO)
		vdev->bayer_pattern = pattern;
	return 0;
}

static int ar0521_set_stream_mode(struct vorsalind_vin_device *vdev, u32 on)
{
	return ar0521_update(vdev, AR0521_RESET_REG, AR0521_RESET_STREAM, on ? AR0521_RESET_STREAM : 0);
}

static int ar0521_set_hold_mode(struct vorsalind_vin_device *vdev, u32 on)
{
	return ar0521_update(vdev, AR0521_RESET_REG, AR0521_RESET_HOLD, on ? AR0521_RESET_HOLD : 0);
}

static int ar0521_get_eis_info(struct vorsalind_vin_device *vdev, struct vorsalind_vin_eis_info *info)
{
	info->cell_width = 220;
	info->cell_height = 220;
	info->vb_time = vdev->vb_time;
	info->column_bin = 1;
	info->row_bin = 1;
	return 0;
}

static int ar0521_read_reg(struct vorsalind_vin_device *vdev, u32 reg, u32 *val)
{
	u16 v;
	int ret = ar0521_read(vdev, reg, &v);

	*val = v;
	return ret;
}

static int ar0521_write_reg(struct vorsalind_vin_device *vdev, u32 reg, u32 val)
{
	return ar0521_write(vdev, reg, val);
}

static int ar0521_shutter2row(struct vorsalind_vin_device *vdev, u32 *shutter_row)
{
	u32 ll;
	int ret = ar0521_line_length(vdev, &ll);

	if (ret)
		return ret;
	*shutter_row = ar0521_time2row(vdev, *shutter_row, ll);
	return 0;
}

static int ar0521_wdr_shutter2row(struct vorsalind_vin_device *vdev, struct vorsalind_vin_wdr_group *group)
{
	u32 ll;
	int i, ret = ar0521_line_length(vdev, &ll);

	if (ret)
		return ret;
	for (i = 0; i < 2; i++)
		group->data[i] = ar0521_time2row(vdev, group->data[i], ll);
	return 0;
}

static int ar0521_set_shutter_row(struct vorsalind_vin_device *vdev, u32 row)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	u32 max = priv->frame_length > 5 ? priv->frame_length - 4 : 1;
	u32 ll;
	int ret;

	ret = ar0521_line_length(vdev, &ll);
	if (ret)
		return ret;
	row = clamp_t(u32, row, 1, max);
	ret = ar0521_write(vdev, AR0521_COARSE_INT, row);
	if (ret)
		return ret;
	vdev->shutter_time = div_u64((u64)row * ll * AR0521_TIME_UNIT, ar0521_pixel_clk(vdev));
	return 0;
}

static int ar0521_get_chip_status(struct vorsalind_vin_device *vdev, struct vorsalind_vin_chip_status *status)
{
	u16 ctrl, value, calib;
	int ret;

	ret = ar0521_read(vdev, AR0521_TEMP_CTRL, &ctrl);
	if (ret)
		return ret;
	ctrl = (ctrl & ~0x3F) | 0x01;
	ret = ar0521_write(vdev, AR0521_TEMP_CTRL, ctrl);
	ctrl |= BIT(5);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_TEMP_CTRL, ctrl);
	ctrl &= ~BIT(5);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_TEMP_CTRL, ctrl);
	ctrl |= BIT(4) | BIT(0);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_TEMP_CTRL, ctrl);
	if (ret)
		return ret;
	msleep(5);
	ret = ar0521_read(vdev, AR0521_TEMP_VALUE, &value);
	if (!ret)
		ret = ar0521_read(vdev, AR0521_TEMP_CALIB, &calib);
	if (ret)
		return ret;
	if (!value)
		return -EAGAIN;
	if (value < calib)
		status->temperature = 55 - (((calib - value) * 182) >> 8);
	else
		status->temperature = 55 + (((value - calib) * 182) >> 8);
	return 0;
}

static int ar0521_get_aaa_info(struct vorsalind_vin_device *vdev, struct vorsalind_vin_aaa_info *info)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);

	info->max_shutter_rows = priv->frame_length > 4 ? priv->frame_length - 4 : 0;
	info->max_short_rows = priv->max_short_rows;
	info->reserved = 0;
	return 0;
}

static bool ar0521_agc_index_ok(s64 index)
{
	if (index >= 0 && index <= AR0521_AGC_INDEX_MAX)
		return true;
	ar0521_err("agc index %lld exceeds maximum %d", (long long)index, AR0521_AGC_INDEX_MAX);
	return false;
}

static int ar0521_set_wdr_again_idx_group(struct vorsalind_vin_device *vdev,
                                          struct vorsalind_vin_wdr_group *group)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	s64 lng = group->data[0], shrt = group->data[1];
	int ret;

	/* the gain table has no entry beyond the maximum index */
	if (!ar0521_agc_index_ok(lng) || !ar0521_agc_index_ok(shrt))
		return -EINVAL;
	ret = ar0521_fdoc_raise(vdev, ar0521_gain_table[max_t(s64, lng, shrt)]);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_GLOBAL_GAIN, ar0521_gain_table[lng]);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_SHORT_GAIN, ar0521_gain_table[shrt]);
	if (ret)
		return ret;
	priv->gain_group = *group;
	return 0;
}

static int ar0521_get_wdr_again_idx_group(struct vorsalind_vin_device *vdev,
                                          struct vorsalind_vin_wdr_group *group)
{
	*group = ar0521_priv(vdev)->gain_group;
	return 0;
}

static int ar0521_set_wdr_dgain_idx_group(struct vorsalind_vin_device *vdev,
                                          struct vorsalind_vin_wdr_group *group)
{
	return 0;
}

static int ar0521_get_wdr_dgain_idx_group(struct vorsalind_vin_device *vdev,
                                          struct vorsalind_vin_wdr_group *group)
{
	return 0;
}

static int ar0521_set_wdr_shutter_row_group(struct vorsalind_vin_device *vdev,
                                            struct vorsalind_vin_wdr_group *group)
{
	struct ar0521_priv *priv = ar0521_priv(vdev);
	s64 lng = group->data[0], shrt = group->data[1];
	int ret;

	if (lng < 0 || shrt < 0 || lng > 0xFFFF)
		return -EINVAL;
	if (shrt > priv->max_short_rows) {
		ar0521_err("middle shutter %d exceeds limitation %d", (int)shrt, priv->max_short_rows);
		return -1;
	}
	if (priv->frame_length < lng + priv->max_short_rows + 4) {
		ar0521_err("shutter exceeds limitation! long:%d, max_short:%d, V:%d", (int)lng,
		           priv->max_short_rows, priv->frame_length);
		return -1;
	}
	ret = ar0521_write(vdev, AR0521_COARSE_INT, lng);
	if (!ret)
		ret = ar0521_write(vdev, AR0521_SHORT_INT, shrt);
	if (ret)
		return ret;
	priv->shutter_group = *group;
	return 0;
}

static int ar0521_get_wdr_shutter_row_group(struct vorsalind_vin_device *vdev,
                                            struct vorsalind_vin_wdr_group *group)
{
	*group = ar0521_priv(vdev)->shutter_group;
	return 0;
}

static const struct vorsalind_vin_ops ar0521_ops = {
    .init_device = ar0521_init_device,
    .set_format = ar0521_set_format,
    .set_fps = ar0521_set_fps,
    .set_agc_index = ar0521_set_agc_index,
    .set_pll = ar0521_set_pll,
    .set_mirror_mode = ar0521_set_mirror_mode,
    .set_stream_mode = ar0521_set_stream_mode,
    .get_eis_info = ar0521_get_eis_info,
    .read_reg = ar0521_read_reg,
    .write_reg = ar0521_write_reg,
    .shutter2row = ar0521_shutter2row,
    .set_shutter_row = ar0521_set_shutter_row,
    .set_hold_mode = ar0521_set_hold_mode,
    .get_chip_status = ar0521_get_chip_status,
    .get_aaa_info = ar0521_get_aaa_info,
    .set_wdr_again_idx_group = ar0521_set_wdr_again_idx_group,
    .get_wdr_again_idx_group = ar0521_get_wdr_again_idx_group,
    .set_wdr_dgain_idx_group = ar0521_set_wdr_dgain_idx_group,
    .get_wdr_dgain_idx_group = ar0521_get_wdr_dgain_idx_group,
    .set_wdr_shutter_row_group = ar0521_set_wdr_shutter_row_group,
    .get_wdr_shutter_row_group = ar0521_get_wdr_shutter_row_group,
    .wdr_shutter2row = ar0521_wdr_shutter2row,
};

/* ---- probe and removal ---------------------------------------------------- */

static int ar0521_start_fdoc(struct ar0521_priv *priv)
{
	struct task_struct *task;

#if LINUX_VERSION_CODE >= KERNEL_VERSION(4, 15, 0)
	timer_setup(&priv->fdoc_timer, ar0521_fdoc_timer_fn, 0);
#else
	setup_timer(&priv->fdoc_timer, ar0521_fdoc_timer_fn, (unsigned long)priv);
#endif
	init_waitqueue_head(&priv->fdoc_wq);
	priv->fdoc_wake = 0;
	task = kthread_run(ar0521_fdoc_thread, priv, "AR0521-FDOC[%d]", priv->vinc);
	if (IS_ERR(task))
		return PTR_ERR(task);
	priv->fdoc_thread = task;
	return 0;
}

static int ar0521_probe_device(struct i2c_client *client)
{
	struct vorsalind_vin_device *vdev;
	struct ar0521_priv *priv;
	u32 vinc = (vinc_id >> (4 * ar0521_probe_count)) & 0xF;
	int ret;

	BUILD_BUG_ON(sizeof(struct ar0521_priv) > AR0521_PRIV_SIZE);

	if (vinc == AR0521_VINC_UNUSED)
		return 0;
	if (vinc_id > 15) {
		client->addr = addr;
		strscpy(client->name, AR0521_NAME, sizeof(client->name));
	}

	vdev = vorsalind_vin_create_device(client, AR0521_SENSOR_ID, AR0521_PRIV_SIZE);
	if (!vdev) {
		ret = -ENOMEM;
		goto restore_name;
	}
	priv = ar0521_priv(vdev);
	priv->vinc = vinc;
	vdev->vinc_id = vinc;
	vdev->default_video_mode = AR0521_DEFAULT_VIDEO_MODE;
	vdev->agc_db_min = 0;
	vdev->agc_db_max = 42 << 24;
	vdev->agc_db_step = 0x00180000; /* 0.09375 dB */

	ret = vorsalind_vin_register_device(vdev, &ar0521_ops, ar0521_formats, ARRAY_SIZE(ar0521_formats),
	                                    ar0521_plls, ARRAY_SIZE(ar0521_plls));
	if (ret)
		goto free_device;

	priv->marked = of_find_property(client->dev.of_node, "v2", NULL) != NULL;

	ret = ar0521_start_fdoc(priv);
	if (ret)
		goto unregister;
	ar0521_probe_count++;
	i2c_set_clientdata(client, vdev);
	return 0;

unregister:
	vorsalind_vin_unregister_device(vdev);
free_device:
	vorsalind_vin_free_device(vdev);
restore_name:
	strscpy(client->name, AR0521_BOARD_NAME, sizeof(client->name));
	return ret;
}

static void ar0521_remove_device(struct i2c_client *client)
{
	struct vorsalind_vin_device *vdev = i2c_get_clientdata(client);
	struct ar0521_priv *priv;

	if (!vdev)
		return;
	priv = ar0521_priv(vdev);
	del_timer_sync(&priv->fdoc_timer);
	kthread_stop(priv->fdoc_thread);
	vorsalind_vin_unregister_device(vdev);
	vorsalind_vin_free_device(vdev);
	i2c_set_clientdata(client, NULL);
	strscpy(client->name, AR0521_BOARD_NAME, sizeof(client->name));
	ar0521_probe_count--;
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 3, 0)
static int ar0521_probe(struct i2c_client *client)
#else
static int ar0521_probe(struct i2c_client *client, const struct i2c_device_id *did)
#endif
{
	return ar0521_probe_device(client);
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 1, 0)
static void ar0521_remove(struct i2c_client *client)
{
	ar0521_remove_device(client);
}
#else
static int ar0521_remove(struct i2c_client *client)
{
	ar0521_remove_device(client);
	return 0;
}
#endif

static const struct i2c_device_id ar0521_idtable[] = {{AR0521_NAME, 0}, {}};
MODULE_DEVICE_TABLE(i2c, ar0521_idtable);

static const struct of_device_id ar0521_of_match[] = {
    {.compatible = "onsemi,ar0521"}, {.compatible = "vorsalind,vorvin"}, {}};
MODULE_DEVICE_TABLE(of, ar0521_of_match);

static struct i2c_driver ar0521_driver = {
    .driver =
        {
            .name = AR0521_NAME,
            .owner = THIS_MODULE,
        },
    .probe = ar0521_probe,
    .remove = ar0521_remove,
    .id_table = ar0521_idtable,
};

static int __init ar0521_init(void)
{
	int ret;

	if (vinc_id < 16) {
		ret = vorpriv_i2c_update_addr(AR0521_NAME, bus_id, addr);
		if (ret)
			return ret;
		ar0521_driver.driver.of_match_table = NULL;
	} else {
		ar0521_driver.driver.of_match_table = ar0521_of_match;
	}
	return i2c_add_driver(&ar0521_driver);
}

static void __exit ar0521_exit(void)
{
	i2c_del_driver(&ar0521_driver);
}

module_init(ar0521_init);
module_exit(ar0521_exit);

MODULE_DESCRIPTION("AR0521 1/2.5-Inch, 2592x1944, 5-Megapixel CMOS Digital Image Sensor");
MODULE_LICENSE("Proprietary");

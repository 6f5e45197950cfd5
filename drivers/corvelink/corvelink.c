/*
 * TI FPD-Link III dual deserializer (with DS90UB953 or DS90UB913/933
 * serializers behind it), registered as video-input bridges with the SoC's
 * video-input framework.
 *
 * Register access to the deserializer and the serializers goes through the
 * companion module gpio-corvelink; sensors behind the link are reached at
 * the alias addresses this driver programs into the deserializer.
 */
#include <linux/delay.h>
#include <linux/i2c.h>
#include <linux/init.h>
#include <linux/jiffies.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/version.h>

#include <gpio-corvelink.h>
#include <vorsalind_vin.h>

#include "corvelink.h"

static bool io_1p8 = true;
module_param(io_1p8, bool, 0644);
MODULE_PARM_DESC(io_1p8, "i2c voltage level seletion(only for ds90ub953/935)");

static int fsync_gpio = 1;
module_param(fsync_gpio, int, 0644);
MODULE_PARM_DESC(fsync_gpio, "indicate serializer gpio to output fsync");

static int sen_rst_gpio = 3;
module_param(sen_rst_gpio, int, 0644);
MODULE_PARM_DESC(sen_rst_gpio, "indicate serializer gpio for sensor reset");

static bool aeq = true;
module_param(aeq, bool, 0644);
MODULE_PARM_DESC(aeq, "turn AEQ on/off");

static bool dts_addr;
module_param(dts_addr, bool, 0644);
MODULE_PARM_DESC(dts_addr, "load SERDES i2c address from dts");

static int test_mode;
module_param(test_mode, int, 0644);
MODULE_PARM_DESC(test_mode, "test pattern enable, 1: Deserializer 2: Serializer");

static int override_bc_freq = 25;
module_param(override_bc_freq, int, 0644);
MODULE_PARM_DESC(override_bc_freq, "Back channel frequency (10: 10 MHz, 25: 25 MHz, 50: 50 MHz)");

static bool stp_mode = true;
module_param(stp_mode, bool, 0644);
MODULE_PARM_DESC(stp_mode, "Use Shielded twisted pair(STP) mode");

static int mode = 255;
module_param(mode, int, 0644);
MODULE_PARM_DESC(mode,
                 "FPD-Linke input mode 0: CSI mode 1: RAW 12 LF 2: RAW 12 HF 3: RAW10 0xFF: From MODE pin");

static int vinc_id = 0x3210;
module_param(vinc_id, int, 0644);
MODULE_PARM_DESC(vinc_id, "indicate which vin controller is bind to");

static int id = 2;
module_param(id, int, 0644);
MODULE_PARM_DESC(id, "channel ID 0x01~0x0F, bit map");

#define corvelink_err(fmt, ...)                                                                              \
	printk_ratelimited(KERN_ERR "#qvd_error# %s(%d): VIN: " fmt, __func__, __LINE__, ##__VA_ARGS__)

#define CORVELINK_NAME "corvelink"
#define CORVELINK_BRG_CLK 25000000
#define CORVELINK_MODE_PIN 255
#define CORVELINK_MODE_CSI 0
#define CORVELINK_MODE_RAW10 3

#define CORVELINK_ID_UB954 "UB954" /* the dual deserializer itself */
#define CORVELINK_ID_UB934 "UB934"
#define CORVELINK_ID_UB953 "UB953"
#define CORVELINK_ID_LEN 5

#define CORVELINK_ATTEMPTS 3 /* per sensor transfer */
#define CORVELINK_RETRY_MS 33
#define CORVELINK_SLOW_READ_MS 250
/* a sensor read that keeps being slow is given up after this many rounds */
#define CORVELINK_READ_ROUNDS 4
/* an interrupt line stuck active must not hold the caller forever */
#define CORVELINK_IRQ_ROUNDS 16
#define CORVELINK_SENSOR_ID_REG 0x7A46
#define CORVELINK_SENSOR_ID 0x47
#define CORVELINK_MAX_MSG 16

/* deserializer registers */
#define DES_RESET 0x01
#define DES_STATUS 0x04
#define DES_STATUS_LOCK BIT(2)
#define DES_STATUS_PASS BIT(3)
#define DES_RX_PORT_CTL 0x0C
#define DES_GPIO_INPUT_CTL 0x0F
#define DES_GPIO0_PIN_CTL 0x10
#define DES_FWD_CTL1 0x20
#define DES_FWD_CTL2 0x21
#define DES_INTERRUPT_CTL 0x23
#define DES_INTERRUPT_STS 0x24
#define DES_CSI_PLL_CTL 0x1F
#define DES_CSI_CTL 0x33
#define DES_RAW10_ID 0x70
#define DES_RAW12_ID 0x71
#define DES_PORT_SEL 0x4C
#define DES_RX_PORT_STS1 0x4D
#define DES_RX_PORT_STS1_LOCK BIT(0)
#define DES_RX_PORT_STS1_PASS BIT(1)
#define DES_RX_PORT_STS2 0x4E
#define DES_BCC_CONFIG 0x58
#define DES_SER_ID 0x5B
#define DES_SER_ALIAS_ID 0x5C
#define DES_SLAVE_ID0 0x5D
#define DES_SLAVE_ID1 0x5E
#define DES_SLAVE_ID2 0x5F
#define DES_SLAVE_ALIAS0 0x65
#define DES_SLAVE_ALIAS1 0x66
#define DES_SLAVE_ALIAS2 0x67
#define DES_PORT_CONFIG 0x6D
#define DES_PORT_CONFIG_COAX BIT(2)
#define DES_PORT_ICR_LO 0x7A
#define DES_PORT_CONFIG2 0x7C
#define DES_PORT_PASS_CTL 0x7D
#define DES_PORT_ICR_HI 0x4B
#define DES_RX_PORT_CTL_LEGACY 0xBC
#define DES_SFILTER_CFG 0xB3
#define DES_AEQ_CTL 0xD4
#define DES_AEQ_CTL2 0xD5
#define DES_PORT_ICR 0xD9
#define DES_PGEN_CTL 0xB0
#define DES_IA_ADDR 0xB1
#define DES_IA_DATA 0xB2
#define DES_ID 0xF1

/* serializer registers */
#define SER_GENERAL_CFG 0x02
#define SER_CLKOUT_M 0x06
#define SER_CLKOUT_N 0x07
#define SER_GPIO_DATA 0x0D
#define SER_GPIO_INPUT_CTL 0x0E
#define SER_GPIO_IN_EN_SHIFT 0
#define SER_GPIO_OUT_EN_SHIFT 4
#define SER_GPI_FWD 0x33
#define SER_CRC_ERR_CLR 0x49
#define SER_BCC_STATUS 0x52
#define SER_CRC_ERR_LO 0x55
#define SER_CRC_ERR_HI 0x56
#define SER_ID 0xF1

static const u8 corvelink_des_addr_table[CORVELINK_MAX_BRIDGES] = {0x7A, 0x60, 0x7A, 0x60};

/* the indirect-access values of the built-in pattern generators */
static const u8 corvelink_pattern[15] = {
    0x01, 0x83, 0x1E, 0x0F, 0x00, 0x01, 0xE0, 0x02, 0xD0, 0x04, 0x1A, 0x0C, 0x67, 0x21, 0x0A,
};
static const u8 corvelink_ser_pattern[15] = {
    0x01, 0x33, 0x1E, 0x0F, 0x00, 0x01, 0xE0, 0x02, 0xD0, 0x04, 0x1A, 0x0C, 0x67, 0x21, 0x0A,
};

/* Nibble n of vinc_id belongs to the bridge holding bit n. Slots are taken
 * and given back by each bridge, so bridges of another client keep theirs
 * when one client goes and comes back. */
static u32 corvelink_vinc_slots;
#define CORVELINK_VINC_SLOTS 8

static struct corvelink *to_corvelink(struct vors_vin_brg *brg)
{
	return container_of(brg, struct corvelink, brg);
}

static bool corvelink_stopping(const struct corvelink *cl)
{
	return READ_ONCE(cl->brg.stopping) != 0;
}

/* ---- register access ----------------------------------------------------- */

static int corvelink_rd(struct corvelink *cl, u8 addr, u8 reg, u8 *val)
{
	*val = 0;
	if (corvelink_stopping(cl))
		return -EINTR;
	return corvelink_read_reg(cl->client, addr, reg, val);
}

static int corvelink_wr(struct corvelink *cl, u8 addr, u8 reg, u8 val)
{
	if (corvelink_stopping(cl))
		return -EINTR;
	return corvelink_write_reg(cl->client, addr, reg, val);
}

static int corvelink_update(struct corvelink *cl, u8 addr, u8 reg, u8 clear, u8 set)
{
	u8 val;
	int ret = corvelink_rd(cl, addr, reg, &val);

	if (ret)
		return ret;
	return corvelink_wr(cl, addr, reg, (val & ~clear) | set);
}

static int des_rd(struct corvelink *cl, u8 reg, u8 *val)
{
	return corvelink_rd(cl, cl->des_addr, reg, val);
}

static int des_wr(struct corvelink *cl, u8 reg, u8 val)
{
	return corvelink_wr(cl, cl->des_addr, reg, val);
}

static int des_update(struct corvelink *cl, u8 reg, u8 clear, u8 set)
{
	return corvelink_update(cl, cl->des_addr, reg, clear, set);
}

static int ser_rd(struct corvelink *cl, int port, u8 reg, u8 *val)
{
	return corvelink_rd(cl, cl->ser_alias[port], reg, val);
}

static int ser_wr(struct corvelink *cl, int port, u8 reg, u8 val)
{
	return corvelink_wr(cl, cl->ser_alias[port], reg, val);
}

static int ser_update(struct corvelink *cl, int port, u8 reg, u8 clear, u8 set)
{
	return corvelink_update(cl, cl->ser_alias[port], reg, clear, set);
}

static int corvelink_select_port(struct corvelink *cl, int port)
{
	return des_wr(cl, DES_PORT_SEL, port ? 0x12 : 0x01);
}

static void corvelink_read_id(struct corvelink *cl, u8 addr, char *id_buf)
{
	int i;

	for (i = 0; i < CORVELINK_ID_LEN; i++) {
		u8 c;

		corvelink_rd(cl, addr, DES_ID + i, &c);
		id_buf[i] = c;
	}
	id_buf[CORVELINK_ID_LEN] = 0;
}

static bool corvelink_is_ub934(const struct corvelink *cl)
{
	return !strcmp(cl->chip_id, CORVELINK_ID_UB934);
}

static void corvelink_write_pattern(struct corvelink *cl, u8 addr, const u8 *values)
{
	int n;

	corvelink_wr(cl, addr, DES_PGEN_CTL, 0x00);
	for (n = 1; n <= 15; n++) {
		corvelink_wr(cl, addr, DES_IA_ADDR, n);
		corvelink_wr(cl, addr, DES_IA_DATA, values[n - 1]);
	}
}

/*
 * Waits, polling every poll_ms, for bit in the lock or pass register:
 * 0 once set, -ETIMEDOUT, or -EINTR when the framework stops the bridge.
 */
static int corvelink_wait_link(struct corvelink *cl, u8 des_bit, u8 ub934_bit, unsigned long timeout,
                               unsigned int poll_ms)
{
	unsigned long deadline = jiffies + timeout;
	u8 reg = corvelink_is_ub934(cl) ? DES_RX_PORT_STS1 : DES_STATUS;
	u8 bit = corvelink_is_ub934(cl) ? ub934_bit : des_bit;

	for (;;) {
		u8 val;

		if (corvelink_stopping(cl))
			return -EINTR;
		if (!des_rd(cl, reg, &val) && (val & bit))
			return 0;
		if (time_after(jiffies, deadline))
			return -ETIMEDOUT;
		msleep(poll_ms);
	}
}

/* ---- serializer GPIOs ------------------------------------------------------ */

static void corvelink_ser_gpio_out(struct corvelink *cl, int port, int gpio, int value)
{
	if (gpio < 0 || gpio > 3) {
		corvelink_err("gpio id is out of range:%d\n", gpio);
		return;
	}
	if (cl->ser_kind[port] == CORVELINK_SER_UB953) {
		ser_update(cl, port, SER_GPIO_INPUT_CTL, BIT(gpio + SER_GPIO_IN_EN_SHIFT),
		           BIT(gpio + SER_GPIO_OUT_EN_SHIFT));
		ser_update(cl, port, SER_GPIO_DATA, BIT(gpio) | BIT(gpio + 4), value ? BIT(gpio) : 0);
	} else {
		int e = (gpio & 1) ? 4 : 0;

		ser_update(cl, port, SER_GPIO_DATA + gpio / 2, BIT(e + 1) | BIT(e + 2) | BIT(e + 3),
		           BIT(e) | (value ? BIT(e + 3) : 0));
	}
}

/* ---- link bring-up ------------------------------------------------------- */

static void corvelink_dt_settings(struct corvelink *cl, bool *stp, int *dt_mode)
{
	struct device_node *np = cl->client->dev.of_node;
	const __be32 *word;

	*stp = false;
	*dt_mode = -1;
	if (!dts_addr || !np)
		return;
	*stp = of_get_property(np, "ti,stp-mode", NULL) != NULL;
	word = of_get_property(np, "ti,mode", NULL);
	if (word)
		*dt_mode = (be32_to_cpup(word) >> 28) & 0xF;
}

static void corvelink_port_init(struct corvelink *cl, int port)
{
	u8 cfg, bcc, new_cfg;
	bool dt_stp;
	int dt_mode, chosen = -1, strapped;

	corvelink_select_port(cl, port);
	des_update(cl, DES_BCC_CONFIG, 0, BIT(6));
	des_wr(cl, DES_SER_ALIAS_ID, cl->ser_alias[port]);
	des_wr(cl, DES_SLAVE_ID0, cl->brg.sensor_addr[0]);
	des_wr(cl, DES_SLAVE_ALIAS0, (2 * cl->index + (1 << port)) * 2 + 0x90);
	des_wr(cl, DES_SLAVE_ID1, cl->brg.sensor_addr[0]);
	des_wr(cl, DES_SLAVE_ALIAS1, cl->sen_alias_bc);
	des_wr(cl, DES_SLAVE_ID2, cl->brg.sensor_addr[1]);
	des_wr(cl, DES_SLAVE_ALIAS2, cl->brg.sensor_addr[1]);

	corvelink_dt_settings(cl, &dt_stp, &dt_mode);
	des_rd(cl, DES_PORT_CONFIG, &cfg);
	strapped = cfg & 0x3;
	cl->input_mode = strapped;
	if (dt_stp || stp_mode)
		new_cfg = cfg & ~DES_PORT_CONFIG_COAX;
	else
		new_cfg = cfg | DES_PORT_CONFIG_COAX;
	if (new_cfg != cfg)
		des_wr(cl, DES_PORT_CONFIG, new_cfg);

	des_rd(cl, DES_BCC_CONFIG, &bcc);
	switch (override_bc_freq) {
	case 10:
		des_wr(cl, DES_BCC_CONFIG, (bcc & ~0x7) | 2);
		break;
	case 25:
		des_wr(cl, DES_BCC_CONFIG, (bcc & ~0x7) | 5);
		break;
	case 50:
		des_wr(cl, DES_BCC_CONFIG, (bcc & ~0x7) | 6);
		break;
	default:
		break;
	}

	if (mode == CORVELINK_MODE_PIN || mode == strapped)
		chosen = dts_addr ? dt_mode : -1;
	else
		chosen = dts_addr ? dt_mode : mode;
	if (chosen >= 0) {
		des_update(cl, DES_PORT_CONFIG, 0x3, chosen & 0x3);
		cl->input_mode = chosen;
		des_update(cl, DES_BCC_CONFIG, 0x7, chosen == CORVELINK_MODE_CSI ? 6 : 0);
	}

	if (!aeq) {
		des_wr(cl, DES_AEQ_CTL, 0x00);
		msleep(100);
		des_wr(cl, DES_AEQ_CTL, 0x01);
	}
	des_wr(cl, DES_AEQ_CTL2, 0xF0);
}

static void corvelink_ser_init(struct corvelink *cl, int port)
{
	char ser_id[CORVELINK_ID_LEN + 1];
	u8 val;

	corvelink_select_port(cl, port);
	des_rd(cl, DES_SER_ID, &val);
	msleep(100);
	corvelink_read_id(cl, cl->ser_alias[port], ser_id);
	if (strcmp(ser_id, CORVELINK_ID_UB953)) {
		cl->ser_kind[port] = CORVELINK_SER_UB913;
		return;
	}
	cl->ser_kind[port] = CORVELINK_SER_UB953;
	ser_update(cl, port, SER_GENERAL_CFG, BIT(0), io_1p8 ? BIT(0) : 0);
	if (test_mode == 2)
		corvelink_write_pattern(cl, cl->ser_alias[port], corvelink_ser_pattern);
}

static int corvelink_hw_init(struct vors_vin_brg *brg, u32 mask)
{
	struct corvelink *cl = to_corvelink(brg);
	char chip[CORVELINK_ID_LEN + 1];
	static const u8 port_ctl[4] = {0, 0x81, 0x96, 0xBF};
	int port, ret;

	if (mask < 1 || mask > 3) {
		corvelink_err("corvelink can only support max 2 links!\n");
		/* an empty mask would read as success */
		return mask ? (int)mask : -EINVAL;
	}

	des_wr(cl, DES_RESET, 0x03);
	corvelink_read_id(cl, cl->des_addr, chip);
	if (strcmp(chip, CORVELINK_ID_UB954) && strcmp(chip, CORVELINK_ID_UB934))
		return mask;
	strscpy(cl->chip_id, chip, sizeof(cl->chip_id));

	des_wr(cl, DES_RX_PORT_CTL, port_ctl[mask]);
	des_update(cl, DES_SFILTER_CFG, BIT(0) | BIT(3), 0);

	for (port = 0; port < CORVELINK_PORTS; port++)
		if (mask & BIT(port))
			corvelink_port_init(cl, port);

	if (test_mode == 1) {
		des_wr(cl, DES_RAW10_ID, 0x1E);
		corvelink_write_pattern(cl, cl->des_addr, corvelink_pattern);
		return 0;
	}

	ret = corvelink_wait_link(cl, DES_STATUS_LOCK, DES_RX_PORT_STS1_LOCK, 100, 1);
	if (ret) {
		if (ret == -ETIMEDOUT) {
			corvelink_err("Link locked fail!\n");
			corvelink_err("[%d]No serializer link!\n", cl->index);
		}
		return mask;
	}

	for (port = 0; port < CORVELINK_PORTS; port++)
		if (mask & BIT(port))
			corvelink_ser_init(cl, port);
	return 0;
}

/* serializer clock divider for the sensor's reference clock */
static bool corvelink_clk_mn(u32 clk, u8 *m, u8 *n)
{
	switch (clk) {
	case 24000000:
		*m = 0x43;
		*n = override_bc_freq == 10 ? 25 : override_bc_freq == 25 ? 62 : 125;
		return true;
	case 25000000:
		*m = 65;
		*n = 40;
		return true;
	case 27000000:
		*m = 155;
		*n = 250;
		return true;
	case 30000000:
		*m = 67;
		*n = 100;
		return true;
	case 37125000:
		*m = 73;
		*n = 242;
		return true;
	default:
		return false;
	}
}

static int corvelink_set_clk_si(struct vors_vin_brg *brg, u32 mask, u32 clk)
{
	struct corvelink *cl = to_corvelink(brg);
	int port;
	u8 m, n;

	if (test_mode)
		return 0;

	for (port = 0; port < CORVELINK_PORTS; port++) {
		if (!(mask & BIT(port)) || cl->ser_kind[port] != CORVELINK_SER_UB953)
			continue;
		if (!corvelink_clk_mn(clk, &m, &n)) {
			corvelink_err("clock %d hasn't been supported yet\n", clk);
			continue;
		}
		ser_wr(cl, port, SER_CLKOUT_M, m);
		ser_wr(cl, port, SER_CLKOUT_N, n);
	}

	for (port = 0; port < CORVELINK_PORTS; port++) {
		if (!(mask & BIT(port)))
			continue;
		if (cl->ser_kind[port] == CORVELINK_SER_UB953) {
			if (sen_rst_gpio < 0)
				continue;
			corvelink_ser_gpio_out(cl, port, sen_rst_gpio, 0);
			msleep(10);
			corvelink_ser_gpio_out(cl, port, sen_rst_gpio, 1);
			msleep(10);
			continue;
		}
		if (fsync_gpio >= 0)
			corvelink_ser_gpio_out(cl, port, fsync_gpio, 0);
		if (sen_rst_gpio >= 0) {
			corvelink_ser_gpio_out(cl, port, sen_rst_gpio, 0);
			msleep(10);
			corvelink_ser_gpio_out(cl, port, sen_rst_gpio, 1);
		}
	}
	return 0;
}

static int corvelink_vin_config(struct vors_vin_brg *brg, u32 mask)
{
	struct corvelink *cl = to_corvelink(brg);
	const struct vorsalind_vin_config *cfg = brg->vin_cfg;
	int port;

	for (port = 0; port < CORVELINK_PORTS; port++) {
		if (!(mask & BIT(port)) || cl->ser_kind[port] != CORVELINK_SER_UB953)
			continue;
		if (cfg->interface_type != VORSALIND_VIN_IF_MIPI) {
			corvelink_err("DS90UB953 can only support MIPI sensor!\n");
			continue;
		}
		ser_update(cl, port, SER_GENERAL_CFG, 0x70,
		           (cfg->clk_mode != 1) << 6 | ((cfg->lanes - 1) & 0x3) << 4);
	}
	return 0;
}

static int corvelink_vout_config(struct vors_vin_brg *brg, u32 mask)
{
	struct corvelink *cl = to_corvelink(brg);
	const struct vorsalind_vin_config *cfg = brg->vin_cfg;
	u32 lanes = cfg->lanes ? cfg->lanes : 4;
	u32 left_out = ~mask & 0x3;
	int port;

	if (corvelink_is_ub934(cl)) {
		brg->out_format = 0;
		msleep(10);
		return 0;
	}

	for (port = 0; port < CORVELINK_PORTS; port++) {
		if (!(mask & BIT(port)))
			continue;
		corvelink_select_port(cl, port);
		msleep(1);
		if (cfg->data_format == 2 || cfg->data_format == 3) {
			des_wr(cl, DES_RX_PORT_CTL_LEGACY, 0x00);
			des_wr(cl, DES_PORT_ICR_HI, 0x1E);
			des_wr(cl, DES_PORT_CONFIG2, cl->input_mode == CORVELINK_MODE_RAW10 ? 0xE0 : 0xA0);
			des_wr(cl, DES_RAW10_ID, 0x1E);
		}
		if (cfg->interface_type == VORSALIND_VIN_IF_PARALLEL)
			des_update(cl, DES_PORT_CONFIG2, 0x3,
			           (cfg->sync_flags & BIT(1) ? 0 : BIT(0)) |
			               (cfg->sync_flags & BIT(0) ? 0 : BIT(1)));
		des_update(cl, DES_INTERRUPT_CTL, 0, BIT(port) | BIT(7));
		des_update(cl, DES_PORT_ICR, 0, BIT(0));
	}

	des_wr(cl, DES_CSI_PLL_CTL, 0x00);
	des_wr(cl, DES_CSI_CTL, (lanes > 4 ? lanes - 4 : 4 - lanes) * 16 + 3);
	des_wr(cl, DES_FWD_CTL2, left_out ? 0x01 : 0x08);
	des_wr(cl, DES_FWD_CTL1, left_out << 4);
	msleep(10);
	return 0;
}

/* ---- sensor access through the link ----------------------------------- */

static int corvelink_put_addr(const struct corvelink *cl, u8 *buf, u32 reg)
{
	int i, w = cl->reg_addr_width;

	for (i = 0; i < w; i++)
		buf[i] = reg >> (8 * (w - 1 - i));
	return w;
}

static int corvelink_write_chan_reg(struct vors_vin_brg *brg, u32 chan_mask, u32 reg, u32 val, u32 count)
{
	struct corvelink *cl = to_corvelink(brg);
	u8 buf[CORVELINK_MAX_MSG];
	struct i2c_msg msg;
	u8 target = cl->sen_alias_bc;
	int len, i, attempt, ret = -EIO;

	if (corvelink_stopping(cl))
		return -1;
	/* the message buffer bounds what one call may send */
	if (cl->reg_addr_width + (size_t)count * cl->reg_value_width > sizeof(buf) ||
	    (cl->reg_value_width == 1 && count > sizeof(val)))
		return -EINVAL;

	if (chan_mask != cl->cur_mask && (chan_mask == 1 || chan_mask == 2))
		target = cl->sen_alias[chan_mask - 1];

	len = corvelink_put_addr(cl, buf, reg);
	for (i = 0; i < (int)count; i++) {
		int b, w = cl->reg_value_width;

		if (w == 1) {
			buf[len++] = val >> (8 * i);
			continue;
		}
		for (b = 0; b < w; b++)
			buf[len++] = b < w - 4 ? 0 : val >> (8 * (w - 1 - b));
	}

	msg.addr = target >> 1;
	msg.flags = (reg & BIT(31)) ? I2C_M_IGNORE_NAK : 0;
	msg.len = len;
	msg.buf = buf;
	for (attempt = 0; attempt < CORVELINK_ATTEMPTS; attempt++) {
		if (attempt)
			msleep(CORVELINK_RETRY_MS);
		ret = i2c_transfer(cl->client->adapter, &msg, 1);
		if (ret == 1)
			return 0;
	}
	return ret < 0 ? ret : -EIO;
}

static int corvelink_read_once(struct corvelink *cl, u8 addr7, u32 reg, u32 *val)
{
	u8 wbuf[4], rbuf[4] = {0};
	int w = min_t(int, cl->reg_value_width, sizeof(rbuf));
	struct i2c_msg msgs[2];
	int i, attempt, ret = -EIO;

	msgs[0].addr = addr7;
	msgs[0].flags = 0;
	msgs[0].len = corvelink_put_addr(cl, wbuf, reg);
	msgs[0].buf = wbuf;
	msgs[1].addr = addr7;
	msgs[1].flags = I2C_M_RD;
	msgs[1].len = w;
	msgs[1].buf = rbuf;
	for (attempt = 0; attempt < CORVELINK_ATTEMPTS; attempt++) {
		if (attempt)
			msleep(CORVELINK_RETRY_MS);
		ret = i2c_transfer(cl->client->adapter, msgs, 2);
		if (ret == 2)
			break;
	}
	if (ret != 2)
		return ret < 0 ? ret : -EIO;
	*val = 0;
	for (i = 0; i < w; i++)
		*val = (*val << 8) | rbuf[i];
	return 0;
}

static int corvelink_read_chan_reg(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 *val)
{
	struct corvelink *cl = to_corvelink(brg);
	u8 addr7;
	int round, ret = -EIO;
	bool got = false;

	*val = 0;
	if (corvelink_stopping(cl) || (chan != 1 && chan != 2))
		return -1;
	if (cl->reg_addr_width > 4)
		return -EINVAL;
	addr7 = (chan == 1 ? 0x49 : 0x4A) + 2 * cl->index;

	/*
	 * A slow exchange may have been disturbed on the link, so it is done
	 * again, but a link that stays slow must not hold the caller forever.
	 */
	for (round = 0; round < CORVELINK_READ_ROUNDS; round++) {
		unsigned long start = jiffies;
		u32 v;

		ret = corvelink_read_once(cl, addr7, reg, &v);
		if (!ret) {
			*val = v;
			got = true;
		}
		if (!time_after(jiffies, start + msecs_to_jiffies(CORVELINK_SLOW_READ_MS)))
			break;
	}
	return got ? 0 : ret;
}

/* ---- debug access --------------------------------------------------------- */

static int corvelink_dbg_write(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 val)
{
	struct corvelink *cl = to_corvelink(brg);

	if (reg == 0xFFFF) {
		cl->dbg_addr = val;
		return 0;
	}
	if (cl->dbg_addr >= 0xF0)
		corvelink_write_chan_reg(brg, cl->dbg_addr & 0xF, reg, val, 1);
	else
		corvelink_wr(cl, cl->dbg_addr, reg, val);
	return 0;
}

static void corvelink_dump_link_errors(struct corvelink *cl)
{
	int port;

	for (port = 0; port < CORVELINK_PORTS; port++) {
		u8 sts, lo, hi;

		if (!(cl->cur_mask & BIT(port)) || cl->ser_kind[port] != CORVELINK_SER_UB953)
			continue;
		corvelink_select_port(cl, port);
		ser_rd(cl, port, SER_BCC_STATUS, &sts);
		if (!(sts & BIT(1)))
			continue;
		ser_rd(cl, port, SER_CRC_ERR_LO, &lo);
		ser_rd(cl, port, SER_CRC_ERR_HI, &hi);
		ser_wr(cl, port, SER_CRC_ERR_CLR, 0x08);
		pr_info("corvelink[%d] port %d: %d CRC errors\n", cl->index, port, hi << 8 | lo);
	}
}

static int corvelink_dbg_read(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 *val)
{
	struct corvelink *cl = to_corvelink(brg);
	u8 v;

	*val = 0;
	if (reg == 0xFFFF) {
		corvelink_dump_link_errors(cl);
		return 0;
	}
	if (cl->dbg_addr > 0xEF) {
		u32 ch = cl->dbg_addr & 0xF;

		if ((ch == 1 || ch == 2) && !corvelink_stopping(cl))
			corvelink_read_chan_reg(brg, ch, reg, val);
		return 0;
	}
	corvelink_rd(cl, cl->dbg_addr, reg, &v);
	*val = v;
	return 0;
}

/* ---- stream, status and interrupt ------------------------------------------ */

static void corvelink_gpio_forward(struct corvelink *cl, u32 mask)
{
	int port;

	des_update(cl, DES_GPIO_INPUT_CTL, BIT(0), 0);
	for (port = 0; port < CORVELINK_PORTS; port++) {
		u8 prev;

		if (!(mask & BIT(port)))
			continue;
		corvelink_select_port(cl, port);
		des_rd(cl, DES_GPIO0_PIN_CTL, &prev);
		des_wr(cl, DES_GPIO0_PIN_CTL, (prev & 2) | (port ? 0x25 : 0x21));
		if (cl->ser_kind[port] != CORVELINK_SER_UB953) {
			corvelink_err("ds90ub913/933 doesn't support GPI");
			continue;
		}
		ser_update(cl, port, SER_GPIO_INPUT_CTL, BIT(5), BIT(1));
		ser_update(cl, port, SER_GPI_FWD, 0x3, 0x2);
	}
}

static int corvelink_confirm_stream(struct vors_vin_brg *brg, u32 mask)
{
	struct corvelink *cl = to_corvelink(brg);
	int ret, result = 0;
	u32 sensor_id;

	des_wr(cl, DES_PORT_PASS_CTL, 0x3B);
	ret = corvelink_wait_link(cl, DES_STATUS_PASS, DES_RX_PORT_STS1_PASS, 10, 10);
	if (ret == -ETIMEDOUT)
		corvelink_err("Link pass fail!\n");
	if (ret)
		result = mask;

	if (!corvelink_stopping(cl)) {
		corvelink_read_chan_reg(brg, 2, CORVELINK_SENSOR_ID_REG, &sensor_id);
		if (sensor_id == CORVELINK_SENSOR_ID && !cl->gpio_fwd_done) {
			cl->gpio_fwd_done = true;
			if (!test_mode)
				corvelink_gpio_forward(cl, mask);
		}
	}

	/* the GPIO controller is registered once per bridge */
	if (!cl->gpio_probed && !corvelink_gpio_probe(brg, cl->client))
		cl->gpio_probed = true;
	return result;
}

static int corvelink_get_status(struct vors_vin_brg *brg, u32 port, u32 *status)
{
	struct corvelink *cl = to_corvelink(brg);
	int p = port == 1 ? 0 : 1;
	u8 val;

	des_rd(cl, DES_ID, &val);
	if (val != 'U') {
		*status |= BIT(1);
		return 0;
	}
	corvelink_select_port(cl, p);
	if (ser_rd(cl, p, SER_ID, &val))
		*status |= BIT(2);
	return 0;
}

static int corvelink_irq_callback(struct vors_vin_brg *brg)
{
	struct corvelink *cl = to_corvelink(brg);
	int round, port;

	for (round = 0; round < CORVELINK_IRQ_ROUNDS; round++) {
		u8 sts, v;

		if (corvelink_stopping(cl) || des_rd(cl, DES_INTERRUPT_STS, &sts) || !sts)
			return 0;
		for (port = 0; port < CORVELINK_PORTS; port++) {
			if (!(sts & BIT(port)))
				continue;
			corvelink_select_port(cl, port);
			des_rd(cl, DES_RX_PORT_STS1, &v);
			des_rd(cl, DES_RX_PORT_STS2, &v);
			des_rd(cl, DES_PORT_ICR_LO, &v);
		}
	}
	corvelink_err("interrupt status does not clear\n");
	return 0;
}

static int corvelink_hw_close(struct vors_vin_brg *brg)
{
	struct corvelink *cl = to_corvelink(brg);

	if (cl->gpio_probed) {
		corvelink_gpio_remove(cl->client);
		cl->gpio_probed = false;
	}
	return 0;
}

static const struct vors_vin_brg_ops corvelink_brg_ops = {
    .dbg_write = corvelink_dbg_write,
    .dbg_read = corvelink_dbg_read,
    .confirm_stream = corvelink_confirm_stream,
    .write_chan_reg = corvelink_write_chan_reg,
    .read_chan_reg = corvelink_read_chan_reg,
    .hw_init = corvelink_hw_init,
    .hw_close = corvelink_hw_close,
    .irq_callback = corvelink_irq_callback,
    .get_status = corvelink_get_status,
    .set_clk_si = corvelink_set_clk_si,
    .vin_config = corvelink_vin_config,
    .vout_config = corvelink_vout_config,
};

/* ---- probe and removal ------------------------------------------------------ */

static void corvelink_free(struct corvelink *cl)
{
	kfree(cl->brg.vin_cfg);
	kfree(cl->brg.sensor_ops);
	kfree(cl);
}

static u8 corvelink_dt_des_addr(struct i2c_client *client, u32 index)
{
	if (dts_addr)
		return client->addr << 1;
	return corvelink_des_addr_table[index];
}

static struct corvelink *corvelink_create(struct i2c_client *client, u32 index, u8 ports, int *err)
{
	struct corvelink *cl;

	*err = -ENOMEM;
	cl = kzalloc(sizeof(*cl), GFP_KERNEL);
	if (!cl)
		return NULL;
	cl->brg.sensor_ops = kzalloc(sizeof(*cl->brg.sensor_ops), GFP_KERNEL);
	if (!cl->brg.sensor_ops) {
		corvelink_err("No memory: sensor ops!\n");
		kfree(cl);
		return NULL;
	}
	cl->brg.vin_cfg = kzalloc(sizeof(*cl->brg.vin_cfg), GFP_KERNEL);
	if (!cl->brg.vin_cfg) {
		corvelink_err("No memory: vin cfg!\n");
		corvelink_free(cl);
		return NULL;
	}

	strscpy(cl->brg.name, CORVELINK_NAME, sizeof(cl->brg.name));
	cl->index = index;
	cl->brg.id = index;
	cl->vinc_slot = 0;
	while (cl->vinc_slot < CORVELINK_VINC_SLOTS && (corvelink_vinc_slots & (1u << cl->vinc_slot)))
		cl->vinc_slot++;
	if (cl->vinc_slot >= CORVELINK_VINC_SLOTS) {
		corvelink_err("No free VIN controller!\n");
		corvelink_free(cl);
		*err = -ENOSPC;
		return NULL;
	}
	cl->brg.vinc_id = (vinc_id >> (4 * cl->vinc_slot)) & 0xF;
	cl->brg.clk = CORVELINK_BRG_CLK;
	cl->port_mask = ports;
	cl->cur_mask = ports;
	/* sensors behind the link take 16-bit addresses and values unless the
	 * framework says otherwise */
	cl->reg_addr_width = 2;
	cl->reg_value_width = 2;

	if (vors_register_vin_brg(&cl->brg, &corvelink_brg_ops, 1) < 0) {
		corvelink_free(cl);
		*err = -1;
		return NULL;
	}

	cl->client = client;
	cl->des_addr = corvelink_dt_des_addr(client, index);
	cl->dbg_addr = cl->des_addr;
	cl->ser_alias[0] = 0x80 + 2 * index;
	cl->ser_alias[1] = 0x8A + 2 * index;
	cl->sen_alias_bc = 0xB0 + 2 * index;
	cl->sen_alias[0] = 0x92 + 4 * index;
	cl->sen_alias[1] = 0x94 + 4 * index;
	corvelink_vinc_slots |= 1u << cl->vinc_slot;
	*err = 0;
	return cl;
}

static void corvelink_destroy_all(struct corvelink *first)
{
	while (first) {
		struct corvelink *next = first->next;

		if (first->gpio_probed)
			corvelink_gpio_remove(first->client);
		vors_unregister_vin_brg(&first->brg);
		corvelink_vinc_slots &= ~(1u << first->vinc_slot);
		corvelink_free(first);
		first = next;
	}
}

static int corvelink_probe_bridges(struct i2c_client *client)
{
	struct corvelink *first = NULL, **tail = &first;
	u32 i;

	for (i = 0; i < CORVELINK_MAX_BRIDGES; i++) {
		u8 ports = (id >> (8 * i)) & 0xFF;
		struct corvelink *cl;
		int err;

		if (!ports)
			continue;
		cl = corvelink_create(client, i, ports, &err);
		if (!cl) {
			/* no bridge may stay registered with a failed probe */
			corvelink_destroy_all(first);
			return err;
		}
		*tail = cl;
		tail = &cl->next;
	}
	i2c_set_clientdata(client, first);
	return 0;
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 3, 0)
static int corvelink_probe(struct i2c_client *client)
#else
static int corvelink_probe(struct i2c_client *client, const struct i2c_device_id *did)
#endif
{
	return corvelink_probe_bridges(client);
}

/* the framework must not keep bridges whose operations leave with us */
static void corvelink_remove_bridges(struct i2c_client *client)
{
	corvelink_destroy_all(i2c_get_clientdata(client));
	i2c_set_clientdata(client, NULL);
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 1, 0)
static void corvelink_remove(struct i2c_client *client)
{
	corvelink_remove_bridges(client);
}
#else
static int corvelink_remove(struct i2c_client *client)
{
	corvelink_remove_bridges(client);
	return 0;
}
#endif

static const struct i2c_device_id corvelink_idtable[] = {{"corvelink", 0}, {}};
MODULE_DEVICE_TABLE(i2c, corvelink_idtable);

static const struct of_device_id corvelink_of_match[] = {{.compatible = "ti,corvelink"}, {}};
MODULE_DEVICE_TABLE(of, corvelink_of_match);

static struct i2c_driver corvelink_driver = {
    .driver =
        {
            .name = "corvelink",
            .owner = THIS_MODULE,
        },
    .probe = corvelink_probe,
    .remove = corvelink_remove,
    .id_table = corvelink_idtable,
};

static int __init corvelink_init(void)
{
	corvelink_driver.driver.of_match_table = corvelink_of_match;
	return i2c_add_driver(&corvelink_driver);
}

static void __exit corvelink_exit(void)
{
	i2c_del_driver(&corvelink_driver);
}

module_init(corvelink_init);
module_exit(corvelink_exit);

MODULE_DESCRIPTION("TI CORVELINK DUAL FPD-LINK SERDES bridge");
MODULE_LICENSE("Proprietary");
MODULE_SOFTDEP("pre: gpio-corvelink vorrg");

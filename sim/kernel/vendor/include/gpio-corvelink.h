/*
 * The companion module of the FPD-Link bridge: byte register access to the
 * deserializer and the serializers behind it, and the GPIO controller of
 * the link.
 */
#ifndef GPIO_CORVELINK_H
#define GPIO_CORVELINK_H

#include <linux/i2c.h>
#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct vors_vin_brg;

/* addr is the 8-bit I2C address of the chip on the client's bus */
int corvelink_read_reg(struct i2c_client *client, u8 addr, u8 reg, u8 *val);
int corvelink_write_reg(struct i2c_client *client, u8 addr, u8 reg, u8 val);

int corvelink_gpio_probe(struct vors_vin_brg *brg, struct i2c_client *parent);
void corvelink_gpio_remove(struct i2c_client *parent);

#ifdef __cplusplus
}
#endif

#endif

/*
 * Link-time stand-in of the SoC vendor's modules (the video-input framework
 * vorrg, the support package helpers and gpio-corvelink) for the compile
 * check of our drivers against real kernel headers.  It is never loaded:
 * it only gives modpost the symbols those modules export on the device.
 */
#include <linux/errno.h>
#include <linux/i2c.h>
#include <linux/module.h>
#include <linux/proc_fs.h>

#include <gpio-corvelink.h>
#include <vorsalind_priv.h>
#include <vorsalind_vin.h>

int vors_register_vin_brg(struct vors_vin_brg *brg, const struct vors_vin_brg_ops *ops, u32 nr_vin)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vors_register_vin_brg);

void vors_unregister_vin_brg(struct vors_vin_brg *brg) {}
EXPORT_SYMBOL(vors_unregister_vin_brg);

struct vorsalind_vin_device *vorsalind_vin_create_device(struct i2c_client *client, u32 sensor_id,
                                                         u32 priv_size)
{
	return NULL;
}
EXPORT_SYMBOL(vorsalind_vin_create_device);

int vorsalind_vin_register_device(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_ops *ops,
                                  const struct vorsalind_vin_format *formats, u32 num_formats,
                                  const struct vorsalind_vin_pll *plls, u32 num_plls)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vorsalind_vin_register_device);

void vorsalind_vin_unregister_device(struct vorsalind_vin_device *vdev) {}
EXPORT_SYMBOL(vorsalind_vin_unregister_device);

void vorsalind_vin_free_device(struct vorsalind_vin_device *vdev) {}
EXPORT_SYMBOL(vorsalind_vin_free_device);

int vorsalind_set_vin_config(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_config *cfg)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vorsalind_set_vin_config);

struct proc_dir_entry *get_vorsalind_proc_dir(void)
{
	return NULL;
}
EXPORT_SYMBOL(get_vorsalind_proc_dir);

int vorpriv_i2c_update_addr(const char *name, int bus, int addr)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vorpriv_i2c_update_addr);

int vorsalind_spi_write_then_read(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx, u8 *rx,
                                  u32 n_rx)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vorsalind_spi_write_then_read);

int vorsalind_spi_write(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx)
{
	return -ENODEV;
}
EXPORT_SYMBOL(vorsalind_spi_write);

int corvelink_read_reg(struct i2c_client *client, u8 addr, u8 reg, u8 *val)
{
	return -ENODEV;
}
EXPORT_SYMBOL(corvelink_read_reg);

int corvelink_write_reg(struct i2c_client *client, u8 addr, u8 reg, u8 val)
{
	return -ENODEV;
}
EXPORT_SYMBOL(corvelink_write_reg);

int corvelink_gpio_probe(struct vors_vin_brg *brg, struct i2c_client *parent)
{
	return -ENODEV;
}
EXPORT_SYMBOL(corvelink_gpio_probe);

void corvelink_gpio_remove(struct i2c_client *parent) {}
EXPORT_SYMBOL(corvelink_gpio_remove);

MODULE_DESCRIPTION("Link-time stand-in of the SoC vendor's video-input modules");
MODULE_LICENSE("GPL");

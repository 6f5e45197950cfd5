// The SoC vendor's video-input framework and helpers, modelled for tests.
#include "simkernel/vendor_sim.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include <gpio-corvelink.h>
#include <vorsalind_priv.h>

namespace
{

std::mutex g_mu;
std::vector<simk::RegisteredBridge> g_brgs;
int g_brg_fail_in;
int g_brg_fail_err;
std::vector<vorsalind_vin_device *> g_devices;
std::vector<vorsalind_vin_device *> g_created;
std::map<const vorsalind_vin_device *, vorsalind_vin_config> g_configs;
int g_config_result;
int g_gpio_probes;
int g_gpio_removes;
int g_gpio_probe_result;
std::map<std::pair<u8, u8>, simk::SpiDevice *> g_spi;
proc_dir_entry *g_proc_dir;

} // namespace

extern "C" {

int vors_register_vin_brg(struct vors_vin_brg *brg, const struct vors_vin_brg_ops *ops, u32 nr_vin)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (g_brg_fail_in > 0 && --g_brg_fail_in == 0)
		return g_brg_fail_err;
	if (!brg || !ops)
		return -EINVAL;
	brg->ops = ops;
	g_brgs.push_back({brg, ops, nr_vin});
	return 0;
}

void vors_unregister_vin_brg(struct vors_vin_brg *brg)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_brgs.erase(std::remove_if(g_brgs.begin(), g_brgs.end(),
	                            [&](const simk::RegisteredBridge &r) { return r.brg == brg; }),
	             g_brgs.end());
}

struct vorsalind_vin_device *vorsalind_vin_create_device(struct i2c_client *client, u32 sensor_id,
                                                         u32 priv_size)
{
	// the framework's own allocation goes through the kernel allocator, so a
	// failing kzalloc fails the creation too
	auto *vdev = (vorsalind_vin_device *)kzalloc(sizeof(vorsalind_vin_device) + priv_size, GFP_KERNEL);
	if (!vdev)
		return nullptr;
	vdev->client = client;
	vdev->sensor_id = sensor_id;
	vdev->priv_size = priv_size;
	snprintf(vdev->name, sizeof(vdev->name), "%s", client ? client->name : "");
	std::lock_guard<std::mutex> lk(g_mu);
	g_created.push_back(vdev);
	return vdev;
}

int vorsalind_vin_register_device(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_ops *ops,
                                  const struct vorsalind_vin_format *formats, u32 num_formats,
                                  const struct vorsalind_vin_pll *plls, u32 num_plls)
{
	if (!vdev || !ops || !formats || !num_formats || !plls || !num_plls)
		return -EINVAL;
	vdev->ops = ops;
	vdev->formats = formats;
	vdev->num_formats = num_formats;
	vdev->plls = plls;
	vdev->num_plls = num_plls;
	std::lock_guard<std::mutex> lk(g_mu);
	g_devices.push_back(vdev);
	return 0;
}

void vorsalind_vin_unregister_device(struct vorsalind_vin_device *vdev)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_devices.erase(std::remove(g_devices.begin(), g_devices.end(), vdev), g_devices.end());
}

void vorsalind_vin_free_device(struct vorsalind_vin_device *vdev)
{
	{
		std::lock_guard<std::mutex> lk(g_mu);
		g_created.erase(std::remove(g_created.begin(), g_created.end(), vdev), g_created.end());
		g_configs.erase(vdev);
	}
	kfree(vdev);
}

int vorsalind_set_vin_config(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_config *cfg)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_configs[vdev] = *cfg;
	return g_config_result;
}

int corvelink_read_reg(struct i2c_client *client, u8 addr, u8 reg, u8 *val)
{
	struct i2c_msg msgs[2] = {
	    {(u16)(addr >> 1), 0, 1, &reg},
	    {(u16)(addr >> 1), I2C_M_RD, 1, val},
	};
	int r = i2c_transfer(client->adapter, msgs, 2);
	return r == 2 ? 0 : (r < 0 ? r : -EIO);
}

int corvelink_write_reg(struct i2c_client *client, u8 addr, u8 reg, u8 val)
{
	u8 buf[2] = {reg, val};
	struct i2c_msg msg = {(u16)(addr >> 1), 0, 2, buf};
	int r = i2c_transfer(client->adapter, &msg, 1);
	return r == 1 ? 0 : (r < 0 ? r : -EIO);
}

int corvelink_gpio_probe(struct vors_vin_brg *, struct i2c_client *)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_gpio_probes++;
	return g_gpio_probe_result;
}

void corvelink_gpio_remove(struct i2c_client *)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_gpio_removes++;
}

struct proc_dir_entry *get_vorsalind_proc_dir(void)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (!g_proc_dir)
		g_proc_dir = proc_mkdir("vorsalind", nullptr);
	return g_proc_dir;
}

int vorpriv_i2c_update_addr(const char *name, int bus, int addr)
{
	// the board declares one "vorvin" device per video-input bus
	i2c_adapter *adap = i2c_get_adapter(bus);
	if (!adap)
		return -ENODEV;
	i2c_client *client = simk::i2c_find_client(adap, "vorvin");
	if (!client)
		return -ENODEV;
	client->addr = (unsigned short)addr;
	snprintf(client->name, sizeof(client->name), "%s", name);
	return 0;
}

int vorsalind_spi_write_then_read(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx, u8 *rx,
                                  u32 n_rx)
{
	simk::SpiDevice *dev;
	{
		std::lock_guard<std::mutex> lk(g_mu);
		auto it = g_spi.find({cfg->bus_id, cfg->cs_id});
		if (it == g_spi.end())
			return -ENODEV;
		dev = it->second;
	}
	return dev->transfer(*cfg, tx, n_tx, rx, n_rx);
}

int vorsalind_spi_write(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx)
{
	return vorsalind_spi_write_then_read(cfg, tx, n_tx, nullptr, 0);
}

} // extern "C"

namespace simk
{

std::vector<RegisteredBridge> vin_bridges()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_brgs;
}

void vin_fail_register_brg(int nth, int err)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_brg_fail_in = nth;
	g_brg_fail_err = err;
}

std::vector<vorsalind_vin_device *> vin_devices()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_devices;
}

size_t vin_devices_created()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_created.size();
}

bool vin_last_config(const vorsalind_vin_device *vdev, vorsalind_vin_config *cfg)
{
	std::lock_guard<std::mutex> lk(g_mu);
	auto it = g_configs.find(vdev);
	if (it == g_configs.end())
		return false;
	*cfg = it->second;
	return true;
}

int vin_config_result(int result)
{
	std::lock_guard<std::mutex> lk(g_mu);
	int old = g_config_result;
	g_config_result = result;
	return old;
}

int vin_set_format(vorsalind_vin_device *vdev, u32 index)
{
	if (index >= vdev->num_formats)
		return -EINVAL;
	const vorsalind_vin_format *fmt = &vdev->formats[index];
	vdev->cur_format = fmt;
	vdev->cur_pll = &vdev->plls[fmt->pll_index];
	vdev->active_lines = fmt->read_height ? fmt->read_height : fmt->height;
	return vdev->ops->set_format(vdev, fmt);
}

int corvelink_gpio_probes()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_gpio_probes;
}

int corvelink_gpio_removes()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_gpio_removes;
}

int corvelink_gpio_probe_result(int result)
{
	std::lock_guard<std::mutex> lk(g_mu);
	int old = g_gpio_probe_result;
	g_gpio_probe_result = result;
	return old;
}

void spi_attach(u8 bus, u8 cs, SpiDevice *dev)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (dev)
		g_spi[{bus, cs}] = dev;
	else
		g_spi.erase({bus, cs});
}

void vendor_reset()
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_brgs.clear();
	g_brg_fail_in = 0;
	g_devices.clear();
	g_configs.clear();
	g_config_result = 0;
	g_gpio_probes = 0;
	g_gpio_removes = 0;
	g_gpio_probe_result = 0;
	g_spi.clear();
	g_proc_dir = nullptr;
}

} // namespace simk

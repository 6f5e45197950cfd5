// The simulated video-input framework and SoC helpers, seen from tests.
#pragma once

#include <string>
#include <vector>

#include <simkernel/sim.h>
#include <vorsalind_priv.h>
#include <vorsalind_vin.h>

namespace simk
{

struct RegisteredBridge {
	vors_vin_brg *brg;
	const vors_vin_brg_ops *ops;
	u32 nr_vin;
};
std::vector<RegisteredBridge> vin_bridges();
void vin_fail_register_brg(int nth, int err); // the n-th registration from now fails

std::vector<vorsalind_vin_device *> vin_devices(); // registered ones
size_t vin_devices_created();                      // created and not freed
// The configuration the driver last handed over for a device.
bool vin_last_config(const vorsalind_vin_device *vdev, vorsalind_vin_config *cfg);
int vin_config_result(int result); // what vorsalind_set_vin_config returns from now
// Selects format index for the device as the framework does before it calls
// set_format, then calls it.
int vin_set_format(vorsalind_vin_device *vdev, u32 index);

int corvelink_gpio_probes();
int corvelink_gpio_removes();
int corvelink_gpio_probe_result(int result);

// SPI: one simulated chip per bus and chip select.
class SpiDevice
{
      public:
	virtual ~SpiDevice() = default;
	// tx then rx in one chip-select cycle; negative errno fails the call
	virtual int transfer(const vorsalind_spi_cfg &cfg, const u8 *tx, u32 n_tx, u8 *rx, u32 n_rx) = 0;
};
void spi_attach(u8 bus, u8 cs, SpiDevice *dev);

void vendor_reset();

} // namespace simk

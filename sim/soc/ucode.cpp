// "/dev/ucode": answers the ucode version request of the video driver.
// SIMSOC_UCODE_VERSION="year,month,day,edition,version,chip" sets it.
#include "model_env.h"
#include "simsoc.h"
#include "ucode_ioctl.h"

#include <errno.h>
#include <string.h>

namespace
{

void put32(uint8_t *p, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		p[i] = (uint8_t)(v >> (8 * i));
}

int ucode_ioctl(simsoc_file *f, unsigned long req, void *arg)
{
	(void)f;
	if (req != QVD_IOC_GET_UCODE_VERSION)
		return -ENOTTY;
	uint32_t v[6] = {2026, 11, 20, 3, 107, 2};
	simsoc_env_numbers("SIMSOC_UCODE_VERSION", v, 6);
	uint8_t *out = static_cast<uint8_t *>(arg);
	out[UCODE_VERSION_YEAR] = (uint8_t)v[0];
	out[UCODE_VERSION_YEAR + 1] = (uint8_t)(v[0] >> 8);
	out[UCODE_VERSION_MONTH] = (uint8_t)v[1];
	out[UCODE_VERSION_DAY] = (uint8_t)v[2];
	put32(out + UCODE_VERSION_EDITION, v[3]);
	put32(out + UCODE_VERSION_NUMBER, v[4]);
	put32(out + UCODE_VERSION_CHIP, v[5]);
	simsoc_log("ucode: get version");
	return 0;
}

const simsoc_model_ops ucode_ops = {.name = "ucode", .ioctl = ucode_ioctl};

__attribute__((constructor)) void ucode_register()
{
	simsoc_register(UCODE_DEVICE, &ucode_ops, nullptr);
}

} // namespace

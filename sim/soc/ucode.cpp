// "/dev/ucode": answers the ucode version request of the video driver.
// SIMSOC_UCODE_VERSION="year,month,day,edition,version,chip" sets it.
#include "simsoc.h"
#include "model_env.h"

#include <errno.h>
#include <string.h>

namespace {

constexpr unsigned long get_ucode_version = 0x80107501ul;

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

int ucode_ioctl(simsoc_file *f, unsigned long req, void *arg)
{
    (void)f;
    if (req != get_ucode_version)
        return -ENOTTY;
    uint32_t v[6] = {2026, 11, 20, 3, 107, 2};
    simsoc_env_numbers("SIMSOC_UCODE_VERSION", v, 6);
    uint8_t *out = static_cast<uint8_t *>(arg);
    out[0] = (uint8_t)v[0];
    out[1] = (uint8_t)(v[0] >> 8);
    out[2] = (uint8_t)v[1];
    out[3] = (uint8_t)v[2];
    put32(out + 4, v[3]);
    put32(out + 8, v[4]);
    put32(out + 12, v[5]);
    simsoc_log("ucode: get version");
    return 0;
}

const simsoc_model_ops ucode_ops = {.name = "ucode", .ioctl = ucode_ioctl};

__attribute__((constructor)) void ucode_register()
{
    simsoc_register("/dev/ucode", &ucode_ops, nullptr);
}

} // namespace

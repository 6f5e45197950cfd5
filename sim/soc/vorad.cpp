// "/dev/vorad", the DSP debug device: one flag word to get and set.
// SIMSOC_VORAD_FLAG sets its value at start.
#include "simsoc.h"
#include "model_env.h"

#include <errno.h>
#include <mutex>
#include <string.h>

namespace {

constexpr unsigned long get_debug_flag = 0x80086401ul;
constexpr unsigned long set_debug_flag = 0x40086401ul;

std::mutex vorad_lock;
bool vorad_loaded;
uint32_t vorad_flag;

int vorad_ioctl(simsoc_file *f, unsigned long req, void *arg)
{
    (void)f;
    std::lock_guard<std::mutex> lk(vorad_lock);
    if (!vorad_loaded) {
        vorad_loaded = true;
        simsoc_env_numbers("SIMSOC_VORAD_FLAG", &vorad_flag, 1);
    }
    if (req == get_debug_flag) {
        memcpy(arg, &vorad_flag, sizeof vorad_flag);
        return 0;
    }
    if (req == set_debug_flag) {
        memcpy(&vorad_flag, arg, sizeof vorad_flag);
        simsoc_log("vorad: set debug flag 0x%x", vorad_flag);
        return 0;
    }
    return -ENOTTY;
}

const simsoc_model_ops vorad_ops = {.name = "vorad", .ioctl = vorad_ioctl};

__attribute__((constructor)) void vorad_register()
{
    simsoc_register("/dev/vorad", &vorad_ops, nullptr);
}

} // namespace

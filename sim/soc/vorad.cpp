// "/dev/vorad", the DSP debug device: one flag word to get and set.
// SIMSOC_VORAD_FLAG sets its value at start.
#include "model_env.h"
#include "simsoc.h"
#include "vorad_ioctl.h"

#include <errno.h>
#include <mutex>
#include <string.h>

namespace
{

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
	if (req == VORS_DEBUG_IOC_GET_DEBUG_FLAG) {
		memcpy(arg, &vorad_flag, sizeof vorad_flag);
		return 0;
	}
	if (req == VORS_DEBUG_IOC_SET_DEBUG_FLAG) {
		memcpy(&vorad_flag, arg, sizeof vorad_flag);
		simsoc_log("vorad: set debug flag 0x%x", vorad_flag);
		return 0;
	}
	return -ENOTTY;
}

const simsoc_model_ops vorad_ops = {.name = "vorad", .ioctl = vorad_ioctl};

__attribute__((constructor)) void vorad_register()
{
	simsoc_register(VORAD_DEVICE, &vorad_ops, nullptr);
}

} // namespace

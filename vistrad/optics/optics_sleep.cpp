#include "optics_sleep.h"

#include <atomic>
#include <time.h>

namespace
{

void real_sleep(uint32_t ms)
{
	timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
	while (nanosleep(&ts, &ts) != 0) {
	}
}

std::atomic<optics_sleep_fn> current{real_sleep};

} // namespace

void optics_sleep_ms(uint32_t ms)
{
	current.load()(ms);
}

optics_sleep_fn optics_set_sleep(optics_sleep_fn fn)
{
	return current.exchange(fn ? fn : real_sleep);
}

// Until the customer loop exists, the library reports its 3A as running and
// hands out empty statistics, so the daemon's frame road can run.
#include "libcl.h"

#include <string.h>

extern "C" void libcl_deinit(void) {}

extern "C" int libcl_get_aaa_started(uint32_t *started)
{
	if (!started)
		return -1;
	*started = 1;
	return 0;
}

extern "C" int libcl_get_stats(int channel, libcl_stats *stats, uint32_t)
{
	if (channel != 0 || !stats)
		return -1;
	memset(stats, 0, LIBCL_STATS_WRITTEN);
	return 0;
}

extern "C" int libcl_get_stats_all(libcl_stats *stats, uint32_t)
{
	if (!stats)
		return -1;
	memset(stats, 0, LIBCL_STATS_WRITTEN);
	return 0;
}

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

// ---- Until the customer loop exists ----------------------------------------
// The shutter-and-gain record, the AAA information, the black level and the
// HDR method answer as a library whose 3A has not started yet: -1.

extern "C" int libcl_get_shutter_and_gain(int, shutter_gain *)
{
	return -1;
}

extern "C" int libcl_set_shutter_and_gain(int, const shutter_gain *)
{
	return -1;
}

extern "C" int libcl_get_vin_aaa_info(int, vin_aaa_info *)
{
	return -1;
}

extern "C" int libcl_get_black_level(int, libcl_black_level *)
{
	return -1;
}

extern "C" int libcl_get_hdr_method(int, uint32_t *)
{
	return -1;
}

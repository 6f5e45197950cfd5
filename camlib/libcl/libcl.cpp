// Until the customer loop exists, the library reports its 3A as running
// while the video driver runs video, and hands out empty statistics, so the
// daemon's frame road can run.
#include "libcl.h"

#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "qvd_ioctl.h"

// The kernel side starts the 3A when the video starts: the DSP's state says
// whether it runs (2), with or without the library initialised.
extern "C" int libcl_get_aaa_started(uint32_t *started)
{
	if (!started)
		return -1;
	int fd = open(QVD_DEVICE, O_RDWR | O_CLOEXEC);
	uint32_t state = 0;
	if (fd >= 0) {
		if (ioctl(fd, QVD_IOC_GET_QVD_STATE, &state) < 0)
			state = 0;
		close(fd);
	}
	*started = state == 2;
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

// ---------------------------------------------------------------------------
// Least bodies until the customer loop and the netlink client land: the
// library only remembers whether it was initialised.
// ---------------------------------------------------------------------------
static int libcl_initialised;

extern "C" int libcl_init(int32_t, int32_t, char **, char **)
{
	libcl_initialised = 1;
	return 1;
}

extern "C" void libcl_deinit(void)
{
	libcl_initialised = 0;
}

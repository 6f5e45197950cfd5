// Runs the device calls of a product program on the test-only model. It does
// not link libsimsoc: the test starts it with LD_PRELOAD.
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "testmodel.h"

#define CHECK(cond)                                                                                          \
	do {                                                                                                 \
		if (!(cond)) {                                                                               \
			fprintf(stderr, "probe: failed: %s (line %d)\n", #cond, __LINE__);                   \
			return 1;                                                                            \
		}                                                                                            \
	} while (0)

int main(int argc, char **argv)
{
	CHECK(argc == 2);
	int fd = open(TESTMODEL_PATH, O_RDWR);
	CHECK(fd >= 0);
	uint32_t v = 42, got = 0, phys = 0;
	CHECK(ioctl(fd, TESTMODEL_IOC_SET, &v) == 0);
	struct pollfd pfd = {fd, POLLIN, 0};
	CHECK(poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN));
	CHECK(ioctl(fd, TESTMODEL_IOC_GET, &got) == 0 && got == 42);
	char buf[64] = {0};
	CHECK(read(fd, buf, sizeof buf - 1) == 16 && strcmp(buf, "unit=0 value=42\n") == 0);
	CHECK(write(fd, "hello", 5) == 5);
	void *map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	CHECK(map != MAP_FAILED && (uintptr_t)map < (1ull << 32));
	CHECK(*static_cast<uint32_t *>(map) == 42);
	CHECK(ioctl(fd, TESTMODEL_IOC_PHYS, &phys) == 0 && phys >= 0x20000000u);
	int d = dup(fd);
	CHECK(d >= 0 && close(fd) == 0);
	CHECK(ioctl(d, TESTMODEL_IOC_GET, &got) == 0 && got == 42);
	CHECK(munmap(map, 4096) == 0);
	CHECK(close(d) == 0);

	FILE *fp = fopen("/proc/simtest/unit7", "r");
	CHECK(fp != nullptr);
	CHECK(fgets(buf, sizeof buf, fp) && strcmp(buf, "unit=7 value=0\n") == 0);
	CHECK(fclose(fp) == 0);

	int real = open(argv[1], O_RDONLY);
	CHECK(real >= 0);
	memset(buf, 0, sizeof buf);
	CHECK(read(real, buf, sizeof buf) == 5 && strcmp(buf, "real\n") == 0);
	CHECK(ioctl(real, TESTMODEL_IOC_GET, &got) < 0);
	close(real);
	puts("probe ok");
	return 0;
}

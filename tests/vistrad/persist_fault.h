#pragma once
// Makes write() or fsync() fail on the daemon's temporary ".tmp" files, the
// way a full or failing flash would. The test program's own definitions take
// the place of the C library's for every caller in the program.

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace persist_fault
{
inline int fail_write;
inline int fail_fsync;

inline bool is_temporary(int fd)
{
	char link[64];
	char target[PATH_MAX];
	snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
	ssize_t n = readlink(link, target, sizeof(target) - 1);
	if (n < 4)
		return false;
	target[n] = '\0';
	return strcmp(target + n - 4, ".tmp") == 0;
}
} // namespace persist_fault

extern "C" ssize_t write(int fd, const void *buf, size_t count)
{
	if (persist_fault::fail_write && persist_fault::is_temporary(fd)) {
		errno = ENOSPC;
		return -1;
	}
	return syscall(SYS_write, fd, buf, count);
}

extern "C" int fsync(int fd)
{
	if (persist_fault::fail_fsync && persist_fault::is_temporary(fd)) {
		errno = EIO;
		return -1;
	}
	return (int)syscall(SYS_fsync, fd);
}

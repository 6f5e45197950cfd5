/* Files of the debug and tuning-data tools. */
#include "ik_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int ik_root_path(const char *path, char *out, size_t size)
{
	const char *root = getenv("VISTRAD_ROOT");
	if (!root || !*root || path[0] != '/')
		root = "";
	int n = snprintf(out, size, "%s%s", root, path);
	return n < 0 || (size_t)n >= size ? -1 : 0;
}

int ik_dump_path(const char *dir, const char *name, char *out, size_t size)
{
	char d[512];
	if (ik_root_path(dir, d, sizeof(d)) != 0)
		return -1;
	/* An existing directory is fine; any other failure shows at the open. */
	(void)mkdir(d, 0777);
	int n = snprintf(out, size, "%s/%s", d, name);
	return n < 0 || (size_t)n >= size ? -1 : 0;
}

long ik_write_file(const char *path, const void *data, size_t size, bool sync)
{
	int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
	if (fd < 0)
		return -1;
	const char *p = (const char *)data;
	size_t done = 0;
	while (done < size) {
		ssize_t n = write(fd, p + done, size - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		done += (size_t)n;
	}
	if (sync)
		fsync(fd);
	close(fd);
	return (long)done;
}

long ik_read_file(const char *path, void *data, size_t size)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	char *p = (char *)data;
	size_t done = 0;
	while (done < size) {
		ssize_t n = read(fd, p + done, size - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		done += (size_t)n;
	}
	close(fd);
	return (long)done;
}

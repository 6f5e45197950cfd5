// Calls shared by the frame's own modules and the device models in sim/soc/.
#ifndef SIMSOC_INTERNAL_H
#define SIMSOC_INTERNAL_H

#include <sys/types.h>

// The real C library calls, for models that keep files of their own (a
// request log, a data file) without going through the interposition.
ssize_t simsoc_real_write(int fd, const void *buf, size_t len);
int simsoc_real_open(const char *path, int flags, mode_t mode);
int simsoc_real_close(int fd);

#endif

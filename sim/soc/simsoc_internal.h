// Calls shared by the frame's own modules and the device models in sim/soc/.
#ifndef SIMSOC_INTERNAL_H
#define SIMSOC_INTERNAL_H

#include <sys/types.h>

// The real C library calls, for models that keep files of their own (a
// request log, a data file) without going through the interposition.
ssize_t simsoc_real_write(int fd, const void *buf, size_t len);
int simsoc_real_open(const char *path, int flags, mode_t mode);
int simsoc_real_close(int fd);

// The memfd behind device memory at addr and the offset of addr in it, so
// the frame can map a model's memory again where a caller fixes it; -1 when
// addr is not device memory.
int simsoc_mem_backing(const void *addr, off_t *offset);

// An errno from its name ("EIO") or number; 0 when it is neither.
int simsoc_errno_from_text(const char *text);

// Called at every tick of a video input with the tick lock held, so a
// listener must not call back into the tick files' steering. At most a few.
typedef void (*simsoc_vin_tick_listener)(unsigned vin);
void simsoc_vin_add_tick_listener(simsoc_vin_tick_listener fn);
// The video of an input started or stopped: its clock runs while the video
// does, tick files or not. Call it without the video model's lock: tick
// listeners take locks that wait on the video state.
void simsoc_vin_set_video(unsigned vin, bool running);

#endif

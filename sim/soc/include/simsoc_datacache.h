/* Steering of the data-cache devices "/dev/datacache%d" (units 0 to 7, one a
 * channel; requests in devif/datacache_ioctl.h).
 *
 * Each unit holds named caches of time-stamped elements, a ring of the
 * cache's element count. A test plays the other programs on the camera: it
 * creates caches and writes elements to them as their writer would, and
 * adds readers to caches the daemon writes. Such a reader waits for the next
 * element from the moment it is added; a write hands the element to every
 * waiting reader, which then waits no longer until told again.
 *
 * Readiness of an open device file: a file that registered as a reader of a
 * cache (a find request with the words {1, depth}) is readable while it has
 * elements of such a cache that it has not read; any other file is writable
 * while a cache it selected has a waiting reader. (One eventfd carries both:
 * a file that may not write holds it at its maximum, which polls as readable
 * too; the daemon polls writers for output only.)
 *
 * Finds, creations and selections are logged ("datacache0: find distance 1
 * 256"); reads, writes and details, which come every frame, are not. */
#ifndef SIMSOC_DATACACHE_H
#define SIMSOC_DATACACHE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_DATACACHE_UNITS 8

/* The cache's id, or -1 (bad unit or name, or the name taken with another
 * element size). */
int simsoc_datacache_create(unsigned unit, const char *name, uint32_t element_size, uint32_t element_count);
/* Writes an element of the cache's size; a time stamp of {0, 0} is replaced
 * by CLOCK_MONOTONIC now. 0, or -1 without such a cache. */
int simsoc_datacache_push(unsigned unit, const char *name, const void *element, uint64_t sec, uint64_t usec);
/* One more reader, waiting; every reader waiting again; one reader less.
 * 0, or -1 without such a cache (or reader). */
int simsoc_datacache_add_reader(unsigned unit, const char *name);
int simsoc_datacache_wait(unsigned unit, const char *name);
int simsoc_datacache_remove_reader(unsigned unit, const char *name);
/* Copies up to max bytes of the latest element and its time stamp (either
 * pointer may be null); the element size, or -1 when there is none. */
int simsoc_datacache_latest(unsigned unit, const char *name, void *out, size_t max, uint64_t *sec,
                            uint64_t *usec);
/* Elements the cache holds (0 without such a cache). */
uint32_t simsoc_datacache_elements(unsigned unit, const char *name);
/* The next count requests of that code fail with -err (count < 0: until
 * cleared; err 0 clears the code; code 0 with err 0 clears every code). */
void simsoc_datacache_fail(unsigned long code, int err, int count);
/* Every cache, reader and failure forgotten; open files stay open. */
void simsoc_datacache_reset(void);

#ifdef __cplusplus
}
#endif

#endif

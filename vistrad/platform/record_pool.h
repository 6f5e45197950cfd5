#pragma once
// A pool of data records of one fixed size, for producers that post a record
// every frame: records handed out since the last recycle stay "in use", and a
// recycle makes them all free again at once. Records are not cleared on reuse.

#include <glib.h>
#include <stddef.h>

struct record_pool {
	GQueue free_records;
	GQueue in_use;
};

void *platform_pool_get(struct record_pool *pool, size_t size);
void platform_pool_recycle(struct record_pool *pool);
void platform_pool_free(struct record_pool *pool, void (*free_record)(void *record));

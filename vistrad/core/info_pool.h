#pragma once
// The info pool: typed values that modules publish per info id and stream for
// others to read. Persistent values are kept in "/etc/dynamic/vistrad/ip.db"
// and loaded again at start.

#include <stdint.h>

#include "control_job.h"

#define INFO_POOL_IDS 91
#define INFO_POOL_DB_PATH "/etc/dynamic/vistrad/ip.db"
#define INFO_POOL_DB_MAGIC 0xc3a5001au
#define INFO_POOL_DB_HEADER_SIZE 20
#define INFO_POOL_DB_RECORD_SIZE 36

enum info_pool_type {
	INFO_POOL_FLOAT = 0,
	INFO_POOL_IMFIX = 1,
	INFO_POOL_INT = 2,
	INFO_POOL_BLOB = 3,
	INFO_POOL_BOOL = 4,
	INFO_POOL_POINTER = 5,
};

// Persistence argument of the setters: 2 keeps the flag an entry has.
#define INFO_POOL_VOLATILE 0
#define INFO_POOL_PERSISTENT 1
#define INFO_POOL_KEEP 2

struct control;

struct info_pool_entry {
	uint32_t id;
	uint32_t type;
	uint32_t persistent;
	int32_t stream_id; // mapped
	uint32_t source;
	struct control_timestamp timestamp;
	union {
		float f;
		int32_t i; // Q14 and int
		uint8_t b;
		void *ptr; // blob buffer or the stored pointer
	} value;
	uint32_t blob_size;
};

int info_pool_init(void);
void info_pool_free(void);

int info_pool_set_float(uint32_t id, int32_t stream_id, uint32_t persistent, float value);
int info_pool_set_imfix(uint32_t id, int32_t stream_id, uint32_t persistent, int32_t value);
int info_pool_set_int(uint32_t id, int32_t stream_id, uint32_t persistent, int32_t value);
int info_pool_set_bool(uint32_t id, int32_t stream_id, uint32_t persistent, uint8_t value);
int info_pool_set_blob(uint32_t id, int32_t stream_id, uint32_t persistent, const void *data, uint32_t size);
int info_pool_set_pointer(uint32_t id, int32_t stream_id, uint32_t persistent, void *pointer);

// As above, recording the publisher's id and the time of the set.
int info_pool_set_float_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                             float value);
int info_pool_set_imfix_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                             int32_t value);
int info_pool_set_int_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                           int32_t value);
int info_pool_set_bool_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                            uint8_t value);
int info_pool_set_blob_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                            const void *data, uint32_t size);
int info_pool_set_pointer_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                               void *pointer);
void info_pool_entry_set_source(struct info_pool_entry *entry, uint32_t source,
                                const struct control_timestamp *timestamp);

int info_pool_get_float(uint32_t id, int32_t stream_id, float *value);
int info_pool_get_imfix(uint32_t id, int32_t stream_id, int32_t *value);
int info_pool_get_int(uint32_t id, int32_t stream_id, int32_t *value);
int info_pool_get_bool(uint32_t id, int32_t stream_id, uint8_t *value);
int info_pool_get_pointer(uint32_t id, int32_t stream_id, void **pointer);
// The blob is copied: another thread may replace the pool's buffer at any
// time, so the caller gets its own copy and frees it with g_free().
int info_pool_get_blob(uint32_t id, int32_t stream_id, void **data, uint32_t *size);

int info_pool_remove(uint32_t id, int32_t stream_id, uint32_t type);

// Writes every persistent value to ip.db by atomic replacement (removes the
// file when none is persistent); loads it back. 0 or -1.
int info_pool_write_entry(void);
int info_pool_read_entry(struct control *engine);

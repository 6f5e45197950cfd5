#pragma once
// Data caches: the devices "/dev/datacache%d" (one a channel) through which
// the daemon shares small time-stamped records with other programs. A
// data-cache object writes caches and learns, as a type-172 record of its
// writer source, when a reader waits for one; the input sources read caches
// that others write and turn their elements into records (133, 134) or
// info-pool values. Wrappers give -1 for a missing object or slot.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stdint.h>

#include "core/control_job.h"
#include "input_source.h"
#include "record_pool.h"

struct platform;
struct prodconf;
struct control;

#define DATACACHE_DATA_WRITABLE 172
#define DATACACHE_DATA_DISTANCE 133
#define DATACACHE_DATA_MOTOR_OPTICS 134
#define DATACACHE_ELEMENT_SIZE 24

struct datacache {
	int32_t stream_id;
	struct platform *platform;
	int fd;
	char *path; // handed to the writer source
	void (*destroy)(struct datacache *cache);
	int (*setup)(struct datacache *cache, int32_t stream_id);
	int (*create_cache)(struct datacache *cache, const char *name, uint32_t element_size,
	                    uint32_t element_count);
	int (*find_cache)(struct datacache *cache, const char *name);
	int (*read)(struct datacache *cache, int32_t cache_id, int mode, struct control_timestamp *timestamp,
	            void *buffer);
	int (*write)(struct datacache *cache, int32_t cache_id, const struct control_timestamp *timestamp,
	             const void *data);
	int (*get_cache_info)(struct datacache *cache, int32_t cache_id, uint32_t info[2]);
	int (*set_select)(struct datacache *cache, int32_t cache_id, int flag);
};

// The writer source "dc_writer%d" (full stream id): posts its own record when
// the device is ready for writing.
struct datacache_writer {
	struct input_source source;
	struct datacache *cache;
	struct control_job record;
};

// A source reading one cache that another program writes.
struct datacache_input {
	struct input_source source;
	int32_t stream_id;
	int32_t cache_id;
	int32_t reader_mode; // 2: every element in turn; 1: the latest
	struct record_pool pool;
	uint32_t errors; // failed reads in a row
};

// Data types 133 and 134: an element of "distance" or "motoroptics".
struct datacache_record {
	struct control_job header;
	uint8_t element[DATACACHE_ELEMENT_SIZE];
};

static_assert(sizeof(datacache_record) == 88, "a data-cache record is 88 bytes");

struct datacache *datacache_new(void);
void datacache_destroy(struct datacache *cache);
void datacache_add_platform(struct datacache *cache, struct platform *platform);

// -255, or -4 when the device cannot be opened.
extern "C" int datacache_setup(struct datacache *cache, int32_t stream_id);
// The cache's id, or negative.
extern "C" int datacache_create_cache(struct datacache *cache, const char *name, uint32_t element_size,
                                      uint32_t element_count);
int datacache_find_cache(struct datacache *cache, const char *name);
// Mode 1 reads the latest element, mode 2 the one of the given time stamp
// (which comes back with the element): -255 or -1.
int datacache_read(struct datacache *cache, int32_t cache_id, int mode, struct control_timestamp *timestamp,
                   void *buffer);
// The readers that took the element (0: none left), or -4. A null time
// stamp lets the device stamp it.
extern "C" int datacache_write(struct datacache *cache, int32_t cache_id,
                               const struct control_timestamp *timestamp, const void *data);
// -255 with {waiting readers, elements held}; -4 when the request fails or
// the cache has no reader.
int datacache_get_cache_info(struct datacache *cache, int32_t cache_id, uint32_t info[2]);
// Flag 1: the writer source posts while a reader waits for the cache.
int datacache_set_select(struct datacache *cache, int32_t cache_id, int flag);

// Module creators of the registry (categories 17 and 18).
void *datacache_general(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_optics_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_distance_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_move_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_sensor_data_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);

// Opens the channel's device and registers as a reader of the named cache;
// reader flag 1 reads every element in turn. Null on failure.
struct input_source *datacache_input_source_new(struct platform *platform, const char *name, int channel,
                                                int32_t stream_id, input_source_read_fn read,
                                                int reader_flag);

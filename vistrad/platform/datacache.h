#pragma once
// Data-cache object. Only what the platform's device list touches is here yet.

#include <stdint.h>

struct platform;

struct datacache {
	int32_t stream_id;
	struct platform *platform;
	int fd;
	char *path;
	void (*destroy)(struct datacache *cache);
};

struct datacache *datacache_new(void);
void datacache_destroy(struct datacache *cache);
void datacache_add_platform(struct datacache *cache, struct platform *platform);

struct prodconf;
struct control;
// -255 once set up; -1 without a set-up operation (none exists yet).
int datacache_setup(struct datacache *cache, int32_t stream_id);
// Module creators of the registry; they make nothing yet.
void *datacache_general(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_optics_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_distance_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_move_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *datacache_sensor_data_input_source(struct prodconf *conf, struct control *engine, int32_t stream_id);

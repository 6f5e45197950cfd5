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

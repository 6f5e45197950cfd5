#pragma once
// Camera-block (lens block) object. Only what the platform uses is here yet.

#include <stdint.h>

struct platform;

struct camblock {
    uint32_t type;
    int32_t stream_id;
    struct platform *platform;
    void (*destroy)(struct camblock *block);
};

struct camblock *camblock_new(void);
void camblock_add_platform(struct camblock *block, struct platform *platform);
void camblock_destroy(struct camblock *block);

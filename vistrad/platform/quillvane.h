#pragma once
// Status-cache publisher. Only what the platform's device list touches is here yet.

#include <stdint.h>

struct platform;

struct quillvane {
    uint32_t type;
    int32_t stream_id;
    struct platform *platform;
    void (*destroy)(struct quillvane *publisher);
};

void quillvane_add_platform(struct quillvane *publisher, struct platform *platform);
void quillvane_destroy(struct quillvane *publisher);

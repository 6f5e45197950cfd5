#pragma once
// Iris object. Only the leading fields and the life cycle that the platform
// uses are here yet; the iris implementations complete the record.

#include <stdint.h>

struct platform;

struct iris {
    uint32_t type;
    struct platform *platform;
    void *owner;
    int (*hooks[2])(struct iris *iris);
    int32_t device; // -1 until opened
    void (*destroy)(struct iris *iris);
};

struct iris *iris_new(void);
void iris_add_platform(struct iris *iris, struct platform *platform);
void iris_destroy(struct iris *iris);
void iris_destroy_orig(struct iris *iris);

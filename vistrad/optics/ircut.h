#pragma once
// IR-cut filter object. Only the fields and life cycle that the platform uses
// are here yet; the IR-cut modules complete it.

#include <stdint.h>

struct platform;

struct ircut {
    uint32_t type;
    struct platform *platform;
    void *owner;
    uint8_t state;
    int (*set)(struct ircut *ircut, int day);
    void (*destroy)(struct ircut *ircut);
    void *priv;
};

struct ircut *ircut_new(void);
void ircut_set_platform(struct ircut *ircut, struct platform *platform);
void ircut_destroy(struct ircut *ircut);

#pragma once
// Stabilizer object: an interface that an outside module of category 12 fills.

struct platform;

struct stabilizer {
    struct platform *platform;
    void *word;
    void (*destroy)(struct stabilizer *stabilizer);
};

struct stabilizer *stabilizer_new(void);
void stabilizer_destroy(struct stabilizer *stabilizer);

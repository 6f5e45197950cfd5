#pragma once
// Focus and zoom units. Only what the platform uses is here yet.

#include <stdint.h>

struct platform;

struct focus {
	uint32_t type;
	struct platform *platform;
};

struct zoom {
	uint32_t type;
	struct platform *platform;
	void (*destroy)(struct zoom *zoom);
};

struct focus *focus_new(void);
struct zoom *zoom_new(void);
void focus_add_platform(struct focus *focus, struct platform *platform);
void zoom_add_platform(struct zoom *zoom, struct platform *platform);
void focus_destroy(struct focus *focus);
void zoom_destroy(struct zoom *zoom);

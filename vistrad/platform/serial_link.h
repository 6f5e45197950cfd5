#pragma once
// Serial-link object, made by the outside serial-link library; its layout is
// the interface between the two.

#include <stdint.h>

struct platform;

struct serial_link {
	void *first;
	struct platform *platform; // offset 8
	void *words[3];
	void (*destroy)(struct serial_link *link, int32_t stream_id); // offset 40
};

static_assert(__builtin_offsetof(serial_link, destroy) == 40, "library layout");

void serial_link_destroy(struct serial_link *link, int32_t stream_id);

struct prodconf_area;
// Told around a capture-mode change; without the library's operations the
// first two give -1.
int serial_link_prepare_capture_mode(struct serial_link *link, int32_t stream_id);
int serial_link_end_capture_mode(struct serial_link *link, struct prodconf_area *area, int32_t stream_id);
void serial_link_capture_mode_applied(struct serial_link *link, int32_t stream_id);

// Moves the link's IR-cut filter (day 1, night 0). Without the library's
// operation: -1.
int serial_link_set_ircut(struct serial_link *link, int channel, int day);

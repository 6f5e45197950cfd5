#pragma once
// Serial link (serializer and deserializer pair) in front of a sensor. A
// separately built library makes the objects; their layout is the interface
// between it and the daemon (64-bit pointers), so every offset is fixed.
// Wrappers give -1 when the object or the slot is missing.

#include <stddef.h>
#include <stdint.h>

struct platform;
struct prodconf_area;
struct control;

struct serial_link {
	void *first;
	struct platform *platform; // set by platform_add_serial_link
	void *words[3];
	void (*destroy)(struct serial_link *link, int32_t stream_id);
	int (*op2)(struct serial_link *link, intptr_t a);
	int (*op3)(struct serial_link *link, intptr_t a, intptr_t b);
	int (*prepare_capture_mode)(struct serial_link *link, int32_t stream_id);
	int (*end_capture_mode)(struct serial_link *link, struct prodconf_area *area, int32_t stream_id);
	int (*capture_mode_applied)(struct serial_link *link, int32_t stream_id);
	int (*op7)(struct serial_link *link, intptr_t a);
	int (*op8)(struct serial_link *link, intptr_t a, intptr_t b, intptr_t c);
	int (*op9)(struct serial_link *link, intptr_t a, intptr_t b);
	int (*op10)(struct serial_link *link, intptr_t a);
	int (*op11)(struct serial_link *link, intptr_t a, intptr_t b);
	int (*set_ircut)(struct serial_link *link, int channel, uint8_t state);
	void *spare;
	int (*op13)(struct serial_link *link, intptr_t a, intptr_t b);
};

static_assert(offsetof(serial_link, platform) == 8, "serial-link library layout");
static_assert(offsetof(serial_link, destroy) == 40, "serial-link library layout");
static_assert(offsetof(serial_link, op2) == 48, "serial-link library layout");
static_assert(offsetof(serial_link, op3) == 56, "serial-link library layout");
static_assert(offsetof(serial_link, prepare_capture_mode) == 64, "serial-link library layout");
static_assert(offsetof(serial_link, end_capture_mode) == 72, "serial-link library layout");
static_assert(offsetof(serial_link, capture_mode_applied) == 80, "serial-link library layout");
static_assert(offsetof(serial_link, op7) == 88, "serial-link library layout");
static_assert(offsetof(serial_link, op8) == 96, "serial-link library layout");
static_assert(offsetof(serial_link, op9) == 104, "serial-link library layout");
static_assert(offsetof(serial_link, op10) == 112, "serial-link library layout");
static_assert(offsetof(serial_link, op11) == 120, "serial-link library layout");
static_assert(offsetof(serial_link, set_ircut) == 128, "serial-link library layout");
static_assert(offsetof(serial_link, spare) == 136, "serial-link library layout");
static_assert(offsetof(serial_link, op13) == 144, "serial-link library layout");

// The library's entry: makes a link for a stream.
#define SERIAL_LINK_CREATE_SYMBOL "lib_serial_link_create"
typedef struct serial_link *(*serial_link_create_fn)(int32_t stream_id);

// Loads the library once per process (the first name, else the second) and
// counts the users: every successful open returns the handle and must be
// matched by one close; the last close unloads it. Null when neither loads.
void *serial_link_open_dynamic_lib(const char *first, const char *second);
void serial_link_close_dynamic_lib(void *handle);
// Makes the stream's link through the library and hands it to the platform:
// 0, or -1 (the library reference is then closed).
int serial_link_create(void *handle, struct control *engine, int32_t stream_id);
// Runs the destroy slot with the stream id, then frees the object.
void serial_link_destroy(struct serial_link *link, int32_t stream_id);

// Around a capture-mode change: prepare before the sensor's operations, end
// with the channel's area record after them, applied once the video input is
// synchronised.
int serial_link_prepare_capture_mode(struct serial_link *link, int32_t stream_id);
int serial_link_end_capture_mode(struct serial_link *link, struct prodconf_area *area, int32_t stream_id);
int serial_link_capture_mode_applied(struct serial_link *link, int32_t stream_id);
// Moves the IR-cut filter behind the link: state 1 day, 0 night.
int serial_link_set_ircut(struct serial_link *link, int channel, uint8_t state);

// The library's own operations; nothing in the daemon calls them.
int serial_link_op2(struct serial_link *link, intptr_t a);
int serial_link_op3(struct serial_link *link, intptr_t a, intptr_t b);
int serial_link_op7(struct serial_link *link, intptr_t a);
int serial_link_op8(struct serial_link *link, intptr_t a, intptr_t b, intptr_t c);
int serial_link_op9(struct serial_link *link, intptr_t a, intptr_t b);
int serial_link_op10(struct serial_link *link, intptr_t a);
int serial_link_op11(struct serial_link *link, intptr_t a, intptr_t b);
int serial_link_op13(struct serial_link *link, intptr_t a, intptr_t b);

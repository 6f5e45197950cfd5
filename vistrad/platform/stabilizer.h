#pragma once
// Image stabilizer: an interface that an outside module of category 12 fills.
// The daemon tells it the sensor's exposure delay and the frame geometry after
// every capture-mode change, and the D-Bus front-end pauses and resumes it.
// Wrappers give -1 when the object or the slot is missing.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct platform;
struct prodconf;

struct stabilizer {
	struct platform *platform; // set by platform_add_stabilizer
	void *word;
	void (*destroy)(struct stabilizer *stabilizer);
	int (*op2)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*set_pause)(struct stabilizer *stabilizer, int32_t stream_id, int pause);
	int (*op4)(struct stabilizer *stabilizer, intptr_t a);
	int (*set_frame_geometry)(struct stabilizer *stabilizer, int channel, int32_t width, int32_t height,
	                          int32_t line_time);
	int (*op6)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*op7)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*op8)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*set_exposure_delay)(struct stabilizer *stabilizer, int channel, int32_t delay);
	int (*op10)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*op11)(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
	int (*op12)(struct stabilizer *stabilizer, intptr_t a, intptr_t b, intptr_t c);
	int (*op13)(struct stabilizer *stabilizer, intptr_t a, uint8_t b);
};

struct stabilizer *stabilizer_new(void);
// Runs the destroy slot, clears the platform word and frees the object.
void stabilizer_destroy(struct stabilizer *stabilizer);

extern "C" int stabilizer_set_pause(struct stabilizer *stabilizer, int32_t stream_id, int pause);
// Width and height: the sensor window's x1 + 1 and y1 + 1; line time in Q14.
int stabilizer_set_frame_geometry(struct stabilizer *stabilizer, int channel, int32_t width, int32_t height,
                                  int32_t line_time);
// Reads the channel's sensor_exposure_delay item (for the channel's stream id,
// channel << 8) and hands its exposure_delay to the stabilizer; -1 when the
// item cannot be read.
int stabilizer_set_exposure_delay(struct stabilizer *stabilizer, int channel, struct prodconf *conf);
int stabilizer_set_exposure_delay_value(struct stabilizer *stabilizer, int channel, int32_t delay);

// The module's own operations; nothing in the daemon calls them.
int stabilizer_op2(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op4(struct stabilizer *stabilizer, intptr_t a);
int stabilizer_op6(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op7(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op8(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op10(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op11(struct stabilizer *stabilizer, intptr_t a, intptr_t b);
int stabilizer_op12(struct stabilizer *stabilizer, intptr_t a, intptr_t b, intptr_t c);
int stabilizer_op13(struct stabilizer *stabilizer, intptr_t a, uint8_t b);

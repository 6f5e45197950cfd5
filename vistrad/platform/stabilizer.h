#pragma once
// Stabilizer object: an interface that an outside module of category 12 fills.

#include <stdint.h>

struct platform;
struct prodconf;

struct stabilizer {
	struct platform *platform;
	void *word;
	void (*destroy)(struct stabilizer *stabilizer);
};

struct stabilizer *stabilizer_new(void);
void stabilizer_destroy(struct stabilizer *stabilizer);

// Told after every capture-mode application; nothing takes them yet.
int stabilizer_set_exposure_delay(struct stabilizer *stabilizer, int channel, struct prodconf *conf); // -1
// Pauses (non-zero) or resumes the stabilizer of a stream; -1 without the
// operation.
int stabilizer_set_pause(struct stabilizer *stabilizer, int32_t stream_id, int pause); // -1
void stabilizer_set_frame_geometry(struct stabilizer *stabilizer, int channel, int32_t width, int32_t height,
                                   int32_t line_time);

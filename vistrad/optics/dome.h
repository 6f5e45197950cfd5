#pragma once
// Dome compensation: a transparent dome in front of the lens is a weak
// diverging lens, so the lens sees an object at another distance than it
// is. The object keeps the dome's optical power; while enabled, the lens
// controller holds it as a distance index (register 0x306) and the block's
// distance conversions add or remove it.

#include <stdint.h>

struct camblock;

// Dome types of the lens models' settings. 2 and 5 have no name.
enum {
	DOME_NONE = 0,
	DOME_QUORVAL = 1,
	DOME_MIRASK = 3,
	DOME_MIRASKOR = 4,
	DOME_TOLVESK = 6,
	DOME_NARBU = 7,
};

struct dome {
	struct camblock *owner;
	uint8_t enabled;
	int32_t stored[2]; // kept by the store slot
	int32_t power;     // Q14 dioptres, positive
	int32_t index;     // the power as a distance index, 0 while disabled
	void (*destroy)(struct dome *dome);
	int (*set_enabled)(struct dome *dome, int on);
	int32_t (*identity)(struct dome *dome, int32_t value);
	int (*store)(struct dome *dome, int32_t a, int32_t b);
	int32_t (*add_power)(struct dome *dome, int32_t zoom, int32_t value);
	int32_t (*remove_power)(struct dome *dome, int32_t zoom, int32_t dioptres);
};

struct dome *dome_new(void);
// Runs the destroy slot when set, then frees the dome. The lens block that
// owns the dome calls it when it goes.
void dome_destroy(struct dome *dome);
void dome_set_owner(struct dome *dome, struct camblock *owner);
// The slot's result; -3 without a dome or slot.
int dome_set_enabled(struct dome *dome, int on);
// The value unchanged without a dome, while disabled, or without the slot.
int32_t dome_add_power(struct dome *dome, int32_t zoom, int32_t value);
int32_t dome_remove_power(struct dome *dome, int32_t zoom, int32_t dioptres);
int32_t dome_identity(struct dome *dome, int32_t value);
// -3 without a dome or slot.
int dome_store(struct dome *dome, int32_t a, int32_t b);
// Power and index while enabled, else 0.
int32_t dome_get_power(struct dome *dome);
int32_t dome_get_index(struct dome *dome);

// Optical power in Q14 dioptres of a shell with outer radius r1, inner
// radius r2 and thickness d (Q14 millimetres) and refractive index n (Q14),
// by the thick-lens equation; negative for a dome, 0 for n = 1.0.
int32_t dome_optical_power(int32_t r1, int32_t r2, int32_t d, int32_t n);

// One create function per dome geometry; disabled, no owner yet.
struct dome *dome_quorval_create(void);
struct dome *dome_type2_create(void);
struct dome *dome_mirask_create(void);
struct dome *dome_miraskor_create(void);
struct dome *dome_type5_create(void);
struct dome *dome_narbu_create(void);
// The type-2 dome corrected on the lens itself: its power moved by margin
// focus steps behind infinity at the tele end of the block's zoom.
struct dome *dome_tolvesk_create(struct camblock *block, int32_t margin);

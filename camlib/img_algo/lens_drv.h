/* Lens-driver tables of the 3A library's service mode: 26 operations that
 * its lens and frame loops call, a no-lens table whose operations fail and
 * a P-iris table that drives the iris through the lens device. */
#ifndef CAMLIB_IMG_ALGO_LENS_DRV_H
#define CAMLIB_IMG_ALGO_LENS_DRV_H

#include <stddef.h>
#include <stdint.h>

#define LENS_TYPE_NONE 0
#define LENS_TYPE_PIRIS 2

/* What the P-iris table load takes: {minimum, maximum} of the iris
 * exposure table's 16.16 values, and count positions. */
typedef struct lens_piris_param {
	const uint32_t *range;
	const uint16_t *table;
	uint32_t count;
} lens_piris_param;

/* A null slot is not called. */
typedef struct img_lens_driver {
	int (*unused0)(void);
	int (*unused1)(void);
	int (*init)(const void *lens);
	int (*unused3)(void);
	int (*unused4)(void);
	/* The lens loop's moves: the speed word and the step count. */
	int (*focus_neg)(int32_t speed, uint32_t steps);
	int (*focus_pos)(int32_t speed, uint32_t steps);
	int (*zoom_neg)(int32_t speed, uint32_t steps);
	int (*zoom_pos)(int32_t speed, uint32_t steps);
	int (*unused9)(void);
	int (*set_iris)(uint32_t exposure_index);
	int (*unused11)(void);
	void (*notify12)(void);
	void (*notify13)(void);
	int (*idle)(int idle);
	int (*focus_state)(uint32_t *moving);
	int (*zoom_state)(uint32_t *moving);
	int (*calibration_check)(uint32_t flags);
	int (*load_iris_table)(const lens_piris_param *param);
	int (*get_iris_state)(uint32_t *state);
	void *reserved[5];
	int (*deinit)(void);
} img_lens_driver;

#ifdef __cplusplus
static_assert(sizeof(img_lens_driver) == 208, "26 slots");
static_assert(offsetof(img_lens_driver, set_iris) == 10 * sizeof(void *), "slot 10");
static_assert(offsetof(img_lens_driver, get_iris_state) == 19 * sizeof(void *), "slot 19");
static_assert(offsetof(img_lens_driver, deinit) == 25 * sizeof(void *), "slot 25");
#endif

extern const img_lens_driver lens_drv_no_lens;
extern const img_lens_driver lens_drv_piris;

/* Makes the table of that lens type the library's active one; -1 for a
 * type without a table. */
int img_lens_select_driver(int type);
/* The active table. */
const img_lens_driver *img_lens_active_driver(void);

/* The P-iris operations. set_pos answers the position it sent. */
int lens_piris_init(const void *lens);
int lens_piris_load_table(const lens_piris_param *param);
int lens_piris_set_pos(uint32_t exposure_index);
int lens_piris_get_state(uint32_t *state);
int lens_piris_calibration_check(uint32_t flags);
int lens_piris_deinit(void);

/* How the P-iris waits (microseconds); NULL restores usleep. */
void lens_piris_set_sleep(void (*sleep_us)(unsigned us));

#endif

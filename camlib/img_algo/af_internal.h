/* What the focus modules share inside the library: an instance's search
 * state, the module's calibration and limits, and the helpers between the
 * measurement and the modes. */
#ifndef CAMLIB_IMG_ALGO_AF_INTERNAL_H
#define CAMLIB_IMG_ALGO_AF_INTERNAL_H

#include "af.h"

#include <stdint.h>

#define AF_RING 128
#define AF_LEN_SEARCH 48
#define AF_LEN_SETTLED 64
#define AF_CAL_WORDS (AF_CALIBRATION_SIZE / 4)

/* The words of a history entry. */
enum {
	AF_E_VALID,
	AF_E_FV1_ENERGY,
	AF_E_FV2_ENERGY,
	AF_E_PAD3,
	AF_E_LUMA_MEAN,
	AF_E_LUMA_CHANGE,
	AF_E_FV1_MEAN,
	AF_E_FV2_MEAN,
	AF_E_PAD8,
	AF_E_FV1_CHANGE,
	AF_E_FV2_CHANGE,
	AF_E_PAD11,
	AF_E_WORDS
};

/* States of the search. */
enum {
	AF_ST_MANUAL = 0,
	AF_ST_FIRST = 10,
	AF_ST_CLEAR = 11,
	AF_ST_COARSE = 12,
	AF_ST_RESTART = 13,
	AF_ST_FINE = 14,
	AF_ST_SETTLE = 15,
	AF_ST_WATCH = 16,
	AF_ST_WAIT = 17,
	AF_ST_TRACK = 18,
	AF_ST_SINGLE_START = 30,
	AF_ST_SINGLE_COARSE = 31,
	AF_ST_SINGLE_FINE_SETUP = 32,
	AF_ST_SINGLE_FINE = 33,
	AF_ST_SINGLE_END = 34,
	AF_ST_FAILED = 36,
	AF_ST_LOCKED = 37,
	AF_ST_SINGLE_WAIT = 38,
	AF_ST_CAL_START = 61,
	AF_ST_CAL_SWEEP = 62,
	AF_ST_CAL_DONE = 63,
};

/* One instance's search; each instance has its own, so that channels do
 * not search on one another's values. */
struct af_state {
	const af_lens_params *lens;
	const af_focus_row *focus;
	int32_t state;
	int32_t ret_state;
	int32_t wait;
	int32_t clear_after_wait;
	int32_t dir;
	int32_t cur;
	int32_t target;
	float z, p;
	int16_t speed;
	int32_t step;
	int32_t travel;
	int32_t range;
	int32_t latest, previous; /* reversal positions */
	int32_t reversals;
	int32_t hit_up, hit_low;
	int32_t peak_found;
	int32_t bracket;
	int32_t frame_cnt, budget;
	int32_t noticed;
	uint32_t reference;
	int32_t first;
	uint32_t prev_gain16;
	uint32_t prev_mode;
	int32_t sweep_pos;
	int32_t cal_low, cal_high; /* reversals of the calibration sweep */
	uint16_t prev_luma[AF_USED_TILES], prev_fv1[AF_USED_TILES], prev_fv2[AF_USED_TILES];
	uint32_t weight[AF_USED_TILES];
	uint32_t ring[AF_RING][AF_E_WORDS];
	int32_t ring_index[AF_RING];
	int32_t len;
	int32_t widx;
	uint32_t frames;
	uint32_t fv1_max, fv1_min, fv2_max, fv2_min;
	int32_t peak;
	/* this frame's */
	uint32_t agc;
	uint32_t fv2_energy;
	uint32_t luma_pct, fv1_pct;
	uint32_t scene_change;
	int32_t gain_delta;
};

/* The module's calibration: the 536-byte table and the sweep settings that
 * follow it. */
typedef struct af_calibration {
	int32_t word[AF_CAL_WORDS];
	int8_t dir, prev_dir;
	uint8_t print_pending;
	int8_t sweep_wait;
	int8_t sweep_step;
	int32_t run; /* r */
} af_calibration;

extern af_calibration af_cal;
extern int32_t af_upper_limit, af_lower_limit;

int32_t af_restart_point(void);
const af_lens_row *af_row(const af_state *s, uint32_t zoom);
void af_clear_history(af_state *s);
/* The mode's frame after the measurement. */
int af_run_mode(af_instance *af, af_config *cfg, af_output *out);
int32_t af_focus_speed(const af_state *s);

#endif

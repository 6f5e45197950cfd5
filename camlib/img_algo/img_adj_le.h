/* The adaptive local-exposure curve: the local-exposure block's gain curve
 * built from each frame's histogram, lifting the dark parts the more the
 * darker the scene and the stronger the setting. The service mode runs it;
 * the channel configuration resets it. No locks. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_LE_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_LE_H

#include "aaa_parser.h"
#include "img_dsp_raw.h"

#include <stdint.h>

#define IMG_ADJ_LE_CURVE_SIZE 256
/* Frames an update waits after replacing the curve. */
#define IMG_ADJ_LE_HOLD 4

/* The curve b + a x 2^(-k |i - c| / 256). */
typedef struct img_adj_le_params {
	uint16_t c; /* centre */
	uint16_t b; /* offset */
	uint16_t a; /* amplitude */
	uint16_t k; /* decay */
} img_adj_le_params;

/* Every channel: off, c 0, b 8, strength 64, histogram total to be
 * computed again. */
int img_adj_le_init(void);
/* A value a channel for the channels of the mask; -1 for NULL. */
int img_adj_le_set_enable(const uint32_t *enable, uint32_t mask);
int img_adj_le_get_enable(uint32_t *out);
int img_adj_le_set_strength(const uint32_t *strength, uint32_t mask);
int img_adj_le_get_strength(uint32_t *out);

/* One frame of the channel from its parse result: 1 when the block's curve
 * was replaced, 0 otherwise, -1 for NULL or a channel outside 0..3. */
int img_adj_le_update(img_dsp_local_exposure *block, const aaa_parse_result *stats, int32_t chan);
/* Replaces the curve when some entry of the new one differs by more than 2:
 * 1, else 0 (also for NULL). */
int img_adj_le_curve(const img_adj_le_params *params, uint16_t *curve);
/* The parameters the channel's last update stored; -1 outside 0..3. */
int img_adj_le_get_params(int32_t chan, img_adj_le_params *out);

/* Tests only: everything back to its state at load, hold and amplitude
 * included (the initialisation keeps them). */
void img_adj_le_reset(void);

#endif

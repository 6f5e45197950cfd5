/* The filter transmitters: each sends a filter's translated block to where
 * it takes effect (an image-kernel setter, the HDR module, the 3A core's
 * HDR ratio limits or boost table, the AE or AWB module), only when it
 * differs from the copy last sent for the channel or the filter's force
 * send is set. The channel is the mode record's context id. No locks: they
 * run inside the filter passes. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_TRANSMIT_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_TRANSMIT_H

#include "img_adj_settings.h"
#include "img_hdr_params.h"
#include "img_work.h"

#include <stdint.h>

/* One transmitter a filter id. Each returns its target's result (0 when
 * nothing was sent; the HDR filters 25 to 34 -1 for an unchanged block), or
 * -1 for a NULL state, block or mode record, a zero descriptor, a channel
 * outside the pipeline's or a state of another filter. */
extern const img_adj_transmitter img_adj_transmitters[IMG_ADJ_FILTER_NUM];

/* The tone curve last sent for channel 0 (1536 bytes); -1 for NULL. */
int img_adj_get_sent_tone_curve(void *out);

/* The targets outside the image kernel, as the transmitters reach them. */
typedef struct img_adj_transmit_targets {
	int (*ae_target)(const uint16_t *targets, int chan);
	int (*awb_warmth)(const uint8_t *block, int chan);
	int (*hdr_black_level)(const int16_t *levels, int chan);
	int (*hdr_alpha)(const uint32_t *v, int chan);
	int (*hdr_anti_flicker)(const uint32_t *v, int chan);
	int (*hdr_threshold)(const uint32_t *v, int chan);
	int (*hdr_shutter_ratio)(const img_hdr_blend_config *cfg, int chan);
	int (*ratio_limits_get)(int chan, img_ratio_limits *out);
	int (*ratio_limits_set)(int chan, const img_ratio_limits *limits);
	int (*boost_table_set)(int chan, const uint8_t *table);
	int (*hdr_lut_mix)(const uint32_t *v, int chan);
	int (*hdr_1st_strength)(const uint32_t *v, int chan);
	int (*hdr_2nd_strength)(const uint32_t *v, int chan);
	int (*hdr_boost_strength)(const uint32_t *v, int chan);
	int (*ce_log_enable)(int chan);
	int (*ce_log_config)(uint64_t *out, int chan);
	float (*strength_factor)(int chan);
	float (*exp_expand)(float x, int bits, float a);
} img_adj_transmit_targets;

/* Tests only: other targets (NULL restores the modules' own), and the sent
 * copies, group flags and last internal blocks back to zero. */
void img_adj_set_transmit_targets(const img_adj_transmit_targets *targets);
void img_adj_transmit_reset(void);

#endif

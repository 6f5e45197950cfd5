/* User-level image settings of the filter pipeline, one record a channel;
 * filter 9's colour-correction blending; the dispatchers to the filters'
 * translaters and transmitters; the pre-configuration; the tone rules of
 * filters 10 and 11 and the service mode's automatic tone curves.
 * Setters by mask take an array indexed by channel and touch the channels
 * whose bit is set. No locks: the camera library serialises its calls. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_SETTINGS_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_SETTINGS_H

#include "img_adj_filter.h"
#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

#define IMG_ADJ_SHARPNESS_VALUES 12
#define IMG_ADJ_NF_VALUES 4
#define IMG_ADJ_LEVELS 15
#define IMG_ADJ_CONTRAST_NEUTRAL 64
#define IMG_ADJ_CURVE_POINTS 256
#define IMG_ADJ_CURVE_MAX 1023

typedef struct img_adj_settings {
	uint32_t color_matrix; /* RGB-to-YUV matrix of filter 11: 0, 1 or 3 */
	int32_t brightness;
	uint32_t contrast;   /* 0..128, 64 neutral */
	uint32_t saturation; /* 64 = 1.0 */
	int32_t hue;         /* steps of 2 degrees */
	int32_t luma_offset;
	uint32_t nf_values[IMG_ADJ_NF_VALUES];        /* 64 = 1.0 */
	uint32_t sharpness[IMG_ADJ_SHARPNESS_VALUES]; /* 64 = 1.0, value 2: 16 */
	uint8_t bw_mode;
	uint8_t wb_ratio1; /* red warmth, 128 = 1.0 */
	uint8_t wb_ratio2; /* blue warmth */
	uint8_t auto_tone;
	float auto_tone_alpha;
	uint8_t nr_bypass;
	uint8_t nf_level;
	uint8_t sharpness_level;
	uint8_t reserved;
} img_adj_settings;

#define IMG_ADJ_LE_BLOCK_SIZE 518

typedef struct img_adj_pre_config {
	img_dsp_tone_curve tone_curve;
	img_dsp_rgb_to_yuv_matrix rgb2yuv;
	uint8_t local_exposure[IMG_ADJ_LE_BLOCK_SIZE];
} img_adj_pre_config;

#ifdef __cplusplus
static_assert(sizeof(img_adj_settings) == 100, "settings record");
static_assert(offsetof(img_adj_settings, bw_mode) == 88, "black-and-white at 88");
static_assert(offsetof(img_adj_settings, auto_tone_alpha) == 92, "alpha at 92");
static_assert(sizeof(img_adj_pre_config) == 2078, "pre-configuration block");
static_assert(offsetof(img_adj_pre_config, local_exposure) == 1560, "local exposure at 1560");
#endif

/* Copies channel 0's record to the other channels and resets their
 * colour-correction state. */
int img_adj_init_settings(void);
int img_adj_set_color_matrix(const uint32_t *v, uint32_t mask);
int img_adj_set_brightness(const int32_t *v, uint32_t mask);
int img_adj_set_contrast(const uint32_t *v, uint32_t mask);
int img_adj_set_saturation(const int32_t *v, uint32_t mask);
int img_adj_set_hue(const int32_t *v, uint32_t mask);
/* Brightness, contrast, saturation, hue: four words a channel. */
int img_adj_get_bcsh(uint32_t *out);
/* Levels 0 to 14 copy their preset; another level fails at that channel,
 * the channels before it keep their new values. */
int img_adj_set_sharpness_level(const int32_t *levels, uint32_t mask);
int img_adj_set_sharpness_values(const uint32_t *values, uint32_t mask);
int img_adj_set_nf_level(const int32_t *levels, uint32_t mask);
int img_adj_set_nf_values(const uint32_t *values, uint32_t mask);
int img_adj_set_bw_mode(const uint32_t *v, uint32_t mask);
int img_adj_set_wb_ratio(const uint8_t *ratio1, const uint8_t *ratio2, uint32_t mask);
int img_adj_get_wb_ratio(uint8_t *ratio1, uint8_t *ratio2);
int img_adj_set_auto_tone(const uint8_t *v, uint32_t mask);
int img_adj_get_auto_tone(uint32_t *out);
int img_adj_set_auto_tone_alpha(const float *v, uint32_t mask);
int img_adj_get_auto_tone_alpha(float *out);
/* Every channel, no mask. */
int img_adj_set_nr_bypass(const uint32_t *v);
int img_adj_set_service_flag(const uint32_t *v, uint32_t mask);
int img_adj_get_service_flag(uint32_t *out);
int img_adj_get_settings(img_adj_settings *out);
int img_adj_set_max_chroma_radius(const uint32_t *radius);
uint32_t img_adj_get_max_chroma_radius(void);
/* The record the translaters read; NULL outside 0..3. */
const img_adj_settings *img_adj_channel_settings(int chan);

/* A 2078-byte block that the first pass of the first channel uses. */
int img_adj_set_pre_config(const void *block);
uint8_t img_adj_pre_config_flag(void);
void img_adj_clear_pre_config_flag(void);
const img_adj_pre_config *img_adj_get_pre_config(void);

/* Makes every channel's next colour-correction step blend again. */
void img_adj_set_update_flags(void);
/* Filter 9's step: blends T4 from the tables of cc by the red gain and the
 * exposure value and points the block at the table to send. 1 when nothing
 * moved. */
int img_adj_cc_step(filter_state *state, const filter_container *container, const filter_container *cc,
                    const uint32_t wb[3], int32_t ev, void *block, int32_t chan);
/* out = (a * pre_wgt + b * next_wgt) >> 16 value by value. */
int img_adj_cc_weighted_blend(void *out, const void *a, const void *b, uint32_t pre_wgt, uint32_t next_wgt);
/* The RGB-IR fractional correction filter 9's transmitter sends. */
uint32_t img_adj_rgb_ir_correction(int chan);

typedef int (*img_adj_translater)(filter_state *state, void *block, int32_t chan, void *unused);
typedef int (*img_adj_transmitter)(filter_state *state, void *block, int32_t fd, img_dsp_mode *mode);

/* The filter's translater by the state's id: 0, or -1 when it failed. */
int img_adj_translate(filter_state *state, void *block, int32_t chan, void *unused);
/* The filter's transmitter by the state's id, with its result. */
int img_adj_transmit(filter_state *state, void *block, int32_t fd, img_dsp_mode *mode);

/* Filter 10: the contrast rule over the green curve, written to all three. */
void img_adj_contrast_curve(img_dsp_tone_curve *tone, uint32_t contrast);
/* The fixed low- (0) and high-contrast (1) curves. */
const uint16_t *img_adj_contrast_limit_curve(int high);
/* Filter 11: the matrix the settings choose from the state's parts 2 to 4,
 * with brightness, saturation and hue applied. */
int img_adj_rgb_to_yuv(const filter_state *state, img_dsp_rgb_to_yuv_matrix *block, int32_t chan);

/* Service mode: the channel's automatic tone curve from its parse result;
 * 1 when the curve moved. */
int img_adj_auto_tone_curve(const void *stats, img_dsp_tone_curve *block, int32_t chan);
/* The floor no automatic tone curve goes below. */
uint16_t img_adj_auto_tone_floor(int i);
/* Service mode: HDR tone strength from the parse result's histogram; 1
 * when the curve moved, -1 for NULL. */
int img_adj_hdr_tone_adapt(img_dsp_tone_curve *block, const void *stats);

/* Tests only: replaces the translater and transmitter tables (49 entries
 * each; NULL restores the built-in ones), and puts every setting back to
 * its state at load. */
void img_adj_set_filter_ops(const img_adj_translater *translaters, const img_adj_transmitter *transmitters);
void img_adj_settings_reset(void);

#endif

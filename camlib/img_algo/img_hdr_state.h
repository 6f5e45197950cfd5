/* The HDR module's store, shared by its three parts (parameters, curves and
 * tables, per-frame update) and by their tests; no other module reads it.
 * Static storage for four channels and no lock: the setters raise change
 * flags from any thread, the per-frame update takes them, so the flags are
 * atomic bytes and a flag raised while a channel is being recomputed stays
 * raised for the next frame. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_STATE_H
#define CAMLIB_IMG_ALGO_IMG_HDR_STATE_H

#include "img_channel.h"
#include "img_dsp.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"

#include <atomic>
#include <stdint.h>

#define HDR_BLENDS 3
#define HDR_ALPHA_ENTRIES 128
#define HDR_SEGMENTS 20
#define HDR_TONE_POINTS 8

/* Change flags, one bit each in a channel's flag byte. */
enum {
	HDR_F_RECOMPUTE = 1u << 0,
	HDR_F_LUT = 1u << 1,
	HDR_F_DRC = 1u << 2,
	HDR_F_ALPHA = 1u << 3,
	HDR_F_ANTI_FLICKER = 1u << 4,
	HDR_F_THRESHOLD = 1u << 5,
	HDR_F_BLACK_LEVEL = 1u << 6,
};

/* The sensor's companding curve and white level from the tuning row. */
typedef struct hdr_iq_params {
	uint32_t word0;
	uint32_t white_level;
	uint32_t seg_num;
	uint32_t bit_depth;       /* of the companded code */
	float knee[HDR_SEGMENTS]; /* segment starts, companded code / 4 */
	float slope[HDR_SEGMENTS];
	float offset[HDR_SEGMENTS];
} hdr_iq_params;
static_assert(sizeof(hdr_iq_params) == IMG_HDR_IQ_PARAMS_SIZE, "HDR tuning block");

/* Words of the per-channel sensor information. */
enum {
	HDR_SI_ROW_FLAG = 0,    /* row offsets computed, not fixed */
	HDR_SI_FIXED_Y = 1,     /* 1..4: fixed y offsets of exposures 0..3 */
	HDR_SI_LINES = 5,       /* lines an exposure block */
	HDR_SI_EXTRA_LINES = 6, /* further lines */
	HDR_SI_MAX_SHUTTER = 7, /* 7..9 */
	HDR_SI_WORDS = 17,
};

/* What the module keeps to send to the image kernel; a set send byte means
 * the setting still has to go. */
typedef struct hdr_ik_record {
	uint8_t black_send;
	uint8_t alpha_send[HDR_BLENDS];
	uint8_t cfg_send[HDR_BLENDS];
	uint8_t thr_send[HDR_BLENDS];
	uint8_t lin_send[IMG_HDR_EXPOSURES];
	uint8_t hds_send[IMG_HDR_EXPOSURES];
	/* Something went to the context but its post failed. */
	uint8_t post_pending;
	/* Anything of the channel left to send, here or in its frame settings,
	 * as the last update or send left it. */
	uint8_t sends_pending;
	uint8_t cfg_id; /* HDR configuration of the next post */
	img_dsp_static_black_level black;
	img_dsp_hdr_alpha_calc_alpha alpha[HDR_BLENDS];
	img_dsp_hdr_alpha_calc_cfg cfg[HDR_BLENDS];
	img_dsp_hdr_alpha_calc_thresh thr[HDR_BLENDS];
	img_dsp_hdr_alpha_calc_thresh hds_thr[HDR_BLENDS];
	img_dsp_amp_linearization lin[IMG_HDR_EXPOSURES];
	img_dsp_amp_linearization hds[IMG_HDR_EXPOSURES];
} hdr_ik_record;

typedef struct hdr_chan {
	/* parameters */
	uint8_t enable;
	uint8_t ce_log_enable;
	uint8_t color_thr_enable;
	img_hdr_blend_config blend;
	uint32_t alpha[IMG_HDR_EXPOSURES];
	uint32_t anti_flicker[IMG_HDR_EXPOSURES];
	uint32_t threshold[IMG_HDR_EXPOSURES];
	uint32_t lut_mix[IMG_HDR_EXPOSURES];
	int32_t drc_strength[IMG_HDR_EXPOSURES];
	uint32_t strength1[IMG_HDR_EXPOSURES];
	uint32_t strength2[IMG_HDR_EXPOSURES];
	uint32_t boost_strength[IMG_HDR_EXPOSURES];
	img_hdr_ce_log_config ce_log;
	int16_t black_level[4];
	hdr_extern_table ext_lut;
	hdr_extern_table ext_drc;
	/* curves and tables */
	uint16_t lut[IMG_HDR_EXPOSURES][IMG_HDR_KNOTS];
	uint16_t drc[IMG_HDR_EXPOSURES][IMG_HDR_KNOTS];
	float tone_x[HDR_TONE_POINTS + 1]; /* knots 1..8, as the spline wants */
	float tone_y[HDR_TONE_POINTS + 1];
	float tone_y2[HDR_TONE_POINTS + 1];
	uint32_t drc_hold;
	uint32_t drc_level;
	uint8_t alpha_table[HDR_BLENDS][HDR_ALPHA_ENTRIES];
	/* last applied, for change detection */
	img_hdr_blend_config last_blend;
	uint32_t last_dgain[IMG_HDR_EXPOSURES];
	img_dsp_hdr_raw_offset last_raw_offset;
	/* per-frame update */
	hdr_ik_record ik;
	img_hdr_frame_settings last_sent;
} hdr_chan;

typedef struct hdr_store {
	int channel_num;
	channel_info info[IMG_MAX_CHANNELS];
	hdr_iq_params iq[IMG_MAX_CHANNELS];
	uint32_t sensor[IMG_MAX_CHANNELS][HDR_SI_WORDS];
	img_hdr_ae_check ae_check[IMG_MAX_CHANNELS];
	hdr_chan chan[IMG_MAX_CHANNELS];
} hdr_store;

extern hdr_store img_hdr_store;
extern std::atomic<uint8_t> img_hdr_flags[IMG_MAX_CHANNELS];

static inline hdr_chan *hdr_ch(int c)
{
	return &img_hdr_store.chan[c];
}

static inline const channel_info *hdr_info(int c)
{
	return &img_hdr_store.info[c];
}

/* Exposures 1..4, whatever the description holds, so that no table index
 * leaves the store. */
static inline int hdr_expo_num(int c)
{
	int n = (int)(img_hdr_store.info[c].expo_num & 0xff);
	return n < 1 ? 1 : (n > IMG_HDR_EXPOSURES ? IMG_HDR_EXPOSURES : n);
}

static inline uint32_t hdr_method(int c)
{
	return img_hdr_store.info[c].hdr_method;
}

static inline bool hdr_active(int c)
{
	uint32_t m = hdr_method(c);
	return img_hdr_store.info[c].dsp_hdr || m == 4 || m == 8;
}

static inline bool hdr_blend_bypass(int c)
{
	return img_hdr_store.info[c].dsp_hdr && img_hdr_store.info[c].hdr_curve == 1;
}

/* The first exposure the per-exposure strength checks cover. */
static inline int hdr_first_index(int c)
{
	uint32_t m = hdr_method(c);
	return m == 4 || m == 8 ? 0 : 1;
}

static inline bool hdr_method_is(int c, uint32_t a, uint32_t b, uint32_t d)
{
	uint32_t m = hdr_method(c);
	return m == a || m == b || m == d;
}

/* Exposure 0 of a sensor that companded it. */
static inline bool hdr_companded(int c, int e)
{
	return e == 0 && hdr_method_is(c, 4, 6, 8);
}

static inline void hdr_raise(int c, uint8_t bits)
{
	img_hdr_flags[c].fetch_or(bits, std::memory_order_release);
}

/* Clears the bits and tells which of them were raised. */
static inline uint8_t hdr_take(int c, uint8_t bits)
{
	return (uint8_t)(img_hdr_flags[c].fetch_and((uint8_t)~bits, std::memory_order_acq_rel) & bits);
}

static inline uint8_t hdr_flags(int c)
{
	return img_hdr_flags[c].load(std::memory_order_acquire);
}

/* The knot table: the input levels of every table and the identity curve. */
typedef struct hdr_knot_table {
	uint16_t v[IMG_HDR_KNOTS];
} hdr_knot_table;
extern const hdr_knot_table img_hdr_knot_table;

/* ratio(e) as a float: exposure e to the last exposure. */
float hdr_ratio(int c, int e);
/* The tables in effect: the caller's while enabled, else the computed. */
const uint16_t *hdr_active_lut(int c, int e);
const uint16_t *hdr_active_drc(int c, int e);
/* img_hdr_set_2nd_strength with the message of the contrast-enhancement
 * table. */
int hdr_set_2nd_strength_ce(const uint32_t *v, int chan);
/* Builds the alpha presets; the per-frame init calls it. */
void hdr_init_alpha_presets(void);

#endif

/* Work states and the service mode's per-frame 3A step: the work state and
 * its allowed transitions, the HDR shutter-ratio limits, configuration and
 * boost table (which the filter transmitters also read and set), and the
 * ratio look-ups. */
#ifndef CAMLIB_IMG_ALGO_IMG_WORK_H
#define CAMLIB_IMG_ALGO_IMG_WORK_H

#include <stdint.h>

#define IMG_HDR_BOOST_TABLE_SIZE 256
#define IMG_RATIO_CONFIG_WORDS 5

/* One bit per state. */
#define IMG_WORK_IDLE 0
#define IMG_WORK_PREVIEW 1
#define IMG_WORK_FASTFOCUS 2
#define IMG_WORK_PREFLASH 4
#define IMG_WORK_RECORD 8
#define IMG_WORK_CAPTURE 16

/* "idle" .. "capture", or "err" for any other value. */
const char *img_work_state_name(uint32_t state);
/* Stores next as the requested state: -1 with a line when it is the
 * current state or not reachable from it. */
int img_work_state_request(uint32_t next);
void img_work_state_commit(void);
int img_work_state_pending(void);
uint32_t img_work_state_current(void);
void img_work_state_print(void);
/* Back to idle with nothing requested. */
void img_work_state_reset(void);

/* Ratios in sixteenths; mode 0 a fixed ratio, any other the automatic one. */
typedef struct img_ratio_limits {
	uint32_t mode;
	uint32_t min;
	uint32_t max;
} img_ratio_limits;

/* Every per-channel call checks the channel against the library's channel
 * count, then the record: -1 on either. */
/* Stores both the configured limits and those in effect, and resets words
 * 0 to 2 of the channel's ratio configuration. */
int img_config_ratio_limits(int chan, const img_ratio_limits *limits);
int img_get_ratio_limits_in_effect(int chan, img_ratio_limits *out);
/* min and max are each clamped into the configured range. */
int img_set_ratio_limits_in_effect(int chan, const img_ratio_limits *limits);
int img_set_ratio_config(int chan, const uint32_t cfg[IMG_RATIO_CONFIG_WORDS]);
int img_get_ratio_config(int chan, uint32_t cfg[IMG_RATIO_CONFIG_WORDS]);
/* 128 u16 boost factors, entry k at ratio 16 (k + 1). */
int img_set_hdr_boost_table(int chan, const uint8_t *table);
int img_get_hdr_boost_table(int chan, uint8_t *table);

/* The boost factor at ratio r from the channel's boost table. */
uint16_t img_boost_lookup(uint32_t r, int chan);
/* The extra gain at ratio r from the ratio-to-gain table of the channel's
 * 3A configuration block; -1 when the block has none. */
int img_ratio_to_gain(uint32_t r, uint32_t *gain, int chan);

struct cl_aaa_block;
/* Splits the exposure of entry 0 of the block over the channel's HDR
 * frames by ratio *ratio (sixteenths), then measures the ratio the first
 * two shutters came to and stores it in *ratio. -1 when the channel's
 * method needs the ratio-to-gain table and it has none. */
int img_hdr_split_exposure(int fd, uint32_t *ratio, struct cl_aaa_block *block, int chan);

/* Converts n AE lines of six u32 ({shutter time, gain, iris} at start and
 * end) in place: shutter times to sensor rows (at least 1), gains to
 * units of 2^24 / divisor. */
int img_convert_ae_lines(int fd, uint32_t *lines, int n, uint32_t divisor, int chan);

/* The service mode's adjustment index of a channel: its AE gain index in
 * the gain unit of its 3A configuration block, from 256 on. */
int32_t img_work_adj_index(int chan);

#define IMG_HIST_LEVEL_ROWS 16
/* Turns the share of a histogram's bins between lo and hi (4096 = all)
 * into an 8-bit level through thresholds t and a row {a, b, c} picked by
 * the adjustment index. */
typedef struct img_hist_level_cfg {
	uint32_t enable;
	uint32_t rgb; /* take the RGB histogram's first array */
	uint32_t lo, hi;
	uint32_t t[4];
	uint32_t table[IMG_HIST_LEVEL_ROWS][3];
} img_hist_level_cfg;

int img_set_hist_level_cfg(int chan, const img_hist_level_cfg *cfg);
int img_get_hist_level_cfg(int chan, img_hist_level_cfg *cfg);
struct aaa_parse_result;
/* The level of a channel's parse result at adjustment index x; the
 * channel's last level is kept while its configuration is off. */
uint8_t img_hist_level(const struct aaa_parse_result *stats, int32_t x, int chan);
uint8_t img_get_hist_level(int chan);

#define IMG_ADAPTIVE_ENTRIES 16
/* Local-exposure strength (0..128) by adjustment index, 128 steps apart. */
typedef struct img_adaptive_cfg {
	uint32_t enable;
	uint32_t entry[IMG_ADAPTIVE_ENTRIES];
} img_adaptive_cfg;

int img_set_adaptive_cfg(int chan, const img_adaptive_cfg *cfg);
int img_get_adaptive_cfg(int chan, img_adaptive_cfg *cfg);
/* The strength of a configuration at adjustment index x. */
uint32_t img_adaptive_value(const img_adaptive_cfg *cfg, int32_t x);
/* Hands the enables and strengths of channels 0..count-1 at their indexes
 * to the adaptive local exposure; a channel that is off ends the pass,
 * and what was gathered before it is not handed over. */
int img_adaptive_pass(const int32_t *index, int count);

struct aaa_parse_out;
struct af_config;
struct img_hdr_frame_settings;
struct img_dsp_mode;

/* What one frame of the service mode works on. The step keeps the frame
 * count; pair holds each channel's HDR {ratio, boost << 16} of the frame. */
typedef struct img_work_frame_ctx {
	int fd;
	struct img_dsp_mode *mode;     /* main mode record */
	struct img_dsp_mode *hdr_mode; /* for DSP-combined channels */
	struct aaa_parse_out *stats;
	struct cl_aaa_block *blocks;       /* four */
	struct img_hdr_frame_settings *fs; /* four */
	struct af_config *af_cfg;          /* NULL: no auto focus */
	int (*wake_lens)(void);            /* after auto focus ran */
	uint32_t custom;                   /* registered frame hooks replace steps */
	uint32_t print;                    /* the frame loop's print switch */
	uint32_t frame;
	uint32_t pair[4];
} img_work_frame_ctx;

/* The HDR shutter ratio of every channel that has one of its own: the
 * fixed or automatic ratio split over the channel's exposures. */
int img_work_hdr_ratio_step(img_work_frame_ctx *w);
/* One frame: exposure, HDR ratio, white balance, HDR, iris, pending shutter
 * and gain, focus and the filter pipeline, in that order. */
int img_work_frame(img_work_frame_ctx *w);
/* The iris exposure index the frame step handed the lens last, and what
 * the lens answered; -1 for both before the first. */
void img_work_get_iris(int32_t *index, int32_t *result);
/* The frame step's state back to library load. */
void img_work_frame_reset(void);

/* Back to the state at library load: no limits, no tables. */
void img_work_reset(void);

#endif

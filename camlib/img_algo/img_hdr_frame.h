/* The HDR module at work: every channel's defaults at 3A start, the first
 * image-kernel HDR configuration, and per frame the recomputation that the
 * parameter changes ask for and the send of only what changed. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_FRAME_H
#define CAMLIB_IMG_ALGO_IMG_HDR_FRAME_H

#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

struct aaa_parse_out;
struct cl_aaa_block;

/* A channel's HDR frame settings: the camera library owns the block, this
 * module fills it, and its white-balance step reads bytes 52 to 75. */
typedef struct img_hdr_frame_settings {
	uint8_t wb_send[4];                 /* per exposure */
	img_dsp_front_end_wb_gain fe_wb[4]; /* 4096 = 1.0 */
	uint8_t gains_changed;              /* byte 52 */
	uint8_t reserved0[3];
	uint32_t wb_gain[5]; /* red, green, blue, AE gain, digital gain */
	uint8_t blend_send[3];
	uint8_t reserved1;
	uint32_t alpha_index_threshold[3];
	uint8_t raw_offset_send; /* byte 92 */
	uint8_t reserved2[3];
	img_dsp_hdr_raw_offset raw_offset;
} img_hdr_frame_settings;

#ifdef __cplusplus
static_assert(sizeof(img_hdr_frame_settings) == 128, "HDR frame settings");
static_assert(offsetof(img_hdr_frame_settings, fe_wb) == 4, "front-end gains at 4");
static_assert(offsetof(img_hdr_frame_settings, gains_changed) == 52, "gains changed at 52");
static_assert(offsetof(img_hdr_frame_settings, wb_gain) == 56, "white-balance gains at 56");
static_assert(offsetof(img_hdr_frame_settings, blend_send) == 76, "blend sends at 76");
static_assert(offsetof(img_hdr_frame_settings, alpha_index_threshold) == 80, "alpha index thresholds at 80");
static_assert(offsetof(img_hdr_frame_settings, raw_offset_send) == 92, "raw-offset send at 92");
static_assert(offsetof(img_hdr_frame_settings, raw_offset) == 96, "raw offset at 96");
#endif

/* Every channel's defaults; channel information, count, sensor information
 * and tuning blocks first. Returns 0. */
int img_hdr_init_params(void);
/* The first HDR configuration of every DSP-HDR channel, sent and copied
 * into fs[channel]; -1 for NULL. */
int img_hdr_init_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings fs[4]);
/* The per-frame update of all channels; stats holds the parse results and
 * the valid flags. -1 for NULL or a zero gain. */
int img_hdr_process_frame(img_hdr_frame_settings fs[4], struct cl_aaa_block state[4],
                          const struct aaa_parse_out *stats);
/* Sends what is pending of the channel named by mode->ContextId; flags
 * {1, 0} send nothing. A failed call leaves its setting and the rest
 * pending: -1. */
int img_hdr_set_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, const uint8_t flags[2]);
/* 1 while the channel has anything left to send (so that a changed-only
 * posting step counts it as changed), 0 when not, -1 for a channel outside
 * 0..3. */
int img_hdr_sends_pending(int chan);
/* The front-end gains, alpha index thresholds and raw offsets last sent,
 * one block a channel for the channel count. */
int img_hdr_get_last_sent(img_hdr_frame_settings *out);
/* Stores the channel's 2nd strengths (strengths[chan]) and writes the
 * contrast-enhancement output curve from them. */
int img_hdr_set_ce_table(int fd, img_dsp_mode *mode, const uint32_t strengths[4][4], int chan);

#endif

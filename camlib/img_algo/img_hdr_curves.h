/* HDR curves and tables: the linearisation (LUT) and DRC tables that map
 * every exposure into one compressed range, the blending alphas and
 * saturation thresholds, raw row offsets, the adaptive DRC level, and the
 * linearisation of HDR statistics for white balance and exposure. Exposure 0
 * is the longest; ratio(e) is the brightness ratio of exposure e to the
 * last one. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_CURVES_H
#define CAMLIB_IMG_ALGO_IMG_HDR_CURVES_H

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

struct aaa_parse_result;
struct aaa_parse_out;
struct cl_aaa_block;
struct img_dsp_hdr_raw_offset;
struct img_hdr_blend_config;

/* ---- curve primitives; M = 2^bits - 1, results held to 0..M ---- */
/* A companded code through the channel's sensor curve. */
uint32_t img_hdr_linearize(uint32_t code, int chan);
/* 65535 ln(1 + min(x, M) / M a / r) / ln(1 + a), held to 0..65535. */
float img_hdr_log_map(float x, int bits, float a, float r);
float img_hdr_log_compress(float x, int bits, float a);
/* ((1 + a)^(min(x, M) / M) - 1) * M / a, the inverse of the compression. */
float img_hdr_exp_expand(float x, int bits, float a);
/* The strength curve factors of the channel, 1 to 65536. */
float img_hdr_1st_strength_factor(int chan);
float img_hdr_2nd_strength_factor(int chan);

/* ---- table builders, all exposures of the channel ---- */
/* Log family (curve kind 2); the DRC takes the blend ratio in sixteenths. */
void img_hdr_build_log_lut(int chan);
void img_hdr_build_log_drc(int chan, uint32_t step_ratio);
/* Tone family: control points for the boost factor, the spline through
 * them and the gamma curve at v, each rounded. */
void img_hdr_calc_tone_points(uint32_t boost, int chan);
int32_t img_hdr_tone_spline(int chan, float v);
int32_t img_hdr_tone_gamma(uint32_t boost, int chan, float v);
void img_hdr_build_tone_lut(int chan);
void img_hdr_build_tone_drc(int chan);

/* ---- per-frame pieces ---- */
/* Moves the channel's adaptive DRC level from the last exposure's
 * pre-histogram; step_ratio is the blend ratio in sixteenths. */
void img_hdr_update_drc_level(uint32_t step_ratio, const struct aaa_parse_result *stats, int chan);
void img_hdr_calc_alpha_tables(int chan);
/* wb: R, G, B (1024 = 1.0); dgain 4096 = 1.0; out: per blending index the
 * four thresholds. */
void img_hdr_calc_sat_threshold(const uint32_t wb[3], const uint32_t dgain[4], uint16_t out[3][4], int chan);
/* 1 when the first exposure-count y offsets changed. */
extern "C" int img_hdr_update_raw_offset(const struct cl_aaa_block *state, struct img_dsp_hdr_raw_offset *out,
                                         int chan);
/* Compares the blend pair with the last applied one (LUT flag on a
 * change) and hands it out. */
void img_hdr_check_blend_config(struct img_hdr_blend_config *out, int chan);
/* Takes the digital gains (4096 = 1.0) of the channel's exposures; 1 when
 * any changed. */
int img_hdr_check_dgain(struct cl_aaa_block *state, uint32_t out[4], int chan);

/* ---- statistics linearisation; wb: R, G, B of the channel (1024 = 1.0) ---- */
void img_hdr_process_awb_stats(const uint32_t wb[3], struct aaa_parse_result *stats, int chan);
void img_hdr_process_awb_stats_lut(const uint32_t wb[3], struct aaa_parse_result *stats, int chan);
void img_hdr_process_ae_stats(struct aaa_parse_result *stats, int chan);
void img_hdr_process_ae_stats_lut(struct aaa_parse_result *stats, int chan);

/* reference x target x 1024 / the weighted sum of the brightest `fraction`
 * / 1024 of the pixels; 1000 when there is nothing to weigh. */
int32_t img_hdr_calc_bright_ratio(const uint32_t *hist, uint32_t reference, uint32_t fraction, uint32_t bins);

#endif

/* Integer maths shared by the filter steps and configuration builders. */
#ifndef CAMLIB_IMG_DSP_IK_MATH_H
#define CAMLIB_IMG_DSP_IK_MATH_H

#include <stdint.h>

int32_t img_dsp_core_abs(int32_t a);
int32_t img_dsp_core_max(int32_t a, int32_t b);
int32_t img_dsp_core_min(int32_t a, int32_t b);
int32_t img_dsp_core_div_round(int32_t a, int32_t b);
int64_t img_dsp_core_div_round64(int64_t a, int64_t b);
int32_t img_dsp_core_round_double(double d);
int64_t img_dsp_core_rounded_reciprocal(int32_t v, uint32_t s);
void img_dsp_core_normalized_reciprocal(int32_t v, int32_t *s, int32_t *r);
int32_t img_dsp_core_round_up_multiple(int32_t a, int32_t b, int32_t floor);
int32_t img_dsp_core_linear_map(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t v);
int32_t img_dsp_core_interp_table(int32_t n, const int32_t *x, const int32_t *y, int32_t v);
int32_t img_dsp_core_curve_lookup2(int32_t v, const uint16_t *c1, const uint16_t *c2);
void img_dsp_core_fill_ramp(uint8_t *out, int32_t a_min, int32_t t0, int32_t t1, int32_t count, int32_t a_max,
                            int half);
void img_dsp_core_conv7x7(const int32_t *a, const int32_t *b, int32_t *out, int32_t s);
int32_t img_dsp_core_best_divisor(int32_t r, int32_t f);
void img_dsp_core_calc_chroma_size(int32_t w_in, int32_t h_in, int32_t w_out, int32_t h_out, int32_t format,
                                   int32_t *out_w, int32_t *out_h);
int img_dsp_core_calc_decimation_factors(uint16_t w, uint8_t k, uint8_t f[3]);
int img_dsp_core_default_decimation_factors(uint16_t w, uint8_t f[3]);
int32_t img_dsp_core_select_table_value(int32_t i, int32_t table);
int32_t img_dsp_core_select_table_value_ex(int32_t i, int32_t table);
int32_t img_dsp_core_align16_calc(int32_t a, int32_t b);
void img_dsp_core_search_ratio(int32_t v, int32_t d, int32_t *candidate, uint32_t *inverse, int32_t q,
                               int32_t step);
void img_dsp_core_build_3d_lut(uint32_t *out, const uint16_t *curve, const uint16_t *grid);
void img_dsp_core_build_ramp_lut(const uint8_t p[4], uint32_t out[256]);
void img_dsp_core_unpack_3d_lut(const uint32_t *packed, uint16_t *out);
void img_dsp_core_build_curve_table(int32_t out[416], const uint16_t *c1, const uint16_t *c2);
void img_dsp_core_pack_record8(const uint8_t *src, uint8_t *dst);

#endif

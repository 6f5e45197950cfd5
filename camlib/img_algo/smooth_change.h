/* Small integer and floating-point helpers of the 3A library: blends, clamps
 * and maps, the smoothing step, logarithmic units, cubic interpolation and
 * histogram and array statistics. Bad input prints "Data invalid in %s.\n"
 * and gives a neutral result unless said. */
#ifndef CAMLIB_IMG_ALGO_SMOOTH_CHANGE_H
#define CAMLIB_IMG_ALGO_SMOOTH_CHANGE_H

#include <stdint.h>

/* (b * wb + a * wa) >> shift in wrapping 32-bit arithmetic. */
int32_t blend_shift(int32_t a, int32_t wa, int32_t b, int32_t wb, int32_t shift);
int32_t clamp_i32(int32_t v, int32_t lo, int32_t hi);
/* The midpoint of y0 and y1 when x0 = x1. */
int32_t lerp_mid(int32_t x, uint32_t x0, uint32_t x1, int32_t y0, int32_t y1);
/* Held at y0 below x0 and at y1 above x1. */
int32_t linear_map(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
/* The same in 64 bits, for sums that outgrow 32. */
int64_t linear_map64(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1);

/* The next value of current on its way to target, 1/speed of the distance
 * a call, single steps when close. */
int32_t smooth_change(int32_t target, int32_t current, int32_t speed);

/* Logarithmic unit a, range b: -1 when either is 0. log_decode undoes
 * log_encode with a and b swapped. */
int32_t log_encode(uint32_t a, uint32_t b, float base, float x);
int32_t log_decode(uint32_t a, uint32_t b, float base, float y);

/* Monotone piecewise cubic Hermite interpolation through knots 0 to n - 1:
 * slopes into d[], then one value at x (nothing written outside the knots). */
void pchip_slopes(const float *x, const float *y, int n, float *d);
void hermite_eval(const float *x, const float *y, int n, const float *d, float *out, float x_at);

/* Cubic spline through knots 1 to n (element 0 of every array unused); an end
 * slope above 9.9e29 makes that end natural. */
void spline_second_derivs(const float *x, const float *y, int n, float *y2, float yp1, float ypn);
void splint(const float *xa, const float *ya, const float *y2a, int n, float *out, float x);

uint64_t array_sum_u32(const uint32_t *a, int32_t n);
uint32_t array_avg_u32(const uint32_t *a, int32_t n);
/* Moving average of m elements ending at each index (shorter at the start). */
int32_t array_avg_conv_u32(const uint32_t *in, uint32_t *out, int32_t n, int32_t m);
uint32_t array_std_var_err_u32(const uint32_t *a, int32_t n);
/* -1 on bad input. */
int64_t array_max_value_u32(const uint32_t *a, int32_t n);
int64_t array_min_value_u32(const uint32_t *a, int32_t n);
int32_t array_max_value_index_u32(const uint32_t *a, int32_t n);

/* Otsu split: the bin after which the histogram divides best. */
int32_t hist_split(const uint32_t *h, int32_t n);
int32_t hist_first_valley(const uint32_t *h, int32_t n);
int32_t hist_falling_point_u32(const uint32_t *h, int32_t n);
int32_t hist_tail_index(const uint32_t *h, int32_t n, uint64_t count);
int32_t hist_low_index(const uint32_t *h, int32_t n);
int32_t hist_high_index(const uint32_t *h, int32_t n);
int32_t hist_flatness_score(const uint32_t *h, int32_t n);
/* At most HIST_ANALYSE_MAX bins. */
#define HIST_ANALYSE_MAX 1024
int32_t hist_analyse_range(int32_t *value, int32_t *high, const uint32_t *h, int32_t n);
int32_t array_cumsum_u32(uint64_t *out, const uint32_t *in, int32_t n);
/* Bins outside the occupied range land in the end bins. */
int32_t histogram_equalization_u32(const uint32_t *in, uint32_t *out, int32_t n);
int32_t array_normalize_u32(uint32_t *a, int32_t n);
void hist_expand_64_to_256(uint32_t *out, const uint32_t *in);
int32_t array_diff_u32(const uint32_t *in, int32_t *out, int32_t n);
int32_t array_diff2_u32(const uint32_t *in, int32_t *out, int32_t n);
void array_bubble_sort_u32(uint32_t *a, int32_t n);
void array_quick_sort_u32(uint32_t *a, int32_t n);
/* Stores value at *index, replaces it by the buffer's average and advances
 * the index around the ring. */
int32_t ring_avg_u32(uint32_t *value, uint32_t *index, uint32_t *buffer, uint32_t length);
/* Moves *value towards a prediction of the next change from the last three
 * changes; keeps its history across calls. */
void smooth_change_predict(int32_t previous, int32_t next, int32_t *value);

#endif

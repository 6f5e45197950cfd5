#pragma once
// The daemon's own fixed-point arithmetic: table search and interpolation,
// an arctangent, a least-squares polynomial fit over fixed-point matrices,
// statistics and matrix operations. Values are signed with q fraction bits
// (14 for the daemon's imfix values).
//
// Rounding: a product m is brought back to q fraction bits as
// ((m >> (q - 1)) + 1) >> 1 (half up); a division a / b adds half of |b|
// with the sign of a first (half away from zero for b > 0). Integer overflow
// wraps; nothing saturates unless said below.

#include <stddef.h>
#include <stdint.h>

// Index of value in a monotonic table (ascending or descending, decided by
// its end entries). A value at or past either end gives that end's index,
// an exact hit its index; otherwise mode 1 gives the index of the entry
// above the value, mode 2 the entry below, any other mode the nearer of the
// two (the one below on a tie). 0 for an empty table.
#define FX_SEARCH_ABOVE 1
#define FX_SEARCH_BELOW 2
#define FX_SEARCH_NEAREST 0
int fx_table_search(int32_t value, const int32_t *table, int n, int mode);

// Straight line through (x0, y0) and (x1, y1) at x, extrapolating outside;
// y0 when x0 = x1. The slope product is taken in 64 bits; the ...32 variant
// takes it in 32 bits (where it wraps), the ...64 variant works in 64 bits
// throughout.
int32_t fx_lin_interp(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
int32_t fx_lin_interp32(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
int64_t fx_lin_interp64(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1);
// The slope is kept with s extra fraction bits before it is applied.
int64_t fx_lin_interp64_shift(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1, int s);
// Piecewise-linear curve through (xs[i], ys[i]), xs ascending, clamped to
// its end points.
int32_t fx_table_interp(int32_t x, int n, const int32_t *xs, const int32_t *ys);
// n points from start to end; the step is rounded once and accumulates.
void fx_linspace(int32_t start, int32_t end, int32_t *out, int n);

// atan(v) in radians, v and the result with q fraction bits.
int32_t fx_atan(int32_t v, int q);
float deg_to_rad(float degrees);
// c[0] + c[1] x + ... + c[n - 1] x^(n - 1); 0 for n <= 0.
float poly_eval_f(const float *c, int n, float x);

// Least-squares fit y = sum of out[j] x^j for j < order, all with q fraction
// bits. x and y are left normalised (fx_normalize). 0, or -1 with nothing
// written to out (order or n below 1, no memory).
int fx_polyfit(int32_t *x, int32_t *y, int32_t *out, int n, int order, int q);
// Scales v in place so that its largest element becomes 1.0 (2^q) and
// returns that element (at least 0; with 0 every element becomes 0).
int32_t fx_normalize(int32_t *v, int n, int q);

// Statistics: 32-bit values, 64-bit sums, means rounded half away from zero.
uint32_t fx_gcd(uint32_t a, uint32_t b);
int32_t fx_mean(const int32_t *v, int n);
// Variance of values with 14 fraction bits, in the same format.
int32_t fx_variance(const int32_t *v, int n);
// Sorts v in place; the middle element, or the mean of the middle two.
int32_t fx_median(int32_t *v, int n);
int fx_all_equal(const int32_t *v, int n);
// Sign (1, 0, -1) of the covariance of x and y.
int fx_correlation_sign(const int32_t *x, const int32_t *y, int n);
// Least-squares line y = intercept + slope x with q fraction bits. Returns
// the mean of y; without spread in x the slope is 0 (falling numerator) or
// -1, the intercept 0, and the (zero) denominator is returned.
int32_t fx_linreg(const int32_t *x, const int32_t *y, int n, int32_t *intercept, int32_t *slope, int q);
// The same fit from sums centred on the means.
int32_t fx_linreg_centered(const int32_t *x, const int32_t *y, int n, int32_t *intercept, int32_t *slope,
                           int q);
// Q14 weights of a and b for x between them, clamped outside; 8192 each when
// a = b. Returns the weight of the smaller of a and b.
int32_t fx_crossfade_weights(int32_t x, int32_t a, int32_t b, int32_t *wa, int32_t *wb);
// (b0 - b1) / (a0 - a1) in Q14, saturated.
int32_t fx_slope(int32_t a0, int32_t a1, int32_t b0, int32_t b1);
// x - x^3/3 + x^5/5 - ... with n terms after x.
int32_t fx_atan_series(int32_t x, int n, int q);
uint32_t fx_isqrt64(uint64_t v);
// Euclidean length of v (integer square root of the sum of squares).
uint32_t fx_vector_norm(const int32_t *v, int n);

// Prints the value with q fraction bits as "%f" at information level.
void fx_print(int64_t value, int q);

// Row-major matrix of signed 32-bit elements (the ...32 operations) or
// 64-bit elements (the ...64 operations) with q fraction bits. An operation
// that produces a matrix writes into the given result, or allocates one with
// the first operand's q when result is null; it returns the result, or null
// with nothing written when the dimensions do not fit (or their product
// overflows), a result shares an operand's data where that cannot work, or
// memory runs out. Products are rounded by the first operand's q.
struct fx_matrix {
	uint64_t rows;
	uint64_t columns;
	uint32_t q;
	void *data;
};

// Zeroed, or a copy of rows x columns elements from data.
fx_matrix *fx_matrix_new32(uint64_t rows, uint64_t columns, uint32_t q, const int32_t *data);
fx_matrix *fx_matrix_new64(uint64_t rows, uint64_t columns, uint32_t q, const int64_t *data);
void fx_matrix_free32(fx_matrix *m);
void fx_matrix_free64(fx_matrix *m);
void fx_matrix_load32(fx_matrix *m, const int32_t *data);
void fx_matrix_load64(fx_matrix *m, const int64_t *data);
void *fx_matrix_data(const fx_matrix *m);

fx_matrix *fx_matrix_mul32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_mul64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_add32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_add64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_add_scalar32(const fx_matrix *a, int32_t s, fx_matrix *result);
fx_matrix *fx_matrix_add_scalar64(const fx_matrix *a, int64_t s, fx_matrix *result);
fx_matrix *fx_matrix_mul_elem32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_mul_elem64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_scale32(const fx_matrix *a, int32_t s, fx_matrix *result);
fx_matrix *fx_matrix_scale64(const fx_matrix *a, int64_t s, fx_matrix *result);
fx_matrix *fx_matrix_scale_row32(const fx_matrix *a, uint64_t row, int32_t s, fx_matrix *result);
fx_matrix *fx_matrix_scale_row64(const fx_matrix *a, uint64_t row, int64_t s, fx_matrix *result);
fx_matrix *fx_matrix_swap_rows32(const fx_matrix *a, uint64_t row1, uint64_t row2, fx_matrix *result);
fx_matrix *fx_matrix_swap_rows64(const fx_matrix *a, uint64_t row1, uint64_t row2, fx_matrix *result);
// V[i][j] = x[i]^j.
fx_matrix *fx_vandermonde32(const int32_t *x, uint64_t rows, uint64_t columns, uint32_t q, fx_matrix *result);
fx_matrix *fx_vandermonde64(const int64_t *x, uint64_t rows, uint64_t columns, uint32_t q, fx_matrix *result);
fx_matrix *fx_matrix_transpose32(const fx_matrix *a, fx_matrix *result);
fx_matrix *fx_matrix_transpose64(const fx_matrix *a, fx_matrix *result);
// [a | b]: the columns of a followed by those of b.
fx_matrix *fx_matrix_augment32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
fx_matrix *fx_matrix_augment64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result);
// 1 when the dimensions match and no elements differ by more than tolerance.
int fx_matrix_equal32(const fx_matrix *a, const fx_matrix *b, int32_t tolerance);
int fx_matrix_equal64(const fx_matrix *a, const fx_matrix *b, int64_t tolerance);
// Reduces m in place to reduced row echelon form, with q fraction bits.
void fx_gauss_jordan64(fx_matrix *m, int q);
// One line per row at information level; the 32-bit elements are printed as
// floats with the caller's format, the 64-bit ones through fx_print.
void fx_matrix_print32(const fx_matrix *m, const char *format);
void fx_matrix_print64(const fx_matrix *m);

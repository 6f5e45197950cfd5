#include "fixed_point.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "debug_output.h"
#include "fixmath.h"

// Wrapping arithmetic: overflow is defined to wrap, so it goes through the
// unsigned types.
static int64_t wadd(int64_t a, int64_t b)
{
	return (int64_t)((uint64_t)a + (uint64_t)b);
}

static int64_t wsub(int64_t a, int64_t b)
{
	return (int64_t)((uint64_t)a - (uint64_t)b);
}

static int64_t wmul(int64_t a, int64_t b)
{
	return (int64_t)((uint64_t)a * (uint64_t)b);
}

// Shifts of 64 bits or more (or negative ones) are undefined in C++; every
// bit has left by then.
static int64_t wshl(int64_t a, int s)
{
	if (s < 0 || s > 63)
		return 0;
	return (int64_t)((uint64_t)a << s);
}

static int32_t wadd32(int32_t a, int32_t b)
{
	return (int32_t)((uint32_t)a + (uint32_t)b);
}

static int32_t wsub32(int32_t a, int32_t b)
{
	return (int32_t)((uint32_t)a - (uint32_t)b);
}

static int64_t round_shift(int64_t m, int q)
{
	if (q <= 0)
		return m;
	if (q > 64)
		return 0;
	return wadd(m >> (q - 1), 1) >> 1;
}

static int64_t mul_q(int64_t a, int64_t b, int q)
{
	return round_shift(wmul(a, b), q);
}

// Truncating division that neither traps on a zero divisor (0) nor on the
// one quotient that does not fit (it wraps).
static int64_t tdiv(int64_t a, int64_t b)
{
	if (b == 0)
		return 0;
	if (b == -1)
		return wsub(0, a);
	return a / b;
}

// a / b with half of |b| added in the direction of a.
static int64_t rdiv(int64_t a, int64_t b)
{
	int64_t h = (int64_t)((b < 0 ? 0 - (uint64_t)b : (uint64_t)b) >> 1);
	return tdiv(a < 0 ? wsub(a, h) : wadd(a, h), b);
}

static int64_t abs64(int64_t v)
{
	return v < 0 ? wsub(0, v) : v;
}

int fx_table_search(int32_t value, const int32_t *table, int n, int mode)
{
	if (!table || n <= 0)
		return 0;
	int lo_end = table[0] <= table[n - 1] ? 0 : n - 1;
	int hi_end = n - 1 - lo_end;
	if (value <= table[lo_end])
		return lo_end;
	if (value >= table[hi_end])
		return hi_end;
	int a = lo_end, b = hi_end;
	int probe = (n - 1) >> 1;
	while (abs(b - a) > 1) {
		if (table[probe] == value)
			return probe;
		if (table[probe] >= value)
			b = probe;
		else
			a = probe;
		probe = (a + b) >> 1;
	}
	if (mode == FX_SEARCH_ABOVE)
		return b;
	if (mode == FX_SEARCH_BELOW)
		return a;
	return abs64((int64_t)table[b] - value) < abs64((int64_t)table[a] - value) ? b : a;
}

int32_t fx_lin_interp(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1)
{
	if (x0 == x1)
		return y0;
	int32_t d = wsub32(x1, x0);
	int64_t p = (int64_t)wsub32(y1, y0) * wsub32(x, x0);
	return wadd32(y0, (int32_t)rdiv(p, d));
}

int32_t fx_lin_interp32(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1)
{
	if (x0 == x1)
		return y0;
	int32_t d = wsub32(x1, x0);
	int32_t p = (int32_t)((uint32_t)wsub32(y1, y0) * (uint32_t)wsub32(x, x0));
	int32_t h = (int32_t)((d < 0 ? 0u - (uint32_t)d : (uint32_t)d) >> 1);
	int32_t quotient = (int32_t)tdiv(p < 0 ? wsub32(p, h) : wadd32(p, h), d);
	return wadd32(y0, quotient);
}

int64_t fx_lin_interp64(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1)
{
	if (x0 == x1)
		return y0;
	return wadd(y0, rdiv(wmul(wsub(y1, y0), wsub(x, x0)), wsub(x1, x0)));
}

int64_t fx_lin_interp64_shift(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1, int s)
{
	if (x0 == x1)
		return y0;
	int64_t slope = rdiv(wshl(wsub(y1, y0), s), wsub(x1, x0));
	return wadd(y0, round_shift(wmul(slope, wsub(x, x0)), s));
}

int32_t fx_table_interp(int32_t x, int n, const int32_t *xs, const int32_t *ys)
{
	if (!xs || !ys || n <= 0)
		return 0;
	if (x <= xs[0])
		return ys[0];
	if (x >= xs[n - 1])
		return ys[n - 1];
	int i = fx_table_search(x, xs, n, FX_SEARCH_ABOVE) - 1;
	return fx_lin_interp(x, xs[i], xs[i + 1], ys[i], ys[i + 1]);
}

void fx_linspace(int32_t start, int32_t end, int32_t *out, int n)
{
	if (!out || n <= 0)
		return;
	out[0] = start;
	if (n > 2) {
		int64_t step = rdiv(wshl((int64_t)end - start, 14), wshl(n - 1, 14));
		for (int i = 1; i < n - 1; i++)
			out[i] = (int32_t)wadd(out[i - 1], step);
	}
	out[n - 1] = end;
}

// atan(2^-i) with 30 fraction bits for i < 10; 2^(30 - i) from there on.
static const int64_t atan_table[10] = {843314880, 497837824, 263043840, 133525160, 67021688,
                                       33543516,  16775852,  8388438,   4194283,   2097149};

int32_t fx_atan(int32_t v, int q)
{
	if (q < 0 || q > 61)
		return 0;
	// 64 bits: a value of 2.0 or more at q 14 no longer fits 32 bits at 30.
	int64_t y = q < 31 ? wshl(v, 30 - q) : round_shift(v, q - 30);
	int64_t x = (int64_t)1 << 30;
	int64_t angle = 0;
	for (int i = 0; i < 30; i++) {
		int64_t t = i < 10 ? atan_table[i] : (int64_t)1 << (30 - i);
		int64_t xi = x >> i, yi = y >> i;
		if (y < 0) {
			angle -= t;
			x = wsub(x, yi);
			y = wadd(y, xi);
		} else {
			angle += t;
			x = wadd(x, yi);
			y = wsub(y, xi);
		}
	}
	if (q < 30)
		return (int32_t)round_shift(angle, 30 - q);
	return (int32_t)((uint32_t)angle << (q - 30));
}

float deg_to_rad(float degrees)
{
	return degrees / 360.0f * 6.2831855f;
}

float poly_eval_f(const float *c, int n, float x)
{
	float r = 0.0f;
	for (int i = n - 1; i >= 0; i--)
		r = fmaf(x, r, c[i]);
	return r;
}

int32_t fx_normalize(int32_t *v, int n, int q)
{
	if (!v || n <= 0)
		return 0;
	int32_t m = 0;
	for (int i = 0; i < n; i++)
		m = std::max(m, v[i]);
	for (int i = 0; i < n; i++)
		v[i] = m == 0 ? 0 : (int32_t)rdiv(wshl(v[i], q), m);
	return m;
}

static int64_t *elements64(const fx_matrix *m)
{
	return static_cast<int64_t *>(m->data);
}

void fx_gauss_jordan64(fx_matrix *m, int q)
{
	if (!m || m->rows == 0 || m->columns == 0)
		return;
	int64_t one = wshl(1, 2 * q);
	int64_t *e = elements64(m);
	uint64_t cols = m->columns;
	for (uint64_t r = 0, c = 0; r < m->rows && c < cols; c++) {
		uint64_t pivot = r;
		while (pivot < m->rows && e[pivot * cols + c] == 0)
			pivot++;
		if (pivot == m->rows)
			continue;
		fx_matrix_swap_rows64(m, r, pivot, m);
		int64_t p = e[r * cols + c];
		if (p != 1)
			fx_matrix_scale_row64(m, r, rdiv(one, p), m);
		for (uint64_t i = 0; i < m->rows; i++) {
			int64_t f = e[i * cols + c];
			if (i == r || f == 0)
				continue;
			for (uint64_t j = c + 1; j < cols; j++)
				e[i * cols + j] = wsub(e[i * cols + j], mul_q(f, e[r * cols + j], q));
			e[i * cols + c] = 0;
		}
		r++;
	}
}

int fx_polyfit(int32_t *x, int32_t *y, int32_t *out, int n, int order, int q)
{
	if (!x || !y || !out || n < 1 || order < 1)
		return -1;
	int64_t sx = fx_normalize(x, n, q);
	int64_t sy = fx_normalize(y, n, q);
	std::vector<int64_t> x64(x, x + n), y64(y, y + n);
	fx_matrix *v = fx_vandermonde64(x64.data(), n, order, q, nullptr);
	fx_matrix *vt = v ? fx_matrix_transpose64(v, nullptr) : nullptr;
	fx_matrix *ym = fx_matrix_new64(n, 1, q, y64.data());
	fx_matrix *a = vt ? fx_matrix_mul64(vt, v, nullptr) : nullptr;
	fx_matrix *b = vt && ym ? fx_matrix_mul64(vt, ym, nullptr) : nullptr;
	fx_matrix *ab = a && b ? fx_matrix_augment64(a, b, nullptr) : nullptr;
	if (ab) {
		fx_gauss_jordan64(ab, q);
		int64_t sxj = wshl(1, q);
		for (int j = 0; j < order; j++) {
			int64_t beta = elements64(ab)[(uint64_t)j * ab->columns + (uint64_t)order];
			out[j] = (int32_t)mul_q(sy, rdiv(wshl(beta, q), sxj), q);
			sxj = mul_q(sxj, sx, q);
		}
	}
	fx_matrix_free64(v);
	fx_matrix_free64(vt);
	fx_matrix_free64(ym);
	fx_matrix_free64(a);
	fx_matrix_free64(b);
	fx_matrix_free64(ab);
	return ab ? 0 : -1;
}

uint32_t fx_gcd(uint32_t a, uint32_t b)
{
	while (b != 0) {
		uint32_t r = a % b;
		a = b;
		b = r;
	}
	return a;
}

static int64_t sum64(const int32_t *v, int n)
{
	int64_t s = 0;
	for (int i = 0; i < n; i++)
		s += v[i];
	return s;
}

int32_t fx_mean(const int32_t *v, int n)
{
	if (!v || n <= 0)
		return 0;
	if (n == 1)
		return v[0];
	return (int32_t)rdiv(sum64(v, n), n);
}

int32_t fx_variance(const int32_t *v, int n)
{
	if (!v || n <= 1)
		return 0;
	uint64_t s = 0, sq = 0;
	for (int i = 0; i < n; i++) {
		s += (uint64_t)(int64_t)v[i];
		sq += (uint64_t)((int64_t)v[i] * v[i]);
	}
	return (int32_t)(((sq - s * s / (uint64_t)n) / (uint64_t)n + 8192) >> 14);
}

int32_t fx_median(int32_t *v, int n)
{
	if (!v || n <= 0)
		return 0;
	std::sort(v, v + n);
	if (n & 1)
		return v[n / 2];
	return (int32_t)rdiv((int64_t)v[n / 2 - 1] + v[n / 2], 2);
}

int fx_all_equal(const int32_t *v, int n)
{
	for (int i = 1; i < n; i++)
		if (v[i] != v[0])
			return 0;
	return 1;
}

int fx_correlation_sign(const int32_t *x, const int32_t *y, int n)
{
	if (!x || !y || n < 1)
		return 0;
	int64_t mx = fx_mean(x, n), my = fx_mean(y, n), s = 0;
	for (int i = 0; i < n; i++)
		s = wadd(s, wmul(x[i] - mx, y[i] - my));
	return (s > 0) - (s < 0);
}

int32_t fx_linreg(const int32_t *x, const int32_t *y, int n, int32_t *intercept, int32_t *slope, int q)
{
	int64_t sx = 0, sy = 0, sxy = 0, sxx = 0;
	for (int i = 0; i < n; i++) {
		sx += x[i];
		sy += y[i];
		sxy = wadd(sxy, mul_q(x[i], y[i], q));
		sxx = wadd(sxx, mul_q(x[i], x[i], q));
	}
	int64_t num = wsub(wmul(n, sxy), mul_q(sx, sy, q));
	int64_t den = wsub(wmul(n, sxx), mul_q(sx, sx, q));
	if (den == 0) {
		*slope = num < 0 ? 0 : -1;
		*intercept = 0;
		return (int32_t)den;
	}
	int64_t k = rdiv(wshl(num, q), den);
	int32_t mx = fx_mean(x, n), my = fx_mean(y, n);
	*slope = (int32_t)k;
	*intercept = (int32_t)wsub(my, mul_q(k, mx, q));
	return my;
}

int32_t fx_linreg_centered(const int32_t *x, const int32_t *y, int n, int32_t *intercept, int32_t *slope,
                           int q)
{
	if (n < 1) {
		*slope = -1;
		*intercept = 0;
		return 0;
	}
	int64_t mx = fx_mean(x, n), my = fx_mean(y, n), sxx = 0, sxy = 0;
	for (int i = 0; i < n; i++) {
		sxx = wadd(sxx, mul_q(x[i] - mx, x[i] - mx, q));
		sxy = wadd(sxy, mul_q(y[i] - my, x[i] - mx, q));
	}
	if (sxx == 0) {
		*slope = sxy < 0 ? 0 : -1;
		*intercept = 0;
		return 0;
	}
	int64_t k = rdiv(wshl(sxy, q), sxx);
	*slope = (int32_t)k;
	*intercept = (int32_t)wsub(my, mul_q(k, mx, q));
	return (int32_t)my;
}

int32_t fx_crossfade_weights(int32_t x, int32_t a, int32_t b, int32_t *wa, int32_t *wb)
{
	if (a == b) {
		*wa = *wb = 8192;
		return 8192;
	}
	int64_t lo = std::min(a, b), hi = std::max(a, b);
	int64_t w_hi = std::clamp<int64_t>(rdiv(((int64_t)x - lo) * 16384, hi - lo), 0, 16384);
	int32_t w_lo = (int32_t)(16384 - w_hi);
	*wa = a == lo ? w_lo : (int32_t)w_hi;
	*wb = 16384 - *wa;
	return w_lo;
}

int32_t fx_slope(int32_t a0, int32_t a1, int32_t b0, int32_t b1)
{
	const int64_t low = INT32_MIN, high = 2147467264;
	int64_t db = (int64_t)b0 - b1;
	if (a0 == a1)
		return (int32_t)(db < 1 ? low : high);
	return (int32_t)std::clamp<int64_t>(rdiv(db * 16384, (int64_t)a0 - a1), low, high);
}

int32_t fx_atan_series(int32_t x, int n, int q)
{
	int64_t sum = x, power = x;
	for (int k = 1; k <= n; k++) {
		power = mul_q(mul_q(power, x, q), x, q);
		int64_t term = rdiv(power, 2 * k + 1);
		sum = k & 1 ? wsub(sum, term) : wadd(sum, term);
	}
	return (int32_t)sum;
}

uint32_t fx_isqrt64(uint64_t v)
{
	uint64_t root = 0, bit = (uint64_t)1 << 62;
	while (bit > v)
		bit >>= 2;
	while (bit) {
		if (v >= root + bit) {
			v -= root + bit;
			root = (root >> 1) + bit;
		} else {
			root >>= 1;
		}
		bit >>= 2;
	}
	return (uint32_t)root;
}

uint32_t fx_vector_norm(const int32_t *v, int n)
{
	uint64_t s = 0;
	for (int i = 0; i < n; i++)
		s += (uint64_t)((int64_t)v[i] * v[i]);
	return fx_isqrt64(s);
}

static float fx_to_float(int64_t value, int q)
{
	// A float holds the value exactly only when it has few significant bits
	// and the table covers its fraction bits.
	uint64_t magnitude = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
	int shift = 0;
	while ((magnitude >> shift) >= ((uint64_t)1 << 31) || q - shift > 31)
		shift++;
	int64_t reduced = round_shift(value, shift);
	int frac = q - shift;
	return frac >= 0 ? (float)reduced * fx_xtof_tab[frac] : ldexpf((float)reduced, -frac);
}

void fx_print(int64_t value, int q)
{
	debug_output(DEBUG_INFO, 0, "%f", (double)fx_to_float(value, q));
}

// --- Matrices ---

template <typename T> static T *elements(const fx_matrix *m)
{
	return static_cast<T *>(m->data);
}

// The element count of a rows x columns matrix, false when it or its size in
// bytes does not fit.
template <typename T> static bool element_count(uint64_t rows, uint64_t columns, uint64_t *count)
{
	if (__builtin_mul_overflow(rows, columns, count))
		return false;
	uint64_t bytes;
	return !__builtin_mul_overflow(*count, (uint64_t)sizeof(T), &bytes) && bytes <= SIZE_MAX;
}

static uint64_t count_of(const fx_matrix *m)
{
	return m->rows * m->columns;
}

template <typename T> static fx_matrix *matrix_new(uint64_t rows, uint64_t columns, uint32_t q, const T *data)
{
	uint64_t count;
	if (!element_count<T>(rows, columns, &count))
		return nullptr;
	fx_matrix *m = static_cast<fx_matrix *>(calloc(1, sizeof(*m)));
	if (!m)
		return nullptr;
	m->data = calloc(count ? count : 1, sizeof(T));
	if (!m->data) {
		free(m);
		return nullptr;
	}
	m->rows = rows;
	m->columns = columns;
	m->q = q;
	if (data)
		memcpy(m->data, data, count * sizeof(T));
	return m;
}

static void matrix_free(fx_matrix *m)
{
	if (!m)
		return;
	free(m->data);
	free(m);
}

// Whether m can describe its elements at all: a matrix whose dimensions
// overflow is never accepted as an operand or result.
template <typename T> static bool valid(const fx_matrix *m)
{
	uint64_t count;
	return m && (m->data || m->rows == 0 || m->columns == 0) &&
	       element_count<T>(m->rows, m->columns, &count);
}

// The result matrix for an operation producing rows x columns: the given one
// when its dimensions fit (null otherwise), or a new one with q.
template <typename T>
static fx_matrix *result_for(fx_matrix *given, uint64_t rows, uint64_t columns, uint32_t q)
{
	if (!given)
		return matrix_new<T>(rows, columns, q, nullptr);
	if (!valid<T>(given) || given->rows != rows || given->columns != columns)
		return nullptr;
	return given;
}

static bool shares(const fx_matrix *result, const fx_matrix *operand)
{
	return result && (result == operand || (result->data && result->data == operand->data));
}

template <typename T> static T mulq_t(T a, T b, uint32_t q)
{
	return (T)mul_q(a, b, (int)q);
}

template <typename T> static T add_t(T a, T b)
{
	typedef typename std::make_unsigned<T>::type U;
	return (T)((U)a + (U)b);
}

template <typename T> static fx_matrix *matrix_mul(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	if (!valid<T>(a) || !valid<T>(b) || a->columns != b->rows || shares(result, a) || shares(result, b))
		return nullptr;
	fx_matrix *r = result_for<T>(result, a->rows, b->columns, a->q);
	if (!r)
		return nullptr;
	const T *ea = elements<T>(a), *eb = elements<T>(b);
	T *er = elements<T>(r);
	for (uint64_t i = 0; i < a->rows; i++)
		for (uint64_t j = 0; j < b->columns; j++) {
			T sum = 0;
			for (uint64_t k = 0; k < a->columns; k++)
				sum = add_t<T>(
				    sum, mulq_t<T>(ea[i * a->columns + k], eb[k * b->columns + j], a->q));
			er[i * r->columns + j] = sum;
		}
	return r;
}

// Element-wise operation of a with b (same dimensions) or with a scalar.
template <typename T, typename Op>
static fx_matrix *matrix_map(const fx_matrix *a, const fx_matrix *b, fx_matrix *result, Op op)
{
	if (!valid<T>(a) || (b && (!valid<T>(b) || b->rows != a->rows || b->columns != a->columns)))
		return nullptr;
	fx_matrix *r = result_for<T>(result, a->rows, a->columns, a->q);
	if (!r)
		return nullptr;
	const T *ea = elements<T>(a), *eb = b ? elements<T>(b) : nullptr;
	T *er = elements<T>(r);
	for (uint64_t i = 0; i < count_of(a); i++)
		er[i] = op(ea[i], eb ? eb[i] : 0);
	return r;
}

template <typename T>
static fx_matrix *matrix_mul_elem(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	if (!a || !b)
		return nullptr;
	uint32_t q = a->q;
	return matrix_map<T>(a, b, result, [q](T x, T y) { return mulq_t(x, y, q); });
}

template <typename T> static fx_matrix *matrix_scale(const fx_matrix *a, T s, fx_matrix *result)
{
	if (!a)
		return nullptr;
	uint32_t q = a->q;
	return matrix_map<T>(a, nullptr, result, [s, q](T e, T) { return mulq_t(e, s, q); });
}

// A copy of a in the result, for the operations on single rows.
template <typename T> static fx_matrix *copy_for_rows(const fx_matrix *a, fx_matrix *result)
{
	if (!valid<T>(a))
		return nullptr;
	fx_matrix *r = result_for<T>(result, a->rows, a->columns, a->q);
	if (r && r->data != a->data)
		memcpy(r->data, a->data, count_of(a) * sizeof(T));
	return r;
}

template <typename T>
static fx_matrix *matrix_scale_row(const fx_matrix *a, uint64_t row, T s, fx_matrix *result)
{
	if (!a || row >= a->rows)
		return nullptr;
	fx_matrix *r = copy_for_rows<T>(a, result);
	if (!r)
		return nullptr;
	T *e = elements<T>(r) + row * r->columns;
	for (uint64_t j = 0; j < r->columns; j++)
		e[j] = mulq_t<T>(e[j], s, a->q);
	return r;
}

template <typename T>
static fx_matrix *matrix_swap_rows(const fx_matrix *a, uint64_t row1, uint64_t row2, fx_matrix *result)
{
	if (!a || row1 >= a->rows || row2 >= a->rows)
		return nullptr;
	fx_matrix *r = copy_for_rows<T>(a, result);
	if (!r || row1 == row2)
		return r;
	T *e1 = elements<T>(r) + row1 * r->columns, *e2 = elements<T>(r) + row2 * r->columns;
	std::swap_ranges(e1, e1 + r->columns, e2);
	return r;
}

template <typename T>
static fx_matrix *vandermonde(const T *x, uint64_t rows, uint64_t columns, uint32_t q, fx_matrix *result)
{
	if (!x && rows > 0)
		return nullptr;
	uint64_t count;
	if (!element_count<T>(rows, columns, &count))
		return nullptr;
	fx_matrix *r = result_for<T>(result, rows, columns, q);
	if (!r)
		return nullptr;
	T *e = elements<T>(r);
	for (uint64_t i = 0; i < rows; i++) {
		T power = (T)wshl(1, (int)q);
		for (uint64_t j = 0; j < columns; j++) {
			e[i * columns + j] = power;
			power = mulq_t<T>(power, x[i], q);
		}
	}
	return r;
}

template <typename T> static fx_matrix *matrix_transpose(const fx_matrix *a, fx_matrix *result)
{
	if (!valid<T>(a) || shares(result, a))
		return nullptr;
	fx_matrix *r = result_for<T>(result, a->columns, a->rows, a->q);
	if (!r)
		return nullptr;
	for (uint64_t i = 0; i < a->rows; i++)
		for (uint64_t j = 0; j < a->columns; j++)
			elements<T>(r)[j * a->rows + i] = elements<T>(a)[i * a->columns + j];
	return r;
}

template <typename T>
static fx_matrix *matrix_augment(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	uint64_t columns;
	if (!valid<T>(a) || !valid<T>(b) || a->rows != b->rows || shares(result, a) || shares(result, b) ||
	    __builtin_add_overflow(a->columns, b->columns, &columns))
		return nullptr;
	fx_matrix *r = result_for<T>(result, a->rows, columns, a->q);
	if (!r)
		return nullptr;
	for (uint64_t i = 0; i < a->rows; i++) {
		T *row = elements<T>(r) + i * columns;
		memcpy(row, elements<T>(a) + i * a->columns, a->columns * sizeof(T));
		memcpy(row + a->columns, elements<T>(b) + i * b->columns, b->columns * sizeof(T));
	}
	return r;
}

template <typename T> static int matrix_equal(const fx_matrix *a, const fx_matrix *b, T tolerance)
{
	if (!valid<T>(a) || !valid<T>(b) || a->rows != b->rows || a->columns != b->columns)
		return 0;
	for (uint64_t i = 0; i < count_of(a); i++) {
		int64_t d = (int64_t)elements<T>(a)[i] - (int64_t)elements<T>(b)[i];
		if (abs64(d) > tolerance)
			return 0;
	}
	return 1;
}

template <typename T> static void matrix_load(fx_matrix *m, const T *data)
{
	if (valid<T>(m) && data)
		memcpy(m->data, data, count_of(m) * sizeof(T));
}

fx_matrix *fx_matrix_new32(uint64_t rows, uint64_t columns, uint32_t q, const int32_t *data)
{
	return matrix_new<int32_t>(rows, columns, q, data);
}

fx_matrix *fx_matrix_new64(uint64_t rows, uint64_t columns, uint32_t q, const int64_t *data)
{
	return matrix_new<int64_t>(rows, columns, q, data);
}

void fx_matrix_free32(fx_matrix *m)
{
	matrix_free(m);
}

void fx_matrix_free64(fx_matrix *m)
{
	matrix_free(m);
}

void fx_matrix_load32(fx_matrix *m, const int32_t *data)
{
	matrix_load<int32_t>(m, data);
}

void fx_matrix_load64(fx_matrix *m, const int64_t *data)
{
	matrix_load<int64_t>(m, data);
}

void *fx_matrix_data(const fx_matrix *m)
{
	return m ? m->data : nullptr;
}

fx_matrix *fx_matrix_mul32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_mul<int32_t>(a, b, result);
}

fx_matrix *fx_matrix_mul64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_mul<int64_t>(a, b, result);
}

fx_matrix *fx_matrix_add32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	if (!b)
		return nullptr;
	return matrix_map<int32_t>(a, b, result, add_t<int32_t>);
}

fx_matrix *fx_matrix_add64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	if (!b)
		return nullptr;
	return matrix_map<int64_t>(a, b, result, add_t<int64_t>);
}

fx_matrix *fx_matrix_add_scalar32(const fx_matrix *a, int32_t s, fx_matrix *result)
{
	return matrix_map<int32_t>(a, nullptr, result, [s](int32_t e, int32_t) { return add_t(e, s); });
}

fx_matrix *fx_matrix_add_scalar64(const fx_matrix *a, int64_t s, fx_matrix *result)
{
	return matrix_map<int64_t>(a, nullptr, result, [s](int64_t e, int64_t) { return add_t(e, s); });
}

fx_matrix *fx_matrix_mul_elem32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_mul_elem<int32_t>(a, b, result);
}

fx_matrix *fx_matrix_mul_elem64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_mul_elem<int64_t>(a, b, result);
}

fx_matrix *fx_matrix_scale32(const fx_matrix *a, int32_t s, fx_matrix *result)
{
	return matrix_scale<int32_t>(a, s, result);
}

fx_matrix *fx_matrix_scale64(const fx_matrix *a, int64_t s, fx_matrix *result)
{
	return matrix_scale<int64_t>(a, s, result);
}

fx_matrix *fx_matrix_scale_row32(const fx_matrix *a, uint64_t row, int32_t s, fx_matrix *result)
{
	return matrix_scale_row<int32_t>(a, row, s, result);
}

fx_matrix *fx_matrix_scale_row64(const fx_matrix *a, uint64_t row, int64_t s, fx_matrix *result)
{
	return matrix_scale_row<int64_t>(a, row, s, result);
}

fx_matrix *fx_matrix_swap_rows32(const fx_matrix *a, uint64_t row1, uint64_t row2, fx_matrix *result)
{
	return matrix_swap_rows<int32_t>(a, row1, row2, result);
}

fx_matrix *fx_matrix_swap_rows64(const fx_matrix *a, uint64_t row1, uint64_t row2, fx_matrix *result)
{
	return matrix_swap_rows<int64_t>(a, row1, row2, result);
}

fx_matrix *fx_vandermonde32(const int32_t *x, uint64_t rows, uint64_t columns, uint32_t q, fx_matrix *result)
{
	return vandermonde<int32_t>(x, rows, columns, q, result);
}

fx_matrix *fx_vandermonde64(const int64_t *x, uint64_t rows, uint64_t columns, uint32_t q, fx_matrix *result)
{
	return vandermonde<int64_t>(x, rows, columns, q, result);
}

fx_matrix *fx_matrix_transpose32(const fx_matrix *a, fx_matrix *result)
{
	return matrix_transpose<int32_t>(a, result);
}

fx_matrix *fx_matrix_transpose64(const fx_matrix *a, fx_matrix *result)
{
	return matrix_transpose<int64_t>(a, result);
}

fx_matrix *fx_matrix_augment32(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_augment<int32_t>(a, b, result);
}

fx_matrix *fx_matrix_augment64(const fx_matrix *a, const fx_matrix *b, fx_matrix *result)
{
	return matrix_augment<int64_t>(a, b, result);
}

int fx_matrix_equal32(const fx_matrix *a, const fx_matrix *b, int32_t tolerance)
{
	return matrix_equal<int32_t>(a, b, tolerance);
}

int fx_matrix_equal64(const fx_matrix *a, const fx_matrix *b, int64_t tolerance)
{
	return matrix_equal<int64_t>(a, b, tolerance);
}

void fx_matrix_print32(const fx_matrix *m, const char *format)
{
	if (!valid<int32_t>(m) || !format || m->q > 31)
		return;
	for (uint64_t i = 0; i < m->rows; i++) {
		std::string line;
		for (uint64_t j = 0; j < m->columns; j++) {
			float f = (float)elements<int32_t>(m)[i * m->columns + j] * fx_xtof_tab[m->q];
			char buf[64];
			snprintf(buf, sizeof(buf), format, (double)f);
			line += j ? "  " : "";
			line += buf;
		}
		debug_output(DEBUG_INFO, 0, "%s\n", line.c_str());
	}
}

void fx_matrix_print64(const fx_matrix *m)
{
	if (!valid<int64_t>(m))
		return;
	// One message per row: the log ends every message's line.
	for (uint64_t i = 0; i < m->rows; i++) {
		std::string line;
		for (uint64_t j = 0; j < m->columns; j++) {
			char buf[64];
			snprintf(buf, sizeof(buf), "%f",
			         (double)fx_to_float(elements<int64_t>(m)[i * m->columns + j], (int)m->q));
			line += j ? "  " : "";
			line += buf;
		}
		debug_output(DEBUG_INFO, 0, "%s\n", line.c_str());
	}
}

/* Numeric helpers of the 3A library. */
#include "smooth_change.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool data_invalid(const void *p, int32_t n, const char *fn)
{
	if (p && n > 0)
		return false;
	printf("Data invalid in %s.\n", fn);
	return true;
}

int32_t blend_shift(int32_t a, int32_t wa, int32_t b, int32_t wb, int32_t shift)
{
	if (shift < 0 || shift > 31) {
		printf("Data invalid in %s.\n", __func__);
		return 0;
	}
	uint32_t sum = (uint32_t)b * (uint32_t)wb + (uint32_t)a * (uint32_t)wa;
	return (int32_t)sum >> shift;
}

int32_t clamp_i32(int32_t v, int32_t lo, int32_t hi)
{
	if (v >= hi)
		return hi;
	return v > lo ? v : lo;
}

int32_t lerp_mid(int32_t x, uint32_t x0, uint32_t x1, int32_t y0, int32_t y1)
{
	if (x0 == x1)
		return (int32_t)(((int64_t)y0 + y1) / 2);
	int64_t num = ((int64_t)x - x0) * y1 + ((int64_t)x1 - x) * y0;
	return (int32_t)(num / ((int64_t)x1 - x0));
}

int64_t linear_map64(int64_t x, int64_t x0, int64_t x1, int64_t y0, int64_t y1)
{
	if (x <= x0)
		return y0;
	if (x >= x1)
		return y1;
	if (y0 == y1)
		return y0;
	return ((x - x0) * y1 + (x1 - x) * y0) / (x1 - x0);
}

int32_t linear_map(int32_t x, int32_t x0, int32_t x1, int32_t y0, int32_t y1)
{
	return (int32_t)linear_map64(x, x0, x1, y0, y1);
}

int32_t smooth_change(int32_t target, int32_t current, int32_t speed)
{
	if (target == current)
		return target;
	if (speed == 0) {
		printf("speed of %2d is not acceptable in %s\n.", 0, "smooth_change");
		return current;
	}
	int64_t dist = llabs((int64_t)target - current);
	if (speed == 65536 || dist <= speed)
		return target > current ? current + 1 : current - 1;
	return (int32_t)(((int64_t)target + (int64_t)(speed - 1) * current) / speed);
}

/* Rounds half up and keeps the result in 0..b; NaN counts as 0. */
static int32_t round_into_range(float v, uint32_t b)
{
	if (!(v > 0.0f))
		return 0;
	if (v >= (float)b)
		return (int32_t)b;
	int64_t r = (int64_t)(v + 0.5f);
	return (int32_t)(r > (int64_t)b ? b : r);
}

int32_t log_encode(uint32_t a, uint32_t b, float base, float x)
{
	if (a == 0 || b == 0) {
		puts("err: illegal unit value.");
		return -1;
	}
	float v;
	if (base < 2.0f)
		v = logf(x + 1e-10f) / logf((float)a) * (float)b;
	else
		v = logf(base * x / (float)a + 1e-10f) / logf(base) * (float)b;
	return round_into_range(v, b);
}

int32_t log_decode(uint32_t a, uint32_t b, float base, float y)
{
	if (a == 0 || b == 0) {
		puts("err: illegal unit value.");
		return -1;
	}
	float v;
	if (base < 0.0f || base > 1.0f)
		v = (float)b * expf(logf(base) / (float)a * y) / base;
	else
		v = expf(logf((float)b) / (float)a * y);
	return round_into_range(v, b);
}

static bool same_sign_nonzero(float a, float b)
{
	return (a > 0.0f && b > 0.0f) || (a < 0.0f && b < 0.0f);
}

/* The three-point estimate at an end, kept from overshooting (h and delta
 * of the end interval first, then of its neighbour). */
static float pchip_end_slope(float h0, float h1, float del0, float del1)
{
	float d = ((2.0f * h0 + h1) * del0 - h0 * del1) / (h0 + h1);
	if (d * del0 <= 0.0f)
		return 0.0f;
	float dmax = 3.0f * del0;
	if (!same_sign_nonzero(del0, del1) && (int32_t)fabsf(d) > (int32_t)fabsf(dmax))
		return dmax;
	return d;
}

void pchip_slopes(const float *x, const float *y, int n, float *d)
{
	if (!x || !y || !d || n <= 0)
		return;
	for (int i = 1; i < n; i++) {
		if (!(x[i] > x[i - 1])) {
			puts("err: entry points should be monotonically increasing");
			return;
		}
	}
	if (n == 1) {
		d[0] = 0.0f;
		return;
	}
	float h0 = x[1] - x[0];
	float del0 = (y[1] - y[0]) / h0;
	if (n == 2) {
		d[0] = d[1] = del0;
		return;
	}
	d[0] = pchip_end_slope(h0, x[2] - x[1], del0, (y[2] - y[1]) / (x[2] - x[1]));
	for (int i = 1; i < n - 1; i++) {
		float hl = x[i] - x[i - 1], hr = x[i + 1] - x[i];
		float dl = (y[i] - y[i - 1]) / hl, dr = (y[i + 1] - y[i]) / hr;
		d[i] = 0.0f;
		if (!same_sign_nonzero(dl, dr))
			continue;
		float w1 = (2.0f * hl + hr) / (3.0f * (hl + hr));
		float w2 = 1.0f - w1;
		/* Truncated magnitudes: below 1 the slope flattens to 0, which
		 * keeps the curve monotone. */
		int32_t dmax = (int32_t)fmaxf(fabsf(dl), fabsf(dr));
		int32_t dmin = (int32_t)fminf(fabsf(dl), fabsf(dr));
		if (dmax == 0)
			continue;
		d[i] = (float)dmin / (w1 * dl / (float)dmax + w2 * dr / (float)dmax);
	}
	float hl = x[n - 2] - x[n - 3], hr = x[n - 1] - x[n - 2];
	d[n - 1] = pchip_end_slope(hr, hl, (y[n - 1] - y[n - 2]) / hr, (y[n - 2] - y[n - 3]) / hl);
}

void hermite_eval(const float *x, const float *y, int n, const float *d, float *out, float x_at)
{
	if (!x || !y || !d || !out || n <= 0)
		return;
	if (x_at < x[0] || x_at > x[n - 1])
		return;
	int k = 0;
	while (k < n - 1 && x[k + 1] <= x_at)
		k++;
	if (x_at == x[k]) {
		*out = y[k];
		return;
	}
	float h = x[k + 1] - x[k];
	float t = (x_at - x[k]) / h;
	float u = 1.0f - t;
	*out = y[k] * (1.0f + 2.0f * t) * u * u + y[k + 1] * (3.0f - 2.0f * t) * t * t +
	       d[k] * h * t * u * u + d[k + 1] * h * t * t * (t - 1.0f);
}

void spline_second_derivs(const float *x, const float *y, int n, float *y2, float yp1, float ypn)
{
	if (!x || !y || !y2 || n < 2)
		return;
	float *u = (float *)malloc((size_t)n * sizeof(float));
	if (!u)
		return;
	if (yp1 > 9.9e29f) {
		y2[1] = u[1] = 0.0f;
	} else {
		y2[1] = -0.5f;
		u[1] = (3.0f / (x[2] - x[1])) * ((y[2] - y[1]) / (x[2] - x[1]) - yp1);
	}
	for (int i = 2; i <= n - 1; i++) {
		float sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
		float p = sig * y2[i - 1] + 2.0f;
		y2[i] = (sig - 1.0f) / p;
		u[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
		u[i] = (6.0f * u[i] / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
	}
	float qn = 0.0f, un = 0.0f;
	if (ypn <= 9.9e29f) {
		qn = 0.5f;
		un = (3.0f / (x[n] - x[n - 1])) * (ypn - (y[n] - y[n - 1]) / (x[n] - x[n - 1]));
	}
	y2[n] = (un - qn * u[n - 1]) / (qn * y2[n - 1] + 1.0f);
	for (int k = n - 1; k >= 1; k--)
		y2[k] = y2[k] * y2[k + 1] + u[k];
	free(u);
}

void splint(const float *xa, const float *ya, const float *y2a, int n, float *out, float x)
{
	if (!xa || !ya || !y2a || !out || n < 2)
		return;
	int klo = 1, khi = n;
	while (khi - klo > 1) {
		int k = (khi + klo) >> 1;
		if (xa[k] > x)
			khi = k;
		else
			klo = k;
	}
	float h = xa[khi] - xa[klo];
	if (h == 0.0f) {
		puts("Bad xa input to routine splint");
		*out = 1e30f;
		return;
	}
	float a = (xa[khi] - x) / h;
	float b = (x - xa[klo]) / h;
	*out = a * ya[klo] + b * ya[khi] +
	       ((a * a * a - a) * y2a[klo] + (b * b * b - b) * y2a[khi]) * (h * h) / 6.0f;
}

uint64_t array_sum_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return 0;
	uint64_t sum = 0;
	for (int32_t i = 0; i < n; i++)
		sum += a[i];
	return sum;
}

uint32_t array_avg_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return 0;
	return (uint32_t)(array_sum_u32(a, n) / (uint64_t)n);
}

int32_t array_avg_conv_u32(const uint32_t *in, uint32_t *out, int32_t n, int32_t m)
{
	if (data_invalid(in, n, __func__) || data_invalid(out, n, __func__))
		return -1;
	if (m <= 0 || m > n) {
		printf("Can't get convolution with array length %d and conv length %d\n", n, m);
		return -1;
	}
	uint64_t sum = 0;
	for (int32_t i = 0; i < n; i++) {
		sum += in[i];
		if (i >= m)
			sum -= in[i - m];
		out[i] = (uint32_t)(sum / (uint64_t)(i < m - 1 ? i + 1 : m));
	}
	return 0;
}

uint32_t array_std_var_err_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return 0;
	int64_t mean = (int64_t)array_avg_u32(a, n);
	uint64_t sq = 0;
	for (int32_t i = 0; i < n; i++) {
		int64_t dev = (int64_t)a[i] - mean;
		sq += (uint64_t)(dev * dev);
	}
	return (uint32_t)sqrt((double)(sq / (uint64_t)n));
}

int64_t array_max_value_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return -1;
	return a[array_max_value_index_u32(a, n)];
}

int64_t array_min_value_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return -1;
	uint32_t v = a[0];
	for (int32_t i = 1; i < n; i++)
		if (a[i] < v)
			v = a[i];
	return v;
}

int32_t array_max_value_index_u32(const uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return -1;
	int32_t k = 0;
	for (int32_t i = 1; i < n; i++)
		if (a[i] > a[k])
			k = i;
	return k;
}

int32_t hist_split(const uint32_t *h, int32_t n)
{
	if (data_invalid(h, n, __func__))
		return -1;
	double total = 0.0, moment = 0.0;
	for (int32_t i = 0; i < n; i++) {
		total += h[i];
		moment += (double)i * h[i];
	}
	double n1 = 0.0, m1 = 0.0, best = -1.0;
	int32_t split = 0;
	for (int32_t k = 0; k < n - 1; k++) {
		n1 += h[k];
		m1 += (double)k * h[k];
		double n2 = total - n1;
		if (n1 <= 0.0 || n2 <= 0.0)
			continue;
		double diff = m1 / n1 - (moment - m1) / n2;
		double score = n1 * n2 * diff * diff;
		if (score > best) {
			best = score;
			split = k;
		}
	}
	return split;
}

int32_t hist_first_valley(const uint32_t *h, int32_t n)
{
	if (data_invalid(h, n, __func__) || n < 4)
		return 0;
	for (int32_t i = 1; i <= n - 3; i++) {
		uint64_t prev = h[i - 1] < 512 ? 512 : h[i - 1];
		uint64_t cur = h[i] < 512 ? 512 : h[i];
		uint64_t next = h[i + 1] < 512 ? 512 : h[i + 1];
		if (prev * 95 / 100 <= cur && cur * 95 / 100 <= next)
			return i - 1;
	}
	return n - 3;
}

int32_t hist_falling_point_u32(const uint32_t *h, int32_t n)
{
	if (data_invalid(h, n, __func__) || n < 4)
		return -1;
	int32_t p = array_max_value_index_u32(h, n);
	uint32_t peak = h[p];
	uint32_t edge = peak / 16 > 512 ? peak / 16 : 512;
	uint32_t floor_level = peak / 512 > 512 ? peak / 512 : 512;
	uint32_t run_min = peak;
	for (int32_t i = p; i < n - 4; i++) {
		uint32_t lo = h[i], hi = h[i];
		for (int32_t k = 1; k < 3; k++) {
			lo = h[i + k] < lo ? h[i + k] : lo;
			hi = h[i + k] > hi ? h[i + k] : hi;
		}
		run_min = lo < run_min ? lo : run_min;
		if (run_min < edge && hi - lo < edge / 8)
			return i;
		if (run_min < floor_level)
			return i;
	}
	return n - 4;
}

int32_t hist_tail_index(const uint32_t *h, int32_t n, uint64_t count)
{
	if (data_invalid(h, n, __func__))
		return -1;
	uint64_t acc = 0;
	for (int32_t i = n - 1; i >= 0; i--) {
		acc += h[i];
		if (acc >= count)
			return i - 1;
	}
	return 0;
}

int32_t hist_low_index(const uint32_t *h, int32_t n)
{
	if (data_invalid(h, n, __func__))
		return 0;
	uint64_t limit = array_sum_u32(h, n) / 4096;
	for (int32_t i = 0; i < n; i++)
		if (h[i] > limit)
			return i;
	return n;
}

int32_t hist_high_index(const uint32_t *h, int32_t n)
{
	if (data_invalid(h, n, __func__))
		return 0;
	uint64_t limit = array_sum_u32(h, n) / 65536;
	for (int32_t i = n - 1; i >= 0; i--)
		if (h[i] > limit)
			return i;
	return 0;
}

int32_t hist_flatness_score(const uint32_t *h, int32_t n)
{
	if (!h || n <= 9) {
		printf("Data invalid in %s.\n", __func__);
		return -1;
	}
	uint64_t sum = array_sum_u32(h, n);
	uint64_t least = sum / 512 > 512 ? sum / 512 : 512;
	int32_t seg = n / 10;
	uint64_t mean[9];
	for (int32_t j = 0; j < 9; j++) {
		uint64_t s = 0;
		for (int32_t i = j * seg; i < j * seg + 2 * seg; i++)
			s += h[i];
		mean[j] = s / (uint64_t)(2 * seg);
		if (mean[j] < least)
			mean[j] = least;
	}
	bool last_rises = false, uneven = false;
	for (int32_t j = 0; j < 8; j++)
		last_rises = last_rises || mean[8] > mean[j];
	for (int32_t j = 0; j < 9; j++) {
		for (int32_t k = j + 1; k < 9; k++) {
			uint64_t lo = mean[j] < mean[k] ? mean[j] : mean[k];
			uint64_t hi = mean[j] < mean[k] ? mean[k] : mean[j];
			uneven = uneven || hi - lo > lo / 10;
		}
	}
	return last_rises && uneven ? 0 : 100;
}

static uint32_t analyse_scratch[HIST_ANALYSE_MAX];

int32_t hist_analyse_range(int32_t *value, int32_t *high, const uint32_t *h, int32_t n)
{
	if (!value || !high || data_invalid(h, n, __func__) || n > HIST_ANALYSE_MAX)
		return -1;
	if (array_avg_conv_u32(h, analyse_scratch, n, n < 5 ? n : 5) < 0)
		return -1;
	int32_t top = hist_high_index(analyse_scratch, n);
	int32_t fall = clamp_i32(hist_falling_point_u32(analyse_scratch, n), 6, 24);
	int32_t score = hist_flatness_score(analyse_scratch, n);
	int32_t split = hist_split(analyse_scratch, n);
	int32_t valley = split + 1;
	if (split + 1 < n)
		valley += hist_first_valley(analyse_scratch + split + 1, n - split - 1);
	*value = linear_map(score, 0, 100, valley, fall);
	*high = top;
	return top > *value ? 0 : -1;
}

int32_t array_cumsum_u32(uint64_t *out, const uint32_t *in, int32_t n)
{
	if (data_invalid(in, n, __func__) || data_invalid(out, n, __func__))
		return -1;
	uint64_t sum = 0;
	for (int32_t i = 0; i < n; i++)
		out[i] = sum += in[i];
	return 0;
}

int32_t histogram_equalization_u32(const uint32_t *in, uint32_t *out, int32_t n)
{
	if (data_invalid(in, n, __func__) || data_invalid(out, n, __func__))
		return -1;
	int32_t low = hist_low_index(in, n);
	int32_t high = hist_high_index(in, n);
	if (low >= high) {
		printf("Data invalid in %s.\n", __func__);
		return -1;
	}
	memset(out, 0, (size_t)n * sizeof(*out));
	for (int32_t i = 0; i < n; i++) {
		int64_t k = ((int64_t)i - low) * (n - 1) / (high - low);
		k = k < 0 ? 0 : (k > n - 1 ? n - 1 : k);
		out[k] += in[i];
	}
	return 0;
}

int32_t array_normalize_u32(uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return -1;
	uint64_t sum = array_sum_u32(a, n);
	if (sum == 0) {
		printf("Data invalid in %s.\n", __func__);
		return -1;
	}
	float factor = 1048576.0f / (float)sum;
	for (int32_t i = 0; i < n; i++)
		a[i] = (uint32_t)((float)a[i] * factor);
	return 0;
}

void hist_expand_64_to_256(uint32_t *out, const uint32_t *in)
{
	if (data_invalid(out, 1, __func__) || data_invalid(in, 1, __func__))
		return;
	for (int i = 0; i < 64; i++) {
		uint32_t v = in[i], used = 0;
		for (uint32_t k = 0; k < 3; k++) {
			out[4 * i + k] = v / 8 + (v / 12) * k;
			used += out[4 * i + k];
		}
		out[4 * i + 3] = v - used;
	}
}

int32_t array_diff_u32(const uint32_t *in, int32_t *out, int32_t n)
{
	if (data_invalid(in, n, __func__) || data_invalid(out, n, __func__))
		return -1;
	out[0] = 0;
	for (int32_t i = 1; i < n; i++)
		out[i] = (int32_t)((int64_t)in[i] - in[i - 1]);
	return 0;
}

int32_t array_diff2_u32(const uint32_t *in, int32_t *out, int32_t n)
{
	if (data_invalid(in, n, __func__) || data_invalid(out, n, __func__))
		return -1;
	for (int32_t i = 0; i < n; i++)
		out[i] = i < 2 ? 0 : (int32_t)((int64_t)in[i] - 2 * (int64_t)in[i - 1] + in[i - 2]);
	return 0;
}

void array_bubble_sort_u32(uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return;
	for (int32_t i = 0; i < n - 1; i++) {
		for (int32_t j = 0; j < n - 1 - i; j++) {
			if (a[j] > a[j + 1]) {
				uint32_t t = a[j];
				a[j] = a[j + 1];
				a[j + 1] = t;
			}
		}
	}
}

static void swap_u32(uint32_t *a, uint32_t *b)
{
	uint32_t t = *a;
	*a = *b;
	*b = t;
}

/* Recurses into the smaller side only, so the stack stays logarithmic even
 * on sorted input. */
static void quick_sort(uint32_t *a, int32_t lo, int32_t hi)
{
	while (lo < hi) {
		uint32_t pivot = a[lo];
		int32_t i = lo;
		for (int32_t j = lo + 1; j <= hi; j++)
			if (a[j] < pivot)
				swap_u32(&a[++i], &a[j]);
		swap_u32(&a[lo], &a[i]);
		if (i - lo < hi - i) {
			quick_sort(a, lo, i - 1);
			lo = i + 1;
		} else {
			quick_sort(a, i + 1, hi);
			hi = i - 1;
		}
	}
}

void array_quick_sort_u32(uint32_t *a, int32_t n)
{
	if (data_invalid(a, n, __func__))
		return;
	quick_sort(a, 0, n - 1);
}

int32_t ring_avg_u32(uint32_t *value, uint32_t *index, uint32_t *buffer, uint32_t length)
{
	if (!value || !index || data_invalid(buffer, (int32_t)(length > 0), __func__))
		return -1;
	if (*index >= length) {
		puts("Error: index is beyond array length.");
		return -1;
	}
	buffer[*index] = *value;
	uint32_t sum = 0;
	for (uint32_t i = 0; i < length; i++)
		sum += buffer[i];
	*value = sum / length;
	*index = (*index + 1) % length;
	return 0;
}

void smooth_change_predict(int32_t previous, int32_t next, int32_t *value)
{
	static int64_t d1, d2;
	if (!value) {
		printf("Data invalid in %s.\n", __func__);
		return;
	}
	int64_t d = (int64_t)next - previous;
	if (llabs(d) * 100 <= llabs((int64_t)next) * 7)
		d = 0;
	int64_t target = (72 * d + 16 * (d - d1) + 128 * (d - 2 * d1 + d2)) >> 8;
	if (llabs(*value - target) > 8)
		*value = smooth_change((int32_t)target, *value, 32);
	d2 = d1;
	d1 = d;
}

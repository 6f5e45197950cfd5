#pragma once
// Small fixed-point steps that the lens tables share. Internal to optics.

#include <stdint.h>

#include "core/fixed_point.h"

// The two points of a table that bracket value from below: the end
// segments are used beyond either end, and a table of one point brackets
// with itself (lo = hi = 0), so that no lookup reads past the table.
static inline void optics_lower_bracket(int32_t value, const int32_t *table, int32_t count, int *lo, int *hi)
{
	int i = fx_table_search(value, table, count, FX_SEARCH_BELOW);
	if (i < 0)
		i = 0;
	if (count < 2) {
		*lo = *hi = 0;
		return;
	}
	if (i > count - 2)
		i = count - 2;
	*lo = i;
	*hi = i + 1;
}

// v with its q lowest bits dropped, rounded half up; v itself for q <= 0.
static inline int64_t optics_round_shift(int64_t v, int q)
{
	if (q <= 0)
		return v;
	return ((v >> (q - 1)) + 1) >> 1;
}

// a / b rounded half away from zero; 0 when b is 0.
static inline int64_t optics_div_round(int64_t a, int64_t b)
{
	if (b == 0)
		return 0;
	int64_t half = (b < 0 ? -b : b) / 2;
	return (a < 0 ? a - half : a + half) / b;
}

static inline int32_t optics_q14_mul(int64_t a, int64_t b)
{
	return (int32_t)optics_round_shift(a * b, 14);
}

static inline int32_t optics_q14_div(int64_t a, int64_t b)
{
	return (int32_t)optics_div_round(a * 16384, b);
}

// A whole number as Q14, wrapping like the 32-bit arithmetic of the tables.
static inline int32_t optics_q14(int32_t v)
{
	return (int32_t)(uint32_t)((uint32_t)v << 14);
}

// The distance index (curve << 9 | fraction) of dioptres between the curves
// of a distance table (Q14 dioptres per curve, ascending); 0 without one.
static inline int32_t optics_table_index(int32_t dioptres, const int32_t *table, int32_t count)
{
	if (!table || count <= 0)
		return 0;
	int lo, hi;
	optics_lower_bracket(dioptres, table, count, &lo, &hi);
	int32_t curve = fx_lin_interp(dioptres, table[lo], table[hi], optics_q14(lo), optics_q14(hi));
	return (int32_t)optics_round_shift(curve, 5);
}

// The dioptres of a distance index on a distance table, the last pair
// used beyond its end; 0 without a table.
static inline int32_t optics_table_dioptres(int32_t index, const int32_t *table, int32_t count)
{
	if (!table || count <= 0)
		return 0;
	if (count == 1)
		return table[0];
	int32_t lo = index >> 9;
	if (lo > count - 2)
		lo = count - 2;
	return fx_lin_interp(index, lo << 9, (lo + 1) << 9, table[lo], table[lo + 1]);
}

#pragma once
// The table look-ups of the tone and HDR steps. A configured list is a
// pointer and an element count, laid out as the product configuration's
// reader stores a list (pointer, then a 64-bit count).

#include <stdint.h>

struct dic_list {
	int32_t *v;
	uint64_t n;
};

static inline int dic_list_given(const struct dic_list *l)
{
	return l && l->v && l->n > 0;
}

// Q14 lists, x in Q14. The first entry whose x is at least x decides: none
// gives the last y, the first entry the first y (held below the first x),
// else the rounded interpolation with the entry before; the result is y /
// 16384. A missing list leaves *out untouched; lists of unequal length are
// read to the shorter.
void dic_map_lookup(const struct dic_list *xs, const struct dic_list *ys, int32_t x, double *out);
// x list in whole units, y list integers, x in Q14. Below the first point
// the first two points are extrapolated; one point gives its y. The
// interpolation runs in Q14 and is rounded as ((v >> 13) + 1) >> 1.
void dic_map_lookup_int(const struct dic_list *xs, const struct dic_list *ys, int32_t x, int32_t *out);

// Q14 of a double, rounded half away from zero and saturated to 32 bits.
int32_t dic_q14(double value);

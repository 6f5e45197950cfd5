// Dynamic image control: one step per stream that re-tunes, from each image
// statistics record, the settings that shape tones, and hands them to the
// camera library as pending settings.

#include <math.h>
#include <stdint.h>

#include "core/fixed_point.h"
#include "dic_map.h"

namespace
{

uint64_t pair_count(const dic_list *xs, const dic_list *ys)
{
	if (!dic_list_given(xs) || !dic_list_given(ys))
		return 0;
	return xs->n < ys->n ? xs->n : ys->n;
}

} // namespace

int32_t dic_q14(double value)
{
	double q = value * 16384.0;
	if (!(q == q))
		return 0;
	if (q >= 2147483647.0)
		return INT32_MAX;
	if (q <= -2147483648.0)
		return INT32_MIN;
	return (int32_t)lround(q);
}

void dic_map_lookup(const dic_list *xs, const dic_list *ys, int32_t x, double *out)
{
	uint64_t n = pair_count(xs, ys);
	if (!n || !out)
		return;
	uint64_t i = 0;
	while (i < n && xs->v[i] < x)
		i++;
	if (i == n) {
		*out = ys->v[n - 1] / 16384.0;
		return;
	}
	if (i == 0) {
		*out = ys->v[0] / 16384.0;
		return;
	}
	int64_t y = fx_lin_interp64(x, xs->v[i - 1], xs->v[i], ys->v[i - 1], ys->v[i]);
	*out = (double)y / 16384.0;
}

void dic_map_lookup_int(const dic_list *xs, const dic_list *ys, int32_t x, int32_t *out)
{
	uint64_t n = pair_count(xs, ys);
	if (!n || !out)
		return;
	if (n == 1) {
		*out = ys->v[0];
		return;
	}
	uint64_t i = 0;
	while (i < n && (int64_t)x > (int64_t)xs->v[i] * 16384)
		i++;
	if (i == n) {
		*out = ys->v[n - 1];
		return;
	}
	uint64_t i0 = i == 0 ? 0 : i - 1;
	uint64_t i1 = i == 0 ? 1 : i;
	int64_t v = fx_lin_interp64(x, (int64_t)xs->v[i0] * 16384, (int64_t)xs->v[i1] * 16384,
	                            (int64_t)ys->v[i0] * 16384, (int64_t)ys->v[i1] * 16384);
	*out = (int32_t)(((v >> 13) + 1) >> 1);
}

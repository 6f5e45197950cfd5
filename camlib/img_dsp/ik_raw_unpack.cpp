/* Statistics bit-unpacker: block-floating-point raw data. */
#include "ik_helpers.h"

#include <stddef.h>

static img_dsp_raw_unpack_param param;

int img_dsp_core_set_raw_unpack_param(uint8_t resolution, uint8_t m, uint8_t g)
{
	static const uint8_t base[2][4] = {{1, 0, 0, 0}, {2, 1, 0, 0}};
	static const uint8_t headroom[2][4] = {{8, 7, 6, 5}, {9, 8, 7, 6}};
	if ((resolution != 14 && resolution != 15) || m < 6 || m > 9 || (g != 2 && g != 4))
		return -1;
	int r = resolution - 14;
	param.m = m;
	param.base = base[r][m - 6];
	param.headroom = headroom[r][m - 6];
	param.g = g;
	param.h = g == 2 ? 1 : 2;
	param.B = (uint8_t)(m * g + 3);
	return 0;
}

img_dsp_raw_unpack_param img_dsp_core_get_raw_unpack_param(void)
{
	return param;
}

/*
 * The group's bits, least significant first. Only the words that hold the
 * group are read: a wide group (up to 39 bits) at a high bit offset spans
 * three words, and reading a fixed pair past the last group would run over
 * the end of the caller's row.
 */
static uint64_t read_group(const uint32_t *row, uint32_t bit)
{
	uint32_t first = bit / 32;
	uint32_t last = (bit + param.B - 1) / 32;
	unsigned shift = bit % 32;
	uint64_t v = row[first] >> shift;
	for (uint32_t w = first + 1; w <= last; w++)
		v |= (uint64_t)row[w] << (32 * (w - first) - shift);
	return v & ((1ull << param.B) - 1);
}

static uint16_t sample(uint64_t group, unsigned j)
{
	unsigned e = (unsigned)(group & 7);
	uint32_t mant = (uint32_t)(group >> (3 + j * param.m)) & ((1u << param.m) - 1);
	return (uint16_t)(mant << (e + param.base));
}

static uint32_t group_of(uint32_t c)
{
	return 2 * (c >> (param.h + 1)) + (c & 1);
}

static uint32_t min_u32(uint32_t a, uint32_t b)
{
	return a < b ? a : b;
}
static uint32_t max_u32(uint32_t a, uint32_t b)
{
	return a > b ? a : b;
}

static void unpack_row(const uint32_t *row, uint32_t x_start, uint32_t x_end, uint16_t *out)
{
	uint32_t lo = min_u32(group_of(x_start), group_of(x_start + 1));
	/* Column 0 has no left neighbour to widen the range with. */
	uint32_t hi = x_end == 0 ? group_of(0) : max_u32(group_of(x_end), group_of(x_end - 1));
	for (uint32_t k = lo; k <= hi; k++) {
		uint64_t grp = read_group(row, k * param.B);
		uint32_t col0 = 2u * param.g * (k / 2) + (k % 2);
		for (unsigned j = 0; j < param.g; j++) {
			uint32_t c = col0 + 2 * j;
			if (c >= x_start && c <= x_end)
				out[c - x_start] = sample(grp, j);
		}
	}
}

int img_dsp_core_unpack_raw(const uint32_t *src, const uint32_t *region, uint16_t *out)
{
	if (!src || !region || !out)
		return -1;
	/* Without parameters there is no group width to step by. */
	if (param.B == 0)
		return -1;
	uint32_t pitch = region[0];
	uint32_t x_start = region[1], y_start = region[2], x_end = region[3], y_end = region[4];
	if (x_start > x_end)
		return 0;
	size_t width = (size_t)x_end + 1 - x_start;
	for (uint32_t y = y_start; y <= y_end; y++) {
		unpack_row(src + (size_t)(pitch / 4) * y, x_start, x_end,
		           out + (size_t)(y - y_start) * width);
		if (y == UINT32_MAX)
			break;
	}
	return 0;
}

uint16_t img_dsp_core_get_raw_pixel(const uint32_t *src, uint32_t pitch, uint32_t row, uint32_t col)
{
	if (!src || param.B == 0)
		return 0;
	const uint32_t *r = src + (size_t)(pitch / 4) * row;
	uint32_t bit = ((col & 1) + 2 * (col >> (param.h + 1))) * param.B;
	unsigned j = (col >> 1) & ((1u << param.h) - 1);
	return sample(read_group(r, bit), j);
}

/* Luma metering of an exposure instance: what the channel's statistics say
 * its brightness is, by metering mode. */
#include "aaa_parser.h"
#include "ae_internal.h"

#include <math.h>
#include <string.h>

#include <initializer_list>

#define METER_TILE0 4
#define METER_DARKEST 5
#define METER_PREHIST_MEAN 7
#define METER_PREHIST_MEDIAN 8
#define LEVEL_SHIFT 4 /* levels are reported / 16 */

/* 12 columns x 8 rows: spot, centre-weighted, average. */
static const uint8_t tile_weights[3][AE_TILES] = {
    {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 1, 3, 3, 1, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 1, 3, 3, 1, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /**/
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    },
    {
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, /**/
        1, 1, 1, 1, 1, 2, 2, 1, 1, 1, 1, 1, /**/
        1, 1, 1, 1, 2, 3, 3, 2, 1, 1, 1, 1, /**/
        1, 1, 1, 2, 3, 5, 5, 3, 2, 1, 1, 1, /**/
        1, 1, 1, 2, 3, 5, 5, 3, 2, 1, 1, 1, /**/
        1, 1, 2, 3, 4, 5, 5, 4, 3, 2, 1, 1, /**/
        1, 2, 3, 4, 4, 4, 4, 4, 4, 3, 2, 1, /**/
        2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 3, 2,
    },
    {
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    },
};

const uint8_t *ae_tile_weight_table(int table)
{
	return table >= 0 && table <= 2 ? tile_weights[table] : NULL;
}

/* Luma weights by luma / 256: favouring dark tiles, flat, favouring bright
 * ones. */
static const uint8_t curve_dark[64] = {
    255, 240, 224, 208, 192, 160, 128, 96, 64, 32, 32, 32, 32, 32, 32, 32, /**/
    28,  24,  20,  16,  12,  8,   6,   4,  4,  4,  4,  4,  4,  4,  4,  4,  /**/
    2,   2,   2,   2,   2,   2,   2,   2,  1,  1,  1,  1,  1,  1,  1,  1,  /**/
    0,   0,   0,   0,   0,   0,   0,   0,  0,  0,  0,  0,  0,  0,  0,  0,
};
static const uint8_t curve_bright[64] = {
    1,  1,  1,  1,  1,  1,  1,  1,  2,   4,   8,   12,  16,  20,  24,  28, /**/
    32, 32, 32, 32, 32, 32, 32, 32, 32,  32,  32,  32,  32,  32,  32,  32, /**/
    32, 32, 32, 32, 32, 32, 32, 32, 32,  32,  32,  32,  32,  32,  32,  32, /**/
    32, 36, 42, 48, 56, 64, 76, 88, 100, 116, 132, 148, 168, 192, 220, 255,
};

static uint32_t curve_flat(int bin)
{
	static const uint8_t ends[6] = {16, 24, 0, 24, 16, 8};
	if (bin < 2)
		return ends[bin];
	return bin > 60 ? ends[bin - 58] : 32;
}

static uint32_t curve_entry(uint8_t mode, int bin)
{
	if (mode == 0)
		return curve_dark[bin];
	if (mode == 128)
		return curve_flat(bin);
	if (mode == 255)
		return curve_bright[bin];
	if (mode < 128)
		return (curve_dark[bin] * (128u - mode) + curve_flat(bin) * mode) >> 7;
	return (curve_flat(bin) * (256u - mode) + curve_bright[bin] * (mode - 128u)) >> 7;
}

static uint32_t luma_weight(uint8_t mode, uint32_t luma)
{
	uint32_t bin = luma >> 8;
	if (bin >= 63)
		return curve_entry(mode, 63);
	uint32_t f = luma & 255;
	return (curve_entry(mode, (int)bin) * (256 - f) + curve_entry(mode, (int)bin + 1) * f) >> 8;
}

static uint32_t tile_count(const aaa_parse_result *st)
{
	return st->ae_tiles < AE_TILES ? st->ae_tiles : AE_TILES;
}

/* Tile weights times luma weights; the RGB luma with the same weights. */
static uint32_t weighted_mean(ae_data *d, const aaa_parse_result *st)
{
	uint64_t w_sum = 0, l_sum = 0, rgb_w = 0, rgb_sum = 0;
	uint8_t mode = d->weight_mode;
	for (uint32_t i = 0; i < tile_count(st); i++) {
		uint32_t luma = st->set.ae[i].cfa_luma, rgb = st->set.ae[i].rgb_luma;
		if (luma == AAA_LUMA_NONE)
			continue;
		uint64_t w = (uint64_t)d->tile_weight[i] * luma_weight(mode, luma);
		w_sum += w;
		l_sum += w * luma;
		if (rgb != AAA_LUMA_NONE) {
			rgb_w += w;
			rgb_sum += w * rgb;
		}
	}
	AE_STORE(d->last_rgb_luma, (uint16_t)(rgb_w ? rgb_sum / rgb_w >> LEVEL_SHIFT : 0));
	if (w_sum == 0)
		return AE_LUMA_NONE;
	return (uint32_t)(l_sum / w_sum >> LEVEL_SHIFT);
}

static uint32_t darkest_tile(const aaa_parse_result *st)
{
	uint32_t low = AE_LUMA_NONE;
	for (uint32_t i = 0; i < tile_count(st); i++)
		if (st->set.ae[i].cfa_luma < low)
			low = st->set.ae[i].cfa_luma;
	return low == AE_LUMA_NONE ? low : low >> LEVEL_SHIFT;
}

static uint32_t prehist_level(uint32_t bin)
{
	if (bin <= 63)
		return 65 * bin;
	if (bin <= 81)
		return 4095 + 128 * (bin - 63);
	return 6400;
}

static uint32_t prehist_mean(const ae_data *d, const aaa_parse_result *st)
{
	const uint32_t *h = st->prehist[0][1];
	uint64_t n = 0, sum = 0;
	for (uint32_t b = 0; b < 128; b++) {
		n += h[b];
		sum += (uint64_t)h[b] * prehist_level(b);
	}
	if (n == 0)
		return AE_LOAD(d->last_luma);
	return (uint32_t)(sum / n >> LEVEL_SHIFT);
}

static uint32_t median_level(uint32_t i)
{
	if (i <= 62)
		return (i + 1) * 64;
	if (i <= 94)
		return 128 * i - 3968;
	return (i - 63) * 256;
}

static uint32_t prehist_median(const aaa_parse_result *st)
{
	const uint32_t *h = st->prehist[0][1];
	uint64_t total = 0;
	for (uint32_t b = 0; b < 128; b++)
		total += h[b];
	uint64_t lo = total / 2 - total * 50 / 1024, hi = total / 2 + total * 50 / 1024;
	uint64_t c = 0;
	uint32_t i1 = 127, i2 = 127;
	bool have1 = false;
	for (uint32_t b = 0; b < 128; b++) {
		c += h[b];
		if (!have1 && c >= lo) {
			i1 = b;
			have1 = true;
		}
		if (c >= hi) {
			i2 = b;
			break;
		}
	}
	return (median_level(i1) + median_level(i2)) / 32;
}

/* How much of a peak's count a histogram mean leaves out: none below a
 * quarter of the pixels, most for a peak of about half of them. */
static uint64_t peak_discount(uint64_t count, uint64_t total)
{
	if (total == 0)
		return 0;
	uint64_t share = count * 16384 / total;
	if (share < 4096 || share > 16384)
		return 0;
	int k = 0;
	while (k < 200 && 4096 + llround(61.44 * k) < (long long)share)
		k++;
	double x = (k - 100) / 100.0;
	uint64_t w = (uint64_t)llround(8192 * (1 + x * x));
	return count * (16384 - w);
}

/* Array 0 of the RGB histogram on the scale 4..256, the two highest strict
 * peaks discounted; without a peak nothing is. */
static uint32_t peak_discounted_mean(const aaa_parse_result *st)
{
	const uint32_t *h = st->set.rgb_hist.bin[0];
	int p1 = -1, p2 = -1;
	for (int b = 0; b < 64; b++) {
		bool peak = b == 0    ? h[1] < h[0]
		            : b == 63 ? h[62] < h[63]
		                      : h[b - 1] < h[b] && h[b] > h[b + 1];
		if (!peak)
			continue;
		if (p1 < 0 || h[b] > h[p1]) {
			p2 = p1;
			p1 = b;
		} else if (p2 < 0 || h[b] > h[p2]) {
			p2 = b;
		}
	}
	uint64_t n = 0, sum = 0;
	for (int b = 0; b < 64; b++) {
		n += h[b];
		sum += 4ull * (b + 1) * h[b];
	}
	uint64_t count_off = 0, sum_off = 0;
	for (int p : {p1, p2}) {
		if (p < 0)
			continue;
		uint64_t d = peak_discount(h[p], n);
		count_off += d;
		sum_off += d * (p + 1);
	}
	uint64_t div = 16384 * n - count_off;
	if (div == 0)
		return 0;
	return (uint32_t)((16384 * sum - 4 * sum_off) / div);
}

uint16_t ae_luma_stat(ae_instance *ae, const aaa_parse_result *st)
{
	if (!ae || !st)
		return AE_LUMA_NONE;
	ae_data *d = ae->data;
	uint32_t luma;
	switch (AE_LOAD(d->metering)) {
	case METER_TILE0: {
		uint32_t t = tile_count(st) ? st->set.ae[0].cfa_luma : AE_LUMA_NONE;
		luma = t == AE_LUMA_NONE ? t : t >> LEVEL_SHIFT;
		break;
	}
	case METER_DARKEST:
		luma = darkest_tile(st);
		break;
	case AE_METER_PEAK:
		luma = peak_discounted_mean(st);
		break;
	case METER_PREHIST_MEAN:
		luma = prehist_mean(d, st);
		break;
	case METER_PREHIST_MEDIAN:
		luma = prehist_median(st);
		break;
	default:
		luma = weighted_mean(d, st);
		break;
	}
	AE_STORE(d->last_luma, (uint16_t)luma);
	return (uint16_t)luma;
}

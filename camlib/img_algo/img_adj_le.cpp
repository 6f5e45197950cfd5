/* The adaptive local-exposure curve. */
#include "img_adj_le.h"

#include "img_channel.h"
#include "smooth_change.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#define LE_DEFAULT_STRENGTH 64
#define LE_DEFAULT_OFFSET 8
#define LE_SPEED 16
#define LE_TOLERANCE 2

typedef struct le_chan {
	uint8_t enable;
	uint32_t strength;
	img_adj_le_params p;
	uint8_t hold;
	uint64_t total; /* of the histogram, once it had pixels */
} le_chan;

#define LE_AT_LOAD                                                                                           \
	{                                                                                                    \
		0, LE_DEFAULT_STRENGTH, {0, LE_DEFAULT_OFFSET, 0, 0}, 0, 0                                   \
	}

static le_chan le[IMG_MAX_CHANNELS] = {LE_AT_LOAD, LE_AT_LOAD, LE_AT_LOAD, LE_AT_LOAD};

int img_adj_le_init(void)
{
	for (le_chan &l : le) {
		l.enable = 0;
		l.p.c = 0;
		l.p.b = LE_DEFAULT_OFFSET;
		l.strength = LE_DEFAULT_STRENGTH;
		l.total = 0;
	}
	return 0;
}

void img_adj_le_reset(void)
{
	for (le_chan &l : le)
		l = le_chan LE_AT_LOAD;
}

int img_adj_le_set_enable(const uint32_t *enable, uint32_t mask)
{
	if (!enable)
		return -1;
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		if (mask >> c & 1)
			le[c].enable = (uint8_t)enable[c];
	return 0;
}

int img_adj_le_get_enable(uint32_t *out)
{
	if (!out)
		return -1;
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		out[c] = le[c].enable;
	return 0;
}

int img_adj_le_set_strength(const uint32_t *strength, uint32_t mask)
{
	if (!strength)
		return -1;
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		if (mask >> c & 1)
			le[c].strength = strength[c];
	return 0;
}

int img_adj_le_get_strength(uint32_t *out)
{
	if (!out)
		return -1;
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		out[c] = le[c].strength;
	return 0;
}

int img_adj_le_get_params(int32_t chan, img_adj_le_params *out)
{
	if (!out || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	*out = le[chan].p;
	return 0;
}

int img_adj_le_curve(const img_adj_le_params *p, uint16_t *curve)
{
	if (!p || !curve)
		return 0;
	uint16_t next[IMG_ADJ_LE_CURVE_SIZE];
	bool replace = false;
	for (int i = 0; i < IMG_ADJ_LE_CURVE_SIZE; i++) {
		double v = (double)p->a + p->b;
		if (p->k)
			v = p->b + p->a * exp2(-(double)p->k * abs(i - (int)p->c) / 256.0);
		next[i] = (uint16_t)std::min(v, 65535.0);
		if (abs((int)next[i] - (int)curve[i]) > LE_TOLERANCE)
			replace = true;
	}
	if (replace)
		memcpy(curve, next, sizeof next);
	return replace;
}

/* Weighted mean of bins 0 to n, the middle ones counting most. */
static uint64_t low_mean(const uint32_t *bin, int64_t n)
{
	uint64_t num = 0, den = 0;
	for (int64_t j = 0; j <= n; j++) {
		int64_t w = (n + 1) / 2 + 2 - llabs(j - n / 2);
		num += (uint64_t)w * bin[j];
		den += (uint64_t)w;
	}
	return num / den;
}

/* Counting down from the top, where a tenth of the pixels is reached. */
static int64_t bright_index(const uint32_t *bin, uint64_t total)
{
	uint64_t acc = 0;
	for (int i = 63; i >= 0; i--) {
		acc += bin[i];
		if (acc >= total / 10)
			return i;
	}
	return 0;
}

/* How far the histogram asks the curve's amplitude to move: a dark scene
 * lifts, a bright one lowers. */
static int64_t score(const uint32_t *bin, uint64_t total, uint32_t strength)
{
	int64_t n = linear_map64(strength, 0, 128, 0, 16);
	int64_t m = (int64_t)low_mean(bin, n);
	int64_t t = (int64_t)std::min<uint64_t>(total, INT64_MAX / 128);
	int64_t bright = linear_map64(bright_index(bin, total), 16, 32, 256, 0);
	int64_t dark = m > t / 256 ? linear_map64(m, t / 256, t / 64, 0, 100)
	                           : linear_map64(m, t / 1024, t / 256, -100, 0);
	return dark + bright;
}

int img_adj_le_update(img_dsp_local_exposure *block, const aaa_parse_result *stats, int32_t chan)
{
	if (!block || !stats)
		return -1;
	if (chan < 0 || chan >= IMG_MAX_CHANNELS) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	le_chan *l = &le[chan];
	if (l->hold > 0) {
		l->hold--;
		return 0;
	}
	if (!l->enable)
		return 0;
	block->Enb = 1;
	block->Radius = 0;
	block->LumaWeightRed = block->LumaWeightGreen = block->LumaWeightBlue = 16;
	block->LumaWeightShift = 2;

	const uint32_t *bin = stats->set.rgb_hist.bin[0];
	/* An empty first frame must not fix the total at 0 for the session. */
	if (!l->total)
		for (int i = 0; i < 64; i++)
			l->total += bin[i];
	int64_t q = score(bin, l->total, l->strength);

	int64_t s = l->strength;
	img_adj_le_params p;
	p.c = (uint16_t)linear_map64(s, 0, 64, 12, 4);
	int64_t limit = linear_map64(s, 0, 64, 1024, 896);
	p.k = (uint16_t)linear_map64(s, 0, 128, 16, 8);
	/* The amplitude is a u16: the strength's ceiling stops there too. */
	int64_t ceiling = std::min<int64_t>(s * 128, UINT16_MAX);
	int64_t a = l->p.a, target = a;
	if (q < -100) {
		target = std::clamp<int64_t>(a - 1024, 0, ceiling);
	} else {
		int64_t qq = std::min<int64_t>(q, 100);
		if (qq + 4 > 9)
			target = std::clamp<int64_t>(a + qq * 1024 / 100, 0, ceiling);
	}
	p.a = (uint16_t)smooth_change((int32_t)target, (int32_t)a, LE_SPEED);
	p.b = (uint16_t)linear_map64(p.a, 0, 1024, 1024, limit);
	if (!memcmp(&p, &l->p, sizeof p))
		return 0;
	l->p = p;
	int replaced = img_adj_le_curve(&p, block->GainCurveTable);
	l->hold = replaced ? IMG_ADJ_LE_HOLD : 0;
	return replaced;
}

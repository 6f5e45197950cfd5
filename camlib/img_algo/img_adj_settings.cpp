/* Image-adjust settings, colour-correction blending, the filter dispatchers
 * and the tone rules. */
#include "img_adj_settings.h"

#include "img_adj_translate.h"
#include "img_adj_transmit.h"
#include "smooth_change.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

/* The parse result's RGB histogram: four arrays of 64 bins. */
#define STATS_RGB_HIST_AT 31744
#define HIST_BINS 64

#define CC_FIELD_MASK 0x3ffu
#define CC_KEPT_BITS 0xc0000000u
/* Filter 9's container rows: thresholds of T0 to T2 in rows 0 to 2,
 * exposure band in row 3, low-light weights in row 4. */
#define CC_ROW_WORDS 4
#define CC_ROW_EV 3
#define CC_ROW_ALPHA 4
/* Red and blue gains closer than this to the last ones count as unmoved. */
#define CC_GAIN_TOLERANCE 16u

typedef struct cc_state {
	uint32_t last_gain[3];
	int32_t last_ev;
	uint8_t update;
	uint32_t rgb_ir_correction;
	uint8_t cache[IMG_ADJ_CC_TABLE_SIZE]; /* T4 after the temperature blend */
} cc_state;

static const img_adj_settings default_settings = {
    1, 0,    64, 64, 0, 0, {64, 64, 64, 64}, {64, 64, 16, 64, 3, 64, 64, 64, 64, 64, 64, 64}, 0, 128, 128,
    0, 0.2f, 0,  6,  6, 0,
};

static const uint32_t sharpness_presets[IMG_ADJ_LEVELS][IMG_ADJ_SHARPNESS_VALUES] = {
    {192, 64, 0, 32, 3, 64, 64, 64, 64, 64, 64, 64},  {128, 64, 2, 32, 3, 64, 64, 64, 64, 64, 64, 64},
    {116, 64, 4, 48, 3, 64, 64, 64, 64, 64, 64, 64},  {102, 64, 6, 64, 3, 64, 64, 64, 64, 64, 64, 64},
    {92, 64, 8, 64, 3, 64, 64, 64, 64, 64, 64, 64},   {80, 64, 12, 64, 3, 64, 64, 64, 64, 64, 64, 64},
    {64, 64, 16, 64, 3, 64, 64, 64, 64, 64, 64, 64},  {56, 64, 24, 96, 3, 64, 64, 64, 64, 64, 64, 64},
    {48, 64, 32, 128, 3, 64, 64, 64, 64, 64, 64, 64}, {40, 64, 40, 160, 2, 64, 64, 64, 64, 64, 64, 64},
    {32, 64, 48, 192, 1, 64, 64, 64, 64, 64, 64, 64}, {24, 64, 48, 255, 1, 64, 64, 64, 64, 64, 64, 64},
};

static const uint32_t nf_presets[IMG_ADJ_LEVELS][IMG_ADJ_NF_VALUES] = {
    {255, 0, 0, 0},      {128, 48, 48, 16},   {116, 54, 54, 32},   {102, 64, 64, 48},
    {92, 64, 64, 54},    {80, 64, 64, 64},    {64, 64, 64, 64},    {56, 128, 128, 84},
    {48, 160, 160, 114}, {40, 192, 192, 128}, {32, 192, 192, 160}, {24, 256, 256, 256},
};

static img_adj_settings settings[IMG_MAX_CHANNELS] = {default_settings};
static cc_state cc[IMG_MAX_CHANNELS] = {
    {{0, 0, 0}, 0, 0, 0, {0}},
    {{512, 512, 512}, -1, 0, 0, {0}},
    {{512, 512, 512}, -1, 0, 0, {0}},
    {{512, 512, 512}, -1, 0, 0, {0}},
};
static uint8_t service_flag[IMG_MAX_CHANNELS];
static uint32_t max_chroma_radius = 32;
static uint8_t pre_config_flag;
static img_adj_pre_config pre_config;
static struct {
	uint8_t hold;
	uint64_t total;
	int32_t strength;
} hdr_tone = {0, 0, -1};

static const img_adj_translater *translaters = img_adj_translaters;
static const img_adj_transmitter *transmitters = img_adj_transmitters;

static bool chan_valid(int chan)
{
	return chan >= 0 && chan < img_adj_get_channel_count();
}

static bool null_argument(const void *p)
{
	if (p)
		return false;
	puts("error: null pointer.");
	return true;
}

/* Runs store on every channel of the mask until one refuses. */
template <typename T, typename F> static int set_masked(const T *v, uint32_t mask, F store)
{
	if (null_argument(v))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++)
		if ((mask & (1u << c)) && store(settings[c], c) < 0)
			return -1;
	return 0;
}

static void reset_cc_state(int chan)
{
	cc[chan].last_gain[0] = cc[chan].last_gain[1] = cc[chan].last_gain[2] = 512;
	cc[chan].last_ev = -1;
	cc[chan].update = 0;
}

int img_adj_init_settings(void)
{
	for (int c = 1; c < img_adj_get_channel_count(); c++) {
		settings[c] = settings[0];
		reset_cc_state(c);
	}
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		memset(cc[c].cache, 0, sizeof(cc[c].cache));
	return 0;
}

int img_adj_set_color_matrix(const uint32_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.color_matrix = v[c], 0; });
}

int img_adj_set_brightness(const int32_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.brightness = v[c], 0; });
}

int img_adj_set_contrast(const uint32_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.contrast = v[c], 0; });
}

int img_adj_set_saturation(const int32_t *v, uint32_t mask)
{
	return set_masked(v, mask,
	                  [v](img_adj_settings &s, int c) { return s.saturation = (uint32_t)v[c], 0; });
}

int img_adj_set_hue(const int32_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.hue = v[c], 0; });
}

int img_adj_get_bcsh(uint32_t *out)
{
	if (null_argument(out))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++) {
		out[4 * c] = (uint32_t)settings[c].brightness;
		out[4 * c + 1] = settings[c].contrast;
		out[4 * c + 2] = settings[c].saturation;
		out[4 * c + 3] = (uint32_t)settings[c].hue;
	}
	return 0;
}

/* Levels index the presets: a negative one would read before them. */
static bool level_valid(int32_t level)
{
	return level >= 0 && level < IMG_ADJ_LEVELS;
}

/* Copies the preset of each channel's level and stores the level. */
template <size_t N>
static int set_level(const int32_t *levels, uint32_t mask, const uint32_t (*presets)[N],
                     uint32_t (img_adj_settings::*values)[N], uint8_t img_adj_settings::*level)
{
	return set_masked(levels, mask, [=](img_adj_settings &s, int c) {
		if (!level_valid(levels[c]))
			return -1;
		memcpy(s.*values, presets[levels[c]], sizeof(s.*values));
		s.*level = (uint8_t)levels[c];
		return 0;
	});
}

/* N values a channel, one channel after the other. */
template <size_t N>
static int set_values(const uint32_t *values, uint32_t mask, uint32_t (img_adj_settings::*field)[N])
{
	return set_masked(values, mask, [=](img_adj_settings &s, int c) {
		memcpy(s.*field, values + N * (size_t)c, sizeof(s.*field));
		return 0;
	});
}

int img_adj_set_sharpness_level(const int32_t *levels, uint32_t mask)
{
	return set_level(levels, mask, sharpness_presets, &img_adj_settings::sharpness,
	                 &img_adj_settings::sharpness_level);
}

int img_adj_set_sharpness_values(const uint32_t *values, uint32_t mask)
{
	return set_values(values, mask, &img_adj_settings::sharpness);
}

int img_adj_set_nf_level(const int32_t *levels, uint32_t mask)
{
	return set_level(levels, mask, nf_presets, &img_adj_settings::nf_values, &img_adj_settings::nf_level);
}

int img_adj_set_nf_values(const uint32_t *values, uint32_t mask)
{
	return set_values(values, mask, &img_adj_settings::nf_values);
}

int img_adj_set_bw_mode(const uint32_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.bw_mode = (uint8_t)v[c], 0; });
}

int img_adj_set_wb_ratio(const uint8_t *ratio1, const uint8_t *ratio2, uint32_t mask)
{
	if (null_argument(ratio2))
		return -1;
	return set_masked(ratio1, mask, [ratio1, ratio2](img_adj_settings &s, int c) {
		if (ratio1[c] == 0 || ratio2[c] == 0) {
			puts("error:wb_ratio =0!");
			return -1;
		}
		s.wb_ratio1 = ratio1[c];
		s.wb_ratio2 = ratio2[c];
		return 0;
	});
}

int img_adj_get_wb_ratio(uint8_t *ratio1, uint8_t *ratio2)
{
	if (null_argument(ratio1) || null_argument(ratio2))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++) {
		ratio1[c] = settings[c].wb_ratio1;
		ratio2[c] = settings[c].wb_ratio2;
	}
	return 0;
}

int img_adj_set_auto_tone(const uint8_t *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) { return s.auto_tone = v[c], 0; });
}

int img_adj_get_auto_tone(uint32_t *out)
{
	if (null_argument(out))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++)
		out[c] = settings[c].auto_tone;
	return 0;
}

int img_adj_set_auto_tone_alpha(const float *v, uint32_t mask)
{
	return set_masked(v, mask, [v](img_adj_settings &s, int c) {
		if (!(v[c] >= 0.0f && v[c] <= 1.0f)) {
			printf("Error invalid alpha[%d], [0.0, 1.0].\n", c);
			return -1;
		}
		s.auto_tone_alpha = v[c];
		return 0;
	});
}

int img_adj_get_auto_tone_alpha(float *out)
{
	if (null_argument(out))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++)
		out[c] = settings[c].auto_tone_alpha;
	return 0;
}

int img_adj_set_nr_bypass(const uint32_t *v)
{
	return set_masked(v, ~0u, [v](img_adj_settings &s, int c) { return s.nr_bypass = (uint8_t)v[c], 0; });
}

int img_adj_set_service_flag(const uint32_t *v, uint32_t mask)
{
	if (null_argument(v))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++)
		if (mask & (1u << c))
			service_flag[c] = v[c] != 0;
	return 0;
}

int img_adj_get_service_flag(uint32_t *out)
{
	if (null_argument(out))
		return -1;
	for (int c = 0; c < img_adj_get_channel_count(); c++)
		out[c] = service_flag[c];
	return 0;
}

int img_adj_get_settings(img_adj_settings *out)
{
	if (null_argument(out))
		return -1;
	memcpy(out, settings, (size_t)img_adj_get_channel_count() * sizeof(*out));
	return 0;
}

int img_adj_set_max_chroma_radius(const uint32_t *radius)
{
	if (null_argument(radius))
		return -1;
	max_chroma_radius = *radius;
	return 0;
}

uint32_t img_adj_get_max_chroma_radius(void)
{
	return max_chroma_radius;
}

const img_adj_settings *img_adj_channel_settings(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? &settings[chan] : nullptr;
}

int img_adj_set_pre_config(const void *block)
{
	if (null_argument(block))
		return -1;
	memcpy(&pre_config, block, sizeof(pre_config));
	pre_config_flag = 1;
	return 0;
}

uint8_t img_adj_pre_config_flag(void)
{
	return pre_config_flag;
}

void img_adj_clear_pre_config_flag(void)
{
	pre_config_flag = 0;
}

const img_adj_pre_config *img_adj_get_pre_config(void)
{
	return &pre_config;
}

void img_adj_set_update_flags(void)
{
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		cc[c].update = 1;
}

uint32_t img_adj_rgb_ir_correction(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? cc[chan].rgb_ir_correction : 0;
}

static uint32_t cc_word(const filter_container *fc, int row, int word)
{
	uint32_t v;
	memcpy(&v, (const uint8_t *)(fc + 1) + 4 * (CC_ROW_WORDS * row + word), sizeof(v));
	return v;
}

static uint8_t *cc_table(const filter_container *reg, int k)
{
	uint64_t addr;
	memcpy(&addr, (const uint8_t *)(reg + 1) + 32 * k + 8 * IMG_ADJ_CC_COLUMN, sizeof(addr));
	return (uint8_t *)(uintptr_t)addr;
}

static void point_block_at(void *block, const uint8_t *table)
{
	img_dsp_color_correction cc_block = {(uint64_t)(uintptr_t)table};
	memcpy(block, &cc_block, sizeof(cc_block));
}

/* Every 10-bit value of out becomes (a wa + b wb) >> shift; bits 30 and
 * 31 of out stay. Head and tail are the caller's. */
static void blend_entries(uint8_t *out, const uint8_t *a, const uint8_t *b, uint32_t wa, uint32_t wb,
                          int shift)
{
	for (int i = 0; i < IMG_ADJ_CC_ENTRIES; i++) {
		uint32_t ea, eb, eo;
		size_t at = IMG_ADJ_CC_HEAD + 4 * (size_t)i;
		memcpy(&ea, a + at, 4);
		memcpy(&eb, b + at, 4);
		memcpy(&eo, out + at, 4);
		eo &= CC_KEPT_BITS;
		for (int sh = 0; sh < 30; sh += 10) {
			uint32_t va = (ea >> sh) & CC_FIELD_MASK, vb = (eb >> sh) & CC_FIELD_MASK;
			eo |= (((va * wa + vb * wb) >> shift) & CC_FIELD_MASK) << sh;
		}
		memcpy(out + at, &eo, 4);
	}
}

static void copy_head_tail(uint8_t *out, const uint8_t *from)
{
	memcpy(out, from, IMG_ADJ_CC_HEAD);
	memcpy(out + IMG_ADJ_CC_TABLE_SIZE - IMG_ADJ_CC_TAIL, from + IMG_ADJ_CC_TABLE_SIZE - IMG_ADJ_CC_TAIL,
	       IMG_ADJ_CC_TAIL);
}

int img_adj_cc_weighted_blend(void *out, const void *a, const void *b, uint32_t pre_wgt, uint32_t next_wgt)
{
	if (null_argument(out) || null_argument(a) || null_argument(b))
		return -1;
	uint64_t sum = (uint64_t)pre_wgt + next_wgt;
	if (sum != 65536) {
		printf("error: sum of pre_wgt and next_wgt (%d) should be equal to %d\n", (int)sum, 65536);
		return -1;
	}
	copy_head_tail((uint8_t *)out, (const uint8_t *)a);
	blend_entries((uint8_t *)out, (const uint8_t *)a, (const uint8_t *)b, pre_wgt, next_wgt, 16);
	return 0;
}

/* T4 from the two temperature tables around the red gain r. */
static void temperature_blend(uint8_t *const t[IMG_ADJ_CC_TABLES], const filter_container *fc, uint32_t r)
{
	uint32_t th[3] = {cc_word(fc, 0, 0), cc_word(fc, 1, 0), cc_word(fc, 2, 0)};
	uint8_t *t4 = t[IMG_ADJ_CC_WORK];
	if (r <= th[0] || r >= th[2]) {
		memcpy(t4, t[r <= th[0] ? 0 : 2], IMG_ADJ_CC_TABLE_SIZE);
		return;
	}
	int k = r <= th[1] ? 0 : 1;
	uint32_t lo = th[k], hi = th[k + 1];
	uint32_t w = hi == lo ? 0 : (uint32_t)(((uint64_t)(r - lo) << 16) / (hi - lo));
	copy_head_tail(t4, t[k + 1]);
	blend_entries(t4, t[k], t[k + 1], 65536 - w, w, 16);
}

/* T4 from the temperature blend towards the low-light table as the
 * exposure rises through the band. */
static void low_light_blend(uint8_t *const t[IMG_ADJ_CC_TABLES], const uint8_t *cache,
                            const filter_container *fc, int32_t ev)
{
	int32_t e_lo = (int32_t)cc_word(fc, CC_ROW_EV, 0), e_hi = (int32_t)cc_word(fc, CC_ROW_EV, 1);
	uint32_t a_lo = cc_word(fc, CC_ROW_ALPHA, 0), a_hi = cc_word(fc, CC_ROW_ALPHA, 1);
	if (e_lo > e_hi || a_lo > a_hi || a_lo > 1024 || a_hi > 1024) {
		printf("error: invalid ev setting: threshold[%d, %d] alpha[%d, %d]\n", e_lo, e_hi, (int)a_lo,
		       (int)a_hi);
		return;
	}
	uint32_t alpha = (uint32_t)linear_map(ev, e_lo, e_hi, (int32_t)a_lo, (int32_t)a_hi);
	copy_head_tail(t[IMG_ADJ_CC_WORK], t[IMG_ADJ_CC_LOW_LIGHT]);
	blend_entries(t[IMG_ADJ_CC_WORK], cache, t[IMG_ADJ_CC_LOW_LIGHT], 1024 - alpha, alpha, 10);
}

static bool near(uint32_t last, uint32_t v)
{
	return last < v + CC_GAIN_TOLERANCE && last > v - CC_GAIN_TOLERANCE;
}

int img_adj_cc_step(filter_state *state, const filter_container *container, const filter_container *reg,
                    const uint32_t wb[3], int32_t ev, void *block, int32_t chan)
{
	if (!state || !container || !reg || !wb || !block || !chan_valid(chan))
		return -1;
	uint8_t *t[IMG_ADJ_CC_TABLES];
	for (int k = 0; k < IMG_ADJ_CC_TABLES; k++) {
		t[k] = cc_table(reg, k);
		/* Before the tables are loaded there is nothing to blend. */
		if (!t[k]) {
			printf("error: colour-correction table %d of channel %d not loaded\n", k, chan);
			return -1;
		}
	}
	cc_state *s = &cc[chan];
	const img_adj_settings *set = &settings[chan];
	if (img_adj_get_channel_info(chan)->rgb_ir)
		s->rgb_ir_correction = set->bw_mode ? 0 : 512;
	state->counter++;
	if (state->counter < state->period && !s->update) {
		state->changed = 0;
		return 0;
	}
	if (set->bw_mode) {
		point_block_at(block, t[IMG_ADJ_CC_LOW_LIGHT]);
		state->changed = 1;
		return 0;
	}
	state->counter = 0;
	state->changed = 0;
	bool moved = !(near(s->last_gain[0], wb[0]) && near(s->last_gain[2], wb[2]));
	int32_t e_lo = (int32_t)(cc_word(container, CC_ROW_EV, 0) & 0xffffu);
	int32_t e_hi = (int32_t)(cc_word(container, CC_ROW_EV, 1) & 0xffffu);
	int32_t lo = ev < s->last_ev ? ev : s->last_ev, hi = ev < s->last_ev ? s->last_ev : ev;
	bool crossed = ev != s->last_ev && lo < e_hi && hi > e_lo;
	if (!moved && !crossed && !s->update)
		return 1;
	s->last_ev = ev;
	memcpy(s->last_gain, wb, sizeof(s->last_gain));
	if (moved || s->update) {
		temperature_blend(t, container, wb[0]);
		memcpy(s->cache, t[IMG_ADJ_CC_WORK], IMG_ADJ_CC_TABLE_SIZE);
	}
	low_light_blend(t, s->cache, container, ev);
	point_block_at(block, t[IMG_ADJ_CC_WORK]);
	state->changed = 1;
	s->update = 0;
	return 0;
}

int img_adj_translate(filter_state *state, void *block, int32_t chan, void *unused)
{
	if (!state || !block)
		return -1;
	uint32_t id = state->id;
	if (id >= IMG_ADJ_FILTER_NUM) {
		printf("filter id %d unsupported\n", (int)id);
		return -1;
	}
	if (!translaters[id]) {
		printf("no translater for filter %d\n", (int)id);
		return -1;
	}
	return translaters[id](state, block, chan, unused) < 0 ? -1 : 0;
}

int img_adj_transmit(filter_state *state, void *block, int32_t fd, img_dsp_mode *mode)
{
	if (!state || !block)
		return -1;
	uint32_t id = state->id;
	if (id >= IMG_ADJ_FILTER_NUM) {
		puts("filter id exceeds parser num");
		return -1;
	}
	if (!transmitters[id]) {
		printf("no transmitter for filter %d\n", (int)id);
		return -1;
	}
	return transmitters[id](state, block, fd, mode);
}

/* A 256-entry 10-bit curve through knots every 16th entry and the last. */
static void curve_through(const float knots[17], uint16_t out[IMG_ADJ_CURVE_POINTS])
{
	float x[17], d[17];
	for (int k = 0; k < 16; k++)
		x[k] = 16.0f * (float)k;
	x[16] = 255.0f;
	pchip_slopes(x, knots, 17, d);
	for (int i = 0; i < IMG_ADJ_CURVE_POINTS; i++) {
		float v = 0.0f;
		hermite_eval(x, knots, 17, d, &v, (float)i);
		out[i] = (uint16_t)clamp_i32((int32_t)(v + 0.5f), 0, IMG_ADJ_CURVE_MAX);
	}
}

const uint16_t *img_adj_contrast_limit_curve(int high)
{
	static const struct limits {
		uint16_t curve[2][IMG_ADJ_CURVE_POINTS];
		limits()
		{
			static const float low_knots[17] = {0,   201, 346, 419, 453, 474, 488, 500, 514,
			                                    534, 549, 569, 597, 648, 746, 888, 1023};
			static const float high_knots[17] = {0,   7,   12,  21,  34,  61,   125,  282, 514,
			                                     744, 892, 954, 981, 996, 1007, 1014, 1023};
			curve_through(low_knots, curve[0]);
			curve_through(high_knots, curve[1]);
		}
	} limits;
	return limits.curve[high ? 1 : 0];
}

void img_adj_contrast_curve(img_dsp_tone_curve *tone, uint32_t contrast)
{
	if (!tone)
		return;
	const uint16_t *low = img_adj_contrast_limit_curve(0), *high = img_adj_contrast_limit_curve(1);
	int32_t c = contrast > 128 ? 128 : (int32_t)contrast;
	for (int i = 0; i < IMG_ADJ_CURVE_POINTS; i++) {
		int32_t g = tone->ToneCurveGreen[i], v;
		if (c == 0)
			v = low[i];
		else if (c < IMG_ADJ_CONTRAST_NEUTRAL)
			v = clamp_i32((low[i] * (64 - c) + g * c) >> 6, 0, IMG_ADJ_CURVE_MAX);
		else if (c == IMG_ADJ_CONTRAST_NEUTRAL)
			v = g;
		else if (c < 128)
			v = clamp_i32((high[i] * (c - 64) + g * (128 - c)) >> 6, 0, IMG_ADJ_CURVE_MAX);
		else
			v = high[i];
		tone->ToneCurveRed[i] = tone->ToneCurveGreen[i] = tone->ToneCurveBlue[i] = (uint16_t)v;
	}
}

int img_adj_rgb_to_yuv(const filter_state *state, img_dsp_rgb_to_yuv_matrix *block, int32_t chan)
{
	if (!state || !block || !chan_valid(chan))
		return -1;
	if (pre_config_flag) {
		*block = pre_config.rgb2yuv;
		return 0;
	}
	img_adj_settings *s = &settings[chan];
	if (img_adj_get_channel_info(chan)->yuv)
		s->color_matrix = 3;
	/* Parts 2, 3 and 4 follow the first part's four values, 32 bytes each. */
	int part;
	switch (s->color_matrix) {
	case 0:
		part = 0;
		break;
	case 1:
		part = 1;
		break;
	case 3:
		part = 2;
		break;
	default:
		return 0;
	}
	img_dsp_rgb_to_yuv_matrix m;
	memcpy(&m, filter_state_values(state) + 16 + 32 * part, sizeof(m));
	if (s->brightness == 0 && s->contrast == 64 && s->saturation == 64 && s->hue == 0) {
		*block = m;
		return 0;
	}
	m.YOffset = (int16_t)(clamp_i32(s->brightness, -255, 255) + m.YOffset + s->luma_offset);
	int32_t sat = s->saturation > 255 ? 255 : (int32_t)s->saturation;
	double rad = 2.0 * clamp_i32(s->hue, -15, 15) * M_PI / 180.0;
	int32_t kc = (int32_t)lround(2048.0 * cos(rad)), ks = (int32_t)lround(2048.0 * sin(rad));
	int32_t cp = (kc * sat) >> 11, sp = (ks * sat) >> 11;
	for (int k = 0; k < 3; k++) {
		int32_t u = m.MatrixValues[3 + k], v = m.MatrixValues[6 + k];
		m.MatrixValues[3 + k] = (int16_t)((sp * v + cp * u) >> 6);
		m.MatrixValues[6 + k] = (int16_t)((cp * v - sp * u) >> 6);
	}
	*block = m;
	return 0;
}

static void rgb_histogram(const void *stats, int array, uint32_t out[HIST_BINS])
{
	memcpy(out, (const uint8_t *)stats + STATS_RGB_HIST_AT + 4 * HIST_BINS * array, 4 * HIST_BINS);
}

/* A float held to the 32-bit range before it becomes an integer. */
static int32_t trunc_i32(float v)
{
	if (!(v > -2147483648.0f))
		return INT32_MIN;
	if (v >= 2147483648.0f)
		return INT32_MAX;
	return (int32_t)v;
}

uint16_t img_adj_auto_tone_floor(int i)
{
	static const struct floor_curve {
		uint16_t v[IMG_ADJ_CURVE_POINTS];
		floor_curve()
		{
			for (int k = 0; k < IMG_ADJ_CURVE_POINTS; k++)
				v[k] = (uint16_t)lround(1023.0 * pow(k / 255.0, 5.0 / 3.0));
		}
	} floor_curve;
	return i >= 0 && i < IMG_ADJ_CURVE_POINTS ? floor_curve.v[i] : 0;
}

typedef struct tone_segment {
	int lo, hi;
} tone_segment;

/* Splits [lo, hi] where the cumulative curve Q reaches half its rise,
 * pulled towards the middle by alpha, four levels deep at most. */
static void split_span(const int32_t *q, int lo, int hi, int depth, float alpha, tone_segment *out, int *n)
{
	int32_t mid = (int32_t)(((int64_t)q[lo] + q[hi]) / 2);
	int j = lo;
	if (q[lo] <= mid) {
		j = hi;
		for (int i = lo + 1; i < hi; i++) {
			if (q[i] > mid) {
				j = i;
				break;
			}
		}
	}
	int m = (lo + hi) / 2;
	int s = m + trunc_i32((float)(j - m) * alpha);
	if (lo < s && s < hi && depth <= 4) {
		split_span(q, lo, s, depth + 1, alpha, out, n);
		split_span(q, s, hi, depth + 1, alpha, out, n);
		return;
	}
	out[(*n)++] = {lo, hi};
}

/* The cumulative histogram over the current curve's input levels, as a
 * natural spline through the 65 filled knots. */
static void cumulative_curve(const void *stats, const uint16_t *green, int32_t q[1024])
{
	uint32_t h[3][HIST_BINS];
	for (int a = 0; a < 3; a++)
		rgb_histogram(stats, a + 1, h[a]);
	float x[66], y[66], y2[66];
	x[1] = y[1] = 0.0f;
	uint32_t sum = 0;
	for (int k = 0; k < HIST_BINS; k++) {
		sum += h[0][k] + h[1][k] + h[2][k];
		int i = 0;
		while (i < IMG_ADJ_CURVE_POINTS && green[i] <= 16 * k + 8)
			i++;
		float p = i == IMG_ADJ_CURVE_POINTS ? 1022.0f : (i == 0 ? 2.0f : 4.0f * (float)i - 2.0f);
		if (p == x[k + 1])
			p += 0.5f;
		x[k + 2] = p;
		y[k + 2] = (float)sum;
	}
	spline_second_derivs(x, y, 65, y2, 1e30f, 1e30f);
	for (int v = 0; v < 1024; v++) {
		float f = 0.0f;
		splint(x, y, y2, 65, &f, (float)v + 0.5f);
		q[v] = trunc_i32(f + 0.5f);
	}
}

int img_adj_auto_tone_curve(const void *stats, img_dsp_tone_curve *block, int32_t chan)
{
	if (!chan_valid(chan) || !settings[chan].auto_tone || !stats || !block)
		return 0;
	int32_t q[1024];
	cumulative_curve(stats, block->ToneCurveGreen, q);
	tone_segment seg[16];
	int nseg = 0;
	split_span(q, 0, 1023, 1, settings[chan].auto_tone_alpha, seg, &nseg);
	float x[18], y[18], y2[18];
	for (int k = 0; k < nseg; k++) {
		x[k + 1] = 256.0f * (float)seg[k].lo;
		y[k + 1] = 64.0f * (float)k;
	}
	x[nseg + 1] = 256.0f * (float)seg[nseg - 1].hi;
	y[nseg + 1] = 64.0f * (float)nseg;
	spline_second_derivs(x, y, nseg + 1, y2, 1e30f, 1e30f);
	uint16_t next[IMG_ADJ_CURVE_POINTS];
	int moved = 0;
	for (int i = 0; i < IMG_ADJ_CURVE_POINTS; i++) {
		float f = 0.0f;
		splint(x, y, y2, nseg + 1, &f, 1024.0f * (float)i);
		int32_t e = trunc_i32(f + 0.5f);
		if (i > 0 && e < next[i - 1])
			e = next[i - 1];
		int32_t t = e > IMG_ADJ_CURVE_MAX ? IMG_ADJ_CURVE_MAX : e;
		if (t < img_adj_auto_tone_floor(i))
			t = img_adj_auto_tone_floor(i);
		int32_t g = block->ToneCurveGreen[i];
		if (t - g > 2 || g - t > 2) {
			next[i] = (uint16_t)smooth_change(t, g, 16);
			moved = 1;
		} else {
			next[i] = (uint16_t)g;
		}
	}
	for (int i = 0; i < IMG_ADJ_CURVE_POINTS; i++)
		block->ToneCurveRed[i] = block->ToneCurveGreen[i] = block->ToneCurveBlue[i] = next[i];
	return moved;
}

/* 4 x the first bin whose running sum exceeds limit; -1 when none does. */
static int32_t hist_position(const uint32_t *h, uint64_t limit)
{
	uint64_t sum = 0;
	for (int k = 0; k < HIST_BINS; k++) {
		sum += h[k];
		if (sum > limit)
			return 4 * k;
	}
	return -1;
}

static int32_t sat_i32(int64_t v)
{
	return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : (int32_t)v);
}

/* Tone strength from how much of the picture lies in the dark end. */
static int32_t hdr_tone_strength(const uint32_t *h)
{
	uint64_t total = hdr_tone.total;
	int64_t m = (2 * (int64_t)h[0] + 3 * (int64_t)h[1] + 4 * (int64_t)h[2] + 5 * (int64_t)h[3] +
	             4 * (int64_t)h[4]) /
	            18;
	int32_t p2 = hist_position(h, total / 50), p50 = hist_position(h, total / 2);
	int32_t p98 = hist_position(h, 49 * total / 50);
	int64_t b1 = (int64_t)(total / 5000), b2 = (int64_t)(2 * total / 5000),
	        b3 = (int64_t)(3 * total / 5000);
	int64_t v = m;
	if (p50 > 0) {
		int32_t u = (int32_t)((int64_t)(p98 - p50) * (p50 - p2) * 256 / p50);
		v = m + (int64_t)linear_map(u, 48, 4096, 200, 0) * b2 / 100;
	}
	int32_t s = hdr_tone.strength, target = s;
	if (v > b3)
		target = s + linear_map(sat_i32(v - b2), 0, sat_i32(4 * (b3 - b2)), 0, -8);
	else if (v < b1)
		target = s + linear_map(sat_i32(b2 - v), 0, sat_i32(4 * (b2 - b1)), 0, 8);
	if (target > 48)
		target = 48;
	if (target <= 0)
		target = 1;
	return smooth_change(target, s, 4);
}

int img_adj_hdr_tone_adapt(img_dsp_tone_curve *block, const void *stats)
{
	if (!block || !stats)
		return -1;
	if (hdr_tone.hold > 0) {
		hdr_tone.hold--;
		return 0;
	}
	uint32_t h[HIST_BINS];
	rgb_histogram(stats, 0, h);
	if (hdr_tone.total == 0)
		hdr_tone.total = array_sum_u32(h, HIST_BINS);
	int32_t next = hdr_tone_strength(h);
	int32_t s = 1, y = 4;
	if (next > 0) {
		s = next < 48 ? next : 48;
		y = 4 * s < 16 ? 4 * s : 16;
	}
	float x[5] = {0.0f, (float)s, 96.0f, 192.0f, 255.0f};
	float ky[5] = {0.0f, (float)y, 384.0f, 768.0f, 1023.0f};
	float d[5];
	pchip_slopes(x, ky, 5, d);
	int moved = 0;
	for (int i = 0; i < IMG_ADJ_CURVE_POINTS; i++) {
		float f = 0.0f;
		hermite_eval(x, ky, 5, d, &f, (float)i);
		uint16_t v = (uint16_t)clamp_i32(trunc_i32(f + 0.5f), 0, IMG_ADJ_CURVE_MAX);
		if (v != block->ToneCurveGreen[i]) {
			block->ToneCurveRed[i] = block->ToneCurveGreen[i] = block->ToneCurveBlue[i] = v;
			moved = 1;
		}
	}
	if (moved)
		hdr_tone.hold = 10;
	hdr_tone.strength = s;
	return moved;
}

void img_adj_set_filter_ops(const img_adj_translater *tr, const img_adj_transmitter *tx)
{
	translaters = tr ? tr : img_adj_translaters;
	transmitters = tx ? tx : img_adj_transmitters;
}

void img_adj_settings_reset(void)
{
	settings[0] = default_settings;
	memset(&settings[1], 0, sizeof(settings) - sizeof(settings[0]));
	memset(cc, 0, sizeof(cc));
	for (int c = 1; c < IMG_MAX_CHANNELS; c++)
		reset_cc_state(c);
	memset(service_flag, 0, sizeof(service_flag));
	max_chroma_radius = 32;
	pre_config_flag = 0;
	memset(&pre_config, 0, sizeof(pre_config));
	hdr_tone.hold = 0;
	hdr_tone.total = 0;
	hdr_tone.strength = -1;
	translaters = img_adj_translaters;
	transmitters = img_adj_transmitters;
}

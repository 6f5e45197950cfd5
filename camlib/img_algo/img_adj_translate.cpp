/* The filter translaters, one a filter id. Offsets are those of the blocks
 * the image kernel's setters take, field by field in their declared order. */
#include "img_adj_translate.h"

#include "img_adj_filter.h"
#include "img_channel.h"

#include <stdio.h>
#include <string.h>

/* What a translater works from. */
typedef struct tr_in {
	const filter_state *s;
	uint8_t *b;
	const img_adj_settings *set;
	const channel_info *info;
	int32_t chan;
} tr_in;

typedef void (*tr_body)(const tr_in *in);

/* Sharpness values S0 to S11 and noise-filter values N0 to N3. */
enum { S0, S1, S2, S3, S4, S5, S6, S7, S8, S9, S10, S11 };
enum { N0, N1, N2, N3 };

/* Filter 37's fixed 3-D table set-up, bytes 7 to 14. */
static const uint8_t final_three_d[8] = {4, 64, 3, 4, 64, 3, 0, 3};

/* Value k of the first part. */
static int32_t val(const tr_in *in, int k)
{
	int32_t v;
	memcpy(&v, filter_state_values(in->s) + 4 * k, sizeof(v));
	return v;
}

static const uint8_t *part(const tr_in *in, int p)
{
	return img_adj_state_part(in->s, p);
}

static void put8(uint8_t *b, size_t at, int64_t v)
{
	b[at] = (uint8_t)v;
}

static void put16(uint8_t *b, size_t at, int64_t v)
{
	uint16_t x = (uint16_t)v;
	memcpy(b + at, &x, sizeof(x));
}

static void put32(uint8_t *b, size_t at, int64_t v)
{
	uint32_t x = (uint32_t)v;
	memcpy(b + at, &x, sizeof(x));
}

static void put(uint8_t *b, size_t at, int width, int64_t v)
{
	if (width == 1)
		put8(b, at, v);
	else if (width == 2)
		put16(b, at, v);
	else
		put32(b, at, v);
}

/* Values first to first + n - 1 from byte at, each narrowed to width. */
static void put_values(const tr_in *in, size_t at, int first, int n, int width)
{
	for (int k = 0; k < n; k++)
		put(in->b, at + (size_t)(width * k), width, val(in, first + k));
}

/* (v x s) >> shift held to lo..hi; 64 bits, so no tuning value wraps. */
static int64_t scaled(int32_t v, uint32_t s, int shift, int64_t lo, int64_t hi)
{
	int64_t x = ((int64_t)v * (int64_t)s) >> shift;
	return x < lo ? lo : (x > hi ? hi : x);
}

static int64_t sharp(const tr_in *in, int k, int idx, int64_t hi)
{
	return scaled(val(in, k), in->set->sharpness[idx], 6, 0, hi);
}

static int64_t noise(const tr_in *in, int k, int idx, int64_t hi)
{
	return scaled(val(in, k), in->set->nf_values[idx], 6, 0, hi);
}

/* The low byte raised to the next even value, kept to 8 bits. */
static uint8_t even_up(int32_t v)
{
	uint8_t b = (uint8_t)v;
	return (uint8_t)(b + (b & 1));
}

static bool in_hdr(const channel_info *info)
{
	return info->dsp_hdr || info->hdr_method == 4 || info->hdr_method == 8;
}

/* The first of the two values of the channel's exposure count. The count
 * comes from the driver: held to the four exposures the tuning rows hold. */
static int exposure_pair(const channel_info *info)
{
	int c = (int)(info->expo_num & 0xffu);
	c = c < 1 ? 1 : (c > 4 ? 4 : c);
	return 2 * (c - 1);
}

static void ae_targets(const tr_in *in)
{
	put_values(in, 0, 0, 8, 2);
}

static void wb_warmth(const tr_in *in)
{
	for (int k = 0; k < 6; k++) {
		int64_t ratio = k % 2 ? in->set->wb_ratio2 : in->set->wb_ratio1;
		put8(in->b, (size_t)k, (int64_t)val(in, k) * ratio / 128);
	}
}

static void four_u16(const tr_in *in)
{
	put_values(in, 0, 0, 4, 2);
}

static void anti_aliasing(const tr_in *in)
{
	put32(in->b, 0, val(in, 0));
	put_values(in, 4, 1, 2, 2);
}

static void gbgr_mismatch(const tr_in *in)
{
	put_values(in, 0, 0, 2, 1);
	put_values(in, 2, 2, 2, 2);
}

static void four_u8(const tr_in *in)
{
	put_values(in, 0, 0, 4, 1);
}

static void cfa_noise(const tr_in *in)
{
	put8(in->b, 0, val(in, 0));
	put_values(in, 2, 1, 17, 2);
	for (int k = 1; k <= 3; k++)
		put16(in->b, 2 * (size_t)k, sharp(in, k, S0, 8192));
	for (int k = 7; k <= 9; k++)
		put16(in->b, 2 * (size_t)k, sharp(in, k, S1, 256));
}

static void local_exposure(const tr_in *in)
{
	if (img_adj_pre_config_flag()) {
		memcpy(in->b, img_adj_get_pre_config()->local_exposure, IMG_ADJ_LE_BLOCK_SIZE);
		puts("adj_pre_config_flag LE");
		return;
	}
	put_values(in, 0, 0, 6, 1);
	memcpy(in->b + 6, part(in, 2), 512);
}

static void tone_curve(const tr_in *in)
{
	if (img_adj_pre_config_flag()) {
		memcpy(in->b, &img_adj_get_pre_config()->tone_curve, sizeof(img_dsp_tone_curve));
		return;
	}
	img_dsp_tone_curve t;
	memcpy(&t, part(in, 1), sizeof(t));
	img_adj_contrast_curve(&t, in->set->contrast);
	memcpy(in->b, &t, sizeof(t));
}

static void rgb_to_yuv(const tr_in *in)
{
	/* The block may sit anywhere: the matrix travels through a copy. */
	img_dsp_rgb_to_yuv_matrix m;
	memcpy(&m, in->b, sizeof(m));
	img_adj_rgb_to_yuv(in->s, &m, in->chan);
	memcpy(in->b, &m, sizeof(m));
}

static void chroma_scale(const tr_in *in)
{
	put8(in->b, 0, val(in, 0));
	const uint8_t *gains = part(in, 2);
	for (int i = 0; i < 128; i++) {
		uint16_t g;
		memcpy(&g, gains + 2 * i, sizeof(g));
		int64_t v = in->set->bw_mode ? 0 : ((int64_t)g * val(in, 1)) >> 10;
		put16(in->b, 4 + 2 * (size_t)i, v);
	}
}

static void chroma_median(const tr_in *in)
{
	put32(in->b, 0, val(in, 0));
	put_values(in, 4, 1, 2, 2);
	put_values(in, 8, 3, 2, 1);
	put_values(in, 10, 5, 2, 2);
}

static void luma_processing(const tr_in *in)
{
	put_values(in, 0, 0, 2, 1);
	if (in->info->tuning_key == 2)
		in->b[1] = 0;
	else if (in->info->tuning_key == 3)
		in->b[1] = 4;
}

/* Parts 2 to 4 (nine u16 each) and part 5 (225 u16) of the directional
 * FIRs, as one img_dsp_fir lays them out from its per-direction strengths. */
static void fir_parts(const tr_in *in, size_t strengths_at)
{
	for (int p = 2; p <= 4; p++)
		memcpy(in->b + strengths_at + 18 * (size_t)(p - 2), part(in, p), 18);
	memcpy(in->b + strengths_at + 54, part(in, 5), 450);
}

static void advance_spatial(const tr_in *in)
{
	uint8_t *b = in->b;
	put8(b, 0, val(in, 0));
	put8(b, 2, val(in, 1));
	fir_parts(in, 4);
	put16(b, 508, val(in, 2));
	put16(b, 510, val(in, 3));
	put8(b, 512, val(in, 4));
	put8(b, 514, sharp(in, 5, S7, 255));
	put8(b, 515, sharp(in, 6, S7, 255));
	put8(b, 516, val(in, 7));
	put8(b, 517, sharp(in, 8, S5, 8));
	b[518] = even_up(val(in, 9));
	b[519] = even_up(val(in, 10));
	put8(b, 520, val(in, 11));
	put8(b, 521, sharp(in, 12, S5, 8));
	b[522] = even_up(val(in, 13));
	b[523] = even_up(val(in, 14));
	put_values(in, 524, 15, 2, 1);
	put8(b, 526, sharp(in, 17, S6, 255));
	put8(b, 527, sharp(in, 18, S6, 255));
	put_values(in, 528, 19, 2, 1);
	put8(b, 530, sharp(in, 21, S6, 255));
	put_values(in, 531, 22, 10, 1);
}

/* "Both" of either sharpen-noise stage: the edge threshold and the 5x5
 * change limits under S2, 16 = 1.0. */
static void sharpen_both(const tr_in *in)
{
	put_values(in, 0, 0, 2, 1);
	put16(in->b, 2, val(in, 2));
	put8(in->b, 4, val(in, 3));
	put8(in->b, 5, scaled(val(in, 4), in->set->sharpness[S2], 4, 0, 255));
	put8(in->b, 6, scaled(val(in, 5), in->set->sharpness[S2], 4, 0, 255));
}

static void final_both(const tr_in *in)
{
	sharpen_both(in);
	memcpy(in->b + 7, final_three_d, sizeof(final_three_d));
	put8(in->b, 15, val(in, 6));
	put8(in->b, 16, val(in, 7));
	memset(in->b + 24, 0, 8);
}

static void first_noise(const tr_in *in)
{
	put_values(in, 0, 0, 3, 1);
	fir_parts(in, 4);
	put16(in->b, 508, val(in, 3));
	put16(in->b, 510, val(in, 4));
	put_values(in, 512, 5, 12, 1);
}

static void final_noise(const tr_in *in)
{
	first_noise(in);
	put8(in->b, 524, val(in, 17));
	if (in->set->nr_bypass)
		in->b[519] = 0;
}

static void sharpen_fir(const tr_in *in)
{
	put8(in->b, 0, val(in, 0));
	fir_parts(in, 2);
	put16(in->b, 506, val(in, 1));
	put16(in->b, 508, val(in, 2));
}

static void final_fir(const tr_in *in)
{
	put8(in->b, 0, sharp(in, 0, S8, 4));
	fir_parts(in, 2);
	put16(in->b, 506, sharp(in, 1, S10, 256));
	put16(in->b, 508, sharp(in, 2, S9, 256));
}

static void coring(const tr_in *in)
{
	memcpy(in->b, part(in, 1), 256);
	put8(in->b, 256, in->set->sharpness[S4]);
}

/* A level record whose strengths (values 2, 3 and 6) follow sharpness
 * value idx. */
static void scaled_level(const tr_in *in, int idx)
{
	static const int strengths[3] = {2, 3, 6};
	put_values(in, 0, 0, 7, 1);
	for (int k : strengths)
		put8(in->b, (size_t)k, sharp(in, k, idx, 255));
}

static void first_scaled_level(const tr_in *in)
{
	scaled_level(in, S3);
}

static void final_scaled_level(const tr_in *in)
{
	scaled_level(in, S3);
	put8(in->b, 7, val(in, 7));
}

static void final_scale_coring(const tr_in *in)
{
	scaled_level(in, S11);
	put8(in->b, 7, val(in, 7));
}

static void seven_u8(const tr_in *in)
{
	put_values(in, 0, 0, 7, 1);
}

static void eight_u8(const tr_in *in)
{
	put_values(in, 0, 0, 8, 1);
}

static void final_max_coring(const tr_in *in)
{
	eight_u8(in);
	if (in->set->nr_bypass)
		in->b[7] = 0;
}

/* The fixed pass-through MCTF of the noise-reduction bypass. */
static void mctf_pass_through(uint8_t *b)
{
	static const uint8_t level_tail[4] = {0, 255, 0, 0};
	static const uint8_t curves[26] = {0, 255, 0,  0,  0,  0, 10, 20, 30, 63, 0,  0,  0,
	                                   0, 10,  20, 30, 63, 0, 0,  0,  0,  10, 20, 30, 63};
	static const uint8_t levels[15][8] = {
	    {2, 0, 0, 0, 0, 0, 0, 0},          {0, 20, 3, 0, 0, 140, 4, 0},
	    {0, 20, 3, 0, 0, 120, 4, 0},       {2, 0, 0, 0, 0, 0, 0, 0},
	    {0, 10, 3, 0, 0, 120, 3, 0},       {0, 20, 3, 0, 0, 120, 4, 0},
	    {0, 0, 0, 0, 0, 0, 0, 0},          {0, 20, 3, 0, 0, 120, 4, 0},
	    {0, 20, 3, 0, 0, 120, 4, 0},       {0, 20, 3, 255, 255, 120, 4, 255},
	    {0, 20, 3, 255, 255, 120, 4, 255}, {0, 20, 3, 255, 255, 120, 4, 255},
	    {0, 0, 0, 0, 0, 0, 120, 0},        {0, 0, 0, 0, 0, 0, 0, 120},
	    {0, 0, 0, 0, 0, 0, 0, 0},
	};
	b[0] = 1;
	b[1] = 0;
	put32(b, 4, 4096);
	put32(b, 8, 0);
	for (size_t c = 0; c < 3; c++)
		memset(b + 12 + 68 * c, 255, 64);
	memcpy(b + 76, level_tail, sizeof(level_tail));
	memcpy(b + 144, level_tail, sizeof(level_tail));
	memcpy(b + 212, curves, sizeof(curves));
	memcpy(b + 240, levels, sizeof(levels));
	b[360] = 120;
	b[361] = 0;
	b[362] = 0;
}

static void video_mctf(const tr_in *in)
{
	uint8_t *b = in->b;
	if (in->set->nr_bypass) {
		mctf_pass_through(b);
		return;
	}
	put_values(in, 0, 0, 2, 1);
	put32(b, 4, val(in, 2));
	put16(b, 8, val(in, 3));
	put16(b, 10, noise(in, 4, N2, 256));
	/* Y, Cb and Cr each: level table, spatial and temporal limits. */
	for (int c = 0; c < 3; c++) {
		size_t at = 12 + 68 * (size_t)c;
		memcpy(b + at, part(in, 2 + c), 64);
		put8(b, at + 64, val(in, 5 + 3 * c));
		put8(b, at + 65, noise(in, 6 + 3 * c, N3, 255));
		if (c < 2)
			put16(b, at + 66, noise(in, 7 + 3 * c, N2, 256));
	}
	/* Three temporal curves: four alphas under N0, four limits under N1. */
	for (int c = 0; c < 3; c++) {
		for (int k = 0; k < 4; k++) {
			put8(b, 214 + 8 * (size_t)c + (size_t)k, noise(in, 13 + 8 * c + k, N0, 255));
			put8(b, 218 + 8 * (size_t)c + (size_t)k, noise(in, 17 + 8 * c + k, N1, 63));
		}
	}
	/* Per colour two spatial-smoothing words and the bytes up to the next
	 * colour's; after Cr's they run to the end of the levels. */
	for (int c = 0; c < 3; c++) {
		size_t at = 240 + 24 * (size_t)c;
		put_values(in, at, 37 + 18 * c, 2, 4);
		put_values(in, at + 8, 39 + 18 * c, c < 2 ? 16 : 67, 1);
	}
}

static void four_u32(const tr_in *in)
{
	put_values(in, 0, 0, 4, 4);
}

/* The exposure count's pair of values at byte at, each width bytes; a
 * channel not in HDR takes its fixed pair. */
static void hdr_pair(const tr_in *in, size_t at, int width, int32_t linear0, int32_t linear1)
{
	if (in_hdr(in->info)) {
		put_values(in, at, exposure_pair(in->info), 2, width);
		return;
	}
	put(in->b, at, width, linear0);
	put(in->b, at + (size_t)width, width, linear1);
}

/* Ratio and boost; 1x without a boost when not in HDR. */
static void hdr_blend(const tr_in *in)
{
	hdr_pair(in, 0, 2, 1, 0);
}

/* Words 1 and 2; word 0 is the transmitter's. */
static void hdr_ratio_limits(const tr_in *in)
{
	hdr_pair(in, 4, 4, 0, 0);
}

static void hdr_curve(const tr_in *in)
{
	memcpy(in->b, part(in, 2), 256);
}

static void chroma_filter(const tr_in *in)
{
	put_values(in, 0, 0, 3, 1);
	put_values(in, 4, 3, 2, 2);
	int64_t radius = val(in, 5);
	int64_t bound = img_adj_get_max_chroma_radius();
	put16(in->b, 8, radius < 0 ? 0 : (radius > bound ? bound : radius));
}

static void temporal_adjust(const tr_in *in)
{
	put_values(in, 0, 0, 4, 2);
	put_values(in, 8, 4, 9, 1);
	for (int c = 0; c < 3; c++) {
		size_t at = 18 + 8 * (size_t)c;
		put_values(in, at, 13 + 5 * c, 2, 1);
		put_values(in, at + 2, 15 + 5 * c, 3, 2);
	}
}

static void contrast_enhance(const tr_in *in)
{
	put_values(in, 0, 0, 27, 1);
	memcpy(in->b + 27, part(in, 2), 64);
	put_values(in, 91, 27, 2, 1);
	memcpy(in->b + 94, part(in, 3), 512);
}

static void motion_detect(const tr_in *in)
{
	put_values(in, 0, 0, 17, 2);
	put_values(in, 34, 17, 3, 1);
}

static void video_mctf_b(const tr_in *in)
{
	put_values(in, 0, 0, 33, 1);
	put_values(in, 34, 33, 3, 2);
	put_values(in, 40, 36, 2, 1);
	memcpy(in->b + 42, part(in, 2), 64);
}

static void nine_u8(const tr_in *in)
{
	put_values(in, 0, 0, 9, 1);
}

static bool begin(uint32_t id, filter_state *s, void *block, int32_t chan, tr_in *in)
{
	if (!s || !block)
		return false;
	if (s->id != id) {
		printf("translate id %d mismatch %d\n", (int)s->id, (int)id);
		return false;
	}
	/* The channel indexes the settings and channel records. */
	if (chan < 0 || chan >= img_adj_get_channel_count()) {
		printf("error: illegal channel id [%d].\n", chan);
		return false;
	}
	in->s = s;
	in->b = (uint8_t *)block;
	in->set = img_adj_channel_settings(chan);
	in->info = img_adj_get_channel_info(chan);
	in->chan = chan;
	return true;
}

template <uint32_t Id, tr_body Body> static int translate(filter_state *s, void *block, int32_t chan, void *)
{
	tr_in in;
	if (!begin(Id, s, block, chan, &in))
		return -1;
	Body(&in);
	return 0;
}

const img_adj_translater img_adj_translaters[IMG_ADJ_FILTER_NUM] = {
    translate<0, ae_targets>,
    translate<1, wb_warmth>,
    translate<2, four_u16>, /* static black level */
    translate<3, anti_aliasing>,
    translate<4, gbgr_mismatch>,
    translate<5, four_u8>, /* dynamic bad-pixel correction */
    translate<6, cfa_noise>,
    translate<7, local_exposure>,
    translate<8, four_u16>, /* demosaic */
    nullptr,                /* colour correction writes its own block */
    translate<10, tone_curve>,
    translate<11, rgb_to_yuv>,
    translate<12, chroma_scale>,
    translate<13, chroma_median>,
    translate<14, luma_processing>,
    translate<15, advance_spatial>,
    translate<16, sharpen_both>,
    translate<17, first_noise>,
    translate<18, sharpen_fir>,
    translate<19, coring>,
    translate<20, first_scaled_level>, /* coring index scale */
    translate<21, seven_u8>,           /* minimum coring result */
    translate<22, seven_u8>,           /* maximum coring result */
    translate<23, first_scaled_level>, /* scale coring */
    translate<24, video_mctf>,
    translate<25, four_u32>, /* HDR alpha values */
    translate<26, four_u32>, /* HDR anti-flicker thresholds */
    translate<27, four_u32>, /* HDR thresholds */
    translate<28, hdr_blend>,
    translate<29, hdr_ratio_limits>,
    translate<30, hdr_curve>,
    translate<31, four_u32>, /* HDR LUT mix */
    translate<32, four_u32>, /* HDR first strengths */
    translate<33, four_u32>, /* HDR second strengths */
    translate<34, four_u32>, /* HDR boost strengths */
    translate<35, chroma_filter>,
    translate<36, temporal_adjust>,
    translate<37, final_both>,
    translate<38, final_noise>,
    translate<39, final_fir>,
    translate<40, coring>,
    translate<41, final_scaled_level>, /* coring index scale */
    translate<42, eight_u8>,           /* minimum coring result */
    translate<43, final_max_coring>,
    translate<44, final_scale_coring>,
    translate<45, contrast_enhance>,
    translate<46, motion_detect>,
    translate<47, video_mctf_b>,
    translate<48, nine_u8>, /* video MCTF B level */
};

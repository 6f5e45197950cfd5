/* The filter transmitters, one a filter id, with the sent copies they
 * compare against. */
#include "img_adj_transmit.h"

#include "ae.h"
#include "awb.h"
#include "img_adj_filter.h"
#include "img_channel.h"
#include "img_dsp_mctf.h"
#include "img_dsp_raw.h"
#include "smooth_change.h"

#include <stdio.h>
#include <string.h>

/* What the HDR filters answer for a block that did not change. */
#define HDR_UNCHANGED -1
/* Bytes of the coring records that count: 256 coring bytes and the last. */
#define CORING_COMPARED 257
#define CE_MAX 16383

/* What a transmitter works with. */
typedef struct tx_in {
	uint8_t *b;
	uint8_t *sent; /* the channel's copy of the filter's block last sent */
	uint32_t id;
	uint32_t size;
	int fd;
	const img_dsp_mode *mode;
	const channel_info *info;
	const img_adj_settings *set;
	int chan;
	bool force;
} tx_in;

typedef int (*tx_body)(const tx_in *in);
template <typename T> using img_setter = int (*)(int, const img_dsp_mode *, T *);

static const img_adj_transmit_targets module_targets = {
    ae_set_target_from_filter,
    awb_set_warmth_channel,
    img_hdr_set_static_black_level,
    img_hdr_set_alpha_value,
    img_hdr_set_anti_flicker_threshold,
    img_hdr_set_threshold,
    img_hdr_set_shutter_ratio,
    img_get_ratio_limits_in_effect,
    img_set_ratio_limits_in_effect,
    img_set_hdr_boost_table,
    img_hdr_set_lut_mix,
    img_hdr_set_1st_strength,
    img_hdr_set_2nd_strength,
    img_hdr_set_boost_strength,
    img_hdr_get_ce_log_enable,
    img_hdr_get_ce_log_config,
    img_hdr_2nd_strength_factor,
    img_hdr_exp_expand,
};

static const img_adj_transmit_targets *targets = &module_targets;

static uint64_t sent[IMG_MAX_CHANNELS][IMG_ADJ_BLOCK_AREA / 8];
/* Set by a changed member of a sharpen-noise group, cleared when the
 * group's coring member sends it; one pass handles a channel at a time, so
 * all channels share them. */
static uint8_t first_group_pending;
static uint8_t final_group_pending;
static uint8_t last_internal_mctf[IMG_MAX_CHANNELS][8];

static uint8_t *sent_copy(int chan, uint32_t id)
{
	return (uint8_t *)sent[chan] + img_adj_filter_block_offset(id);
}

int img_adj_get_sent_tone_curve(void *out)
{
	if (!out)
		return -1;
	memcpy(out, sent_copy(0, IMG_ADJ_TONE), sizeof(img_dsp_tone_curve));
	return 0;
}

/* A failure wins over a clamp, a clamp over success. */
static int merge(int a, int b)
{
	return a < 0 || b < 0 ? -1 : (a | b);
}

static bool unchanged(const tx_in *in, size_t from, size_t len)
{
	return !in->force && memcmp(in->b + from, in->sent + from, len) == 0;
}

static bool in_hdr(const channel_info *info)
{
	return info->dsp_hdr || info->hdr_method == 4 || info->hdr_method == 8;
}

/* The DSP combines the exposures and the channel's curve marker is 1: the
 * HDR filters other than the alphas and the blend stay with the HDR
 * module's own settings. */
static bool hdr_combined(const tx_in *in)
{
	return in->info->dsp_hdr && in->info->hdr_curve == 1;
}

/* The common rule: compare bytes from..from + len, keep the whole block,
 * send it. The setter may clamp the block; the sent copy keeps what was
 * translated, so the next translation compares equal. */
template <typename T> static int send_common(const tx_in *in, img_setter<T> set, size_t from, size_t len)
{
	if (unchanged(in, from, len))
		return 0;
	memcpy(in->sent, in->b, in->size);
	return set(in->fd, in->mode, (T *)in->b);
}

/* A sub-block compared, kept and sent by itself. */
template <typename T> static int send_part(const tx_in *in, img_setter<T> set, size_t at, size_t len)
{
	if (unchanged(in, at, len))
		return 0;
	memcpy(in->sent + at, in->b + at, len);
	return set(in->fd, in->mode, (T *)(in->b + at));
}

/* Compares Len bytes from From; 0 compares the whole block. */
template <auto Set, size_t From = 0, size_t Len = 0> static int common(const tx_in *in)
{
	return send_common(in, Set, From, Len ? Len : in->size);
}

static int ae_target(const tx_in *in)
{
	uint16_t v[8];
	memcpy(v, in->b, sizeof(v));
	/* The AE module answers with its argument, not a status. */
	targets->ae_target(v, in->chan);
	return 0;
}

static int awb_warmth(const tx_in *in)
{
	targets->awb_warmth(in->b, in->chan);
	return 0;
}

static int static_black_level(const tx_in *in)
{
	if (!in_hdr(in->info))
		return send_common(in, vors_img_dsp_set_static_black_level, 0, 8);
	if (unchanged(in, 0, 8))
		return 0;
	memcpy(in->sent, in->b, in->size);
	int16_t levels[4];
	memcpy(levels, in->b, sizeof(levels));
	return targets->hdr_black_level(levels, in->chan);
}

static int color_correction(const tx_in *in)
{
	if (in->info->rgb_ir) {
		img_dsp_rgb_ir ir = {(uint8_t)in->info->rgb_ir_mode, 0,
		                     (uint16_t)img_adj_rgb_ir_correction(in->chan)};
		vors_img_dsp_set_rgb_ir(in->fd, in->mode, &ir);
	}
	img_dsp_color_correction cc;
	memcpy(&cc, in->b, sizeof(cc));
	if (!cc.MatrixThreeDTableAddr)
		return -1;
	return vors_img_dsp_set_color_correction(in->fd, in->mode, &cc);
}

static int group_member(const tx_in *in, uint8_t *pending, size_t compared)
{
	if (unchanged(in, 0, compared))
		return 0;
	memcpy(in->sent, in->b, in->size);
	*pending = 1;
	return 0;
}

static int first_member(const tx_in *in)
{
	/* The "both" block's eighth byte is padding. */
	return group_member(in, &first_group_pending, in->id == 16 ? 7 : in->size);
}

static int final_member(const tx_in *in)
{
	return group_member(in, &final_group_pending, in->size);
}

/* A member's sent copy goes out through a scratch copy, so a clamp by the
 * image kernel does not make it differ from the next translation. */
template <typename T> static void send_member(const tx_in *in, uint32_t id, img_setter<T> set)
{
	alignas(8) uint8_t scratch[544];
	memcpy(scratch, sent_copy(in->chan, id), img_adj_filter_block_size(id));
	set(in->fd, in->mode, (T *)scratch);
}

template <auto Both, auto Noise, auto Fir, auto Coring>
static int group_coring(const tx_in *in, uint8_t *pending)
{
	group_member(in, pending, CORING_COMPARED);
	if (!*pending)
		return 0;
	uint32_t first = in->id - 3;
	send_member(in, first, Both);
	send_member(in, first + 1, Noise);
	send_member(in, first + 2, Fir);
	send_member(in, in->id, Coring);
	*pending = 0;
	return 0;
}

static int first_coring(const tx_in *in)
{
	return group_coring<vors_img_dsp_set_1st_sharpen_noise_both, vors_img_dsp_set_1st_sharpen_noise_noise,
	                    vors_img_dsp_set_1st_sharpen_noise_sharpen_fir,
	                    vors_img_dsp_set_1st_sharpen_noise_sharpen_coring>(in, &first_group_pending);
}

static int final_coring(const tx_in *in)
{
	return group_coring<vors_img_dsp_set_final_sharpen_noise_both,
	                    vors_img_dsp_set_final_sharpen_noise_noise,
	                    vors_img_dsp_set_final_sharpen_noise_sharpen_fir,
	                    vors_img_dsp_set_final_sharpen_noise_sharpen_coring>(in, &final_group_pending);
}

static int video_mctf(const tx_in *in)
{
	/* Temporal artifact guards on under the bypass; frames combine 1, 1. */
	uint8_t guard = in->set->nr_bypass ? 1 : 0;
	const uint8_t internal[8] = {guard, guard, guard, 0, 0, 0, 1, 1};
	uint8_t *last = last_internal_mctf[in->chan];
	int rc = 0;
	if (in->force || memcmp(internal, last, sizeof(internal)) != 0) {
		memcpy(last, internal, sizeof(internal));
		/* The kernel's record carries a ninth byte, MCTF-B's guard, that
		 * this filter does not set. */
		img_dsp_internal_video_mctf rec;
		memcpy(&rec, internal, sizeof(internal));
		rec.mctf_b_temporal_artifact_guard = 0;
		rc = vors_img_dsp_set_internal_video_mctf(in->fd, in->mode, &rec);
		if (in->force) {
			memcpy(in->sent, in->b, in->size);
			return vors_img_dsp_set_video_mctf(in->fd, in->mode, (img_dsp_video_mctf *)in->b);
		}
	}
	return merge(rc, send_common(in, vors_img_dsp_set_video_mctf, 0, in->size));
}

/* Four words of an HDR block, words from to 3 compared. */
static int hdr_words(const tx_in *in, int from, int (*target)(const uint32_t *, int))
{
	if (unchanged(in, 4 * (size_t)from, 16 - 4 * (size_t)from))
		return HDR_UNCHANGED;
	memcpy(in->sent, in->b, in->size);
	uint32_t v[4];
	memcpy(v, in->b, sizeof(v));
	return target(v, in->chan);
}

static int hdr_alpha(const tx_in *in)
{
	if (hdr_combined(in))
		memset(in->b + 4, 0, 12);
	return hdr_words(in, 1, targets->hdr_alpha);
}

/* An HDR filter the combined channel leaves to the HDR module's own
 * settings; words From to 3 compared. */
template <int (*img_adj_transmit_targets::*Target)(const uint32_t *, int), int From>
static int hdr_skippable(const tx_in *in)
{
	return hdr_combined(in) ? 0 : hdr_words(in, From, targets->*Target);
}

static img_ratio_limits ratio_limits(int chan)
{
	img_ratio_limits l = {0, 0, 0};
	targets->ratio_limits_get(chan, &l);
	return l;
}

static int hdr_blend(const tx_in *in)
{
	img_hdr_blend_config cfg;
	if (hdr_combined(in)) {
		cfg = {16, 0};
		memcpy(in->b, &cfg, sizeof(cfg));
	}
	if (unchanged(in, 0, sizeof(cfg)))
		return HDR_UNCHANGED;
	/* The automatic ratio owns the pair while it runs; the block waits. */
	if (ratio_limits(in->chan).mode != 0)
		return 0;
	memcpy(in->sent, in->b, in->size);
	memcpy(&cfg, in->b, sizeof(cfg));
	return targets->hdr_shutter_ratio(&cfg, in->chan);
}

static int hdr_ratio_limits(const tx_in *in)
{
	if (hdr_combined(in))
		return 0;
	img_ratio_limits l = ratio_limits(in->chan);
	memcpy(in->b, &l.mode, sizeof(l.mode));
	if (unchanged(in, 0, sizeof(l)))
		return HDR_UNCHANGED;
	memcpy(in->sent, in->b, in->size);
	memcpy(&l, in->b, sizeof(l));
	return targets->ratio_limits_set(in->chan, &l);
}

static int hdr_boost_table(const tx_in *in)
{
	if (hdr_combined(in))
		return 0;
	if (unchanged(in, 0, IMG_HDR_BOOST_TABLE_SIZE))
		return HDR_UNCHANGED;
	memcpy(in->sent, in->b, in->size);
	return targets->boost_table_set(in->chan, in->b);
}

/* Compared with what the kernel holds now, which its own clamps may have
 * changed since this filter last sent. */
static int chroma_filter(const tx_in *in)
{
	vors_img_dsp_get_chroma_filter(in->mode, (img_dsp_chroma_filter *)in->sent);
	if (unchanged(in, 0, sizeof(img_dsp_chroma_filter)))
		return 0;
	memcpy(in->sent, in->b, sizeof(img_dsp_chroma_filter));
	return vors_img_dsp_set_chroma_filter(in->fd, in->mode, (img_dsp_chroma_filter *)in->b);
}

static int temporal_adjust(const tx_in *in)
{
	int rc = send_part(in, vors_img_dsp_set_video_mctf_temporal_adjust, 0, 18);
	rc = merge(rc, send_part(in, vors_img_dsp_set_video_mctf_temporal_adjust_y, 18, 8));
	rc = merge(rc, send_part(in, vors_img_dsp_set_video_mctf_temporal_adjust_cb, 26, 8));
	return merge(rc, send_part(in, vors_img_dsp_set_video_mctf_temporal_adjust_cr, 34, 8));
}

/* The output table as the DSP applies it: log-decoded when the channel's
 * HDR curves are log-encoded, else expanded by the second-strength curve. */
static void ce_remap(const tx_in *in, uint16_t *table)
{
	if (targets->ce_log_enable(in->chan) && in_hdr(in->info) && in->info->hdr_curve != 2) {
		uint64_t cfg = 0;
		targets->ce_log_config(&cfg, in->chan);
		float decode = (float)(int32_t)(cfg >> 32);
		for (int i = 0; i < 256; i++)
			table[i] =
			    (uint16_t)log_decode(255, CE_MAX, decode, (float)table[i] * 255.0f / CE_MAX);
		return;
	}
	float k = targets->strength_factor(in->chan);
	for (int i = 0; i < 256; i++) {
		float x = table[i] > CE_MAX ? (float)CE_MAX : (float)table[i];
		float y = targets->exp_expand(x, 14, k);
		table[i] = (uint16_t)(y < 0.0f ? 0 : (y > (float)CE_MAX ? CE_MAX : (int32_t)y));
	}
}

/* Remapped before the comparison, so a block whose table did not change
 * compares equal with its remapped sent copy. */
static int contrast_enhance(const tx_in *in)
{
	img_dsp_contrast_enhance ce;
	memcpy(&ce, in->b, sizeof(ce));
	ce_remap(in, ce.output_table);
	if (!in->force && memcmp(&ce, in->sent, sizeof(ce)) == 0)
		return 0;
	memcpy(in->sent, &ce, sizeof(ce));
	return vors_img_dsp_set_contrast_enhance(in->fd, in->mode, &ce);
}

static bool chan_valid(int chan)
{
	if (chan < img_adj_get_channel_count())
		return true;
	printf("error: illegal channel id [%d].\n", chan);
	return false;
}

static void fill(tx_in *in, filter_state *s, void *block, int fd, const img_dsp_mode *mode)
{
	in->b = (uint8_t *)block;
	in->id = s->id;
	in->size = img_adj_filter_block_size(s->id);
	in->sent = sent_copy(mode->ContextId, s->id);
	in->fd = fd;
	in->mode = mode;
	in->chan = mode->ContextId;
	in->info = img_adj_get_channel_info(in->chan);
	in->set = img_adj_channel_settings(in->chan);
	in->force = s->force_send != 0;
}

template <uint32_t Id, tx_body Body>
static int transmit(filter_state *s, void *block, int32_t fd, img_dsp_mode *mode)
{
	if (!s || !block || !mode || fd == 0)
		return -1;
	if (s->id != Id) {
		printf("transmit id %d mismatch %d\n", (int)s->id, (int)Id);
		return -1;
	}
	/* The context id indexes the sent copies. */
	if (!chan_valid(mode->ContextId))
		return -1;
	tx_in in;
	fill(&in, s, block, fd, mode);
	return Body(&in);
}

/* Colour correction keeps no sent copy and takes any descriptor; the
 * state's id is the dispatcher's business. */
static int transmit_cc(filter_state *s, void *block, int32_t fd, img_dsp_mode *mode)
{
	if (!s || !block || !mode || !chan_valid(mode->ContextId))
		return -1;
	tx_in in;
	fill(&in, s, block, fd, mode);
	return color_correction(&in);
}

const img_adj_transmitter img_adj_transmitters[IMG_ADJ_FILTER_NUM] = {
    transmit<0, ae_target>,
    transmit<1, awb_warmth>,
    transmit<2, static_black_level>,
    transmit<3, common<vors_img_dsp_set_anti_aliasing>>,
    transmit<4, common<vors_img_dsp_set_gbgr_mismatch>>,
    transmit<5, common<vors_img_dsp_set_dynamic_bad_pixel_correction>>,
    transmit<6, common<vors_img_dsp_set_cfa_noise_filter>>,
    transmit<7, common<vors_img_dsp_set_local_exposure, 0, sizeof(img_dsp_local_exposure)>>,
    transmit<8, common<vors_img_dsp_set_demosaic>>,
    transmit_cc,
    transmit<10, common<vors_img_dsp_set_tone_curve>>,
    transmit<11, common<vors_img_dsp_set_rgb_to_yuv_matrix>>,
    transmit<12, common<vors_img_dsp_set_chroma_scale, offsetof(img_dsp_chroma_scale, GainCurve), 256>>,
    transmit<13, common<vors_img_dsp_set_chroma_median_filter>>,
    transmit<14, common<vors_img_dsp_set_luma_processing_mode, 0, 1>>,
    transmit<15, common<vors_img_dsp_set_advance_spatial_filter>>,
    transmit<16, first_member>,
    transmit<17, first_member>,
    transmit<18, first_member>,
    transmit<19, first_coring>,
    transmit<20, common<vors_img_dsp_set_1st_sharpen_noise_sharpen_coring_index_scale, 0, 7>>,
    transmit<21, common<vors_img_dsp_set_1st_sharpen_noise_sharpen_min_coring_result, 0, 7>>,
    transmit<22, common<vors_img_dsp_set_1st_sharpen_noise_sharpen_max_coring_result, 0, 7>>,
    transmit<23, common<vors_img_dsp_set_1st_sharpen_noise_sharpen_scale_coring, 0, 7>>,
    transmit<24, video_mctf>,
    transmit<25, hdr_alpha>,
    transmit<26, hdr_skippable<&img_adj_transmit_targets::hdr_anti_flicker, 1>>,
    transmit<27, hdr_skippable<&img_adj_transmit_targets::hdr_threshold, 1>>,
    transmit<28, hdr_blend>,
    transmit<29, hdr_ratio_limits>,
    transmit<30, hdr_boost_table>,
    transmit<31, hdr_skippable<&img_adj_transmit_targets::hdr_lut_mix, 1>>,
    transmit<32, hdr_skippable<&img_adj_transmit_targets::hdr_1st_strength, 0>>,
    transmit<33, hdr_skippable<&img_adj_transmit_targets::hdr_2nd_strength, 0>>,
    transmit<34, hdr_skippable<&img_adj_transmit_targets::hdr_boost_strength, 0>>,
    transmit<35, chroma_filter>,
    transmit<36, temporal_adjust>,
    transmit<37, final_member>,
    transmit<38, final_member>,
    transmit<39, final_member>,
    transmit<40, final_coring>,
    transmit<41, common<vors_img_dsp_set_final_sharpen_noise_sharpen_coring_index_scale, 0, 8>>,
    transmit<42, common<vors_img_dsp_set_final_sharpen_noise_sharpen_min_coring_result, 0, 8>>,
    transmit<43, common<vors_img_dsp_set_final_sharpen_noise_sharpen_max_coring_result, 0, 8>>,
    transmit<44, common<vors_img_dsp_set_final_sharpen_noise_sharpen_scale_coring, 0, 8>>,
    transmit<45, contrast_enhance>,
    transmit<46, common<vors_img_dsp_set_motion_detect>>,
    transmit<47, common<vors_img_dsp_set_video_mctf_b>>,
    transmit<48, common<vors_img_dsp_set_video_mctf_b_level, 0, 9>>,
};

void img_adj_set_transmit_targets(const img_adj_transmit_targets *t)
{
	targets = t ? t : &module_targets;
}

void img_adj_transmit_reset(void)
{
	memset(sent, 0, sizeof(sent));
	memset(last_internal_mctf, 0, sizeof(last_internal_mctf));
	first_group_pending = 0;
	final_group_pending = 0;
	targets = &module_targets;
}

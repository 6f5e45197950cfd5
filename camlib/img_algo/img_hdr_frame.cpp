/* HDR per-frame update and image-kernel configuration. A channel's settings
 * wait in its send bytes until the image kernel took them; a channel with
 * anything unsent is not recomputed, so a frame never overwrites what the
 * last one could not send. */
#include "img_hdr_frame.h"

#include "aaa_parser.h"
#include "awb.h"
#include "cl_aaa_block.h"
#include "img_dsp_raw.h"
#include "img_hdr_state.h"
#include "img_lib.h"

#include <stdio.h>
#include <string.h>

/* Alpha calculation per blending index: caller-supplied alpha tables
 * (blend_control -2) for the first two. */
static const img_dsp_hdr_alpha_calc_cfg alpha_cfg_table[HDR_BLENDS] = {
    {2, 0, -2, 0, 4, 4, 4, 4},
    {2, 0, -2, 0, 4, 4, 4, 4},
    {0, 0, 0, 0, 0, 0, 0, 0},
};

static int null_pointer(void)
{
	printf("error: null pointer.\n");
	return -1;
}

/* HDR configurations a context cycles through. */
static uint32_t cfgs_per_context(void)
{
	uint32_t k = img_lib_get_config()->hdr_cfg_num;
	return k ? k : 1;
}

static uint64_t addr_of(const void *p)
{
	return (uint64_t)(uintptr_t)p;
}

static void set_alpha_block(int c, int k)
{
	img_dsp_hdr_alpha_calc_alpha *a = &hdr_ch(c)->ik.alpha[k];
	memset(a, 0, sizeof *a);
	a->pre_alpha_mode = 0;
	a->alpha_table_addr = addr_of(hdr_ch(c)->alpha_table[k]);
	a->saturation_num_nei = 4;
}

static void set_linearisation(img_dsp_amp_linearization *l, uint32_t enable, const uint16_t *table)
{
	memset(l, 0, sizeof *l);
	l->amplinear_ena = enable;
	l->lut_addr = addr_of(table);
}

static void fill_thresholds(img_dsp_hdr_alpha_calc_thresh *t, uint16_t v)
{
	for (uint16_t &s : t->saturation_threshold)
		s = v;
}

/* Anything of the channel the image kernel has not taken yet. */
static bool sends_left(int c, const img_hdr_frame_settings *fs)
{
	const hdr_ik_record *r = &hdr_ch(c)->ik;
	int n = hdr_expo_num(c);
	if (r->black_send || fs->raw_offset_send)
		return true;
	for (int k = 0; k < n - 1; k++)
		if (r->cfg_send[k] || r->thr_send[k] || r->alpha_send[k] || fs->blend_send[k])
			return true;
	for (int e = 0; e < n; e++)
		if (r->lin_send[e] || r->hds_send[e] || fs->wb_send[e])
			return true;
	return false;
}

static void note_pending(int c, const img_hdr_frame_settings *fs)
{
	hdr_ik_record *r = &hdr_ch(c)->ik;
	r->sends_pending = sends_left(c, fs) || r->post_pending;
}

/* ---- set-up ---- */

static void init_channel(int c, uint32_t k)
{
	hdr_chan *h = hdr_ch(c);
	const channel_info *ci = hdr_info(c);
	bool active = hdr_active(c), bypass = hdr_blend_bypass(c);
	h->enable = active;
	h->ce_log_enable = active;
	h->color_thr_enable = 0;
	if (hdr_method(c) >= 1 && hdr_method(c) <= 8 && hdr_method(c) != 3)
		h->blend = {256, (uint16_t)(bypass ? 0 : 128)};
	else
		h->blend = {16, 0};
	for (int e = 0; e < IMG_HDR_EXPOSURES; e++) {
		h->alpha[e] = bypass ? 0 : 128;
		h->anti_flicker[e] = 16;
		h->threshold[e] = 15360;
		h->lut_mix[e] = 0;
		h->drc_strength[e] = bypass ? 0 : 1280;
	}
	h->ce_log = {0, 0};
	for (int16_t &b : h->black_level)
		b = -500;
	img_hdr_store.ae_check[c].mode = 0;
	memset(&h->ext_lut, 0, sizeof h->ext_lut);
	memset(&h->ext_drc, 0, sizeof h->ext_drc);
	h->drc_hold = 0;
	h->drc_level = 65536;
	h->last_blend = {16, 0};
	for (uint32_t &d : h->last_dgain)
		d = 4096;
	memset(&h->last_raw_offset, 0, sizeof h->last_raw_offset);
	const uint32_t *si = img_hdr_store.sensor[c];
	if (!si[HDR_SI_ROW_FLAG])
		for (int e = 0; e < IMG_HDR_EXPOSURES; e++)
			h->last_raw_offset.y_offset[e] = (int32_t)si[HDR_SI_FIXED_Y + e];
	memset(&h->ik, 0, sizeof h->ik);
	for (int b = 0; b < HDR_BLENDS; b++)
		set_alpha_block(c, b);
	for (int e = 0; e < IMG_HDR_EXPOSURES; e++) {
		set_linearisation(&h->ik.lin[e], active, img_hdr_knot_table.v);
		set_linearisation(&h->ik.hds[e], active, img_hdr_knot_table.v);
	}
	h->ik.cfg_id = (uint8_t)(c * k);
	memset(&h->last_sent, 0, sizeof h->last_sent);
	uint8_t flags = 0;
	if (ci->dsp_hdr)
		flags |= HDR_F_RECOMPUTE | HDR_F_ALPHA | HDR_F_THRESHOLD;
	if (active)
		flags |= HDR_F_LUT | HDR_F_DRC | HDR_F_BLACK_LEVEL;
	img_hdr_flags[c].store(flags, std::memory_order_release);
}

int img_hdr_init_params(void)
{
	hdr_init_alpha_presets();
	uint32_t k = cfgs_per_context();
	for (int c = 0; c < img_hdr_store.channel_num; c++)
		init_channel(c, k);
	return 0;
}

/* The white-balance module's pending gains at the image kernel's scale. */
static img_dsp_front_end_wb_gain pending_wb_gain(int c)
{
	const awb_chan_store *st = awb_get_chan_store(c);
	img_dsp_front_end_wb_gain g = {4096, 4096, 4096};
	if (st && st->preload[0] && st->preload[1] && st->preload[2])
		g = {st->preload[0] * 4, st->preload[1] * 4, st->preload[2] * 4};
	return g;
}

static void init_dsp_channel(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, int c)
{
	hdr_ik_record *r = &hdr_ch(c)->ik;
	mode->ContextId = (uint8_t)c;
	mode->FuncMode = IMG_DSP_FUNC_NO_HDR;
	memset(fs, 0, sizeof *fs);
	r->black_send = 1;
	r->black = {-500, -500, -500, -500};
	for (int k = 0; k < HDR_BLENDS; k++) {
		set_alpha_block(c, k);
		r->alpha_send[k] = 1;
		r->cfg[k] = alpha_cfg_table[k];
		r->cfg_send[k] = 1;
		fill_thresholds(&r->thr[k], 16383);
		fill_thresholds(&r->hds_thr[k], 16383);
		r->thr_send[k] = 1;
		fs->alpha_index_threshold[k] = 16;
		fs->blend_send[k] = 1;
	}
	img_dsp_front_end_wb_gain wb = pending_wb_gain(c);
	for (int e = 0; e < IMG_HDR_EXPOSURES; e++) {
		set_linearisation(&r->lin[e], 1, img_hdr_knot_table.v);
		set_linearisation(&r->hds[e], 1, img_hdr_knot_table.v);
		r->lin_send[e] = r->hds_send[e] = 1;
		fs->fe_wb[e] = wb;
		fs->wb_send[e] = 1;
	}
	int n = hdr_expo_num(c);
	img_dsp_hdr_blending_info blending;
	memset(&blending, 0, sizeof blending);
	blending.max_blending_number = (uint8_t)(n - 1);
	vors_img_dsp_set_hdr_blending_info(fd, mode, &blending);
	for (int e = 0; e < n; e++) {
		img_dsp_hdr_dgain_saturation_level sat = {16383, 16383, 16383, 16383,
		                                          16383, 16383, 16383, 16383};
		vors_img_dsp_set_hdr_dgain_saturation_level(fd, mode, &sat, e);
	}
	static const uint8_t first_send[2] = {2, 1};
	img_hdr_set_dsp_config(fd, mode, fs, first_send);
}

int img_hdr_init_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings fs[4])
{
	if (!mode || !fs)
		return null_pointer();
	for (int c = 0; c < img_hdr_store.channel_num; c++)
		if (hdr_info(c)->dsp_hdr)
			init_dsp_channel(fd, mode, &fs[c], c);
	return 0;
}

/* ---- per-frame update ---- */

static bool gains_usable(const cl_aaa_block *state)
{
	for (int c = 0; c < img_hdr_store.channel_num; c++) {
		const cl_aaa_block *st = &state[c];
		for (int e = 0; e < hdr_expo_num(c); e++) {
			if (!st->expo[e].dgain) {
				printf("error: chan %d expo %d AE dgain can't be 0.\n", c, e);
				return false;
			}
		}
		if (!st->wb_r_gain || !st->wb_g_gain || !st->wb_b_gain) {
			printf("error: chan %d WB gain can't be 0.\n", c);
			return false;
		}
	}
	return true;
}

static void rebuild_tables(int c, uint8_t *flags, const aaa_parse_result *stats)
{
	hdr_chan *h = hdr_ch(c);
	bool log = hdr_info(c)->hdr_curve == 2;
	bool recompute = *flags & HDR_F_RECOMPUTE;
	img_hdr_blend_config pair = h->blend;
	if (!h->ext_lut.enable) {
		img_hdr_check_blend_config(&pair, c);
		*flags |= hdr_take(c, HDR_F_LUT);
		if (recompute || (*flags & HDR_F_LUT)) {
			if (log)
				img_hdr_build_log_lut(c);
			else
				img_hdr_build_tone_lut(c);
		}
	}
	if (!h->ext_drc.enable) {
		img_hdr_update_drc_level(pair.ratio, stats, c);
		*flags |= hdr_take(c, HDR_F_DRC);
		if (recompute || (*flags & (HDR_F_LUT | HDR_F_DRC))) {
			if (log)
				img_hdr_build_log_drc(c, pair.ratio);
			else
				img_hdr_build_tone_drc(c);
		}
	}
}

static void recompute_channel(int c, img_hdr_frame_settings *fs, cl_aaa_block *st,
                              const aaa_parse_result *stats)
{
	hdr_chan *h = hdr_ch(c);
	hdr_ik_record *r = &h->ik;
	int n = hdr_expo_num(c);
	bool hdr = hdr_info(c)->dsp_hdr != 0, active = hdr_active(c), bypass = hdr_blend_bypass(c);
	bool sensor_gains = bypass || hdr_method_is(c, 4, 6, 8);
	/* The flags are taken now: one raised from now on waits for the next
	 * frame instead of being cleared unseen. */
	uint8_t f = hdr_take(c, 0xff);
	bool recompute = f & HDR_F_RECOMPUTE;
	const uint32_t wb[3] = {st->wb_r_gain, st->wb_g_gain, st->wb_b_gain};
	bool wb_update = st->wb_update != 0;

	uint32_t d[IMG_HDR_EXPOSURES];
	bool dgain_changed = img_hdr_check_dgain(st, d, c) != 0;
	if (recompute || (f & HDR_F_ALPHA))
		img_hdr_calc_alpha_tables(c);
	rebuild_tables(c, &f, stats);
	uint16_t thr[HDR_BLENDS][4];
	memset(thr, 0, sizeof thr);
	img_hdr_calc_sat_threshold(wb, d, thr, c);

	r->black_send = recompute || (f & HDR_F_BLACK_LEVEL);
	memcpy(&r->black, h->black_level, sizeof r->black);
	for (int k = 0; k < n - 1; k++) {
		r->cfg[k] = alpha_cfg_table[k];
		r->cfg_send[k] = hdr && recompute;
		memcpy(r->thr[k].saturation_threshold, thr[k], sizeof thr[k]);
		r->thr_send[k] = hdr && (recompute || (f & HDR_F_THRESHOLD) || wb_update);
		fill_thresholds(&r->hds_thr[k], bypass ? 16383 : 6400);
		set_alpha_block(c, k);
		fs->alpha_index_threshold[k] = h->anti_flicker[k + 1];
		r->alpha_send[k] = hdr && (recompute || (f & HDR_F_ALPHA));
		fs->blend_send[k] = hdr && (recompute || (f & HDR_F_ANTI_FLICKER));
	}
	for (int e = 0; e < n; e++) {
		set_linearisation(&r->lin[e], active, hdr_active_lut(c, e));
		set_linearisation(&r->hds[e], active, hdr_active_drc(c, e));
		r->lin_send[e] = recompute || (f & HDR_F_LUT);
		r->hds_send[e] = recompute || (f & (HDR_F_LUT | HDR_F_DRC));
		if (sensor_gains)
			fs->fe_wb[e] = {4096, 4096, 4096};
		else
			fs->fe_wb[e] = {(uint32_t)((uint64_t)wb[0] * d[e] / 1024),
			                (uint32_t)((uint64_t)d[e] * wb[1] / 1024),
			                (uint32_t)((uint64_t)d[e] * wb[2] / 1024)};
		fs->wb_send[e] = hdr && (recompute || wb_update || dgain_changed);
	}
	if (sensor_gains) {
		const uint32_t g[5] = {wb[0] * 4, wb[1] * 4, wb[2] * 4, d[0], 4096};
		memcpy(fs->wb_gain, g, sizeof g);
	} else {
		for (uint32_t &g : fs->wb_gain)
			g = 4096;
	}
	fs->gains_changed = recompute || wb_update || dgain_changed;
	st->wb_update = 0;
	int moved = img_hdr_update_raw_offset(st, &fs->raw_offset, c);
	fs->raw_offset_send = hdr && (moved || recompute);
}

int img_hdr_process_frame(img_hdr_frame_settings fs[4], cl_aaa_block state[4], const aaa_parse_out *stats)
{
	int working = 0;
	for (int c = 0; c < img_hdr_store.channel_num; c++)
		working += hdr_active(c) && hdr_ch(c)->enable;
	if (!working)
		return 0;
	if (!fs || !state || !stats)
		return null_pointer();
	if (!gains_usable(state))
		return -1;
	for (int c = 0; c < img_hdr_store.channel_num; c++) {
		bool held = !stats->valid[c] || sends_left(c, &fs[c]);
		if (!held && hdr_active(c) && hdr_ch(c)->enable)
			recompute_channel(c, &fs[c], &state[c], &stats->chan[c]);
		note_pending(c, &fs[c]);
	}
	return 0;
}

/* ---- sending ---- */

typedef struct send_run {
	int fd;
	img_dsp_mode *mode;
	int chan;
	bool failed;
} send_run;

/* One setting: sent when its byte is set, the byte cleared when the image
 * kernel took it. After a failure nothing more is tried this frame. */
template <typename Call> static void send(send_run *run, uint8_t *pending, const char *name, Call call)
{
	if (run->failed || !*pending)
		return;
	if (call() < 0) {
		printf("err: %s (HDR) for channel [%d]\n", name, run->chan);
		run->failed = true;
		return;
	}
	*pending = 0;
	hdr_ch(run->chan)->ik.post_pending = 1;
}

static void send_blends(send_run *s, hdr_ik_record *r, img_hdr_frame_settings *fs, int n)
{
	int fd = s->fd;
	const img_dsp_mode *m = s->mode;
	for (int k = 0; k < n - 1; k++) {
		send(s, &r->cfg_send[k], "vors_img_dsp_set_hdr_alpha_calc_cfg",
		     [&] { return vors_img_dsp_set_hdr_alpha_calc_cfg(fd, m, &r->cfg[k], k); });
		/* Both threshold blocks go under one byte: a failure of the
		 * second sends both again. */
		uint8_t thr = r->thr_send[k];
		send(s, &thr, "vors_img_dsp_set_hdr_alpha_calc_thresh",
		     [&] { return vors_img_dsp_set_hdr_alpha_calc_thresh(fd, m, &r->thr[k], k); });
		send(s, &r->thr_send[k], "vors_img_dsp_set_hds_alpha_calc_thresh",
		     [&] { return vors_img_dsp_set_hds_alpha_calc_thresh(fd, m, &r->hds_thr[k], k); });
		send(s, &r->alpha_send[k], "vors_img_dsp_set_hdr_alpha_calc_alpha",
		     [&] { return vors_img_dsp_set_hdr_alpha_calc_alpha(fd, m, &r->alpha[k], k); });
		send(s, &fs->blend_send[k], "vors_img_dsp_set_amp_linearization_blend", [&] {
			img_dsp_amp_linearization_blend b;
			memset(&b, 0, sizeof b);
			b.alpha_index_threshold = (uint8_t)fs->alpha_index_threshold[k];
			return vors_img_dsp_set_amp_linearization_blend(fd, m, &b, k);
		});
	}
}

static void send_exposures(send_run *s, hdr_ik_record *r, img_hdr_frame_settings *fs, int n)
{
	int fd = s->fd;
	const img_dsp_mode *m = s->mode;
	for (int e = 0; e < n; e++) {
		send(s, &r->lin_send[e], "vors_img_dsp_set_amp_linearization",
		     [&] { return vors_img_dsp_set_amp_linearization(fd, m, &r->lin[e], e); });
		send(s, &r->hds_send[e], "vors_img_dsp_set_amp_linearization_hds",
		     [&] { return vors_img_dsp_set_amp_linearization_hds(fd, m, &r->hds[e], e); });
		send(s, &fs->wb_send[e], "vors_img_dsp_set_front_end_wb_gain",
		     [&] { return vors_img_dsp_set_front_end_wb_gain(fd, m, &fs->fe_wb[e], e); });
	}
}

static int send_channel(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, int c)
{
	hdr_chan *h = hdr_ch(c);
	hdr_ik_record *r = &h->ik;
	int n = hdr_expo_num(c);
	mode->FuncMode = hdr_info(c)->dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
	send_run s = {fd, mode, c, false};
	send(&s, &r->black_send, "vors_img_dsp_set_static_black_level",
	     [&] { return vors_img_dsp_set_static_black_level(fd, mode, &r->black); });
	send_blends(&s, r, fs, n);
	send_exposures(&s, r, fs, n);
	send(&s, &fs->raw_offset_send, "vors_img_dsp_set_hdr_raw_offset",
	     [&] { return vors_img_dsp_set_hdr_raw_offset(fd, mode, &fs->raw_offset); });
	if (s.failed)
		return -1;
	if (mode->FuncMode != IMG_DSP_FUNC_NO_HDR) {
		/* Without the DSP's HDR part the settings travel with the
		 * channel's ordinary configuration. */
		r->post_pending = 0;
	} else if (r->post_pending) {
		mode->ConfigId = r->cfg_id;
		if (vors_img_dsp_set_hdr_video_post_proc(fd, mode) < 0) {
			printf("err: vors_img_dsp_set_hdr_video_post_proc (HDR) for channel [%d]\n", c);
			return -1;
		}
		r->post_pending = 0;
		uint32_t k = cfgs_per_context();
		r->cfg_id = (uint8_t)((r->cfg_id + 1u) % k + (uint32_t)c * k);
		mode->ConfigId = r->cfg_id;
	}
	memcpy(h->last_sent.fe_wb, fs->fe_wb, sizeof fs->fe_wb);
	memcpy(h->last_sent.alpha_index_threshold, fs->alpha_index_threshold,
	       sizeof fs->alpha_index_threshold);
	h->last_sent.raw_offset = fs->raw_offset;
	return 0;
}

int img_hdr_set_dsp_config(int fd, img_dsp_mode *mode, img_hdr_frame_settings *fs, const uint8_t flags[2])
{
	if (!mode || !fs || !flags)
		return null_pointer();
	int c = mode->ContextId;
	if (c >= img_hdr_store.channel_num) {
		printf("error: illegal channel id [%d].\n", c);
		return -1;
	}
	if (flags[0] == 1 && flags[1] == 0)
		return 0;
	int rc = send_channel(fd, mode, fs, c);
	note_pending(c, fs);
	return rc;
}

int img_hdr_sends_pending(int chan)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	return hdr_ch(chan)->ik.sends_pending;
}

int img_hdr_get_last_sent(img_hdr_frame_settings *out)
{
	if (!out)
		return -1;
	for (int c = 0; c < img_hdr_store.channel_num; c++)
		out[c] = hdr_ch(c)->last_sent;
	return 0;
}

int img_hdr_set_ce_table(int fd, img_dsp_mode *mode, const uint32_t strengths[4][4], int chan)
{
	if (chan < 0 || chan >= img_hdr_store.channel_num) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	if (!mode || !strengths)
		return null_pointer();
	if (hdr_set_2nd_strength_ce(strengths[chan], chan) < 0)
		return -1;
	img_dsp_contrast_enhance ce;
	if (vors_img_dsp_get_contrast_enhance(mode, &ce) < 0)
		return -1;
	float k = img_hdr_2nd_strength_factor(chan);
	for (int i = 0; i < 256; i++)
		ce.output_table[i] = (uint16_t)img_hdr_exp_expand(64.0f * (float)i, 14, k);
	return vors_img_dsp_set_contrast_enhance(fd, mode, &ce) < 0 ? -1 : 0;
}

// Dynamic image control: one step per stream that re-tunes, from each image
// statistics record, the settings that shape tones, and hands them to the
// camera library as pending settings.

#include "dic.h"

#include <glib.h>
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "core/algo_step.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

uint16_t dic_ce_output_sent[DIC_CHANNELS][256];

namespace
{

using ds = dic_settings;

prodconf_field value(const char *key, uint32_t kind, size_t offset, int32_t def)
{
	return prodconf_field_i32(key, kind, PRODCONF_OPTIONAL, offset, def);
}

prodconf_field real(const char *key, size_t offset, float def)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_FLOAT2, PRODCONF_OPTIONAL, offset);
	f.def.f = def;
	return f;
}

prodconf_field list(const char *key, uint32_t kind, size_t offset, const int32_t *def = nullptr,
                    uint64_t def_count = 0)
{
	prodconf_field f = prodconf_field_make(key, kind, PRODCONF_OPTIONAL, offset);
	f.dynamic = 1;
	f.count_offset = offset + offsetof(dic_list, n);
	f.def.p = def;
	f.default_count = def_count;
	return f;
}

const int32_t def_low_cfa_start[] = {0, 10 * 16384};
const int32_t def_low_gamma[] = {16384, 40960};
const int32_t def_preserve_range[] = {100, 300};
const int32_t def_ce_range[] = {5, 120};
const int32_t def_le_midtones[] = {30, 60};
const int32_t def_le_lowtones[] = {20, 90};
const int32_t def_le_ratio_boost_map[] = {32, 64};

#define I(key, def) value(#key, PRODCONF_INT, offsetof(ds, key), def)
#define B(key, def) value(#key, PRODCONF_BOOL, offsetof(ds, key), def)
#define F(key, def) real(#key, offsetof(ds, key), def)
#define IL(key) list(#key, PRODCONF_INT, offsetof(ds, key))
#define QL(key) list(#key, PRODCONF_FIXED, offsetof(ds, key))
#define ILD(key, def) list(#key, PRODCONF_INT, offsetof(ds, key), def, G_N_ELEMENTS(def))
#define QLD(key, def) list(#key, PRODCONF_FIXED, offsetof(ds, key), def, G_N_ELEMENTS(def))

const prodconf_field dic_fields[] = {
    I(show_stats, 0),
    F(dic_max_db_offset, 6.0f),
    B(enable_tone_curve, 1),
    QL(tc_gain_map),
    QL(tc_alpha_mid),
    QL(tc_alpha_high),
    QL(tc_alpha_low),
    QL(tc_max_change),
    QL(tc_max_grad),
    IL(tc_base_curve),
    IL(tc_base_range),
    I(tc_base_curve_max_gain, 12),
    I(tc_low_point, 64),
    I(tc_high_point, 192),
    I(tc_change_limit, 100),
    QLD(tc_low_cfa_start, def_low_cfa_start),
    I(tc_stretch_cfa_end, 42),
    QLD(tc_low_gamma, def_low_gamma),
    F(tc_cfa_data_start_thrshld, 16.0f),
    B(tc_preserve_contrast, 0),
    ILD(tc_preserve_contrast_range, def_preserve_range),
    I(tc_frame_skip, 4),
    B(enable_dynamic_ce, 1),
    QL(ce_ratio_map),
    IL(ce_gain_map),
    IL(ce_max_strength),
    IL(ce_min_strength),
    QL(ce_rgb_low_limit),
    QL(ce_rgb_mid_limit),
    QL(ce_rgb_high_limit),
    QL(ce_rgb_weight_limit),
    ILD(ce_range, def_ce_range),
    I(ce_range_limit_min, 200),
    I(ce_range_limit_max, 600),
    F(ce_saturation_limit, 3.0f),
    F(ce_mid_tone_factor, 1.0f),
    F(ce_high_tone_factor, 1.0f),
    I(ce_low_pass, 25),
    I(ce_coring_gain_shift, 12),
    I(ce_frame_skip, 8),
    B(enable_dynamic_coring, 0),
    IL(ce_coring_gain),
    IL(ce_coring_strength),
    IL(ce_coring_xstart),
    IL(ce_coring_ystart),
    IL(ce_coring_midpoint),
    B(enable_dynamic_boost_factor, 0),
    QL(boost_factor_map_x),
    QL(boost_factor_map_y),
    QL(boost_factor_scale_map_x),
    QL(boost_factor_scale_map_y),
    B(enable_dynamic_alpha, 0),
    IL(hdr_gain_map),
    IL(hdr_alpha_max_map),
    I(hdr_alpha_min, 128),
    QL(hdr_alpha_short_weight),
    IL(hdr_thresh_min_map),
    I(hdr_thresh_max, 16200),
    QL(hdr_thresh_short_weight),
    IL(cs_map_gain),
    IL(cs_map_max_scale),
    IL(cs_map_desat_scale),
    IL(cs_map_ratio),
    IL(cs_map_start_scale),
    I(cs_stationary_point, 100),
    I(cs_highlight_start_point, 128),
    I(cs_highlight_end_point, 128),
    I(cs_highlight_boost, 0),
    F(cs_max_gain_for_highlight_boost, 12.0f),
    IL(le_map_ratio),
    IL(le_map_strength),
    IL(le_map_gain),
    IL(le_map_max_strength),
    ILD(le_midtones, def_le_midtones),
    ILD(le_lowtones, def_le_lowtones),
    I(le_aggressiveness, 30),
    F(le_max_slide_bar, 2.0f),
    F(le_ratio_boost, 1.0f),
    ILD(le_ratio_boost_map, def_le_ratio_boost_map),
    F(le_slope_min, 0.1f),
    F(le_slope_max, 10.0f),
    F(le_high2mid_shift, 0.0f),
    F(le_high2low_shift, 0.0f),
    F(le_low_boost_fator, 3.0f),
    I(le_max_curve_offset, 21),
    I(le_radius, 3),
    I(le_shift, 5),
    F(le_low_weight_target, 50.0f),
    I(le_smooth, 90),
    I(le_frame_skip, 4),
    B(ce_output_enabled, 0),
    QL(ce_output_ef_map),
    QL(ce_output_gain_map),
    QL(ce_output_low_tones_end_map),
    QL(ce_output_mid_tones_end_map),
    QL(ce_output_brightness_low_map),
    QL(ce_output_brightness_mid_map),
    QL(ce_output_low_contrast_boost_map),
    QL(ce_output_mid_contrast_boost_map),
    QL(ce_output_high_contrast_boost_map),
    QL(ce_ef_scaling_map),
    I(bl_correction_frame_skip, 4),
    B(enable_bl_correction, 0),
    IL(bl_map_gain),
    IL(bl_correction_map),
    IL(bl_correction_short_frame_map),
    B(enable_custom_luma_blending_calc, 0),
    IL(hdr_alpha_table),
    I(dic_sharpness_coring, 3),
    IL(cs_table),
    IL(dgain_gain_map),
    IL(dgain_map),
    IL(awb_speed),
    QL(tc_ev_map),
    QL(tc_rgb_target_map),
    F(tc_min_gamma, 0.5f),
    F(tc_max_gamma, 2.2f),
    B(enable_global_tc, 0),
};

#undef I
#undef B
#undef F
#undef IL
#undef QL
#undef ILD
#undef QLD

uint64_t pair_count(const dic_list *xs, const dic_list *ys)
{
	if (!dic_list_given(xs) || !dic_list_given(ys))
		return 0;
	return xs->n < ys->n ? xs->n : ys->n;
}

int clampi(int v, int lo, int hi)
{
	return v < lo ? lo : (v > hi ? hi : v);
}

dic_state *state_of(algo_step *step)
{
	return static_cast<dic_state *>(algo_step_get_local_data(step));
}

// The built-in contrast-enhancement output curve of linear streams.
void builtin_ce_curve(uint16_t *out)
{
	for (int i = 0; i < 256; i++)
		out[i] = (uint16_t)floor(16384.0 * (pow(2.0, i / 256.0) - 1.0));
	out[240] = 14995;
}

void start_values(dic_state *st)
{
	st->first_run = 1;
	st->last_contrast = 50;
	st->local_contrast = 50;
	st->le_last_lc = 50;
	st->ce_lc = 50;
	st->tc_high_point = 64.0;
	st->tc_low_point = 0.0;
	st->tc_gamma = 1.0f;
	st->threshold_scale = 1.0;
	st->dgain = 4096;
	st->exposure_ratio = 1.0;
}

void send_start_ce(dic_state *st)
{
	if (libcl_get_ce_config(st->channel, reinterpret_cast<uint8_t *>(&st->ce)) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Get ce config failed!\n", "dic_cl_init");
		return;
	}
	st->ce.enable = 1;
	st->ce.output_enable = 1;
	builtin_ce_curve(st->ce.output_table);
	if (libcl_set_ce_config(st->channel, reinterpret_cast<const uint8_t *>(&st->ce)) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Set ce config failed!\n", "dic_cl_init");
}

void set_coring(dic_state *st, const char *who)
{
	if (libcl_set_sharpness_coring(st->channel, (uint32_t)st->settings->dic_sharpness_coring) != 0)
		debug_output(DEBUG_WARNING, 0, "%s dic_sharpness_coring is not set\n", who);
}

// Step 4 of an update.
void update_dgain(dic_state *st)
{
	const dic_settings *s = st->settings;
	int32_t d = 4096;
	if (dic_list_given(&s->dgain_gain_map))
		dic_map_lookup_int(&s->dgain_gain_map, &s->dgain_map, st->long_gain, &d);
	d = clampi(d, 2000, 8000);
	if (d != st->dgain) {
		// Recorded only once the library took it, so a refused value is
		// offered again on the next update.
		if (libcl_set_global_dgain(st->channel, d) == 0)
			st->dgain = d;
		else
			debug_output(DEBUG_WARNING, 0, "%s d_gain %d is not set\n", "dic_cl_run",
			             st->channel);
	}
	if (st->long_gain != st->prev_long_gain)
		set_coring(st, "dic_cl_run");
}

// Step 7: the gains of both sub-streams in dB (Q14).
void update_gains(dic_state *st)
{
	st->prev_long_gain = st->long_gain;
	sensor *sen = platform_get_sensor_for_stream(st->platform, st->stream_id);
	if (!sen)
		return;
	int32_t step = sen->gain_step;
	// Sub-stream 0 is the long exposure, 1 the short one.
	int32_t base = st->stream_id < 0 ? 0 : (st->stream_id & ~0xff);
	int32_t idx0 = sensor_get_gain_index(sen, base);
	int32_t idx1 = sensor_get_gain_index(sen, base | 1);
	st->long_gain = (int32_t)((int64_t)(idx0 > 0 ? idx0 : 0) * step);
	st->short_gain = (int32_t)((int64_t)(idx1 > 0 ? idx1 : 0) * step);
}

void count_down(int32_t *n)
{
	if (*n > 0)
		(*n)--;
}

void finish_update(dic_state *st, const image_stats_record *stats)
{
	st->first_run = 0;
	if (st->settings->show_stats == st->channel + 1)
		dic_print_stats(st, stats);
}

} // namespace

const prodconf_schema dic_settings_schema = {"config", sizeof(dic_settings), dic_fields,
                                             G_N_ELEMENTS(dic_fields)};

void dic_settings_free(void *settings)
{
	if (!settings)
		return;
	char *base = static_cast<char *>(settings);
	for (const prodconf_field &f : dic_fields)
		if (f.dynamic)
			g_free(*reinterpret_cast<void **>(base + f.offset));
	g_free(settings);
}

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

int dic_cl_init(algo_step *step, control *engine)
{
	dic_state *st = state_of(step);
	if (!st || !st->settings)
		return -1;
	const dic_settings *s = st->settings;
	st->platform = control_get_platform(engine);
	st->stream_id = step->stream_id;
	st->channel = platform_stream_channel(step->stream_id);
	st->wdr = sensor_get_wdr_mode(platform_get_sensor_for_stream(st->platform, st->stream_id)) != 0;
	start_values(st);

	st->tone_curve_on = s->enable_tone_curve && dic_list_given(&s->tc_alpha_mid);
	if (st->tone_curve_on) {
		st->tc_alpha_mid = s->tc_alpha_mid.v[0] / 16384.0;
		libcl_enable_tone_curve(st->channel, 2);
	}
	set_coring(st, "dic_cl_init");
	if (libcl_get_hdr_mode(st->channel, &st->hdr_mode) != 0)
		debug_output(DEBUG_WARNING, 0, "%s Failed to get hdr mode\n", "dic_cl_init");
	if (s->hdr_alpha_table.n) {
		if (s->hdr_alpha_table.n == 128 && s->hdr_alpha_table.v) {
			for (int i = 0; i < 128; i++)
				st->alpha_table[2 + i] = (uint32_t)s->hdr_alpha_table.v[i];
			st->alpha_table_valid = 1;
		} else {
			debug_output(DEBUG_WARNING, 0, "%s: hdr_alpha_table_size in YAML is not correct!\n",
			             "dic_cl_init");
		}
	}
	if (s->cs_table.n) {
		if (s->cs_table.n == 128 && s->cs_table.v)
			st->cs_table_valid = 1;
		else
			debug_output(DEBUG_WARNING, 0, "%s: cs_table in YAML is not correct!\n",
			             "dic_cl_init");
	}
	if (!st->wdr)
		send_start_ce(st);
	if (s->enable_global_tc) {
		uint64_t n = s->tc_base_curve.n > 256 ? 256 : s->tc_base_curve.n;
		for (uint64_t i = 0; i < n; i++)
			st->tone_curve[i] = (uint16_t)((i * 1023 * 2 + 255) / 510);
		if (libcl_set_tone_curve(st->channel, st->tone_curve) != 0)
			debug_output(DEBUG_WARNING, 0, "%s: Set tone curve failed!\n", "dic_cl_init");
	}
	if (st->channel >= 0 && (uint64_t)st->channel < s->awb_speed.n && s->awb_speed.v &&
	    libcl_set_awb_speed(st->channel, s->awb_speed.v[st->channel]) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Set AWB speed failed!\n", "dic_cl_init");
	if (libcl_set_global_dgain(st->channel, 4096) != 0)
		debug_output(DEBUG_WARNING, 0, "%s d_gain %d is not set\n", "dic_cl_init", st->channel);
	return 0;
}

int dic_cl_run(algo_step *step, control *engine)
{
	dic_state *st = state_of(step);
	control_job *job = control_get_input(engine);
	if (!st || !st->settings || !job)
		return 0;
	if (job->type == HDR_THRESHOLD_TYPE) {
		double scale;
		memcpy(&scale, reinterpret_cast<const uint8_t *>(job) + sizeof(control_job), sizeof(scale));
		st->threshold_scale = scale;
		return 0;
	}
	if (job->type != HIST_ANALYZER_DATA_IMAGE_STATS)
		return 0;
	const image_stats_record *stats = reinterpret_cast<const image_stats_record *>(job);
	const dic_settings *s = st->settings;
	uint32_t started = 0;
	if (libcl_get_aaa_started(&started) != 0 || !started)
		return 0;
	if (s->enable_custom_luma_blending_calc && st->wdr && !st->custom_luma_done) {
		if (libcl_set_custom_hdr_luma_calc(st->channel) != 0)
			debug_output(DEBUG_WARNING, 0, "%s hdr_luma_calc is not set\n", "dic_cl_run");
		st->custom_luma_done = 1;
	}
	update_dgain(st);
	aaa_state aaa;
	memset(&aaa, 0, sizeof(aaa));
	if (libcl_get_aaa_state(st->channel, &aaa) != 0) {
		debug_output(DEBUG_INFO, 0, "Could not get aaa state!");
	} else {
		st->ae_hold = aaa.hold_ae != 0;
		if (aaa.word[0] != 0)
			return 0;
	}
	int32_t tone = 0;
	if (platform_get_channel_value(st->platform, &tone, st->stream_id) == 0)
		st->tone_value = clampi(tone, 0, 400);
	update_gains(st);
	count_down(&st->le_skip);
	count_down(&st->tc_skip);
	count_down(&st->ce_skip);
	count_down(&st->bl_skip);
	if (libcl_get_shutter_and_gain(st->channel, &st->sg) != 0) {
		finish_update(st, stats);
		return 0;
	}
	st->exposure_ratio =
	    st->wdr ? (double)st->sg.shutter[0] / (st->sg.shutter[1] > 1 ? st->sg.shutter[1] : 1) : 1.0;
	if (st->tone_curve_on)
		dic_update_tone_curve(st, stats);
	int32_t lc;
	if (param_get_int(DIC_PARAM_LOCAL_CONTRAST, st->stream_id, &lc) == 0)
		st->local_contrast = lc;
	if (st->le_skip == 0 && dic_update_local_exposure(st, stats) >= 0)
		st->le_skip = s->le_frame_skip;
	if (st->wdr) {
		dic_update_contrast_enhancement(st, stats);
		dic_update_boost(st);
		if (st->hdr_mode != 15)
			optimise_alpha(st, stats);
	}
	optimise_chroma_scale(st);
	optimise_black_level(st);
	finish_update(st, stats);
	return 0;
}

int dic_cl_destroy(algo_step *step, control *)
{
	return state_of(step) ? 0 : -1;
}

static_assert(offsetof(dic_state, settings) == offsetof(algo_cl_local, settings),
              "the settings follow the reference count as in every algorithm's local data");

const algo_cl_module dic_cl_module = {
    &dic_settings_schema,
    sizeof(dic_state),
    dic_cl_init,
    dic_cl_run,
    dic_cl_destroy,
    {HIST_ANALYZER_DATA_IMAGE_STATS, HDR_THRESHOLD_TYPE},
    2,
    {},
    0,
    nullptr,
    dic_settings_free,
};

void dic_update_boost(dic_state *st)
{
	const dic_settings *s = st->settings;
	uint32_t boost = 128;
	if (dic_list_given(&s->boost_factor_map_x) && dic_list_given(&s->boost_factor_map_y) &&
	    dic_list_given(&s->boost_factor_scale_map_x) && dic_list_given(&s->boost_factor_scale_map_y)) {
		double b = 0.0, scale = 0.0;
		dic_map_lookup(&s->boost_factor_map_x, &s->boost_factor_map_y, dic_q14(st->exposure_ratio),
		               &b);
		dic_map_lookup(&s->boost_factor_scale_map_x, &s->boost_factor_scale_map_y, st->long_gain,
		               &scale);
		b = scale / 100.0 * b;
		if (s->enable_tone_curve && st->tc_low_point > 5.0)
			b += (128.0 - b) * (st->tc_low_point - 5.0) / 10.0;
		boost = b <= 128.0 ? 128 : (b >= 256.0 ? 256 : (uint32_t)b);
	}
	if (boost == st->sg.boost_factor)
		return;
	shutter_gain sg = st->sg;
	sg.boost_factor = boost;
	if (libcl_set_shutter_and_gain(st->channel, &sg) == 0)
		st->sg.boost_factor = boost;
	else
		debug_output(DEBUG_WARNING, 0, "%s: Setting boost factor failed!\n", __func__);
}

void optimise_alpha(dic_state *st, const image_stats_record *stats)
{
	const dic_settings *s = st->settings;
	uint32_t values[4] = {};
	if (!s->enable_dynamic_alpha) {
		values[0] = values[1] = 128;
		if (libcl_set_hdr_alpha_value(st->channel, values) == 0)
			st->alpha = 128;
		else
			debug_output(DEBUG_WARNING, 0, "%s: Setting hdr alpha failed!\n", __func__);
		return;
	}
	if (st->first_run) {
		uint32_t thresholds[4] = {};
		if (libcl_get_hdr_alpha_value(st->channel, values) != 0 ||
		    libcl_get_hdr_threshold(st->channel, thresholds) != 0)
			return;
		st->alpha = values[0];
		st->threshold = thresholds[0];
	}
	int32_t amax = 0, tmin = 0;
	dic_map_lookup_int(&s->hdr_gain_map, &s->hdr_alpha_max_map, st->long_gain, &amax);
	amax = clampi(amax, 0, 256);
	int amin = clampi(s->hdr_alpha_min, 0, amax);
	dic_map_lookup_int(&s->hdr_gain_map, &s->hdr_thresh_min_map, st->long_gain, &tmin);
	int top = (int)(s->hdr_thresh_max * st->threshold_scale);
	int T = clampi(top, 8000, 16200);

	const hist_analysis *sh = &stats->short_frame;
	int L = tmin;
	if (sh->saturation_raw < 0.01) {
		double p = sh->bin_count > 2 ? sh->data_end / (sh->bin_count - 2) : 1.0;
		if (p <= 0.8)
			L = top;
		else if (p >= 1.0)
			L = tmin;
		else
			L = (int)(tmin + (top - tmin) * (1.0 - p) / 0.2);
	}
	double d = (st->short_gain - st->long_gain) / 16384.0;
	if (d > 0.1)
		L = (int)(L + (16200 - L) * d / 6.0);
	L = L < 8000 ? 8000 : L;
	L = L > T ? T : L;

	double m = sh->weight_avg;
	int alpha_target = amin;
	const dic_list *aw = &s->hdr_alpha_short_weight;
	if (aw->n >= 2 && aw->v && aw->v[0] != aw->v[1]) {
		double w0 = aw->v[0] / 16384.0, w1 = aw->v[1] / 16384.0;
		int a = (int)(amin + (amax - amin) * (m - w0) / (w1 - w0));
		alpha_target = a > amin ? a : amin;
	}
	alpha_target = alpha_target > amax ? amax : alpha_target;
	int th_target = T;
	const dic_list *tw = &s->hdr_thresh_short_weight;
	if (tw->n >= 2 && tw->v && tw->v[0] != tw->v[1]) {
		double t0 = tw->v[0] / 16384.0, t1 = tw->v[1] / 16384.0;
		th_target = clampi((int)(T + (L - T) * (m - t0) / (t1 - t0)), L, T);
	}

	int cur = (int)st->alpha;
	int next = cur;
	if (alpha_target > cur + 2)
		next = cur + 1;
	else if (alpha_target < cur - 2)
		next = cur - 1;
	next = clampi(next, amin, amax);
	if (next != cur) {
		values[0] = values[1] = (uint32_t)next;
		if (libcl_set_hdr_alpha_value(st->channel, values) != 0) {
			debug_output(DEBUG_WARNING, 0, "%s: Setting hdr alpha failed!\n", "optimise_alpha");
			return;
		}
		st->alpha = (uint32_t)next;
	}
	int th = (int)st->threshold;
	int diff = th_target - th;
	if (diff > 75 || diff < -75) {
		int moved = clampi(th + clampi(diff, -125, 125), 8000, 16200);
		if (moved != th) {
			uint32_t thresholds[4] = {(uint32_t)moved, (uint32_t)moved, 0, 0};
			if (libcl_set_hdr_threshold(st->channel, thresholds) == 0)
				st->threshold = (uint32_t)moved;
			else
				debug_output(DEBUG_WARNING, 0, "%s: Setting hdr theshold failed!\n",
				             "optimise_alpha");
		}
	}
	if (st->first_run && st->alpha_table_valid &&
	    libcl_set_hdr_alpha_table(st->channel, st->alpha_table) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Setting hdr alpha table failed!\n", "optimise_alpha");
}

void optimise_chroma_scale(dic_state *st)
{
	const dic_settings *s = st->settings;
	if (!dic_list_given(&s->cs_map_gain) || !dic_list_given(&s->cs_map_max_scale) ||
	    !dic_list_given(&s->cs_map_desat_scale) || !dic_list_given(&s->cs_map_ratio) ||
	    !dic_list_given(&s->cs_map_start_scale))
		return;
	int S = s->cs_stationary_point, H0 = s->cs_highlight_start_point, H1 = s->cs_highlight_end_point;
	int boost = s->cs_highlight_boost;
	double G = s->cs_max_gain_for_highlight_boost;
	if (G != 0.0)
		boost =
		    clampi((int)(boost - (st->long_gain / 16384.0) * boost / G), 0, s->cs_highlight_boost);
	int32_t max = 0, desat = 0, start = 0;
	dic_map_lookup_int(&s->cs_map_gain, &s->cs_map_max_scale, st->long_gain, &max);
	dic_map_lookup_int(&s->cs_map_gain, &s->cs_map_desat_scale, st->long_gain, &desat);
	dic_map_lookup_int(&s->cs_map_ratio, &s->cs_map_start_scale, dic_q14(st->exposure_ratio), &start);
	start = (int32_t)((int64_t)(start < max ? start : max) * (100 - desat) / 100);
	uint32_t bw = 0;
	if (libcl_get_bw_mode(st->channel, &bw) == 0 && bw)
		max = start = 0;
	if (H0 < S || H0 > H1)
		debug_output(DEBUG_WARNING, 0, "%s, not monotonic conditions for chroma scale\n",
		             "optimise_chroma_scale");
	libcl_chroma_scale *cs = &st->cs;
	cs->enable = 1;
	for (int i = 0; i < 128; i++) {
		int64_t v;
		if (st->cs_table_valid)
			v = clampi((int)((int64_t)s->cs_table.v[i] * (100 - desat) / 100), 0, 4095);
		else if (i < S)
			v = start + (int64_t)i * (max - start) / S;
		else if (i < H0)
			v = max;
		else if (i < H1)
			v = max + (int64_t)(i - H0) * boost * max / ((int64_t)(H1 - H0) * 100);
		else
			v = (int64_t)(boost + 100) * max / 100;
		if (!st->cs_table_valid && i >= H0)
			v = v > 4095 ? 4095 : v;
		cs->gain[i] = (uint32_t)(v < 0 ? 0 : v);
	}
	if (libcl_set_chroma_scale(st->channel, cs) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Setting chroma scale failed!\n", "optimise_chroma_scale");
}

void optimise_black_level(dic_state *st)
{
	const dic_settings *s = st->settings;
	if (st->bl_skip != 0 || !s->enable_bl_correction)
		return;
	libcl_black_level level;
	memset(&level, 0, sizeof(level));
	if (libcl_get_black_level(st->channel, &level) != 0) {
		debug_output(DEBUG_INFO, 0, "WARNING: %s can not get sensor black level",
		             "optimise_black_level");
		return;
	}
	int32_t off = 0, soff = 0;
	dic_map_lookup_int(&s->bl_map_gain, &s->bl_correction_map, st->long_gain, &off);
	dic_map_lookup_int(&s->bl_map_gain, &s->bl_correction_short_frame_map, st->long_gain, &soff);
	for (int k = 0; k < 4; k++) {
		if (st->wdr) {
			level.exposure[0][k] += off;
			level.exposure[1][k] += soff;
		} else {
			level.linear[k] += off;
		}
	}
	if (libcl_set_black_level(st->channel, &level) == 0)
		st->bl_skip = s->bl_correction_frame_skip;
	else
		debug_output(DEBUG_WARNING, 0, "WARNING: %s can not set sensor black level",
		             "optimise_black_level");
}

void dic_print_stats(const dic_state *st, const image_stats_record *stats)
{
	const hist_analysis *a[4] = {&stats->long_frame, &stats->short_frame, &stats->cfa, &stats->rgb};
	double low[4], low_avg[4];
	for (int i = 0; i < 4; i++) {
		low[i] = a[i]->low_share;
		low_avg[i] = a[i]->low_share_avg;
	}
	low[1] = fmin(low[1], 99.9);
	low_avg[1] = fmin(low_avg[1], 99.9);
	debug_output(
	    DEBUG_INFO, 0,
	    "\nChannel %d DIC stats:\nStats |    Long    |   Short    |    CFA     |    RGB     "
	    "|\n------|------------|------------|------------|------------|\nWeight|    %4.1f    |    %4.1f  "
	    "  |    "
	    "%4.1f    |    %4.1f    |\nLow   | %4.1f:%4.1f  | %4.1f:%4.1f  | %4.1f:%4.1f  | %4.1f:%4.1f  "
	    "|\nMid   | "
	    "%4.1f:%4.1f  | %4.1f:%4.1f  | %4.1f:%4.1f  | %4.1f:%4.1f  |\nHigh  | %4.1f:%4.1f  | %4.1f:%4.1f "
	    " | "
	    "%4.1f:%4.1f  | %4.1f:%4.1f  |\nSatur.| %4.1f/%1.0e | %4.1f/%1.0e | %4.1f/%1.0e | %4.1f/%1.0e "
	    "|\nL.:EQ.|  %3d:%3d   |  %3d:%3d   |  %3d:%3d   |  %3d:%3d   "
	    "|\n------|------------|------------|------------|------------|\nLE: %4d CE: %3d, TC/delta: "
	    "%4.2f/%d\n",
	    st->channel, a[0]->weight, a[1]->weight, a[2]->weight, a[3]->weight, low[0], low_avg[0], low[1],
	    low_avg[1], low[2], low_avg[2], low[3], low_avg[3], a[0]->mid_share, a[0]->mid_share_avg,
	    a[1]->mid_share, a[1]->mid_share_avg, a[2]->mid_share, a[2]->mid_share_avg, a[3]->mid_share,
	    a[3]->mid_share_avg, a[0]->high_share, a[0]->high_share_avg, a[1]->high_share,
	    a[1]->high_share_avg, a[2]->high_share, a[2]->high_share_avg, a[3]->high_share,
	    a[3]->high_share_avg, a[0]->saturation, a[0]->saturation_raw, a[1]->saturation,
	    a[1]->saturation_raw, a[2]->saturation, a[2]->saturation_raw, a[3]->saturation,
	    a[3]->saturation_raw, (int)a[0]->data_end, a[0]->forecast_bin, (int)a[1]->data_end,
	    a[1]->forecast_bin, (int)a[2]->data_end, a[2]->forecast_bin, (int)a[3]->data_end,
	    a[3]->forecast_bin, st->le_applied, st->ce_applied, st->tc_alpha_mid, st->tc_change_sum);
	if (st->settings->enable_dynamic_alpha && !st->first_run)
		debug_output(DEBUG_INFO, 0, "Alpha %3d, Threshold %5d\n\n", (int)st->alpha,
		             (int)st->threshold);
}

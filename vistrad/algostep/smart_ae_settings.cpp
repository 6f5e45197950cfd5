// Smart auto exposure: settings, init and destroy, and the parameters that
// shape the exposure limits.
#include <math.h>
#include <stddef.h>
#include <string.h>

#include "algostep/smart_ae.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/debug_registry.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "libcl.h"
#include "platform/datacache.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "platform/sensor_vorsalind.h"
#include "platform/videoinput.h"

namespace
{

const double q14_one = 16384.0;

prodconf_field field_value(const char *key, uint32_t kind, size_t offset, int32_t def)
{
	return prodconf_field_i32(key, kind, PRODCONF_OPTIONAL, offset, def);
}

prodconf_field field_float(const char *key, size_t offset, float def)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_FLOAT2, PRODCONF_OPTIONAL, offset);
	f.def.f = def;
	return f;
}

// A list is a pointer followed by its count.
prodconf_field field_list(const char *key, uint32_t kind, size_t offset)
{
	prodconf_field f = prodconf_field_make(key, kind, PRODCONF_OPTIONAL, offset);
	f.dynamic = 1;
	f.count_offset = offset + offsetof(ae_q14_list, count);
	return f;
}

#define AE_INT(key, def) field_value(#key, PRODCONF_INT, offsetof(smart_ae_settings, key), def)
#define AE_BOOL(key, def) field_value(#key, PRODCONF_BOOL, offsetof(smart_ae_settings, key), def)
#define AE_FLOAT(key, def) field_float(#key, offsetof(smart_ae_settings, key), def)
#define AE_Q14S(key) field_list(#key, PRODCONF_FIXED, offsetof(smart_ae_settings, key))

const prodconf_field settings_fields[] = {
    AE_INT(sht_gain_delay, 6),
    AE_INT(show_ae_stats, 0),
    AE_BOOL(ae_extend_long_frame, 0),
    AE_BOOL(ae_prioritize_saturation, 0),
    AE_BOOL(ae_smooth_adjust, 1),
    AE_Q14S(ae_responsiveness_long),
    AE_Q14S(ae_responsiveness_short),
    AE_BOOL(ae_enable_dual_gain, 0),
    AE_FLOAT(ae_dual_gain_max_factor, 2.0f),
    AE_BOOL(ae_enable_dual_gain_down, 0),
    AE_FLOAT(ae_dual_gain_max_factor_down, 2.0f),
    AE_Q14S(ae_short_target_map),
    AE_Q14S(ae_target_map),
    AE_Q14S(ae_saturation_map),
    AE_Q14S(ae_gain_map),
    AE_Q14S(ae_change_map),
    AE_Q14S(ae_change_speed),
    AE_Q14S(ae_change_speed_short),
    AE_Q14S(ae_change_speed_short_up),
    AE_FLOAT(ae_hysteresis, 5.0f),
    AE_FLOAT(ae_min_ev_change, 3.0f),
    AE_FLOAT(ae_min_ev_change_short, 1.0f),
    AE_FLOAT(ae_max_ef_change, 2.0f),
    AE_INT(ae_cloop_frame_skip, 6),
    AE_INT(ae_max_agc, 18),
    field_list("ae_plateau_gain_arr", PRODCONF_FLOAT2, offsetof(smart_ae_settings, ae_plateau_gain_arr)),
    field_list("ae_plateau_exp_arr", PRODCONF_INT, offsetof(smart_ae_settings, ae_plateau_exp_arr)),
    AE_INT(ae_limit_user_max_shutter, 0),
    AE_INT(ae_delay, 20),
    AE_INT(ae_delay_limit, 100),
    AE_FLOAT(ae_etr_max, 1.5f),
    AE_FLOAT(ae_high_sat_adjust_limit, 50.0f),
    AE_FLOAT(ae_high_sat_threshold, 100.0f),
    AE_FLOAT(ae_high_sat_max_mix, 0.75f),
    AE_INT(ae_high_sat_gain_limit, 6),
    AE_FLOAT(ae_low_dyna_adjust_limit, 35.0f),
    AE_Q14S(ae_low_dyna_range),
    AE_INT(ae_low_dyna_gain_limit, 3),
    AE_Q14S(ae_gain_correction_map),
    AE_Q14S(ae_gain_correction),
    AE_Q14S(ae_shutter_correction_map),
    AE_Q14S(ae_shutter_correction),
    AE_BOOL(ae_adjust_motion_blur, 0),
    AE_FLOAT(max_db_offset_exprio, 3.0f),
    AE_BOOL(ae_enable_dynamic_lut, 0),
    AE_BOOL(ae_high_gain_force_update, 0),
    AE_Q14S(lut_ef_map),
    AE_Q14S(lut_ef_weight_map),
    AE_Q14S(lut_gain_map),
    AE_Q14S(lut_long_fill_map),
    AE_Q14S(lut_long_gamma_map),
    AE_Q14S(lut_long_gamma_scale_map),
    AE_Q14S(lut_long_hist_blend_map),
    AE_Q14S(lut_log_map),
    AE_Q14S(lut_log_scale_map),
    AE_Q14S(lut_DRC_map),
    AE_Q14S(lut_low_boost_ef),
    AE_Q14S(lut_low_boost_max_gain),
    AE_Q14S(lut_DRC_gain_map),
    AE_Q14S(lut_min_effective_ef),
    AE_Q14S(lut_y_start_map),
    AE_Q14S(lut_x_break_point_map),
    AE_Q14S(lut_power_drc_map),
    AE_Q14S(lut_y_low_end_map),
    AE_Q14S(lut_x_low_end_map),
    AE_Q14S(lut_blend_plateau_map),
    AE_Q14S(lut_x_low_end_gain_scaling_map),
    AE_Q14S(lut_y_low_end_gain_scaling_map),
    AE_Q14S(lut_hdr_threshold_map),
    AE_Q14S(lut_long_fill_sat_sensitivity_map),
    AE_Q14S(minimum_long_fill_map),
    AE_Q14S(lut_long_fill_sat_map),
    AE_Q14S(lut_long_fill_sat_sensitivity_scale_map),
    AE_Q14S(lut_long_fill_sat_sensitivity_gain_map),
    AE_BOOL(lut_enable_adaptive_threshold, 0),
    AE_BOOL(lut_3_segments, 0),
    AE_BOOL(lut_dynamic_drc, 0),
    AE_BOOL(lut_drc_smooth_blend, 0),
    AE_BOOL(lut_dynamic_short_matching, 0),
    AE_FLOAT(lut_IR_min_effective_ef, 3.0f),
    AE_BOOL(ae_target_secure, 1),
    AE_BOOL(ae_near_sat_target_short_secure, 0),
    AE_Q14S(ae_gain_gap_map),
    AE_FLOAT(ae_gain_ratio, 0.0f),
    AE_BOOL(ae_enable_sensor_datacache, 0),
    AE_BOOL(libcl_gain_shutter_check, 0),
    AE_BOOL(smart_ae_bwc_mode, 0),
};

#undef AE_INT
#undef AE_BOOL
#undef AE_FLOAT
#undef AE_Q14S

// The parameters the step follows, in the order it registers them and in
// the order it reads them once at init.
const uint32_t registered_params[] = {12, 13, 37, 38, 19, 18, 30, 34, 17, 16, 33, 29, 14, 40, 73};
const uint32_t first_read_params[] = {12, 13, 37, 38, 19, 18, 30, 34, 17, 16, 29, 33, 14, 40, 73};

// The sensor's gain adjustment for HDR methods 4 and 6, kept so that a later
// linear init can undo it.
struct hdr_gain_adjustment {
	int adjusted;
	int32_t min_gain;
	int32_t max_gain;
} hdr_adjustment;

double db_of(double gain)
{
	return 20.0 * log10(gain);
}

double gain_of_db(double db)
{
	return pow(10.0, db / 20.0);
}

double first_q14(const ae_q14_list &list)
{
	return list.count ? list.values[0] / q14_one : 0.0;
}

int32_t clamp_i32(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

smart_ae_state *state_of(algo_step *step)
{
	auto *local = static_cast<smart_ae_local *>(algo_step_get_local_data(step));
	return local ? &local->state : nullptr;
}

void update_limits_from_sensor(smart_ae_state *s)
{
	int32_t exposure[2] = {0, 0};
	int32_t ratio[2] = {(int32_t)q14_one, (int32_t)q14_one};
	if (sensor_get_exposure_limits(s->sensor, exposure, ratio) != 0 || !s->wdr)
		return;
	s->ratio_min = MAX(ratio[0] / q14_one, 1.05);
	s->ratio_max = MAX(ratio[1] / q14_one, 1.05);
	s->exp[AE_SHORT].max_shutter = exposure[1];
	s->exp[AE_SHORT].sensor_max_shutter = exposure[1];
	s->exp[AE_LONG].max_shutter = s->exp[AE_LONG].sensor_max_shutter - exposure[1];
}

void update_evs(smart_ae_state *s)
{
	for (smart_ae_exposure &e : s->exp) {
		e.max_ev = e.max_shutter * e.max_gain;
		e.min_ev = e.min_shutter * e.min_gain;
	}
}

// The gain at a percentage of the sensor's dB range.
double gain_at_percent(const smart_ae_exposure &e, int32_t percent)
{
	return gain_of_db(e.sensor_min_gain_db +
	                  (e.sensor_max_gain_db - e.sensor_min_gain_db) * percent / 100.0);
}

int read_param(uint32_t id, int32_t stream_id, int32_t *value)
{
	param_value v = {};
	v.id = id;
	v.stream_id = stream_id;
	int r = param_get(&v);
	g_free(v.text);
	if (r == 0)
		*value = v.value;
	return r;
}

void on_exposure_mode(smart_ae_state *s, int ok, int32_t value)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	s->mode = ok ? value : 0;
	if (s->mode == 2)
		l.min_shutter = 10000;
	else if (s->mode == 3)
		l.min_shutter = 8333;
	else if (l.min_shutter > l.sensor_min_shutter)
		l.min_shutter = l.sensor_min_shutter;
	if (s->mode == 1) {
		s->hold = 1;
		smart_ae_publish(s, s->stream_id);
	} else {
		s->hold = 0;
	}
	param_set_int(16, s->stream_id, l.min_shutter);
}

void on_max_exposure(smart_ae_state *s, int ok, int32_t value)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	int32_t v = !ok ? l.sensor_max_shutter : value == -1 ? s->frame_time : value;
	v = MIN(v, l.sensor_max_shutter);
	l.max_shutter = v;
	s->max_exposure_param = v;
}

void on_capture_frequency(smart_ae_state *s, int ok, int32_t value)
{
	int32_t fps_q14 = sensor_get_current_fps(s->sensor);
	if (fps_q14 > 0) {
		s->frame_time = (int32_t)(1e6 * q14_one / fps_q14);
		if (s->hdr_method != 4)
			s->exp[AE_LONG].max_shutter =
			    s->frame_time - s->exp[AE_SHORT].max_shutter - (4 * s->line_time + 1);
		return;
	}
	s->frame_time = ok && value == 1 ? 40000 : 33333;
}

void on_max_framerate(smart_ae_state *s, int ok, int32_t value)
{
	int32_t rate = ok ? value / 1000 : 0;
	if (rate <= 0)
		return; // no rate to follow; a zero would divide the frame time by zero
	double input = videoinput_input_get_framerate(s->channel, 0.0);
	if ((int32_t)input != rate)
		debug_output(DEBUG_INFO, 0, "%s: Tvx framerate not updated", "ae_update_params_cb");
	if (s->sensor)
		s->sensor->current_fps = rate * (int32_t)q14_one;
	s->frame_rate = rate;
	s->frame_time = 1000000 / rate;
	sensor_update_framerate(s->sensor, s->stream_id, rate);
	update_limits_from_sensor(s);
	s->exp[AE_LONG].max_shutter = s->max_exposure_param;
}

void apply_param(smart_ae_state *s, algo_step *step, uint32_t id)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	int32_t v = 0;
	int ok = read_param(id, s->stream_id, &v) == 0;
	switch (id) {
	case 12:
		on_exposure_mode(s, ok, v);
		break;
	case 13:
		if (ok)
			s->priority = v;
		break;
	case 14:
		if (ok) {
			s->ev_comp_stops = v * 4.0 / 100.0 - 2.0;
			s->ev_comp_factor = CLAMP(pow(2.0, s->ev_comp_stops), 0.25, 4.0);
		}
		break;
	case 16:
		l.min_shutter =
		    ok ? clamp_i32(v, l.sensor_min_shutter, l.sensor_max_shutter) : l.sensor_min_shutter;
		break;
	case 17:
		on_max_exposure(s, ok, v);
		break;
	case 18:
		l.min_gain = ok ? MIN(gain_at_percent(l, v), l.max_gain) : l.sensor_min_gain;
		l.min_gain_db = db_of(l.min_gain);
		break;
	case 19:
		l.max_gain = ok ? MAX(gain_at_percent(l, v), l.min_gain) : l.sensor_max_gain;
		l.max_gain_db = db_of(l.max_gain);
		s->exp[AE_SHORT].max_gain = l.max_gain;
		s->exp[AE_SHORT].max_gain_db = l.max_gain_db;
		l.max_shutter = s->max_exposure_param;
		break;
	case 29:
		s->manual_shutter =
		    ok ? clamp_i32(v, l.sensor_min_shutter, l.sensor_max_shutter) : l.sensor_min_shutter;
		break;
	case 30:
		s->manual_gain = ok ? gain_at_percent(l, v) : l.sensor_min_gain;
		break;
	case 33: {
		int was_on = s->manual_shutter_on;
		s->manual_shutter_on = ok && v != 0;
		if (was_on && !s->manual_shutter_on) {
			param_set_int(17, s->stream_id, -1);
			param_set_int(16, s->stream_id, l.sensor_min_shutter);
			l.min_shutter = l.sensor_min_shutter;
			l.max_shutter = MIN(s->frame_time, l.sensor_max_shutter);
			s->max_exposure_param = l.max_shutter;
		}
		break;
	}
	case 34: {
		int was_on = s->manual_gain_on;
		s->manual_gain_on = ok && v != 0;
		if (was_on && !s->manual_gain_on) {
			apply_param(s, step, 19);
			apply_param(s, step, 18);
		}
		break;
	}
	case 37: {
		s->prio_normal = ok ? v : 50;
		double top = s->settings ? s->settings->max_db_offset_exprio : 3.0;
		libcl_set_filter_dboffset(s->channel, CLAMP(top * (s->prio_normal - 50) / 50.0, 0.0, top));
		break;
	}
	case 38:
		s->prio_lowlight = ok ? v : 50;
		break;
	case 40:
		on_capture_frequency(s, ok, v);
		break;
	case 73:
		on_max_framerate(s, ok, v);
		break;
	default:
		break;
	}
}

void after_param(smart_ae_state *s)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	if (l.min_shutter > l.max_shutter) {
		param_set_int(17, s->stream_id, -1);
		l.max_shutter = s->frame_time;
		s->max_exposure_param = s->frame_time;
	}
	if (s->manual_gain_on) {
		l.min_gain = l.max_gain = s->manual_gain;
		l.min_gain_db = l.max_gain_db = db_of(s->manual_gain);
	}
	if (s->manual_shutter_on) {
		l.min_shutter = l.max_shutter = s->manual_shutter;
		param_set_int(17, s->stream_id, s->manual_shutter);
	}
	update_evs(s);
	s->limits_changed = 1;
}

void sensor_facts(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	const uint32_t *table = sensor_get_gain_table(s->sensor);
	s->gain_step = table && sensor_get_gain_table_size(s->sensor) > 1 ? db_of(table[1] / q14_one) : 0.0;
	s->up = gain_of_db(s->gain_step) - 1.0;
	s->down = 1.0 - gain_of_db(-s->gain_step);
	s->sat_target = first_q14(cfg->ae_saturation_map);
	s->hysteresis = cfg->ae_hysteresis / 100.0;
	s->min_change = cfg->ae_min_ev_change / 100.0;
	s->min_change_short = cfg->ae_min_ev_change_short / 100.0;
	s->reaction_delay = cfg->ae_delay;
	s->settle_delay = cfg->sht_gain_delay;
	if (s->settle_delay < 1 || s->settle_delay > SMART_AE_SCHEDULE_MAX) {
		debug_output(DEBUG_WARNING, 0, "Smart AE: sht_gain_delay %d outside 1..%d, clamped\n",
		             s->settle_delay, SMART_AE_SCHEDULE_MAX);
		s->settle_delay = clamp_i32(s->settle_delay, 1, SMART_AE_SCHEDULE_MAX);
	}
	s->settle_base = s->settle_delay;
	int32_t fps_q14 = sensor_get_current_fps(s->sensor);
	s->frame_time = fps_q14 > 0 ? (int32_t)(1e6 * q14_one / fps_q14) : 33333;
	s->frame_rate = 30;
	s->exp[AE_LONG].target = first_q14(cfg->ae_target_map);
}

// Raises the sensor's gain range for the HDR methods that combine the
// exposures with extra gain, and undoes it for a linear sensor.
void adjust_hdr_gains(smart_ae_state *s, const int32_t exposure_limit0)
{
	sensor *sen = s->sensor;
	if (!sen)
		return;
	if (s->wdr && (s->hdr_method == 4 || s->hdr_method == 6)) {
		if (!hdr_adjustment.adjusted) {
			hdr_adjustment.adjusted = 1;
			hdr_adjustment.min_gain = sen->min_gain;
			hdr_adjustment.max_gain = sen->max_gain;
			if (sen->min_gain < 18000)
				sen->min_gain += 2000;
			sen->max_gain = 70000;
		}
		if (s->hdr_method == 4) {
			s->exp[AE_LONG].max_shutter = exposure_limit0;
			s->exp[AE_LONG].sensor_max_shutter = exposure_limit0;
		}
		return;
	}
	if (!s->wdr && hdr_adjustment.adjusted) {
		sen->min_gain = hdr_adjustment.min_gain;
		sen->max_gain = hdr_adjustment.max_gain;
		hdr_adjustment.adjusted = 0;
	}
}

void init_gains(smart_ae_state *s)
{
	for (smart_ae_exposure &e : s->exp) {
		e.max_gain = e.sensor_max_gain = sensor_get_max_gain(s->sensor) / q14_one;
		e.min_gain = e.sensor_min_gain = sensor_get_min_gain(s->sensor) / q14_one;
		e.max_gain_db = e.sensor_max_gain_db = db_of(e.max_gain);
		e.min_gain_db = e.sensor_min_gain_db = db_of(e.min_gain);
	}
	s->agc_gain = gain_of_db(s->settings->ae_max_agc);
	update_evs(s);
}

void publish_sensor_params(smart_ae_state *s)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	int32_t value = 0;
	if (read_param(17, s->stream_id, &value) == 0) {
		if (value == -1)
			value = s->frame_time;
		if (s->wdr && value > s->frame_time) {
			value = s->frame_time;
			param_set_int(17, s->stream_id, -1);
		}
		s->max_exposure_param = value;
	}
	param_set_int(69, s->stream_id, (int32_t)(db_of(l.sensor_max_gain) + 1.0));
	param_set_int(71, s->stream_id,
	              s->settings->ae_limit_user_max_shutter ? s->settings->ae_limit_user_max_shutter
	                                                     : l.min_shutter);
	param_set_int(72, s->stream_id, MAX(s->frame_time, l.sensor_max_shutter));
}

int32_t largest_rounded(const ae_q14_list &list, int32_t start)
{
	if (!list.count)
		return start;
	int32_t best = INT32_MIN;
	for (uint64_t i = 0; i < list.count; i++)
		best = MAX(best, (int32_t)lround(list.values[i] / q14_one));
	return best;
}

void derive_tables(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	double top = MIN((double)s->exp[AE_LONG].sensor_max_shutter, 40000.0);
	s->gain_map_ev_count = (int32_t)cfg->ae_gain_map.count;
	s->gain_map_ev = g_new0(double, MAX(s->gain_map_ev_count, 1));
	for (int32_t i = 0; i < s->gain_map_ev_count; i++)
		s->gain_map_ev[i] = gain_of_db(cfg->ae_gain_map.values[i] / q14_one) * top;
	s->gain_map_db = g_new0(double, MAX(s->gain_map_ev_count, 1));
	for (int32_t i = 0; i < s->gain_map_ev_count; i++)
		s->gain_map_db[i] = cfg->ae_gain_map.values[i] / q14_one;
	s->change_map_count = (int32_t)cfg->ae_change_map.count;
	s->change_map = g_new0(double, MAX(s->change_map_count, 1));
	for (int32_t i = 0; i < s->change_map_count; i++)
		s->change_map[i] = cfg->ae_change_map.values[i] / q14_one;
	if (cfg->ae_change_map.count && !cfg->ae_change_speed.count)
		debug_output(DEBUG_WARNING, 0, "Smart AE : 'ae_change_speed' missing in YAML \n");
}

// A restart in hold keeps the exposure held before it.
void restore_hold(smart_ae_state *s)
{
	int32_t long_shutter, short_shutter, gain;
	if (info_pool_get_int(13, s->stream_id, &long_shutter) ||
	    info_pool_get_int(77, s->stream_id, &short_shutter) ||
	    info_pool_get_imfix(14, s->stream_id, &gain)) {
		s->hold = 0;
		return;
	}
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	long_shutter = clamp_i32(long_shutter, l.min_shutter, MAX(l.max_shutter, l.min_shutter));
	if (s->wdr) {
		int32_t lo = MAX((int32_t)(long_shutter / s->ratio_max), sh.min_shutter);
		int32_t hi = MIN((int32_t)(long_shutter / s->ratio_min), sh.max_shutter);
		short_shutter = clamp_i32(short_shutter, lo, MAX(hi, lo));
	}
	l.shutter = l.want_shutter = long_shutter;
	sh.shutter = sh.want_shutter = short_shutter;
	l.gain = l.want_gain = sh.gain = sh.want_gain = MAX(gain / q14_one, 1.0);
	s->hold = 1;
	smart_ae_publish(s, s->stream_id);
}

void check_lut_maps(const smart_ae_settings *cfg)
{
	struct lut_check {
		const ae_q14_list *list;
		int three_segments;
		const char *message;
	};
	const lut_check checks[] = {
	    {&cfg->lut_x_low_end_map, 1,
	     "Missing 'lut_x_low_end_map' values in Yaml, default value selected : 0.2 \n"},
	    {&cfg->lut_y_low_end_map, 1,
	     "Missing 'lut_y_low_end_map' values in Yaml, default value selected : 0.7 \n"},
	    {&cfg->lut_y_low_end_gain_scaling_map, 1,
	     "Missing 'lut_y_low_end_gain_scaling_map' values in Yaml, default value selected : 100 \n"},
	    {&cfg->lut_blend_plateau_map, 1,
	     "Missing 'lut_blend_plateau_map' values in Yaml, default value selected : 0.02 \n"},
	    {&cfg->lut_y_start_map, 0,
	     "Missing 'lut_y_start_map' values in Yaml, default value selected : 0 \n"},
	    {&cfg->lut_x_break_point_map, 0,
	     "Missing 'lut_x_break_point_map' values in Yaml, default value selected : 10 \n"},
	    {&cfg->lut_power_drc_map, 0,
	     "Missing 'lut_power_drc_map' values in Yaml, default value selected : 0.5 \n"},
	};
	for (const lut_check &c : checks) {
		if (c.three_segments && !cfg->lut_3_segments)
			continue;
		if (c.list->count != cfg->lut_ef_map.count)
			debug_output(DEBUG_INFO, 0, "%s", c.message);
	}
}

void debug_override_stub(void) {}

void register_callbacks(smart_ae_state *s, algo_step *step)
{
	for (uint32_t id : registered_params) {
		int32_t cb = param_register_callback(id, s->stream_id, ae_update_params_cb,
		                                     PARAM_NOTIFY_ON_CHANGE, step, nullptr);
		if (cb < 0)
			continue;
		auto *helper = g_new0(param_cb_helper, 1);
		helper->id = id;
		helper->callback_id = cb;
		helper->stream_id = s->stream_id;
		s->callbacks = g_list_append(s->callbacks, helper);
	}
	for (uint32_t id : first_read_params) {
		param_value v = {};
		v.id = id;
		v.stream_id = s->stream_id;
		ae_update_params_cb(step, nullptr, &v, nullptr);
	}
}

} // namespace

const prodconf_schema smart_ae_settings_schema = {ALGO_CL_SCHEMA, sizeof(smart_ae_settings), settings_fields,
                                                  G_N_ELEMENTS(settings_fields)};

void smart_ae_settings_free(void *record)
{
	auto *cfg = static_cast<smart_ae_settings *>(record);
	if (!cfg)
		return;
	for (const prodconf_field &f : settings_fields) {
		if (!f.dynamic)
			continue;
		void *list;
		memcpy(&list, reinterpret_cast<char *>(cfg) + f.offset, sizeof(list));
		g_free(list);
	}
	g_free(cfg);
}

namespace
{

// Motion records shorten the longest shutter only when asked for.
void add_motion_input(prodconf *, control *, int32_t stream_id, algo_step *step, void *settings)
{
	if (settings && static_cast<smart_ae_settings *>(settings)->ae_adjust_motion_blur)
		algo_step_add_input_stream_id(step, SMART_AE_INPUT_MOTION, stream_id);
}

} // namespace

const algo_cl_module smart_ae_cl_module = {
    &smart_ae_settings_schema,
    sizeof(smart_ae_local),
    smart_ae_cl_init,
    smart_ae_cl_run,
    smart_ae_cl_destroy,
    {SMART_AE_INPUT_STATS},
    1,
    {SMART_AE_OUTPUT},
    1,
    add_motion_input,
    smart_ae_settings_free,
};

int ae_update_params_cb(void *user_data, void *, param_value *value, param_callback *)
{
	auto *step = static_cast<algo_step *>(user_data);
	smart_ae_state *s = step ? state_of(step) : nullptr;
	if (!s || !value || !s->settings)
		return 0;
	apply_param(s, step, value->id);
	after_param(s);
	if (s->init_done)
		smart_ae_build_program(s);
	return 0;
}

int smart_ae_cl_init(algo_step *step, control *engine)
{
	auto *local = static_cast<smart_ae_local *>(algo_step_get_local_data(step));
	if (!local || !local->head.settings)
		return -1;
	smart_ae_state *s = &local->state;
	auto *cfg = static_cast<smart_ae_settings *>(local->head.settings);
	s->settings = cfg;
	s->engine = engine;
	s->stream_id = step->stream_id;
	s->channel = platform_stream_channel(step->stream_id);
	s->platform = control_get_platform(engine);
	s->sensor = platform_get_sensor_for_stream(s->platform, s->stream_id);
	s->wdr = sensor_get_wdr_mode(s->sensor);
	s->bwc = cfg->smart_ae_bwc_mode;
	s->step_index = -1;
	s->hdr_threshold_fraction = 1.0;
	s->sensor_cache_id = -1;
	sensor_facts(s);

	s->frame_rate = videoinput_input_get_framerate(s->channel, 30.0);
	sensor_update_framerate(s->sensor, s->stream_id, s->frame_rate);
	int32_t exposure[2] = {0, 0};
	int32_t ratio[2] = {(int32_t)q14_one, (int32_t)q14_one};
	sensor_get_exposure_limits(s->sensor, exposure, ratio);
	s->line_time = (int32_t)lround(sensor_get_line_time(s->sensor) / q14_one);

	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	l.max_shutter = s->frame_time;
	s->max_exposure_param = s->frame_time;
	l.sensor_max_shutter = sensor_get_max_exposure_time(s->sensor);
	l.min_shutter = l.sensor_min_shutter = s->bwc ? 45 : 31;
	s->ev_comp_stops = 0.0;
	s->ev_comp_factor = 1.0;
	if (s->wdr) {
		s->ratio_min = MAX(ratio[0] / q14_one, 1.05);
		s->ratio_max = MAX(ratio[1] / q14_one, 1.05);
		sh.min_shutter = l.min_shutter;
		sh.sensor_min_shutter = l.sensor_min_shutter;
		sh.max_shutter = sh.sensor_max_shutter = exposure[1];
		l.max_shutter = l.sensor_max_shutter - exposure[1];
	}
	s->ratio_upper = MAX(s->ratio_max, 1.0);

	if (libcl_get_hdr_method(0, &s->hdr_method) != 0) {
		debug_output(DEBUG_WARNING, 0, "Libcl can not get hdr method \n");
		return -1;
	}
	adjust_hdr_gains(s, exposure[0]);
	init_gains(s);
	publish_sensor_params(s);
	l.resp_max = largest_rounded(cfg->ae_responsiveness_long, 10);
	sh.resp_max = largest_rounded(cfg->ae_responsiveness_short, 10);
	derive_tables(s);

	l.shutter = l.want_shutter = 1000;
	sh.shutter = sh.want_shutter = 100;
	l.gain = l.want_gain = sh.gain = sh.want_gain = 1.0;
	int32_t mode = 0;
	if (read_param(12, s->stream_id, &mode) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: Could not read exposure mode!\n", "smart_ae_cl_init");
	else if (mode == 1)
		restore_hold(s);

	int32_t shutters[2] = {l.want_shutter, sh.want_shutter};
	double gains[2] = {l.want_gain, sh.want_gain};
	smart_ae_apply(shutters, gains, s->stream_id, s, -1, nullptr);
	s->adj_index = libcl_update_adj_index(s->channel, db_of(l.want_gain));

	if (s->wdr && cfg->ae_enable_dynamic_lut) {
		s->dynamic_lut = 1;
		check_lut_maps(cfg);
	}
	if (cfg->ae_enable_sensor_datacache) {
		s->cache = platform_get_datacache(s->platform, s->stream_id);
		s->sensor_cache_id =
		    datacache_create_cache(s->cache, "sensor_data", sizeof(smart_ae_sensor_data), 10);
		if (s->sensor_cache_id < 0)
			return -1;
	}
	debug_func_add("sht_gain", debug_override_stub, s, s->channel);
	debug_func_add("sensor_exp_override", debug_override_stub, s, s->channel);
	register_callbacks(s, step);
	s->init_done = 1;
	smart_ae_build_program(s);
	return 0;
}

int smart_ae_cl_destroy(algo_step *step, control *)
{
	auto *local = static_cast<smart_ae_local *>(algo_step_get_local_data(step));
	if (!local)
		return -1;
	smart_ae_state *s = &local->state;
	debug_func_remove("sht_gain", debug_override_stub, s, s->channel);
	debug_func_remove("sensor_exp_override", debug_override_stub, s, s->channel);
	g_free(s->gain_map_ev);
	g_free(s->change_map);
	g_free(s->gain_map_db);
	s->gain_map_db = nullptr;
	s->gain_map_ev = nullptr;
	s->change_map = nullptr;
	for (GList *l = s->callbacks; l; l = l->next) {
		auto *helper = static_cast<param_cb_helper *>(l->data);
		param_value v = {};
		v.id = helper->id;
		v.stream_id = helper->stream_id;
		param_unregister_callback(helper->callback_id, &v);
		g_free(helper);
	}
	g_list_free(s->callbacks);
	s->callbacks = nullptr;
	if (s->pending_record) {
		g_free(s->pending_record);
		s->pending_record = nullptr;
	}
	return 0;
}

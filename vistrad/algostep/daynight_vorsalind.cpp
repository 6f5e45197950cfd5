#include "daynight_vorsalind.h"

#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "algo_cl_modules.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/control_timeout.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf_schema_build.h"
#include "fixmath.h"
#include "frontends/dbus_api/event_handler.h"
#include "frontends/dbus_api/power_control.h"
#include "optics/light_sensor.h"
#include "platform/frame_source.h"
#include "platform/platform.h"
#include "step_support.h"

namespace
{

enum {
	P_IR_CUT_FILTER = 55,
	P_SHIFT_LEVEL = 56,
	P_SHIFT_LEVEL_ENABLED = 57,
	P_IR_CUT_FILTER_STATE = 58,
	P_IS_DAY = 67,
	P_IS_ABOVE_ILLUMINANCE = 107,
	INFO_DAY_FLAG = 23,
	INFO_EXPOSURE = 48,
	INFO_MIN_EXPOSURE = 60,
	INFO_MAX_EXPOSURE = 61,
	INFO_UNITY_EXPOSURE = 67,
};

const int32_t USER_AUTO = 2;
const int32_t Q14_ONE = 16384;
// A grant at most 0.01 W short of the request is enough; one above it is power held.
const int64_t POWER_TOLERANCE = 163;
const int32_t IR_COUNTER_MAX = 5;
const int64_t US = 1000000;

prodconf_field field_float(const char *key, size_t offset, float def)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_FLOAT, PRODCONF_OPTIONAL, offset);
	f.def.f = def;
	return f;
}

#define INT(key, def)                                                                                        \
	prodconf_field_i32(#key, PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(daynight_settings, key), def)
#define BOOL(key, def)                                                                                       \
	prodconf_field_i32(#key, PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(daynight_settings, key), def)
#define FIXED(key, def)                                                                                      \
	prodconf_field_i32(#key, PRODCONF_FIXED, PRODCONF_OPTIONAL, offsetof(daynight_settings, key), def)
#define FLOAT(key, def) field_float(#key, offsetof(daynight_settings, key), def)

const prodconf_field settings_fields[] = {
    FLOAT(hysteresis_factor, 3.0f),
    INT(d2n_shift_exp_lvl_fraction, 98),
    INT(slider_factor, 5),
    INT(chroma_value_threshold, 4),
    INT(ir_threshold, 10),
    FIXED(chroma_quotient_threshold, 10 * Q14_ONE),
    INT(day_night_step_rate, 1),
    INT(day_to_night_time_limit, 2),
    INT(night_to_day_time_limit, 10),
    INT(oscillation_time, 10),
    FLOAT(oscillation_reduction_factor, 2.0f),
    BOOL(prevent_oscillations, 1),
    INT(threshold_reset_time, 3600),
    BOOL(override_max_gain, 0),
    INT(max_lin_gain, 48),
    INT(max_hdr_gain, 48),
    BOOL(action_engine_triggered_shift, 0),
    BOOL(map_slider_to_min_max_exposure, 0),
    BOOL(use_ir_light_detection, 0),
    BOOL(power_control_enabled, 0),
    FIXED(ir_cut_filter_power, 0),
    BOOL(use_light_sensor, 0),
    INT(night_to_day_fraction, 6),
    INT(night_to_day_min_threshold, 800),
    INT(night_to_day_max_threshold, 3000),
    INT(light_measure_delay, 5),
    INT(max_light_measure_from_leds, 100),
    FIXED(max_exposure_ratio, Q14_ONE),
    INT(min_exposure_limit, 40000),
    INT(forced_n2d_shift_ev_level, -1),
    BOOL(use_light_sensor_dyn_offset, 0),
    INT(max_dyn_offset, 0),
    BOOL(normalize_color_ratios_by_wb_gains, 0),
    BOOL(ignore_lightlogic_switch, 0),
};

// One record for the process: the power service knows the filter as "irc".
power_consumer consumer = {"irc", 0, 0, nullptr, nullptr, 0};

struct callback_block {
	daynight_state *state;
	int32_t stream_id;
};

daynight_state *state_of(algo_step *step)
{
	return static_cast<daynight_state *>(algo_step_get_local_data(step));
}

int64_t now_us()
{
	control_timestamp ts;
	control_get_timestamp(&ts);
	return ts.sec * US + ts.usec;
}

int32_t info_int(uint32_t id, int32_t stream_id, int32_t fallback)
{
	int32_t v;
	return info_pool_get_int(id, stream_id, &v) == 0 ? v : fallback;
}

int channel_of(const daynight_state *s)
{
	return platform_stream_channel(s->stream_id);
}

// Asks for the configured power, or for none: 1 when sent, 0 without the service.
int request_power(int32_t watts)
{
	consumer.requested = watts;
	return power_control_request(&consumer);
}

// Gives back power the filter no longer needs.
void release_power(daynight_state *s)
{
	if (!s->power_pending && consumer.granted <= POWER_TOLERANCE)
		return;
	if (request_power(0) == 0)
		return;
	s->power_pending = 0;
	s->power_sufficient = 0;
}

int move_filter(daynight_state *s, control *engine, int32_t stream_id, int wanted)
{
	int day = wanted == DAYNIGHT_DAY;
	platform *plat = control_get_platform(engine);
	// The filter first: a day flag stored for a move the filter never made
	// would be applied at the next start.
	if (!plat || !plat->daynight_switch || plat->daynight_switch(plat, day, stream_id) != PLATFORM_OK)
		return -1;
	if (info_pool_set_int(INFO_DAY_FLAG, stream_id, INFO_POOL_PERSISTENT, day) != 0 ||
	    info_pool_write_entry() != 0)
		debug_output(DEBUG_WARNING, 0, "Day/night: could not store the day flag %d\n", day);
	param_set_int(P_IS_DAY, stream_id, day);
	event_handler_ircut_property_changed(stream_id, (uint32_t)day);
	s->applied = (uint8_t)wanted;
	s->pending = DAYNIGHT_NONE;
	if (day) {
		if (!s->colour_hold)
			libcl_set_bw_mode(channel_of(s), 0);
		s->last_day_switch = s->initialised ? now_us() : 0;
	} else {
		libcl_set_bw_mode(channel_of(s), 1);
		s->day_threshold = s->base_day_threshold;
		s->ir_counter = 0;
		s->just_switched_to_night = 1;
		s->colour_hold = 0;
		s->last_night_switch = now_us();
	}
	return 0;
}

void register_callback(daynight_state *s, control *engine, uint32_t id, param_callback_fn fn, bool *all_ok)
{
	callback_block *block = g_new(callback_block, 1);
	*block = {s, s->stream_id};
	if (!step_param_register(&s->callbacks, id, s->stream_id, fn, engine, block))
		*all_ok = false;
}

// Applies the stream's current value of a parameter through its callback.
void apply_current(daynight_state *s, control *engine, uint32_t id, param_callback_fn fn)
{
	param_value v;
	if (!step_param_read(id, s->stream_id, &v))
		return;
	callback_block block = {s, s->stream_id};
	fn(engine, &block, &v, nullptr);
}

// Returns -1 when every callback could be registered: evaluation starts
// with the next timeout.
int initialise(daynight_state *s, control *engine)
{
	consumer.requested = s->s.ir_cut_filter_power;
	consumer.granted = 0;
	s->granted = 0;
	s->power_sufficient = 0;
	s->power_pending = 0;
	if (s->s.power_control_enabled) {
		consumer.callback = daynight_power_granted_cb;
		consumer.user_data = s;
		power_control_register_consumer(&consumer);
		s->consumer_registered = 1;
	}
	s->user_mode = DAYNIGHT_NONE;
	s->applied = DAYNIGHT_NONE;
	s->ill_state = DAYNIGHT_UNDECIDED;

	bool all_ok = true;
	register_callback(s, engine, P_IR_CUT_FILTER, set_ir_cut_filter_user_mode, &all_ok);
	register_callback(s, engine, P_SHIFT_LEVEL, daynight_shift_level_cb, &all_ok);
	register_callback(s, engine, P_SHIFT_LEVEL_ENABLED, daynight_shift_level_cb, &all_ok);
	if (!s->s.ignore_lightlogic_switch)
		register_callback(s, engine, P_IR_CUT_FILTER_STATE, daynight_light_logic_cb, &all_ok);

	int32_t flag;
	int wanted = DAYNIGHT_DAY;
	if (info_pool_read_entry(engine) == 0 && info_pool_get_int(INFO_DAY_FLAG, s->stream_id, &flag) == 0)
		wanted = flag ? DAYNIGHT_DAY : DAYNIGHT_NIGHT;
	daynight_set_state(s, engine, s->stream_id, wanted);
	s->initialised = 1;

	s->user_mode = USER_AUTO;
	apply_current(s, engine, P_IR_CUT_FILTER, set_ir_cut_filter_user_mode);
	s->light_logic = 1;
	if (!s->s.ignore_lightlogic_switch)
		apply_current(s, engine, P_IR_CUT_FILTER_STATE, daynight_light_logic_cb);
	apply_current(s, engine, P_SHIFT_LEVEL, daynight_shift_level_cb);
	apply_current(s, engine, P_SHIFT_LEVEL_ENABLED, daynight_shift_level_cb);
	return all_ok ? -1 : 0;
}

// The light threshold once the night's own light is known; -1 without a platform.
int update_light(daynight_state *s, control *engine, int64_t now)
{
	const daynight_settings &c = s->s;
	platform *plat = control_get_platform(engine);
	if (!plat)
		return -1;
	s->lux = light_sensor_read(plat, s->stream_id);
	if (s->s.use_light_sensor_dyn_offset && s->applied == DAYNIGHT_NIGHT) {
		s->dyn_offset = s->lux - s->dyn_base;
		if (s->dyn_offset < 1 || (c.max_dyn_offset != 0 && s->dyn_offset >= c.max_dyn_offset))
			s->dyn_offset = 0;
	}
	if (!s->measure_requested)
		return 0;
	if (++s->measure_evaluations == 2)
		s->led_off = s->lux;
	if (now - s->last_night_switch <= (int64_t)c.light_measure_delay * US)
		return 0;
	float h = c.hysteresis_factor;
	int32_t top = c.night_to_day_max_threshold;
	int32_t target = top;
	if (c.map_slider_to_min_max_exposure && s->shift_level < 50)
		target = fx_lin_interp(s->shift_level, 0, 50, 65536, top);
	int32_t floor = top;
	int32_t limit = c.min_exposure_limit;
	if (s->max_exposure <= (int64_t)(limit * h))
		floor = fx_lin_interp(s->max_exposure, limit, (int32_t)(limit * h), (int32_t)(65536 / h - 1),
		                      top);
	int32_t cap = MIN(s->lux, s->led_off + c.max_light_measure_from_leds);
	s->light_threshold = MIN(MAX(target, floor), cap);
	s->measure_requested = 0;
	return 0;
}

void thresholds(daynight_state *s)
{
	const daynight_settings &c = s->s;
	if (!c.map_slider_to_min_max_exposure) {
		int64_t m = s->max_exposure;
		if (c.override_max_gain)
			m = daynight_limit_max_exposure(s, m);
		if (m != s->last_max_used)
			daynight_update_thresholds(s, m);
		return;
	}
	double h = c.hysteresis_factor;
	int64_t hi0 = info_int(INFO_MAX_EXPOSURE, s->stream_id, 2147483647);
	int64_t lo =
	    MAX((int64_t)c.min_exposure_limit / 2, (int64_t)info_int(INFO_MIN_EXPOSURE, s->stream_id, 0));
	lo = MAX(lo, (int64_t)MIN(hi0 / h, (double)c.min_exposure_limit));
	int64_t hi = daynight_limit_max_exposure(s, hi0);
	if (lo != s->last_lo || hi != s->last_hi)
		daynight_map_thresholds(s, lo, hi);
}

bool within(int64_t now, int64_t since, int32_t seconds)
{
	return now - since < (int64_t)seconds * US;
}

// The colour the statistics block shows. The block carries no white-balance
// tiles, so the scan finds none: no grey-to-colour quotient, full deviation.
void colour_measure(const daynight_state *, int32_t *quotient, int32_t *deviation)
{
	*quotient = 0;
	*deviation = 100;
}

void damp_oscillations(daynight_state *s, int64_t now)
{
	const daynight_settings &c = s->s;
	if (s->just_switched_to_night) {
		s->just_switched_to_night = 0;
		if (s->last_day_switch && within(now, s->last_day_switch, c.oscillation_time)) {
			s->oscillations++;
			s->colour_hold = 1;
			int64_t before = s->day_threshold;
			s->day_threshold =
			    (int64_t)(before / (s->oscillations * c.oscillation_reduction_factor));
			if (s->day_threshold <= s->min_exposure)
				s->day_threshold = (int64_t)s->min_exposure + 1;
			debug_output(DEBUG_INFO, 0,
			             " %d oscillations detected, adjusting darkness threshold  from %lld to "
			             "%lld!\n Last "
			             "BR ratio = %d\nOscillation reduction factor %f\n",
			             s->oscillations, (long long)s->base_day_threshold,
			             (long long)s->day_threshold, s->last_br_ratio,
			             c.oscillation_reduction_factor);
		} else {
			s->oscillations = 0;
		}
	}
	if (s->oscillations > 0 && now - s->last_day_switch > (int64_t)c.threshold_reset_time * US) {
		s->oscillations = 0;
		s->day_threshold = s->base_day_threshold;
	}
}

// Day (1) or night (0) for the illuminance state the scene is in.
int candidate(daynight_state *s, int64_t now, int32_t exposure)
{
	const daynight_settings &c = s->s;
	if (s->ill_state != DAYNIGHT_DARK)
		return exposure < s->night_threshold;
	if (c.prevent_oscillations)
		damp_oscillations(s, now);
	int colour = 1;
	if (s->have_stats && c.use_ir_light_detection) {
		int32_t q, dev;
		colour_measure(s, &q, &dev);
		colour = daynight_colour_verdict(s, q, dev);
	}
	int light = 1;
	if (c.use_light_sensor)
		light = s->lux > s->dyn_offset + c.night_to_day_fraction * s->light_threshold &&
		        s->lux > s->dyn_offset + c.night_to_day_min_threshold;
	if (c.use_light_sensor && light)
		return 1;
	int day = exposure < s->day_threshold && light && colour;
	if (!day && c.forced_n2d_shift_ev_level >= 1 && exposure != 0) {
		int64_t forced =
		    (int64_t)info_int(INFO_MIN_EXPOSURE, s->stream_id, 0) * c.forced_n2d_shift_ev_level;
		day = exposure < forced;
	}
	return day;
}

void stop_timer(daynight_state *s)
{
	s->timer_running = 0;
}

int decide_and_switch(daynight_state *s, control *engine, int64_t now, int32_t exposure)
{
	const daynight_settings &c = s->s;
	if (s->colour_hold && s->applied == DAYNIGHT_DAY &&
	    !within(now, s->last_day_switch, c.oscillation_time)) {
		libcl_set_bw_mode(channel_of(s), 0);
		s->colour_hold = 0;
	}
	int day = candidate(s, now, exposure);
	int wanted_state = day ? DAYNIGHT_LIT : DAYNIGHT_DARK;
	if (wanted_state == s->ill_state) {
		stop_timer(s);
		return 0;
	}
	if (!s->timer_running) {
		s->timer_running = 1;
		s->timer_start = now;
	}
	int32_t limit = s->ill_state == DAYNIGHT_LIT ? c.day_to_night_time_limit : c.night_to_day_time_limit;
	if (s->ill_state != DAYNIGHT_UNDECIDED && within(now, s->timer_start, limit))
		return 0;

	if (!day && c.use_light_sensor) {
		s->measure_requested = 1;
		s->measure_evaluations = 0;
		if (c.use_light_sensor_dyn_offset)
			s->dyn_base = s->lux;
	}
	if (c.action_engine_triggered_shift) {
		event_handler_above_ill_level_changed(s->stream_id, (uint32_t)day);
	} else if (s->user_mode == USER_AUTO) {
		// A move neither made nor waiting on a sent request is tried
		// again once the verdict has held for the time limit again.
		if (daynight_set_state(s, engine, s->stream_id, day) != 0) {
			s->timer_start = now;
			return -1;
		}
		s->light_logic = (uint8_t)day;
	}
	param_set_int(P_IS_ABOVE_ILLUMINANCE, s->stream_id, day);
	s->last_above = day;
	s->ill_state = wanted_state;
	stop_timer(s);
	return 0;
}

callback_block *block_of(void *block)
{
	return static_cast<callback_block *>(block);
}

} // namespace

const struct prodconf_schema daynight_settings_schema = {"config", sizeof(daynight_settings), settings_fields,
                                                         G_N_ELEMENTS(settings_fields)};

const struct algo_cl_module daynight_vorsalind_module = {&daynight_settings_schema,
                                                         sizeof(daynight_state),
                                                         daynight_init,
                                                         daynight_vorsalind_run,
                                                         daynight_destroy,
                                                         {PLATFORM_DATA_SOC_STATS},
                                                         1,
                                                         {},
                                                         0,
                                                         daynight_specifics,
                                                         nullptr};

void daynight_specifics(struct prodconf *, struct control *engine, int32_t stream_id, struct algo_step *step,
                        void *settings)
{
	daynight_state *s = state_of(step);
	if (!s)
		return;
	platform *plat = control_get_platform(engine);
	daynight_settings *record = static_cast<daynight_settings *>(settings);
	if (record && plat && platform_get_light_sensor_count(plat, stream_id) >= 1) {
		light_sensor *sensor = platform_get_light_sensor(plat, stream_id);
		record->illuminance = sensor ? sensor->read : nullptr;
	}
	if (record)
		s->s = *record;
	if (s->s.slider_factor == 0)
		s->s.slider_factor = 5;
	s->s.day_night_step_rate = CLAMP(s->s.day_night_step_rate, 1, 10);
	s->stream_id = stream_id;
	control_timestamp five = {5, 0};
	s->timeout = step_timeout_start(engine, step, stream_id, &five);
}

int daynight_init(struct algo_step *step, struct control *engine)
{
	daynight_state *s = state_of(step);
	if (!s)
		return -1;
	s->engine = engine;
	s->stream_id = step->stream_id;
	int32_t fraction = s->s.night_to_day_fraction + 1;
	s->light_threshold = fraction ? 2147483647 / fraction : 2147483647;
	s->led_off = s->light_threshold;
	s->last_above = DAYNIGHT_NONE;
	s->base_day_threshold = (int64_t)(s->s.d2n_shift_exp_lvl_fraction / s->s.hysteresis_factor);
	s->day_threshold = s->base_day_threshold;
	s->user_mode = DAYNIGHT_NONE;
	s->light_logic = DAYNIGHT_NONE;
	s->applied = DAYNIGHT_NONE;
	s->pending = DAYNIGHT_NONE;
	s->last_max_used = -1;
	s->last_lo = s->last_hi = -1;
	s->initialised = 0;
	s->power_pending = 0;
	s->timer_running = 0;
	s->colour_hold = 0;
	s->just_switched_to_night = 0;
	return 0;
}

int daynight_vorsalind_run(struct algo_step *step, struct control *engine)
{
	daynight_state *s = state_of(step);
	control_job *job = control_get_input(engine);
	if (!s || !job)
		return -1;
	int32_t max;
	if (info_pool_get_int(INFO_MAX_EXPOSURE, s->stream_id, &max) == 0) {
		s->max_exposure = max;
		s->max_cached = 1;
	}
	if (job->type == PLATFORM_DATA_SOC_STATS) {
		int channel = channel_of(s);
		if (channel < PLATFORM_STATS_CHANNELS) {
			memcpy(&s->stats, &reinterpret_cast<platform_soc_stats *>(job)->channel[channel],
			       sizeof s->stats);
			s->have_stats = 1;
		}
		return 0;
	}
	control_timestamp interval = {0, US / s->s.day_night_step_rate};
	if (!s->timeout || control_start_timeout(engine, s->timeout, &interval) != 0)
		return -1;
	if (s->s.power_control_enabled && s->power_sufficient && s->power_pending)
		return daynight_set_state(s, engine, s->stream_id, s->pending);
	if (!s->initialised && initialise(s, engine) != 0)
		return -1;

	int64_t now = now_us();
	if (s->s.use_light_sensor && update_light(s, engine, now) != 0)
		return -1;
	s->min_exposure = info_int(INFO_MIN_EXPOSURE, s->stream_id, 0);
	int32_t exposure = info_int(INFO_EXPOSURE, s->stream_id, 0);
	thresholds(s);
	return decide_and_switch(s, engine, now, exposure);
}

int daynight_destroy(struct algo_step *step, struct control *)
{
	daynight_state *s = state_of(step);
	if (!s)
		return -1;
	if (s->consumer_registered) {
		power_control_unregister_consumer(&consumer);
		consumer.callback = nullptr;
		consumer.user_data = nullptr;
		s->consumer_registered = 0;
	}
	step_param_unregister_all(&s->callbacks);
	return 0;
}

int daynight_set_state(struct daynight_state *s, struct control *engine, int32_t stream_id, int wanted)
{
	if (!s)
		return -1;
	bool power = s->s.power_control_enabled;
	if (!s->initialised || !power) {
		if (wanted == s->applied) {
			if (power)
				release_power(s);
			return 0;
		}
	} else if (!s->power_sufficient) {
		s->pending = (uint8_t)wanted;
		if (!s->power_pending) {
			// Without the service no grant will come: a needed move is
			// not made, and the caller must not count it as made.
			if (request_power(s->s.ir_cut_filter_power) == 0)
				return wanted == s->applied ? 0 : -1;
			s->power_pending = 1;
		}
		return 0;
	} else if (wanted == s->applied) {
		release_power(s);
		return 0;
	}
	if (move_filter(s, engine, stream_id, wanted) != 0)
		return -1;
	if (power)
		release_power(s);
	return 0;
}

int64_t daynight_limit_max_exposure(struct daynight_state *s, int64_t m)
{
	void *blob = nullptr;
	uint32_t size = 0;
	if (info_pool_get_blob(INFO_UNITY_EXPOSURE, s->stream_id, &blob, &size) != 0)
		return m;
	int32_t u = 0;
	if (blob && size >= sizeof u)
		memcpy(&u, blob, sizeof u);
	g_free(blob);
	if (u <= 0)
		return m;
	int32_t db = s->hdr_mode != 0 ? s->s.max_hdr_gain : s->s.max_lin_gain;
	int64_t g = llround(pow(10.0, db / 20.0) * Q14_ONE);
	int64_t ratio = (m * Q14_ONE + u / 2) / u;
	if (g < ratio)
		return ((int64_t)u * g + Q14_ONE / 2) / Q14_ONE;
	return m;
}

void daynight_update_thresholds(struct daynight_state *s, int64_t m)
{
	const daynight_settings &c = s->s;
	double slider = (double)(c.slider_factor + s->shift_level) / (c.slider_factor + 100);
	s->night_threshold = (int64_t)(slider * ((double)c.d2n_shift_exp_lvl_fraction * m / 100));
	s->base_day_threshold = (int64_t)(s->night_threshold / c.hysteresis_factor);
	s->day_threshold = s->base_day_threshold;
	s->oscillations = 0;
	s->last_max_used = m;
}

void daynight_map_thresholds(struct daynight_state *s, int64_t lo, int64_t hi)
{
	const daynight_settings &c = s->s;
	double h = c.hysteresis_factor;
	s->last_lo = lo;
	s->last_hi = hi;
	int64_t low = (int64_t)(lo * h);
	if (hi <= lo * h || low <= 0) {
		s->night_threshold = s->day_threshold = s->base_day_threshold = DAYNIGHT_THRESHOLD_OFF;
		debug_output(DEBUG_WARNING, 0,
		             "Exposure range too small for automatic day/night transition\n");
		return;
	}
	int64_t ratio = c.max_exposure_ratio;
	if (s->shift_level <= 0) {
		s->base_day_threshold = lo + 1;
		s->night_threshold = low;
	} else if (s->shift_level >= 100) {
		s->base_day_threshold = (int64_t)(hi / h);
		s->night_threshold = (hi * ratio + Q14_ONE / 2) / Q14_ONE;
	} else {
		// log2 of each limit at the most fraction bits its value leaves
		// room for, brought to the low limit's; the power is taken of the
		// fraction alone, so that no intermediate leaves 32 bits.
		int q = __builtin_clz((uint32_t)MIN(low, (int64_t)INT32_MAX)) - 1;
		int64_t hi32 = MIN(hi, (int64_t)INT32_MAX);
		int qh = __builtin_clz((uint32_t)hi32) - 1;
		int64_t la = fx_log2x((int32_t)(low << q), q);
		int64_t lb = (int64_t)fx_log2x((int32_t)(hi32 << qh), qh) << (q - qh);
		int64_t x = la + (lb - la) * s->shift_level / 100;
		int64_t whole = x >> q;
		int64_t frac = x - (whole << q);
		int64_t v = ((int64_t)fx_exp2x((int32_t)frac, q) << whole) >> q;
		int64_t night = CLAMP(v, lo + 1, hi);
		s->night_threshold = (night * ratio + Q14_ONE / 2) / Q14_ONE;
		s->base_day_threshold = CLAMP((int64_t)(v / h), lo + 1, hi);
	}
	s->day_threshold = s->base_day_threshold;
}

int daynight_colour_verdict(struct daynight_state *s, int32_t quotient, int32_t deviation)
{
	bool seen = deviation > s->s.ir_threshold;
	if (s->hdr_mode == 0)
		seen = seen || quotient < s->s.chroma_quotient_threshold;
	if (!seen) {
		s->ir_counter = 0;
		return 0;
	}
	s->ir_counter = MIN(s->ir_counter + 1, IR_COUNTER_MAX);
	return s->ir_counter >= IR_COUNTER_MAX;
}

void daynight_power_granted_cb(void *user_data, uint32_t granted)
{
	daynight_state *s = static_cast<daynight_state *>(user_data);
	if (!s)
		return;
	s->granted = granted;
	s->power_sufficient = (int64_t)granted - s->s.ir_cut_filter_power >= -POWER_TOLERANCE;
}

int set_ir_cut_filter_user_mode(void *engine, void *block, struct param_value *value, struct param_callback *)
{
	callback_block *b = block_of(block);
	if (!b || !b->state || !value)
		return -1;
	daynight_state *s = b->state;
	if (s->user_mode == DAYNIGHT_NONE)
		return 0;
	switch (value->value) {
	case USER_AUTO:
		s->user_mode = USER_AUTO;
		s->ill_state = DAYNIGHT_UNDECIDED;
		s->last_above = 2;
		return 0;
	case DAYNIGHT_DAY:
	case DAYNIGHT_NIGHT:
		if (daynight_set_state(s, static_cast<control *>(engine), b->stream_id, value->value) == 0)
			s->user_mode = (uint8_t)value->value;
		s->last_above = value->value;
		return 0;
	default:
		g_error("IrCutFilter %d out of its range", value->value);
	}
}

int daynight_shift_level_cb(void *, void *block, struct param_value *value, struct param_callback *)
{
	callback_block *b = block_of(block);
	if (!b || !b->state || !value)
		return -1;
	daynight_state *s = b->state;
	if (value->id == P_SHIFT_LEVEL_ENABLED) {
		s->shift_level_enabled = value->value != 0;
		return 0;
	}
	s->shift_level = value->value;
	if (s->s.map_slider_to_min_max_exposure) {
		s->night_threshold = s->day_threshold = DAYNIGHT_THRESHOLD_OFF;
		s->last_lo = -1;
		return 0;
	}
	s->last_max_used = -1;
	if (s->max_cached) {
		int64_t m = s->max_exposure;
		if (s->s.override_max_gain)
			m = daynight_limit_max_exposure(s, m);
		daynight_update_thresholds(s, m);
	}
	return 0;
}

int daynight_light_logic_cb(void *engine, void *block, struct param_value *value, struct param_callback *)
{
	callback_block *b = block_of(block);
	if (!b || !b->state || !value)
		return -1;
	daynight_state *s = b->state;
	if (s->light_logic == DAYNIGHT_NONE)
		return 0;
	control *eng = static_cast<control *>(engine);
	if (s->user_mode == USER_AUTO) {
		int wanted = value->value == 1 ? DAYNIGHT_DAY : DAYNIGHT_NIGHT;
		if (daynight_set_state(s, eng, b->stream_id, wanted) == 0)
			s->light_logic = (uint8_t)wanted;
	}
	if (!control_get_platform(eng))
		return -1;
	uint32_t mode;
	if (libcl_get_hdr_mode(channel_of(s), &mode) != 0)
		return -1;
	s->hdr_mode = mode;
	return 0;
}

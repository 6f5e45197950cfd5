// IR-cut filters on a TB6613FTG motor driver: DC mode (a timed drive pulse)
// and stepper mode (counted steps, calibration against an end stop, and a
// heater mode that holds the filter with extra steps while it is cold).

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <math.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/control.h"
#include "core/control_temperature.h"
#include "core/control_timeout.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "ircut.h"
#include "ircut_motor_ioctl.h"
#include "ircut_private.h"
#include "optics_sleep.h"
#include "platform/platform.h"

namespace
{

#define VOLTAGE_ENTRIES 64
#define POLL_MS 100
#define HEATER_DELAY_S 30

// Entry i is i x 300 / 63 volts-tenths rounded to one decimal, but for entry
// 48, which the driver's table has at 228.1.
const int32_t *voltage_table()
{
	static int32_t table[VOLTAGE_ENTRIES];
	static gsize done = 0;
	if (g_once_init_enter(&done)) {
		for (int i = 0; i < VOLTAGE_ENTRIES; i++) {
			int tenths = (int)lround(i * 3000.0 / 63.0);
			if (i == 48)
				tenths = 2281;
			table[i] = (int32_t)lround(tenths * 16384.0 / 10.0);
		}
		g_once_init_leave(&done, 1);
	}
	return table;
}

int send(int fd, unsigned long request, void *block)
{
	return ioctl(fd, request, block) < 0 ? -1 : 0;
}

int set_channel(int fd, uint32_t channel, uint32_t value)
{
	ircut_motor_channel c = {channel, value};
	return send(fd, IRCUT_MOTOR_SET_CHANNEL, &c);
}

int send_pins(int fd, const char *data, const char *clock, const char *load)
{
	ircut_motor_pins pins;
	ircut_pin_name(pins.data, data);
	ircut_pin_name(pins.clock, clock);
	ircut_pin_name(pins.load, load);
	return send(fd, IRCUT_MOTOR_SET_PINS, &pins);
}

// Channel 0's first filter, whatever the stream, but only one of this
// driver's: a module whose create failed leaves its switch installed, and it
// must not move a filter of another kind.
int channel0_switch(struct platform *platform, int day, int32_t)
{
	ircut *i = platform_get_ircut(platform, 0);
	if (!i || (i->type != IRCUT_TYPE_TB6613FTG && i->type != IRCUT_TYPE_TB6613FTG_STEPPER))
		return -4;
	return ircut_switch_result(i, day);
}

// --- DC mode ---------------------------------------------------------------

struct dc_settings {
	int32_t wait_time;
	char *dev;
	char *data_pin;
	char *clk_pin;
	char *ld_pin;
	uint8_t pin_active_high;
	int32_t voltage;
	char *mck_pin;
	uint8_t constant_current;
	int32_t hold_voltage;
	uint8_t use_hold_current;
};

#define DC_INT(key, field, kind)                                                                             \
	prodconf_field_i32(key, kind, PRODCONF_REQUIRED, offsetof(dc_settings, field), 0)
#define DC_TEXT(key, field, req) prodconf_field_text(key, req, offsetof(dc_settings, field), nullptr)
const prodconf_field dc_fields[] = {
    DC_INT("tb6613ftg_wait_time", wait_time, PRODCONF_INT),
    DC_TEXT("tb6613ftg_dev", dev, PRODCONF_REQUIRED),
    DC_TEXT("tb6613ftg_data_pin", data_pin, PRODCONF_REQUIRED),
    DC_TEXT("tb6613ftg_clk_pin", clk_pin, PRODCONF_REQUIRED),
    DC_TEXT("tb6613ftg_ld_pin", ld_pin, PRODCONF_REQUIRED),
    DC_INT("tb6613ftg_pin_active_high", pin_active_high, PRODCONF_BOOL),
    DC_INT("tb6613ftg_voltage", voltage, PRODCONF_FIXED),
    DC_TEXT("tb6613ftg_mck_pin", mck_pin, PRODCONF_OPTIONAL),
    DC_INT("tb6613ftg_constant_current", constant_current, PRODCONF_BOOL),
    DC_INT("tb6613ftg_hold_voltage", hold_voltage, PRODCONF_FIXED),
    DC_INT("tb6613ftg_use_hold_current", use_hold_current, PRODCONF_BOOL),
};
#undef DC_INT
#undef DC_TEXT
const prodconf_schema dc_schema = {"ircut_tb6613ftg", sizeof(dc_settings), dc_fields,
                                   G_N_ELEMENTS(dc_fields)};

void dc_settings_free(dc_settings *s)
{
	g_free(s->dev);
	g_free(s->data_pin);
	g_free(s->clk_pin);
	g_free(s->ld_pin);
	g_free(s->mck_pin);
	g_free(s);
}

struct dc {
	GThread *worker;
	int fd;
	uint8_t pin_active_high;
	int32_t wait_time;
	uint32_t drive;
	uint32_t hold;
	uint8_t use_hold;
	char *filter_pin;
	struct ircut *ircut;
	int day;
};

void dc_move(dc *d)
{
	int level = d->pin_active_high ? d->day : !d->day;
	if (platform_gpio_set(d->ircut->platform, d->filter_pin, level) != PLATFORM_OK)
		debug_output(DEBUG_WARNING, 0, "GPIO %s ir cut filter pin %s failed.\n",
		             d->filter_pin ? d->filter_pin : "(none)", level ? "high" : "low");
	if (set_channel(d->fd, IRCUT_MOTOR_CHANNEL_MODE, IRCUT_MOTOR_MODE_FORWARD_REVERSE) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to enable IR cut filter driver forward/reverse mode.\n");
		return;
	}
	if (d->use_hold && set_channel(d->fd, IRCUT_MOTOR_CHANNEL_DRIVE, d->drive) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to set IR cut filter driver drive current.\n");
		return;
	}
	optics_sleep_ms((uint32_t)(d->wait_time > 0 ? d->wait_time : 0));
	if (d->use_hold) {
		if (set_channel(d->fd, IRCUT_MOTOR_CHANNEL_DRIVE, d->hold) != 0)
			debug_output(DEBUG_ERROR, 0, "Failed to set IR cut filter hold voltage.\n");
	} else if (set_channel(d->fd, IRCUT_MOTOR_CHANNEL_MODE, IRCUT_MOTOR_MODE_SHORT_BRAKE) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to set IR cut filter driver in short brake mode.\n");
	}
}

gpointer dc_thread(gpointer data)
{
	dc_move(static_cast<dc *>(data));
	return nullptr;
}

int dc_set(struct ircut *ircut, int day)
{
	auto *d = static_cast<dc *>(ircut->priv);
	ircut_join_worker(&d->worker);
	d->day = day ? 1 : 0;
	return ircut_start_worker(&d->worker, dc_thread, d);
}

void dc_destroy(struct ircut *ircut)
{
	if (!ircut) {
		debug_output(DEBUG_ERROR, 0, "%s: Got null ircut struct.\n", "tb6613ftg_destroy");
		return;
	}
	auto *d = static_cast<dc *>(ircut->priv);
	if (d) {
		ircut_join_worker(&d->worker);
		if (d->fd >= 0)
			close(d->fd);
		g_free(d->filter_pin);
		g_free(d);
	}
	g_free(ircut);
}

int dc_init(dc *d, const dc_settings *s, struct platform *p)
{
	d->fd = ircut_open(p, s->dev, O_RDWR);
	if (d->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "ircut: Failed to open device %s\n", s->dev);
		return -1;
	}
	if (s->mck_pin && *s->mck_pin) {
		char mck[IRCUT_MOTOR_PIN_NAME];
		ircut_pin_name(mck, s->mck_pin);
		if (send(d->fd, IRCUT_MOTOR_SET_MCK_PIN, mck) != 0)
			return -1;
	}
	if (send_pins(d->fd, s->data_pin, s->clk_pin, s->ld_pin) != 0 ||
	    set_channel(d->fd, IRCUT_MOTOR_CHANNEL_DRIVE, d->drive) != 0 ||
	    set_channel(d->fd, IRCUT_MOTOR_CHANNEL_MODE, IRCUT_MOTOR_MODE_SHORT_BRAKE) != 0)
		return -1;
	return 0;
}

// --- stepper mode ----------------------------------------------------------

struct stepper_settings {
	char *dev;
	int32_t steps_per_second;
	int32_t steps;
	int32_t calibration_steps;
	int32_t calibration_backout;
	uint8_t calibration_enables_ircut;
	int32_t calibration_interval;
	int32_t calibration_voltage_level;
	int32_t timeout_ms;
	int32_t motor_start_step;
	int32_t motor_hold_voltage_level;
	int32_t motor_voltage_level;
	int32_t motor_exitation_mode;
	int32_t motor_divide_int_ck;
	int32_t motor_pwm_turn_off;
	int32_t motor_fast_decay;
	int32_t temp_sensor_id;
	int32_t temp_sensor_heater_limit;
	int32_t heater_hold_voltage_level;
	int32_t heater_enable_steps;
};

#define ST(key, kind) prodconf_field_i32(#key, kind, PRODCONF_REQUIRED, offsetof(stepper_settings, key), 0)
#define ST_OPT(key, kind, def)                                                                               \
	prodconf_field_i32(#key, kind, PRODCONF_OPTIONAL, offsetof(stepper_settings, key), def)
const prodconf_field stepper_fields[] = {
    prodconf_field_text("dev", PRODCONF_REQUIRED, offsetof(stepper_settings, dev), nullptr),
    ST(steps_per_second, PRODCONF_INT),
    ST(steps, PRODCONF_INT),
    ST(calibration_steps, PRODCONF_INT),
    ST(calibration_backout, PRODCONF_INT),
    ST(calibration_enables_ircut, PRODCONF_BOOL),
    ST(calibration_interval, PRODCONF_INT),
    ST(calibration_voltage_level, PRODCONF_ENUM),
    ST(timeout_ms, PRODCONF_INT),
    ST(motor_start_step, PRODCONF_INT),
    ST(motor_hold_voltage_level, PRODCONF_ENUM),
    ST(motor_voltage_level, PRODCONF_ENUM),
    ST(motor_exitation_mode, PRODCONF_ENUM),
    ST(motor_divide_int_ck, PRODCONF_INT),
    ST(motor_pwm_turn_off, PRODCONF_ENUM),
    ST(motor_fast_decay, PRODCONF_ENUM),
    ST_OPT(temp_sensor_id, PRODCONF_INT, -1),
    ST_OPT(temp_sensor_heater_limit, PRODCONF_INT, -100),
    ST_OPT(heater_hold_voltage_level, PRODCONF_ENUM, -1),
    ST_OPT(heater_enable_steps, PRODCONF_INT, 0),
};
#undef ST
#undef ST_OPT
const prodconf_schema stepper_schema = {"ircut_tb6613ftg_stepper", sizeof(stepper_settings), stepper_fields,
                                        G_N_ELEMENTS(stepper_fields)};

const struct {
	const char *name;
	intptr_t value;
} stepper_constants[] = {
    {"exitation_mode_1_2_phase", 0},
    {"exitation_mode_256_micro_steps", 1},
    {"voltage_level_0", -1},
    {"voltage_level_0075", 0},
    {"voltage_level_0150", 1},
    {"voltage_level_0225", 2},
    {"voltage_level_0300", 3},
    {"pwm_turn_off_period_2", 0},
    {"pwm_turn_off_period_4", 1},
    {"pwm_turn_off_period_6", 2},
    {"pwm_turn_off_period_8", 3},
    {"fast_decay_off", 0},
    {"fast_decay_1", 1},
    {"fast_decay_2", 2},
    {"fast_decay_3", 3},
};

enum { MODE_NORMAL = 0, MODE_HEATER = 1, MODE_CALIBRATION = 2 };

struct job {
	int target;
	int heater;
	int calibrate;
};

struct stepper {
	stepper_settings s;
	int fd;
	GThread *worker;
	struct control *engine;
	struct control_temperature_limit *limits[2];
	bool delay;  // the heater delay runs: sets wait
	GMutex lock; // what the worker and the main thread share
	int state;   // -1 unknown: calibration due
	int heater;  // heater mode
	int moves;   // since the last calibration
	bool queued; // a set arrived while the heater delay runs
	job queued_job;
	job running;     // the worker's
	int position;    // where the worker left the filter
	int hold_active; // heater hold steps are in
	int cal_pending; // a job failed: the next one calibrates
};

int motor_step(stepper *m, int32_t steps, int mode)
{
	ircut_motor_voltages v = {
	    (uint32_t)(mode == MODE_HEATER ? m->s.heater_hold_voltage_level : m->s.motor_hold_voltage_level),
	    (uint32_t)(mode == MODE_CALIBRATION ? m->s.calibration_voltage_level : m->s.motor_voltage_level)};
	if (send(m->fd, IRCUT_MOTOR_SET_VOLTAGES, &v) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to set stepper voltage for ircut\n");
	ircut_motor_move mv = {(uint32_t)m->s.steps_per_second, steps};
	if (send(m->fd, IRCUT_MOTOR_MOVE, &mv) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to send move command for IR cut filter.\n");
		return -1;
	}
	int polls = m->s.timeout_ms / POLL_MS + 1;
	for (int i = 0; i < polls; i++) {
		optics_sleep_ms(POLL_MS);
		int32_t remaining = 0;
		if (send(m->fd, IRCUT_MOTOR_GET_REMAINING, &remaining) != 0) {
			debug_output(DEBUG_ERROR, 0, "Failed to get remaining steps for IR cut filter.\n");
			return -1;
		}
		if (remaining <= 0)
			return 0;
	}
	debug_output(DEBUG_ERROR, 0, "Timeout while waiting for IR cut movement to finish.\n");
	return -1;
}

int run_steps(stepper *m, const job &j)
{
	if (j.calibrate || m->cal_pending) {
		if (motor_step(m, m->s.calibration_steps, MODE_CALIBRATION) != 0)
			return -1;
		for (int i = 0; i < 3; i++)
			if (motor_step(m, 16, MODE_NORMAL) != 0)
				return -1;
		if (motor_step(m, -m->s.calibration_backout, MODE_NORMAL) != 0)
			return -1;
		m->position = m->s.calibration_enables_ircut ? 1 : 0;
		m->hold_active = 0;
		m->cal_pending = 0;
	} else if (m->hold_active && motor_step(m, -m->s.heater_enable_steps, MODE_NORMAL) != 0) {
		return -1;
	}
	if (j.target != m->position) {
		if (motor_step(m, j.target ? m->s.steps : -m->s.steps, MODE_NORMAL) != 0)
			return -1;
		m->position = j.target;
	}
	if (!j.heater) {
		m->hold_active = 0;
		return 0;
	}
	if (motor_step(m, m->s.heater_enable_steps, MODE_HEATER) != 0)
		return -1;
	m->hold_active = 1;
	return 0;
}

gpointer stepper_thread(gpointer data)
{
	auto *m = static_cast<stepper *>(data);
	if (run_steps(m, m->running) != 0) {
		// Where the filter is now is not known: the next job calibrates.
		m->position = -1;
		m->cal_pending = 1;
		// A set that came in since already named a new state, and its
		// job will calibrate.
		g_mutex_lock(&m->lock);
		if (m->state == m->running.target)
			m->state = -1;
		g_mutex_unlock(&m->lock);
	}
	return nullptr;
}

int run_job(stepper *m, const job &j)
{
	ircut_join_worker(&m->worker);
	m->running = j;
	if (ircut_start_worker(&m->worker, stepper_thread, m) == 0)
		return 0;
	g_mutex_lock(&m->lock);
	m->state = -1;
	g_mutex_unlock(&m->lock);
	return -1;
}

int stepper_set(struct ircut *ircut, int day)
{
	auto *m = static_cast<stepper *>(ircut->priv);
	int d = day ? 1 : 0;
	g_mutex_lock(&m->lock);
	if (m->state == d) {
		g_mutex_unlock(&m->lock);
		return 0;
	}
	job j = {d, m->heater, m->state < 0 || m->moves >= m->s.calibration_interval};
	m->moves = j.calibrate ? 0 : m->moves + 1;
	m->state = d;
	ircut->state = (uint8_t)d;
	if (m->delay) {
		m->queued = true;
		m->queued_job = j;
		g_mutex_unlock(&m->lock);
		return 0;
	}
	g_mutex_unlock(&m->lock);
	return run_job(m, j);
}

void delay_fired(struct control *engine, void *argument, control_timeout *timeout)
{
	auto *m = static_cast<stepper *>(argument);
	m->delay = false;
	if (m->queued) {
		m->queued = false;
		run_job(m, m->queued_job);
	}
	control_destroy_timeout(timeout, engine);
}

void heater_mode(stepper *m, int on)
{
	g_mutex_lock(&m->lock);
	if (m->heater == on) {
		g_mutex_unlock(&m->lock);
		return;
	}
	m->heater = on;
	job j = {m->state, on, m->state < 0};
	// Unknown: the calibration puts the filter where it leaves it.
	if (j.calibrate) {
		j.target = m->s.calibration_enables_ircut ? 1 : 0;
		m->state = j.target;
	}
	g_mutex_unlock(&m->lock);
	if (!on) {
		if (m->queued) {
			j.target = m->queued_job.target;
			j.calibrate = m->queued_job.calibrate;
			m->queued = false;
		}
		if (m->delay)
			control_destroy_pending_callback_timeout(m->engine, delay_fired, m);
		m->delay = false;
		run_job(m, j);
		return;
	}
	run_job(m, j);
	control_timeout *delay = control_create_callback_timeout(m->engine, delay_fired, m);
	control_timestamp interval = {HEATER_DELAY_S, 0};
	m->delay = delay && control_start_timeout(m->engine, delay, &interval) == 0;
	if (delay && !m->delay)
		control_destroy_timeout(delay, m->engine);
}

void heater_on(struct control *, int32_t, struct control_temperature_limit *limit)
{
	heater_mode(static_cast<stepper *>(static_cast<ircut *>(limit->user_data)->priv), 1);
}

void heater_off(struct control *, int32_t, struct control_temperature_limit *limit)
{
	heater_mode(static_cast<stepper *>(static_cast<ircut *>(limit->user_data)->priv), 0);
}

void stepper_destroy(struct ircut *ircut)
{
	if (!ircut) {
		debug_output(DEBUG_ERROR, 0, "%s: Got null ircut struct.\n", "tb6613ftg_stepper_destroy");
		return;
	}
	auto *m = static_cast<stepper *>(ircut->priv);
	if (m) {
		ircut_join_worker(&m->worker);
		if (m->fd >= 0)
			close(m->fd);
		for (auto *&l : m->limits) {
			if (l) {
				control_unregister_temperature_limit(m->engine, l);
				g_free(l);
			}
			l = nullptr;
		}
		if (m->delay)
			control_destroy_pending_callback_timeout(m->engine, delay_fired, m);
		g_free(m->s.dev);
		g_mutex_clear(&m->lock);
		g_free(m);
	}
	g_free(ircut);
}

// The stepper settings name no pins: the driver gets an empty pin block.
int stepper_init(stepper *m, struct platform *p)
{
	m->fd = ircut_open(p, m->s.dev, O_RDWR);
	if (m->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "ircut: Failed to open device %s\n", m->s.dev);
		return -1;
	}
	ircut_motor_config config = {};
	config.excitation_mode = (uint32_t)m->s.motor_exitation_mode;
	config.divide_int_clock = (uint32_t)m->s.motor_divide_int_ck;
	config.pwm_turn_off = (uint32_t)m->s.motor_pwm_turn_off;
	config.fast_decay = (uint32_t)m->s.motor_fast_decay;
	ircut_motor_start start = {(uint32_t)m->s.motor_start_step, (uint32_t)m->s.motor_hold_voltage_level,
	                           (uint32_t)m->s.motor_voltage_level};
	if (send_pins(m->fd, nullptr, nullptr, nullptr) != 0 ||
	    send(m->fd, IRCUT_MOTOR_CONFIG, &config) != 0 || send(m->fd, IRCUT_MOTOR_START, &start) != 0)
		return -1;
	return 0;
}

void register_heater(stepper *m, ircut *made)
{
	if (m->s.temp_sensor_id < 0)
		return;
	int32_t limit = m->s.temp_sensor_heater_limit; // degrees, as the service takes them
	m->limits[0] = control_register_temperature_limit(m->engine, (uint32_t)m->s.temp_sensor_id, limit, 0,
	                                                  heater_on, made);
	if (!m->limits[0]) {
		debug_output(DEBUG_ERROR, 0, "%s: Got null for register temp_callback.\n",
		             "prodconf_ircut_tb6613ftg_stepper_create");
		return;
	}
	m->limits[1] = control_register_temperature_limit(m->engine, (uint32_t)m->s.temp_sensor_id, limit, 1,
	                                                  heater_off, made);
	if (m->limits[0]->state)
		heater_mode(m, 1);
}

} // namespace

uint32_t ircut_tb6613ftg_voltage_value(int32_t voltage, int constant_current)
{
	uint32_t index =
	    (uint32_t)fx_table_search(voltage, voltage_table(), VOLTAGE_ENTRIES, FX_SEARCH_NEAREST);
	return index | 0x80 | (constant_current ? 0x40 : 0);
}

void *prodconf_ircut_tb6613ftg_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	struct platform *p = control_get_platform(engine);
	if (p)
		p->daynight_switch = channel0_switch;
	auto *s = static_cast<dc_settings *>(ircut_read_settings(conf, &dc_schema, stream_id));
	if (!s)
		return nullptr;
	auto *d = g_new0(dc, 1);
	d->fd = -1;
	d->pin_active_high = s->pin_active_high;
	d->wait_time = s->wait_time;
	d->drive = ircut_tb6613ftg_voltage_value(s->voltage, s->constant_current);
	d->hold = ircut_tb6613ftg_voltage_value(s->hold_voltage, s->constant_current);
	d->use_hold = s->use_hold_current;
	int c = platform_stream_channel(stream_id);
	d->filter_pin =
	    g_strdup(conf && c < PRODCONF_CHANNELS ? conf->constants[c].ir_cut_filter_pin : nullptr);
	int r = dc_init(d, s, p);
	dc_settings_free(s);
	if (r != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to init tb6613ftg IR cut filter driver.\n");
		debug_output(DEBUG_ERROR, 0, "Failed to create ircut, continue anyway\n");
		if (d->fd >= 0)
			close(d->fd);
		g_free(d->filter_pin);
		g_free(d);
		return nullptr;
	}
	ircut *made = ircut_make(IRCUT_TYPE_TB6613FTG, dc_set, dc_destroy, d);
	d->ircut = made;
	return made;
}

void *prodconf_ircut_tb6613ftg_stepper_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id)
{
	for (const auto &k : stepper_constants)
		prodconf_add_constant(conf, k.name, k.value);
	struct platform *p = control_get_platform(engine);
	if (p)
		p->daynight_switch = channel0_switch;
	auto *s = static_cast<stepper_settings *>(ircut_read_settings(conf, &stepper_schema, stream_id));
	if (!s)
		return nullptr;
	auto *m = g_new0(stepper, 1);
	m->s = *s;
	g_free(s);
	m->fd = -1;
	m->state = -1;
	m->position = -1;
	m->engine = engine;
	g_mutex_init(&m->lock);
	ircut *made = ircut_make(IRCUT_TYPE_TB6613FTG_STEPPER, stepper_set, stepper_destroy, m);
	if (stepper_init(m, p) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to init tb6613ftg_stepper IR cut filter driver.\n");
		stepper_destroy(made);
		return nullptr;
	}
	register_heater(m, made);
	return made;
}

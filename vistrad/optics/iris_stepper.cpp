// Stepper P-irises: the actuators over the motor-driver device, the P-iris
// over an actuator, and the two configuration modules that build them.

#include "iris_stepper.h"

#include <errno.h>
#include <fcntl.h>
#include <soloff.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "iris.h"
#include "iris_motor_ioctl.h"
#include "optics_sleep.h"
#include "platform/platform.h"

namespace
{

enum { PARAM_IRIS_APERTURE_OPEN = 79, PARAM_IRIS_APERTURE_BEST = 80, PARAM_IRIS_APERTURE_DIFFR = 81 };
#define Q14_ONE 16384
#define SET_MODE_SETTLE_MS 100

// The driver block; the TB6613FTG and the PCC driver differ only in the
// messages they log and the three temperature getters.
struct driver {
	bool pcc;
	int32_t position; // -1: not yet calibrated
	int fd;
	uint32_t open_dir;
	uint32_t speed_normal;
	uint32_t speed_fast;
	uint32_t last_direction;
	uint32_t backout_steps;
	uint32_t backlash;
	GThread *calibration;
	GRecMutex lock;
	// The calibration worker has the lock: a move asked for after the
	// calibration started waits for its end.
	GMutex start_lock;
	GCond started;
	bool worker_locked;
	uint8_t out_of_range;
	int32_t lowest_operating; // Q14
	int32_t lowest_startup;   // Q14
	int32_t sensor_id;
};

driver *drv(iris_stepper_actuator *act)
{
	return static_cast<driver *>(act->driver);
}

int request(driver *d, unsigned long code, void *block)
{
	return ioctl(d->fd, code, block) < 0 ? -1 : 0;
}

int send_stop(driver *d)
{
	uint32_t unused = 0;
	if (request(d, IRIS_MOTOR_STOP, &unused) == 0)
		return 0;
	if (d->pcc)
		debug_output(DEBUG_WARNING, 0, "%s: Could not stop iris\n", "stop");
	else
		debug_output(DEBUG_WARNING, 0, "Could not stop iris.\n");
	return -1;
}

int act_is_moving(iris_stepper_actuator *act)
{
	driver *d = drv(act);
	uint32_t moving = 0;
	if (request(d, IRIS_MOTOR_IS_MOVING, &moving) != 0) {
		if (d->pcc)
			debug_output(DEBUG_ERROR, 0, "%s: Could not find out if iris is moving\n",
			             "is_moving");
		else
			debug_output(DEBUG_ERROR, 0, "Could not find out if iris is moving.\n");
		return -1;
	}
	return d->pcc ? (int)moving : moving != 0;
}

int act_move_rel(iris_stepper_actuator *act, int direction, int32_t steps, int fast, int32_t)
{
	driver *d = drv(act);
	if (d->out_of_range) {
		debug_output(DEBUG_WARNING, 0,
		             "%s: temperature is out of operating limit. P-iris will not move.\n",
		             d->pcc ? "move_rel" : "tb_iris_move_rel");
		return 0;
	}
	if (steps <= 0)
		return 0;
	g_rec_mutex_lock(&d->lock);
	iris_motor_move move;
	// With open_dir 1 a move towards position 0 sends 1.
	move.direction = (direction == 0) == (d->open_dir == 1) ? 1 : 0;
	move.steps = (uint32_t)steps + (d->last_direction != (uint32_t)direction ? d->backlash : 0);
	move.speed = fast ? d->speed_fast : d->speed_normal;
	int result = 0;
	if (request(d, IRIS_MOTOR_MOVE, &move) != 0) {
		if (d->pcc)
			debug_output(DEBUG_ERROR, 0, "%s: Could not move iris\n", "move_rel");
		else
			debug_output(DEBUG_ERROR, 0, "Could not move iris");
		result = -1;
	} else {
		d->position += direction ? steps : -steps;
		d->last_direction = (uint32_t)direction;
	}
	g_rec_mutex_unlock(&d->lock);
	return result;
}

int act_move_to(iris_stepper_actuator *act, int32_t target, int32_t current, int fast)
{
	int32_t delta = target - current;
	return act_move_rel(act, delta >= 1 ? 1 : 0, delta < 0 ? -delta : delta, fast, current);
}

int32_t act_get_position(iris_stepper_actuator *act)
{
	driver *d = drv(act);
	if (d->position < 0)
		return 0;
	if (act_is_moving(act) == 0)
		return d->position;
	uint32_t remaining = 0;
	if (request(d, IRIS_MOTOR_REMAINING, &remaining) != 0) {
		if (d->pcc)
			debug_output(DEBUG_WARNING, 0, "%s: Could not get remaning steps from motor\n",
			             "get_pos");
		else
			debug_output(DEBUG_WARNING, 0, "Could not get remaning steps from motor.\n");
		return d->position;
	}
	// The stored position already holds the target.
	return d->last_direction ? d->position - (int32_t)remaining : d->position + (int32_t)remaining;
}

// Drives the blades well past the open end stop, then backs out.
gpointer calibration_worker(gpointer data)
{
	auto *act = static_cast<iris_stepper_actuator *>(data);
	driver *d = drv(act);
	g_rec_mutex_lock(&d->lock);
	g_mutex_lock(&d->start_lock);
	d->worker_locked = true;
	g_cond_signal(&d->started);
	g_mutex_unlock(&d->start_lock);
	int32_t steps = (int32_t)(((int64_t)d->backout_steps + act->positions) * 12 / 10);
	act_move_rel(act, 0, steps, 1, d->position);
	act_move_rel(act, 1, (int32_t)d->backout_steps, 1, d->position);
	d->position = 0;
	g_rec_mutex_unlock(&d->lock);
	return nullptr;
}

int act_calibrate(iris_stepper_actuator *act)
{
	driver *d = drv(act);
	if (act_is_moving(act) != 0)
		send_stop(d);
	if (d->calibration)
		g_thread_join(d->calibration);
	d->worker_locked = false;
	d->calibration = g_thread_try_new("Calibrate iris thread", calibration_worker, act, nullptr);
	if (d->calibration) {
		g_mutex_lock(&d->start_lock);
		while (!d->worker_locked)
			g_cond_wait(&d->started, &d->start_lock);
		g_mutex_unlock(&d->start_lock);
	} else {
		if (d->pcc)
			debug_output(DEBUG_ERROR, 0, "%s: Failed to launch thread for calibrating iris\n",
			             "calibrate");
		else
			debug_output(DEBUG_ERROR, 0, "Failed to launch thread for calibrating iris\n");
		return -1;
	}
	return 0;
}

void act_set_temperature_status(iris_stepper_actuator *act, int out_of_range)
{
	drv(act)->out_of_range = out_of_range ? 1 : 0;
}

int act_get_temperature_status(iris_stepper_actuator *act)
{
	return drv(act)->out_of_range;
}

int32_t act_sensor_id(iris_stepper_actuator *act)
{
	return drv(act)->sensor_id;
}

int32_t act_lowest_operating(iris_stepper_actuator *act, int *)
{
	return drv(act)->lowest_operating;
}

int32_t act_lowest_startup(iris_stepper_actuator *act, int *)
{
	return drv(act)->lowest_startup;
}

// The worker holds the mutex for a whole calibration: stop the motor, join
// the worker, and only then clear the mutex.
void act_destroy(iris_stepper_actuator *act)
{
	if (!act) {
		debug_output(DEBUG_WARNING, 0, "Got null iris_stepper_actuator object.");
		return;
	}
	driver *d = drv(act);
	if (d) {
		if (d->fd >= 0) {
			send_stop(d);
			if (d->calibration)
				g_thread_join(d->calibration);
			close(d->fd);
		}
		g_rec_mutex_clear(&d->lock);
		g_mutex_clear(&d->start_lock);
		g_cond_clear(&d->started);
		g_free(d);
	}
	g_free(act);
}

iris_stepper_actuator *actuator_new(bool pcc)
{
	iris_stepper_actuator *act = iris_stepper_actuator_new();
	act->is_moving = act_is_moving;
	act->move_to = act_move_to;
	act->move_rel = act_move_rel;
	act->get_position = act_get_position;
	act->calibrate = act_calibrate;
	act->set_temperature_status = act_set_temperature_status;
	act->get_temperature_status = act_get_temperature_status;
	if (!pcc) {
		act->temperature_sensor_id = act_sensor_id;
		act->lowest_operating_temperature = act_lowest_operating;
		act->lowest_startup_temperature = act_lowest_startup;
	}
	act->destroy = act_destroy;
	auto *d = g_new0(driver, 1);
	d->pcc = pcc;
	d->position = -1;
	d->fd = -1;
	g_rec_mutex_init(&d->lock);
	g_mutex_init(&d->start_lock);
	g_cond_init(&d->started);
	act->driver = d;
	return act;
}

void copy_pin(char out[IRIS_MOTOR_PIN_NAME], const char *name)
{
	memset(out, 0, IRIS_MOTOR_PIN_NAME);
	if (name)
		strncpy(out, name, IRIS_MOTOR_PIN_NAME - 1);
}

// --- the P-iris ------------------------------------------------------------

struct holder {
	iris_stepper_actuator *act;
};

iris_stepper_actuator *actuator_of(struct iris *iris)
{
	auto *h = static_cast<holder *>(iris->priv);
	return h ? h->act : nullptr;
}

int32_t to_q14(double v)
{
	return (int32_t)((float)v * Q14_ONE + (v > 0 ? 0.5f : -0.5f));
}

int piris_result(struct iris *iris, int r, int32_t old_position, uint32_t old_direction)
{
	if (r < 0) {
		iris->position = old_position;
		iris->last_direction = old_direction;
	}
	return r;
}

int piris_move_to(struct iris *iris, int32_t target, int fast)
{
	if (target == iris->position)
		return -1;
	iris_stepper_actuator *act = actuator_of(iris);
	if (!act || !act->move_to)
		return -1;
	int32_t old = iris->position;
	uint32_t old_direction = iris->last_direction;
	int32_t position = CLAMP(target, iris->min_position, iris->max_position);
	iris->last_direction = old < position;
	iris->position = position;
	iris_set_reset_needed(iris);
	return piris_result(iris, act->move_to(act, position, old, fast), old, old_direction);
}

int piris_move_rel(struct iris *iris, int direction, int32_t steps, int fast)
{
	if (steps < 1)
		return -1;
	iris_stepper_actuator *act = actuator_of(iris);
	if (!act || !act->move_rel)
		return -1;
	int32_t old = iris->position;
	uint32_t old_direction = iris->last_direction;
	iris->last_direction = (uint32_t)direction;
	int32_t s;
	if (direction == 1) {
		s = MIN(steps, iris->max_position - old);
		iris->position = old + s;
	} else {
		s = MIN(steps, old);
		iris->position = old - s;
	}
	if (iris->position == old)
		return -1;
	iris_set_reset_needed(iris);
	return piris_result(iris, act->move_rel(act, direction, s, fast, old), old, old_direction);
}

int32_t piris_get_position(struct iris *iris)
{
	iris_stepper_actuator *act = actuator_of(iris);
	if (!act || !act->get_position)
		return -1;
	// Asked once: every query counts the motor's remaining steps down.
	int32_t position = act->get_position(act);
	return CLAMP(position, iris->min_position, iris->max_position);
}

int piris_go_home(struct iris *iris, int32_t, int fast)
{
	if (iris->reset_needed == 0)
		return 0;
	int r = piris_move_to(iris, 0, fast);
	iris->reset_needed = 0;
	return r;
}

int piris_set_reset_needed(struct iris *iris)
{
	iris->reset_needed = 1;
	return 0;
}

int piris_calibrate(struct iris *iris)
{
	iris_stepper_actuator *act = actuator_of(iris);
	int r = act && act->calibrate ? act->calibrate(act) : -1;
	iris->position = 0;
	return r;
}

void piris_set_temperature_status(struct iris *iris, int out_of_range)
{
	iris_stepper_actuator *act = actuator_of(iris);
	if (!act || !act->set_temperature_status) {
		debug_output(DEBUG_WARNING, 0, "%s: Error in setting temperature status\n",
		             "iris_stepper_set_temperature_status");
		return;
	}
	act->set_temperature_status(act, out_of_range);
}

int piris_get_temperature_status(struct iris *iris)
{
	iris_stepper_actuator *act = actuator_of(iris);
	return act && act->get_temperature_status ? act->get_temperature_status(act) : -1;
}

int piris_is_moving(struct iris *iris)
{
	iris_stepper_actuator *act = actuator_of(iris);
	return act && act->is_moving ? act->is_moving(act) : -1;
}

int32_t piris_sensor_id(struct iris *iris)
{
	iris_stepper_actuator *act = actuator_of(iris);
	return act && act->temperature_sensor_id ? act->temperature_sensor_id(act) : -1;
}

int32_t piris_temperature(struct iris *iris, int *status,
                          int32_t (*iris_stepper_actuator::*slot)(iris_stepper_actuator *, int *))
{
	iris_stepper_actuator *act = actuator_of(iris);
	if (!act || !(act->*slot)) {
		if (status)
			*status = -2;
		return -16384;
	}
	return (act->*slot)(act, status);
}

int32_t piris_lowest_operating(struct iris *iris, int *status)
{
	return piris_temperature(iris, status, &iris_stepper_actuator::lowest_operating_temperature);
}

int32_t piris_lowest_startup(struct iris *iris, int *status)
{
	return piris_temperature(iris, status, &iris_stepper_actuator::lowest_startup_temperature);
}

void piris_destroy(struct iris *iris)
{
	if (!iris) {
		debug_output(DEBUG_WARNING, 0, "Got null iris object.");
		return;
	}
	iris_stepper_actuator *act = actuator_of(iris);
	if (act && act->destroy)
		act->destroy(act);
	g_free(iris->priv);
	g_free(iris->F_table);
	g_free(iris->aperture_table);
	g_free(iris);
}

bool version_between(const iris_lib_header *h, const iris_lib_versioning_range &r)
{
	bool above_min = h->version_major > r.min_major ||
	                 (h->version_major == r.min_major && h->version_minor >= r.min_minor);
	bool below_max = h->version_major < r.max_major ||
	                 (h->version_major == r.max_major && h->version_minor <= r.max_minor);
	return above_min && below_max;
}

// The accepted data file with the highest revision; null when none.
char *choose_file(int type_id)
{
	iris_lib_versioning_range range;
	if (iris_lib_get_versioning_range(&range) < 0)
		return nullptr;
	iris_lib_id_iterator *it = iris_lib_id_iterator_start(type_id);
	if (!it)
		return nullptr;
	char *kept = nullptr;
	int best_major = -1;
	int best_minor = -1;
	for (char *name = iris_lib_id_iterator_next(it); name; name = iris_lib_id_iterator_next(it)) {
		iris_lib_header *h = nullptr;
		bool take = false;
		if (iris_lib_validate_file(name, &h) == 0 && h && version_between(h, range))
			take = h->revision_major > best_major ||
			       (h->revision_major == best_major && h->revision_minor > best_minor);
		if (take) {
			best_major = h->revision_major;
			best_minor = h->revision_minor;
			free(kept);
			kept = name;
		} else {
			free(name);
		}
		if (h)
			iris_lib_free_header(h);
	}
	iris_lib_id_iterator_stop(it);
	return kept;
}

int32_t *q14_table(iris_lib_table *t)
{
	auto *out = g_new(int32_t, t->count > 0 ? t->count : 1);
	for (int i = 0; i < t->count; i++)
		out[i] = to_q14(t->values[i]);
	return out;
}

// The F and aperture tables; the failing step's message, or null.
const char *load_tables(struct iris *iris, const char *file)
{
	iris_lib_table *t = nullptr;
	if (iris_lib_get_F_table(file, &t) < 0 || !t)
		return "Failed to get F values from iris configuration.";
	iris->F_table = q14_table(t);
	int f_count = t->count;
	iris_lib_free_table(t);
	t = nullptr;
	if (iris_lib_get_A_table(file, &t) < 0 || !t)
		return "Failed to get A values from iris configuration.";
	iris->aperture_table = q14_table(t);
	iris->table_length = t->count;
	iris_lib_free_table(t);
	if (f_count != iris->table_length || f_count < 1)
		return "Failed to fetch valid tables in iris configuration.";
	iris->max_position = f_count - 1;
	return nullptr;
}

int set_aperture_default(uint32_t id, double F)
{
	param_value v = {};
	v.id = id;
	v.stream_id = -1;
	v.type = PARAM_TYPE_FIX;
	v.value = to_q14(F);
	return param_set(&v);
}

const char *load_apertures(const char *file, int32_t *best)
{
	static const struct {
		int (*get)(const char *, double *);
		uint32_t id;
		const char *get_failed;
		const char *set_failed;
	} rows[] = {
	    {iris_lib_get_open_F_value, PARAM_IRIS_APERTURE_OPEN,
	     "Failed to get iris configuration Open F Value.", "Failed to change default Open F Value"},
	    {iris_lib_get_best_F_value, PARAM_IRIS_APERTURE_BEST,
	     "Failed to get iris configuration Best F Value.", "Failed to change default Best F Value"},
	    {iris_lib_get_diffraction_F_value, PARAM_IRIS_APERTURE_DIFFR,
	     "Failed to get iris configuration Diffraction F Value.",
	     "Failed to change default Diffraction F Value"},
	};
	for (const auto &row : rows) {
		double F = 0;
		if (row.get(file, &F) < 0)
			return row.get_failed;
		if (set_aperture_default(row.id, F) != 0)
			return row.set_failed;
		if (row.id == PARAM_IRIS_APERTURE_BEST)
			*best = to_q14(F);
	}
	return nullptr;
}

void load_motor_figures(iris_stepper_actuator *act, const char *file)
{
	if (iris_lib_get_nominal_speed(file, &act->lib_nominal_speed) == 0 &&
	    iris_lib_get_low_speed(file, &act->lib_low_speed) == 0 &&
	    iris_lib_get_high_speed(file, &act->lib_high_speed) == 0)
		act->lib_flags |= IRIS_LIB_SPEEDS;
	if (iris_lib_get_backout(file, &act->lib_backout) == 0)
		act->lib_flags |= IRIS_LIB_BACKOUT;
	if (iris_lib_get_backlash(file, &act->lib_backlash) == 0)
		act->lib_flags |= IRIS_LIB_BACKLASH;
}

void fill_slots(struct iris *iris)
{
	iris->is_moving = piris_is_moving;
	iris->move_to = piris_move_to;
	iris->move_rel = piris_move_rel;
	iris->get_position = piris_get_position;
	iris->go_home = piris_go_home;
	iris->set_reset_needed = piris_set_reset_needed;
	iris->calibrate = piris_calibrate;
	iris->set_temperature_status = piris_set_temperature_status;
	iris->get_temperature_status = piris_get_temperature_status;
	iris->destroy = piris_destroy;
	iris->temperature_sensor_id = piris_sensor_id;
	iris->lowest_operating_temperature = piris_lowest_operating;
	iris->lowest_startup_temperature = piris_lowest_startup;
}

void apply_library_figures(iris_stepper_actuator *act)
{
	driver *d = drv(act);
	if (act->lib_flags & IRIS_LIB_SPEEDS)
		d->speed_normal = d->speed_fast = (uint32_t)act->lib_nominal_speed;
	if (act->lib_flags & IRIS_LIB_BACKLASH)
		d->backlash = (uint32_t)act->lib_backlash;
	if (act->lib_flags & IRIS_LIB_BACKOUT)
		d->backout_steps = (uint32_t)act->lib_backout;
}

bool given(const char *pin)
{
	return pin && *pin;
}

int set_channel(iris_stepper_actuator *act, uint32_t channel, uint32_t value)
{
	iris_motor_channel c = {channel, value};
	if (request(drv(act), IRIS_MOTOR_SET_CHANNEL, &c) == 0)
		return 0;
	debug_output(DEBUG_ERROR, 0, "Failed to set channel %d with value %x mode for iris.\n", (int)channel,
	             value);
	return -1;
}

// The hardware says which iris is fitted; the mode, or -1.
int mode_from_pins(struct platform *p, iris_stepper_actuator *act, const iris_tb6613ftg_settings *s,
                   int type_id)
{
	bool error = set_channel(act, 12, 0x80) != 0;
	error = set_channel(act, 13, 0x80) != 0 || error;
	int r;
	if (given(s->tb6613ftg_sel_b_pin)) {
		r = platform_gpio_set(p, s->tb6613ftg_sel_b_pin, 1);
		if (r == PLATFORM_OK)
			r = tb_iris_set_mode(p, act, IRIS_TYPE_DC, s->tb6613ftg_sel_a_pin);
	} else {
		r = tb_iris_set_mode(p, act, IRIS_TYPE_STEPPER, s->tb6613ftg_sel_a_pin);
	}
	if ((r < 0 && r != PLATFORM_OK) || error) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to set iris detection mode\n",
		             "tb_iris_detect_mode");
		return -1;
	}
	int det_a = -1;
	int det_b = -1;
	int ra = platform_gpio_get(p, s->tb6613ftg_det_a_pin, &det_a);
	int rb = platform_gpio_get(p, s->tb6613ftg_det_b_pin, &det_b);
	if (ra != PLATFORM_OK || rb != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to detect iris mode\n", "tb_iris_detect_mode");
		return -1;
	}
	if (det_a == 0 && det_b == 0) {
		debug_output(DEBUG_WARNING, 0, "Iris outputs shorted\n");
		return -1;
	}
	if (det_a == 0)
		return IRIS_TYPE_DC;
	if (det_b == 0)
		return IRIS_TYPE_STEPPER;
	if (type_id == IRIS_LIB_NO_IRIS) {
		iris_set_state_params(0, 0);
		return -1;
	}
	if (!given(s->tb6613ftg_sel_b_pin)) {
		debug_output(DEBUG_WARNING, 0, "Iris not present\n");
		return -1;
	}
	return IRIS_TYPE_INTELLIGENT;
}

struct iris *create_for_mode(struct control *engine, iris_stepper_actuator *act, int mode)
{
	if (mode == IRIS_TYPE_STEPPER)
		return iris_stepper_create(engine, act);
	if (mode == IRIS_TYPE_DC)
		return iris_dc_new();
	if (mode == IRIS_TYPE_INTELLIGENT) {
		struct iris *placeholder = iris_new();
		placeholder->type = IRIS_TYPE_INTELLIGENT;
		return placeholder;
	}
	return nullptr;
}

// --- module settings -------------------------------------------------------

#define TB_TEXT(key) prodconf_field_text(#key, PRODCONF_OPTIONAL, offsetof(iris_tb6613ftg_settings, key), "")
#define TB_I32(key, kind)                                                                                    \
	prodconf_field_i32(#key, kind, PRODCONF_OPTIONAL, offsetof(iris_tb6613ftg_settings, key), 0)
const prodconf_field tb_fields[] = {
    TB_TEXT(tb6613ftg_dev),
    TB_TEXT(tb6613ftg_data_pin),
    TB_TEXT(tb6613ftg_clk_pin),
    TB_TEXT(tb6613ftg_ld_pin),
    TB_TEXT(tb6613ftg_pwm_a_pin),
    TB_TEXT(tb6613ftg_pwm_b_pin),
    TB_TEXT(tb6613ftg_sel_a_pin),
    TB_TEXT(tb6613ftg_sel_b_pin),
    TB_TEXT(tb6613ftg_det_a_pin),
    TB_TEXT(tb6613ftg_det_b_pin),
    TB_I32(tb6613ftg_open_dir, PRODCONF_INT),
    TB_I32(tb6613ftg_speed_normal, PRODCONF_INT),
    TB_I32(tb6613ftg_speed_fast, PRODCONF_INT),
    TB_I32(tb6613ftg_backout_steps, PRODCONF_INT),
    TB_I32(tb6613ftg_backlash, PRODCONF_INT),
    TB_I32(tb6613ftg_temperature_out_of_range, PRODCONF_BOOL),
    TB_I32(tb6613ftg_temperature_lower_start, PRODCONF_FIXED),
    TB_I32(tb6613ftg_temperature_lower_stop, PRODCONF_FIXED),
    TB_I32(tb6613ftg_temperature_sensor_id, PRODCONF_INT),
};
#undef TB_TEXT
#undef TB_I32
const prodconf_schema tb_schema = {"iris_tb6613ftg", sizeof(iris_tb6613ftg_settings), tb_fields,
                                   G_N_ELEMENTS(tb_fields)};

void tb_settings_free(iris_tb6613ftg_settings *s)
{
	char **texts[] = {&s->tb6613ftg_dev,       &s->tb6613ftg_data_pin,  &s->tb6613ftg_clk_pin,
	                  &s->tb6613ftg_ld_pin,    &s->tb6613ftg_pwm_a_pin, &s->tb6613ftg_pwm_b_pin,
	                  &s->tb6613ftg_sel_a_pin, &s->tb6613ftg_sel_b_pin, &s->tb6613ftg_det_a_pin,
	                  &s->tb6613ftg_det_b_pin};
	for (char **t : texts)
		g_free(*t);
	g_free(s);
}

struct pcc_settings {
	char *dev;
	int32_t open_dir;
	int32_t speed_normal;
	int32_t speed_fast;
	int32_t backout_steps;
	int32_t backlash;
	uint8_t temperature_out_of_range;
};

#define PCC_I32(key, kind) prodconf_field_i32(#key, kind, PRODCONF_OPTIONAL, offsetof(pcc_settings, key), 0)
const prodconf_field pcc_fields[] = {
    prodconf_field_text("dev", PRODCONF_OPTIONAL, offsetof(pcc_settings, dev), ""),
    PCC_I32(open_dir, PRODCONF_INT),
    PCC_I32(speed_normal, PRODCONF_INT),
    PCC_I32(speed_fast, PRODCONF_INT),
    PCC_I32(backout_steps, PRODCONF_INT),
    PCC_I32(backlash, PRODCONF_INT),
    PCC_I32(temperature_out_of_range, PRODCONF_BOOL),
};
#undef PCC_I32
const prodconf_schema pcc_schema = {"iris_stepper_pcc", sizeof(pcc_settings), pcc_fields,
                                    G_N_ELEMENTS(pcc_fields)};

iris_stepper_actuator *pcc_actuator(const pcc_settings *s)
{
	iris_stepper_actuator *act = actuator_new(true);
	driver *d = drv(act);
	d->open_dir = (uint32_t)s->open_dir;
	d->speed_normal = (uint32_t)s->speed_normal;
	d->speed_fast = (uint32_t)s->speed_fast;
	d->backout_steps = (uint32_t)s->backout_steps;
	d->backlash = (uint32_t)s->backlash;
	d->out_of_range = s->temperature_out_of_range;
	d->fd = open(s->dev, O_RDONLY | O_CLOEXEC);
	if (d->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to open %s (%s)\n",
		             "iris_stepper_actuator_pcc_create", s->dev, strerror(errno));
		act_destroy(act);
		return nullptr;
	}
	// The PCC driver's settings carry no pin names: an empty block.
	iris_motor_config config = {};
	if (request(d, IRIS_MOTOR_CONFIG, &config) != 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed motor config (%d)\n",
		             "iris_stepper_actuator_pcc_create", -1);
		act_destroy(act);
		return nullptr;
	}
	return act;
}

} // namespace

struct iris_stepper_actuator *iris_stepper_actuator_new(void)
{
	auto *act = g_new0(iris_stepper_actuator, 1);
	act->positions = -1;
	return act;
}

struct iris_stepper_actuator *iris_stepper_actuator_tb6613ftg_create(const struct iris_tb6613ftg_settings *s)
{
	iris_stepper_actuator *act = actuator_new(false);
	driver *d = drv(act);
	d->open_dir = (uint32_t)s->tb6613ftg_open_dir;
	d->speed_normal = (uint32_t)s->tb6613ftg_speed_normal;
	d->speed_fast = (uint32_t)s->tb6613ftg_speed_fast;
	d->backout_steps = (uint32_t)s->tb6613ftg_backout_steps;
	d->backlash = (uint32_t)s->tb6613ftg_backlash;
	d->out_of_range = s->tb6613ftg_temperature_out_of_range;
	d->lowest_operating = s->tb6613ftg_temperature_lower_stop;
	d->lowest_startup = s->tb6613ftg_temperature_lower_start;
	d->sensor_id = s->tb6613ftg_temperature_sensor_id;
	d->fd = open(s->tb6613ftg_dev, O_RDONLY | O_CLOEXEC);
	if (d->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to open %s (%s).\n", s->tb6613ftg_dev, strerror(errno));
		act_destroy(act);
		return nullptr;
	}
	send_stop(d);
	iris_motor_serial_config serial;
	copy_pin(serial.data, s->tb6613ftg_data_pin);
	copy_pin(serial.clock, s->tb6613ftg_clk_pin);
	copy_pin(serial.latch, s->tb6613ftg_ld_pin);
	iris_motor_config motor = {};
	copy_pin(motor.pwm_a, s->tb6613ftg_pwm_a_pin);
	copy_pin(motor.pwm_b, s->tb6613ftg_pwm_b_pin);
	bool failed = false;
	if (request(d, IRIS_MOTOR_SERIAL_CONFIG, &serial) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed serial config: %x", (unsigned)errno);
		failed = true;
	} else if (request(d, IRIS_MOTOR_CONFIG, &motor) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed motor config: %x", (unsigned)errno);
		failed = true;
	}
	if (failed) {
		debug_output(DEBUG_ERROR, 0, "Could not create iris actuator.\n");
		act_destroy(act);
		return nullptr;
	}
	return act;
}

struct iris *iris_stepper_create(struct control *, struct iris_stepper_actuator *act)
{
	int type_id = iris_lib_get_type_id();
	if (type_id < 1000 || type_id > 4999) {
		iris_set_state_params(1, 0);
		iris_set_positionable_param(1);
		return nullptr;
	}
	struct iris *iris = iris_new();
	auto *h = g_new0(holder, 1);
	h->act = act;
	iris->priv = h;
	char *file = choose_file(type_id);
	const char *failure = nullptr;
	int32_t best_F = 0;
	if (file) {
		failure = load_tables(iris, file);
		if (!failure) {
			const char *why = load_apertures(file, &best_F);
			if (why) {
				debug_output(DEBUG_ERROR, 0, "%s\n", why);
				failure = "Failed to set values from iris configuration.";
			}
		}
		// Before the first calibration, which runs with these figures.
		if (!failure && act) {
			load_motor_figures(act, file);
			apply_library_figures(act);
		}
	}
	bool have_file = file != nullptr;
	free(file);
	if (!have_file || failure) {
		if (failure)
			debug_output(DEBUG_ERROR, 0, "%s\n", failure);
		debug_output(DEBUG_ERROR, 0, "Fatal error: Failed to setup iris type.\n");
		iris_set_state_params(1, 0);
		iris_set_positionable_param(1);
		// The actuator stays the caller's.
		g_free(iris->F_table);
		g_free(iris->aperture_table);
		g_free(iris->priv);
		iris->priv = nullptr;
		g_free(iris);
		return nullptr;
	}
	iris->type = IRIS_TYPE_STEPPER;
	iris->min_position = 0;
	iris->position = IRIS_POSITION_UNKNOWN;
	iris->open_F = iris->F_table[0];
	iris->best_position = iris_position_for_F_number(iris, best_F);
	if (act)
		act->positions = iris->table_length;
	else
		debug_output(DEBUG_WARNING, 0, "Got null iris_stepper_actuator object.");
	fill_slots(iris);
	iris->reset_needed = 1;
	iris->automatic = 1;
	iris_set_positionable_param(1);
	iris_set_state_params(1, 1);
	if (act && act->get_temperature_status && act->get_temperature_status(act) > 0)
		iris->calibration_pending = 1;
	else
		iris_calibrate(iris);
	return iris;
}

int tb_iris_set_mode(struct platform *platform, struct iris_stepper_actuator *act, int iris_type,
                     const char *select_pin)
{
	if (iris_type != IRIS_TYPE_DC && iris_type != IRIS_TYPE_STEPPER &&
	    iris_type != IRIS_TYPE_INTELLIGENT) {
		debug_output(DEBUG_ERROR, 0, "%s: Bad iris type %d\n", "tb_iris_set_mode", iris_type);
		return -2;
	}
	if (set_channel(act, 11, 0xC0) != 0)
		return -1;
	int r = platform_gpio_set(platform, select_pin, iris_type == IRIS_TYPE_DC ? 0 : 1);
	if (r != PLATFORM_OK)
		return r;
	optics_sleep_ms(SET_MODE_SETTLE_MS);
	return 0;
}

struct iris *tb_iris_detect_mode(struct control *engine, const struct iris_tb6613ftg_settings *s)
{
	iris_stepper_actuator *act = iris_stepper_actuator_tb6613ftg_create(s);
	if (!act)
		return nullptr;
	struct platform *p = control_get_platform(engine);
	int type_id = iris_lib_get_type_id();
	int mode = -1;
	struct iris *made = nullptr;
	bool by_pins =
	    given(s->tb6613ftg_sel_a_pin) && given(s->tb6613ftg_det_a_pin) && given(s->tb6613ftg_det_b_pin);
	bool created = false;
	if (by_pins) {
		mode = mode_from_pins(p, act, s, type_id);
	} else if (type_id >= 100 && type_id <= 198) {
		debug_output(DEBUG_INFO, 0, "Running with DC Iris from configuration\n");
		mode = IRIS_TYPE_DC;
	} else if (type_id >= 1000 && type_id <= 4998) {
		debug_output(DEBUG_INFO, 0, "Running with P-Iris from configuration\n");
		mode = IRIS_TYPE_STEPPER;
	} else if (type_id == IRIS_LIB_NO_IRIS) {
		iris_set_state_params(0, 0);
	} else {
		mode = 0;
	}
	if (mode >= 0 && !by_pins && !given(s->tb6613ftg_sel_a_pin)) {
		made = create_for_mode(engine, act, mode);
		created = true;
	} else if (mode >= 0) {
		int r;
		if (!given(s->tb6613ftg_sel_b_pin)) {
			r = tb_iris_set_mode(p, act, mode, s->tb6613ftg_sel_a_pin);
		} else {
			r = platform_gpio_set(p, s->tb6613ftg_sel_b_pin,
			                      mode == IRIS_TYPE_INTELLIGENT ? 1 : 0);
			if (r == PLATFORM_OK)
				r = tb_iris_set_mode(p, act, mode, s->tb6613ftg_sel_a_pin);
		}
		if (r < 0 && r != PLATFORM_OK)
			mode = -1;
	}
	if (mode >= 0 && !created)
		made = create_for_mode(engine, act, mode);
	if (mode < 0 || (mode == IRIS_TYPE_STEPPER && !made)) {
		act_destroy(act);
		return nullptr;
	}
	if (!made || made->type == IRIS_TYPE_DC || made->type == IRIS_TYPE_INTELLIGENT)
		act_destroy(act);
	return made;
}

void *prodconf_iris_tb6613ftg_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &tb_schema, "iris_tb6613ftg", stream_id, &item) || !item)
		return nullptr;
	auto *s = static_cast<iris_tb6613ftg_settings *>(item);
	struct iris *made = tb_iris_detect_mode(engine, s);
	if (!made)
		debug_output(DEBUG_ERROR, 0, "Failed to create iris, continue anyway\n");
	tb_settings_free(s);
	return made;
}

void *prodconf_iris_stepper_pcc_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &pcc_schema, "iris_stepper_pcc", stream_id, &item) || !item)
		return nullptr;
	auto *s = static_cast<pcc_settings *>(item);
	iris_stepper_actuator *act = pcc_actuator(s);
	struct iris *made = nullptr;
	if (!act) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to create iris stepper actuator\n", __func__);
	} else {
		made = iris_stepper_create(engine, act);
		if (!made) {
			debug_output(DEBUG_ERROR, 0, "%s: Failed to create iris stepper\n", __func__);
			act_destroy(act);
		}
	}
	g_free(s->dev);
	g_free(s);
	return made;
}

#include "iris.h"

#include <glib.h>
#include <soloff.h>
#include <stddef.h>
#include <stdlib.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "platform/platform.h"

namespace
{

enum {
	PARAM_DCIRIS = 60,
	PARAM_POSITIONABLE_IRIS = 61,
	PARAM_DCIRIS_MIN_F = 62,
	PARAM_DCIRIS_MAX_F = 63,
	PARAM_DCIRIS_BEST_F = 64,
	PARAM_IRIS_STATE = 82,
};

enum { IRIS_STATE_OK = 0, IRIS_STATE_NOAUTOMATIC = 1, IRIS_STATE_DISABLED = 2 };

#define Q14_ONE 16384

int iris_default_hook(struct iris *)
{
	return -1;
}

void null_iris(const char *function)
{
	debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", function);
}

// A wrapper may call the slot only on an iris that a platform holds.
bool usable(const struct iris *iris, const void *slot)
{
	return iris && iris->platform && slot;
}

int32_t nearest_position(const int32_t *table, int32_t max_position, int32_t value)
{
	int32_t lo = 0;
	int32_t hi = max_position < 1 ? 0 : max_position;
	while (hi - lo > 1) {
		int32_t mid = (lo + hi) / 2;
		if (table[mid] < value)
			lo = mid;
		else
			hi = mid;
	}
	return abs(table[hi] - value) < abs(table[lo] - value) ? hi : lo;
}

int32_t q14_round(int64_t q14)
{
	return (int32_t)((q14 + (q14 >= 0 ? Q14_ONE / 2 : -Q14_ONE / 2)) / Q14_ONE);
}

int32_t undefined_temperature(int *status)
{
	if (status)
		*status = -2;
	return -16384;
}

int32_t temperature_slot(struct iris *iris, int32_t (*slot)(struct iris *, int *), int *status)
{
	if (!usable(iris, (const void *)slot))
		return undefined_temperature(status);
	if (status)
		*status = 1;
	return slot(iris, status);
}

struct iris_detection {
	char *sel_a_pin;
	char *sel_b_pin;
	char *det_a_pin;
	char *det_b_pin;
	char *stepper_iris;
};

#define PIN(name) prodconf_field_text(#name, PRODCONF_OPTIONAL, offsetof(iris_detection, name), "")
const prodconf_field detection_fields[] = {
    PIN(sel_a_pin), PIN(sel_b_pin), PIN(det_a_pin), PIN(det_b_pin), PIN(stepper_iris),
};
#undef PIN
const prodconf_schema detection_schema = {"iris_detection", sizeof(iris_detection), detection_fields,
                                          G_N_ELEMENTS(detection_fields)};

void detection_free(iris_detection *d)
{
	g_free(d->sel_a_pin);
	g_free(d->sel_b_pin);
	g_free(d->det_a_pin);
	g_free(d->det_b_pin);
	g_free(d->stepper_iris);
	g_free(d);
}

// sel_a first, sel_b only when sel_a took; PLATFORM_OK when both took, else
// the first negative code.
int write_select(struct platform *p, const iris_detection *d, int a, int b)
{
	int r = platform_gpio_set(p, d->sel_a_pin, a);
	if (r != PLATFORM_OK)
		return r;
	return platform_gpio_set(p, d->sel_b_pin, b);
}

int decide(int det_a, int det_b, int type_id, int *sel_a, int *sel_b)
{
	if (det_a == 0 && det_b == 0) {
		debug_output(DEBUG_WARNING, 0, "Iris outputs shorted\n");
		return 0;
	}
	if (det_a == 0) {
		debug_output(DEBUG_INFO, 0, "Detected a DC iris\n");
		*sel_a = 0;
		*sel_b = 0;
		return IRIS_TYPE_DC;
	}
	if (det_b == 0) {
		debug_output(DEBUG_INFO, 0, "Detected a stepper iris\n");
		*sel_a = 1;
		*sel_b = 0;
		return IRIS_TYPE_STEPPER;
	}
	if (type_id == IRIS_LIB_NO_IRIS) {
		debug_output(DEBUG_INFO, 0, "Iris not present, manual iris assumed\n");
		iris_set_state_params(0, 0);
		return IRIS_TYPE_MANUAL;
	}
	debug_output(DEBUG_INFO, 0, "Detected a e-KT lens\n");
	*sel_a = 1;
	*sel_b = 1;
	return IRIS_TYPE_INTELLIGENT;
}

int detect_with(struct prodconf *conf, struct platform *p, const iris_detection *d, int32_t stream_id)
{
	int type_id = iris_lib_get_type_id();
	int r = platform_gpio_set(p, d->sel_a_pin, 0);
	if (r == PLATFORM_OK)
		r = platform_gpio_set(p, d->sel_b_pin, 1);
	if (r < 0 && r != PLATFORM_OK)
		return 0;
	int det_a = -1;
	int det_b = -1;
	int ra = platform_gpio_get(p, d->det_a_pin, &det_a);
	int rb = platform_gpio_get(p, d->det_b_pin, &det_b);
	if (ra != PLATFORM_OK || rb != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to detect iris mode\n", "iris_detect");
		return 0;
	}
	int sel_a = 0;
	int sel_b = 0;
	int result = decide(det_a, det_b, type_id, &sel_a, &sel_b);
	if (result != IRIS_TYPE_DC && result != IRIS_TYPE_STEPPER && result != IRIS_TYPE_INTELLIGENT)
		return result;
	int w = write_select(p, d, sel_a, sel_b);
	if (w < 0 && w != PLATFORM_OK)
		return result;
	int channel = ((stream_id < 0 ? 0 : stream_id) >> 8) & 255;
	if (result == IRIS_TYPE_DC)
		prodconf_select_module(conf, channel, PRODCONF_STATE_IRIS, "iris_dc");
	else if (result == IRIS_TYPE_STEPPER)
		prodconf_select_module(conf, channel, PRODCONF_STATE_IRIS, d->stepper_iris);
	return result;
}

} // namespace

struct iris *iris_new(void)
{
	iris *i = g_new0(iris, 1);
	i->device = -1;
	i->hooks[0] = iris_default_hook;
	i->hooks[1] = iris_default_hook;
	i->destroy = iris_destroy_orig;
	return i;
}

struct iris *iris_new_manual(void)
{
	iris *i = iris_new();
	i->type = IRIS_TYPE_MANUAL;
	return i;
}

void iris_add_platform(struct iris *iris, struct platform *platform)
{
	if (!iris) {
		null_iris(__func__);
		return;
	}
	iris->platform = platform;
}

void iris_destroy_orig(struct iris *iris)
{
	if (!iris) {
		null_iris(__func__);
		return;
	}
	g_free(iris->priv);
	iris->priv = nullptr;
	iris->platform = nullptr;
	g_free(iris);
}

void iris_destroy(struct iris *iris)
{
	if (!iris) {
		null_iris(__func__);
		return;
	}
	if (iris->destroy)
		iris->destroy(iris);
}

int iris_is_moving(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->is_moving : nullptr)) ? iris->is_moving(iris) : -2;
}

int iris_move_to(struct iris *iris, int32_t position)
{
	return usable(iris, (const void *)(iris ? iris->move_to : nullptr)) ? iris->move_to(iris, position, 0)
	                                                                    : -2;
}

int iris_move_rel(struct iris *iris, int direction, int32_t steps, int fast)
{
	return usable(iris, (const void *)(iris ? iris->move_rel : nullptr))
	           ? iris->move_rel(iris, direction, steps, fast)
	           : -2;
}

int32_t iris_get_position(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->get_position : nullptr)) ? iris->get_position(iris)
	                                                                         : -2;
}

int iris_go_home(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->go_home : nullptr)) ? iris->go_home(iris, -1, 0) : -2;
}

int iris_set_reset_needed(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->set_reset_needed : nullptr))
	           ? iris->set_reset_needed(iris)
	           : -2;
}

int iris_spare_one(struct iris *iris, int32_t argument)
{
	return usable(iris, (const void *)(iris ? iris->spare_one : nullptr))
	           ? iris->spare_one(iris, argument)
	           : -2;
}

int iris_spare_none(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->spare_none : nullptr)) ? iris->spare_none(iris) : -2;
}

int iris_calibrate(struct iris *iris)
{
	if (!iris || !iris->calibrate || !iris->get_position)
		return -2;
	return iris->calibrate(iris);
}

int32_t iris_get_temperature_sensor_id(struct iris *iris)
{
	return usable(iris, (const void *)(iris ? iris->temperature_sensor_id : nullptr))
	           ? iris->temperature_sensor_id(iris)
	           : -2;
}

int32_t iris_get_lowest_operating_temperature(struct iris *iris, int *status)
{
	return temperature_slot(iris, iris ? iris->lowest_operating_temperature : nullptr, status);
}

int32_t iris_get_lowest_startup_temperature(struct iris *iris, int *status)
{
	return temperature_slot(iris, iris ? iris->lowest_startup_temperature : nullptr, status);
}

int iris_set_temperature_status(struct iris *iris, int out_of_range)
{
	if (!usable(iris, (const void *)(iris ? iris->set_temperature_status : nullptr)))
		return -2;
	iris->set_temperature_status(iris, out_of_range);
	if (out_of_range || iris->calibration_pending != 1)
		return 0;
	if (iris->calibrate && iris->get_position && iris->calibrate(iris) >= 0)
		iris->calibration_pending = 0;
	else
		debug_output(DEBUG_WARNING, 0, "P-iris: failed to calibrate\n");
	return 0;
}

int iris_read_sensor(struct iris *iris)
{
	return iris && iris->read_sensor ? iris->read_sensor(iris) : -2;
}

void iris_set_calibration(struct iris *iris, void *values)
{
	if (iris && iris->set_calibration)
		iris->set_calibration(iris, values);
}

int iris_hall_calibrated(struct iris *iris)
{
	if (!iris || !iris->hall_calibrated) {
		null_iris(__func__);
		return 0;
	}
	return iris->hall_calibrated(iris);
}

void iris_restore(struct iris *iris)
{
	if (!iris || !iris->restore) {
		null_iris(__func__);
		return;
	}
	iris->restore(iris);
}

int iris_update_position(struct iris *iris, int32_t position, int flag)
{
	return iris && iris->update_position ? iris->update_position(iris, position, flag) : 0;
}

int32_t iris_aperture_at_position(struct iris *iris, int32_t position)
{
	if (!iris) {
		null_iris(__func__);
		return 0;
	}
	return iris->aperture_table[position];
}

int32_t iris_F_number_at_position(struct iris *iris, int32_t position)
{
	if (!iris) {
		null_iris(__func__);
		return 0;
	}
	return iris->F_table[position];
}

int32_t iris_get_max_pos(struct iris *iris)
{
	if (!iris) {
		null_iris(__func__);
		return 0;
	}
	return iris->table_length - 1;
}

int32_t iris_position_for_F_number(struct iris *iris, int32_t F)
{
	if (!iris || !iris->F_table)
		return -2;
	return nearest_position(iris->F_table, iris->max_position, F);
}

int32_t iris_position_for_aperture(struct iris *iris, int32_t A)
{
	if (!iris || !iris->aperture_table)
		return -2;
	return nearest_position(iris->aperture_table, iris->max_position, A);
}

int32_t iris_position_to_percent(struct iris *iris, int32_t position)
{
	if (!iris || position < 0 || position > iris->max_position)
		return -2;
	int32_t below = iris->best_position - iris->min_position;
	int32_t above = iris->max_position - iris->best_position;
	if (position < iris->best_position)
		return q14_round((int64_t)50 * Q14_ONE * position / below);
	if (above <= 0)
		return 50;
	return 50 + q14_round((int64_t)50 * Q14_ONE * (position - iris->best_position) / above);
}

int32_t iris_percent_to_position(struct iris *iris, int32_t percent)
{
	if (!iris || percent < 0 || percent > 100)
		return -2;
	if (percent < 50)
		return q14_round((int64_t)(iris->best_position - iris->min_position) * Q14_ONE / 50 *
		                 percent);
	return iris->best_position +
	       q14_round((int64_t)(iris->max_position - iris->best_position) * Q14_ONE / 50 * (percent - 50));
}

int32_t iris_ratio_squared(int32_t b, int32_t a)
{
	if (a == 0)
		return 0;
	int64_t ratio = (int64_t)b * Q14_ONE / a;
	return q14_round(ratio * ratio);
}

void iris_set_positionable_param(int positionable)
{
	if (positionable)
		param_set_int(PARAM_POSITIONABLE_IRIS, 0, 1);
}

void iris_set_state_params(int present, int ok)
{
	if (!present) {
		param_set_int(PARAM_IRIS_STATE, 0, IRIS_STATE_NOAUTOMATIC);
		return;
	}
	param_set_int(PARAM_DCIRIS, 0, 1);
	param_set_int(PARAM_IRIS_STATE, 0, ok ? IRIS_STATE_OK : IRIS_STATE_DISABLED);
}

int32_t iris_percent_to_F_number_for_stream(struct iris *iris, int32_t percent, int32_t stream_id)
{
	static const struct {
		uint32_t id;
		const char *name;
	} params[] = {{PARAM_DCIRIS_MIN_F, "parid_dciris_min_F"},
	              {PARAM_DCIRIS_BEST_F, "parid_dciris_best_F"},
	              {PARAM_DCIRIS_MAX_F, "parid_dciris_max_F"}};
	int32_t F[3];
	for (int n = 0; n < 3; n++) {
		int32_t v = 0;
		if (param_get_int(params[n].id, stream_id, &v) != 0) {
			debug_output(DEBUG_ERROR, 0, "%s: Failed to get parameter %s\n", __func__,
			             params[n].name);
			return 0;
		}
		int64_t scaled = (int64_t)v * Q14_ONE;
		F[n] = (int32_t)((scaled + (scaled >= 0 ? 50 : -50)) / 100);
	}
	if (!iris) {
		null_iris(__func__);
		return 0;
	}
	if (percent < 50)
		return fx_lin_interp(percent, 0, 50, F[0], F[1]);
	return fx_lin_interp(percent, 50, 100, F[1], F[2]);
}

int iris_detect(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (!prodconf_read_item(conf, &detection_schema, "iris_detection", stream_id, &item) || !item)
		return 0;
	auto *d = static_cast<iris_detection *>(item);
	int result = detect_with(conf, control_get_platform(engine), d, stream_id);
	detection_free(d);
	return result;
}

#include "camblock_mcu.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "camblock_tp.h"
#include "camblock_trace.h"
#include "core/control.h"
#include "core/control_temperature.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "dome.h"
#include "fixmath.h"
#include "focus_zoom.h"
#include "iris.h"
#include "optics_math.h"
#include "platform/platform.h"
#include "platform/sensor.h"

namespace
{

#define Q14_ONE 16384
#define PARAM_IRCUT_FILTER_STATE 58
#define INFO_DIGITAL_ZOOM_SCALE 82
// Frame reports are averaged over this many frames.
#define FRAME_REPORTS 30
#define SYNC_TRACKING 96
#define GUARD_START 0
#define GUARD_STOP 1

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

int device_fd(const struct camblock *block)
{
	return block->mcu.device ? block->mcu.device->fd : -1;
}

int transfer(const struct camblock *block, i2c_msg *messages, uint32_t count)
{
	i2c_rdwr_ioctl_data data = {messages, count};
	return ioctl(device_fd(block), I2C_RDWR, &data);
}

/* bus transactions (slots 3 and 4) */

int write_register(struct camblock *block, uint16_t reg, uint16_t value)
{
	uint8_t bytes[4] = {(uint8_t)((reg >> 8) & 0x7F), (uint8_t)(reg & 0xFF), (uint8_t)(value & 0xFF),
	                    (uint8_t)(value >> 8)};
	i2c_msg message = {block->mcu.address, 0, sizeof(bytes), bytes};
	int result = 0;
	if (transfer(block, &message, 1) < 0) {
		debug_output(DEBUG_ERROR, 0, "Error: %s", strerror(errno));
		result = -4;
	}
	camblock_tp_i2c_done(reg, value);
	return result;
}

int read_register(struct camblock *block, uint16_t reg)
{
	uint8_t bytes[2] = {(uint8_t)((reg >> 8) | 0x80), (uint8_t)(reg & 0xFF)};
	i2c_msg messages[2] = {{block->mcu.address, 0, 2, bytes}, {block->mcu.address, I2C_M_RD, 2, bytes}};
	if (transfer(block, messages, 2) < 0) {
		debug_output(DEBUG_ERROR, 0, "Error: %s\n", strerror(errno));
		return -4;
	}
	return bytes[0] | bytes[1] << 8;
}

/* distances */

int32_t dome_index(struct camblock *block)
{
	return dome_get_index(block->dome);
}

int32_t dioptres_per_curve(const struct camblock *block)
{
	return block->mcu.trace ? block->mcu.trace->dioptres_per_curve : 0;
}

int32_t clamp_index(const struct camblock_mcu *m, int32_t index)
{
	return clamp(index, m->min_index, m->max_index);
}

// Slot 10's arithmetic: the trace curve's position, kept within the focus
// motor's travel.
int32_t index_to_focus_position(struct camblock *block, int32_t zoom, int32_t index)
{
	const camblock_mcu *m = &block->mcu;
	int32_t p = (int32_t)camblock_trace_focus_position(m->trace, zoom, index, (int32_t)m->trace_set,
	                                                   dome_index(block));
	if (block->focus)
		p = clamp(p, block->focus->mech_min, block->focus->mech_max);
	return p;
}

int32_t dioptres_to_index(struct camblock *block, int32_t dioptres, int32_t dome)
{
	const camblock_mcu *m = &block->mcu;
	if (dioptres < 0) {
		int32_t p = dioptres_per_curve(block);
		return p ? (int32_t)optics_div_round((int64_t)dioptres * 512, p) : 0;
	}
	if (dioptres == 0)
		return dome;
	if (!m->distances || m->curve_count <= 0)
		return 0;
	if (dome != 0)
		dioptres += dome_get_power(block->dome);
	return optics_table_index(dioptres, m->distances, m->curve_count);
}

int32_t index_to_dioptres(struct camblock *block, int32_t index)
{
	const camblock_mcu *m = &block->mcu;
	if (index & (1 << 26))
		return (int32_t)optics_round_shift((int64_t)index * 32 * dioptres_per_curve(block), 14);
	return optics_table_dioptres(index, m->distances, m->curve_count);
}

int32_t focus_position_to_index(struct camblock *block, int32_t zoom, int32_t position)
{
	return camblock_trace_distance_index(block->mcu.trace, zoom, position, (int32_t)block->mcu.trace_set);
}

// Dioptres of a focus value (a position or a distance index), as the lens
// sees them, without the dome.
int32_t value_to_dioptres(struct camblock *block, int32_t zoom, int32_t value, int value_is_position)
{
	int32_t index =
	    value_is_position ? block->focus_position_to_distance_index(block, zoom, value) : value;
	return block->distance_index_to_dioptres(block, index);
}

int32_t position_to_dioptres(struct camblock *block, int32_t zoom, int32_t position)
{
	int32_t d = value_to_dioptres(block, zoom, position, 1);
	return dome_remove_power(block->dome, zoom, d);
}

/* focus limits and distance index (slots 5 to 9) */

int update_focus_limits(struct camblock *block)
{
	focus_object *focus = block->focus;
	if (!focus || !block->zoom)
		return 0;
	int32_t zoom = block->zoom->position;
	focus->min_limit = index_to_focus_position(block, zoom, block->mcu.far_index);
	focus->max_limit = index_to_focus_position(block, zoom, block->mcu.near_index);
	return 0;
}

int32_t set_focus_limits(struct camblock *block, int32_t near, int32_t far)
{
	camblock_mcu *m = &block->mcu;
	m->near_limit = near;
	m->far_limit = far;
	m->near_index = clamp_index(m, block->dioptres_to_distance_index(block, near, dome_index(block)));
	m->far_index = clamp_index(m, block->dioptres_to_distance_index(block, far, dome_index(block)));
	block->update_focus_limits(block);
	focus_object *focus = block->focus;
	if (m->distance_index_mode)
		return block->distance_index_to_dioptres(block, m->requested_index);
	if (!focus)
		return 0;
	if (!focus->value_is_position)
		return block->distance_index_to_dioptres(block, focus->value);
	int32_t zoom = block->zoom ? block->zoom->position : 0;
	return block->focus_position_to_dioptres(block, zoom, focus->value);
}

int write_distance_index(struct camblock *block, int32_t index)
{
	int result = write_register(block, CAMBLOCK_REG_DISTANCE_INDEX, (uint16_t)index);
	block->mcu.distance_index_mode = 1;
	block->mcu.requested_index = index;
	camblock_mcu_publish_zoom(block);
	return result;
}

int set_distance_index(struct camblock *block, int32_t index)
{
	return write_distance_index(block, index);
}

int set_trace_mode(struct camblock *block, uint32_t mode, int32_t, int32_t)
{
	if (mode > 3) {
		debug_output(DEBUG_WARNING, 0, "%s: trying to set invalid trace mode (%d), ignore.\n",
		             "camblock_mcu_common_set_trace_mode", (int)mode);
		return -4;
	}
	int result = write_register(block, CAMBLOCK_REG_TRACE_MODE, (uint16_t)mode);
	block->mcu.trace_mode = mode;
	return result;
}

int set_trace_curve(struct camblock *block, uint32_t set)
{
	block->mcu.trace_set = set;
	write_register(block, CAMBLOCK_REG_TRACE_SET, (uint16_t)set);
	if (block->focus)
		block->focus->commanded = 0;
	block->update_focus_limits(block);
	return 0;
}

/* conversions (slots 10 to 16) */

int32_t slot_index_to_focus_position(struct camblock *block, int32_t zoom, int32_t index)
{
	return index_to_focus_position(block, zoom, index);
}

int32_t slot_dioptres_to_focus_position(struct camblock *block, int32_t zoom, int32_t dioptres)
{
	int32_t index =
	    clamp_index(&block->mcu, block->dioptres_to_distance_index(block, dioptres, dome_index(block)));
	return index_to_focus_position(block, zoom, index);
}

int32_t lens_temperature(struct camblock *block)
{
	const camblock_mcu *m = &block->mcu;
	if (!m->thermistor_readings || !m->temperatures || m->thermistor_count <= 0)
		return 0;
	int reading = read_register(block, CAMBLOCK_REG_THERMISTOR);
	if (reading < 0)
		return 0;
	int n = m->thermistor_count;
	if (n == 1)
		return m->temperatures[0];
	int i = fx_table_search(reading, m->thermistor_readings, n, FX_SEARCH_ABOVE);
	int lo = i < 0 ? 0 : i;
	if (lo > n - 2)
		lo = n - 2;
	const int32_t *r = m->thermistor_readings;
	return fx_lin_interp(optics_q14(reading), optics_q14(r[lo]), optics_q14(r[lo + 1]),
	                     m->temperatures[lo], m->temperatures[lo + 1]);
}

/* optics (slots 17 to 22, 31, 32) */

int fov_at(struct camblock *block, int32_t zoom, int32_t focus, int is_position, uint32_t *horizontal,
           uint32_t *vertical, int32_t scale)
{
	int32_t g = camblock_focal_model(block, zoom, focus, is_position);
	uint32_t q = block->zoom ? block->zoom->focal_model_q : 14;
	struct sensor *sensor = platform_get_sensor_for_stream(block->platform, 0);
	if (horizontal)
		*horizontal = (uint32_t)camblock_fov_angle(
		    optics_q14_mul(sensor_get_active_width(sensor), scale), g, q);
	if (vertical)
		*vertical = (uint32_t)camblock_fov_angle(
		    optics_q14_mul(sensor_get_active_height(sensor), scale), g, q);
	return 0;
}

int fov_at_focus_position(struct camblock *block, int32_t zoom, int32_t position, uint32_t *horizontal,
                          uint32_t *vertical, int32_t scale)
{
	return fov_at(block, zoom, position, 1, horizontal, vertical, scale);
}

int32_t focal_length_at_focus_position(struct camblock *block, int32_t zoom, int32_t position)
{
	return camblock_focal_length(block, zoom, position, 1);
}

int current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical, int32_t scale)
{
	if (!block->zoom || !block->focus)
		return -3;
	const focus_object *f = block->focus;
	return fov_at(block, block->zoom->position, f->value, f->value_is_position, horizontal, vertical,
	              scale);
}

int32_t current_focal_length(struct camblock *block)
{
	if (!block->zoom || !block->focus)
		return 0;
	const focus_object *f = block->focus;
	return camblock_focal_length(block, block->zoom->position, f->value, f->value_is_position);
}

// The distance at which an object of the width (metres, Q14) fills the
// image width; a width of 0 or less lies nearer than anything the lens
// can focus on.
int32_t index_for_object_width(struct camblock *block, int32_t zoom, int32_t width)
{
	if (width <= 0)
		return block->mcu.max_index;
	int32_t g = camblock_focal_model(block, zoom, 0, 0);
	uint32_t q = block->zoom ? block->zoom->focal_model_q : 14;
	int32_t w = sensor_get_active_width(platform_get_sensor_for_stream(block->platform, 0));
	int64_t ratio = optics_round_shift(2 * (int64_t)g * w, (int)q);
	int32_t dioptres = (int32_t)optics_div_round(ratio * Q14_ONE, width);
	return block->dioptres_to_distance_index(block, dioptres, dome_index(block));
}

int lens_distortion(struct camblock *block, int32_t zoom, int32_t, int, uint32_t *k0, uint32_t *k1,
                    uint32_t *k2, uint32_t *k3)
{
	const camblock_distortion *d = block->mcu.distortion;
	const zoom_object *z = block->zoom;
	if (!d || !d->scaled || !z || !z->positions || z->count <= 0 || d->rows <= 0)
		return -3;
	int rows = d->rows < z->count ? d->rows : z->count;
	int lo, hi;
	optics_lower_bracket(zoom, z->positions, rows, &lo, &hi);
	uint32_t *out[4] = {k0, k1, k2, k3};
	for (int k = 0; k < 4; k++) {
		// The two sets' mean at each bracketing row.
		int32_t at[2];
		int row[2] = {lo, hi};
		for (int j = 0; j < 2; j++) {
			int64_t s0 = d->scaled[(int64_t)row[j] * 4 + k];
			int64_t s1 = d->scaled[((int64_t)d->rows + row[j]) * 4 + k];
			at[j] = (int32_t)optics_div_round(s0 + s1, 2);
		}
		if (out[k])
			*out[k] =
			    (uint32_t)fx_lin_interp(zoom, z->positions[lo], z->positions[hi], at[0], at[1]);
	}
	return 0;
}

int32_t focal_length_at_index(struct camblock *block, int32_t zoom, int32_t index)
{
	int32_t position = block->distance_index_to_focus_position(block, zoom, index);
	return block->focal_length_at_focus_position(block, zoom, position);
}

int fov_at_index(struct camblock *block, int32_t zoom, int32_t index, uint32_t *horizontal,
                 uint32_t *vertical, int32_t scale)
{
	int32_t position = block->distance_index_to_focus_position(block, zoom, index);
	return block->get_fov_at_focus_position(block, zoom, position, horizontal, vertical, scale);
}

/* focus by distance (slot 23) */

int set_focus_dioptres(struct camblock *block, int32_t dioptres, int move)
{
	camblock_mcu *m = &block->mcu;
	if (dioptres < m->far_limit)
		dioptres = m->far_limit;
	else if (dioptres > m->near_limit)
		dioptres = m->near_limit;
	int32_t index = block->dioptres_to_distance_index(block, dioptres, dome_index(block));
	int result = write_distance_index(block, index);
	zoom_object *z = block->zoom;
	// While the controller follows the zoom along the curve it moves the
	// focus itself; a still zoom needs the focus sent there.
	bool zoom_still = z && !z->pending && z->position == z->target;
	if (z && block->focus && (m->trace_mode == 0 || zoom_still))
		focus_move_abs(block->focus, index_to_focus_position(block, z->position, index), move);
	return result;
}

/* motor timing (slots 25 to 27) */

int set_motor_timing(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	camblock_mcu *m = &block->mcu;
	m->frame_rate = frame_rate;
	m->sync_count = sync_count;
	int32_t f = clamp(frame_rate, 15, 30);
	int32_t s = clamp(block->zoom ? block->zoom->speed : Q14_ONE, 0, Q14_ONE);
	int32_t per_frame = (128 * f + 15) / 30;
	write_register(block, CAMBLOCK_REG_SPEED, (uint16_t)optics_round_shift((int64_t)per_frame * s, 14));
	write_register(block, CAMBLOCK_REG_FRAME_RATE, (uint16_t)(30 - f));
	if (sync_count > 1) {
		write_register(block, CAMBLOCK_REG_SYNC, 1);
		write_register(block, CAMBLOCK_REG_SYNC_COUNT, (uint16_t)sync_count);
		write_register(block, CAMBLOCK_REG_SYNC_TRACKING, SYNC_TRACKING);
		return 0;
	}
	write_register(block, CAMBLOCK_REG_SYNC, 0);
	if (m->timing_count > 0 && m->timing_frame_rates && m->timing_values) {
		int lo, hi;
		optics_lower_bracket(f, m->timing_frame_rates, m->timing_count, &lo, &hi);
		int32_t v = fx_lin_interp(f, m->timing_frame_rates[lo], m->timing_frame_rates[hi],
		                          m->timing_values[lo], m->timing_values[hi]);
		write_register(block, CAMBLOCK_REG_SYNC_TRACKING, (uint16_t)v);
	}
	return 0;
}

int set_motor_speed(struct camblock *block, int32_t speed)
{
	if (block->zoom)
		block->zoom->speed = speed;
	block->set_motor_timing(block, block->mcu.frame_rate, block->mcu.sync_count);
	return 0;
}

int frame_report(struct camblock *block, int32_t value)
{
	camblock_mcu *m = &block->mcu;
	if (m->sync_count < 2)
		return 0;
	m->frame_report_sum += value;
	if (++m->frame_report_count < FRAME_REPORTS)
		return 0;
	int32_t mean = (int32_t)optics_div_round(m->frame_report_sum, FRAME_REPORTS);
	if (mean != 0)
		write_register(block, CAMBLOCK_REG_SYNC_CORRECTION, (uint16_t)(m->sync_count - mean));
	m->frame_report_sum = 0;
	m->frame_report_count = 0;
	return 0;
}

/* poll (slots 28 to 30, 34, 35) */

bool within(int32_t v, int32_t lo, int32_t hi)
{
	return v >= lo && v <= hi;
}

int apply_state(struct camblock *block, struct optics_state *state)
{
	zoom_object *z = block->zoom;
	focus_object *f = block->focus;
	if (!z || !f || !state)
		return -2;
	if (!within(state->zoom_position, z->mech_min, z->mech_max))
		return -2;
	if (!state->zoom_moving && !within(state->focus_position, f->mech_min, f->mech_max))
		return -2;
	zoom_update(z, state->zoom_position, state->zoom_moving);
	focus_update(f, state->focus_position, state->zoom_moving || state->focus_moving,
	             !state->zoom_moving);
	block->frame_report(block, state->frame_value);
	if (z->pending) {
		state->second_focus = state->focus_position;
		state->focus_position = -1;
	} else {
		state->second_focus = -1;
	}
	camblock_distortion *d = block->mcu.distortion;
	if (!d)
		return 0;
	int32_t scale = Q14_ONE;
	if (info_pool_get_imfix(INFO_DIGITAL_ZOOM_SCALE, block->stream_id, &scale) != 0)
		scale = Q14_ONE;
	if (scale == d->scale)
		return 0;
	d->scale = scale;
	camblock_event event = {0, block->stream_id};
	return block->handle_event(block, 0, &event);
}

int poll(struct camblock *block, struct optics_state *state)
{
	if (!block->mcu.initialised)
		return 0;
	return apply_state(block, state);
}

int refresh(struct camblock *block, struct optics_state *state)
{
	if (!block->mcu.initialised)
		return 0;
	if (state) {
		state->zoom_moving = zoom_is_moving(block->zoom);
		state->zoom_position = zoom_get_position(block->zoom);
		state->focus_moving = focus_is_moving(block->focus);
		state->focus_position = focus_get_position(block->focus);
	}
	return apply_state(block, state);
}

int capture_mode_changed(struct camblock *block, int32_t stream_id)
{
	camblock_event event = {CAMBLOCK_EVENT_CAPTURE_MODE, stream_id};
	return block->handle_event(block, 0, &event);
}

int32_t error_code(struct camblock *block)
{
	return read_register(block, CAMBLOCK_REG_ERROR);
}

int start_init(struct camblock *block)
{
	int result = write_register(block, CAMBLOCK_REG_INIT, 1);
	block->mcu.initialised = 0;
	if (block->zoom) {
		block->zoom->commanded = 0;
		block->zoom->pending = 1;
	}
	if (block->focus) {
		block->focus->commanded = 0;
		block->focus->pending = 1;
	}
	return result;
}

int poll_init(struct camblock *block)
{
	if (read_register(block, CAMBLOCK_REG_INIT) != 0)
		return 0;
	int zoom = read_register(block, CAMBLOCK_REG_ZOOM_POSITION);
	int zoom_moving = read_register(block, CAMBLOCK_REG_ZOOM_MOVING);
	int focus_moving = read_register(block, CAMBLOCK_REG_FOCUS_MOVING);
	int focus_status = read_register(block, CAMBLOCK_REG_FOCUS_STATUS);
	int zoom_status = read_register(block, CAMBLOCK_REG_ZOOM_STATUS);
	// An unreadable position is no reason to drive the zoom.
	if (block->zoom && zoom >= 0 && zoom < block->zoom->mech_min) {
		zoom_move_abs(block->zoom, block->zoom->mech_min);
		return 0;
	}
	if (zoom_moving == 0 && focus_moving == 0 && focus_status == CAMBLOCK_MCU_STATUS_READY &&
	    zoom_status == CAMBLOCK_MCU_STATUS_READY)
		block->mcu.initialised = 1;
	return 0;
}

int handle_event(struct camblock *block, int32_t, struct camblock_event *event)
{
	camblock_distortion *d = block->mcu.distortion;
	if (!d || !d->scaled)
		return 0;
	int32_t stream_id = event ? event->stream_id : block->stream_id;
	const prodconf_area *area = prodconf_get_channel_area(stream_id);
	if (!area)
		return 0;
	int32_t width = optics_q14_mul(area->xstop - area->xstart + 1, d->scale);
	if (width == d->width)
		return 0;
	int32_t pitch = sensor_get_pixel_pitch(platform_get_sensor_for_stream(block->platform, stream_id));
	int32_t r = (int32_t)optics_div_round((int64_t)(width / 2) * pitch, 1000);
	for (int k = 0; k < 4; k++) {
		int32_t rk = fx_powx(r, 14, k, 0);
		for (int i = 0; i < d->sets * d->rows; i++)
			d->scaled[i * 4 + k] = d->base[i] ? optics_q14_mul(d->base[i][k], rk) : 0;
	}
	d->width = width;
	return 0;
}

/* depth of field (slots 36, 37) */

int32_t iris_f_number(struct iris *iris)
{
	if (!iris || !iris->F_table || iris->table_length <= 0)
		return 0;
	int32_t position = iris_get_position(iris);
	return iris_F_number_at_position(iris, clamp(position, 0, iris->table_length - 1));
}

int32_t depth_of_field_at(struct camblock *block, int32_t zoom, int32_t focus, int is_position)
{
	int32_t f = camblock_focal_length(block, zoom, focus, is_position);
	int32_t ff = optics_q14_mul(f, f);
	if (ff < 1)
		return 0;
	int32_t nk = optics_q14_mul(iris_f_number(block->iris), block->mcu.depth_of_field_constant);
	return optics_q14_div(nk, ff);
}

int32_t depth_of_field(struct camblock *block)
{
	if (!block->zoom || !block->focus)
		return 0;
	const focus_object *f = block->focus;
	return depth_of_field_at(block, block->zoom->position, f->value, f->value_is_position);
}

int32_t depth_of_field_steps(struct camblock *block, int32_t zoom, int32_t position)
{
	const camblock_mcu *m = &block->mcu;
	int32_t d = value_to_dioptres(block, zoom, position, 1);
	int32_t h = depth_of_field_at(block, zoom, position, 1);
	int32_t near, far;
	if (d != 0 && h <= d) {
		near = d + h;
		far = d - h;
	} else {
		far = 0;
		near = 2 * h;
	}
	int32_t near_index = clamp_index(m, block->dioptres_to_distance_index(block, near, 0));
	int32_t far_index = clamp_index(m, block->dioptres_to_distance_index(block, far, 0));
	int32_t steps = index_to_focus_position(block, zoom, near_index) -
	                index_to_focus_position(block, zoom, far_index);
	return steps < 0 ? -steps : steps;
}

int temperature_pair(struct camblock *block, int32_t temperature, uint32_t *first, uint32_t *second)
{
	const camblock_mcu *m = &block->mcu;
	if (m->temperature_pair_count <= 0 || !m->temperature_pairs || !m->temperatures)
		return 0;
	int i = fx_table_search(temperature, m->temperatures, m->temperature_pair_count, FX_SEARCH_NEAREST);
	const uint32_t *pair = m->temperature_pairs[i];
	if (!pair)
		return 0;
	if (first)
		*first = pair[0];
	if (second)
		*second = pair[1];
	return 0;
}

/* focus registers (slots 39 to 41) */

int32_t signed_register(struct camblock *block, uint16_t reg)
{
	int v = read_register(block, reg);
	return v < 0 ? v : (int16_t)(uint16_t)v;
}

int32_t focus_reg12(struct camblock *block)
{
	return signed_register(block, CAMBLOCK_REG_FOCUS_REG12);
}

int32_t focus_reg17(struct camblock *block)
{
	return signed_register(block, CAMBLOCK_REG_FOCUS_REG17);
}

int set_focus_reg17(struct camblock *block, int32_t value)
{
	return write_register(block, CAMBLOCK_REG_FOCUS_REG17, (uint16_t)value);
}

/* destroy (slot 24) */

void free_guard(struct camblock_temperature_guard *guard)
{
	if (!guard)
		return;
	for (int i = 0; i < 2; i++) {
		if (!guard->registrations[i])
			continue;
		control_unregister_temperature_limit(guard->engine, guard->registrations[i]);
		g_free(guard->registrations[i]);
	}
	g_free(guard);
}

void destroy(struct camblock *block)
{
	camblock_mcu *m = &block->mcu;
	g_free(m->apertures);
	m->apertures = nullptr;
	g_free(m->timing_frame_rates);
	g_free(m->timing_values);
	m->timing_frame_rates = m->timing_values = nullptr;
	camblock_trace_free(m->trace);
	m->trace = nullptr;
	camblock_lens_device_free(block->platform, m->device);
	m->device = nullptr;
	free_guard(block->temperature_guard);
	block->temperature_guard = nullptr;
	camblock_distortion_free(m->distortion);
	m->distortion = nullptr;
	dome_destroy(block->dome);
	block->dome = nullptr;
}

void fill_slots(struct camblock *block)
{
	block->start_init = start_init;
	block->write_register = write_register;
	block->read_register = read_register;
	block->set_focus_limits = set_focus_limits;
	block->update_focus_limits = update_focus_limits;
	block->set_distance_index = set_distance_index;
	block->set_trace_mode = set_trace_mode;
	block->set_trace_curve = set_trace_curve;
	block->distance_index_to_focus_position = slot_index_to_focus_position;
	block->dioptres_to_focus_position = slot_dioptres_to_focus_position;
	block->focus_position_to_distance_index = focus_position_to_index;
	block->focus_position_to_dioptres = position_to_dioptres;
	block->get_lens_temperature = lens_temperature;
	block->dioptres_to_distance_index = dioptres_to_index;
	block->distance_index_to_dioptres = index_to_dioptres;
	block->get_fov_at_focus_position = fov_at_focus_position;
	block->focal_length_at_focus_position = focal_length_at_focus_position;
	block->get_current_fov = current_fov;
	block->get_current_focal_length = current_focal_length;
	block->distance_index_for_object_width = index_for_object_width;
	block->get_lens_distortion = lens_distortion;
	block->set_focus_dioptres = set_focus_dioptres;
	block->destroy = destroy;
	block->set_motor_timing = set_motor_timing;
	block->set_motor_speed = set_motor_speed;
	block->frame_report = frame_report;
	block->poll = poll;
	block->refresh = refresh;
	block->capture_mode_changed = capture_mode_changed;
	block->focal_length_at_distance_index = focal_length_at_index;
	block->get_fov_at_distance_index = fov_at_index;
	block->get_error_code = error_code;
	block->poll_init = poll_init;
	block->handle_event = handle_event;
	block->get_depth_of_field = depth_of_field;
	block->get_depth_of_field_steps = depth_of_field_steps;
	block->get_temperature_pair = temperature_pair;
	block->get_focus_reg12 = focus_reg12;
	block->get_focus_reg17 = focus_reg17;
	block->set_focus_reg17 = set_focus_reg17;
}

struct control_temperature_limit *register_limit(struct control *engine, uint32_t sensor_id, int32_t limit,
                                                 uint8_t direction, struct camblock_temperature_guard *guard,
                                                 const char *failed)
{
	control_temperature_limit *r = control_register_temperature_limit(
	    engine, sensor_id, limit, direction, camblock_temperature_callback, guard);
	if (!r)
		debug_output(DEBUG_ERROR, 0, "%s", failed);
	return r;
}

int32_t ircut_state(int32_t stream_id, int32_t fallback)
{
	int32_t state = fallback;
	if (param_get_int(PARAM_IRCUT_FILTER_STATE, stream_id, &state) != 0)
		return fallback;
	return state;
}

} // namespace

struct camblock_lens_device *camblock_lens_device_open(struct platform *platform, const char *path)
{
	camblock_lens_device *device = g_new0(camblock_lens_device, 1);
	device->path = g_strdup(path);
	device->flags = O_RDWR;
	if (!path)
		device->fd = -1;
	else if (platform && platform->open)
		device->fd = platform->open(platform, path, O_RDWR);
	else
		device->fd = open(path, O_RDWR);
	return device;
}

void camblock_lens_device_free(struct platform *platform, struct camblock_lens_device *device)
{
	if (!device)
		return;
	if (device->fd >= 0) {
		if (platform && platform->close)
			platform->close(platform, device->fd);
		else
			close(device->fd);
	}
	g_free(device->path);
	g_free(device);
}

struct camblock_distortion *camblock_distortion_new(int32_t rows, const int32_t *set0, const int32_t *set1)
{
	if (rows <= 0 || !set0 || !set1)
		return nullptr;
	camblock_distortion *d = g_new0(camblock_distortion, 1);
	d->width = -1;
	d->scale = Q14_ONE;
	d->per_row = 4;
	d->rows = rows;
	d->sets = 2;
	d->base = g_new(const int32_t *, 2 * rows);
	for (int32_t row = 0; row < rows; row++) {
		d->base[row] = set0 + row * 4;
		d->base[rows + row] = set1 + row * 4;
	}
	d->scaled = g_new0(int32_t, 2 * rows * 4);
	return d;
}

void camblock_distortion_free(struct camblock_distortion *distortion)
{
	if (!distortion)
		return;
	g_free(distortion->base);
	g_free(distortion->scaled);
	g_free(distortion);
}

struct camblock *camblock_mcu_common(struct control *engine, struct platform *platform, int32_t stream_id,
                                     struct camblock_lens_device *device, uint16_t address)
{
	camblock *block = camblock_new();
	block->type = CAMBLOCK_TYPE_COMMON;
	block->stream_id = stream_id;
	control_add_camblock(engine, block, stream_id);
	camblock_add_platform(block, platform);
	block->mcu.device = device;
	block->mcu.address = address;
	block->mcu.trace_mode = 1;
	fill_slots(block);
	return block;
}

void camblock_mcu_set_register_slots(struct camblock *block)
{
	block->write_register = write_register;
	block->read_register = read_register;
}

void camblock_mcu_publish_zoom(struct camblock *block)
{
	zoom_object *zoom = block ? block->zoom : nullptr;
	if (zoom && zoom->parameter.id != 0)
		param_set(&zoom->parameter);
}

bool camblock_motor_allowed(struct camblock *block)
{
	const camblock_temperature_guard *guard = block ? block->temperature_guard : nullptr;
	if (!guard || !guard->blocked)
		return true;
	camblock_tp_motor_blocked();
	return false;
}

struct camblock_temperature_guard *
camblock_temperature_guard_new(struct control *engine, struct camblock *block, uint32_t sensor_id,
                               int32_t start, int32_t stop, int (*setup)(struct camblock *, int32_t),
                               const char *start_failed, const char *stop_failed)
{
	if (!block)
		return nullptr;
	camblock_temperature_guard *guard = g_new0(camblock_temperature_guard, 1);
	guard->setup = setup;
	guard->limit_count = 2;
	guard->limits[GUARD_START] = start;
	guard->limits[GUARD_STOP] = stop;
	guard->engine = engine;
	guard->saved_ircut_state = ircut_state(block->stream_id, 0);
	guard->registrations[GUARD_START] = register_limit(
	    engine, sensor_id, start, 1, guard,
	    start_failed ? start_failed : "Failed to register START temperature callback for camblock\n");
	guard->registrations[GUARD_STOP] = register_limit(
	    engine, sensor_id, stop, 0, guard,
	    stop_failed ? stop_failed : "Failed to register STOP temperature callback for camblock\n");
	// Without the start limit nothing would ever let the motors run again:
	// an unknown temperature does not stop them.
	control_temperature_limit *s = guard->registrations[GUARD_START];
	guard->blocked = s ? !s->state : 0;
	free_guard(block->temperature_guard);
	block->temperature_guard = guard;
	return guard;
}

void camblock_temperature_callback(struct control *engine, int32_t, struct control_temperature_limit *limit)
{
	camblock *block = platform_get_camblock(control_get_platform(engine), 0);
	camblock_temperature_guard *guard = block ? block->temperature_guard : nullptr;
	if (!guard || !limit)
		return;
	if (limit->limit == guard->limits[GUARD_STOP]) {
		if (!guard->blocked)
			guard->saved_ircut_state = ircut_state(block->stream_id, guard->saved_ircut_state);
		guard->blocked = 1;
		return;
	}
	if (limit->limit != guard->limits[GUARD_START] || !guard->blocked)
		return;
	guard->blocked = 0;
	iris_set_temperature_status(block->iris, 0);
	if (guard->setup)
		guard->setup(block, block->stream_id);
	int32_t now = 0;
	if (param_get_int(PARAM_IRCUT_FILTER_STATE, block->stream_id, &now) != 0 ||
	    now != guard->saved_ircut_state)
		param_set_int(PARAM_IRCUT_FILTER_STATE, block->stream_id, guard->saved_ircut_state);
	daemon_request_stream_restart();
}

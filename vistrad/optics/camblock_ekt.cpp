// The intelligent (e-KT) lens block. Everything the daemon knows of the lens
// it reads from the lens at set-up: the polynomials of the calibration
// records become the trace curves, the zoom's focal-length table, the iris
// curves and the distortion table.

#include "camblock_ekt.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "camblock_mcu.h"
#include "camblock_tp.h"
#include "camblock_trace.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "core/vistrad_path.h"
#include "fixmath.h"
#include "focus_zoom.h"
#include "iris.h"
#include "optics_math.h"
#include "optics_sleep.h"
#include "platform/platform.h"
#include "platform/sensor.h"

static_assert(sizeof(camblock_ekt_record) == 52, "a record is stored in 52 bytes");

namespace
{

#define Q14_ONE 16384
#define RECORD_READ_LENGTH 50
#define MODEL_LENGTH 24
#define LENS_INFO_LENGTH 126 // 125 characters and the terminator
#define SETUP_WAIT_MS 600
#define FOCAL_MODEL_Q 14
#define ZOOM_POINT_SPACING 100
#define ADDED_CURVE_DIOPTRES 0x28000 // 10.0
#define FAR_INDEX (-262144)          // 512 curves behind infinity
#define FAR_LIMIT (-104858)          // -6.4 dioptres
#define ZERO_CELSIUS_Q14 4475290     // 273.15
#define IRIS_CLOSED_F (10 * Q14_ONE)
#define IRIS_MAX_CLOSED_F (15 * Q14_ONE)
#define IRIS_BEST_ENTRY 350
#define DISTORTION_MAX_ANGLE 1.22 // radians
#define DISTORTION_STEP 0.1
#define DISTORTION_END 5.0
#define DISTORTION_ORDER 4
#define INDEX_CURVE_MASK 63
#define LAST_REGISTER 0xFFFF

#define PARAM_OPTICS_MAX_MAG 88
#define PARAM_AF_NEAR_LIMIT 96
#define PARAM_AF_FAR_LIMIT 97
#define PARAM_CAMBLOCK_ERROR 104
#define PARAM_RESET_OPTICS_MOTOR_POS 135
#define PARAM_AF_NEAR_LIMIT_MAX 157
#define PARAM_AF_FAR_LIMIT_MAX 158
#define PARAM_CAMBLOCK_TYPE 159
#define CAMBLOCK_TYPE_NAME_EKT 2
#define INFO_DIGITAL_ZOOM_SCALE 82

enum : uint16_t {
	REG_VERSION_MAJOR = 0x004,
	REG_VERSION_MINOR = 0x006,
	REG_LENS_TYPE = 0x00A,
	REG_REVISION = 0x00C,
	REG_STATUS = 0x00E,
	REG_MODEL = 0x100,
	REG_POWER = 0x40A,
	REG_RECORD_COUNT = 0x40C,
	REG_FOCUS_MIN = 0x414,
	REG_FOCUS_MAX = 0x416,
	REG_IRIS_MIN = 0x422,
	REG_IRIS_MAX = 0x424,
	REG_TEMPERATURE = 0x500,
	REG_MOTION = 0x506,
	REG_FOCUS_RESET = 0x600,
	REG_FOCUS_STOP = 0x602,
	REG_ZOOM_RESET = 0x604,
	REG_ZOOM_STOP = 0x606,
	REG_IRIS_RESET = 0x608,
	REG_FOCUS_POSITION = 0x610,
	REG_ZOOM_POSITION = 0x618,
	REG_IRIS_POSITION = 0x620,
	REG_ZOOM_MIN = 0x61A,
	REG_ZOOM_MAX = 0x61C,
	REG_FOCUS_SPEED = 0x640,
	REG_ZOOM_SPEED = 0x648,
	REG_IRIS_SPEED = 0x650,
	REG_RECORDS = 0x1000,
};

enum : uint16_t {
	MOTION_FOCUS = 1u << 0,
	MOTION_ZOOM = 1u << 1,
	MOTION_IRIS = 1u << 2,
	MOTION_ERROR = 0xC000,
	STATUS_READY = 0x07,
	STATUS_IRCUT = 0x08,
};

struct ekt_distortion {
	uint32_t zoom;
	float k[DISTORTION_ORDER];
};

struct ekt_block {
	struct camblock base; // first: the block is freed as a camblock
	// The lens data shared with the MCU blocks lives in base.mcu: device,
	// bus address, limits and indexes, trace mode, initialised, requested
	// index.
	int32_t curve_count;
	int32_t *distances;
	camblock_ekt_record *curves;
	uint8_t distance_index_pending;
	uint8_t iris_update_pending;
	uint8_t init_running;
	uint8_t zoom_to_wide;
	uint8_t zoom_reset_requested;
	uint8_t zoom_reset_busy;
	uint8_t focus_reset_requested;
	uint8_t focus_reset_busy;
	int32_t distortion_count;
	ekt_distortion *distortion;
	camblock_ekt_record temperature;
	int32_t max_power;
	int32_t lens_type;
	int32_t last_temperature;
};

struct ekt_iris {
	int32_t target;
	uint8_t move_pending;
	uint8_t moving;
	uint8_t reset_pending;
	int32_t curve_count;
	int32_t **curves;     // per curve, one Q14 reciprocal per position
	int32_t *curve_zooms; // zoom position of each curve
	struct camblock *block;
};

struct ekt_zoom {
	struct zoom_object base; // first: freed as a zoom object
	uint8_t stopped;
};

struct ekt_focus {
	struct focus_object base; // first: focus_destroy frees it as a focus object
	uint8_t stopped;
};

ekt_block *ekt_of(struct camblock *block)
{
	return reinterpret_cast<ekt_block *>(block);
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

// The record rule: scaled and rounded half away from zero.
int32_t to_fixed(double v, double scale)
{
	double s = v * scale;
	return (int32_t)(s > 0 ? s + 0.5 : s - 0.5);
}

int device_fd(struct camblock *block)
{
	return block && block->mcu.device ? block->mcu.device->fd : -1;
}

uint16_t be16(const uint8_t *at)
{
	return (uint16_t)(at[0] << 8 | at[1]);
}

int read_or(struct camblock *block, uint16_t reg, int fallback)
{
	int v = camblock_ekt_i2c_read(block, reg);
	return v < 0 ? fallback : v;
}

} // namespace

/* register access */

int camblock_ekt_i2c_write(struct camblock *block, uint16_t reg, uint16_t value)
{
	uint8_t bytes[4] = {(uint8_t)(reg >> 8), (uint8_t)(reg & 0xFF), (uint8_t)(value >> 8),
	                    (uint8_t)(value & 0xFF)};
	i2c_msg message = {block ? block->mcu.address : (uint16_t)0, 0, sizeof(bytes), bytes};
	i2c_rdwr_ioctl_data data = {&message, 1};
	if (ioctl(device_fd(block), I2C_RDWR, &data) < 0) {
		debug_output(DEBUG_ERROR, 0, "Error: %s (%s: reg 0x%08x)\n", strerror(errno),
		             "camblock_ekt_i2c_write", reg);
		return -4;
	}
	camblock_tp_i2c_done(reg, value);
	return 0;
}

int camblock_ekt_i2c_read_buf(struct camblock *block, uint16_t reg, uint8_t *buffer, uint16_t length)
{
	uint8_t address[2] = {(uint8_t)(reg >> 8), (uint8_t)(reg & 0xFF)};
	uint16_t bus_address = block ? block->mcu.address : 0;
	i2c_msg messages[2] = {{bus_address, 0, 2, address}, {bus_address, I2C_M_RD, length, buffer}};
	i2c_rdwr_ioctl_data data = {messages, 2};
	if (!buffer || ioctl(device_fd(block), I2C_RDWR, &data) < 0) {
		debug_output(DEBUG_ERROR, 0, "Error: %s (%s: reg 0x%08x)\n",
		             strerror(buffer ? errno : EINVAL), "camblock_ekt_i2c_read_buf", reg);
		return -4;
	}
	return 0;
}

int camblock_ekt_i2c_read(struct camblock *block, uint16_t reg)
{
	uint8_t bytes[2];
	if (camblock_ekt_i2c_read_buf(block, reg, bytes, 2) < 0)
		return -4;
	return be16(bytes);
}

/* records */

double camblock_ekt_poly(const struct camblock_ekt_record *record, double x)
{
	double p = 0;
	for (int i = 10; i >= 0; i--)
		p = p * x + record->c[i];
	return p;
}

int32_t camblock_ekt_poly_q14(const struct camblock_ekt_record *record, double x)
{
	return to_fixed(camblock_ekt_poly(record, x), Q14_ONE);
}

namespace
{

// Registers end at 0xFFFF: a larger count from the lens cannot be walked.
int32_t walkable(int32_t count)
{
	return count > LAST_REGISTER - REG_RECORDS + 1 ? LAST_REGISTER - REG_RECORDS + 1 : count;
}

int read_record_at(struct camblock *block, int32_t i, struct camblock_ekt_record *record)
{
	uint8_t raw[RECORD_READ_LENGTH];
	if (camblock_ekt_i2c_read_buf(block, (uint16_t)(REG_RECORDS + i), raw, sizeof(raw)) < 0)
		return -1;
	record->unused = 0;
	record->kind = be16(raw);
	record->value = be16(raw + 2);
	record->reserved = be16(raw + 4);
	for (int k = 0; k < 11; k++) {
		const uint8_t *at = raw + 6 + 4 * k;
		uint32_t bits = (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | at[3];
		memcpy(&record->c[k], &bits, sizeof(bits));
	}
	return 0;
}

} // namespace

int camblock_ekt_read_record(struct camblock *block, uint16_t type, struct camblock_ekt_record *record,
                             int32_t *index, int32_t *count)
{
	int32_t i = 0;
	int32_t n;
	if (index && count && *count > 0 && *index >= 0) {
		n = *count;
		i = *index + 1;
	} else {
		n = camblock_ekt_i2c_read(block, REG_RECORD_COUNT);
		if (n < 0)
			return -1;
		if (count)
			*count = n;
	}
	n = walkable(n);
	for (; i < n; i++) {
		if (camblock_ekt_i2c_read(block, (uint16_t)(REG_RECORDS + i)) != type)
			continue;
		if (index)
			*index = i;
		camblock_ekt_record scratch;
		return read_record_at(block, i, record ? record : &scratch);
	}
	debug_output(DEBUG_ERROR, 0, "Calibration curve for type %d not found!\n", type);
	return -1;
}

int32_t camblock_ekt_count_records(struct camblock *block, uint16_t type)
{
	int32_t n = camblock_ekt_i2c_read(block, REG_RECORD_COUNT);
	if (n < 0)
		return -1;
	int32_t found = 0;
	for (int32_t i = 0; i < walkable(n); i++)
		if (camblock_ekt_i2c_read(block, (uint16_t)(REG_RECORDS + i)) == type)
			found++;
	return found;
}

namespace
{

/* distances (slots 10, 13, 15, 16) */

int32_t dioptres_to_index(struct camblock *block, int32_t dioptres, int32_t)
{
	const ekt_block *e = ekt_of(block);
	if (dioptres < 0)
		return (int32_t)lround(((double)((int64_t)dioptres * Q14_ONE) - 102) / 205 / 32);
	return optics_table_index(dioptres, e->distances, e->curve_count);
}

int32_t index_to_dioptres(struct camblock *block, int32_t index)
{
	const ekt_block *e = ekt_of(block);
	if (index < 0)
		return (int32_t)optics_div_round((int64_t)index * 32 * 205, Q14_ONE);
	return optics_table_dioptres(index, e->distances, e->curve_count);
}

// A curve's focus position in motor steps.
int32_t curve_position(const ekt_block *e, int32_t curve, int32_t zoom)
{
	return to_fixed(camblock_ekt_poly(&e->curves[curve], zoom), 1);
}

int32_t index_to_focus_position(struct camblock *block, int32_t zoom, int32_t index)
{
	const ekt_block *e = ekt_of(block);
	int32_t c = index < 0 ? 0 : (index >> 9) & INDEX_CURVE_MASK;
	if (!e->curves || c >= e->curve_count)
		return -2;
	int32_t p = curve_position(e, c, zoom);
	if (index < 0) {
		p += (index + 511) >> 9;
		if (p < 0)
			p = 0;
	} else if (c < e->curve_count - 1) {
		p += (int32_t)(((int64_t)(curve_position(e, c + 1, zoom) - p) * (index & 511)) >> 9);
	}
	if (block->focus)
		p = clamp(p, block->focus->mech_min, block->focus->mech_max);
	return p;
}

int32_t focus_position_to_dioptres(struct camblock *block, int32_t zoom, int32_t position)
{
	const ekt_block *e = ekt_of(block);
	int32_t n = e->curve_count;
	if (!e->curves || n <= 0)
		return 0;
	int32_t index;
	int32_t first = curve_position(e, 0, zoom);
	if (position < first) {
		index = (int32_t)((uint32_t)(position - first) << 9);
	} else if (position >= curve_position(e, n - 1, zoom)) {
		index = (n - 1) << 9;
	} else {
		int32_t lo = 0, hi = n - 1; // P_lo <= p < P_hi
		while (hi - lo > 1) {
			int32_t mid = (lo + hi) / 2;
			if (curve_position(e, mid, zoom) <= position)
				lo = mid;
			else
				hi = mid;
		}
		int32_t p_lo = curve_position(e, lo, zoom);
		int32_t span = curve_position(e, hi, zoom) - p_lo;
		int64_t fraction = span > 0 ? (int64_t)(position - p_lo) * 512 / span : 0;
		index = (lo << 9) + (int32_t)(fraction < 511 ? fraction : 511);
	}
	return index_to_dioptres(block, index);
}

/* focus limits and distance index (slots 5 to 8, 23) */

int32_t zoom_position(struct camblock *block)
{
	return block->zoom ? block->zoom->position : 0;
}

int update_focus_limits(struct camblock *block)
{
	if (!block->focus || !block->zoom)
		return 0;
	int32_t zoom = zoom_position(block);
	focus_set_min_limit(block->focus, index_to_focus_position(block, zoom, block->mcu.far_index));
	focus_set_max_limit(block->focus, index_to_focus_position(block, zoom, block->mcu.near_index));
	return 0;
}

int32_t clamp_index(const camblock_mcu *m, int32_t index)
{
	return clamp(index, m->min_index, m->max_index);
}

int32_t set_focus_limits(struct camblock *block, int32_t near, int32_t far)
{
	camblock_mcu *m = &block->mcu;
	m->near_limit = near;
	m->far_limit = far;
	m->near_index = clamp_index(m, dioptres_to_index(block, near, 0));
	m->far_index = clamp_index(m, dioptres_to_index(block, far, 0));
	update_focus_limits(block);
	return index_to_dioptres(block, m->requested_index);
}

int request_index(struct camblock *block, int32_t index)
{
	block->mcu.requested_index = index;
	ekt_of(block)->distance_index_pending = 1;
	return update_focus_limits(block);
}

int set_distance_index(struct camblock *block, int32_t index)
{
	request_index(block, index);
	return 0;
}

int set_trace_mode(struct camblock *block, uint32_t mode, int32_t, int32_t)
{
	debug_output(DEBUG_WARNING, 0, "<CAMBLOCK> Try setting trace mode: %d (not implemented, ignore)\n",
	             (int)mode);
	block->mcu.trace_mode = 1;
	return 0;
}

int set_focus_dioptres(struct camblock *block, int32_t dioptres, int)
{
	const camblock_mcu *m = &block->mcu;
	request_index(block, clamp(dioptres_to_index(block, dioptres, 0), m->far_index, m->near_index));
	return 0;
}

/* temperature (slot 14) */

int32_t lens_temperature(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	int raw = camblock_ekt_i2c_read(block, REG_TEMPERATURE);
	if (raw >= 0)
		e->last_temperature =
		    to_fixed(camblock_ekt_poly(&e->temperature, raw) / 100, Q14_ONE) - ZERO_CELSIUS_Q14;
	return e->last_temperature;
}

/* optics (slots 17 to 22) */

bool has_tables(const struct zoom_object *z)
{
	return z && z->count > 0 && z->positions && z->focal_model;
}

// g: 0.5 / f with the zoom's fraction bits at the zoom position.
int32_t half_reciprocal(const struct zoom_object *z, int32_t zoom)
{
	int32_t p = clamp(zoom, z->mech_min, z->mech_max);
	int lo, hi;
	optics_lower_bracket(p, z->positions, z->count, &lo, &hi);
	return fx_lin_interp32(p, z->positions[lo], z->positions[hi], z->focal_model[lo], z->focal_model[hi]);
}

int fov_at(struct camblock *block, int32_t zoom, int32_t, uint32_t *horizontal, uint32_t *vertical,
           int32_t scale)
{
	const zoom_object *z = block->zoom;
	if (!has_tables(z))
		return -3;
	int32_t g = half_reciprocal(z, zoom);
	struct sensor *sensor = platform_get_sensor_for_stream(block->platform, 0);
	if (horizontal)
		*horizontal = (uint32_t)camblock_fov_angle(
		    optics_q14_mul(sensor_get_active_width(sensor), scale), g, z->focal_model_q);
	if (vertical)
		*vertical = (uint32_t)camblock_fov_angle(
		    optics_q14_mul(sensor_get_active_height(sensor), scale), g, z->focal_model_q);
	return 0;
}

int32_t focal_length_at(struct camblock *block, int32_t zoom, int32_t)
{
	const zoom_object *z = block->zoom;
	if (!has_tables(z))
		return -3;
	int32_t g = half_reciprocal(z, zoom);
	if (g <= 0)
		return -3;
	return (int32_t)optics_div_round((int64_t)1 << (z->focal_model_q + 13), g);
}

int current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical, int32_t scale)
{
	return fov_at(block, zoom_position(block), 0, horizontal, vertical, scale);
}

int32_t current_focal_length(struct camblock *block)
{
	return focal_length_at(block, zoom_position(block), 0);
}

int32_t index_for_object_width(struct camblock *block, int32_t zoom, int32_t width)
{
	const zoom_object *z = block->zoom;
	if (!has_tables(z))
		return -3;
	if (width <= 0)
		return block->mcu.max_index;
	int32_t g = half_reciprocal(z, zoom);
	int32_t w = sensor_get_active_width(platform_get_sensor_for_stream(block->platform, 0));
	int64_t ratio = optics_round_shift(2 * (int64_t)g * w, (int)z->focal_model_q);
	int32_t dioptres = (int32_t)optics_div_round(ratio * Q14_ONE, width);
	return dioptres_to_index(block, dioptres, 0);
}

int lens_distortion(struct camblock *block, int32_t zoom, int32_t, int, uint32_t *k0, uint32_t *k1,
                    uint32_t *k2, uint32_t *k3)
{
	const ekt_block *e = ekt_of(block);
	if (!e->distortion || e->distortion_count <= 0)
		return -3;
	int n = e->distortion_count;
	int32_t *zooms = g_new(int32_t, n);
	for (int i = 0; i < n; i++)
		zooms[i] = (int32_t)e->distortion[i].zoom;
	int lo, hi;
	optics_lower_bracket(zoom, zooms, n, &lo, &hi);
	int32_t scale = Q14_ONE;
	if (info_pool_get_imfix(INFO_DIGITAL_ZOOM_SCALE, block->stream_id, &scale) != 0)
		scale = Q14_ONE;
	int channel = platform_stream_channel(block->stream_id);
	if (channel < 0 || channel >= PLATFORM_CHANNELS)
		channel = 0;
	const int32_t *window = block->platform->channels[channel].stats_window;
	int32_t extent = window[3] - window[1] + 1;
	int32_t pitch =
	    sensor_get_pixel_pitch(platform_get_sensor_for_stream(block->platform, block->stream_id));
	int32_t s = (int32_t)optics_div_round((int64_t)optics_q14_mul(extent, scale) * pitch, 2000);
	uint32_t *out[DISTORTION_ORDER] = {k0, k1, k2, k3};
	for (int k = 0; k < DISTORTION_ORDER; k++) {
		int32_t c = fx_lin_interp(zoom, zooms[lo], zooms[hi], to_fixed(e->distortion[lo].k[k], 1),
		                          to_fixed(e->distortion[hi].k[k], 1));
		if (out[k])
			*out[k] = (uint32_t)optics_q14_mul(c, fx_powx(s, 14, k, 0));
	}
	g_free(zooms);
	return 0;
}

/* error code (slot 33) and update aperture (slot 42) */

int32_t error_code(struct camblock *block)
{
	int v = camblock_ekt_i2c_read(block, REG_MOTION);
	return v < 0 ? MOTION_ERROR : v & MOTION_ERROR;
}

bool zoom_in_range(const struct zoom_object *z)
{
	return z && z->position >= z->mech_min && z->position <= z->mech_max;
}

void iris_follow_zoom(struct iris *iris, int32_t zoom);

int update_aperture(struct camblock *block)
{
	if (!zoom_in_range(block->zoom))
		return -2;
	iris_follow_zoom(block->iris, block->zoom->position);
	return 0;
}

/* iris unit */

// Whether a unit other than the one asking still moves: the lens runs one
// motor at a time.
bool focus_moving(const struct camblock *block)
{
	return block && block->focus && block->focus->pending;
}

bool zoom_moving(const struct camblock *block)
{
	return block && block->zoom && block->zoom->pending;
}

ekt_iris *iris_priv(struct iris *iris)
{
	return static_cast<ekt_iris *>(iris->priv);
}

bool iris_idle(struct iris *iris)
{
	const ekt_iris *p = iris && iris->priv ? iris_priv(iris) : nullptr;
	return !p || (!p->move_pending && !p->moving && !p->reset_pending);
}

bool iris_moving(struct iris *iris)
{
	return iris && iris->priv && iris_priv(iris)->moving;
}

void iris_follow_zoom(struct iris *iris, int32_t zoom)
{
	ekt_iris *p = iris && iris->priv ? iris_priv(iris) : nullptr;
	if (!p || p->curve_count <= 0 || !iris->aperture_table)
		return;
	const zoom_object *z = p->block ? p->block->zoom : nullptr;
	int32_t m = p->curve_count;
	int32_t j = 1;
	while (j < m - 1 && p->curve_zooms[j] <= zoom)
		j++;
	// The first curve stands for the wide end and the last bracket ends at
	// the tele end.
	int32_t lower = m > 1 ? j - 1 : 0;
	int32_t upper = m > 1 ? j : 0;
	int32_t from = lower == 0 && z ? z->mech_min : p->curve_zooms[lower];
	int32_t to = upper == m - 1 && z ? z->mech_max : p->curve_zooms[upper];
	for (int32_t k = 0; k < iris->table_length; k++)
		iris->aperture_table[k] =
		    fx_lin_interp(zoom, from, to, p->curves[lower][k], p->curves[upper][k]);
	iris->open_F = iris->aperture_table[0];
}

void iris_request(struct iris *iris, int32_t position)
{
	ekt_iris *p = iris_priv(iris);
	position = clamp(position, 0, iris->max_position);
	if (position == iris->position && !(p->move_pending && p->target != position))
		return;
	p->target = position;
	p->move_pending = 1;
}

int iris_move_to_slot(struct iris *iris, int32_t position, int)
{
	iris_request(iris, position);
	return -1;
}

int iris_move_rel_slot(struct iris *iris, int direction, int32_t steps, int)
{
	iris_request(iris, iris->position + (direction == 1 ? steps : -steps));
	return -1;
}

int iris_go_home_slot(struct iris *iris, int32_t, int)
{
	ekt_iris *p = iris_priv(iris);
	if (!iris->reset_needed) {
		iris_request(iris, 0);
		return -1;
	}
	iris->reset_needed = 0;
	camblock_ekt_i2c_write(p->block, REG_IRIS_RESET, 1);
	p->target = 0;
	p->reset_pending = 1;
	return -1;
}

int iris_set_reset_needed_slot(struct iris *iris)
{
	debug_output(DEBUG_INFO, 0, "reset needed (not implemented)\n");
	iris->reset_needed = 1;
	return -1;
}

int32_t iris_get_position_slot(struct iris *iris)
{
	ekt_iris *p = iris_priv(iris);
	if (p->move_pending || p->moving) {
		int v = camblock_ekt_i2c_read(p->block, REG_IRIS_POSITION);
		if (v >= 0)
			iris->position = v;
	}
	return iris->position > iris->max_position ? iris->max_position : iris->position;
}

int iris_is_moving_slot(struct iris *iris)
{
	ekt_iris *p = iris_priv(iris);
	if (!p->move_pending && !p->moving)
		return p->reset_pending ? 1 : 0;
	int v = camblock_ekt_i2c_read(p->block, REG_MOTION);
	if (v >= 0) {
		bool now = (v & MOTION_IRIS) != 0;
		if (!now && p->moving)
			iris_get_position_slot(iris);
		p->moving = now;
	}
	return p->moving;
}

int iris_update_position_slot(struct iris *iris, int32_t position, int moving)
{
	ekt_iris *p = iris_priv(iris);
	struct camblock *block = p->block;
	if (p->reset_pending) {
		if (camblock_ekt_i2c_read(block, REG_IRIS_RESET) == 1)
			return 0;
		p->reset_pending = 0;
		p->move_pending = 1;
	}
	if (!p->move_pending) {
		p->moving = moving != 0;
		iris->position = position;
		return 0;
	}
	if (moving || zoom_moving(block) || focus_moving(block))
		return 0;
	camblock_ekt_i2c_write(block, REG_IRIS_POSITION, (uint16_t)p->target);
	p->move_pending = 0;
	iris->last_direction = p->target > iris->position;
	p->moving = 1;
	iris->position = position;
	return 0;
}

void iris_restore_slot(struct iris *) {}

void iris_destroy_slot(struct iris *iris)
{
	ekt_iris *p = iris_priv(iris);
	for (int32_t j = 0; p && j < p->curve_count; j++)
		g_free(p->curves[j]);
	if (p) {
		g_free(p->curves);
		g_free(p->curve_zooms);
	}
	g_free(p);
	g_free(iris->aperture_table);
	iris->platform = nullptr;
	g_free(iris);
}

// The iris curves: per curve and position a Q14 reciprocal of the curve's
// value.
void iris_read_curves(struct iris *iris, ekt_iris *p, int32_t curves)
{
	int32_t low = camblock_ekt_i2c_read(p->block, REG_IRIS_MIN);
	int32_t high = camblock_ekt_i2c_read(p->block, REG_IRIS_MAX);
	int32_t n = high - low + 1;
	if (low < 0 || high < 0 || n <= 0)
		return;
	p->curves = g_new0(int32_t *, curves);
	p->curve_zooms = g_new0(int32_t, curves);
	int32_t index = -1, count = 0;
	for (int32_t j = 0; j < curves; j++) {
		camblock_ekt_record r;
		if (camblock_ekt_read_record(p->block, CAMBLOCK_EKT_RECORD_IRIS, &r, &index, &count) != 0)
			break;
		int32_t *table = g_new0(int32_t, n);
		for (int32_t k = 0; k < n; k++) {
			int32_t v = camblock_ekt_poly_q14(&r, low + k);
			table[k] = v ? (int32_t)(((int64_t)1 << 28) / v) : 0;
		}
		p->curves[j] = table;
		p->curve_zooms[j] = r.value;
		p->curve_count = j + 1;
	}
	if (p->curve_count == 0)
		return;
	iris->aperture_table = static_cast<int32_t *>(g_memdup2(p->curves[0], sizeof(int32_t) * n));
	iris->F_table = iris->aperture_table;
	iris->table_length = n;
	iris->max_position = n - 1;
	iris->aperture_description[0] = iris->aperture_table[0];
	// A lens with fewer positions gives its last one as the best.
	iris->aperture_description[1] = iris->aperture_table[n > IRIS_BEST_ENTRY ? IRIS_BEST_ENTRY : n - 1];
	iris->aperture_description[2] = IRIS_CLOSED_F;
	iris->aperture_description[3] = IRIS_MAX_CLOSED_F;
	iris->aperture_description_set = 1;
}

struct iris *ekt_iris_new(struct camblock *block)
{
	struct iris *iris = iris_new();
	ekt_iris *p = g_new0(ekt_iris, 1);
	p->block = block;
	iris->priv = p;
	iris->owner = block;
	iris->type = IRIS_TYPE_INTELLIGENT;
	int32_t curves = camblock_ekt_count_records(block, CAMBLOCK_EKT_RECORD_IRIS);
	if (curves > 0)
		iris_read_curves(iris, p, curves);
	iris->position = IRIS_POSITION_UNKNOWN;
	iris->automatic = 1;
	iris->reset_needed = 1;
	iris->is_moving = iris_is_moving_slot;
	iris->move_to = iris_move_to_slot;
	iris->move_rel = iris_move_rel_slot;
	iris->get_position = iris_get_position_slot;
	iris->go_home = iris_go_home_slot;
	iris->set_reset_needed = iris_set_reset_needed_slot;
	iris->update_position = iris_update_position_slot;
	iris->restore = iris_restore_slot;
	iris->destroy = iris_destroy_slot;
	iris_set_positionable_param(1);
	iris_set_state_params(1, 1);
	return iris;
}

/* zoom unit */

ekt_zoom *zoom_of(struct zoom_object *zoom)
{
	return reinterpret_cast<ekt_zoom *>(zoom);
}

ekt_focus *focus_of(struct focus_object *focus)
{
	return reinterpret_cast<ekt_focus *>(focus);
}

int zoom_move_abs_slot(struct zoom_object *zoom, int32_t position)
{
	if (position < zoom->mech_min || position > zoom->mech_max) {
		debug_output(DEBUG_ERROR, 0, "<ZOOM> Out of bounds! \n");
		return -1;
	}
	zoom->target = position;
	zoom->commanded = 1;
	return 0;
}

int zoom_move_rel_slot(struct zoom_object *zoom, int32_t steps)
{
	return zoom_move_abs_slot(zoom, zoom->position + steps);
}

int zoom_is_moving_slot(struct zoom_object *zoom)
{
	int v = camblock_ekt_i2c_read(zoom->owner, REG_MOTION);
	if (v < 0)
		return zoom->pending;
	bool now = (v & MOTION_ZOOM) != 0;
	if (!now && zoom->pending)
		zoom_of(zoom)->stopped = 1;
	zoom->pending = now;
	return zoom->pending;
}

int zoom_update_slot(struct zoom_object *zoom, int32_t position, int moving)
{
	struct camblock *block = zoom->owner;
	if (zoom->commanded) {
		if (focus_moving(block) || (block && iris_moving(block->iris)))
			return 0;
		camblock_ekt_i2c_write(block, REG_ZOOM_POSITION, (uint16_t)zoom->target);
		zoom->position = position;
		zoom->pending = 1;
		zoom->commanded = 0;
	} else {
		zoom->position = position;
		zoom->pending = moving != 0;
		if (!moving)
			zoom->target = position;
	}
	if (!zoom_of(zoom)->stopped)
		return 0;
	zoom_of(zoom)->stopped = 0;
	return 1;
}

int32_t zoom_get_position_slot(struct zoom_object *zoom)
{
	int v = camblock_ekt_i2c_read(zoom->owner, REG_ZOOM_POSITION);
	if (v >= 0)
		zoom->position = v;
	return zoom->position;
}

int zoom_stop_slot(struct zoom_object *zoom)
{
	return camblock_ekt_i2c_write(zoom->owner, REG_ZOOM_STOP, 1);
}

int zoom_set_speed_slot(struct zoom_object *, int32_t)
{
	return 0;
}

int32_t zoom_get_min_slot(struct zoom_object *zoom)
{
	return zoom->mech_min;
}

int32_t zoom_get_max_slot(struct zoom_object *zoom)
{
	return zoom->mech_max;
}

void zoom_destroy_slot(struct zoom_object *zoom)
{
	g_free(const_cast<int32_t *>(zoom->positions));
	g_free(const_cast<int32_t *>(zoom->magnifications));
	g_free(const_cast<int32_t *>(zoom->focal_lengths));
	g_free(const_cast<int32_t *>(zoom->focal_model));
	zoom->platform = nullptr;
	g_free(zoom_of(zoom));
}

// The focal-length tables: points 100 steps apart over the zoom's range
// (its two ends for a shorter range). None when the focal length is missing
// or not positive somewhere.
void zoom_read_tables(struct zoom_object *zoom, struct camblock *block)
{
	camblock_ekt_record r;
	int32_t index = -1, count = 0;
	if (camblock_ekt_read_record(block, CAMBLOCK_EKT_RECORD_FOCAL_LENGTH, &r, &index, &count) != 0)
		return;
	int32_t range = zoom->mech_max - zoom->mech_min;
	if (range < 0)
		return;
	int32_t n = range / ZOOM_POINT_SPACING + 1;
	if (n < 2)
		n = 2;
	int32_t spacing = range / (n - 1);
	int32_t *positions = g_new(int32_t, n);
	int32_t *focal_lengths = g_new(int32_t, n);
	for (int32_t i = 0; i < n; i++) {
		positions[i] = i == n - 1 && n == 2 ? zoom->mech_max : zoom->mech_min + i * spacing;
		focal_lengths[i] = camblock_ekt_poly_q14(&r, positions[i]);
		if (focal_lengths[i] <= 0) {
			g_free(positions);
			g_free(focal_lengths);
			return;
		}
	}
	int32_t *magnifications = g_new(int32_t, n);
	int32_t *focal_model = g_new(int32_t, n);
	for (int32_t i = 0; i < n; i++) {
		magnifications[i] = optics_q14_div(focal_lengths[i], focal_lengths[0]);
		focal_model[i] =
		    (int32_t)optics_div_round((int64_t)1 << (2 * FOCAL_MODEL_Q - 1), focal_lengths[i]);
	}
	zoom_use_tables(zoom, n, positions, magnifications, focal_lengths, focal_model, FOCAL_MODEL_Q);
}

struct zoom_object *ekt_zoom_new(struct camblock *block)
{
	struct zoom_object *zoom = &static_cast<ekt_zoom *>(g_malloc0(sizeof(ekt_zoom)))->base;
	zoom->type = FOCUS_ZOOM_TYPE_MOTOR;
	zoom->owner = block;
	zoom->focal_model_q = FOCAL_MODEL_Q;
	zoom->speed = Q14_ONE;
	zoom->mech_min = read_or(block, REG_ZOOM_MIN, 0);
	zoom->mech_max = read_or(block, REG_ZOOM_MAX, 0);
	zoom->position = zoom->target = read_or(block, REG_ZOOM_POSITION, 0);
	zoom_read_tables(zoom, block);
	zoom->is_moving = zoom_is_moving_slot;
	zoom->move_abs = zoom_move_abs_slot;
	zoom->move_rel = zoom_move_rel_slot;
	zoom->stop = zoom_stop_slot;
	zoom->get_position = zoom_get_position_slot;
	zoom->get_max = zoom_get_max_slot;
	zoom->get_min = zoom_get_min_slot;
	zoom->update = zoom_update_slot;
	zoom->set_speed = zoom_set_speed_slot;
	zoom->destroy = zoom_destroy_slot;
	return zoom;
}

bool zoom_idle(const struct zoom_object *z)
{
	return !z || (!z->commanded && !z->pending);
}

/* focus unit */

int focus_move_abs_slot(struct focus_object *focus, int32_t position, int32_t)
{
	if (position < focus->min_limit || position > focus->max_limit) {
		debug_output(DEBUG_WARNING, 0,
		             "<FOCUS> Out of bounds! cur_pos: %d target: %d min: %d max: %d\n", focus->value,
		             position, focus->min_limit, focus->max_limit);
		return -1;
	}
	focus->commanded = 1;
	focus->target = position;
	return 0;
}

int focus_move_rel_slot(struct focus_object *focus, int32_t steps, int32_t speed)
{
	return focus_move_abs_slot(focus, focus->value + steps, speed);
}

int focus_is_moving_slot(struct focus_object *focus)
{
	int v = camblock_ekt_i2c_read(focus->owner, REG_MOTION);
	if (v < 0)
		return focus->pending;
	bool now = (v & MOTION_FOCUS) != 0;
	if (!now && focus->pending)
		focus_of(focus)->stopped = 1;
	focus->pending = now;
	return focus->pending;
}

int focus_update_slot(struct focus_object *focus, int32_t value, int moving, int)
{
	struct camblock *block = focus->owner;
	bool running = moving != 0;
	if (focus->commanded) {
		if (zoom_moving(block) || (block && iris_moving(block->iris))) {
			focus->value = value;
			focus->pending = running;
			return 0;
		}
		camblock_ekt_i2c_write(block, REG_FOCUS_POSITION, (uint16_t)focus->target);
		focus->commanded = 0;
		running = true;
	}
	focus->value = value;
	focus->pending = running;
	if (!running)
		focus->target = value;
	if (!focus_of(focus)->stopped)
		return 0;
	focus_of(focus)->stopped = 0;
	return 1;
}

int32_t focus_get_position_slot(struct focus_object *focus)
{
	int v = camblock_ekt_i2c_read(focus->owner, REG_FOCUS_POSITION);
	if (v >= 0)
		focus->value = v;
	return focus->value;
}

int32_t focus_dioptres_slot(struct focus_object *focus)
{
	struct camblock *block = focus->owner;
	if (!block->zoom)
		return -2;
	return camblock_focus_position_to_dioptres(block, block->zoom->position, focus->value);
}

int32_t focus_get_max_slot(struct focus_object *focus)
{
	return focus->max_limit;
}

int32_t focus_get_min_slot(struct focus_object *focus)
{
	return focus->min_limit;
}

void focus_set_max_limit_slot(struct focus_object *focus, int32_t position)
{
	focus->max_limit = clamp(position, focus->mech_min, focus->mech_max);
}

void focus_set_min_limit_slot(struct focus_object *focus, int32_t position)
{
	focus->min_limit = clamp(position, focus->mech_min, focus->mech_max);
}

int focus_set_tracking_slot(struct focus_object *focus, int32_t position)
{
	struct camblock *block = focus->owner;
	const camblock_mcu *m = &block->mcu;
	int32_t d = camblock_focus_position_to_dioptres(block, zoom_position(block), position);
	block->mcu.requested_index = dioptres_to_index(block, clamp(d, m->far_limit, m->near_limit), 0);
	return 0;
}

int focus_stop_slot(struct focus_object *focus)
{
	return camblock_ekt_i2c_write(focus->owner, REG_FOCUS_STOP, 1);
}

struct focus_object *ekt_focus_new(struct camblock *block)
{
	struct focus_object *focus = &static_cast<ekt_focus *>(g_malloc0(sizeof(ekt_focus)))->base;
	focus->type = FOCUS_ZOOM_TYPE_MOTOR;
	focus->owner = block;
	focus->value_is_position = 1;
	focus->mech_min = focus->min_limit = read_or(block, REG_FOCUS_MIN, 0);
	focus->mech_max = focus->max_limit = read_or(block, REG_FOCUS_MAX, 0);
	focus->value = focus->target = read_or(block, REG_FOCUS_POSITION, 0);
	focus->is_moving = focus_is_moving_slot;
	focus->move_abs = focus_move_abs_slot;
	focus->move_rel = focus_move_rel_slot;
	focus->get_position = focus_get_position_slot;
	focus->get_distance_diopters = focus_dioptres_slot;
	focus->get_max = focus_get_max_slot;
	focus->get_min = focus_get_min_slot;
	focus->set_max_limit = focus_set_max_limit_slot;
	focus->set_min_limit = focus_set_min_limit_slot;
	focus->set_tracking = focus_set_tracking_slot;
	focus->update = focus_update_slot;
	focus->stop = focus_stop_slot;
	focus->stop_and_release = focus_stop_slot;
	return focus;
}

bool focus_idle(const struct focus_object *f)
{
	return !f || (!f->commanded && !f->pending);
}

/* poll (slot 28) and initialisation (slots 1, 34) */

int poll(struct camblock *block, struct optics_state *state)
{
	ekt_block *e = ekt_of(block);
	zoom_object *z = block->zoom;
	focus_object *f = block->focus;
	if (!z || !f || !state)
		return 0;
	if (zoom_idle(z) && focus_idle(f) && iris_idle(block->iris) && !e->distance_index_pending)
		return 0;
	if (e->zoom_reset_busy || e->focus_reset_busy)
		return 0;
	state->zoom_moving = zoom_is_moving(z);
	state->zoom_position = zoom_get_position(z);
	state->focus_moving = focus_is_moving(f);
	state->focus_position = focus_get_position(f);
	state->second_focus = -1;
	if (block->iris)
		iris_update_position(block->iris, iris_get_position(block->iris),
		                     iris_is_moving(block->iris) != 0);
	if (zoom_update(z, state->zoom_position, state->zoom_moving) == 1) {
		e->distance_index_pending = 1;
		e->iris_update_pending = 1;
		update_focus_limits(block);
	}
	if (e->distance_index_pending && !z->commanded && !z->pending) {
		focus_move_abs(f, index_to_focus_position(block, z->position, block->mcu.requested_index), 0);
		e->distance_index_pending = 0;
	}
	if (focus_update(f, state->focus_position, state->focus_moving, 1) == 1 && e->iris_update_pending) {
		e->iris_update_pending = 0;
		if (zoom_in_range(z))
			iris_follow_zoom(block->iris, z->position);
	}
	return 0;
}

// A reset register that cannot be read counts as busy.
bool reset_running(struct camblock *block, uint16_t reg)
{
	return camblock_ekt_i2c_read(block, reg) != 0;
}

bool start_reset(struct camblock *block, uint8_t *requested, uint8_t *busy, uint16_t reg)
{
	if (!*requested)
		return false;
	*requested = 0;
	*busy = 1;
	camblock_ekt_i2c_write(block, reg, 1);
	return true;
}

int init_step(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	if (!e->init_running)
		return 0;
	e->zoom_reset_busy = reset_running(block, REG_ZOOM_RESET);
	e->focus_reset_busy = reset_running(block, REG_FOCUS_RESET);
	if (e->zoom_reset_busy || e->focus_reset_busy)
		return 0;
	if (start_reset(block, &e->zoom_reset_requested, &e->zoom_reset_busy, REG_ZOOM_RESET) ||
	    start_reset(block, &e->focus_reset_requested, &e->focus_reset_busy, REG_FOCUS_RESET))
		return 0;
	if (e->zoom_to_wide) {
		zoom_move_abs(block->zoom, zoom_position_for_magnification(block->zoom, Q14_ONE));
		set_focus_dioptres(block, 0, 0);
		e->zoom_to_wide = 0;
	}
	return 1;
}

int start_init(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	block->mcu.initialised = 0;
	e->init_running = 1;
	e->zoom_to_wide = 1;
	e->zoom_reset_requested = 1;
	e->focus_reset_requested = 1;
	init_step(block);
	return 0;
}

int poll_init(struct camblock *block)
{
	if (block->mcu.initialised || init_step(block) != 1)
		return 0;
	optics_state state = {};
	poll(block, &state);
	if (zoom_idle(block->zoom) && focus_idle(block->focus) && iris_idle(block->iris) && block->focus &&
	    block->focus->settled)
		block->mcu.initialised = 1;
	return 0;
}

int set_motor_timing(struct camblock *, int32_t, int32_t)
{
	return 0;
}

int write_register(struct camblock *block, uint16_t reg, uint16_t value)
{
	return camblock_ekt_i2c_write(block, reg, value);
}

int read_register(struct camblock *block, uint16_t reg)
{
	return camblock_ekt_i2c_read(block, reg);
}

/* destroy (slot 24) */

// Units the platform still lists must not reach the freed block.
void forget_zoom_owner(struct camblock *block)
{
	for (int n = 0;; n++) {
		zoom_object *z = platform_get_nth_zoom(block->platform, block->stream_id, n);
		if (!z)
			break;
		if (z->owner == block)
			z->owner = nullptr;
	}
}

void destroy(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	g_free(e->distortion);
	e->distortion = nullptr;
	g_free(e->curves);
	e->curves = nullptr;
	g_free(e->distances);
	e->distances = nullptr;
	e->curve_count = 0;
	if (block->platform) {
		if (block->iris)
			platform_remove_all_iris(block->platform, 0);
		if (block->focus)
			platform_remove_all_focus(block->platform, block->stream_id);
		forget_zoom_owner(block);
	}
	block->iris = nullptr;
	block->focus = nullptr;
	camblock_lens_device_free(block->platform, block->mcu.device);
	block->mcu.device = nullptr;
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
	block->distance_index_to_focus_position = index_to_focus_position;
	block->focus_position_to_dioptres = focus_position_to_dioptres;
	block->get_lens_temperature = lens_temperature;
	block->dioptres_to_distance_index = dioptres_to_index;
	block->distance_index_to_dioptres = index_to_dioptres;
	block->get_fov_at_focus_position = fov_at;
	block->focal_length_at_focus_position = focal_length_at;
	block->get_current_fov = current_fov;
	block->get_current_focal_length = current_focal_length;
	block->distance_index_for_object_width = index_for_object_width;
	block->get_lens_distortion = lens_distortion;
	block->set_focus_dioptres = set_focus_dioptres;
	block->destroy = destroy;
	block->set_motor_timing = set_motor_timing;
	block->poll = poll;
	block->get_error_code = error_code;
	block->poll_init = poll_init;
	block->update_aperture = update_aperture;
}

/* set-up */

void write_lens_info(struct camblock *block, int major, int minor, int revision)
{
	char *path = vistrad_path("/run/vistrad/lens_info.txt");
	int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	g_free(path);
	if (fd < 0)
		return;
	char model[MODEL_LENGTH + 1] = {};
	if (camblock_ekt_i2c_read_buf(block, REG_MODEL, reinterpret_cast<uint8_t *>(model), MODEL_LENGTH) <
	    0) {
		debug_output(DEBUG_WARNING, 0, "Failed to read to lens model from e-KT lens\n");
		model[0] = '\0';
	}
	size_t length = strnlen(model, MODEL_LENGTH);
	while (length > 0 && g_ascii_isspace(model[length - 1]))
		length--;
	model[length] = '\0';
	debug_output(DEBUG_INFO, 0, "e-KT lens model = %s\n", model);
	char text[LENS_INFO_LENGTH];
	int n =
	    snprintf(text, sizeof(text), "LensType=e-KT\nModel=%s\nFirmwareVersion=%d.%d\nLensRevision=%d\n",
	             model, major, minor, revision);
	size_t wanted = n < 0 ? 0 : (size_t)n < sizeof(text) ? (size_t)n : sizeof(text) - 1;
	if (write(fd, text, wanted) != (ssize_t)wanted)
		debug_output(DEBUG_ERROR, 0, "Failed to write lens_info file: %s.\n", strerror(errno));
	if (close(fd) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to close lens_info file: %s.\n", strerror(errno));
}

void build_units(struct control *engine, struct camblock *block, int32_t stream_id)
{
	struct iris *iris = ekt_iris_new(block);
	camblock_set_iris(block, iris);
	control_add_iris(engine, iris, 0);
	struct zoom_object *zoom = ekt_zoom_new(block);
	camblock_set_zoom(block, zoom);
	control_add_zoom(engine, zoom, stream_id);
	struct focus_object *focus = ekt_focus_new(block);
	camblock_set_focus(block, focus);
	control_add_focus(engine, focus, stream_id);
}

// The trace curves: one per type-1 record, and one added at 10 dioptres
// reaching the focus's far end at the wide end.
void build_trace_model(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	if (camblock_ekt_i2c_read(block, REG_RECORD_COUNT) < 0)
		return;
	int32_t records = camblock_ekt_count_records(block, CAMBLOCK_EKT_RECORD_TRACE);
	int32_t wanted = (records > 0 ? records : 0) + 1;
	e->distances = g_new0(int32_t, wanted);
	e->curves = g_new0(camblock_ekt_record, wanted);
	int32_t read = 0, index = -1, count = 0;
	while (read < wanted - 1) {
		camblock_ekt_record *r = &e->curves[read];
		if (camblock_ekt_read_record(block, CAMBLOCK_EKT_RECORD_TRACE, r, &index, &count) != 0)
			break;
		e->distances[read] = (int32_t)optics_div_round((int64_t)r->value * Q14_ONE, 1000);
		read++;
	}
	camblock_ekt_record *added = &e->curves[read];
	if (read > 0)
		*added = e->curves[read - 1];
	int32_t zoom_min = block->zoom ? block->zoom->mech_min : 0;
	int32_t focus_max = block->focus ? block->focus->mech_max : 0;
	added->c[0] += (float)(focus_max - camblock_ekt_poly(added, zoom_min));
	e->distances[read] = ADDED_CURVE_DIOPTRES;
	e->curve_count = read + 1;
}

void set_limits(struct camblock *block, int32_t stream_id, int reset)
{
	ekt_block *e = ekt_of(block);
	camblock_mcu *m = &block->mcu;
	int32_t last = e->curve_count > 0 ? e->curve_count - 1 : 0;
	m->near_index = m->max_index = last << 9;
	m->far_index = m->min_index = FAR_INDEX;
	m->near_limit = e->curve_count > 0 ? e->distances[last] : 0;
	m->far_limit = FAR_LIMIT;
	param_set_int(PARAM_AF_NEAR_LIMIT, stream_id, m->near_limit);
	param_set_int(PARAM_AF_FAR_LIMIT, stream_id, m->far_limit);
	param_set_int(PARAM_AF_NEAR_LIMIT_MAX, stream_id, m->near_limit);
	param_set_int(PARAM_AF_FAR_LIMIT_MAX, stream_id, m->far_limit);
	param_set_fix(PARAM_OPTICS_MAX_MAG, stream_id, zoom_max_magnification(block->zoom));
	m->requested_index = 0;
	m->trace_mode = 1;
	e->init_running = e->zoom_to_wide = e->zoom_reset_requested = 0;
	e->zoom_reset_busy = e->focus_reset_requested = e->focus_reset_busy = 0;
	if (reset)
		param_set_int(PARAM_RESET_OPTICS_MOTOR_POS, stream_id, 1);
}

// One distortion entry: the ratio of image height to the pinhole height
// f tan(angle), fitted over the pinhole height.
void fit_distortion(struct camblock *block, const camblock_ekt_record *r, ekt_distortion *out)
{
	int32_t f = focal_length_at(block, r->value, 0);
	int32_t heights[64], ratios[64];
	int n = 0;
	for (int i = 0; n < 64; i++) {
		double h = i * DISTORTION_STEP;
		if (h >= DISTORTION_END)
			break;
		double angle = camblock_ekt_poly(r, h) * M_PI / 180.0;
		int32_t a = to_fixed(angle, Q14_ONE);
		int32_t cosine = fx_cosx(a, 14);
		int32_t tangent = cosine ? optics_q14_div(fx_sinx(a, 14), cosine) : 0;
		int32_t height = optics_q14_mul(f, tangent);
		heights[n] = height;
		ratios[n] = n == 0 ? Q14_ONE : optics_q14_div(to_fixed(h, Q14_ONE), height);
		n++;
		if (angle >= DISTORTION_MAX_ANGLE)
			break;
	}
	int32_t k[DISTORTION_ORDER] = {};
	out->zoom = r->value;
	if (fx_polyfit(heights, ratios, k, n, DISTORTION_ORDER, 14) != 0)
		return;
	for (int i = 0; i < DISTORTION_ORDER; i++)
		out->k[i] = (float)k[i];
}

void build_distortion(struct camblock *block)
{
	ekt_block *e = ekt_of(block);
	int32_t n = camblock_ekt_count_records(block, CAMBLOCK_EKT_RECORD_DISTORTION);
	if (n <= 0)
		return;
	e->distortion = g_new0(ekt_distortion, n);
	int32_t index = -1, count = 0;
	for (int32_t i = 0; i < n; i++) {
		camblock_ekt_record r;
		if (camblock_ekt_read_record(block, CAMBLOCK_EKT_RECORD_DISTORTION, &r, &index, &count) != 0)
			break;
		fit_distortion(block, &r, &e->distortion[i]);
		e->distortion_count = i + 1;
	}
}

struct ekt_settings {
	int32_t ekt_i2c_addr;
	char *ekt_i2c_dev;
	int32_t ekt_max_power;
	uint8_t override_aperture_setup;
	int32_t open_aperture;
	int32_t best_aperture;
	int32_t closed_aperture;
	int32_t max_closed_aperture;
	uint8_t override_speed_settings;
	int32_t focus_speed;
	int32_t zoom_speed;
	int32_t iris_speed;
	int32_t lens_type;
	uint8_t reset_at_startup;
};

#define FIELD(key, kind, def)                                                                                \
	prodconf_field_i32(#key, kind, PRODCONF_OPTIONAL, offsetof(ekt_settings, key), def)
const prodconf_field ekt_fields[] = {
    FIELD(ekt_i2c_addr, PRODCONF_INT, 0),
    prodconf_field_text("ekt_i2c_dev", PRODCONF_OPTIONAL, offsetof(ekt_settings, ekt_i2c_dev), nullptr),
    FIELD(ekt_max_power, PRODCONF_INT, 0),
    FIELD(override_aperture_setup, PRODCONF_BOOL, 0),
    FIELD(open_aperture, PRODCONF_FIXED, 0),
    FIELD(best_aperture, PRODCONF_FIXED, 0),
    FIELD(closed_aperture, PRODCONF_FIXED, 0),
    FIELD(max_closed_aperture, PRODCONF_FIXED, 0),
    FIELD(override_speed_settings, PRODCONF_BOOL, 0),
    FIELD(focus_speed, PRODCONF_INT, 0),
    FIELD(zoom_speed, PRODCONF_INT, 0),
    FIELD(iris_speed, PRODCONF_INT, 0),
    FIELD(lens_type, PRODCONF_INT, 0),
    FIELD(reset_at_startup, PRODCONF_BOOL, 1),
};
#undef FIELD
const prodconf_schema ekt_schema = {"camblock_ekt", sizeof(ekt_settings), ekt_fields,
                                    sizeof(ekt_fields) / sizeof(ekt_fields[0])};

void apply_settings(struct camblock *block, const ekt_settings *s)
{
	struct iris *iris = block->iris;
	if (s->override_aperture_setup && iris) {
		const int32_t values[4] = {s->open_aperture, s->best_aperture, s->closed_aperture,
		                           s->max_closed_aperture};
		for (int i = 0; i < 4; i++)
			if (values[i])
				iris->aperture_description[i] = values[i];
	}
	if (!s->override_speed_settings || ekt_of(block)->lens_type != s->lens_type)
		return;
	const struct {
		uint16_t reg;
		int32_t speed;
	} speeds[] = {{REG_FOCUS_SPEED, s->focus_speed},
	              {REG_ZOOM_SPEED, s->zoom_speed},
	              {REG_IRIS_SPEED, s->iris_speed}};
	for (const auto &sp : speeds)
		if (sp.speed)
			camblock_ekt_i2c_write(block, sp.reg, (uint16_t)sp.speed);
}

} // namespace

struct camblock *camblock_ekt_new(struct control *engine, struct platform *platform,
                                  struct camblock_lens_device *device, int32_t stream_id, uint16_t address,
                                  int32_t max_power)
{
	ekt_block *e = g_new0(ekt_block, 1);
	struct camblock *block = &e->base;
	control_add_camblock(engine, block, stream_id);
	camblock_add_platform(block, platform);
	block->type = CAMBLOCK_TYPE_COMMON;
	block->stream_id = stream_id;
	block->mcu.device = device;
	block->mcu.address = address;
	block->mcu.trace_mode = 1;
	e->max_power = max_power;
	e->lens_type = -1;
	fill_slots(block);
	return block;
}

int camblock_ekt_setup(struct control *engine, struct camblock *block, int32_t stream_id, int reset)
{
	if (!block)
		return -1;
	ekt_block *e = ekt_of(block);
	optics_sleep_ms(SETUP_WAIT_MS);
	int status = camblock_ekt_i2c_read(block, REG_STATUS);
	if (status < 0)
		return -4;
	if ((status & STATUS_READY) != STATUS_READY)
		return -1;
	if (status & STATUS_IRCUT)
		debug_output(DEBUG_WARNING, 0, "e-KT ircut not implemented!");
	int power = camblock_ekt_i2c_read(block, REG_POWER);
	if (power < 0)
		return -4;
	if (power > e->max_power) {
		debug_output(DEBUG_ERROR, 0, "e-KT lens power consumtion to large\n");
		return -1;
	}
	int major = camblock_ekt_i2c_read(block, REG_VERSION_MAJOR);
	int minor = camblock_ekt_i2c_read(block, REG_VERSION_MINOR);
	int type = camblock_ekt_i2c_read(block, REG_LENS_TYPE);
	int revision = camblock_ekt_i2c_read(block, REG_REVISION);
	e->lens_type = type;
	debug_output(DEBUG_INFO, 0, "e-KT lens type = 0x%x(%d) revision 0x%x(%d)\n", type, type, revision,
	             revision);
	debug_output(DEBUG_INFO, 0, "e-KT version Major = 0x%02x Minor = 0x%x(%d.%d)\n", major, minor, major,
	             minor);
	write_lens_info(block, major, minor, revision);
	build_units(engine, block, stream_id);
	build_trace_model(block);
	set_limits(block, stream_id, reset);
	build_distortion(block);
	int32_t index = -1, count = 0;
	if (camblock_ekt_read_record(block, CAMBLOCK_EKT_RECORD_TEMPERATURE, &e->temperature, &index,
	                             &count) != 0)
		memset(&e->temperature, 0, sizeof(e->temperature));
	param_set_int(PARAM_CAMBLOCK_ERROR, stream_id, 0);
	return 0;
}

void *camblock_ekt(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	struct platform *platform = control_get_platform(engine);
	void *item = nullptr;
	if (!prodconf_read_item(conf, &ekt_schema, ekt_schema.name, stream_id, &item))
		item = nullptr;
	ekt_settings defaults = {};
	defaults.reset_at_startup = 1;
	auto *settings = static_cast<ekt_settings *>(item);
	const ekt_settings *s = settings ? settings : &defaults;
	struct camblock_lens_device *device = camblock_lens_device_open(platform, s->ekt_i2c_dev);
	struct camblock *block = camblock_ekt_new(engine, platform, device, stream_id,
	                                          (uint16_t)s->ekt_i2c_addr, s->ekt_max_power);
	if (camblock_ekt_setup(engine, block, stream_id, s->reset_at_startup) == 0) {
		apply_settings(block, s);
		param_set_int(PARAM_CAMBLOCK_TYPE, stream_id, CAMBLOCK_TYPE_NAME_EKT);
	} else {
		debug_output(DEBUG_ERROR, 0, "e-KT lens setup failed\n");
	}
	if (settings)
		g_free(settings->ekt_i2c_dev);
	g_free(settings);
	return block;
}

int32_t camblock_ekt_get_requested_index(struct camblock *block)
{
	return block ? block->mcu.requested_index : 0;
}

void camblock_ekt_release_focus(struct camblock *block)
{
	if (!block || !block->focus)
		return;
	struct focus_object *focus = block->focus;
	block->focus = nullptr;
	// The platform lists the unit and would destroy it again: taken off
	// its list, it is destroyed there once.
	bool listed = false;
	for (int n = 0; block->platform && !listed; n++) {
		struct focus_object *f = platform_get_nth_focus(block->platform, block->stream_id, n);
		if (!f)
			break;
		listed = f == focus;
	}
	if (listed) {
		platform_remove_lens_components(block->platform, block->stream_id, nullptr, focus, nullptr,
		                                nullptr);
		return;
	}
	focus->platform = nullptr;
	g_free(focus_of(focus));
}

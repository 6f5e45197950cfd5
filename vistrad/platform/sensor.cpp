#include "sensor.h"

#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "core/debug_output.h"
#include "core/debug_registry.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "fixmath.h"
#include "platform_vorsalind.h"

#define PARAM_SENSOR_MAX_GAIN_DB 69
#define PARAM_SENSOR_LINE_TIME 70
#define PARAM_SENSOR_MIN_EXPOSURE_TIME 71
#define PARAM_SENSOR_MAX_EXPOSURE_TIME 72
#define PARAM_SENSOR_MAX_FRAMERATE 73
#define PARAM_PRODUCT_MAX_GAIN 105
#define PARAM_PRODUCT_AREA_CHANGED 143

// The exposure-time parameter's own upper limit.
#define SENSOR_MAX_EXPOSURE_PUBLISHED 2000000

namespace
{

void real_sleep(uint32_t ms)
{
	g_usleep((gulong)ms * 1000);
}

sensor_sleep_fn sleep_fn = real_sleep;

// A Q14 value to the nearest whole number, halves away from zero.
int32_t q14_round(int64_t value)
{
	int64_t whole = value >= 0 ? (value + 8192) / 16384 : (value - 8192) / 16384;
	return (int32_t)CLAMP(whole, (int64_t)INT32_MIN, (int64_t)INT32_MAX);
}

// Whether a wrapper may call into the sensor: object and platform present.
bool usable(const sensor *s)
{
	return s && s->platform;
}

} // namespace

struct sensor *sensor_new(void)
{
	sensor *s = g_new0(sensor, 1);
	s->type = SENSOR_TYPE_GENERIC;
	return s;
}

void sensor_free(struct sensor *sensor)
{
	if (!sensor)
		return;
	if (sensor->free) {
		sensor->free(sensor);
	} else {
		g_free(sensor->gain_table);
		g_free(sensor->read_noise_table);
		g_free(sensor->gain_index_table);
		g_free(sensor->priv);
	}
	g_free(sensor->lines);
	g_free(sensor->set_lines);
	g_free(sensor);
}

sensor_sleep_fn sensor_set_sleep(sensor_sleep_fn fn)
{
	sensor_sleep_fn old = sleep_fn;
	sleep_fn = fn ? fn : real_sleep;
	return old;
}

/* Slot wrappers ---------------------------------------------------------- */

int sensor_setup(struct sensor *sensor, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->setup)
		return -1;
	return sensor->setup(sensor, stream_id);
}

int sensor_reserved1(struct sensor *sensor, void *argument)
{
	if (!usable(sensor) || !sensor->reserved1)
		return -1;
	return sensor->reserved1(sensor, argument);
}

int sensor_reinit(struct sensor *sensor, void *argument)
{
	if (!usable(sensor) || !sensor->reinit)
		return -1;
	return sensor->reinit(sensor, argument);
}

int sensor_set_capture_mode(struct sensor *sensor, uint32_t mode, uint32_t frequency, uint32_t hdr)
{
	if (!usable(sensor) || !sensor->set_capture_mode)
		return 0;
	return sensor->set_capture_mode(sensor, mode, frequency, hdr);
}

int sensor_mode_is_wdr(struct sensor *sensor, uint32_t mode)
{
	if (!usable(sensor) || !sensor->mode_is_wdr)
		return 0;
	return sensor->mode_is_wdr(sensor, mode);
}

int sensor_get_mode_info(struct sensor *sensor, struct prodconf_area *area, uint32_t mode, uint32_t frequency,
                         uint32_t hdr, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->get_mode_info)
		return 0;
	return sensor->get_mode_info(sensor, area, mode, frequency, hdr, stream_id);
}

int sensor_apply_mode(struct sensor *sensor, struct prodconf_area *area, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->apply_mode)
		return -1;
	platform_stream_stop(sensor->platform, stream_id);
	int result = sensor->apply_mode(sensor, area, stream_id);
	sleep_fn(100);
	platform_stream_start(sensor->platform, stream_id);
	if (result != 0)
		return result;
	sensor_publish_limits(sensor, stream_id);
	if (sensor->full_well_adu8 != 0)
		publish_sensor_property("fullwell_e",
		                        (double)sensor->full_well * 255.0 / sensor->full_well_adu8);
	publish_sensor_property("conversion_factor", sensor->conversion_factor / 16384.0);
	publish_sensor_property("line_time_us", q14_round(sensor->line_time));
	param_set_int(PARAM_PRODUCT_AREA_CHANGED, stream_id, 1);
	return result;
}

int sensor_set_syncadjust(struct sensor *sensor, int32_t a, int32_t b)
{
	if (!usable(sensor) || !sensor->set_syncadjust) {
		debug_output(DEBUG_ERROR, 0, "set_syncadjust not supported by sensor\n");
		return -1;
	}
	return sensor->set_syncadjust(sensor, a, b);
}

int sensor_set_shutter(struct sensor *sensor, int32_t lines, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->set_shutter)
		return -1;
	return sensor->set_shutter(sensor, lines, stream_id);
}

int sensor_set_shutters(struct sensor *sensor, int count, const int32_t *stream_ids, const int32_t *lines,
                        int32_t *out_lines)
{
	if (!sensor || !sensor->set_shutters)
		return -1;
	return sensor->set_shutters(sensor, count, stream_ids, lines, out_lines);
}

int32_t sensor_reserved2(struct sensor *sensor, void *argument)
{
	if (!sensor || !sensor->reserved2)
		return 16384;
	return sensor->reserved2(sensor, argument);
}

int sensor_set_gain_index(struct sensor *sensor, int32_t gain_index, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->set_gain_index)
		return -1;
	if (sensor->read_noise_table) {
		if (gain_index < 0 || gain_index >= sensor->gain_table_size)
			return -1;
		sensor->read_noise = (int32_t)sensor->read_noise_table[gain_index];
	}
	if (sensor->set_gain_index(sensor, gain_index, stream_id) != 0)
		return -1;
	publish_sensor_property("readnoise_e", sensor_get_read_noise(sensor) / 16384.0);
	publish_sensor_property("blacklevel_adu12", sensor_get_black_level(sensor));
	return 0;
}

int sensor_set_gains(struct sensor *sensor, int count, const int32_t *gain_indexes, const int32_t *stream_ids)
{
	if (!usable(sensor) || !sensor->set_gains)
		return -1;
	return sensor->set_gains(sensor, count, gain_indexes, stream_ids);
}

int32_t sensor_get_gain_index(struct sensor *sensor, int32_t stream_id)
{
	if (!usable(sensor) || !sensor->get_gain_index)
		return -1;
	return sensor->get_gain_index(sensor, stream_id);
}

int32_t sensor_get_black_level(struct sensor *sensor)
{
	if (!usable(sensor) || !sensor->get_black_level)
		return -1;
	return sensor->get_black_level(sensor);
}

int32_t sensor_exposure_to_lines(struct sensor *sensor, int32_t microseconds)
{
	if (!usable(sensor) || !sensor->exposure_to_lines)
		return -1;
	return sensor->exposure_to_lines(sensor, microseconds);
}

int32_t sensor_exposure_to_lines_for_frame(struct sensor *sensor, int32_t microseconds, int32_t stream_id)
{
	if (!usable(sensor))
		return -1;
	if (!sensor->exposure_to_lines_for_frame)
		return sensor_exposure_to_lines(sensor, microseconds);
	return sensor->exposure_to_lines_for_frame(sensor, microseconds, stream_id);
}

int32_t sensor_lines_to_exposure(struct sensor *sensor, int32_t lines)
{
	if (!usable(sensor) || !sensor->lines_to_exposure)
		return -1;
	return sensor->lines_to_exposure(sensor, lines);
}

namespace
{

// One frame after the other through the shutter slot: each frame's request
// is capped at what the frame before got times the ratio.
int set_exposures_one_by_one(sensor *s, int32_t ratio, int count, const int32_t *stream_ids,
                             int32_t *exposures, int32_t *actual)
{
	int sum = 0;
	for (int i = 0; i < count; i++) {
		int32_t lines = sensor_exposure_to_lines_for_frame(s, exposures[i], stream_ids[i]);
		sum += sensor_set_shutter(s, lines, stream_ids[i]);
		actual[i] = sensor_lines_to_exposure(s, lines);
		if (i + 1 < count) {
			int64_t cap = (int64_t)actual[i] * ratio / 16384;
			if (cap < exposures[i + 1])
				exposures[i + 1] = (int32_t)cap;
		}
	}
	return sum;
}

// The two line arrays keep at least the two frames a WDR module's
// set_shutters always reads, and grow with the frame count.
void reserve_lines(sensor *s, int count)
{
	int size = count > 2 ? count : 2;
	if (size <= s->lines_size)
		return;
	g_free(s->lines);
	g_free(s->set_lines);
	s->lines = g_new0(uint32_t, size);
	s->set_lines = g_new0(uint32_t, size);
	s->lines_size = size;
}

} // namespace

int sensor_set_exposures(struct sensor *sensor, int32_t ratio, int count, const int32_t *stream_ids,
                         int32_t *exposures, int32_t *actual)
{
	if (!usable(sensor))
		return -1;
	if (sensor->set_exposures)
		return sensor->set_exposures(sensor, ratio, count, stream_ids, exposures, actual);
	if (count < 0 || (count > 0 && (!stream_ids || !exposures || !actual)))
		return -1;
	if (!sensor->set_shutters)
		return set_exposures_one_by_one(sensor, ratio, count, stream_ids, exposures, actual);
	reserve_lines(sensor, count);
	auto *lines = reinterpret_cast<int32_t *>(sensor->lines);
	auto *set_lines = reinterpret_cast<int32_t *>(sensor->set_lines);
	for (int i = 0; i < count; i++)
		lines[i] = sensor_exposure_to_lines_for_frame(sensor, exposures[i], stream_ids[i]);
	int result = sensor->set_shutters(sensor, count, stream_ids, lines, set_lines);
	for (int i = 0; i < count; i++)
		actual[i] = sensor_lines_to_exposure(sensor, set_lines[i]);
	return result;
}

int32_t sensor_reserved3(struct sensor *sensor, void *argument)
{
	if (!usable(sensor) || !sensor->reserved3)
		return 0;
	return sensor->reserved3(sensor, argument);
}

int32_t sensor_get_wdr_mode(struct sensor *sensor)
{
	if (!usable(sensor) || !sensor->get_wdr_mode)
		return 0;
	return sensor->get_wdr_mode(sensor);
}

int32_t sensor_reserved4(struct sensor *sensor, void *argument)
{
	if (!usable(sensor) || !sensor->reserved4)
		return 0;
	return sensor->reserved4(sensor, argument);
}

int32_t sensor_get_mode_max_fps(struct sensor *sensor, uint32_t mode, uint32_t frequency)
{
	if (!sensor || !sensor->get_mode_max_fps)
		return -1;
	return sensor->get_mode_max_fps(sensor, mode, frequency);
}

/* Limits and getters ----------------------------------------------------- */

int sensor_set_max_fps(struct sensor *sensor, int32_t fps, int32_t stream_id)
{
	if (!sensor)
		return -1;
	sensor->max_fps = fps;
	param_set_int(PARAM_SENSOR_MAX_FRAMERATE, stream_id, fps * 1000);
	return 0;
}

void sensor_publish_limits(struct sensor *sensor, int32_t stream_id)
{
	if (!sensor)
		return;
	int32_t product_max_gain;
	// A sensor without a gain table has no gain range to state.
	if (sensor->min_gain > 0 && param_get_int(PARAM_PRODUCT_MAX_GAIN, -1, &product_max_gain) == 0) {
		int64_t ratio = ((int64_t)product_max_gain << 14) / sensor->min_gain;
		int32_t db = fx_log10x((int32_t)CLAMP(ratio, (int64_t)1, (int64_t)INT32_MAX), 14);
		param_set_int(PARAM_SENSOR_MAX_GAIN_DB, stream_id, q14_round((int64_t)db * 20));
	}
	param_set_int(PARAM_SENSOR_LINE_TIME, stream_id, q14_round(sensor->line_time));
	param_set_int(PARAM_SENSOR_MAX_FRAMERATE, stream_id, sensor->max_fps * 1000);
	param_set_int(PARAM_SENSOR_MIN_EXPOSURE_TIME, stream_id, sensor->min_exposure_time);
	param_set_int(PARAM_SENSOR_MAX_EXPOSURE_TIME, stream_id,
	              MIN(sensor->max_exposure_time, SENSOR_MAX_EXPOSURE_PUBLISHED));
}

#define SENSOR_GETTER(type, name, expression)                                                                \
	type sensor_get_##name(struct sensor *sensor)                                                        \
	{                                                                                                    \
		return sensor ? (expression) : 0;                                                            \
	}

SENSOR_GETTER(int32_t, min_gain, sensor->min_gain)
SENSOR_GETTER(int32_t, max_gain, sensor->max_gain)
SENSOR_GETTER(const uint32_t *, gain_table, sensor->gain_table)
SENSOR_GETTER(int32_t, gain_table_size, sensor->gain_table_size)
SENSOR_GETTER(int32_t, max_fps, sensor->max_fps)
SENSOR_GETTER(int32_t, current_fps, sensor->current_fps)
SENSOR_GETTER(int32_t, full_well, sensor->full_well)
SENSOR_GETTER(int32_t, full_well_adu8, sensor->full_well_adu8)
SENSOR_GETTER(int32_t, read_noise_min_gain, sensor->read_noise_min_gain)
SENSOR_GETTER(int32_t, read_noise,
              sensor->read_noise_table ? sensor->read_noise : sensor->read_noise_min_gain)
SENSOR_GETTER(int32_t, q14_word, sensor->q14_word)
SENSOR_GETTER(int32_t, conversion_factor, sensor->conversion_factor)
SENSOR_GETTER(int32_t, line_time, sensor->line_time)
SENSOR_GETTER(int32_t, pixel_pitch, sensor->pixel_pitch)
SENSOR_GETTER(int32_t, active_width, sensor->active_width)
SENSOR_GETTER(int32_t, active_height, sensor->active_height)
SENSOR_GETTER(int32_t, area_factor, sensor->area_factor ? sensor->area_factor : 16384)
SENSOR_GETTER(int32_t, min_lines, sensor->min_lines)
SENSOR_GETTER(int32_t, max_lines, sensor->max_lines)
SENSOR_GETTER(int32_t, min_exposure_time, sensor->min_exposure_time)
SENSOR_GETTER(int32_t, max_exposure_time, sensor->max_exposure_time)

#undef SENSOR_GETTER

int sensor_get_fisheye_calibration(void *, const char *path, int32_t *a, int32_t *b, int32_t *c)
{
	FILE *f = path ? fopen(path, "rb") : nullptr;
	if (!f) {
		debug_output(DEBUG_WARNING, 0, "%s: Failed to open %s for reading\n",
		             "sensor_get_fisheye_calibration", path ? path : "(null)");
		return -1;
	}
	int32_t words[3];
	size_t got = fread(words, sizeof(words[0]), 3, f);
	fclose(f);
	if (got != 3) {
		debug_output(DEBUG_WARNING, 0, "%s: Failed to read calibration data\n",
		             "sensor_get_fisheye_calibration");
		return -1;
	}
	int32_t *out[] = {a, b, c};
	for (int i = 0; i < 3; i++)
		if (out[i])
			*out[i] = words[i];
	return 0;
}

/* Operations without callers --------------------------------------------- */

namespace
{

int forward_to_driver(sensor *s, int which, void *argument)
{
	if (!s)
		return -1;
	if (s->driver)
		return s->driver->op[which] ? s->driver->op[which](s->driver, argument) : -1;
	return s->driver_op[which] ? s->driver_op[which](s, argument) : -1;
}

// Both gains of a gain-file record are Q16: to Q14 each, then their product.
uint32_t gain_product(uint32_t first_q16, uint32_t second_q16)
{
	uint64_t a = ((uint64_t)first_q16 + 2) / 4;
	uint64_t b = ((uint64_t)second_q16 + 2) / 4;
	return (uint32_t)((a * b + 8192) / 16384);
}

uint32_t le32(const uint8_t *p)
{
	return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool opposite_signs(int64_t a, int64_t b)
{
	return (a < 0 && b > 0) || (a > 0 && b < 0);
}

} // namespace

int sensor_driver_read(struct sensor *sensor, void *argument)
{
	return forward_to_driver(sensor, 0, argument);
}

int sensor_driver_write(struct sensor *sensor, void *argument)
{
	return forward_to_driver(sensor, 1, argument);
}

void sensor_driver_free(struct sensor_driver *driver)
{
	if (!driver)
		return;
	if (driver->destroy)
		driver->destroy(driver);
	driver->type = 0;
	g_free(driver);
}

void sensor_set_active_area(struct sensor *sensor, const struct prodconf_area *window)
{
	if (!sensor || !window)
		return;
	int64_t width = (int64_t)window->xstop - window->xstart + 1;
	int64_t height = (int64_t)window->ystop - window->ystart + 1;
	sensor->active_width = (int32_t)(sensor->pixel_pitch * width / 1000);
	sensor->active_height = (int32_t)(sensor->pixel_pitch * height / 1000);
}

int sensor_read_gain_file(const char *prefix, const char *name, uint32_t **gains, uint16_t **words)
{
	if (!prefix || !name || !gains || !words)
		return -1;
	char *path = g_strconcat(prefix, name, nullptr);
	FILE *f = fopen(path, "rb");
	g_free(path);
	if (!f)
		return -1;
	uint8_t count;
	if (fread(&count, 1, 1, f) != 1) {
		fclose(f);
		return -1;
	}
	uint32_t *g = g_new0(uint32_t, count ? count : 1);
	uint16_t *w = g_new0(uint16_t, count ? count : 1);
	for (int i = 0; i < count; i++) {
		uint8_t rec[10];
		if (fread(rec, sizeof(rec), 1, f) != 1) {
			fclose(f);
			g_free(g);
			g_free(w);
			return -1;
		}
		g[i] = gain_product(le32(rec), le32(rec + 4));
		w[i] = (uint16_t)(rec[8] | rec[9] << 8);
	}
	fclose(f);
	*gains = g;
	*words = w;
	return count;
}

int32_t sensor_history_step(struct sensor *sensor, int32_t v, int32_t r)
{
	if (!sensor)
		return 0;
	int64_t sum = 0;
	bool against = false;
	for (int32_t entry : sensor->history) {
		sum += entry;
		against = against || opposite_signs(entry, v);
	}
	int64_t d = against ? 0 : (int64_t)v - sum;
	int64_t step = 0;
	if (v != 0 && !opposite_signs(d, v)) {
		int64_t lower = -((int64_t)r / 100);
		int64_t upper = (int64_t)r * 8 / 100;
		step = d > upper ? upper : d < lower ? lower : d;
	}
	int index = sensor->history_index >= 0 && sensor->history_index < 3 ? sensor->history_index : 0;
	sensor->history[index] = (int32_t)step;
	sensor->history_index = (index + 1) % 3;
	return (int32_t)step;
}

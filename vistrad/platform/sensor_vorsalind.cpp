#include "sensor_vorsalind.h"

#include <math.h>
#include <stddef.h>
#include <string.h>

#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "core/stream_map.h"
#include "fixmath.h"
#include "libcl.h"
#include "platform_vorsalind.h"
#include "sensor.h"
#include "sensor_vorsalind_modes.h"

#define PARAM_SENSOR_MAX_FRAMERATE 73

#define Q14(x) ((int32_t)((x)*16384.0 + 0.5))
#define Q14_ONE 16384

// A configuration with more gain indexes than this is refused rather than
// allocated: far beyond any sensor's gain range at any useful step.
#define SENSOR_GAIN_INDEX_MAX 65536

namespace
{

/* Settings items ---------------------------------------------------------- */

struct item_settings {
	int32_t min_gain; // Q14 dB
	int32_t max_gain;
	int32_t gain_step;
	int32_t max_exposure_time; // microseconds
	int32_t max_exposure_time_hdr;
	int32_t min_ratio; // Q14
	int32_t max_ratio;
	int32_t max_fps;
	int32_t pixel_pitch; // Q14 micrometres
	int32_t full_well_e; // Q14
	int32_t full_well_adu_8;
	int32_t read_noise_e_min_gain;
	int32_t capture_mode;
	int32_t hdr_mode;
	uint8_t hdr_available;
	int32_t backend_version;
	int32_t *map_gain;
	uint64_t map_gain_count;
	int32_t *map_ratio;
	uint64_t map_ratio_count;
	uint8_t extend_2x_long_frame;
	int32_t tuning_id;
	uint8_t use_2x_wdr;
	uint8_t use_3x_wdr;
	uint8_t use_sensor_wdr;
};

prodconf_field item_value(const char *key, uint32_t kind, uint32_t requirement, size_t offset, int32_t def)
{
	return prodconf_field_i32(key, kind, requirement, offset, def);
}

prodconf_field item_list(const char *key, size_t offset, size_t count_offset)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_INT, PRODCONF_OPTIONAL, offset);
	f.dynamic = 1;
	f.count_offset = count_offset;
	return f;
}

#define REQ(key, field, kind) item_value(#key, kind, PRODCONF_REQUIRED, offsetof(item_settings, field), 0)
#define OPT(key, field, kind, def)                                                                           \
	item_value(#key, kind, PRODCONF_OPTIONAL, offsetof(item_settings, field), def)
#define MAPS                                                                                                 \
	item_list("sensor_map_gain", offsetof(item_settings, map_gain),                                      \
	          offsetof(item_settings, map_gain_count)),                                                  \
	    item_list("sensor_map_ratio", offsetof(item_settings, map_ratio),                                \
	              offsetof(item_settings, map_ratio_count))
#define MODEL_HEAD(tuning)                                                                                   \
	OPT(vorsalind_backend_version, backend_version, PRODCONF_INT, 0), MAPS,                              \
	    OPT(extend_2x_long_frame, extend_2x_long_frame, PRODCONF_BOOL, 1),                               \
	    OPT(tuning_id, tuning_id, PRODCONF_INT, tuning)
#define MODEL_LIMITS(max_gain_db)                                                                            \
	OPT(min_gain, min_gain, PRODCONF_FIXED, Q14(1.0)),                                                   \
	    OPT(max_gain, max_gain, PRODCONF_FIXED, Q14(max_gain_db)),                                       \
	    OPT(gain_step, gain_step, PRODCONF_FIXED, Q14(0.09375)),                                         \
	    OPT(max_exposure_time, max_exposure_time, PRODCONF_INT, 166667),                                 \
	    OPT(max_exposure_time_hdr, max_exposure_time_hdr, PRODCONF_INT, 33333),                          \
	    OPT(min_ratio, min_ratio, PRODCONF_FIXED, Q14(1.0)),                                             \
	    OPT(max_ratio, max_ratio, PRODCONF_FIXED, Q14(32.0)), OPT(max_fps, max_fps, PRODCONF_INT, 30)

const prodconf_field common_fields[] = {
    REQ(min_gain, min_gain, PRODCONF_FIXED),
    REQ(max_gain, max_gain, PRODCONF_FIXED),
    REQ(gain_step, gain_step, PRODCONF_FIXED),
    OPT(max_exposure_time, max_exposure_time, PRODCONF_INT, 166667),
    OPT(max_exposure_time_hdr, max_exposure_time_hdr, PRODCONF_INT, 33333),
    REQ(min_ratio, min_ratio, PRODCONF_FIXED),
    REQ(max_ratio, max_ratio, PRODCONF_FIXED),
    REQ(max_fps, max_fps, PRODCONF_INT),
    REQ(pixel_pitch, pixel_pitch, PRODCONF_FIXED),
    REQ(full_well_e, full_well_e, PRODCONF_FIXED),
    OPT(full_well_adu_8, full_well_adu_8, PRODCONF_FIXED, 0),
    REQ(read_noise_e_min_gain, read_noise_e_min_gain, PRODCONF_FIXED),
    OPT(capture_mode, capture_mode, PRODCONF_ENUM, 9),
    OPT(hdr_mode, hdr_mode, PRODCONF_ENUM, 0),
    OPT(hdr_available, hdr_available, PRODCONF_BOOL, 0),
    OPT(vorsalind_backend_version, backend_version, PRODCONF_INT, 0),
    MAPS,
    OPT(extend_2x_long_frame, extend_2x_long_frame, PRODCONF_BOOL, 1),
};

const prodconf_field ar0521_fields[] = {MODEL_HEAD(768), MODEL_LIMITS(42.0)};
const prodconf_field imx274_fields[] = {MODEL_HEAD(769)};
const prodconf_field ov2718_fields[] = {
    MODEL_HEAD(1025),
    MODEL_LIMITS(36.0),
    OPT(use_2x_wdr, use_2x_wdr, PRODCONF_BOOL, 0),
    OPT(use_3x_wdr, use_3x_wdr, PRODCONF_BOOL, 0),
    OPT(use_sensor_wdr, use_sensor_wdr, PRODCONF_BOOL, 1),
};

#undef REQ
#undef OPT
#undef MAPS
#undef MODEL_HEAD
#undef MODEL_LIMITS

const prodconf_schema common_schema = {"sensor_common_vorsalind", sizeof(item_settings), common_fields,
                                       G_N_ELEMENTS(common_fields)};
const prodconf_schema ar0521_schema = {"sensor_vorsalind_ar0521", sizeof(item_settings), ar0521_fields,
                                       G_N_ELEMENTS(ar0521_fields)};
const prodconf_schema imx274_schema = {"sensor_vorsalind_imx274", sizeof(item_settings), imx274_fields,
                                       G_N_ELEMENTS(imx274_fields)};
const prodconf_schema ov2718_schema = {"sensor_vorsalind_ov2718", sizeof(item_settings), ov2718_fields,
                                       G_N_ELEMENTS(ov2718_fields)};

void settings_free(item_settings *s)
{
	if (!s)
		return;
	g_free(s->map_gain);
	g_free(s->map_ratio);
	g_free(s);
}

/* The module's state ------------------------------------------------------ */

struct soc_sensor {
	int32_t max_exposure_linear; // microseconds
	int32_t max_exposure_wdr;
	int32_t min_ratio; // Q14
	int32_t max_ratio; // Q14, also set from the gain-to-ratio map
	int32_t lines[2];  // frame 0, frame 1 (the one frame of linear mode)
	int32_t gain_index[2];
	int32_t last_frame0_lines;
	int32_t sht0_max; // the video input's line limits of the two frames
	int32_t sht1_max;
	int32_t line_time; // Q14 microseconds
	int32_t *map_gain; // Q14
	int32_t map_gain_count;
	int32_t *map_ratio; // Q14
	int32_t map_ratio_count;
	uint8_t extend_2x_long_frame;
	int32_t backend_version;
	int32_t tuning_id;
	int32_t channel;
	int32_t capture_frequency;
	uint8_t use_2x_wdr;
	uint8_t use_3x_wdr;
	uint8_t use_sensor_wdr;
	const capture_mode_table *modes; // null for the generic module
	// The OV2718 offers only the WDR kinds its flags select.
	bool wdr_by_flags;
};

soc_sensor *soc_of(sensor *s)
{
	return static_cast<soc_sensor *>(s->priv);
}

bool is_wdr(const sensor *s)
{
	return s->wdr_mode != 0;
}

// Clamps as the conversions do: the upper bound is tested first, so a lower
// bound above it loses.
int64_t clamp_upper_first(int64_t v, int64_t lower, int64_t upper)
{
	if (v > upper)
		return upper;
	return v > lower ? v : lower;
}

int32_t to_i32(int64_t v)
{
	return (int32_t)CLAMP(v, (int64_t)INT32_MIN, (int64_t)INT32_MAX);
}

// a / b to the nearest integer, halves away from zero (b > 0).
int64_t div_round(int64_t a, int64_t b)
{
	return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

// The frame a stream exposes: the channel's stream map names the stream of
// frame 0 and of frame 1.
bool is_frame0(int32_t stream_id)
{
	return stream_map_stream_id(stream_id, 0) == stream_id;
}

bool is_frame1(int32_t stream_id)
{
	return stream_map_stream_id(stream_id, 1) == stream_id;
}

// Reads the channel's record, lets change edit it and writes it back.
template <typename F> int update_record(int channel, F change)
{
	shutter_gain sg;
	memset(&sg, 0, sizeof(sg));
	if (libcl_get_shutter_and_gain(channel, &sg) < 0)
		return -1;
	change(sg);
	return libcl_set_shutter_and_gain(channel, &sg) < 0 ? -1 : 0;
}

/* Conversions, shutter and gain (every module) ----------------------------- */

int soc_setup(sensor *, int32_t)
{
	return 0;
}

int32_t soc_lines_to_exposure(sensor *s, int32_t lines)
{
	int64_t l = clamp_upper_first(lines, s->min_lines, s->max_lines);
	int64_t us = div_round(l * s->line_time, Q14_ONE);
	return to_i32(clamp_upper_first(us, s->min_exposure_time, s->max_exposure_time));
}

int32_t soc_exposure_to_lines_for_frame(sensor *s, int32_t microseconds, int32_t stream_id)
{
	soc_sensor *p = soc_of(s);
	if (s->line_time <= 0)
		return -1;
	int64_t lines = div_round((int64_t)microseconds * Q14_ONE, s->line_time);
	if (!is_wdr(s))
		return to_i32(clamp_upper_first(lines, s->min_lines, s->max_lines));
	uint32_t method;
	if (libcl_get_hdr_method(0, &method) != 0) {
		debug_output(DEBUG_WARNING, 0, "Libcl can not get hdr method \n");
		return -1;
	}
	int32_t reserve = method == 4 ? 0 : p->extend_2x_long_frame ? p->last_frame0_lines : p->sht1_max;
	if (is_frame1(stream_id)) {
		int64_t upper = MIN((int64_t)s->max_lines, (int64_t)p->sht0_max - reserve);
		int64_t lower = MIN((int64_t)s->min_lines, upper);
		return to_i32(clamp_upper_first(lines, lower, upper));
	}
	if (is_frame0(stream_id)) {
		p->last_frame0_lines = to_i32(clamp_upper_first(lines, s->min_lines, p->sht1_max));
		return p->last_frame0_lines;
	}
	return -1;
}

int32_t soc_exposure_to_lines(sensor *s, int32_t microseconds)
{
	return soc_exposure_to_lines_for_frame(s, microseconds, 0);
}

int soc_get_shutter(sensor *s, int32_t stream_id, int32_t *lines)
{
	soc_sensor *p = soc_of(s);
	if (!lines)
		return -1;
	if (!is_wdr(s) || is_frame1(stream_id))
		*lines = p->lines[1];
	else if (is_frame0(stream_id))
		*lines = p->lines[0];
	else
		return -1;
	return 0;
}

// The record keeps the long exposure (frame 1, the only one in linear mode)
// in shutter[0] and frame 0 in shutter[1], as set_shutters writes them.
int soc_set_shutter(sensor *s, int32_t lines, int32_t stream_id)
{
	soc_sensor *p = soc_of(s);
	if (lines < 0)
		return -1;
	int frame;
	if (!is_wdr(s))
		frame = 1;
	else if (is_frame0(stream_id))
		frame = 0;
	else if (is_frame1(stream_id))
		frame = 1;
	else
		return -1;
	p->lines[frame] = lines;
	return update_record(p->channel,
	                     [&](shutter_gain &sg) { sg.shutter[frame == 1 ? 0 : 1] = (uint32_t)lines; });
}

int soc_set_shutters(sensor *s, int, const int32_t *, const int32_t *lines, int32_t *out)
{
	soc_sensor *p = soc_of(s);
	if (!lines)
		return -1;
	// lines[1] is the long exposure, limited by the first exposure's maximum.
	int32_t long_lines = to_i32(clamp_upper_first(lines[1], s->min_lines, p->sht0_max));
	p->lines[1] = long_lines;
	int64_t ratio = (int64_t)lines[1] * Q14_ONE / MAX(p->lines[0], 1);
	int64_t upper = p->sht1_max;
	if (ratio < p->min_ratio && p->min_ratio > 0)
		upper = div_round((int64_t)long_lines * Q14_ONE, p->min_ratio);
	int64_t lower = s->min_lines;
	if (ratio > p->max_ratio && p->max_ratio > 0)
		lower = div_round((int64_t)long_lines * Q14_ONE, p->max_ratio);
	p->lines[0] = to_i32(clamp_upper_first(lines[0], MIN(lower, upper), upper));
	if (out) {
		out[0] = p->lines[0];
		out[1] = p->lines[1];
	}
	return update_record(p->channel, [&](shutter_gain &sg) {
		sg.shutter[0] = (uint32_t)p->lines[1];
		sg.shutter[1] = (uint32_t)p->lines[0];
	});
}

// The maximum exposure ratio at a gain: the gain-to-ratio map at g (Q14 dB).
// Only as many entries as both maps have take part; with fewer than two
// there is no line to follow and the ratio stays.
void follow_ratio_map(soc_sensor *p, int64_t g)
{
	int n = MIN(p->map_gain_count, p->map_ratio_count);
	if (!p->map_gain || !p->map_ratio || n < 2)
		return;
	int i = 0;
	while (i < n && g > p->map_gain[i])
		i++;
	if (i == n) {
		p->max_ratio = p->map_ratio[n - 1];
		return;
	}
	int a = i == 0 ? 0 : i - 1;
	p->max_ratio = to_i32(
	    fx_lin_interp64(g, p->map_gain[a], p->map_gain[a + 1], p->map_ratio[a], p->map_ratio[a + 1]));
}

int soc_set_gains(sensor *s, int count, const int32_t *indexes, const int32_t *stream_ids)
{
	soc_sensor *p = soc_of(s);
	if (count <= 0 || !indexes || !stream_ids || (is_wdr(s) && count == 1))
		return -1;
	for (int k = 0; k < count; k++) {
		// Only the two exposure frames have a gain in the record.
		if (indexes[k] < 0 || indexes[k] >= s->gain_table_size || (stream_ids[k] & 255) > 1)
			return -1;
	}
	follow_ratio_map(p, (int64_t)indexes[0] * s->gain_step);
	for (int k = 0; k < count; k++)
		p->gain_index[stream_ids[k] & 255] = indexes[k];
	return update_record(stream_id_channel(stream_ids[0]), [&](shutter_gain &sg) {
		for (int k = 0; k < count; k++)
			sg.gain[stream_ids[k] & 255] = (uint32_t)indexes[k];
	});
}

int32_t soc_get_gain_index(sensor *s, int32_t stream_id)
{
	return soc_of(s)->gain_index[(stream_id & 255) != 0 ? 1 : 0];
}

int32_t soc_get_black_level(sensor *s)
{
	libcl_black_level level;
	memset(&level, 0, sizeof(level));
	if (libcl_get_black_level(soc_of(s)->channel, &level) != 0)
		return 0;
	const int32_t *values = is_wdr(s) ? level.exposure[1] : level.linear;
	int64_t sum = (int64_t)values[0] + values[1] + values[2] + values[3];
	int64_t mean = sum / 4;
	return to_i32(mean < 0 ? -mean : mean);
}

int32_t soc_get_capture_mode(sensor *s)
{
	return s->capture_mode;
}

int32_t soc_get_wdr_mode(sensor *s)
{
	return s->wdr_mode;
}

void soc_free(sensor *s)
{
	g_free(s->gain_table);
	g_free(s->gain_index_table);
	g_free(s->read_noise_table);
	soc_sensor *p = soc_of(s);
	if (p) {
		g_free(p->map_gain);
		g_free(p->map_ratio);
	}
	g_free(p);
	s->gain_table = nullptr;
	s->gain_index_table = nullptr;
	s->read_noise_table = nullptr;
	s->priv = nullptr;
}

/* Capture modes of the generic module ------------------------------------- */

int common_set_capture_mode(sensor *s, uint32_t mode, uint32_t frequency, uint32_t wdr)
{
	s->capture_mode = (int32_t)mode;
	s->wdr_mode = (int32_t)wdr;
	soc_of(s)->capture_frequency = (int32_t)frequency;
	return 0;
}

int common_mode_is_wdr(sensor *s, uint32_t)
{
	return s->hdr_available;
}

int common_get_mode_info(sensor *, prodconf_area *area, uint32_t, uint32_t, uint32_t, int32_t)
{
	if (!area)
		return -1;
	area[PRODCONF_AREA_OUTPUT] = area[PRODCONF_AREA_SENSOR];
	return 0;
}

/* Capture modes of the models --------------------------------------------- */

bool row_selectable(const soc_sensor *p, const capture_mode_row *row)
{
	if (!p->wdr_by_flags)
		return true;
	switch (row->video.wdr_mode) {
	case 0:
		return true;
	case 1:
		return p->use_2x_wdr;
	case 2:
		return p->use_3x_wdr;
	case 4:
		return p->use_sensor_wdr;
	default:
		return false;
	}
}

// The first row, 60 Hz half first, of the mode with the requested WDR flag
// that the sensor can select; a requested 2 is WDR as 1 is.
const capture_mode_row *find_row(const soc_sensor *p, uint32_t mode, uint32_t wdr)
{
	int32_t flag = wdr == 2 ? 1 : (int32_t)wdr;
	const capture_mode_table *t = p->modes;
	for (int i = 0; i < 2 * t->half; i++) {
		const capture_mode_row *row = &t->rows[i];
		if (row->mode == (int32_t)mode && row->wdr == flag && row_selectable(p, row))
			return row;
	}
	return nullptr;
}

int model_set_capture_mode(sensor *s, uint32_t mode, uint32_t, uint32_t wdr)
{
	soc_sensor *p = soc_of(s);
	if ((int32_t)mode == s->capture_mode && (int32_t)wdr == s->wdr_mode)
		return 0;
	const capture_mode_row *row = find_row(p, mode, wdr);
	if (!row) {
		debug_output(DEBUG_ERROR, 0, "Capture mode not supported (%d %d)\n", (int)mode, (int)wdr);
		return -1;
	}
	int result = platform_set_tvx_mode(s->platform, &row->video, p->tuning_id, p->channel);
	int32_t fps = (int32_t)row->video.max_framerate;
	sensor_set_max_fps(s, fps, -1);
	s->capture_mode = (int32_t)mode;
	s->current_fps = fps * Q14_ONE;
	s->wdr_mode = (int32_t)wdr;
	param_set_int(PARAM_SENSOR_MAX_FRAMERATE, p->channel << 8, fps * 1000);
	return result;
}

int model_mode_is_wdr(sensor *s, uint32_t mode)
{
	return find_row(soc_of(s), mode, 1) != nullptr;
}

int model_get_mode_info(sensor *s, prodconf_area *area, uint32_t mode, uint32_t, uint32_t wdr, int32_t)
{
	soc_sensor *p = soc_of(s);
	const capture_mode_row *row = find_row(p, mode, wdr);
	if (!row || !area)
		return -1;
	area[PRODCONF_AREA_SENSOR] = row->sensor_window;
	area[PRODCONF_AREA_FULL] = p->modes->full_array;
	for (int i = PRODCONF_AREA_FULL + 1; i < PRODCONF_AREA_OUTPUT; i++)
		area[i] = row->sensor_window;
	area[PRODCONF_AREA_OUTPUT] = row->output_window;
	return 0;
}

int32_t model_get_mode_max_fps(sensor *s, uint32_t mode, uint32_t frequency)
{
	const capture_mode_table *t = soc_of(s)->modes;
	if (frequency > 1)
		return -1;
	for (int i = 0; i < t->half; i++) {
		const capture_mode_row *row = &t->rows[(int)frequency * t->half + i];
		if (row->mode == (int32_t)mode)
			return to_i32((int64_t)floor(row->video.max_framerate * Q14_ONE + 0.5));
	}
	return -1;
}

void model_free(sensor *s)
{
	soc_free(s);
	libcl_deinit();
}

/* Creation ---------------------------------------------------------------- */

// Linear gain per gain index, in steps of the gain step up to the maximum
// gain: 10^(i x step / 20). False when the range gives no sensible table.
bool build_gain_table(sensor *s, int32_t max_gain_db, int32_t step_db)
{
	if (step_db <= 0 || max_gain_db <= 0) {
		debug_output(DEBUG_ERROR, 0,
		             "Sensor: gain step %d and max gain %d (Q14 dB) give no gain table\n",
		             (int)step_db, (int)max_gain_db);
		return false;
	}
	int64_t n = div_round(max_gain_db, step_db);
	if (n < 1 || n > SENSOR_GAIN_INDEX_MAX) {
		debug_output(DEBUG_ERROR, 0, "Sensor: %ld gain indexes are out of range\n", (long)n);
		return false;
	}
	s->gain_table_size = (int32_t)n;
	s->gain_table = g_new(uint32_t, n);
	s->gain_index_table = g_new(uint32_t, n);
	// The exponent keeps 24 fraction bits: at 14 the first step's is cut
	// from 76.8 to 76, and a gain step read back from entry 1 came out 1 %
	// short, so that gain indexes worked out with it overran a gain limit.
	for (int32_t i = 0; i < (int32_t)n; i++) {
		int32_t exponent = to_i32(div_round((int64_t)i * step_db << 10, 20));
		s->gain_table[i] = (uint32_t)fx_powx(Q14(10.0), 14, exponent, 24);
		s->gain_index_table[i] = (uint32_t)i;
	}
	s->min_gain = (int32_t)s->gain_table[0];
	s->max_gain = (int32_t)s->gain_table[n - 1];
	return true;
}

// Map entries are whole numbers; the module works with them in Q14.
int32_t *copy_map(const int32_t *values, uint64_t count, int32_t *out_count)
{
	*out_count = 0;
	if (!values || count == 0)
		return nullptr;
	uint64_t n = MIN(count, (uint64_t)INT32_MAX);
	auto *copy = g_new(int32_t, n);
	for (uint64_t i = 0; i < n; i++)
		copy[i] = to_i32((int64_t)values[i] * Q14_ONE);
	*out_count = (int32_t)n;
	return copy;
}

// What every module's sensor starts with; the caller fills its model's values.
sensor *soc_sensor_new(const item_settings *cfg, int32_t stream_id, const capture_mode_table *modes)
{
	sensor *s = g_new0(sensor, 1);
	auto *p = g_new0(soc_sensor, 1);
	s->type = SENSOR_TYPE_SOC;
	s->priv = p;
	s->min_lines = 1;
	s->max_lines = 555555;
	s->capture_mode = -1; // no mode yet: the first one is always applied
	s->gain_step = cfg->gain_step;
	p->lines[0] = 1;
	p->lines[1] = 2;
	p->sht0_max = 2;
	p->sht1_max = 1;
	p->line_time = Q14_ONE;
	p->map_gain = copy_map(cfg->map_gain, cfg->map_gain_count, &p->map_gain_count);
	p->map_ratio = copy_map(cfg->map_ratio, cfg->map_ratio_count, &p->map_ratio_count);
	p->extend_2x_long_frame = cfg->extend_2x_long_frame;
	p->backend_version = cfg->backend_version;
	p->tuning_id = cfg->tuning_id;
	p->channel = stream_id_channel(stream_id);
	p->min_ratio = cfg->min_ratio;
	p->max_ratio = cfg->max_ratio;
	p->modes = modes;

	s->setup = soc_setup;
	s->set_shutter = soc_set_shutter;
	s->set_shutters = soc_set_shutters;
	s->set_gains = soc_set_gains;
	s->get_gain_index = soc_get_gain_index;
	s->lines_to_exposure = soc_lines_to_exposure;
	s->exposure_to_lines = soc_exposure_to_lines;
	s->exposure_to_lines_for_frame = soc_exposure_to_lines_for_frame;
	s->get_shutter = soc_get_shutter;
	s->get_black_level = soc_get_black_level;
	s->get_capture_mode = soc_get_capture_mode;
	s->get_wdr_mode = soc_get_wdr_mode;
	if (modes) {
		s->set_capture_mode = model_set_capture_mode;
		s->mode_is_wdr = model_mode_is_wdr;
		s->get_mode_info = model_get_mode_info;
		s->get_mode_max_fps = model_get_mode_max_fps;
		s->free = model_free;
	} else {
		s->set_capture_mode = common_set_capture_mode;
		s->mode_is_wdr = common_mode_is_wdr;
		s->get_mode_info = common_get_mode_info;
		s->free = soc_free;
	}
	if (!build_gain_table(s, cfg->max_gain, cfg->gain_step)) {
		soc_free(s);
		g_free(s);
		return nullptr;
	}
	return s;
}

item_settings *read_settings(prodconf *conf, const prodconf_schema *schema, int32_t stream_id)
{
	void *record = nullptr;
	if (!prodconf_read_item(conf, schema, schema->name, stream_id, &record) || !record) {
		g_free(record);
		return nullptr;
	}
	return static_cast<item_settings *>(record);
}

// The values the AR0521, IMX274 and OV2718 share.
void model_constants(sensor *s, int32_t min_exposure_time, int32_t line_time, int32_t pixel_pitch)
{
	soc_sensor *p = soc_of(s);
	s->min_exposure_time = min_exposure_time;
	s->line_time = line_time;
	p->line_time = line_time;
	s->full_well = Q14(8304.0);
	s->full_well_adu8 = Q14(231.25);
	s->read_noise_min_gain = Q14(5.0);
	s->pixel_pitch = pixel_pitch;
	s->hdr_available = 1;
	p->max_exposure_linear = 200000;
	p->max_exposure_wdr = 40000;
}

// The limits a model's item does not name.
struct fixed_limits {
	int32_t min_gain, max_gain, gain_step; // Q14 dB
	int32_t min_ratio, max_ratio;          // Q14
};

typedef void (*model_fill_fn)(sensor *s, const item_settings *cfg);

// Reads the item, makes the sensor and lets the module fill in its values.
sensor *create(prodconf *conf, int32_t stream_id, const prodconf_schema *schema,
               const capture_mode_table *modes, const fixed_limits *limits, model_fill_fn fill)
{
	item_settings *cfg = read_settings(conf, schema, stream_id);
	if (!cfg)
		return nullptr;
	if (limits) {
		cfg->min_gain = limits->min_gain;
		cfg->max_gain = limits->max_gain;
		cfg->gain_step = limits->gain_step;
		cfg->min_ratio = limits->min_ratio;
		cfg->max_ratio = limits->max_ratio;
	}
	sensor *s = soc_sensor_new(cfg, stream_id, modes);
	if (s)
		fill(s, cfg);
	settings_free(cfg);
	return s;
}

void common_fill(sensor *s, const item_settings *cfg)
{
	soc_sensor *p = soc_of(s);
	s->min_exposure_time = 1;
	s->max_exposure_time = cfg->max_exposure_time;
	s->max_fps = cfg->max_fps;
	s->line_time = Q14_ONE;
	s->full_well = cfg->full_well_e;
	s->full_well_adu8 = cfg->full_well_adu_8;
	s->read_noise_min_gain = cfg->read_noise_e_min_gain;
	s->pixel_pitch = cfg->pixel_pitch;
	s->hdr_available = cfg->hdr_available;
	p->max_exposure_linear = cfg->max_exposure_time;
	p->max_exposure_wdr = cfg->max_exposure_time_hdr;
}

void ar0521_fill(sensor *s, const item_settings *cfg)
{
	model_constants(s, 31, Q14(31.0), 36045);
	s->max_exposure_time = cfg->max_exposure_time;
	s->max_fps = cfg->max_fps;
	sensor_publish_limits(s, -1);
}

void imx274_fill(sensor *s, const item_settings *)
{
	model_constants(s, 1, Q14(1.0), 32768);
	s->max_exposure_time = 0; // until the first frame rate comes
	s->max_fps = 30;
}

void ov2718_fill(sensor *s, const item_settings *cfg)
{
	soc_sensor *p = soc_of(s);
	model_constants(s, 31, Q14(31.0), 45875);
	s->max_exposure_time = cfg->max_exposure_time;
	s->max_fps = 30;
	p->use_2x_wdr = cfg->use_2x_wdr;
	p->use_3x_wdr = cfg->use_3x_wdr;
	p->use_sensor_wdr = cfg->use_sensor_wdr;
	p->wdr_by_flags = true;
	sensor_publish_limits(s, -1);
}

const fixed_limits imx274_limits = {Q14(1.0), Q14(45.0), Q14(0.09375), Q14(1.0), Q14(64.0)};

void *common_create(prodconf *conf, control *, int32_t stream_id)
{
	return create(conf, stream_id, &common_schema, nullptr, nullptr, common_fill);
}

void *ar0521_create(prodconf *conf, control *, int32_t stream_id)
{
	return create(conf, stream_id, &ar0521_schema, &sensor_ar0521_modes, nullptr, ar0521_fill);
}

void *imx274_create(prodconf *conf, control *, int32_t stream_id)
{
	return create(conf, stream_id, &imx274_schema, &sensor_imx274_modes, &imx274_limits, imx274_fill);
}

void *ov2718_create(prodconf *conf, control *, int32_t stream_id)
{
	return create(conf, stream_id, &ov2718_schema, &sensor_ov2718_modes, nullptr, ov2718_fill);
}

struct module_row {
	const char *name;
	prodconf_create_fn create;
	uint32_t category;
};

const module_row sensor_module_table[] = {
    {"sensor_vorsalind_ar0521", ar0521_create, PRODCONF_STATE_SENSOR},
    {"sensor_vorsalind_imx274", imx274_create, PRODCONF_STATE_SENSOR},
    {"sensor_vorsalind_ov2718", ov2718_create, PRODCONF_STATE_SENSOR},
};

soc_sensor *soc_sensor_of(sensor *s)
{
	return s && s->type == SENSOR_TYPE_SOC ? soc_of(s) : nullptr;
}

} // namespace

void sensor_register_modules(struct prodconf *conf)
{
	if (!conf || !conf->add_item)
		return;
	conf->add_item(conf, "sensor_common_vorsalind", common_create, nullptr, nullptr, 1,
	               PRODCONF_STATE_SENSOR);
	for (const module_row &row : sensor_module_table)
		conf->add_item(conf, row.name, row.create, nullptr, nullptr, 1, row.category);
}

void sensor_update_framerate(struct sensor *sensor, int32_t, double framerate)
{
	soc_sensor *p = soc_sensor_of(sensor);
	if (!p || !isfinite(framerate))
		return;
	sensor->current_fps = to_i32((int64_t)(framerate * Q14_ONE + (framerate < 0 ? -0.5 : 0.5)));
	vin_aaa_info info;
	memset(&info, 0, sizeof(info));
	if (libcl_get_vin_aaa_info(p->channel, &info) != 0)
		return;
	// The word counts 1/512 us: times 32 is Q14.
	int32_t line_time = to_i32((int64_t)info.line_time * 32);
	if (line_time <= 0) {
		debug_output(DEBUG_WARNING, 0, "Sensor: the video input gives no line time\n");
		return;
	}
	sensor->line_time = line_time;
	p->line_time = line_time;
	p->sht0_max = to_i32(info.sht0_max);
	p->sht1_max = to_i32(info.sht1_max);
	if (is_wdr(sensor)) {
		int32_t frame_time = sensor->max_fps > 0 ? 1000000 / sensor->max_fps : 0;
		sensor->max_exposure_time = MAX(p->max_exposure_wdr, frame_time);
		int64_t q28 = (int64_t)line_time * p->min_ratio;
		sensor->min_exposure_time = to_i32((q28 + (1LL << 28) - 1) >> 28);
	} else {
		sensor->max_exposure_time = p->max_exposure_linear;
		sensor->min_exposure_time = to_i32(((int64_t)line_time + Q14_ONE - 1) >> 14);
	}
}

int sensor_get_exposure_limits(struct sensor *sensor, int32_t exposure[2], int32_t ratio[2])
{
	soc_sensor *p = soc_sensor_of(sensor);
	if (!p || !exposure || !ratio)
		return -1;
	if (is_wdr(sensor)) {
		exposure[0] = to_i32(div_round((int64_t)p->sht0_max * sensor->line_time, Q14_ONE));
		exposure[1] = to_i32(div_round((int64_t)p->sht1_max * sensor->line_time, Q14_ONE));
		ratio[0] = p->min_ratio;
		ratio[1] = p->max_ratio;
	} else {
		exposure[0] = p->max_exposure_linear;
		exposure[1] = 0;
		ratio[0] = Q14_ONE;
	}
	return 0;
}

gboolean sensor_vorsalind_set_framerate(struct sensor *sensor, int32_t stream_id, double framerate)
{
	if (!videoinput_input_set_framerate(stream_id_channel(stream_id), framerate))
		return FALSE;
	return sensor_set_max_fps(sensor, (int32_t)(framerate + 0.06), stream_id) >= 0;
}

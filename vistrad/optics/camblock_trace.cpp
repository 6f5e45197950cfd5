#include "camblock_trace.h"

#include <glib.h>

#include "camblock.h"
#include "focus_zoom.h"
#include "optics_math.h"
#include "platform/platform.h"
#include "platform/sensor.h"

namespace
{

#define Q14_ONE 16384
#define MAX_CURVES 64
#define MAX_FIELDS 8
// 57.29578 degrees per radian, Q14.
#define DEGREES_PER_RADIAN 938734
// The C50x1485's own table brackets its half-sizes at most at this index.
#define C50X1485_MAX_BRACKET 9

// A curve set the lens does not have reads as its last set (the IR-cut
// filter may ask for set 2 on a lens that calibrated only two).
int32_t usable_set(const struct camblock_trace *t, int32_t set)
{
	if (set < 0)
		return 0;
	return set < t->set_count ? set : t->set_count - 1;
}

// The coefficients of every field at a distance index, interpolated towards
// the next curve by the 9-bit fraction.
void load_weights(struct camblock_trace *t, int32_t set, int32_t index)
{
	int32_t c = (index >> 9) & 63;
	if (c > t->curve_count - 1)
		c = t->curve_count - 1;
	int32_t fraction = index & 511;
	for (int32_t k = 0; k < t->field_count; k++) {
		const int32_t *row =
		    t->coefficients + ((int64_t)set * t->fields_per_set + k) * t->curve_stride;
		int32_t w = row[c];
		if (c < t->curve_count - 1)
			w += (int32_t)(((int64_t)row[c + 1] - row[c]) * fraction >> 9);
		t->weights[k] = w;
	}
}

// One packed word weighted by the loaded coefficients: the 32-bit sum
// rounded half away from zero to whole steps, plus the set's base.
int32_t word_value(const struct camblock_trace *t, int32_t i, int32_t set)
{
	uint32_t word = t->words[i];
	uint32_t sum = 0;
	for (int32_t k = 0; k < t->field_count; k++) {
		int32_t v = (int32_t)((word & t->field_masks[k]) >> t->field_shifts[k]) + t->field_offsets[k];
		sum += (uint32_t)v * (uint32_t)t->weights[k];
	}
	int32_t s = (int32_t)sum;
	int64_t magnitude = s < 0 ? -(int64_t)s : s;
	int32_t steps = (int32_t)((magnitude + ((int64_t)1 << (t->final_shift - 1))) >> t->final_shift);
	return t->base_offsets[set] + (s < 0 ? -steps : steps);
}

// The position at a zoom position with the loaded weights: words describe
// every fourth step, the steps between interpolate. Zoom positions outside
// the table take its end words.
int32_t curve_position(const struct camblock_trace *t, int32_t zoom, int32_t set)
{
	int32_t zi = zoom / 4;
	int32_t zr = zoom % 4;
	if (zi < 0) {
		zi = 0;
		zr = 0;
	} else if (zi > t->word_count - 1) {
		zi = t->word_count - 1;
		zr = 0;
	}
	int32_t f = word_value(t, zi, set);
	if (zi < t->word_count - 1 && zr >= 1)
		f += (int32_t)(((int64_t)word_value(t, zi + 1, set) - f) * zr / 4);
	return f;
}

int32_t position_of_curve(struct camblock_trace *t, int32_t zoom, int32_t set, int32_t curve)
{
	load_weights(t, set, curve << 9);
	return curve_position(t, zoom, set);
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

// Ratio of the angle at the current focus to the one at infinity applied to
// an angle; an angle of 0 at infinity leaves it as it is.
uint32_t breathe(uint32_t angle, int32_t current, int32_t infinity)
{
	if (infinity == 0)
		return angle;
	int64_t ratio = optics_div_round((int64_t)current * Q14_ONE, infinity);
	return (uint32_t)optics_div_round((int64_t)angle * ratio, Q14_ONE);
}

// The angle of a size (Q14 millimetres) from two rows of a table at a zoom
// position between the rows' zoom points; the half-size bracket starts at
// most at max_bracket.
int32_t table_angle(const struct camblock_fov_table *table, const struct zoom_object *z, int32_t zoom, int r0,
                    int r1, int32_t size, int max_bracket)
{
	int32_t x = (int32_t)optics_div_round(size, 2);
	int lo, hi;
	optics_lower_bracket(x, table->half_sizes, table->half_size_count, &lo, &hi);
	if (lo > max_bracket && max_bracket + 1 < table->half_size_count) {
		lo = max_bracket;
		hi = max_bracket + 1;
	}
	const int32_t *s = table->half_sizes;
	const int32_t *a = table->rows + (int64_t)r0 * table->half_size_count;
	const int32_t *b = table->rows + (int64_t)r1 * table->half_size_count;
	int32_t at0 = fx_lin_interp32(x, s[lo], s[hi], a[lo], a[hi]);
	int32_t at1 = fx_lin_interp32(x, s[lo], s[hi], b[lo], b[hi]);
	return fx_lin_interp(zoom, z->positions[r0], z->positions[r1], at0, at1);
}

int fov_lookup(struct camblock *block, int32_t zoom, const struct camblock_fov_table *table,
               uint32_t *horizontal, uint32_t *vertical, int32_t scale, int max_bracket, int doubled,
               int breathing_ratio)
{
	struct zoom_object *z = block ? block->zoom : nullptr;
	if (!z || z->count <= 0 || !z->positions || !table || !table->rows || table->row_count <= 0 ||
	    !table->half_sizes || table->half_size_count <= 0)
		return -3;
	struct sensor *sensor = platform_get_sensor_for_stream(block->platform, 0);
	int32_t w = optics_q14_mul(sensor_get_active_width(sensor), scale);
	int32_t h = optics_q14_mul(sensor_get_active_height(sensor), scale);
	int r0, r1;
	optics_lower_bracket(zoom, z->positions, z->count < table->row_count ? z->count : table->row_count,
	                     &r0, &r1);
	uint32_t angle_h = (uint32_t)table_angle(table, z, zoom, r0, r1, w, max_bracket);
	uint32_t angle_v = (uint32_t)table_angle(table, z, zoom, r0, r1, h, max_bracket);
	if (doubled) {
		angle_h *= 2;
		angle_v *= 2;
	}
	struct focus_object *focus = block->focus;
	if (breathing_ratio && focus) {
		uint32_t q = z->focal_model_q;
		int32_t now = camblock_focal_model(block, zoom, focus->value, focus->value_is_position);
		// As the lens does it: the infinity position is read with the focus
		// unit's own flag, even when that unit holds a distance index.
		int32_t at_infinity = camblock_distance_index_to_focus_position(block, zoom, 0);
		int32_t far = camblock_focal_model(block, zoom, at_infinity, focus->value_is_position);
		angle_h = breathe(angle_h, camblock_fov_angle(w, now, q), camblock_fov_angle(w, far, q));
		angle_v = breathe(angle_v, camblock_fov_angle(h, now, q), camblock_fov_angle(h, far, q));
	}
	if (horizontal)
		*horizontal = angle_h;
	if (vertical)
		*vertical = angle_v;
	return 0;
}

} // namespace

struct camblock_trace *camblock_trace_new(const struct camblock_trace *layout)
{
	if (!layout || !layout->words || layout->word_count <= 0 || layout->field_count < 1 ||
	    layout->field_count > MAX_FIELDS || layout->curve_count < 1 || layout->curve_count > MAX_CURVES ||
	    layout->set_count < 1 || layout->final_shift < 1 || layout->final_shift > 31 ||
	    !layout->coefficients || !layout->field_masks || !layout->field_offsets ||
	    !layout->field_shifts || !layout->base_offsets)
		return nullptr;
	for (int32_t k = 0; k < layout->field_count; k++)
		if (layout->field_shifts[k] > 31)
			return nullptr;
	struct camblock_trace *t = g_new(struct camblock_trace, 1);
	*t = *layout;
	t->fields_per_set = t->field_count;
	t->curve_stride = t->curve_count;
	t->set_count_copy = t->set_count;
	t->weights = g_new0(int32_t, t->field_count);
	return t;
}

void camblock_trace_free(struct camblock_trace *trace)
{
	if (!trace)
		return;
	g_free(trace->weights);
	g_free(trace);
}

uint32_t camblock_trace_focus_position(struct camblock_trace *trace, int32_t zoom, int32_t index, int32_t set,
                                       int32_t dome_index)
{
	if (!trace)
		return 0;
	set = usable_set(trace, set);
	if (index >= 0) {
		load_weights(trace, set, index);
		return (uint32_t)curve_position(trace, zoom, set);
	}
	// Behind infinity: steps back from the infinity curve seen through the dome.
	load_weights(trace, set, dome_index);
	int32_t units = trace->index_units_per_step;
	int32_t f = curve_position(trace, zoom, set) + (units > 0 ? index / units : 0);
	return f < 0 ? 0 : (uint32_t)f;
}

int32_t camblock_trace_distance_index(struct camblock_trace *trace, int32_t zoom, int32_t position,
                                      int32_t set)
{
	if (!trace || trace->curve_count <= 1)
		return 0;
	set = usable_set(trace, set);
	int32_t n = trace->curve_count;
	int32_t lo = 0, hi = n - 1, mid = n / 2;
	int32_t pos_lo = 0, pos_hi = 0;
	while (lo < mid && mid < hi) {
		int32_t p = position_of_curve(trace, zoom, set, mid);
		if (position > p) {
			lo = mid;
			pos_lo = p;
		} else if (position < p) {
			hi = mid;
			pos_hi = p;
		} else {
			return mid << 9;
		}
		mid = lo + (hi - lo) / 2;
	}
	if (hi == 1) {
		pos_lo = position_of_curve(trace, zoom, set, 0);
		if (position <= pos_lo)
			return (position - pos_lo) * trace->index_units_per_step;
	}
	if (lo == n - 2) {
		pos_hi = position_of_curve(trace, zoom, set, n - 1);
		if (position >= pos_hi)
			return (n - 1) << 9;
	}
	if (lo == n - 1 || hi == 0 || pos_lo == pos_hi)
		return lo << 9;
	int64_t fraction = ((int64_t)position - pos_lo) * 512 / ((int64_t)pos_hi - pos_lo);
	return (lo << 9) + (int32_t)(fraction < 511 ? fraction : 511);
}

int32_t camblock_focal_model(struct camblock *block, int32_t zoom, int32_t focus, int focus_is_position)
{
	struct zoom_object *z = block ? block->zoom : nullptr;
	if (!z || z->count <= 0 || !z->positions || !z->focal_model)
		return 0;
	uint32_t q = z->focal_model_q;
	int zlo, zhi;
	optics_lower_bracket(zoom, z->positions, z->count, &zlo, &zhi);
	const int32_t *pz = z->positions;
	int32_t g0 = fx_lin_interp32(zoom, pz[zlo], pz[zhi], z->focal_model[zlo], z->focal_model[zhi]);
	const struct camblock_mcu *m = &block->mcu;
	bool second = m->second_per_curve && m->second_per_zoom && m->distances && m->curve_count > 0;
	// Formats beyond 30 fraction bits cannot hold the corrections' products.
	if ((!second && !m->breathing) || q > 30)
		return g0;
	int32_t index = focus_is_position
	                    ? camblock_trace_distance_index(m->trace, zoom, focus, (int32_t)m->trace_set)
	                    : focus;
	int32_t d = camblock_distance_index_to_dioptres(block, index);
	int32_t dc = clamp(d, 0, Q14_ONE);
	if (second) {
		if (d <= 0 || q < 3)
			return g0;
		int clo, chi;
		optics_lower_bracket(dc, m->distances, m->curve_count, &clo, &chi);
		int64_t a = fx_lin_interp64(dc, m->distances[clo], m->distances[chi],
		                            m->second_per_curve[clo], m->second_per_curve[chi]);
		int32_t b =
		    fx_lin_interp32(zoom, pz[zlo], pz[zhi], m->second_per_zoom[zlo], m->second_per_zoom[zhi]);
		int64_t c = optics_round_shift(a * b, (int)q);
		int64_t quarter = (int64_t)1 << (2 * q - 2);
		int64_t reduced = optics_div_round(quarter, g0) - c;
		// g0 of 0 has no focal length to shorten, and a correction that
		// used it all up would divide by zero.
		if (g0 == 0 || reduced == 0)
			return g0;
		return (int32_t)optics_div_round(quarter, reduced);
	}
	int64_t dq = q >= 14 ? (int64_t)dc << (q - 14) : optics_round_shift(dc, 14 - (int)q);
	int64_t a = m->breathing[0], b = m->breathing[1];
	int64_t g0d = optics_round_shift(g0 * dq, (int)q);
	return (int32_t)(g0 + optics_round_shift(a * g0d, (int)q) + optics_round_shift(b * dq, (int)q));
}

int32_t camblock_focal_length(struct camblock *block, int32_t zoom, int32_t focus, int focus_is_position)
{
	int32_t g = camblock_focal_model(block, zoom, focus, focus_is_position);
	if (g == 0)
		return 0;
	uint32_t q = block->zoom->focal_model_q;
	if (q > 30)
		return 0;
	int64_t half = q ? (int64_t)1 << (q - 1) : 1;
	int64_t magnitude = g < 0 ? -(int64_t)g : g;
	int64_t f = ((half << q) + magnitude / 2) / g;
	if (q < 15)
		return (int32_t)(f * ((int64_t)1 << (14 - q)));
	return (int32_t)(((f >> (q - 15)) + 1) >> 1);
}

int32_t camblock_fov_angle(int32_t size, int32_t g, uint32_t q)
{
	int64_t tangent = optics_round_shift((int64_t)size * g, (int)q);
	int32_t radians = fx_atan((int32_t)tangent, 14);
	return 2 * (int32_t)optics_round_shift((int64_t)radians * DEGREES_PER_RADIAN, 14);
}

int camblock_fov_from_table(struct camblock *block, int32_t zoom, uint32_t *horizontal, uint32_t *vertical,
                            int32_t scale, int breathing_ratio)
{
	const struct camblock_fov_table *table = block ? block->mcu.fov : nullptr;
	return fov_lookup(block, zoom, table, horizontal, vertical, scale, INT32_MAX, 1, breathing_ratio);
}

int camblock_fov_from_c50x1485_table(struct camblock *block, int32_t zoom, uint32_t *horizontal,
                                     uint32_t *vertical, int32_t scale)
{
	const struct camblock_fov_table *table = block && block->zoom ? block->zoom->extra_table : nullptr;
	return fov_lookup(block, zoom, table, horizontal, vertical, scale, C50X1485_MAX_BRACKET, 0, 0);
}

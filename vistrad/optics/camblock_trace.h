#pragma once
// Trace curves of a zoom lens: which focus motor position is sharp at a
// zoom position and distance, and back; and the lens calibration that the
// focal-length and field-of-view answers use.
//
// A distance index is curve number << 9 | a 9-bit fraction towards the next
// curve of the lens's distance table; a negative index lies behind infinity.
// The curves are stored compactly: one packed word per 4 zoom steps holds 3
// or 4 small fields, and each curve weights those fields with one
// coefficient per curve set and field. An evaluation is integer arithmetic
// into the model's own weights array: it allocates nothing and is not
// reentrant for one model.

#include <stdint.h>

struct camblock;

struct camblock_trace {
	const uint32_t *words; // word i describes zoom position 4 i
	int32_t word_count;
	int32_t field_count;          // 3 or 4
	int32_t curve_count;          // at most 64
	const int32_t *coefficients;  // [set][field][curve]
	int32_t set_count;            // curve sets
	int32_t fields_per_set;       // the field count
	int32_t curve_stride;         // the curve count
	const uint32_t *field_masks;  // bits of each field in a word
	const int32_t *field_offsets; // added after extraction
	const uint32_t *field_shifts; // right shift after masking
	int32_t final_shift;          // fraction bits of the weighted sum
	int32_t *weights;             // owned working store, one per field
	const int32_t *base_offsets;  // one per curve set
	int32_t set_count_copy;
	int32_t index_units_per_step; // distance-index units per focus step behind infinity
	int32_t dioptres_per_curve;   // Q14 dioptres per curve behind infinity
};

// A copy of the layout with its own weights array and the derived counts
// (stride, fields per set, set count copy) filled in; the tables are not
// copied. Null when the layout cannot be evaluated (no words, no curves,
// a field count outside 1..8, a curve count above 64, no curve set, a
// final shift outside 1..31, or a table missing).
struct camblock_trace *camblock_trace_new(const struct camblock_trace *layout);
void camblock_trace_free(struct camblock_trace *trace);

// The focus motor position of a distance index at a zoom position for a
// curve set; behind infinity it counts steps back from the curve at the
// dome index (0 without a dome), never below 0. Zoom positions outside the
// table use its end words and a curve set beyond the lens's its last set.
uint32_t camblock_trace_focus_position(struct camblock_trace *trace, int32_t zoom, int32_t index, int32_t set,
                                       int32_t dome_index);
// The distance index of a focus position: exact on a curve, between two
// curves by linear interpolation (fraction at most 511), (n - 1) << 9 at or
// beyond the last curve and negative behind the first. 0 for a lens of one
// curve or no model.
int32_t camblock_trace_distance_index(struct camblock_trace *trace, int32_t zoom, int32_t position,
                                      int32_t set);

// A field-of-view table: per zoom point, one angle (degrees, Q14) per image
// half-size (millimetres, Q14, ascending); rows are row-major.
struct camblock_fov_table {
	const int32_t *rows;
	int32_t row_count;
	const int32_t *half_sizes;
	int32_t half_size_count;
};

// g, the half-reciprocal focal length with the zoom unit's focal_model_q
// fraction bits at a zoom position, corrected for the focus distance by the
// second focal model or the breathing coefficients of the block's lens. The
// focus value is a motor position or a distance index as the flag says. 0
// without a zoom table.
int32_t camblock_focal_model(struct camblock *block, int32_t zoom, int32_t focus, int focus_is_position);
// 0.5 / g in millimetres (Q14); 0 when g is 0.
int32_t camblock_focal_length(struct camblock *block, int32_t zoom, int32_t focus, int focus_is_position);
// The full angle 2 atan(size x g) in degrees (Q14) for a size in
// millimetres (Q14) and g with q fraction bits.
int32_t camblock_fov_angle(int32_t size, int32_t g, uint32_t q);
// Angles of the sensor's active area (scaled, Q14) from the lens's
// field-of-view table, doubled; with the breathing flag scaled by the ratio
// of the angles at the focus unit's current value to those at infinity.
// 0, or -3 (nothing written) without a zoom unit or a table.
int camblock_fov_from_table(struct camblock *block, int32_t zoom, uint32_t *horizontal, uint32_t *vertical,
                            int32_t scale, int breathing_ratio);
// The same over the Canon C50x1485's own table, kept as the zoom unit's
// extra table: its values are the angles themselves, not doubled.
int camblock_fov_from_c50x1485_table(struct camblock *block, int32_t zoom, uint32_t *horizontal,
                                     uint32_t *vertical, int32_t scale);

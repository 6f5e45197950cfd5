#pragma once
// Synthetic trace-curve models for lenses that exist only in tests: chosen
// basis curves packed into the words of a field layout, with a coefficient
// table, and the focus positions they stand for worked out from the bases
// themselves in double precision. The oracle shares only the rounding rules
// with the packed arithmetic (masks, shifts, offsets and 32-bit sums are
// not involved), so the two cannot be wrong the same way.

#include <stdint.h>

#include <functional>
#include <vector>

#include "optics/camblock_trace.h"

struct TraceField {
	int bits;       // the fields take consecutive bit ranges from bit 0
	int32_t offset; // added after extraction
};

struct TraceDesign {
	std::vector<TraceField> fields;
	int32_t word_count = 0;
	int32_t curve_count = 0;
	std::vector<int32_t> base_offsets; // one per curve set
	int32_t final_shift = 14;
	int32_t index_units_per_step = 64;
	int32_t dioptres_per_curve = 1638;
	// Value of a field at a word (zoom position 4 x word), rounded to an
	// integer; it must lie within the field's range.
	std::function<double(int field, int word)> basis;
	std::function<int32_t(int set, int field, int curve)> coefficient;
};

// The layout of the Tamron DF010NL's model (four fields, three curve sets,
// ten curves, 618 words) with smooth bases whose curves grow with the curve
// number at every zoom position.
TraceDesign trace_design_df010nl();

class TraceModel
{
      public:
	explicit TraceModel(const TraceDesign &design);
	~TraceModel();
	TraceModel(const TraceModel &) = delete;
	TraceModel &operator=(const TraceModel &) = delete;

	// The model, evaluating the packed words and coefficients below; null
	// when the layout was refused.
	struct camblock_trace *trace() const
	{
		return trace_;
	}
	// Changing these changes what the model reads.
	std::vector<uint32_t> &words()
	{
		return words_;
	}
	std::vector<int32_t> &coefficients()
	{
		return coefficients_;
	}
	int32_t &coefficient(int set, int field, int curve);
	const TraceDesign &design() const
	{
		return design_;
	}

	// What the focus position must be, from the bases (a curve set beyond
	// the model's reads as its last).
	int64_t expected_position(int32_t zoom, int32_t index, int32_t set, int32_t dome_index = 0) const;

      private:
	double word_value(int word, int set, const std::vector<double> &weights) const;
	std::vector<double> weights(int set, int32_t index) const;

	TraceDesign design_;
	std::vector<uint32_t> words_;
	std::vector<uint32_t> masks_;
	std::vector<uint32_t> shifts_;
	std::vector<int32_t> offsets_;
	std::vector<int32_t> coefficients_;
	std::vector<std::vector<int32_t>> values_; // [field][word], as the bases gave them
	struct camblock_trace *trace_ = nullptr;
};

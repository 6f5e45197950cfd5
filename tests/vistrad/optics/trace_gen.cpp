#include "trace_gen.h"

#include <math.h>

#include <stdexcept>
#include <string>

TraceDesign trace_design_df010nl()
{
	TraceDesign s;
	s.fields = {{14, -22}, {12, -1944}, {3, -4}, {3, -2}};
	s.word_count = 618;
	s.curve_count = 10;
	s.base_offsets = {0, 179, 255};
	s.final_shift = 14;
	s.basis = [](int field, int word) {
		double x = word / 617.0;
		switch (field) {
		case 0: // the wide-to-tele sweep of the infinity curve
			return 3000 + 2500 * sin(M_PI * x);
		case 1: // how far nearer distances pull the focus, growing to tele
			return 200 + 1500 * x * x;
		case 2:
			return 3.4 * sin(word * 0.05);
		default:
			return (double)(word % 8 - 2);
		}
	};
	// Field 1's weight grows with the curve by more than fields 2 and 3 can
	// take back, so the positions grow with the curve number.
	s.coefficient = [](int set, int field, int curve) -> int32_t {
		switch (field) {
		case 0:
			return 16384 + 40 * set;
		case 1:
			return curve * 4000 + set * 300;
		case 2:
			return 700 - 30 * curve;
		default:
			return -500 + 11 * curve * set;
		}
	};
	return s;
}

TraceModel::TraceModel(const TraceDesign &design) : design_(design)
{
	int nf = (int)design.fields.size();
	int sets = (int)design.base_offsets.size();
	int shift = 0;
	for (const TraceField &f : design.fields) {
		masks_.push_back((uint32_t)((((uint64_t)1 << f.bits) - 1) << shift));
		shifts_.push_back((uint32_t)shift);
		offsets_.push_back(f.offset);
		shift += f.bits;
	}
	if (shift > 32)
		throw std::invalid_argument("the fields take more than 32 bits");
	values_.assign(nf, std::vector<int32_t>(design.word_count));
	words_.assign(design.word_count, 0);
	for (int k = 0; k < nf; k++) {
		for (int i = 0; i < design.word_count; i++) {
			int32_t v = (int32_t)lround(design.basis(k, i));
			int64_t raw = (int64_t)v - design.fields[k].offset;
			if (raw < 0 || raw >= ((int64_t)1 << design.fields[k].bits))
				throw std::out_of_range("basis " + std::to_string(k) +
				                        " leaves its field at word " + std::to_string(i));
			values_[k][i] = v;
			words_[i] |= (uint32_t)raw << shifts_[k];
		}
	}
	coefficients_.resize((size_t)sets * nf * design.curve_count);
	for (int s = 0; s < sets; s++)
		for (int k = 0; k < nf; k++)
			for (int c = 0; c < design.curve_count; c++)
				coefficient(s, k, c) = design.coefficient(s, k, c);

	struct camblock_trace layout = {};
	layout.words = words_.data();
	layout.word_count = design.word_count;
	layout.field_count = nf;
	layout.curve_count = design.curve_count;
	layout.coefficients = coefficients_.data();
	layout.set_count = sets;
	layout.field_masks = masks_.data();
	layout.field_offsets = offsets_.data();
	layout.field_shifts = shifts_.data();
	layout.final_shift = design.final_shift;
	layout.base_offsets = design_.base_offsets.data();
	layout.index_units_per_step = design.index_units_per_step;
	layout.dioptres_per_curve = design.dioptres_per_curve;
	trace_ = camblock_trace_new(&layout);
}

TraceModel::~TraceModel()
{
	camblock_trace_free(trace_);
}

int32_t &TraceModel::coefficient(int set, int field, int curve)
{
	size_t nf = design_.fields.size();
	return coefficients_[((size_t)set * nf + field) * design_.curve_count + curve];
}

std::vector<double> TraceModel::weights(int set, int32_t index) const
{
	int n = design_.curve_count;
	int c = (index >> 9) & 63;
	if (c > n - 1)
		c = n - 1;
	double fraction = index & 511;
	size_t nf = design_.fields.size();
	std::vector<double> w(nf);
	for (size_t k = 0; k < nf; k++) {
		const int32_t *row = &coefficients_[((size_t)set * nf + k) * n];
		w[k] = row[c];
		if (c < n - 1)
			w[k] += floor(((double)row[c + 1] - row[c]) * fraction / 512.0);
	}
	return w;
}

double TraceModel::word_value(int word, int set, const std::vector<double> &w) const
{
	double sum = 0;
	for (size_t k = 0; k < w.size(); k++)
		sum += (double)values_[k][word] * w[k];
	double steps = floor(fabs(sum) / ldexp(1.0, design_.final_shift) + 0.5);
	return design_.base_offsets[set] + (sum < 0 ? -steps : steps);
}

int64_t TraceModel::expected_position(int32_t zoom, int32_t index, int32_t set, int32_t dome_index) const
{
	int sets = (int)design_.base_offsets.size();
	set = set < 0 ? 0 : set >= sets ? sets - 1 : set;
	std::vector<double> w = weights(set, index >= 0 ? index : dome_index);
	double zi = trunc(zoom / 4.0);
	double zr = zoom - 4 * zi;
	if (zi < 0 || zi > design_.word_count - 1) {
		zi = zi < 0 ? 0 : design_.word_count - 1;
		zr = 0;
	}
	double f = word_value((int)zi, set, w);
	if (zi < design_.word_count - 1 && zr >= 1)
		f += trunc((word_value((int)zi + 1, set, w) - f) * zr / 4.0);
	if (index >= 0)
		return (int64_t)f;
	f += trunc((double)index / design_.index_units_per_step);
	return f < 0 ? 0 : (int64_t)f;
}

// Writes lens_tables.cpp: the calibration tables of every MCU lens model in
// the shapes its controller and block expect, made from smooth functions
// rather than typed in. The shapes (word and field counts, curve sets,
// fraction bits, table lengths) are each model's own; the values are
// stand-ins that behave like a lens: focus positions grow with the curve
// number at every zoom position, magnification and focal length rise from
// the wide end, F-numbers rise as the iris closes.
//
//   lens-tables-gen OUTPUT
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace
{

enum FovKind { FOV_NONE, FOV_TABLE, FOV_C50X1485 };
enum SecondKind { SECOND_NONE, SECOND_MODEL, SECOND_ZERO_CURVES };

struct Shape {
	const char *word;
	int words;
	int fields;
	int sets;
	int final_shift;
	int curves;
	int thermistor;
	int pairs;
	int zoom;
	int q;
	int apertures;
	bool aperture_per_zoom;
	bool distortion;
	FovKind fov;
	SecondKind second;
};

const Shape shapes[] = {
    {"tamron_df010nl", 618, 4, 3, 14, 10, 22, 0, 21, 24, 256, false, true, FOV_NONE, SECOND_NONE},
    {"tamron_df020nl", 331, 3, 3, 14, 7, 22, 22, 11, 24, 256, false, true, FOV_NONE, SECOND_NONE},
    {"tamron_df024nl", 631, 3, 3, 16, 10, 22, 0, 21, 24, 256, false, true, FOV_NONE, SECOND_NONE},
    {"tamron_de011n", 552, 3, 3, 16, 7, 64, 64, 21, 24, 256, false, true, FOV_NONE, SECOND_NONE},
    {"tamron_df031n", 2716, 4, 2, 18, 7, 22, 0, 63, 23, 256, true, true, FOV_TABLE, SECOND_NONE},
    {"tamron_df023q", 1406, 3, 3, 17, 5, 22, 40, 11, 24, 67, false, false, FOV_NONE, SECOND_NONE},
    {"cbc_r18", 124, 3, 3, 16, 7, 43, 43, 11, 24, 69, false, true, FOV_NONE, SECOND_NONE},
    {"ricom_af02812db_icr", 620, 3, 3, 16, 9, 34, 34, 21, 24, 256, false, true, FOV_NONE, SECOND_NONE},
    {"canon_c40x43", 4481, 3, 2, 17, 7, 22, 0, 45, 23, 128, true, true, FOV_NONE, SECOND_ZERO_CURVES},
    {"canon_c50x1485", 553, 3, 1, 13, 8, 22, 0, 21, 23, 1, true, true, FOV_C50X1485, SECOND_NONE},
    {"cbc_tsf2_9z2813bhrw_f5", 745, 3, 3, 14, 8, 34, 34, 21, 24, 40, false, true, FOV_NONE, SECOND_NONE},
    {"tamron_df034n", 2848, 4, 3, 19, 7, 22, 0, 87, 23, 256, true, true, FOV_TABLE, SECOND_MODEL},
    {"unionoptech_t5285", 1722, 4, 2, 16, 9, 22, 0, 36, 23, 256, true, false, FOV_NONE, SECOND_NONE},
    {"unionoptech_t5377q", 5311, 4, 2, 15, 8, 22, 0, 61, 23, 280, true, true, FOV_TABLE, SECOND_MODEL},
    {"unionoptech_t5390", 2616, 4, 2, 18, 8, 0, 0, 63, 23, 131, true, false, FOV_TABLE, SECOND_MODEL},
    {"evetar_e5350a", 734, 4, 3, 15, 7, 38, 0, 28, 24, 128, true, true, FOV_NONE, SECOND_NONE},
    {"ytot_yt50011db_icr", 1284, 4, 3, 14, 6, 34, 0, 27, 24, 59, false, true, FOV_NONE, SECOND_NONE},
    {"cbc_nsf2_3z5915bmrw_f5", 7887, 3, 3, 13, 7, 34, 0, 26, 24, 59, false, false, FOV_NONE, SECOND_NONE},
};

// Bit widths and offsets of the packed fields: the infinity curve's sweep,
// the pull of nearer distances, and one or two small ripples.
const int field_bits[2][4] = {{16, 12, 4, 0}, {14, 12, 3, 3}};
const int field_offsets[2][4] = {{-22, -1944, -8, 0}, {-22, -1944, -4, -2}};

int32_t q14(double v)
{
	return (int32_t)lround(v * 16384.0);
}

struct Out {
	FILE *f;
	std::string word;

	template <typename T> void list(const char *type, const char *name, const std::vector<T> &values)
	{
		fprintf(f, "const %s %s_%s[%zu] = {", type, word.c_str(), name, values.size());
		for (size_t i = 0; i < values.size(); i++)
			fprintf(f, "%s%lld,", i % 12 ? " " : "\n    ", (long long)values[i]);
		fprintf(f, "\n};\n");
	}
	std::string ref(const char *name) const
	{
		return word + "_" + name;
	}
};

// Focal length in millimetres at a zoom point.
double focal_mm(const Shape &s, int index, int z)
{
	double wide = 2.8 + 0.4 * (index % 5);
	double max_mag = 1.0 + 0.15 * s.zoom;
	return wide * pow(max_mag, (double)z / (s.zoom - 1));
}

void write_model(FILE *f, const Shape &s, int index)
{
	Out o{f, s.word};
	const int layout = s.fields == 4 ? 1 : 0;
	const int nf = s.fields;
	fprintf(f, "\n// %s\n", s.word);

	// Trace model. The amplitude keeps the weighted 32-bit sums in range
	// for the model's fraction bits.
	const double amplitude = fmin(1.0, 0.9 * 2147483648.0 / (9300.0 * ldexp(1.0, s.final_shift)));
	std::vector<uint32_t> masks, shifts;
	std::vector<int32_t> offsets;
	int bit = 0;
	for (int k = 0; k < nf; k++) {
		masks.push_back((uint32_t)((((uint64_t)1 << field_bits[layout][k]) - 1) << bit));
		shifts.push_back((uint32_t)bit);
		offsets.push_back(field_offsets[layout][k]);
		bit += field_bits[layout][k];
	}
	std::vector<uint32_t> words;
	for (int i = 0; i < s.words; i++) {
		double x = (double)i / (s.words - 1);
		double v[4] = {amplitude * (3000 + 2500 * sin(M_PI * x)), amplitude * (200 + 1500 * x * x),
		               3.4 * sin(i * 0.05), (double)(i % 8 - 2)};
		uint32_t word = 0;
		for (int k = 0; k < nf; k++) {
			int32_t raw = (int32_t)lround(v[k]) - offsets[k];
			int32_t top = (int32_t)(masks[k] >> shifts[k]);
			raw = raw < 0 ? 0 : raw > top ? top : raw;
			word |= ((uint32_t)raw << shifts[k]) & masks[k];
		}
		words.push_back(word);
	}
	const double unit = ldexp(1.0, s.final_shift) / 16384.0;
	std::vector<int32_t> coefficients;
	for (int set = 0; set < s.sets; set++)
		for (int k = 0; k < nf; k++)
			for (int c = 0; c < s.curves; c++) {
				double w;
				switch (k) {
				case 0:
					w = 16384 + 40 * set;
					break;
				case 1:
					w = 2.2 * 16384 * c / (s.curves - 1) + 300 * set;
					break;
				case 2:
					w = 700 - 30 * c;
					break;
				default:
					w = -500 + 11 * c * set;
					break;
				}
				coefficients.push_back((int32_t)lround(w * unit));
			}
	std::vector<int32_t> bases;
	for (int set = 0; set < s.sets; set++)
		bases.push_back(90 * set);
	o.list("uint32_t", "words", words);
	o.list("uint32_t", "masks", masks);
	o.list("uint32_t", "shifts", shifts);
	o.list("int32_t", "offsets", offsets);
	o.list("int32_t", "coefficients", coefficients);
	o.list("int32_t", "bases", bases);

	// Thermistor: readings fall as the lens warms.
	const int temperature_count = s.thermistor > s.pairs ? s.thermistor : s.pairs;
	if (s.thermistor > 0) {
		std::vector<int32_t> readings;
		for (int i = 0; i < s.thermistor; i++)
			readings.push_back(3800 - (int32_t)lround(3500.0 * i / (s.thermistor - 1)));
		o.list("int32_t", "thermistor", readings);
	}
	if (temperature_count > 0) {
		std::vector<int32_t> temperatures;
		double step = 150.0 / (temperature_count - 1);
		for (int i = 0; i < temperature_count; i++)
			temperatures.push_back(q14(-40 + step * i));
		o.list("int32_t", "temperatures", temperatures);
	}
	if (s.pairs > 0) {
		for (int i = 0; i < s.pairs; i++)
			fprintf(f, "const uint32_t %s_pair%d[2] = {%d, %d};\n", s.word, i, 100 + 3 * i,
			        400 - 2 * i);
		fprintf(f, "const uint32_t *const %s_pairs[%d] = {", s.word, s.pairs);
		for (int i = 0; i < s.pairs; i++)
			fprintf(f, "%s%s_pair%d", i ? ", " : "", s.word, i);
		fprintf(f, "};\n");
	}

	// Zoom tables.
	const int32_t last_position = 4 * (s.words - 1);
	std::vector<int32_t> positions, magnifications, focal_lengths, focal_model;
	for (int z = 0; z < s.zoom; z++) {
		positions.push_back((int32_t)lround((double)last_position * z / (s.zoom - 1)));
		double fl = focal_mm(s, index, z);
		magnifications.push_back(q14(fl / focal_mm(s, index, 0)));
		focal_lengths.push_back(q14(fl));
		focal_model.push_back((int32_t)lround(0.5 / fl * ldexp(1.0, s.q)));
	}
	o.list("int32_t", "zoom_positions", positions);
	o.list("int32_t", "magnifications", magnifications);
	o.list("int32_t", "focal_lengths", focal_lengths);
	o.list("int32_t", "focal_model", focal_model);

	// F-numbers from 1.6 as the iris closes; the rise towards tele.
	std::vector<int32_t> apertures;
	for (int i = 0; i < s.apertures; i++)
		apertures.push_back(
		    q14(s.apertures > 1 ? 1.6 * pow(32.0, (double)i / (s.apertures - 1)) : 1.6));
	o.list("int32_t", "apertures", apertures);
	if (s.aperture_per_zoom) {
		std::vector<int32_t> rise;
		for (int z = 0; z < s.zoom; z++)
			rise.push_back(q14(0.8 * pow((double)z / (s.zoom - 1), 1.5)));
		o.list("int32_t", "aperture_offsets", rise);
	}

	if (s.distortion) {
		for (int set = 0; set < 2; set++) {
			std::vector<int32_t> rows;
			for (int z = 0; z < s.zoom; z++) {
				double x = 1.0 - (double)z / (s.zoom - 1);
				double g = set ? 0.9 : 1.0;
				rows.push_back(q14(-0.12 * x * g));
				rows.push_back(q14(0.03 * x * g));
				rows.push_back(q14(-0.004 * x * g));
				rows.push_back(0);
			}
			o.list("int32_t", set ? "distortion1" : "distortion0", rows);
		}
	}

	if (s.fov != FOV_NONE) {
		const bool c50 = s.fov == FOV_C50X1485;
		const int n = c50 ? 11 : 8;
		std::vector<int32_t> half_sizes, rows;
		for (int j = 0; j < n; j++)
			half_sizes.push_back(q14(c50 ? 1.597 * j / 10 : 0.4 * (j + 1)));
		for (int z = 0; z < s.zoom; z++)
			for (int j = 0; j < n; j++) {
				double h = c50 ? 1.597 * j / 10 : 0.4 * (j + 1);
				double half = atan(h / focal_mm(s, index, z)) * 180.0 / M_PI;
				rows.push_back(q14(c50 ? 2 * half : half));
			}
		o.list("int32_t", "fov_half_sizes", half_sizes);
		o.list("int32_t", "fov_rows", rows);
		fprintf(f, "const struct camblock_fov_table %s_fov = {%s, %d, %s, %d};\n", s.word,
		        o.ref("fov_rows").c_str(), s.zoom, o.ref("fov_half_sizes").c_str(), n);
	}

	if (s.second != SECOND_NONE) {
		std::vector<int32_t> per_curve, per_zoom;
		for (int c = 0; c < s.curves; c++)
			per_curve.push_back(
			    s.second == SECOND_ZERO_CURVES
			        ? 0
			        : (int32_t)lround(0.05 * c / (s.curves - 1) * ldexp(1.0, s.q)));
		for (int z = 0; z < s.zoom; z++)
			per_zoom.push_back(
			    (int32_t)lround((0.5 + (double)z / (s.zoom - 1)) * ldexp(1.0, s.q)));
		o.list("int32_t", "second_per_curve", per_curve);
		o.list("int32_t", "second_per_zoom", per_zoom);
	}

	auto opt = [&](bool present, const char *name) {
		return present ? o.ref(name) : std::string("nullptr");
	};
	fprintf(f, "} // namespace\n\nconst struct lens_tables lens_tables_%s = {\n", s.word);
	fprintf(f,
	        "    {%s, %d, %d, %d, %s, %d, 0, 0, %s, %s, %s, %d, nullptr, %s, 0, 64, 0},\n"
	        "    %d, %s, %s, %d, %s,\n"
	        "    %d, %s, %s, %s, %s, %d,\n"
	        "    %d, %s, %s,\n"
	        "    {%s, %s},\n"
	        "    %s,\n"
	        "    %s, %s,\n};\n\nnamespace\n{\n",
	        o.ref("words").c_str(), s.words, nf, s.curves, o.ref("coefficients").c_str(), s.sets,
	        o.ref("masks").c_str(), o.ref("offsets").c_str(), o.ref("shifts").c_str(), s.final_shift,
	        o.ref("bases").c_str(), s.thermistor, opt(s.thermistor > 0, "thermistor").c_str(),
	        opt(temperature_count > 0, "temperatures").c_str(), s.pairs,
	        opt(s.pairs > 0, "pairs").c_str(), s.zoom, o.ref("zoom_positions").c_str(),
	        o.ref("magnifications").c_str(), o.ref("focal_lengths").c_str(), o.ref("focal_model").c_str(),
	        s.q, s.apertures, o.ref("apertures").c_str(),
	        opt(s.aperture_per_zoom, "aperture_offsets").c_str(),
	        opt(s.distortion, "distortion0").c_str(), opt(s.distortion, "distortion1").c_str(),
	        s.fov != FOV_NONE ? ("&" + o.ref("fov")).c_str() : "nullptr",
	        opt(s.second != SECOND_NONE, "second_per_curve").c_str(),
	        opt(s.second != SECOND_NONE, "second_per_zoom").c_str());
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
		return 2;
	}
	FILE *f = fopen(argv[1], "w");
	if (!f) {
		perror(argv[1]);
		return 1;
	}
	fprintf(
	    f, "// Generated by lens-tables-gen: do not edit.\n#include \"lens_tables.h\"\n\nnamespace\n{\n");
	int index = 0;
	for (const Shape &s : shapes)
		write_model(f, s, index++);
	fprintf(f, "} // namespace\n");
	if (fclose(f) != 0) {
		perror(argv[1]);
		return 1;
	}
	return 0;
}

// Trace curves against the double-precision oracle of the generator, the
// inverse search, the focal model and the field-of-view tables.

#include "optics/camblock_trace.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "trace_gen.h"

namespace
{

const int32_t ONE = 16384;

int32_t pos(TraceModel &m, int32_t zoom, int32_t index, int32_t set = 0, int32_t dome = 0)
{
	return (int32_t)camblock_trace_focus_position(m.trace(), zoom, index, set, dome);
}

class Df010nl : public ::testing::Test
{
      protected:
	TraceModel model{trace_design_df010nl()};
	void SetUp() override
	{
		ASSERT_NE(nullptr, model.trace());
	}
};

TEST_F(Df010nl, PositionsEqualTheOracleOverZoomIndexAndSet)
{
	const int32_t indexes[] = {0,    1,    255,  511,  512,  700,  1023, 1536,
	                           2222, 3000, 4095, 4607, 4608, 4863, 5000};
	int checked = 0;
	for (int32_t set = 0; set < 3; set++)
		for (int32_t zoom = -9; zoom <= 2480; zoom += 7)
			for (int32_t index : indexes) {
				ASSERT_EQ(model.expected_position(zoom, index, set),
				          pos(model, zoom, index, set))
				    << "zoom " << zoom << " index " << index << " set " << set;
				checked++;
			}
	EXPECT_GT(checked, 15000);
}

TEST_F(Df010nl, BetweenWordsTheZoomInterpolatesFromTheWordBelow)
{
	int32_t at4 = pos(model, 4, 1000), at8 = pos(model, 8, 1000);
	EXPECT_EQ(at4 + (at8 - at4) / 4, pos(model, 5, 1000));
	// Only words 1 and 2 take part.
	int32_t before = pos(model, 5, 1000);
	model.words()[0] ^= 0x3FFF;
	model.words()[3] ^= 0x3FFF;
	EXPECT_EQ(before, pos(model, 5, 1000));
	model.words()[2] ^= 0x3FFF;
	EXPECT_NE(before, pos(model, 5, 1000));
}

TEST_F(Df010nl, TheLastWordStandsAloneToTheEndAndBeyond)
{
	int32_t last = pos(model, 4 * 617, 2000);
	EXPECT_EQ(last, pos(model, 2471, 2000));
	EXPECT_EQ(last, pos(model, 40000, 2000));
	model.words()[616] ^= 0x3FFF;
	EXPECT_EQ(last, pos(model, 2471, 2000));
	// Below the first word the first stands alone.
	EXPECT_EQ(pos(model, 0, 2000), pos(model, -400, 2000));
}

TEST_F(Df010nl, TheLastCurveTakesNoFraction)
{
	for (int32_t zoom : {0, 1234, 2468}) {
		int32_t curve9 = pos(model, zoom, 4608);
		EXPECT_EQ(curve9, pos(model, zoom, 4863));
		EXPECT_EQ(model.expected_position(zoom, 4608, 0), curve9);
	}
	// Curve 8's coefficients play no part at curve 9.
	int32_t before = pos(model, 1234, 4608);
	for (int k = 0; k < 4; k++)
		model.coefficient(0, k, 8) += 5000;
	EXPECT_EQ(before, pos(model, 1234, 4608));
	EXPECT_EQ(before, pos(model, 1234, 4863));
}

TEST_F(Df010nl, BehindInfinityCountsStepsBackFromTheDomeCurve)
{
	for (int32_t zoom : {0, 777, 2468}) {
		EXPECT_EQ(pos(model, zoom, 0) - 10, pos(model, zoom, -640));
		EXPECT_EQ(pos(model, zoom, 0) - 1, pos(model, zoom, -127)); // truncated towards zero
		EXPECT_EQ(pos(model, zoom, 1234) - 10, pos(model, zoom, -640, 0, 1234));
		EXPECT_EQ(0, pos(model, zoom, -64 * 100000));
		EXPECT_EQ(model.expected_position(zoom, -640, 1, 1234), pos(model, zoom, -640, 1, 1234));
	}
}

TEST_F(Df010nl, ASetTheLensLacksReadsAsItsLastSet)
{
	EXPECT_EQ(pos(model, 1000, 2000, 2), pos(model, 1000, 2000, 3));
	EXPECT_EQ(pos(model, 1000, 2000, 0), pos(model, 1000, 2000, -1));
	EXPECT_EQ(model.expected_position(1000, 2000, 7), pos(model, 1000, 2000, 7));
}

TEST_F(Df010nl, TheInverseSearchIsExactOnEveryCurve)
{
	for (int32_t set = 0; set < 3; set++)
		for (int32_t zoom = 0; zoom <= 2470; zoom += 95)
			for (int32_t c = 0; c < 9; c++)
				ASSERT_EQ(c << 9,
				          camblock_trace_distance_index(model.trace(), zoom,
				                                        pos(model, zoom, c << 9, set), set))
				    << "zoom " << zoom << " curve " << c << " set " << set;
}

TEST_F(Df010nl, AtOrBeyondTheLastCurveTheInverseIsTheLastCurve)
{
	for (int32_t zoom : {0, 1001, 2470}) {
		int32_t last = pos(model, zoom, 9 << 9);
		EXPECT_EQ(9 << 9, camblock_trace_distance_index(model.trace(), zoom, last, 0));
		EXPECT_EQ(9 << 9, camblock_trace_distance_index(model.trace(), zoom, last + 500, 0));
		EXPECT_EQ(8, camblock_trace_distance_index(model.trace(), zoom, last - 1, 0) >> 9);
	}
}

TEST_F(Df010nl, BehindTheFirstCurveTheInverseCountsStepsBack)
{
	int32_t p0 = pos(model, 800, 0);
	EXPECT_EQ(-10 * 64, camblock_trace_distance_index(model.trace(), 800, p0 - 10, 0));
	EXPECT_EQ(0, camblock_trace_distance_index(model.trace(), 800, p0, 0));
}

TEST_F(Df010nl, TheInverseRoundTripsAndItsFractionStaysBelow512)
{
	for (int32_t zoom = 3; zoom <= 2470; zoom += 211)
		for (int32_t index = 0; index < 9 * 512; index += 37) {
			int32_t p = pos(model, zoom, index);
			int32_t back = camblock_trace_distance_index(model.trace(), zoom, p, 0);
			ASSERT_LE(abs(pos(model, zoom, back) - p), 1)
			    << "zoom " << zoom << " index " << index;
			// Curves here lie 48 or more steps apart: a step is at most 11 units.
			ASSERT_LE(abs(back - index), 12) << "zoom " << zoom << " index " << index;
			// Every position between two curves stays below the next.
			int32_t next = pos(model, zoom, ((index >> 9) + 1) << 9);
			int32_t below = camblock_trace_distance_index(model.trace(), zoom, next - 1, 0);
			ASSERT_EQ(index >> 9, below >> 9);
			ASSERT_LE(below & 511, 511);
		}
}

TEST(Trace, OneCurveAndNoModelInvertToZero)
{
	TraceDesign s = trace_design_df010nl();
	s.curve_count = 1;
	TraceModel one(s);
	ASSERT_NE(nullptr, one.trace());
	EXPECT_EQ(0, camblock_trace_distance_index(one.trace(), 100, 123456, 0));
	EXPECT_EQ(one.expected_position(100, 4095, 0),
	          camblock_trace_focus_position(one.trace(), 100, 4095, 0, 0));
	EXPECT_EQ(0, camblock_trace_distance_index(nullptr, 100, 5000, 0));
	EXPECT_EQ(0u, camblock_trace_focus_position(nullptr, 100, 5000, 0, 0));
}

TEST(Trace, TwoCurvesAndThreeFieldLayouts)
{
	// A 3-field layout with its own final shift, and the smallest search.
	TraceDesign s;
	s.fields = {{12, 0}, {12, -2048}, {8, -128}};
	s.word_count = 40;
	s.curve_count = 2;
	s.base_offsets = {-50};
	s.final_shift = 17;
	s.basis = [](int field, int word) {
		return field == 0 ? 1000.0 + 20 * word : field == 1 ? 300.0 : word % 50;
	};
	s.coefficient = [](int, int field, int curve) {
		return field == 1 ? curve * 90000 : 131072 - field * 1000;
	};
	TraceModel two(s);
	ASSERT_NE(nullptr, two.trace());
	for (int32_t zoom = 0; zoom < 170; zoom += 3)
		for (int32_t index : {0, 100, 511, 512, 900}) {
			ASSERT_EQ(two.expected_position(zoom, index, 0), pos(two, zoom, index))
			    << zoom << " " << index;
		}
	int32_t p0 = pos(two, 60, 0), p1 = pos(two, 60, 512);
	ASSERT_LT(p0 + 2, p1);
	EXPECT_EQ(0, camblock_trace_distance_index(two.trace(), 60, p0, 0));
	EXPECT_EQ(512, camblock_trace_distance_index(two.trace(), 60, p1, 0));
	EXPECT_EQ((p1 - p0) / 2 * 512 / (p1 - p0),
	          camblock_trace_distance_index(two.trace(), 60, p0 + (p1 - p0) / 2, 0));
}

TEST(Trace, LayoutsThatCannotBeEvaluatedAreRefused)
{
	TraceModel good(trace_design_df010nl());
	const camblock_trace base = *good.trace();
	struct Case {
		const char *what;
		void (*spoil)(camblock_trace *);
	};
	const Case cases[] = {
	    {"no words", [](camblock_trace *t) { t->words = nullptr; }},
	    {"zero words", [](camblock_trace *t) { t->word_count = 0; }},
	    {"no fields", [](camblock_trace *t) { t->field_count = 0; }},
	    {"nine fields", [](camblock_trace *t) { t->field_count = 9; }},
	    {"65 curves", [](camblock_trace *t) { t->curve_count = 65; }},
	    {"no set", [](camblock_trace *t) { t->set_count = 0; }},
	    {"final shift 0", [](camblock_trace *t) { t->final_shift = 0; }},
	    {"final shift 32", [](camblock_trace *t) { t->final_shift = 32; }},
	    {"no coefficients", [](camblock_trace *t) { t->coefficients = nullptr; }},
	    {"no bases", [](camblock_trace *t) { t->base_offsets = nullptr; }},
	    {"no masks", [](camblock_trace *t) { t->field_masks = nullptr; }},
	};
	for (const Case &c : cases) {
		camblock_trace layout = base;
		c.spoil(&layout);
		EXPECT_EQ(nullptr, camblock_trace_new(&layout)) << c.what;
	}
	static const uint32_t wide_shift[4] = {0, 14, 26, 32};
	camblock_trace layout = base;
	layout.field_shifts = wide_shift;
	EXPECT_EQ(nullptr, camblock_trace_new(&layout));
	EXPECT_EQ(nullptr, camblock_trace_new(nullptr));
	camblock_trace_free(nullptr);
}

/* focal model */

// A block with a zoom unit of three points and a spy distance conversion.
struct Lens {
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	camblock *block = camblock_new();
	zoom_object *zoom = zoom_new();
	focus_object *focus = focus_new();
	sensor *sens = sensor_new();
	int32_t positions[3] = {0, 1000, 2000};
	int32_t focal_model[3] = {0, 0, 0};
	static std::vector<int32_t> indexes; // what the distance conversion was asked
	static int32_t dioptres;             // what it answers
	static int32_t infinity_position;    // what slot 10 answers for index 0

	explicit Lens(uint32_t q, double f_wide = 4.0, double f_mid = 8.0, double f_tele = 16.0)
	{
		const double fl[3] = {f_wide, f_mid, f_tele};
		for (int i = 0; i < 3; i++)
			focal_model[i] = (int32_t)lround(ldexp(0.5 / fl[i], (int)q));
		zoom_use_tables(zoom, 3, positions, nullptr, nullptr, focal_model, q);
		camblock_add_platform(block, plat);
		camblock_set_zoom(block, zoom);
		camblock_set_focus(block, focus);
		block->distance_index_to_dioptres = [](camblock *, int32_t index) {
			indexes.push_back(index);
			return dioptres;
		};
		block->distance_index_to_focus_position = [](camblock *, int32_t, int32_t index) {
			return index == 0 ? infinity_position : -1;
		};
		platform_add_sensor(plat, sens, 0);
		indexes.clear();
	}
	~Lens()
	{
		platform_remove_all_sensor(plat, 0);
		camblock_destroy(block);
		zoom_destroy(zoom);
		focus_destroy(focus);
		g_free(plat);
	}
	double g0(int32_t z) const
	{
		double t = z / 1000.0;
		int i = t >= 1 ? 1 : 0;
		return focal_model[i] + (focal_model[i + 1] - focal_model[i]) * (t - i);
	}
};
std::vector<int32_t> Lens::indexes;
int32_t Lens::dioptres;
int32_t Lens::infinity_position;

TEST(FocalModel, WithoutCorrectionIsTheZoomTable)
{
	Lens lens(24);
	for (int32_t z : {0, 250, 1000, 1999, 2000})
		EXPECT_NEAR(lens.g0(z), camblock_focal_model(lens.block, z, 0, 0), 1.0) << z;
	EXPECT_TRUE(Lens::indexes.empty()); // no correction asks for the distance
	camblock_destroy(nullptr);
	EXPECT_EQ(0, camblock_focal_model(nullptr, 0, 0, 0));
}

TEST(FocalModel, BreathingFollowsTheClampedDistance)
{
	Lens lens(24);
	const int32_t breathing[2] = {-3312 * 1024, 6704 * 1024}; // (a, b) in format 24
	lens.block->mcu.breathing = breathing;
	double a = ldexp(breathing[0], -24), b = ldexp(breathing[1], -24);
	struct Case {
		int32_t dioptres;
		double clamped;
	};
	for (Case c : {Case{0, 0}, Case{8192, 0.5}, Case{16384, 1.0}, Case{40000, 1.0}, Case{-5000, 0}})
		for (int32_t z : {0, 700, 2000}) {
			Lens::dioptres = c.dioptres;
			double g0 = ldexp(lens.g0(z), -24);
			double expected = g0 + a * g0 * c.clamped + b * c.clamped;
			EXPECT_NEAR(expected, ldexp(camblock_focal_model(lens.block, z, 1536, 0), -24), 4e-7)
			    << c.dioptres << " at " << z;
		}
	EXPECT_EQ(1536, Lens::indexes.back()); // a distance index is converted as it is
}

TEST(FocalModel, APositionIsSearchedOnTheBlocksTraceSet)
{
	Lens lens(24);
	const int32_t breathing[2] = {0, 1 << 20};
	lens.block->mcu.breathing = breathing;
	TraceModel model(trace_design_df010nl());
	lens.block->mcu.trace = model.trace();
	lens.block->mcu.trace_set = 2;
	int32_t p = (int32_t)camblock_trace_focus_position(model.trace(), 1500, 2500, 2, 0);
	camblock_focal_model(lens.block, 1500, p, 1);
	ASSERT_EQ(1u, Lens::indexes.size());
	EXPECT_EQ(camblock_trace_distance_index(model.trace(), 1500, p, 2), Lens::indexes[0]);
	EXPECT_NEAR(2500, Lens::indexes[0], 2);
	lens.block->mcu.trace = nullptr;
}

TEST(FocalModel, TheSecondModelShortensTheFocalLengthByTwiceItsCorrection)
{
	Lens lens(23);
	const int32_t distances[4] = {0, 1638, 8192, 16384};
	// Per-zoom values small enough for the 32-bit slope, as a lens's are.
	const int32_t per_curve[4] = {0, 1 << 23, 2 << 23, 4 << 23}; // 0 .. 4.0 in format 23
	const int32_t per_zoom[3] = {83886, 125829, 167772};         // 0.01, 0.015, 0.02
	lens.block->mcu.distances = distances;
	lens.block->mcu.curve_count = 4;
	lens.block->mcu.second_per_curve = per_curve;
	lens.block->mcu.second_per_zoom = per_zoom;
	for (int32_t d : {4915, 8192, 12000, 16384, 30000})
		for (int32_t z : {0, 500, 2000}) {
			Lens::dioptres = d;
			double dc = d > 16384 ? 1.0 : d / 16384.0;
			double a;
			if (dc <= 0.1)
				a = dc / 0.1;
			else if (dc <= 0.5)
				a = 1 + (dc - 0.1) / 0.4;
			else
				a = 2 + (dc - 0.5) / 0.5 * 2;
			int i = z >= 1000 ? 1 : 0;
			double b = ldexp(
			    per_zoom[i] + (per_zoom[i + 1] - per_zoom[i]) * (z - 1000.0 * i) / 1000, -23);
			double f0 = 0.5 / ldexp(lens.g0(z), -23);
			double expected_f = f0 - 2 * a * b;
			double g = ldexp(camblock_focal_model(lens.block, z, 0, 0), -23);
			EXPECT_NEAR(expected_f, 0.5 / g, 2e-4) << d << " at " << z;
		}
	// No correction at or behind infinity, nor for an all-zero curve table.
	Lens::dioptres = 0;
	EXPECT_EQ(lens.focal_model[0], camblock_focal_model(lens.block, 0, 0, 0));
	const int32_t zeros[4] = {0, 0, 0, 0};
	lens.block->mcu.second_per_curve = zeros;
	for (int32_t d : {1000, 16384}) {
		Lens::dioptres = d;
		EXPECT_NEAR(lens.g0(700), camblock_focal_model(lens.block, 700, 0, 0), 1.0);
	}
}

TEST(FocalModel, FocalLengthIsHalfTheReciprocalInEachFormat)
{
	for (uint32_t q : {14u, 23u, 24u}) {
		Lens lens(q, 4.0, 7.3, 48.0);
		EXPECT_EQ(4 * ONE, camblock_focal_length(lens.block, 0, 0, 0)) << q;
		for (int i = 1; i < 3; i++) {
			double g = ldexp(lens.focal_model[i], -(int)q);
			EXPECT_NEAR(0.5 / g * ONE, camblock_focal_length(lens.block, 1000 * i, 0, 0), 1.0)
			    << q;
		}
	}
	Lens lens(24);
	lens.zoom->focal_model = nullptr;
	EXPECT_EQ(0, camblock_focal_length(lens.block, 500, 0, 0));
	EXPECT_EQ(0, camblock_focal_model(lens.block, 500, 0, 0));
}

/* field of view */

double degrees(double radians)
{
	return radians * 180.0 / M_PI;
}

TEST(FieldOfView, AngleIsTwiceTheArctangent)
{
	for (double size : {0.5, 2.4, 6.0})
		for (double f : {2.8, 12.0, 60.0}) {
			int32_t g = (int32_t)lround(ldexp(0.5 / f, 24));
			double expected = 2 * degrees(atan(size * 0.5 / f));
			EXPECT_NEAR(expected,
			            camblock_fov_angle((int32_t)lround(size * ONE), g, 24) / (double)ONE,
			            0.01)
			    << size << " mm at " << f << " mm";
		}
}

// Rows for zoom points 0, 1000 and 2000 over four half-sizes.
const int32_t half_sizes[4] = {6554, 13107, 19661, 26214}; // 0.4 .. 1.6 mm
const double row_degrees[3][4] = {{20, 38, 52, 62}, {10, 20, 29, 37}, {5, 10, 15, 19}};

struct FovLens : Lens {
	int32_t rows[12];
	camblock_fov_table table = {rows, 3, half_sizes, 4};
	FovLens() : Lens(24)
	{
		for (int r = 0; r < 3; r++)
			for (int c = 0; c < 4; c++)
				rows[r * 4 + c] = (int32_t)lround(row_degrees[r][c] * ONE);
		block->mcu.fov = &table;
		sens->active_width = (int32_t)lround(2.2 * ONE);
		sens->active_height = (int32_t)lround(1.3 * ONE);
	}
	static double table_angle(double z, double size)
	{
		double x = size / 2;
		auto row = [&](int r) {
			int i = x <= 0.8 ? 0 : x <= 1.2 ? 1 : 2;
			double x0 = 0.4 * (i + 1);
			return row_degrees[r][i] +
			       (row_degrees[r][i + 1] - row_degrees[r][i]) * (x - x0) / 0.4;
		};
		int r = z >= 1000 ? 1 : 0;
		double t = (z - 1000.0 * r) / 1000.0;
		return 2 * (row(r) + (row(r + 1) - row(r)) * t);
	}
};

TEST(FieldOfView, TableAnglesAreDoubledAndFollowTheScale)
{
	FovLens lens;
	for (int32_t scale : {ONE, ONE / 2, 3 * ONE / 2})
		for (int32_t z : {0, 300, 1000, 1700, 2000}) {
			uint32_t h = 0, v = 0;
			ASSERT_EQ(0, camblock_fov_from_table(lens.block, z, &h, &v, scale, 0));
			double s = scale / (double)ONE;
			// Sizes and half-sizes are Q14 millimetres: about 0.005 degree.
			EXPECT_NEAR(FovLens::table_angle(z, 2.2 * s), h / (double)ONE, 0.01)
			    << z << " scale " << s;
			EXPECT_NEAR(FovLens::table_angle(z, 1.3 * s), v / (double)ONE, 0.01)
			    << z << " scale " << s;
		}
}

TEST(FieldOfView, BreathingScalesByTheCurrentFocusAgainstInfinity)
{
	FovLens lens;
	const int32_t breathing[2] = {0, -(1 << 20)}; // g falls by 1/16 per dioptre
	lens.block->mcu.breathing = breathing;
	uint32_t plain_h = 0, plain_v = 0, h = 0, v = 0;
	ASSERT_EQ(0, camblock_fov_from_table(lens.block, 600, &plain_h, &plain_v, ONE, 0));

	// The focus unit holds a distance index; the spy answers 1 D for it and
	// the same for anything else, so both angles are the same: ratio 1.
	lens.focus->value = 3000;
	lens.focus->value_is_position = 0;
	Lens::dioptres = ONE;
	Lens::infinity_position = 777;
	ASSERT_EQ(0, camblock_fov_from_table(lens.block, 600, &h, &v, ONE, 1));
	EXPECT_EQ(plain_h, h);
	ASSERT_EQ(2u, Lens::indexes.size());
	EXPECT_EQ(3000, Lens::indexes[0]);
	// The position of infinity is read with the focus unit's flag, as an index.
	EXPECT_EQ(777, Lens::indexes[1]);

	// Now the current focus is at 1 D and infinity at 0 D.
	lens.block->distance_index_to_dioptres = [](camblock *, int32_t index) {
		return index == 3000 ? ONE : 0;
	};
	ASSERT_EQ(0, camblock_fov_from_table(lens.block, 600, &h, &v, ONE, 1));
	double g0 = ldexp(lens.g0(600), -24);
	double g1 = g0 - 1.0 / 16;
	auto fov = [](double size, double g) { return 2 * degrees(atan(size * g)); };
	// The ratio's angles carry the arctangent's Q14 radians: about 0.01 degree.
	EXPECT_NEAR(plain_h * fov(2.2, g1) / fov(2.2, g0), h, 0.01 * ONE);
	EXPECT_NEAR(plain_v * fov(1.3, g1) / fov(1.3, g0), v, 0.01 * ONE);
	EXPECT_LT(h, plain_h);
}

TEST(FieldOfView, TheCanonTableIsNotDoubledAndBracketsAtMostAtNine)
{
	Lens lens(23);
	int32_t hs[11], rows[3 * 11];
	for (int i = 0; i < 11; i++) {
		hs[i] = (int32_t)lround(0.1597 * i * ONE);
		for (int r = 0; r < 3; r++)
			rows[r * 11 + i] =
			    (int32_t)lround((2.0 + 3.0 * i / (r + 1) + (i == 10 ? 4.0 : 0)) * ONE);
	}
	camblock_fov_table table = {rows, 3, hs, 11};
	lens.zoom->extra_table = &table;
	// Half the width is 2.0 mm, past the last half-size: the bracket stays
	// at (9, 10) and extrapolates.
	lens.sens->active_width = 4 * ONE;
	lens.sens->active_height = (int32_t)lround(0.5 * ONE);
	uint32_t h = 0, v = 0;
	ASSERT_EQ(0, camblock_fov_from_c50x1485_table(lens.block, 1000, &h, &v, ONE));
	double x = 2.0, x9 = 0.1597 * 9, x10 = 1.597;
	double at9 = 2.0 + 3.0 * 9 / 2, at10 = 2.0 + 3.0 * 10 / 2 + 4.0;
	EXPECT_NEAR(at9 + (at10 - at9) * (x - x9) / (x10 - x9), h / (double)ONE, 0.01);
	double y = 0.25, y1 = 0.1597, y2 = 0.3194;
	double a1 = 2.0 + 3.0 / 2, a2 = 2.0 + 6.0 / 2;
	EXPECT_NEAR(a1 + (a2 - a1) * (y - y1) / (y2 - y1), v / (double)ONE, 0.01);
}

TEST(FieldOfView, WithoutATableNothingIsWritten)
{
	Lens lens(24);
	uint32_t h = 123, v = 456;
	EXPECT_EQ(-3, camblock_fov_from_table(lens.block, 0, &h, &v, ONE, 1));
	EXPECT_EQ(-3, camblock_fov_from_c50x1485_table(lens.block, 0, &h, &v, ONE));
	EXPECT_EQ(-3, camblock_fov_from_table(nullptr, 0, &h, &v, ONE, 0));
	EXPECT_EQ(123u, h);
	EXPECT_EQ(456u, v);
}

} // namespace

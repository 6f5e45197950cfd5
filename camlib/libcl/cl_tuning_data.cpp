/* The built-in tuning rows. Image quality is untuned: the IQ tables are
 * neutral and coherent (white balance along the sensors' grey locus, a Q14
 * gain table rising 0.09375 dB an index as the sensor modules step it, an
 * HDR companding curve that is the identity) and no filter carries a
 * tuning container, so the pipeline keeps the image kernel's defaults. */
#include "cl_tuning.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "awb.h"

namespace
{

// Two exposure tables: the linear and HDR rows of a board differ there.
struct iq_tables {
	uint8_t sensor[CL_SENSOR_TABLE_SIZE];
	uint8_t stats[CL_STATS_TABLE_SIZE];
	uint8_t exposure_linear[CL_EXPOSURE_TABLE_SIZE];
	uint8_t exposure_hdr[CL_EXPOSURE_TABLE_SIZE];
	uint8_t wb[CL_WB_TABLE_SIZE];
	uint8_t hdr[CL_HDR_TABLE_SIZE];
	uint8_t ratio_gain[CL_RATIO_GAIN_TABLE_SIZE];
};

void put_u32(uint8_t *p, uint32_t v)
{
	memcpy(p, &v, 4);
}

void put_u16(uint8_t *p, uint16_t v)
{
	memcpy(p, &v, 2);
}

void fill_exposure(uint8_t *t, uint32_t exposures)
{
	put_u32(t, exposures);
	for (uint32_t i = 0; i < CL_GAIN_INDEX_MAX; i++) {
		double g = 16384.0 * pow(10.0, i * 0.09375 / 20.0);
		put_u32(t + CL_EXPOSURE_GAIN_OFFSET + 4 * i, (uint32_t)lround(g));
	}
}

// Tile grids of the statistics: AWB 32 x 32, AE 12 x 8, AF 8 x 5.
void fill_stats(uint8_t *t)
{
	const uint16_t awb[] = {32, 32, 0, 0, 128, 68, 128, 68};
	for (int i = 0; i < 8; i++)
		put_u16(t + 26 + 2 * i, awb[i]);
	put_u16(t + 42, 0); // pixel limits: the whole 14-bit range
	put_u16(t + 44, 16383);
	const uint16_t ae[] = {12, 8, 0, 0, 341, 272};
	put_u16(t + 46, ae[0]);
	for (int i = 1; i < 6; i++)
		put_u16(t + 46 + 2 * i, ae[i]);
	put_u16(t + 74, 0);
	put_u16(t + 76, 16383);
	const uint16_t af[] = {8, 5, 0, 0, 512, 435, 512, 435};
	for (int i = 0; i < 8; i++)
		put_u16(t + 58 + 2 * i, af[i]);
}

// White balance along the grey locus of the boards' sensors: the gains that
// make a grey surface grey (1024 = 1.0) from warm light to shade. Presets
// T1 to T5 lie on it (every other preset is daylight), one zone a stretch
// between neighbouring points, and every environment searches them all.
struct locus_point {
	int32_t r, b;
};
constexpr locus_point kLocus[] = {
    {1280, 2844}, // 2800 K
    {1506, 2276}, // 3500 K
    {1707, 1932}, // 4200 K
    {1896, 1707}, // 5000 K
    {2179, 1463}, // 6500 K
    {2381, 1347}, // 7500 K
};
constexpr int kLocusPoints = sizeof kLocus / sizeof kLocus[0];
constexpr locus_point kDaylight = kLocus[3];
constexpr int32_t kZoneMargin = 60, kZoneBand = 120;

void set_preset(awb_tuning *t, int i, locus_point p)
{
	t->preset[i][0] = (uint32_t)p.r;
	t->preset[i][1] = 1024;
	t->preset[i][2] = (uint32_t)p.b;
}

// The stretch from p to q: their box widened by the margin, and a band
// around the line through them.
awb_zone locus_zone(locus_point p, locus_point q)
{
	awb_zone z{};
	z.r_min = (int16_t)(std::min(p.r, q.r) - kZoneMargin);
	z.r_max = (int16_t)(std::max(p.r, q.r) + kZoneMargin);
	z.b_min = (int16_t)(std::min(p.b, q.b) - kZoneMargin);
	z.b_max = (int16_t)(std::max(p.b, q.b) + kZoneMargin);
	int32_t slope = (q.b - p.b) * 1024 / (q.r - p.r);
	int32_t offset = p.b - p.r * slope / 1024;
	for (int k = 0; k < 4; k++)
		z.line[k] = {(int16_t)slope, (int16_t)(offset + (k % 2 ? kZoneBand : -kZoneBand))};
	z.weight = 1;
	return z;
}

void fill_wb(uint8_t *t)
{
	awb_tuning awb{};
	for (int i = 0; i < AWB_PRESETS; i++)
		set_preset(&awb, i, kDaylight);
	const int presets[5] = {0, 1, 3, 4, 5};
	for (int i = 0; i < 5; i++)
		set_preset(&awb, i + 1, kLocus[presets[i]]);
	for (int i = 0; i + 1 < kLocusPoints; i++)
		awb.zone[i] = locus_zone(kLocus[i], kLocus[i + 1]);
	for (auto &e : awb.env) {
		e[0] = 0;
		e[1] = kLocusPoints - 1;
	}
	static_assert(CL_WB_PARAMS_AT + sizeof awb == CL_WB_TABLE_SIZE, "AWB part ends the table");
	memcpy(t + CL_WB_PARAMS_AT, &awb, sizeof awb);
}

// Ratio-to-gain: disabled (words 1 and 2 zero); entries map ratio to 1.0.
void fill_ratio_gain(uint8_t *t)
{
	for (int i = 0; i < 128; i++)
		put_u32(t + 24 + 4 * i, 4096);
}

// HDR companding: every segment maps the code back onto itself (the
// module reads code / 4 times the slope), so any knee the module picks
// gives a linear 16-bit sensor.
void fill_hdr(uint8_t *t)
{
	const uint32_t segments = 20;
	put_u32(t + 4, 65535); // white level
	put_u32(t + 8, segments);
	put_u32(t + 12, 16); // bit depth
	for (uint32_t i = 0; i < segments; i++) {
		float knee = (float)(i * 16384 / segments), slope = 4.0f, offset = 0.0f;
		memcpy(t + 16 + 4 * i, &knee, 4);
		memcpy(t + 16 + 4 * segments + 4 * i, &slope, 4);
		memcpy(t + 16 + 8 * segments + 4 * i, &offset, 4);
	}
}

iq_tables iq;

// Fills the tables at load; rows only hold their addresses.
const bool iq_built = [] {
	fill_stats(iq.stats);
	fill_exposure(iq.exposure_linear, 1);
	fill_exposure(iq.exposure_hdr, 2);
	fill_wb(iq.wb);
	fill_ratio_gain(iq.ratio_gain);
	fill_hdr(iq.hdr);
	return true;
}();

constexpr tuning_row row(int32_t board, const char *sensor, int32_t a, int32_t b, int32_t c, int32_t mode,
                         bool hdr_exposure, bool hdr_table)
{
	return tuning_row{board,
	                  0,
	                  sensor,
	                  a,
	                  b,
	                  c,
	                  mode,
	                  {},
	                  iq.sensor,
	                  iq.stats,
	                  nullptr,
	                  hdr_exposure ? iq.exposure_hdr : iq.exposure_linear,
	                  nullptr,
	                  iq.wb,
	                  nullptr,
	                  hdr_table ? iq.hdr : nullptr,
	                  iq.ratio_gain};
}

} // namespace

// Rows with mode 4 or 6 and the HDR rows of boards 1029 and 1031 carry the
// HDR table; the two-exposure rows take the HDR exposure table.
const tuning_row cl_tuning_table[CL_TUNING_ROWS + 1] = {
    row(1024, "ar0521", 2, 0, 1, 9, false, false),         row(1024, "ar0521", 2, 2, 2, 9, true, false),
    row(1024, "ar0521", 3, 0, 1, 9, false, false),         row(1025, "ov2718", 2, 0, 1, 0, false, false),
    row(1025, "ov2718", 2, 0, 1, 4, true, true),           row(1026, "ov2718", 2, 0, 1, 0, false, false),
    row(1026, "ov2718", 2, 0, 1, 4, true, true),           row(1033, "kx21_ov2718", 2, 0, 1, 0, false, false),
    row(1030, "kx20_ov2718", 2, 0, 1, 0, false, false),    row(1030, "kx20_ov2718", 2, 0, 1, 4, true, true),
    row(1027, "ar0521", 2, 0, 1, 9, false, false),         row(1027, "ar0521", 2, 2, 2, 9, true, false),
    row(1028, "ar0521", 2, 0, 1, 9, false, false),         row(1028, "ar0521", 2, 2, 2, 9, true, false),
    row(1032, "ar0521", 2, 0, 1, 9, false, false),         row(1032, "ar0521", 2, 2, 2, 9, true, false),
    row(1029, "ov2718", 2, 0, 1, 0, false, false),         row(1029, "ov2718", 2, 2, 2, 1, true, true),
    row(1031, "Malvo_ov2770", 2, 0, 1, 0, false, false),   row(1031, "Malvo_ov2770", 2, 2, 2, 6, true, true),
    row(CL_TUNING_END, nullptr, 0, 0, 0, 0, false, false),
};

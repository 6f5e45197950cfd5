#pragma once
// The calibration tables of the MCU lens models, generated at build time
// (lens_tables_gen.cpp) in the shapes each model's controller and block
// expect. The numbers are smooth synthetic stand-ins for a lens maker's
// calibration: trace curves whose focus positions grow with the curve
// number, zoom tables rising from the wide end, and so on. All of it is
// read-only; what a block changes it copies first.

#include <stdint.h>

#include "optics/camblock_trace.h"

struct lens_tables {
	// The trace model's layout (camblock_trace_new completes it).
	struct camblock_trace trace;
	int32_t thermistor_count; // 0: no thermistor
	const int32_t *thermistor_readings;
	const int32_t *temperatures; // Q14 degrees; as long as the longer of the two lists
	int32_t temperature_pair_count;
	const uint32_t *const *temperature_pairs;
	int32_t zoom_count;
	const int32_t *zoom_positions;
	const int32_t *magnifications; // Q14
	const int32_t *focal_lengths;  // Q14 millimetres
	const int32_t *focal_model;    // 0.5 / focal length, focal_model_q fraction bits
	uint32_t focal_model_q;
	int32_t aperture_count;
	const int32_t *apertures;        // Q14 F-numbers at the wide end
	const int32_t *aperture_offsets; // per zoom point, or null
	const int32_t *distortion[2];    // zoom_count rows of four, or null
	const struct camblock_fov_table *fov;
	const int32_t *second_per_curve; // second focal model, or null
	const int32_t *second_per_zoom;
};

extern const struct lens_tables lens_tables_tamron_df010nl;
extern const struct lens_tables lens_tables_tamron_df020nl;
extern const struct lens_tables lens_tables_tamron_df024nl;
extern const struct lens_tables lens_tables_tamron_de011n;
extern const struct lens_tables lens_tables_tamron_df031n;
extern const struct lens_tables lens_tables_tamron_df023q;
extern const struct lens_tables lens_tables_cbc_r18;
extern const struct lens_tables lens_tables_ricom_af02812db_icr;
extern const struct lens_tables lens_tables_canon_c40x43;
extern const struct lens_tables lens_tables_canon_c50x1485;
extern const struct lens_tables lens_tables_cbc_tsf2_9z2813bhrw_f5;
extern const struct lens_tables lens_tables_tamron_df034n;
extern const struct lens_tables lens_tables_unionoptech_t5285;
extern const struct lens_tables lens_tables_unionoptech_t5377q;
extern const struct lens_tables lens_tables_unionoptech_t5390;
extern const struct lens_tables lens_tables_evetar_e5350a;
extern const struct lens_tables lens_tables_ytot_yt50011db_icr;
extern const struct lens_tables lens_tables_cbc_nsf2_3z5915bmrw_f5;

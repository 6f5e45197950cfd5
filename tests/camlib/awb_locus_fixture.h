// White-balance tuning along the scene model's grey locus, for the loops
// that run white balance on the simulated SoC.
#ifndef TESTS_CAMLIB_AWB_LOCUS_FIXTURE_H
#define TESTS_CAMLIB_AWB_LOCUS_FIXTURE_H

#include "awb_fixture.h"
#include "simsoc_scene.h"

#include <gtest/gtest.h>

#include <math.h>

// The gains that make a grey surface grey under this light.
inline GainPoint neutral(double kelvin)
{
	double r = 1, b = 1;
	EXPECT_EQ(simsoc_scene_illuminant(kelvin, &r, &b), 0);
	return GainPoint{(int32_t)lround(1024 / r), (int32_t)lround(1024 / b)};
}

// Presets T1 to T5 on the grey locus, four zones along it, and (when
// asked) a negative zone around the 6500 K grey, whose colour the test's
// patch takes under 5000 K light. Environments 11, 0 and 2 search them all.
inline awb_tuning locus_tuning(bool negative_zone)
{
	awb_tuning t{};
	const double presets[5] = {2800, 4000, 5000, 6500, 7500};
	for (int i = 0; i < AWB_PRESETS; i++)
		set_preset(&t, i, neutral(5000));
	for (int i = 0; i < 5; i++)
		set_preset(&t, i + 1, neutral(presets[i]));
	for (int i = 0; i < 4; i++)
		t.zone[i] = segment_zone(neutral(presets[i]), neutral(presets[i + 1]), 60, 100, 10);
	if (negative_zone) {
		GainPoint p = neutral(6500);
		t.zone[4] = box_zone((int16_t)(p.r - 40), (int16_t)(p.r + 40), (int16_t)(p.b - 40),
		                     (int16_t)(p.b + 40), -1);
	}
	set_all_envs(&t, 0, 5);
	return t;
}

#endif

// The scene as one frame of the sensors sees it (scene.cpp), for the video
// driver model's statistics (qvd_stats.cpp).
#ifndef SIMSOC_SCENE_INTERNAL_H
#define SIMSOC_SCENE_INTERNAL_H

#include "simsoc_scene.h"

#include <stdint.h>

struct scene_frame {
	// per cell, [row][col]: B with the steps due, and k_r, k_b
	float bright[SIMSOC_SCENE_CELLS][SIMSOC_SCENE_CELLS];
	float k_r[SIMSOC_SCENE_CELLS][SIMSOC_SCENE_CELLS];
	float k_b[SIMSOC_SCENE_CELLS][SIMSOC_SCENE_CELLS];
	double flicker_hz, flicker_depth;
	uint16_t black;
	uint16_t fv1, fv2; // every AF tile's focus values
	bool rgb_hist;     // false: the RGB statistics carry no histograms
};

// The scene as it stands for that frame.
void scene_snapshot(uint64_t frame, scene_frame *out);
// The mean light over an exposure of `seconds` starting at `start`, the
// mean light being 1.
double scene_flicker_gain(const scene_frame *s, double start, double seconds);

#endif

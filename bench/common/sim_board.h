// The simulated SoC back at its start for a benchmark: n VINs like the
// default board's one (source ids 0 to n-1), the default scene, the frame
// clock stepped by hand.
#pragma once

#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_vin.h"

namespace bench
{

inline void simulated_board(unsigned n)
{
	simsoc_qvd_reset();
	simsoc_scene_reset();
	simsoc_qvd_board board;
	simsoc_qvd_default_board_vins(&board, n);
	simsoc_qvd_set_board(&board);
	simsoc_vin_set_framerate(0, 0);
}

} // namespace bench

/* Motion-detection tables and geometry. */
#include "ik_helpers.h"

/* Not built yet: the motion plane is taken as the main output. */
void img_dsp_core_motion_geometry(uint8_t, uint16_t width, uint16_t height, uint16_t *width_motion,
                                  uint16_t *height_motion, uint16_t *phase_inc)
{
	*width_motion = width;
	*height_motion = height;
	*phase_inc = 0;
}

/* Not built yet: the tables stay as they were. */
int img_dsp_core_build_motion_tables(const img_dsp_mode *, uint8_t *, uint8_t *, uint8_t *)
{
	return 0;
}

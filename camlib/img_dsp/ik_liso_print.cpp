/* Configuration printers. */
#include "ik_liso.h"

/* Not built yet: posting with its debug log on prints no sections. */
void img_dsp_low_iso_print_sections(const img_dsp_iso_cfg *) {}

void img_dsp_low_iso_print_ce_part(const img_dsp_iso_cfg *) {}

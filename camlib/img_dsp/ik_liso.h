/* Low-ISO configurations: initialisation, table placement and building. */
#ifndef CAMLIB_IMG_DSP_IK_LISO_H
#define CAMLIB_IMG_DSP_IK_LISO_H

#include "ik_liso_layout.h"
#include "img_dsp.h"

#include <stdbool.h>

int img_dsp_core_low_iso_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode);
int img_dsp_core_low_iso_post_exe_cfg(const img_dsp_mode *mode);

/* Points the table fields of a configuration at the tables of the blocks that
 * the context's slot selectors name, advancing the selectors of the slots
 * marked in `advance`. Slots from `first` to `last` are placed. */
int ik_liso_place_tables(const img_dsp_mode *mode, img_dsp_iso_cfg *cfg, const bool advance[IK_TABLE_SLOTS],
                         unsigned first, unsigned last);

#endif

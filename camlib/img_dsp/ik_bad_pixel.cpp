/* Bad-pixel correction. */
#include "ik_color.h"

/* Not built yet: the dynamic bad-pixel section and its tables keep their
 * contents and the step reports nothing. */
int img_dsp_core_process_dynamic_bad_pixel_correction(const img_dsp_mode *, const void *,
                                                      img_dsp_update_list *)
{
	return 0;
}

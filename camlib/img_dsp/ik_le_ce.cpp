/* Local exposure and contrast enhancement. */
#include "ik_color.h"

/* Not built yet: the local-exposure section and its table keep their
 * contents and the step reports nothing. */
int img_dsp_core_process_local_exposure(const img_dsp_mode *, const void *, img_dsp_update_list *)
{
	return 0;
}

/* Final-sharpen post-processing. */
#include "ik_helpers.h"

/* Not built yet: the final-sharpen table stays as it was. */
int img_dsp_core_post_process_final_sharpen(const img_dsp_mode *, uint8_t *)
{
	return 0;
}

/* Video MCTF table packing. */
#include "ik_helpers.h"

/* Not built yet: the packed table stays as it was. */
int img_dsp_core_pack_video_mctf(const img_dsp_mode *, uint8_t *)
{
	return 0;
}

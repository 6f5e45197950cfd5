/* Posting configurations to the video driver. */
#include "ik_post.h"

#include "ik_core.h"

/* Building and posting a low-ISO configuration is not available yet: refuse
 * rather than report a post that never reached the driver. */
int img_dsp_low_iso_post_exe_cfg(int, const img_dsp_mode *)
{
    IK_ERROR("low-ISO posting is not available\n");
    return -1;
}

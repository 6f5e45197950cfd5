// The video driver's DSP debug log set-up: a record {u32 command; u32 module
// bitmask; u32 level; 24 reserved bytes}.
#include "qvd.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

int qvd_set_dsp_log(simsoc_file *f, void *arg)
{
    (void)f;
    if (!arg)
        return -EFAULT;
    uint32_t rec[9];
    memcpy(rec, arg, sizeof rec);
    bool reserved_clear = true;
    for (int i = 3; i < 9; i++)
        reserved_clear = reserved_clear && rec[i] == 0;
    simsoc_log("qvd: set dsp log cmd %u mask 0x%08x level %u%s", rec[0], rec[1], rec[2],
               reserved_clear ? "" : " reserved-not-zero");
    if (rec[2] > 4)
        return -EINVAL;
    return 0;
}

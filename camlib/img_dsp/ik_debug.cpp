/* Debug facilities: printers. */
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"

int img_dsp_core_utility_print_hdrcfg(const img_dsp_hdr_cfg *cfg)
{
    if (!cfg)
        return -1;
    for (unsigned s = 0; s < 3; s++)
        ik_print("[IK]blend_%u_updated: %d\n", s, (int)((cfg->flags >> s) & 1));
    for (unsigned e = 0; e < 4; e++)
        ik_print("[IK]exp_%u_start_offset_updated: %d\n", e, (int)((cfg->flags >> (3 + e)) & 1));
    ik_print("[IK]number_of_exposure: %d\n", (int)((cfg->flags >> 7) & 7));
    for (unsigned s = 0; s < 3; s++)
        ik_print("[IK]preblend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->preblend_cmds_daddr[s][0],
                 cfg->preblend_cmds_daddr[s][1]);
    for (unsigned s = 0; s < 3; s++)
        ik_print("[IK]blend_cmds_daddr[%u]: 0x%x, 0x%x\n", s, cfg->blend_cmds_daddr[s][0],
                 cfg->blend_cmds_daddr[s][1]);
    for (unsigned e = 0; e < 4; e++)
        ik_print("[IK]raw_daddr_start_offset_y[%u]: %d\n", e, (int)cfg->raw_daddr_start_offset_y[e]);
    return 0;
}

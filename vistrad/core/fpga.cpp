#include "fpga.h"

#include <glib.h>

struct fpga *fpga_generic_create(void) { return g_new0(struct fpga, 1); }

void fpga_generic_free(struct fpga *fpga) { g_free(fpga); }

void fpga_add_platform(struct fpga *fpga, struct platform *platform)
{
    if (fpga)
        fpga->platform = platform;
}

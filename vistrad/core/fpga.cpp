#include "fpga.h"

#include <glib.h>

struct fpga *fpga_generic_create(void)
{
	return g_new0(struct fpga, 1);
}

void fpga_generic_free(struct fpga *fpga)
{
	g_free(fpga);
}

void fpga_add_platform(struct fpga *fpga, struct platform *platform)
{
	if (fpga)
		fpga->platform = platform;
}

int fpga_op_query(struct fpga *fpga)
{
	if (!fpga || !fpga->query)
		return 0;
	return fpga->query(fpga);
}

int fpga_op_flag(struct fpga *fpga, uint8_t flag)
{
	if (!fpga || !fpga->set_flag)
		return -1;
	return fpga->set_flag(fpga, flag);
}

int fpga_op_value(struct fpga *fpga, int value)
{
	if (!fpga || !fpga->set_value)
		return -1;
	return fpga->set_value(fpga, value);
}

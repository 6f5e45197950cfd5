// An FPGA library for the loader test: its object answers a query with the
// argument it was built with.
#include <glib.h>

#include "core/fpga.h"

namespace
{

int query(struct fpga *fpga)
{
	return (int)(intptr_t)fpga->reserved;
}

} // namespace

extern "C" struct fpga *lib_fpga_create(void *argument)
{
	// Built as the daemon's fpga_generic_create would: every field zero.
	struct fpga *f = g_new0(struct fpga, 1);
	f->query = query;
	f->reserved = argument;
	return f;
}

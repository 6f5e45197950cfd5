#include "cl_customerloop.h"

// Least bodies until the frame thread lands: no thread runs.
int cl_main_loop_start(void)
{
	return 0;
}

void cl_main_loop_stop(void) {}

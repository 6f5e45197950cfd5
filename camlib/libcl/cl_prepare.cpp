#include "cl_customerloop.h"

// Least body until the 3A bring-up lands: nothing to prepare.
int start_aaa_init(void)
{
	return 0;
}

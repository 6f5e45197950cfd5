/* Auto-exposure instances: so far only how many there are. */
#include "ae.h"

static int ae_instance_num = 1;

int ae_set_instance_num(int count)
{
	if (count < 1 || count > AE_MAX_INSTANCES)
		return -1;
	ae_instance_num = count;
	return 0;
}

int ae_get_instance_num(void)
{
	return ae_instance_num;
}

/* Least body until the instances land: the daemon creates none, so the
 * filter's targets have nowhere to go. */
int ae_set_target_from_filter(const uint16_t *, int)
{
	return 0;
}

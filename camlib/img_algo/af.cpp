/* Auto focus instances: so far only how many there are. */
#include "af.h"

#include <stdio.h>

static int af_instance_num;

int af_set_instance_num(int count)
{
	if (count < 0 || count > AF_MAX_INSTANCES) {
		printf("af instances number %d out of range 0 - %d\n", count, AF_MAX_INSTANCES);
		return -1;
	}
	af_instance_num = count;
	return 0;
}

int af_get_instance_num(void)
{
	return af_instance_num;
}

#include "algo_cl_modules.h"

#include "platform/sensor_vorsalind.h"

// The sensor modules come first; the algorithm kinds join them as they are built.
void algo_cl_register_modules(struct prodconf *conf)
{
	sensor_register_modules(conf);
}

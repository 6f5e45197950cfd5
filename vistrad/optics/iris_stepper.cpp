// Stepper P-irises. No actuator driver is built yet: the creators make nothing.

#include "iris.h"

void *prodconf_iris_stepper_pcc_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_iris_tb6613ftg_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

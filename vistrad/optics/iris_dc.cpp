// The DC iris. Not built yet: the creator makes nothing.

#include "iris.h"

void *prodconf_iris_dc_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

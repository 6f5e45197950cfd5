// The serial thermal lens. Not built yet: the creator makes nothing.

#include "camblock.h"

void *camblock_tamron_lvz3x3516_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

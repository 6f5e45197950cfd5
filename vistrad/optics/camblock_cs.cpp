// The CS-mount lens block. Not built yet: the creator makes nothing.

#include "camblock.h"

void *camblock_cs(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

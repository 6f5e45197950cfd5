#include "datacache_handler.h"

// No optics steps are built yet, so no stream gets a record.
void *algo_datacache_handler(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

#include "video_sync.h"

#include <glib.h>

// No synchronisation step is built yet, so no stream gets a token.
void *algo_video_sync_streams_handler(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void algo_video_sync_streams_handler_destroy(void *token)
{
	g_free(token);
}

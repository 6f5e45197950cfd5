#pragma once
// Frame-start synchronisation of the channels: the handler kind of the
// product configuration.

#include <stdint.h>

struct prodconf;
struct control;

void *algo_video_sync_streams_handler(struct prodconf *conf, struct control *engine, int32_t stream_id);
void algo_video_sync_streams_handler_destroy(void *token);

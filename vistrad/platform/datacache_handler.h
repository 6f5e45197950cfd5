#pragma once
// Publishing the lens state into the channel's data cache: the handler kind
// of the product configuration.

#include <stdint.h>

struct prodconf;
struct control;

void *algo_datacache_handler(struct prodconf *conf, struct control *engine, int32_t stream_id);

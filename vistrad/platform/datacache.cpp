#include "datacache.h"

#include <glib.h>

struct datacache *datacache_new(void)
{
	return g_new0(struct datacache, 1);
}

void datacache_destroy(struct datacache *cache)
{
	if (!cache)
		return;
	if (cache->destroy)
		cache->destroy(cache);
	cache->platform = nullptr;
	g_free(cache);
}

void datacache_add_platform(struct datacache *cache, struct platform *platform)
{
	if (cache)
		cache->platform = platform;
}

int datacache_setup(struct datacache *, int32_t)
{
	return -1;
}

void *datacache_general(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *datacache_optics_input_source(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *datacache_distance_input_source(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *datacache_move_input_source(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *datacache_sensor_data_input_source(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

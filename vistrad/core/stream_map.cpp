#include "stream_map.h"

#include <glib.h>
#include <pthread.h>

#include <initializer_list>

namespace
{

GHashTable *maps; // channel -> stream_map
// Looked up from setter threads while the main thread may register a layout.
pthread_mutex_t maps_lock = PTHREAD_MUTEX_INITIALIZER;

int32_t map_first(const stream_mapper *m, int32_t stream_id, int)
{
	return m->count > 0 ? m->ids[0] : stream_id;
}

int32_t map_second(const stream_mapper *m, int32_t stream_id, int)
{
	return m->count > 1 ? m->ids[1] : stream_id;
}

int32_t map_indexed(const stream_mapper *m, int32_t stream_id, int argument)
{
	if (argument < 0 || argument >= m->count)
		return stream_id;
	return m->ids[argument];
}

void mapper_init(stream_mapper *m, std::initializer_list<int32_t> ids, stream_mapper_fn fn)
{
	m->count = (int)ids.size();
	m->ids = g_new(int32_t, m->count);
	int i = 0;
	for (int32_t id : ids)
		m->ids[i++] = id;
	m->map = fn;
}

void destroy_map(gpointer data)
{
	stream_map_destroy(static_cast<stream_map *>(data));
}

int32_t apply(const stream_mapper *m, int32_t stream_id, int argument)
{
	return m->map ? m->map(m, stream_id, argument) : stream_id;
}

// Runs fn on the channel's map under the lock, or gives the id unchanged.
template <typename F> int32_t with_map(int32_t stream_id, F fn)
{
	pthread_mutex_lock(&maps_lock);
	stream_map *map = maps ? static_cast<stream_map *>(
	                             g_hash_table_lookup(maps, GINT_TO_POINTER(stream_id_channel(stream_id))))
	                       : nullptr;
	int32_t result = map ? fn(map) : stream_id;
	pthread_mutex_unlock(&maps_lock);
	return result;
}

} // namespace

int stream_id_channel(int32_t stream_id)
{
	return ((stream_id < 0 ? 0 : stream_id) >> 8) & 0xff;
}

struct stream_map *stream_map_new_dual(int channel, int32_t short_id, int32_t long_id, int32_t merged_id)
{
	int32_t b = channel * 256;
	stream_map *map = g_new0(stream_map, 1);
	map->substream_count = 2;
	map->substreams = g_new0(stream_mapper, 2);
	mapper_init(&map->substreams[0], {b, b}, map_first);
	mapper_init(&map->substreams[1], {b, b}, map_second);
	mapper_init(&map->param, {b}, map_first);
	mapper_init(&map->role, {short_id, long_id, merged_id}, map_indexed);
	return map;
}

struct stream_map *stream_map_new_single(int channel)
{
	int32_t b = channel * 256;
	stream_map *map = g_new0(stream_map, 1);
	map->substream_count = 1;
	map->substreams = g_new0(stream_mapper, 1);
	mapper_init(&map->substreams[0], {b}, map_first);
	mapper_init(&map->param, {b}, map_first);
	mapper_init(&map->role, {b, b, b}, map_indexed);
	return map;
}

struct stream_map *stream_map_new_dual_short_first(int channel)
{
	int32_t b = channel * 256;
	return stream_map_new_dual(channel, b + 1, b, b);
}

struct stream_map *stream_map_new_dual_long_first(int channel)
{
	int32_t b = channel * 256;
	return stream_map_new_dual(channel, b, b + 1, b);
}

struct stream_map *stream_map_new_dual_paired(int channel)
{
	int32_t b = channel * 256;
	if (channel % 2 == 0)
		return stream_map_new_dual(channel, (channel + 1) * 256 + 1, b, b);
	int32_t partner = (channel - 1) * 256;
	return stream_map_new_dual(channel, b + 1, partner, partner);
}

void stream_map_destroy(struct stream_map *map)
{
	if (!map)
		return;
	for (int i = 0; i < map->substream_count; i++)
		g_free(map->substreams[i].ids);
	g_free(map->substreams);
	g_free(map->param.ids);
	g_free(map->role.ids);
	g_free(map);
}

void stream_map_register(int channel, stream_map_constructor constructor)
{
	if (!constructor)
		return;
	stream_map *map = constructor(channel);
	pthread_mutex_lock(&maps_lock);
	if (!maps)
		maps = g_hash_table_new_full(g_direct_hash, g_direct_equal, nullptr, destroy_map);
	g_hash_table_replace(maps, GINT_TO_POINTER(channel), map);
	pthread_mutex_unlock(&maps_lock);
}

void stream_map_free(void)
{
	pthread_mutex_lock(&maps_lock);
	if (maps)
		g_hash_table_destroy(maps);
	maps = nullptr;
	pthread_mutex_unlock(&maps_lock);
}

int32_t stream_map_param_stream(int32_t stream_id, uint32_t)
{
	return with_map(stream_id, [stream_id](stream_map *m) { return apply(&m->param, stream_id, 0); });
}

int32_t stream_map_substream(int32_t stream_id, int argument, int index)
{
	return with_map(stream_id, [=](stream_map *m) {
		if (index < 0 || index >= m->substream_count)
			return stream_id;
		return apply(&m->substreams[index], stream_id, argument);
	});
}

int32_t stream_map_substream_by_id(int32_t stream_id, int argument)
{
	return stream_map_substream(stream_id, argument, stream_id < 0 ? 0 : stream_id & 255);
}

int32_t stream_map_stream_id(int32_t stream_id, int role)
{
	return with_map(stream_id, [=](stream_map *m) { return apply(&m->role, stream_id, role); });
}

#pragma once
// Stream ids and the per-channel stream maps: which stream id of a channel
// holds its parameters and info-pool values, and which plays which exposure role.

#include <stdint.h>

#define DUAL_EXPOSURE_STREAM_SHORT 0
#define DUAL_EXPOSURE_STREAM_LONG 1
#define DUAL_EXPOSURE_STREAM_MERGED 2

struct stream_mapper;
typedef int32_t (*stream_mapper_fn)(const struct stream_mapper *mapper, int32_t stream_id, int argument);

struct stream_mapper {
	int32_t *ids;
	int count;
	stream_mapper_fn map;
};

struct stream_map {
	struct stream_mapper *substreams;
	int substream_count;
	struct stream_mapper param;
	struct stream_mapper role;
};

typedef struct stream_map *(*stream_map_constructor)(int channel);

// Bits 8 to 15 of a stream id; negative ids belong to channel 0.
int stream_id_channel(int32_t stream_id);

struct stream_map *stream_map_new_single(int channel);
struct stream_map *stream_map_new_dual_short_first(int channel);
struct stream_map *stream_map_new_dual_long_first(int channel);
struct stream_map *stream_map_new_dual_paired(int channel);
struct stream_map *stream_map_new_dual(int channel, int32_t short_id, int32_t long_id, int32_t merged_id);
void stream_map_destroy(struct stream_map *map);

void stream_map_register(int channel, stream_map_constructor constructor);
void stream_map_free(void);
int32_t stream_map_param_stream(int32_t stream_id, uint32_t param_id);
int32_t stream_map_substream_by_id(int32_t stream_id, int argument);
int32_t stream_map_substream(int32_t stream_id, int argument, int index);
int32_t stream_map_stream_id(int32_t stream_id, int role);

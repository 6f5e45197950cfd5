#pragma once
// Frame-start synchronisation of the channels: for a stream whose sensor can
// shift its frame timing, one step consumes the stream's frame-sync records
// (data type 161), measures the channel's frame rate and steers the sensor
// so that its frames start with those of its group's first channel. Channels
// whose sensors are of one type, frame rate and line count form a group.

#include <glib.h>
#include <stdint.h>

struct prodconf;
struct control;

#define VIDEO_SYNC_INPUT_TYPE 161

// The handler kind of the product configuration: a token (freed with
// algo_video_sync_streams_handler_destroy), or null when the stream's
// settings cannot be read.
void *algo_video_sync_streams_handler(struct prodconf *conf, struct control *engine, int32_t stream_id);
void algo_video_sync_streams_handler_destroy(void *token);

// The groups: a new list with, for each group, a new list of its members'
// channel + 1 (GINT_TO_POINTER) in joining order. The product
// configuration's sync_groups query.
GList *video_sync_groups(void);
void video_sync_groups_free(GList *groups);

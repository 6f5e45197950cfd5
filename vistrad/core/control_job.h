#pragma once
// The data record that flows between producers and algorithm steps: a
// 64-byte header followed by the producer's payload.

#include <stdint.h>

#define CONTROL_DATA_TYPES 173
#define CONTROL_TIMEOUT_TYPE_FIRST 90
#define CONTROL_TIMEOUT_TYPE_LAST 109
#define CONTROL_TIMEOUT_TYPES 20

struct control_timestamp {
	int64_t sec;
	int64_t usec;
};

struct control_job {
	uint32_t type;
	int32_t stream_id;
	uint32_t queued;
	void (*release)(struct control_job *job);
	uint32_t frame;
	struct control_timestamp timestamp;
	uint32_t producer_word;
	uint32_t reserved[3];
};

static_assert(sizeof(control_job) == 64, "the record header is 64 bytes");

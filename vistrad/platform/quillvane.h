#pragma once
// Status-cache publisher. Only what the platform's device list touches is here yet.

#include <stdint.h>

struct platform;

struct quillvane {
	uint32_t type;
	int32_t stream_id;
	struct platform *platform;
	void (*destroy)(struct quillvane *publisher);
};

void quillvane_add_platform(struct quillvane *publisher, struct platform *platform);
void quillvane_destroy(struct quillvane *publisher);

struct prodconf;
struct control;
// Module creators of the registry; they make nothing yet.
void *quillvane_af_fix(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *quillvane_af_ptz(struct prodconf *conf, struct control *engine, int32_t stream_id);

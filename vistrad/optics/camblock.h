#pragma once
// Camera-block (lens block) object. Only what the platform uses is here yet.

#include <stdint.h>

struct platform;
struct iris;
struct ircut;

struct camblock {
	uint32_t type;
	int32_t stream_id;
	struct platform *platform;
	void (*destroy)(struct camblock *block);
	// The lens block's own iris and IR-cut filter, owned by the platform;
	// non-null also tells the D-Bus front-end the block has one.
	struct iris *iris;
	struct ircut *ircut;
};

struct camblock *camblock_new(void);
void camblock_add_platform(struct camblock *block, struct platform *platform);
void camblock_destroy(struct camblock *block);

struct prodconf;
struct control;
// The hook OPTICS_DETECTION: identifies the lens block and selects its module.
int camblock_detect(struct prodconf *conf, struct control *engine, int32_t argument);
// Without a lens block driver both give the missing-block answer, -3.
int camblock_capture_mode_changed(struct camblock *block, int32_t stream_id);
int camblock_get_error_code(struct camblock *block);

// Module creators of the registry.
void *camblock_cs(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *camblock_ekt(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *camblock_tamron_lvz3x3516_create(struct prodconf *conf, struct control *engine, int32_t stream_id);

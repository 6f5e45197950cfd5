#pragma once
// Status-cache publishers: they publish the optics status of the channel's
// lens in the status cache ("PTZ_POSITION_IS%d", "OPTICS_STATUS_IS%d", n =
// channel + 1) and read a PTZ head's pan and tilt from it. The group slots
// are the status-cache library's own calls. Wrappers give -1 when the
// object or the slot is missing.

#include <stdint.h>

struct platform;
struct prodconf;
struct control;
struct sc_entry;

#define QUILLVANE_AF_PTZ 2
#define QUILLVANE_AF_FIX 3

// What was last published; nothing is while published is 0.
struct quillvane_status {
	int32_t published;
	int32_t zoom_status;  // ZOOM_OPT_STATUS
	int32_t focus_status; // FOCUS_STATUS
	float magnification;
	float hfov;
	float vfov;
	float focus_distance; // dioptres
	int32_t zoom_position;
	int32_t focus_value;
	int32_t scales[3]; // Q14: field of view (info pool 82), masks (85, 86)
	float k[4];        // lens distortion
	int32_t block_initialised;
};

struct quillvane {
	uint32_t type;
	int32_t stream_id;
	struct platform *platform;
	int (*read_ptz_position)(struct quillvane *publisher);
	int (*update_optics_status)(struct quillvane *publisher);
	int (*init)(struct quillvane *publisher);
	int (*update)(struct quillvane *publisher);
	void (*destroy)(struct quillvane *publisher);
	int (*create_group)(const char *name, int size, int flags);
	int (*set_group)(const char *name, struct sc_entry **entries, int flags);
	int (*get_group)(const char *name, struct sc_entry **entries, int flags);
	uint32_t ptz_moving;
	float pan;
	float tilt;
	struct quillvane_status last;
};

// Module creates of the registry (category 13), and the same without the
// configuration (no caller).
void *quillvane_af_ptz(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *quillvane_af_fix(struct prodconf *conf, struct control *engine, int32_t stream_id);
struct quillvane *quillvane_af_ptz_create(int32_t stream_id);
struct quillvane *quillvane_af_fix_create(int32_t stream_id);

void quillvane_add_platform(struct quillvane *publisher, struct platform *platform);
// Runs the destroy slot, clears the platform pointer and frees the object.
void quillvane_destroy(struct quillvane *publisher);

int quillvane_read_ptz_position(struct quillvane *publisher);
int quillvane_update_optics_status(struct quillvane *publisher);
int quillvane_init(struct quillvane *publisher);
int quillvane_update(struct quillvane *publisher);
int quillvane_create_group(struct quillvane *publisher, const char *name, int size, int flags);
int quillvane_set_group(struct quillvane *publisher, const char *name, struct sc_entry **entries, int flags);
int quillvane_get_group(struct quillvane *publisher, const char *name, struct sc_entry **entries, int flags);

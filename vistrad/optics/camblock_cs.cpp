// The CS-mount lens block: a lens without a controller, zoom and focus set
// by hand. The daemon only needs its fields of view and focal length, to
// publish them and to give the image stabiliser a focal length.

#include <stddef.h>

#include "camblock.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "core/prodconf_tree.h"
#include "focus_zoom.h"
#include "optics_math.h"
#include "platform/platform.h"

#define PARAM_OPTICS_WIDE_HFOV 89
#define PARAM_OPTICS_WIDE_VFOV 90
#define PARAM_OPTICS_TELE_HFOV 91
#define PARAM_OPTICS_TELE_VFOV 92
#define PARAM_CAPABILITIES 103
#define PARAM_STABILIZER_FOCAL_LENGTH 140
#define PARAM_EXTRA_CAPABILITIES 149
#define PARAM_CAMBLOCK_TYPE 159

#define CAMBLOCK_TYPE_NAME_CS 3

namespace
{

struct cs_settings {
	uint32_t zoom_cur_hfov; // Q14 degrees
	uint32_t zoom_cur_vfov;
	uint32_t zoom_wide_hfov;
	uint32_t zoom_wide_vfov;
	uint32_t zoom_tele_hfov;
	uint32_t zoom_tele_vfov;
	uint32_t move_capabilities;
	uint32_t extra_capabilities;
	uint32_t eis_focal_length; // micrometres
};

struct cs_block {
	struct camblock base; // first: the block is freed as a camblock
	struct cs_settings settings;
	int32_t focal_length; // Q14 millimetres
	int32_t callback_id;  // -1 when none
};

// The parameter database owns and frees the holder with the callback.
struct cs_holder {
	struct cs_block *block;
};

#define FIELD(key, kind) prodconf_field_i32(#key, kind, PRODCONF_OPTIONAL, offsetof(cs_settings, key), 0)
const prodconf_field cs_fields[] = {
    FIELD(zoom_cur_hfov, PRODCONF_FIXED),   FIELD(zoom_cur_vfov, PRODCONF_FIXED),
    FIELD(zoom_wide_hfov, PRODCONF_FIXED),  FIELD(zoom_wide_vfov, PRODCONF_FIXED),
    FIELD(zoom_tele_hfov, PRODCONF_FIXED),  FIELD(zoom_tele_vfov, PRODCONF_FIXED),
    FIELD(move_capabilities, PRODCONF_INT), FIELD(extra_capabilities, PRODCONF_INT),
    FIELD(eis_focal_length, PRODCONF_INT),
};
#undef FIELD
const prodconf_schema cs_schema = {"camblock_cs", sizeof(cs_settings), cs_fields,
                                   sizeof(cs_fields) / sizeof(cs_fields[0])};

struct cs_block *cs_of(struct camblock *block)
{
	return reinterpret_cast<cs_block *>(block);
}

// Micrometres to Q14 millimetres.
int32_t focal_length_of(int32_t micrometres)
{
	return (int32_t)optics_div_round((int64_t)micrometres << 14, 1000);
}

int current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical, int32_t)
{
	const cs_settings *s = &cs_of(block)->settings;
	if (!s->zoom_cur_hfov || !s->zoom_cur_vfov)
		return -3;
	if (horizontal)
		*horizontal = s->zoom_cur_hfov;
	if (vertical)
		*vertical = s->zoom_cur_vfov;
	return 0;
}

int32_t current_focal_length(struct camblock *block)
{
	return cs_of(block)->focal_length;
}

// Readers that watch the zoom position learn from its step that the optics
// changed.
int focal_length_changed(void *, void *holder, struct param_value *value, struct param_callback *)
{
	cs_block *cs = holder ? static_cast<cs_holder *>(holder)->block : nullptr;
	if (!cs)
		return -1;
	cs->focal_length = focal_length_of(value->value);
	if (cs->base.zoom)
		cs->base.zoom->position++;
	return 0;
}

void destroy(struct camblock *block)
{
	cs_block *cs = cs_of(block);
	if (cs->callback_id >= 0) {
		param_value key = {};
		key.id = PARAM_STABILIZER_FOCAL_LENGTH;
		key.stream_id = block->stream_id;
		param_unregister_callback(cs->callback_id, &key);
		cs->callback_id = -1;
	}
	zoom_destroy(block->zoom);
	block->zoom = nullptr;
	focus_destroy(block->focus);
	block->focus = nullptr;
}

void apply_setting(uint32_t id, int32_t stream_id, uint32_t value)
{
	if (value)
		param_set_int(id, stream_id, (int32_t)value);
}

} // namespace

struct camblock *camblock_cs_new(struct control *engine, struct platform *platform, int32_t stream_id)
{
	cs_block *cs = g_new0(cs_block, 1);
	struct camblock *block = &cs->base;
	cs->callback_id = -1;
	control_add_camblock(engine, block, stream_id);
	camblock_add_platform(block, platform);
	block->type = CAMBLOCK_TYPE_COMMON;
	block->stream_id = stream_id;
	block->get_current_fov = current_fov;
	block->get_current_focal_length = current_focal_length;
	block->destroy = destroy;
	struct iris *iris = platform_get_iris(platform, stream_id);
	if (iris)
		camblock_set_iris(block, iris);
	camblock_set_zoom(block, zoom_new_fixed());
	camblock_set_focus(block, focus_new_fixed());
	int32_t micrometres = 0;
	if (param_get_int(PARAM_STABILIZER_FOCAL_LENGTH, stream_id, &micrometres) == 0)
		cs->focal_length = focal_length_of(micrometres);
	cs_holder *holder = g_new0(cs_holder, 1);
	holder->block = cs;
	cs->callback_id =
	    param_register_callback(PARAM_STABILIZER_FOCAL_LENGTH, stream_id, focal_length_changed,
	                            PARAM_NOTIFY_ON_CHANGE, nullptr, holder);
	if (cs->callback_id < 0)
		g_free(holder);
	param_set_fix(PARAM_OPTICS_WIDE_HFOV, stream_id, 100 << 14);
	param_set_fix(PARAM_OPTICS_WIDE_VFOV, stream_id, 68 << 14);
	return block;
}

void *camblock_cs(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (prodconf_section(conf, cs_schema.name) &&
	    (!prodconf_read_item(conf, &cs_schema, cs_schema.name, stream_id, &item) || !item)) {
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf camblock_cs from file!\n");
		return nullptr;
	}
	auto *settings = static_cast<cs_settings *>(item);
	struct camblock *block = camblock_cs_new(engine, control_get_platform(engine), stream_id);
	if (!block) {
		debug_output(DEBUG_ERROR, 0, "Failed to create camblock cs\n");
		g_free(settings);
		return nullptr;
	}
	param_set_int(PARAM_CAMBLOCK_TYPE, stream_id, CAMBLOCK_TYPE_NAME_CS);
	if (settings) {
		cs_of(block)->settings = *settings;
		apply_setting(PARAM_OPTICS_WIDE_HFOV, stream_id, settings->zoom_wide_hfov);
		apply_setting(PARAM_OPTICS_WIDE_VFOV, stream_id, settings->zoom_wide_vfov);
		apply_setting(PARAM_OPTICS_TELE_HFOV, stream_id, settings->zoom_tele_hfov);
		apply_setting(PARAM_OPTICS_TELE_VFOV, stream_id, settings->zoom_tele_vfov);
		apply_setting(PARAM_CAPABILITIES, stream_id, settings->move_capabilities);
		apply_setting(PARAM_EXTRA_CAPABILITIES, stream_id, settings->extra_capabilities);
		apply_setting(PARAM_STABILIZER_FOCAL_LENGTH, stream_id, settings->eis_focal_length);
	}
	g_free(settings);
	return block;
}

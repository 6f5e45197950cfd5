#include "quillvane.h"

#include <glib.h>
#include <libquillvane.h>
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "lens_view.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "platform.h"

static_assert(offsetof(sc_entry, name) == 0, "status-cache entry layout");
static_assert(offsetof(sc_entry, size) == 8, "status-cache entry layout");
static_assert(offsetof(sc_entry, value) == 16, "status-cache entry layout");
static_assert(offsetof(sc_entry, type) == 24, "status-cache entry layout");
static_assert(sizeof(sc_entry) == 32, "status-cache entry layout");

namespace
{

const int32_t unity = 16384;

// Info-pool ids and parameters the publisher reads and sets.
enum {
	INFO_FOCUS_HELD = 33,
	INFO_PTZ_MOVING = 57,
	INFO_FOV_SCALE = 82,
	INFO_MASK_SCALE_H = 85,
	INFO_MASK_SCALE_V = 86,
	PARAM_OPTICS_MAX_MAG = 88,
	PARAM_OPTICS_WIDE_HFOV = 89,
	PARAM_OPTICS_WIDE_VFOV = 90,
	PARAM_OPTICS_TELE_HFOV = 91,
	PARAM_OPTICS_TELE_VFOV = 92,
	PARAM_AF_NEAR_LIMIT_MAX = 157,
	PARAM_AF_FAR_LIMIT_MAX = 158,
};

const int optics_group_size = 512;

sc_entry entry(const char *name, void *value, uint32_t type)
{
	sc_entry e = {};
	e.name = name;
	e.size = 4;
	e.value = value;
	e.type = type;
	return e;
}

void group_name(char *out, size_t size, const char *format, int32_t stream_id)
{
	snprintf(out, size, format, platform_stream_channel(stream_id) + 1);
}

float from_q14(int32_t value)
{
	return (float)value / 16384.0f;
}

int32_t scale_of(uint32_t id, int32_t stream_id, bool zero_is_unity)
{
	int32_t value = unity;
	if (info_pool_get_imfix(id, stream_id, &value) != 0)
		return unity;
	return zero_is_unity && value == 0 ? unity : value;
}

// A mask narrows the field of view about its centre.
float masked(float fov_degrees, int32_t scale)
{
	double half = (double)fov_degrees / 2.0 * M_PI / 180.0;
	return (float)(2.0 * atan((double)scale / 16384.0 * tan(half)) * 180.0 / M_PI);
}

void forget_published(struct quillvane_status *last)
{
	last->published = 0;
	last->zoom_status = -1;
	last->focus_status = -1;
	last->magnification = -1.0f;
	last->hfov = -1.0f;
	last->vfov = -1.0f;
	last->focus_distance = -1.0f;
	last->zoom_position = -1;
	last->focus_value = -1;
	last->scales[0] = unity;
	last->scales[1] = -1;
	last->scales[2] = -1;
	for (float &k : last->k)
		k = -1.0f;
	last->block_initialised = -1;
}

bool same_status(const quillvane_status &a, const quillvane_status &b)
{
	return a.zoom_status == b.zoom_status && a.focus_status == b.focus_status &&
	       a.magnification == b.magnification && a.hfov == b.hfov && a.vfov == b.vfov &&
	       a.focus_distance == b.focus_distance && memcmp(a.scales, b.scales, sizeof(a.scales)) == 0 &&
	       memcmp(a.k, b.k, sizeof(a.k)) == 0 && a.block_initialised == b.block_initialised;
}

void no_distortion(quillvane_status *now)
{
	now->k[0] = 1.0f;
	now->k[1] = now->k[2] = now->k[3] = 0.0f;
}

// Until the block has initialised, a status never published reads as the
// wide end focused at infinity.
void status_of_idle_lens(quillvane_status *now, camblock *block, zoom_object *z)
{
	now->zoom_status = 0;
	now->focus_status = 0;
	now->magnification = 1.0f;
	now->focus_distance = 0.0f;
	no_distortion(now);
	uint32_t h = 0, v = 0;
	camblock_get_fov_at_distance_index(block, zoom_position_for_magnification(z, unity), 0, &h, &v,
	                                   now->scales[0]);
	now->hfov = from_q14((int32_t)h);
	now->vfov = from_q14((int32_t)v);
}

int status_of_lens(quillvane *q, quillvane_status *now, camblock *block, zoom_object *z, focus_object *f,
                   const lens_view &view)
{
	const quillvane_status &last = q->last;
	now->zoom_status = view.zoom_pending || view.zoom_position != view.zoom_target;
	now->focus_status = view.focus_pending;
	if (view.zoom_position != last.zoom_position) {
		int32_t m = zoom_magnification_at_position(z, view.zoom_position);
		if (m < 0) {
			debug_output(DEBUG_ERROR, 0, "sc_af_ptz: Unable to get zoom magnification\n");
			return -1;
		}
		now->magnification = from_q14(m);
	}
	int32_t held = 0;
	if (info_pool_get_int(INFO_FOCUS_HELD, q->stream_id, &held) == 0 && held != 0) {
		// Someone else owns the focus: its distance and the value it was
		// computed from stay as published.
		now->focus_status = 1;
	} else {
		if (view.focus_value != last.focus_value || view.zoom_position != last.zoom_position)
			now->focus_distance = from_q14(focus_get_distance_diopters(f));
		now->focus_value = view.focus_value;
	}
	now->zoom_position = view.zoom_position;
	uint32_t k[4];
	if (camblock_get_lens_distortion(block, view.zoom_position, view.focus_value,
	                                 view.focus_value_is_position, &k[0], &k[1], &k[2], &k[3]) != 0) {
		no_distortion(now);
	} else {
		for (int i = 0; i < 4; i++)
			now->k[i] = from_q14((int32_t)k[i]);
	}
	uint32_t h = 0, v = 0;
	if (camblock_get_current_fov(block, &h, &v, now->scales[0]) != 0) {
		debug_output(DEBUG_ERROR, 0, "sc_af_ptz: Unable to get field of view\n");
		return -1;
	}
	now->hfov = from_q14((int32_t)h);
	now->vfov = from_q14((int32_t)v);
	if (now->scales[1] != unity || now->scales[2] != unity) {
		now->hfov = masked(now->hfov, now->scales[1]);
		now->vfov = masked(now->vfov, now->scales[2]);
	}
	return 0;
}

// Writes the status: six values to the PTZ group, all ten to the optics
// group (made when missing). Gives the two write results, or -1.
int write_status(quillvane *q, quillvane_status *now, int *ptz_written, int *optics_written)
{
	int32_t zoom_status = now->zoom_status;
	int32_t focus_status = now->focus_status;
	sc_entry entries[] = {
	    entry("ZOOM_OPT_MAG", &now->magnification, SC_TYPE_FLOAT),
	    entry("ZOOM_OPT_STATUS", &zoom_status, SC_TYPE_INT),
	    entry("ZOOM_MASK_HFOV", &now->hfov, SC_TYPE_FLOAT),
	    entry("ZOOM_MASK_VFOV", &now->vfov, SC_TYPE_FLOAT),
	    entry("FOCUS_DISTANCE_DIOPT", &now->focus_distance, SC_TYPE_FLOAT),
	    entry("FOCUS_STATUS", &focus_status, SC_TYPE_INT),
	    entry("LENS_CORR_K0", &now->k[0], SC_TYPE_FLOAT),
	    entry("LENS_CORR_K1", &now->k[1], SC_TYPE_FLOAT),
	    entry("LENS_CORR_K2", &now->k[2], SC_TYPE_FLOAT),
	    entry("LENS_CORR_K3", &now->k[3], SC_TYPE_FLOAT),
	};
	sc_entry *ptz[7], *optics[11];
	for (int i = 0; i < 10; i++) {
		if (i < 6)
			ptz[i] = &entries[i];
		optics[i] = &entries[i];
	}
	ptz[6] = nullptr;
	optics[10] = nullptr;

	char name[32];
	group_name(name, sizeof(name), "PTZ_POSITION_IS%d", q->stream_id);
	*ptz_written = quillvane_set_group(q, name, ptz, SC_FLAG_CREATE);
	group_name(name, sizeof(name), "OPTICS_STATUS_IS%d", q->stream_id);
	*optics_written = quillvane_set_group(q, name, optics, SC_FLAG_WRITE);
	if (*optics_written < 0) {
		int r = quillvane_create_group(q, name, optics_group_size, 0);
		if (r < 0) {
			debug_output(DEBUG_ERROR, 0, "sc_af_ptz: Can not create scache group %s %i!\n", name,
			             r);
			return -1;
		}
		*optics_written = quillvane_set_group(q, name, optics, SC_FLAG_CREATE);
		if (*optics_written < 0) {
			debug_output(DEBUG_ERROR, 0, "sc_af_ptz: Can not create scache params!\n");
			return -1;
		}
	}
	return 0;
}

int update_optics_status(struct quillvane *q)
{
	platform *plat = q->platform;
	camblock *block = platform_get_camblock(plat, q->stream_id);
	zoom_object *z = platform_get_zoom(plat, q->stream_id);
	focus_object *f = platform_get_focus(plat, q->stream_id);
	lens_view view;
	lens_view_read(block, z, f, &view);

	quillvane_status now = q->last;
	now.scales[0] = scale_of(INFO_FOV_SCALE, q->stream_id, false);
	now.scales[1] = scale_of(INFO_MASK_SCALE_H, q->stream_id, true);
	now.scales[2] = scale_of(INFO_MASK_SCALE_V, q->stream_id, true);
	now.block_initialised = view.block_initialised;
	if (!view.block_initialised) {
		// Before the block has initialised a published status stands.
		if (!q->last.published)
			status_of_idle_lens(&now, block, z);
	} else if (status_of_lens(q, &now, block, z, f, view) < 0) {
		return -1;
	}
	if (q->last.published && same_status(now, q->last))
		return 0;

	int ptz_written = 0, optics_written = 0;
	if (write_status(q, &now, &ptz_written, &optics_written) < 0)
		return -1;
	lens_view_set_focus_settled(f, !now.focus_status);
	if (optics_written != 10)
		return -1;
	memcpy(q->last.k, now.k, sizeof(now.k));
	if (ptz_written > 5) {
		now.published = 1;
		q->last = now;
	}
	return 0;
}

int read_ptz_position(struct quillvane *q)
{
	int32_t pan_status = 0, tilt_status = 0;
	float pan = 0.0f, tilt = 0.0f;
	sc_entry entries[] = {
	    entry("PAN_STATUS", &pan_status, SC_TYPE_INT),
	    entry("TILT_STATUS", &tilt_status, SC_TYPE_INT),
	    entry("PAN_DEG", &pan, SC_TYPE_FLOAT),
	    entry("TILT_DEG", &tilt, SC_TYPE_FLOAT),
	};
	sc_entry *list[] = {&entries[0], &entries[1], &entries[2], &entries[3], nullptr};
	char name[32];
	group_name(name, sizeof(name), "PTZ_POSITION_IS%d", q->stream_id);
	if (quillvane_get_group(q, name, list, SC_FLAG_READ) < 4)
		return -1;
	q->ptz_moving = pan_status == 1 || tilt_status == 1;
	q->pan = pan;
	q->tilt = tilt;
	return info_pool_set_bool(INFO_PTZ_MOVING, q->stream_id, INFO_POOL_VOLATILE,
	                          (uint8_t)q->ptz_moving) == 0
	           ? 0
	           : -1;
}

// The field of view at one end of the zoom, focused at infinity.
int publish_end_fov(quillvane *q, camblock *block, int32_t zoom_position, uint32_t hfov_id, uint32_t vfov_id)
{
	int32_t focus_position = camblock_distance_index_to_focus_position(block, zoom_position, 0);
	uint32_t h = 0, v = 0;
	if (camblock_get_fov_at_focus_position(block, zoom_position, focus_position, &h, &v, unity) != 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Unable to get field of view\n", "quillvane_af_common_init");
		return -1;
	}
	param_set_fix(hfov_id, q->stream_id, (int32_t)h);
	param_set_fix(vfov_id, q->stream_id, (int32_t)v);
	return 0;
}

int quillvane_af_common_init(struct quillvane *q)
{
	forget_published(&q->last);
	camblock *block = platform_get_camblock(q->platform, q->stream_id);
	zoom_object *z = platform_get_zoom(q->platform, q->stream_id);
	int32_t near_limit = 0, far_limit = 0;
	if (lens_view_focus_limits(block, &near_limit, &far_limit)) {
		param_set_int(PARAM_AF_NEAR_LIMIT_MAX, q->stream_id, near_limit);
		param_set_int(PARAM_AF_FAR_LIMIT_MAX, q->stream_id, far_limit);
	}
	if (!z || !lens_view_zoom_has_table(z)) {
		debug_output(DEBUG_ERROR, 0, "%s: Zoom table missing\n", "quillvane_af_common_init");
		return -1;
	}
	param_set_fix(PARAM_OPTICS_MAX_MAG, q->stream_id, zoom_max_magnification(z));
	if (publish_end_fov(q, block, zoom_get_min(z), PARAM_OPTICS_WIDE_HFOV, PARAM_OPTICS_WIDE_VFOV) < 0 ||
	    publish_end_fov(q, block, zoom_get_max(z), PARAM_OPTICS_TELE_HFOV, PARAM_OPTICS_TELE_VFOV) < 0)
		return -1;
	return quillvane_update_optics_status(q);
}

int ptz_update(struct quillvane *q)
{
	return quillvane_read_ptz_position(q) + quillvane_update_optics_status(q);
}

int fix_update(struct quillvane *q)
{
	return quillvane_update_optics_status(q);
}

void destroy_nothing(struct quillvane *) {}

quillvane *publisher_new(uint32_t type, int32_t stream_id)
{
	quillvane *q = g_new0(quillvane, 1);
	q->type = type;
	q->stream_id = stream_id;
	q->update_optics_status = update_optics_status;
	q->init = quillvane_af_common_init;
	q->destroy = destroy_nothing;
	q->create_group = sc_create_group;
	q->set_group = sc_set_group;
	forget_published(&q->last);
	return q;
}

template <typename Slot, typename... Args> int call(struct quillvane *q, Slot quillvane::*slot, Args... args)
{
	if (!q || !(q->*slot))
		return -1;
	return (q->*slot)(args...);
}

} // namespace

struct quillvane *quillvane_af_ptz_create(int32_t stream_id)
{
	quillvane *q = publisher_new(QUILLVANE_AF_PTZ, stream_id);
	q->read_ptz_position = read_ptz_position;
	q->update = ptz_update;
	q->get_group = sc_get_group;
	return q;
}

struct quillvane *quillvane_af_fix_create(int32_t stream_id)
{
	quillvane *q = publisher_new(QUILLVANE_AF_FIX, stream_id);
	q->update = fix_update;
	return q;
}

void *quillvane_af_ptz(struct prodconf *, struct control *, int32_t stream_id)
{
	return quillvane_af_ptz_create(stream_id);
}

void *quillvane_af_fix(struct prodconf *, struct control *, int32_t stream_id)
{
	return quillvane_af_fix_create(stream_id);
}

void quillvane_add_platform(struct quillvane *publisher, struct platform *platform)
{
	if (publisher)
		publisher->platform = platform;
}

void quillvane_destroy(struct quillvane *publisher)
{
	if (!publisher)
		return;
	if (publisher->destroy)
		publisher->destroy(publisher);
	publisher->platform = nullptr;
	g_free(publisher);
}

int quillvane_read_ptz_position(struct quillvane *publisher)
{
	return call(publisher, &quillvane::read_ptz_position, publisher);
}

int quillvane_update_optics_status(struct quillvane *publisher)
{
	return call(publisher, &quillvane::update_optics_status, publisher);
}

int quillvane_init(struct quillvane *publisher)
{
	return call(publisher, &quillvane::init, publisher);
}

int quillvane_update(struct quillvane *publisher)
{
	return call(publisher, &quillvane::update, publisher);
}

int quillvane_create_group(struct quillvane *publisher, const char *name, int size, int flags)
{
	return call(publisher, &quillvane::create_group, name, size, flags);
}

int quillvane_set_group(struct quillvane *publisher, const char *name, struct sc_entry **entries, int flags)
{
	return call(publisher, &quillvane::set_group, name, entries, flags);
}

int quillvane_get_group(struct quillvane *publisher, const char *name, struct sc_entry **entries, int flags)
{
	return call(publisher, &quillvane::get_group, name, entries, flags);
}

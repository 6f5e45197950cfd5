#include "videoinput.h"

#include <glib.h>
#include <stdio.h>

#include "core/debug_output.h"
#include "tvx.h"

namespace
{

// What each operation holds; released all at once whatever happened.
struct Handles {
	TvxMode *mode = nullptr;
	TvxInput *input = nullptr;
	TvxMap *map = nullptr;
	TvxMap *change = nullptr;
	GError *error = nullptr;

	Handles() = default;
	Handles(const Handles &) = delete;
	Handles &operator=(const Handles &) = delete;
	~Handles()
	{
		g_clear_object(&mode);
		g_clear_object(&input);
		g_clear_object(&map);
		g_clear_object(&change);
		g_clear_error(&error);
	}

	// Logs "<operation>: <what>: <message>" (the message may be missing).
	gboolean fail(const char *operation, const char *what)
	{
		debug_output(DEBUG_ERROR, 0, "%s: %s: %s\n", operation, what, error ? error->message : "");
		return FALSE;
	}

	gboolean new_input(const char *operation, guint index)
	{
		input = tvx_input_new(index, &error);
		return input ? TRUE : fail(operation, "Failed to create input");
	}

	// The input's settings into map; on failure the message names what failed.
	gboolean get_settings(const char *operation, const char *what)
	{
		map = tvx_input_get_settings(input, &error);
		return map ? TRUE : fail(operation, what);
	}

	gboolean get_info(const char *operation)
	{
		map = tvx_input_get_info(input, &error);
		return map ? TRUE : fail(operation, "Failed to get info");
	}

	gboolean set_settings(const char *operation, TvxMap *settings, const char *what)
	{
		return tvx_input_set_settings(input, settings, &error) ? TRUE : fail(operation, what);
	}
};

} // namespace

gboolean videoinput_mode_apply_mode(const struct tvx_mode *mode)
{
	const char *op = "videoinput_mode_apply_mode";
	Handles h;
	h.mode = tvx_mode_new(&h.error);
	if (!h.mode)
		return h.fail(op, "Failed to create mode");
	h.map = tvx_map_new();
	tvx_map_set_string(h.map, "capture_mode", mode ? mode->name : nullptr);
	if (!tvx_mode_apply(h.mode, h.map, &h.error))
		return h.fail(op, "Failed to apply mode");
	return TRUE;
}

gboolean videoinput_input_set_mode(int, const struct tvx_mode *mode, uint32_t sensor_rotation,
                                   gboolean raw_capture)
{
	const char *op = "videoinput_input_set_mode";
	Handles h;
	if (!mode || !h.new_input(op, 0) || !h.get_settings(op, "Failed to get input settings"))
		return FALSE;
	tvx_map_set_double(h.map, "framerate", mode->max_framerate);
	tvx_map_set_double(h.map, "framerate.default", mode->max_framerate);
	tvx_map_set_uint32(h.map, "wdr_mode", mode->wdr_mode);
	tvx_map_set_uint32(h.map, "sensor_rotation", sensor_rotation);
	tvx_map_set_boolean(h.map, "raw_capture.enabled", raw_capture);
	tvx_map_dump(h.map);
	if (tvx_input_set_settings(h.input, h.map, &h.error))
		return TRUE;
	if (!h.error) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to set framerate/wdr_mode:\n", op);
		return FALSE;
	}
	return h.fail(op, "Failed to set framerate/wdr_mode");
}

gboolean videoinput_input_set_framerate(int, double framerate)
{
	const char *op = "videoinput_input_set_framerate";
	Handles h;
	if (!h.new_input(op, 0))
		return FALSE;
	h.change = tvx_map_new();
	tvx_map_set_double(h.change, "framerate", framerate);
	return h.set_settings(op, h.change, "Failed to set framerate");
}

GObject *videoinput_input_start(int)
{
	Handles h;
	h.input = tvx_input_new(0, &h.error);
	if (!h.input)
		return nullptr;
	if (!tvx_input_start(h.input, &h.error)) {
		h.fail("videoinput_input_start", "Failed to start input");
		return nullptr;
	}
	return G_OBJECT(g_steal_pointer(&h.input));
}

gboolean videoinput_input_stop(int)
{
	const char *op = "videoinput_input_stop";
	Handles h;
	if (!h.new_input(op, 0))
		return FALSE;
	return tvx_input_stop(h.input, &h.error) ? TRUE : h.fail(op, "Failed to stop input");
}

gboolean videoinput_input_set_source_rotation(uint32_t rotation, int index)
{
	const char *op = "videoinput_input_set_source_rotation";
	Handles h;
	if (!h.new_input(op, 0) || !h.get_settings(op, "Failed to get input settings"))
		return FALSE;
	char key[32];
	snprintf(key, sizeof(key), "rotation_input%d", index);
	if (tvx_map_get_uint32(h.map, key, 360) == rotation)
		return TRUE;
	tvx_map_set_uint32(h.map, key, rotation);
	tvx_map_set_uint32(h.map, "rotation_input", (uint32_t)index);
	return h.set_settings(op, h.map, "Failed to set input settings");
}

gboolean videoinput_set_sensor_offset(int, uint32_t x, uint32_t y)
{
	const char *op = "videoinput_set_sensor_offset";
	Handles h;
	if (!h.new_input(op, 0) || !h.get_info(op))
		return FALSE;
	if (!tvx_map_get_boolean(h.map, "sensor_offset.possible", FALSE)) {
		debug_output(DEBUG_ERROR, 0, "%s: Not possible to set sensor offset\n", op);
		return FALSE;
	}
	h.change = tvx_map_new();
	tvx_map_set_uint32(h.change, "sensor_offset.x", x);
	tvx_map_set_uint32(h.change, "sensor_offset.y", y);
	return h.set_settings(op, h.change, "Failed to set sensor_offset");
}

gboolean videoinput_set_eis_enabled(int, gboolean enable)
{
	const char *op = "videoinput_set_eis_enabled";
	Handles h;
	if (!h.new_input(op, 0) || !h.get_info(op))
		return FALSE;
	h.change = tvx_map_new();
	gboolean any = FALSE;
	for (unsigned vin = 0; vin < 2; vin++) {
		char possible[32], key[32];
		snprintf(possible, sizeof(possible), "eis.possible.input%u", vin);
		if (!tvx_map_get_boolean(h.map, possible, FALSE))
			continue;
		snprintf(key, sizeof(key), "eis_enable_input%u", vin);
		tvx_map_set_boolean(h.change, key, enable);
		any = TRUE;
	}
	if (!any) {
		debug_output(DEBUG_ERROR, 0, "%s: No VINS support EIS\n", op);
		return FALSE;
	}
	return h.set_settings(op, h.change, "Failed to enable EIS");
}

double videoinput_input_get_framerate(int index, double def)
{
	const char *op = "videoinput_input_get_framerate";
	Handles h;
	if (!h.new_input(op, (guint)index) || !h.get_settings(op, "Failed to get settings"))
		return def;
	double framerate = tvx_map_get_double(h.map, "framerate", def);
	// A frame rate of 0 is passed on, but logged: there is no error record
	// behind it to quote.
	if (framerate == 0.0)
		debug_output(DEBUG_ERROR, 0, "%s: Failed to get framerate\n", op);
	return framerate;
}

uint32_t videoinput_input_get_current_vin(void)
{
	const char *op = "videoinput_input_get_current_vin";
	Handles h;
	if (!h.new_input(op, 0) || !h.get_settings(op, "Failed to get settings"))
		return (uint32_t)-1;
	return tvx_map_get_uint32(h.map, "current_vin", 0);
}

gboolean videoinput_set_current_vin(int index, uint32_t vin, const char *reason)
{
	const char *op = "videoinput_set_current_vin";
	Handles h;
	if (!h.new_input(op, (guint)index))
		return FALSE;
	// Settings that cannot be read cannot be written back either: one message.
	if (!h.get_settings(op, "Failed to set vin id"))
		return FALSE;
	tvx_map_set_uint32(h.map, "current_vin", vin);
	tvx_map_set_string(h.map, "new_vin_reason", reason);
	return h.set_settings(op, h.map, "Failed to set vin id");
}

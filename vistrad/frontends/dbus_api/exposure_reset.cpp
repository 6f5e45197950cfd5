#include "exposure_reset.h"

#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/stream_map.h"

namespace
{

constexpr uint32_t param_exposure_priority = 13;
constexpr uint32_t param_exposure_window = 15;
constexpr uint32_t param_manual_shutter = 33;
constexpr uint32_t param_manual_gain = 34;
constexpr uint32_t param_exposure_priority_normal = 37;
constexpr uint32_t param_focus_window0 = 98;
constexpr uint32_t param_fixed_exposure_available = 141;

// One flag per channel a stream id can name (bits 8 to 15).
bool reset_pending[256];

void reset_one(uint32_t id, int32_t stream_id, const char *message)
{
	if (param_reset(id, stream_id) != 0)
		debug_output(DEBUG_WARNING, 0, message, (int)stream_id);
}

} // namespace

void reset_exposure_windows(int32_t stream_id)
{
	int32_t fixed = 1;
	if (param_get_int(param_fixed_exposure_available, stream_id, &fixed) != 0) {
		debug_output(DEBUG_WARNING, 0, "Unable to get param FixedExposureAvailable for stream_id: %i",
		             (int)stream_id);
		fixed = 1;
	}
	reset_one(param_exposure_window, stream_id, "Unable to reset ExposureWindow for stream_id: %i");
	reset_one(param_focus_window0, stream_id, "Unable to reset FocusWindow for stream_id: %i");
	reset_one(param_exposure_priority, stream_id,
	          "Unable to reset ExposurePriorityNormal for stream_id: %i");
	if (fixed)
		return;
	reset_one(param_manual_shutter, stream_id, "Unable to reset ManualShutterControl for stream_id: %i");
	reset_one(param_manual_gain, stream_id, "Unable to reset ManualGainControl for stream_id: %i");
}

void reset_exposure_settings(int32_t stream_id)
{
	int failed = param_reset(param_exposure_priority_normal, stream_id) != 0;
	int32_t fixed = 0;
	if (param_get_int(param_fixed_exposure_available, stream_id, &fixed) != 0) {
		failed = 1;
		fixed = 0;
	}
	if (!fixed) {
		failed |= param_set_int(param_manual_shutter, stream_id, 0) != 0;
		failed |= param_set_int(param_manual_gain, stream_id, 0) != 0;
	}
	if (failed)
		debug_output(DEBUG_WARNING, 0, "%s: could not get/set one of more values for stream_id %d\n",
		             "reset_exposure_settings", (int)stream_id);
}

void reset_exposure_settings_for_streams(GList *stream_ids)
{
	for (GList *l = stream_ids; l; l = l->next)
		reset_exposure_settings(GPOINTER_TO_INT(l->data));
}

void exposure_reset_raise(int32_t stream_id)
{
	reset_pending[stream_id_channel(stream_id)] = true;
}

void exposure_reset_run_pending(int32_t stream_id)
{
	int channel = stream_id_channel(stream_id);
	if (!reset_pending[channel])
		return;
	reset_pending[channel] = false;
	reset_exposure_settings(stream_id);
}

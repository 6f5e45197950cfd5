#include "exposure_reset.h"

#include "core/debug_output.h"
#include "core/param_db.h"

namespace
{

constexpr uint32_t param_exposure_priority = 13;
constexpr uint32_t param_exposure_window = 15;
constexpr uint32_t param_manual_shutter = 33;
constexpr uint32_t param_manual_gain = 34;
constexpr uint32_t param_focus_window0 = 98;
constexpr uint32_t param_fixed_exposure_available = 141;

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

// The reset at start belongs with the front-end's exposure handling, which is
// not here yet; the parameters keep the defaults they were given.
void reset_exposure_settings_for_streams(GList *) {}

// No property write raises a pending reset yet.
void exposure_reset_run_pending(int32_t) {}

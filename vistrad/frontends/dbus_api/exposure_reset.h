#pragma once
// Exposure settings that go back to their defaults when a stream's capture
// mode or WDR changes. Main thread only.

#include <glib.h>
#include <stdint.h>

// Resets ExposureWindow, FocusWindow0 and ExposurePriority and, without fixed
// exposure, ManualShutterControl and ManualGainControl. Every failure is
// logged; none stops the others.
void reset_exposure_windows(int32_t stream_id);
// Resets ExposurePriorityNormal and, without fixed exposure, turns manual
// shutter and gain off.
void reset_exposure_settings(int32_t stream_id);
// reset_exposure_settings for every stream of the list (ids as list data).
void reset_exposure_settings_for_streams(GList *stream_ids);
// Marks the stream's channel for a reset at its next configuration hand-over
// (a WDR or capture-frequency write).
void exposure_reset_raise(int32_t stream_id);
// Runs the reset that property writes left pending for the stream's channel,
// once; called whenever the stream's D-Bus configuration arrives.
void exposure_reset_run_pending(int32_t stream_id);

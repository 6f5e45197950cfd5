#pragma once
// Exposure settings that go back to their defaults when a stream's capture
// mode changes.

#include <glib.h>
#include <stdint.h>

// Resets ExposureWindow, FocusWindow0 and ExposurePriority and, without fixed
// exposure, ManualShutterControl and ManualGainControl. Every failure is
// logged; none stops the others.
void reset_exposure_windows(int32_t stream_id);
// Resets each stream's exposure window, focus window, exposure priority and
// manual shutter and gain (stream ids as list data).
void reset_exposure_settings_for_streams(GList *stream_ids);
// Runs the resets that property writes left pending for the stream's
// channel; called whenever the stream's D-Bus configuration arrives.
void exposure_reset_run_pending(int32_t stream_id);

#pragma once
// Capture modes: their names, the pairs of ids that differ only by the mains
// frequency, the VideoCaptureMode enumeration, and the lazy capture mode that
// takes effect at the next start.

#include <stdint.h>

#define CAPTURE_MODE_ID_MAX 136
#define VIDEO_CAPTURE_MODE_VALUES 20
#define CAPTURE_MODE_FREQUENCY_60HZ 0
#define CAPTURE_MODE_FREQUENCY_50HZ 1
#define CAPTURE_MODE_LAZY_MARKER "/run/vistrad/cml"

// Copies each stream's pending CaptureModeLazy into its capture mode, unless
// the lazy marker file exists.
void capture_mode_setup(void);
// In video-control mode the lazy mode goes to VideoCaptureMode instead of
// CaptureMode and the exposure windows are left alone. Set by the daemon at
// start from its product configuration.
void capture_mode_set_video_control(int video_control);

// The id's name (static text), or null for an id without one.
const char *capture_mode_name(int32_t id);
// 1 with the id of the same mode at the frequency (0: 60 Hz, 1: 50 Hz);
// 0 when the id is in no pair or the frequency is invalid.
int capture_mode_for_frequency(int32_t id, int frequency, int32_t *out);
// The VideoCaptureMode value of the frequency-matched id, 0 ("auto") when none.
int capture_mode_get_index(int32_t id, int frequency);
// The 60 Hz id of the id's pair, or the id itself.
int32_t capture_mode_normalize(int32_t id);
// The capture-mode id of a VideoCaptureMode value (0 to 19), 0 for others.
int32_t video_capture_mode_value(int index);

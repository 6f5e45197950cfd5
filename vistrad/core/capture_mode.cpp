#include "capture_mode.h"

#include <glib.h>
#include <unistd.h>

#include "debug_output.h"
#include "frontends/dbus_api/exposure_reset.h"
#include "param_db.h"
#include "vistrad_path.h"

namespace
{

constexpr uint32_t param_capture_mode = 39;
constexpr uint32_t param_video_capture_mode = 112;
constexpr uint32_t param_capture_mode_lazy = 168;

struct frequency_pair {
	int32_t hz50;
	int32_t hz60;
};

int video_control_mode;

// Capture-mode names by id; id 0 has none.
const char *const mode_names[CAPTURE_MODE_ID_MAX + 1] = {
    nullptr,
    "1440p 25/30 fps",            // 1
    "1440p 25/30 fps",            // 2
    "1440p 50/60 fps",            // 3
    "1440p 50/60 fps",            // 4
    "1200p 25/30fps",             // 5
    "1200p 25/30fps",             // 6
    "1200p 50/60fps",             // 7
    "1200p 50/60fps",             // 8
    "1080p 25/30fps",             // 9
    "1080p 25/30fps",             // 10
    "1080p 50/60fps",             // 11
    "1080p 50/60fps",             // 12
    "1080p 100/120fps",           // 13
    "1080p 100/120fps",           // 14
    "720p 25/30fps",              // 15
    "720p 25/30fps",              // 16
    "720p 50/60fps",              // 17
    "720p 50/60fps",              // 18
    "vga 30fps",                  // 19
    "vga 9fps",                   // 20
    "qvga 30fps",                 // 21
    "qvga 9fps",                  // 22
    "1080p 12.5/15fps",           // 23
    "1080p 12.5/15fps",           // 24
    "4k 25/30fps",                // 25
    "4k 25/30fps",                // 26
    "4k 15fps",                   // 27
    "3k 25/30fps",                // 28
    "3k 25/30fps",                // 29
    "1944p 25/30fps",             // 30
    "1944p 25/30fps",             // 31
    "1944p 20fps",                // 32
    "3072x2048 25/30fps",         // 33
    "3072x2048 25/30fps",         // 34
    "3072x2048 20fps",            // 35
    "3072x1728 20 fps",           // 36
    "2720x1536 50/60fps",         // 37
    "2720x1536 25/30fps",         // 38
    "2720x1536 50/60fps",         // 39
    "2720x1536 25/30fps",         // 40
    "2048x1536 25/30fps",         // 41
    "2048x1536 25/30fps",         // 42
    "3MP 25/30fps",               // 43
    "3MP 25/30fps",               // 44
    "4MP 25/30fps",               // 45
    "4MP 25/30fps",               // 46
    "4MP 50/60fps",               // 47
    "4MP 50/60fps",               // 48
    "720p 25/30fps",              // 49
    "720p 25/30fps",              // 50
    "720p 25/30fps",              // 51
    "720p 25/30fps",              // 52
    "3000x3000 25/30fps",         // 53
    "3000x3000 25/30fps",         // 54
    "4000x3000 25/30fps",         // 55
    "4000x3000 25/30fps",         // 56
    "3000x3000 4:3 12.5/15fps",   // 57
    "3000x3000 16:9 12.5/15fps",  // 58
    "3000x3000 4:3 12.5/15fps",   // 59
    "3000x3000 16:9 12.5/15fps",  // 60
    "2048x2048 25/30 fps",        // 61
    "2048x2048 25/30 fps",        // 62
    "2048x2048 4:3 12.5/15 fps",  // 63
    "2048x2048 16:9 12.5/15 fps", // 64
    "2048x2048 4:3 12.5/15 fps",  // 65
    "2048x2048 16:9 12.5/15 fps", // 66
    "2816x1584 50/60fps",         // 67
    "2816x1584 25/30fps",         // 68
    "2816x1584 50/60fps",         // 69
    "2816x1584 25/30fps",         // 70
    "2432x1824 50/60fps",         // 71
    "2432x1824 25/30fps",         // 72
    "2432x1824 50/60fps",         // 73
    "2432x1824 25/30fps",         // 74
    "2688x1512 50/60fps",         // 75
    "2688x1512 25/30fps",         // 76
    "2688x1512 50/60fps",         // 77
    "2688x1512 25/30fps",         // 78
    "2304x1728 50/60fps",         // 79
    "2304x1728 25/30fps",         // 80
    "2304x1728 50/60fps",         // 81
    "2304x1728 25/30fps",         // 82
    "5472x3648 8fps",             // 83
    "2048x2048 16:9 25/30 fps",   // 84
    "2048x2048 16:9 25/30 fps",   // 85
    "1920x1080 25/30fps DOL",     // 86
    "1920x1080 25/30fps DOL",     // 87
    "1280x720 25/30fps DOL",      // 88
    "1280x720 25/30fps DOL",      // 89
    "720p 100/120fps",            // 90
    "720p 100/120fps",            // 91
    "2304x1296 25/30fps",         // 92
    "2304x1296 25/30fps",         // 93
    "208x156 9fps",               // 94
    "1440p 25/30 fps scaled",     // 95
    "1440p 25/30 fps scaled",     // 96
    "1440p 50/60 fps scaled",     // 97
    "1440p 50/60 fps scaled",     // 98
    "2880x2880 25/30 fps",        // 99
    "2880x2880 25/30 fps",        // 100
    "4000x3000 20fps",            // 101
    "2992x2992 25/30fps",         // 102
    "2992x2992 25/30fps",         // 103
    "1080p 50/60fps",             // 104
    "1080p 50/60fps",             // 105
    "3840x2880 15fps",            // 106
    "2048x2048 50/60 fps",        // 107
    "2048x2048 50/60 fps",        // 108
    "1944p 12.5/15fps",           // 109
    "1944p 12.5/15fps",           // 110
    "2992x2992 15/12.5fps",       // 111
    "2992x2992 15/12.5fps",       // 112
    "1080i 50/60 fps",            // 113
    "1080i 50/60 fps",            // 114
    "2992x2992 20fps",            // 115
    "PAL 25 fps",                 // 116
    "NTSC 30 fps",                // 117
    "960x720 50/60 fps",          // 118
    "1260x960 25/30 fps",         // 119
    "1260x960 25/30 fps",         // 120
    "1260x960 50/60 fps",         // 121
    "1260x960 50/60 fps",         // 122
    "960x720 50/60 fps",          // 123
    "960x720 50/60 fps D1",       // 124
    "960x720 50/60 fps D1",       // 125
    "10 MP @ 25/30 fps",          // 126
    "10 MP @ 25/30 fps",          // 127
    "10 MP @ 20 fps",             // 128
    "1080p 25/29.97fps",          // 129
    "1920x1080 25/29.97fps DOL",  // 130
    "720p 25/29.97fps",           // 131
    "1280x720 25/29.97fps DOL",   // 132
    "2592x1440 25/30fps",         // 133
    "2592x1440 25/30fps",         // 134
    "720p 175/180 fps",           // 135
    "Analog",                     // 136
};

// Ids that differ only by the mains frequency, {50 Hz, 60 Hz}, in search order.
const struct frequency_pair pairs[] = {
    {60, 58}, {91, 90},   {62, 61}, {100, 99}, {89, 88}, {40, 38},   {59, 57},   {93, 92},   {73, 71},
    {42, 41}, {107, 108}, {82, 80}, {18, 17},  {85, 84}, {16, 15},   {112, 111}, {29, 28},   {6, 5},
    {98, 97}, {4, 3},     {26, 25}, {54, 53},  {65, 63}, {10, 9},    {77, 75},   {31, 30},   {32, 32},
    {70, 68}, {12, 11},   {52, 51}, {48, 47},  {46, 45}, {87, 86},   {110, 109}, {8, 7},     {96, 95},
    {44, 43}, {66, 64},   {2, 1},   {24, 23},  {34, 33}, {69, 67},   {50, 49},   {103, 102}, {105, 104},
    {81, 79}, {14, 13},   {78, 76}, {74, 72},  {39, 37}, {134, 133},
};

// Capture-mode id per value of the VideoCaptureMode enumeration.
const int32_t video_capture_modes[VIDEO_CAPTURE_MODE_VALUES] = {
    116, 16, 15, 18, 17, 114, 113, 10, 9, 12, 11, 116, 117, 123, 118, 124, 125, 26, 25, 136};

const frequency_pair *find_pair(int32_t id)
{
	for (const auto &pair : pairs)
		if (pair.hz50 == id || pair.hz60 == id)
			return &pair;
	return nullptr;
}

bool lazy_marker_present()
{
	char *path = vistrad_path(CAPTURE_MODE_LAZY_MARKER);
	bool present = access(path, F_OK) == 0;
	g_free(path);
	return present;
}

void apply_lazy_mode(uint32_t target, int32_t stream_id, int32_t lazy)
{
	const char *fn = "capture_mode_setup";
	int32_t current = 0;
	// An unreadable current mode cannot be shown to match the request, so the
	// requested mode is applied.
	bool have_current = param_get_int(target, stream_id, &current) == 0;
	if (!have_current)
		debug_output(DEBUG_WARNING, 0, "%s: could not get param CaptureMode for stream_id %d\n", fn,
		             (int)stream_id);
	if (!have_current || current != lazy) {
		param_value value = {};
		value.id = target;
		value.stream_id = stream_id;
		value.value = lazy;
		if (param_set(&value) != 0)
			debug_output(DEBUG_WARNING, 0,
			             "%s: could not set param CaptureMode %i for stream_id %d\n", fn,
			             (int)lazy, (int)stream_id);
		if (!video_control_mode)
			reset_exposure_windows(stream_id);
	}
	if (param_reset(param_capture_mode_lazy, stream_id) != 0)
		debug_output(DEBUG_WARNING, 0, "%s: could not reset CaptureModeLazy for stream_id %d\n", fn,
		             (int)stream_id);
}

void setup_stream(uint32_t target, int32_t stream_id)
{
	const char *fn = "capture_mode_setup";
	int32_t lazy = 0;
	int32_t def = 0;
	// Without both values nothing can tell whether a mode is pending: leave
	// the stream as it is.
	if (param_get_int(param_capture_mode_lazy, stream_id, &lazy) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not get param CaptureModeLazy for stream_id %d\n",
		             fn, (int)stream_id);
		return;
	}
	if (param_default_from_entry(param_capture_mode_lazy, stream_id, &def, nullptr) != 0) {
		debug_output(DEBUG_WARNING, 0,
		             "%s: could not get default value for CaptureModeLazy stream_id %d\n", fn,
		             (int)stream_id);
		return;
	}
	if (lazy != def)
		apply_lazy_mode(target, stream_id, lazy);
}

} // namespace

void capture_mode_set_video_control(int video_control)
{
	video_control_mode = video_control ? 1 : 0;
}

void capture_mode_setup(void)
{
	if (lazy_marker_present())
		return;
	uint32_t target = video_control_mode ? param_video_capture_mode : param_capture_mode;
	GList *streams = param_get_streams(param_capture_mode_lazy);
	for (GList *l = streams; l; l = l->next)
		setup_stream(target, GPOINTER_TO_INT(l->data));
	g_list_free(streams);
}

const char *capture_mode_name(int32_t id)
{
	if (id < 0 || id > CAPTURE_MODE_ID_MAX)
		return nullptr;
	return mode_names[id];
}

int capture_mode_for_frequency(int32_t id, int frequency, int32_t *out)
{
	if (frequency != CAPTURE_MODE_FREQUENCY_60HZ && frequency != CAPTURE_MODE_FREQUENCY_50HZ) {
		debug_output(DEBUG_ERROR, 0, "Invalid frequency %d", frequency);
		return 0;
	}
	const frequency_pair *pair = find_pair(id);
	if (!pair)
		return 0;
	if (out)
		*out = frequency == CAPTURE_MODE_FREQUENCY_50HZ ? pair->hz50 : pair->hz60;
	return 1;
}

int capture_mode_get_index(int32_t id, int frequency)
{
	int32_t matched = 0;
	if (!capture_mode_for_frequency(id, frequency, &matched))
		return 0;
	for (int i = 0; i < VIDEO_CAPTURE_MODE_VALUES; i++)
		if (video_capture_modes[i] == matched)
			return i;
	return 0;
}

int32_t capture_mode_normalize(int32_t id)
{
	const frequency_pair *pair = find_pair(id);
	return pair ? pair->hz60 : id;
}

int32_t video_capture_mode_value(int index)
{
	if (index < 0 || index >= VIDEO_CAPTURE_MODE_VALUES)
		return 0;
	return video_capture_modes[index];
}

// The table of states every product configuration knows from the start.

#include "prodconf_states.h"

#include "prodconf.h"

namespace
{

struct builtin_state {
	const char *name;
	uint32_t value;
};

const builtin_state capture_modes[] = {
    {"3MP_30FPS", 43},
    {"3MP_25FPS", 44},
    {"4MP_30FPS", 45},
    {"4MP_25FPS", 46},
    {"4MP_60FPS", 47},
    {"4MP_50FPS", 48},
    {"1440P_30FPS", 1},
    {"1440P_25FPS", 2},
    {"1440P_60FPS", 3},
    {"1440P_50FPS", 4},
    {"1440P_30FPS_SCALE", 95},
    {"1440P_25FPS_SCALE", 96},
    {"1440P_60FPS_SCALE", 97},
    {"1440P_50FPS_SCALE", 98},
    {"1200P_30FPS", 5},
    {"1200P_25FPS", 6},
    {"1200P_60FPS", 7},
    {"1200P_50FPS", 8},
    {"1080P_30FPS", 9},
    {"1080P_25FPS", 10},
    {"1080P_60FPS", 11},
    {"1080P_50FPS", 12},
    {"1080P_60FPS_10BIT", 104},
    {"1080P_50FPS_10BIT", 105},
    {"1080P_120FPS", 13},
    {"1080P_100FPS", 14},
    {"720P_30FPS", 15},
    {"720P_25FPS", 16},
    {"720P_60FPS", 17},
    {"720P_50FPS", 18},
    {"720P_BRESKO_30FPS", 49},
    {"720P_BRESKO_25FPS", 50},
    {"720P_SCALED_30FPS", 51},
    {"720P_SCALED_25FPS", 52},
    {"QVGA_30FPS", 21},
    {"QVGA_9FPS", 22},
    {"VGA_30FPS", 19},
    {"VGA_9FPS", 20},
    {"1080P_15FPS", 23},
    {"1080P_12_5FPS", 24},
    {"4K_30FPS", 25},
    {"4K_25FPS", 26},
    {"4K_15FPS", 27},
    {"3K_30FPS", 28},
    {"3K_25FPS", 29},
    {"1944P_30FPS", 30},
    {"1944P_25FPS", 31},
    {"1944P_20FPS", 32},
    {"1944P_15FPS", 109},
    {"1944P_12_5FPS", 110},
    {"3072x2048_30FPS", 33},
    {"3072x2048_25FPS", 34},
    {"3072x2048_20FPS", 35},
    {"2048x2048_60FPS", 108},
    {"2048x2048_50FPS", 107},
    {"2048x2048_30FPS", 61},
    {"2048x2048_25FPS", 62},
    {"2048x2048_15FPS_4_3", 63},
    {"2048x2048_15FPS_16_9", 64},
    {"2048x2048_12_5FPS_4_3", 65},
    {"2048x2048_12_5FPS_16_9", 66},
    {"2720x1536_60FPS", 37},
    {"2720x1536_50FPS", 39},
    {"2720x1536_30FPS", 38},
    {"2720x1536_25FPS", 40},
    {"2048x1536_30FPS", 41},
    {"2048x1536_25FPS", 42},
    {"2880x2880_30FPS", 99},
    {"2880x2880_25FPS", 100},
    {"2992x2992_30FPS", 102},
    {"2992x2992_25FPS", 103},
    {"2992x2992_20FPS", 115},
    {"2992x2992_15FPS", 111},
    {"2992x2992_12_5FPS", 112},
    {"3000x3000_30FPS", 53},
    {"3000x3000_25FPS", 54},
    {"3000x3000_15FPS_4_3", 57},
    {"3000x3000_15FPS_16_9", 58},
    {"3000x3000_12_5FPS_4_3", 59},
    {"3000x3000_12_5FPS_16_9", 60},
    {"1080P_120FPS", 13},
    {"2816x1584_60FPS", 67},
    {"2816x1584_30FPS", 68},
    {"2816x1584_50FPS", 69},
    {"2816x1584_25FPS", 70},
    {"2432x1824_60FPS", 71},
    {"2432x1824_30FPS", 72},
    {"2432x1824_50FPS", 73},
    {"2432x1824_25FPS", 74},
    {"2688x1512_60FPS", 75},
    {"2688x1512_30FPS", 76},
    {"2688x1512_50FPS", 77},
    {"2688x1512_25FPS", 78},
    {"2304x1728_60FPS", 79},
    {"2304x1728_30FPS", 80},
    {"2304x1728_50FPS", 81},
    {"2304x1728_25FPS", 82},
    {"2048x2048_30FPS_16_9", 84},
    {"2048x2048_25FPS_16_9", 85},
    {"1080P_30FPS_DOL", 86},
    {"1080P_25FPS_DOL", 87},
    {"720P_30FPS_DOL", 88},
    {"720P_25FPS_DOL", 89},
    {"720P_120FPS", 90},
    {"720P_100FPS", 91},
    {"2304x1296_30FPS", 92},
    {"2304x1296_25FPS", 93},
    {"206x156_9FPS", 94},
    {"3840x2880_15FPS", 106},
    {"5472x3648_8FPS", 83},
    {"3712x2784_30FPS", 126},
    {"3712x2784_25FPS", 127},
    {"3712x2784_20FPS", 128},
    {"1080P_29_97FPS", 129},
    {"1080P_29_97FPS_DOL", 130},
    {"720P_29_97FPS", 131},
    {"720P_29_97FPS_DOL", 132},
    {"2592x1440_30FPS", 133},
    {"2592x1440_25FPS", 134},
    {"720P_180FPS", 135},
    {"ANALOG", 136},
    {"PAL", 116},
    {"NTSC", 117},
};

void add_all(prodconf *conf, uint32_t type, const builtin_state *rows, size_t count)
{
	for (size_t i = 0; i < count; i++)
		prodconf_add_state(conf, rows[i].name, type, rows[i].value);
}

} // namespace

void prodconf_register_builtin_states(struct prodconf *conf)
{
	static const builtin_state daynight[] = {{"daynight_disabled", 0}, {"daynight_enabled", 1}};
	static const builtin_state channels[] = {
	    {"CHANNEL0", 0}, {"CHANNEL1", 1}, {"CHANNEL2", 2}, {"CHANNEL3", 3}};
	static const builtin_state frequencies[] = {{"CAPTURE_FREQUENCY_60HZ", 0},
	                                            {"CAPTURE_FREQUENCY_50HZ", 1}};
	static const builtin_state hdr[] = {
	    {"HDR_MODE_NONE", 0}, {"HDR_MODE_DUALEXP", 1}, {"HDR_MODE_SMART_LINEAR", 2}};
	static const builtin_state dual[] = {{"DUAL_EXPOSURE_STREAM_SHORT", 0},
	                                     {"DUAL_EXPOSURE_STREAM_LONG", 1},
	                                     {"DUAL_EXPOSURE_STREAM_MERGED", 2}};
	static const builtin_state scenes[] = {{"FORENSIC", 0}, {"VIVID", 1},   {"TRAFFIC_OVERVIEW", 2},
	                                       {"INDOOR", 3},   {"OUTDOOR", 4}, {"LICENSE_PLATE", 5},
	                                       {"ENTRANCE", 6}};

	add_all(conf, PRODCONF_STATE_DAYNIGHT, daynight, G_N_ELEMENTS(daynight));
	add_all(conf, PRODCONF_STATE_CHANNEL, channels, G_N_ELEMENTS(channels));
	add_all(conf, PRODCONF_STATE_CAPTURE_FREQUENCY, frequencies, G_N_ELEMENTS(frequencies));
	add_all(conf, PRODCONF_STATE_HDR_MODE, hdr, G_N_ELEMENTS(hdr));
	add_all(conf, PRODCONF_STATE_DUAL_EXPOSURE, dual, G_N_ELEMENTS(dual));
	add_all(conf, PRODCONF_STATE_CAPTURE_MODE, capture_modes, G_N_ELEMENTS(capture_modes));
	add_all(conf, PRODCONF_STATE_SCENE_PROFILE, scenes, G_N_ELEMENTS(scenes));
}

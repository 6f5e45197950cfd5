#include "sensor_vorsalind_modes.h"

// Every mode of a linear-or-WDR sensor comes as a linear row and a row with
// the capture library's two-exposure WDR.
#define LINEAR_AND_WDR(mode, sx1, sy1, ox1, oy1, name, fps)                                                  \
	{{0, 0, sx1, sy1}, {0, 0, ox1, oy1}, mode, 0, {name, 0, fps}},                                       \
	    {{0, 0, sx1, sy1}, {0, 0, ox1, oy1}, mode, 1, {name, 1, fps}}

// The OV2718 has its own WDR (video WDR mode 4) beside the two-exposure one.
#define LINEAR_AND_TWO_WDR(mode, x1, y1, name, fps)                                                          \
	{{0, 0, x1, y1}, {0, 0, x1, y1}, mode, 0, {name, 0, fps}},                                           \
	    {{0, 0, x1, y1}, {0, 0, x1, y1}, mode, 1, {name, 1, fps}},                                       \
	    {{0, 0, x1, y1}, {0, 0, x1, y1}, mode, 1, {name, 4, fps}}

namespace
{

const capture_mode_row ar0521_rows[] = {
    // 60 Hz
    LINEAR_AND_WDR(30, 2591, 1943, 2591, 1943, "2592x1944", 30.0),
    LINEAR_AND_WDR(32, 2591, 1943, 2591, 1943, "2592x1944", 20.0),
    LINEAR_AND_WDR(109, 2591, 1943, 2591, 1943, "2592x1944", 15.0),
    LINEAR_AND_WDR(80, 2495, 1871, 2303, 1727, "2304x1728", 30.0),
    LINEAR_AND_WDR(92, 2431, 1367, 2303, 1295, "2304x1296", 30.0),
    LINEAR_AND_WDR(133, 2591, 1439, 2591, 1439, "2592x1440", 30.0),
    LINEAR_AND_WDR(1, 2559, 1439, 2559, 1439, "2560x1440", 30.0),
    // 50 Hz
    LINEAR_AND_WDR(31, 2591, 1943, 2591, 1943, "2592x1944", 25.0),
    LINEAR_AND_WDR(32, 2591, 1943, 2591, 1943, "2592x1944", 20.0),
    LINEAR_AND_WDR(110, 2591, 1943, 2591, 1943, "2592x1944", 12.5),
    LINEAR_AND_WDR(82, 2495, 1871, 2303, 1727, "2304x1728", 25.0),
    LINEAR_AND_WDR(93, 2431, 1367, 2303, 1295, "2304x1296", 25.0),
    LINEAR_AND_WDR(134, 2591, 1439, 2591, 1439, "2592x1440", 25.0),
    LINEAR_AND_WDR(2, 2559, 1439, 2559, 1439, "2560x1440", 25.0),
};

// The 1440-line modes read 2560 columns but put out 2540.
const capture_mode_row imx274_rows[] = {
    // 60 Hz
    LINEAR_AND_WDR(30, 2591, 1943, 2591, 1943, "2592x1944", 30.0),
    LINEAR_AND_WDR(109, 2591, 1943, 2591, 1943, "2592x1944", 15.0),
    LINEAR_AND_WDR(1, 2559, 1439, 2539, 1439, "2560x1440", 30.0),
    // 50 Hz
    LINEAR_AND_WDR(31, 2591, 1943, 2591, 1943, "2592x1944", 25.0),
    LINEAR_AND_WDR(110, 2591, 1943, 2591, 1943, "2592x1944", 12.5),
    LINEAR_AND_WDR(2, 2559, 1439, 2539, 1439, "2560x1440", 25.0),
};

const capture_mode_row ov2718_rows[] = {
    // 60 Hz
    LINEAR_AND_TWO_WDR(9, 1919, 1079, "1920x1080", 30.0),
    LINEAR_AND_TWO_WDR(15, 1279, 719, "1280x720", 30.0),
    // 50 Hz
    LINEAR_AND_TWO_WDR(10, 1919, 1079, "1920x1080", 25.0),
    LINEAR_AND_TWO_WDR(16, 1279, 719, "1280x720", 25.0),
};

} // namespace

#define HALF_OF(rows) ((int)(sizeof(rows) / sizeof((rows)[0]) / 2))

const capture_mode_table sensor_ar0521_modes = {ar0521_rows, HALF_OF(ar0521_rows), {0, 0, 2591, 1943}};
const capture_mode_table sensor_imx274_modes = {imx274_rows, HALF_OF(imx274_rows), {0, 0, 3863, 2195}};
const capture_mode_table sensor_ov2718_modes = {ov2718_rows, HALF_OF(ov2718_rows), {0, 0, 1919, 1079}};

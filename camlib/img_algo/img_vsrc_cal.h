/* The 3A service's source-context calibration: a sensor whose two
 * video-source contexts feed two VINs must have each context's frames
 * reach its own VIN. One context is given a long exposure and the two
 * channels' mean lumas compared: the brighter one must be the channel of
 * that context, else the driver is told to switch the source's contexts. */
#ifndef CAMLIB_IMG_ALGO_IMG_VSRC_CAL_H
#define CAMLIB_IMG_ALGO_IMG_VSRC_CAL_H

#include "aaa_parser.h"

/* The probe: shutter and gain index set on one context. */
#define IMG_VSRC_CAL_SHUTTER 8000
#define IMG_VSRC_CAL_AGC 0
/* Frames between a probe or a switch and the frame that shows it. */
#define IMG_VSRC_CAL_SETTLE 2
/* The least luma difference (in the mean's units, 8 a histogram bin) that
 * tells the contexts apart. */
#define IMG_VSRC_CAL_MIN_DELTA 16
/* Rounds without a lock before a pair is left as it is. */
#define IMG_VSRC_CAL_TRIES 8

/* Finds the channel pairs to calibrate; their probes go with the second
 * frame. */
void img_vsrc_cal_begin(int fd);
/* One frame of every pair still calibrating, on that frame's parse: 1
 * while any pair is, so the frame's 3A step is held; 0 once all are done. */
int img_vsrc_cal_frame(int fd, const aaa_parse_out *parsed);

#endif

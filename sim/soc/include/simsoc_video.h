/* Whether the video of an input runs: the capture library starts and stops
 * it when it starts and stops its input (sim/libs/libtvx).
 *
 * For now these keep one flag per input and the video driver's DSP state:
 * 2 while any input runs, 0 when none does (QVD_IOC_GET_QVD_STATE); every
 * call is logged ("video: start 0"). The simulated kernel's answers to a
 * start and a stop (the 3A prepared, started and stopped over netlink) come
 * with the camera library's netlink client. */
#ifndef SIMSOC_VIDEO_H
#define SIMSOC_VIDEO_H

#ifdef __cplusplus
extern "C" {
#endif

/* 0, or -1 for an input the SoC does not have (SIMSOC_VIN_INPUTS). Starting
 * a running input or stopping a stopped one changes nothing. */
int simsoc_video_start(unsigned vin);
int simsoc_video_stop(unsigned vin);
/* 1 while the input's video runs. */
int simsoc_video_running(unsigned vin);
/* Every input stopped, without logging. */
void simsoc_video_reset(void);

#ifdef __cplusplus
}
#endif

#endif

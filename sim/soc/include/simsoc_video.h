/* Whether the video of an input runs: the capture library starts and stops
 * it when it starts and stops its input (sim/libs/libtvx).
 *
 * One flag per input and the video driver's DSP state: 2 while any input
 * runs, 0 when none does (QVD_IOC_GET_QVD_STATE); every call is logged
 * ("video: start 0"). When the first input starts, the simulated kernel
 * sends the connected netlink client prepare then start; when the last one
 * stops, it sends stop and awaits the answer (at most two seconds each)
 * before the DSP state drops to 0 (simsoc_netlink.h). */
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

/* The 3A library's own service: the frame tick, the service's channel and
 * sensor configuration entries and prepare, its main thread (statistics,
 * the per-frame step, commands from the message queue), its lens thread
 * and the command table. The public entries that start, stop and steer it
 * are in img_aaa.h. */
#ifndef CAMLIB_IMG_ALGO_IMG_SERVICE_H
#define CAMLIB_IMG_ALGO_IMG_SERVICE_H

#include "img_channel.h"
#include "img_queue.h"

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

/* The frame tick, "/proc/vorsalind/vin0_idsp": open read-only; the wait
 * reads 8 bytes (blocking until the next frame) and seeks back to 0; -1
 * when closed or failing. */
int hal_init_vin_tick(void);
int hal_wait_vin_tick(void);
int hal_deinit_vin_tick(void);
int hal_vin_tick_fd(void);

/* Copies the channel count's channel_info records and hands them to the
 * modules; maps the channels' video sources. */
int img_config_channel_info(int fd, const channel_info *info);
/* Per channel 54 u16: the AE, AWB and AF tile configurations (AE u16[0..7],
 * AWB u16[8..17] with its pixel limits as u16, AF u16[18..25], u16[26]
 * unused) and the statistics parser's 54-byte description (u16[27..53]). */
#define IMG_SENSOR_CFG_WORDS 54
int img_config_sensor_cfg(const uint16_t *cfg);
/* Where a channel's 3A configuration block keeps them. */
#define IMG_AAA_STAT_AE_AT 0
#define IMG_AAA_STAT_AWB_AT 16
#define IMG_AAA_STAT_AF_AT 40
#define IMG_AAA_STAT_FLAGS_AT 56 /* three u32 enables, then the exposure count */

/* The AE configuration of a channel's 3A configuration block (6772 bytes
 * from IMG_AAA_AE_CFG_AT), in u32 words: the line configuration first (the
 * 3104 bytes a client replaces), the AGC step word, then the tables. */
#define IMG_AE_CFG_LINE_NUM 0 /* word: active lines */
#define IMG_AE_CFG_LINES 1    /* 32 lines of six words */
#define IMG_AE_LINE_CFG_SIZE 3104
#define IMG_AE_CFG_AGC_STEP 776 /* dB per AGC index << 24 */
#define IMG_AE_CFG_AGC_NUM 777
#define IMG_AE_CFG_AGC 778 /* up to IMG_AE_CFG_AGC_MAX gains */
#define IMG_AE_CFG_AGC_MAX 721
#define IMG_AE_CFG_SHT_NUM 1499
#define IMG_AE_CFG_SHT 1500 /* up to IMG_AE_CFG_SHT_MAX shutter values */
#define IMG_AE_CFG_SHT_MAX 193

/* Resets the mode records, sets up filters, HDR and each channel's
 * statistics, and posts all channels when the DSP runs: 0 or -1. */
int img_service_prepare(int fd);
/* Command 135: HDR of a channel off (saving its HDR settings and setting
 * neutral ones) or back on. */
int img_service_hdr_switch(int chan, int on);

/* The threads. The main thread's argument is the driver descriptor cast
 * to a pointer. Each posts its ready semaphore once it serves. */
typedef struct img_service_sync {
	void *main_ready; /* sem_t * */
	void *lens_ready;
	void *mode_done;
} img_service_sync;
void img_service_set_sync(const img_service_sync *sync);
void *img_service_main(void *fd);
void *img_service_lens(void *unused);
/* Ask the threads to end: the main thread after its frame in progress, the
 * lens thread at once. */
void img_service_stop_main(void);
int img_service_stop_lens(void);
/* Back to "running" for the next start. */
void img_service_reset_stop(void);
/* Wakes the lens thread: 0, or -1 when the signal fails. */
int img_service_wake_lens(void);

/* Runs one message of the queue through the command table; len is its
 * text's length. Bad messages are refused with one line: -1, or -2 for a
 * work-mode message (a refused state change is 0: it was handled). */
int img_service_command(int fd, const img_msg *m, ssize_t len);

/* The module-owned arrays the mask setters send by address: NULL for an
 * id without one; which 0 or 1 for the second array of a command. */
void *img_service_shadow(int id, int which, size_t *size);
/* Serialises writers and the main thread on the shadow arrays. */
void img_service_shadow_lock(void);
void img_service_shadow_unlock(void);

/* Counters the tests read: frames run and commands executed. */
uint32_t img_service_frames(void);

#endif

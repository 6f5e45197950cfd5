/*
 * The serial thermal lens on "/dev/ttyPCC%u": a pseudo-terminal whose far
 * end is the lens's firmware, so the daemon's termios calls reach a real
 * line. When the daemon first reads, the firmware sends 'W'; it checks each frame's CRC and
 * answers every code with its answer length, synchronously, as the frame is
 * written. Frames received are logged as "thermal_lens: rx <hex bytes>" (or
 * "thermal_lens: rx bad crc <hex bytes>").
 *
 * Steering from the environment, for a program started with the library
 * preloaded (read when the library loads; numbers decimal or 0x hex):
 *   SIMSOC_THERMAL_WAKEUP   0: no 'W' on open
 *   SIMSOC_THERMAL_FAULT    "fault,count[,late_reads]" (fault as numbered below)
 *   SIMSOC_THERMAL_STATUS   "focus,zoom,t1,t2,status_word"
 *   SIMSOC_THERMAL_VERSION  "major,minor"
 */
#ifndef SIMSOC_THERMAL_LENS_H
#define SIMSOC_THERMAL_LENS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum simsoc_thermal_fault {
	SIMSOC_THERMAL_ANSWER = 0,
	SIMSOC_THERMAL_SILENT,       /* no answer */
	SIMSOC_THERMAL_LATE,         /* the answer after a number of reads */
	SIMSOC_THERMAL_SHORT,        /* the answer without its last 3 bytes */
	SIMSOC_THERMAL_BAD_CRC,      /* the CRC's low byte flipped */
	SIMSOC_THERMAL_BAD_SEQUENCE, /* the sequence number plus one */
	SIMSOC_THERMAL_BAD_CODE,     /* the code plus one */
};

/* Back to a lens that wakes up with 'W', answers everything at once and
 * reports focus 17408, zoom 16640, 20 degrees, status word 0, firmware 1.4. */
void simsoc_thermal_lens_reset(void);
/* 0: no 'W' on open. */
void simsoc_thermal_lens_set_wakeup(int send_w);
/* The next count frames are answered with the fault; a late answer comes
 * at the daemon's late_reads-th read after the frame. */
void simsoc_thermal_lens_fault(enum simsoc_thermal_fault fault, int count, int late_reads);
void simsoc_thermal_lens_set_status(uint16_t focus, uint16_t zoom, uint16_t t1, uint16_t t2,
                                    uint16_t status_word);
void simsoc_thermal_lens_set_version(uint8_t major, uint8_t minor);

#ifdef __cplusplus
}
#endif

#endif

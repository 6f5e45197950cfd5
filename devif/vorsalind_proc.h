/* The video input framework's files under "/proc/vorsalind". */
#ifndef VORSALIND_PROC_H
#define VORSALIND_PROC_H

/* Per video input: every read returns the 64-bit frame count once a new
 * frame has started (poll for readable). */
#define VORSALIND_VIN_IDSP_PATTERN "/proc/vorsalind/vin%u_idsp"
#define VORSALIND_VIN0_IDSP "/proc/vorsalind/vin0_idsp"
#define VORSALIND_VIN1_IDSP "/proc/vorsalind/vin1_idsp"

/* Readable when a video input was plugged or unplugged. */
#define VORSALIND_PLUG_EVENT "/proc/vorsalind/plug_event"

#endif

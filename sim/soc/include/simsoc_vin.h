/* Steering of the video inputs' frame ticks "/proc/vorsalind/vin%u_idsp"
 * (inputs 0 to 3) and of the plug-event file "/proc/vorsalind/plug_event".
 *
 * A tick makes every open tick file of that input readable. A read takes at
 * least 8 bytes and returns the frame number (u64) of the latest tick,
 * consuming every tick that file had pending; without a pending tick it
 * blocks, or fails with EAGAIN when non-blocking. Each input ticks on its own
 * at its frame rate (30 by default, SIMSOC_VIN_FRAMERATE for a preloaded
 * process) while its video runs (simsoc_video.h) or a file of it is open; a
 * frame rate of 0 stops the clock so that a test steps every tick by hand.
 *
 * The plug-event file gives one byte per raised event. */
#ifndef SIMSOC_VIN_H
#define SIMSOC_VIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_VIN_INPUTS 4

/* fps <= 0 stops the clock of that input. */
void simsoc_vin_set_framerate(unsigned vin, double fps);
double simsoc_vin_framerate(unsigned vin);
/* One tick of that input, now. */
void simsoc_vin_tick(unsigned vin);
/* Ticks so far, and reads that returned a tick. */
uint64_t simsoc_vin_frames(unsigned vin);
uint64_t simsoc_vin_reads(unsigned vin);
/* Open tick files of that input. */
int simsoc_vin_open_files(unsigned vin);
/* Counters to 0 and every frame rate back to its default. */
void simsoc_vin_reset(void);

/* One plug event with this byte for every open plug-event file. */
void simsoc_plug_event_raise(uint8_t value);
/* Events read so far. */
uint64_t simsoc_plug_event_reads(void);

#ifdef __cplusplus
}
#endif

#endif

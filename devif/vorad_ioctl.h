/* "/dev/vorad", the DSP debug device: one 32-bit flag word. */
#ifndef VORAD_IOCTL_H
#define VORAD_IOCTL_H

#define VORAD_DEVICE "/dev/vorad"

#define VORS_DEBUG_IOC_GET_DEBUG_FLAG 0x80086401ul /* uint32_t, read */
#define VORS_DEBUG_IOC_SET_DEBUG_FLAG 0x40086401ul /* uint32_t, written */

/* The flag bit that turns the DSP log on. */
#define VORAD_DEBUG_FLAG_DSPLOG 0x2u

#endif

/* The SoC vendor's lens device "/dev/vor_lens" as the P-iris driver of the
 * 3A library's service mode uses it: requests of type 'p'. The size fields
 * are nominal: SET_POS, RESET and CONFIG take their value as the argument
 * itself, GET_STATE a pointer to a 32-bit word. */
#ifndef VOR_LENS_IOCTL_H
#define VOR_LENS_IOCTL_H

#include <stdint.h>
#include <sys/ioctl.h>

#define VOR_LENS_DEVICE "/dev/vor_lens"

#define VORS_IOC_P_IRIS_SET_POS _IOW('p', 0, uint32_t)   /* position value */
#define VORS_IOC_P_IRIS_RESET _IOW('p', 1, uint32_t)     /* 0 */
#define VORS_IOC_P_IRIS_GET_STATE _IOR('p', 4, uint64_t) /* uint32_t *state */
#define VORS_IOC_P_IRIS_CONFIG _IOR('p', 5, uint32_t)    /* 1 enable, 0 disable */

/* The states the driver answers that its users act on. */
#define VOR_LENS_STATE_DONE 2   /* a move ended: the driver may be disabled */
#define VOR_LENS_STATE_MOVING 3 /* a move is under way */

#endif

/* "/dev/ucode": the DSP ucode's version, as the video driver reports it. */
#ifndef UCODE_IOCTL_H
#define UCODE_IOCTL_H

#include <stdint.h>

#define UCODE_DEVICE "/dev/ucode"

/* Reads UCODE_VERSION_SIZE bytes, little-endian: year (16 bits) at 0, month
 * at 2, day at 3, edition (32 bits) at 4, version number at 8, chip at 12. */
#define QVD_IOC_GET_UCODE_VERSION 0x80107501ul
#define UCODE_VERSION_SIZE 16
#define UCODE_VERSION_YEAR 0
#define UCODE_VERSION_MONTH 2
#define UCODE_VERSION_DAY 3
#define UCODE_VERSION_EDITION 4
#define UCODE_VERSION_NUMBER 8
#define UCODE_VERSION_CHIP 12

#endif

/* Host build: the simulated kernel presents the interface of Linux 4.14. */
#ifndef SIMKERNEL_LINUX_VERSION_H
#define SIMKERNEL_LINUX_VERSION_H
#define KERNEL_VERSION(a, b, c) (((a) << 16) + ((b) << 8) + ((c) > 255 ? 255 : (c)))
#define LINUX_VERSION_CODE KERNEL_VERSION(4, 14, 0)
#endif

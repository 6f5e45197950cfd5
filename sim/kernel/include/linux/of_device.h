/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_OF_DEVICE_H
#define SIMKERNEL_LINUX_OF_DEVICE_H
#include <simkernel/kapi.h>
#endif

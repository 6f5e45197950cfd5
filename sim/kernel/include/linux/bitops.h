/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_BITOPS_H
#define SIMKERNEL_LINUX_BITOPS_H
#include <simkernel/kapi.h>
#endif

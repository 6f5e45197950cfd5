/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_MODULEPARAM_H
#define SIMKERNEL_LINUX_MODULEPARAM_H
#include <simkernel/kapi.h>
#endif

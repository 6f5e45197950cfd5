/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_SCHED_H
#define SIMKERNEL_LINUX_SCHED_H
#include <simkernel/kapi.h>
#endif

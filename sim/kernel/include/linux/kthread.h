/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_KTHREAD_H
#define SIMKERNEL_LINUX_KTHREAD_H
#include <simkernel/kapi.h>
#endif

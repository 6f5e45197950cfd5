/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_I2C_H
#define SIMKERNEL_LINUX_I2C_H
#include <simkernel/kapi.h>
#endif

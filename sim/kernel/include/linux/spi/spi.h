/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_SPI_SPI_H
#define SIMKERNEL_LINUX_SPI_SPI_H
#include <simkernel/kapi.h>
#endif

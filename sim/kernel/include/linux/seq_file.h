/* Host build: the kernel interface comes from the simulation. */
#ifndef SIMKERNEL_LINUX_SEQ_FILE_H
#define SIMKERNEL_LINUX_SEQ_FILE_H
#include <simkernel/kapi.h>
#endif

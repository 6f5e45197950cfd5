// A device model used only by the frame's own tests.
#ifndef SIMSOC_TESTMODEL_H
#define SIMSOC_TESTMODEL_H

#include <stdint.h>
#include <sys/ioctl.h>

#define TESTMODEL_PATH "/dev/simtest"
#define TESTMODEL_PATTERN "/proc/simtest/unit%u"
#define TESTMODEL_IOC_GET _IOR('S', 1, uint32_t)
#define TESTMODEL_IOC_SET _IOW('S', 2, uint32_t)
#define TESTMODEL_IOC_PHYS _IOR('S', 3, uint32_t)
#define TESTMODEL_MAP_SIZE 8192
// Units of the pattern that directory listings show.
#define TESTMODEL_UNITS 3, 7

// Referenced by tests that link the model, so the linker keeps it.
extern "C" int testmodel_registered(void);

#endif

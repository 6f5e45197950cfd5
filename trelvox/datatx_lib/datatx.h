// Transfer layer of the DSP log tool: delivers captured bytes to nowhere, a
// file, a TCP receiver, the USB gadget data stream or standard output.
#ifndef DATATX_H
#define DATATX_H

#include <stdint.h>

#include "vor_gadget_ioctl.h"

enum vors_transfer_method {
	VORS_TRANSFER_NONE = 0,
	VORS_TRANSFER_FILE = 1,
	VORS_TRANSFER_TCP = 2,
	VORS_TRANSFER_USB = 3,
	VORS_TRANSFER_STDOUT = 4,
};

#define VORS_TRANSFER_PORT_MIN 2000
#define VORS_TRANSFER_PORT_MAX 2031
#define VORS_TRANSFER_NAME_SIZE 256
#define VORS_TRANSFER_NONE_HANDLE 99
#define VORS_TRANSFER_DEFAULT_HOST "192.168.1.10"

int vors_transfer_init(int method);
int vors_transfer_deinit(int method);
int vors_transfer_open(const char *name, int method, int port);
int vors_transfer_close(int handle, int method);
// Writes all len bytes, or fails with -1 when an error stops it.
int vors_transfer_write(int handle, void *data, int len, int method);
int vors_transfer_flush(int handle, int method);

#endif

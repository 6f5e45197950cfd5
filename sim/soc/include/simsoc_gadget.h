// Steering of the USB gadget data-stream model "/dev/vor_gadget".
#ifndef SIMSOC_GADGET_H
#define SIMSOC_GADGET_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The host command that the next read of it returns (default: signature
// 0x55434D44, command 5, packet size 4096).
void simsoc_gadget_set_command(uint32_t signature, uint32_t command, uint32_t packet_size);
// Everything written to the device so far, in order; returns the full size
// and copies at most len bytes.
size_t simsoc_gadget_output(void *buf, size_t len);
// Each write() call's length, in order; returns the count.
size_t simsoc_gadget_writes(size_t *lengths, size_t max);
// Responses sent with the response ioctl: returns their count and copies the
// last one.
int simsoc_gadget_response(uint32_t last[2]);
void simsoc_gadget_reset(void);

#ifdef __cplusplus
}
#endif

#endif

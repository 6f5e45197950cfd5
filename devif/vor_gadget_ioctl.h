/* "/dev/vor_gadget", the USB gadget data stream to the host: the host's
 * command is read by ioctl, the answer written by ioctl, data packets are
 * written. */
#ifndef VOR_GADGET_IOCTL_H
#define VOR_GADGET_IOCTL_H

#include <stdint.h>

#define VORS_USB_DEVICE "/dev/vor_gadget"

#define VOR_DATA_STREAM_RD_CMD 0x80087501ul /* struct vors_usb_host_cmd, read */
#define VOR_DATA_STREAM_WR_RSP 0x40087501ul /* struct vors_usb_rsp, written */

#define VORS_USB_CMD_SIGNATURE 0x55434D44u
#define VORS_USB_CMD_OPEN 5u
#define VORS_USB_RSP_SIGNATURE 0x55525350u

/* Each data packet starts with a header of this size. */
#define VORS_USB_HEADER_SIZE 16
#define VORS_USB_PACKET_DATA 1
#define VORS_USB_PACKET_CLOSE 2

struct vors_usb_host_cmd {
	uint32_t signature;
	uint32_t command;
	uint32_t unused;
	uint32_t packet_size;
};

struct vors_usb_rsp {
	uint32_t signature;
	uint32_t status;
};

#endif

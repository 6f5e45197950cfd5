/* The video driver's 3A control channel: a raw netlink socket of protocol
 * 24 on which the kernel tells the camera library to prepare, start and
 * stop its 3A, and the library answers each command with a status. */
#ifndef DEVIF_QVD_NETLINK_H
#define DEVIF_QVD_NETLINK_H

#include <stdint.h>

#define QVD_NETLINK_PROTOCOL 24
#define QVD_NETLINK_HEADER_SIZE 16
#define QVD_NETLINK_PAYLOAD_SIZE 512
/* The length word of every message's header: header and payload. */
#define QVD_NETLINK_MSG_SIZE (QVD_NETLINK_HEADER_SIZE + QVD_NETLINK_PAYLOAD_SIZE)
/* Byte 13 of every payload the library sends. */
#define QVD_NETLINK_TAG 24

/* Connection commands (library to kernel). */
#define QVD_NETLINK_CONNECT 0u
#define QVD_NETLINK_DISCONNECT 1u
/* Kernel commands (kernel to library). */
#define QVD_NETLINK_START_AAA 0x18020000u
#define QVD_NETLINK_STOP_AAA 0x18020001u
#define QVD_NETLINK_PREPARE_AAA 0x18020002u
#define QVD_NETLINK_DO_DPTZ 0x18020003u
#define QVD_NETLINK_DO_WARP 0x18020004u

typedef struct qvd_netlink_message {
	uint32_t pid; /* sender's process id, 0 from the kernel */
	uint32_t reserved;
	uint32_t command;
	uint8_t status; /* 0 success, 1 failure */
	uint8_t tag;    /* QVD_NETLINK_TAG from the library */
	uint8_t origin; /* 1: a kernel command, or the reply to one */
	uint8_t response;
	uint8_t args[QVD_NETLINK_PAYLOAD_SIZE - 16];
} qvd_netlink_message;

#ifdef __cplusplus
static_assert(sizeof(qvd_netlink_message) == QVD_NETLINK_PAYLOAD_SIZE, "netlink payload is 512 bytes");
#endif

#endif

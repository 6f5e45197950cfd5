/* The simulated kernel's end of the video driver's netlink channel
 * (protocol 24, qvd_netlink.h). Every socket of that protocol is one end of
 * a socketpair whose other end this peer holds. The peer answers connect and
 * disconnect, sends kernel commands on request, and logs every message both
 * ways ("netlink: <- cmd 0x0 status 0 origin 0 response 0" for one received,
 * "->" for one sent). */
#ifndef SIMSOC_NETLINK_H
#define SIMSOC_NETLINK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status (0 or 1) of the answers to later connects and disconnects. */
void simsoc_netlink_set_answer(int connect_status, int disconnect_status);
/* 1 while a client is connected. */
int simsoc_netlink_connected(void);
/* Sends a kernel command to the connected client and waits up to timeout_ms
 * for its reply: the reply's status, -1 with no client, -2 without a reply
 * in time. */
int simsoc_netlink_command(uint32_t command, int timeout_ms);
/* Sends a payload as it stands (at most 512 bytes, zero-filled) to the
 * connected client, without waiting: 0 or -1. */
int simsoc_netlink_send_raw(const void *payload, size_t len);
/* The last message received from a client, header and payload as on the
 * wire; returns its length (0 before any). */
size_t simsoc_netlink_last_received(void *buf, size_t len);
/* Closes the kernel's end of every socket: clients read end of file. */
void simsoc_netlink_hangup(void);
/* Answers back to status 0, no client, nothing received. */
void simsoc_netlink_reset(void);

#ifdef __cplusplus
}
#endif

#endif

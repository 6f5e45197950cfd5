/* The netlink client: keeps the connection on which the kernel tells the
 * camera library to prepare, start and stop its 3A, and runs the thread
 * "netlink_loop" that carries out those commands. */
#ifndef CAMLIB_LIBCL_CL_NETLINK_H
#define CAMLIB_LIBCL_CL_NETLINK_H

/* 1 on success (also when running), 0 on failure with nothing left open. */
int cl_netlink_start(void);
/* Disconnects and waits for the thread; nothing when not running. */
void cl_netlink_stop(void);

#endif

/*
 * "/dev/datacache%d", one device a channel: small fixed-size records shared
 * with other programs on the camera. A program creates named caches of a
 * given element size and count, writes time-stamped elements, registers as
 * a reader of caches that others write, and selects caches it writes to
 * learn (as write-readiness of the device) when a reader waits for one.
 * The daemon and the device's model both include this header.
 *
 * Request codes use the Linux encoding with type '+'; a negative result is a
 * failure, -errno. All words are little-endian.
 */
#ifndef DATACACHE_IOCTL_H
#define DATACACHE_IOCTL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define DATACACHE_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define DATACACHE_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#define DATACACHE_ASSERT_SIZE(type, n) DATACACHE_ASSERT(sizeof(type) == (n), #type " is " #n " bytes")
#define DATACACHE_ASSERT_AT(type, field, n)                                                                  \
	DATACACHE_ASSERT(offsetof(type, field) == (n), #type "." #field " at " #n)

#define DATACACHE_DEVICE_PATTERN "/dev/datacache%d"
/* At most 19 characters and the terminating NUL. */
#define DATACACHE_NAME_SIZE 20

/* Find a cache by name: struct datacache_name with the words {0, 0} to
 * look only, {1, queue depth} to register the caller as a reader of it.
 * Result: the cache id. */
#define DATACACHE_IOC_FIND 0x801c2b00ul
/* Create a cache: struct datacache_name with {element size, element count}.
 * Result: the cache id (the existing one when the name is taken with the
 * same element size). */
#define DATACACHE_IOC_CREATE 0x801c2b04ul

typedef struct datacache_name {
	char name[DATACACHE_NAME_SIZE];
	uint32_t word[2];
} datacache_name;
DATACACHE_ASSERT_SIZE(datacache_name, 28);

/* Write one element (struct datacache_element, mode 0): the element's bytes
 * are read from the address; a time stamp of {0, 0} is replaced by the
 * driver's own. Result: the number of readers that were waiting for it. */
#define DATACACHE_IOC_WRITE 0x40202b02ul
/* Read one element into the buffer at the address, by mode; the time stamp
 * comes back with it. Result: for mode 2, the elements still unread. */
#define DATACACHE_IOC_READ 0x80202b03ul
#define DATACACHE_READ_LATEST 1
#define DATACACHE_READ_NEXT 2
#define DATACACHE_READ_AT_TIME 3

typedef struct datacache_element {
	uint32_t cache_id;
	uint32_t mode;
	uint64_t address;
	uint64_t sec;
	uint64_t usec;
} datacache_element;
DATACACHE_ASSERT_SIZE(datacache_element, 32);

/* A cache's details: the id in; whether it has a reader at all, the
 * elements it holds and the readers waiting for a new one out. */
#define DATACACHE_IOC_DETAILS 0x80302b08ul

typedef struct datacache_details {
	uint32_t cache_id;
	uint32_t has_reader;
	uint8_t reserved0[28];
	uint32_t elements;
	uint8_t reserved1[4];
	uint32_t waiting;
} datacache_details;
DATACACHE_ASSERT_SIZE(datacache_details, 48);
DATACACHE_ASSERT_AT(datacache_details, elements, 36);
DATACACHE_ASSERT_AT(datacache_details, waiting, 44);

/* Select a cache (flag 1) so that the device is ready for writing while a
 * reader waits for it; flag 0 deselects. */
#define DATACACHE_IOC_SELECT 0x80082b09ul

typedef struct datacache_select {
	uint32_t cache_id;
	uint8_t flag;
	uint8_t zero[3];
} datacache_select;
DATACACHE_ASSERT_SIZE(datacache_select, 8);

#endif

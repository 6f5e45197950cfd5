/* libquorra: sizes and packing of the PTZ add-on socket messages. */
#ifndef QUORRA_H
#define QUORRA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every message begins with this header; the in-memory layout is the wire
 * layout (host byte order, which is little-endian on the device). */
struct quorra_msg {
	uint32_t type;   /* 0 to 9 */
	uint32_t status; /* meaningful for odd types */
};

#define QUORRA_MSG_TYPES 10u

/* Bytes that follow the fixed part: for type 9, 24 * A + 16 * B where A and
 * B are the counts at offsets 8 and 12; 0 for every other type and for a
 * short reply (odd type, non-zero status), which is the header alone. */
uint64_t get_dynamic_size(const struct quorra_msg *msg);

/* Whole size of a message, header included; 0 for an unknown type. */
uint64_t get_message_size(const struct quorra_msg *msg);

/* Ready a message for sending. The memory layout is the wire layout. */
struct quorra_msg *pack_message(struct quorra_msg *msg);

/* The received buffer as a message, or NULL when it is not a valid message
 * of exactly len bytes. No byte at or beyond len is read. */
struct quorra_msg *unpack_message(void *buf, uint64_t len);

#ifdef __cplusplus
}
#endif

#endif

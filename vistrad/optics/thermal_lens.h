#pragma once
// The serial thermal lens's frame layer, shared by the lens block and its
// zoom and focus units, and the lens's field-of-view model.
//
// Frame (both directions): 0x0F, sequence, 0, 0, payload length L, 0, the
// payload (its first byte is the command code), the CRC-16/XMODEM of bytes
// 0 to L + 5 low byte first, 0xF0. L + 9 bytes in all.

#include <stddef.h>
#include <stdint.h>

#define THERMAL_LENS_FRAME_START 0x0F
#define THERMAL_LENS_FRAME_END 0xF0
#define THERMAL_LENS_HEADER 6
#define THERMAL_LENS_OVERHEAD 9 // header, CRC and end byte

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected.
uint16_t thermal_lens_crc16(const uint8_t *bytes, size_t length);

// A frame of L + 9 bytes around a payload of L bytes, sequence 0 and no CRC
// yet (g_free). Null for an empty or longer than 255-byte payload.
uint8_t *thermal_lens_frame_new(const uint8_t *payload, size_t length, size_t *frame_length);

// Stores the sequence number and the CRC of a whole frame (L + 9 bytes, its
// byte 4 already holding L), as a message is sent.
void thermal_lens_frame_seal(uint8_t *frame, uint8_t sequence);

// The payload length of the answer to a request's command code; 0 for codes
// the lens does not answer.
uint8_t thermal_lens_answer_payload(uint8_t code);

// Fields of view at a zoom position, Q14 degrees: 17.79 and 14.25 at the
// wide end (16640), 5.93 and 4.75 at the tele end (32512).
void thermal_lens_fov(int32_t zoom, uint32_t *horizontal, uint32_t *vertical);

struct camblock;
struct focus_object;
struct zoom_object;

// The lens's send operation: copies the frame (L + 9 bytes of it; its
// sequence and CRC are filled when it goes out), starts the message timeout
// and queues it at the tail, or at the head when front is set. -1 before a
// lens block exists or for a frame shorter than its length byte says.
int thermal_lens_queue(struct camblock *block, const uint8_t *bytes, size_t length, int front);

// The lens's focus (17408..31744) and zoom (16640..32512) units, whose moves
// and stops are messages queued to the lens.
struct focus_object *focus_new_lvz3x3516(struct camblock *block);
struct zoom_object *zoom_new_lvz3x3516(struct camblock *block);

// The lens's timeouts all go through these two, so that tests can step them.
// Null restores GLib's.
typedef unsigned int (*thermal_lens_timeout_add_fn)(unsigned int ms, int (*fn)(void *), void *data);
typedef void (*thermal_lens_timeout_remove_fn)(unsigned int id);
void thermal_lens_set_timeouts(thermal_lens_timeout_add_fn add, thermal_lens_timeout_remove_fn remove);

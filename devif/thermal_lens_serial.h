/*
 * The serial thermal lens's line ("/dev/ttyPCC%u", 115200 8N1): the frame
 * check and the answer length of each command code, shared by the lens
 * block and the lens's model. C and C++.
 */
#ifndef THERMAL_LENS_SERIAL_H
#define THERMAL_LENS_SERIAL_H

#include <stddef.h>
#include <stdint.h>

#define THERMAL_LENS_SERIAL_PATH "/dev/ttyPCC%u"

/* CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected. */
static inline uint16_t thermal_lens_serial_crc16(const uint8_t *bytes, size_t length)
{
	uint16_t crc = 0;
	for (size_t i = 0; i < length; i++) {
		crc ^= (uint16_t)(bytes[i] << 8);
		for (int bit = 0; bit < 8; bit++)
			crc = (uint16_t)(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
	}
	return crc;
}

/* The payload length of the answer to a request's code; 0 for codes the
 * lens does not answer. */
static inline uint8_t thermal_lens_serial_answer_payload(uint8_t code)
{
	switch (code) {
	case 0x01:
		return 32;
	case 0x10:
		return 20;
	case 0x81:
		return 8;
	case 0x82:
		return 12;
	case 0x02:
	case 0x11:
	case 0x20:
	case 0x21:
	case 0x30:
	case 0x31:
	case 0x80:
	case 0x83:
	case 0xFF:
		return 4;
	default:
		return 0;
	}
}

#endif

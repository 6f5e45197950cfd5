// The serial thermal lens. Only its frame layer and field-of-view model are
// built yet: the creator makes nothing.

#include "thermal_lens.h"

#include <glib.h>
#include <string.h>

#include "camblock.h"
#include "optics_math.h"

namespace
{

// q / 16384 rounded half up, for the non-negative products of the lens model.
int64_t q14_round(int64_t v)
{
	return (v + 8192) >> 14;
}

} // namespace

uint16_t thermal_lens_crc16(const uint8_t *bytes, size_t length)
{
	uint16_t crc = 0;
	for (size_t i = 0; i < length; i++) {
		crc ^= (uint16_t)(bytes[i] << 8);
		for (int bit = 0; bit < 8; bit++)
			crc = (uint16_t)(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
	}
	return crc;
}

uint8_t *thermal_lens_frame_new(const uint8_t *payload, size_t length, size_t *frame_length)
{
	if (!payload || length == 0 || length > 255)
		return nullptr;
	size_t total = length + THERMAL_LENS_OVERHEAD;
	uint8_t *frame = static_cast<uint8_t *>(g_malloc0(total));
	frame[0] = THERMAL_LENS_FRAME_START;
	frame[4] = (uint8_t)length;
	memcpy(frame + THERMAL_LENS_HEADER, payload, length);
	frame[total - 1] = THERMAL_LENS_FRAME_END;
	if (frame_length)
		*frame_length = total;
	return frame;
}

void thermal_lens_frame_seal(uint8_t *frame, uint8_t sequence)
{
	size_t crc_at = THERMAL_LENS_HEADER + frame[4];
	frame[1] = sequence;
	uint16_t crc = thermal_lens_crc16(frame, crc_at);
	frame[crc_at] = (uint8_t)(crc & 0xFF);
	frame[crc_at + 1] = (uint8_t)(crc >> 8);
	frame[crc_at + 2] = THERMAL_LENS_FRAME_END;
}

uint8_t thermal_lens_answer_payload(uint8_t code)
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

void thermal_lens_fov(int32_t zoom, uint32_t *horizontal, uint32_t *vertical)
{
	int64_t q = optics_div_round((int64_t)zoom * 16384, 7936);
	int64_t span = 83506 - q;
	if (horizontal)
		*horizontal = (uint32_t)q14_round(span * 97157);
	if (vertical)
		*vertical = (uint32_t)q14_round(span * 77824);
}

void *camblock_tamron_lvz3x3516_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

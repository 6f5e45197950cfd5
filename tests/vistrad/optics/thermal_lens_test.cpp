// The serial thermal lens's frames and field-of-view model, checked against
// frames worked out by hand.

#include <glib.h>
#include <gtest/gtest.h>

#include <vector>

#include "optics/thermal_lens.h"

namespace
{

std::vector<uint8_t> sealed(const std::vector<uint8_t> &payload, uint8_t sequence)
{
	size_t length = 0;
	uint8_t *frame = thermal_lens_frame_new(payload.data(), payload.size(), &length);
	if (!frame)
		return {};
	thermal_lens_frame_seal(frame, sequence);
	std::vector<uint8_t> out(frame, frame + length);
	g_free(frame);
	return out;
}

TEST(ThermalLensFrame, CrcIsXmodem)
{
	const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
	EXPECT_EQ(0x31C3, thermal_lens_crc16(check, sizeof(check)));
	EXPECT_EQ(0, thermal_lens_crc16(check, 0));
}

TEST(ThermalLensFrame, GoldenFrames)
{
	const struct {
		std::vector<uint8_t> payload;
		uint8_t sequence;
		std::vector<uint8_t> frame;
	} cases[] = {
	    {{0x83, 0x01, 0x05, 0x00},
	     1,
	     {0x0F, 0x01, 0x00, 0x00, 0x04, 0x00, 0x83, 0x01, 0x05, 0x00, 0x12, 0x35, 0xF0}},
	    {{0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x33, 0x0C,
	      0xCC, 0x09, 0x80, 0x02, 0xE0, 0x01, 0x6F, 0x0A, 0x00, 0x00, 0x00, 0x00},
	     2,
	     {0x0F, 0x02, 0x00, 0x00, 0x18, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
	      0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x33, 0x0C, 0xCC, 0x09, 0x80, 0x02,
	      0xE0, 0x01, 0x6F, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x26, 0x0A, 0xF0}},
	    {{0x10, 0x44, 0x00, 0x00},
	     255,
	     {0x0F, 0xFF, 0x00, 0x00, 0x04, 0x00, 0x10, 0x44, 0x00, 0x00, 0xE7, 0x06, 0xF0}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(int(c.payload[0]));
		EXPECT_EQ(c.frame, sealed(c.payload, c.sequence));
	}
}

TEST(ThermalLensFrame, ResealingKeepsTheMessageAndItsNewSequence)
{
	std::vector<uint8_t> payload = {0x11, 0x00, 0x00, 0x00};
	size_t length = 0;
	uint8_t *frame = thermal_lens_frame_new(payload.data(), payload.size(), &length);
	ASSERT_NE(nullptr, frame);
	thermal_lens_frame_seal(frame, 7);
	thermal_lens_frame_seal(frame, 9);
	EXPECT_EQ(std::vector<uint8_t>(frame, frame + length), sealed(payload, 9));
	g_free(frame);
}

TEST(ThermalLensFrame, EmptyOrOversizedPayloadsMakeNoFrame)
{
	std::vector<uint8_t> big(256, 0x10);
	size_t length = 99;
	EXPECT_EQ(nullptr, thermal_lens_frame_new(big.data(), 0, &length));
	EXPECT_EQ(nullptr, thermal_lens_frame_new(big.data(), big.size(), &length));
	EXPECT_EQ(99u, length);
	EXPECT_EQ(255u + 9, sealed(std::vector<uint8_t>(255, 0x10), 1).size());
}

TEST(ThermalLensFrame, AnswerLengthsByCode)
{
	const struct {
		uint8_t code;
		uint8_t length;
	} cases[] = {{0x01, 32}, {0x02, 4}, {0x10, 20}, {0x11, 4}, {0x20, 4},  {0x21, 4},
	             {0x30, 4},  {0x31, 4}, {0x80, 4},  {0x81, 8}, {0x82, 12}, {0x83, 4},
	             {0xFF, 4},  {0x00, 0}, {0x03, 0},  {0x12, 0}, {0x84, 0},  {0xFE, 0}};
	for (const auto &c : cases)
		EXPECT_EQ(c.length, thermal_lens_answer_payload(c.code)) << std::hex << int(c.code);
}

TEST(ThermalLensFov, WideAndTeleEnds)
{
	const struct {
		int32_t zoom;
		uint32_t horizontal, vertical;
	} cases[] = {
	    {16640, 291471, 233472}, // 17.79 and 14.25 degrees
	    {32512, 97157, 77824},   // 5.93 and 4.75 degrees
	};
	for (const auto &c : cases) {
		uint32_t h = 0, v = 0;
		thermal_lens_fov(c.zoom, &h, &v);
		EXPECT_EQ(c.horizontal, h) << c.zoom;
		EXPECT_EQ(c.vertical, v) << c.zoom;
	}
	uint32_t h = 0, v = 0;
	thermal_lens_fov(24576, &h, &v); // magnification 2: twice the tele end
	EXPECT_NEAR(2 * 97157, h, 2);
	EXPECT_NEAR(2 * 77824, v, 2);
}

} // namespace

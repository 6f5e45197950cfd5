// The DSP's 3A statistics as the video driver hands them to the camera
// library, through the parser: any bytes in any buffer, with any channel
// description, must parse or be refused without reading or writing outside
// the static statistics area or the parse result.
//
// Input: a head, then patches.
//   byte 0       channels to walk (1 + b % 4)
//   bytes 1-2    valid flags, bit 4k+c for kind k (rgb, cfa, hist, prehist)
//   54 bytes     the sensor part of the statistics table
//   4 x 4 bytes  CFA gains
//   4 x channel_info
// Each patch: kind and channel (byte), offset in that buffer (u32, wrapped),
// length (u16), then the bytes, cut at the buffer's end.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "aaa_parser.h"

namespace
{

const size_t kKindSize[4] = {QVD_STAT_RGB_SIZE, QVD_STAT_CFA_SIZE, QVD_STAT_HIST_SIZE, QVD_STAT_PREHIST_SIZE};

struct Cursor {
	const uint8_t *p;
	size_t left;
	bool take(void *dst, size_t n)
	{
		if (left < n)
			return false;
		memcpy(dst, p, n);
		p += n;
		left -= n;
		return true;
	}
};

uint8_t *kind_base(const aaa_stat_desc &d, unsigned kind)
{
	void *const base[4] = {d.rgb, d.cfa, d.hist, d.prehist};
	return (uint8_t *)base[kind];
}

uint8_t *kind_flags(const aaa_stat_desc &d, unsigned kind)
{
	uint8_t *const flags[4] = {d.rgb_valid, d.cfa_valid, d.hist_valid, d.prehist_valid};
	return flags[kind];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// Heap blocks of the exact sizes, so that a stray access is caught.
	static std::unique_ptr<uint8_t[]> area(new uint8_t[AAA_STAT_AREA_SIZE]);
	static std::unique_ptr<aaa_parse_out> out(new aaa_parse_out);
	memset(area.get(), 0, AAA_STAT_AREA_SIZE);
	aaa_stat_desc desc;
	aaa_stat_desc_layout(area.get(), &desc);

	Cursor in{data, size};
	uint8_t chans = 0;
	uint16_t valid = 0;
	uint8_t sensor[AAA_SENSOR_DESC_SIZE] = {};
	uint32_t gains[IMG_MAX_CHANNELS] = {4096, 4096, 4096, 4096};
	channel_info info[IMG_MAX_CHANNELS];
	memset(info, 0, sizeof info);
	for (auto &ci : info)
		ci.expo_num = 1;
	if (in.take(&chans, 1) && in.take(&valid, 2) && in.take(sensor, sizeof sensor) &&
	    in.take(gains, sizeof gains))
		in.take(info, sizeof info);

	for (unsigned k = 0; k < 4; k++)
		for (unsigned c = 0; c < QVD_STAT_CHANNELS; c++)
			kind_flags(desc, k)[c] = valid >> (4 * k + c) & 1;

	for (;;) {
		uint8_t sel;
		uint32_t off;
		uint16_t len;
		if (!in.take(&sel, 1) || !in.take(&off, 4) || !in.take(&len, 2))
			break;
		unsigned kind = sel & 3u, chan = (sel >> 2) & 3u;
		size_t room = kKindSize[kind];
		off %= room;
		size_t n = len;
		if (n > in.left)
			n = in.left;
		if (n > room - off)
			n = room - off;
		memcpy(kind_base(desc, kind) + chan * room + off, in.p, n);
		in.p += n;
		in.left -= n;
	}

	parse_aaa_set_channel_num(1 + chans % 4);
	parse_aaa_set_cfa_gain(gains);
	parse_aaa_set_sensor_desc(sensor);
	parse_aaa_data(&desc, info, out.get());
	return 0;
}

// The cpu-proc unit's image parameters: a load's parameter map through the
// unit's load, then a job's crop parameter against the loaded input image.
//
// The input is a list of entries, each: a key byte (its low bits pick one of
// the unit's keys or, past them, a key spelled out by a length byte and the
// text; bit 7 puts the entry in the job's map instead of the load's), a type
// byte (integer, text or integer array, the three values a map can carry)
// and the value: 8 bytes, a length byte and the text, or a count byte and
// 8 bytes per integer.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <exception>
#include <string>
#include <vector>

#include "kalun/backendunit/image_params.h"
#include "kalun/backendunit/libyuv_unit.h"

namespace
{

const char *const keys[] = {
    "image.input.size",  "image.input.format",  "image.input.row-pitch",  "image.input.crop",
    "image.output.size", "image.output.format", "image.output.row-pitch",
};
const size_t key_count = sizeof keys / sizeof keys[0];

kalun::backendunit::LibYuv *unit;

struct Reader {
	const uint8_t *data;
	size_t size;
	size_t at = 0;

	bool byte(uint8_t &out)
	{
		if (at >= size)
			return false;
		out = data[at++];
		return true;
	}
	bool number(int64_t &out)
	{
		if (size - at < 8)
			return false;
		memcpy(&out, data + at, 8);
		at += 8;
		return true;
	}
	bool text(std::string &out)
	{
		uint8_t length;
		if (!byte(length) || size - at < length)
			return false;
		out.assign(reinterpret_cast<const char *>(data + at), length);
		at += length;
		return true;
	}
};

bool read_entry(Reader &in, kalun::ParameterMap &load, kalun::ParameterMap &job)
{
	uint8_t key_byte, type;
	if (!in.byte(key_byte))
		return false;
	std::string key;
	if ((key_byte & 0x7f) < key_count)
		key = keys[key_byte & 0x7f];
	else if (!in.text(key))
		return false;
	if (!in.byte(type))
		return false;
	kalun::ParameterValue value;
	switch (type % 3) {
	case 0: {
		int64_t n;
		if (!in.number(n))
			return false;
		value = n;
		break;
	}
	case 1: {
		std::string s;
		if (!in.text(s))
			return false;
		value = s;
		break;
	}
	default: {
		uint8_t count;
		if (!in.byte(count))
			return false;
		std::vector<int64_t> list(count % 8);
		for (int64_t &n : list)
			if (!in.number(n))
				return false;
		value = list;
	}
	}
	// Of two entries with the same key the first is kept, as on the bus.
	(key_byte & 0x80 ? job : load).emplace(key, value);
	return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	unit = new kalun::backendunit::LibYuv();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	kalun::ParameterMap load, job;
	Reader in{data, size};
	while (read_entry(in, load, job))
		;
	const uint64_t creator = 1;
	try {
		kalun::Model model = unit->loadModel(creator, {}, 2, "fuzz", load);
		const kalun::backendunit::ImageInfo input = kalun::backendunit::parseImageParams(load).first;
		try {
			kalun::backendunit::parseCrop(job, input.width, input.height);
		} catch (const std::exception &) {
		}
		unit->deleteModel(creator, model.getId());
	} catch (const std::exception &) {
		// A refusal is the expected answer to most inputs.
	}
	return 0;
}

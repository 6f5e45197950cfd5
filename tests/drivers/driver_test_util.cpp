#include "driver_test_util.h"

namespace simk
{
void PrintTo(const Access &a, std::ostream *os)
{
	*os << to_string(a);
}
} // namespace simk

int RawDevice::transfer(const i2c_msg &msg)
{
	if (!latency_ms.empty()) {
		simk::advance_ms(latency_ms.front());
		latency_ms.erase(latency_ms.begin());
	}
	if (fail_next > 0) {
		fail_next--;
		return -ENXIO;
	}
	Msg m{msg.flags, {}};
	if (msg.flags & I2C_M_RD) {
		for (int i = 0; i < msg.len; i++)
			msg.buf[i] = i < (int)reply.size() ? reply[i] : 0;
		m.bytes.assign(msg.buf, msg.buf + msg.len);
	} else {
		m.bytes.assign(msg.buf, msg.buf + msg.len);
	}
	msgs.push_back(m);
	return 0;
}

simk::Trace writes_of(const simk::Trace &t)
{
	simk::Trace w;
	for (auto &a : t)
		if (a.op == 'W')
			w.push_back(a);
	return w;
}

uint32_t crc_of_writes(const simk::Trace &t, size_t from, size_t count)
{
	uint32_t crc = 0xFFFFFFFFu;
	auto feed = [&crc](uint8_t b) {
		crc ^= b;
		for (int k = 0; k < 8; k++)
			crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
	};
	for (size_t i = from; i < from + count && i < t.size(); i++) {
		feed((uint8_t)(t[i].reg >> 8));
		feed((uint8_t)t[i].reg);
		feed((uint8_t)(t[i].val >> 8));
		feed((uint8_t)t[i].val);
	}
	return ~crc;
}

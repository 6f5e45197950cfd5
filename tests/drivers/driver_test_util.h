// Helpers shared by the driver tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include <simkernel/chips.h>
#include <simkernel/sim.h>

namespace simk
{
void PrintTo(const Access &a, std::ostream *os);
}

// Records whole messages as they cross the bus, for checks on the exact bytes.
class RawDevice : public simk::I2cDevice
{
      public:
	struct Msg {
		uint16_t flags;
		std::vector<uint8_t> bytes;
	};
	int transfer(const i2c_msg &msg) override;

	std::vector<Msg> msgs;
	int fail_next = 0;                // NAKs this many messages first
	std::vector<uint8_t> reply;       // what reads return
	std::vector<uint64_t> latency_ms; // per message, then none
};

// CRC-32 (as zlib) over the writes, each packed as big-endian 16-bit
// register and value.
uint32_t crc_of_writes(const simk::Trace &t, size_t from, size_t count);

// Only the writes of a trace, as (address, register, value).
simk::Trace writes_of(const simk::Trace &t);

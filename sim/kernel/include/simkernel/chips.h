// Simulated chips on the simulated I2C bus: plain register files that log
// every access, answer scripted values and can be told to fail.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <simkernel/sim.h>

namespace simk
{

struct Access {
	char op;      // 'W' or 'R'
	uint8_t addr; // 8-bit bus address
	uint32_t reg;
	uint32_t val;
	bool operator==(const Access &o) const
	{
		return op == o.op && addr == o.addr && reg == o.reg && val == o.val;
	}
};
std::string to_string(const Access &a);
using Trace = std::vector<Access>;

// 8-bit register address, 8-bit values, auto-increment.
class Reg8Device : public I2cDevice
{
      public:
	Reg8Device(uint8_t addr8, Trace *trace) : addr8_(addr8), trace_(trace) {}
	int transfer(const i2c_msg &msg) override;

	uint8_t reg(uint8_t r) const
	{
		return regs_[r];
	}
	void set_reg(uint8_t r, uint8_t v)
	{
		regs_[r] = v;
	}
	// values that the next reads of r return, in order, before the register
	void script(uint8_t r, std::vector<uint8_t> values);
	void set_id(const char *five); // registers 0xF1..0xF5
	void set_latency_ns(uint64_t ns)
	{
		latency_ns_ = ns;
	}
	uint8_t addr8() const
	{
		return addr8_;
	}

      protected:
	virtual uint8_t read_reg(uint8_t r)
	{
		return regs_[r];
	}
	virtual void write_reg(uint8_t r, uint8_t v)
	{
		regs_[r] = v;
	}

	uint8_t regs_[256] = {};

      private:
	uint8_t addr8_;
	Trace *trace_;
	uint8_t ptr_ = 0;
	uint64_t latency_ns_ = 0;
	std::map<uint8_t, std::deque<uint8_t>> scripted_;
};

// The dual FPD-Link deserializer: the per-port registers 0x4D..0x7F are
// paged by the port-select register 0x4C (bits 5..4 read port, bits 1..0
// write-enabled ports).
class FpdDeserializer : public Reg8Device
{
      public:
	using Reg8Device::Reg8Device;
	uint8_t port_reg(int port, uint8_t r) const
	{
		return pages_[port][r];
	}
	void set_port_reg(int port, uint8_t r, uint8_t v)
	{
		pages_[port][r] = v;
	}

      protected:
	uint8_t read_reg(uint8_t r) override;
	void write_reg(uint8_t r, uint8_t v) override;

      private:
	static bool paged(uint8_t r)
	{
		return r >= 0x4D && r <= 0x7F;
	}
	uint8_t pages_[2][256] = {};
};

// 16-bit register address (big-endian); values of value_width bytes,
// big-endian, auto-incrementing by value_width.
class Reg16Device : public I2cDevice
{
      public:
	Reg16Device(uint8_t addr8, Trace *trace, int value_width = 2)
	    : addr8_(addr8), trace_(trace), width_(value_width)
	{
	}
	int transfer(const i2c_msg &msg) override;

	uint32_t reg(uint16_t r) const;
	void set_reg(uint16_t r, uint32_t v)
	{
		regs_[r] = v;
	}
	void script(uint16_t r, std::vector<uint32_t> values);
	// time that each following transfer takes, one entry per transfer, then
	// the steady latency
	void script_latency_ms(std::vector<uint64_t> ms)
	{
		latency_script_.assign(ms.begin(), ms.end());
	}
	void set_latency_ns(uint64_t ns)
	{
		latency_ns_ = ns;
	}
	void fail_reg(uint16_t r, int err)
	{
		fail_[r] = err;
	}
	size_t writes() const
	{
		return writes_;
	}

      protected:
	virtual uint32_t read_reg(uint16_t r);
	virtual void write_reg(uint16_t r, uint32_t v)
	{
		regs_[r] = v;
	}

	std::map<uint16_t, uint32_t> regs_;

      private:
	void pass_time();

	uint8_t addr8_;
	Trace *trace_;
	int width_;
	uint16_t ptr_ = 0;
	uint64_t latency_ns_ = 0;
	std::deque<uint64_t> latency_script_;
	std::map<uint16_t, std::deque<uint32_t>> scripted_;
	std::map<uint16_t, int> fail_;
	size_t writes_ = 0;
};

} // namespace simk

#include "simkernel/chips.h"

#include <cstdio>

namespace simk
{

std::string to_string(const Access &a)
{
	char buf[64];
	snprintf(buf, sizeof(buf), "%c %02X %04X=%X", a.op, a.addr, a.reg, a.val);
	return buf;
}

void Reg8Device::script(uint8_t r, std::vector<uint8_t> values)
{
	auto &q = scripted_[r];
	q.insert(q.end(), values.begin(), values.end());
}

void Reg8Device::set_id(const char *five)
{
	for (int i = 0; i < 5; i++)
		regs_[0xF1 + i] = (uint8_t)five[i];
}

int Reg8Device::transfer(const i2c_msg &msg)
{
	if (latency_ns_)
		advance_ns(latency_ns_);
	if (msg.flags & I2C_M_RD) {
		for (int i = 0; i < msg.len; i++, ptr_++) {
			uint8_t v;
			auto it = scripted_.find(ptr_);
			if (it != scripted_.end() && !it->second.empty()) {
				v = it->second.front();
				it->second.pop_front();
			} else {
				v = read_reg(ptr_);
			}
			msg.buf[i] = v;
			if (trace_)
				trace_->push_back({'R', addr8_, ptr_, v});
		}
		return 0;
	}
	if (msg.len < 1)
		return 0;
	ptr_ = msg.buf[0];
	for (int i = 1; i < msg.len; i++, ptr_++) {
		write_reg(ptr_, msg.buf[i]);
		if (trace_)
			trace_->push_back({'W', addr8_, ptr_, msg.buf[i]});
	}
	return 0;
}

uint8_t FpdDeserializer::read_reg(uint8_t r)
{
	if (!paged(r))
		return regs_[r];
	return pages_[(regs_[0x4C] >> 4) & 1][r];
}

void FpdDeserializer::write_reg(uint8_t r, uint8_t v)
{
	if (!paged(r)) {
		regs_[r] = v;
		return;
	}
	for (int p = 0; p < 2; p++)
		if (regs_[0x4C] & (1 << p))
			pages_[p][r] = v;
}

uint32_t Reg16Device::reg(uint16_t r) const
{
	auto it = regs_.find(r);
	return it == regs_.end() ? 0 : it->second;
}

void Reg16Device::script(uint16_t r, std::vector<uint32_t> values)
{
	auto &q = scripted_[r];
	q.insert(q.end(), values.begin(), values.end());
}

uint32_t Reg16Device::read_reg(uint16_t r)
{
	auto it = scripted_.find(r);
	if (it != scripted_.end() && !it->second.empty()) {
		uint32_t v = it->second.front();
		it->second.pop_front();
		return v;
	}
	return reg(r);
}

void Reg16Device::pass_time()
{
	if (!latency_script_.empty()) {
		advance_ms(latency_script_.front());
		latency_script_.pop_front();
	} else if (latency_ns_) {
		advance_ns(latency_ns_);
	}
}

int Reg16Device::transfer(const i2c_msg &msg)
{
	pass_time();
	if (msg.flags & I2C_M_RD) {
		auto f = fail_.find(ptr_);
		if (f != fail_.end())
			return f->second;
		for (int i = 0; i + width_ <= msg.len; i += width_) {
			uint32_t v = read_reg(ptr_);
			for (int b = 0; b < width_; b++)
				msg.buf[i + b] = (uint8_t)(v >> (8 * (width_ - 1 - b)));
			if (trace_)
				trace_->push_back({'R', addr8_, ptr_, v});
			ptr_ = (uint16_t)(ptr_ + width_);
		}
		return 0;
	}
	if (msg.len < 2)
		return -EIO;
	ptr_ = (uint16_t)(msg.buf[0] << 8 | msg.buf[1]);
	auto f = fail_.find(ptr_);
	if (f != fail_.end() && msg.len > 2)
		return f->second;
	for (int i = 2; i + width_ <= msg.len; i += width_) {
		uint32_t v = 0;
		for (int b = 0; b < width_; b++)
			v = v << 8 | msg.buf[i + b];
		write_reg(ptr_, v);
		writes_++;
		if (trace_)
			trace_->push_back({'W', addr8_, ptr_, v});
		ptr_ = (uint16_t)(ptr_ + width_);
	}
	return 0;
}

} // namespace simk

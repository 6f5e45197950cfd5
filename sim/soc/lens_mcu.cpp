// The lens controller behind an I2C adapter: see simsoc_lens_mcu.h.
#include "simsoc_lens_mcu.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "i2c_register_device.h"
#include "model_env.h"
#include "simsoc.h"

struct simsoc_lens_mcu;

namespace
{

enum : uint16_t {
	ZOOM_POSITION = 0x100,
	ZOOM_MOVE = 0x101,
	ZOOM_STOP = 0x106,
	INIT = 0x107,
	ZOOM_STATUS = 0x108,
	ZOOM_MOVING = 0x109,
	FOCUS_POSITION = 0x200,
	FOCUS_MOVE = 0x201,
	FOCUS_STOP = 0x206,
	FOCUS_STATUS = 0x208,
	FOCUS_MOVING = 0x209,
	TRACE_MODE = 0x302,
	DISTANCE_INDEX = 0x303,
	TRACE_SET = 0x305,
	IRIS = 0x400,
};

#define STATUS_READY 4

struct Motor {
	int32_t position = 0;
	int32_t target = 0;
	bool moving = false;
	unsigned step = 0;
	bool stalled = false;
};

} // namespace

struct simsoc_lens_mcu : i2c_register_device {
	uint16_t regs[65536] = {};
	Motor motors[2];
	unsigned init_reads = 0;
	unsigned init_busy = 0;
	bool index_written = false;
	simsoc_lens_trace_fn trace = nullptr;
	void *trace_data = nullptr;
	int32_t iris_drift = 0;
	unsigned delay_us = 0;
	std::map<uint16_t, unsigned> reads;
};

namespace
{

using registry = i2c_register_registry<simsoc_lens_mcu>;

Motor &motor_of(simsoc_lens_mcu *m, uint16_t reg)
{
	return m->motors[(reg >> 8) == 2 ? SIMSOC_LENS_FOCUS : SIMSOC_LENS_ZOOM];
}

void follow_trace(simsoc_lens_mcu *m)
{
	if (!m->trace || !m->index_written || m->regs[TRACE_MODE] == 0)
		return;
	Motor &focus = m->motors[SIMSOC_LENS_FOCUS];
	focus.position = m->trace(m->trace_data, m->motors[SIMSOC_LENS_ZOOM].position,
	                          (int16_t)m->regs[DISTANCE_INDEX], m->regs[TRACE_SET]);
	focus.target = focus.position;
	focus.moving = false;
}

void step(simsoc_lens_mcu *m, Motor &motor, bool zoom)
{
	if (!motor.moving || motor.stalled)
		return;
	int32_t left = motor.target - motor.position;
	int32_t n = (int32_t)motor.step;
	if (n == 0 || (left >= 0 ? left : -left) <= n)
		motor.position = motor.target;
	else
		motor.position += left > 0 ? n : -n;
	motor.moving = motor.position != motor.target;
	if (zoom)
		follow_trace(m);
}

void start_move(Motor &motor, int32_t target)
{
	motor.target = target;
	motor.moving = target != motor.position;
}

uint16_t value_of(simsoc_lens_mcu *m, uint16_t reg)
{
	switch (reg) {
	case ZOOM_POSITION:
	case FOCUS_POSITION:
		return (uint16_t)motor_of(m, reg).position;
	case ZOOM_MOVING:
	case FOCUS_MOVING:
		return motor_of(m, reg).moving ? 1 : 0;
	case INIT:
		return m->init_busy ? 1 : 0;
	case IRIS: {
		int32_t v = m->regs[IRIS] + m->iris_drift;
		return (uint16_t)(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v);
	}
	default:
		return m->regs[reg];
	}
}

void finish_init(simsoc_lens_mcu *m)
{
	m->regs[ZOOM_STATUS] = STATUS_READY;
	m->regs[FOCUS_STATUS] = STATUS_READY;
}

uint16_t answer_read(simsoc_lens_mcu *m, uint16_t reg)
{
	uint16_t v = value_of(m, reg);
	m->reads[reg]++;
	if (reg == INIT && m->init_busy && --m->init_busy == 0)
		finish_init(m);
	return v;
}

void take_write(simsoc_lens_mcu *m, uint16_t reg, uint16_t value)
{
	char line[32];
	snprintf(line, sizeof(line), "0x%03x=%u", reg, value);
	m->writes.push_back(line);
	m->regs[reg] = value;
	switch (reg) {
	case ZOOM_MOVE:
	case FOCUS_MOVE:
		start_move(motor_of(m, reg), value);
		break;
	case ZOOM_STOP:
	case FOCUS_STOP: {
		Motor &motor = motor_of(m, reg);
		motor.target = motor.position;
		motor.moving = false;
		break;
	}
	case INIT:
		if (value == 1) {
			m->regs[ZOOM_STATUS] = 0;
			m->regs[FOCUS_STATUS] = 0;
			m->init_busy = m->init_reads;
			if (!m->init_busy)
				finish_init(m);
		}
		break;
	case DISTANCE_INDEX:
		m->index_written = true;
		follow_trace(m);
		break;
	}
}

int refuse(simsoc_lens_mcu *m, int read, const uint8_t *buf, size_t len)
{
	return i2c_register_refuse(m, "lens-mcu", read, buf, len);
}

int transfer(void *client, int read, uint8_t *buf, size_t len)
{
	auto *m = static_cast<simsoc_lens_mcu *>(client);
	unsigned delay_us;
	{
		std::lock_guard<std::mutex> lk(m->mu);
		delay_us = m->delay_us;
	}
	if (delay_us)
		usleep(delay_us);
	std::lock_guard<std::mutex> lk(m->mu);
	if (read) {
		if (len != 2 || m->read_pointer < 0)
			return refuse(m, read, buf, len);
		uint16_t reg = (uint16_t)m->read_pointer;
		m->read_pointer = -1;
		uint16_t v = answer_read(m, reg);
		buf[0] = (uint8_t)(v & 0xFF);
		buf[1] = (uint8_t)(v >> 8);
		return 0;
	}
	uint16_t reg = len >= 2 ? (uint16_t)((buf[0] & 0x7F) << 8 | buf[1]) : 0;
	bool read_mark = len >= 1 && (buf[0] & 0x80);
	if (len == 2 && read_mark) {
		if (int err = i2c_register_fault(m, reg, 1))
			return -err;
		m->read_pointer = reg;
		return 0;
	}
	if (len != 4 || read_mark)
		return refuse(m, read, buf, len);
	m->read_pointer = -1;
	if (int err = i2c_register_fault(m, reg, 0))
		return -err;
	take_write(m, reg, (uint16_t)(buf[2] | buf[3] << 8));
	return 0;
}

// "reg=value,reg=value,..." as in the header.
void set_from_env(void *lens, uint16_t reg, uint16_t value)
{
	simsoc_lens_mcu_set(static_cast<simsoc_lens_mcu *>(lens), reg, value);
}

__attribute__((constructor)) void lens_mcu_from_env()
{
	uint32_t where[2] = {};
	if (simsoc_env_numbers("SIMSOC_LENS_MCU", where, 2) < 1)
		return;
	simsoc_lens_mcu *m = simsoc_lens_mcu_add(where[0], (uint8_t)where[1]);
	simsoc_env_registers("SIMSOC_LENS_MCU_REGS", set_from_env, m);
	uint32_t reads = 0;
	if (simsoc_env_numbers("SIMSOC_LENS_MCU_INIT_READS", &reads, 1) == 1)
		simsoc_lens_mcu_set_init_reads(m, reads);
}

} // namespace

extern "C" simsoc_lens_mcu *simsoc_lens_mcu_add(unsigned bus, uint8_t addr)
{
	if (addr == 0)
		addr = SIMSOC_LENS_MCU_ADDRESS;
	auto *m = new simsoc_lens_mcu();
	m->bus = bus;
	m->addr = addr;
	return registry::add(m, transfer);
}

extern "C" void simsoc_lens_mcu_reset(void)
{
	registry::reset();
}

extern "C" uint16_t simsoc_lens_mcu_get(simsoc_lens_mcu *m, uint16_t reg)
{
	std::lock_guard<std::mutex> lk(m->mu);
	return value_of(m, reg);
}

extern "C" void simsoc_lens_mcu_set(simsoc_lens_mcu *m, uint16_t reg, uint16_t value)
{
	std::lock_guard<std::mutex> lk(m->mu);
	if (reg == ZOOM_POSITION || reg == FOCUS_POSITION) {
		Motor &motor = motor_of(m, reg);
		motor.position = motor.target = value;
		motor.moving = false;
		return;
	}
	m->regs[reg] = value;
}

extern "C" char *simsoc_lens_mcu_writes(simsoc_lens_mcu *m)
{
	return i2c_register_writes(m);
}

extern "C" void simsoc_lens_mcu_clear_writes(simsoc_lens_mcu *m)
{
	i2c_register_clear_writes(m);
}

extern "C" unsigned simsoc_lens_mcu_reads(simsoc_lens_mcu *m, uint16_t reg)
{
	std::lock_guard<std::mutex> lk(m->mu);
	auto it = m->reads.find(reg);
	return it == m->reads.end() ? 0 : it->second;
}

extern "C" char *simsoc_lens_mcu_errors(simsoc_lens_mcu *m)
{
	return i2c_register_errors(m);
}

extern "C" void simsoc_lens_mcu_set_init_reads(simsoc_lens_mcu *m, unsigned reads)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->init_reads = reads;
}

extern "C" void simsoc_lens_mcu_set_step(simsoc_lens_mcu *m, int motor, unsigned steps)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->motors[motor == SIMSOC_LENS_FOCUS].step = steps;
}

extern "C" void simsoc_lens_mcu_stall(simsoc_lens_mcu *m, int motor, int stalled)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->motors[motor == SIMSOC_LENS_FOCUS].stalled = stalled != 0;
}

extern "C" void simsoc_lens_mcu_tick(simsoc_lens_mcu *m, unsigned ticks)
{
	std::lock_guard<std::mutex> lk(m->mu);
	for (unsigned i = 0; i < ticks; i++) {
		step(m, m->motors[SIMSOC_LENS_ZOOM], true);
		step(m, m->motors[SIMSOC_LENS_FOCUS], false);
	}
}

extern "C" void simsoc_lens_mcu_set_trace(simsoc_lens_mcu *m, simsoc_lens_trace_fn fn, void *data)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->trace = fn;
	m->trace_data = data;
}

extern "C" void simsoc_lens_mcu_set_iris_drift(simsoc_lens_mcu *m, int32_t drift)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->iris_drift = drift;
}

extern "C" void simsoc_lens_mcu_fail(simsoc_lens_mcu *m, uint16_t reg, int direction, int err)
{
	i2c_register_fail(m, reg, direction == SIMSOC_LENS_READ, err);
}

extern "C" void simsoc_lens_mcu_set_delay(simsoc_lens_mcu *m, unsigned delay_us)
{
	std::lock_guard<std::mutex> lk(m->mu);
	m->delay_us = delay_us;
}
